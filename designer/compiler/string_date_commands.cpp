// Conversion, string and date-time commands.
#include "designer/compiler/grammar.h"

namespace compiler {
namespace {

using F = Form;

constexpr std::string_view kComma = "缺少逗号";
constexpr std::string_view kExtra = "多余标识";

// Two bare registers, e.g. i2s I, S.
constexpr Grammar pair(cpl::Opcode opcode, Form a, std::string_view missingA, Form b,
                       std::string_view missingB) {
  return cmd(opcode, kComma, kExtra, {pos({a}, missingA), pos({b}, missingB)});
}
constexpr Grammar oneString(cpl::Opcode opcode) {
  return cmd(opcode, kComma, kExtra, {pos({F::kS}, "缺少字符串变量")});
}
constexpr Grammar dateAdd(cpl::Opcode opcode) {
  return cmd(opcode, kComma, kExtra,
             {pos({F::kT}, "缺少时间变量"), pos({F::kI, F::kInt}, "缺少整形变量或常量")});
}
constexpr Grammar datePart(cpl::Opcode opcode) {
  return pair(opcode, F::kT, "缺少时间变量", F::kI, "缺少整形变量");
}
constexpr Grammar dateDiff(cpl::Opcode opcode) {
  return cmd(
      opcode, kComma, kExtra,
      {pos({F::kT}, "缺少时间变量"), pos({F::kT}, "缺少时间变量"), pos({F::kI}, "缺少整形变量")});
}

constexpr Grammar kGrammars[] = {
    pair(cpl::kI2s, F::kI, "缺少整形变量", F::kS, "缺少字符串变量"),
    pair(cpl::kF2s, F::kF, "缺少浮点变量", F::kS, "缺少字符串变量"),
    pair(cpl::kT2s, F::kT, "缺少时间变量", F::kS, "缺少字符串变量"),
    pair(cpl::kS2i, F::kS, "缺少字符串变量", F::kI, "缺少整数变量"),
    pair(cpl::kS2f, F::kS, "缺少字符串变量", F::kF, "缺少浮点变量"),
    pair(cpl::kS2t, F::kS, "缺少字符串变量", F::kT, "缺少时间变量"),
    pair(cpl::kStrlen, F::kI, "缺少整形变量", F::kS, "缺少字符串变量"),
    oneString(cpl::kStrtrimleft),
    oneString(cpl::kStrtrimright),
    oneString(cpl::kStrtrim),
    oneString(cpl::kStrupper),
    oneString(cpl::kStrlower),
    cmd(cpl::kStrreplace, kComma, "对于标识",
        {pos({F::kS, F::kStr}, "缺少字符变量或字符常量"),
         pos({F::kS, F::kStr}, "缺少字符变量或字符常量"), pos({F::kS}, "缺少字符变量")}),
    cmd(cpl::kStrmid, kComma, kExtra,
        {pos({F::kI, F::kInt}, "缺少整形变量或整形常数"),
         pos({F::kI, F::kInt}, "缺少整形变量或整形常数"), pos({F::kS}, "缺少字符串变量"),
         pos({F::kS}, "缺少字符串变量")}),
    cmd(cpl::kStrdel, kComma, kExtra,
        {pos({F::kI, F::kInt}, "缺少整形变量或整形常量"),
         pos({F::kI, F::kInt}, "缺少整形变量或整形常量"), pos({F::kS}, "缺少字符变量")}),
    cmd(cpl::kStrcat, kComma, kExtra,
        {pos({F::kS}, "缺少字符串变量"), pos({F::kS, F::kStr}, "缺少字符串变量或字符串常量")}),
    cmd(cpl::kStrparse, kComma, kExtra,
        {pos({F::kI, F::kInt}, "缺少整形变量或整形常量"),
         pos({F::kS, F::kStr}, "缺少字符串变量或字符串常量"), pos({F::kS}, "缺少字符变量"),
         pos({F::kS}, "缺少字符变量")}),
    cmd(cpl::kNow, kComma, kExtra, {pos({F::kT}, "缺少一个时间变量")}),
    dateAdd(cpl::kDateaddday),
    dateAdd(cpl::kDateaddhour),
    dateAdd(cpl::kDateaddmin),
    datePart(cpl::kDateparthour),
    datePart(cpl::kDatepartmin),
    datePart(cpl::kDatepartsec),
    datePart(cpl::kDatepartday),
    datePart(cpl::kDatepartmonth),
    datePart(cpl::kDatepartweek),
    datePart(cpl::kDatepartyear),
    dateDiff(cpl::kDatediffday),
    dateDiff(cpl::kDatediffhour),
    dateDiff(cpl::kDatediffmin),
    dateDiff(cpl::kDatediffsec),
    cmd(cpl::kGetformattime, kComma, kExtra,
        {pos({F::kI, F::kInt}, "缺少整形变量或常量"), pos({F::kS}, "缺少s变量")}),
};

}  // namespace

std::span<const Grammar> stringDateGrammars() {
  return kGrammars;
}

}  // namespace compiler
