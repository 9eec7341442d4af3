// The canceller behind Dampa_1 and Dampa_0, as a plain state record and the
// functions that work on it. The exported libraries each own one State; tests
// make their own.
//
// Numerics, fixed so that every build and every vector path gives the same
// samples:
// - samples enter as floats (int converted to float); the raw history keeps
//   them as doubles, which hold the same values;
// - the filter output (dot product) and the filtered-reference power are
//   accumulated in double precision, with exact float*float products;
// - the pre-filters, the error and the step are computed in double and stored
//   as float; the step is compared with the divergence limit before rounding;
// - a weight update is a float product followed by a float sum (no fused
//   multiply-add), so that machines with and without FMA agree.
//
// Speed: one pass over the weights serves a block of up to kBlock calls. It
// applies the updates of the previous block, in order, each as its own float
// product and sum, as one update per call would, and forms, for each call
// of the block, the part of its output that does not depend on samples still
// to come: the samples not yet received are zero in the raw history during
// the pass. A later call of the block adds the products of the leading taps
// with the samples received since, and, for each update made earlier in the
// block, step * (filtered window of that update . current raw window), a
// cross-correlation kept as a running sum per lag. These sums are exact
// algebra; they differ from updating the weights before every call only by
// the rounding of the float weights, far below one output step.
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

// Calls served by one pass over the weights.
inline constexpr int kBlock = 4;
// Entries kept past the end of each history: the running correlations read
// the filtered sample kBlock - 1 places beyond the window as it leaves.
inline constexpr int kTail = kBlock;

struct Kernels;

struct State {
  alignas(64) float weights[kTaps] = {};
  // Histories run backwards: the newest sample sits at `position`, and the
  // window is [position, position + kTaps).
  alignas(64) double raw[kHistory + kTail] = {};
  alignas(64) float filtered[kHistory + kTail] = {};
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

  // The current pass: `ahead[j]` is the output of call j of the block from
  // the weights as the pass left them (`lead` holds their first taps), with
  // the samples after call 0 taken as zero. `call` is the next call's index
  // in the block; the block is over when call == calls.
  double ahead[kBlock] = {};
  double lead[kBlock] = {};
  int calls = 0, call = 0;
  // Updates made since the pass, in order: the step, the window position of
  // its filtered samples and the index of the call that made it.
  int pending = 0;
  float pending_step[kBlock] = {};
  int pending_at[kBlock] = {};
  int pending_call[kBlock] = {};
  // correlation[l] = sum over i of filtered[position + l + i] * raw[position + i].
  double correlation[kBlock] = {};
};

// What initial_b does: clears the weights, the histories and the block peaks.
void reset(State& s);

// What Dampa_1 does, with the best vector kernels this processor supports.
int process(State& s, int captured, int reference);
// The same with a chosen set of kernels (tests compare them).
int process(State& s, int captured, int reference, const Kernels& k);

// Applies the deferred weight updates, so that s.weights holds the filter that
// the next call will use, and ends the current block. process() does this
// itself when it needs to. Code that writes s.weights directly must settle
// first (a new State needs nothing).
void settle(State& s);

// Detector step: updates the peaks and the hangover; true means adapt.
bool detect(State& s, float captured, float reference);

}  // namespace dampa

#endif  // OLVARO_ECHO_CANCELLER_H_
