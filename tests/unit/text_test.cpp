// Trimming, ASCII-only case folding and the conversions' empty and round-trip cases.
#include "common/text.h"

#include <gtest/gtest.h>

#include "support/sim_fixture.h"

namespace pbaloader {
namespace {

using namespace std::string_literals;

struct TrimCase {
  std::string text;
  std::string_view set;
  std::string expected;
};

TEST(TrimText, CutsAtNullThenTrimsBothEnds) {
  const TrimCase cases[] = {
      {"  a b  ", BlankSet, "a b"},  {"\t\n x y\r\v\f ", WhitespaceSet, "x y"},
      {"\tx\t", BlankSet, "\tx\t"},  // only the set's characters go
      {"     ", BlankSet, ""},       {"", WhitespaceSet, ""},
      {"ab\0  cd"s, BlankSet, "ab"}, {" a \0 b "s, BlankSet, "a"},
      {"\0abc"s, BlankSet, ""},      {"Model  X ", BlankSet, "Model  X"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(trimText(c.text, c.set), c.expected) << "[" << c.text << "]";
}

TEST(EqualsIgnoreAsciiCase, FoldsAsciiLettersOnly) {
  EXPECT_TRUE(equalsIgnoreAsciiCase("\\\\.\\physicaldrive1", "\\\\.\\PHYSICALDRIVE1"));
  EXPECT_TRUE(equalsIgnoreAsciiCase("", ""));
  EXPECT_FALSE(equalsIgnoreAsciiCase("abc", "abcd"));
  EXPECT_FALSE(equalsIgnoreAsciiCase("[", "{"));  // 0x5B and 0x7B are no letters
  EXPECT_FALSE(equalsIgnoreAsciiCase("@", "`"));
  EXPECT_FALSE(equalsIgnoreAsciiCase("\xc3\xa4", "\xc3\x84"));  // a-umlaut is not folded
}

TEST(Conversion, RoundTripsAndKeepsNulls) {
  testing::SimMachine sim;
  EXPECT_EQ(toWide(""), u"");
  EXPECT_EQ(toUtf8(u""), "");
  const std::string text = "a\0b \xc3\xa4 \xf0\x9f\x98\x80"s;
  EXPECT_EQ(toWide(text), u"a\0b \u00e4 \U0001F600"s);
  EXPECT_EQ(toUtf8(toWide(text)), text);
}

}  // namespace
}  // namespace pbaloader
