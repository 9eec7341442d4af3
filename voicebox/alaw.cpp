#include "voicebox/alaw.h"

namespace parvane {

uint8_t alawEncode(int16_t linear) {
  int v = linear >> 3;  // 13-bit
  uint8_t sign = 0x80;
  if (v < 0) {
    v = -v - 1;
    sign = 0x00;
  }
  if (v > 0xFFF) v = 0xFFF;
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

int16_t alawDecode(uint8_t code) {
  code ^= 0x55;
  int segment = (code >> 4) & 0x07;
  int mantissa = code & 0x0F;
  int v = segment == 0 ? (mantissa << 1) + 1 : ((mantissa << 1) + 33) << (segment - 1);
  v <<= 3;
  return static_cast<int16_t>((code & 0x80) ? v : -v);
}

}  // namespace parvane
