#include "runtime/callproc/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "runtime/callproc/test_support.h"

namespace callproc {
namespace {

TEST(Config, EmptyFileGivesEveryDefault) {
  testing::TempDir dir;
  SysConfig c = readSysConfig(platform::IniFile(dir.file("missing.ini")));
  EXPECT_EQ(c.dbType, 0);
  EXPECT_EQ(c.filename, "");
  EXPECT_EQ(c.callallow, 1);
  EXPECT_EQ(c.callintype, 1);
  EXPECT_EQ(c.callednum, "8888");
  EXPECT_EQ(c.dtmftimeout, 10);
  EXPECT_EQ(c.replaycnt, 0);
  EXPECT_EQ(c.replaytime, 0);
  EXPECT_EQ(c.messageshow, 1);
  EXPECT_EQ(c.keycallport, 0);
  EXPECT_EQ(c.flowCount, 0);
  EXPECT_EQ(c.triggerCount, 0);
  EXPECT_TRUE(c.warnings.empty());
}

TEST(Config, ReadsEveryKey) {
  testing::TempDir dir;
  platform::IniFile ini(dir.write("sysconfig.ini",
                                  "[DataBase]\ntype=1\nfilename=a.db\nserver=srv\ndata=ivr\n"
                                  "user=u\npass=p\nservice=svc\nusername=un\npassword=pw\n"
                                  "[System]\ncallallow=0\ncallintype=0\ncallednum=95555\n"
                                  "dtmftimeout=7\nreplaycnt=2\nreplaytime=3\nmessageshow=0\n"
                                  "[net]\nkeycallport=6000\n"
                                  "[ivrfile]\ncnt=2\nivrno0=5\nivrfile0=.\\a.cpl\nvocdir0=.\\voc\n"
                                  "ivrno1=6\nivrfile1=b.cpl\n"
                                  "[ivrtrig]\ncnt=3\nnum0=88X\nivrindex0=5\nnum1=9\n"
                                  "[Out3]\nlineno=总机\n"));
  SysConfig c = readSysConfig(ini);
  EXPECT_EQ(c.dbType, 1);
  EXPECT_EQ(c.filename, "a.db");
  EXPECT_EQ(c.server + c.data + c.user + c.pass, "srvivrup");
  EXPECT_EQ(c.service + c.username + c.password, "svcunpw");
  EXPECT_EQ(c.callallow, 0);
  EXPECT_EQ(c.callintype, 0);
  EXPECT_EQ(c.callednum, "95555");
  EXPECT_EQ(c.dtmftimeout + c.replaycnt + c.replaytime, 12);
  EXPECT_EQ(c.messageshow, 0);
  EXPECT_EQ(c.keycallport, 6000);
  ASSERT_EQ(c.flows.size(), 2u);
  EXPECT_EQ(c.flows[0].slot, 5);
  EXPECT_EQ(c.flows[0].file, ".\\a.cpl");
  EXPECT_EQ(c.flows[0].vocDir, ".\\voc");
  EXPECT_EQ(c.flows[1].vocDir, "");
  ASSERT_EQ(c.triggers.size(), 3u);
  EXPECT_EQ(c.triggers[0].code, "88X");
  EXPECT_EQ(c.triggers[1].slot, -1);  // ivrindex defaults to -1
  EXPECT_EQ(c.triggers[2].code, "");
  EXPECT_EQ(lineNumberOf(ini, 3), "总机");
  EXPECT_EQ(lineNumberOf(ini, 4), "");
}

TEST(Config, OversizedAndMalformedCounts) {
  testing::TempDir dir;
  SysConfig c = readSysConfig(platform::IniFile(dir.write(
      "s.ini",
      "[ivrfile]\ncnt=1025\nivrno0=1\n[ivrtrig]\ncnt=99999999\n[net]\nkeycallport=50x0\n")));
  EXPECT_EQ(c.flowCount, 1025);
  EXPECT_TRUE(c.flows.empty());  // the load fails before any file is read
  EXPECT_EQ(c.triggerCount, kMaxTriggerEntries);
  EXPECT_EQ(c.keycallport, 50);
  ASSERT_EQ(c.warnings.size(), 2u);
  EXPECT_NE(c.warnings[0].find("[net] keycallport=50x0 is not a whole number"), std::string::npos)
      << c.warnings[0];
  EXPECT_NE(c.warnings[1].find("[ivrtrig] cnt=99999999"), std::string::npos) << c.warnings[1];
}

TEST(Config, NegativeOrNonNumericCountsAreReportedAndReadAsZero) {
  struct Case {
    const char* ini;
    const char* warning;
  } cases[] = {
      {"[ivrfile]\ncnt=-5\n", "[ivrfile] cnt=-5 is negative; read as 0"},
      {"[ivrfile]\ncnt=abc\n", "[ivrfile] cnt=abc is not a whole number; read as 0"},
      {"[ivrfile]\ncnt=\n", "[ivrfile] cnt= is not a whole number; read as 0"},
      {"[ivrtrig]\ncnt=-1\n", "[ivrtrig] cnt=-1 is negative; read as 0"},
      {"[ivrtrig]\ncnt=x7\n", "[ivrtrig] cnt=x7 is not a whole number; read as 0"},
      {"[ivrtrig]\ncnt=-2147483648\n", "[ivrtrig] cnt=-2147483648 is negative; read as 0"},
  };
  for (const auto& c : cases) {
    testing::TempDir dir;
    SysConfig cfg = readSysConfig(platform::IniFile(dir.write("s.ini", c.ini)));
    EXPECT_EQ(cfg.flowCount, 0) << c.ini;
    EXPECT_EQ(cfg.triggerCount, 0) << c.ini;
    EXPECT_TRUE(cfg.flows.empty() && cfg.triggers.empty()) << c.ini;
    EXPECT_EQ(cfg.warnings, std::vector<std::string>{c.warning}) << c.ini;
  }
}

TEST(Config, KeyCallAddress) {
  struct Case {
    const char* ini;
    const char* want;
    const char* warning;  // nullptr: none
  } cases[] = {
      {"", "127.0.0.1", nullptr},
      {"[net]\nkeycalladdr=192.0.2.7\n", "192.0.2.7", nullptr},
      {"[net]\nkeycalladdr = 0.0.0.0\n", "0.0.0.0", nullptr},
      {"[net]\nkeycalladdr=localhost\n", "127.0.0.1",
       "[net] keycalladdr=localhost is not an IPv4 address; 127.0.0.1 is used"},
      {"[net]\nkeycalladdr=\n", "127.0.0.1",
       "[net] keycalladdr= is not an IPv4 address; 127.0.0.1 is used"},
  };
  for (const auto& c : cases) {
    testing::TempDir dir;
    SysConfig cfg = readSysConfig(platform::IniFile(dir.write("s.ini", c.ini)));
    EXPECT_EQ(cfg.keycalladdr, c.want) << c.ini;
    EXPECT_EQ(cfg.warnings,
              c.warning ? std::vector<std::string>{c.warning} : std::vector<std::string>{})
        << c.ini;
  }
}

TEST(Config, FileThatCannotBeReadIsReported) {
  testing::TempDir dir;
  // A directory where the file should be: it exists, but holds no settings.
  const std::string path = dir.file("sysconfig.ini");
  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
  platform::IniFile ini(path);
  EXPECT_TRUE(ini.exists());
  SysConfig cfg = readSysConfig(ini);
  EXPECT_EQ(cfg.callintype, 1);
  ASSERT_EQ(cfg.warnings.size(), 1u);
  EXPECT_EQ(cfg.warnings[0],
            path + " cannot be read (Is a directory); every setting takes its default");
}

}  // namespace
}  // namespace callproc
