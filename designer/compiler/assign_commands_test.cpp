#include "designer/compiler/test_util.h"

namespace compiler {
namespace {

using testing::Accepted;
using testing::Refused;

TEST(AssignCommands, AcceptedLinesGiveTheseRecords) {
  const Accepted rows[] = {
      {"set i1,5", 4, "6:0101 8:0500 14:dbl(5)"},
      {"SET I1,5", 4, "6:0101 8:0500 14:dbl(5)"},
      {"set i1 , 5", 4, "6:0101 8:0500 14:dbl(5)"},
      {"set f2, -3", 4, "6:0202 8:0500 14:dbl(-3)"},
      {"set i1, 1234567890", 4, "6:0101 8:0500 14:dbl(123456789)"},
      {"set i1, 2.5", 4, "6:0101 8:0600 14:dbl(2.5)"},
      {"set f1, -.5", 4, "6:0201 8:0600 14:dbl(-0.5)"},
      {"set s1, $caller", 4, "6:0401 8:0901"},
      {"set s1, $called", 4, "6:0401 8:0902"},
      {"set s1, $callid", 4, "6:0401 8:0903"},
      {"set i1, $meet1", 4, "6:0101 8:0903"},
      {"set i2, $meet32", 4, "6:0102 8:0922"},
      {"set i2, $meet123", 4, "6:0102 8:090e"},
      {"set i1, $chan", 4, "6:0101 8:0923"},
      {"set f1, $usedmoney", 4, "6:0201 8:0924"},
      {"set s1, \"Hello\"", 4, "6:0401 8:0700 10:ref(0,5)", "hello"},
      {"set s1, \"a\"\"b\"", 4, "6:0401 8:0700 10:ref(0,3)", "a\"b"},
      {"set s1, \"\"", 4, "6:0401 8:0700 10:ref(0,0)"},
      {"set s1, s2", 4, "6:0401 8:0402"},
      {"set i1, i2", 4, "6:0101 8:0102"},
      {"set f1, i2", 4, "6:0201 8:0102"},
      {"set i1, f2", 4, "6:0101 8:0202"},
      {"set i1, i123", 4, "6:0101 8:010c"},
      {"set t1, t2", 4, "6:0301 8:0302"},
      {"set t1, $20240230000000", 4, "6:0301 8:0800 22:'20240230000000'"},
      {"set t0, $30001231246060", 4, "6:0300 8:0800 22:'30001231246060'"},
      {"set $meet3, i2", 4, "6:0905 8:0102"},
      {"set $meet3, 5", 4, "6:0905 8:0500 14:dbl(5)"},
      {"add i1, 2", 5, "6:0101 8:0500 10:dbl(2)"},
      {"sub f1, i2", 6, "6:0201 8:0102"},
      {"mul i1, 2.5", 7, "6:0101 8:0600 10:dbl(2.5)"},
      {"div i1, i2", 8, "6:0101 8:0102"},
      {"div f1, 0.5", 8, "6:0201 8:0600 10:dbl(0.5)"},
      {"cmpd i1, 3, i2", 9, "6:0101 8:0500 10:dbl(3) 18:02"},
      {"cmpd f1, f2, i3", 9, "6:0201 8:0202 18:03"},
      {"cmpt t1, $20240101120000, i2", 10, "6:01 7:0800 9:'20240101120000' 23:02"},
      {"cmpt t1, t2, i3", 10, "6:01 7:0302 23:03"},
  };
  for (const Accepted& row : rows)
    testing::expectAccepted(row);
}

TEST(AssignCommands, RefusedLinesShowTheseBoxes) {
  const Refused rows[] = {
      // set: the destination
      {"set «5», 1", "缺少一个I|F|T|S变量"},
      {"set «i32», 1", "缺少一个I|F|T|S变量"},
      {"set «$caller», s1", "缺少一个I|F|T|S变量"},
      {"set «$meet33», 5", "语法错误:$meet参数越界"},
      {"set «$meet0», 5", "语法错误:$meet参数越界"},
      {"set «$meeting», 5", "语法错误:$meet参数越界"},
      {"set «$meet», 5", "语法错误:$meet参数越界"},
      {"set i1«»", "缺少逗号"},
      {"set i1 «5»", "缺少逗号"},
      // set: the source against the destination
      {"set i1, «$caller»", "赋值类型不匹配"},
      {"set t1, «$called»", "赋值类型不匹配"},
      {"set f1, «$callid»", "赋值类型不匹配"},
      {"set s1, «$meet3»", "赋值类型不匹配"},
      {"set s1, «$meet40»", "语法错误:$meet参数越界"},
      {"set $meet1, «$meet2»", "赋值类型不匹配"},
      {"set f1, «$chan»", "赋值类型不匹配"},
      {"set i1, «$usedmoney»", "语法错误:$usedmoney只能赋值浮点变量"},
      {"set i1, «\"x\"»", "赋值类型不匹配"},
      {"set $meet3, «f2»", "赋值类型不匹配"},
      {"set $meet3, «2.5»", "赋值类型不匹配"},
      {"set t1, «i2»", "赋值类型不匹配"},
      {"set s1, «f2»", "赋值类型不匹配"},
      {"set i1, «t2»", "赋值类型不匹配"},
      {"set i1, «s2»", "赋值类型不匹配"},
      {"set t1, «5»", "赋值类型不匹配"},
      {"set t1, «2.5»", "赋值类型不匹配"},
      {"set i1, «$20240101000000»", "赋值类型不匹配"},
      // set: no source form at all
      {"set i1, «abc»", "错误的赋值右变量"},
      {"set s1, «$callerx»", "错误的赋值右变量"},
      {"set f1, «.5»", "错误的赋值右变量"},
      {"set f1, «5.»", "错误的赋值右变量"},
      {"set i1, «i32»", "错误的赋值右变量"},
      {"set t1, «$18991231000000»", "错误的赋值右变量"},
      {"set t1, «$20241232000000»", "错误的赋值右变量"},
      {"set t1, «$2024010100000»", "错误的赋值右变量"},
      {"set i1, «»", "错误的赋值右变量"},
      {"set i1, «,»", "错误的赋值右变量"},
      {"set i1, 5 «6»", "多余标识"},
      // arithmetic
      {"add «t1», 2", "缺少一个I|F变量"},
      {"add i1«»", "缺少逗号"},
      {"add i1, «t2»", "缺少一个I|F|数字常量"},
      {"add i1, «\"2\"»", "缺少一个I|F|数字常量"},
      {"add i1, 2«,»", "多余标识"},
      {"sub «s1», 2", "缺少一个I|F变量"},
      {"mul i1, «$20240101000000»", "缺少一个I|F|数字常量"},
      {"div «t1», 0", "缺少一个I|F变量"},
      {"div i1, «0»", "被除数不能够等于0"},
      {"div i1, «-0»", "被除数不能够等于0"},
      {"div i1, «0000000001»", "被除数不能够等于0"},  // read as its first nine characters
      {"div f1, «0.0»", "被除数不能够等于0"},
      {"div f1, «-.0»", "被除数不能够等于0"},
      {"div f1, 2 «i3»", "多余标识"},
      {"cmpd «s1», 1, i2", "缺少一个I|F变量"},
      {"cmpd i1, «s2», i3", "缺少一个I|F|数字常量"},
      {"cmpd i1, 1«»", "缺少逗号"},
      {"cmpd i1, 1, «f2»", "缺少一个整数变量"},
      {"cmpd i1, 1, i2 «i3»", "多余标识"},
      {"cmpt «i1», t2, i3", "缺少一个T变量"},
      {"cmpt t1, «5», i3", "缺少一个T|T常量"},
      {"cmpt t1, t2 «i3»", "缺少逗号"},
      {"cmpt t1, t2, «t3»", "缺少I变量"},
      {"cmpt t1, t2, i3«,»", "多余标识"},
  };
  for (const Refused& row : rows)
    testing::expectRefused(row);
}

}  // namespace
}  // namespace compiler
