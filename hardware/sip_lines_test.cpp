#include "hardware/sip_lines.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "hardware/chanrecord.h"
#include "hardware/cti_contract.h"
#include "hardware/g711.h"
#include "hardware/jitter_buffer.h"
#include "hardware/sip_raw_peer.h"
#include "hardware/voice_file.h"
#include "platform/ini.h"

// libre's types header redefines bool unless told the C library has it.
#define HAVE_STDBOOL_H 1
#define HAVE_INTTYPES_H 1
extern "C" {
#include <re.h>
}

namespace hardware {
namespace {

TEST(G711, RoundTripsEveryCode) {
  for (int code = 0; code < 256; ++code) {
    const auto a = static_cast<uint8_t>(code);
    EXPECT_EQ(g711::linearToAlaw(g711::alawToLinear(a)), a) << code;
    // µ-law has two codes for zero; every other code comes back.
    if (code != 0x7F) {
      EXPECT_EQ(g711::linearToUlaw(g711::ulawToLinear(a)), a) << code;
    }
  }
  struct Case {
    int16_t pcm;
    uint8_t alaw;
    uint8_t ulaw;
  };
  for (const Case& c : {Case{0, 0xD5, 0xFF}, Case{-1, 0x55, 0x7F}, Case{32767, 0xAA, 0x80},
                        Case{-32768, 0x2A, 0x00}, Case{1000, 0xFA, 0xCE}}) {
    EXPECT_EQ(g711::linearToAlaw(c.pcm), c.alaw) << c.pcm;
    EXPECT_EQ(g711::linearToUlaw(c.pcm), c.ulaw) << c.pcm;
  }
}

JitterBuffer::Frame frameOf(uint8_t v) {
  JitterBuffer::Frame f;
  f.fill(v);
  return f;
}

// Frames by timestamp: 160 samples each, counted from the first packet.
constexpr uint32_t ts(uint32_t frame) {
  return 1000 + frame * kFrameBytes;
}

TEST(JitterBuffer, ReordersFillsLossesAndDropsLatecomers) {
  JitterBuffer jb(3, 16);
  JitterBuffer::Frame out;
  EXPECT_FALSE(jb.pop(out));  // nothing yet
  jb.put(ts(0), frameOf(1).data(), kFrameBytes);
  jb.put(ts(2), frameOf(3).data(), kFrameBytes);
  EXPECT_FALSE(jb.pop(out));  // two frames, depth is three
  EXPECT_EQ(out[0], kAlawSilence);
  jb.put(ts(1), frameOf(2).data(), kFrameBytes);  // reordered
  // Frame 3 is lost, half of frame 4 arrives.
  jb.put(ts(4), frameOf(5).data(), 80);
  const uint8_t expected[] = {1, 2, 3, kAlawSilence, 5};
  for (uint8_t e : expected) {
    ASSERT_TRUE(jb.pop(out));
    EXPECT_EQ(out[0], e);
  }
  EXPECT_EQ(out[79], 5);
  EXPECT_EQ(out[80], kAlawSilence);
  EXPECT_EQ(jb.lost(), 1u);
  jb.put(ts(3), frameOf(4).data(), kFrameBytes);  // after its turn
  EXPECT_EQ(jb.late(), 1u);
  // A starved buffer keeps giving silence: the recording keeps its length.
  ASSERT_TRUE(jb.pop(out));
  EXPECT_EQ(out[0], kAlawSilence);
}

TEST(JitterBuffer, PacketsOfAnySizeFillTheirFrames) {
  JitterBuffer jb(1, 16);
  JitterBuffer::Frame out;
  std::vector<uint8_t> forty(2 * kFrameBytes);  // 40 ms: two frames
  for (size_t i = 0; i < forty.size(); ++i)
    forty[i] = static_cast<uint8_t>(i < kFrameBytes ? 1 : 2);
  jb.put(ts(0), forty.data(), forty.size());
  // 10 ms packets: two to a frame.
  jb.put(ts(2), frameOf(3).data(), 80);
  jb.put(ts(2) + 80, frameOf(4).data(), 80);
  ASSERT_TRUE(jb.pop(out));
  EXPECT_EQ(out[159], 1);
  ASSERT_TRUE(jb.pop(out));
  EXPECT_EQ(out[0], 2);
  ASSERT_TRUE(jb.pop(out));
  EXPECT_EQ(out[79], 3);
  EXPECT_EQ(out[80], 4);
  EXPECT_EQ(jb.lost(), 0u);
}

TEST(JitterBuffer, FollowsTheTimestampAcrossItsWrapAndARestart) {
  JitterBuffer jb(1, 8);
  JitterBuffer::Frame out;
  jb.put(0xFFFFFFFFu - kFrameBytes + 1, frameOf(7).data(), kFrameBytes);
  jb.put(0, frameOf(8).data(), kFrameBytes);
  ASSERT_TRUE(jb.pop(out));
  EXPECT_EQ(out[0], 7);
  ASSERT_TRUE(jb.pop(out));
  EXPECT_EQ(out[0], 8);
  jb.put(3000000, frameOf(9).data(), kFrameBytes);  // far ahead: a new numbering
  ASSERT_TRUE(jb.pop(out));
  EXPECT_EQ(out[0], 9);
}

std::string tempDir() {
  char t[] = "/tmp/siplinesXXXXXX";
  return mkdtemp(t);
}

TEST(SipSettings, ReadsAndLimitsEveryKey) {
  const std::string dir = tempDir();
  const std::string path = dir + "/sysconfig.ini";
  std::ofstream(path)
      << "[SIP]\naddress=127.0.0.2\nport=70000\nchannels=500\ncodecs=pcmu, G729 ,PCMA,PCMU\n"
         "quiettimeout=15\nregistrar=sip:127.0.0.1:5099\nuser=u\npassword=p\nrealm=r\n"
         "expiry=10\nextensions=8001=sip:a@127.0.0.1:5090, 8002 = sip:b@h,junk,9=tel:1\n";
  platform::IniFile ini(path);
  SipSettings s = readSipSettings(ini);
  EXPECT_EQ(s.address, "127.0.0.2");
  EXPECT_EQ(s.port, 5060);
  EXPECT_EQ(s.channels, 128);
  EXPECT_EQ(s.codecs, (std::vector<std::string>{"PCMU", "PCMA"}));
  EXPECT_EQ(s.quietTimeoutS, 15);
  EXPECT_EQ(s.registrar, "sip:127.0.0.1:5099");
  EXPECT_EQ(s.user, "u");
  EXPECT_EQ(s.password, "p");
  EXPECT_EQ(s.realm, "r");
  EXPECT_EQ(s.expiryS, 60);
  // 128 outer channels leave no room for extensions.
  EXPECT_TRUE(s.extensions.empty());
  EXPECT_EQ(s.warnings.size(), 7u);  // port, channels, G729, two without room, two malformed
  std::ofstream(path)
      << "[SIP]\nchannels=4\nextensions=8001=sip:a@127.0.0.1:5090, 8002 = sip:b@h,junk,9=tel:1\n";
  SipSettings x = readSipSettings(platform::IniFile(path));
  EXPECT_EQ(x.extensions, (std::vector<std::pair<std::string, std::string>>{
                              {"8001", "sip:a@127.0.0.1:5090"}, {"8002", "sip:b@h"}}));
  EXPECT_EQ(x.warnings.size(), 2u);
  // A port range read at the ends of the int range is refused, not wrapped.
  std::ofstream(path) << "[SIP]\nrtpportmin=99999999999\nrtpportmax=-99999999999\n";
  SipSettings w = readSipSettings(platform::IniFile(path));
  EXPECT_EQ(w.rtpPortMin, 10000);
  EXPECT_EQ(w.rtpPortMax, 20000);
  EXPECT_EQ(w.warnings.size(), 1u);
  // Bare numbers are users that register; without a password, a warning.
  std::ofstream(path) << "[SIP]\nchannels=4\nextensions=8001=sip:a@h,8002, 80a3 ,8004\n"
                         "extrealm=\nextexpiry=5\n";
  SipSettings r = readSipSettings(platform::IniFile(path));
  EXPECT_EQ(r.extensions, (std::vector<std::pair<std::string, std::string>>{
                              {"8001", "sip:a@h"}, {"8002", ""}, {"8004", ""}}));
  EXPECT_EQ(r.extRealm, "olvaro");
  EXPECT_EQ(r.extExpiryS, 60);
  EXPECT_EQ(r.warnings.size(), 3u);  // 80a3, the realm, no password
  std::ofstream(path) << "[SIP]\nextensions=8002\nextpassword=pw\nextrealm=ivr\n";
  SipSettings p = readSipSettings(platform::IniFile(path));
  EXPECT_EQ(p.extPassword, "pw");
  EXPECT_EQ(p.extRealm, "ivr");
  EXPECT_EQ(p.extExpiryS, 3600);
  EXPECT_TRUE(p.warnings.empty());
  std::ofstream(path) << "[System]\n";
  platform::IniFile empty(path);
  SipSettings d = readSipSettings(empty);
  EXPECT_EQ(d.port, 5060);
  EXPECT_EQ(d.channels, 8);
  EXPECT_EQ(d.codecs, (std::vector<std::string>{"PCMA", "PCMU"}));
  EXPECT_TRUE(d.warnings.empty());
}

TEST(LoadVoiceAlaw, DecodesEveryKindOfVoiceFile) {
  const std::string dir = tempDir();
  auto wave = [&](const std::string& name, uint16_t format, uint16_t bits, uint32_t rate,
                  const std::string& data) {
    std::string h = "RIFF";
    auto u32 = [&](uint32_t v) {
      for (int i = 0; i < 4; ++i)
        h += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    auto u16 = [&](uint16_t v) {
      h += static_cast<char>(v & 0xFF);
      h += static_cast<char>(v >> 8);
    };
    u32(static_cast<uint32_t>(36 + data.size()));
    h += "WAVEfmt ";
    u32(16);
    u16(format);
    u16(1);
    u32(rate);
    u32(rate * bits / 8);
    u16(static_cast<uint16_t>(bits / 8));
    u16(bits);
    h += "data";
    u32(static_cast<uint32_t>(data.size()));
    std::ofstream(dir + "/" + name, std::ios::binary) << h << data;
  };
  std::string pcm;
  pcm += '\xe8';
  pcm += '\x03';  // 1000
  pcm += '\0';
  pcm += '\0';
  wave("pcm.wav", 1, 16, 8000, pcm);
  wave("alaw.wav", 6, 8, 8000, std::string("\x11\x22", 2));
  wave("ulaw.wav", 7, 8, 8000, std::string("\xff", 1));
  wave("fast.wav", 1, 16, 16000, pcm);
  std::ofstream(dir + "/raw.voc", std::ios::binary) << std::string("\x01\x02\x03", 3);
  std::vector<uint8_t> v;
  ASSERT_TRUE(loadVoiceAlaw(dir + "/pcm.wav", &v));
  EXPECT_EQ(v, (std::vector<uint8_t>{0xFA, 0xD5}));
  ASSERT_TRUE(loadVoiceAlaw(dir + "/alaw.wav", &v));
  EXPECT_EQ(v, (std::vector<uint8_t>{0x11, 0x22}));
  ASSERT_TRUE(loadVoiceAlaw(dir + "/ulaw.wav", &v));
  EXPECT_EQ(v, (std::vector<uint8_t>{0xD5}));
  ASSERT_TRUE(loadVoiceAlaw(dir + "/raw.voc", &v));
  EXPECT_EQ(v, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(loadVoiceAlaw(dir + "/fast.wav", &v));
  EXPECT_FALSE(loadVoiceAlaw(dir + "/missing.voc", &v));
  EXPECT_FALSE(loadVoiceAlaw(dir, &v));
}

using testpeer::freeUdpPort;
using testpeer::invite;
using testpeer::RawPeer;
using testpeer::waitFor;

TEST(SipLines, AnswersAKeyAndAHangUpFromARawCaller) {
  SipSettings s;
  s.port = freeUdpPort();
  s.channels = 1;
  SipLines lines;
  std::string error;
  ASSERT_EQ(lines.start(s, &error), 1) << error;
  std::vector<unsigned char> table(CHAN_RECORD_SIZE * CHAN_MAX);
  lines.setTable(table.data());

  RawPeer caller;
  RawPeer rtp;
  caller.send(s.port, invite("8888", s.port, caller.port(), rtp.port(), "c1"));
  const std::string ringing = caller.expect("SIP/2.0 180");
  ASSERT_FALSE(ringing.empty());
  ASSERT_TRUE(waitFor([&] { return lines.outLineStatus(0) == CTI_OUT_INCOMING; }));
  EXPECT_STREQ(reinterpret_cast<char*>(table.data() + CHAN_OFF_LINE_NUMBER), "8888");
  char num[CHAN_NUMBER_SIZE];
  lines.callInNum(0, num);
  EXPECT_STREQ(num, "13800001111");

  // No channel is free for a second call.
  RawPeer second;
  second.send(s.port, invite("8888", s.port, second.port(), rtp.port(), "c2"));
  EXPECT_FALSE(second.expect("SIP/2.0 486").empty());
  EXPECT_EQ(lines.busyRejects(), 1u);

  ASSERT_EQ(lines.offHook(0), 0);
  const std::string ok = caller.expect("SIP/2.0 200");
  ASSERT_FALSE(ok.empty());
  EXPECT_NE(ok.find("PCMA/8000"), std::string::npos);
  EXPECT_EQ(lines.outLineStatus(0), CTI_OUT_TALKING);
  // The answer sends RTP: silence, payload type 8, every 20 ms.
  const std::string media = rtp.expect(std::string(1, '\x80'));
  ASSERT_GE(media.size(), 12u + kFrameBytes);
  EXPECT_EQ(static_cast<uint8_t>(media[1]) & 0x7F, 8);
  EXPECT_EQ(static_cast<uint8_t>(media[12]), kAlawSilence);

  // A key by SIP INFO.
  const std::string body = "Signal=5\r\nDuration=160\r\n";
  const std::string tag = ok.substr(ok.find(";tag=", ok.find("To:")) + 5, 40);
  const std::string toTag = tag.substr(0, tag.find_first_of("\r;>"));
  auto inDialog = [&](const std::string& method, int cseq, const std::string& extra,
                      const std::string& b) {
    return method + " sip:x@127.0.0.1:" + std::to_string(s.port) +
           " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(caller.port()) +
           ";branch=z9hG4bK" + method + std::to_string(cseq) +
           "\r\nMax-Forwards: 70\r\nFrom: <sip:13800001111@127.0.0.1>;tag=fc1\r\nTo: "
           "<sip:8888@127.0.0.1>;tag=" +
           toTag + "\r\nCall-ID: c1\r\nCSeq: " + std::to_string(cseq) + " " + method + "\r\n" +
           extra + "Content-Length: " + std::to_string(b.size()) + "\r\n\r\n" + b;
  };
  caller.send(s.port, inDialog("ACK", 1, "", ""));
  caller.send(s.port, inDialog("INFO", 2, "Content-Type: application/dtmf-relay\r\n", body));
  int key = 0;
  ASSERT_TRUE(waitFor([&] { return lines.getKey(0, &key) == 0; }));
  EXPECT_EQ(key, '5');

  // The caller hangs up.
  caller.send(s.port, inDialog("BYE", 3, "", ""));
  EXPECT_TRUE(waitFor([&] { return lines.outLineStatus(0) == CTI_OUT_HUNG_UP; }));
  EXPECT_EQ(lines.onHook(0), 0);
  EXPECT_EQ(lines.outLineStatus(0), CTI_OUT_IDLE);
  // The channel is free again.
  RawPeer third;
  third.send(s.port, invite("7777", s.port, third.port(), rtp.port(), "c3"));
  EXPECT_FALSE(third.expect("SIP/2.0 180").empty());
  EXPECT_TRUE(waitFor([&] { return lines.calledNumber(0) == "7777"; }));
}

std::string rtpPacket(uint8_t pt, uint16_t seq, uint32_t ts, const std::string& payload,
                      bool marker = false) {
  std::string p(12, '\0');
  p[0] = static_cast<char>(0x80);
  p[1] = static_cast<char>(pt | (marker ? 0x80 : 0));
  p[2] = static_cast<char>(seq >> 8);
  p[3] = static_cast<char>(seq & 0xFF);
  for (int i = 0; i < 4; ++i)
    p[4 + i] = static_cast<char>((ts >> (24 - 8 * i)) & 0xFF);
  p[8] = 0x12;  // SSRC
  return p + payload;
}

// The RTP port of the lines' SDP answer.
int answeredRtpPort(const std::string& ok) {
  const auto m = ok.find("m=audio ");
  return m == std::string::npos ? 0 : std::stoi(ok.substr(m + 8));
}

// An answered call from a raw caller on channel 0; the 200 OK's text.
std::string answeredCall(SipLines& lines, const SipSettings& s, RawPeer& caller, RawPeer& rtp) {
  caller.send(s.port, invite("8888", s.port, caller.port(), rtp.port(), "m1"));
  if (!waitFor([&] { return lines.outLineStatus(0) == CTI_OUT_INCOMING; })) return {};
  lines.offHook(0);
  const std::string ok = caller.expect("SIP/2.0 200");
  const auto t = ok.find(";tag=", ok.find("\nTo:"));
  if (ok.empty() || t == std::string::npos) return {};
  const std::string toTag = ok.substr(t + 5, ok.find_first_of("\r;>", t + 5) - t - 5);
  caller.send(
      s.port,
      "ACK sip:x@127.0.0.1:" + std::to_string(s.port) +
          " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(caller.port()) +
          ";branch=z9hG4bKack\r\nMax-Forwards: 70\r\nFrom: <sip:13800001111@127.0.0.1>;tag=fm1\r\n"
          "To: <sip:8888@127.0.0.1>;tag=" +
          toTag + "\r\nCall-ID: m1\r\nCSeq: 1 ACK\r\nContent-Length: 0\r\n\r\n");
  return ok;
}

TEST(SipLines, RecordsTheCallerKeepsLengthIgnoresStrangersAndTakesRfc4733Keys) {
  SipSettings s;
  s.port = freeUdpPort();
  s.channels = 1;
  SipLines lines;
  ASSERT_EQ(lines.start(s), 1);
  RawPeer caller, rtp, stranger;
  const std::string ok = answeredCall(lines, s, caller, rtp);
  ASSERT_FALSE(ok.empty());
  const int port = answeredRtpPort(ok);
  ASSERT_GT(port, 0);
  const std::string dir = tempDir();
  const std::string file = dir + "/rec.voc";
  ASSERT_EQ(lines.recordFile(0, file.c_str()), 0);
  // One second of the caller's 0x11 with every fifth packet lost, and a
  // stranger's 0x77 from another port.
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 50; ++i) {
    if (i % 5 != 4)
      rtp.send(port, rtpPacket(8, static_cast<uint16_t>(i), 160u * i, std::string(160, '\x11')));
    stranger.send(port, rtpPacket(8, static_cast<uint16_t>(i), 160u * i, std::string(160, '\x77')));
    std::this_thread::sleep_until(t0 + std::chrono::milliseconds(20 * (i + 1)));
  }
  // A key as RFC 4733 events: start, repeats, three ends.
  for (int i = 0; i < 3; ++i)
    rtp.send(port, rtpPacket(101, static_cast<uint16_t>(60 + i), 9000,
                             std::string("\x09\x0a\x00\xa0", 4), i == 0));
  for (int i = 0; i < 3; ++i)
    rtp.send(port, rtpPacket(101, static_cast<uint16_t>(63 + i), 9000,
                             std::string("\x09\x8a\x01\x40", 4)));
  int key = 0;
  ASSERT_TRUE(waitFor([&] { return lines.getKey(0, &key) == 0; }));
  EXPECT_EQ(key, '9');
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_NE(lines.getKey(0, &key), 0);  // one press, one key
  ASSERT_EQ(lines.stopRecord(0), 0);
  const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::ifstream in(file, std::ios::binary);
  const std::string rec((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // As long as the time it ran, within two frames.
  EXPECT_NEAR(static_cast<double>(rec.size()), elapsed * 8000, 2 * kFrameBytes + 160);
  EXPECT_EQ(rec.find('\x77'), std::string::npos);  // nothing of the stranger
  const auto caller11 = std::count(rec.begin(), rec.end(), '\x11');
  EXPECT_NEAR(static_cast<double>(caller11), 40 * 160, 160);  // 40 of 50 packets arrived
}

TEST(SipLines, HangsUpAQuietCallAndPacesPlaybackAt20ms) {
  SipSettings s;
  s.port = freeUdpPort();
  s.channels = 1;
  s.quietTimeoutS = 1;
  SipLines lines;
  ASSERT_EQ(lines.start(s), 1);
  RawPeer caller, rtp;
  const std::string ok = answeredCall(lines, s, caller, rtp);
  ASSERT_FALSE(ok.empty());
  const std::string dir = tempDir();
  std::ofstream(dir + "/p.voc", std::ios::binary) << std::string(8000, '\x22');
  ASSERT_EQ(lines.playFile(0, (dir + "/p.voc").c_str()), 0);
  EXPECT_EQ(lines.playFinished(0), CTI_PLAY_PLAYING);
  // The caller says nothing: a second later the call is hung up with BYE.
  EXPECT_TRUE(waitFor([&] { return lines.outLineStatus(0) == CTI_OUT_HUNG_UP; }, 3000));
  EXPECT_FALSE(caller.expect("BYE sip:").empty());
  const SendJitter j = lines.sendJitter();
  std::printf("RTP send intervals: %llu, mean %.0f us, stddev %.0f us, min %lld us, max %lld us\n",
              static_cast<unsigned long long>(j.intervals), j.meanUs, j.stddevUs,
              static_cast<long long>(j.minUs), static_cast<long long>(j.maxUs));
  EXPECT_GE(j.intervals, 40u);
  EXPECT_NEAR(j.meanUs, 20000, 1000);
  EXPECT_EQ(lines.onHook(0), 0);
  EXPECT_EQ(lines.outLineStatus(0), CTI_OUT_IDLE);
}

TEST(SipLines, RefusesOffersWithoutACommonCodecAndSurvivesGarbage) {
  SipSettings s;
  s.port = freeUdpPort();
  s.channels = 2;
  s.codecs = {"PCMU"};
  SipLines lines;
  ASSERT_EQ(lines.start(s), 2);
  RawPeer caller;
  for (const std::string& junk :
       {std::string("\x00\x01garbage", 9), std::string("INVITE\r\n\r\n"),
        std::string("INVITE sip:1@x SIP/2.0\r\nContent-Length: 99999\r\n\r\nv=0")})
    caller.send(s.port, junk);
  caller.send(s.port, invite("8888", s.port, caller.port(), 4000, "g1", "8"));
  EXPECT_FALSE(caller.expect("SIP/2.0 488").empty());
  EXPECT_EQ(lines.outLineStatus(0), CTI_OUT_IDLE);
  // Still answering: OPTIONS.
  caller.send(
      s.port,
      "OPTIONS sip:127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" +
          std::to_string(caller.port()) +
          ";branch=z9hG4bKo1\r\nMax-Forwards: 70\r\nFrom: <sip:a@127.0.0.1>;tag=1\r\n"
          "To: <sip:b@127.0.0.1>\r\nCall-ID: o1\r\nCSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n");
  EXPECT_FALSE(caller.expect("SIP/2.0 200").empty());
}

// A response to request `req` (its Via, From, To, Call-ID and CSeq).
std::string replyTo(const std::string& req, const std::string& status, const std::string& extra) {
  std::string out = "SIP/2.0 " + status + "\r\n";
  size_t pos = 0;
  while (pos < req.size()) {
    const size_t end = req.find("\r\n", pos);
    if (end == std::string::npos || end == pos) break;
    const std::string line = req.substr(pos, end - pos);
    for (const char* h : {"Via:", "From:", "Call-ID:", "CSeq:"})
      if (line.rfind(h, 0) == 0) out += line + "\r\n";
    if (line.rfind("To:", 0) == 0) out += line + ";tag=reg\r\n";
    pos = end + 2;
  }
  return out + extra + "Content-Length: 0\r\n\r\n";
}

TEST(SipLines, RegistersAnswersTheChallengeAndRenews) {
  RawPeer registrar;
  SipSettings s;
  s.port = freeUdpPort();
  s.registrar = "sip:127.0.0.1:" + std::to_string(registrar.port());
  s.user = "ivr";
  s.password = "secret";
  s.realm = "test";
  s.expiryS = 600;
  SipLines lines;
  ASSERT_EQ(lines.start(s), 8);
  const std::string first = registrar.expect("REGISTER sip:127.0.0.1");
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first.find(";expires=600"), std::string::npos) << first;
  registrar.send(
      s.port, replyTo(first, "401 Unauthorized",
                      "WWW-Authenticate: Digest realm=\"test\", nonce=\"n1\", algorithm=MD5\r\n"));
  const std::string second = registrar.expect("Authorization: Digest");
  ASSERT_FALSE(second.empty());
  EXPECT_NE(second.find("username=\"ivr\""), std::string::npos) << second;
  EXPECT_NE(second.find("realm=\"test\""), std::string::npos);
  // The registrar grants 2 s: the registration is renewed before they run out.
  const auto c = second.find("Contact: <");
  ASSERT_NE(c, std::string::npos);
  const std::string contact = second.substr(c, second.find('>', c) + 1 - c);
  registrar.send(s.port, replyTo(second, "200 OK", contact + ";expires=2\r\n"));
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(registrar.expect("REGISTER sip:127.0.0.1", 3000).empty());
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2000));
}

// The value of header `name` in a SIP message, empty without one.
std::string header(const std::string& msg, const std::string& name) {
  const auto at = msg.find("\r\n" + name + ":");
  if (at == std::string::npos) return {};
  const size_t from = msg.find_first_not_of(' ', at + name.size() + 3);
  return msg.substr(from, msg.find("\r\n", from) - from);
}

// The next INVITE the peer receives for a call other than `previous`:
// the one before may still be retransmitted.
std::string nextInvite(RawPeer& peer, const std::string& previous) {
  for (int i = 0; i < 10; ++i) {
    std::string m = peer.expect("INVITE sip:");
    if (m.empty()) return m;
    if (header(m, "Call-ID") != previous) return m;
  }
  return {};
}

TEST(SipLines, ARungExtensionTellsRefusalFromNoSuchUser) {
  RawPeer ext;
  SipSettings s;
  s.port = freeUdpPort();
  s.channels = 1;
  s.extensions = {{"8001", "sip:8001@127.0.0.1:" + std::to_string(ext.port())}};
  SipLines lines;
  ASSERT_EQ(lines.start(s), 2);
  EXPECT_EQ(lines.channelType(1), CHAN_TYPE_INNER);
  // A call when the one outer channel is taken is busy: the extension's
  // channel takes no calls.
  RawPeer caller, second, rtp;
  caller.send(s.port, invite("8888", s.port, caller.port(), rtp.port(), "x1"));
  ASSERT_FALSE(caller.expect("SIP/2.0 180").empty());
  second.send(s.port, invite("8888", s.port, second.port(), rtp.port(), "x2"));
  EXPECT_FALSE(second.expect("SIP/2.0 486").empty());
  struct Case {
    const char* answer;
    int status;
  } cases[] = {
      {"486 Busy Here", CTI_IN_REFUSED},
      {"404 Not Found", CTI_IN_NO_SUCH_EXTENSION},
      {"603 Decline", CTI_IN_REFUSED},
      {"500 Server Internal Error", CTI_IN_REFUSED},
      {"604 Does Not Exist Anywhere", CTI_IN_NO_SUCH_EXTENSION},
      {"480 Temporarily Unavailable", CTI_IN_REFUSED},
      {"410 Gone", CTI_IN_NO_SUCH_EXTENSION},
  };
  std::string callId;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    ASSERT_EQ(lines.ringIn(1, 1), 0);
    // Ringing clears what the ringing before it ended with.
    EXPECT_EQ(lines.inLineStatus(1), CTI_IN_HUNG_UP);
    const std::string inv = nextInvite(ext, callId);
    ASSERT_FALSE(inv.empty());
    callId = header(inv, "Call-ID");
    ext.send(s.port, replyTo(inv, c.answer, ""));
    EXPECT_TRUE(waitFor([&] { return lines.inLineStatus(1) == c.status; }));
    EXPECT_FALSE(ext.expect("ACK sip:").empty());
    // It holds until the ringing is stopped.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(lines.inLineStatus(1), c.status);
    EXPECT_EQ(lines.stopRingIn(1), 0);
    EXPECT_EQ(lines.inLineStatus(1), CTI_IN_HUNG_UP);
  }
  // An answer lifts the handset; its BYE later is a hang-up, not a refusal.
  ASSERT_EQ(lines.ringIn(1, 1), 0);
  const std::string inv = nextInvite(ext, callId);
  ASSERT_FALSE(inv.empty());
  const std::string sdp =
      "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
      "m=audio 4002 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n";
  std::string ok = replyTo(inv, "200 OK",
                           "Contact: <sip:8001@127.0.0.1:" + std::to_string(ext.port()) +
                               ">\r\nContent-Type: application/sdp\r\n");
  ok = ok.substr(0, ok.find("Content-Length")) + "Content-Length: " + std::to_string(sdp.size()) +
       "\r\n\r\n" + sdp;
  ext.send(s.port, ok);
  EXPECT_TRUE(waitFor([&] { return lines.inLineStatus(1) == CTI_IN_OFF_HOOK; }));
  const std::string ack = ext.expect("ACK sip:");
  ASSERT_FALSE(ack.empty());
  ext.send(s.port, "BYE sip:olvaro@127.0.0.1:" + std::to_string(s.port) +
                       " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(ext.port()) +
                       ";branch=z9hG4bKbye1\r\nMax-Forwards: 70\r\nFrom: " + header(ack, "To") +
                       "\r\nTo: " + header(ack, "From") + "\r\nCall-ID: " + header(ack, "Call-ID") +
                       "\r\nCSeq: 9 BYE\r\nContent-Length: 0\r\n\r\n");
  EXPECT_TRUE(waitFor([&] { return lines.inLineStatus(1) == CTI_IN_HUNG_UP; }));
}

std::string md5Hex(const std::string& text) {
  uint8_t d[MD5_SIZE];
  md5(reinterpret_cast<const uint8_t*>(text.data()), text.size(), d);
  char hex[2 * MD5_SIZE + 1];
  for (int i = 0; i < MD5_SIZE; ++i)
    std::snprintf(hex + 2 * i, 3, "%02x", d[i]);
  return hex;
}

// A telephone that registers with the lines by hand.
struct Phone {
  RawPeer peer;
  int sipPort = 0;
  int cseq = 0;
  std::string nonce;

  std::string registerAs(const std::string& user, const std::string& password,
                         const std::string& contactParams, const std::string& extra = "") {
    const std::string uri = "sip:127.0.0.1:" + std::to_string(sipPort);
    std::string auth;
    if (!nonce.empty()) {
      const std::string response = md5Hex(md5Hex(user + ":olvaro:" + password) + ":" + nonce + ":" +
                                          md5Hex("REGISTER:" + uri));
      auth = "Authorization: Digest username=\"" + user + "\", realm=\"olvaro\", nonce=\"" + nonce +
             "\", uri=\"" + uri + "\", response=\"" + response + "\", algorithm=MD5\r\n";
    }
    ++cseq;
    const std::string me = "127.0.0.1:" + std::to_string(peer.port());
    peer.send(sipPort, "REGISTER " + uri + " SIP/2.0\r\nVia: SIP/2.0/UDP " + me +
                           ";branch=z9hG4bKr" + std::to_string(cseq) +
                           "\r\nMax-Forwards: 70\r\nFrom: <sip:" + user +
                           "@127.0.0.1>;tag=p1\r\nTo: <sip:" + user +
                           "@127.0.0.1>\r\nCall-ID: reg1\r\nCSeq: " + std::to_string(cseq) +
                           " REGISTER\r\nContact: <sip:" + user + "@" + me + ">" + contactParams +
                           "\r\n" + extra + auth + "Content-Length: 0\r\n\r\n");
    const std::string reply = peer.expect("SIP/2.0 ");
    const auto n = reply.find("nonce=\"");
    if (n != std::string::npos) nonce = reply.substr(n + 7, reply.find('"', n + 7) - n - 7);
    return reply;
  }
};

TEST(SipLines, AnExtensionRegistersWithTheLinesAndIsRungThere) {
  SipSettings s;
  s.port = freeUdpPort();
  s.channels = 1;
  s.extensions = {{"8002", ""}, {"8003", ""}};
  s.extPassword = "pw";
  s.extExpiryS = 60;
  SipLines lines;
  ASSERT_EQ(lines.start(s), 3);
  Phone phone;
  phone.sipPort = s.port;
  const std::string me = "sip:8002@127.0.0.1:" + std::to_string(phone.peer.port());

  // Not registered: nothing to ring.
  ASSERT_EQ(lines.ringIn(1, 1), 0);
  EXPECT_EQ(lines.inLineStatus(1), CTI_IN_NO_SUCH_EXTENSION);
  EXPECT_EQ(lines.stopRingIn(1), 0);

  struct Step {
    const char* what;
    std::string user, password, params, extra;
    const char* reply;     // status line start
    const char* contains;  // in the reply, or ""
    bool bound;            // afterwards
  } steps[] = {
      {"an unknown user", "8009", "pw", "", "", "SIP/2.0 404", "", false},
      {"no credentials", "8002", "pw", "", "", "SIP/2.0 401", "realm=\"olvaro\"", false},
      {"a wrong password", "8002", "wrong", "", "", "SIP/2.0 401", "nonce=", false},
      {"the password, asking too long a time", "8002", "pw", ";expires=7200", "", "SIP/2.0 200",
       ";expires=60", true},
      {"a refresh asking by the Expires header", "8002", "pw", "", "Expires: 30\r\n", "SIP/2.0 200",
       ";expires=30", true},
      {"removal", "8002", "pw", "", "Expires: 0\r\n", "SIP/2.0 200", "", false},
  };
  for (const Step& st : steps) {
    SCOPED_TRACE(st.what);
    const std::string reply = phone.registerAs(st.user, st.password, st.params, st.extra);
    EXPECT_EQ(reply.rfind(st.reply, 0), 0u) << reply;
    EXPECT_NE(reply.find(st.contains), std::string::npos) << reply;
    EXPECT_EQ(lines.registeredContact(1), st.bound ? me : "");
    EXPECT_EQ(reply.find("Contact:") != std::string::npos, st.bound) << reply;
    if (std::string(st.what) == "a refresh asking by the Expires header") {
      // Bound: ringing sends the INVITE to the Contact; its refusal is heard.
      ASSERT_EQ(lines.ringIn(1, 1), 0);
      const std::string inv = nextInvite(phone.peer, "");
      ASSERT_FALSE(inv.empty());
      EXPECT_EQ(inv.rfind("INVITE " + me + " SIP/2.0", 0), 0u) << inv;
      phone.peer.send(s.port, replyTo(inv, "486 Busy Here", ""));
      EXPECT_TRUE(waitFor([&] { return lines.inLineStatus(1) == CTI_IN_REFUSED; }));
      EXPECT_EQ(lines.stopRingIn(1), 0);
      EXPECT_EQ(lines.registeredContact(2), "");  // 8003 is another user
    }
  }
  ASSERT_EQ(lines.ringIn(1, 1), 0);
  EXPECT_EQ(lines.inLineStatus(1), CTI_IN_NO_SUCH_EXTENSION);
  EXPECT_EQ(lines.stopRingIn(1), 0);

  // A registration runs out after its time.
  EXPECT_EQ(phone.registerAs("8002", "pw", ";expires=1").rfind("SIP/2.0 200", 0), 0u);
  EXPECT_EQ(lines.registeredContact(1), me);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(lines.registeredContact(1), "");
  ASSERT_EQ(lines.ringIn(1, 1), 0);
  EXPECT_EQ(lines.inLineStatus(1), CTI_IN_NO_SUCH_EXTENSION);

  // A nonce we never gave is challenged again.
  phone.nonce = std::string(32, 'a');
  EXPECT_EQ(phone.registerAs("8002", "pw", "").rfind("SIP/2.0 401", 0), 0u);
}

TEST(SipLines, RegisteredUsersWithoutAPasswordAreTakenAsTheySay) {
  SipSettings s;
  s.port = freeUdpPort();
  s.channels = 1;
  s.extensions = {{"8002", ""}};
  SipLines lines;
  ASSERT_EQ(lines.start(s), 2);
  Phone phone;
  phone.sipPort = s.port;
  const std::string reply = phone.registerAs("8002", "", "");
  EXPECT_EQ(reply.rfind("SIP/2.0 200", 0), 0u) << reply;
  EXPECT_NE(reply.find(";expires=3600"), std::string::npos) << reply;  // asked nothing
  EXPECT_EQ(lines.registeredContact(1), "sip:8002@127.0.0.1:" + std::to_string(phone.peer.port()));
  // Contact "*" with Expires 0 removes every binding; "*" otherwise is refused.
  EXPECT_EQ(phone.registerAs("8002", "", "", "Expires: 5\r\n").rfind("SIP/2.0 200", 0), 0u);
  phone.peer.send(s.port, "garbage");
  auto wild = [&](const std::string& expires) {
    phone.peer.send(s.port, "REGISTER sip:127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" +
                                std::to_string(phone.peer.port()) + ";branch=z9hG4bKw" + expires +
                                "\r\nMax-Forwards: 70\r\nFrom: <sip:8002@127.0.0.1>;tag=w\r\n"
                                "To: <sip:8002@127.0.0.1>\r\nCall-ID: w1\r\nCSeq: " +
                                expires + "0 REGISTER\r\nContact: *\r\nExpires: " + expires +
                                "\r\nContent-Length: 0\r\n\r\n");
  };
  wild("1");
  EXPECT_FALSE(phone.peer.expect("SIP/2.0 400").empty());
  EXPECT_NE(lines.registeredContact(1), "");
  wild("0");
  EXPECT_FALSE(phone.peer.expect("SIP/2.0 200").empty());
  EXPECT_EQ(lines.registeredContact(1), "");
}

TEST(SipDialling, TheDialledNumberAndTheTargetOfADial) {
  struct Dialled {
    const char* requestUser;
    const char* toUser;
    const char* account;
    const char* want;
  };
  for (const Dialled& d :
       {Dialled{"8888", "8888", "", "8888"},
        // A trunk sends the call for its number to the registered contact.
        Dialled{"ivr", "8888", "ivr", "8888"}, Dialled{"", "8888", "", "8888"},
        Dialled{"8888", "9999", "ivr", "8888"}, Dialled{"ivr", "8888", "", "ivr"}})
    EXPECT_EQ(dialledNumber(d.requestUser, d.toUser, d.account), d.want) << d.requestUser;

  struct Target {
    const char* number;
    std::string registrar;
    const char* want;
  };
  for (const Target& t : {
           Target{"8001", "sip:127.0.0.1:5999", "sip:8001@127.0.0.1:5999"},
           Target{" 8001 ", "sip:pbx.example;transport=udp", "sip:8001@pbx.example"},
           Target{"*72#", "sip:pbx", "sip:*72%23@pbx"},
           Target{"+8613800001111", "pbx:5070", "sip:+8613800001111@pbx:5070"},
           Target{"sip:bob@127.0.0.1:5090", "", "sip:bob@127.0.0.1:5090"},
           Target{"SIP:bob@h", "sip:pbx", "sip:bob@h"},
           Target{"8001", "", ""},                       // nowhere to send it
           Target{"80 01", "sip:pbx", ""},               // not a number
           Target{"8001@evil", "sip:pbx", ""},           // a host of its own
           Target{"sip:bob@h>\r\nX: 1", "sip:pbx", ""},  // header injection
           Target{"sip:bob@h x", "", ""}, Target{"", "sip:pbx", ""},
           Target{"8001", "sip:[::1]:5060", "sip:8001@[::1]:5060"},
           Target{"8001", "sip:pbx x", ""},                   // not a host
           Target{"8001", "sip:pbx\r\nX: 1", ""},             // header injection
           Target{"8001", std::string("sip:pbx\0x", 9), ""},  // a cut string
       })
    EXPECT_EQ(dialTarget(t.number, t.registrar), t.want) << t.number;
}

// A far end answering the lines' INVITEs by hand.
struct FarEnd {
  RawPeer sip;
  RawPeer rtp;
  std::string invite;  // the last INVITE received

  bool takeInvite(int ms = 2000) {
    invite = sip.expect("INVITE sip:", ms);
    return !invite.empty();
  }
  std::string response(const std::string& status, const std::string& body = "") {
    std::string out = "SIP/2.0 " + status + "\r\n";
    for (const char* h : {"Via", "From", "Call-ID", "CSeq"})
      out += std::string(h) + ": " + header(invite, h) + "\r\n";
    out += "To: " + header(invite, "To") + ";tag=far\r\n";
    out += "Contact: <sip:far@127.0.0.1:" + std::to_string(sip.port()) + ">\r\n";
    if (!body.empty()) out += "Content-Type: application/sdp\r\n";
    return out + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  void reply(int linesPort, const std::string& status) { sip.send(linesPort, response(status)); }
  void answer(int linesPort) {
    const std::string sdp =
        "v=0\r\no=- 2 2 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 "
        "0\r\nm=audio " +
        std::to_string(rtp.port()) +
        " RTP/AVP 8 101\r\na=rtpmap:8 PCMA/8000\r\na=rtpmap:101 "
        "telephone-event/8000\r\n";
    sip.send(linesPort, response("200 OK", sdp));
  }
  // A BYE in the dialog the 200 OK made.
  void bye(int linesPort) {
    const std::string contact = header(invite, "Contact");
    const std::string target = contact.substr(1, contact.find('>') - 1);
    sip.send(linesPort, "BYE " + target +
                            " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(sip.port()) +
                            ";branch=z9hG4bKfarbye\r\nMax-Forwards: 70\r\nFrom: " +
                            header(invite, "To") + ";tag=far\r\nTo: " + header(invite, "From") +
                            "\r\nCall-ID: " + header(invite, "Call-ID") +
                            "\r\nCSeq: 9 BYE\r\nContent-Length: 0\r\n\r\n");
  }
};

TEST(SipLines, DialsOutAnsweredRefusedAndHungUpFromBothSides) {
  SipSettings s;
  s.port = freeUdpPort();
  s.channels = 2;
  SipLines lines;
  ASSERT_EQ(lines.start(s), 2);
  FarEnd far;
  const std::string uri = "sip:bob@127.0.0.1:" + std::to_string(far.sip.port());

  // Only a seized line dials, and only to somewhere it can reach.
  EXPECT_EQ(lines.callOut(0, uri.c_str()), -1);
  ASSERT_EQ(lines.offHook(0), 0);
  EXPECT_EQ(lines.outLineStatus(0), CTI_OUT_TALKING);
  EXPECT_EQ(lines.callOut(0, "8001"), -1);  // no registrar to send a number to
  EXPECT_EQ(lines.callOut(0, nullptr), -1);

  // 1. Answered, then hung up by the far end.
  ASSERT_EQ(lines.callOut(0, uri.c_str()), 0);
  ASSERT_TRUE(far.takeInvite());
  EXPECT_NE(far.invite.find("m=audio "), std::string::npos);
  EXPECT_NE(header(far.invite, "To").find(uri), std::string::npos) << far.invite;
  far.reply(s.port, "180 Ringing");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(lines.outLineStatus(0), CTI_OUT_TALKING);  // ringing: never "a call came in"
  EXPECT_EQ(lines.playFile(0, "/dev/null"), -1);       // nothing to play to yet
  far.answer(s.port);
  EXPECT_FALSE(far.sip.expect("ACK sip:far@").empty());
  // Once answered the line sends its 20 ms frames to the far end's SDP.
  const std::string media = far.rtp.expect(std::string(1, '\x80'));
  ASSERT_GE(media.size(), 12u + kFrameBytes);
  EXPECT_EQ(static_cast<uint8_t>(media[1]) & 0x7F, 8);
  EXPECT_EQ(lines.outLineStatus(0), CTI_OUT_TALKING);
  // An incoming call meanwhile takes the other channel, not this one.
  RawPeer caller, callerRtp;
  caller.send(s.port, invite("8888", s.port, caller.port(), callerRtp.port(), "d1"));
  EXPECT_FALSE(caller.expect("SIP/2.0 180").empty());
  EXPECT_TRUE(waitFor([&] { return lines.outLineStatus(1) == CTI_OUT_INCOMING; }));
  far.bye(s.port);
  EXPECT_FALSE(far.sip.expect("SIP/2.0 200").empty());
  EXPECT_TRUE(waitFor([&] { return lines.outLineStatus(0) == CTI_OUT_HUNG_UP; }));
  EXPECT_EQ(lines.onHook(0), 0);
  EXPECT_EQ(lines.outLineStatus(0), CTI_OUT_IDLE);
  EXPECT_EQ(lines.callOut(0, uri.c_str()), -1);  // on-hook again

  // 2. Refused: 486 is a failed call, 5, and the channel is free after.
  ASSERT_EQ(lines.offHook(0), 0);
  ASSERT_EQ(lines.callOut(0, uri.c_str()), 0);
  ASSERT_TRUE(far.takeInvite());
  far.reply(s.port, "486 Busy Here");
  EXPECT_FALSE(far.sip.expect("ACK sip:").empty());
  EXPECT_TRUE(waitFor([&] { return lines.outLineStatus(0) == CTI_OUT_HUNG_UP; }));
  EXPECT_EQ(lines.onHook(0), 0);

  // 3. The runtime hangs up while it rings (CANCEL), then once answered (BYE).
  ASSERT_EQ(lines.offHook(0), 0);
  ASSERT_EQ(lines.callOut(0, uri.c_str()), 0);
  ASSERT_TRUE(far.takeInvite());
  far.reply(s.port, "180 Ringing");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(lines.onHook(0), 0);
  const std::string cancel = far.sip.expect("CANCEL sip:");
  ASSERT_FALSE(cancel.empty());
  EXPECT_EQ(header(cancel, "Call-ID"), header(far.invite, "Call-ID"));
  EXPECT_EQ(lines.outLineStatus(0), CTI_OUT_IDLE);
  ASSERT_EQ(lines.offHook(0), 0);
  ASSERT_EQ(lines.callOut(0, uri.c_str()), 0);
  ASSERT_TRUE(far.takeInvite());
  far.answer(s.port);
  EXPECT_FALSE(far.sip.expect("ACK sip:far@").empty());
  EXPECT_EQ(lines.onHook(0), 0);
  const std::string bye = far.sip.expect("BYE sip:far@");
  ASSERT_FALSE(bye.empty());
  EXPECT_EQ(header(bye, "Call-ID"), header(far.invite, "Call-ID"));
}

TEST(SipLines, DialsANumberThroughTheRegistrarWithTheAccountsCredentials) {
  SipSettings s;
  s.port = freeUdpPort();
  s.channels = 1;
  FarEnd server;
  s.registrar = "sip:127.0.0.1:" + std::to_string(server.sip.port());
  s.user = "ivr";
  s.password = "secret";
  SipLines lines;
  ASSERT_EQ(lines.start(s), 1);
  ASSERT_EQ(lines.offHook(0), 0);
  ASSERT_EQ(lines.callOut(0, "8001#"), 0);
  ASSERT_TRUE(server.takeInvite());
  EXPECT_EQ(
      server.invite.rfind(
          "INVITE sip:8001%23@127.0.0.1:" + std::to_string(server.sip.port()) + " SIP/2.0", 0),
      0u)
      << server.invite;
  // From the registered account, so that the server knows whose call it is.
  EXPECT_NE(header(server.invite, "From").find("sip:ivr@127.0.0.1"), std::string::npos);
  server.sip.send(
      s.port,
      server.response("407 Proxy Authentication Required")
          .insert(std::string("SIP/2.0 407 Proxy Authentication Required\r\n").size(),
                  "Proxy-Authenticate: Digest realm=\"pbx\", nonce=\"n7\", algorithm=MD5\r\n"));
  const std::string again = server.sip.expect("Proxy-Authorization: Digest");
  ASSERT_FALSE(again.empty());
  EXPECT_NE(again.find("username=\"ivr\""), std::string::npos) << again;
  EXPECT_NE(again.find("realm=\"pbx\""), std::string::npos);
  server.invite = again;
  server.reply(s.port, "404 Not Found");
  EXPECT_TRUE(waitFor([&] { return lines.outLineStatus(0) == CTI_OUT_HUNG_UP; }));
}

// What the lines report, collected across their thread.
struct Reports {
  std::mutex m;
  std::vector<std::string> lines;
  void add(const std::string& t) {
    std::lock_guard<std::mutex> g(m);
    lines.push_back(t);
  }
  std::string all() {
    std::lock_guard<std::mutex> g(m);
    std::string out;
    for (const auto& l : lines)
      out += l + "\n";
    return out;
  }
};

TEST(SipLines, ReportsTheRegistrationAndWithdrawsItOnStop) {
  FarEnd registrar;
  SipSettings s;
  s.port = freeUdpPort();
  s.registrar = "sip:127.0.0.1:" + std::to_string(registrar.sip.port());
  s.user = "ivr";
  s.password = "wrong";
  s.channels = 1;
  Reports reports;
  SipLines lines;
  lines.setNotify([&](const std::string& t) { reports.add(t); });
  ASSERT_EQ(lines.start(s), 1);
  const std::string aor = "sip:ivr@127.0.0.1:" + std::to_string(registrar.sip.port());
  // Refused after the challenge: the report names the keys to check.
  registrar.invite = registrar.sip.expect("REGISTER sip:");
  ASSERT_FALSE(registrar.invite.empty());
  registrar.sip.send(s.port,
                     replyTo(registrar.invite, "401 Unauthorized",
                             "WWW-Authenticate: Digest realm=\"office\", nonce=\"n1\"\r\n"));
  registrar.invite = registrar.sip.expect("Authorization: Digest");
  ASSERT_FALSE(registrar.invite.empty());
  registrar.sip.send(s.port, replyTo(registrar.invite, "403 Forbidden", ""));
  ASSERT_TRUE(waitFor([&] { return !reports.all().empty(); }));
  EXPECT_EQ(reports.all(), "SIP registration of " + aor + " at " + s.registrar +
                               " failed: 403 Forbidden; check [SIP] user, password and realm (the "
                               "server asks for realm \"office\")\n");
  lines.stop();

  // Accepted: reported once; on stop, Expires 0 and its answer awaited.
  Reports ok;
  lines.setNotify([&](const std::string& t) { ok.add(t); });
  s.password = "secret";
  ASSERT_EQ(lines.start(s), 1);
  registrar.invite = registrar.sip.expect("REGISTER sip:");
  ASSERT_FALSE(registrar.invite.empty());
  const std::string contact = header(registrar.invite, "Contact");
  registrar.sip.send(
      s.port, replyTo(registrar.invite, "200 OK",
                      "Contact: " + contact.substr(0, contact.find('>') + 1) + ";expires=120\r\n"));
  ASSERT_TRUE(waitFor([&] { return !ok.all().empty(); }));
  EXPECT_EQ(ok.all(),
            "SIP registration of " + aor + " at " + s.registrar + ": registered for 120 s\n");
  std::thread answerer([&] {
    const std::string un = registrar.sip.expect("REGISTER sip:", 3000);
    EXPECT_NE(un.find(";expires=0"), std::string::npos) << un;
    if (!un.empty()) registrar.sip.send(s.port, replyTo(un, "200 OK", ""));
  });
  const auto t0 = std::chrono::steady_clock::now();
  lines.stop();
  answerer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(kUnregisterWaitMs));
  EXPECT_NE(ok.all().find(": unregistered\n"), std::string::npos) << ok.all();
}

// Descriptors open in this process.
int openDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
    ++n;
  return n;
}

// Stopping with calls in every state closes every socket of the lines: a
// session still waiting for its ACK or its BYE's answer must not keep the
// SIP socket open past the stack.
TEST(SipLines, StoppingWithCallsInProgressLeavesNoSocketOpen) {
  for (int answered = 0; answered < 2; ++answered) {
    const int before = openDescriptors();
    {
      SipSettings s;
      s.port = freeUdpPort();
      s.channels = 2;
      SipLines lines;
      ASSERT_EQ(lines.start(s), 2);
      RawPeer caller, rtp;
      caller.send(s.port, invite("8888", s.port, caller.port(), rtp.port(), "fd1"));
      ASSERT_TRUE(waitFor([&] { return lines.outLineStatus(0) == CTI_OUT_INCOMING; }));
      if (answered) {
        lines.offHook(0);  // 200 OK, never acknowledged
        ASSERT_FALSE(caller.expect("SIP/2.0 200").empty());
      }
      lines.stop();
    }
    EXPECT_EQ(openDescriptors(), before) << (answered ? "answered" : "ringing");
  }
}

TEST(SipLines, AStartOnABusyPortFailsWithAReason) {
  RawPeer holder;
  SipSettings s;
  s.port = holder.port();
  SipLines lines;
  std::string error;
  EXPECT_EQ(lines.start(s, &error), 0);
  EXPECT_NE(error.find("SIP socket"), std::string::npos) << error;
  EXPECT_EQ(lines.outLineStatus(0), CTI_OUT_IDLE);
}

}  // namespace
}  // namespace hardware
