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
  s.departing = 0;
  // The deferred update belongs to the weights just cleared.
  s.pending = false;
}

bool detect(State& s, float captured, float reference) {
  float r = std::fabs(reference);
  if (r > s.block_peaks[s.block_slot]) {
    s.block_peaks[s.block_slot] = r;
    if (r > s.peak) s.peak = r;
  }
  if (++s.block_count == kBlockSamples) {
    s.block_count = 0;
    s.peak = *std::max_element(s.block_peaks, s.block_peaks + kBlocks);
    s.block_slot = (s.block_slot + 1) % kBlocks;
    s.block_peaks[s.block_slot] = 0;
  }
  // |captured| >= 0.3 * peak, compared exactly: both sides are small
  // multiples of floats and so exact in double.
  if (10.0 * std::fabs(captured) >= 3.0 * s.peak) s.hangover = kHangover;
  if (s.hangover > 0) --s.hangover;
  return !(s.peak < kSilentPeak) && s.hangover == 0;
}

void settle(State& s) {
  if (!s.pending) return;
  // The deferred update belongs to the window one entry older than the current
  // one; process() settles before the block copy, so position + 1 is valid.
  bestKernels().update(s.weights, s.filtered + s.position + 1, s.pending_step);
  s.pending = false;
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

  // One pass applies the previous call's update and forms this call's output.
  double echo;
  if (s.pending) {
    echo = k.update_dot(s.weights, s.filtered + pos + 1, s.pending_step, s.raw + pos);
    s.pending = false;
  } else {
    echo = k.dot(s.weights, s.raw + pos);
  }
  const float err = static_cast<float>(static_cast<double>(cap) - echo);

  if (adapt) {
    const float err_f = preFilter(err, s.err_prev_in, s.err_prev_out);
    if (s.adapted_last) {
      const double newest = s.filtered[pos];
      const double left = pos == kSlack ? s.departing : s.filtered[pos + kTaps];
      s.power = static_cast<float>(static_cast<double>(s.power) + newest * newest - left * left);
    } else {
      s.power = static_cast<float>(k.sum_squares(s.filtered + pos));
    }
    // A window without energy (or a running sum that drifted to or below
    // zero) gives no usable step: skip the update rather than divide by it.
    if (s.power > 0) {
      const double step = kStepNumerator / s.power * err_f;
      if (step > kStepLimit || step < -kStepLimit) {
        std::memset(s.weights, 0, sizeof s.weights);
      } else {
        s.pending = true;
        s.pending_step = static_cast<float>(step);
      }
    }
  }
  s.adapted_last = adapt;

  if (--s.position < 0) {
    // The update must use the window before it moves.
    if (s.pending) {
      k.update(s.weights, s.filtered + pos, s.pending_step);
      s.pending = false;
    }
    s.departing = s.filtered[kTaps - 1];
    std::memmove(s.raw + kSlack + 1, s.raw, (kTaps - 1) * sizeof(float));
    std::memmove(s.filtered + kSlack + 1, s.filtered, (kTaps - 1) * sizeof(float));
    s.position = kSlack;
  }

  return limitOutput(adapt ? err * kResidualGain : static_cast<double>(err));
}

}  // namespace dampa
