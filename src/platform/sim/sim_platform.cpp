// Forwards every call of the seam to the facility of the machine that owns it.
#include "platform/sim/sim_platform.h"

namespace pbaloader::sim {

std::unique_ptr<os::Platform> makeSimPlatform(Machine& machine) {
  return std::make_unique<SimPlatform>(machine);
}

}  // namespace pbaloader::sim
