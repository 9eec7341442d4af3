// The lines of one kind of access, as the exported CTI functions reach
// them: each channel is served by one implementation, chosen when the
// library starts (simulated lines today; the voice box and SIP lines sit
// next to them later). Channel numbers are the library's own, from 0; the
// results are those of the CTI function each operation serves.
#pragma once

namespace hardware {

class Lines {
 public:
  virtual ~Lines() = default;

  virtual int channelType(int ch) const = 0;  // CTIGetChannelType
  virtual int outLineStatus(int ch) = 0;      // CTIGetOutLineStatus
  virtual int inLineStatus(int ch) = 0;       // CTIGetInLineStatus
  virtual int callInNum(int ch, char* num20) const = 0;
  virtual int offHook(int ch) = 0;
  virtual int onHook(int ch) = 0;
  virtual int flushKeys(int ch) = 0;         // CTIFlushDTMF, CTIClearKeyDtmf
  virtual int getKey(int ch, int* key) = 0;  // CTIGetDtmf
  virtual int playFile(int ch, const char* gbkPath) = 0;
  virtual int playIndex(int ch, int index, bool repeat) = 0;  // CTIPlayIndex, CycPlayIndex
  virtual int playFinished(int ch) = 0;                       // CTIGetPlayfinish
  virtual int stopPlay(int ch) = 0;
  virtual int recordFile(int ch, const char* gbkPath) = 0;
  virtual int stopRecord(int ch) = 0;
  virtual int ringIn(int ch, int ring) = 0;
  virtual int stopRingIn(int ch) = 0;
  virtual int connect(int ch1, int ch2) = 0;  // CTIChConnCh, chosen by ch1
  virtual int callOut(int ch, const char* number) = 0;
  virtual int inject(int ch, int key) = 0;  // CTISetKeyDtmf
};

}  // namespace hardware
