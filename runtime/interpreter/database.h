// What the database commands of a script need from the runtime's database:
// one shared connection and a record set per channel. The runtime implements
// it over its database library; tests use a fake.
#pragma once

#include <string>

namespace interp {

// A failed database call: the driver's numeric code and its message (UTF-8).
struct DbFailure {
  int code = 0;
  std::string message;
};

// How a statement that reaches the database went. A statement may run on a
// worker thread: then the first call starts it and answers kPending, and the
// script calls again at a later pass until the result is there.
enum class DbStatus { kDone, kFailed, kPending };

// Every text is GBK, as the registers hold it. Each call returns false (or
// kFailed) and fills `err` on failure, and never throws.
class ChannelDatabase {
 public:
  virtual ~ChannelDatabase() = default;
  // Closes channel c's record set if it is open, then runs the query into it.
  virtual DbStatus open(int c, const std::string& sql, DbFailure* err) = 0;
  // Runs a statement of channel c on the shared connection.
  virtual DbStatus execute(int c, const std::string& sql, DbFailure* err) = 0;
  // Whether channel c has a statement started whose result it has not taken
  // yet: the next open() or execute() of the channel takes that result.
  virtual bool inFlight(int c) const = 0;
  virtual bool moveNext(int c, DbFailure* err) = 0;
  virtual bool eof(int c, bool* eof, DbFailure* err) = 0;
  virtual bool recordCount(int c, long* n, DbFailure* err) = 0;
  virtual bool field(int c, int index, std::string* text, DbFailure* err) = 0;
  virtual bool field(int c, const std::string& name, std::string* text, DbFailure* err) = 0;
};

}  // namespace interp
