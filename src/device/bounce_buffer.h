// The 4-byte aligned data address that the pass-through control codes need:
// the caller's buffer when it is aligned, else a zero-filled stand-in.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

namespace pbaloader::detail {

class AlignedData {
 public:
  // direction 0 carries no data; 2 copies the caller's bytes in.
  AlignedData(void* data, std::uint32_t length, std::uint32_t direction)
      : caller_(static_cast<std::uint8_t*>(data)), length_(length) {
    if (direction == 0 || data == nullptr) {
      caller_ = nullptr;
      return;
    }
    if (reinterpret_cast<std::uintptr_t>(data) % 4 == 0) {
      address_ = caller_;
      return;
    }
    storage_ = std::make_unique<std::uint8_t[]>(std::size_t{length} + 3);  // value-initialised
    const auto raw = reinterpret_cast<std::uintptr_t>(storage_.get());
    address_ = storage_.get() + ((4 - raw % 4) % 4);
    if (direction == 2) std::memcpy(address_, caller_, length);
  }

  void* address() const { return address_; }
  bool bounced() const { return storage_ != nullptr; }
  // Hands received bytes to the caller (no-op when the caller's buffer was used).
  void copyBack(std::uint32_t length) const {
    if (bounced()) std::memcpy(caller_, address_, length < length_ ? length : length_);
  }

 private:
  std::uint8_t* caller_ = nullptr;
  std::uint32_t length_ = 0;
  std::unique_ptr<std::uint8_t[]> storage_;
  std::uint8_t* address_ = nullptr;
};

// Whole seconds for the pass-through time-out fields.
inline std::uint32_t timeoutSeconds(std::uint32_t timeoutMs) { return (timeoutMs + 999) / 1000; }

}  // namespace pbaloader::detail
