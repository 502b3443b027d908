// A Windows error code as one line of readable text.
#pragma once

#include <cstdint>
#include <string>

namespace pbaloader {

// The system's message for the code without its trailing line break; a
// fallback text when the system has none.
std::string systemErrorText(std::uint32_t code);

}  // namespace pbaloader
