// Playback and recording through the virtual box: memory, files, wave
// files, the volume factor, sentences and conversation recording.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "voicebox/alaw.h"
#include "voicebox/test_box.h"

namespace parvane_test {
namespace {

using namespace parvane;
using Bytes = std::vector<uint8_t>;

class VoiceTest : public BoxTest {
 protected:
  void SetUp() override {
    BoxTest::SetUp();
    char tmpl[] = "/tmp/voicetest.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    BoxTest::TearDown();
    std::string cmd = "rm -rf '" + dir_ + "'";
    [[maybe_unused]] int rc = std::system(cmd.c_str());
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  static void writeFile(const std::string& p, const Bytes& data) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
  }
  static Bytes readFile(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  static int openFiles() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
      while (::readdir(d))
        ++n;
      ::closedir(d);
    }
    return n;
  }
  // A recognisable pattern of A-law bytes.
  static Bytes pattern(size_t n, int seed = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
      b[i] = static_cast<uint8_t>((i * 7 + seed * 31 + i / 251) & 0xFF);
    return b;
  }
  // Runs a continuation every 100 ms of device time until it returns 0.
  template <typename F>
  static int runUntilDone(F rest, int maxSteps = 1000) {
    int steps = 0;
    while (rest() > 0 && steps < maxSteps) {
      box().advanceMs(100);
      ++steps;
    }
    return steps;
  }

  std::string dir_;
};

TEST_F(VoiceTest, MemoryPlaybackPlaysEveryByteOnce) {
  open();
  Bytes data = pattern(20000);
  ASSERT_EQ(ZT_StartPlay(0, reinterpret_cast<const char*>(data.data()), 20000), 0);
  EXPECT_EQ(lib().ch[0].playOp.load(), kOpBufferPlay);
  int last = ZT_PlayRest(0);
  EXPECT_EQ(last, 20000);  // nothing played yet: all still to play
  runUntilDone([] { return ZT_PlayRest(0); });
  EXPECT_EQ(box().takePlayed(0), data);
  EXPECT_EQ(ZT_StopPlay(0), 0);
  EXPECT_EQ(ZT_StartPlay(0, nullptr, 10), -1);
  EXPECT_EQ(ZT_GetLastError(), 5);
  EXPECT_EQ(ZT_StartPlay(0, "x", 0), -1);
  EXPECT_EQ(ZT_GetLastError(), 5);
}

TEST_F(VoiceTest, StopPlayReturnsWhatWasLeft) {
  open();
  Bytes data = pattern(16000);
  ASSERT_EQ(ZT_StartPlay(0, reinterpret_cast<const char*>(data.data()), 16000), 0);
  box().advanceMs(500);  // 4000 played
  EXPECT_EQ(ZT_StopPlay(0), 12000);
  EXPECT_EQ(ZT_PlayRest(0), 0);
  // A second playback may start after the stop.
  EXPECT_EQ(ZT_StartPlay(0, reinterpret_cast<const char*>(data.data()), 100), 0);
  EXPECT_EQ(ZT_StartPlay(0, reinterpret_cast<const char*>(data.data()), 100), -1);
  EXPECT_EQ(ZT_GetLastError(), 11);
}

TEST_F(VoiceTest, FilePlaybackOfARegion) {
  open();
  Bytes data = pattern(10000);
  writeFile(path("a.voc"), data);
  const struct {
    int offset, length, count;
  } rows[] = {{0, 0, 10000}, {1000, 0, 9000}, {1000, 500, 500}, {9000, 5000, 1000}};
  for (auto& r : rows) {
    ASSERT_EQ(ZT_StartPlayFile(0, path("a.voc").c_str(), r.offset, r.length), r.count);
    runUntilDone([] { return ZT_PlayFileRest(0); });
    // Exactly the region: nothing read ahead past its end.
    EXPECT_EQ(box().takePlayed(0),
              Bytes(data.begin() + r.offset, data.begin() + r.offset + r.count))
        << r.offset << " " << r.length;
    EXPECT_EQ(ZT_StopPlayFile(0), 0);
  }
}

TEST_F(VoiceTest, FileStartFailuresLeaveNoFileOpen) {
  open();
  writeFile(path("a.voc"), pattern(4000));
  const int before = openFiles();
  const struct {
    int offset, length, error;
    const char* name;
  } rows[] = {
      {4000, 0, 8, "a.voc"},  // offset equal to the size: nothing to play
      {5000, 0, 8, "a.voc"}, {-1, 0, 5, "a.voc"}, {0, -1, 5, "a.voc"}, {0, 0, 10, "missing.voc"},
  };
  for (auto& r : rows) {
    EXPECT_EQ(ZT_StartPlayFile(0, path(r.name).c_str(), r.offset, r.length), -1) << r.offset;
    EXPECT_EQ(ZT_GetLastError(), r.error) << r.offset;
    EXPECT_EQ(openFiles(), before) << r.offset;
  }
  EXPECT_EQ(ZT_StartPlayFile(0, nullptr, 0, 0), -1);
  EXPECT_EQ(ZT_GetLastError(), 10);
  // A failed start leaves the channel free for the next one.
  EXPECT_EQ(ZT_StartPlayFile(0, path("a.voc").c_str(), 0, 0), 4000);
  EXPECT_EQ(ZT_StopPlayFile(0), 4000);
  EXPECT_EQ(openFiles(), before);
}

TEST_F(VoiceTest, SecondPlaybackRefusedWhileRecordingGoesOn) {
  open();
  writeFile(path("a.voc"), pattern(8000));
  Bytes heard = pattern(4000, 5);
  box().feedVoice(0, heard.data(), heard.size());
  ASSERT_EQ(ZT_StartRecordFile(0, path("rec.voc").c_str(), 0, 4000), 0);
  ASSERT_EQ(ZT_StartPlayFile(0, path("a.voc").c_str(), 0, 0), 8000);
  box().advanceMs(200);
  ZT_RecordFileRest(0);
  EXPECT_EQ(ZT_StartPlayFile(0, path("a.voc").c_str(), 0, 0), -1);
  EXPECT_EQ(ZT_GetLastError(), 11);
  EXPECT_EQ(ZT_StartPlay(0, "abc", 3), -1);
  EXPECT_EQ(ZT_GetLastError(), 11);
  // Both go on to their ends.
  for (int i = 0; i < 20; ++i) {
    box().advanceMs(100);
    ZT_PlayFileRest(0);
    ZT_RecordFileRest(0);
  }
  EXPECT_EQ(ZT_RecordFileRest(0), 0);
  EXPECT_EQ(ZT_StopRecordFile(0), 0);
  EXPECT_EQ(readFile(path("rec.voc")), heard);
  EXPECT_EQ(box().takePlayed(0).size(), 8000u);
}

TEST_F(VoiceTest, VolumeFactorScalesFileSamples) {
  open();
  Bytes data = pattern(3000);
  writeFile(path("a.voc"), data);
  ASSERT_EQ(ZT_SetZoomPcmRate(0, 0.5), 0);
  ASSERT_EQ(ZT_StartPlayFile(0, path("a.voc").c_str(), 0, 0), 3000);
  runUntilDone([] { return ZT_PlayFileRest(0); });
  Bytes played = box().takePlayed(0);
  ASSERT_EQ(played.size(), data.size());
  for (size_t i = 0; i < data.size(); ++i)
    ASSERT_EQ(played[i], alawEncode13(static_cast<int>(alawDecode13(data[i]) * 0.5))) << i;
  // Memory playback is not scaled.
  Bytes mem = pattern(100);
  ASSERT_EQ(ZT_StartPlay(0, reinterpret_cast<const char*>(mem.data()), 100), 0);
  runUntilDone([] { return ZT_PlayRest(0); });
  EXPECT_EQ(box().takePlayed(0), mem);
}

TEST_F(VoiceTest, MemoryRecordingFillsTheBuffer) {
  open();
  Bytes heard = pattern(3000, 2);
  box().feedVoice(1, heard.data(), heard.size());
  Bytes buf(3001, 0x33);
  ASSERT_EQ(ZT_StartRecord(1, reinterpret_cast<char*>(buf.data()), 3000), 0);
  EXPECT_EQ(ZT_StartRecord(1, reinterpret_cast<char*>(buf.data()), 3000), -1);
  EXPECT_EQ(ZT_GetLastError(), 9);
  runUntilDone([] { return ZT_RecordRest(1); });
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 3000), heard);
  EXPECT_EQ(buf[3000], 0x33) << "nothing written past the buffer";
  EXPECT_EQ(lib().ch[1].recordResult.load(), 0);
  EXPECT_EQ(ZT_StopRecord(1), 0);

  // A second buffer continues without restarting the device.
  Bytes a(800), b(800);
  Bytes more = pattern(1600, 3);
  box().feedVoice(1, more.data(), more.size());
  ASSERT_EQ(ZT_StartRecord(1, reinterpret_cast<char*>(a.data()), 800), 0);
  box().advanceMs(100);
  EXPECT_EQ(ZT_RecordRest(1), 0);
  // The device keeps recording: what comes next goes into the new buffer.
  ASSERT_EQ(ZT_StartRecord2(1, reinterpret_cast<char*>(b.data()), 800), -1);
  EXPECT_EQ(ZT_GetLastError(), 3);  // the first one completed and stopped
}

TEST_F(VoiceTest, StartRecord2SwitchesBuffers) {
  open();
  Bytes more = pattern(1600, 3);
  box().feedVoice(1, more.data(), more.size());
  Bytes a(1600), b(800);
  ASSERT_EQ(ZT_StartRecord(1, reinterpret_cast<char*>(a.data()), 1600), 0);
  box().advanceMs(100);
  EXPECT_EQ(ZT_RecordRest(1), 800);
  ASSERT_EQ(ZT_StartRecord2(1, reinterpret_cast<char*>(b.data()), 800), 0);
  box().advanceMs(100);
  EXPECT_EQ(ZT_RecordRest(1), 0);
  EXPECT_EQ(Bytes(a.begin(), a.begin() + 800), Bytes(more.begin(), more.begin() + 800));
  EXPECT_EQ(b, Bytes(more.begin() + 800, more.end()));
}

TEST_F(VoiceTest, FileRecordingAtAnOffsetTruncatesAfterTheLastByte) {
  open();
  writeFile(path("r.voc"), Bytes(100, 'A'));
  Bytes heard = pattern(30, 4);
  box().feedVoice(0, heard.data(), heard.size());
  EXPECT_EQ(ZT_StartRecordFile(0, path("r.voc").c_str(), 50, 30), 100);
  runUntilDone([] { return ZT_RecordFileRest(0); });
  EXPECT_EQ(ZT_StopRecordFile(0), 0);
  Bytes want(50, 'A');
  want.insert(want.end(), heard.begin(), heard.end());
  EXPECT_EQ(readFile(path("r.voc")), want);

  // An offset past the end records at the end; bad arguments give 5 and 10.
  box().feedVoice(0, heard.data(), 10);
  EXPECT_EQ(ZT_StartRecordFile(0, path("r.voc").c_str(), 1000, 10), 80);
  runUntilDone([] { return ZT_RecordFileRest(0); });
  ZT_StopRecordFile(0);
  EXPECT_EQ(readFile(path("r.voc")).size(), 90u);
  const int before = openFiles();
  EXPECT_EQ(ZT_StartRecordFile(0, path("r.voc").c_str(), 0, 0), -1);
  EXPECT_EQ(ZT_GetLastError(), 5);
  EXPECT_EQ(ZT_StartRecordFile(0, path("r.voc").c_str(), -1, 10), -1);
  EXPECT_EQ(ZT_GetLastError(), 5);
  EXPECT_EQ(ZT_StartRecordFile(0, path("no/such/dir.voc").c_str(), 0, 10), -1);
  EXPECT_EQ(ZT_GetLastError(), 10);
  EXPECT_EQ(openFiles(), before);
}

TEST_F(VoiceTest, StoppedFileRecordingKeepsWhatWasRecorded) {
  open();
  Bytes heard = pattern(8000, 6);
  box().feedVoice(0, heard.data(), heard.size());
  ASSERT_EQ(ZT_StartRecordFile(0, path("r.voc").c_str(), 0, 100000), 0);
  for (int i = 0; i < 5; ++i) {
    box().advanceMs(100);
    ZT_RecordFileRest(0);
  }
  EXPECT_EQ(ZT_StopRecordFile(0), 100000 - 4000);
  EXPECT_EQ(readFile(path("r.voc")), Bytes(heard.begin(), heard.begin() + 4000));
}

// soxi's answer for a file: rate, channels, encoding, samples.
std::string soxi(const std::string& p) {
  std::string out;
  for (const char* opt : {"-r", "-c", "-e", "-s"}) {
    std::string cmd = std::string("soxi ") + opt + " '" + p + "' 2>&1";
    FILE* f = ::popen(cmd.c_str(), "r");
    if (!f) return "no soxi";
    char line[256];
    while (std::fgets(line, sizeof line, f))
      out += line;
    ::pclose(f);
  }
  return out;
}

TEST_F(VoiceTest, WaveRecordingIsAnAlawWaveFile) {
  open();
  Bytes heard = pattern(12345, 7);
  box().feedVoice(1, heard.data(), heard.size());
  ASSERT_EQ(ZT_StartRecordWaveFile(1, path("r.wav").c_str()), 0);
  // The header is there from the start.
  EXPECT_EQ(readFile(path("r.wav")).size(), 58u);
  for (int i = 0; i < 16; ++i) {
    box().advanceMs(100);
    EXPECT_GT(ZT_RecordWaveFileRest(1), 0);
  }
  box().advanceMs(43);  // 344 bytes more: 12800 + 344
  ZT_RecordWaveFileRest(1);
  ZT_StopRecordWaveFile(1);
  Bytes f = readFile(path("r.wav"));
  const uint32_t n = 12800 + 344;
  ASSERT_EQ(f.size(), 58u + n);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "RIFF");
  EXPECT_EQ(getWord(f.data(), 4), n + 50);
  EXPECT_EQ(getWord(f.data(), 46), n);
  EXPECT_EQ(getWord(f.data(), 54), n);
  EXPECT_EQ(Bytes(f.begin() + 58, f.begin() + 58 + 12345), heard);
  EXPECT_EQ(soxi(path("r.wav")), "8000\n1\nA-law\n" + std::to_string(n) + "\n");

  // It plays back as its data chunk.
  ASSERT_EQ(ZT_StartPlayWaveFile(0, path("r.wav").c_str()), static_cast<int>(n));
  runUntilDone([] { return ZT_PlayWaveFileRest(0); });
  EXPECT_EQ(box().takePlayed(0), Bytes(f.begin() + 58, f.end()));
  ZT_StopPlayWaveFile(0);
}

TEST_F(VoiceTest, WaveMadeBySoxPlays) {
  open();
  std::string cmd =
      "sox -n -r 8000 -c 1 -e a-law -b 8 '" + path("s.wav") + "' synth 0.25 sine 440 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  ASSERT_EQ(ZT_StartPlayWaveFile(0, path("s.wav").c_str()), 2000);
  runUntilDone([] { return ZT_PlayWaveFileRest(0); });
  Bytes f = readFile(path("s.wav"));
  Bytes played = box().takePlayed(0);
  ASSERT_EQ(played.size(), 2000u);
  EXPECT_TRUE(std::search(f.begin(), f.end(), played.begin(), played.end()) != f.end());
}

// A wave file by hand: RIFF form with the given chunks.
Bytes wave(std::initializer_list<std::pair<std::string, Bytes>> chunks, int formSlack = 0) {
  Bytes body;
  for (auto& [id, data] : chunks) {
    body.insert(body.end(), id.begin(), id.end());
    uint8_t w[4];
    putWord(w, 0, static_cast<uint32_t>(data.size()));
    body.insert(body.end(), w, w + 4);
    body.insert(body.end(), data.begin(), data.end());
    if (data.size() & 1) body.push_back(0);
  }
  Bytes f = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  putWord(f.data(), 4, static_cast<uint32_t>(4 + body.size() + formSlack));
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

TEST_F(VoiceTest, WaveCheckCodes) {
  open();
  const Bytes alaw = {6, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0, 0, 0};
  const Bytes pcm16 = {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0};
  const Bytes stereo = {6, 0, 2, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 8, 0, 0, 0};
  const Bytes fact = {100, 0, 0, 0};
  const Bytes data(100, 0x55);
  const struct {
    const char* what;
    Bytes file;
    int result;
  } rows[] = {
      {"good", wave({{"fmt ", alaw}, {"fact", fact}, {"data", data}}), 100},
      {"16-bit PCM", wave({{"fmt ", pcm16}, {"data", data}}), -8},
      {"16-bit PCM with fact", wave({{"fmt ", pcm16}, {"fact", fact}, {"data", data}}), -8},
      {"stereo A-law", wave({{"fmt ", stereo}, {"fact", fact}, {"data", data}}), -8},
      {"A-law without fact", wave({{"fmt ", alaw}, {"data", data}}), -7},
      {"no fmt", wave({{"fact", fact}, {"data", data}}), -6},
      {"chunk past the form", wave({{"fmt ", alaw}, {"fact", fact}, {"data", data}}, -10), -3},
      {"not RIFF", Bytes(100, 'x'), -3},
      {"too short", Bytes(5, 'R'), -5},
  };
  for (auto& r : rows) {
    writeFile(path("w.wav"), r.file);
    EXPECT_EQ(ZT_StartPlayWaveFile(0, path("w.wav").c_str()), r.result) << r.what;
    ZT_StopPlayWaveFile(0);
  }
  EXPECT_EQ(ZT_StartPlayWaveFile(0, path("missing.wav").c_str()), -2);
  // A data chunk longer than the file plays what is there.
  Bytes cut = wave({{"fmt ", alaw}, {"fact", fact}, {"data", data}});
  cut.resize(cut.size() - 40);
  putWord(cut.data(), 4, static_cast<uint32_t>(cut.size() - 8 + 40));
  writeFile(path("w.wav"), cut);
  EXPECT_EQ(ZT_StartPlayWaveFile(0, path("w.wav").c_str()), 60);
}

TEST_F(VoiceTest, SentencePlaysItsPartsAndReportsTheEnd) {
  open();
  // Voices 2..18: each a file of 400 bytes of its own value.
  for (int i = 2; i <= 18; ++i) {
    std::string p = path("v" + std::to_string(i));
    writeFile(p, Bytes(400, static_cast<uint8_t>(i)));
    ASSERT_EQ(ZT_SetVoicei(i, p.c_str()), 1);
  }
  char s[64];
  ASSERT_EQ(ZT_MakeSentence(-12.5, s), 5);
  // Bytes of 1 are skipped.
  std::string withOnes = std::string("\x01") + s[0] + "\x01\x01" + (s + 1);
  EXPECT_EQ(ZT_PlaySentence(0, withOnes.c_str()), 5);
  EXPECT_EQ(ZT_PlaySentence(0, withOnes.c_str()), -1);
  EXPECT_EQ(ZT_GetLastError(), 11);
  std::vector<int> events;
  for (int t = 0; t < 40 && events.empty(); ++t)
    events = detectFor(0, 200);
  EXPECT_EQ(events, std::vector<int>{ZT_EV_SENTENCE_DONE});
  Bytes want;
  for (int idx : {18, 12, 4, 17, 7})
    want.insert(want.end(), 400, static_cast<uint8_t>(idx));
  EXPECT_EQ(box().takePlayed(0), want);
  EXPECT_FALSE(lib().ch[0].sentencePlaying.load());
  EXPECT_EQ(ZT_PlayFileRest(0), 0);

  // A part without a voice ends the sentence with event 20.
  ZT_SetVoicei(7, nullptr);
  EXPECT_EQ(ZT_PlaySentence(0, s), 5);
  events.clear();
  for (int t = 0; t < 40 && events.empty(); ++t)
    events = detectFor(0, 200);
  EXPECT_EQ(events, std::vector<int>{ZT_EV_SENTENCE_ERROR});
  EXPECT_EQ(ZT_PlaySentence(0, "\x07"), -1);  // cannot even start
  EXPECT_EQ(ZT_SetVoicei(255, "x"), 0);       // outside the table: ignored

  // Stopping a sentence stops its part.
  EXPECT_EQ(ZT_PlaySentence(0, "\x02\x03"), 2);
  EXPECT_EQ(ZT_StopPlaySentence(0), 0);
  EXPECT_FALSE(lib().ch[0].sentencePlaying.load());
  EXPECT_EQ(ZT_StartPlayFile(0, path("v2").c_str(), 0, 0), 400);
}

TEST_F(VoiceTest, SentenceGoesOnWithThePoller) {
  box().setRealTime(true);
  ASSERT_EQ(ZT_Installed(), 2);
  ASSERT_EQ(ZT_InitializeEx(1), 0);
  for (int i = 2; i <= 4; ++i) {
    std::string p = path("v" + std::to_string(i));
    writeFile(p, Bytes(800, static_cast<uint8_t>(i)));  // 100 ms each
    ZT_SetVoicei(i, p.c_str());
  }
  ASSERT_EQ(ZT_PlaySentence(0, "\x02\x03\x04"), 3);
  int ev[ZT_EVENT_WORDS];
  std::vector<int> got;
  for (int i = 0; i < 30; ++i)
    if (ZT_WaitForEvent(0, 200, ev) == 1) {
      got.push_back(ev[0]);
      if (ev[0] == ZT_EV_SENTENCE_DONE) break;
    }
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back(), ZT_EV_SENTENCE_DONE);
  for (int c : got)
    EXPECT_NE(c, ZT_EV_PLAY_DONE) << "parts of a sentence are not playbacks of their own";
  ZT_Disable();
  Bytes played = box().takePlayed(0);
  ASSERT_EQ(played.size(), 2400u);
  EXPECT_EQ(played[0], 2);
  EXPECT_EQ(played[2399], 4);
}

TEST_F(VoiceTest, PollerReportsMemoryPlayback) {
  open();
  Bytes data = pattern(3000);
  ASSERT_EQ(ZT_StartPlay(0, reinterpret_cast<const char*>(data.data()), 3000), 0);
  std::vector<int> got;
  for (int i = 0; i < 10; ++i) {
    box().advanceMs(200);
    voiceStep(0);
    for (int c : codes(drain(0)))
      got.push_back(c);
  }
  EXPECT_EQ(got, (std::vector<int>{ZT_EV_PLAY_PROGRESS, ZT_EV_PLAY_PROGRESS, ZT_EV_PLAY_DONE}));
  EXPECT_EQ(box().takePlayed(0), data);
}

TEST_F(VoiceTest, DeviceThatStopsAnsweringEndsTheOperation) {
  open();
  writeFile(path("a.voc"), pattern(20000));
  const int before = openFiles();
  ASSERT_EQ(ZT_StartPlayFile(0, path("a.voc").c_str(), 0, 0), 20000);
  ASSERT_EQ(ZT_StartRecordFile(0, path("r.voc").c_str(), 0, 20000), 0);
  box().advanceMs(100);
  box().setAnswering(false);
  EXPECT_EQ(ZT_PlayFileRest(0), -1);
  EXPECT_EQ(ZT_RecordFileRest(0), 0);
  EXPECT_EQ(lib().ch[0].recordResult.load(), -1);  // the poller reports event 17
  EXPECT_EQ(openFiles(), before) << "both files closed";
  box().setAnswering(true);
  // The channel is free again.
  EXPECT_EQ(ZT_StartPlayFile(0, path("a.voc").c_str(), 0, 100), 100);
}

TEST_F(VoiceTest, FailedRecordingStartRemovesTheFileItMade) {
  open();
  writeFile(path("old.voc"), Bytes(10, 'A'));
  const int before = openFiles();
  box().setDeviceFailure(kReqRecord, 5);
  EXPECT_EQ(ZT_StartRecordFile(0, path("new.voc").c_str(), 0, 100), -1);
  EXPECT_EQ(ZT_StartRecordWaveFile(0, path("new.wav").c_str()), -1);
  EXPECT_EQ(ZT_StartRecordFile(0, path("old.voc").c_str(), 0, 100), -1);
  EXPECT_EQ(::access(path("new.voc").c_str(), F_OK), -1);
  EXPECT_EQ(::access(path("new.wav").c_str(), F_OK), -1);
  EXPECT_EQ(readFile(path("old.voc")), Bytes(10, 'A'));  // kept as it was
  EXPECT_EQ(openFiles(), before);
  box().setDeviceFailure(-1, 0);
  EXPECT_EQ(ZT_StartRecordFile(0, path("old.voc").c_str(), 0, 100), 10);
}

TEST_F(VoiceTest, ConversationRecordingAveragesBothChannels) {
  open();
  const uint8_t a = alawEncode13(1000), b = alawEncode13(-200);
  Bytes va(40000, a), vb(40000, b);
  box().feedVoice(0, va.data(), va.size());
  box().feedVoice(1, vb.data(), vb.size());
  ASSERT_EQ(ZT_DStartRecordFile(0, 1, path("talk.voc").c_str()), 0);
  EXPECT_EQ(ZT_StartRecord(1, reinterpret_cast<char*>(vb.data()), 10), -1);
  EXPECT_EQ(ZT_GetLastError(), 9);
  int written = 0;
  for (int i = 0; i < 50; ++i) {
    box().advanceMs(100);
    written = ZT_DRecordFileRest(0);
    ASSERT_GE(written, 0);
  }
  EXPECT_GT(written, 32000);  // buffers switched at least once
  EXPECT_EQ(ZT_DStopRecordFile(0), 40000);
  Bytes f = readFile(path("talk.voc"));
  ASSERT_EQ(f.size(), 40000u);
  const uint8_t mixed = alawEncode13((alawDecode13(a) + alawDecode13(b)) / 2);
  EXPECT_EQ(std::count(f.begin(), f.end(), mixed), 40000);
  // Both channels are free again.
  EXPECT_EQ(ZT_StartRecord(1, reinterpret_cast<char*>(vb.data()), 10), 0);
  EXPECT_EQ(ZT_DStartRecordFile(0, 0, path("x").c_str()), -1);
}

}  // namespace
}  // namespace parvane_test
