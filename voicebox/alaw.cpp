#include "voicebox/alaw.h"

#include <array>

namespace parvane {
namespace {

// Decoding by the segment rule: after the exclusive-or with 0x55, bit 7 is
// the sign (set for positive), bits 6..4 the segment and bits 3..0 the step.
constexpr int decodeByRule(uint8_t code) {
  code ^= 0x55;
  int segment = (code >> 4) & 0x07;
  int mantissa = code & 0x0F;
  int v = segment == 0 ? (mantissa << 1) + 1 : ((mantissa << 1) + 33) << (segment - 1);
  return (code & 0x80) ? v : -v;
}

constexpr std::array<int16_t, 256> makeTable() {
  std::array<int16_t, 256> t{};
  for (int c = 0; c < 256; ++c)
    t[c] = static_cast<int16_t>(decodeByRule(static_cast<uint8_t>(c)));
  return t;
}

constexpr std::array<int16_t, 256> kDecode13 = makeTable();

}  // namespace

int alawDecode13(uint8_t code) {
  return kDecode13[code];
}

uint8_t alawEncode13(int linear) {
  if (linear > 4095) linear = 4095;
  if (linear < -4096) linear = -4096;
  int v = linear;
  uint8_t sign = 0x80;
  // Negative values are coded by their one's complement, so that -1 and 0
  // fall on either side of the zero step and every step is equally wide.
  if (v < 0) {
    v = -v - 1;
    sign = 0x00;
  }
  uint8_t code;
  if (v < 32) {
    code = static_cast<uint8_t>(v >> 1);
  } else {
    int segment = 1;
    while ((v >> (segment + 4)) > 1)
      ++segment;
    code = static_cast<uint8_t>(segment << 4 | ((v >> segment) & 0x0F));
  }
  return static_cast<uint8_t>((code | sign) ^ 0x55);
}

uint8_t alawEncode(int16_t linear) {
  return alawEncode13(linear >> 3);
}

int16_t alawDecode(uint8_t code) {
  return static_cast<int16_t>(kDecode13[code] * 8);
}

uint8_t alawEncodeClamped(int linear16) {
  if (linear16 > 32767) linear16 = 32767;
  if (linear16 < -32768) linear16 = -32768;
  return alawEncode13(linear16 >> 3);
}

}  // namespace parvane
