#include "common/console.h"

#include <cerrno>
#include <limits>
#include <system_error>

#include "common/text.h"
#include "platform/platform.h"

namespace pbaloader {
namespace {

void writeAll(std::string_view bytes) {
  if (bytes.empty()) return;
  const auto written = os::current().writeStdout(bytes);
  if (written.value < bytes.size()) {
    // A short write without a code still has to be reported as a failure.
    const int code = written.error != 0 ? static_cast<int>(written.error) : EIO;
    throw std::system_error(code, std::generic_category(), "cannot write to file");
  }
}

// The C locale's white space, which is what separates answers.
bool isSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int skipSpace() {
  auto& os = os::current();
  int c = os.readStdin();
  while (c >= 0 && isSpace(c)) c = os.readStdin();
  return c;
}

}  // namespace

void printText(std::string_view text) {
  if (text.empty()) return;
  auto& os = os::current();
  if (os.stdoutIsConsole()) {
    // Text already buffered in the stream must reach the console first.
    os.flushStdout();
    if (os.writeConsoleW(toWide(text)).ok) return;
  }
  writeAll(text);
}

void writeStream(std::string_view text) { writeAll(text); }

void flushStream() { os::current().flushStdout(); }

void ProgressLine::update(int percent) {
  if (percent <= last_) return;
  last_ = percent;
  writeStream(fmt::format("\r{}{}% ", label_, percent));
  flushStream();
}

void ProgressLine::showComplete() {
  last_ = 100;
  writeStream(fmt::format("\r{}100% ", label_));
  flushStream();
}

NumberRead readNumber() {
  flushStream();
  auto& os = os::current();
  int c = skipSpace();
  if (c < 0) return {NumberRead::Kind::EndOfInput, 0};
  std::string token;
  if (c == '+' || c == '-') {
    token.push_back(static_cast<char>(c));
    c = os.readStdin();
  }
  std::int64_t value = 0;
  bool digits = false, overflow = false;
  while (c >= '0' && c <= '9') {
    digits = true;
    if (!overflow) {
      value = value * 10 + (c - '0');
      if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) overflow = true;
    }
    c = os.readStdin();
  }
  if (!digits) {
    // Not a number at all: drop the rest of the word so the next read moves on.
    while (c >= 0 && !isSpace(c)) c = os.readStdin();
    return {NumberRead::Kind::NotANumber, 0};
  }
  // The character that ended the number belongs to the next read.
  if (c >= 0) os.unreadStdin(c);
  if (!token.empty() && token[0] == '-') value = -value;
  if (overflow || value > std::numeric_limits<std::int32_t>::max() ||
      value < std::numeric_limits<std::int32_t>::min())
    return {NumberRead::Kind::NotANumber, 0};
  return {NumberRead::Kind::Number, static_cast<std::int32_t>(value)};
}

std::optional<std::string> readWord() {
  flushStream();
  auto& os = os::current();
  int c = skipSpace();
  if (c < 0) return std::nullopt;
  std::string word;
  while (c >= 0 && !isSpace(c)) {
    word.push_back(static_cast<char>(c));
    c = os.readStdin();
  }
  return word;
}

}  // namespace pbaloader
