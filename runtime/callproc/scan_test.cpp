#include <gtest/gtest.h>

#include "flowfile/encode.h"
#include "runtime/callproc/test_support.h"
#include "runtime/interpreter/loader.h"

namespace callproc {
namespace {

using testing::RuntimeFixture;
using testing::simpleFlow;

class ScanTest : public RuntimeFixture {};

TEST_F(ScanTest, StartUpUnderSimulatedAccess) {
  fake_.channelCount = 0;  // no hardware answers
  ASSERT_EQ(startWith({{0, dir_.write("a.cpl", simpleFlow()), "voc"}}, {{"8888", 0}}),
            StartResult::kRunning);
  auto texts = sink_.texts();
  std::vector<std::string> want = {"硬件初始化失败", "系统处于模拟呼叫状态，模拟通道数=8",
                                   "加载流程和流程触发设置成功"};
  EXPECT_EQ(texts, want);
  EXPECT_EQ(rt_.channelCount(), 8);
  // Outer lines are flushed and put on-hook before the table is handed over.
  auto calls = fake_.calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0], "InitQam");
  EXPECT_EQ(calls[1], "CTIFlushDTMF(0,0)");
  EXPECT_EQ(calls[2], "CTISetOutHook(0)");
  EXPECT_EQ(calls.back(), "SetChanDataMem");
  EXPECT_EQ(fake_.table(), rt_.channels().recordTable());
  EXPECT_EQ(rt_.channels().record(7).lineNumber(), "8888");
}

TEST_F(ScanTest, AnswersAndRunsTheStartBlock) {
  ASSERT_EQ(startWith({{0, dir_.write("a.cpl", simpleFlow()), "voc"}}, {{"8888", 0}}),
            StartResult::kRunning);
  // A simulated caller's call arrives through the inbox.
  rt_.post(KeyCallEvent{2, KeyCallEvent::kBegin, "13900001111"});
  sink_.clear();
  rt_.scanPass();
  EXPECT_EQ(sink_.texts(),
            (std::vector<std::string>{"13900001111从通道2打进8888", "2 find ivrfile,exec it"}));
  ChanRecord rec = rt_.channels().record(2);
  EXPECT_EQ(rec.lineState(), CHAN_LINE_IN_FLOW);
  EXPECT_EQ(rec.answerMark(), 1);
  EXPECT_EQ(rec.answerKind(), 2);
  EXPECT_EQ(rec.callerNumber(), "13900001111");
  EXPECT_EQ(rec.callId(), "2023111506132002");  // 1700000000 in Shanghai, channel 2
  EXPECT_TRUE(fake_.called("CTIOpenMCI"));
  EXPECT_EQ(rt_.channels().current(2).kind(), cpl::kKindStart);

  sink_.clear();
  rt_.scanPass();
  EXPECT_EQ(sink_.texts(), std::vector<std::string>{"通道2执行Start命令"});
  EXPECT_EQ(rt_.channels().current(2).kind(), cpl::kKindPlayVoice);
  EXPECT_EQ(rt_.channels().step(2).blockIndex, 1);

  // The next block's handler takes over at the next pass.
  sink_.clear();
  passes(3);
  EXPECT_TRUE(saw("通道2=>(1)PlayFile(语音文件=(0);文件类型=0;播放通道=2)"));
  EXPECT_EQ(rt_.channels().current(2).kind(), cpl::kKindPlayVoice);
  ASSERT_TRUE(std::holds_alternative<PlayVoiceState>(rt_.channels().step(2).state));
  EXPECT_EQ(std::get<PlayVoiceState>(rt_.channels().step(2).state).step, PlayVoiceStep::kPlaying);
  EXPECT_EQ(static_cast<int>(PlayVoiceStep::kPlaying), 10);
}

TEST_F(ScanTest, ExitLeadingNowhereResetsTheChannel) {
  ASSERT_EQ(startWith({{0, dir_.write("a.cpl", simpleFlow(5)), "voc"}}, {{"8888", 0}}),
            StartResult::kRunning);
  fake_.ring(0);
  passes(1);
  rt_.channels().regs(0).I[3] = 42;
  rt_.channels().regs(0).S[1] = "x";
  sink_.clear();
  fake_.clearCalls();
  passes(1);
  EXPECT_EQ(sink_.texts(), (std::vector<std::string>{"通道0执行Start命令",
                                                     "通道0读取ivr命令编号5溢出!", "通道0复位"}));
  EXPECT_EQ(rt_.channels().current(0).kind(), cpl::kKindWaitCall);
  EXPECT_EQ(rt_.channels().regs(0).I[3], 0);
  EXPECT_EQ(rt_.channels().regs(0).S[1], "");
  EXPECT_EQ(rt_.channels().regs(0).T[0], interp::localTime1980());
  EXPECT_EQ(rt_.flows().state(0, 0).useCount, 0);
  for (const char* c :
       {"CTIStopPlayFile(0,0)", "CTIClearKeyDtmf(0)", "CTISetOutHook(0)", "CTICloseMCI"})
    EXPECT_TRUE(fake_.called(c)) << c;
}

// The reset observer sees the call's registers before they are cleared, and
// is told whether a call was on the channel.
TEST_F(ScanTest, ResetObserverSeesTheRegistersOfTheCallThatEnded) {
  ASSERT_EQ(startWith({{0, dir_.write("a.cpl", simpleFlow(5)), "voc"}}, {{"8888", 0}}),
            StartResult::kRunning);
  std::vector<std::pair<int, bool>> seen;
  int32_t i3 = -1;
  rt_.setResetObserver([&](int c, bool inCall) {
    seen.emplace_back(c, inCall);
    i3 = rt_.channels().regs(c).I[3];
  });
  fake_.ring(0);
  passes(1);
  rt_.channels().regs(0).I[3] = 42;
  passes(1);
  ASSERT_EQ(seen, (std::vector<std::pair<int, bool>>{{0, true}}));
  EXPECT_EQ(i3, 42);
  EXPECT_EQ(rt_.channels().regs(0).I[3], 0);
  rt_.resetChannel(1);  // nothing on it
  EXPECT_EQ(seen.back(), std::make_pair(1, false));
}

TEST_F(ScanTest, NoTriggerHangsUpAfter1500msAcrossTheTickWrap) {
  struct Case {
    uint32_t startTick;
    uint32_t notYet, hungUp;  // ms after the delay starts
  } cases[] = {
      {1000, 1500, 1501},
      // Across the wrap the difference reads one short: 0xFFFFFFFF - start + now.
      {0xFFFFFFFFu - 999, 1501, 1502},
  };
  ASSERT_EQ(startWith({{0, dir_.write("a.cpl", simpleFlow()), "voc"}}, {{"7777", 0}}),
            StartResult::kRunning);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.startTick);
    clock_.setTicks(c.startTick);
    fake_.ring(1);
    sink_.clear();
    passes(2);  // the call arrives, then the delay starts
    EXPECT_TRUE(saw("1通道没有发现IVR流程，通道挂机"));
    EXPECT_EQ(rt_.channels().current(1).kind(), cpl::kKindDelayedHangup);
    clock_.setTicks(c.startTick + c.notYet);
    passes(1);
    EXPECT_FALSE(saw("通道1复位"));
    clock_.setTicks(c.startTick + c.hungUp);
    fake_.clearCalls();
    passes(1);
    EXPECT_TRUE(saw("通道1复位"));
    EXPECT_EQ(fake_.calls().front(), "CTISetOutHook(1)");
    EXPECT_EQ(rt_.channels().current(1).kind(), cpl::kKindWaitCall);
  }
}

// Flows that never notice the caller's hang-up: a Start block whose exit
// leads back to itself, and a script that loops without end.
std::vector<uint8_t> startLoopFlow() {
  return simpleFlow(0, 0);
}
std::vector<uint8_t> scriptLoopFlow() {
  cpl::CplWriter w;
  auto start = cpl::blankRecord(cpl::kKindStart);
  cpl::setExit(start, 0, 1);
  w.addRecord(start);
  auto loop = cpl::buildInstruction(0, cpl::kGoto, {cpl::Operand::label(cpl::PoolRef{}, 0)});
  EXPECT_TRUE(loop.has_value());
  std::vector<cpl::Instruction> code = {*loop};
  w.addScript(code, cpl::NO_TARGET);
  return w.finish(cpl::StringPool{});
}

TEST_F(ScanTest, HungUpChannelIsResetAfterTheLimit) {
  struct Case {
    const char* name;
    std::vector<uint8_t> flow;
    int limit;  // seconds; -1: the default of the configuration
    uint32_t startTick;
  } cases[] = {
      {"start block leading to itself", startLoopFlow(), -1, 1000},
      {"script loop", scriptLoopFlow(), -1, 1000},
      {"a shorter limit", scriptLoopFlow(), 5, 1000},
      {"across the tick counter's wrap", startLoopFlow(), 5, 0xFFFFFFFFu - 3000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(startWith({{0, dir_.write("loop.cpl", c.flow), "voc"}}, {{"8888", 0}}),
              StartResult::kRunning);
    if (c.limit >= 0) rt_.setHangupLimit(c.limit);
    const uint32_t limitMs = (c.limit >= 0 ? c.limit : 60) * 1000u;
    clock_.setTicks(c.startTick);
    fake_.ring(3);
    passes(3);
    ASSERT_NE(rt_.channels().current(3).kind(), cpl::kKindWaitCall);
    // A caller who stays may keep the line as long as the flow likes.
    clock_.advance(10 * limitMs);
    passes(1);
    ASSERT_NE(rt_.channels().current(3).kind(), cpl::kKindWaitCall);

    fake_.hangUp(3);
    sink_.clear();
    passes(1);  // the hang-up is seen
    clock_.advance(limitMs);
    passes(1);
    EXPECT_NE(rt_.channels().current(3).kind(), cpl::kKindWaitCall) << "not before the limit";
    EXPECT_FALSE(saw("通道3复位"));
    clock_.advance(1);
    fake_.clearCalls();
    passes(1);
    EXPECT_TRUE(
        saw("通道3的来电已挂机" + std::to_string(limitMs / 1000) + "秒,流程仍未复位通道,通道复位"));
    EXPECT_TRUE(saw("通道3复位"));
    EXPECT_EQ(rt_.channels().current(3).kind(), cpl::kKindWaitCall);
    EXPECT_TRUE(fake_.called("CTISetOutHook(3)"));
    EXPECT_EQ(rt_.flows().state(0, 0).useCount + rt_.flows().state(0, 1).useCount, 0);

    // The line takes the next call.
    sink_.clear();
    fake_.ring(3);
    passes(1);
    EXPECT_TRUE(saw("3 find ivrfile,exec it"));
    rt_.resetChannel(3);
  }
}

TEST_F(ScanTest, HungUpLimitZeroNeverResets) {
  ASSERT_EQ(startWith({{0, dir_.write("loop.cpl", startLoopFlow()), "voc"}}, {{"8888", 0}}),
            StartResult::kRunning);
  rt_.setHangupLimit(0);
  fake_.ring(1);
  passes(2);
  fake_.hangUp(1);
  for (int i = 0; i < 10; ++i) {
    clock_.advance(3600 * 1000);
    passes(1);
  }
  EXPECT_NE(rt_.channels().current(1).kind(), cpl::kKindWaitCall);
}

// A flow that notices the hang-up resets the channel itself: the limit
// never speaks for it, and a later call is timed afresh.
TEST_F(ScanTest, HungUpLimitLeavesFlowsThatEndTheCall) {
  ASSERT_EQ(startWith({{0, dir_.write("a.cpl", simpleFlow()), "voc"}}, {{"8888", 0}}),
            StartResult::kRunning);
  rt_.setHangupLimit(1);
  fake_.ring(2);
  passes(3);  // answer, start, play voice
  fake_.hangUp(2);
  passes(1);  // the playback block leaves by its hang-up exit, which leads nowhere
  EXPECT_EQ(rt_.channels().current(2).kind(), cpl::kKindWaitCall);
  clock_.advance(5000);
  fake_.ring(2);
  passes(3);
  clock_.advance(5000);
  passes(1);
  EXPECT_NE(rt_.channels().current(2).kind(), cpl::kKindWaitCall) << "the caller is still there";
  EXPECT_FALSE(saw("通道2的来电已挂机1秒,流程仍未复位通道,通道复位"));
}

TEST(HangupTimeoutKey, ReadFromTheSystemSection) {
  struct Case {
    const char* ini;
    int want;
    bool warns;
  } cases[] = {
      {"", 60, false},
      {"[System]\nhanguptimeout=120\n", 120, false},
      {"[System]\nhanguptimeout=0\n", 0, false},
      {"[System]\nhanguptimeout=-5\n", 60, true},
      {"[System]\nhanguptimeout=ten\n", 0, true},  // as every malformed number: 0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    testing::TempDir dir;
    SysConfig cfg = readSysConfig(platform::IniFile(dir.write("sysconfig.ini", c.ini)));
    EXPECT_EQ(cfg.hanguptimeout, c.want);
    EXPECT_EQ(!cfg.warnings.empty(), c.warns);
  }
}

TEST_F(ScanTest, TriggerMatching) {
  struct Case {
    std::vector<std::string> codes;
    std::string dialled;
    int want;  // index of the matching trigger, -1 none
  } cases[] = {
      {{"88X"}, "885", 0},     {{"88X"}, "8850", -1},    // lengths differ
      {{"8850"}, "8850", 0},                             // no X: equality
      {{"8X9"}, "812", 0},                               // only the part before the first X counts
      {{"88x"}, "885", -1},                              // upper-case X only
      {{"X"}, "7", 0},         {{"1X", "12"}, "12", 0},  // the first listed wins
      {{"13", "1X"}, "12", 1}, {{""}, "", 0},           {{"99"}, "", -1},
  };
  for (const auto& c : cases) {
    std::vector<Trigger> t;
    for (size_t i = 0; i < c.codes.size(); ++i)
      t.push_back({c.codes[i], static_cast<int>(i)});
    rt_.setTriggers(t);
    const Trigger* m = rt_.matchTrigger(c.dialled);
    EXPECT_EQ(m ? m->slot : -1, c.want) << c.dialled << " against " << c.codes[0];
  }
}

TEST_F(ScanTest, CallsWithoutAFlow) {
  ASSERT_EQ(startWith({{0, dir_.write("a.cpl", simpleFlow()), "voc"}},
                      {{"1", -1}, {"2", 1024}, {"3", 5}}),
            StartResult::kRunning);
  struct Case {
    int ch;
    std::string number, line;
  } cases[] = {
      {0, "1", "通道0没有设置IVR流程"},
      {1, "2", "线路1的IVR流程文件索引号1024越界"},
      {2, "3", "通道2读取ivr命令编号0溢出!"},  // slot 5 holds no flow
  };
  for (const auto& c : cases) {
    rt_.channels().record(c.ch).setLineNumber(c.number);
    fake_.ring(c.ch);
    sink_.clear();
    passes(1);
    EXPECT_TRUE(saw(c.line)) << c.line;
    // Answered, then reset at once so that no line stays off-hook.
    EXPECT_TRUE(saw("通道" + std::to_string(c.ch) + "复位")) << c.line;
    EXPECT_EQ(rt_.channels().current(c.ch).kind(), cpl::kKindWaitCall);
  }
  EXPECT_EQ(rt_.flows().state(5, 1).useCount, 0);
}

TEST_F(ScanTest, BankUseCountsWhileACallRunsAndAReloadHappens) {
  std::string a = dir_.write("a.cpl", simpleFlow());
  ASSERT_EQ(startWith({{0, a, "voc"}}, {{"8888", 0}}), StartResult::kRunning);
  fake_.ring(0);
  passes(2);  // channel 0 runs on bank 0 (version 1)
  EXPECT_EQ(rt_.channels().record(0).bank(), 0);
  EXPECT_EQ(rt_.flows().state(0, 0).useCount, 1);

  ASSERT_EQ(interp::loadCompiledFlow(rt_.flows(), a, "voc", 0), interp::kLoadOk);
  EXPECT_EQ(rt_.flows().state(0, 1).version, 2);
  fake_.ring(1);
  passes(2);
  EXPECT_EQ(rt_.channels().record(1).bank(), 1);  // the new call takes the newer bank
  EXPECT_EQ(interp::loadCompiledFlow(rt_.flows(), a, "voc", 0), interp::kLoadBothBanksInUse);

  rt_.resetChannel(0);
  EXPECT_EQ(rt_.flows().state(0, 0).useCount, 0);
  EXPECT_EQ(rt_.flows().state(0, 1).useCount, 1);
  ASSERT_EQ(interp::loadCompiledFlow(rt_.flows(), a, "voc", 0), interp::kLoadOk);
  EXPECT_EQ(rt_.flows().state(0, 0).version, 3);
  // The running call kept its blocks through both reloads.
  EXPECT_EQ(rt_.channels().current(1).kind(), cpl::kKindPlayVoice);
}

TEST_F(ScanTest, ResetKeepsExtensionSettings) {
  ASSERT_EQ(startWith({}, {}), StartResult::kRunning);
  struct Case {
    int16_t state, after;
  } cases[] = {{CHAN_LINE_IN_FLOW, 0},
               {CHAN_LINE_TALKING, 0},
               {CHAN_LINE_VOICE_MAIL, 4},
               {CHAN_LINE_FORWARD, 5}};
  for (const auto& c : cases) {
    ChanRecord r = rt_.channels().record(3);
    r.setLineState(c.state);
    r.setCallerNumber("123");
    r.setForwardNumber("8001");
    r.setLinked(5);
    rt_.resetChannel(3);
    EXPECT_EQ(r.lineState(), c.after) << c.state;
    EXPECT_EQ(r.callerNumber(), "");
    EXPECT_EQ(r.linked(), -1);
    EXPECT_EQ(r.forwardNumber(), "8001");
  }
}

TEST_F(ScanTest, SkipsExcludedChannelsAndInnerLinesUnderTelephoneAccess) {
  ASSERT_EQ(startWith({{0, dir_.write("a.cpl", simpleFlow()), "voc"}}, {{"8888", 0}}),
            StartResult::kRunning);
  rt_.channels().record(4).setLineState(CHAN_LINE_EXCLUDED);
  fake_.ring(4);
  passes(1);
  EXPECT_FALSE(saw("4 find ivrfile,exec it"));

  rt_.setChannelSetup(8, 1);
  fake_.setType(5, CHAN_TYPE_INNER);
  fake_.ring(5);
  passes(1);
  EXPECT_FALSE(saw("5 find ivrfile,exec it"));
  fake_.ring(6, "555");
  passes(1);
  EXPECT_TRUE(saw("555从通道6打进8888"));
  EXPECT_TRUE(fake_.called("CTISetOutOffHook(6)"));
  EXPECT_TRUE(fake_.called("CTIFlushDTMF(6,1)"));
  EXPECT_EQ(rt_.channels().record(6).callerNumber(), "555");
}

// SIP lines: as many channels as the library has, the called number is the
// line number the library wrote into the record when it reported the call,
// the caller number comes from the library and the flow answers the call.
TEST_F(ScanTest, SipAccessTakesCountCallerAndCalledNumberFromTheLines) {
  fake_.channelCount = 20;
  ASSERT_EQ(startWith({{0, dir_.write("a.cpl", simpleFlow()), "voc"}}, {{"8888", 0}, {"7777", 0}},
                      "", CTI_MODE_SIP),
            StartResult::kRunning);
  EXPECT_EQ(rt_.channelCount(), 20);
  EXPECT_FALSE(saw("系统处于模拟呼叫状态，模拟通道数=8"));
  rt_.channels().record(17).setLineNumber("7777");
  fake_.ring(17, "13800001111");
  passes(1);
  EXPECT_TRUE(saw("13800001111从通道17打进7777"));
  EXPECT_TRUE(saw("17 find ivrfile,exec it"));
  EXPECT_TRUE(fake_.called("CTISetOutOffHook(17)"));
  EXPECT_FALSE(fake_.called("CTIOpenMCI"));
  EXPECT_EQ(rt_.channels().record(17).callerNumber(), "13800001111");
  // A number no trigger knows is not answered.
  rt_.channels().record(3).setLineNumber("5555");
  fake_.ring(3, "1");
  passes(1);
  EXPECT_TRUE(saw("3通道没有发现IVR流程，通道挂机"));
  EXPECT_FALSE(fake_.called("CTISetOutOffHook(3)"));
}

TEST_F(ScanTest, FlowLoadFailures) {
  struct Case {
    const char* name;
    int count;
    std::vector<FlowEntry> flows;
    std::vector<std::string> lines;
  } cases[] = {
      {"missing file",
       2,
       {{0, "", "v"}, {1, "nope.cpl", "v"}},
       {"流程编号0加载失败", "流程nope.cpl编号1加载失败", "加载流程和流程触发设置有错误"}},
      {"1025 entries", 1025, {}, {"加载流程和流程触发设置有错误"}},
  };
  for (const auto& c : cases) {
    SysConfig cfg;
    cfg.callintype = 0;
    cfg.filename = dir_.write("db.sqlite", "");
    cfg.flowCount = c.count;
    cfg.flows = c.flows;
    sink_.clear();
    std::string error;
    EXPECT_EQ(rt_.start(cfg, platform::IniFile(dir_.file("none.ini")), &error),
              StartResult::kFlowsFailed)
        << c.name;
    for (const auto& l : c.lines)
      EXPECT_TRUE(saw(l)) << c.name << ": " << l;
  }
}

TEST_F(ScanTest, DatabaseThatWillNotOpenStopsStartUp) {
  SysConfig cfg;
  cfg.callintype = 0;
  cfg.filename = dir_.file("missing.sqlite");
  std::string error;
  EXPECT_EQ(rt_.start(cfg, platform::IniFile(dir_.file("none.ini")), &error),
            StartResult::kDatabaseFailed);
  EXPECT_NE(error.find("missing.sqlite does not exist"), std::string::npos) << error;
  EXPECT_FALSE(saw("加载流程和流程触发设置成功"));

  cfg.filename = dir_.write("notadb.sqlite", std::string(200, 'x'));
  EXPECT_EQ(rt_.start(cfg, platform::IniFile(dir_.file("none.ini")), &error),
            StartResult::kDatabaseFailed);
  EXPECT_NE(error.find("cannot open the database (sqlite3)"), std::string::npos) << error;
}

}  // namespace
}  // namespace callproc
