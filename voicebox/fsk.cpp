// The FSK file writer: caller-ID style FSK (mark about 1174 Hz, space about
// 2348 Hz, 1200 bits a second, start and stop bits) as 8000 Hz A-law bytes.
#include <cmath>
#include <cstdio>
#include <vector>

#include "voicebox/alaw.h"
#include "voicebox/library.h"
#include "voicebox/zt_api.h"

namespace parvane {

// Mark advances the phase 16 steps of a 109-step cycle per sample; space
// goes twice as fast. One phase runs through both tones, so the wave has no
// jump where a bit changes.
std::vector<uint8_t> fskModulate(const uint8_t* data, size_t length, double amplitude) {
  constexpr int kCycle = 109;
  constexpr int kMarkStep = 16;
  constexpr int kLeadBlocks = 20;
  constexpr int kBlock = 128;
  const double pi = std::acos(-1.0);
  double table[kCycle];
  for (int i = 0; i < kCycle; ++i)
    table[i] = std::sin(2 * pi * i / kCycle);

  std::vector<uint8_t> out(kLeadBlocks * kBlock, 0x55);
  int phase = 0;
  long bitIndex = 0;
  long samplesDone = 0;
  auto emitBit = [&](bool mark) {
    // 6 or 7 samples a bit: bit k ends at sample round((k + 1) * 20 / 3).
    ++bitIndex;
    long end = (bitIndex * 20 + 1) / 3;
    for (; samplesDone < end; ++samplesDone) {
      phase = (phase + (mark ? kMarkStep : 2 * kMarkStep)) % kCycle;
      out.push_back(alawEncode(static_cast<int16_t>(std::lround(amplitude * table[phase]))));
    }
  };
  emitBit(true);
  for (size_t i = 0; i < length; ++i) {
    emitBit(false);
    for (int bit = 0; bit < 8; ++bit)
      emitBit((data[i] >> bit) & 1);
    emitBit(true);
  }
  while (out.size() % kBlock != 0)
    out.push_back(0x55);
  out.insert(out.end(), kBlock, 0x55);
  return out;
}

}  // namespace parvane

using namespace parvane;

extern "C" int ZT_Buf2FSKFile(const char* data, int length, const char* fileName) {
  if ((!data && length > 0) || length < 0 || !fileName) {
    lib().lastError = kErrRange;
    return -1;
  }
  std::lock_guard lock(lib().bufferLock);
  std::vector<uint8_t> bytes =
      fskModulate(reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(length), 16000.0);
  FILE* f = std::fopen(fileName, "wb");
  if (!f) return -1;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  return ok ? static_cast<int>(bytes.size()) : -1;
}
