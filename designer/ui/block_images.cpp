#include "designer/ui/block_images.h"

#include <QFont>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

#include "flowfile/cplformat.h"

namespace designer_ui {
namespace {

struct KindLook {
  int kind;
  const char* caption;
  QRgb fill;
};
// One hue per family: playback blue, keys green, calls orange, conference
// violet, the script grey, the start dark green.
constexpr KindLook kLooks[] = {
    {cpl::kKindStart, "开始", 0x2e7d32},          {cpl::kKindCallSeat, "呼叫座席", 0xef6c00},
    {cpl::kKindPlayVoice, "播放语音", 0x1565c0},  {cpl::kKindTalk, "通话中", 0xe65100},
    {cpl::kKindInput, "按键输入", 0x2e7d32},      {cpl::kKindDigit, "单键跳转", 0x388e3c},
    {cpl::kKindCreateMeet, "创建会议", 0x6a1b9a}, {cpl::kKindEnterMeet, "加入会议", 0x7b1fa2},
    {cpl::kKindMeetTalk, "会议中", 0x8e24aa},     {cpl::kKindScript, "脚本命令", 0x455a64},
    {cpl::kKindCallExt, "呼叫分机", 0xf57c00},    {cpl::kKindCallOut, "呼叫外线", 0xd84315},
    {cpl::kKindRecord, "录音", 0xc62828},         {cpl::kKindPlayTts, "组合放音", 0x0277bd},
    {cpl::kKindCycPlay, "循环放音", 0x01579b},
};

const KindLook* lookOf(int kind) {
  for (const KindLook& l : kLooks)
    if (l.kind == kind) return &l;
  return nullptr;
}

QPixmap blank(int w, int h) {
  QPixmap p(w, h);
  p.fill(Qt::transparent);
  return p;
}

QPixmap makeBlock(const KindLook& look) {
  QPixmap p = blank(80, 20);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  const QColor fill(look.fill);
  g.setPen(QPen(fill.darker(160), 1));
  g.setBrush(fill);
  g.drawRoundedRect(QRectF(0.5, 0.5, 79, 19), 4, 4);
  g.setPen(Qt::white);
  g.setFont(chineseFont(13));
  g.drawText(QRect(0, 0, 80, 20), Qt::AlignCenter, QString::fromUtf8(look.caption));
  return p;
}

// A tab above the block with an arrow pointing into it.
QPixmap makeInput() {
  QPixmap p = blank(12, 11);
  QPainter g(&p);
  g.setPen(QColor(0x33, 0x33, 0x33));
  g.setBrush(QColor(0xff, 0xf5, 0x9d));
  g.drawRect(0, 0, 11, 10);
  g.setBrush(QColor(0x33, 0x33, 0x33));
  g.drawPolygon(QPolygon({QPoint(3, 3), QPoint(8, 3), QPoint(5, 7)}));
  return p;
}

QPixmap makeExit(const QString& text, QColor fill, QColor ink) {
  QPixmap p = blank(12, 12);
  QPainter g(&p);
  g.setPen(QColor(0x33, 0x33, 0x33));
  g.setBrush(fill);
  g.drawRect(0, 0, 11, 11);
  g.setPen(ink);
  QFont f = chineseFont(text.size() > 1 && text[0].unicode() < 128 ? 8 : 10);
  f.setBold(text[0].unicode() < 128);
  g.setFont(f);
  g.drawText(QRect(0, 0, 12, 12), Qt::AlignCenter, text);
  return p;
}

void arrowHead(QPainter& g, QPointF tip, double angleDeg) {
  g.save();
  g.translate(tip);
  g.rotate(angleDeg);
  g.drawPolygon(QPolygonF({QPointF(0, 0), QPointF(-5, -4), QPointF(-5, 4)}));
  g.restore();
}

// 32 x 32 cursors with the hot spot in the middle, drawn white on black so
// they show on the sky-blue canvas and on the blocks alike.
QPixmap makeCursor(const QString& name) {
  QPixmap p = blank(32, 32);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  const QPointF c(16, 16);
  auto stroke = [&](auto draw) {
    g.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
    g.setBrush(Qt::white);
    draw();
    g.setPen(QPen(Qt::black, 1.6, Qt::SolidLine, Qt::RoundCap));
    g.setBrush(Qt::black);
    draw();
  };
  if (name == "allmove" || name == "hmove" || name == "vmove") {
    const bool h = name != "vmove", v = name != "hmove";
    stroke([&] {
      if (h) {
        g.drawLine(QPointF(5, 16), QPointF(27, 16));
        arrowHead(g, QPointF(28, 16), 0);
        arrowHead(g, QPointF(4, 16), 180);
      }
      if (v) {
        g.drawLine(QPointF(16, 5), QPointF(16, 27));
        arrowHead(g, QPointF(16, 28), 90);
        arrowHead(g, QPointF(16, 4), -90);
      }
    });
  } else if (name == "selline") {
    // The line under the mouse, and a pointer whose tip is the hot spot.
    stroke([&] {
      g.drawLine(QPointF(3, 16), QPointF(29, 16));
      g.drawPolygon(QPolygonF({QPointF(16, 16), QPointF(16, 29), QPointF(19, 26), QPointF(22, 31),
                               QPointF(24, 30), QPointF(21, 25), QPointF(25, 25)}));
    });
  } else {  // "line", "angleline": a pen and the kind of line it draws
    stroke([&] {
      g.drawEllipse(c, 2, 2);
      if (name == "angleline")
        g.drawPolyline(QPolygonF({QPointF(18, 18), QPointF(18, 28), QPointF(29, 28)}));
      else
        g.drawLine(QPointF(18, 18), QPointF(29, 29));
      g.drawLine(QPointF(16, 10), QPointF(16, 2));
      g.drawLine(QPointF(10, 16), QPointF(2, 16));
    });
  }
  return p;
}

}  // namespace

QFont chineseFont(int pixelSize) {
  QFont f(QStringLiteral("WenQuanYi Micro Hei"));
  f.setPixelSize(pixelSize);
  f.setStyleHint(QFont::SansSerif);
  return f;
}

QString kindCaption(int kind) {
  const KindLook* l = lookOf(kind);
  return l ? QString::fromUtf8(l->caption) : QString::number(kind);
}

const QPixmap& blockImage(const QString& name) {
  static QHash<QString, QPixmap> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return *it;
  QPixmap p;
  if (name == "CMDIN") {
    p = makeInput();
  } else if (name == "SCRIPT_DEFAULT") {
    p = makeExit(QStringLiteral("缺"), QColor(0xc8, 0xe6, 0xc9), Qt::black);
  } else if (name == "SCRIPT_HOOK") {
    p = makeExit(QStringLiteral("挂"), QColor(0xff, 0xcd, 0xd2), Qt::black);
  } else if (name == "SCRIPT_OUT") {
    p = makeExit(QStringLiteral("出"), QColor(0xff, 0xf9, 0xc4), Qt::black);
  } else if (name.startsWith("CMD")) {
    const QString rest = name.mid(3);
    const int us = rest.indexOf('_');
    const KindLook* look = lookOf(rest.left(us < 0 ? rest.size() : us).toInt());
    if (look && us < 0) {
      p = makeBlock(*look);
    } else if (look) {
      p = makeExit(rest.mid(us + 1), QColor(look->fill).lighter(170), Qt::black);
    }
  }
  if (p.isNull()) {
    p = blank(12, 12);
    p.fill(Qt::gray);
  }
  return *cache.insert(name, p);
}

QCursor canvasCursor(const QString& name) {
  return QCursor(makeCursor(name), 16, 16);
}

}  // namespace designer_ui
