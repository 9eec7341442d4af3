#include "runtime/sim/simulate_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/sim/scenario.h"
#include "runtime/sim/simulation.h"

namespace sim {

namespace {

const char kUsage[] =
    "Usage: olvaro simulate SCENARIO [--config PATH] [--junit FILE]\n"
    "Runs the calls of SCENARIO through the flows of the configuration on\n"
    "simulated lines and a virtual clock (50 ms a scan pass, no sleeping),\n"
    "then prints the trace with virtual timestamps and a summary of the\n"
    "expectations. Virtual time starts at 2024-01-01 09:00:00 UTC.\n"
    "\n"
    "  --config PATH  the configuration: a sysconfig.ini or its folder\n"
    "                 (default ./sysconfig.ini); the run happens in that\n"
    "                 folder, with [System] callintype=0\n"
    "  --junit FILE   also write a JUnit XML report\n"
    "\n"
    "Exit status: 0 when every expectation holds, 1 when one fails (or the\n"
    "database would not open), 2 on bad arguments or a bad scenario line.\n";

std::string absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char* cwd = get_current_dir_name();
  std::string out = std::string(cwd ? cwd : ".") + "/" + path;
  std::free(cwd);
  return out;
}

}  // namespace

int simulateMain(int argc, char** argv) {
  std::string scenarioPath, configPath = "sysconfig.ini", junitPath;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if ((a == "--config" || a == "--junit") && i + 1 < argc) {
      (a == "--config" ? configPath : junitPath) = argv[++i];
    } else if (!a.empty() && a[0] != '-' && scenarioPath.empty()) {
      scenarioPath = a;
    } else {
      std::fprintf(stderr, "olvaro simulate: unexpected argument '%s'\n\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (scenarioPath.empty()) {
    std::fprintf(stderr, "olvaro simulate: no scenario file\n\n%s", kUsage);
    return 2;
  }

  std::ifstream in(scenarioPath, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "olvaro simulate: cannot read %s\n", scenarioPath.c_str());
    return 2;
  }
  std::stringstream text;
  text << in.rdbuf();
  Scenario scenario;
  ParseError error;
  if (!parseScenario(text.str(), &scenario, &error)) {
    std::fprintf(stderr, "%s:%d: %s\n", scenarioPath.c_str(), error.line, error.message.c_str());
    return 2;
  }

  junitPath = absolute(junitPath);
  // The simulated lines read sysconfig.ini from the working directory, so
  // the configuration is a file of that name, or a folder holding one, and
  // the run happens beside it.
  std::string config = absolute(configPath);
  struct stat st {};
  if (stat(config.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) config += "/sysconfig.ini";
  const size_t slash = config.rfind('/');
  if (config.substr(slash + 1) != "sysconfig.ini") {
    std::fprintf(stderr,
                 "olvaro simulate: --config names a file called sysconfig.ini or its folder, "
                 "not %s\n",
                 configPath.c_str());
    return 2;
  }
  const std::string dir = config.substr(0, slash == 0 ? 1 : slash);
  if (chdir(dir.c_str()) != 0) {
    std::fprintf(stderr, "olvaro simulate: cannot enter %s: %s\n", dir.c_str(),
                 std::strerror(errno));
    return 2;
  }
  if (access(config.c_str(), R_OK) != 0) {
    std::fprintf(stderr, "olvaro simulate: cannot read %s\n", config.c_str());
    return 2;
  }

  prepareProcess();
  const Report report = runScenario(scenario, config);
  printReport(report, stdout);
  std::fflush(stdout);
  // Real time differs from run to run, so it stays out of standard output.
  std::fprintf(stderr, "olvaro simulate: %d calls completed, %.3f s virtual in %.3f s real\n",
               report.callsCompleted, report.virtualMs / 1000.0, report.realSeconds);
  if (!junitPath.empty()) {
    std::string name = scenarioPath.substr(scenarioPath.rfind('/') + 1);
    std::ofstream j(junitPath, std::ios::binary | std::ios::trunc);
    j << junitXml(report, name);
    if (!j.flush()) {
      std::fprintf(stderr, "olvaro simulate: cannot write %s\n", junitPath.c_str());
      return 1;
    }
  }
  return report.allMet() ? 0 : 1;
}

}  // namespace sim
