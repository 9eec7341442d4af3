#include "echo/canceller.h"

#include <cmath>
#include <cstring>

#include <xmmintrin.h>

#include "echo/kernels.h"

namespace dampa {
namespace {

// One pre-filter step. The sum is formed in double, as a wider accumulator
// would, and stored as float.
float preFilter(float x, float& prev_in, float& prev_out) {
  double y = static_cast<double>(kPreGain) * x - static_cast<double>(kPreGain) * prev_in +
             static_cast<double>(kPreFeedback) * prev_out;
  prev_in = x;
  prev_out = static_cast<float>(y);
  return prev_out;
}

int limitOutput(double v) {
  if (v > kOutputLimit) return kOutputLimit;
  if (v < -kOutputLimit) return -kOutputLimit;
  return static_cast<int>(v);  // truncates toward zero
}

}  // namespace

void reset(State& s) {
  std::memset(s.weights, 0, sizeof s.weights);
  std::memset(s.raw, 0, sizeof s.raw);
  std::memset(s.filtered, 0, sizeof s.filtered);
  std::memset(s.split_x, 0, sizeof s.split_x);
  std::memset(s.split_d, 0, sizeof s.split_d);
  std::memset(s.split_f, 0, sizeof s.split_f);
  std::memset(s.block_peaks, 0, sizeof s.block_peaks);
  // The deferred updates and the pass belong to the weights just cleared; the
  // correlations to the histories.
  s.pending = 0;
  s.calls = s.call = 0;
  std::memset(s.correlation, 0, sizeof s.correlation);
}

namespace {

inline bool detectStep(State& s, float captured, float reference) {
  // The peak is never below the current block's peak, so raising both to r
  // whenever r is larger is the same as raising the peak only when the
  // block's peak rises; written without branches, which a noisy reference
  // would mispredict.
  const float r = std::fabs(reference);
  float& block = s.block_peaks[s.block_slot];
  block = r > block ? r : block;
  s.peak = r > s.peak ? r : s.peak;
  if (++s.block_count == kBlockSamples) {
    s.block_count = 0;
    // The peaks are magnitudes (no NaN, no negative zero), so a vector
    // maximum in any order gives the same value.
    __m128 m = _mm_loadu_ps(s.block_peaks);
    for (int i = 4; i < kBlocks; i += 4)
      m = _mm_max_ps(m, _mm_loadu_ps(s.block_peaks + i));
    m = _mm_max_ps(m, _mm_movehl_ps(m, m));
    m = _mm_max_ss(m, _mm_shuffle_ps(m, m, 1));
    s.peak = _mm_cvtss_f32(m);
    s.block_slot = (s.block_slot + 1) % kBlocks;
    s.block_peaks[s.block_slot] = 0;
  }
  // |captured| >= 0.3 * peak, compared exactly: both sides are small
  // multiples of floats and so exact in double.
  int hangover = 10.0 * std::fabs(captured) >= 3.0 * s.peak ? kHangover : s.hangover;
  hangover -= hangover > 0;
  s.hangover = hangover;
  return !(s.peak < kSilentPeak) & (hangover == 0);
}

}  // namespace

bool detect(State& s, float captured, float reference) {
  return detectStep(s, captured, reference);
}

namespace {

// Entries in use are never negative.
template <typename T>
T& splitEntry(T (&rows)[kPhases][kSplitLength], int e) {
  const unsigned u = static_cast<unsigned>(e);
  return rows[u % kPhases][u / kPhases];
}

// Applies the deferred updates one by one. The window of the update made at
// call c starts at split entry split_position + s.call - c: at a pass the
// newest sample sits at split_position and s.call counts the calls of the
// previous block; between calls the newest sample sits one entry further on
// and s.call counts the calls made.
void applyPending(State& s, const Kernels& k) {
  for (int j = 0; j < s.pending; ++j) {
    k.update(&s.weights[0][0], &s.split_f[0][0], s.split_position + s.call - s.pending_call[j],
             s.pending_step[j]);
  }
  s.pending = 0;
}

// Starts a block at the newest sample: applies the deferred updates and forms
// the block's outputs. The slots of the samples still to come hold zero.
void runPass(State& s, const Kernels& k) {
  // The raw samples after the newest are unknown and count as zero: x(p - 1)
  // is the one the pass reads, and d(e) = x(e + 2) - x(e) follows for
  // p - 1 .. p - 3.
  const int p = s.split_position;
  splitEntry(s.split_x, p - 1) = 0;
  splitEntry(s.split_d, p - 1) = splitEntry(s.split_x, p + 1);
  splitEntry(s.split_d, p - 2) = splitEntry(s.split_x, p);
  splitEntry(s.split_d, p - 3) = 0;
  const int phase = p % kPhases, at = p / kPhases;
  const float* f = &s.split_f[0][at];
  const float* x = &s.split_x[0][at];
  const float* d = &s.split_d[0][at];
  // A full block of updates, made by consecutive calls, fuses with the pass.
  if (s.pending == kBlock) {
    k.with_updates[phase](&s.weights[0][0], f, s.pending_step, x, d, s.ahead);
    s.pending = 0;
  } else {
    applyPending(s, k);
    k.without_updates[phase](&s.weights[0][0], f, s.pending_step, x, d, s.ahead);
  }
}

void settle(State& s, const Kernels& k) {
  applyPending(s, k);
  s.calls = s.call = 0;
}

}  // namespace

void settle(State& s) {
  settle(s, bestKernels());
}

int process(State& s, int captured, int reference) {
  return process(s, captured, reference, bestKernels());
}

int process(State& s, int captured, int reference, const Kernels& k) {
  const float cap = static_cast<float>(captured);
  const float ref = static_cast<float>(reference);
  const bool adapt = detectStep(s, cap, ref);

  const int pos = s.position;
  s.raw[pos] = ref;
  s.filtered[pos] = preFilter(ref, s.ref_prev_in, s.ref_prev_out);
  const int split = s.split_position;
  splitEntry(s.split_x, split) = ref;
  splitEntry(s.split_d, split) = splitEntry(s.split_x, split + 2) - ref;
  splitEntry(s.split_f, split) = s.filtered[pos];
  for (int l = 1; l < kBlock; ++l) {
    s.correlation[l] +=
        static_cast<double>(s.filtered[pos + l]) * s.raw[pos] -
        static_cast<double>(s.filtered[pos + l + kTaps]) * static_cast<double>(s.raw[pos + kTaps]);
  }

  double echo;
  if (s.call == s.calls) {
    runPass(s, k);
    for (int i = 0; i < kBlock; ++i)
      s.lead[i] = weight(s, i);
    s.calls = kBlock;
    s.call = 0;
    echo = s.ahead[0];
  } else {
    const int j = s.call;
    echo = s.ahead[j];
    for (int i = 0; i < j; ++i)
      echo += s.lead[i] * static_cast<double>(s.raw[pos + i]);
    for (int q = 0; q < s.pending; ++q)
      echo += static_cast<double>(s.pending_step[q]) * s.correlation[j - s.pending_call[q]];
  }
  const int call = s.call++;
  const float err = static_cast<float>(static_cast<double>(cap) - echo);

  if (adapt) {
    const float err_f = preFilter(err, s.err_prev_in, s.err_prev_out);
    if (s.adapted_last) {
      const double newest = s.filtered[pos];
      const double left = s.filtered[pos + kTaps];
      s.power = static_cast<float>(static_cast<double>(s.power) + newest * newest - left * left);
    } else {
      s.power = static_cast<float>(k.sum_squares(s.filtered + pos));
    }
    // A window without energy (or a running sum that drifted to or below
    // zero) gives no usable step: skip the update rather than divide by it.
    if (s.power > 0) {
      const double step = kStepNumerator / s.power * err_f;
      if (step > kStepLimit || step < -kStepLimit) {
        // The rest of the block starts from zero weights.
        std::memset(s.weights, 0, sizeof s.weights);
        std::memset(s.ahead, 0, sizeof s.ahead);
        std::memset(s.lead, 0, sizeof s.lead);
        s.pending = 0;
      } else {
        s.pending_step[s.pending] = static_cast<float>(step);
        s.pending_call[s.pending] = call;
        ++s.pending;
      }
    }
  }
  s.adapted_last = adapt;

  if (--s.split_position < kSplitLow) {
    // Entries from three before the newest to the end of the oldest update
    // window move on.
    constexpr int kLive = (kSplitLow + kBlock + kTaps + kPhases) / kPhases;
    constexpr int kShift = kSplitMove / kPhases;
    static_assert(kLive + kShift <= kSplitLength);
    for (int r = 0; r < kPhases; ++r) {
      std::memmove(s.split_x[r] + kShift, s.split_x[r], kLive * sizeof(float));
      std::memmove(s.split_d[r] + kShift, s.split_d[r], kLive * sizeof(float));
      std::memmove(s.split_f[r] + kShift, s.split_f[r], kLive * sizeof(float));
    }
    s.split_position += kSplitMove;
  }
  if (--s.position < 0) {
    std::memmove(s.raw + kSlack + 1, s.raw, (kTaps - 1 + kTail) * sizeof(float));
    std::memmove(s.filtered + kSlack + 1, s.filtered, (kTaps - 1 + kTail) * sizeof(float));
    s.position = kSlack;
  }

  return limitOutput(adapt ? err * kResidualGain : static_cast<double>(err));
}

}  // namespace dampa
