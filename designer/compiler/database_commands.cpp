// Packet and database commands.
#include "designer/compiler/grammar.h"

namespace compiler {
namespace {

using F = Form;

constexpr std::string_view kComma = "缺少逗号";
constexpr std::string_view kExtra = "多余标识";
constexpr std::string_view kIntOrConst = "缺少整形变量或常量";
constexpr std::string_view kIntOrConstant = "缺少整形变量或整形常数";
constexpr std::string_view kAnyRegister = "缺少i,f,t,s变量或常量";
constexpr std::string_view kInOut = "缺少一个In|Out标识";

// COLUMN (I or int), then a register of one set: getfieldi, getspouts, ...
constexpr Grammar intThen(cpl::Opcode opcode, Form to, std::string_view missing) {
  return cmd(opcode, kComma, kExtra, {pos({F::kI, F::kInt}, kIntOrConst), pos({to}, missing)});
}
// PARAM (I or int), VALUE, in|out
constexpr Grammar sqlParam(cpl::Opcode opcode, Position value) {
  return cmd(opcode, kComma, kExtra,
             {pos({F::kI, F::kInt}, kIntOrConstant), value, pos({F::kDir}, kInOut)});
}
constexpr Grammar runSql(cpl::Opcode opcode) {
  return cmd(opcode, kComma, kExtra,
             {pos({F::kI, F::kInt}, "缺少整数字符变量"), pos({F::kI}, "缺少整形变量")});
}

constexpr Grammar kGrammars[] = {
    cmd(cpl::kSendpacket, kComma, kExtra,
        {pos({F::kI, F::kInt}, kIntOrConst), pos({F::kS}, "缺少字符变量")}),
    cmd(cpl::kRecvpacket, kComma, kExtra,
        {pos({F::kS}, "缺少字符变量"), pos({F::kI, F::kInt}, kIntOrConst),
         pos({F::kI}, "缺少整形变量")}),
    cmd(cpl::kSetdb, kComma, "语法错误:多余标识",
        {pos({F::kS, F::kStr}, "缺少一个字符变量或常量"), pos({F::kI}, "缺少一个整形变量")}),
    cmd(cpl::kPreparesql, kComma, kExtra, {pos({F::kS, F::kStr}, "缺少字符变量")}),
    runSql(cpl::kSqlopen),
    runSql(cpl::kSqlexec),
    cmd(cpl::kSpexec, kComma, kExtra, {pos({F::kI, F::kInt}, "缺少整数字符变量")}),
    cmd(cpl::kMovenext, kComma, "多余变量", {pos({F::kI, F::kInt}, kIntOrConst)}),
    cmd(cpl::kEof, kComma, "多余变量", {pos({F::kI}, "缺少整形变量")}),
    cmd(cpl::kGetrecordcount, kComma, "多余变量", {pos({F::kI}, "缺少整形变量")}),
    intThen(cpl::kGetfieldi, F::kI, "缺少整形变量"),
    intThen(cpl::kGetfields, F::kS, "缺少字符变量"),
    intThen(cpl::kGetfieldt, F::kT, "缺少时间变量"),
    intThen(cpl::kGetfieldf, F::kF, "缺少浮点变量"),
    cmd(cpl::kGetfieldname, kComma, kExtra,
        {pos({F::kS, F::kStr}, "缺少s变量或常量"), pos({F::kReg}, kAnyRegister)}),
    intThen(cpl::kGetfield, F::kReg, kAnyRegister),
    sqlParam(cpl::kSetsqlparami, pos({F::kI, F::kInt}, kIntOrConstant)),
    sqlParam(cpl::kSetsqlparams, pos({F::kS, F::kStr}, "缺少字符变量或字符常数")),
    sqlParam(cpl::kSetsqlparamt, pos({F::kT, F::kStrTime}, "缺少时间变量或时间常量")),
    sqlParam(cpl::kSetsqlparamf, pos({F::kF, F::kStrFlt}, "缺少浮点变量或浮点常数")),
    intThen(cpl::kGetspouti, F::kI, "缺少整形变量"),
    intThen(cpl::kGetspouts, F::kS, "缺少字符变量"),
    intThen(cpl::kGetspoutt, F::kT, "缺少时间变量"),
    intThen(cpl::kGetspoutf, F::kF, "缺少浮点变量"),
    cmd(cpl::kSetparamin, kComma, kExtra,
        {pos({F::kI, F::kInt}, kIntOrConst),
         pos({F::kStr, F::kI, F::kF, F::kS, F::kT, F::kInt, F::kFlt, F::kTime}, kAnyRegister)}),
    cmd(cpl::kSetparamout, kComma, kExtra,
        {pos({F::kI, F::kInt}, kIntOrConst), pos({F::kLetter}, "缺少i,f,t,s类型")}),
    intThen(cpl::kGetparamout, F::kReg, kAnyRegister),
};

}  // namespace

std::span<const Grammar> databaseGrammars() {
  return kGrammars;
}

}  // namespace compiler
