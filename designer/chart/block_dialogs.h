// What the block dialogs ("命令参数") decide, without a display: the fields
// of each kind's dialog, the entry forms, the display rule from record to
// text, the checks on "确定" with their messages (box title "错误"), the
// defaults, the key filters, and the record each accepted dialog stores.
// The Qt dialogs only show these fields and call accept().
//
// Dialog texts are UTF-8, as the window shows them; text constants are
// stored in the record as GBK.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "designer/chart/chart.h"

namespace chart::dialogs {

inline constexpr std::string_view kDialogTitle = "命令参数";
inline constexpr std::string_view kErrorTitle = "错误";
inline constexpr std::string_view kBackspace = "\b";

// ---- Entry forms ---------------------------------------------------------------

enum class Form {
  kIRegister,  // I or i, then digits; the register is the first two digits, 0..31
  kSRegister,  // the same with S
  kInteger,    // an optional minus and digits; the first 9 characters are converted
  kText,       // anything else
};
struct Entry {
  Form form = Form::kText;
  int reg = 0;         // the registers
  int32_t number = 0;  // the integer
};
Entry parseEntry(std::string_view text);

// ---- Dialog fields -------------------------------------------------------------

// How a field is stored in the record (flowfile/operands.h).
enum class Shape {
  kTextOrNumber,   // 262 bytes
  kNumber,         // 6 bytes
  kText,           // 2 + size bytes
  kRegisterByte,   // 1 byte, from a register list
  kVoiceTypeByte,  // 1 byte: 0 "文件放音", 1 "索引放音"
  kPlayChannel,    // type 9 "$chan" or 1 (I register), then the register byte
  kEndKey,         // type 4 (S register) or 7, register byte, one character
  kFlag,           // int16, 1 when the check box is ticked
};

// The lists a combo box offers.
enum class List { kNone, kIRegisters, kSRegisters, kVoiceTypes, kPlayChannels };
std::vector<std::string> listItems(List list);

// Entry forms a field takes.
enum Allow : unsigned { kAllowI = 1, kAllowS = 2, kAllowInt = 4, kAllowText = 8 };

struct Field {
  std::string_view label;
  int offset;
  Shape shape;
  unsigned allow = 0;                 // for the typed shapes
  int size = 0;                       // text slot of kText
  bool seconds = false;               // typed in seconds, stored in milliseconds
  std::string_view defaultText = {};  // shown while the operand was never set
  List list = List::kNone;
};

struct Dialog {
  int kind;
  std::vector<Field> fields;  // in record order
};
// The dialog of a fixed block kind; nullptr for the start and script blocks.
const Dialog* dialogFor(int kind);

// ---- Record to dialog and back ----------------------------------------------------

// The text each field shows for `record` (display rule): I and S registers
// as I<n> and S<n>, integers in decimal (seconds for a millisecond time),
// texts as they are, list choices as their item; a never-set operand shows
// the dialog's default.
std::vector<std::string> show(int kind, std::span<const uint8_t> record);

struct Outcome {
  bool ok = false;
  int field = -1;                     // the entry to focus on a refusal
  std::vector<std::string> messages;  // the boxes to show, in order (title "错误")
  std::vector<uint8_t> record;        // the record to store when ok
};
// The "确定" press: the entries are checked and stored into a scratch copy
// of `record`; the block itself is untouched.
Outcome accept(int kind, std::span<const uint8_t> record, const std::vector<std::string>& values);
// accept() on block `b` of `chart`; the block's record is replaced (one
// undoable command) only when the dialog is accepted.
Outcome acceptForBlock(Chart& chart, int b, const std::vector<std::string>& values);

// Whether the entry of field `field` of kind `kind`'s dialog takes the typed
// character `key` (UTF-8; kBackspace for the backspace key).
bool acceptsKey(int kind, int field, std::string_view key);

// What the join-conference dialog's "缺省参数" box fills into input gain,
// silence threshold and silence check time.
inline constexpr std::string_view kConferenceDefaults[3] = {"2048", "15", "30"};

}  // namespace chart::dialogs
