#include "hardware/combine.h"

#include <gtest/gtest.h>

#include "hardware/hardware.h"

namespace hardware {
namespace {

TEST(Combine, Integers) {
  struct Case {
    const char* n;
    const char* want;
  } cases[] = {
      {"0", "0"},
      {"7", "7"},
      {"10", "e"},
      {"15", "e5"},
      {"20", "2e"},
      {"110", "1d1e"},
      {"101", "1d01"},
      {"1205", "1c2d05"},
      {"1000", "1c"},
      {"10005", "1b05"},
      {"12345", "1b2c3d4e5"},
      {"100000", "eb"},
      {"150000", "e5b"},
      {"20000005", "2cb05"},
      {"10001000", "1cb1c"},     // a group's closing zeros are silent
      {"102258", "eb2c2d5e8"},   // 十万二千二百五十八
      {"1001054", "1db1c05e4"},  // 一百万一千零五十四
      {"100001000", "1a01c"},    // a whole group of zeros: 一亿零一千
      {"1000010000", "ea01b"},   // 十亿零一万
      {"100100001000", "1c01a01c"},
      {"100000000", "1a"},
      {"100010000", "1a01b"},
      {"3000000001", "3ea01"},
      {"007", "7"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(speakInteger(c.n), c.want) << c.n;
}

TEST(Combine, PlayTypes) {
  struct Case {
    int type;
    const char* content;
    const char* want;  // nullptr: cannot be composed
  } cases[] = {
      {1, "1205.5", "1c2d05f5"},
      {1, " 12.500000 ", "e2f5"},
      {1, "0.05", "0f05"},
      {1, ".5", "0f5"},
      {1, "12.", "e2"},
      {2, "12.5", "e2f5B"},
      {2, "100", "1dB"},
      {3, "8001", "8001"},
      {4, "20240315", "2024h3ie5j"},
      {4, "2024-12-01", "2024he2i1j"},
      {5, "14:05:09", "e4k05l09m"},
      {5, "143000", "e4k3el"},
      {5, "09:00", "9k"},
      {5, "00:00:30", "0k00l3em"},
      {6, "20240315140509", "2024h3ie5je4k05l09m"},
      {6, "2024-03-15 14:05:09", "2024h3ie5je4k05l09m"},
      {7, "123.45", "1d2e3f4A5B"},
      {7, "100.05", "1df05B"},
      {7, "0.5", "5A"},
      {7, "0", "0f"},
      {7, "10.50", "ef5A"},
      {7, "0.995", "1f"},
      {7, "2.004", "2f"},
      {1, "", nullptr},
      {1, "-5", nullptr},
      {1, "1.2.3", nullptr},
      {1, "12a", nullptr},
      {1, "1234567890123", nullptr},  // 13 integer digits
      {3, "12 34", nullptr},
      {4, "2024-13-01", nullptr},
      {5, "25:00", nullptr},
      {5, "12:60", nullptr},
      {6, "2024031514", nullptr},
      {8, "1", nullptr},
      {0, "1", nullptr},
  };
  for (const auto& c : cases) {
    auto got = composeValue(c.type, c.content);
    if (c.want) {
      ASSERT_TRUE(got) << c.type << " " << c.content;
      EXPECT_EQ(*got, c.want) << c.type << " " << c.content;
    } else {
      EXPECT_FALSE(got) << c.type << " " << c.content << " gave " << got.value_or("");
    }
  }
}

TEST(Combine, CExport) {
  char text[512];
  EXPECT_EQ(GetCombineStr(7, "1.5", text), 0);
  EXPECT_STREQ(text, "1f5A");
  EXPECT_EQ(GetCombineStr(9, "1", text), 1);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(GetCombineStr(1, nullptr, text), 1);
}

}  // namespace
}  // namespace hardware
