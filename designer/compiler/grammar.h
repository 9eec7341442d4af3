// Command grammars: for each keyword the operand positions in source order,
// the forms each position accepts (tried in the order listed) and the
// message of every way a statement can fail. Position i of a grammar is
// written into field i of the opcode's layout in cpl::kOpcodes.
//
// The grammars live in one file per command family; grammarFor() finds the
// grammar of a keyword among all of them.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "flowfile/cplformat.h"
#include "flowfile/encode.h"

namespace compiler {

enum class Form : uint8_t {
  kI,  // a register of one set
  kF,
  kT,
  kS,
  kReg,         // a register of any set
  kInt,         // integer constant
  kFlt,         // float constant
  kStr,         // string constant, stored in the pool
  kTime,        // time constant
  kLabel,       // any word: a label name, stored in the pool as a label reference
  kExit,        // any word: an exit name, stored in the pool
  kDir,         // "in" or "out"
  kLetter,      // "i", "f", "t" or "s"
  kMeet,        // a "$meet" word; a number outside 1..32 fails with the grammar's range message
  kChan,        // "$chan" as a whole word
  kChanPrefix,  // any word whose first five characters are "$chan"
  kStrFlt,      // string constant holding a number, stored as a float constant
  kStrTime,     // string constant of at most 14 characters, stored as the time digits
};

inline constexpr int kMaxForms = 8;

struct Position {
  std::array<Form, kMaxForms> forms{};
  uint8_t formCount = 0;
  std::string_view missing;  // no form matched
  std::string_view comma;    // the comma before this position is missing; empty: the grammar's
};

class StatementParser;
struct Grammar;

// A parser for a command that does not follow the positions-and-commas scheme.
using SpecialParse = bool (*)(StatementParser&, const Grammar&);
// A value check run after position `index` matched; a non-empty result refuses the operand.
using OperandCheck = std::string_view (*)(int index, const cpl::Operand&);

struct Grammar {
  int16_t opcode = 0;
  std::array<Position, cpl::kMaxFields> positions{};
  uint8_t positionCount = 0;
  std::string_view comma;      // a missing comma between positions
  std::string_view extra;      // anything after the last position (or after a bare keyword)
  std::string_view meetRange;  // a "$meet" number outside 1..32
  SpecialParse parse = nullptr;
  OperandCheck check = nullptr;

  std::span<const Position> operands() const { return {positions.data(), positionCount}; }

  constexpr Grammar withMeetRange(std::string_view m) const {
    Grammar g = *this;
    g.meetRange = m;
    return g;
  }
  constexpr Grammar withParse(SpecialParse p) const {
    Grammar g = *this;
    g.parse = p;
    return g;
  }
  constexpr Grammar withCheck(OperandCheck c) const {
    Grammar g = *this;
    g.check = c;
    return g;
  }
};

// Builders for the family tables.
constexpr Position pos(std::initializer_list<Form> forms, std::string_view missing,
                       std::string_view comma = {}) {
  Position p;
  for (Form f : forms)
    p.forms[p.formCount++] = f;
  p.missing = missing;
  p.comma = comma;
  return p;
}
constexpr Grammar cmd(cpl::Opcode opcode, std::string_view comma, std::string_view extra,
                      std::initializer_list<Position> positions) {
  Grammar g;
  g.opcode = opcode;
  for (const Position& p : positions)
    g.positions[g.positionCount++] = p;
  g.comma = comma;
  g.extra = extra;
  return g;
}
// A command that takes no operands: anything after the keyword gets `message`.
constexpr Grammar bare(cpl::Opcode opcode, std::string_view message) {
  return cmd(opcode, {}, message, {});
}

// The families.
std::span<const Grammar> controlGrammars();
std::span<const Grammar> assignGrammars();
std::span<const Grammar> stringDateGrammars();
std::span<const Grammar> databaseGrammars();
std::span<const Grammar> serviceGrammars();

// The grammar of a keyword (folded, compared exactly), or nullptr.
const Grammar* grammarFor(std::string_view keyword);

// Parses the operands of `g` by the common scheme: positions separated by
// commas, then the end of the line.
bool parsePositions(StatementParser& p, const Grammar& g);

}  // namespace compiler
