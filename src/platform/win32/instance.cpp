#include "platform/win32/win32_platform.h"

namespace pbaloader::win32 {

Win32Platform& instance() {
  static Win32Platform platform;
  return platform;
}

}  // namespace pbaloader::win32
