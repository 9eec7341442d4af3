#include "flowfile/disasm.h"

#include <charconv>

#include "flowfile/encode.h"

namespace cpl {

std::string formatDouble(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

namespace {

std::string quoted(std::span<const uint8_t, kPoolSize> pool, PoolRef ref) {
  std::string out = "\"";
  for (char c : poolExtract(pool, ref)) {
    out += c;
    if (c == '"') out += '"';  // the source form doubles a quote
  }
  return out + "\"";
}

std::string sysName(uint8_t code) {
  switch (code) {
    case kSysCaller:
      return "$caller";
    case kSysCalled:
      return "$called";
    case kSysChan:
      return "$chan";
    case kSysUsedMoney:
      return "$usedmoney";
    default:
      if (code >= kSysMeetFirst && code <= kSysMeetLast)
        return "$meet" + std::to_string(code - 2);  // also $callid for code 3
      return "$?" + std::to_string(code);
  }
}

std::string regName(OperandType set, uint8_t n) {
  static constexpr char kLetters[] = "?IFTS";
  return std::string(1, kLetters[set <= kOpS ? set : 0]) + std::to_string(n);
}

std::string target(int32_t t) {
  return t == NO_TARGET ? "none" : std::to_string(t);
}

// One printer per field shape.
std::string printField(const Instruction& rec, const Field& f,
                       std::span<const uint8_t, kPoolSize> pool) {
  const Operand v = decodeField(rec, f);
  switch (f.shape) {
    case Shape::kBare:
      return regName(f.reg, v.reg);
    case Shape::kRelation: {
      static constexpr const char* kRel[] = {"<", ">", "<=", ">=", "="};
      return v.reg < 5 ? kRel[v.reg] : "?rel" + std::to_string(v.reg);
    }
    case Shape::kDirection:
      return v.reg == kDirIn ? "in" : v.reg == kDirOut ? "out" : "?dir" + std::to_string(v.reg);
    case Shape::kTypeLetter:
      return v.reg >= 1 && v.reg <= 4 ? std::string(1, "?ifts"[v.reg])
                                      : "?type" + std::to_string(v.reg);
    case Shape::kLabel:
      return std::string(poolExtract(pool, v.str)) +
             (f.tgt >= 0 ? "(@" + std::to_string(v.ival) + ")" : "");
    case Shape::kExitRef:
      return quoted(pool, v.str) + "->block " + target(v.ival);
    case Shape::kCondValue:
      return v.type == kOpI ? regName(kOpI, v.reg) : std::to_string(v.ival);
    case Shape::kOperand:
      break;
  }
  if (!admits(f, v.type)) return "?type" + std::to_string(static_cast<int>(v.type));
  switch (v.type) {
    case kOpI:
    case kOpF:
    case kOpT:
    case kOpS:
      return regName(v.type, v.reg);
    case kOpInt:
      return f.i32 >= 0 ? std::to_string(v.ival) : formatDouble(v.fval);
    case kOpFlt: {
      std::string s = formatDouble(v.fval);
      if (s.find_first_of(".en") == std::string::npos) s += ".0";  // keep it a float
      return s;
    }
    case kOpStr:
      return quoted(pool, v.str);
    case kOpTime:
      return "$" + v.time;
    case kOpSys:
      return sysName(v.reg);
    default:
      return "?";
  }
}

}  // namespace

std::string disassembleOperands(const Instruction& rec, std::span<const uint8_t, kPoolSize> pool) {
  const OpcodeInfo* op = findOpcode(rec.opcode());
  if (!op) return {};
  std::string out;
  const bool isIf = op->code == kIf;
  int i = 0;
  for (const Field& f : op->operands()) {
    if (i++) out += isIf ? " " : ", ";
    if (isIf && f.shape == Shape::kLabel) out += "goto ";
    out += printField(rec, f, pool);
  }
  return out;
}

std::string disassemble(const Instruction& rec, std::span<const uint8_t, kPoolSize> pool) {
  const OpcodeInfo* op = findOpcode(rec.opcode());
  if (!op) return "?opcode " + std::to_string(rec.opcode());
  std::string out = op->keyword.empty() ? "(label)" : std::string(op->keyword);
  std::string ops = disassembleOperands(rec, pool);
  if (!ops.empty()) out += " " + ops;
  return out;
}

}  // namespace cpl
