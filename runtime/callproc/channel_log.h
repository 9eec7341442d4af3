// The one writer of the channel lines of the trace: it composes each
// line's channel prefix and turns the GBK texts of the call (voice names,
// numbers, keys) into UTF-8 as it formats the line, into one buffer per
// thread, so handlers neither write prefixes nor convert text themselves.
//
// Formatting is printf's; an argument wrapped in Gbk{} is GBK text for a
// "%s" and is converted on the way (bytes that are not GBK become U+FFFD).
// Other arguments are numbers or UTF-8 C strings; a std::string is refused
// at compile time, so a GBK string cannot reach the log unconverted.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "runtime/callproc/trace.h"

namespace callproc {

// GBK text for a "%s" of a channel line.
struct Gbk {
  std::string_view text;
};

class ChannelLog {
 public:
  explicit ChannelLog(TraceLog& trace) : trace_(trace) {}

  // "通道%d=>(%d)": a line of a block handler (channel, block index).
  template <typename... A>
  void block(int c, int blockIndex, const char* fmt, const A&... args) {
    write(Prefix{kBlock, c, blockIndex, 0}, fmt, args...);
  }
  // "通道%d=>": a line of a channel outside any block step.
  template <typename... A>
  void channel(int c, const char* fmt, const A&... args) {
    write(Prefix{kChannel, c, 0, 0}, fmt, args...);
  }
  // "通道%d=>(%d:%d)": a line of a script instruction (block, instruction).
  template <typename... A>
  void script(int c, int blockIndex, int pc, const char* fmt, const A&... args) {
    write(Prefix{kScript, c, blockIndex, pc}, fmt, args...);
  }
  // "通道%2d (外线) : ": a line about an outer line's database work.
  template <typename... A>
  void outer(int c, const char* fmt, const A&... args) {
    write(Prefix{kOuter, c, 0, 0}, fmt, args...);
  }
  // A line whose text names the channel itself, or none.
  template <typename... A>
  void line(const char* fmt, const A&... args) {
    write(Prefix{kNone, 0, 0, 0}, fmt, args...);
  }

  TraceLog& trace() { return trace_; }

 private:
  enum Shape { kNone, kBlock, kChannel, kScript, kOuter };
  struct Prefix {
    Shape shape;
    int c, a, b;
  };
  // Where a converted GBK argument sits in the staging buffer.
  struct Staged {
    size_t at;
  };

  // Stage 1: GBK arguments are converted into the staging buffer (which may
  // move while it grows), everything else passes as it is.
  static Staged stage(std::string& buf, const Gbk& g);
  template <typename T>
  static const T& stage(std::string&, const T& v) {
    static_assert(std::is_arithmetic_v<T> || std::is_same_v<std::decay_t<T>, const char*> ||
                      std::is_same_v<std::decay_t<T>, char*> || std::is_array_v<T>,
                  "channel lines take numbers, C strings and Gbk{} texts");
    return v;
  }
  // Stage 2: once the buffer stays put, staged texts become C strings.
  static const char* resolve(const std::string& buf, Staged s) { return buf.data() + s.at; }
  template <typename T>
  static const T& resolve(const std::string&, const T& v) {
    return v;
  }

  template <typename... A>
  void write(const Prefix& p, const char* fmt, const A&... args) {
    if (!trace_.showing()) return;
    std::string& texts = staging();
    texts.clear();
    const auto staged = std::tuple<decltype(stage(texts, args))...>(stage(texts, args)...);
    std::apply([&](const auto&... s) { emit(p, fmt, resolve(texts, s)...); }, staged);
  }

  template <typename... A>
  void emit(const Prefix& p, const char* fmt, const A&... args) {
    char buf[kLineBuffer];
    int n = prefix(p, buf, sizeof buf);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    int m = std::snprintf(buf + n, sizeof buf - n, fmt, args...);
#pragma GCC diagnostic pop
    finish(buf, n, m);
  }

  // Room beyond the log's 1023 bytes, so that the log cuts on a character.
  static constexpr size_t kLineBuffer = 2048;
  static std::string& staging();
  static int prefix(const Prefix& p, char* buf, size_t size);
  void finish(const char* buf, int prefixLen, int textLen);

  TraceLog& trace_;
};

}  // namespace callproc
