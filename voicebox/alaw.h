// A-law (G.711) conversion. Linear values inside the library are 13-bit
// (-4096..4095, the resolution A-law keeps); the 16-bit forms are for code that
// works on ordinary PCM (the echo canceller, FSK synthesis).
#pragma once

#include <cstdint>

namespace parvane {

// A-law to 13-bit linear through a 256-entry table: the middle of the code's
// interval, -4032..4032.
int alawDecode13(uint8_t code);
// 13-bit linear to A-law by the segment rule; values outside -4096..4095 are
// limited first.
uint8_t alawEncode13(int linear);

// 16-bit linear sample to A-law (the low three bits are below A-law's
// resolution and are dropped, rounding toward minus infinity).
uint8_t alawEncode(int16_t linear);
// A-law to 16-bit linear, the 13-bit value times 8.
int16_t alawDecode(uint8_t code);
// A 16-bit value held in an int, limited to -32768..32767 first.
uint8_t alawEncodeClamped(int linear16);

}  // namespace parvane
