#include "runtime/chanlog/channel_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/callproc/trace.h"

namespace callproc {
namespace {

using chanlog::ChannelLog;
using chanlog::Gbk;

class ChannelLogTest : public ::testing::Test {
 protected:
  ChannelLogTest() { trace_.addSink(&sink_); }
  std::vector<std::string> texts() const { return sink_.texts(); }

  platform::FakeClock clock_;
  TraceLog trace_{clock_};
  MemorySink sink_;
  ChannelLog log_{trace_};
};

// "放音" and "语音" in GBK.
const std::string kPlayGbk = "\xB7\xC5\xD2\xF4";
const std::string kVoiceGbk = "\xD3\xEF\xD2\xF4";

TEST_F(ChannelLogTest, EachShapeAndItsArguments) {
  log_.block(3, 7, "PlayFile(语音文件=%s(%d);播放通道=%d)", Gbk{kVoiceGbk}, -1, 3);
  log_.channel(12, "分机%s不存在", Gbk{"8001"});
  log_.script(0, 2, 41, "Set S%d=%s", 4, Gbk{kPlayGbk});
  log_.outer(5, "sql=%s", Gbk{"select 1"});
  log_.outer(15, "x");
  log_.line("%s从通道%d打进%s", Gbk{"139"}, 2, Gbk{kPlayGbk});
  log_.block(1, 0, "%s,%s,%d", Gbk{""}, "按键中止", 10);
  EXPECT_EQ(texts(), (std::vector<std::string>{
                         "通道3=>(7)PlayFile(语音文件=语音(-1);播放通道=3)",
                         "通道12=>分机8001不存在",
                         "通道0=>(2:41)Set S4=放音",
                         "通道 5 (外线) : sql=select 1",
                         "通道15 (外线) : x",
                         "139从通道2打进放音",
                         "通道1=>(0),按键中止,10",
                     }));
}

// Many GBK arguments in one line: the staging buffer grows while they are
// converted, and every one still comes out whole and in its place.
TEST_F(ChannelLogTest, ManyGbkArgumentsWhileTheBufferGrows) {
  std::string play300;
  for (int i = 0; i < 100; ++i)
    play300 += kPlayGbk;
  log_.line("%s|%s|%s|%s", Gbk{"a"}, Gbk{play300}, Gbk{kVoiceGbk}, Gbk{"z"});
  std::string expect = "a|";
  for (int i = 0; i < 100; ++i)
    expect += "放音";
  expect += "|语音|z";
  EXPECT_EQ(texts(), std::vector<std::string>{expect});
}

TEST_F(ChannelLogTest, InvalidGbkBecomesReplacementCharacters) {
  // A lead byte with no trail, a lone 0xFF, then a whole character.
  log_.block(0, 1, "Input Dtmf=%s", Gbk{std::string("\x81") + "1\xFF" + kPlayGbk});
  EXPECT_EQ(texts(), std::vector<std::string>{"通道0=>(1)Input Dtmf=\xEF\xBF\xBD"
                                              "1\xEF\xBF\xBD放音"});
}

TEST_F(ChannelLogTest, LongLinesAreCutAfterTheLastWholeCharacter) {
  std::string gbk;
  for (int i = 0; i < 400; ++i)
    gbk += kPlayGbk;  // 800 characters, 2400 bytes of UTF-8
  log_.block(0, 1, "%s", Gbk{gbk});
  ASSERT_EQ(texts().size(), 1u);
  const std::string t = texts()[0];
  const std::string prefix = "通道0=>(1)";
  EXPECT_LE(t.size(), TraceLog::kMaxText);
  EXPECT_GT(t.size(), TraceLog::kMaxText - 3);
  EXPECT_EQ(t.substr(0, prefix.size()), prefix);
  EXPECT_EQ((t.size() - prefix.size()) % 3, 0u) << "a character was split";
}

TEST_F(ChannelLogTest, NothingIsFormattedWhileTheTraceIsOff) {
  trace_.setShow(false);
  log_.block(0, 1, "%s", Gbk{kPlayGbk});
  trace_.setShow(true);
  log_.channel(1, "x");
  EXPECT_EQ(texts(), std::vector<std::string>{"通道1=>x"});
}

}  // namespace
}  // namespace callproc
