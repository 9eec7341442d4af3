// The 36-byte request block exchanged with the voice box, its request codes
// and the control-code formula. Shared by the library, the transport and the
// virtual voice box, which must agree on every word.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

namespace parvane {

constexpr int kBlockWords = 9;
constexpr int kBlockBytes = 36;
using RequestBlock = std::array<uint8_t, kBlockBytes>;
static_assert(sizeof(RequestBlock) == kBlockBytes);

// Word offsets.
constexpr int kW0 = 0, kW1 = 4, kW2 = 8, kW3 = 12, kW4 = 16, kW5 = 20, kW6 = 24, kW7 = 28, kW8 = 32;

constexpr uint32_t kMarkerSent = 0x55555555u;
constexpr uint32_t kMarkerServed = 0xAAAAAAAAu;

// Device type 0x8002, function 0x800 + code, buffered transfer, any access.
constexpr uint32_t controlCode(int code) {
  return 0x80022000u + 4u * static_cast<uint32_t>(code);
}
// The request code of a control code, or -1 when it is not one of ours.
constexpr int requestCode(uint32_t control) {
  if (control < 0x80022000u || (control - 0x80022000u) % 4 != 0) return -1;
  uint32_t c = (control - 0x80022000u) / 4;
  return c < 0x800 ? static_cast<int>(c) : -1;
}

inline uint32_t getWord(const uint8_t* block, int offset) {
  return uint32_t(block[offset]) | uint32_t(block[offset + 1]) << 8 |
         uint32_t(block[offset + 2]) << 16 | uint32_t(block[offset + 3]) << 24;
}
inline void putWord(uint8_t* block, int offset, uint32_t v) {
  block[offset] = uint8_t(v);
  block[offset + 1] = uint8_t(v >> 8);
  block[offset + 2] = uint8_t(v >> 16);
  block[offset + 3] = uint8_t(v >> 24);
}
inline int32_t getInt(const uint8_t* block, int offset) {
  return static_cast<int32_t>(getWord(block, offset));
}
inline void putInt(uint8_t* block, int offset, int32_t v) {
  putWord(block, offset, static_cast<uint32_t>(v));
}

// A caller buffer's address travels in w5. A 64-bit process needs the upper
// half as well; it goes into w7, which the block leaves unused.
inline void putAddress(uint8_t* block, const void* p) {
  uint64_t a = reinterpret_cast<uintptr_t>(p);
  putWord(block, kW5, uint32_t(a));
  putWord(block, kW7, uint32_t(a >> 32));
}
inline void* getAddress(const uint8_t* block) {
  uint64_t a = uint64_t(getWord(block, kW5)) | uint64_t(getWord(block, kW7)) << 32;
  return reinterpret_cast<void*>(static_cast<uintptr_t>(a));
}

// Request codes.
enum Request : int {
  kReqInit = 0,
  kReqDisable = 1,
  kReqChannelType = 2,
  kReqHookRing = 3,
  kReqRelay = 4,
  kReqSysPara = 5,
  kReqCompressRatio = 6,
  kReqRecord = 7,
  kReqPlay = 8,
  kReqDial = 9,
  kReqFlushDtmf = 10,
  kReqPosition = 11,
  kReqCheckSignal = 12,
  kReqConnectChannels = 13,
  kReqDisconnectChannels = 14,
  kReqConnectTo = 15,
  kReqRelease = 16,
  kReqGenerateSignal = 17,
  kReqSerial = 19,
  kReqStartMonitor = 20,
  kReqMonitorOffHook = 21,
  kReqMonitorBusy = 22,
  kReqBufferFill = 23,
  kReqCallingId = 24,
  kReqSignalLevel = 25,
  kReqChannelMode = 26,
  kReqEnableFsk = 27,
  kReqConnectToNelbox8 = 28,
  kReqSignalParam = 29,
  kReqDtmfSpeed = 30,
  kReqSetVoi = 31,
  kReqSendMode = 32,
  kReqFaxPort = 33,
  kReqConfPort = 34,
  kReqAttachConf = 35,
  kReqAttachFax = 36,
  kReqConfPort2 = 37,
  kReqOcTime = 38,
  kReqOcInterval = 39,
  kReqOcDetect = 40,
  kReqAttachQxpcm = 41,
  kReqInternalRing = 42,
  kReqSetVos = 43,
  kReqAdapterBuffer = 44,
  kReqSetAmp = 49,
  kReqSignalBuffer = 50,
  kReqAdapterParam = 51,
  kReqChannelParam = 52,
  kReqLineVoltage = 53,
  kReqVoltageBuffer = 54,
  kReqFskBuffer = 55,
  kReqSendFsk = 56,
  kReqSendFskRest = 57,
  kReqStartGetFsk = 58,
  kReqCasDetect = 59,
  kReqRingTime = 60,
  kReqClearCas = 61,
  kReqFullDuplexStep = 62,
  kReqDtmfAbsent = 64,
  kReqReadRecorded = 96,
  kReqWritePlay = 97,
  kReqReadDtmf = 99,
  kReqDtmfAmp = 111,
  kReqReadRecordedDuplex = 112,
  kReqWatchdog = 113,
  kReqLineStatus = 114,
  kReqTimeInterval = 128,
  kReqNotInsertData = 129,
};

// The system parameter block: 566 words filled by the device.
constexpr int kSysParaWords = 566;
constexpr int kSysParaBytes = kSysParaWords * 4;
static_assert(kSysParaBytes == 2264);
constexpr int kSysParaChannelsWord = 36;

// Signal codes of the check-signal request.
constexpr int kSignalNone = 0;
constexpr int kSignalBusy1 = 1;
constexpr int kSignalBusy2 = 2;
constexpr int kSignalClass64 = 64;
constexpr int kSignalDialTone = 65;
constexpr int kSignalClass96 = 96;
constexpr int kSignalClass97 = 97;
constexpr int kSignalClass98 = 98;
constexpr int kSignalNoAnswer = 99;

}  // namespace parvane
