// KeyCall: under simulated access another program plays the caller and
// sends 166-byte UDP datagrams to make a call arrive, press keys and hang up.
//
//   off  type     field
//   52   int16    command: 0 begin a call, 1 end the call, 2 key
//   58   int32    channel
//   62   char[]   command 0: caller number, zero-terminated (at most 19);
//                 command 2: the key character in the first byte
// Every other byte is ignored.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <thread>

namespace callproc {

class Runtime;

inline constexpr size_t kKeyCallSize = 166;
inline constexpr int kKeyCallCommand = 52, kKeyCallChannel = 58, kKeyCallData = 62;
enum KeyCallCommand : int16_t { kKeyCallBegin = 0, kKeyCallEnd = 1, kKeyCallKey = 2 };

struct KeyCallEvent {
  int16_t command = 0;
  int32_t channel = 0;
  std::string data;  // caller number (command 0) or the key (command 2)
};

// nullopt unless the datagram is exactly 166 bytes.
std::optional<KeyCallEvent> decodeKeyCall(std::span<const uint8_t> datagram);

// Applies one datagram to the runtime: ignored unless it decodes, the
// runtime is under simulated access and the channel is below the channel
// count. Returns true when it was applied.
bool handleKeyCall(Runtime& rt, std::span<const uint8_t> datagram);

// The UDP socket and its receiver thread.
class KeyCallReceiver {
 public:
  explicit KeyCallReceiver(Runtime& rt) : rt_(rt) {}
  ~KeyCallReceiver();
  // Creates and binds the socket to `port` on every local address (0: any
  // free port), with the set-up trace lines. False when it cannot.
  bool open(int port);
  int port() const { return port_; }
  void start();
  void stop();

 private:
  void run();
  Runtime& rt_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace callproc
