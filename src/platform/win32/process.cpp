// Process environment, folder listings and the command interpreter.
#include <process.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/win32/win32_platform.h"

namespace pbaloader::win32 {
namespace {

// Both calls report the size they need (terminator included) when the buffer
// is too small, and the length they stored otherwise.
template <class Call>
Result<WString> growingText(Call call) {
  WString text(MAX_PATH, u'\0');
  for (;;) {
    const DWORD n = call(reinterpret_cast<wchar_t*>(text.data()), static_cast<UINT>(text.size()));
    if (n == 0) return {{}, GetLastError()};
    if (n < text.size()) {
      text.resize(n);
      return {text, 0};
    }
    text.assign(n, u'\0');
  }
}

}  // namespace

Result<WString> Win32Platform::getCurrentDirectoryW() {
  return growingText([](wchar_t* buffer, UINT size) { return GetCurrentDirectoryW(size, buffer); });
}

Result<WString> Win32Platform::getSystemDirectoryW() {
  return growingText([](wchar_t* buffer, UINT size) { return GetSystemDirectoryW(buffer, size); });
}

Result<std::vector<DirEntry>> Win32Platform::listDirectoryW(WStringView directory) {
  WString pattern(directory);
  if (!pattern.empty() && pattern.back() != u'\\' && pattern.back() != u'/')
    pattern.push_back(u'\\');
  pattern.push_back(u'*');
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(reinterpret_cast<const wchar_t*>(pattern.c_str()), &data);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A folder without entries (a drive root has no "." either) matches nothing.
    if (error == ERROR_FILE_NOT_FOUND) return {{}, 0};
    return {{}, error};
  }
  std::vector<DirEntry> entries;
  DWORD error = 0;
  do {
    DirEntry entry;
    entry.name = reinterpret_cast<const char16_t*>(data.cFileName);
    entry.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.reparsePoint = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries.push_back(std::move(entry));
    if (!FindNextFileW(find, &data)) error = GetLastError();
  } while (error == 0);
  FindClose(find);
  if (error != ERROR_NO_MORE_FILES) return {{}, error};
  return {std::move(entries), 0};
}

int Win32Platform::runSystemCommand(std::string_view commandLine) {
  // The command line is UTF-8; the wide run-time call keeps it intact.
  const std::string narrow(commandLine);
  const int units = MultiByteToWideChar(CP_UTF8, 0, narrow.c_str(), -1, nullptr, 0);
  if (units <= 0) return -1;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, narrow.c_str(), -1, wide.data(), units);
  // What system() does, except that the interpreter is the system's own
  // cmd.exe: system() takes it from COMSPEC, which any process of the user
  // can set for this elevated one.
  const Result<WString> systemDirectory = getSystemDirectoryW();
  if (systemDirectory.value.empty()) return -1;
  std::wstring interpreter(systemDirectory.value.begin(), systemDirectory.value.end());
  if (interpreter.back() != L'\\') interpreter.push_back(L'\\');
  interpreter += L"cmd.exe";
  fflush(nullptr);
  return static_cast<int>(
      _wspawnl(_P_WAIT, interpreter.c_str(), L"cmd.exe", L"/c", wide.c_str(), nullptr));
}

}  // namespace pbaloader::win32
