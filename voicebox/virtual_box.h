// The virtual voice box: an in-process model of the two-channel box that
// answers every request code the library sends. Its clock is device time,
// which runs with the real clock or is advanced by hand, so that tests see
// rings, dialling, tones and 8000-byte-a-second voice buffers without waiting.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "voicebox/request.h"

namespace parvane {

enum class Tone { kNone, kDial, kBusy, kNoAnswer, kAnswer };
enum class CallerIdMode { kNone, kDtmf, kFsk };

constexpr int kVirtualChannels = 2;
constexpr int64_t kRingPeriodUs = 5'000'000;  // one second of ring, four of silence
constexpr int64_t kRingOnUs = 1'000'000;
constexpr int kAlawSilence = 0xD5;

// The single-data-message caller ID the box delivers between the first and
// second ring, and that the library builds for sending: type 4, length,
// MMDDHHMM, the number, and a checksum that makes the byte sum zero.
std::vector<uint8_t> callerIdMessage(const std::string& number, int month, int day, int hour,
                                     int minute);

class VirtualBox {
 public:
  VirtualBox();

  // The device side of the transport: same contract as the I/O control call
  // (0 when the request was carried, -1 with the error code in w0).
  int handle(uint32_t control, uint8_t* block);

  // Device time.
  int64_t nowUs();
  void advanceMs(int64_t ms);
  void setRealTime(bool on);
  bool realTime();

  // Configuration, before the library opens the box. Reset starts device
  // time at 0, running in real time or standing until moved by hand.
  void reset(bool realTime = true);
  bool setChannelType(int ch, int type);
  void setSysParaWord(int index, int32_t value);
  void setAnswering(bool on);  // off: requests are carried but the marker is not replaced
  void setDeviceFailure(int request, int32_t error);  // that request fails with the code

  // The world around the box.
  bool ring(int ch, const std::string& number, int times, CallerIdMode mode);
  bool lift(int ch);     // a local set's handset, or the far end of a line answering
  bool replace(int ch);  // a local set's handset put down, or the far end hanging up
  bool keys(int ch, const std::string& digits);
  bool tone(int ch, Tone t);
  bool feedVoice(int ch, const uint8_t* data, size_t length);
  // The line's echo: what the channel plays comes back into what it
  // captures through these taps (16-bit linear, tap 0 is the same sample).
  // Empty: no echo.
  bool setEchoPath(int ch, std::vector<double> taps);

  // What the box sent: voice played, digits dialled, FSK data sent (each
  // read once).
  std::vector<uint8_t> takePlayed(int ch, size_t max = SIZE_MAX);
  std::string takeDialled(int ch, size_t max = SIZE_MAX);
  std::vector<uint8_t> takeFskSent(int ch, size_t max = SIZE_MAX);

  std::string status();

  // For tests: the signal the check-signal request reports (code -1: the
  // box's own), and the channel parameters it was sent.
  void forceSignal(int ch, int code, int level, int second);
  std::vector<int32_t> channelParams(int ch);
  int relayState(int ch);

 private:
  struct Channel {
    int type = 1;
    int relay = 1;  // 0 seized or powered, 1 released or ringing
    // Line: an incoming call.
    bool callActive = false, callAnswered = false;
    int64_t callStartUs = 0;
    int callTimes = 0;
    std::string callerId;
    CallerIdMode cidMode = CallerIdMode::kNone;
    std::vector<uint8_t> cidMessage;
    bool cidDelivered = false;
    // Line: an outgoing call.
    bool farAnswered = false;
    bool dialledSinceSeize = false;
    Tone tone = Tone::kNone;
    // Local set.
    bool handsetUp = false, setRinging = false;
    int64_t setRingStartUs = 0;
    // DTMF received, digits sent.
    std::string dtmf;
    std::string dialDigits;
    int64_t dialStartUs = 0;
    bool dialling = false;
    int digitUs = 100'000;
    std::string dialledLog;
    // FSK sending.
    std::vector<uint8_t> fskData, fskSentLog;
    int64_t fskStartUs = 0;
    bool fskSending = false;
    // Playback: the driver buffer (queued bytes) consumed at 8000 bytes a
    // second; what was consumed is kept for reading back.
    bool playing = false;
    size_t playSize = 0;
    std::deque<uint8_t> playQueue;
    uint64_t playedSinceStart = 0;
    std::vector<uint8_t> playedLog;
    // Recording: filled at 8000 bytes a second from the fed voice, or with
    // silence, up to the driver buffer size.
    bool recording = false;
    size_t recordSize = 0;
    std::deque<uint8_t> recorded, captured;
    // For each recorded byte, the byte played in the same sample time: the
    // full-duplex read hands both over.
    std::deque<uint8_t> recordedPlayed;
    std::vector<double> echoTaps;
    std::vector<int> echoHistory;  // played samples, 16-bit, newest at echoPos
    size_t echoPos = 0;
    uint64_t recordOverrun = 0;
    // Switching and settings.
    int connectedTo = -1;
    int watchdog = 0;
    std::vector<int32_t> params;
    int forcedSignal = -1, forcedLevel = 0, forcedSecond = 0;
  };

  void syncLocked();
  void advanceToLocked(int64_t us);
  int ringCountLocked(Channel& c);
  int digitsSentLocked(Channel& c);
  int fskLeftLocked(Channel& c);
  void endCallLocked(Channel& c);
  int serveLocked(int code, uint8_t* block);
  static std::string toneName(Tone t);

  std::mutex m_;
  Channel ch_[kVirtualChannels];
  std::vector<int32_t> sysPara_;
  int64_t nowUs_ = 0;
  bool realTime_ = true;
  int64_t realBaseUs_ = 0, realBaseSteadyUs_ = 0;
  bool answering_ = true;
  int failRequest_ = -1;
  int32_t failError_ = 0;
  int timeInterval_ = 16;
};

// The box the library talks to when no device path is configured.
VirtualBox& virtualBox();

}  // namespace parvane
