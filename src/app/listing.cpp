#include "app/listing.h"

#include <fmt/format.h>

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
  for (const auto& drive : enumerateDrives()) {
    const bool named = equalsIgnoreAsciiCase(options.driveName, drive.model) ||
                       equalsIgnoreAsciiCase(options.driveName, drive.path);
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

}  // namespace pbaloader
