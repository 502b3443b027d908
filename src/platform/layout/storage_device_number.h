// STORAGE_DEVICE_NUMBER (12 bytes), as IOCTL_STORAGE_GET_DEVICE_NUMBER returns it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pbaloader::layout {

struct StorageDeviceNumber {
  std::uint32_t deviceType = 0;
  std::uint32_t deviceNumber = 0;
  std::uint32_t partitionNumber = 0;
};
static_assert(sizeof(StorageDeviceNumber) == 12);
static_assert(offsetof(StorageDeviceNumber, deviceNumber) == 4);
static_assert(offsetof(StorageDeviceNumber, partitionNumber) == 8);

// FILE_DEVICE_DISK, the DeviceType of a disk.
inline constexpr std::uint32_t FileDeviceDisk = 7;

}  // namespace pbaloader::layout
