// One statement: a label definition, a command, or both, on one prepared line.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "designer/compiler/grammar.h"
#include "designer/compiler/tokenizer.h"
#include "flowfile/cplformat.h"
#include "flowfile/encode.h"

namespace compiler {

inline constexpr int kLabelFieldSize = 256;  // a label of up to 255 characters and its zero

// One compiled statement: its label definition (with the ":", empty when the
// statement has none) and its instruction record.
struct ScriptEntry {
  std::array<char, kLabelFieldSize> label{};
  cpl::Instruction record;

  bool hasLabel() const { return label[0] != '\0'; }
  std::string_view labelText() const { return std::string_view(label.data()); }
};

// Where and why a statement failed.
struct StatementError {
  std::string_view message;  // UTF-8
  Token token;               // the token at which the statement failed
  int position = 0;          // the tokenizer's position after reading it
};

// Messages of this module that the language leaves to us.
inline constexpr std::string_view kPoolOverflow = "字符串常量区溢出";
inline constexpr std::string_view kLabelTooLong = "Label长度超过255个字符";
inline constexpr std::string_view kNotAFloat = "字符常量不是浮点常数";
inline constexpr std::string_view kTimeTooLong = "时间常量超过14个字符";
inline constexpr std::string_view kEncodeFailed = "操作数不能编码";

class StatementParser {
 public:
  // `line` is the folded text of source line `lineIndex`; strings the
  // statement needs are appended to `pool`.
  StatementParser(std::string_view line, uint32_t lineIndex, cpl::StringPool& pool);

  // Parses the statement into `entry`. On failure error() says why and
  // `entry` must be discarded.
  bool parse(ScriptEntry& entry);
  const StatementError& error() const { return error_; }

  // ---- for the grammars ----
  // Reads the next token and makes it the current one.
  const Token& next();
  const Token& token() const { return token_; }
  bool isWord() const { return token_.kind == TokenKind::kWord; }
  // Records the failure at the current token; always returns false.
  bool fail(std::string_view message);
  // Reads a token that must be a comma / the end of the line, else fails with `message`.
  bool expectComma(std::string_view message);
  bool expectEnd(std::string_view message);

  enum class Match { kNo, kYes, kFailed };
  // Whether the current token has form `f`; on kYes `out` holds its value
  // (strings already in the pool). kFailed means the statement failed here.
  Match match(Form f, const Grammar& g, cpl::Operand& out);
  // Appends `text` to the pool; fails the statement when the pool is full.
  bool addToPool(std::string_view text, cpl::PoolRef& ref);
  // Writes `v` into field `index` of the opcode's layout.
  bool put(const Grammar& g, int index, const cpl::Operand& v);

 private:
  Tokenizer tokens_;
  Token token_;
  uint32_t lineIndex_;
  cpl::StringPool& pool_;
  cpl::Instruction* record_ = nullptr;
  StatementError error_;
};

}  // namespace compiler
