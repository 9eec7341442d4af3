#include "runtime/cti/hardware_cti.h"

#include "hardware/hardware.h"

namespace cti {

int HardwareCti::InitQam(int* a, int* b) {
  return ::InitQam(a, b);
}
void HardwareCti::SetChanDataMem(unsigned char* table) {
  ::SetChanDataMem(table);
}
int HardwareCti::CTIGetChannelType(int ch) {
  return ::CTIGetChannelType(ch);
}
int HardwareCti::CTIGetOutLineStatus(int ch, int mode) {
  return ::CTIGetOutLineStatus(ch, mode);
}
int HardwareCti::CTIGetInLineStatus(int ch) {
  return ::CTIGetInLineStatus(ch);
}
int HardwareCti::CTIGetCallInNum(int ch, char* num20) {
  return ::CTIGetCallInNum(ch, num20);
}
int HardwareCti::CTISetOutOffHook(int ch) {
  return ::CTISetOutOffHook(ch);
}
int HardwareCti::CTISetOutHook(int ch) {
  return ::CTISetOutHook(ch);
}
int HardwareCti::CTIFlushDTMF(int ch, int mode) {
  return ::CTIFlushDTMF(ch, mode);
}
int HardwareCti::CTIGetDtmf(int ch, int* key, int mode) {
  return ::CTIGetDtmf(ch, key, mode);
}
int HardwareCti::CTIPlayFile(int ch, const char* path, int mode) {
  return ::CTIPlayFile(ch, path, mode);
}
int HardwareCti::CTIPlayIndex(int ch, int index) {
  return ::CTIPlayIndex(ch, index);
}
int HardwareCti::CycPlayIndex(int ch, int index) {
  return ::CycPlayIndex(ch, index);
}
int HardwareCti::CTIGetPlayfinish(int ch, int mode) {
  return ::CTIGetPlayfinish(ch, mode);
}
int HardwareCti::CTIStopPlayFile(int ch, int mode) {
  return ::CTIStopPlayFile(ch, mode);
}
int HardwareCti::CTIRecFile(int ch, const char* path, int mode) {
  return ::CTIRecFile(ch, path, mode);
}
int HardwareCti::CTIStopRecord(int ch, int mode) {
  return ::CTIStopRecord(ch, mode);
}
int HardwareCti::CTIStopRP(int ch, int mode) {
  return ::CTIStopRP(ch, mode);
}
int HardwareCti::CTIRingIn(int ch, int ring) {
  int r = ::CTIRingIn(ch, ring);
  if (trace_)
    trace_("分机通道" + std::to_string(ch) + "振铃(振铃方式" + std::to_string(ring) + ")" +
           (r == 0 ? "" : "失败"));
  return r;
}
int HardwareCti::CTIStopRingIn(int ch) {
  int r = ::CTIStopRingIn(ch);
  if (trace_) trace_("分机通道" + std::to_string(ch) + "停止振铃");
  return r;
}
int HardwareCti::CTIChConnCh(int ch1, int ch2) {
  return ::CTIChConnCh(ch1, ch2);
}
int HardwareCti::CTICallOut(int ch, const char* number) {
  return ::CTICallOut(ch, number);
}
int HardwareCti::CTIOpenMCI() {
  return ::CTIOpenMCI();
}
int HardwareCti::CTICloseMCI() {
  return ::CTICloseMCI();
}
int HardwareCti::CTISetKeyDtmf(int ch, int key) {
  return ::CTISetKeyDtmf(ch, key);
}
int HardwareCti::CTIClearKeyDtmf(int ch) {
  return ::CTIClearKeyDtmf(ch);
}
int HardwareCti::GetCombineStr(int playType, const char* content, char* text512) {
  return ::GetCombineStr(playType, content, text512);
}

}  // namespace cti
