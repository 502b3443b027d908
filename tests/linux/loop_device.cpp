#include "linux/loop_device.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace pbaloader::testing {

LoopDevice::LoopDevice(std::uint64_t size) : size_(size) {
  if (::geteuid() != 0) {
    reason_ = "loop devices need root";
    return;
  }
  static std::atomic<unsigned> counter{0};
  // /var/tmp lies on a disk file system; a loop device over tmpfs works too.
  backing_ = std::filesystem::temp_directory_path() /
             ("pba-loop-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  const int file = ::open(backing_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (file < 0 || ::ftruncate(file, static_cast<off_t>(size)) != 0) {
    reason_ = std::string("cannot make the backing file: ") + std::strerror(errno);
    if (file >= 0) ::close(file);
    return;
  }
  const int control = ::open("/dev/loop-control", O_RDWR | O_CLOEXEC);
  const int number = control < 0 ? -1 : ::ioctl(control, LOOP_CTL_GET_FREE);
  if (control >= 0) ::close(control);
  if (number < 0) {
    reason_ = std::string("no free loop device: ") + std::strerror(errno);
    ::close(file);
    return;
  }
  node_ = "/dev/loop" + std::to_string(number);
  const int loop = ::open(node_.c_str(), O_RDWR | O_CLOEXEC);
  if (loop < 0 || ::ioctl(loop, LOOP_SET_FD, file) != 0) {
    reason_ = "cannot attach " + node_ + ": " + std::strerror(errno);
    node_.clear();
  }
  if (loop >= 0) ::close(loop);
  ::close(file);
}

LoopDevice::~LoopDevice() {
  if (!node_.empty()) {
    const int loop = ::open(node_.c_str(), O_RDWR | O_CLOEXEC);
    if (loop >= 0) {
      ::ioctl(loop, LOOP_CLR_FD, 0);
      ::close(loop);
    }
  }
  std::error_code ec;
  if (!backing_.empty()) std::filesystem::remove(backing_, ec);
}

host::HostDisk LoopDevice::asDisk(host::Bus bus, const std::string& model,
                                  const std::string& serial) const {
  host::HostDisk d;
  d.node = node_;
  d.name = node_.substr(5);
  struct stat st {};
  if (::stat(node_.c_str(), &st) == 0) {
    d.major = major(st.st_rdev);
    d.minor = minor(st.st_rdev);
  }
  d.size = size_;
  d.bus = bus;
  d.model = model;
  d.serial = serial;
  d.firmware = "1.00";
  return d;
}

std::string LoopDevice::readBacking(std::uint64_t offset, std::size_t length) const {
  std::string out(length, '\0');
  const int file = ::open(backing_.c_str(), O_RDONLY | O_CLOEXEC);
  const ssize_t n = ::pread(file, out.data(), length, static_cast<off_t>(offset));
  ::close(file);
  out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return out;
}

void LoopDevice::writeBacking(std::uint64_t offset, const std::string& bytes) const {
  const int file = ::open(backing_.c_str(), O_WRONLY | O_CLOEXEC);
  if (::pwrite(file, bytes.data(), bytes.size(), static_cast<off_t>(offset)) < 0) {
    ::close(file);
    return;
  }
  ::fsync(file);
  ::close(file);
}

}  // namespace pbaloader::testing
