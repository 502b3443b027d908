#include "platform/linux/scan/host_disks.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>

#include "platform/linux/scan/decode.h"
#include "platform/linux/scan/probe.h"
#include "platform/linux/scan/scan.h"

namespace pbaloader::host {
namespace {

namespace fs = std::filesystem;

using DevNumber = std::pair<std::uint32_t, std::uint32_t>;

std::uint64_t toNumber(const std::string& text, int base = 10) {
  std::string_view s = text;
  if (base == 16 && s.starts_with("0x")) s.remove_prefix(2);
  std::uint64_t v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v, base);
  return r.ec == std::errc() ? v : 0;
}

class Scanner {
 public:
  Scanner(SysfsSource& sys, const ScanRoots& roots) : sys_(sys), roots_(roots) {
    block_ = sys_.blockDevices();
    for (std::size_t i = 0; i < block_.size(); ++i) {
      byName_[block_[i].sysname] = i;
      if (auto dev = parseDevNumber(text(block_[i], "dev"))) byDev_[*dev] = i;
    }
    std::ifstream in(roots_.mountInfo);
    mounts_ = parseMountInfo(
        std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    findRootDisks();
  }

  std::vector<HostDisk> scan() {
    std::vector<std::pair<DiskNameKey, HostDisk>> found;
    for (const auto& node : block_) {
      if (node.devtype != "disk") continue;
      auto key = wholeDiskName(node.sysname);
      if (!key || text(node, "hidden") == "1") continue;
      // A reader without a medium has nothing to write to, nor to probe.
      if (toNumber(text(node, "size")) == 0) continue;
      found.emplace_back(std::move(*key), describe(node));
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<HostDisk> disks;
    for (auto& [key, disk] : found) disks.push_back(std::move(disk));
    return disks;
  }

 private:
  std::string text(const SysNode& node, const std::string& name) {
    return trimmed(sys_.attribute(node, name).value_or(""));
  }

  std::vector<SysNode> ancestry(const SysNode& node) {
    std::vector<SysNode> chain;
    for (auto p = sys_.parent(node); p && chain.size() < 64; p = sys_.parent(*p))
      chain.push_back(*p);
    return chain;
  }

  static bool any(const std::vector<SysNode>& chain,
                  std::initializer_list<const char*> subsystems) {
    return std::any_of(chain.begin(), chain.end(), [&](const SysNode& n) {
      return std::any_of(subsystems.begin(), subsystems.end(),
                         [&](const char* s) { return n.subsystem == s; });
    });
  }

  // libata puts an ata port (ata1, no subsystem of its own) above the SCSI
  // host it emulates; its host adapters carry the libata driver names.
  bool behindLibata(const std::vector<SysNode>& chain) {
    static const std::regex port("ata[0-9]+");
    static const std::regex driver("ahci|ata_.*|sata_.*|pata_.*");
    for (const auto& n : chain) {
      if (n.devtype == "ata_port" || std::regex_match(n.sysname, port)) return true;
      if (n.devtype == "scsi_host" &&
          std::regex_match(text(n, "scsi_host/" + n.sysname + "/proc_name"), driver)) {
        return true;
      }
    }
    return false;
  }

  HostDisk describe(const SysNode& node) {
    HostDisk d;
    d.name = node.sysname;
    d.node = (roots_.dev / node.sysname).string();
    if (auto dev = parseDevNumber(text(node, "dev"))) std::tie(d.major, d.minor) = *dev;
    d.size = toNumber(text(node, "size")) * 512;
    if (auto n = toNumber(text(node, "queue/logical_block_size"))) d.logicalSectorSize = n;
    if (auto n = toNumber(text(node, "queue/physical_block_size"))) d.physicalSectorSize = n;
    d.removable = text(node, "removable") == "1";
    d.holdsRoot = rootDisks_.count(node.sysname) > 0;

    const auto chain = ancestry(node);
    // A USB bridge wins over whatever protocol runs through it.
    if (any(chain, {"usb"})) {
      d.bus = Bus::Usb;
    } else if (any(chain, {"nvme", "nvme-subsystem"})) {
      d.bus = Bus::Nvme;
    } else if (any(chain, {"mmc"})) {
      d.bus = Bus::Mmc;
    } else if (any(chain, {"scsi"})) {
      // virtio-scsi disks land here too: SCSI through a virtio adapter.
      d.usesLibata = behindLibata(chain);
      d.bus = d.usesLibata ? Bus::Ata : Bus::Scsi;
    } else if (any(chain, {"virtio"})) {
      d.bus = Bus::Virtio;
    }
    identify(node, chain, d);
    readLayout(node, d);
    return d;
  }

  void identify(const SysNode& node, const std::vector<SysNode>& chain, HostDisk& d) {
    switch (d.bus) {
      case Bus::Usb:
      case Bus::Ata:
      case Bus::Scsi: {
        d.vendor = text(node, "device/vendor");
        d.model = text(node, "device/model");
        d.revision = text(node, "device/rev");
        d.firmware = d.revision;
        d.serial = vpdUnitSerial(readBinaryAttribute(node, "device/vpd_pg80").value_or(""));
        // The SCSI model of an ATA drive is cut to 16 characters; IDENTIFY
        // has it whole, and the firmware revision whole.
        if (d.bus == Bus::Ata) {
          if (auto id = vpdAtaIdentity(readBinaryAttribute(node, "device/vpd_pg89").value_or(""))) {
            if (!id->model.empty()) d.model = id->model;
            if (!id->serial.empty()) d.serial = id->serial;
            if (!id->firmware.empty()) d.firmware = id->firmware;
          }
        }
        break;
      }
      case Bus::Nvme:
        d.model = text(node, "device/model");
        d.serial = text(node, "device/serial");
        d.firmware = text(node, "device/firmware_rev");
        break;
      case Bus::Mmc:
        d.vendor = text(node, "device/manfid");
        d.model = text(node, "device/name");
        d.serial = text(node, "device/serial");
        d.firmware = text(node, "device/fwrev");
        break;
      case Bus::Virtio:
        d.serial = text(node, "serial");
        break;
      case Bus::Other:
        break;
    }
    if (d.bus != Bus::Usb) return;
    auto usb = std::find_if(chain.begin(), chain.end(),
                            [](const SysNode& n) { return n.devtype == "usb_device"; });
    if (usb == chain.end()) return;
    d.usbVendorId = usbId(*usb, "idVendor");
    d.usbProductId = usbId(*usb, "idProduct");
    d.usbSerial = text(*usb, "serial");
  }

  std::optional<std::uint16_t> usbId(const SysNode& usb, const char* name) {
    auto id = sys_.attribute(usb, name);
    if (!id) return std::nullopt;
    return static_cast<std::uint16_t>(toNumber(trimmed(*id), 16));
  }

  std::vector<const SysNode*> kernelPartitions(const SysNode& disk) {
    std::vector<const SysNode*> parts;
    for (const auto& n : block_) {
      if (n.devtype == "partition" && fs::path(n.syspath).parent_path() == fs::path(disk.syspath)) {
        parts.push_back(&n);
      }
    }
    return parts;
  }

  void readLayout(const SysNode& node, HostDisk& d) {
    auto probed = probeDisk(roots_.dev / node.sysname);
    if (probed) {
      d.fsType = probed->fsType;
      if (probed->tableType == "dos") {
        d.partitionStyle = "mbr";
        d.mbrSignature = static_cast<std::uint32_t>(toNumber(probed->tableId, 16));
      } else if (probed->tableType == "gpt") {
        d.partitionStyle = "gpt";
        d.gptDiskId = probed->tableId;
      }
      if (d.partitionStyle != "none") {
        for (auto& p : probed->partitions) {
          HostPartition part;
          part.number = p.number;
          part.start = p.start;
          part.length = p.length;
          part.type = std::move(p.type);
          part.uuid = std::move(p.uuid);
          part.name = std::move(p.name);
          part.fsType = std::move(p.fsType);
          d.partitions.push_back(std::move(part));
        }
      }
    }
    d.mountPoints = mountPointsOf(node);
    d.holders = listEntries(node, "holders");
    // The kernel's partitions stay in the list even where the table says
    // otherwise or cannot be read: what is mounted on them must show.
    std::map<std::uint32_t, const SysNode*> kernel;
    for (const SysNode* p : kernelPartitions(node)) {
      kernel[static_cast<std::uint32_t>(toNumber(text(*p, "partition")))] = p;
    }
    for (const auto& [number, p] : kernel) {
      auto known = std::find_if(d.partitions.begin(), d.partitions.end(),
                                [n = number](const HostPartition& hp) { return hp.number == n; });
      if (known == d.partitions.end()) {
        HostPartition part;
        part.number = number;
        part.start = toNumber(text(*p, "start")) * 512;
        part.length = toNumber(text(*p, "size")) * 512;
        d.partitions.push_back(std::move(part));
      }
    }
    std::sort(d.partitions.begin(), d.partitions.end(),
              [](const auto& a, const auto& b) { return a.number < b.number; });
    const bool digitLast =
        !d.name.empty() && std::isdigit(static_cast<unsigned char>(d.name.back()));
    for (auto& part : d.partitions) {
      auto k = kernel.find(part.number);
      std::string name = k != kernel.end()
                             ? k->second->sysname
                             : d.name + (digitLast ? "p" : "") + std::to_string(part.number);
      part.node = (roots_.dev / name).string();
      if (k != kernel.end()) {
        part.mountPoints = mountPointsOf(*k->second);
        for (auto& h : listEntries(*k->second, "holders")) d.holders.push_back(std::move(h));
      }
    }
    std::sort(d.holders.begin(), d.holders.end());
    d.holders.erase(std::unique(d.holders.begin(), d.holders.end()), d.holders.end());
  }

  // File systems without a device number of their own (btrfs shows an
  // anonymous 0:n) are found through the source the mount names.
  std::optional<std::size_t> deviceOf(const MountEntry& m) {
    if (m.major != 0) {
      auto it = byDev_.find({m.major, m.minor});
      return it == byDev_.end() ? std::nullopt : std::optional(it->second);
    }
    if (m.source.starts_with("/dev/mapper/")) {
      const std::string dmName = m.source.substr(12);
      for (std::size_t i = 0; i < block_.size(); ++i) {
        if (text(block_[i], "dm/name") == dmName) return i;
      }
      return std::nullopt;
    }
    if (m.source.starts_with("/dev/") && m.source.find('/', 5) == std::string::npos) {
      auto it = byName_.find(m.source.substr(5));
      if (it != byName_.end()) return it->second;
    }
    return std::nullopt;
  }

  std::vector<std::string> mountPointsOf(const SysNode& node) {
    std::vector<std::string> points;
    for (const auto& m : mounts_) {
      auto i = deviceOf(m);
      if (i && block_[*i].syspath == node.syspath) points.push_back(m.mountPoint);
    }
    return points;
  }

  // The root is the last file system mounted on "/"; an initramfs (rootfs,
  // tmpfs) or an overlay has no disk under it.
  void findRootDisks() {
    auto root = std::find_if(mounts_.rbegin(), mounts_.rend(),
                             [](const MountEntry& m) { return m.mountPoint == "/"; });
    if (root == mounts_.rend()) return;
    if (auto i = deviceOf(*root)) markRoot(block_[*i], 0);
  }

  // Down through partitions and stacked devices (dm, md, LVM) to every
  // whole disk beneath.
  void markRoot(const SysNode& node, int depth) {
    if (depth > 16) return;
    if (node.devtype == "partition") {
      const fs::path diskPath = fs::path(node.syspath).parent_path();
      for (const auto& n : block_) {
        if (fs::path(n.syspath) == diskPath) return markRoot(n, depth + 1);
      }
      return;
    }
    const auto slaves = listEntries(node, "slaves");
    for (const auto& s : slaves) {
      auto it = byName_.find(s);
      if (it != byName_.end()) markRoot(block_[it->second], depth + 1);
    }
    // A whole disk counts itself even where something is listed beneath it.
    if (slaves.empty() || wholeDiskName(node.sysname)) rootDisks_.insert(node.sysname);
  }

  SysfsSource& sys_;
  const ScanRoots& roots_;
  std::vector<SysNode> block_;
  std::map<std::string, std::size_t> byName_;
  std::map<DevNumber, std::size_t> byDev_;
  std::vector<MountEntry> mounts_;
  std::set<std::string> rootDisks_;
};

}  // namespace

std::vector<HostDisk> scanDisks(SysfsSource& sys, const ScanRoots& roots) {
  return Scanner(sys, roots).scan();
}

std::vector<HostDisk> scanHostDisks(const ScanRoots& roots) {
  // libudev knows only the live tree; a recorded one is read as files.
  auto sys = roots.sys == "/sys" ? makeUdevSource() : makeTreeSource(roots.sys);
  return scanDisks(*sys, roots);
}

}  // namespace pbaloader::host
