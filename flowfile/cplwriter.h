// Writes the frame of a compiled flow file: magic, block count, the block
// sections in order, the string pool. The designer's compile command fills
// it from a chart; tests and sample generators fill it by hand.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "flowfile/cplformat.h"

namespace cpl {

// A zeroed parameter record of `kind` with its kind code set, every exit
// NO_TARGET (empty for the script block and kinds outside the table).
std::vector<uint8_t> blankRecord(int kind);
// Sets exit `i` of a parameter record; false when the record has no such slot.
bool setExit(std::span<uint8_t> record, int i, int32_t target);
// Exit `i` of a parameter record, or NO_TARGET when there is no such slot.
int32_t getExit(std::span<const uint8_t> record, int i);

class CplWriter {
 public:
  // "1001" is what the designer writes; "1002" (548-byte sections) is also
  // read by the runtime.
  explicit CplWriter(std::string_view magic = kMagic1001) : magic_(magic) {}

  // A fixed-kind block, its record exactly the kind's size. False (nothing
  // added) for a wrong size or a kind outside the table.
  bool addRecord(std::span<const uint8_t> record);
  void addScript(std::span<const Instruction> code, int32_t defaultExit);
  int blockCount() const { return count_; }

  // The whole file: frame, sections and pool.
  std::vector<uint8_t> finish(const StringPool& pool) const;
  // The file as a failed compile leaves it: the frame declaring all
  // `declaredBlocks` blocks, the sections added so far, then the int16 kind
  // of the script block that did not compile, and no pool. The runtime
  // refuses such a file as cut short.
  std::vector<uint8_t> finishFailedScript(int32_t declaredBlocks) const;

 private:
  std::vector<uint8_t> frameAndSections(int32_t count) const;

  std::string_view magic_;
  int count_ = 0;
  std::vector<uint8_t> sections_;
};

}  // namespace cpl
