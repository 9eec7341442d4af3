// Reads a compiled flow file (layout in cplformat.h) into memory: every
// block as its 548-byte image, script blocks with their instruction records,
// and the string pool. The runtime's loader puts the result into a flow bank;
// cpldump lists it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "flowfile/block_image.h"
#include "flowfile/cplformat.h"

namespace cpl {

// What reading a file gives; the runtime's load codes use the same numbers.
enum ReadCode : int {
  kReadOk = 0,
  kReadBadMagic = 2,   // unknown magic, or a block kind outside the table
  kReadShortFile = 3,  // pool shorter than 4096 bytes, or a section cut short
  kReadCannotOpen = 5,
};

// One block of a flow: its image and, for a script block, its instructions.
struct FlowBlock {
  BlockImage rec;
  std::vector<Instruction> code;

  int16_t kind() const { return rec.kind(); }
  int32_t i32At(int storedOffset) const { return rec.i32At(storedOffset); }
  int32_t instructionCount() const { return rec.instructionCount(); }
  int32_t defaultExit() const { return rec.defaultExit(); }
};

// A compiled flow parsed from bytes.
struct ParsedFlow {
  std::string magic;
  std::vector<FlowBlock> blocks;
  std::array<uint8_t, kPoolSize> pool{};
  size_t poolOffset = 0;  // where the pool starts in the file
  std::string problem;    // why a parse failed, for people
};

// Whether the image begins with "1001" (written by the designer) or "1002"
// (548-byte sections).
bool hasKnownMagic(std::span<const uint8_t> file);

// Parses a whole file image. Every length is checked against what is left of
// the image before anything is allocated; a section cut short or a count
// that runs past the end gives kReadShortFile, an unknown magic or block kind
// kReadBadMagic. Bytes after the pool are ignored.
ReadCode parseCompiledFlow(std::span<const uint8_t> file, ParsedFlow& out);

// The largest compiled flow file read. Far above any flow drawn (a block
// takes 548 bytes, a script line 49), it keeps a mistaken path to a huge
// file from taking the memory of every call.
inline constexpr uint64_t kMaxFlowFileBytes = 256u << 20;

// Reads the whole compiled flow file at `linuxPath` into `bytes`. Only a
// regular file of at most kMaxFlowFileBytes is read; anything else (a
// folder, a FIFO, a device, a file that cannot be opened or read) gives
// kReadCannotOpen with the reason in `why`. Nothing here can wait: a FIFO or
// device is refused before it is opened, and the open itself never waits.
ReadCode readFlowFile(const std::string& linuxPath, std::vector<uint8_t>& bytes,
                      std::string* why = nullptr);

}  // namespace cpl
