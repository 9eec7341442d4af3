#include "hardware/simulator.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "hardware/chanrecord.h"
#include "hardware/voice_file.h"
#include "platform/bytes.h"
#include "platform/gbk.h"
#include "platform/ini.h"
#include "platform/winpath.h"

namespace hardware {

Settings readSettings(const std::string& path) {
  platform::IniFile ini(path);
  Settings s;
  s.simulated = ini.getInt("System", "callintype", 1) == 0;
  s.indexDir = ini.getString("Hardware", "indexdir", s.indexDir);
  for (int ch = 0; ch < kSimulatedChannels; ++ch) {
    const std::string sec = "Out" + std::to_string(ch);
    LineSettings l;
    l.inner = ini.getInt(sec, "linetype", 1) == CHAN_TYPE_INNER;
    l.voiceMail = ini.getInt(sec, "voicemail", 0) == 1;
    l.forward = platform::utf8ToGbk(ini.getString(sec, "forward", ""));
    s.lines.push_back(l);
  }
  return s;
}

Simulator::~Simulator() {
  for (auto& line : lines_)
    finishRecording(line);
}

int Simulator::reset(const Settings& s) {
  for (auto& line : lines_)
    finishRecording(line);
  settings_ = s;
  lines_.assign(s.simulated ? kSimulatedChannels : 0, Line{});
  for (size_t ch = 0; ch < lines_.size() && ch < s.lines.size(); ++ch)
    lines_[ch].inner = s.lines[ch].inner;
  lastReported_ = -1;
  soundOpens_ = 0;
  return channelCount();
}

int Simulator::channelType(int ch) const {
  if (!valid(ch)) return 0;
  return lines_[ch].inner ? CHAN_TYPE_INNER : CHAN_TYPE_OUTER;
}

int Simulator::outLineStatus(int ch) {
  if (!valid(ch) || lines_[ch].inner) return kStatusIdle;
  Line& line = lines_[ch];
  pumpRecording(line);
  switch (line.state) {
    case State::kIdle:
      return kStatusIdle;
    case State::kRinging:
      line.reported = true;
      lastReported_ = ch;
      return kStatusRinging;
    case State::kTalking:
      return kStatusTalking;
    case State::kHungUp:
      return kStatusHungUp;
  }
  return kStatusIdle;
}

int Simulator::inLineStatus(int ch) {
  if (!valid(ch)) return -1;
  if (!lines_[ch].inner) return 0;  // an outer line has no handset to report
  publishExtension(ch);
  return lines_[ch].handsetUp ? CTI_IN_OFF_HOOK : CTI_IN_HUNG_UP;
}

void Simulator::publishExtension(int ch) {
  if (!table_ || static_cast<size_t>(ch) >= settings_.lines.size()) return;
  const LineSettings& l = settings_.lines[ch];
  unsigned char* rec = table_ + static_cast<size_t>(ch) * CHAN_RECORD_SIZE;
  auto setState = [&](int16_t v) {
    platform::putI16(std::span<uint8_t>(rec, CHAN_RECORD_SIZE), CHAN_OFF_LINE_STATE, v);
  };
  if (!l.forward.empty()) {
    setState(CHAN_LINE_FORWARD);
    std::memset(rec + CHAN_OFF_FORWARD, 0, CHAN_FORWARD_SIZE);
    std::memcpy(rec + CHAN_OFF_FORWARD, l.forward.data(),
                std::min<size_t>(l.forward.size(), CHAN_FORWARD_SIZE - 1));
  } else if (l.voiceMail) {
    setState(CHAN_LINE_VOICE_MAIL);
  }
}

int Simulator::callInNum(int ch, char* num20) const {
  if (!num20) return -1;
  num20[0] = '\0';
  if (!valid(ch)) return -1;
  const std::string& c = lines_[ch].caller;
  size_t n = std::min<size_t>(c.size(), CHAN_NUMBER_SIZE - 1);
  std::memcpy(num20, c.data(), n);
  num20[n] = '\0';
  return 0;
}

void Simulator::answer(Line& line) {
  if (line.state == State::kRinging) line.state = State::kTalking;
}

int Simulator::offHook(int ch) {
  if (!valid(ch)) return -1;
  Line& line = lines_[ch];
  // Seizing an idle line (to dial out) also leaves it talking.
  if (line.state == State::kRinging || line.state == State::kIdle) line.state = State::kTalking;
  return 0;
}

int Simulator::onHook(int ch) {
  if (!valid(ch)) return -1;
  Line& line = lines_[ch];
  int rc = finishRecording(line);
  line.play = Playback{};
  line.keys.clear();
  line.caller.clear();
  line.state = State::kIdle;
  line.reported = false;
  if (lastReported_ == ch) lastReported_ = -1;
  return rc;
}

int Simulator::flushKeys(int ch) {
  if (!valid(ch)) return -1;
  lines_[ch].keys.clear();
  return 0;
}

int Simulator::getKey(int ch, int* key) {
  if (!valid(ch) || !key) return -1;
  Line& line = lines_[ch];
  pumpRecording(line);
  if (line.keys.empty()) return 1;
  *key = static_cast<unsigned char>(line.keys.front());
  line.keys.pop_front();
  return 0;
}

int Simulator::startPlayback(Line& line, const std::string& linuxPath, bool repeat) {
  VoiceLength v = measureVoiceFile(linuxPath);
  if (v.status != VoiceStatus::kOk) return -1;
  answer(line);
  line.play.active = true;
  line.play.repeat = repeat;
  line.play.start = clock_->ticks();
  line.play.durationMs = v.durationMs;
  return 0;
}

int Simulator::playFile(int ch, const char* gbkPath) {
  if (!valid(ch) || !gbkPath || !*gbkPath) return -1;
  Line& line = lines_[ch];
  line.play = Playback{};
  return startPlayback(line, platform::openablePath(gbkPath), false);
}

int Simulator::playIndex(int ch, int index, bool repeat) {
  if (!valid(ch) || index < 0) return -1;
  Line& line = lines_[ch];
  line.play = Playback{};
  std::string dir = settings_.indexDir;
  if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
  return startPlayback(line, platform::openableUtf8Path(dir + std::to_string(index) + ".voc"),
                       repeat);
}

int Simulator::playFinished(int ch) {
  if (!valid(ch)) return 0;
  Line& line = lines_[ch];
  pumpRecording(line);
  Playback& p = line.play;
  if (p.active && !p.repeat && elapsed(p.start) >= p.durationMs) p.active = false;
  if (line.rec.fd >= 0 && line.rec.error != 0) return kSoundError;
  return p.active ? CTI_PLAY_PLAYING : CTI_PLAY_FINISHED;
}

int Simulator::stopPlay(int ch) {
  if (!valid(ch)) return -1;
  lines_[ch].play = Playback{};
  return 0;
}

void Simulator::pumpRecording(Line& line) {
  Recording& r = line.rec;
  if (r.fd < 0 || r.error != 0) return;
  uint64_t due = uint64_t{elapsed(r.start)} * (kAlawBytesPerSecond / 1000);
  static const auto kSilence = [] {
    std::array<unsigned char, 4096> a;
    a.fill(kAlawSilence);
    return a;
  }();
  while (r.written < due) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(due - r.written, kSilence.size()));
    ssize_t w = ::write(r.fd, kSilence.data(), n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      // A full disk (ENOSPC), a file-size limit (EFBIG), an I/O error: the
      // recording stops growing and the line reports it until it is stopped.
      r.error = w < 0 ? errno : EIO;
      return;
    }
    r.written += static_cast<uint64_t>(w);
  }
}

int Simulator::finishRecording(Line& line) {
  Recording& r = line.rec;
  if (r.fd < 0) return 0;
  pumpRecording(line);
  int error = r.error;
  if (::close(r.fd) != 0 && error == 0) error = errno;
  r = Recording{};
  return -error;
}

int Simulator::recordFile(int ch, const char* gbkPath) {
  if (!valid(ch) || !gbkPath || !*gbkPath) return -1;
  Line& line = lines_[ch];
  finishRecording(line);
  int fd = openVoiceFile(platform::openablePath(gbkPath), true);
  if (fd < 0) return -1;
  answer(line);
  line.rec.fd = fd;
  line.rec.start = clock_->ticks();
  return 0;
}

int Simulator::stopRecord(int ch) {
  if (!valid(ch)) return -1;
  return finishRecording(lines_[ch]);
}

int Simulator::ringIn(int ch, int ring) {
  if (!valid(ch)) return -1;
  lines_[ch].requests.ringing = true;
  lines_[ch].requests.ringValue = ring;
  return 0;
}

int Simulator::stopRingIn(int ch) {
  if (!valid(ch)) return -1;
  lines_[ch].requests.ringing = false;
  return 0;
}

int Simulator::connect(int ch1, int ch2) {
  if (!valid(ch1) || !valid(ch2)) return -1;
  lines_[ch1].requests.connectedTo = ch2;
  lines_[ch2].requests.connectedTo = ch1;
  return 0;
}

int Simulator::callOut(int ch, const char* number) {
  if (!valid(ch) || !number) return -1;
  lines_[ch].requests.dialled.assign(number, ::strnlen(number, kCallOutNumberMax));
  return 0;
}

// The sound device is shared by all simulated lines and has no channel
// argument: the runtime opens it right after it saw a line ringing, so it
// answers that line.
int Simulator::openSound() {
  ++soundOpens_;
  if (lastReported_ >= 0 && valid(lastReported_)) answer(lines_[lastReported_]);
  lastReported_ = -1;
  return 0;
}

int Simulator::closeSound() {
  return 0;
}

void Simulator::hangUpLine(Line& line) {
  finishRecording(line);
  if (line.state == State::kRinging && !line.reported) {
    line.state = State::kIdle;
    line.keys.clear();
    line.caller.clear();
  } else {
    line.state = State::kHungUp;
  }
}

int Simulator::inject(int ch, int key) {
  if (!valid(ch)) return -1;
  Line& line = lines_[ch];
  if (line.inner) {
    // KeyCall plays the extension's user: lift, replace, press keys.
    if (key == 'B') {
      line.handsetUp = true;
      line.requests.ringing = false;  // answered
    } else if (key == 'E') {
      line.handsetUp = false;
      line.keys.clear();
    } else if (line.handsetUp && line.keys.size() < kKeyQueueMax &&
               ((key >= '0' && key <= '9') || key == '*' || key == '#')) {
      line.keys.push_back(static_cast<char>(key));
    } else {
      return -1;
    }
    return 0;
  }
  if (key == 'B') {
    if (line.state != State::kIdle) return -1;
    line.state = State::kRinging;
    line.reported = false;
    line.keys.clear();
    line.caller.clear();
    // The caller number of a simulated call is the runtime's: its KeyCall
    // receiver keeps it and stores it in the channel record from the scan
    // thread. The library never reads the shared record from the KeyCall
    // thread, where the scan thread may be writing it.
    return 0;
  }
  if (key == 'E') {
    if (line.state != State::kRinging && line.state != State::kTalking) return -1;
    hangUpLine(line);
    return 0;
  }
  bool isKey = (key >= '0' && key <= '9') || key == '*' || key == '#';
  if (!isKey) return -1;
  if (line.state != State::kRinging && line.state != State::kTalking) return -1;
  if (line.keys.size() >= kKeyQueueMax) return -1;
  line.keys.push_back(static_cast<char>(key));
  return 0;
}

LineRequests Simulator::requests(int ch) const {
  return valid(ch) ? lines_[ch].requests : LineRequests{};
}

}  // namespace hardware
