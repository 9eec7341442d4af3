#include "runtime/ui/dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/gbk.h"

namespace ui {

namespace {

QString u(const std::string& s) {
  return QString::fromStdString(s);
}
std::string s8(const QString& s) {
  return s.toStdString();
}

QString title() {
  return QString::fromUtf8(kTitle);
}

QPushButton* button(QLayout* l, const QString& text, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  l->addWidget(b);
  return b;
}

QTableWidget* listOf(QWidget* parent, const QStringList& heads, const std::vector<int>& widths) {
  auto* t = new QTableWidget(0, static_cast<int>(heads.size()), parent);
  t->setHorizontalHeaderLabels(heads);
  for (size_t i = 0; i < widths.size(); ++i)
    t->setColumnWidth(static_cast<int>(i), widths[i]);
  t->verticalHeader()->hide();
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  t->setSelectionMode(QAbstractItemView::SingleSelection);
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->horizontalHeader()->setStretchLastSection(true);
  return t;
}

void setCell(QTableWidget* t, int row, int col, const QString& text) {
  if (!t->item(row, col)) t->setItem(row, col, new QTableWidgetItem);
  t->item(row, col)->setText(text);
}

// Writes through a fresh read of the file, so that lines another program or
// dialog wrote meanwhile stay; tells the person when the file cannot be written.
template <typename F>
bool writeIni(UiContext& ctx, QWidget* parent, F write) {
  platform::IniFile ini(ctx.iniPath);
  std::string error;
  if (write(ini, &error)) return true;
  ctx.asker->inform(parent, title(),
                    QStringLiteral("无法写入%1：%2").arg(u(ctx.iniPath), u(error)));
  return false;
}

}  // namespace

// ---- line control

int outerLineChannel(UiContext& ctx, QWidget* parent, const QString& text) {
  bool ok = false;
  const int ch = text.trimmed().toInt(&ok);
  auto snap = ctx.rt.snapshot();
  const bool outer = ok && snap && ch >= 0 && ch < static_cast<int>(snap->channels.size()) &&
                     snap->channels[static_cast<size_t>(ch)].type == 1;
  if (outer) return ch;
  ctx.asker->inform(parent, QStringLiteral("ERROR"),
                    ok ? u(notOuterLineMessage(ch)) : QStringLiteral("请输入通道号"));
  return -1;
}

LineControlDialog::LineControlDialog(UiContext& ctx, bool offHook, QWidget* parent)
    : QDialog(parent), ctx_(ctx), offHook_(offHook) {
  setWindowTitle(QStringLiteral("通道摘挂机"));
  auto* l = new QVBoxLayout(this);
  l->addWidget(new QLabel(QStringLiteral("请输入外线通道号："), this));
  channel_ = new QLineEdit(this);
  l->addWidget(channel_);
  auto* row = new QHBoxLayout;
  connect(button(row, QStringLiteral("确定(&Q)"), this), &QPushButton::clicked, this,
          [this] { confirm(); });
  connect(button(row, QStringLiteral("取消"), this), &QPushButton::clicked, this, &QDialog::reject);
  l->addLayout(row);
}

bool LineControlDialog::confirm() {
  const int ch = outerLineChannel(ctx_, this, channel_->text());
  if (ch < 0) return false;
  ctx_.rt.post(callproc::LineControl{
      ch, offHook_ ? callproc::LineControl::kOffHook : callproc::LineControl::kHangUp, {}});
  accept();
  return true;
}

DialDialog::DialDialog(UiContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
  setWindowTitle(QStringLiteral("拨外线号"));
  auto* l = new QFormLayout(this);
  channel_ = new QLineEdit(this);
  number_ = new QLineEdit(this);
  l->addRow(QStringLiteral("请输入通道号："), channel_);
  l->addRow(QStringLiteral("请输入电话号码："), number_);
  auto* row = new QHBoxLayout;
  connect(button(row, QStringLiteral("拨号(&D)"), this), &QPushButton::clicked, this,
          [this] { dial(); });
  connect(button(row, QStringLiteral("取消"), this), &QPushButton::clicked, this, &QDialog::reject);
  l->addRow(row);
}

bool DialDialog::dial() {
  const int ch = outerLineChannel(ctx_, this, channel_->text());
  if (ch < 0) return false;
  ctx_.rt.post(callproc::LineControl{ch, callproc::LineControl::kDial,
                                     platform::utf8ToGbk(s8(number_->text().trimmed()))});
  accept();
  return true;
}

// ---- flows

FlowEntryDialog::FlowEntryDialog(UiContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
  setWindowTitle(QStringLiteral("流程文件设置"));
  auto* l = new QGridLayout(this);
  file = new QLineEdit(this);
  vocDir = new QLineEdit(this);
  number = new QLineEdit(this);
  l->addWidget(new QLabel(QStringLiteral("流程文件"), this), 0, 0);
  l->addWidget(file, 0, 1);
  auto* bf = new QPushButton(QStringLiteral("…"), this);
  bf->setFixedWidth(32);
  l->addWidget(bf, 0, 2);
  l->addWidget(new QLabel(QStringLiteral("语音目录"), this), 1, 0);
  l->addWidget(vocDir, 1, 1);
  auto* bd = new QPushButton(QStringLiteral("…"), this);
  bd->setFixedWidth(32);
  l->addWidget(bd, 1, 2);
  l->addWidget(new QLabel(QStringLiteral("流程编号"), this), 2, 0);
  l->addWidget(number, 2, 1);
  auto* row = new QHBoxLayout;
  connect(button(row, QStringLiteral("更新"), this), &QPushButton::clicked, this, &QDialog::accept);
  connect(button(row, QStringLiteral("取消"), this), &QPushButton::clicked, this, &QDialog::reject);
  l->addLayout(row, 3, 0, 1, 3);
  file->setMinimumWidth(320);
  connect(bf, &QPushButton::clicked, this, &FlowEntryDialog::browseFile);
  connect(bd, &QPushButton::clicked, this, &FlowEntryDialog::browseFolder);
}

void FlowEntryDialog::browseFile() {
  QString f = ctx_.asker->openFile(this, QStringLiteral("流程文件"),
                                   QStringLiteral("ivr流程运行文件 (*.cpl)"));
  if (f.isEmpty()) return;
  if (QFileInfo(f).suffix().isEmpty()) f += ".cpl";
  file->setText(f);
}

void FlowEntryDialog::browseFolder() {
  const QString d = ctx_.asker->pickFolder(this, QStringLiteral("当前选择目录"));
  if (!d.isEmpty()) vocDir->setText(d);
}

FlowSettingsDialog::FlowSettingsDialog(UiContext& ctx, QWidget* parent)
    : QDialog(parent), ctx_(ctx) {
  setWindowTitle(QStringLiteral("流程设置"));
  auto* l = new QVBoxLayout(this);
  list_ = listOf(this, {"编号", "流程文件", "语音目录", "使用情况"}, {40, 300, 200, 120});
  l->addWidget(list_);
  auto* row = new QHBoxLayout;
  connect(button(row, QStringLiteral("添加(&A)"), this), &QPushButton::clicked, this, [this] {
    FlowEntryDialog d(ctx_, this);
    while (d.exec() == QDialog::Accepted) {
      const QString m = addFlow(d.file->text(), d.vocDir->text(), d.number->text());
      if (m.isEmpty()) break;
    }
  });
  connect(button(row, QStringLiteral("修改(&M)"), this), &QPushButton::clicked, this, [this] {
    const int r = list_->currentRow();
    if (r < 0) return;
    FlowEntryDialog d(ctx_, this);
    d.file->setText(list_->item(r, 1)->text());
    d.vocDir->setText(list_->item(r, 2)->text());
    d.number->setText(list_->item(r, 0)->text());
    d.number->setReadOnly(true);
    if (d.exec() == QDialog::Accepted) modifySelected(d.file->text(), d.vocDir->text());
  });
  connect(button(row, QStringLiteral("删除(&D)"), this), &QPushButton::clicked, this,
          [this] { deleteSelected(); });
  connect(button(row, QStringLiteral("刷新(&F)"), this), &QPushButton::clicked, this,
          &FlowSettingsDialog::refreshUsage);
  connect(button(row, QStringLiteral("保存(&S)"), this), &QPushButton::clicked, this,
          [this] { save(); });
  connect(button(row, QStringLiteral("关闭"), this), &QPushButton::clicked, this,
          &FlowSettingsDialog::reject);
  l->addLayout(row);
  resize(720, 360);
  if (auto snap = ctx_.rt.snapshot())
    for (const auto& f : snap->flows) {
      const int r = list_->rowCount();
      list_->insertRow(r);
      setRow(r, f.slot, u(f.path), u(f.vocDir));
      setCell(list_, r, 3, u(usageText(f)));
    }
}

int FlowSettingsDialog::rowOf(int slot) const {
  for (int r = 0; r < list_->rowCount(); ++r)
    if (list_->item(r, 0)->text().toInt() == slot) return r;
  return -1;
}

void FlowSettingsDialog::setRow(int r, int slot, const QString& path, const QString& vocDir) {
  setCell(list_, r, 0, QString::number(slot));
  setCell(list_, r, 1, path);
  setCell(list_, r, 2, vocDir);
  if (!list_->item(r, 3)) setCell(list_, r, 3, QString());
}

QString FlowSettingsDialog::addFlow(const QString& path, const QString& vocDir,
                                    const QString& number) {
  std::vector<int> inList;
  for (int r = 0; r < list_->rowCount(); ++r)
    inList.push_back(list_->item(r, 0)->text().toInt());
  int slot = -1;
  const QString m = u(checkNewFlow(s8(number), s8(path), inList, &slot));
  if (!m.isEmpty()) {
    ctx_.asker->inform(this, title(), m);
    return m;
  }
  loadInto(slot, path, vocDir, true);
  return {};
}

bool FlowSettingsDialog::modifySelected(const QString& path, const QString& vocDir) {
  const int r = list_->currentRow();
  if (r < 0 || path.isEmpty()) return false;
  loadInto(list_->item(r, 0)->text().toInt(), path, vocDir, false);
  return true;
}

void FlowSettingsDialog::loadInto(int slot, const QString& path, const QString& vocDir,
                                  bool adding) {
  ++pending_;
  QPointer<FlowSettingsDialog> self(this);
  // The file is read and parsed here, off the scan pass; the pass only
  // fills the bank and answers on its own thread.
  ctx_.rt.post(callproc::readFlowForSlot(slot, s8(path), s8(vocDir),
                                         [self, slot, path, vocDir, adding](int code) {
                                           QMetaObject::invokeMethod(
                                               qApp,
                                               [self, slot, code, path, vocDir, adding] {
                                                 if (self)
                                                   self->loaded(slot, code, path, vocDir, adding);
                                               },
                                               Qt::QueuedConnection);
                                         }));
}

void FlowSettingsDialog::loaded(int slot, int code, const QString& path, const QString& vocDir,
                                bool adding) {
  --pending_;
  if (code != 0) {
    ctx_.asker->inform(this, title(), QStringLiteral("流程%1编号%2加载失败").arg(path).arg(slot));
    return;
  }
  int r = rowOf(slot);
  if (r < 0) {
    // Rows stay in slot order, as the configuration is written.
    r = 0;
    while (r < list_->rowCount() && list_->item(r, 0)->text().toInt() < slot)
      ++r;
    list_->insertRow(r);
  }
  setRow(r, slot, path, vocDir);
  if (adding) ++ctx_.cfg.flowCount;
  dirty_ = true;
  refreshUsage();
}

void FlowSettingsDialog::deleteSelected() {
  const int r = list_->currentRow();
  if (r < 0) return;
  if (ctx_.asker->ask(this, QStringLiteral("确实要删除该条记录吗?"), false) != Asker::kYes) return;
  ctx_.rt.post(callproc::FreeSlot{list_->item(r, 0)->text().toInt()});
  list_->removeRow(r);
  dirty_ = true;
}

void FlowSettingsDialog::refreshUsage() {
  auto snap = ctx_.rt.snapshot();
  if (!snap) return;
  for (const auto& f : snap->flows) {
    const int r = rowOf(f.slot);
    if (r >= 0) setCell(list_, r, 3, u(usageText(f)));
  }
}

bool FlowSettingsDialog::save() {
  std::vector<FlowRow> rows;
  for (int r = 0; r < list_->rowCount(); ++r)
    rows.push_back({list_->item(r, 0)->text().toInt(), s8(list_->item(r, 1)->text()),
                    s8(list_->item(r, 2)->text())});
  if (!writeIni(ctx_, this, [&](platform::IniFile& ini, std::string* e) {
        return writeFlowTriggerConfig(ini, rows, ctx_.cfg.triggers, e);
      }))
    return false;
  dirty_ = false;
  return true;
}

void FlowSettingsDialog::reject() {
  if (dirty_) {
    switch (ctx_.asker->ask(this, QStringLiteral("加栽流程文件配置已经改变,是否保存配置?"), true)) {
      case Asker::kYes:
        if (!save()) return;
        break;
      case Asker::kNo:
        break;
      case Asker::kCancel:
        return;
    }
  }
  QDialog::reject();
}

// ---- triggers

TriggerEntryDialog::TriggerEntryDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("接入码设置"));
  auto* l = new QFormLayout(this);
  code = new QLineEdit(this);
  index = new QLineEdit(this);
  l->addRow(QStringLiteral("接入码"), code);
  l->addRow(QStringLiteral("流程索引"), index);
  auto* row = new QHBoxLayout;
  connect(button(row, QStringLiteral("确定"), this), &QPushButton::clicked, this, &QDialog::accept);
  connect(button(row, QStringLiteral("取消"), this), &QPushButton::clicked, this, &QDialog::reject);
  l->addRow(row);
}

TriggerSettingsDialog::TriggerSettingsDialog(UiContext& ctx, QWidget* parent)
    : QDialog(parent), ctx_(ctx) {
  setWindowTitle(QStringLiteral("流程触发设置"));
  auto* l = new QVBoxLayout(this);
  list_ = listOf(this, {"接入码", "流程索引号"}, {60, 100});
  l->addWidget(list_);
  for (const auto& t : ctx_.cfg.triggers) {
    const int r = list_->rowCount();
    list_->insertRow(r);
    setCell(list_, r, 0, u(t.code));
    setCell(list_, r, 1, QString::number(t.slot));
  }
  auto* row = new QHBoxLayout;
  auto edit = [this](bool add) {
    const int r = list_->currentRow();
    if (!add && r < 0) return;
    TriggerEntryDialog d(this);
    if (!add) {
      d.code->setText(list_->item(r, 0)->text());
      d.index->setText(list_->item(r, 1)->text());
    }
    while (d.exec() == QDialog::Accepted) {
      const QString m = add ? addTrigger(d.code->text(), d.index->text())
                            : modifySelected(d.code->text(), d.index->text());
      if (m.isEmpty()) break;
    }
  };
  connect(button(row, QStringLiteral("添加(&A)"), this), &QPushButton::clicked, this,
          [edit] { edit(true); });
  connect(button(row, QStringLiteral("修改(&M)"), this), &QPushButton::clicked, this,
          [edit] { edit(false); });
  connect(button(row, QStringLiteral("删除(&D)"), this), &QPushButton::clicked, this,
          [this] { deleteSelected(); });
  connect(button(row, QStringLiteral("保存(&S)"), this), &QPushButton::clicked, this,
          [this] { save(); });
  connect(button(row, QStringLiteral("关闭"), this), &QPushButton::clicked, this,
          &TriggerSettingsDialog::reject);
  l->addLayout(row);
}

QString TriggerSettingsDialog::addTrigger(const QString& code, const QString& index) {
  callproc::TriggerEntry e;
  const QString m = u(checkTrigger(s8(code.trimmed()), s8(index), &e));
  if (!m.isEmpty()) {
    ctx_.asker->inform(this, title(), m);
    return m;
  }
  const int r = list_->rowCount();
  list_->insertRow(r);
  setCell(list_, r, 0, u(e.code));
  setCell(list_, r, 1, QString::number(e.slot));
  dirty_ = true;
  return {};
}

QString TriggerSettingsDialog::modifySelected(const QString& code, const QString& index) {
  const int r = list_->currentRow();
  if (r < 0) return QStringLiteral("请选择");
  callproc::TriggerEntry e;
  const QString m = u(checkTrigger(s8(code.trimmed()), s8(index), &e));
  if (!m.isEmpty()) {
    ctx_.asker->inform(this, title(), m);
    return m;
  }
  setCell(list_, r, 0, u(e.code));
  setCell(list_, r, 1, QString::number(e.slot));
  dirty_ = true;
  return {};
}

void TriggerSettingsDialog::deleteSelected() {
  const int r = list_->currentRow();
  if (r < 0) return;
  if (ctx_.asker->ask(this, QStringLiteral("确实要删除该条记录吗?"), false) != Asker::kYes) return;
  list_->removeRow(r);
  dirty_ = true;
}

std::vector<callproc::TriggerEntry> TriggerSettingsDialog::rows() const {
  std::vector<callproc::TriggerEntry> out;
  for (int r = 0; r < list_->rowCount(); ++r)
    out.push_back({s8(list_->item(r, 0)->text()), list_->item(r, 1)->text().toInt()});
  return out;
}

bool TriggerSettingsDialog::save() {
  const auto entries = rows();
  ctx_.rt.post(callproc::ReplaceTriggers{liveTriggers(entries)});
  ctx_.cfg.triggers = entries;
  ctx_.cfg.triggerCount = static_cast<int>(entries.size());
  auto snap = ctx_.rt.snapshot();
  const std::vector<FlowRow> flows = snap ? flowRows(*snap) : std::vector<FlowRow>{};
  if (!writeIni(ctx_, this, [&](platform::IniFile& ini, std::string* e) {
        return writeFlowTriggerConfig(ini, flows, entries, e);
      }))
    return false;
  dirty_ = false;
  return true;
}

void TriggerSettingsDialog::reject() {
  if (dirty_) {
    switch (
        ctx_.asker->ask(this, QStringLiteral("加载流程触发条件配置已经改变,是否保存配置?"), true)) {
      case Asker::kYes:
        if (!save()) return;
        break;
      case Asker::kNo:
        break;
      case Asker::kCancel:
        return;
    }
  }
  QDialog::reject();
}

// ---- system, channels, data source

SystemSettingsDialog::SystemSettingsDialog(UiContext& ctx, QWidget* parent)
    : QDialog(parent), ctx_(ctx) {
  setWindowTitle(QStringLiteral("系统设置"));
  const SystemForm f = systemFormFrom(ctx_.cfg);
  auto* l = new QVBoxLayout(this);
  auto group = [this, l](const QString& name, QRadioButton*& a, const QString& at, QRadioButton*& b,
                         const QString& bt) {
    auto* g = new QGroupBox(name, this);
    auto* gl = new QHBoxLayout(g);
    a = new QRadioButton(at, g);
    b = new QRadioButton(bt, g);
    gl->addWidget(a);
    gl->addWidget(b);
    l->addWidget(g);
  };
  group(QStringLiteral("呼入权限"), allow, QStringLiteral("允许呼入"), bar,
        QStringLiteral("禁止呼入"));
  group(QStringLiteral("接入方式"), phone, QStringLiteral("电话接入"), simulated,
        QStringLiteral("模拟接入"));
  (f.callallow ? allow : bar)->setChecked(true);
  (f.callintype ? phone : simulated)->setChecked(true);
  auto* form = new QFormLayout;
  dtmfTimeout = new QLineEdit(QString::number(f.dtmftimeout), this);
  replayTime = new QLineEdit(QString::number(f.replaytime), this);
  replayCount = new QLineEdit(QString::number(f.replaycnt), this);
  port = new QLineEdit(QString::number(f.keycallport), this);
  calledNumber = new QLineEdit(u(f.callednum), this);
  form->addRow(QStringLiteral("外线电话号码"), calledNumber);
  form->addRow(QStringLiteral("按键超时时间"), dtmfTimeout);
  form->addRow(QStringLiteral("间隔时间"), replayTime);
  form->addRow(QStringLiteral("重复播放次数"), replayCount);
  form->addRow(QStringLiteral("本地DUP端口号"), port);
  l->addLayout(form);
  messageShow = new QCheckBox(QStringLiteral("消息显示"), this);
  messageShow->setChecked(f.messageshow != 0);
  l->addWidget(messageShow);
  auto* row = new QHBoxLayout;
  connect(button(row, QStringLiteral("确定"), this), &QPushButton::clicked, this,
          [this] { apply(); });
  connect(button(row, QStringLiteral("取消"), this), &QPushButton::clicked, this, &QDialog::reject);
  l->addLayout(row);
}

bool SystemSettingsDialog::apply() {
  SystemForm f;
  const QString m = u(parseSystemNumbers(s8(dtmfTimeout->text()), s8(replayTime->text()),
                                         s8(replayCount->text()), s8(port->text()), &f));
  if (!m.isEmpty()) {
    ctx_.asker->inform(this, title(), m);
    return false;
  }
  f.callallow = allow->isChecked() ? 1 : 0;
  f.callintype = phone->isChecked() ? 1 : 0;
  f.messageshow = messageShow->isChecked() ? 1 : 0;
  f.callednum = s8(calledNumber->text().trimmed());
  ctx_.rt.post(systemCommand(f));
  auto& c = ctx_.cfg;
  c.callallow = f.callallow;
  c.callintype = f.callintype;
  c.messageshow = f.messageshow;
  c.dtmftimeout = f.dtmftimeout;
  c.replaycnt = f.replaycnt;
  c.replaytime = f.replaytime;
  c.callednum = f.callednum;
  c.keycallport = f.keycallport;
  if (!writeIni(ctx_, this, [&](platform::IniFile& ini, std::string* e) {
        return writeSystemSettings(ini, f, e);
      }))
    return false;
  accept();
  return true;
}

ChannelSettingsDialog::ChannelSettingsDialog(UiContext& ctx, QWidget* parent)
    : QDialog(parent), ctx_(ctx) {
  setWindowTitle(QStringLiteral("通道设置"));
  auto* l = new QFormLayout(this);
  auto snap = ctx_.rt.snapshot();
  // Every configured channel, at least the eight the file has always had.
  const int n = std::max<int>(8, snap ? static_cast<int>(snap->channels.size()) : 0);
  for (int c = 0; c < n; ++c) {
    auto* e = new QLineEdit(this);
    if (snap && c < static_cast<int>(snap->channels.size()))
      e->setText(u(snap->channels[static_cast<size_t>(c)].number));
    else
      e->setText(u(callproc::lineNumberOf(platform::IniFile(ctx_.iniPath), c)));
    numbers.push_back(e);
    l->addRow(QStringLiteral("通道%1").arg(c), e);
  }
  auto* row = new QHBoxLayout;
  connect(button(row, QStringLiteral("确定"), this), &QPushButton::clicked, this,
          [this] { apply(); });
  connect(button(row, QStringLiteral("取消"), this), &QPushButton::clicked, this, &QDialog::reject);
  l->addRow(row);
}

bool ChannelSettingsDialog::apply() {
  std::vector<std::string> v;
  for (auto* e : numbers)
    v.push_back(s8(e->text().trimmed()));
  ctx_.rt.post(callproc::ChannelNumbers{v});
  if (!writeIni(ctx_, this, [&](platform::IniFile& ini, std::string* e) {
        return writeLineNumbers(ini, v, e);
      }))
    return false;
  accept();
  return true;
}

DataSourceDialog::DataSourceDialog(UiContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
  setWindowTitle(QStringLiteral("数据源设置"));
  const DataSourceForm f = dataSourceFormFrom(ctx_.cfg);
  auto* l = new QVBoxLayout(this);
  auto* top = new QFormLayout;
  kind = new QComboBox(this);
  kind->addItems({"Access", "SqlServer", "Oracle", "PostgreSQL"});
  top->addRow(QStringLiteral("数据库类型"), kind);
  l->addLayout(top);
  pages = new QTabWidget(this);
  auto page = [this](const QString& name) {
    auto* w = new QWidget(pages);
    pages->addTab(w, name);
    return new QFormLayout(w);
  };
  auto edit = [this](const std::string& v, bool secret = false) {
    auto* e = new QLineEdit(u(v), this);
    if (secret) e->setEchoMode(QLineEdit::Password);
    return e;
  };
  QFormLayout* access = page("Access");
  filename = edit(f.filename);
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(filename);
  auto* dots = new QPushButton(QStringLiteral("…"), this);
  dots->setFixedWidth(32);
  fileRow->addWidget(dots);
  access->addRow(QStringLiteral("文件名"), fileRow);
  connect(dots, &QPushButton::clicked, this, &DataSourceDialog::browse);
  QFormLayout* sql = page("SqlServer");
  const bool pg = f.type == 3;
  sql->addRow(QStringLiteral("服务器"), server = edit(pg ? "" : f.server));
  sql->addRow(QStringLiteral("数据库"), data = edit(pg ? "" : f.data));
  sql->addRow(QStringLiteral("用户名"), user = edit(pg ? "" : f.user));
  sql->addRow(QStringLiteral("密码"), pass = edit(pg ? "" : f.pass, true));
  QFormLayout* ora = page("Oracle");
  ora->addRow(QStringLiteral("服务名称"), service = edit(f.service));
  ora->addRow(QStringLiteral("用户名"), username = edit(f.username));
  ora->addRow(QStringLiteral("密码"), password = edit(f.password, true));
  QFormLayout* pgp = page("PostgreSQL");
  pgp->addRow(QStringLiteral("服务器"), pgServer = edit(pg ? f.server : ""));
  pgp->addRow(QStringLiteral("端口"), pgPort = edit(f.port));
  pgp->addRow(QStringLiteral("数据库"), pgData = edit(pg ? f.data : ""));
  pgp->addRow(QStringLiteral("用户名"), pgUser = edit(pg ? f.user : ""));
  pgp->addRow(QStringLiteral("密码"), pgPass = edit(pg ? f.pass : "", true));
  l->addWidget(pages);
  setMinimumWidth(460);
  connect(kind, &QComboBox::currentIndexChanged, pages, &QTabWidget::setCurrentIndex);
  connect(pages, &QTabWidget::currentChanged, kind, &QComboBox::setCurrentIndex);
  kind->setCurrentIndex(f.type >= 0 && f.type <= 3 ? f.type : 0);
  pages->setCurrentIndex(kind->currentIndex());
  auto* row = new QHBoxLayout;
  connect(button(row, QStringLiteral("确定(&O)"), this), &QPushButton::clicked, this,
          [this] { apply(); });
  connect(button(row, QStringLiteral("取消"), this), &QPushButton::clicked, this, &QDialog::reject);
  l->addLayout(row);
}

void DataSourceDialog::browse() {
  // The file database is SQLite.
  const QString f = ctx_.asker->openFile(
      this, QStringLiteral("文件名"),
      QStringLiteral("SQLite数据库 (*.db *.sqlite *.sqlite3 *.db3);;所有文件 (*)"));
  if (!f.isEmpty()) filename->setText(f);
}

bool DataSourceDialog::apply() {
  DataSourceForm f;
  f.type = kind->currentIndex();
  f.filename = s8(filename->text().trimmed());
  if (f.type == 3) {
    f.server = s8(pgServer->text().trimmed());
    f.port = s8(pgPort->text().trimmed());
    f.data = s8(pgData->text().trimmed());
    f.user = s8(pgUser->text().trimmed());
    f.pass = s8(pgPass->text());
  } else {
    f.server = s8(server->text().trimmed());
    f.data = s8(data->text().trimmed());
    f.user = s8(user->text().trimmed());
    f.pass = s8(pass->text());
  }
  f.service = s8(service->text().trimmed());
  f.username = s8(username->text().trimmed());
  f.password = s8(password->text());
  if (!writeIni(ctx_, this,
                [&](platform::IniFile& ini, std::string* e) { return writeDataSource(ini, f, e); }))
    return false;
  // The running connection stays; the browsers and the next start use these.
  auto& c = ctx_.cfg;
  c.dbType = f.type;
  if (f.type == 0) c.filename = f.filename;
  if (f.type == 1 || f.type == 3) {
    c.server = f.server;
    c.data = f.data;
    c.user = f.user;
    c.pass = f.pass;
    if (f.type == 3) c.dbPort = f.port;
  }
  if (f.type == 2) {
    c.service = f.service;
    c.username = f.username;
    c.password = f.password;
  }
  accept();
  return true;
}

}  // namespace ui
