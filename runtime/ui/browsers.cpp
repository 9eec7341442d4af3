#include "runtime/ui/browsers.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDateEdit>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>
#include <mutex>

#include "platform/gbk.h"
#include "platform/winpath.h"
#include "runtime/ui/audio.h"

namespace ui {

namespace {

QString u(const std::string& s) {
  return QString::fromStdString(s);
}
QString g(const std::string& gbk) {
  return QString::fromStdString(platform::gbkToUtf8(gbk));
}

// The browsers' own connection and worker, for the life of the program.
struct Connection {
  std::mutex mu;  // guards `open` and `key`; the database is used on the worker only
  callproc::Database db;
  std::string key;
  callproc::DbWorker worker;
};
Connection& connection() {
  static Connection c;
  return c;
}

std::string keyOf(const callproc::DbSettings& s) {
  std::string backend, connect, error;
  callproc::connectionFor(s, &backend, &connect, &error);
  return backend + "\n" + connect;
}

}  // namespace

void runBrowserQuery(const callproc::DbSettings& db, const Query& q, QObject* guard,
                     std::function<void(DbAnswer)> done) {
  Connection& c = connection();
  QPointer<QObject> alive(guard);
  c.worker.submit([&c, db, q, alive, done = std::move(done)] {
    DbAnswer a;
    const std::string key = keyOf(db);
    if (!c.db.isOpen() || c.key != key) {
      c.db.close();
      std::string error;
      if (!c.db.open(db, &error)) {
        a.error = {callproc::kErrGeneric, error};
      } else {
        c.key = key;
      }
    }
    if (c.db.isOpen()) a.ok = c.db.query(q.sql, q.params, &a.rows, &a.error);
    QMetaObject::invokeMethod(
        qApp,
        [alive, done, a = std::move(a)]() mutable {
          if (alive) done(std::move(a));
        },
        Qt::QueuedConnection);
  });
}

void drainBrowserQueries() {
  connection().worker.drain();
}

BrowserBase::BrowserBase(UiContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
  list_ = new QTableWidget(0, 0, this);
  list_->verticalHeader()->hide();
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  count_ = new QLineEdit(this);
  count_->setReadOnly(true);
  count_->setMaximumWidth(80);
  busyLabel_ = new QLabel(this);
  const QDate today = QDate::currentDate();
  fromDate = new QDateEdit(today, this);
  toDate = new QDateEdit(today, this);
  fromTime = new QTimeEdit(QTime(0, 0, 0), this);
  toTime = new QTimeEdit(QTime(23, 59, 59), this);
  for (QDateEdit* d : {fromDate, toDate}) {
    d->setCalendarPopup(true);
    d->setDisplayFormat("yyyy-MM-dd");
  }
  for (QTimeEdit* t : {fromTime, toTime})
    t->setDisplayFormat("HH:mm:ss");
}

int BrowserBase::rowCount() const {
  return list_->rowCount();
}

DateTime BrowserBase::from() const {
  const QDate d = fromDate->date();
  const QTime t = fromTime->time();
  return {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
}

DateTime BrowserBase::to() const {
  const QDate d = toDate->date();
  const QTime t = toTime->time();
  return {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
}

void BrowserBase::setBusy(bool on) {
  running_ += on ? 1 : -1;
  busyLabel_->setText(running_ > 0 ? QStringLiteral("正在查询…") : QString());
  if (running_ > 0)
    QApplication::setOverrideCursor(Qt::BusyCursor);
  else
    QApplication::restoreOverrideCursor();
}

void BrowserBase::list(const Query& q, const std::vector<std::string>& columns,
                       const std::string& idColumn, const QString& emptyText) {
  setBusy(true);
  runBrowserQuery(ctx_.db, q, this, [this, columns, idColumn, emptyText](DbAnswer a) {
    setBusy(false);
    if (!a.ok) {
      ctx_.asker->inform(this, QString::fromUtf8(kTitle), u(a.error.message));
      return;
    }
    // Columns by name, without regard to case, as the databases spell them.
    auto find = [&](const std::string& name) {
      for (size_t i = 0; i < a.rows.columns.size(); ++i)
        if (platform::gbkAsciiLower(a.rows.columns[i]) == platform::gbkAsciiLower(name))
          return static_cast<int>(i);
      return -1;
    };
    std::vector<int> at;
    for (const auto& c : columns)
      at.push_back(find(c));
    const int idAt = find(idColumn);
    list_->setRowCount(0);
    ids_.clear();
    names_.clear();
    list_->setRowCount(static_cast<int>(a.rows.rows.size()));
    for (size_t r = 0; r < a.rows.rows.size(); ++r) {
      const auto& row = a.rows.rows[r];
      for (size_t c = 0; c < at.size(); ++c) {
        std::string text = at[c] >= 0 ? row[static_cast<size_t>(at[c])].text : "";
        if (columns[c].find("Time") != std::string::npos) text = shownTime(text);
        list_->setItem(static_cast<int>(r), static_cast<int>(c), new QTableWidgetItem(g(text)));
      }
      ids_.push_back(idAt >= 0 ? platform::gbkToUtf8(row[static_cast<size_t>(idAt)].text) : "");
      names_.push_back(at[0] >= 0 ? platform::gbkToUtf8(row[static_cast<size_t>(at[0])].text) : "");
    }
    count_->setText(QString::number(a.rows.rows.size()));
    if (a.rows.rows.empty()) ctx_.asker->inform(this, QString::fromUtf8(kTitle), emptyText);
  });
}

void BrowserBase::change(const Query& q, std::function<void()> then) {
  setBusy(true);
  runBrowserQuery(ctx_.db, q, this, [this, then](DbAnswer a) {
    setBusy(false);
    if (!a.ok) {
      ctx_.asker->inform(this, QString::fromUtf8(kTitle), u(a.error.message));
      return;
    }
    then();
  });
}

std::string BrowserBase::idOf(int row) const {
  return row >= 0 && row < static_cast<int>(ids_.size()) ? ids_[static_cast<size_t>(row)] : "";
}

void BrowserBase::removeRow(int row) {
  if (row < 0 || row >= list_->rowCount()) return;
  list_->removeRow(row);
  ids_.erase(ids_.begin() + row);
  names_.erase(names_.begin() + row);
  count_->setText(QString::number(count_->text().toInt() - 1));
}

namespace {
QPushButton* add(QBoxLayout* l, const QString& text, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  l->addWidget(b);
  return b;
}
QHBoxLayout* timeRow(BrowserBase* b) {
  auto* r = new QHBoxLayout;
  r->addWidget(new QLabel(QStringLiteral("从"), b));
  r->addWidget(b->fromDate);
  r->addWidget(b->fromTime);
  r->addWidget(new QLabel(QStringLiteral("到"), b));
  r->addWidget(b->toDate);
  r->addWidget(b->toTime);
  return r;
}
const std::vector<std::string> kCallColumns = {"CallerNo", "CalledNo", "StartTime", "EndTime",
                                               "CallLength"};
const std::vector<std::string> kMailColumns = {"RecordName", "StartTime", "EndTime",
                                               "RecordLength"};
}  // namespace

CallRecordBrowser::CallRecordBrowser(UiContext& ctx, QWidget* parent) : BrowserBase(ctx, parent) {
  setWindowTitle(QStringLiteral("通话记录"));
  list_->setColumnCount(5);
  list_->setHorizontalHeaderLabels({"主叫号码", "被叫号码", "开始时间", "结束时间", "通话时长"});
  const int widths[] = {100, 100, 150, 150, 80};
  for (int i = 0; i < 5; ++i)
    list_->setColumnWidth(i, widths[i]);
  auto* l = new QVBoxLayout(this);
  l->addWidget(list_);
  auto* filter = new QGroupBox(QStringLiteral("查询条件"), this);
  auto* fl = new QVBoxLayout(filter);
  auto* r1 = new QHBoxLayout;
  byCaller = new QRadioButton(QStringLiteral("主叫号码"), filter);
  byCalled = new QRadioButton(QStringLiteral("被叫号码"), filter);
  byTime = new QRadioButton(QStringLiteral("时间段"), filter);
  byCaller->setChecked(true);
  number = new QLineEdit(filter);
  r1->addWidget(byCaller);
  r1->addWidget(byCalled);
  r1->addWidget(number);
  fl->addLayout(r1);
  auto* r2 = timeRow(this);
  r2->insertWidget(0, byTime);
  fl->addLayout(r2);
  l->addWidget(filter);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(new QLabel(QStringLiteral("记录数"), this));
  buttons->addWidget(count_);
  buttons->addWidget(busyLabel_, 1);
  connect(add(buttons, QStringLiteral("查询(&S)"), this), &QPushButton::clicked, this,
          &CallRecordBrowser::search);
  connect(add(buttons, QStringLiteral("刷新(&F)"), this), &QPushButton::clicked, this,
          &CallRecordBrowser::refresh);
  connect(add(buttons, QStringLiteral("删除(&D)"), this), &QPushButton::clicked, this,
          &CallRecordBrowser::deleteSelected);
  connect(add(buttons, QStringLiteral("关闭(&C)"), this), &QPushButton::clicked, this,
          &QDialog::reject);
  l->addLayout(buttons);
  resize(680, 480);
  refresh();
}

void CallRecordBrowser::refresh() {
  std::string m;
  list(callRecordQuery(CallFilter::kAll, "", from(), to(), ctx_.db.type, &m), kCallColumns,
       "CallID", QStringLiteral("没有符合条件的记录"));
}

void CallRecordBrowser::search() {
  const CallFilter f = byCaller->isChecked()   ? CallFilter::kCaller
                       : byCalled->isChecked() ? CallFilter::kCalled
                                               : CallFilter::kTimeRange;
  std::string message;
  const Query q = callRecordQuery(f, number->text().trimmed().toStdString(), from(), to(),
                                  ctx_.db.type, &message);
  if (!message.empty()) {
    ctx_.asker->inform(this, QString::fromUtf8(kTitle), u(message));
    return;
  }
  list(q, kCallColumns, "CallID", QStringLiteral("没有符合条件的记录"));
}

void CallRecordBrowser::deleteSelected() {
  const int row = list_->currentRow();
  const std::string refusal = deleteRefusal(rowCount(), row, false);
  if (!refusal.empty()) {
    ctx_.asker->inform(this, QString::fromUtf8(kTitle), u(refusal));
    return;
  }
  if (ctx_.asker->ask(this, QStringLiteral("确实要删除该条呼叫记录吗?"), false) != Asker::kYes)
    return;
  const std::string id = idOf(row);
  change(deleteCallRecord(id), [this, id] {
    // The row may have moved while the statement ran.
    for (int r = 0; r < rowCount(); ++r)
      if (idOf(r) == id) return removeRow(r);
  });
}

VoiceMailBrowser::VoiceMailBrowser(UiContext& ctx, QWidget* parent) : BrowserBase(ctx, parent) {
  setWindowTitle(QStringLiteral("听留言"));
  list_->setColumnCount(4);
  list_->setHorizontalHeaderLabels({"留言文件名", "开始时间", "结束时间", "留言时长"});
  const int widths[] = {180, 180, 180, 100};
  for (int i = 0; i < 4; ++i)
    list_->setColumnWidth(i, widths[i]);
  auto* l = new QVBoxLayout(this);
  l->addWidget(list_);
  auto* filters = new QHBoxLayout;
  const std::pair<const char*, MailFilter> kinds[] = {{"已听留言", MailFilter::kHeard},
                                                      {"未听留言", MailFilter::kUnheard},
                                                      {"电话留言", MailFilter::kPhone},
                                                      {"模拟留言", MailFilter::kSimulated}};
  for (const auto& [name, f] : kinds)
    connect(add(filters, QString::fromUtf8(name), this), &QPushButton::clicked, this,
            [this, f = f] { showFilter(f); });
  connect(add(filters, QStringLiteral("刷新"), this), &QPushButton::clicked, this,
          [this] { showFilter(MailFilter::kAll); });
  l->addLayout(filters);
  auto* times = timeRow(this);
  connect(add(times, QStringLiteral("查询"), this), &QPushButton::clicked, this,
          [this] { showFilter(MailFilter::kTimeRange); });
  l->addLayout(times);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(new QLabel(QStringLiteral("记录数"), this));
  buttons->addWidget(count_);
  position_ = new QLabel(this);
  buttons->addWidget(position_);
  buttons->addWidget(busyLabel_, 1);
  connect(add(buttons, QStringLiteral("听留言(&L)"), this), &QPushButton::clicked, this,
          &VoiceMailBrowser::play);
  connect(add(buttons, QStringLiteral("停止(&S)"), this), &QPushButton::clicked, this,
          &VoiceMailBrowser::stop);
  connect(add(buttons, QStringLiteral("删除(&D)"), this), &QPushButton::clicked, this,
          &VoiceMailBrowser::deleteSelected);
  close_ = add(buttons, QStringLiteral("关闭(&C)"), this);
  connect(close_, &QPushButton::clicked, this, &VoiceMailBrowser::reject);
  l->addLayout(buttons);
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, &VoiceMailBrowser::tick);
  audio_ = ctx_.audio;
  if (!audio_) audio_ = ownAudio_ = new QtAudioOutput;
  resize(700, 480);
  showFilter(MailFilter::kOpen);
}

VoiceMailBrowser::~VoiceMailBrowser() {
  if (playing_ && playMode_ == 0) audio_->stop();
  if (playing_ && playMode_ == 1) ctx_.rt.post(callproc::WindowPlay{0, {}, 1, true});
  delete ownAudio_;
}

void VoiceMailBrowser::showFilter(MailFilter f) {
  list(voiceMailQuery(f, from(), to(), ctx_.db.type), kMailColumns, "RecordID",
       QStringLiteral("没有符合条件记录"));
}

bool VoiceMailBrowser::playing() const {
  return playing_;
}

void VoiceMailBrowser::play() {
  const QString title = QString::fromUtf8(kTitle);
  if (rowCount() == 0) return ctx_.asker->inform(this, title, QStringLiteral("没有可播放的留言"));
  const int row = list_->currentRow();
  if (row < 0) return ctx_.asker->inform(this, title, QStringLiteral("请选择要播放的留言"));
  if (playing_) return;
  const std::string name = names_[static_cast<size_t>(row)];
  const int mode = playModeFor(name);
  if (mode == 1) {
    // A telephone-format message is heard on channel 0 of the lines.
    auto snap = ctx_.rt.snapshot();
    playPass_ = snap ? snap->pass : 0;
    ctx_.rt.post(callproc::WindowPlay{0, platform::utf8ToGbk(name), 1, false});
  } else if (mode == 0) {
    QFile f(u(platform::openableUtf8Path(name)));
    if (!f.open(QIODevice::ReadOnly))
      return ctx_.asker->inform(this, title, QStringLiteral("无法打开留言文件：%1").arg(u(name)));
    const QByteArray data = f.readAll();
    std::vector<int16_t> samples;
    int rate = 8000;
    std::string error;
    if (!voiceFileSamples(std::vector<uint8_t>(data.begin(), data.end()), &samples, &rate,
                          &error) ||
        !audio_->start(std::move(samples), rate, &error))
      return ctx_.asker->inform(this, title, u(error) + "：" + u(name));
  } else {
    return ctx_.asker->inform(this, title, QStringLiteral("无法识别的留言文件：%1").arg(u(name)));
  }
  playMode_ = mode;
  playing_ = true;
  stopPressed_ = false;
  playingId_ = idOf(row);
  close_->setEnabled(false);
  timer_->start(100);
}

void VoiceMailBrowser::tick() {
  if (!playing_) return;
  bool going = false;
  if (playMode_ == 1) {
    auto snap = ctx_.rt.snapshot();
    // Until a pass has taken the command, the snapshot says nothing of it.
    if (!snap || snap->pass <= playPass_ || snap->channels.empty()) return;
    const int state = snap->channels[0].windowPlay;
    if (state < 0) {
      timer_->stop();
      playing_ = false;
      close_->setEnabled(true);
      ctx_.asker->inform(this, QString::fromUtf8(kTitle), QStringLiteral("通道0无法播放该留言"));
      return;
    }
    going = state == 1;
    position_->setText(going ? QStringLiteral("通道0播放中") : QString());
  } else {
    going = audio_->playing();
    position_->setText(QStringLiteral("%1 秒").arg(audio_->positionMs() / 1000.0, 0, 'f', 1));
  }
  if (going && !stopPressed_) return;
  timer_->stop();
  playing_ = false;
  close_->setEnabled(true);
  // The message heard is the one that was played, even if the selection
  // moved meanwhile.
  change(markHeard(playingId_), [] {});
}

void VoiceMailBrowser::stop() {
  if (!playing_) return;
  stopPressed_ = true;
  if (playMode_ == 1)
    ctx_.rt.post(callproc::WindowPlay{0, {}, 1, true});
  else
    audio_->stop();
}

void VoiceMailBrowser::deleteSelected() {
  const int row = list_->currentRow();
  const std::string refusal = deleteRefusal(rowCount(), row, true);
  if (!refusal.empty()) {
    ctx_.asker->inform(this, QString::fromUtf8(kTitle), u(refusal));
    return;
  }
  if (ctx_.asker->ask(this, QStringLiteral("确实要删除该条记录吗?"), false) != Asker::kYes) return;
  const std::string id = idOf(row);
  change(deleteVoiceMail(id), [this, id] {
    for (int r = 0; r < rowCount(); ++r)
      if (idOf(r) == id) return removeRow(r);
  });
}

void VoiceMailBrowser::reject() {
  if (playing_) return;
  QDialog::reject();
}

}  // namespace ui
