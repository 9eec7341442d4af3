// The flows' database commands run by the runtime against real databases.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

#include "flowfile/encode.h"
#include "platform/gbk.h"
#include "runtime/callproc/db_test_targets.h"

namespace callproc {
namespace {

using cpl::Operand;
using testing::Target;

Operand I(int n) {
  return Operand::regOf(cpl::kOpI, n);
}
Operand F(int n) {
  return Operand::regOf(cpl::kOpF, n);
}
Operand T(int n) {
  return Operand::regOf(cpl::kOpT, n);
}
Operand S(int n) {
  return Operand::regOf(cpl::kOpS, n);
}
Operand K(int32_t v) {
  return Operand::intConst(v);
}

class DbCommandTest : public ::testing::TestWithParam<Target> {
 protected:
  DbCommandTest() : clock_(1000, 1700000000), trace_(clock_), rt_(fake_, clock_, trace_) {
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
    trace_.addSink(&sink_);
  }
  ~DbCommandTest() override { trace_.removeSink(&sink_); }

  void SetUp() override {
    if (!GetParam().skip.empty()) GTEST_SKIP() << GetParam().skip;
    db_.reset(new Database);
    std::string error;
    ASSERT_TRUE(db_->open(GetParam().settings, &error)) << error;
    DbError err;
    db_->execute("drop table if exists t", &err);
    ASSERT_TRUE(db_->execute("create table t (id integer, s varchar(40), d timestamp)", &err))
        << err.message;
    ASSERT_TRUE(db_->execute("insert into t values (1, 'one', '2024-05-06 07:08:09')", &err));
    ASSERT_TRUE(db_->execute("insert into t values (2, 'two', null)", &err));
    db_.reset();
  }

  Operand str(const std::string& utf8) {
    return Operand::strConst(*pool_.append(platform::utf8ToGbk(utf8)));
  }
  void add(int16_t op, std::initializer_list<Operand> ops) {
    auto ins = cpl::buildInstruction(static_cast<uint32_t>(code_.size()), op, ops);
    ASSERT_TRUE(ins) << "opcode " << op;
    code_.push_back(*ins);
  }

  // Runs the script built so far as channel 0's call; returns its trace lines.
  std::vector<std::string> run(std::function<void(interp::Registers&)> setup = nullptr) {
    cpl::CplWriter w;
    auto start = cpl::blankRecord(cpl::kKindStart);
    cpl::setExit(start, 0, 1);
    w.addRecord(start);
    w.addScript(code_, cpl::NO_TARGET);
    SysConfig cfg = testing::configFor(GetParam().settings);
    cfg.flowCount = 1;
    cfg.flows = {{0, dir_.write("f.cpl", w.finish(pool_)), "v"}};
    cfg.triggers = {{"", 0}};
    std::string error;
    EXPECT_EQ(rt_.start(cfg, platform::IniFile(dir_.file("none.ini")), &error),
              StartResult::kRunning)
        << error;
    fake_.ring(0);
    rt_.scanPass();  // answer
    rt_.scanPass();  // start block
    rt_.scanPass();  // script entered
    if (setup) setup(rt_.channels().regs(0));
    sink_.clear();
    // The statements run on the database worker: a pass that finds one in
    // flight does not count towards the five the script is given.
    for (int free = 0, i = 0; free < 5 && i < 20000; ++i) {
      rt_.scanPass();
      if (rt_.channelDatabases()->inFlight(0))
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      else
        ++free;
    }
    std::vector<std::string> lines;
    for (auto& l : sink_.texts())
      if (l.rfind("通道0复位", 0) != 0 && l.find("溢出") == std::string::npos) lines.push_back(l);
    return lines;
  }
  // Registers as the script left them: read before the channel resets.
  interp::Registers regsAfter() { return rt_.channels().regs(0); }

  testing::TempDir dir_;
  cti::FakeCti fake_;
  platform::FakeClock clock_;
  TraceLog trace_;
  MemorySink sink_;
  Runtime rt_;
  cpl::StringPool pool_;
  std::vector<cpl::Instruction> code_;
  std::unique_ptr<Database> db_;
};

using Lines = std::vector<std::string>;

TEST_P(DbCommandTest, PlaceholdersAndQuoting) {
  add(cpl::kPreparesql, {str("insert into t (id, s) values (1?, '12#')")});
  add(cpl::kSetparamin, {K(1), I(1)});
  add(cpl::kSetparamin, {K(12), S(2)});
  add(cpl::kSqlexec, {K(0), I(3)});
  add(cpl::kPreparesql, {str("select s from t where id = 1? and id <> 1? + 1")});
  add(cpl::kSetparamin, {K(1), K(5)});
  add(cpl::kSqlopen, {K(0), I(4)});
  add(cpl::kGetfield, {K(0), S(5)});
  add(cpl::kPreparesql, {str("2?|3?|4?|5?")});
  add(cpl::kSetparamin, {K(2), T(1)});
  add(cpl::kSetparamin, {K(3), Operand::timeConst("20240102030405")});
  add(cpl::kSetparamin, {K(4), F(1)});
  add(cpl::kSetparamin, {K(5), Operand::fltConst(0.5)});
  add(cpl::kPrint, {S(0)});
  add(cpl::kStop, {});
  Lines lines = run([](interp::Registers& r) {
    r.I[1] = 5;
    r.S[2] = "o'k";
    r.F[1] = 1.25;
    std::tm tm{};
    tm.tm_year = 124, tm.tm_mon = 4, tm.tm_mday = 6, tm.tm_hour = 7, tm.tm_min = 8, tm.tm_sec = 9;
    tm.tm_isdst = -1;
    r.T[1] = static_cast<int32_t>(std::mktime(&tm));
  });
  const Lines want = {
      "通道0=>(1:0)PrepareSQL[insert into t (id, s) values (1?, '12#')]",
      "通道0=>(1:1)SetParamIn[IParam1=5]",
      "通道0=>(1:2)SetParamIn[SParam12=o'k]",
      "通道 0 (外线) : sqlexec,sql=insert into t (id, s) values (5, 'o''k')",
      "通道0=>(1:4)PrepareSQL[select s from t where id = 1? and id <> 1? + 1]",
      "通道0=>(1:5)SetParamIn[IParam1=5]",
      "通道0=>GetField [S5=o'k]",
      "通道0=>(1:8)PrepareSQL[2?|3?|4?|5?]",
      "通道0=>(1:9)SetParamIn[TParam2=20240506070809]",
      "通道0=>(1:10)SetParamIn[TParam3=20240102030405]",
      "通道0=>(1:11)SetParamIn[FParam4=1.250000]",
      "通道0=>(1:12)SetParamIn[FParam5=0.500000]",
      "通道0=>(1:13)Print S0=",
  };
  for (size_t i = 0; i < want.size() && i < lines.size(); ++i)
    EXPECT_EQ(lines[i], want[i]);
  EXPECT_EQ(lines.size(), want.size());
  EXPECT_EQ(rt_.preparedSql(0), "20240506070809|20240102030405|1.250000|0.500000");
}

TEST_P(DbCommandTest, WalkingARecordSet) {
  add(cpl::kPreparesql, {str("select id, s, d from t order by id")});
  add(cpl::kSqlopen, {K(0), I(1)});
  add(cpl::kGetrecordcount, {I(2)});
  add(cpl::kEof, {I(3)});
  add(cpl::kGetfield, {K(0), I(4)});
  add(cpl::kGetfieldname, {str("S"), S(1)});
  add(cpl::kGetfield, {K(2), S(2)});
  add(cpl::kGetfield, {K(0), T(1)});  // a T register stores nothing
  add(cpl::kMovenext, {K(0)});
  add(cpl::kGetfield, {K(2), S(3)});  // NULL reads as empty
  add(cpl::kMovenext, {K(0)});
  add(cpl::kEof, {I(5)});
  add(cpl::kEof, {I(0)});  // made a constant below: the register at byte 7 gets 0
  code_.back().setU8(6, cpl::kOpInt);
  add(cpl::kGetfield, {K(9), F(1)});  // past the end: an error line, nothing stored
  add(cpl::kStop, {});
  Lines lines = run([](interp::Registers& r) { r.F[1] = 3.5; });
  const Lines want = {
      "通道0=>(1:0)PrepareSQL[select id, s, d from t order by id]",
      "通道0=>GetRecordCount [I2=2]",
      "通道0=>EOF [I3=0]",
      "通道0=>GetField [I4=1]",
      "通道0=>GetField [S1=one]",
      "通道0=>GetField [S2=20240506070809]",
      "通道0=>GetField [S3=]",
      "通道0=>EOF [I5=1]",
      "通道0=>EOF [I0=0]",
  };
  ASSERT_GE(lines.size(), want.size() + 1);
  for (size_t i = 0; i < want.size(); ++i)
    EXPECT_EQ(lines[i], want[i]);
  EXPECT_EQ(lines[want.size()].rfind("通道0=>GetFieldName数据库操作失败! ErrCode=", 0), 0u);
}

TEST_P(DbCommandTest, FailuresWriteTheirLinesAndClearThePreviousResult) {
  add(cpl::kPreparesql, {str("select id from t")});
  add(cpl::kSqlopen, {K(0), I(1)});
  add(cpl::kPreparesql, {str("select * from no_such_table")});
  add(cpl::kSqlopen, {K(0), I(2)});
  add(cpl::kGetrecordcount, {I(3)});
  add(cpl::kPreparesql, {str("selec 1")});
  add(cpl::kSqlexec, {K(0), I(4)});
  add(cpl::kStop, {});
  Lines lines = run([](interp::Registers& r) { r.I[3] = 77; });
  ASSERT_EQ(lines.size(), 11u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[2].rfind("通道 0 (外线) : 数据库操作失败! ErrCode=", 0), 0u);
  EXPECT_NE(lines[2], "通道 0 (外线) : 数据库操作失败! ErrCode=0");
  EXPECT_EQ(lines[3].rfind("通道 0 (外线) : strError=", 0), 0u);
  EXPECT_NE(lines[3].find("no_such_table"), std::string::npos) << lines[3];
  EXPECT_EQ(lines[4], "通道 0 (外线) : sql=select * from no_such_table");
  // The previous result is gone: the record set is closed.
  EXPECT_EQ(lines[5].rfind("通道0=>GetFieldName数据库操作失败! ErrCode=", 0), 0u);
  EXPECT_EQ(lines[7], "通道 0 (外线) : sqlexec,sql=selec 1");
  EXPECT_EQ(lines[10], "通道 0 (外线) : sql=selec 1");
}

TEST_P(DbCommandTest, RegistersAfterTheCommands) {
  add(cpl::kPreparesql, {str("select count(*) from t where id = 2")});
  add(cpl::kSqlopen, {K(0), I(1)});
  add(cpl::kGetfield, {K(0), I(2)});
  add(cpl::kPreparesql, {str("select * from nope")});
  add(cpl::kSqlopen, {K(0), I(3)});
  add(cpl::kGoto, {Operand::label(*pool_.append("x"), 5)});  // loops here, keeping the call
  interp::Registers seen;
  run([](interp::Registers& r) { r.I[3] = 9; });
  seen = regsAfter();
  EXPECT_EQ(seen.I[1], 1);
  EXPECT_EQ(seen.I[2], 1);
  EXPECT_EQ(seen.I[3], 0);
}

// The usual read loop (eof, if ... goto done, getfield, movenext, goto top)
// after a query that failed: eof reports the end at once, the loop is left.
TEST_P(DbCommandTest, ReadLoopEndsAfterAFailedQuery) {
  add(cpl::kPreparesql, {str("select id from no_such_table")});
  add(cpl::kSqlopen, {K(0), I(1)});
  add(cpl::kEof, {I(2)});  // 2: top
  add(cpl::kIf, {I(2), Operand::byte(cpl::kRelEq), K(1), Operand::label({}, 7)});
  add(cpl::kGetfield, {K(0), S(1)});
  add(cpl::kMovenext, {K(0)});
  add(cpl::kGoto, {Operand::label({}, 2)});
  add(cpl::kAdd, {I(5), K(1)});  // 7: done
  add(cpl::kGoto, {Operand::label({}, 8)});
  Lines lines = run([](interp::Registers& r) { r.I[2] = 0; });
  const interp::Registers seen = regsAfter();
  EXPECT_EQ(seen.I[1], 0);
  EXPECT_EQ(seen.I[2], 1);
  EXPECT_EQ(seen.I[5], 1) << "the loop never reached done";
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "通道0=>EOF [I2=1]"), 1)
      << ::testing::PrintToString(lines);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("GetFieldName") != l.npos; }),
            0);
}

// getfield into an I register takes the leading integer as s2i does,
// saturated at the 32-bit limits rather than wrapped.
TEST_P(DbCommandTest, GetfieldIntoAnIntegerSaturates) {
  const std::pair<const char*, int32_t> cases[] = {
      {"9999999999", 2147483647},
      {"-9999999999", -2147483647 - 1},
      {"2147483647", 2147483647},
      {"2147483648", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"-2147483649", -2147483647 - 1},
      {"'12ab'", 12},
      {"'ab'", 0},
      {"' 7'", 7},
      {"'-0042x'", -42},
  };
  std::string sql = "select ";
  for (const auto& [value, want] : cases)
    sql += std::string(&value == &cases[0].first ? "" : ", ") + value;
  add(cpl::kPreparesql, {str(sql)});
  add(cpl::kSqlopen, {K(0), I(1)});
  for (int i = 0; i < static_cast<int>(std::size(cases)); ++i)
    add(cpl::kGetfield, {K(i), I(10 + i)});
  add(cpl::kGoto, {Operand::label({}, static_cast<int32_t>(code_.size()))});
  run();
  const interp::Registers seen = regsAfter();
  ASSERT_EQ(seen.I[1], 1);
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(seen.I[10 + i], cases[i].second) << cases[i].first;
}

// A time a flow writes with setparamin into the sample tables' StartTime and
// EndTime reads back with getfield as text that s2t turns into the same
// time, and a time-range query (the browsers' filter) finds it.
TEST_P(DbCommandTest, TimesRoundTripThroughTheSampleTables) {
  const bool pg = GetParam().settings.type == 3;
  {
    Database db;
    std::string error;
    ASSERT_TRUE(db.open(GetParam().settings, &error)) << error;
    DbError err;
    db.execute("drop table if exists t_callrecord", &err);
    db.execute("drop table if exists t_leaveword", &err);
    std::ifstream in(std::string(OLVARO_SAMPLES_DIR) +
                     (pg ? "/db/schema_pg.sql" : "/db/schema.sql"));
    std::stringstream all;
    all << in.rdbuf();
    std::string text = all.str(), stmt;
    for (size_t at = 0; (at = text.find(';')) != std::string::npos; text.erase(0, at + 1))
      ASSERT_TRUE(db.execute(text.substr(0, at), &err)) << err.message;
  }
  // How each kind takes the 14 digits into a date-time column.
  auto tv = [&](int p) {
    const std::string ph = std::to_string(p) + "?";
    return pg ? "to_timestamp('" + ph + "', 'yyyymmddhh24miss')" : "'" + ph + "'";
  };
  const std::string insert =
      "insert into t_callrecord (callid, callerno, calledno, starttime, endtime, calllength) "
      "values ('1?', '555', '8888', " +
      tv(2) + ", " + tv(3) + ", 61)";
  add(cpl::kPreparesql, {str(insert)});
  add(cpl::kSetparamin, {K(1), S(1)});
  add(cpl::kSetparamin, {K(2), T(1)});
  add(cpl::kSetparamin, {K(3), T(2)});
  add(cpl::kSqlexec, {K(0), I(1)});
  add(cpl::kPreparesql, {str(insert)});  // a call outside the range
  add(cpl::kSetparamin, {K(1), str("old")});
  add(cpl::kSetparamin, {K(2), Operand::timeConst("20240505235959")});
  add(cpl::kSetparamin, {K(3), Operand::timeConst("20240506000100")});
  add(cpl::kSqlexec, {K(0), I(2)});
  add(cpl::kPreparesql, {str("select callid, starttime, endtime from t_callrecord where starttime "
                             ">= " +
                             tv(1) + " and endtime <= " + tv(2) + " order by callid")});
  add(cpl::kSetparamin, {K(1), Operand::timeConst("20240506000000")});
  add(cpl::kSetparamin, {K(2), Operand::timeConst("20240506235959")});
  add(cpl::kSqlopen, {K(0), I(3)});
  add(cpl::kGetrecordcount, {I(4)});
  add(cpl::kGetfield, {K(0), S(2)});
  add(cpl::kGetfieldname, {str("starttime"), S(3)});
  add(cpl::kGetfield, {K(2), S(4)});
  add(cpl::kS2t, {S(3), T(3)});
  add(cpl::kS2t, {S(4), T(4)});
  add(cpl::kGoto, {Operand::label({}, static_cast<int32_t>(code_.size()))});
  auto local = [](int y, int mo, int d, int h, int mi, int sec) {
    std::tm tm{};
    tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d;
    tm.tm_hour = h, tm.tm_min = mi, tm.tm_sec = sec, tm.tm_isdst = -1;
    return static_cast<int32_t>(std::mktime(&tm));
  };
  const int32_t start = local(2024, 5, 6, 7, 8, 9), end = local(2024, 5, 6, 7, 9, 10);
  Lines lines = run([&](interp::Registers& r) {
    r.S[1] = "id1";
    r.T[1] = start;
    r.T[2] = end;
  });
  const interp::Registers seen = regsAfter();
  EXPECT_EQ(seen.I[1], 1) << ::testing::PrintToString(lines);
  EXPECT_EQ(seen.I[2], 1);
  EXPECT_EQ(seen.I[3], 1) << ::testing::PrintToString(lines);
  EXPECT_EQ(seen.I[4], 1);  // only the call inside the range
  EXPECT_EQ(seen.S[2], "id1");
  EXPECT_EQ(seen.S[3], "20240506070809");
  EXPECT_EQ(seen.S[4], "20240506070910");
  EXPECT_EQ(seen.T[3], start);
  EXPECT_EQ(seen.T[4], end);
}

INSTANTIATE_TEST_SUITE_P(Backends, DbCommandTest, ::testing::ValuesIn(testing::targets()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace callproc
