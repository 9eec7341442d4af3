// The production binding of the CTI interface: every call goes straight to
// the C function of the same name in libhardware.so, one per entry of the
// list in hardware/cti_contract.h.
#pragma once

#include <functional>
#include <string>

#include "runtime/cti/cti.h"

namespace cti {

class LibraryCti : public Cti {
 public:
#define CTI_DECLARE_OVERRIDE(result, name, params, args) result name params override;
  CTI_FUNCTIONS(CTI_DECLARE_OVERRIDE)
#undef CTI_DECLARE_OVERRIDE
};

// The binding the runtime uses: the library, with ringing told to the trace.
class HardwareCti : public LibraryCti {
 public:
  HardwareCti() = default;
  HardwareCti(const HardwareCti&) = delete;
  HardwareCti& operator=(const HardwareCti&) = delete;
  // Where ringing an extension is reported, so that a person watching the
  // trace sees the telephone ring (a simulated one rings nowhere else).
  // The library's own reports (a SIP registration's outcome) go there too.
  void setTrace(std::function<void(const std::string&)> trace);
  ~HardwareCti() override;
  // Ends the lines before the process ends (SIP calls hung up, the
  // registration withdrawn).
  void shutdown();

  int CTIRingIn(int ch, int ring) override;
  int CTIStopRingIn(int ch) override;

 private:
  std::function<void(const std::string&)> trace_;
};

}  // namespace cti
