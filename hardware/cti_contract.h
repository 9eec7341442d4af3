/* The CTI contract between the runtime and libhardware.so, in one place:
 * the values the line functions answer and the functions themselves. The C
 * declarations (hardware.h), the runtime's C++ interface (runtime/cti/cti.h),
 * its binding to the library and the test fake are all made from
 * CTI_FUNCTIONS below, so a function is added or changed here alone.
 */
#ifndef OLVARO_HARDWARE_CTI_CONTRACT_H
#define OLVARO_HARDWARE_CTI_CONTRACT_H

/* Access mode (the `mode` argument; [System] callintype). */
enum {
  CTI_MODE_SIMULATED = 0, /* lines driven by KeyCall events */
  CTI_MODE_TELEPHONE = 1, /* lines of the voice box */
  CTI_MODE_SIP = 2,       /* reserved for SIP lines */
};

/* CTIGetOutLineStatus: any other value has nothing to report. */
enum {
  CTI_OUT_IDLE = 0,
  CTI_OUT_INCOMING = 1, /* a call came in (reported once) */
  CTI_OUT_TALKING = 2,
  CTI_OUT_HUNG_UP = 5, /* the caller hung up */
};

/* CTIGetInLineStatus (inner lines). Only lines that learn why a ringing
 * extension did not answer (SIP) report 3 and 4; they hold until
 * CTIStopRingIn or the next CTIRingIn. */
enum {
  CTI_IN_OFF_HOOK = 1,
  CTI_IN_HUNG_UP = 2,
  CTI_IN_REFUSED = 3,           /* the extension refused the call (busy, declined, failed) */
  CTI_IN_NO_SUCH_EXTENSION = 4, /* no such extension, or one not registered */
};

/* CTIGetPlayfinish: any other value means the line still plays. */
enum {
  CTI_PLAY_FINISHED = 0,
  CTI_PLAY_PLAYING = 1,
  CTI_PLAY_ERROR = -2, /* the line's sound failed (also a recording that cannot be written) */
};

/* X(result, name, (parameters), (arguments)), one line per function.
 * Channels are numbered from 0; paths are GBK and may use Windows
 * separators. */
#define CTI_FUNCTIONS(X)                                                                 \
  /* Channel count, 0 when no hardware answers. */                                       \
  X(int, InitQam, (int* a, int* b), (a, b))                                              \
  /* The runtime's channel record table (CHAN_MAX records of CHAN_RECORD_SIZE bytes). */ \
  X(void, SetChanDataMem, (unsigned char* table), (table))                               \
  /* CHAN_TYPE_OUTER or CHAN_TYPE_INNER. */                                              \
  X(int, CTIGetChannelType, (int ch), (ch))                                              \
  /* CTI_OUT_INCOMING, CTI_OUT_HUNG_UP, other values: nothing to report. */              \
  X(int, CTIGetOutLineStatus, (int ch, int mode), (ch, mode))                            \
  /* Inner line: CTI_IN_OFF_HOOK, _HUNG_UP, _REFUSED or _NO_SUCH_EXTENSION. */           \
  X(int, CTIGetInLineStatus, (int ch), (ch))                                             \
  /* Caller number of the incoming call into num[20], zero-terminated. */                \
  X(int, CTIGetCallInNum, (int ch, char* num), (ch, num))                                \
  X(int, CTISetOutOffHook, (int ch), (ch))                                               \
  X(int, CTISetOutHook, (int ch), (ch))                                                  \
  X(int, CTIFlushDTMF, (int ch, int mode), (ch, mode))                                   \
  /* 0 when a key was taken into *key ('0'-'9', '*', '#'). */                            \
  X(int, CTIGetDtmf, (int ch, int* key, int mode), (ch, key, mode))                      \
  /* Starts playback; -1 on failure. */                                                  \
  X(int, CTIPlayFile, (int ch, const char* path, int mode), (ch, path, mode))            \
  X(int, CTIPlayIndex, (int ch, int index), (ch, index))                                 \
  X(int, CycPlayIndex, (int ch, int index), (ch, index))                                 \
  /* CTI_PLAY_FINISHED, CTI_PLAY_ERROR, anything else: still playing. */                 \
  X(int, CTIGetPlayfinish, (int ch, int mode), (ch, mode))                               \
  X(int, CTIStopPlayFile, (int ch, int mode), (ch, mode))                                \
  /* Starts recording into path; non-zero on failure. */                                 \
  X(int, CTIRecFile, (int ch, const char* path, int mode), (ch, path, mode))             \
  /* 0, or the negative errno value of a write that failed while recording. */           \
  X(int, CTIStopRecord, (int ch, int mode), (ch, mode))                                  \
  X(int, CTIStopRP, (int ch, int mode), (ch, mode))                                      \
  X(int, CTIRingIn, (int ch, int ring), (ch, ring))                                      \
  X(int, CTIStopRingIn, (int ch), (ch))                                                  \
  X(int, CTIChConnCh, (int ch1, int ch2), (ch1, ch2))                                    \
  X(int, CTICallOut, (int ch, const char* number), (ch, number))                         \
  X(int, CTIOpenMCI, (void), ())                                                         \
  X(int, CTICloseMCI, (void), ())                                                        \
  /* Simulated line: 'B' starts a call, 'E' ends it, anything else is a key. */          \
  X(int, CTISetKeyDtmf, (int ch, int key), (ch, key))                                    \
  X(int, CTIClearKeyDtmf, (int ch), (ch))                                                \
  /* The symbol string of a combined prompt into text (512 bytes); non-zero when */      \
  /* the value cannot be composed. */                                                    \
  X(int, GetCombineStr, (int playType, const char* content, char* text), (playType, content, text))

#endif
