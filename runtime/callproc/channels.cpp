#include "runtime/callproc/channels.h"

#include <algorithm>

namespace callproc {

std::string ChanRecord::text(int off, int size) const {
  const char* s = reinterpret_cast<const char*>(p_ + off);
  return std::string(s, strnlen(s, size));
}

void ChanRecord::setText(int off, int size, std::string_view v) {
  size_t n = std::min(v.size(), static_cast<size_t>(size - 1));
  std::memset(p_ + off, 0, size);
  std::memcpy(p_ + off, v.data(), n);
}

void ChanRecord::clearCall() {
  int16_t s = lineState();
  if (s != CHAN_LINE_VOICE_MAIL && s != CHAN_LINE_FORWARD) setLineState(CHAN_LINE_IDLE);
  platform::putI32(span(), CHAN_OFF_RESET_M1_A, -1);
  platform::putI32(span(), CHAN_OFF_RESET_0_A, 0);
  platform::putI32(span(), CHAN_OFF_RESET_0_B, 0);
  setAnswerMark(0);
  std::memset(p_ + CHAN_OFF_RESET_BYTES, 0, CHAN_RESET_BYTES_SIZE);
  setAnswerKind(0);
  setKeyBuffer("");
  setLinked(-1);
  platform::putI16(span(), CHAN_OFF_RESET_M1_B, -1);
  platform::putI32(span(), CHAN_OFF_RESET_0_C, 0);
  setCallId("");
  setCallerNumber("");
  setPeerNumber("");
}

ChannelTables::ChannelTables() {
  for (int c = 0; c < kMaxChannels; ++c) {
    ChanRecord r = record(c);
    r.setLinked(-1);
    r.setFlowSlot(-1);
  }
}

void ChannelTables::link(int a, int b) {
  ChanRecord ra = record(a), rb = record(b);
  ra.setLineState(CHAN_LINE_TALKING);
  rb.setLineState(CHAN_LINE_TALKING);
  ra.setLinked(static_cast<int16_t>(b));
  rb.setLinked(static_cast<int16_t>(a));
  ra.setPeerNumber("");
  rb.setPeerNumber("");
  std::string callerA = ra.callerNumber(), callerB = rb.callerNumber();
  ra.setPeerNumber(callerB);
  rb.setPeerNumber(callerA);
}

int ChannelTables::findExtension(std::string_view number, int count,
                                 const std::function<bool(int)>& isInner) {
  for (int c = 0; c < std::min(count, kMaxChannels); ++c)
    if (record(c).extension() == number && (!number.empty() || isInner(c))) return c;
  return -1;
}

}  // namespace callproc
