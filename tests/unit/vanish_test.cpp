// A drive that goes away: the simulated machine's removal, and what the load,
// the validation and the clear make of a drive pulled part-way through.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/layout/storage_device_number.h"
#include "platform/winconst.h"
#include "support/drives_fixture.h"
#include "support/sim_fixture.h"

namespace pbaloader {
namespace {

namespace fs = std::filesystem;
using testing::afterBanner;
using testing::SimMachine;
using testing::usbDrivesMachine;

constexpr std::uint64_t MiB = 1u << 20;
constexpr std::uint64_t Region = 256 * MiB;
constexpr char Stick[] = "\\\\.\\PHYSICALDRIVE1";

os::Handle openStick(std::uint32_t* error = nullptr) {
  const auto r = os::current().createFileA(Stick, win::GenericRead | win::GenericWrite,
                                           win::FileShareRead | win::FileShareWrite,
                                           win::OpenExisting, win::FileAttributeNormal);
  if (error) *error = r.error;
  return r.value;
}

os::Transfer deviceNumber(os::Handle h) {
  layout::StorageDeviceNumber number{};
  return os::current().deviceIoControl(h, win::IoctlStorageGetDeviceNumber, nullptr, 0, &number,
                                       sizeof number);
}

os::Transfer readSector(os::Handle h) {
  std::vector<std::uint8_t> sector(512);
  return os::current().readFile(h, sector.data(), 512);
}

TEST(SimRemoval, HandlesOpenedBeforeAPullStayDeadANewOpenReachesTheDriveAgain) {
  auto description = usbDrivesMachine();
  description["disks"][1]["device"]["vanishFor"] = 1;
  SimMachine sim(description);
  auto& os = os::current();
  const os::Handle before = openStick();
  ASSERT_NE(before, os::InvalidHandle);
  // The first pass-through code meets the pull.
  std::vector<std::uint8_t> buffer(512);
  EXPECT_EQ(os.deviceIoControl(before, win::IoctlScsiPassThroughDirect, buffer.data(), 56,
                               buffer.data(), 56)
                .error,
            win::ErrorDevNotExist);
  // The old handle names nothing any more, whatever it is asked.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(deviceNumber(before).error, win::ErrorDevNotExist);
    EXPECT_EQ(readSector(before).error, win::ErrorDevNotExist);
  }
  EXPECT_EQ(os.setFilePointer(before, 0, nullptr, win::FileBegin).error, 0u);
  const os::Handle after = openStick();
  ASSERT_NE(after, os::InvalidHandle);
  EXPECT_TRUE(deviceNumber(after).ok);
  EXPECT_TRUE(readSector(after).ok);
  EXPECT_TRUE(os.closeHandle(before).ok);
  EXPECT_TRUE(os.closeHandle(after).ok);
}

TEST(SimRemoval, ADriveGoneForGoodFailsOldHandlesAndCannotBeOpened) {
  auto description = usbDrivesMachine();
  description["disks"][1]["faults"] = {{"vanishAfterCalls", 2}};
  SimMachine sim(description);
  const os::Handle h = openStick();
  ASSERT_NE(h, os::InvalidHandle);
  EXPECT_TRUE(readSector(h).ok);
  EXPECT_TRUE(deviceNumber(h).ok);
  EXPECT_EQ(readSector(h).error, win::ErrorDevNotExist);
  std::vector<std::uint8_t> sector(512);
  const auto written = os::current().writeFile(h, sector.data(), 512);
  EXPECT_FALSE(written.ok);
  EXPECT_EQ(written.count, 0u);
  EXPECT_EQ(written.error, win::ErrorDevNotExist);
  std::uint32_t error = 0;
  EXPECT_EQ(openStick(&error), os::InvalidHandle);
  EXPECT_EQ(error, win::ErrorFileNotFound);
  EXPECT_TRUE(os::current().closeHandle(h).ok);
  // Counted up to the pull; later calls no longer reach a drive.
  EXPECT_EQ(sim->files.diskFaults(1).driveCalls, 3u);
}

// A sparse image: a recognisable first sector, a header at 128 MiB naming
// 1 MiB, and data there.
void writeImage(const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << std::string(512, '\x11');
  std::string header(1536, '\0');
  header.replace(0, 9, "QUORINMGK");
  header[534 + 2] = 0x10;  // 1 MiB, little-endian
  out.seekp(static_cast<std::streamoff>(Region / 2));
  out << header << std::string(MiB, '\x22');
  out.close();
  fs::resize_file(path, Region);
}

struct PullCase {
  const char* name;
  std::vector<std::string> args;
  // Drive calls that still go through, from the end of the clean run's (< 0)
  // or from its start.
  std::int64_t callsBeforePull;
  std::string tail;
  bool loaded = false;  // every write of the load went through
};

class PulledDrive : public ::testing::TestWithParam<PullCase> {};

// The drive's calls in a run that nothing disturbs.
std::uint64_t cleanDriveCalls(const std::vector<std::string>& args) {
  auto description = usbDrivesMachine();
  description["disks"][1]["backing"] = "stick.img";
  SimMachine sim(description);
  writeImage(sim.host() / "c" / "Work" / "pba_img.bin");
  EXPECT_EQ(sim.run(args), 0);
  return sim->files.diskFaults(1).driveCalls;
}

TEST_P(PulledDrive, TheOperationReportsItsFailureAndNoHalfLoadLooksLoaded) {
  const PullCase& c = GetParam();
  const std::int64_t total = static_cast<std::int64_t>(cleanDriveCalls(c.args));
  const std::int64_t pullAfter =
      c.callsBeforePull < 0 ? total + c.callsBeforePull : c.callsBeforePull;
  auto description = usbDrivesMachine();
  description["disks"][1]["backing"] = "stick.img";
  description["disks"][1]["faults"] = {{"vanishAfterCalls", pullAfter}};
  SimMachine sim(description);
  writeImage(sim.host() / "c" / "Work" / "pba_img.bin");
  EXPECT_EQ(sim.run(c.args), 0);
  const std::string out = afterBanner(sim.output());
  EXPECT_TRUE(out.ends_with(c.tail)) << out.substr(out.size() > 300 ? out.size() - 300 : 0);
  std::uint8_t first = 0;
  ASSERT_TRUE(sim->disks[1].store->read(0, &first, 1));
  // Only a load whose every write went through shows the image's first sector.
  if (c.args[2] == "-load") {
    EXPECT_EQ(first == 0x11, c.loaded);
  }
  EXPECT_EQ(sim->files.openHandleCount(), 0u);
  EXPECT_FALSE(fs::exists(sim.host() / "c" / "Work" / "s.txt"));
}

const std::vector<std::string> LoadArgs{"-d", Stick, "-load", "C:\\Work\\pba_img.bin"};
const std::vector<std::string> ClearArgs{"-d", Stick, "-clear"};

INSTANTIATE_TEST_SUITE_P(
    Operations, PulledDrive,
    ::testing::Values(
        // Half-way through the bulk copy: the chunk fails three times.
        PullCase{"LoadBulk", LoadArgs, 16000, "\nWrite failed\n\nFailed to write PBA data\n"},
        // The real first sector is the last write before the validation's
        // 129 drive reads.
        PullCase{"LoadFirstSector", LoadArgs, -130,
                 "\nWrite failed\nI/O error while processing beginning of drive\n"
                 "\nFailed to write PBA data\n"},
        // Gone at the validation's first read.
        PullCase{"Validation", LoadArgs, -129, "\nRead failed\n\nFailed to write PBA data\n", true},
        PullCase{"Clear", ClearArgs, 20000, "\nWrite failed\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pbaloader
