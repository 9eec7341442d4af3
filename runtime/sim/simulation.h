// The call simulation: the runtime core (configuration, flow and trigger
// tables, scan pass, block handlers, interpreter, database) against the
// simulated lines of the hardware library, on a virtual clock. Each pass
// advances the clock by 50 ms without sleeping, playback lasts as long as
// the voice file does on that clock, and database statements complete
// within the pass that issues them, so a run gives the same trace every
// time and a five-minute call takes milliseconds.
//
// Virtual time starts at 2024-01-01 09:00:00 and the runtime's local time is
// UTC (the process's TZ is set to UTC by `prepareProcess`), so timestamps,
// call identifiers and the flows' date functions are the same on every
// machine.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "runtime/sim/scenario.h"

namespace sim {

// 2024-01-01 09:00:00 UTC.
inline constexpr std::time_t kVirtualStart = 1704099600;
inline constexpr uint32_t kPassMs = 50;

// One step or expectation as the run found it.
struct Check {
  int line = 0;
  std::string what;  // the scenario line
  bool met = false;
  std::string detail;  // why it failed, or what was found
  bool step = false;   // a step or the run itself, not an expectation
};

struct Report {
  std::vector<std::string> trace;  // every line, "HH:MM:SS(mmm)=>text"
  std::vector<Check> checks;       // failed steps and every expectation, in line order
  int callsStarted = 0;
  int callsCompleted = 0;
  uint32_t virtualMs = 0;
  double realSeconds = 0;
  bool startFailed = false;  // the database would not open: nothing ran
  bool allMet() const;
};

// Sets TZ to UTC for the process, so that local time is the same everywhere.
void prepareProcess();

// Runs `scenario` in the current directory, whose sysconfig.ini the hardware
// library reads; the runtime reads `iniPath`.
Report runScenario(const Scenario& scenario, const std::string& iniPath);

// The trace, then the summary, as `olvaro simulate` prints them: nothing in
// it depends on the machine or on real time.
void printReport(const Report& report, std::FILE* out);

// The JUnit XML report: one test case per expectation and per failed step.
std::string junitXml(const Report& report, const std::string& suiteName);

}  // namespace sim
