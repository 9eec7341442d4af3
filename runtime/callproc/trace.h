// The trace log: every step of every channel, one line each, as
// "HH:MM:SS(mmm)=>text". Safe from any thread. A slow reader of the log (a
// terminal, a pipe) never stalls the caller: lines go to a bounded queue that
// a writer thread drains; lines that do not fit are counted and reported.
//
// One entry is always one line: control characters and bytes that are not
// UTF-8 are written escaped ("\n", "\x1b"), so a caller number or a voice
// name from outside cannot start a forged line or reach the terminal raw.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/ticks.h"
#include "runtime/chanlog/channel_log.h"

namespace callproc {

// Receives finished lines (time prefix included, no line end).
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void write(std::string_view line) = 0;
};

class TraceLog : public chanlog::LineSink {
 public:
  static constexpr size_t kMaxText = 1023;

  explicit TraceLog(platform::Clock& clock) : clock_(clock) {}

  // messageshow: when false, lines are dropped.
  void setShow(bool show) { show_ = show; }
  bool showing() const override { return show_; }
  void addSink(TraceSink* sink);
  void removeSink(TraceSink* sink);

  // printf-style; the text is limited to 1023 bytes (UTF-8), cut after the
  // last whole character, with control characters escaped.
  void operator()(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // A finished text, taken literally.
  void text(std::string_view text) override;

  // "HH:MM:SS(mmm)=>" for the clock's current local time.
  std::string prefix();

 private:
  // Appends the prefix; the local time is worked out once per millisecond.
  void appendPrefix(std::string& out);

  platform::Clock& clock_;
  std::atomic<bool> show_{true};
  std::mutex mu_;
  std::vector<TraceSink*> sinks_;
  int64_t prefixMs_ = -1;  // the millisecond prefixText_ was made for; under mu_
  char prefixText_[32] = {};
  size_t prefixLen_ = 0;
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

// Writes each line and "\n" to a file descriptor from its own thread, so the
// caller only appends to a queue. The queue holds at most `limit` lines;
// lines that arrive while it is full are counted, and once there is room
// again one line says how many were dropped. The writer never blocks for
// good: it waits for the descriptor to take data in slices, so a reader that
// stops reading cannot hold the program, and a reader that goes away (EPIPE)
// ends the output, not the program.
class StreamSink : public TraceSink {
 public:
  static constexpr size_t kDefaultLimit = 100000;

  explicit StreamSink(std::FILE* out, size_t limit = kDefaultLimit);
  explicit StreamSink(int fd, size_t limit = kDefaultLimit);
  // Writes what is still queued for at most one second, then drops the rest.
  ~StreamSink() override;
  void write(std::string_view line) override;
  // Waits until everything queued is written; false when `timeout` passed
  // first (the lines stay queued).
  bool flush(std::chrono::milliseconds timeout = std::chrono::hours(24));
  // Stops writing: what is queued is dropped and counted.
  void abandon();
  // Lines that never reached the descriptor: dropped while the queue was
  // full and not yet reported, abandoned, or written after the reader left.
  size_t lost() const;
  // The reader went away or the descriptor failed.
  bool broken() const;

 private:
  void run();
  bool writeAll(const std::string& bytes);
  int fd_;
  size_t limit_;
  mutable std::mutex mu_;
  std::condition_variable cv_, drained_;
  // The queued lines, each ended by "\n", in one buffer: no allocation per
  // line once the buffers have grown.
  std::string queue_;
  size_t queuedLines_ = 0;
  bool writerWaiting_ = false;
  size_t droppedUnreported_ = 0;  // refused while full, reported when room returns
  size_t lost_ = 0;
  bool stop_ = false;
  bool abandoned_ = false;
  bool busy_ = false;
  std::atomic<bool> broken_{false};
  std::thread thread_;
};

// Appends `text` to `out` so that it stays one line: C0 controls and DEL as
// "\n", "\r", "\t" or "\xHH", C1 controls and bytes that are not well-formed
// UTF-8 as "\xHH" per byte. At most `limit` bytes are appended, ending
// after the last whole character or escape that fits.
void appendTraceText(std::string& out, std::string_view text, size_t limit);

// The text part of a trace line ("...=>text" -> "text").
std::string_view traceText(std::string_view line);

}  // namespace callproc
