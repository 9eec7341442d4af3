// The millisecond tick counter and wall clock behind one injectable
// interface. The tick count is 32 bits and wraps about every 49.7 days, as the
// block handlers expect; tests drive a FakeClock so that timeouts take no real
// time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds, wrapping at 2^32.
  virtual uint32_t ticks() = 0;
  // Wall-clock time.
  virtual std::chrono::system_clock::time_point now() = 0;
};

// Ticks from the monotonic clock; wall time from the system clock.
class SystemClock : public Clock {
 public:
  uint32_t ticks() override;
  std::chrono::system_clock::time_point now() override;
  static SystemClock& instance();
};

// A clock that moves only when told. Safe to read from several threads.
class FakeClock : public Clock {
 public:
  explicit FakeClock(uint32_t ticks = 0, std::time_t wall = 1700000000)
      : ticks_(ticks), wallMs_(static_cast<int64_t>(wall) * 1000) {}
  uint32_t ticks() override { return ticks_.load(); }
  std::chrono::system_clock::time_point now() override {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(wallMs_.load()));
  }
  // Moves both the tick count (wrapping) and the wall clock.
  void advance(uint32_t ms) {
    ticks_.fetch_add(ms);
    wallMs_.fetch_add(ms);
  }
  void setTicks(uint32_t t) { ticks_.store(t); }
  void setWall(std::time_t t) { wallMs_.store(static_cast<int64_t>(t) * 1000); }

 private:
  std::atomic<uint32_t> ticks_;
  std::atomic<int64_t> wallMs_;
};

// Milliseconds from `start` to `now`: now - start, or 0xFFFFFFFF - start + now
// once the counter has wrapped (one short of the modular difference, as the
// handlers have always measured it).
constexpr uint32_t tickDiff(uint32_t start, uint32_t now) {
  return now >= start ? now - start : 0xFFFFFFFFu - start + now;
}

}  // namespace platform
