// olvaro: the IVR runtime. `olvaro --headless` answers calls without a
// display, printing the trace log to standard output.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/ini.h"
#include "platform/ticks.h"
#include "runtime/callproc/config.h"
#include "runtime/callproc/keycall.h"
#include "runtime/callproc/runtime.h"
#include "runtime/callproc/trace.h"
#include "runtime/cti/hardware_cti.h"

namespace {

const char kUsage[] =
    "Usage: olvaro --headless\n"
    "The IVR runtime. It reads ./sysconfig.ini from the current directory,\n"
    "initialises the telephone lines (or simulated access), opens the\n"
    "database, loads the configured compiled flows and answers calls on them.\n"
    "\n"
    "  --headless  run without a window; every trace line goes to standard\n"
    "              output as HH:MM:SS(mmm)=>text. SIGINT or SIGTERM ends it.\n"
    "  -h, --help  show this text\n"
    "\n"
    "Under simulated access ([System] callintype=0) calls are placed with\n"
    "keycall(1) on the UDP port [net] keycallport.\n"
    "Exit status: 0 after a signal, 1 when start-up fails (the database\n"
    "cannot be opened), 2 on bad arguments.\n";

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--headless")) {
      headless = true;
      continue;
    }
    std::fprintf(stderr, "olvaro: unknown argument '%s'\n\n%s", argv[i], kUsage);
    return 2;
  }
  if (!headless) {
    std::fprintf(stderr, "olvaro: this build has no main window yet; run 'olvaro --headless'\n");
    return 2;
  }

  // Signals are taken by sigwait below, never by the worker threads.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  const std::string iniPath = "./sysconfig.ini";
  platform::IniFile ini(iniPath);
  if (!ini.exists())
    std::fprintf(stderr, "olvaro: %s not found in %s; every setting takes its default\n",
                 iniPath.c_str(), get_current_dir_name());
  callproc::SysConfig cfg = callproc::readSysConfig(ini);

  platform::Clock& clock = platform::SystemClock::instance();
  callproc::TraceLog trace(clock);
  callproc::StreamSink out(stdout);
  trace.addSink(&out);
  cti::HardwareCti hw;
  hw.setTrace([&trace](const std::string& text) { trace.text(text); });
  callproc::Runtime rt(hw, clock, trace);
  callproc::KeyCallReceiver keycall(rt);

  std::string error;
  switch (rt.start(cfg, ini, &error)) {
    case callproc::StartResult::kDatabaseFailed:
      out.flush();
      std::fprintf(stderr, "olvaro: %s\n", error.c_str());
      return 1;
    case callproc::StartResult::kFlowsFailed:
      break;  // runs on, answering no calls, as the log says
    case callproc::StartResult::kRunning:
      keycall.open(cfg.keycallport, cfg.keycalladdr);
      keycall.start();
      rt.startScanThread();
      break;
  }

  int sig = 0;
  sigwait(&stopSignals, &sig);
  keycall.stop();
  rt.stop();
  out.flush();
  trace.removeSink(&out);
  return 0;
}
