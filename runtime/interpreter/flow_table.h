// The flow table: 1024 flow slots of two banks each, so that a flow can be
// replaced while calls still run on its previous version. A bank is written
// only by the loader and only while no call holds it (use count 0); calls
// take a bank through its use count. The bank bookkeeping (versions, use
// counts, flags) is guarded by one mutex; the block array of a bank never
// changes while a call holds the bank, so calls read it without the lock.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "flowfile/cplformat.h"
#include "flowfile/cplreader.h"

namespace interp {

// One block of a loaded flow: its 548-byte image and a script block's
// instructions (flowfile/cplreader.h).
using FlowBlock = cpl::FlowBlock;

struct FlowBank {
  std::string vocDir;  // voice directory, as configured
  std::string path;    // compiled flow file, as configured
  std::vector<FlowBlock> blocks;
  int32_t blockCount = 0;
  std::array<uint8_t, cpl::kPoolSize> pool{};
  int32_t version = 0;
  int32_t useCount = 0;
  int32_t loaded = 0;
  uint8_t free = 1;
};

struct FlowSlot {
  std::array<FlowBank, 2> banks;
};

inline constexpr int kFlowSlots = 1024;

class FlowTable {
 public:
  FlowTable() : slots_(kFlowSlots) {}

  // Empties every slot: no blocks, versions 0, free flags 1.
  void clear();

  // Takes the current bank of `slot` for a new call: the bank with the higher
  // version (bank 1 on a tie), whose use count rises by one. Returns the bank
  // index, or -1 for a slot outside 0..1023 (no bank, no use count).
  int acquire(int slot);
  // Drops one use of a bank, never below 0.
  void release(int slot, int bank);

  // The bank a call holds. Valid while the call's use count is held.
  const FlowBank& bank(int slot, int bank) const { return slots_[slot].banks[bank]; }

  // Bookkeeping snapshot of one bank, for display and tests.
  struct BankState {
    int32_t version, useCount, loaded, blockCount;
    uint8_t free;
    std::string path, vocDir;
  };
  BankState state(int slot, int bank) const;
  void setFree(int slot, bool free);

  std::mutex& mutex() const { return mu_; }
  // Direct access for the loader, which holds mutex() while it writes.
  FlowSlot& slotLocked(int slot) { return slots_[slot]; }

 private:
  mutable std::mutex mu_;
  std::vector<FlowSlot> slots_;
};

}  // namespace interp
