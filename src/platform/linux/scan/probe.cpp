#include "platform/linux/scan/probe.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace pbaloader::host {
namespace {

std::string lower(const char* s) {
  std::string out = s ? s : "";
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

class Probe {
 public:
  Probe(int fd, std::uint64_t offset, std::uint64_t size) : probe_(blkid_new_probe()) {
    if (probe_ && blkid_probe_set_device(probe_, fd, static_cast<blkid_loff_t>(offset),
                                         static_cast<blkid_loff_t>(size)) != 0) {
      blkid_free_probe(probe_);
      probe_ = nullptr;
    }
  }
  ~Probe() {
    if (probe_) blkid_free_probe(probe_);
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;
  blkid_probe get() const { return probe_; }

  // The file system or other signature; empty when none or when several
  // contradict each other (libblkid's safe probe refuses to guess).
  std::string signature() {
    if (!probe_) return {};
    blkid_probe_enable_partitions(probe_, 0);
    blkid_probe_enable_superblocks(probe_, 1);
    blkid_probe_set_superblocks_flags(probe_, BLKID_SUBLKS_TYPE);
    const char* type = nullptr;
    if (blkid_do_safeprobe(probe_) == 0 &&
        blkid_probe_lookup_value(probe_, "TYPE", &type, nullptr) == 0 && type) {
      return type;
    }
    return {};
  }

 private:
  blkid_probe probe_;
};

class Fd {
 public:
  explicit Fd(const std::filesystem::path& p) : fd_(::open(p.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<ProbedDisk> probeDisk(const std::filesystem::path& node) {
  Fd fd(node);
  if (fd.get() < 0) return std::nullopt;
  ProbedDisk disk;
  {
    Probe probe(fd.get(), 0, 0);
    if (!probe.get()) return std::nullopt;
    blkid_probe_enable_partitions(probe.get(), 1);
    blkid_probe_set_partitions_flags(probe.get(), BLKID_PARTS_ENTRY_DETAILS);
    blkid_partlist list = blkid_probe_get_partitions(probe.get());
    blkid_parttable table = list ? blkid_partlist_get_table(list) : nullptr;
    if (table) {
      disk.tableType = blkid_parttable_get_type(table) ? blkid_parttable_get_type(table) : "";
      disk.tableId = lower(blkid_parttable_get_id(table));
      const bool gpt = disk.tableType == "gpt";
      const int count = blkid_partlist_numof_partitions(list);
      for (int i = 0; i < count; ++i) {
        blkid_partition p = blkid_partlist_get_partition(list, i);
        if (!p) continue;
        ProbedPartition part;
        part.number = static_cast<std::uint32_t>(std::max(0, blkid_partition_get_partno(p)));
        // libblkid counts in 512-byte units whatever the disk's sector size.
        part.start = static_cast<std::uint64_t>(blkid_partition_get_start(p)) * 512;
        part.length = static_cast<std::uint64_t>(blkid_partition_get_size(p)) * 512;
        if (gpt) {
          part.type = lower(blkid_partition_get_type_string(p));
          part.uuid = lower(blkid_partition_get_uuid(p));
          part.name = blkid_partition_get_name(p) ? blkid_partition_get_name(p) : "";
        } else {
          char hex[8];
          std::snprintf(hex, sizeof hex, "0x%02x", blkid_partition_get_type(p) & 0xff);
          part.type = hex;
        }
        disk.partitions.push_back(std::move(part));
      }
    }
  }
  disk.fsType = Probe(fd.get(), 0, 0).signature();
  for (auto& part : disk.partitions) {
    if (part.length > 0) part.fsType = Probe(fd.get(), part.start, part.length).signature();
  }
  std::sort(disk.partitions.begin(), disk.partitions.end(),
            [](const auto& a, const auto& b) { return a.number < b.number; });
  return disk;
}

}  // namespace pbaloader::host
