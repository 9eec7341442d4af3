// keycall: plays the caller on a simulated line of a runtime running under
// simulated access, by sending KeyCall datagrams to its UDP port.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/keycall_datagram.h"

namespace {

constexpr const char* kUsage =
    "Usage: keycall [--host HOST] --port PORT call CHANNEL CALLER\n"
    "       keycall [--host HOST] --port PORT key CHANNEL DIGITS [--gap MS]\n"
    "       keycall [--host HOST] --port PORT hangup CHANNEL\n"
    "\n"
    "Plays the caller on a simulated line: sends KeyCall datagrams to the\n"
    "runtime's KeyCall port ([net] keycallport of its sysconfig.ini).\n"
    "\n"
    "  call CHANNEL CALLER   a call arrives on CHANNEL from CALLER (at most 19\n"
    "                        characters; may be empty: \"\")\n"
    "  key CHANNEL DIGITS    the caller presses each of DIGITS (0-9, *, #) in turn\n"
    "  hangup CHANNEL        the caller hangs up\n"
    "\n"
    "Options:\n"
    "  --host HOST   where the runtime runs (default 127.0.0.1)\n"
    "  --port PORT   its KeyCall UDP port, 1 to 65535 (required)\n"
    "  --gap MS      milliseconds between two keys (default 100)\n"
    "  --help        show this text\n"
    "\n"
    "Exit status: 0 sent, 1 could not send, 2 bad arguments.\n";

constexpr int kExitSendFailed = 1;
constexpr int kExitUsage = 2;

struct Options {
  std::string host = "127.0.0.1";
  std::optional<std::string> port;
  std::optional<std::string> gap;
  std::vector<std::string> args;
};

int usageError(const std::string& message) {
  std::fprintf(stderr, "keycall: %s\nTry 'keycall --help'.\n", message.c_str());
  return kExitUsage;
}

// A whole decimal number within [lo, hi], or nothing.
std::optional<long long> parseNumber(const std::string& s, long long lo, long long hi) {
  if (s.empty() || s.size() > 12) return std::nullopt;
  size_t i = s[0] == '-' || s[0] == '+' ? 1 : 0;
  if (i == s.size()) return std::nullopt;
  long long v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    v = v * 10 + (s[i] - '0');
  }
  if (s[0] == '-') v = -v;
  if (v < lo || v > hi) return std::nullopt;
  return v;
}

class Sender {
 public:
  ~Sender() {
    if (fd_ >= 0) ::close(fd_);
  }

  // Resolves the host (IPv4) and opens the socket; prints why on failure.
  bool open(const std::string& host, uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
      std::fprintf(stderr, "keycall: unknown host '%s': %s\n", host.c_str(), ::gai_strerror(rc));
      return false;
    }
    std::memcpy(&addr_, found->ai_addr, sizeof addr_);
    ::freeaddrinfo(found);
    addr_.sin_port = htons(port);
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd_ < 0) {
      std::fprintf(stderr, "keycall: cannot open a UDP socket: %s\n", std::strerror(errno));
      return false;
    }
    return true;
  }

  bool send(const keycall::Datagram& d) {
    ssize_t n = ::sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&addr_),
                         sizeof addr_);
    if (n != static_cast<ssize_t>(d.size())) {
      char where[INET_ADDRSTRLEN] = "?";
      ::inet_ntop(AF_INET, &addr_.sin_addr, where, sizeof where);
      std::fprintf(stderr, "keycall: cannot send to %s port %u: %s\n", where,
                   unsigned(ntohs(addr_.sin_port)), std::strerror(errno));
      return false;
    }
    return true;
  }

 private:
  int fd_ = -1;
  sockaddr_in addr_{};
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a.rfind("--", 0) == 0 && a.size() > 2) {
      std::string name = a, value;
      bool inlineValue = false;
      if (auto eq = a.find('='); eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
        inlineValue = true;
      }
      if (name != "--host" && name != "--port" && name != "--gap")
        return usageError("unknown option '" + name + "'");
      if (!inlineValue) {
        if (i + 1 >= argc) return usageError("option '" + name + "' needs a value");
        value = argv[++i];
      }
      if (name == "--host")
        o.host = value;
      else if (name == "--port")
        o.port = value;
      else
        o.gap = value;
      continue;
    }
    o.args.push_back(a);
  }

  if (o.args.empty()) return usageError("no command given (call, key or hangup)");
  const std::string& command = o.args[0];
  size_t want = command == "call" || command == "key" ? 3 : command == "hangup" ? 2 : 0;
  if (want == 0) return usageError("unknown command '" + command + "' (call, key or hangup)");
  if (o.args.size() != want)
    return usageError("'" + command + "' takes " + std::to_string(want - 1) + " argument" +
                      (want == 2 ? "" : "s") + ", got " + std::to_string(o.args.size() - 1));
  if (!o.port) return usageError("--port is required");
  auto port = parseNumber(*o.port, 1, 65535);
  if (!port) return usageError("port '" + *o.port + "' must be a number from 1 to 65535");
  auto channel = parseNumber(o.args[1], INT32_MIN, INT32_MAX);
  if (!channel) return usageError("channel '" + o.args[1] + "' is not a number");
  if (o.host.empty()) return usageError("--host is empty");
  long long gapMs = 100;
  if (o.gap) {
    if (command != "key") return usageError("--gap applies to 'key' only");
    auto g = parseNumber(*o.gap, 0, 600000);
    if (!g) return usageError("gap '" + *o.gap + "' must be milliseconds from 0 to 600000");
    gapMs = *g;
  }

  std::vector<keycall::Datagram> datagrams;
  int32_t ch = static_cast<int32_t>(*channel);
  if (command == "call") {
    const std::string& caller = o.args[2];
    if (caller.size() > keycall::kCallerMax)
      return usageError("caller number '" + caller + "' is longer than 19 characters");
    if (caller.find('\0') != std::string::npos)
      return usageError("caller number contains a zero byte");
    datagrams.push_back(keycall::beginCall(ch, caller));
  } else if (command == "key") {
    const std::string& digits = o.args[2];
    if (digits.empty()) return usageError("no keys given");
    for (char k : digits) {
      if (!((k >= '0' && k <= '9') || k == '*' || k == '#'))
        return usageError(std::string("key '") + k + "' in '" + digits +
                          "' is not one of 0-9, * and #");
      datagrams.push_back(keycall::key(ch, k));
    }
  } else {
    datagrams.push_back(keycall::endCall(ch));
  }

  Sender sender;
  if (!sender.open(o.host, static_cast<uint16_t>(*port))) return kExitSendFailed;
  for (size_t i = 0; i < datagrams.size(); ++i) {
    if (i > 0 && gapMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    if (!sender.send(datagrams[i])) return kExitSendFailed;
  }
  return 0;
}
