/* The CTI library: every telephony operation of the runtime, declared from
 * the one list in cti_contract.h. `mode` is the access mode (CTI_MODE_*).
 * All functions are safe to call from several threads at once (the scan
 * thread and the KeyCall receiver do).
 */
#ifndef OLVARO_HARDWARE_HARDWARE_H
#define OLVARO_HARDWARE_HARDWARE_H

#include "hardware/chanrecord.h"
#include "hardware/cti_contract.h"

#ifdef __cplusplus
extern "C" {
#endif

#define CTI_DECLARE_C(result, name, params, args) result name params;
CTI_FUNCTIONS(CTI_DECLARE_C)
#undef CTI_DECLARE_C

/* The clock the simulated lines measure playback and recording with:
 * ticks(ctx) gives milliseconds, wrapping at 2^32. NULL restores the
 * monotonic clock. Only the call simulation (olvaro simulate) sets it, so
 * that a voice file plays for its length in virtual time; other lines
 * (telephone, SIP) keep real time. Not part of the CTI contract. */
void HardwareSetSimulationClock(unsigned int (*ticks)(void* ctx), void* ctx);

/* Where the lines report what an operator must know, as UTF-8 text (the
 * SIP registration succeeding, failing, ending); called on a thread of the
 * lines. Without a notifier the text goes to standard error. A NULL notify
 * removes the notifier set with the same ctx. Not part of the CTI contract. */
void HardwareSetNotify(void (*notify)(const char* utf8, void* ctx), void* ctx);

/* Ends the lines before the process does: SIP calls get their BYE and a
 * registration its Expires 0 (waiting a second at most). Not part of the
 * CTI contract. */
void HardwareShutdown(void);

#ifdef __cplusplus
}
#endif

#endif
