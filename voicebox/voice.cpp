// Voice playback and recording from memory and files, wave files and the
// volume factor. Every device transfer happens under the buffer lock, which
// the poller, the timer path and application threads share.
#include "voicebox/voice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>

#include "echo/dampa.h"
#include "voicebox/alaw.h"
#include "voicebox/zt_api.h"

namespace parvane {

namespace {

NoDestroy<std::array<VoiceChannel, kMaxChannels>> gVoice;

std::unique_ptr<uint8_t[]> makeDriverBuffer() {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[kDriverBufferBytes]);
}

// Whole reads and writes, going on after interruptions.
ssize_t readFull(int fd, uint8_t* p, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::read(fd, p + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(done);
}

bool writeFull(int fd, const uint8_t* p, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::write(fd, p + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

void closePlayFile(PlayState& p) {
  if (p.fd >= 0) ::close(p.fd);
  p.fd = -1;
}

// Playback transfer: 8 with the driver buffer size, or 0 to stop.
int playDevice(int channel, int size) {
  RequestBlock b = makeBlock(0, channel, size);
  return ask(kReqPlay, b);
}

void putLe32(uint8_t* p, uint32_t v) {
  putWord(p, 0, v);
}

// The 18 bytes of the "fmt " chunk the box plays and records: A-law (6),
// mono, 8000 samples and bytes a second, block align 1, 8 bits, no extra.
constexpr uint8_t kAlawFormat[18] = {6,    0, 1, 0, 0x40, 0x1F, 0, 0, 0x40,
                                     0x1F, 0, 0, 1, 0,    8,    0, 0, 0};

void waveHeader(uint8_t (&h)[kWaveHeaderBytes], uint32_t dataBytes) {
  std::memcpy(h, "RIFF", 4);
  putLe32(h + 4, dataBytes + 50);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  putLe32(h + 16, 18);
  std::memcpy(h + 20, kAlawFormat, 18);
  std::memcpy(h + 38, "fact", 4);
  putLe32(h + 42, 4);
  putLe32(h + 46, dataBytes);
  std::memcpy(h + 50, "data", 4);
  putLe32(h + 54, dataBytes);
}

}  // namespace

VoiceChannel& voiceChannel(int channel) {
  return gVoice.get()[channel];
}

int voiceFail(int code) {
  lib().lastError = code;
  return -1;
}

void applyVolume(uint8_t* data, int length, double factor) {
  if (factor == 1.0) return;
  for (int i = 0; i < length; ++i)
    data[i] = alawEncode13(static_cast<int>(alawDecode13(data[i]) * factor));
}

void resetCanceller(int channel) {
  if (channel == 1) initial_b();
  if (channel == 0) initial_a();
}

int cancelSample(int channel, int captured16, int played16) {
  if (channel == 1) return Dampa_1(captured16, played16);
  if (channel == 0) return Dampa_0(captured16, played16);
  return captured16;
}

// ---- playback ----

// Makes the driver buffer and starts the device's playback transfer.
int playStartLocked(int channel, VoiceChannel& v) {
  PlayState& p = v.play;
  if (!p.driver) p.driver = makeDriverBuffer();
  if (!p.driver) return voiceFail(kErrNoMemory);
  if (playDevice(channel, kDriverBufferBytes) != 0) {
    p.driver.reset();
    return -1;
  }
  p.deviceOn = true;
  p.error = 0;
  ChannelState& c = lib().ch[channel];
  c.playOffset = 0;
  c.playBlocksReported = 0;
  c.lastPlayError = 0;
  return 0;
}

// Stops the transfer and frees what the operation made; the bytes that were
// still to play (library and device).
int playStopLocked(int channel, VoiceChannel& v) {
  PlayState& p = v.play;
  int64_t left = p.op == kOpNone ? 0 : p.remaining;
  if (p.deviceOn) {
    RequestBlock b = makeBlock(0, channel);
    if (p.op != kOpNone && ask(kReqPosition, b) == 0) left += std::max(0, getInt(b.data(), kW2));
    playDevice(channel, 0);
    p.deviceOn = false;
  }
  closePlayFile(p);
  p.driver.reset();
  p.op = kOpNone;
  p.error = 0;
  p.remaining = p.total = 0;
  p.data = nullptr;
  lib().ch[channel].playOp = kOpNone;
  return static_cast<int>(std::min<int64_t>(left, INT32_MAX));
}

int playStepLocked(int channel, VoiceChannel& v, int expectedOp) {
  PlayState& p = v.play;
  if (p.op != expectedOp) return 0;
  if (p.error < 0) return p.error;
  auto deviceGone = [&] {
    closePlayFile(p);
    playDevice(channel, 0);
    p.deviceOn = false;
    p.driver.reset();
    p.op = kOpNone;
    lib().ch[channel].playOp = kOpNone;
    return -1;
  };
  RequestBlock b = makeBlock(0, channel);
  if (ask(kReqBufferFill, b) != 0) return deviceGone();
  int room = std::min(getInt(b.data(), kW0), kDriverBufferBytes);
  if (room > 0 && p.remaining > 0) {
    int take = static_cast<int>(std::min<int64_t>(room, p.remaining));
    const uint8_t* src = p.data;
    if (expectedOp == kOpFilePlay) {
      // The last piece is read as it is: reading ahead past it would play
      // bytes after the requested part (the next prompt, a wave file's
      // trailing chunks).
      ssize_t got = readFull(p.fd, p.driver.get(), static_cast<size_t>(take));
      if (got < 0) {
        p.error = -1;
        lib().lastError = kErrFile;
        return p.error;
      }
      if (got < take) p.remaining = got;  // the file became shorter: play what is there
      take = static_cast<int>(got);
      applyVolume(p.driver.get(), take, lib().ch[channel].volume.load());
      src = p.driver.get();
    } else {
      std::memcpy(p.driver.get(), p.data, static_cast<size_t>(take));
      src = p.driver.get();
    }
    if (take > 0) {
      RequestBlock w = makeBlock(0, channel, take);
      putAddress(w.data(), src);
      if (ask(kReqWritePlay, w) != 0) return deviceGone();
      int accepted = std::clamp(getInt(w.data(), kW2), 0, take);
      // What the device did not take is offered again next time.
      if (expectedOp == kOpFilePlay && accepted < take)
        ::lseek(p.fd, static_cast<off_t>(accepted - take), SEEK_CUR);
      if (expectedOp == kOpBufferPlay) p.data += accepted;
      p.remaining = std::max<int64_t>(0, p.remaining - accepted);
    }
  }
  RequestBlock q = makeBlock(0, channel);
  if (ask(kReqPosition, q) != 0) return deviceGone();
  int64_t result = std::max(0, getInt(q.data(), kW2)) + p.remaining;
  if (result == 0) {
    playDevice(channel, 0);
    p.deviceOn = false;
    closePlayFile(p);
    p.driver.reset();
    p.op = kOpNone;
  }
  return static_cast<int>(std::min<int64_t>(result, INT32_MAX));
}

// Opens a file region and starts playing it (operation 4); the byte count.
int startFilePlayLocked(int channel, VoiceChannel& v, const char* name, int64_t offset,
                        int64_t length) {
  PlayState& p = v.play;
  if (p.op != kOpNone) return voiceFail(kErrPlaying);
  if (!name) return voiceFail(kErrFile);
  int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return voiceFail(kErrFile);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return voiceFail(kErrFile);
  }
  int64_t size = st.st_size;
  int64_t count = size - offset;
  if (length > 0) count = std::min(count, length);
  count = std::min<int64_t>(count, INT32_MAX);
  if (count <= 0) {
    ::close(fd);
    return voiceFail(kErrNothingToPlay);
  }
  if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
    ::close(fd);
    return voiceFail(kErrFile);
  }
  p.fd = fd;
  if (playStartLocked(channel, v) != 0) {
    closePlayFile(p);
    return -1;
  }
  p.op = kOpFilePlay;
  p.total = p.remaining = count;
  ChannelState& c = lib().ch[channel];
  c.playTotal = count;
  c.playOp = kOpFilePlay;
  playStepLocked(channel, v, kOpFilePlay);
  return static_cast<int>(count);
}

// ---- recording ----

int recordStartDeviceLocked(int channel, RecordState& r) {
  if (!r.driver) r.driver = makeDriverBuffer();
  if (!r.driver) return voiceFail(kErrNoMemory);
  RequestBlock b = makeBlock(0, channel, kDriverBufferBytes);
  if (ask(kReqRecord, b) != 0) {
    r.driver.reset();
    return -1;
  }
  r.deviceOn = true;
  r.error = 0;
  ChannelState& c = lib().ch[channel];
  c.recordBytes = 0;
  c.recordBlocksReported = 0;
  c.recordResult = 1;
  return 0;
}

void closeRecordFile(RecordState& r) {
  if (r.fd < 0) return;
  if (r.wave) {
    uint32_t data = static_cast<uint32_t>(std::min<int64_t>(r.waveData, INT32_MAX));
    uint8_t word[4];
    const struct {
      off_t at;
      uint32_t v;
    } fields[] = {{54, data}, {46, data}, {4, data + 50}};
    for (auto& f : fields) {
      putLe32(word, f.v);
      [[maybe_unused]] ssize_t w = ::pwrite(r.fd, word, 4, f.at);
    }
  }
  off_t end = ::lseek(r.fd, 0, SEEK_CUR);
  if (end >= 0) [[maybe_unused]]
    int t = ::ftruncate(r.fd, end);
  ::close(r.fd);
  r.fd = -1;
}

void recordStopDeviceLocked(int channel, RecordState& r) {
  if (r.deviceOn) {
    RequestBlock b = makeBlock(0, channel, 0);
    ask(kReqRecord, b);
    r.deviceOn = false;
  }
  r.driver.reset();
  r.op = kOpNone;
  lib().ch[channel].recordOp = kOpNone;
}

namespace {

// Stores n recorded bytes: into the caller's buffer or the file.
bool storeRecorded(RecordState& r, const uint8_t* data, int n) {
  if (r.fd >= 0) {
    if (!writeFull(r.fd, data, static_cast<size_t>(n))) return false;
    r.waveData += n;
  } else {
    std::memcpy(r.buffer + (r.total - r.remaining), data, static_cast<size_t>(n));
  }
  return true;
}

int finishOrContinue(int channel, RecordState& r, bool autoStop) {
  if (r.remaining == 0 && autoStop) {
    recordStopDeviceLocked(channel, r);
    closeRecordFile(r);
    lib().ch[channel].recordResult = 0;
  }
  return static_cast<int>(std::min<int64_t>(r.remaining, INT32_MAX));
}

int recordDeviceGone(int channel, RecordState& r) {
  recordStopDeviceLocked(channel, r);
  closeRecordFile(r);
  lib().ch[channel].recordResult = -1;
  return 0;
}

}  // namespace

int recordStepLocked(int channel, RecordState& r, int expectedOp, bool autoStop) {
  if (r.op != expectedOp) return 0;
  if (r.error < 0) return r.error;
  RequestBlock b = makeBlock(0, channel);
  if (ask(kReqBufferFill, b) != 0) return recordDeviceGone(channel, r);
  int ready = getInt(b.data(), kW2);
  int n = static_cast<int>(std::min<int64_t>({ready, r.remaining, kDriverBufferBytes}));
  if (n > 0) {
    RequestBlock rd = makeBlock(0, channel, n);
    putAddress(rd.data(), r.driver.get());
    if (ask(kReqReadRecorded, rd) != 0) return recordDeviceGone(channel, r);
    int got = std::clamp(getInt(rd.data(), kW2), 0, n);
    if (!storeRecorded(r, r.driver.get(), got)) {
      r.error = -1;
      lib().lastError = kErrFile;
      lib().ch[channel].recordResult = -1;
      return r.error;
    }
    r.remaining -= got;
    lib().ch[channel].recordBytes += got;
  }
  return finishOrContinue(channel, r, autoStop);
}

int recordStepDuplexLocked(int channel, RecordState& r, int expectedOp) {
  if (r.op != expectedOp) return 0;
  if (r.error < 0) return r.error;
  RequestBlock b = makeBlock(0, channel);
  if (ask(kReqBufferFill, b) != 0) return recordDeviceGone(channel, r);
  // Each recorded byte comes with the byte played at the same time.
  int64_t readyBlocks = getInt(b.data(), kW2) / 128;
  int64_t wantBlocks = (r.remaining + 127) / 128;
  int blocks =
      static_cast<int>(std::min<int64_t>({readyBlocks, wantBlocks, kDriverBufferBytes / 256}));
  if (blocks > 0) {
    RequestBlock rd = makeBlock(0, channel, blocks * 256);
    putAddress(rd.data(), r.driver.get());
    if (ask(kReqReadRecordedDuplex, rd) != 0) return recordDeviceGone(channel, r);
    int got = std::clamp(getInt(rd.data(), kW2), 0, blocks * 256) / 256;
    uint8_t cleaned[128];
    for (int k = 0; k < got && r.remaining > 0; ++k) {
      const uint8_t* block = r.driver.get() + 256 * k;
      for (int i = 0; i < 128; ++i)
        cleaned[i] = alawEncodeClamped(
            cancelSample(channel, alawDecode(block[i]), alawDecode(block[128 + i])));
      int n = static_cast<int>(std::min<int64_t>(128, r.remaining));
      if (!storeRecorded(r, cleaned, n)) {
        r.error = -1;
        lib().lastError = kErrFile;
        lib().ch[channel].recordResult = -1;
        return r.error;
      }
      r.remaining -= n;
      lib().ch[channel].recordBytes += n;
    }
  }
  return finishOrContinue(channel, r, true);
}

// ---- hooks and reset ----

namespace {

int hookPlayRest(int channel) {
  return ZT_PlayRest(channel);
}
int hookPlayFileRest(int channel) {
  return ZT_PlayFileRest(channel);
}
int hookSentenceRest(int channel) {
  return ZT_PlaySentenceRest(channel);
}
void hookStopFilePlay(int channel) {
  ZT_StopPlaySentence(channel);
}

}  // namespace

VoiceHooks voiceHooks() {
  VoiceHooks h;
  h.playRest = hookPlayRest;
  h.playFileRest = hookPlayFileRest;
  h.sentenceRest = hookSentenceRest;
  h.stopFilePlay = hookStopFilePlay;
  return h;
}

void resetVoice() {
  std::lock_guard lock(lib().bufferLock);
  resetConversations();
  for (auto& v : gVoice.get()) {
    closePlayFile(v.play);
    v.play = PlayState{};
    closeRecordFile(v.record);
    v.record = RecordState{};
    v.sentence.clear();
    v.sentencePos = 0;
    v.sentenceActive = v.sentenceFile = false;
  }
}

}  // namespace parvane

using namespace parvane;

namespace {

bool voiceChannelOk(int channel) {
  return checkChannel(channel);
}

}  // namespace

// ---- memory playback and recording ----

extern "C" int ZT_StartPlay(int channel, const char* data, int length) {
  if (!voiceChannelOk(channel)) return -1;
  if (!data || length < 1) return voiceFail(kErrRange);
  std::lock_guard lock(lib().bufferLock);
  VoiceChannel& v = voiceChannel(channel);
  if (v.play.op != kOpNone) return voiceFail(kErrPlaying);
  if (playStartLocked(channel, v) != 0) return -1;
  v.play.op = kOpBufferPlay;
  v.play.data = reinterpret_cast<const uint8_t*>(data);
  v.play.total = v.play.remaining = length;
  ChannelState& c = lib().ch[channel];
  c.playTotal = length;
  c.playOp = kOpBufferPlay;
  startTimer();
  playStepLocked(channel, v, kOpBufferPlay);
  return 0;
}

extern "C" int ZT_PlayRest(int channel) {
  if (!voiceChannelOk(channel)) return -1;
  std::lock_guard lock(lib().bufferLock);
  return playStepLocked(channel, voiceChannel(channel), kOpBufferPlay);
}

extern "C" int ZT_StopPlay(int channel) {
  if (!voiceChannelOk(channel)) return -1;
  stopTimer();
  std::lock_guard lock(lib().bufferLock);
  VoiceChannel& v = voiceChannel(channel);
  if (v.play.op == kOpFilePlay) return 0;  // a file playback has its own stop
  return playStopLocked(channel, v);
}

namespace {

int startRecord(int channel, char* buffer, int length) {
  if (!voiceChannelOk(channel)) return -1;
  if (!buffer || length < 1) return voiceFail(kErrRange);
  std::lock_guard lock(lib().bufferLock);
  RecordState& r = voiceChannel(channel).record;
  if (r.op != kOpNone) return voiceFail(kErrRecording);
  int previous = static_cast<int>(std::min<int64_t>(r.remaining, INT32_MAX));
  resetCanceller(channel);
  if (recordStartDeviceLocked(channel, r) != 0) return -1;
  r.op = kOpBufferRecord;
  r.buffer = reinterpret_cast<uint8_t*>(buffer);
  r.total = r.remaining = length;
  r.wave = false;
  lib().ch[channel].recordOp = kOpBufferRecord;
  startTimer();
  return previous;
}

int stopRecord(int channel, int op) {
  if (!voiceChannelOk(channel)) return -1;
  std::lock_guard lock(lib().bufferLock);
  RecordState& r = voiceChannel(channel).record;
  if (r.op != op || r.conversation) return 0;
  int left = static_cast<int>(std::min<int64_t>(r.remaining, INT32_MAX));
  recordStopDeviceLocked(channel, r);
  closeRecordFile(r);
  r.error = 0;
  r.buffer = nullptr;
  r.remaining = r.total = 0;
  return left;
}

}  // namespace

extern "C" int ZT_StartRecord(int channel, char* buffer, int length) {
  return startRecord(channel, buffer, length);
}

extern "C" int ZT_StartRecord2(int channel, char* buffer, int length) {
  if (!voiceChannelOk(channel)) return -1;
  if (!buffer || length < 1) return voiceFail(kErrRange);
  std::lock_guard lock(lib().bufferLock);
  RecordState& r = voiceChannel(channel).record;
  if (r.op != kOpBufferRecord || r.conversation) return voiceFail(kErrBlocked);
  r.buffer = reinterpret_cast<uint8_t*>(buffer);
  r.total = r.remaining = length;
  return 0;
}

extern "C" int ZT_RecordRest(int channel) {
  if (!voiceChannelOk(channel)) return -1;
  std::lock_guard lock(lib().bufferLock);
  RecordState& r = voiceChannel(channel).record;
  if (r.conversation) return 0;
  return recordStepLocked(channel, r, kOpBufferRecord, true);
}

extern "C" int ZT_StopRecord(int channel) {
  return stopRecord(channel, kOpBufferRecord);
}

// ---- file playback and recording ----

extern "C" int ZT_StartPlayFile(int channel, const char* name, int offset, int length) {
  if (!voiceChannelOk(channel)) return -1;
  if (length < 0 || offset < 0) return voiceFail(kErrRange);
  std::lock_guard lock(lib().bufferLock);
  return startFilePlayLocked(channel, voiceChannel(channel), name, offset, length);
}

extern "C" int ZT_PlayFileRest(int channel) {
  if (!voiceChannelOk(channel)) return -1;
  std::lock_guard lock(lib().bufferLock);
  return playStepLocked(channel, voiceChannel(channel), kOpFilePlay);
}

extern "C" int ZT_StopPlayFile(int channel) {
  if (!voiceChannelOk(channel)) return -1;
  std::lock_guard lock(lib().bufferLock);
  VoiceChannel& v = voiceChannel(channel);
  if (v.play.op == kOpBufferPlay) return 0;
  return playStopLocked(channel, v);
}

namespace {

int startRecordFile(int channel, const char* name, int64_t offset, int64_t length, bool wave) {
  if (!voiceChannelOk(channel)) return -1;
  if (length < 1 || offset < 0) return voiceFail(kErrRange);
  std::lock_guard lock(lib().bufferLock);
  RecordState& r = voiceChannel(channel).record;
  if (r.op != kOpNone) return voiceFail(kErrRecording);
  if (!name) return voiceFail(kErrFile);
  // A file this start creates goes again when the start fails.
  const bool existed = ::access(name, F_OK) == 0;
  int flags = O_RDWR | O_CREAT | O_CLOEXEC | (wave ? O_TRUNC : 0);
  int fd = ::open(name, flags, 0644);
  if (fd < 0) return voiceFail(kErrFile);
  auto failWith = [&](int code) {
    ::close(fd);
    if (!existed) ::unlink(name);
    return code < 0 ? -1 : voiceFail(code);
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return failWith(kErrFile);
  int64_t size = st.st_size;
  if (wave) {
    uint8_t h[kWaveHeaderBytes];
    waveHeader(h, 0);
    if (!writeFull(fd, h, sizeof h)) return failWith(kErrFile);
  } else if (::lseek(fd, static_cast<off_t>(std::min(offset, size)), SEEK_SET) < 0) {
    return failWith(kErrFile);
  }
  resetCanceller(channel);
  r.wave = wave;
  r.waveData = 0;
  if (recordStartDeviceLocked(channel, r) != 0) return failWith(-1);
  r.fd = fd;
  r.op = kOpFileRecord;
  r.buffer = nullptr;
  r.total = r.remaining = length;
  lib().ch[channel].recordOp = kOpFileRecord;
  return static_cast<int>(std::min<int64_t>(size, INT32_MAX));
}

}  // namespace

extern "C" int ZT_StartRecordFile(int channel, const char* name, int offset, int length) {
  return startRecordFile(channel, name, offset, length, false);
}

extern "C" int ZT_RecordFileRest(int channel) {
  if (!voiceChannelOk(channel)) return -1;
  std::lock_guard lock(lib().bufferLock);
  return recordStepLocked(channel, voiceChannel(channel).record, kOpFileRecord, true);
}

extern "C" int ZT_StopRecordFile(int channel) {
  return stopRecord(channel, kOpFileRecord);
}

extern "C" int ZT_StartRecordWaveFile(int channel, const char* name) {
  int rc = startRecordFile(channel, name, 0, INT32_MAX, true);
  return rc < 0 ? rc : 0;
}

extern "C" int ZT_RecordWaveFileRest(int channel) {
  return ZT_RecordFileRest(channel);
}

extern "C" int ZT_StopRecordWaveFile(int channel) {
  return ZT_StopRecordFile(channel);
}

// ---- wave playback ----

namespace {

// The data chunk of an A-law wave file: offset and size, or -2..-8.
int waveCheck(const char* name, int64_t& dataOffset, int64_t& dataSize) {
  if (!name) return -2;
  int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -2;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return -5;
  const int64_t fileSize = st.st_size;
  uint8_t h[12];
  if (::pread(fd, h, 12, 0) != 12) return -5;
  if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0) return -3;
  const int64_t formEnd = 8 + int64_t(getWord(h, 4));
  bool haveFmt = false, haveFact = false, haveData = false;
  uint8_t fmt[18] = {};
  int64_t pos = 12;
  while (pos + 8 <= std::min(formEnd, fileSize)) {
    uint8_t ch[8];
    if (::pread(fd, ch, 8, pos) != 8) return -5;
    const int64_t size = getWord(ch, 4);
    if (pos + 8 + size > formEnd) return -3;
    if (!haveFmt && std::memcmp(ch, "fmt ", 4) == 0) {
      haveFmt = true;
      size_t n = static_cast<size_t>(std::min<int64_t>(size, 18));
      if (::pread(fd, fmt, n, pos + 8) != static_cast<ssize_t>(n)) return -5;
    } else if (!haveFact && std::memcmp(ch, "fact", 4) == 0) {
      haveFact = true;
    } else if (!haveData && std::memcmp(ch, "data", 4) == 0) {
      haveData = true;
      dataOffset = pos + 8;
      dataSize = size;
    }
    pos += 8 + size + (size & 1);
  }
  if (!haveFmt) return -6;
  if (!haveFact && !(fmt[0] == 1 && fmt[1] == 0)) return -7;
  if (std::memcmp(fmt, kAlawFormat, 18) != 0) return -8;
  if (!haveData) {
    dataOffset = fileSize;
    dataSize = 0;
  }
  return 0;
}

}  // namespace

extern "C" int ZT_StartPlayWaveFile(int channel, const char* name) {
  if (!voiceChannelOk(channel)) return -1;
  int64_t offset = 0, size = 0;
  int rc = waveCheck(name, offset, size);
  if (rc != 0) return rc;
  if (size == 0) return voiceFail(kErrNothingToPlay);
  std::lock_guard lock(lib().bufferLock);
  return startFilePlayLocked(channel, voiceChannel(channel), name, offset, size);
}

extern "C" int ZT_PlayWaveFileRest(int channel) {
  return ZT_PlayFileRest(channel);
}

extern "C" int ZT_StopPlayWaveFile(int channel) {
  return ZT_StopPlayFile(channel);
}
