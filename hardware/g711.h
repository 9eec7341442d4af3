// G.711 for the SIP lines: the platform's voice files are A-law, callers may
// speak either A-law (PCMA) or µ-law (PCMU). 16-bit linear samples.
#pragma once

#include <cstdint>

namespace hardware::g711 {

uint8_t linearToAlaw(int16_t pcm);
int16_t alawToLinear(uint8_t a);
uint8_t linearToUlaw(int16_t pcm);
int16_t ulawToLinear(uint8_t u);
// Through linear: exact for every code that has a counterpart.
uint8_t alawToUlaw(uint8_t a);
uint8_t ulawToAlaw(uint8_t u);

}  // namespace hardware::g711
