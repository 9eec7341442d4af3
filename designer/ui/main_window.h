// Tfrmmain, the designer's main window: the menus "文件" and "项目", the
// block toolbar on the left, the upper toolbar with the drawing mode and the
// background colour, the 5000 x 5000 canvas in a scroll area and the status
// bar. It owns the chart (the document) and the canvas state; every edit
// goes to the chart as a command, and the window follows the chart as its
// observer (caption, enabled commands, repaint).
#pragma once

#include <QMainWindow>
#include <QString>
#include <memory>

#include "designer/chart/canvas_state.h"
#include "designer/chart/chart.h"
#include "designer/ui/questions.h"

class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QScrollArea;

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

  // The caption the window shows for the chart's name and modified flag.
  QString captionFor() const;

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void chartChanged(const chart::ChartChange& change) override;
  void refresh();
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
  QAction *new_, *open_, *save_, *saveAs_, *compile_, *straight_, *angled_;
  QLabel* panels_[2] = {};
  bool rightAngle_ = true;
  QString startDir_;
  QString captionOverride_;  // "另存为" shows the copy's name until the next change
};

}  // namespace designer_ui
