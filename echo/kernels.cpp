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
#include <utility>

#include "echo/canceller.h"

// This file must be compiled with -ffp-contract=off: the weight update is a
// float multiply and a float add, and a contracted FMA would round once
// instead of twice on some machines only.

namespace dampa {
namespace {

static_assert(kGroups % 8 == 0 && kTaps % 8 == 0);

// Each instruction set supplies 8-float and 4-double values and a few
// operations on them; kernel_loops.inc builds the loops from them, once per
// instruction set, so that lane order and rounding are the same in all.

namespace sse2 {

constexpr const char* kName = "sse2";
struct F {
  __m128 lo, hi;
};
struct D {
  __m128d lo, hi;
};
inline F loadF(const float* p) {
  return {_mm_loadu_ps(p), _mm_loadu_ps(p + 4)};
}
inline void storeF(float* p, F f) {
  _mm_storeu_ps(p, f.lo);
  _mm_storeu_ps(p + 4, f.hi);
}
inline F broadcast(float g) {
  return {_mm_set1_ps(g), _mm_set1_ps(g)};
}
inline F mulF(F a, F b) {
  return {_mm_mul_ps(a.lo, b.lo), _mm_mul_ps(a.hi, b.hi)};
}
inline F addF(F a, F b) {
  return {_mm_add_ps(a.lo, b.lo), _mm_add_ps(a.hi, b.hi)};
}
inline D zeroD() {
  return {_mm_setzero_pd(), _mm_setzero_pd()};
}
inline D widenLow(F f) {
  return {_mm_cvtps_pd(f.lo), _mm_cvtps_pd(_mm_movehl_ps(f.lo, f.lo))};
}
inline D widenHigh(F f) {
  return {_mm_cvtps_pd(f.hi), _mm_cvtps_pd(_mm_movehl_ps(f.hi, f.hi))};
}
inline D loadWiden(const float* p) {
  const __m128 f = _mm_loadu_ps(p);
  return {_mm_cvtps_pd(f), _mm_cvtps_pd(_mm_movehl_ps(f, f))};
}
inline D addD(D a, D b) {
  return {_mm_add_pd(a.lo, b.lo), _mm_add_pd(a.hi, b.hi)};
}
inline D subD(D a, D b) {
  return {_mm_sub_pd(a.lo, b.lo), _mm_sub_pd(a.hi, b.hi)};
}
// acc + a * b, rounding the product first.
inline D madd(D a, D b, D acc) {
  return addD(acc, {_mm_mul_pd(a.lo, b.lo), _mm_mul_pd(a.hi, b.hi)});
}
// (l0 + l2) + (l1 + l3).
inline double reduce(D a) {
  const __m128d s = _mm_add_pd(a.lo, a.hi);
  return _mm_cvtsd_f64(_mm_add_sd(s, _mm_unpackhi_pd(s, s)));
}

#include "echo/kernel_loops.inc"

}  // namespace sse2

OLVARO_TARGET_BEGIN_AVX2
namespace avx2 {

constexpr const char* kName = "avx2";
#include "echo/vector_avx.inc"

#include "echo/kernel_loops.inc"

}  // namespace avx2
OLVARO_TARGET_END

// The AVX2 loops with the AVX-512 encoding: the same results, and twice the
// registers to keep the sums in.
OLVARO_TARGET_BEGIN_AVX512
namespace avx512 {

constexpr const char* kName = "avx512f";
#include "echo/vector_avx.inc"

#include "echo/kernel_loops.inc"

}  // namespace avx512
OLVARO_TARGET_END

constexpr Kernels kSse2 = sse2::kernels();
constexpr Kernels kAvx2 = avx2::kernels();
constexpr Kernels kAvx512 = avx512::kernels();

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
