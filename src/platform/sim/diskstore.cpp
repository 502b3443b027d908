#include "platform/sim/diskstore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <unordered_map>

namespace pbaloader::sim {
namespace {

bool inside(std::uint64_t diskSize, std::uint64_t offset, std::size_t length) {
  return offset <= diskSize && length <= diskSize - offset;
}

// Pages are allocated on first write; a 16 GiB disk that is never written
// costs a few bytes, and a 256 MiB load costs 256 MiB.
class MemoryStore final : public DiskStore {
 public:
  explicit MemoryStore(std::uint64_t size) : size_(size) {}
  std::uint64_t size() const override { return size_; }

  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (!inside(size_, offset, length)) return false;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (length > 0) {
      const std::uint64_t index = offset / PageSize;
      const std::size_t within = static_cast<std::size_t>(offset % PageSize);
      const std::size_t n = std::min(length, PageSize - within);
      if (const Page* page = find(index))
        std::memcpy(out, page->data() + within, n);
      else
        std::memset(out, 0, n);
      out += n;
      offset += n;
      length -= n;
    }
    return true;
  }

  bool write(std::uint64_t offset, const void* buffer, std::size_t length) override {
    if (!inside(size_, offset, length)) return false;
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    while (length > 0) {
      const std::uint64_t index = offset / PageSize;
      const std::size_t within = static_cast<std::size_t>(offset % PageSize);
      const std::size_t n = std::min(length, PageSize - within);
      std::memcpy(obtain(index).data() + within, in, n);
      in += n;
      offset += n;
      length -= n;
    }
    return true;
  }

 private:
  static constexpr std::size_t PageSize = 64 * 1024;
  using Page = std::array<std::uint8_t, PageSize>;

  const Page* find(std::uint64_t index) {
    if (index == lastIndex_ && last_ != nullptr) return last_;
    auto it = pages_.find(index);
    if (it == pages_.end()) return nullptr;
    lastIndex_ = index;
    last_ = it->second.get();
    return last_;
  }

  Page& obtain(std::uint64_t index) {
    if (index == lastIndex_ && last_ != nullptr) return *last_;
    auto& slot = pages_[index];
    if (!slot) slot = std::make_unique<Page>();  // value-initialised: zeros
    lastIndex_ = index;
    last_ = slot.get();
    return *last_;
  }

  std::uint64_t size_;
  std::unordered_map<std::uint64_t, std::unique_ptr<Page>> pages_;
  std::uint64_t lastIndex_ = 0;
  Page* last_ = nullptr;
};

// The disk's bytes in a host file. Parts of the disk beyond the host file's
// end read as zeros, so an existing shorter file is used as it is.
class FileStore final : public DiskStore {
 public:
  FileStore(const std::filesystem::path& path, std::uint64_t size) : size_(size) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0 && errno == ENOENT) {
      fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        const int saved = errno;
        ::close(fd_);
        throw std::system_error(saved, std::generic_category(),
                                "cannot size disk backing file " + path.string());
      }
    }
    if (fd_ < 0)
      throw std::system_error(errno, std::generic_category(),
                              "cannot open disk backing file " + path.string());
  }
  ~FileStore() override { ::close(fd_); }
  std::uint64_t size() const override { return size_; }

  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (!inside(size_, offset, length)) return false;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (length > 0) {
      const ssize_t n = ::pread(fd_, out, length, static_cast<off_t>(offset));
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (n == 0) {  // past the host file's end
        std::memset(out, 0, length);
        return true;
      }
      out += n;
      offset += static_cast<std::uint64_t>(n);
      length -= static_cast<std::size_t>(n);
    }
    return true;
  }

  bool write(std::uint64_t offset, const void* buffer, std::size_t length) override {
    if (!inside(size_, offset, length)) return false;
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    while (length > 0) {
      const ssize_t n = ::pwrite(fd_, in, length, static_cast<off_t>(offset));
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      in += n;
      offset += static_cast<std::uint64_t>(n);
      length -= static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  std::uint64_t size_;
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<DiskStore> DiskStore::memory(std::uint64_t size) {
  return std::make_unique<MemoryStore>(size);
}

std::unique_ptr<DiskStore> DiskStore::file(const std::filesystem::path& path, std::uint64_t size) {
  return std::make_unique<FileStore>(path, size);
}

}  // namespace pbaloader::sim
