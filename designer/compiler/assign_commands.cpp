// Assignment, arithmetic and comparison commands.
#include "designer/compiler/grammar.h"
#include "designer/compiler/statement.h"
#include "designer/compiler/word_forms.h"

namespace compiler {
namespace {

using F = Form;
using cpl::Operand;
using Match = StatementParser::Match;

constexpr std::string_view kMismatch = "赋值类型不匹配";
// The destination "$meetN" counts as a system variable in the admitted sets below.
constexpr cpl::TypeSet kMeetDest = cpl::kTSys;

// Sources of `set` after the system variables, in the order they are tried,
// with the destinations each may be assigned to.
struct Source {
  Form form;
  cpl::TypeSet dest;
};
constexpr Source kSources[] = {
    {F::kStr, cpl::kTS},
    {F::kI, cpl::kTI | cpl::kTF | kMeetDest},
    {F::kF, cpl::kTI | cpl::kTF},
    {F::kT, cpl::kTT},
    {F::kS, cpl::kTS},
    {F::kInt, cpl::kTI | cpl::kTF | kMeetDest},
    {F::kFlt, cpl::kTI | cpl::kTF},
    {F::kTime, cpl::kTT},
};

// set DEST, SOURCE: which sources are allowed depends on the destination.
bool parseSet(StatementParser& p, const Grammar& g) {
  const auto at = g.operands();
  Operand dest;
  p.next();
  Match m = p.match(F::kMeet, g, dest);
  if (m == Match::kNo) m = p.match(F::kReg, g, dest);
  if (m == Match::kFailed) return false;
  if (m == Match::kNo) return p.fail(at[0].missing);
  if (!p.expectComma(g.comma)) return false;

  p.next();
  Operand src;
  cpl::TypeSet allowed = 0;
  std::string_view mismatch = kMismatch;
  const std::string_view w = p.token().text;
  if (auto code = p.isWord() ? wholeSystemVariable(w) : std::optional<uint8_t>()) {
    src = Operand::sys(*code);
    switch (*code) {
      case cpl::kSysChan:
        allowed = cpl::kTI;
        break;
      case cpl::kSysUsedMoney:
        allowed = cpl::kTF;
        mismatch = "语法错误:$usedmoney只能赋值浮点变量";
        break;
      default:  // $caller, $called, $callid
        allowed = cpl::kTS;
        break;
    }
  } else if ((m = p.match(F::kMeet, g, src)) != Match::kNo) {
    if (m == Match::kFailed) return false;
    allowed = cpl::kTI;
  } else {
    for (const Source& s : kSources) {
      m = p.match(s.form, g, src);
      if (m == Match::kFailed) return false;
      if (m == Match::kYes) {
        allowed = s.dest;
        break;
      }
    }
    if (m == Match::kNo) return p.fail(at[1].missing);
  }
  if (!(allowed & cpl::bit(dest.type))) return p.fail(mismatch);
  return p.put(g, 0, dest) && p.put(g, 1, src) && p.expectEnd(g.extra);
}

std::string_view refuseZeroDivisor(int index, const Operand& v) {
  const bool zero =
      (v.type == cpl::kOpInt && v.ival == 0) || (v.type == cpl::kOpFlt && v.fval == 0);
  return index == 1 && zero ? "被除数不能够等于0" : "";
}

constexpr Grammar arith(cpl::Opcode opcode) {
  return cmd(opcode, "缺少逗号", "多余标识",
             {pos({F::kI, F::kF}, "缺少一个I|F变量"),
              pos({F::kI, F::kF, F::kInt, F::kFlt}, "缺少一个I|F|数字常量")});
}

constexpr Grammar kGrammars[] = {
    cmd(cpl::kSet, "缺少逗号", "多余标识",
        {pos({F::kMeet, F::kReg}, "缺少一个I|F|T|S变量"),
         pos({F::kStr, F::kReg, F::kInt, F::kFlt, F::kTime, F::kMeet, F::kChan},
             "错误的赋值右变量")})
        .withMeetRange("语法错误:$meet参数越界")
        .withParse(parseSet),
    arith(cpl::kAdd),
    arith(cpl::kSub),
    arith(cpl::kMul),
    arith(cpl::kDiv).withCheck(refuseZeroDivisor),
    cmd(cpl::kCmpd, "缺少逗号", "多余标识",
        {pos({F::kI, F::kF}, "缺少一个I|F变量"),
         pos({F::kI, F::kF, F::kInt, F::kFlt}, "缺少一个I|F|数字常量"),
         pos({F::kI}, "缺少一个整数变量")}),
    cmd(cpl::kCmpt, "缺少逗号", "多余标识",
        {pos({F::kT}, "缺少一个T变量"), pos({F::kT, F::kTime}, "缺少一个T|T常量"),
         pos({F::kI}, "缺少I变量")}),
};

}  // namespace

std::span<const Grammar> assignGrammars() {
  return kGrammars;
}

}  // namespace compiler
