#include "platform/ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/gbk.h"

namespace platform {
namespace {

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/initestXXXXXX";
    dir_ = ::mkdtemp(tmpl);
    path_ = dir_ + "/sysconfig.ini";
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  void write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string read() {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string dir_, path_;
};

TEST_F(IniTest, ReadsValuesDefaultsAndNamesWithoutRegardToCase) {
  write(
      "; comment\n[System]\ncallintype = 0\nCallednum=\"8888 \"\nmessageshow=abc\n"
      "big=99999999999\nneg=-12x\n\n[ivrfile]\nIVRFILE0=.\\flows\\a.cpl\n");
  IniFile ini(path_);
  struct Case {
    const char* section;
    const char* key;
    int def;
    int want;
  } ints[] = {
      {"system", "CALLINTYPE", 1, 0},    // names ignore case
      {"System", "missing", 7, 7},       // absent key: default
      {"Nosuch", "callintype", 3, 3},    // absent section: default
      {"System", "messageshow", 1, 0},   // no digits: 0, as the profile calls read it
      {"System", "big", 0, 2147483647},  // limited to the int range
      {"System", "neg", 0, -12},         // leading number only
  };
  for (const auto& c : ints)
    EXPECT_EQ(ini.getInt(c.section, c.key, c.def), c.want) << c.key;
  EXPECT_EQ(ini.getString("SYSTEM", "callednum", "x"), "8888 ");
  EXPECT_EQ(ini.getString("ivrfile", "ivrfile0", ""), ".\\flows\\a.cpl");
  EXPECT_EQ(ini.getString("ivrfile", "ivrfile1", "dflt"), "dflt");
  EXPECT_TRUE(ini.isMalformedInt("System", "messageshow"));
  EXPECT_TRUE(ini.isMalformedInt("System", "big"));
  EXPECT_FALSE(ini.isMalformedInt("System", "callintype"));
}

TEST_F(IniTest, MissingFileReadsAsDefaultsAndIsCreatedOnWrite) {
  IniFile ini(path_);
  EXPECT_FALSE(ini.exists());
  EXPECT_EQ(ini.getInt("net", "keycallport", 0), 0);
  ASSERT_TRUE(ini.writeString("net", "keycallport", "5000"));
  EXPECT_EQ(read(), "[net]\nkeycallport=5000\n");
  EXPECT_EQ(IniFile(path_).getInt("NET", "KeyCallPort", 0), 5000);
}

TEST_F(IniTest, WritesKeepEveryOtherLine) {
  write("; keep me\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n; tail\r\n");
  IniFile ini(path_);
  ASSERT_TRUE(ini.writeString("a", "X", "10"));  // replace in place
  ASSERT_TRUE(ini.writeString("A", "z", "3"));   // new key at the end of its section
  ASSERT_TRUE(ini.writeString("C", "w", "4"));   // new section at the end
  EXPECT_EQ(read(),
            "; keep me\r\n[A]\r\nX=10\r\nz=3\r\n\r\n[B]\r\ny=2\r\n; tail\r\n\r\n[C]\r\nw=4\r\n");
}

TEST_F(IniTest, FileThatIsNotUtf8IsReadAsGbk) {
  write("[Out0]\nlineno=" + utf8ToGbk("总机") + "\n");
  EXPECT_EQ(IniFile(path_).getString("Out0", "lineno", ""), "总机");
}

TEST_F(IniTest, EncodingIsDecidedLineByLine) {
  // A UTF-8 file with one comment typed under GBK, and a GBK value line.
  write("; " + utf8ToGbk("旧的说明：流程目录") + "\r\n[ivrfile]\r\nivrfile0=./流程/主流程.cpl\r\n" +
        "vocdir0=./语音\r\n[Out0]\r\nlineno=" + utf8ToGbk("总机") + "\r\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.getString("ivrfile", "ivrfile0", ""), "./流程/主流程.cpl");
  EXPECT_EQ(ini.getString("ivrfile", "vocdir0", ""), "./语音");
  EXPECT_EQ(ini.getString("Out0", "lineno", ""), "总机");
  // A rewrite keeps every line, the GBK ones now in UTF-8.
  ASSERT_TRUE(ini.writeString("net", "keycallport", "5000"));
  EXPECT_EQ(read(),
            "; 旧的说明：流程目录\r\n[ivrfile]\r\nivrfile0=./流程/主流程.cpl\r\nvocdir0=./语音\r\n"
            "[Out0]\r\nlineno=总机\r\n\r\n[net]\r\nkeycallport=5000\r\n");
}

TEST_F(IniTest, PathThatCannotBeReadIsNotMissingAndIsNeverRewritten) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* error;
  } cases[] = {
      {"directory", [](const std::string& p) { ::mkdir(p.c_str(), 0700); }, "Is a directory"},
      // Opening a FIFO that nobody writes must not wait for a writer.
      {"fifo", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); }, "not a regular file"},
      {"unreadable",
       [](const std::string& p) {
         std::ofstream(p) << "[net]\nkeycallport=5000\n";
         ::chmod(p.c_str(), 0200);
       },
       "Permission denied"},
  };
  for (const auto& c : cases) {
    if (std::string(c.name) == "unreadable" && ::geteuid() == 0) continue;  // root reads anyway
    const std::string p = dir_ + "/" + c.name + ".ini";
    c.make(p);
    IniFile ini(p);
    EXPECT_TRUE(ini.exists()) << c.name;
    EXPECT_EQ(ini.readError(), c.error) << c.name;
    EXPECT_EQ(ini.getInt("net", "keycallport", 7), 7) << c.name;
    std::string err;
    EXPECT_FALSE(ini.writeString("net", "keycallport", "6000", &err)) << c.name;
    EXPECT_EQ(err, "cannot read " + p + ": " + c.error + "; it is left as it is") << c.name;
  }
  IniFile missing(dir_ + "/none.ini");
  EXPECT_FALSE(missing.exists());
  EXPECT_EQ(missing.readError(), "");
}

TEST_F(IniTest, WriteIntoUnwritableFolderFailsWithReason) {
  IniFile ini("/nonexistent-dir/x.ini");
  std::string err;
  EXPECT_FALSE(ini.writeString("a", "b", "c", &err));
  EXPECT_NE(err.find("/nonexistent-dir"), std::string::npos);
}

}  // namespace
}  // namespace platform
