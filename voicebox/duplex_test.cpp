// Full-duplex recording: the echo of a channel's own playback cleaned out
// of its recording through the virtual box, the full-duplex tick and the
// timer path.
#include <atomic>
#include <cmath>
#include <mutex>

#include "echo/signals.h"
#include "voicebox/alaw.h"
#include "voicebox/control.h"
#include "voicebox/test_box.h"

namespace parvane_test {
namespace {

using namespace parvane;
using Bytes = std::vector<uint8_t>;

Bytes farEnd(int samples) {
  std::vector<int> far = dampa::signals::whiteNoise(samples, 2000, 11);
  Bytes out(far.size());
  for (size_t i = 0; i < far.size(); ++i)
    out[i] = alawEncodeClamped(far[i]);
  return out;
}

double power(const Bytes& b, size_t from, size_t to) {
  double p = 0;
  for (size_t i = from; i < to; ++i) {
    double v = alawDecode(b[i]);
    p += v * v;
  }
  return p / static_cast<double>(to - from);
}

class DuplexTest : public BoxTest {
 protected:
  // Plays the far end on channel 1 over a line with an echo and records
  // the same time; duplex: through the canceller.
  Bytes playAndRecord(const Bytes& far, bool duplex) {
    box().reset(false);
    box().setEchoPath(1, dampa::signals::echoPath(200, 20, 3));
    open();
    const int n = static_cast<int>(far.size());
    Bytes rec(n);
    EXPECT_EQ(ZT_StartPlay(1, reinterpret_cast<const char*>(far.data()), n), 0);
    EXPECT_EQ(duplex ? ZT_StartRecord_D(1, reinterpret_cast<char*>(rec.data()), n)
                     : ZT_StartRecord(1, reinterpret_cast<char*>(rec.data()), n),
              0);
    for (int t = 0; t < 2000; ++t) {
      box().advanceMs(16);
      ZT_PlayRest(1);
      if ((duplex ? ZT_RecordRest_D(1) : ZT_RecordRest(1)) == 0) break;
    }
    ZT_StopPlay(1);
    parvane::resetLibrary();
    return rec;
  }
};

TEST_F(DuplexTest, EchoOfThePlaybackIsCancelled) {
  Bytes far = farEnd(8000 * 6);
  Bytes raw = playAndRecord(far, false);
  Bytes clean = playAndRecord(far, true);
  ASSERT_EQ(raw.size(), clean.size());
  // The echo is there in the plain recording...
  const size_t from = 8000 * 4, to = 8000 * 6;
  double echo = power(raw, from, to);
  EXPECT_GT(10 * std::log10(echo / power(far, from, to)), -25);
  // ...and mostly gone once the canceller has converged.
  double erle = 10 * std::log10(echo / power(clean, from, to));
  EXPECT_GT(erle, 15) << "ERLE " << erle << " dB";
  // With a silent line nothing is taken away from what the far end says.
  box().reset(false);
  open();
  Bytes heard = farEnd(4096);
  box().feedVoice(0, heard.data(), heard.size());
  Bytes rec(4096);
  ASSERT_EQ(ZT_StartRecord_D(0, reinterpret_cast<char*>(rec.data()), 4096), 0);
  for (int t = 0; t < 100 && ZT_RecordRest_D(0) > 0; ++t)
    box().advanceMs(100);
  EXPECT_EQ(rec, heard);
}

TEST_F(DuplexTest, FileRecordingWithCancelling) {
  open();
  char name[] = "/tmp/duplexXXXXXX";
  int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  ::close(fd);
  Bytes heard = farEnd(1000);
  box().feedVoice(0, heard.data(), heard.size());
  ASSERT_EQ(ZT_StartRecordFile_D(0, name, 0, 1000), 0);
  for (int t = 0; t < 50 && ZT_RecordFileRest_D(0) > 0; ++t)
    box().advanceMs(16);
  EXPECT_EQ(ZT_RecordFileRest_D(0), 0);
  EXPECT_EQ(ZT_StopRecordFile_D(0), 0);
  FILE* f = std::fopen(name, "rb");
  Bytes got(2000);
  got.resize(std::fread(got.data(), 1, got.size(), f));
  std::fclose(f);
  ::unlink(name);
  EXPECT_EQ(got, heard);
}

TEST_F(DuplexTest, FullDuplexTickUsesTheNewestBlock) {
  open();
  box().setEchoPath(1, {0.1});
  Bytes far = farEnd(8000);
  Bytes buf(16);
  ASSERT_EQ(ZT_StartRecord_D(1, reinterpret_cast<char*>(buf.data()), 16), 0);
  ASSERT_EQ(ZT_Insert_Data(1, reinterpret_cast<const char*>(far.data()), 8000), 0);
  std::vector<char> out(16384);
  double in = 0, left = 0;
  for (int t = 0; t < 60; ++t) {
    box().advanceMs(16);
    ZT_PlayRest(1);
    ASSERT_EQ(ZT_RecordRest_DD(1, out.data()), 128) << t;
    if (t >= 30)
      for (int i = 0; i < 128; ++i) {
        double v = alawDecode(static_cast<uint8_t>(out[i]));
        left += v * v;
      }
  }
  for (int i = 30 * 128; i < 60 * 128; ++i) {
    double v = alawDecode(far[i]) * 0.1;
    in += v * v;
  }
  EXPECT_GT(10 * std::log10(in / left), 10);
  // Two ticks' worth at once: only the newest 128 samples come out.
  box().advanceMs(32);
  EXPECT_EQ(ZT_RecordRest_DD(1, out.data()), 128);
  // At another interval the raw blocks are copied as they came.
  ASSERT_EQ(ZT_SetTimeInterval(20), 20);
  box().advanceMs(32);
  EXPECT_EQ(ZT_RecordRest_DD(1, out.data()), 512);
  EXPECT_EQ(ZT_RecordRest_DD(1, nullptr), -1);
}

TEST_F(DuplexTest, NotInsertDataAndPlayPut) {
  open();
  EXPECT_EQ(ZT_NotInsertData(0), 0);  // 16 ms: no request
  box().setAnswering(false);
  EXPECT_EQ(ZT_NotInsertData(0), 0);
  ASSERT_EQ(ZT_SetTimeInterval(30), -1);  // the box does not answer
  EXPECT_EQ(ZT_NotInsertData(0), -1);
  box().setAnswering(true);
  EXPECT_EQ(ZT_NotInsertData(0), 0);
  // Playback data put straight to the device, no more than its buffer holds.
  Bytes data(10000, 0x12);
  ASSERT_EQ(ZT_Insert_Data(0, reinterpret_cast<const char*>(data.data()), 100), 0);
  EXPECT_EQ(ZT_PlayPut_D(0, reinterpret_cast<const char*>(data.data()), 10000), 8192 - 100);
  EXPECT_EQ(ZT_PlayPut_D(0, nullptr, 10), -1);
}

std::mutex gCallsMutex;
std::vector<std::pair<int, int>> gCalls;
void recordCall(int a, int b) {
  std::lock_guard lock(gCallsMutex);
  gCalls.emplace_back(a, b);
}

TEST_F(DuplexTest, TimerPathTicks) {
  open();
  Bytes data(128, 0x5A);
  std::vector<char> out(1024);
  EXPECT_EQ(ZT_Playing_Rcding(0, reinterpret_cast<const char*>(data.data()), 128, out.data(), 1024,
                              recordCall, 2),
            -1)
      << "no timer yet";
  ASSERT_EQ(ZT_SetRPCallorEvent(-1, nullptr), 1);
  gCalls.clear();
  EXPECT_EQ(ZT_Playing_Rcding(0, reinterpret_cast<const char*>(data.data()), 128, out.data(), 1024,
                              recordCall, 1),
            128);
  box().advanceMs(16);
  EXPECT_EQ(ZT_Playing_Rcding(0, reinterpret_cast<const char*>(data.data()), 128, out.data(), 1024,
                              recordCall, 2),
            128);
  box().advanceMs(16);
  EXPECT_EQ(ZT_Playing_Rcding(0, nullptr, 0, out.data(), 1024, recordCall, 0), 128);
  {
    std::lock_guard lock(gCallsMutex);
    EXPECT_EQ(gCalls, (std::vector<std::pair<int, int>>{{1, 0}, {1, 0}, {0, 0}, {0, 0}}));
  }
  // What was written is played.
  box().advanceMs(100);
  Bytes played = box().takePlayed(0);
  EXPECT_EQ(std::count(played.begin(), played.end(), 0x5A), 256);
  ZT_StopPlay(0);  // stops the timer
  EXPECT_EQ(ZT_Playing_Rcding(0, nullptr, 0, out.data(), 1024, recordCall, 0), -1);
}

}  // namespace
}  // namespace parvane_test

namespace parvane_test {
namespace {

TEST_F(DuplexTest, EchoSetThroughTheControlCommand) {
  open();
  bool ok = false;
  runControlCommand("echo 0 50 1", ok);  // half of the playback, 8 samples later
  ASSERT_TRUE(ok);
  runControlCommand("echo 0 101", ok);
  EXPECT_FALSE(ok);
  const uint8_t loud = alawEncode13(2000);
  Bytes tone(800, loud), rec(400);
  ASSERT_EQ(ZT_StartPlay(0, reinterpret_cast<const char*>(tone.data()), 800), 0);
  ASSERT_EQ(ZT_StartRecord(0, reinterpret_cast<char*>(rec.data()), 400), 0);
  box().advanceMs(50);
  ASSERT_EQ(ZT_RecordRest(0), 0);
  const uint8_t quiet = alawEncodeClamped(alawDecode(0xD5) + alawDecode(0xD5) / 2);
  const uint8_t echoed = alawEncodeClamped(alawDecode(0xD5) + alawDecode(loud) / 2);
  EXPECT_EQ(rec[0], quiet);
  EXPECT_EQ(rec[7], quiet);
  EXPECT_EQ(rec[8], echoed);
  EXPECT_EQ(rec[399], echoed);
  ZT_StopPlay(0);
}

}  // namespace
}  // namespace parvane_test
