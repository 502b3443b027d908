// Console output paths, progress lines and token input.
#include "common/console.h"

#include <gtest/gtest.h>

#include <system_error>

#include "support/sim_fixture.h"

namespace pbaloader {
namespace {

using testing::SimMachine;

const std::string NonAscii = "Laufwerk \xc3\xa4 \xe2\x9c\x93 \xf0\x9f\x98\x80\n";

TEST(PrintText, TerminalGetsUtf16ThroughTheConsoleAfterAFlush) {
  SimMachine sim(sim::Json{{"console", true}});
  print("{} {}\n", "Laufwerk", "\xc3\xa4 \xe2\x9c\x93 \xf0\x9f\x98\x80");
  EXPECT_EQ(sim.output(), NonAscii);  // round trip through UTF-16 keeps every character
  EXPECT_EQ(sim->console.consoleWrites, 1u);
  EXPECT_EQ(sim->console.streamWrites, 0u);
  EXPECT_EQ(sim->console.flushes, 1u);
}

TEST(PrintText, PipeGetsTheUtf8Bytes) {
  SimMachine sim;
  printText(NonAscii);
  EXPECT_EQ(sim.output(), NonAscii);
  EXPECT_EQ(sim->console.consoleWrites, 0u);
  EXPECT_EQ(sim->console.streamWrites, 1u);
}

TEST(PrintText, FailingConsoleWriteFallsBackToTheStream) {
  SimMachine sim(sim::Json{{"console", true}});
  sim->console.failConsoleWrites = true;
  printText(NonAscii);
  EXPECT_EQ(sim.output(), NonAscii);
  EXPECT_EQ(sim->console.consoleWrites, 0u);
  EXPECT_EQ(sim->console.streamWrites, 1u);
}

TEST(PrintText, ShortWriteRaisesASystemError) {
  for (bool console : {false, true}) {
    SimMachine sim(sim::Json{{"console", console}});
    sim->console.failConsoleWrites = true;
    sim->console.shortStreamWriteAfter = 3;
    try {
      printText("abcdef");
      ADD_FAILURE() << "no error";
    } catch (const std::system_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("cannot write to file", 0), 0u) << e.what();
      EXPECT_NE(e.code().value(), 0);
    }
    EXPECT_EQ(sim.output(), "abc");
    EXPECT_THROW(writeStream("x"), std::system_error);
  }
}

TEST(ProgressLine, WritesOnlyWhenTheWholePercentageGrows) {
  SimMachine sim(sim::Json{{"console", true}});
  ProgressLine progress("Writing PBA data: ");
  for (int p : {0, 1, 1, 3, 2, 3, 50}) progress.update(p);
  progress.showComplete();
  progress.update(100);
  EXPECT_EQ(sim.output(),
            "\rWriting PBA data: 1% \rWriting PBA data: 3% \rWriting PBA data: 50% "
            "\rWriting PBA data: 100% ");
  // Through the stream, flushed each time, even on a terminal.
  EXPECT_EQ(sim->console.consoleWrites, 0u);
  EXPECT_EQ(sim->console.flushes, 4u);
}

TEST(ConsoleInput, ReadsWhitespaceSeparatedTokens) {
  SimMachine sim;
  sim->console.stdinText = "  12\t-3\n+4 abc 7x\r\nYES 99999999999 -2147483648 2147483648 - NO";
  using K = NumberRead::Kind;
  const auto number = [](K kind, int value = 0) { return std::pair{kind, value}; };
  const auto read = [] {
    const NumberRead r = readNumber();
    return std::pair{r.kind, static_cast<int>(r.value)};
  };
  EXPECT_EQ(read(), number(K::Number, 12));
  EXPECT_EQ(read(), number(K::Number, -3));
  EXPECT_EQ(read(), number(K::Number, 4));
  EXPECT_EQ(read(), number(K::NotANumber));  // "abc" is skipped whole
  EXPECT_EQ(read(), number(K::Number, 7));
  EXPECT_EQ(readWord(), "x");  // the character that ended the number stays unread
  EXPECT_EQ(readWord(), "YES");
  EXPECT_EQ(read(), number(K::NotANumber));  // beyond 32 bits
  EXPECT_EQ(read(), number(K::Number, -2147483647 - 1));
  EXPECT_EQ(read(), number(K::NotANumber));
  EXPECT_EQ(read(), number(K::NotANumber));  // a sign alone
  EXPECT_EQ(readWord(), "NO");
  EXPECT_EQ(read(), number(K::EndOfInput));
  EXPECT_EQ(readWord(), std::nullopt);
}

TEST(ConsoleInput, MachineDescriptionGivesTheInput) {
  SimMachine sim(sim::Json{{"stdin", "2\nYES\n"}});
  EXPECT_EQ(readNumber().value, 2);
  EXPECT_EQ(readWord(), "YES");
  EXPECT_EQ(readWord(), std::nullopt);
}

TEST(ConsoleInput, EveryReadFlushesStandardOutputFirst) {
  SimMachine sim;
  sim->console.stdinText = "1 a";
  readNumber();
  EXPECT_EQ(sim->console.flushes, 1u);
  readWord();
  EXPECT_EQ(sim->console.flushes, 2u);
}

}  // namespace
}  // namespace pbaloader
