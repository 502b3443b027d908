// PLACEHOLDER: to be written by the device transport owner.
#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
MessageTable::MessageTable(Machine& machine) : machine_(machine) {}
void MessageTable::load(const nlohmann::json&) {}
os::Result<std::uint32_t> MessageTable::formatMessageA(std::uint32_t, std::uint32_t, std::uint32_t,
                                                       char*, std::uint32_t) {
  return {0, win::ErrorMrMidNotFound};
}
}  // namespace pbaloader::sim
