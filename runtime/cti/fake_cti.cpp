#include "runtime/cti/fake_cti.h"

#include <algorithm>
#include <cstring>

namespace cti {

namespace {
std::string call(const char* name, std::initializer_list<long> args) {
  std::string s = std::string(name) + "(";
  bool first = true;
  for (long a : args) {
    if (!first) s += ",";
    s += std::to_string(a);
    first = false;
  }
  return s + ")";
}
}  // namespace

void FakeCti::log(std::string s) {
  calls_.push_back(std::move(s));
}

void FakeCti::setType(int ch, int type) {
  std::lock_guard l(mu_);
  if (valid(ch)) type_[ch] = type;
}
void FakeCti::ring(int ch, std::string caller) {
  std::lock_guard l(mu_);
  if (!valid(ch)) return;
  ringing_[ch] = true;
  caller_[ch] = std::move(caller);
}
void FakeCti::hangUp(int ch) {
  std::lock_guard l(mu_);
  if (valid(ch)) status_[ch] = CTI_OUT_HUNG_UP;
}
void FakeCti::setStatus(int ch, int status) {
  std::lock_guard l(mu_);
  if (valid(ch)) status_[ch] = status;
}
void FakeCti::pressKeys(int ch, const std::string& keys) {
  std::lock_guard l(mu_);
  if (!valid(ch)) return;
  for (char k : keys)
    keys_[ch].push_back(static_cast<unsigned char>(k));
}
void FakeCti::setPlayFinish(int ch, int value) {
  std::lock_guard l(mu_);
  if (valid(ch)) playFinish_[ch] = value;
}
void FakeCti::setInLineStatus(int ch, int status) {
  std::lock_guard l(mu_);
  if (valid(ch)) inStatus_[ch] = status;
}
std::vector<std::string> FakeCti::calls() const {
  std::lock_guard l(mu_);
  return calls_;
}
void FakeCti::clearCalls() {
  std::lock_guard l(mu_);
  calls_.clear();
}
bool FakeCti::called(const std::string& c) const {
  std::lock_guard l(mu_);
  return std::find(calls_.begin(), calls_.end(), c) != calls_.end();
}

int FakeCti::InitQam(int*, int*) {
  std::lock_guard l(mu_);
  log("InitQam");
  return channelCount;
}
void FakeCti::SetChanDataMem(unsigned char* table) {
  std::lock_guard l(mu_);
  table_ = table;
  log("SetChanDataMem");
}
int FakeCti::CTIGetChannelType(int ch) {
  std::lock_guard l(mu_);
  if (!valid(ch)) return 0;
  return type_[ch] ? type_[ch] : CHAN_TYPE_OUTER;
}
int FakeCti::CTIGetOutLineStatus(int ch, int) {
  std::lock_guard l(mu_);
  if (!valid(ch)) return 0;
  if (ringing_[ch]) {
    ringing_[ch] = false;
    return CTI_OUT_INCOMING;
  }
  return status_[ch];
}
int FakeCti::CTIGetInLineStatus(int ch) {
  std::lock_guard l(mu_);
  return valid(ch) ? inStatus_[ch] : 0;
}
int FakeCti::CTIGetCallInNum(int ch, char* num20) {
  std::lock_guard l(mu_);
  std::memset(num20, 0, 20);
  if (valid(ch)) std::strncpy(num20, caller_[ch].c_str(), 19);
  return 0;
}
int FakeCti::CTISetOutOffHook(int ch) {
  std::lock_guard l(mu_);
  log(call("CTISetOutOffHook", {ch}));
  return 0;
}
int FakeCti::CTISetOutHook(int ch) {
  std::lock_guard l(mu_);
  log(call("CTISetOutHook", {ch}));
  if (valid(ch)) status_[ch] = CTI_OUT_IDLE;
  return 0;
}
int FakeCti::CTIFlushDTMF(int ch, int mode) {
  std::lock_guard l(mu_);
  log(call("CTIFlushDTMF", {ch, mode}));
  if (valid(ch)) keys_[ch].clear();
  return 0;
}
int FakeCti::CTIGetDtmf(int ch, int* key, int) {
  std::lock_guard l(mu_);
  if (!valid(ch) || keys_[ch].empty()) return -1;
  *key = keys_[ch].front();
  keys_[ch].pop_front();
  return 0;
}
int FakeCti::CTIPlayFile(int ch, const char* path, int mode) {
  std::lock_guard l(mu_);
  log(std::string("CTIPlayFile(") + std::to_string(ch) + "," + path + "," + std::to_string(mode) +
      ")");
  return playResult_;
}
int FakeCti::CTIPlayIndex(int ch, int index) {
  std::lock_guard l(mu_);
  log(call("CTIPlayIndex", {ch, index}));
  return playResult_;
}
int FakeCti::CycPlayIndex(int ch, int index) {
  std::lock_guard l(mu_);
  log(call("CycPlayIndex", {ch, index}));
  return playResult_;
}
int FakeCti::CTIGetPlayfinish(int ch, int) {
  std::lock_guard l(mu_);
  return valid(ch) ? playFinish_[ch] : 0;
}
int FakeCti::CTIStopPlayFile(int ch, int mode) {
  std::lock_guard l(mu_);
  log(call("CTIStopPlayFile", {ch, mode}));
  return 0;
}
int FakeCti::CTIRecFile(int ch, const char* path, int mode) {
  std::lock_guard l(mu_);
  log(std::string("CTIRecFile(") + std::to_string(ch) + "," + path + "," + std::to_string(mode) +
      ")");
  return recResult_;
}
int FakeCti::CTIStopRecord(int ch, int mode) {
  std::lock_guard l(mu_);
  log(call("CTIStopRecord", {ch, mode}));
  return 0;
}
int FakeCti::CTIStopRP(int ch, int mode) {
  std::lock_guard l(mu_);
  log(call("CTIStopRP", {ch, mode}));
  return 0;
}
int FakeCti::CTIRingIn(int ch, int ring) {
  std::lock_guard l(mu_);
  log(call("CTIRingIn", {ch, ring}));
  return 0;
}
int FakeCti::CTIStopRingIn(int ch) {
  std::lock_guard l(mu_);
  log(call("CTIStopRingIn", {ch}));
  return 0;
}
int FakeCti::CTIChConnCh(int a, int b) {
  std::lock_guard l(mu_);
  log(call("CTIChConnCh", {a, b}));
  return 0;
}
int FakeCti::CTICallOut(int ch, const char* number) {
  std::lock_guard l(mu_);
  log(std::string("CTICallOut(") + std::to_string(ch) + "," + number + ")");
  return 0;
}
int FakeCti::CTIOpenMCI() {
  std::lock_guard l(mu_);
  log("CTIOpenMCI");
  return 0;
}
int FakeCti::CTICloseMCI() {
  std::lock_guard l(mu_);
  log("CTICloseMCI");
  return 0;
}
int FakeCti::CTISetKeyDtmf(int ch, int key) {
  std::lock_guard l(mu_);
  log(call("CTISetKeyDtmf", {ch, key}));
  if (!valid(ch)) return -1;
  if (key == 'B')
    ringing_[ch] = true;
  else if (key == 'E')
    status_[ch] = CTI_OUT_HUNG_UP;
  else
    keys_[ch].push_back(key);
  return 0;
}
int FakeCti::CTIClearKeyDtmf(int ch) {
  std::lock_guard l(mu_);
  log(call("CTIClearKeyDtmf", {ch}));
  if (valid(ch)) keys_[ch].clear();
  return 0;
}
int FakeCti::GetCombineStr(int playType, const char* content, char* text512) {
  std::lock_guard l(mu_);
  log(std::string("GetCombineStr(") + std::to_string(playType) + "," + content + ")");
  std::strncpy(text512, combineText_.c_str(), 511);
  text512[511] = 0;
  return combineResult_;
}

}  // namespace cti
