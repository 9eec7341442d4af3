#include "designer/chart/block_dialogs.h"

#include <gtest/gtest.h>

#include "flowfile/blockrecords.h"
#include "flowfile/bytes.h"
#include "flowfile/operands.h"
#include "platform/gbk.h"

namespace chart::dialogs {
namespace {

using V = std::vector<std::string>;

std::vector<uint8_t> fresh(int kind) {
  return createBlock(kind)->record;
}

TEST(BlockDialogs, EntryForms) {
  struct Case {
    const char* text;
    Form form;
    int reg;
    int32_t number;
  };
  const Case cases[] = {
      {"i5", Form::kIRegister, 5, 0},
      {"I05", Form::kIRegister, 5, 0},
      {"I31", Form::kIRegister, 31, 0},
      {"I32", Form::kText, 0, 0},         // no such register: text where text is allowed
      {"I123", Form::kIRegister, 12, 0},  // the first two digits
      {"S0", Form::kSRegister, 0, 0},
      {"s17", Form::kSRegister, 17, 0},
      {"I", Form::kText, 0, 0},
      {"I5x", Form::kText, 0, 0},
      {"I-1", Form::kText, 0, 0},
      {"0", Form::kInteger, 0, 0},
      {"-12", Form::kInteger, 0, -12},
      {"1234567890123", Form::kInteger, 0, 123456789},  // the first nine characters
      {"-1234567890", Form::kInteger, 0, -12345678},
      {"-", Form::kText, 0, 0},
      {"", Form::kText, 0, 0},
      {"12a", Form::kText, 0, 0},
      {" 12", Form::kText, 0, 0},
      {"欢迎", Form::kText, 0, 0},
  };
  for (const Case& c : cases) {
    const Entry e = parseEntry(c.text);
    EXPECT_EQ(e.form, c.form) << c.text;
    EXPECT_EQ(e.reg, c.reg) << c.text;
    EXPECT_EQ(e.number, c.number) << c.text;
  }
}

TEST(BlockDialogs, ANewBlockShowsTheDialogsDefaults) {
  struct Case {
    int kind;
    V shown;
  };
  const Case cases[] = {
      {40, {"", "文件放音", "", "", "", "I0", ""}},
      {41, {"", "1", "N", "$chan"}},
      {42, {"I0", "", "I0"}},
      {43, {"", "1", "", "", "S0", "", ""}},
      {44, {"", "1", "1", "10", "S0"}},
      {45, {"I0", ""}},
      {46, {"I0", "I0", "", "", "", "0"}},
      {47, {"I0", "I0"}},
      {49, {"S0", "", "文件放音", "S0", "S0", "I0", "", ""}},
      {50, {"", "", "I0", "", ""}},
      {51, {"", "", ""}},
      {52, {"", ""}},
      {53, {"", ""}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(show(c.kind, fresh(c.kind)), c.shown) << c.kind;
    ASSERT_NE(dialogFor(c.kind), nullptr);
    EXPECT_EQ(dialogFor(c.kind)->fields.size(), c.shown.size()) << c.kind;
  }
  EXPECT_EQ(dialogFor(6), nullptr);
  EXPECT_EQ(dialogFor(48), nullptr);
}

// Entries stored and shown again come back as typed (registers and
// numbers in their plain form), and each lands in its record field.
TEST(BlockDialogs, StoredEntriesShowAgain) {
  struct Case {
    int kind;
    V typed, shown;
  };
  const Case cases[] = {
      {40,
       {"wait.voc", "索引放音", "I3", "7", "30", "I9", "-2"},
       {"wait.voc", "索引放音", "I3", "7", "30", "I9", "-2"}},
      {41, {"I05", "1", "12#", "i7"}, {"I5", "1", "12#", "I7"}},
      {41, {"欢迎.voc", "0", "S2", "$CHAN"}, {"欢迎.voc", "0", "S2", "$chan"}},
      {42, {"I1", "I4", "I2"}, {"I1", "I4", "I2"}},
      {43, {"S3", "0", "4", "#", "S1", "2", "10"}, {"S3", "0", "4", "#", "S1", "2", "10"}},
      {43, {"12", "1", "I2", "S4", "S31", "I0", "I8"}, {"12", "1", "I2", "S4", "S31", "I0", "I8"}},
      {44, {"menu.voc", "0", "2", "5", "S9"}, {"menu.voc", "0", "2", "5", "S9"}},
      {45, {"I6", "8"}, {"I6", "8"}},
      {46, {"I1", "I2", "2048", "15", "30", "1"}, {"I1", "I2", "2048", "15", "30", "1"}},
      {47, {"I3", "I4"}, {"I3", "I4"}},
      {49,
       {"S1", "I32", "文件放音", "S2", "S3", "I4", "20", "I5"},
       {"S1", "I32", "文件放音", "S2", "S3", "I4", "20", "I5"}},
      {50, {"8001", "S5", "I1", "0", "30"}, {"8001", "S5", "I1", "0", "30"}},
      {51, {"msg.voc", "#", "I30"}, {"msg.voc", "#", "I30"}},
      {52, {"3", "S1"}, {"3", "S1"}},
      {53, {"I1", "60"}, {"I1", "60"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    const Outcome o = accept(c.kind, fresh(c.kind), c.typed);
    ASSERT_TRUE(o.ok) << (o.messages.empty() ? "" : o.messages[0]);
    EXPECT_EQ(o.record.size(), fresh(c.kind).size());
    EXPECT_EQ(show(c.kind, o.record), c.shown);
  }
}

TEST(BlockDialogs, StoredBytes) {
  using namespace cpl;
  // Times typed in seconds are kept in milliseconds (call seat, key input,
  // single-key) and shown in seconds again; other times are kept as typed.
  auto input = accept(43, fresh(43), {"a.voc", "0", "4", "#", "S1", "2", "10"}).record;
  EXPECT_EQ(getI32(input, InputRecord::kDigitWait + 2), 10000);
  EXPECT_EQ(input[InputRecord::kDigitWait], kOpInt);
  EXPECT_EQ(input[InputRecord::kEndKey], kOpStr);
  EXPECT_EQ(input[InputRecord::kEndKey + 2], '#');
  EXPECT_EQ(input[InputRecord::kDigitsVar], 1);
  EXPECT_EQ(readTextOrNumber(input, InputRecord::kPrompt), RecordOperand::str("a.voc"));
  auto seat = accept(40, fresh(40), {"1", "索引放音", "1", "2", "45", "I3", "0"}).record;
  EXPECT_EQ(getI32(seat, CallSeatRecord::kWaitAnswer + 2), 45000);
  EXPECT_EQ(seat[CallSeatRecord::kVoiceType], 1);
  EXPECT_EQ(readTextOrNumber(seat, CallSeatRecord::kWaitPrompt), RecordOperand::integer(1));
  auto ext = accept(49, fresh(49), {"S1", "w", "文件放音", "S2", "S3", "I4", "20", "0"}).record;
  EXPECT_EQ(getI32(ext, CallExtRecord::kWaitAnswer + 2), 20);
  auto digit = accept(44, fresh(44), {"m", "0", "1", "1234567890123", "S0"});
  EXPECT_FALSE(digit.ok);  // 123456789 seconds do not fit in milliseconds
  EXPECT_EQ(digit.messages, V{"收号等待输入格式错误"});
  auto big = accept(53, fresh(53), {"1234567890123", "0"}).record;
  EXPECT_EQ(getI32(big, CycPlayRecord::kIndex + 2), 123456789);

  // The play channel: "$chan" as type 9 with '#', a register as type 1.
  auto play = accept(41, fresh(41), {"a", "0", "N", "$chan"}).record;
  EXPECT_EQ(play[PlayVoiceRecord::kPlayChannel], kOpSys);
  EXPECT_EQ(play[PlayVoiceRecord::kPlayChannel + 1], '#');
  play = accept(41, play, {"a", "0", "N", "I3"}).record;
  EXPECT_EQ(play[PlayVoiceRecord::kPlayChannel], kOpI);
  EXPECT_EQ(play[PlayVoiceRecord::kPlayChannel + 1], 3);

  // A text slot is cleared before the text goes in; a register leaves no text behind.
  play = accept(41, play, {"long-name.voc", "0", "N", "$chan"}).record;
  play = accept(41, play, {"ab", "0", "N", "$chan"}).record;
  EXPECT_EQ(readSlotText(play, PlayVoiceRecord::kVoiceFile + 2, 256), "ab");
  EXPECT_EQ(play[PlayVoiceRecord::kVoiceFile + 2 + 2], 0);
  play = accept(41, play, {"I4", "0", "N", "$chan"}).record;
  EXPECT_EQ(play[PlayVoiceRecord::kVoiceFile + 2], 0);
  // Chinese text is stored in GBK.
  play = accept(41, play, {"欢迎", "0", "N", "$chan"}).record;
  EXPECT_EQ(readSlotText(play, PlayVoiceRecord::kVoiceFile + 2, 256), platform::utf8ToGbk("欢迎"));
  // The exit slots and the kind are the record's own.
  EXPECT_EQ(getI16(play, 0), 41);
  auto callout = accept(50, fresh(50), {"123456789012345678901234", "S5", "I1", "0", "30"});
  ASSERT_TRUE(callout.ok);
  EXPECT_EQ(readSlotText(callout.record, CallOutRecord::kCallingNumber + 2, 20),
            "12345678901234567890");
  EXPECT_EQ(callout.record[CallOutRecord::kCalledNumber], kOpS);

  // A time that is not whole seconds is shown with its fraction, not rounded away.
  auto odd = fresh(44);
  writeNumber(odd, DigitRecord::kWaitAfter, RecordOperand::integer(1500));
  EXPECT_EQ(show(44, odd)[3], "1.5");
  // The listen-only box.
  auto meet = accept(46, fresh(46), {"I1", "I2", "1", "2", "3", "1"}).record;
  EXPECT_EQ(getI16(meet, EnterMeetRecord::kListenOnly), 1);
}

TEST(BlockDialogs, ChecksAndTheirMessages) {
  struct Case {
    int kind;
    V typed;
    int field;
    V messages;
  };
  const std::string indexFile =
      "如果语音类型选择了索引放音,那么\n\r索引放音语音文件名需要填写I0~31\n\r,或者是整数!";
  const std::string keys = "语音播放打断按键只能够是?,N,D字符,或是0~9,*,#组合!";
  const Case cases[] = {
      {41, {"a.voc", "1", "N", "$chan"}, 0, {indexFile}},
      {41, {"S1", "1", "N", "$chan"}, 0, {indexFile}},
      {41, {"", "", "", "$chan"}, 2, {keys}},
      {41, {"5", "1", "12A", "$chan"}, 2, {keys}},
      {41, {"5", "1", "1?", "$chan"}, 2, {"?只能单独使用!"}},
      {41, {"5", "1", "n#", "$chan"}, 2, {"N只能单独使用!"}},
      {41, {"5", "1", "1d", "$chan"}, 2, {"D只能单独使用!"}},
      {41, {"5", "1", "12#", "chan"}, 3, {"播放通道只能是$chan或整形变量"}},
      {41, {"5", "", "12#", "$chan"}, 1, {"语音类型需要填写I0~31,或者是整数!"}},
      {42, {"I0", "music", "I0"}, 1, {"索引放音语音文件名需要填写I0~31,或者是整数!"}},
      {43, {"a", "S1", "4", "#", "S1", "1", "5"}, 1, {"语音类型输入格式错误！"}},
      {43, {"a", "2", "4", "#", "S1", "1", "5"}, 1, {"语音类型只能是0或1！"}},
      {43,
       {"a", "1", "4", "#", "S1", "1", "5"},
       0,
       {"语音类型为索引语音输入提示语音必须是整形变量或常量"}},
      {43,
       {"I1", "0", "4", "#", "S1", "1", "5"},
       0,
       {"语音类型为文件语音输入提示语音必须是字符变量或常量"}},
      {43, {"a", "0", "four", "#", "S1", "1", "5"}, 2, {"收号长度输入格式错误"}},
      {43, {"a", "0", "4", "#", "S1", "S1", "5"}, 5, {"重复次数输入格式错误"}},
      {43, {"a", "0", "4", "#", "S1", "1", "5s"}, 6, {"收号等待输入格式错误"}},
      {44, {"5", "3", "1", "10", "S0"}, 1, {"语音类型只能是0或1！"}},
      {44, {"I3", "0", "1", "10", "S0"}, 0, {"语音类型为文件语音输入提示语音必须是字符变量或常量"}},
      {44, {"m", "0", "", "10", "S0"}, 2, {"重复次数输入格式错误"}},
      {44, {"m", "0", "1", "", "S0"}, 3, {"收号等待输入格式错误"}},
      {45, {"I1", "many"}, 1, {"房间人数需要填写I0~31,或者是整数!"}},
      {46,
       {"I1", "I2", "x", "15", "y", "0"},
       2,
       {"输入增益需要填写I0~31,或者是整数!", "静音检查时间需要填写I0~31,或者是整数!"}},
      {46,
       {"I1", "I2", "S1", "S2", "S3", "0"},
       2,
       {"输入增益需要填写I0~31,或者是整数!", "静音检查阙值需要填写I0~31,或者是整数!",
        "静音检查时间需要填写I0~31,或者是整数!"}},
      {49,
       {"S1", "w.voc", "索引放音", "S2", "S3", "I4", "20", "0"},
       1,
       {"索引放音语音文件名需要填写I0~31,或者是整数!"}},
      {49,
       {"S1", "3", "索引放音", "S2", "S3", "I4", "20", "S1"},
       7,
       {"振铃模式需要填写I0~31,或者是整数!"}},
      {49,
       {"S1", "3", "文件放音", "S2", "S3", "I4", "x", "0"},
       6,
       {"等待接通时间需要填写I0~31,或者是整数!"}},
      {50, {"1", "2", "I1", "S1", "30"}, 3, {"呼出局向需要设置整数或整形变量"}},
      {51, {"m.voc", "#", "long"}, 2, {"录音时间长度必须是整形变量或常量"}},
      {52, {"tts", "S1"}, 0, {"放音类型必须是整形变量或常量"}},
      {53, {"S1", "1"}, 0, {"语音索引号必须是整形变量或常量"}},
      {53, {"1", "I32"}, 1, {"超时时间必须是整形变量或常量"}},
      {47, {"I1", "J2"}, 1, {"退出会议通道需要从列表中选择!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    SCOPED_TRACE(c.typed[0] + "|" + c.typed[1]);
    const Outcome o = accept(c.kind, fresh(c.kind), c.typed);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.field, c.field);
    EXPECT_EQ(o.messages, c.messages);
    EXPECT_TRUE(o.record.empty());
  }
  // The register forms where only an I register or a number is allowed.
  EXPECT_TRUE(accept(53, fresh(53), {"i5", "I05"}).ok);
  EXPECT_FALSE(accept(53, fresh(53), {"I32", "1"}).ok);
  // Wrong number of entries.
  EXPECT_FALSE(accept(53, fresh(53), {"1"}).ok);
  EXPECT_FALSE(accept(48, {}, {}).ok);
}

TEST(BlockDialogs, KeyFilters) {
  struct Case {
    int kind, field;
    const char* accepted;
    const char* refused;
  };
  const Case cases[] = {
      {41, 1, "01", "2aI-"},
      {41, 2, "0123456789*#?NnDd", "aAsS-x"},
      {44, 1, "01", "29I"},
      {44, 2, "0123456789", "aI-"},
      {44, 3, "0123456789", "aI-."},
      {43, 1, "0123456789Ia-", ""},  // the key-input dialog filters nothing
      {41, 0, "aZ9$", ""},
  };
  for (const Case& c : cases) {
    for (const char* k = c.accepted; *k; ++k)
      EXPECT_TRUE(acceptsKey(c.kind, c.field, std::string(1, *k))) << c.kind << c.field << *k;
    for (const char* k = c.refused; *k; ++k)
      EXPECT_FALSE(acceptsKey(c.kind, c.field, std::string(1, *k))) << c.kind << c.field << *k;
    EXPECT_TRUE(acceptsKey(c.kind, c.field, kBackspace));
  }
  EXPECT_FALSE(acceptsKey(41, 1, "一"));
}

// The key-input and single-key dialogs check on a scratch copy: a refused
// dialog leaves the block and the chart as they were.
TEST(BlockDialogs, OnlyAnAcceptedDialogTouchesTheBlock) {
  Chart c;
  const int b = c.addBlock(43, 100, 200);
  const int d = c.addBlock(44, 100, 300);
  c.setModified(false);
  const auto before = c.block(b).record;
  const Outcome refused = acceptForBlock(c, b, {"a", "1", "4", "#", "S1", "1", "5"});
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(c.block(b).record, before);
  EXPECT_FALSE(c.modified());
  EXPECT_FALSE(acceptForBlock(c, d, {"m", "7", "1", "10", "S0"}).ok);
  EXPECT_FALSE(c.modified());

  const Outcome ok = acceptForBlock(c, b, {"a", "0", "4", "#", "S1", "1", "5"});
  ASSERT_TRUE(ok.ok);
  EXPECT_EQ(c.block(b).record, ok.record);
  EXPECT_TRUE(c.modified());
  EXPECT_EQ(show(43, c.block(b).record), (V{"a", "0", "4", "#", "S1", "1", "5"}));
  c.undo();
  EXPECT_EQ(c.block(b).record, before);
  EXPECT_FALSE(acceptForBlock(c, 0, {}).ok);  // the start block has no dialog
}

TEST(BlockDialogs, Lists) {
  EXPECT_EQ(listItems(List::kVoiceTypes), (V{"文件放音", "索引放音"}));
  const V i = listItems(List::kIRegisters);
  ASSERT_EQ(i.size(), 32u);
  EXPECT_EQ(i.front(), "I0");
  EXPECT_EQ(i.back(), "I31");
  EXPECT_EQ(listItems(List::kSRegisters)[7], "S7");
  const V p = listItems(List::kPlayChannels);
  ASSERT_EQ(p.size(), 33u);
  EXPECT_EQ(p[0], "$chan");
  EXPECT_EQ(p[1], "I0");
  EXPECT_EQ(kConferenceDefaults[0], "2048");
  EXPECT_TRUE(
      accept(46, fresh(46),
             {"I1", "I2", std::string(kConferenceDefaults[0]), std::string(kConferenceDefaults[1]),
              std::string(kConferenceDefaults[2]), "0"})
          .ok);
}

}  // namespace
}  // namespace chart::dialogs
