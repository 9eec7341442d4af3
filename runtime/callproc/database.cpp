#include "runtime/callproc/database.h"

#include <sys/stat.h>

#include <soci/odbc/soci-odbc.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/sqlite3/soci-sqlite3.h>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "platform/gbk.h"
#include "platform/winpath.h"
#include "runtime/callproc/soci_include.h"

namespace callproc {

DbSettings dbSettingsFrom(const SysConfig& c) {
  DbSettings s;
  s.type = c.dbType;
  s.filename = c.filename;
  s.server = c.server;
  s.data = c.data;
  s.user = c.user;
  s.pass = c.pass;
  s.service = c.service;
  s.username = c.username;
  s.password = c.password;
  s.port = c.dbPort;
  s.driver = c.dbDriver;
  s.timeoutSeconds = c.dbTimeout;
  return s;
}

namespace {
bool digitsOf(std::string_view s, size_t at, size_t n) {
  if (at + n > s.size()) return false;
  for (size_t i = at; i < at + n; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}
}  // namespace

std::string timeDigits(const std::string& text) {
  const std::string_view s(text);
  if (s.size() == 14 && digitsOf(s, 0, 14)) return text;
  // yyyy-mm-dd, then optionally [ T]hh:mm:ss, fractions and a zone after it
  if (!digitsOf(s, 0, 4) || s.size() < 10 || s[4] != '-' || !digitsOf(s, 5, 2) || s[7] != '-' ||
      !digitsOf(s, 8, 2))
    return text;
  std::string out = text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2);
  if (s.size() == 10) return out + "000000";
  if ((s[10] != ' ' && s[10] != 'T') || s.size() < 19 || !digitsOf(s, 11, 2) || s[13] != ':' ||
      !digitsOf(s, 14, 2) || s[16] != ':' || !digitsOf(s, 17, 2))
    return text;
  if (s.size() > 19 && s[19] != '.' && s[19] != '+' && s[19] != '-' && s[19] != 'Z') return text;
  return out + text.substr(11, 2) + text.substr(14, 2) + text.substr(17, 2);
}

namespace {

// An ODBC attribute value, braced when it holds characters that would end it.
std::string odbcValue(const std::string& v) {
  if (v.find_first_of(";{}= ") == std::string::npos) return v;
  std::string out = "{";
  for (char c : v) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

// A libpq connection value in single quotes.
std::string pgValue(const std::string& v) {
  std::string out = "'";
  for (char c : v) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

// PostgreSQL packs a SQLSTATE into an int six bits a character.
int packSqlState(const std::string& s) {
  int v = 0;
  for (size_t i = 0; i < 5 && i < s.size(); ++i)
    v += ((s[i] - '0') & 0x3F) << (6 * i);
  return v;
}

// A failed SQLite call as the driver reports it.
struct SqliteFailure : std::runtime_error {
  SqliteFailure(int code, const std::string& what) : std::runtime_error(what), code(code) {}
  int code;
};

// A failed PostgreSQL statement: its SQLSTATE and the server's message.
struct PgFailure : std::runtime_error {
  PgFailure(std::string state, const std::string& what)
      : std::runtime_error(what), state(std::move(state)) {}
  std::string state;
};

// A failed ODBC call: the driver's native code and its message.
struct OdbcFailure : std::runtime_error {
  OdbcFailure(int native, const std::string& what) : std::runtime_error(what), native(native) {}
  int native;
};

DbError errorOf(const std::exception& e) {
  DbError err;
  err.message = e.what();
  while (!err.message.empty() && (err.message.back() == '\n' || err.message.back() == ' '))
    err.message.pop_back();
  if (auto* f = dynamic_cast<const SqliteFailure*>(&e))
    err.code = f->code;
  else if (auto* s = dynamic_cast<const soci::sqlite3_soci_error*>(&e))
    err.code = s->result();
  else if (auto* f = dynamic_cast<const PgFailure*>(&e))
    err.code = f->state.empty() ? kErrGeneric : packSqlState(f->state);
  else if (auto* f = dynamic_cast<const OdbcFailure*>(&e))
    err.code = f->native ? f->native : kErrGeneric;
  else if (auto* p = dynamic_cast<const soci::postgresql_soci_error*>(&e))
    err.code = packSqlState(p->sqlstate());
  else if (auto* o = dynamic_cast<const soci::odbc_soci_error*>(&e))
    err.code = o->native_error_code() ? o->native_error_code() : kErrGeneric;
  else
    err.code = kErrGeneric;
  return err;
}

std::string doubleText(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", d);
  return buf;
}

// A driver's text of a floating value in the form every kind reads as;
// NaN and infinities stay as the driver wrote them.
std::string floatText(const std::string& v) {
  if (v.empty() || v.find_first_not_of("0123456789.eE+-") != std::string::npos) return v;
  return doubleText(std::strtod(v.c_str(), nullptr));
}

// SQLite keeps whatever a flow wrote; a column declared as a date or a time
// holds it as text or as a number.
bool declaredAsTime(const char* decltype_) {
  if (!decltype_) return false;
  std::string d(decltype_);
  for (auto& c : d)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return d.find("DATE") != std::string::npos || d.find("TIME") != std::string::npos;
}

// SQLite's text of a value, as the database holds it.
Database::Cell sqliteCell(sqlite_api::sqlite3_stmt* st, int i) {
  using namespace sqlite_api;
  Database::Cell c;
  switch (sqlite3_column_type(st, i)) {
    case SQLITE_NULL:
      break;
    case SQLITE_INTEGER:
      c.text = std::to_string(sqlite3_column_int64(st, i));
      break;
    case SQLITE_FLOAT:
      c.text = doubleText(sqlite3_column_double(st, i));
      break;
    default: {  // text, and blobs as their bytes
      const auto* p = static_cast<const char*>(sqlite3_column_blob(st, i));
      const std::string raw(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(st, i)));
      c.text = platform::utf8ToGbk(raw);
      if (declaredAsTime(sqlite3_column_decltype(st, i))) c.text = timeDigits(c.text);
      break;
    }
  }
  return c;
}

}  // namespace

std::string dollarPlaceholders(const std::string& sql) {
  std::string out;
  int n = 0;
  char quote = 0;
  for (char ch : sql) {
    if (quote) {
      if (ch == quote) quote = 0;
    } else if (ch == '\'' || ch == '"') {
      quote = ch;
    } else if (ch == '?') {
      out += '$' + std::to_string(++n);
      continue;
    }
    out += ch;
  }
  return out;
}

namespace {

void sqliteQuery(sqlite_api::sqlite3* db, const std::string& sql, Database::Result* r,
                 const std::vector<std::string>& params = {}) {
  using namespace sqlite_api;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr) != SQLITE_OK)
    throw SqliteFailure(sqlite3_errcode(db), sqlite3_errmsg(db));
  if (!st) return;  // nothing but blanks and comments
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> hold(st, sqlite3_finalize);
  if (static_cast<size_t>(sqlite3_bind_parameter_count(st)) != params.size())
    throw SqliteFailure(SQLITE_RANGE, "the statement's parameters and the values differ in number");
  for (size_t i = 0; i < params.size(); ++i)
    if (sqlite3_bind_text(st, static_cast<int>(i + 1), params[i].data(),
                          static_cast<int>(params[i].size()), SQLITE_TRANSIENT) != SQLITE_OK)
      throw SqliteFailure(sqlite3_errcode(db), sqlite3_errmsg(db));
  const int n = sqlite3_column_count(st);
  for (int i = 0; i < n; ++i) {
    const char* name = sqlite3_column_name(st, i);
    r->columns.push_back(platform::utf8ToGbk(name ? name : ""));
  }
  for (;;) {
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) throw SqliteFailure(sqlite3_errcode(db), sqlite3_errmsg(db));
    std::vector<Database::Cell> cells;
    cells.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
      cells.push_back(sqliteCell(st, i));
    r->rows.push_back(std::move(cells));
  }
}

// Type numbers of the server's catalogue that change how a value reads.
constexpr Oid kPgBool = 16, kPgFloat4 = 700, kPgFloat8 = 701, kPgDate = 1082, kPgTimestamp = 1114,
              kPgTimestampTz = 1184;

// PostgreSQL is read in its text form, so that no value of the result (an
// infinite timestamp, a numeric beyond a double) can fail the whole query.
void pgQuery(PGconn* conn, const std::string& sql, Database::Result* r,
             const std::vector<std::string>& params = {}) {
  std::vector<const char*> values;
  for (const auto& p : params)
    values.push_back(p.c_str());
  // The server infers each parameter's type from where it stands, so a
  // date-time text compared with a timestamp column is read as a timestamp.
  std::unique_ptr<PGresult, void (*)(PGresult*)> res(
      PQexecParams(conn, params.empty() ? sql.c_str() : dollarPlaceholders(sql).c_str(),
                   static_cast<int>(params.size()), nullptr,
                   values.empty() ? nullptr : values.data(), nullptr, nullptr, 0),
      PQclear);
  const ExecStatusType st = res ? PQresultStatus(res.get()) : PGRES_FATAL_ERROR;
  if (st != PGRES_TUPLES_OK && st != PGRES_COMMAND_OK) {
    const char* state = res ? PQresultErrorField(res.get(), PG_DIAG_SQLSTATE) : nullptr;
    std::string msg = res ? PQresultErrorMessage(res.get()) : PQerrorMessage(conn);
    if (msg.empty()) msg = PQerrorMessage(conn);
    throw PgFailure(state ? state : "", msg);
  }
  const int cols = PQnfields(res.get()), rows = PQntuples(res.get());
  for (int i = 0; i < cols; ++i)
    r->columns.push_back(platform::utf8ToGbk(PQfname(res.get(), i)));
  for (int row = 0; row < rows; ++row) {
    std::vector<Database::Cell> cells;
    cells.reserve(static_cast<size_t>(cols));
    for (int i = 0; i < cols; ++i) {
      Database::Cell c;
      if (!PQgetisnull(res.get(), row, i)) {
        const std::string v(PQgetvalue(res.get(), row, i),
                            static_cast<size_t>(PQgetlength(res.get(), row, i)));
        switch (PQftype(res.get(), i)) {
          case kPgBool:
            c.text = v == "t" ? "1" : "0";
            break;
          case kPgFloat4:
          case kPgFloat8:
            c.text = floatText(v);
            break;
          case kPgDate:
          case kPgTimestamp:
          case kPgTimestampTz:
            c.text = timeDigits(v);
            break;
          default:
            c.text = platform::utf8ToGbk(v);
            break;
        }
      }
      cells.push_back(std::move(c));
    }
    r->rows.push_back(std::move(cells));
  }
}

// ODBC is read as character data too: each driver converts its own values
// to text, and a value the driver could not make a date of is still there.
void odbcQuery(SQLHDBC dbc, const std::string& sql, Database::Result* r,
               const std::vector<std::string>& params = {}) {
  SQLHSTMT st = SQL_NULL_HSTMT;
  auto check = [&](SQLRETURN rc, SQLSMALLINT type, SQLHANDLE h) {
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return;
    SQLCHAR state[8] = {0}, msg[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLGetDiagRec(type, h, 1, state, &native, msg, sizeof msg, &len);
    throw OdbcFailure(native, reinterpret_cast<char*>(msg));
  };
  check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st), SQL_HANDLE_DBC, dbc);
  std::unique_ptr<void, void (*)(void*)> hold(st,
                                              [](void* h) { SQLFreeHandle(SQL_HANDLE_STMT, h); });
  std::vector<SQLLEN> lengths(params.size());
  if (params.empty()) {
    check(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
                        static_cast<SQLINTEGER>(sql.size())),
          SQL_HANDLE_STMT, st);
  } else {
    check(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
                     static_cast<SQLINTEGER>(sql.size())),
          SQL_HANDLE_STMT, st);
    for (size_t i = 0; i < params.size(); ++i) {
      lengths[i] = static_cast<SQLLEN>(params[i].size());
      check(SQLBindParameter(st, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_CHAR,
                             SQL_VARCHAR, params[i].size() + 1, 0,
                             const_cast<char*>(params[i].c_str()),
                             static_cast<SQLLEN>(params[i].size() + 1), &lengths[i]),
            SQL_HANDLE_STMT, st);
    }
    check(SQLExecute(st), SQL_HANDLE_STMT, st);
  }
  SQLSMALLINT cols = 0;
  check(SQLNumResultCols(st, &cols), SQL_HANDLE_STMT, st);
  enum class Kind { kText, kTime, kFloat };
  std::vector<Kind> kinds;
  for (SQLUSMALLINT i = 1; i <= cols; ++i) {
    SQLCHAR name[256] = {0};
    SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    check(SQLDescribeCol(st, i, name, sizeof name, &nameLen, &type, &size, &digits, &nullable),
          SQL_HANDLE_STMT, st);
    r->columns.push_back(platform::utf8ToGbk(reinterpret_cast<char*>(name)));
    const bool time = type == SQL_TYPE_TIMESTAMP || type == SQL_TYPE_DATE ||
                      type == SQL_TIMESTAMP || type == SQL_DATE;
    const bool floating = type == SQL_DOUBLE || type == SQL_FLOAT || type == SQL_REAL;
    kinds.push_back(time ? Kind::kTime : floating ? Kind::kFloat : Kind::kText);
  }
  if (cols == 0) return;
  auto readAs = [](Kind k, const std::string& v) {
    switch (k) {
      case Kind::kTime:
        return timeDigits(v);
      case Kind::kFloat:
        return floatText(v);
      default:
        return platform::utf8ToGbk(v);
    }
  };
  for (;;) {
    const SQLRETURN rc = SQLFetch(st);
    if (rc == SQL_NO_DATA) break;
    check(rc, SQL_HANDLE_STMT, st);
    std::vector<Database::Cell> cells;
    for (SQLUSMALLINT i = 1; i <= cols; ++i) {
      Database::Cell c;
      std::string v;
      char buf[4096];
      SQLLEN got = 0;
      bool isNull = false;
      for (;;) {  // long values come in pieces
        const SQLRETURN g = SQLGetData(st, i, SQL_C_CHAR, buf, sizeof buf, &got);
        if (g == SQL_NO_DATA) break;
        check(g, SQL_HANDLE_STMT, st);
        if (got == SQL_NULL_DATA) {
          isNull = true;
          break;
        }
        const size_t piece = got == SQL_NO_TOTAL || got >= static_cast<SQLLEN>(sizeof buf)
                                 ? sizeof buf - 1
                                 : static_cast<size_t>(got);
        v.append(buf, piece);
        if (g == SQL_SUCCESS) break;
      }
      if (!isNull) c.text = readAs(kinds[i - 1], v);
      cells.push_back(std::move(c));
    }
    r->rows.push_back(std::move(cells));
  }
}

int sqliteProgress(void* arg) {
  auto* db = static_cast<Database*>(arg);
  const int64_t deadline = db->deadline_.load(std::memory_order_relaxed);
  const int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
  return deadline != 0 && now > deadline ? 1 : 0;
}

}  // namespace

bool connectionFor(const DbSettings& s, std::string* backend, std::string* connect,
                   std::string* error) {
  auto need = [&](const std::string& v, const char* key) {
    if (!v.empty()) return true;
    *error = std::string("set [DataBase] ") + key + " in sysconfig.ini for database type " +
             std::to_string(s.type);
    return false;
  };
  switch (s.type) {
    case 0: {
      if (!need(s.filename, "filename")) return false;
      const std::string path = platform::openableUtf8Path(s.filename);
      struct stat st;
      if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = "database file " + path + " does not exist";
        return false;
      }
      *backend = "sqlite3";
      *connect = "db=\"" + path + "\" timeout=" + std::to_string(s.timeoutSeconds);
      return true;
    }
    case 1:
      if (!need(s.server, "server") || !need(s.data, "data")) return false;
      *backend = "odbc";
      *connect = "DRIVER=" + odbcValue(s.driver.empty() ? "FreeTDS" : s.driver) +
                 ";SERVER=" + odbcValue(s.server) + ";DATABASE=" + odbcValue(s.data) +
                 ";UID=" + odbcValue(s.user) + ";PWD=" + odbcValue(s.pass);
      return true;
    case 2:
      if (!need(s.service, "service")) return false;
      *backend = "odbc";
      *connect = "DRIVER=" + odbcValue(s.driver.empty() ? "Oracle" : s.driver) +
                 ";DBQ=" + odbcValue(s.service) + ";UID=" + odbcValue(s.username) +
                 ";PWD=" + odbcValue(s.password);
      return true;
    case 3:
      if (!need(s.data, "data")) return false;
      *backend = "postgresql";
      *connect = "dbname=" + pgValue(s.data);
      if (!s.server.empty()) *connect += " host=" + pgValue(s.server);
      if (!s.port.empty()) *connect += " port=" + pgValue(s.port);
      if (!s.user.empty()) *connect += " user=" + pgValue(s.user);
      if (!s.pass.empty()) *connect += " password=" + pgValue(s.pass);
      *connect += " connect_timeout=" + std::to_string(std::max(2, s.timeoutSeconds));
      return true;
    default:
      *error = "unknown database type " + std::to_string(s.type) +
               " in [DataBase] type (0 file, 1 SQL Server, 2 Oracle, 3 PostgreSQL)";
      return false;
  }
}

Database::Database() = default;
Database::~Database() = default;

bool Database::isOpen() const {
  std::lock_guard lock(mu_);
  return session_ != nullptr;
}

void Database::close() {
  std::lock_guard lock(mu_);
  session_.reset();
}

bool Database::open(const DbSettings& s, std::string* error) {
  std::lock_guard lock(mu_);
  session_.reset();
  std::string backend, connect;
  if (!connectionFor(s, &backend, &connect, error)) return false;
  timeoutMs_ = std::max(1, s.timeoutSeconds) * 1000;
  try {
    std::unique_ptr<soci::session> ses;
    if (backend == "sqlite3") {
      ses = std::make_unique<soci::session>(soci::sqlite3, connect);
      auto* be = static_cast<soci::sqlite3_session_backend*>(ses->get_backend());
      sqlite_api::sqlite3_progress_handler(be->conn_, 1000, sqliteProgress, this);
      int n = 0;
      *ses << "select count(*) from sqlite_master", soci::into(n);  // proves it is a database
    } else if (backend == "postgresql") {
      ses = std::make_unique<soci::session>(soci::postgresql, connect);
      *ses << "set statement_timeout = " + std::to_string(timeoutMs_);
    } else {
      ses = std::make_unique<soci::session>(soci::odbc, connect);
      auto* be = static_cast<soci::odbc_session_backend*>(ses->get_backend());
      // Statements made on this connection take it as their query timeout.
      SQLSetConnectAttr(be->hdbc_, SQL_ATTR_QUERY_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeoutMs_ / 1000)), 0);
    }
    session_ = std::move(ses);
    backend_ = backend;
    return true;
  } catch (const std::exception& e) {
    *error = "cannot open the database (" + backend + "): " + errorOf(e).message;
    return false;
  }
}

void Database::armTimeout() {
  deadline_ = (std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_))
                  .time_since_epoch()
                  .count();
}

template <typename F>
bool Database::run(const std::string& gbkSql, DbError* err, F body) {
  std::lock_guard lock(mu_);
  if (!session_) {
    *err = {kErrObjectClosed, "the database connection is not open"};
    return false;
  }
  const std::string sql = platform::gbkToUtf8(gbkSql);
  const auto start = std::chrono::steady_clock::now();
  armTimeout();
  bool ok = true;
  try {
    body(sql);
  } catch (const std::exception& e) {
    *err = errorOf(e);
    if (backend_ == "sqlite3" && err->code == 9 /* SQLITE_INTERRUPT */)
      err->message = "the statement ran longer than " + std::to_string(timeoutMs_ / 1000) +
                     " s and was cancelled";
    ok = false;
  }
  deadline_ = 0;
  lastDuration_ = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  return ok;
}

bool Database::execute(const std::string& gbkSql, DbError* err) {
  return run(gbkSql, err, [&](const std::string& sql) { *session_ << sql; });
}

bool Database::query(const std::string& gbkSql, Result* out, DbError* err) {
  return query(gbkSql, {}, out, err);
}

bool Database::query(const std::string& gbkSql, const std::vector<std::string>& params, Result* out,
                     DbError* err) {
  Result r;
  bool ok = run(gbkSql, err, [&](const std::string& sql) {
    // Results are read through each driver's own interface: the library's
    // typed fetch refuses a whole result when one cell of a date column does
    // not parse as its date form.
    if (backend_ == "sqlite3")
      return sqliteQuery(
          static_cast<soci::sqlite3_session_backend*>(session_->get_backend())->conn_, sql, &r,
          params);
    if (backend_ == "postgresql")
      return pgQuery(static_cast<soci::postgresql_session_backend*>(session_->get_backend())->conn_,
                     sql, &r, params);
    return odbcQuery(static_cast<soci::odbc_session_backend*>(session_->get_backend())->hdbc_, sql,
                     &r, params);
  });
  if (ok) *out = std::move(r);
  return ok;
}

// ---- Recordset --------------------------------------------------------------

bool Recordset::Open(Database& db, const std::string& gbkSql, DbError* err) {
  Close();
  Database::Result r;
  if (!db.query(gbkSql, &r, err)) return false;
  Take(std::move(r));
  return true;
}

void Recordset::Take(Database::Result rows) {
  result_ = std::move(rows);
  pos_ = 0;
  open_ = true;
}

void Recordset::Close() {
  open_ = false;
  result_ = {};
  pos_ = 0;
}

bool Recordset::MoveNext(DbError* err) {
  if (!current(err)) return false;
  ++pos_;
  return true;
}

bool Recordset::Eof(bool* eof, DbError* err) const {
  if (!open_) {
    *err = {kErrObjectClosed, "the record set is closed"};
    return false;
  }
  *eof = pos_ >= result_.rows.size();
  return true;
}

bool Recordset::RecordCount(long* n, DbError* err) const {
  if (!open_) {
    *err = {kErrObjectClosed, "the record set is closed"};
    return false;
  }
  *n = static_cast<long>(result_.rows.size());
  return true;
}

bool Recordset::current(DbError* err) const {
  if (!open_) {
    *err = {kErrObjectClosed, "the record set is closed"};
    return false;
  }
  if (pos_ >= result_.rows.size()) {
    *err = {kErrNoCurrentRecord, "there is no current record (end of the record set)"};
    return false;
  }
  return true;
}

bool Recordset::cell(size_t col, std::string* text) const {
  *text = result_.rows[pos_][col].text;
  return true;
}

bool Recordset::Field(int index, std::string* text, DbError* err) const {
  if (!current(err)) return false;
  if (index < 0 || static_cast<size_t>(index) >= result_.columns.size()) {
    *err = {kErrItemNotFound, "no field number " + std::to_string(index)};
    return false;
  }
  return cell(static_cast<size_t>(index), text);
}

bool Recordset::Field(const std::string& gbkName, std::string* text, DbError* err) const {
  if (!current(err)) return false;
  for (size_t i = 0; i < result_.columns.size(); ++i) {
    const std::string& c = result_.columns[i];
    if (c.size() == gbkName.size() &&
        std::equal(c.begin(), c.end(), gbkName.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        }))
      return cell(i, text);
  }
  *err = {kErrItemNotFound, "no field named " + platform::gbkToUtf8(gbkName)};
  return false;
}

// ---- ChannelDatabases -------------------------------------------------------

namespace {
bool fail(interp::DbFailure* out, const DbError& e) {
  *out = {e.code, e.message};
  return false;
}
}  // namespace

bool ChannelDatabases::valid(int c, interp::DbFailure* err) const {
  if (c >= 0 && c < kChannels) return true;
  *err = {kErrGeneric, "channel " + std::to_string(c) + " has no record set"};
  return false;
}

interp::DbStatus ChannelDatabases::open(int c, const std::string& sql, interp::DbFailure* err) {
  return run(c, true, sql, err);
}

interp::DbStatus ChannelDatabases::execute(int c, const std::string& sql, interp::DbFailure* err) {
  return run(c, false, sql, err);
}

bool ChannelDatabases::inFlight(int c) const {
  return c >= 0 && c < kChannels && jobs_[c] != nullptr;
}

void ChannelDatabases::forget(int c) {
  if (c >= 0 && c < kChannels) jobs_[c].reset();
}

interp::DbStatus ChannelDatabases::run(int c, bool query, const std::string& sql,
                                       interp::DbFailure* err) {
  using interp::DbStatus;
  if (!valid(c, err)) return DbStatus::kFailed;
  if (std::shared_ptr<Job>& pending = jobs_[c]) {
    if (!pending->done.load(std::memory_order_acquire)) return DbStatus::kPending;
    std::shared_ptr<Job> job = std::move(pending);
    return finish(c, *job, err);
  }
  // The record set closes when the query starts: whatever comes back, the
  // previous rows are gone.
  if (query) sets_[c].Close();
  auto job = std::make_shared<Job>();
  job->query = query;
  job->sql = sql;
  auto body = [this, job] {
    job->ok =
        job->query ? db_.query(job->sql, &job->rows, &job->err) : db_.execute(job->sql, &job->err);
    job->done.store(true, std::memory_order_release);
  };
  if (!worker_) {
    body();
    return finish(c, *job, err);
  }
  jobs_[c] = job;
  worker_->submit(std::move(body));
  return DbStatus::kPending;
}

interp::DbStatus ChannelDatabases::finish(int c, Job& job, interp::DbFailure* err) {
  if (!job.ok) {
    fail(err, job.err);
    return interp::DbStatus::kFailed;
  }
  if (job.query) sets_[c].Take(std::move(job.rows));
  return interp::DbStatus::kDone;
}

// ---- DbWorker ---------------------------------------------------------------

DbWorker::DbWorker() : thread_([this] { run(); }) {}

DbWorker::~DbWorker() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
    jobs_.clear();
  }
  cv_.notify_all();
  thread_.join();
}

void DbWorker::submit(std::function<void()> job) {
  {
    std::lock_guard lock(mu_);
    jobs_.push_back(std::move(job));
  }
  cv_.notify_one();
}

void DbWorker::drain() {
  std::unique_lock lock(mu_);
  idle_.wait(lock, [this] { return (jobs_.empty() && !busy_) || stop_; });
}

void DbWorker::run() {
  std::unique_lock lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
    if (stop_) break;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    lock.unlock();
    job();
    lock.lock();
    busy_ = false;
    if (jobs_.empty()) idle_.notify_all();
  }
  busy_ = false;
  idle_.notify_all();
}

bool ChannelDatabases::moveNext(int c, interp::DbFailure* err) {
  DbError e;
  return valid(c, err) && (sets_[c].MoveNext(&e) || fail(err, e));
}

bool ChannelDatabases::eof(int c, bool* eof, interp::DbFailure* err) {
  DbError e;
  return valid(c, err) && (sets_[c].Eof(eof, &e) || fail(err, e));
}

bool ChannelDatabases::recordCount(int c, long* n, interp::DbFailure* err) {
  DbError e;
  return valid(c, err) && (sets_[c].RecordCount(n, &e) || fail(err, e));
}

bool ChannelDatabases::field(int c, int index, std::string* text, interp::DbFailure* err) {
  DbError e;
  return valid(c, err) && (sets_[c].Field(index, text, &e) || fail(err, e));
}

bool ChannelDatabases::field(int c, const std::string& name, std::string* text,
                             interp::DbFailure* err) {
  DbError e;
  return valid(c, err) && (sets_[c].Field(name, text, &e) || fail(err, e));
}

}  // namespace callproc
