// Script blocks inside the real runtime: a compiled flow loaded from a file,
// a simulated call, the scan pass dispatching to the interpreter.
#include <gtest/gtest.h>

#include "flowfile/encode.h"
#include "runtime/callproc/test_support.h"

namespace callproc {
namespace {

using cpl::Instruction;
using cpl::Operand;

Instruction make(int16_t op, std::initializer_list<Operand> ops) {
  auto rec = cpl::buildInstruction(0, op, ops);
  EXPECT_TRUE(rec.has_value());
  return rec.value_or(Instruction(0, op));
}

class RuntimeScriptTest : public testing::RuntimeFixture {
 protected:
  // start -> script block 1 -> (default exit) play block 2.
  std::string flow(std::vector<Instruction> code, cpl::StringPool& pool) {
    cpl::CplWriter w;
    auto start = cpl::blankRecord(cpl::kKindStart);
    cpl::setExit(start, 0, 1);
    w.addRecord(start);
    w.addScript(code, 2);
    w.addRecord(cpl::blankRecord(cpl::kKindPlayVoice));
    return dir_.write("s.cpl", w.finish(pool));
  }
  void call(const std::string& path, int c = 2) {
    ASSERT_EQ(startWith({{0, path, "voc"}}, {{"8888", 0}}), StartResult::kRunning);
    rt_.post(KeyCallEvent{c, KeyCallEvent::kBegin, "13900001111"});
    passes(2);  // answer, start block
    sink_.clear();
  }
};

TEST_F(RuntimeScriptTest, RunsOnTheCallsRegistersAndLeaves) {
  cpl::StringPool pool;
  auto tail = pool.append("-\xd6\xd0").value();
  std::string path =
      flow({make(cpl::kSet, {Operand::regOf(cpl::kOpS, 1), Operand::sys(1)}),
            make(cpl::kStrcat, {Operand::regOf(cpl::kOpS, 1), Operand::strConst(tail)}),
            make(cpl::kSet, {Operand::regOf(cpl::kOpS, 2), Operand::sys(2)}),
            make(cpl::kSet, {Operand::regOf(cpl::kOpI, 1), Operand::sys(35)}),
            make(cpl::kPrint, {Operand::regOf(cpl::kOpS, 1)})},
           pool);
  call(path);
  passes(1);
  EXPECT_EQ(sink_.texts(), std::vector<std::string>{"通道2=>(1)Script命令"});
  EXPECT_EQ(rt_.channels().record(2).lineState(), CHAN_LINE_IN_FLOW);
  sink_.clear();
  passes(1);
  EXPECT_EQ(sink_.texts(), (std::vector<std::string>{
                               "通道2=>(1:0)Set S1=$caller(13900001111)",
                               "通道2=>(1:1)StrCat S1,-中",
                               "通道2=>(1:2)Set S2=$called(8888)",
                               "通道2=>(1:3)Set I1=$chan(2)",
                               "通道2=>(1:4)Print S1=13900001111-中",
                           }));
  EXPECT_EQ(rt_.channels().regs(2).I[1], 2);
  EXPECT_EQ(rt_.channels().regs(2).S[1], "13900001111-\xd6\xd0");
  EXPECT_EQ(rt_.channels().current(2).kind(), cpl::kKindPlayVoice);
  EXPECT_EQ(rt_.channels().step(2).blockIndex, 2);
}

TEST_F(RuntimeScriptTest, ResetchanReleasesTheBankAndTheScriptGoesOn) {
  cpl::StringPool pool;
  auto text = pool.append("after").value();
  std::string path = flow({make(cpl::kResetchan, {Operand::sys(35)}),
                           make(cpl::kSet, {Operand::regOf(cpl::kOpS, 3), Operand::strConst(text)}),
                           make(cpl::kGotoout, {Operand::label(cpl::PoolRef{}, 2)})},
                          pool);
  call(path);
  passes(2);
  EXPECT_EQ(sink_.texts(), (std::vector<std::string>{
                               "通道2=>(1)Script命令",
                               "通道2复位",
                               "通道2=>(1:0)ResetChan 2 OK",
                               "通道2=>(1:1)Set S3=after",
                               "通道2=>(1:2)GotoOut 2",
                           }));
  EXPECT_EQ(rt_.flows().state(0, rt_.channels().record(2).bank()).useCount, 0);
  EXPECT_EQ(rt_.channels().current(2).kind(), cpl::kKindWaitCall);
  EXPECT_EQ(rt_.channels().regs(2).S[3], "after");
}

// The sample project's script block "check" (block 4), as flowdesigner
// compiled it during the build: S1 holds the digits keyed in. One call
// enters the block again for each case.
TEST_F(RuntimeScriptTest, SampleFlowScriptBlock) {
  struct Case {
    const char* digits;
    const char* gotoout;
    int16_t kind;
    int32_t i3;
    int passes;  // a taken jump ends a pass; the next block must not run yet
  };
  const Case cases[] = {
      {"12", "通道2=>(2:0)GotoOut 2", cpl::kKindDigit, 0, 3},           // "retry": too short
      {"1234", "通道2=>(6:0)GotoOut 6", cpl::kKindPlayTts, 925, 2},     // "small"
      {"5002", "通道2=>(7:0)GotoOut 7", cpl::kKindPlayVoice, 3751, 3},  // "large"
  };
  // Pass by pass: the block's statement runs within its pass, as the call
  // simulation runs it, not on the database worker.
  rt_.setDatabaseInline(true);
  call(OLVARO_SAMPLE_CPL);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.digits);
    sink_.clear();
    rt_.channels().regs(2).S[1] = k.digits;
    rt_.gotoBlock(2, 4);
    passes(k.passes);
    EXPECT_TRUE(saw("通道2=>(4)Script命令"));
    EXPECT_TRUE(saw(k.gotoout));
    EXPECT_EQ(rt_.channels().current(2).kind(), k.kind);
    EXPECT_EQ(rt_.channels().regs(2).I[3], k.i3);
  }
  EXPECT_TRUE(saw("通道2=>(4:12)Print S2=号码5002=3751"));
}

}  // namespace
}  // namespace callproc
