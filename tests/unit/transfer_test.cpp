// Opening the image and the drive, positioning both, copying and comparing
// chunks, and the pauses between tries on the virtual clock.
#include "pba/transfer.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "platform/winconst.h"
#include "transfer_fixture.h"

namespace pbaloader {
namespace {

using testing::DrivePath;
using testing::ImagePath;
using testing::pattern;
using testing::TransferMachine;
using Ms = std::vector<std::int64_t>;

// --- Opening ----------------------------------------------------------------

struct OpenCase {
  const char* name;
  sim::Json faults;
  std::string path;
  bool opened;
  std::vector<std::uint32_t> shares;  // share mode of each CreateFileW, in order
  Ms sleeps;
};

class OpenDrive : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenDrive, TriesExclusiveThenSharedWithPauses) {
  const OpenCase& c = GetParam();
  TransferMachine m(1 << 20, c.faults);
  {
    FileHandle h = openDrive(c.path);
    EXPECT_EQ(h.valid(), c.opened);
    std::vector<std::uint32_t> shares;
    for (const auto& o : m.machine().files.opens) {
      shares.push_back(o.share);
      EXPECT_EQ(o.access, win::GenericRead | win::GenericWrite);
      EXPECT_EQ(o.disposition, win::OpenExisting);
      EXPECT_EQ(o.path, u"\\\\.\\PHYSICALDRIVE1") << "path reaches the system unchanged";
    }
    EXPECT_EQ(shares, c.shares);
    EXPECT_EQ(m.sleepsMs(), c.sleeps);
    EXPECT_EQ(m.output(), "") << "opening prints nothing";
  }
  EXPECT_EQ(m.openHandles(), 0u);
}

const std::vector<std::uint32_t> AllSeven = {0, 0, 0, 0, 0, 3, 3};

INSTANTIATE_TEST_SUITE_P(
    Transfer, OpenDrive,
    ::testing::Values(OpenCase{"FreeDrive", sim::Json::object(), DrivePath, true, {0}, {}},
                      OpenCase{"HeldOpenSharedOpensOnSixthTry",
                               {{"heldOpenShared", true}},
                               DrivePath,
                               true,
                               {0, 0, 0, 0, 0, 3},
                               Ms(5, 500)},
                      OpenCase{"TwoTransientFailures",
                               {{"failOpensCount", 2}},
                               DrivePath,
                               true,
                               {0, 0, 0},
                               Ms(2, 500)},
                      OpenCase{"NeverOpensAfterSevenTriesAndSevenPauses",
                               {{"failOpens", true}},
                               DrivePath,
                               false,
                               AllSeven,
                               Ms(7, 500)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OpenDriveMissing, TriesSevenTimesOnAPathThatDoesNotExist) {
  TransferMachine m;
  EXPECT_FALSE(openDrive("\\\\.\\PHYSICALDRIVE7").valid());
  ASSERT_EQ(m.machine().files.opens.size(), 7u);
  EXPECT_EQ(m.machine().files.opens.back().error, win::ErrorFileNotFound);
  EXPECT_EQ(m.sleepsMs(), Ms(7, 500));
}

TEST(OpenImageFile, AsksForReadAndWriteSharedInOneTry) {
  TransferMachine m;
  m.writeImage(16, 0, pattern(0, 16));
  {
    FileHandle h = openImageFile(ImagePath);
    EXPECT_TRUE(h.valid());
    ASSERT_EQ(m.machine().files.opens.size(), 1u);
    const auto& o = m.machine().files.opens[0];
    EXPECT_EQ(o.access, win::GenericRead | win::GenericWrite);
    EXPECT_EQ(o.share, win::FileShareRead | win::FileShareWrite);
    EXPECT_EQ(o.disposition, win::OpenExisting);
  }
  EXPECT_EQ(m.openHandles(), 0u) << "FileHandle closes what it owns";
}

TEST(OpenImageFile, FailsOnceWithoutPauseForMissingAndReadOnlyImages) {
  TransferMachine m;
  EXPECT_FALSE(openImageFile("C:\\missing.bin").valid());
  EXPECT_FALSE(std::filesystem::exists(m.hostImage().parent_path() / "missing.bin"));
  m.writeImage(16, 0, pattern(0, 16));
  std::filesystem::permissions(m.hostImage(), std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  EXPECT_FALSE(openImageFile(ImagePath).valid()) << "write access is asked for";
  ASSERT_EQ(m.machine().files.opens.size(), 2u);
  EXPECT_EQ(m.machine().files.opens[0].error, win::ErrorFileNotFound);
  EXPECT_EQ(m.machine().files.opens[1].error, win::ErrorAccessDenied);
  EXPECT_TRUE(m.sleepsMs().empty());
  EXPECT_EQ(m.output(), "");
}

// --- Positioning --------------------------------------------------------------

struct SeekCase {
  const char* name;
  sim::Json diskFaults;
  sim::Json imageFaults;
  bool ok;
  std::string output;
  std::uint64_t imageSeeks;
};

class SeekBoth : public ::testing::TestWithParam<SeekCase> {};

TEST_P(SeekBoth, PositionsDriveThenImage) {
  const SeekCase& c = GetParam();
  const std::uint64_t offset = 0x100000200;  // beyond 4 GiB: the high part matters
  TransferMachine m(std::uint64_t{8} << 30, c.diskFaults, c.imageFaults);
  m.writeImage(64, 0, pattern(0, 64));
  TransferState s;
  s.imageHandle = openImageFile(ImagePath);
  s.driveHandle = openDrive(DrivePath);
  EXPECT_EQ(seekBoth(s, offset), c.ok);
  EXPECT_EQ(m.output(), c.output);
  EXPECT_EQ(m.machine().files.object(s.imageHandle.get())->log->seekCalls, c.imageSeeks);
  if (c.ok) {
    EXPECT_EQ(m.machine().files.object(s.driveHandle.get())->position, offset);
    EXPECT_EQ(m.machine().files.object(s.imageHandle.get())->position, offset);
  }
}

INSTANTIATE_TEST_SUITE_P(Transfer, SeekBoth,
                         ::testing::Values(SeekCase{"Both", sim::Json::object(),
                                                    sim::Json::object(), true, "", 1},
                                           SeekCase{"DriveFailsImageUntouched",
                                                    {{"failSeeks", true}},
                                                    sim::Json::object(),
                                                    false,
                                                    "\nOutput seek failed\n",
                                                    0},
                                           SeekCase{"ImageFails",
                                                    sim::Json::object(),
                                                    {{"failSeeks", true}},
                                                    false,
                                                    "\nPBA file seek failed\n",
                                                    1}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Copying ------------------------------------------------------------------

// An image of imageSize pattern bytes and both handles open at offset 0.
struct CopyRig {
  explicit CopyRig(std::uint64_t imageSize, sim::Json diskFaults = sim::Json::object(),
                   sim::Json imageFaults = sim::Json::object(), std::uint64_t diskSize = 1 << 20)
      : m(diskSize, std::move(diskFaults), std::move(imageFaults)) {
    m.writeImage(imageSize, 0, pattern(0, imageSize));
    s.imageHandle = openImageFile(ImagePath);
    s.driveHandle = openDrive(DrivePath);
  }
  sim::IoLog& imageLog() { return *m.machine().files.object(s.imageHandle.get())->log; }
  TransferMachine m;
  TransferState s;
};

TEST(CopyChunk, FirstChunkGetsFillerSectorAndLaterChunksAreCopiedAsRead) {
  CopyRig r(3 * ChunkSize);
  r.s.firstSectorPending = true;
  ASSERT_TRUE(copyChunk(r.s, ChunkSize));
  EXPECT_FALSE(r.s.firstSectorPending);
  EXPECT_EQ(r.s.bytesTransferred, ChunkSize);
  ASSERT_TRUE(copyChunk(r.s, ChunkSize));
  ASSERT_TRUE(copyChunk(r.s, 1024));

  std::vector<std::uint8_t> expected = pattern(0, 2 * ChunkSize + 1024);
  std::fill_n(expected.begin(), 512, FillerByte);
  EXPECT_EQ(r.m.readDisk(0, expected.size()), expected);
  EXPECT_EQ(r.m.readDisk(expected.size(), 512), std::vector<std::uint8_t>(512, 0));
  EXPECT_EQ(r.m.output(), "");
  EXPECT_TRUE(r.m.sleepsMs().empty());
}

TEST(CopyChunk, ImageEndingInsideTheChunkFailsAtOnceWithoutWriting) {
  CopyRig r(ChunkSize - 1);
  EXPECT_FALSE(copyChunk(r.s, ChunkSize));
  EXPECT_EQ(r.m.output(), "\nRead failed\n");
  EXPECT_TRUE(r.m.sleepsMs().empty());
  EXPECT_TRUE(r.m.diskLog().writes.empty());
}

struct CopyFaultCase {
  const char* name;
  sim::Json diskFaults;
  sim::Json imageFaults;
  bool ok;
  std::string output;
  std::size_t writeCalls;
  Ms sleeps;
};

class CopyChunkFaults : public ::testing::TestWithParam<CopyFaultCase> {};

TEST_P(CopyChunkFaults, RetriesThreeTimesWithPausesAndNeverPassesAShortWrite) {
  const CopyFaultCase& c = GetParam();
  CopyRig r(2 * ChunkSize, c.diskFaults, c.imageFaults);
  EXPECT_EQ(copyChunk(r.s, ChunkSize), c.ok);
  EXPECT_EQ(r.m.output(), c.output);
  EXPECT_EQ(r.m.diskLog().writes.size(), c.writeCalls);
  EXPECT_EQ(r.m.sleepsMs(), c.sleeps);
  if (c.ok) {
    EXPECT_EQ(r.s.bytesTransferred, ChunkSize);
    EXPECT_EQ(r.m.readDisk(0, ChunkSize), pattern(0, ChunkSize)) << "written at its place";
    ASSERT_TRUE(copyChunk(r.s, ChunkSize)) << "the next chunk follows on";
    EXPECT_EQ(r.m.readDisk(ChunkSize, ChunkSize), pattern(ChunkSize, ChunkSize));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Transfer, CopyChunkFaults,
    ::testing::Values(CopyFaultCase{"DriveRejectsEveryWrite",
                                    {{"failWritesFrom", 0}},
                                    sim::Json::object(),
                                    false,
                                    "\nWrite failed\n",
                                    3,
                                    Ms(3, 1000)},
                      CopyFaultCase{"TwoTransientWriteFailures",
                                    {{"failWritesCount", 2}},
                                    sim::Json::object(),
                                    true,
                                    "",
                                    3,
                                    Ms(2, 1000)},
                      CopyFaultCase{"ImageUnreadable",
                                    sim::Json::object(),
                                    {{"failReadsFrom", 0}},
                                    false,
                                    "\nRead failed\n",
                                    0,
                                    Ms(3, 1000)},
                      CopyFaultCase{"OneTransientReadFailure",
                                    sim::Json::object(),
                                    {{"failReadsCount", 1}},
                                    true,
                                    "",
                                    1,
                                    Ms(1, 1000)},
                      // A write that reports fewer bytes has moved the drive position by
                      // that much; writing on or again would misplace data.
                      CopyFaultCase{"ShortWriteIsAFailedChunk",
                                    {{"shortWritesFrom", 4096}},
                                    sim::Json::object(),
                                    false,
                                    "\nWrite failed\n",
                                    1,
                                    {}},
                      CopyFaultCase{"ZeroCountWriteIsAFailedChunk",
                                    {{"shortWritesFrom", 0}},
                                    sim::Json::object(),
                                    false,
                                    "\nWrite failed\n",
                                    1,
                                    {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CopyChunk, WritePastTheEndOfTheDriveFails) {
  CopyRig r(2 * ChunkSize, sim::Json::object(), sim::Json::object(), ChunkSize + 4096);
  ASSERT_TRUE(copyChunk(r.s, ChunkSize));
  EXPECT_FALSE(copyChunk(r.s, ChunkSize));
  EXPECT_EQ(r.m.output(), "\nWrite failed\n");
  EXPECT_EQ(r.m.sleepsMs(), Ms(3, 1000));
  EXPECT_EQ(r.m.readDisk(ChunkSize, 4096), std::vector<std::uint8_t>(4096, 0))
      << "nothing of the chunk reached the drive";
}

// --- Comparing ----------------------------------------------------------------

// Image and drive holding the same pattern; handles at offset 0.
struct CompareRig : CopyRig {
  explicit CompareRig(std::uint64_t imageSize, sim::Json diskFaults = sim::Json::object(),
                      sim::Json imageFaults = sim::Json::object(), std::uint64_t diskSize = 1 << 20)
      : CopyRig(imageSize, std::move(diskFaults), std::move(imageFaults), diskSize) {
    m.writeDisk(0, pattern(0, std::min<std::uint64_t>(imageSize, diskSize)));
  }
};

TEST(CompareChunk, IdenticalDataMatchesAlsoForAShortLastChunk) {
  CompareRig r(ChunkSize + 3048);
  EXPECT_TRUE(compareChunk(r.s, ChunkSize));
  EXPECT_EQ(r.s.bytesTransferred, ChunkSize);
  EXPECT_TRUE(compareChunk(r.s, 3048));
  EXPECT_EQ(r.s.bytesTransferred, 3048u);
  EXPECT_EQ(r.m.output(), "");
  EXPECT_TRUE(r.m.sleepsMs().empty());
}

TEST(CompareChunk, OneDifferingByteIsAMismatch) {
  CompareRig r(2 * ChunkSize, {{"flipByteOnReadAt", ChunkSize + 8191}});
  EXPECT_TRUE(compareChunk(r.s, ChunkSize));
  EXPECT_FALSE(compareChunk(r.s, ChunkSize));
  EXPECT_EQ(r.m.output(), "\nData mismatch\n");
}

TEST(CompareChunk, DifferenceBeyondTheComparedSizeIsNotPartOfTheChunk) {
  CompareRig r(ChunkSize, {{"flipByteOnReadAt", 3048}});
  EXPECT_TRUE(compareChunk(r.s, 3048));
  EXPECT_EQ(r.m.output(), "");
}

TEST(CompareChunk, DriveThatCannotBeReadFailsAfterThreeTriesWithPauses) {
  CompareRig r(ChunkSize, {{"failReadsFrom", 0}});
  EXPECT_FALSE(compareChunk(r.s, ChunkSize));
  EXPECT_EQ(r.m.output(), "\nRead failed\n");
  EXPECT_EQ(r.m.sleepsMs(), Ms(3, 1000));
  EXPECT_EQ(r.m.diskLog().readCalls, 3u);
}

TEST(CompareChunk, ImageReadFailuresAreRetriedAndDriveIsNotReadMeanwhile) {
  CompareRig r(ChunkSize, sim::Json::object(), {{"failReadsCount", 2}});
  EXPECT_TRUE(compareChunk(r.s, ChunkSize));
  EXPECT_EQ(r.m.sleepsMs(), Ms(2, 1000));
  EXPECT_EQ(r.m.diskLog().readCalls, 1u);
}

// A retry after a failed drive read must compare the same image bytes: the
// image is not read again, so image and drive stay at the same offset.
TEST(CompareChunk, TransientDriveReadFailureKeepsImageAndDriveAligned) {
  CompareRig r(3 * ChunkSize, {{"failReadsCount", 1}});
  EXPECT_TRUE(compareChunk(r.s, ChunkSize));
  EXPECT_EQ(r.imageLog().readCalls, 1u);
  EXPECT_TRUE(compareChunk(r.s, ChunkSize));
  EXPECT_TRUE(compareChunk(r.s, ChunkSize));
  EXPECT_EQ(r.m.output(), "");
  EXPECT_EQ(r.m.sleepsMs(), Ms(1, 1000));
}

// The stale bytes left in the buffers would compare equal here (zeros on
// both sides); a short read must fail instead of passing uncompared bytes.
TEST(CompareChunk, ShortImageReadFailsInsteadOfComparingStaleBytes) {
  CompareRig r(4096);
  EXPECT_FALSE(compareChunk(r.s, ChunkSize));
  EXPECT_EQ(r.m.output(), "\nRead failed\n");
  EXPECT_TRUE(r.m.sleepsMs().empty());
}

TEST(CompareChunk, DriveEndingInsideTheChunkFails) {
  CompareRig r(2 * ChunkSize, sim::Json::object(), sim::Json::object(), ChunkSize + 4096);
  EXPECT_TRUE(compareChunk(r.s, ChunkSize));
  EXPECT_FALSE(compareChunk(r.s, ChunkSize));
  EXPECT_EQ(r.m.output(), "\nRead failed\n");
}

TEST(CompareChunk, ShortDriveReadFailsWithoutRetry) {
  CompareRig r(ChunkSize, {{"shortReadsFrom", 4096}});
  EXPECT_FALSE(compareChunk(r.s, ChunkSize));
  EXPECT_EQ(r.m.output(), "\nRead failed\n");
  EXPECT_EQ(r.m.diskLog().readCalls, 1u);
}

// --- Pausing ------------------------------------------------------------------

TEST(Pause, SleepsUntilTheDeadlineAndClampsAtTheEndOfTheClock) {
  TransferMachine m;
  const std::int64_t start = m.machine().clockNs;
  pause(1234);
  EXPECT_EQ(m.machine().clockNs, start + 1'234'000'000);
  const std::int64_t late = std::numeric_limits<std::int64_t>::max() - 5;
  m.machine().clockNs = late;
  pause(1000);
  EXPECT_EQ(m.machine().sleepsNs, (std::vector<std::int64_t>{1'234'000'000, 5}));
  EXPECT_EQ(m.machine().clockNs, std::numeric_limits<std::int64_t>::max());
}

}  // namespace
}  // namespace pbaloader
