#include "platform/winpath.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "platform/gbk.h"

namespace platform {
namespace {

TEST(WinPath, Forms) {
  struct Case {
    std::string in, want;
  } cases[] = {
      {".\\voice\\D0.qx", "./voice/D0.qx"},
      {"..\\x", "../x"},
      {"a\\b", "a/b"},
      {"c:\\ivr\\a.cpl", "/ivr/a.cpl"},
      {"D:x", "/x"},
      {"/already/linux", "/already/linux"},
      {utf8ToGbk(".\\语音\\欢迎.voc"), "./语音/欢迎.voc"},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(winPathToLinux(c.in), c.want) << c.in;
}

TEST(WinPath, FindsFilesWrittenInAnotherCase) {
  char tmpl[] = "/tmp/winpathXXXXXX";
  std::string dir = ::mkdtemp(tmpl);
  std::system(("mkdir -p " + dir + "/Voice").c_str());
  std::ofstream(dir + "/Voice/D0.qx") << "x";
  EXPECT_EQ(resolveCaseInsensitive(dir + "/voice/d0.QX"), dir + "/Voice/D0.qx");
  EXPECT_EQ(resolveCaseInsensitive(dir + "/voice/none"), dir + "/voice/none");
  EXPECT_EQ(openablePath(dir + "\\VOICE\\d0.qx"), dir + "/Voice/D0.qx");
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
}  // namespace platform
