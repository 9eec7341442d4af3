#include "designer/compiler/test_util.h"

namespace compiler {
namespace {

using testing::Accepted;
using testing::Refused;

TEST(ControlCommands, AcceptedLinesGiveTheseRecords) {
  const Accepted rows[] = {
      {"callfunc s1, i2, i3", 0, "6:0401 12:0102 18:03"},
      {"callfunc \"f\", -7, i31", 0, "6:0700 8:ref(0,1) 12:0500 14:i32(-7) 18:1f", "f"},
      {"pushall", 1, ""},
      {"popall", 2, ""},
      {"push f3", 3, "6:0203"},
      {"push s0", 3, "6:0400"},
      {"pop t31", 62, "6:031f"},
      {"print i1", 73, "6:0101"},
      {"sleep 10", 84, "6:0500 8:i32(10)"},
      {"sleep i4", 84, "6:0104"},
      {"goto end\nend:", 66, "6:ref(0,3) 10:i32(1)", "end"},
      {"loop: goto loop", 66, "6:ref(0,4) 10:i32(0)", "loop"},
      {"gotoout Next", 74, "6:i32(9999999) 10:ref(0,4)", "next"},
      {"gotodef", 81, ""},
      {"stop", 72, ""},
      {"condgoto i1, 3, next\nnext:", 11, "6:01 7:ff 8:i32(3) 12:ref(0,4) 16:i32(1)", "next"},
      {"condgoto i1, i2, l\nl:", 11, "6:0102 12:ref(0,1) 16:i32(1)", "l"},
      {"if i1 >= 5 goto loop\nloop:", 65, "6:0101 8:03 9:0500 11:i32(5) 41:ref(0,4) 45:i32(1)",
       "loop"},
      {"if f1 < -2.5 goto x\nx:", 65, "6:0201 8:00 9:0600 15:dbl(-2.5) 41:ref(0,1) 45:i32(1)", "x"},
      {"if i1 <= f2 goto x\nx:", 65, "6:0101 8:02 9:0202 41:ref(0,1) 45:i32(1)", "x"},
      {"if f1>i2 goto x\nx:", 65, "6:0201 8:01 9:0102 41:ref(0,1) 45:i32(1)", "x"},
      {"if t1 = $20240101120000 goto x\nx:", 65,
       "6:0301 8:04 9:0800 23:'20240101120000' 41:ref(0,1) 45:i32(1)", "x"},
      {"if t1 = t2 goto x\nx:", 65, "6:0301 8:04 9:0302 41:ref(0,1) 45:i32(1)", "x"},
      {"if s1=\"Ab\" goto x\nx:", 65, "6:0401 8:04 9:0700 37:ref(0,2) 41:ref(2,1) 45:i32(1)",
       "abx"},
      {"if s1 = s2 goto x\nx:", 65, "6:0401 8:04 9:0402 41:ref(0,1) 45:i32(1)", "x"},
  };
  for (const Accepted& row : rows)
    testing::expectAccepted(row);
}

TEST(ControlCommands, RefusedLinesShowTheseBoxes) {
  const Refused rows[] = {
      {"callfunc «i1», 2, i3", "缺少一个字符串变量或字符串"},
      {"callfunc s1«»", "缺少逗号"},
      {"callfunc s1, «2.5», i3", "缺少一个整数变量和整数常量"},
      {"callfunc s1, 2 «i3»", "语法错误:缺少逗号"},
      {"callfunc s1, 2, «5»", "语法错误:缺少一个整形变量"},
      {"callfunc s1, 2, i3«,»", "多余的标识符号"},
      {"pushall «i1»", "PushAll命令没有参数"},
      {"popall «,»", "PopAll命令没有参数"},
      {"push «5»", "缺少一个I|F|T|S变量"},
      {"push «i32»", "缺少一个I|F|T|S变量"},
      {"push i1 «i2»", "Push I|F|T|S命令后面存在多余内容"},
      {"pop «»", "缺少一个I|F|T|S变量"},
      {"pop i1«,»", "Pop I|F|T|S命令后面存在多余内容"},
      {"goto «\"x\"»", "缺少ID"},
      {"goto x «y»", "多余标识"},
      {"gotoout «,»", "缺少ID"},
      {"gotoout a «//»", "多余标识"},
      {"gotodef «x»", "语法错误:多余标识"},
      {"condgoto «f1», 3, next", "缺少一个整形变量"},
      {"condgoto i1«»", "缺少一个逗号"},
      {"condgoto i1, «3.0», next", "缺少一个整数常量或整数变量"},
      {"condgoto i1, 3«»", "缺少一个逗号"},
      {"condgoto i1, 3, «\"n\"»", "缺少一个ID"},
      {"condgoto i1, 3, n «n»", "CondGoTo I,I|整数常量,ID命令后存在多余内容"},
      {"if «5» > 5 goto ok", "缺少I,F,T,S变量"},
      {"if i1 «goto» ok", "缺少>,<,>=,<=,=符号"},
      {"if i1 = «\"a\"» goto ok", "字符比较类型错误"},
      {"if t1 > «5» goto ok", "数字比较类型错误"},
      {"if s1 > «i2» goto ok", "数字比较类型错误"},
      {"if t1 > «f2» goto ok", "数字比较类型错误"},
      {"if i1 > «t2» goto ok", "时间比较类型错误"},
      {"if i1 > «s2» goto ok", "字符比较类型错误"},
      {"if s1 > «2.5» goto ok", "数字比较类型错误"},
      {"if f1 > «$20240101000000» goto ok", "时间比较类型错误"},
      {"if i1 > «abc» goto ok", "缺少I,F,T,S变量或常量"},
      {"if i1 > «$20241301000000» goto ok", "缺少I,F,T,S变量或常量"},
      {"if i1 > 5 «ok»", "缺少GOTO符号"},
      {"if i1 > 5 goto «»", "缺少一个ID"},
      {"if i1 > 5 goto «,»", "缺少一个ID"},
      {"if i1 > 5 goto ok «ok»", "多余符号"},
      {"stop «//»", "Stop命令没有参数"},
      {"print «5»", "缺少I|F|T|S变量"},
      {"print i1«,»", "多余标识"},
      {"sleep «f1»", "语法错误:缺少整形变量或常量"},
      {"sleep 1 «2»", "语法错误:多余标识"},
  };
  for (const Refused& row : rows)
    testing::expectRefused(row);
}

}  // namespace
}  // namespace compiler
