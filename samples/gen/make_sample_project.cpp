// Draws the sample project samples/flows/sample.src with the chart editor's
// own functions: blocks placed, parameters set as their dialogs store them,
// scripts confirmed through the compiler as the script editor does, and
// connections drawn from exits to ports along right-angle routes.
//   make_sample_project OUT.src
//
// The flow: welcome (cut short by #) -> menu. Key 1: key input of four
// digits -> script "check" -> the number spoken back, or the menu again, or
// good-bye. Key 2: script "name" (the message file of this call) -> a
// recorded message -> script "tally" (the message's row) -> good-bye.
#include <cstdio>
#include <cstring>
#include <string>

#include "designer/chart/canvas_state.h"
#include "designer/chart/geometry.h"
#include "designer/chart/project_file.h"
#include "designer/compiler/tparser.h"
#include "flowfile/blockrecords.h"
#include "flowfile/bytes.h"
#include "flowfile/operands.h"
#include "platform/gbk.h"

using namespace chart;
using namespace cpl;

namespace {

Chart flow;

// The record of block `b` is edited as its dialog edits it: a copy changed
// field by field, then stored in one command.
struct Edit {
  explicit Edit(int block) : b(block), record(flow.block(block).record) {}
  ~Edit() { flow.setRecord(b, record); }
  // A string constant in a text-or-number operand.
  void nameConst(int at, const std::string& utf8) {
    writeTextOrNumber(record, at, RecordOperand::str(platform::utf8ToGbk(utf8)));
  }
  // A string constant in a text operand of `size`.
  void textConst(int at, int size, const std::string& utf8) {
    writeText(record, at, size, RecordOperand::str(platform::utf8ToGbk(utf8)));
  }
  void number(int at, int32_t v) { writeNumber(record, at, RecordOperand::integer(v)); }
  int b;
  std::vector<uint8_t> record;
};

int place(int kind, int left, int top, const char* note) {
  const int i = flow.addBlock(kind, left, top);
  flow.setNote(i, platform::utf8ToGbk(note));
  return i;
}

// Sets the script and confirms it as the script editor does: the exits are
// the names its gotoout commands use.
void confirmScript(int b, const std::string& utf8) {
  const std::string script = platform::utf8ToGbk(utf8);
  compiler::TParser parser;
  parser.setSource(compiler::splitLines(script));
  if (!parser.compile()) {
    std::fprintf(stderr, "make_sample_project: script of block %d: %s\n", b,
                 parser.error().text.c_str());
    std::exit(1);
  }
  flow.setScript(b, script, parser.exitNames());
}

int exitNamed(int b, const char* name) {
  const auto& exits = flow.block(b).exits;
  for (size_t i = 0; i < exits.size(); ++i)
    if (exits[i].name == platform::utf8ToGbk(name)) return static_cast<int>(i);
  std::fprintf(stderr, "make_sample_project: block %d has no exit %s\n", b, name);
  std::exit(1);
}

// Drags from exit `e` of block `from` to the port of block `to`.
void draw(int from, int e, int to) {
  const TMYPoint start = flow.block(from).exitAnchor(e);
  TMYPoint port;
  const TMYPoint drop = flow.block(to).inputAnchor();
  const int code = flow.block(to).hitTest(drop.x, drop.y, &port);
  Polyline route = proposeRoute(start, drop, from == to ? std::nullopt : std::optional(port));
  simplify(route);
  if (dropConnection(flow, from, e, to, code, route) < 0) {
    std::fprintf(stderr, "make_sample_project: cannot connect %d.%d to %d\n", from, e, to);
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
    std::fprintf(argc == 2 ? stdout : stderr, "usage: make_sample_project OUT.src\n");
    return argc == 2 ? 0 : 2;
  }
  flow.setNote(0, platform::utf8ToGbk("来电"));

  const int welcome = place(kKindPlayVoice, 100, 180, "欢迎语,按#跳过");
  {
    Edit e(welcome);
    e.nameConst(PlayVoiceRecord::kVoiceFile, "welcome.voc");
    e.number(PlayVoiceRecord::kVoiceType, 0);
    e.textConst(PlayVoiceRecord::kInterruptKeys, PlayVoiceRecord::kInterruptKeysSize, "#");
    e.record[PlayVoiceRecord::kPlayChannel] = kOpSys;
    e.record[PlayVoiceRecord::kPlayChannel + 1] = kSysChan;
  }

  const int menu = place(kKindDigit, 100, 260, "主菜单:1输入号码,2留言");
  {
    Edit e(menu);
    e.nameConst(DigitRecord::kPrompt, "menu.voc");
    e.number(DigitRecord::kVoiceType, 0);
    e.number(DigitRecord::kReplays, 2);
    e.number(DigitRecord::kWaitAfter, 5000);
  }

  const int input = place(kKindInput, 100, 380, "输入四位号码到S1");
  {
    Edit e(input);
    e.nameConst(InputRecord::kPrompt, "input.voc");
    e.number(InputRecord::kVoiceType, 0);
    e.number(InputRecord::kDigitCount, 4);
    e.textConst(InputRecord::kEndKey, 1, "#");
    writeRegisterByte(e.record, InputRecord::kDigitsVar, 1);
    e.number(InputRecord::kRepeat, 1);
    e.number(InputRecord::kDigitWait, 5000);
  }

  const int check = place(kKindScript, 100, 460, "检查号码");
  confirmScript(check,
                "// S1: the digits keyed in\r\n"
                "strlen i1, s1\r\n"
                "if i1 < 4 goto again\r\n"
                "s2i s1, i2\r\n"
                "set i3, i2\r\n"
                "mul i3, 3\r\n"
                "sub i3, 2\r\n"
                "div i3, 4\r\n"
                "i2s i3, s3\r\n"
                "set s2, \"号码\"\r\n"
                "strcat s2, s1\r\n"
                "strcat s2, \"=\"\r\n"
                "strcat s2, s3\r\n"
                "print s2\r\n"
                "// the call's record\r\n"
                "set s6, $callid\r\n"
                "set s7, $caller\r\n"
                "set s8, $called\r\n"
                "now t1\r\n"
                "preparesql \"insert or replace into t_callrecord (callid, callerno, calledno, "
                "starttime, endtime, calllength) values ('1?', '2?', '3?', '4?', '4?', 0)\"\r\n"
                "setparamin 1, s6\r\n"
                "setparamin 2, s7\r\n"
                "setparamin 3, s8\r\n"
                "setparamin 4, t1\r\n"
                "sqlexec 0, i7\r\n"
                "if i2 > 5000 goto big\r\n"
                "gotoout small\r\n"
                "big: gotoout large\r\n"
                "again: gotoout retry");

  const int record = place(kKindRecord, 400, 380, "留言,按#结束");
  {
    Edit e(record);
    // Named by the script "name": one file per message.
    writeText(e.record, RecordRecord::kFile, RecordRecord::kFileSize, RecordOperand::sReg(10));
    e.textConst(RecordRecord::kStopKeys, RecordRecord::kStopKeysSize, "#");
    e.number(RecordRecord::kLength, 30);
  }

  const int speak = place(kKindPlayTts, 100, 560, "读出号码");
  {
    Edit e(speak);
    e.number(PlayTtsRecord::kPlayType, 3);
    writeText(e.record, PlayTtsRecord::kContent, PlayTtsRecord::kContentSize,
              RecordOperand::sReg(1));
  }

  const int bye = place(kKindPlayVoice, 400, 640, "再见");
  {
    Edit e(bye);
    e.nameConst(PlayVoiceRecord::kVoiceFile, "bye.voc");
    e.number(PlayVoiceRecord::kVoiceType, 0);
    e.textConst(PlayVoiceRecord::kInterruptKeys, PlayVoiceRecord::kInterruptKeysSize, "N");
    e.record[PlayVoiceRecord::kPlayChannel] = kOpSys;
    e.record[PlayVoiceRecord::kPlayChannel + 1] = kSysChan;
  }

  const int tally = place(kKindScript, 400, 460, "留言计数");
  confirmScript(tally,
                "// count to three, then say good-bye\r\n"
                "set i6, 0\r\n"
                "loop: add i6, 1\r\n"
                "if i6 < 3 goto loop\r\n"
                "set s4, \"留言\"\r\n"
                "i2s i6, s5\r\n"
                "strcat s4, s5\r\n"
                "strtrim s4\r\n"
                "print s4\r\n"
                "// the message, for the voice-mail browser: its file, when it\r\n"
                "// began and ended, and how many seconds it lasted\r\n"
                "now t3\r\n"
                "datediffsec t2, t3, i8\r\n"
                "preparesql \"insert or replace into t_leaveword (recordid, recordname, starttime, "
                "endtime, recordlength, listenflag) values ('1?', '2?', '3?', '4?', 5?, 0)\"\r\n"
                "setparamin 1, s9\r\n"
                "setparamin 2, s10\r\n"
                "setparamin 3, t2\r\n"
                "setparamin 4, t3\r\n"
                "setparamin 5, i8\r\n"
                "sqlexec 0, i7\r\n"
                "if i6 = 3 goto done\r\n"
                "gotoout again\r\n"
                "done: gotoout goodbye");

  // Each caller's message goes into a file of its own, named by the call.
  const int name = place(kKindScript, 400, 300, "留言文件名");
  confirmScript(name,
                "// S10: the message file of this call, T2: when it began\r\n"
                "set s9, $callid\r\n"
                "set s10, \".\\voice\\msg\"\r\n"
                "strcat s10, s9\r\n"
                "strcat s10, \".voc\"\r\n"
                "now t2");

  draw(0, 0, welcome);
  draw(welcome, 0, menu);  // ended or cut short
  draw(welcome, 1, menu);  // could not play
  draw(menu, 1, input);
  draw(menu, 2, name);
  draw(name, 0, record);
  draw(menu, 12, bye);  // no key
  draw(input, 0, check);
  draw(input, 1, bye);  // timed out
  draw(check, 0, bye);  // default exit
  draw(check, exitNamed(check, "small"), speak);
  draw(check, exitNamed(check, "large"), bye);
  draw(check, exitNamed(check, "retry"), menu);
  draw(record, 0, tally);
  draw(record, 1, bye);
  draw(speak, 0, bye);
  draw(tally, 0, bye);
  draw(tally, exitNamed(tally, "goodbye"), bye);
  draw(tally, exitNamed(tally, "again"), menu);

  if (!saveProjectFile(flow, argv[1])) {
    std::fprintf(stderr, "make_sample_project: cannot write %s: %s\n", argv[1],
                 std::strerror(errno));
    return 1;
  }
  return 0;
}
