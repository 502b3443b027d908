// Console, process and text conversion: thin forwarding to the system.
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <vector>

#include "platform/win32/win32_platform.h"

namespace pbaloader::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace {
HANDLE stdoutHandle() { return GetStdHandle(STD_OUTPUT_HANDLE); }
}  // namespace

bool Win32Platform::stdoutIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(stdoutHandle(), &mode) != 0;
}

Status Win32Platform::writeConsoleW(WStringView text) {
  if (text.size() > MAXDWORD) return {false, ERROR_INVALID_PARAMETER};
  DWORD written = 0;
  const BOOL ok = WriteConsoleW(stdoutHandle(), text.data(), static_cast<DWORD>(text.size()),
                                &written, nullptr);
  if (!ok) return {false, GetLastError()};
  return {written == text.size(), 0};
}

Result<std::size_t> Win32Platform::writeStdout(std::string_view bytes) {
  errno = 0;
  const std::size_t n = std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  return {n, n < bytes.size() ? static_cast<std::uint32_t>(errno) : 0u};
}

void Win32Platform::flushStdout() { std::fflush(stdout); }

int Win32Platform::readStdin() {
  const int c = std::getc(stdin);
  return c == EOF ? -1 : c;
}

void Win32Platform::unreadStdin(int byte) {
  if (byte >= 0) std::ungetc(byte, stdin);
}

ModuleFileName Win32Platform::getModuleFileNameW(std::uint32_t capacity) {
  std::vector<wchar_t> buffer(capacity > 0 ? capacity : 1);
  SetLastError(ERROR_SUCCESS);
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), capacity);
  const DWORD error = GetLastError();
  const DWORD kept = n < buffer.size() ? n : static_cast<DWORD>(buffer.size());
  return {WString(buffer.data(), buffer.data() + kept), n, error};
}

void Win32Platform::exitProcess(int status) {
  std::fflush(stdout);
  ExitProcess(static_cast<UINT>(status));
}

Result<int> Win32Platform::multiByteToWideChar(std::uint32_t codePage, std::uint32_t flags,
                                               std::string_view in, std::span<char16_t> out) {
  if (in.size() > INT_MAX || out.size() > INT_MAX) return {0, ERROR_INVALID_PARAMETER};
  SetLastError(ERROR_SUCCESS);
  const int n = MultiByteToWideChar(codePage, flags, in.data(), static_cast<int>(in.size()),
                                    out.empty() ? nullptr : reinterpret_cast<wchar_t*>(out.data()),
                                    static_cast<int>(out.size()));
  return {n, n == 0 ? GetLastError() : 0u};
}

Result<int> Win32Platform::wideCharToMultiByte(std::uint32_t codePage, std::uint32_t flags,
                                               WStringView in, std::span<char> out) {
  if (in.size() > INT_MAX || out.size() > INT_MAX) return {0, ERROR_INVALID_PARAMETER};
  SetLastError(ERROR_SUCCESS);
  const int n = WideCharToMultiByte(codePage, flags, reinterpret_cast<const wchar_t*>(in.data()),
                                    static_cast<int>(in.size()), out.empty() ? nullptr : out.data(),
                                    static_cast<int>(out.size()), nullptr, nullptr);
  return {n, n == 0 ? GetLastError() : 0u};
}

}  // namespace pbaloader::win32
