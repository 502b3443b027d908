// The partition table and signatures on a disk, as libblkid reads them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pbaloader::host {

struct ProbedPartition {
  std::uint32_t number = 0;
  std::uint64_t start = 0, length = 0;  // bytes
  std::string type, uuid, name;
  std::string fsType;
};

struct ProbedDisk {
  std::string tableType;  // "dos", "gpt", other libblkid names; empty without a table
  std::string tableId;    // PTUUID
  std::string fsType;     // a signature on the whole disk (a stick formatted without a table)
  std::vector<ProbedPartition> partitions;
};

// Opens the node (device or image file) read-only; nullopt if it cannot.
std::optional<ProbedDisk> probeDisk(const std::filesystem::path& node);

}  // namespace pbaloader::host
