// What one database statement costs: sqlopen of a 10-row query and a walk
// over its rows reading two fields each, on SQLite and on PostgreSQL over
// loopback (when OLVARO_PG_* name a server); and what a slow statement on one
// channel does to the pass period of another.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "flowfile/cplwriter.h"
#include "flowfile/encode.h"
#include "runtime/callproc/database.h"
#include "runtime/callproc/runtime.h"
#include "runtime/cti/fake_cti.h"

namespace {

using callproc::Database;
using callproc::DbError;
using callproc::DbSettings;
using callproc::Recordset;

bool prepare(Database& db, const DbSettings& s, benchmark::State& state) {
  std::string error;
  if (!db.open(s, &error)) {
    state.SkipWithError(error.c_str());
    return false;
  }
  DbError err;
  db.execute("drop table if exists bench_rows", &err);
  db.execute("create table bench_rows (id integer, name varchar(40), amount double precision)",
             &err);
  for (int i = 0; i < 10; ++i)
    db.execute("insert into bench_rows values (" + std::to_string(i) + ", 'caller " +
                   std::to_string(i) + "', " + std::to_string(i * 1.5) + ")",
               &err);
  return true;
}

void walk(Database& db, benchmark::State& state) {
  Recordset rs;
  DbError err;
  std::string text;
  for (auto _ : state) {
    if (!rs.Open(db, "select id, name, amount from bench_rows order by id", &err)) {
      state.SkipWithError(err.message.c_str());
      return;
    }
    bool eof = false;
    while (rs.Eof(&eof, &err) && !eof) {
      rs.Field(0, &text, &err);
      rs.Field("name", &text, &err);
      rs.MoveNext(&err);
    }
    benchmark::DoNotOptimize(text);
  }
}

void BM_SqlopenWalk_SQLite(benchmark::State& state) {
  const std::string file = "/tmp/olvaro_db_bench.sqlite";
  std::ofstream(file, std::ios::trunc).flush();
  Database db;
  DbSettings s;
  s.type = 0;
  s.filename = file;
  if (prepare(db, s, state)) walk(db, state);
}
BENCHMARK(BM_SqlopenWalk_SQLite)->Unit(benchmark::kMicrosecond);

void BM_SqlopenWalk_PostgreSQL(benchmark::State& state) {
  auto env = [](const char* n) { return std::getenv(n) ? std::string(std::getenv(n)) : ""; };
  if (env("OLVARO_PG_HOST").empty()) {
    state.SkipWithError("no PostgreSQL server (set OLVARO_PG_HOST, _PORT, _DB, _USER, _PASS)");
    return;
  }
  Database db;
  DbSettings s;
  s.type = 3;
  s.server = env("OLVARO_PG_HOST");
  s.port = env("OLVARO_PG_PORT");
  s.data = env("OLVARO_PG_DB");
  s.user = env("OLVARO_PG_USER");
  s.pass = env("OLVARO_PG_PASS");
  if (prepare(db, s, state)) walk(db, state);
}
BENCHMARK(BM_SqlopenWalk_PostgreSQL)->Unit(benchmark::kMicrosecond);

// Channel 1 idle, polled once a pass; channel 0 in a statement of about 2 s.
// Reports channel 1's pass period while the statement runs.
class PollTimes : public cti::FakeCti {
 public:
  int CTIGetOutLineStatus(int ch, int mode) override {
    if (ch == 1) {
      std::lock_guard lock(mu);
      polls.push_back(std::chrono::steady_clock::now());
    }
    return FakeCti::CTIGetOutLineStatus(ch, mode);
  }
  std::mutex mu;
  std::vector<std::chrono::steady_clock::time_point> polls;
};

void neighbourPeriod(benchmark::State& state, callproc::SysConfig cfg, const std::string& slow) {
  cpl::StringPool pool;
  cpl::CplWriter w;
  auto start = cpl::blankRecord(cpl::kKindStart);
  cpl::setExit(start, 0, 1);
  w.addRecord(start);
  const cpl::Operand r1 = cpl::Operand::regOf(cpl::kOpI, 1);
  const std::vector<cpl::Instruction> code = {
      *cpl::buildInstruction(0, cpl::kPreparesql, {cpl::Operand::strConst(*pool.append(slow))}),
      *cpl::buildInstruction(1, cpl::kSqlopen, {cpl::Operand::intConst(0), r1}),
      *cpl::buildInstruction(2, cpl::kPrint, {r1})};
  w.addScript(code, cpl::NO_TARGET);
  const auto bytes = w.finish(pool);
  const std::string flow = "/tmp/olvaro_db_bench_slow.cpl";
  std::ofstream(flow, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  cfg.callintype = 0;
  cfg.dbTimeout = 30;
  cfg.flowCount = 1;
  cfg.flows = {{0, flow, "v"}};
  cfg.triggers = {{"", 0}};
  for (auto _ : state) {
    PollTimes cti;
    callproc::TraceLog trace(platform::SystemClock::instance());
    callproc::MemorySink sink;
    trace.addSink(&sink);
    callproc::Runtime rt(cti, platform::SystemClock::instance(), trace);
    std::string error;
    if (rt.start(cfg, platform::IniFile("/nonexistent.ini"), &error) !=
        callproc::StartResult::kRunning) {
      state.SkipWithError(error.c_str());
      return;
    }
    cti.ring(0);
    rt.startScanThread();
    const auto t0 = std::chrono::steady_clock::now();
    while (!sink.has("通道0=>(1:2)Print I1=1") &&
           std::chrono::steady_clock::now() - t0 < std::chrono::seconds(30))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto t1 = std::chrono::steady_clock::now();
    rt.stop();
    trace.removeSink(&sink);
    std::vector<double> gaps;
    for (size_t i = 1; i < cti.polls.size(); ++i)
      if (cti.polls[i] > t0 && cti.polls[i] < t1)
        gaps.push_back(
            std::chrono::duration<double, std::milli>(cti.polls[i] - cti.polls[i - 1]).count());
    if (gaps.empty()) {
      state.SkipWithError("no passes");
      return;
    }
    double sum = 0;
    for (double g : gaps)
      sum += g;
    std::sort(gaps.begin(), gaps.end());
    state.counters["statement_ms"] = std::chrono::duration<double, std::milli>(t1 - t0).count();
    state.counters["period_mean_ms"] = sum / static_cast<double>(gaps.size());
    state.counters["period_min_ms"] = gaps.front();
    state.counters["period_max_ms"] = gaps.back();
    state.counters["passes"] = static_cast<double>(gaps.size());
  }
}

void BM_NeighbourPeriod_SQLite(benchmark::State& state) {
  callproc::SysConfig cfg;
  cfg.dbType = 0;
  cfg.filename = "/tmp/olvaro_db_bench_slow.sqlite";
  std::ofstream(cfg.filename, std::ios::trunc).flush();
  neighbourPeriod(state, cfg,
                  "with recursive c(x) as (select 1 union all select x + 1 from c where x < "
                  "16000000) select count(*) from c");
}
BENCHMARK(BM_NeighbourPeriod_SQLite)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_NeighbourPeriod_PostgreSQL(benchmark::State& state) {
  auto env = [](const char* n) { return std::getenv(n) ? std::string(std::getenv(n)) : ""; };
  if (env("OLVARO_PG_HOST").empty()) {
    state.SkipWithError("no PostgreSQL server (set OLVARO_PG_HOST, _PORT, _DB, _USER, _PASS)");
    return;
  }
  callproc::SysConfig cfg;
  cfg.dbType = 3;
  cfg.server = env("OLVARO_PG_HOST");
  cfg.dbPort = env("OLVARO_PG_PORT");
  cfg.data = env("OLVARO_PG_DB");
  cfg.user = env("OLVARO_PG_USER");
  cfg.pass = env("OLVARO_PG_PASS");
  neighbourPeriod(state, cfg, "select pg_sleep(2)");
}
BENCHMARK(BM_NeighbourPeriod_PostgreSQL)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
