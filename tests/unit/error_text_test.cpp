// systemErrorText on texts the real table does not have: long messages,
// inner line breaks and texts made only of blanks.
#include "discovery/error_text.h"

#include <gtest/gtest.h>

#include "support/sim_fixture.h"

namespace pbaloader {
namespace {

TEST(SystemErrorText, TrimsOnlyTrailingBlanksAndLineBreaks) {
  testing::SimMachine machine(sim::Json{{"messages",
                                         {{"70000", "  Two lines:\r\nsecond one. \r\n \r\n"},
                                          {"70001", " \r\n"},
                                          {"70002", std::string(1023, 'x') + "\r\n"},
                                          {"70003", std::string(1021, 'y') + "\r\n"},
                                          {"5", nullptr}}}});
  EXPECT_EQ(systemErrorText(70000), "  Two lines:\r\nsecond one.");
  EXPECT_EQ(systemErrorText(70001), " \r\n");  // only such characters: unchanged
  // A message longer than the buffer has no text of its own.
  EXPECT_EQ(systemErrorText(70002), "Unknown error: 00011172 (122)");
  EXPECT_EQ(systemErrorText(70003), std::string(1021, 'y'));  // with its null, it just fits
  EXPECT_EQ(systemErrorText(5), "Unknown error: 00000005 (317)");
}

TEST(SystemErrorText, FallbackNumberIsTheFormatMessageError) {
  testing::SimMachine machine;
  EXPECT_EQ(systemErrorText(0x1234), "Unknown error: 00001234 (317)");
  EXPECT_EQ(systemErrorText(0xFFFFFFFF), "Unknown error: FFFFFFFF (317)");
}

}  // namespace
}  // namespace pbaloader
