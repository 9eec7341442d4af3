#include "flowfile/operands.h"

#include <algorithm>
#include <cstring>

#include "flowfile/bytes.h"

namespace cpl {

namespace {

bool fits(std::span<const uint8_t> rec, int at, int size) {
  return at >= 0 && size >= 0 && static_cast<size_t>(at) + static_cast<size_t>(size) <= rec.size();
}

void clear(std::span<uint8_t> rec, int at, int size) {
  std::fill(rec.begin() + at, rec.begin() + at + size, uint8_t{0});
}

// How many bytes of `gbk` fit in `size` without splitting a two-byte character.
size_t fittingLength(std::string_view gbk, size_t size) {
  size_t n = 0;
  while (n < gbk.size()) {
    const size_t step = static_cast<uint8_t>(gbk[n]) >= 0x81 && n + 1 < gbk.size() ? 2 : 1;
    if (n + step > size) break;
    n += step;
  }
  return n;
}

}  // namespace

std::string readSlotText(std::span<const uint8_t> rec, int at, int size) {
  if (!fits(rec, at, size)) return {};
  const auto* begin = rec.data() + at;
  const auto* end = std::find(begin, begin + size, uint8_t{0});
  return std::string(reinterpret_cast<const char*>(begin), static_cast<size_t>(end - begin));
}

void writeSlotText(std::span<uint8_t> rec, int at, int size, std::string_view gbk) {
  if (!fits(rec, at, size)) return;
  clear(rec, at, size);
  const size_t n = fittingLength(gbk, static_cast<size_t>(size));
  std::memcpy(rec.data() + at, gbk.data(), n);
}

RecordOperand readTextOrNumber(std::span<const uint8_t> rec, int at) {
  if (!fits(rec, at, TextOrNumber::kSize)) return {};
  return {rec[at + TextOrNumber::kType], rec[at + TextOrNumber::kReg],
          readSlotText(rec, at + TextOrNumber::kText, TextOrNumber::kTextSize),
          getI32(rec, at + TextOrNumber::kNumber)};
}

void writeTextOrNumber(std::span<uint8_t> rec, int at, const RecordOperand& op) {
  if (!fits(rec, at, TextOrNumber::kSize)) return;
  clear(rec, at, TextOrNumber::kSize);
  rec[at + TextOrNumber::kType] = op.type;
  rec[at + TextOrNumber::kReg] = op.reg;
  if (op.type == kOpStr)
    writeSlotText(rec, at + TextOrNumber::kText, TextOrNumber::kTextSize, op.text);
  if (op.type == kOpInt) putI32(rec, at + TextOrNumber::kNumber, op.number);
}

RecordOperand readNumber(std::span<const uint8_t> rec, int at) {
  if (!fits(rec, at, NumberOperand::kSize)) return {};
  return {rec[at + NumberOperand::kType],
          rec[at + NumberOperand::kReg],
          {},
          getI32(rec, at + NumberOperand::kNumber)};
}

void writeNumber(std::span<uint8_t> rec, int at, const RecordOperand& op) {
  if (!fits(rec, at, NumberOperand::kSize)) return;
  clear(rec, at, NumberOperand::kSize);
  rec[at + NumberOperand::kType] = op.type;
  rec[at + NumberOperand::kReg] = op.reg;
  if (op.type == kOpInt) putI32(rec, at + NumberOperand::kNumber, op.number);
}

RecordOperand readText(std::span<const uint8_t> rec, int at, int size) {
  if (!fits(rec, at, 2 + size)) return {};
  return {rec[at + TextOperand::kType], rec[at + TextOperand::kReg],
          readSlotText(rec, at + TextOperand::kText, size), 0};
}

void writeText(std::span<uint8_t> rec, int at, int size, const RecordOperand& op) {
  if (!fits(rec, at, 2 + size)) return;
  clear(rec, at, 2 + size);
  rec[at + TextOperand::kType] = op.type;
  rec[at + TextOperand::kReg] = op.reg;
  if (op.type == kOpStr) writeSlotText(rec, at + TextOperand::kText, size, op.text);
}

int readRegisterByte(std::span<const uint8_t> rec, int at) {
  return fits(rec, at, 1) ? rec[at] : 0;
}

void writeRegisterByte(std::span<uint8_t> rec, int at, int reg) {
  if (fits(rec, at, 1)) rec[at] = static_cast<uint8_t>(reg);
}

}  // namespace cpl
