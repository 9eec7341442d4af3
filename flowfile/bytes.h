// Little-endian reads and writes at byte offsets of a record. Every on-disk
// and shared record goes through these, so host byte order and struct
// padding never reach a file.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

namespace cpl {

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

}  // namespace cpl
