#include "designer/chart/flow_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "designer/chart/block_dialogs.h"
#include "designer/chart/project_file.h"
#include "designer/compiler/tparser.h"
#include "flowfile/blockrecords.h"
#include "flowfile/operands.h"
#include "platform/gbk.h"

namespace chart {
namespace {

using namespace cpl;

// Confirms block b's dialog with `values`, as "确定" does.
void confirm(Chart& c, int b, const std::vector<std::string>& values) {
  const dialogs::Outcome o = dialogs::acceptForBlock(c, b, values);
  ASSERT_TRUE(o.ok) << (o.messages.empty() ? "" : o.messages[0]);
}

// A play-voice block with its dialog confirmed, playing `file`.
int playBlock(Chart& c, const std::string& file, const char* note = "") {
  const int b = c.addBlock(kKindPlayVoice, 100, 200);
  c.setNote(b, platform::utf8ToGbk(note));
  confirm(c, b, {file, "0", "#", "$chan"});
  return b;
}

// A script block confirmed as the script editor does: the exits are the
// gotoout names the compiler finds.
int scriptBlock(Chart& c, const std::string& text) {
  const int b = c.addBlock(kKindScript, 300, 200);
  compiler::TParser p;
  p.setSource(compiler::splitLines(text));
  std::vector<std::string> exits;
  if (p.compile()) exits = p.exitNames();
  c.setScript(b, text, exits);
  return b;
}

void link(Chart& c, int from, int exit, int to) {
  ASSERT_GE(c.connect(from, exit, to, {}), 0) << from << "." << exit << "->" << to;
}

std::vector<std::string> lines(const Chart& c, const CheckOptions& o = {}) {
  std::vector<std::string> out;
  for (const Finding& f : checkFlow(c, o))
    out.push_back(formatFinding(f));
  return out;
}

struct Case {
  const char* name;
  std::function<void(Chart&)> build;
  std::vector<std::string> expected;
};

const Case kCases[] = {
    {"a new chart: the start leads nowhere",
     [](Chart&) {},
     {"错误: 命令0(开始): 开始命令的出口未连接,来电接通后即被挂断"}},
    {"a block placed and never confirmed",
     [](Chart& c) { link(c, 0, 0, c.addBlock(kKindPlayVoice, 100, 200)); },
     {"错误: 命令1(播放语音): 参数未设置(属性对话框从未确定)"}},
    {"a confirmed block at the end of its branch is clean",
     [](Chart& c) { link(c, 0, 0, playBlock(c, "bye.voc", "再见")); },
     {}},
    {"operands left unset by a record not from the dialogs are named",
     [](Chart& c) {
       const int b = c.addBlock(kKindPlayVoice, 100, 200);
       link(c, 0, 0, b);
       std::vector<uint8_t> r = c.block(b).record;
       writeTextOrNumber(r, PlayVoiceRecord::kVoiceFile, RecordOperand::str("a.voc"));
       writeNumber(r, PlayVoiceRecord::kVoiceType, RecordOperand::integer(0));
       c.setRecord(b, r);
     },
     {"错误: 命令1(播放语音): 参数未设置:播放打断按键(输入)、播放通道(输入)"}},
    {"outcome exits of an extension call, and a block nobody reaches",
     [](Chart& c) {
       const int call = c.addBlock(kKindCallExt, 100, 200);
       confirm(c, call, {"S1", "ring.voc", "文件放音", "S2", "S3", "I4", "30", "0"});
       c.setNote(call, platform::utf8ToGbk("转分机"));
       link(c, 0, 0, call);
       link(c, call, 0, playBlock(c, "ok.voc"));
       playBlock(c, "lost.voc", "没人连到这里");
     },
     {"警告: 命令1(呼叫分机)[转分机]: 出口1(分机忙)未连接,来电将被挂断",
      "警告: 命令1(呼叫分机)[转分机]: 出口2(无人接听)未连接,来电将被挂断",
      "警告: 命令1(呼叫分机)[转分机]: 出口3(分机不存在)未连接,来电将被挂断",
      "警告: 命令1(呼叫分机)[转分机]: 出口4(语音留言)未连接,来电将被挂断",
      "警告: 命令1(呼叫分机)[转分机]: 出口5(呼叫转移)未连接,来电将被挂断",
      "警告: 命令3(播放语音)[没人连到这里]: 从开始命令无法到达"}},
    {"a hang-up exit and key exits left open are not reported",
     [](Chart& c) {
       const int menu = c.addBlock(kKindDigit, 100, 200);
       confirm(c, menu, {"menu.voc", "0", "2", "5", "S1"});
       link(c, 0, 0, menu);
       const int bye = playBlock(c, "bye.voc");
       link(c, menu, 1, bye);
       link(c, menu, 12, bye);
     },
     {}},
    {"a script that does not compile",
     [](Chart& c) { link(c, 0, 0, scriptBlock(c, "set s1, \"x\" y")); },
     {"错误: 命令1(脚本命令): 脚本编译错误:[0行;13列]错误的ID\"y\",多余标识"}},
    {"a gotoout name the block has no exit for",
     [](Chart& c) {
       const int s = c.addBlock(kKindScript, 100, 200);
       c.setScript(s, "if i1 < 3 goto a\ngotoout far\na: gotoout near", {"near"});
       link(c, 0, 0, s);
       link(c, s, 2, playBlock(c, "x.voc"));
     },
     {"错误: 命令1(脚本命令): gotoout far没有对应的出口,请重新确定脚本"}},
    {"script exits the script can take and that lead nowhere",
     [](Chart& c) {
       const int s = scriptBlock(c, "if i1 < 3 goto a\ngotoout x\ngotoout y\na: add i1, 1");
       link(c, 0, 0, s);
       link(c, s, 2, playBlock(c, "x.voc"));  // x; y cannot run; the default can
     },
     {"警告: 命令1(脚本命令): 缺省出口未连接,来电将被挂断"}},
    {"a named exit left open",
     [](Chart& c) {
       const int s = scriptBlock(c, "if i1 < 3 goto a\ngotoout x\na: gotoout y");
       link(c, 0, 0, s);
       link(c, s, 2, playBlock(c, "x.voc"));
     },
     {"警告: 命令1(脚本命令): 出口y未连接,来电将被挂断"}},
    {"kinds the runtime passes over",
     [](Chart& c) {
       const int a = c.addBlock(kKindCallOut, 100, 200);
       const int b = c.addBlock(kKindMeetTalk, 100, 300);
       link(c, 0, 0, a);
       link(c, a, 0, b);
     },
     {"错误: 命令1(呼叫外线): 运行时不执行此类命令(模块类型50),直接从出口0继续",
      "错误: 命令2(会议中): 运行时不执行此类命令(模块类型47),直接从出口0继续"}},
    {"a script loop with no way out",
     [](Chart& c) {
       link(c, 0, 0, scriptBlock(c, "set i1, 0\n// spin\nagain: add i1, 1\ngoto again"));
     },
     {"错误: 命令1(脚本命令): 脚本死循环:[2行]起的循环没有出口,通道将一直执行下去"}},
    {"loops that can end are not reported",
     [](Chart& c) {
       const int s = scriptBlock(c,
                                 "set i6, 0\nloop: add i6, 1\nif i6 < 3 goto loop\n"
                                 "w: sqlexec 0, i7\nif i7 = 0 goto w\nresetchan $chan\nz: goto z");
       link(c, 0, 0, s);
       link(c, s, 0, playBlock(c, "x.voc"));
     },
     {}},
    {"scripts handing the call to each other for ever",
     [](Chart& c) {
       const int a = scriptBlock(c, "add i1, 1");
       const int b = scriptBlock(c, "if i1 > 3 goto x\ngotoout back\nx: gotoout back");
       link(c, 0, 0, a);
       link(c, a, 0, b);
       link(c, b, 2, a);
     },
     {"错误: 命令1(脚本命令): 命令死循环:命令1、2之间循环跳转,没有等待来电者的命令,也没有出口"}},
    {"a script that leads back to the start block",
     [](Chart& c) {
       const int s = scriptBlock(c, "set i1, 0");
       link(c, 0, 0, s);
       link(c, s, 0, 0);
     },
     {"错误: 命令0(开始): 命令死循环:命令0、1之间循环跳转,没有等待来电者的命令,也没有出口"}},
    {"a kind the runtime passes over inside a loop",
     [](Chart& c) {
       const int a = c.addBlock(kKindCallOut, 100, 200);
       const int s = scriptBlock(c, "set i1, 0");
       link(c, 0, 0, a);
       link(c, a, 0, s);
       link(c, s, 0, a);
     },
     {"错误: 命令1(呼叫外线): 运行时不执行此类命令(模块类型50),直接从出口0继续",
      "错误: 命令1(呼叫外线): 命令死循环:命令1、2之间循环跳转,没有等待来电者的命令,也没有出口"}},
    {"scripts in a loop with a way out, and through a block that waits",
     [](Chart& c) {
       const int a = scriptBlock(c, "if i1 > 3 goto x\ngotoout back\nx: gotoout out");
       const int b = scriptBlock(c, "add i1, 1");
       const int play = playBlock(c, "x.voc");
       const int d = scriptBlock(c, "add i2, 1");
       link(c, 0, 0, a);
       link(c, a, 2, b);
       link(c, b, 0, a);
       link(c, a, 3, play);
       link(c, play, 0, d);
       link(c, play, 1, d);
       link(c, d, 0, play);
     },
     {}},
};

TEST(FlowCheck, FindsWhatEachChartHolds) {
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    Chart c;
    k.build(c);
    EXPECT_EQ(lines(c), k.expected);
    // What is found is in the project file: a never-confirmed record included.
    Chart loaded;
    ASSERT_TRUE(loadProject(loaded, saveProject(c), "case.src").ok());
    EXPECT_EQ(lines(loaded), k.expected) << "after saving and loading";
  }
}

// Voice files: constants played as files, looked up without regard to case;
// names the runtime does not look for in the voice directory are left alone.
TEST(FlowCheck, VoiceFilesInTheVoiceDirectory) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("flow_check_voice_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "sub");
  std::ofstream(dir / "Welcome.VOC") << "x";
  std::ofstream(dir / "sub" / "two.voc") << "x";
  std::filesystem::create_directories(dir / "folder.voc");

  Chart c;
  const int p[] = {playBlock(c, "welcome.voc"),       playBlock(c, "sub\\two.voc"),
                   playBlock(c, "missing.voc", "缺"), playBlock(c, "folder.voc"),
                   playBlock(c, ".\\voice\\D0.qx"),   playBlock(c, "s3"),
                   playBlock(c, "语音.voc")};
  link(c, 0, 0, p[0]);
  for (int i = 0; i + 1 < 7; ++i) {
    link(c, p[i], 0, p[i + 1]);
    link(c, p[i], 1, p[i + 1]);
  }
  // Played by index: no file.
  const int byIndex = c.addBlock(kKindPlayVoice, 0, 0);
  confirm(c, byIndex, {"7", "1", "#", "$chan"});
  link(c, p[6], 0, byIndex);
  link(c, p[6], 1, byIndex);

  EXPECT_EQ(lines(c), std::vector<std::string>{}) << "no voice directory, nothing checked";
  EXPECT_EQ(
      lines(c, {dir.string()}),
      (std::vector<std::string>{"错误: 命令3(播放语音)[缺]: 语音文件missing.voc在语音目录中不存在",
                                "错误: 命令4(播放语音): 语音文件folder.voc在语音目录中不存在",
                                "错误: 命令7(播放语音): 语音文件语音.voc在语音目录中不存在"}));
  std::ofstream(dir / "语音.voc") << "x";
  EXPECT_EQ(lines(c, {dir.string()}).size(), 2u);
  std::filesystem::remove_all(dir);
}

// The sample flow has one real finding: when the combined playback of the
// number cannot start, its exit 1 leads nowhere and the caller is cut off
// without the good-bye every other branch gives. Its voice files are all in
// samples/voice.
TEST(FlowCheck, SampleProject) {
  const char* src = std::getenv("OLVARO_SOURCE_DIR");
  ASSERT_NE(src, nullptr);
  Chart c;
  ASSERT_TRUE(loadProjectFile(c, std::string(src) + "/samples/flows/sample.src").ok());
  for (const std::string& voiceDir : {std::string(), std::string(src) + "/samples/voice"}) {
    SCOPED_TRACE(voiceDir);
    const std::vector<Finding> f = checkFlow(c, {voiceDir});
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].severity, Severity::kWarning);
    EXPECT_EQ(f[0].what, FindingKind::kUnconnectedExit);
    EXPECT_EQ(f[0].block, 6);
    EXPECT_EQ(f[0].kind, kKindPlayTts);
    EXPECT_EQ(f[0].note, "读出号码");
    EXPECT_EQ(formatFinding(f[0]),
              "警告: 命令6(组合放音)[读出号码]: 出口1(不能放音)未连接,来电将被挂断");
    EXPECT_FALSE(hasErrors(f));
    EXPECT_EQ(checkSummary(f), "检查完成: 0个错误, 1个警告");
  }
}

// The flow shares one string pool: a script that fits alone but not after
// the others is reported where the compile would stop.
TEST(FlowCheck, StringPoolOfTheWholeFlow) {
  Chart c;
  int prev = 0;
  for (int i = 0; i < 3; ++i) {
    std::string text;  // 1600 bytes of distinct strings
    for (int k = 0; k < 8; ++k)
      text += "set s1, \"" + std::string(200, static_cast<char>('a' + 8 * i + k)) + "\"\n";
    const int s = scriptBlock(c, text);
    ASSERT_TRUE(c.block(s).isScript());
    link(c, prev, 0, s);
    prev = s;
  }
  const std::vector<std::string> got = lines(c);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].rfind("错误: 命令3(脚本命令): 脚本编译错误:", 0), 0u) << got[0];
  EXPECT_NE(got[0].find("字符串常量区溢出"), std::string::npos) << got[0];
}

TEST(FlowCheck, SummaryAndNotesOnOneLine) {
  Chart c;
  const int b = c.addBlock(kKindCreateMeet, 0, 0);
  c.setNote(b, platform::utf8ToGbk("第一行\r\n第二行"));
  const std::vector<Finding> f = checkFlow(c);
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(formatFinding(f[2]), "警告: 命令1(创建会议)[第一行  第二行]: 从开始命令无法到达");
  EXPECT_TRUE(hasErrors(f));
  EXPECT_EQ(checkSummary(f), "检查完成: 2个错误, 1个警告");
  EXPECT_EQ(checkSummary({}), "检查完成: 0个错误, 0个警告");
  EXPECT_EQ(kindCaption(99), "类型99");
}

TEST(FlowCheck, VoiceDirectoryBesideTheProject) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(::testing::TempDir()) / "voice_beside";
  fs::remove_all(root);
  fs::create_directories(root / "with" / "voice");
  fs::create_directories(root / "without");
  fs::create_directories(root / "file");
  std::ofstream(root / "file" / "voice") << "not a folder";
  fs::create_directories(root / "upper" / "Voice");
  struct {
    std::string project;
    std::string want;
  } const cases[] = {
      {(root / "with" / "flow.src").string(), (root / "with" / "voice").string()},
      {(root / "without" / "flow.src").string(), ""},
      {(root / "file" / "flow.src").string(), ""},
      {(root / "upper" / "flow.src").string(), ""},  // the name is exactly "voice"
      {std::string(kUntitled), ""},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(voiceDirBeside(c.project), c.want) << c.project;
  fs::remove_all(root);
}

}  // namespace
}  // namespace chart
