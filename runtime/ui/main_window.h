// The runtime's main window "Sarvent V3.0": the channel status panel and the
// trace box, refreshed every 100 ms from the runtime's snapshot and the trace
// queue; its menus open the line-control dialogs, the browsers and the
// settings dialogs.
#pragma once

#include <QMainWindow>
#include <memory>

#include "runtime/ui/ui_context.h"
#include "runtime/ui/ui_logic.h"

class QTableWidget;
class QPlainTextEdit;
class QCheckBox;
class QComboBox;
class QTimer;

namespace ui {

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  MainWindow(UiContext& ctx, TraceQueue& trace, QWidget* parent = nullptr);

  // Takes the queued trace lines and the latest snapshot now.
  void refresh();
  QTableWidget* channelTable() const { return channels_; }
  QPlainTextEdit* traceBox() const { return traceBox_; }
  void setPaused(bool paused);
  // -1: every channel.
  void setFilter(int channel);
  // One of the three looks of "界面(&C)", 0 to 2.
  void setSkin(int skin);

 private:
  void buildMenus();
  void showTrace();
  void updateChannels(const callproc::RuntimeSnapshot& s);
  void openLineControl(bool offHook);
  void openDial();
  void openCallRecords();
  void openVoiceMail();

  UiContext& ctx_;
  TraceQueue& queue_;
  TraceLines lines_;
  bool paused_ = false;
  int filter_ = -1;
  uint64_t shownPass_ = ~0ull;
  QTableWidget* channels_ = nullptr;
  QPlainTextEdit* traceBox_ = nullptr;
  QCheckBox* pause_ = nullptr;
  QComboBox* filterBox_ = nullptr;
  QTimer* timer_ = nullptr;
};

}  // namespace ui
