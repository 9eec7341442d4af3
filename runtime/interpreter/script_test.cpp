// The block handler: entry, pass boundaries, control transfers, print,
// resetchan, commands passed over, refused operands and time texts.
#include "runtime/interpreter/script.h"

#include "runtime/interpreter/script_test_util.h"

namespace interp {
namespace {

using namespace testing;

class ScriptTest : public ScriptFixture {};

// n straight-line `add i1, 1` records.
std::vector<Instruction> counting(int n) {
  return std::vector<Instruction>(static_cast<size_t>(n), make(cpl::kAdd, {I(1), Int(1)}));
}

TEST_F(ScriptTest, EntryPassRunsNothing) {
  load(counting(3));
  host.enter(0, 0);
  host.pass();
  EXPECT_EQ(host.take(), Lines{"通道0=>(0)Script命令"});
  EXPECT_EQ(host.chans[0].lineState, 6);
  EXPECT_EQ(host.chans[0].step, 10);
  EXPECT_EQ(regs().I[1], 0);
}

TEST_F(ScriptTest, EmptyBlockLeavesAtOnce) {
  load({}, 5);
  host.enter(0, 0);
  host.pass();
  EXPECT_EQ(host.take(),
            (Lines{"通道0=>(0)Script命令", "通道0读取ivr命令编号5溢出!", "通道0复位"}));
}

TEST_F(ScriptTest, PassesEndOnMultiplesOfFifty) {
  load(counting(120));
  start();
  const int want[] = {50, 100, 120};
  for (int n : want) {
    host.pass();
    EXPECT_EQ(regs().I[1], n);
  }
  // The third pass ran the last 20 and left through the default exit.
  EXPECT_EQ(host.chans[0].block, 1);
  host.take();
  host.pass();
  EXPECT_TRUE(host.take().empty());
}

TEST_F(ScriptTest, PassLimitCountsOnTheProgramCounter) {
  // A jump to 45 leaves only 5 instructions for the next pass (45..49).
  std::vector<Instruction> code = counting(100);
  code[0] = make(cpl::kGoto, {Target(45)});
  load(code);
  start();
  host.pass();
  EXPECT_EQ(regs().I[1], 0);
  host.pass();
  EXPECT_EQ(regs().I[1], 5);
  EXPECT_EQ(host.chans[0].pc, 50u);
}

TEST_F(ScriptTest, ControlTransfers) {
  struct Case {
    const char* name;
    std::vector<Instruction> code;
    int passes;
    int wantI1;
    int32_t wantBlock;
    Lines wantLines;
  };
  const Instruction inc = make(cpl::kAdd, {I(1), Int(1)});
  const Case cases[] = {
      {"goto the next record still ends the pass",
       {make(cpl::kGoto, {Target(1)}), inc, inc},
       1,
       0,
       0,
       {}},
      {"goto past the end leaves by the default exit a pass later",
       {make(cpl::kGoto, {Target(7)}), inc},
       1,
       0,
       0,
       {}},
      {"goto past the end, second pass", {make(cpl::kGoto, {Target(7)}), inc}, 2, 0, 1, {}},
      {"gotodef logs before leaving",
       {inc, make(cpl::kGotodef, {}), inc},
       1,
       1,
       1,
       {"通道0=>(0:0)Add I1,[1]", "通道0=>(0:1)GotoDef"}},
      {"gotoout logs the new block and counter",
       {inc, make(cpl::kGotoout, {Operand::label(cpl::PoolRef{}, 1)}), inc},
       1,
       1,
       1,
       {"通道0=>(0:0)Add I1,[1]", "通道0=>(1:0)GotoOut 1"}},
      {"end of records leaves silently",
       {inc, inc},
       1,
       2,
       1,
       {"通道0=>(0:0)Add I1,[1]", "通道0=>(0:1)Add I1,[1]"}},
      {"commands the runtime does not run are passed over",
       {make(cpl::kStop, {}), make(cpl::kCallfunc, {S(1), Int(2), I(3)}), make(cpl::kPush, {I(1)}),
        make(cpl::kPop, {I(1)}), make(cpl::kSleep, {Int(100)}), make(cpl::kLabelOnly, {}),
        make(cpl::kCmpd, {I(1), Int(3), I(2)}), make(cpl::kPlaydtmf, {S(1)}), inc},
       1,
       1,
       1,
       {"通道0=>(0:8)Add I1,[1]"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host = FakeScriptHost();
    load(c.code);
    start();
    for (int i = 0; i < c.passes; ++i)
      host.pass();
    EXPECT_EQ(regs().I[1], c.wantI1);
    EXPECT_EQ(host.chans[0].block, c.wantBlock);
    EXPECT_EQ(host.take(), c.wantLines);
  }
}

TEST_F(ScriptTest, GotooutNowhereEndsTheCall) {
  load({make(cpl::kGotoout, {Operand::label(cpl::PoolRef{}, cpl::NO_TARGET)})});
  start();
  regs().I[4] = 9;
  host.pass();
  EXPECT_EQ(host.take(), (Lines{"通道0读取ivr命令编号9999999溢出!", "通道0复位",
                                "通道0=>(0:0)GotoOut 9999999"}));
  EXPECT_FALSE(host.chans[0].inCall);
  EXPECT_EQ(regs().I[4], 0);
}

TEST_F(ScriptTest, Print) {
  regs().I[2] = -7;
  regs().F[3] = 2.5;
  regs().S[4] = "\xc4\xe3\xba\xc3";  // GBK 你好
  regs().T[5] = local(2024, 5, 6, 7, 8, 9);
  struct Case {
    Operand op;
    const char* want;
  } cases[] = {
      {I(2), "通道0=>(0:0)Print I2=-7"},
      {F(3), "通道0=>(0:0)Print F3=2.500000"},
      {S(4), "通道0=>(0:0)Print S4=你好"},
      {T(5), "通道0=>(0:0)Print T5=2024-05-06 07:08:09"},
  };
  for (const Case& c : cases) {
    Registers keep = regs();
    EXPECT_EQ(runOne(make(cpl::kPrint, {c.op})), Lines{c.want});
    regs() = keep;
  }
  Instruction bad = make(cpl::kPrint, {I(2)});
  bad.setU8(cpl::kOpcodes[cpl::kPrint].fields[0].at, cpl::kOpInt);
  EXPECT_EQ(runOne(bad), Lines{"通道0=>(0:0)Print 命令错误"});
}

TEST_F(ScriptTest, ResetchanOfTheRunningChannelGoesOn) {
  load({make(cpl::kSet, {I(1), Int(5)}), make(cpl::kResetchan, {Sys(cpl::kSysChan)}),
        make(cpl::kAdd, {I(2), Int(3)})});
  start(2);
  host.chans[2].regs.S[0] = "x";
  host.pass();
  EXPECT_EQ(host.take(), (Lines{"通道2=>(0:0)Set I1=5", "通道2复位", "通道2=>(0:1)ResetChan 2 OK",
                                "通道2=>(0:2)Add I2,[3]"}));
  EXPECT_EQ(host.chans[2].regs.I[1], 0);
  EXPECT_EQ(host.chans[2].regs.I[2], 3);
  EXPECT_EQ(host.chans[2].regs.S[0], "");
  EXPECT_FALSE(host.chans[2].inCall);
}

// Once the running channel is reset its bank may be reloaded under it; the
// rest of the pass runs on what the block held when it was reset.
TEST_F(ScriptTest, ResetchanOfTheRunningChannelSurvivesAReload) {
  const Operand text = str("after");
  load({make(cpl::kResetchan, {Sys(cpl::kSysChan)}), make(cpl::kSet, {S(1), text}),
        make(cpl::kStrcat, {S(1), text})});
  host.reloadOnReset = true;
  start(1);
  host.pass();
  EXPECT_EQ(host.take(), (Lines{"通道1复位", "通道1=>(0:0)ResetChan 1 OK",
                                "通道1=>(0:1)Set S1=after", "通道1=>(0:2)StrCat S1,after"}));
  EXPECT_EQ(host.chans[1].regs.S[1], "afterafter");
}

TEST_F(ScriptTest, ResetchanOfOtherChannels) {
  struct Case {
    Operand op;
    int i5;
    const char* want;
    int resets;
  } cases[] = {
      {Int(3), 0, "通道0=>(0:0)ResetChan 3 OK", 1},
      {I(5), 1, "通道0=>(0:0)ResetChan 1 OK", 1},
      {Int(4), 0, "通道0=>(0:0)ResetChan 4 通道号超出范围,不复位", 0},
      {I(5), -1, "通道0=>(0:0)ResetChan -1 通道号超出范围,不复位", 0},
      {Int(0x10003), 0, "通道0=>(0:0)ResetChan 3 OK", 1},  // low 16 bits
  };
  for (const Case& c : cases) {
    host = FakeScriptHost();
    regs().I[5] = c.i5;
    Lines lines = runOne(make(cpl::kResetchan, {c.op}));
    EXPECT_EQ(lines.back(), c.want);
    EXPECT_EQ(host.resets, c.resets);
    EXPECT_TRUE(host.chans[0].inCall);
  }
}

// Records no compiler writes: each is refused with a line and changes nothing.
TEST_F(ScriptTest, RefusedOperands) {
  auto patched = [](Instruction rec, int field, int delta, uint8_t value) {
    rec.setU8(cpl::kOpcodes[rec.opcode()].fields[field].at + delta, value);
    return rec;
  };
  struct Case {
    const char* name;
    Instruction rec;
    const char* want;
  };
  const Case cases[] = {
      {"bare register above 31", patched(make(cpl::kI2s, {I(1), S(2)}), 1, 0, 32),
       "通道0=>(0:0)i2s命令的第2个操作数寄存器号32无效,命令不执行"},
      {"operand register above 31", patched(make(cpl::kSet, {I(1), I(2)}), 1, 1, 200),
       "通道0=>(0:0)set命令的第2个操作数寄存器号200无效,命令不执行"},
      {"if register above 31", patched(make(cpl::kIf, {I(1), Byte(0), I(2), Target(0)}), 0, 1, 99),
       "通道0=>(0:0)if命令的第1个操作数寄存器号99无效,命令不执行"},
      {"type outside the layout",
       patched(make(cpl::kStrmid, {Int(1), Int(2), S(1), S(2)}), 0, 0, 4),
       "通道0=>(0:0)strmid命令的第1个操作数类型4无效,命令不执行"},
      {"getformattime into a non-S operand",
       patched(make(cpl::kGetformattime, {Int(1), S(3)}), 1, 0, 1),
       "通道0=>(0:0)getformattime命令的第2个操作数类型1无效,命令不执行"},
      {"resetchan of a string", patched(make(cpl::kResetchan, {Int(1)}), 0, 0, cpl::kOpS),
       "通道0=>(0:0)resetchan命令的第1个操作数类型4无效,命令不执行"},
      {"pool reference past the end",
       [] {
         Instruction r = make(cpl::kStrcat, {S(1), Operand::strConst({4090, 7})});
         return r;
       }(),
       "通道0=>(0:0)strcat命令的第2个操作数字符串引用(4090,7)超出字符串池,命令不执行"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host = FakeScriptHost();
    regs().S[1] = "keep";
    Registers before = regs();
    EXPECT_EQ(runOne(c.rec), Lines{c.want});
    EXPECT_EQ(regs().S, before.S);
    EXPECT_EQ(regs().I, before.I);
    EXPECT_EQ(host.resets, 0);
  }
  // A reference that ends exactly at the pool's end is read.
  host = FakeScriptHost();
  host.strings.bytes()[4095] = 'z';
  EXPECT_EQ(runOne(make(cpl::kStrcat, {S(1), Operand::strConst({4095, 1})})),
            Lines{"通道0=>(0:0)StrCat S1,z"});
}

TEST_F(ScriptTest, OpcodeOutsideTheTableIsPassedOver) {
  Instruction odd(0, 500);
  load({odd, Instruction(0, -3), make(cpl::kAdd, {I(1), Int(1)})});
  start();
  host.pass();
  EXPECT_EQ(host.take(), Lines{"通道0=>(0:2)Add I1,[1]"});
}

TEST_F(ScriptTest, DatabaseCommandsWithoutADatabaseFailAsErrors) {
  host.chans[0].regs.I[2] = 7;
  host.chans[0].regs.I[1] = 7;
  load({make(cpl::kPreparesql, {Operand::strConst(host.strings.append("select 1").value())}),
        make(cpl::kSqlopen, {Int(1), I(2)}), make(cpl::kEof, {I(1)}),
        make(cpl::kGetfieldi, {Int(1), I(3)})});
  start();
  host.pass();
  EXPECT_EQ(host.take(),
            (Lines{"通道0=>(0:0)PrepareSQL[select 1]", "通道 0 (外线) : 数据库操作失败! ErrCode=-1",
                   "通道 0 (外线) : strError=no database connection",
                   "通道 0 (外线) : sql=select 1", "通道0=>EOF [I1=1]"}));
  EXPECT_EQ(host.chans[0].regs.I[2], 0);  // sqlopen's result
  EXPECT_EQ(host.chans[0].regs.I[1], 1);  // no current record: a read loop ends
}

TEST_F(ScriptTest, TextToTime) {
  const int32_t fallback = local(1980, 1, 1, 1, 1, 1);
  struct Case {
    const char* text;
    int32_t want;
  } cases[] = {
      {"20240101120000", local(2024, 1, 1, 12)},
      {"20240230120000", local(2024, 3, 1, 12)},  // the day rolls over
      {"20241231240000", local(2025, 1, 1, 0)},   // hour 24 is accepted
      {"2024", fallback},
      {"202401011200000", fallback},
      {"19791231235959", fallback},
      {"20241301000000", fallback},
      {"20240100000000", fallback},
      {"20240101006100", fallback},
      {"19800101000000", local(1980, 1, 1)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(textToTime(c.text), c.want) << c.text;
  // Beyond 2038 the 32-bit value cannot hold the date.
  EXPECT_EQ(textToTime("21000101000000"), -1);
}

}  // namespace
}  // namespace interp
