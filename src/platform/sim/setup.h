// Device setup services, volumes and the disk layout control codes of the
// simulated machine.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>

#include "platform/platform.h"

namespace pbaloader::sim {

class Machine;
struct OpenObject;
struct SetupState;  // defined by the setup facility's own files

class DeviceSetup {
 public:
  explicit DeviceSetup(Machine& machine);
  ~DeviceSetup();
  void load(const nlohmann::json& description);

  os::Result<os::DevInfoSet> setupDiGetClassDevsW(const os::Guid& classGuid, std::uint32_t flags);
  os::Status setupDiEnumDeviceInterfaces(os::DevInfoSet set, const os::Guid& classGuid,
                                         std::uint32_t index, os::DeviceInterfaceData& data);
  os::Status setupDiGetDeviceInterfaceDetailW(os::DevInfoSet set,
                                              const os::DeviceInterfaceData& data, void* detail,
                                              std::uint32_t detailSize, std::uint32_t* requiredSize,
                                              os::DevInfoData* devInfo);
  os::Status setupDiGetDeviceRegistryPropertyW(os::DevInfoSet set, const os::DevInfoData& devInfo,
                                               std::uint32_t property, void* buffer,
                                               std::uint32_t size, std::uint32_t* requiredSize);
  os::Status setupDiDestroyDeviceInfoList(os::DevInfoSet set);
  os::Status getVolumeNameForVolumeMountPointW(os::WStringView mountPoint, char16_t* buffer,
                                               std::uint32_t length);
  os::Status getVolumePathNamesForVolumeNameW(os::WStringView volumeName, char16_t* buffer,
                                              std::uint32_t length, std::uint32_t* returnLength);
  // Device number, drive layout and update-properties control codes; nullopt
  // for codes it does not own.
  std::optional<os::Transfer> deviceIoControl(OpenObject& object, std::uint32_t code,
                                              const void* in, std::uint32_t inSize, void* out,
                                              std::uint32_t outSize);
  // Removes every partition and volume of a disk (what the partitioning
  // utility's "clean" leaves behind in the system's view).
  void clearPartitions(int disk);

  SetupState& state();

 private:
  Machine& machine_;
  std::unique_ptr<SetupState> state_;
};

}  // namespace pbaloader::sim
