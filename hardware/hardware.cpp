// The exported CTI functions: one simulator behind one lock, because the
// KeyCall receiver thread and the scan thread call in at the same time.
#include "hardware/hardware.h"

#include "hardware/combine.h"

#include <cstring>
#include <mutex>

#include "hardware/hardware_internal.h"
#include "hardware/simulator.h"

namespace {

std::mutex gLock;

// Never destroyed: worker threads of the runtime may still call in while
// the process exits. Recordings are written as they grow, so nothing waits
// for a destructor.
hardware::Simulator& sim() {
  static hardware::Simulator* s = new hardware::Simulator(&platform::SystemClock::instance());
  return *s;
}

template <typename F>
auto locked(F f) {
  std::lock_guard<std::mutex> g(gLock);
  return f(sim());
}

}  // namespace

namespace hardware_internal {

void setClock(platform::Clock* clock) {
  locked([&](hardware::Simulator& s) {
    s.setClock(clock ? clock : &platform::SystemClock::instance());
    return 0;
  });
}

int reinit(const hardware::Settings& settings) {
  return locked([&](hardware::Simulator& s) { return s.reset(settings); });
}

hardware::LineRequests requests(int ch) {
  return locked([&](hardware::Simulator& s) { return s.requests(ch); });
}

int soundOpens() {
  return locked([](hardware::Simulator& s) { return s.soundOpens(); });
}

}  // namespace hardware_internal

using hardware::Simulator;

extern "C" {

// *a receives the number of outer lines, *b the number of inner lines.
int InitQam(int* a, int* b) {
  hardware::Settings settings = hardware::readSettings("sysconfig.ini");
  int n = locked([&](Simulator& s) { return s.reset(settings); });
  if (a) *a = n;
  if (b) *b = 0;
  return n;
}

void SetChanDataMem(unsigned char* table) {
  locked([&](Simulator& s) {
    s.setTable(table);
    return 0;
  });
}

int CTIGetChannelType(int ch) {
  return locked([&](Simulator& s) { return s.channelType(ch); });
}

int CTIGetOutLineStatus(int ch, int mode) {
  return locked([&](Simulator& s) { return s.outLineStatus(ch); });
}

int CTIGetInLineStatus(int ch) {
  return locked([&](Simulator& s) { return s.inLineStatus(ch); });
}

int CTIGetCallInNum(int ch, char* num) {
  return locked([&](Simulator& s) { return s.callInNum(ch, num); });
}

int CTISetOutOffHook(int ch) {
  return locked([&](Simulator& s) { return s.offHook(ch); });
}

int CTISetOutHook(int ch) {
  return locked([&](Simulator& s) { return s.onHook(ch); });
}

int CTIFlushDTMF(int ch, int mode) {
  return locked([&](Simulator& s) { return s.flushKeys(ch); });
}

int CTIGetDtmf(int ch, int* key, int mode) {
  return locked([&](Simulator& s) { return s.getKey(ch, key); });
}

int CTIPlayFile(int ch, const char* path, int mode) {
  return locked([&](Simulator& s) { return s.playFile(ch, path); });
}

int CTIPlayIndex(int ch, int index) {
  return locked([&](Simulator& s) { return s.playIndex(ch, index, false); });
}

int CycPlayIndex(int ch, int index) {
  return locked([&](Simulator& s) { return s.playIndex(ch, index, true); });
}

// -2 also while a recording on the line has failed to write (see below).
int CTIGetPlayfinish(int ch, int mode) {
  return locked([&](Simulator& s) { return s.playFinished(ch); });
}

int CTIStopPlayFile(int ch, int mode) {
  return locked([&](Simulator& s) { return s.stopPlay(ch); });
}

int CTIRecFile(int ch, const char* path, int mode) {
  return locked([&](Simulator& s) { return s.recordFile(ch, path); });
}

// 0, or the negative errno value of a write that failed while recording
// (-ENOSPC for a full disk): the recorded file is then incomplete.
int CTIStopRecord(int ch, int mode) {
  return locked([&](Simulator& s) { return s.stopRecord(ch); });
}

int CTIStopRP(int ch, int mode) {
  return locked([&](Simulator& s) {
    s.stopPlay(ch);
    return s.stopRecord(ch);
  });
}

int CTIRingIn(int ch, int ring) {
  return locked([&](Simulator& s) { return s.ringIn(ch, ring); });
}

int CTIStopRingIn(int ch) {
  return locked([&](Simulator& s) { return s.stopRingIn(ch); });
}

int CTIChConnCh(int ch1, int ch2) {
  return locked([&](Simulator& s) { return s.connect(ch1, ch2); });
}

int CTICallOut(int ch, const char* number) {
  return locked([&](Simulator& s) { return s.callOut(ch, number); });
}

int CTIOpenMCI(void) {
  return locked([](Simulator& s) { return s.openSound(); });
}

int CTICloseMCI(void) {
  return locked([](Simulator& s) { return s.closeSound(); });
}

int CTISetKeyDtmf(int ch, int key) {
  return locked([&](Simulator& s) { return s.inject(ch, key); });
}

int CTIClearKeyDtmf(int ch) {
  return locked([&](Simulator& s) { return s.flushKeys(ch); });
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
