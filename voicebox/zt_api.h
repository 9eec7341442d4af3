/* Parvane: the voice-box driver library. Every function returns a plain
 * integer; -1 (or another negative value) is a failure whose cause
 * ZT_GetLastError reports. Callers own every buffer they pass. */
#ifndef PARVANE_ZT_API_H
#define PARVANE_ZT_API_H

#ifdef __cplusplus
extern "C" {
#endif

#define ZT_API __attribute__((visibility("default")))

/* An event record: 27 words, code, channel, then the event's data. */
#define ZT_EVENT_WORDS 27
/* The system parameter block: 566 words. */
#define ZT_SYSPARA_WORDS 566

/* Event codes. */
#define ZT_EV_LOCAL_OFFHOOK 0
#define ZT_EV_DIALTONE 1
#define ZT_EV_NO_DIALTONE 2
#define ZT_EV_RING 3
#define ZT_EV_DIAL_DONE 4
#define ZT_EV_PLAY_DONE 5
#define ZT_EV_RECORD_PROGRESS 6
#define ZT_EV_DIGIT_SENT 7
#define ZT_EV_PLAY_PROGRESS 8
#define ZT_EV_RECORD_DONE 9
#define ZT_EV_DTMF 10
#define ZT_EV_ANSWERED 11
#define ZT_EV_FAR_HANGUP 12
#define ZT_EV_NO_ANSWER 13
#define ZT_EV_BUSY 14
#define ZT_EV_PLAY_ERROR 16
#define ZT_EV_RECORD_ERROR 17
#define ZT_EV_LOCAL_ONHOOK 19
#define ZT_EV_SENTENCE_ERROR 20
#define ZT_EV_SENTENCE_DONE 21

/* Frame, events and settings. */
ZT_API int ZT_Installed(void);
ZT_API int ZT_InitializeEx(int usePoller);
ZT_API int ZT_Initialize(void);
ZT_API int ZT_Disable(void);
ZT_API int ZT_GetCardStatus(void);
ZT_API int ZT_GetLastError(void);
ZT_API int ZT_SysPara(int* block);
ZT_API int ZT_ChannelType(int channel);
ZT_API int ZT_WaitForEvent(int channel, int milliseconds, int* event);
ZT_API int ZT_GetEvent(int channel, int* event);
ZT_API int ZT_ClearEvent(int channel);
ZT_API int ZT_SetBufLength(int length);
ZT_API int ZT_SetNobodyTime(int seconds);
ZT_API int ZT_SetTimeInterval(int milliseconds);
ZT_API int ZT_SetZoomPcmRate(int channel, double factor);
/* The timer path: eventFd (an eventfd or pipe, ignored when negative) gets
 * one 8-byte count per tick, and callback, when given, is called with (3, 0). */
ZT_API int ZT_SetRPCallorEvent(int eventFd, void (*callback)(int, int));
ZT_API int ZT_SetWatchdog(void);

/* Device requests with little logic of their own. */
ZT_API int ZT_CompressRatio(int ratio);
ZT_API int ZT_ConnectChannels(int first, int second);
ZT_API int ZT_DisconnectChannels(int first, int second);
ZT_API int ZT_ConnectTo(int channel, int target);
ZT_API int ZT_Connect3(int a, int b, int c);
ZT_API int ZT_Disconnect(int channel);
ZT_API int ZT_DisableChannel(int channel);
ZT_API int ZT_Disconnect3(int a, int b, int c);
ZT_API int ZT_GenerateSignal(int channel, int signal);
ZT_API int ZT_GetSerial(char* buffer);
ZT_API int ZT_GetSerialEx(int index, char* buffer);
ZT_API int ZT_SetSignalLevel(int level);
ZT_API int ZT_SetChannelMode(int channel, int mode);
ZT_API int ZT_ConnectToNelbox8(int value, int a, int b, int c, int d);
ZT_API int ZT_ConnectToChannel(int a, int b, int c);
ZT_API int ZT_SetVoi(int channel, int value);
ZT_API int ZT_SetFaxPort(int port);
ZT_API int ZT_SetConfPort(int channel, int port);
ZT_API int ZT_SetConfPort2(int channel, int port);
ZT_API int ZT_AttachConf(int a, int b);
ZT_API int ZT_AttachFax(int a, int b);
ZT_API int ZT_SetOcTime(int time);
ZT_API int ZT_SetOcInterval(int a, int b);
ZT_API int ZT_OcDetect(int channel);
ZT_API int ZT_AttachQxpcm(int value);
ZT_API int ZT_SetVos(int value);
ZT_API int ZT_GetAdapterBuffer(int channel, char* buffer, int size);
ZT_API int ZT_SetAmp(int value);
ZT_API int ZT_GetSignalBuffer(int channel, char* buffer, int size);
ZT_API int ZT_SetAdapterParam(int a, int b);
ZT_API int ZT_SetChannelParam(int channel, int parameter, int value);
ZT_API int ZT_GetLineVoltage(int channel);
ZT_API int ZT_GetVoltageBuffer(int channel, char* buffer);
ZT_API int ZT_SetRingTime(int channel, int on, int off, int pause);

/* Hook and ring control. */
ZT_API int ZT_OffHookCtrl(int channel);
ZT_API int ZT_HangUpCtrl(int channel);
ZT_API int ZT_RingCtrl(int channel);
ZT_API int ZT_GenerateRing(int channel);
ZT_API int ZT_PowerCtrl(int channel);
ZT_API int ZT_SetVoltCtrlType(int channel, int on);

/* State reading. */
ZT_API int ZT_OffHookDetect(int channel);
ZT_API int ZT_RingDetect(int channel);
ZT_API int ZT_LineStatusDetect(int channel);
ZT_API int ZT_InternalRingDetect(int channel);
ZT_API int ZT_ListenerOffHook(int channel);

/* Tones and call progress. */
ZT_API int ZT_CheckSignal(int channel, int* level, int* second);
ZT_API int ZT_SetSignalParam(int id, int a, int b, int c, int d);
ZT_API int ZT_SetChannelFreq(int channel, int frequency);
ZT_API int ZT_SetMonitorCalled(int channel, int mode);
ZT_API int ZT_MonitorOffHook(int channel, int value);
ZT_API int ZT_MonitorBusy(int channel, int a, int b);
ZT_API int ZT_StartMonitor(int channel);
ZT_API int ZT_StartTimer(int channel, int seconds);
ZT_API int ZT_TimerElapsed(int channel);
ZT_API int ZT_CheckOffHook(int channel, int* level, int* second);

/* DTMF. */
ZT_API int ZT_FlushDTMF(int channel);
ZT_API int ZT_GetDTMFChar(int channel);
/* The unread digits; the text stays valid until the channel's next DTMF call. */
ZT_API const char* ZT_GetDTMFStr(int channel);
ZT_API int ZT_SetDTMFSendSpeed(int channel, int speed);
ZT_API int ZT_SetDtmfAmp(int channel, int high, int low);
ZT_API int ZT_DtmfAbsent(void);

/* Dialling and caller identification. */
ZT_API int ZT_SetSendMode(int channel, int mode);
ZT_API int ZT_StartDial(int channel, const char* text);
ZT_API int ZT_DialRest(int channel);
ZT_API int ZT_StopDial(int channel);
ZT_API int ZT_StartSendCAS(int channel, const char* text);
ZT_API int ZT_SendCASRest(int channel);
ZT_API int ZT_StopSendCAS(int channel);
ZT_API int ZT_ClearCAS(int channel);
ZT_API int ZT_CASDetect(int channel);
ZT_API int ZT_ReceiveCallingID(int channel, char* buffer, int length);
ZT_API int ZT_EnableFSK(int channel, int on);
ZT_API int ZT_StartGetFskData(int channel);
ZT_API int ZT_GetFSKBuffer(int channel, char* buffer, int size);
ZT_API int ZT_StartSendFskData(int channel, const char* data, int length);
ZT_API int ZT_SendFskDataRest(int channel);
ZT_API int ZT_StopSendFskData(int channel);
ZT_API int ZT_SendCID_Ring(int channel, int mode, const char* number);
ZT_API int ZT_Buf2FSKFile(const char* data, int length, const char* fileName);

/* Voice playback and recording. Voice is 8000 Hz A-law, one byte a sample.
 * A failed start returns -1 with the cause in ZT_GetLastError: 3 blocked by
 * the other operation kind, 5 bad length or offset, 7 no memory, 8 nothing to
 * play after the offset, 9 already recording, 10 file cannot be opened or
 * created, 11 already playing; the wave check gives -2..-8 directly. */
ZT_API int ZT_StartPlay(int channel, const char* data, int length);
ZT_API int ZT_PlayRest(int channel);
ZT_API int ZT_StopPlay(int channel);
ZT_API int ZT_StartRecord(int channel, char* buffer, int length);
ZT_API int ZT_StartRecord2(int channel, char* buffer, int length);
ZT_API int ZT_RecordRest(int channel);
ZT_API int ZT_StopRecord(int channel);

ZT_API int ZT_StartPlayFile(int channel, const char* name, int offset, int length);
ZT_API int ZT_PlayFileRest(int channel);
ZT_API int ZT_StopPlayFile(int channel);
ZT_API int ZT_StartRecordFile(int channel, const char* name, int offset, int length);
ZT_API int ZT_RecordFileRest(int channel);
ZT_API int ZT_StopRecordFile(int channel);
ZT_API int ZT_StartRecordWaveFile(int channel, const char* name);
ZT_API int ZT_RecordWaveFileRest(int channel);
ZT_API int ZT_StopRecordWaveFile(int channel);
ZT_API int ZT_StartPlayWaveFile(int channel, const char* name);
ZT_API int ZT_PlayWaveFileRest(int channel);
ZT_API int ZT_StopPlayWaveFile(int channel);

/* Sentences: strings of voice indexes 2..254 (1 is skipped, 0 ends). */
ZT_API int ZT_SetVoicei(int index, const char* fileName);
/* Writes the index string of a number (at most 64 bytes with its zero);
 * returns its length. */
ZT_API int ZT_MakeSentence(double value, char* sentence);
ZT_API int ZT_PlaySentence(int channel, const char* sentence);
ZT_API int ZT_PlaySentenceRest(int channel);
ZT_API int ZT_StopPlaySentence(int channel);

/* Full duplex: recording with the echo of the channel's own playback
 * cancelled (channel 1 through Dampa_1, channel 0 through Dampa_0). */
ZT_API int ZT_StartRecord_D(int channel, char* buffer, int length);
ZT_API int ZT_RecordRest_D(int channel);
ZT_API int ZT_StopRecord_D(int channel);
ZT_API int ZT_StartRecordFile_D(int channel, const char* name, int offset, int length);
ZT_API int ZT_RecordFileRest_D(int channel);
ZT_API int ZT_StopRecordFile_D(int channel);
ZT_API int ZT_PlayPut_D(int channel, const char* data, int length);
/* One full-duplex tick; out must hold 16384 bytes. Returns the bytes written. */
ZT_API int ZT_RecordRest_DD(int channel, char* out);
/* One tick of the timer path (ZT_SetRPCallorEvent starts the timer): mode 1
 * plays, 0 records, any other both. */
ZT_API int ZT_Playing_Rcding(int channel, const char* data, int length, char* out, int outSize,
                             void (*callback)(int, int), int mode);
ZT_API int ZT_Insert_Data(int channel, const char* data, int length);
ZT_API int ZT_NotInsertData(int channel);

/* Conversation recording: two channels mixed into one file. */
ZT_API int ZT_DStartRecordFile(int channel, int second, const char* name);
ZT_API int ZT_DRecordFileRest(int channel);
ZT_API int ZT_DStopRecordFile(int channel);

/* Mixes count voice buffers of length bytes (at most 2048) into out; returns
 * out, or a null pointer for no result. */
ZT_API char* ZT_MixVoice(char** buffers, int count, char* out, int length);

#ifdef __cplusplus
}
#endif

#endif
