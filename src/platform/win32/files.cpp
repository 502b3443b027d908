// Files, raw drives and the clock.
#include <windows.h>

#include <chrono>
#include <string>

#include "platform/win32/win32_platform.h"

namespace pbaloader::win32 {
namespace {

HANDLE toNative(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle fromNative(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

// The API takes a terminated string; text after an embedded null is not seen.
std::wstring terminated(WStringView text) { return std::wstring(text.begin(), text.end()); }

static_assert(sizeof(Handle) == sizeof(HANDLE));
static_assert(sizeof(DWORD) == sizeof(std::uint32_t) && sizeof(LONG) == sizeof(std::int32_t));

}  // namespace

Result<Handle> Win32Platform::createFileW(WStringView path, std::uint32_t access,
                                          std::uint32_t share, std::uint32_t disposition,
                                          std::uint32_t flagsAndAttributes) {
  const std::wstring p = terminated(path);
  const HANDLE h =
      CreateFileW(p.c_str(), access, share, nullptr, disposition, flagsAndAttributes, nullptr);
  return {fromNative(h), GetLastError()};
}

Result<Handle> Win32Platform::createFileA(std::string_view path, std::uint32_t access,
                                          std::uint32_t share, std::uint32_t disposition,
                                          std::uint32_t flagsAndAttributes) {
  const std::string p(path);
  const HANDLE h =
      CreateFileA(p.c_str(), access, share, nullptr, disposition, flagsAndAttributes, nullptr);
  return {fromNative(h), GetLastError()};
}

Transfer Win32Platform::readFile(Handle handle, void* buffer, std::uint32_t size) {
  DWORD count = 0;
  const BOOL ok = ReadFile(toNative(handle), buffer, size, &count, nullptr);
  return {ok != FALSE, count, ok ? 0u : GetLastError()};
}

Transfer Win32Platform::writeFile(Handle handle, const void* buffer, std::uint32_t size) {
  DWORD count = 0;
  const BOOL ok = WriteFile(toNative(handle), buffer, size, &count, nullptr);
  return {ok != FALSE, count, ok ? 0u : GetLastError()};
}

FilePointer Win32Platform::setFilePointer(Handle handle, std::int32_t low, const std::int32_t* high,
                                          std::uint32_t method) {
  LONG highPart = high ? *high : 0;
  // A success may return 0xFFFFFFFF; only the error code tells them apart.
  SetLastError(0);
  const DWORD result = SetFilePointer(toNative(handle), low, high ? &highPart : nullptr, method);
  return {result, highPart, GetLastError()};
}

Status Win32Platform::closeHandle(Handle handle) {
  const BOOL ok = CloseHandle(toNative(handle));
  return {ok != FALSE, ok ? 0u : GetLastError()};
}

Status Win32Platform::deleteFileW(WStringView path) {
  const std::wstring p = terminated(path);
  const BOOL ok = DeleteFileW(p.c_str());
  return {ok != FALSE, ok ? 0u : GetLastError()};
}

std::int64_t Win32Platform::steadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void Win32Platform::sleepUntilNs(std::int64_t deadlineNs) {
  // Sleep may wake early or late; measure against the clock until the deadline.
  for (;;) {
    const std::int64_t now = steadyNowNs();
    if (now >= deadlineNs) return;
    const std::int64_t ms = (deadlineNs - now + 999'999) / 1'000'000;
    Sleep(ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(ms));
  }
}

}  // namespace pbaloader::win32
