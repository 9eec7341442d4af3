#include <cstring>

#include "voicebox/request.h"
#include "voicebox/test_box.h"

namespace parvane_test {
namespace {

using namespace parvane;
using V = std::vector<int>;

TEST_F(BoxTest, BadChannelsGiveError4) {
  open();
  const struct {
    const char* what;
    int (*call)(int);
  } rows[] = {
      {"OffHookCtrl", [](int c) { return ZT_OffHookCtrl(c) ? 0 : -1; }},
      {"RingCtrl", ZT_RingCtrl},
      {"RingDetect", ZT_RingDetect},
      {"LineStatusDetect", ZT_LineStatusDetect},
      {"GetDTMFChar", ZT_GetDTMFChar},
      {"FlushDTMF", ZT_FlushDTMF},
      {"DialRest", ZT_DialRest},
      {"StopDial", ZT_StopDial},
      {"TimerElapsed", ZT_TimerElapsed},
      {"SetMonitorCalled", [](int c) { return ZT_SetMonitorCalled(c, 0); }},
      {"CheckSignal", [](int c) { return ZT_CheckSignal(c, nullptr, nullptr); }},
      {"CheckOffHook", [](int c) { return ZT_CheckOffHook(c, nullptr, nullptr); }},
      {"StartDial", [](int c) { return ZT_StartDial(c, "1"); }},
  };
  for (auto& r : rows)
    for (int ch : {-1, 128}) {
      lib().lastError = 0;
      EXPECT_EQ(r.call(ch), -1) << r.what << " " << ch;
      EXPECT_EQ(ZT_GetLastError(), 4) << r.what << " " << ch;
    }
  // Wrong channel types.
  EXPECT_EQ(ZT_RingDetect(1), -1);  // a local set rings no line
  EXPECT_EQ(ZT_LineStatusDetect(0), -1);
  EXPECT_EQ(ZT_GetLastError(), 4);
  EXPECT_EQ(ZT_InternalRingDetect(0), -3);
  EXPECT_EQ(ZT_SendCID_Ring(0, 1, "123"), -3);
  EXPECT_EQ(ZT_OffHookDetect(0), -1);
  EXPECT_EQ(ZT_SetVoltCtrlType(1, 1), -1);
}

TEST_F(BoxTest, LocalSetHookEventsOncePerChange) {
  open();
  EXPECT_EQ(detectFor(1, 600), V{});
  box().lift(1);
  EXPECT_EQ(ZT_OffHookDetect(1), 1);
  EXPECT_EQ(detectFor(1, 1000), V{ZT_EV_LOCAL_OFFHOOK});
  box().replace(1);
  EXPECT_EQ(ZT_OffHookDetect(1), 0);
  EXPECT_EQ(detectFor(1, 1000), V{ZT_EV_LOCAL_ONHOOK});
}

TEST_F(BoxTest, OneRingEventPerCountChange) {
  open();
  ASSERT_TRUE(box().ring(0, "13900001111", 3, CallerIdMode::kFsk));
  std::vector<Event> rings;
  for (int t = 0; t < 16000; t += 200) {
    box().advanceMs(200);
    detectionStep(0);
    for (auto& e : drain(0)) {
      EXPECT_EQ(e[0], ZT_EV_RING);
      rings.push_back(e);
    }
  }
  ASSERT_EQ(rings.size(), 3u);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(rings[i][2], i + 1);
  // The caller gave up; a new call's first ring is reported again.
  EXPECT_EQ(ZT_RingDetect(0), 0);
  ASSERT_TRUE(box().ring(0, "", 1, CallerIdMode::kNone));
  EXPECT_EQ(detectFor(0, 400), V{ZT_EV_RING});
}

TEST_F(BoxTest, AnsweringStopsTheRingsAndCallerIdArrivesAfterTheFirstRing) {
  open();
  ASSERT_TRUE(box().ring(0, "13900001111", 5, CallerIdMode::kFsk));
  char id[32] = {};
  EXPECT_EQ(ZT_ReceiveCallingID(0, id, sizeof id), 0);
  EXPECT_EQ(detectFor(0, 2000), V{ZT_EV_RING});
  EXPECT_EQ(ZT_ReceiveCallingID(0, id, sizeof id), 11);
  EXPECT_STREQ(id, "13900001111");
  char fsk[64] = {};
  int n = ZT_GetFSKBuffer(0, fsk, sizeof fsk);
  ASSERT_EQ(n, 22);
  EXPECT_EQ(fsk[0], 0x04);
  EXPECT_EQ(std::string(fsk + 10, 11), "13900001111");
  // A short buffer gets only what fits.
  char two[3] = {'x', 'x', 'x'};
  EXPECT_EQ(ZT_ReceiveCallingID(0, two, 2), 2);
  EXPECT_EQ(std::string(two, 3), "13x");

  EXPECT_NE(ZT_OffHookCtrl(0), 0);
  EXPECT_EQ(ZT_RingDetect(0), 0);
  // No more rings; an answered call has no dial tone, which the off-hook
  // check reports after its 5 s.
  EXPECT_EQ(detectFor(0, 12000), V{ZT_EV_NO_DIALTONE});
}

TEST_F(BoxTest, DtmfCallerIdComesBeforeTheFirstRing) {
  open();
  ASSERT_TRUE(box().ring(0, "8001", 2, CallerIdMode::kDtmf));
  box().advanceMs(200);
  detectionStep(0);
  auto ev = drain(0);
  ASSERT_EQ(codes(ev), (V{ZT_EV_DTMF, ZT_EV_RING}));
  EXPECT_EQ(eventText(ev[0]), "D8001C");
}

TEST_F(BoxTest, DtmfDigitsAsCharsAndText) {
  open();
  EXPECT_EQ(ZT_GetDTMFChar(0), -1);
  box().keys(0, "12#");
  EXPECT_EQ(ZT_GetDTMFChar(0), '1');
  EXPECT_STREQ(ZT_GetDTMFStr(0), "2#");
  EXPECT_STREQ(ZT_GetDTMFStr(0), "");
  box().keys(0, "9*");
  ZT_FlushDTMF(0);
  EXPECT_EQ(ZT_GetDTMFChar(0), -1);
  EXPECT_FALSE(box().keys(0, "1x"));
  // An event holds 99 characters; the rest waits for the next pass.
  std::string many;
  for (int i = 0; i < 150; ++i)
    many.push_back(static_cast<char>('0' + i % 10));
  box().keys(0, many);
  detectionStep(0);
  detectionStep(0);
  auto ev = drain(0);
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(eventText(ev[0]).size(), 99u);
  EXPECT_EQ(eventText(ev[0]) + eventText(ev[1]), many);
  EXPECT_EQ(ZT_SetDtmfAmp(0, 5, 5), -1);
  EXPECT_EQ(ZT_SetDtmfAmp(0, 6, 5), 0);
}

TEST_F(BoxTest, OffHookCheckPostsDialToneOrItsAbsence) {
  open();
  EXPECT_NE(ZT_OffHookCtrl(0), 0);
  EXPECT_EQ(detectFor(0, 200), V{ZT_EV_DIALTONE});
  ZT_HangUpCtrl(0);
  box().forceSignal(0, kSignalNone, 0, 0);
  EXPECT_NE(ZT_OffHookCtrl(0), 0);
  auto got = detectFor(0, 5000);
  EXPECT_EQ(got, V{});
  EXPECT_EQ(detectFor(0, 400), V{ZT_EV_NO_DIALTONE});
  EXPECT_EQ(detectFor(0, 2000), V{});
}

TEST_F(BoxTest, TypeTenLine) {
  open();
  EXPECT_EQ(ZT_SetVoltCtrlType(0, 1), 10);
  EXPECT_EQ(ZT_ChannelType(0), 10);
  // Off-hook does nothing on such a line: no relay, no off-hook check.
  EXPECT_NE(ZT_OffHookCtrl(0), 0);
  EXPECT_EQ(box().relayState(0), 1);
  EXPECT_FALSE(lib().ch[0].offHookCheck.load());
  EXPECT_EQ(detectFor(0, 6000), V{});
  EXPECT_EQ(ZT_LineStatusDetect(0), 1);
  EXPECT_EQ(ZT_OffHookDetect(0), 0);
  box().ring(0, "", 2, CallerIdMode::kNone);
  box().advanceMs(100);
  EXPECT_EQ(ZT_RingDetect(0), 1);
  EXPECT_EQ(ZT_SetVoltCtrlType(0, 0), 1);
  EXPECT_EQ(ZT_ChannelType(0), 1);
}

TEST_F(BoxTest, DiallingReportsEachDigitThenMonitoringFindsNoAnswer) {
  open();
  ZT_OffHookCtrl(0);
  detectFor(0, 200);
  EXPECT_EQ(ZT_StartDial(0, "5551"), 4);
  std::vector<int> got = detectFor(0, 600);
  EXPECT_EQ(got, (V{ZT_EV_DIGIT_SENT, ZT_EV_DIGIT_SENT, ZT_EV_DIGIT_SENT, ZT_EV_DIGIT_SENT,
                    ZT_EV_DIAL_DONE}));
  EXPECT_EQ(box().takeDialled(0), "5551");
  ZT_SetMonitorCalled(0, 0);
  int64_t start = nowMs();
  // Nothing until the nobody time (10 s) has passed since monitoring began.
  int64_t at = -1;
  for (int t = 0; t < 14000 && at < 0; t += 200) {
    box().advanceMs(200);
    detectionStep(0);
    for (int c : codes(drain(0))) {
      EXPECT_EQ(c, ZT_EV_NO_ANSWER);
      at = nowMs() - start;
    }
  }
  EXPECT_GT(at, 10000);
  EXPECT_LE(at, 10200);
  EXPECT_EQ(detectFor(0, 2000), V{});
}

TEST_F(BoxTest, CallProgressOutcomes) {
  const struct {
    const char* what;
    void (*world)();
    std::vector<int> events;
  } rows[] = {
      {"answer", [] { box().tone(0, Tone::kAnswer); }, {ZT_EV_ANSWERED}},
      {"busy", [] { box().tone(0, Tone::kBusy); }, {ZT_EV_BUSY}},
      {"no answer tone", [] { box().tone(0, Tone::kNoAnswer); }, {ZT_EV_NO_ANSWER}},
      {"answer then far hang-up",
       [] {
         box().lift(0);
         box().advanceMs(200);
         parvane::detectionStep(0);
         box().replace(0);
       },
       {ZT_EV_ANSWERED, ZT_EV_FAR_HANGUP}},
  };
  for (auto& r : rows) {
    SetUp();
    open();
    ZT_OffHookCtrl(0);
    ASSERT_EQ(detectFor(0, 200), V{ZT_EV_DIALTONE});
    ZT_StartDial(0, "8");
    detectFor(0, 400);
    ZT_SetMonitorCalled(0, 0);
    r.world();
    std::vector<int> got;
    for (int c : codes(drain(0)))
      got.push_back(c);
    for (int c : detectFor(0, 3000))
      got.push_back(c);
    EXPECT_EQ(got, r.events) << r.what;
    TearDown();
  }
}

TEST_F(BoxTest, RegisteredBusyTones) {
  open();
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(ZT_SetSignalParam(40 + i, 1, 2, 3, 4), i + 1);
  EXPECT_EQ(ZT_SetSignalParam(60, 1, 2, 3, 4), 9);
  EXPECT_TRUE(isBusyTone(48));
  EXPECT_FALSE(isBusyTone(60));
  ZT_OffHookCtrl(0);
  detectFor(0, 200);
  ZT_StartDial(0, "8");
  detectFor(0, 400);
  ZT_SetMonitorCalled(0, 0);
  box().forceSignal(0, 44, 3, 0);
  EXPECT_EQ(detectFor(0, 3000), V{ZT_EV_BUSY});
}

// Each row of the answer classification; the channel timer is started with
// a limit of 30 s unless the row lets it run out.
TEST_F(BoxTest, CheckOffHookTable) {
  // Limits: w1 100 (t <= 5), w3 20, w5 10, w6 50 (t <= 2), w7 20, w9 60, w10 120,
  // w11 20, w13 150, w14 250.
  open();
  const struct {
    int signal, level, second;
    bool armed;
    int elapsedMs, limit;
    int expected;
  } rows[] = {
      {0, 0, 0, true, 1000, 30, 0},    {0, 0, 0, true, 31000, 30, 99},
      {1, 2, 0, true, 0, 30, 1},       {2, 3, 0, true, 0, 30, 2},
      {1, 1, 0, true, 0, 30, 96},      {65, 3, 0, true, 1000, 30, 96},
      {65, 3, 0, true, 6500, 30, 97},  {65, 3, 0, true, 3000, 2, 97},
      {96, 0, 0, true, 1000, 30, 96},  {96, 0, 0, true, 4000, 30, 98},
      {96, 20, 0, true, 4000, 30, 96}, {96, 0, 150, true, 4000, 30, 96},
      {96, 20, 0, true, 7000, 30, 98}, {96, 0, 30, false, 0, 30, 96},
      {96, 0, 55, false, 0, 30, 98},   {96, 0, 100, false, 0, 30, 96},
      {96, 0, 200, false, 0, 30, 96},  {96, 0, 251, false, 0, 30, 98},
      {64, 3, 0, true, 0, 30, 98},     {97, 3, 0, true, 0, 30, 97},
      {97, 3, 0, false, 0, 30, 99},    {42, 3, 0, true, 0, 30, 42},
  };
  for (auto& r : rows) {
    ZT_StartTimer(0, r.limit);
    lib().ch[0].timerArmed = r.armed;
    box().advanceMs(r.elapsedMs);
    box().forceSignal(0, r.signal, r.level, r.second);
    int level = -1, second = -1;
    EXPECT_EQ(ZT_CheckOffHook(0, &level, &second), r.expected)
        << r.signal << " level " << r.level << " second " << r.second << " armed " << r.armed
        << " after " << r.elapsedMs;
    EXPECT_EQ(level, r.level);
    EXPECT_EQ(second, r.second);
  }
  // Silence before the limit disarms the timer.
  ZT_StartTimer(0, 30);
  box().forceSignal(0, 0, 0, 0);
  ZT_CheckOffHook(0, nullptr, nullptr);
  EXPECT_FALSE(lib().ch[0].timerArmed.load());
}

TEST_F(BoxTest, ChannelTimer) {
  open();
  EXPECT_EQ(ZT_StartTimer(0, 3), 3);
  box().advanceMs(2999);
  EXPECT_EQ(ZT_TimerElapsed(0), 2);
  box().advanceMs(1);
  EXPECT_EQ(ZT_TimerElapsed(0), -1);
}

TEST_F(BoxTest, ChannelFrequencyRoundsHalfAwayFromZero) {
  open();
  const struct {
    int f, p1, p2;
  } rows[] = {{453, 30716, 24816}, {0, 32768, 32768},    {1000, 23170, 0},
              {2000, 0, -32768},   {1174, 19798, -8845}, {3000, -23170, 0}};
  for (auto& r : rows) {
    box().reset(false);
    ASSERT_EQ(ZT_SetChannelFreq(0, r.f), 0);
    auto p = box().channelParams(0);
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0], 1);
    EXPECT_EQ(p[1], r.p1) << r.f;
    EXPECT_EQ(p[2], 2);
    EXPECT_EQ(p[3], r.p2) << r.f;
  }
}

TEST_F(BoxTest, FskSendingRefusesMoreThan512Bytes) {
  open();
  box().setDeviceFailure(kReqSendFsk, 99);
  std::vector<char> data(513, 'a');
  lib().lastError = 0;
  EXPECT_EQ(ZT_StartSendFskData(0, data.data(), 513), 5);
  EXPECT_EQ(ZT_GetLastError(), 0);  // no request was made
  EXPECT_EQ(ZT_StartSendFskData(128, data.data(), 1), 5);
  box().setDeviceFailure(-1, 0);
  EXPECT_EQ(ZT_StartSendFskData(1, data.data(), 512), 512);
  EXPECT_GT(ZT_SendFskDataRest(1), 500);
  box().advanceMs(5000);
  EXPECT_EQ(ZT_SendFskDataRest(1), 0);
  EXPECT_EQ(box().takeFskSent(1).size(), 512u);
}

TEST(CallerId, MessageFor123At0507_0930) {
  auto m = callerIdMessage("123", 5, 7, 9, 30);
  std::vector<uint8_t> expected = {0x04, 0x0B, 0x30, 0x35, 0x30, 0x37, 0x30,
                                   0x39, 0x33, 0x30, 0x31, 0x32, 0x33, 0xC3};
  EXPECT_EQ(m, expected);
}

TEST_F(BoxTest, FskDialBuildsTheMessageWithoutTouchingTheCallersText) {
  open();
  ZT_SetSendMode(1, 1);
  // Exactly the number and its terminator: the message would overrun it.
  char text[4] = {'1', '2', '3', 0};
  EXPECT_EQ(ZT_StartDial(1, text), 14);
  EXPECT_STREQ(text, "123");
  std::string sent = box().takeDialled(1);
  ASSERT_EQ(sent.size(), 14u);
  EXPECT_EQ(sent[0], 0x04);
  EXPECT_EQ(sent.substr(10, 3), "123");
  unsigned sum = 0;
  for (char c : sent)
    sum += static_cast<uint8_t>(c);
  EXPECT_EQ(sum % 256, 0u);
  ZT_SetSendMode(1, 0);
  EXPECT_EQ(ZT_StartDial(1, text), 3);
  EXPECT_EQ(box().takeDialled(1), "123");
}

TEST_F(BoxTest, CallerIdSenderRingsTheSetAndSendsBetweenRings) {
  open();
  ASSERT_EQ(ZT_SendCID_Ring(1, 1, "13900001111"), 1);
  EXPECT_EQ(joinCallerIdSender(), 1);
  auto sent = box().takeFskSent(1);
  ASSERT_EQ(sent.size(), 22u);
  EXPECT_EQ(sent[0], 0x04);
  EXPECT_EQ(std::string(sent.begin() + 10, sent.begin() + 20), "1390000111");
  // Rung again after sending.
  box().advanceMs(10);
  EXPECT_EQ(ZT_InternalRingDetect(1), 1);

  // DTMF before ringing; lifting the handset ends it early.
  ASSERT_EQ(ZT_SendCID_Ring(1, 0, "8001"), 1);
  EXPECT_EQ(joinCallerIdSender(), 1);
  EXPECT_EQ(box().takeDialled(1), "8001");
  ASSERT_EQ(ZT_SendCID_Ring(1, 7, "1"), 1);
  EXPECT_EQ(joinCallerIdSender(), -3);
}

TEST_F(BoxTest, SilentDeviceMakesTheDetectionPostNothing) {
  open();
  box().keys(0, "1");
  box().lift(1);
  box().setAnswering(false);
  lib().channels = 2;
  box().advanceMs(200);
  pollerPass();
  EXPECT_TRUE(drain(0).empty());
  EXPECT_TRUE(drain(1).empty());
  EXPECT_EQ(ZT_GetDTMFChar(0), -1);
}

}  // namespace
}  // namespace parvane_test
