// The simulated telephone lines behind the CTI functions under simulated
// access. A KeyCall program plays the caller; the runtime drives the lines
// through the usual CTI calls. Not thread-safe by itself: the exported
// functions hold one lock around every call.
//
// Outer line, as CTIGetOutLineStatus reports it:
//
//   status  state      entered by                       left by
//   0       idle       start, CTISetOutHook              'B' -> 1
//   1       ringing    'B' on an idle line               answer -> 2, 'E' -> 5 (or 0),
//                                                        CTISetOutHook -> 0
//   2       talking    answer: CTISetOutOffHook(ch),     'E' -> 5, CTISetOutHook -> 0
//                      CTIOpenMCI() (answers the line
//                      last reported ringing), or the
//                      first playback or recording
//   5       hung up    'E' on a ringing or talking line  CTISetOutHook -> 0
//
// 'E' on a line whose ringing was never reported to anyone withdraws the call
// (back to 0): nobody will put that line on-hook. 'B' is taken only by an idle
// line (one call per line). Keys ('0'-'9', '*', '#') queue only while a call
// is ringing or talking; they stay readable until the line goes on-hook.
// The caller's hang-up ends a running recording at that moment; going on-hook
// ends playback and recording.
//
// Sound: playback "plays" for the length of the file (voice_file.h) on the
// tick clock; CTIGetPlayfinish is 0 once that time has passed, after a stop,
// or when nothing was started (a file that cannot be measured is refused at
// the start). Recording writes A-law silence at 8000 bytes a second, appended
// whenever the line is polled and completed when it stops. Only regular files
// are played or recorded into: a folder, a FIFO or a device is refused at the
// start, without waiting. When writing a recording fails (a full disk, a
// file-size limit), CTIGetPlayfinish reports -2 until the recording is
// stopped, and CTIStopRecord, CTIStopRP and CTISetOutHook return the failure
// as a negative errno value (-ENOSPC, ...) instead of 0. Indexed voices: index n is the file
// "<indexdir>/<n>.voc" (a wave or A-law file); CycPlayIndex repeats it until it is stopped. The
// mode arguments of the CTI calls are not needed by simulated lines.
//
// sysconfig.ini, read by InitQam from the working directory:
//   [System]   callintype  0 simulated access (8 lines); 1 (default) telephone
//                          access: the voice box's lines (telephone_lines.h),
//                          the simulator then has none
//   [Hardware] indexdir    folder of the indexed voices (default .\voice\index,
//                          relative to the working directory)
//   [Out<n>]   linetype    1 (default) an outer line, 2 an inner line: an
//                          extension telephone whose lineno is its extension
//                          number
//              voicemail   1: the extension has voice mail set (line state 4)
//              forward     a number: the extension forwards its calls there
//                          (line state 5)
//
// Inner line (an extension telephone), as CTIGetInLineStatus reports it:
// 2 while the handset is down, 1 once KeyCall 'B' lifts it, 2 again after
// 'E' replaces it; keys are taken while it is lifted. CTIRingIn rings it
// until the handset is lifted or CTIStopRingIn. Inner lines never receive
// calls (CTIGetOutLineStatus 0). An extension's voice mail or forwarding is
// written into its shared channel record whenever the runtime asks for its
// status, which the runtime does from its scan thread before it reads them.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "hardware/cti_contract.h"
#include "hardware/lines.h"
#include "platform/ticks.h"

namespace hardware {

inline constexpr int kSimulatedChannels = 8;
inline constexpr size_t kKeyQueueMax = 128;
inline constexpr size_t kCallOutNumberMax = 64;
// CTIGetPlayfinish: the line's sound failed (a recording that cannot be written).
inline constexpr int kSoundError = CTI_PLAY_ERROR;

enum OutLineStatus {
  kStatusIdle = CTI_OUT_IDLE,
  kStatusRinging = CTI_OUT_INCOMING,
  kStatusTalking = CTI_OUT_TALKING,
  kStatusHungUp = CTI_OUT_HUNG_UP,
};

// What the library reads from sysconfig.ini at InitQam.
struct LineSettings {
  bool inner = false;      // [Out<n>] linetype 2
  bool voiceMail = false;  // [Out<n>] voicemail 1
  std::string forward;     // [Out<n>] forward, GBK
};

struct Settings {
  bool simulated = true;                     // [System] callintype 0
  std::string indexDir = ".\\voice\\index";  // [Hardware] indexdir, UTF-8
  std::vector<LineSettings> lines;           // by channel; missing ones are outer lines
};

// Reads [System] callintype (default 1, telephone access) and
// [Hardware] indexdir from the INI file at `path`.
Settings readSettings(const std::string& path);

// Requests the runtime made of a line that the simulator only remembers.
struct LineRequests {
  bool ringing = false;  // CTIRingIn without CTIStopRingIn since
  int ringValue = 0;
  int connectedTo = -1;  // CTIChConnCh
  std::string dialled;   // CTICallOut, GBK
};

// Simulated access: lines driven by KeyCall events, with a simulated sound
// device.
class Simulator final : public Lines {
 public:
  explicit Simulator(platform::Clock* clock) : clock_(clock) { reset(Settings{}); }
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  void setClock(platform::Clock* clock) { clock_ = clock; }
  // Puts every line on-hook (finishing recordings) and applies `s`.
  // Returns the channel count: 8 under simulated access, 0 under telephone
  // access, whose voice box is not connected yet.
  int reset(const Settings& s);
  void setTable(unsigned char* table) { table_ = table; }
  const Settings& settings() const { return settings_; }
  int channelCount() const { return static_cast<int>(lines_.size()); }

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
  int openSound();
  int closeSound();
  int inject(int ch, int key) override;

  LineRequests requests(int ch) const;
  int soundOpens() const { return soundOpens_; }

 private:
  enum class State { kIdle, kRinging, kTalking, kHungUp };

  struct Playback {
    bool active = false;
    bool repeat = false;
    uint32_t start = 0;
    uint64_t durationMs = 0;
  };

  struct Recording {
    int fd = -1;
    uint32_t start = 0;
    uint64_t written = 0;
    int error = 0;  // errno of the write that failed; nothing is written after it
  };

  struct Line {
    State state = State::kIdle;
    bool reported = false;  // status 1 has been read since the call arrived
    std::string caller;
    std::deque<char> keys;
    Playback play;
    Recording rec;
    LineRequests requests;
    bool inner = false;
    bool handsetUp = false;  // inner line: lifted by KeyCall 'B'
  };

  bool valid(int ch) const { return ch >= 0 && ch < channelCount(); }
  // Milliseconds since `start`, modulo 2^32, so the tick counter's wrap
  // costs nothing.
  uint32_t elapsed(uint32_t start) const { return clock_->ticks() - start; }
  void answer(Line& line);
  int startPlayback(Line& line, const std::string& linuxPath, bool repeat);
  // Writes the silence recorded since the last call; a recording grows while
  // the line is polled, so a killed process leaves what was recorded so far.
  void pumpRecording(Line& line);
  int finishRecording(Line& line);
  void hangUpLine(Line& line);
  // Voice mail and forwarding of an extension, into its shared record.
  void publishExtension(int ch);

  platform::Clock* clock_;
  Settings settings_;
  std::vector<Line> lines_;
  unsigned char* table_ = nullptr;
  int lastReported_ = -1;
  int soundOpens_ = 0;
};

}  // namespace hardware
