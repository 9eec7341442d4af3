// Flow checks: what can be told about a chart before it is loaded by the
// runtime, without a telephone. The command line ("flowdesigner check")
// prints the findings and the designer's window lists them; both take them
// from checkFlow(), so they always agree.
//
// What is found, and how the rules stay free of false alarms:
// - 出口未连接: an exit the runtime takes for a call outcome (played,
//   could not play, timed out, busy, no answer, no such extension, ...)
//   leads nowhere, so the call is cut off there. Only blocks that have at
//   least one connected exit are looked at: a block with none is the end of
//   its branch on purpose ("再见" then hang up). Hang-up exits are never
//   reported: leaving them open resets the channel, which is what a hang-up
//   needs. Key exits of the single-key branch are menu choices, not
//   outcomes. A start block whose exit leads nowhere is an error.
// - 无法到达: no chain of connected exits leads from the start block to it.
// - 脚本编译错误: the script does not compile; the compiler's own text.
//   The string pool is shared by all scripts of the flow, as in the
//   compiled file, so an overflow shows at the block where it happens.
// - gotoout出口不存在: the script names an exit the block does not have
//   (the exits are out of step with the script text); the compile would
//   send that gotoout nowhere.
// - 语音文件不存在: a voice file given as a constant, played as a file (voice
//   type 0), and found neither as named nor without regard to case in the
//   voice directory. Only checked when a voice directory is given; names
//   that the runtime does not look up there (".\", "..\", a drive or the
//   root, a register name such as "s3", fewer than 3 bytes) are left alone.
// - 参数未设置: every operand of the block is of type 0, which no accepted
//   dialog stores (each accepted operand gets a register, number or text
//   type), so the dialog was never confirmed. When only some operands are
//   0 (a file not written by these dialogs) those are named. A kind whose
//   dialog stores no typed operand (会议中, register lists only) cannot be
//   told apart and is not reported.
// - 运行时不支持: kinds the runtime passes over through exit 0 (40, 45, 46,
//   47, 50, 53), so what the chart shows does not happen.
// - 死循环 in a script: an instruction reachable from the start of the script
//   from which no path leads to an instruction that leaves the block
//   (gotoout, gotodef, resetchan, running past the end). Such a loop can
//   never end whatever the registers hold. A loop with a conditional way
//   out ("if i6 < 3 goto loop") is not reported: whether it ends is not
//   decidable in general. Nothing inside a script waits for the caller
//   (database commands wait for the database only), so a waiting command
//   does not excuse the loop.
// - 死循环 between blocks: blocks that pass the call on without waiting for
//   the caller (start, scripts, the kinds the runtime passes over) whose
//   possible ways out all lead back among themselves. The ways out of a
//   script are those its own control flow can reach; a way out that leads
//   nowhere, to a waiting block or out of a script that does not compile
//   counts as leaving. Reported once, at the lowest block of the loop.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "designer/chart/chart.h"

namespace chart {

enum class Severity { kError, kWarning };

enum class FindingKind {
  kUnconnectedExit,
  kUnreachable,
  kScriptError,
  kMissingExit,
  kMissingVoice,
  kParamsNotSet,
  kUnsupportedKind,
  kEndlessLoop,
};

struct Finding {
  Severity severity = Severity::kWarning;
  FindingKind what = FindingKind::kUnreachable;
  int block = 0;
  int kind = 0;
  std::string note;     // the block's note (UTF-8, one line)
  std::string message;  // UTF-8
  bool operator==(const Finding&) const = default;
};

struct CheckOptions {
  // The flow's voice directory (Linux path); empty: voice files are not checked.
  std::string voiceDir;
};

// The findings of `chart`, by block index and, within a block, in the order
// of the list above.
std::vector<Finding> checkFlow(const Chart& chart, const CheckOptions& options = {});

// One line: "错误: 命令3(播放语音)[欢迎语]: 参数未设置(属性对话框从未确定)";
// the bracketed note is left out when the block has none.
std::string formatFinding(const Finding& f);
// "检查完成: 1个错误, 2个警告"
std::string checkSummary(const std::vector<Finding>& findings);
bool hasErrors(const std::vector<Finding>& findings);

// The voice directory the designer's window checks a project against: the
// folder "voice" beside the project file (exactly that name), when it is
// there. Empty, so voice files are not checked, for a chart never saved
// ("未命名") or a project without that folder: any other guess would report
// every file of the flow missing. The command line takes --voice-dir instead.
std::string voiceDirBeside(std::string_view projectPath);

// The toolbar caption of a block kind ("播放语音"); "开始" for the start
// block; "类型<n>" for a kind outside the table.
std::string kindCaption(int kind);

}  // namespace chart
