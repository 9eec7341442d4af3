#include "hardware/g711.h"

namespace hardware::g711 {

namespace {

// Segment ends of the 13-bit magnitude A-law encodes.
constexpr int kSegEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};

int segmentOf(int value) {
  for (int i = 0; i < 8; ++i)
    if (value <= kSegEnd[i]) return i;
  return 8;
}

constexpr int kUlawBias = 0x84;
constexpr int kUlawClip = 32635;

}  // namespace

uint8_t linearToAlaw(int16_t pcm) {
  int value = pcm >> 3;  // 13 significant bits
  int mask;
  if (value >= 0) {
    mask = 0xD5;
  } else {
    mask = 0x55;
    value = -value - 1;
  }
  const int seg = segmentOf(value);
  if (seg >= 8) return static_cast<uint8_t>(0x7F ^ mask);
  int aval = seg << 4;
  aval |= seg < 2 ? (value >> 1) & 0xF : (value >> seg) & 0xF;
  return static_cast<uint8_t>(aval ^ mask);
}

int16_t alawToLinear(uint8_t a) {
  a ^= 0x55;
  int t = (a & 0xF) << 4;
  const int seg = (a & 0x70) >> 4;
  if (seg == 0)
    t += 8;
  else if (seg == 1)
    t += 0x108;
  else
    t = (t + 0x108) << (seg - 1);
  return static_cast<int16_t>((a & 0x80) ? t : -t);
}

uint8_t linearToUlaw(int16_t pcm) {
  int value = pcm;
  int mask = 0xFF;
  if (value < 0) {
    value = -value;
    mask = 0x7F;
  }
  if (value > kUlawClip) value = kUlawClip;
  value += kUlawBias;
  int seg = 0;
  for (int v = value >> 7; v > 1 && seg < 7; v >>= 1)
    ++seg;
  const int uval = (seg << 4) | ((value >> (seg + 3)) & 0xF);
  return static_cast<uint8_t>(uval ^ mask);
}

int16_t ulawToLinear(uint8_t u) {
  u = static_cast<uint8_t>(~u);
  int t = ((u & 0x0F) << 3) + kUlawBias;
  t <<= (u & 0x70) >> 4;
  return static_cast<int16_t>((u & 0x80) ? kUlawBias - t : t - kUlawBias);
}

uint8_t alawToUlaw(uint8_t a) {
  return linearToUlaw(alawToLinear(a));
}

uint8_t ulawToAlaw(uint8_t u) {
  return linearToAlaw(ulawToLinear(u));
}

}  // namespace hardware::g711
