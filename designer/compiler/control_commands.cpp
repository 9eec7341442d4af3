// Control and stack commands: calls, jumps, the stack, print, sleep and stop.
#include "designer/compiler/grammar.h"
#include "designer/compiler/statement.h"

namespace compiler {
namespace {

using F = Form;
using cpl::Operand;
using Match = StatementParser::Match;

// The right side of `if`: the forms in the order they are tried, the left
// sides each admits and the message for any other left side.
struct Comparison {
  Form form;
  cpl::TypeSet left;
  std::string_view mismatch;
};
constexpr std::string_view kNumberMismatch = "数字比较类型错误";
constexpr std::string_view kTextMismatch = "字符比较类型错误";
constexpr std::string_view kTimeMismatch = "时间比较类型错误";
constexpr Comparison kComparisons[] = {
    {F::kStr, cpl::kTS, kTextMismatch},
    {F::kI, cpl::kTI | cpl::kTF, kNumberMismatch},
    {F::kF, cpl::kTI | cpl::kTF, kNumberMismatch},
    {F::kT, cpl::kTT, kTimeMismatch},
    {F::kS, cpl::kTS, kTextMismatch},
    {F::kInt, cpl::kTI | cpl::kTF, kNumberMismatch},
    {F::kFlt, cpl::kTI | cpl::kTF, kNumberMismatch},
    {F::kTime, cpl::kTT, kTimeMismatch},
};

// if LEFT RELATION RIGHT goto LABEL: no commas, so it has its own parser.
bool parseIf(StatementParser& p, const Grammar& g) {
  const auto at = g.operands();
  Operand left;
  p.next();
  if (p.match(F::kReg, g, left) != Match::kYes) return p.fail(at[0].missing);

  uint8_t relation;
  switch (p.next().kind) {
    case TokenKind::kLess:
      relation = cpl::kRelLess;
      break;
    case TokenKind::kGreater:
      relation = cpl::kRelGreater;
      break;
    case TokenKind::kLessEq:
      relation = cpl::kRelLessEq;
      break;
    case TokenKind::kGreaterEq:
      relation = cpl::kRelGreaterEq;
      break;
    case TokenKind::kEqual:
      relation = cpl::kRelEq;
      break;
    default:
      return p.fail(at[1].missing);
  }

  p.next();
  Operand right;
  const Comparison* found = nullptr;
  for (const Comparison& c : kComparisons) {
    const Match m = p.match(c.form, g, right);
    if (m == Match::kFailed) return false;
    if (m == Match::kYes) {
      found = &c;
      break;
    }
  }
  if (!found) return p.fail(at[2].missing);
  if (!(found->left & cpl::bit(left.type))) return p.fail(found->mismatch);
  if (!p.put(g, 0, left) || !p.put(g, 1, Operand::byte(relation)) || !p.put(g, 2, right))
    return false;

  if (!(p.next().kind == TokenKind::kWord && p.token().text == "goto"))
    return p.fail("缺少GOTO符号");
  p.next();
  Operand label;
  const Match m = p.match(F::kLabel, g, label);
  if (m == Match::kFailed) return false;
  if (m == Match::kNo) return p.fail(at[3].missing);
  return p.put(g, 3, label) && p.expectEnd(g.extra);
}

constexpr Grammar kGrammars[] = {
    cmd(cpl::kCallfunc, "缺少逗号", "多余的标识符号",
        {pos({F::kS, F::kStr}, "缺少一个字符串变量或字符串"),
         pos({F::kI, F::kInt}, "缺少一个整数变量和整数常量"),
         pos({F::kI}, "语法错误:缺少一个整形变量", "语法错误:缺少逗号")}),
    bare(cpl::kPushall, "PushAll命令没有参数"),
    bare(cpl::kPopall, "PopAll命令没有参数"),
    cmd(cpl::kPush, {}, "Push I|F|T|S命令后面存在多余内容",
        {pos({F::kReg}, "缺少一个I|F|T|S变量")}),
    cmd(cpl::kPop, {}, "Pop I|F|T|S命令后面存在多余内容", {pos({F::kReg}, "缺少一个I|F|T|S变量")}),
    cmd(cpl::kGoto, {}, "多余标识", {pos({F::kLabel}, "缺少ID")}),
    cmd(cpl::kGotoout, {}, "多余标识", {pos({F::kExit}, "缺少ID")}),
    bare(cpl::kGotodef, "语法错误:多余标识"),
    cmd(cpl::kCondgoto, "缺少一个逗号", "CondGoTo I,I|整数常量,ID命令后存在多余内容",
        {pos({F::kI}, "缺少一个整形变量"), pos({F::kI, F::kInt}, "缺少一个整数常量或整数变量"),
         pos({F::kLabel}, "缺少一个ID")}),
    cmd(cpl::kIf, {}, "多余符号",
        {pos({F::kReg}, "缺少I,F,T,S变量"), pos({}, "缺少>,<,>=,<=,=符号"),
         pos({F::kStr, F::kI, F::kF, F::kT, F::kS, F::kInt, F::kFlt, F::kTime},
             "缺少I,F,T,S变量或常量"),
         pos({F::kLabel}, "缺少一个ID")})
        .withParse(parseIf),
    bare(cpl::kStop, "Stop命令没有参数"),
    cmd(cpl::kPrint, {}, "多余标识", {pos({F::kReg}, "缺少I|F|T|S变量")}),
    cmd(cpl::kSleep, {}, "语法错误:多余标识",
        {pos({F::kI, F::kInt}, "语法错误:缺少整形变量或常量")}),
};

}  // namespace

std::span<const Grammar> controlGrammars() {
  return kGrammars;
}

}  // namespace compiler
