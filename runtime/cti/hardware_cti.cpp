#include "runtime/cti/hardware_cti.h"

#include "hardware/hardware.h"

namespace cti {

#define CTI_DEFINE_BINDING(result, name, params, args) \
  result LibraryCti::name params {                     \
    return ::name args;                                \
  }
CTI_FUNCTIONS(CTI_DEFINE_BINDING)
#undef CTI_DEFINE_BINDING

void HardwareCti::setTrace(std::function<void(const std::string&)> trace) {
  trace_ = std::move(trace);
  HardwareSetNotify(
      [](const char* text, void* ctx) {
        auto* self = static_cast<HardwareCti*>(ctx);
        if (self->trace_) self->trace_(text);
      },
      this);
}

HardwareCti::~HardwareCti() {
  HardwareSetNotify(nullptr, this);
}

void HardwareCti::shutdown() {
  HardwareShutdown();
}

int HardwareCti::CTIRingIn(int ch, int ring) {
  int r = LibraryCti::CTIRingIn(ch, ring);
  if (trace_)
    trace_("分机通道" + std::to_string(ch) + "振铃(振铃方式" + std::to_string(ring) + ")" +
           (r == 0 ? "" : "失败"));
  return r;
}

int HardwareCti::CTIStopRingIn(int ch) {
  int r = LibraryCti::CTIStopRingIn(ch);
  if (trace_) trace_("分机通道" + std::to_string(ch) + "停止振铃");
  return r;
}

}  // namespace cti
