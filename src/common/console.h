// Console output and input of the tool. Everything goes to standard output;
// nothing is ever written to standard error.
#pragma once

#include <fmt/format.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pbaloader {

// Prints a message: to a console as UTF-16 through WriteConsoleW (after
// flushing the stdio stream); otherwise, or when that fails, the UTF-8 bytes
// through fwrite. A short fwrite throws std::system_error "cannot write to file".
void printText(std::string_view text);

template <typename... Args>
void print(fmt::format_string<Args...> format, Args&&... args) {
  printText(fmt::format(format, std::forward<Args>(args)...));
}

// Writes to the standard output stream (progress lines, the not-found line,
// the usage text) without the console conversion; flushStream flushes it.
void writeStream(std::string_view text);
void flushStream();

// Tracks a progress line: prints "\r<label><percent>% " and flushes whenever
// the whole percentage grows.
class ProgressLine {
 public:
  explicit ProgressLine(std::string_view label) : label_(label) {}
  // Shows percent when it is greater than the last one shown.
  void update(int percent);
  // Shows "100% " unconditionally.
  void showComplete();

 private:
  std::string label_;
  int last_ = 0;
};

// Console input: whitespace-separated tokens from standard input. Every read
// first flushes standard output.
//
// readNumber skips white space and reads an optionally signed decimal number;
// the character that ends it stays unread for the next read. A word that does
// not start as a number is skipped whole, and a number outside the 32-bit
// range is consumed; both are reported as NotANumber.
struct NumberRead {
  enum class Kind { Number, NotANumber, EndOfInput };
  Kind kind = Kind::EndOfInput;
  std::int32_t value = 0;
};
NumberRead readNumber();
// Reads the next word; nullopt at the end of input.
std::optional<std::string> readWord();

}  // namespace pbaloader
