// The order of the writes of a load and of a clear on the drive.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "pba/transfer.h"
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

// Disk 1 keeps its bytes in a host file, so a whole load costs no memory.
sim::Json fileBackedStick() {
  auto description = usbDrivesMachine();
  description["disks"][1]["backing"] = "stick.img";
  return description;
}

std::uint64_t furthestByte(const std::vector<sim::IoRecord>& writes) {
  std::uint64_t end = 0;
  for (const auto& w : writes) end = std::max(end, w.offset + w.size);
  return end;
}

// The filler and the last write cover the drive's whole first logical sector:
// raw drives take whole sectors only.
TEST(LoadWrites, FillerFirstRealFirstSectorLastNothingPastTheRegion) {
  for (const std::uint32_t sector : {512u, 4096u}) {
    SCOPED_TRACE(sector);
    auto description = fileBackedStick();
    description["disks"][1]["sectorSize"] = sector;
    SimMachine sim(description);
    const fs::path image = sim.host() / "c" / "Work" / "pba_img.bin";
    fs::create_directories(image.parent_path());
    {
      std::ofstream out(image, std::ios::binary);
      out << std::string(4096, '\x11');
    }
    fs::resize_file(image, Region + MiB);

    EXPECT_EQ(sim.run({"-d", "\\\\.\\PHYSICALDRIVE1", "-load", "C:\\Work\\pba_img.bin"}), 0);
    EXPECT_TRUE(afterBanner(sim.output()).ends_with("\nPBA file written\n")) << sim.output();

    const auto& writes = sim->files.diskLog(1).writes;
    // The cleaning's 8 KiB of zeros, 32,768 chunks, then the first sector.
    ASSERT_EQ(writes.size(), 1u + 32768u + 1u);
    EXPECT_EQ(writes[0].offset, 0u);
    EXPECT_EQ(writes[0].size, 8192u);
    for (std::size_t i = 1; i <= 32768; ++i) {
      ASSERT_EQ(writes[i].offset, (i - 1) * 8192) << i;
      ASSERT_EQ(writes[i].size, 8192u) << i;
    }
    EXPECT_EQ(writes.back().offset, 0u);
    EXPECT_EQ(writes.back().size, sector);
    EXPECT_TRUE(writes.back().ok);
    EXPECT_EQ(furthestByte(writes), Region);
    std::vector<std::uint8_t> head(4096);
    ASSERT_TRUE(sim->disks[1].store->read(0, head.data(), head.size()));
    EXPECT_EQ(head, std::vector<std::uint8_t>(4096, 0x11)) << "no filler byte is left";
    EXPECT_EQ(sim->files.openHandleCount(), 0u);
  }
}

TEST(LoadWrites, FirstSectorSizeIsOneWholePlausibleSector) {
  const struct {
    std::uint32_t reported, used;
  } cases[] = {{512, 512}, {4096, 4096}, {8192, 8192}, {0, 512},
               {520, 512}, {256, 512},   {16384, 512}, {0xFFFFFFFF, 512}};
  for (const auto& c : cases) EXPECT_EQ(firstSectorSize(c.reported), c.used) << c.reported;
}

// The drive gives out just when the real first sector is due: the cleaning
// has made one seek and one write, the bulk copy one seek and 32,768 writes.
struct FirstSectorCase {
  const char* name;
  sim::Json faults;
  std::string tail;  // what follows the last progress line
  std::size_t sleeps;
};

class LoadFirstSector : public ::testing::TestWithParam<FirstSectorCase> {};

TEST_P(LoadFirstSector, FailureLeavesTheFillerAndSkipsValidation) {
  const FirstSectorCase& c = GetParam();
  auto description = fileBackedStick();
  description["disks"][1]["faults"] = c.faults;
  SimMachine sim(description);
  const fs::path image = sim.host() / "c" / "Work" / "pba_img.bin";
  fs::create_directories(image.parent_path());
  std::ofstream(image, std::ios::binary) << std::string(512, '\x11');
  fs::resize_file(image, Region);

  EXPECT_EQ(sim.run({"-d", "\\\\.\\PHYSICALDRIVE1", "-load", "C:\\Work\\pba_img.bin"}), 0);
  const std::string out = afterBanner(sim.output());
  EXPECT_TRUE(out.ends_with("\rWriting PBA data: 100% " + c.tail)) << out.substr(out.size() - 200);
  EXPECT_EQ(out.find("Validating"), std::string::npos);
  EXPECT_EQ(sim->sleepsNs.size(), c.sleeps);
  std::vector<std::uint8_t> first(512);
  ASSERT_TRUE(sim->disks[1].store->read(0, first.data(), first.size()));
  EXPECT_EQ(first, std::vector<std::uint8_t>(512, 0x77));
  EXPECT_EQ(sim->files.openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Load, LoadFirstSector,
    ::testing::Values(
        FirstSectorCase{"WriteFails",
                        {{"failWritesAfter", 1 + 32768}},
                        "\nWrite failed\nI/O error while processing beginning of drive\n"
                        "\nFailed to write PBA data\n",
                        3},
        FirstSectorCase{"SeekFails",
                        {{"failSeeksAfter", 2}},
                        "\nOutput seek failed\nSeek error while processing beginning of drive\n"
                        "\nFailed to write PBA data\n",
                        0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClearWrites, ZeroesTheRegionAndEightKiBMoreIn32769Chunks) {
  SimMachine sim(fileBackedStick());
  fs::create_directories(sim.host() / "c" / "Work");
  EXPECT_EQ(sim.run({"-d", "\\\\.\\PHYSICALDRIVE1", "-clear"}), 0);
  EXPECT_TRUE(afterBanner(sim.output()).ends_with("Clearing PBA data: 100% \nPBA data cleared\n"));

  const auto& writes = sim->files.diskLog(1).writes;
  ASSERT_EQ(writes.size(), 1u + 32769u);
  EXPECT_EQ(writes.back().offset, Region);
  EXPECT_EQ(writes.back().size, 8192u);
  EXPECT_EQ(furthestByte(writes), Region + 8192);
  EXPECT_TRUE(std::all_of(writes.begin(), writes.end(), [](const auto& w) { return w.ok; }));
  EXPECT_FALSE(fs::exists(sim.host() / "c" / "Work" / "s.txt"));
}

TEST(ClearWrites, ShortWriteIsReportedAsAFailure) {
  auto description = fileBackedStick();
  description["disks"][1]["faults"] = {{"shortWritesFrom", 100 * MiB + 4096}};
  SimMachine sim(description);
  fs::create_directories(sim.host() / "c" / "Work");
  EXPECT_EQ(sim.run({"-d", "\\\\.\\PHYSICALDRIVE1", "-clear"}), 0);
  const std::string out = afterBanner(sim.output());
  EXPECT_TRUE(out.ends_with("Clearing PBA data: 39% \nWrite failed\n"))
      << out.substr(out.size() - 80);
  EXPECT_EQ(out.find("PBA data cleared"), std::string::npos);
  EXPECT_LE(furthestByte(sim->files.diskLog(1).writes), 100 * MiB + 8192);
}

}  // namespace
}  // namespace pbaloader
