// Writes samples/flows/sample.cpl: a hand-built compiled flow with a block of
// every kind and a script block that uses most of the script language, built
// through the shared record and operand helpers.
//   make_sample_cpl OUT.cpl
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "flowfile/blockrecords.h"
#include "flowfile/cplwriter.h"
#include "flowfile/encode.h"
#include "platform/gbk.h"

using namespace cpl;

namespace {

StringPool pool;

PoolRef str(const std::string& utf8) {
  return *pool.append(platform::utf8ToGbk(utf8));
}

void putText(std::vector<uint8_t>& rec, int at, const std::string& utf8) {
  std::string gbk = platform::utf8ToGbk(utf8);
  std::memcpy(&rec[at], gbk.data(), gbk.size());
}

// text-or-number operand holding a string constant
void textConst(std::vector<uint8_t>& rec, int at, const std::string& utf8) {
  rec[at + TextOrNumber::kType] = kOpStr;
  putText(rec, at + TextOrNumber::kText, utf8);
}

void number(std::vector<uint8_t>& rec, int at, int32_t v) {
  rec[at + NumberOperand::kType] = kOpInt;
  putI32(rec, at + NumberOperand::kNumber, v);
}

Operand I(int n) {
  return Operand::regOf(kOpI, n);
}
Operand F(int n) {
  return Operand::regOf(kOpF, n);
}
Operand T(int n) {
  return Operand::regOf(kOpT, n);
}
Operand S(int n) {
  return Operand::regOf(kOpS, n);
}
Operand K(int32_t v) {
  return Operand::intConst(v);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample_cpl OUT.cpl\n");
    return 2;
  }
  CplWriter w;
  std::vector<std::vector<uint8_t>> recs;

  // 0 start -> 1
  auto start = blankRecord(kKindStart);
  setExit(start, 0, 1);

  // 1 play the welcome prompt; ended -> 2
  auto play = blankRecord(kKindPlayVoice);
  textConst(play, PlayVoiceRecord::kVoiceFile, "welcome.voc");
  number(play, PlayVoiceRecord::kVoiceType, 0);
  play[PlayVoiceRecord::kInterruptKeys] = kOpStr;
  putText(play, PlayVoiceRecord::kInterruptKeys + 2, "#");
  play[PlayVoiceRecord::kPlayChannel] = kOpSys;
  play[PlayVoiceRecord::kPlayChannel + 1] = kSysChan;
  setExit(play, 0, 2);

  // 2 menu: key 1 -> input, 2 -> record, 3 -> combined playback
  auto menu = blankRecord(kKindDigit);
  textConst(menu, DigitRecord::kPrompt, "menu.voc");
  number(menu, DigitRecord::kVoiceType, 0);
  number(menu, DigitRecord::kReplays, 2);
  number(menu, DigitRecord::kWaitAfter, 5000);
  menu[DigitRecord::kKeyVar] = 0;
  setExit(menu, 1, 3);
  setExit(menu, 2, 4);
  setExit(menu, 3, 6);

  // 3 key input of 4 digits ended by '#' into S1 -> script
  auto input = blankRecord(kKindInput);
  textConst(input, InputRecord::kPrompt, "input.voc");
  number(input, InputRecord::kDigitCount, 4);
  input[InputRecord::kEndKey] = kOpStr;
  input[InputRecord::kEndKey + 2] = '#';
  input[InputRecord::kDigitsVar] = 1;
  number(input, InputRecord::kRepeat, 2);
  number(input, InputRecord::kDigitWait, 5000);
  setExit(input, 0, 5);

  // 4 record a message of at most 30 s, stopped by '#'
  auto record = blankRecord(kKindRecord);
  record[RecordRecord::kFile] = kOpStr;
  putText(record, RecordRecord::kFile + 2, "msg.voc");
  record[RecordRecord::kStopKeys] = kOpStr;
  putText(record, RecordRecord::kStopKeys + 2, "#");
  number(record, RecordRecord::kLength, 30);

  // 6 combined playback of S1 as digits
  auto tts = blankRecord(kKindPlayTts);
  number(tts, PlayTtsRecord::kPlayType, 1);
  tts[PlayTtsRecord::kContent] = kOpS;
  tts[PlayTtsRecord::kContent + 1] = 1;
  setExit(tts, 0, 7);

  // 7 call the extension in S2, then talk
  auto callExt = blankRecord(kKindCallExt);
  callExt[CallExtRecord::kExtensionVar] = 2;
  textConst(callExt, CallExtRecord::kWaitPrompt, "ringback.voc");
  callExt[CallExtRecord::kExtChannelVar] = 5;
  number(callExt, CallExtRecord::kWaitAnswer, 30000);
  setExit(callExt, 0, 8);
  auto talk = blankRecord(kKindTalk);
  talk[TalkRecord::kLinkedChannel] = 5;

  // 9..14: the kinds the runtime does not serve yet, in a chain
  auto seat = blankRecord(kKindCallSeat);
  textConst(seat, CallSeatRecord::kWaitPrompt, "wait.voc");
  setExit(seat, 0, 10);
  auto create = blankRecord(kKindCreateMeet);
  number(create, CreateMeetRecord::kRoomSize, 8);
  setExit(create, 0, 11);
  auto enter = blankRecord(kKindEnterMeet);
  setExit(enter, 0, 12);
  auto meet = blankRecord(kKindMeetTalk);
  setExit(meet, 0, 13);
  auto callOut = blankRecord(kKindCallOut);
  callOut[CallOutRecord::kCalledNumber] = kOpStr;
  putText(callOut, CallOutRecord::kCalledNumber + 2, "95555");
  setExit(callOut, 0, 14);
  auto cyc = blankRecord(kKindCycPlay);
  number(cyc, CycPlayRecord::kIndex, 3);
  number(cyc, CycPlayRecord::kTimeout, 20);

  for (auto* r : {&start, &play, &menu, &input, &record})
    w.addRecord(*r);

  // 5 the script block
  std::vector<Instruction> code;
  auto add = [&](int16_t op, std::initializer_list<Operand> ops) {
    auto ins = buildInstruction(static_cast<uint32_t>(code.size()), op, ops);
    if (!ins) {
      std::fprintf(stderr, "make_sample_cpl: bad operands for opcode %d\n", op);
      std::exit(1);
    }
    code.push_back(*ins);
  };
  add(kSet, {I(1), K(10)});
  add(kSet, {F(1), Operand::fltConst(2.5)});
  add(kAdd, {I(1), K(5)});
  add(kSub, {I(1), K(1)});
  add(kMul, {F(1), I(1)});
  add(kDiv, {F(1), K(2)});
  add(kSet, {S(1), Operand::strConst(str("ivr"))});
  add(kI2s, {I(1), S(2)});
  add(kStrcat, {S(1), S(2)});
  add(kStrlen, {I(2), S(1)});
  add(kStrupper, {S(1)});
  add(kStrmid, {K(0), K(3), S(1), S(3)});
  add(kStrreplace, {Operand::strConst(str("v")), Operand::strConst(str("w")), S(3)});
  add(kNow, {T(1)});
  add(kDateaddday, {T(1), K(1)});
  add(kDatepartyear, {T(1), I(3)});
  add(kT2s, {T(1), S(4)});
  add(kGetformattime, {K(1), S(5)});
  add(kLabelOnly, {});  // loop:
  add(kAdd, {I(4), K(1)});
  add(kIf, {I(4), Operand::byte(kRelLess), K(3), Operand::label(str("loop"), 18)});
  add(kPrint, {I(4)});
  add(kSet, {S(6), Operand::strConst(str("您好,世界"))});
  add(kStrparse, {K(1), Operand::strConst(str(",")), S(6), S(7)});
  add(kIf, {S(1), Operand::byte(kRelEq), Operand::strConst(str("ivr14")),
            Operand::label(str("done"), 26)});
  add(kGotoout, {Operand::label(str("menu"), 2)});
  add(kPrint, {S(1)});  // done:
  add(kGotoout, {Operand::label(str("next"), 6)});
  w.addScript(code, 6);

  for (auto* r : {&tts, &callExt, &talk, &seat, &create, &enter, &meet, &callOut, &cyc})
    w.addRecord(*r);

  auto bytes = w.finish(pool);
  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!out) {
    std::fprintf(stderr, "make_sample_cpl: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
