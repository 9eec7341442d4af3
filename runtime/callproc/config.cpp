#include "runtime/callproc/config.h"

#include <arpa/inet.h>

namespace callproc {
namespace {

// Reads an integer key, noting a value that is not a plain number.
int readInt(const platform::IniFile& ini, SysConfig& cfg, const char* section,
            const std::string& key, int def) {
  if (ini.isMalformedInt(section, key))
    cfg.warnings.push_back(std::string("[") + section + "] " + key + "=" +
                           ini.getString(section, key, "") + " is not a whole number; read as " +
                           std::to_string(ini.getInt(section, key, def)));
  return ini.getInt(section, key, def);
}

// A count of entries: a negative one is noted and read as 0.
int readCount(const platform::IniFile& ini, SysConfig& cfg, const char* section) {
  const int n = readInt(ini, cfg, section, "cnt", 0);
  if (n >= 0) return n;
  cfg.warnings.push_back(std::string("[") + section + "] cnt=" + ini.getString(section, "cnt", "") +
                         " is negative; read as 0");
  return 0;
}

}  // namespace

SysConfig readSysConfig(const platform::IniFile& ini) {
  SysConfig c;
  if (!ini.readError().empty())
    c.warnings.push_back(ini.path() + " cannot be read (" + ini.readError() +
                         "); every setting takes its default");
  c.dbType = readInt(ini, c, "DataBase", "type", 0);
  c.filename = ini.getString("DataBase", "filename", "");
  c.server = ini.getString("DataBase", "server", "");
  c.data = ini.getString("DataBase", "data", "");
  c.user = ini.getString("DataBase", "user", "");
  c.pass = ini.getString("DataBase", "pass", "");
  c.service = ini.getString("DataBase", "service", "");
  c.username = ini.getString("DataBase", "username", "");
  c.password = ini.getString("DataBase", "password", "");
  c.dbPort = ini.getString("DataBase", "port", "");
  c.dbDriver = ini.getString("DataBase", "driver", "");
  c.dbTimeout = readInt(ini, c, "DataBase", "timeout", 5);

  c.callallow = readInt(ini, c, "System", "callallow", 1);
  c.callintype = readInt(ini, c, "System", "callintype", 1);
  c.callednum = ini.getString("System", "callednum", "8888");
  c.dtmftimeout = readInt(ini, c, "System", "dtmftimeout", 10);
  c.replaycnt = readInt(ini, c, "System", "replaycnt", 0);
  c.replaytime = readInt(ini, c, "System", "replaytime", 0);
  c.messageshow = readInt(ini, c, "System", "messageshow", 1);
  c.hanguptimeout = readInt(ini, c, "System", "hanguptimeout", 60);
  if (c.hanguptimeout < 0) {
    c.warnings.push_back("[System] hanguptimeout=" + std::to_string(c.hanguptimeout) +
                         " is negative; read as 60");
    c.hanguptimeout = 60;
  }
  c.keycallport = readInt(ini, c, "net", "keycallport", 0);
  if (ini.has("net", "keycalladdr")) {
    const std::string a = ini.getString("net", "keycalladdr", "");
    in_addr parsed{};
    if (::inet_pton(AF_INET, a.c_str(), &parsed) == 1)
      c.keycalladdr = a;
    else
      c.warnings.push_back("[net] keycalladdr=" + a + " is not an IPv4 address; " + c.keycalladdr +
                           " is used");
  }

  c.flowCount = readCount(ini, c, "ivrfile");
  if (c.flowCount <= kMaxFlowEntries) {
    for (int n = 0; n < c.flowCount; ++n) {
      const std::string i = std::to_string(n);
      c.flows.push_back({readInt(ini, c, "ivrfile", "ivrno" + i, 0),
                         ini.getString("ivrfile", "ivrfile" + i, ""),
                         ini.getString("ivrfile", "vocdir" + i, "")});
    }
  }
  c.triggerCount = readCount(ini, c, "ivrtrig");
  if (c.triggerCount > kMaxTriggerEntries) {
    c.warnings.push_back("[ivrtrig] cnt=" + std::to_string(c.triggerCount) + " is more than " +
                         std::to_string(kMaxTriggerEntries) + "; only the first " +
                         std::to_string(kMaxTriggerEntries) + " triggers are read");
    c.triggerCount = kMaxTriggerEntries;
  }
  for (int n = 0; n < c.triggerCount; ++n) {
    const std::string i = std::to_string(n);
    c.triggers.push_back(
        {ini.getString("ivrtrig", "num" + i, ""), readInt(ini, c, "ivrtrig", "ivrindex" + i, -1)});
  }
  return c;
}

std::string lineNumberOf(const platform::IniFile& ini, int channel) {
  return ini.getString("Out" + std::to_string(channel), "lineno", "");
}

int channelCountFor(int callintype) {
  return callintype == 0 ? 8 : 2;
}

}  // namespace callproc
