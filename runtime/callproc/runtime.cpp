#include "runtime/callproc/runtime.h"

#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <ctime>

#include "flowfile/blockrecords.h"
#include "platform/gbk.h"
#include "runtime/callproc/blocks.h"
#include "runtime/callproc/database.h"
#include "runtime/interpreter/loader.h"
#include "runtime/interpreter/script.h"

namespace callproc {

const char* const kStatusTexts[7] = {"空闲", "摘机", "放音", "录音", "挂机", "人工", "收号"};

namespace {
constexpr int kStatusIdle = 0;
constexpr int kIconIdle = 0, kIconOffHook = 1;
constexpr uint32_t kHangupDelayMs = 1500;
constexpr uint32_t kDialDelayMs = 1000;  // off-hook to dialling, manual line control
constexpr int kScanPeriodMs = 50;

// The runtime as the script interpreter sees it.
class RuntimeScriptHost final : public interp::ScriptHost {
 public:
  explicit RuntimeScriptHost(Runtime& rt) : rt_(rt) {}

  void trace(std::string_view utf8) override { rt_.trace().text(utf8); }
  bool tracing() const override { return rt_.trace().showing(); }
  void gotoBlock(int c, int b) override { rt_.gotoBlock(c, b); }
  void resetChannel(int c) override { rt_.resetChannel(c); }
  int channelCount() const override { return rt_.channelCount(); }
  interp::Registers& registers(int c) override { return rt_.channels().regs(c); }
  int32_t& step(int c) override { return rt_.channels().step(c).script.step; }
  uint32_t& pc(int c) override { return rt_.channels().step(c).script.pc; }
  int32_t blockIndex(int c) override { return rt_.channels().step(c).blockIndex; }
  const interp::FlowBlock* scriptBlock(int c) override {
    const CurrentBlock& cur = rt_.channels().current(c);
    return cur.kind() == cpl::kKindScript ? cur.block : nullptr;
  }
  std::span<const uint8_t, cpl::kPoolSize> stringPool(int c) override {
    static const std::array<uint8_t, cpl::kPoolSize> kNoPool{};
    ChanRecord rec = rt_.channels().record(c);
    const int slot = rec.flowSlot(), bank = rec.bank();
    if (!rt_.channels().holdsBank(c) || slot < 0 || slot >= interp::kFlowSlots || bank < 0 ||
        bank > 1)
      return kNoPool;
    return rt_.flows().bank(slot, bank).pool;
  }
  std::string callerNumber(int c) override { return rt_.channels().record(c).callerNumber(); }
  std::string calledNumber(int c) override { return rt_.channels().record(c).lineNumber(); }
  std::string callId(int c) override { return rt_.channels().record(c).callId(); }
  void setLineState(int c, int16_t s) override { rt_.channels().record(c).setLineState(s); }
  std::time_t now() override { return std::chrono::system_clock::to_time_t(rt_.clock().now()); }
  interp::ChannelDatabase* database() override { return rt_.channelDatabases(); }
  std::string& preparedSql(int c) override { return rt_.preparedSql(c); }

 private:
  Runtime& rt_;
};

// The calls around a block's own, as its handler may touch them.
class RuntimeCalls final : public CallControl {
 public:
  explicit RuntimeCalls(Runtime& rt) : rt_(rt) {}
  void gotoBlock(int c, int b) override { rt_.gotoBlock(c, b); }
  void resetChannel(int c) override { rt_.resetChannel(c); }
  void showStatus(int c, int status) override { rt_.showStatus(c, status); }
  int channelCount() const override { return rt_.channelCount(); }
  ChannelTables& channels() override { return rt_.channels(); }
  const std::string& workDir() const override { return rt_.workDir(); }

 private:
  Runtime& rt_;
};

}  // namespace

LoadFlow readFlowForSlot(int slot, std::string path, std::string vocDir,
                         std::function<void(int code)> done) {
  LoadFlow c;
  c.slot = slot;
  c.flow = std::make_shared<cpl::ParsedFlow>();
  c.code = interp::readCompiledFlow(path, *c.flow);
  if (c.code != interp::kLoadOk) c.flow.reset();
  c.path = std::move(path);
  c.vocDir = std::move(vocDir);
  c.done = std::move(done);
  return c;
}

std::string callIdentifier(std::chrono::system_clock::time_point now, int channel) {
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%4d%02d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, channel);
  return buf;
}

namespace {
// The working directory as an absolute path; "." when it cannot be read.
std::string currentDirectory() {
  std::vector<char> buf(4096);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE || buf.size() > (1u << 20)) return ".";
    buf.resize(buf.size() * 2);
  }
  return buf.data();
}
}  // namespace

Runtime::Runtime(cti::Cti& cti, platform::Clock& clock, TraceLog& trace)
    : cti_(cti), clock_(clock), trace_(trace), workDir_(currentDirectory()) {
  sleep_ = [this](int ms) {
    std::unique_lock lock(stopMu_);
    stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopRequested_.load(); });
  };
  owner_ = std::this_thread::get_id();
  for (int c = 0; c < kMaxChannels; ++c)
    chans_.regs(c).T.fill(0);
  publish();
}

Runtime::~Runtime() {
  stop();
}

void Runtime::showIcon(int c, int icon) {
  if (c < 0 || c >= kMaxChannels) return;
  icon_[c] = icon;
  if (view_ && c < 8) view_->setIcon(c, icon);
}

void Runtime::showStatus(int c, int status) {
  if (c < 0 || c >= kMaxChannels) return;
  status_[c] = status;
  if (view_ && c < 8) view_->setStatus(c, status);
}

StartResult Runtime::start(const SysConfig& cfg, const platform::IniFile& ini, std::string* error) {
  callintype_ = cfg.callintype;
  // A day at most: longer is no limit worth the name.
  setHangupLimit(std::clamp(cfg.hanguptimeout, 0, 86400));
  trace_.setShow(cfg.messageshow != 0);
  for (const auto& w : cfg.warnings)
    trace_("sysconfig.ini: %s", w.c_str());

  int a = 0, b = 0;
  int count = cti_.InitQam(&a, &b);
  if (count == 0)
    trace_("硬件初始化失败");
  else
    trace_("硬件初始化成功,通道数=%d", count);
  channelCount_ = std::clamp(count, 0, kMaxChannels);
  if (accessMode() == cti::AccessMode::kSimulated) {
    channelCount_ = 8;
    trace_("系统处于模拟呼叫状态，模拟通道数=8");
  }

  for (int c = 0; c < channelCount_; ++c) {
    if (cti_.CTIGetChannelType(c) == CHAN_TYPE_OUTER) {
      cti_.CTIFlushDTMF(c, callintype_);
      cti_.CTISetOutHook(c);
    }
    chans_.record(c).setLineState(CHAN_LINE_IDLE);
  }
  cti_.SetChanDataMem(chans_.recordTable());

  for (int c = 0; c < channelCount_; ++c)
    setChannelNumber(c, platform::utf8ToGbk(lineNumberOf(ini, c)));

  if (stopRequested_) return StartResult::kStopped;
  dbWorker_.reset();
  channelDbs_.reset();
  db_ = std::make_unique<Database>();
  if (!db_->open(cfg, error)) return StartResult::kDatabaseFailed;
  channelDbs_ = std::make_unique<ChannelDatabases>(*db_);
  if (!dbInline_) {
    dbWorker_ = std::make_unique<DbWorker>();
    channelDbs_->setWorker(dbWorker_.get());
  }

  const bool loaded = loadFlowsAndTriggers(cfg);
  if (stopRequested_) return StartResult::kStopped;
  if (!loaded) {
    trace_("加载流程和流程触发设置有错误");
    return StartResult::kFlowsFailed;
  }
  trace_("加载流程和流程触发设置成功");
  publish();
  return StartResult::kRunning;
}

bool Runtime::loadFlowsAndTriggers(const SysConfig& cfg) {
  if (cfg.flowCount > kMaxFlowEntries) return false;
  flows_.clear();
  flowSlots_.clear();
  bool ok = true;
  for (size_t n = 0; n < cfg.flows.size(); ++n) {
    if (stopRequested_) return false;
    const FlowEntry& e = cfg.flows[n];
    int code = interp::loadCompiledFlow(flows_, e.file, platform::utf8ToGbk(e.vocDir), e.slot);
    if (code != interp::kLoadOk) {
      trace_("流程%s编号%d加载失败", e.file.c_str(), static_cast<int>(n));
      sleep_(100);
      ok = false;
      continue;
    }
    flows_.setFree(e.slot, false);
    if (!std::binary_search(flowSlots_.begin(), flowSlots_.end(), e.slot))
      flowSlots_.insert(std::upper_bound(flowSlots_.begin(), flowSlots_.end(), e.slot), e.slot);
  }

  setTriggers(triggerTable(cfg, trace_));
  return ok;
}

std::vector<Trigger> triggerTable(const SysConfig& cfg, TraceLog& trace) {
  std::vector<Trigger> triggers;
  for (const TriggerEntry& t : cfg.triggers) {
    std::string code = platform::utf8ToGbk(t.code);
    if (code.size() > static_cast<size_t>(kMaxAccessCode)) {
      trace("流程触发号码%s超过19个字符,不能使用", t.code.c_str());
      continue;
    }
    triggers.push_back({std::move(code), t.slot});
  }
  return triggers;
}

void Runtime::setTriggers(std::vector<Trigger> triggers) {
  assertOwner();
  triggers_ = std::move(triggers);
}

const Trigger* Runtime::matchTrigger(std::string_view d) const {
  assertOwner();
  for (const Trigger& t : triggers_) {
    if (t.code == d) return &t;
    size_t x = t.code.find('X');
    if (x != std::string::npos && t.code.size() == d.size() &&
        t.code.compare(0, x, d.substr(0, x)) == 0)
      return &t;
  }
  return nullptr;
}

std::string Runtime::takePendingCaller(int c) {
  if (!hasPendingCaller_[c]) return {};
  hasPendingCaller_[c] = false;
  return std::move(pendingCaller_[c]);
}

void Runtime::assertOwner() const {
  assert(owner_.load() == std::this_thread::get_id() &&
         "the scan thread's tables are reached from another thread: post a command instead");
}

void Runtime::post(Command command) {
  std::lock_guard lock(inboxMu_);
  inbox_.push_back(std::move(command));
}

std::shared_ptr<const RuntimeSnapshot> Runtime::snapshot() const {
  std::lock_guard lock(snapshotMu_);
  return snapshot_;
}

void Runtime::setChannelNumber(int c, const std::string& number) {
  const int type = cti_.CTIGetChannelType(c);
  // Simulated lines are all dialled like outer lines, except those the
  // simulator makes extensions: their numbers are extension numbers.
  if (accessMode() == cti::AccessMode::kSimulated && type != CHAN_TYPE_INNER) {
    chans_.record(c).setLineNumber(number);
    return;
  }
  if (type == CHAN_TYPE_OUTER)
    chans_.record(c).setLineNumber(number);
  else if (type == CHAN_TYPE_INNER)
    chans_.record(c).setExtension(number);
}

void Runtime::apply(ChannelNumbers& c) {
  const int n = std::min<int>(static_cast<int>(c.numbers.size()), channelCount_);
  for (int ch = 0; ch < n; ++ch)
    setChannelNumber(ch, platform::utf8ToGbk(c.numbers[static_cast<size_t>(ch)]));
}

void Runtime::dialPending() {
  const uint32_t now = clock_.ticks();
  for (int c = 0; c < channelCount_; ++c) {
    PendingDial& d = pendingDial_[static_cast<size_t>(c)];
    if (!d.waiting || platform::tickDiff(d.since, now) < kDialDelayMs) continue;
    d.waiting = false;
    cti_.CTICallOut(c, d.number.c_str());
  }
}

void Runtime::apply(WindowPlay& c) {
  if (c.channel < 0 || c.channel >= kMaxChannels) return;
  const size_t ch = static_cast<size_t>(c.channel);
  if (c.stop) {
    if (windowPlay_[ch] == 1) cti_.CTIStopPlayFile(c.channel, windowPlayMode_[ch]);
    windowPlay_[ch] = 0;
    return;
  }
  if (c.channel >= channelCount_) {
    windowPlay_[ch] = -1;
    return;
  }
  windowPlayMode_[ch] = c.mode;
  windowPlay_[ch] = cti_.CTIPlayFile(c.channel, c.path.c_str(), c.mode) == -1 ? -1 : 1;
}

void Runtime::drainInbox() {
  {
    std::lock_guard lock(inboxMu_);
    if (inbox_.empty()) return;
    draining_.swap(inbox_);
  }
  for (Command& c : draining_)
    std::visit([this](auto& cmd) { apply(cmd); }, c);
  draining_.clear();
}

bool Runtime::applyKeyCall(const KeyCallEvent& e) {
  assertOwner();
  if (callintype_ != 0 || e.channel < 0 || e.channel >= channelCount_) return false;
  switch (e.kind) {
    case KeyCallEvent::kBegin:
      pendingCaller_[e.channel] = e.caller;
      hasPendingCaller_[e.channel] = true;
      cti_.CTISetKeyDtmf(e.channel, 'B');
      return true;
    case KeyCallEvent::kEnd:
      cti_.CTISetKeyDtmf(e.channel, 'E');
      return true;
    case KeyCallEvent::kKey:
      cti_.CTISetKeyDtmf(e.channel, static_cast<unsigned char>(e.key));
      return true;
  }
  return false;
}

void Runtime::apply(KeyCallEvent& c) {
  applyKeyCall(c);
}

int Runtime::installFlow(int slot, cpl::ParsedFlow& flow, const std::string& path,
                         const std::string& vocDir) {
  const int code = interp::installParsedFlow(flows_, flow, path, platform::utf8ToGbk(vocDir), slot);
  if (code != interp::kLoadOk) return code;
  flows_.setFree(slot, false);
  if (!std::binary_search(flowSlots_.begin(), flowSlots_.end(), slot))
    flowSlots_.insert(std::upper_bound(flowSlots_.begin(), flowSlots_.end(), slot), slot);
  return code;
}

void Runtime::apply(LoadFlow& c) {
  int code = c.code;
  if (code == interp::kLoadOk && !c.flow) code = interp::kLoadCannotOpen;
  if (code == interp::kLoadOk) code = installFlow(c.slot, *c.flow, c.path, c.vocDir);
  if (code == interp::kLoadOk) {
    const auto st = flows_.state(
        c.slot, flows_.state(c.slot, 0).version > flows_.state(c.slot, 1).version ? 0 : 1);
    trace_("流程%s编号%d加载成功,版本%d", c.path.c_str(), c.slot, st.version);
  } else {
    trace_("流程%s编号%d加载失败", c.path.c_str(), c.slot);
  }
  if (c.done) c.done(code);
}

void Runtime::apply(FreeSlot& c) {
  if (c.slot < 0 || c.slot >= interp::kFlowSlots) return;
  flows_.setFree(c.slot, true);
  auto it = std::lower_bound(flowSlots_.begin(), flowSlots_.end(), c.slot);
  if (it != flowSlots_.end() && *it == c.slot) flowSlots_.erase(it);
}

void Runtime::apply(ReplaceTriggers& c) {
  triggers_ = std::move(c.triggers);
}

void Runtime::apply(SystemSettings& c) {
  trace_.setShow(c.messageshow != 0);
  if (c.callintype != callintype_) {
    callintype_ = c.callintype;
    // SIP lines keep the count they started with ([SIP] channels).
    if (c.callintype != CTI_MODE_SIP) channelCount_ = channelCountFor(c.callintype);
  }
}

void Runtime::apply(LineControl& c) {
  if (c.channel < 0 || c.channel >= channelCount_) return;
  if (cti_.CTIGetChannelType(c.channel) != CHAN_TYPE_OUTER) return;
  switch (c.action) {
    case LineControl::kOffHook:
      cti_.CTISetOutOffHook(c.channel);
      showIcon(c.channel, kIconOffHook);
      showStatus(c.channel, 1);
      break;
    case LineControl::kHangUp:
      cti_.CTISetOutHook(c.channel);
      break;
    case LineControl::kDial:
      // The number goes a second after the line is taken, when the exchange
      // has given its dial tone; the pass dials it then, without waiting.
      cti_.CTISetOutOffHook(c.channel);
      pendingDial_[static_cast<size_t>(c.channel)] = {true, clock_.ticks(), c.number};
      break;
  }
}

void Runtime::publish() {
  auto snap = std::make_shared<RuntimeSnapshot>();
  snap->pass = passes_;
  snap->channelCount = channelCount_;
  snap->callintype = callintype_;
  snap->channels.resize(static_cast<size_t>(channelCount_));
  for (int c = 0; c < channelCount_; ++c) {
    ChannelSnapshot& ch = snap->channels[static_cast<size_t>(c)];
    ChanRecord rec = chans_.record(c);
    ch.kind = chans_.current(c).kind();
    ch.blockIndex = chans_.step(c).blockIndex;
    ch.slot = chans_.holdsBank(c) ? rec.flowSlot() : -1;
    ch.bank = rec.bank();
    ch.lineState = rec.lineState();
    ch.icon = icon_[c];
    ch.status = status_[c];
    ch.caller = platform::gbkToUtf8(rec.callerNumber());
    ch.type = cti_.CTIGetChannelType(c);
    if (windowPlay_[static_cast<size_t>(c)] == 1 &&
        cti_.CTIGetPlayfinish(c, windowPlayMode_[static_cast<size_t>(c)]) < 1)
      windowPlay_[static_cast<size_t>(c)] = 0;
    ch.windowPlay = windowPlay_[static_cast<size_t>(c)];
    ch.number =
        platform::gbkToUtf8(ch.type == CHAN_TYPE_INNER ? rec.extension() : rec.lineNumber());
  }
  snap->flows.reserve(flowSlots_.size());
  for (int slot : flowSlots_) {
    FlowUsage u;
    u.slot = slot;
    interp::FlowTable::BankState b[2] = {flows_.state(slot, 0), flows_.state(slot, 1)};
    for (int k = 0; k < 2; ++k) {
      u.use[k] = b[k].useCount;
      u.version[k] = b[k].version;
    }
    u.current = b[0].version > b[1].version ? 0 : 1;
    u.path = b[u.current].path;
    u.vocDir = platform::gbkToUtf8(b[u.current].vocDir);
    snap->flows.push_back(std::move(u));
  }
  std::lock_guard lock(snapshotMu_);
  snapshot_ = std::move(snap);
}

// What a pass does for a channel in a block of each kind: the runtime's own
// steps for its own kinds (waiting for a call, the delayed hang-up) and for
// the start and script blocks, the telephony handler for every other kind
// of the kind table. Kinds outside both do nothing.
struct Runtime::KindStep {
  void (Runtime::*own)(int c) = nullptr;
  BlockHandler block = nullptr;
};

const std::array<Runtime::KindStep, Runtime::kKindSlots>& Runtime::kindSteps() {
  static_assert(
      [] {
        for (const cpl::KindInfo& k : cpl::kKinds)
          if (k.kind < 0 || k.kind >= kKindSlots) return false;
        return true;
      }(),
      "a block kind beyond the step table");
  static const std::array<KindStep, kKindSlots> table = [] {
    std::array<KindStep, kKindSlots> t{};
    for (const cpl::KindInfo& k : cpl::kKinds)
      t[static_cast<size_t>(k.kind)].block = blockHandler(k.kind);
    t[cpl::kKindWaitCall].own = &Runtime::waitForCall;
    t[cpl::kKindDelayedHangup].own = &Runtime::delayedHangup;
    t[cpl::kKindStart].own = &Runtime::startBlock;
    t[cpl::kKindScript].own = &Runtime::runScript;
    return t;
  }();
  return table;
}

void Runtime::runScript(int c) {
  RuntimeScriptHost host(*this);
  interp::runScriptBlock(host, c);
}

void Runtime::scanPass() {
  assertOwner();
  drainInbox();
  dialPending();
  ++passes_;
  const auto& steps = kindSteps();
  RuntimeCalls calls(*this);
  BlockServices svc{cti_, accessMode(), clock_, log_, calls};
  for (int c = 0; c < channelCount_; ++c) {
    if (accessMode() == cti::AccessMode::kTelephone && cti_.CTIGetChannelType(c) == CHAN_TYPE_INNER)
      continue;
    if (chans_.record(c).lineState() == CHAN_LINE_EXCLUDED) continue;
    const int16_t kind = chans_.current(c).kind();
    if (kind >= 0 && kind < kKindSlots) {
      const KindStep& step = steps[static_cast<size_t>(kind)];
      if (step.own) {
        (this->*step.own)(c);
      } else if (step.block) {
        Call call(chans_, flows_, c);
        step.block(call, svc);
      }
    }
    watchHangup(c);
  }
  publish();
}

void Runtime::watchHangup(int c) {
  const int16_t kind = chans_.current(c).kind();
  if (hangupLimitMs_ == 0 || kind == cpl::kKindWaitCall || kind == cpl::kKindDelayedHangup ||
      cti_.outLineStatus(c, accessMode()) != cti::OutLineStatus::kHungUp) {
    hungUpSeen_[c] = false;
    return;
  }
  const uint32_t now = clock_.ticks();
  if (!hungUpSeen_[c]) {
    hungUpSeen_[c] = true;
    hungUpTick_[c] = now;
    return;
  }
  if (platform::tickDiff(hungUpTick_[c], now) <= hangupLimitMs_) return;
  trace_("通道%d的来电已挂机%u秒,流程仍未复位通道,通道复位", c, hangupLimitMs_ / 1000);
  resetChannel(c);
}

void Runtime::waitForCall(int c) {
  if (c >= channelCount_) return;
  if (cti_.outLineStatus(c, accessMode()) != cti::OutLineStatus::kIncoming) return;

  ChanRecord rec = chans_.record(c);
  std::string caller;
  // Telephone and SIP lines know their caller; a simulated one was told by
  // KeyCall. SIP lines also wrote the called number into the record as the
  // line number when they reported the call.
  if (accessMode() != cti::AccessMode::kSimulated) {
    char num[CHAN_NUMBER_SIZE + 1] = {};
    cti_.CTIGetCallInNum(c, num);
    caller.assign(num, strnlen(num, CHAN_NUMBER_SIZE));
  } else {
    // The KeyCall receiver noted the caller; the call is ours to record now.
    caller = takePendingCaller(c);
    rec.setCallerNumber(caller);
  }
  const std::string dialled = rec.lineNumber();
  showIcon(c, kIconOffHook);
  log_.line("%s从通道%d打进%s", Gbk{caller}, c, Gbk{dialled});

  const Trigger* t = matchTrigger(dialled);
  if (!t) {
    trace_("%d通道没有发现IVR流程，通道挂机", c);
    chans_.current(c).setKind(cpl::kKindDelayedHangup);
    chans_.step(c).state = std::monostate{};
    return;
  }
  const int slot = t->slot;
  if (accessMode() != cti::AccessMode::kSimulated) {
    cti_.CTISetOutOffHook(c);
    cti_.CTIFlushDTMF(c, callintype_);
    rec.setCallerNumber(caller);
  } else {
    cti_.CTIOpenMCI();
  }
  rec.setCallId(callIdentifier(clock_.now(), c));
  trace_("%d find ivrfile,exec it", c);
  const int bank = flows_.acquire(slot);
  chans_.holdsBank(c) = bank >= 0;
  rec.setFlowSlot(slot);
  rec.setBank(bank >= 0 ? bank : 0);
  rec.setAnswerMark(1);
  rec.setAnswerKind(2);
  rec.setLineState(CHAN_LINE_IN_FLOW);
  gotoBlock(c, 0);
}

void Runtime::delayedHangup(int c) {
  DelayedHangupState& s = chans_.step(c).of<DelayedHangupState>();
  if (s.step == DelayedHangupStep::kEntered) {
    s.since = clock_.ticks();
    s.step = DelayedHangupStep::kWaiting;
    return;
  }
  if (platform::tickDiff(s.since, clock_.ticks()) > kHangupDelayMs) {
    cti_.CTISetOutHook(c);
    resetChannel(c);
  }
}

void Runtime::startBlock(int c) {
  trace_("通道%d执行Start命令", c);
  gotoBlock(c, chans_.current(c).i32At(cpl::StartRecord::kExits));
}

void Runtime::gotoBlock(int c, int b) {
  ChanRecord rec = chans_.record(c);
  const int p = rec.flowSlot();
  if (p > interp::kFlowSlots - 1) {
    trace_("线路%d的IVR流程文件索引号%d越界", c, p);
    resetChannel(c);  // nothing would ever end this call otherwise
    return;
  }
  if (p < 0) {
    trace_("通道%d没有设置IVR流程", c);
    resetChannel(c);
    return;
  }
  if (!chans_.holdsBank(c)) return;  // the call was reset under a running block
  const interp::FlowBank& bank = flows_.bank(p, rec.bank());
  if (b < 0 || b >= bank.blockCount) {
    trace_("通道%d读取ivr命令编号%d溢出!", c, b);
    resetChannel(c);
    return;
  }
  CurrentBlock& cur = chans_.current(c);
  cur.rec = bank.blocks[b].rec;
  cur.block = &bank.blocks[b];
  chans_.step(c).enterBlock(b);
}

void Runtime::resetChannel(int c) {
  if (c < 0 || c >= kMaxChannels) return;
  ChanRecord rec = chans_.record(c);
  if (chans_.holdsBank(c)) {
    flows_.release(rec.flowSlot(), rec.bank());
    chans_.holdsBank(c) = false;
  }
  hungUpSeen_[c] = false;
  if (resetObserver_) resetObserver_(c, chans_.current(c).kind() != cpl::kKindWaitCall);
  chans_.current(c).setKind(cpl::kKindWaitCall);
  chans_.current(c).block = nullptr;
  // Voice mail (4) and forwarding (5) belong to the extension, not the call.
  if (rec.lineState() != CHAN_LINE_VOICE_MAIL && rec.lineState() != CHAN_LINE_FORWARD)
    rec.setLineState(CHAN_LINE_IDLE);
  trace_("通道%d复位", c);
  cti_.CTIStopPlayFile(c, callintype_);
  cti_.CTIClearKeyDtmf(c);
  showIcon(c, kIconIdle);
  showStatus(c, kStatusIdle);
  rec.clearCall();
  chans_.regs(c).reset();
  // A statement still on the worker answers a call that is gone.
  if (channelDbs_) channelDbs_->forget(c);
  if (c < channelCount_) {
    cti_.CTISetOutHook(c);
    if (accessMode() == cti::AccessMode::kSimulated) cti_.CTICloseMCI();
  }
}

void Runtime::prepareChannels() {
  assertOwner();
  trace_("ivr流程解释线程开始执行");
  for (int c = 0; c < channelCount_; ++c) {
    int type = cti_.CTIGetChannelType(c);
    if (type == CHAN_TYPE_OUTER || type == CHAN_TYPE_INNER) {
      chans_.record(c).setLineState(CHAN_LINE_IDLE);
      if (type == CHAN_TYPE_OUTER) chans_.current(c).setKind(cpl::kKindWaitCall);
    }
  }
}

void Runtime::startScanThread() {
  if (running_.exchange(true)) return;
  scanThread_ = std::thread([this] {
    owner_ = std::this_thread::get_id();
    prepareChannels();
    // A pass starts every 50 ms: the sleep is until the next deadline, not
    // 50 ms after the last pass ended. A pass that overruns is told at most
    // once a second, and the next one starts at once, without catching up.
    using steady = std::chrono::steady_clock;
    constexpr auto kPeriod = std::chrono::milliseconds(kScanPeriodMs);
    auto next = steady::now() + kPeriod;
    auto lastOverrunNote = steady::time_point{};
    while (running_) {
      std::this_thread::sleep_until(next);
      if (!running_) break;
      const auto began = steady::now();
      scanPass();
      const auto ended = steady::now();
      next += kPeriod;
      if (ended > next) {
        if (ended - lastOverrunNote >= std::chrono::seconds(1)) {
          lastOverrunNote = ended;
          trace_("scan pass took %d ms, more than its %d ms period",
                 static_cast<int>(
                     std::chrono::duration_cast<std::chrono::milliseconds>(ended - began).count()),
                 kScanPeriodMs);
        }
        next = ended;
      }
    }
    trace_("ivr流程解释线程退出");
  });
}

void Runtime::requestStop() {
  {
    std::lock_guard lock(stopMu_);
    stopRequested_ = true;
  }
  stopCv_.notify_all();
}

void Runtime::stop() {
  running_ = false;
  if (scanThread_.joinable()) {
    scanThread_.join();
    owner_ = std::this_thread::get_id();
  }
}

}  // namespace callproc
