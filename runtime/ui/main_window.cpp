#include "runtime/ui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPalette>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyleFactory>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "runtime/ui/browsers.h"
#include "runtime/ui/dialogs.h"

namespace ui {

namespace {

QString u(const std::string& s) {
  return QString::fromStdString(s);
}

// The panel's two icons: idle and off-hook.
QIcon lineIcon(int icon) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(icon ? QColor(0x2e, 0xa0, 0x43) : QColor(0xa0, 0xa0, 0xa0));
  p.setPen(Qt::NoPen);
  p.drawEllipse(2, 2, 12, 12);
  return QIcon(pm);
}

enum Column { kColChannel, kColNumber, kColStatus, kColCaller, kColFlow, kColBlock, kColumns };

}  // namespace

MainWindow::MainWindow(UiContext& ctx, TraceQueue& trace, QWidget* parent)
    : QMainWindow(parent), ctx_(ctx), queue_(trace) {
  setWindowTitle(QString::fromUtf8(kTitle));
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

  auto* panel = new QGroupBox(QStringLiteral("通道状态"), central);
  auto* panelLayout = new QVBoxLayout(panel);
  channels_ = new QTableWidget(0, kColumns, panel);
  channels_->setObjectName("channels");
  channels_->setHorizontalHeaderLabels({"通道", "号码", "状态", "主叫号码", "流程", "当前块"});
  channels_->verticalHeader()->hide();
  channels_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  channels_->setSelectionMode(QAbstractItemView::NoSelection);
  channels_->horizontalHeader()->setStretchLastSection(true);
  channels_->setFocusPolicy(Qt::NoFocus);
  channels_->verticalHeader()->setDefaultSectionSize(channels_->fontMetrics().height() + 8);
  // Eight channels in view; more scroll.
  channels_->setMinimumHeight(channels_->horizontalHeader()->sizeHint().height() +
                              8 * channels_->verticalHeader()->defaultSectionSize() + 4);
  channels_->setColumnWidth(kColChannel, 90);
  channels_->setColumnWidth(kColNumber, 90);
  channels_->setColumnWidth(kColStatus, 60);
  channels_->setColumnWidth(kColCaller, 110);
  channels_->setColumnWidth(kColFlow, 60);
  panelLayout->addWidget(channels_);
  layout->addWidget(panel, 0);

  auto* box = new QGroupBox(QStringLiteral("消息显示"), central);
  auto* boxLayout = new QVBoxLayout(box);
  auto* tools = new QHBoxLayout;
  pause_ = new QCheckBox(QStringLiteral("暂停"), box);
  filterBox_ = new QComboBox(box);
  filterBox_->addItem(QStringLiteral("全部通道"), -1);
  tools->addWidget(pause_);
  tools->addWidget(new QLabel(QStringLiteral("只看："), box));
  tools->addWidget(filterBox_);
  tools->addStretch(1);
  boxLayout->addLayout(tools);
  traceBox_ = new QPlainTextEdit(box);
  traceBox_->setObjectName("trace");
  traceBox_->setReadOnly(true);
  traceBox_->setMaximumBlockCount(static_cast<int>(TraceLines::kMaxLines));
  traceBox_->setLineWrapMode(QPlainTextEdit::NoWrap);
  boxLayout->addWidget(traceBox_);
  layout->addWidget(box, 1);
  setCentralWidget(central);

  connect(pause_, &QCheckBox::toggled, this, [this](bool on) { setPaused(on); });
  connect(filterBox_, &QComboBox::currentIndexChanged, this,
          [this](int i) { setFilter(filterBox_->itemData(i).toInt()); });

  buildMenus();
  resize(760, 640);
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, &MainWindow::refresh);
  timer_->start(100);
  refresh();
}

void MainWindow::buildMenus() {
  QMenu* op = menuBar()->addMenu(QStringLiteral("操作(&O)"));
  op->addAction(QStringLiteral("摘机控制(&Z)"), this, [this] { openLineControl(true); });
  op->addAction(QStringLiteral("挂机控制(&G)"), this, [this] { openLineControl(false); });
  op->addAction(QStringLiteral("自动拨号(&D)"), this, [this] { openDial(); });
  op->addSeparator();
  op->addAction(QStringLiteral("听留言(&L)"), this, [this] { openVoiceMail(); });
  op->addAction(QStringLiteral("呼叫记录(&C)"), this, [this] { openCallRecords(); });
  op->addSeparator();
  op->addAction(QStringLiteral("退出(&X)"), qApp, &QApplication::quit);

  QMenu* set = menuBar()->addMenu(QStringLiteral("设置(&S)"));
  set->addAction(QStringLiteral("数据源设置"), this,
                 [this] { DataSourceDialog(ctx_, this).exec(); });
  set->addAction(QStringLiteral("系统设置"), this,
                 [this] { SystemSettingsDialog(ctx_, this).exec(); });
  set->addAction(QStringLiteral("通道设置"), this,
                 [this] { ChannelSettingsDialog(ctx_, this).exec(); });
  set->addAction(QStringLiteral("流程设置"), this,
                 [this] { FlowSettingsDialog(ctx_, this).exec(); });
  set->addAction(QStringLiteral("流程触发设置"), this,
                 [this] { TriggerSettingsDialog(ctx_, this).exec(); });

  QMenu* look = menuBar()->addMenu(QStringLiteral("界面(&C)"));
  for (int i = 0; i < 3; ++i)
    look->addAction(QStringLiteral("界面%1").arg(i + 1), this, [this, i] { setSkin(i); });

  QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
  help->addAction(QStringLiteral("关于(&A)"), this, [this] {
    ctx_.asker->inform(this, QStringLiteral("关于"),
                       QStringLiteral("Sarvent V3.0\nolvaro 语音流程运行程序"));
  });
}

void MainWindow::setSkin(int skin) {
  // Three looks in place of the three skins: the plain Fusion look, the
  // classic Windows look, and Fusion in dark colours.
  QApplication::setStyle(QStyleFactory::create(skin == 1 ? "Windows" : "Fusion"));
  QPalette pal = QApplication::style()->standardPalette();
  if (skin == 2) {
    pal.setColor(QPalette::Window, QColor(0x35, 0x3b, 0x45));
    pal.setColor(QPalette::WindowText, Qt::white);
    pal.setColor(QPalette::Base, QColor(0x23, 0x27, 0x2e));
    pal.setColor(QPalette::AlternateBase, QColor(0x35, 0x3b, 0x45));
    pal.setColor(QPalette::Text, Qt::white);
    pal.setColor(QPalette::Button, QColor(0x35, 0x3b, 0x45));
    pal.setColor(QPalette::ButtonText, Qt::white);
    pal.setColor(QPalette::Highlight, QColor(0x3d, 0x8e, 0xc9));
  }
  QApplication::setPalette(pal);
}

void MainWindow::refresh() {
  size_t dropped = 0;
  std::vector<std::string> lines = queue_.take(&dropped);
  if (dropped) lines.insert(lines.begin(), "(" + std::to_string(dropped) + " 行未显示)");
  const bool follow = !paused_ && filter_ < 0;
  for (auto& l : lines) {
    if (follow) traceBox_->appendPlainText(u(l));
    lines_.add(std::move(l));
  }
  if (!lines.empty()) {
    if (!follow && !paused_) showTrace();
    if (!paused_)
      traceBox_->verticalScrollBar()->setValue(traceBox_->verticalScrollBar()->maximum());
  }
  auto snap = ctx_.rt.snapshot();
  if (snap && snap->pass != shownPass_) {
    shownPass_ = snap->pass;
    updateChannels(*snap);
  }
}

void MainWindow::showTrace() {
  QString all;
  for (const auto& l : lines_.visible(filter_)) {
    all += u(l);
    all += '\n';
  }
  if (!all.isEmpty()) all.chop(1);
  traceBox_->setPlainText(all);
  traceBox_->verticalScrollBar()->setValue(traceBox_->verticalScrollBar()->maximum());
}

void MainWindow::setPaused(bool paused) {
  paused_ = paused;
  if (pause_->isChecked() != paused) pause_->setChecked(paused);
  if (!paused) showTrace();
}

void MainWindow::setFilter(int channel) {
  filter_ = channel;
  const int i = filterBox_->findData(channel);
  if (i >= 0 && filterBox_->currentIndex() != i) filterBox_->setCurrentIndex(i);
  if (!paused_) showTrace();
}

void MainWindow::updateChannels(const callproc::RuntimeSnapshot& s) {
  const int n = static_cast<int>(s.channels.size());
  if (channels_->rowCount() != n) {
    channels_->setRowCount(n);
    for (int c = 0; c < n; ++c)
      for (int col = 0; col < kColumns; ++col)
        channels_->setItem(c, col, new QTableWidgetItem);
    while (filterBox_->count() > 1)
      filterBox_->removeItem(1);
    for (int c = 0; c < n; ++c)
      filterBox_->addItem(u(channelLabel(c)), c);
  }
  for (int c = 0; c < n; ++c) {
    const auto& ch = s.channels[static_cast<size_t>(c)];
    auto set = [&](int col, const QString& text) {
      QTableWidgetItem* it = channels_->item(c, col);
      if (it->text() != text) it->setText(text);
    };
    QTableWidgetItem* name = channels_->item(c, kColChannel);
    if (name->data(Qt::UserRole).toInt() != ch.icon + 1) {
      name->setIcon(lineIcon(ch.icon));
      name->setData(Qt::UserRole, ch.icon + 1);
    }
    set(kColChannel, u(channelLabel(c)));
    set(kColNumber, u(ch.number));
    const int st = ch.status >= 0 && ch.status < 7 ? ch.status : 0;
    set(kColStatus, QString::fromUtf8(callproc::kStatusTexts[st]));
    set(kColCaller, u(ch.caller));
    const bool inCall = ch.slot >= 0;
    set(kColFlow, inCall ? QString::number(ch.slot) : QString());
    set(kColBlock,
        inCall ? QStringLiteral("%1 (类型%2)").arg(ch.blockIndex).arg(ch.kind) : QString());
  }
}

void MainWindow::openLineControl(bool offHook) {
  LineControlDialog(ctx_, offHook, this).exec();
}
void MainWindow::openDial() {
  DialDialog(ctx_, this).exec();
}
void MainWindow::openCallRecords() {
  CallRecordBrowser(ctx_, this).exec();
}
void MainWindow::openVoiceMail() {
  VoiceMailBrowser(ctx_, this).exec();
}

}  // namespace ui
