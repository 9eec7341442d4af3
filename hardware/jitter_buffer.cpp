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

void JitterBuffer::put(uint32_t ts, const uint8_t* alaw, size_t n) {
  if (!seen_) {
    seen_ = true;
    base_ = ts;
    next_ = 0;
  }
  // Frames count from the first packet; the timestamp wraps after 6 days,
  // when the frame numbers lose their step once.
  const uint32_t rel = ts - base_;
  size_t done = 0;
  while (done < n) {
    const uint32_t pos = rel + static_cast<uint32_t>(done);
    const size_t offset = pos % kFrameBytes;
    const size_t m = std::min(n - done, kFrameBytes - offset);
    putFrame(static_cast<uint16_t>(pos / kFrameBytes), offset, alaw + done, m);
    done += m;
  }
}

void JitterBuffer::putFrame(uint16_t frame, size_t offset, const uint8_t* alaw, size_t n) {
  // Distance from the frame played out next, in frame-number space.
  const auto ahead = static_cast<int16_t>(static_cast<uint16_t>(frame - next_));
  if (ahead < 0) {
    ++late_;
    return;
  }
  if (ahead >= static_cast<int>(slots_.size())) {
    // Too far ahead to be this stream: follow the new numbering.
    for (auto& s : slots_)
      s.full = false;
    next_ = frame;
    started_ = false;
  }
  Slot& s = slot(frame);
  if (!s.full || s.seq != frame) {
    s.full = true;
    s.seq = frame;
    s.data.fill(kAlawSilence);
  }
  std::memcpy(s.data.data() + offset, alaw, n);
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
