// The drive listing and the lookup of a drive by name.
#pragma once

#include <string>
#include <vector>

#include "discovery/drive_info.h"

namespace pbaloader {

// The drives the tool may offer, in enumeration order.
std::vector<DriveInfo> usableUsbDrives();
// The "-l" operation.
void listDrives();

// " [N partition(s)]" for a drive with partitions that carry a volume, else
// empty. Asks the system afresh.
std::string partitionSuffix(const DriveInfo& drive);
// "<path> Model: '<model>' SN: '<serial>'<suffix>", the body of a drive line.
std::string driveLineBody(const DriveInfo& drive);

}  // namespace pbaloader
