#include "runtime/callproc/database.h"

#include <sys/stat.h>

#include <soci/odbc/soci-odbc.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/sqlite3/soci-sqlite3.h>
#include <cstdio>
#include <ctime>

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

DbError errorOf(const std::exception& e) {
  DbError err;
  err.message = e.what();
  while (!err.message.empty() && (err.message.back() == '\n' || err.message.back() == ' '))
    err.message.pop_back();
  if (auto* s = dynamic_cast<const soci::sqlite3_soci_error*>(&e))
    err.code = s->result();
  else if (auto* p = dynamic_cast<const soci::postgresql_soci_error*>(&e))
    err.code = packSqlState(p->sqlstate());
  else if (auto* o = dynamic_cast<const soci::odbc_soci_error*>(&e))
    err.code = o->native_error_code() ? o->native_error_code() : kErrGeneric;
  else
    err.code = kErrGeneric;
  return err;
}

std::string tmText(const std::tm& t) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

std::string doubleText(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", d);
  return buf;
}

// One field of a row as text, by the column's type.
Database::Cell cellOf(const soci::row& r, std::size_t i) {
  Database::Cell c;
  if (r.get_indicator(i) == soci::i_null) return c;
  try {
    switch (r.get_properties(i).get_data_type()) {
      case soci::dt_string:
        c.text = platform::utf8ToGbk(r.get<std::string>(i));
        break;
      case soci::dt_date:
        c.text = tmText(r.get<std::tm>(i));
        break;
      case soci::dt_double:
        c.text = doubleText(r.get<double>(i));
        break;
      case soci::dt_integer:
        c.text = std::to_string(r.get<int>(i));
        break;
      case soci::dt_long_long:
        c.text = std::to_string(r.get<long long>(i));
        break;
      case soci::dt_unsigned_long_long:
        c.text = std::to_string(r.get<unsigned long long>(i));
        break;
      default:
        c.readable = false;
        c.text = "a value of this column's type cannot be read as text";
        break;
    }
  } catch (const std::exception& e) {
    c.readable = false;
    c.text = e.what();
  }
  return c;
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
  Result r;
  bool ok = run(gbkSql, err, [&](const std::string& sql) {
    soci::rowset<soci::row> rs = session_->prepare << sql;
    bool first = true;
    for (const soci::row& row : rs) {
      if (first) {
        for (std::size_t i = 0; i < row.size(); ++i)
          r.columns.push_back(platform::utf8ToGbk(row.get_properties(i).get_name()));
        first = false;
      }
      std::vector<Cell> cells;
      cells.reserve(row.size());
      for (std::size_t i = 0; i < row.size(); ++i)
        cells.push_back(cellOf(row, i));
      r.rows.push_back(std::move(cells));
    }
  });
  if (ok) *out = std::move(r);
  return ok;
}

// ---- Recordset --------------------------------------------------------------

bool Recordset::Open(Database& db, const std::string& gbkSql, DbError* err) {
  Close();
  Database::Result r;
  if (!db.query(gbkSql, &r, err)) return false;
  result_ = std::move(r);
  pos_ = 0;
  open_ = true;
  return true;
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

bool Recordset::cell(size_t col, std::string* text, DbError* err) const {
  const Database::Cell& c = result_.rows[pos_][col];
  if (!c.readable) {
    *err = {kErrGeneric, c.text};
    return false;
  }
  *text = c.text;
  return true;
}

bool Recordset::Field(int index, std::string* text, DbError* err) const {
  if (!current(err)) return false;
  if (index < 0 || static_cast<size_t>(index) >= result_.columns.size()) {
    *err = {kErrItemNotFound, "no field number " + std::to_string(index)};
    return false;
  }
  return cell(static_cast<size_t>(index), text, err);
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
      return cell(i, text, err);
  }
  *err = {kErrItemNotFound, "no field named " + platform::gbkToUtf8(gbkName)};
  return false;
}

}  // namespace callproc
