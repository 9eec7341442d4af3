// Tfrmmain, the designer's main window: the menus "文件" and "项目", the
// block toolbar on the left, the upper toolbar with the drawing mode and the
// background colour, the 5000 x 5000 canvas in a scroll area, the status
// bar and the dock "检查结果" with the findings of the flow check. It owns
// the chart (the document) and the canvas state; every edit goes to the
// chart as a command, and the window follows the chart as its observer
// (caption, enabled commands, repaint).
#pragma once

#include <QMainWindow>
#include <QString>
#include <memory>

#include "designer/chart/canvas_state.h"
#include "designer/chart/chart.h"
#include "designer/chart/flow_check.h"
#include "designer/ui/questions.h"

class QAction;
class QActionGroup;
class QComboBox;
class QDockWidget;
class QLabel;
class QScrollArea;
class QTreeWidget;
class QTreeWidgetItem;

namespace designer_ui {

class Canvas;

inline const QString kProjectFilter = QStringLiteral("IVR流程结构文件(*.src)");
inline const QString kCompiledFilter = QStringLiteral("IVR编译文件(*.cpl)");
// The background the canvas starts with.
inline const QColor kSkyBlue{0xa6, 0xca, 0xf0};

class Tfrmmain : public QMainWindow, private chart::ChartObserver {
 public:
  explicit Tfrmmain(QWidget* parent = nullptr);
  ~Tfrmmain() override;

  // Where questions, boxes, file dialogs and modal dialogs go; the window's
  // own boxes when never set. `q` must outlive the window or be replaced.
  void setQuestions(Questions* q) { questions_ = q ? q : boxes_.get(); }
  Questions& questions() { return *questions_; }

  chart::Chart& chart() { return chart_; }
  chart::CanvasState& state() { return state_; }
  Canvas& canvas() { return *canvas_; }
  QScrollArea& scrollArea() { return *scroll_; }

  // The document commands, as the menus run them. Each returns whether it
  // went through (false: cancelled, refused or failed).
  bool fileNew();
  bool fileOpen();
  bool openFile(const QString& path);  // no question asked
  bool fileSave();
  bool fileSaveAs();
  bool compile();
  // "检查流程": the findings of the chart as it is now, in the dock
  // "检查结果", which it shows. Compiling runs it too. Voice files are
  // checked against chart::voiceDirBeside(the project file).
  void checkFlow();
  // The unsaved-changes question: true when the command may go on.
  bool settleChanges();

  // The canvas commands.
  void openProperties(int block);  // the block dialog, or the script editor
  void editNote(int block);        // Tfrmhint
  void deleteSelection();
  void selectAll();
  void undo();
  void redo();

  bool rightAngle() const { return rightAngle_; }
  void setRightAngle(bool on);
  QColor background() const;
  void setBackground(const QColor& c);
  // The tool button of a block kind (chart::kSelectTool for the selection tool).
  QAction* toolAction(int kind) const;
  void toolChosen(int kind);  // the tool goes back to selection after a placement
  void toolUsed();

  QAction* action(const char* name) const;  // "new", "open", "save", "saveas", "compile"
  // Panel 0: the block's position after a move; panel 1: the mouse, the compile.
  QString statusText(int panel) const;
  void setStatusText(int panel, const QString& text);
  // The directory current at start-up, where "hint.ini" is read.
  const QString& startDir() const { return startDir_; }
  void setStartDir(const QString& dir) { startDir_ = dir; }

  // The dock of findings and its list: one row a finding (级别, 命令, 类型,
  // 说明, 问题), or one row "没有发现问题" after a check that found none.
  QDockWidget& findingsDock() { return *findingsDock_; }
  QTreeWidget& findingsList() { return *findingsList_; }
  const std::vector<chart::Finding>& findings() const { return findings_; }
  // Selects the block of the finding in `row` alone, makes it current and
  // scrolls it into view, as a double click on the row does. False when the
  // row names no block or the block has gone since the check.
  bool showFinding(int row);

  // The caption the window shows for the chart's name and modified flag.
  QString captionFor() const;

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void chartChanged(const chart::ChartChange& change) override;
  void refresh();
  void clearFindings();  // another chart: the old findings name its blocks
  bool saveTo(const QString& path);
  QString askSaveName(const QString& filter);

  chart::Chart chart_;
  chart::CanvasState state_;
  std::unique_ptr<Questions> boxes_;
  Questions* questions_;
  QuestionsSink sink_{questions_};
  Canvas* canvas_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  QComboBox* colours_ = nullptr;
  QActionGroup* tools_ = nullptr;
  QAction *new_, *open_, *save_, *saveAs_, *compile_, *check_, *straight_, *angled_;
  QDockWidget* findingsDock_ = nullptr;
  QTreeWidget* findingsList_ = nullptr;
  std::vector<chart::Finding> findings_;
  // The ids of the findings' blocks at the time of the check: an edit since
  // may have renumbered the blocks, but never reuses an id.
  std::vector<uint32_t> findingIds_;
  QLabel* panels_[2] = {};
  bool rightAngle_ = true;
  QString startDir_;
  QString captionOverride_;  // "另存为" shows the copy's name until the next change
};

}  // namespace designer_ui
