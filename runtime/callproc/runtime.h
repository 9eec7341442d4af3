// The runtime's spine: start-up in its fixed order, the flow and trigger
// tables, the channel scan pass, go to block and reset channel. The scan
// pass is a plain function of the runtime and its clock: the scan thread
// calls it every 50 ms, tests call it pass by pass.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ticks.h"
#include "runtime/callproc/channels.h"
#include "runtime/callproc/commands.h"
#include "runtime/callproc/config.h"
#include "runtime/callproc/trace.h"
#include "runtime/chanlog/channel_log.h"
#include "runtime/cti/cti.h"
#include "runtime/interpreter/flow_table.h"

namespace callproc {

class Database;
class ChannelDatabases;
class DbWorker;

// What the main window shows per channel (icons, status texts). Headless
// programs leave it out.
class ChannelView {
 public:
  virtual ~ChannelView() = default;
  virtual void setIcon(int channel, int icon) = 0;      // 0 idle, 1 off-hook
  virtual void setStatus(int channel, int status) = 0;  // index into the status texts
};

// Status texts of the channel panel, by index.
extern const char* const kStatusTexts[7];

enum class StartResult {
  kRunning,         // flows loaded; KeyCall socket and scan thread may start
  kFlowsFailed,     // "加载流程和流程触发设置有错误": no calls are answered
  kDatabaseFailed,  // the database would not open: start-up stopped
  kStopped,         // requestStop() came during start-up
};

class Runtime {
 public:
  Runtime(cti::Cti& cti, platform::Clock& clock, TraceLog& trace);
  ~Runtime();

  // Start-up from the configuration, in order: hardware, simulated access,
  // channel set-up, SetChanDataMem, line numbers, database, flow and trigger
  // tables. `ini` supplies the [Out<n>] line numbers. On kDatabaseFailed,
  // `error` holds the database's message.
  StartResult start(const SysConfig& cfg, const platform::IniFile& ini, std::string* error);

  // Loads the flow table and trigger table; true when every flow loaded.
  bool loadFlowsAndTriggers(const SysConfig& cfg);
  void setTriggers(std::vector<Trigger> triggers);
  // The first trigger whose access code matches the dialled number, or null.
  const Trigger* matchTrigger(std::string_view dialled) const;

  // ---- any thread
  // Hands a command to the scan thread; it is carried out at the start of
  // the next pass, in the order posted.
  void post(Command command);
  // What the last pass left: channels, their panel icons and texts, and the
  // usage of every flow slot holding a flow. Never null after start().
  std::shared_ptr<const RuntimeSnapshot> snapshot() const;
  // The channel count and access mode as last set (for checks before
  // posting; the pass checks again).
  int publishedChannelCount() const { return channelCount_; }
  int publishedCallInType() const { return callintype_; }

  // ---- the owner thread: the thread that made the runtime, the scan
  // thread while it runs, and the thread that stopped it afterwards.
  // One pass over every channel, after the inbox is drained.
  void scanPass();
  // Scan thread start-up lines and channel preparation, then passes every
  // 50 ms until stop().
  void startScanThread();
  // The start-up line and channel preparation of the scan thread alone, for
  // an owner that runs the passes itself (the call simulation).
  void prepareChannels();
  // Called by resetChannel before the call's registers are cleared, with the
  // channel and whether a call was on it (the call simulation keeps the
  // values a call ended with).
  void setResetObserver(std::function<void(int c, bool inCall)> observer) {
    resetObserver_ = std::move(observer);
  }
  void stop();

  // Asks a start-up in progress to give up (a stop signal): the flow-table
  // load ends before its next entry and its waits end at once. Any thread.
  void requestStop();
  bool stopRequested() const { return stopRequested_; }

  void gotoBlock(int c, int b);
  void resetChannel(int c);

  // A simulated caller's event: under simulated access, for a channel below
  // the channel count, the caller number is kept for the call and the event
  // reaches the line (CTISetKeyDtmf). False when it was ignored.
  bool applyKeyCall(const KeyCallEvent& e);

  int channelCount() const { return channelCount_; }
  int callInType() const { return callintype_; }
  cti::AccessMode accessMode() const { return static_cast<cti::AccessMode>(callintype_.load()); }
  ChannelTables& channels() {
    assertOwner();
    return chans_;
  }
  interp::FlowTable& flows() {
    assertOwner();
    return flows_;
  }
  TraceLog& trace() { return trace_; }
  cti::Cti& cti() {
    assertOwner();
    return cti_;
  }
  platform::Clock& clock() { return clock_; }
  // The database the flows' script commands use; null until it is open.
  ChannelDatabases* channelDatabases() {
    assertOwner();
    return channelDbs_.get();
  }
  Database* database() {
    assertOwner();
    return db_.get();
  }
  // Channel c's prepared SQL text (GBK), kept from call to call.
  std::string& preparedSql(int c) {
    assertOwner();
    return preparedSql_[c];
  }
  void setView(ChannelView* v) { view_ = v; }
  // Channel panel: icon (0 idle, 1 off-hook) and status text index.
  void showIcon(int c, int icon);
  void showStatus(int c, int status);
  // The working directory at start-up, absolute, as the runtime was made
  // (voice-mail files live under it). Tests set their own.
  void setWorkDir(std::string dir) { workDir_ = std::move(dir); }
  const std::string& workDir() const { return workDir_; }
  // How the flow-table load waits 100 ms after a failed entry (tests skip it).
  void setSleeper(std::function<void(int ms)> s) { sleep_ = std::move(s); }
  // How long a channel may run on after its caller hung up before the scan
  // resets it, in seconds; 0 never. start() takes [System] hanguptimeout.
  void setHangupLimit(int seconds) { hangupLimitMs_ = static_cast<uint32_t>(seconds) * 1000u; }
  // The flows' statements run on a worker thread of their own, so that one
  // statement holds only its channel, not the pass. Inline, they run within
  // the pass (the call simulation, whose passes take no real time); set
  // before start().
  void setDatabaseInline(bool inlineStatements) { dbInline_ = inlineStatements; }
  // For tests: run with a channel count and access mode without start().
  void setChannelSetup(int count, int callintype) {
    channelCount_ = count;
    callintype_ = callintype;
  }

 private:
  // Debug builds check that the scan thread's state is reached only from
  // its owner.
  void assertOwner() const;
  void drainInbox();
  void apply(KeyCallEvent& c);
  void apply(LoadFlow& c);
  void apply(FreeSlot& c);
  void apply(ReplaceTriggers& c);
  void apply(SystemSettings& c);
  void apply(LineControl& c);
  void apply(ChannelNumbers& c);
  void apply(WindowPlay& c);
  // Dials the numbers of manual line control whose second has passed.
  void dialPending();
  // Channel c's configured number (GBK): the line number of an outer line
  // or a simulated line, the extension number of an inner line.
  void setChannelNumber(int c, const std::string& number);
  // Fills a bank of the slot with a parsed flow by the two-bank rule.
  int installFlow(int slot, cpl::ParsedFlow& flow, const std::string& path,
                  const std::string& vocDir);
  void publish();
  void waitForCall(int c);
  void delayedHangup(int c);
  void startBlock(int c);
  void runScript(int c);
  // The step of each block kind, indexed by kind (all kinds are below 64).
  struct KindStep;
  static constexpr int kKindSlots = 64;
  static const std::array<KindStep, kKindSlots>& kindSteps();
  std::string takePendingCaller(int c);
  // Resets a channel whose caller hung up longer ago than the limit while
  // its flow went on (a loop that never reaches a block that notices).
  void watchHangup(int c);

  cti::Cti& cti_;
  platform::Clock& clock_;
  TraceLog& trace_;
  chanlog::ChannelLog log_{trace_};
  ChannelView* view_ = nullptr;
  std::string workDir_;
  std::function<void(int)> sleep_;
  std::function<void(int, bool)> resetObserver_;

  std::atomic<int> channelCount_{0};
  std::atomic<int> callintype_{1};
  std::atomic<std::thread::id> owner_;
  uint32_t hangupLimitMs_ = 60000;
  std::array<bool, kMaxChannels> hungUpSeen_{};      // the caller's hang-up is being timed
  std::array<uint32_t, kMaxChannels> hungUpTick_{};  // when it was first seen
  ChannelTables chans_;
  interp::FlowTable flows_;
  std::vector<Trigger> triggers_;
  std::vector<int> flowSlots_;  // slots holding a configured flow, sorted
  std::unique_ptr<Database> db_;
  std::unique_ptr<ChannelDatabases> channelDbs_;
  bool dbInline_ = false;
  std::unique_ptr<DbWorker> dbWorker_;  // after the database: stopped before it
  std::array<std::string, kMaxChannels> preparedSql_;

  std::array<std::string, kMaxChannels> pendingCaller_;
  std::array<bool, kMaxChannels> hasPendingCaller_{};
  struct PendingDial {
    bool waiting = false;
    uint32_t since = 0;  // tick of the off-hook
    std::string number;  // GBK
  };
  std::array<PendingDial, kMaxChannels> pendingDial_{};
  std::array<int, kMaxChannels> windowPlay_{};      // as in ChannelSnapshot::windowPlay
  std::array<int, kMaxChannels> windowPlayMode_{};  // its CTIPlayFile mode
  std::array<int, kMaxChannels> icon_{};
  std::array<int, kMaxChannels> status_{};

  std::mutex inboxMu_;
  std::vector<Command> inbox_, draining_;
  uint64_t passes_ = 0;
  mutable std::mutex snapshotMu_;
  std::shared_ptr<const RuntimeSnapshot> snapshot_;

  std::atomic<bool> running_{false};
  std::atomic<bool> stopRequested_{false};
  std::mutex stopMu_;
  std::condition_variable stopCv_;
  std::thread scanThread_;
};

// The trigger table of a configuration: access codes in GBK, codes longer
// than 19 bytes refused with a trace line.
std::vector<Trigger> triggerTable(const SysConfig& cfg, TraceLog& trace);

// Reads and parses a compiled flow file on the calling thread, off the scan
// pass, into a command that fills a bank of `slot` when the pass takes it.
LoadFlow readFlowForSlot(int slot, std::string path, std::string vocDir,
                         std::function<void(int code)> done = {});

// The call identifier: local time and channel as "%4d%02d%02d%02d%02d%02d%02d".
std::string callIdentifier(std::chrono::system_clock::time_point now, int channel);

}  // namespace callproc
