// KeyCall: under simulated access another program plays the caller and
// sends 166-byte UDP datagrams (platform/keycall_datagram.h) to make a call
// arrive, press keys and hang up.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "runtime/callproc/commands.h"

namespace callproc {

class Runtime;
struct KeyCallEvent;

// The event a datagram carries, or nothing when it is not 166 bytes or its
// command is unknown.
std::optional<KeyCallEvent> keyCallEvent(std::span<const uint8_t> datagram);

// Applies one datagram to the runtime on its owner thread: ignored unless it
// decodes, the runtime is under simulated access and the channel is below
// the channel count. Returns true when it was applied. The receiver thread
// posts the event to the runtime's inbox instead.
bool handleKeyCall(Runtime& rt, std::span<const uint8_t> datagram);

// Whoever can reach the KeyCall port places calls and writes into the
// trace, so the socket listens on the loopback address unless [net]
// keycalladdr names another.
inline constexpr const char* kKeyCallDefaultAddress = "127.0.0.1";

// The UDP socket and its receiver thread.
class KeyCallReceiver {
 public:
  explicit KeyCallReceiver(Runtime& rt);
  ~KeyCallReceiver();
  // Creates and binds the socket to `port` (0: any free port) on `address`,
  // an IPv4 address in dotted form ("0.0.0.0": every local address), with
  // the set-up trace lines. False when it cannot.
  bool open(int port, const std::string& address = kKeyCallDefaultAddress);
  int port() const { return port_; }
  void start();
  void stop();
  // What the receiver does after applying a datagram: 10 ms of sleep, so
  // that the events of one sender reach the scan in separate passes. Tests
  // count it instead.
  void setPacer(std::function<void()> pacer) { pace_ = std::move(pacer); }

 private:
  void run();
  Runtime& rt_;
  int fd_ = -1;
  int port_ = 0;
  std::function<void()> pace_;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace callproc
