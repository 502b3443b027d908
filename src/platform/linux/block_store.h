// A simulated disk's bytes replaced by a real block device (or, in tests, a
// regular file or loop device).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/diskstore.h"

namespace pbaloader::host {

struct BlockStoreOptions {
  std::string node;                         // /dev/sdb
  std::uint64_t size = 0;                   // bytes
  std::uint32_t sectorSize = 512;           // logical sector size
  bool writable = true;                     // false for the disk of the root file system
  std::vector<std::string> partitionNodes;  // /dev/sdb1, ...: a mounted one forbids writes
  std::string mountInfo = "/proc/self/mountinfo";
};

// Transfers use O_DIRECT through a sector-aligned buffer, so that what the
// tool reads back is what the device holds, never the page cache.
//
// An open without sharing (Windows' exclusive open) claims the device with
// O_EXCL, so it fails with error 32 while the kernel or another program holds
// it (a mounted partition, another exclusive opener). Writes fail while one of
// the disk's partitions is mounted: a mounted file system is never written
// under. The disk stays listed and openable, so the tool names its failure.
std::unique_ptr<sim::DiskStore> openBlockStore(const BlockStoreOptions& options);

// Whether the device or one of the nodes is the source of a mount in that
// mount table (the mountinfo format of /proc/self/mountinfo).
bool anyMounted(const std::string& mountInfo, const std::vector<std::string>& nodes);

}  // namespace pbaloader::host
