// The progress of the block a channel runs, one type per block kind: its
// named steps, what it keeps between passes, and its named exits. A step
// keeps the number it has always had, so that a trace or a test reading
// "step 10" still means the same thing.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "flowfile/blockrecords.h"

namespace callproc {

// ---- voice playback (41)
enum class PlayVoiceStep : int32_t { kEntered = 0, kPlaying = 10 };
enum class PlayVoiceExit { kEnded = 0, kCannotStart = 1, kHungUp = 2 };
struct PlayVoiceState {
  PlayVoiceStep step = PlayVoiceStep::kEntered;
  int32_t playChannel = 0;  // the channel that plays (may be another line)
};

// ---- single-key branch (44): exits 0-9 are the digit keys
enum class DigitStep : int32_t { kEntered = 0, kPrompting = 10, kWaiting = 15, kReplaying = 20 };
enum class DigitExit { kKey0 = 0, kStar = 10, kHash = 11, kNoKey = 12, kHungUp = 13 };
struct DigitState {
  DigitStep step = DigitStep::kEntered;
  int32_t waitMs = 0;       // how long a key is awaited after the prompt
  int32_t repeatsLeft = 0;  // prompts still to replay
  uint32_t since = 0;       // tick count when the running wait started
};

// ---- key input (43)
enum class InputStep : int32_t {
  kEntered = 0,
  kPrompting = 10,   // the prompt plays; a key stops it
  kWaiting = 15,     // the prompt ended; the first key is awaited
  kCollecting = 20,  // keys came; the rest are awaited
  kReplaying = 30,
};
enum class InputExit { kDone = 0, kTimeout = 1, kHungUp = 2 };
struct InputState {
  InputStep step = InputStep::kEntered;
  int32_t waitMs = 0;
  int32_t repeatsLeft = 0;
  uint32_t since = 0;
};

// ---- record (51)
enum class RecordStep : int32_t { kEntered = 0, kRecording = 10 };
// kFailed: the recording could not start, or writing it failed.
enum class RecordExit { kEnded = 0, kFailed = 1, kHungUp = 2 };
struct RecordState {
  RecordStep step = RecordStep::kEntered;
  int32_t limitMs = 0;
  uint32_t since = 0;
  std::string stopKeys;  // upper-cased
};

// ---- extension call (49)
enum class CallExtStep : int32_t { kEntered = 0, kRinging = 10 };
enum class CallExtExit {
  kAnswered = 0,
  kBusy = 1,
  kNoAnswer = 2,
  kNoSuchExtension = 3,
  kVoiceMail = 4,
  kForwarded = 5,
};
struct CallExtState {
  CallExtStep step = CallExtStep::kEntered;
  int32_t extension = 0;  // the ringing extension's channel
  uint32_t since = 0;
  std::string ringBack;  // the wait prompt replayed while ringing (GBK), or empty
};

// ---- talk (42)
enum class TalkStep : int32_t { kEntered = 0, kTalking = 1 };
enum class TalkExit { kPeerHungUp = 1 };
struct TalkState {
  TalkStep step = TalkStep::kEntered;
  int32_t peer = 0;  // the linked channel
  uint32_t since = 0;
};

// ---- combined playback (52)
enum class CombinedStep : int32_t { kEntered = 0, kNextSymbol = 5, kPlaying = 10 };
enum class CombinedExit { kEnded = 0, kCannotCompose = 1, kHungUp = 2 };
struct CombinedState {
  CombinedStep step = CombinedStep::kEntered;
  std::string symbols;  // at most 511
  int32_t position = 0;
  int32_t playType = 0;
};

// ---- the runtime's own: hang up after a delay
enum class DelayedHangupStep : int32_t { kEntered = 0, kWaiting = 10 };
struct DelayedHangupState {
  DelayedHangupStep step = DelayedHangupStep::kEntered;
  uint32_t since = 0;
};

// Where each kind's exits start in its record, found by the exit's type.
constexpr int exitsAt(PlayVoiceExit) {
  return cpl::PlayVoiceRecord::kExits;
}
constexpr int exitsAt(DigitExit) {
  return cpl::DigitRecord::kExits;
}
constexpr int exitsAt(InputExit) {
  return cpl::InputRecord::kExits;
}
constexpr int exitsAt(RecordExit) {
  return cpl::RecordRecord::kExits;
}
constexpr int exitsAt(CallExtExit) {
  return cpl::CallExtRecord::kExits;
}
constexpr int exitsAt(TalkExit) {
  return cpl::TalkRecord::kExits;
}
constexpr int exitsAt(CombinedExit) {
  return cpl::PlayTtsRecord::kExits;
}

// The state of the block being run: none until its handler first steps it.
using BlockState = std::variant<std::monostate, PlayVoiceState, DigitState, InputState, RecordState,
                                CallExtState, TalkState, CombinedState, DelayedHangupState>;

// The script block's progress, read and written by the interpreter.
struct ScriptProgress {
  int32_t step = 0;  // 0 entered, then the interpreter's own steps
  uint32_t pc = 0;   // next instruction
};

// Progress of the block a channel is running.
struct StepRecord {
  int32_t blockIndex = 0;
  ScriptProgress script;
  BlockState state;

  // The state of kind S, made fresh (step kEntered) when the block has none.
  template <typename S>
  S& of() {
    if (S* s = std::get_if<S>(&state)) return *s;
    return state.emplace<S>();
  }
  // A new block starts with no state.
  void enterBlock(int32_t b) {
    blockIndex = b;
    script = ScriptProgress{};
    state = std::monostate{};
  }
};

}  // namespace callproc
