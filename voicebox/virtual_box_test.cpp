// The virtual voice box on its own: the request block in and out, device
// time, rings, and the voice buffers at 8000 bytes a second.
#include <thread>

#include "voicebox/request.h"
#include "voicebox/test_box.h"

namespace parvane_test {
namespace {

using namespace parvane;

int send(int code, RequestBlock& b) {
  return virtualBox().handle(controlCode(code), b.data());
}

RequestBlock block(int32_t w0, int32_t w1, int32_t w2, const void* address = nullptr) {
  RequestBlock b = makeBlock(w0, w1, w2);
  putWord(b.data(), kW6, kMarkerSent);
  if (address) putAddress(b.data(), address);
  return b;
}

TEST_F(BoxTest, VirtualBoxMarksServedRequestsAndRefusesOthers) {
  RequestBlock b = block(0, 0, 0);
  ASSERT_EQ(send(kReqChannelType, b), 0);
  EXPECT_EQ(getWord(b.data(), kW6), kMarkerServed);
  EXPECT_EQ(getInt(b.data(), kW0), 1);
  const struct {
    uint32_t control;
    int32_t w1;
  } refused[] = {{controlCode(18), 0},  // no such request
                 {0x800 + 2, 0},        // not our device type
                 {controlCode(kReqChannelType), 2},
                 {controlCode(kReqHookRing), -1}};
  for (auto& r : refused) {
    RequestBlock x = block(0, r.w1, 0);
    EXPECT_EQ(box().handle(r.control, x.data()), -1) << std::hex << r.control;
    EXPECT_NE(getInt(x.data(), kW0), 0);
    EXPECT_EQ(getWord(x.data(), kW6), kMarkerSent);
  }
  // Requests that need a buffer refuse a missing one.
  RequestBlock p = block(0, 0, kSysParaBytes);
  EXPECT_EQ(send(kReqSysPara, p), -1);
  RequestBlock small = block(0, 0, 100);
  int32_t para[kSysParaWords];
  putAddress(small.data(), para);
  EXPECT_EQ(send(kReqSysPara, small), -1);
}

TEST_F(BoxTest, DeviceTimeByHandAndInRealTime) {
  EXPECT_EQ(box().nowUs(), 0);
  box().advanceMs(1500);
  EXPECT_EQ(box().nowUs(), 1'500'000);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(box().nowUs(), 1'500'000);  // stands still by hand
  box().setRealTime(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  int64_t t = box().nowUs();
  EXPECT_GE(t, 1'525'000);
  EXPECT_LT(t, 3'000'000);
}

TEST_F(BoxTest, RingCadenceAndCallerGivingUp) {
  ASSERT_TRUE(box().ring(0, "1", 2, CallerIdMode::kNone));
  const struct {
    int atMs, rings, ringOn;
  } rows[] = {{0, 1, 1}, {999, 1, 1}, {1000, 1, 0}, {5000, 2, 1}, {9999, 2, 0}, {10000, 0, 0}};
  int64_t now = 0;
  for (auto& r : rows) {
    box().advanceMs(r.atMs - now);
    now = r.atMs;
    RequestBlock b = block(0, 0, 0);
    ASSERT_EQ(send(kReqHookRing, b), 0);
    EXPECT_EQ(getInt(b.data(), kW2), r.rings) << r.atMs;
  }
  EXPECT_FALSE(box().ring(1, "1", 2, CallerIdMode::kNone));  // a local set has no line
  EXPECT_FALSE(box().ring(0, "1", 0, CallerIdMode::kNone));
}

TEST_F(BoxTest, PlaybackIsConsumedAt8000BytesASecond) {
  RequestBlock b = block(0, 0, 1000);
  ASSERT_EQ(send(kReqPlay, b), 0);
  std::vector<uint8_t> voice(1500);
  for (size_t i = 0; i < voice.size(); ++i)
    voice[i] = static_cast<uint8_t>(i);
  b = block(0, 0, 1500, voice.data());
  ASSERT_EQ(send(kReqWritePlay, b), 0);
  EXPECT_EQ(getInt(b.data(), kW2), 1000);  // the driver buffer holds 1000
  box().advanceMs(50);                     // 400 bytes
  b = block(0, 0, 0);
  ASSERT_EQ(send(kReqPosition, b), 0);
  EXPECT_EQ(getInt(b.data(), kW0), 400);
  EXPECT_EQ(getInt(b.data(), kW2), 600);
  b = block(0, 0, 500, voice.data() + 1000);
  ASSERT_EQ(send(kReqWritePlay, b), 0);
  EXPECT_EQ(getInt(b.data(), kW2), 400);
  box().advanceMs(1000);
  auto played = box().takePlayed(0);
  EXPECT_EQ(played, std::vector<uint8_t>(voice.begin(), voice.begin() + 1400));
  // Fractions of a sample add up across steps.
  b = block(0, 0, 1000);
  ASSERT_EQ(send(kReqPlay, b), 0);
  b = block(0, 0, 100, voice.data());
  ASSERT_EQ(send(kReqWritePlay, b), 0);
  for (int i = 0; i < 10; ++i)
    box().advanceMs(1);  // 10 ms: 80 bytes
  EXPECT_EQ(box().takePlayed(0).size(), 80u);
}

TEST_F(BoxTest, RecordingFillsItsBufferAndCountsTheOverrun) {
  RequestBlock b = block(0, 1, 1000);
  ASSERT_EQ(send(kReqRecord, b), 0);
  std::vector<uint8_t> heard(300, 0x44);
  box().feedVoice(1, heard.data(), heard.size());
  box().advanceMs(250);  // 2000 bytes produced, 1000 kept
  b = block(0, 1, 0);
  ASSERT_EQ(send(kReqBufferFill, b), 0);
  EXPECT_EQ(getInt(b.data(), kW2), 1000);
  std::vector<uint8_t> got(512);
  b = block(0, 1, 512, got.data());
  ASSERT_EQ(send(kReqReadRecorded, b), 0);
  ASSERT_EQ(getInt(b.data(), kW2), 512);
  EXPECT_EQ(got[299], 0x44);
  EXPECT_EQ(got[300], 0xD5);
  b = block(0, 1, 0);
  ASSERT_EQ(send(kReqRecord, b), 0);  // stop
  box().advanceMs(100);
  b = block(0, 1, 512, got.data());
  ASSERT_EQ(send(kReqReadRecorded, b), 0);
  EXPECT_EQ(getInt(b.data(), kW2), 0);
}

TEST_F(BoxTest, LocalSetRingsWhenTheRelayTurnsToRing) {
  RequestBlock b = block(1, 1, 0);
  ASSERT_EQ(send(kReqRelay, b), 0);
  const struct { int advanceMs, ringOn; } rows[] = {{0, 1}, {999, 1}, {1, 0}, {4000, 1}};
  for (auto& r : rows) {
    box().advanceMs(r.advanceMs);
    RequestBlock q = block(0, 1, 0);
    ASSERT_EQ(send(kReqInternalRing, q), 0);
    EXPECT_EQ(getInt(q.data(), kW2), r.ringOn);
  }
  box().lift(1);
  RequestBlock q = block(0, 1, 0);
  ASSERT_EQ(send(kReqInternalRing, q), 0);
  EXPECT_EQ(getInt(q.data(), kW2), 0);  // lifting the handset stops the ringing
  ASSERT_EQ(send(kReqHookRing, q), 0);
  EXPECT_EQ(getInt(q.data(), kW0), 0);  // off-hook
}

TEST_F(BoxTest, RealDevicePathGoesThroughIoctl) {
  // /dev/null opens but answers no I/O control: the box is absent.
  ::setenv("PARVANE_DEVICE", "/dev/null", 1);
  EXPECT_EQ(ZT_Installed(), 0);
  EXPECT_EQ(ZT_GetLastError(), 255);
  ::unsetenv("PARVANE_DEVICE");
}

}  // namespace
}  // namespace parvane_test
