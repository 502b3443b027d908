// Moving data between the PBA image file and the raw drive: opening both,
// positioning them together, and copying or comparing one chunk at a time.
//
// Every operation reports its own failure on standard output and returns
// false; callers add their summary. A chunk operation that returns true has
// moved exactly the size it was given, so a loop may advance by that size
// (bytesTransferred equals it) and can neither stall nor shift data.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace pbaloader {

inline constexpr std::uint32_t ChunkSize = 8192;
inline constexpr std::uint8_t FillerByte = 0x77;
// The filler covers the drive's first logical sector; 512 bytes when the
// drive's sector size is unknown.
inline constexpr std::uint32_t FillerLength = 512;
inline constexpr int ChunkTries = 3;
inline constexpr std::uint32_t ChunkRetryPauseMs = 1000;
inline constexpr int ExclusiveOpenTries = 5;
inline constexpr int SharedOpenTries = 2;
inline constexpr int DriveOpenTries = ExclusiveOpenTries + SharedOpenTries;
inline constexpr std::uint32_t DriveOpenPauseMs = 500;
// Raw disk I/O moves whole sectors only; drive reads are rounded up to this,
// which is a multiple of every logical sector size a USB drive reports.
inline constexpr std::uint32_t DriveReadAlignment = 4096;

// Owns one file handle and closes it when it goes out of scope.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(os::Handle handle) : handle_(handle) {}
  ~FileHandle() { close(); }
  FileHandle(FileHandle&& other) noexcept : handle_(other.handle_) {
    other.handle_ = os::InvalidHandle;
  }
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  os::Handle get() const { return handle_; }
  bool valid() const { return handle_ != os::InvalidHandle; }
  // CloseHandle now (nothing when not open); the result is not used.
  void close();

 private:
  os::Handle handle_ = os::InvalidHandle;
};

// What one load or one validation shares between its chunk operations.
struct TransferState {
  FileHandle driveHandle;  // the raw drive, "output"
  FileHandle imageHandle;  // the image file, "PBA file"
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(ChunkSize);
  std::vector<std::uint8_t> compareBuffer = std::vector<std::uint8_t>(ChunkSize);
  // Bytes the last chunk operation moved; after a true result, its size.
  std::uint32_t bytesTransferred = 0;
  // The next copied chunk has its first sector replaced by FillerByte.
  bool firstSectorPending = false;
  // Bytes of that first sector: one whole logical sector of the drive.
  std::uint32_t firstSectorSize = FillerLength;
};

// The length of the drive's first sector that a raw write may cover: the
// logical sector size the drive reported when it is a power of two from 512
// up to ChunkSize, else FillerLength.
std::uint32_t firstSectorSize(std::uint32_t bytesPerSector);

// The image file, read and write access, shared; a single try. Invalid on failure.
FileHandle openImageFile(std::string_view path);
// The drive: five exclusive tries, then two shared, DriveOpenPauseMs after
// every failed one. Invalid after seven failures.
FileHandle openDrive(std::string_view devicePath);
// Positions the drive, then the image, at offset from the start.
bool seekBoth(TransferState& state, std::uint64_t offset);
// Reads size (1 to ChunkSize) bytes of the image and writes them to the
// drive. True only when exactly size bytes were read and written.
bool copyChunk(TransferState& state, std::uint32_t size);
// Reads size (1 to ChunkSize) bytes from the image and from the drive and
// compares them. True only when both delivered size bytes and they are equal.
// The drive read is rounded up to DriveReadAlignment, so a size that is not
// a multiple of it can only be the last chunk of a comparison.
bool compareChunk(TransferState& state, std::uint32_t size);
// Sleeps until the steady clock has advanced ms from now.
void pause(std::uint32_t ms);

}  // namespace pbaloader
