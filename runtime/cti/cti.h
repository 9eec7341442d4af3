// The CTI operations the runtime calls, as a C++ interface: bound in
// production to the `hardware` library (HardwareCti) and in tests to a
// scriptable fake. Signatures and results are those of hardware/hardware.h.
#pragma once

namespace cti {

class Cti {
 public:
  virtual ~Cti() = default;
  virtual int InitQam(int* a, int* b) = 0;
  virtual void SetChanDataMem(unsigned char* table) = 0;
  virtual int CTIGetChannelType(int ch) = 0;
  virtual int CTIGetOutLineStatus(int ch, int mode) = 0;
  virtual int CTIGetInLineStatus(int ch) = 0;
  virtual int CTIGetCallInNum(int ch, char* num20) = 0;
  virtual int CTISetOutOffHook(int ch) = 0;
  virtual int CTISetOutHook(int ch) = 0;
  virtual int CTIFlushDTMF(int ch, int mode) = 0;
  virtual int CTIGetDtmf(int ch, int* key, int mode) = 0;
  virtual int CTIPlayFile(int ch, const char* path, int mode) = 0;
  virtual int CTIPlayIndex(int ch, int index) = 0;
  virtual int CycPlayIndex(int ch, int index) = 0;
  virtual int CTIGetPlayfinish(int ch, int mode) = 0;
  virtual int CTIStopPlayFile(int ch, int mode) = 0;
  virtual int CTIRecFile(int ch, const char* path, int mode) = 0;
  virtual int CTIStopRecord(int ch, int mode) = 0;
  virtual int CTIStopRP(int ch, int mode) = 0;
  virtual int CTIRingIn(int ch, int ring) = 0;
  virtual int CTIStopRingIn(int ch) = 0;
  virtual int CTIChConnCh(int ch1, int ch2) = 0;
  virtual int CTICallOut(int ch, const char* number) = 0;
  virtual int CTIOpenMCI() = 0;
  virtual int CTICloseMCI() = 0;
  virtual int CTISetKeyDtmf(int ch, int key) = 0;
  virtual int CTIClearKeyDtmf(int ch) = 0;
  virtual int GetCombineStr(int playType, const char* content, char* text512) = 0;
};

}  // namespace cti
