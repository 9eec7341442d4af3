#include "designer/chart/chart.h"

#include "designer/chart/canvas_state.h"

#include <gtest/gtest.h>

#include "platform/gbk.h"

namespace chart {
namespace {

using P = TMYPoint;

class RecordingSink : public platform::MessageSink {
 public:
  void show(std::string_view caption, std::string_view text) override {
    shown.push_back(std::string(caption) + "|" + std::string(text));
  }
  std::vector<std::string> shown;
};

TEST(Chart, NewChartHoldsOnlyTheStartBlock) {
  Chart c;
  ASSERT_EQ(c.blockCount(), 1);
  const GELE& s = c.block(0);
  EXPECT_EQ(s.kind, 6);
  EXPECT_EQ(s.left, 100);
  EXPECT_EQ(s.top, 100);
  ASSERT_EQ(s.exits.size(), 1u);
  EXPECT_EQ(c.exitTarget(0, 0), NO_TARGET);
  EXPECT_EQ(c.fileName(), "未命名");
  EXPECT_FALSE(c.modified());
  // One start block per chart.
  EXPECT_EQ(c.addBlock(6, 300, 300), -1);
  EXPECT_EQ(c.blockCount(), 1);
}

TEST(Chart, BlocksOfEveryKind) {
  struct Case {
    int kind, exits, recordSize;
  };
  const Case cases[] = {{6, 1, 6},     {40, 3, 302}, {41, 3, 542}, {42, 4, 26},  {43, 3, 304},
                        {44, 14, 339}, {45, 2, 17},  {46, 2, 32},  {47, 2, 12},  {48, 2, 0},
                        {49, 6, 305},  {50, 6, 83},  {51, 3, 292}, {52, 3, 278}, {53, 2, 22}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.kind);
    auto b = createBlock(k.kind);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->kind, k.kind);
    EXPECT_EQ(b->image, "CMD" + std::to_string(k.kind));
    EXPECT_EQ(static_cast<int>(b->exits.size()), k.exits);
    EXPECT_EQ(b->exitImages.size(), b->exits.size());
    EXPECT_EQ(static_cast<int>(b->record.size()), k.recordSize);
    EXPECT_TRUE(b->enabled);
    for (const TMyOut& e : b->exits)
      EXPECT_EQ(e.used, 1);
    if (k.recordSize > 0) {
      EXPECT_EQ(b->record[0] | (b->record[1] << 8), k.kind);
      // Everything but the kind is zero until the block is saved or compiled.
      EXPECT_EQ(std::count(b->record.begin() + 2, b->record.end(), 0),
                static_cast<long>(b->record.size()) - 2);
    }
  }
  EXPECT_EQ(createBlock(44)->exitImages[13], "CMD44_13");
  auto s = createBlock(48);
  EXPECT_EQ(s->exits[0].name, platform::utf8ToGbk("缺省出口"));
  EXPECT_EQ(s->exits[1].name, platform::utf8ToGbk("挂机出口"));
  EXPECT_EQ(s->exitImages, (std::vector<std::string>{"SCRIPT_DEFAULT", "SCRIPT_HOOK"}));
  for (int kind : {0, 1, 5, 7, 39, 54, -1})
    EXPECT_EQ(createBlock(kind), nullptr) << kind;
}

TEST(Chart, HitTestOfExitsAndPort) {
  GCMD_DTC_PLAYVOC b;
  b.move(100, 200);
  struct Case {
    int x, y, code;
    P anchor;
  };
  const Case cases[] = {
      {101, 221, 0, {106, 232}},    // just inside exit 0
      {100, 225, -1, {}},           // on its left edge
      {111, 231, 0, {106, 232}},    // just inside the far corner
      {112, 225, -1, {}},           // the border between exits 0 and 1
      {113, 225, 1, {118, 232}},    //
      {130, 225, 2, {130, 232}},    // exit 2 spans 124..136
      {137, 225, -1, {}},           // a play block has three exits only
      {110, 220, -1, {}},           // top edge of the exits
      {110, 232, -1, {}},           // bottom edge
      {101, 199, 200, {106, 194}},  // input port
      {111, 189, 200, {106, 194}}, {112, 195, -1, {}}, {105, 188, -1, {}},
      {105, 200, -1, {}},          {140, 210, -1, {}},  // the body is not a port
  };
  for (const Case& c : cases) {
    P anchor{-1, -1};
    EXPECT_EQ(b.hitTest(c.x, c.y, &anchor), c.code) << c.x << "," << c.y;
    if (c.code != -1) {
      EXPECT_EQ(anchor, c.anchor) << c.x << "," << c.y;
    }
  }
}

TEST(Chart, FindBlockPrefersBodiesThenPorts) {
  Chart c;
  const int a = c.addBlock(41, 100, 200);
  const int b = c.addBlock(41, 100, 232);  // its port overlaps a's exits
  EXPECT_EQ(c.findBlock(150, 110), 0);
  EXPECT_EQ(c.findBlock(150, 210), a);
  EXPECT_EQ(c.findBlock(105, 225), a);  // a's exit 0 comes before b's port in list order
  EXPECT_EQ(c.findBlock(150, 240), b);
  EXPECT_EQ(c.findBlock(100, 210), -1);  // edges are outside
  EXPECT_EQ(c.findBlock(1000, 1000), -1);
}

TEST(Chart, ConnectRules) {
  Chart c;
  const int p = c.addBlock(41, 100, 200);
  // The start block cannot lead to itself; any other block may.
  EXPECT_EQ(dropConnection(c, 0, 0, 0, kInputPort, {}), -1);
  EXPECT_EQ(c.connect(p, 1, p, {}), 0);
  EXPECT_EQ(c.exitTarget(p, 1), p);
  // A drop anywhere but a port, or a drag that began on a port, connects nothing.
  EXPECT_EQ(dropConnection(c, 0, 0, p, 0, {}), -1);
  EXPECT_EQ(dropConnection(c, 0, kInputPort, p, kInputPort, {}), -1);
  // The first drop connects; a second one from the same exit is refused.
  EXPECT_EQ(dropConnection(c, 0, 0, p, kInputPort, {P{106, 132}, P{106, 150}, P{106, 196}}), 1);
  EXPECT_EQ(dropConnection(c, 0, 0, p, kInputPort, {}), -1);
  ASSERT_EQ(c.connectCount(), 2);
  EXPECT_EQ(c.exitTarget(0, 0), p);
  // The ends are put on the exit and port anchors.
  EXPECT_EQ(c.connection(1).points, (std::vector<P>{{106, 132}, {106, 150}, {106, 194}}));
  // Indices outside the lists.
  EXPECT_EQ(c.connect(0, 1, p, {}), -1);
  EXPECT_EQ(c.connect(0, 0, 9, {}), -1);
  EXPECT_EQ(c.connect(-1, 0, p, {}), -1);
}

// Blocks 0..6 with notes naming them, connected in a chain, exit 2 of
// blocks 1..4 to block 5, and block 6 back to blocks 3 and 4.
Chart chain(std::vector<std::string>& names) {
  Chart c;
  c.setNote(0, "b0");
  for (int i = 1; i <= 6; ++i) {
    const int b = c.addBlock(41, 100, 100 + 60 * i);
    c.setNote(b, "b" + std::to_string(i));
  }
  for (int i = 0; i < 6; ++i)
    c.connect(i, 0, i + 1, {});
  for (int i = 1; i <= 4; ++i)
    c.connect(i, 2, 5, {});
  c.connect(6, 1, 3, {});
  c.connect(6, 2, 4, {});
  names.clear();
  for (int i = 0; i <= 6; ++i)
    names.push_back("b" + std::to_string(i));
  return c;
}

TEST(Chart, DeletingBlocksThreeAndFiveRenumbersEverything) {
  std::vector<std::string> names;
  Chart c = chain(names);
  EXPECT_EQ(c.deleteBlocks({5, 3}), 2);
  ASSERT_EQ(c.blockCount(), 5);
  std::vector<std::string> left;
  for (int i = 0; i < c.blockCount(); ++i)
    left.push_back(c.block(i).note);
  EXPECT_EQ(left, (std::vector<std::string>{"b0", "b1", "b2", "b4", "b6"}));

  // Exits that led to b3 or b5 lead nowhere; the others are renumbered.
  auto target = [&](int b, int e) { return c.exitTarget(b, e); };
  EXPECT_EQ(target(0, 0), 1);
  EXPECT_EQ(target(1, 0), 2);
  EXPECT_EQ(target(2, 0), NO_TARGET);
  EXPECT_EQ(target(3, 0), NO_TARGET);  // b4 led to b5
  EXPECT_EQ(target(4, 0), NO_TARGET);
  for (int b = 1; b <= 3; ++b)
    EXPECT_EQ(target(b, 2), NO_TARGET) << b;
  EXPECT_EQ(target(4, 1), NO_TARGET);  // b6 led to b3
  EXPECT_EQ(target(4, 2), 3);          // b6 leads to b4, now at 3

  // Connections: only those between surviving blocks, renumbered, and each
  // one matching the exit it records.
  std::vector<std::pair<int, int>> ends;
  for (const TConnect& k : c.connections()) {
    ends.push_back({k.source, k.target});
    ASSERT_LT(k.source, c.blockCount());
    ASSERT_LT(k.target, c.blockCount());
    EXPECT_EQ(c.exitTarget(k.source, k.exit), k.target);
  }
  EXPECT_EQ(ends, (std::vector<std::pair<int, int>>{{0, 1}, {1, 2}, {4, 3}}));
}

TEST(Chart, DeletingTheStartBlockIsRefused) {
  RecordingSink sink;
  Chart c;
  c.setMessageSink(&sink);
  c.addBlock(41, 100, 200);
  EXPECT_EQ(c.deleteBlocks({0, 1}), 1);
  EXPECT_EQ(c.blockCount(), 1);
  EXPECT_EQ(c.block(0).kind, 6);
  EXPECT_EQ(sink.shown, std::vector<std::string>{"IVR流程编辑器|开始命令不能够删除!"});
}

TEST(Chart, DeletingAConnectionClearsItsExit) {
  std::vector<std::string> names;
  Chart c = chain(names);
  const int k = c.connectFrom(2, 2);
  ASSERT_GE(k, 0);
  const int before = c.connectCount();
  EXPECT_TRUE(c.deleteConnect(k));
  EXPECT_EQ(c.connectCount(), before - 1);
  EXPECT_EQ(c.exitTarget(2, 2), NO_TARGET);
  EXPECT_EQ(c.exitTarget(2, 0), 3);
  EXPECT_FALSE(c.deleteConnect(99));
}

TEST(Chart, MovingABlockReanchorsItsConnections) {
  Chart c;
  const int a = c.addBlock(41, 100, 200);
  const int b = c.addBlock(41, 300, 400);
  // a.exit1 -> b: down, across, down.
  c.connect(a, 1, b, {{118, 232}, {118, 300}, {306, 300}, {306, 394}});
  c.connect(0, 0, a, {});
  c.moveBlocks({a}, 50, 10);
  EXPECT_EQ(c.connection(0).points,
            (std::vector<P>{{168, 242}, {168, 300}, {306, 300}, {306, 394}}));
  EXPECT_EQ(c.connection(1).points, (std::vector<P>{{106, 132}, {156, 204}}));
  c.moveBlocks({b}, -50, 50);
  EXPECT_EQ(c.connection(0).points,
            (std::vector<P>{{168, 242}, {168, 300}, {256, 300}, {256, 444}}));
  EXPECT_TRUE(c.modified());
}

TEST(Chart, MovingAGroupMovesTheConnectionsBetweenIt) {
  Chart c;
  const int a = c.addBlock(41, 100, 200);
  const int b = c.addBlock(41, 300, 400);
  const int d = c.addBlock(41, 600, 600);
  c.connect(a, 0, b, {{106, 232}, {106, 300}, {306, 300}, {306, 394}});
  c.connect(b, 0, d, {{306, 432}, {306, 500}, {606, 500}, {606, 594}});
  c.moveBlocks({a, b}, 10, 20);
  EXPECT_EQ(c.block(a).left, 110);
  EXPECT_EQ(c.block(b).top, 420);
  EXPECT_EQ(c.block(d).left, 600);
  EXPECT_EQ(c.connection(0).points,
            (std::vector<P>{{116, 252}, {116, 320}, {316, 320}, {316, 414}}));
  // Only its source moved: the end follows, the far end stays.
  EXPECT_EQ(c.connection(1).points,
            (std::vector<P>{{316, 452}, {316, 500}, {606, 500}, {606, 594}}));
}

TEST(Chart, MergeByName) {
  GCMD_DTC_SCRIPT s;
  const std::string def = defaultExitName(), hang = hangupExitName();
  s.exits[1].used = 0;
  bool appended = true;
  EXPECT_EQ(s.mergeExit(def, &appended), 0);
  EXPECT_FALSE(appended);
  EXPECT_EQ(s.mergeExit(hang), 1);  // an existing exit is used again
  EXPECT_EQ(s.exits[1].used, 1);
  EXPECT_EQ(s.mergeExit("busy", &appended), 2);
  EXPECT_TRUE(appended);
  EXPECT_EQ(s.mergeExit("busy", &appended), 2);
  EXPECT_FALSE(appended);
  EXPECT_EQ(s.mergeExit("ok"), 3);
  EXPECT_EQ(s.exits.size(), 4u);
  EXPECT_EQ(s.exitImages[3], "SCRIPT_OUT");
  EXPECT_EQ(s.findExit("busy"), 2);
  EXPECT_EQ(s.findExit("Busy"), -1);
  EXPECT_EQ(s.findExit("none"), -1);

  // The chart looks an exit up by its exact name and answers its connection's target.
  Chart c;
  const int b = c.addBlock(48, 100, 200);
  c.setScriptExits(b, {"busy", "ok"});
  c.connect(b, 2, 0, {});
  EXPECT_EQ(c.lookupExit(b, "busy"), 0);
  EXPECT_EQ(c.lookupExit(b, "Busy"), NO_TARGET);
  EXPECT_EQ(c.lookupExit(b, "ok"), NO_TARGET);  // not connected
  EXPECT_EQ(c.lookupExit(b, "none"), NO_TARGET);
}

TEST(Chart, ScriptExitsFollowTheScript) {
  Chart c;
  const int s = c.addBlock(48, 100, 200);
  const int x = c.addBlock(41, 100, 400);
  const int y = c.addBlock(41, 300, 400);
  c.setScriptExits(s, {"a", "b", "c"});
  ASSERT_EQ(c.block(s).exits.size(), 5u);
  c.connect(s, 2, x, {});                                                // a: two points
  c.connect(s, 3, y, {{142, 232}, {142, 300}, {306, 300}, {306, 394}});  // b
  c.connect(s, 4, y, {});                                                // c
  c.connect(s, 1, x, {});                                                // hang-up
  // The script no longer names "a"; "c" moves up to exit 2.
  c.setScriptExits(s, {"c", "b"});
  const GELE& b = c.block(s);
  ASSERT_EQ(b.exits.size(), 4u);
  EXPECT_EQ(b.exits[2].name, "b");
  EXPECT_EQ(b.exits[3].name, "c");
  EXPECT_EQ(c.exitTarget(s, 3), y);
  EXPECT_EQ(b.exitImages.size(), 4u);
  ASSERT_EQ(c.connectCount(), 3);
  for (const TConnect& k : c.connections()) {
    EXPECT_EQ(c.exitTarget(k.source, k.exit), k.target);
    EXPECT_EQ(k.points.front(), b.exitAnchor(k.exit));
  }
  // b's connection: its first point moved to exit 2, its first segment stays upright.
  EXPECT_EQ(c.connection(0).points,
            (std::vector<P>{{130, 232}, {130, 300}, {306, 300}, {306, 394}}));
  // c's two-point connection gains two points at half height.
  EXPECT_EQ(c.connection(1).points,
            (std::vector<P>{{142, 232}, {142, 313}, {306, 313}, {306, 394}}));
  // An empty script keeps the default and hang-up exits and drops the rest.
  c.setScriptExits(s, {});
  EXPECT_EQ(c.block(s).exits.size(), 2u);
  ASSERT_EQ(c.connectCount(), 1);
  EXPECT_EQ(c.connection(0).exit, 1);
}

TEST(Chart, RubberBandSelectsWholeBlocksOnly) {
  Chart c;  // the start block spans (100, 100)..(180, 120)
  CanvasState v;
  const int b = c.addBlock(41, 300, 100);
  struct Case {
    int x1, y1, x2, y2, count;
    bool start, other;
  };
  const Case cases[] = {
      {99, 99, 181, 121, 1, true, false},
      {181, 121, 99, 99, 1, true, false},    // dragged up and left
      {100, 99, 181, 121, 0, false, false},  // touching the left edge
      {99, 99, 180, 121, 0, false, false},
      {99, 99, 181, 120, 0, false, false},
      {0, 0, 400, 200, 2, true, true},
      {150, 0, 400, 200, 1, false, true},  // half of the start block
  };
  for (const Case& k : cases) {
    EXPECT_EQ(v.selectInside(c, k.x1, k.y1, k.x2, k.y2), k.count) << k.x1 << "," << k.x2;
    EXPECT_EQ(v.isSelected(c, 0), k.start);
    EXPECT_EQ(v.isSelected(c, b), k.other);
    EXPECT_EQ(v.selectedCount(c), k.count);
  }
}

TEST(Chart, HoverAndPlacing) {
  Chart c;
  CanvasState v;
  v.tool = 41;
  const int b = v.placeWithTool(c, 100, 200);
  EXPECT_EQ(v.tool, kSelectTool);  // placing leaves the selection tool on
  EXPECT_EQ(v.current(c), b);
  EXPECT_EQ(v.selectedBlocks(c), std::vector<int>{b});
  EXPECT_EQ(c.block(b).left, 100);
  EXPECT_EQ(v.placeWithTool(c, 300, 300), -1);
  c.connect(0, 0, b, {{106, 132}, {106, 160}, {300, 160}, {300, 180}, {106, 180}, {106, 194}});
  struct Case {
    int x, y, code, block, index;
  };
  auto check = [&](const std::vector<Case>& cases) {
    for (const Case& k : cases) {
      const Hover h = v.hoverAt(c, k.x, k.y);
      EXPECT_EQ(h.code, k.code) << k.x << "," << k.y;
      EXPECT_EQ(h.block, k.block) << k.x << "," << k.y;
      EXPECT_EQ(h.index, k.index) << k.x << "," << k.y;
    }
  };
  check({{200, 161, 11, -1, 0},  // an unselected connection
         {110, 190, 9, 1, -1},   // the port, beside the connection's end
         {119, 225, 10, 1, 1},
         {150, 210, 8, 1, -1},
         {150, 110, 8, 0, -1},
         {400, 400, -1, -1, -1}});
  v.selectConnection(c, 0);
  check({{106, 133, 3, -1, 0},
         {105, 195, 4, -1, 0},
         {107, 161, 1, -1, 0},
         {300, 160, 0, -1, 0},
         {203, 160, 6, -1, 0},
         {106, 146, 2, -1, 0},
         {200, 161, 6, -1, 0}});
}

TEST(Chart, DrawTrailKeepsTheFirstHundredPoints) {
  TDrawTrail t;
  for (int i = 0; i < 150; ++i)
    t.push({i, i});
  EXPECT_EQ(t.count(), 100);
  EXPECT_EQ(t.points().back(), (P{99, 99}));
  t.clear();
  EXPECT_EQ(t.count(), 0);
}

TEST(Chart, FindConnect) {
  Chart c;
  const int a = c.addBlock(41, 100, 200);
  c.connect(0, 0, a, {{106, 132}, {106, 160}, {50, 160}, {50, 180}, {106, 180}, {106, 194}});
  EXPECT_EQ(c.findConnect(54, 156), 0);  // near an inner point
  EXPECT_EQ(c.findConnect(80, 162), 0);  // on a segment
  EXPECT_EQ(c.findConnect(80, 170), -1);
  // The selected connection is not found again.
  EXPECT_EQ(c.findConnect(80, 162, c.connection(0).id), -1);
}

}  // namespace
}  // namespace chart
