#include "runtime/callproc/trace.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <ctime>

namespace callproc {

void TraceLog::addSink(TraceSink* sink) {
  std::lock_guard lock(mu_);
  sinks_.push_back(sink);
}

void TraceLog::removeSink(TraceSink* sink) {
  std::lock_guard lock(mu_);
  sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
}

void TraceLog::appendPrefix(std::string& out) {
  const int64_t ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now().time_since_epoch())
          .count();
  if (ms != prefixMs_) {
    std::time_t secs = static_cast<std::time_t>(ms / 1000);
    unsigned milli = static_cast<unsigned>(ms % 1000);
    std::tm tm{};
    localtime_r(&secs, &tm);
    int n = std::snprintf(prefixText_, sizeof prefixText_, "%02d:%02d:%02d(%3u)=>", tm.tm_hour,
                          tm.tm_min, tm.tm_sec, milli);
    prefixLen_ = n > 0 ? static_cast<size_t>(n) : 0;
    prefixMs_ = ms;
  }
  out.append(prefixText_, prefixLen_);
}

std::string TraceLog::prefix() {
  std::string p;
  std::lock_guard lock(mu_);
  appendPrefix(p);
  return p;
}

void TraceLog::operator()(const char* fmt, ...) {
  if (!show_) return;
  // Formatted in full, so that the cut below falls on a character boundary.
  char buf[2048];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof buf) {
    text(std::string_view(buf, static_cast<size_t>(n)));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_start(ap, fmt);
  std::vsnprintf(big.data(), big.size(), fmt, ap);
  va_end(ap);
  big.resize(static_cast<size_t>(n));
  text(big);
}

namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0.
size_t utf8Length(std::string_view s) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < n || b(1) < lo || b(1) > hi) return 0;
  for (size_t i = 2; i < n; ++i)
    if (b(i) < 0x80 || b(i) > 0xBF) return 0;
  return n;
}

void appendEscapedByte(std::string& out, unsigned char c) {
  static const char kHex[] = "0123456789abcdef";
  switch (c) {
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
  }
}

}  // namespace

void appendTraceText(std::string& out, std::string_view text, size_t limit) {
  size_t room = limit;
  std::string esc;
  while (!text.empty()) {
    // Plain printable ASCII, the bulk of every line, in one piece.
    size_t plain = 0;
    while (plain < text.size() && plain < room) {
      const unsigned char b = static_cast<unsigned char>(text[plain]);
      if (b < 0x20 || b >= 0x7F) break;
      ++plain;
    }
    if (plain != 0) {
      out.append(text.data(), plain);
      room -= plain;
      text.remove_prefix(plain);
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(text[0]);
    size_t n = utf8Length(text);
    // C1 controls (U+0080 to U+009F) act as escape introducers on some
    // terminals, like their C0 forms.
    const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(text[1]) < 0xA0;
    if (n != 0 && !c1 && c >= 0x20 && c != 0x7F) {
      if (n > room) return;
      out.append(text.data(), n);
      room -= n;
      text.remove_prefix(n);
      continue;
    }
    if (n == 0) n = 1;
    esc.clear();
    for (size_t i = 0; i < n; ++i)
      appendEscapedByte(esc, static_cast<unsigned char>(text[i]));
    if (esc.size() > room) return;
    out += esc;
    room -= esc.size();
    text.remove_prefix(n);
  }
}

void TraceLog::text(std::string_view text) {
  if (!show_) return;
  // The text is made safe outside the lock, into a buffer each thread keeps.
  thread_local std::string body;
  body.clear();
  appendTraceText(body, text, kMaxText);
  thread_local std::string line;
  line.clear();
  std::lock_guard lock(mu_);
  appendPrefix(line);
  line += body;
  for (TraceSink* s : sinks_)
    s->write(line);
}

std::string_view traceText(std::string_view line) {
  size_t at = line.find(")=>");
  return at == std::string_view::npos ? line : line.substr(at + 3);
}

void MemorySink::write(std::string_view line) {
  std::lock_guard lock(mu_);
  texts_.emplace_back(traceText(line));
}

std::vector<std::string> MemorySink::texts() const {
  std::lock_guard lock(mu_);
  return texts_;
}

void MemorySink::clear() {
  std::lock_guard lock(mu_);
  texts_.clear();
}

bool MemorySink::has(std::string_view text) const {
  std::lock_guard lock(mu_);
  return std::find(texts_.begin(), texts_.end(), text) != texts_.end();
}

namespace {
constexpr auto kGather = std::chrono::milliseconds(2);
}  // namespace

StreamSink::StreamSink(std::FILE* out, size_t limit) : StreamSink(fileno(out), limit) {
  std::fflush(out);
}

StreamSink::StreamSink(int fd, size_t limit)
    : fd_(fd), limit_(std::max<size_t>(limit, 1)), thread_([this] { run(); }) {}

StreamSink::~StreamSink() {
  if (!flush(std::chrono::seconds(1))) abandon();
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void StreamSink::write(std::string_view line) {
  bool wake = false;
  {
    std::lock_guard lock(mu_);
    if (abandoned_ || broken_) {
      ++lost_;
      return;
    }
    if (queuedLines_ >= limit_) {
      ++droppedUnreported_;
      return;
    }
    if (droppedUnreported_ != 0) {
      // Told with the time of the line that found room.
      const size_t prefixLen = line.size() - traceText(line).size();
      queue_.append(line.substr(0, prefixLen));
      queue_ += "trace: " + std::to_string(droppedUnreported_) +
                " lines dropped, the output did not keep up\n";
      lost_ += droppedUnreported_;
      droppedUnreported_ = 0;
      ++queuedLines_;
    }
    queue_.append(line);
    queue_ += '\n';
    ++queuedLines_;
    // One wake-up per batch: only a writer that waits for lines is woken.
    wake = writerWaiting_;
    writerWaiting_ = false;
  }
  if (wake) cv_.notify_one();
}

bool StreamSink::flush(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  return drained_.wait_for(lock, timeout, [this] { return queuedLines_ == 0 && !busy_; });
}

void StreamSink::abandon() {
  std::unique_lock lock(mu_);
  abandoned_ = true;
  lost_ += queuedLines_ + droppedUnreported_;
  droppedUnreported_ = 0;
  queue_.clear();
  queuedLines_ = 0;
  // The batch being written is given up within one poll and counted.
  drained_.wait(lock, [this] { return !busy_; });
}

size_t StreamSink::lost() const {
  std::lock_guard lock(mu_);
  return lost_ + droppedUnreported_;
}

bool StreamSink::broken() const {
  return broken_;
}

// Writes in slices the descriptor says it can take, so that a pipe nobody
// reads never blocks the thread beyond one poll; gives up once abandoned.
bool StreamSink::writeAll(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    pollfd p{fd_, POLLOUT, 0};
    int r = ::poll(&p, 1, 100);
    if (r < 0 && errno != EINTR) return false;
    if (r <= 0) {
      std::lock_guard lock(mu_);
      if (abandoned_) return false;
      continue;
    }
    if (p.revents & (POLLERR | POLLNVAL)) return false;
    const size_t slice = std::min<size_t>(bytes.size() - done, PIPE_BUF);
    ssize_t n = ::write(fd_, bytes.data() + done, slice);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void StreamSink::run() {
  std::string batch;
  std::unique_lock lock(mu_);
  for (;;) {
    writerWaiting_ = true;
    cv_.wait(lock, [this] { return stop_ || queuedLines_ != 0; });
    writerWaiting_ = false;
    if (queuedLines_ == 0 && stop_) break;
    // Lines come in bursts (a scan pass writes hundreds): gather them for a
    // moment, so that the writer wakes and writes once per burst, not once
    // per line.
    cv_.wait_for(lock, kGather, [this] { return stop_ || queuedLines_ >= limit_ / 2; });
    batch.clear();
    batch.swap(queue_);  // both buffers keep their capacity
    const size_t lines = queuedLines_;
    queuedLines_ = 0;
    busy_ = true;
    lock.unlock();
    const bool ok = !broken_ && writeAll(batch);
    lock.lock();
    if (!ok) {
      if (!abandoned_) broken_ = true;
      lost_ += lines + queuedLines_;
      queue_.clear();
      queuedLines_ = 0;
    }
    busy_ = false;
    if (queuedLines_ == 0) drained_.notify_all();
  }
  drained_.notify_all();
}

}  // namespace callproc
