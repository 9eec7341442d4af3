// Block parameter records: the fixed-size record of every block kind but the
// script block. The designer edits and saves them, the compiled flow carries
// them unchanged, and the runtime reads them at the same offsets (shifted by
// kBlockPayloadShift in memory). Offsets below are from the start of the
// stored record; every record begins with the int16 kind and ends with its
// int32 exit targets.
//
// Operand shapes inside the records:
//   text-or-number  262 bytes: type, register, text[256], int32 number
//                   (types 1 I, 4 S, 5 integer, 7 string)
//   number            6 bytes: type, register, int32 number (types 1, 5)
//   text of n     2 + n bytes: type, register, text[n] (types 4, 7)
//   register byte     1 byte : number 0..31 of an I or S register
// Marked "ms": the dialog takes seconds, a constant is stored in milliseconds.
#pragma once

#include "flowfile/cplformat.h"

namespace cpl {

// Operand shapes.
struct TextOrNumber {
  static constexpr int kType = 0, kReg = 1, kText = 2, kTextSize = 256, kNumber = 258;
  static constexpr int kSize = 262;
};
struct NumberOperand {
  static constexpr int kType = 0, kReg = 1, kNumber = 2;
  static constexpr int kSize = 6;
};
struct TextOperand {  // followed by text[n]
  static constexpr int kType = 0, kReg = 1, kText = 2;
};
static_assert(TextOrNumber::kNumber + 4 == TextOrNumber::kSize);
static_assert(NumberOperand::kNumber + 4 == NumberOperand::kSize);

// Checks that a record's exits end exactly at its size and match the kind table.
template <typename R>
constexpr bool recordLaidOut() {
  const int i = kindIndex(R::kKind);
  if (i < 0) return false;
  const KindInfo& k = kKinds[i];
  return k.sectionSize == R::kSize && k.exitOffset == R::kExits &&
         R::kExits + 4 * k.exitSlots == R::kSize;
}

struct StartRecord {
  static constexpr int kKind = 6, kSize = 6;
  static constexpr int kExits = 2;
};

struct CallSeatRecord {
  static constexpr int kKind = 40, kSize = 302;
  static constexpr int kWaitPrompt = 2;     // text-or-number
  static constexpr int kVoiceType = 264;    // byte: 0 file, 1 index
  static constexpr int kCallMode = 265;     // number
  static constexpr int kSkillGroup = 271;   // number
  static constexpr int kWaitAnswer = 277;   // number, ms
  static constexpr int kSeatChannel = 283;  // register byte (I), out
  static constexpr int kRingMode = 284;     // number
  static constexpr int kExits = 290;        // 3 exits
};

struct PlayVoiceRecord {
  static constexpr int kKind = 41, kSize = 542;
  static constexpr int kVoiceFile = 2;        // text-or-number (types 4, 1, 5, 7)
  static constexpr int kVoiceType = 264;      // number: 0 file, 1 index
  static constexpr int kInterruptKeys = 270;  // text of 256 (types 4, 7)
  static constexpr int kInterruptKeysSize = 256;
  static constexpr int kPlayChannel = 528;  // type 9 ($chan) or 1 (I register), register byte
  static constexpr int kExits = 530;        // 3 exits
};

struct TalkRecord {
  static constexpr int kKind = 42, kSize = 26;
  static constexpr int kLinkedChannel = 2;  // register byte (I)
  static constexpr int kHoldMusic = 3;      // number
  static constexpr int kMeetRoomVar = 9;    // register byte (I)
  static constexpr int kExits = 10;         // 4 exits
};

struct InputRecord {
  static constexpr int kKind = 43, kSize = 304;
  static constexpr int kPrompt = 2;        // text-or-number
  static constexpr int kVoiceType = 264;   // number
  static constexpr int kDigitCount = 270;  // number; 0 = end only on the end key
  static constexpr int kEndKey = 276;      // type (4 or 7), register byte, one character
  static constexpr int kDigitsVar = 279;   // register byte (S)
  static constexpr int kRepeat = 280;      // number
  static constexpr int kDigitWait = 286;   // number, ms
  static constexpr int kExits = 292;       // 3 exits
};

struct DigitRecord {
  static constexpr int kKind = 44, kSize = 339;
  static constexpr int kPrompt = 2;       // text-or-number
  static constexpr int kVoiceType = 264;  // number
  static constexpr int kReplays = 270;    // number
  static constexpr int kWaitAfter = 276;  // number, ms
  static constexpr int kKeyVar = 282;     // register byte (S)
  static constexpr int kExits = 283;      // 14 exits
};

struct CreateMeetRecord {
  static constexpr int kKind = 45, kSize = 17;
  static constexpr int kRoomVar = 2;   // register byte (I), out
  static constexpr int kRoomSize = 3;  // number
  static constexpr int kExits = 9;     // 2 exits
};

struct EnterMeetRecord {
  static constexpr int kKind = 46, kSize = 32;
  static constexpr int kRoomVar = 2;        // register byte (I)
  static constexpr int kChannelVar = 3;     // register byte (I)
  static constexpr int kInputGain = 4;      // number
  static constexpr int kSilenceLevel = 10;  // number
  static constexpr int kSilenceTime = 16;   // number
  static constexpr int kListenOnly = 22;    // int16, 1 = listen only
  static constexpr int kExits = 24;         // 2 exits
};

struct MeetTalkRecord {
  static constexpr int kKind = 47, kSize = 12;
  static constexpr int kRoomVar = 2;     // register byte (I)
  static constexpr int kLeavingVar = 3;  // register byte (I), out
  static constexpr int kExits = 4;       // 2 exits
};

struct CallExtRecord {
  static constexpr int kKind = 49, kSize = 305;
  static constexpr int kExtensionVar = 2;     // register byte (S)
  static constexpr int kWaitPrompt = 3;       // text-or-number
  static constexpr int kVoiceType = 265;      // byte: 0 file, 1 index
  static constexpr int kMessageVar = 266;     // register byte (S), out
  static constexpr int kForwardVar = 267;     // register byte (S), out
  static constexpr int kExtChannelVar = 268;  // register byte (I), out
  static constexpr int kWaitAnswer = 269;     // number
  static constexpr int kRingMode = 275;       // number
  static constexpr int kExits = 281;          // 6 exits
};

struct CallOutRecord {
  static constexpr int kKind = 50, kSize = 83;
  static constexpr int kCallingNumber = 2;  // text of 20
  static constexpr int kCalledNumber = 24;  // text of 20
  static constexpr int kNumberSize = 20;
  static constexpr int kSeizedVar = 46;  // register byte (I), out
  static constexpr int kTrunk = 47;      // number
  static constexpr int kRingWait = 53;   // number
  static constexpr int kExits = 59;      // 6 exits
};

struct RecordRecord {
  static constexpr int kKind = 51, kSize = 292;
  static constexpr int kFile = 2;  // text of 256
  static constexpr int kFileSize = 256;
  static constexpr int kStopKeys = 260;  // text of 12
  static constexpr int kStopKeysSize = 12;
  static constexpr int kLength = 274;  // number
  static constexpr int kExits = 280;   // 3 exits
};

struct PlayTtsRecord {
  static constexpr int kKind = 52, kSize = 278;
  static constexpr int kPlayType = 2;  // number
  static constexpr int kContent = 8;   // text of 256
  static constexpr int kContentSize = 256;
  static constexpr int kExits = 266;  // 3 exits
};

struct CycPlayRecord {
  static constexpr int kKind = 53, kSize = 22;
  static constexpr int kIndex = 2;    // number
  static constexpr int kTimeout = 8;  // number
  static constexpr int kExits = 14;   // 2 exits
};

static_assert(recordLaidOut<StartRecord>());
static_assert(recordLaidOut<CallSeatRecord>() && CallSeatRecord::kRingMode + 6 == 290);
static_assert(recordLaidOut<PlayVoiceRecord>() && PlayVoiceRecord::kPlayChannel + 2 == 530);
static_assert(PlayVoiceRecord::kInterruptKeys + 2 + 256 == PlayVoiceRecord::kPlayChannel);
static_assert(recordLaidOut<TalkRecord>() && TalkRecord::kMeetRoomVar + 1 == 10);
static_assert(recordLaidOut<InputRecord>() && InputRecord::kDigitWait + 6 == 292);
static_assert(recordLaidOut<DigitRecord>() && DigitRecord::kKeyVar + 1 == 283);
static_assert(recordLaidOut<CreateMeetRecord>() && CreateMeetRecord::kRoomSize + 6 == 9);
static_assert(recordLaidOut<EnterMeetRecord>() && EnterMeetRecord::kListenOnly + 2 == 24);
static_assert(recordLaidOut<MeetTalkRecord>());
static_assert(recordLaidOut<CallExtRecord>() && CallExtRecord::kRingMode + 6 == 281);
static_assert(recordLaidOut<CallOutRecord>() && CallOutRecord::kRingWait + 6 == 59);
static_assert(CallOutRecord::kCalledNumber + 22 == CallOutRecord::kSeizedVar);
static_assert(recordLaidOut<RecordRecord>() && RecordRecord::kLength + 6 == 280);
static_assert(RecordRecord::kStopKeys + 2 + 12 == RecordRecord::kLength);
static_assert(recordLaidOut<PlayTtsRecord>() && PlayTtsRecord::kContent + 258 == 266);
static_assert(recordLaidOut<CycPlayRecord>() && CycPlayRecord::kTimeout + 6 == 14);
static_assert(TextOrNumber::kSize == InputRecord::kVoiceType - InputRecord::kPrompt);
static_assert(TextOrNumber::kSize == CallExtRecord::kVoiceType - CallExtRecord::kWaitPrompt);

}  // namespace cpl
