#include "designer/chart/block_dialogs.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "flowfile/blockrecords.h"
#include "flowfile/bytes.h"
#include "flowfile/operands.h"
#include "platform/gbk.h"

namespace chart::dialogs {

namespace {

using namespace cpl;

constexpr unsigned kIInt = kAllowI | kAllowInt;
constexpr unsigned kSText = kAllowS | kAllowText;
constexpr unsigned kAny = kAllowI | kAllowS | kAllowInt | kAllowText;

constexpr std::string_view kFileVoice = "文件放音";
constexpr std::string_view kIndexVoice = "索引放音";
constexpr std::string_view kChan = "$chan";

Field number(std::string_view label, int at, bool seconds = false, std::string_view def = {}) {
  return {label, at, Shape::kNumber, kIInt, 0, seconds, def};
}
Field name(std::string_view label, int at) {
  return {label, at, Shape::kTextOrNumber, kAny};
}
Field text(std::string_view label, int at, int size, std::string_view def = {}) {
  return {label, at, Shape::kText, kSText, size, false, def};
}
Field iList(std::string_view label, int at) {
  return {label, at, Shape::kRegisterByte, 0, 0, false, {}, List::kIRegisters};
}
Field sList(std::string_view label, int at) {
  return {label, at, Shape::kRegisterByte, 0, 0, false, {}, List::kSRegisters};
}
Field voiceList(std::string_view label, int at) {
  return {label, at, Shape::kVoiceTypeByte, 0, 0, false, {}, List::kVoiceTypes};
}

const std::vector<Dialog>& dialogs() {
  static const std::vector<Dialog> all = {
      {CallSeatRecord::kKind,
       {name("等待电话提示音(输入)", CallSeatRecord::kWaitPrompt),
        voiceList("语音类型(输入)", CallSeatRecord::kVoiceType),
        number("呼叫模式(输入)", CallSeatRecord::kCallMode),
        number("呼叫技能(输入)", CallSeatRecord::kSkillGroup),
        number("等待接通时间(输入)", CallSeatRecord::kWaitAnswer, true),
        iList("服务坐席通道(输出)", CallSeatRecord::kSeatChannel),
        number("振铃模式(输入)", CallSeatRecord::kRingMode)}},
      {PlayVoiceRecord::kKind,
       {name("语音文件名(输入)", PlayVoiceRecord::kVoiceFile),
        number("语音类型(输入)", PlayVoiceRecord::kVoiceType, false, "1"),
        text("播放打断按键(输入)", PlayVoiceRecord::kInterruptKeys,
             PlayVoiceRecord::kInterruptKeysSize, "N"),
        {"播放通道(输入)", PlayVoiceRecord::kPlayChannel, Shape::kPlayChannel, 0, 0, false, kChan,
         List::kPlayChannels}}},
      {TalkRecord::kKind,
       {iList("通话连结通道(输入)", TalkRecord::kLinkedChannel),
        number("通话保持索引放音(输入)", TalkRecord::kHoldMusic),
        iList("会议房间存放变量", TalkRecord::kMeetRoomVar)}},
      {InputRecord::kKind,
       {name("输入提示语音(输入)", InputRecord::kPrompt),
        number("语音类型(输入)", InputRecord::kVoiceType, false, "1"),
        number("收号长度(输入)", InputRecord::kDigitCount),
        {"收号终止按键(输入)", InputRecord::kEndKey, Shape::kEndKey, kSText, 1},
        sList("输入号码存放变量(输入)", InputRecord::kDigitsVar),
        number("重播提示语音次数(输入)", InputRecord::kRepeat),
        number("收号等待(输入)", InputRecord::kDigitWait, true)}},
      {DigitRecord::kKind,
       {name("选择分支语音(输入)", DigitRecord::kPrompt),
        number("语音类型(输入)", DigitRecord::kVoiceType, false, "1"),
        number("超时没有输入重播选择分支语音次数(输入)", DigitRecord::kReplays, false, "1"),
        number("选择分支语音播完后等待输入延时(输入)", DigitRecord::kWaitAfter, true, "10"),
        sList("按键存放变量(输入)", DigitRecord::kKeyVar)}},
      {CreateMeetRecord::kKind,
       {iList("房间号(输出)", CreateMeetRecord::kRoomVar),
        number("房间人数", CreateMeetRecord::kRoomSize)}},
      {EnterMeetRecord::kKind,
       {iList("加入会议房间(输入)", EnterMeetRecord::kRoomVar),
        iList("加入通道(输入)", EnterMeetRecord::kChannelVar),
        number("输入增益(输入)", EnterMeetRecord::kInputGain),
        number("静音检查阙值(输入)", EnterMeetRecord::kSilenceLevel),
        number("静音检查时间(输入)", EnterMeetRecord::kSilenceTime),
        {"只听不说", EnterMeetRecord::kListenOnly, Shape::kFlag}}},
      {MeetTalkRecord::kKind,
       {iList("会议房间(输入)", MeetTalkRecord::kRoomVar),
        iList("退出会议通道(输出)", MeetTalkRecord::kLeavingVar)}},
      {CallExtRecord::kKind,
       {sList("呼叫分机号码(输入)", CallExtRecord::kExtensionVar),
        name("等待电话提示音(输入)", CallExtRecord::kWaitPrompt),
        voiceList("语音类型(输入)", CallExtRecord::kVoiceType),
        sList("留言语音存放变量(输出)", CallExtRecord::kMessageVar),
        sList("转移分机存放变量(输出)", CallExtRecord::kForwardVar),
        iList("接通后分机通道(输出)", CallExtRecord::kExtChannelVar),
        number("等待接通时间(输入)", CallExtRecord::kWaitAnswer),
        number("振铃模式(输入)", CallExtRecord::kRingMode)}},
      {CallOutRecord::kKind,
       {text("主叫号码(输入)", CallOutRecord::kCallingNumber, CallOutRecord::kNumberSize),
        text("被叫号码(输入)", CallOutRecord::kCalledNumber, CallOutRecord::kNumberSize),
        iList("呼出占用通道(输出)", CallOutRecord::kSeizedVar),
        number("呼出局向(输入)", CallOutRecord::kTrunk),
        number("等待铃声(输入)", CallOutRecord::kRingWait)}},
      {RecordRecord::kKind,
       {text("录音文件", RecordRecord::kFile, RecordRecord::kFileSize),
        text("录音中断方式", RecordRecord::kStopKeys, RecordRecord::kStopKeysSize),
        number("录音时间长度", RecordRecord::kLength)}},
      {PlayTtsRecord::kKind,
       {number("放音类型", PlayTtsRecord::kPlayType),
        text("放音内容", PlayTtsRecord::kContent, PlayTtsRecord::kContentSize)}},
      {CycPlayRecord::kKind,
       {number("放音索引号", CycPlayRecord::kIndex), number("超时时间", CycPlayRecord::kTimeout)}},
  };
  return all;
}

bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return u;
}

// Milliseconds shown in seconds; a value that is not whole seconds keeps its
// fraction rather than being rounded away.
std::string secondsText(int32_t ms) {
  const int64_t v = ms;
  if (v % 1000 == 0) return std::to_string(v / 1000);
  const int64_t a = v < 0 ? -v : v;
  std::string frac = std::to_string(1000 + a % 1000).substr(1);
  while (frac.back() == '0')
    frac.pop_back();
  return (v < 0 ? "-" : "") + std::to_string(a / 1000) + "." + frac;
}

// The label without its "(输入)" or "(输出)", for messages of our own.
std::string_view bareLabel(std::string_view label) {
  for (std::string_view tail : {"(输入)", "(输出)"})
    if (label.size() > tail.size() && label.substr(label.size() - tail.size()) == tail)
      return label.substr(0, label.size() - tail.size());
  return label;
}

bool isIOrInt(const std::string& v) {
  const Form f = parseEntry(v).form;
  return f == Form::kIRegister || f == Form::kInteger;
}
bool isSOrText(const std::string& v) {
  const Form f = parseEntry(v).form;
  return f == Form::kSRegister || f == Form::kText;
}
// An I register, or an integer that still fits once a time in seconds is
// turned into milliseconds.
bool numberFits(const Field& f, const std::string& v) {
  const Entry e = parseEntry(v);
  if (e.form == Form::kIRegister) return true;
  if (e.form != Form::kInteger) return false;
  if (!f.seconds) return true;
  const int64_t ms = int64_t{e.number} * 1000;
  return ms >= std::numeric_limits<int32_t>::min() && ms <= std::numeric_limits<int32_t>::max();
}

// A refusal of field `field` with one message.
Outcome refuse(int field, std::string message) {
  return {false, field, {std::move(message)}, {}};
}

int listIndex(List list, const std::string& v) {
  const std::vector<std::string> items = listItems(list);
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i] == v || (list == List::kPlayChannels && upper(v) == upper(items[i])))
      return static_cast<int>(i);
  return -1;
}

// The checks of each dialog, in the order the dialog runs them; the first
// that fails refuses (the join-conference dialog shows all of its own).
Outcome checkPlayVoice(const std::vector<std::string>& v) {
  if (v[1] == "1" && !isIOrInt(v[0]))
    return refuse(
        0, "如果语音类型选择了索引放音,那么\n\r索引放音语音文件名需要填写I0~31\n\r,或者是整数!");
  if (parseEntry(v[2]).form != Form::kSRegister) {
    const std::string keys = upper(v[2]);
    const bool bad = keys.empty() || keys.find_first_not_of("0123456789*#?ND") != std::string::npos;
    if (bad) return refuse(2, "语音播放打断按键只能够是?,N,D字符,或是0~9,*,#组合!");
    for (char alone : {'?', 'N', 'D'})
      if (keys.size() > 1 && keys.find(alone) != std::string::npos)
        return refuse(2, std::string(1, alone) + "只能单独使用!");
  }
  if (upper(v[3]) != "$CHAN" && parseEntry(v[3]).form != Form::kIRegister)
    return refuse(3, "播放通道只能是$chan或整形变量");
  return {true};
}

// Key input (digits at field 2) and single-key branch (no digits field).
Outcome checkKeys(const std::vector<std::string>& v, bool keyInput) {
  const Entry type = parseEntry(v[1]);
  if (type.form != Form::kIRegister && type.form != Form::kInteger)
    return refuse(1, "语音类型输入格式错误！");
  if (type.form == Form::kInteger && type.number != 0 && type.number != 1)
    return refuse(1, "语音类型只能是0或1！");
  if (type.form == Form::kInteger && type.number == 1 && !isIOrInt(v[0]))
    return refuse(0, "语音类型为索引语音输入提示语音必须是整形变量或常量");
  if (type.form == Form::kInteger && type.number == 0 && !isSOrText(v[0]))
    return refuse(0, "语音类型为文件语音输入提示语音必须是字符变量或常量");
  const Dialog& d = *dialogFor(keyInput ? InputRecord::kKind : DigitRecord::kKind);
  if (keyInput && !isIOrInt(v[2])) return refuse(2, "收号长度输入格式错误");
  const int repeats = keyInput ? 5 : 2, wait = keyInput ? 6 : 3;
  if (!isIOrInt(v[repeats])) return refuse(repeats, "重复次数输入格式错误");
  if (!numberFits(d.fields[wait], v[wait])) return refuse(wait, "收号等待输入格式错误");
  return {true};
}

Outcome checkEnterMeet(const std::vector<std::string>& v) {
  Outcome o{true};
  const std::pair<int, const char*> rules[] = {
      {2, "输入增益需要填写I0~31,或者是整数!"},
      {3, "静音检查阙值需要填写I0~31,或者是整数!"},
      {4, "静音检查时间需要填写I0~31,或者是整数!"},
  };
  for (const auto& [field, message] : rules)
    if (!isIOrInt(v[field])) {
      if (o.ok) o.field = field;
      o.ok = false;
      o.messages.push_back(message);
    }
  return o;
}

Outcome checkKind(int kind, const std::vector<std::string>& v) {
  switch (kind) {
    case PlayVoiceRecord::kKind:
      return checkPlayVoice(v);
    case TalkRecord::kKind:
      if (!isIOrInt(v[1])) return refuse(1, "索引放音语音文件名需要填写I0~31,或者是整数!");
      return {true};
    case InputRecord::kKind:
      return checkKeys(v, true);
    case DigitRecord::kKind:
      return checkKeys(v, false);
    case EnterMeetRecord::kKind:
      return checkEnterMeet(v);
    case CallExtRecord::kKind:
      if (v[2] == kIndexVoice && !isIOrInt(v[1]))
        return refuse(1, "索引放音语音文件名需要填写I0~31,或者是整数!");
      if (v[2] == kIndexVoice && !isIOrInt(v[7]))
        return refuse(7, "振铃模式需要填写I0~31,或者是整数!");
      return {true};
    case CallOutRecord::kKind:
      if (!isIOrInt(v[3])) return refuse(3, "呼出局向需要设置整数或整形变量");
      return {true};
    case RecordRecord::kKind:
      if (!isIOrInt(v[2])) return refuse(2, "录音时间长度必须是整形变量或常量");
      return {true};
    case PlayTtsRecord::kKind:
      if (!isIOrInt(v[0])) return refuse(0, "放音类型必须是整形变量或常量");
      return {true};
    case CycPlayRecord::kKind:
      if (!isIOrInt(v[0])) return refuse(0, "语音索引号必须是整形变量或常量");
      if (!isIOrInt(v[1])) return refuse(1, "超时时间必须是整形变量或常量");
      return {true};
    default:
      return {true};
  }
}

// After the dialog's own checks: a number field that still holds something
// no number slot can take is refused rather than stored as garbage, and so
// is a list choice outside the list.
Outcome checkShapes(const Dialog& d, const std::vector<std::string>& v) {
  for (size_t i = 0; i < d.fields.size(); ++i) {
    const Field& f = d.fields[i];
    const int at = static_cast<int>(i);
    if (f.shape == Shape::kNumber && !numberFits(f, v[i]))
      return refuse(at, std::string(bareLabel(f.label)) + "需要填写I0~31,或者是整数!");
    if (f.list != List::kNone && listIndex(f.list, v[i]) < 0)
      return refuse(at, std::string(bareLabel(f.label)) + "需要从列表中选择!");
  }
  return {true};
}

RecordOperand operandOf(const Field& f, const std::string& v) {
  const Entry e = parseEntry(v);
  if (e.form == Form::kIRegister && (f.allow & kAllowI)) return RecordOperand::iReg(e.reg);
  if (e.form == Form::kSRegister && (f.allow & kAllowS)) return RecordOperand::sReg(e.reg);
  if (e.form == Form::kInteger && (f.allow & kAllowInt))
    return RecordOperand::integer(f.seconds ? e.number * 1000 : e.number);
  return RecordOperand::str(platform::utf8ToGbk(v));
}

void store(const Field& f, const std::string& v, std::span<uint8_t> rec) {
  switch (f.shape) {
    case Shape::kTextOrNumber:
      writeTextOrNumber(rec, f.offset, operandOf(f, v));
      break;
    case Shape::kNumber:
      writeNumber(rec, f.offset, operandOf(f, v));
      break;
    case Shape::kText:
      writeText(rec, f.offset, f.size, operandOf(f, v));
      break;
    case Shape::kRegisterByte:
    case Shape::kVoiceTypeByte:
      writeRegisterByte(rec, f.offset, listIndex(f.list, v));
      break;
    case Shape::kPlayChannel: {
      const int i = listIndex(f.list, v);  // 0 is "$chan", then I0..I31
      rec[f.offset] = i == 0 ? kOpSys : kOpI;
      rec[f.offset + 1] = i == 0 ? static_cast<uint8_t>(kSysChan) : static_cast<uint8_t>(i - 1);
      break;
    }
    case Shape::kEndKey: {
      RecordOperand op = operandOf(f, v);
      if (op.type == kOpStr) op.text = op.text.substr(0, 1);
      writeText(rec, f.offset, 1, op);
      break;
    }
    case Shape::kFlag:
      putI16(rec, f.offset, v == "1" ? 1 : 0);
      break;
  }
}

std::string showOperand(const Field& f, const RecordOperand& op) {
  switch (op.type) {
    case kOpI:
      return "I" + std::to_string(op.reg);
    case kOpS:
      return "S" + std::to_string(op.reg);
    case kOpInt:
      return f.seconds ? secondsText(op.number) : std::to_string(op.number);
    case kOpStr:
      return platform::gbkToUtf8(op.text);
    default:
      return std::string(f.defaultText);
  }
}

}  // namespace

Entry parseEntry(std::string_view t) {
  if (t.size() >= 2 && (t[0] == 'I' || t[0] == 'i' || t[0] == 'S' || t[0] == 's') &&
      allDigits(t.substr(1))) {
    const std::string_view digits = t.substr(1, 2);
    const int reg = std::stoi(std::string(digits));
    if (reg <= 31)
      return {t[0] == 'I' || t[0] == 'i' ? Form::kIRegister : Form::kSRegister, reg, 0};
  }
  const std::string_view digits = !t.empty() && t[0] == '-' ? t.substr(1) : t;
  if (allDigits(digits)) return {Form::kInteger, 0, std::stoi(std::string(t.substr(0, 9)))};
  return {};
}

std::vector<std::string> listItems(List list) {
  std::vector<std::string> items;
  switch (list) {
    case List::kNone:
      break;
    case List::kVoiceTypes:
      items = {std::string(kFileVoice), std::string(kIndexVoice)};
      break;
    case List::kPlayChannels:
      items.push_back(std::string(kChan));
      [[fallthrough]];
    case List::kIRegisters:
    case List::kSRegisters:
      for (int i = 0; i < 32; ++i)
        items.push_back((list == List::kSRegisters ? "S" : "I") + std::to_string(i));
      break;
  }
  return items;
}

const Dialog* dialogFor(int kind) {
  for (const Dialog& d : dialogs())
    if (d.kind == kind) return &d;
  return nullptr;
}

std::vector<std::string> show(int kind, std::span<const uint8_t> rec) {
  std::vector<std::string> out;
  const Dialog* d = dialogFor(kind);
  if (!d) return out;
  for (const Field& f : d->fields) {
    switch (f.shape) {
      case Shape::kTextOrNumber:
        out.push_back(showOperand(f, readTextOrNumber(rec, f.offset)));
        break;
      case Shape::kNumber:
        out.push_back(showOperand(f, readNumber(rec, f.offset)));
        break;
      case Shape::kText:
        out.push_back(showOperand(f, readText(rec, f.offset, f.size)));
        break;
      case Shape::kEndKey:
        out.push_back(showOperand(f, readText(rec, f.offset, 1)));
        break;
      case Shape::kRegisterByte:
      case Shape::kVoiceTypeByte: {
        const std::vector<std::string> items = listItems(f.list);
        const int i = readRegisterByte(rec, f.offset);
        out.push_back(i < static_cast<int>(items.size()) ? items[i] : items[0]);
        break;
      }
      case Shape::kPlayChannel: {
        const RecordOperand op = readNumber(rec, f.offset);
        out.push_back(op.type == kOpI && op.reg < 32 ? "I" + std::to_string(op.reg)
                                                     : std::string(kChan));
        break;
      }
      case Shape::kFlag:
        out.push_back(getI16(rec, f.offset) == 1 ? "1" : "0");
        break;
    }
  }
  return out;
}

Outcome accept(int kind, std::span<const uint8_t> record, const std::vector<std::string>& values) {
  const Dialog* d = dialogFor(kind);
  if (!d || values.size() != d->fields.size()) return {};
  Outcome o = checkKind(kind, values);
  if (o.ok) o = checkShapes(*d, values);
  if (!o.ok) return o;
  // The scratch copy: the block keeps its record until the dialog is closed
  // with "确定" and the caller stores this one.
  o.record.assign(record.begin(), record.end());
  for (size_t i = 0; i < d->fields.size(); ++i)
    store(d->fields[i], values[i], o.record);
  return o;
}

Outcome acceptForBlock(Chart& chart, int b, const std::vector<std::string>& values) {
  if (b < 0 || b >= chart.blockCount()) return {};
  const GELE& block = chart.block(b);
  Outcome o = accept(block.kind, block.record, values);
  if (o.ok && !chart.setRecord(b, o.record)) o.ok = false;
  return o;
}

bool acceptsKey(int kind, int field, std::string_view key) {
  if (key == kBackspace) return true;
  const bool one = key.size() == 1;
  const char c = one ? key[0] : 0;
  const bool digit = one && c >= '0' && c <= '9';
  if (kind == PlayVoiceRecord::kKind && field == 1) return one && (c == '0' || c == '1');
  if (kind == PlayVoiceRecord::kKind && field == 2)
    return digit || (one && std::string_view("*#?NnDd").find(c) != std::string_view::npos);
  if (kind == DigitRecord::kKind && field == 1) return one && (c == '0' || c == '1');
  if (kind == DigitRecord::kKind && (field == 2 || field == 3)) return digit;
  return true;
}

}  // namespace chart::dialogs
