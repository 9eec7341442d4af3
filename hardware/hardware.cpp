// The exported CTI functions: each dispatches to the lines that serve its
// channel, behind one lock, because the KeyCall receiver thread and the
// scan thread call in at the same time.
#include "hardware/hardware.h"

#include "hardware/combine.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "hardware/hardware_internal.h"
#include "hardware/simulator.h"
#include "hardware/sip_lines.h"
#include "hardware/telephone_lines.h"
#include "platform/ini.h"

namespace {

std::mutex gLock;

// Never destroyed: worker threads of the runtime may still call in while
// the process exits. Recordings are written as they grow, so nothing waits
// for a destructor.
hardware::Simulator& sim() {
  static hardware::Simulator* s = new hardware::Simulator(&platform::SystemClock::instance());
  return *s;
}

// Which lines serve each channel; under gLock. Every channel is simulated
// until another access joins; a channel outside the table goes to the
// simulator, which answers as for a channel it does not have.
std::array<hardware::Lines*, CHAN_MAX> gLinesOf{};

hardware::Lines& linesOf(int ch) {
  if (ch >= 0 && ch < CHAN_MAX && gLinesOf[ch]) return *gLinesOf[ch];
  return sim();
}

// SIP lines, started by InitQam under SIP access; kept for the process's
// life like the simulator (their thread is stopped, not the object freed).
hardware::SipLines* gSip = nullptr;

void chooseLines() {
  if (gSip) gSip->stop();
  gLinesOf.fill(&sim());
}

// The voice box's lines, made when telephone access first starts.
hardware::TelephoneLines& telephone() {
  static hardware::TelephoneLines* t = new hardware::TelephoneLines;
  return *t;
}

// Opens the voice box and gives its channels to its lines; under gLock.
int startTelephone(const hardware::Settings& settings, int* outer, int* inner) {
  hardware::TelephoneLines& t = telephone();
  int n = std::min(t.open(settings.indexDir), static_cast<int>(CHAN_MAX));
  for (int ch = 0; ch < n; ++ch)
    gLinesOf[static_cast<size_t>(ch)] = &t;
  *outer = t.outerCount();
  *inner = t.innerCount();
  return n;
}

// The runtime's notifier (HardwareSetNotify), under its own lock: the SIP
// thread reports while the CTI lock may be held by a stop that waits for it.
std::mutex gNotifyLock;
void (*gNotify)(const char*, void*) = nullptr;
void* gNotifyCtx = nullptr;

void report(const std::string& text) {
  std::lock_guard<std::mutex> g(gNotifyLock);
  if (gNotify)
    gNotify(text.c_str(), gNotifyCtx);
  else
    std::fprintf(stderr, "%s\n", text.c_str());
}

// Under SIP access every channel is a SIP line; the channel count is [SIP]
// channels, 0 when the SIP socket cannot be opened. Under gLock.
int startSip(const std::string& iniPath) {
  platform::IniFile ini(iniPath);
  hardware::SipSettings s = hardware::readSipSettings(ini);
  for (const auto& w : s.warnings)
    std::fprintf(stderr, "sysconfig.ini: %s\n", w.c_str());
  if (!gSip) {
    gSip = new hardware::SipLines;
    gSip->setNotify(report);
  }
  std::string error;
  const int n = gSip->start(s, &error);
  if (n == 0) std::fprintf(stderr, "%s\n", error.c_str());
  for (int ch = 0; ch < n; ++ch)
    gLinesOf[static_cast<size_t>(ch)] = gSip;
  return n;
}

template <typename F>
auto locked(F f) {
  std::lock_guard<std::mutex> g(gLock);
  return f(sim());
}

// Runs `f` on the lines of channel `ch`, under the lock.
template <typename F>
auto onLine(int ch, F f) {
  std::lock_guard<std::mutex> g(gLock);
  return f(linesOf(ch));
}

// The simulation's clock as the simulator reads it. Only ticks are read;
// wall time stays the system's.
class CallbackClock final : public platform::Clock {
 public:
  unsigned int (*ticks_)(void*) = nullptr;
  void* ctx_ = nullptr;
  uint32_t ticks() override { return ticks_(ctx_); }
  std::chrono::system_clock::time_point now() override {
    return platform::SystemClock::instance().now();
  }
};

}  // namespace

namespace hardware_internal {

void setClock(platform::Clock* clock) {
  locked([&](hardware::Simulator& s) {
    s.setClock(clock ? clock : &platform::SystemClock::instance());
    return 0;
  });
}

int reinit(const hardware::Settings& settings) {
  return locked([&](hardware::Simulator& s) {
    chooseLines();
    return s.reset(settings);
  });
}

hardware::LineRequests requests(int ch) {
  return locked([&](hardware::Simulator& s) { return s.requests(ch); });
}

int soundOpens() {
  return locked([](hardware::Simulator& s) { return s.soundOpens(); });
}

void useLines(int ch, hardware::Lines* lines) {
  if (ch < 0 || ch >= CHAN_MAX) return;
  locked([&](hardware::Simulator& s) {
    gLinesOf[static_cast<size_t>(ch)] = lines ? lines : &s;
    return 0;
  });
}

}  // namespace hardware_internal

using hardware::Simulator;

extern "C" {

void HardwareSetSimulationClock(unsigned int (*ticks)(void* ctx), void* ctx) {
  static CallbackClock clock;  // under gLock while it changes
  locked([&](Simulator& s) {
    clock.ticks_ = ticks;
    clock.ctx_ = ctx;
    s.setClock(ticks ? static_cast<platform::Clock*>(&clock) : &platform::SystemClock::instance());
    return 0;
  });
}

void HardwareSetNotify(void (*notify)(const char* utf8, void* ctx), void* ctx) {
  std::lock_guard<std::mutex> g(gNotifyLock);
  if (notify) {
    gNotify = notify;
    gNotifyCtx = ctx;
  } else if (gNotifyCtx == ctx) {
    gNotify = nullptr;
    gNotifyCtx = nullptr;
  }
}

void HardwareShutdown(void) {
  locked([](Simulator&) {
    chooseLines();
    return 0;
  });
}

// *a receives the number of outer lines, *b the number of inner lines.
int InitQam(int* a, int* b) {
  hardware::Settings settings = hardware::readSettings("sysconfig.ini");
  const int access =
      platform::IniFile("sysconfig.ini").getInt("System", "callintype", CTI_MODE_TELEPHONE);
  int outer = 0, inner = 0;
  int n = locked([&](Simulator& s) {
    chooseLines();
    int count = s.reset(settings);
    outer = count;
    if (access == CTI_MODE_TELEPHONE) count = startTelephone(settings, &outer, &inner);
    if (access == CTI_MODE_SIP) outer = count = startSip("sysconfig.ini");
    return count;
  });
  if (a) *a = outer;
  if (b) *b = inner;
  return n;
}

void SetChanDataMem(unsigned char* table) {
  locked([&](Simulator& s) {
    s.setTable(table);
    if (gSip) gSip->setTable(table);
    return 0;
  });
}

int CTIGetChannelType(int ch) {
  return onLine(ch, [&](hardware::Lines& l) { return l.channelType(ch); });
}

int CTIGetOutLineStatus(int ch, int mode) {
  return onLine(ch, [&](hardware::Lines& l) { return l.outLineStatus(ch); });
}

int CTIGetInLineStatus(int ch) {
  return onLine(ch, [&](hardware::Lines& l) { return l.inLineStatus(ch); });
}

int CTIGetCallInNum(int ch, char* num) {
  return onLine(ch, [&](hardware::Lines& l) { return l.callInNum(ch, num); });
}

int CTISetOutOffHook(int ch) {
  return onLine(ch, [&](hardware::Lines& l) { return l.offHook(ch); });
}

int CTISetOutHook(int ch) {
  return onLine(ch, [&](hardware::Lines& l) { return l.onHook(ch); });
}

int CTIFlushDTMF(int ch, int mode) {
  return onLine(ch, [&](hardware::Lines& l) { return l.flushKeys(ch); });
}

int CTIGetDtmf(int ch, int* key, int mode) {
  return onLine(ch, [&](hardware::Lines& l) { return l.getKey(ch, key); });
}

int CTIPlayFile(int ch, const char* path, int mode) {
  return onLine(ch, [&](hardware::Lines& l) { return l.playFile(ch, path); });
}

int CTIPlayIndex(int ch, int index) {
  return onLine(ch, [&](hardware::Lines& l) { return l.playIndex(ch, index, false); });
}

int CycPlayIndex(int ch, int index) {
  return onLine(ch, [&](hardware::Lines& l) { return l.playIndex(ch, index, true); });
}

// -2 also while a recording on the line has failed to write (see below).
int CTIGetPlayfinish(int ch, int mode) {
  return onLine(ch, [&](hardware::Lines& l) { return l.playFinished(ch); });
}

int CTIStopPlayFile(int ch, int mode) {
  return onLine(ch, [&](hardware::Lines& l) { return l.stopPlay(ch); });
}

int CTIRecFile(int ch, const char* path, int mode) {
  return onLine(ch, [&](hardware::Lines& l) { return l.recordFile(ch, path); });
}

// 0, or the negative errno value of a write that failed while recording
// (-ENOSPC for a full disk): the recorded file is then incomplete.
int CTIStopRecord(int ch, int mode) {
  return onLine(ch, [&](hardware::Lines& l) { return l.stopRecord(ch); });
}

int CTIStopRP(int ch, int mode) {
  return onLine(ch, [&](hardware::Lines& l) {
    l.stopPlay(ch);
    return l.stopRecord(ch);
  });
}

int CTIRingIn(int ch, int ring) {
  return onLine(ch, [&](hardware::Lines& l) { return l.ringIn(ch, ring); });
}

int CTIStopRingIn(int ch) {
  return onLine(ch, [&](hardware::Lines& l) { return l.stopRingIn(ch); });
}

int CTIChConnCh(int ch1, int ch2) {
  return onLine(ch1, [&](hardware::Lines& l) { return l.connect(ch1, ch2); });
}

int CTICallOut(int ch, const char* number) {
  return onLine(ch, [&](hardware::Lines& l) { return l.callOut(ch, number); });
}

int CTIOpenMCI(void) {
  return locked([](Simulator& s) { return s.openSound(); });
}

int CTICloseMCI(void) {
  return locked([](Simulator& s) { return s.closeSound(); });
}

int CTISetKeyDtmf(int ch, int key) {
  return onLine(ch, [&](hardware::Lines& l) { return l.inject(ch, key); });
}

int CTIClearKeyDtmf(int ch) {
  return onLine(ch, [&](hardware::Lines& l) { return l.flushKeys(ch); });
}

// The symbol string of a value (play types and symbols in combine.h); 1 when
// the value cannot be composed or its symbols would not fit in 512 bytes.
int GetCombineStr(int playType, const char* content, char* text) {
  if (!text) return 1;
  text[0] = '\0';
  if (!content) return 1;
  auto symbols = hardware::composeValue(playType, content);
  if (!symbols || symbols->size() > 511) return 1;
  std::memcpy(text, symbols->c_str(), symbols->size() + 1);
  return 0;
}

}  // extern "C"
