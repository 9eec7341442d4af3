// The flows' statements on the database worker: a slow statement holds its
// own channel only, each channel's statements keep their order, and the
// result of a call that ended meanwhile is dropped.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "flowfile/encode.h"
#include "platform/gbk.h"
#include "runtime/callproc/db_test_targets.h"

namespace callproc {
namespace {

using cpl::Operand;
using testing::Target;
using Clock = std::chrono::steady_clock;

// Notes when each channel is polled for a call: an idle channel is polled
// once a pass.
class PollTimes : public cti::FakeCti {
 public:
  int CTIGetOutLineStatus(int ch, int mode) override {
    {
      std::lock_guard lock(mu_);
      if (ch == 1) polls_.push_back(Clock::now());
    }
    return FakeCti::CTIGetOutLineStatus(ch, mode);
  }
  std::vector<Clock::time_point> polls() {
    std::lock_guard lock(mu_);
    return polls_;
  }

 private:
  std::mutex mu_;
  std::vector<Clock::time_point> polls_;
};

class DbWorkerTest : public ::testing::TestWithParam<Target> {
 protected:
  DbWorkerTest() : trace_(clock_), rt_(cti_, clock_, trace_) { trace_.addSink(&sink_); }
  ~DbWorkerTest() override {
    rt_.stop();
    trace_.removeSink(&sink_);
  }
  void SetUp() override {
    if (!GetParam().skip.empty()) GTEST_SKIP() << GetParam().skip;
  }

  Operand str(const std::string& s) { return Operand::strConst(*pool_.append(s)); }

  // Starts the runtime on a flow whose one script block is `code`, with the
  // statement timeout long enough for the slow statements here.
  void start(const std::vector<cpl::Instruction>& code) {
    cpl::CplWriter w;
    auto startRec = cpl::blankRecord(cpl::kKindStart);
    cpl::setExit(startRec, 0, 1);
    w.addRecord(startRec);
    w.addScript(code, cpl::NO_TARGET);
    SysConfig cfg = testing::configFor(GetParam().settings);
    cfg.dbTimeout = 20;
    cfg.flowCount = 1;
    cfg.flows = {{0, dir_.write("f.cpl", w.finish(pool_)), "v"}};
    cfg.triggers = {{"", 0}};
    std::string error;
    ASSERT_EQ(rt_.start(cfg, platform::IniFile(dir_.file("none.ini")), &error),
              StartResult::kRunning)
        << error;
  }
  // Waits (in real time) until a trace line holds `text`.
  bool waitFor(const std::string& text, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      for (const auto& t : sink_.texts())
        if (t.find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  void execute(const std::string& sql) {
    Database db;
    std::string error;
    ASSERT_TRUE(db.open(GetParam().settings, &error)) << error;
    DbError err;
    ASSERT_TRUE(db.execute(sql, &err)) << sql << ": " << err.message;
  }
  // A statement that takes about 1.5 s of waiting, not of work (a work-bound
  // query takes ten times longer under a sanitizer): PostgreSQL sleeps; on
  // the file database another connection holds an exclusive lock that long.
  std::string slowQuery() {
    if (GetParam().settings.type == 3) return "select pg_sleep(1.5)";
    execute("create table if not exists lockme (x integer)");
    return "select count(*) from lockme";
  }
  // Takes the lock, once the runtime has opened its connection.
  void beginSlow() {
    if (GetParam().settings.type == 3) return;
    locker_ = std::thread([this] {
      Database db;
      std::string error;
      DbError err;
      if (!db.open(GetParam().settings, &error) || !db.execute("begin exclusive", &err)) {
        ADD_FAILURE() << "cannot lock: " << error << err.message;
        locked_ = true;
        return;
      }
      locked_ = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      db.execute("commit", &err);
    });
    while (!locked_)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void TearDown() override {
    if (locker_.joinable()) locker_.join();
  }

  std::thread locker_;
  std::atomic<bool> locked_{false};
  testing::TempDir dir_;
  PollTimes cti_;
  platform::SystemClock& clock_ = platform::SystemClock::instance();
  TraceLog trace_;
  MemorySink sink_;
  Runtime rt_;
  cpl::StringPool pool_;
};

// Channel 0 waits on a statement of a second or more; channel 1, idle, is
// still polled every pass. Before the worker, the whole scan stopped for
// the statement.
TEST_P(DbWorkerTest, ASlowStatementHoldsOnlyItsChannel) {
  std::vector<cpl::Instruction> code = {
      *cpl::buildInstruction(0, cpl::kPreparesql, {str(slowQuery())}),
      *cpl::buildInstruction(1, cpl::kSqlopen,
                             {Operand::intConst(0), Operand::regOf(cpl::kOpI, 1)}),
      *cpl::buildInstruction(2, cpl::kPrint, {Operand::regOf(cpl::kOpI, 1)}),
  };
  start(code);
  beginSlow();
  cti_.ring(0);
  const auto t0 = Clock::now();
  rt_.startScanThread();
  ASSERT_TRUE(waitFor("Print I1=1", std::chrono::seconds(30)));
  const auto took = Clock::now() - t0;
  rt_.stop();
  EXPECT_GT(took, std::chrono::milliseconds(700)) << "the statement was not slow";
  auto polls = cti_.polls();
  ASSERT_GT(polls.size(), 10u);
  long worst = 0;
  for (size_t i = 1; i < polls.size(); ++i)
    worst = std::max<long>(
        worst,
        std::chrono::duration_cast<std::chrono::milliseconds>(polls[i] - polls[i - 1]).count());
  // 50 ms a pass; a busy test machine stretches a sleep now and then.
  EXPECT_LT(worst, 200) << "channel 1 waited for channel 0's statement";
  const auto expected = std::chrono::duration_cast<std::chrono::milliseconds>(took).count() / 50;
  EXPECT_GE(static_cast<long>(polls.size()), expected * 2 / 3);
}

// Four channels each insert five rows in turn; the rows of each channel
// arrive in the order its script wrote them.
TEST_P(DbWorkerTest, EachChannelKeepsTheOrderOfItsStatements) {
  const bool pg = GetParam().settings.type == 3;
  execute("drop table if exists w");
  execute(pg ? "create table w (n serial primary key, ch integer, i integer)"
             : "create table w (n integer primary key autoincrement, ch integer, i integer)");
  std::vector<cpl::Instruction> code;
  auto add = [&](int16_t op, std::initializer_list<Operand> ops) {
    code.push_back(*cpl::buildInstruction(static_cast<uint32_t>(code.size()), op, ops));
  };
  add(cpl::kSet, {Operand::regOf(cpl::kOpI, 2), Operand::sys(cpl::kSysChan)});
  for (int i = 0; i < 5; ++i) {
    add(cpl::kPreparesql, {str("insert into w (ch, i) values (1?, " + std::to_string(i) + ")")});
    add(cpl::kSetparamin, {Operand::intConst(1), Operand::regOf(cpl::kOpI, 2)});
    add(cpl::kSqlexec, {Operand::intConst(0), Operand::regOf(cpl::kOpI, 1)});
  }
  add(cpl::kPrint, {Operand::regOf(cpl::kOpI, 1)});
  start(code);
  for (int c : {0, 2, 3, 4})
    cti_.ring(c);
  rt_.startScanThread();
  for (int c : {0, 2, 3, 4})
    ASSERT_TRUE(
        waitFor("通道" + std::to_string(c) + "=>(1:16)Print I1=1", std::chrono::seconds(20)))
        << c;
  rt_.stop();
  Database db;
  std::string error;
  ASSERT_TRUE(db.open(GetParam().settings, &error)) << error;
  Database::Result r;
  DbError err;
  ASSERT_TRUE(db.query("select ch, i from w order by n", &r, &err)) << err.message;
  ASSERT_EQ(r.rows.size(), 20u);
  std::map<std::string, int> next;
  for (const auto& row : r.rows) {
    EXPECT_EQ(row[1].text, std::to_string(next[row[0].text]++)) << "channel " << row[0].text;
  }
  EXPECT_EQ(next.size(), 4u);
}

// A call that ends while its statement runs leaves no result behind for the
// next call on the channel.
TEST_P(DbWorkerTest, AResultForACallThatEndedIsDropped) {
  std::vector<cpl::Instruction> code = {
      *cpl::buildInstruction(0, cpl::kPreparesql, {str(slowQuery())}),
      *cpl::buildInstruction(1, cpl::kSqlopen,
                             {Operand::intConst(0), Operand::regOf(cpl::kOpI, 1)}),
      *cpl::buildInstruction(2, cpl::kPrint, {Operand::regOf(cpl::kOpI, 1)}),
  };
  start(code);
  beginSlow();
  cti_.ring(0);
  for (int i = 0; i < 4; ++i)
    rt_.scanPass();  // answer, start, script entered, statement started
  ASSERT_TRUE(rt_.channelDatabases()->inFlight(0));
  rt_.resetChannel(0);
  EXPECT_FALSE(rt_.channelDatabases()->inFlight(0));
  EXPECT_EQ(rt_.channelDatabases()->recordset(0).State(), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, DbWorkerTest, ::testing::ValuesIn(testing::targets()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace callproc
