// Writes the compiled flows that the end-to-end tests run under
// `olvaro --headless`, built with the shared record helpers.
//   make_e2e_flows OUTDIR
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "flowfile/blockrecords.h"
#include "flowfile/cplwriter.h"
#include "flowfile/encode.h"

using namespace cpl;

namespace {

void putText(std::vector<uint8_t>& r, int at, const char* s) {
  std::memcpy(&r[at], s, std::strlen(s));
}
void textConst(std::vector<uint8_t>& r, int at, const char* s) {
  r[at] = kOpStr;
  putText(r, at + 2, s);
}
void number(std::vector<uint8_t>& r, int at, int32_t v) {
  r[at] = kOpInt;
  putI32(r, at + 2, v);
}

bool save(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!out) std::fprintf(stderr, "make_e2e_flows: cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

// Start, leading nowhere: answer, start block, reset.
std::vector<uint8_t> startOnly() {
  CplWriter w;
  w.addRecord(blankRecord(kKindStart));
  return w.finish(StringPool{});
}

// Start -> welcome (cut short by #) -> menu: 1 -> key input of 3 digits into
// S1 -> record until # -> bye -> end; menu timeout -> bye.
std::vector<uint8_t> telephony() {
  CplWriter w;
  auto start = blankRecord(kKindStart);
  setExit(start, 0, 1);
  auto welcome = blankRecord(kKindPlayVoice);
  textConst(welcome, PlayVoiceRecord::kVoiceFile, "welcome.voc");
  textConst(welcome, PlayVoiceRecord::kInterruptKeys, "#");
  setExit(welcome, 0, 2);
  auto menu = blankRecord(kKindDigit);
  textConst(menu, DigitRecord::kPrompt, "menu.voc");
  number(menu, DigitRecord::kReplays, 1);
  number(menu, DigitRecord::kWaitAfter, 3000);
  setExit(menu, 1, 3);
  setExit(menu, 12, 5);
  auto input = blankRecord(kKindInput);
  textConst(input, InputRecord::kPrompt, "input.voc");
  number(input, InputRecord::kDigitCount, 3);
  input[InputRecord::kDigitsVar] = 1;
  number(input, InputRecord::kDigitWait, 5000);
  setExit(input, 0, 4);
  setExit(input, 1, 5);
  auto record = blankRecord(kKindRecord);
  textConst(record, RecordRecord::kFile, "rec.voc");
  textConst(record, RecordRecord::kStopKeys, "#");
  number(record, RecordRecord::kLength, 10);
  setExit(record, 0, 5);
  auto bye = blankRecord(kKindPlayVoice);
  textConst(bye, PlayVoiceRecord::kVoiceFile, "bye.voc");
  for (auto* r : {&start, &welcome, &menu, &input, &record, &bye})
    w.addRecord(*r);
  return w.finish(StringPool{});
}

// Start -> key input of 4 digits into S2 -> call the extension in S2 ->
// answered: talk with it -> when it hangs up, speak the number dialled ->
// bye; voice mail: record a message into the path the extension call gave
// (S4) until # -> bye; forwarding: bye at once.
std::vector<uint8_t> extension() {
  CplWriter w;
  auto start = blankRecord(kKindStart);
  setExit(start, 0, 1);
  auto input = blankRecord(kKindInput);
  textConst(input, InputRecord::kPrompt, "input.voc");
  number(input, InputRecord::kDigitCount, 4);
  input[InputRecord::kDigitsVar] = 2;
  number(input, InputRecord::kDigitWait, 5000);
  setExit(input, 0, 2);
  auto call = blankRecord(kKindCallExt);
  call[CallExtRecord::kExtensionVar] = 2;
  textConst(call, CallExtRecord::kWaitPrompt, "ringback.voc");
  call[CallExtRecord::kMessageVar] = 4;
  call[CallExtRecord::kForwardVar] = 5;
  call[CallExtRecord::kExtChannelVar] = 3;
  number(call, CallExtRecord::kRingMode, 1);
  setExit(call, 0, 3);
  for (int i = 1; i <= 5; ++i)
    setExit(call, i, i == 4 ? 6 : 5);
  auto talk = blankRecord(kKindTalk);
  talk[TalkRecord::kLinkedChannel] = 3;
  setExit(talk, 1, 4);
  auto speak = blankRecord(kKindPlayTts);
  number(speak, PlayTtsRecord::kPlayType, 3);
  speak[PlayTtsRecord::kContent] = kOpS;
  speak[PlayTtsRecord::kContent + 1] = 2;
  setExit(speak, 0, 5);
  auto bye = blankRecord(kKindPlayVoice);
  textConst(bye, PlayVoiceRecord::kVoiceFile, "bye.voc");
  auto message = blankRecord(kKindRecord);
  message[RecordRecord::kFile] = kOpS;
  message[RecordRecord::kFile + 1] = 4;
  textConst(message, RecordRecord::kStopKeys, "#");
  number(message, RecordRecord::kLength, 10);
  setExit(message, 0, 5);
  for (auto* r : {&start, &input, &call, &talk, &speak, &bye, &message})
    w.addRecord(*r);
  return w.finish(StringPool{});
}

// Start -> a script that writes the call's record into T_CallRecord -> end.
std::vector<uint8_t> callRecord() {
  StringPool pool;
  auto S = [](int n) { return Operand::regOf(kOpS, n); };
  auto str = [&](const char* s) { return Operand::strConst(*pool.append(s)); };
  std::vector<Instruction> code;
  auto add = [&](int16_t op, std::initializer_list<Operand> ops) {
    code.push_back(*buildInstruction(static_cast<uint32_t>(code.size()), op, ops));
  };
  add(kSet, {S(1), Operand::sys(kSysCallid)});
  add(kSet, {S(2), Operand::sys(kSysCaller)});
  add(kSet, {S(3), Operand::sys(kSysCalled)});
  add(kNow, {Operand::regOf(kOpT, 1)});
  add(kPreparesql, {str("insert into T_CallRecord (CallID, CallerNo, CalledNo, StartTime, EndTime, "
                        "CallLength) values ('1?', '2?', '3?', '4?', '4?', 0)")});
  add(kSetparamin, {Operand::intConst(1), S(1)});
  add(kSetparamin, {Operand::intConst(2), S(2)});
  add(kSetparamin, {Operand::intConst(3), S(3)});
  add(kSetparamin, {Operand::intConst(4), Operand::regOf(kOpT, 1)});
  add(kSqlexec, {Operand::intConst(0), Operand::regOf(kOpI, 1)});
  add(kPrint, {Operand::regOf(kOpI, 1)});
  CplWriter w;
  auto start = blankRecord(kKindStart);
  setExit(start, 0, 1);
  w.addRecord(start);
  w.addScript(code, NO_TARGET);
  return w.finish(pool);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_e2e_flows OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  return save(dir + "/start_only.cpl", startOnly()) && save(dir + "/telephony.cpl", telephony()) &&
                 save(dir + "/extension.cpl", extension()) &&
                 save(dir + "/callrecord.cpl", callRecord())
             ? 0
             : 1;
}
