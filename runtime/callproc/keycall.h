// KeyCall: under simulated access another program plays the caller and
// sends 166-byte UDP datagrams (tools/keycall_datagram.h) to make a call
// arrive, press keys and hang up.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <thread>

namespace callproc {

class Runtime;

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
