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
#define CTI_DECLARE_OVERRIDE(result, name, params, args) result name params override;
  CTI_FUNCTIONS(CTI_DECLARE_OVERRIDE)
#undef CTI_DECLARE_OVERRIDE

 private:
  bool valid(int ch) const {
    return ch >= 0 && ch < CHAN_MAX;
  }
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
  std::array<int, CHAN_MAX> playFinish_ = filled(CTI_PLAY_PLAYING);
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
