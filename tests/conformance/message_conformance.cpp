// The system message table as FormatMessageA delivers it, and the one-line
// texts that systemErrorText makes of it.
#include <string>

#include "conformance/env.h"
#include "discovery/error_text.h"
#include "platform/winconst.h"

namespace pbaloader::conformance {
namespace {

constexpr std::uint32_t FromSystem = win::FormatMessageFromSystem | win::FormatMessageIgnoreInserts;

struct MessageRow {
  std::uint32_t code;
  const char* text;
  bool wineLacksIt = false;
};

// Windows' English texts, with the CR LF the table stores.
const MessageRow Messages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {21, "The device is not ready.\r\n"},
    {23, "Data error (cyclic redundancy check).\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {50, "The request is not supported.\r\n"},
    {55, "The specified network resource or device is no longer available.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {121, "The semaphore timeout period has expired.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {170, "The requested resource is in use.\r\n"},
    {1117, "The request could not be performed because of an I/O device error.\r\n"},
    {1167, "The device is not connected.\r\n"},
    {1460, "This operation returned because the timeout period expired.\r\n"},
    {2404, "The device is in use by an active process and cannot be disconnected.\r\n", true},
};

class MessageTable : public ConformanceTest, public ::testing::WithParamInterface<MessageRow> {};

TEST_P(MessageTable, SystemTextEndsWithCrLf) {
  const MessageRow& row = GetParam();
  char buffer[1024] = {};
  const auto r = platform().formatMessageA(FromSystem, row.code, 0, buffer, sizeof(buffer));
  if (row.wineLacksIt) PBA_SKIP_UNDER_WINE("its table has no message for this code");
  ASSERT_GT(r.value, 0u) << "error " << r.error;
  const std::string text(buffer, r.value);
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_EQ(buffer[r.value], '\0');
  PBA_SKIP_UNDER_WINE("its message texts are shorter than Windows' own");
  EXPECT_EQ(text, row.text);
}

INSTANTIATE_TEST_SUITE_P(Codes, MessageTable, ::testing::ValuesIn(Messages),
                         [](const auto& info) { return "Code" + std::to_string(info.param.code); });

class Messages : public ConformanceTest {};

TEST_F(Messages, CodeWithoutMessageFailsWithMessageNotFound) {
  char buffer[1024] = {};
  for (std::uint32_t code : {0x2000ABCDu, 0xC01C0005u, 0xC01C0018u}) {
    const auto r = platform().formatMessageA(FromSystem, code, 0, buffer, sizeof(buffer));
    EXPECT_EQ(r.value, 0u) << code;
    EXPECT_EQ(r.error, win::ErrorMrMidNotFound) << code;
  }
}

TEST_F(Messages, BufferTooSmallForTheTextFails) {
  char buffer[8] = {};
  const auto r = platform().formatMessageA(FromSystem, 5, 0, buffer, sizeof(buffer));
  EXPECT_EQ(r.value, 0u);
  EXPECT_EQ(r.error, win::ErrorInsufficientBuffer);
}

TEST_F(Messages, SystemErrorTextIsTheSystemTextWithoutItsLineBreak) {
  for (std::uint32_t code : {5u, 0u, 2u}) {
    char buffer[1024] = {};
    const auto r = platform().formatMessageA(FromSystem, code, 0, buffer, sizeof(buffer));
    ASSERT_GT(r.value, 2u);
    EXPECT_EQ(systemErrorText(code), std::string(buffer, r.value - 2)) << code;
  }
  EXPECT_EQ(systemErrorText(0xC01C0005), "STATUS_FLT_INVALID_NAME_REQUEST");
  EXPECT_EQ(systemErrorText(0xC01C0018), "STATUS_FLT_NAME_CACHE_MISS");
  EXPECT_EQ(systemErrorText(0x2000ABCD), "Unknown error: 2000ABCD (317)");
  EXPECT_EQ(systemErrorText(0x0000ABCD), "Unknown error: 0000ABCD (317)");

  PBA_SKIP_UNDER_WINE("its message texts are shorter than Windows' own");
  EXPECT_EQ(systemErrorText(5), "Access is denied.");
  EXPECT_EQ(systemErrorText(0), "The operation completed successfully.");
}

}  // namespace
}  // namespace pbaloader::conformance
