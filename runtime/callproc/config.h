// sysconfig.ini: every key the runtime reads at start-up, with its default.
// Values are UTF-8 as the INI file holds them.
#pragma once

#include <string>
#include <vector>

#include "platform/ini.h"

namespace callproc {

inline constexpr int kMaxFlowEntries = 1024;
inline constexpr int kMaxAccessCode = 19;  // bytes, GBK
// A guard against a mistyped count, not a limit any installation meets.
inline constexpr int kMaxTriggerEntries = 65536;

struct FlowEntry {
  int slot = 0;        // ivrno<n>
  std::string file;    // ivrfile<n>
  std::string vocDir;  // vocdir<n>
};

struct TriggerEntry {
  std::string code;  // num<n>
  int slot = -1;     // ivrindex<n>
};

struct SysConfig {
  // [DataBase]
  int dbType = 0;
  std::string filename, server, data, user, pass, service, username, password;
  std::string dbPort;    // kind 3 (PostgreSQL), optional
  std::string dbDriver;  // kinds 1 and 2: the ODBC driver's name
  int dbTimeout = 5;     // seconds a statement may run
  // [System]
  int callallow = 1;
  int callintype = 1;
  std::string callednum = "8888";
  int dtmftimeout = 10;
  int replaycnt = 0;
  int replaytime = 0;
  int messageshow = 1;
  // Seconds a channel may go on after its caller hung up before the runtime
  // resets it (a flow that never reaches a block that notices); 0: never.
  int hanguptimeout = 60;
  // [net]
  int keycallport = 0;
  std::string keycalladdr = "127.0.0.1";  // the KeyCall socket's IPv4 address
  // [ivrfile]: cnt as written; entries only when cnt is at most 1024.
  int flowCount = 0;
  std::vector<FlowEntry> flows;
  // [ivrtrig]
  int triggerCount = 0;
  std::vector<TriggerEntry> triggers;
  // Problems a person should know about (malformed numbers), one line each.
  std::vector<std::string> warnings;
};

SysConfig readSysConfig(const platform::IniFile& ini);

// The channel count an access mode chosen at run time gives: simulated
// access always has 8 channels, telephone access the voice box's 2.
int channelCountFor(int callintype);

// [Out<n>] lineno, "" when absent.
std::string lineNumberOf(const platform::IniFile& ini, int channel);

}  // namespace callproc
