#include "designer/chart/flow_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "designer/chart/project_file.h"
#include "designer/compiler/tparser.h"
#include "flowfile/bytes.h"
#include "flowfile/cplwriter.h"

namespace chart {

namespace {

bool endsWithNoCase(std::string_view s, std::string_view tail) {
  if (s.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char c = s[s.size() - tail.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
}

}  // namespace

CompileOutcome compileChart(const Chart& chart, platform::MessageSink* box) {
  CompileOutcome out;
  // The pool belongs to this compile alone: it holds exactly the strings of
  // the file being written.
  cpl::StringPool pool;
  compiler::TParser parser(pool);
  parser.setMessageSink(box);
  cpl::CplWriter writer;

  for (int i = 0; i < chart.blockCount(); ++i) {
    const GELE& b = chart.block(i);
    if (!b.isScript()) {
      writer.addRecord(recordWithExits(b, chart.exitTargets(i)));
      continue;
    }
    const auto& s = static_cast<const GCMD_DTC_SCRIPT&>(b);
    parser.setSource(compiler::splitLines(s.script));
    if (!parser.compile()) {
      out.bytes = writer.finishFailedScript(chart.blockCount());
      out.failedBlock = i;
      out.scriptError = parser.error().text;
      out.status = "编译错误,脚本命令" + std::to_string(i) + "错误";
      return out;
    }
    for (compiler::ScriptEntry& e : parser.records())
      if (e.record.opcode() == cpl::kGotoout)
        compiler::setExitTarget(e.record,
                                chart.lookupExit(i, compiler::exitNameOf(e.record, pool)));
    writer.addScript(parser.instructions(), chart.exitTarget(i, 0));
  }
  out.bytes = writer.finish(pool);
  out.ok = true;
  return out;
}

bool writeFlowFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const int err = errno;
  const bool closed = std::fclose(f) == 0;
  if (!written) errno = err;
  return written && closed;
}

std::string compiledNameFor(const std::string& projectName) {
  if (endsWithNoCase(projectName, ".src"))
    return projectName.substr(0, projectName.size() - 3) + "cpl";
  return projectName + ".cpl";
}

std::string projectNameFor(const std::string& compiledName) {
  if (endsWithNoCase(compiledName, ".cpl"))
    return compiledName.substr(0, compiledName.size() - 4) + ".src";
  return compiledName + ".src";
}

std::string compiledStatus(const std::string& compiledName) {
  return compiledName + std::string(kCompiledSuffix);
}

CompileCommandResult compileCommand(Chart& chart, const std::string& chosenName,
                                    platform::MessageSink* box) {
  CompileCommandResult r;
  const bool untitled = chart.fileName() == kUntitled;
  if (untitled && chosenName.empty()) return r;
  r.ran = true;
  r.compiledName = untitled ? chosenName : compiledNameFor(chart.fileName());
  r.status = kCompiling;

  const CompileOutcome out = compileChart(chart, box);
  if (!writeFlowFile(r.compiledName, out.bytes)) {
    r.status = r.compiledName + ": cannot write: " + std::strerror(errno);
    return r;
  }
  r.ok = out.ok;
  r.status = out.ok ? compiledStatus(r.compiledName) : out.status;
  if (untitled) chart.setFileName(projectNameFor(r.compiledName));
  if (!untitled && out.ok && box) box->show(kEditorCaption, kCompileSucceeded);
  // The project is saved after every compile, a failed one included: the
  // chart on disk is then the one the compiled file (or its error) came from.
  if (!saveProjectFile(chart, chart.fileName()))
    r.status = chart.fileName() + ": cannot write: " + std::strerror(errno);
  return r;
}

}  // namespace chart
