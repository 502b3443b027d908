// Finding the disk drives through the management service and judging which
// of them are removable USB drives.
#pragma once

#include <vector>

#include "discovery/drive_info.h"
#include "discovery/interface_walk.h"
#include "discovery/wmi.h"

namespace pbaloader {

// Every Win32_DiskDrive that can be opened, described by the drive itself or,
// failing that, by the management service; in the service's order.
std::vector<DriveInfo> enumerateDrives();

// Fills the record from a Win32_DiskDrive object's properties.
void fillFromWmiObject(DriveInfo& drive, WmiObject& object);

// Whether the operating system expects the drive to be removed (its disk
// interface's removal policy is not "expect no removal").
bool isUsableUsbDrive(const DriveInfo& drive);

}  // namespace pbaloader
