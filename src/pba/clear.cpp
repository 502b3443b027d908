// PLACEHOLDER: to be written by the operations owner.
#include "app/loader.h"

namespace pbaloader {
void PbaLoader::clearImage() {}
bool PbaLoader::cleanDisk() { return false; }
bool PbaLoader::zeroDriveRange(std::uint64_t, std::uint64_t) { return false; }
}  // namespace pbaloader
