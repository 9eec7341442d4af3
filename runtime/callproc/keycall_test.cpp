#include "runtime/callproc/keycall.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/keycall_datagram.h"
#include "runtime/callproc/test_support.h"

namespace callproc {
namespace {

// A datagram of `size` bytes whose first 166 are the encoded event.
std::vector<uint8_t> datagram(int16_t cmd, int32_t ch, const std::string& data,
                              size_t size = keycall::kDatagramSize) {
  auto d = keycall::encode(cmd, ch, data);
  std::vector<uint8_t> out(d.begin(), d.end());
  out.resize(size, 0);
  return out;
}

class KeyCallTest : public testing::RuntimeFixture {};

TEST_F(KeyCallTest, DatagramsAppliedOrIgnored) {
  ASSERT_EQ(startWith({}, {}), StartResult::kRunning);
  struct Case {
    const char* name;
    std::vector<uint8_t> d;
    int callintype;
    const char* wantCall;  // nullptr: ignored
  } cases[] = {
      {"call", datagram(0, 3, "12345"), 0, "CTISetKeyDtmf(3,66)"},
      {"hang-up", datagram(1, 3, ""), 0, "CTISetKeyDtmf(3,69)"},
      {"key", datagram(2, 7, "#"), 0, "CTISetKeyDtmf(7,35)"},
      {"165 bytes", datagram(0, 3, "1", 165), 0, nullptr},
      {"167 bytes", datagram(0, 3, "1", 167), 0, nullptr},
      {"channel 8 of 8", datagram(0, 8, "1"), 0, nullptr},
      {"negative channel", datagram(0, -1, "1"), 0, nullptr},
      {"unknown command", datagram(7, 3, "1"), 0, nullptr},
      {"telephone access", datagram(0, 3, "1"), 1, nullptr},
  };
  for (const auto& c : cases) {
    rt_.setChannelSetup(8, c.callintype);
    fake_.clearCalls();
    EXPECT_EQ(handleKeyCall(rt_, c.d), c.wantCall != nullptr) << c.name;
    if (c.wantCall)
      EXPECT_EQ(fake_.calls(), std::vector<std::string>{c.wantCall}) << c.name;
    else
      EXPECT_TRUE(fake_.calls().empty()) << c.name;
  }
}

TEST_F(KeyCallTest, CallerNumberReachesTheNextPass) {
  ASSERT_EQ(startWith({}, {}), StartResult::kRunning);
  // A caller number runs to the end of the data; only 19 bytes are kept.
  ASSERT_TRUE(handleKeyCall(rt_, datagram(0, 3, "12345")));
  rt_.scanPass();
  EXPECT_TRUE(saw("12345从通道3打进8888"));
  EXPECT_EQ(rt_.channels().record(3).callerNumber(), "12345");
  ASSERT_TRUE(handleKeyCall(rt_, datagram(0, 1, std::string(40, '7'))));
  rt_.scanPass();
  EXPECT_EQ(rt_.channels().record(1).callerNumber(), std::string(19, '7'));
}

TEST_F(KeyCallTest, ReceiverThreadOverUdp) {
  ASSERT_EQ(startWith({}, {}), StartResult::kRunning);
  KeyCallReceiver rx(rt_);
  ASSERT_TRUE(rx.open(0));
  ASSERT_GT(rx.port(), 0);
  EXPECT_TRUE(saw("创建KeyCall UDP端口" + std::to_string(rx.port()) + "成功!"));
  rx.start();
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(rx.port()));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (const auto& d : {datagram(0, 2, "555"), datagram(0, 2, "555", 200), datagram(2, 2, "5")})
    ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  ::close(fd);
  // The receiver posts to the inbox; the passes carry the events out.
  for (int i = 0; i < 200 && !fake_.called("CTISetKeyDtmf(2,53)"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    rt_.scanPass();
  }
  rx.stop();
  auto calls = fake_.calls();
  std::vector<std::string> keys;
  for (const auto& c : calls)
    if (c.rfind("CTISetKeyDtmf", 0) == 0) keys.push_back(c);
  EXPECT_EQ(keys, (std::vector<std::string>{"CTISetKeyDtmf(2,66)", "CTISetKeyDtmf(2,53)"}));
  EXPECT_TRUE(saw("模拟呼叫接收线程启动,使用UDP端口" + std::to_string(rx.port())));
}

// Sends datagrams to `address`:`port` from a socket of its own.
void sendTo(const char* address, int port, const std::vector<std::vector<uint8_t>>& datagrams) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, address, &to.sin_addr);
  for (const auto& d : datagrams)
    ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  ::close(fd);
}

// Only the listening address reaches the receiver: 127.0.0.2 is a local
// address too (all of 127/8 is loopback), so a socket bound to every
// interface would hear it.
TEST_F(KeyCallTest, ListensOnlyOnItsAddress) {
  ASSERT_EQ(startWith({}, {}), StartResult::kRunning);
  struct Case {
    const char* name;
    const char* bind;  // nullptr: the default
    const char* heard;
    const char* unheard;  // nullptr: none to try
  } cases[] = {
      {"default", nullptr, "127.0.0.1", "127.0.0.2"},
      {"chosen", "127.0.0.2", "127.0.0.2", "127.0.0.1"},
      {"every interface", "0.0.0.0", "127.0.0.3", nullptr},
  };
  for (const auto& c : cases) {
    fake_.clearCalls();
    KeyCallReceiver rx(rt_);
    ASSERT_TRUE(c.bind ? rx.open(0, c.bind) : rx.open(0)) << c.name;
    EXPECT_TRUE(saw(std::string("KeyCall listens on ") + (c.bind ? c.bind : "127.0.0.1") + ":" +
                    std::to_string(rx.port())))
        << c.name;
    rx.start();
    // The unheard key goes first: had it arrived, it would be seen before
    // the heard one.
    if (c.unheard) sendTo(c.unheard, rx.port(), {datagram(2, 4, "1")});
    sendTo(c.heard, rx.port(), {datagram(2, 4, "2")});
    for (int i = 0; i < 300 && !fake_.called("CTISetKeyDtmf(4,50)"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      rt_.scanPass();
    }
    rx.stop();
    EXPECT_TRUE(fake_.called("CTISetKeyDtmf(4,50)")) << c.name;
    EXPECT_FALSE(fake_.called("CTISetKeyDtmf(4,49)")) << c.name;
  }
}

TEST_F(KeyCallTest, AddressThatCannotBeUsedIsReported) {
  ASSERT_EQ(startWith({}, {}), StartResult::kRunning);
  struct Case {
    const char* address;
    const char* why;
  } cases[] = {
      {"localhost", "not an IPv4 address"},
      {"203.0.113.9", "Cannot assign requested address"},  // not an address of this machine
  };
  for (const auto& c : cases) {
    KeyCallReceiver rx(rt_);
    EXPECT_FALSE(rx.open(0, c.address)) << c.address;
    EXPECT_TRUE(saw(std::string("KeyCall: cannot listen on ") + c.address + ":0: " + c.why))
        << c.address;
  }
}

// A flood of datagrams that change nothing is drained without the pause
// that follows each applied event, so the real key behind it is prompt.
TEST_F(KeyCallTest, FloodOfInvalidDatagramsDoesNotDelayARealOne) {
  ASSERT_EQ(startWith({}, {}), StartResult::kRunning);
  KeyCallReceiver rx(rt_);
  std::atomic<int> paced{0};
  rx.setPacer([&paced] {
    ++paced;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  ASSERT_TRUE(rx.open(0));
  // Kept below what the socket's receive buffer holds, so none is dropped
  // and, paced one by one, they would hold the key up for over a second.
  std::vector<std::vector<uint8_t>> flood;
  for (int i = 0; i < 120; ++i)
    flood.push_back(i % 3 == 0   ? datagram(2, 4, "1", 165)  // wrong length
                    : i % 3 == 1 ? datagram(2, 99, "1")      // no such channel
                                 : datagram(9, 4, "1"));     // no such command
  flood.push_back(datagram(2, 4, "#"));
  sendTo("127.0.0.1", rx.port(), flood);
  const auto t0 = std::chrono::steady_clock::now();
  rx.start();
  while (!fake_.called("CTISetKeyDtmf(4,35)") &&
         std::chrono::steady_clock::now() - t0 < std::chrono::seconds(5)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    rt_.scanPass();
  }
  const auto took = std::chrono::steady_clock::now() - t0;
  rx.stop();
  ASSERT_TRUE(fake_.called("CTISetKeyDtmf(4,35)"));
  EXPECT_EQ(paced.load(), 1);
  EXPECT_LT(took, std::chrono::milliseconds(600));
}

TEST_F(KeyCallTest, PortInUseIsReported) {
  ASSERT_EQ(startWith({}, {}), StartResult::kRunning);
  KeyCallReceiver a(rt_), b(rt_);
  ASSERT_TRUE(a.open(0));
  EXPECT_FALSE(b.open(a.port()));
  EXPECT_TRUE(saw("创建KeyCall UDP端口" + std::to_string(a.port()) + "失败，请检查是否被占用!"));
}

}  // namespace
}  // namespace callproc
