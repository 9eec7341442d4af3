#include "runtime/interpreter/flow_table.h"

namespace interp {

void FlowTable::clear() {
  std::lock_guard lock(mu_);
  for (auto& s : slots_)
    for (auto& b : s.banks) {
      b.blocks.clear();
      b.blockCount = 0;
      b.version = 0;
      b.loaded = 0;
      b.free = 1;
    }
}

int FlowTable::acquire(int slot) {
  if (slot < 0 || slot >= kFlowSlots) return -1;
  std::lock_guard lock(mu_);
  auto& s = slots_[slot];
  int k = s.banks[0].version > s.banks[1].version ? 0 : 1;
  ++s.banks[k].useCount;
  return k;
}

void FlowTable::release(int slot, int bank) {
  if (slot < 0 || slot >= kFlowSlots || bank < 0 || bank > 1) return;
  std::lock_guard lock(mu_);
  auto& b = slots_[slot].banks[bank];
  if (b.useCount > 0) --b.useCount;
}

FlowTable::BankState FlowTable::state(int slot, int bank) const {
  std::lock_guard lock(mu_);
  const auto& b = slots_[slot].banks[bank];
  return {b.version, b.useCount, b.loaded, b.blockCount, b.free, b.path, b.vocDir};
}

void FlowTable::setFree(int slot, bool free) {
  if (slot < 0 || slot >= kFlowSlots) return;
  std::lock_guard lock(mu_);
  for (auto& b : slots_[slot].banks)
    b.free = free ? 1 : 0;
}

}  // namespace interp
