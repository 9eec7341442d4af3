#include "echo/kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace dampa {
namespace {

// The split histories and weights of a State filled with random values: raw
// samples as integers, d consistent with them, filtered samples and weights
// as floats of mixed sizes.
struct Fixture {
  std::unique_ptr<State> s = std::make_unique<State>();
  std::mt19937 rng{7};

  Fixture() {
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::uniform_real_distribution<float> unit(-1, 1);
    for (int r = 0; r < kPhases; ++r) {
      for (int i = 0; i < kSplitLength; ++i) {
        s->split_x[r][i] = sample(rng);
        s->split_f[r][i] = unit(rng) * 3000;
      }
    }
    for (int e = 0; e + 2 < kPhases * kSplitLength; ++e)
      d(e) = x(e + 2) - x(e);
    for (int i = 0; i < kTaps; ++i)
      weight(*s, i) = unit(rng) * std::pow(10.0f, -static_cast<float>(i % 9));
  }
  float& x(int e) { return s->split_x[e % kPhases][e / kPhases]; }
  float& d(int e) { return s->split_d[e % kPhases][e / kPhases]; }
  float& f(int e) { return s->split_f[e % kPhases][e / kPhases]; }
};

TEST(Kernels, PassMatchesTheSumsItStandsFor) {
  const float steps[kBlock] = {1.5e-6f, -2.25e-7f, 3e-8f, -4.5e-6f};
  for (const Kernels* k : supportedKernels()) {
    for (int p : {4, 5, 6, 7, 41, kSplitTop}) {
      for (bool updates : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << k->name << " at " << p << (updates ? " with" : " without") << " updates");
        Fixture fx;
        std::vector<float> want(kTaps);
        for (int i = 0; i < kTaps; ++i) {
          want[i] = weight(*fx.s, i);
          for (int j = 0; updates && j < kBlock; ++j) {
            const float product = steps[j] * fx.f(p + kBlock - j + i);
            want[i] = want[i] + product;
          }
        }
        double out[kBlock];
        const int at = p / kPhases;
        const PassFn pass =
            updates ? k->with_updates[p % kPhases] : k->without_updates[p % kPhases];
        pass(&fx.s->weights[0][0], &fx.s->split_f[0][at], steps, &fx.s->split_x[0][at],
             &fx.s->split_d[0][at], out);
        for (int i = 0; i < kTaps; ++i)
          ASSERT_EQ(weight(*fx.s, i), want[i]) << "tap " << i;
        for (int lag = 0; lag < kBlock; ++lag) {
          long double sum = 0, size = 0;
          for (int i = 0; i < kTaps; ++i) {
            const long double term = static_cast<long double>(want[i]) * fx.x(p - lag + i);
            sum += term;
            size += std::fabs(term);
          }
          EXPECT_NEAR(out[lag], static_cast<double>(sum), static_cast<double>(size) * 1e-14)
              << "output " << lag;
        }
      }
    }
  }
}

TEST(Kernels, SingleUpdateAndPower) {
  for (const Kernels* k : supportedKernels()) {
    for (int e : {4, 5, 6, 7, kSplitTop + kBlock}) {
      SCOPED_TRACE(testing::Message() << k->name << " from " << e);
      Fixture fx;
      std::vector<float> want(kTaps);
      for (int i = 0; i < kTaps; ++i) {
        const float product = -3.5e-7f * fx.f(e + i);
        want[i] = weight(*fx.s, i) + product;
      }
      k->update(&fx.s->weights[0][0], &fx.s->split_f[0][0], e, -3.5e-7f);
      for (int i = 0; i < kTaps; ++i)
        ASSERT_EQ(weight(*fx.s, i), want[i]) << "tap " << i;
    }
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> unit(-3000, 3000);
    std::vector<float> filtered(kTaps);
    double want = 0;
    for (float& v : filtered) {
      v = unit(rng);
      want += static_cast<double>(v) * v;
    }
    EXPECT_NEAR(k->sum_squares(filtered.data()), want, want * 1e-13) << k->name;
  }
}

}  // namespace
}  // namespace dampa
