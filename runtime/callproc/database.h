// The runtime's one database connection.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "runtime/callproc/config.h"

namespace soci {
class session;
}

namespace callproc {

class Database {
 public:
  Database();
  ~Database();

  // Opens the connection that [DataBase] describes. Kind 0: the SQLite file
  // `filename`, which must exist (a missing file is an error, never created).
  // False with a message a person can act on.
  bool open(const SysConfig& cfg, std::string* error);
  bool isOpen() const { return session_ != nullptr; }
  void close();

  // The session, for statements; hold lock() while using it.
  soci::session& session() { return *session_; }
  std::mutex& lock() { return mu_; }

 private:
  std::mutex mu_;
  std::unique_ptr<soci::session> session_;
};

}  // namespace callproc
