// set, add/sub/mul/div, if and the conversions: registers and exact lines.
#include <cmath>
#include <functional>

#include "runtime/interpreter/script_test_util.h"

namespace interp {
namespace {

using namespace testing;

class AssignTest : public ScriptFixture {
 protected:
  // Registers every case starts from.
  void prime() {
    Registers& r = regs();
    r.I[2] = 7;
    r.I[3] = -9;
    r.F[2] = 2.75;
    r.F[3] = -0.5;
    r.S[2] = "ab\xd6\xd0";  // "ab" and GBK 中
    r.T[2] = local(2024, 1, 2, 3, 4, 5);
    host.chans[0].caller = "13900001111";
    host.chans[0].called = "8888";
    host.chans[0].callId = "2024010203040500";
  }
};

struct RegCase {
  const char* name;
  std::function<Instruction(ScriptFixture&)> rec;
  Lines lines;
  std::function<void(const Registers&)> check;
};

TEST_F(AssignTest, SetRows) {
  const RegCase cases[] = {
      {"F from $usedmoney",
       [](auto&) {
         return make(cpl::kSet, {F(1), Sys(cpl::kSysUsedMoney)});
       },
       {"通道0=>(0:0)Set F1"},
       [](const Registers& r) { EXPECT_EQ(r.F[1], 0.0); }},
      {"I from $chan",
       [](auto&) {
         return make(cpl::kSet, {I(1), Sys(cpl::kSysChan)});
       },
       {"通道0=>(0:0)Set I1=$chan(0)"},
       [](const Registers& r) { EXPECT_EQ(r.I[1], 0); }},
      {"I from $meet1",
       [](auto&) {
         return make(cpl::kSet, {I(1), Sys(3)});
       },
       {},
       [](const Registers& r) { EXPECT_EQ(r.I[1], 0); }},
      {"I from $caller",
       [](auto&) {
         return make(cpl::kSet, {I(1), Sys(cpl::kSysCaller)});
       },
       {"通道[0]Set 未知的系统变量1"},
       [](const Registers& r) { EXPECT_EQ(r.I[1], 0); }},
      {"$meet5 from I",
       [](auto&) {
         return make(cpl::kSet, {Sys(7), I(2)});
       },
       {"通道0=>(0:0)Set $meet5=I2(7)"},
       nullptr},
      {"$meet32 from int",
       [](auto&) {
         return make(cpl::kSet, {Sys(34), Int(12)});
       },
       {"通道0=>(0:0)Set $meet32=(12)"},
       nullptr},
      {"S from $caller",
       [](auto&) {
         return make(cpl::kSet, {S(1), Sys(cpl::kSysCaller)});
       },
       {"通道0=>(0:0)Set S1=$caller(13900001111)"},
       [](const Registers& r) { EXPECT_EQ(r.S[1], "13900001111"); }},
      {"S from $called",
       [](auto&) {
         return make(cpl::kSet, {S(1), Sys(cpl::kSysCalled)});
       },
       {"通道0=>(0:0)Set S1=$called(8888)"},
       [](const Registers& r) { EXPECT_EQ(r.S[1], "8888"); }},
      {"S from $callid",
       [](auto&) {
         return make(cpl::kSet, {S(1), Sys(cpl::kSysCallid)});
       },
       {"通道0=>(0:0)Set S1=$callid(2024010203040500)"},
       [](const Registers& r) { EXPECT_EQ(r.S[1], "2024010203040500"); }},
      {"S from $chan",
       [](auto&) {
         return make(cpl::kSet, {S(1), Sys(cpl::kSysChan)});
       },
       {},
       [](const Registers& r) { EXPECT_EQ(r.S[1], ""); }},
      {"I from I",
       [](auto&) {
         return make(cpl::kSet, {I(1), I(3)});
       },
       {"通道0=>(0:0)Set I1=I3[-9]"},
       [](const Registers& r) { EXPECT_EQ(r.I[1], -9); }},
      {"I from F",
       [](auto&) {
         return make(cpl::kSet, {I(1), F(2)});
       },
       {"通道0=>(0:0)Set I1=F2[2.750000]"},
       [](const Registers& r) { EXPECT_EQ(r.I[1], 2); }},
      {"I from int",
       [](auto&) {
         return make(cpl::kSet, {I(1), Int(10)});
       },
       {"通道0=>(0:0)Set I1=10"},
       [](const Registers& r) { EXPECT_EQ(r.I[1], 10); }},
      {"I from 2.9",
       [](auto&) {
         return make(cpl::kSet, {I(1), Flt(2.9)});
       },
       {"通道0=>(0:0)Set I1=2.900000"},
       [](const Registers& r) { EXPECT_EQ(r.I[1], 2); }},
      {"I from -2.9",
       [](auto&) {
         return make(cpl::kSet, {I(1), Flt(-2.9)});
       },
       {"通道0=>(0:0)Set I1=-2.900000"},
       [](const Registers& r) { EXPECT_EQ(r.I[1], -2); }},
      {"F from I",
       [](auto&) {
         return make(cpl::kSet, {F(1), I(3)});
       },
       {"通道0=>(0:0)Set F1=I3[-9]"},
       [](const Registers& r) { EXPECT_EQ(r.F[1], -9.0); }},
      {"F from F",
       [](auto&) {
         return make(cpl::kSet, {F(1), F(3)});
       },
       {"通道0=>(0:0)Set F1=F3[-0.500000]"},
       [](const Registers& r) { EXPECT_EQ(r.F[1], -0.5); }},
      {"F from flt",
       [](auto&) {
         return make(cpl::kSet, {F(1), Flt(1.25)});
       },
       {"通道0=>(0:0)Set F1=1.250000"},
       [](const Registers& r) { EXPECT_EQ(r.F[1], 1.25); }},
      {"F from int",
       [](auto&) {
         return make(cpl::kSet, {F(1), Int(-4)});
       },
       {"通道0=>(0:0)Set F1=-4"},
       [](const Registers& r) { EXPECT_EQ(r.F[1], -4.0); }},
      {"T from T",
       [](auto&) {
         return make(cpl::kSet, {T(1), T(2)});
       },
       {"通道0=>(0:0)Set T1=T2[2024-01-02 03:04:05]"},
       [](const Registers& r) { EXPECT_EQ(r.T[1], r.T[2]); }},
      {"T from a time constant",
       [](auto&) {
         return make(cpl::kSet, {T(1), Tm("20240101000000")});
       },
       {},
       [](const Registers& r) { EXPECT_EQ(r.T[1], 0); }},
      {"S from str",
       [](ScriptFixture& f) {
         return make(cpl::kSet, {S(1), f.str("x\xd6\xd0y")});
       },
       {"通道0=>(0:0)Set S1=x中y"},
       [](const Registers& r) { EXPECT_EQ(r.S[1], "x\xd6\xd0y"); }},
      {"S from S",
       [](auto&) {
         return make(cpl::kSet, {S(1), S(2)});
       },
       {"通道0=>(0:0)Set S1=S2[ab中]"},
       [](const Registers& r) { EXPECT_EQ(r.S[1], r.S[2]); }},
      {"I from S",
       [](auto&) {
         return make(cpl::kSet, {I(1), S(2)});
       },
       {"通道[0]Set命令类型不匹配"},
       [](const Registers& r) { EXPECT_EQ(r.I[1], 0); }},
      {"T from int",
       [](auto&) {
         return make(cpl::kSet, {T(1), Int(5)});
       },
       {"通道[0]Set命令类型不匹配"},
       [](const Registers& r) { EXPECT_EQ(r.T[1], 0); }},
      {"S from F",
       [](auto&) {
         return make(cpl::kSet, {S(1), F(2)});
       },
       {"通道[0]Set命令类型不匹配"},
       [](const Registers& r) { EXPECT_EQ(r.S[1], ""); }},
  };
  for (const RegCase& c : cases) {
    SCOPED_TRACE(c.name);
    host = FakeScriptHost();
    prime();
    EXPECT_EQ(runOne(c.rec(*this)), c.lines);
    if (c.check) c.check(regs());
  }
}

TEST_F(AssignTest, ArithmeticTypePairs) {
  struct Case {
    int16_t op;
    Operand dst, src;
    const char* line;
    double want;  // the destination afterwards
  };
  // Starting values: I1 = 10, F1 = 10.0, I2 = 7, I3 = -9, F2 = 2.75, F3 = -0.5.
  const Case cases[] = {
      {cpl::kAdd, I(1), I(2), "Add I1,I2[7]", 17},
      {cpl::kAdd, I(1), F(2), "Add I1,F2[2.750000]", 12},
      {cpl::kAdd, I(1), Int(2), "Add I1,[2]", 12},
      {cpl::kAdd, I(1), Flt(2.5), "Add I1,[2.500000]", 12},
      {cpl::kAdd, F(1), I(3), "Add F1,I3[-9]", 1.0},
      {cpl::kAdd, F(1), F(2), "Add F1,F2[2.750000]", 12.75},
      {cpl::kAdd, F(1), Int(2), "Add F1,[2]", 12.0},
      {cpl::kAdd, F(1), Flt(0.25), "Add F1,[0.250000]", 10.25},
      {cpl::kSub, I(1), I(3), "Sub I1,I3[-9]", 19},
      {cpl::kSub, I(1), F(2), "Sub I1,F2[2.750000]", 7},  // trunc(7.25)
      {cpl::kMul, I(1), F(3), "Mul I1,F3[-0.500000]", -5},
      {cpl::kMul, I(1), Flt(0.15), "Mul I1,[0.150000]", 1},
      {cpl::kDiv, I(1), I(3), "Div I1,I3[-9]", -1},
      {cpl::kDiv, I(1), F(2), "Div I1,F2[2.750000]", 5},  // 10 / trunc(2.75)
      {cpl::kDiv, I(1), Int(-3), "Div I1,[-3]", -3},
      {cpl::kDiv, I(1), Flt(0.5), "Div I1,[0.500000]", 20},
      {cpl::kDiv, F(1), I(3), "Div F1,I3[-9]", 10.0 / -9},
      {cpl::kDiv, F(1), Int(4), "Div F1,[4]", 2.5},
      {cpl::kDiv, F(1), Flt(0.0000001), "Div F1,[0.000000]", 1e8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    host = FakeScriptHost();
    prime();
    regs().I[1] = 10;
    regs().F[1] = 10.0;
    EXPECT_EQ(runOne(make(c.op, {c.dst, c.src})), Lines{std::string("通道0=>(0:0)") + c.line});
    if (c.dst.type == cpl::kOpI)
      EXPECT_EQ(regs().I[1], static_cast<int32_t>(c.want));
    else
      EXPECT_DOUBLE_EQ(regs().F[1], c.want);
  }
}

TEST_F(AssignTest, ZeroDivisorsAndOverflow) {
  struct Case {
    const char* name;
    Operand dst, src;
    int32_t i1, i2;
    double f1, f2;
    const char* line;  // empty: the division is carried out
  };
  const int32_t kMin = INT32_MIN;
  const Case cases[] = {
      {"I/I zero", I(1), I(2), 5, 0, 0, 0, "Div I1,I2[0]被除数不能够等于0"},
      {"I/I overflow", I(1), I(2), kMin, -1, 0, 0, "Div I1,I2[-1]被除数不能够等于0"},
      {"I/F at 1e-7", I(1), F(2), 5, 0, 0, 1e-7, "Div I1,F2[0]被除数不能够等于0"},
      {"I/F inside (-1,1)", I(1), F(2), 5, 0, 0, -0.75, "Div I1,F2[0]被除数不能够等于0"},
      {"I/F overflow", I(1), F(2), kMin, 0, 0, -1.5, "Div I1,F2[-1]被除数不能够等于0"},
      {"I/int zero", I(1), Int(0), 5, 0, 0, 0, "Div I1,[0]被除数不能够等于0"},
      {"I/flt at 1e-7", I(1), Flt(0.0000001), 5, 0, 0, 0, "Div I1,[0.000000]被除数不能够等于0"},
      {"I/flt above 1e-7", I(1), Flt(0.0000002), 5, 0, 0, 0, ""},
      {"F/I zero", F(1), I(2), 0, 0, 3, 0, "Div F1,I2[0]被除数不能够等于0"},
      {"F/F below 1e-7", F(1), F(2), 0, 0, 3, -5e-8, "Div F1,F2[-0.000000]被除数不能够等于0"},
      {"F/F at 1e-7", F(1), F(2), 0, 0, 3, 1e-7, ""},
      {"F/int zero", F(1), Int(0), 0, 0, 3, 0, "Div F1,[0]被除数不能够等于0"},
      {"F/flt below 1e-7", F(1), Flt(0.00000005), 0, 0, 3, 0, "Div F1,[0.000000]被除数不能够等于0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host = FakeScriptHost();
    regs().I[1] = c.i1;
    regs().I[2] = c.i2;
    regs().F[1] = c.f1;
    regs().F[2] = c.f2;
    Lines lines = runOne(make(cpl::kDiv, {c.dst, c.src}));
    ASSERT_EQ(lines.size(), 1u);
    if (*c.line) {
      EXPECT_EQ(lines[0], std::string("通道0=>(0:0)") + c.line);
      EXPECT_EQ(regs().I[1], c.i1);
      EXPECT_EQ(regs().F[1], c.f1);
    } else {
      EXPECT_EQ(lines[0].find("被除数"), std::string::npos);
      EXPECT_TRUE(regs().I[1] != c.i1 || regs().F[1] != c.f1);
    }
  }
}

TEST_F(AssignTest, IntegerOverflowWraps) {
  regs().I[1] = INT32_MAX;
  runOne(make(cpl::kAdd, {I(1), Int(1)}));
  EXPECT_EQ(regs().I[1], INT32_MIN);
  regs().I[1] = 65536;
  regs().I[2] = 65536;
  runOne(make(cpl::kMul, {I(1), I(2)}));
  EXPECT_EQ(regs().I[1], 0);
  // A result outside the 32-bit range through a double gives INT32_MIN.
  regs().I[1] = 2;
  regs().F[2] = 1e300;
  runOne(make(cpl::kMul, {I(1), F(2)}));
  EXPECT_EQ(regs().I[1], INT32_MIN);
}

TEST_F(AssignTest, ArithmeticTypeErrors) {
  auto withType = [](int16_t op, int field, uint8_t type) {
    Instruction rec = make(op, {I(1), I(2)});
    rec.setU8(cpl::kOpcodes[op].fields[field].at, type);
    return rec;
  };
  struct Case {
    Instruction rec;
    const char* line;
  } cases[] = {
      {withType(cpl::kAdd, 0, cpl::kOpS), "通道0=>(0:0)Add命令错误的参数类型"},
      {withType(cpl::kSub, 1, cpl::kOpStr), "通道0=>Sub命令错误的参数类型(1,7)"},
      {withType(cpl::kMul, 0, cpl::kOpT), "通道0=>Mul命令错误的参数类型"},
      {withType(cpl::kDiv, 1, cpl::kOpNone), "通道[0]Div命令错误的参数类型"},
  };
  for (const Case& c : cases) {
    regs().I[1] = 4;
    EXPECT_EQ(runOne(c.rec), Lines{c.line});
    EXPECT_EQ(regs().I[1], 4);
  }
}

TEST_F(AssignTest, IfComparisons) {
  struct Case {
    const char* name;
    std::function<Instruction(ScriptFixture&)> rec;
    const char* line;
    bool jumps;
  };
  auto cmp = [](Operand l, uint8_t rel, Operand r) {
    return [=](ScriptFixture&) { return make(cpl::kIf, {l, Byte(rel), r, Target(9)}); };
  };
  const Case cases[] = {
      {"I < I", cmp(I(3), cpl::kRelLess, I(2)), "通道0=>IF I3[-9]<I2[7] GOTO 9", true},
      {"I == int", cmp(I(2), cpl::kRelEq, Int(7)), "通道0=>IF I2[7]==7 GOTO 9", true},
      {"I < 2.5 truncates", cmp(I(4), cpl::kRelLess, Flt(2.5)), "通道0=>IF I4[2]<2.500000 GOTO 9",
       false},
      {"I <= F truncates", cmp(I(4), cpl::kRelLessEq, F(2)), "通道0=>IF I4[2]<=F2[2.750000] GOTO 9",
       true},
      {"F < 2.5", cmp(F(4), cpl::kRelLess, Flt(2.5)), "通道0=>IF F4[2.000000]<2.500000 GOTO 9",
       true},
      {"F < -1 signed", cmp(F(5), cpl::kRelLess, Int(-1)), "通道0=>IF F5[-2.000000]<-1 GOTO 9",
       true},
      {"F >= I", cmp(F(4), cpl::kRelGreaterEq, I(4)), "通道0=>IF F4[2.000000]>=I4[2] GOTO 9", true},
      {"F > F", cmp(F(4), cpl::kRelGreater, F(2)), "通道0=>IF F4[2.000000]>F2[2.750000] GOTO 9",
       false},
      {"T >= time", cmp(T(2), cpl::kRelGreaterEq, Tm("20240102030405")),
       "通道0=>IF T2[2024-01-02 03:04:05]>=2024-01-02 03:04:05 GOTO 9", true},
      {"T < T", cmp(T(3), cpl::kRelLess, T(2)),
       "通道0=>IF T3[1980-01-01 00:00:00]<T2[2024-01-02 03:04:05] GOTO 9", true},
      {"S == str is case-sensitive",
       [](ScriptFixture& f) {
         return make(cpl::kIf, {S(3), Byte(cpl::kRelEq), f.str("abc"), Target(9)});
       },
       "通道0=>IF S3[ABC]==abc GOTO 9", false},
      {"S < S byte-wise", cmp(S(3), cpl::kRelLess, S(2)), "通道0=>IF S3[ABC]<S2[ab中] GOTO 9",
       true},
      {"double-byte bytes sort above ASCII",
       [](ScriptFixture& f) {
         return make(cpl::kIf, {S(2), Byte(cpl::kRelGreater), f.str("abz"), Target(9)});
       },
       "通道0=>IF S2[ab中]>abz GOTO 9", true},
      {"F with T", cmp(F(4), cpl::kRelEq, T(2)), "通道[0]if命令比较类型参数错误", false},
      {"S with int", cmp(S(2), cpl::kRelEq, Int(1)), "通道[0]if命令比较类型参数错误", false},
      {"relation 5", cmp(I(2), 5, I(2)), "通道[0]if命令操作数错误", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host = FakeScriptHost();
    prime();
    regs().I[4] = 2;
    regs().F[4] = 2.0;
    regs().F[5] = -2.0;
    regs().S[3] = "ABC";
    regs().T[3] = local(1980, 1, 1);
    load({c.rec(*this), make(cpl::kAdd, {I(1), Int(1)})});
    start();
    host.pass();
    Lines lines = host.take();
    ASSERT_EQ(lines.size(), c.jumps ? 1u : 2u);
    EXPECT_EQ(lines[0], c.line);
    // A taken jump ends the pass before the add; otherwise the add runs.
    EXPECT_EQ(regs().I[1], c.jumps ? 0 : 1);
    if (c.jumps) {
      EXPECT_EQ(host.chans[0].pc, 9u);
    }
  }
}

TEST_F(AssignTest, Conversions) {
  const RegCase cases[] = {
      {"i2s",
       [](auto&) {
         return make(cpl::kI2s, {I(3), S(1)});
       },
       {"通道0=>(0:0)I2S  I3,S1"},
       [](const Registers& r) { EXPECT_EQ(r.S[1], "-9"); }},
      {"f2s",
       [](auto&) {
         return make(cpl::kF2s, {F(2), S(1)});
       },
       {"通道0=>(0:0)F2S  F2,S1"},
       [](const Registers& r) { EXPECT_EQ(r.S[1], "2.750000"); }},
      {"t2s",
       [](auto&) {
         return make(cpl::kT2s, {T(2), S(1)});
       },
       {"通道0=>(0:0)T2S  T2,S1"},
       [](const Registers& r) { EXPECT_EQ(r.S[1], "20240102030405"); }},
      {"s2i",
       [](auto&) {
         return make(cpl::kS2i, {S(4), I(1)});
       },
       {"通道0=>(0:0)S2I  S4,I1"},
       [](const Registers& r) { EXPECT_EQ(r.I[1], 12); }},
      {"s2i letters",
       [](auto&) {
         return make(cpl::kS2i, {S(5), I(1)});
       },
       {"通道0=>(0:0)S2I  S5,I1"},
       [](const Registers& r) { EXPECT_EQ(r.I[1], 0); }},
      {"s2i blanks",
       [](auto&) {
         return make(cpl::kS2i, {S(6), I(1)});
       },
       {"通道0=>(0:0)S2I  S6,I1"},
       [](const Registers& r) { EXPECT_EQ(r.I[1], -7); }},
      {"s2i saturates",
       [](auto&) {
         return make(cpl::kS2i, {S(7), I(1)});
       },
       {"通道0=>(0:0)S2I  S7,I1"},
       [](const Registers& r) { EXPECT_EQ(r.I[1], INT32_MAX); }},
      {"s2f",
       [](auto&) {
         return make(cpl::kS2f, {S(8), F(1)});
       },
       {"通道0=>(0:0)S2F  S8,F1"},
       [](const Registers& r) { EXPECT_EQ(r.F[1], -1.5e3); }},
      {"s2f hex is no number",
       [](auto&) {
         return make(cpl::kS2f, {S(9), F(1)});
       },
       {"通道0=>(0:0)S2F  S9,F1"},
       [](const Registers& r) { EXPECT_EQ(r.F[1], 0.0); }},
      {"s2t",
       [](auto&) {
         return make(cpl::kS2t, {S(10), T(1)});
       },
       {"通道0=>(0:0)S2T  S10,T1"},
       [](const Registers& r) { EXPECT_EQ(r.T[1], local(2024, 3, 1, 12)); }},
      {"s2t of 4 digits",
       [](auto&) {
         return make(cpl::kS2t, {S(11), T(1)});
       },
       {"通道0=>(0:0)S2T  S11,T1"},
       [](const Registers& r) { EXPECT_EQ(r.T[1], local(1980, 1, 1, 1, 1, 1)); }},
  };
  for (const RegCase& c : cases) {
    SCOPED_TRACE(c.name);
    host = FakeScriptHost();
    prime();
    Registers& r = regs();
    r.S[4] = "12ab";
    r.S[5] = "ab";
    r.S[6] = " \t-7x";
    r.S[7] = "99999999999";
    r.S[8] = "  -1.5e3kg";
    r.S[9] = "0x10";
    r.S[10] = "20240230120000";
    r.S[11] = "2024";
    EXPECT_EQ(runOne(c.rec(*this)), c.lines);
    c.check(regs());
  }
}

}  // namespace
}  // namespace interp
