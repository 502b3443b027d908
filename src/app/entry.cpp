// PLACEHOLDER: to be written by the front-end owner.
#include "app/entry.h"

namespace pbaloader::app {
int runPbaLoader(int, const char* const*) { return -1; }
}  // namespace pbaloader::app
