// PLACEHOLDER: to be written by the operations owner.
#include "app/listing.h"

#include "app/loader.h"

namespace pbaloader {
std::vector<DriveInfo> usableUsbDrives() { return {}; }
void listDrives() {}
void PbaLoader::selectDrive() {}
}  // namespace pbaloader
