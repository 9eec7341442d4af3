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

std::string TraceLog::prefix() {
  auto now = clock_.now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::time_t secs = static_cast<std::time_t>(ms / 1000);
  unsigned milli = static_cast<unsigned>(ms % 1000);
  std::tm tm{};
  localtime_r(&secs, &tm);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d(%3u)=>", tm.tm_hour, tm.tm_min, tm.tm_sec, milli);
  return buf;
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
  std::string line = prefix();
  appendTraceText(line, text, kMaxText);
  std::lock_guard lock(mu_);
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
  {
    std::lock_guard lock(mu_);
    if (abandoned_ || broken_) {
      ++lost_;
      return;
    }
    if (queue_.size() >= limit_) {
      ++droppedUnreported_;
      return;
    }
    if (droppedUnreported_ != 0) {
      // Told with the time of the line that found room.
      const size_t prefixLen = line.size() - traceText(line).size();
      queue_.push_back(std::string(line.substr(0, prefixLen)) +
                       "trace: " + std::to_string(droppedUnreported_) +
                       " lines dropped, the output did not keep up");
      lost_ += droppedUnreported_;
      droppedUnreported_ = 0;
    }
    queue_.emplace_back(line);
  }
  cv_.notify_one();
}

bool StreamSink::flush(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  return drained_.wait_for(lock, timeout, [this] { return queue_.empty() && !busy_; });
}

void StreamSink::abandon() {
  std::unique_lock lock(mu_);
  abandoned_ = true;
  lost_ += queue_.size() + droppedUnreported_;
  droppedUnreported_ = 0;
  queue_.clear();
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
  std::unique_lock lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty() && stop_) break;
    std::deque<std::string> batch;
    batch.swap(queue_);
    busy_ = true;
    lock.unlock();
    std::string bytes;
    for (const auto& l : batch) {
      bytes += l;
      bytes += '\n';
    }
    const bool ok = !broken_ && writeAll(bytes);
    lock.lock();
    if (!ok) {
      if (!abandoned_) broken_ = true;
      lost_ += batch.size();
      lost_ += queue_.size();
      queue_.clear();
    }
    busy_ = false;
    if (queue_.empty()) drained_.notify_all();
  }
  drained_.notify_all();
}

}  // namespace callproc
