// Billing, account, voice, channel and conference commands.
#include "designer/compiler/grammar.h"

namespace compiler {
namespace {

using F = Form;

constexpr std::string_view kComma = "语法错误:缺少逗号";
constexpr std::string_view kExtra = "语法错误:多余标识";
constexpr std::string_view kIntOrConst = "语法错误:缺少整形变量或常量";
constexpr std::string_view kInt = "语法错误:缺少整形变量";
constexpr std::string_view kMeetRange = "语法错误:$meet参数越界";
constexpr std::string_view kMeetOperand = "语法错误:缺少整数变量|常量|会议变量";

constexpr Position intOrConst(std::string_view missing = kIntOrConst) {
  return pos({F::kI, F::kInt}, missing);
}
constexpr Position strOrConst(std::string_view missing) {
  return pos({F::kS, F::kStr}, missing);
}

constexpr std::string_view kRecfile2 =
    "语法错误:(RecFile2 S1|字符常量,I1|整数常量,I2|整数常量,S2|字符常量,I3|整数常量,I4)";

constexpr Grammar meetCommand(cpl::Opcode opcode) {
  return cmd(opcode, kComma, kExtra, {pos({F::kMeet, F::kI, F::kInt}, kMeetOperand)})
      .withMeetRange(kMeetRange);
}

constexpr Grammar kGrammars[] = {
    // Billing and accounts.
    cmd(cpl::kStartbill, kComma, "多余标识", {intOrConst(), intOrConst()}),
    cmd(cpl::kSetbilltype, kComma, kExtra,
        {intOrConst("语法错误:缺少整形变量或整形常量"), pos({F::kS}, "语法错误:缺少字符变量")}),
    cmd(cpl::kSetsecpara, {}, "语法错误:正确语法(setsecpara I1,I2,S1),S1后面多余标识",
        {pos({F::kI}, "语法错误:正确语法(setsecpara I1,I2,S1),缺少I1整形变量"),
         pos({F::kI}, "语法错误:正确语法(setsecpara I1,I2,S1),缺少I2变量",
             "语法错误:正确语法(setsecpara I1,I2,S1),I1后面缺少逗号"),
         pos({F::kS}, "语法错误:正确语法(setsecpara I1,I2,S1),缺少S1变量",
             "语法错误:正确语法(setsecpara I1,I2,S1),I2后面缺少逗号")}),
    cmd(cpl::kSecbillbegin, kComma, kExtra,
        {intOrConst("语法错误:(SecBillBegin I1,I2|整形常数)缺少整形变量或常量"), intOrConst(),
         intOrConst()}),
    bare(cpl::kSecbillend, "语法错误:SecBillEnd命令没有参数"),
    bare(cpl::kEndbill, "语法错误:EndBill命令没有参数"),
    cmd(cpl::kVerifyaccount, kComma, kExtra,
        {pos({F::kS}, "语法错误:缺少字符变量"), pos({F::kI}, kInt)}),
    cmd(cpl::kVerifypassword, kComma, kExtra,
        {pos({F::kS}, "语法错误:缺少一个字符变量"), pos({F::kS}, "语法错误:缺少一个字符变量"),
         intOrConst(), pos({F::kF}, "语法错误:缺少浮点变量"), pos({F::kI}, kInt),
         pos({F::kI}, kInt)}),
    cmd(cpl::kSetcardpara, kComma, kExtra,
        {pos({F::kS}, "语法错误:缺少账号字符变量"), pos({F::kI}, "语法错误:缺少费率整形变量"),
         pos({F::kF}, "语法错误:缺少余额整形变量")}),

    // Voice and channels.
    cmd(cpl::kRecfile, kComma, kExtra,
        {strOrConst("语法错误:缺少一个字符变量或常量"),
         strOrConst("语法错误：缺少一个字符变量或常量"), intOrConst(), pos({F::kI}, kInt)}),
    cmd(cpl::kRecfile2, kRecfile2, kRecfile2,
        {strOrConst(kRecfile2), intOrConst(kRecfile2), intOrConst(kRecfile2), strOrConst(kRecfile2),
         intOrConst(kRecfile2), pos({F::kI}, kRecfile2)}),
    cmd(cpl::kRecfile3, kComma, kExtra,
        {strOrConst("语法错误:缺少字符变量或常量"), strOrConst("语法错误:缺少字符变量或常量"),
         intOrConst(), strOrConst("语法错误:缺少字符变量或常量"), intOrConst(),
         pos({F::kI}, kInt)}),
    cmd(cpl::kPlaytts, kComma, kExtra,
        {pos({F::kStr, F::kI, F::kS, F::kF, F::kT, F::kInt, F::kTime, F::kFlt},
             "语法错误:缺少一个变量或常量"),
         intOrConst("语法错误:缺少一个整数变量或常量"), pos({F::kI}, "语法错误:缺少一个整形变量"),
         pos({F::kChan, F::kI}, "语法错误:缺少整形变量或$chan系统变量")}),
    cmd(cpl::kCycplay, kComma, kExtra,
        {intOrConst(), intOrConst(), pos({F::kI}, "语法错误:缺少一个整形变量")}),
    cmd(cpl::kPlaydtmf, kComma, kExtra, {pos({F::kS}, "语法错误:缺少字符变量")}),
    bare(cpl::kSs7ack, "SS7Ack命令没有参数"),
    cmd(cpl::kConnchan, kComma, kExtra,
        {pos({F::kI}, "语法错误:缺少整形连接通道变量"),
         pos({F::kI}, "语法错误:缺少整形连接通道变量"),
         pos({F::kI}, "语法错误:缺少返回结果整形变量")}),
    cmd(cpl::kCheckstatus, kComma, kExtra,
        {pos({F::kI}, "语法错误:缺少整形通道变量"), pos({F::kI}, "语法错误:缺少整形状态结果变量")}),
    cmd(cpl::kResetchan, kComma, kExtra, {pos({F::kChanPrefix, F::kI, F::kInt}, kMeetOperand)}),

    // Conferences.
    cmd(cpl::kAddmusic, kComma, kExtra,
        {pos({F::kMeet, F::kI, F::kInt}, "语法错误:缺少一个I|整形常量|$meet1~32系统变量"),
         intOrConst("语法错误:缺少一个I|整形变量"), intOrConst("语法错误:缺少I|整形变量"),
         pos({F::kI}, "语法错误:缺少I整形变量", "语法错误：缺少逗号")})
        .withMeetRange("语法错误:错误的$meet1~32系统变量格式"),
    meetCommand(cpl::kRemovemusic),
    meetCommand(cpl::kAuditmeet),
    cmd(cpl::kGetmeetmembercnt, kComma, kExtra,
        {pos({F::kMeet, F::kI}, "语法错误:缺少整形或$meet变量"), pos({F::kI}, kInt)})
        .withMeetRange(kMeetRange),
};

}  // namespace

std::span<const Grammar> serviceGrammars() {
  return kGrammars;
}

}  // namespace compiler
