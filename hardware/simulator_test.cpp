// The simulated lines through the exported C functions, with the clock
// injected so that durations take no real time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>

#include "hardware/hardware.h"
#include "hardware/hardware_internal.h"
#include "hardware/test_files.h"
#include "platform/gbk.h"

namespace {

using hardware_test::readFile;
using hardware_test::wave;
using hardware_test::writeFile;

class Simulated : public ::testing::Test {
 protected:
  void SetUp() override {
    hardware_internal::setClock(&clock);
    std::filesystem::create_directory(dir / "index");
    hardware::Settings s;
    s.simulated = true;
    s.indexDir = dir / "index";
    ASSERT_EQ(hardware_internal::reinit(s), 8);
  }
  void TearDown() override {
    hardware_internal::reinit(hardware::Settings{});
    hardware_internal::setClock(nullptr);
  }

  int status(int ch) { return CTIGetOutLineStatus(ch, 0); }
  int finished(int ch) { return CTIGetPlayfinish(ch, 0); }

  platform::FakeClock clock{0xFFFFFF00u};  // durations cross the tick counter's wrap
  hardware_test::ScratchDir dir;
};

// One step of a line's life: an action, what it returns, and the status the
// line reports afterwards (polled only where `after` is not -1, because
// polling a ringing line marks it as seen).
struct Step {
  const char* action;
  int result;
  int after;
};

int act(const char* a, int ch, const std::string& voice) {
  std::string s = a;
  if (s == "B" || s == "E" || s.size() == 1) return CTISetKeyDtmf(ch, s[0]);
  if (s == "play") return CTIPlayFile(ch, voice.c_str(), 0);
  if (s == "status") return CTIGetOutLineStatus(ch, 0);
  if (s == "mci") return CTIOpenMCI();
  if (s == "offhook") return CTISetOutOffHook(ch);
  if (s == "hook") return CTISetOutHook(ch);
  ADD_FAILURE() << "unknown action " << s;
  return -99;
}

TEST_F(Simulated, LineStatusByEvent) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"answered through the sound device, caller hangs up",
       {{"B", 0, 1}, {"mci", 0, 2}, {"E", 0, 5}, {"hook", 0, 0}}},
      {"answered off-hook", {{"B", 0, 1}, {"offhook", 0, 2}, {"hook", 0, 0}}},
      {"answered by the first prompt", {{"B", 0, 1}, {"play", 0, 2}, {"E", 0, 5}}},
      {"caller gives up while ringing after the runtime saw the call",
       {{"B", 0, 1}, {"E", 0, 5}, {"hook", 0, 0}}},
      {"caller gives up before anyone saw the call", {{"B", 0, -1}, {"E", 0, 0}}},
      {"not answered: on-hook ends the call, the next call rings",
       {{"B", 0, 1}, {"hook", 0, 0}, {"B", 0, 1}}},
      {"one call per line", {{"B", 0, 1}, {"B", -1, 1}, {"mci", 0, 2}, {"B", -1, 2}}},
      {"a hung-up line takes no call until on-hook",
       {{"B", 0, 1}, {"mci", 0, 2}, {"E", 0, 5}, {"B", -1, 5}, {"E", -1, 5}}},
      {"hang-up on an idle line is ignored", {{"E", -1, 0}}},
      {"on-hook of an idle line", {{"hook", 0, 0}}},
  };
  writeFile(dir / "p.voc", std::vector<uint8_t>(80, 0xD5));
  for (const auto& c : cases) {
    for (int ch : {0, 7}) {
      CTISetOutHook(ch);
      for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step& st = c.steps[i];
        EXPECT_EQ(act(st.action, ch, dir / "p.voc"), st.result) << c.name << " step " << i;
        if (st.after >= 0) {
          EXPECT_EQ(status(ch), st.after) << c.name << " step " << i;
        }
      }
    }
  }
}

TEST_F(Simulated, SoundDeviceAnswersTheLineLastSeenRinging) {
  ASSERT_EQ(CTISetKeyDtmf(2, 'B'), 0);
  ASSERT_EQ(CTISetKeyDtmf(5, 'B'), 0);
  EXPECT_EQ(status(5), 1);
  EXPECT_EQ(status(2), 1);
  CTIOpenMCI();
  EXPECT_EQ(status(2), 2);
  EXPECT_EQ(status(5), 1);
  CTIOpenMCI();
  EXPECT_EQ(status(5), 2);
  // Opening it again with nothing ringing answers nothing.
  ASSERT_EQ(CTISetKeyDtmf(3, 'B'), 0);
  CTIOpenMCI();
  EXPECT_EQ(status(3), 1);
  EXPECT_EQ(hardware_internal::soundOpens(), 3);
}

TEST_F(Simulated, KeysArriveInOrderDuringACallOnly) {
  int key = 0;
  EXPECT_EQ(CTISetKeyDtmf(1, '5'), -1) << "no call yet";
  EXPECT_NE(CTIGetDtmf(1, &key, 0), 0);
  CTISetKeyDtmf(1, 'B');
  EXPECT_EQ(status(1), 1);
  for (char k : std::string("0123456789*#"))
    EXPECT_EQ(CTISetKeyDtmf(1, k), 0) << k;
  for (int bad : {int{'A'}, int{'C'}, int{'a'}, int{' '}, 0, 0x1B5})
    EXPECT_EQ(CTISetKeyDtmf(1, bad), -1) << bad;
  std::string got;
  while (CTIGetDtmf(1, &key, 0) == 0)
    got += static_cast<char>(key);
  EXPECT_EQ(got, "0123456789*#");
  EXPECT_EQ(CTIGetDtmf(2, &key, 0), 1) << "other lines have no keys";

  for (int i = 0; i < 3; ++i)
    CTISetKeyDtmf(1, '1');
  EXPECT_EQ(CTIFlushDTMF(1, 0), 0);
  EXPECT_EQ(CTIGetDtmf(1, &key, 0), 1);
  CTISetKeyDtmf(1, '2');
  EXPECT_EQ(CTIClearKeyDtmf(1), 0);
  EXPECT_EQ(CTIGetDtmf(1, &key, 0), 1);

  // A flood is bounded; what was queued stays in order.
  int taken = 0;
  for (int i = 0; i < 1000; ++i)
    taken += CTISetKeyDtmf(1, '0' + i % 10) == 0;
  EXPECT_EQ(taken, static_cast<int>(hardware::kKeyQueueMax));
  for (int i = 0; i < taken; ++i) {
    ASSERT_EQ(CTIGetDtmf(1, &key, 0), 0);
    ASSERT_EQ(key, '0' + i % 10);
  }

  // Keys pressed before hanging up can still be read; on-hook drops them.
  CTISetKeyDtmf(1, '7');
  CTISetKeyDtmf(1, 'E');
  EXPECT_EQ(CTISetKeyDtmf(1, '8'), -1);
  ASSERT_EQ(CTIGetDtmf(1, &key, 0), 0);
  EXPECT_EQ(key, '7');
  CTISetKeyDtmf(1, '7');
  CTISetOutHook(1);
  EXPECT_EQ(CTIGetDtmf(1, &key, 0), 1);
}

TEST_F(Simulated, SimulatedCallsLeaveTheSharedRecordAlone) {
  std::vector<unsigned char> table(CHAN_MAX * CHAN_RECORD_SIZE, 0x5A);
  const std::vector<unsigned char> before = table;
  SetChanDataMem(table.data());
  CTISetKeyDtmf(3, 'B');
  CTISetKeyDtmf(3, '5');
  std::array<char, 20> num;
  num.fill('x');
  EXPECT_EQ(CTIGetCallInNum(3, num.data()), 0);
  EXPECT_STREQ(num.data(), "");  // the runtime keeps a simulated caller's number
  CTISetKeyDtmf(3, 'E');
  CTISetOutHook(3);
  EXPECT_EQ(table, before);
  SetChanDataMem(nullptr);
}

TEST_F(Simulated, ChannelsOutsideTheLinesAreRefused) {
  int key = 0;
  char num[20];
  for (int ch : {-1, 8, 1 << 30}) {
    EXPECT_EQ(CTIGetChannelType(ch), 0) << ch;
    EXPECT_EQ(CTIGetOutLineStatus(ch, 0), 0) << ch;
    EXPECT_EQ(CTISetKeyDtmf(ch, 'B'), -1) << ch;
    EXPECT_EQ(CTIGetDtmf(ch, &key, 0), -1) << ch;
    EXPECT_EQ(CTIGetCallInNum(ch, num), -1) << ch;
    EXPECT_EQ(CTIPlayFile(ch, (dir / "x").c_str(), 0), -1) << ch;
    EXPECT_EQ(CTIPlayIndex(ch, 1), -1) << ch;
    EXPECT_EQ(CTIRecFile(ch, (dir / "r").c_str(), 0), -1) << ch;
    EXPECT_EQ(CTIChConnCh(0, ch), -1) << ch;
  }
  for (int ch = 0; ch < 8; ++ch)
    EXPECT_EQ(CTIGetChannelType(ch), CHAN_TYPE_OUTER);
  EXPECT_FALSE(std::filesystem::exists(dir / "r"));
}

TEST_F(Simulated, PlaybackLastsAsLongAsTheFile) {
  writeFile(dir / "Hello.voc", std::vector<uint8_t>(12000, 0xD5));  // 1500 ms
  writeFile(dir / "w.wav", wave(16000, 8000, 8000, true));          // 500 ms
  writeFile(dir / "欢迎.voc", std::vector<uint8_t>(800, 0xD5));     // 100 ms
  struct Case {
    std::string path;  // as a flow would name it
    uint32_t ms;
  } cases[] = {
      {dir.path() + "\\HELLO.VOC", 1500},
      {dir / "w.wav", 500},
      {platform::utf8ToGbk(dir.path() + "\\欢迎.voc"), 100},  // flows hold GBK
  };
  for (const auto& c : cases) {
    EXPECT_EQ(finished(0), 0) << "nothing playing";
    ASSERT_EQ(CTIPlayFile(0, c.path.c_str(), 0), 0) << c.path;
    EXPECT_NE(finished(0), 0);
    clock.advance(c.ms - 1);
    EXPECT_NE(finished(0), 0) << c.path;
    clock.advance(1);
    EXPECT_EQ(finished(0), 0) << c.path;
    EXPECT_EQ(finished(0), 0) << "stays finished";
  }
}

TEST_F(Simulated, PlaybackThatCannotStart) {
  writeFile(dir / "bad.wav", wave(0, 800, 800));
  for (std::string path : {dir / "missing.voc", dir / "bad.wav", dir.path(), std::string()})
    EXPECT_EQ(CTIPlayFile(0, path.c_str(), 0), -1) << path;
  EXPECT_EQ(CTIPlayFile(0, nullptr, 0), -1);
  EXPECT_EQ(finished(0), 0);
}

TEST_F(Simulated, StopAndRestartEndPlaybackAtOnce) {
  writeFile(dir / "long.voc", std::vector<uint8_t>(80000, 0xD5));  // 10 s
  writeFile(dir / "short.voc", std::vector<uint8_t>(800, 0xD5));   // 100 ms
  ASSERT_EQ(CTIPlayFile(0, (dir / "long.voc").c_str(), 0), 0);
  ASSERT_EQ(CTIPlayFile(1, (dir / "long.voc").c_str(), 0), 0);
  clock.advance(10);
  EXPECT_EQ(CTIStopPlayFile(0, 0), 0);
  EXPECT_EQ(finished(0), 0);
  EXPECT_NE(finished(1), 0) << "other lines play on";
  // A new file replaces the one playing, with its own length.
  ASSERT_EQ(CTIPlayFile(1, (dir / "short.voc").c_str(), 0), 0);
  clock.advance(100);
  EXPECT_EQ(finished(1), 0);
  // A failed start leaves nothing playing.
  ASSERT_EQ(CTIPlayFile(1, (dir / "long.voc").c_str(), 0), 0);
  EXPECT_EQ(CTIPlayFile(1, (dir / "none.voc").c_str(), 0), -1);
  EXPECT_EQ(finished(1), 0);
  // CTIStopRP stops playback as well.
  ASSERT_EQ(CTIPlayFile(2, (dir / "long.voc").c_str(), 0), 0);
  EXPECT_EQ(CTIStopRP(2, 0), 0);
  EXPECT_EQ(finished(2), 0);
}

TEST_F(Simulated, RecordingWritesSilenceOfTheElapsedTime) {
  auto allSilence = [](const std::vector<uint8_t>& b) {
    return std::all_of(b.begin(), b.end(), [](uint8_t x) { return x == 0xD5; });
  };
  // Stopped by the runtime; the file grows while the line is polled.
  ASSERT_EQ(CTIRecFile(0, (dir.path() + "\\msg0.voc").c_str(), 0), 0);
  clock.advance(500);
  status(0);
  EXPECT_EQ(readFile(dir / "msg0.voc").size(), 4000u);
  clock.advance(734);
  EXPECT_EQ(CTIStopRecord(0, 0), 0);
  clock.advance(1000);
  std::vector<uint8_t> b = readFile(dir / "msg0.voc");
  EXPECT_EQ(b.size(), 1234u * 8);
  EXPECT_TRUE(allSilence(b));

  // Ended by the caller hanging up, whatever comes after.
  CTISetKeyDtmf(1, 'B');
  CTIOpenMCI();
  ASSERT_EQ(CTIRecFile(1, (dir / "msg1.voc").c_str(), 0), 0);
  clock.advance(300);
  CTISetKeyDtmf(1, 'E');
  clock.advance(1000);
  CTIStopRP(1, 0);
  CTISetOutHook(1);
  EXPECT_EQ(readFile(dir / "msg1.voc").size(), 2400u);

  // Ended by going on-hook; a second recording replaces the first file.
  ASSERT_EQ(CTIRecFile(2, (dir / "msg2.voc").c_str(), 0), 0);
  clock.advance(100);
  ASSERT_EQ(CTIRecFile(2, (dir / "msg2.voc").c_str(), 0), 0);
  clock.advance(50);
  CTISetOutHook(2);
  EXPECT_EQ(readFile(dir / "msg2.voc").size(), 400u);

  EXPECT_EQ(CTIStopRecord(3, 0), 0) << "nothing recording";
  EXPECT_NE(CTIRecFile(3, (dir / "no/such/dir.voc").c_str(), 0), 0);
  EXPECT_NE(CTIRecFile(3, "", 0), 0);
}

// A folder, a FIFO or a device is neither played nor recorded into, and the
// refusal never waits: a FIFO opened for writing would block until a reader
// came, holding the library's lock against every other line.
TEST_F(Simulated, OnlyRegularFilesArePlayedOrRecorded) {
  const std::string fifo = dir / "fifo.voc";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder.voc");
  struct Case {
    const char* name;
    std::string path;
  } cases[] = {
      {"folder", dir / "folder.voc"},
      {"FIFO", fifo},
      {"character device", "/dev/null"},
      {"character device read forever", "/dev/zero"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto tries = std::async(std::launch::async, [&] {
      return std::make_pair(CTIRecFile(0, c.path.c_str(), 0), CTIPlayFile(1, c.path.c_str(), 0));
    });
    if (tries.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      ADD_FAILURE() << "the open blocked";
      // A reader for the waiting writer, so that the test can end.
      int r = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
      tries.wait();
      if (r >= 0) ::close(r);
    }
    auto [rec, play] = tries.get();
    EXPECT_EQ(rec, -1);
    EXPECT_EQ(play, -1);
    EXPECT_EQ(finished(0), 0) << "nothing recording, no error to report";
    EXPECT_EQ(finished(1), 0);
  }
  // A regular file that exists is emptied and recorded into.
  writeFile(dir / "old.voc", std::vector<uint8_t>(5000, 1));
  ASSERT_EQ(CTIRecFile(2, (dir / "old.voc").c_str(), 0), 0);
  clock.advance(100);
  EXPECT_EQ(CTIStopRecord(2, 0), 0);
  EXPECT_EQ(readFile(dir / "old.voc"), std::vector<uint8_t>(800, 0xD5));
}

// Writing fails part way (here a file-size limit stands in for a full
// disk): the line reports a sound error while the recording runs, and
// stopping it returns the error instead of success. Run in a child process,
// whose limit and ignored SIGXFSZ stay its own.
TEST_F(Simulated, RecordingWriteErrorIsReported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string path = dir / "full.voc";
  auto steps = [&]() -> int {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{4000, 4000};  // half a second of A-law
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) return 10;
    if (CTIRecFile(0, path.c_str(), 0) != 0) return 11;
    clock.advance(400);
    if (finished(0) != 0) return 12;  // 3200 bytes: still fine
    clock.advance(600);
    if (finished(0) != hardware::kSoundError) return 13;
    if (finished(0) != hardware::kSoundError) return 14;  // until stopped
    if (CTIStopRP(0, 0) != -EFBIG) return 15;
    if (finished(0) != 0) return 16;
    if (readFile(path).size() != 4000u) return 17;
    // The next recording starts clean.
    if (CTIRecFile(0, (dir / "next.voc").c_str(), 0) != 0) return 18;
    clock.advance(100);
    if (CTIStopRecord(0, 0) != 0) return 19;
    return 0;
  };
  auto run = [&] {
    int failedStep = steps();
    std::error_code ec;
    std::filesystem::remove_all(dir.path(), ec);  // the child's own folder
    std::_Exit(failedStep);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

TEST_F(Simulated, IndexedVoices) {
  writeFile(dir / "index/3.voc", std::vector<uint8_t>(800, 0xD5));  // 100 ms
  EXPECT_EQ(CTIPlayIndex(0, 3), 0);
  clock.advance(99);
  EXPECT_NE(finished(0), 0);
  clock.advance(1);
  EXPECT_EQ(finished(0), 0);

  for (int missing : {4, -1, -3}) {
    EXPECT_EQ(CTIPlayIndex(0, missing), -1) << missing;
    EXPECT_EQ(CycPlayIndex(0, missing), -1) << missing;
  }

  // Ring-back repeats until it is stopped.
  ASSERT_EQ(CycPlayIndex(1, 3), 0);
  for (int i = 0; i < 50; ++i) {
    clock.advance(1000);
    ASSERT_NE(finished(1), 0) << i;
  }
  CTIStopPlayFile(1, 0);
  EXPECT_EQ(finished(1), 0);
}

// InitQam reads sysconfig.ini from the working directory.
TEST(InitQam, AccessModeAndIndexFolderFromSysconfig) {
  hardware_test::ScratchDir dir;
  std::filesystem::create_directories(dir / "vox");
  writeFile(dir / "vox/2.voc", std::vector<uint8_t>(8, 0xD5));
  std::string old = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  // Telephone access (the default) opens the virtual voice box: a line and a
  // local set, whose keys come from the box, not from KeyCall.
  struct Case {
    const char* ini;  // nullptr: no file
    int channels, outer, inner;
    int keyB;    // CTISetKeyDtmf(0, 'B')
    int index2;  // CTIPlayIndex(0, 2) when there are channels
  } cases[] = {
      {nullptr, 2, 1, 1, -1, -1},
      {"[System]\ncallintype=1\n", 2, 1, 1, -1, -1},
      {"[System]\ncallintype=1\n[Hardware]\nindexdir=.\\vox\n", 2, 1, 1, -1, 0},
      {"[System]\ncallintype=0\n", 8, 8, 0, 0, -1},
      {"[System]\ncallintype=0\n[Hardware]\nindexdir=.\\vox\n", 8, 8, 0, 0, 0},
  };
  for (const auto& c : cases) {
    std::filesystem::remove("sysconfig.ini");
    if (c.ini) std::ofstream("sysconfig.ini") << c.ini;
    int a = -1, b = -1;
    EXPECT_EQ(InitQam(&a, &b), c.channels) << (c.ini ? c.ini : "(none)");
    EXPECT_EQ(a, c.outer);
    EXPECT_EQ(b, c.inner);
    EXPECT_EQ(CTIGetChannelType(0), CHAN_TYPE_OUTER);
    EXPECT_EQ(CTISetKeyDtmf(0, 'B'), c.keyB);
    EXPECT_EQ(CTIPlayIndex(0, 2), c.index2) << (c.ini ? c.ini : "(none)");
    CTIStopPlayFile(0, 0);
  }
  std::filesystem::current_path(old);
  hardware_internal::reinit(hardware::Settings{});
}

}  // namespace

namespace {

class InnerLines : public ::testing::Test {
 protected:
  void SetUp() override {
    hardware::Settings s;
    s.simulated = true;
    s.lines.resize(8);
    s.lines[5].inner = true;
    s.lines[6].inner = true;
    s.lines[6].forward = "13900001111";
    s.lines[7].inner = true;
    s.lines[7].voiceMail = true;
    ASSERT_EQ(hardware_internal::reinit(s), 8);
    SetChanDataMem(table.data());
  }
  void TearDown() override {
    SetChanDataMem(nullptr);
    hardware_internal::reinit(hardware::Settings{});
  }
  int16_t lineState(int ch) {
    const unsigned char* r = &table[ch * CHAN_RECORD_SIZE + CHAN_OFF_LINE_STATE];
    return static_cast<int16_t>(r[0] | r[1] << 8);
  }
  std::vector<unsigned char> table = std::vector<unsigned char>(CHAN_MAX * CHAN_RECORD_SIZE, 0);
};

TEST_F(InnerLines, HandsetRingingAndKeys) {
  EXPECT_EQ(CTIGetChannelType(5), CHAN_TYPE_INNER);
  EXPECT_EQ(CTIGetChannelType(4), CHAN_TYPE_OUTER);
  struct Step {
    const char* what;
    int result;
    int inStatus;
  } steps[] = {
      {"start", 0, 2},                    // handset down
      {"ring", 0, 2},  {"key 5", -1, 2},  // no keys with the handset down
      {"B", 0, 1},     {"key 5", 0, 1},  {"E", 0, 2},
  };
  for (const auto& s : steps) {
    std::string w = s.what;
    int r = 0;
    if (w == "ring") r = CTIRingIn(5, 3);
    if (w == "B" || w == "E") r = CTISetKeyDtmf(5, w[0]);
    if (w == "key 5") r = CTISetKeyDtmf(5, '5');
    EXPECT_EQ(r, s.result) << w;
    EXPECT_EQ(CTIGetInLineStatus(5), s.inStatus) << w;
    if (w == "ring" || w == "B") {
      // Ringing until the handset is lifted.
      EXPECT_EQ(hardware_internal::requests(5).ringing, w == "ring");
    }
  }
  // An inner line never has an incoming call, whatever KeyCall sends.
  EXPECT_EQ(CTIGetOutLineStatus(5, 0), 0);
  EXPECT_EQ(CTIGetInLineStatus(4), 0);  // an outer line has no handset
}

TEST_F(InnerLines, ExtensionSettingsReachTheSharedRecord) {
  CTIGetInLineStatus(6);
  CTIGetInLineStatus(7);
  CTIGetInLineStatus(5);
  EXPECT_EQ(lineState(6), CHAN_LINE_FORWARD);
  EXPECT_STREQ(reinterpret_cast<const char*>(&table[6 * CHAN_RECORD_SIZE + CHAN_OFF_FORWARD]),
               "13900001111");
  EXPECT_EQ(lineState(7), CHAN_LINE_VOICE_MAIL);
  EXPECT_EQ(lineState(5), 0);
}

TEST(Settings, InnerLinesFromTheIniFile) {
  hardware_test::ScratchDir dir;
  const std::string ini =
      "[System]\ncallintype=0\n[Out2]\nlinetype=2\nvoicemail=1\n[Out3]\nlinetype=2\n"
      "forward=8002\n";
  writeFile(dir / "sysconfig.ini", std::vector<uint8_t>(ini.begin(), ini.end()));
  hardware::Settings s = hardware::readSettings(dir / "sysconfig.ini");
  ASSERT_EQ(s.lines.size(), 8u);
  EXPECT_FALSE(s.lines[1].inner);
  EXPECT_TRUE(s.lines[2].inner && s.lines[2].voiceMail);
  EXPECT_TRUE(s.lines[3].inner);
  EXPECT_EQ(s.lines[3].forward, "8002");
}

}  // namespace
