// A loop device over a sparse temp file, for tests that need a real block
// device without touching the machine's disks. Needs root; unavailable()
// says why when there is none.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/linux/scan/host_disks.h"

namespace pbaloader::testing {

class LoopDevice {
 public:
  explicit LoopDevice(std::uint64_t size);
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  // Empty when the device exists; otherwise the reason it does not.
  const std::string& unavailable() const { return reason_; }
  const std::string& node() const { return node_; }
  const std::filesystem::path& backing() const { return backing_; }
  std::uint64_t size() const { return size_; }

  // The device as the scanner would report a disk on that bus.
  host::HostDisk asDisk(host::Bus bus, const std::string& model, const std::string& serial) const;

  std::string readBacking(std::uint64_t offset, std::size_t length) const;
  void writeBacking(std::uint64_t offset, const std::string& bytes) const;

 private:
  std::uint64_t size_;
  std::filesystem::path backing_;
  std::string node_;
  std::string reason_;
};

}  // namespace pbaloader::testing
