// PLACEHOLDER: to be written by this group's owner.
#include "platform/win32/win32_platform.h"

namespace pbaloader::win32 {

Result<DevInfoSet> Win32Platform::setupDiGetClassDevsW(const Guid&, std::uint32_t) { return {}; }

Status Win32Platform::setupDiEnumDeviceInterfaces(DevInfoSet, const Guid&, std::uint32_t,
                                                  DeviceInterfaceData&) {
  return {};
}

Status Win32Platform::setupDiGetDeviceInterfaceDetailW(DevInfoSet, const DeviceInterfaceData&,
                                                       void*, std::uint32_t, std::uint32_t*,
                                                       DevInfoData*) {
  return {};
}

Status Win32Platform::setupDiGetDeviceRegistryPropertyW(DevInfoSet, const DevInfoData&,
                                                        std::uint32_t, void*, std::uint32_t,
                                                        std::uint32_t*) {
  return {};
}

Status Win32Platform::setupDiDestroyDeviceInfoList(DevInfoSet) { return {}; }

Status Win32Platform::getVolumeNameForVolumeMountPointW(WStringView, char16_t*, std::uint32_t) {
  return {};
}

Status Win32Platform::getVolumePathNamesForVolumeNameW(WStringView, char16_t*, std::uint32_t,
                                                       std::uint32_t*) {
  return {};
}

}  // namespace pbaloader::win32
