#include "platform/linux/block_store.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/sim/files.h"
#include "platform/winconst.h"

namespace pbaloader::host {
namespace {

constexpr std::size_t Alignment = 4096;
constexpr std::size_t BounceSize = 1 << 20;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

class BlockStore final : public sim::DiskStore {
 public:
  explicit BlockStore(BlockStoreOptions options) : o_(std::move(options)) {
    nodes_ = o_.partitionNodes;
    nodes_.push_back(o_.node);
  }
  ~BlockStore() override {
    for (int fd : exclusive_) ::close(fd);
    if (fd_ >= 0) ::close(fd_);
  }

  std::uint64_t size() const override { return o_.size; }

  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (!inside(offset, length) || !aligned(offset, length) || !open()) return false;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (length > 0) {
      const std::size_t n = std::min(length, BounceSize);
      if (!transfer(false, offset, n)) return false;
      std::memcpy(out, bounce_.get(), n);
      out += n;
      offset += n;
      length -= n;
    }
    return true;
  }

  bool write(std::uint64_t offset, const void* buffer, std::size_t length) override {
    if (!inside(offset, length) || !aligned(offset, length) || !o_.writable) return false;
    // Open writers looked at the mount table when they opened; the utility
    // writes without a handle.
    const bool mounted = writers_ > 0 ? mountedAtClaim_ : anyMounted(o_.mountInfo, nodes_);
    if (mounted || !open() || readOnly_) return false;
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    while (length > 0) {
      const std::size_t n = std::min(length, BounceSize);
      std::memcpy(bounce_.get(), in, n);
      if (!transfer(true, offset, n)) return false;
      in += n;
      offset += n;
      length -= n;
    }
    return true;
  }

  std::uint32_t claim(std::uint32_t access, std::uint32_t share) override {
    if (wantsWrite(access) && !o_.writable) return win::ErrorAccessDenied;
    if (share == 0) {
      // No sharing: nobody else may hold the device while this handle lives.
      const int fd = ::open(o_.node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC | O_NONBLOCK);
      if (fd < 0) return sim::windowsErrorOfErrno(errno);
      exclusive_.push_back(fd);
    }
    if (wantsWrite(access) && writers_++ == 0) mountedAtClaim_ = anyMounted(o_.mountInfo, nodes_);
    return 0;
  }

  void release(std::uint32_t access, std::uint32_t share) override {
    // What was written reaches the medium before the next holder comes.
    if (wantsWrite(access)) {
      if (fd_ >= 0 && !readOnly_) ::fdatasync(fd_);
      if (writers_ > 0) --writers_;
    }
    if (share == 0 && !exclusive_.empty()) {
      ::close(exclusive_.back());
      exclusive_.pop_back();
    }
  }

  bool partitionsWiped() override {
    if (!open() || readOnly_) return false;
    ::fdatasync(fd_);
    // A device that cannot be partitioned (a loop device without partition
    // scanning) has no partitions for the kernel to drop.
    return ::ioctl(fd_, BLKRRPART) == 0 || errno == EINVAL;
  }

 private:
  static bool wantsWrite(std::uint32_t access) {
    return (access & (win::GenericWrite | 0x10000000u /* GENERIC_ALL */)) != 0;
  }
  bool inside(std::uint64_t offset, std::size_t length) const {
    return offset <= o_.size && length <= o_.size - offset;
  }
  bool aligned(std::uint64_t offset, std::size_t length) const {
    return offset % o_.sectorSize == 0 && length % o_.sectorSize == 0;
  }

  bool open() {
    if (fd_ >= 0) return true;
    if (!bounce_) {
      void* p = nullptr;
      if (::posix_memalign(&p, Alignment, BounceSize) != 0) return false;
      bounce_.reset(static_cast<std::uint8_t*>(p));
    }
    if (o_.writable) fd_ = ::open(o_.node.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
    if (fd_ < 0) {
      fd_ = ::open(o_.node.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
      readOnly_ = true;
    }
    return fd_ >= 0;
  }

  bool transfer(bool writing, std::uint64_t offset, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
      const ssize_t n = writing ? ::pwrite(fd_, bounce_.get() + done, length - done,
                                           static_cast<off_t>(offset + done))
                                : ::pread(fd_, bounce_.get() + done, length - done,
                                          static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  BlockStoreOptions o_;
  std::vector<std::string> nodes_;
  int fd_ = -1;
  bool readOnly_ = false;
  std::vector<int> exclusive_;
  int writers_ = 0;  // open handles that may write
  bool mountedAtClaim_ = false;
  std::unique_ptr<std::uint8_t[], FreeDeleter> bounce_;
};

}  // namespace

bool anyMounted(const std::string& mountInfo, const std::vector<std::string>& nodes) {
  std::set<std::string> numbers;
  for (const auto& node : nodes) {
    struct stat st {};
    if (::stat(node.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
      numbers.insert(std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
  }
  std::ifstream in(mountInfo);
  std::string line;
  while (std::getline(in, line)) {
    // mount ID, parent ID, major:minor, ...; then " - ", the type and the source.
    std::istringstream fields(line);
    std::string id, parent, number;
    fields >> id >> parent >> number;
    if (numbers.count(number) != 0) return true;
    const auto dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string type, source;
    tail >> type >> source;
    if (std::find(nodes.begin(), nodes.end(), source) != nodes.end()) return true;
  }
  return false;
}

std::unique_ptr<sim::DiskStore> openBlockStore(const BlockStoreOptions& options) {
  return std::make_unique<BlockStore>(options);
}

}  // namespace pbaloader::host
