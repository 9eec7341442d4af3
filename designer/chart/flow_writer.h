// Turns a chart into its compiled flow file: every fixed-kind block's
// record with its exit slots refreshed from the chart, every script block
// compiled by TParser with its gotoout records resolved to the blocks its
// named exits lead to, then the string pool. The frame comes from CplWriter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "designer/chart/chart.h"
#include "platform/messagebox.h"

namespace chart {

// Status texts of the compile command (UTF-8).
inline constexpr std::string_view kCompiling = "正在编译....";
inline constexpr std::string_view kCompileSucceeded = "编译成功!";
inline constexpr std::string_view kCompiledSuffix = "文件编译完成";  // after the file name

struct CompileOutcome {
  bool ok = false;
  int failedBlock = -1;     // the script block that did not compile
  std::string status;       // on failure: "编译错误,脚本命令<block>错误"
  std::string scriptError;  // on failure: the compiler's box text
  // The file: whole after a good compile; after a failed one, the frame, the
  // sections before the failing block and its int16 48, with no pool.
  std::vector<uint8_t> bytes;
};

// Compiles `chart` with a string pool of its own. The compiler's error box
// goes to `box` (may be null).
CompileOutcome compileChart(const Chart& chart, platform::MessageSink* box = nullptr);

// Writes outcome.bytes to `path`, replacing any file there. False (errno
// set) when the file cannot be written.
bool writeFlowFile(const std::string& path, const std::vector<uint8_t>& bytes);

// "a.src" gives "a.cpl"; a name without ".src" gets ".cpl" appended, so the
// project itself is never overwritten.
std::string compiledNameFor(const std::string& projectName);
// The project name that a never-saved chart takes when compiled to `cpl`:
// "a.cpl" gives "a.src"; a name without ".cpl" gets ".src" appended.
std::string projectNameFor(const std::string& compiledName);
// "<file>文件编译完成"
std::string compiledStatus(const std::string& compiledName);

// The compile command of the designer's window ("生成IVR执行文件").
struct CompileCommandResult {
  bool ran = false;          // false: a never-saved chart and a cancelled dialog
  bool ok = false;           // the whole file was written
  std::string compiledName;  // the file written
  std::string status;        // the second status panel's text afterwards
};
// A chart with a project name compiles next to it ("a.src" gives "a.cpl"),
// shows "编译成功!" through `box` on success and saves the project. A
// never-saved chart compiles to `chosenName` (the save dialog's answer;
// empty when cancelled), takes the project name that goes with it and is
// saved under it, without a box. The project is saved after every compile
// that ran, a failed one too. A script error leaves the compiler's box and
// the writer's status text; a file that cannot be written is reported in
// the status text, never as a success.
CompileCommandResult compileCommand(Chart& chart, const std::string& chosenName,
                                    platform::MessageSink* box);

}  // namespace chart
