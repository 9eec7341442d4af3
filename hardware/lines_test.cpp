// Each exported function serves a channel through the lines chosen for it:
// a channel given to other lines reaches them, the others stay simulated,
// and a new start gives every channel back to the simulated lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hardware/hardware.h"
#include "hardware/hardware_internal.h"

namespace {

// Lines that answer with values the simulator never gives and note each call.
class NotingLines final : public hardware::Lines {
 public:
  std::vector<std::string> calls;

  int channelType(int) const override { return CHAN_TYPE_INNER; }
  int outLineStatus(int ch) override { return note("outLineStatus", ch, 77); }
  int inLineStatus(int ch) override { return note("inLineStatus", ch, 78); }
  int callInNum(int, char* num20) const override {
    num20[0] = '7';
    num20[1] = 0;
    return 0;
  }
  int offHook(int ch) override { return note("offHook", ch); }
  int onHook(int ch) override { return note("onHook", ch); }
  int flushKeys(int ch) override { return note("flushKeys", ch); }
  int getKey(int ch, int* key) override {
    *key = '#';
    return note("getKey", ch);
  }
  int playFile(int ch, const char* path) override {
    return note("playFile " + std::string(path), ch);
  }
  int playIndex(int ch, int index, bool repeat) override {
    return note("playIndex " + std::to_string(index) + (repeat ? " repeat" : ""), ch);
  }
  int playFinished(int ch) override { return note("playFinished", ch, 79); }
  int stopPlay(int ch) override { return note("stopPlay", ch); }
  int recordFile(int ch, const char* path) override {
    return note("recordFile " + std::string(path), ch);
  }
  int stopRecord(int ch) override { return note("stopRecord", ch); }
  int ringIn(int ch, int ring) override { return note("ringIn " + std::to_string(ring), ch); }
  int stopRingIn(int ch) override { return note("stopRingIn", ch); }
  int connect(int a, int b) override { return note("connect " + std::to_string(b), a); }
  int callOut(int ch, const char* n) override { return note("callOut " + std::string(n), ch); }
  int inject(int ch, int key) override { return note("inject " + std::to_string(key), ch); }

 private:
  int note(const std::string& what, int ch, int result = 0) {
    calls.push_back(std::to_string(ch) + " " + what);
    return result;
  }
};

TEST(Lines, EachChannelIsServedByItsOwnLines) {
  hardware::Settings s;
  s.simulated = true;
  ASSERT_EQ(hardware_internal::reinit(s), 8);
  NotingLines other;
  hardware_internal::useLines(3, &other);

  EXPECT_EQ(CTIGetChannelType(3), CHAN_TYPE_INNER);
  EXPECT_EQ(CTIGetChannelType(2), CHAN_TYPE_OUTER);
  EXPECT_EQ(CTIGetOutLineStatus(3, CTI_MODE_SIMULATED), 77);
  EXPECT_EQ(CTIGetOutLineStatus(2, CTI_MODE_SIMULATED), CTI_OUT_IDLE);
  EXPECT_EQ(CTIGetInLineStatus(3), 78);
  EXPECT_EQ(CTIGetPlayfinish(3, CTI_MODE_SIMULATED), 79);
  char num[20] = {};
  EXPECT_EQ(CTIGetCallInNum(3, num), 0);
  EXPECT_STREQ(num, "7");
  int key = 0;
  EXPECT_EQ(CTIGetDtmf(3, &key, CTI_MODE_SIMULATED), 0);
  EXPECT_EQ(key, '#');
  CTISetOutOffHook(3);
  CTISetOutHook(3);
  CTIFlushDTMF(3, CTI_MODE_SIMULATED);
  CTIPlayFile(3, "a.voc", CTI_MODE_SIMULATED);
  CTIPlayIndex(3, 4);
  CycPlayIndex(3, 5);
  CTIStopPlayFile(3, CTI_MODE_SIMULATED);
  CTIRecFile(3, "m.voc", CTI_MODE_SIMULATED);
  CTIStopRecord(3, CTI_MODE_SIMULATED);
  CTIStopRP(3, CTI_MODE_SIMULATED);
  CTIRingIn(3, 2);
  CTIStopRingIn(3);
  CTIChConnCh(3, 5);
  CTIChConnCh(5, 3);  // chosen by the first channel: the simulator's
  CTICallOut(3, "110");
  CTISetKeyDtmf(3, 'B');
  CTIClearKeyDtmf(3);
  EXPECT_EQ(other.calls, (std::vector<std::string>{"3 outLineStatus", "3 inLineStatus",
                                                   "3 playFinished",  "3 getKey",
                                                   "3 offHook",       "3 onHook",
                                                   "3 flushKeys",     "3 playFile a.voc",
                                                   "3 playIndex 4",   "3 playIndex 5 repeat",
                                                   "3 stopPlay",      "3 recordFile m.voc",
                                                   "3 stopRecord",    "3 stopPlay",
                                                   "3 stopRecord",    "3 ringIn 2",
                                                   "3 stopRingIn",    "3 connect 5",
                                                   "3 callOut 110",   "3 inject 66",
                                                   "3 flushKeys"}));
  EXPECT_EQ(hardware_internal::requests(5).connectedTo, 3);

  // A new start serves every channel by the simulated lines again.
  ASSERT_EQ(hardware_internal::reinit(s), 8);
  other.calls.clear();
  EXPECT_EQ(CTIGetOutLineStatus(3, CTI_MODE_SIMULATED), CTI_OUT_IDLE);
  EXPECT_TRUE(other.calls.empty());
}

}  // namespace
