// The bytes of one simulated disk: in memory (sparse) or in a host file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

namespace pbaloader::sim {

class DiskStore {
 public:
  virtual ~DiskStore() = default;
  virtual std::uint64_t size() const = 0;
  // Whole-range operations; false when the range does not lie inside the disk
  // or the host fails.
  virtual bool read(std::uint64_t offset, void* buffer, std::size_t length) = 0;
  virtual bool write(std::uint64_t offset, const void* buffer, std::size_t length) = 0;

  // Hooks for a store over a real device; the simulated ones accept every
  // open and have no partitions to drop.
  // A raw open of the disk with these rights (os::Platform's access and share
  // values); 0 or the error code that refuses it. release ends an accepted one.
  virtual std::uint32_t claim(std::uint32_t /*access*/, std::uint32_t /*share*/) { return 0; }
  virtual void release(std::uint32_t /*access*/, std::uint32_t /*share*/) {}
  // The partition table was wiped: the system forgets the disk's partitions.
  virtual bool partitionsWiped() { return true; }

  // A sparse in-memory disk: untouched areas read as zeros and cost nothing.
  static std::unique_ptr<DiskStore> memory(std::uint64_t size);
  // A disk backed by a host file, created sparse at size when missing.
  static std::unique_ptr<DiskStore> file(const std::filesystem::path& path, std::uint64_t size);
};

}  // namespace pbaloader::sim
