// Reading and writing one field of an instruction's operand area by its
// layout in the opcode table. The compiler writes records through these, the
// interpreter and the disassembler read them, and tests build records with
// them; no operand offset is written anywhere else.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>

#include "flowfile/cplformat.h"

namespace cpl {

// The value of one field, whatever its shape:
//   kOperand    type + reg (register number or system variable code) and the
//               constant of that type (ival, fval, str or time)
//   kBare       reg
//   kLabel      str (label name) and ival (jump target)
//   kExitRef    ival (block index) and str (exit name)
//   kCondValue  type kOpI + reg, or type kOpInt + ival
//   kRelation, kDirection, kTypeLetter: reg holds the byte
struct Operand {
  OperandType type = kOpNone;
  uint8_t reg = 0;
  int32_t ival = 0;
  double fval = 0;
  PoolRef str;
  std::string time;  // 14 digits

  static Operand regOf(OperandType set, int n) {
    Operand o;
    o.type = set;
    o.reg = static_cast<uint8_t>(n);
    return o;
  }
  static Operand intConst(int32_t v) {
    Operand o;
    o.type = kOpInt;
    o.ival = v;
    o.fval = v;
    return o;
  }
  static Operand fltConst(double v) {
    Operand o;
    o.type = kOpFlt;
    o.fval = v;
    return o;
  }
  static Operand strConst(PoolRef r) {
    Operand o;
    o.type = kOpStr;
    o.str = r;
    return o;
  }
  static Operand timeConst(std::string digits14) {
    Operand o;
    o.type = kOpTime;
    o.time = std::move(digits14);
    return o;
  }
  static Operand sys(uint8_t code) {
    Operand o;
    o.type = kOpSys;
    o.reg = code;
    return o;
  }
  static Operand byte(uint8_t v) {
    Operand o;
    o.reg = v;
    return o;
  }
  static Operand label(PoolRef name, int32_t target) {
    Operand o;
    o.str = name;
    o.ival = target;
    return o;
  }
};

inline constexpr uint8_t kCondConstant = 255;  // condgoto: the second operand is a constant

// Writes `v` into the record at the field's offsets. Only the slot of the
// written type is filled. Returns false (and writes nothing) when the field
// does not admit the operand's type or the register number is above 31.
bool encodeField(Instruction& rec, const Field& f, const Operand& v);

// Reads the field back. For a constant slot of the wrong kind of type
// (a hostile record) the value is whatever the slot holds; callers check
// `admits` before trusting it.
Operand decodeField(const Instruction& rec, const Field& f);

// A whole record: the opcode's fields in order, one operand each. nullopt
// when the count does not match the layout or a field refuses its operand.
std::optional<Instruction> buildInstruction(uint32_t line, int16_t opcode,
                                            std::initializer_list<Operand> operands);

// Whether the field admits an operand of this type (kOperand, kCondValue).
bool admits(const Field& f, OperandType t);

// True when `code` is a system variable that the field admits.
bool admitsSys(const Field& f, uint8_t code);

}  // namespace cpl
