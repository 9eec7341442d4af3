#include "hardware/voice_file.h"

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <vector>

namespace hardware {
namespace {

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

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
  bool haveFmt = false, haveData = false;
  uint64_t pos = 12;
  // Chunks are id, 32-bit size, body padded to an even length; every size is
  // checked against what was read before it is used.
  while (pos + 8 <= size && !(haveFmt && haveData)) {
    const uint8_t* chunk = bytes + pos;
    uint64_t body = pos + 8;
    uint64_t len = le32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (len < 16 || body + 16 > size) break;
      r.bytesPerSecond = le32(bytes + body + 8);
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

VoiceLength measureVoiceFile(const std::string& linuxPath) {
  VoiceLength r;
  struct stat st {};
  if (::stat(linuxPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return r;
  std::ifstream in(linuxPath, std::ios::binary);
  if (!in) return r;
  uint64_t fileSize = static_cast<uint64_t>(st.st_size);
  std::vector<uint8_t> head(fileSize < kHeaderWindow ? fileSize : kHeaderWindow);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  return measureVoice(head.data(), head.size(), fileSize);
}

}  // namespace hardware
