#include "echo/kernels.h"

// GCC 12 reports its own AVX-512 conversion intrinsics as reading an
// uninitialised value.
#if defined(__clang__)
#include <immintrin.h>
#else
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

// Code for one instruction set: GCC takes a target for a region, clang an
// attribute applied to every function in it.
#if defined(__clang__)
#define OLVARO_TARGET_BEGIN_AVX2 \
  _Pragma("clang attribute push(__attribute__((target(\"avx2,fma\"))), apply_to = function)")
#define OLVARO_TARGET_BEGIN_AVX512 \
  _Pragma(                         \
      "clang attribute push(__attribute__((target(\"avx512f,avx2,fma\"))), apply_to = function)")
#define OLVARO_TARGET_END _Pragma("clang attribute pop")
#else
#define OLVARO_TARGET_BEGIN_AVX2 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,fma\")")
#define OLVARO_TARGET_BEGIN_AVX512 \
  _Pragma("GCC push_options") _Pragma("GCC target(\"avx512f,avx2,fma\")")
#define OLVARO_TARGET_END _Pragma("GCC pop_options")
#endif

#include <array>

#include "echo/canceller.h"

// This file must be compiled with -ffp-contract=off: the weight update is a
// float multiply and a float add, and a contracted FMA would round once
// instead of twice on some machines only.

namespace dampa {
namespace {

constexpr int kLanes = 32;
static_assert(kTaps % kLanes == 0);

// Adds the 32 lane sums in a fixed pairwise order.
double reduceLanes(double (&l)[kLanes]) {
  for (int n = kLanes / 2; n >= 1; n /= 2) {
    for (int i = 0; i < n; ++i)
      l[i] = l[i] + l[i + n];
  }
  return l[0];
}

// Each instruction set supplies an 8-lane double accumulator and three steps
// on 8 taps; kernel_loops.inc then builds the four loops from them, once per
// instruction set, so that lane order and rounding are the same in all.

namespace sse2 {

struct Acc {
  __m128d v[4];
};
inline Acc zero() {
  return {{_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()}};
}
inline void store(double* out, const Acc& a) {
  for (int k = 0; k < 4; ++k)
    _mm_storeu_pd(out + 2 * k, a.v[k]);
}
inline __m128d widenLow(__m128 f) {
  return _mm_cvtps_pd(f);
}
inline __m128d widenHigh(__m128 f) {
  return _mm_cvtps_pd(_mm_movehl_ps(f, f));
}
inline void madd(Acc& a, __m128 w0, __m128 w1, const float* x) {
  __m128 x0 = _mm_loadu_ps(x), x1 = _mm_loadu_ps(x + 4);
  a.v[0] = _mm_add_pd(a.v[0], _mm_mul_pd(widenLow(w0), widenLow(x0)));
  a.v[1] = _mm_add_pd(a.v[1], _mm_mul_pd(widenHigh(w0), widenHigh(x0)));
  a.v[2] = _mm_add_pd(a.v[2], _mm_mul_pd(widenLow(w1), widenLow(x1)));
  a.v[3] = _mm_add_pd(a.v[3], _mm_mul_pd(widenHigh(w1), widenHigh(x1)));
}
inline void madd(Acc& a, const float* w, const float* x) {
  madd(a, _mm_loadu_ps(w), _mm_loadu_ps(w + 4), x);
}
inline __m128 updated(const float* w, const float* xf, __m128 g) {
  return _mm_add_ps(_mm_loadu_ps(w), _mm_mul_ps(g, _mm_loadu_ps(xf)));
}
inline void update(float* w, const float* xf, float g) {
  __m128 gv = _mm_set1_ps(g);
  _mm_storeu_ps(w, updated(w, xf, gv));
  _mm_storeu_ps(w + 4, updated(w + 4, xf + 4, gv));
}
inline void updateMadd(Acc& a, float* w, const float* xf, float g, const float* x) {
  __m128 gv = _mm_set1_ps(g);
  __m128 w0 = updated(w, xf, gv), w1 = updated(w + 4, xf + 4, gv);
  _mm_storeu_ps(w, w0);
  _mm_storeu_ps(w + 4, w1);
  madd(a, w0, w1, x);
}

#include "echo/kernel_loops.inc"

}  // namespace sse2

OLVARO_TARGET_BEGIN_AVX2
namespace avx2 {

struct Acc {
  __m256d lo, hi;
};
inline Acc zero() {
  return {_mm256_setzero_pd(), _mm256_setzero_pd()};
}
inline void store(double* out, const Acc& a) {
  _mm256_storeu_pd(out, a.lo);
  _mm256_storeu_pd(out + 4, a.hi);
}
inline void madd(Acc& a, const float* w, const float* x) {
  a.lo = _mm256_fmadd_pd(_mm256_cvtps_pd(_mm_loadu_ps(w)), _mm256_cvtps_pd(_mm_loadu_ps(x)), a.lo);
  a.hi = _mm256_fmadd_pd(_mm256_cvtps_pd(_mm_loadu_ps(w + 4)), _mm256_cvtps_pd(_mm_loadu_ps(x + 4)),
                         a.hi);
}
inline void update(float* w, const float* xf, float g) {
  __m256 nw =
      _mm256_add_ps(_mm256_loadu_ps(w), _mm256_mul_ps(_mm256_set1_ps(g), _mm256_loadu_ps(xf)));
  _mm256_storeu_ps(w, nw);
}
inline void updateMadd(Acc& a, float* w, const float* xf, float g, const float* x) {
  update(w, xf, g);
  madd(a, w, x);
}

#include "echo/kernel_loops.inc"

}  // namespace avx2
OLVARO_TARGET_END

OLVARO_TARGET_BEGIN_AVX512
namespace avx512 {

struct Acc {
  __m512d v;
};
inline Acc zero() {
  return {_mm512_setzero_pd()};
}
inline void store(double* out, const Acc& a) {
  _mm512_storeu_pd(out, a.v);
}
inline void madd(Acc& a, const float* w, const float* x) {
  a.v = _mm512_fmadd_pd(_mm512_cvtps_pd(_mm256_loadu_ps(w)), _mm512_cvtps_pd(_mm256_loadu_ps(x)),
                        a.v);
}
inline void update(float* w, const float* xf, float g) {
  __m256 nw =
      _mm256_add_ps(_mm256_loadu_ps(w), _mm256_mul_ps(_mm256_set1_ps(g), _mm256_loadu_ps(xf)));
  _mm256_storeu_ps(w, nw);
}
inline void updateMadd(Acc& a, float* w, const float* xf, float g, const float* x) {
  update(w, xf, g);
  madd(a, w, x);
}

#include "echo/kernel_loops.inc"

}  // namespace avx512
OLVARO_TARGET_END

constexpr Kernels kSse2{"sse2", sse2::dot, sse2::updateDot, sse2::updateAll, sse2::sumSquares};
constexpr Kernels kAvx2{"avx2", avx2::dot, avx2::updateDot, avx2::updateAll, avx2::sumSquares};
constexpr Kernels kAvx512{"avx512f", avx512::dot, avx512::updateDot, avx512::updateAll,
                          avx512::sumSquares};

struct Supported {
  std::array<const Kernels*, 3> list{};
  int count = 0;
};

Supported probe() {
  __builtin_cpu_init();
  Supported s;
  s.list[s.count++] = &kSse2;
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) s.list[s.count++] = &kAvx2;
  if (__builtin_cpu_supports("avx512f")) s.list[s.count++] = &kAvx512;
  return s;
}

const Supported& supported() {
  static const Supported s = probe();
  return s;
}

}  // namespace

const Kernels& bestKernels() {
  const Supported& s = supported();
  return *s.list[s.count - 1];
}

std::span<const Kernels* const> supportedKernels() {
  const Supported& s = supported();
  return {s.list.data(), static_cast<size_t>(s.count)};
}

}  // namespace dampa
