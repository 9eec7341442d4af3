// The KeyCall datagram: how a simulated caller tells the runtime that a call
// begins on a channel, that a key was pressed, or that the caller hung up.
// Exactly 166 bytes, little-endian; every byte not listed is zero.
//
//   off  size  field
//   52   2     int16 command: 0 begin a call, 1 end the call, 2 key
//   58   4     int32 channel
//   62   104   data: for a call, the caller number (at most 19 characters,
//              zero-terminated); for a key, the key character
//
// Header-only and below both, so that the sender (tools/keycall) and the
// runtime's receiver share one definition.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/bytes.h"

namespace keycall {

inline constexpr size_t kDatagramSize = 166;
inline constexpr size_t kOffCommand = 52;
inline constexpr size_t kOffChannel = 58;
inline constexpr size_t kOffData = 62;
inline constexpr size_t kDataSize = kDatagramSize - kOffData;
inline constexpr size_t kCallerMax = 19;
static_assert(kOffData + kDataSize == kDatagramSize);

enum Command : int16_t { kBeginCall = 0, kEndCall = 1, kKey = 2 };

using Datagram = std::array<uint8_t, kDatagramSize>;

// `data` longer than the data field is cut to it.
inline Datagram encode(int16_t command, int32_t channel, std::string_view data) {
  Datagram d{};
  platform::putI16(d, kOffCommand, command);
  platform::putI32(d, kOffChannel, channel);
  std::copy_n(data.begin(), data.size() < kDataSize ? data.size() : kDataSize,
              d.begin() + kOffData);
  return d;
}

// A caller number longer than kCallerMax is cut to it, so it always ends in zero.
inline Datagram beginCall(int32_t channel, std::string_view caller) {
  return encode(kBeginCall, channel, caller.substr(0, kCallerMax));
}
inline Datagram endCall(int32_t channel) {
  return encode(kEndCall, channel, {});
}
inline Datagram key(int32_t channel, char k) {
  return encode(kKey, channel, {&k, 1});
}

struct Event {
  int16_t command = 0;
  int32_t channel = 0;
  // The caller number as the channel record holds it: up to the first zero,
  // at most kCallerMax characters.
  std::string caller;
  // The first data byte: the key of a key command.
  char key = 0;
};

// Nothing unless exactly kDatagramSize bytes arrived.
inline std::optional<Event> decode(const uint8_t* bytes, size_t size) {
  if (size != kDatagramSize) return std::nullopt;
  Event e;
  const std::span<const uint8_t> b(bytes, size);
  e.command = platform::getI16(b, kOffCommand);
  e.channel = platform::getI32(b, kOffChannel);
  const char* data = reinterpret_cast<const char*>(bytes + kOffData);
  e.caller.assign(data, ::strnlen(data, kCallerMax));
  e.key = data[0];
  return e;
}

}  // namespace keycall
