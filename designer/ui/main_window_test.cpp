#include "designer/ui/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "designer/chart/block_dialogs.h"
#include "designer/chart/flow_writer.h"
#include "designer/chart/geometry.h"
#include "designer/chart/project_file.h"
#include "designer/ui/block_dialog.h"
#include "designer/ui/canvas.h"
#include "designer/ui/ui_test_support.h"
#include "platform/gbk.h"
#include "platform/ini.h"

namespace designer_ui {
namespace {

using namespace testing;
using chart::TMYPoint;

class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    w.setQuestions(&q);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  }
  void TearDown() override {
    w.chart().setModified(false);  // no question when the fixture closes
  }
  QWidget* canvas() { return &w.canvas(); }
  chart::Chart& c() { return w.chart(); }
  // A block of `kind` placed with the toolbar at (x, y).
  int place(int kind, int x, int y) {
    w.toolAction(kind)->trigger();
    click(canvas(), {x, y});
    return c().blockCount() - 1;
  }
  void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(&w, static_cast<Qt::Key>(k), mods);
  }
  std::string src() {
    const std::vector<uint8_t> b = chart::saveProject(c());
    return {b.begin(), b.end()};
  }

  FakeQuestions q;
  Tfrmmain w;
};

TEST_F(Window, MenusToolbarsAndCaptionOfANewChart) {
  EXPECT_EQ(w.windowTitle(), "IVR流程编辑器-未命名");
  QStringList menus;
  for (QAction* a : w.menuBar()->actions())
    menus << a->text();
  EXPECT_EQ(menus, QStringList({"文件", "项目"}));
  struct Item {
    const char* name;
    const char* caption;
    QKeySequence keys;
    bool enabled;
  };
  const Item items[] = {
      {"new", "新建", QKeySequence("Ctrl+N"), true},
      {"open", "打开", QKeySequence("Ctrl+O"), true},
      {"save", "保存", QKeySequence("Ctrl+S"), false},  // nothing to save yet
      {"saveas", "另存为", QKeySequence(), false},      // no file name yet
      {"compile", "生成IVR执行文件", QKeySequence("F7"), true},
      {"check", "检查流程", QKeySequence("F8"), true},
  };
  for (const Item& i : items) {
    SCOPED_TRACE(i.name);
    QAction* a = w.action(i.name);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(), QString::fromUtf8(i.caption));
    EXPECT_EQ(a->shortcut(), i.keys);
    EXPECT_EQ(a->isEnabled(), i.enabled);
  }
  // The selection tool is first and chosen; the canvas is 5000 square on sky blue.
  EXPECT_TRUE(w.toolAction(chart::kSelectTool)->isChecked());
  EXPECT_TRUE(w.toolAction(chart::kSelectTool)->text().isEmpty());
  EXPECT_EQ(w.toolAction(cpl::kKindPlayVoice)->text(), "播放语音");
  EXPECT_EQ(w.toolAction(cpl::kKindCycPlay)->text(), "循环放音");
  EXPECT_EQ(w.canvas().size(), QSize(5000, 5000));
  EXPECT_EQ(w.background(), kSkyBlue);
  EXPECT_TRUE(w.rightAngle());

  place(cpl::kKindRecord, 300, 300);
  EXPECT_EQ(w.windowTitle(), "IVR流程编辑器-未命名*");
  EXPECT_TRUE(w.action("save")->isEnabled());
}

TEST_F(Window, PlacesEveryKindAtTheMouseAndReturnsToSelection) {
  const int kinds[] = {41, 44, 43, 42, 45, 46, 47, 48, 50, 40, 49, 52, 53, 51};
  int x = 200;
  for (int kind : kinds) {
    SCOPED_TRACE(kind);
    const int b = place(kind, x, 400);
    ASSERT_EQ(c().block(b).kind, kind);
    EXPECT_EQ(c().block(b).left, x);
    EXPECT_EQ(c().block(b).top, 400);
    EXPECT_EQ(w.state().tool, chart::kSelectTool);
    EXPECT_TRUE(w.toolAction(chart::kSelectTool)->isChecked());
    EXPECT_EQ(w.state().selectedBlocks(c()), std::vector<int>{b});
    x += 100;
  }
  EXPECT_EQ(c().blockCount(), 15);
}

TEST_F(Window, ConnectsInBothModesAndRefusesWhatTheRulesRefuse) {
  const int play = place(41, 300, 300);
  const chart::GELE& start = c().block(0);

  // Straight: from the exit's anchor to the port's anchor.
  w.setRightAngle(false);
  dragFrom(canvas(), exitOf(start, 0), portOf(c().block(play)));
  ASSERT_EQ(c().connectCount(), 1);
  EXPECT_EQ(c().connection(0).points,
            (chart::Polyline{start.exitAnchor(0), c().block(play).inputAnchor()}));
  EXPECT_EQ(c().exitTarget(0, 0), play);

  // A second connection from the same exit is not added.
  dragFrom(canvas(), exitOf(start, 0), portOf(c().block(play)));
  EXPECT_EQ(c().connectCount(), 1);

  // Right angle: the proposed route, ending on the port.
  w.setRightAngle(true);
  const int rec = place(51, 500, 500);
  const chart::GELE& p = c().block(play);
  const QPoint port = portOf(c().block(rec));
  const chart::Polyline want =
      chart::proposeRoute(p.exitAnchor(1), {port.x(), port.y()}, c().block(rec).inputAnchor());
  dragFrom(canvas(), exitOf(p, 1), port);
  ASSERT_EQ(c().connectCount(), 2);
  EXPECT_EQ(c().connection(1).points.front(), p.exitAnchor(1));
  EXPECT_EQ(c().connection(1).points.back(), c().block(rec).inputAnchor());
  chart::Polyline simplified = want;
  chart::simplify(simplified);
  EXPECT_TRUE(c().connection(1).points == want || c().connection(1).points == simplified);

  // The start block to itself: refused; over its own port the route is the fallback.
  w.chart().deleteConnect(0);
  press(canvas(), exitOf(c().block(0), 0));
  moveHeld(canvas(), portOf(c().block(0)));
  const QPoint own = portOf(c().block(0));
  const chart::TMYPoint a0 = c().block(0).exitAnchor(0);
  EXPECT_EQ(w.canvas().proposedRoute(own),
            (chart::Polyline{a0, {a0.x, own.y()}, {own.x(), own.y()}}));
  release(canvas(), own);
  EXPECT_EQ(c().connectFrom(0, 0), -1);

  // Any other block may lead to itself; a drop on a body is no connection.
  dragFrom(canvas(), exitOf(c().block(rec), 0), bodyOf(c().block(play)));
  EXPECT_EQ(c().connectFrom(rec, 0), -1);
  dragFrom(canvas(), exitOf(c().block(rec), 0), portOf(c().block(rec)));
  EXPECT_EQ(c().exitTarget(rec, 0), rec);
}

TEST_F(Window, MovesAGroupAndReanchorsItsConnections) {
  const int a = place(41, 300, 300);
  const int b = place(51, 500, 500);
  const int out = place(53, 900, 300);
  w.setRightAngle(true);
  dragFrom(canvas(), exitOf(c().block(a), 0), portOf(c().block(b)));
  dragFrom(canvas(), exitOf(c().block(b), 1), portOf(c().block(out)));
  ASSERT_EQ(c().connectCount(), 2);
  const chart::Polyline inner = c().connection(0).points;

  // Rubber band around a and b only.
  dragFrom(canvas(), {250, 250}, {650, 560});
  EXPECT_EQ(w.state().selectedBlocks(c()), (std::vector<int>{a, b}));

  // While the mouse is held only the feedback moves; the chart waits for the release.
  press(canvas(), bodyOf(c().block(a)));
  moveHeld(canvas(), bodyOf(c().block(a)) + QPoint(25, 25));
  EXPECT_EQ(w.canvas().drag(), Canvas::Drag::kMove);
  EXPECT_EQ(c().block(a).left, 300);
  release(canvas(), bodyOf(c().block(a)));  // dropped where it was: no change
  EXPECT_EQ(c().block(a).left, 300);
  EXPECT_EQ(w.canvas().drag(), Canvas::Drag::kNone);

  // Drag a by (+40, +30): both move, the inner connection moves whole, the
  // one to `out` keeps its far end.
  const QPoint from = bodyOf(c().block(a));
  dragFrom(canvas(), from, from + QPoint(40, 30));
  EXPECT_EQ(c().block(a).left, 340);
  EXPECT_EQ(c().block(a).top, 330);
  EXPECT_EQ(c().block(b).left, 540);
  EXPECT_EQ(c().block(b).top, 530);
  EXPECT_EQ(w.statusText(0), "x-340,y-330");
  const chart::Polyline& moved = c().connection(0).points;
  ASSERT_EQ(moved.size(), inner.size());
  for (size_t i = 0; i < moved.size(); ++i)
    EXPECT_EQ(moved[i], (TMYPoint{inner[i].x + 40, inner[i].y + 30})) << i;
  const chart::Polyline& leaving = c().connection(1).points;
  EXPECT_EQ(leaving.front(), c().block(b).exitAnchor(1));
  EXPECT_EQ(leaving.back(), c().block(out).inputAnchor());
  // A second drag of the same group merges with the first: one undo step
  // takes both back.
  const QPoint again = bodyOf(c().block(b));
  dragFrom(canvas(), again, again + QPoint(-10, 5));
  EXPECT_EQ(c().block(a).left, 330);
  EXPECT_EQ(c().block(b).top, 535);
  w.undo();
  EXPECT_EQ(c().block(a).left, 300);
  EXPECT_EQ(c().block(b).left, 500);
  EXPECT_EQ(c().connection(0).points, inner);
  w.undo();  // the step before the moves: the second connection
  EXPECT_EQ(c().connectCount(), 1);
}

TEST_F(Window, RubberBandSelectsOnlyWholeBlocks) {
  const int a = place(41, 300, 300);
  const int b = place(41, 400, 300);
  dragFrom(canvas(), {290, 290}, {390, 330});  // a whole, b's left part
  EXPECT_EQ(w.state().selectedBlocks(c()), std::vector<int>{a});
  dragFrom(canvas(), {390, 330}, {290, 290});  // any corner order
  EXPECT_EQ(w.state().selectedBlocks(c()), std::vector<int>{a});
  dragFrom(canvas(), {301, 290}, {500, 330});  // a's left edge on the band
  EXPECT_EQ(w.state().selectedBlocks(c()), std::vector<int>{b});
  click(canvas(), {2000, 2000});
  EXPECT_TRUE(w.state().selectedBlocks(c()).empty());
}

TEST_F(Window, TheCanvasScrollsAlongWithADrag) {
  QScrollBar* h = w.scrollArea().horizontalScrollBar();
  QScrollBar* v = w.scrollArea().verticalScrollBar();
  ASSERT_EQ(h->value(), 0);
  press(canvas(), {50, 50});
  moveHeld(canvas(), {1800, 1500});
  EXPECT_GT(h->value(), 0);
  EXPECT_GT(v->value(), 0);
  release(canvas(), {1800, 1500});
}

// Every handle of a six-point route, dragged: the release gives what the
// geometry's reshape gives, the ends stay, and the connection stays selected.
TEST_F(Window, ReshapesByEveryHandle) {
  const int from = place(41, 100, 600);
  const int to = place(51, 500, 200);
  w.setRightAngle(true);
  dragFrom(canvas(), exitOf(c().block(from), 0), portOf(c().block(to)));
  ASSERT_EQ(c().connectCount(), 1);
  ASSERT_EQ(c().connection(0).points.size(), 6u);
  const chart::Polyline original = c().connection(0).points;

  std::set<int> seen;
  for (int pass = 0; pass < 2; ++pass)
    for (size_t i = 0; i < original.size(); ++i) {
      // Points first, then segment middles.
      if (pass == 1 && i + 1 >= original.size()) break;
      w.undo();  // back to the original route, when a reshape happened
      if (c().connection(0).points != original) w.redo();
      ASSERT_EQ(c().connection(0).points, original);
      const TMYPoint p = pass == 0 ? original[i]
                                   : TMYPoint{(original[i].x + original[i + 1].x) / 2,
                                              (original[i].y + original[i + 1].y) / 2};
      // Select it by a click on its second segment's middle, then classify.
      click(canvas(), {original[2].x + (original[3].x - original[2].x) / 2,
                       original[2].y + (original[3].y - original[2].y) / 2});
      ASSERT_EQ(w.state().selectedConnection(c()), 0);
      const chart::Hover h = w.state().hoverAt(c(), p.x, p.y);
      SCOPED_TRACE(h.code);
      seen.insert(h.code);
      const QPoint to(p.x + 23, p.y + 17);
      const auto hit = chart::handleAt(original, p.x, p.y);
      ASSERT_TRUE(hit);
      dragFrom(canvas(), {p.x, p.y}, to);
      const chart::Polyline& now = c().connection(0).points;
      EXPECT_EQ(now.front(), original.front());
      EXPECT_EQ(now.back(), original.back());
      if (h.code == 3 || h.code == 4) {
        EXPECT_EQ(now, original);  // the ends do not move
      } else {
        EXPECT_EQ(now, chart::reshape(original, *hit, {to.x(), to.y()}));
        EXPECT_NE(now, original);
      }
      // A press on an end starts a rubber band, which deselects.
      EXPECT_EQ(w.state().selectedConnection(c()), h.code == 3 || h.code == 4 ? -1 : 0);
    }
  EXPECT_EQ(seen, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(Window, DeleteKeySelectAllUndoAndRedo) {
  const std::string empty = src();
  const int a = place(41, 300, 300);
  dragFrom(canvas(), exitOf(c().block(0), 0), portOf(c().block(a)));
  const std::string drawn = src();

  // The connection, selected by a click, goes with Delete (a click on the
  // empty canvas first, or the placed block, still selected, would go too).
  click(canvas(), {2000, 2000});
  const chart::Polyline pts = c().connection(0).points;
  click(canvas(), {(pts[0].x + pts[1].x) / 2, (pts[0].y + pts[1].y) / 2});
  ASSERT_EQ(w.state().selectedConnection(c()), 0);
  key(Qt::Key_Delete);
  EXPECT_EQ(c().connectCount(), 0);
  EXPECT_EQ(c().exitTarget(0, 0), chart::NO_TARGET);

  // Ctrl+A and Delete: every block but the start, which says so.
  key(Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(w.state().selectedCount(c()), 2);
  key(Qt::Key_Delete);
  EXPECT_EQ(c().blockCount(), 1);
  EXPECT_EQ(q.messages, QStringList({"IVR流程编辑器|开始命令不能够删除!"}));

  // Undo and redo step by step, with the file bytes restored each time.
  key(Qt::Key_Z, Qt::ControlModifier);
  key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(src(), drawn);
  key(Qt::Key_Z, Qt::ControlModifier);
  key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(src(), empty);
  EXPECT_FALSE(c().modified());
  EXPECT_EQ(w.windowTitle(), "IVR流程编辑器-未命名");
  for (int i = 0; i < 2; ++i)
    key(Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(src(), drawn);
  EXPECT_EQ(w.windowTitle(), "IVR流程编辑器-未命名*");
}

TEST_F(Window, PopupCommandsActOnWhatTheClickHit) {
  const int a = place(41, 300, 300);
  dragFrom(canvas(), exitOf(c().block(0), 0), portOf(c().block(a)));
  // "说明": the note dialog; the note becomes the block's hint.
  q.dialog = [](QDialog& d) {
    auto& hint = dynamic_cast<Tfrmhint&>(d);
    EXPECT_EQ(hint.windowTitle(), "注释");
    hint.editor()->setPlainText("欢迎词");
    return int(QDialog::Accepted);
  };
  w.canvas().popupCommand(Canvas::Popup::kNote, bodyOf(c().block(a)));
  EXPECT_EQ(c().block(a).note, platform::utf8ToGbk("欢迎词"));
  EXPECT_EQ(w.canvas().hintAt(bodyOf(c().block(a))), "欢迎词");
  // "删除" on the connection, then on the block.
  const chart::Polyline pts = c().connection(0).points;
  w.canvas().popupCommand(Canvas::Popup::kDelete,
                          {(pts[0].x + pts[1].x) / 2, (pts[0].y + pts[1].y) / 2});
  EXPECT_EQ(c().connectCount(), 0);
  w.canvas().popupCommand(Canvas::Popup::kDelete, bodyOf(c().block(a)));
  EXPECT_EQ(c().blockCount(), 1);
}

TEST_F(Window, HintsAndCursors) {
  QTemporaryDir dir;
  QFile ini(dir.filePath("hint.ini"));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write("[41]\n0=播放结束\n2=挂机\n");
  ini.close();
  w.setStartDir(dir.path());
  const int play = place(41, 300, 300);
  const int script = place(48, 600, 300);
  c().setScript(script, "gotoout yes", {"yes"});
  EXPECT_EQ(w.canvas().hintAt(exitOf(c().block(play), 0)), "播放结束");
  EXPECT_EQ(w.canvas().hintAt(exitOf(c().block(play), 2)), "挂机");
  EXPECT_EQ(w.canvas().hintAt(exitOf(c().block(play), 1)), "");
  EXPECT_EQ(w.canvas().hintAt(exitOf(c().block(script), 0)), "缺省出口");
  EXPECT_EQ(w.canvas().hintAt(exitOf(c().block(script), 1)), "挂机出口");
  EXPECT_EQ(w.canvas().hintAt(exitOf(c().block(script), 2)), "yes");

  EXPECT_EQ(w.canvas().cursorNameAt(bodyOf(c().block(play))), "hand");
  hover(canvas(), bodyOf(c().block(play)));
  EXPECT_EQ(w.canvas().cursor().shape(), Qt::PointingHandCursor);
  hover(canvas(), exitOf(c().block(play), 1));
  EXPECT_EQ(w.canvas().cursor().shape(), Qt::BitmapCursor);
  hover(canvas(), {2000, 2000});
  EXPECT_EQ(w.canvas().cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(w.canvas().cursorNameAt(exitOf(c().block(play), 0)), "angleline");
  EXPECT_EQ(w.canvas().cursorNameAt(portOf(c().block(play))), "angleline");
  w.setRightAngle(false);
  EXPECT_EQ(w.canvas().cursorNameAt(portOf(c().block(play))), "line");
  EXPECT_EQ(w.canvas().cursorNameAt({2000, 2000}), "");
  dragFrom(canvas(), exitOf(c().block(0), 0), portOf(c().block(play)));
  const chart::Polyline pts = c().connection(0).points;  // straight, slanted
  const QPoint mid((pts[0].x + pts[1].x) / 2, (pts[0].y + pts[1].y) / 2);
  EXPECT_EQ(w.canvas().cursorNameAt(mid), "selline");
  hover(canvas(), mid);
  EXPECT_EQ(w.statusText(1), QString("x:%1;y%2").arg(mid.x()).arg(mid.y()));
}

TEST(ExitHint, AScriptExitNoLongerNamedSaysSo) {
  chart::GCMD_DTC_SCRIPT s;
  s.mergeExit("yes");
  EXPECT_EQ(exitHint(s, 2, "/nonexistent/hint.ini"), "yes");
  s.exits[2].used = 0;
  EXPECT_EQ(exitHint(s, 2, "/nonexistent/hint.ini"), "yes出口已删除");
  EXPECT_EQ(exitHint(s, 0, "/nonexistent/hint.ini"), "缺省出口");
  EXPECT_EQ(exitHint(s, 3, "/nonexistent/hint.ini"), "");
  // A fixed kind without a hint file has no hint.
  EXPECT_EQ(exitHint(*chart::createBlock(41), 0, "/nonexistent/hint.ini"), "");
}

TEST_F(Window, AScriptExitGoneFromTheScriptLeavesNoHint) {
  const int s = place(48, 300, 300);
  c().setScript(s, "gotoout yes", {"yes"});
  EXPECT_EQ(w.canvas().hintAt(exitOf(c().block(s), 2)), "yes");
  c().setScript(s, "", {});  // the exit goes with the name
  EXPECT_EQ(c().block(s).exitCount(), 2);
  EXPECT_EQ(w.canvas().hintAt(exitOf(c().block(s), 2)), "");
}

// ---- document commands

class Documents : public Window {
 protected:
  QTemporaryDir dir;
  QString path(const char* name) { return dir.filePath(name); }
};

TEST_F(Documents, CloseAsksAndFollowsTheAnswer) {
  place(41, 300, 300);
  // Cancel: the window stays.
  q.answers = {Answer::kCancel};
  EXPECT_FALSE(w.close());
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(q.asked, QStringList({"IVR流程编辑器|是否保存对 未命名 的修改？"}));
  // Yes on a never-saved chart asks for a name; a cancelled dialog cancels.
  q.answers = {Answer::kYes};
  EXPECT_FALSE(w.close());
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(q.fileDialogs, QStringList({kProjectFilter}));
  // Yes with a name: saved there, then closed.
  q.answers = {Answer::kYes};
  q.names = {path("flow")};
  EXPECT_TRUE(w.close());
  EXPECT_TRUE(QFile::exists(path("flow.src")));
  EXPECT_EQ(c().fileName(), path("flow.src").toStdString());
  EXPECT_FALSE(c().modified());
}

TEST_F(Documents, NoClosesWithoutSaving) {
  place(41, 300, 300);
  q.answers = {Answer::kNo};
  EXPECT_TRUE(w.close());
  EXPECT_TRUE(q.fileDialogs.isEmpty());
}

TEST_F(Documents, NewAndOpenAskFirst) {
  place(41, 300, 300);
  q.answers = {Answer::kCancel};
  EXPECT_FALSE(w.fileNew());
  EXPECT_EQ(c().blockCount(), 2);
  q.answers = {Answer::kNo};
  EXPECT_TRUE(w.fileNew());
  EXPECT_EQ(c().blockCount(), 1);
  EXPECT_EQ(w.windowTitle(), "IVR流程编辑器-未命名");

  // Open the sample: caption with its name, not modified, nothing asked.
  const QString sample =
      QString::fromLocal8Bit(std::getenv("OLVARO_SOURCE_DIR")) + "/samples/flows/sample.src";
  q.asked.clear();
  q.names = {sample};
  EXPECT_TRUE(w.fileOpen());
  EXPECT_TRUE(q.asked.isEmpty());
  EXPECT_GT(c().blockCount(), 5);
  EXPECT_EQ(w.windowTitle(), "IVR流程编辑器-" + sample);
  EXPECT_TRUE(w.action("saveas")->isEnabled());
  EXPECT_FALSE(w.action("save")->isEnabled());
  // A file that is not a project says so and leaves an empty chart.
  QFile bad(path("bad.src"));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("1001xxxx");
  bad.close();
  q.names = {path("bad.src")};
  w.fileOpen();
  ASSERT_FALSE(q.messages.isEmpty());
  EXPECT_TRUE(q.messages.last().endsWith(path("bad.src") + "文件格式错误"));
}

TEST_F(Documents, SaveAndSaveAs) {
  place(41, 300, 300);
  q.names = {path("a.src")};
  EXPECT_TRUE(w.fileSave());
  EXPECT_EQ(w.windowTitle(), "IVR流程编辑器-" + path("a.src"));
  EXPECT_FALSE(w.action("save")->isEnabled());
  QFile f(path("a.src"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll().toStdString(), src());
  // Save as: a copy under another name; the project keeps its own.
  q.names = {path("b.src")};
  EXPECT_TRUE(w.fileSaveAs());
  EXPECT_TRUE(QFile::exists(path("b.src")));
  EXPECT_EQ(w.windowTitle(), "IVR流程编辑器-" + path("b.src"));
  EXPECT_EQ(c().fileName(), path("a.src").toStdString());
  // A cancelled save dialog saves nothing.
  EXPECT_FALSE(w.fileSaveAs());
}

TEST_F(Documents, CompilesNextToTheProject) {
  place(41, 300, 300);
  q.names = {path("flow.src")};
  ASSERT_TRUE(w.fileSave());
  place(51, 500, 300);
  key(Qt::Key_F7);
  const QString cpl = path("flow.cpl");
  ASSERT_TRUE(QFile::exists(cpl));
  EXPECT_EQ(w.statusText(1), cpl + "文件编译完成");
  EXPECT_EQ(q.messages, QStringList({"IVR流程编辑器|编译成功!"}));
  // The project was saved with the compile.
  EXPECT_FALSE(c().modified());
  QFile f(cpl);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.read(4), "1001");
}

TEST_F(Documents, CompilingANeverSavedChartNamesTheProjectAfterIt) {
  place(41, 300, 300);
  EXPECT_FALSE(w.compile());  // cancelled dialog: nothing
  EXPECT_EQ(q.fileDialogs, QStringList({kCompiledFilter}));
  q.names = {path("x.cpl")};
  EXPECT_TRUE(w.compile());
  EXPECT_TRUE(QFile::exists(path("x.cpl")));
  EXPECT_TRUE(QFile::exists(path("x.src")));
  EXPECT_EQ(w.windowTitle(), "IVR流程编辑器-" + path("x.src"));
  EXPECT_TRUE(q.messages.isEmpty());
}

TEST_F(Documents, AFailingScriptIsReportedInTheStatusBar) {
  const int s = place(48, 300, 300);
  c().setScript(s, "set i1", {});
  q.names = {path("f.src")};
  ASSERT_TRUE(w.fileSave());
  EXPECT_FALSE(w.compile());
  EXPECT_EQ(w.statusText(1), "编译错误,脚本命令1错误");
  ASSERT_EQ(q.messages.size(), 1);
  EXPECT_TRUE(q.messages[0].startsWith("错误|[0行;"));
}

// The findings dock, driven through the menu key and the list's own mouse
// events.
class Findings : public Documents {
 protected:
  // The dock's rows, columns joined by "|".
  QStringList rows() {
    QStringList out;
    QTreeWidget& list = w.findingsList();
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
      QStringList cells;
      for (int col = 0; col < list.columnCount(); ++col)
        cells << list.topLevelItem(i)->text(col);
      out << cells.join("|");
    }
    return out;
  }
  void doubleClickRow(int row) {
    QTreeWidget& list = w.findingsList();
    QCoreApplication::processEvents();  // the dock just shown gets its size
    const QRect r = list.visualItemRect(list.topLevelItem(row));
    ASSERT_TRUE(r.isValid());
    doubleClick(list.viewport(), r.center());
  }
  // A play-voice block with its dialog confirmed, playing `file`.
  int play(int x, int y, const std::string& file) {
    const int b = c().addBlock(cpl::kKindPlayVoice, x, y);
    EXPECT_TRUE(chart::dialogs::acceptForBlock(c(), b, {file, "0", "#", "$chan"}).ok);
    return b;
  }
};

TEST_F(Findings, TheCheckListsExactlyTheChartsFindings) {
  EXPECT_FALSE(w.findingsDock().isVisible());  // nothing checked yet
  const int script = c().addBlock(cpl::kKindScript, 300, 200);
  c().setScript(script, "set i1", {});
  ASSERT_GE(c().connect(0, 0, script, {}), 0);
  const int lone = c().addBlock(cpl::kKindRecord, 600, 200);
  c().setNote(lone, platform::utf8ToGbk("留言"));
  key(Qt::Key_F8);
  EXPECT_TRUE(w.findingsDock().isVisible());
  EXPECT_EQ(rows(), QStringList({
                        "错误|1|脚本命令||脚本编译错误:[0行;7列]错误的ID\"EOL\",缺少逗号",
                        "错误|2|录音|留言|参数未设置(属性对话框从未确定)",
                        "警告|2|录音|留言|从开始命令无法到达",
                    }));
  EXPECT_EQ(w.findingsDock().windowTitle(), "检查结果 - 检查完成: 2个错误, 1个警告");
  // Errors and warnings differ by more than their word.
  QTreeWidget& list = w.findingsList();
  EXPECT_FALSE(list.topLevelItem(0)->icon(0).isNull());
  EXPECT_EQ(list.topLevelItem(0)->foreground(0), list.topLevelItem(1)->foreground(0));
  EXPECT_NE(list.topLevelItem(0)->foreground(0), list.topLevelItem(2)->foreground(0));
  EXPECT_EQ(list.topLevelItem(0)->icon(0).cacheKey(), list.topLevelItem(1)->icon(0).cacheKey());
  EXPECT_NE(list.topLevelItem(0)->icon(0).cacheKey(), list.topLevelItem(2)->icon(0).cacheKey());
  // The same list as the command line's.
  ASSERT_EQ(w.findings(), chart::checkFlow(c()));
}

TEST_F(Findings, VoiceFilesAreCheckedInTheVoiceFolderBesideTheProject) {
  const int hello = play(300, 200, "hello.wav");
  const int gone = play(300, 300, "gone.wav");
  ASSERT_GE(c().connect(0, 0, hello, {}), 0);
  ASSERT_GE(c().connect(hello, 0, gone, {}), 0);
  ASSERT_GE(c().connect(hello, 1, gone, {}), 0);
  q.names = {path("flow.src")};
  ASSERT_TRUE(w.fileSave());
  // No voice folder: the files are not looked for.
  key(Qt::Key_F8);
  EXPECT_EQ(rows(), QStringList({"没有发现问题||||"}));
  EXPECT_FALSE(w.showFinding(0));  // the row names no block
  ASSERT_TRUE(QDir(dir.path()).mkdir("voice"));
  QFile(path("voice/hello.wav")).open(QIODevice::WriteOnly);
  key(Qt::Key_F8);
  ASSERT_EQ(w.findings().size(), 1u);
  EXPECT_EQ(w.findings()[0].what, chart::FindingKind::kMissingVoice);
  EXPECT_EQ(w.findings()[0].block, gone);
}

TEST_F(Findings, DoubleClickSelectsTheBlockAndScrollsToIt) {
  const int near = c().addBlock(cpl::kKindRecord, 300, 200);
  const int far = c().addBlock(cpl::kKindRecord, 3000, 4000);
  w.state().select(c(), near);
  key(Qt::Key_F8);
  // 开始 leads nowhere; each record block: unreachable, parameters not set.
  ASSERT_EQ(w.findingsList().topLevelItemCount(), 5);
  EXPECT_EQ(w.findingsList().topLevelItem(3)->text(1), QString::number(far));
  doubleClickRow(3);
  EXPECT_EQ(w.state().selectedBlocks(c()), std::vector<int>{far});
  EXPECT_EQ(w.state().current(c()), far);
  // The block lies inside the visible part of the canvas.
  const QRect seen(-w.canvas().pos(), w.scrollArea().viewport()->size());
  EXPECT_TRUE(seen.contains(bodyOf(c().block(far)))) << seen.x() << "," << seen.y();

  doubleClickRow(1);
  EXPECT_EQ(w.state().selectedBlocks(c()), std::vector<int>{near});
  EXPECT_TRUE(QRect(-w.canvas().pos(), w.scrollArea().viewport()->size())
                  .contains(bodyOf(c().block(near))));

  // A deletion renumbers the blocks: the rows still find theirs, and a row
  // whose block went selects nothing.
  w.deleteSelection();
  EXPECT_FALSE(w.showFinding(1));
  doubleClickRow(3);
  EXPECT_EQ(w.state().selectedBlocks(c()), std::vector<int>{far - 1});
}

TEST_F(Findings, AnEditAndACheckOrACompileRefreshTheList) {
  const int a = play(300, 200, "a.wav");
  key(Qt::Key_F8);
  EXPECT_EQ(rows(), QStringList({"错误|0|开始||开始命令的出口未连接,来电接通后即被挂断",
                                 "警告|1|播放语音||从开始命令无法到达"}));
  // The edit alone leaves the list as it was; the check follows it.
  ASSERT_GE(c().connect(0, 0, a, {}), 0);
  EXPECT_EQ(w.findingsList().topLevelItemCount(), 2);
  key(Qt::Key_F8);
  EXPECT_EQ(rows(), QStringList({"没有发现问题||||"}));
  EXPECT_EQ(w.findingsDock().windowTitle(), "检查结果 - 检查完成: 0个错误, 0个警告");

  // A compile checks too.
  const int lone = c().addBlock(cpl::kKindRecord, 600, 200);
  q.names = {path("flow.src")};
  ASSERT_TRUE(w.fileSave());
  key(Qt::Key_F7);
  ASSERT_TRUE(QFile::exists(path("flow.cpl")));
  ASSERT_EQ(w.findings().size(), 2u);
  EXPECT_EQ(w.findings()[0].block, lone);

  // Another chart: the old rows would name its blocks.
  q.answers = {Answer::kNo};
  ASSERT_TRUE(w.fileNew());
  EXPECT_EQ(w.findingsList().topLevelItemCount(), 0);
  EXPECT_FALSE(w.showFinding(0));
}

}  // namespace
}  // namespace designer_ui

namespace designer_ui {
namespace {

// The shipped hint.ini names every exit of every fixed kind.
TEST(HintIni, NamesEveryExitOfEveryKind) {
  const std::string ini = std::string(std::getenv("OLVARO_SOURCE_DIR")) + "/designer/hint.ini";
  for (const cpl::KindInfo& k : cpl::kKinds) {
    auto b = chart::createBlock(k.kind);
    if (!b || b->isScript()) continue;
    for (int e = 0; e < b->exitCount(); ++e)
      EXPECT_FALSE(
          platform::iniReadString(ini, std::to_string(k.kind), std::to_string(e), "").empty())
          << "kind " << k.kind << " exit " << e;
  }
}

}  // namespace
}  // namespace designer_ui
