// Mixing of voice buffers through the frequency domain: each buffer's
// spectrum is added and the sum transformed back.
#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "voicebox/alaw.h"
#include "voicebox/zt_api.h"

namespace {

using Complex = std::complex<float>;
constexpr int kMaxSize = 2048;

// In-place iterative radix-2 FFT; inverse without the division by n.
void fft(Complex* a, int n, bool inverse) {
  for (int i = 1, j = 0; i < n; ++i) {
    int bit = n >> 1;
    for (; j & bit; bit >>= 1)
      j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  // Twiddles of the largest size, shared by every smaller one.
  static const std::vector<Complex> twiddle = [] {
    std::vector<Complex> t(kMaxSize / 2);
    for (int k = 0; k < kMaxSize / 2; ++k) {
      double angle = -2.0 * M_PI * k / kMaxSize;
      t[k] = Complex(static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle)));
    }
    return t;
  }();
  for (int len = 2; len <= n; len <<= 1) {
    const int stride = kMaxSize / len;
    const int half = len / 2;
    for (int i = 0; i < n; i += len)
      for (int k = 0; k < half; ++k) {
        Complex w = twiddle[k * stride];
        if (inverse) w = std::conj(w);
        Complex u = a[i + k];
        Complex v = a[i + k + half] * w;
        a[i + k] = u + v;
        a[i + k + half] = u - v;
      }
  }
}

}  // namespace

extern "C" char* ZT_MixVoice(char** buffers, int count, char* out, int length) {
  if (!buffers || !out || count < 1 || length < 1 || length > kMaxSize) return nullptr;
  int n = 128;
  while (n < length)
    n <<= 1;
  Complex sum[kMaxSize];
  Complex one[kMaxSize];
  std::fill(sum, sum + n, Complex(0, 0));
  for (int b = 0; b < count; ++b) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(buffers[b]);
    if (!in) continue;  // a missing buffer adds nothing
    for (int i = 0; i < length; ++i)
      one[i] = Complex(static_cast<float>(parvane::alawDecode13(in[i])), 0);
    std::fill(one + length, one + n, Complex(0, 0));
    fft(one, n, false);
    for (int i = 0; i < n; ++i)
      sum[i] += one[i];
  }
  fft(sum, n, true);
  for (int i = 0; i < length; ++i) {
    float v = sum[i].real() / static_cast<float>(n);
    int s = static_cast<int>(v);  // truncated toward zero
    out[i] = static_cast<char>(parvane::alawEncode13(std::clamp(s, -4096, 4095)));
  }
  return out;
}
