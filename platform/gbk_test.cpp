#include "platform/gbk.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Gbk, RoundTripsChineseText) {
  const char* texts[] = {
      "通道3复位", "流程%s编号%d加载失败", "系统处于模拟呼叫状态，模拟通道数=8", "abc",
      "",          "【错误】：“引号”"};
  for (const char* t : texts) {
    std::string gbk = utf8ToGbk(t);
    EXPECT_EQ(gbkToUtf8(gbk), t);
  }
  // Known bytes: 中 is D6 D0 in GBK.
  EXPECT_EQ(utf8ToGbk("中"), "\xD6\xD0");
  EXPECT_EQ(gbkToUtf8("\xD6\xD0"), "中");
}

TEST(Gbk, BadInputIsReplacedNotLost) {
  // A lone lead byte at the end, then a valid character after a bad pair.
  EXPECT_EQ(gbkToUtf8("a\xD6"), "a\xEF\xBF\xBD");
  EXPECT_EQ(gbkToUtf8("\xFF"
                      "\xD6\xD0"),
            "\xEF\xBF\xBD中");
  // A character GBK has no room for, and broken UTF-8.
  EXPECT_EQ(utf8ToGbk("a😀b"), "a?b");
  EXPECT_EQ(utf8ToGbk("a\xE4\xB8z"), "a?z");
}

TEST(Gbk, AsciiCaseLeavesDoubleByteCharactersWhole) {
  struct Case {
    std::string in, lower, upper;
  } cases[] = {
      {"SeT i1", "set i1", "SET I1"},
      {"\x81\x41Z", "\x81\x41z", "\x81\x41Z"},  // 0x41 is a trail byte here, not 'A'
      {"a\x81", "a\x81", "A\x81"},              // a lead byte at the end stands alone
      {utf8ToGbk("欢迎Voc"), utf8ToGbk("欢迎voc"), utf8ToGbk("欢迎VOC")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(gbkAsciiLower(c.in), c.lower) << c.in;
    EXPECT_EQ(gbkAsciiUpper(c.in), c.upper) << c.in;
  }
}

TEST(Gbk, Utf8Validation) {
  struct Case {
    const char* s;
    bool valid;
  } cases[] = {{"plain", true},           {"通道", true},      {"\xC0\x80", false},
               {"\xED\xA0\x80", false},   {"\xE4\xB8", false}, {"\xD6\xD0", false},
               {"\xF0\x9F\x98\x80", true}};
  for (const auto& c : cases)
    EXPECT_EQ(isValidUtf8(c.s), c.valid) << c.s;
}

}  // namespace
}  // namespace platform
