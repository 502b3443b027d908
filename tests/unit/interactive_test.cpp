// The pieces of the menu-driven mode: number prompts and the image search.
#include "app/interactive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "app/listing.h"
#include "app/loader.h"
#include "common/console.h"
#include "platform/winconst.h"
#include "support/drives_fixture.h"
#include "support/sim_fixture.h"

namespace pbaloader {
namespace {

namespace fs = std::filesystem;
using testing::afterBanner;
using testing::SimMachine;
using testing::usbDrivesMachine;

TEST(AskNumber, AcceptsOnlyTheRangeOrMinusOneAndNeverWaitsForever) {
  const struct {
    const char* input;
    std::int32_t highest;
    std::int32_t answer;
    const char* rest;  // what the next word read returns
  } cases[] = {
      {"2\n", 3, 2, ""},
      {"0 4 -2 3 x", 3, 3, "x"},
      {"-1 1", 3, -1, "1"},
      {"", 3, -1, ""},                           // end of input before any number
      {"7 9\n", 3, -1, ""},                      // end of input after rejected numbers
      {"abc yes 2", 3, 2, ""},                   // words that are not numbers are passed over
      {"99999999999 -99999999999 1", 3, 1, ""},  // outside 32 bits: not numbers
      {"2x", 3, 2, "x"},                         // the number ends where the digits end
      {"+2", 3, 2, ""},
      {"1 2", 3, 1, "2"},  // answers on one line serve the next prompts
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    SimMachine sim;
    sim->console.stdinText = c.input;
    EXPECT_EQ(askNumber(1, c.highest), c.answer);
    EXPECT_EQ(readWord().value_or(""), c.rest);
    EXPECT_EQ(sim.output(), "") << "a rejected answer is never reported";
  }
}

TEST(ImageFileName, NeedsPbaUnderscoreAnywhereAndALowerCaseExtension) {
  const struct {
    const char* name;
    bool candidate;
  } cases[] = {
      {"pba_x.bin", true},      {"PBA_X.bin", true},  {"old_pba_x.pkg", true},  {"PbA_.pkg", true},
      {"pba_folder.bin", true}, {"PBA_X.BIN", false}, {"pba_x.bin.old", false}, {"pbax.bin", false},
      {"pba_x.Pkg", false},     {"x.bin", false},     {"bin", false},           {"pba_", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isImageFileName(c.name), c.candidate) << c.name;
}

class ImageSearchTest : public ::testing::Test {
 protected:
  void prepare(const std::string& currentDirectory, const sim::Json& extra = sim::Json::object()) {
    sim::Json d{{"drives", {{"C:", "c"}}}, {"currentDirectory", currentDirectory}};
    d.update(extra);
    sim_.reset();  // the old machine uninstalls itself first
    sim_ = std::make_unique<SimMachine>(d);
    fs::create_directories(host(""));
  }
  fs::path host(const std::string& below) const { return sim_->host() / "c" / below; }
  void file(const std::string& below) {
    fs::create_directories(host(below).parent_path());
    std::ofstream(host(below)) << "x";
  }

  std::unique_ptr<SimMachine> sim_;
};

TEST_F(ImageSearchTest, WalksDepthFirstSkipsLinksAndListsTheLastFoundFirst) {
  prepare("C:\\Work");
  file("Work/a/pba_1.bin");
  file("Work/b/PBA_X.bin");
  file("Work/old_pba_x.pkg");
  file("Work/PBA_X.BIN");
  file("Work/pba_x.bin.old");
  file("Work/pbax.bin");
  file("Work/pba_folder.bin/pba_inner.pkg");
  file("Work/deep/er/still/pba_deep.pkg");
  file("Outside/pba_outside.bin");
  fs::create_directory_symlink(host("Outside"), host("Work/pba_link.bin"));
  fs::create_directory_symlink(host("Outside"), host("Work/zz_junction"));

  // Listing order is by upper-cased name: A, B, DEEP, OLD_PBA_X.PKG, PBAX.BIN,
  // PBA_FOLDER.BIN, PBA_LINK.BIN, PBA_X.BIN, PBA_X.BIN.OLD, ZZ_JUNCTION.
  EXPECT_EQ(findImageFiles(), (std::vector<std::string>{
                                  "C:\\Work\\pba_link.bin",
                                  "C:\\Work\\pba_folder.bin\\pba_inner.pkg",
                                  "C:\\Work\\pba_folder.bin",
                                  "C:\\Work\\old_pba_x.pkg",
                                  "C:\\Work\\deep\\er\\still\\pba_deep.pkg",
                                  "C:\\Work\\b\\PBA_X.bin",
                                  "C:\\Work\\a\\pba_1.bin",
                              }));
}

TEST_F(ImageSearchTest, ListingOrderDecidesTheDisplayOrder) {
  prepare("C:\\Work", {{"folders", {{"C:\\Work", {{"order", {"pba_b.bin", "pba_a.bin"}}}}}}});
  file("Work/pba_a.bin");
  file("Work/pba_b.bin");
  EXPECT_EQ(findImageFiles(),
            (std::vector<std::string>{"C:\\Work\\pba_a.bin", "C:\\Work\\pba_b.bin"}));
}

TEST_F(ImageSearchTest, DriveRootGetsNoSecondSeparator) {
  prepare("C:\\");
  file("pba_x.bin");
  file("sub/pba_y.pkg");
  EXPECT_EQ(findImageFiles(), (std::vector<std::string>{"C:\\sub\\pba_y.pkg", "C:\\pba_x.bin"}));
  EXPECT_EQ(imageDirectoryPrefix("C:\\"), "C:\\");
  EXPECT_EQ(imageDirectoryPrefix("C:\\Work"), "C:\\Work\\");
}

TEST_F(ImageSearchTest, UnreadableFolderEndsTheSearchWithTheSystemError) {
  for (const char* unreadable : {"C:\\Work\\b\\locked", "C:\\Work"}) {
    SCOPED_TRACE(unreadable);
    prepare("C:\\Work", {{"folders", {{unreadable, {{"unreadable", true}}}}}});
    file("Work/a/pba_1.bin");
    file("Work/b/locked/pba_2.bin");
    try {
      findImageFiles();
      ADD_FAILURE() << "the search went on past an unreadable folder";
    } catch (const std::system_error& e) {
      EXPECT_EQ(e.code().value(), static_cast<int>(win::ErrorAccessDenied));
      EXPECT_NE(std::string(e.what()).find(unreadable), std::string::npos) << e.what();
    }
  }
}

TEST_F(ImageSearchTest, MissingCurrentDirectoryIsAnErrorToo) {
  prepare("C:\\Gone");
  EXPECT_THROW(findImageFiles(), std::system_error);
}

// --- The dialogue ---------------------------------------------------------------

const std::string Rule = "-----------------------------------------------------------\n";
const std::string DriveMenu =
    "\n" + Rule + " Available USB drives\n" + Rule +
    "1) \\\\.\\PHYSICALDRIVE1 Model: 'Sim Stick' SN: 'S1' [1 partition(s)]\n"
    "2) \\\\.\\PHYSICALDRIVE2 Model: 'Sim Stick' SN: 'S2'\n"
    "3) \\\\.\\PHYSICALDRIVE3 Model: '' SN: ''\n"
    "4) \\\\.\\PHYSICALDRIVE4 Model: 'Stick \xC3\x84' SN: 'S4'\n" +
    Rule + "Select a drive (-1 to quit)\n";
const std::string OperationMenu = "\n" + Rule + " Select an operation (-1 to quit)\n" + Rule +
                                  "1) Load (initialize the selected drive)\n"
                                  "2) Clear (clear the setup data from the selected drive)\n";
const std::string Canceled = "\nCanceled by user.\n";
const std::string NoFiles =
    "No PBA files found. Be sure to maintain the original\n"
    "filename and place the file in the same directory as\n"
    "this utility.\n";
std::string imageMenu(const std::string& lines) {
  return "\n" + Rule + " Select a PBA file (-1 to quit)\n" + Rule + lines;
}
std::string warning(const std::string& operation) {
  return "\n" + Rule + " WARNING! This operation will destroy the data on the\n selected drive!\n" +
         Rule + "Operation: " + operation + "\nEnter YES to continue or NO to cancel\n";
}

struct DialogueCase {
  const char* name;
  std::string input;
  std::vector<std::string> files;  // below the host's C:\Work
  std::string output;              // after the banner
};
void PrintTo(const DialogueCase& c, std::ostream* os) { *os << c.name; }

const std::string TwoImages = imageMenu("1) sub\\pba_x.bin\n2) pba_a.pkg\n");

const DialogueCase DialogueCases[] = {
    {"CancelAtDriveMenu", "-1\n", {}, DriveMenu + Canceled},
    {"RejectedAnswersAreSilent", "0 5 -2 abc 99999999999\n-1\n", {}, DriveMenu + Canceled},
    {"EndOfInputAtDriveMenu", "", {}, DriveMenu + Canceled},
    {"EndOfInputAfterRejectedNumber", "7", {}, DriveMenu + Canceled},
    {"CancelAtOperationMenu", "2\n-1\n", {}, DriveMenu + OperationMenu + Canceled},
    {"EndOfInputAtOperationMenu", "2 3", {}, DriveMenu + OperationMenu + Canceled},
    {"NoImageFiles", "1 1", {"pbax.bin", "PBA_X.BIN"}, DriveMenu + OperationMenu + NoFiles},
    {"CancelAtImageMenu",
     "1 1 3 0 -1",
     {"sub/pba_x.bin", "pba_a.pkg"},
     DriveMenu + OperationMenu + TwoImages + Canceled},
    {"ClearIgnoresOtherWordsUntilNO",
     "1 2 yes Yes Y no NO YES",
     {},
     DriveMenu + OperationMenu + warning("Clear Sim Stick [S/N: S1]") + Canceled},
    {"EndOfInputAtConfirmation",
     "3 2 yes",
     {},
     DriveMenu + OperationMenu + warning("Clear  [S/N: ]") + Canceled},
    {"LoadShowsThePathBelowTheCurrentDirectory",
     "2 1 2 NO",
     {"sub/pba_x.bin", "pba_a.pkg"},
     DriveMenu + OperationMenu + TwoImages + warning("Load pba_a.pkg on Sim Stick [S/N: S2]") +
         Canceled},
};

class Dialogue : public ::testing::TestWithParam<DialogueCase> {};

TEST_P(Dialogue, PrintsEveryMenuAndTouchesNoDriveUnlessConfirmed) {
  const auto& c = GetParam();
  SimMachine sim(usbDrivesMachine());
  for (const auto& f : c.files) {
    const auto path = sim.host() / "c" / "Work" / f;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
  }
  fs::create_directories(sim.host() / "c" / "Work");
  sim->console.stdinText = c.input;
  EXPECT_EQ(sim.run({"-i"}), 0);
  EXPECT_EQ(afterBanner(sim.output()), c.output);
  EXPECT_TRUE(sim->shell.commandLines.empty()) << "no drive was cleaned";
  EXPECT_EQ(sim->files.openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, Dialogue, ::testing::ValuesIn(DialogueCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DialogueRuns, AnswersOnOneLineLeadToTheClearOfTheChosenDrive) {
  SimMachine sim(usbDrivesMachine());
  fs::create_directories(sim.host() / "c" / "Work");
  sim->console.stdinText = "2 2 YES\n";
  EXPECT_EQ(sim.run({"-i"}), 0);
  const std::string out = afterBanner(sim.output());
  const std::string head =
      DriveMenu + OperationMenu + warning("Clear Sim Stick [S/N: S2]") + "\nClearing PBA data\n";
  EXPECT_EQ(out.substr(0, head.size()), head);
  EXPECT_TRUE(out.ends_with("Clearing PBA data: 100% \nPBA data cleared\n")) << out;
  EXPECT_EQ(sim->shell.scriptsRun, std::vector<std::string>{"select disk 2\nclean\n"});
}

TEST(DialogueRuns, WritesTheDriveTheMenuShowedWhateverItsNeighboursModelsRead) {
  auto description = usbDrivesMachine();
  description["disks"][1]["device"]["model"] = "\\\\.\\physicaldrive2";
  description["disks"][1]["device"]["kind"] = "sat";
  SimMachine sim(description);
  fs::create_directories(sim.host() / "c" / "Work");
  const std::uint8_t seed = 0xAB;
  for (int disk : {1, 2}) ASSERT_TRUE(sim->disks[disk].store->write(4096, &seed, 1));
  sim->console.stdinText = "2 2 YES\n";
  PbaLoader loader;
  loader.runInteractive();
  EXPECT_TRUE(sim.output().ends_with("PBA data cleared\n")) << sim.output();
  EXPECT_EQ(sim->shell.scriptsRun, std::vector<std::string>{"select disk 2\nclean\n"});
  std::uint8_t first = 0, second = 0;
  ASSERT_TRUE(sim->disks[1].store->read(4096, &first, 1));
  ASSERT_TRUE(sim->disks[2].store->read(4096, &second, 1));
  EXPECT_EQ(first, seed) << "the drive whose model reads like the path is untouched";
  EXPECT_EQ(second, 0);
  // What the warning named travels to the write.
  ASSERT_TRUE(loader.confirmedDrive.has_value());
  EXPECT_EQ(loader.confirmedDrive->path, "\\\\.\\PHYSICALDRIVE2");
  EXPECT_EQ(loader.confirmedDrive->serialNumber, "S2");
}

// A stick swapped while the question was open: the path now leads to
// another drive, and nothing may be written to it.
TEST(DialogueRuns, DriveThatIsNoLongerTheConfirmedOneIsNotWritten) {
  for (const bool load : {true, false}) {
    SCOPED_TRACE(load ? "load" : "clear");
    SimMachine sim(usbDrivesMachine());
    fs::create_directories(sim.host() / "c" / "Work");
    std::vector<std::uint8_t> before(8192, 0xAB);
    ASSERT_TRUE(sim->disks[2].store->write(0, before.data(), before.size()));
    PbaLoader loader;
    loader.options.driveName = "\\\\.\\PHYSICALDRIVE2";
    loader.options.imagePath = "C:\\Work\\pba_x.bin";
    loader.confirmedDrive = usableUsbDrives()[1];
    loader.confirmedDrive->serialNumber = "S9";  // the stick that was there before
    load ? loader.loadImage() : loader.clearImage();
    EXPECT_EQ(sim.output(), std::string(load ? "\nLoading PBA data\n" : "\nClearing PBA data\n") +
                                "\nThe drive at \\\\.\\PHYSICALDRIVE2 is no longer Sim Stick "
                                "[S/N: S9]; nothing was written\n");
    EXPECT_TRUE(sim->shell.commandLines.empty());
    std::vector<std::uint8_t> after(8192);
    ASSERT_TRUE(sim->disks[2].store->read(0, after.data(), after.size()));
    EXPECT_EQ(after, before);
  }
}

TEST(DialogueRuns, LoadOpensTheChosenFileByItsFullPath) {
  SimMachine sim(usbDrivesMachine());
  const auto image = sim.host() / "c" / "Work" / "sub" / "pba_short.bin";
  fs::create_directories(image.parent_path());
  std::ofstream(image, std::ios::binary) << std::string(3 * 8192, '\x5A');
  sim->console.stdinText = "1 1 1 YES";
  EXPECT_EQ(sim.run({"-i"}), 0);
  // Three whole chunks, then the image ends: no progress line yet.
  EXPECT_TRUE(afterBanner(sim.output())
                  .ends_with(warning("Load sub\\pba_short.bin on Sim Stick [S/N: S1]") +
                             "\nLoading PBA data\n\nRead failed\n\nFailed to write PBA data\n"))
      << sim.output();
  std::uint8_t first[2] = {};
  ASSERT_TRUE(sim->disks[1].store->read(0, first, 1));
  ASSERT_TRUE(sim->disks[1].store->read(512, first + 1, 1));
  EXPECT_EQ(first[0], 0x77) << "the real first sector is written only after the whole region";
  EXPECT_EQ(first[1], 0x5A);
}

TEST(DialogueRuns, UnreadableFolderInTheSearchEndsWithAMessageAndStatusOne) {
  auto description = usbDrivesMachine();
  description["folders"] = {{"C:\\Work\\locked", {{"unreadable", true}}}};
  SimMachine sim(description);
  fs::create_directories(sim.host() / "c" / "Work" / "locked");
  sim->console.stdinText = "1 1 1 YES";
  EXPECT_EQ(sim.run({"-i"}), 1);
  const std::string out = afterBanner(sim.output());
  EXPECT_EQ(out.substr(0, DriveMenu.size() + OperationMenu.size()), DriveMenu + OperationMenu);
  EXPECT_NE(out.find("\nError: cannot read folder \"C:\\Work\\locked\" to find PBA files: "),
            std::string::npos)
      << out;
  EXPECT_TRUE(sim->shell.commandLines.empty());
}

}  // namespace
}  // namespace pbaloader
