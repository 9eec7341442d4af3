#include "echo/canceller.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
  std::memset(s.block_peaks, 0, sizeof s.block_peaks);
  // The deferred updates and the pass belong to the weights just cleared; the
  // correlations to the histories.
  s.pending = 0;
  s.calls = s.call = 0;
  std::memset(s.correlation, 0, sizeof s.correlation);
}

bool detect(State& s, float captured, float reference) {
  float r = std::fabs(reference);
  if (r > s.block_peaks[s.block_slot]) {
    s.block_peaks[s.block_slot] = r;
    if (r > s.peak) s.peak = r;
  }
  if (++s.block_count == kBlockSamples) {
    s.block_count = 0;
    // The peaks are magnitudes (no NaN, no negative zero), so the order of
    // the comparisons does not matter: eight running maxima without
    // branches, which the compiler turns into vector instructions.
    float m[8] = {};
    for (int i = 0; i < kBlocks; i += 8) {
      for (int k = 0; k < 8; ++k)
        m[k] = s.block_peaks[i + k] > m[k] ? s.block_peaks[i + k] : m[k];
    }
    for (int k = 1; k < 8; ++k)
      m[0] = m[k] > m[0] ? m[k] : m[0];
    s.peak = m[0];
    s.block_slot = (s.block_slot + 1) % kBlocks;
    s.block_peaks[s.block_slot] = 0;
  }
  // |captured| >= 0.3 * peak, compared exactly: both sides are small
  // multiples of floats and so exact in double.
  if (10.0 * std::fabs(captured) >= 3.0 * s.peak) s.hangover = kHangover;
  if (s.hangover > 0) --s.hangover;
  return !(s.peak < kSilentPeak) && s.hangover == 0;
}

namespace {

// Applies the deferred updates to the weights and forms the block's outputs
// from them; lags 0 only applies.
void runPass(State& s, const Kernels& k, int lags) {
  const float* xf[kBlock];
  for (int j = 0; j < s.pending; ++j)
    xf[j] = s.filtered + s.pending_at[j];
  k.pass[s.pending][lags](s.weights, xf, s.pending_step, s.raw + s.position, s.ahead);
  s.pending = 0;
}

void settle(State& s, const Kernels& k) {
  if (s.pending > 0) runPass(s, k, 0);
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
  const bool adapt = detect(s, cap, ref);

  const int pos = s.position;
  s.raw[pos] = ref;
  s.filtered[pos] = preFilter(ref, s.ref_prev_in, s.ref_prev_out);
  for (int l = 1; l < kBlock; ++l) {
    s.correlation[l] += static_cast<double>(s.filtered[pos + l]) * s.raw[pos] -
                        static_cast<double>(s.filtered[pos + l + kTaps]) * s.raw[pos + kTaps];
  }

  double echo;
  if (s.call == s.calls) {
    // A new block, as long as the window does not reach the block copy. The
    // samples of its later calls are not here yet: zero while the pass runs.
    const int lags = std::min(kBlock, pos + 1);
    for (int j = 1; j < lags; ++j)
      s.raw[pos - j] = 0;
    runPass(s, k, lags);
    for (int i = 0; i < lags; ++i)
      s.lead[i] = s.weights[i];
    s.calls = lags;
    s.call = 0;
    echo = s.ahead[0];
  } else {
    const int j = s.call;
    echo = s.ahead[j];
    for (int i = 0; i < j; ++i)
      echo += s.lead[i] * s.raw[pos + i];
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
        s.pending_at[s.pending] = pos;
        s.pending_call[s.pending] = call;
        ++s.pending;
      }
    }
  }
  s.adapted_last = adapt;

  if (--s.position < 0) {
    // The last block ends here (it stopped at position 0); its updates must
    // use the window before it moves.
    settle(s, k);
    std::memmove(s.raw + kSlack + 1, s.raw, (kTaps - 1 + kTail) * sizeof(double));
    std::memmove(s.filtered + kSlack + 1, s.filtered, (kTaps - 1 + kTail) * sizeof(float));
    s.position = kSlack;
  }

  return limitOutput(adapt ? err * kResidualGain : static_cast<double>(err));
}

}  // namespace dampa
