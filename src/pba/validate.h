// Validation after a load: the region that the image's own header names is
// read back from the drive and compared with the image file.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "app/loader.h"

namespace pbaloader {

// Where the header sits in the image, and where the compared region starts.
inline constexpr std::uint64_t HeaderOffset = 0x8000000;
// Three sectors are read at the header offset.
inline constexpr std::uint32_t HeaderReadSize = 1536;
inline constexpr std::string_view HeaderMagic = "QUORINMGK";
inline constexpr std::size_t HeaderFlagOffset = 9;
inline constexpr std::size_t PayloadLengthOffset = 534;
// Bytes compared when the header is missing or does not give a length.
inline constexpr std::uint64_t DefaultComparedLength = 0x8000000;
// Added to the header's payload length.
inline constexpr std::uint64_t ComparedLengthExtra = 2048;

// The fields of the image header this tool interprets (little-endian).
struct ImageHeader {
  std::array<std::uint8_t, 9> magic{};
  std::uint8_t headerFlag = 0;      // 1: the header is not used
  std::uint32_t payloadLength = 0;  // 0: no length given

  // Decodes the first HeaderReadSize bytes read at HeaderOffset; bytes the
  // span does not hold count as zeros.
  static ImageHeader parse(std::span<const std::uint8_t> bytes);
  bool magicMatches() const;
  // Magic present, headerFlag not 1 and a length given.
  bool valid() const;
};

// Bytes compared from HeaderOffset: payloadLength + 2048 for a valid header,
// DefaultComparedLength otherwise.
std::uint64_t comparedLength(const ImageHeader& header);

// Opens the image (options.imagePath) and the drive again and compares the
// region the header names. True when all of it matched.
bool validateImage(const std::string& drivePath, const LoaderOptions& options);

}  // namespace pbaloader
