// PLACEHOLDER: to be written by the discovery owner.
#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
struct SetupState {};
DeviceSetup::DeviceSetup(Machine& machine)
    : machine_(machine), state_(std::make_unique<SetupState>()) {}
DeviceSetup::~DeviceSetup() = default;
void DeviceSetup::load(const nlohmann::json&) {}
os::Result<os::DevInfoSet> DeviceSetup::setupDiGetClassDevsW(const os::Guid&, std::uint32_t) {
  return {os::InvalidDevInfoSet, win::ErrorCallNotImplemented};
}
os::Status DeviceSetup::setupDiEnumDeviceInterfaces(os::DevInfoSet, const os::Guid&, std::uint32_t,
                                                    os::DeviceInterfaceData&) {
  return {false, win::ErrorNoMoreItems};
}
os::Status DeviceSetup::setupDiGetDeviceInterfaceDetailW(os::DevInfoSet,
                                                         const os::DeviceInterfaceData&, void*,
                                                         std::uint32_t, std::uint32_t*,
                                                         os::DevInfoData*) {
  return {false, win::ErrorCallNotImplemented};
}
os::Status DeviceSetup::setupDiGetDeviceRegistryPropertyW(os::DevInfoSet, const os::DevInfoData&,
                                                          std::uint32_t, void*, std::uint32_t,
                                                          std::uint32_t*) {
  return {false, win::ErrorCallNotImplemented};
}
os::Status DeviceSetup::setupDiDestroyDeviceInfoList(os::DevInfoSet) { return {true, 0}; }
os::Status DeviceSetup::getVolumeNameForVolumeMountPointW(os::WStringView, char16_t*,
                                                          std::uint32_t) {
  return {false, win::ErrorCallNotImplemented};
}
os::Status DeviceSetup::getVolumePathNamesForVolumeNameW(os::WStringView, char16_t*, std::uint32_t,
                                                         std::uint32_t*) {
  return {false, win::ErrorCallNotImplemented};
}
std::optional<os::Transfer> DeviceSetup::deviceIoControl(OpenObject&, std::uint32_t, const void*,
                                                         std::uint32_t, void*, std::uint32_t) {
  return std::nullopt;
}
void DeviceSetup::clearPartitions(int) {}
SetupState& DeviceSetup::state() { return *state_; }
}  // namespace pbaloader::sim
