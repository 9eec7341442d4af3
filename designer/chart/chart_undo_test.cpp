// Undo and redo: every command undone gives back the project file bytes
// exactly, redone gives the edited bytes again; moves of one selection
// merge into one step.
#include <gtest/gtest.h>

#include "designer/chart/canvas_state.h"
#include "designer/chart/chart.h"
#include "designer/chart/project_file.h"
#include "platform/gbk.h"

namespace chart {
namespace {

using P = TMYPoint;

// Start -> play (1) -> script (2) with exits "a" and "b" -> digit (3) and
// back to play; a note, a record byte and a disabled block, so that every
// part of the file is in play.
void build(Chart& c) {
  const int play = c.addBlock(41, 100, 200);
  const int script = c.addBlock(48, 100, 300);
  const int digit = c.addBlock(44, 300, 400);
  c.setScript(script, "gotoout a\r\ngotoout b", {"a", "b"});
  c.connect(0, 0, play, {});
  c.connect(play, 0, script, {{106, 232}, {106, 260}, {106, 294}});
  c.connect(script, 2, digit, {{130, 332}, {130, 360}, {306, 360}, {306, 394}});
  c.connect(script, 3, play, {});
  c.connect(digit, 13, digit, {});
  std::vector<uint8_t> r = c.block(play).record;
  r[2] = 7;
  c.setRecord(play, r);
  c.setNote(digit, platform::utf8ToGbk("菜单"));
  c.setEnabled(script, false);
}

struct Case {
  const char* what;
  Command command;
};

TEST(ChartUndo, EveryCommandUndoneRestoresTheFileBytes) {
  std::vector<uint8_t> digitRecord(339, 0);
  digitRecord[270] = 5;
  const Case cases[] = {
      {"place", cmd::PlaceBlock{53, 600, 600}},
      {"move one", cmd::MoveBlocks{{1}, 30, -20}},
      {"move a group", cmd::MoveBlocks{{1, 2, 3}, -15, 45}},
      {"move a block with a loop", cmd::MoveBlocks{{3}, 5, 5}},
      {"connect", cmd::Connect{1, 1, 3, {{118, 232}, {118, 300}, {306, 300}, {306, 394}}}},
      {"connect straight", cmd::Connect{3, 0, 0, {}}},
      {"reshape", cmd::Reshape{2, {{130, 332}, {130, 370}, {306, 370}, {306, 394}}}},
      {"delete a connection", cmd::Delete{{}, 1}},
      {"delete a block", cmd::Delete{{1}}},
      {"delete blocks and the start", cmd::Delete{{0, 2, 3}}},
      {"delete a connection and blocks", cmd::Delete{{1, 3}, 4}},
      {"edit a record", cmd::EditRecord{3, digitRecord}},
      {"edit a script", cmd::EditScript{2, "gotoout b\r\ngotoout c", {"b", "c"}}},
      {"empty a script", cmd::EditScript{2, "", {}}},
      {"edit a note", cmd::EditNote{1, platform::utf8ToGbk("欢迎")}},
      {"clear a note", cmd::EditNote{3, ""}},
      {"enable", cmd::SetEnabled{2, true}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Chart c;
    build(c);
    const std::vector<uint8_t> before = saveProject(c);
    const Applied a = c.apply(k.command);
    ASSERT_TRUE(a.ok);
    const std::vector<uint8_t> after = saveProject(c);
    ASSERT_NE(after, before);  // the command changed the file
    ASSERT_TRUE(c.undo());
    EXPECT_EQ(saveProject(c), before);
    ASSERT_TRUE(c.redo());
    EXPECT_EQ(saveProject(c), after);
    ASSERT_TRUE(c.undo());
    EXPECT_EQ(saveProject(c), before);
    EXPECT_FALSE(c.redo() && c.redo());  // one step only
  }

  // All of them one after the other, undone down to the built chart and
  // redone to the end, step by step.
  Chart c;
  build(c);
  while (c.canUndo())
    c.undo();
  std::vector<std::vector<uint8_t>> states{saveProject(c)};
  while (c.redo())
    states.push_back(saveProject(c));
  for (const Case& k : cases)
    if (c.apply(k.command).ok) states.push_back(saveProject(c));
  for (size_t i = states.size() - 1; i > 0; --i) {
    ASSERT_TRUE(c.undo()) << i;
    EXPECT_EQ(saveProject(c), states[i - 1]) << i;
  }
  EXPECT_FALSE(c.canUndo());
  for (size_t i = 1; i < states.size(); ++i) {
    ASSERT_TRUE(c.redo()) << i;
    EXPECT_EQ(saveProject(c), states[i]) << i;
  }
  EXPECT_FALSE(c.canRedo());
}

TEST(ChartUndo, RefusedCommandsLeaveNoStep) {
  Chart c;
  build(c);
  while (c.canUndo())
    c.undo();
  while (c.canRedo())
    c.redo();
  const auto bytes = saveProject(c);
  const Command refused[] = {
      cmd::PlaceBlock{6, 0, 0},  // a second start block
      cmd::PlaceBlock{54, 0, 0},
      cmd::MoveBlocks{{9}, 1, 1},
      cmd::MoveBlocks{{}, 1, 1},
      cmd::Connect{0, 0, 0, {}},  // the start block to itself
      cmd::Connect{0, 0, 2, {}},  // already connected
      cmd::Connect{1, 3, 2, {}},  // no such exit
      cmd::Reshape{9, {{0, 0}, {1, 1}}},
      cmd::Reshape{0, {{0, 0}}},
      cmd::Delete{{}, 9},
      cmd::Delete{{0}},  // only the start block
      cmd::Delete{{1, 9}},
      cmd::EditRecord{1, std::vector<uint8_t>(10, 0)},
      cmd::EditRecord{2, {}},  // the script block has no record
      cmd::EditScript{1, "stop", {}},
      cmd::EditNote{-1, "x"},
      cmd::SetEnabled{4, false},
  };
  const int steps = [&] {
    int n = 0;
    while (c.undo())
      ++n;
    while (c.redo()) {
    }
    return n;
  }();
  for (const Command& k : refused) {
    EXPECT_FALSE(c.apply(k).ok) << k.index();
    EXPECT_EQ(saveProject(c), bytes) << k.index();
  }
  int n = 0;
  while (c.undo())
    ++n;
  EXPECT_EQ(n, steps);
}

TEST(ChartUndo, ConsecutiveMovesOfOneSelectionMerge) {
  Chart c;
  build(c);
  const auto start = saveProject(c);
  c.moveBlocks({1, 2}, 10, 0);
  c.moveBlocks({2, 1}, 0, 10);  // the same blocks in another order
  c.moveBlocks({1, 2}, 5, 5);
  const auto moved = saveProject(c);
  EXPECT_EQ(c.block(1).left, 115);
  EXPECT_EQ(c.block(2).top, 315);
  ASSERT_TRUE(c.undo());
  EXPECT_EQ(saveProject(c), start);
  ASSERT_TRUE(c.redo());
  EXPECT_EQ(saveProject(c), moved);

  // Another selection, another command between, or a gesture ended: new steps.
  c.moveBlocks({1}, 1, 0);
  c.moveBlocks({1}, 1, 0);
  const auto afterOne = saveProject(c);
  c.setNote(1, "n");
  c.moveBlocks({1}, 1, 0);
  c.endMerge();
  c.moveBlocks({1}, 1, 0);
  ASSERT_TRUE(c.undo());
  ASSERT_TRUE(c.undo());
  ASSERT_TRUE(c.undo());  // the note
  EXPECT_EQ(saveProject(c), afterOne);
  ASSERT_TRUE(c.undo());  // both single moves at once
  EXPECT_EQ(saveProject(c), moved);

  // Undo in between ends the merge too.
  c.moveBlocks({3}, 7, 7);
  c.undo();
  c.redo();
  c.moveBlocks({3}, 7, 7);
  c.undo();
  EXPECT_EQ(c.block(3).left, 307);

  // A move of nothing at all is no step.
  const auto now = saveProject(c);
  EXPECT_TRUE(c.moveBlocks({3}, 0, 0));
  c.undo();
  EXPECT_NE(saveProject(c), now);
}

TEST(ChartUndo, TheModifiedMarkFollowsTheSavedState) {
  Chart c;
  EXPECT_FALSE(c.modified());
  c.addBlock(41, 100, 200);
  EXPECT_TRUE(c.modified());
  c.setModified(false);  // saved
  c.moveBlocks({1}, 10, 10);
  c.moveBlocks({1}, 10, 10);
  EXPECT_TRUE(c.modified());
  c.undo();
  EXPECT_FALSE(c.modified());  // back at the saved state
  c.undo();
  EXPECT_TRUE(c.modified());
  c.redo();
  EXPECT_FALSE(c.modified());

  // After a save, the next move is a step of its own, so undo can reach the saved state.
  c.moveBlocks({1}, 10, 10);
  c.setModified(false);
  c.moveBlocks({1}, 10, 10);
  c.undo();
  EXPECT_FALSE(c.modified());
  EXPECT_EQ(c.block(1).left, 110);

  // A new edit after undo forgets the redo steps; the saved state is gone for good.
  c.undo();
  c.setNote(1, "x");
  EXPECT_FALSE(c.canRedo());
  c.undo();
  EXPECT_TRUE(c.modified());

  // Loading or a new chart forgets the history.
  c.reset();
  EXPECT_FALSE(c.canUndo());
  EXPECT_FALSE(c.modified());
  EXPECT_EQ(c.fileName(), "未命名");
}

TEST(ChartUndo, ObserversHearEveryChange) {
  struct Log : ChartObserver {
    void chartChanged(const ChartChange& c) override { seen.push_back(c); }
    std::vector<ChartChange> seen;
  } log;
  using W = ChartChange::What;
  Chart c;
  c.addObserver(&log);
  const int p = c.addBlock(41, 100, 200);
  c.connect(0, 0, p, {});
  c.moveBlocks({p}, 5, 5);
  c.deleteBlocks({p});
  c.undo();
  c.redo();
  c.apply(cmd::Connect{0, 0, 0, {}});  // refused: nothing heard
  c.removeObserver(&log);
  c.setNote(0, "x");
  ASSERT_EQ(log.seen.size(), 6u);
  EXPECT_EQ(log.seen[0].what, W::kBlockPlaced);
  EXPECT_EQ(log.seen[0].blocks, std::vector<int>{1});
  EXPECT_EQ(log.seen[1].what, W::kConnected);
  EXPECT_EQ(log.seen[1].connections, std::vector<int>{0});
  EXPECT_EQ(log.seen[2].what, W::kBlocksMoved);
  EXPECT_EQ(log.seen[2].connections, std::vector<int>{0});
  EXPECT_EQ(log.seen[3].what, W::kDeleted);
  EXPECT_EQ(log.seen[3].blocks, std::vector<int>{1});
  EXPECT_EQ(log.seen[4].what, W::kUndone);
  EXPECT_EQ(log.seen[5].what, W::kRedone);
}

// The selection is the canvas's, held by identity: edits that renumber the
// lists never move it onto another connection or leave it on a lost one.
TEST(CanvasState, SelectionSurvivesRenumberingAndNeverDangles) {
  Chart c;
  build(c);
  CanvasState v;

  // A deleted block takes its connections, and the selection with them.
  v.selectConnection(c, c.connectFrom(2, 2));  // script -> digit
  ASSERT_GE(v.selectedConnection(c), 0);
  c.deleteBlocks({3});
  EXPECT_EQ(v.selectedConnection(c), -1);
  EXPECT_EQ(v.hoverAt(c, 130, 345).code, -1);  // no handles of a lost connection
  c.connect(2, 2, 1, {});                      // a new one where it was is not selected
  EXPECT_EQ(v.selectedConnection(c), -1);
  c.undo();
  c.undo();  // the block and its connections come back, with their identity
  EXPECT_EQ(v.selectedConnection(c), c.connectFrom(2, 2));

  // Script exits going away renumber the connections after them: the
  // selection stays on the same line.
  const int loop = c.connectFrom(3, 13);
  v.selectConnection(c, loop);
  c.setScript(2, "gotoout b", {"b"});  // exit "a" and its connection go
  EXPECT_EQ(v.selectedConnection(c), loop - 1);
  EXPECT_EQ(c.connection(v.selectedConnection(c)).source, 3);
  // The exits of the selected connection itself going away end the selection.
  v.selectConnection(c, c.connectFrom(2, 2));  // now "b"
  ASSERT_GE(v.selectedConnection(c), 0);
  c.setScript(2, "", {});
  EXPECT_EQ(v.selectedConnection(c), -1);

  // Block selection follows blocks through deletions the same way.
  v.deselectAll();
  v.select(c, 3);
  c.deleteBlocks({1});
  EXPECT_EQ(v.selectedBlocks(c), std::vector<int>{2});
}

TEST(CanvasState, TheDeleteKeyIsOneStep) {
  Chart c;
  build(c);
  CanvasState v;
  const auto before = saveProject(c);
  v.selectAll(c);
  v.selectConnection(c, 0);
  EXPECT_TRUE(v.deleteSelection(c));
  EXPECT_EQ(c.blockCount(), 1);  // the start block stays, and stays selected
  EXPECT_EQ(v.selectedBlocks(c), std::vector<int>{0});
  EXPECT_EQ(v.selectedConnection(c), -1);
  c.undo();
  EXPECT_EQ(saveProject(c), before);

  // Moving the selection moves the group and merges as one step.
  v.deselectAll();
  v.select(c, 1);
  v.select(c, 2);
  v.moveSelection(c, 10, 0);
  v.moveSelection(c, 10, 0);
  EXPECT_EQ(c.block(2).left, 120);
  c.undo();
  EXPECT_EQ(saveProject(c), before);
}

}  // namespace
}  // namespace chart
