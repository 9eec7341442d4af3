// TParser compiles the script of one script block into instruction records.
//
// It is used twice: by the script editor, which checks the script the author
// is typing and shows errors in place, and by the whole-flow compile, which
// compiles every script block again while it writes the compiled flow file.
//
// The string pool belongs to what is being compiled. The whole-flow writer
// owns one pool for the file and does, per script block:
//     cpl::StringPool pool;                 // one for the whole file
//     TParser parser(pool);                 // appends every block's strings
//     parser.setSource(blockLines);         // GBK lines
//     if (!parser.compile()) ...            // the box has been shown; error() says why
//     for (auto& e : parser.records())      // resolve each gotoout by its exit name:
//       if (e.record.opcode() == cpl::kGotoout)
//         setExitTarget(e.record, blockIndexOf(exitNameOf(e.record, pool)));
//     writer.addScript(parser.instructions(), defaultExitTarget);
// and finally writes pool.bytes(). A syntax check in the script editor uses
// a TParser with a pool of its own, emptied before each compile.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "designer/compiler/diagnostics.h"
#include "designer/compiler/statement.h"
#include "flowfile/cplformat.h"
#include "platform/messagebox.h"

namespace compiler {

// What the script editor offers the compiler. Texts are UTF-8; selections
// are as in Selection.
class ScriptEditor {
 public:
  virtual ~ScriptEditor() = default;
  virtual void showErrorBox(std::string_view caption, std::string_view text) = 0;
  virtual void selectRange(int start, int length) = 0;
  virtual void takeFocus() = 0;
};

struct CompileError {
  std::string text;           // the box text (UTF-8); empty after a good compile
  int line = -1;              // 0-based source line it concerns
  bool hasSelection = false;  // whether the caret was (or would be) placed
  Selection selection;
};

class TParser {
 public:
  TParser();  // a pool of its own, emptied at the start of every compile()
  explicit TParser(cpl::StringPool& pool);  // appends to `pool`, never empties it
  TParser(const TParser&) = delete;
  TParser& operator=(const TParser&) = delete;

  // The script, one GBK string per line (the editor's lines).
  void setSource(std::vector<std::string> lines);
  // Errors are then shown in `editor` (nullptr: none).
  void attachEditor(ScriptEditor* editor) { editor_ = editor; }
  // Where the error box goes when no editor is attached (nullptr: nowhere).
  void setMessageSink(platform::MessageSink* sink) { sink_ = sink; }

  // Compiles the whole script; false after the first error, which has been
  // shown. After a failure the records must not be written.
  bool compile();

  const std::vector<ScriptEntry>& records() const { return entries_; }
  std::vector<ScriptEntry>& records() { return entries_; }
  // The distinct gotoout exit names in order of first use (GBK, lower case).
  const std::vector<std::string>& exitNames() const { return exitNames_; }
  const CompileError& error() const { return error_; }
  cpl::StringPool& pool() { return pool_; }

  // The records alone, in order, for a writer that takes instructions.
  std::vector<cpl::Instruction> instructions() const;
  // The 49-byte records of every entry in order, nothing between them.
  void writeRecords(std::vector<uint8_t>& out) const;
  bool writeRecords(std::ostream& out) const;

 private:
  bool checkDuplicateLabels();
  bool resolveReferences();
  void report(std::string text, int line);
  int lineOffset(int line) const;  // where `line` starts in the editor's text

  std::unique_ptr<cpl::StringPool> own_;
  cpl::StringPool& pool_;
  std::vector<std::string> lines_;
  ScriptEditor* editor_ = nullptr;
  platform::MessageSink* sink_ = nullptr;
  std::vector<ScriptEntry> entries_;
  std::vector<std::string> exitNames_;
  CompileError error_;
};

// Splits a script text into lines at LF, dropping a CR before it. A final
// line without LF counts; an empty text has no lines.
std::vector<std::string> splitLines(std::string_view text);

// The exit name of a gotoout record, and the block its exit leads to.
std::string exitNameOf(const cpl::Instruction& gotoout, const cpl::StringPool& pool);
void setExitTarget(cpl::Instruction& gotoout, int32_t blockIndex);

}  // namespace compiler
