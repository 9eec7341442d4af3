/* The CTI library: every telephony operation of the runtime. Channels are
 * numbered from 0; `mode` is the access mode (1 telephone access through the
 * voice box, 0 simulated access driven by KeyCall events). Paths are GBK and
 * may use Windows separators. All functions are safe to call from several
 * threads at once (the scan thread and the KeyCall receiver do).
 */
#ifndef OLVARO_HARDWARE_HARDWARE_H
#define OLVARO_HARDWARE_HARDWARE_H

#include "hardware/chanrecord.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Channel count, 0 when no hardware answers. */
int InitQam(int* a, int* b);
/* The runtime's channel record table (CHAN_MAX records of CHAN_RECORD_SIZE bytes). */
void SetChanDataMem(unsigned char* table);
/* CHAN_TYPE_OUTER or CHAN_TYPE_INNER. */
int CTIGetChannelType(int ch);
/* 1 incoming call, 5 caller hung up, other values: nothing to report. */
int CTIGetOutLineStatus(int ch, int mode);
/* Inner line: 1 off-hook, 2 hung up. */
int CTIGetInLineStatus(int ch);
/* Caller number of the incoming call into num[20], zero-terminated. */
int CTIGetCallInNum(int ch, char* num);
int CTISetOutOffHook(int ch);
int CTISetOutHook(int ch);
int CTIFlushDTMF(int ch, int mode);
/* 0 when a key was taken into *key ('0'-'9', '*', '#'). */
int CTIGetDtmf(int ch, int* key, int mode);
/* Starts playback; -1 on failure. */
int CTIPlayFile(int ch, const char* path, int mode);
int CTIPlayIndex(int ch, int index);
int CycPlayIndex(int ch, int index);
/* 0 finished, -2 playback error, anything else: still playing. */
int CTIGetPlayfinish(int ch, int mode);
int CTIStopPlayFile(int ch, int mode);
/* Starts recording into path; non-zero on failure. */
int CTIRecFile(int ch, const char* path, int mode);
int CTIStopRecord(int ch, int mode);
int CTIStopRP(int ch, int mode);
int CTIRingIn(int ch, int ring);
int CTIStopRingIn(int ch);
int CTIChConnCh(int ch1, int ch2);
int CTICallOut(int ch, const char* number);
int CTIOpenMCI(void);
int CTICloseMCI(void);
/* Simulated line: 'B' starts a call, 'E' ends it, anything else is a key. */
int CTISetKeyDtmf(int ch, int key);
int CTIClearKeyDtmf(int ch);
/* Writes the symbol string of a combined prompt into text (512 bytes); non-zero
 * when the value cannot be composed. */
int GetCombineStr(int playType, const char* content, char* text);

#ifdef __cplusplus
}
#endif

#endif
