// Device control and the system message table.
#include <windows.h>

#include "platform/win32/win32_platform.h"

namespace pbaloader::win32 {

Transfer Win32Platform::deviceIoControl(Handle handle, std::uint32_t code, const void* in,
                                        std::uint32_t inSize, void* out, std::uint32_t outSize) {
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(reinterpret_cast<HANDLE>(handle), code, const_cast<void*>(in),
                                  inSize, out, outSize, &returned, nullptr);
  return {ok != FALSE, returned, ok ? 0u : GetLastError()};
}

Result<std::uint32_t> Win32Platform::formatMessageA(std::uint32_t flags, std::uint32_t code,
                                                    std::uint32_t language, char* buffer,
                                                    std::uint32_t size) {
  const DWORD stored = FormatMessageA(flags, nullptr, code, language, buffer, size, nullptr);
  return {stored, stored > 0 ? 0u : GetLastError()};
}

}  // namespace pbaloader::win32
