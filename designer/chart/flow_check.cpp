#include "designer/chart/flow_check.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "designer/chart/block_dialogs.h"
#include "designer/compiler/tparser.h"
#include "flowfile/blockrecords.h"
#include "flowfile/encode.h"
#include "flowfile/operands.h"
#include "platform/gbk.h"
#include "platform/winpath.h"

namespace chart {

namespace {

using cpl::kKindStart;

// The exits a kind's handler takes for what happened on the call, with the
// name a flow author knows them by. Hang-up exits are left out on purpose
// (see flow_check.h); so are the key exits of the single-key branch.
struct OutcomeExit {
  int kind;
  int exit;
  std::string_view name;
};
constexpr OutcomeExit kOutcomeExits[] = {
    {cpl::kKindPlayVoice, 0, "放音结束"}, {cpl::kKindPlayVoice, 1, "不能放音"},
    {cpl::kKindTalk, 1, "对方挂机"},      {cpl::kKindInput, 0, "输入完成"},
    {cpl::kKindInput, 1, "输入超时"},     {cpl::kKindDigit, 12, "超时无输入"},
    {cpl::kKindCallExt, 0, "接通"},       {cpl::kKindCallExt, 1, "分机忙"},
    {cpl::kKindCallExt, 2, "无人接听"},   {cpl::kKindCallExt, 3, "分机不存在"},
    {cpl::kKindCallExt, 4, "语音留言"},   {cpl::kKindCallExt, 5, "呼叫转移"},
    {cpl::kKindRecord, 0, "录音结束"},    {cpl::kKindRecord, 1, "录音失败"},
    {cpl::kKindPlayTts, 0, "放音结束"},   {cpl::kKindPlayTts, 1, "不能放音"},
};

// Kinds the runtime passes over through exit 0.
bool unsupportedKind(int kind) {
  switch (kind) {
    case cpl::kKindCallSeat:
    case cpl::kKindCreateMeet:
    case cpl::kKindEnterMeet:
    case cpl::kKindMeetTalk:
    case cpl::kKindCallOut:
    case cpl::kKindCycPlay:
      return true;
    default:
      return false;
  }
}

// Blocks that hand the call on within the pass, without waiting for the caller.
bool passesThrough(int kind) {
  return kind == kKindStart || kind == cpl::kKindScript || unsupportedKind(kind);
}

std::string oneLine(std::string_view gbk) {
  std::string s = platform::gbkToUtf8(gbk);
  for (char& c : s)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return s;
}

// ---- Graphs -----------------------------------------------------------------

// The strongly connected components of the nodes for which `within` holds,
// taking only edges between such nodes; each sorted, in order of their
// lowest node. Iterative, so that a long script cannot exhaust the stack.
std::vector<std::vector<int>> components(const std::vector<std::vector<int>>& succ,
                                         const std::vector<char>& within) {
  const int n = static_cast<int>(succ.size());
  std::vector<std::vector<int>> pred(n);
  for (int v = 0; v < n; ++v)
    if (within[v])
      for (int w : succ[v])
        if (within[w]) pred[w].push_back(v);

  // First pass: nodes in order of finishing.
  std::vector<int> order;
  std::vector<char> seen(n, 0);
  for (int root = 0; root < n; ++root) {
    if (!within[root] || seen[root]) continue;
    std::vector<std::pair<int, size_t>> stack{{root, 0}};
    seen[root] = 1;
    while (!stack.empty()) {
      auto& [v, i] = stack.back();
      if (i < succ[v].size()) {
        const int w = succ[v][i++];
        if (within[w] && !seen[w]) {
          seen[w] = 1;
          stack.push_back({w, 0});
        }
      } else {
        order.push_back(v);
        stack.pop_back();
      }
    }
  }
  // Second pass on the reversed edges, latest finished first.
  std::vector<int> comp(n, -1);
  std::vector<std::vector<int>> out;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    if (comp[*it] >= 0) continue;
    std::vector<int> members, stack{*it};
    comp[*it] = static_cast<int>(out.size());
    while (!stack.empty()) {
      const int v = stack.back();
      stack.pop_back();
      members.push_back(v);
      for (int w : pred[v])
        if (comp[w] < 0) {
          comp[w] = comp[*it];
          stack.push_back(w);
        }
    }
    std::sort(members.begin(), members.end());
    out.push_back(std::move(members));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The loops nothing leads out of: components of nodes from which no node
// with `leaves` set can be reached, that are a cycle (more than one node,
// or a node that follows itself), among the nodes `considered`.
std::vector<std::vector<int>> closedLoops(const std::vector<std::vector<int>>& succ,
                                          const std::vector<char>& leaves,
                                          const std::vector<char>& considered) {
  const int n = static_cast<int>(succ.size());
  std::vector<std::vector<int>> pred(n);
  for (int v = 0; v < n; ++v)
    for (int w : succ[v])
      pred[w].push_back(v);
  std::vector<char> canLeave(n, 0);
  std::vector<int> stack;
  for (int v = 0; v < n; ++v)
    if (leaves[v]) {
      canLeave[v] = 1;
      stack.push_back(v);
    }
  while (!stack.empty()) {
    const int v = stack.back();
    stack.pop_back();
    for (int w : pred[v])
      if (!canLeave[w]) {
        canLeave[w] = 1;
        stack.push_back(w);
      }
  }
  std::vector<char> trapped(n, 0);
  for (int v = 0; v < n; ++v)
    trapped[v] = considered[v] && !canLeave[v];
  std::vector<std::vector<int>> loops;
  for (auto& c : components(succ, trapped)) {
    const int v = c[0];
    const bool cycle =
        c.size() > 1 || std::find(succ[v].begin(), succ[v].end(), v) != succ[v].end();
    if (cycle) loops.push_back(std::move(c));
  }
  return loops;
}

std::vector<char> reachableFrom(const std::vector<std::vector<int>>& succ, int start) {
  std::vector<char> seen(succ.size(), 0);
  if (start < 0 || start >= static_cast<int>(succ.size())) return seen;
  std::vector<int> stack{start};
  seen[start] = 1;
  while (!stack.empty()) {
    const int v = stack.back();
    stack.pop_back();
    for (int w : succ[v])
      if (!seen[w]) {
        seen[w] = 1;
        stack.push_back(w);
      }
  }
  return seen;
}

// ---- Scripts ----------------------------------------------------------------

// What one script block does, as far as its text tells.
struct ScriptFacts {
  bool compiled = false;
  std::string error;                     // the compiler's text when not compiled
  std::string poolError;                 // the text when the flow's shared pool overflows here
  bool defaultReachable = false;         // the default exit can be taken
  bool resetReachable = false;           // a resetchan can run
  std::vector<std::string> gotoouts;     // gotoout names that can run (GBK)
  std::vector<std::string> allGotoouts;  // every gotoout name (GBK)
  int loopLine = -1;                     // source line where an endless loop begins
};

int32_t labelTarget(const cpl::Instruction& ins) {
  const cpl::OpcodeInfo* info = cpl::findOpcode(ins.opcode());
  if (!info) return -1;
  for (const cpl::Field& f : info->operands())
    if (f.shape == cpl::Shape::kLabel) return cpl::decodeField(ins, f).ival;
  return -1;
}

bool resetsOtherChannel(const cpl::Instruction& ins) {
  const cpl::OpcodeInfo* info = cpl::findOpcode(ins.opcode());
  return !info || info->fieldCount < 1 ||
         cpl::decodeField(ins, info->fields[0]).type != cpl::kOpSys;
}

// The control flow of the compiled records: node n stands for running past
// the end. Leaving the block: gotoout, gotodef, resetchan and the end.
void analyseControl(const compiler::TParser& parser, const cpl::StringPool& pool,
                    ScriptFacts& facts) {
  const auto& recs = parser.records();
  const int n = static_cast<int>(recs.size());
  // The names as the compile looks them up, from the records themselves.
  for (const compiler::ScriptEntry& e : recs)
    if (e.record.opcode() == cpl::kGotoout) {
      std::string name = compiler::exitNameOf(e.record, pool);
      if (std::find(facts.allGotoouts.begin(), facts.allGotoouts.end(), name) ==
          facts.allGotoouts.end())
        facts.allGotoouts.push_back(std::move(name));
    }
  if (n == 0) {
    facts.defaultReachable = true;  // the handler takes the default exit at once
    return;
  }
  const int end = n;
  std::vector<std::vector<int>> succ(n + 1);
  std::vector<char> leaves(n + 1, 0);
  leaves[end] = 1;
  auto jump = [&](int32_t t) { return t >= 0 && t < n ? t : end; };
  for (int pc = 0; pc < n; ++pc) {
    const cpl::Instruction& ins = recs[pc].record;
    switch (ins.opcode()) {
      case cpl::kGoto:
        succ[pc].push_back(jump(labelTarget(ins)));
        break;
      case cpl::kIf:
        succ[pc].push_back(jump(labelTarget(ins)));
        succ[pc].push_back(pc + 1);
        break;
      case cpl::kGotoout:
      case cpl::kGotodef:
        leaves[pc] = 1;
        break;
      case cpl::kResetchan:
        // Resetting its own channel ends the call; another channel's (or one
        // the flow cannot know) may be this one, or not, and the script goes on.
        leaves[pc] = 1;
        if (resetsOtherChannel(ins)) succ[pc].push_back(pc + 1);
        break;
      default:  // condgoto too: the runtime passes over it
        succ[pc].push_back(pc + 1);
    }
  }
  const std::vector<char> reach = reachableFrom(succ, 0);
  facts.defaultReachable = reach[end];
  for (int pc = 0; pc < n; ++pc) {
    if (!reach[pc]) continue;
    const cpl::Instruction& ins = recs[pc].record;
    if (ins.opcode() == cpl::kGotodef) facts.defaultReachable = true;
    if (ins.opcode() == cpl::kResetchan) facts.resetReachable = true;
    if (ins.opcode() == cpl::kGotoout) {
      std::string name = compiler::exitNameOf(ins, pool);
      if (std::find(facts.gotoouts.begin(), facts.gotoouts.end(), name) == facts.gotoouts.end())
        facts.gotoouts.push_back(std::move(name));
    }
  }
  const auto loops = closedLoops(succ, leaves, reach);
  if (!loops.empty()) facts.loopLine = static_cast<int>(recs[loops.front().front()].record.line());
}

// ---- Records ----------------------------------------------------------------

bool typedShape(dialogs::Shape s) {
  switch (s) {
    case dialogs::Shape::kTextOrNumber:
    case dialogs::Shape::kNumber:
    case dialogs::Shape::kText:
    case dialogs::Shape::kPlayChannel:
    case dialogs::Shape::kEndKey:
      return true;
    default:
      return false;
  }
}

// The labels of the typed operands left at type 0; all of them when the
// dialog was never confirmed. nullopt when the kind stores no typed operand.
std::optional<std::vector<std::string_view>> unsetFields(const GELE& b, bool& all) {
  const dialogs::Dialog* d = dialogs::dialogFor(b.kind);
  if (!d) return std::nullopt;
  std::vector<std::string_view> unset;
  int typed = 0;
  for (const dialogs::Field& f : d->fields) {
    if (!typedShape(f.shape)) continue;
    ++typed;
    if (f.offset >= static_cast<int>(b.record.size()) || b.record[f.offset] == cpl::kOpNone)
      unset.push_back(f.label);
  }
  if (typed == 0) return std::nullopt;
  all = static_cast<int>(unset.size()) == typed;
  return unset;
}

// The voice file a block plays from the voice directory, as a GBK constant;
// empty when it plays none, by index, or from a register.
std::string voiceConstant(const GELE& b) {
  const auto& rec = b.record;
  int at = -1;
  bool asFile = false;
  switch (b.kind) {
    case cpl::kKindPlayVoice: {
      using R = cpl::PlayVoiceRecord;
      const cpl::RecordOperand t = cpl::readNumber(rec, R::kVoiceType);
      asFile = t.type == cpl::kOpInt && t.number == 0;
      at = R::kVoiceFile;
      break;
    }
    case cpl::kKindInput: {
      using R = cpl::InputRecord;
      const cpl::RecordOperand t = cpl::readNumber(rec, R::kVoiceType);
      asFile = t.type == cpl::kOpInt && t.number == 0;
      at = R::kPrompt;
      break;
    }
    case cpl::kKindDigit: {
      using R = cpl::DigitRecord;
      const cpl::RecordOperand t = cpl::readNumber(rec, R::kVoiceType);
      asFile = t.type == cpl::kOpInt && t.number == 0;
      at = R::kPrompt;
      break;
    }
    case cpl::kKindCallExt: {
      using R = cpl::CallExtRecord;
      asFile = R::kVoiceType < static_cast<int>(rec.size()) && rec[R::kVoiceType] == 0;
      at = R::kWaitPrompt;
      break;
    }
    default:
      return {};
  }
  if (!asFile) return {};
  const cpl::RecordOperand op = cpl::readTextOrNumber(rec, at);
  if (op.type != cpl::kOpStr) return {};
  std::string name = op.text;
  name.erase(0, std::min(name.size(), name.find_first_not_of(" \t")));
  return name;
}

// Whether the runtime would look `name` (GBK) up in the voice directory.
bool namesVoiceDirFile(const std::string& name) {
  if (name.size() < 3) return false;
  if (name[0] == '/' || name[0] == '\\') return false;
  if (name.rfind(".\\", 0) == 0 || name.rfind("..\\", 0) == 0) return false;
  if (name[1] == ':') return false;
  if ((name[0] == 's' || name[0] == 'S') &&
      std::all_of(name.begin() + 1, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;  // a string register's name
  return true;
}

bool voiceFileExists(const std::string& dir, const std::string& name) {
  const std::string lower = platform::gbkAsciiLower(name.substr(0, 255));
  const std::string path =
      platform::resolveCaseInsensitive(dir + "/" + platform::winPathToLinux(lower));
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// ---- The checker --------------------------------------------------------------

class Checker {
 public:
  Checker(const Chart& c, const CheckOptions& o) : chart_(c), opt_(o) {}

  std::vector<Finding> run() {
    const int n = chart_.blockCount();
    scripts_.resize(n);
    compileScripts();
    for (int b = 0; b < n; ++b)
      checkBlock(b);
    checkReach();
    checkBlockLoops();
    std::stable_sort(out_.begin(), out_.end(),
                     [](const Finding& a, const Finding& b) { return a.block < b.block; });
    return std::move(out_);
  }

 private:
  void add(int b, Severity s, FindingKind what, std::string message) {
    const GELE& g = chart_.block(b);
    out_.push_back({s, what, b, g.kind, oneLine(g.note), std::move(message)});
  }

  // Each script on a pool of its own, for its own errors; those that
  // compile again on one pool for the flow, as the compile fills it.
  void compileScripts() {
    cpl::StringPool flowPool;
    bool poolFull = false;
    for (int b = 0; b < chart_.blockCount(); ++b) {
      const GELE& g = chart_.block(b);
      if (!g.isScript()) continue;
      const auto& s = static_cast<const GCMD_DTC_SCRIPT&>(g);
      ScriptFacts& f = scripts_[b];
      cpl::StringPool pool;
      compiler::TParser parser(pool);
      parser.setSource(compiler::splitLines(s.script));
      if (!parser.compile()) {
        f.error = parser.error().text;
        continue;
      }
      f.compiled = true;
      analyseControl(parser, pool, f);
      if (poolFull) continue;
      compiler::TParser shared(flowPool);
      shared.setSource(compiler::splitLines(s.script));
      if (!shared.compile()) {
        f.poolError = shared.error().text;
        poolFull = true;
      }
    }
  }

  void checkBlock(int b) {
    const GELE& g = chart_.block(b);
    const std::vector<int32_t> targets = chart_.exitTargets(b);
    const bool anyConnected =
        std::any_of(targets.begin(), targets.end(), [](int32_t t) { return t != NO_TARGET; });

    if (g.kind == kKindStart && !targets.empty() && targets[0] == NO_TARGET)
      add(b, Severity::kError, FindingKind::kUnconnectedExit,
          "开始命令的出口未连接,来电接通后即被挂断");
    if (anyConnected)
      for (const OutcomeExit& e : kOutcomeExits)
        if (e.kind == g.kind && e.exit < static_cast<int>(targets.size()) &&
            targets[e.exit] == NO_TARGET)
          add(b, Severity::kWarning, FindingKind::kUnconnectedExit,
              "出口" + std::to_string(e.exit) + "(" + std::string(e.name) + ")未连接,来电将被挂断");
    if (g.isScript()) checkScript(b, anyConnected);

    if (!g.isScript() && g.kind != kKindStart && !unsupportedKind(g.kind)) {
      bool all = false;
      if (auto unset = unsetFields(g, all); unset && !unset->empty()) {
        std::string m = "参数未设置";
        if (all) {
          m += "(属性对话框从未确定)";
        } else {
          m += ":";
          for (size_t i = 0; i < unset->size(); ++i)
            m += (i ? "、" : "") + std::string((*unset)[i]);
        }
        add(b, Severity::kError, FindingKind::kParamsNotSet, std::move(m));
      }
    }
    if (!opt_.voiceDir.empty()) {
      const std::string name = voiceConstant(g);
      if (namesVoiceDirFile(name) && !voiceFileExists(opt_.voiceDir, name))
        add(b, Severity::kError, FindingKind::kMissingVoice,
            "语音文件" + platform::gbkToUtf8(name) + "在语音目录中不存在");
    }
    if (unsupportedKind(g.kind))
      add(b, Severity::kError, FindingKind::kUnsupportedKind,
          "运行时不执行此类命令(模块类型" + std::to_string(g.kind) + "),直接从出口0继续");
  }

  void checkScript(int b, bool anyConnected) {
    const auto& s = static_cast<const GCMD_DTC_SCRIPT&>(chart_.block(b));
    const ScriptFacts& f = scripts_[b];
    if (!f.compiled) {
      add(b, Severity::kError, FindingKind::kScriptError, "脚本编译错误:" + f.error);
      return;
    }
    if (!f.poolError.empty())
      add(b, Severity::kError, FindingKind::kScriptError, "脚本编译错误:" + f.poolError);
    if (anyConnected && f.defaultReachable && chart_.exitTarget(b, 0) == NO_TARGET)
      add(b, Severity::kWarning, FindingKind::kUnconnectedExit, "缺省出口未连接,来电将被挂断");
    for (const std::string& name : f.gotoouts) {
      const int e = s.findExit(name);
      if (e >= 0 && anyConnected && chart_.exitTarget(b, e) == NO_TARGET)
        add(b, Severity::kWarning, FindingKind::kUnconnectedExit,
            "出口" + platform::gbkToUtf8(name) + "未连接,来电将被挂断");
    }
    for (const std::string& name : f.allGotoouts)
      if (s.findExit(name) < 0)
        add(b, Severity::kError, FindingKind::kMissingExit,
            "gotoout " + platform::gbkToUtf8(name) + "没有对应的出口,请重新确定脚本");
    if (f.loopLine >= 0)
      add(b, Severity::kError, FindingKind::kEndlessLoop,
          "脚本死循环:[" + std::to_string(f.loopLine) + "行]起的循环没有出口,通道将一直执行下去");
  }

  void checkReach() {
    const int n = chart_.blockCount();
    std::vector<std::vector<int>> succ(n);
    for (int b = 0; b < n; ++b)
      for (int32_t t : chart_.exitTargets(b))
        if (t >= 0 && t < n) succ[b].push_back(t);
    const std::vector<char> reach = reachableFrom(succ, 0);
    for (int b = 1; b < n; ++b)
      if (!reach[b]) add(b, Severity::kWarning, FindingKind::kUnreachable, "从开始命令无法到达");
  }

  // The targets block `b` can hand the call to within the pass; `leaves`
  // is set when it can also go somewhere that waits or ends the call.
  std::vector<int32_t> passTargets(int b, bool& leaves) const {
    const GELE& g = chart_.block(b);
    std::vector<int32_t> t;
    if (!g.isScript()) {
      t.push_back(chart_.exitTarget(b, 0));
      return t;
    }
    const ScriptFacts& f = scripts_[b];
    if (!f.compiled) {
      leaves = true;  // what it does is not known
      return t;
    }
    if (f.resetReachable) leaves = true;
    if (f.defaultReachable) t.push_back(chart_.exitTarget(b, 0));
    for (const std::string& name : f.gotoouts)
      t.push_back(chart_.lookupExit(b, name));
    return t;
  }

  void checkBlockLoops() {
    const int n = chart_.blockCount();
    std::vector<std::vector<int>> succ(n);
    std::vector<char> leaves(n, 0), considered(n, 0);
    for (int b = 0; b < n; ++b) {
      if (!passesThrough(chart_.block(b).kind)) {
        leaves[b] = 1;
        continue;
      }
      considered[b] = 1;
      bool out = false;
      for (int32_t t : passTargets(b, out)) {
        if (t >= 0 && t < n && passesThrough(chart_.block(t).kind))
          succ[b].push_back(t);
        else
          out = true;  // nowhere (the call ends) or a block that waits
      }
      leaves[b] = out;
    }
    for (const std::vector<int>& loop : closedLoops(succ, leaves, considered)) {
      std::string list;
      for (size_t i = 0; i < loop.size(); ++i)
        list += (i ? "、" : "") + std::to_string(loop[i]);
      add(loop.front(), Severity::kError, FindingKind::kEndlessLoop,
          "命令死循环:命令" + list + "之间循环跳转,没有等待来电者的命令,也没有出口");
    }
  }

  const Chart& chart_;
  const CheckOptions& opt_;
  std::vector<ScriptFacts> scripts_;
  std::vector<Finding> out_;
};

}  // namespace

std::vector<Finding> checkFlow(const Chart& chart, const CheckOptions& options) {
  return Checker(chart, options).run();
}

std::string kindCaption(int kind) {
  switch (kind) {
    case cpl::kKindStart:
      return "开始";
    case cpl::kKindCallSeat:
      return "呼叫座席";
    case cpl::kKindPlayVoice:
      return "播放语音";
    case cpl::kKindTalk:
      return "通话中";
    case cpl::kKindInput:
      return "按键输入";
    case cpl::kKindDigit:
      return "单键跳转";
    case cpl::kKindCreateMeet:
      return "创建会议";
    case cpl::kKindEnterMeet:
      return "加入会议";
    case cpl::kKindMeetTalk:
      return "会议中";
    case cpl::kKindScript:
      return "脚本命令";
    case cpl::kKindCallExt:
      return "呼叫分机";
    case cpl::kKindCallOut:
      return "呼叫外线";
    case cpl::kKindRecord:
      return "录音";
    case cpl::kKindPlayTts:
      return "组合放音";
    case cpl::kKindCycPlay:
      return "循环放音";
    default:
      return "类型" + std::to_string(kind);
  }
}

std::string formatFinding(const Finding& f) {
  std::string s = f.severity == Severity::kError ? "错误: " : "警告: ";
  s += "命令" + std::to_string(f.block) + "(" + kindCaption(f.kind) + ")";
  if (!f.note.empty()) s += "[" + f.note + "]";
  s += ": " + f.message;
  return s;
}

bool hasErrors(const std::vector<Finding>& findings) {
  return std::any_of(findings.begin(), findings.end(),
                     [](const Finding& f) { return f.severity == Severity::kError; });
}

std::string checkSummary(const std::vector<Finding>& findings) {
  const auto errors = std::count_if(findings.begin(), findings.end(), [](const Finding& f) {
    return f.severity == Severity::kError;
  });
  return "检查完成: " + std::to_string(errors) + "个错误, " +
         std::to_string(findings.size() - static_cast<size_t>(errors)) + "个警告";
}

std::string voiceDirBeside(std::string_view projectPath) {
  if (projectPath.empty() || projectPath == kUntitled) return {};
  std::error_code ec;
  const std::filesystem::path dir =
      std::filesystem::path(projectPath).parent_path() / std::filesystem::path("voice");
  // A file called "voice" is not a folder of voice files.
  if (!std::filesystem::is_directory(dir, ec)) return {};
  return dir.string();
}

}  // namespace chart
