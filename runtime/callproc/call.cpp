#include "runtime/callproc/call.h"

namespace callproc {

Call::Call(ChannelTables& t, interp::FlowTable& flows, int ch)
    : c(ch), cur(t.current(ch)), st(t.step(ch)), rec(t.record(ch)), regs(t.regs(ch)) {
  const int slot = rec.flowSlot(), b = rec.bank();
  if (t.holdsBank(ch) && slot >= 0 && slot < interp::kFlowSlots && (b == 0 || b == 1))
    bank = &flows.bank(slot, b);
}

}  // namespace callproc
