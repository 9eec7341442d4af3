// What reaches the SIP lines from outside, from arbitrary bytes: RTP packets
// into the jitter buffer (any timestamp, size and order), SIP INFO bodies,
// the numbers a flow or an operator dials, and the [SIP] section of
// sysconfig.ini. Each must be taken without a crash, and what comes out must
// hold what the lines rely on.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "hardware/jitter_buffer.h"
#include "hardware/sip_lines.h"
#include "platform/ini.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// Operations: an odd byte puts a packet (timestamp, length, then as many
// samples as are left, up to the length), an even one pops frames.
void jitter(const uint8_t* p, size_t n) {
  hardware::JitterBuffer jb(1 + (n ? p[0] % 5 : 0), 8 + (n > 1 ? p[1] % 60 : 0));
  hardware::JitterBuffer::Frame out;
  uint64_t lost = 0, late = 0;
  for (size_t i = 2; i < n;) {
    const uint8_t op = p[i++];
    if (op & 1) {
      if (n - i < 6) break;
      const uint32_t ts = static_cast<uint32_t>(p[i]) << 24 |
                          static_cast<uint32_t>(p[i + 1]) << 16 |
                          static_cast<uint32_t>(p[i + 2]) << 8 | p[i + 3];
      size_t len = (static_cast<size_t>(p[i + 4]) << 8 | p[i + 5]) % 2000;
      i += 6;
      len = std::min(len, n - i);
      jb.put(ts, p + i, len);
      i += len;
    } else {
      for (int k = 0; k < 1 + (op >> 1) % 8; ++k) {
        jb.pop(out);
        check(jb.lost() >= lost && jb.late() >= late);
        lost = jb.lost();
        late = jb.late();
      }
    }
    if (op == 0xFE) jb.reset();
  }
}

void info(const uint8_t* p, size_t n) {
  const char key = hardware::infoKey(std::string(reinterpret_cast<const char*>(p), n));
  check(key == 0 || (key >= '0' && key <= '9') || key == '*' || key == '#');
}

// The number, a newline, the registrar, a newline, the account.
void dial(const uint8_t* p, size_t n) {
  const std::string in(reinterpret_cast<const char*>(p), n);
  const size_t a = in.find('\n');
  const size_t b = a == std::string::npos ? a : in.find('\n', a + 1);
  const std::string number = in.substr(0, a);
  const std::string registrar = a == std::string::npos ? "" : in.substr(a + 1, b - a - 1);
  const std::string account = b == std::string::npos ? "" : in.substr(b + 1);
  const std::string target = hardware::dialTarget(number, registrar);
  // A target goes into the INVITE's request line and To header as it is.
  if (!target.empty()) {
    check(target.compare(0, 4, "sip:") == 0);
    check(target.find_first_of(std::string("\r\n \t<>\"\0", 8)) == std::string::npos);
  }
  hardware::dialledNumber(number, registrar, account);
}

void settings(const uint8_t* p, size_t n) {
  const int fd = memfd_create("sysconfig", 0);
  if (fd < 0) return;
  if (write(fd, "[SIP]\n", 6) != 6 || write(fd, p, n) != static_cast<ssize_t>(n)) {
    close(fd);
    return;
  }
  const platform::IniFile ini("/proc/self/fd/" + std::to_string(fd));
  const hardware::SipSettings s = hardware::readSipSettings(ini);
  close(fd);
  check(s.port >= 1 && s.port <= 65535);
  check(s.channels >= 1 && s.channels <= hardware::kSipMaxChannels);
  check(s.channels + static_cast<int>(s.extensions.size()) <= hardware::kSipMaxChannels);
  check(s.rtpPortMin >= 1 && s.rtpPortMin <= s.rtpPortMax && s.rtpPortMax <= 65535);
  check(!s.codecs.empty());
  for (const auto& [number, uri] : s.extensions)
    check(!number.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  switch (data[0] % 4) {
    case 0:
      jitter(data + 1, size - 1);
      break;
    case 1:
      info(data + 1, size - 1);
      break;
    case 2:
      dial(data + 1, size - 1);
      break;
    default:
      settings(data + 1, size - 1);
      break;
  }
  return 0;
}
