// Telephone access against the virtual voice box, through the exported CTI
// functions: InitQam under callintype 1 opens the box in this process; the
// tests play the world around it with the box's control functions and move
// its device time by hand, while its poller runs on the real clock.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "hardware/hardware.h"
#include "hardware/test_files.h"
#include "voicebox/vbox_control.h"

namespace {

// Every test of this program keeps the box's control socket closed: a box
// that listened on the default path would answer another process's tool.
const bool kQuietBox = [] {
  ::setenv("PARVANE_CONTROL", "off", 1);
  ::unsetenv("PARVANE_DEVICE");
  return true;
}();

using hardware_test::readFile;
using hardware_test::writeFile;

// Polls `done` as the runtime's scan thread would, every 20 ms, for at most
// `seconds` of real time (the box's poller passes every 200 ms).
bool eventually(const std::function<bool()>& done, int seconds = 2) {
  for (int i = 0; i < seconds * 50; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

std::string boxStatus() {
  char reply[2048] = {};
  VBox_Command("status", reply, sizeof reply);
  return reply;
}

std::vector<uint8_t> alawWave(const std::vector<uint8_t>& data) {
  using namespace hardware_test;
  std::vector<uint8_t> b;
  putId(b, "RIFF");
  put32(b, static_cast<uint32_t>(50 + data.size()));
  putId(b, "WAVE");
  putId(b, "fmt ");
  put32(b, 18);
  for (uint16_t v : {6, 1})
    put16(b, v);
  put32(b, 8000);
  put32(b, 8000);
  for (uint16_t v : {1, 8, 0})
    put16(b, v);
  putId(b, "fact");
  put32(b, 4);
  put32(b, static_cast<uint32_t>(data.size()));
  putId(b, "data");
  put32(b, static_cast<uint32_t>(data.size()));
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

std::vector<uint8_t> ramp(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i)
    v[i] = static_cast<uint8_t>(i * 7 + 1);
  return v;
}

class TelephoneLines : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    std::filesystem::create_directories("vox");
    std::ofstream("sysconfig.ini") << "[System]\ncallintype=1\n[Hardware]\nindexdir=.\\vox\n";
    VBox_SetRealTime(0);
    int a = -1, b = -1;
    ASSERT_EQ(InitQam(&a, &b), 2);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);
  }
  // The box outlives a test in this process: the next one finds it quiet.
  void TearDown() override {
    CTISetOutHook(0);
    CTIStopRingIn(1);
    VBox_Replace(0);
    VBox_Replace(1);
    VBox_Tone(0, "none");
    VBox_Advance(60000);
    unsigned char drop[65536];
    while (VBox_ReadPlayed(0, drop, sizeof drop) > 0) {
    }
    std::filesystem::current_path(old_);
  }

  // Rings the line and answers the call once it is reported.
  void answerCall(const char* number) {
    ASSERT_EQ(VBox_Ring(0, number, 5, 1), 0) << boxStatus();
    VBox_Advance(1600);  // the first ring and the FSK caller ID after it
    ASSERT_TRUE(eventually([] { return CTIGetOutLineStatus(0, 1) == CTI_OUT_INCOMING; }));
    ASSERT_EQ(CTISetOutOffHook(0), 0);
    EXPECT_EQ(CTIGetOutLineStatus(0, 1), CTI_OUT_TALKING);
  }

  // Moves device time on by `ms` in steps the runtime's polling would see.
  static void talk(int ms) {
    for (int t = 0; t < ms; t += 50) {
      VBox_Advance(50);
      CTIGetPlayfinish(0, 1);
    }
  }

  hardware_test::ScratchDir dir_;
  std::filesystem::path old_;
};

TEST_F(TelephoneLines, ChannelTypesOfTheBox) {
  EXPECT_EQ(CTIGetChannelType(0), CHAN_TYPE_OUTER);
  EXPECT_EQ(CTIGetChannelType(1), CHAN_TYPE_INNER);
  EXPECT_EQ(CTIGetChannelType(2), 0);
  EXPECT_EQ(CTIGetInLineStatus(1), CTI_IN_HUNG_UP);
  EXPECT_EQ(CTIGetOutLineStatus(0, 1), CTI_OUT_IDLE);
  EXPECT_EQ(CTISetKeyDtmf(0, 'B'), -1);  // calls come from the box, not KeyCall
}

// The caller number comes with the call, by FSK between the first two rings
// or by DTMF before the first; the call is reported once it is known.
TEST_F(TelephoneLines, IncomingCallReportsItsCallerNumber) {
  struct Case {
    int fsk;
    const char* number;
  } cases[] = {{1, "13900001111"}, {0, "8765"}};
  for (const auto& c : cases) {
    ASSERT_EQ(VBox_Ring(0, c.number, 5, c.fsk), 0);
    VBox_Advance(200);
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    if (c.fsk) {
      // The first ring is on, the caller ID not yet sent: not reported.
      EXPECT_EQ(CTIGetOutLineStatus(0, 1), CTI_OUT_IDLE);
      VBox_Advance(1400);
    }
    ASSERT_TRUE(eventually([] { return CTIGetOutLineStatus(0, 1) == CTI_OUT_INCOMING; }))
        << c.number;
    char num[20] = {};
    EXPECT_EQ(CTIGetCallInNum(0, num), 0);
    EXPECT_STREQ(num, c.number);
    // Caller ID digits are not keys of the call.
    int key = 0;
    EXPECT_EQ(CTIGetDtmf(0, &key, 1), 1);
    EXPECT_EQ(CTISetOutOffHook(0), 0);
    EXPECT_EQ(CTISetOutHook(0), 0);
    EXPECT_EQ(CTIGetOutLineStatus(0, 1), CTI_OUT_IDLE);
    VBox_Advance(30000);  // the box forgets the call
    // and the poller sees the line quiet before the next call rings.
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
  }
}

TEST_F(TelephoneLines, KeysAndTheFarEndHangingUp) {
  answerCall("13900001111");
  ASSERT_EQ(VBox_Keys(0, "12#"), 0);
  std::string keys;
  ASSERT_TRUE(eventually([&] {
    int key = 0;
    while (CTIGetDtmf(0, &key, 1) == 0)
      keys.push_back(static_cast<char>(key));
    return keys.size() >= 3;
  }));
  EXPECT_EQ(keys, "12#");
  ASSERT_EQ(VBox_Keys(0, "9"), 0);
  ASSERT_TRUE(eventually([] {
    CTIGetPlayfinish(0, 1);  // any poll takes the events
    return true;
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(450));
  EXPECT_EQ(CTIFlushDTMF(0, 1), 0);
  int key = 0;
  EXPECT_EQ(CTIGetDtmf(0, &key, 1), 1);

  // The far end hangs up: the box hears the busy tone of an answered call.
  ASSERT_EQ(VBox_Replace(0), 0);
  VBox_Advance(200);
  ASSERT_TRUE(eventually([] { return CTIGetOutLineStatus(0, 1) == CTI_OUT_HUNG_UP; }));
  EXPECT_EQ(CTISetOutHook(0), 0);
  EXPECT_EQ(CTIGetOutLineStatus(0, 1), CTI_OUT_IDLE);
}

// Headerless A-law (.voc, .qx) and A-law wave files reach the line byte for
// byte; other files are refused at the start, without waiting.
TEST_F(TelephoneLines, PlaybackOfFiles) {
  answerCall("555");
  const auto voice = ramp(1200);
  writeFile("a.voc", voice);
  writeFile("b.qx", voice);
  writeFile("c.wav", alawWave(voice));
  writeFile("vox/3.voc", voice);
  struct Case {
    std::function<int()> start;
  } cases[] = {{[] { return CTIPlayFile(0, "a.voc", 1); }},
               {[] { return CTIPlayFile(0, ".\\b.qx", 1); }},
               {[] { return CTIPlayFile(0, "c.wav", 1); }},
               {[] { return CTIPlayIndex(0, 3); }}};
  for (auto& c : cases) {
    unsigned char drop[65536];
    while (VBox_ReadPlayed(0, drop, sizeof drop) > 0) {
    }
    ASSERT_EQ(c.start(), 0);
    EXPECT_EQ(CTIGetPlayfinish(0, 1), CTI_PLAY_PLAYING);
    VBox_Advance(100);
    EXPECT_EQ(CTIGetPlayfinish(0, 1), CTI_PLAY_PLAYING);
    VBox_Advance(200);
    ASSERT_TRUE(eventually([] { return CTIGetPlayfinish(0, 1) == CTI_PLAY_FINISHED; }));
    std::vector<uint8_t> played(4096);
    played.resize(static_cast<size_t>(VBox_ReadPlayed(0, played.data(), 4096)));
    ASSERT_GE(played.size(), voice.size());
    EXPECT_TRUE(std::equal(voice.begin(), voice.end(), played.begin()));
  }

  writeFile("pcm.wav", hardware_test::wave(16000, 800, 800));
  ::mkfifo("fifo.voc", 0600);
  writeFile("empty.voc", {});
  EXPECT_EQ(CTIPlayFile(0, "pcm.wav", 1), -1);  // 16-bit PCM
  EXPECT_EQ(CTIPlayFile(0, "fifo.voc", 1), -1);
  EXPECT_EQ(CTIPlayFile(0, "missing.voc", 1), -1);
  EXPECT_EQ(CTIPlayFile(0, "vox", 1), -1);
  EXPECT_EQ(CTIPlayIndex(0, 4), -1);
  EXPECT_EQ(CTIPlayFile(0, "empty.voc", 1), 0);
  EXPECT_EQ(CTIGetPlayfinish(0, 1), CTI_PLAY_FINISHED);

  // A stopped playback is finished; a repeated one starts again.
  ASSERT_EQ(CTIPlayFile(0, "a.voc", 1), 0);
  EXPECT_EQ(CTIStopPlayFile(0, 1), 0);
  EXPECT_EQ(CTIGetPlayfinish(0, 1), CTI_PLAY_FINISHED);
  ASSERT_EQ(CycPlayIndex(0, 3), 0);
  talk(600);
  EXPECT_EQ(CTIGetPlayfinish(0, 1), CTI_PLAY_PLAYING);
  EXPECT_EQ(CTIStopPlayFile(0, 1), 0);
}

// What the caller says is written as it comes, 8000 bytes a second of
// device time, into a headerless A-law file or an A-law wave file.
TEST_F(TelephoneLines, RecordingIntoFiles) {
  answerCall("555");
  const auto voice = ramp(4000);
  for (const char* name : {"msg.voc", "msg.wav"}) {
    writeFile(name, std::vector<uint8_t>(20000, 1));  // an old, longer file
    ASSERT_EQ(CTIRecFile(0, name, 1), 0) << name;
    ASSERT_EQ(VBox_FeedVoice(0, voice.data(), static_cast<int>(voice.size())), 0);
    talk(500);
    EXPECT_EQ(CTIStopRP(0, 1), 0);
    const auto file = readFile(name);
    const size_t header = std::string(name).ends_with(".wav") ? 58 : 0;
    ASSERT_EQ(file.size(), header + 4000) << name;
    EXPECT_TRUE(std::equal(voice.begin(), voice.end(), file.begin() + header)) << name;
  }
  ::mkfifo("fifo.voc", 0600);
  EXPECT_NE(CTIRecFile(0, "fifo.voc", 1), 0);
  EXPECT_NE(CTIRecFile(0, "no/such/folder/x.voc", 1), 0);
}

// The far end hanging up ends the recording with what was said.
TEST_F(TelephoneLines, HangUpEndsTheRecording) {
  answerCall("555");
  ASSERT_EQ(CTIRecFile(0, "msg.voc", 1), 0);
  talk(300);
  ASSERT_EQ(VBox_Replace(0), 0);
  VBox_Advance(200);
  ASSERT_TRUE(eventually([] { return CTIGetOutLineStatus(0, 1) == CTI_OUT_HUNG_UP; }));
  const size_t size = readFile("msg.voc").size();
  EXPECT_GE(size, 2400u);
  EXPECT_LE(size, 4000u);
  VBox_Advance(1000);
  CTIGetPlayfinish(0, 1);
  EXPECT_EQ(readFile("msg.voc").size(), size);
  EXPECT_EQ(CTIStopRecord(0, 1), 0);
}

// The local set: hook state, ringing with the caller's number, and joining
// it to the line.
TEST_F(TelephoneLines, LocalSetRingsWithCallerIdAndJoinsTheLine) {
  answerCall("13900001111");
  ASSERT_EQ(CTIRingIn(1, 1), 0);  // 1: DTMF caller ID, then the ring
  VBox_Advance(3000);
  ASSERT_TRUE(eventually([] { return boxStatus().find("ringing") != std::string::npos; }))
      << boxStatus();
  char dialled[64] = {};
  VBox_ReadDialled(1, dialled, sizeof dialled - 1);
  EXPECT_NE(std::string(dialled).find("13900001111"), std::string::npos) << dialled;
  EXPECT_EQ(CTIStopRingIn(1), 0);
  EXPECT_EQ(boxStatus().find("ringing"), std::string::npos) << boxStatus();

  ASSERT_EQ(VBox_Lift(1), 0);
  EXPECT_EQ(CTIGetInLineStatus(1), CTI_IN_OFF_HOOK);
  EXPECT_EQ(CTIChConnCh(0, 1), 0);
  EXPECT_EQ(CTIChConnCh(0, 0), -1);
  ASSERT_EQ(VBox_Replace(1), 0);
  EXPECT_EQ(CTIGetInLineStatus(1), CTI_IN_HUNG_UP);
  EXPECT_EQ(CTIRingIn(0, 0), -1);  // the line is no local set
}

// Dialling out on the line: the digits go out one by one; a busy far end
// ends the call as a hang-up.
TEST_F(TelephoneLines, DiallingOut) {
  ASSERT_EQ(CTISetOutOffHook(0), 0);
  EXPECT_EQ(CTIGetOutLineStatus(0, 1), CTI_OUT_TALKING);
  ASSERT_EQ(CTICallOut(0, "8001"), 0);
  VBox_Advance(1000);
  std::string dialled;
  ASSERT_TRUE(eventually([&] {
    char buf[16] = {};
    VBox_ReadDialled(0, buf, sizeof buf - 1);
    dialled += buf;
    return dialled.size() >= 4;
  }));
  EXPECT_EQ(dialled, "8001");
  EXPECT_EQ(CTICallOut(0, ""), -1);
  EXPECT_EQ(CTICallOut(1, "1"), -1);  // a local set dials nothing
  ASSERT_EQ(VBox_Tone(0, "busy"), 0);
  // The box listens for the far end two seconds after the last digit.
  ASSERT_TRUE(eventually(
      [] {
        VBox_Advance(100);
        return CTIGetOutLineStatus(0, 1) == CTI_OUT_HUNG_UP;
      },
      8));
}

// A caller who gives up while ringing sends nothing: the line notices the
// rings have stopped (after a ring period and a half of the real clock).
TEST_F(TelephoneLines, CallerGivingUpWhileRinging) {
  ASSERT_EQ(VBox_Ring(0, "777", 5, 0), 0);
  VBox_Advance(200);
  ASSERT_TRUE(eventually([] { return CTIGetOutLineStatus(0, 1) == CTI_OUT_INCOMING; }));
  ASSERT_EQ(VBox_Replace(0), 0);
  ASSERT_TRUE(eventually([] { return CTIGetOutLineStatus(0, 1) == CTI_OUT_HUNG_UP; }, 9));
  EXPECT_EQ(CTISetOutHook(0), 0);
  EXPECT_EQ(CTIGetOutLineStatus(0, 1), CTI_OUT_IDLE);
}

}  // namespace
