// The library's process-wide state and the helpers every export shares:
// the request path with its locks, channel checks, the event rings and the
// poller. Internal: the exports in zt_api.h are the library's interface.
#pragma once

#include <semaphore.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "voicebox/request.h"

namespace parvane {

constexpr int kMaxChannels = 128;
constexpr int kEventWords = 27;
constexpr int kEventBytes = kEventWords * 4;
static_assert(kEventBytes == 108);
constexpr int kRingRecords = 100;
constexpr int kDtmfBuffer = 128;
constexpr int kProgressBlock = 2048;
constexpr int kPollerPeriodMs = 200;
// Characters of text an event record holds after its code and channel.
constexpr int kEventTextMax = (kEventWords - 2) * 4 - 1;

// Last-error codes.
constexpr int kErrNoDevice = 255;
constexpr int kErrBusy = 6;
constexpr int kErrBadChannel = 4;
constexpr int kErrRange = 5;
constexpr int kErrNoMemory = 7;

// Voice operations of a channel (the playback and recording code sets them).
enum VoiceOp : int {
  kOpNone = 0,
  kOpBufferRecord = 1,
  kOpBufferPlay = 2,
  kOpFileRecord = 3,
  kOpFilePlay = 4
};

// A process-wide object that is never destroyed: threads of the library may
// still use it while the program exits, and a std::thread still running at
// destruction would end the program. It lives in static storage, so an
// unloaded library leaves no heap block behind either.
template <typename T>
class NoDestroy {
 public:
  NoDestroy() { new (buf_) T(); }
  T& get() { return *std::launder(reinterpret_cast<T*>(buf_)); }

 private:
  alignas(T) unsigned char buf_[sizeof(T)];
};

// A Windows-style auto-reset event: one wait is released per set.
class AutoResetEvent {
 public:
  void set();
  // True when set within ms (and the event is reset again).
  bool wait(int ms);

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool set_ = false;
};

// A lock waited for with a deadline. Built on a plain mutex and a condition
// variable: ThreadSanitizer does not follow the timed lock of std::timed_mutex.
class TimedLock {
 public:
  void lock();
  void unlock();
  bool try_lock_until(std::chrono::steady_clock::time_point deadline);

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool held_ = false;
};

// 100 records, 99 usable: one producer (the poller) and one consumer (the
// application), each record complete before the write index moves.
class EventRing {
 public:
  bool post(const int32_t (&record)[kEventWords]);
  bool get(int* out);
  int pending();
  void clear();

 private:
  std::mutex m_;
  std::array<std::array<int32_t, kEventWords>, kRingRecords> records_{};
  int read_ = 0, write_ = 0;
};

struct ChannelState {
  EventRing events;
  // The wake-up event exists from ZT_Installed on; before, nobody is woken.
  AutoResetEvent wakeEvent;
  std::atomic<AutoResetEvent*> wake{nullptr};
  std::atomic<bool> waiting{false};

  // Detection.
  std::atomic<int> lastHookOff{0};
  std::atomic<int> lastRing{0};
  std::atomic<bool> type10{false};

  // DTMF buffer: the poller and the application both read it.
  std::mutex dtmfMutex;
  char dtmf[kDtmfBuffer + 1] = {};
  int dtmfLength = 0, dtmfRead = 0;
  std::string dtmfText;  // what ZT_GetDTMFStr last returned

  // Dialling.
  std::atomic<bool> dialling{false};
  std::atomic<int> dialLength{0}, dialReported{0}, hookAtDial{0};
  std::atomic<int64_t> dialEndMs{0};
  std::atomic<bool> dialEnded{false};

  // Call progress.
  std::atomic<bool> monitoring{false}, answered{false}, offHookCheck{false};
  std::atomic<int64_t> monitorStartMs{0}, offHookCheckMs{0};

  // Channel timer.
  std::atomic<int64_t> timerStartMs{0};
  std::atomic<int> timerLimit{0};
  std::atomic<bool> timerArmed{false};

  std::atomic<int> sendMode{0};

  // Voice operations, for the poller's progress reports.
  std::atomic<int> playOp{kOpNone}, recordOp{kOpNone};
  std::atomic<int64_t> playTotal{0}, playOffset{0};
  std::atomic<int> playBlocksReported{0}, lastPlayError{0};
  std::atomic<int64_t> recordBytes{0};
  std::atomic<int> recordBlocksReported{0};
  // 1 while the application's continuation goes on, 0 done, negative failed.
  std::atomic<int> recordResult{1};
  std::atomic<bool> sentencePlaying{false};
  std::atomic<double> volume{1.0};
};

// The continuations of the playback code that the poller calls; empty until
// that code registers them.
struct VoiceHooks {
  int (*playRest)(int channel) = nullptr;
  int (*playFileRest)(int channel) = nullptr;
  int (*sentenceRest)(int channel) = nullptr;  // <0 error, 0 done, >0 goes on
  void (*stopFilePlay)(int channel) = nullptr;
};

struct Library {
  std::atomic<bool> open{false}, initialised{false};
  std::atomic<int> channels{0};
  std::array<std::atomic<int32_t>, kSysParaWords> sysPara{};
  std::atomic<int> lastError{0};
  std::atomic<bool> answered{false}, stoppedAnswering{false};

  // Request lock: one request at a time in this process, and through the
  // named semaphore across processes that share a device.
  TimedLock requestLock;
  sem_t* namedSem = nullptr;  // changed only under requestLock
  std::string namedSemName;
  std::atomic<int> lockWaitMs{10000};

  // Buffer lock for play and record buffers.
  std::mutex bufferLock;
  std::atomic<bool> bufferLockOpen{false};

  // Settings.
  std::atomic<int> bufLength{16384};
  std::atomic<int> nobodySeconds{10};
  std::atomic<int> timeInterval{16};

  // Poller.
  std::mutex pollerMutex;
  std::condition_variable pollerCv;
  bool pollerStop = false;
  std::thread poller;
  std::atomic<bool> usePoller{false};

  // Timer path.
  std::mutex timerMutex;
  std::condition_variable timerCv;
  bool timerStop = false, timerRunning = false;
  std::thread timer;
  std::atomic<int> timerEventFd{-1};
  std::atomic<void (*)(int, int)> timerCallback{nullptr};
  std::atomic<uint64_t> timerTicks{0};
  // Set on every tick; the timer path's tick (ZT_Playing_Rcding) waits for it.
  AutoResetEvent timerEvent;

  // Busy tones registered with ZT_SetSignalParam.
  std::mutex busyMutex;
  std::array<int, 9> busyIds{};
  int busyCount = 0;

  VoiceHooks hooks;
  ChannelState ch[kMaxChannels];
};

Library& lib();

// Sends one request: 0 carried, -1 with the last error set (255 device not
// open, 6 lock not obtained, else the device's code).
int request(int code, RequestBlock& block);
// As request, and -1 as well when the device did not answer it.
int ask(int code, RequestBlock& block);
// A block with w0, w1, w2 set.
RequestBlock makeBlock(int32_t w0 = 0, int32_t w1 = 0, int32_t w2 = 0);

// 0..127, else error 4.
bool checkChannel(int channel);
// Events: true when the record went into the ring.
bool postEvent(int channel, int code, std::initializer_list<int32_t> data = {});
bool postEventText(int channel, int code, const std::string& text);

int64_t nowMs();
void pauseMs(int ms);

// One detection step of a channel and one poller pass over every channel.
void detectionStep(int channel);
void voiceStep(int channel);
void pollerPass();

bool isBusyTone(int signal);

// Starts the periodic timer of the timer path unless it runs (false when
// its thread cannot be made), and stops it (the stop of playback uses it).
bool startTimer();
void stopTimer();
bool timerRunning();

// The voice code's continuations for the poller, and the end of every voice
// operation (files closed, buffers freed) when the library is reset.
VoiceHooks voiceHooks();
void resetVoice();

// Ends the caller-ID sender thread of ZT_SendCID_Ring, if one runs.
void stopCallerIdSender();
// Waits for the caller-ID sender to finish; its result (1 done, -1 device
// failure, -3 bad mode).
int joinCallerIdSender();

// Puts the library back as loaded: device closed, threads stopped, state
// cleared. For tests, which run many openings in one process.
void resetLibrary();

}  // namespace parvane
