// The production binding of the CTI interface: every call goes straight to
// the C function of the same name in libhardware.so.
#pragma once

#include <functional>
#include <string>

#include "runtime/cti/cti.h"

namespace cti {

class HardwareCti : public Cti {
 public:
  // Where ringing an extension is reported, so that a person watching the
  // trace sees the telephone ring (a simulated one rings nowhere else).
  void setTrace(std::function<void(const std::string&)> trace) { trace_ = std::move(trace); }

  int InitQam(int* a, int* b) override;
  void SetChanDataMem(unsigned char* table) override;
  int CTIGetChannelType(int ch) override;
  int CTIGetOutLineStatus(int ch, int mode) override;
  int CTIGetInLineStatus(int ch) override;
  int CTIGetCallInNum(int ch, char* num20) override;
  int CTISetOutOffHook(int ch) override;
  int CTISetOutHook(int ch) override;
  int CTIFlushDTMF(int ch, int mode) override;
  int CTIGetDtmf(int ch, int* key, int mode) override;
  int CTIPlayFile(int ch, const char* path, int mode) override;
  int CTIPlayIndex(int ch, int index) override;
  int CycPlayIndex(int ch, int index) override;
  int CTIGetPlayfinish(int ch, int mode) override;
  int CTIStopPlayFile(int ch, int mode) override;
  int CTIRecFile(int ch, const char* path, int mode) override;
  int CTIStopRecord(int ch, int mode) override;
  int CTIStopRP(int ch, int mode) override;
  int CTIRingIn(int ch, int ring) override;
  int CTIStopRingIn(int ch) override;
  int CTIChConnCh(int ch1, int ch2) override;
  int CTICallOut(int ch, const char* number) override;
  int CTIOpenMCI() override;
  int CTICloseMCI() override;
  int CTISetKeyDtmf(int ch, int key) override;
  int CTIClearKeyDtmf(int ch) override;
  int GetCombineStr(int playType, const char* content, char* text512) override;

 private:
  std::function<void(const std::string&)> trace_;
};

}  // namespace cti
