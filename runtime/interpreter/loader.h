// The compiled flow loader: puts a compiled flow file, as flowfile reads it,
// into one bank of a flow slot under the two-bank rule.
#pragma once

#include <string>

#include "flowfile/cplreader.h"
#include "runtime/interpreter/flow_table.h"

namespace interp {

// The file's own codes (cpl::ReadCode) and the bank's.
enum LoadCode : int {
  kLoadOk = cpl::kReadOk,
  kLoadBothBanksInUse = 1,
  kLoadBadMagic = cpl::kReadBadMagic,
  kLoadShortFile = cpl::kReadShortFile,
  kLoadSlotOutOfRange = 4,
  kLoadCannotOpen = cpl::kReadCannotOpen,
};

// The two halves of a load, for loading beside running calls: reading and
// parsing (codes 5, 2, 3), which may wait on the disk and runs off the scan
// pass, and filling a bank of `slot` by the two-bank rule (codes 4, 1), which
// the scan thread does.
LoadCode readCompiledFlow(const std::string& path, cpl::ParsedFlow& out);
LoadCode installParsedFlow(FlowTable& table, cpl::ParsedFlow& flow, const std::string& path,
                           const std::string& vocDir, int slot);

// Loads `path` into a bank of `slot`: bank 0 when its use count is 0, else
// bank 1 when its use count is 0, else kLoadBothBanksInUse. The loaded bank's
// version is the other bank's + 1. A failed load changes nothing. `path` may
// use Windows separators; it is opened as platform::openableUtf8Path says.
LoadCode loadCompiledFlow(FlowTable& table, const std::string& path, const std::string& vocDir,
                          int slot);

// Frees the block array of a bank (caller holds the table's mutex).
void releaseBank(FlowBank& bank);

}  // namespace interp
