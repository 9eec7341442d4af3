// A ScriptHost for tests and the fuzz target: a flow of blocks, a pool, a
// few channels with their registers and call texts, and the trace lines kept
// in memory. Go to block and reset channel behave as the runtime's do: a
// target outside the flow writes its line and resets the channel, and a
// channel whose call was reset no longer moves.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "flowfile/encode.h"
#include "runtime/interpreter/database.h"
#include "runtime/interpreter/script.h"

namespace interp::testing {

class FakeScriptHost : public ScriptHost {
 public:
  struct Channel {
    Registers regs;
    int32_t step = 0;
    uint32_t pc = 0;
    int32_t block = 0;
    bool inCall = false;
    int16_t lineState = 0;
    std::string caller, called, callId;
    std::string sql;  // the prepared SQL text
  };

  explicit FakeScriptHost(int channels = 4) : chans(static_cast<size_t>(channels)) {}

  // A script block (kind 48) of `code` whose default exit leads to `defaultExit`.
  static FlowBlock scriptBlock(std::vector<cpl::Instruction> code, int32_t defaultExit) {
    FlowBlock b;
    b.rec = cpl::BlockImage::script(static_cast<int32_t>(code.size()), defaultExit);
    b.code = std::move(code);
    return b;
  }
  // A block of another kind, where a channel rests once the script is left.
  static FlowBlock plainBlock(int16_t kind = cpl::kKindPlayVoice) {
    FlowBlock b;
    b.rec = cpl::BlockImage::ofKind(kind);
    return b;
  }

  // Channel c answers a call and enters block b.
  void enter(int c, int b) {
    chans[c].inCall = true;
    gotoBlock(c, b);
  }
  // One scan pass: every channel in a script block runs.
  void pass() {
    for (int c = 0; c < channelCount(); ++c)
      if (chans[c].inCall && scriptBlock(c)) runScriptBlock(*this, c);
  }
  cpl::PoolRef text(std::string_view s) {
    auto r = strings.append(s);
    return r.value_or(cpl::PoolRef{});
  }
  std::vector<std::string> take() { return std::exchange(lines, {}); }

  void trace(std::string_view utf8) override { lines.emplace_back(utf8); }
  void gotoBlock(int c, int b) override {
    if (!chans[c].inCall) return;
    if (b < 0 || b >= static_cast<int>(blocks.size())) {
      char buf[80];
      std::snprintf(buf, sizeof buf, "通道%d读取ivr命令编号%d溢出!", c, b);
      lines.emplace_back(buf);
      resetChannel(c);
      return;
    }
    chans[c].block = b;
    chans[c].step = 0;
    chans[c].pc = 0;
  }
  void resetChannel(int c) override {
    Channel& ch = chans[c];
    ch.inCall = false;
    ch.lineState = 0;
    ch.caller.clear();
    ch.callId.clear();
    ch.regs.reset();
    lines.push_back("通道" + std::to_string(c) + "复位");
    ++resets;
    bool held = false;
    for (const Channel& other : chans)
      held = held || other.inCall;
    if (reloadOnReset && !held) {
      // No call holds the bank any more, so the flow may be reloaded at
      // once: the old block array is freed and the pool rewritten.
      std::vector<FlowBlock> fresh = blocks;
      blocks.swap(fresh);
      strings.bytes().fill(0xEE);
    }
  }
  int channelCount() const override { return static_cast<int>(chans.size()); }
  Registers& registers(int c) override { return chans[c].regs; }
  int32_t& step(int c) override { return chans[c].step; }
  uint32_t& pc(int c) override { return chans[c].pc; }
  int32_t blockIndex(int c) override { return chans[c].block; }
  const FlowBlock* scriptBlock(int c) override {
    const int b = chans[c].block;
    if (!chans[c].inCall || b < 0 || b >= static_cast<int>(blocks.size())) return nullptr;
    return blocks[b].kind() == cpl::kKindScript ? &blocks[b] : nullptr;
  }
  std::span<const uint8_t, cpl::kPoolSize> stringPool(int c) override { return strings.bytes(); }
  std::string callerNumber(int c) override { return chans[c].caller; }
  std::string calledNumber(int c) override { return chans[c].called; }
  std::string callId(int c) override { return chans[c].callId; }
  void setLineState(int c, int16_t s) override { chans[c].lineState = s; }
  std::time_t now() override { return clock; }
  ChannelDatabase* database() override { return db; }
  std::string& preparedSql(int c) override { return chans[c].sql; }

  std::vector<FlowBlock> blocks;
  cpl::StringPool strings;
  std::vector<Channel> chans;
  std::vector<std::string> lines;
  ChannelDatabase* db = nullptr;
  std::time_t clock = 1700000000;
  int resets = 0;
  bool reloadOnReset = false;
};

}  // namespace interp::testing
