// The opcode table: the facts of opcode_list.h joined with the operand layout
// of every opcode. The compiler, the interpreter and the disassembler all
// read their layouts from here.
#include <algorithm>
#include <iterator>

#include "flowfile/cplformat.h"

namespace cpl {
namespace {

struct Slots {
  int8_t i32 = -1, dbl = -1, str = -1, time = -1;
};

constexpr Field R(int at, TypeSet types, Slots s = {}, SysSet sys = kSysNone) {
  Field f;
  f.shape = Shape::kOperand;
  f.at = static_cast<int8_t>(at);
  f.types = types;
  f.sys = sys;
  f.i32 = s.i32;
  f.dbl = s.dbl;
  f.str = s.str;
  f.time = s.time;
  return f;
}
constexpr Field B(OperandType set, int at) {
  Field f;
  f.shape = Shape::kBare;
  f.at = static_cast<int8_t>(at);
  f.reg = set;
  return f;
}
constexpr Field Lbl(int at, int tgt) {
  Field f;
  f.shape = Shape::kLabel;
  f.at = static_cast<int8_t>(at);
  f.str = static_cast<int8_t>(at);
  f.tgt = static_cast<int8_t>(tgt);
  return f;
}
constexpr Field Plain(Shape shape, int at) {
  Field f;
  f.shape = shape;
  f.at = static_cast<int8_t>(at);
  return f;
}
constexpr Field Cond(int at, int i32) {
  Field f = Plain(Shape::kCondValue, at);
  f.i32 = static_cast<int8_t>(i32);
  return f;
}
constexpr Field Exit(int at, int str) {
  Field f = Plain(Shape::kExitRef, at);
  f.str = static_cast<int8_t>(str);
  return f;
}

// [at: I, int; i32(at+2)] and [at: S, str; str(at+2)], the two commonest operands.
constexpr Field IntOp(int at) {
  return R(at, kTI | kTInt, {.i32 = static_cast<int8_t>(at + 2)});
}
constexpr Field StrOp(int at) {
  return R(at, kTS | kTStr, {.str = static_cast<int8_t>(at + 2)});
}

constexpr Field kRegsAt6 = R(6, kTRegs);
constexpr Field kRegsAt12 = R(12, kTRegs);

// The operand layout of one opcode.
struct Layout {
  int16_t code;
  uint8_t fieldCount;
  std::array<Field, kMaxFields> fields;
};

constexpr Layout op(int code, std::initializer_list<Field> fields) {
  Layout o{static_cast<int16_t>(code), static_cast<uint8_t>(fields.size()), {}};
  int i = 0;
  for (const Field& f : fields)
    o.fields[i++] = f;
  return o;
}

// `add`, `sub`, `mul`, `div`: [6: I, F], [8: I, F, int, flt; dbl(10)]
constexpr Layout arith(int code) {
  return op(code, {R(6, kTI | kTF), R(8, kTI | kTF | kTInt | kTFlt, {.dbl = 10})});
}
constexpr Layout bareTS(int code, OperandType a, OperandType b) {
  return op(code, {B(a, 6), B(b, 7)});
}
constexpr Layout dateAdd(int code) {
  return op(code, {B(kOpT, 6), R(7, kTI | kTInt, {.i32 = 9})});
}
constexpr Layout datePart(int code) {
  return bareTS(code, kOpT, kOpI);
}
constexpr Layout dateDiff(int code) {
  return op(code, {B(kOpT, 6), B(kOpT, 7), B(kOpI, 8)});
}
constexpr Layout fieldTo(int code, OperandType set) {
  return op(code, {IntOp(6), B(set, 12)});
}
constexpr Layout meetOnly(int code) {
  return op(code, {R(6, kTI | kTInt | kTSys, {.i32 = 8}, kAllowMeet)});
}

constexpr std::array<Layout, kOpcodeCount> kLayouts{{
    op(0, {StrOp(6), IntOp(12), B(kOpI, 18)}),
    op(1, {}),
    op(2, {}),
    op(3, {kRegsAt6}),
    op(4,
       {R(6, kTRegs | kTSys, {}, kAllowMeet), R(8, kTRegs | kTInt | kTFlt | kTStr | kTTime | kTSys,
                                                {.dbl = 14, .str = 10, .time = 22}, kAllowAllSys)}),
    arith(5),
    arith(6),
    arith(7),
    arith(8),
    op(9, {R(6, kTI | kTF), R(8, kTI | kTF | kTInt | kTFlt, {.dbl = 10}), B(kOpI, 18)}),
    op(10, {B(kOpT, 6), R(7, kTT | kTTime, {.time = 9}), B(kOpI, 23)}),
    op(11, {B(kOpI, 6), Cond(7, 8), Lbl(12, 16)}),
    bareTS(12, kOpI, kOpS),
    bareTS(13, kOpF, kOpS),
    bareTS(14, kOpT, kOpS),
    bareTS(15, kOpS, kOpI),
    bareTS(16, kOpS, kOpF),
    bareTS(17, kOpS, kOpT),
    bareTS(18, kOpI, kOpS),
    op(19, {B(kOpS, 6)}),
    op(20, {B(kOpS, 6)}),
    op(21, {B(kOpS, 6)}),
    op(22, {StrOp(6), StrOp(12), B(kOpS, 18)}),
    op(23, {IntOp(6), IntOp(12), B(kOpS, 18), B(kOpS, 19)}),
    op(24, {IntOp(6), IntOp(12), B(kOpS, 18)}),
    op(25, {B(kOpS, 6), R(7, kTS | kTStr, {.str = 9})}),
    op(26, {B(kOpS, 6)}),
    op(27, {B(kOpS, 6)}),
    op(28, {IntOp(6), StrOp(12), B(kOpS, 18), B(kOpS, 19)}),
    op(29, {B(kOpT, 6)}),
    dateAdd(30),
    dateAdd(31),
    dateAdd(32),
    datePart(33),
    datePart(34),
    datePart(35),
    datePart(36),
    datePart(37),
    datePart(38),
    dateDiff(39),
    dateDiff(40),
    dateDiff(41),
    dateDiff(42),
    op(43, {IntOp(6), B(kOpS, 12)}),
    op(44, {B(kOpS, 6), R(7, kTI | kTInt, {.i32 = 9}), B(kOpI, 13)}),
    op(45, {IntOp(6), B(kOpI, 12)}),
    fieldTo(46, kOpI),
    fieldTo(47, kOpS),
    fieldTo(48, kOpT),
    fieldTo(49, kOpF),
    op(50, {IntOp(6)}),
    op(51, {R(6, kTI)}),
    op(52, {IntOp(6), B(kOpI, 12)}),
    op(53, {IntOp(6)}),
    op(54, {IntOp(6), IntOp(12), Plain(Shape::kDirection, 18)}),
    op(55, {IntOp(6), StrOp(12), Plain(Shape::kDirection, 18)}),
    op(56, {IntOp(6), R(12, kTT | kTTime, {.time = 14}), Plain(Shape::kDirection, 28)}),
    op(57, {IntOp(6), R(12, kTF | kTFlt, {.dbl = 14}), Plain(Shape::kDirection, 22)}),
    fieldTo(58, kOpI),
    fieldTo(59, kOpS),
    fieldTo(60, kOpT),
    fieldTo(61, kOpF),
    op(62, {kRegsAt6}),
    datePart(63),
    op(64, {}),
    op(65, {kRegsAt6, Plain(Shape::kRelation, 8),
            R(9, kTRegs | kTInt | kTFlt | kTStr | kTTime,
              {.i32 = 11, .dbl = 15, .str = 37, .time = 23}),
            Lbl(41, 45)}),
    op(66, {Lbl(6, 10)}),
    op(67, {StrOp(6)}),
    op(68, {IntOp(6), R(12, kTRegs | kTInt | kTFlt | kTStr | kTTime,
                        {.i32 = 14, .dbl = 18, .str = 40, .time = 26})}),
    op(69, {IntOp(6), Plain(Shape::kTypeLetter, 12)}),
    op(70, {IntOp(6), kRegsAt12}),
    op(71, {IntOp(6), kRegsAt12}),
    op(72, {}),
    op(73, {kRegsAt6}),
    op(74, {Exit(6, 10)}),
    op(75, {IntOp(6), IntOp(12)}),
    op(76, {IntOp(6), B(kOpS, 12)}),
    op(77, {IntOp(6), IntOp(12), IntOp(18)}),
    op(78, {}),
    op(79, {}),
    // The fourth operand sits in byte 24, which no other field uses, so that
    // it survives beside the third operand's register byte at 19.
    op(80, {StrOp(6), StrOp(12), IntOp(18), B(kOpI, 24)}),
    op(81, {}),
    op(82, {StrOp(6), B(kOpI, 12)}),
    op(83,
       {R(6, kTRegs | kTInt | kTFlt | kTStr | kTTime, {.i32 = 8, .dbl = 30, .str = 26, .time = 12}),
        IntOp(38), B(kOpI, 44), R(45, kTI | kTSys, {}, kAllowChan)}),
    op(84, {IntOp(6)}),
    op(85, {B(kOpS, 6), B(kOpI, 7)}),
    op(86, {B(kOpS, 6), B(kOpS, 7), R(8, kTI | kTInt, {.i32 = 10}), B(kOpF, 14), B(kOpI, 15),
            B(kOpI, 16)}),
    op(87, {IntOp(6), IntOp(12), B(kOpI, 18)}),
    op(88, {B(kOpI, 6), B(kOpI, 7), B(kOpS, 8)}),
    op(89, {StrOp(6), IntOp(12), IntOp(18), StrOp(24), IntOp(30), B(kOpI, 36)}),
    op(90, {R(6, kTI | kTInt | kTSys, {.i32 = 8}, kAllowMeet), IntOp(12), IntOp(18), B(kOpI, 24)}),
    op(91, {}),
    op(92, {B(kOpS, 6)}),
    op(93, {B(kOpS, 6), B(kOpI, 7), B(kOpF, 8)}),
    op(94, {B(kOpI, 6), B(kOpI, 7), B(kOpI, 8)}),
    op(95, {B(kOpI, 6), B(kOpI, 7)}),
    op(96, {R(6, kTI | kTSys, {}, kAllowMeet), B(kOpI, 8)}),
    op(97, {StrOp(6), StrOp(12), IntOp(18), StrOp(24), IntOp(30), B(kOpI, 36)}),
    meetOnly(98),
    meetOnly(99),
    op(100, {R(6, kTI | kTInt | kTSys, {.i32 = 8}, kAllowChan)}),
    op(101, {StrOp(6), kRegsAt12}),
    op(102, {R(6, kTI)}),
    op(103, {IntOp(6), R(12, kTS)}),
}};

constexpr bool indexedByCode() {
  for (int i = 0; i < kOpcodeCount; ++i)
    if (kLayouts[i].code != i) return false;
  return true;
}
static_assert(indexedByCode(), "the layouts must be in opcode order without gaps");

// The facts of opcode_list.h, in its order.
struct Facts {
  int16_t code;
  std::string_view keyword, traceName;
  OpcodeFamily family;
  bool executed;
};
constexpr Facts kFacts[] = {
#define OLVARO_OPCODE_FACTS(code, Name, keyword, trace, family, executed) \
  {code, keyword, trace, OpcodeFamily::k##family, executed != 0},
    OLVARO_OPCODES(OLVARO_OPCODE_FACTS)
#undef OLVARO_OPCODE_FACTS
};
static_assert(std::size(kFacts) == kOpcodeCount);

constexpr bool listInCodeOrder() {
  for (int i = 0; i < kOpcodeCount; ++i)
    if (kFacts[i].code != i) return false;
  return true;
}
static_assert(listInCodeOrder(), "opcode_list.h must be in opcode order without gaps");

constexpr std::array<OpcodeInfo, kOpcodeCount> joined() {
  std::array<OpcodeInfo, kOpcodeCount> t{};
  for (int i = 0; i < kOpcodeCount; ++i) {
    const Facts& f = kFacts[i];
    t[i] = OpcodeInfo{f.code,
                      f.keyword,
                      f.traceName,
                      f.family,
                      f.executed,
                      kLayouts[i].fieldCount,
                      kLayouts[i].fields};
  }
  return t;
}
constexpr std::array<OpcodeInfo, kOpcodeCount> kTable = joined();

// Every field must lie inside the 49-byte record.
constexpr int fieldEnd(const Field& f) {
  int end = f.at + 1;
  if (f.shape == Shape::kOperand) end = f.at + 2;
  if (f.shape == Shape::kLabel || f.shape == Shape::kExitRef) end = f.at + 4;
  if (f.i32 >= 0) end = std::max(end, f.i32 + 4);
  if (f.dbl >= 0) end = std::max(end, f.dbl + 8);
  if (f.str >= 0) end = std::max(end, f.str + 4);
  if (f.time >= 0) end = std::max(end, f.time + 14);
  if (f.tgt >= 0) end = std::max(end, f.tgt + 4);
  return end;
}
constexpr bool fieldsInsideRecord() {
  for (const auto& o : kTable)
    for (int i = 0; i < o.fieldCount; ++i)
      if (o.fields[i].at < kOperandArea || fieldEnd(o.fields[i]) > kInstrSize) return false;
  return true;
}
static_assert(fieldsInsideRecord(), "an operand layout runs outside the operand area");

}  // namespace

const std::array<OpcodeInfo, kOpcodeCount> kOpcodes = kTable;

const OpcodeInfo* findOpcode(int code) {
  if (code < 0 || code >= kOpcodeCount) return nullptr;
  return &kOpcodes[code];
}

const OpcodeInfo* findKeyword(std::string_view keyword) {
  if (keyword.empty()) return nullptr;
  for (const auto& o : kOpcodes)
    if (o.keyword == keyword) return &o;
  return nullptr;
}

}  // namespace cpl
