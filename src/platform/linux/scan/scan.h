// The scanner's decisions over any sysfs source, for the tests.
#pragma once

#include "platform/linux/scan/host_disks.h"
#include "platform/linux/scan/sysfs_source.h"

namespace pbaloader::host {

std::vector<HostDisk> scanDisks(SysfsSource& sys, const ScanRoots& roots);

}  // namespace pbaloader::host
