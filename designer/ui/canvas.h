// The paint box of the main window: draws the chart and what a drag shows
// on top of it, and turns mouse gestures into the chart's commands through
// the canvas state. Widget coordinates are chart coordinates.
#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

#include "designer/chart/canvas_state.h"
#include "designer/chart/geometry.h"

namespace designer_ui {

class Tfrmmain;

// The hint of exit `exit` of block `b`: a script exit's name, with
// "出口已删除" once the script no longer names it; for the other kinds the
// text that the INI file at `iniPath` gives under the kind (section) and
// the exit number (key).
QString exitHint(const chart::GELE& b, int exit, const QString& iniPath);

class Canvas : public QWidget {
 public:
  enum class Drag { kNone, kConnect, kMove, kRubber, kReshape };
  enum class Popup { kProperties, kDelete, kNote };  // "属性", "删除", "说明"

  explicit Canvas(Tfrmmain& window);

  // The hint shown when the mouse rests at `at` (empty: none).
  QString hintAt(QPoint at) const;
  // The cursor's name at `at`: one of the canvas cursors, "hand" over a
  // block's body, empty for the ordinary arrow.
  QString cursorNameAt(QPoint at) const;
  // A command of the popup menu opened at `at`.
  void popupCommand(Popup which, QPoint at);
  Drag drag() const { return drag_; }
  // The polyline a connection drag proposes with the mouse at `at`.
  chart::Polyline proposedRoute(QPoint at) const;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  bool event(QEvent* e) override;

 private:
  chart::Chart& chart() const;
  chart::CanvasState& state() const;
  void drawFeedback(class QPainter& g);

  Tfrmmain& w_;
  Drag drag_ = Drag::kNone;
  QPoint press_, mouse_;
  int source_ = -1, exit_ = -1;  // the exit a connection is drawn from
  chart::TMYPoint anchor_;
  QPoint offset_;  // current block's corner minus the press point
  chart::HandleHit handle_{};
  bool ignoreRelease_ = false;  // the release after a double click
};

}  // namespace designer_ui
