// The canceller behind Dampa_1 and Dampa_0, as a plain state record and the
// functions that work on it. The exported libraries each own one State; tests
// make their own.
//
// Numerics:
// - samples enter as floats (int converted to float) and are kept so; the
//   differences of two of them (at most 2^16 in size) are exact in float too;
// - the filter output (dot product) and the filtered-reference power are
//   accumulated in double precision, in a fixed order, so that every build
//   gives the same samples on the same kernels; the SSE2 kernels, which have
//   no fused multiply-add, may differ from the others in the last bit of a sum;
// - the pre-filters, the error and the step are computed in double and stored
//   as float; the step is compared with the divergence limit before rounding;
// - a weight update is a float product followed by a float sum (no fused
//   multiply-add), so that machines with and without FMA agree.
//
// Speed: one pass over the weights serves a block of up to kBlock calls. It
// applies the updates of the previous block, in order, each as its own float
// product and sum, as one update per call would, and forms, for each call
// of the block, the part of its output that does not depend on samples still
// to come: the samples not yet received count as zero during the pass. A
// later call of the block adds the products of the leading taps with the
// samples received since, and, for each update made earlier in the block,
// step * (filtered window of that update . current raw window), a
// cross-correlation kept as a running sum per lag. These sums are exact
// algebra; they differ from updating the weights before every call only by
// the rounding of the float weights, far below one output step.
//
// The four outputs of a pass come from the weights in groups of four taps.
// For one group (a0..a3, taps 4g..4g+3) and v(s) the raw sample s places
// after the group's newest one, output k is sum over r of a_r * v(k - r): a
// 4x4 Toeplitz matrix times the group. Split in 2x2 blocks it is
//   top    = B0 * (a0, a1) + B- * (a2, a3)
//   bottom = B+ * (a0, a1) + B0 * (a2, a3)
// and with M1 = B0 * (a0 + a2, a1 + a3) this is top = M1 + (B- - B0) * (a2, a3),
// bottom = M1 - (B0 - B+) * (a0, a1): twelve products instead of sixteen.
// The entries of B- - B0 and B0 - B+ are all d(t) = x(t - 2) - x(t). For the
// pass, copies of the raw and filtered histories and the history of d, and
// the weights themselves, are stored split four ways (entry i in row i % 4 at
// i / 4), so that the taps of one phase of consecutive groups lie next to
// each other in memory.
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
// The weights and the split histories: four rows of kGroups taps.
inline constexpr int kPhases = 4;
inline constexpr int kGroups = kTaps / kPhases;
// A split history runs backwards like the plain ones; its position falls from
// kSplitTop to kSplitLow, then its rows move on by kSplitMove / 4 entries. It
// holds the window, the slots of the three samples after the newest (written
// as zero during a pass) and the filtered samples of the previous block.
inline constexpr int kSplitLow = 4;
inline constexpr int kSplitTop = 87;
inline constexpr int kSplitMove = kSplitTop + 1 - kSplitLow;
inline constexpr int kSplitLength = 288;
static_assert(kSplitMove % kPhases == 0, "a move keeps every entry in its row");
static_assert((kSplitTop + kBlock + kTaps + kPhases) / kPhases <= kSplitLength);
// Entries kept past the end of each history: the running correlations read
// the filtered sample kBlock - 1 places beyond the window as it leaves.
inline constexpr int kTail = kBlock;

struct Kernels;

struct State {
  // weights[i % 4][i / 4] multiplies the raw sample i places before the newest.
  alignas(64) float weights[kPhases][kGroups] = {};
  // Histories run backwards: the newest sample sits at `position`, and the
  // window is [position, position + kTaps).
  alignas(64) float raw[kHistory + kTail] = {};
  alignas(64) float filtered[kHistory + kTail] = {};
  int position = 0;
  // The same samples split four ways (x: raw, d: raw two before minus raw,
  // f: filtered); entry e of a history sits at [e % 4][e / 4].
  alignas(64) float split_x[kPhases][kSplitLength] = {};
  alignas(64) float split_d[kPhases][kSplitLength] = {};
  alignas(64) float split_f[kPhases][kSplitLength] = {};
  int split_position = kSplitTop;

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
  // Updates made since the pass, in order: the step and the index of the call
  // that made it.
  int pending = 0;
  float pending_step[kBlock] = {};
  int pending_call[kBlock] = {};
  // correlation[l] = sum over i of filtered[position + l + i] * raw[position + i].
  double correlation[kBlock] = {};
};

// The weight of tap i (0 = newest sample).
inline float& weight(State& s, int i) {
  return s.weights[i % kPhases][i / kPhases];
}
inline float weight(const State& s, int i) {
  return s.weights[i % kPhases][i / kPhases];
}

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
