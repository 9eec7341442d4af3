// The runtime's settings and line-control dialogs. Each one reads the
// runtime's snapshot, posts commands to it and writes sysconfig.ini at once;
// what it decides comes from ui_logic. The public operations are what the
// buttons do, so tests drive them without a person.
#pragma once

#include <QDialog>
#include <vector>

#include "runtime/ui/ui_context.h"
#include "runtime/ui/ui_logic.h"

class QLineEdit;
class QTableWidget;
class QRadioButton;
class QCheckBox;
class QComboBox;
class QTabWidget;

namespace ui {

// "通道摘挂机": off-hook or hang-up control of an outer line.
class LineControlDialog : public QDialog {
  Q_OBJECT
 public:
  LineControlDialog(UiContext& ctx, bool offHook, QWidget* parent = nullptr);
  QLineEdit* channelEdit() const { return channel_; }
  // "确定(&Q)": true when the command went to the runtime and the dialog closed.
  bool confirm();

 private:
  UiContext& ctx_;
  bool offHook_;
  QLineEdit* channel_;
};

// "拨外线号": dials a number on an outer line.
class DialDialog : public QDialog {
  Q_OBJECT
 public:
  explicit DialDialog(UiContext& ctx, QWidget* parent = nullptr);
  QLineEdit* channelEdit() const { return channel_; }
  QLineEdit* numberEdit() const { return number_; }
  bool dial();  // "拨号(&D)"

 private:
  UiContext& ctx_;
  QLineEdit *channel_, *number_;
};

// The outer-line check both line-control dialogs make: the channel number
// typed, or -1 after telling the person why not.
int outerLineChannel(UiContext& ctx, QWidget* parent, const QString& text);

// "流程文件设置": file, voice folder and flow number of one flow.
class FlowEntryDialog : public QDialog {
  Q_OBJECT
 public:
  FlowEntryDialog(UiContext& ctx, QWidget* parent = nullptr);
  QLineEdit *file, *vocDir, *number;
  void browseFile();
  void browseFolder();

 private:
  UiContext& ctx_;
};

class FlowSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  FlowSettingsDialog(UiContext& ctx, QWidget* parent = nullptr);
  QTableWidget* list() const { return list_; }
  // "添加(&A)" with the entry dialog's values: "" when the load was asked
  // for (the row appears when it succeeds), else the message shown.
  QString addFlow(const QString& path, const QString& vocDir, const QString& number);
  // "修改(&M)" on the selected row: loads beside the running version.
  bool modifySelected(const QString& path, const QString& vocDir);
  void deleteSelected();  // "删除(&D)", after the question
  void refreshUsage();    // "刷新(&F)"
  bool save();            // "保存(&S)"
  bool dirty() const { return dirty_; }
  // Loads asked for whose answer has not come back.
  int pending() const { return pending_; }
  void reject() override;  // closing asks about unsaved changes

 private:
  void loadInto(int slot, const QString& path, const QString& vocDir, bool adding);
  void loaded(int slot, int code, const QString& path, const QString& vocDir, bool adding);
  int rowOf(int slot) const;
  void setRow(int row, int slot, const QString& path, const QString& vocDir);
  UiContext& ctx_;
  QTableWidget* list_;
  bool dirty_ = false;
  int pending_ = 0;
};

// "接入码设置"
class TriggerEntryDialog : public QDialog {
  Q_OBJECT
 public:
  TriggerEntryDialog(QWidget* parent = nullptr);
  QLineEdit *code, *index;
};

class TriggerSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  TriggerSettingsDialog(UiContext& ctx, QWidget* parent = nullptr);
  QTableWidget* list() const { return list_; }
  QString addTrigger(const QString& code, const QString& index);
  QString modifySelected(const QString& code, const QString& index);
  void deleteSelected();
  // Rebuilds the live trigger table from the rows, then writes the file.
  bool save();
  bool dirty() const { return dirty_; }
  void reject() override;

 private:
  std::vector<callproc::TriggerEntry> rows() const;
  UiContext& ctx_;
  QTableWidget* list_;
  bool dirty_ = false;
};

class SystemSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  SystemSettingsDialog(UiContext& ctx, QWidget* parent = nullptr);
  QRadioButton *allow, *bar, *phone, *simulated;
  QLineEdit *dtmfTimeout, *replayTime, *replayCount, *port, *calledNumber;
  QCheckBox* messageShow;
  bool apply();  // OK

 private:
  UiContext& ctx_;
};

class ChannelSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  ChannelSettingsDialog(UiContext& ctx, QWidget* parent = nullptr);
  std::vector<QLineEdit*> numbers;
  bool apply();

 private:
  UiContext& ctx_;
};

class DataSourceDialog : public QDialog {
  Q_OBJECT
 public:
  DataSourceDialog(UiContext& ctx, QWidget* parent = nullptr);
  QComboBox* kind;
  QLineEdit *filename, *server, *data, *user, *pass, *service, *username, *password;
  QLineEdit *pgServer, *pgPort, *pgData, *pgUser, *pgPass;
  QTabWidget* pages;
  void browse();
  bool apply();  // "确定(&O)"

 private:
  UiContext& ctx_;
};

}  // namespace ui
