#include "designer/compiler/diagnostics.h"

#include <algorithm>

#include "platform/gbk.h"

namespace compiler {

namespace {
std::string shownToken(const Token& t) {
  switch (t.kind) {
    case TokenKind::kEnd:
      return "EOL";
    case TokenKind::kWord:
    case TokenKind::kString:
    case TokenKind::kComma:
      return platform::gbkToUtf8(t.text);
    default:
      return "";  // operators carry no text
  }
}
}  // namespace

std::string statementErrorText(int line, const StatementError& e) {
  std::string text = "[";
  text += std::to_string(line);
  text += "行;";
  text += std::to_string(e.position);
  text += "列]错误的ID\"";
  text += shownToken(e.token);
  text += "\",";
  for (char c : e.message)
    if (c != '\0') text += c;
  return text;
}

std::string duplicateLabelText(int firstLine, int secondLine, std::string_view labelGbk) {
  return std::to_string(firstLine) + "行和" + std::to_string(secondLine) + "行的Label\"" +
         platform::gbkToUtf8(labelGbk) + "\"重复";
}

std::string missingLabelText(int line, bool condgoto) {
  return std::to_string(line) +
         (condgoto ? "行CondGoTo命令没有匹配label" : "行GoTo命令没有匹配label");
}

Selection caretAfterError(int lineOffset, const StatementError& e) {
  const int at = lineOffset + e.position;
  const int n = static_cast<int>(e.token.text.size());
  switch (e.token.kind) {
    case TokenKind::kString:
      return {at - n - 1, n + 1};
    case TokenKind::kEnd:
      return {at - 1, 1};
    default:
      return {at - n, n};
  }
}

namespace {

// The characters of the first `bytes` bytes of a GBK line; a lead byte
// counts with the byte after it.
int charsIn(std::string_view line, int bytes) {
  int chars = 0;
  for (int i = 0; i < bytes && i < static_cast<int>(line.size()); ++chars)
    i += static_cast<uint8_t>(line[i]) >= 0x81 && i + 1 < static_cast<int>(line.size()) ? 2 : 1;
  return chars;
}

int editorPosition(const std::vector<std::string>& lines, int offset) {
  int pos = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const int size = static_cast<int>(lines[i].size());
    if (offset <= size + 1 || i + 1 == lines.size())
      return pos + charsIn(lines[i], std::min(std::max(offset, 0), size));
    offset -= size + 2;
    pos += charsIn(lines[i], size) + 1;
  }
  return pos;
}

}  // namespace

Selection editorSelection(const std::vector<std::string>& gbkLines, Selection sel) {
  const int start = editorPosition(gbkLines, sel.start);
  const int end = editorPosition(gbkLines, sel.start + std::max(sel.length, 0));
  return {start, end - start};
}

}  // namespace compiler
