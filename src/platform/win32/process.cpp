// PLACEHOLDER: to be written by this group's owner.
#include "platform/win32/win32_platform.h"

namespace pbaloader::win32 {

Result<WString> Win32Platform::getCurrentDirectoryW() { return {}; }

Result<WString> Win32Platform::getSystemDirectoryW() { return {}; }

Result<std::vector<DirEntry>> Win32Platform::listDirectoryW(WStringView) { return {}; }

int Win32Platform::runSystemCommand(std::string_view) { return {}; }

}  // namespace pbaloader::win32
