// Full-duplex recording with echo cancelling, the timer path's tick, inserted
// playback data and the conversation recording of two channels.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "voicebox/alaw.h"
#include "voicebox/voice.h"
#include "voicebox/zt_api.h"

namespace parvane {

namespace {

constexpr int kConversationBuffer = 32768;
constexpr int kConversationSwitch = 512;

// A conversation recording, kept under its first channel.
struct Conversation {
  bool active = false;
  int second = -1;
  int fd = -1;
  int64_t written = 0;
  // Two buffers per channel; cur says which one fills.
  std::unique_ptr<uint8_t[]> buf[2][2];
  int fill[2] = {0, 0};
  int cur = 0;
};

NoDestroy<std::array<Conversation, kMaxChannels>> gConversations;

void endConversationLocked(int channel, Conversation& cv) {
  int chans[2] = {channel, cv.second};
  for (int ch : chans) {
    RecordState& r = voiceChannel(ch).record;
    recordStopDeviceLocked(ch, r);
    r.conversation = false;
    r.buffer = nullptr;
    r.remaining = r.total = 0;
  }
  if (cv.fd >= 0) ::close(cv.fd);
  cv = Conversation{};
}

}  // namespace

void resetConversations() {
  for (auto& cv : gConversations.get()) {
    if (cv.fd >= 0) ::close(cv.fd);
    cv = Conversation{};
  }
}

int duplexTick(int channel, uint8_t* out, int outSize) {
  VoiceChannel& v = voiceChannel(channel);
  v.tickIn.resize(kDuplexReadMax);
  RequestBlock b = makeBlock(0, channel, kDuplexReadMax);
  putAddress(b.data(), v.tickIn.data());
  if (ask(kReqReadRecordedDuplex, b) != 0) return -1;
  int count = std::clamp(getInt(b.data(), kW2), 0, kDuplexReadMax);
  RequestBlock step = makeBlock(0, channel);
  const bool duplex = ask(kReqFullDuplexStep, step) == 0 && lib().timeInterval.load() == 16 &&
                      count % 256 == 0 && count >= 256;
  if (duplex && outSize >= 128) {
    // Only the newest 16 ms count: older blocks would add delay.
    const uint8_t* block = v.tickIn.data() + count - 256;
    for (int i = 0; i < 128; ++i) {
      int cleaned = cancelSample(channel, alawDecode(block[i]), alawDecode(block[128 + i]));
      out[i] = alawEncodeClamped(cleaned * 2 / 3);
    }
    return 128;
  }
  // The raw bytes, no more than the caller's buffer holds.
  int n = std::min(count, std::max(outSize, 0));
  std::memcpy(out, v.tickIn.data(), static_cast<size_t>(n));
  return n;
}

int timerTick(int channel, const char* data, int length, char* out, int outSize,
              void (*callback)(int, int), int mode) {
  Library& l = lib();
  VoiceChannel& v = voiceChannel(channel);
  auto play = [&]() -> int {
    std::lock_guard lock(l.bufferLock);
    PlayState& p = v.play;
    if (!p.deviceOn) {
      RequestBlock s = makeBlock(0, channel, kDriverBufferBytes);
      if (ask(kReqPlay, s) != 0) return -1;
      p.deviceOn = true;
    }
    if (length > 0 && data) {
      // The caller may change its buffer as soon as the tick returns.
      v.tickOut.assign(data, data + length);
      RequestBlock w = makeBlock(0, channel, length);
      putAddress(w.data(), v.tickOut.data());
      if (ask(kReqWritePlay, w) != 0) return -1;
    }
    return 0;
  };
  auto startRecording = [&]() -> int {
    RecordState& r = v.record;
    if (r.deviceOn) return 0;
    RequestBlock s = makeBlock(0, channel, kDriverBufferBytes);
    if (ask(kReqRecord, s) != 0) return -1;
    r.deviceOn = true;
    resetCanceller(channel);
    return 0;
  };
  auto readPlain = [&]() -> int {
    if (!out || outSize <= 0) return 0;
    RequestBlock rd = makeBlock(0, channel, outSize);
    putAddress(rd.data(), out);
    if (ask(kReqReadRecorded, rd) != 0) return -1;
    return std::clamp(getInt(rd.data(), kW2), 0, outSize);
  };

  if (mode == 1) {
    if (play() != 0) return -1;
    if (callback) callback(1, 0);
    return length;
  }
  if (mode == 0) {
    int n;
    {
      std::lock_guard lock(l.bufferLock);
      if (startRecording() != 0) return -1;
      n = readPlain();
    }
    if (callback) callback(0, 0);
    return n;
  }
  if (play() != 0) return -1;
  if (callback) callback(1, 0);
  {
    std::lock_guard lock(l.bufferLock);
    if (startRecording() != 0) return -1;
    if (l.timeInterval.load() == 16) {
      if (out && outSize > 0 && duplexTick(channel, reinterpret_cast<uint8_t*>(out), outSize) < 0)
        return -1;
    } else if (readPlain() < 0) {
      return -1;
    }
  }
  if (callback) callback(0, 0);
  return 8 * l.timeInterval.load();
}

}  // namespace parvane

using namespace parvane;

extern "C" int ZT_StartRecord_D(int channel, char* buffer, int length) {
  return ZT_StartRecord(channel, buffer, length);
}

extern "C" int ZT_StopRecord_D(int channel) {
  return ZT_StopRecord(channel);
}

extern "C" int ZT_StartRecordFile_D(int channel, const char* name, int offset, int length) {
  return ZT_StartRecordFile(channel, name, offset, length);
}

extern "C" int ZT_StopRecordFile_D(int channel) {
  return ZT_StopRecordFile(channel);
}

extern "C" int ZT_RecordRest_D(int channel) {
  if (!checkChannel(channel)) return -1;
  std::lock_guard lock(lib().bufferLock);
  RecordState& r = voiceChannel(channel).record;
  if (r.conversation) return 0;
  return recordStepDuplexLocked(channel, r, kOpBufferRecord);
}

extern "C" int ZT_RecordFileRest_D(int channel) {
  if (!checkChannel(channel)) return -1;
  std::lock_guard lock(lib().bufferLock);
  return recordStepDuplexLocked(channel, voiceChannel(channel).record, kOpFileRecord);
}

extern "C" int ZT_PlayPut_D(int channel, const char* data, int length) {
  if (!checkChannel(channel)) return -1;
  if (!data || length < 1) return voiceFail(kErrRange);
  std::lock_guard lock(lib().bufferLock);
  RequestBlock w = makeBlock(0, channel, length);
  putAddress(w.data(), data);
  if (ask(kReqWritePlay, w) != 0) return -1;
  // What the device took; less than the length when its buffer was full.
  return std::clamp(getInt(w.data(), kW2), 0, length);
}

extern "C" int ZT_RecordRest_DD(int channel, char* out) {
  if (!checkChannel(channel)) return -1;
  if (!out) return voiceFail(kErrRange);
  std::lock_guard lock(lib().bufferLock);
  return duplexTick(channel, reinterpret_cast<uint8_t*>(out), kDuplexReadMax);
}

extern "C" int ZT_Playing_Rcding(int channel, const char* data, int length, char* out, int outSize,
                                 void (*callback)(int, int), int mode) {
  if (!checkChannel(channel)) return -1;
  if (length < 0 || outSize < 0) return voiceFail(kErrRange);
  Library& l = lib();
  if (!timerRunning()) return -1;
  // A tick that does not come within a second means the timer is gone.
  if (!l.timerEvent.wait(1000)) return -1;
  return timerTick(channel, data, length, out, outSize, callback, mode);
}

extern "C" int ZT_Insert_Data(int channel, const char* data, int length) {
  if (!checkChannel(channel)) return -1;
  if (!data || length < 1) return voiceFail(kErrRange);
  std::lock_guard lock(lib().bufferLock);
  VoiceChannel& v = voiceChannel(channel);
  PlayState& p = v.play;
  if (p.op == kOpFilePlay) return voiceFail(kErrBlocked);
  if (!p.driver) p.driver.reset(new (std::nothrow) uint8_t[kDriverBufferBytes]);
  if (!p.driver) return voiceFail(kErrNoMemory);
  RequestBlock b = makeBlock(0, channel, length);
  putAddress(b.data(), data);
  if (ask(kReqPlay, b) != 0) return -1;
  int queued = std::clamp(getInt(b.data(), kW2), 0, length);
  p.deviceOn = true;
  p.error = 0;
  p.op = kOpBufferPlay;
  p.data = reinterpret_cast<const uint8_t*>(data) + queued;
  p.total = length;
  p.remaining = length - queued;
  ChannelState& c = lib().ch[channel];
  c.playTotal = length;
  c.playOffset = 0;
  c.playBlocksReported = 0;
  c.playOp = kOpBufferPlay;
  return 0;
}

extern "C" int ZT_NotInsertData(int channel) {
  if (!checkChannel(channel)) return -1;
  if (lib().timeInterval.load() == 16) return 0;
  RequestBlock b = makeBlock(channel);
  if (ask(kReqNotInsertData, b) != 0) return -1;
  return getInt(b.data(), kW2);
}

// ---- conversation recording ----

namespace {

// Averages what both channels recorded into the current buffers and appends
// it to the file. A channel that recorded less counts as silent for the rest.
bool flushConversation(Conversation& cv) {
  int n = std::max(cv.fill[0], cv.fill[1]);
  if (n == 0) return true;
  uint8_t mixed[kConversationBuffer];
  const uint8_t* a = cv.buf[0][cv.cur].get();
  const uint8_t* b = cv.buf[1][cv.cur].get();
  for (int i = 0; i < n; ++i) {
    int x = i < cv.fill[0] ? alawDecode13(a[i]) : alawDecode13(0xD5);
    int y = i < cv.fill[1] ? alawDecode13(b[i]) : alawDecode13(0xD5);
    mixed[i] = alawEncode13((x + y) / 2);
  }
  size_t done = 0;
  while (done < static_cast<size_t>(n)) {
    ssize_t w = ::write(cv.fd, mixed + done, static_cast<size_t>(n) - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  cv.written += n;
  return true;
}

// Reads what a channel has ready into its current buffer.
bool conversationRead(int channel, Conversation& cv, int which) {
  int room = kConversationBuffer - cv.fill[which];
  if (room <= 0) return true;
  RequestBlock b = makeBlock(0, channel);
  if (ask(kReqBufferFill, b) != 0) return false;
  int n = std::min(getInt(b.data(), kW2), room);
  if (n <= 0) return true;
  RequestBlock rd = makeBlock(0, channel, n);
  putAddress(rd.data(), cv.buf[which][cv.cur].get() + cv.fill[which]);
  if (ask(kReqReadRecorded, rd) != 0) return false;
  int got = std::clamp(getInt(rd.data(), kW2), 0, n);
  cv.fill[which] += got;
  lib().ch[channel].recordBytes += got;
  return true;
}

}  // namespace

extern "C" int ZT_DStartRecordFile(int channel, int second, const char* name) {
  if (!checkChannel(channel) || !checkChannel(second)) return -1;
  if (channel == second) return voiceFail(kErrRange);
  if (!name) return voiceFail(kErrFile);
  std::lock_guard lock(lib().bufferLock);
  RecordState& r1 = voiceChannel(channel).record;
  RecordState& r2 = voiceChannel(second).record;
  if (r1.op != kOpNone || r2.op != kOpNone) return voiceFail(kErrRecording);
  Conversation& cv = gConversations.get()[channel];
  cv = Conversation{};
  for (auto& pair : cv.buf)
    for (auto& b : pair) {
      b.reset(new (std::nothrow) uint8_t[kConversationBuffer]);
      if (!b) {
        cv = Conversation{};
        return voiceFail(kErrNoMemory);
      }
    }
  cv.fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (cv.fd < 0) {
    cv = Conversation{};
    return voiceFail(kErrFile);
  }
  if (recordStartDeviceLocked(channel, r1) != 0) {
    ::close(cv.fd);
    cv = Conversation{};
    return -1;
  }
  if (recordStartDeviceLocked(second, r2) != 0) {
    recordStopDeviceLocked(channel, r1);
    ::close(cv.fd);
    cv = Conversation{};
    return -1;
  }
  cv.active = true;
  cv.second = second;
  for (int ch : {channel, second}) {
    RecordState& r = voiceChannel(ch).record;
    r.op = kOpBufferRecord;
    r.conversation = true;
    lib().ch[ch].recordOp = kOpBufferRecord;
  }
  return 0;
}

extern "C" int ZT_DRecordFileRest(int channel) {
  if (!checkChannel(channel)) return -1;
  std::lock_guard lock(lib().bufferLock);
  Conversation& cv = gConversations.get()[channel];
  if (!cv.active) return 0;
  if (!conversationRead(channel, cv, 0) || !conversationRead(cv.second, cv, 1)) {
    endConversationLocked(channel, cv);
    return -1;
  }
  if (kConversationBuffer - cv.fill[0] <= kConversationSwitch) {
    if (!flushConversation(cv)) {
      lib().lastError = kErrFile;
      return -1;
    }
    cv.cur ^= 1;
    cv.fill[0] = cv.fill[1] = 0;
  }
  return static_cast<int>(std::min<int64_t>(cv.written, INT32_MAX));
}

extern "C" int ZT_DStopRecordFile(int channel) {
  if (!checkChannel(channel)) return -1;
  std::lock_guard lock(lib().bufferLock);
  Conversation& cv = gConversations.get()[channel];
  if (!cv.active) return 0;
  bool ok = flushConversation(cv);
  int64_t total = cv.written;
  endConversationLocked(channel, cv);
  if (!ok) return voiceFail(kErrFile);
  return static_cast<int>(std::min<int64_t>(total, INT32_MAX));
}
