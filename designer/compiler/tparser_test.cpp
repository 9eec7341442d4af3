#include "designer/compiler/tparser.h"

#include <gtest/gtest.h>

#include <sstream>

#include "designer/compiler/test_util.h"
#include "platform/gbk.h"

namespace compiler {
namespace {

using testing::Compiled;

// Records what the compiler asks of the editor, in order.
class FakeEditor : public ScriptEditor {
 public:
  void showErrorBox(std::string_view caption, std::string_view text) override {
    calls.push_back("box " + std::string(caption) + ": " + std::string(text));
  }
  void selectRange(int start, int length) override {
    calls.push_back("select " + std::to_string(start) + "," + std::to_string(length));
  }
  void takeFocus() override { calls.push_back("focus"); }
  std::vector<std::string> calls;
};

TEST(TParser, EmptyBlankAndCommentScriptsCompileToNothing) {
  for (const char* script : {"", "\n\n", "  \n// note\n\t\n"}) {
    Compiled c(script);
    EXPECT_TRUE(c.ok) << script;
    EXPECT_TRUE(c.parser.records().empty());
    EXPECT_TRUE(c.parser.error().text.empty());
  }
}

TEST(TParser, StatementsCarryTheirLabelAndLine) {
  Compiled c("\n// note\nnext:\nstop: stop\nLoop: SET I1,5\n  x:  \n");
  ASSERT_TRUE(c.ok) << c.parser.error().text;
  const auto& r = c.parser.records();
  ASSERT_EQ(r.size(), 4u);
  const struct {
    const char* label;
    int opcode;
    const char* layout;
    uint32_t line;
  } want[] = {
      {"next:", 64, "", 2},
      {"stop:", 72, "", 3},
      {"loop:", 4, "6:0101 8:0500 14:dbl(5)", 4},
      {"x:", 64, "", 5},
  };
  for (size_t i = 0; i < r.size(); ++i) {
    EXPECT_EQ(r[i].labelText(), want[i].label);
    EXPECT_EQ(r[i].record.bytes(),
              testing::expectedRecord(want[i].opcode, want[i].layout, want[i].line));
  }
}

TEST(TParser, LabelsHoldAtMost255Characters) {
  const std::string longest = std::string(254, 'a') + ":";
  Compiled ok(longest + " stop");
  ASSERT_TRUE(ok.ok);
  EXPECT_EQ(ok.parser.records()[0].labelText(), longest);

  const std::string tooLong = std::string(255, 'a') + ":";
  Compiled refused(tooLong + " stop");
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.parser.error().text,
            "[0行;256列]错误的ID\"" + tooLong + "\",Label长度超过255个字符");
}

TEST(TParser, StatementErrorsShowTheseBoxes) {
  const struct {
    std::string script;
    std::string box;
  } rows[] = {
      {"stop\n\n// c\n\nset i1", "[4行;7列]错误的ID\"EOL\",缺少逗号"},
      {"5 stop", "[0行;1列]错误的ID\"5\",缺少一个Label或Command"},
      {"foo i1", "[0行;3列]错误的ID\"foo\",缺少一个Label或Command"},
      {"/", "[0行;1列]错误的ID\"/\",缺少一个Label或Command"},
      {"\"x\"", "[0行;3列]错误的ID\"x\",缺少一个ID"},
      {",", "[0行;1列]错误的ID\",\",缺少一个ID"},
      {" >= 1", "[0行;3列]错误的ID\"\",缺少一个ID"},
      {"x: y: stop", "[0行;5列]错误的ID\"y:\",缺少命令"},
      {"x: 5", "[0行;4列]错误的ID\"5\",缺少命令"},
      {"x: \"s\"", "[0行;6列]错误的ID\"s\",缺少命令"},
      {"x: stopx", "[0行;8列]错误的ID\"stopx\",缺少命令"},
      // a keyword with a tab stuck to it is no command, with or without a label
      {"\tstop", "[0行;5列]错误的ID\"\tstop\",缺少一个Label或Command"},
      {"x: stop\t", "[0行;8列]错误的ID\"stop\t\",缺少一个Label或Command"},
      {"stop // note", "[0行;7列]错误的ID\"//\",Stop命令没有参数"},
      {"if i1 > > 5 goto x", "[0行;9列]错误的ID\"\",缺少I,F,T,S变量或常量"},
      // GBK text is shown in UTF-8
      {"set i1, \"\xd6\xd0\"", "[0行;12列]错误的ID\"中\",赋值类型不匹配"},
  };
  for (const auto& r : rows) {
    Compiled c(r.script);
    EXPECT_FALSE(c.ok) << r.script;
    EXPECT_EQ(c.parser.error().text, r.box) << r.script;
  }
}

TEST(TParser, StatementErrorPlacesTheCaretOnTheToken) {
  const struct {
    std::string script;
    int start, length;
  } rows[] = {
      {"stop\n\n// c\nset i1", 20, 1},   // end of line: 6 + 2 + 6 = 14 before the line, p = 7
      {"stop\npush 5", 11, 1},           // a word: from its first character
      {"stop\r\npush longword", 11, 8},  // CR LF as the editor has it
      {"goto \"abc\"", 6, 4},            // a string: its text and the closing quote
      {"goto \"a\"\"b\"", 7, 4},         // by the length of the text, not of the source
      {"if i1 > > 5 goto x", 9, 0},      // an operator has no text
      {"stop ,", 5, 1},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.script);
    FakeEditor editor;
    cpl::StringPool pool;
    TParser parser(pool);
    parser.attachEditor(&editor);
    parser.setSource(splitLines(r.script));
    ASSERT_FALSE(parser.compile());
    ASSERT_EQ(editor.calls.size(), 3u);
    EXPECT_EQ(editor.calls[0], "box 错误: " + parser.error().text);
    EXPECT_EQ(editor.calls[1],
              "select " + std::to_string(r.start) + "," + std::to_string(r.length));
    EXPECT_EQ(editor.calls[2], "focus");
  }
}

TEST(TParser, DuplicateLabelsReportTheFirstPair) {
  const struct {
    const char* script;
    const char* box;
  } rows[] = {
      {"a: stop\n\nloop:\nstop\n\nloop: stop", "2行和5行的Label\"loop:\"重复"},
      {"b:\na:\nb:\na:", "0行和2行的Label\"b:\"重复"},
      {"a:\nb:\nb:\na:",
       "0行和3行的Label\"a:\"重复"},  // the earliest label, not the earliest repeat
      {"a\xd6\xd0:\na\xd6\xd0:", "0行和1行的Label\"a中:\"重复"},
  };
  for (const auto& r : rows) {
    FakeEditor editor;
    cpl::StringPool pool;
    TParser parser(pool);
    parser.attachEditor(&editor);
    parser.setSource(splitLines(r.script));
    EXPECT_FALSE(parser.compile()) << r.script;
    EXPECT_EQ(editor.calls, std::vector<std::string>{std::string("box 错误: ") + r.box});
  }
}

TEST(TParser, JumpsToMissingLabelsSelectTheWholeLine) {
  const struct {
    const char* script;
    const char* box;
    const char* selection;
  } rows[] = {
      {"stop\nx:\nstop\ngoto nowhere", "3行GoTo命令没有匹配label", "select 16,12"},
      {"if i1 > 1 goto nowhere", "0行GoTo命令没有匹配label", "select 0,22"},
      {"x:\ncondgoto i1, 1, y", "1行CondGoTo命令没有匹配label", "select 4,17"},
      {"goto end:\nend:", "0行GoTo命令没有匹配label", "select 0,9"},  // looks for "end::"
      {"goto end\nnext: goto next\nend: stop", nullptr, nullptr},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.script);
    FakeEditor editor;
    cpl::StringPool pool;
    TParser parser(pool);
    parser.attachEditor(&editor);
    parser.setSource(splitLines(r.script));
    if (!r.box) {
      EXPECT_TRUE(parser.compile());
      continue;
    }
    EXPECT_FALSE(parser.compile());
    EXPECT_EQ(editor.calls,
              (std::vector<std::string>{std::string("box 错误: ") + r.box, r.selection, "focus"}));
  }
}

TEST(TParser, CollectsEachExitNameOnce) {
  Compiled c("gotoout Busy\ngotoout ok\nloop: gotoout BUSY\ngotoout \xd6\xd0");
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.parser.exitNames(), (std::vector<std::string>{"busy", "ok", "\xd6\xd0"}));
  EXPECT_EQ(c.poolText(), "busyokbusy\xd6\xd0");  // the pool keeps every occurrence

  auto& records = c.parser.records();
  EXPECT_EQ(exitNameOf(records[1].record, c.pool), "ok");
  setExitTarget(records[1].record, 7);
  EXPECT_EQ(records[1].record.i32(6), 7);
  EXPECT_EQ(records[0].record.i32(6), cpl::NO_TARGET);

  // Only the names before an error count; none when pass 1 or 2 fails.
  Compiled late("gotoout a\ngoto nowhere\ngotoout b");
  EXPECT_FALSE(late.ok);
  EXPECT_EQ(late.parser.exitNames(), std::vector<std::string>{"a"});
  Compiled early("gotoout a\nbad");
  EXPECT_FALSE(early.ok);
  EXPECT_TRUE(early.parser.exitNames().empty());
  ASSERT_EQ(early.parser.records().size(), 1u);  // the lines before the error
}

TEST(TParser, CompilersOfOneFileShareItsPool) {
  cpl::StringPool pool;
  TParser first(pool), second(pool);
  first.setSource({"set s1, \"ab\""});
  second.setSource({"set s1, \"ab\""});
  ASSERT_TRUE(first.compile());
  ASSERT_TRUE(second.compile());
  EXPECT_EQ(&second.pool(), &pool);
  EXPECT_EQ(second.records()[0].record.bytes(),
            testing::expectedRecord(4, "6:0401 8:0700 10:ref(2,2)"));
  EXPECT_EQ(pool.used(), 4);

  // A reused compiler forgets its last script but not the pool.
  second.setSource({"stop"});
  ASSERT_TRUE(second.compile());
  EXPECT_EQ(second.records().size(), 1u);
  EXPECT_EQ(pool.used(), 4);
}

TEST(TParser, ASyntaxCheckUsesAPoolOfItsOwn) {
  // 3000 bytes of strings: a second compile into one pool overflows it, but
  // checking the script again and again in the editor never does.
  std::string script;
  for (int i = 0; i < 12; ++i)
    script += "set s1, \"" + std::string(250, static_cast<char>('a' + i)) + "\"\n";
  TParser check;
  check.setSource(splitLines(script));
  for (int round = 0; round < 5; ++round) {
    ASSERT_TRUE(check.compile()) << round << ": " << check.error().text;
    EXPECT_EQ(check.pool().used(), 3000);
    EXPECT_EQ(check.records()[11].record.bytes(),
              testing::expectedRecord(4, "6:0401 8:0700 10:ref(2750,250)", 11));
  }
  // Fresh checkers do not share anything either.
  TParser other;
  other.setSource(splitLines(script));
  ASSERT_TRUE(other.compile());
  EXPECT_NE(&other.pool(), &check.pool());

  cpl::StringPool file;
  TParser a(file), b(file);
  a.setSource(splitLines(script));
  b.setSource(splitLines(script));
  ASSERT_TRUE(a.compile());
  EXPECT_FALSE(b.compile());
  EXPECT_NE(b.error().text.find("字符串常量区溢出"), std::string::npos);
}

TEST(TParser, APoolOverflowIsAnErrorOnTheLineThatNeedsTheString) {
  const std::string big = "set s1, \"" + std::string(4000, 'x') + "\"";
  const std::string fill = "set s2, \"" + std::string(96, 'y') + "\"";
  Compiled full(big + "\n" + fill + "\nx:");  // exactly 4096 bytes
  ASSERT_TRUE(full.ok) << full.parser.error().text;
  EXPECT_EQ(full.pool.used(), cpl::kPoolSize);

  Compiled over(big + "\n" + fill + "\nx: goto x");
  EXPECT_FALSE(over.ok);
  EXPECT_EQ(over.parser.error().text, "[2行;9列]错误的ID\"x\",字符串常量区溢出");
  EXPECT_EQ(over.pool.used(), cpl::kPoolSize);

  // An empty constant in a full pool would point just past it.
  Compiled empty(big + "\n" + fill + "\nset s3, \"\"");
  EXPECT_FALSE(empty.ok);
  EXPECT_NE(empty.parser.error().text.find("字符串常量区溢出"), std::string::npos)
      << empty.parser.error().text;
  Compiled roomy(big + "\nset s3, \"\"");
  ASSERT_TRUE(roomy.ok) << roomy.parser.error().text;
}

TEST(TParser, WithoutAnEditorTheBoxGoesToTheSink) {
  class Sink : public platform::MessageSink {
   public:
    void show(std::string_view caption, std::string_view text) override {
      shown = std::string(caption) + "|" + std::string(text);
    }
    std::string shown;
  } sink;
  cpl::StringPool pool;
  TParser parser(pool);
  parser.setMessageSink(&sink);
  parser.setSource({"stop", "goto x"});
  EXPECT_FALSE(parser.compile());
  EXPECT_EQ(sink.shown, "错误|1行GoTo命令没有匹配label");
  EXPECT_EQ(parser.error().line, 1);
}

TEST(TParser, WritesTheRecordsBackToBack) {
  Compiled c("stop\nsleep 10\nx: goto x");
  ASSERT_TRUE(c.ok);
  std::vector<uint8_t> bytes;
  c.parser.writeRecords(bytes);
  ASSERT_EQ(bytes.size(), 3u * cpl::kInstrSize);
  for (size_t i = 0; i < 3; ++i)
    EXPECT_TRUE(std::equal(c.parser.records()[i].record.bytes().begin(),
                           c.parser.records()[i].record.bytes().end(),
                           bytes.begin() + i * cpl::kInstrSize));
  std::ostringstream out;
  EXPECT_TRUE(c.parser.writeRecords(out));
  EXPECT_EQ(out.str(), std::string(bytes.begin(), bytes.end()));
  const auto code = c.parser.instructions();
  ASSERT_EQ(code.size(), 3u);
  EXPECT_EQ(code[2].bytes(), c.parser.records()[2].record.bytes());
}

// The compiler counts GBK bytes with CR LF between lines; the editor
// counts characters with one break between lines.
TEST(EditorSelection, FromBytesToCharacters) {
  const std::string chinese = platform::utf8ToGbk("中文");  // 4 bytes, 2 characters
  const struct {
    std::vector<std::string> lines;
    Selection gbk, editor;
  } rows[] = {
      {{"stop", "push x"}, {11, 1}, {10, 1}},
      {{"set s1, \"" + chinese + "\" x"}, {15, 1}, {13, 1}},
      {{"// " + chinese, "push " + chinese}, {14, 4}, {11, 2}},
      {{"stop", "", "// c", "set i1"}, {20, 1}, {17, 0}},  // past the line's end
      {{"// " + chinese, "x"}, {8, 1}, {5, 1}},            // in the line break
      {{"stop"}, {100, 5}, {4, 0}},                        // past the text's end
      {{"stop"}, {1, -3}, {1, 0}},
      {{}, {3, 1}, {0, 0}},
  };
  for (const auto& r : rows) {
    const Selection got = editorSelection(r.lines, r.gbk);
    EXPECT_EQ(got.start, r.editor.start) << r.gbk.start;
    EXPECT_EQ(got.length, r.editor.length) << r.gbk.start;
  }
}

TEST(SplitLines, SplitsAtLineFeedsAndDropsTheCarriageReturn) {
  using L = std::vector<std::string>;
  EXPECT_EQ(splitLines(""), L{});
  EXPECT_EQ(splitLines("a"), L{"a"});
  EXPECT_EQ(splitLines("\n"), L{""});
  EXPECT_EQ(splitLines("a\r\nb\n"), (L{"a", "b"}));
  EXPECT_EQ(splitLines("a\n\nb"), (L{"a", "", "b"}));
  EXPECT_EQ(splitLines("a\rb\r"), L{"a\rb\r"});
}

}  // namespace
}  // namespace compiler
