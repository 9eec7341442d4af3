// The compiled flow file (".cpl"): the one thing that passes from the flow
// designer to the runtime. cplwriter.h writes it, cplreader.h reads it; the
// opcodes are listed once in opcode_list.h.
//
// File frame (all integers little-endian, no padding anywhere):
//
//   offset  size   field
//   0       4      magic "1001" (the designer writes it; the runtime also reads "1002")
//   4       4      int32 block count N
//   8       ...    N block sections in chart order
//   after   4096   the string pool; nothing follows it
//
// Block sections begin with the int16 kind. For every kind but 48 the section
// is the block's parameter record (blockrecords.h) of the size in kKinds, its
// exit slots holding int32 block indexes or NO_TARGET. In a "1002" file every
// such section is 548 bytes (kind, 2 filler bytes, then the record's payload).
//
// Script block section (kind 48):
//   0       2      int16 48
//   2       4      int32 n, the number of instruction records
//   6       49*n   instruction records in source order
//   6+49n   4      int32 target of the default (first) exit, or NO_TARGET
//
// Instruction record, 49 bytes:
//   0       4      uint32 source line (0-based)
//   4       2      int16 opcode
//   6       43     operand area, laid out per opcode by kOpcodes below;
//                  unused bytes are zero
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "flowfile/bytes.h"
#include "flowfile/opcode_list.h"

namespace cpl {

// ---- Frame ------------------------------------------------------------------

inline constexpr std::string_view kMagic1001 = "1001";
inline constexpr std::string_view kMagic1002 = "1002";
inline constexpr std::string_view kProjectMagic = "1000";  // a project file, not a compiled one
inline constexpr int kFrameHeaderSize = 8;                 // magic + block count
inline constexpr int32_t NO_TARGET = 9999999;

// ---- Block kinds ------------------------------------------------------------

enum BlockKind : int16_t {
  kKindWaitCall = 0,       // the runtime's own: waiting for a call
  kKindDelayedHangup = 1,  // the runtime's own: hang up after 1.5 s
  kKindStart = 6,
  kKindCallSeat = 40,
  kKindPlayVoice = 41,
  kKindTalk = 42,
  kKindInput = 43,
  kKindDigit = 44,
  kKindCreateMeet = 45,
  kKindEnterMeet = 46,
  kKindMeetTalk = 47,
  kKindScript = 48,
  kKindCallExt = 49,
  kKindCallOut = 50,
  kKindRecord = 51,
  kKindPlayTts = 52,
  kKindCycPlay = 53,
};

struct KindInfo {
  int16_t kind;
  std::string_view className;  // the designer's block class
  int sectionSize;             // bytes of the section in a "1001" file; 0 for the script block
  int exitOffset;              // offset of exit slot 0 in the record
  int exitSlots;               // room for exits in the record
};

inline constexpr std::array<KindInfo, 15> kKinds{{
    {6, "GCMD_START", 6, 2, 1},
    {40, "GCMD_DTC_CALLSEAT", 302, 290, 3},
    {41, "GCMD_DTC_PLAYVOC", 542, 530, 3},
    {42, "GCMD_DTC_TALK2", 26, 10, 4},
    {43, "GCMD_DTC_INPUT", 304, 292, 3},
    {44, "GCMD_DTC_DIGIT", 339, 283, 14},
    {45, "GCMD_DTC_CREATEMEET", 17, 9, 2},
    {46, "GCMD_DTC_ENTERMEET", 32, 24, 2},
    {47, "GCMD_DTC_MEETTALK", 12, 4, 2},
    {48, "GCMD_DTC_SCRIPT", 0, 0, 1},
    {49, "GCMD_DTC_CALLEXT", 305, 281, 6},
    {50, "GCMD_DTC_CALLOUT", 83, 59, 6},
    {51, "GCMD_DTC_RECORD", 292, 280, 3},
    {52, "GCMD_DTC_PLAYTTS", 278, 266, 3},
    {53, "GCMD_DTC_CYCPLAY", 22, 14, 2},
}};

// Index of the kind in kKinds, or -1 for a kind outside the table.
constexpr int kindIndex(int kind) {
  for (int i = 0; i < static_cast<int>(kKinds.size()); ++i)
    if (kKinds[i].kind == kind) return i;
  return -1;
}
// The kind's entry, or nullptr for a kind outside the table.
inline const KindInfo* findKind(int kind) {
  int i = kindIndex(kind);
  return i < 0 ? nullptr : &kKinds[i];
}

// A readable name of the kind for listings ("play voice", ...).
std::string_view kindTitle(int kind);

// Size of the in-memory block record and of a "1002" block section.
inline constexpr int kBlockRecordSize = 548;
// Offset of a block's payload in memory: stored-record offset X lies at X + 2.
inline constexpr int kBlockPayloadShift = 2;

// ---- Instruction record -----------------------------------------------------

inline constexpr int kInstrSize = 49;
inline constexpr int kInstrLine = 0;
inline constexpr int kInstrOpcode = 4;
inline constexpr int kOperandArea = 6;
static_assert(kOperandArea + 43 == kInstrSize);

using InstrBytes = std::array<uint8_t, kInstrSize>;

// Little-endian views of one instruction record. Offsets are record offsets.
class Instruction {
 public:
  Instruction() { b_.fill(0); }
  explicit Instruction(const InstrBytes& b) : b_(b) {}
  Instruction(uint32_t line, int16_t opcode) : Instruction() {
    setLine(line);
    setOpcode(opcode);
  }

  uint32_t line() const { return getU32(b_, kInstrLine); }
  int16_t opcode() const { return getI16(b_, kInstrOpcode); }
  void setLine(uint32_t v) { putU32(b_, kInstrLine, v); }
  void setOpcode(int16_t v) { putI16(b_, kInstrOpcode, v); }

  uint8_t u8(int at) const { return b_[at]; }
  int16_t i16(int at) const { return getI16(b_, at); }
  uint16_t u16(int at) const { return getU16(b_, at); }
  int32_t i32(int at) const { return getI32(b_, at); }
  double f64(int at) const { return getF64(b_, at); }
  void setU8(int at, uint8_t v) { b_[at] = v; }
  void setI16(int at, int16_t v) { putI16(b_, at, v); }
  void setU16(int at, uint16_t v) { putU16(b_, at, v); }
  void setI32(int at, int32_t v) { putI32(b_, at, v); }
  void setF64(int at, double v) { putF64(b_, at, v); }

  // 14 time digits at `at` (not terminated: the next byte may belong to another field).
  std::string timeDigits(int at) const;
  void setTimeDigits(int at, std::string_view digits14);

  const InstrBytes& bytes() const { return b_; }
  InstrBytes& bytes() { return b_; }

 private:
  InstrBytes b_;
};

// ---- Operands ---------------------------------------------------------------

enum OperandType : uint8_t {
  kOpNone = 0,
  kOpI = 1,
  kOpF = 2,
  kOpT = 3,
  kOpS = 4,
  kOpInt = 5,
  kOpFlt = 6,
  kOpStr = 7,
  kOpTime = 8,
  kOpSys = 9,
};

// Sets of operand types, one bit per type.
using TypeSet = uint16_t;
constexpr TypeSet bit(OperandType t) {
  return static_cast<TypeSet>(1u << t);
}
inline constexpr TypeSet kTI = bit(kOpI), kTF = bit(kOpF), kTT = bit(kOpT), kTS = bit(kOpS);
inline constexpr TypeSet kTInt = bit(kOpInt), kTFlt = bit(kOpFlt), kTStr = bit(kOpStr);
inline constexpr TypeSet kTTime = bit(kOpTime), kTSys = bit(kOpSys);
inline constexpr TypeSet kTRegs = kTI | kTF | kTT | kTS;

// System variable codes (the register byte of an operand of type 9).
enum SysVar : uint8_t {
  kSysCaller = 1,
  kSysCalled = 2,
  kSysCallid = 3,  // also $meet1: the destination's type tells them apart
  kSysMeetFirst = 3,
  kSysMeetLast = 34,  // $meetN is N + 2
  kSysChan = 35,      // '#'
  kSysUsedMoney = 36,
};
static_assert(kSysChan == '#');

// Which system variables a position admits.
using SysSet = uint8_t;
inline constexpr SysSet kSysNone = 0;
inline constexpr SysSet kAllowCaller = 1, kAllowCalled = 2, kAllowCallid = 4, kAllowMeet = 8,
                        kAllowChan = 16, kAllowUsedMoney = 32;
inline constexpr SysSet kAllowAllSys =
    kAllowCaller | kAllowCalled | kAllowCallid | kAllowMeet | kAllowChan | kAllowUsedMoney;

// Relation byte of `if`.
enum Relation : uint8_t {
  kRelLess = 0,
  kRelGreater = 1,
  kRelLessEq = 2,
  kRelGreaterEq = 3,
  kRelEq = 4
};
// Direction byte of the setsqlparam commands.
enum Direction : uint8_t { kDirIn = 0, kDirOut = 1 };

// The shape of one field of an operand area.
enum class Shape : uint8_t {
  kBare,        // bare register byte at `at`; `reg` names the set (kOpI..kOpS)
  kOperand,     // type byte at `at`, register byte at at+1, constant slots below
  kLabel,       // label reference: pool ref at `at`, jump target int32 at `tgt` (-1: none)
  kRelation,    // relation byte at `at` (if)
  kDirection,   // direction byte at `at` ("in" 0, "out" 1)
  kCondValue,   // condgoto's second operand: I register byte at `at`, 255 = constant in i32
  kExitRef,     // gotoout: int32 block index at `at`, exit name pool ref at `str`
  kTypeLetter,  // setparamout: 1 "i", 2 "f", 3 "t", 4 "s" at `at`
};

// One field of an operand area. Constant slot offsets are -1 where absent.
// An integer constant goes to `i32` when the field has one, else to `dbl`
// widened to a double; a float constant always goes to `dbl`.
struct Field {
  Shape shape = Shape::kOperand;
  int8_t at = 0;
  TypeSet types = 0;          // kOperand: admitted types
  SysSet sys = 0;             // kOperand with kTSys: admitted system variables
  OperandType reg = kOpNone;  // kBare: which register set
  int8_t i32 = -1, dbl = -1, str = -1, time = -1, tgt = -1;
};

inline constexpr int kMaxFields = 6;

// Which file of the interpreter carries out a command, or what kind of
// command the runtime passes over.
enum class OpcodeFamily : uint8_t {
  kControl,     // jumps, leaving the block, print, resetchan
  kAssign,      // set, arithmetic, if, conversions
  kStringDate,  // string and date commands
  kDatabase,    // database commands
  kPacket,      // packets to other programs
  kBilling,     // billing
  kLine,        // playback, recording, conferences, line control
};

// Everything about one opcode, from opcode_list.h and the layouts of
// opcodes.cpp.
struct OpcodeInfo {
  int16_t code;
  std::string_view keyword;    // empty for the label-only record (64)
  std::string_view traceName;  // how the trace names the command
  OpcodeFamily family;
  bool executed;  // whether the runtime carries the command out
  uint8_t fieldCount;
  std::array<Field, kMaxFields> fields;
  std::span<const Field> operands() const { return {fields.data(), fieldCount}; }
};

#define OLVARO_OPCODE_COUNT(...) +1
inline constexpr int kOpcodeCount = 0 OLVARO_OPCODES(OLVARO_OPCODE_COUNT);
#undef OLVARO_OPCODE_COUNT
static_assert(kOpcodeCount == 104);
inline constexpr int16_t kOpLabelOnly = 64;

// The opcode table, indexed by opcode (0..103).
extern const std::array<OpcodeInfo, kOpcodeCount> kOpcodes;

// The entry of an opcode, or nullptr outside 0..103.
const OpcodeInfo* findOpcode(int code);
// The entry of a keyword (lower case), or nullptr.
const OpcodeInfo* findKeyword(std::string_view keyword);

// Opcodes by name, for code that switches on them.
enum Opcode : int16_t {
#define OLVARO_OPCODE_ENUM(code, Name, keyword, trace, family, executed) k##Name = code,
  OLVARO_OPCODES(OLVARO_OPCODE_ENUM)
#undef OLVARO_OPCODE_ENUM
};

// ---- String pool ------------------------------------------------------------

inline constexpr int kPoolSize = 4096;
inline constexpr int kPoolTextMax = 256;  // extract returns at most this many bytes

// A pool reference packed as the interpreter reads it: low 16 bits offset, high 16 bits length.
struct PoolRef {
  uint16_t offset = 0;
  uint16_t length = 0;
};

// The 4096-byte text area of a compiled flow. Texts are appended one after
// another without separators; a reference's length delimits each.
class StringPool {
 public:
  StringPool() { clear(); }
  void clear() { bytes_.fill(0); }
  // Appends `text` after the current contents (up to the first zero byte).
  // Refuses (nullopt) when the new total would exceed the pool, and when the
  // pool is full, since no offset inside it is left even for an empty text.
  std::optional<PoolRef> append(std::string_view text);
  // The bytes at `ref`: at most 256, at most its length, never past the pool's end.
  std::string extract(PoolRef ref) const;
  // Length of the contents, up to the first zero byte.
  int used() const;

  const std::array<uint8_t, kPoolSize>& bytes() const { return bytes_; }
  std::array<uint8_t, kPoolSize>& bytes() { return bytes_; }

 private:
  std::array<uint8_t, kPoolSize> bytes_;
};

// extract() over a raw pool, for code that holds the bytes only.
std::string poolExtract(std::span<const uint8_t, kPoolSize> pool, PoolRef ref);

}  // namespace cpl
