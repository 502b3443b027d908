#include <stdexcept>

#include "platform/platform.h"

namespace pbaloader::os {
namespace {
Platform* active = nullptr;
}

Platform& current() {
  if (active == nullptr) throw std::logic_error("no platform installed");
  return *active;
}

ScopedPlatform::ScopedPlatform(Platform& platform) : previous_(active) { active = &platform; }

ScopedPlatform::~ScopedPlatform() { active = previous_; }

}  // namespace pbaloader::os
