// Re-reading the flow and trigger configuration while calls run (SIGHUP for
// `olvaro --headless`, as daemons are reloaded): the slots whose entry or
// file changed are read and parsed on the calling thread, then handed to the
// scan thread, which puts each beside its running version by the two-bank
// rule; calls in progress finish on their version, new calls take the new
// one.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "runtime/callproc/config.h"
#include "runtime/callproc/runtime.h"

namespace callproc {

class FlowReloader {
 public:
  explicit FlowReloader(Runtime& rt) : rt_(rt) {}

  // What start-up loaded: the reference that later reloads compare with.
  void noteLoaded(const SysConfig& cfg);

  struct Outcome {
    int loaded = 0;     // slots whose entry or file changed, posted for loading
    int unchanged = 0;  // slots left as they are
    int freed = 0;      // slots no longer configured
  };
  // Compares `cfg` with what was loaded last and posts the commands: a load
  // for every changed slot, a free for every slot that is gone, and the new
  // trigger table. Any thread but the scan thread's own pass.
  Outcome reload(const SysConfig& cfg);

 private:
  // An entry as loaded, and its file as it was then.
  struct Loaded {
    std::string path, vocDir;
    long long size = -1, mtimeNs = -1;
    bool operator==(const Loaded&) const = default;
  };
  static Loaded describe(const FlowEntry& e);

  Runtime& rt_;
  std::mutex mu_;                 // the scan thread drops a reference when its load fails
  std::map<int, Loaded> loaded_;  // by slot
};

}  // namespace callproc
