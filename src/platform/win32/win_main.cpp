// The Windows executable: installs the real platform and runs the tool.
//
// The wide entry point is used because the narrow argv of the run-time
// library is in the ANSI code page, while the tool's narrow strings are UTF-8:
// an image path with letters outside that code page would not survive it.
#include <exception>
#include <string>
#include <vector>

#include "app/entry.h"
#include "common/text.h"
#include "platform/win32/win32_platform.h"

int wmain(int argc, wchar_t** argv) {
  using namespace pbaloader;
  auto& platform = win32::instance();
  os::ScopedPlatform installed(platform);
  int status = 1;
  try {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
      const std::wstring_view arg(argv[i]);
      args.push_back(
          toUtf8(WStringView(reinterpret_cast<const char16_t*>(arg.data()), arg.size())));
    }
    std::vector<const char*> narrow;
    for (const auto& a : args) narrow.push_back(a.c_str());
    narrow.push_back(nullptr);
    status = app::runPbaLoader(argc, narrow.data());
  } catch (...) {
    // Only memory can run out before the tool starts; the status says so.
  }
  platform.exitProcess(status);
  return status;
}
