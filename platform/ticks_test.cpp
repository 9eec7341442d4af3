#include "platform/ticks.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Ticks, DifferenceAcrossTheWrap) {
  struct Case {
    uint32_t start, now, want;
  } cases[] = {
      {1000, 2500, 1500},
      {0xFFFFFF00u, 0xFFFFFF00u, 0},
      {0xFFFFFC18u, 500, 0xFFFFFFFFu - 0xFFFFFC18u + 500},  // wrapped: 999 + 500
      {0xFFFFFFFFu, 0, 0},
      {5, 4, 0xFFFFFFFEu},
  };
  for (const auto& c : cases)
    EXPECT_EQ(tickDiff(c.start, c.now), c.want) << c.start;
}

TEST(Ticks, FakeClockWrapsAndMovesWallTime) {
  FakeClock clock(0xFFFFFF9Cu, 1000);
  auto wall = clock.now();
  clock.advance(200);
  EXPECT_EQ(clock.ticks(), 100u);
  EXPECT_EQ(clock.now() - wall, std::chrono::milliseconds(200));
}

TEST(Ticks, SystemClockMoves) {
  uint32_t a = SystemClock::instance().ticks();
  timespec ts{0, 20 * 1000 * 1000};
  nanosleep(&ts, nullptr);
  uint32_t d = tickDiff(a, SystemClock::instance().ticks());
  EXPECT_GE(d, 19u);
  EXPECT_LT(d, 5000u);
}

}  // namespace
}  // namespace platform
