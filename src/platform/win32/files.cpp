// PLACEHOLDER: to be written by this group's owner.
#include "platform/win32/win32_platform.h"

namespace pbaloader::win32 {

Result<Handle> Win32Platform::createFileW(WStringView, std::uint32_t, std::uint32_t, std::uint32_t,
                                          std::uint32_t) {
  return {};
}

Result<Handle> Win32Platform::createFileA(std::string_view, std::uint32_t, std::uint32_t,
                                          std::uint32_t, std::uint32_t) {
  return {};
}

Transfer Win32Platform::readFile(Handle, void*, std::uint32_t) { return {}; }

Transfer Win32Platform::writeFile(Handle, const void*, std::uint32_t) { return {}; }

FilePointer Win32Platform::setFilePointer(Handle, std::int32_t, const std::int32_t*,
                                          std::uint32_t) {
  return {};
}

Status Win32Platform::closeHandle(Handle) { return {}; }

Status Win32Platform::deleteFileW(WStringView) { return {}; }

std::int64_t Win32Platform::steadyNowNs() { return {}; }

void Win32Platform::sleepUntilNs(std::int64_t) {}

}  // namespace pbaloader::win32
