#include "echo/signals.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace dampa::signals {
namespace {

// A small generator with a fixed algorithm (the standard distributions are
// not the same across library versions).
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  double gaussian() {
    double u = uniform(), v = uniform();
    return std::sqrt(-2.0 * std::log(1.0 - u)) * std::cos(2.0 * std::numbers::pi * v);
  }

 private:
  uint64_t state_;
};

int toSample(double v) {
  return static_cast<int>(std::lround(std::clamp(v, -32767.0, 32767.0)));
}

// Two-pole resonator coefficients for a centre frequency and bandwidth in Hz.
struct Resonator {
  double a1, a2, y1 = 0, y2 = 0;
  Resonator(double hz, double bw) {
    double r = std::exp(-std::numbers::pi * bw / kRate);
    a1 = 2 * r * std::cos(2 * std::numbers::pi * hz / kRate);
    a2 = -r * r;
  }
  double step(double x) {
    double y = x + a1 * y1 + a2 * y2;
    y2 = y1;
    y1 = y;
    return y;
  }
};

}  // namespace

std::vector<int> whiteNoise(int samples, double rms, uint64_t seed) {
  Rng rng(seed);
  std::vector<int> out(samples);
  for (int& s : out)
    s = toSample(rms * rng.gaussian());
  return out;
}

std::vector<int> speechLike(int samples, double rms, uint64_t seed) {
  Rng rng(seed);
  std::vector<double> v(samples, 0.0);
  Resonator f1(500, 120), f2(1500, 200);
  int i = 0;
  bool talking = true;
  while (i < samples) {
    int len = static_cast<int>((talking ? 0.4 + 1.2 * rng.uniform() : 0.15 + 0.45 * rng.uniform()) *
                               kRate);
    double syllable_hz = 3.0 + 3.0 * rng.uniform();
    for (int k = 0; k < len && i < samples; ++k, ++i) {
      double x = rng.gaussian();
      double shaped = f1.step(x) + 0.5 * f2.step(x);
      if (talking) {
        double env = std::sin(std::numbers::pi * syllable_hz * k / kRate);
        v[i] = shaped * env * env;
      }
    }
    talking = !talking;
  }
  double sum = 0;
  int active = 0;
  for (double x : v) {
    if (x != 0) {
      sum += x * x;
      ++active;
    }
  }
  double gain = active ? rms / std::sqrt(sum / active) : 0;
  std::vector<int> out(samples);
  for (int k = 0; k < samples; ++k)
    out[k] = toSample(gain * v[k]);
  return out;
}

std::vector<double> echoPath(int taps, double erl_db, uint64_t seed) {
  Rng rng(seed);
  constexpr int kBulkDelay = 24;  // 3 ms of line and converter delay
  std::vector<double> h(taps, 0.0);
  double energy = 0;
  for (int k = kBulkDelay; k < taps; ++k) {
    // Decays by about 40 dB over the path.
    h[k] = rng.gaussian() * std::exp(-4.6 * (k - kBulkDelay) / (taps - kBulkDelay));
    energy += h[k] * h[k];
  }
  double scale = std::sqrt(std::pow(10.0, -erl_db / 10) / energy);
  for (double& x : h)
    x *= scale;
  return h;
}

std::vector<int> capture(const std::vector<int>& far, const std::vector<double>& path,
                         double noise_below_db, uint64_t seed) {
  const int n = static_cast<int>(far.size());
  const int taps = static_cast<int>(path.size());
  std::vector<double> echo(n, 0.0);
  double power = 0;
  for (int i = 0; i < n; ++i) {
    double acc = 0;
    for (int k = 0; k < taps && k <= i; ++k)
      acc += path[k] * far[i - k];
    echo[i] = acc;
    power += acc * acc;
  }
  double noise_rms = std::sqrt(power / n * std::pow(10.0, -noise_below_db / 10));
  Rng rng(seed);
  std::vector<int> out(n);
  for (int i = 0; i < n; ++i)
    out[i] = toSample(echo[i] + noise_rms * rng.gaussian());
  return out;
}

double erleDb(const std::vector<int>& captured, const std::vector<int>& output, int from, int to) {
  double num = 0, den = 0;
  for (int i = from; i < to; ++i) {
    num += static_cast<double>(captured[i]) * captured[i];
    den += static_cast<double>(output[i]) * output[i];
  }
  if (den == 0) return INFINITY;
  return 10 * std::log10(num / den);
}

}  // namespace dampa::signals
