#include "flowfile/operands.h"

#include <gtest/gtest.h>

#include <vector>

#include "flowfile/bytes.h"

namespace cpl {
namespace {

std::vector<uint8_t> filled(size_t n) {
  return std::vector<uint8_t>(n, 0xAA);  // stale bytes a write must clear
}

TEST(Operands, TextOrNumberWritesOnlyTheSlotOfItsType) {
  struct Case {
    RecordOperand op;
    int textBytes;  // non-zero bytes expected in the text slot
    int32_t number;
  };
  const Case cases[] = {
      {RecordOperand::iReg(5), 0, 0},
      {RecordOperand::sReg(31), 0, 0},
      {RecordOperand::integer(-123456789), 0, -123456789},
      {RecordOperand::str("welcome.voc"), 11, 0},
      {RecordOperand{}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.op.type));
    auto rec = filled(2 + TextOrNumber::kSize + 4);
    writeTextOrNumber(rec, 2, c.op);
    EXPECT_EQ(rec[0], 0xAA);  // nothing outside the operand
    EXPECT_EQ(rec[2 + TextOrNumber::kSize], 0xAA);
    EXPECT_EQ(rec[2], c.op.type);
    EXPECT_EQ(rec[3], c.op.reg);
    EXPECT_EQ(std::count_if(rec.begin() + 4, rec.begin() + 4 + 256, [](uint8_t b) { return b; }),
              c.textBytes);
    EXPECT_EQ(getI32(rec, 2 + TextOrNumber::kNumber), c.number);
    EXPECT_EQ(readTextOrNumber(rec, 2), c.op);
  }
}

TEST(Operands, NumberTextAndRegisterShapes) {
  auto rec = filled(40);
  writeNumber(rec, 0, RecordOperand::integer(10000));
  EXPECT_EQ(std::vector<uint8_t>(rec.begin(), rec.begin() + 7),
            (std::vector<uint8_t>{5, 0, 0x10, 0x27, 0, 0, 0xAA}));
  EXPECT_EQ(readNumber(rec, 0), RecordOperand::integer(10000));
  writeNumber(rec, 0, RecordOperand::iReg(7));
  EXPECT_EQ(std::vector<uint8_t>(rec.begin(), rec.begin() + 6),
            (std::vector<uint8_t>{1, 7, 0, 0, 0, 0}));

  writeText(rec, 10, 12, RecordOperand::str("#"));
  EXPECT_EQ(rec[10], kOpStr);
  EXPECT_EQ(rec[12], '#');
  EXPECT_EQ(rec[13], 0);
  EXPECT_EQ(rec[23], 0);
  EXPECT_EQ(rec[24], 0xAA);
  EXPECT_EQ(readText(rec, 10, 12), RecordOperand::str("#"));
  writeText(rec, 10, 12, RecordOperand::sReg(2));
  EXPECT_EQ(readText(rec, 10, 12), RecordOperand::sReg(2));
  EXPECT_EQ(rec[12], 0);

  writeRegisterByte(rec, 30, 17);
  EXPECT_EQ(readRegisterByte(rec, 30), 17);
}

TEST(Operands, SlotTextsStayInsideTheirSlots) {
  auto rec = filled(30);
  // A text that fills its slot has no terminator and reads back whole.
  writeSlotText(rec, 2, 20, "13912345678901234567");
  EXPECT_EQ(rec[22], 0xAA);
  EXPECT_EQ(readSlotText(rec, 2, 20), "13912345678901234567");
  // A longer one is cut at the slot; a two-byte character is never halved.
  writeSlotText(rec, 2, 5, "abcdefg");
  EXPECT_EQ(readSlotText(rec, 2, 5), "abcde");
  writeSlotText(rec, 2, 5, "ab\xd6\xd0\xce\xc4");  // "ab" and two characters
  EXPECT_EQ(readSlotText(rec, 2, 5), "ab\xd6\xd0");
  EXPECT_EQ(rec[6], 0);
  // Offsets outside the record read as nothing and write nothing.
  const auto before = rec;
  writeSlotText(rec, 25, 20, "x");
  writeTextOrNumber(rec, 0, RecordOperand::integer(1));
  writeNumber(rec, 26, RecordOperand::integer(1));
  writeRegisterByte(rec, 30, 1);
  writeText(rec, -1, 4, RecordOperand::str("x"));
  EXPECT_EQ(rec, before);
  EXPECT_EQ(readSlotText(rec, 25, 20), "");
  EXPECT_EQ(readTextOrNumber(rec, 0), RecordOperand{});
  EXPECT_EQ(readNumber(rec, 26), RecordOperand{});
  EXPECT_EQ(readRegisterByte(rec, 30), 0);
}

}  // namespace
}  // namespace cpl
