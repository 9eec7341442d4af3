// The call-record browser "通话记录" and the voice-mail browser "听留言".
// Their statements run on a database worker with bound values, so a slow
// query holds neither the window nor the scan pass; the dialog shows that
// a query is running and takes its rows when they come back.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "runtime/callproc/database.h"
#include "runtime/ui/ui_context.h"
#include "runtime/ui/ui_logic.h"

class QTableWidget;
class QLineEdit;
class QRadioButton;
class QDateEdit;
class QTimeEdit;
class QLabel;
class QPushButton;
class QTimer;

namespace ui {

// One result of a statement run for a browser.
struct DbAnswer {
  bool ok = false;
  callproc::Database::Result rows;  // GBK text, as the database layer gives it
  callproc::DbError error;
};

// Runs `q` on the browsers' database worker (a connection of their own to
// `db`, opened on first use); `done` is called on the GUI thread unless
// `guard` is gone by then.
void runBrowserQuery(const callproc::DbSettings& db, const Query& q, QObject* guard,
                     std::function<void(DbAnswer)> done);
// Waits until every statement submitted so far has run (tests, exit).
void drainBrowserQueries();

class BrowserBase : public QDialog {
  Q_OBJECT
 public:
  BrowserBase(UiContext& ctx, QWidget* parent);
  QTableWidget* list() const { return list_; }
  QLineEdit* count() const { return count_; }
  bool busy() const { return running_ > 0; }
  int rowCount() const;
  QDateEdit *fromDate, *toDate;
  QTimeEdit *fromTime, *toTime;

 protected:
  DateTime from() const;
  DateTime to() const;
  // Runs a listing statement and fills the list with `columns` of the rows,
  // keeping `idColumn` of each row; `emptyText` is shown when none come.
  void list(const Query& q, const std::vector<std::string>& columns, const std::string& idColumn,
            const QString& emptyText);
  // Runs a statement that changes rows; `then` on success.
  void change(const Query& q, std::function<void()> then);
  void setBusy(bool on);
  std::string idOf(int row) const;
  void removeRow(int row);
  UiContext& ctx_;
  QTableWidget* list_;
  QLineEdit* count_;
  QLabel* busyLabel_;
  std::vector<std::string> ids_;
  std::vector<std::string> names_;  // the first column's text (voice-mail file)
  int running_ = 0;
};

class CallRecordBrowser : public BrowserBase {
  Q_OBJECT
 public:
  CallRecordBrowser(UiContext& ctx, QWidget* parent = nullptr);
  QRadioButton *byCaller, *byCalled, *byTime;
  QLineEdit* number;
  void search();   // "查询(&S)"
  void refresh();  // "刷新(&F)"
  void deleteSelected();
};

class AudioOutput;

class VoiceMailBrowser : public BrowserBase {
  Q_OBJECT
 public:
  VoiceMailBrowser(UiContext& ctx, QWidget* parent = nullptr);
  ~VoiceMailBrowser() override;
  void showFilter(MailFilter f);
  void play();  // "听留言(&L)"
  void stop();  // "停止(&S)"
  void deleteSelected();
  bool playing() const;
  QPushButton* closeButton() const { return close_; }
  QLabel* position() const { return position_; }
  void reject() override;  // not while a message plays
  // One tick of the 100 ms play timer.
  void tick();

 private:
  QPushButton* close_;
  QLabel* position_;
  QTimer* timer_;
  AudioOutput* audio_;
  AudioOutput* ownAudio_ = nullptr;
  bool stopPressed_ = false;
  bool playing_ = false;
  int playMode_ = 0;       // 1 on channel 0 of the lines, 0 on the computer
  uint64_t playPass_ = 0;  // the scan pass before the play command went
  std::string playingId_;
};

}  // namespace ui
