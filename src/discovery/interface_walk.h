// Walks the present device interfaces of one interface class, and reads the
// device number of a device path.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/text.h"
#include "platform/layout/storage_device_number.h"
#include "platform/platform.h"

namespace pbaloader {

// GUID_DEVINTERFACE_DISK and GUID_DEVINTERFACE_VOLUME.
inline constexpr os::Guid GuidDevinterfaceDisk{
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr os::Guid GuidDevinterfaceVolume{
    0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

class DeviceInterfaceWalk {
 public:
  // Opens the set of present interfaces of the class (SetupDiGetClassDevsW).
  explicit DeviceInterfaceWalk(const os::Guid& interfaceClass);
  ~DeviceInterfaceWalk();
  DeviceInterfaceWalk(const DeviceInterfaceWalk&) = delete;
  DeviceInterfaceWalk& operator=(const DeviceInterfaceWalk&) = delete;

  bool valid() const { return set_ != os::InvalidDevInfoSet; }
  // Steps to the next interface; false when there are no more.
  bool next();
  // The current interface's SP_DEVICE_INTERFACE_DETAIL_DATA_W inside the
  // walk's buffer, or null. withDeviceData also fetches the device's
  // SP_DEVINFO_DATA (deviceData()).
  const std::uint8_t* detail(bool withDeviceData = true);
  // The DevicePath of the detail that detail() returned last.
  WString devicePath() const;

  os::DevInfoSet set() const { return set_; }
  const os::DevInfoData& deviceData() const { return deviceData_; }

 private:
  os::Guid interfaceClass_;
  std::uint32_t index_ = 0;
  std::vector<std::uint8_t> buffer_;
  os::DeviceInterfaceData interfaceData_;
  os::DevInfoData deviceData_;
  os::DevInfoSet set_ = os::InvalidDevInfoSet;
};

// Opens the path for reading (shared read and write) and asks for its device
// number: IOCTL_STORAGE_GET_DEVICE_NUMBER with exactly 12 bytes back.
std::optional<layout::StorageDeviceNumber> readDeviceNumber(WStringView path);
// The same control code on a handle that is already open.
std::optional<layout::StorageDeviceNumber> queryDeviceNumber(os::Handle handle);

}  // namespace pbaloader
