// The conformance environment of the Windows build: the real system.
#include <windows.h>

#include <atomic>
#include <stdexcept>

#include "conformance/env.h"
#include "platform/win32/win32_platform.h"

namespace pbaloader::conformance {
namespace {

class WinEnv final : public Env {
 public:
  WinEnv() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0) throw std::runtime_error("GetTempPathW failed");
    std::wstring root(temp, n);
    if (!root.empty() && root.back() == L'\\') root.pop_back();
    // Wine reuses process ids from run to run: the tick count keeps each run's folders apart.
    root += L"\\pbaloader-conformance-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64());
    CreateDirectoryW(root.c_str(), nullptr);
    root_ = root;
    wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  }
  os::Platform& platform() override { return win32::instance(); }
  os::WString makeFolder() override {
    static std::atomic<unsigned> counter{0};
    std::wstring path = root_ + L"\\case" + std::to_wstring(counter++);
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      throw std::runtime_error("CreateDirectoryW failed");
    return os::WString(path.begin(), path.end());
  }
  os::WString makeFile(const os::WString& folder, std::u16string_view name, std::string_view bytes,
                       bool readOnly) override {
    const os::WString path = folder + u"\\" + os::WString(name);
    const std::wstring wide(path.begin(), path.end());
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("CreateFileW failed");
    DWORD written = 0;
    if (!bytes.empty())
      WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    if (readOnly) SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_READONLY);
    return path;
  }
  os::WString modulePath() override {
    wchar_t buffer[32768];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, 32768);
    return os::WString(buffer, buffer + n);
  }

 private:
  std::wstring root_;
};

}  // namespace

Env& env() {
  static WinEnv e;
  return e;
}

}  // namespace pbaloader::conformance
