#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "voicebox/request.h"
#include "voicebox/test_box.h"

namespace parvane_test {
namespace {

using namespace parvane;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(RequestCodes, ControlCodeFormula) {
  const struct {
    int code;
    uint32_t control;
  } rows[] = {{0, 0x80022000u},  {5, 0x80022014u},   {12, 0x80022030u},
              {99, 0x8002218Cu}, {114, 0x800221C8u}, {129, 0x80022204u}};
  for (auto& r : rows) {
    EXPECT_EQ(controlCode(r.code), r.control) << r.code;
    EXPECT_EQ(requestCode(r.control), r.code) << r.code;
  }
  EXPECT_EQ(requestCode(0x80022001u), -1);
  EXPECT_EQ(requestCode(0x800u), -1);
}

TEST(RequestCodes, BlockWordsAreLittleEndianAndAddressesKeepTheirUpperHalf) {
  RequestBlock b{};
  putWord(b.data(), kW6, kMarkerSent);
  EXPECT_EQ(b[24], 0x55);
  EXPECT_EQ(b[27], 0x55);
  int x = 0;
  putAddress(b.data(), &x);
  EXPECT_EQ(getAddress(b.data()), &x);
}

TEST_F(BoxTest, RequestsBeforeOpeningFailWithError255) {
  int para[ZT_SYSPARA_WORDS];
  EXPECT_EQ(ZT_SysPara(para), -1);
  EXPECT_EQ(ZT_GetLastError(), 255);
  EXPECT_EQ(ZT_RingCtrl(0), -1);
  EXPECT_EQ(ZT_GetLastError(), 255);
  EXPECT_EQ(ZT_ChannelType(0), -1);
  EXPECT_EQ(ZT_GetLastError(), 255);
}

TEST_F(BoxTest, ADeviceThatCannotBeOpenedIsAbsent) {
  ::setenv("PARVANE_DEVICE", "/nonexistent/voicebox", 1);
  EXPECT_EQ(ZT_Installed(), 0);
  EXPECT_EQ(ZT_GetLastError(), 255);
  ::unsetenv("PARVANE_DEVICE");
}

TEST_F(BoxTest, OpeningReadsTheParameterBlock) {
  box().setSysParaWord(7, 1234);
  open();
  int para[ZT_SYSPARA_WORDS] = {};
  EXPECT_EQ(ZT_SysPara(para), 0);
  EXPECT_EQ(para[36], 2);
  EXPECT_EQ(para[7], 1234);
  EXPECT_EQ(lib().sysPara[7].load(), 1234);
  EXPECT_EQ(ZT_GetCardStatus(), 1);
}

TEST_F(BoxTest, ChannelTypeOfChannelTwoAsksNothing) {
  // Before opening, any request fails with 255; channel 2 never gets there.
  EXPECT_EQ(ZT_ChannelType(2), -1);
  EXPECT_EQ(ZT_GetLastError(), 0);
  open();
  box().setDeviceFailure(kReqChannelType, 77);
  EXPECT_EQ(ZT_ChannelType(2), -1);
  EXPECT_EQ(ZT_GetLastError(), 0);
  EXPECT_EQ(ZT_ChannelType(1), -1);
  EXPECT_EQ(ZT_GetLastError(), 77);
  box().setDeviceFailure(-1, 0);
  EXPECT_EQ(ZT_ChannelType(0), 1);
  EXPECT_EQ(ZT_ChannelType(1), 0);
  EXPECT_EQ(ZT_ChannelType(128), -1);
  EXPECT_EQ(ZT_GetLastError(), 4);
}

TEST_F(BoxTest, SettingsAndTheirLimits) {
  open();
  const struct {
    const char* what;
    int (*call)();
    int result, error;
  } rows[] = {
      {"buffer 2047", [] { return ZT_SetBufLength(2047); }, -1, 5},
      {"buffer 16385", [] { return ZT_SetBufLength(16385); }, -1, 5},
      {"buffer 2048", [] { return ZT_SetBufLength(2048); }, 0, 0},
      {"buffer 16384", [] { return ZT_SetBufLength(16384); }, 0, 0},
      {"nobody 0", [] { return ZT_SetNobodyTime(0); }, -1, 4},
      {"nobody 3", [] { return ZT_SetNobodyTime(3); }, 0, 0},
      {"zoom 0", [] { return ZT_SetZoomPcmRate(0, 0.0); }, -1, 5},
      {"zoom 10.01", [] { return ZT_SetZoomPcmRate(0, 10.01); }, -1, 5},
      {"zoom 10", [] { return ZT_SetZoomPcmRate(0, 10.0); }, 0, 0},
      {"zoom channel 128", [] { return ZT_SetZoomPcmRate(128, 1.0); }, -1, 4},
      {"interval 20", [] { return ZT_SetTimeInterval(20); }, 20, 0},
  };
  for (auto& r : rows) {
    lib().lastError = 0;
    EXPECT_EQ(r.call(), r.result) << r.what;
    EXPECT_EQ(ZT_GetLastError(), r.error) << r.what;
  }
  EXPECT_EQ(lib().bufLength.load(), 16384);
  EXPECT_EQ(lib().nobodySeconds.load(), 3);
  EXPECT_EQ(lib().ch[0].volume.load(), 10.0);
  // 25 is refused and changes nothing.
  EXPECT_EQ(ZT_SetTimeInterval(25), -1);
  EXPECT_EQ(lib().timeInterval.load(), 20);
}

TEST_F(BoxTest, TheRingHolds99Events) {
  open();
  for (int i = 0; i < 99; ++i)
    EXPECT_TRUE(postEvent(0, ZT_EV_DTMF, {i})) << i;
  EXPECT_FALSE(postEvent(0, ZT_EV_DTMF, {99}));
  Event e{};
  ASSERT_EQ(ZT_GetEvent(0, e.data()), 1);
  EXPECT_EQ(e[0], ZT_EV_DTMF);
  EXPECT_EQ(e[1], 0);
  EXPECT_EQ(e[2], 0);
  EXPECT_TRUE(postEvent(0, ZT_EV_DTMF, {100}));
  EXPECT_FALSE(postEvent(0, ZT_EV_DTMF, {101}));
  auto rest = drain(0);
  ASSERT_EQ(rest.size(), 99u);
  EXPECT_EQ(rest.front()[2], 1);
  EXPECT_EQ(rest[97][2], 98);
  EXPECT_EQ(rest.back()[2], 100);  // the dropped 99 never arrives
  postEvent(1, ZT_EV_RING, {1});
  EXPECT_EQ(ZT_ClearEvent(1), 1);
  EXPECT_EQ(ZT_GetEvent(1, e.data()), 0);
}

TEST_F(BoxTest, EventFunctionsRefuseBadChannels) {
  Event e{};
  for (int ch : {-1, 128}) {
    EXPECT_EQ(ZT_GetEvent(ch, e.data()), -1);
    EXPECT_EQ(ZT_WaitForEvent(ch, 10, e.data()), -1);
    EXPECT_EQ(ZT_ClearEvent(ch), -1);
  }
}

TEST_F(BoxTest, WaitForEventTimesOut) {
  open();
  Event e{};
  auto start = steady_clock::now();
  EXPECT_EQ(ZT_WaitForEvent(0, 60, e.data()), 0);
  auto took = steady_clock::now() - start;
  EXPECT_GE(took, milliseconds(50));
  EXPECT_LT(took, milliseconds(1000));
}

TEST_F(BoxTest, WaitForEventReturnsAPendingEventAtOnce) {
  open();
  postEvent(0, ZT_EV_RING, {1});
  Event e{};
  auto start = steady_clock::now();
  EXPECT_EQ(ZT_WaitForEvent(0, 5000, e.data()), 1);
  EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
  EXPECT_EQ(e[0], ZT_EV_RING);
}

TEST_F(BoxTest, PollerWakesAWaitingApplicationThread) {
  ASSERT_EQ(ZT_Installed(), 2);
  ASSERT_EQ(ZT_InitializeEx(1), 0);
  std::atomic<bool> done{false};
  std::vector<Event> got;
  // The application thread reads events while the poller posts them.
  std::thread app([&] {
    Event e{};
    auto deadline = steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < 3 && steady_clock::now() < deadline)
      if (ZT_WaitForEvent(0, 500, e.data()) == 1) got.push_back(e);
    done = true;
  });
  for (const char* k : {"12", "3", "#"}) {
    ASSERT_TRUE(box().keys(0, k));
    std::this_thread::sleep_for(milliseconds(450));
  }
  app.join();
  ASSERT_EQ(got.size(), 3u);
  std::string all;
  for (auto& e : got) {
    EXPECT_EQ(e[0], ZT_EV_DTMF);
    all += eventText(e);
  }
  EXPECT_EQ(all, "123#");
  EXPECT_EQ(ZT_Disable(), 1);
}

TEST_F(BoxTest, RequestLockIsOneRequestAtATime) {
  open();
  // Two threads each ask for their own channel's type; a request mixed with
  // the other's would answer the wrong type.
  std::atomic<int> wrong{0};
  auto worker = [&](int ch, int type) {
    for (int i = 0; i < 2000; ++i)
      if (ZT_ChannelType(ch) != type) ++wrong;
  };
  std::thread a(worker, 0, 1), b(worker, 1, 0);
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(BoxTest, ABusyLockGivesError6AfterTheWait) {
  open();
  lib().lockWaitMs = 100;
  {
    std::lock_guard hold(lib().requestLock);
    std::thread other([] {
      auto start = steady_clock::now();
      EXPECT_EQ(ZT_RingCtrl(0), -1);
      EXPECT_EQ(ZT_GetLastError(), 6);
      EXPECT_GE(steady_clock::now() - start, milliseconds(90));
    });
    other.join();
  }
  // The named semaphore held elsewhere has the same effect.
  ASSERT_NE(lib().namedSem, nullptr);
  ASSERT_EQ(sem_wait(lib().namedSem), 0);
  EXPECT_EQ(ZT_RingCtrl(0), -1);
  EXPECT_EQ(ZT_GetLastError(), 6);
  sem_post(lib().namedSem);
  EXPECT_EQ(ZT_RingCtrl(0), 0);
}

TEST_F(BoxTest, DeviceErrorsAndSilence) {
  open();
  box().setDeviceFailure(kReqRelay, 33);
  EXPECT_EQ(ZT_RingCtrl(0), -1);
  EXPECT_EQ(ZT_GetLastError(), 33);
  box().setDeviceFailure(kReqInit, 12);
  EXPECT_EQ(ZT_Initialize(), 12);
  box().setDeviceFailure(-1, 0);
  box().setAnswering(false);
  EXPECT_EQ(ZT_ChannelType(0), -1);
  EXPECT_EQ(ZT_GetCardStatus(), 0);
  box().setAnswering(true);
  EXPECT_EQ(ZT_ChannelType(0), 1);
  EXPECT_EQ(ZT_GetCardStatus(), 1);
}

TEST_F(BoxTest, DisableReportsWhetherThePollerStopped) {
  open();
  EXPECT_EQ(ZT_Disable(), 0);
  ASSERT_EQ(ZT_InitializeEx(1), 0);
  EXPECT_EQ(ZT_Disable(), 1);
}

TEST_F(BoxTest, InitialisationSetsTheChannelFrequency) {
  open();
  // 453 Hz on both channels: two parameters each.
  for (int ch : {0, 1}) {
    auto p = box().channelParams(ch);
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[1], 30716);
    EXPECT_EQ(p[3], 24816);
  }
}

TEST_F(BoxTest, TimerPathTicksTheCallbackAndTheEvent) {
  open();
  static std::atomic<int> calls{0};
  calls = 0;
  int fd = ::eventfd(0, EFD_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ZT_SetRPCallorEvent(fd,
                                [](int a, int b) {
                                  if (a == 3 && b == 0) ++calls;
                                }),
            1);
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_GE(calls.load(), 3);
  // Already running: the new callback (none) is only stored.
  EXPECT_EQ(ZT_SetRPCallorEvent(fd, nullptr), 1);
  std::this_thread::sleep_for(milliseconds(50));
  int settled = calls.load();
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(calls.load(), settled);
  uint64_t ticks = 0;
  ASSERT_EQ(::read(fd, &ticks, sizeof ticks), 8);
  // 16 ms ticks: about 16 in 250 ms.
  EXPECT_GE(ticks, 8u);
  EXPECT_LE(ticks, 25u);
  stopTimer();
  lib().timerEventFd = -1;
  ::close(fd);
}

TEST_F(BoxTest, PlaybackProgressAndCompletion) {
  open();
  static std::atomic<int> rest{1};
  rest = 1;
  lib().hooks.playRest = [](int) { return rest.load(); };
  ChannelState& c = lib().ch[0];
  // 5000 bytes queued in the box, consumed at 8000 a second.
  RequestBlock b = makeBlock(0, 0, 8192);
  ASSERT_EQ(ask(kReqPlay, b), 0);
  std::vector<uint8_t> voice(5000, 0x2A);
  b = makeBlock(0, 0, 5000);
  putAddress(b.data(), voice.data());
  ASSERT_EQ(ask(kReqWritePlay, b), 0);
  EXPECT_EQ(getInt(b.data(), kW2), 5000);
  c.playTotal = 5000;
  c.playOffset = 0;
  c.playBlocksReported = 0;
  c.playOp = kOpBufferPlay;

  box().advanceMs(300);  // 2400 bytes played: block 1 done
  voiceStep(0);
  auto ev = drain(0);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0][0], ZT_EV_PLAY_PROGRESS);
  EXPECT_EQ(ev[0][2], 2600);
  EXPECT_EQ(ev[0][3], 1);

  box().advanceMs(400);  // all played
  rest = 0;
  voiceStep(0);
  ev = drain(0);
  EXPECT_EQ(codes(ev),
            (std::vector<int>{ZT_EV_PLAY_PROGRESS, ZT_EV_PLAY_PROGRESS, ZT_EV_PLAY_DONE}));
  EXPECT_EQ(ev[1][2], 0);
  EXPECT_EQ(ev[2][2], 3);
  EXPECT_EQ(c.playOp.load(), kOpNone);
  EXPECT_EQ(box().takePlayed(0), voice);

  // A failing continuation posts 16 and keeps its result.
  c.playOp = kOpFilePlay;
  lib().hooks.playFileRest = [](int) { return -7; };
  voiceStep(0);
  EXPECT_EQ(codes(drain(0)), std::vector<int>{ZT_EV_PLAY_ERROR});
  EXPECT_EQ(c.lastPlayError.load(), -7);
  EXPECT_EQ(c.playOp.load(), kOpNone);
}

TEST_F(BoxTest, RecordingEventsFollowTheApplicationsContinuation) {
  open();
  ChannelState& c = lib().ch[1];
  const struct {
    int result;
    int last;
  } rows[] = {{0, ZT_EV_RECORD_DONE}, {-3, ZT_EV_RECORD_ERROR}};
  for (auto& r : rows) {
    c.recordOp = kOpFileRecord;
    c.recordBytes = 0;
    c.recordBlocksReported = 0;
    c.recordResult = 1;
    voiceStep(1);
    EXPECT_TRUE(drain(1).empty());
    c.recordBytes = 4100;
    voiceStep(1);
    auto ev = drain(1);
    EXPECT_EQ(codes(ev), (std::vector<int>{ZT_EV_RECORD_PROGRESS, ZT_EV_RECORD_PROGRESS}));
    EXPECT_EQ(ev[1][3], 2);
    c.recordResult = r.result;
    voiceStep(1);
    EXPECT_EQ(codes(drain(1)), std::vector<int>{r.last});
    EXPECT_EQ(c.recordOp.load(), kOpNone);
  }
}

}  // namespace
}  // namespace parvane_test
