// PLACEHOLDER: to be written by the device transport owner.
#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
class DeviceModel {
 public:
  virtual ~DeviceModel() = default;
};
StorageStack::StorageStack(Machine& machine) : machine_(machine) {}
StorageStack::~StorageStack() = default;
void StorageStack::load(const nlohmann::json&) {}
std::optional<os::Transfer> StorageStack::deviceIoControl(OpenObject&, std::uint32_t, const void*,
                                                          std::uint32_t, void*, std::uint32_t) {
  return std::nullopt;
}
DeviceModel* StorageStack::model(int) { return nullptr; }
}  // namespace pbaloader::sim
