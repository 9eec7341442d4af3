#include "runtime/interpreter/loader.h"

#include "platform/winpath.h"

namespace interp {

void releaseBank(FlowBank& bank) {
  bank.blocks.clear();
  bank.blocks.shrink_to_fit();
}

LoadCode readCompiledFlow(const std::string& path, cpl::ParsedFlow& out) {
  std::vector<uint8_t> bytes;
  if (cpl::readFlowFile(platform::openableUtf8Path(path), bytes) != cpl::kReadOk)
    return kLoadCannotOpen;
  if (!cpl::hasKnownMagic(bytes)) return kLoadBadMagic;
  return static_cast<LoadCode>(cpl::parseCompiledFlow(bytes, out));
}

LoadCode installParsedFlow(FlowTable& table, cpl::ParsedFlow& parsed, const std::string& path,
                           const std::string& vocDir, int slot) {
  if (slot < 0 || slot >= kFlowSlots) return kLoadSlotOutOfRange;
  std::lock_guard lock(table.mutex());
  FlowSlot& s = table.slotLocked(slot);
  int k = s.banks[0].useCount == 0 ? 0 : s.banks[1].useCount == 0 ? 1 : -1;
  if (k < 0) return kLoadBothBanksInUse;  // a call took the last free bank meanwhile
  FlowBank& b = s.banks[k];
  b.loaded = 0;
  releaseBank(b);
  b.blocks = std::move(parsed.blocks);
  b.vocDir = vocDir;
  b.path = path;
  b.pool = parsed.pool;
  b.version = s.banks[1 - k].version + 1;
  b.blockCount = static_cast<int32_t>(b.blocks.size());
  b.useCount = 0;
  b.loaded = 1;
  s.banks[0].free = 0;
  s.banks[1].free = 0;
  return kLoadOk;
}

LoadCode loadCompiledFlow(FlowTable& table, const std::string& path, const std::string& vocDir,
                          int slot) {
  std::vector<uint8_t> bytes;
  if (cpl::readFlowFile(platform::openableUtf8Path(path), bytes) != cpl::kReadOk)
    return kLoadCannotOpen;

  // Magic first, then the slot, then the banks, as callers have always seen
  // the codes come.
  if (!cpl::hasKnownMagic(bytes)) return kLoadBadMagic;
  if (slot < 0 || slot >= kFlowSlots) return kLoadSlotOutOfRange;
  {
    std::lock_guard lock(table.mutex());
    const auto& s = table.slotLocked(slot);
    if (s.banks[0].useCount > 0 && s.banks[1].useCount > 0) return kLoadBothBanksInUse;
  }

  cpl::ParsedFlow parsed;
  if (cpl::ReadCode code = cpl::parseCompiledFlow(bytes, parsed); code != cpl::kReadOk)
    return static_cast<LoadCode>(code);
  return installParsedFlow(table, parsed, path, vocDir, slot);
}

}  // namespace interp
