// The Windows executable: installs the real platform and runs the tool.
#include <cstdio>

#include "app/entry.h"
#include "platform/win32/win32_platform.h"

int main(int argc, char** argv) {
  using namespace pbaloader;
  auto& platform = win32::instance();
  os::ScopedPlatform installed(platform);
  const int status = app::runPbaLoader(argc, argv);
  platform.exitProcess(status);
  return status;
}
