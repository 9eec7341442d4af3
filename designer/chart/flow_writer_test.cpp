#include "designer/chart/flow_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "designer/chart/project_file.h"
#include "designer/chart/test_bytes.h"
#include "flowfile/blockrecords.h"
#include "flowfile/bytes.h"
#include "platform/gbk.h"

namespace chart {
namespace {

using testing::Bytes;
constexpr int kNone = 9999999;

class RecordingSink : public platform::MessageSink {
 public:
  void show(std::string_view caption, std::string_view text) override {
    shown.push_back(std::string(caption) + "|" + std::string(text));
  }
  std::vector<std::string> shown;
};

// A gotoout record: line, opcode 74, target, the name's pool reference.
Bytes& gotoout(Bytes& b, int line, int target, int offset, int length) {
  return b.i32(line).i16(74).i32(target).i16(offset).i16(length).zeros(49 - 14);
}

Bytes& pool(Bytes& b, std::string_view used) {
  return b.raw(used).zeros(4096 - static_cast<int>(used.size()));
}

TEST(FlowWriter, StartBlockOnly) {
  Chart c;
  const CompileOutcome out = compileChart(c);
  ASSERT_TRUE(out.ok);
  Bytes want;
  want.raw("1001").i32(1).i16(6).i32(kNone);
  pool(want, "");
  EXPECT_EQ(out.bytes.size(), 4u + 4 + 6 + 4096);
  EXPECT_EQ(out.bytes, want.v);
}

TEST(FlowWriter, EmptyScriptBlockAndRefreshedExits) {
  Chart c;
  const int s = c.addBlock(48, 100, 200);
  const int p = c.addBlock(41, 100, 300);
  c.connect(0, 0, s, {});
  c.connect(s, 0, p, {});
  c.connect(p, 2, 0, {});
  const CompileOutcome out = compileChart(c);
  ASSERT_TRUE(out.ok);
  Bytes want;
  want.raw("1001").i32(3).i16(6).i32(1);
  want.i16(48).i32(0).i32(2);  // no records, the default exit's target
  want.i16(41).zeros(528).i32(kNone).i32(kNone).i32(0);
  pool(want, "");
  EXPECT_EQ(out.bytes, want.v);
}

TEST(FlowWriter, GotooutResolvedByExitName) {
  Chart c;
  const int s = c.addBlock(48, 100, 200);  // 1
  const int a = c.addBlock(41, 100, 300);  // 2
  const int b = c.addBlock(41, 300, 300);  // 3
  c.setScript(s, "gotoout busy\r\nGotoOut Done\r\ngotoout nowhere\r\ngotoout busy",
              {"busy", "done"});
  c.connect(0, 0, s, {});
  c.connect(s, 2, b, {});  // busy
  c.connect(s, 3, a, {});  // done
  c.connect(s, 0, a, {});  // default
  // A second script block stores its own copy of the same name.
  const int t = c.addBlock(48, 300, 500);
  c.setScript(t, "\r\ngotoout busy", {"busy"});
  c.connect(t, 2, s, {});

  const CompileOutcome out = compileChart(c);
  ASSERT_TRUE(out.ok) << out.scriptError;
  Bytes want;
  want.raw("1001").i32(5).i16(6).i32(1);
  want.i16(48).i32(4);
  gotoout(want, 0, 3, 0, 4);
  gotoout(want, 1, 2, 4, 4);
  gotoout(want, 2, kNone, 8, 7);  // no exit has that name
  gotoout(want, 3, 3, 15, 4);
  want.i32(2);
  for (int k = 0; k < 2; ++k)
    want.i16(41).zeros(528).i32(kNone).i32(kNone).i32(kNone);
  want.i16(48).i32(1);
  gotoout(want, 1, 1, 19, 4);
  want.i32(kNone);
  pool(want, "busydonenowherebusybusy");
  EXPECT_EQ(out.bytes, want.v);
}

TEST(FlowWriter, EveryFixedKindCarriesItsRecordAndExits) {
  Chart c;
  std::vector<int> blocks{0};
  for (const cpl::KindInfo& k : cpl::kKinds)
    if (k.kind != 6 && k.kind != 48) blocks.push_back(c.addBlock(k.kind, 0, 0));
  // Each block's last exit leads to the next block; a parameter byte is set.
  for (size_t i = 0; i < blocks.size(); ++i) {
    std::vector<uint8_t> record = c.block(blocks[i]).record;
    if (record.size() > 6) {
      record[3] = static_cast<uint8_t>(i + 1);
      c.setRecord(blocks[i], record);
    }
    c.connect(blocks[i], c.block(blocks[i]).exitCount() - 1, blocks[(i + 1) % blocks.size()], {});
  }
  const CompileOutcome out = compileChart(c);
  ASSERT_TRUE(out.ok);
  std::span<const uint8_t> f(out.bytes);
  size_t at = 8;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const GELE& g = c.block(blocks[i]);
    const cpl::KindInfo* k = cpl::findKind(g.kind);
    SCOPED_TRACE(g.kind);
    EXPECT_EQ(cpl::getI16(f, at), g.kind);
    if (g.record.size() > 6) {
      EXPECT_EQ(f[at + 3], i + 1);
    }
    for (int e = 0; e < k->exitSlots; ++e) {
      const int want = e + 1 == k->exitSlots ? static_cast<int>((i + 1) % blocks.size()) : kNone;
      EXPECT_EQ(cpl::getI32(f, at + k->exitOffset + 4 * e), want) << e;
    }
    at += k->sectionSize;
  }
  EXPECT_EQ(at + 4096, out.bytes.size());
}

TEST(FlowWriter, AScriptErrorStopsTheWriter) {
  Chart c;
  const int p = c.addBlock(41, 100, 200);
  const int s = c.addBlock(48, 100, 300);
  c.addBlock(48, 100, 400);  // never compiled
  c.connect(0, 0, p, {});
  c.setScript(s, "set i1, 1\r\nset s1, \"x\" y", {});
  c.setScript(3, "stop", {});
  RecordingSink box;
  const CompileOutcome out = compileChart(c, &box);
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.failedBlock, 2);
  EXPECT_EQ(out.status, "编译错误,脚本命令2错误");
  EXPECT_EQ(out.scriptError, "[1行;13列]错误的ID\"y\",多余标识");
  EXPECT_EQ(box.shown, std::vector<std::string>{"错误|" + out.scriptError});
  Bytes want;
  want.raw("1001").i32(4).i16(6).i32(1);
  want.i16(41).zeros(528).i32(kNone).i32(kNone).i32(kNone);
  want.i16(48);
  EXPECT_EQ(out.bytes, want.v);
}

TEST(FlowWriter, FileNames) {
  struct Case {
    const char* in;
    const char* compiled;
    const char* project;
  };
  const Case cases[] = {
      {"a.src", "a.cpl", "a.src.src"},  {"dir/flow.SRC", "dir/flow.cpl", "dir/flow.SRC.src"},
      {"a.cpl", "a.cpl.cpl", "a.src"},  {"x/b.CPL", "x/b.CPL.cpl", "x/b.src"},
      {"flow", "flow.cpl", "flow.src"}, {"", ".cpl", ".src"},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(compiledNameFor(k.in), k.compiled) << k.in;
    EXPECT_EQ(projectNameFor(k.in), k.project) << k.in;
  }
  EXPECT_EQ(compiledStatus("flow.cpl"), "flow.cpl文件编译完成");
}

TEST(FlowWriter, CompileCommand) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("flow_writer_test_" + std::to_string(getpid()));
  fs::create_directories(dir);
  RecordingSink box;

  // Never saved: the dialog's name, no box, the project saved beside it.
  Chart c;
  EXPECT_FALSE(compileCommand(c, "", &box).ran);
  const std::string a = (dir / "a.cpl").string();
  CompileCommandResult r = compileCommand(c, a, &box);
  EXPECT_TRUE(r.ran && r.ok);
  EXPECT_EQ(r.compiledName, a);
  EXPECT_EQ(c.fileName(), (dir / "a.src").string());
  EXPECT_EQ(fs::file_size(a), 4110u);
  EXPECT_TRUE(fs::exists(dir / "a.src"));
  EXPECT_TRUE(box.shown.empty());

  // Saved as b.src: b.cpl, the box, the status text.
  c.setFileName((dir / "b.src").string());
  c.setModified(true);
  r = compileCommand(c, "ignored.cpl", &box);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.compiledName, (dir / "b.cpl").string());
  EXPECT_EQ(r.status, (dir / "b.cpl").string() + "文件编译完成");
  EXPECT_EQ(box.shown, std::vector<std::string>{"IVR流程编辑器|编译成功!"});
  EXPECT_FALSE(c.modified());
  EXPECT_FALSE(fs::exists(dir / "ignored.cpl"));

  // A script error: the compiler's box only, the writer's status text.
  box.shown.clear();
  const int s = c.addBlock(48, 100, 200);
  c.setScript(s, "bogus", {});
  r = compileCommand(c, "", &box);
  EXPECT_TRUE(r.ran);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.status, "编译错误,脚本命令1错误");
  ASSERT_EQ(box.shown.size(), 1u);
  EXPECT_EQ(box.shown[0].rfind("错误|", 0), 0u);
  EXPECT_EQ(fs::file_size(dir / "b.cpl"), 16u);
  // The project is saved after a failed compile too.
  EXPECT_FALSE(c.modified());
  {
    Chart saved;
    ASSERT_TRUE(loadProjectFile(saved, (dir / "b.src").string()).ok());
    EXPECT_EQ(saveProject(saved), saveProject(c));
  }

  // A compiled file that cannot be written is not a success.
  c.setFileName((dir / "no" / "c.src").string());
  c.setScript(s, "", {});
  box.shown.clear();
  r = compileCommand(c, "", &box);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.status.find("cannot write"), std::string::npos);
  EXPECT_TRUE(box.shown.empty());
  fs::remove_all(dir);
}

}  // namespace
}  // namespace chart
