// The one writer of the channel lines of the trace: it composes each
// line's channel prefix and turns the GBK texts of the call (voice names,
// numbers, keys, registers) into UTF-8 as it formats the line, into one
// buffer per thread, so neither the block handlers nor the script commands
// write prefixes or convert text themselves.
//
// Formatting is printf's; an argument wrapped in Gbk{} is GBK text for a
// "%s" and is converted on the way (bytes that are not GBK become U+FFFD).
// Other arguments are numbers or UTF-8 C strings. The format is checked
// against the arguments at compile time: a std::string, a number for "%s"
// or a 64-bit number for "%d" does not build.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>

namespace chanlog {

// Where finished lines go (the trace log).
class LineSink {
 public:
  virtual ~LineSink() = default;
  // False when lines are dropped anyway: nothing is formatted then.
  virtual bool showing() const = 0;
  // A finished UTF-8 text, taken literally.
  virtual void text(std::string_view utf8) = 0;
};

// GBK text for a "%s" of a channel line.
struct Gbk {
  std::string_view text;
};

namespace channel_log_detail {

enum class Arg { kInt, kLong, kFloat, kText, kPointer, kOther };

template <typename T>
consteval Arg argOf() {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, Gbk> || std::is_same_v<U, const char*> ||
                std::is_same_v<U, char*> ||
                (std::is_array_v<U> && std::is_same_v<std::remove_extent_t<U>, char>))
    return Arg::kText;
  else if constexpr (std::is_floating_point_v<U>)
    return Arg::kFloat;
  else if constexpr (std::is_pointer_v<U>)
    return Arg::kPointer;
  else if constexpr (std::is_integral_v<U> && sizeof(U) <= sizeof(int))
    return Arg::kInt;
  // An unscoped enum is promoted like its integer; a scoped one is not.
  else if constexpr (std::is_enum_v<U> && std::is_convertible_v<U, int> && sizeof(U) <= sizeof(int))
    return Arg::kInt;
  else if constexpr (std::is_integral_v<U> && sizeof(U) == sizeof(long))
    return Arg::kLong;
  else
    return Arg::kOther;
}

// Whether the printf conversions of `f` take exactly `args`, in order.
template <size_t N>
consteval bool matches(const char* f, const std::array<Arg, N>& args) {
  size_t next = 0;
  for (; *f; ++f) {
    if (*f != '%') continue;
    ++f;
    if (*f == '%') continue;
    while (*f == '-' || *f == '+' || *f == ' ' || *f == '#' || *f == '0')
      ++f;
    // A width or precision of "*" takes an int argument of its own.
    if (*f == '*') {
      if (next == N || args[next++] != Arg::kInt) return false;
      ++f;
    }
    while (*f >= '0' && *f <= '9')
      ++f;
    if (*f == '.') {
      ++f;
      if (*f == '*') {
        if (next == N || args[next++] != Arg::kInt) return false;
        ++f;
      }
      while (*f >= '0' && *f <= '9')
        ++f;
    }
    bool wide = false;
    if (*f == 'z' || *f == 'l' || *f == 'j' || *f == 't') {
      wide = true;
      ++f;
      if (*f == 'l') ++f;
    } else {
      while (*f == 'h')
        ++f;
    }
    if (next == N) return false;
    const Arg a = args[next++];
    switch (*f) {
      case 'd':
      case 'i':
      case 'u':
      case 'o':
      case 'x':
      case 'X':
      case 'c':
        if (a != (wide ? Arg::kLong : Arg::kInt)) return false;
        break;
      case 'p':
        if (a != Arg::kPointer) return false;
        break;
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'e':
      case 'E':
        if (a != Arg::kFloat) return false;
        break;
      case 's':
        if (a != Arg::kText) return false;
        break;
      default:
        return false;
    }
  }
  return next == N;
}

// A format string checked against the argument types A.
template <typename... A>
struct Format {
  template <size_t N>
  consteval Format(const char (&s)[N]) : text(s) {
    if (!matches(s, std::array<Arg, sizeof...(A)>{argOf<A>()...}))
      throw "the format does not take these arguments";
  }
  const char* text;
};

}  // namespace channel_log_detail

template <typename... A>
using LineFormat = channel_log_detail::Format<std::type_identity_t<A>...>;

class ChannelLog {
 public:
  explicit ChannelLog(LineSink& sink) : sink_(sink) {}

  bool showing() const { return sink_.showing(); }

  // "通道%d=>(%d)": a line of a block handler (channel, block index).
  template <typename... A>
  void block(int c, int blockIndex, LineFormat<A...> fmt, const A&... args) {
    write(Prefix{kBlock, c, blockIndex, 0}, fmt.text, args...);
  }
  // "通道%d=>": a line of a channel outside any block step.
  template <typename... A>
  void channel(int c, LineFormat<A...> fmt, const A&... args) {
    write(Prefix{kChannel, c, 0, 0}, fmt.text, args...);
  }
  // "通道%d=>(%d:%d)": a line of a script instruction (block, instruction).
  template <typename... A>
  void script(int c, int blockIndex, int pc, LineFormat<A...> fmt, const A&... args) {
    write(Prefix{kScript, c, blockIndex, pc}, fmt.text, args...);
  }
  // "通道%2d (外线) : ": a line about an outer line's database work.
  template <typename... A>
  void outer(int c, LineFormat<A...> fmt, const A&... args) {
    write(Prefix{kOuter, c, 0, 0}, fmt.text, args...);
  }
  // A line whose text names the channel itself, or none.
  template <typename... A>
  void line(LineFormat<A...> fmt, const A&... args) {
    write(Prefix{kNone, 0, 0, 0}, fmt.text, args...);
  }

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
    static_assert(std::is_arithmetic_v<T> || std::is_enum_v<T> ||
                      std::is_same_v<std::decay_t<T>, const char*> ||
                      std::is_same_v<std::decay_t<T>, char*> || std::is_array_v<T> ||
                      std::is_pointer_v<T>,
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
    if (!sink_.showing()) return;
    std::string& texts = staging();
    texts.clear();
    const auto staged = std::tuple<decltype(stage(texts, args))...>(stage(texts, args)...);
    std::apply([&](const auto&... s) { compose(p, fmt, resolve(texts, s)...); }, staged);
  }

  template <typename... A>
  void compose(const Prefix& p, const char* fmt, const A&... args) {
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

  LineSink& sink_;
};

}  // namespace chanlog
