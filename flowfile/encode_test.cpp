#include "flowfile/encode.h"

#include <gtest/gtest.h>

#include <map>

#include "flowfile/disasm.h"

namespace cpl {
namespace {

// Expected bytes of an operand area written by hand from the layouts:
// offset -> bytes. Every other byte of the 49 must be zero.
using Sparse = std::map<int, std::vector<uint8_t>>;

std::vector<uint8_t> le32(int32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
std::vector<uint8_t> dbl(double d) {
  Instruction r;
  r.setF64(6, d);
  return {r.bytes().begin() + 6, r.bytes().begin() + 14};
}
std::vector<uint8_t> text(const char* s) {
  return {s, s + std::strlen(s)};
}
std::vector<uint8_t> ref(uint16_t off, uint16_t len) {
  return {uint8_t(off), uint8_t(off >> 8), uint8_t(len), uint8_t(len >> 8)};
}

struct Case {
  const char* name;
  int16_t opcode;
  std::vector<Operand> operands;
  Sparse want;
  const char* listing;
};

TEST(Encode, RecordsMatchHandBuiltBytes) {
  const Case cases[] = {
      {"set i1, 10 keeps the integer as a double at 14",
       kSet,
       {Operand::regOf(kOpI, 1), Operand::intConst(10)},
       {{6, {1, 1}}, {8, {5, 0}}, {14, dbl(10.0)}},
       "set I1, 10"},
      {"sleep 10 keeps an int32 at 8",
       kSleep,
       {Operand::intConst(10)},
       {{6, {5, 0}}, {8, le32(10)}},
       "sleep 10"},
      {"set i1, $meet1 and set s1, $callid share code 3",
       kSet,
       {Operand::regOf(kOpI, 1), Operand::sys(kSysMeetFirst)},
       {{6, {1, 1}}, {8, {9, 3}}},
       "set I1, $meet1"},
      {"set s1, $callid",
       kSet,
       {Operand::regOf(kOpS, 1), Operand::sys(kSysCallid)},
       {{6, {4, 1}}, {8, {9, 3}}},
       "set S1, $meet1"},
      {"set $meet32, i3",
       kSet,
       {Operand::sys(34), Operand::regOf(kOpI, 3)},
       {{6, {9, 34}}, {8, {1, 3}}},
       "set $meet32, I3"},
      {"set s2, string",
       kSet,
       {Operand::regOf(kOpS, 2), Operand::strConst({0, 2})},
       {{6, {4, 2}}, {8, {7, 0}}, {10, ref(0, 2)}},
       "set S2, \"ab\""},
      {"set t0, time",
       kSet,
       {Operand::regOf(kOpT, 0), Operand::timeConst("20240101120000")},
       {{6, {3, 0}}, {8, {8, 0}}, {22, text("20240101120000")}},
       "set T0, $20240101120000"},
      {"add f1, 2.5",
       kAdd,
       {Operand::regOf(kOpF, 1), Operand::fltConst(2.5)},
       {{6, {2, 1}}, {8, {6, 0}}, {10, dbl(2.5)}},
       "add F1, 2.5"},
      {"cmpt digits at 9-22, register at 23",
       kCmpt,
       {Operand::regOf(kOpT, 1), Operand::timeConst("20240101120000"), Operand::regOf(kOpI, 2)},
       {{6, {1, 8, 0}}, {9, text("20240101120000")}, {23, {2}}},
       "cmpt T1, $20240101120000, I2"},
      {"if i1 >= 5 goto loop",
       kIf,
       {Operand::regOf(kOpI, 1), Operand::byte(kRelGreaterEq), Operand::intConst(5),
        Operand::label({2, 4}, 7)},
       {{6, {1, 1, 3, 5, 0}}, {11, le32(5)}, {41, ref(2, 4)}, {45, le32(7)}},
       "if I1 >= 5 goto loop(@7)"},
      {"if s1 = string",
       kIf,
       {Operand::regOf(kOpS, 1), Operand::byte(kRelEq), Operand::strConst({0, 2}),
        Operand::label({2, 4}, 0)},
       {{6, {4, 1, 4, 7, 0}}, {37, ref(0, 2)}, {41, ref(2, 4)}},
       "if S1 = \"ab\" goto loop(@0)"},
      {"goto",
       kGoto,
       {Operand::label({2, 4}, 12)},
       {{6, ref(2, 4)}, {10, le32(12)}},
       "goto loop(@12)"},
      {"gotoout to nowhere",
       kGotoout,
       {Operand::label({0, 2}, NO_TARGET)},
       {{6, le32(NO_TARGET)}, {10, ref(0, 2)}},
       "gotoout \"ab\"->block none"},
      {"condgoto with a constant",
       kCondgoto,
       {Operand::regOf(kOpI, 3), Operand::intConst(-2), Operand::label({2, 4}, 1)},
       {{6, {3, 255}}, {8, le32(-2)}, {12, ref(2, 4)}, {16, le32(1)}},
       "condgoto I3, -2, loop(@1)"},
      {"setsqlparamt: digits then direction at 28",
       kSetsqlparamt,
       {Operand::intConst(1), Operand::timeConst("20240102030405"), Operand::byte(kDirOut)},
       {{6, {5, 0}}, {8, le32(1)}, {12, {8, 0}}, {14, text("20240102030405")}, {28, {1}}},
       "setsqlparamt 1, $20240102030405, out"},
      {"setsqlparamf direction at 22",
       kSetsqlparamf,
       {Operand::regOf(kOpI, 0), Operand::fltConst(1.5), Operand::byte(kDirIn)},
       {{6, {1, 0}}, {12, {6, 0}}, {14, dbl(1.5)}},
       "setsqlparamf I0, 1.5, in"},
      {"setparamin float at 18",
       kSetparamin,
       {Operand::intConst(2), Operand::fltConst(-0.5)},
       {{6, {5, 0}}, {8, le32(2)}, {12, {6, 0}}, {18, dbl(-0.5)}},
       "setparamin 2, -0.5"},
      {"recfile keeps both register numbers",
       kRecfile,
       {Operand::regOf(kOpS, 1), Operand::regOf(kOpS, 2), Operand::regOf(kOpI, 3),
        Operand::regOf(kOpI, 4)},
       {{6, {4, 1}}, {12, {4, 2}}, {18, {1, 3}}, {24, {4}}},
       "recfile S1, S2, I3, I4"},
      {"playtts with $chan",
       kPlaytts,
       {Operand::timeConst("20240101000000"), Operand::intConst(7), Operand::regOf(kOpI, 9),
        Operand::sys(kSysChan)},
       {{6, {8, 0}},
        {12, text("20240101000000")},
        {38, {5, 0}},
        {40, le32(7)},
        {44, {9}},
        {45, {9, '#'}}},
       "playtts $20240101000000, 7, I9, $chan"},
      {"resetchan $chan", kResetchan, {Operand::sys(kSysChan)}, {{6, {9, 35}}}, "resetchan $chan"},
      {"strmid",
       kStrmid,
       {Operand::intConst(1), Operand::regOf(kOpI, 2), Operand::regOf(kOpS, 3),
        Operand::regOf(kOpS, 4)},
       {{6, {5, 0}}, {8, le32(1)}, {12, {1, 2}}, {18, {3, 4}}},
       "strmid 1, I2, S3, S4"},
      {"setparamout letter",
       kSetparamout,
       {Operand::intConst(1), Operand::byte(4)},
       {{6, {5, 0}}, {8, le32(1)}, {12, {4}}},
       "setparamout 1, s"},
      {"label alone", kLabelOnly, {}, {}, "(label)"},
  };
  StringPool pool;
  pool.append("ab");
  pool.append("loop");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const OpcodeInfo* op = findOpcode(c.opcode);
    ASSERT_EQ(op->fieldCount, c.operands.size());
    Instruction rec(17, c.opcode);
    for (size_t i = 0; i < c.operands.size(); ++i)
      ASSERT_TRUE(encodeField(rec, op->fields[i], c.operands[i])) << "operand " << i;

    InstrBytes want{};
    want[0] = 17;
    want[4] = static_cast<uint8_t>(c.opcode);
    for (const auto& [at, bytes] : c.want)
      for (size_t k = 0; k < bytes.size(); ++k)
        want[at + k] = bytes[k];
    EXPECT_EQ(rec.bytes(), want);
    EXPECT_EQ(disassemble(rec, pool.bytes()), c.listing);

    for (size_t i = 0; i < c.operands.size(); ++i) {
      Operand back = decodeField(rec, op->fields[i]);
      if (c.operands[i].type != kOpInt) {
        EXPECT_EQ(back.reg, c.operands[i].reg) << "operand " << i;
      }
      EXPECT_EQ(back.ival, c.operands[i].ival) << "operand " << i;
    }
  }
}

TEST(Encode, RefusesWhatTheLayoutDoesNotAdmit) {
  const OpcodeInfo& set = *findOpcode(kSet);
  const OpcodeInfo& reset = *findOpcode(kResetchan);
  struct Case {
    const char* name;
    const Field& field;
    Operand v;
  } cases[] = {
      {"register 32", set.fields[0], Operand::regOf(kOpI, 32)},
      {"constant as a destination", set.fields[0], Operand::intConst(1)},
      {"$caller as a destination", set.fields[0], Operand::sys(kSysCaller)},
      {"$caller in resetchan", reset.fields[0], Operand::sys(kSysCaller)},
      {"string in an integer position", reset.fields[0], Operand::strConst({0, 1})},
      {"type byte outside the table", set.fields[1], Operand::regOf(OperandType(12), 0)},
  };
  for (const auto& c : cases) {
    Instruction rec(0, kSet);
    Instruction before = rec;
    EXPECT_FALSE(encodeField(rec, c.field, c.v)) << c.name;
    EXPECT_EQ(rec.bytes(), before.bytes()) << c.name;
  }
}

TEST(Disasm, HostileRecordsStillPrint) {
  StringPool pool;
  Instruction rec(0, kSet);
  rec.setU8(6, 7);  // a string constant as a destination
  rec.setU8(8, 200);
  EXPECT_EQ(disassemble(rec, pool.bytes()), "set ?type7, ?type200");
  Instruction bad(0, 500);
  EXPECT_EQ(disassemble(bad, pool.bytes()), "?opcode 500");
  Instruction far(0, kGoto);
  far.setU16(6, 4094);
  far.setU16(8, 60000);
  EXPECT_EQ(disassemble(far, pool.bytes()), std::string("goto \0\0(@0)", 11));
}

}  // namespace
}  // namespace cpl
