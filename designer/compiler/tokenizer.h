// Line preparation and the tokenizer of the script language.
//
// A script line is GBK text. Before it is tokenized it is folded to lower
// case (ASCII letters only) and classified: blank lines and "//" comment
// lines produce no statement. Only the space separates tokens; tabs and other
// control characters are ordinary characters of a word.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace compiler {

// Folds ASCII A-Z to a-z. The second byte of a GBK double-byte character is
// left alone: it may lie in the A-Z range, and folding it would change the
// character.
std::string foldLine(std::string_view line);
void foldLine(std::string_view line, std::string& out);  // reuses out's storage

enum class LineKind { kBlank, kComment, kStatement };

// Blank after trimming the characters up to and including the space at both
// ends, a comment when the trimmed text has two or more characters and starts
// with "//", else a statement.
LineKind classifyLine(std::string_view line);

enum class TokenKind : uint8_t {
  kWord = 0,
  kComma = 1,
  kString = 2,
  kEnd = 3,
  kGreater = 4,
  kLess = 5,
  kGreaterEq = 6,
  kLessEq = 7,
  kEqual = 8,
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;  // word and string text (quotes removed, "" made one); "," for a comma
};

// Reads the tokens of one folded line, left to right. The end of the line
// (also an embedded zero byte) reads as an end-of-line token every time it is
// asked for; it counts as one character consumed.
class Tokenizer {
 public:
  explicit Tokenizer(std::string_view line) : line_(line) {}

  // Reads the next token into `t` (reusing its storage).
  void next(Token& t);
  // 1-based index of the last character consumed; 0 before the first.
  int position() const { return pos_; }

 private:
  char peek() const { return pos_ < static_cast<int>(line_.size()) ? line_[pos_] : '\0'; }

  std::string_view line_;
  int pos_ = 0;  // also the 0-based index of the next character
  bool endConsumed_ = false;
};

}  // namespace compiler
