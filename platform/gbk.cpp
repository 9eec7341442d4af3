#include "platform/gbk.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace platform {
namespace {

bool isAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return (c & 0x80) == 0; });
}

// One descriptor per thread and direction: iconv keeps shift state, so a
// descriptor must not be shared between threads.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts, appending to `out`, replacing each unconvertible input
  // sequence by `bad`; `badLen(in, left)` says how many input bytes such a
  // sequence spans.
  template <typename BadLen>
  void run(std::string& out, std::string_view in, std::string_view bad, BadLen badLen) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      out.append(in);
      return;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    const size_t base = out.size();
    out.resize(base + in.size() * 3 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = out.data() + base;
    size_t dstLeft = out.size() - base;
    const auto grow = [&](size_t more) {
      size_t done = dst - out.data();
      out.resize(out.size() + more);
      dst = out.data() + done;
      dstLeft = out.size() - done;
    };
    while (srcLeft > 0) {
      size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      if (r != static_cast<size_t>(-1)) break;
      if (errno == E2BIG) {
        grow(out.size() - base + 16);
        continue;
      }
      // EILSEQ or EINVAL (truncated sequence at the end): substitute and skip.
      size_t skip = std::min(srcLeft, badLen(src, srcLeft));
      if (dstLeft < bad.size()) grow(out.size() - base + bad.size());
      std::copy(bad.begin(), bad.end(), dst);
      dst += bad.size();
      dstLeft -= bad.size();
      src += skip;
      srcLeft -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(dst - out.data());
  }

 private:
  iconv_t cd_;
};

size_t utf8SeqLen(const char* p, size_t left) {
  unsigned char c = static_cast<unsigned char>(*p);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
  // A broken sequence is skipped as one unit: its lead byte and the
  // continuation bytes that follow it.
  size_t i = 1;
  while (i < n && i < left && (static_cast<unsigned char>(p[i]) & 0xC0) == 0x80)
    ++i;
  return i;
}

}  // namespace

bool isValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c >> 5) == 6) {
      n = 2;
      cp = c & 0x1F;
    } else if ((c >> 4) == 14) {
      n = 3;
      cp = c & 0x0F;
    } else if ((c >> 3) == 30) {
      n = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
      return false;
    i += n;
  }
  return true;
}

void appendGbkAsUtf8(std::string& out, std::string_view gbk) {
  if (isAscii(gbk)) {
    out.append(gbk);
    return;
  }
  thread_local Converter conv("UTF-8", "GBK");
  // A GBK lead byte (0x81..0xFE) starts a two-byte character; a bad one is
  // skipped alone so that the next character still decodes.
  conv.run(out, gbk, "\xEF\xBF\xBD", [](const char*, size_t) { return size_t{1}; });
}

std::string gbkToUtf8(std::string_view gbk) {
  std::string out;
  appendGbkAsUtf8(out, gbk);
  return out;
}

std::string utf8ToGbk(std::string_view utf8) {
  if (isAscii(utf8)) return std::string(utf8);
  thread_local Converter conv("GBK", "UTF-8");
  std::string out;
  conv.run(out, utf8, "?", utf8SeqLen);
  return out;
}

namespace {
template <bool kUpper>
void mapAsciiCase(std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b >= 0x81 && b <= 0xFE && i + 1 < s.size()) {
      ++i;  // a lead byte: its trail byte is part of the same character
      continue;
    }
    if (kUpper && b >= 'a' && b <= 'z') s[i] = static_cast<char>(b - 'a' + 'A');
    if (!kUpper && b >= 'A' && b <= 'Z') s[i] = static_cast<char>(b - 'A' + 'a');
  }
}
}  // namespace

void gbkAsciiLowerInPlace(std::string& s) {
  mapAsciiCase<false>(s);
}
void gbkAsciiUpperInPlace(std::string& s) {
  mapAsciiCase<true>(s);
}

std::string gbkAsciiLower(std::string_view s) {
  std::string out(s);
  gbkAsciiLowerInPlace(out);
  return out;
}

std::string gbkAsciiUpper(std::string_view s) {
  std::string out(s);
  gbkAsciiUpperInPlace(out);
  return out;
}

}  // namespace platform
