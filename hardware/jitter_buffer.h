// The receive side of a SIP call: RTP frames of 20 ms arrive out of order,
// late or not at all; the recorder takes one frame every 20 ms. Frames wait
// `depth` frames (60 ms by default) before the first is played out, so that
// late and reordered packets still find their place; a frame that has not
// arrived by its turn is replaced by silence, so a recording keeps its
// length whatever the network lost. A frame arriving after its turn is
// dropped. A jump of more than `capacity` frames (a new sender, a restarted
// sequence) starts over from the new packet.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hardware {

inline constexpr size_t kFrameBytes = 160;  // 20 ms of G.711 at 8000 Hz
inline constexpr int kJitterDepthFrames = 3;
inline constexpr int kJitterCapacityFrames = 50;

class JitterBuffer {
 public:
  using Frame = std::array<uint8_t, kFrameBytes>;

  explicit JitterBuffer(int depth = kJitterDepthFrames, int capacity = kJitterCapacityFrames);

  // An A-law frame with RTP sequence number `seq` (shorter frames are padded
  // with silence, longer ones cut).
  void put(uint16_t seq, const uint8_t* alaw, size_t n);
  // The next frame in sequence into `out`. False while the buffer is still
  // filling at the start of a call (`out` is silence then); true otherwise,
  // with silence for a lost frame.
  bool pop(Frame& out);
  void reset();

  uint64_t lost() const { return lost_; }
  uint64_t late() const { return late_; }

 private:
  struct Slot {
    bool full = false;
    uint16_t seq = 0;
    Frame data{};
  };
  Slot& slot(uint16_t seq) { return slots_[seq % slots_.size()]; }
  size_t buffered() const;

  int depth_;
  std::vector<Slot> slots_;
  bool started_ = false;  // playing out
  bool seen_ = false;     // a packet has arrived
  uint16_t next_ = 0;     // the sequence number played out next
  uint64_t lost_ = 0;
  uint64_t late_ = 0;
};

}  // namespace hardware
