// A-law (G.711) conversion of single samples.
#pragma once

#include <cstdint>

namespace parvane {

// 16-bit linear sample to A-law by the segment rule (the low three bits are
// below A-law's resolution and are dropped).
uint8_t alawEncode(int16_t linear);
// A-law to 16-bit linear, the middle of the code's interval.
int16_t alawDecode(uint8_t code);

}  // namespace parvane
