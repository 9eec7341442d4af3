// Control commands: jumps inside the block, leaving it, print and resetchan.
#include "runtime/interpreter/dispatch.h"
#include "runtime/interpreter/script_run.h"

namespace interp {

// The target is not range-checked: one at or past the end leaves the block
// through its default exit at the next pass.
void execGoto(ScriptRun& run) {
  run.host.pc(run.chan) = static_cast<uint32_t>(run.ops[0].ival);
  run.transferred = true;
}

// The line reports the block index and counter after the transfer.
void execGotoout(ScriptRun& run) {
  const int32_t target = run.ops[0].ival;
  run.host.gotoBlock(run.chan, target);
  run.stepLine("GotoOut %d", target);
  run.transferred = true;
}

void execGotodef(ScriptRun& run) {
  run.stepLine("GotoDef");
  run.host.gotoBlock(run.chan, run.defaultExit());
  run.transferred = true;
}

void execPrint(ScriptRun& run) {
  const cpl::Operand& o = run.ops[0];
  const Registers& r = run.regs;
  switch (o.type) {
    case cpl::kOpI:
      return run.stepLine("Print I%d=%d", o.reg, r.I[o.reg]);
    case cpl::kOpF:
      return run.stepLine("Print F%d=%f", o.reg, r.F[o.reg]);
    case cpl::kOpS:
      return run.stepLine("Print S%d=%s", o.reg, Gbk{r.S[o.reg]});
    case cpl::kOpT:
      return run.stepLine("Print T%d=%s", o.reg,
                          formatTime(r.T[o.reg], "%Y-%m-%d %H:%M:%S").c_str());
    default:
      return run.stepLine("Print 命令错误");
  }
}

// Resetting the running channel does not end the pass: the instructions after
// it run on the cleared registers.
void execResetchan(ScriptRun& run) {
  const cpl::Operand& o = run.ops[0];
  int target;
  if (o.type == cpl::kOpSys)
    target = run.chan;
  else if (o.type == cpl::kOpI)
    target = run.regs.I[o.reg];
  else
    target = static_cast<int16_t>(o.ival & 0xFFFF);
  if (target < 0 || target >= run.host.channelCount()) {
    run.stepLine("ResetChan %d 通道号超出范围,不复位", target);
    return;
  }
  if (target == run.chan) run.detachFromBank();
  run.host.resetChannel(target);
  run.stepLine("ResetChan %d OK", target);
}

std::span<const HandlerEntry> controlHandlers() {
  static constexpr HandlerEntry kHandlers[] = {
      {cpl::kGoto, execGoto},           {cpl::kGotoout, execGotoout},
      {cpl::kGotodef, execGotodef},     {cpl::kPrint, execPrint, true},
      {cpl::kResetchan, execResetchan},
  };
  return kHandlers;
}

}  // namespace interp
