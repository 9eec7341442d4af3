/* The channel record: 353 bytes per channel, 128 channels, one contiguous
 * table owned by the runtime and handed to the CTI library with
 * SetChanDataMem. Both sides read and write it at these offsets (integers
 * little-endian, strings zero-terminated GBK).
 *
 *   off  size  field
 *   0    5     (library's own)
 *   5    2     int16 line state (CHAN_LINE_*)
 *   7    20    peer number: caller number of the linked channel
 *   27   4     int32, reset to -1
 *   31   4     int32, reset to 0
 *   35   4     int32, reset to 0
 *   39   2     int16 answer mark: 1 while a call answered into a flow runs
 *   41   25    reset to 0
 *   66   1     answer kind: 2 while a call answered into a flow runs
 *   67   64    key buffer
 *   131  4     int32 flow slot index
 *   135  4     int32 bank
 *   139  2     int16 linked channel, -1 none
 *   141  2     int16, reset to -1
 *   143  4     int32, reset to 0
 *   147  20    call identifier
 *   167  20    caller number
 *   187  38    line number (outer line): the dialled number
 *   225  36    extension number (inner line)
 *   261  88    forwarding number (inner line)
 *   349  4     text handle (the runtime's own)
 */
#ifndef OLVARO_HARDWARE_CHANRECORD_H
#define OLVARO_HARDWARE_CHANRECORD_H

enum {
  CHAN_RECORD_SIZE = 353,
  CHAN_MAX = 128,

  CHAN_OFF_LIBRARY = 0,
  CHAN_OFF_LINE_STATE = 5,
  CHAN_OFF_PEER_NUMBER = 7,
  CHAN_OFF_RESET_M1_A = 27,
  CHAN_OFF_RESET_0_A = 31,
  CHAN_OFF_RESET_0_B = 35,
  CHAN_OFF_ANSWER_MARK = 39,
  CHAN_OFF_RESET_BYTES = 41,
  CHAN_RESET_BYTES_SIZE = 25,
  CHAN_OFF_ANSWER_KIND = 66,
  CHAN_OFF_KEY_BUFFER = 67,
  CHAN_KEY_BUFFER_SIZE = 64,
  CHAN_OFF_FLOW_SLOT = 131,
  CHAN_OFF_BANK = 135,
  CHAN_OFF_LINKED = 139,
  CHAN_OFF_RESET_M1_B = 141,
  CHAN_OFF_RESET_0_C = 143,
  CHAN_OFF_CALL_ID = 147,
  CHAN_OFF_CALLER = 167,
  CHAN_OFF_LINE_NUMBER = 187,
  CHAN_OFF_EXTENSION = 225,
  CHAN_OFF_FORWARD = 261,
  CHAN_OFF_TEXT_HANDLE = 349,

  CHAN_NUMBER_SIZE = 20, /* peer number, call identifier, caller number */
  CHAN_LINE_NUMBER_SIZE = 38,
  CHAN_EXTENSION_SIZE = 36,
  CHAN_FORWARD_SIZE = 88,
};

/* Line states (int16 at CHAN_OFF_LINE_STATE). */
enum {
  CHAN_LINE_IDLE = 0,
  CHAN_LINE_TALKING = 1,
  CHAN_LINE_RINGING = 3,
  CHAN_LINE_VOICE_MAIL = 4,
  CHAN_LINE_FORWARD = 5,
  CHAN_LINE_IN_FLOW = 6,
  CHAN_LINE_EXCLUDED = 8,
};

/* Channel kinds (CTIGetChannelType). */
enum { CHAN_TYPE_OUTER = 1, CHAN_TYPE_INNER = 2 };

#ifdef __cplusplus
static_assert(CHAN_OFF_TEXT_HANDLE + 4 == CHAN_RECORD_SIZE, "channel record is 353 bytes");
static_assert(CHAN_OFF_FORWARD + CHAN_FORWARD_SIZE == CHAN_OFF_TEXT_HANDLE, "forwarding number");
static_assert(CHAN_OFF_EXTENSION + CHAN_EXTENSION_SIZE == CHAN_OFF_FORWARD, "extension number");
static_assert(CHAN_OFF_LINE_NUMBER + CHAN_LINE_NUMBER_SIZE == CHAN_OFF_EXTENSION, "line number");
static_assert(CHAN_OFF_KEY_BUFFER + CHAN_KEY_BUFFER_SIZE == CHAN_OFF_FLOW_SLOT, "key buffer");
static_assert(CHAN_OFF_RESET_BYTES + CHAN_RESET_BYTES_SIZE == CHAN_OFF_ANSWER_KIND, "reset bytes");
#endif

#endif
