#include "hardware/voice_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/bytes.h"

namespace hardware {
namespace {

// Wave headers beyond this are not looked for: real files keep fmt and the
// start of data within the first few hundred bytes, and a bounded read keeps
// a huge file from being loaded to find them.
constexpr size_t kHeaderWindow = 64 * 1024;

}  // namespace

VoiceLength measureVoice(const uint8_t* bytes, size_t size, uint64_t fileSize) {
  VoiceLength r;
  r.status = VoiceStatus::kOk;
  bool isWave =
      size >= 12 && std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "WAVE", 4) == 0;
  if (!isWave) {
    r.dataBytes = fileSize;
    r.bytesPerSecond = kAlawBytesPerSecond;
    r.durationMs = playMs(r.dataBytes, r.bytesPerSecond);
    return r;
  }
  r.wave = true;
  const std::span<const uint8_t> file(bytes, size);
  bool haveFmt = false, haveData = false;
  uint64_t pos = 12;
  // Chunks are id, 32-bit size, body padded to an even length; every size is
  // checked against what was read before it is used.
  while (pos + 8 <= size && !(haveFmt && haveData)) {
    const uint8_t* chunk = bytes + pos;
    uint64_t body = pos + 8;
    uint64_t len = platform::getU32(file, pos + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (len < 16 || body + 16 > size) break;
      r.bytesPerSecond = platform::getU32(file, body + 8);
      haveFmt = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      uint64_t held = fileSize > body ? fileSize - body : 0;
      r.dataBytes = len < held ? len : held;
      haveData = true;
    }
    pos = body + len + (len & 1);
  }
  if (!haveFmt || !haveData || r.bytesPerSecond == 0) {
    r.status = VoiceStatus::kMalformed;
    return r;
  }
  r.durationMs = playMs(r.dataBytes, r.bytesPerSecond);
  return r;
}

int openVoiceFile(const std::string& linuxPath, bool forWriting) {
  // Looked at first, so that a FIFO or a device is never opened at all.
  struct stat st {};
  if (::stat(linuxPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    return -1;
  }
  // O_NONBLOCK covers a FIFO put there since: it opens (or fails) at once,
  // and fstat refuses it. No O_TRUNC before that check.
  const int flags =
      (forWriting ? O_WRONLY | O_CREAT : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = ::open(linuxPath.c_str(), flags, 0644);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (forWriting && ::ftruncate(fd, 0) != 0)) {
    int e = S_ISREG(st.st_mode) ? errno : ENODEV;
    ::close(fd);
    errno = e;
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

VoiceLength measureVoiceFile(const std::string& linuxPath) {
  VoiceLength r;
  int fd = openVoiceFile(linuxPath, false);
  if (fd < 0) return r;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return r;
  }
  uint64_t fileSize = static_cast<uint64_t>(st.st_size);
  std::vector<uint8_t> head(fileSize < kHeaderWindow ? fileSize : kHeaderWindow);
  size_t got = 0;
  while (got < head.size()) {
    ssize_t n = ::read(fd, head.data() + got, head.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  head.resize(got);
  return measureVoice(head.data(), head.size(), fileSize);
}

}  // namespace hardware
