// The Linux machine the tool runs on, as a sim::Machine: the simulated
// machine's Windows semantics (management service, device interfaces, share
// modes and raw-disk rules, the storage stack's checks, the partitioning
// utility) over the real disks, whose bytes and commands go to the kernel.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/linux/scan/host_disks.h"
#include "platform/sim/machine.h"

namespace pbaloader::host {

struct HostSetup {
  std::string currentDirectory;  // absolute
  std::string modulePath;        // the executable
  std::string mountInfo = "/proc/self/mountinfo";
};

// Usable as a setup drive (surprise removal): USB-attached or removable, and
// never the disk of the running system's root file system.
bool isRemovableDisk(const HostDisk& disk);

// The machine description of the host's disks (docs/simulated-machine.md):
// disk N is the Nth scanned disk, its device path the kernel's node.
nlohmann::json describeHost(const std::vector<HostDisk>& disks, const HostSetup& setup);

// The machine with real backends: each disk's bytes are its block device,
// its commands go to the drive.
std::unique_ptr<sim::Machine> buildHostMachine(const std::vector<HostDisk>& disks,
                                               const HostSetup& setup);

}  // namespace pbaloader::host
