// The per-pass loops of the canceller over the 1024-tap window, in one
// version per instruction set. All versions update the weights with the same
// float operations. The sums run in 4 double lanes (group g of four taps into
// lane g % 4), added up in a fixed order at the end; the AVX2 and AVX-512
// versions give identical sums, the SSE2 one (no fused multiply-add) may
// differ from them in the last bit, and so, very rarely, in an output sample.
#ifndef OLVARO_ECHO_KERNELS_H_
#define OLVARO_ECHO_KERNELS_H_

#include <span>

#include "echo/canceller.h"

namespace dampa {

// A pass at split position p. w is the weight rows; f, x and d point at
// entry p / 4 of row 0 of the split filtered, raw and difference histories.
// With updates, it first applies the four updates of a full block, in order:
// update j adds g[j] * f(p + 4 - j + i) to the weight of tap i (float product,
// then float sum), f(e) being entry e of the filtered history. Then it forms
// out[k] = sum of w[i] * x(p - k + i) for k < 4, x(e) being entry e of the raw
// history; the entries p - 1 .. p - 3 must hold the samples after the newest
// (zero when unknown) and d(e) must equal x(e + 2) - x(e).
using PassFn = void (*)(float* w, const float* f, const float* g, const float* x, const float* d,
                        double* out);

struct Kernels {
  const char* name;
  PassFn with_updates[kPhases];  // by p % 4
  PassFn without_updates[kPhases];
  // One update: adds g * f(e + i) to the weight of tap i, f pointing at row 0
  // of the split filtered history.
  void (*update)(float* w, const float* f, int e, float g);
  // Returns the sum of x[i] * x[i] over the window.
  double (*sum_squares)(const float* x);
};

// The fastest set this processor runs.
const Kernels& bestKernels();

// Every set this processor runs, the portable one first.
std::span<const Kernels* const> supportedKernels();

}  // namespace dampa

#endif  // OLVARO_ECHO_KERNELS_H_
