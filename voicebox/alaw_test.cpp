// A-law against G.711's published values, and mixing of voice buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <vector>

#include "voicebox/alaw.h"
#include "voicebox/zt_api.h"

namespace {

using parvane::alawDecode13;
using parvane::alawEncode13;

// Width of a code's decision interval in 13-bit units.
int stepOf(uint8_t code) {
  int segment = ((code ^ 0x55) >> 4) & 7;
  return segment <= 1 ? 2 : 1 << segment;
}

TEST(Alaw, DecodesThePublishedValues) {
  // G.711 A-law decoder outputs (16-bit scale = 13-bit value times 8).
  const struct {
    int code, linear16;
  } rows[] = {{0xD5, 8},      {0x55, -8},   {0xD4, 24},    {0xD0, 88},
              {0xC5, 264},    {0xF5, 528},  {0xE5, 1056},  {0x95, 2112},
              {0x85, 4224},   {0xB5, 8448}, {0xA5, 16896}, {0xAA, 32256},
              {0x2A, -32256}, {0xDA, 248},  {0xA0, 22016}, {0x80, 5504}};
  for (auto& r : rows) {
    EXPECT_EQ(alawDecode13(static_cast<uint8_t>(r.code)) * 8, r.linear16) << std::hex << r.code;
    EXPECT_EQ(parvane::alawDecode(static_cast<uint8_t>(r.code)), r.linear16);
  }
  // All 256 codes: 256 distinct values, symmetric about zero, within 4032.
  std::set<int> values;
  for (int c = 0; c < 256; ++c) {
    int v = alawDecode13(static_cast<uint8_t>(c));
    values.insert(v);
    EXPECT_EQ(alawDecode13(static_cast<uint8_t>(c ^ 0x80)), -v) << c;
    EXPECT_LE(std::abs(v), 4032);
  }
  EXPECT_EQ(values.size(), 256u);
}

TEST(Alaw, EveryThirteenBitValueEncodesIntoItsInterval) {
  for (int v = -4096; v <= 4095; ++v) {
    uint8_t code = alawEncode13(v);
    int mid = alawDecode13(code), half = stepOf(code) / 2;
    if (v >= 4032 + 32) {
      EXPECT_EQ(code, 0xAA) << v;  // beyond the last interval: the largest code
    } else if (v < -4032 - 32) {
      EXPECT_EQ(code, 0x2A) << v;
    } else {
      EXPECT_GE(v, mid - half) << v;
      EXPECT_LT(v, mid + half) << v;
    }
  }
  for (int c = 0; c < 256; ++c)
    EXPECT_EQ(alawEncode13(alawDecode13(static_cast<uint8_t>(c))), c);
  // Out of range values are limited.
  EXPECT_EQ(alawEncode13(100000), 0xAA);
  EXPECT_EQ(alawEncode13(-100000), 0x2A);
  EXPECT_EQ(parvane::alawEncodeClamped(40000), 0xAA);
  EXPECT_EQ(parvane::alawEncodeClamped(-40000), 0x2A);
}

std::vector<char> voice(int n, unsigned seed) {
  std::vector<char> v(n);
  srand(seed);
  for (auto& b : v)
    b = static_cast<char>(alawEncode13(rand() % 3000 - 1500));
  return v;
}

TEST(MixVoice, AddsTheBuffers) {
  for (int length : {1, 100, 128, 129, 1000, 2048}) {
    auto a = voice(length, 1), b = voice(length, 2), c = voice(length, 3);
    char* in[3] = {a.data(), b.data(), c.data()};
    std::vector<char> out(length + 1, 0x11);
    ASSERT_EQ(ZT_MixVoice(in, 3, out.data(), length), out.data()) << length;
    EXPECT_EQ(out[length], 0x11) << "nothing written past the length";
    int exact = 0;
    for (int i = 0; i < length; ++i) {
      int sum = alawDecode13(a[i]) + alawDecode13(b[i]) + alawDecode13(c[i]);
      int want = alawDecode13(alawEncode13(std::clamp(sum, -4096, 4095)));
      int got = alawDecode13(static_cast<uint8_t>(out[i]));
      exact += got == want;
      // Float rounding may move a sum that lies on an interval's edge by one.
      auto near = [&](int s) { return alawDecode13(alawEncode13(std::clamp(s, -4096, 4095))); };
      EXPECT_TRUE(got == want || got == near(sum - 1) || got == near(sum + 1)) << i;
    }
    EXPECT_GE(exact, length * 95 / 100) << length;
  }
}

TEST(MixVoice, LimitsAndRefusals) {
  std::vector<char> loud(300, static_cast<char>(0xAA)), out(2049);
  char* two[2] = {loud.data(), loud.data()};
  ASSERT_NE(ZT_MixVoice(two, 2, out.data(), 300), nullptr);
  for (int i = 0; i < 300; ++i)
    EXPECT_EQ(static_cast<uint8_t>(out[i]), 0xAA);  // 8064 limited to 4095
  std::vector<char> big(2049, static_cast<char>(0xD5));
  char* one[1] = {big.data()};
  EXPECT_EQ(ZT_MixVoice(one, 1, out.data(), 2049), nullptr);
  EXPECT_EQ(ZT_MixVoice(one, 1, out.data(), 0), nullptr);
  EXPECT_EQ(ZT_MixVoice(one, 0, out.data(), 10), nullptr);
  EXPECT_EQ(ZT_MixVoice(nullptr, 1, out.data(), 10), nullptr);
  EXPECT_EQ(ZT_MixVoice(one, 1, nullptr, 10), nullptr);
  // A missing buffer among others adds nothing.
  char* withGap[2] = {nullptr, loud.data()};
  ASSERT_NE(ZT_MixVoice(withGap, 2, out.data(), 10), nullptr);
  EXPECT_EQ(static_cast<uint8_t>(out[0]), 0xAA);
}

}  // namespace
