#include "designer/compiler/test_util.h"

namespace compiler {
namespace {

using testing::Accepted;
using testing::Refused;

TEST(StringDateCommands, AcceptedLinesGiveTheseRecords) {
  const Accepted rows[] = {
      {"i2s i1, s2", 12, "6:0102"},
      {"f2s f1, s2", 13, "6:0102"},
      {"t2s t3, s4", 14, "6:0304"},
      {"s2i s1, i2", 15, "6:0102"},
      {"s2f s1, f2", 16, "6:0102"},
      {"s2t s31, t0", 17, "6:1f00"},
      {"strlen i1, s2", 18, "6:0102"},
      {"strtrimleft s1", 19, "6:01"},
      {"strtrimright s2", 20, "6:02"},
      {"strtrim s3", 21, "6:03"},
      {"strupper s4", 26, "6:04"},
      {"strlower s5", 27, "6:05"},
      {"strreplace s1, \"A\", s3", 22, "6:0401 12:0700 14:ref(0,1) 18:03", "a"},
      {"strreplace \"x\", \"yz\", s3", 22, "6:0700 8:ref(0,1) 12:0700 14:ref(1,2) 18:03", "xyz"},
      {"strmid 1, i2, s3, s4", 23, "6:0500 8:i32(1) 12:0102 18:0304"},
      {"strdel i1, 2, s3", 24, "6:0101 12:0500 14:i32(2) 18:03"},
      {"strcat s1, s2", 25, "6:01 7:0402"},
      {"strcat s1, \"\xd6\xd0\xce\xc4\"", 25, "6:01 7:0700 9:ref(0,4)", "\xd6\xd0\xce\xc4"},
      {"strparse 1, \",\", s3, s4", 28, "6:0500 8:i32(1) 12:0700 14:ref(0,1) 18:0304", ","},
      {"strparse i1, s2, s3, s4", 28, "6:0101 12:0402 18:0304"},
      {"now t1", 29, "6:01"},
      {"dateaddday t1, 5", 30, "6:01 7:0500 9:i32(5)"},
      {"dateaddhour t1, i2", 31, "6:01 7:0102"},
      {"dateaddmin t2, -1", 32, "6:02 7:0500 9:i32(-1)"},
      {"dateparthour t1, i2", 63, "6:0102"},
      {"datepartmin t1, i2", 33, "6:0102"},
      {"datepartsec t1, i2", 34, "6:0102"},
      {"datepartday t1, i2", 35, "6:0102"},
      {"datepartmonth t1, i2", 36, "6:0102"},
      {"datepartweek t1, i2", 37, "6:0102"},
      {"datepartyear t1, i2", 38, "6:0102"},
      {"datediffday t1, t2, i3", 39, "6:010203"},
      {"datediffhour t1, t2, i3", 40, "6:010203"},
      {"datediffmin t1, t2, i3", 41, "6:010203"},
      {"datediffsec t1, t2, i3", 42, "6:010203"},
      {"getformattime 3, s1", 103, "6:0500 8:i32(3) 12:0401"},
      {"getformattime i2, s1", 103, "6:0102 12:0401"},
  };
  for (const Accepted& row : rows)
    testing::expectAccepted(row);
}

TEST(StringDateCommands, RefusedLinesShowTheseBoxes) {
  const Refused rows[] = {
      {"i2s «s1», s2", "缺少整形变量"},
      {"i2s i1«»", "缺少逗号"},
      {"i2s i1, «i2»", "缺少字符串变量"},
      {"i2s i1, s2 «s3»", "多余标识"},
      {"f2s «i1», s2", "缺少浮点变量"},
      {"f2s f1, «f2»", "缺少字符串变量"},
      {"t2s «s1», s2", "缺少时间变量"},
      {"t2s t1, «t2»", "缺少字符串变量"},
      {"s2i «i1», i2", "缺少字符串变量"},
      {"s2i s1, «s2»", "缺少整数变量"},
      {"s2f «f1», f2", "缺少字符串变量"},
      {"s2f s1, «i2»", "缺少浮点变量"},
      {"s2t «t1», t2", "缺少字符串变量"},
      {"s2t s1, «s2»", "缺少时间变量"},
      {"strlen «s1», s2", "缺少整形变量"},
      {"strlen i1, «\"a\"»", "缺少字符串变量"},
      {"strtrimleft «\"a\"»", "缺少字符串变量"},
      {"strtrimright «i1»", "缺少字符串变量"},
      {"strtrim «»", "缺少字符串变量"},
      {"strtrim s1 «s2»", "多余标识"},
      {"strupper «t1»", "缺少字符串变量"},
      {"strlower «s32»", "缺少字符串变量"},
      {"strreplace «i1», s2, s3", "缺少字符变量或字符常量"},
      {"strreplace s1 «s2»", "缺少逗号"},
      {"strreplace s1, «5», s3", "缺少字符变量或字符常量"},
      {"strreplace s1, s2, «\"c\"»", "缺少字符变量"},
      {"strreplace s1, s2, s3 «s4»", "对于标识"},
      {"strmid «s1», 1, s3, s4", "缺少整形变量或整形常数"},
      {"strmid 1, «1.5», s3, s4", "缺少整形变量或整形常数"},
      {"strmid 1, 2, «i3», s4", "缺少字符串变量"},
      {"strmid 1, 2, s3«»", "缺少逗号"},
      {"strmid 1, 2, s3, «\"x\"»", "缺少字符串变量"},
      {"strmid 1, 2, s3, s4«,»", "多余标识"},
      {"strdel «s1», 1, s2", "缺少整形变量或整形常量"},
      {"strdel 1, «f1», s2", "缺少整形变量或整形常量"},
      {"strdel 1, 2, «i3»", "缺少字符变量"},
      {"strcat «\"a\"», s2", "缺少字符串变量"},
      {"strcat s1, «5»", "缺少字符串变量或字符串常量"},
      {"strcat s1, s2 «s3»", "多余标识"},
      {"strparse «s1», \",\", s3, s4", "缺少整形变量或整形常量"},
      {"strparse 1, «i2», s3, s4", "缺少字符串变量或字符串常量"},
      {"strparse 1, \",\", «\",\"», s4", "缺少字符变量"},
      {"strparse 1, \",\", s3, «i4»", "缺少字符变量"},
      {"now «i1»", "缺少一个时间变量"},
      {"now t1 «t2»", "多余标识"},
      {"dateaddday «i1», 5", "缺少时间变量"},
      {"dateaddhour t1, «5.5»", "缺少整形变量或常量"},
      {"dateaddmin t1«»", "缺少逗号"},
      {"dateparthour «i1», i2", "缺少时间变量"},
      {"datepartmin t1, «5»", "缺少整形变量"},
      {"datepartsec t1, «f2»", "缺少整形变量"},
      {"datepartday t1, «»", "缺少整形变量"},
      {"datepartmonth t1 «i2»", "缺少逗号"},
      {"datepartweek «t», i2", "缺少时间变量"},
      {"datepartyear t1, i2«,»", "多余标识"},
      {"datediffday «i1», t2, i3", "缺少时间变量"},
      {"datediffhour t1, «i2», i3", "缺少时间变量"},
      {"datediffmin t1, t2, «t3»", "缺少整形变量"},
      {"datediffsec t1, t2, i3 «i4»", "多余标识"},
      {"getformattime «s1», s2", "缺少整形变量或常量"},
      {"getformattime 1, «\"x\"»", "缺少s变量"},
  };
  for (const Refused& row : rows)
    testing::expectRefused(row);
}

}  // namespace
}  // namespace compiler
