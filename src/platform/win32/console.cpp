// PLACEHOLDER: to be written by this group's owner.
#include "platform/win32/win32_platform.h"

namespace pbaloader::win32 {

bool Win32Platform::stdoutIsConsole() { return {}; }

Status Win32Platform::writeConsoleW(WStringView) { return {}; }

Result<std::size_t> Win32Platform::writeStdout(std::string_view) { return {}; }

void Win32Platform::flushStdout() {}

int Win32Platform::readStdin() { return {}; }

ModuleFileName Win32Platform::getModuleFileNameW(std::uint32_t) { return {}; }

void Win32Platform::exitProcess(int) {}

Result<int> Win32Platform::multiByteToWideChar(std::uint32_t, std::uint32_t, std::string_view,
                                               std::span<char16_t>) {
  return {};
}

Result<int> Win32Platform::wideCharToMultiByte(std::uint32_t, std::uint32_t, WStringView,
                                               std::span<char>) {
  return {};
}

}  // namespace pbaloader::win32
