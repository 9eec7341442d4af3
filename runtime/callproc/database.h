// The runtime's one database connection and the per-channel record sets,
// over SOCI. Kinds ([DataBase] type):
//   0  file database: SQLite, `filename` (must exist; never created)
//   1  SQL Server through ODBC: DRIVER={driver};SERVER=server;DATABASE=data;
//      UID=user;PWD=pass (driver: [DataBase] driver, default FreeTDS)
//   2  Oracle through ODBC: DRIVER={driver};DBQ=service;UID=username;
//      PWD=password (driver: [DataBase] driver, default Oracle)
//   3  PostgreSQL: host=server dbname=data user=user password=pass [port=port]
// A statement running longer than [DataBase] timeout seconds (default 5) is
// cancelled where the backend can (SQLite: interrupted; PostgreSQL:
// statement_timeout; ODBC: the query timeout) and fails like any error.
//
// Text crosses here: the flows hold GBK, the databases UTF-8. SQL goes in
// as GBK and field values come back as GBK.
//
// Errors carry a numeric code and a message, as the flows have always logged
// them: the driver's own code (SQLite result code; PostgreSQL SQLSTATE packed
// six bits a character, as the server packs it; ODBC native error), or for
// the record set's own errors the codes operators know from ADO:
// kErrObjectClosed, kErrItemNotFound, kErrNoCurrentRecord.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/callproc/config.h"
#include "runtime/interpreter/database.h"

namespace soci {
class session;
}

namespace callproc {

struct DbError {
  int code = 0;
  std::string message;  // UTF-8
};

inline constexpr int kErrGeneric = -2147467259;          // 0x80004005
inline constexpr int kErrObjectClosed = -2146824584;     // 0x800A0E78
inline constexpr int kErrItemNotFound = -2146825023;     // 0x800A0CC1
inline constexpr int kErrNoCurrentRecord = -2146825267;  // 0x800A0BCD

// What to connect to, from [DataBase].
struct DbSettings {
  int type = 0;
  std::string filename, server, data, user, pass, service, username, password;
  std::string port;    // kind 3, optional
  std::string driver;  // kinds 1 and 2: ODBC driver name
  int timeoutSeconds = 5;
};
DbSettings dbSettingsFrom(const SysConfig& cfg);

// The SOCI backend and connection string for the settings; false with a
// message when the kind is unknown or a required key is empty.
bool connectionFor(const DbSettings& s, std::string* backend, std::string* connect,
                   std::string* error);

// A date-time text as the flows' 14 digits "%Y%m%d%H%M%S" (what s2t reads):
// the ISO forms databases print ("2024-05-06 07:08:09", with a "T", a
// fraction or a zone after the seconds, or a date alone) are rewritten; any
// other text is returned as it is.
std::string timeDigits(const std::string& text);

// "?" placeholders (outside quoted text) as PostgreSQL's "$1", "$2", ...
std::string dollarPlaceholders(const std::string& sql);

class Database {
 public:
  Database();
  ~Database();

  // Opens the connection; false with a message a person can act on.
  bool open(const DbSettings& s, std::string* error);
  // Compatibility with the start-up code: the settings of `cfg`.
  bool open(const SysConfig& cfg, std::string* error) { return open(dbSettingsFrom(cfg), error); }
  bool isOpen() const;
  void close();

  // Runs a statement (GBK SQL). False with the error.
  bool execute(const std::string& gbkSql, DbError* err);

  // Runs a query and keeps every row as text (GBK); NULL is "". A date-time
  // value reads as its 14 digits (timeDigits); a value that cannot be
  // converted reads as the text the database holds, never failing the query.
  struct Cell {
    std::string text;  // GBK
  };
  struct Result {
    std::vector<std::string> columns;  // GBK
    std::vector<std::vector<Cell>> rows;
  };
  bool query(const std::string& gbkSql, Result* out, DbError* err);
  // The same with values bound to the statement's "?" placeholders, in
  // order: text typed by a person or taken from a row never becomes part of
  // the statement. Values are UTF-8, as the database holds text. A statement
  // without a result (delete, update) reads as no rows.
  bool query(const std::string& gbkSql, const std::vector<std::string>& params, Result* out,
             DbError* err);

  std::string backendName() const { return backend_; }
  // How long the last statement took.
  std::chrono::microseconds lastDuration() const { return lastDuration_; }

 private:
  template <typename F>
  bool run(const std::string& gbkSql, DbError* err, F body);
  void armTimeout();

  mutable std::mutex mu_;
  std::unique_ptr<soci::session> session_;
  std::string backend_;
  int timeoutMs_ = 5000;
  std::chrono::microseconds lastDuration_{0};

 public:
  // The moment the running statement is to be abandoned (SQLite), in
  // steady-clock nanoseconds; read by the progress handler.
  std::atomic<int64_t> deadline_{0};
};

// One channel's record set: a static snapshot of a query's rows.
class Recordset {
 public:
  // 0 closed, 1 open.
  int State() const { return open_ ? 1 : 0; }
  // Closes, runs the query and keeps its rows; on failure it stays closed.
  bool Open(Database& db, const std::string& gbkSql, DbError* err);
  // Opens on rows a query already gave.
  void Take(Database::Result rows);
  void Close();
  bool MoveNext(DbError* err);
  // EOF of the current position (closed: an error).
  bool Eof(bool* eof, DbError* err) const;
  bool RecordCount(long* n, DbError* err) const;
  // The current record's field as text (GBK): by position or by name
  // (names match without regard to ASCII case).
  bool Field(int index, std::string* text, DbError* err) const;
  bool Field(const std::string& gbkName, std::string* text, DbError* err) const;

 private:
  bool current(DbError* err) const;
  bool cell(size_t col, std::string* text) const;
  bool open_ = false;
  Database::Result result_;
  size_t pos_ = 0;
};

// Runs jobs on a thread of its own, one at a time, in the order submitted,
// so that a statement that waits (a lock, a slow query, a server far away)
// holds only the channel that issued it, never the scan pass.
class DbWorker {
 public:
  DbWorker();
  // Lets the running job finish; jobs not yet started are dropped.
  ~DbWorker();
  void submit(std::function<void()> job);
  // Waits until every job submitted so far has run.
  void drain();

 private:
  void run();
  std::mutex mu_;
  std::condition_variable cv_, idle_;
  std::deque<std::function<void()>> jobs_;
  bool busy_ = false, stop_ = false;
  std::thread thread_;
};

// The database as the script commands see it: the shared connection and one
// record set per channel. With a worker, the statements that reach the
// database (open, execute) run on it and answer kPending until their result
// is back; each channel has at most one in flight, so its statements keep
// their order. Without one they run at once.
class ChannelDatabases : public interp::ChannelDatabase {
 public:
  explicit ChannelDatabases(Database& db) : db_(db) {}
  void setWorker(DbWorker* worker) { worker_ = worker; }
  interp::DbStatus open(int c, const std::string& sql, interp::DbFailure* err) override;
  interp::DbStatus execute(int c, const std::string& sql, interp::DbFailure* err) override;
  bool inFlight(int c) const override;
  bool moveNext(int c, interp::DbFailure* err) override;
  bool eof(int c, bool* eof, interp::DbFailure* err) override;
  bool recordCount(int c, long* n, interp::DbFailure* err) override;
  bool field(int c, int index, std::string* text, interp::DbFailure* err) override;
  bool field(int c, const std::string& name, std::string* text, interp::DbFailure* err) override;
  // The channel's call ended: a result still to come is dropped (the
  // statement itself still runs to its end).
  void forget(int c);
  Recordset& recordset(int c) { return sets_[c]; }

 private:
  static constexpr int kChannels = 128;
  // One statement of a channel on its way through the worker.
  struct Job {
    bool query = false;
    std::string sql;
    bool ok = false;
    DbError err;
    Database::Result rows;
    std::atomic<bool> done{false};
  };
  bool valid(int c, interp::DbFailure* err) const;
  interp::DbStatus run(int c, bool query, const std::string& sql, interp::DbFailure* err);
  interp::DbStatus finish(int c, Job& job, interp::DbFailure* err);
  Database& db_;
  DbWorker* worker_ = nullptr;
  std::array<Recordset, kChannels> sets_;
  std::array<std::shared_ptr<Job>, kChannels> jobs_;
};

}  // namespace callproc
