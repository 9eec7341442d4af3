// What every block handler reads and does for one channel in one pass.
#pragma once

#include <string>

#include "flowfile/blockrecords.h"
#include "platform/gbk.h"
#include "runtime/callproc/runtime.h"

namespace callproc {

struct BlockContext {
  BlockContext(Runtime& r, int ch)
      : rt(r),
        c(ch),
        cur(r.channels().current(ch)),
        st(r.channels().step(ch)),
        rec(r.channels().record(ch)),
        regs(r.channels().regs(ch)) {}

  Runtime& rt;
  int c;
  CurrentBlock& cur;
  StepRecord& st;
  ChanRecord rec;
  interp::Registers& regs;

  int index() const { return st.blockIndex; }
  int mode() const { return rt.callInType(); }
  cti::Cti& cti() const { return rt.cti(); }
  TraceLog& trace() const { return rt.trace(); }

  // Leaves through exit i of a record whose exits start at `exitsAt`.
  void exit(int i, int exitsAt) { rt.gotoBlock(c, cur.i32At(exitsAt + 4 * i)); }

  // Registers named by a record byte; a number above 31 (a damaged file)
  // reads as empty and is never written.
  std::string sreg(int n) const { return n >= 0 && n < interp::kRegisters ? regs.S[n] : ""; }
  int32_t ireg(int n) const { return n >= 0 && n < interp::kRegisters ? regs.I[n] : 0; }
  void setS(int n, std::string v) {
    if (n >= 0 && n < interp::kRegisters) regs.S[n] = std::move(v);
  }
  void setI(int n, int32_t v) {
    if (n >= 0 && n < interp::kRegisters) regs.I[n] = v;
  }

  uint8_t type(int off) const { return cur.u8At(off); }
  uint8_t reg(int off) const { return cur.u8At(off + 1); }
  // A number operand: the integer register for type 1, else its constant.
  int32_t number(int off) const {
    return type(off) == cpl::kOpI ? ireg(reg(off)) : cur.i32At(off + cpl::NumberOperand::kNumber);
  }
  // A text operand: the string register for type 4, else its constant.
  std::string text(int off, int size) const {
    return type(off) == cpl::kOpS ? sreg(reg(off)) : cur.textAt(off + 2, size);
  }
  // The name of a text-or-number operand (string register or constant text).
  std::string name(int off) const { return text(off, cpl::TextOrNumber::kTextSize); }
  // The index of a text-or-number operand (integer register or constant).
  int32_t indexOf(int off) const {
    return type(off) == cpl::kOpI ? ireg(reg(off)) : cur.i32At(off + cpl::TextOrNumber::kNumber);
  }

  bool hungUp() { return cti().outLineStatus(c, rt.accessMode()) == cti::OutLineStatus::kHungUp; }
  uint32_t elapsed() { return platform::tickDiff(st.startTick, rt.clock().ticks()); }
  void startTimer() { st.startTick = rt.clock().ticks(); }
  // The next key on channel `ch`, or -1.
  int key(int ch) {
    int k = 0;
    return cti().CTIGetDtmf(ch, &k, mode()) == 0 ? k : -1;
  }
  void status(int s) { rt.showStatus(c, s); }
};

// GBK text for a UTF-8 trace line.
inline std::string u8(std::string_view gbk) {
  return platform::gbkToUtf8(gbk);
}

}  // namespace callproc
