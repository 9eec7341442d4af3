// The per-channel tables: the channel record (shared with the CTI library,
// layout in hardware/chanrecord.h), the step record (progress of the block
// being run, call_state.h) and the current block record (a copy of that block).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "flowfile/block_image.h"
#include "flowfile/cplformat.h"
#include "hardware/chanrecord.h"
#include "platform/bytes.h"
#include "runtime/callproc/call_state.h"
#include "runtime/interpreter/flow_table.h"
#include "runtime/interpreter/registers.h"

namespace callproc {

inline constexpr int kMaxChannels = CHAN_MAX;

// One 353-byte record of the shared table, read and written at its offsets.
class ChanRecord {
 public:
  explicit ChanRecord(uint8_t* p) : p_(p) {}

  int16_t lineState() const { return platform::getI16(span(), CHAN_OFF_LINE_STATE); }
  void setLineState(int16_t v) { platform::putI16(span(), CHAN_OFF_LINE_STATE, v); }
  int32_t flowSlot() const { return platform::getI32(span(), CHAN_OFF_FLOW_SLOT); }
  void setFlowSlot(int32_t v) { platform::putI32(span(), CHAN_OFF_FLOW_SLOT, v); }
  int32_t bank() const { return platform::getI32(span(), CHAN_OFF_BANK); }
  void setBank(int32_t v) { platform::putI32(span(), CHAN_OFF_BANK, v); }
  int16_t linked() const { return platform::getI16(span(), CHAN_OFF_LINKED); }
  void setLinked(int16_t v) { platform::putI16(span(), CHAN_OFF_LINKED, v); }
  int16_t answerMark() const { return platform::getI16(span(), CHAN_OFF_ANSWER_MARK); }
  void setAnswerMark(int16_t v) { platform::putI16(span(), CHAN_OFF_ANSWER_MARK, v); }
  uint8_t answerKind() const { return p_[CHAN_OFF_ANSWER_KIND]; }
  void setAnswerKind(uint8_t v) { p_[CHAN_OFF_ANSWER_KIND] = v; }

  // Zero-terminated GBK text fields. Setting cuts the text to the field's
  // size less one and zero-fills the rest.
  std::string text(int off, int size) const;
  void setText(int off, int size, std::string_view v);

  std::string callerNumber() const { return text(CHAN_OFF_CALLER, CHAN_NUMBER_SIZE); }
  void setCallerNumber(std::string_view v) { setText(CHAN_OFF_CALLER, CHAN_NUMBER_SIZE, v); }
  std::string callId() const { return text(CHAN_OFF_CALL_ID, CHAN_NUMBER_SIZE); }
  void setCallId(std::string_view v) { setText(CHAN_OFF_CALL_ID, CHAN_NUMBER_SIZE, v); }
  std::string peerNumber() const { return text(CHAN_OFF_PEER_NUMBER, CHAN_NUMBER_SIZE); }
  void setPeerNumber(std::string_view v) { setText(CHAN_OFF_PEER_NUMBER, CHAN_NUMBER_SIZE, v); }
  std::string lineNumber() const { return text(CHAN_OFF_LINE_NUMBER, CHAN_LINE_NUMBER_SIZE); }
  void setLineNumber(std::string_view v) {
    setText(CHAN_OFF_LINE_NUMBER, CHAN_LINE_NUMBER_SIZE, v);
  }
  std::string extension() const { return text(CHAN_OFF_EXTENSION, CHAN_EXTENSION_SIZE); }
  void setExtension(std::string_view v) { setText(CHAN_OFF_EXTENSION, CHAN_EXTENSION_SIZE, v); }
  std::string forwardNumber() const { return text(CHAN_OFF_FORWARD, CHAN_FORWARD_SIZE); }
  void setForwardNumber(std::string_view v) { setText(CHAN_OFF_FORWARD, CHAN_FORWARD_SIZE, v); }
  std::string keyBuffer() const { return text(CHAN_OFF_KEY_BUFFER, CHAN_KEY_BUFFER_SIZE); }
  // The key buffer holds up to 64 keys: when full it has no terminator.
  void setKeyBuffer(std::string_view v) {
    std::memset(p_ + CHAN_OFF_KEY_BUFFER, 0, CHAN_KEY_BUFFER_SIZE);
    std::memcpy(p_ + CHAN_OFF_KEY_BUFFER, v.data(),
                std::min<size_t>(v.size(), CHAN_KEY_BUFFER_SIZE));
  }

  // Clears the call: everything but the flow slot, bank, line number,
  // extension and forwarding number; line states 4 and 5 (extension
  // settings) survive.
  void clearCall();

  std::span<uint8_t, CHAN_RECORD_SIZE> span() const {
    return std::span<uint8_t, CHAN_RECORD_SIZE>(p_, CHAN_RECORD_SIZE);
  }

 private:
  uint8_t* p_;
};

// The block a channel runs: a copy of its image (the runtime's own kinds 0
// and 1 are set in it) and, for a script block, its instructions in the bank.
struct CurrentBlock {
  cpl::BlockImage rec;
  const interp::FlowBlock* block = nullptr;  // valid while the call holds its bank

  int16_t kind() const { return rec.kind(); }
  void setKind(int16_t k) { rec.setKind(k); }
  int32_t i32At(int storedOffset) const { return rec.i32At(storedOffset); }
  uint8_t u8At(int storedOffset) const { return rec.u8At(storedOffset); }
  std::string textAt(int storedOffset, int size) const { return rec.textAt(storedOffset, size); }
};

class ChannelTables {
 public:
  ChannelTables();
  ChanRecord record(int c) {
    return ChanRecord(&records_[static_cast<size_t>(c) * CHAN_RECORD_SIZE]);
  }
  uint8_t* recordTable() { return records_.data(); }
  StepRecord& step(int c) { return steps_[c]; }
  CurrentBlock& current(int c) { return current_[c]; }
  interp::Registers& regs(int c) { return regs_[c]; }
  // Whether channel c's call holds a use count on its flow bank.
  bool& holdsBank(int c) { return holdsBank_[c]; }

  // Link two channels for talking: both line states 1, each other's linked
  // channel and each other's caller number as peer number. The caller checks
  // the range.
  void link(int a, int b);
  // First channel below `count` whose extension number equals `number`, or
  // -1. An empty number is no extension at all: it finds only an inner line
  // (isInner) whose extension number is empty, never an outer line, whose
  // extension field is empty too and would ring the caller's own line.
  int findExtension(std::string_view number, int count, const std::function<bool(int)>& isInner);

 private:
  std::array<uint8_t, CHAN_RECORD_SIZE * kMaxChannels> records_{};
  std::array<StepRecord, kMaxChannels> steps_;
  std::array<CurrentBlock, kMaxChannels> current_;
  std::array<interp::Registers, kMaxChannels> regs_;
  std::array<bool, kMaxChannels> holdsBank_{};
};

}  // namespace callproc
