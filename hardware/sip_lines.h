// SIP access ([System] callintype=2): each channel is one SIP call at a
// time, answered and spoken with G.711 over RTP. Built on libre (SIP, SDP,
// RTP, telephone events), whose objects all live on one thread of their own
// running re_main; the CTI functions, called from the runtime's scan thread,
// change the shared channel state under a lock and hand the rest of their
// work (answer, hang up) to that thread through an mqueue.
//
// Outer line, as CTIGetOutLineStatus reports it:
//   0 idle; 1 an INVITE took the channel (180 Ringing sent); 2 answered
//   (CTISetOutOffHook sent 200 OK); 5 the caller sent BYE or CANCEL, the
//   call went quiet (no RTP for [SIP] quiettimeout seconds) or the peer's
//   transaction failed. CTISetOutHook ends the call (BYE when answered,
//   486 before) and frees the channel. A call withdrawn before the runtime
//   saw it ringing frees the channel by itself.
// Dialling out, as on a telephone line: CTISetOutOffHook on an idle outer
//   channel seizes it (2, and no INVITE takes it); CTICallOut sends the
//   INVITE (still 2 while it rings and once answered, never 1, which would
//   start a flow); a refusal, a failure or the far end's BYE is 5;
//   CTISetOutHook ends it (CANCEL while ringing, BYE once answered). The
//   number is a SIP URI as given, or NUMBER@<registrar host> sent with the
//   registration's account and digest credentials (dialTarget).
// An INVITE when no channel is free is answered 486 Busy Here; an offer
// without PCMA or PCMU (as configured) 488. The called number is written
// into the channel record as its line number, which the runtime matches
// against the triggers (dialledNumber); the caller number is the From user.
//
// Registration: its outcome is reported through the notifier (the
// runtime's trace) when it first succeeds, fails, or changes between the
// two, in words that say which [SIP] key to check. On stop a registered
// account is unregistered (Expires 0), waiting at most kUnregisterWaitMs.
//
// Media: one 20 ms clock on the SIP thread sends a 160-byte RTP frame per
// answered call (the playback, or silence) and takes one frame from the call's
// jitter buffer (jitter_buffer.h) into the recording, so recordings keep real
// time across lost packets. RTP from any address other than the one in the
// caller's SDP is ignored. Keys: RFC 4733 telephone events (payload type from
// the offer) and SIP INFO (application/dtmf-relay "Signal=5", application/dtmf).
//
// Extensions (inner lines after the outer ones) are rung with an INVITE to
// their SIP address, or, for a registered user, to the Contact of its latest
// registration with these lines. CTIGetInLineStatus: 1 while the
// extension's call is answered; 3 when it refused the call (486, 600, 603,
// or any other failure: 5xx, 480, a timeout); 4 when there is no such
// extension (404, 410, 484, 604, or a registered user with no current
// registration); 3 and 4 hold until CTIStopRingIn or the next CTIRingIn;
// 2 otherwise.
//
// Registration of extensions: a REGISTER whose To user is a registered-user
// extension sets (or, with Expires 0, removes) its one binding, the Contact,
// for the granted time (what it asked, at most [SIP] extexpiry); the 200 OK
// gives the Contact and that time. A REGISTER for any other user is answered
// 404. With [SIP] extpassword set, registrations must answer an MD5 digest
// challenge (realm [SIP] extrealm, user name the extension number); without
// it any registration is taken. Bindings are kept in memory only.
//
// sysconfig.ini [SIP]: address (127.0.0.1), port (5060), channels (8, 1..128),
// codecs (PCMA,PCMU in order of preference), rtpportmin/rtpportmax
// (10000/20000), quiettimeout (60 seconds, 0 never), registrar (sip:host[:port],
// empty: no registration), user, password, realm, expiry (3600 seconds),
// extensions (NUMBER=sip:ADDRESS, or a bare NUMBER of digits: a registered
// user), extpassword, extrealm (olvaro), extexpiry (3600 seconds, 60..86400).
// The registrar is also where CTICallOut sends numbers that are not URIs.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hardware/jitter_buffer.h"
#include "hardware/lines.h"

namespace platform {
class IniFile;
}

namespace hardware {

inline constexpr int kSipMaxChannels = 128;

struct SipSettings {
  std::string address = "127.0.0.1";
  int port = 5060;
  int channels = 8;
  std::vector<std::string> codecs{"PCMA", "PCMU"};
  int rtpPortMin = 10000;
  int rtpPortMax = 20000;
  int quietTimeoutS = 60;
  std::string registrar;
  std::string user;
  std::string password;
  std::string realm;
  int expiryS = 3600;
  // Extensions: number and SIP address ([SIP] extensions=8001=sip:a@host:port,...),
  // served as inner lines after the `channels` outer ones. An empty address:
  // a user that registers with these lines (a bare 8002 in the list).
  std::vector<std::pair<std::string, std::string>> extensions;
  std::string extPassword;
  std::string extRealm = "olvaro";
  int extExpiryS = 3600;
  std::string indexDir = ".\\voice\\index";  // [Hardware] indexdir
  std::vector<std::string> warnings;
};

SipSettings readSipSettings(const platform::IniFile& ini);

// The called number of an INVITE: the request URI's user, unless that is
// empty or is the registered account's own user (a server or trunk sends
// calls for the account to its registered contact), when the To header's
// user is taken instead. Empty `account` when nothing is registered.
std::string dialledNumber(const std::string& requestUser, const std::string& toUser,
                          const std::string& account);

// Where CTICallOut sends its INVITE: `number` itself when it is a SIP URI
// (sip:...), otherwise sip:NUMBER@<host[:port] of registrar> ('#' escaped);
// empty (the dial is refused) without a registrar or with one whose host is
// not a host name or address, or when the number holds anything but digits,
// letters and * # + . - _, or a URI holds spaces, quotes or angle brackets.
std::string dialTarget(const std::string& number, const std::string& registrar);

// The key of a SIP INFO body: "Signal=5" (application/dtmf-relay) or "5"
// (application/dtmf); 0 when it holds none of 0-9, * and #.
char infoKey(const std::string& body);

inline constexpr int kUnregisterWaitMs = 1000;

// Decodes a voice file (headerless A-law, or a wave file holding A-law,
// µ-law or 16-bit PCM at 8000 Hz mono) into A-law. False when the file
// cannot be read or is another format.
bool loadVoiceAlaw(const std::string& linuxPath, std::vector<uint8_t>* out);

// Spread of the intervals between RTP frames sent, in microseconds.
struct SendJitter {
  uint64_t intervals = 0;
  double meanUs = 0;
  double stddevUs = 0;
  int64_t minUs = 0;
  int64_t maxUs = 0;
};

class SipLines final : public Lines {
 public:
  SipLines();
  ~SipLines() override;
  SipLines(const SipLines&) = delete;
  SipLines& operator=(const SipLines&) = delete;

  // Starts the SIP thread with `s`; the channel count, or 0 when the SIP
  // socket cannot be opened (the reason in *error).
  int start(const SipSettings& s, std::string* error = nullptr);
  // Ends every call, unregisters, and ends the SIP thread.
  void stop();
  void setTable(unsigned char* table);
  // Where the lines report what an operator must know (registration); on
  // the SIP thread. Set before start.
  void setNotify(std::function<void(const std::string&)> notify) { notify_ = std::move(notify); }
  void notify(const std::string& text) const;
  int channelCount() const { return channels_; }

  int channelType(int ch) const override;
  int outLineStatus(int ch) override;
  int inLineStatus(int ch) override;
  int callInNum(int ch, char* num20) const override;
  int offHook(int ch) override;
  int onHook(int ch) override;
  int flushKeys(int ch) override;
  int getKey(int ch, int* key) override;
  int playFile(int ch, const char* gbkPath) override;
  int playIndex(int ch, int index, bool repeat) override;
  int playFinished(int ch) override;
  int stopPlay(int ch) override;
  int recordFile(int ch, const char* gbkPath) override;
  int stopRecord(int ch) override;
  int ringIn(int ch, int ring) override;
  int stopRingIn(int ch) override;
  int connect(int ch1, int ch2) override;
  int callOut(int ch, const char* number) override;
  int inject(int ch, int key) override;

  // The called number of the channel's current call (GBK/ASCII).
  std::string calledNumber(int ch) const;
  SendJitter sendJitter() const;
  // Calls answered 486 for want of a free channel.
  uint64_t busyRejects() const { return busyRejects_.load(); }
  // The Contact a registered-user extension is rung at; empty when it has
  // no current registration.
  std::string registeredContact(int ch) const;

  // The SIP thread's side (sip_lines.cpp) and the state it shares with the
  // CTI side under m_.
  struct Impl;
  // kSeized: an outer line taken off-hook to dial; kDialling: its INVITE
  // is out, not yet answered.
  enum class State { kIdle, kRinging, kTalking, kHungUp, kSeized, kDialling };

  struct Chan {
    State state = State::kIdle;
    bool reported = false;  // status 1 was read
    bool inner = false;     // an extension: its number and address
    std::string extNumber;
    std::string extUri;  // empty: a registered user, rung at `contact`
    std::string contact;
    std::string dialUri;         // CTICallOut's target
    int64_t contactUntilUs = 0;  // steady clock
    int ringFail = 0;            // CTI_IN_REFUSED or CTI_IN_NO_SUCH_EXTENSION
    int bridge = -1;             // CTIChConnCh: the channel whose caller this one hears
    uint32_t seq = 0;            // which call; a request for an older one is ignored
    std::string caller;
    std::string called;
    std::deque<char> keys;
    std::vector<uint8_t> play;  // A-law
    size_t playPos = 0;
    bool playing = false;
    bool repeat = false;
    int recFd = -1;
    int recError = 0;
    JitterBuffer jitter;
  };

  bool valid(int ch) const { return ch >= 0 && ch < channels_; }
  void closeRecording(Chan& c);

  mutable std::mutex m_;
  std::vector<Chan> chans_;
  int channels_ = 0;
  unsigned char* table_ = nullptr;
  Impl* impl_ = nullptr;
  std::thread thread_;
  std::atomic<uint64_t> busyRejects_{0};
  std::function<void(const std::string&)> notify_;
};

}  // namespace hardware
