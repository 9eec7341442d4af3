#include "echo/canceller.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "echo/kernels.h"
#include "echo/signals.h"

namespace dampa {
namespace {

// The canceller written step by step, with plain sequential loops and an
// immediate weight update, as the independent model the fast code must match.
class Model {
 public:
  int step(int captured, int reference) {
    float s = static_cast<float>(captured), r = static_cast<float>(reference);
    // Detector.
    float ar = std::fabs(r);
    if (ar > peaks_[slot_]) {
      peaks_[slot_] = ar;
      if (ar > peak_) peak_ = ar;
    }
    if (++count_ == 16) {
      count_ = 0;
      peak_ = 0;
      for (float p : peaks_)
        peak_ = std::max(peak_, p);
      slot_ = (slot_ + 1) % 64;
      peaks_[slot_] = 0;
    }
    if (10.0 * std::fabs(s) >= 3.0 * peak_) hang_ = 240;
    if (hang_ > 0) --hang_;
    bool adapt = !(peak_ < 104) && hang_ == 0;

    // Filter.
    raw_[pos_] = r;
    filt_[pos_] = pre(r, rin_, rout_);
    double sum = 0;
    for (int i = 0; i < 1024; ++i)
      sum += static_cast<double>(w_[i]) * raw_[pos_ + i];
    float e = static_cast<float>(s - sum);
    if (adapt) {
      float ef = pre(e, ein_, eout_);
      if (last_) {
        double left = pos_ == 80 ? departing_ : filt_[pos_ + 1024];
        power_ = static_cast<float>(power_ + static_cast<double>(filt_[pos_]) * filt_[pos_] -
                                    left * left);
      } else {
        double p = 0;
        for (int i = 0; i < 1024; ++i)
          p += static_cast<double>(filt_[pos_ + i]) * filt_[pos_ + i];
        power_ = static_cast<float>(p);
      }
      if (power_ > 0) {
        double g = 0.5 / power_ * ef;
        if (g > 0.005 || g < -0.005) {
          for (float& w : w_)
            w = 0;
          ++resets;
        } else {
          float gf = static_cast<float>(g);
          for (int i = 0; i < 1024; ++i)
            w_[i] = w_[i] + gf * filt_[pos_ + i];
        }
      } else {
        ++skips;
      }
      ++adapted;
    }
    last_ = adapt;
    if (--pos_ < 0) {
      departing_ = filt_[1023];
      for (int i = 1022; i >= 0; --i) {
        raw_[i + 81] = raw_[i];
        filt_[i + 81] = filt_[i];
      }
      pos_ = 80;
    }
    double out = adapt ? e * 0.3 : e;
    if (out > 32767) return 32767;
    if (out < -32767) return -32767;
    return static_cast<int>(out);
  }

  const float* weights() const { return w_; }

  int resets = 0, skips = 0, adapted = 0;

 private:
  static float pre(float x, float& in, float& out) {
    double y = 0.521606981754303f * static_cast<double>(x) -
               0.521606981754303f * static_cast<double>(in) +
               0.04321400076150894f * static_cast<double>(out);
    in = x;
    out = static_cast<float>(y);
    return out;
  }

  float w_[1024] = {}, raw_[1104] = {}, filt_[1104] = {};
  int pos_ = 0;
  float rin_ = 0, rout_ = 0, ein_ = 0, eout_ = 0, power_ = 0, departing_ = 0;
  bool last_ = false;
  float peaks_[64] = {};
  int count_ = 0, slot_ = 0, hang_ = 0;
  float peak_ = 0;
};

std::vector<float> tapWeights(const State& s) {
  std::vector<float> w(kTaps);
  for (int i = 0; i < kTaps; ++i)
    w[i] = weight(s, i);
  return w;
}

// A state with an active reference already seen, so that the next quiet call
// adapts; the histories are empty.
std::unique_ptr<State> adaptingState(float peak, float weight) {
  auto s = std::make_unique<State>();
  s->peak = peak;
  s->block_peaks[0] = peak;
  for (int i = 0; i < kTaps; ++i)
    dampa::weight(*s, i) = weight;
  return s;
}

TEST(Canceller, SilentReferencePassesCapturedAndKeepsWeights) {
  struct Case {
    int captured, expected;
  };
  const Case cases[] = {
      {0, 0},         {1, 1},          {-1, -1},         {12345, 12345},   {-32767, -32767},
      {32767, 32767}, {40000, 32767},  {-40000, -32767}, {INT_MAX, 32767}, {INT_MIN, -32767},
      {32768, 32767}, {-32768, -32767}};
  auto s = std::make_unique<State>();
  for (int i = 0; i < kTaps; ++i)
    weight(*s, i) = 0.25f * std::sin(0.1f * i);
  const std::vector<float> before = tapWeights(*s);
  for (int round = 0; round < 30; ++round) {  // crosses several block copies
    for (const Case& c : cases) {
      EXPECT_EQ(process(*s, c.captured, 0), c.expected) << c.captured;
    }
  }
  settle(*s);
  EXPECT_EQ(tapWeights(*s), before);
}

TEST(Canceller, AttenuatesOnceHangoverRunsOut) {
  // A loud reference; the captured signal is loud (double talk) for 10
  // samples, then quiet. The weights are still zero, so the output is the
  // captured sample itself until adaptation starts, then 0.3 of it.
  auto s = std::make_unique<State>();
  for (int i = 0; i < 10; ++i)
    ASSERT_EQ(process(*s, 5000, 10000), 5000);
  for (int quiet = 1; quiet <= 238; ++quiet) {
    ASSERT_EQ(process(*s, 1000, 10000), 1000) << "quiet call " << quiet;
  }
  EXPECT_EQ(process(*s, 1000, 10000), 300);
}

TEST(Canceller, DetectorThresholds) {
  // First call on a new state, weights zero: holding passes the captured
  // sample, adapting gives 0.3 of it.
  struct Case {
    const char* name;
    int reference, captured, expected;
  };
  const Case cases[] = {
      {"reference peak below 104 is silence", 103, 20, 20},
      {"reference peak of 104 is active", 104, 20, 6},
      {"negative reference counts by size", -104, 20, 6},
      {"captured at exactly 0.3 of the peak is double talk", 10000, 3000, 3000},
      {"negative captured counts by size", 10000, -3000, -3000},
      {"captured just under 0.3 of the peak adapts", 10000, 2999, 899},
  };
  for (const Case& c : cases) {
    auto s = std::make_unique<State>();
    EXPECT_EQ(process(*s, c.captured, c.reference), c.expected) << c.name;
  }
}

TEST(Canceller, StepBeyondLimitClearsWeights) {
  enum Outcome { kCleared, kUpdated, kUnchanged };
  struct Case {
    const char* name;
    int captured, reference;
    Outcome outcome;
  };
  // The histories are empty, so the power is that of the one new filtered
  // sample, 0.52 * reference.
  const Case cases[] = {
      {"tiny power, positive step", 100, 1, kCleared},
      {"tiny power, negative step", -100, 1, kCleared},
      {"normal power", 100, 1000, kUpdated},
      {"just inside the limit", 100, 139, kUpdated},  // step 0.00495
      {"just beyond the limit", 100, 138, kCleared},  // step 0.00503
      {"zero power", 100, 0, kUnchanged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = adaptingState(1000, 0.001f);
    int out = process(*s, c.captured, c.reference);
    settle(*s);
    EXPECT_TRUE(std::isfinite(s->power));
    int changed = 0, zero = 0;
    for (float w : tapWeights(*s)) {
      ASSERT_TRUE(std::isfinite(w));
      changed += w != 0.001f;
      zero += w == 0;
    }
    switch (c.outcome) {
      case kCleared:
        EXPECT_EQ(zero, kTaps);
        break;
      case kUpdated:
        EXPECT_EQ(changed, 1);  // only the tap that sees the new sample
        EXPECT_EQ(zero, 0);
        break;
      case kUnchanged:
        EXPECT_EQ(changed, 0);
        EXPECT_EQ(out, static_cast<int>((c.captured - 0.0) * 0.3));
        break;
    }
  }
}

TEST(Canceller, WindowRunsOnAcrossBlockCopies) {
  // Fixed weights on taps 5 and 1023, a reference too quiet to adapt on: the
  // output is minus the two delayed samples, across every block copy.
  auto s = std::make_unique<State>();
  weight(*s, 5) = 1.0f;
  weight(*s, kTaps - 1) = 0.5f;
  std::vector<int> ref;
  for (int n = 0; n < 3000; ++n) {
    ref.push_back((n * 37) % 101 - 50);
    auto at = [&](int k) { return k >= 0 ? ref[k] : 0; };
    double expected = -(at(n - 5) + 0.5 * at(n - (kTaps - 1)));
    ASSERT_EQ(process(*s, 0, ref[n]), static_cast<int>(expected)) << "call " << n;
    if (n == 0 || n == 81) {
      EXPECT_EQ(s->position, kSlack) << "call " << n;
    }
  }
}

TEST(Canceller, RunningPowerMatchesWindowAcrossBlockCopies) {
  auto far = signals::whiteNoise(4000, 3000, 7);
  auto cap = signals::capture(far, signals::echoPath(300, 20, 8), 40, 9);
  auto s = std::make_unique<State>();
  std::deque<double> window(kTaps, 0.0);
  float in = 0, out = 0;
  int checked = 0;
  for (size_t n = 0; n < far.size(); ++n) {
    process(*s, cap[n], far[n]);
    double y = kPreGain * static_cast<double>(far[n]) - kPreGain * static_cast<double>(in) +
               kPreFeedback * static_cast<double>(out);
    in = static_cast<float>(far[n]);
    out = static_cast<float>(y);
    window.push_front(out);
    window.pop_back();
    if (!s->adapted_last) continue;
    double sum = 0;
    for (double v : window)
      sum += v * v;
    ASSERT_NEAR(s->power, sum, 1e-4 * sum) << "call " << n;
    ++checked;
  }
  EXPECT_GT(checked, 3000);
}

TEST(Canceller, ResetClearsOnlyFilterAndPeaks) {
  auto far = signals::whiteNoise(500, 3000, 1);
  auto s = std::make_unique<State>();
  for (int n = 0; n < 500; ++n)
    process(*s, far[n] / 10, far[n]);
  auto before = std::make_unique<State>(*s);
  reset(*s);
  for (float v : tapWeights(*s))
    ASSERT_EQ(v, 0);
  for (float v : s->raw)
    ASSERT_EQ(v, 0);
  for (float v : s->filtered)
    ASSERT_EQ(v, 0);
  for (int r = 0; r < kPhases; ++r) {
    for (int i = 0; i < kSplitLength; ++i) {
      ASSERT_EQ(s->split_x[r][i], 0);
      ASSERT_EQ(s->split_d[r][i], 0);
      ASSERT_EQ(s->split_f[r][i], 0);
    }
  }
  for (float v : s->block_peaks)
    ASSERT_EQ(v, 0);
  EXPECT_EQ(s->position, before->position);
  EXPECT_EQ(s->ref_prev_in, before->ref_prev_in);
  EXPECT_EQ(s->ref_prev_out, before->ref_prev_out);
  EXPECT_EQ(s->err_prev_in, before->err_prev_in);
  EXPECT_EQ(s->err_prev_out, before->err_prev_out);
  EXPECT_EQ(s->power, before->power);
  EXPECT_EQ(s->adapted_last, before->adapted_last);
  EXPECT_EQ(s->block_count, before->block_count);
  EXPECT_EQ(s->block_slot, before->block_slot);
  EXPECT_EQ(s->peak, before->peak);
  EXPECT_EQ(s->hangover, before->hangover);
}

// A far end that switches between talk, quiet, silence and a steady level
// (whose pre-filtered power dies away, giving tiny or zero window power), with
// a near end that sometimes talks over it: exercises hold, adaptation, weight
// resets, skipped updates and block copies.
void mixedSignals(int n, uint64_t seed, std::vector<int>& far, std::vector<int>& cap) {
  auto noise = signals::whiteNoise(n, 4000, seed);
  auto near = signals::speechLike(n, 2500, seed + 1);
  far.assign(n, 0);
  for (int i = 0; i < n; ++i) {
    switch ((i / 3000) % 5) {
      case 0:
        far[i] = noise[i];
        break;
      case 1:
        far[i] = noise[i] / 50;
        break;
      case 2:
        far[i] = 0;
        break;
      case 3:
        far[i] = noise[i] / 3;
        break;
      case 4:
        far[i] = 3000;
        break;
    }
  }
  cap = signals::capture(far, signals::echoPath(600, 12, seed + 2), 35, seed + 3);
  for (int i = 0; i < n; ++i) {
    if ((i / 7000) % 3 == 2) cap[i] += near[i];
  }
}

struct Agreement {
  const char* name;
  std::vector<int> far, cap;
};

std::vector<Agreement> agreementSignals() {
  const int n = 8 * signals::kRate;
  std::vector<Agreement> v;
  auto white = signals::whiteNoise(n, 4000, 11);
  v.push_back({"white", white, signals::capture(white, signals::echoPath(800, 20, 12), 40, 13)});
  auto speech = signals::speechLike(n, 4000, 21);
  v.push_back({"speech", speech, signals::capture(speech, signals::echoPath(800, 20, 22), 40, 23)});
  Agreement mixed{"mixed", {}, {}};
  mixedSignals(n, 31, mixed.far, mixed.cap);
  v.push_back(mixed);
  return v;
}

TEST(Canceller, EveryKernelSetAgreesWithModel) {
  for (const Agreement& sig : agreementSignals()) {
    SCOPED_TRACE(sig.name);
    Model model;
    std::vector<int> expected(sig.far.size());
    for (size_t n = 0; n < sig.far.size(); ++n)
      expected[n] = model.step(sig.cap[n], sig.far[n]);
    EXPECT_GT(model.adapted, static_cast<int>(sig.far.size()) / 4);
    if (std::string(sig.name) == "mixed") {
      EXPECT_GT(model.resets, 0);
      EXPECT_GT(model.skips, 0);
    }
    std::printf("[ model    ] %s: %d adapting, %d resets, %d skipped\n", sig.name, model.adapted,
                model.resets, model.skips);

    for (const Kernels* k : supportedKernels()) {
      SCOPED_TRACE(k->name);
      auto s = std::make_unique<State>();
      int off_by_one = 0;
      for (size_t n = 0; n < sig.far.size(); ++n) {
        int diff = std::abs(process(*s, sig.cap[n], sig.far[n], *k) - expected[n]);
        ASSERT_LE(diff, 1) << "sample " << n;
        off_by_one += diff;
      }
      EXPECT_LT(off_by_one, static_cast<int>(sig.far.size()) / 1000);
      std::printf("[ model    ] %s on %s: %d samples off by one\n", sig.name, k->name, off_by_one);
      settle(*s);
      for (int t = 0; t < kTaps; ++t)
        ASSERT_NEAR(weight(*s, t), model.weights()[t], 1e-6) << "tap " << t;
    }
  }
}

TEST(Canceller, RunningCorrelationsMatchTheirWindows) {
  // Each running cross-correlation equals the sum over its window, through
  // block copies and a restart, with no drift.
  auto far = signals::whiteNoise(6000, 3000, 41);
  auto cap = signals::capture(far, signals::echoPath(300, 20, 42), 40, 43);
  auto s = std::make_unique<State>();
  int checked = 0;
  for (size_t n = 0; n < far.size(); ++n) {
    if (n == 2500) reset(*s);
    process(*s, cap[n], far[n]);
    if (n % 37 != 0) continue;
    // process() has moved the position on; the sums describe the window of
    // the call just made, which now starts one entry further (or, after a
    // block copy, at the slack).
    const int pos = s->position == kSlack ? 0 : s->position + 1;
    const float* raw = s->position == kSlack ? s->raw + kSlack + 1 : s->raw + pos;
    const float* filtered = s->position == kSlack ? s->filtered + kSlack + 1 : s->filtered + pos;
    for (int l = 1; l < kBlock; ++l) {
      double sum = 0;
      for (int i = 0; i < kTaps; ++i)
        sum += static_cast<double>(filtered[l + i]) * raw[i];
      ASSERT_NEAR(s->correlation[l], sum, 1e-9 * (std::fabs(sum) + 1e6)) << "call " << n;
    }
    ++checked;
  }
  EXPECT_GT(checked, 100);
}

TEST(Canceller, SettlingInsideBlocksStillAgreesWithModel) {
  // settle() ends a block wherever it is called; blocks of every length and
  // alignment must give what the model gives, and leave the same weights.
  const int n = 3 * signals::kRate;
  auto far = signals::whiteNoise(n, 4000, 51);
  auto cap = signals::capture(far, signals::echoPath(500, 20, 52), 40, 53);
  for (int every : {1, 2, 3, 5, 7, 81}) {
    SCOPED_TRACE(every);
    Model model;
    auto s = std::make_unique<State>();
    int off_by_one = 0;
    for (int i = 0; i < n; ++i) {
      int want = model.step(cap[i], far[i]);
      int got = process(*s, cap[i], far[i]);
      ASSERT_LE(std::abs(got - want), 1) << "sample " << i;
      off_by_one += got != want;
      if (i % every == every - 1) settle(*s);
    }
    EXPECT_LT(off_by_one, n / 1000);
    settle(*s);
    for (int t = 0; t < kTaps; ++t)
      ASSERT_NEAR(weight(*s, t), model.weights()[t], 1e-6) << "tap " << t;
  }
}

struct QualityCase {
  const char* name;
  std::vector<int> (*far)(int samples, double rms, uint64_t seed);
};

void PrintTo(const QualityCase& c, std::ostream* os) {
  *os << c.name;
}

class EchoQuality : public ::testing::TestWithParam<QualityCase> {};

TEST_P(EchoQuality, ReachesTwentyDecibelsAfterFiveSeconds) {
  const int n = 15 * signals::kRate;
  auto far = GetParam().far(n, 4000, 101);
  auto cap = signals::capture(far, signals::echoPath(800, 20, 102), 40, 103);
  auto s = std::make_unique<State>();
  std::vector<int> out(n);
  for (int i = 0; i < n; ++i)
    out[i] = process(*s, cap[i], far[i]);
  double erle = signals::erleDb(cap, out, 5 * signals::kRate, n);
  RecordProperty("erle_db", std::to_string(erle));
  std::printf("[ ERLE     ] %s: %.1f dB\n", GetParam().name, erle);
  EXPECT_GE(erle, 20.0);
}

INSTANTIATE_TEST_SUITE_P(Signals, EchoQuality,
                         ::testing::Values(QualityCase{"white", signals::whiteNoise},
                                           QualityCase{"speech", signals::speechLike}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dampa
