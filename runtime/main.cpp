// olvaro: the IVR runtime. Without arguments it opens the main window;
// `olvaro --headless` answers calls without a display, printing the trace
// log to standard output.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ini.h"
#include "platform/ticks.h"
#include "runtime/callproc/config.h"
#include "runtime/callproc/keycall.h"
#include "runtime/callproc/reload.h"
#include "runtime/callproc/runtime.h"
#include "runtime/callproc/trace.h"
#include "runtime/cti/hardware_cti.h"
#include "runtime/sim/simulate_command.h"

#ifdef OLVARO_WITH_UI
#include <QApplication>

#include "runtime/ui/browsers.h"
#include "runtime/ui/main_window.h"
#endif

namespace {

const char kUsage[] =
    "Usage: olvaro [--headless]\n"
    "       olvaro simulate SCENARIO [--config PATH] [--junit FILE]\n"
    "The IVR runtime. It reads ./sysconfig.ini from the current directory,\n"
    "initialises the telephone lines (or simulated access), opens the\n"
    "database, loads the configured compiled flows and answers calls on them.\n"
    "\n"
    "Without arguments it opens the main window \"Sarvent V3.0\": the channel\n"
    "panel, the trace log, the settings dialogs and the record browsers.\n"
    "\n"
    "  --headless  run without a window; every trace line goes to standard\n"
    "              output as HH:MM:SS(mmm)=>text. SIGINT or SIGTERM ends it\n"
    "              within two seconds, whatever it is doing. SIGHUP re-reads\n"
    "              [ivrfile] and [ivrtrig] of sysconfig.ini: the flows whose\n"
    "              entry or file changed are loaded beside the running ones\n"
    "              (calls in progress finish on their version, new calls take\n"
    "              the new one), removed entries free their slots, and the\n"
    "              trigger table is replaced.\n"
    "  simulate    run a call scenario on simulated lines in virtual time\n"
    "              (olvaro simulate --help tells more)\n"
    "  -h, --help  show this text\n"
    "\n"
    "Under simulated access ([System] callintype=0) calls are placed with\n"
    "keycall(1) on the UDP port [net] keycallport.\n"
    "Exit status: 0 after a signal, 1 when start-up fails (the database\n"
    "cannot be opened), 2 on bad arguments.\n";

// How long the orderly shutdown after a stop signal may take before the
// process ends regardless (a statement waiting on a lock, a standard output
// nobody reads).
constexpr auto kStopGrace = std::chrono::milliseconds(1700);

// SIGINT and SIGTERM, taken by one thread of their own at any point of the
// program's life, start-up included. The first one calls the stop action
// and wakes wait(); if finished() has not been called within kStopGrace,
// the process ends with the last words of `lastWords`. SIGHUP calls the
// reload action, once start-up has set it.
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    sigaddset(&set_, SIGHUP);
    // Blocked before any other thread starts, so only sigwait sees them.
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
    std::thread([this] { run(); }).detach();
  }

  void setReload(std::function<void()> onReload) {
    std::lock_guard lock(mu_);
    onReload_ = std::move(onReload);
  }
  void setActions(std::function<void()> onStop, std::function<void()> lastWords) {
    std::lock_guard lock(mu_);
    onStop_ = std::move(onStop);
    lastWords_ = std::move(lastWords);
    if (signalled_ && onStop_) onStop_();
  }
  void wait() {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [this] { return signalled_; });
  }
  bool signalled() {
    std::lock_guard lock(mu_);
    return signalled_;
  }
  // The orderly shutdown is done; the actions are not called any more.
  void finished() {
    std::function<void()> a, b, c;  // let go of what they hold outside the lock
    std::lock_guard lock(mu_);
    finished_ = true;
    a.swap(onStop_);
    b.swap(lastWords_);
    c.swap(onReload_);
    cv_.notify_all();
  }

 private:
  void run() {
    int sig = 0;
    for (;;) {
      sigwait(&set_, &sig);
      if (sig != SIGHUP) break;
      std::function<void()> reload;
      {
        std::lock_guard lock(mu_);
        if (signalled_) continue;
        reload = onReload_;
      }
      // Not under the lock: reading the flows may take a while, and a stop
      // signal meanwhile is still taken after it.
      if (reload) reload();
    }
    std::unique_lock lock(mu_);
    signalled_ = true;
    cv_.notify_all();
    if (onStop_) onStop_();
    if (cv_.wait_for(lock, kStopGrace, [this] { return finished_; })) return;
    if (lastWords_) lastWords_();
    _exit(0);
  }

  sigset_t set_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool signalled_ = false, finished_ = false;
  std::function<void()> onStop_, lastWords_, onReload_;
};

void reportLost(callproc::StreamSink& out) {
  out.abandon();
  if (size_t n = out.lost())
    std::fprintf(stderr, "olvaro: %zu trace lines were not written: standard output %s\n", n,
                 out.broken() ? "was closed" : "was not being read");
}

}  // namespace

// Everything the runtime is made of, in the order it is built and the
// reverse of the order it is taken down: shared by the runtime with and
// without its window.
struct RuntimeParts {
  RuntimeParts()
      : ini(iniPath),
        cfg(readConfig(ini, iniPath)),
        trace(platform::SystemClock::instance()),
        rt(hw, platform::SystemClock::instance(), trace),
        keycall(rt),
        reloader(rt) {
    hw.setTrace([this](const std::string& text) { trace.text(text); });
  }
  static callproc::SysConfig readConfig(const platform::IniFile& ini, const std::string& path) {
    if (!ini.exists())
      std::fprintf(stderr, "olvaro: %s not found in %s; every setting takes its default\n",
                   path.c_str(), get_current_dir_name());
    return callproc::readSysConfig(ini);
  }

  const std::string iniPath = "./sysconfig.ini";
  platform::IniFile ini;
  callproc::SysConfig cfg;
  callproc::TraceLog trace;
  cti::HardwareCti hw;
  callproc::Runtime rt;
  callproc::KeyCallReceiver keycall;
  callproc::FlowReloader reloader;
};

// Start-up in its fixed order; once the flows are loaded, the KeyCall
// socket, the scan thread and the reload on SIGHUP.
callproc::StartResult startRuntime(RuntimeParts& p, StopSignals& stopSignals, std::string* error) {
  const callproc::StartResult r = p.rt.start(p.cfg, p.ini, error);
  if (r != callproc::StartResult::kRunning || stopSignals.signalled()) return r;
  p.keycall.open(p.cfg.keycallport, p.cfg.keycalladdr);
  p.keycall.start();
  p.reloader.noteLoaded(p.cfg);
  p.rt.startScanThread();
  stopSignals.setReload([&p] {
    auto& trace = p.trace;
    trace("SIGHUP: re-reading %s", p.iniPath.c_str());
    platform::IniFile fresh(p.iniPath);
    const callproc::SysConfig now = callproc::readSysConfig(fresh);
    for (const auto& w : now.warnings)
      trace("sysconfig.ini: %s", w.c_str());
    if (now.flowCount > callproc::kMaxFlowEntries) {
      trace("SIGHUP: [ivrfile] cnt=%d is more than %d; nothing reloaded", now.flowCount,
            callproc::kMaxFlowEntries);
      return;
    }
    const auto r = p.reloader.reload(now);
    trace("SIGHUP: %d flows to load, %d unchanged, %d removed; %zu triggers", r.loaded, r.unchanged,
          r.freed, now.triggers.size());
  });
  return r;
}

// The runtime without a window, from start-up until a stop signal.
int runHeadless(StopSignals& stopSignals) {
  RuntimeParts p;
  // Shared with the last words, which may still speak while the rest is
  // taken down.
  auto outSink = std::make_shared<callproc::StreamSink>(stdout);
  callproc::StreamSink& out = *outSink;
  p.trace.addSink(&out);
  stopSignals.setActions([&p] { p.rt.requestStop(); }, [outSink] { reportLost(*outSink); });

  std::string error;
  if (startRuntime(p, stopSignals, &error) == callproc::StartResult::kDatabaseFailed) {
    stopSignals.setActions(nullptr, [outSink] { reportLost(*outSink); });
    if (!out.flush(kStopGrace)) reportLost(out);
    p.trace.removeSink(&out);
    std::fprintf(stderr, "olvaro: %s\n", error.c_str());
    return 1;
  }
  // Otherwise it runs on; after a failed flow load it answers no calls, as
  // the log says.

  stopSignals.wait();
  const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
  p.keycall.stop();
  p.rt.stop();
  p.hw.shutdown();
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (!out.flush(std::max(left, std::chrono::milliseconds(0)))) reportLost(out);
  p.trace.removeSink(&out);
  return 0;
}

#ifdef OLVARO_WITH_UI
// The runtime with its main window, until "退出(&X)", the window is closed
// or a stop signal comes.
int runWindow(int argc, char** argv, StopSignals& stopSignals) {
  QApplication app(argc, argv);
  RuntimeParts p;
  ui::TraceQueue queue;
  p.trace.addSink(&queue);
  stopSignals.setActions(
      [&p, &app] {
        p.rt.requestStop();
        QMetaObject::invokeMethod(&app, &QApplication::quit, Qt::QueuedConnection);
      },
      nullptr);
  ui::Asker asker;
  ui::UiContext ctx{p.rt, p.iniPath, p.cfg, &asker, callproc::dbSettingsFrom(p.cfg)};
  ui::MainWindow window(ctx, queue);
  window.setSkin(0);
  window.show();
  std::string error;
  if (startRuntime(p, stopSignals, &error) == callproc::StartResult::kDatabaseFailed)
    asker.inform(&window, QStringLiteral("ERROR"), QString::fromStdString(error));
  const int rc = stopSignals.signalled() ? 0 : app.exec();
  window.hide();
  p.keycall.stop();
  p.rt.stop();
  p.hw.shutdown();
  ui::drainBrowserQueries();
  p.trace.removeSink(&queue);
  return rc;
}
#endif

int main(int argc, char** argv) {
  if (argc > 1 && !std::strcmp(argv[1], "simulate")) return sim::simulateMain(argc - 1, argv + 1);
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
#ifndef OLVARO_WITH_UI
  if (!headless) {
    std::fprintf(stderr, "olvaro: this build has no main window; run 'olvaro --headless'\n");
    return 2;
  }
#endif

  // A reader of standard output that goes away ends the trace output (the
  // write fails with EPIPE), not the runtime.
  signal(SIGPIPE, SIG_IGN);
  // A file-size limit (ulimit -f) fails the recording write with EFBIG,
  // which the record block reports, instead of killing the runtime.
  signal(SIGXFSZ, SIG_IGN);
  StopSignals stopSignals;
  // Everything the runtime made is taken down inside runHeadless, still
  // under the stop deadline: a destructor waiting on a statement cannot hold
  // the process past it.
#ifdef OLVARO_WITH_UI
  if (!headless) {
    const int rc = runWindow(argc, argv, stopSignals);
    stopSignals.finished();
    // The window's libraries keep threads of their own (the lines, the
    // voice box) that outlive main; the process ends here rather than run
    // Qt's static teardown under them.
    std::fflush(nullptr);
    std::_Exit(rc);
  }
  const int rc = runHeadless(stopSignals);
#else
  const int rc = runHeadless(stopSignals);
#endif
  stopSignals.finished();
  return rc;
}
