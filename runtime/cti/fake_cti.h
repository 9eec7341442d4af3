// A scriptable CTI for tests: the test sets what the lines report and reads
// back every call the runtime made, in order.
#pragma once

#include <array>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "hardware/chanrecord.h"
#include "runtime/cti/cti.h"

namespace cti {

class FakeCti : public Cti {
 public:
  // --- what the test sets
  int channelCount = 8;  // InitQam's answer
  void setType(int ch, int type);
  // An incoming call: the next status poll reports 1 once.
  void ring(int ch, std::string caller = "");
  // The caller hangs up: status 5 until the line is put on-hook.
  void hangUp(int ch);
  void setStatus(int ch, int status);
  void pressKeys(int ch, const std::string& keys);
  void setPlayResult(int result) { playResult_ = result; }
  void setPlayFinish(int ch, int value);
  void setRecResult(int result) { recResult_ = result; }
  void setInLineStatus(int ch, int status);
  // What GetCombineStr answers.
  void setCombine(int result, std::string text) {
    combineResult_ = result;
    combineText_ = std::move(text);
  }

  // --- what the test reads
  std::vector<std::string> calls() const;  // e.g. "CTISetOutHook(3)"
  void clearCalls();
  bool called(const std::string& call) const;
  unsigned char* table() const { return table_; }

  // --- Cti
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
  bool valid(int ch) const { return ch >= 0 && ch < CHAN_MAX; }
  static std::array<int, CHAN_MAX> filled(int v) {
    std::array<int, CHAN_MAX> a;
    a.fill(v);
    return a;
  }
  void log(std::string s);

  mutable std::mutex mu_;
  std::array<int, CHAN_MAX> type_{};
  std::array<int, CHAN_MAX> status_{};
  std::array<bool, CHAN_MAX> ringing_{};
  std::array<int, CHAN_MAX> inStatus_{};
  std::array<int, CHAN_MAX> playFinish_ = filled(1);  // 1: still playing
  std::array<std::string, CHAN_MAX> caller_;
  std::array<std::deque<int>, CHAN_MAX> keys_;
  int playResult_ = 0;
  int combineResult_ = 1;
  std::string combineText_;
  int recResult_ = 0;
  unsigned char* table_ = nullptr;
  std::vector<std::string> calls_;
};

}  // namespace cti
