// Hooks into libhardware for its own tests; not exported from the shared
// library (tests link the same code statically).
#pragma once

#include "hardware/simulator.h"
#include "platform/ticks.h"

namespace hardware_internal {

// The clock the simulated lines measure playback and recording with;
// nullptr restores the monotonic clock.
void setClock(platform::Clock* clock);
// A fresh library with these settings, as InitQam leaves it, without reading
// sysconfig.ini. Returns the channel count.
int reinit(const hardware::Settings& settings);
// What CTIRingIn, CTIChConnCh and CTICallOut were asked for on `ch`.
hardware::LineRequests requests(int ch);
int soundOpens();
// Serves channel `ch` by `lines` until the next start (InitQam, reinit);
// nullptr gives it back to the simulated lines. The caller keeps `lines`
// alive while it serves.
void useLines(int ch, hardware::Lines* lines);

}  // namespace hardware_internal
