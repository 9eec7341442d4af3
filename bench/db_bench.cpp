// What one database statement costs the scan pass: sqlopen of a 10-row query
// and a walk over its rows reading two fields each, on SQLite and on
// PostgreSQL over loopback (when OLVARO_PG_* name a server).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "runtime/callproc/database.h"

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

}  // namespace

BENCHMARK_MAIN();
