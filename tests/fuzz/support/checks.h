// Invariants of decoded text that several fuzz targets check.
#pragma once

#include <cstddef>
#include <string_view>

#include "fuzz/support/fuzz_platform.h"

namespace pbaloader::fuzz {

// A field of a drive's answer as the tool keeps it: at most the field's size,
// no null, no blank at either end (set: the characters trimmed).
inline void checkField(std::string_view text, std::size_t fieldSize, std::string_view set) {
  PBA_FUZZ_CHECK(text.size() <= fieldSize);
  PBA_FUZZ_CHECK(text.find('\0') == std::string_view::npos);
  if (!text.empty()) {
    PBA_FUZZ_CHECK(set.find(text.front()) == std::string_view::npos);
    PBA_FUZZ_CHECK(set.find(text.back()) == std::string_view::npos);
  }
}

}  // namespace pbaloader::fuzz
