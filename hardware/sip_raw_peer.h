// A SIP caller written by hand for tests and benchmarks, on loopback: the
// messages are plain text, so what the lines answer can be checked byte for
// byte where it matters, and nothing of a second SIP stack stands between
// the measurement and the lines.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace hardware::testpeer {

class RawPeer {
 public:
  RawPeer() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
  }
  ~RawPeer() { close(fd_); }
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;

  int port() const { return port_; }
  int fd() const { return fd_; }
  void send(int toPort, const std::string& text) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(toPort));
    sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  // The next datagram whose text contains `want`, within `ms`.
  std::string expect(const std::string& want, int ms = 2000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char buf[4096];
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) continue;
      std::string s(buf, static_cast<size_t>(n));
      if (s.find(want) != std::string::npos) return s;
    }
    return {};
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

inline int freeUdpPort() {
  RawPeer p;
  return p.port();
}

// An INVITE for `user` from 13800001111 offering `codecs` on `rtpPort`.
inline std::string invite(const std::string& user, int sipPort, int myPort, int rtpPort,
                          const std::string& callId, const std::string& codecs = "8 0 101") {
  std::string sdp =
      "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio " +
      std::to_string(rtpPort) + " RTP/AVP " + codecs +
      "\r\na=rtpmap:8 PCMA/8000\r\na=rtpmap:0 PCMU/8000\r\na=rtpmap:101 telephone-event/8000\r\n";
  const std::string me = "127.0.0.1:" + std::to_string(myPort);
  return "INVITE sip:" + user + "@127.0.0.1:" + std::to_string(sipPort) + " SIP/2.0\r\n" +
         "Via: SIP/2.0/UDP " + me + ";branch=z9hG4bK" + callId + "\r\n" + "Max-Forwards: 70\r\n" +
         "From: <sip:13800001111@127.0.0.1>;tag=f" + callId + "\r\n" + "To: <sip:" + user +
         "@127.0.0.1>\r\n" + "Call-ID: " + callId + "\r\n" + "CSeq: 1 INVITE\r\n" +
         "Contact: <sip:caller@" + me + ">\r\n" + "Content-Type: application/sdp\r\n" +
         "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
}

// The To tag of a response, empty when it has none.
inline std::string toTag(const std::string& response) {
  const auto t = response.find(";tag=", response.find("\nTo:"));
  if (t == std::string::npos) return {};
  return response.substr(t + 5, response.find_first_of("\r;>", t + 5) - t - 5);
}

// A request inside the dialog of the INVITE `callId` that invite() made
// (From tag "f<callId>"), answered with To tag `tag`.
inline std::string inDialog(const std::string& method, int cseq, int sipPort, int myPort,
                            const std::string& callId, const std::string& tag,
                            const std::string& extraHeaders = {}, const std::string& body = {}) {
  return method + " sip:x@127.0.0.1:" + std::to_string(sipPort) +
         " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(myPort) + ";branch=z9hG4bK" +
         method + std::to_string(cseq) + callId +
         "\r\nMax-Forwards: 70\r\nFrom: <sip:13800001111@127.0.0.1>;tag=f" + callId +
         "\r\nTo: <sip:8888@127.0.0.1>;tag=" + tag + "\r\nCall-ID: " + callId +
         "\r\nCSeq: " + std::to_string(cseq) + " " + method + "\r\n" + extraHeaders +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

template <typename F>
bool waitFor(F f, int ms = 2000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return f();
}

}  // namespace hardware::testpeer
