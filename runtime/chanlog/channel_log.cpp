#include "runtime/chanlog/channel_log.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "platform/gbk.h"

namespace chanlog {

ChannelLog::Staged ChannelLog::stage(std::string& buf, const Gbk& g) {
  const size_t at = buf.size();
  platform::appendGbkAsUtf8(buf, g.text);
  buf += '\0';
  return Staged{at};
}

std::string& ChannelLog::staging() {
  // One per thread: the scan thread and the KeyCall receiver both write.
  thread_local std::string texts;
  return texts;
}

namespace {

// Appends literal bytes and numbers without printf: the prefix is on every
// line the scan pass writes.
struct Out {
  char* p;
  template <size_t N>
  void lit(const char (&s)[N]) {
    std::memcpy(p, s, N - 1);
    p += N - 1;
  }
  void num(int v, int width = 0) {
    char digits[16];
    const auto r = std::to_chars(digits, digits + sizeof digits, v);
    for (int pad = width - static_cast<int>(r.ptr - digits); pad > 0; --pad)
      *p++ = ' ';
    std::memcpy(p, digits, static_cast<size_t>(r.ptr - digits));
    p += r.ptr - digits;
  }
};

}  // namespace

int ChannelLog::prefix(const Prefix& p, char* buf, size_t) {
  // The longest prefix, "通道%d=>(%d:%d)" with three 11-character numbers,
  // takes 47 bytes; the buffer has 2048.
  Out o{buf};
  switch (p.shape) {
    case kNone:
      break;
    case kBlock:
      o.lit("通道");
      o.num(p.c);
      o.lit("=>(");
      o.num(p.a);
      o.lit(")");
      break;
    case kChannel:
      o.lit("通道");
      o.num(p.c);
      o.lit("=>");
      break;
    case kScript:
      o.lit("通道");
      o.num(p.c);
      o.lit("=>(");
      o.num(p.a);
      o.lit(":");
      o.num(p.b);
      o.lit(")");
      break;
    case kOuter:
      o.lit("通道");
      o.num(p.c, 2);
      o.lit(" (外线) : ");
      break;
  }
  return static_cast<int>(o.p - buf);
}

void ChannelLog::finish(const char* buf, int prefixLen, int textLen) {
  const size_t len = static_cast<size_t>(prefixLen) + static_cast<size_t>(std::max(textLen, 0));
  sink_.text(std::string_view(buf, std::min(len, kLineBuffer - 1)));
}

}  // namespace chanlog
