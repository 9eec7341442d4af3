// The canceller behind Dampa_1 and Dampa_0, as a plain state record and the
// functions that work on it. The exported libraries each own one State; tests
// make their own.
//
// Numerics, fixed so that every build and every vector path gives the same
// samples:
// - samples enter as floats (int converted to float);
// - the filter output (dot product) and the filtered-reference power are
//   accumulated in double precision, with exact float*float products;
// - the pre-filters, the error and the step are computed in double and stored
//   as float; the step is compared with the divergence limit before rounding;
// - a weight update is a float product followed by a float sum (no fused
//   multiply-add), so that machines with and without FMA agree.
#ifndef OLVARO_ECHO_CANCELLER_H_
#define OLVARO_ECHO_CANCELLER_H_

#include <cstdint>

namespace dampa {

inline constexpr int kTaps = 1024;
inline constexpr int kSlack = 80;
inline constexpr int kHistory = kTaps + kSlack;  // 1104 entries

// Pre-filter y[n] = kPreGain * (x[n] - x[n-1]) + kPreFeedback * y[n-1].
inline constexpr float kPreGain = 0.521606981754303f;
inline constexpr float kPreFeedback = 0.04321400076150894f;

inline constexpr double kStepNumerator = 0.5;
inline constexpr double kStepLimit = 0.005;
inline constexpr int kBlockSamples = 16;
inline constexpr int kBlocks = 64;
inline constexpr int kHangover = 240;
inline constexpr float kSilentPeak = 104.0f;
inline constexpr double kResidualGain = 0.3;
inline constexpr int kOutputLimit = 32767;

struct Kernels;

struct State {
  alignas(64) float weights[kTaps] = {};
  // Histories run backwards: the newest sample sits at `position`, and the
  // window is [position, position + kTaps).
  alignas(64) float raw[kHistory] = {};
  alignas(64) float filtered[kHistory] = {};
  int position = 0;

  float ref_prev_in = 0, ref_prev_out = 0;  // pre-filter on the reference path
  float err_prev_in = 0, err_prev_out = 0;  // pre-filter on the error path
  float power = 0;                          // sum of squares of `filtered` over the window
  bool adapted_last = false;

  float block_peaks[kBlocks] = {};
  int block_count = 0;  // samples of the current block, 0..15
  int block_slot = 0;   // 0..63
  float peak = 0;
  int hangover = 0;

  // The filtered sample that leaves the window on the next call when the
  // history has just been moved back by the block copy, which overwrites it.
  float departing = 0;
  // The weight update of the previous call, applied in the same pass as the
  // next dot product. `pending_step` is meaningful only when `pending`.
  bool pending = false;
  float pending_step = 0;
};

// What initial_b does: clears the weights, the histories and the block peaks.
void reset(State& s);

// What Dampa_1 does, with the best vector kernels this processor supports.
int process(State& s, int captured, int reference);
// The same with a chosen set of kernels (tests compare them).
int process(State& s, int captured, int reference, const Kernels& k);

// Applies a deferred weight update, so that s.weights holds the filter that
// the next call will use. process() does this itself when it needs to.
void settle(State& s);

// Detector step: updates the peaks and the hangover; true means adapt.
bool detect(State& s, float captured, float reference);

}  // namespace dampa

#endif  // OLVARO_ECHO_CANCELLER_H_
