#include <algorithm>
#include <cstdint>

#include "app/loader.h"
#include "common/console.h"
#include "pba/transfer.h"
#include "pba/validate.h"

namespace pbaloader {
namespace {

// Bytes copied from image offset 0 to drive offset 0.
constexpr std::uint32_t ImageRegionSize = 0x10000000;

}  // namespace

void PbaLoader::loadImage() {
  print("\nLoading PBA data\n");
  if (!selectConfirmedDrive() || !prepareDrive()) return;

  TransferState state;
  state.imageHandle = openImageFile(options.imagePath);
  if (!state.imageHandle.valid()) {
    print("\nFailed to open PBA file\n");
    return;
  }
  state.driveHandle = openDrive(selectedDrive.path);
  if (!state.driveHandle.valid()) {
    print("\nFailed to open output\n");
    return;
  }
  // Until the very last write the drive's first sector holds filler, so an
  // interrupted load never leaves a drive that looks bootable.
  state.firstSectorPending = true;
  // Raw drives move whole logical sectors: a 512-byte write to a drive with
  // 4096-byte sectors is refused, and that drive could never be loaded.
  state.firstSectorSize = firstSectorSize(selectedDrive.bytesPerSector);
  if (!seekBoth(state, 0)) {
    state.imageHandle.close();
    state.driveHandle.close();
    print("\nSeek failed\n");
    print("\nFailed to write PBA data\n");
    return;
  }

  std::uint32_t remaining = ImageRegionSize;
  std::uint64_t done = 0;
  ProgressLine progress("Writing PBA data: ");
  bool ok = true;
  while (remaining != 0) {
    const std::uint32_t size = std::min(ChunkSize, remaining);
    ok = copyChunk(state, size);
    if (!ok) break;
    // A true copyChunk moved exactly size bytes (bytesTransferred == size).
    remaining -= state.bytesTransferred;
    done += state.bytesTransferred;
    progress.update(
        static_cast<int>(static_cast<float>(done) / static_cast<float>(ImageRegionSize) * 100.0f));
  }

  if (ok && remaining == 0) {
    if (!seekBoth(state, 0)) {
      print("Seek error while processing beginning of drive\n");
      ok = false;
    } else if (!copyChunk(state, state.firstSectorSize)) {
      print("I/O error while processing beginning of drive\n");
      ok = false;
    }
  }
  state.imageHandle.close();
  state.driveHandle.close();

  if (ok) {
    progress.showComplete();
    ok = validateImage(selectedDrive.path, options);
  }
  printText(ok ? "\nPBA file written\n" : "\nFailed to write PBA data\n");
}

}  // namespace pbaloader
