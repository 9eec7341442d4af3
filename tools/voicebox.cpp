// voicebox: sends one control command to the virtual voice box of a running
// program (olvaro, a test) over its local socket and prints the reply.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "voicebox/control.h"
#include "voicebox/vbox_control.h"

namespace {

void usage(FILE* out) {
  std::fprintf(out,
               "usage: voicebox [--socket PATH] COMMAND [ARGUMENTS]\n"
               "Drives the virtual voice box of the program that opened the voice-box library.\n"
               "The socket is PATH, else $%s, else /tmp/parvane-<uid>.sock.\n\n"
               "Commands:\n%s\n"
               "Examples: voicebox ring 0 13900001111; voicebox keys 0 123; voicebox hangup 0;\n"
               "          voicebox lift 1\n",
               VBOX_CONTROL_ENV, parvane::kControlHelp);
}

}  // namespace

int main(int argc, char** argv) {
  std::string configured;
  if (const char* env = std::getenv(VBOX_CONTROL_ENV)) configured = env;
  int i = 1;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      usage(stdout);
      return 0;
    }
    if (a == "--socket" && i + 1 < argc) {
      configured = argv[++i];
      continue;
    }
    if (a.rfind("--", 0) == 0) {
      std::fprintf(stderr, "voicebox: unknown option %s (try --help)\n", a.c_str());
      return 2;
    }
    break;
  }
  if (i >= argc) {
    usage(stderr);
    return 2;
  }
  std::string line;
  for (; i < argc; ++i)
    line += std::string(line.empty() ? "" : " ") + argv[i];
  if (line.find('\n') != std::string::npos) {
    std::fprintf(stderr, "voicebox: a command is one line\n");
    return 2;
  }

  std::string path = parvane::controlSocketPath(configured.c_str());
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    std::fprintf(stderr, "voicebox: no usable control socket path\n");
    return 2;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::fprintf(stderr, "voicebox: no voice box listens on %s: %s\n", path.c_str(),
                 std::strerror(errno));
    return 1;
  }
  line += "\n";
  if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    std::fprintf(stderr, "voicebox: cannot send to %s\n", path.c_str());
    return 1;
  }
  std::string reply;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0)
    reply.append(buf, static_cast<size_t>(n));
  ::close(fd);
  if (reply.empty()) {
    std::fprintf(stderr, "voicebox: no reply from %s\n", path.c_str());
    return 1;
  }
  bool ok = reply.rfind("ok", 0) == 0;
  std::fputs(reply.c_str(), ok ? stdout : stderr);
  return ok ? 0 : 1;
}
