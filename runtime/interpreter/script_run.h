// One channel's script run during one scan pass, as the command families see
// it: the instruction being executed with its operands decoded through the
// opcode table, the channel's registers, its string pool, and the trace line
// helpers. Shared by the control, assignment, string/date and database
// command files.
#pragma once

#include <array>
#include <cstdarg>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "flowfile/encode.h"
#include "runtime/chanlog/channel_log.h"
#include "runtime/interpreter/script.h"

namespace interp {

using chanlog::Gbk;

// The host's trace as the channel log writes to it.
class HostLineSink final : public chanlog::LineSink {
 public:
  explicit HostLineSink(ScriptHost& host) : host_(host) {}
  bool showing() const override { return host_.tracing(); }
  void text(std::string_view utf8) override { host_.trace(utf8); }

 private:
  ScriptHost& host_;
};

// Longest text an S register may hold. Registers are unbounded in principle,
// but a script that doubles a string in a loop would exhaust memory within a
// few passes; a command whose result would pass this limit is refused.
inline constexpr size_t kMaxStringRegister = 65536;

class ScriptRun {
 public:
  ScriptRun(ScriptHost& host, int c);
  ScriptRun(const ScriptRun&) = delete;
  ScriptRun& operator=(const ScriptRun&) = delete;

  ScriptHost& host;
  const int chan;
  Registers& regs;

  // The instruction being executed and its fields, decoded by its layout.
  cpl::Instruction ins;
  const cpl::OpcodeInfo* info = nullptr;
  std::array<cpl::Operand, cpl::kMaxFields> ops;
  // Set by commands that leave the pass: a jump or a transfer to a block.
  bool transferred = false;
  // Set by a command that waits for a result (a statement on the database
  // worker): the pass ends at this instruction, which runs again next pass.
  bool waiting = false;

  std::span<const cpl::Instruction> code() const { return code_; }
  int32_t defaultExit() const { return defaultExit_; }
  bool hasBlock() const { return hasBlock_; }

  // The running channel is about to be reset while the script goes on:
  // keep private copies of the instructions and pool, since the bank may be
  // reloaded once the call no longer holds it.
  void detachFromBank();

  // "通道%d=>(%d:%d)" followed by the formatted text (the channel log's
  // formats: a GBK argument may be given as Gbk{text}).
  template <typename... A>
  void stepLine(chanlog::LineFormat<A...> fmt, const A&... args) {
    if (!log_.showing()) return;  // nothing would show the line: skip formatting it
    log_.script(chan, host.blockIndex(chan), static_cast<int>(host.pc(chan)), fmt, args...);
  }
  // The formatted text alone.
  template <typename... A>
  void line(chanlog::LineFormat<A...> fmt, const A&... args) {
    log_.line(fmt, args...);
  }
  // "通道%d=>" followed by the formatted text.
  template <typename... A>
  void channelLine(chanlog::LineFormat<A...> fmt, const A&... args) {
    log_.channel(chan, fmt, args...);
  }
  // "通道%2d (外线) : " followed by the formatted text.
  template <typename... A>
  void outerLine(chanlog::LineFormat<A...> fmt, const A&... args) {
    log_.outer(chan, fmt, args...);
  }

  std::string poolText(cpl::PoolRef ref) const { return interp::poolText(pool_, ref); }
  bool inPool(cpl::PoolRef ref) const;

  // [o: I, int]: the I register or the int32 constant.
  int32_t intOperand(const cpl::Operand& o) const;
  // [o: S, str]: the S register or the pool text.
  std::string textOperand(const cpl::Operand& o) const;

  // Writes the refusal line for a result string that would be too long.
  void refuseLength(size_t length);

 private:
  std::span<const cpl::Instruction> code_;
  std::span<const uint8_t, cpl::kPoolSize> pool_;
  int32_t defaultExit_ = cpl::NO_TARGET;
  bool hasBlock_ = false;
  std::unique_ptr<std::vector<cpl::Instruction>> ownCode_;
  std::unique_ptr<std::array<uint8_t, cpl::kPoolSize>> ownPool_;
  HostLineSink sink_{host};
  chanlog::ChannelLog log_{sink_};
};

// GBK text for a trace line.
std::string utf8(std::string_view gbk);
// A double truncated towards zero to 32 bits; NaN and values outside the
// range give INT32_MIN, as the processor's own conversion does.
int32_t truncToI32(double v);

// The command families, registered by opcode in each family file's table
// (dispatch.h). Each executes ins of the run; operands have passed the
// register, type and pool checks.
void execGoto(ScriptRun& run);
void execGotoout(ScriptRun& run);
void execGotodef(ScriptRun& run);
void execPrint(ScriptRun& run);
void execResetchan(ScriptRun& run);

void execSet(ScriptRun& run);
void execArith(ScriptRun& run);
void execIf(ScriptRun& run);
void execConvert(ScriptRun& run);

void execString(ScriptRun& run);
void execDate(ScriptRun& run);

void execDatabase(ScriptRun& run);

}  // namespace interp
