// Opening and initialising the box, the request path, events, settings, the
// poller thread and the timer path.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "voicebox/library.h"
#include "voicebox/transport.h"
#include "voicebox/vbox_control.h"
#include "voicebox/zt_api.h"

namespace parvane {

// ---- events ----

void AutoResetEvent::set() {
  {
    std::lock_guard lock(m_);
    set_ = true;
  }
  cv_.notify_one();
}

bool AutoResetEvent::wait(int ms) {
  std::unique_lock lock(m_);
  if (!cv_.wait_for(lock, std::chrono::milliseconds(ms > 0 ? ms : 0), [&] { return set_; }))
    return false;
  set_ = false;
  return true;
}

void TimedLock::lock() {
  std::unique_lock lock(m_);
  cv_.wait(lock, [&] { return !held_; });
  held_ = true;
}

void TimedLock::unlock() {
  {
    std::lock_guard lock(m_);
    held_ = false;
  }
  cv_.notify_one();
}

bool TimedLock::try_lock_until(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(m_);
  if (!cv_.wait_until(lock, deadline, [&] { return !held_; })) return false;
  held_ = true;
  return true;
}

bool EventRing::post(const int32_t (&record)[kEventWords]) {
  std::lock_guard lock(m_);
  int free = (read_ - write_ + kRingRecords - 1) % kRingRecords;
  if (free == 0) return false;
  std::copy(record, record + kEventWords, records_[write_].begin());
  write_ = (write_ + 1) % kRingRecords;
  return true;
}

bool EventRing::get(int* out) {
  std::lock_guard lock(m_);
  if (read_ == write_) return false;
  std::copy(records_[read_].begin(), records_[read_].end(), out);
  read_ = (read_ + 1) % kRingRecords;
  return true;
}

int EventRing::pending() {
  std::lock_guard lock(m_);
  return (write_ - read_ + kRingRecords) % kRingRecords;
}

void EventRing::clear() {
  std::lock_guard lock(m_);
  read_ = write_ = 0;
}

Library& lib() {
  static NoDestroy<Library> l;
  return l.get();
}

bool checkChannel(int channel) {
  if (channel >= 0 && channel < kMaxChannels) return true;
  lib().lastError = kErrBadChannel;
  return false;
}

bool postEvent(int channel, int code, std::initializer_list<int32_t> data) {
  int32_t r[kEventWords] = {};
  r[0] = code;
  r[1] = channel;
  int i = 2;
  for (int32_t d : data)
    if (i < kEventWords) r[i++] = d;
  return lib().ch[channel].events.post(r);
}

bool postEventText(int channel, int code, const std::string& text) {
  int32_t r[kEventWords] = {};
  r[0] = code;
  r[1] = channel;
  // The text starts at w2, zero-terminated within the record.
  std::memcpy(&r[2], text.data(), std::min<size_t>(kEventTextMax, text.size()));
  return lib().ch[channel].events.post(r);
}

int64_t nowMs() {
  return deviceNowMs();
}
void pauseMs(int ms) {
  devicePauseMs(ms);
}

// ---- requests ----

RequestBlock makeBlock(int32_t w0, int32_t w1, int32_t w2) {
  RequestBlock b{};
  putInt(b.data(), kW0, w0);
  putInt(b.data(), kW1, w1);
  putInt(b.data(), kW2, w2);
  return b;
}

namespace {

bool semWait(sem_t* s, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    auto left = deadline - std::chrono::steady_clock::now();
    if (left < std::chrono::steady_clock::duration::zero()) left = {};
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    ts.tv_sec += ns / 1'000'000'000;
    ts.tv_nsec += ns % 1'000'000'000;
    if (ts.tv_nsec >= 1'000'000'000) {
      ++ts.tv_sec;
      ts.tv_nsec -= 1'000'000'000;
    }
    if (sem_timedwait(s, &ts) == 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace

int request(int code, RequestBlock& block) {
  Library& l = lib();
  if (!l.open) {
    l.lastError = kErrNoDevice;
    return -1;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(l.lockWaitMs);
  if (!l.requestLock.try_lock_until(deadline)) {
    l.lastError = kErrBusy;
    return -1;
  }
  if (l.namedSem && !semWait(l.namedSem, deadline)) {
    l.requestLock.unlock();
    l.lastError = kErrBusy;
    return -1;
  }
  putWord(block.data(), kW6, kMarkerSent);
  int rc = transport(controlCode(code), block.data());
  if (rc == 0) l.answered = getWord(block.data(), kW6) == kMarkerServed;
  if (l.namedSem) sem_post(l.namedSem);
  l.requestLock.unlock();
  if (rc != 0) {
    l.lastError = getInt(block.data(), kW0);
    return -1;
  }
  return 0;
}

int ask(int code, RequestBlock& block) {
  if (request(code, block) != 0) return -1;
  if (!lib().answered) {
    lib().stoppedAnswering = true;
    return -1;
  }
  return 0;
}

// ---- poller ----

void voiceStep(int channel) {
  Library& l = lib();
  ChannelState& c = l.ch[channel];
  auto reportProgress = [&](bool final) {
    RequestBlock b = makeBlock(0, channel);
    if (ask(kReqPosition, b) != 0) {
      postEvent(channel, ZT_EV_PLAY_ERROR);
      return;
    }
    int64_t position = getInt(b.data(), kW0) + c.playOffset.load();
    int64_t left = std::max<int64_t>(0, c.playTotal.load() - position);
    int blocks = static_cast<int>(position / kProgressBlock);
    if (final && position >= c.playTotal.load())
      blocks = static_cast<int>((c.playTotal.load() + kProgressBlock - 1) / kProgressBlock);
    while (c.playBlocksReported.load() < blocks) {
      int n = ++c.playBlocksReported;
      postEvent(channel, ZT_EV_PLAY_PROGRESS, {static_cast<int32_t>(left), n});
    }
  };

  int op = c.playOp.load();
  if (op == kOpBufferPlay || op == kOpFilePlay) {
    reportProgress(false);
    int (*rest)(int) = op == kOpBufferPlay ? l.hooks.playRest : l.hooks.playFileRest;
    int r = rest ? rest(channel) : 1;
    if (r < 0) {
      postEvent(channel, ZT_EV_PLAY_ERROR);
      c.lastPlayError = r;
      c.playOp = kOpNone;
    } else if (r == 0 && !(op == kOpFilePlay && c.sentencePlaying.load())) {
      c.playOp = kOpNone;
      reportProgress(true);
      postEvent(channel, ZT_EV_PLAY_DONE, {c.playBlocksReported.load()});
    }
  }

  // Recordings are continued by the application; the poller only reports
  // what its continuation left in the channel state.
  op = c.recordOp.load();
  if (op == kOpBufferRecord || op == kOpFileRecord) {
    int blocks = static_cast<int>(c.recordBytes.load() / kProgressBlock);
    while (c.recordBlocksReported.load() < blocks) {
      int n = ++c.recordBlocksReported;
      postEvent(channel, ZT_EV_RECORD_PROGRESS, {static_cast<int32_t>(c.recordBytes.load()), n});
    }
    int r = c.recordResult.load();
    if (r == 0) {
      c.recordOp = kOpNone;
      postEvent(channel, ZT_EV_RECORD_DONE, {static_cast<int32_t>(c.recordBytes.load())});
    } else if (r < 0) {
      c.recordOp = kOpNone;
      postEvent(channel, ZT_EV_RECORD_ERROR, {r});
    }
  }
}

void pollerPass() {
  Library& l = lib();
  int n = std::min(l.channels.load(), kMaxChannels);
  for (int ch = 0; ch < n; ++ch) {
    int type = ZT_ChannelType(ch);
    if (type < 0 || type == 2) continue;
    detectionStep(ch);
    voiceStep(ch);
    ChannelState& c = l.ch[ch];
    if (c.events.pending() > 0)
      if (AutoResetEvent* w = c.wake.load()) w->set();
  }
}

namespace {

void pollerMain() {
  Library& l = lib();
  for (auto& c : l.ch) {
    c.playOp = kOpNone;
    c.recordOp = kOpNone;
  }
  std::unique_lock lock(l.pollerMutex);
  while (!l.pollerStop) {
    l.pollerCv.wait_for(lock, std::chrono::milliseconds(kPollerPeriodMs),
                        [&] { return l.pollerStop; });
    if (l.pollerStop) break;
    lock.unlock();
    pollerPass();
    lock.lock();
  }
}

// The poller stops at the end of its pass rather than being killed: a
// thread killed inside a request would keep the request lock for ever.
bool stopPoller() {
  Library& l = lib();
  if (!l.poller.joinable()) return false;
  {
    std::lock_guard lock(l.pollerMutex);
    l.pollerStop = true;
  }
  l.pollerCv.notify_all();
  l.poller.join();
  l.pollerStop = false;
  return true;
}

void timerMain() {
  Library& l = lib();
  // Raised priority where the system allows it; a normal one otherwise.
  sched_param sp{};
  sp.sched_priority = sched_get_priority_min(SCHED_FIFO);
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);
  auto next = std::chrono::steady_clock::now();
  std::unique_lock lock(l.timerMutex);
  while (!l.timerStop) {
    next += std::chrono::milliseconds(l.timeInterval.load());
    if (l.timerCv.wait_until(lock, next, [&] { return l.timerStop; })) break;
    lock.unlock();
    ++l.timerTicks;
    l.timerEvent.set();
    if (auto cb = l.timerCallback.load()) cb(3, 0);
    int fd = l.timerEventFd.load();
    if (fd >= 0) {
      uint64_t one = 1;
      [[maybe_unused]] ssize_t w = ::write(fd, &one, sizeof one);
    }
    lock.lock();
  }
}

void createWakeEvents() {
  for (auto& c : lib().ch)
    c.wake = &c.wakeEvent;
}

void closeNamedSem() {
  Library& l = lib();
  std::lock_guard lock(l.requestLock);
  if (l.namedSem) sem_close(l.namedSem);
  l.namedSem = nullptr;
}

}  // namespace

bool startTimer() {
  Library& l = lib();
  std::lock_guard lock(l.timerMutex);
  if (l.timerRunning) return true;
  l.timerStop = false;
  try {
    l.timer = std::thread(timerMain);
  } catch (...) {
    return false;
  }
  l.timerRunning = true;
  return true;
}

bool timerRunning() {
  Library& l = lib();
  std::lock_guard lock(l.timerMutex);
  return l.timerRunning;
}

void stopTimer() {
  Library& l = lib();
  std::thread t;
  {
    std::lock_guard lock(l.timerMutex);
    if (!l.timerRunning) return;
    l.timerStop = true;
    l.timerRunning = false;
    t = std::move(l.timer);
  }
  l.timerCv.notify_all();
  if (t.joinable()) t.join();
}

bool isBusyTone(int signal) {
  if (signal == kSignalBusy1 || signal == kSignalBusy2) return true;
  Library& l = lib();
  std::lock_guard lock(l.busyMutex);
  for (int i = 0; i < l.busyCount; ++i)
    if (l.busyIds[i] == signal) return true;
  return false;
}

void resetLibrary() {
  Library& l = lib();
  stopPoller();
  stopTimer();
  stopCallerIdSender();
  resetVoice();
  VBox_StopControl();
  closeNamedSem();
  l.open = false;
  l.initialised = false;
  transportClose();
  l.channels = 0;
  l.lastError = 0;
  l.answered = false;
  l.stoppedAnswering = false;
  l.lockWaitMs = 10000;
  l.bufLength = 16384;
  l.nobodySeconds = 10;
  l.timeInterval = 16;
  l.timerEventFd = -1;
  l.timerCallback = nullptr;
  {
    std::lock_guard lock(l.busyMutex);
    l.busyCount = 0;
  }
  l.hooks = {};
  for (auto& c : l.ch) {
    c.events.clear();
    c.lastHookOff = 0;
    c.lastRing = 0;
    c.type10 = false;
    {
      std::lock_guard lock(c.dtmfMutex);
      c.dtmfLength = c.dtmfRead = 0;
      c.dtmf[0] = 0;
    }
    c.dialling = false;
    c.dialEnded = false;
    c.monitoring = c.answered = c.offHookCheck = false;
    c.timerArmed = false;
    c.timerLimit = 0;
    c.sendMode = 0;
    c.playOp = c.recordOp = kOpNone;
    c.sentencePlaying = false;
    c.volume = 1.0;
  }
}

}  // namespace parvane

using namespace parvane;

// ---- frame exports ----

extern "C" int ZT_Installed(void) {
  Library& l = lib();
  if (!transportOpen()) {
    l.lastError = kErrNoDevice;
    return 0;
  }
  l.open = true;
  std::array<int32_t, kSysParaWords> para{};
  RequestBlock b = makeBlock(0, 0, kSysParaBytes);
  putAddress(b.data(), para.data());
  if (request(kReqSysPara, b) != 0) {
    l.open = false;
    transportClose();
    l.lastError = kErrNoDevice;
    return 0;
  }
  for (int i = 0; i < kSysParaWords; ++i)
    l.sysPara[i] = para[i];
  createWakeEvents();
  int n = std::clamp<int>(para[kSysParaChannelsWord], 0, kMaxChannels);
  for (int i = 0; i < n; ++i) {
    ChannelState& c = l.ch[i];
    c.lastHookOff = 0;
    c.lastRing = 0;
    c.events.clear();
  }
  l.channels = n;
  if (transportIsVirtual()) VBox_StartControl(nullptr);
  return n;
}

extern "C" int ZT_InitializeEx(int usePoller) {
  Library& l = lib();
  l.usePoller = usePoller != 0;
  // The named semaphore keeps requests of several processes to one device
  // apart. The virtual box belongs to its process alone, so its semaphore
  // gets a name of its own and loses it at once: no other process can wait
  // on it, and none is left behind by a process that dies holding it.
  {
    std::lock_guard lock(l.requestLock);
    if (!l.namedSem) {
      std::string name = "/Nelbox8AsyncSemaphore";
      if (transportIsVirtual()) name += "." + std::to_string(::getpid());
      sem_t* s = sem_open(name.c_str(), O_CREAT, 0600, 1);
      if (s == SEM_FAILED) {
        l.lastError = kErrNoDevice;
        return -1;
      }
      if (transportIsVirtual()) sem_unlink(name.c_str());
      l.namedSem = s;
      l.namedSemName = name;
    }
  }
  l.bufferLockOpen = true;
  l.hooks = voiceHooks();

  RequestBlock b = makeBlock();
  int rc = request(kReqInit, b);
  int result = rc == 0 ? 0 : getInt(b.data(), kW0);
  for (int ch = 0; ch < l.channels.load(); ++ch) {
    ZT_FlushDTMF(ch);
    ChannelState& c = l.ch[ch];
    c.playOp = c.recordOp = kOpNone;
    c.dialling = false;
    c.volume = 1.0;
  }
  if (rc != 0) return result != 0 ? result : -1;

  if (l.usePoller) {
    stopPoller();
    try {
      l.poller = std::thread(pollerMain);
    } catch (...) {
      closeNamedSem();
      l.bufferLockOpen = false;
      l.lastError = kErrNoDevice;
      return -1;
    }
  }
  ZT_SetChannelFreq(0, 453);
  ZT_SetChannelFreq(1, 453);
  l.initialised = true;
  return 0;
}

extern "C" int ZT_Initialize(void) {
  return ZT_InitializeEx(0);
}

extern "C" int ZT_Disable(void) {
  Library& l = lib();
  bool stopped = stopPoller();
  stopCallerIdSender();
  l.bufferLockOpen = false;
  pauseMs(1000);
  RequestBlock b = makeBlock();
  request(kReqDisable, b);
  closeNamedSem();
  l.initialised = false;
  return stopped ? 1 : 0;
}

extern "C" int ZT_GetCardStatus(void) {
  return lib().answered ? 1 : 0;
}
extern "C" int ZT_GetLastError(void) {
  return lib().lastError;
}

extern "C" int ZT_SysPara(int* block) {
  if (!block) {
    lib().lastError = kErrRange;
    return -1;
  }
  std::array<int32_t, kSysParaWords> para{};
  RequestBlock b = makeBlock(0, 0, kSysParaBytes);
  putAddress(b.data(), para.data());
  if (ask(kReqSysPara, b) != 0) return -1;
  std::memcpy(block, para.data(), kSysParaBytes);
  return 0;
}

extern "C" int ZT_WaitForEvent(int channel, int milliseconds, int* event) {
  if (channel < 0 || channel >= kMaxChannels || !event) return -1;
  ChannelState& c = lib().ch[channel];
  // A pending event needs no wait: the wake-up for it may have been used up.
  if (c.events.pending() == 0) {
    if (AutoResetEvent* w = c.wake.load()) {
      c.waiting = true;
      w->wait(milliseconds);
      c.waiting = false;
    }
  }
  return c.events.get(event) ? 1 : 0;
}

extern "C" int ZT_GetEvent(int channel, int* event) {
  if (channel < 0 || channel >= kMaxChannels || !event) return -1;
  return lib().ch[channel].events.get(event) ? 1 : 0;
}

extern "C" int ZT_ClearEvent(int channel) {
  if (channel < 0 || channel >= kMaxChannels) return -1;
  lib().ch[channel].events.clear();
  return 1;
}

extern "C" int ZT_SetBufLength(int length) {
  if (length < 2048 || length > 16384) {
    lib().lastError = kErrRange;
    return -1;
  }
  lib().bufLength = length;
  return 0;
}

extern "C" int ZT_SetNobodyTime(int seconds) {
  if (seconds <= 0) {
    lib().lastError = kErrBadChannel;
    return -1;
  }
  lib().nobodySeconds = seconds;
  return 0;
}

extern "C" int ZT_SetTimeInterval(int milliseconds) {
  if (milliseconds != 16 && milliseconds != 20 && milliseconds != 30) return -1;
  Library& l = lib();
  bool running;
  {
    std::lock_guard lock(l.timerMutex);
    running = l.timerRunning;
  }
  if (running) stopTimer();
  l.timeInterval = milliseconds;
  if (running) startTimer();
  RequestBlock b = makeBlock(milliseconds);
  if (ask(kReqTimeInterval, b) != 0) return -1;
  return getInt(b.data(), kW2);
}

extern "C" int ZT_SetZoomPcmRate(int channel, double factor) {
  if (!checkChannel(channel)) return -1;
  if (!(factor > 0.0 && factor <= 10.0)) {
    lib().lastError = kErrRange;
    return -1;
  }
  lib().ch[channel].volume = factor;
  return 0;
}

extern "C" int ZT_SetRPCallorEvent(int eventFd, void (*callback)(int, int)) {
  Library& l = lib();
  l.timerEventFd = eventFd;
  l.timerCallback = callback;
  return startTimer() ? 1 : -9;
}

extern "C" int ZT_SetWatchdog(void) {
  static std::atomic<int> next{1};
  int v = next.fetch_xor(1);
  RequestBlock b = makeBlock(0, v);
  if (ask(kReqWatchdog, b) != 0) return -1;
  return getInt(b.data(), kW0);
}
