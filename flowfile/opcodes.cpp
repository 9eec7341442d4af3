// The opcode table: keyword and operand layout of every opcode. The compiler,
// the interpreter and the disassembler all read their layouts from here.
#include <algorithm>

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

constexpr OpcodeInfo op(int code, std::string_view kw, std::initializer_list<Field> fields) {
  OpcodeInfo o{static_cast<int16_t>(code), kw, static_cast<uint8_t>(fields.size()), {}};
  int i = 0;
  for (const Field& f : fields)
    o.fields[i++] = f;
  return o;
}

// `add`, `sub`, `mul`, `div`: [6: I, F], [8: I, F, int, flt; dbl(10)]
constexpr OpcodeInfo arith(int code, std::string_view kw) {
  return op(code, kw, {R(6, kTI | kTF), R(8, kTI | kTF | kTInt | kTFlt, {.dbl = 10})});
}
constexpr OpcodeInfo bareTS(int code, std::string_view kw, OperandType a, OperandType b) {
  return op(code, kw, {B(a, 6), B(b, 7)});
}
constexpr OpcodeInfo dateAdd(int code, std::string_view kw) {
  return op(code, kw, {B(kOpT, 6), R(7, kTI | kTInt, {.i32 = 9})});
}
constexpr OpcodeInfo datePart(int code, std::string_view kw) {
  return bareTS(code, kw, kOpT, kOpI);
}
constexpr OpcodeInfo dateDiff(int code, std::string_view kw) {
  return op(code, kw, {B(kOpT, 6), B(kOpT, 7), B(kOpI, 8)});
}
constexpr OpcodeInfo fieldTo(int code, std::string_view kw, OperandType set) {
  return op(code, kw, {IntOp(6), B(set, 12)});
}
constexpr OpcodeInfo meetOnly(int code, std::string_view kw) {
  return op(code, kw, {R(6, kTI | kTInt | kTSys, {.i32 = 8}, kAllowMeet)});
}

constexpr std::array<OpcodeInfo, kOpcodeCount> kTable{{
    op(0, "callfunc", {StrOp(6), IntOp(12), B(kOpI, 18)}),
    op(1, "pushall", {}),
    op(2, "popall", {}),
    op(3, "push", {kRegsAt6}),
    op(4, "set",
       {R(6, kTRegs | kTSys, {}, kAllowMeet), R(8, kTRegs | kTInt | kTFlt | kTStr | kTTime | kTSys,
                                                {.dbl = 14, .str = 10, .time = 22}, kAllowAllSys)}),
    arith(5, "add"),
    arith(6, "sub"),
    arith(7, "mul"),
    arith(8, "div"),
    op(9, "cmpd", {R(6, kTI | kTF), R(8, kTI | kTF | kTInt | kTFlt, {.dbl = 10}), B(kOpI, 18)}),
    op(10, "cmpt", {B(kOpT, 6), R(7, kTT | kTTime, {.time = 9}), B(kOpI, 23)}),
    op(11, "condgoto", {B(kOpI, 6), Cond(7, 8), Lbl(12, 16)}),
    bareTS(12, "i2s", kOpI, kOpS),
    bareTS(13, "f2s", kOpF, kOpS),
    bareTS(14, "t2s", kOpT, kOpS),
    bareTS(15, "s2i", kOpS, kOpI),
    bareTS(16, "s2f", kOpS, kOpF),
    bareTS(17, "s2t", kOpS, kOpT),
    bareTS(18, "strlen", kOpI, kOpS),
    op(19, "strtrimleft", {B(kOpS, 6)}),
    op(20, "strtrimright", {B(kOpS, 6)}),
    op(21, "strtrim", {B(kOpS, 6)}),
    op(22, "strreplace", {StrOp(6), StrOp(12), B(kOpS, 18)}),
    op(23, "strmid", {IntOp(6), IntOp(12), B(kOpS, 18), B(kOpS, 19)}),
    op(24, "strdel", {IntOp(6), IntOp(12), B(kOpS, 18)}),
    op(25, "strcat", {B(kOpS, 6), R(7, kTS | kTStr, {.str = 9})}),
    op(26, "strupper", {B(kOpS, 6)}),
    op(27, "strlower", {B(kOpS, 6)}),
    op(28, "strparse", {IntOp(6), StrOp(12), B(kOpS, 18), B(kOpS, 19)}),
    op(29, "now", {B(kOpT, 6)}),
    dateAdd(30, "dateaddday"),
    dateAdd(31, "dateaddhour"),
    dateAdd(32, "dateaddmin"),
    datePart(33, "datepartmin"),
    datePart(34, "datepartsec"),
    datePart(35, "datepartday"),
    datePart(36, "datepartmonth"),
    datePart(37, "datepartweek"),
    datePart(38, "datepartyear"),
    dateDiff(39, "datediffday"),
    dateDiff(40, "datediffhour"),
    dateDiff(41, "datediffmin"),
    dateDiff(42, "datediffsec"),
    op(43, "sendpacket", {IntOp(6), B(kOpS, 12)}),
    op(44, "recvpacket", {B(kOpS, 6), R(7, kTI | kTInt, {.i32 = 9}), B(kOpI, 13)}),
    op(45, "sqlopen", {IntOp(6), B(kOpI, 12)}),
    fieldTo(46, "getfieldi", kOpI),
    fieldTo(47, "getfields", kOpS),
    fieldTo(48, "getfieldt", kOpT),
    fieldTo(49, "getfieldf", kOpF),
    op(50, "movenext", {IntOp(6)}),
    op(51, "eof", {R(6, kTI)}),
    op(52, "sqlexec", {IntOp(6), B(kOpI, 12)}),
    op(53, "spexec", {IntOp(6)}),
    op(54, "setsqlparami", {IntOp(6), IntOp(12), Plain(Shape::kDirection, 18)}),
    op(55, "setsqlparams", {IntOp(6), StrOp(12), Plain(Shape::kDirection, 18)}),
    op(56, "setsqlparamt",
       {IntOp(6), R(12, kTT | kTTime, {.time = 14}), Plain(Shape::kDirection, 28)}),
    op(57, "setsqlparamf",
       {IntOp(6), R(12, kTF | kTFlt, {.dbl = 14}), Plain(Shape::kDirection, 22)}),
    fieldTo(58, "getspouti", kOpI),
    fieldTo(59, "getspouts", kOpS),
    fieldTo(60, "getspoutt", kOpT),
    fieldTo(61, "getspoutf", kOpF),
    op(62, "pop", {kRegsAt6}),
    datePart(63, "dateparthour"),
    op(64, "", {}),
    op(65, "if",
       {kRegsAt6, Plain(Shape::kRelation, 8),
        R(9, kTRegs | kTInt | kTFlt | kTStr | kTTime,
          {.i32 = 11, .dbl = 15, .str = 37, .time = 23}),
        Lbl(41, 45)}),
    op(66, "goto", {Lbl(6, 10)}),
    op(67, "preparesql", {StrOp(6)}),
    op(68, "setparamin",
       {IntOp(6), R(12, kTRegs | kTInt | kTFlt | kTStr | kTTime,
                    {.i32 = 14, .dbl = 18, .str = 40, .time = 26})}),
    op(69, "setparamout", {IntOp(6), Plain(Shape::kTypeLetter, 12)}),
    op(70, "getparamout", {IntOp(6), kRegsAt12}),
    op(71, "getfield", {IntOp(6), kRegsAt12}),
    op(72, "stop", {}),
    op(73, "print", {kRegsAt6}),
    op(74, "gotoout", {Exit(6, 10)}),
    op(75, "startbill", {IntOp(6), IntOp(12)}),
    op(76, "setbilltype", {IntOp(6), B(kOpS, 12)}),
    op(77, "secbillbegin", {IntOp(6), IntOp(12), IntOp(18)}),
    op(78, "secbillend", {}),
    op(79, "endbill", {}),
    // The fourth operand sits in byte 24, which no other field uses, so that
    // it survives beside the third operand's register byte at 19.
    op(80, "recfile", {StrOp(6), StrOp(12), IntOp(18), B(kOpI, 24)}),
    op(81, "gotodef", {}),
    op(82, "setdb", {StrOp(6), B(kOpI, 12)}),
    op(83, "playtts",
       {R(6, kTRegs | kTInt | kTFlt | kTStr | kTTime, {.i32 = 8, .dbl = 30, .str = 26, .time = 12}),
        IntOp(38), B(kOpI, 44), R(45, kTI | kTSys, {}, kAllowChan)}),
    op(84, "sleep", {IntOp(6)}),
    op(85, "verifyaccount", {B(kOpS, 6), B(kOpI, 7)}),
    op(86, "verifypassword",
       {B(kOpS, 6), B(kOpS, 7), R(8, kTI | kTInt, {.i32 = 10}), B(kOpF, 14), B(kOpI, 15),
        B(kOpI, 16)}),
    op(87, "cycplay", {IntOp(6), IntOp(12), B(kOpI, 18)}),
    op(88, "setsecpara", {B(kOpI, 6), B(kOpI, 7), B(kOpS, 8)}),
    op(89, "recfile2", {StrOp(6), IntOp(12), IntOp(18), StrOp(24), IntOp(30), B(kOpI, 36)}),
    op(90, "addmusic",
       {R(6, kTI | kTInt | kTSys, {.i32 = 8}, kAllowMeet), IntOp(12), IntOp(18), B(kOpI, 24)}),
    op(91, "ss7ack", {}),
    op(92, "playdtmf", {B(kOpS, 6)}),
    op(93, "setcardpara", {B(kOpS, 6), B(kOpI, 7), B(kOpF, 8)}),
    op(94, "connchan", {B(kOpI, 6), B(kOpI, 7), B(kOpI, 8)}),
    op(95, "checkstatus", {B(kOpI, 6), B(kOpI, 7)}),
    op(96, "getmeetmembercnt", {R(6, kTI | kTSys, {}, kAllowMeet), B(kOpI, 8)}),
    op(97, "recfile3", {StrOp(6), StrOp(12), IntOp(18), StrOp(24), IntOp(30), B(kOpI, 36)}),
    meetOnly(98, "removemusic"),
    meetOnly(99, "auditmeet"),
    op(100, "resetchan", {R(6, kTI | kTInt | kTSys, {.i32 = 8}, kAllowChan)}),
    op(101, "getfieldname", {StrOp(6), kRegsAt12}),
    op(102, "getrecordcount", {R(6, kTI)}),
    op(103, "getformattime", {IntOp(6), R(12, kTS)}),
}};

constexpr bool indexedByCode() {
  for (int i = 0; i < kOpcodeCount; ++i)
    if (kTable[i].code != i) return false;
  return true;
}
static_assert(indexedByCode(), "the opcode table must be in opcode order without gaps");

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
