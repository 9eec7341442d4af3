#include "runtime/callproc/trace.h"

#include <algorithm>
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
  char buf[kMaxText + 1];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  text(buf);
}

void TraceLog::text(std::string_view text) {
  if (!show_) return;
  if (text.size() > kMaxText) text = text.substr(0, kMaxText);
  std::string line = prefix();
  line.append(text);
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

StreamSink::StreamSink(std::FILE* out) : out_(out), thread_([this] { run(); }) {}

StreamSink::~StreamSink() {
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
    queue_.emplace_back(line);
  }
  cv_.notify_one();
}

void StreamSink::flush() {
  std::unique_lock lock(mu_);
  drained_.wait(lock, [this] { return queue_.empty() && !busy_; });
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
    for (const auto& l : batch) {
      std::fwrite(l.data(), 1, l.size(), out_);
      std::fputc('\n', out_);
    }
    std::fflush(out_);
    lock.lock();
    busy_ = false;
    if (queue_.empty()) drained_.notify_all();
  }
  drained_.notify_all();
}

}  // namespace callproc
