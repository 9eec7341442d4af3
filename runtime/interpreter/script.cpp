// The script block handler and what every command family shares: fetching,
// the operand checks, the trace line helpers, time texts and pool texts.
#include "runtime/interpreter/script.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/gbk.h"
#include "runtime/interpreter/dispatch.h"
#include "runtime/interpreter/script_run.h"

namespace interp {

namespace {

constexpr int32_t kStepEntered = 0;
constexpr int32_t kStepRunning = 10;
constexpr int16_t kLineInFlow = 6;
constexpr uint32_t kPassLimit = 50;

bool isRegisterType(cpl::OperandType t) {
  return t >= cpl::kOpI && t <= cpl::kOpS;
}

// Whatever a hostile record holds, no command may index a register above 31,
// use an operand type its layout does not admit (unless its handler answers
// such types itself: ownTypes), or read outside the pool. Returns false after
// writing the refusal line.
bool operandsUsable(ScriptRun& run, bool ownTypes) {
  const char* kw = run.info->keyword.data();
  for (int i = 0; i < run.info->fieldCount; ++i) {
    const cpl::Field& f = run.info->fields[i];
    const cpl::Operand& o = run.ops[i];
    if (f.shape == cpl::Shape::kBare && o.reg >= kRegisters) {
      run.stepLine("%s命令的第%d个操作数寄存器号%d无效,命令不执行", kw, i + 1, o.reg);
      return false;
    }
    if (f.shape != cpl::Shape::kOperand) continue;
    if (isRegisterType(o.type) && o.reg >= kRegisters) {
      run.stepLine("%s命令的第%d个操作数寄存器号%d无效,命令不执行", kw, i + 1, o.reg);
      return false;
    }
    if (!cpl::admits(f, o.type)) {
      if (ownTypes) continue;
      run.stepLine("%s命令的第%d个操作数类型%d无效,命令不执行", kw, i + 1, o.type);
      return false;
    }
    if (o.type == cpl::kOpStr && f.str >= 0 && !run.inPool(o.str)) {
      run.stepLine("%s命令的第%d个操作数字符串引用(%u,%u)超出字符串池,命令不执行", kw, i + 1,
                   static_cast<unsigned>(o.str.offset), static_cast<unsigned>(o.str.length));
      return false;
    }
  }
  return true;
}

void execute(ScriptRun& run) {
  const int16_t op = run.ins.opcode();
  run.info = cpl::findOpcode(op);
  if (!run.info) return;  // outside the table: passed over like the rest
  const DispatchEntry& handler = dispatchTable()[op];
  if (!handler.run) return;  // not executed by the runtime: no line, the counter advances
  for (int i = 0; i < run.info->fieldCount; ++i)
    run.ops[i] = cpl::decodeField(run.ins, run.info->fields[i]);
  if (!operandsUsable(run, handler.reportsOwnTypes)) return;
  handler.run(run);
}

int32_t localTime(int year, int mon, int day, int hour, int min, int sec) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = mon - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = min;
  tm.tm_sec = sec;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  // A date the 32-bit time value cannot hold fails as the conversion does.
  if (t < std::numeric_limits<int32_t>::min() || t > std::numeric_limits<int32_t>::max()) return -1;
  return static_cast<int32_t>(t);
}

// A fixed-width decimal field read the way atoi reads text: leading blanks,
// an optional sign, digits up to the first other character.
int fieldValue(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r')))
    ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  int v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
    v = v * 10 + (s[i] - '0');
  return neg ? -v : v;
}

}  // namespace

// ---- ScriptRun --------------------------------------------------------------

ScriptRun::ScriptRun(ScriptHost& h, int c)
    : host(h), chan(c), regs(h.registers(c)), pool_(h.stringPool(c)) {
  if (const FlowBlock* b = h.scriptBlock(c)) {
    code_ = b->code;
    defaultExit_ = b->defaultExit();
    hasBlock_ = true;
  }
}

void ScriptRun::detachFromBank() {
  if (ownCode_) return;
  ownCode_ = std::make_unique<std::vector<cpl::Instruction>>(code_.begin(), code_.end());
  ownPool_ = std::make_unique<std::array<uint8_t, cpl::kPoolSize>>();
  std::memcpy(ownPool_->data(), pool_.data(), cpl::kPoolSize);
  code_ = *ownCode_;
  pool_ = std::span<const uint8_t, cpl::kPoolSize>(*ownPool_);
}

bool ScriptRun::inPool(cpl::PoolRef ref) const {
  return static_cast<int>(ref.offset) + static_cast<int>(ref.length) <= cpl::kPoolSize;
}

int32_t ScriptRun::intOperand(const cpl::Operand& o) const {
  if (o.type == cpl::kOpI) return regs.I[o.reg];
  if (o.type == cpl::kOpInt) return o.ival;
  return 0;
}

std::string ScriptRun::textOperand(const cpl::Operand& o) const {
  if (o.type == cpl::kOpS) return regs.S[o.reg];
  if (o.type == cpl::kOpStr) return poolText(o.str);
  return {};
}

void ScriptRun::refuseLength(size_t length) {
  stepLine("%s命令的结果长%zu字节,超过%zu字节,命令不执行", info->keyword.data(), length,
           kMaxStringRegister);
}

// ---- Shared helpers ---------------------------------------------------------

std::string utf8(std::string_view gbk) {
  return platform::gbkToUtf8(gbk);
}

int32_t truncToI32(double v) {
  if (!(v > -2147483649.0 && v < 2147483648.0)) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

int32_t textToTime(std::string_view text) {
  if (text.size() == 14) {
    const int year = fieldValue(text.substr(0, 4)), mon = fieldValue(text.substr(4, 2)),
              day = fieldValue(text.substr(6, 2)), hour = fieldValue(text.substr(8, 2)),
              min = fieldValue(text.substr(10, 2)), sec = fieldValue(text.substr(12, 2));
    if (year >= 1980 && year <= 3000 && mon >= 1 && mon <= 12 && day >= 1 && day <= 31 &&
        hour >= 0 && hour <= 24 && min >= 0 && min <= 60 && sec >= 0 && sec <= 60)
      return localTime(year, mon, day, hour, min, sec);
  }
  return localTime(1980, 1, 1, 1, 1, 1);
}

std::string poolText(std::span<const uint8_t, cpl::kPoolSize> pool, cpl::PoolRef ref) {
  if (ref.offset >= cpl::kPoolSize) return {};
  const size_t n = std::min<size_t>(ref.length, cpl::kPoolSize - ref.offset);
  const char* p = reinterpret_cast<const char*>(pool.data() + ref.offset);
  return std::string(p, ::strnlen(p, n));
}

std::string formatTime(int32_t t, const char* fmt) {
  std::time_t tt = t;
  std::tm tm{};
  localtime_r(&tt, &tm);
  char buf[64];
  size_t n = std::strftime(buf, sizeof buf, fmt, &tm);
  return std::string(buf, n);
}

// ---- The block handler ------------------------------------------------------

void runScriptBlock(ScriptHost& host, int c) {
  int32_t& step = host.step(c);
  if (step == kStepEntered) {
    HostLineSink sink(host);
    chanlog::ChannelLog(sink).block(c, host.blockIndex(c), "Script命令");
    host.setLineState(c, kLineInFlow);
    host.pc(c) = 0;
    const FlowBlock* b = host.scriptBlock(c);
    if (b && !b->code.empty()) {
      step = kStepRunning;
      return;
    }
    host.gotoBlock(c, b ? b->defaultExit() : cpl::NO_TARGET);
    return;
  }
  if (step != kStepRunning) return;

  ScriptRun run(host, c);
  if (!run.hasBlock()) return;
  for (;;) {
    uint32_t& pc = host.pc(c);
    if (pc >= run.code().size()) {
      host.gotoBlock(c, run.defaultExit());
      return;
    }
    run.ins = run.code()[pc];
    execute(run);
    if (run.transferred || run.waiting) return;
    uint32_t& after = host.pc(c);
    after += 1;
    if (after % kPassLimit == 0) return;
  }
}

}  // namespace interp
