// The receive side of a SIP call: RTP packets arrive out of order, late or
// not at all, and hold 10, 20, 40 ms or more; the recorder takes one frame
// of 20 ms every 20 ms. Packets are placed by their RTP timestamp (8000 Hz,
// one per sample), so any packet size fills the right frames. Frames wait
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

  // `n` A-law samples of a packet with RTP timestamp `ts`; the part of a
  // frame no packet filled stays silence.
  void put(uint32_t ts, const uint8_t* alaw, size_t n);
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
  void putFrame(uint16_t frame, size_t offset, const uint8_t* alaw, size_t n);

  int depth_;
  std::vector<Slot> slots_;
  bool started_ = false;  // playing out
  bool seen_ = false;     // a packet has arrived
  uint32_t base_ = 0;     // timestamp of the first packet: frame 0
  uint16_t next_ = 0;     // the frame played out next
  uint64_t lost_ = 0;
  uint64_t late_ = 0;
};

}  // namespace hardware
