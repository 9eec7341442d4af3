// The compiled flow loader: turns a compiled flow file into one bank of a
// flow slot.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "runtime/interpreter/flow_table.h"

namespace interp {

enum LoadCode : int {
  kLoadOk = 0,
  kLoadBothBanksInUse = 1,
  kLoadBadMagic = 2,   // unknown magic, or a block kind outside the table
  kLoadShortFile = 3,  // pool shorter than 4096 bytes, or a section cut short
  kLoadSlotOutOfRange = 4,
  kLoadCannotOpen = 5,
};

// A compiled flow parsed from bytes, before it goes into a bank.
struct ParsedFlow {
  std::string magic;
  std::vector<FlowBlock> blocks;
  std::array<uint8_t, cpl::kPoolSize> pool{};
  size_t poolOffset = 0;  // where the pool starts in the file
  std::string problem;    // why a parse failed, for people
};

// Parses a whole file image. Every length is checked against what is left of
// the image before anything is allocated; a section cut short or a count
// that runs past the end gives kLoadShortFile, an unknown magic or block kind
// kLoadBadMagic. Bytes after the pool are ignored.
LoadCode parseCompiledFlow(std::span<const uint8_t> file, ParsedFlow& out);

// The largest compiled flow file read. Far above any flow drawn (a block
// takes 548 bytes, a script line 49), it keeps a mistaken path to a huge
// file from taking the memory of every call.
inline constexpr uint64_t kMaxFlowFileBytes = 256u << 20;

// Reads the whole compiled flow file at `linuxPath` into `bytes`. Only a
// regular file of at most kMaxFlowFileBytes is read; anything else (a
// folder, a FIFO, a device, a file that cannot be opened or read) gives
// kLoadCannotOpen with the reason in `why`. Nothing here can wait: a FIFO or
// device is refused before it is opened, and the open itself never waits.
LoadCode readFlowFile(const std::string& linuxPath, std::vector<uint8_t>& bytes,
                      std::string* why = nullptr);

// The two halves of a load, for loading beside running calls: reading and
// parsing (codes 5, 2, 3), which may wait on the disk and runs off the scan
// pass, and filling a bank of `slot` by the two-bank rule (codes 4, 1), which
// the scan thread does.
LoadCode readCompiledFlow(const std::string& path, ParsedFlow& out);
LoadCode installParsedFlow(FlowTable& table, ParsedFlow& flow, const std::string& path,
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
