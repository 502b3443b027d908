// Disk cleaning before a load or a clear, and its guards against other
// processes of the same user.
#include "pba/clear.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/loader.h"
#include "platform/winconst.h"
#include "support/sim_fixture.h"

namespace pbaloader {
namespace {

namespace fs = std::filesystem;
using testing::SimMachine;

constexpr std::uint64_t MiB = 1u << 20;
constexpr std::uint64_t DiskSize = 16 * MiB;
const std::string Utility = "C:\\Windows\\System32\\diskpart.exe";
const std::string CommandLine = Utility + " /s s.txt >NUL 2>NUL";

sim::Json machineWith(const sim::Json& extra = sim::Json::object()) {
  sim::Json d{{"drives", {{"C:", "c"}}},
              {"currentDirectory", "C:\\Work"},
              {"systemDirectory", "C:\\Windows\\System32"},
              {"disks",
               {{{"number", 0}, {"size", DiskSize}, {"removalPolicy", 1}},
                {{"number", 1}, {"size", DiskSize}}}}};
  d.update(extra);
  return d;
}

class CleanDiskTest : public ::testing::Test {
 protected:
  void prepare(const sim::Json& description = machineWith()) {
    sim_.reset();  // the old machine uninstalls itself first
    sim_ = std::make_unique<SimMachine>(description);
    fs::create_directories(work());
    for (auto& disk : (*sim_)->disks) {
      std::vector<std::uint8_t> bytes(DiskSize, 0xAB);
      ASSERT_TRUE(disk.store->write(0, bytes.data(), bytes.size()));
    }
    loader_.selectedDrive.path = "\\\\.\\PHYSICALDRIVE1";
  }
  fs::path work() const { return sim_->host() / "c" / "Work"; }
  sim::Shell& shell() { return (*sim_)->shell; }
  std::uint8_t byteAt(int disk, std::uint64_t offset) {
    std::uint8_t b = 0;
    EXPECT_TRUE((*sim_)->disks[static_cast<std::size_t>(disk)].store->read(offset, &b, 1));
    return b;
  }
  bool untouched(int disk) {
    for (std::uint64_t at : {std::uint64_t{0}, std::uint64_t{8191}, MiB - 1, DiskSize - 1})
      if (byteAt(disk, at) != 0xAB) return false;
    return true;
  }

  std::unique_ptr<SimMachine> sim_;
  PbaLoader loader_;
};

TEST_F(CleanDiskTest, RunsTheSystemUtilityOnTheSelectedDiskAndRemovesTheScript) {
  prepare();
  EXPECT_EQ(loader_.cleanDisk(), Cleaning::Done);
  EXPECT_EQ(shell().commandLines, std::vector<std::string>{CommandLine});
  EXPECT_EQ(shell().programsRun, std::vector<std::string>{Utility});
  EXPECT_EQ(shell().scriptsRun, std::vector<std::string>{"select disk 1\nclean\n"});
  EXPECT_EQ(byteAt(1, 0), 0);
  EXPECT_EQ(byteAt(1, DiskSize - 1), 0);
  EXPECT_TRUE(untouched(0));
  EXPECT_FALSE(fs::exists(work() / "s.txt"));
  EXPECT_EQ((*sim_)->files.openHandleCount(), 0u);
  EXPECT_EQ(sim_->output(), "");
}

TEST_F(CleanDiskTest, PlantedUtilityInTheWorkingDirectoryNeverRuns) {
  prepare();
  for (const char* name : {"diskpart.exe", "diskpart.com", "diskpart.bat", "diskpart.cmd"})
    std::ofstream(work() / name) << "MZ";
  EXPECT_EQ(loader_.cleanDisk(), Cleaning::Done);
  EXPECT_EQ(shell().programsRun, std::vector<std::string>{Utility});
}

TEST_F(CleanDiskTest, SystemDirectoryWithBlanksIsQuoted) {
  prepare(machineWith({{"systemDirectory", "C:\\Sys Dir\\System32"}}));
  std::ofstream(work() / "diskpart.exe") << "MZ";
  EXPECT_EQ(loader_.cleanDisk(), Cleaning::Done);
  EXPECT_EQ(
      shell().commandLines,
      std::vector<std::string>{"\"C:\\Sys Dir\\System32\\diskpart.exe\" /s s.txt >NUL 2>NUL"});
  EXPECT_EQ(shell().programsRun, std::vector<std::string>{"C:\\Sys Dir\\System32\\diskpart.exe"});
  EXPECT_EQ(byteAt(1, 0), 0);
}

TEST(CleanCommandLine, NamesTheUtilityUnderTheSystemDirectoryOrNothing) {
  const struct {
    const char* directory;
    std::optional<std::string> line;
  } cases[] = {
      {"C:\\Windows\\System32", "C:\\Windows\\System32\\diskpart.exe /s s.txt >NUL 2>NUL"},
      {"D:\\WIN\\system32\\", "D:\\WIN\\system32\\diskpart.exe /s s.txt >NUL 2>NUL"},
      {"C:\\A B\\System32", "\"C:\\A B\\System32\\diskpart.exe\" /s s.txt >NUL 2>NUL"},
      {"", std::nullopt},
      {"System32", std::nullopt},
      {"C:", std::nullopt},
      {"C:\\Win&dows\\System32", std::nullopt},
      {"C:\\100%WIN%\\System32", std::nullopt},
      {"C:\\Win\"dows", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(cleanCommandLine(c.directory), c.line) << c.directory;
}

TEST_F(CleanDiskTest, AnotherProcessCannotRewriteTheScriptBeforeTheUtilityReadsIt) {
  prepare(machineWith({{"shell", {{"rewriteScript", "select disk 0\nclean\n"}}}}));
  EXPECT_EQ(loader_.cleanDisk(), Cleaning::Done);
  EXPECT_EQ(shell().scriptsRun, std::vector<std::string>{"select disk 1\nclean\n"});
  EXPECT_TRUE(untouched(0));
  EXPECT_FALSE(fs::exists(work() / "s.txt"));
}

// Every way the script can go wrong stops the cleaning before the utility
// runs and before anything is zeroed, and leaves no script behind.
TEST_F(CleanDiskTest, ScriptProblemsSkipTheUtility) {
  const struct {
    const char* name;
    sim::Json fileFaults;
  } cases[] = {
      {"ShortWrite", {{"C:\\Work\\s.txt", {{"shortWritesFrom", 5}}}}},
      {"FailedWrite", {{"C:\\Work\\s.txt", {{"failWritesCount", 1}}}}},
      {"FailedReadBack", {{"C:\\Work\\s.txt", {{"failReadsCount", 1}}}}},
      {"ChangedOnReadBack", {{"C:\\Work\\s.txt", {{"flipByteOnReadAt", {12}}}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    prepare(machineWith({{"fileFaults", c.fileFaults}}));
    EXPECT_EQ(loader_.cleanDisk(), Cleaning::Skipped);
    EXPECT_TRUE(shell().commandLines.empty());
    EXPECT_TRUE(untouched(1));
    EXPECT_EQ((*sim_)->files.openHandleCount(), 0u);
  }
}

TEST_F(CleanDiskTest, PathThatDoesNotEndWithTheDiskNumberIsNotCleaned) {
  prepare();
  // The disk's device interface opens the same disk under a path without its number.
  loader_.selectedDrive.path = "\\\\.\\SIMDISKALIAS";
  (*sim_)->registerDevice(u"\\\\.\\SIMDISKALIAS",
                          sim::DeviceNode{sim::DeviceNode::Kind::RawDisk, 1, 0});
  ASSERT_EQ(queryDiskNumber(loader_.selectedDrive.path), 1u);
  EXPECT_EQ(loader_.cleanDisk(), Cleaning::Skipped);
  EXPECT_TRUE(shell().commandLines.empty());
  EXPECT_TRUE(untouched(1));
  EXPECT_FALSE(fs::exists(work() / "s.txt")) << "the script that was created does not stay";
}

TEST_F(CleanDiskTest, WorkingDirectoryThatIsNotWritableSkipsTheCleaning) {
  prepare();
  fs::permissions(work(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(loader_.cleanDisk(), Cleaning::Skipped);
  fs::permissions(work(), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_TRUE(shell().commandLines.empty());
  EXPECT_TRUE(untouched(1));
}

TEST_F(CleanDiskTest, ExistingFileNamedLikeTheScriptIsLeftAloneAndStopsTheOperation) {
  // Even a file the user cannot see as a script, such as the image itself.
  const std::string theirs = "select disk 0\nclean\nthe user's own bytes";
  for (const bool readOnly : {false, true}) {
    SCOPED_TRACE(readOnly ? "read-only" : "writable");
    prepare();
    std::ofstream(work() / "s.txt") << theirs;
    if (readOnly)
      fs::permissions(work() / "s.txt", fs::perms::owner_write, fs::perm_options::remove);
    EXPECT_EQ(loader_.cleanDisk(), Cleaning::ScriptInTheWay);
    EXPECT_TRUE(shell().commandLines.empty());
    EXPECT_TRUE(untouched(1));
    std::ifstream in(work() / "s.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), theirs);
    EXPECT_EQ((*sim_)->files.openHandleCount(), 0u);
    fs::permissions(work() / "s.txt", fs::perms::owner_write, fs::perm_options::add);
  }
}

TEST_F(CleanDiskTest, QueryDiskNumberNeedsTheWholeAnswer) {
  auto description = machineWith();
  description["disks"][0]["faults"] = {{"deviceNumber", true}};
  prepare(description);
  EXPECT_EQ(queryDiskNumber("\\\\.\\PHYSICALDRIVE1"), 1u);
  EXPECT_EQ(queryDiskNumber("\\\\.\\physicaldrive1"), 1u);
  EXPECT_EQ(queryDiskNumber("\\\\.\\PHYSICALDRIVE0"), std::nullopt);
  EXPECT_EQ(queryDiskNumber("\\\\.\\PHYSICALDRIVE7"), std::nullopt);
  EXPECT_EQ((*sim_)->files.openHandleCount(), 0u);
}

TEST_F(CleanDiskTest, ZeroDriveRangeWritesExactlyTheRange) {
  prepare(machineWith({{"disks", {{{"number", 1}, {"size", std::uint64_t{5} << 30}}}}}));
  const std::uint64_t start = (std::uint64_t{4} << 30) + 512;
  const std::uint64_t length = 3 * ZeroRangeChunk + 1024;
  std::vector<std::uint8_t> ones(length + 1024, 0xAB);
  auto& store = *(*sim_)->disks[0].store;
  ASSERT_TRUE(store.write(start - 512, ones.data(), ones.size()));

  EXPECT_TRUE(loader_.zeroDriveRange(start, length));
  std::vector<std::uint8_t> back(ones.size());
  ASSERT_TRUE(store.read(start - 512, back.data(), back.size()));
  EXPECT_EQ(back[511], 0xAB);
  EXPECT_EQ(back[512], 0);
  EXPECT_EQ(back[512 + length - 1], 0);
  EXPECT_EQ(back[512 + length], 0xAB);
  EXPECT_TRUE(loader_.zeroDriveRange(start, 0));
  EXPECT_EQ((*sim_)->files.openHandleCount(), 0u);
}

TEST_F(CleanDiskTest, ZeroDriveRangeFailsOnARejectedOrShortWrite) {
  for (const sim::Json& faults :
       {sim::Json{{"failWritesFrom", 2 * ZeroRangeChunk}}, sim::Json{{"shortWritesFrom", 4096}}}) {
    SCOPED_TRACE(faults.dump());
    auto description = machineWith();
    description["disks"][1]["faults"] = faults;
    prepare(description);
    EXPECT_FALSE(loader_.zeroDriveRange(0, 3 * ZeroRangeChunk));
    EXPECT_EQ((*sim_)->files.openHandleCount(), 0u);
  }
  prepare();
  loader_.selectedDrive.path = "\\\\.\\PHYSICALDRIVE9";
  EXPECT_FALSE(loader_.zeroDriveRange(0, 512));
}

}  // namespace
}  // namespace pbaloader
