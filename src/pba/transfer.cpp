#include "pba/transfer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/console.h"
#include "common/text.h"
#include "platform/winconst.h"

namespace pbaloader {
namespace {

constexpr std::uint32_t ReadWrite = win::GenericRead | win::GenericWrite;
constexpr std::uint32_t ShareReadWrite = win::FileShareRead | win::FileShareWrite;

FileHandle openExisting(std::string_view path, std::uint32_t share) {
  const auto r = os::current().createFileW(toWide(path), ReadWrite, share, win::OpenExisting,
                                           win::FileAttributeNormal);
  return FileHandle(r.value);
}

bool seekTo(const FileHandle& handle, std::uint64_t offset) {
  const std::int32_t low = static_cast<std::int32_t>(static_cast<std::uint32_t>(offset));
  const std::int32_t high = static_cast<std::int32_t>(static_cast<std::uint32_t>(offset >> 32));
  // Every offset used is a multiple of 512, so a true position never has
  // 0xFFFFFFFF as its low half.
  return os::current().setFilePointer(handle.get(), low, &high, win::FileBegin).low !=
         win::InvalidSetFilePointer;
}

bool validChunkSize(std::uint32_t size) { return size >= 1 && size <= ChunkSize; }

// Up to ChunkTries calls, stopping at the first success, with a pause after
// every failed one; the outcome of the last call.
template <class Call>
os::Transfer withRetries(Call call) {
  os::Transfer t;
  for (int attempt = 0; attempt < ChunkTries; ++attempt) {
    t = call();
    if (t.ok) break;
    pause(ChunkRetryPauseMs);
  }
  return t;
}

}  // namespace

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = os::InvalidHandle;
  }
  return *this;
}

void FileHandle::close() {
  if (handle_ == os::InvalidHandle) return;
  os::current().closeHandle(handle_);
  handle_ = os::InvalidHandle;
}

// Write access is asked for although the image is only read.
FileHandle openImageFile(std::string_view path) { return openExisting(path, ShareReadWrite); }

FileHandle openDrive(std::string_view devicePath) {
  for (int attempt = 0; attempt < DriveOpenTries; ++attempt) {
    FileHandle handle = openExisting(devicePath, attempt < ExclusiveOpenTries ? 0 : ShareReadWrite);
    if (handle.valid()) return handle;
    pause(DriveOpenPauseMs);
  }
  return FileHandle();
}

bool seekBoth(TransferState& state, std::uint64_t offset) {
  if (!seekTo(state.driveHandle, offset)) {
    printText("\nOutput seek failed\n");
    return false;
  }
  if (!seekTo(state.imageHandle, offset)) {
    printText("\nPBA file seek failed\n");
    return false;
  }
  return true;
}

bool copyChunk(TransferState& state, std::uint32_t size) {
  auto& os = os::current();
  state.bytesTransferred = 0;
  if (!validChunkSize(size)) {
    printText("\nRead failed\n");
    return false;
  }
  const os::Transfer read =
      withRetries([&] { return os.readFile(state.imageHandle.get(), state.buffer.data(), size); });
  state.bytesTransferred = read.count;
  // A short read means the image ends here; trying again cannot help.
  if (!read.ok || read.count != size) {
    printText("\nRead failed\n");
    return false;
  }
  if (state.firstSectorPending) {
    state.firstSectorPending = false;
    std::fill_n(state.buffer.begin(), std::min(state.firstSectorSize, size), FillerByte);
  }
  const os::Transfer written =
      withRetries([&] { return os.writeFile(state.driveHandle.get(), state.buffer.data(), size); });
  state.bytesTransferred = written.count;
  // A write that took fewer bytes than asked has moved the drive position by
  // that much: writing on, or again, would place the rest at wrong offsets.
  if (!written.ok || written.count != size) {
    printText("\nWrite failed\n");
    return false;
  }
  return true;
}

bool compareChunk(TransferState& state, std::uint32_t size) {
  auto& os = os::current();
  state.bytesTransferred = 0;
  if (!validChunkSize(size)) {
    printText("\nRead failed\n");
    return false;
  }
  const std::uint32_t driveSize =
      (size + DriveReadAlignment - 1) / DriveReadAlignment * DriveReadAlignment;
  // Once the image side is read it is kept: reading it again would move the
  // image a chunk ahead of the drive and compare misplaced data.
  bool imageRead = false;
  bool driveRead = false;
  std::uint32_t imageCount = 0;
  for (int attempt = 0; attempt < ChunkTries && !driveRead; ++attempt) {
    if (!imageRead) {
      const auto r = os.readFile(state.imageHandle.get(), state.buffer.data(), size);
      imageRead = r.ok;
      imageCount = r.count;
      state.bytesTransferred = r.count;
    }
    if (imageRead) {
      if (imageCount != size) break;  // the image ends here
      const auto d = os.readFile(state.driveHandle.get(), state.compareBuffer.data(), driveSize);
      driveRead = d.ok;
      state.bytesTransferred = d.count;
      if (driveRead) break;
    }
    pause(ChunkRetryPauseMs);
  }
  // Bytes a read did not deliver are stale; they must not take part.
  if (!driveRead || imageCount != size || state.bytesTransferred < size) {
    printText("\nRead failed\n");
    return false;
  }
  state.bytesTransferred = size;
  if (std::memcmp(state.buffer.data(), state.compareBuffer.data(), size) != 0) {
    printText("\nData mismatch\n");
    return false;
  }
  return true;
}

std::uint32_t firstSectorSize(std::uint32_t bytesPerSector) {
  const bool powerOfTwo = (bytesPerSector & (bytesPerSector - 1)) == 0;
  return powerOfTwo && bytesPerSector >= FillerLength && bytesPerSector <= ChunkSize
             ? bytesPerSector
             : FillerLength;
}

void pause(std::uint32_t ms) {
  auto& os = os::current();
  const std::int64_t now = os.steadyNowNs();
  const std::int64_t span = static_cast<std::int64_t>(ms) * 1'000'000;
  const std::int64_t deadline = now > std::numeric_limits<std::int64_t>::max() - span
                                    ? std::numeric_limits<std::int64_t>::max()
                                    : now + span;
  os.sleepUntilNs(deadline);
}

}  // namespace pbaloader
