// The per-sample loops of the canceller, over the full 1024-tap window, in one
// version per instruction set. All versions give bit-identical results: sums
// run in 32 double lanes (tap i into lane i % 32) that are added up in a fixed
// order at the end, and float*float products are exact in double, so a fused
// multiply-add and a multiply followed by an add agree.
#ifndef OLVARO_ECHO_KERNELS_H_
#define OLVARO_ECHO_KERNELS_H_

#include <span>

namespace dampa {

struct Kernels {
  const char* name;
  // Returns the sum of w[i] * x[i] over the window.
  double (*dot)(const float* w, const float* x);
  // w[i] = w[i] + g * xf[i], then returns the sum of the new w[i] * x[i].
  double (*update_dot)(float* w, const float* xf, float g, const float* x);
  // w[i] = w[i] + g * xf[i].
  void (*update)(float* w, const float* xf, float g);
  // Returns the sum of x[i] * x[i] over the window.
  double (*sum_squares)(const float* x);
};

// The fastest set this processor runs.
const Kernels& bestKernels();

// Every set this processor runs, the portable one first.
std::span<const Kernels* const> supportedKernels();

}  // namespace dampa

#endif  // OLVARO_ECHO_KERNELS_H_
