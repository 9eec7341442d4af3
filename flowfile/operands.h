// The operand shapes inside block parameter records (blockrecords.h), read
// and written in one place for the designer's dialogs, the sample
// generators and the runtime's block handlers:
//   text-or-number  262 bytes: type, register, text[256], int32 number
//   number            6 bytes: type, register, int32 number
//   text of n     2 + n bytes: type, register, text[n]
//   register byte     1 byte : a register number 0..31
// Texts are GBK bytes, zero-padded in their slot; a text that fills its
// slot has no terminator, and a reader never goes past the slot.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "flowfile/blockrecords.h"

namespace cpl {

// One operand as stored: which slot counts depends on the type.
struct RecordOperand {
  uint8_t type = kOpNone;
  uint8_t reg = 0;     // the register of types 1 and 4; '#' with type 9
  std::string text;    // type 7 (GBK)
  int32_t number = 0;  // type 5
  bool operator==(const RecordOperand&) const = default;

  static RecordOperand iReg(int r) { return {kOpI, static_cast<uint8_t>(r), {}, 0}; }
  static RecordOperand sReg(int r) { return {kOpS, static_cast<uint8_t>(r), {}, 0}; }
  static RecordOperand integer(int32_t v) { return {kOpInt, 0, {}, v}; }
  static RecordOperand str(std::string gbk) { return {kOpStr, 0, std::move(gbk), 0}; }
};

// The text of a zero-padded slot: up to the first zero byte, at most `size` bytes.
std::string readSlotText(std::span<const uint8_t> rec, int at, int size);
// Clears the slot, then copies in at most `size` bytes of `gbk`, never
// cutting a two-byte character in half.
void writeSlotText(std::span<uint8_t> rec, int at, int size, std::string_view gbk);

// Every read takes both slots whatever the type (a record from a file may
// hold anything); every write clears the whole operand first, so that only
// the slot of the written type is filled. Offsets outside the record read
// as an unset operand and are never written.
RecordOperand readTextOrNumber(std::span<const uint8_t> rec, int at);
void writeTextOrNumber(std::span<uint8_t> rec, int at, const RecordOperand& op);
RecordOperand readNumber(std::span<const uint8_t> rec, int at);
void writeNumber(std::span<uint8_t> rec, int at, const RecordOperand& op);
RecordOperand readText(std::span<const uint8_t> rec, int at, int size);
void writeText(std::span<uint8_t> rec, int at, int size, const RecordOperand& op);
int readRegisterByte(std::span<const uint8_t> rec, int at);
void writeRegisterByte(std::span<uint8_t> rec, int at, int reg);

}  // namespace cpl
