// The CTI operations the runtime calls, as a C++ interface: bound in
// production to the `hardware` library (HardwareCti) and in tests to a
// scriptable fake. The functions, their signatures and their results are
// the list in hardware/cti_contract.h; the enums below name its values.
#pragma once

#include "hardware/cti_contract.h"

namespace cti {

enum class AccessMode : int {
  kSimulated = CTI_MODE_SIMULATED,
  kTelephone = CTI_MODE_TELEPHONE,
  kSip = CTI_MODE_SIP,  // reserved
};

// CTIGetOutLineStatus; a value not named has nothing to report.
enum class OutLineStatus : int {
  kIdle = CTI_OUT_IDLE,
  kIncoming = CTI_OUT_INCOMING,
  kTalking = CTI_OUT_TALKING,
  kHungUp = CTI_OUT_HUNG_UP,
};

// CTIGetInLineStatus.
enum class InLineStatus : int {
  kOffHook = CTI_IN_OFF_HOOK,
  kHungUp = CTI_IN_HUNG_UP,
  kRefused = CTI_IN_REFUSED,
  kNoSuchExtension = CTI_IN_NO_SUCH_EXTENSION,
};

// CTIGetPlayfinish, read as one of three states.
enum class PlayState : int {
  kFinished = CTI_PLAY_FINISHED,
  kPlaying = CTI_PLAY_PLAYING,
  kError = CTI_PLAY_ERROR,
};

class Cti {
 public:
  virtual ~Cti() = default;
#define CTI_DECLARE_VIRTUAL(result, name, params, args) virtual result name params = 0;
  CTI_FUNCTIONS(CTI_DECLARE_VIRTUAL)
#undef CTI_DECLARE_VIRTUAL

  // The same answers, typed.
  OutLineStatus outLineStatus(int ch, AccessMode mode) {
    return static_cast<OutLineStatus>(CTIGetOutLineStatus(ch, static_cast<int>(mode)));
  }
  InLineStatus inLineStatus(int ch) {
    return static_cast<InLineStatus>(CTIGetInLineStatus(ch));
  }
  PlayState playState(int ch, AccessMode mode) {
    const int r = CTIGetPlayfinish(ch, static_cast<int>(mode));
    return r == CTI_PLAY_FINISHED ? PlayState::kFinished
           : r == CTI_PLAY_ERROR  ? PlayState::kError
                                  : PlayState::kPlaying;
  }
};

}  // namespace cti
