#include "platform/ticks.h"

#include <time.h>

namespace platform {

uint32_t SystemClock::ticks() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

std::chrono::system_clock::time_point SystemClock::now() {
  return std::chrono::system_clock::now();
}

SystemClock& SystemClock::instance() {
  static SystemClock clock;
  return clock;
}

}  // namespace platform
