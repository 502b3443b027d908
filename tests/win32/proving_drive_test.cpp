// The Windows build's transfers and SCSI identity against a real drive: the
// proving ground runs these under Wine in its virtual machine, on an emulated
// USB stick linked into the prefix as \\.\PHYSICALDRIVEn. Elsewhere they skip.
//
// PBA_PROVING_DRIVE names the drive; PBA_PROVING_VENDOR, _PRODUCT, _REVISION,
// _SERIAL and _BYTES say what it was given in qemu. The drive's bytes at the
// offsets below are overwritten: the host checks them afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/device.h"
#include "pba/transfer.h"
#include "platform/win32/win32_platform.h"

namespace pbaloader {
namespace {

constexpr std::uint64_t MiB = 1024 * 1024;

// Where the load and the clear touch the drive: its first chunk, the middle
// of the image, the load's last chunk and the clear's last chunk. Each is
// filled with its own byte, which the host looks for in the disk image.
struct Spot {
  std::uint64_t offset;
  std::uint8_t fill;
};
constexpr std::array<Spot, 4> Spots = {
    {{0, 0x11}, {128 * MiB, 0x22}, {256 * MiB - ChunkSize, 0x33}, {256 * MiB, 0x44}}};

std::string setting(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string{} : std::string(value);
}

class ProvingDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = setting("PBA_PROVING_DRIVE");
    if (path_.empty()) GTEST_SKIP() << "no emulated drive (runs in the proving ground)";
  }

  // An image file holding each spot's fill at its offset, zeros elsewhere;
  // without spots, zeros throughout.
  std::string makeImage(bool withSpots) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    std::wstring wide(temp, n);
    wide += L"pbaloader-proving-" + std::to_wstring(GetTickCount64()) +
            std::to_wstring(images_.size()) + L".bin";
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    std::vector<std::uint8_t> chunk(ChunkSize);
    for (const Spot& spot : Spots) {
      chunk.assign(ChunkSize, withSpots ? spot.fill : 0);
      LARGE_INTEGER at;
      at.QuadPart = static_cast<LONGLONG>(spot.offset);
      SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
      DWORD written = 0;
      EXPECT_TRUE(WriteFile(file, chunk.data(), ChunkSize, &written, nullptr));
      EXPECT_EQ(written, ChunkSize);
    }
    CloseHandle(file);
    images_.push_back(wide);
    return std::string(wide.begin(), wide.end());
  }

  void TearDown() override {
    for (const auto& image : images_) DeleteFileW(image.c_str());
  }

  os::ScopedPlatform platform_{win32::instance()};
  std::string path_;
  std::vector<std::wstring> images_;
};

// Chunks written through the tool's own primitives read back equal from the
// drive, and a comparison against bytes the drive does not hold fails, so the
// reads come from the drive.
TEST_F(ProvingDrive, ChunksAtTheToolsOffsetsGoToTheDriveAndBack) {
  const std::string image = makeImage(true);
  {
    TransferState state;
    state.imageHandle = openImageFile(image);
    state.driveHandle = openDrive(path_);
    ASSERT_TRUE(state.imageHandle.valid());
    ASSERT_TRUE(state.driveHandle.valid());
    for (const Spot& spot : Spots) {
      ASSERT_TRUE(seekBoth(state, spot.offset)) << spot.offset;
      ASSERT_TRUE(copyChunk(state, ChunkSize)) << spot.offset;
    }
  }
  TransferState state;
  state.imageHandle = openImageFile(image);
  state.driveHandle = openDrive(path_);
  ASSERT_TRUE(state.driveHandle.valid());
  for (const Spot& spot : Spots) {
    ASSERT_TRUE(seekBoth(state, spot.offset)) << spot.offset;
    EXPECT_TRUE(compareChunk(state, ChunkSize)) << spot.offset;
  }
  state.driveHandle.close();
  // Against zeros the drive's first chunk, which holds the first spot's fill, differs.
  TransferState zeros;
  zeros.imageHandle = openImageFile(makeImage(false));
  zeros.driveHandle = openDrive(path_);
  ASSERT_TRUE(zeros.driveHandle.valid());
  ASSERT_TRUE(seekBoth(zeros, 0));
  EXPECT_FALSE(compareChunk(zeros, ChunkSize));
}

// INQUIRY, the unit serial number page and READ CAPACITY through the real
// SCSI_PASS_THROUGH_DIRECT record report what qemu was told; READ(16) returns
// the first sector that a plain read of the drive returns.
TEST_F(ProvingDrive, ScsiIdentityThroughPassThrough) {
  DriveInfo drive;
  drive.path = path_;
  drive.transport = DriveInfo::TransportScsi;
  SystemDevice device(drive);
  ScsiIdentity identity;
  ASSERT_TRUE(device.scsiIdentify(identity));
  EXPECT_EQ(identity.vendor, setting("PBA_PROVING_VENDOR"));
  EXPECT_EQ(identity.product, setting("PBA_PROVING_PRODUCT"));
  EXPECT_EQ(identity.revision, setting("PBA_PROVING_REVISION"));
  EXPECT_EQ(identity.serialNumber, setting("PBA_PROVING_SERIAL"));
  EXPECT_EQ(identity.blockLength, 512u);
  EXPECT_EQ((identity.lastLba + 1) * identity.blockLength,
            std::stoull(setting("PBA_PROVING_BYTES")));

  std::vector<std::uint8_t> sector(512, 0xEE);
  ASSERT_TRUE(device.readSectors(sector.data(), 0, 1));
  HANDLE raw = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(raw, INVALID_HANDLE_VALUE) << GetLastError();
  std::vector<std::uint8_t> plain(DriveReadAlignment, 0xDD);
  DWORD read = 0;
  const BOOL ok = ReadFile(raw, plain.data(), DriveReadAlignment, &read, nullptr);
  CloseHandle(raw);
  ASSERT_TRUE(ok) << GetLastError();
  ASSERT_EQ(read, DriveReadAlignment);
  EXPECT_EQ(sector, std::vector<std::uint8_t>(plain.begin(), plain.begin() + 512));
}

}  // namespace
}  // namespace pbaloader
