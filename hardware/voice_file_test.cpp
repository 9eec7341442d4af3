#include "hardware/voice_file.h"

#include <gtest/gtest.h>

#include "hardware/test_files.h"

namespace hardware {
namespace {

using hardware_test::wave;

TEST(VoiceFile, Lengths) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    VoiceStatus status;
    bool wave;
    uint64_t ms;
  } cases[] = {
      {"empty a-law", {}, VoiceStatus::kOk, false, 0},
      {"a-law 8000 bytes", std::vector<uint8_t>(8000, 0xD5), VoiceStatus::kOk, false, 1000},
      {"a-law rounds up", std::vector<uint8_t>(9, 0xD5), VoiceStatus::kOk, false, 2},
      {"wave 16 kB/s", wave(16000, 8000, 8000), VoiceStatus::kOk, true, 500},
      {"wave after a padded chunk", wave(8000, 4000, 4000, true), VoiceStatus::kOk, true, 500},
      {"wave data cut short", wave(8000, 80000, 800), VoiceStatus::kOk, true, 100},
      {"wave byte rate 0", wave(0, 800, 800), VoiceStatus::kMalformed, true, 0},
  };
  for (const auto& c : cases) {
    VoiceLength v = measureVoice(c.bytes.data(), c.bytes.size(), c.bytes.size());
    EXPECT_EQ(v.status, c.status) << c.name;
    EXPECT_EQ(v.wave, c.wave) << c.name;
    EXPECT_EQ(v.durationMs, c.ms) << c.name;
  }
}

TEST(VoiceFile, BrokenHeadersAreMalformedNotRead) {
  std::vector<uint8_t> full = wave(8000, 800, 800);
  // Every cut inside the headers must be refused without reading past it.
  for (size_t cut = 12; cut < 44; ++cut) {
    std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<long>(cut));
    VoiceLength v = measureVoice(part.data(), part.size(), part.size());
    EXPECT_EQ(v.status, VoiceStatus::kMalformed) << cut;
  }
  // A fmt chunk claiming a size smaller than its fields.
  std::vector<uint8_t> small = full;
  small[16] = 8;
  EXPECT_EQ(measureVoice(small.data(), small.size(), small.size()).status, VoiceStatus::kMalformed);
  // A chunk size running far past the end ends the walk.
  std::vector<uint8_t> huge = wave(8000, 800, 800, true);
  huge[16] = huge[17] = huge[18] = huge[19] = 0xFF;
  EXPECT_EQ(measureVoice(huge.data(), huge.size(), huge.size()).status, VoiceStatus::kMalformed);
}

TEST(VoiceFile, RiffThatIsNotWaveIsRawBytes) {
  std::vector<uint8_t> b = wave(8000, 800, 800);
  b[8] = 'A';  // "AAVE"
  VoiceLength v = measureVoice(b.data(), b.size(), b.size());
  EXPECT_EQ(v.status, VoiceStatus::kOk);
  EXPECT_FALSE(v.wave);
  EXPECT_EQ(v.durationMs, playMs(b.size(), kAlawBytesPerSecond));
}

TEST(VoiceFile, FromDisk) {
  hardware_test::ScratchDir dir;
  hardware_test::writeFile(dir / "a.wav", wave(16000, 32000, 32000));
  EXPECT_EQ(measureVoiceFile(dir / "a.wav").durationMs, 2000u);
  EXPECT_EQ(measureVoiceFile(dir / "none.wav").status, VoiceStatus::kCannotOpen);
  EXPECT_EQ(measureVoiceFile(dir.path()).status, VoiceStatus::kCannotOpen);
}

}  // namespace
}  // namespace hardware
