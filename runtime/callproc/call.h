// What a block handler works with: the call it steps (one channel's
// tables and its flow version) and the services it uses (the lines, the
// clock, the channel log and the control of calls), never the runtime
// itself.
#pragma once

#include <string>
#include <string_view>

#include "flowfile/blockrecords.h"
#include "platform/ticks.h"
#include "runtime/callproc/channels.h"
#include "runtime/chanlog/channel_log.h"
#include "runtime/cti/cti.h"
#include "runtime/interpreter/flow_table.h"

namespace callproc {

using chanlog::ChannelLog;
using chanlog::Gbk;

// One channel's call: its record, the block it runs, that block's progress
// and its registers.
struct Call {
  Call(ChannelTables& t, interp::FlowTable& flows, int ch);

  int c;
  CurrentBlock& cur;
  StepRecord& st;
  ChanRecord rec;
  interp::Registers& regs;
  // The flow version the call holds, or null (no call, or a slot out of range).
  const interp::FlowBank* bank = nullptr;

  int index() const { return st.blockIndex; }

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
};

// What a handler may ask of the calls around its own: the runtime answers.
class CallControl {
 public:
  virtual ~CallControl() = default;
  virtual void gotoBlock(int c, int b) = 0;
  virtual void resetChannel(int c) = 0;
  virtual void showStatus(int c, int status) = 0;
  virtual int channelCount() const = 0;
  // The other channels (the extension rung, the line talked to).
  virtual ChannelTables& channels() = 0;
  // The working directory at start-up (voice mail lives under it).
  virtual const std::string& workDir() const = 0;
};

struct BlockServices {
  cti::Cti& lines;
  cti::AccessMode mode;
  platform::Clock& clock;
  ChannelLog& log;
  CallControl& calls;
};

// One step of one block: the call and the services, with the small acts
// every handler repeats.
struct BlockStep {
  Call& call;
  BlockServices& svc;

  int c() const { return call.c; }
  int mode() const { return static_cast<int>(svc.mode); }
  cti::Cti& lines() const { return svc.lines; }
  ChannelLog& log() const { return svc.log; }

  // Leaves through a named exit of the block's kind. The block's state is
  // gone afterwards: nothing of it may be touched.
  template <typename Exit>
  void exit(Exit e) {
    exitAt(static_cast<int>(e), exitsAt(e));
  }
  void exitAt(int i, int exitsOffset) {
    svc.calls.gotoBlock(call.c, call.cur.i32At(exitsOffset + 4 * i));
  }

  bool hungUp() const {
    return svc.lines.outLineStatus(call.c, svc.mode) == cti::OutLineStatus::kHungUp;
  }
  cti::PlayState playState(int ch) const { return svc.lines.playState(ch, svc.mode); }
  uint32_t elapsedSince(uint32_t since) const {
    return platform::tickDiff(since, svc.clock.ticks());
  }
  uint32_t now() const { return svc.clock.ticks(); }
  // The next key on channel `ch`, or -1.
  int key(int ch) const {
    int k = 0;
    return svc.lines.CTIGetDtmf(ch, &k, mode()) == 0 ? k : -1;
  }
  void status(int s) { svc.calls.showStatus(call.c, s); }
};

}  // namespace callproc
