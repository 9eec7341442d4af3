// The runtime's windows under the offscreen platform: every dialog's
// behaviour and messages, the configuration it writes, the browsers against
// a SQLite database, the trace box, and a picture of the main window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimeEdit>
#include <deque>
#include <fstream>

#include "runtime/callproc/db_test_targets.h"
#include "runtime/callproc/test_support.h"
#include "runtime/ui/audio.h"
#include "runtime/ui/browsers.h"
#include "runtime/ui/dialogs.h"
#include "runtime/ui/main_window.h"

namespace ui {
namespace {

using callproc::testing::simpleFlow;

// Answers for the person: every message is kept, questions take the queued
// answers (Yes when none is queued).
class ScriptedAsker : public Asker {
 public:
  void inform(QWidget*, const QString& title, const QString& text) override {
    titles.push_back(title.toStdString());
    messages.push_back(text.toStdString());
  }
  Answer ask(QWidget*, const QString& text, bool withCancel) override {
    questions.push_back(text.toStdString());
    cancelOffered.push_back(withCancel);
    if (answers.empty()) return kYes;
    Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  QString openFile(QWidget*, const QString&, const QString& filter) override {
    filters.push_back(filter.toStdString());
    return QString::fromStdString(file);
  }
  QString pickFolder(QWidget*, const QString& caption) override {
    filters.push_back(caption.toStdString());
    return QString::fromStdString(folder);
  }
  std::vector<std::string> titles, messages, questions, filters;
  std::vector<bool> cancelOffered;
  std::deque<Answer> answers;
  std::string file, folder;
};

class FakeAudio : public AudioOutput {
 public:
  bool start(std::vector<int16_t> s, int r, std::string*) override {
    samples = std::move(s);
    rate = r;
    on = true;
    return true;
  }
  void stop() override { on = false; }
  bool playing() const override { return on; }
  int64_t positionMs() const override { return 1500; }
  std::vector<int16_t> samples;
  int rate = 0;
  bool on = false;
};

std::string readFile(const std::string& path) {
  std::ifstream f(path);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

class UiTest : public callproc::testing::RuntimeFixture {
 public:
  UiTest() { ctx_.audio = &audio_; }
  void start(std::vector<callproc::FlowEntry> flows = {},
             std::vector<callproc::TriggerEntry> triggers = {{"8888", 0}}) {
    if (flows.empty()) flows = {{0, dir_.write("a.cpl", simpleFlow()), "voc"}};
    ASSERT_EQ(startWith(flows, triggers), callproc::StartResult::kRunning);
    ctx_.cfg.flows = flows;
    ctx_.cfg.flowCount = static_cast<int>(flows.size());
    ctx_.cfg.triggers = triggers;
    ctx_.cfg.callintype = 0;
    ctx_.cfg.filename = dir_.file("db.sqlite");
    ctx_.db = callproc::dbSettingsFrom(ctx_.cfg);
    passes(1);
  }
  void call(int c, const std::string& caller = "13900001111") {
    rt_.post(callproc::KeyCallEvent{c, callproc::KeyCallEvent::kBegin, caller});
    passes(2);
  }
  // Runs passes, the browsers' statements and the GUI's events until `done`.
  template <typename F>
  bool settle(F done) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 3000) {
      rt_.scanPass();
      drainBrowserQueries();
      QCoreApplication::processEvents();
      if (done()) return true;
    }
    return false;
  }
  ScriptedAsker asker_;
  FakeAudio audio_;
  UiContext ctx_{rt_, dir_.file("sysconfig.ini"), {}, &asker_, {}, nullptr};
};

QString cell(QTableWidget* t, int r, int c) {
  return t->item(r, c) ? t->item(r, c)->text() : "?";
}

// ---- main window

TEST_F(UiTest, MainWindowPanelMenusAndTraceBox) {
  start();
  TraceQueue queue;
  trace_.addSink(&queue);
  MainWindow w(ctx_, queue);
  EXPECT_EQ(w.windowTitle().toStdString(), "Sarvent V3.0");
  call(3, "555");
  w.refresh();
  QTableWidget* t = w.channelTable();
  ASSERT_EQ(t->rowCount(), 8);
  EXPECT_EQ(cell(t, 0, 0).toStdString(), "通道０");
  EXPECT_EQ(cell(t, 0, 2).toStdString(), "空闲");
  EXPECT_EQ(cell(t, 3, 1).toStdString(), "8888");
  EXPECT_EQ(cell(t, 3, 3).toStdString(), "555");
  EXPECT_EQ(cell(t, 3, 4).toStdString(), "0");
  EXPECT_EQ(cell(t, 3, 5).toStdString(), "1 (类型41)");
  EXPECT_EQ(t->item(3, 0)->data(Qt::UserRole).toInt(), 2);  // off-hook icon
  EXPECT_EQ(t->item(0, 0)->data(Qt::UserRole).toInt(), 1);

  std::vector<std::string> menus;
  for (QAction* m : w.menuBar()->actions()) {
    menus.push_back(m->text().toStdString());
    for (QAction* a : m->menu()->actions())
      if (!a->isSeparator()) menus.push_back("  " + a->text().toStdString());
  }
  EXPECT_EQ(menus, (std::vector<std::string>{
                       "操作(&O)", "  摘机控制(&Z)", "  挂机控制(&G)", "  自动拨号(&D)",
                       "  听留言(&L)", "  呼叫记录(&C)", "  退出(&X)", "设置(&S)", "  数据源设置",
                       "  系统设置", "  通道设置", "  流程设置", "  流程触发设置", "界面(&C)",
                       "  界面1", "  界面2", "  界面3", "帮助(&H)", "  关于(&A)"}));

  // 600 lines, one with a "%" taken literally: the box keeps the last 500.
  for (int i = 0; i < 600; ++i)
    trace_("通道%d=>(1)%%d 第%d行", i % 2, i);
  w.refresh();
  QPlainTextEdit* box = w.traceBox();
  EXPECT_EQ(box->blockCount(), 500);
  EXPECT_NE(box->toPlainText().toStdString().find("通道0=>(1)%d 第100行"), std::string::npos);
  EXPECT_EQ(box->toPlainText().toStdString().find("第99行"), std::string::npos);
  EXPECT_TRUE(box->toPlainText().endsWith(QStringLiteral("第599行")));
  w.resize(700, 500);
  w.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(box->verticalScrollBar()->value(), box->verticalScrollBar()->maximum());
  EXPECT_GT(box->verticalScrollBar()->maximum(), 0);

  // Filter by channel, then pause: lines keep coming but the box stands.
  w.setFilter(1);
  EXPECT_EQ(box->blockCount(), 250);
  EXPECT_EQ(box->toPlainText().toStdString().find("通道0=>"), std::string::npos);
  w.setPaused(true);
  trace_("通道1复位");
  w.refresh();
  EXPECT_FALSE(box->toPlainText().endsWith(QStringLiteral("通道1复位")));
  w.setPaused(false);
  EXPECT_TRUE(box->toPlainText().endsWith(QStringLiteral("通道1复位")));
  w.setFilter(-1);
  EXPECT_EQ(box->blockCount(), 500);

  // The three looks of "界面(&C)".
  const char* styles[] = {"fusion", "windows", "fusion"};
  for (int i = 0; i < 3; ++i) {
    w.setSkin(i);
    EXPECT_EQ(QApplication::style()->name().toStdString(), styles[i]);
  }
  EXPECT_NE(QApplication::palette().color(QPalette::Window),
            QApplication::style()->standardPalette().color(QPalette::Window));  // dark
  trace_.removeSink(&queue);
}

// Telephone access with more channels than the first eight: every one is
// listed, and the panel scrolls.
TEST_F(UiTest, PanelListsEveryChannel) {
  fake_.channelCount = 12;
  callproc::SysConfig cfg;
  cfg.callintype = 1;
  cfg.filename = dir_.write("db.sqlite", "");
  platform::IniFile ini(dir_.write("sysconfig.ini", "[Out11]\nlineno=6011\n"));
  std::string error;
  ASSERT_EQ(rt_.start(cfg, ini, &error), callproc::StartResult::kRunning) << error;
  passes(1);
  TraceQueue queue;
  MainWindow w(ctx_, queue);
  w.resize(700, 500);
  w.show();
  w.refresh();
  QCoreApplication::processEvents();
  QTableWidget* t = w.channelTable();
  ASSERT_EQ(t->rowCount(), 12);
  EXPECT_EQ(cell(t, 11, 0).toStdString(), "通道１１");
  EXPECT_EQ(cell(t, 11, 1).toStdString(), "6011");
  EXPECT_GT(t->verticalScrollBar()->maximum(), 0);
}

// ---- line control

TEST_F(UiTest, LineControlRefusesInnerLines) {
  fake_.setType(2, 2);
  start();
  LineControlDialog d(ctx_, true);
  d.channelEdit()->setText("2");
  EXPECT_FALSE(d.confirm());
  ASSERT_EQ(asker_.messages.size(), 1u);
  EXPECT_EQ(asker_.messages[0], "错误：通道2不是外线通道!");
  EXPECT_EQ(asker_.titles[0], "ERROR");
  d.channelEdit()->setText("8");  // beyond the channels
  EXPECT_FALSE(d.confirm());
  EXPECT_EQ(asker_.messages[1], "错误：通道8不是外线通道!");
  d.channelEdit()->setText("5");
  EXPECT_TRUE(d.confirm());
  passes(1);
  EXPECT_EQ(rt_.snapshot()->channels[5].status, 1);  // "摘机"
  EXPECT_EQ(rt_.snapshot()->channels[5].icon, 1);

  DialDialog dial(ctx_);
  dial.channelEdit()->setText("2");
  EXPECT_FALSE(dial.dial());
  EXPECT_EQ(asker_.messages.back(), "错误：通道2不是外线通道!");
  dial.channelEdit()->setText("4");
  dial.numberEdit()->setText("95555");
  EXPECT_TRUE(dial.dial());
}

// ---- flow settings

TEST_F(UiTest, FlowDialogAddRefusesDuplicatesAndSaves) {
  start(
      {{0, dir_.write("a.cpl", simpleFlow()), "va"}, {9, dir_.write("c.cpl", simpleFlow()), "vc"}});
  FlowSettingsDialog d(ctx_);
  ASSERT_EQ(d.list()->rowCount(), 2);
  EXPECT_EQ(cell(d.list(), 1, 0).toStdString(), "9");
  EXPECT_EQ(cell(d.list(), 1, 3).toStdString(), "use(0:0) ver(1:0)");
  EXPECT_EQ(
      d.addFlow(QString::fromStdString(dir_.write("b.cpl", simpleFlow())), "vb", "9").toStdString(),
      "流程编号重复，请重新选择编号");
  EXPECT_EQ(asker_.messages.back(), "流程编号重复，请重新选择编号");
  passes(1);
  EXPECT_EQ(rt_.snapshot()->flows.size(), 2u);  // nothing loaded

  // A file that is no flow adds nothing.
  EXPECT_EQ(d.addFlow(QString::fromStdString(dir_.write("bad.cpl", "not a flow")), "vb", "7"), "");
  ASSERT_TRUE(settle([&] { return d.pending() == 0; }));
  EXPECT_EQ(d.list()->rowCount(), 2);
  EXPECT_NE(asker_.messages.back().find("编号7加载失败"), std::string::npos);

  EXPECT_EQ(d.addFlow(QString::fromStdString(dir_.file("b.cpl")), "vb", "5"), "");
  ASSERT_TRUE(settle([&] { return d.pending() == 0; }));
  ASSERT_EQ(d.list()->rowCount(), 3);
  EXPECT_EQ(cell(d.list(), 1, 0).toStdString(), "5");  // in slot order
  EXPECT_EQ(cell(d.list(), 1, 3).toStdString(), "use(0:0) ver(1:0)");
  EXPECT_TRUE(d.dirty());

  // Closing with unsaved changes: Cancel stays, Yes saves.
  asker_.answers = {Asker::kCancel, Asker::kYes};
  d.show();
  d.reject();
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(asker_.questions.back(), "加栽流程文件配置已经改变,是否保存配置?");
  EXPECT_TRUE(asker_.cancelOffered.back());
  d.reject();
  EXPECT_FALSE(d.isVisible());
  const callproc::SysConfig cfg = callproc::readSysConfig(platform::IniFile(ctx_.iniPath));
  ASSERT_EQ(cfg.flowCount, 3);
  EXPECT_EQ(cfg.flows[0].slot, 0);
  EXPECT_EQ(cfg.flows[1].slot, 5);
  EXPECT_EQ(cfg.flows[1].vocDir, "vb");
  EXPECT_EQ(cfg.flows[2].slot, 9);
  EXPECT_EQ(cfg.triggerCount, 1);
  EXPECT_EQ(callproc::lineNumberOf(platform::IniFile(ctx_.iniPath), 7), "8888");  // kept
}

// Modifying the flow a call runs on: the new version goes beside it, the
// usage column shows the running bank's call and both versions, and the
// call ends on its own version.
TEST_F(UiTest, FlowDialogModifiesBesideARunningCall) {
  start();
  call(1);
  FlowSettingsDialog d(ctx_);
  ASSERT_EQ(d.list()->rowCount(), 1);
  EXPECT_EQ(cell(d.list(), 0, 3).toStdString(), "use(1:0) ver(1:0)");
  d.list()->selectRow(0);
  const std::string v2 = dir_.write("a2.cpl", simpleFlow(1, 3));
  ASSERT_TRUE(d.modifySelected(QString::fromStdString(v2), "voc2"));
  ASSERT_TRUE(settle([&] { return d.pending() == 0; }));
  EXPECT_EQ(cell(d.list(), 0, 3).toStdString(), "use(1:0) ver(1:2)");
  EXPECT_EQ(cell(d.list(), 0, 1).toStdString(), v2);
  EXPECT_EQ(rt_.snapshot()->channels[1].bank, 0);  // still on the old version
  call(2);
  d.refreshUsage();
  EXPECT_EQ(cell(d.list(), 0, 3).toStdString(), "use(1:1) ver(1:2)");
  rt_.post(callproc::KeyCallEvent{1, callproc::KeyCallEvent::kEnd, ""});
  passes(60);
  d.refreshUsage();
  EXPECT_EQ(cell(d.list(), 0, 3).toStdString(), "use(0:1) ver(1:2)");
}

TEST_F(UiTest, FlowDialogDeleteAsks) {
  start(
      {{0, dir_.write("a.cpl", simpleFlow()), "va"}, {4, dir_.write("b.cpl", simpleFlow()), "vb"}});
  FlowSettingsDialog d(ctx_);
  d.list()->selectRow(0);
  asker_.answers = {Asker::kNo};
  d.deleteSelected();
  EXPECT_EQ(asker_.questions.back(), "确实要删除该条记录吗?");
  EXPECT_EQ(d.list()->rowCount(), 2);
  d.deleteSelected();  // Yes
  EXPECT_EQ(d.list()->rowCount(), 1);
  passes(1);
  ASSERT_EQ(rt_.snapshot()->flows.size(), 1u);
  EXPECT_EQ(rt_.snapshot()->flows[0].slot, 4);
  // No discards: nothing is written.
  asker_.answers = {Asker::kNo};
  const std::string before = readFile(ctx_.iniPath);
  d.reject();
  EXPECT_EQ(readFile(ctx_.iniPath), before);
}

TEST_F(UiTest, FlowEntryPickers) {
  start();
  FlowEntryDialog e(ctx_);
  asker_.file = "/srv/flows/main";
  asker_.folder = "/srv/voice";
  e.browseFile();
  e.browseFolder();
  EXPECT_EQ(e.file->text().toStdString(), "/srv/flows/main.cpl");  // default extension
  EXPECT_EQ(e.vocDir->text().toStdString(), "/srv/voice");
  EXPECT_EQ(asker_.filters[0], "ivr流程运行文件 (*.cpl)");
  EXPECT_EQ(asker_.filters[1], "当前选择目录");
}

// ---- triggers

TEST_F(UiTest, TriggerDialogRebuildsTheLiveTableOnSave) {
  start(
      {{0, dir_.write("a.cpl", simpleFlow()), "va"}, {3, dir_.write("b.cpl", simpleFlow()), "vb"}},
      {{"8888", 0}});
  TriggerSettingsDialog d(ctx_);
  ASSERT_EQ(d.list()->rowCount(), 1);
  EXPECT_EQ(d.addTrigger("88X", "3"), "");
  EXPECT_EQ(d.addTrigger(QString(20, '1'), "3").toStdString(), "接入码不能超过19个字符");
  d.list()->selectRow(0);
  EXPECT_EQ(d.modifySelected("7777", "0"), "");
  EXPECT_EQ(cell(d.list(), 0, 0).toStdString(), "7777");
  asker_.answers = {Asker::kYes};
  d.show();
  d.reject();
  EXPECT_EQ(asker_.questions.back(), "加载流程触发条件配置已经改变,是否保存配置?");
  passes(1);
  ASSERT_NE(rt_.matchTrigger("885"), nullptr);
  EXPECT_EQ(rt_.matchTrigger("885")->slot, 3);
  EXPECT_EQ(rt_.matchTrigger("8888"), nullptr);  // 88X wants 3 digits; 8888 was replaced
  const callproc::SysConfig cfg = callproc::readSysConfig(platform::IniFile(ctx_.iniPath));
  ASSERT_EQ(cfg.triggerCount, 2);
  EXPECT_EQ(cfg.triggers[0].code, "7777");
  EXPECT_EQ(cfg.triggers[1].code, "88X");
  EXPECT_EQ(cfg.triggers[1].slot, 3);
  EXPECT_EQ(cfg.flowCount, 2);
  EXPECT_EQ(cfg.flows[1].slot, 3);

  TriggerSettingsDialog again(ctx_);
  again.list()->selectRow(1);
  asker_.answers = {Asker::kYes};
  again.deleteSelected();
  EXPECT_EQ(asker_.questions.back(), "确实要删除该条记录吗?");
  EXPECT_EQ(again.list()->rowCount(), 1);
}

// ---- system, channel and data source settings

TEST_F(UiTest, SystemSettingsTakeEffectAtOnce) {
  start();
  ASSERT_EQ(rt_.channelCount(), 8);
  SystemSettingsDialog d(ctx_);
  EXPECT_TRUE(d.simulated->isChecked());
  d.phone->setChecked(true);
  d.port->setText("70000");
  EXPECT_FALSE(d.apply());
  EXPECT_EQ(asker_.messages.back(), "本地DUP端口号必须是0到65535的整数");
  d.port->setText("9100");
  d.messageShow->setChecked(false);
  d.bar->setChecked(true);
  d.dtmfTimeout->setText("20");
  EXPECT_TRUE(d.apply());
  passes(1);
  EXPECT_EQ(rt_.channelCount(), 2);  // telephone access: the voice box's two
  EXPECT_FALSE(trace_.showing());
  const callproc::SysConfig cfg = callproc::readSysConfig(platform::IniFile(ctx_.iniPath));
  EXPECT_EQ(cfg.callintype, 1);
  EXPECT_EQ(cfg.callallow, 0);
  EXPECT_EQ(cfg.messageshow, 0);
  EXPECT_EQ(cfg.dtmftimeout, 20);
  EXPECT_EQ(cfg.keycallport, 9100);

  SystemSettingsDialog back(ctx_);
  back.simulated->setChecked(true);
  EXPECT_TRUE(back.apply());
  passes(1);
  EXPECT_EQ(rt_.channelCount(), 8);
}

TEST_F(UiTest, ChannelSettingsRenumberAtOnce) {
  start({}, {{"8001", 0}});
  ChannelSettingsDialog d(ctx_);
  ASSERT_EQ(d.numbers.size(), 8u);
  EXPECT_EQ(d.numbers[0]->text().toStdString(), "8888");
  d.numbers[6]->setText("8001");
  EXPECT_TRUE(d.apply());
  passes(1);
  EXPECT_EQ(rt_.snapshot()->channels[6].number, "8001");
  EXPECT_EQ(callproc::lineNumberOf(platform::IniFile(ctx_.iniPath), 6), "8001");
  call(6);
  EXPECT_EQ(rt_.snapshot()->channels[6].slot, 0);
}

TEST_F(UiTest, DataSourceKinds) {
  start();
  DataSourceDialog d(ctx_);
  EXPECT_EQ(d.kind->count(), 4);
  EXPECT_EQ(d.kind->currentIndex(), 0);
  EXPECT_EQ(d.filename->text().toStdString(), dir_.file("db.sqlite"));
  asker_.file = "/data/ivr.sqlite";
  d.browse();
  EXPECT_EQ(asker_.filters.back(), "SQLite数据库 (*.db *.sqlite *.sqlite3 *.db3);;所有文件 (*)");
  EXPECT_EQ(d.filename->text().toStdString(), "/data/ivr.sqlite");
  d.kind->setCurrentIndex(3);
  EXPECT_EQ(d.pages->currentIndex(), 3);
  d.pgServer->setText("db.local");
  d.pgPort->setText("5433");
  d.pgData->setText("ivr");
  d.pgUser->setText("ivr");
  d.pgPass->setText("secret");
  EXPECT_TRUE(d.apply());
  const callproc::SysConfig cfg = callproc::readSysConfig(platform::IniFile(ctx_.iniPath));
  EXPECT_EQ(cfg.dbType, 3);
  EXPECT_EQ(cfg.server, "db.local");
  EXPECT_EQ(cfg.dbPort, "5433");
  EXPECT_EQ(cfg.pass, "secret");
  EXPECT_EQ(ctx_.db.type, 0);  // the running connection stays until the next start

  DataSourceDialog again(ctx_);
  EXPECT_EQ(again.kind->currentIndex(), 3);
  EXPECT_EQ(again.pgServer->text().toStdString(), "db.local");
  again.kind->setCurrentIndex(2);
  again.service->setText("ORCL");
  again.username->setText("scott");
  EXPECT_TRUE(again.apply());
  const callproc::SysConfig c2 = callproc::readSysConfig(platform::IniFile(ctx_.iniPath));
  EXPECT_EQ(c2.dbType, 2);
  EXPECT_EQ(c2.service, "ORCL");
  EXPECT_EQ(c2.server, "db.local");  // the other kinds' keys stay
}

// ---- browsers

class BrowserTest : public UiTest {
 public:
  void SetUp() override {
    start();
    callproc::Database db;
    std::string error;
    ASSERT_TRUE(db.open(ctx_.db, &error)) << error;
    callproc::DbError err;
    const std::string schema = readFile(std::string(OLVARO_SAMPLES_DIR) + "/db/schema.sql");
    size_t pos = 0;
    for (size_t semi; (semi = schema.find(';', pos)) != std::string::npos; pos = semi + 1) {
      std::string stmt = schema.substr(pos, semi - pos);
      if (stmt.find("CREATE") != std::string::npos) {
        ASSERT_TRUE(db.execute(stmt.substr(stmt.find("CREATE")), &err)) << err.message;
      }
    }
    const char* rows[] = {
        "insert into T_CallRecord values ('2024050607080901','13900001111','8888',"
        "'20240506070809','20240506071009',120)",
        "insert into T_CallRecord values ('2024050608000002','13900002222','8888',"
        "'20240506080000','20240506080100',60)",
        "insert into T_CallRecord values ('2024060109000003','13900001111','6000',"
        "'20240601090000','20240601090500',300)",
        "insert into T_LeaveWord values ('m1','leavmsg/msg1.wav','20240506070809',"
        "'20240506070819',10,0)",
        "insert into T_LeaveWord values ('m2','leavmsg/msg2.qx','20240507070809',"
        "'20240507070819',10,1)",
        "insert into T_LeaveWord values ('m3','leavmsg/msg3.wav','20240508070809',"
        "'20240508070819',10,0)",
    };
    for (const char* r : rows)
      ASSERT_TRUE(db.execute(r, &err)) << err.message;
  }
  int flagOf(const std::string& id) {
    callproc::Database db;
    std::string error;
    db.open(ctx_.db, &error);
    callproc::Database::Result r;
    callproc::DbError err;
    db.query("select ListenFlag from T_LeaveWord where RecordID=?", {id}, &r, &err);
    return r.rows.empty() ? -1 : std::stoi(r.rows[0][0].text);
  }
};

TEST_F(BrowserTest, CallRecordsFilterAndDelete) {
  CallRecordBrowser b(ctx_);
  EXPECT_TRUE(b.busy());  // the opening query runs on the worker
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  ASSERT_EQ(b.rowCount(), 3);
  EXPECT_EQ(b.count()->text().toStdString(), "3");
  EXPECT_EQ(cell(b.list(), 0, 0).toStdString(), "13900001111");
  EXPECT_EQ(cell(b.list(), 0, 2).toStdString(), "2024-05-06 07:08:09");
  EXPECT_EQ(cell(b.list(), 0, 4).toStdString(), "120");

  b.number->setText("");
  b.search();
  EXPECT_EQ(asker_.messages.back(), "请输入要查询的主叫号码!");
  b.byCalled->setChecked(true);
  b.search();
  EXPECT_EQ(asker_.messages.back(), "请输入要查询的被叫号码!");
  b.number->setText("6000");
  b.search();
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  EXPECT_EQ(b.rowCount(), 1);
  b.byCaller->setChecked(true);
  b.number->setText("13900001111' or '1'='1");
  b.search();
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  EXPECT_EQ(b.rowCount(), 0);
  EXPECT_EQ(asker_.messages.back(), "没有符合条件的记录");
  b.number->setText("13900001111");
  b.search();
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  EXPECT_EQ(b.rowCount(), 2);
  b.byTime->setChecked(true);
  b.fromDate->setDate(QDate(2024, 5, 6));
  b.fromTime->setTime(QTime(7, 30, 0));
  b.toDate->setDate(QDate(2024, 5, 31));
  b.toTime->setTime(QTime(0, 0, 0));
  b.search();
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  ASSERT_EQ(b.rowCount(), 1);
  EXPECT_EQ(cell(b.list(), 0, 1).toStdString(), "8888");
  EXPECT_EQ(cell(b.list(), 0, 0).toStdString(), "13900002222");

  b.list()->clearSelection();
  b.list()->setCurrentCell(-1, -1);
  b.deleteSelected();
  EXPECT_EQ(asker_.messages.back(), "请选择要删除的呼叫记录");
  b.list()->selectRow(0);
  asker_.answers = {Asker::kNo};
  b.deleteSelected();
  EXPECT_EQ(asker_.questions.back(), "确实要删除该条呼叫记录吗?");
  EXPECT_EQ(b.rowCount(), 1);
  b.deleteSelected();
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  EXPECT_EQ(b.rowCount(), 0);
  EXPECT_EQ(b.count()->text().toStdString(), "0");
  b.deleteSelected();
  EXPECT_EQ(asker_.messages.back(), "没有可删除的记录");
  b.refresh();
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  EXPECT_EQ(b.rowCount(), 2);
}

TEST_F(BrowserTest, VoiceMailFiltersPlayAndHeardMark) {
  // The recording: an A-law wave file, as the simulated lines write them.
  std::vector<uint8_t> wav = {'R',  'I',  'F', 'F', 0,    0,    0, 0, 'W',  'A',  'V',  'E',
                              'f',  'm',  't', ' ', 16,   0,    0, 0, 6,    0,    1,    0,
                              0x40, 0x1f, 0,   0,   0x40, 0x1f, 0, 0, 1,    0,    8,    0,
                              'd',  'a',  't', 'a', 4,    0,    0, 0, 0xD5, 0x55, 0xAA, 0x2A};
  ::mkdir(dir_.file("leavmsg").c_str(), 0755);
  dir_.write("leavmsg/msg1.wav", wav);
  char* was = ::get_current_dir_name();
  ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  struct Back {
    char* dir;
    ~Back() {
      if (::chdir(dir) != 0) ADD_FAILURE() << "cannot return to " << dir;
      std::free(dir);
    }
  } back{was};

  VoiceMailBrowser b(ctx_);
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  ASSERT_EQ(b.rowCount(), 3);
  EXPECT_EQ(cell(b.list(), 0, 0).toStdString(), "leavmsg/msg1.wav");
  b.show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(b.grab().save(QStringLiteral(OLVARO_BUILD_DIR "/olvaro_voicemail.png")));
  const std::pair<MailFilter, int> filters[] = {{MailFilter::kHeard, 1},
                                                {MailFilter::kUnheard, 2},
                                                {MailFilter::kPhone, 1},
                                                {MailFilter::kSimulated, 2},
                                                {MailFilter::kAll, 3}};
  for (const auto& [f, n] : filters) {
    b.showFilter(f);
    ASSERT_TRUE(settle([&] { return !b.busy(); }));
    EXPECT_EQ(b.rowCount(), n) << static_cast<int>(f);
  }
  b.fromDate->setDate(QDate(2024, 5, 7));
  b.fromTime->setTime(QTime(0, 0, 0));
  b.toDate->setDate(QDate(2024, 5, 9));
  b.showFilter(MailFilter::kTimeRange);
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  EXPECT_EQ(b.rowCount(), 2);
  b.showFilter(MailFilter::kAll);
  ASSERT_TRUE(settle([&] { return !b.busy(); }));

  b.list()->setCurrentCell(-1, -1);
  b.play();
  EXPECT_EQ(asker_.messages.back(), "请选择要播放的留言");
  b.list()->selectRow(0);
  b.play();
  ASSERT_TRUE(b.playing());
  EXPECT_EQ(audio_.samples, (std::vector<int16_t>{8, -8, 32256, -32256}));
  EXPECT_EQ(audio_.rate, 8000);
  EXPECT_FALSE(b.closeButton()->isEnabled());
  b.tick();
  EXPECT_EQ(b.position()->text().toStdString(), "1.5 秒");
  EXPECT_EQ(flagOf("m1"), 0);
  b.stop();
  b.tick();
  EXPECT_FALSE(b.playing());
  EXPECT_TRUE(b.closeButton()->isEnabled());
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  EXPECT_EQ(flagOf("m1"), 1);

  // A message that ends by itself is marked heard too.
  b.list()->selectRow(0);
  b.play();
  audio_.on = false;
  b.tick();
  ASSERT_TRUE(settle([&] { return !b.busy(); }));

  // The telephone-format message plays on channel 0 of the lines until the
  // line says it ended.
  fake_.clearCalls();
  b.list()->selectRow(1);
  b.play();
  ASSERT_TRUE(b.playing());
  b.tick();  // no pass yet: still playing
  EXPECT_TRUE(b.playing());
  passes(1);
  b.tick();
  EXPECT_TRUE(b.playing());
  EXPECT_EQ(b.position()->text().toStdString(), "通道0播放中");
  fake_.setPlayFinish(0, 0);
  passes(1);
  b.tick();
  EXPECT_FALSE(b.playing());
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  const auto calls = fake_.calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "CTIPlayFile(0,leavmsg/msg2.qx,1)"), calls.end());
  fake_.setPlayFinish(0, 1);
  b.play();
  passes(1);
  b.stop();
  passes(1);
  b.tick();
  EXPECT_FALSE(b.playing());
  const auto after = fake_.calls();
  EXPECT_NE(std::find(after.begin(), after.end(), "CTIStopPlayFile(0,1)"), after.end());
  ASSERT_TRUE(settle([&] { return !b.busy(); }));

  b.list()->selectRow(2);
  b.deleteSelected();
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  EXPECT_EQ(b.rowCount(), 2);
  EXPECT_EQ(flagOf("m3"), -1);

  b.showFilter(MailFilter::kHeard);
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  EXPECT_EQ(b.rowCount(), 2);
  b.showFilter(MailFilter::kUnheard);
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  EXPECT_EQ(b.rowCount(), 0);
  EXPECT_EQ(asker_.messages.back(), "没有符合条件记录");
  b.play();
  EXPECT_EQ(asker_.messages.back(), "没有可播放的留言");
  b.deleteSelected();
  EXPECT_EQ(asker_.messages.back(), "没有可删除的记录");
}

// The same browsers on PostgreSQL, whose times are timestamps: the time
// range is bound in the server's own form.
TEST_F(UiTest, BrowsersOnPostgreSql) {
  callproc::DbSettings pg;
  for (const auto& t : callproc::testing::targets())
    if (t.settings.type == 3) {
      if (!t.skip.empty()) GTEST_SKIP() << t.skip;
      pg = t.settings;
    }
  if (pg.type != 3) GTEST_SKIP() << "no PostgreSQL target";
  start();
  ctx_.db = pg;
  callproc::Database db;
  std::string error;
  ASSERT_TRUE(db.open(pg, &error)) << error;
  callproc::DbError err;
  db.execute("drop table if exists T_CallRecord", &err);
  db.execute("drop table if exists T_LeaveWord", &err);
  const std::string schema = readFile(std::string(OLVARO_SAMPLES_DIR) + "/db/schema_pg.sql");
  size_t pos = 0;
  for (size_t semi; (semi = schema.find(';', pos)) != std::string::npos; pos = semi + 1) {
    std::string stmt = schema.substr(pos, semi - pos);
    if (stmt.find("CREATE") != std::string::npos) {
      ASSERT_TRUE(db.execute(stmt.substr(stmt.find("CREATE")), &err)) << err.message;
    }
  }
  for (const char* r :
       {"insert into T_CallRecord values ('1','139','8888','2024-05-06 07:08:09',"
        "'2024-05-06 07:10:09',120)",
        "insert into T_CallRecord values ('2','138','8888','2024-05-06 08:00:00',"
        "'2024-05-06 08:01:00',60)",
        "insert into T_LeaveWord values ('m1','leavmsg/msg1.wav','2024-05-06 07:08:09',"
        "'2024-05-06 07:08:19',10,0)"})
    ASSERT_TRUE(db.execute(r, &err)) << err.message;
  CallRecordBrowser b(ctx_);
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  ASSERT_EQ(b.rowCount(), 2);
  EXPECT_EQ(cell(b.list(), 0, 2).toStdString(), "2024-05-06 07:08:09");
  b.byTime->setChecked(true);
  b.fromDate->setDate(QDate(2024, 5, 6));
  b.fromTime->setTime(QTime(7, 30, 0));
  b.toDate->setDate(QDate(2024, 5, 7));
  b.search();
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  ASSERT_EQ(b.rowCount(), 1);
  EXPECT_EQ(cell(b.list(), 0, 0).toStdString(), "138");
  b.list()->selectRow(0);
  b.deleteSelected();
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  EXPECT_EQ(b.rowCount(), 0);
  callproc::Database::Result r;
  ASSERT_TRUE(db.query("select count(*) from T_CallRecord", &r, &err));
  EXPECT_EQ(r.rows[0][0].text, "1");
  db.execute("drop table T_CallRecord", &err);
  db.execute("drop table T_LeaveWord", &err);
}

TEST(UiAudio, VoiceFiles) {
  std::vector<int16_t> s;
  int rate = 0;
  std::string error;
  ASSERT_TRUE(voiceFileSamples({0xD5, 0x55}, &s, &rate, &error));  // headerless A-law
  EXPECT_EQ(s, (std::vector<int16_t>{8, -8}));
  EXPECT_EQ(rate, 8000);
  std::vector<uint8_t> pcm = {'R',  'I',  'F', 'F', 0,    0,    0, 0, 'W',  'A',  'V',  'E',
                              'f',  'm',  't', ' ', 16,   0,    0, 0, 1,    0,    1,    0,
                              0x40, 0x1f, 0,   0,   0x80, 0x3e, 0, 0, 2,    0,    16,   0,
                              'd',  'a',  't', 'a', 4,    0,    0, 0, 0x34, 0x12, 0xFF, 0xFF};
  ASSERT_TRUE(voiceFileSamples(pcm, &s, &rate, &error));
  EXPECT_EQ(s, (std::vector<int16_t>{0x1234, -1}));
  pcm[34] = 8;  // 8-bit PCM: not offered
  EXPECT_FALSE(voiceFileSamples(pcm, &s, &rate, &error));
  EXPECT_EQ(error, "不支持的声音文件格式");
}

// A statement the database refuses: its message is shown and the dialog
// stays usable.
TEST_F(UiTest, BrowserShowsDatabaseErrors) {
  start();  // an empty database: no tables
  CallRecordBrowser b(ctx_);
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  ASSERT_FALSE(asker_.messages.empty());
  EXPECT_NE(asker_.messages.back().find("T_CallRecord"), std::string::npos)
      << asker_.messages.back();
  EXPECT_EQ(b.rowCount(), 0);
  ctx_.db.filename = dir_.file("none.sqlite");  // a file that is not there
  b.refresh();
  ASSERT_TRUE(settle([&] { return !b.busy(); }));
  EXPECT_NE(asker_.messages.back().find("does not exist"), std::string::npos)
      << asker_.messages.back();
}

// ---- a picture of the window with a call in progress

TEST_F(UiTest, Screenshot) {
  start();
  TraceQueue queue;
  trace_.addSink(&queue);
  MainWindow w(ctx_, queue);
  w.setSkin(0);
  call(0, "13900001111");
  call(3, "02788886666");
  trace_("通道3=>(1)放音 .\\voice\\welcome.voc");
  passes(3);
  w.resize(780, 640);
  w.show();
  w.refresh();
  QCoreApplication::processEvents();
  const QString path = QStringLiteral(OLVARO_BUILD_DIR "/olvaro.png");
  ASSERT_TRUE(w.grab().save(path));
  EXPECT_EQ(cell(w.channelTable(), 3, 2).toStdString(), "放音");
  // The dialogs too, for a look at their layout.
  FlowSettingsDialog flows(ctx_);
  SystemSettingsDialog system(ctx_);
  DataSourceDialog source(ctx_);
  const std::pair<QWidget*, const char*> dialogs[] = {{&flows, "/olvaro_flows.png"},
                                                      {&system, "/olvaro_system.png"},
                                                      {&source, "/olvaro_datasource.png"}};
  for (const auto& [dialog, name] : dialogs) {
    dialog->show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog->grab().save(QStringLiteral(OLVARO_BUILD_DIR) + name));
  }
  EXPECT_EQ(cell(w.channelTable(), 3, 3).toStdString(), "02788886666");
  trace_.removeSink(&queue);
}

}  // namespace
}  // namespace ui

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
