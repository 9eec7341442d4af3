// The texts of the compiler's error boxes and where the editor's caret goes.
// Every box the compiler shows is made here. Texts are UTF-8; the GBK
// pieces they quote (tokens, labels) are converted on the way in.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "designer/compiler/statement.h"

namespace compiler {

inline constexpr std::string_view kErrorCaption = "错误";

// A range of the editor's text: byte offsets into the GBK text with its lines
// joined by CR LF, as the memo counts them.
struct Selection {
  int start = 0;
  int length = 0;
  bool operator==(const Selection&) const = default;
};

// "[4行;7列]错误的ID\"EOL\",缺少逗号": the line, the tokenizer's position, the
// failing token ("EOL" for the end of the line, empty for an operator) and the message.
std::string statementErrorText(int line, const StatementError& e);

// "2行和5行的Label\"loop:\"重复"
std::string duplicateLabelText(int firstLine, int secondLine, std::string_view labelGbk);

// "3行GoTo命令没有匹配label", or CondGoTo for `condgoto`.
std::string missingLabelText(int line, bool condgoto);

// The token a statement failed at, in a line that starts at `lineOffset`.
Selection caretAfterError(int lineOffset, const StatementError& e);

// `sel` as the editor counts its text: characters (one per GBK character,
// whatever its byte count) with one line break between lines instead of CR
// LF. A position inside a line break or past the end lands at the end of
// that line or of the text. `gbkLines` are the lines the compiler was given.
Selection editorSelection(const std::vector<std::string>& gbkLines, Selection sel);

}  // namespace compiler
