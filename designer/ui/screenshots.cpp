// Writes pictures of the designer for people to look at (not compared by
// pixels): designer.png with the sample project, designer_dialog.png with a
// play-voice dialog over it, designer_script.png with the script editor,
// designer_blocks.png with every block image and cursor, enlarged,
// designer_findings.png with the dock of the flow check open.
//   designer_screenshots SAMPLE.src OUTDIR
#include <QApplication>
#include <QDialog>
#include <QPixmap>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <QPainter>

#include "designer/chart/block_dialogs.h"
#include "designer/ui/block_dialog.h"
#include "designer/ui/block_images.h"
#include "designer/ui/main_window.h"
#include "designer/ui/script_editor.h"

namespace {

// Every block image with its port and exits, and every cursor, at three
// times their size: designer_blocks.png, to judge legibility pixel by pixel.
bool writeImageSheet(const QString& path) {
  const int kinds[] = {6, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53};
  QImage sheet(2 * 200, 8 * 60 + 60, QImage::Format_ARGB32);
  sheet.fill(designer_ui::kSkyBlue);
  QPainter g(&sheet);
  int n = 0;
  for (int kind : kinds) {
    const int x = (n % 2) * 200 + 20, y = (n / 2) * 60 + 20;
    ++n;
    auto b = chart::createBlock(kind);
    if (b->isScript()) {
      auto& s = static_cast<chart::GCMD_DTC_SCRIPT&>(*b);
      s.mergeExit("yes");
    }
    g.drawPixmap(x, y - 11, designer_ui::blockImage("CMDIN"));
    g.drawPixmap(x, y, designer_ui::blockImage(QString::fromStdString(b->image)));
    for (int i = 0; i < b->exitCount(); ++i)
      g.drawPixmap(x + 12 * i, y + 20,
                   designer_ui::blockImage(QString::fromStdString(b->exitImages[i])));
  }
  int x = 20;
  for (const char* c : {"allmove", "hmove", "vmove", "selline", "line", "angleline"}) {
    g.drawPixmap(x, 8 * 60 + 20, designer_ui::canvasCursor(c).pixmap());
    x += 50;
  }
  g.end();
  return sheet.scaled(sheet.size() * 3).save(path);
}

// The screenshots answer nothing and block on nothing: boxes are printed.
class PrintedQuestions : public designer_ui::Questions {
 public:
  designer_ui::Answer askYesNoCancel(const QString&, const QString&) override {
    return designer_ui::Answer::kCancel;
  }
  QString saveFileName(const QString&) override { return {}; }
  QString openFileName(const QString&) override { return {}; }
  void message(const QString& title, const QString& text, designer_ui::Icon) override {
    std::fprintf(stderr, "%s: %s\n", title.toUtf8().constData(), text.toUtf8().constData());
  }
};

// `dialog` over the window's picture, centred, with a title bar of its own
// (the offscreen platform draws no window frames).
QPixmap over(const QPixmap& window, QWidget& dialog) {
  QPixmap out = window;
  const QPixmap inner = dialog.grab();
  QPainter g(&out);
  const int bar = 24;
  const QRect frame((out.width() - inner.width()) / 2, (out.height() - inner.height() - bar) / 2,
                    inner.width(), inner.height() + bar);
  g.fillRect(frame.adjusted(4, 4, 4, 4), QColor(0, 0, 0, 60));  // shadow
  g.fillRect(QRect(frame.topLeft(), QSize(frame.width(), bar)), QColor(0x3c, 0x5a, 0x8c));
  g.setPen(Qt::white);
  g.setFont(designer_ui::chineseFont(13));
  g.drawText(QRect(frame.left() + 8, frame.top(), frame.width() - 16, bar),
             Qt::AlignVCenter | Qt::AlignLeft, dialog.windowTitle());
  g.drawPixmap(frame.left(), frame.top() + bar, inner);
  g.setPen(Qt::darkGray);
  g.drawRect(frame.adjusted(0, 0, -1, -1));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: designer_screenshots SAMPLE.src OUTDIR\n");
    return 2;
  }
  if (!std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const QString out = QString::fromLocal8Bit(argv[2]);
  designer_ui::Tfrmmain w;
  PrintedQuestions answers;
  w.setQuestions(&answers);
  w.resize(1100, 760);
  if (!w.openFile(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  // Select the first connection so its handles show, as a person would see them.
  if (w.chart().connectCount() > 0) w.state().selectConnection(w.chart(), 0);
  w.show();
  app.processEvents();
  const QPixmap window = w.grab();
  bool ok = window.save(out + "/designer.png");

  // A play-voice dialog, and the script editor, over the window.
  int play = -1, script = -1;
  for (int i = 0; i < w.chart().blockCount(); ++i) {
    if (w.chart().block(i).kind == cpl::kKindPlayVoice && play < 0) play = i;
    if (w.chart().block(i).isScript() && script < 0) script = i;
  }
  if (play >= 0) {
    designer_ui::BlockDialog d(cpl::kKindPlayVoice, w.chart().block(play).record, w.questions(),
                               &w);
    d.show();
    app.processEvents();
    ok = over(window, d).save(out + "/designer_dialog.png") && ok;
  }
  designer_ui::Tfrmscript editor(w.questions(), &w);
  if (script >= 0)
    editor.setScript(static_cast<const chart::GCMD_DTC_SCRIPT&>(w.chart().block(script)).script);
  editor.show();
  app.processEvents();
  editor.check();
  app.processEvents();
  ok = over(window, editor).save(out + "/designer_script.png") && ok;
  ok = writeImageSheet(out + "/designer_blocks.png") && ok;

  // The flow check after a block was dropped below the flow and left
  // unconnected, its first finding double-clicked.
  editor.hide();
  int bottom = 0;
  for (int i = 0; i < w.chart().blockCount(); ++i)
    bottom = std::max(bottom, static_cast<int>(w.chart().block(i).top));
  const int lone = w.chart().addBlock(cpl::kKindRecord, 200, bottom + 90);
  w.chart().setNote(lone, "\xc1\xf4\xd1\xd4");  // "留言" in GBK, as notes are kept
  w.checkFlow();
  app.processEvents();
  for (int row = 0; row < static_cast<int>(w.findings().size()); ++row)
    if (w.findings()[row].block == lone) {
      w.findingsList().setCurrentItem(w.findingsList().topLevelItem(row));
      w.showFinding(row);
      break;
    }
  app.processEvents();
  ok = w.grab().save(out + "/designer_findings.png") && ok;
  w.chart().setModified(false);
  if (ok)
    std::printf(
        "wrote designer.png, designer_dialog.png, designer_script.png, "
        "designer_blocks.png, designer_findings.png to %s\n",
        argv[2]);
  return ok ? 0 : 1;
}
