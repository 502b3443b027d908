// Stands in for the disk scanner until it is merged: finds no disks. Removed
// together with the fallback in cmake/native.cmake when the scanner lands.
#include "platform/linux/scan/host_disks.h"

namespace pbaloader::host {

std::vector<HostDisk> scanHostDisks(const ScanRoots&) { return {}; }

}  // namespace pbaloader::host
