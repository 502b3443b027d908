#include "platform/linux/host_platform.h"

#include <time.h>

#include <cerrno>

namespace pbaloader::host {

std::int64_t HostPlatform::steadyNowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

void HostPlatform::sleepUntilNs(std::int64_t deadlineNs) {
  timespec until{};
  until.tv_sec = static_cast<time_t>(deadlineNs / 1'000'000'000);
  until.tv_nsec = static_cast<long>(deadlineNs % 1'000'000'000);
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

}  // namespace pbaloader::host
