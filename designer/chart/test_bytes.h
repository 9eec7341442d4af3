// Hand-built little-endian byte strings for the file tests.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace chart::testing {

struct Bytes {
  std::vector<uint8_t> v;
  Bytes& raw(std::string_view s) {
    v.insert(v.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& u8(int b) {
    v.push_back(static_cast<uint8_t>(b));
    return *this;
  }
  Bytes& i16(int x) { return u8(x & 0xff).u8((x >> 8) & 0xff); }
  Bytes& i32(int64_t x) {
    for (int i = 0; i < 4; ++i)
      u8(static_cast<int>((x >> (8 * i)) & 0xff));
    return *this;
  }
  Bytes& zeros(int n) {
    v.insert(v.end(), n, 0);
    return *this;
  }
  Bytes& text(std::string_view s) { return i32(static_cast<int64_t>(s.size())).raw(s); }
  Bytes& add(const std::vector<uint8_t>& more) {
    v.insert(v.end(), more.begin(), more.end());
    return *this;
  }
};

}  // namespace chart::testing
