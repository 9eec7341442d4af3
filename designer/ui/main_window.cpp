#include "designer/ui/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <cerrno>
#include <cstring>

#include "designer/chart/block_dialogs.h"
#include "designer/chart/flow_writer.h"
#include "designer/chart/project_file.h"
#include "designer/ui/block_dialog.h"
#include "designer/ui/block_images.h"
#include "designer/ui/canvas.h"
#include "designer/ui/script_editor.h"
#include "platform/gbk.h"

namespace designer_ui {
namespace {

// The block toolbar, top to bottom, after the selection tool.
constexpr int kToolKinds[] = {cpl::kKindPlayVoice, cpl::kKindDigit,      cpl::kKindInput,
                              cpl::kKindTalk,      cpl::kKindCreateMeet, cpl::kKindEnterMeet,
                              cpl::kKindMeetTalk,  cpl::kKindScript,     cpl::kKindCallOut,
                              cpl::kKindCallSeat,  cpl::kKindCallExt,    cpl::kKindPlayTts,
                              cpl::kKindCycPlay,   cpl::kKindRecord};

struct NamedColour {
  const char* name;
  QColor colour;
};
const NamedColour kColours[] = {
    {"天蓝色", kSkyBlue},
    {"白色", Qt::white},
    {"浅灰色", QColor(0xe0, 0xe0, 0xe0)},
    {"奶油色", QColor(0xff, 0xfb, 0xf0)},
    {"浅绿色", QColor(0xc0, 0xdc, 0xc0)},
    {"浅黄色", QColor(0xff, 0xf8, 0xc0)},
};

QIcon arrowIcon() {
  QPixmap p(20, 20);
  p.fill(Qt::transparent);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  g.setPen(QPen(Qt::black, 1));
  g.setBrush(Qt::white);
  g.drawPolygon(QPolygonF({QPointF(5, 2), QPointF(5, 17), QPointF(9, 13), QPointF(12, 19),
                           QPointF(14, 18), QPointF(11, 12), QPointF(16, 12)}));
  return QIcon(p);
}

QIcon colourIcon(const QColor& c) {
  QPixmap p(16, 12);
  p.fill(c);
  QPainter g(&p);
  g.setPen(Qt::darkGray);
  g.drawRect(0, 0, 15, 11);
  return QIcon(p);
}

}  // namespace

Tfrmmain::Tfrmmain(QWidget* parent)
    : QMainWindow(parent),
      boxes_(std::make_unique<BoxQuestions>(this)),
      questions_(boxes_.get()),
      startDir_(QDir::currentPath()) {
  setObjectName("Tfrmmain");
  setFont(chineseFont(13));
  chart_.setMessageSink(&sink_);
  chart_.addObserver(this);

  // Menus.
  QMenu* file = menuBar()->addMenu(QStringLiteral("文件"));
  new_ = file->addAction(QStringLiteral("新建"), QKeySequence(Qt::CTRL | Qt::Key_N), this,
                         [this] { fileNew(); });
  open_ = file->addAction(QStringLiteral("打开"), QKeySequence(Qt::CTRL | Qt::Key_O), this,
                          [this] { fileOpen(); });
  save_ = file->addAction(QStringLiteral("保存"), QKeySequence(Qt::CTRL | Qt::Key_S), this,
                          [this] { fileSave(); });
  saveAs_ = file->addAction(QStringLiteral("另存为"), this, [this] { fileSaveAs(); });
  QMenu* project = menuBar()->addMenu(QStringLiteral("项目"));
  compile_ = project->addAction(QStringLiteral("生成IVR执行文件"), QKeySequence(Qt::Key_F7), this,
                                [this] { compile(); });
  check_ = project->addAction(QStringLiteral("检查流程"), QKeySequence(Qt::Key_F8), this,
                              [this] { checkFlow(); });
  new_->setObjectName("new");
  open_->setObjectName("open");
  save_->setObjectName("save");
  saveAs_->setObjectName("saveas");
  compile_->setObjectName("compile");
  check_->setObjectName("check");

  // Editing keys of the canvas (no menu of their own).
  auto key = [this](const char* name, QKeySequence seq, auto run) {
    QAction* a = new QAction(this);
    a->setObjectName(name);
    a->setShortcut(seq);
    connect(a, &QAction::triggered, this, run);
    addAction(a);
  };
  key("delete", QKeySequence(Qt::Key_Delete), [this] { deleteSelection(); });
  key("selectall", QKeySequence(Qt::CTRL | Qt::Key_A), [this] { selectAll(); });
  key("undo", QKeySequence(Qt::CTRL | Qt::Key_Z), [this] { undo(); });
  key("redo", QKeySequence(Qt::CTRL | Qt::Key_Y), [this] { redo(); });

  // Upper toolbar: drawing mode and background colour.
  QToolBar* upper = addToolBar(QStringLiteral("绘图"));
  upper->setObjectName("upper");
  upper->setMovable(false);
  QActionGroup* modes = new QActionGroup(this);
  straight_ = upper->addAction(QStringLiteral("直线"));
  angled_ = upper->addAction(QStringLiteral("直角线"));
  for (QAction* a : {straight_, angled_}) {
    a->setCheckable(true);
    modes->addAction(a);
  }
  angled_->setChecked(true);
  connect(straight_, &QAction::triggered, this, [this] { rightAngle_ = false; });
  connect(angled_, &QAction::triggered, this, [this] { rightAngle_ = true; });
  upper->addSeparator();
  colours_ = new QComboBox(upper);
  colours_->setObjectName("background");
  for (const NamedColour& c : kColours)
    colours_->addItem(colourIcon(c.colour), QString::fromUtf8(c.name), c.colour);
  upper->addWidget(colours_);

  // Block toolbar.
  QToolBar* blocks = new QToolBar(QStringLiteral("命令"), this);
  blocks->setObjectName("blocks");
  blocks->setMovable(false);
  blocks->setToolButtonStyle(Qt::ToolButtonTextOnly);
  addToolBar(Qt::LeftToolBarArea, blocks);
  tools_ = new QActionGroup(this);
  auto addTool = [&](int kind, const QString& caption) {
    QAction* a = blocks->addAction(caption);
    a->setCheckable(true);
    a->setData(kind);
    tools_->addAction(a);
    connect(a, &QAction::triggered, this, [this, kind] { toolChosen(kind); });
    return a;
  };
  QAction* select = addTool(chart::kSelectTool, QString());
  select->setIcon(arrowIcon());
  select->setToolTip(QStringLiteral("选择"));
  select->setChecked(true);
  if (auto* b = qobject_cast<QToolButton*>(blocks->widgetForAction(select)))
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
  for (int kind : kToolKinds)
    addTool(kind, kindCaption(kind));

  // Canvas.
  scroll_ = new QScrollArea(this);
  canvas_ = new Canvas(*this);
  scroll_->setWidget(canvas_);
  setCentralWidget(scroll_);
  connect(colours_, &QComboBox::currentIndexChanged, this,
          [this](int i) { setBackground(colours_->itemData(i).value<QColor>()); });
  setBackground(kSkyBlue);

  // The findings of the last check, below the canvas; hidden until then.
  findingsDock_ = new QDockWidget(QStringLiteral("检查结果"), this);
  findingsDock_->setObjectName("findings");
  findingsList_ = new QTreeWidget(findingsDock_);
  findingsList_->setObjectName("findingsList");
  findingsList_->setRootIsDecorated(false);
  findingsList_->setUniformRowHeights(true);
  findingsList_->setHeaderLabels({QStringLiteral("级别"), QStringLiteral("命令"),
                                  QStringLiteral("类型"), QStringLiteral("说明"),
                                  QStringLiteral("问题")});
  findingsList_->setColumnWidth(0, 70);
  findingsList_->setColumnWidth(1, 60);
  findingsList_->setColumnWidth(2, 100);
  findingsList_->setColumnWidth(3, 140);
  findingsDock_->setWidget(findingsList_);
  addDockWidget(Qt::BottomDockWidgetArea, findingsDock_);
  findingsDock_->hide();
  connect(findingsList_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item, int) {
    showFinding(findingsList_->indexOfTopLevelItem(item));
  });
  project->addSeparator();
  project->addAction(findingsDock_->toggleViewAction());

  // Status bar: the block's position after a move; the mouse and the
  // compile's progress.
  for (int i = 0; i < 2; ++i) {
    panels_[i] = new QLabel(this);
    panels_[i]->setMinimumWidth(140);
    statusBar()->addWidget(panels_[i], i);
  }
  resize(1000, 700);
  refresh();
}

Tfrmmain::~Tfrmmain() {
  chart_.removeObserver(this);
}

QAction* Tfrmmain::action(const char* name) const {
  return findChild<QAction*>(QString::fromLatin1(name));
}

QAction* Tfrmmain::toolAction(int kind) const {
  for (QAction* a : tools_->actions())
    if (a->data().toInt() == kind) return a;
  return nullptr;
}

void Tfrmmain::toolChosen(int kind) {
  state_.tool = kind;
  if (QAction* a = toolAction(kind)) a->setChecked(true);
}

void Tfrmmain::toolUsed() {
  toolChosen(chart::kSelectTool);
}

void Tfrmmain::setRightAngle(bool on) {
  rightAngle_ = on;
  (on ? angled_ : straight_)->setChecked(true);
}

QColor Tfrmmain::background() const {
  return scroll_->viewport()->palette().color(QPalette::Window);
}

void Tfrmmain::setBackground(const QColor& c) {
  QPalette p = scroll_->viewport()->palette();
  p.setColor(QPalette::Window, c);
  scroll_->viewport()->setPalette(p);
  scroll_->viewport()->setAutoFillBackground(true);
  canvas_->update();
}

QString Tfrmmain::statusText(int panel) const {
  return panels_[panel]->text();
}
void Tfrmmain::setStatusText(int panel, const QString& text) {
  panels_[panel]->setText(text);
}

QString Tfrmmain::captionFor() const {
  return qs(chart::kEditorCaption) + "-" + QString::fromStdString(chart_.fileName()) +
         (chart_.modified() ? "*" : "");
}

void Tfrmmain::refresh() {
  setWindowTitle(captionOverride_.isEmpty() ? captionFor() : captionOverride_);
  save_->setEnabled(chart_.modified());
  saveAs_->setEnabled(chart_.fileName() != chart::kUntitled);
  compile_->setEnabled(chart_.blockCount() > 0);
  canvas_->update();
}

void Tfrmmain::chartChanged(const chart::ChartChange& change) {
  if (change.what != chart::ChartChange::What::kModified) captionOverride_.clear();
  refresh();
}

QString Tfrmmain::askSaveName(const QString& filter) {
  QString name = questions_->saveFileName(filter);
  if (name.isEmpty()) return name;
  const QString ext = filter == kCompiledFilter ? ".cpl" : ".src";
  if (QFileInfo(name).suffix().isEmpty()) name += ext;
  return name;
}

bool Tfrmmain::saveTo(const QString& path) {
  if (chart::saveProjectFile(chart_, path.toStdString())) return true;
  questions_->message(
      qs(chart::kEditorCaption),
      path + QStringLiteral(" 无法保存: ") + QString::fromLocal8Bit(std::strerror(errno)),
      Icon::kError);
  return false;
}

bool Tfrmmain::settleChanges() {
  if (!chart_.modified()) return true;
  const QString text = QStringLiteral("是否保存对 ") + QString::fromStdString(chart_.fileName()) +
                       QStringLiteral(" 的修改？");
  switch (questions_->askYesNoCancel(qs(chart::kEditorCaption), text)) {
    case Answer::kYes:
      // A never-saved chart asks for its name; a cancelled dialog cancels.
      return fileSave();
    case Answer::kNo:
      return true;
    case Answer::kCancel:
      return false;
  }
  return false;
}

bool Tfrmmain::fileNew() {
  if (!settleChanges()) return false;
  chart_.reset();
  state_ = chart::CanvasState{};
  clearFindings();
  toolUsed();
  captionOverride_.clear();
  refresh();
  return true;
}

bool Tfrmmain::fileOpen() {
  if (!settleChanges()) return false;
  const QString path = questions_->openFileName(kProjectFilter);
  if (path.isEmpty()) return false;
  return openFile(path);
}

bool Tfrmmain::openFile(const QString& path) {
  state_ = chart::CanvasState{};
  clearFindings();
  const chart::LoadResult r = chart::loadProjectFile(chart_, path.toStdString(), &sink_);
  for (int b : r.selected)
    state_.select(chart_, b);
  toolUsed();
  captionOverride_.clear();
  if (r.status == chart::LoadStatus::kCannotOpen || r.status == chart::LoadStatus::kIncomplete)
    questions_->message(qs(chart::kEditorCaption), qs(r.message), Icon::kError);
  refresh();
  return r.status == chart::LoadStatus::kOk || r.status == chart::LoadStatus::kIncomplete;
}

bool Tfrmmain::fileSave() {
  if (chart_.fileName() == chart::kUntitled) {
    const QString name = askSaveName(kProjectFilter);
    if (name.isEmpty()) return false;
    if (!saveTo(name)) return false;
    chart_.setFileName(name.toStdString());
  } else if (!saveTo(QString::fromStdString(chart_.fileName()))) {
    return false;
  }
  refresh();
  return true;
}

bool Tfrmmain::fileSaveAs() {
  const QString name = askSaveName(kProjectFilter);
  if (name.isEmpty() || !saveTo(name)) return false;
  refresh();
  captionOverride_ = qs(chart::kEditorCaption) + "-" + name;
  setWindowTitle(captionOverride_);
  return true;
}

bool Tfrmmain::compile() {
  std::string chosen;
  if (chart_.fileName() == chart::kUntitled) {
    chosen = askSaveName(kCompiledFilter).toStdString();
    if (chosen.empty()) return false;
  }
  setStatusText(1, qs(chart::kCompiling));
  const chart::CompileCommandResult r = chart::compileCommand(chart_, chosen, &sink_);
  setStatusText(1, qs(r.status));
  refresh();
  // A flow that compiles may still cut calls off; what the check finds is
  // shown beside the compile's outcome.
  checkFlow();
  return r.ok;
}

void Tfrmmain::closeEvent(QCloseEvent* e) {
  if (settleChanges())
    e->accept();
  else
    e->ignore();
}

void Tfrmmain::openProperties(int b) {
  if (b < 0 || b >= chart_.blockCount()) return;
  const chart::GELE& block = chart_.block(b);
  if (block.isScript()) {
    Tfrmscript editor(*questions_, this);
    editor.setScript(static_cast<const chart::GCMD_DTC_SCRIPT&>(block).script);
    // An unedited script that does not compile closes with OK too; its
    // half-collected exit names would drop exits and their connections, so
    // the block stays as it was.
    if (questions_->runDialog(editor) == QDialog::Accepted && editor.compiled())
      chart_.setScript(b, editor.scriptGbk(), editor.exitNames());
    return;
  }
  if (!chart::dialogs::dialogFor(block.kind)) return;
  BlockDialog dialog(block.kind, block.record, *questions_, this);
  if (questions_->runDialog(dialog) == QDialog::Accepted) chart_.setRecord(b, dialog.record());
}

void Tfrmmain::editNote(int b) {
  if (b < 0 || b >= chart_.blockCount()) return;
  Tfrmhint dialog(QString::fromStdString(platform::gbkToUtf8(chart_.block(b).note)), this);
  if (questions_->runDialog(dialog) == QDialog::Accepted)
    chart_.setNote(b, platform::utf8ToGbk(dialog.note().toStdString()));
}

void Tfrmmain::deleteSelection() {
  state_.deleteSelection(chart_);
  refresh();
}

void Tfrmmain::selectAll() {
  state_.selectAll(chart_);
  canvas_->update();
}

void Tfrmmain::undo() {
  chart_.undo();
  refresh();
}

void Tfrmmain::redo() {
  chart_.redo();
  refresh();
}

void Tfrmmain::clearFindings() {
  findings_.clear();
  findingIds_.clear();
  findingsList_->clear();
  findingsDock_->setWindowTitle(QStringLiteral("检查结果"));
}

void Tfrmmain::checkFlow() {
  chart::CheckOptions options;
  options.voiceDir = chart::voiceDirBeside(chart_.fileName());
  clearFindings();
  findings_ = chart::checkFlow(chart_, options);
  const QIcon errorIcon = style()->standardIcon(QStyle::SP_MessageBoxCritical);
  const QIcon warningIcon = style()->standardIcon(QStyle::SP_MessageBoxWarning);
  for (const chart::Finding& f : findings_) {
    const bool error = f.severity == chart::Severity::kError;
    auto* item = new QTreeWidgetItem(findingsList_);
    item->setIcon(0, error ? errorIcon : warningIcon);
    item->setText(0, error ? QStringLiteral("错误") : QStringLiteral("警告"));
    item->setForeground(0, error ? QColor(0xc0, 0x00, 0x00) : QColor(0x9a, 0x60, 0x00));
    item->setText(1, QString::number(f.block));
    item->setText(2, QString::fromStdString(chart::kindCaption(f.kind)));
    item->setText(3, QString::fromStdString(f.note));
    item->setText(4, QString::fromStdString(f.message));
    item->setToolTip(4, item->text(4));
    findingIds_.push_back(f.block >= 0 && f.block < chart_.blockCount() ? chart_.block(f.block).id
                                                                        : 0);
  }
  if (findings_.empty()) {
    auto* item = new QTreeWidgetItem(findingsList_);
    item->setText(0, QStringLiteral("没有发现问题"));
    item->setFlags(Qt::ItemIsEnabled);
    item->setFirstColumnSpanned(true);
  }
  findingsDock_->setWindowTitle(QStringLiteral("检查结果 - ") +
                                QString::fromStdString(chart::checkSummary(findings_)));
  findingsDock_->show();
}

bool Tfrmmain::showFinding(int row) {
  if (row < 0 || row >= static_cast<int>(findingIds_.size()) || findingIds_[row] == 0) return false;
  const int b = chart_.blockIndexOf(findingIds_[row]);
  if (b < 0) return false;
  state_.deselectAll();
  state_.deselectConnection();
  state_.select(chart_, b);
  state_.setCurrent(chart_, b);
  const chart::GELE& block = chart_.block(b);
  // The body and its exits, with room around them.
  scroll_->ensureVisible(block.left + 40, block.top + 16, 120, 80);
  canvas_->update();
  return true;
}

}  // namespace designer_ui
