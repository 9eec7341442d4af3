#include "designer/ui/canvas.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QToolTip>
#include <cmath>

#include "designer/ui/block_images.h"
#include "designer/ui/main_window.h"
#include "platform/gbk.h"
#include "platform/ini.h"

namespace designer_ui {
namespace {

QPoint qp(chart::TMYPoint p) {
  return {p.x, p.y};
}

void drawConnection(QPainter& g, const chart::Polyline& pts, bool selected) {
  if (pts.empty()) return;
  const QColor ink = selected ? QColor(Qt::blue) : QColor(Qt::black);
  g.setPen(QPen(ink, selected ? 2 : 1));
  g.setBrush(Qt::NoBrush);
  QPolygon line;
  for (const chart::TMYPoint& p : pts)
    line << qp(p);
  g.drawPolyline(line);
  g.drawEllipse(qp(pts.front()), 2, 2);
  if (pts.size() >= 2) {
    // Two 12-pixel strokes at 30 degrees either side of the reversed last segment.
    const QPointF tip = qp(pts.back());
    const QPointF from = qp(pts[pts.size() - 2]);
    const double back = std::atan2(from.y() - tip.y(), from.x() - tip.x());
    g.setPen(QPen(ink, 2));
    for (double side : {-1.0, 1.0}) {
      const double a = back + side * M_PI / 6;
      g.drawLine(tip, tip + QPointF(12 * std::cos(a), 12 * std::sin(a)));
    }
  }
  if (!selected) return;
  g.setPen(Qt::black);
  const int n = static_cast<int>(pts.size());
  for (int i = 0; i < n; ++i) {
    QColor c = Qt::blue;
    if (i == 0 || i == n - 1)
      c = Qt::red;
    else if (i == 1 || i == n - 2)
      c = Qt::green;
    g.fillRect(pts[i].x - 3, pts[i].y - 3, 6, 6, c);
  }
  g.setBrush(Qt::yellow);
  for (int i = 0; i + 1 < n; ++i)
    g.drawEllipse(QPointF((pts[i].x + pts[i + 1].x) / 2.0, (pts[i].y + pts[i + 1].y) / 2.0), 3, 3);
  g.setBrush(Qt::NoBrush);
}

void drawBlock(QPainter& g, const chart::GELE& b, bool selected) {
  g.drawPixmap(b.left, b.top, blockImage(QString::fromStdString(b.image)));
  g.drawPixmap(b.left, b.top - 11, blockImage(QString::fromStdString(b.inputImage)));
  for (int i = 0; i < b.exitCount(); ++i)
    g.drawPixmap(b.left + chart::kExitPitch * i, b.top + 20,
                 blockImage(QString::fromStdString(b.exitImages[i])));
  if (selected) {
    for (QPoint c : {QPoint(b.left, b.top), QPoint(b.left + 80, b.top), QPoint(b.left, b.top + 20),
                     QPoint(b.left + 80, b.top + 20)})
      g.fillRect(c.x() - 3, c.y() - 3, 6, 6, Qt::black);
  }
  if (!b.enabled) {
    g.setPen(QPen(Qt::red, 2));
    g.drawLine(b.left + 60, b.top, b.left + 80, b.top + 20);
    g.drawLine(b.left + 80, b.top, b.left + 60, b.top + 20);
  }
}

QPen dotted() {
  return QPen(Qt::white, 1, Qt::DotLine);
}

}  // namespace

Canvas::Canvas(Tfrmmain& window) : QWidget(&window), w_(window) {
  setObjectName("canvas");
  setFixedSize(chart::kCanvasSize, chart::kCanvasSize);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setFont(chineseFont(12));
}

chart::Chart& Canvas::chart() const {
  return w_.chart();
}
chart::CanvasState& Canvas::state() const {
  return w_.state();
}

void Canvas::paintEvent(QPaintEvent* e) {
  QPainter g(this);
  g.setClipRect(e->rect());
  const chart::Chart& c = chart();
  const uint32_t sel = state().selectedConnectionId();
  for (const chart::TConnect& k : c.connections())
    drawConnection(g, k.points, k.id == sel);
  for (int i = 0; i < c.blockCount(); ++i)
    drawBlock(g, c.block(i), state().isSelected(c, i));
  drawFeedback(g);
}

chart::Polyline Canvas::proposedRoute(QPoint m) const {
  const chart::TMYPoint mouse{m.x(), m.y()};
  std::optional<chart::TMYPoint> port;
  const int t = chart().findBlock(m.x(), m.y());
  chart::TMYPoint a;
  if (t >= 0 && t != source_ && chart().block(t).hitTest(m.x(), m.y(), &a) == chart::kInputPort)
    port = a;
  if (!w_.rightAngle()) return {anchor_, port ? *port : mouse};
  return chart::proposeRoute(anchor_, mouse, port);
}

// Drawn inverting what lies under it, so that it shows on any background,
// block or line.
void Canvas::drawFeedback(QPainter& g) {
  g.setCompositionMode(QPainter::CompositionMode_Difference);
  g.setPen(dotted());
  g.setBrush(Qt::NoBrush);
  switch (drag_) {
    case Drag::kConnect: {
      QPolygon line;
      for (const chart::TMYPoint& p : proposedRoute(mouse_))
        line << qp(p);
      g.drawPolyline(line);
      break;
    }
    case Drag::kMove: {
      const int cur = state().current(chart());
      if (cur < 0) break;
      const QPoint corner = mouse_ + offset_;
      const QPoint d = corner - QPoint(chart().block(cur).left, chart().block(cur).top);
      for (int b : state().selectedBlocks(chart()))
        g.drawRect(chart().block(b).left + d.x(), chart().block(b).top + d.y(), 80, 20);
      break;
    }
    case Drag::kRubber:
      g.drawRect(QRect(press_, mouse_).normalized());
      break;
    case Drag::kReshape: {
      const int k = state().selectedConnection(chart());
      if (k < 0) break;
      QPolygon line;
      for (const chart::TMYPoint& p :
           chart::reshape(chart().connection(k).points, handle_, {mouse_.x(), mouse_.y()}))
        line << qp(p);
      g.drawPolyline(line);
      break;
    }
    case Drag::kNone:
      break;
  }
}

void Canvas::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  setFocus();
  const QPoint m = e->position().toPoint();
  press_ = mouse_ = m;
  drag_ = Drag::kNone;
  chart::CanvasState& s = state();
  chart::Chart& c = chart();
  if (s.tool != chart::kSelectTool) return;  // the release places the block
  const chart::Hover h = s.hoverAt(c, m.x(), m.y());
  switch (h.code) {
    case 10:
      s.deselectConnection();
      source_ = h.block;
      exit_ = h.index;
      anchor_ = c.block(h.block).exitAnchor(h.index);
      drag_ = Drag::kConnect;
      break;
    case 8: {
      s.deselectConnection();
      const int n = s.selectedCount(c);
      if (n == 1 || (n > 1 && !s.isSelected(c, h.block))) s.deselectAll();
      s.select(c, h.block);
      s.setCurrent(c, h.block);
      offset_ = QPoint(c.block(h.block).left, c.block(h.block).top) - m;
      drag_ = Drag::kMove;
      break;
    }
    case 11:
      s.selectConnection(c, h.index);
      break;
    case 0:
    case 1:
    case 2:
    case 5:
    case 6:
    case 7:
      if (auto hit = chart::handleAt(c.connection(h.index).points, m.x(), m.y())) {
        handle_ = *hit;
        drag_ = Drag::kReshape;
      }
      break;
    default:
      s.deselectAll();
      s.deselectConnection();
      drag_ = Drag::kRubber;
      break;
  }
  update();
}

void Canvas::mouseMoveEvent(QMouseEvent* e) {
  const QPoint m = e->position().toPoint();
  w_.setStatusText(1, QStringLiteral("x:%1;y%2").arg(m.x()).arg(m.y()));
  if (drag_ != Drag::kNone && (e->buttons() & Qt::LeftButton)) {
    mouse_ = m;
    w_.scrollArea().ensureVisible(m.x(), m.y(), 20, 20);  // the canvas follows a drag
    update();
    return;
  }
  const QString cursor = cursorNameAt(m);
  if (cursor.isEmpty())
    unsetCursor();
  else if (cursor == "hand")
    setCursor(Qt::PointingHandCursor);
  else
    setCursor(canvasCursor(cursor));
}

void Canvas::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const QPoint m = e->position().toPoint();
  mouse_ = m;
  const Drag drag = std::exchange(drag_, Drag::kNone);
  if (std::exchange(ignoreRelease_, false)) {
    update();
    return;
  }
  chart::Chart& c = chart();
  chart::CanvasState& s = state();
  switch (drag) {
    case Drag::kReshape: {
      const int k = s.selectedConnection(c);
      if (k < 0) break;
      const chart::Polyline pts = chart::reshape(c.connection(k).points, handle_, {m.x(), m.y()});
      if (pts != c.connection(k).points) c.apply(chart::cmd::Reshape{k, pts});
      break;
    }
    case Drag::kRubber:
      s.selectInside(c, press_.x(), press_.y(), m.x(), m.y());
      break;
    case Drag::kConnect: {
      const int t = c.findBlock(m.x(), m.y());
      if (t < 0 || c.connectFrom(source_, exit_) >= 0) break;
      const int code = c.block(t).hitTest(m.x(), m.y());
      chart::dropConnection(c, source_, exit_, t, code, proposedRoute(m));
      break;
    }
    case Drag::kMove: {
      const int cur = s.current(c);
      if (cur < 0 || m.x() <= 0 || m.y() <= 0) break;
      const QPoint corner = m + offset_;
      const int dx = corner.x() - c.block(cur).left, dy = corner.y() - c.block(cur).top;
      if (dx != 0 || dy != 0) s.moveSelection(c, dx, dy);
      w_.setStatusText(0, QStringLiteral("x-%1,y-%2").arg(c.block(cur).left).arg(c.block(cur).top));
      break;
    }
    case Drag::kNone:
      break;
  }
  if (s.tool != chart::kSelectTool) {
    s.placeWithTool(c, m.x(), m.y());
    w_.toolUsed();
  }
  update();
}

void Canvas::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  ignoreRelease_ = true;
  drag_ = Drag::kNone;
  const QPoint m = e->position().toPoint();
  for (int i = 0; i < chart().blockCount(); ++i)
    if (chart().block(i).bodyContains(m.x(), m.y())) {
      w_.openProperties(i);
      break;
    }
  update();
}

void Canvas::contextMenuEvent(QContextMenuEvent* e) {
  QMenu menu(this);
  QAction* props = menu.addAction(QStringLiteral("属性"));
  QAction* del = menu.addAction(QStringLiteral("删除"));
  QAction* note = menu.addAction(QStringLiteral("说明"));
  const QPoint at = e->pos();
  const bool onBlock = chart().findBlock(at.x(), at.y()) >= 0;
  props->setEnabled(onBlock);
  note->setEnabled(onBlock);
  QAction* chosen = menu.exec(e->globalPos());
  if (chosen == props)
    popupCommand(Popup::kProperties, at);
  else if (chosen == del)
    popupCommand(Popup::kDelete, at);
  else if (chosen == note)
    popupCommand(Popup::kNote, at);
}

void Canvas::popupCommand(Popup which, QPoint at) {
  chart::Chart& c = chart();
  const int b = c.findBlock(at.x(), at.y());
  int k = -1;
  if (b < 0) {
    const chart::Hover h = state().hoverAt(c, at.x(), at.y());
    if (h.code == 11 || (h.code >= 0 && h.code <= 7)) k = h.index;
  }
  switch (which) {
    case Popup::kProperties:
      w_.openProperties(b);
      break;
    case Popup::kDelete:
      if (b >= 0)
        c.deleteBlocks({b});
      else if (k >= 0)
        c.deleteConnect(k);
      break;
    case Popup::kNote:
      w_.editNote(b);
      break;
  }
  update();
}

QString Canvas::cursorNameAt(QPoint at) const {
  const chart::Chart& c = chart();
  const chart::Hover h = state().hoverAt(c, at.x(), at.y());
  switch (h.code) {
    case 0:
    case 1:
    case 7:
      return "allmove";
    case 2:
    case 5:
    case 6: {
      const chart::Polyline& pts = c.connection(h.index).points;
      const auto hit = chart::handleAt(pts, at.x(), at.y());
      if (!hit || hit->index + 1 >= static_cast<int>(pts.size())) return "allmove";
      return chart::isHorizontal(pts[hit->index], pts[hit->index + 1]) ? "vmove" : "hmove";
    }
    case 11:
      return "selline";
    case 9:
    case 10:
      return w_.rightAngle() ? "angleline" : "line";
    case 8:
      return "hand";
    default:
      return {};
  }
}

QString exitHint(const chart::GELE& b, int exit, const QString& iniPath) {
  if (exit < 0 || exit >= b.exitCount()) return {};
  if (b.isScript()) {
    const chart::TMyOut& out = b.exits[exit];
    QString text = QString::fromStdString(platform::gbkToUtf8(out.name));
    if (!out.used) text += QStringLiteral("出口已删除");
    return text;
  }
  return QString::fromStdString(platform::iniReadString(
      iniPath.toStdString(), std::to_string(b.kind), std::to_string(exit), ""));
}

QString Canvas::hintAt(QPoint at) const {
  const chart::Chart& c = chart();
  const chart::Hover h = state().hoverAt(c, at.x(), at.y());
  if (h.code == 8) return QString::fromStdString(platform::gbkToUtf8(c.block(h.block).note));
  if (h.code != 10) return {};
  // The start-up directory's hint.ini; the one beside the program when it has none.
  QString path = w_.startDir() + "/hint.ini";
  if (!QFileInfo::exists(path)) path = QCoreApplication::applicationDirPath() + "/hint.ini";
  return exitHint(c.block(h.block), h.index, path);
}

bool Canvas::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(e);
    const QString text = hintAt(help->pos());
    if (text.isEmpty())
      QToolTip::hideText();
    else
      QToolTip::showText(help->globalPos(), text, this);
    return true;
  }
  return QWidget::event(e);
}

}  // namespace designer_ui
