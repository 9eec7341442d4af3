/* The virtual voice box's control interface: what tests and a person at the
 * `voicebox` tool do to the world around the box (ring a line, lift a
 * handset, press keys, play a tone) and what they read back. Not part of the
 * ZT_ exports; the box lives in the process that opened the library, and
 * listens for these commands on a local socket. */
#ifndef PARVANE_VBOX_CONTROL_H
#define PARVANE_VBOX_CONTROL_H

#ifdef __cplusplus
extern "C" {
#endif

#define VBOX_API __attribute__((visibility("default")))

/* The environment variable naming the control socket; "off" disables it.
 * Unset, the socket is /tmp/parvane-<uid>.sock. */
#define VBOX_CONTROL_ENV "PARVANE_CONTROL"

/* Runs one text command ("ring 0 13900001111", "keys 0 123", ...); the reply
 * ("ok ..." or "error: ...") goes into reply. 0 when the command succeeded. */
VBOX_API int VBox_Command(const char* line, char* reply, int replySize);

/* Starts listening on path (NULL: from the environment); 0 listening, 1
 * switched off, -1 when the socket cannot be had (another box holds it). */
VBOX_API int VBox_StartControl(const char* path);
VBOX_API void VBox_StopControl(void);

/* fsk: 1 FSK caller ID between the first two rings, 0 DTMF before the first. */
VBOX_API int VBox_Ring(int channel, const char* number, int times, int fsk);
VBOX_API int VBox_Lift(int channel);
VBOX_API int VBox_Replace(int channel);
VBOX_API int VBox_Keys(int channel, const char* digits);
/* "dial", "busy", "noanswer", "answer" or "none". */
VBOX_API int VBox_Tone(int channel, const char* tone);
VBOX_API int VBox_FeedVoice(int channel, const unsigned char* data, int length);
/* Reads back (and removes) up to size bytes played, digits dialled or FSK
 * bytes sent; returns the count. */
VBOX_API int VBox_ReadPlayed(int channel, unsigned char* buffer, int size);
VBOX_API int VBox_ReadDialled(int channel, char* buffer, int size);
VBOX_API int VBox_ReadFskSent(int channel, unsigned char* buffer, int size);
VBOX_API int VBox_Advance(int milliseconds);
VBOX_API int VBox_SetRealTime(int on);
VBOX_API long long VBox_NowMs(void);
VBOX_API int VBox_SetChannelType(int channel, int type);

#ifdef __cplusplus
}
#endif

#endif
