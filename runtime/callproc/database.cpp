#include "runtime/callproc/database.h"

#include <sys/stat.h>

#include <soci/sqlite3/soci-sqlite3.h>

#include "platform/winpath.h"
#include "runtime/callproc/soci_include.h"

namespace callproc {

Database::Database() = default;
Database::~Database() = default;

void Database::close() {
  std::lock_guard lock(mu_);
  session_.reset();
}

bool Database::open(const SysConfig& cfg, std::string* error) {
  std::lock_guard lock(mu_);
  session_.reset();
  if (cfg.dbType != 0) {
    *error = "database type " + std::to_string(cfg.dbType) +
             " is not supported by this build; set [DataBase] type=0 (file database)";
    return false;
  }
  if (cfg.filename.empty()) {
    *error = "no database file: set [DataBase] filename in sysconfig.ini";
    return false;
  }
  const std::string path = platform::openableUtf8Path(cfg.filename);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = "database file " + path + " does not exist";
    return false;
  }
  try {
    auto s = std::make_unique<soci::session>(soci::sqlite3, "db=\"" + path + "\" timeout=5");
    int n = 0;
    *s << "select count(*) from sqlite_master", soci::into(n);  // proves it is a database
    session_ = std::move(s);
    return true;
  } catch (const std::exception& e) {
    *error = "cannot open database " + path + ": " + e.what();
    return false;
  }
}

}  // namespace callproc
