#include "runtime/callproc/reload.h"

#include <sys/stat.h>

#include <set>

#include "platform/winpath.h"

namespace callproc {

FlowReloader::Loaded FlowReloader::describe(const FlowEntry& e) {
  Loaded l{e.file, e.vocDir};
  struct stat st {};
  if (::stat(platform::openableUtf8Path(e.file).c_str(), &st) == 0) {
    l.size = static_cast<long long>(st.st_size);
    l.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  }
  return l;
}

void FlowReloader::noteLoaded(const SysConfig& cfg) {
  std::set<int> holding;
  for (const FlowUsage& u : rt_.snapshot()->flows)
    holding.insert(u.slot);
  std::lock_guard lock(mu_);
  loaded_.clear();
  // An entry that failed to load has no reference: the next reload tries it.
  for (const FlowEntry& e : cfg.flows)
    if (holding.count(e.slot)) loaded_[e.slot] = describe(e);
}

FlowReloader::Outcome FlowReloader::reload(const SysConfig& cfg) {
  std::lock_guard lock(mu_);
  Outcome out;
  std::set<int> configured;
  for (const FlowEntry& e : cfg.flows) {
    configured.insert(e.slot);
    const Loaded now = describe(e);
    auto it = loaded_.find(e.slot);
    if (it != loaded_.end() && it->second == now) {
      ++out.unchanged;
      continue;
    }
    // A slot whose load fails loses its reference, so that the next reload
    // tries it again.
    rt_.post(readFlowForSlot(e.slot, e.file, e.vocDir, [this, slot = e.slot](int code) {
      if (code == 0) return;
      std::lock_guard lock(mu_);
      loaded_.erase(slot);
    }));
    loaded_[e.slot] = now;
    ++out.loaded;
  }
  for (auto it = loaded_.begin(); it != loaded_.end();) {
    if (configured.count(it->first)) {
      ++it;
      continue;
    }
    rt_.post(FreeSlot{it->first});
    it = loaded_.erase(it);
    ++out.freed;
  }
  rt_.post(ReplaceTriggers{triggerTable(cfg, rt_.trace())});
  return out;
}

}  // namespace callproc
