#include "runtime/callproc/channel_log.h"

#include <algorithm>

#include "platform/gbk.h"

namespace callproc {

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

int ChannelLog::prefix(const Prefix& p, char* buf, size_t size) {
  int n = 0;
  switch (p.shape) {
    case kNone:
      break;
    case kBlock:
      n = std::snprintf(buf, size, "通道%d=>(%d)", p.c, p.a);
      break;
    case kChannel:
      n = std::snprintf(buf, size, "通道%d=>", p.c);
      break;
    case kScript:
      n = std::snprintf(buf, size, "通道%d=>(%d:%d)", p.c, p.a, p.b);
      break;
    case kOuter:
      n = std::snprintf(buf, size, "通道%2d (外线) : ", p.c);
      break;
  }
  return std::max(n, 0);
}

void ChannelLog::finish(const char* buf, int prefixLen, int textLen) {
  const size_t len = static_cast<size_t>(prefixLen) + static_cast<size_t>(std::max(textLen, 0));
  trace_.text(std::string_view(buf, std::min(len, kLineBuffer - 1)));
}

}  // namespace callproc
