// The register file of one channel: 32 integer, 32 floating, 32 time and 32
// string registers. Time values are signed seconds since 1970-01-01 UTC,
// built from and shown as local time. Strings are GBK bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace interp {

inline constexpr int kRegisters = 32;

struct Registers {
  std::array<int32_t, kRegisters> I{};
  std::array<double, kRegisters> F{};
  std::array<int32_t, kRegisters> T{};
  std::array<std::string, kRegisters> S{};

  // The values reset channel leaves: 0, 0.0, 1980-01-01 00:00:00 local, "".
  void reset();
};

// 1980-01-01 00:00:00 in local time, as a time value.
int32_t localTime1980();

}  // namespace interp
