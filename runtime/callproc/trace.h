// The trace log: every step of every channel, one line each, as
// "HH:MM:SS(mmm)=>text". Safe from any thread; a line is never lost, and a
// slow reader of the log (a terminal, a pipe) never stalls the caller: lines
// go to an in-memory queue that a writer thread drains.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/ticks.h"

namespace callproc {

// Receives finished lines (time prefix included, no line end).
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void write(std::string_view line) = 0;
};

class TraceLog {
 public:
  static constexpr size_t kMaxText = 1023;

  explicit TraceLog(platform::Clock& clock) : clock_(clock) {}

  // messageshow: when false, lines are dropped.
  void setShow(bool show) { show_ = show; }
  bool showing() const { return show_; }
  void addSink(TraceSink* sink);
  void removeSink(TraceSink* sink);

  // printf-style; the text is limited to 1023 bytes (UTF-8).
  void operator()(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // A finished text, taken literally.
  void text(std::string_view text);

  // "HH:MM:SS(mmm)=>" for the clock's current local time.
  std::string prefix();

 private:
  platform::Clock& clock_;
  std::atomic<bool> show_{true};
  std::mutex mu_;
  std::vector<TraceSink*> sinks_;
};

// Keeps the texts (without the time prefix) for tests and for the display.
class MemorySink : public TraceSink {
 public:
  void write(std::string_view line) override;
  std::vector<std::string> texts() const;
  void clear();
  // True when some line's text equals `text`.
  bool has(std::string_view text) const;

 private:
  mutable std::mutex mu_;
  std::vector<std::string> texts_;
};

// Writes each line and "\n" to a stdio stream from its own thread, flushing
// after each batch, so the caller only appends to a queue.
class StreamSink : public TraceSink {
 public:
  explicit StreamSink(std::FILE* out);
  ~StreamSink() override;  // writes what is still queued
  void write(std::string_view line) override;
  void flush();  // waits until everything queued is written

 private:
  void run();
  std::FILE* out_;
  std::mutex mu_;
  std::condition_variable cv_, drained_;
  std::deque<std::string> queue_;
  bool stop_ = false;
  bool busy_ = false;
  std::thread thread_;
};

// The text part of a trace line ("...=>text" -> "text").
std::string_view traceText(std::string_view line);

}  // namespace callproc
