// The console's token reader: numbers and words from standard input, in the
// order the fuzzer picks them.
#include <charconv>
#include <string>
#include <utility>

#include "common/console.h"
#include "fuzz/support/fuzz_platform.h"

using namespace pbaloader;

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view skipSpace(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  return text;
}

// Standard input over the fuzzer's bytes, with the one byte of push-back the
// C library gives; position() is where the next read starts.
class StdinPlatform : public fuzz::FuzzPlatform {
 public:
  explicit StdinPlatform(std::string_view text) : text_(text) {}
  int readStdin() override {
    if (pushed_ >= 0) return std::exchange(pushed_, -1);
    return at_ < text_.size() ? static_cast<unsigned char>(text_[at_++]) : -1;
  }
  void unreadStdin(int byte) override {
    PBA_FUZZ_CHECK(pushed_ < 0 && byte >= 0 && byte <= 0xFF);
    pushed_ = byte;
  }
  std::size_t position() const { return at_ - (pushed_ >= 0 ? 1 : 0); }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  int pushed_ = -1;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the reads (bit i: number or word), the rest is the input.
  const std::uint8_t plan = input[0];
  const std::string text(reinterpret_cast<const char*>(input) + 1, size - 1);
  StdinPlatform platform(text);
  os::ScopedPlatform scoped(platform);

  for (unsigned read = 0;; ++read) {
    // Every read that does not end the input consumes at least one byte.
    PBA_FUZZ_CHECK(read <= text.size() + 1);
    const std::size_t from = platform.position();
    if (plan >> (read % 8) & 1) {
      const NumberRead number = readNumber();
      const std::string_view token =
          skipSpace(std::string_view(text).substr(from, platform.position() - from));
      if (number.kind == NumberRead::Kind::EndOfInput) {
        PBA_FUZZ_CHECK(token.empty() && platform.position() == text.size());
        break;
      }
      PBA_FUZZ_CHECK(!token.empty());
      if (number.kind == NumberRead::Kind::Number) {
        // The token is the number and nothing else, as the C library reads it.
        std::string_view digits = token;
        if (digits.front() == '+') digits.remove_prefix(1);
        std::int32_t value = 0;
        const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        PBA_FUZZ_CHECK(parsed.ec == std::errc() && parsed.ptr == digits.data() + digits.size());
        PBA_FUZZ_CHECK(value == number.value);
      }
    } else {
      const auto word = readWord();
      if (!word) {
        PBA_FUZZ_CHECK(platform.position() == text.size());
        break;
      }
      PBA_FUZZ_CHECK(!word->empty());
      for (char c : *word) PBA_FUZZ_CHECK(!isSpace(c));
      const std::string_view consumed =
          std::string_view(text).substr(from, platform.position() - from);
      PBA_FUZZ_CHECK(skipSpace(consumed).substr(0, word->size()) == *word);
    }
  }
  return 0;
}
