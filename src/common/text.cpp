#include "common/text.h"

#include <span>

#include "platform/winconst.h"

namespace pbaloader {

WString toWide(std::string_view text) {
  if (text.empty()) return {};
  auto& os = os::current();
  const int needed = os.multiByteToWideChar(win::CpUtf8, 0, text, {}).value;
  if (needed <= 0) return {};
  WString wide(static_cast<std::size_t>(needed), u'\0');
  const int written = os.multiByteToWideChar(win::CpUtf8, 0, text, std::span<char16_t>(wide)).value;
  // Never hand back units the call did not write.
  wide.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return wide;
}

std::string toUtf8(WStringView text) {
  if (text.empty()) return {};
  auto& os = os::current();
  const int needed = os.wideCharToMultiByte(win::CpUtf8, 0, text, {}).value;
  if (needed <= 0) return {};
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  const int written = os.wideCharToMultiByte(win::CpUtf8, 0, text, std::span<char>(narrow)).value;
  narrow.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return narrow;
}

std::string trimText(std::string_view text, std::string_view set) {
  text = text.substr(0, text.find('\0'));
  const auto first = text.find_first_not_of(set);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(set);
  return std::string(text.substr(first, last - first + 1));
}

namespace {
char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  return true;
}

}  // namespace pbaloader
