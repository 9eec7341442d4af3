// The production binding reaches the shared library: a simulated call made
// and answered through the interface.
#include "runtime/cti/hardware_cti.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hardware/hardware.h"
#include "hardware/sip_raw_peer.h"

namespace {

TEST(HardwareCti, DrivesTheSharedLibrary) {
  cti::HardwareCti hw;
  cti::Cti& c = hw;
  EXPECT_EQ(c.CTIGetChannelType(0), 1);
  ASSERT_EQ(c.CTISetKeyDtmf(4, 'B'), 0);
  EXPECT_EQ(c.CTIGetOutLineStatus(4, 0), 1);
  EXPECT_EQ(c.CTIOpenMCI(), 0);
  EXPECT_EQ(c.CTISetKeyDtmf(4, '9'), 0);
  int key = 0;
  ASSERT_EQ(c.CTIGetDtmf(4, &key, 0), 0);
  EXPECT_EQ(key, '9');
  EXPECT_EQ(c.CTISetKeyDtmf(4, 'E'), 0);
  EXPECT_EQ(c.CTIGetOutLineStatus(4, 0), 5);
  EXPECT_EQ(c.CTIPlayFile(4, "no\\such.voc", 0), -1);
  EXPECT_EQ(c.CTISetOutHook(4), 0);
  EXPECT_EQ(c.CTIGetOutLineStatus(4, 0), 0);
}

// A registrar on loopback that refuses every REGISTER with 403.
class Refuser {
 public:
  Refuser() : thread_([this] { serve(); }) {}
  ~Refuser() {
    stop_ = true;
    thread_.join();
  }
  int port() const { return peer_.port(); }

 private:
  void serve() {
    const int fd = peer_.fd();
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buf[4096];
      sockaddr_in from{};
      socklen_t n = sizeof from;
      const ssize_t got = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &n);
      if (got <= 0) continue;
      const std::string req(buf, static_cast<size_t>(got));
      std::string out = "SIP/2.0 403 Forbidden\r\n";
      size_t pos = req.find("\r\n") + 2;
      while (pos < req.size()) {
        const size_t end = req.find("\r\n", pos);
        if (end == std::string::npos || end == pos) break;
        const std::string line = req.substr(pos, end - pos);
        for (const char* h : {"Via:", "From:", "To:", "Call-ID:", "CSeq:"})
          if (line.rfind(h, 0) == 0) out += line + "\r\n";
        pos = end + 2;
      }
      out += "Content-Length: 0\r\n\r\n";
      sendto(fd, out.data(), out.size(), 0, reinterpret_cast<sockaddr*>(&from), n);
    }
  }
  hardware::testpeer::RawPeer peer_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

using hardware::testpeer::freeUdpPort;

// The library's reports (a SIP registration refused) reach the trace of
// the binding that is alive, and no binding that is gone.
TEST(HardwareCti, TheLibrarysReportsReachTheTraceWhileTheBindingLives) {
  char tmpl[] = "/tmp/hwctiXXXXXX";
  const std::string dir = mkdtemp(tmpl);
  char* old = get_current_dir_name();
  ASSERT_EQ(chdir(dir.c_str()), 0);
  Refuser registrar;
  const std::string reg = "sip:127.0.0.1:" + std::to_string(registrar.port());
  std::ofstream("sysconfig.ini") << "[System]\ncallintype=2\n[SIP]\naddress=127.0.0.1\nport="
                                 << freeUdpPort() << "\nchannels=1\nregistrar=" << reg
                                 << "\nuser=ivr\npassword=x\n";
  std::mutex m;
  std::vector<std::string> seen, gone;
  auto waitFor = [&](const std::vector<std::string>& v) {
    for (int i = 0; i < 200; ++i) {
      {
        std::lock_guard<std::mutex> g(m);
        if (!v.empty()) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  };
  {
    cti::HardwareCti earlier;
    earlier.setTrace([&](const std::string& t) {
      std::lock_guard<std::mutex> g(m);
      gone.push_back(t);
    });
  }
  {
    cti::HardwareCti hw;
    hw.setTrace([&](const std::string& t) {
      std::lock_guard<std::mutex> g(m);
      seen.push_back(t);
    });
    int a = 0, b = 0;
    ASSERT_EQ(InitQam(&a, &b), 1);
    ASSERT_TRUE(waitFor(seen));
    EXPECT_EQ(seen[0], "SIP registration of sip:ivr@127.0.0.1:" + std::to_string(registrar.port()) +
                           " at " + reg +
                           " failed: 403 Forbidden; check [SIP] user, password and realm");
    hw.shutdown();
  }
  // Again with no binding: the report goes to standard error, not to a
  // trace that is gone.
  int a = 0, b = 0;
  ASSERT_EQ(InitQam(&a, &b), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  HardwareShutdown();
  std::lock_guard<std::mutex> g(m);
  EXPECT_TRUE(gone.empty());
  EXPECT_EQ(seen.size(), 1u);
  ASSERT_EQ(chdir(old), 0);
  std::free(old);
}

}  // namespace
