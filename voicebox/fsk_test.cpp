// The FSK file writer against a decoder we did not write (minimodem), and
// the spectrum of its two tones.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "voicebox/alaw.h"
#include "voicebox/zt_api.h"

namespace {

using parvane::alawDecode;
using parvane::alawEncode;

std::string tempPath(const std::string& name) {
  return (::testing::TempDir().empty() ? std::string("/tmp/") : ::testing::TempDir()) + "parvane_" +
         std::to_string(::getpid()) + "_" + name;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

void put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}

// An 8000 Hz mono A-law wave file around the bytes.
void writeAlawWave(const std::string& path, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> h;
  auto tag = [&](const char* t) { h.insert(h.end(), t, t + 4); };
  tag("RIFF");
  put32(h, static_cast<uint32_t>(50 + data.size()));
  tag("WAVE");
  tag("fmt ");
  put32(h, 18);
  put16(h, 6);  // A-law
  put16(h, 1);
  put32(h, 8000);
  put32(h, 8000);
  put16(h, 1);
  put16(h, 8);
  put16(h, 0);
  tag("fact");
  put32(h, 4);
  put32(h, static_cast<uint32_t>(data.size()));
  tag("data");
  put32(h, static_cast<uint32_t>(data.size()));
  ASSERT_EQ(h.size(), 58u);
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(h.data()), static_cast<std::streamsize>(h.size()));
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

bool haveMinimodem() {
  return std::system("command -v minimodem >/dev/null 2>&1") == 0;
}

double goertzel(const std::vector<double>& x, double f) {
  const double pi = std::acos(-1.0);
  double w = 2 * std::cos(2 * pi * f / 8000.0), s1 = 0, s2 = 0;
  for (double v : x) {
    double s = v + w * s1 - s2;
    s2 = s1;
    s1 = s;
  }
  return s1 * s1 + s2 * s2 - w * s1 * s2;
}

TEST(Alaw, EveryCodeSurvivesDecodeAndEncode) {
  for (int c = 0; c < 256; ++c)
    EXPECT_EQ(alawEncode(alawDecode(static_cast<uint8_t>(c))), c) << c;
  EXPECT_EQ(alawEncode(0), 0xD5);
  EXPECT_EQ(alawEncode(32767), 0xAA);
  EXPECT_EQ(alawEncode(-32768), 0x2A);
}

TEST(FskFile, LayoutOfLeadInBitsAndPadding) {
  const std::string path = tempPath("layout.raw");
  for (int n : {0, 1, 13, 100}) {
    std::vector<char> data(static_cast<size_t>(n), 'A');
    int written = ZT_Buf2FSKFile(data.data(), n, path.c_str());
    auto bytes = readFile(path);
    ASSERT_EQ(written, static_cast<int>(bytes.size()));
    // 6 or 7 samples a bit averaging 8000/1200; one mark bit, then 10 a byte.
    size_t samples = (static_cast<size_t>(1 + 10 * n) * 20 + 1) / 3;
    size_t body = (2560 + samples + 127) / 128 * 128;
    EXPECT_EQ(bytes.size(), body + 128) << n;
    for (size_t i = 0; i < 2560; ++i)
      ASSERT_EQ(bytes[i], 0x55) << i;
    for (size_t i = 2560 + samples; i < bytes.size(); ++i)
      ASSERT_EQ(bytes[i], 0x55) << i;
  }
  EXPECT_EQ(ZT_Buf2FSKFile(nullptr, 3, path.c_str()), -1);
  EXPECT_EQ(ZT_Buf2FSKFile("x", 1, "/nonexistent/dir/f.raw"), -1);
  ::unlink(path.c_str());
}

TEST(FskFile, ToneFrequenciesFromTheSpectrum) {
  const std::string path = tempPath("tones.raw");
  // All ones: nearly all mark; all zeros: mostly space.
  const struct {
    char byte;
    double strong, weak;
  } rows[] = {{'\xFF', 1174.3, 2348.6}, {'\x00', 2348.6, 1174.3}};
  for (auto& r : rows) {
    std::vector<char> data(200, r.byte);
    ASSERT_GT(ZT_Buf2FSKFile(data.data(), 200, path.c_str()), 0);
    auto bytes = readFile(path);
    std::vector<double> x;
    for (size_t i = 2560; i < bytes.size() - 256; ++i)
      x.push_back(alawDecode(bytes[i]));
    double strong = goertzel(x, r.strong);
    EXPECT_GT(strong, 20 * goertzel(x, r.weak));
    for (double other : {600.0, 1700.0, 3000.0})
      EXPECT_GT(strong, 50 * goertzel(x, other));
  }
  ::unlink(path.c_str());
}

TEST(FskFile, MinimodemDecodesTheBytesThatWentIn) {
  if (!haveMinimodem()) GTEST_SKIP() << "minimodem is not installed (scripts/setup.sh installs it)";
  const std::string raw = tempPath("msg.raw"), wav = tempPath("msg.wav");
  std::string message = "caller 13900001111";
  for (int b = 0; b < 256; ++b)
    message.push_back(static_cast<char>(b));
  ASSERT_GT(ZT_Buf2FSKFile(message.data(), static_cast<int>(message.size()), raw.c_str()), 0);
  writeAlawWave(wav, readFile(raw));
  std::string cmd =
      "minimodem --rx --quiet --mark 1174 --space 2348 1200 -f '" + wav + "' 2>/dev/null";
  FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string decoded;
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    decoded.append(buf, n);
  ::pclose(p);
  EXPECT_EQ(decoded, message);
  ::unlink(raw.c_str());
  ::unlink(wav.c_str());
}

}  // namespace
