#include "runtime/callproc/database.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "platform/gbk.h"
#include "runtime/callproc/db_test_targets.h"
#include "runtime/callproc/test_support.h"

namespace callproc {
namespace {

TEST(DbConnection, ConnectionStrings) {
  testing::TempDir dir;
  const std::string file = dir.write("a.sqlite", "");
  struct Case {
    DbSettings s;
    const char* backend;
    std::string connect;  // "" when refused
    const char* error;
  } cases[] = {
      {{.type = 0, .filename = file}, "sqlite3", "db=\"" + file + "\" timeout=5", ""},
      {{.type = 0, .filename = dir.file("none.sqlite")}, "", "", "does not exist"},
      {{.type = 0}, "", "", "set [DataBase] filename"},
      {{.type = 1, .server = "db1", .data = "ivr", .user = "sa", .pass = "p;w{d}"},
       "odbc",
       "DRIVER=FreeTDS;SERVER=db1;DATABASE=ivr;UID=sa;PWD={p;w{d}}}",
       ""},
      {{.type = 1, .data = "ivr"}, "", "", "set [DataBase] server"},
      {{.type = 2, .service = "ORCL", .username = "u", .password = "x", .driver = "Oracle 19"},
       "odbc",
       "DRIVER={Oracle 19};DBQ=ORCL;UID=u;PWD=x",
       ""},
      {{.type = 3,
        .server = "127.0.0.1",
        .data = "ivr",
        .user = "o",
        .pass = "it's",
        .port = "5433"},
       "postgresql",
       "dbname='ivr' host='127.0.0.1' port='5433' user='o' password='it\\'s' connect_timeout=5",
       ""},
      {{.type = 4}, "", "", "unknown database type 4"},
  };
  for (const auto& c : cases) {
    std::string backend, connect, error;
    const bool ok = connectionFor(c.s, &backend, &connect, &error);
    EXPECT_EQ(ok, !c.connect.empty()) << c.s.type << " " << error;
    if (ok) {
      EXPECT_EQ(backend, c.backend);
      EXPECT_EQ(connect, c.connect);
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }
}

TEST(DbTimes, TimeDigits) {
  const std::pair<const char*, const char*> cases[] = {
      {"2024-05-06 07:08:09", "20240506070809"},
      {"2024-05-06T07:08:09", "20240506070809"},
      {"2024-05-06 07:08:09.250", "20240506070809"},
      {"2024-05-06 07:08:09+08", "20240506070809"},
      {"2024-05-06", "20240506000000"},
      {"20240506070809", "20240506070809"},
      {"2024-05-06 07:08", "2024-05-06 07:08"},          // no seconds: not a time text
      {"2024-05-06 07:08:09x", "2024-05-06 07:08:09x"},  // trailing rubbish
      {"2024/05/06 07:08:09", "2024/05/06 07:08:09"},
      {"infinity", "infinity"},
      {"", ""},
  };
  for (const auto& [in, want] : cases)
    EXPECT_EQ(timeDigits(in), want) << in;
}

using testing::Target;
using testing::targets;

class DbTest : public ::testing::TestWithParam<Target> {
 protected:
  void SetUp() override {
    if (!GetParam().skip.empty()) GTEST_SKIP() << GetParam().skip;
    std::string error;
    ASSERT_TRUE(db_.open(GetParam().settings, &error)) << error;
    DbError err;
    db_.execute("drop table if exists t", &err);
    ASSERT_TRUE(db_.execute(
        "create table t (id integer primary key, i integer, r double precision, s varchar(40), "
        "d timestamp, n varchar(10))",
        &err))
        << err.message;
    ASSERT_TRUE(
        db_.execute("insert into t values (1, 42, 0.1, 'x', '2024-05-06 07:08:09', null)", &err))
        << err.message;
    ASSERT_TRUE(db_.execute("insert into t values (2, -7, 2.5, '" + platform::utf8ToGbk("您好") +
                                "', '1999-12-31 23:59:59', 'n')",
                            &err))
        << err.message;
  }
  Database db_;
};

TEST_P(DbTest, FieldsAsText) {
  Recordset rs;
  DbError err;
  ASSERT_TRUE(rs.Open(db_, "select i, r, s, d, n from t order by id", &err)) << err.message;
  long n = 0;
  ASSERT_TRUE(rs.RecordCount(&n, &err));
  EXPECT_EQ(n, 2);
  struct Want {
    const char* i;
    const char* r;
    std::string s;
    const char* d;
    const char* n;
  } want[] = {{"42", "0.1", "x", "20240506070809", ""},
              {"-7", "2.5", platform::utf8ToGbk("您好"), "19991231235959", "n"}};
  for (const auto& w : want) {
    bool eof = true;
    ASSERT_TRUE(rs.Eof(&eof, &err));
    ASSERT_FALSE(eof);
    std::string v;
    const std::pair<int, std::string> fields[] = {{0, w.i}, {1, w.r}, {2, w.s}, {3, w.d}, {4, w.n}};
    for (const auto& [idx, text] : fields) {
      ASSERT_TRUE(rs.Field(idx, &v, &err)) << idx << ": " << err.message;
      EXPECT_EQ(v, text) << "field " << idx;
    }
    ASSERT_TRUE(rs.Field("S", &v, &err)) << err.message;  // names ignore case
    EXPECT_EQ(v, w.s);
    ASSERT_TRUE(rs.MoveNext(&err));
  }
  bool eof = false;
  ASSERT_TRUE(rs.Eof(&eof, &err));
  EXPECT_TRUE(eof);
}

TEST_P(DbTest, RecordsetErrors) {
  Recordset rs;
  DbError err;
  std::string v;
  bool eof;
  long n;
  EXPECT_FALSE(rs.MoveNext(&err));
  EXPECT_EQ(err.code, kErrObjectClosed);
  EXPECT_FALSE(rs.Eof(&eof, &err));
  EXPECT_FALSE(rs.RecordCount(&n, &err));
  ASSERT_TRUE(rs.Open(db_, "select i from t where id = 1", &err));
  EXPECT_FALSE(rs.Field(3, &v, &err));
  EXPECT_EQ(err.code, kErrItemNotFound);
  EXPECT_FALSE(rs.Field("nope", &v, &err));
  EXPECT_EQ(err.code, kErrItemNotFound);
  ASSERT_TRUE(rs.MoveNext(&err));
  EXPECT_FALSE(rs.MoveNext(&err));
  EXPECT_EQ(err.code, kErrNoCurrentRecord);
  EXPECT_FALSE(rs.Field(0, &v, &err));
  // A failing open leaves the record set closed, its old rows gone.
  EXPECT_FALSE(rs.Open(db_, "select * from missing_table", &err));
  EXPECT_EQ(rs.State(), 0);
  ASSERT_TRUE(rs.Open(db_, "select * from t where id > 5", &err));
  ASSERT_TRUE(rs.Eof(&eof, &err));
  EXPECT_TRUE(eof);
}

TEST_P(DbTest, DriverErrorsCarryCodeAndMessage) {
  struct Case {
    const char* sql;
    const char* words;  // in the message
  } cases[] = {{"selec 1", "syntax"}, {"select * from missing_table", "missing_table"}};
  for (const auto& c : cases) {
    DbError err;
    Database::Result r;
    EXPECT_FALSE(db_.query(c.sql, &r, &err)) << c.sql;
    EXPECT_NE(err.code, 0) << c.sql;
    std::string m = err.message;
    for (auto& ch : m)
      ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_NE(m.find(c.words), std::string::npos) << err.message;
  }
  DbError err;
  Database::Result r;
  db_.query("selec 1", &r, &err);
  // SQLITE_ERROR; SQLSTATE 42601 packed six bits a character.
  const int want = GetParam().name == "sqlite"       ? 1
                   : GetParam().name == "postgresql" ? 16801924
                                                     : err.code;
  EXPECT_EQ(err.code, want);
}

TEST_P(DbTest, LongStatementsAreCancelled) {
  if (GetParam().name == "odbc_sqlite")
    GTEST_SKIP() << "the SQLite ODBC driver has no query timeout";
  const std::string sql =
      GetParam().settings.type == 3
          ? "select pg_sleep(5)"
          : "with recursive c(x) as (select 1 union all select x + 1 from c where x < 100000000) "
            "select count(*) from c";
  DbError err;
  Database::Result r;
  const auto start = std::chrono::steady_clock::now();
  const bool ok = db_.query(sql, &r, &err);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(ok);
  EXPECT_LT(took, std::chrono::seconds(4));
  EXPECT_FALSE(err.message.empty());
  // The connection is usable afterwards.
  EXPECT_TRUE(db_.query("select 1", &r, &err)) << err.message;
}

// A date-time cell that is not a date the driver can parse reads as the text
// the database holds; the other rows and cells of the result still come.
TEST_P(DbTest, UnconvertibleTimesReadAsStored) {
  const bool pg = GetParam().settings.type == 3;
  const std::string odd = pg ? "infinity" : "not a time";
  DbError err;
  ASSERT_TRUE(db_.execute("insert into t (id, d) values (3, '" +
                              std::string(pg ? "20240506 070809" : "20240506070809") + "')",
                          &err))
      << err.message;
  ASSERT_TRUE(db_.execute("insert into t (id, d) values (4, '" + odd + "')", &err)) << err.message;
  Recordset rs;
  ASSERT_TRUE(rs.Open(db_, "select id, d from t where id >= 3 order by id", &err)) << err.message;
  const std::pair<const char*, std::string> want[] = {{"3", "20240506070809"}, {"4", odd}};
  for (const auto& [id, d] : want) {
    std::string v;
    ASSERT_TRUE(rs.Field(0, &v, &err)) << err.message;
    EXPECT_EQ(v, id);
    ASSERT_TRUE(rs.Field(1, &v, &err)) << err.message;
    EXPECT_EQ(v, d) << "row " << id;
    ASSERT_TRUE(rs.MoveNext(&err));
  }
}

// Values bound to "?" reach the database as values: a quote, a placeholder
// mark or an SQL fragment typed by a person matches only itself, and a
// statement without rows (delete) reads as an empty result.
TEST_P(DbTest, BoundParameters) {
  DbError err;
  ASSERT_TRUE(db_.execute("insert into t (id, s) values (5, 'o''k?')", &err)) << err.message;
  struct Case {
    std::vector<std::string> params;
    std::vector<std::string> ids;
  } cases[] = {
      {{"x"}, {"1"}},
      {{"您好"}, {"2"}},
      {{"o'k?"}, {"5"}},
      {{"x' or '1'='1"}, {}},
  };
  for (const auto& c : cases) {
    Database::Result r;
    ASSERT_TRUE(db_.query("select id from t where s=? order by id", c.params, &r, &err))
        << err.message;
    std::vector<std::string> ids;
    for (const auto& row : r.rows)
      ids.push_back(row[0].text);
    EXPECT_EQ(ids, c.ids) << c.params[0];
  }
  Database::Result r;
  ASSERT_TRUE(db_.query("delete from t where id=? and s<>'?'", {"5"}, &r, &err)) << err.message;
  EXPECT_TRUE(r.rows.empty());
  ASSERT_TRUE(db_.query("select count(*) from t", &r, &err));
  EXPECT_EQ(r.rows.at(0).at(0).text, "2");
  // Too few values for the placeholders is an error, not a silent null.
  EXPECT_FALSE(db_.query("select id from t where s=? and i=?", {"x"}, &r, &err));
}

TEST(DbPlaceholders, DollarForm) {
  EXPECT_EQ(dollarPlaceholders("a=? and b='?' and c=\"?\" and d=?"),
            "a=$1 and b='?' and c=\"?\" and d=$2");
}

INSTANTIATE_TEST_SUITE_P(Backends, DbTest, ::testing::ValuesIn(targets()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace callproc
