// The seam on a Linux host: the host machine's facilities, with the real
// steady clock and real sleeps.
#pragma once

#include <memory>

#include "platform/sim/sim_platform.h"

namespace pbaloader::host {

class HostPlatform final : public sim::SimPlatform {
 public:
  using SimPlatform::SimPlatform;
  std::int64_t steadyNowNs() override;
  void sleepUntilNs(std::int64_t deadlineNs) override;
};

// The one line a run without root prints before it ends.
inline constexpr const char* NeedsRootLine =
    "pbaloader needs root to reach raw drives: run it with sudo\n";

}  // namespace pbaloader::host
