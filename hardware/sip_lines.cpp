#include "hardware/sip_lines.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>

#include "hardware/chanrecord.h"
#include "hardware/cti_contract.h"
#include "hardware/g711.h"
#include "hardware/voice_file.h"
#include "platform/ini.h"
#include "platform/winpath.h"

// libre's types header redefines bool unless told the C library has it.
#define HAVE_STDBOOL_H 1
#define HAVE_INTTYPES_H 1
// re_dbg.h names the module in what it prints and wants both defined.
#define DEBUG_MODULE "sip_lines"
#define DEBUG_LEVEL 3
extern "C" {
#include <re.h>
#include <re_dbg.h>
}

namespace hardware {

namespace {

constexpr int kTickMs = 20;
// A hang-up by the runtime waits this long before the BYE, so that the end
// of the last prompt, still in the caller's jitter buffer, is heard.
constexpr int kByeDrainMs = 250;
constexpr size_t kKeyQueueMax = 128;

int64_t nowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string plString(const pl& p, size_t max) {
  std::string s;
  for (size_t i = 0; i < p.l && s.size() < max; ++i) {
    const char c = p.p[i];
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) s += c;
  }
  return s;
}

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) |
         (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

char infoKey(const std::string& body) {
  std::string v = body;
  auto pos = v.find("Signal=");
  if (pos == std::string::npos) pos = v.find("signal=");
  if (pos != std::string::npos) v = v.substr(pos + 7);
  for (char c : v) {
    if (c == ' ' || c == '\t') continue;
    if ((c >= '0' && c <= '9') || c == '*' || c == '#') return c;
    break;
  }
  return 0;
}

SipSettings readSipSettings(const platform::IniFile& ini) {
  SipSettings s;
  s.address = ini.getString("SIP", "address", s.address);
  s.port = ini.getInt("SIP", "port", s.port);
  if (s.port < 1 || s.port > 65535) {
    s.warnings.push_back("[SIP] port " + std::to_string(s.port) + " out of range, 5060 used");
    s.port = 5060;
  }
  s.channels = ini.getInt("SIP", "channels", s.channels);
  if (s.channels < 1 || s.channels > kSipMaxChannels) {
    const int c = std::clamp(s.channels, 1, kSipMaxChannels);
    s.warnings.push_back("[SIP] channels " + std::to_string(s.channels) + " out of range, " +
                         std::to_string(c) + " used");
    s.channels = c;
  }
  const std::string codecs = ini.getString("SIP", "codecs", "PCMA,PCMU");
  s.codecs.clear();
  size_t start = 0;
  while (start <= codecs.size()) {
    size_t end = codecs.find(',', start);
    if (end == std::string::npos) end = codecs.size();
    std::string c = codecs.substr(start, end - start);
    c.erase(std::remove_if(c.begin(), c.end(), [](char x) { return x == ' ' || x == '\t'; }),
            c.end());
    std::transform(c.begin(), c.end(), c.begin(),
                   [](char x) { return static_cast<char>(std::toupper(x)); });
    if (c == "PCMA" || c == "PCMU") {
      if (std::find(s.codecs.begin(), s.codecs.end(), c) == s.codecs.end()) s.codecs.push_back(c);
    } else if (!c.empty()) {
      s.warnings.push_back("[SIP] codecs: " + c + " is not supported");
    }
    start = end + 1;
  }
  if (s.codecs.empty()) s.codecs = {"PCMA", "PCMU"};
  s.rtpPortMin = ini.getInt("SIP", "rtpportmin", s.rtpPortMin);
  s.rtpPortMax = ini.getInt("SIP", "rtpportmax", s.rtpPortMax);
  if (s.rtpPortMin < 1024 || s.rtpPortMax > 65535 ||
      int64_t{s.rtpPortMax} - s.rtpPortMin < 2 * s.channels) {
    s.warnings.push_back("[SIP] rtpportmin/rtpportmax unusable, 10000-20000 used");
    s.rtpPortMin = 10000;
    s.rtpPortMax = 20000;
  }
  s.quietTimeoutS = std::max(0, ini.getInt("SIP", "quiettimeout", s.quietTimeoutS));
  s.registrar = ini.getString("SIP", "registrar", "");
  s.user = ini.getString("SIP", "user", "");
  s.password = ini.getString("SIP", "password", "");
  s.realm = ini.getString("SIP", "realm", "");
  s.expiryS = std::clamp(ini.getInt("SIP", "expiry", s.expiryS), 60, 86400);
  s.indexDir = ini.getString("Hardware", "indexdir", s.indexDir);
  const std::string ext = ini.getString("SIP", "extensions", "");
  size_t from = 0;
  while (from < ext.size()) {
    size_t end = ext.find(',', from);
    if (end == std::string::npos) end = ext.size();
    std::string item = ext.substr(from, end - from);
    item.erase(
        std::remove_if(item.begin(), item.end(), [](char x) { return x == ' ' || x == '\t'; }),
        item.end());
    const size_t eq = item.find('=');
    // A bare number is a user that registers with us: digits only, so that
    // a mistyped address is not taken for one.
    const bool registered =
        eq == std::string::npos && !item.empty() &&
        item.size() < static_cast<size_t>(CHAN_EXTENSION_SIZE) &&
        std::all_of(item.begin(), item.end(), [](char x) { return x >= '0' && x <= '9'; });
    if (!registered &&
        (eq == std::string::npos || eq == 0 || item.compare(eq + 1, 4, "sip:") != 0)) {
      if (!item.empty())
        s.warnings.push_back("[SIP] extensions: '" + item +
                             "' is neither NUMBER=sip:ADDRESS nor a NUMBER of digits");
    } else if (s.channels + static_cast<int>(s.extensions.size()) >= kSipMaxChannels) {
      s.warnings.push_back("[SIP] extensions: no channel left for " + item.substr(0, eq));
    } else if (registered) {
      s.extensions.emplace_back(item, std::string());
    } else {
      s.extensions.emplace_back(item.substr(0, eq), item.substr(eq + 1));
    }
    from = end + 1;
  }
  s.extPassword = ini.getString("SIP", "extpassword", "");
  s.extRealm = ini.getString("SIP", "extrealm", s.extRealm);
  if (s.extRealm.empty() || s.extRealm.find_first_of("\"\r\n") != std::string::npos) {
    s.warnings.push_back("[SIP] extrealm unusable, olvaro used");
    s.extRealm = "olvaro";
  }
  s.extExpiryS = std::clamp(ini.getInt("SIP", "extexpiry", s.extExpiryS), 60, 86400);
  const bool anyRegistered = std::any_of(s.extensions.begin(), s.extensions.end(),
                                         [](const auto& e) { return e.second.empty(); });
  if (anyRegistered && s.extPassword.empty())
    s.warnings.push_back(
        "[SIP] extensions: no extpassword, anyone may register as a registered-user extension");
  return s;
}

std::string dialledNumber(const std::string& requestUser, const std::string& toUser,
                          const std::string& account) {
  if (requestUser.empty() || (!account.empty() && requestUser == account)) return toUser;
  return requestUser;
}

std::string dialTarget(const std::string& number, const std::string& registrar) {
  std::string n = number;
  while (!n.empty() && (n.back() == ' ' || n.back() == '\t'))
    n.pop_back();
  n.erase(0, std::min(n.find_first_not_of(" \t"), n.size()));
  if (n.empty() || n.size() > 256) return {};
  if (n.size() > 4 && (n.compare(0, 4, "sip:") == 0 || n.compare(0, 4, "SIP:") == 0)) {
    for (char c : n)
      if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F || c == '<' || c == '>' || c == '"')
        return {};
    return "sip:" + n.substr(4);
  }
  std::string host = registrar;
  if (host.compare(0, 4, "sip:") == 0) host = host.substr(4);
  host = host.substr(0, host.find_first_of(";?>"));
  if (host.empty()) return {};
  // The host goes into the request line and the To header as it is: a name,
  // an IPv4 or a bracketed IPv6 address, and a port.
  for (char c : host)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_' &&
        c != ':' && c != '[' && c != ']')
      return {};
  std::string user;
  for (char c : n) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '*' || c == '+' || c == '.' ||
        c == '-' || c == '_')
      user += c;
    else if (c == '#')
      user += "%23";
    else
      return {};
  }
  return "sip:" + user + "@" + host;
}

bool loadVoiceAlaw(const std::string& linuxPath, std::vector<uint8_t>* out) {
  out->clear();
  const int fd = openVoiceFile(linuxPath, false);
  if (fd < 0) return false;
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.insert(bytes.end(), buf, buf + n);
    if (bytes.size() > (64u << 20)) break;  // an hour and more of speech is plenty
  }
  ::close(fd);
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    *out = std::move(bytes);
    return true;
  }
  uint16_t format = 0, channels = 0, bits = 0;
  uint32_t rate = 0;
  bool haveFmt = false;
  size_t pos = 12;
  while (pos + 8 <= bytes.size()) {
    const uint8_t* h = bytes.data() + pos;
    const uint32_t size = le32(h + 4);
    const size_t body = pos + 8;
    const size_t avail = std::min<size_t>(size, bytes.size() - body);
    if (std::memcmp(h, "fmt ", 4) == 0 && avail >= 16) {
      format = le16(h + 8);
      channels = le16(h + 10);
      rate = le32(h + 12);
      bits = le16(h + 22);
      haveFmt = true;
    } else if (std::memcmp(h, "data", 4) == 0) {
      if (!haveFmt || channels != 1 || rate != 8000) return false;
      const uint8_t* d = bytes.data() + body;
      if (format == 6 && bits == 8) {
        out->assign(d, d + avail);
      } else if (format == 7 && bits == 8) {
        for (size_t i = 0; i < avail; ++i)
          out->push_back(g711::ulawToAlaw(d[i]));
      } else if (format == 1 && bits == 16) {
        for (size_t i = 0; i + 1 < avail; i += 2)
          out->push_back(g711::linearToAlaw(static_cast<int16_t>(le16(d + i))));
      } else {
        return false;
      }
      return true;
    }
    pos = body + size + (size & 1);
  }
  return false;
}

// ---------------------------------------------------------------------------
// The SIP thread's side. Everything below runs on that thread, except where
// a function says otherwise.

namespace {

enum MsgId { kMsgAnswer = 1, kMsgHangup, kMsgDestroy, kMsgQuit, kMsgRingOut, kMsgDialOut };

// The registration's credentials handler argument: a libre object, so that
// the registration holds a reference to it until it is gone, which tells
// the stop when the unregistration has been answered.
struct RegToken {
  SipLines::Impl* im;
};

struct Msg {
  int ch;
  uint32_t seq;
};

}  // namespace

struct Call {
  SipLines::Impl* impl = nullptr;
  int ch = -1;
  uint32_t seq = 0;
  struct sipsess* sess = nullptr;
  struct sdp_session* sdp = nullptr;
  struct sdp_media* media = nullptr;
  struct rtp_sock* rtp = nullptr;
  struct telev* tel = nullptr;
  struct sa remote {};
  bool answered = false;
  bool closed = false;
  bool hangingUp = false;  // the BYE waits for kByeDrainMs
  struct tmr bye {};
  bool ulaw = false;
  int pt = 8;
  int telPt = -1;
  uint32_t ts = 0;
  bool marker = true;
  int64_t lastRxUs = 0;
  bool keyDown = false;
  bool outgoing = false;        // we rang an extension
  JitterBuffer::Frame heard{};  // the caller's frame of this tick
};

struct SipLines::Impl {
  SipLines* owner = nullptr;
  SipSettings s;
  struct sa laddr {};
  struct sip* sip = nullptr;
  struct sipsess_sock* sock = nullptr;
  struct sip_lsnr* lsnr = nullptr;
  struct mqueue* mq = nullptr;
  struct sipreg* reg = nullptr;
  RegToken* regToken = nullptr;
  std::string aor;          // the registered account, sip:user@domain
  int regState = 0;         // last reported: 0 nothing yet, 1 registered, 2 failed
  std::string regFailure;   // what the last failure report said
  std::string serverRealm;  // the realm the server last challenged for
  bool closing = false;     // the stop has begun: nothing new is started
  struct tmr tick {};
  std::vector<Call*> calls;
  int64_t nextTickUs = 0;
  int64_t lastSendUs = 0;
  // Send intervals, for the jitter report.
  mutable std::mutex statsLock;
  uint64_t intervals = 0;
  double sum = 0, sumSq = 0;
  int64_t minIv = 0, maxIv = 0;

  uint64_t nonceSecret = 0;

  void run(std::promise<std::string>* ready);
  void registerExtension(const struct sip_msg* msg);
  bool authorized(const struct sip_msg* msg, const std::string& user);
  std::string nonce(uint64_t seconds) const;
  std::string setUp();
  void tearDown();
  int freeChannel();
  void destroyCall(Call* call);
  void onTick();
  void sendFrame(Call* call, const uint8_t* alaw);
  void addKey(Call* call, char key);
  void onRegistration(int err, const struct sip_msg* msg);
  void unregister();
  bool current(const Call* call) const { return owner->chans_[call->ch].seq == call->seq; }
};

namespace {

void tickHandler(void* arg) {
  static_cast<SipLines::Impl*>(arg)->onTick();
}

int authHandler(char** user, char** pass, const char* realm, void* arg) {
  auto* im = static_cast<SipLines::Impl*>(arg);
  im->serverRealm = realm ? realm : "";
  if (!im->s.realm.empty() && realm && im->s.realm != realm) return EAUTH;
  int err = str_dup(user, im->s.user.c_str());
  err |= str_dup(pass, im->s.password.c_str());
  return err;
}

int regAuthHandler(char** user, char** pass, const char* realm, void* arg) {
  return authHandler(user, pass, realm, static_cast<RegToken*>(arg)->im);
}

void regResponse(int err, const struct sip_msg* msg, void* arg) {
  static_cast<SipLines::Impl*>(arg)->onRegistration(err, msg);
}

// OLVARO_SIP_TRACE=1 in the environment prints every SIP message sent and
// received on standard error.
void traceHandler(bool tx, enum sip_transp, const struct sa* src, const struct sa* dst,
                  const uint8_t* pkt, size_t len, void*) {
  re_fprintf(stderr, "sip %s %J -> %J\n%b\n", tx ? "send" : "recv", src, dst, pkt, len);
}

// CTIGetInLineStatus for an extension's call that ended before its answer:
// the responses that say there is no such user, else a refusal (busy,
// declined, a server error, no answer from its address).
int refusal(int err, const struct sip_msg* msg) {
  if (err || !msg || msg->req) return CTI_IN_REFUSED;
  switch (msg->scode) {
    case 404:
    case 410:
    case 484:
    case 604:
      return CTI_IN_NO_SUCH_EXTENSION;
    default:
      return CTI_IN_REFUSED;
  }
}

void closeHandler(int err, const struct sip_msg* msg, void* arg) {
  auto* call = static_cast<Call*>(arg);
  SipLines::Impl* im = call->impl;
  call->closed = true;
  {
    std::lock_guard<std::mutex> g(im->owner->m_);
    auto& c = im->owner->chans_[call->ch];
    if (im->current(call)) {
      if (c.bridge >= 0 && im->owner->chans_[static_cast<size_t>(c.bridge)].bridge == call->ch)
        im->owner->chans_[static_cast<size_t>(c.bridge)].bridge = -1;
      c.bridge = -1;
      if (c.inner) {
        // Why a rung extension did not answer: a response, or none at all.
        if (call->outgoing && !call->answered && c.state == SipLines::State::kRinging)
          c.ringFail = refusal(err, msg);
        c.state = SipLines::State::kIdle;  // the extension's handset is down
      } else if (c.state == SipLines::State::kRinging && !c.reported)
        c.state = SipLines::State::kIdle;  // withdrawn before anyone saw it
      else if (c.state != SipLines::State::kIdle)
        c.state = SipLines::State::kHungUp;
      // The caller's hang-up ends a running recording there.
      im->owner->closeRecording(c);
      c.playing = false;
    }
  }
  // Not from inside the session's own handler.
  mqueue_push(im->mq, kMsgDestroy, new Msg{call->ch, call->seq});
}

void rtpHandler(const struct sa* src, const struct rtp_header* hdr, struct mbuf* mb, void* arg) {
  auto* call = static_cast<Call*>(arg);
  SipLines::Impl* im = call->impl;
  if (call->closed || !sa_isset(&call->remote, SA_ALL) || !sa_cmp(src, &call->remote, SA_ALL))
    return;
  call->lastRxUs = nowUs();
  if (call->telPt >= 0 && hdr->pt == call->telPt) {
    int event = 0;
    bool end = false;
    if (telev_recv(call->tel, mb, &event, &end) != 0) return;
    const int digit = telev_code2digit(event);
    if (digit <= 0) return;
    if (!end) {
      call->keyDown = true;
      im->addKey(call, static_cast<char>(digit));
    } else {
      if (!call->keyDown) im->addKey(call, static_cast<char>(digit));  // its start was lost
      call->keyDown = false;
    }
    return;
  }
  if (hdr->pt != call->pt) return;
  uint8_t frame[8 * kFrameBytes];  // up to 160 ms a packet
  const size_t n = std::min(mbuf_get_left(mb), sizeof frame);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = mbuf_buf(mb)[i];
    frame[i] = call->ulaw ? g711::ulawToAlaw(b) : b;
  }
  std::lock_guard<std::mutex> g(im->owner->m_);
  if (im->current(call)) im->owner->chans_[call->ch].jitter.put(hdr->ts, frame, n);
}

int offerHandler(struct mbuf** descp, const struct sip_msg* msg, void* arg) {
  auto* call = static_cast<Call*>(arg);
  int err = sdp_decode(call->sdp, msg->mb, true);
  if (err) return err;
  const struct sa* ra = sdp_media_raddr(call->media);
  if (ra && sa_isset(ra, SA_ALL)) call->remote = *ra;
  return sdp_encode(descp, call->sdp, false);
}

const struct sdp_format* remoteCodec(const struct sdp_media* m, const std::string& name);

// The codec, telephone events and address of the peer's SDP; false when
// nothing usable was offered or answered.
bool negotiate(Call* call, const std::vector<std::string>& codecs) {
  const struct sdp_format* chosen = nullptr;
  for (const auto& c : codecs) {
    chosen = remoteCodec(call->media, c);
    if (chosen) break;
  }
  const struct sa* ra = sdp_media_raddr(call->media);
  if (!chosen || !ra || !sa_isset(ra, SA_ALL)) return false;
  call->remote = *ra;
  call->pt = chosen->pt;
  call->ulaw = chosen->pt == 0 || (chosen->name && str_casecmp(chosen->name, "PCMU") == 0);
  const struct sdp_format* te = sdp_media_rformat(call->media, "telephone-event");
  call->telPt = te ? te->pt : -1;
  return true;
}

int answerHandler(const struct sip_msg* msg, void* arg) {
  auto* call = static_cast<Call*>(arg);
  int err = sdp_decode(call->sdp, msg->mb, false);
  if (!err && !negotiate(call, call->impl->s.codecs)) err = EPROTO;
  return err;
}

void progressHandler(const struct sip_msg*, void*) {}

// An extension answered: its handset is up.
void estabHandler(const struct sip_msg*, void* arg) {
  auto* call = static_cast<Call*>(arg);
  if (!call->outgoing || call->answered) return;
  call->answered = true;
  call->lastRxUs = nowUs();
  std::lock_guard<std::mutex> g(call->impl->owner->m_);
  auto& c = call->impl->owner->chans_[static_cast<size_t>(call->ch)];
  if (call->impl->current(call) &&
      (c.state == SipLines::State::kRinging || c.state == SipLines::State::kDialling))
    c.state = SipLines::State::kTalking;
}

void infoHandler(struct sip* sip, const struct sip_msg* msg, void* arg) {
  auto* call = static_cast<Call*>(arg);
  const std::string body(reinterpret_cast<const char*>(mbuf_buf(msg->mb)),
                         std::min<size_t>(mbuf_get_left(msg->mb), 256));
  const char key = infoKey(body);
  if (!key) {
    sip_reply(sip, msg, 415, "Unsupported Media Type");
    return;
  }
  sip_reply(sip, msg, 200, "OK");
  call->lastRxUs = nowUs();
  call->impl->addKey(call, key);
}

// Requests outside a session: OPTIONS answered as a live server does; the
// rest is left to libre (501, or the session socket for INVITE).
bool requestHandler(const struct sip_msg* msg, void* arg) {
  auto* im = static_cast<SipLines::Impl*>(arg);
  if (pl_strcmp(&msg->met, "REGISTER") == 0) {
    im->registerExtension(msg);
    return true;
  }
  if (pl_strcmp(&msg->met, "OPTIONS") == 0) {
    sip_treplyf(nullptr, nullptr, im->sip, msg, false, 200, "OK",
                "Allow: INVITE, ACK, BYE, CANCEL, OPTIONS, INFO, REGISTER\r\n"
                "Content-Length: 0\r\n\r\n");
    return true;
  }
  return false;
}

// The caller's format for codec `name`, by its rtpmap or, without one, by
// its static payload type (8 PCMA, 0 PCMU).
const struct sdp_format* remoteCodec(const struct sdp_media* m, const std::string& name) {
  if (const struct sdp_format* f = sdp_media_rformat(m, name.c_str())) return f;
  const int pt = name == "PCMA" ? 8 : 0;
  const struct list* l = sdp_media_format_lst(m, false);
  for (struct le* le = l ? l->head : nullptr; le; le = le->next) {
    const auto* f = static_cast<const struct sdp_format*>(le->data);
    if (f->pt == pt && (!f->name || str_casecmp(f->name, name.c_str()) == 0)) return f;
  }
  return nullptr;
}

// The call's RTP socket and SDP session with our codecs and telephone events.
int setUpMedia(SipLines::Impl* im, Call* call) {
  int err = sdp_session_alloc(&call->sdp, &im->laddr);
  if (!err)
    err = rtp_listen(&call->rtp, IPPROTO_UDP, &im->laddr, static_cast<uint16_t>(im->s.rtpPortMin),
                     static_cast<uint16_t>(im->s.rtpPortMax), true, rtpHandler, nullptr, call);
  if (!err)
    err = sdp_media_add(&call->media, call->sdp, "audio", sa_port(rtp_local(call->rtp)), "RTP/AVP");
  for (const auto& c : im->s.codecs)
    if (!err)
      err = sdp_format_add(nullptr, call->media, false, c == "PCMA" ? "8" : "0", c.c_str(), 8000, 1,
                           nullptr, nullptr, nullptr, false, nullptr);
  if (!err)
    err = sdp_format_add(nullptr, call->media, false, "101", "telephone-event", 8000, 1, nullptr,
                         nullptr, nullptr, false, "0-15");
  if (!err) err = telev_alloc(&call->tel, kTickMs);
  return err;
}

void freeMedia(Call* call) {
  call->closed = true;
  mem_deref(call->sess);
  mem_deref(call->rtp);
  mem_deref(call->tel);
  mem_deref(call->sdp);
  delete call;
}

std::string localUri(const SipLines::Impl* im) {
  char local[128];
  re_snprintf(local, sizeof local, "sip:olvaro@%j:%u", &im->laddr, im->s.port);
  return local;
}

// Sends the INVITE of a call of ours on `ch` (call number `seq`) to `uri`,
// with its media ready, answering the far end's challenge with the
// account's credentials when `withAccount`. False, with nothing left
// behind, when it cannot be sent.
bool callOutTo(SipLines::Impl* im, int ch, uint32_t seq, const std::string& uri,
               const std::string& from, const std::string& cuser, bool withAccount) {
  auto* call = new Call;
  tmr_init(&call->bye);
  call->impl = im;
  call->ch = ch;
  call->seq = seq;
  call->outgoing = true;
  int err = setUpMedia(im, call);
  struct mbuf* offer = nullptr;
  if (!err) err = sdp_encode(&offer, call->sdp, true);
  if (!err)
    err = sipsess_connect(&call->sess, im->sock, uri.c_str(), nullptr, from.c_str(), cuser.c_str(),
                          nullptr, 0, "application/sdp", offer, withAccount ? authHandler : nullptr,
                          withAccount ? im : nullptr, false, offerHandler, answerHandler,
                          progressHandler, estabHandler, infoHandler, nullptr, closeHandler, call,
                          nullptr);
  mem_deref(offer);
  if (err) {
    freeMedia(call);
    return false;
  }
  call->lastRxUs = nowUs();
  im->calls[static_cast<size_t>(ch)] = call;
  return true;
}

// Rings extension channel `ch` (call number `seq`): an INVITE with our offer
// to its address or registered Contact. One that cannot be sent is a
// refusal (CTIGetInLineStatus 3).
void ringOut(SipLines::Impl* im, int ch, uint32_t seq) {
  if (Call* old = im->calls[static_cast<size_t>(ch)]) im->destroyCall(old);
  std::string uri;
  {
    std::lock_guard<std::mutex> g(im->owner->m_);
    auto& c = im->owner->chans_[static_cast<size_t>(ch)];
    if (c.seq != seq || c.state != SipLines::State::kRinging) return;
    uri = c.extUri.empty() ? c.contact : c.extUri;
    if (uri.empty()) {  // unregistered since it was rung
      c.state = SipLines::State::kIdle;
      c.ringFail = CTI_IN_NO_SUCH_EXTENSION;
      return;
    }
  }
  if (!callOutTo(im, ch, seq, uri, localUri(im), "olvaro", false)) {
    std::lock_guard<std::mutex> g(im->owner->m_);
    auto& c = im->owner->chans_[static_cast<size_t>(ch)];
    if (c.seq == seq) {
      c.state = SipLines::State::kIdle;
      c.ringFail = CTI_IN_REFUSED;  // an address we cannot call
    }
  }
}

// Dials out on outer channel `ch` (call number `seq`): an INVITE to the
// channel's target, from the registered account when there is one, whose
// credentials answer the server's challenge. A failure to send is a
// failed call (5), as a refusal is.
void dialOut(SipLines::Impl* im, int ch, uint32_t seq) {
  if (Call* old = im->calls[static_cast<size_t>(ch)]) im->destroyCall(old);
  std::string uri;
  {
    std::lock_guard<std::mutex> g(im->owner->m_);
    auto& c = im->owner->chans_[static_cast<size_t>(ch)];
    if (c.seq != seq || c.state != SipLines::State::kDialling) return;
    uri = c.dialUri;
  }
  const std::string from = im->reg ? im->aor : localUri(im);
  const std::string cuser = im->reg ? im->s.user : std::string("olvaro");
  if (!callOutTo(im, ch, seq, uri, from, cuser, true)) {
    std::lock_guard<std::mutex> g(im->owner->m_);
    auto& c = im->owner->chans_[static_cast<size_t>(ch)];
    if (c.seq == seq && c.state == SipLines::State::kDialling) c.state = SipLines::State::kHungUp;
  }
}

void connectHandler(const struct sip_msg* msg, void* arg) {
  auto* im = static_cast<SipLines::Impl*>(arg);
  const int ch = im->freeChannel();
  if (ch < 0) {
    im->owner->busyRejects_.fetch_add(1);
    sip_treply(nullptr, im->sip, msg, 486, "Busy Here");
    return;
  }
  if (mbuf_get_left(msg->mb) == 0) {
    // An offer in the ACK is not taken: callers offer in the INVITE.
    sip_treply(nullptr, im->sip, msg, 488, "Not Acceptable Here");
    return;
  }
  auto* call = new Call;
  tmr_init(&call->bye);
  call->impl = im;
  call->ch = ch;
  int err = setUpMedia(im, call);
  if (!err) err = sdp_decode(call->sdp, msg->mb, true);
  if (!err) {
    if (!negotiate(call, im->s.codecs)) {
      sip_treply(nullptr, im->sip, msg, 488, "Not Acceptable Here");
      err = EPROTO;
    }
  } else {
    sip_treply(nullptr, im->sip, msg, err == EBADMSG ? 400 : 500,
               err == EBADMSG ? "Bad Request" : "Server Error");
  }
  if (!err)
    err = sipsess_accept(&call->sess, im->sock, msg, 180, "Ringing", "olvaro", "application/sdp",
                         nullptr, nullptr, nullptr, false, offerHandler, answerHandler,
                         estabHandler, infoHandler, nullptr, closeHandler, call, nullptr);
  if (err) {
    freeMedia(call);
    return;
  }
  std::lock_guard<std::mutex> g(im->owner->m_);
  auto& c = im->owner->chans_[ch];
  call->seq = ++c.seq;
  c.state = SipLines::State::kRinging;
  c.reported = false;
  c.caller = plString(msg->from.uri.user, CHAN_NUMBER_SIZE - 1);
  c.called = dialledNumber(plString(msg->uri.user, CHAN_LINE_NUMBER_SIZE - 1),
                           plString(msg->to.uri.user, CHAN_LINE_NUMBER_SIZE - 1),
                           im->reg ? im->s.user : std::string());
  c.keys.clear();
  c.playing = false;
  c.jitter.reset();
  call->lastRxUs = nowUs();
  im->calls[static_cast<size_t>(ch)] = call;
}

void byeTimer(void* arg) {
  auto* call = static_cast<Call*>(arg);
  call->impl->destroyCall(call);
}

void mqueueHandler(int id, void* data, void* arg) {
  auto* im = static_cast<SipLines::Impl*>(arg);
  std::unique_ptr<Msg> m(static_cast<Msg*>(data));
  if (id == kMsgQuit) {
    for (Call* call : im->calls)
      if (call) im->destroyCall(call);
    re_cancel();
    return;
  }
  if (im->closing || !m || m->ch < 0 || m->ch >= static_cast<int>(im->calls.size())) return;
  if (id == kMsgRingOut) {
    ringOut(im, m->ch, m->seq);
    return;
  }
  if (id == kMsgDialOut) {
    dialOut(im, m->ch, m->seq);
    return;
  }
  Call* call = im->calls[static_cast<size_t>(m->ch)];
  if (!call || call->seq != m->seq) return;
  switch (id) {
    case kMsgAnswer: {
      if (call->answered || call->closed) return;
      struct mbuf* desc = nullptr;
      if (sdp_encode(&desc, call->sdp, false) == 0 &&
          sipsess_answer(call->sess, 200, "OK", desc, nullptr) == 0) {
        call->answered = true;
        call->lastRxUs = nowUs();
      }
      mem_deref(desc);
      break;
    }
    case kMsgHangup:
      if (call->answered && !call->closed) {
        if (!call->hangingUp) {
          call->hangingUp = true;
          tmr_start(&call->bye, kByeDrainMs, byeTimer, call);
        }
      } else {
        im->destroyCall(call);
      }
      break;
    case kMsgDestroy:
      im->destroyCall(call);
      break;
    default:
      break;
  }
}

}  // namespace

// An outer channel: an extension's channel takes no calls (the runtime
// would never see one there, and the extension could no longer be rung).
int SipLines::Impl::freeChannel() {
  std::lock_guard<std::mutex> g(owner->m_);
  for (int ch = 0; ch < owner->channels_; ++ch) {
    const Chan& c = owner->chans_[static_cast<size_t>(ch)];
    if (!c.inner && c.state == State::kIdle && !calls[static_cast<size_t>(ch)]) return ch;
  }
  return -1;
}

// Ends the call's SIP session (BYE once answered, 486 before) and frees
// its media.
void SipLines::Impl::destroyCall(Call* call) {
  calls[static_cast<size_t>(call->ch)] = nullptr;
  call->closed = true;
  tmr_cancel(&call->bye);
  mem_deref(call->sess);
  mem_deref(call->rtp);
  mem_deref(call->tel);
  mem_deref(call->sdp);
  delete call;
}

void SipLines::Impl::addKey(Call* call, char key) {
  std::lock_guard<std::mutex> g(owner->m_);
  if (!current(call)) return;
  auto& c = owner->chans_[static_cast<size_t>(call->ch)];
  if (c.state != State::kRinging && c.state != State::kTalking) return;
  if (c.keys.size() < kKeyQueueMax) c.keys.push_back(key);
}

void SipLines::Impl::sendFrame(Call* call, const uint8_t* alaw) {
  struct mbuf* mb = mbuf_alloc(RTP_HEADER_SIZE + kFrameBytes);
  if (!mb) return;
  mb->pos = mb->end = RTP_HEADER_SIZE;
  for (size_t i = 0; i < kFrameBytes; ++i)
    mbuf_write_u8(mb, call->ulaw ? g711::alawToUlaw(alaw[i]) : alaw[i]);
  mb->pos = RTP_HEADER_SIZE;
  rtp_send(call->rtp, &call->remote, false, call->marker, static_cast<uint8_t>(call->pt), call->ts,
           mb);
  mem_deref(mb);
  call->marker = false;
  call->ts += kFrameBytes;
}

// Every 20 ms on an absolute schedule, so timer lateness does not add up.
void SipLines::Impl::onTick() {
  const int64_t now = nowUs();
  if (now - nextTickUs > 200000) nextTickUs = now;  // a stall: start the schedule again
  nextTickUs += kTickMs * 1000;
  tmr_start(&tick, static_cast<uint64_t>(std::max<int64_t>(0, (nextTickUs - nowUs() + 999) / 1000)),
            tickHandler, this);

  bool sent = false;
  const int64_t quietUs = static_cast<int64_t>(s.quietTimeoutS) * 1000000;
  for (Call* call : calls) {
    if (!call || !call->answered || call->closed || call->hangingUp) continue;
    if (quietUs > 0 && now - call->lastRxUs > quietUs) {
      {
        std::lock_guard<std::mutex> g(owner->m_);
        auto& c = owner->chans_[static_cast<size_t>(call->ch)];
        if (current(call) && c.state == State::kTalking) {
          c.state = c.inner ? State::kIdle : State::kHungUp;
          owner->closeRecording(c);
          c.playing = false;
        }
      }
      destroyCall(call);  // BYE to a peer that may still be there
      continue;
    }
    // What the caller said this tick, into the recording.
    std::lock_guard<std::mutex> g(owner->m_);
    if (!current(call)) continue;
    auto& c = owner->chans_[static_cast<size_t>(call->ch)];
    JitterBuffer::Frame& in = call->heard;
    c.jitter.pop(in);
    if (c.recFd >= 0 && c.recError == 0) {
      size_t done = 0;
      while (done < kFrameBytes) {
        const ssize_t w = ::write(c.recFd, in.data() + done, kFrameBytes - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
          c.recError = w < 0 ? errno : ENOSPC;
          break;
        }
        done += static_cast<size_t>(w);
      }
    }
  }
  // What each caller hears: its playback, else the caller it is connected
  // to, else silence.
  for (Call* call : calls) {
    if (!call || !call->answered || call->closed || call->hangingUp) continue;
    JitterBuffer::Frame out;
    out.fill(kAlawSilence);
    {
      std::lock_guard<std::mutex> g(owner->m_);
      if (!current(call)) continue;
      auto& c = owner->chans_[static_cast<size_t>(call->ch)];
      if (c.playing && c.playPos < c.play.size()) {
        const size_t n = std::min(kFrameBytes, c.play.size() - c.playPos);
        std::memcpy(out.data(), c.play.data() + c.playPos, n);
        c.playPos += n;
        if (c.playPos >= c.play.size()) {
          if (c.repeat)
            c.playPos = 0;
          else
            c.playing = false;
        }
      } else if (c.bridge >= 0 && c.bridge < static_cast<int>(calls.size())) {
        const Call* peer = calls[static_cast<size_t>(c.bridge)];
        if (peer && peer->answered && !peer->closed && current(peer)) out = peer->heard;
      }
    }
    sendFrame(call, out.data());
    sent = true;
  }
  if (sent) {
    const int64_t t = nowUs();
    if (lastSendUs != 0 && t - lastSendUs < 1000000) {
      const int64_t iv = t - lastSendUs;
      std::lock_guard<std::mutex> g(statsLock);
      if (intervals == 0 || iv < minIv) minIv = iv;
      if (intervals == 0 || iv > maxIv) maxIv = iv;
      ++intervals;
      sum += static_cast<double>(iv);
      sumSq += static_cast<double>(iv) * static_cast<double>(iv);
    }
    lastSendUs = t;
  } else {
    lastSendUs = 0;
  }
}

// ---------------------------------------------------------------------------
// Registration of extensions with these lines.

namespace {
// A nonce older than this is answered with a fresh challenge (stale=true).
constexpr uint64_t kNonceLifeS = 300;

uint64_t steadySeconds() {
  return static_cast<uint64_t>(nowUs() / 1000000);
}
}  // namespace

// Stateless nonces: the time they were made and a keyed hash of it, so that
// one made by us is told from one made up, and its age is known.
std::string SipLines::Impl::nonce(uint64_t seconds) const {
  uint8_t mac[MD5_SIZE];
  md5_printf(mac, "%016llx:%016llx", static_cast<unsigned long long>(seconds),
             static_cast<unsigned long long>(nonceSecret));
  char text[64];
  re_snprintf(text, sizeof text, "%016llx%w", static_cast<unsigned long long>(seconds), mac,
              static_cast<size_t>(8));
  return text;
}

// True when the request carries a digest answer to one of our recent
// challenges with the extensions' password; otherwise it has been answered
// 401 with a new challenge.
bool SipLines::Impl::authorized(const struct sip_msg* msg, const std::string& user) {
  bool stale = false;
  const struct sip_hdr* h = sip_msg_hdr(msg, SIP_HDR_AUTHORIZATION);
  struct httpauth_digest_resp resp {};
  if (h && httpauth_digest_response_decode(&resp, &h->val) == 0 &&
      pl_strcmp(&resp.username, user.c_str()) == 0 &&
      pl_strcmp(&resp.realm, s.extRealm.c_str()) == 0 && resp.nonce.l == 32) {
    const std::string n(resp.nonce.p, resp.nonce.l);
    const uint64_t made = std::strtoull(n.substr(0, 16).c_str(), nullptr, 16);
    uint8_t ha1[MD5_SIZE];
    md5_printf(ha1, "%s:%s:%s", user.c_str(), s.extRealm.c_str(), s.extPassword.c_str());
    if (nonce(made) == n && httpauth_digest_response_auth(&resp, &msg->met, ha1) == 0) {
      if (steadySeconds() - made <= kNonceLifeS) return true;
      stale = true;
    }
  }
  sip_treplyf(nullptr, nullptr, sip, msg, false, 401, "Unauthorized",
              "WWW-Authenticate: Digest realm=\"%s\", nonce=\"%s\", qop=\"auth\", "
              "algorithm=MD5%s\r\nContent-Length: 0\r\n\r\n",
              s.extRealm.c_str(), nonce(steadySeconds()).c_str(), stale ? ", stale=true" : "");
  return false;
}

// REGISTER for a registered-user extension: one binding, its latest Contact.
void SipLines::Impl::registerExtension(const struct sip_msg* msg) {
  const std::string user = plString(msg->to.uri.user, 64);
  int ch = -1;
  {
    std::lock_guard<std::mutex> g(owner->m_);
    // The first of that number, as the extension call finds it.
    for (int i = 0; i < owner->channels_ && ch < 0; ++i) {
      const Chan& c = owner->chans_[static_cast<size_t>(i)];
      if (c.inner && c.extUri.empty() && c.extNumber == user) ch = i;
    }
  }
  if (ch < 0 || user.empty()) {
    sip_treply(nullptr, sip, msg, 404, "Not Found");
    return;
  }
  if (!s.extPassword.empty() && !authorized(msg, user)) return;
  uint32_t expires = 3600;  // what a REGISTER without either asks for
  if (const struct sip_hdr* e = sip_msg_hdr(msg, SIP_HDR_EXPIRES)) expires = pl_u32(&e->val);
  const struct sip_hdr* contactHdr = sip_msg_hdr(msg, SIP_HDR_CONTACT);
  std::string contact;
  if (contactHdr && pl_strcmp(&contactHdr->val, "*") == 0) {
    if (expires != 0) {
      sip_treply(nullptr, sip, msg, 400, "Bad Request");
      return;
    }
  } else if (contactHdr) {
    struct sip_addr addr {};
    if (sip_addr_decode(&addr, &contactHdr->val) != 0 ||
        pl_strcasecmp(&addr.uri.scheme, "sip") != 0) {
      sip_treply(nullptr, sip, msg, 400, "Bad Request");
      return;
    }
    struct pl param {};
    if (msg_param_decode(&addr.params, "expires", &param) == 0) expires = pl_u32(&param);
    contact = plString(addr.auri, 256);
  }
  const uint32_t granted = std::min<uint32_t>(expires, static_cast<uint32_t>(s.extExpiryS));
  std::string bound;
  uint32_t left = 0;
  {
    std::lock_guard<std::mutex> g(owner->m_);
    Chan& c = owner->chans_[static_cast<size_t>(ch)];
    if (!contactHdr) {
      // A query: the binding as it stands.
    } else if (granted == 0) {
      c.contact.clear();
      c.contactUntilUs = 0;
    } else {
      c.contact = contact;
      c.contactUntilUs = nowUs() + static_cast<int64_t>(granted) * 1000000;
    }
    const int64_t now = nowUs();
    if (!c.contact.empty() && c.contactUntilUs > now) {
      bound = c.contact;
      left = static_cast<uint32_t>((c.contactUntilUs - now + 999999) / 1000000);
    }
  }
  if (bound.empty()) {
    sip_treplyf(nullptr, nullptr, sip, msg, false, 200, "OK", "Content-Length: 0\r\n\r\n");
  } else {
    sip_treplyf(nullptr, nullptr, sip, msg, false, 200, "OK",
                "Contact: <%s>;expires=%u\r\nContent-Length: 0\r\n\r\n", bound.c_str(), left);
  }
}

namespace {

struct UnregisterWait {
  SipLines::Impl* im;
  struct tmr poll;
  int64_t deadline;
};

void unregisterPoll(void* arg) {
  auto* w = static_cast<UnregisterWait*>(arg);
  // Only our own reference to the token is left: the registration is gone.
  if (mem_nrefs(w->im->regToken) <= 1 || nowUs() >= w->deadline) {
    re_cancel();
    return;
  }
  tmr_start(&w->poll, 10, unregisterPoll, w);
}

}  // namespace

// Reports the registration's outcome when it first comes and whenever it
// changes; renewals that keep it are not reported.
void SipLines::Impl::onRegistration(int err, const struct sip_msg* msg) {
  const std::string what = "SIP registration of " + aor + " at " + s.registrar;
  if (!err && msg && msg->scode >= 200 && msg->scode < 300) {
    if (regState == 1) return;
    regState = 1;
    owner->notify(what + ": registered for " + std::to_string(sipreg_proxy_expires(reg)) + " s");
    return;
  }
  std::string text = what + " failed: ";
  if (err || !msg) {
    text += std::string(std::strerror(err ? err : EPROTO)) +
            "; check [SIP] registrar and that the server can be reached";
  } else {
    text += std::to_string(msg->scode) + " " + plString(msg->reason, 80);
    if (msg->scode == 401 || msg->scode == 403 || msg->scode == 407) {
      text += "; check [SIP] user, password and realm";
      if (!serverRealm.empty()) text += " (the server asks for realm \"" + serverRealm + "\")";
    }
  }
  if (regState == 2 && text == regFailure) return;
  regState = 2;
  regFailure = text;
  owner->notify(text);
}

// A registered account is unregistered (libre sends Expires 0 when the
// registration is let go); the loop runs on until the server has answered
// it or kUnregisterWaitMs have passed.
void SipLines::Impl::unregister() {
  if (!reg) return;
  const bool registered = regState == 1;
  reg = static_cast<struct sipreg*>(mem_deref(reg));
  if (!registered || !regToken) return;
  UnregisterWait wait{this, {}, nowUs() + int64_t{kUnregisterWaitMs} * 1000};
  tmr_init(&wait.poll);
  tmr_start(&wait.poll, 10, unregisterPoll, &wait);
  re_main(nullptr);
  tmr_cancel(&wait.poll);
  const bool done = mem_nrefs(regToken) <= 1;
  owner->notify("SIP registration of " + aor + " at " + s.registrar +
                (done ? ": unregistered"
                      : ": no answer to the unregistration within " +
                            std::to_string(kUnregisterWaitMs) + " ms"));
}

std::string SipLines::Impl::setUp() {
  fd_setsize(4096);
  nonceSecret = rand_u64();
  if (sa_set_str(&laddr, s.address.c_str(), 0) != 0)
    return "[SIP] address " + s.address + " is not an IP address";
  struct sa sipAddr = laddr;
  sa_set_port(&sipAddr, static_cast<uint16_t>(s.port));
  int err = sip_alloc(&sip, nullptr, 32, 32, 32, "olvaro", nullptr, nullptr);
  if (!err) err = sip_transp_add(sip, SIP_TRANSP_UDP, &sipAddr);
  if (!err && std::getenv("OLVARO_SIP_TRACE")) sip_set_trace_handler(sip, traceHandler);
  if (err)
    return "SIP socket " + s.address + ":" + std::to_string(s.port) + ": " + std::strerror(err);
  err = sipsess_listen(&sock, sip, 32, connectHandler, this);
  if (!err) err = sip_listen(&lsnr, sip, true, requestHandler, this);
  if (!err) err = mqueue_alloc(&mq, mqueueHandler, this);
  if (err) return std::string("SIP start: ") + std::strerror(err);
  if (!s.registrar.empty() && !s.user.empty()) {
    std::string host = s.registrar;
    if (host.rfind("sip:", 0) == 0) host = host.substr(4);
    host = host.substr(0, host.find_first_of(";?>"));
    aor = "sip:" + s.user + "@" + (s.realm.empty() ? host : s.realm);
    regToken = static_cast<RegToken*>(mem_zalloc(sizeof(RegToken), nullptr));
    if (!regToken) return "SIP registration: out of memory";
    regToken->im = this;
    err = sipreg_register(&reg, sip, s.registrar.c_str(), aor.c_str(), nullptr, aor.c_str(),
                          static_cast<uint32_t>(s.expiryS), s.user.c_str(), nullptr, 0, 0,
                          regAuthHandler, regToken, true, regResponse, this, nullptr, nullptr);
    if (err) return "SIP registration of " + aor + " at " + s.registrar + ": " + std::strerror(err);
  }
  calls.assign(static_cast<size_t>(owner->channels_), nullptr);
  nextTickUs = nowUs() + kTickMs * 1000;  // the first tick's deadline
  tmr_init(&tick);
  tmr_start(&tick, kTickMs, tickHandler, this);
  return {};
}

void SipLines::Impl::tearDown() {
  closing = true;
  tmr_cancel(&tick);
  for (Call* call : calls)
    if (call) destroyCall(call);
  // A session still waiting for its ACK or for the answer to its BYE keeps
  // itself, and with it the SIP socket, alive past the stack: end them all.
  sipsess_close_all(sock);
  sock = static_cast<struct sipsess_sock*>(mem_deref(sock));
  lsnr = static_cast<struct sip_lsnr*>(mem_deref(lsnr));
  unregister();
  regToken = static_cast<RegToken*>(mem_deref(regToken));
  mq = static_cast<struct mqueue*>(mem_deref(mq));
  if (sip) sip_close(sip, true);
  sip = static_cast<struct sip*>(mem_deref(sip));
}

void SipLines::Impl::run(std::promise<std::string>* ready) {
  if (libre_init() != 0) {
    ready->set_value("libre could not start");
    return;
  }
  // libre warns on standard error about every malformed datagram: a flood
  // of them would flood the runtime's output. Errors only, unless tracing.
  dbg_init(std::getenv("OLVARO_SIP_TRACE") ? DBG_WARNING : DBG_ERR, DBG_NONE);
  std::string error = setUp();
  const bool ok = error.empty();
  ready->set_value(error);
  if (ok) re_main(nullptr);
  tearDown();
  libre_close();
}

// ---------------------------------------------------------------------------
// The CTI side, on the caller's thread.

SipLines::SipLines() = default;

SipLines::~SipLines() {
  stop();
}

int SipLines::start(const SipSettings& s, std::string* error) {
  stop();
  {
    std::lock_guard<std::mutex> g(m_);
    const int outer = std::clamp(s.channels, 1, kSipMaxChannels);
    channels_ = std::min(kSipMaxChannels, outer + static_cast<int>(s.extensions.size()));
    chans_.clear();
    chans_.resize(static_cast<size_t>(channels_));
    for (int ch = outer; ch < channels_; ++ch) {
      Chan& c = chans_[static_cast<size_t>(ch)];
      c.inner = true;
      c.extNumber = s.extensions[static_cast<size_t>(ch - outer)].first;
      c.extUri = s.extensions[static_cast<size_t>(ch - outer)].second;
    }
  }
  impl_ = new Impl;
  impl_->owner = this;
  impl_->s = s;
  std::promise<std::string> ready;
  auto result = ready.get_future();
  thread_ = std::thread([this, &ready] { impl_->run(&ready); });
  const std::string err = result.get();
  if (!err.empty()) {
    thread_.join();
    delete impl_;
    impl_ = nullptr;
    std::lock_guard<std::mutex> g(m_);
    channels_ = 0;
    chans_.clear();
    if (error) *error = err;
    return 0;
  }
  return channels_;
}

void SipLines::stop() {
  if (!impl_) return;
  if (thread_.joinable()) {
    mqueue_push(impl_->mq, kMsgQuit, nullptr);
    thread_.join();
  }
  delete impl_;
  impl_ = nullptr;
  std::lock_guard<std::mutex> g(m_);
  for (auto& c : chans_)
    closeRecording(c);
  chans_.clear();
  channels_ = 0;
}

void SipLines::setTable(unsigned char* table) {
  std::lock_guard<std::mutex> g(m_);
  table_ = table;
}

void SipLines::closeRecording(Chan& c) {
  if (c.recFd >= 0) ::close(c.recFd);
  c.recFd = -1;
}

int SipLines::channelType(int ch) const {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch)) return 0;
  return chans_[static_cast<size_t>(ch)].inner ? CHAN_TYPE_INNER : CHAN_TYPE_OUTER;
}

// Also writes the called number of a call being reported into the
// channel's record as its line number: the runtime reads it right after.
int SipLines::outLineStatus(int ch) {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch)) return CTI_OUT_IDLE;
  Chan& c = chans_[static_cast<size_t>(ch)];
  if (c.inner) {
    // An extension receives no calls; its number goes into its record,
    // where the extension call block looks for it.
    if (table_) {
      unsigned char* p = table_ + static_cast<size_t>(ch) * CHAN_RECORD_SIZE + CHAN_OFF_EXTENSION;
      std::memset(p, 0, CHAN_EXTENSION_SIZE);
      std::memcpy(p, c.extNumber.data(),
                  std::min<size_t>(c.extNumber.size(), CHAN_EXTENSION_SIZE - 1));
    }
    return CTI_OUT_IDLE;
  }
  switch (c.state) {
    case State::kIdle:
      return CTI_OUT_IDLE;
    case State::kRinging:
      if (table_) {
        unsigned char* p =
            table_ + static_cast<size_t>(ch) * CHAN_RECORD_SIZE + CHAN_OFF_LINE_NUMBER;
        std::memset(p, 0, CHAN_LINE_NUMBER_SIZE);
        std::memcpy(p, c.called.data(),
                    std::min<size_t>(c.called.size(), CHAN_LINE_NUMBER_SIZE - 1));
      }
      c.reported = true;
      return CTI_OUT_INCOMING;
    case State::kTalking:
    case State::kSeized:
    case State::kDialling:
      return CTI_OUT_TALKING;
    case State::kHungUp:
      return CTI_OUT_HUNG_UP;
  }
  return CTI_OUT_IDLE;
}

// An extension's handset is up while its call is answered; why its last
// ringing failed is told until it is rung again or the ringing is stopped.
int SipLines::inLineStatus(int ch) {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch)) return CTI_IN_HUNG_UP;
  const Chan& c = chans_[static_cast<size_t>(ch)];
  if (!c.inner) return CTI_IN_HUNG_UP;
  if (c.state == State::kTalking) return CTI_IN_OFF_HOOK;
  if (c.state == State::kIdle && c.ringFail) return c.ringFail;
  return CTI_IN_HUNG_UP;
}

std::string SipLines::registeredContact(int ch) const {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch)) return {};
  const Chan& c = chans_[static_cast<size_t>(ch)];
  return c.inner && c.extUri.empty() && c.contactUntilUs > nowUs() ? c.contact : std::string();
}

int SipLines::callInNum(int ch, char* num20) const {
  if (!num20) return -1;
  std::lock_guard<std::mutex> g(m_);
  num20[0] = '\0';
  if (!valid(ch)) return -1;
  const std::string& s = chans_[static_cast<size_t>(ch)].caller;
  const size_t n = std::min<size_t>(s.size(), CHAN_NUMBER_SIZE - 1);
  std::memcpy(num20, s.data(), n);
  num20[n] = '\0';
  return 0;
}

std::string SipLines::calledNumber(int ch) const {
  std::lock_guard<std::mutex> g(m_);
  return valid(ch) ? chans_[static_cast<size_t>(ch)].called : std::string();
}

int SipLines::offHook(int ch) {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch)) return -1;
  Chan& c = chans_[static_cast<size_t>(ch)];
  if (!c.inner && c.state == State::kIdle && impl_) {
    // Seized to dial: no INVITE takes the channel from now on.
    c.state = State::kSeized;
    ++c.seq;
    c.keys.clear();
    c.playing = false;
    c.jitter.reset();
    return 0;
  }
  if (c.state != State::kRinging)
    return c.state == State::kTalking || c.state == State::kSeized || c.state == State::kDialling
               ? 0
               : -1;
  c.state = State::kTalking;
  mqueue_push(impl_->mq, kMsgAnswer, new Msg{ch, c.seq});
  return 0;
}

int SipLines::onHook(int ch) {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch)) return -1;
  Chan& c = chans_[static_cast<size_t>(ch)];
  const int recError = c.recError;
  closeRecording(c);
  c.recError = 0;
  c.playing = false;
  c.keys.clear();
  // The extension this caller talked with is hung up with it.
  if (c.bridge >= 0 && valid(c.bridge)) {
    Chan& peer = chans_[static_cast<size_t>(c.bridge)];
    if (peer.bridge == ch) peer.bridge = -1;
    if (peer.inner && peer.state != State::kIdle) {
      peer.state = State::kIdle;
      mqueue_push(impl_->mq, kMsgHangup, new Msg{c.bridge, peer.seq});
    }
  }
  c.bridge = -1;
  if (c.state != State::kIdle) {
    c.state = State::kIdle;
    mqueue_push(impl_->mq, kMsgHangup, new Msg{ch, c.seq});
  }
  return recError ? -recError : 0;
}

int SipLines::flushKeys(int ch) {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch)) return -1;
  chans_[static_cast<size_t>(ch)].keys.clear();
  return 0;
}

int SipLines::getKey(int ch, int* key) {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch) || !key) return -1;
  Chan& c = chans_[static_cast<size_t>(ch)];
  if (c.keys.empty()) return -1;
  *key = c.keys.front();
  c.keys.pop_front();
  return 0;
}

int SipLines::playFile(int ch, const char* gbkPath) {
  if (!gbkPath) return -1;
  std::vector<uint8_t> voice;
  if (!loadVoiceAlaw(platform::openablePath(gbkPath), &voice)) return -1;
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch)) return -1;
  Chan& c = chans_[static_cast<size_t>(ch)];
  if (c.state != State::kTalking) return -1;
  c.play = std::move(voice);
  c.playPos = 0;
  c.repeat = false;
  c.playing = !c.play.empty();
  return 0;
}

int SipLines::playIndex(int ch, int index, bool repeat) {
  if (index < 0) return -1;
  std::string dir;
  {
    std::lock_guard<std::mutex> g(m_);
    if (!valid(ch) || !impl_) return -1;
    dir = impl_->s.indexDir;
  }
  if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
  std::vector<uint8_t> voice;
  if (!loadVoiceAlaw(platform::openableUtf8Path(dir + std::to_string(index) + ".voc"), &voice))
    return -1;
  std::lock_guard<std::mutex> g(m_);
  Chan& c = chans_[static_cast<size_t>(ch)];
  if (c.state != State::kTalking) return -1;
  c.play = std::move(voice);
  c.playPos = 0;
  c.repeat = repeat;
  c.playing = !c.play.empty();
  return 0;
}

int SipLines::playFinished(int ch) {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch)) return CTI_PLAY_FINISHED;
  const Chan& c = chans_[static_cast<size_t>(ch)];
  if (c.recFd >= 0 && c.recError) return CTI_PLAY_ERROR;
  return c.playing ? CTI_PLAY_PLAYING : CTI_PLAY_FINISHED;
}

int SipLines::stopPlay(int ch) {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch)) return -1;
  chans_[static_cast<size_t>(ch)].playing = false;
  return 0;
}

int SipLines::recordFile(int ch, const char* gbkPath) {
  if (!gbkPath) return -1;
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch)) return -1;
  Chan& c = chans_[static_cast<size_t>(ch)];
  if (c.state != State::kTalking) return -1;
  const int fd = openVoiceFile(platform::openablePath(gbkPath), true);
  if (fd < 0) return -1;
  closeRecording(c);
  c.recFd = fd;
  c.recError = 0;
  return 0;
}

int SipLines::stopRecord(int ch) {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch)) return -1;
  Chan& c = chans_[static_cast<size_t>(ch)];
  const int err = c.recError;
  closeRecording(c);
  c.recError = 0;
  return err ? -err : 0;
}

// Rings an extension: an INVITE to its address, or to the Contact it
// registered; its answer lifts the handset (CTIGetInLineStatus 1), its
// refusal gives 3, an unknown or unregistered user 4.
int SipLines::ringIn(int ch, int) {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch) || !impl_) return -1;
  Chan& c = chans_[static_cast<size_t>(ch)];
  if (!c.inner || c.state != State::kIdle) return -1;
  ++c.seq;
  c.ringFail = 0;
  if (c.extUri.empty() && c.contactUntilUs <= nowUs()) {
    c.contact.clear();  // expired, or never registered
    c.ringFail = CTI_IN_NO_SUCH_EXTENSION;
    return 0;
  }
  c.state = State::kRinging;
  c.jitter.reset();
  mqueue_push(impl_->mq, kMsgRingOut, new Msg{ch, c.seq});
  return 0;
}

// Stops ringing (CANCEL) or ends the extension's call (BYE).
int SipLines::stopRingIn(int ch) {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch) || !impl_) return -1;
  Chan& c = chans_[static_cast<size_t>(ch)];
  if (!c.inner) return -1;
  c.ringFail = 0;
  if (c.bridge >= 0 && valid(c.bridge) && chans_[static_cast<size_t>(c.bridge)].bridge == ch)
    chans_[static_cast<size_t>(c.bridge)].bridge = -1;
  c.bridge = -1;
  if (c.state != State::kIdle) {
    c.state = State::kIdle;
    mqueue_push(impl_->mq, kMsgHangup, new Msg{ch, c.seq});
  }
  return 0;
}

// Talk: each side hears the other, through the media clock here (one
// frame, 20 ms, of added delay), not by re-inviting the ends to each other.
int SipLines::connect(int ch1, int ch2) {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch1) || !valid(ch2) || ch1 == ch2) return -1;
  chans_[static_cast<size_t>(ch1)].bridge = ch2;
  chans_[static_cast<size_t>(ch2)].bridge = ch1;
  return 0;
}

// Dials on a seized outer channel; the SIP thread sends the INVITE.
int SipLines::callOut(int ch, const char* number) {
  if (!number) return -1;
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch) || !impl_) return -1;
  Chan& c = chans_[static_cast<size_t>(ch)];
  if (c.inner || c.state != State::kSeized) return -1;
  const std::string target =
      dialTarget(std::string(number, ::strnlen(number, 300)), impl_->s.registrar);
  if (target.empty()) return -1;
  c.dialUri = target;
  c.state = State::kDialling;
  ++c.seq;
  c.called.clear();
  mqueue_push(impl_->mq, kMsgDialOut, new Msg{ch, c.seq});
  return 0;
}

void SipLines::notify(const std::string& text) const {
  if (notify_)
    notify_(text);
  else
    std::fprintf(stderr, "%s\n", text.c_str());
}

int SipLines::inject(int ch, int key) {
  std::lock_guard<std::mutex> g(m_);
  if (!valid(ch)) return -1;
  Chan& c = chans_[static_cast<size_t>(ch)];
  if (c.state != State::kTalking || c.keys.size() >= kKeyQueueMax) return -1;
  c.keys.push_back(static_cast<char>(key));
  return 0;
}

SendJitter SipLines::sendJitter() const {
  SendJitter j;
  if (!impl_) return j;
  std::lock_guard<std::mutex> g(impl_->statsLock);
  j.intervals = impl_->intervals;
  if (j.intervals == 0) return j;
  j.meanUs = impl_->sum / static_cast<double>(j.intervals);
  j.stddevUs = std::sqrt(
      std::max(0.0, impl_->sumSq / static_cast<double>(j.intervals) - j.meanUs * j.meanUs));
  j.minUs = impl_->minIv;
  j.maxUs = impl_->maxIv;
  return j;
}

}  // namespace hardware
