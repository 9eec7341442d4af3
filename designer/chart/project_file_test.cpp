#include "designer/chart/project_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "designer/chart/test_bytes.h"
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

TEST(ProjectFile, StartBlockOnly) {
  Chart c;
  const auto want = Bytes()
                        .raw("1000")
                        .i32(1)
                        .i16(6)
                        .i32(kNone)  // the start record, its exit unconnected
                        .i32(100)
                        .i32(100)
                        .i32(0)  // no connections
                        .u8(1)   // enabled
                        .i32(0)  // empty note
                        .v;
  EXPECT_EQ(saveProject(c), want);
}

// Start -> script block with the default, hang-up and one named exit.
Chart scriptChart() {
  Chart c;
  const int s = c.addBlock(48, 100, 200);
  c.setScript(s, "set i1, 1\r\ngotoout busy", {"busy"});
  const int p = c.addBlock(41, 300, 400);
  c.connect(0, 0, s, {});
  c.connect(s, 0, p, {{106, 232}, {106, 300}, {306, 300}, {306, 394}});
  c.connect(s, 1, p, {});
  c.connect(s, 2, 0, {});
  c.setNote(p, platform::utf8ToGbk("再见"));
  c.setEnabled(s, false);
  return c;
}

TEST(ProjectFile, ScriptBlockWithThreeNamedExits) {
  Chart c = scriptChart();
  const std::string def = defaultExitName(), hang = hangupExitName();
  auto playRecord = Bytes().i16(41).zeros(528).i32(kNone).i32(kNone).i32(kNone).v;
  const auto want = Bytes()
                        .raw("1000")
                        .i32(3)
                        .i16(6)
                        .i32(1)
                        .i32(100)
                        .i32(100)
                        .i16(48)
                        .i32(3)
                        .i32(2)
                        .text(def)
                        .i32(2)
                        .text(hang)
                        .i32(0)
                        .text("busy")
                        .text("set i1, 1\r\ngotoout busy")
                        .i32(100)
                        .i32(200)
                        .add(playRecord)
                        .i32(300)
                        .i32(400)
                        .i32(4)  // connections
                        .i32(2)
                        .i32(0)
                        .i32(1)
                        .i32(0)
                        .i32(106)
                        .i32(132)
                        .i32(106)
                        .i32(194)
                        .i32(4)
                        .i32(1)
                        .i32(2)
                        .i32(0)
                        .i32(106)
                        .i32(232)
                        .i32(106)
                        .i32(300)
                        .i32(306)
                        .i32(300)
                        .i32(306)
                        .i32(394)
                        .i32(2)
                        .i32(1)
                        .i32(2)
                        .i32(1)
                        .i32(118)
                        .i32(232)
                        .i32(306)
                        .i32(394)
                        .i32(2)
                        .i32(1)
                        .i32(0)
                        .i32(2)
                        .i32(130)
                        .i32(232)
                        .i32(106)
                        .i32(94)
                        .u8(1)
                        .u8(0)
                        .u8(1)
                        .i32(0)
                        .i32(0)
                        .text(platform::utf8ToGbk("再见"))
                        .v;
  const auto got = saveProject(c);
  EXPECT_EQ(got, want);

  Chart back;
  ASSERT_TRUE(loadProject(back, got, "s.src").ok());
  ASSERT_EQ(back.blockCount(), 3);
  const GELE& s = back.block(1);
  ASSERT_EQ(s.exits.size(), 3u);
  EXPECT_EQ(s.exits[0].name, def);
  EXPECT_EQ(s.exits[1].name, hang);
  EXPECT_EQ(s.exits[2].name, "busy");
  EXPECT_EQ(s.exitImages,
            (std::vector<std::string>{"SCRIPT_DEFAULT", "SCRIPT_HOOK", "SCRIPT_OUT"}));
  // Every exit, the hang-up exit included, leads where its connection is drawn.
  EXPECT_EQ(back.exitTarget(1, 0), 2);
  EXPECT_EQ(back.exitTarget(1, 1), 2);
  EXPECT_EQ(back.exitTarget(1, 2), 0);
  EXPECT_EQ(static_cast<const GCMD_DTC_SCRIPT&>(s).script, "set i1, 1\r\ngotoout busy");
  EXPECT_EQ(saveProject(back), got);
}

TEST(ProjectFile, EveryKindSurvivesARoundTrip) {
  Chart c;
  const int kinds[] = {40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53};
  int i = 0;
  for (int kind : kinds) {
    const int b = c.addBlock(kind, 10 * i, 2000 + 7 * i);
    // Fill the parameters with a pattern; the exits are filled on save.
    std::vector<uint8_t> record = c.block(b).record;
    for (size_t k = 2; k < record.size(); ++k)
      record[k] = static_cast<uint8_t>(k * 31 + kind);
    if (kind != 48) {
      ASSERT_TRUE(c.setRecord(b, record));
    }
    c.setNote(b, platform::utf8ToGbk("说明" + std::to_string(kind)));
    c.setEnabled(b, i % 3 != 0);
    ++i;
  }
  for (int b = 0; b < c.blockCount() - 1; ++b)
    c.connect(b, 0, b + 1, {{b, b}, {b, 500 + b}, {b + 1, 500 + b}, {b + 1, 1000}});
  const auto bytes = saveProject(c);

  Chart back;
  const LoadResult loaded = loadProject(back, bytes, "all.src");
  ASSERT_TRUE(loaded.ok());
  EXPECT_EQ(loaded.drawnForTargets, 0);
  ASSERT_EQ(back.blockCount(), c.blockCount());
  for (int b = 0; b < c.blockCount(); ++b) {
    SCOPED_TRACE(b);
    const GELE& x = c.block(b);
    const GELE& y = back.block(b);
    EXPECT_EQ(y.kind, x.kind);
    EXPECT_EQ(y.left, x.left);
    EXPECT_EQ(y.top, x.top);
    EXPECT_EQ(y.note, x.note);
    EXPECT_EQ(y.enabled, x.enabled);
    EXPECT_EQ(y.record, recordWithExits(x, c.exitTargets(b)));
    ASSERT_EQ(y.exits.size(), x.exits.size());
    EXPECT_EQ(back.exitTargets(b), c.exitTargets(b));
    const bool selected = x.kind == 40 || x.kind == 41 || x.kind == 42 || x.kind == 44 ||
                          x.kind == 45 || x.kind == 46;
    EXPECT_EQ(std::count(loaded.selected.begin(), loaded.selected.end(), b), selected ? 1 : 0);
  }
  ASSERT_EQ(back.connectCount(), c.connectCount());
  for (int k = 0; k < c.connectCount(); ++k) {
    EXPECT_EQ(back.connection(k).points, c.connection(k).points);
    EXPECT_EQ(back.connection(k).source, c.connection(k).source);
    EXPECT_EQ(back.connection(k).target, c.connection(k).target);
    EXPECT_EQ(back.connection(k).exit, c.connection(k).exit);
  }
  EXPECT_EQ(saveProject(back), bytes);
}

TEST(ProjectFile, WrongMagicLeavesAnEmptyChart) {
  for (std::string_view head : {"1001", "100", "", "1000"}) {
    std::vector<uint8_t> bytes(head.begin(), head.end());
    if (head == "1000") bytes = {'1', '0', '0', 'O'};
    Chart c;
    const LoadResult r = loadProject(c, bytes, "flow.cpl");
    EXPECT_EQ(r.status, LoadStatus::kBadMagic) << head;
    EXPECT_EQ(r.message, "flow.cpl文件格式错误");
    EXPECT_EQ(c.blockCount(), 0);
  }
}

TEST(ProjectFile, ShortFilesAreReadAsFarAsTheyGo) {
  const auto full = saveProject(scriptChart());
  const size_t noNotes = full.size() - (4 + 4 + 4 + 4);  // three notes, "再见" in 4 bytes
  const size_t firstBlockEnd = 8 + 6 + 8;
  struct Case {
    size_t length;
    LoadStatus status;
    int blocks;
    size_t connects;
  };
  const Case cases[] = {
      {8, LoadStatus::kIncomplete, 0, 0},  // count only
      {firstBlockEnd - 1, LoadStatus::kIncomplete, 0, 0},
      {firstBlockEnd, LoadStatus::kIncomplete, 1, 0},  // one whole block
      {noNotes - 3, LoadStatus::kIncomplete, 3, 4},    // enabled flags cut
      {noNotes, LoadStatus::kOk, 3, 4},                // a file from before notes
      {noNotes + 2, LoadStatus::kOk, 3, 4},            // less than a length left
      {full.size() - 1, LoadStatus::kIncomplete, 3, 4},
      {full.size(), LoadStatus::kOk, 3, 4},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.length);
    Chart c;
    const LoadResult r =
        loadProject(c, std::span(full).first(std::min(k.length, full.size())), "s.src");
    EXPECT_EQ(r.status, k.status);
    EXPECT_EQ(c.blockCount(), k.blocks);
    EXPECT_EQ(c.connections().size(), k.connects);
  }
  // No prefix crashes or reads outside the bytes (the sanitizers watch).
  for (size_t n = 0; n <= full.size(); ++n) {
    Chart c;
    loadProject(c, std::span(full).first(n), "s.src");
  }
}

TEST(ProjectFile, UnknownKindsAndStrayIndices) {
  const auto bytes = Bytes()
                         .raw("1000")
                         .i32(3)
                         .i16(7)  // not a kind: skipped, no body
                         .i16(6)
                         .i32(kNone)
                         .i32(1)
                         .i32(2)
                         .i16(-1)  // nor this
                         .i32(3)
                         .i32(2)
                         .i32(0)
                         .i32(5)
                         .i32(0)
                         .i32(0)
                         .i32(0)
                         .i32(1)
                         .i32(1)  // target 5
                         .i32(2)
                         .i32(0)
                         .i32(0)
                         .i32(3)
                         .i32(0)
                         .i32(0)
                         .i32(1)
                         .i32(1)  // exit 3
                         .i32(2)
                         .i32(-1)
                         .i32(0)
                         .i32(0)
                         .i32(0)
                         .i32(0)
                         .i32(1)
                         .i32(1)
                         .u8(0)
                         .v;
  Chart c;
  const LoadResult r = loadProject(c, bytes, "u.src");
  EXPECT_EQ(r.status, LoadStatus::kOk) << r.message;
  ASSERT_EQ(c.blockCount(), 1);
  EXPECT_EQ(c.block(0).left, 1);
  EXPECT_EQ(c.block(0).top, 2);
  EXPECT_EQ(c.block(0).enabled, 0);
  EXPECT_TRUE(c.connections().empty());

  // Negative counts and lengths are damage, not huge reads.
  for (const auto& bad :
       {Bytes().raw("1000").i32(-1).v, Bytes().raw("1000").i32(1).i16(48).i32(1).i32(0).i32(-5).v,
        Bytes().raw("1000").i32(1).i16(48).i32(0).i32(0x7fffffff).v,
        Bytes().raw("1000").i32(0).i32(1).i32(-2).v}) {
    Chart d;
    EXPECT_EQ(loadProject(d, bad, "bad.src").status, LoadStatus::kIncomplete);
  }
}

// The drawn connections say where exits lead; a file whose exit slots and
// connections disagree is read into one truth.
TEST(ProjectFile, ExitSlotsAndConnectionsBecomeOneTruth) {
  const auto bytes = Bytes()
                         .raw("1000")
                         .i32(3)
                         .i16(6)
                         .i32(2)  // start -> 2, but drawn to 1
                         .i32(100)
                         .i32(100)
                         .i16(47)
                         .u8(0)
                         .u8(0)
                         .i32(2)  // exit 0 -> 2 without a drawn line
                         .i32(kNone)
                         .i32(100)
                         .i32(200)
                         .i16(47)
                         .u8(0)
                         .u8(0)
                         .i32(0)  // exit 0 -> the start block, undrawn
                         .i32(7)  // exit 1 -> a block that is not there
                         .i32(300)
                         .i32(200)
                         .i32(2)  // two connections from the start exit
                         .i32(2)
                         .i32(0)
                         .i32(1)
                         .i32(0)
                         .i32(1)
                         .i32(1)
                         .i32(2)
                         .i32(2)
                         .i32(2)
                         .i32(0)
                         .i32(0)
                         .i32(0)
                         .i32(0)
                         .i32(0)
                         .i32(0)
                         .i32(0)
                         .u8(1)
                         .u8(1)
                         .u8(1)
                         .v;
  Chart c;
  const LoadResult r = loadProject(c, bytes, "t.src");
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(c.exitTarget(0, 0), 1);  // the first drawn line wins
  EXPECT_EQ(c.exitTarget(1, 0), 2);  // a saved target keeps leading there
  EXPECT_EQ(c.exitTarget(2, 0), 0);
  EXPECT_EQ(c.exitTarget(2, 1), NO_TARGET);
  EXPECT_EQ(r.drawnForTargets, 2);
  ASSERT_EQ(c.connectCount(), 3);
  EXPECT_EQ(c.connection(1).points, (std::vector<TMYPoint>{{106, 232}, {306, 194}}));
  EXPECT_EQ(c.connection(2).points, (std::vector<TMYPoint>{{306, 232}, {106, 94}}));
  // Saved again, the file says one thing, and reads back to the same bytes.
  const auto saved = saveProject(c);
  Chart again;
  const LoadResult r2 = loadProject(again, saved, "t.src");
  EXPECT_EQ(r2.drawnForTargets, 0);
  EXPECT_EQ(saveProject(again), saved);
}

TEST(ProjectFile, Files) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("chart_project_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "a.src").string();
  Chart c = scriptChart();
  c.setModified(true);
  ASSERT_TRUE(saveProjectFile(c, path));
  EXPECT_FALSE(c.modified());

  Chart back;
  EXPECT_TRUE(loadProjectFile(back, path).ok());
  EXPECT_EQ(back.fileName(), path);
  EXPECT_EQ(saveProject(back), saveProject(c));

  // A compiled flow offered as a project: the box, an empty chart, the name kept.
  {
    std::FILE* f = std::fopen((dir / "b.cpl").c_str(), "wb");
    std::fputs("1001\1\0\0\0", f);
    std::fclose(f);
  }
  RecordingSink sink;
  Chart wrong;
  const std::string cpl = (dir / "b.cpl").string();
  EXPECT_EQ(loadProjectFile(wrong, cpl, &sink).status, LoadStatus::kBadMagic);
  EXPECT_EQ(sink.shown, std::vector<std::string>{"IVR流程编辑器|" + cpl + "文件格式错误"});
  EXPECT_EQ(wrong.blockCount(), 0);
  EXPECT_EQ(wrong.fileName(), "未命名");

  EXPECT_EQ(loadProjectFile(wrong, (dir / "missing.src").string()).status, LoadStatus::kCannotOpen);
  EXPECT_EQ(loadProjectFile(wrong, dir.string()).status, LoadStatus::kCannotOpen);
  EXPECT_FALSE(saveProjectFile(c, (dir / "no" / "such.src").string()));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace chart
