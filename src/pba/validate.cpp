#include "pba/validate.h"

#include <algorithm>
#include <limits>

#include "common/console.h"
#include "pba/transfer.h"

namespace pbaloader {

ImageHeader ImageHeader::parse(std::span<const std::uint8_t> bytes) {
  auto at = [&](std::size_t i) -> std::uint8_t { return i < bytes.size() ? bytes[i] : 0; };
  ImageHeader h;
  for (std::size_t i = 0; i < h.magic.size(); ++i) h.magic[i] = at(i);
  h.headerFlag = at(HeaderFlagOffset);
  for (std::size_t i = 0; i < 4; ++i)
    h.payloadLength |= static_cast<std::uint32_t>(at(PayloadLengthOffset + i)) << (8 * i);
  return h;
}

bool ImageHeader::magicMatches() const {
  return std::equal(magic.begin(), magic.end(), HeaderMagic.begin(), HeaderMagic.end(),
                    [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
}

bool ImageHeader::valid() const { return magicMatches() && headerFlag != 1 && payloadLength != 0; }

// Computed in 64 bits: a 32-bit sum would wrap for lengths near 4 GiB and
// leave little or nothing to compare, which would pass as success.
std::uint64_t comparedLength(const ImageHeader& header) {
  return header.valid() ? std::uint64_t{header.payloadLength} + ComparedLengthExtra
                        : DefaultComparedLength;
}

bool validateImage(const std::string& drivePath, const LoaderOptions& options) {
  printText("\n");
  TransferState state;
  state.imageHandle = openImageFile(options.imagePath);
  if (!state.imageHandle.valid()) {
    printText("\nFailed to open PBA file\n");
    return false;
  }
  state.driveHandle = openDrive(drivePath);
  if (!state.driveHandle.valid()) {
    printText("\nFailed to open output\n");
    state.imageHandle.close();
    return false;
  }

  // A failure here has printed its message; the header read then takes
  // whatever the image handle stands on, and the second positioning decides.
  seekBoth(state, HeaderOffset);
  // Bytes a failed or short read leaves untouched are zeros: no magic.
  os::current().readFile(state.imageHandle.get(), state.buffer.data(), HeaderReadSize);
  const std::uint64_t length =
      comparedLength(ImageHeader::parse(std::span(state.buffer.data(), HeaderReadSize)));

  if (!seekBoth(state, HeaderOffset)) {
    state.imageHandle.close();
    state.driveHandle.close();
    printText("\nSeek failed\n");
    return false;
  }

  ProgressLine progress("Validating PBA data: ");
  std::uint64_t remaining = length;
  std::uint64_t compared = 0;
  bool ok = true;
  while (remaining != 0) {
    const auto size = static_cast<std::uint32_t>(std::min<std::uint64_t>(ChunkSize, remaining));
    ok = compareChunk(state, size);
    if (!ok) break;
    compared += size;
    remaining -= size;
    // The percentage is taken against the length as a signed 32-bit value:
    // from 2 GiB on that is negative, and no percentage is shown.
    if (length <= std::numeric_limits<std::int32_t>::max())
      progress.update(
          static_cast<int>(static_cast<float>(compared) / static_cast<float>(length) * 100.0f));
  }
  state.imageHandle.close();
  state.driveHandle.close();
  if (!ok || remaining != 0) return false;
  progress.showComplete();
  return true;
}

}  // namespace pbaloader
