// Telephone access: the lines of the voice box, driven through libParvane.so
// (the virtual box unless PARVANE_DEVICE names a device). The box's poller
// runs; every call on a channel first takes the events it posted (rings,
// keys, the far end hanging up, playback done, a local set's hook) and
// continues a running recording, so a line is as fresh as the runtime's
// polling. Not thread-safe by itself: the exported functions hold one lock
// around every call.
//
// Channel types: a box line (type 1 or 10) is an outer line, a local set
// (type 0) an inner line; an unused channel (type 2) is neither.
//
// Outer line, as CTIGetOutLineStatus reports it:
//
//   status  state      entered by                            left by
//   0       idle       start, CTISetOutHook                  a ring -> ringing
//   1       ringing    a ring, reported once the caller      answer -> 2; rings stop
//                      number came (FSK after the first      for 6.5 s -> 5 (or 0 when
//                      ring, DTMF before it) or the second   never reported)
//                      ring began
//   2       talking    CTISetOutOffHook (answer or seize)    busy tone after answer,
//                                                            dialling busy or not
//                                                            answered -> 5
//   5       hung up    the far end went away                 CTISetOutHook -> 0
//
// Keys queue while a call rings or talks (at most 128), until the line goes
// on-hook. Playback: `.voc`, `.qx` and other headerless files play as A-law
// bytes, RIFF/WAVE files through the box's wave check (A-law only); the box's
// poller feeds them. Recording: a `.wav` name records an A-law wave file,
// anything else headerless A-law; the recording grows while the line is
// polled. Only regular files are played or recorded into. A local set's
// CTIRingIn rings it with the number of the call on the box's line as caller
// ID: ring value 1 sends it as DTMF before ringing, any other value as FSK
// between the first rings.
#pragma once

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "hardware/lines.h"

namespace hardware {

class TelephoneLines final : public Lines {
 public:
  TelephoneLines() = default;
  TelephoneLines(const TelephoneLines&) = delete;
  TelephoneLines& operator=(const TelephoneLines&) = delete;

  // Opens the voice box, initialises it with its poller and puts every line
  // on-hook. Returns the channel count, 0 when no box answers. Indexed
  // voices are "<indexDir>/<n>.voc" (UTF-8, Windows separators allowed).
  int open(const std::string& indexDir);
  int channelCount() const { return static_cast<int>(lines_.size()); }
  int outerCount() const;
  int innerCount() const;

  int channelType(int ch) const override;
  int outLineStatus(int ch) override;
  int inLineStatus(int ch) override;
  int callInNum(int ch, char* num20) const override;
  int offHook(int ch) override;
  int onHook(int ch) override;
  int flushKeys(int ch) override;
  int getKey(int ch, int* key) override;
  int playFile(int ch, const char* gbkPath) override;
  int playIndex(int ch, int index, bool repeat) override;
  int playFinished(int ch) override;
  int stopPlay(int ch) override;
  int recordFile(int ch, const char* gbkPath) override;
  int stopRecord(int ch) override;
  int ringIn(int ch, int ring) override;
  int stopRingIn(int ch) override;
  int connect(int ch1, int ch2) override;
  int callOut(int ch, const char* number) override;
  int inject(int ch, int key) override;

 private:
  using Clock = std::chrono::steady_clock;
  enum class State { kIdle, kRinging, kTalking, kHungUp };
  enum class Play { kNone, kRaw, kWave };

  struct Line {
    int type = 2;  // the box's channel type
    State state = State::kIdle;
    bool reported = false;  // status 1 was read for this call
    int rings = 0;
    Clock::time_point lastRing{};
    std::string caller;
    bool callerKnown = false;
    bool inCidDigits = false;  // between the D and C of a DTMF caller ID
    std::deque<char> keys;
    Play play = Play::kNone;
    bool playDone = true;
    bool playError = false;
    bool repeat = false;
    std::string playPath;  // Linux path, for repeating
    bool recording = false;
    bool recordFailed = false;
    bool dialling = false;
    int connectedTo = -1;
  };

  bool valid(int ch) const { return ch >= 0 && ch < channelCount(); }
  bool outer(int ch) const { return valid(ch) && (lines_[ch].type == 1 || lines_[ch].type == 10); }
  bool inner(int ch) const { return valid(ch) && lines_[ch].type == 0; }
  // Takes the channel's events and continues its recording.
  void pump(int ch);
  void takeDigits(Line& line, const char* digits);
  int startPlayback(int ch, const std::string& linuxPath, bool repeat);
  void stopPlayback(int ch);
  int finishRecording(int ch);
  void reset(int ch);

  std::string indexDir_;
  std::vector<Line> lines_;
};

}  // namespace hardware
