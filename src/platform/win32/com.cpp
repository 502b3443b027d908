// PLACEHOLDER: to be written by this group's owner.
#include "platform/win32/win32_platform.h"

namespace pbaloader::win32 {

std::int32_t Win32Platform::coInitializeEx(std::uint32_t) { return {}; }

void Win32Platform::coUninitialize() {}

std::int32_t Win32Platform::coInitializeSecurity(std::int32_t, std::uint32_t, std::uint32_t,
                                                 std::uint32_t) {
  return {};
}

ComResult Win32Platform::coCreateInstance(const Guid&, std::uint32_t, const Guid&) { return {}; }

ComResult Win32Platform::connectServer(ComRef, WStringView) { return {}; }

std::int32_t Win32Platform::coSetProxyBlanket(ComRef, std::uint32_t, std::uint32_t, std::uint32_t,
                                              std::uint32_t, std::uint32_t) {
  return {};
}

ComResult Win32Platform::execQuery(ComRef, WStringView, WStringView, std::int32_t) { return {}; }

NextResult Win32Platform::enumNext(ComRef, std::int32_t) { return {}; }

std::int32_t Win32Platform::objectGet(ComRef, WStringView, Variant&) { return {}; }

void Win32Platform::release(ComRef) {}

}  // namespace pbaloader::win32
