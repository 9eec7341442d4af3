// String and date commands: results and exact lines.
#include <functional>

#include "runtime/interpreter/script_run.h"
#include "runtime/interpreter/script_test_util.h"

namespace interp {
namespace {

using namespace testing;

class StringDateTest : public ScriptFixture {};

struct Case {
  const char* name;
  std::function<Instruction(ScriptFixture&)> rec;
  std::function<void(Registers&)> setup;
  const char* line;  // nullptr: no line
  std::function<void(const Registers&)> check;
};

void runCases(ScriptFixture& f, FakeScriptHost& host, std::span<const Case> cases,
              const std::function<std::vector<std::string>(const Instruction&)>& run) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host = FakeScriptHost();
    Instruction rec = c.rec(f);
    if (c.setup) c.setup(host.chans[0].regs);
    Lines lines = run(rec);
    EXPECT_EQ(lines, c.line ? Lines{c.line} : Lines{});
    c.check(host.chans[0].regs);
  }
}

auto rec(int16_t op, std::initializer_list<Operand> ops) {
  std::vector<Operand> v(ops);
  return [op, v](ScriptFixture&) {
    switch (v.size()) {
      case 1:
        return make(op, {v[0]});
      case 2:
        return make(op, {v[0], v[1]});
      case 3:
        return make(op, {v[0], v[1], v[2]});
      default:
        return make(op, {v[0], v[1], v[2], v[3]});
    }
  };
}

TEST_F(StringDateTest, Strings) {
  auto s1 = [](const char* text) { return [=](Registers& r) { r.S[1] = text; }; };
  auto wantS = [](int n, std::string want) {
    return [=](const Registers& r) { EXPECT_EQ(r.S[n], want); };
  };
  const Case cases[] =
      {
          {"strlen counts bytes", rec(cpl::kStrlen, {I(1), S(1)}), s1("ab\xd6\xd0"),
           "通道0=>(0:0) StrLen I1,S1", [](const Registers& r) { EXPECT_EQ(r.I[1], 4); }},
          {"strtrimleft", rec(cpl::kStrtrimleft, {S(1)}), s1(" \t\v\fx y \r\n"),
           "通道0=>(0:0)StrTrimLeft S1", wantS(1, "x y \r\n")},
          {"strtrimright", rec(cpl::kStrtrimright, {S(1)}), s1(" \tx y \r\n"),
           "通道0=>(0:0)StrTrimRight S1", wantS(1, " \tx y")},
          {"strtrim", rec(cpl::kStrtrim, {S(1)}), s1("\n x y \n"), "通道0=>(0:0)StrTrim S1",
           wantS(1, "x y")},
          {"strreplace",
           [](ScriptFixture& f) {
             return make(cpl::kStrreplace, {f.str("x"), f.str("ab"), S(1)});
           },
           s1("abcab"), "通道0=>(0:0)=>StrReplace 替换字符:x;被替换字符:ab,原字符:xcx;",
           wantS(1, "xcx")},
          {"strreplace does not overlap",
           [](ScriptFixture& f) {
             return make(cpl::kStrreplace, {f.str("b"), f.str("aa"), S(1)});
           },
           s1("aaa"), "通道0=>(0:0)=>StrReplace 替换字符:b;被替换字符:aa,原字符:ba;",
           wantS(1, "ba")},
          {"strreplace from registers", rec(cpl::kStrreplace, {S(2), S(3), S(1)}),
           [](Registers& r) {
             r.S[1] = "1-2-3";
             r.S[2] = "\xd6\xd0";
             r.S[3] = "-";
           },
           "通道0=>(0:0)=>StrReplace 替换字符:中;被替换字符:-,原字符:1中2中3;",
           wantS(1,
                 "1\xd6\xd0"
                 "2\xd6\xd0"
                 "3")},
          {"strreplace of an empty text",
           [](ScriptFixture& f) {
             return make(cpl::kStrreplace, {f.str("x"), f.str(""), S(1)});
           },
           s1("abc"), "通道0=>(0:0)=>StrReplace 替换字符:x;被替换字符:,原字符:abc;",
           wantS(1, "abc")},
          {"strmid", rec(cpl::kStrmid, {Int(2), Int(3), S(2), S(1)}), s1("abcdef"),
           "通道0=>(0:0)StrMid S2=Mid(S1,StartPos:2,Len:3)", wantS(2, "cde")},
          {"strmid past the end", rec(cpl::kStrmid, {Int(10), Int(3), S(2), S(1)}), s1("abcdef"),
           "通道0=>(0:0)StrMid S2=Mid(S1,StartPos:10,Len:3)", wantS(2, "")},
          {"strmid long count", rec(cpl::kStrmid, {Int(2), Int(100), S(2), S(1)}), s1("abcdef"),
           "通道0=>(0:0)StrMid S2=Mid(S1,StartPos:2,Len:100)", wantS(2, "cdef")},
          {"strmid negative start", rec(cpl::kStrmid, {Int(-4), Int(2), S(2), S(1)}), s1("abcdef"),
           "通道0=>(0:0)StrMid S2=Mid(S1,StartPos:-4,Len:2)", wantS(2, "ab")},
          {"strmid huge count", rec(cpl::kStrmid, {Int(1), Int(INT32_MAX), S(2), S(1)}), s1("abc"),
           "通道0=>(0:0)StrMid S2=Mid(S1,StartPos:1,Len:2147483647)", wantS(2, "bc")},
          {"strmid from registers into itself", rec(cpl::kStrmid, {I(4), I(5), S(1), S(1)}),
           [](Registers& r) {
             r.S[1] = "abcdef";
             r.I[4] = 1;
             r.I[5] = 2;
           },
           "通道0=>(0:0)StrMid S1=Mid(S1,StartPos:1,Len:2)", wantS(1, "bc")},
          {"strdel", rec(cpl::kStrdel, {Int(1), Int(100), S(1)}), s1("abc"),
           "通道0=>(0:0)StrDel S1,StartPos:1,Len:100", wantS(1, "a")},
          {"strdel count 0", rec(cpl::kStrdel, {Int(0), Int(0), S(1)}), s1("abc"),
           "通道0=>(0:0)StrDel S1,StartPos:0,Len:0", wantS(1, "abc")},
          {"strdel start past the end", rec(cpl::kStrdel, {Int(3), Int(1), S(1)}), s1("abc"),
           "通道0=>(0:0)StrDel S1,StartPos:3,Len:1", wantS(1, "abc")},
          {"strdel negative start", rec(cpl::kStrdel, {Int(-1), Int(1), S(1)}), s1("abc"),
           "通道0=>(0:0)StrDel S1,StartPos:-1,Len:1", wantS(1, "bc")},
          {"strcat register", rec(cpl::kStrcat, {S(1), S(1)}), s1("ab"), "通道0=>(0:0)StrCat S1,S1",
           wantS(1, "abab")},
          {"strcat constant",
           [](ScriptFixture& f) {
             return make(cpl::kStrcat, {S(1), f.str("\xd6\xd0")});
           },
           s1("ab"), "通道0=>(0:0)StrCat S1,中", wantS(1, "ab\xd6\xd0")},
          {"strcat past the register limit", rec(cpl::kStrcat, {S(1), S(2)}),
           [](Registers& r) {
             r.S[1] = std::string(kMaxStringRegister, 'a');
             r.S[2] = "b";
           },
           "通道0=>(0:0)strcat命令的结果长65537字节,超过65536字节,命令不执行",
           [](const Registers& r) { EXPECT_EQ(r.S[1].size(), kMaxStringRegister); }},
          // 0x81 0x61 and 0x81 0x41 are double-byte characters whose trail
          // bytes look like letters.
          {"strupper", rec(cpl::kStrupper, {S(1)}), s1("a\x81\x61z\xd6\xd0"),
           "通道0=>(0:0)StrUpper S1", wantS(1, "A\x81\x61Z\xd6\xd0")},
          {"strlower", rec(cpl::kStrlower, {S(1)}), s1("A\x81\x41Z"), "通道0=>(0:0)StrLower S1",
           wantS(1, "a\x81\x41z")},
          {"strparse",
           [](ScriptFixture& f) { return make(cpl::kStrparse, {Int(1), f.str(","), S(2), S(1)}); },
           s1("a,b,c"), "通道0=>(0:0)StrParse 字段编号:1,分割符:,,字符串:a,b,c,字段=b",
           wantS(2, "b")},
          {"strparse past the fields",
           [](ScriptFixture& f) { return make(cpl::kStrparse, {Int(3), f.str(","), S(2), S(1)}); },
           s1("a,b,c"),
           "通道0=>(0:0)StrParse 字段编号:3,分割符:,,字符串:a,b,c,字段=", wantS(2, "")},
          {"strparse without a separator",
           [](ScriptFixture& f) { return make(cpl::kStrparse, {Int(0), f.str(","), S(2), S(1)}); },
           s1("abc"), "通道0=>(0:0)StrParse 字段编号:0,分割符:,,字符串:abc,字段=abc",
           wantS(2, "abc")},
          {"strparse two-byte separator",
           [](ScriptFixture& f) { return make(cpl::kStrparse, {Int(1), f.str("::"), S(2), S(1)}); },
           s1("a::b"), "通道0=>(0:0)StrParse 字段编号:1,分割符:::,字符串:a::b,字段=:b",
           wantS(2, ":b")},
          {"strparse double-byte separator", rec(cpl::kStrparse, {Int(1), S(3), S(2), S(1)}),
           [](Registers& r) {
             r.S[1] =
                 "a\xd6\xd0"
                 "1\xd6\xd0"
                 "c";
             r.S[3] = "\xd6\xd0";
           },
           "通道0=>(0:0)StrParse 字段编号:1,分割符:中,字符串:a中1中c,字段=\xef\xbf\xbd"
           "1",
           wantS(2,
                 "\xd0"
                 "1")},
          {"strparse negative field", rec(cpl::kStrparse, {I(4), S(3), S(2), S(1)}),
           [](Registers& r) {
             r.S[1] = "a,b";
             r.S[2] = "old";
             r.S[3] = ",";
             r.I[4] = -1;
           },
           "通道0=>(0:0)StrParse 字段编号:-1,分割符:,,字符串:a,b,字段=", wantS(2, "")},
          {"strparse keeps its source", rec(cpl::kStrparse, {Int(1), S(3), S(1), S(1)}),
           [](Registers& r) {
             r.S[1] = "x;y";
             r.S[3] = ";";
           },
           "通道0=>(0:0)StrParse 字段编号:1,分割符:;,字符串:x;y,字段=y", wantS(1, "y")},
      };
  runCases(*this, host, cases, [this](const Instruction& r) { return runOne(r); });
}

TEST_F(StringDateTest, Dates) {
  const int32_t sunday = local(2024, 5, 5, 7, 8, 9);
  auto t1 = [=](Registers& r) { r.T[1] = sunday; };
  auto wantI = [](int32_t v) { return [=](const Registers& r) { EXPECT_EQ(r.I[1], v); }; };
  const Case cases[] = {
      {"now", rec(cpl::kNow, {T(1)}), nullptr, "通道0=>(0:0)Now",
       [](const Registers& r) { EXPECT_EQ(r.T[1], 1700000000); }},
      {"dateaddday by a register", rec(cpl::kDateaddday, {T(1), I(2)}),
       [=](Registers& r) {
         r.T[1] = sunday;
         r.I[2] = 3;
       },
       "通道0=>(0:0)DateAddDay T1,3",
       [=](const Registers& r) { EXPECT_EQ(r.T[1], sunday + 3 * 86400); }},
      {"dateaddhour", rec(cpl::kDateaddhour, {T(1), Int(-2)}), t1, "通道0=>(0:0)DateAddHour T1,-2",
       [=](const Registers& r) { EXPECT_EQ(r.T[1], sunday - 7200); }},
      {"dateaddmin", rec(cpl::kDateaddmin, {T(1), Int(90)}), t1, "通道0=>(0:0)DateAddMin T1,90",
       [=](const Registers& r) { EXPECT_EQ(r.T[1], sunday + 5400); }},
      {"dateaddday wraps at 32 bits", rec(cpl::kDateaddday, {T(1), Int(INT32_MAX)}), t1,
       "通道0=>(0:0)DateAddDay T1,2147483647",
       [=](const Registers& r) {
         EXPECT_EQ(r.T[1], static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(sunday) +
                                                                      int64_t{INT32_MAX} * 86400)));
       }},
      {"dateparthour", rec(cpl::kDateparthour, {T(1), I(1)}), t1, "通道0=>(0:0)DatePartHour T1,I1",
       wantI(7)},
      {"datepartmin", rec(cpl::kDatepartmin, {T(1), I(1)}), t1, "通道0=>(0:0)DatePartMin T1,I1=8",
       wantI(8)},
      {"datepartday", rec(cpl::kDatepartday, {T(1), I(1)}), t1, "通道0=>(0:0)DatePartDay T1,I1=5",
       wantI(5)},
      {"datepartweek of a Sunday", rec(cpl::kDatepartweek, {T(1), I(1)}), t1,
       "通道0=>(0:0)DatePartWeek T1,I1=0", wantI(0)},
      {"datepartyear", rec(cpl::kDatepartyear, {T(1), I(1)}), t1,
       "通道0=>(0:0)DatePartYear T1,I1=2024", wantI(2024)},
      {"datediffday truncates towards zero", rec(cpl::kDatediffday, {T(6), T(7), I(1)}),
       [](Registers& r) {
         r.T[6] = local(2024, 1, 1);
         r.T[7] = local(2023, 12, 31, 12);
       },
       "通道0=>(0:0)DateDiffDay I1[0]=T7-T6", wantI(0)},
      {"datediffhour", rec(cpl::kDatediffhour, {T(6), T(7), I(1)}),
       [](Registers& r) {
         r.T[6] = local(2024, 1, 1);
         r.T[7] = local(2024, 1, 2, 12, 59);
       },
       "通道0=>(0:0)DateDiffHour I1[36]=T7-T6", wantI(36)},
      {"datediffmin negative", rec(cpl::kDatediffmin, {T(6), T(7), I(1)}),
       [](Registers& r) {
         r.T[6] = 1000;
         r.T[7] = 1000 - 119;
       },
       "通道0=>(0:0)DateDiffMin I1[-1]=T7-T6", wantI(-1)},
      {"datediffsec", rec(cpl::kDatediffsec, {T(6), T(7), I(1)}),
       [](Registers& r) {
         r.T[6] = 5;
         r.T[7] = 12;
       },
       "通道0=>(0:0)DateDiffSec I1[7]=T7-T6", wantI(7)},
      {"getformattime 1", rec(cpl::kGetformattime, {Int(1), S(1)}), nullptr, nullptr,
       [](const Registers& r) { EXPECT_EQ(r.S[1], "2023-11-15 06:13:20"); }},
      {"getformattime 2", rec(cpl::kGetformattime, {I(2), S(1)}), [](Registers& r) { r.I[2] = 2; },
       nullptr, [](const Registers& r) { EXPECT_EQ(r.S[1], "20231115061320"); }},
      {"getformattime other", rec(cpl::kGetformattime, {Int(3), S(1)}),
       [](Registers& r) { r.S[1] = "old"; }, nullptr,
       [](const Registers& r) { EXPECT_EQ(r.S[1], ""); }},
  };
  runCases(*this, host, cases, [this](const Instruction& r) { return runOne(r); });
}

// The additions work on the seconds count, so across a change of daylight
// saving the local clock moves by the shift as well.
TEST_F(StringDateTest, DateAddAcrossDaylightSaving) {
  setZone("Europe/Berlin");
  const int32_t before = local(2024, 3, 31, 1, 30);  // CET, half an hour before the change
  load({make(cpl::kDateaddhour, {T(1), Int(1)}), make(cpl::kDateparthour, {T(1), I(1)}),
        make(cpl::kDateaddday, {T(2), Int(1)}), make(cpl::kDateparthour, {T(2), I(2)})});
  regs().T[1] = before;
  regs().T[2] = local(2024, 3, 30, 12);
  start();
  host.pass();
  EXPECT_EQ(regs().T[1], before + 3600);
  EXPECT_EQ(regs().I[1], 3);   // 01:30 CET + 1 h = 03:30 CEST
  EXPECT_EQ(regs().I[2], 13);  // noon + 24 h lands at 13:00 the next day
  EXPECT_EQ(formatTime(regs().T[2], "%Y-%m-%d %H:%M:%S"), "2024-03-31 13:00:00");
}

TEST_F(StringDateTest, GetformattimeInLocalTime) {
  host.clock = local(2024, 5, 6, 7, 8, 9);
  EXPECT_TRUE(runOne(make(cpl::kGetformattime, {Int(2), S(4)})).empty());
  EXPECT_EQ(regs().S[4], "20240506070809");
}

}  // namespace
}  // namespace interp
