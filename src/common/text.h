// Text helpers shared by every subsystem. Narrow strings hold UTF-8; wide
// strings (UTF-16) appear only at the Windows calls that need them.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace pbaloader {

using WString = os::WString;
using WStringView = os::WStringView;

// UTF-8 to UTF-16 through MultiByteToWideChar(CP_UTF8, 0), the whole input
// (null characters included); empty input gives empty output.
WString toWide(std::string_view text);
// UTF-16 to UTF-8 through WideCharToMultiByte(CP_UTF8, 0); empty gives empty.
std::string toUtf8(WStringView text);

// Cuts the text at its first null character, then removes the characters of
// set from both ends.
std::string trimText(std::string_view text, std::string_view set);

// The two sets the system trims with.
inline constexpr std::string_view BlankSet = " ";
inline constexpr std::string_view WhitespaceSet = "\n\t\r\v\f ";

// Case-insensitive equality that folds ASCII letters only.
bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b);

}  // namespace pbaloader
