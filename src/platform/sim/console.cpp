// The simulated console, the process start-up data and the UTF-8 code page.
#include "platform/sim/console.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
namespace {

constexpr char16_t Replacement = 0xFFFD;

// Decodes one code point at in[i], advancing i. Ill-formed input yields
// nullopt after consuming its maximal subpart (Unicode's recommended practice,
// which Windows follows for CP_UTF8): the longest prefix of a well-formed
// sequence, or one byte when there is none.
std::optional<char32_t> decodeUtf8(std::string_view in, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(in[k]); };
  const unsigned char lead = byte(i++);
  if (lead < 0x80) return lead;
  int length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  char32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return std::nullopt;
  }
  for (int k = 1; k < length; ++k) {
    if (i >= in.size()) return std::nullopt;
    const unsigned char next = byte(i);
    const unsigned char lo = k == 1 ? low : 0x80, hi = k == 1 ? high : 0xBF;
    if (next < lo || next > hi) return std::nullopt;
    cp = (cp << 6) | (next & 0x3F);
    ++i;
  }
  return cp;
}

void appendUtf16(WString& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Converts the whole input; invalid is set when anything had to be replaced.
WString utf8ToUtf16(std::string_view in, bool& invalid) {
  WString out;
  invalid = false;
  for (std::size_t i = 0; i < in.size();) {
    if (auto cp = decodeUtf8(in, i)) {
      appendUtf16(out, *cp);
    } else {
      out.push_back(Replacement);
      invalid = true;
    }
  }
  return out;
}

std::string utf16ToUtf8(os::WStringView in, bool& invalid) {
  std::string out;
  invalid = false;
  for (std::size_t i = 0; i < in.size(); ++i) {
    char32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = Replacement;
      invalid = true;
    }
    appendUtf8(out, c);
  }
  return out;
}

// The common tail of both conversions: a length query, a copy, or a buffer
// that is too small (Windows reports the failure and keeps nothing usable).
template <class Out, class Text>
os::Result<int> deliver(const Text& converted, std::span<Out> out) {
  if (converted.size() > static_cast<std::size_t>(INT32_MAX))
    return {0, win::ErrorInvalidParameter};
  const int length = static_cast<int>(converted.size());
  if (out.empty()) return {length, 0};
  if (out.size() < converted.size()) {
    std::copy_n(converted.begin(), out.size(), out.begin());
    return {0, win::ErrorInsufficientBuffer};
  }
  std::copy(converted.begin(), converted.end(), out.begin());
  return {length, 0};
}

}  // namespace

os::WString utf8ToUtf16(std::string_view in) {
  bool invalid = false;
  return utf8ToUtf16(in, invalid);
}

std::string utf16ToUtf8(os::WStringView in) {
  bool invalid = false;
  return utf16ToUtf8(in, invalid);
}

void Console::load(const nlohmann::json& d) {
  isConsole = d.value("console", false);
  if (d.contains("stdin")) stdinText = d.at("stdin").get<std::string>();
}

bool Console::stdoutIsConsole() { return isConsole; }

os::Status Console::writeConsoleW(os::WStringView text) {
  if (!isConsole) return {false, win::ErrorInvalidHandle};
  if (failConsoleWrites) return {false, win::ErrorGenFailure};
  ++consoleWrites;
  bool invalid = false;
  const std::string bytes = utf16ToUtf8(text, invalid);
  output += bytes;
  if (echoToHost) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
  }
  return {true, 0};
}

os::Result<std::size_t> Console::writeStdout(std::string_view bytes) {
  ++streamWrites;
  std::size_t n = bytes.size();
  std::uint32_t error = 0;
  if (shortStreamWriteAfter) {
    const std::size_t room =
        *shortStreamWriteAfter > streamBytes_ ? *shortStreamWriteAfter - streamBytes_ : 0;
    if (room < n) n = room, error = 28;  // ENOSPC, as the run-time library reports a full disk
  }
  streamBytes_ += n;
  output.append(bytes.substr(0, n));
  if (echoToHost) std::fwrite(bytes.data(), 1, n, stdout);
  return {n, error};
}

void Console::flushStdout() {
  ++flushes;
  if (echoToHost) std::fflush(stdout);
}

int Console::readStdin() {
  if (pushedBack_ >= 0) {
    const int c = pushedBack_;
    pushedBack_ = -1;
    return c;
  }
  if (!stdinText) {
    const int c = std::getc(stdin);
    return c == EOF ? -1 : c;
  }
  if (stdinPos >= stdinText->size()) return -1;
  return static_cast<unsigned char>((*stdinText)[stdinPos++]);
}

void Console::unreadStdin(int byte) {
  if (byte >= 0) pushedBack_ = byte & 0xFF;
}

os::ModuleFileName Console::getModuleFileNameW(std::uint32_t capacity) {
  const WString& path = machine_.modulePath;
  if (path.size() < capacity) return {path, static_cast<std::uint32_t>(path.size()), 0};
  // Too small: Windows keeps capacity - 1 units and a terminating null.
  if (capacity == 0) return {{}, 0, win::ErrorInsufficientBuffer};
  WString kept = path.substr(0, capacity - 1);
  kept.push_back(u'\0');
  return {kept, capacity, win::ErrorInsufficientBuffer};
}

void Console::exitProcess(int status) { exitStatus = status; }

os::Result<int> Console::multiByteToWideChar(std::uint32_t codePage, std::uint32_t flags,
                                             std::string_view in, std::span<char16_t> out) {
  if (codePage != win::CpUtf8) return {0, win::ErrorInvalidParameter};
  if ((flags & ~win::MbErrInvalidChars) != 0) return {0, win::ErrorInvalidFlags};
  if (in.empty() || in.size() > static_cast<std::size_t>(INT32_MAX))
    return {0, win::ErrorInvalidParameter};
  bool invalid = false;
  const WString wide = utf8ToUtf16(in, invalid);
  if (invalid && (flags & win::MbErrInvalidChars) != 0) return {0, win::ErrorNoUnicodeTranslation};
  return deliver(wide, out);
}

os::Result<int> Console::wideCharToMultiByte(std::uint32_t codePage, std::uint32_t flags,
                                             os::WStringView in, std::span<char> out) {
  if (codePage != win::CpUtf8) return {0, win::ErrorInvalidParameter};
  if ((flags & ~win::WcErrInvalidChars) != 0) return {0, win::ErrorInvalidFlags};
  if (in.empty() || in.size() > static_cast<std::size_t>(INT32_MAX))
    return {0, win::ErrorInvalidParameter};
  bool invalid = false;
  const std::string narrow = utf16ToUtf8(in, invalid);
  if (invalid && (flags & win::WcErrInvalidChars) != 0) return {0, win::ErrorNoUnicodeTranslation};
  return deliver(narrow, out);
}

}  // namespace pbaloader::sim
