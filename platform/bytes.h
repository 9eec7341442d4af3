// Little-endian bytes for every format the system stores or sends: the
// compiled flow, the project file, the KeyCall datagram, voice files and the
// channel record. get/put read and write at an offset of a record the caller
// has sized; ByteReader walks untrusted bytes and refuses to read past their
// end; ByteWriter appends to a growing image. Host byte order and struct
// padding never reach a file.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// ---- At an offset -----------------------------------------------------------

inline uint16_t getU16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
inline int16_t getI16(std::span<const uint8_t> b, size_t at) {
  return static_cast<int16_t>(getU16(b, at));
}
inline uint32_t getU32(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline int32_t getI32(std::span<const uint8_t> b, size_t at) {
  return static_cast<int32_t>(getU32(b, at));
}
inline uint64_t getU64(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint64_t>(getU32(b, at)) | (static_cast<uint64_t>(getU32(b, at + 4)) << 32);
}
inline double getF64(std::span<const uint8_t> b, size_t at) {
  uint64_t u = getU64(b, at);
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}

inline void putU16(std::span<uint8_t> b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void putI16(std::span<uint8_t> b, size_t at, int16_t v) {
  putU16(b, at, static_cast<uint16_t>(v));
}
inline void putU32(std::span<uint8_t> b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void putI32(std::span<uint8_t> b, size_t at, int32_t v) {
  putU32(b, at, static_cast<uint32_t>(v));
}
inline void putU64(std::span<uint8_t> b, size_t at, uint64_t v) {
  putU32(b, at, static_cast<uint32_t>(v));
  putU32(b, at + 4, static_cast<uint32_t>(v >> 32));
}
inline void putF64(std::span<uint8_t> b, size_t at, double v) {
  uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  putU64(b, at, u);
}

// ---- Cursors ----------------------------------------------------------------

// Reads untrusted bytes front to back. Every read checks what is left first;
// a failed read returns false and leaves the cursor where it was.
class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> b) : b_(b) {}

  size_t left() const { return b_.size() - pos_; }
  size_t pos() const { return pos_; }

  bool take(size_t n, std::span<const uint8_t>* out) {
    if (n > left()) return false;
    *out = b_.subspan(pos_, n);
    pos_ += n;
    return true;
  }
  bool text(size_t n, std::string* out) {
    std::span<const uint8_t> s;
    if (!take(n, &s)) return false;
    out->assign(reinterpret_cast<const char*>(s.data()), s.size());
    return true;
  }
  bool u8(uint8_t* v) {
    if (left() < 1) return false;
    *v = b_[pos_++];
    return true;
  }
  bool i16(int16_t* v) {
    return fixed(2, v, [&] { return getI16(b_, pos_); });
  }
  bool i32(int32_t* v) {
    return fixed(4, v, [&] { return getI32(b_, pos_); });
  }
  bool u32(uint32_t* v) {
    return fixed(4, v, [&] { return getU32(b_, pos_); });
  }
  // Steps back over bytes already read (never before the start).
  void back(size_t n) { pos_ = n > pos_ ? 0 : pos_ - n; }

 private:
  template <typename T, typename F>
  bool fixed(size_t n, T* v, F read) {
    if (left() < n) return false;
    *v = read();
    pos_ += n;
    return true;
  }

  std::span<const uint8_t> b_;
  size_t pos_ = 0;
};

// Appends little-endian values to a byte image.
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}

  void u8(uint8_t v) { out_.push_back(v); }
  void i16(int16_t v) {
    append<2>([&](std::span<uint8_t> b) { putI16(b, 0, v); });
  }
  void i32(int32_t v) {
    append<4>([&](std::span<uint8_t> b) { putI32(b, 0, v); });
  }
  void u32(uint32_t v) {
    append<4>([&](std::span<uint8_t> b) { putU32(b, 0, v); });
  }
  void bytes(std::span<const uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
  void text(std::string_view s) { out_.insert(out_.end(), s.begin(), s.end()); }
  size_t size() const { return out_.size(); }

 private:
  template <size_t N, typename F>
  void append(F put) {
    uint8_t b[N];
    put(std::span<uint8_t>(b, N));
    out_.insert(out_.end(), b, b + N);
  }

  std::vector<uint8_t>& out_;
};

}  // namespace platform
