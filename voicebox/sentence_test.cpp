// The index strings of spoken numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "voicebox/zt_api.h"

namespace {

std::vector<int> sentence(double x) {
  char out[64];
  std::memset(out, 0x7F, sizeof out);
  int n = ZT_MakeSentence(x, out);
  std::vector<int> v(out, out + std::max(n, 0));
  EXPECT_EQ(out[std::max(n, 0)], 0) << x;
  return v;
}

TEST(MakeSentence, Numbers) {
  using V = std::vector<int>;
  const struct {
    double x;
    V want;
  } rows[] = {
      // The documented cases.
      {0, {2}},
      {-12.5, {18, 12, 4, 17, 7}},
      {1234, {3, 14, 4, 13, 5, 12, 6}},
      {1012, {3, 14, 2, 3, 12, 4}},
      {100012, {12, 15, 2, 12, 4}},
      {0.5, {2, 17, 7}},
      // Units group.
      {7, {9}},
      {10, {12}},
      {11, {12, 3}},
      {20, {4, 12}},
      {100, {3, 13}},
      {101, {3, 13, 2, 3}},
      {110, {3, 13, 3, 12}},
      {1000, {3, 14}},
      {1001, {3, 14, 2, 3}},
      {1010, {3, 14, 2, 3, 12}},
      {1100, {3, 14, 3, 13}},
      {9999, {11, 14, 11, 13, 11, 12, 11}},
      // Ten thousands.
      {10000, {3, 15}},
      {10001, {3, 15, 2, 3}},
      {10010, {3, 15, 2, 3, 12}},
      {11000, {3, 15, 3, 14}},
      {100000, {12, 15}},
      {120000, {12, 4, 15}},
      {1000100, {3, 13, 15, 2, 3, 13}},
      {1200000, {3, 13, 4, 12, 15}},
      // Hundred millions.
      {200000000, {4, 16}},
      {1000000000, {12, 16}},
      {100010000, {3, 16, 2, 3, 15}},
      {1000000001, {12, 16, 2, 3}},
      {102340000, {3, 16, 2, 4, 13, 5, 12, 6, 15}},
      {123456789012,
       {3, 14, 4, 13, 5, 12, 6, 16, 7, 14, 8, 13, 9, 12, 10, 15, 11, 14, 2, 3, 12, 4}},
      {999999999999, {11, 14, 11, 13, 11, 12, 11, 16, 11, 14, 11, 13,
                      11, 12, 11, 15, 11, 14, 11, 13, 11, 12, 11}},
      // A zero between the groups is said once.
      {100000012, {3, 16, 2, 3, 12, 4}},
      {100001234, {3, 16, 2, 3, 14, 4, 13, 5, 12, 6}},
      // Fractions stop at the last non-zero digit.
      {3.25, {5, 17, 4, 7}},
      {0.05, {2, 17, 2, 7}},
      {0.000001, {2, 17, 2, 2, 2, 2, 2, 3}},
      {-0.25, {18, 2, 17, 4, 7}},
      {-3, {18, 5}},
      // Too small and too large.
      {0.0000004, {2}},
      {-0.0000004, {2}},
      {1e12, {}},
      {-1e12, {}},
      {NAN, {}},
  };
  for (auto& r : rows)
    EXPECT_EQ(sentence(r.x), r.want) << r.x;
  EXPECT_EQ(ZT_MakeSentence(1, nullptr), -1);
}

}  // namespace
