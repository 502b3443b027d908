// SP_DEVICE_INTERFACE_DETAIL_DATA_W on 64-bit Windows: cbSize, then the
// null-terminated DevicePath; the fixed part is 8 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pbaloader::layout {

struct DeviceInterfaceDetailW {
  std::uint32_t cbSize = 0;
  char16_t devicePath[1] = {};
};
static_assert(sizeof(DeviceInterfaceDetailW) == 8);
static_assert(offsetof(DeviceInterfaceDetailW, devicePath) == 4);

inline constexpr std::uint32_t DeviceInterfaceDetailFixedSize = 8;
inline constexpr std::size_t DevicePathOffset = offsetof(DeviceInterfaceDetailW, devicePath);

}  // namespace pbaloader::layout
