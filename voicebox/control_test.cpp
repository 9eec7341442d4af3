// The control commands, and the voicebox tool driving the box over its socket.
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "voicebox/control.h"
#include "voicebox/test_box.h"
#include "voicebox/vbox_control.h"

namespace parvane_test {
namespace {

using namespace parvane;

TEST_F(BoxTest, ControlCommands) {
  const struct {
    const char* line;
    bool ok;
    const char* reply;  // all of it; only the start of the status
  } rows[] = {
      {"ring 0 13900001111", true, "ok"},
      {"ring 0 13900001111", false, "error: channel 0 is not an idle line"},
      {"ring 1 123", false, "error: channel 1 is not an idle line"},
      {"ring 2 123", false, "error: no such channel: 2"},
      {"ring x", false, "error: no such channel: x"},
      {"ring 0 123 3 dtmf extra", false, "error: wrong number of arguments for ring"},
      {"keys 0 123#", true, "ok"},
      {"keys 0 12z", false, "error: bad keys: 12z"},
      {"keys 0", false, "error: wrong number of arguments for keys"},
      {"lift 1", true, "ok"},
      {"replace 1", true, "ok"},
      {"tone 0 busy", true, "ok"},
      {"tone 0 loud", false, "error: no such tone: loud"},
      {"advance 250", true, "ok 250 ms"},
      {"advance -1", false, "error: advance MS"},
      {"realtime maybe", false, "error: realtime on|off"},
      {"type 1 3", false, "error: no such type: 3"},
      {"dialled 0", true, "ok"},
      {"frobnicate 1", false, "error: unknown command frobnicate (try --help)"},
      {"", false, "error: no command"},
      {"status", true,
       "ok\ntime 250 ms (by hand)\nchannel 0: line, on hook, call from 13900001111"},
  };
  for (auto& r : rows) {
    bool ok = !r.ok;
    std::string reply = runControlCommand(r.line, ok);
    EXPECT_EQ(ok, r.ok) << r.line;
    if (std::string(r.line) == "status")
      EXPECT_EQ(reply.substr(0, std::strlen(r.reply)), r.reply) << r.line;
    else
      EXPECT_EQ(reply, r.reply) << r.line;
  }
}

TEST_F(BoxTest, ControlCommandsReachTheLibrary) {
  open();
  bool ok;
  runControlCommand("ring 0 13900001111 2 fsk", ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(detectFor(0, 400), std::vector<int>{ZT_EV_RING});
  runControlCommand("keys 0 59", ok);
  detectionStep(0);
  auto ev = drain(0);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(eventText(ev[0]), "59");
  runControlCommand("lift 1", ok);
  EXPECT_EQ(ZT_OffHookDetect(1), 1);
  ZT_StartDial(0, "8123");
  runControlCommand("dialled 0", ok);
  EXPECT_EQ(runControlCommand("dialled 0", ok), "ok");  // read once
  ZT_StartDial(0, "77");
  EXPECT_EQ(runControlCommand("dialled 0", ok), "ok 77");

  // Voice fed in is what a recording gets; voice played is written out.
  const std::string in = "/tmp/parvane_ctl_in_" + std::to_string(::getpid());
  const std::string out = "/tmp/parvane_ctl_out_" + std::to_string(::getpid());
  std::ofstream(in, std::ios::binary) << std::string(800, '\x11');
  RequestBlock b = makeBlock(0, 1, 4096);
  ASSERT_EQ(ask(kReqRecord, b), 0);
  EXPECT_EQ(runControlCommand("feed 1 " + in, ok), "ok 800 bytes");
  runControlCommand("advance 200", ok);  // 1600 bytes: 800 fed, 800 silence
  std::vector<uint8_t> rec(4096);
  b = makeBlock(0, 1, 4096);
  putAddress(b.data(), rec.data());
  ASSERT_EQ(ask(kReqReadRecorded, b), 0);
  ASSERT_EQ(getInt(b.data(), kW2), 1600);
  EXPECT_EQ(rec[799], 0x11);
  EXPECT_EQ(rec[800], 0xD5);

  b = makeBlock(0, 1, 8192);
  ASSERT_EQ(ask(kReqPlay, b), 0);
  std::vector<uint8_t> voice(1000, 0x33);
  b = makeBlock(0, 1, 1000);
  putAddress(b.data(), voice.data());
  ASSERT_EQ(ask(kReqWritePlay, b), 0);
  runControlCommand("advance 100", ok);
  EXPECT_EQ(runControlCommand("played 1 " + out, ok), "ok 800 bytes");
  std::ifstream f(out, std::ios::binary);
  std::string played{std::istreambuf_iterator<char>(f), {}};
  EXPECT_EQ(played, std::string(800, '\x33'));
  ::unlink(in.c_str());
  ::unlink(out.c_str());
}

struct ToolRun {
  int status;
  std::string output;
};

ToolRun runTool(const std::string& args) {
  std::string cmd = std::string(VOICEBOX_TOOL_PATH) + " " + args + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  ToolRun r{-1, {}};
  if (!p) return r;
  char buf[1024];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    r.output.append(buf, n);
  int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

TEST_F(BoxTest, ToolDrivesTheBoxOverItsSocket) {
  const std::string sock = "/tmp/parvane_test_" + std::to_string(::getpid()) + ".sock";
  ::setenv("PARVANE_CONTROL", sock.c_str(), 1);
  open();  // opening the virtual box starts its control socket
  ToolRun r = runTool("--socket " + sock + " ring 0 13900001111");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "ok\n");
  EXPECT_EQ(detectFor(0, 400), std::vector<int>{ZT_EV_RING});
  r = runTool("--socket " + sock + " keys 0 123");
  EXPECT_EQ(r.status, 0) << r.output;
  detectionStep(0);
  auto ev = drain(0);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(eventText(ev[0]), "123");
  // The environment names the socket too.
  r = runTool("lift 1");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ZT_OffHookDetect(1), 1);
  r = runTool("hangup 0");
  EXPECT_EQ(r.status, 0);
  r = runTool("ring 5");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "error: no such channel: 5\n");
  r = runTool("status");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("channel 1: local set, handset up"), std::string::npos) << r.output;

  // A second box cannot take a live socket.
  EXPECT_EQ(VBox_StartControl(sock.c_str()), 0);  // already ours: still listening
  VBox_StopControl();
  r = runTool("--socket " + sock + " status");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("no voice box listens on"), std::string::npos) << r.output;
  ::unsetenv("PARVANE_CONTROL");
}

TEST_F(BoxTest, ReadBackInPieces) {
  open();
  RequestBlock b = makeBlock(0, 0, 8192);
  ASSERT_EQ(ask(kReqPlay, b), 0);
  std::vector<uint8_t> voice(100);
  for (int i = 0; i < 100; ++i)
    voice[i] = static_cast<uint8_t>(i);
  b = makeBlock(0, 0, 100);
  putAddress(b.data(), voice.data());
  ASSERT_EQ(ask(kReqWritePlay, b), 0);
  VBox_Advance(20);
  unsigned char part[60];
  ASSERT_EQ(VBox_ReadPlayed(0, part, 60), 60);
  EXPECT_EQ(part[59], 59);
  ASSERT_EQ(VBox_ReadPlayed(0, part, 60), 40);
  EXPECT_EQ(part[0], 60);
  ZT_StartDial(0, "123456");
  char digits[4];
  EXPECT_EQ(VBox_ReadDialled(0, digits, sizeof digits), 3);
  EXPECT_STREQ(digits, "123");
  EXPECT_EQ(VBox_ReadDialled(0, digits, sizeof digits), 3);
  EXPECT_STREQ(digits, "456");
  char reply[8];
  EXPECT_EQ(VBox_Command("frobnicate", reply, sizeof reply), -1);
  EXPECT_STREQ(reply, "error: ");
}

TEST_F(BoxTest, AStaleSocketIsTakenOver) {
  const std::string sock = "/tmp/parvane_stale_" + std::to_string(::getpid()) + ".sock";
  // A socket file whose box is gone.
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, sock.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(fd);
  ASSERT_EQ(VBox_StartControl(sock.c_str()), 0);
  ToolRun r = runTool("--socket " + sock + " advance 5");
  EXPECT_EQ(r.output, "ok 5 ms\n");
  VBox_StopControl();
  EXPECT_EQ(VBox_StartControl("off"), 1);
}

TEST(VoiceboxTool, HelpAndUsage) {
  ToolRun r = runTool("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("ring CH [NUMBER]"), std::string::npos);
  EXPECT_NE(r.output.find("voicebox ring 0 13900001111"), std::string::npos);
  EXPECT_EQ(runTool("").status, 2);
  EXPECT_EQ(runTool("--frob").status, 2);
}

}  // namespace
}  // namespace parvane_test
