#include "app/listing.h"

#include <fmt/format.h>

#include <algorithm>

#include "app/loader.h"
#include "common/console.h"
#include "common/text.h"
#include "discovery/enumerate.h"
#include "discovery/partitions.h"

namespace pbaloader {

std::vector<DriveInfo> usableUsbDrives() {
  std::vector<DriveInfo> usable;
  for (const auto& drive : enumerateDrives())
    if (isUsableUsbDrive(drive)) usable.push_back(drive);
  return usable;
}

std::string partitionSuffix(const DriveInfo& drive) {
  const auto partitions = listPartitions(drive.path);
  if (partitions.empty()) return {};
  return fmt::format(" [{} partition(s)]", partitions.size());
}

std::string driveLineBody(const DriveInfo& drive) {
  return fmt::format("{} Model: '{}' SN: '{}'{}", drive.path, drive.model, drive.serialNumber,
                     partitionSuffix(drive));
}

void listDrives() {
  const auto drives = usableUsbDrives();
  if (drives.empty()) {
    print("No usable USB drives found\n");
    return;
  }
  print(
      "\n-----------------------------------------------------------\n"
      " Available USB drives\n"
      "-----------------------------------------------------------\n");
  for (const auto& drive : drives) print("{}\n", driveLineBody(drive));
  print("-----------------------------------------------------------\n");
}

void PbaLoader::selectDrive() {
  // A model is whatever text the drive reports and may read like another
  // drive's path. A path names exactly one drive: when the name is a drive's
  // path, that drive is the only candidate, and models are not looked at.
  const auto drives = enumerateDrives();
  const bool isPath = std::any_of(drives.begin(), drives.end(), [&](const DriveInfo& drive) {
    return equalsIgnoreAsciiCase(options.driveName, drive.path);
  });
  for (const auto& drive : drives) {
    const bool named = equalsIgnoreAsciiCase(options.driveName, isPath ? drive.path : drive.model);
    // A fixed disk is never a target, even when named exactly.
    if (named && isUsableUsbDrive(drive)) {
      selectedDrive = drive;
      return;
    }
  }
  writeStream(fmt::format("Drive \"{}\" not found\n", options.driveName));
  flushStream();
  endProcess(-1);
}

bool PbaLoader::selectConfirmedDrive() {
  selectDrive();
  if (!confirmedDrive) return true;
  const DriveInfo& shown = *confirmedDrive;
  // A stick swapped while the question was open takes the same path; only
  // the drive the warning named may be written.
  if (selectedDrive.path == shown.path && selectedDrive.model == shown.model &&
      selectedDrive.serialNumber == shown.serialNumber)
    return true;
  print("\nThe drive at {} is no longer {} [S/N: {}]; nothing was written\n", shown.path,
        shown.model, shown.serialNumber);
  return false;
}

}  // namespace pbaloader
