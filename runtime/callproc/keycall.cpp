#include "runtime/callproc/keycall.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/keycall_datagram.h"
#include "runtime/callproc/runtime.h"

namespace callproc {

std::optional<KeyCallEvent> keyCallEvent(std::span<const uint8_t> datagram) {
  auto e = keycall::decode(datagram.data(), datagram.size());
  if (!e) return std::nullopt;
  KeyCallEvent ev;
  ev.channel = e->channel;
  switch (e->command) {
    case keycall::kBeginCall:
      ev.kind = KeyCallEvent::kBegin;
      ev.caller = e->caller;
      return ev;
    case keycall::kEndCall:
      ev.kind = KeyCallEvent::kEnd;
      return ev;
    case keycall::kKey:
      ev.kind = KeyCallEvent::kKey;
      ev.key = e->key;
      return ev;
    default:
      return std::nullopt;
  }
}

bool handleKeyCall(Runtime& rt, std::span<const uint8_t> datagram) {
  auto e = keyCallEvent(datagram);
  return e && rt.applyKeyCall(*e);
}

KeyCallReceiver::KeyCallReceiver(Runtime& rt)
    : rt_(rt), pace_([] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }) {}

KeyCallReceiver::~KeyCallReceiver() {
  stop();
  if (fd_ >= 0) ::close(fd_);
}

bool KeyCallReceiver::open(int port, const std::string& address) {
  TraceLog& trace = rt_.trace();
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd_ < 0) {
    trace("初始化keycallsock失败");
    return false;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const char* why = nullptr;
  if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1)
    why = "not an IPv4 address";
  else if (port < 0 || port > 65535)
    why = "not a port number";
  else if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    why = std::strerror(errno);
  if (why) {
    trace("创建KeyCall UDP端口%d失败，请检查是否被占用!", port);
    trace("KeyCall: cannot listen on %s:%d: %s", address.c_str(), port, why);
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  trace("创建KeyCall UDP端口%d成功!", port_);
  trace("KeyCall listens on %s:%d", address.c_str(), port_);
  return true;
}

void KeyCallReceiver::start() {
  if (fd_ < 0 || running_.exchange(true)) return;
  thread_ = std::thread([this] { run(); });
}

void KeyCallReceiver::stop() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
}

void KeyCallReceiver::run() {
  rt_.trace()("模拟呼叫接收线程启动,使用UDP端口%d", port_);
  uint8_t buf[2048];
  while (running_) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    // A larger buffer than a datagram, so that a longer one is seen as such
    // and ignored rather than cut to size.
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n < 0) continue;
    // The event goes to the scan thread's inbox. Only an event that will
    // be applied is paced: a backlog of datagrams that change nothing (a
    // flood, a scanner) is drained at once, so that the next real event is
    // not held up behind it. The pass checks the channel again.
    auto e = keyCallEvent({buf, static_cast<size_t>(n)});
    if (!e || rt_.publishedCallInType() != 0 || e->channel < 0 ||
        e->channel >= rt_.publishedChannelCount())
      continue;
    rt_.post(std::move(*e));
    pace_();
  }
}

}  // namespace callproc
