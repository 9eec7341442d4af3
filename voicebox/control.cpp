#include "voicebox/control.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "voicebox/library.h"
#include "voicebox/vbox_control.h"
#include "voicebox/virtual_box.h"

namespace parvane {

const char* const kControlHelp =
    "  ring CH [NUMBER] [TIMES] [fsk|dtmf]  ring a line TIMES times (5) with a caller ID\n"
    "                                       (FSK after the first ring, or DTMF before it)\n"
    "  keys CH DIGITS                       press keys (0-9 * # A-D) on a channel\n"
    "  lift CH                              lift a local set's handset; on a line the far\n"
    "                                       end answers\n"
    "  replace CH | hangup CH               put a local set's handset down; on a line the\n"
    "                                       far end hangs up\n"
    "  answer CH                            the far end of a line answers\n"
    "  tone CH dial|busy|noanswer|answer|none  the tone the box hears on a line\n"
    "  feed CH FILE                         voice (8000 Hz A-law bytes) heard on a channel\n"
    "  played CH FILE                       write the voice played on a channel to FILE\n"
    "  echo CH PERCENT [DELAY_MS]           the line returns PERCENT of what the channel\n"
    "                                       plays, DELAY_MS (0..100) later; 0 for no echo\n"
    "  dialled CH                           the digits dialled on a channel\n"
    "  fsksent CH                           the FSK bytes sent on a channel, in hex\n"
    "  advance MS                           move device time on by hand\n"
    "  realtime on|off                      let device time run with the clock, or not\n"
    "  type CH 0|1|2                        local set, line or unused\n"
    "  status                               the state of every channel\n";

namespace {

bool parseInt(const std::string& s, long lo, long hi, int& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s.c_str(), &end, 10);
  if (*end || errno || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

bool parseTone(const std::string& s, Tone& t) {
  static const std::pair<const char*, Tone> names[] = {{"dial", Tone::kDial},
                                                       {"busy", Tone::kBusy},
                                                       {"noanswer", Tone::kNoAnswer},
                                                       {"answer", Tone::kAnswer},
                                                       {"none", Tone::kNone}};
  for (auto& [n, v] : names)
    if (s == n) {
      t = v;
      return true;
    }
  return false;
}

bool isNumber(const std::string& s) {
  if (s.empty() || s.size() > 64) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '*' && c != '#') return false;
  return true;
}

}  // namespace

std::string runControlCommand(const std::string& line, bool& ok) {
  std::istringstream in(line);
  std::vector<std::string> w{std::istream_iterator<std::string>(in), {}};
  ok = false;
  auto error = [](const std::string& m) { return "error: " + m; };
  if (w.empty()) return error("no command");
  VirtualBox& box = virtualBox();
  const std::string& cmd = w[0];
  int ch = -1;
  auto needChannel = [&](size_t minArgs, size_t maxArgs) -> std::string {
    if (w.size() < minArgs + 1 || w.size() > maxArgs + 1)
      return "wrong number of arguments for " + cmd;
    if (!parseInt(w[1], 0, kVirtualChannels - 1, ch)) return "no such channel: " + w[1];
    return {};
  };
  // Success says "ok" and what it has to say; failure gives its reason.
  auto done = [&](bool success, const std::string& what) {
    ok = success;
    return success ? "ok" + (what.empty() ? std::string() : " " + what) : error(what);
  };
  auto check = [&](bool success, const std::string& reason) {
    return done(success, success ? std::string() : reason);
  };

  if (cmd == "ring") {
    if (auto e = needChannel(1, 4); !e.empty()) return error(e);
    std::string number;
    int times = 5;
    bool fsk = true;
    for (size_t i = 2; i < w.size(); ++i) {
      if (w[i] == "fsk" || w[i] == "dtmf") {
        fsk = w[i] == "fsk";
      } else if (i == 2 && isNumber(w[i]) && number.empty()) {
        number = w[i];
      } else if (parseInt(w[i], 1, 100, times)) {
      } else {
        return error("bad argument: " + w[i]);
      }
    }
    return check(box.ring(ch, number, times, fsk ? CallerIdMode::kFsk : CallerIdMode::kDtmf),
                 "channel " + std::to_string(ch) + " is not an idle line");
  }
  if (cmd == "keys") {
    if (auto e = needChannel(2, 2); !e.empty()) return error(e);
    return check(box.keys(ch, w[2]), "bad keys: " + w[2]);
  }
  if (cmd == "lift" || cmd == "answer") {
    if (auto e = needChannel(1, 1); !e.empty()) return error(e);
    return check(cmd == "answer" ? box.tone(ch, Tone::kAnswer) : box.lift(ch), "failed");
  }
  if (cmd == "replace" || cmd == "hangup") {
    if (auto e = needChannel(1, 1); !e.empty()) return error(e);
    return check(box.replace(ch), "failed");
  }
  if (cmd == "tone") {
    if (auto e = needChannel(2, 2); !e.empty()) return error(e);
    Tone t;
    if (!parseTone(w[2], t)) return error("no such tone: " + w[2]);
    return check(box.tone(ch, t), "failed");
  }
  if (cmd == "feed") {
    if (auto e = needChannel(2, 2); !e.empty()) return error(e);
    std::ifstream f(w[2], std::ios::binary);
    if (!f) return error("cannot read " + w[2]);
    std::vector<uint8_t> data{std::istreambuf_iterator<char>(f), {}};
    box.feedVoice(ch, data.data(), data.size());
    return done(true, std::to_string(data.size()) + " bytes");
  }
  if (cmd == "echo") {
    if (auto e = needChannel(2, 3); !e.empty()) return error(e);
    int percent = 0, delay = 0;
    if (!parseInt(w[2], 0, 100, percent)) return error("PERCENT is 0..100");
    if (w.size() > 3 && !parseInt(w[3], 0, 100, delay)) return error("DELAY_MS is 0..100");
    std::vector<double> taps;
    if (percent > 0) {
      taps.assign(static_cast<size_t>(delay) * 8 + 1, 0.0);
      taps.back() = percent / 100.0;
    }
    return check(box.setEchoPath(ch, std::move(taps)), "failed");
  }
  if (cmd == "played") {
    if (auto e = needChannel(2, 2); !e.empty()) return error(e);
    std::vector<uint8_t> data = box.takePlayed(ch);
    std::ofstream f(w[2], std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!f) return error("cannot write " + w[2]);
    return done(true, std::to_string(data.size()) + " bytes");
  }
  if (cmd == "dialled") {
    if (auto e = needChannel(1, 1); !e.empty()) return error(e);
    return done(true, box.takeDialled(ch));
  }
  if (cmd == "fsksent") {
    if (auto e = needChannel(1, 1); !e.empty()) return error(e);
    std::string hex;
    char two[4];
    for (uint8_t b : box.takeFskSent(ch)) {
      std::snprintf(two, sizeof two, "%02X", b);
      hex += two;
    }
    return done(true, hex);
  }
  if (cmd == "type") {
    if (auto e = needChannel(2, 2); !e.empty()) return error(e);
    int type;
    if (!parseInt(w[2], 0, 2, type)) return error("no such type: " + w[2]);
    return check(box.setChannelType(ch, type), "failed");
  }
  if (cmd == "advance") {
    int ms;
    if (w.size() != 2 || !parseInt(w[1], 0, 86'400'000, ms)) return error("advance MS");
    box.advanceMs(ms);
    return done(true, std::to_string(box.nowUs() / 1000) + " ms");
  }
  if (cmd == "realtime") {
    if (w.size() != 2 || (w[1] != "on" && w[1] != "off")) return error("realtime on|off");
    box.setRealTime(w[1] == "on");
    return done(true, "");
  }
  if (cmd == "status") {
    ok = true;
    return "ok\n" + box.status();
  }
  return error("unknown command " + cmd + " (try --help)");
}

std::string controlSocketPath(const char* configured) {
  std::string p = configured ? configured : "";
  if (p == "off") return {};
  if (p.empty()) p = "/tmp/parvane-" + std::to_string(::getuid()) + ".sock";
  return p;
}

namespace {

std::mutex g_serverMutex;
NoDestroy<std::thread> g_serverThread;
std::thread& g_server = g_serverThread.get();
std::atomic<bool> g_serverStop{false};
int g_listenFd = -1;
std::string g_serverPath;

void serve(int listenFd) {
  while (!g_serverStop) {
    pollfd p{listenFd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // One command line a connection; a client that says nothing is dropped.
    std::string line;
    char buf[512];
    while (line.size() < 4096 && line.find('\n') == std::string::npos) {
      pollfd q{fd, POLLIN, 0};
      if (::poll(&q, 1, 2000) <= 0) break;
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<size_t>(n));
    }
    line = line.substr(0, line.find('\n'));
    bool ok;
    std::string reply = runControlCommand(line, ok) + "\n";
    [[maybe_unused]] ssize_t w = ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    ::close(fd);
  }
}

}  // namespace
}  // namespace parvane

using namespace parvane;

extern "C" int VBox_Command(const char* line, char* reply, int replySize) {
  bool ok = false;
  std::string r = runControlCommand(line ? line : "", ok);
  if (reply && replySize > 0) {
    size_t n = std::min(r.size(), static_cast<size_t>(replySize - 1));
    std::memcpy(reply, r.data(), n);
    reply[n] = 0;
  }
  return ok ? 0 : -1;
}

extern "C" int VBox_StartControl(const char* path) {
  std::lock_guard lock(g_serverMutex);
  if (g_server.joinable()) return 0;
  std::string p = controlSocketPath(path ? path : std::getenv(VBOX_CONTROL_ENV));
  if (p.empty()) return 1;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (p.size() >= sizeof addr.sun_path) return -1;
  std::memcpy(addr.sun_path, p.c_str(), p.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    // A socket left by a box that is gone may be taken over; a live one not.
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool live =
        probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (probe >= 0) ::close(probe);
    if (live || errno != ECONNREFUSED || ::unlink(p.c_str()) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      return -1;
    }
  }
  if (::listen(fd, 8) != 0) {
    ::close(fd);
    ::unlink(p.c_str());
    return -1;
  }
  g_listenFd = fd;
  g_serverPath = p;
  g_serverStop = false;
  g_server = std::thread(serve, fd);
  return 0;
}

extern "C" void VBox_StopControl(void) {
  std::lock_guard lock(g_serverMutex);
  if (!g_server.joinable()) return;
  g_serverStop = true;
  g_server.join();
  ::close(g_listenFd);
  ::unlink(g_serverPath.c_str());
  g_listenFd = -1;
}

extern "C" int VBox_Ring(int channel, const char* number, int times, int fsk) {
  return virtualBox().ring(channel, number ? number : "", times,
                           fsk ? CallerIdMode::kFsk : CallerIdMode::kDtmf)
             ? 0
             : -1;
}
extern "C" int VBox_Lift(int channel) {
  return virtualBox().lift(channel) ? 0 : -1;
}
extern "C" int VBox_Replace(int channel) {
  return virtualBox().replace(channel) ? 0 : -1;
}
extern "C" int VBox_Keys(int channel, const char* digits) {
  return digits && virtualBox().keys(channel, digits) ? 0 : -1;
}
extern "C" int VBox_Tone(int channel, const char* tone) {
  Tone t;
  return tone && parseTone(tone, t) && virtualBox().tone(channel, t) ? 0 : -1;
}
extern "C" int VBox_FeedVoice(int channel, const unsigned char* data, int length) {
  if (!data || length < 0) return -1;
  return virtualBox().feedVoice(channel, data, static_cast<size_t>(length)) ? 0 : -1;
}
extern "C" int VBox_ReadPlayed(int channel, unsigned char* buffer, int size) {
  if (!buffer || size < 0) return -1;
  auto d = virtualBox().takePlayed(channel, static_cast<size_t>(size));
  if (!d.empty()) std::memcpy(buffer, d.data(), d.size());  // an empty one has no data
  return static_cast<int>(d.size());
}
extern "C" int VBox_ReadDialled(int channel, char* buffer, int size) {
  if (!buffer || size <= 0) return -1;
  auto d = virtualBox().takeDialled(channel, static_cast<size_t>(size - 1));
  if (!d.empty()) std::memcpy(buffer, d.data(), d.size());  // an empty one has no data
  buffer[d.size()] = 0;
  return static_cast<int>(d.size());
}
extern "C" int VBox_ReadFskSent(int channel, unsigned char* buffer, int size) {
  if (!buffer || size < 0) return -1;
  auto d = virtualBox().takeFskSent(channel, static_cast<size_t>(size));
  if (!d.empty()) std::memcpy(buffer, d.data(), d.size());  // an empty one has no data
  return static_cast<int>(d.size());
}
extern "C" int VBox_Advance(int milliseconds) {
  if (milliseconds < 0) return -1;
  virtualBox().advanceMs(milliseconds);
  return 0;
}
extern "C" int VBox_SetRealTime(int on) {
  virtualBox().setRealTime(on != 0);
  return 0;
}
extern "C" long long VBox_NowMs(void) {
  return virtualBox().nowUs() / 1000;
}
extern "C" int VBox_SetChannelType(int channel, int type) {
  return virtualBox().setChannelType(channel, type) ? 0 : -1;
}
