#include "voicebox/virtual_box.h"

#include "voicebox/alaw.h"
#include "voicebox/library.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <sstream>

namespace parvane {
namespace {

int64_t steadyUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Device errors the box reports in w0 of a failed request.
constexpr int32_t kDevBadChannel = 4;
constexpr int32_t kDevBadParameter = 5;
constexpr int32_t kDevUnknownRequest = 1;

// Played voice kept for reading back; the oldest goes first beyond this.
constexpr size_t kPlayedLogMax = 16u << 20;
constexpr size_t kDtmfMax = 1024;
constexpr size_t kDriverBuffer = 8192;

}  // namespace

std::vector<uint8_t> callerIdMessage(const std::string& number, int month, int day, int hour,
                                     int minute) {
  std::vector<uint8_t> m;
  m.push_back(0x04);
  m.push_back(static_cast<uint8_t>(8 + number.size()));
  for (int v : {month, day, hour, minute}) {
    m.push_back(static_cast<uint8_t>('0' + (v / 10) % 10));
    m.push_back(static_cast<uint8_t>('0' + v % 10));
  }
  for (char c : number)
    m.push_back(static_cast<uint8_t>(c));
  unsigned sum = 0;
  for (uint8_t b : m)
    sum += b;
  m.push_back(static_cast<uint8_t>(-sum & 0xFF));
  return m;
}

VirtualBox::VirtualBox() {
  reset();
}

void VirtualBox::reset(bool realTime) {
  std::lock_guard lock(m_);
  for (auto& c : ch_)
    c = Channel{};
  ch_[0].type = 1;
  ch_[1].type = 0;
  ch_[1].relay = 0;  // a local set starts powered, not ringing
  sysPara_.assign(kSysParaWords, 0);
  // Tone limits in 40 ms units: cadence windows the box's detector uses.
  const int32_t limits[15] = {0, 100, 0, 20, 0, 10, 50, 20, 0, 60, 120, 20, 0, 150, 250};
  for (int i = 1; i <= 14; ++i)
    sysPara_[i] = limits[i];
  sysPara_[kSysParaChannelsWord] = kVirtualChannels;
  nowUs_ = 0;
  realTime_ = realTime;
  realBaseUs_ = 0;
  realBaseSteadyUs_ = steadyUs();
  answering_ = true;
  failRequest_ = -1;
  failError_ = 0;
  timeInterval_ = 16;
}

VirtualBox& virtualBox() {
  // Never destroyed: the poller may still ask it while the program exits.
  static NoDestroy<VirtualBox> box;
  return box.get();
}

// ---- device time ----

void VirtualBox::syncLocked() {
  if (!realTime_) return;
  int64_t target = realBaseUs_ + (steadyUs() - realBaseSteadyUs_);
  if (target > nowUs_) advanceToLocked(target);
}

int64_t VirtualBox::nowUs() {
  std::lock_guard lock(m_);
  syncLocked();
  return nowUs_;
}

void VirtualBox::advanceMs(int64_t ms) {
  std::lock_guard lock(m_);
  syncLocked();
  if (ms <= 0) return;
  advanceToLocked(nowUs_ + ms * 1000);
  // Real time goes on from the new device time.
  realBaseUs_ = nowUs_;
  realBaseSteadyUs_ = steadyUs();
}

void VirtualBox::setRealTime(bool on) {
  std::lock_guard lock(m_);
  syncLocked();
  realTime_ = on;
  realBaseUs_ = nowUs_;
  realBaseSteadyUs_ = steadyUs();
}

bool VirtualBox::realTime() {
  std::lock_guard lock(m_);
  return realTime_;
}

// Voice moves a whole sample (one A-law byte) per 125 us of device time.
void VirtualBox::advanceToLocked(int64_t us) {
  uint64_t samples = static_cast<uint64_t>(us / 125 - nowUs_ / 125);
  nowUs_ = us;
  if (samples == 0) return;
  for (auto& c : ch_) {
    const bool echo = !c.echoTaps.empty();
    for (uint64_t i = 0; i < samples; ++i) {
      uint8_t played = kAlawSilence;
      if (c.playing && !c.playQueue.empty()) {
        played = c.playQueue.front();
        c.playQueue.pop_front();
        c.playedLog.push_back(played);
        ++c.playedSinceStart;
      }
      uint8_t heard = kAlawSilence;
      if (!c.captured.empty()) {
        heard = c.captured.front();
        c.captured.pop_front();
      }
      if (echo) {
        c.echoPos = (c.echoPos + 1) % c.echoHistory.size();
        c.echoHistory[c.echoPos] = alawDecode(played);
        double v = alawDecode(heard);
        const size_t n = c.echoHistory.size();
        for (size_t k = 0; k < c.echoTaps.size(); ++k)
          v += c.echoTaps[k] * c.echoHistory[(c.echoPos + n - k) % n];
        heard = alawEncodeClamped(static_cast<int>(std::lround(v)));
      }
      // Voice heard while nobody records is heard by nobody.
      if (!c.recording) continue;
      if (c.recorded.size() < c.recordSize) {
        c.recorded.push_back(heard);
        c.recordedPlayed.push_back(played);
      } else {
        ++c.recordOverrun;
      }
    }
    if (c.playedLog.size() > kPlayedLogMax)
      c.playedLog.erase(c.playedLog.begin(),
                        c.playedLog.begin() + (c.playedLog.size() - kPlayedLogMax));
  }
}

// Rings begun so far of the incoming call; the caller gives up four seconds
// after the last ring.
int VirtualBox::ringCountLocked(Channel& c) {
  if (!c.callActive || c.callAnswered) return 0;
  int64_t t = nowUs_ - c.callStartUs;
  int begun = static_cast<int>(t / kRingPeriodUs) + 1;
  if (begun > c.callTimes) {
    endCallLocked(c);
    return 0;
  }
  if (!c.cidDelivered && c.cidMode == CallerIdMode::kFsk && t >= kRingOnUs + 500'000)
    c.cidDelivered = true;
  return begun;
}

int VirtualBox::digitsSentLocked(Channel& c) {
  if (!c.dialling) return 0;
  int64_t sent = (nowUs_ - c.dialStartUs) / c.digitUs;
  return static_cast<int>(std::min<int64_t>(sent, static_cast<int64_t>(c.dialDigits.size())));
}

// FSK goes out at 1200 bits a second, ten bits a byte.
int VirtualBox::fskLeftLocked(Channel& c) {
  if (!c.fskSending) return 0;
  int64_t sent = (nowUs_ - c.fskStartUs) * 120 / 1'000'000;
  int64_t left = static_cast<int64_t>(c.fskData.size()) - sent;
  if (left <= 0) {
    c.fskSentLog.insert(c.fskSentLog.end(), c.fskData.begin(), c.fskData.end());
    c.fskData.clear();
    c.fskSending = false;
    return 0;
  }
  return static_cast<int>(left);
}

void VirtualBox::endCallLocked(Channel& c) {
  c.callActive = false;
  c.callAnswered = false;
  c.cidDelivered = false;
  c.farAnswered = false;
  c.tone = Tone::kNone;
}

// ---- requests ----

int VirtualBox::handle(uint32_t control, uint8_t* block) {
  std::lock_guard lock(m_);
  syncLocked();
  int code = requestCode(control);
  if (code < 0) {
    putInt(block, kW0, kDevUnknownRequest);
    return -1;
  }
  if (code == failRequest_) {
    putInt(block, kW0, failError_);
    return -1;
  }
  int rc = serveLocked(code, block);
  if (rc == 0 && answering_) putWord(block, kW6, kMarkerServed);
  return rc;
}

int VirtualBox::serveLocked(int code, uint8_t* b) {
  auto fail = [&](int32_t err) {
    putInt(b, kW0, err);
    return -1;
  };
  auto channelOf = [&](int offset) -> Channel* {
    int n = getInt(b, offset);
    return n >= 0 && n < kVirtualChannels ? &ch_[n] : nullptr;
  };
  auto reply = [&](int32_t w0) {
    putInt(b, kW0, w0);
    return 0;
  };
  auto replyIfAsked = [&](int32_t w0) {
    putInt(b, kW0, w0);
    putInt(b, kW8, 1);
    return 0;
  };
  uint8_t* buf = static_cast<uint8_t*>(getAddress(b));

  switch (code) {
    case kReqInit:
    case kReqDisable:
      return reply(0);
    case kReqChannelType: {
      Channel* c = channelOf(kW1);
      return c ? reply(c->type) : fail(kDevBadChannel);
    }
    case kReqHookRing: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      if (c->type == 0) return reply(c->handsetUp ? 0 : 1);
      putInt(b, kW2, ringCountLocked(*c));
      return reply(0);
    }
    case kReqRelay: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      int relay = getInt(b, kW0) ? 1 : 0;
      if (c->type == 0) {
        if (relay == 1 && c->relay == 0 && !c->handsetUp) {
          c->setRinging = true;
          c->setRingStartUs = nowUs_;
        }
        if (relay == 0) c->setRinging = false;
      } else if (relay == 0 && c->relay == 1) {
        // Seizing the line answers a ringing call, or starts an outgoing one.
        if (c->callActive && ringCountLocked(*c) > 0) c->callAnswered = true;
        c->dialledSinceSeize = false;
      } else if (relay == 1 && c->relay == 0) {
        endCallLocked(*c);
        c->dialling = false;
      }
      c->relay = relay;
      return reply(0);
    }
    case kReqSysPara: {
      if (!buf || getInt(b, kW2) < kSysParaBytes) return fail(kDevBadParameter);
      for (int i = 0; i < kSysParaWords; ++i)
        putInt(buf + 4 * i, 0, sysPara_[i]);
      putInt(b, kW2, kSysParaBytes);
      return reply(0);
    }
    case kReqRecord: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      int size = getInt(b, kW2);
      if (size < 0) return fail(kDevBadParameter);
      c->recording = size > 0;
      c->recordSize = static_cast<size_t>(size);
      c->recorded.clear();
      c->recordedPlayed.clear();
      c->recordOverrun = 0;
      putInt(b, kW2, size);
      return reply(0);
    }
    case kReqPlay: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      int size = getInt(b, kW2);
      if (size < 0) return fail(kDevBadParameter);
      c->playing = size > 0;
      c->playSize = static_cast<size_t>(size);
      c->playQueue.clear();
      // A stopped playback keeps its position for a last progress report.
      if (size > 0) c->playedSinceStart = 0;
      // Data given with the start (inserted data) is queued at once, into a
      // driver buffer of at least the usual size.
      if (buf && size > 0) {
        c->playSize = std::max<size_t>(c->playSize, kDriverBuffer);
        size_t n = std::min<size_t>(static_cast<size_t>(size), kDriverBuffer);
        c->playQueue.insert(c->playQueue.end(), buf, buf + n);
        size = static_cast<int>(n);
      }
      putInt(b, kW2, size);
      return reply(0);
    }
    case kReqWritePlay: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      int len = getInt(b, kW2);
      if (len < 0 || (len > 0 && !buf)) return fail(kDevBadParameter);
      size_t room =
          c->playing && c->playSize > c->playQueue.size() ? c->playSize - c->playQueue.size() : 0;
      size_t n = std::min<size_t>(room, static_cast<size_t>(len));
      c->playQueue.insert(c->playQueue.end(), buf, buf + n);
      putInt(b, kW2, static_cast<int32_t>(n));
      return reply(0);
    }
    case kReqReadRecorded: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      int want = getInt(b, kW2);
      if (want < 0 || (want > 0 && !buf)) return fail(kDevBadParameter);
      size_t n = std::min<size_t>(c->recorded.size(), static_cast<size_t>(want));
      std::copy(c->recorded.begin(), c->recorded.begin() + n, buf);
      c->recorded.erase(c->recorded.begin(), c->recorded.begin() + n);
      c->recordedPlayed.erase(c->recordedPlayed.begin(), c->recordedPlayed.begin() + n);
      putInt(b, kW2, static_cast<int32_t>(n));
      return reply(0);
    }
    case kReqReadRecordedDuplex: {
      // Whole 256-byte blocks: 128 recorded bytes, then the 128 bytes played
      // while they were recorded.
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      int want = getInt(b, kW2);
      if (want < 0 || (want > 0 && !buf)) return fail(kDevBadParameter);
      size_t blocks = std::min<size_t>(c->recorded.size() / 128, static_cast<size_t>(want) / 256);
      for (size_t k = 0; k < blocks; ++k) {
        std::copy(c->recorded.begin(), c->recorded.begin() + 128, buf + 256 * k);
        std::copy(c->recordedPlayed.begin(), c->recordedPlayed.begin() + 128, buf + 256 * k + 128);
        c->recorded.erase(c->recorded.begin(), c->recorded.begin() + 128);
        c->recordedPlayed.erase(c->recordedPlayed.begin(), c->recordedPlayed.begin() + 128);
      }
      putInt(b, kW2, static_cast<int32_t>(256 * blocks));
      return reply(0);
    }
    case kReqBufferFill: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      // w2: recorded bytes ready; w0: room for playback data.
      putInt(b, kW2, static_cast<int32_t>(c->recorded.size()));
      size_t room =
          c->playing && c->playSize > c->playQueue.size() ? c->playSize - c->playQueue.size() : 0;
      return reply(static_cast<int32_t>(room));
    }
    case kReqDial: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      int n = getInt(b, kW2);
      if (n <= 0) {
        c->dialling = false;
        return reply(0);
      }
      if (!buf) return fail(kDevBadParameter);
      c->dialDigits.assign(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
      c->dialledLog += c->dialDigits;
      c->dialStartUs = nowUs_;
      c->dialling = true;
      c->dialledSinceSeize = true;
      putInt(b, kW2, n);
      return reply(0);
    }
    case kReqPosition: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      if (c->dialling) {
        int sent = digitsSentLocked(*c);
        int left = static_cast<int>(c->dialDigits.size()) - sent;
        if (left == 0) c->dialling = false;
        putInt(b, kW2, left);
        return reply(sent);
      }
      putInt(b, kW2, static_cast<int32_t>(c->playQueue.size()));
      return reply(static_cast<int32_t>(c->playedSinceStart));
    }
    case kReqFlushDtmf:
    case kReqReadDtmf: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      int cap = std::clamp(getInt(b, kW2), 0, 128);
      size_t n = code == kReqFlushDtmf ? 0 : std::min<size_t>(c->dtmf.size(), cap);
      if (n > 0 && !buf) return fail(kDevBadParameter);
      std::copy(c->dtmf.begin(), c->dtmf.begin() + n, buf);
      if (buf && static_cast<int>(n) < cap) buf[n] = 0;
      c->dtmf.erase(0, code == kReqFlushDtmf ? std::string::npos : n);
      putInt(b, kW2, static_cast<int32_t>(n));
      return reply(0);
    }
    case kReqCheckSignal: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      int signal = kSignalNone, level = 0;
      switch (c->tone) {
        case Tone::kDial:
          signal = kSignalDialTone;
          break;
        case Tone::kBusy:
          signal = kSignalBusy1;
          break;
        case Tone::kNoAnswer:
          signal = kSignalNoAnswer;
          break;
        default:
          break;
      }
      if (c->tone == Tone::kNone && c->type != 0 && c->relay == 0 && !c->callActive &&
          !c->dialledSinceSeize && !c->farAnswered)
        signal = kSignalDialTone;
      if (signal != kSignalNone) level = 3;
      int second = 0;
      if (c->forcedSignal >= 0) {
        signal = c->forcedSignal;
        level = c->forcedLevel;
        second = c->forcedSecond;
      }
      putInt(b, kW2, level);
      putInt(b, kW3, second);
      return reply(signal);
    }
    case kReqMonitorOffHook: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      return reply(c->farAnswered ? 1 : 0);
    }
    case kReqCallingId:
    case kReqFskBuffer: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      int cap = getInt(b, kW2);
      ringCountLocked(*c);
      const bool ready = c->callActive && c->cidDelivered;
      std::vector<uint8_t> data;
      if (ready && code == kReqCallingId) data.assign(c->callerId.begin(), c->callerId.end());
      if (ready && code == kReqFskBuffer && c->cidMode == CallerIdMode::kFsk) data = c->cidMessage;
      size_t n = std::min<size_t>(data.size(), static_cast<size_t>(std::max(cap, 0)));
      if (n > 0 && !buf) return fail(kDevBadParameter);
      std::copy(data.begin(), data.begin() + n, buf);
      putInt(b, kW2, static_cast<int32_t>(n));
      return reply(0);
    }
    case kReqSendFsk: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      int n = getInt(b, kW2);
      if (n > 512) return fail(kDevBadParameter);
      fskLeftLocked(*c);
      if (n <= 0) {
        c->fskSending = false;
        c->fskData.clear();
        return reply(0);
      }
      if (!buf) return fail(kDevBadParameter);
      c->fskData.assign(buf, buf + n);
      c->fskStartUs = nowUs_;
      c->fskSending = true;
      return reply(n);
    }
    case kReqSendFskRest: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      return reply(fskLeftLocked(*c));
    }
    case kReqInternalRing: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      bool on = c->type == 0 && c->setRinging && !c->handsetUp &&
                (nowUs_ - c->setRingStartUs) % kRingPeriodUs < kRingOnUs;
      putInt(b, kW2, on ? 1 : 0);
      return reply(0);
    }
    case kReqLineStatus: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      int rings = ringCountLocked(*c);
      putInt(b, kW1, rings);
      putInt(b, kW2, 1);  // line present
      return reply(c->relay == 0 ? 1 : 0);
    }
    case kReqDtmfSpeed: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      int ms = getInt(b, kW0);
      if (ms >= 20 && ms <= 1000) c->digitUs = ms * 1000;
      return reply(0);
    }
    case kReqWatchdog:
      ch_[0].watchdog = getInt(b, kW1);
      return reply(0);
    case kReqConnectChannels:
    case kReqConnectTo: {
      Channel* a = channelOf(kW1);
      Channel* t = channelOf(kW2);
      if (!a || !t) return fail(kDevBadChannel);
      a->connectedTo = getInt(b, kW2);
      if (code == kReqConnectChannels) t->connectedTo = getInt(b, kW1);
      return reply(0);
    }
    case kReqDisconnectChannels:
    case kReqRelease: {
      Channel* a = channelOf(kW1);
      if (!a) return fail(kDevBadChannel);
      a->connectedTo = -1;
      if (code == kReqDisconnectChannels)
        if (Channel* t = channelOf(kW2)) t->connectedTo = -1;
      return reply(0);
    }
    case kReqSerial: {
      if (buf) std::memcpy(buf, "VBOX0001", 9);
      return reply(0);
    }
    case kReqChannelParam: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      c->params.push_back(getInt(b, kW0));
      c->params.push_back(getInt(b, kW2));
      return reply(0);
    }
    case kReqLineVoltage: {
      Channel* c = channelOf(kW1);
      if (!c) return fail(kDevBadChannel);
      return reply(c->relay == 0 ? 8 : 48);
    }
    case kReqTimeInterval:
      timeInterval_ = getInt(b, kW0);
      putInt(b, kW2, timeInterval_);
      return reply(0);
    case kReqFaxPort:
    case kReqConfPort:
    case kReqConfPort2:
    case kReqAttachConf:
    case kReqAttachFax:
    case kReqAttachQxpcm:
      return replyIfAsked(0);
    case kReqAdapterBuffer:
    case kReqSignalBuffer:
    case kReqCasDetect:
    case kReqNotInsertData:
    case kReqStartMonitor:
      putInt(b, kW2, 0);
      return reply(0);
    case kReqCompressRatio:
    case kReqGenerateSignal:
    case kReqMonitorBusy:
    case kReqSignalLevel:
    case kReqChannelMode:
    case kReqEnableFsk:
    case kReqConnectToNelbox8:
    case kReqSignalParam:
    case kReqSetVoi:
    case kReqSendMode:
    case kReqOcTime:
    case kReqOcInterval:
    case kReqOcDetect:
    case kReqSetVos:
    case kReqSetAmp:
    case kReqAdapterParam:
    case kReqVoltageBuffer:
    case kReqStartGetFsk:
    case kReqRingTime:
    case kReqClearCas:
    case kReqFullDuplexStep:
    case kReqDtmfAbsent:
    case kReqDtmfAmp:
      return reply(0);
    default:
      return fail(kDevUnknownRequest);
  }
}

// ---- configuration and the world around the box ----

bool VirtualBox::setChannelType(int ch, int type) {
  if (ch < 0 || ch >= kVirtualChannels || (type != 0 && type != 1 && type != 2)) return false;
  std::lock_guard lock(m_);
  ch_[ch].type = type;
  return true;
}

void VirtualBox::setSysParaWord(int index, int32_t value) {
  std::lock_guard lock(m_);
  if (index >= 0 && index < kSysParaWords) sysPara_[index] = value;
}

void VirtualBox::setAnswering(bool on) {
  std::lock_guard lock(m_);
  answering_ = on;
}

void VirtualBox::setDeviceFailure(int request, int32_t error) {
  std::lock_guard lock(m_);
  failRequest_ = request;
  failError_ = error;
}

bool VirtualBox::ring(int ch, const std::string& number, int times, CallerIdMode mode) {
  if (ch < 0 || ch >= kVirtualChannels || times <= 0 || number.size() > 64) return false;
  std::lock_guard lock(m_);
  syncLocked();
  Channel& c = ch_[ch];
  if (c.type != 1 || c.relay == 0 || c.callActive) return false;
  c.callActive = true;
  c.callAnswered = false;
  c.callStartUs = nowUs_;
  c.callTimes = times;
  c.callerId = number;
  c.cidMode = number.empty() ? CallerIdMode::kNone : mode;
  c.cidDelivered = false;
  c.cidMessage.clear();
  if (c.cidMode == CallerIdMode::kFsk) {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    c.cidMessage = callerIdMessage(number, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
  } else if (c.cidMode == CallerIdMode::kDtmf) {
    // DTMF caller ID comes before the first ring, framed by D and C.
    c.dtmf += "D" + number + "C";
    c.cidDelivered = true;
  }
  return true;
}

bool VirtualBox::lift(int ch) {
  if (ch < 0 || ch >= kVirtualChannels) return false;
  std::lock_guard lock(m_);
  syncLocked();
  Channel& c = ch_[ch];
  if (c.type == 0) {
    c.handsetUp = true;
    c.setRinging = false;
  } else {
    c.farAnswered = true;
    c.tone = Tone::kNone;
  }
  return true;
}

bool VirtualBox::replace(int ch) {
  if (ch < 0 || ch >= kVirtualChannels) return false;
  std::lock_guard lock(m_);
  syncLocked();
  Channel& c = ch_[ch];
  if (c.type == 0) {
    c.handsetUp = false;
    return true;
  }
  // The far end hangs up: a caller still ringing goes away, a call in
  // progress hears the busy tone.
  if (c.callActive && !c.callAnswered) {
    endCallLocked(c);
    return true;
  }
  c.farAnswered = false;
  c.tone = Tone::kBusy;
  return true;
}

bool VirtualBox::keys(int ch, const std::string& digits) {
  if (ch < 0 || ch >= kVirtualChannels) return false;
  for (char d : digits)
    if (!std::isdigit(static_cast<unsigned char>(d)) && d != '*' && d != '#' &&
        !(d >= 'A' && d <= 'D'))
      return false;
  std::lock_guard lock(m_);
  syncLocked();
  Channel& c = ch_[ch];
  if (c.dtmf.size() + digits.size() > kDtmfMax) return false;
  c.dtmf += digits;
  return true;
}

bool VirtualBox::tone(int ch, Tone t) {
  if (ch < 0 || ch >= kVirtualChannels) return false;
  std::lock_guard lock(m_);
  syncLocked();
  Channel& c = ch_[ch];
  if (t == Tone::kAnswer) {
    c.farAnswered = true;
    c.tone = Tone::kNone;
  } else {
    c.tone = t;
  }
  return true;
}

bool VirtualBox::setEchoPath(int ch, std::vector<double> taps) {
  if (ch < 0 || ch >= kVirtualChannels || taps.size() > 4096) return false;
  std::lock_guard lock(m_);
  syncLocked();
  Channel& c = ch_[ch];
  c.echoHistory.assign(std::max<size_t>(taps.size(), 1), 0);
  c.echoPos = 0;
  c.echoTaps = std::move(taps);
  return true;
}

bool VirtualBox::feedVoice(int ch, const uint8_t* data, size_t length) {
  if (ch < 0 || ch >= kVirtualChannels) return false;
  std::lock_guard lock(m_);
  syncLocked();
  ch_[ch].captured.insert(ch_[ch].captured.end(), data, data + length);
  return true;
}

namespace {
template <typename C>
C takeFront(C& from, size_t max) {
  size_t n = std::min(max, from.size());
  C out(from.begin(), from.begin() + n);
  from.erase(from.begin(), from.begin() + n);
  return out;
}
}  // namespace

std::vector<uint8_t> VirtualBox::takePlayed(int ch, size_t max) {
  if (ch < 0 || ch >= kVirtualChannels) return {};
  std::lock_guard lock(m_);
  syncLocked();
  return takeFront(ch_[ch].playedLog, max);
}

std::string VirtualBox::takeDialled(int ch, size_t max) {
  if (ch < 0 || ch >= kVirtualChannels) return {};
  std::lock_guard lock(m_);
  syncLocked();
  return takeFront(ch_[ch].dialledLog, max);
}

std::vector<uint8_t> VirtualBox::takeFskSent(int ch, size_t max) {
  if (ch < 0 || ch >= kVirtualChannels) return {};
  std::lock_guard lock(m_);
  syncLocked();
  fskLeftLocked(ch_[ch]);
  return takeFront(ch_[ch].fskSentLog, max);
}

void VirtualBox::forceSignal(int ch, int code, int level, int second) {
  if (ch < 0 || ch >= kVirtualChannels) return;
  std::lock_guard lock(m_);
  ch_[ch].forcedSignal = code;
  ch_[ch].forcedLevel = level;
  ch_[ch].forcedSecond = second;
}

std::vector<int32_t> VirtualBox::channelParams(int ch) {
  if (ch < 0 || ch >= kVirtualChannels) return {};
  std::lock_guard lock(m_);
  return ch_[ch].params;
}

int VirtualBox::relayState(int ch) {
  if (ch < 0 || ch >= kVirtualChannels) return -1;
  std::lock_guard lock(m_);
  return ch_[ch].relay;
}

std::string VirtualBox::toneName(Tone t) {
  switch (t) {
    case Tone::kDial:
      return "dial";
    case Tone::kBusy:
      return "busy";
    case Tone::kNoAnswer:
      return "noanswer";
    case Tone::kAnswer:
      return "answer";
    default:
      return "none";
  }
}

std::string VirtualBox::status() {
  std::lock_guard lock(m_);
  syncLocked();
  std::ostringstream out;
  out << "time " << nowUs_ / 1000 << " ms" << (realTime_ ? " (real time)" : " (by hand)") << "\n";
  for (int i = 0; i < kVirtualChannels; ++i) {
    Channel& c = ch_[i];
    out << "channel " << i << ": ";
    if (c.type == 0) {
      out << "local set, handset " << (c.handsetUp ? "up" : "down")
          << (c.setRinging ? ", ringing" : "");
    } else if (c.type == 1) {
      int rings = ringCountLocked(c);
      out << "line, " << (c.relay == 0 ? "seized" : "on hook");
      if (c.callActive)
        out << ", call from " << (c.callerId.empty() ? "-" : c.callerId)
            << (c.callAnswered ? " answered" : ", rings " + std::to_string(rings));
      if (c.farAnswered) out << ", far end answered";
      out << ", tone " << toneName(c.tone);
    } else {
      out << "not in use";
    }
    out << ", keys waiting " << c.dtmf.size() << ", playing " << (c.playing ? "yes" : "no")
        << ", recording " << (c.recording ? "yes" : "no") << "\n";
  }
  return out.str();
}

}  // namespace parvane
