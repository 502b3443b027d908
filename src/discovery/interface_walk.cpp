#include "discovery/interface_walk.h"

#include <algorithm>
#include <cstring>

#include "platform/layout/device_interface_detail.h"
#include "platform/winconst.h"

namespace pbaloader {
namespace {

constexpr std::size_t InitialDetailBufferSize = 1024;

}  // namespace

DeviceInterfaceWalk::DeviceInterfaceWalk(const os::Guid& interfaceClass)
    : interfaceClass_(interfaceClass), buffer_(InitialDetailBufferSize, 0) {
  const auto result = os::current().setupDiGetClassDevsW(
      interfaceClass_, win::DigcfPresent | win::DigcfDeviceInterface);
  set_ = result.value;
}

DeviceInterfaceWalk::~DeviceInterfaceWalk() {
  if (valid()) os::current().setupDiDestroyDeviceInfoList(set_);
}

bool DeviceInterfaceWalk::next() {
  if (!valid()) return false;
  interfaceData_ = os::DeviceInterfaceData{};
  interfaceData_.cbSize = sizeof(os::DeviceInterfaceData);
  return os::current()
      .setupDiEnumDeviceInterfaces(set_, interfaceClass_, index_++, interfaceData_)
      .ok;
}

const std::uint8_t* DeviceInterfaceWalk::detail(bool withDeviceData) {
  os::Platform& sys = os::current();
  std::uint32_t required = 0;
  const auto probe =
      sys.setupDiGetDeviceInterfaceDetailW(set_, interfaceData_, nullptr, 0, &required, nullptr);
  if (!probe.ok && probe.error != win::ErrorInsufficientBuffer) return nullptr;
  if (required == 0) return nullptr;

  // Never smaller than the fixed part, whatever size the system names.
  buffer_.assign(std::max<std::size_t>(required, layout::DeviceInterfaceDetailFixedSize), 0);
  const std::uint32_t cbSize = layout::DeviceInterfaceDetailFixedSize;
  std::memcpy(buffer_.data(), &cbSize, sizeof(cbSize));
  deviceData_ = os::DevInfoData{};
  deviceData_.cbSize = sizeof(os::DevInfoData);
  const auto fetch = sys.setupDiGetDeviceInterfaceDetailW(
      set_, interfaceData_, buffer_.data(), static_cast<std::uint32_t>(buffer_.size()), &required,
      withDeviceData ? &deviceData_ : nullptr);
  return fetch.ok ? buffer_.data() : nullptr;
}

WString DeviceInterfaceWalk::devicePath() const {
  // Bounded by the buffer: a path the system failed to terminate stops at its end.
  WString path;
  for (std::size_t at = layout::DevicePathOffset; at + sizeof(char16_t) <= buffer_.size();
       at += sizeof(char16_t)) {
    char16_t c = 0;
    std::memcpy(&c, buffer_.data() + at, sizeof(c));
    if (c == 0) break;
    path.push_back(c);
  }
  return path;
}

std::optional<layout::StorageDeviceNumber> queryDeviceNumber(os::Handle handle) {
  layout::StorageDeviceNumber number;
  const auto r = os::current().deviceIoControl(handle, win::IoctlStorageGetDeviceNumber, nullptr, 0,
                                               &number, sizeof(number));
  if (!r.ok || r.count != sizeof(number)) return std::nullopt;
  return number;
}

std::optional<layout::StorageDeviceNumber> readDeviceNumber(WStringView path) {
  os::Platform& sys = os::current();
  const auto opened =
      sys.createFileW(path, win::GenericRead, win::FileShareRead | win::FileShareWrite,
                      win::OpenExisting, win::FileAttributeNormal);
  if (opened.value == os::InvalidHandle) return std::nullopt;
  auto number = queryDeviceNumber(opened.value);
  sys.closeHandle(opened.value);
  return number;
}

}  // namespace pbaloader
