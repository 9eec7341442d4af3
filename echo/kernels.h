// The per-pass loops of the canceller over the 1024-tap window, in one
// version per instruction set. All versions give bit-identical results: each
// sum runs in 8 double lanes (tap i into lane i % 8) that are added up in a
// fixed order at the end, and products of a float by a float are exact in
// double, so a fused multiply-add and a multiply followed by an add agree.
#ifndef OLVARO_ECHO_KERNELS_H_
#define OLVARO_ECHO_KERNELS_H_

#include <span>

#include "echo/canceller.h"

namespace dampa {

// Applies `steps` updates to w in order, w[i] = w[i] + g[j] * xf[j][i] (float
// product, then float sum), then forms out[k] = sum of w[i] * x[i - k] over
// the window, for k < lags. x[-1] .. x[1 - lags] must be readable.
using PassFn = void (*)(float* w, const float* const* xf, const float* g, const double* x,
                        double* out);

struct Kernels {
  const char* name;
  PassFn pass[kBlock + 1][kBlock + 1];  // [steps][lags]
  // Returns the sum of x[i] * x[i] over the window.
  double (*sum_squares)(const float* x);
};

// The fastest set this processor runs.
const Kernels& bestKernels();

// Every set this processor runs, the portable one first.
std::span<const Kernels* const> supportedKernels();

}  // namespace dampa

#endif  // OLVARO_ECHO_KERNELS_H_
