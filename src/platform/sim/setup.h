// Device setup services, volumes and the disk layout control codes of the
// simulated machine.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/management.h"

namespace pbaloader::sim {

class Machine;
struct OpenObject;

// One entry of a disk's partition table, with the volume the system made for it.
struct SimPartition {
  bool used = true;  // MBR: false for an empty slot (type 0)
  std::uint32_t number = 0;
  std::uint64_t start = 0;
  std::uint64_t length = 0;
  std::uint8_t mbrType = 0;
  bool bootIndicator = false;
  os::Guid gptType;
  os::Guid gptId;
  std::uint64_t gptAttributes = 0;
  os::WString gptName;

  bool hasVolume = false;
  bool volumeInterface = true;  // listed among GUID_DEVINTERFACE_VOLUME
  bool volumeNameUnreadable = false;
  os::WString volumeGuid;                // "{...}" as the description writes it
  std::vector<os::WString> mountPoints;  // "E:\", "C:\mnt\stick\"
  os::WString interfacePath;             // the volume interface's DevicePath
  // MSFT_Partition overrides of the entry's "management" object.
  std::vector<std::pair<os::WString, os::Variant>> overrideSet;
  std::vector<os::WString> overrideAbsent;
};

// The partition table of one disk as IOCTL_DISK_GET_DRIVE_LAYOUT_EX reports it.
struct SimLayout {
  std::uint32_t style = 2;  // PARTITION_STYLE_RAW
  std::uint32_t mbrSignature = 0;
  os::Guid diskId;
  std::vector<SimPartition> entries;
};

// Per disk: its interface and the answers of its setup properties.
struct SimDiskSetup {
  bool interfaceListed = true;
  bool removalPolicyReadable = true;
  bool deviceNumberFails = false;
  bool layoutFails = false;
  os::WString interfacePath;
  SimLayout layout;
};

struct SetupState {
  std::vector<SimDiskSetup> disks;  // by disk index
  bool diskClassFails = false;      // SetupDiGetClassDevsW for GUID_DEVINTERFACE_DISK
  bool volumeClassFails = false;    // ... and for GUID_DEVINTERFACE_VOLUME
  int updatePropertiesCalls = 0;
  int openSets = 0;

  struct Interface {
    os::Guid classGuid;
    int disk = -1;
    int partition = -1;  // index into the layout's entries; -1 for the disk itself
    os::WString path;
  };
  struct InfoSet {
    os::Guid classGuid;
    std::vector<Interface> interfaces;
  };
  std::map<os::DevInfoSet, InfoSet> sets;
  os::DevInfoSet nextSet = 0x5E70000;
};

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
  // The MSFT_Partition objects of a disk's partitions.
  std::vector<WmiInstance> partitionInstances(int disk) const;

  SetupState& state();

 private:
  void registerPaths(int disk);
  const SimPartition* volumeByGuidPath(os::WStringView volumeName) const;
  const SimPartition* volumeByMountPoint(os::WStringView mountPoint) const;

  Machine& machine_;
  std::unique_ptr<SetupState> state_;
};

}  // namespace pbaloader::sim
