// The scan thread as the one owner of its tables: commands posted from other
// threads, the snapshot it publishes, flows reloaded beside running calls,
// and the fixed pass rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "runtime/callproc/reload.h"
#include "runtime/callproc/test_support.h"

namespace callproc {
namespace {

using testing::RuntimeFixture;
using testing::simpleFlow;

class InboxTest : public RuntimeFixture {
 public:
  // A call on channel c through the inbox, answered and past its start block.
  void call(int c) {
    rt_.post(KeyCallEvent{c, KeyCallEvent::kBegin, "555"});
    passes(2);
  }
  const FlowUsage* usage(int slot) {
    snap_ = rt_.snapshot();
    for (const FlowUsage& u : snap_->flows)
      if (u.slot == slot) return &u;
    return nullptr;
  }
  std::shared_ptr<const RuntimeSnapshot> snap_;
};

TEST_F(InboxTest, CommandsFromSeveralThreadsWhilePassesRun) {
  ASSERT_EQ(startWith({{0, dir_.write("a.cpl", simpleFlow()), "voc"}}, {{"8888", 0}}),
            StartResult::kRunning);
  constexpr int kEach = 300;
  std::atomic<int> running{3};
  std::atomic<bool> sawSnapshot{false};
  std::vector<std::thread> posters;
  // Keys on channels 5 and 6, trigger tables and settings, all at once.
  for (int t = 0; t < 2; ++t)
    posters.emplace_back([this, t, &running] {
      for (int i = 0; i < kEach; ++i)
        rt_.post(KeyCallEvent{5 + t, KeyCallEvent::kKey, "", static_cast<char>('0' + i % 10)});
      --running;
    });
  posters.emplace_back([this, &running, &sawSnapshot] {
    for (int i = 0; i < kEach; ++i) {
      rt_.post(ReplaceTriggers{{{"8888", 0}, {std::to_string(i), 1}}});
      rt_.post(SystemSettings{1, 0, 1});
      auto s = rt_.snapshot();
      if (s && s->channelCount == 8) sawSnapshot = true;
    }
    --running;
  });
  while (running > 0)
    rt_.scanPass();
  for (auto& t : posters)
    t.join();
  rt_.scanPass();
  int keys[2] = {0, 0};
  for (const std::string& c : fake_.calls())
    for (int t = 0; t < 2; ++t)
      if (c.rfind("CTISetKeyDtmf(" + std::to_string(5 + t) + ",", 0) == 0) ++keys[t];
  EXPECT_EQ(keys[0], kEach);
  EXPECT_EQ(keys[1], kEach);
  EXPECT_TRUE(sawSnapshot);
  // The last trigger table posted is the one in force.
  const Trigger* last = rt_.matchTrigger(std::to_string(kEach - 1));
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->slot, 1);
}

TEST_F(InboxTest, SnapshotShowsChannelsAndFlowUsage) {
  ASSERT_EQ(startWith({{3, dir_.write("a.cpl", simpleFlow()), "voc"}}, {{"8888", 3}}),
            StartResult::kRunning);
  call(1);
  auto s = rt_.snapshot();
  ASSERT_EQ(s->channels.size(), 8u);
  EXPECT_EQ(s->channels[1].kind, cpl::kKindPlayVoice);
  EXPECT_EQ(s->channels[1].slot, 3);
  EXPECT_EQ(s->channels[1].caller, "555");
  EXPECT_EQ(s->channels[1].icon, 1);
  EXPECT_EQ(s->channels[0].kind, cpl::kKindWaitCall);
  ASSERT_EQ(s->flows.size(), 1u);
  EXPECT_EQ(s->flows[0].slot, 3);
  EXPECT_EQ(s->flows[0].use[s->flows[0].current], 1);
}

// The channel settings take effect at once: the next call on a renumbered
// line is matched by its new number.
TEST_F(InboxTest, ChannelNumbersTakeEffectAtOnce) {
  ASSERT_EQ(startWith({{3, dir_.write("a.cpl", simpleFlow()), "voc"}}, {{"8001", 3}}),
            StartResult::kRunning);
  passes(1);
  EXPECT_EQ(rt_.snapshot()->channels[2].number, "8888");
  EXPECT_EQ(rt_.snapshot()->channels[2].type, 1);
  rt_.post(ChannelNumbers{{"7000", "7001", "8001"}});
  passes(1);
  auto s = rt_.snapshot();
  EXPECT_EQ(s->channels[0].number, "7000");
  EXPECT_EQ(s->channels[2].number, "8001");
  EXPECT_EQ(s->channels[3].number, "8888");  // not given: unchanged
  call(2);
  EXPECT_EQ(rt_.snapshot()->channels[2].slot, 3);
}

// Manual line control: outer lines only; a dial takes the line and sends the
// number a second later, without holding a pass.
TEST_F(InboxTest, LineControl) {
  fake_.setType(2, 2);
  ASSERT_EQ(startWith({}, {}), StartResult::kRunning);
  fake_.clearCalls();
  rt_.post(LineControl{2, LineControl::kOffHook, {}});  // an inner line: nothing
  rt_.post(LineControl{1, LineControl::kOffHook, {}});
  rt_.post(LineControl{3, LineControl::kDial, "95555"});
  passes(1);
  auto calls = fake_.calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "CTISetOutOffHook(2)"), 0);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "CTISetOutOffHook(1)"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "CTISetOutOffHook(3)"), 1);
  EXPECT_EQ(rt_.snapshot()->channels[1].status, 1);
  clock_.advance(990);
  passes(1);
  calls = fake_.calls();
  EXPECT_TRUE(std::none_of(calls.begin(), calls.end(),
                           [](const std::string& s) { return s.starts_with("CTICallOut"); }));
  clock_.advance(10);
  passes(2);
  calls = fake_.calls();
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                          [](const std::string& s) { return s.starts_with("CTICallOut(3"); }),
            1);
}

// The window plays a file on channel 0 and the snapshot follows it to its
// end; a stop stops the line's playback.
TEST_F(InboxTest, WindowPlaybackOnAChannel) {
  ASSERT_EQ(startWith({}, {}), StartResult::kRunning);
  fake_.clearCalls();
  rt_.post(WindowPlay{0, "leavmsg/msg1.qx", 1, false});
  passes(1);
  EXPECT_EQ(rt_.snapshot()->channels[0].windowPlay, 1);
  fake_.setPlayFinish(0, 0);
  passes(1);
  EXPECT_EQ(rt_.snapshot()->channels[0].windowPlay, 0);
  fake_.setPlayFinish(0, 1);
  rt_.post(WindowPlay{0, "leavmsg/msg1.qx", 1, false});
  rt_.post(WindowPlay{0, "", 1, true});
  passes(1);
  EXPECT_EQ(rt_.snapshot()->channels[0].windowPlay, 0);
  const auto calls = fake_.calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "CTIPlayFile(0,leavmsg/msg1.qx,1)"), 2);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "CTIStopPlayFile(0,1)"), 1);
  fake_.setPlayResult(-1);
  rt_.post(WindowPlay{0, "none.qx", 1, false});
  rt_.post(WindowPlay{9, "x.qx", 1, false});  // beyond the channels
  passes(1);
  EXPECT_EQ(rt_.snapshot()->channels[0].windowPlay, -1);
}

// A slot reloaded while a call runs on it: the call ends on its version, the
// next call gets the new one, and the use counts come back to 0.
TEST_F(InboxTest, ReloadBesideARunningCall) {
  const std::string path = dir_.write("a.cpl", simpleFlow(1, 1));
  SysConfig cfg;
  cfg.flows = {{0, path, "voc"}};
  cfg.triggers = {{"8888", 0}};
  ASSERT_EQ(startWith(cfg.flows, cfg.triggers), StartResult::kRunning);
  FlowReloader reloader(rt_);
  reloader.noteLoaded(cfg);
  call(0);
  const int oldBank = rt_.channels().record(0).bank();
  ASSERT_EQ(usage(0)->version[oldBank], 1);

  // Unchanged configuration: nothing to load.
  auto r = reloader.reload(cfg);
  EXPECT_EQ(r.loaded, 0);
  EXPECT_EQ(r.unchanged, 1);

  dir_.write("a.cpl", simpleFlow(1, 3));  // the designer compiled a new version
  sink_.clear();
  r = reloader.reload(cfg);
  EXPECT_EQ(r.loaded, 1);
  rt_.scanPass();
  EXPECT_TRUE(saw("流程" + path + "编号0加载成功,版本2"));
  const FlowUsage* u = usage(0);
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->version[1 - oldBank], 2);
  EXPECT_EQ(u->current, 1 - oldBank);
  EXPECT_EQ(u->use[oldBank], 1);  // the running call keeps its version

  call(1);
  EXPECT_EQ(rt_.channels().record(1).bank(), 1 - oldBank);
  EXPECT_EQ(rt_.channels().record(0).bank(), oldBank);
  EXPECT_EQ(rt_.flows().bank(0, oldBank).blockCount, 2);
  EXPECT_EQ(rt_.flows().bank(0, 1 - oldBank).blockCount, 4);

  rt_.resetChannel(0);
  rt_.resetChannel(1);
  u = usage(0);
  rt_.scanPass();
  u = usage(0);
  EXPECT_EQ(u->use[0], 0);
  EXPECT_EQ(u->use[1], 0);

  // An entry removed from the configuration frees its slot.
  SysConfig none;
  r = reloader.reload(none);
  EXPECT_EQ(r.freed, 1);
  rt_.scanPass();
  EXPECT_EQ(usage(0), nullptr);
}

TEST_F(InboxTest, ReloadThatFailsIsTriedAgain) {
  const std::string path = dir_.write("a.cpl", simpleFlow());
  SysConfig cfg;
  cfg.flows = {{0, path, "voc"}};
  ASSERT_EQ(startWith(cfg.flows, {}), StartResult::kRunning);
  FlowReloader reloader(rt_);
  reloader.noteLoaded(cfg);
  dir_.write("a.cpl", std::string("1000not a compiled flow"));
  EXPECT_EQ(reloader.reload(cfg).loaded, 1);
  rt_.scanPass();
  EXPECT_TRUE(saw("流程" + path + "编号0加载失败"));
  EXPECT_EQ(usage(0)->version[usage(0)->current], 1);  // the old version serves on
  // Nothing changed on disk, but the failed slot is loaded again.
  EXPECT_EQ(reloader.reload(cfg).loaded, 1);
}

// Passes start on a fixed 50 ms grid: a slow pass is told once, and the
// passes after it keep their period rather than drifting by its length.
TEST(ScanRate, FixedDeadlinesAndOverrunsTold) {
  class SlowCti : public cti::FakeCti {
   public:
    int CTIGetOutLineStatus(int ch, int mode) override {
      if (ch == 0) {
        starts.push_back(std::chrono::steady_clock::now());
        if (starts.size() == 5) std::this_thread::sleep_for(std::chrono::milliseconds(130));
      }
      return FakeCti::CTIGetOutLineStatus(ch, mode);
    }
    std::vector<std::chrono::steady_clock::time_point> starts;
  };
  SlowCti cti;
  platform::SystemClock& clock = platform::SystemClock::instance();
  TraceLog trace(clock);
  MemorySink sink;
  trace.addSink(&sink);
  Runtime rt(cti, clock, trace);
  rt.setChannelSetup(1, 0);
  rt.startScanThread();
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  rt.stop();
  trace.removeSink(&sink);
  ASSERT_GE(cti.starts.size(), 10u);
  int told = 0;
  for (const auto& t : sink.texts())
    if (t.rfind("scan pass took", 0) == 0) ++told;
  EXPECT_EQ(told, 1);
  using ms = std::chrono::milliseconds;
  auto gap = [&](size_t i) {
    return std::chrono::duration_cast<ms>(cti.starts[i] - cti.starts[i - 1]).count();
  };
  // The slow pass (the 5th) delays the 6th, which starts at once rather
  // than a period after it (that would be 180 ms); from the 7th on, a pass
  // every 50 ms again. A loaded machine may stretch a single sleep, so the
  // grid is checked over the whole run.
  EXPECT_GE(gap(5), 125);
  EXPECT_LT(gap(5), 170);
  const auto total = std::chrono::duration_cast<ms>(cti.starts.back() - cti.starts[6]).count();
  const auto n = static_cast<long>(cti.starts.size() - 7);
  EXPECT_NEAR(static_cast<double>(total) / n, 50.0, 10.0);
}

}  // namespace
}  // namespace callproc
