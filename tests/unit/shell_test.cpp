// The simulated command interpreter, partitioning utility and folder listings.
#include "platform/sim/shell.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/winconst.h"
#include "support/sim_fixture.h"

namespace pbaloader {
namespace {

namespace fs = std::filesystem;
using testing::SimMachine;

constexpr std::uint64_t MiB = 1u << 20;
constexpr std::uint64_t DiskSize = 8 * MiB;

sim::Json twoDisks(const std::string& systemDirectory = "C:\\Windows\\System32") {
  return sim::Json{{"drives", {{"C:", "c"}}},
                   {"currentDirectory", "C:\\Work"},
                   {"systemDirectory", systemDirectory},
                   {"disks",
                    {{{"number", 0}, {"size", DiskSize}, {"removalPolicy", 1}},
                     {{"number", 1}, {"size", DiskSize}}}}};
}

void writeHostFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

void fill(sim::SimDisk& disk, std::uint8_t value) {
  std::vector<std::uint8_t> bytes(DiskSize, value);
  ASSERT_TRUE(disk.store->write(0, bytes.data(), bytes.size()));
}

// Offsets of the disk that hold zeros, as [first, last) runs.
std::vector<std::pair<std::uint64_t, std::uint64_t>> zeroRuns(sim::SimDisk& disk) {
  std::vector<std::uint8_t> bytes(DiskSize);
  EXPECT_TRUE(disk.store->read(0, bytes.data(), bytes.size()));
  std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;
  for (std::uint64_t i = 0; i < bytes.size();) {
    if (bytes[i] != 0) {
      ++i;
      continue;
    }
    std::uint64_t j = i;
    while (j < bytes.size() && bytes[j] == 0) ++j;
    runs.emplace_back(i, j);
    i = j;
  }
  return runs;
}

using Runs = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

class ShellTest : public ::testing::Test {
 protected:
  void prepare(const sim::Json& description) {
    sim_.reset();  // the old machine uninstalls itself first
    sim_ = std::make_unique<SimMachine>(description);
    fs::create_directories(host("Work"));
    fill(disk(0), 0xAB);
    fill(disk(1), 0xAB);
  }
  fs::path host(const std::string& below) const { return sim_->host() / "c" / below; }
  sim::SimDisk& disk(int i) { return (*sim_)->disks[static_cast<std::size_t>(i)]; }
  sim::Shell& shell() { return (*sim_)->shell; }

  std::unique_ptr<SimMachine> sim_;
};

TEST_F(ShellTest, CleanZeroesBothEndsOfTheSelectedDiskOnly) {
  prepare(twoDisks());
  writeHostFile(host("Work/s.txt"), "select disk 1\nclean\n");
  shell().runSystemCommand("C:\\Windows\\System32\\diskpart.exe /s s.txt >NUL 2>NUL");

  EXPECT_EQ(zeroRuns(disk(1)), (Runs{{0, MiB}, {DiskSize - MiB, DiskSize}}));
  EXPECT_TRUE(zeroRuns(disk(0)).empty());
  EXPECT_EQ(shell().scriptsRun, std::vector<std::string>{"select disk 1\nclean\n"});
  EXPECT_EQ(sim_->output(), "") << "the redirections discard the utility's messages";
  EXPECT_EQ((*sim_)->files.openHandleCount(), 0u);
}

TEST_F(ShellTest, UtilityMessagesReachTheConsoleWithoutRedirection) {
  prepare(twoDisks());
  writeHostFile(host("Work/s.txt"), "select disk 1\nclean\n");
  shell().runSystemCommand("C:\\Windows\\System32\\diskpart.exe /s s.txt");
  EXPECT_NE(sim_->output().find("cleaning the disk"), std::string::npos) << sim_->output();
}

TEST_F(ShellTest, ScriptErrorsStopTheUtilityBeforeAnyClean) {
  for (const char* script :
       {"clean\n", "select disk 7\nclean\n", "select disk 1\nformat\nclean\n"}) {
    SCOPED_TRACE(script);
    prepare(twoDisks());
    writeHostFile(host("Work/s.txt"), script);
    EXPECT_NE(shell().runSystemCommand("C:\\Windows\\System32\\diskpart.exe /s s.txt >NUL 2>NUL"),
              0);
    EXPECT_TRUE(zeroRuns(disk(1)).empty());
  }
}

TEST_F(ShellTest, DiskThatFailsWritesIsNotCleaned) {
  auto description = twoDisks();
  description["disks"][1]["faults"] = {{"failWritesFrom", 0}};
  prepare(description);
  writeHostFile(host("Work/s.txt"), "select disk 1\nclean\n");
  EXPECT_NE(shell().runSystemCommand("C:\\Windows\\System32\\diskpart.exe /s s.txt >NUL 2>NUL"), 0);
  EXPECT_TRUE(zeroRuns(disk(1)).empty());
}

// How the interpreter finds the program: the working directory comes first
// for a bare name, which is why the tool must never send one.
struct ResolveCase {
  const char* name;
  std::vector<std::string> planted;  // below C:\ on the host
  std::string systemDirectory;
  std::string command;
  std::vector<std::string> programsRun;
  bool cleaned;
  int status;  // -1: not checked
};
void PrintTo(const ResolveCase& c, std::ostream* os) { *os << c.name; }

const ResolveCase ResolveCases[] = {
    {"BareNameFindsPlantedExe",
     {"Work/diskpart.exe"},
     "C:\\Windows\\System32",
     "diskpart /s s.txt >NUL 2>NUL",
     {"C:\\Work\\diskpart.exe"},
     false,
     0},
    {"BareNameFindsPlantedBatch",
     {"Work/diskpart.bat"},
     "C:\\Windows\\System32",
     "diskpart /s s.txt >NUL 2>NUL",
     {"C:\\Work\\diskpart.bat"},
     false,
     0},
    {"BareNameWithoutPlantUsesSystemDirectory",
     {},
     "C:\\Windows\\System32",
     "diskpart /s s.txt >NUL 2>NUL",
     {"C:\\Windows\\System32\\diskpart.exe"},
     true,
     0},
    {"FullPathIgnoresPlant",
     {"Work/diskpart.exe"},
     "C:\\Windows\\System32",
     "C:\\Windows\\System32\\diskpart.exe /s s.txt >NUL 2>NUL",
     {"C:\\Windows\\System32\\diskpart.exe"},
     true,
     0},
    {"QuotedPathWithBlanks",
     {"Work/diskpart.exe"},
     "C:\\Sys Dir\\System32",
     "\"C:\\Sys Dir\\System32\\diskpart.exe\" /s s.txt >NUL 2>NUL",
     {"C:\\Sys Dir\\System32\\diskpart.exe"},
     true,
     0},
    {"UnquotedPathWithBlanksIsCutAtTheBlank",
     {},
     "C:\\Sys Dir\\System32",
     "C:\\Sys Dir\\System32\\diskpart.exe /s s.txt >NUL 2>NUL",
     {},
     false,
     9009},
    {"UnknownProgram", {}, "C:\\Windows\\System32", "nosuchtool /x >NUL 2>NUL", {}, false, 9009},
};

class ShellResolveTest : public ShellTest, public ::testing::WithParamInterface<ResolveCase> {};

TEST_P(ShellResolveTest, RunsWhatTheInterpreterWouldFind) {
  const auto& c = GetParam();
  prepare(twoDisks(c.systemDirectory));
  for (const auto& file : c.planted) writeHostFile(host(file), "MZ");
  writeHostFile(host("Work/s.txt"), "select disk 1\nclean\n");
  const int status = shell().runSystemCommand(c.command);
  EXPECT_EQ(shell().programsRun, c.programsRun);
  EXPECT_EQ(!zeroRuns(disk(1)).empty(), c.cleaned);
  EXPECT_TRUE(zeroRuns(disk(0)).empty());
  if (c.status >= 0) {
    EXPECT_EQ(status, c.status);
  }
  EXPECT_EQ(sim_->output(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, ShellResolveTest, ::testing::ValuesIn(ResolveCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShellTest, RewriteScriptActsBeforeTheUtilityUnlessTheScriptIsHeld) {
  auto description = twoDisks();
  description["shell"] = {{"rewriteScript", "select disk 0\nclean\n"}};
  prepare(description);
  writeHostFile(host("Work/s.txt"), "select disk 1\nclean\n");
  auto& files = (*sim_)->files;

  // Held open without write sharing: the other process cannot change it.
  const auto held = files.createFileW(u"C:\\Work\\s.txt", win::GenericRead, win::FileShareRead,
                                      win::OpenExisting, win::FileAttributeNormal);
  ASSERT_NE(held.value, os::InvalidHandle);
  shell().runSystemCommand("C:\\Windows\\System32\\diskpart.exe /s s.txt >NUL 2>NUL");
  files.closeHandle(held.value);
  EXPECT_EQ(shell().scriptsRun, std::vector<std::string>{"select disk 1\nclean\n"});
  EXPECT_TRUE(zeroRuns(disk(0)).empty());

  // Not held: the rewritten script is what runs.
  shell().runSystemCommand("C:\\Windows\\System32\\diskpart.exe /s s.txt >NUL 2>NUL");
  EXPECT_EQ(shell().scriptsRun.back(), "select disk 0\nclean\n");
  EXPECT_FALSE(zeroRuns(disk(0)).empty());
}

// --- Folder listings -----------------------------------------------------------

std::vector<std::string> names(const std::vector<os::DirEntry>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries) {
    std::string name(e.name.begin(), e.name.end());
    if (e.directory) name += "/";
    if (e.reparsePoint) name += "@";
    out.push_back(name);
  }
  return out;
}

TEST_F(ShellTest, ListingShowsDotEntriesFirstThenNamesInUpperCaseOrder) {
  prepare(twoDisks());
  writeHostFile(host("Work/b.txt"), "");
  writeHostFile(host("Work/A.txt"), "");
  writeHostFile(host("Work/_x.bin"), "");
  fs::create_directories(host("Work/sub"));
  fs::create_directory_symlink(host("Work/sub"), host("Work/link"));
  fs::create_symlink(host("Work/b.txt"), host("Work/filelink"));

  const auto listing = shell().listDirectoryW(u"C:\\Work\\");
  ASSERT_EQ(listing.error, 0u);
  // '_' sorts after the upper-case letters, as NTFS compares upper-cased names.
  EXPECT_EQ(names(listing.value),
            (std::vector<std::string>{"./", "../", "A.txt", "b.txt", "filelink@", "link/@", "sub/",
                                      "_x.bin"}));
}

TEST_F(ShellTest, ListingOrderAndUnreadableFoldersComeFromTheDescription) {
  auto description = twoDisks();
  description["folders"] = {{"C:\\Work", {{"order", {"sub", "z.bin"}}}},
                            {"c:\\work\\locked\\", {{"unreadable", true}}}};
  prepare(description);
  writeHostFile(host("Work/a.bin"), "");
  writeHostFile(host("Work/z.bin"), "");
  fs::create_directories(host("Work/sub"));
  fs::create_directories(host("Work/locked"));
  writeHostFile(host("Work/plain.txt"), "");

  const auto listing = shell().listDirectoryW(u"C:\\Work");
  ASSERT_EQ(listing.error, 0u);
  EXPECT_EQ(names(listing.value), (std::vector<std::string>{"./", "../", "sub/", "z.bin", "a.bin",
                                                            "locked/", "plain.txt"}));
  EXPECT_EQ(shell().listDirectoryW(u"C:\\Work\\Locked").error, win::ErrorAccessDenied);
}

TEST_F(ShellTest, ListingErrorsAndDriveRoots) {
  prepare(twoDisks());
  writeHostFile(host("Work/file.txt"), "");
  EXPECT_EQ(shell().listDirectoryW(u"C:\\Work\\missing").error, win::ErrorPathNotFound);
  EXPECT_EQ(shell().listDirectoryW(u"D:\\").error, win::ErrorPathNotFound);
  EXPECT_EQ(shell().listDirectoryW(u"C:\\Work\\file.txt").error, win::ErrorDirectory);
  // A relative folder is taken from the current directory.
  EXPECT_EQ(shell().listDirectoryW(u".").value.size(), 3u);

  const auto root = shell().listDirectoryW(u"C:\\");
  ASSERT_EQ(root.error, 0u);
  EXPECT_EQ(names(root.value), std::vector<std::string>{"Work/"}) << "a root has no . or ..";
}

}  // namespace
}  // namespace pbaloader
