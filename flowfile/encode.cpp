#include "flowfile/encode.h"

namespace cpl {

bool admits(const Field& f, OperandType t) {
  switch (f.shape) {
    case Shape::kOperand:
      return t <= kOpSys && (f.types & bit(t)) != 0;
    case Shape::kCondValue:
      return t == kOpI || t == kOpInt;
    case Shape::kBare:
      return t == f.reg;
    default:
      return false;
  }
}

bool admitsSys(const Field& f, uint8_t code) {
  if (!admits(f, kOpSys)) return false;
  switch (code) {
    case kSysCaller:
      return f.sys & kAllowCaller;
    case kSysCalled:
      return f.sys & kAllowCalled;
    case kSysChan:
      return f.sys & kAllowChan;
    case kSysUsedMoney:
      return f.sys & kAllowUsedMoney;
    default:
      if (code == kSysCallid && (f.sys & kAllowCallid)) return true;
      return code >= kSysMeetFirst && code <= kSysMeetLast && (f.sys & kAllowMeet);
  }
}

namespace {
void putRef(Instruction& rec, int at, PoolRef r) {
  rec.setU16(at, r.offset);
  rec.setU16(at + 2, r.length);
}
PoolRef getRef(const Instruction& rec, int at) {
  return {rec.u16(at), rec.u16(at + 2)};
}
bool isRegister(OperandType t) {
  return t >= kOpI && t <= kOpS;
}
}  // namespace

bool encodeField(Instruction& rec, const Field& f, const Operand& v) {
  switch (f.shape) {
    case Shape::kBare:
      if (v.reg > 31) return false;
      rec.setU8(f.at, v.reg);
      return true;
    case Shape::kRelation:
    case Shape::kDirection:
    case Shape::kTypeLetter:
      rec.setU8(f.at, v.reg);
      return true;
    case Shape::kLabel:
      putRef(rec, f.str, v.str);
      if (f.tgt >= 0) rec.setI32(f.tgt, v.ival);
      return true;
    case Shape::kExitRef:
      rec.setI32(f.at, v.ival);
      putRef(rec, f.str, v.str);
      return true;
    case Shape::kCondValue:
      if (v.type == kOpI && v.reg <= 31) {
        rec.setU8(f.at, v.reg);
        return true;
      }
      if (v.type == kOpInt) {
        rec.setU8(f.at, kCondConstant);
        rec.setI32(f.i32, v.ival);
        return true;
      }
      return false;
    case Shape::kOperand:
      break;
  }
  if (!admits(f, v.type)) return false;
  if (isRegister(v.type) && v.reg > 31) return false;
  if (v.type == kOpSys && !admitsSys(f, v.reg)) return false;
  rec.setU8(f.at, v.type);
  rec.setU8(f.at + 1, (isRegister(v.type) || v.type == kOpSys) ? v.reg : 0);
  switch (v.type) {
    case kOpInt:
      if (f.i32 >= 0)
        rec.setI32(f.i32, v.ival);
      else if (f.dbl >= 0)
        rec.setF64(f.dbl, static_cast<double>(v.ival));
      else
        return false;
      break;
    case kOpFlt:
      if (f.dbl < 0) return false;
      rec.setF64(f.dbl, v.fval);
      break;
    case kOpStr:
      if (f.str < 0) return false;
      putRef(rec, f.str, v.str);
      break;
    case kOpTime:
      if (f.time < 0) return false;
      rec.setTimeDigits(f.time, v.time);
      break;
    default:
      break;
  }
  return true;
}

Operand decodeField(const Instruction& rec, const Field& f) {
  Operand o;
  switch (f.shape) {
    case Shape::kBare:
      o.type = f.reg;
      o.reg = rec.u8(f.at);
      return o;
    case Shape::kRelation:
    case Shape::kDirection:
    case Shape::kTypeLetter:
      o.reg = rec.u8(f.at);
      return o;
    case Shape::kLabel:
      o.str = getRef(rec, f.str);
      o.ival = f.tgt >= 0 ? rec.i32(f.tgt) : 0;
      return o;
    case Shape::kExitRef:
      o.ival = rec.i32(f.at);
      o.str = getRef(rec, f.str);
      return o;
    case Shape::kCondValue:
      o.reg = rec.u8(f.at);
      if (o.reg == kCondConstant) {
        o.type = kOpInt;
        o.ival = rec.i32(f.i32);
        o.fval = o.ival;
      } else {
        o.type = kOpI;
      }
      return o;
    case Shape::kOperand:
      break;
  }
  o.type = static_cast<OperandType>(rec.u8(f.at));
  o.reg = rec.u8(f.at + 1);
  switch (o.type) {
    case kOpInt:
      if (f.i32 >= 0) {
        o.ival = rec.i32(f.i32);
        o.fval = o.ival;
      } else if (f.dbl >= 0) {
        o.fval = rec.f64(f.dbl);
        o.ival =
            static_cast<int32_t>(o.fval >= -2147483648.0 && o.fval <= 2147483647.0 ? o.fval : 0);
      }
      break;
    case kOpFlt:
      if (f.dbl >= 0) o.fval = rec.f64(f.dbl);
      break;
    case kOpStr:
      if (f.str >= 0) o.str = getRef(rec, f.str);
      break;
    case kOpTime:
      if (f.time >= 0) o.time = rec.timeDigits(f.time);
      break;
    default:
      break;
  }
  return o;
}

std::optional<Instruction> buildInstruction(uint32_t line, int16_t opcode,
                                            std::initializer_list<Operand> operands) {
  const OpcodeInfo* op = findOpcode(opcode);
  if (!op || operands.size() != op->fieldCount) return std::nullopt;
  Instruction rec(line, opcode);
  int i = 0;
  for (const Operand& v : operands)
    if (!encodeField(rec, op->fields[i++], v)) return std::nullopt;
  return rec;
}

}  // namespace cpl
