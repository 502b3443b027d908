// The image header, the compared length and the read-back comparison.
#include "pba/validate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pba/transfer.h"
#include "transfer_fixture.h"

namespace pbaloader {
namespace {

using testing::DrivePath;
using testing::ImagePath;
using testing::pattern;
using testing::TransferMachine;
using Ms = std::vector<std::int64_t>;

constexpr std::uint64_t MiB = 1 << 20;
constexpr std::uint64_t ImageSize = 256 * MiB;

std::vector<std::uint8_t> header(std::string_view magic, std::uint8_t flag, std::uint32_t length) {
  std::vector<std::uint8_t> h = pattern(HeaderOffset, HeaderReadSize);
  std::copy(magic.begin(), magic.end(), h.begin());
  h[HeaderFlagOffset] = flag;
  for (int i = 0; i < 4; ++i)
    h[PayloadLengthOffset + i] = static_cast<std::uint8_t>(length >> (8 * i));
  return h;
}

std::string progress(int upTo) {
  std::string out;
  for (int p = 1; p <= upTo; ++p) out += "\rValidating PBA data: " + std::to_string(p) + "% ";
  return out;
}
const std::string Complete = "\rValidating PBA data: 100% ";

// --- The compared-length rule -------------------------------------------------

struct LengthCase {
  const char* name;
  std::vector<std::uint8_t> bytes;
  std::uint64_t expected;
};

class ComparedLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(ComparedLength, FollowsTheHeader) {
  EXPECT_EQ(comparedLength(ImageHeader::parse(GetParam().bytes)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Validate, ComparedLength,
    ::testing::Values(
        LengthCase{"NoMagic", header("", 0, 1000), DefaultComparedLength},
        LengthCase{"Zeros", std::vector<std::uint8_t>(HeaderReadSize), DefaultComparedLength},
        LengthCase{"ValidHeader", header(HeaderMagic, 0, 1000), 3048},
        LengthCase{"FlagOtherThanOneKeepsTheHeader", header(HeaderMagic, 2, 1000), 3048},
        LengthCase{"LittleEndianLength", header(HeaderMagic, 0, 0x01020304), 0x01020304 + 2048},
        LengthCase{"HeaderFlagOne", header(HeaderMagic, 1, 1000), DefaultComparedLength},
        LengthCase{"PayloadLengthZero", header(HeaderMagic, 0, 0), DefaultComparedLength},
        LengthCase{"OneLowerCaseMagicLetter", header("QUORINMGk", 0, 1000), DefaultComparedLength},
        LengthCase{"OneMagicByteOff", header("QUORINMG\x01", 0, 1000), DefaultComparedLength},
        // In 32 bits the sum would wrap to 2047 and almost nothing would be compared.
        LengthCase{"LargestLengthDoesNotWrap", header(HeaderMagic, 0, 0xFFFFFFFF),
                   0xFFFFFFFFull + 2048},
        LengthCase{"ShortReadCountsAsZeros",
                   std::vector<std::uint8_t>(HeaderMagic.begin(), HeaderMagic.end()),
                   DefaultComparedLength}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Validation ---------------------------------------------------------------

// An image with hdr at HeaderOffset and pattern bytes around the region
// edges, and a drive that holds the same bytes.
struct ValidateRig {
  explicit ValidateRig(const std::vector<std::uint8_t>& hdr, sim::Json diskFaults = {},
                       sim::Json imageFaults = {}, std::uint64_t imageSize = ImageSize)
      : m(512 * MiB, diskFaults.is_null() ? sim::Json::object() : diskFaults,
          imageFaults.is_null() ? sim::Json::object() : imageFaults) {
    const std::uint64_t spots[] = {0, HeaderOffset - 4096, HeaderOffset + 64 * MiB,
                                   imageSize - 4096};
    m.writeImage(imageSize, 0, {});
    for (std::uint64_t at : spots) {
      m.writeImage(imageSize, at, pattern(at, 4096));
      m.writeDisk(at, pattern(at, 4096));
    }
    m.writeImage(imageSize, HeaderOffset, hdr);
    m.writeDisk(HeaderOffset, hdr);
  }
  bool run() {
    LoaderOptions options;
    options.imagePath = ImagePath;
    return validateImage(DrivePath, options);
  }
  TransferMachine m;
};

TEST(Validate, WithoutHeaderComparesTheSecond128MiBInSteps) {
  ValidateRig r(header("", 0, 0));
  EXPECT_TRUE(r.run());
  EXPECT_EQ(r.m.output(), "\n" + progress(100) + Complete);
  EXPECT_EQ(r.m.diskLog().readCalls, 16384u);
  EXPECT_EQ(r.m.diskLog().bytesRead, 128 * MiB);
  EXPECT_EQ(r.m.openHandles(), 0u);
}

TEST(Validate, ValidHeaderComparesItsLengthInOneChunk) {
  ValidateRig r(header(HeaderMagic, 0, 1000));
  EXPECT_TRUE(r.run());
  EXPECT_EQ(r.m.output(), "\n" + Complete + Complete);
  EXPECT_EQ(r.m.diskLog().readCalls, 1u);
  EXPECT_EQ(r.m.openHandles(), 0u);
}

struct OutcomeCase {
  const char* name;
  sim::Json diskFaults;
  sim::Json imageFaults;
  bool ok;
  std::string output;
  Ms sleeps;
};

class ValidateOutcome : public ::testing::TestWithParam<OutcomeCase> {};

// Rows on an image whose header names 3048 bytes: one chunk.
TEST_P(ValidateOutcome, ReportsEachFailureOnce) {
  const OutcomeCase& c = GetParam();
  ValidateRig r(header(HeaderMagic, 0, 1000), c.diskFaults, c.imageFaults);
  EXPECT_EQ(r.run(), c.ok);
  EXPECT_EQ(r.m.output(), c.output);
  EXPECT_EQ(r.m.sleepsMs(), c.sleeps);
  EXPECT_EQ(r.m.openHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Validate, ValidateOutcome,
    ::testing::Values(OutcomeCase{"LastComparedByteDiffers",
                                  {{"flipByteOnReadAt", HeaderOffset + 3047}},
                                  {},
                                  false,
                                  "\n\nData mismatch\n",
                                  {}},
                      OutcomeCase{"ByteAfterTheRegionIsNotCompared",
                                  {{"flipByteOnReadAt", HeaderOffset + 3048}},
                                  {},
                                  true,
                                  "\n" + Complete + Complete,
                                  {}},
                      OutcomeCase{"FirstHalfIsNeverReadBack",
                                  {{"flipByteOnReadAt", {0, HeaderOffset - 1}}},
                                  {},
                                  true,
                                  "\n" + Complete + Complete,
                                  {}},
                      OutcomeCase{"DriveUnreadable",
                                  {{"failReadsFrom", HeaderOffset}},
                                  {},
                                  false,
                                  "\n\nRead failed\n",
                                  Ms(3, 1000)},
                      OutcomeCase{"DriveCannotBeOpened",
                                  {{"failOpens", true}},
                                  {},
                                  false,
                                  "\n\nFailed to open output\n",
                                  Ms(7, 500)},
                      OutcomeCase{"ImageCannotBeOpened",
                                  {},
                                  {{"failOpens", true}},
                                  false,
                                  "\n\nFailed to open PBA file\n",
                                  {}},
                      OutcomeCase{"DriveNeverPositions",
                                  {{"failSeeks", true}},
                                  {},
                                  false,
                                  "\n\nOutput seek failed\n\nOutput seek failed\n\nSeek failed\n",
                                  {}},
                      OutcomeCase{
                          "ImageNeverPositions",
                          {},
                          {{"failSeeks", true}},
                          false,
                          "\n\nPBA file seek failed\n\nPBA file seek failed\n\nSeek failed\n",
                          {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Validate, FailedFirstPositioningReadsTheHeaderFromWhereTheImageStands) {
  // The image stays at offset 0, where there is no header: the default
  // length applies although the header at 128 MiB names 3048 bytes.
  ValidateRig r(header(HeaderMagic, 0, 1000), {{"failSeeksCount", 1}});
  EXPECT_TRUE(r.run());
  EXPECT_EQ(r.m.output(), "\n\nOutput seek failed\n" + progress(100) + Complete);
  EXPECT_EQ(r.m.diskLog().readCalls, 16384u);
}

TEST(Validate, MismatchInTheDefaultRegionStopsWithoutCompletion) {
  ValidateRig r(header("", 0, 0), {{"flipByteOnReadAt", HeaderOffset + 64 * MiB + 100}});
  EXPECT_FALSE(r.run());
  EXPECT_EQ(r.m.output(), "\n" + progress(50) + "\nData mismatch\n");
}

// A length beyond the image's end: the image delivers a short read there,
// which fails rather than comparing stale buffer bytes; a wrapping 32-bit
// length would have compared 2047 bytes and passed.
TEST(Validate, RegionBeyondTheImageEndFails) {
  for (std::uint32_t length : {std::uint32_t{0x8000000 - 2048 + 100}, std::uint32_t{0xFFFFFFFF}}) {
    SCOPED_TRACE(length);
    ValidateRig r(header(HeaderMagic, 0, length));
    EXPECT_FALSE(r.run());
    const std::string& out = r.m.output();
    EXPECT_TRUE(out.ends_with("\nRead failed\n")) << out.substr(out.size() - 60);
    EXPECT_EQ(out.find("100% "), std::string::npos);
    EXPECT_EQ(r.m.diskLog().bytesRead, 128 * MiB) << "everything before the image end compared";
  }
}

// The percentage is taken against the length as a signed 32-bit value: from
// 2 GiB on that is negative and no percentage line appears. Each run compares
// the 128 MiB the image holds past the header, then the image ends.
TEST(Validate, ProgressStopsShowingFromTwoGiBOn) {
  const struct {
    std::uint32_t payload;
    std::string progress;
  } cases[] = {
      {0x7FFFFFFFu - 2048, progress(6)},  // 2 GiB - 1: 128 MiB are 6 %
      {0x80000000u - 2048, ""},           // 2 GiB
      {0xFFFFFFFFu, ""},                  // past 4 GiB
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload);
    ValidateRig r(header(HeaderMagic, 0, c.payload));
    EXPECT_FALSE(r.run());
    EXPECT_EQ(r.m.output(), "\n" + c.progress + "\nRead failed\n");
  }
}

}  // namespace
}  // namespace pbaloader
