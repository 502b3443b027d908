// The drive listing and the lookup of a drive by name.
#pragma once

#include <vector>

#include "discovery/drive_info.h"

namespace pbaloader {

// The drives the tool may offer, in enumeration order.
std::vector<DriveInfo> usableUsbDrives();
// The "-l" operation.
void listDrives();

}  // namespace pbaloader
