// The image header at 128 MiB and the length of the region it names for the
// comparison.
#include <vector>

#include "fuzz/support/fuzz_platform.h"
#include "pba/validate.h"

using namespace pbaloader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  const ImageHeader header = ImageHeader::parse(std::span(input, size));
  // Bytes the read did not deliver count as zeros.
  std::vector<std::uint8_t> padded(input, input + size);
  if (padded.size() < HeaderReadSize) padded.resize(HeaderReadSize, 0);
  const ImageHeader whole = ImageHeader::parse(padded);
  PBA_FUZZ_CHECK(header.magic == whole.magic && header.headerFlag == whole.headerFlag &&
                 header.payloadLength == whole.payloadLength);

  const std::uint64_t length = comparedLength(header);
  if (header.valid()) {
    PBA_FUZZ_CHECK(header.magicMatches() && header.headerFlag != 1);
    PBA_FUZZ_CHECK(length == std::uint64_t{header.payloadLength} + ComparedLengthExtra);
    // Computed without wrapping: never less than the extra, never past 4 GiB + extra.
    PBA_FUZZ_CHECK(length > ComparedLengthExtra);
    PBA_FUZZ_CHECK(length <= std::uint64_t{0xFFFFFFFF} + ComparedLengthExtra);
  } else {
    PBA_FUZZ_CHECK(length == DefaultComparedLength);
  }
  return 0;
}
