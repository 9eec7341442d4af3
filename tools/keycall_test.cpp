#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/keycall_datagram.h"

namespace {

// The datagram with only the given bytes set.
keycall::Datagram bytesAt(std::map<size_t, uint8_t> set) {
  keycall::Datagram d{};
  for (auto [off, v] : set)
    d[off] = v;
  return d;
}

TEST(KeyCallDatagram, Bytes) {
  struct Case {
    const char* name;
    keycall::Datagram got, want;
  } cases[] = {
      {"call on 3 from 12345", keycall::beginCall(3, "12345"),
       bytesAt({{58, 3}, {62, '1'}, {63, '2'}, {64, '3'}, {65, '4'}, {66, '5'}})},
      {"hang-up on 0x01020304", keycall::endCall(0x01020304),
       bytesAt({{52, 1}, {58, 4}, {59, 3}, {60, 2}, {61, 1}})},
      {"key # on 7", keycall::key(7, '#'), bytesAt({{52, 2}, {58, 7}, {62, '#'}})},
      {"channel -1", keycall::endCall(-1),
       bytesAt({{52, 1}, {58, 0xFF}, {59, 0xFF}, {60, 0xFF}, {61, 0xFF}})},
      {"command 0x0102", keycall::encode(0x0102, 0, {}), bytesAt({{52, 2}, {53, 1}})},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.got, c.want) << c.name;

  // A caller number is cut to 19 characters, so the 20th byte stays zero.
  keycall::Datagram d = keycall::beginCall(0, "12345678901234567890123");
  EXPECT_EQ(d[62 + 18], '9');
  EXPECT_EQ(d[62 + 19], 0);
}

TEST(KeyCallDatagram, Decode) {
  keycall::Datagram d = keycall::beginCall(5, "8001");
  auto e = keycall::decode(d.data(), d.size());
  ASSERT_TRUE(e);
  EXPECT_EQ(e->command, keycall::kBeginCall);
  EXPECT_EQ(e->channel, 5);
  EXPECT_EQ(e->caller, "8001");

  e = keycall::decode(keycall::key(-2, '*').data(), keycall::kDatagramSize);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->command, keycall::kKey);
  EXPECT_EQ(e->channel, -2);
  EXPECT_EQ(e->key, '*');

  // A sender that fills the whole data field still gives a 19-character number.
  keycall::Datagram full{};
  std::fill(full.begin() + keycall::kOffData, full.end(), '7');
  EXPECT_EQ(keycall::decode(full.data(), full.size())->caller, std::string(19, '7'));

  std::vector<uint8_t> longer(167, 0);
  for (size_t n : {0, 1, 165, 167})
    EXPECT_FALSE(keycall::decode(longer.data(), n)) << n;
}

// Runs the built keycall against a UDP socket of this test.
class KeyCallProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd_, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    timeval tv{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  void TearDown() override { ::close(fd_); }

  // Exit status and everything the program printed.
  std::pair<int, std::string> run(const std::string& args) {
    std::string cmd = std::string(KEYCALL_PATH) + " " + args + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
      out.append(buf, n);
    int st = ::pclose(p);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
  }

  std::vector<uint8_t> receive() {
    std::vector<uint8_t> b(1000);
    ssize_t n = ::recv(fd_, b.data(), b.size(), 0);
    b.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return b;
  }
  bool nothingWaiting() {
    uint8_t b[1];
    return ::recv(fd_, b, sizeof b, MSG_DONTWAIT) < 0;
  }
  std::string port() const { return std::to_string(port_); }

  int fd_ = -1;
  uint16_t port_ = 0;
};

std::vector<uint8_t> vec(const keycall::Datagram& d) {
  return {d.begin(), d.end()};
}

TEST_F(KeyCallProgram, SendsTheDatagrams) {
  struct Case {
    std::string args;
    std::vector<keycall::Datagram> want;
  } cases[] = {
      {"--port " + port() + " call 3 12345", {keycall::beginCall(3, "12345")}},
      {"call 0 '' --host localhost --port=" + port(), {keycall::beginCall(0, "")}},
      {"--port " + port() + " key 2 '1*#' --gap 0",
       {keycall::key(2, '1'), keycall::key(2, '*'), keycall::key(2, '#')}},
      {"--host 127.0.0.1 --port " + port() + " hangup 7", {keycall::endCall(7)}},
      {"--port " + port() + " hangup 200", {keycall::endCall(200)}},
  };
  for (const auto& c : cases) {
    auto [status, out] = run(c.args);
    EXPECT_EQ(status, 0) << c.args << "\n" << out;
    for (const auto& d : c.want)
      EXPECT_EQ(receive(), vec(d)) << c.args;
    EXPECT_TRUE(nothingWaiting()) << c.args;
  }
}

TEST_F(KeyCallProgram, KeysAreSpacedByTheGap) {
  auto start = std::chrono::steady_clock::now();
  auto [status, out] = run("--port " + port() + " key 1 123 --gap 60");
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(status, 0) << out;
  EXPECT_GE(took, std::chrono::milliseconds(120));
  for (char k : std::string("123"))
    EXPECT_EQ(receive(), vec(keycall::key(1, k)));
}

TEST_F(KeyCallProgram, RefusesBadArguments) {
  struct Case {
    std::string args;
    int status;
    std::string message;
  } cases[] = {
      {"--port " + port() + " call x 123", 2, "channel 'x' is not a number"},
      {"--port " + port() + " call 99999999999 123", 2, "channel '99999999999' is not a number"},
      {"--port " + port() + " call 1 12345678901234567890", 2,
       "caller number '12345678901234567890' is longer than 19 characters"},
      {"--port 0 hangup 1", 2, "port '0' must be a number from 1 to 65535"},
      {"--port 65536 hangup 1", 2, "port '65536' must be a number from 1 to 65535"},
      {"--port abc hangup 1", 2, "port 'abc' must be a number from 1 to 65535"},
      {"hangup 1", 2, "--port is required"},
      {"--port " + port() + " key 1 12A", 2, "key 'A' in '12A' is not one of 0-9, * and #"},
      {"--port " + port() + " key 1 12 --gap soon", 2, "gap 'soon' must be milliseconds"},
      {"--port " + port() + " hangup 1 --gap 5", 2, "--gap applies to 'key' only"},
      {"--port " + port() + " dial 1 2", 2, "unknown command 'dial'"},
      {"--port " + port() + " call 1", 2, "'call' takes 2 arguments, got 1"},
      {"--port " + port(), 2, "no command given"},
      {"--port " + port() + " --colour red hangup 1", 2, "unknown option '--colour'"},
      {"hangup 1 --port", 2, "option '--port' needs a value"},
      {"--host no.such.host.invalid --port " + port() + " hangup 1", 1,
       "unknown host 'no.such.host.invalid'"},
  };
  for (const auto& c : cases) {
    auto [status, out] = run(c.args);
    EXPECT_EQ(status, c.status) << c.args;
    EXPECT_NE(out.find("keycall: " + c.message), std::string::npos) << c.args << "\n" << out;
  }
  EXPECT_TRUE(nothingWaiting());
}

TEST_F(KeyCallProgram, Help) {
  auto [status, out] = run("--help");
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("keycall [--host HOST] --port PORT key CHANNEL DIGITS [--gap MS]"),
            std::string::npos);
}

}  // namespace
