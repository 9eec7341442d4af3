// Listing of instruction records in the script language's own notation
// (registers as I5/F2/T0/S31, strings as pool text in double quotes, time
// constants as $ and 14 digits, labels with their jump targets). Text from
// the pool stays GBK; callers convert at the edge.
#pragma once

#include <span>
#include <string>

#include "flowfile/cplformat.h"

namespace cpl {

// The operands of one record, e.g. `I1, 10` or `I1 >= 5 goto loop(@7)`.
std::string disassembleOperands(const Instruction& rec, std::span<const uint8_t, kPoolSize> pool);

// Keyword and operands, e.g. `set I1, 10`; `(label)` for opcode 64 and
// `?opcode N` for a code outside the table.
std::string disassemble(const Instruction& rec, std::span<const uint8_t, kPoolSize> pool);

// A double in its shortest exact form ("10", "0.5", "-1e-07").
std::string formatDouble(double v);

}  // namespace cpl
