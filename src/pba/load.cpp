// PLACEHOLDER: to be written by the operations owner.
#include "app/loader.h"

namespace pbaloader {
void PbaLoader::loadImage() {}
}  // namespace pbaloader
