#include "hardware/telephone_lines.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

#include "hardware/chanrecord.h"
#include "hardware/cti_contract.h"
#include "hardware/simulator.h"
#include "hardware/voice_file.h"
#include "platform/winpath.h"
#include "voicebox/zt_api.h"

namespace hardware {

namespace {

// A caller who stops ringing for longer than a ring period and a half has
// gone away (the box rings once every five seconds).
constexpr auto kRingGoneAfter = std::chrono::milliseconds(6500);
constexpr int kCallerIdMax = 64;
// The box's last error for "nothing to play after the offset": an empty
// file, which plays as a finished playback.
constexpr int kErrNothingToPlay = 8;

bool isKey(char c) {
  return (c >= '0' && c <= '9') || c == '*' || c == '#';
}

bool isWave(const std::string& linuxPath) {
  int fd = openVoiceFile(linuxPath, false);
  if (fd < 0) return false;
  char h[12] = {};
  bool wave = ::pread(fd, h, sizeof h, 0) == 12 && std::memcmp(h, "RIFF", 4) == 0 &&
              std::memcmp(h + 8, "WAVE", 4) == 0;
  ::close(fd);
  return wave;
}

bool endsWithWav(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  for (char& c : ext)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".wav";
}

}  // namespace

int TelephoneLines::open(const std::string& indexDir) {
  for (int ch = 0; ch < channelCount(); ++ch)
    reset(ch);
  lines_.clear();
  indexDir_ = indexDir;
  int n = ZT_Installed();
  if (n <= 0) return 0;
  if (ZT_InitializeEx(1) != 0) return 0;
  lines_.assign(static_cast<size_t>(n), Line{});
  for (int ch = 0; ch < n; ++ch) {
    lines_[ch].type = ZT_ChannelType(ch);
    if (outer(ch)) ZT_HangUpCtrl(ch);
    ZT_FlushDTMF(ch);
    ZT_ClearEvent(ch);
  }
  return n;
}

int TelephoneLines::outerCount() const {
  int n = 0;
  for (int ch = 0; ch < channelCount(); ++ch)
    n += outer(ch) ? 1 : 0;
  return n;
}

int TelephoneLines::innerCount() const {
  int n = 0;
  for (int ch = 0; ch < channelCount(); ++ch)
    n += inner(ch) ? 1 : 0;
  return n;
}

void TelephoneLines::takeDigits(Line& line, const char* digits) {
  for (const char* p = digits; *p; ++p) {
    const char d = *p;
    // A DTMF caller ID arrives before the first ring, framed by D and C.
    const bool awaitingCall =
        line.state == State::kIdle || (line.state == State::kRinging && !line.callerKnown);
    if (line.type != 0 && awaitingCall) {
      if (d == 'D') {
        line.inCidDigits = true;
        line.caller.clear();
        continue;
      }
      if (line.inCidDigits) {
        if (d == 'C') {
          line.inCidDigits = false;
          line.callerKnown = true;
        } else if (line.caller.size() < kCallerIdMax) {
          line.caller.push_back(d);
        }
        continue;
      }
    }
    if (!isKey(d) || line.keys.size() >= kKeyQueueMax) continue;
    if (line.type == 0 || line.state == State::kRinging || line.state == State::kTalking)
      line.keys.push_back(d);
  }
}

void TelephoneLines::pump(int ch) {
  Line& line = lines_[ch];
  std::array<int, ZT_EVENT_WORDS> e{};
  while (ZT_GetEvent(ch, e.data()) == 1) {
    switch (e[0]) {
      case ZT_EV_RING:
        if (line.state == State::kIdle) {
          line.state = State::kRinging;
          line.reported = false;
          line.keys.clear();
          if (!line.callerKnown) line.caller.clear();
        }
        line.rings = e[2];
        line.lastRing = Clock::now();
        break;
      case ZT_EV_DTMF: {
        char text[(ZT_EVENT_WORDS - 2) * sizeof(int) + 1] = {};
        std::memcpy(text, &e[2], sizeof text - 1);
        takeDigits(line, text);
        break;
      }
      case ZT_EV_FAR_HANGUP:
      case ZT_EV_BUSY:
      case ZT_EV_NO_ANSWER:
        if (line.state == State::kTalking) {
          line.state = State::kHungUp;
          line.dialling = false;
          // What the caller said is kept; nothing more comes.
          finishRecording(ch);
        }
        break;
      case ZT_EV_ANSWERED:
        line.dialling = false;
        break;
      case ZT_EV_PLAY_DONE:
        line.playDone = true;
        break;
      case ZT_EV_PLAY_ERROR:
        line.playDone = true;
        line.playError = line.play != Play::kNone;
        break;
      default:
        break;
    }
  }
  if (line.state == State::kRinging) {
    if (!line.callerKnown) {
      char id[128] = {};
      int n = ZT_ReceiveCallingID(ch, id, sizeof id - 1);
      if (n > 0) {
        line.caller.clear();
        for (int i = 0; i < n && i < kCallerIdMax && id[i]; ++i)
          if (isKey(id[i])) line.caller.push_back(id[i]);
        line.callerKnown = true;
      }
    }
    if (Clock::now() - line.lastRing > kRingGoneAfter) {
      // The caller gave up before anyone answered.
      if (line.reported) {
        line.state = State::kHungUp;
      } else {
        line.state = State::kIdle;
        line.caller.clear();
        line.callerKnown = false;
        line.keys.clear();
      }
    }
  }
  if (line.recording && !line.recordFailed && ZT_RecordFileRest(ch) < 0) line.recordFailed = true;
}

int TelephoneLines::channelType(int ch) const {
  if (outer(ch)) return CHAN_TYPE_OUTER;
  if (inner(ch)) return CHAN_TYPE_INNER;
  return 0;
}

int TelephoneLines::outLineStatus(int ch) {
  if (!outer(ch)) return CTI_OUT_IDLE;
  pump(ch);
  Line& line = lines_[ch];
  switch (line.state) {
    case State::kIdle:
      return CTI_OUT_IDLE;
    case State::kRinging:
      if (!line.callerKnown && line.rings < 2) return CTI_OUT_IDLE;
      line.reported = true;
      return CTI_OUT_INCOMING;
    case State::kTalking:
      return CTI_OUT_TALKING;
    case State::kHungUp:
      return CTI_OUT_HUNG_UP;
  }
  return CTI_OUT_IDLE;
}

int TelephoneLines::inLineStatus(int ch) {
  if (!valid(ch)) return -1;
  if (!inner(ch)) return 0;
  pump(ch);
  return ZT_OffHookDetect(ch) == 1 ? CTI_IN_OFF_HOOK : CTI_IN_HUNG_UP;
}

int TelephoneLines::callInNum(int ch, char* num20) const {
  if (!num20) return -1;
  num20[0] = '\0';
  if (!valid(ch)) return -1;
  const std::string& c = lines_[ch].caller;
  size_t n = std::min<size_t>(c.size(), CHAN_NUMBER_SIZE - 1);
  std::memcpy(num20, c.data(), n);
  num20[n] = '\0';
  return 0;
}

int TelephoneLines::offHook(int ch) {
  if (!outer(ch)) return -1;
  pump(ch);
  Line& line = lines_[ch];
  if (line.state == State::kHungUp) return 0;
  const bool answering = line.state == State::kRinging;
  if (ZT_OffHookCtrl(ch) == 0) return -1;
  // An answered call is watched for the busy tone of the far end hanging up.
  if (answering) ZT_SetMonitorCalled(ch, 1);
  line.state = State::kTalking;
  return 0;
}

void TelephoneLines::reset(int ch) {
  stopPlayback(ch);
  finishRecording(ch);
  Line& line = lines_[ch];
  if (line.dialling) ZT_StopDial(ch);
  if (line.connectedTo >= 0) {
    ZT_Disconnect(ch);
    if (valid(line.connectedTo)) lines_[line.connectedTo].connectedTo = -1;
  }
  const int type = line.type;
  line = Line{};
  line.type = type;
}

int TelephoneLines::onHook(int ch) {
  if (!valid(ch)) return -1;
  int rc = finishRecording(ch);
  reset(ch);
  if (outer(ch)) ZT_HangUpCtrl(ch);
  ZT_FlushDTMF(ch);
  return rc;
}

int TelephoneLines::flushKeys(int ch) {
  if (!valid(ch)) return -1;
  pump(ch);
  lines_[ch].keys.clear();
  return 0;
}

int TelephoneLines::getKey(int ch, int* key) {
  if (!valid(ch) || !key) return -1;
  pump(ch);
  Line& line = lines_[ch];
  if (line.keys.empty()) return 1;
  *key = static_cast<unsigned char>(line.keys.front());
  line.keys.pop_front();
  return 0;
}

void TelephoneLines::stopPlayback(int ch) {
  Line& line = lines_[ch];
  if (line.play == Play::kWave) ZT_StopPlayWaveFile(ch);
  if (line.play == Play::kRaw) ZT_StopPlayFile(ch);
  line.play = Play::kNone;
  line.playDone = true;
  line.playError = false;
  line.repeat = false;
}

int TelephoneLines::startPlayback(int ch, const std::string& linuxPath, bool repeat) {
  stopPlayback(ch);
  Line& line = lines_[ch];
  // Only a regular file: opening a FIFO would hold the line until a peer came.
  int fd = openVoiceFile(linuxPath, false);
  if (fd < 0) return -1;
  ::close(fd);
  const bool wave = isWave(linuxPath);
  int rc = wave ? ZT_StartPlayWaveFile(ch, linuxPath.c_str())
                : ZT_StartPlayFile(ch, linuxPath.c_str(), 0, 0);
  if (rc < 0) {
    if (rc == -1 && ZT_GetLastError() == kErrNothingToPlay) return 0;  // empty: done at once
    return -1;
  }
  line.play = wave ? Play::kWave : Play::kRaw;
  line.playDone = false;
  line.playError = false;
  line.repeat = repeat;
  line.playPath = linuxPath;
  return 0;
}

int TelephoneLines::playFile(int ch, const char* gbkPath) {
  if (!valid(ch) || !gbkPath || !*gbkPath) return -1;
  pump(ch);
  return startPlayback(ch, platform::openablePath(gbkPath), false);
}

int TelephoneLines::playIndex(int ch, int index, bool repeat) {
  if (!valid(ch) || index < 0) return -1;
  pump(ch);
  std::string dir = indexDir_;
  if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
  return startPlayback(ch, platform::openableUtf8Path(dir + std::to_string(index) + ".voc"),
                       repeat);
}

int TelephoneLines::playFinished(int ch) {
  if (!valid(ch)) return CTI_PLAY_FINISHED;
  pump(ch);
  Line& line = lines_[ch];
  if (line.recording && line.recordFailed) return CTI_PLAY_ERROR;
  if (line.play == Play::kNone) return CTI_PLAY_FINISHED;
  if (!line.playDone) {
    // The poller feeds the box; asking here as well notices the end within
    // one poll of the runtime rather than one pass of the poller.
    int rest = line.play == Play::kWave ? ZT_PlayWaveFileRest(ch) : ZT_PlayFileRest(ch);
    if (rest < 0) line.playError = true;
    if (rest <= 0) line.playDone = true;
  }
  if (!line.playDone) return CTI_PLAY_PLAYING;
  if (line.playError) return CTI_PLAY_ERROR;
  if (line.repeat) {
    std::string path = line.playPath;
    if (startPlayback(ch, path, true) == 0) return CTI_PLAY_PLAYING;
    return CTI_PLAY_ERROR;
  }
  line.play = Play::kNone;
  return CTI_PLAY_FINISHED;
}

int TelephoneLines::stopPlay(int ch) {
  if (!valid(ch)) return -1;
  stopPlayback(ch);
  return 0;
}

int TelephoneLines::finishRecording(int ch) {
  Line& line = lines_[ch];
  if (!line.recording) return 0;
  if (!line.recordFailed && ZT_RecordFileRest(ch) < 0) line.recordFailed = true;
  ZT_StopRecordFile(ch);
  const bool failed = line.recordFailed;
  line.recording = false;
  line.recordFailed = false;
  return failed ? -EIO : 0;
}

int TelephoneLines::recordFile(int ch, const char* gbkPath) {
  if (!valid(ch) || !gbkPath || !*gbkPath) return -1;
  pump(ch);
  finishRecording(ch);
  const std::string path = platform::openablePath(gbkPath);
  // Refuses what is not a regular file and empties an old recording; the box
  // writes from the start and cuts the file at its last byte.
  int fd = openVoiceFile(path, true);
  if (fd < 0) return -1;
  ::close(fd);
  int rc = endsWithWav(path) ? ZT_StartRecordWaveFile(ch, path.c_str())
                             : ZT_StartRecordFile(ch, path.c_str(), 0, INT_MAX);
  if (rc < 0) return -1;
  lines_[ch].recording = true;
  lines_[ch].recordFailed = false;
  return 0;
}

int TelephoneLines::stopRecord(int ch) {
  if (!valid(ch)) return -1;
  return finishRecording(ch);
}

int TelephoneLines::ringIn(int ch, int ring) {
  if (!inner(ch)) return -1;
  // The caller shown is the one on the box's line (a box has one).
  std::string number;
  for (int o = 0; o < channelCount(); ++o)
    if (outer(o) && lines_[o].state == State::kTalking) {
      number = lines_[o].caller;
      break;
    }
  if (number.empty()) return ZT_RingCtrl(ch) < 0 ? -1 : 0;
  return ZT_SendCID_Ring(ch, ring == 1 ? 0 : 1, number.c_str()) == 1 ? 0 : -1;
}

int TelephoneLines::stopRingIn(int ch) {
  if (!inner(ch)) return -1;
  // A new sender of no mode ends the one that rings the set, and itself at once.
  ZT_SendCID_Ring(ch, 0x0F, "");
  ZT_PowerCtrl(ch);
  return 0;
}

int TelephoneLines::connect(int ch1, int ch2) {
  if (!valid(ch1) || !valid(ch2) || ch1 == ch2) return -1;
  if (ZT_ConnectChannels(ch1, ch2) < 0) return -1;
  lines_[ch1].connectedTo = ch2;
  lines_[ch2].connectedTo = ch1;
  return 0;
}

int TelephoneLines::callOut(int ch, const char* number) {
  if (!outer(ch) || !number) return -1;
  std::string digits;
  for (size_t i = 0; i < kCallOutNumberMax && number[i]; ++i)
    if (isKey(number[i]) || (number[i] >= 'A' && number[i] <= 'D')) digits.push_back(number[i]);
  if (digits.empty()) return -1;
  Line& line = lines_[ch];
  if (line.state == State::kIdle) {
    if (ZT_OffHookCtrl(ch) == 0) return -1;
    line.state = State::kTalking;
  }
  ZT_SetSendMode(ch, 0);
  if (ZT_StartDial(ch, digits.c_str()) < 0) return -1;
  // Call progress: the far end answering, busy or not answering.
  ZT_SetMonitorCalled(ch, 0);
  line.dialling = true;
  return 0;
}

// Keys are pressed at the far end of a real line, not injected.
int TelephoneLines::inject(int, int) {
  return -1;
}

}  // namespace hardware
