// The drive listing and the lookup of a drive by model or path.
#include "app/listing.h"

#include <gtest/gtest.h>

#include <map>

#include "app/loader.h"
#include "common/text.h"
#include "discovery/enumerate.h"
#include "support/drives_fixture.h"
#include "support/sim_fixture.h"

namespace pbaloader {
namespace {

using testing::afterBanner;
using testing::SimMachine;
using testing::usbDrivesMachine;

const std::string Rule = "-----------------------------------------------------------\n";

TEST(ListDrives, PrintsEveryUsableDriveWithItsPartitionCount) {
  SimMachine sim(usbDrivesMachine());
  EXPECT_EQ(sim.run({"-l"}), 0);
  EXPECT_EQ(afterBanner(sim.output()),
            "\n" + Rule + " Available USB drives\n" + Rule +
                "\\\\.\\PHYSICALDRIVE1 Model: 'Sim Stick' SN: 'S1' "
                "[1 partition(s)]\n"
                "\\\\.\\PHYSICALDRIVE2 Model: 'Sim Stick' SN: 'S2'\n"
                "\\\\.\\PHYSICALDRIVE3 Model: '' SN: ''\n"
                "\\\\.\\PHYSICALDRIVE4 Model: 'Stick \xC3\x84' SN: 'S4'\n" +
                Rule);
}

TEST(ListDrives, PrintsEachLineRightAfterAskingForItsPartitions) {
  std::size_t enumerationOpens = 0;
  std::string whole;
  {
    SimMachine sim(usbDrivesMachine());
    usableUsbDrives();
    enumerationOpens = sim->files.opens.size();
    EXPECT_EQ(sim.run({"-l"}), 0);
    whole = sim.output();
  }
  const std::string firstLine = "'S1' [1 partition(s)]\n";
  const auto firstLineEnd = whole.find(firstLine);
  ASSERT_NE(firstLineEnd, std::string::npos);

  // Standard output gives up one byte before the end of the first drive line:
  // by then only the first drive may have been asked for its partitions.
  SimMachine sim(usbDrivesMachine());
  sim->console.shortStreamWriteAfter = firstLineEnd + firstLine.size() - 1;
  EXPECT_EQ(sim.run({"-l"}), 1);
  std::map<os::WString, int> asked;
  for (std::size_t i = enumerationOpens; i < sim->files.opens.size(); ++i)
    ++asked[sim->files.opens[i].path];
  EXPECT_GT(asked[u"\\\\.\\PHYSICALDRIVE1"], 0) << "the first drive's partitions were asked for";
  for (const char16_t* later :
       {u"\\\\.\\PHYSICALDRIVE2", u"\\\\.\\PHYSICALDRIVE3", u"\\\\.\\PHYSICALDRIVE4"})
    EXPECT_EQ(asked.count(later), 0u) << "asked before the first line was out";
}

TEST(ListDrives, WithoutUsableDrivesPrintsOneLine) {
  auto description = usbDrivesMachine();
  description["disks"] = {description["disks"][0]};
  SimMachine sim(description);
  EXPECT_EQ(sim.run({"-l"}), 0);
  EXPECT_EQ(afterBanner(sim.output()), "No usable USB drives found\n");
  EXPECT_TRUE(usableUsbDrives().empty());
}

TEST(ListDrives, UsableDrivesKeepTheEnumerationOrder) {
  SimMachine sim(usbDrivesMachine());
  std::vector<std::string> paths;
  for (const auto& drive : usableUsbDrives()) paths.push_back(drive.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"\\\\.\\PHYSICALDRIVE1", "\\\\.\\PHYSICALDRIVE2",
                                             "\\\\.\\PHYSICALDRIVE3", "\\\\.\\PHYSICALDRIVE4"}));
}

struct LookupCase {
  const char* name;
  std::string driveName;
  std::string path;  // empty: not found
};
void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }

const LookupCase LookupCases[] = {
    {"ModelInOtherCase", "sIM sTICK", "\\\\.\\PHYSICALDRIVE1"},
    {"SharedModelPicksTheFirst", "Sim Stick", "\\\\.\\PHYSICALDRIVE1"},
    {"PathInLowerCase", "\\\\.\\physicaldrive2", "\\\\.\\PHYSICALDRIVE2"},
    {"EmptyNameMatchesEmptyModel", "", "\\\\.\\PHYSICALDRIVE3"},
    {"ExactNonAsciiModel", "Stick \xC3\x84", "\\\\.\\PHYSICALDRIVE4"},
    {"NonAsciiLettersAreNotFolded", "stick \xC3\xA4", ""},
    {"Prefix", "Sim", ""},
    {"LeadingBlank", " Sim Stick", ""},
    {"TrailingBlank", "Sim Stick ", ""},
    {"SerialNumber", "S1", ""},
    {"FixedDiskModel", "Internal SSD", ""},
    {"FixedDiskPath", "\\\\.\\PHYSICALDRIVE0", ""},
    {"PathPrefix", "\\\\.\\PHYSICALDRIVE", ""},
};

class SelectDrive : public ::testing::TestWithParam<LookupCase> {};

TEST_P(SelectDrive, MatchesWholeModelOrPathOfAUsableDrive) {
  const auto& c = GetParam();
  SimMachine sim(usbDrivesMachine());
  PbaLoader loader;
  loader.options.driveName = c.driveName;
  if (!c.path.empty()) {
    loader.selectDrive();
    EXPECT_EQ(loader.selectedDrive.path, c.path);
    EXPECT_EQ(sim.output(), "");
    return;
  }
  try {
    loader.selectDrive();
    ADD_FAILURE() << "selectDrive returned for an unknown drive";
  } catch (const ProcessExit& exit) {
    EXPECT_EQ(exit.status, -1);
  }
  EXPECT_EQ(sim.output(), "Drive \"" + c.driveName + "\" not found\n");
  EXPECT_EQ(loader.selectedDrive, DriveInfo{}) << "nothing is selected";
}

INSTANTIATE_TEST_SUITE_P(Cases, SelectDrive, ::testing::ValuesIn(LookupCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Models are free text (40 characters of IDENTIFY) and may read like device paths.
TEST(SelectDriveRecord, APathNamesExactlyOneDriveWhateverTheModelsRead) {
  auto description = usbDrivesMachine();
  description["disks"][1]["device"]["model"] = "\\\\.\\physicaldrive2";
  description["disks"][1]["device"]["kind"] = "sat";
  description["disks"][2]["device"]["model"] = "\\\\.\\PHYSICALDRIVE9";
  description["disks"][2]["device"]["kind"] = "sat";
  description["disks"][4]["device"]["model"] = "\\\\.\\PHYSICALDRIVE0";
  description["disks"][4]["device"]["kind"] = "sat";
  const struct {
    const char* name;
    const char* path;  // nullptr: not found
  } cases[] = {
      {"\\\\.\\PHYSICALDRIVE2", "\\\\.\\PHYSICALDRIVE2"},
      {"\\\\.\\physicaldrive2", "\\\\.\\PHYSICALDRIVE2"},
      {"\\\\.\\PHYSICALDRIVE1", "\\\\.\\PHYSICALDRIVE1"},
      // The fixed disk's path names the fixed disk, not the stick whose model reads like it.
      {"\\\\.\\PHYSICALDRIVE0", nullptr},
      // No drive has this path: it is a model like any other.
      {"\\\\.\\physicaldrive9", "\\\\.\\PHYSICALDRIVE2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine sim(description);
    PbaLoader loader;
    loader.options.driveName = c.name;
    if (c.path != nullptr) {
      loader.selectDrive();
      EXPECT_EQ(loader.selectedDrive.path, c.path);
      continue;
    }
    EXPECT_THROW(loader.selectDrive(), ProcessExit);
    EXPECT_EQ(sim.output(), "Drive \"" + std::string(c.name) + "\" not found\n");
  }
}

TEST(SelectDriveRecord, CopiesTheWholeRecord) {
  SimMachine sim(usbDrivesMachine());
  PbaLoader loader;
  loader.options.driveName = "\\\\.\\PHYSICALDRIVE2";
  loader.selectDrive();
  const auto drives = usableUsbDrives();
  ASSERT_EQ(drives.size(), 4u);
  EXPECT_EQ(loader.selectedDrive, drives[1]);
  EXPECT_EQ(loader.selectedDrive.serialNumber, "S2");
  EXPECT_NE(loader.selectedDrive.lastLba, 0u);
}

TEST(SelectDriveRecord, FixedDriveOfTheSameModelIsPassedOverForALaterUsableOne) {
  auto description = usbDrivesMachine();
  description["disks"][0]["device"]["model"] = "Sim Stick";
  SimMachine sim(description);
  PbaLoader loader;
  loader.options.driveName = "SIM STICK";
  loader.selectDrive();
  EXPECT_EQ(loader.selectedDrive.path, "\\\\.\\PHYSICALDRIVE1");
  EXPECT_EQ(sim.output(), "");
}

// Opens of the raw drive paths, by path.
std::map<os::WString, int> rawDriveOpens(sim::Machine& machine) {
  std::map<os::WString, int> opens;
  for (const auto& open : machine.files.opens)
    if (open.path.starts_with(u"\\\\.\\PHYSICALDRIVE")) ++opens[open.path];
  return opens;
}

TEST(SelectDriveRecord, AsksOnlyTheDriveThatMatchesWhetherItIsUsable) {
  std::map<os::WString, int> enumeration;
  {
    SimMachine sim(usbDrivesMachine());
    enumerateDrives();
    enumeration = rawDriveOpens(sim.machine());
  }
  SimMachine sim(usbDrivesMachine());
  PbaLoader loader;
  loader.options.driveName = "\\\\.\\PHYSICALDRIVE2";
  loader.selectDrive();
  ASSERT_EQ(loader.selectedDrive.path, "\\\\.\\PHYSICALDRIVE2");
  const auto lookup = rawDriveOpens(sim.machine());
  for (const auto& [path, count] : enumeration) {
    SCOPED_TRACE(toUtf8(path));
    if (path == u"\\\\.\\PHYSICALDRIVE2")
      EXPECT_GT(lookup.at(path), count) << "the named drive's usability was asked";
    else
      EXPECT_EQ(lookup.at(path), count) << "a drive that does not match was asked";
  }
}

TEST(SelectDriveRecord, NotFoundEndsTheRunWithStatusMinusOneBeforeAnyWrite) {
  SimMachine sim(usbDrivesMachine());
  EXPECT_EQ(sim.run({"-d", "Sim", "-clear"}), -1);
  EXPECT_EQ(afterBanner(sim.output()), "\nClearing PBA data\nDrive \"Sim\" not found\n");
  EXPECT_TRUE(sim->shell.commandLines.empty());
}

}  // namespace
}  // namespace pbaloader
