// PLACEHOLDER: to be written by this group's owner.
#include "platform/win32/win32_platform.h"

namespace pbaloader::win32 {

Transfer Win32Platform::deviceIoControl(Handle, std::uint32_t, const void*, std::uint32_t, void*,
                                        std::uint32_t) {
  return {};
}

Result<std::uint32_t> Win32Platform::formatMessageA(std::uint32_t, std::uint32_t, std::uint32_t,
                                                    char*, std::uint32_t) {
  return {};
}

}  // namespace pbaloader::win32
