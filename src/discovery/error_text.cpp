#include "discovery/error_text.h"

#include <fmt/format.h>

#include <algorithm>

#include "platform/platform.h"
#include "platform/winconst.h"

namespace pbaloader {

std::string systemErrorText(std::uint32_t code) {
  char buffer[1024] = {};
  auto formatted =
      os::current().formatMessageA(win::FormatMessageFromSystem | win::FormatMessageIgnoreInserts,
                                   code, 0, buffer, sizeof(buffer));
  std::string text;
  if (formatted.value > 0) {
    text.assign(buffer, std::min<std::size_t>(formatted.value, sizeof(buffer)));
  } else if (code == 0xC01C0005) {
    // Filter-manager status codes that the system's message table lacks.
    text = "STATUS_FLT_INVALID_NAME_REQUEST";
  } else if (code == 0xC01C0018) {
    text = "STATUS_FLT_NAME_CACHE_MISS";
  } else {
    text = fmt::format("Unknown error: {:08X} ({})", code, formatted.error);
  }
  const auto last = text.find_last_not_of(" \r\n");
  if (last != std::string::npos) text.erase(last + 1);
  return text;
}

}  // namespace pbaloader
