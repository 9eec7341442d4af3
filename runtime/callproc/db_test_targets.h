// The databases the database tests run against: SQLite, the SQLite ODBC
// driver, and a PostgreSQL server when scripts/test.sh started one
// (OLVARO_PG_* in the environment).
#pragma once

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/callproc/database.h"
#include "runtime/callproc/test_support.h"

namespace callproc::testing {

// The same statements on every database the tests can reach.
struct Target {
  std::string name;
  DbSettings settings;
  std::string skip;  // why it cannot run here
};

inline void PrintTo(const Target& t, std::ostream* os) {
  *os << t.name;
}

// A simulated-access configuration whose [DataBase] keys name `d`.
inline SysConfig configFor(const DbSettings& d) {
  SysConfig cfg;
  cfg.callintype = 0;
  cfg.dbType = d.type;
  cfg.filename = d.filename;
  cfg.server = d.server;
  cfg.data = d.data;
  cfg.user = d.user;
  cfg.pass = d.pass;
  cfg.dbPort = d.port;
  cfg.dbDriver = d.driver;
  return cfg;
}

inline std::vector<Target> targets() {
  static testing::TempDir dir;
  std::vector<Target> t;
  t.push_back(
      {"sqlite", {.type = 0, .filename = dir.write("t.sqlite", ""), .timeoutSeconds = 1}, ""});
  t.push_back({"odbc_sqlite",
               {.type = 1,
                .server = "local",
                .data = dir.write("o.sqlite", ""),
                .driver = "SQLite3",
                .timeoutSeconds = 1},
               ""});
  const char* host = std::getenv("OLVARO_PG_HOST");
  DbSettings pg{.type = 3, .timeoutSeconds = 1};
  if (host) {
    pg.server = host;
    pg.port = std::getenv("OLVARO_PG_PORT") ? std::getenv("OLVARO_PG_PORT") : "";
    pg.data = std::getenv("OLVARO_PG_DB") ? std::getenv("OLVARO_PG_DB") : "";
    pg.user = std::getenv("OLVARO_PG_USER") ? std::getenv("OLVARO_PG_USER") : "";
    pg.pass = std::getenv("OLVARO_PG_PASS") ? std::getenv("OLVARO_PG_PASS") : "";
  }
  t.push_back({"postgresql", pg,
               host ? "" : "no PostgreSQL server: scripts/test.sh starts one (OLVARO_PG_HOST)"});
  return t;
}

}  // namespace callproc::testing
