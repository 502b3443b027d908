// UTF-8/UTF-16 conversion and GetModuleFileNameW, as the tool calls them.
#include <string>
#include <vector>

#include "conformance/env.h"
#include "platform/winconst.h"

namespace pbaloader::conformance {
namespace {

using namespace std::string_literals;

struct ToWideCase {
  const char* name;
  std::string in;
  std::u16string out;
  // Where Wine is known to part from Windows, and how.
  const char* wineDiffers = nullptr;
  const char* wineSmallBufferDiffers = nullptr;
};
void PrintTo(const ToWideCase& c, std::ostream* os) { *os << c.name; }

const std::u16string R = u"\uFFFD";

// Ill-formed input: each maximal subpart of a sequence becomes one U+FFFD.
const ToWideCase ToWideCases[] = {
    {"Ascii", "abc", u"abc"},
    {"EmbeddedNulls", "a\0b\0"s, u"a\0b\0"s},
    {"TwoByte", "\xc3\xa4", u"\u00e4"},
    {"ThreeByte", "\xe2\x9c\x93", u"\u2713"},
    {"FourByteBecomesPair", "\xf0\x9f\x98\x80", u"\U0001F600", nullptr,
     "Wine stores the high surrogate alone when only one unit is free"},
    {"LoneContinuation", "a\x80z", u"a" + R + u"z"},
    {"InvalidByte", "\xff\xfe", R + R},
    {"TruncatedAtEnd", "a\xe2\x9c", u"a" + R},
    {"TruncatedBeforeAscii", "\xe2\x9cz", R + u"z"},
    {"TruncatedFourByte", "\xf0\x9f\x98", R},
    {"OverlongTwoByte", "\xc0\x80", R + R},
    {"OverlongThreeByte", "\xe0\x80\xaf", R + R + R,
     "Wine replaces the lead byte and its first continuation byte together"},
    {"EncodedSurrogate", "\xed\xa0\x80", R + R + R,
     "Wine replaces the lead byte and its first continuation byte together"},
    {"BeyondU10FFFF", "\xf4\x90\x80\x80", R + R + R + R,
     "Wine replaces the lead byte and its first continuation byte together"},
    {"FiveByteForm", "\xf8\x88\x80\x80\x80", R + R + R + R + R},
};

class MultiByteToWideChar : public ConformanceTest,
                            public ::testing::WithParamInterface<ToWideCase> {};

TEST_P(MultiByteToWideChar, QueriesConvertsAndRejectsSmallBuffers) {
  const ToWideCase& c = GetParam();
  if (c.wineDiffers) PBA_SKIP_UNDER_WINE(c.wineDiffers);
  auto& os = platform();
  const auto length = os.multiByteToWideChar(win::CpUtf8, 0, c.in, {});
  EXPECT_EQ(length.value, static_cast<int>(c.out.size()));

  std::u16string buffer(c.out.size() + 4, u'#');
  const auto converted = os.multiByteToWideChar(win::CpUtf8, 0, c.in, buffer);
  ASSERT_EQ(converted.value, static_cast<int>(c.out.size())) << converted.error;
  EXPECT_EQ(buffer.substr(0, c.out.size()), c.out);
  EXPECT_EQ(buffer.substr(c.out.size()), u"####");  // nothing written past the result

  if (c.out.size() > 1) {
    if (c.wineSmallBufferDiffers) PBA_SKIP_UNDER_WINE(c.wineSmallBufferDiffers);
    std::u16string small(c.out.size() - 1, u'#');
    const auto failed = os.multiByteToWideChar(win::CpUtf8, 0, c.in, small);
    EXPECT_EQ(failed.value, 0);
    EXPECT_EQ(failed.error, win::ErrorInsufficientBuffer);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, MultiByteToWideChar, ::testing::ValuesIn(ToWideCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct ToUtf8Case {
  const char* name;
  std::u16string in;
  std::string out;
};
void PrintTo(const ToUtf8Case& c, std::ostream* os) { *os << c.name; }

const std::string RBytes = "\xef\xbf\xbd";

const ToUtf8Case ToUtf8Cases[] = {
    {"Ascii", u"abc", "abc"},
    {"EmbeddedNulls", u"\0a\0"s, "\0a\0"s},
    {"TwoByte", u"\u00e4", "\xc3\xa4"},
    {"Pair", u"\U0001F600", "\xf0\x9f\x98\x80"},
    {"LoneHighSurrogate", u"a\xd800z"s, "a" + RBytes + "z"},
    {"LoneLowSurrogate", u"\xdc00"s, RBytes},
    {"HighAtEnd", u"a\xd83d"s, "a" + RBytes},
    {"ReversedPair", u"\xde00\xd83d"s, RBytes + RBytes},
};

class WideCharToMultiByte : public ConformanceTest,
                            public ::testing::WithParamInterface<ToUtf8Case> {};

TEST_P(WideCharToMultiByte, QueriesConvertsAndRejectsSmallBuffers) {
  const ToUtf8Case& c = GetParam();
  auto& os = platform();
  const auto length = os.wideCharToMultiByte(win::CpUtf8, 0, c.in, {});
  EXPECT_EQ(length.value, static_cast<int>(c.out.size()));

  std::string buffer(c.out.size() + 4, '#');
  const auto converted = os.wideCharToMultiByte(win::CpUtf8, 0, c.in, buffer);
  ASSERT_EQ(converted.value, static_cast<int>(c.out.size())) << converted.error;
  EXPECT_EQ(buffer.substr(0, c.out.size()), c.out);

  std::string small(c.out.size() - 1, '#');
  if (!small.empty()) {
    const auto failed = os.wideCharToMultiByte(win::CpUtf8, 0, c.in, small);
    EXPECT_EQ(failed.value, 0);
    EXPECT_EQ(failed.error, win::ErrorInsufficientBuffer);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, WideCharToMultiByte, ::testing::ValuesIn(ToUtf8Cases),
                         [](const auto& info) { return std::string(info.param.name); });

class TextConversion : public ConformanceTest {};

TEST_F(TextConversion, EmptyInputIsAnInvalidParameter) {
  std::u16string wide(4, u'#');
  std::string narrow(4, '#');
  const auto a = platform().multiByteToWideChar(win::CpUtf8, 0, "", wide);
  const auto b = platform().wideCharToMultiByte(win::CpUtf8, 0, u"", narrow);
  EXPECT_EQ(a.value, 0);
  EXPECT_EQ(a.error, win::ErrorInvalidParameter);
  EXPECT_EQ(b.value, 0);
  EXPECT_EQ(b.error, win::ErrorInvalidParameter);
}

class GetModuleFileNameW : public ConformanceTest {};

TEST_F(GetModuleFileNameW, FitsOrReportsTheCapacity) {
  const std::u16string full = env().modulePath();
  ASSERT_GT(full.size(), 4u);
  const auto n = static_cast<std::uint32_t>(full.size());

  const auto roomy = platform().getModuleFileNameW(300 > n ? 300 : n + 1);
  EXPECT_EQ(roomy.text, full);
  EXPECT_EQ(roomy.returned, n);

  const auto exact = platform().getModuleFileNameW(n + 1);  // the null just fits
  EXPECT_EQ(exact.text, full);
  EXPECT_EQ(exact.returned, n);
  EXPECT_EQ(exact.error, 0u);

  for (std::uint32_t capacity : {n, 5u, 1u}) {
    SCOPED_TRACE(capacity);
    const auto cut = platform().getModuleFileNameW(capacity);
    EXPECT_EQ(cut.returned, capacity);
    EXPECT_EQ(cut.error, win::ErrorInsufficientBuffer);
  }
}

TEST_F(GetModuleFileNameW, TruncatedTextEndsWithANull) {
  PBA_SKIP_UNDER_WINE("Wine fills the whole buffer without a null, as Windows XP did");
  const std::u16string full = env().modulePath();
  for (auto capacity : {static_cast<std::uint32_t>(full.size()), 5u, 1u}) {
    SCOPED_TRACE(capacity);
    EXPECT_EQ(platform().getModuleFileNameW(capacity).text, full.substr(0, capacity - 1) + u'\0');
  }
}

}  // namespace
}  // namespace pbaloader::conformance
