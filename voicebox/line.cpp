// Hook, ring and line state, tones and call progress, DTMF, dialling, caller
// ID, FSK and CAS, and the detection step that turns what the box reports
// into events.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>

#include "voicebox/library.h"
#include "voicebox/virtual_box.h"
#include "voicebox/zt_api.h"

using namespace parvane;

namespace {

int sendSimple(int code, int32_t w0, int32_t w1, int32_t w2 = 0) {
  RequestBlock b = makeBlock(w0, w1, w2);
  if (ask(code, b) != 0) return -1;
  return getInt(b.data(), kW0);
}

// Configuration requests answer in w0 only when the device sets w8.
int sendIfAsked(int code, int32_t w1, int32_t w2) {
  RequestBlock b = makeBlock(0, w1, w2);
  if (ask(code, b) != 0) return -1;
  return getInt(b.data(), kW8) ? getInt(b.data(), kW0) : 0;
}

int relay(int channel, int state) {
  if (!checkChannel(channel)) return -1;
  return sendSimple(kReqRelay, state, channel) < 0 ? -1 : 0;
}

// The hook state as request 3 reports it: 1 off-hook, 0 on-hook, -1 failed.
int hookState(int channel) {
  RequestBlock b = makeBlock(0, channel);
  if (ask(kReqHookRing, b) != 0) return -1;
  return getInt(b.data(), kW0) == 0 ? 1 : 0;
}

int timerElapsedMs(ChannelState& c) {
  return static_cast<int>(nowMs() - c.timerStartMs.load());
}
bool timerRanOut(ChannelState& c) {
  return timerElapsedMs(c) / 1000 >= c.timerLimit.load();
}

std::string callerIdText(const std::string& number) {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  auto m = callerIdMessage(number, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
  return std::string(m.begin(), m.end());
}

int startDial(int channel, const char* text) {
  if (!checkChannel(channel) || !text) return -1;
  Library& l = lib();
  ChannelState& c = l.ch[channel];
  c.hookAtDial = hookState(channel);
  // The FSK message is longer than the number: it is built in our own
  // buffer, and the caller's text is left as it was.
  std::string digits(text, strnlen(text, 1024));
  if (c.sendMode == 1) digits = callerIdText(digits.substr(0, 255 - 8));
  RequestBlock b = makeBlock(0, channel, static_cast<int32_t>(digits.size()));
  putAddress(b.data(), digits.data());
  if (request(kReqDial, b) != 0) return l.lastError;
  c.dialling = true;
  c.dialReported = 0;
  c.dialLength = static_cast<int>(digits.size());
  c.dialEnded = false;
  return static_cast<int>(digits.size());
}

int stopDial(int channel) {
  if (!checkChannel(channel)) return -1;
  lib().ch[channel].dialling = false;
  return sendSimple(kReqDial, 0, channel, 0);
}

// Refills the DTMF buffer from the device when it is used up: 0 when digits
// are waiting, -1 when none came or the device failed.
int refillDtmf(int channel, ChannelState& c) {
  if (c.dtmfRead < c.dtmfLength) return 0;
  c.dtmfLength = c.dtmfRead = 0;
  c.dtmf[0] = 0;
  char buf[kDtmfBuffer + 1] = {};
  RequestBlock b = makeBlock(0, channel, kDtmfBuffer);
  putAddress(b.data(), buf);
  if (ask(kReqReadDtmf, b) != 0) return -1;
  int n = std::clamp(getInt(b.data(), kW2), 0, kDtmfBuffer);
  std::memcpy(c.dtmf, buf, n);
  c.dtmf[n] = 0;
  c.dtmfLength = n;
  return n > 0 ? 0 : -1;
}

// ---- caller-ID sender ----

std::mutex g_cidMutex;
NoDestroy<std::thread> g_cidThreadStorage;
std::thread& g_cidThread = g_cidThreadStorage.get();
std::atomic<bool> g_cidStop{false};
std::atomic<int> g_cidResult{0};

// A set nobody answers is given up after this long.
constexpr int64_t kCidGiveUpMs = 120'000;

void cidSender(int arg, std::string number) {
  int channel = (arg >> 8) & 0x0F;
  int mode = arg & 0x0F;
  auto offHook = [&] { return hookState(channel) == 1; };
  const int64_t start = nowMs();
  auto stopped = [&] { return g_cidStop.load() || nowMs() - start > kCidGiveUpMs; };
  if (mode == 1) {
    ZT_SetSendMode(channel, 1);
    ZT_RingCtrl(channel);
    bool sending = false;
    std::string message = callerIdText(number.substr(0, 255 - 8));
    while (!stopped()) {
      int h = hookState(channel);
      if (h < 0) {
        g_cidResult = -1;
        return;
      }
      if (h == 1) {
        if (sending) ZT_StopSendFskData(channel);
        g_cidResult = 1;
        return;
      }
      if (!sending) {
        if (ZT_InternalRingDetect(channel) == 1) {
          ZT_PowerCtrl(channel);
          pauseMs(1000);
          ZT_StartSendFskData(channel, message.data(), static_cast<int>(message.size()));
          sending = true;
        }
      } else if (ZT_SendFskDataRest(channel) == 0) {
        ZT_StopSendFskData(channel);
        pauseMs(2000);
        ZT_RingCtrl(channel);
        g_cidResult = 1;
        return;
      }
      pauseMs(20);
    }
    return;
  }
  if (mode == 0) {
    ZT_SetSendMode(channel, 0);
    if (startDial(channel, number.c_str()) < 0) {
      g_cidResult = -1;
      return;
    }
    while (!stopped()) {
      if (offHook()) {
        stopDial(channel);
        g_cidResult = 1;
        return;
      }
      int rest = ZT_DialRest(channel);
      if (rest < 0) {
        g_cidResult = -1;
        return;
      }
      if (rest == 0) {
        stopDial(channel);
        ZT_RingCtrl(channel);
        g_cidResult = 1;
        return;
      }
      pauseMs(20);
    }
    return;
  }
  g_cidResult = -3;
}

}  // namespace

// ---- hook and ring control ----

extern "C" int ZT_OffHookCtrl(int channel) {
  if (!checkChannel(channel)) return 0;
  ChannelState& c = lib().ch[channel];
  if (c.type10) return 1;
  if (relay(channel, 0) != 0) return 0;
  c.offHookCheckMs = nowMs();
  c.offHookCheck = true;
  return 1;
}

extern "C" int ZT_HangUpCtrl(int channel) {
  if (!checkChannel(channel)) return 0;
  relay(channel, 1);
  ChannelState& c = lib().ch[channel];
  c.monitoring = false;
  c.answered = false;
  c.offHookCheck = false;
  return 0;
}

extern "C" int ZT_RingCtrl(int channel) {
  return relay(channel, 1);
}
extern "C" int ZT_GenerateRing(int channel) {
  return relay(channel, 1);
}
extern "C" int ZT_PowerCtrl(int channel) {
  return relay(channel, 0);
}

extern "C" int ZT_SetVoltCtrlType(int channel, int on) {
  if (!checkChannel(channel)) return -1;
  ChannelState& c = lib().ch[channel];
  c.type10 = false;
  int type = ZT_ChannelType(channel);
  if (type != 1) return -1;
  if (on) {
    ZT_HangUpCtrl(channel);
    c.type10 = true;
    return 10;
  }
  return 1;
}

// ---- state reading ----

extern "C" int ZT_ChannelType(int channel) {
  if (channel < 0 || channel >= kMaxChannels) {
    lib().lastError = kErrBadChannel;
    return -1;
  }
  if (channel >= 2) return -1;
  if (lib().ch[channel].type10) return 10;
  RequestBlock b = makeBlock(0, channel);
  if (ask(kReqChannelType, b) != 0) return -1;
  return getInt(b.data(), kW0);
}

extern "C" int ZT_OffHookDetect(int channel) {
  int type = ZT_ChannelType(channel);
  if (type == 0) return hookState(channel);
  if (type == 10) {
    RequestBlock b = makeBlock(0, channel);
    if (ask(kReqLineStatus, b) != 0) return -1;
    return getInt(b.data(), kW0);
  }
  return -1;
}

extern "C" int ZT_RingDetect(int channel) {
  int type = ZT_ChannelType(channel);
  if (type == 1) {
    RequestBlock b = makeBlock(0, channel);
    if (ask(kReqHookRing, b) != 0) return -1;
    return getInt(b.data(), kW0) == 0 ? getInt(b.data(), kW2) : 0;
  }
  if (type == 10) {
    RequestBlock b = makeBlock(0, channel);
    if (ask(kReqLineStatus, b) != 0) return -1;
    return getInt(b.data(), kW1);
  }
  lib().lastError = kErrBadChannel;
  return -1;
}

extern "C" int ZT_LineStatusDetect(int channel) {
  if (ZT_ChannelType(channel) != 10) {
    lib().lastError = kErrBadChannel;
    return -1;
  }
  RequestBlock b = makeBlock(0, channel);
  if (ask(kReqLineStatus, b) != 0) return -1;
  return getInt(b.data(), kW2);
}

extern "C" int ZT_InternalRingDetect(int channel) {
  if (ZT_ChannelType(channel) != 0) return -3;
  RequestBlock b = makeBlock(0, channel);
  if (ask(kReqInternalRing, b) != 0) return -1;
  return getInt(b.data(), kW2);
}

extern "C" int ZT_ListenerOffHook(int channel) {
  if (!checkChannel(channel)) return -1;
  int h = hookState(channel);
  if (h < 0) return -1;
  return h != lib().ch[channel].hookAtDial.load() ? 1 : 0;
}

// ---- tones and call progress ----

extern "C" int ZT_CheckSignal(int channel, int* level, int* second) {
  if (!checkChannel(channel)) return -1;
  RequestBlock b = makeBlock(0, channel);
  if (ask(kReqCheckSignal, b) != 0) return -1;
  if (level) *level = getInt(b.data(), kW2);
  if (second) *second = getInt(b.data(), kW3);
  return getInt(b.data(), kW0);
}

extern "C" int ZT_SetSignalParam(int id, int a, int b, int c, int d) {
  uint32_t w1 = static_cast<uint32_t>(a) | (static_cast<uint32_t>(b) & 0xFFFFFFu) << 8;
  uint32_t w2 = static_cast<uint32_t>(c) | static_cast<uint32_t>(d) << 8;
  RequestBlock blk = makeBlock(id & 0xFF, static_cast<int32_t>(w1), static_cast<int32_t>(w2));
  if (ask(kReqSignalParam, blk) != 0) return -1;
  Library& l = lib();
  std::lock_guard lock(l.busyMutex);
  if (l.busyCount < 9) l.busyIds[l.busyCount++] = id;
  return l.busyCount;
}

extern "C" int ZT_SetChannelFreq(int channel, int frequency) {
  if (!checkChannel(channel)) return -1;
  const double pi = std::acos(-1.0);
  // std::round rounds half away from zero.
  int p1 = static_cast<int>(std::round(32768.0 * std::cos(2 * pi * frequency / 8000.0)));
  int p2 = static_cast<int>(std::round(32768.0 * std::cos(4 * pi * frequency / 8000.0)));
  if (ZT_SetChannelParam(channel, 1, p1) < 0) return -1;
  return ZT_SetChannelParam(channel, 2, p2);
}

extern "C" int ZT_SetMonitorCalled(int channel, int mode) {
  if (!checkChannel(channel)) return -1;
  ChannelState& c = lib().ch[channel];
  if (mode == 0) {
    c.monitoring = true;
    c.monitorStartMs = nowMs();
    c.timerArmed = true;
  } else if (mode == 1) {
    c.answered = true;
  }
  return 1;
}

extern "C" int ZT_MonitorOffHook(int channel, int value) {
  if (!checkChannel(channel)) return -1;
  return sendSimple(kReqMonitorOffHook, 0, channel, value);
}

extern "C" int ZT_MonitorBusy(int channel, int a, int b) {
  if (!checkChannel(channel)) return -1;
  return sendSimple(kReqMonitorBusy, a, channel, b);
}

extern "C" int ZT_StartMonitor(int channel) {
  if (!checkChannel(channel)) return -1;
  pauseMs(2000);
  return sendSimple(kReqStartMonitor, 0, channel);
}

extern "C" int ZT_StartTimer(int channel, int seconds) {
  if (!checkChannel(channel)) return -1;
  ChannelState& c = lib().ch[channel];
  c.timerStartMs = nowMs();
  c.timerLimit = seconds;
  c.timerArmed = true;
  return seconds;
}

extern "C" int ZT_TimerElapsed(int channel) {
  if (!checkChannel(channel)) return -1;
  ChannelState& c = lib().ch[channel];
  int s = timerElapsedMs(c) / 1000;
  return s < c.timerLimit.load() ? s : -1;
}

extern "C" int ZT_CheckOffHook(int channel, int* levelOut, int* secondOut) {
  if (!checkChannel(channel)) return -1;
  int level = 0, second = 0;
  int signal = ZT_CheckSignal(channel, &level, &second);
  if (levelOut) *levelOut = level;
  if (secondOut) *secondOut = second;
  if (signal < 0) return -1;
  ChannelState& c = lib().ch[channel];
  auto w = [&](int i) { return lib().sysPara[i].load(); };
  switch (signal) {
    case kSignalNone:
      if (timerRanOut(c)) return kSignalNoAnswer;
      c.timerArmed = false;
      return 0;
    case kSignalBusy1:
    case kSignalBusy2:
      return level >= 2 ? signal : kSignalClass96;
    case kSignalDialTone:
      return timerRanOut(c) || timerElapsedMs(c) > 6000 ? kSignalClass97 : kSignalClass96;
    case kSignalClass96:
      if (c.timerArmed) {
        int t = timerElapsedMs(c) / 1000;
        bool early = t <= w(6) / 25;
        bool loud = level >= w(3) || level >= w(7) || level >= w(11);
        bool longer = second >= w(5) || second >= w(9) || second >= w(13);
        return t <= w(1) / 25 + 1 && (early || loud || longer) ? kSignalClass96 : kSignalClass98;
      } else {
        auto in = [&](int lo, int hi) { return second >= w(lo) && second <= w(hi); };
        return in(5, 6) || in(9, 10) || in(13, 14) ? kSignalClass96 : kSignalClass98;
      }
    case kSignalClass64:
      return kSignalClass98;
    case kSignalClass97:
      return c.timerArmed ? kSignalClass97 : kSignalNoAnswer;
    default:
      return signal;
  }
}

// ---- DTMF ----

extern "C" int ZT_FlushDTMF(int channel) {
  if (!checkChannel(channel)) return -1;
  ChannelState& c = lib().ch[channel];
  char buf[kDtmfBuffer + 1] = {};
  RequestBlock b = makeBlock(0, channel, kDtmfBuffer);
  putAddress(b.data(), buf);
  request(kReqFlushDtmf, b);
  std::lock_guard lock(c.dtmfMutex);
  c.dtmfLength = c.dtmfRead = 0;
  c.dtmf[0] = 0;
  return 0;
}

extern "C" int ZT_GetDTMFChar(int channel) {
  if (!checkChannel(channel)) return -1;
  ChannelState& c = lib().ch[channel];
  std::lock_guard lock(c.dtmfMutex);
  if (refillDtmf(channel, c) != 0) return -1;
  return static_cast<unsigned char>(c.dtmf[c.dtmfRead++]);
}

extern "C" const char* ZT_GetDTMFStr(int channel) {
  if (!checkChannel(channel)) return "";
  ChannelState& c = lib().ch[channel];
  std::lock_guard lock(c.dtmfMutex);
  refillDtmf(channel, c);
  c.dtmfText.assign(c.dtmf + c.dtmfRead, c.dtmf + c.dtmfLength);
  c.dtmfRead = c.dtmfLength;
  return c.dtmfText.c_str();
}

extern "C" int ZT_SetDTMFSendSpeed(int channel, int speed) {
  if (!checkChannel(channel)) return -1;
  return sendSimple(kReqDtmfSpeed, speed, channel);
}

extern "C" int ZT_SetDtmfAmp(int channel, int high, int low) {
  if (!checkChannel(channel)) return -1;
  if (low >= high) {
    lib().lastError = -1;
    return -1;
  }
  RequestBlock b = makeBlock(high, low, channel);
  if (ask(kReqDtmfAmp, b) != 0) return -1;
  return getInt(b.data(), kW0);
}

extern "C" int ZT_DtmfAbsent(void) {
  return sendSimple(kReqDtmfAbsent, 0, 0);
}

// ---- dialling and caller identification ----

extern "C" int ZT_SetSendMode(int channel, int mode) {
  if (!checkChannel(channel)) return -1;
  lib().ch[channel].sendMode = mode == 1 ? 1 : 0;
  return sendSimple(kReqSendMode, mode, channel);
}

extern "C" int ZT_StartDial(int channel, const char* text) {
  return startDial(channel, text);
}

extern "C" int ZT_DialRest(int channel) {
  if (!checkChannel(channel)) return -1;
  if (!lib().ch[channel].dialling) return 0;
  RequestBlock b = makeBlock(0, channel);
  if (ask(kReqPosition, b) != 0) return -1;
  return getInt(b.data(), kW2);
}

extern "C" int ZT_StopDial(int channel) {
  return stopDial(channel);
}
extern "C" int ZT_StartSendCAS(int channel, const char* text) {
  return startDial(channel, text);
}
extern "C" int ZT_SendCASRest(int channel) {
  return ZT_DialRest(channel);
}
extern "C" int ZT_StopSendCAS(int channel) {
  int r = stopDial(channel);
  pauseMs(50);
  return r;
}
extern "C" int ZT_ClearCAS(int channel) {
  if (!checkChannel(channel)) return -1;
  return sendSimple(kReqClearCas, 0, channel);
}
extern "C" int ZT_CASDetect(int channel) {
  if (!checkChannel(channel)) return -1;
  RequestBlock b = makeBlock(0, channel);
  if (ask(kReqCasDetect, b) != 0) return -1;
  return getInt(b.data(), kW2);
}

extern "C" int ZT_ReceiveCallingID(int channel, char* buffer, int length) {
  if (!checkChannel(channel) || !buffer || length < 0) return -1;
  char area[128] = {};
  // The device fills our 128-byte area, never more, whatever the caller asks.
  RequestBlock b = makeBlock(0, channel, std::min(length, 128));
  putAddress(b.data(), area);
  if (ask(kReqCallingId, b) != 0) return -1;
  int received = std::clamp(getInt(b.data(), kW2), 0, 128);
  // Never more than the caller's buffer, nor than the area holds.
  std::memcpy(buffer, area, std::min(length, 128));
  return received;
}

extern "C" int ZT_EnableFSK(int channel, int on) {
  if (!checkChannel(channel)) return -1;
  return sendSimple(kReqEnableFsk, on, channel);
}

extern "C" int ZT_StartGetFskData(int channel) {
  if (!checkChannel(channel)) return -1;
  return sendSimple(kReqStartGetFsk, 0, channel);
}

extern "C" int ZT_GetFSKBuffer(int channel, char* buffer, int size) {
  if (!checkChannel(channel) || !buffer || size < 0) return -1;
  RequestBlock b = makeBlock(0, channel, size);
  putAddress(b.data(), buffer);
  if (ask(kReqFskBuffer, b) != 0) return -1;
  return getInt(b.data(), kW2);
}

extern "C" int ZT_StartSendFskData(int channel, const char* data, int length) {
  if (channel < 0 || channel >= kMaxChannels || length > 512 || length < 0 || (length > 0 && !data))
    return kErrRange;
  RequestBlock b = makeBlock(0, channel, length);
  putAddress(b.data(), data);
  if (ask(kReqSendFsk, b) != 0) return -1;
  return length;
}

extern "C" int ZT_SendFskDataRest(int channel) {
  if (!checkChannel(channel)) return -1;
  return sendSimple(kReqSendFskRest, 0, channel);
}

extern "C" int ZT_StopSendFskData(int channel) {
  if (!checkChannel(channel)) return -1;
  return sendSimple(kReqSendFsk, 0, channel, 0);
}

extern "C" int ZT_SendCID_Ring(int channel, int mode, const char* number) {
  if (ZT_ChannelType(channel) != 0) return -3;
  std::lock_guard lock(g_cidMutex);
  if (g_cidThread.joinable()) {
    g_cidStop = true;
    g_cidThread.join();
  }
  g_cidStop = false;
  // A mode of neither kind only ends the earlier sender: its own would end at
  // once with -3, a thread nobody joins until the next call.
  if ((mode & 0x0F) != 0 && (mode & 0x0F) != 1) {
    g_cidResult = -3;
    return 1;
  }
  std::string text = number ? std::string(number, strnlen(number, 1024)) : std::string();
  int arg = (channel & 0x0F) << 8 | (mode & 0x0F);
  try {
    g_cidThread = std::thread(cidSender, arg, std::move(text));
  } catch (...) {
    lib().lastError = kErrNoDevice;
    return -1;
  }
  return 1;
}

namespace parvane {
void stopCallerIdSender() {
  std::lock_guard lock(g_cidMutex);
  if (!g_cidThread.joinable()) return;
  g_cidStop = true;
  g_cidThread.join();
  g_cidStop = false;
}
}  // namespace parvane

namespace parvane {
int joinCallerIdSender() {
  std::lock_guard lock(g_cidMutex);
  if (g_cidThread.joinable()) g_cidThread.join();
  return g_cidResult.load();
}
}  // namespace parvane

// ---- device requests with little logic of their own ----

extern "C" int ZT_CompressRatio(int ratio) {
  return sendSimple(kReqCompressRatio, ratio, 0);
}
extern "C" int ZT_ConnectChannels(int first, int second) {
  if (!checkChannel(first) || !checkChannel(second)) return -1;
  sendSimple(kReqRelease, 0, first);
  return sendSimple(kReqConnectChannels, 0, first, second);
}
extern "C" int ZT_DisconnectChannels(int first, int second) {
  if (!checkChannel(first) || !checkChannel(second)) return -1;
  return sendSimple(kReqDisconnectChannels, 0, first, second);
}
extern "C" int ZT_ConnectTo(int channel, int target) {
  if (!checkChannel(channel) || !checkChannel(target)) return -1;
  sendSimple(kReqRelease, 0, target);
  return sendSimple(kReqConnectTo, 0, channel, target);
}
extern "C" int ZT_Connect3(int a, int b, int c) {
  if (ZT_ConnectTo(a, b) < 0 || ZT_ConnectTo(b, c) < 0) return -1;
  return ZT_ConnectTo(c, a);
}
extern "C" int ZT_Disconnect(int channel) {
  if (!checkChannel(channel)) return -1;
  return sendSimple(kReqRelease, 0, channel);
}
extern "C" int ZT_DisableChannel(int channel) {
  return ZT_Disconnect(channel);
}
extern "C" int ZT_Disconnect3(int a, int b, int c) {
  int r = 0;
  for (int ch : {a, b, c})
    if (ZT_Disconnect(ch) < 0) r = -1;
  return r;
}
extern "C" int ZT_GenerateSignal(int channel, int signal) {
  if (!checkChannel(channel)) return -1;
  return sendSimple(kReqGenerateSignal, signal, channel);
}
extern "C" int ZT_GetSerialEx(int index, char* buffer) {
  if (!buffer) return -1;
  char area[128] = {};
  RequestBlock b = makeBlock(0, index);
  putAddress(b.data(), area);
  if (ask(kReqSerial, b) != 0) return -1;
  area[sizeof area - 1] = 0;
  std::strcpy(buffer, area);
  return getInt(b.data(), kW0);
}
extern "C" int ZT_GetSerial(char* buffer) {
  return ZT_GetSerialEx(0, buffer);
}
extern "C" int ZT_SetSignalLevel(int level) {
  return sendSimple(kReqSignalLevel, level, 0);
}
extern "C" int ZT_SetChannelMode(int channel, int mode) {
  if (!checkChannel(channel)) return -1;
  return sendSimple(kReqChannelMode, mode, channel);
}
extern "C" int ZT_ConnectToNelbox8(int value, int a, int b, int c, int d) {
  RequestBlock blk = makeBlock(0, value, a * 32 | b);
  putInt(blk.data(), kW3, c * 32 | d);
  if (ask(kReqConnectToNelbox8, blk) != 0) return -1;
  return getInt(blk.data(), kW0);
}
extern "C" int ZT_ConnectToChannel(int a, int b, int c) {
  return ZT_ConnectToNelbox8(c / 8, a, b, 0, c % 32);
}
extern "C" int ZT_SetVoi(int channel, int value) {
  if (!checkChannel(channel)) return -1;
  return sendSimple(kReqSetVoi, value, channel);
}
extern "C" int ZT_SetFaxPort(int port) {
  return sendIfAsked(kReqFaxPort, port, 0);
}
extern "C" int ZT_SetConfPort(int channel, int port) {
  return sendIfAsked(kReqConfPort, channel, port);
}
extern "C" int ZT_SetConfPort2(int channel, int port) {
  return sendIfAsked(kReqConfPort2, channel, port);
}
extern "C" int ZT_AttachConf(int a, int b) {
  return sendIfAsked(kReqAttachConf, a, b);
}
extern "C" int ZT_AttachFax(int a, int b) {
  return sendIfAsked(kReqAttachFax, a, b);
}
extern "C" int ZT_SetOcTime(int time) {
  return sendSimple(kReqOcTime, 0, 0, time);
}
extern "C" int ZT_SetOcInterval(int a, int b) {
  return sendSimple(kReqOcInterval, 0, a, b);
}
extern "C" int ZT_OcDetect(int channel) {
  return sendSimple(kReqOcDetect, 0, channel);
}
extern "C" int ZT_AttachQxpcm(int value) {
  return sendIfAsked(kReqAttachQxpcm, value, 0);
}
extern "C" int ZT_SetVos(int value) {
  return sendSimple(kReqSetVos, value, 0);
}
extern "C" int ZT_GetAdapterBuffer(int channel, char* buffer, int size) {
  if (!buffer || size < 0) return -1;
  RequestBlock b = makeBlock(0, channel, size);
  putAddress(b.data(), buffer);
  if (ask(kReqAdapterBuffer, b) != 0) return -1;
  return getInt(b.data(), kW8) ? getInt(b.data(), kW0) : getInt(b.data(), kW2);
}
extern "C" int ZT_SetAmp(int value) {
  return sendSimple(kReqSetAmp, value, 0);
}
extern "C" int ZT_GetSignalBuffer(int channel, char* buffer, int size) {
  if (!buffer || size < 0) return -1;
  RequestBlock b = makeBlock(0, channel, size);
  putAddress(b.data(), buffer);
  if (ask(kReqSignalBuffer, b) != 0) return -1;
  return getInt(b.data(), kW2);
}
extern "C" int ZT_SetAdapterParam(int a, int b) {
  return sendSimple(kReqAdapterParam, a, b);
}
extern "C" int ZT_SetChannelParam(int channel, int parameter, int value) {
  if (!checkChannel(channel)) return -1;
  return sendSimple(kReqChannelParam, parameter, channel, value);
}
extern "C" int ZT_GetLineVoltage(int channel) {
  return sendSimple(kReqLineVoltage, 0, channel);
}
extern "C" int ZT_GetVoltageBuffer(int channel, char* buffer) {
  if (!buffer) return -1;
  RequestBlock b = makeBlock(0, channel);
  putAddress(b.data(), buffer);
  if (ask(kReqVoltageBuffer, b) != 0) return -1;
  return getInt(b.data(), kW0);
}
extern "C" int ZT_SetRingTime(int channel, int on, int off, int pause) {
  if (!checkChannel(channel)) return -1;
  if (on < 80 || off < 80 || pause < 80) {
    lib().lastError = kErrRange;
    return -1;
  }
  RequestBlock b = makeBlock(on, channel, off);
  putInt(b.data(), kW3, pause);
  if (ask(kReqRingTime, b) != 0) return -1;
  return getInt(b.data(), kW0);
}

// ---- the detection step ----

namespace parvane {

void detectionStep(int channel) {
  Library& l = lib();
  ChannelState& c = l.ch[channel];

  // 1. Sentence playback goes on from here.
  if (c.sentencePlaying && l.hooks.sentenceRest) {
    int r = l.hooks.sentenceRest(channel);
    if (r < 0) {
      c.sentencePlaying = false;
      postEvent(channel, ZT_EV_SENTENCE_ERROR);
    } else if (r == 0) {
      if (l.hooks.stopFilePlay) l.hooks.stopFilePlay(channel);
      c.sentencePlaying = false;
      postEvent(channel, ZT_EV_SENTENCE_DONE);
    }
  }

  // 2. Dialling.
  if (c.dialling) {
    int rest = ZT_DialRest(channel);
    if (rest < 0) return;
    int sent = c.dialLength - rest;
    while (c.dialReported < sent) {
      ++c.dialReported;
      postEvent(channel, ZT_EV_DIGIT_SENT);
    }
    if (rest == 0) {
      stopDial(channel);
      postEvent(channel, ZT_EV_DIAL_DONE);
      c.dialEndMs = nowMs();
      c.dialEnded = true;
      c.dialling = false;
      ZT_StartMonitor(channel);
    }
  }

  // 3. DTMF. An event holds 99 characters and its terminator; what does not
  // fit stays in the buffer for the next pass rather than being lost.
  std::string digits;
  for (int i = 0; i < kEventTextMax; ++i) {
    int d = ZT_GetDTMFChar(channel);
    if (d < 0) break;
    digits.push_back(static_cast<char>(d));
  }
  if (!digits.empty()) postEventText(channel, ZT_EV_DTMF, digits);

  int type = ZT_ChannelType(channel);
  if (type == 0) {
    // 4. A local set; a failed read counts as off-hook.
    int h = hookState(channel);
    int off = h == 0 ? 0 : 1;
    if (off != c.lastHookOff) {
      c.lastHookOff = off;
      postEvent(channel, off ? ZT_EV_LOCAL_OFFHOOK : ZT_EV_LOCAL_ONHOOK);
    }
  } else if (type == 1) {
    // 5.1 Ring.
    int rings = ZT_RingDetect(channel);
    if (rings > 0 && rings != c.lastRing) {
      c.lastRing = rings;
      postEvent(channel, ZT_EV_RING, {rings});
    } else if (rings == 0) {
      c.lastRing = 0;  // the next call's first ring is news again
    }
    // 5.2 Call progress.
    if (c.monitoring && !c.dialling && nowMs() - c.dialEndMs.load() > 2000) {
      int signal = ZT_CheckSignal(channel, nullptr, nullptr);
      if (signal == kSignalBusy1 || signal == kSignalBusy2) {
        postEvent(channel, ZT_EV_BUSY, {signal});
        c.monitoring = false;
      } else if (signal == kSignalNoAnswer) {
        postEvent(channel, ZT_EV_NO_ANSWER);
        c.monitoring = false;
      } else if (signal > 0 && isBusyTone(signal)) {
        postEvent(channel, ZT_EV_BUSY, {signal});
        c.monitoring = false;
      }
      if (c.monitoring) {
        if (ZT_ListenerOffHook(channel) == 1 || ZT_MonitorOffHook(channel, 25) > 0) {
          c.answered = true;
          c.monitoring = false;
          postEvent(channel, ZT_EV_ANSWERED);
        } else if (nowMs() - c.monitorStartMs.load() > l.nobodySeconds.load() * 1000LL) {
          postEvent(channel, ZT_EV_NO_ANSWER);
          c.monitoring = false;
        }
      }
    }
    // 5.3 After answer.
    if (c.answered) {
      int level = 0;
      int signal = ZT_CheckSignal(channel, &level, nullptr);
      if (signal > 0 && isBusyTone(signal) && level > 0) {
        postEvent(channel, ZT_EV_FAR_HANGUP, {signal});
        c.monitoring = false;
        c.answered = false;
      }
    }
  }

  // 6. Off-hook check.
  if (c.offHookCheck) {
    int signal = ZT_CheckSignal(channel, nullptr, nullptr);
    if (signal == kSignalDialTone) {
      postEvent(channel, ZT_EV_DIALTONE);
      c.offHookCheck = false;
    } else if (nowMs() - c.offHookCheckMs.load() > 5000) {
      postEvent(channel, ZT_EV_NO_DIALTONE);
      c.offHookCheck = false;
    }
  }
}

}  // namespace parvane
