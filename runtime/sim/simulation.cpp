#include "runtime/sim/simulation.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>

#include "hardware/hardware.h"
#include "platform/gbk.h"
#include "platform/ini.h"
#include "platform/ticks.h"
#include "runtime/callproc/config.h"
#include "runtime/callproc/database.h"
#include "runtime/callproc/runtime.h"
#include "runtime/callproc/trace.h"
#include "runtime/cti/hardware_cti.h"
#include "runtime/interpreter/registers.h"

namespace sim {

namespace {

// Keeps every finished line in order.
class CollectSink : public callproc::TraceSink {
 public:
  void write(std::string_view line) override {
    std::lock_guard lock(mu_);
    lines_.emplace_back(line);
  }
  size_t size() {
    std::lock_guard lock(mu_);
    return lines_.size();
  }
  // True when a line from `from` on holds `text` in its text part.
  bool holds(size_t from, const std::string& text) {
    std::lock_guard lock(mu_);
    for (size_t i = from; i < lines_.size(); ++i)
      if (callproc::traceText(lines_[i]).find(text) != std::string_view::npos) return true;
    return false;
  }
  std::vector<std::string> take() {
    std::lock_guard lock(mu_);
    return std::move(lines_);
  }

 private:
  std::mutex mu_;
  std::vector<std::string> lines_;
};

unsigned int virtualTicks(void* clock) {
  return static_cast<platform::FakeClock*>(clock)->ticks();
}

// Gives the hardware library the virtual clock for as long as the run lasts.
class HardwareClock {
 public:
  explicit HardwareClock(platform::FakeClock& clock) {
    HardwareSetSimulationClock(&virtualTicks, &clock);
  }
  ~HardwareClock() { HardwareSetSimulationClock(nullptr, nullptr); }
};

std::string seconds(uint32_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%u.%03u", ms / 1000, ms % 1000);
  return buf;
}

std::string registerText(const interp::Registers& r, char type, int i) {
  char buf[64];
  switch (type) {
    case 'I':
      return std::to_string(r.I[i]);
    case 'F':
      std::snprintf(buf, sizeof buf, "%.15g", r.F[i]);
      return buf;
    case 'T': {
      std::time_t t = r.T[i];
      std::tm tm{};
      localtime_r(&t, &tm);
      std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
      return buf;
    }
    default:
      return platform::gbkToUtf8(r.S[i]);
  }
}

bool registerHolds(const interp::Registers& r, char type, int i, const std::string& want) {
  if (type == 'F') {
    char* end = nullptr;
    const double v = std::strtod(want.c_str(), &end);
    if (end && *end == '\0' && end != want.c_str())
      return v == r.F[i] || std::fabs(v - r.F[i]) <= 1e-9 * std::max(1.0, std::fabs(v));
  }
  return registerText(r, type, i) == want;
}

class Run {
 public:
  Run(const Scenario& sc, const std::string& iniPath)
      : sc_(sc),
        iniPath_(iniPath),
        clock_(0x10000, kVirtualStart),
        trace_(clock_),
        hwClock_(clock_),
        rt_(hw_, clock_, trace_) {
    trace_.addSink(&sink_);
    hw_.setTrace([this](const std::string& text) { trace_.text(text); });
    rt_.setDatabaseInline(true);
    rt_.setSleeper([this](int ms) { clock_.advance(static_cast<uint32_t>(ms)); });
    rt_.setResetObserver([this](int c, bool inCall) {
      if (!inCall) return;
      ++report_.callsCompleted;
      lastRegs_[c] = rt_.channels().regs(c);
    });
  }
  ~Run() { trace_.removeSink(&sink_); }

  Report go() {
    const auto realStart = std::chrono::steady_clock::now();
    platform::IniFile ini(iniPath_);
    callproc::SysConfig cfg = callproc::readSysConfig(ini);
    // The run's output is its trace: every line is shown.
    cfg.messageshow = 1;
    if (cfg.callintype != 0) {
      report_.startFailed = true;
      report_.checks.push_back(
          {0, "start", false,
           "the configuration is not for simulated access ([System] callintype=0)", true});
      report_.trace = sink_.take();
      return std::move(report_);
    }
    std::string error;
    if (rt_.start(cfg, ini, &error) == callproc::StartResult::kDatabaseFailed) {
      trace_("%s", error.c_str());
      report_.startFailed = true;
      report_.checks.push_back({0, "start", false, "the database would not open: " + error, true});
    } else {
      rt_.prepareChannels();
      steps();
      finish();
      expectations();
    }
    std::stable_sort(report_.checks.begin(), report_.checks.end(),
                     [](const Check& a, const Check& b) { return a.line < b.line; });
    report_.virtualMs = elapsed();
    report_.trace = sink_.take();
    report_.realSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();
    return std::move(report_);
  }

 private:
  uint32_t elapsed() const { return passes_ * kPassMs; }
  void pass() {
    clock_.advance(kPassMs);
    ++passes_;
    rt_.scanPass();
  }
  // Runs passes until virtual time `ms`; false when the limit came first.
  bool runUntil(uint32_t ms) {
    while (elapsed() < ms) {
      if (elapsed() >= sc_.limitMs) return false;
      pass();
    }
    return true;
  }
  void failStep(const Step& s, std::string detail) {
    report_.checks.push_back({s.line, lineText(s.line), false, std::move(detail), true});
  }
  std::string lineText(int line) const {
    for (const Step& s : sc_.steps)
      if (s.line == line) return describe(s);
    return {};
  }
  static std::string describe(const Step& s) {
    switch (s.kind) {
      case Step::kCall:
        return "call " + std::to_string(s.channel) + " " + s.text;
      case Step::kKeys:
        return "keys " + std::to_string(s.channel) + " " + s.text;
      case Step::kHangup:
        return "hangup " + std::to_string(s.channel);
      case Step::kLift:
        return "lift " + std::to_string(s.channel);
      case Step::kPutDown:
        return "putdown " + std::to_string(s.channel);
      case Step::kWait:
        return "wait \"" + s.text + "\" " + seconds(s.timeMs);
    }
    return {};
  }

  void steps() {
    uint32_t stepEnd = 0;
    for (const Step& s : sc_.steps) {
      if (s.kind == Step::kWait) {
        const size_t from = sink_.size();
        const uint64_t deadline = uint64_t{elapsed()} + s.timeMs;
        bool seen = false;
        while (!(seen = sink_.holds(from, s.text)) && elapsed() < deadline &&
               elapsed() < sc_.limitMs)
          pass();
        if (!seen) failStep(s, "no line holding the text by " + seconds(elapsed()) + " s");
        stepEnd = elapsed();
        continue;
      }
      const uint32_t at = s.relative ? stepEnd + s.timeMs : s.timeMs;
      if (!runUntil(at)) {
        failStep(s, "the limit of " + seconds(sc_.limitMs) + " s came first");
        stepEnd = elapsed();
        continue;
      }
      act(s);
      stepEnd = elapsed();
    }
  }

  void act(const Step& s) {
    if (s.channel >= rt_.channelCount()) {
      failStep(s, "the configuration has no channel " + std::to_string(s.channel));
      return;
    }
    // A call or a hang-up on an extension would lift or replace its handset:
    // say so rather than run something else than the author meant.
    const bool inner = rt_.cti().CTIGetChannelType(s.channel) == CHAN_TYPE_INNER;
    if (inner && (s.kind == Step::kCall || s.kind == Step::kHangup)) {
      failStep(s, "channel " + std::to_string(s.channel) + " is an extension: use lift or putdown");
      return;
    }
    if (!inner && (s.kind == Step::kLift || s.kind == Step::kPutDown)) {
      failStep(s, "channel " + std::to_string(s.channel) + " is no extension: use call or hangup");
      return;
    }
    callproc::KeyCallEvent e;
    e.channel = s.channel;
    switch (s.kind) {
      case Step::kCall:
        e.kind = callproc::KeyCallEvent::kBegin;
        e.caller = platform::utf8ToGbk(s.text);
        ++report_.callsStarted;
        break;
      case Step::kLift:
        e.kind = callproc::KeyCallEvent::kBegin;
        break;
      case Step::kHangup:
      case Step::kPutDown:
        e.kind = callproc::KeyCallEvent::kEnd;
        break;
      case Step::kKeys:
        for (char k : s.text) {
          e.kind = callproc::KeyCallEvent::kKey;
          e.key = k;
          rt_.post(e);
        }
        return;
      case Step::kWait:
        return;
    }
    rt_.post(e);
  }

  // After the last step the run goes on until every channel waits for a
  // call again (the flows have ended), or the limit.
  void finish() {
    pass();  // what the last step posted is taken
    while (!idle()) {
      if (elapsed() >= sc_.limitMs) {
        report_.checks.push_back(
            {1 << 30, "end", false,
             "channels still in a call at the limit of " + seconds(sc_.limitMs) + " s", true});
        return;
      }
      pass();
    }
  }
  bool idle() {
    for (int c = 0; c < rt_.channelCount(); ++c)
      if (rt_.cti().CTIGetChannelType(c) == CHAN_TYPE_OUTER &&
          rt_.channels().current(c).kind() != cpl::kKindWaitCall)
        return false;
    return true;
  }

  void expectations() {
    for (const Expectation& e : sc_.expectations) {
      Check ch{e.line, e.source, false, {}};
      switch (e.kind) {
        case Expectation::kLine:
          ch.met = sink_.holds(0, e.text);
          if (!ch.met) ch.detail = "no line holds the text";
          break;
        case Expectation::kNoLine:
          ch.met = !sink_.holds(0, e.text);
          if (!ch.met) ch.detail = "a line holds the text";
          break;
        case Expectation::kReg: {
          if (e.channel >= rt_.channelCount()) {
            ch.detail = "the configuration has no channel " + std::to_string(e.channel);
            break;
          }
          const interp::Registers& r =
              lastRegs_.count(e.channel) ? lastRegs_[e.channel] : rt_.channels().regs(e.channel);
          ch.met = registerHolds(r, e.regType, e.regIndex, e.value);
          if (!ch.met) ch.detail = "it holds \"" + registerText(r, e.regType, e.regIndex) + "\"";
          break;
        }
        case Expectation::kSql: {
          callproc::Database* db = rt_.database();
          callproc::Database::Result rows;
          callproc::DbError err;
          if (!db || !db->query(platform::utf8ToGbk(e.text), &rows, &err)) {
            ch.detail = "the statement failed: " + platform::gbkToUtf8(err.message);
            break;
          }
          if (rows.rows.empty() || rows.rows[0].empty()) {
            ch.detail = "no rows";
            break;
          }
          const std::string got = platform::gbkToUtf8(rows.rows[0][0].text);
          ch.met = got == e.value;
          if (!ch.met) ch.detail = "it gives \"" + got + "\"";
          break;
        }
        case Expectation::kCalls:
          ch.met = std::to_string(report_.callsCompleted) == e.value;
          if (!ch.met) ch.detail = std::to_string(report_.callsCompleted) + " calls ended";
          break;
      }
      report_.checks.push_back(std::move(ch));
    }
  }

  const Scenario& sc_;
  std::string iniPath_;
  platform::FakeClock clock_;
  callproc::TraceLog trace_;
  CollectSink sink_;
  HardwareClock hwClock_;
  cti::HardwareCti hw_;
  callproc::Runtime rt_;
  uint32_t passes_ = 0;
  std::map<int, interp::Registers> lastRegs_;
  Report report_;
};

std::string xmlEscape(const std::string& s) {
  std::string out;
  for (char ch : s) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        // Control characters other than tab and line end are not XML.
        if (static_cast<unsigned char>(ch) < 0x20 && ch != '\t' && ch != '\n')
          out += '?';
        else
          out += ch;
    }
  }
  return out;
}

}  // namespace

bool Report::allMet() const {
  return std::all_of(checks.begin(), checks.end(), [](const Check& c) { return c.met; });
}

void prepareProcess() {
  setenv("TZ", "UTC", 1);
  tzset();
}

Report runScenario(const Scenario& scenario, const std::string& iniPath) {
  return Run(scenario, iniPath).go();
}

void printReport(const Report& report, std::FILE* out) {
  for (const std::string& line : report.trace) {
    std::fputs(line.c_str(), out);
    std::fputc('\n', out);
  }
  int met = 0, failed = 0, stepsFailed = 0;
  for (const Check& c : report.checks) {
    if (c.step)
      stepsFailed += c.met ? 0 : 1;
    else
      (c.met ? met : failed)++;
  }
  std::fprintf(out, "==== summary\n");
  for (const Check& c : report.checks) {
    if (c.met) continue;
    if (c.line > 0 && c.line < (1 << 30))
      std::fprintf(out, "FAILED line %d: %s: %s\n", c.line, c.what.c_str(), c.detail.c_str());
    else
      std::fprintf(out, "FAILED %s: %s\n", c.what.c_str(), c.detail.c_str());
  }
  std::fprintf(out, "expectations: %d met, %d failed\n", met, failed);
  if (stepsFailed) std::fprintf(out, "steps failed: %d\n", stepsFailed);
  std::fprintf(out, "calls: %d started, %d completed\n", report.callsStarted,
               report.callsCompleted);
  std::fprintf(out, "virtual time: %s s\n", seconds(report.virtualMs).c_str());
}

std::string junitXml(const Report& report, const std::string& suiteName) {
  int failures = 0;
  for (const Check& c : report.checks)
    failures += c.met ? 0 : 1;
  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  char buf[160];
  std::snprintf(buf, sizeof buf, "<testsuite tests=\"%zu\" failures=\"%d\" time=\"%s\"",
                report.checks.size(), failures, seconds(report.virtualMs).c_str());
  x += buf;
  x += " name=\"" + xmlEscape(suiteName) + "\">\n";
  for (const Check& c : report.checks) {
    std::string name =
        c.line > 0 && c.line < (1 << 30) ? "line " + std::to_string(c.line) + ": " : std::string();
    name += c.what;
    x += "  <testcase classname=\"" + xmlEscape(suiteName) + "\" name=\"" + xmlEscape(name) + "\"";
    if (c.met) {
      x += "/>\n";
    } else {
      x += ">\n    <failure message=\"" + xmlEscape(c.detail) + "\"/>\n  </testcase>\n";
    }
  }
  x += "  <system-out>";
  for (const std::string& line : report.trace)
    x += xmlEscape(line) + "\n";
  x += "</system-out>\n</testsuite>\n";
  return x;
}

}  // namespace sim
