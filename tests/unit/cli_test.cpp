// The command line, the banner, the usage text and the entry point's outcome.
#include "app/cli.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/entry.h"
#include "app/loader.h"
#include "support/sim_fixture.h"

namespace pbaloader {
namespace {

using testing::SimMachine;

const std::string Banner =
    "\n"
    "-----------------------------------------------------------\n"
    "Quorin PBA Loader v3.1.0\n"
    "-----------------------------------------------------------\n"
    "Copyright (c) Quorin. All rights reserved.\n"
    "This software is provided \"as is\", without warranty of any\n"
    "kind. You use it at your own risk: Quorin is not liable for\n"
    "any loss of data or damage that results from its use.\n"
    "Unauthorised copying or distribution is prohibited.\n"
    "-----------------------------------------------------------\n"
    "WARNING! This utility will destroy the data on the selected\n"
    "USB drive. DO NOT USE IT IF YOU ARE UNSURE HOW IT WORKS\n"
    "-----------------------------------------------------------\n";

const std::string Usage =
    "-----------------------------------------------------------\n"
    "Usage\n"
    "-----------------------------------------------------------\n"
    "INTERACTIVE MODE: -i         # menu driven mode\n"
    "Configurable parameters:\n"
    "-l                           # print a list of usable USB drives\n"
    "-d <\"drive model\" or path> # drive model name or path\n"
    "-load <path to PBA file> # initialize the pba setup drive\n"
    "-clear                       # clear the PBA setup drive\n"
    "Example: pbaloader.exe -d \\\\.\\PHYSICALDRIVEX -load PBA.pkg\n"
    "-----------------------------------------------------------";

struct ParseCase {
  const char* name;
  std::vector<std::string> args;  // after the program name
  bool accepted;
  LoaderOptions expected;  // when accepted
  Operation operation;     // when accepted
};
void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

LoaderOptions opts(std::string drive, std::string image, bool list, bool load, bool clear,
                   bool interactive) {
  return {std::move(drive), std::move(image), list, load, clear, interactive};
}

const ParseCase ParseCases[] = {
    {"NoArguments", {}, false, {}, {}},
    {"ListAlone", {"-l"}, true, opts("", "", true, false, false, false), Operation::List},
    {"ListThenDrive", {"-l", "-d", "X"}, false, {}, {}},
    {"DriveThenList", {"-d", "X", "-l"}, false, {}, {}},
    {"DriveAloneNamesNoOperation", {"-d", "X"}, false, {}, {}},
    {"LoadWithoutDrive", {"-load", "f.bin"}, false, {}, {}},
    {"ClearAlone", {"-clear"}, false, {}, {}},
    {"DriveLast", {"-d", "X", "-d"}, false, {}, {}},
    {"DriveOnlyArgument", {"-d"}, false, {}, {}},
    {"LoadLast", {"-d", "X", "-load"}, false, {}, {}},
    {"DriveTakesDashL", {"-d", "-l"}, false, {}, {}},
    {"DoubleHyphenIgnored", {"--l"}, false, {}, {}},
    {"UpperCaseIgnored", {"-L"}, false, {}, {}},
    {"UpperCaseLoadIgnored", {"-d", "X", "-LOAD", "f.bin"}, false, {}, {}},
    {"DriveLoadClear",
     {"-d", "a", "-load", "f.bin", "-clear"},
     true,
     opts("a", "f.bin", false, true, true, false),
     Operation::Load},
    {"InteractiveWithLoad",
     {"-i", "-load", "f.bin"},
     true,
     opts("", "f.bin", false, true, false, true),
     Operation::Load},
    {"LaterDriveWins",
     {"-d", "a", "-d", "b", "-load", "f.bin", "-clear"},
     true,
     opts("b", "f.bin", false, true, true, false),
     Operation::Load},
    {"LaterImageWins",
     {"-load", "a.bin", "-i", "-load", "b.bin"},
     true,
     opts("", "b.bin", false, true, false, true),
     Operation::Load},
    {"DriveValueTakenVerbatim",
     {"-d", "-d", "-clear"},
     true,
     opts("-d", "", false, false, true, false),
     Operation::Clear},
    {"DriveClear",
     {"-d", "\\\\.\\PHYSICALDRIVE1", "-clear"},
     true,
     opts("\\\\.\\PHYSICALDRIVE1", "", false, false, true, false),
     Operation::Clear},
    {"InteractiveAlone",
     {"-i"},
     true,
     opts("", "", false, false, false, true),
     Operation::Interactive},
    {"ListBeatsInteractive",
     {"-i", "stray", "-l"},
     true,
     opts("", "", true, false, false, true),
     Operation::List},
};

class ParseCommandLine : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseCommandLine, AcceptsOrFailsWithUsage) {
  const ParseCase& c = GetParam();
  SimMachine sim;
  std::vector<const char*> argv{"C:\\Tools\\pbaloader.exe"};
  for (const auto& a : c.args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(argv.size() - 1);
  if (c.accepted) {
    const LoaderOptions o = parseCommandLine(argc, argv.data());
    EXPECT_EQ(o.driveName, c.expected.driveName);
    EXPECT_EQ(o.imagePath, c.expected.imagePath);
    EXPECT_EQ(o.listMode, c.expected.listMode);
    EXPECT_EQ(o.loadMode, c.expected.loadMode);
    EXPECT_EQ(o.clearMode, c.expected.clearMode);
    EXPECT_EQ(o.interactiveMode, c.expected.interactiveMode);
    EXPECT_EQ(chosenOperation(o), c.operation);
    EXPECT_EQ(sim.output(), "");
  } else {
    try {
      parseCommandLine(argc, argv.data());
      ADD_FAILURE() << "accepted";
    } catch (const ProcessExit& e) {
      EXPECT_EQ(e.status, -1);
    }
    EXPECT_EQ(sim.output(), Usage + "\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ParseCommandLine, ::testing::ValuesIn(ParseCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParseCommandLineArgv, ProgramNameIsExaminedLikeAnyArgument) {
  SimMachine sim;
  const char* argv[] = {"-i", nullptr};
  EXPECT_TRUE(parseCommandLine(1, argv).interactiveMode);
}

TEST(ParseCommandLineArgv, NoArgumentCountIsAUsageError) {
  SimMachine sim;
  const char* argv[] = {nullptr};
  EXPECT_THROW(parseCommandLine(0, argv), ProcessExit);
  EXPECT_EQ(sim.output(), Usage + "\n");
}

TEST(Entry, UsageErrorPrintsBannerThenUsageAndEndsWithMinusOne) {
  SimMachine sim;
  EXPECT_EQ(sim.run({"-d", "X"}), -1);
  EXPECT_EQ(sim.output(), Banner + Usage + "\n");
}

TEST(Entry, ListingEndsWithZeroAfterTheBanner) {
  SimMachine sim;
  EXPECT_EQ(sim.run({"-l"}), 0);
  EXPECT_EQ(sim.output().substr(0, Banner.size()), Banner);
}

TEST(Entry, BannerOnTerminalGoesThroughTheConsole) {
  SimMachine sim(sim::Json{{"console", true}});
  EXPECT_EQ(sim.run({}), -1);
  EXPECT_EQ(sim.output(), Banner + Usage + "\n");
  EXPECT_EQ(sim->console.consoleWrites, 1u);  // the banner; the usage goes through the stream
}

TEST(Entry, OutputFailureIsReportedAsOneLineWithStatusOne) {
  // The banner reaches the console, the usage text's fwrite comes up short.
  SimMachine sim(sim::Json{{"console", true}});
  sim->console.shortStreamWriteAfter = 10;
  EXPECT_EQ(sim.run({}), 1);
  const std::string& out = sim.output();
  ASSERT_EQ(out.substr(0, Banner.size()), Banner);
  const std::string rest = out.substr(Banner.size());
  EXPECT_EQ(rest.substr(0, 10), Usage.substr(0, 10));
  const std::string report = rest.substr(10);
  EXPECT_EQ(report.rfind("\nError: cannot write to file", 0), 0u) << report;
  EXPECT_EQ(report.find('\n', 1), report.size() - 1) << "one line";
}

TEST(Entry, OutputFailureWithNowhereToReportStillEndsWithOne) {
  SimMachine sim;
  sim->console.shortStreamWriteAfter = 0;
  EXPECT_EQ(sim.run({"-l"}), 1);
  EXPECT_EQ(sim.output(), "");
}

struct ModuleCase {
  const char* name;
  std::string module;
  std::string expected;
};
void PrintTo(const ModuleCase& c, std::ostream* os) { *os << c.name; }

class ProgramFileName : public ::testing::TestWithParam<ModuleCase> {};

TEST_P(ProgramFileName, IsTheLastPathComponent) {
  SimMachine sim(sim::Json{{"module", GetParam().module}});
  EXPECT_EQ(programFileName(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgramFileName,
    ::testing::Values(ModuleCase{"Backslash", "C:\\Tools\\pbaloader.exe", "pbaloader.exe"},
                      ModuleCase{"Slash", "C:/Tools/sub/loader.exe", "loader.exe"},
                      ModuleCase{"Mixed", "C:\\Tools/sub\\x.exe", "x.exe"},
                      ModuleCase{"NoSeparator", "pbaloader.exe", "pbaloader.exe"},
                      ModuleCase{"NonAscii",
                                 "C:\\Werkzeug\\Pr\xc3\xbc"
                                 "fger\xc3\xa4t.exe",
                                 "Pr\xc3\xbc"
                                 "fger\xc3\xa4t.exe"},
                      // 300 units bound the path: a longer one is cut to 299 without its null.
                      ModuleCase{"Truncated", "C:\\" + std::string(290, 'a') + "\\pbaloader.exe",
                                 "pbalo"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Usage, NamesTheRunningProgram) {
  SimMachine sim(sim::Json{{"module", "D:\\x\\tool.exe"}});
  EXPECT_NE(usageText().find("Example: tool.exe -d \\\\.\\PHYSICALDRIVEX -load PBA.pkg\n"),
            std::string::npos);
  EXPECT_NE(usageText().back(), '\n');
}

}  // namespace
}  // namespace pbaloader
