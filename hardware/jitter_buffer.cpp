#include "hardware/jitter_buffer.h"

#include <algorithm>
#include <cstring>

#include "hardware/voice_file.h"

namespace hardware {

JitterBuffer::JitterBuffer(int depth, int capacity)
    : depth_(std::max(depth, 0)), slots_(static_cast<size_t>(std::max(capacity, depth_ + 1))) {}

void JitterBuffer::reset() {
  for (auto& s : slots_)
    s.full = false;
  started_ = false;
  seen_ = false;
}

size_t JitterBuffer::buffered() const {
  return static_cast<size_t>(
      std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.full; }));
}

void JitterBuffer::put(uint16_t seq, const uint8_t* alaw, size_t n) {
  if (!seen_) {
    seen_ = true;
    next_ = seq;
  }
  // Distance from the frame played out next, in sequence space.
  const auto ahead = static_cast<int16_t>(static_cast<uint16_t>(seq - next_));
  if (ahead < 0) {
    ++late_;
    return;
  }
  if (ahead >= static_cast<int>(slots_.size())) {
    // Too far ahead to be this stream: follow the new numbering.
    for (auto& s : slots_)
      s.full = false;
    next_ = seq;
    started_ = false;
  }
  Slot& s = slot(seq);
  s.full = true;
  s.seq = seq;
  const size_t m = std::min(n, kFrameBytes);
  std::memcpy(s.data.data(), alaw, m);
  std::memset(s.data.data() + m, kAlawSilence, kFrameBytes - m);
}

bool JitterBuffer::pop(Frame& out) {
  if (!started_) {
    if (!seen_ || buffered() < static_cast<size_t>(std::max(depth_, 1))) {
      out.fill(kAlawSilence);
      return false;
    }
    started_ = true;
  }
  Slot& s = slot(next_);
  if (s.full && s.seq == next_) {
    out = s.data;
    s.full = false;
  } else {
    out.fill(kAlawSilence);
    ++lost_;
  }
  ++next_;
  return true;
}

}  // namespace hardware
