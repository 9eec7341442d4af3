#include "platform/bytes.h"

#include <gtest/gtest.h>

#include <limits>

namespace platform {
namespace {

TEST(Bytes, LittleEndianAtOffsets) {
  std::vector<uint8_t> b(16, 0);
  putI16(b, 1, -2);
  putU32(b, 3, 0x11223344);
  putF64(b, 7, -0.5);
  EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 7),
            (std::vector<uint8_t>{0, 0xFE, 0xFF, 0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(getI16(b, 1), -2);
  EXPECT_EQ(getU16(b, 1), 0xFFFE);
  EXPECT_EQ(getI32(b, 3), 0x11223344);
  EXPECT_EQ(getF64(b, 7), -0.5);
  putI32(b, 0, std::numeric_limits<int32_t>::min());
  EXPECT_EQ(getI32(b, 0), std::numeric_limits<int32_t>::min());
}

// A read that does not fit fails and leaves the cursor, so that a caller can
// report where the damage starts.
TEST(Bytes, ReaderNeverReadsPastTheEnd) {
  const std::vector<uint8_t> b = {1, 0, 0xFF, 0xFF, 0xFF, 0x7F, 9};
  ByteReader r(b);
  int16_t s = 0;
  int32_t i = 0;
  uint8_t u = 0;
  ASSERT_TRUE(r.i16(&s));
  EXPECT_EQ(s, 1);
  ASSERT_TRUE(r.i32(&i));
  EXPECT_EQ(i, 0x7FFFFFFF);
  EXPECT_FALSE(r.i32(&i));
  EXPECT_FALSE(r.i16(&s));
  EXPECT_EQ(r.pos(), 6u);
  std::string t;
  EXPECT_FALSE(r.text(2, &t));
  ASSERT_TRUE(r.u8(&u));
  EXPECT_EQ(u, 9);
  EXPECT_FALSE(r.u8(&u));
  EXPECT_EQ(r.left(), 0u);
  r.back(100);
  EXPECT_EQ(r.pos(), 0u);
  std::span<const uint8_t> all;
  EXPECT_FALSE(r.take(8, &all));
  EXPECT_TRUE(r.take(7, &all));
  EXPECT_EQ(all.size(), 7u);
}

TEST(Bytes, WriterAppendsWhatTheReaderReads) {
  std::vector<uint8_t> out = {'x'};
  ByteWriter w(out);
  w.i16(-3);
  w.i32(123456789);
  w.u32(0xA0B0C0D0);
  w.text("ab");
  w.u8(7);
  EXPECT_EQ(w.size(), 1u + 2 + 4 + 4 + 2 + 1);
  ByteReader r(out);
  uint8_t u;
  int16_t s;
  int32_t i;
  uint32_t v;
  std::string t;
  ASSERT_TRUE(r.u8(&u) && r.i16(&s) && r.i32(&i) && r.u32(&v) && r.text(2, &t) && r.u8(&u));
  EXPECT_EQ(s, -3);
  EXPECT_EQ(i, 123456789);
  EXPECT_EQ(v, 0xA0B0C0D0u);
  EXPECT_EQ(t, "ab");
  EXPECT_EQ(u, 7);
}

}  // namespace
}  // namespace platform
