// The steady clock and sleeping until a deadline, on which every pause of
// the tool rests.
#include <cstdint>

#include "conformance/env.h"

namespace pbaloader::conformance {
namespace {

using ClockConformance = ConformanceTest;

TEST_F(ClockConformance, SleepLastsUntilTheDeadlineAndTheClockNeverGoesBack) {
  const std::int64_t start = platform().steadyNowNs();
  const std::int64_t deadline = start + 30'000'000;  // 30 ms
  platform().sleepUntilNs(deadline);
  const std::int64_t woke = platform().steadyNowNs();
  EXPECT_GE(woke, deadline);
  EXPECT_LT(woke - deadline, 5'000'000'000) << "woke far too late";

  // A deadline already past returns at once.
  platform().sleepUntilNs(start);
  const std::int64_t after = platform().steadyNowNs();
  EXPECT_GE(after, woke);
  EXPECT_LT(after - woke, 1'000'000'000);
}

}  // namespace
}  // namespace pbaloader::conformance
