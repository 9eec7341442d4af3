// Feeds arbitrary bytes to the compiled flow parser and lists whatever
// parses, so that the parser and the disassembler meet hostile files.
#include <cstddef>
#include <cstdint>

#include "flowfile/cplreader.h"
#include "flowfile/disasm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cpl::ParsedFlow flow;
  if (cpl::parseCompiledFlow({data, size}, flow) != cpl::kReadOk) return 0;
  size_t total = 0;
  for (const auto& b : flow.blocks)
    for (const auto& ins : b.code)
      total += cpl::disassemble(ins, flow.pool).size();
  return total == 0xFFFFFFFF;
}
