#include "designer/compiler/tokenizer.h"

#include <gtest/gtest.h>

namespace compiler {
namespace {

TEST(LinePreparation, FoldsAsciiLettersButNotTheSecondByteOfAChineseCharacter) {
  const struct {
    std::string in, out;
  } rows[] = {
      {"SET I1,\"Hello\"", "set i1,\"hello\""},
      {"\xd6\xd0Z", "\xd6\xd0z"},
      {"\x81\x41Z", "\x81\x41z"},  // 0x41 here is half of a character, not an 'A'
      {"A\x81", "a\x81"},          // a lone lead byte at the end
      {"[@Z`]", "[@z`]"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(foldLine(r.in), r.out) << r.in;
}

TEST(LinePreparation, SkipsBlankAndCommentLines) {
  const struct {
    std::string line;
    LineKind kind;
  } rows[] = {
      {"", LineKind::kBlank},
      {"  \t \r", LineKind::kBlank},
      {"//", LineKind::kComment},
      {" \t// note", LineKind::kComment},
      {"/", LineKind::kStatement},
      {"/ /", LineKind::kStatement},
      {"stop // note", LineKind::kStatement},
      {"x", LineKind::kStatement},
  };
  for (const auto& r : rows)
    EXPECT_EQ(classifyLine(r.line), r.kind) << r.line;
}

// Tokens as "w:text@pos" (word), "s:text@pos" (string), or the operator,
// comma or EOL with @pos; the line is read one token past its end.
std::string readAll(std::string_view line) {
  static constexpr const char* kNames[] = {"w:", ",", "s:", "EOL", ">", "<", ">=", "<=", "="};
  Tokenizer tz(line);
  Token t;
  std::string out;
  for (int ends = 0; ends < 2;) {
    tz.next(t);
    ends += t.kind == TokenKind::kEnd;
    if (!out.empty()) out += ' ';
    out += kNames[static_cast<int>(t.kind)];
    if (t.kind == TokenKind::kWord || t.kind == TokenKind::kString) out += t.text;
    out += "@" + std::to_string(tz.position());
  }
  return out;
}

TEST(Tokenizer, ReadsTokensAndKeepsTheScanPosition) {
  const struct {
    std::string line, tokens;
  } rows[] = {
      {"set i1,5", "w:set@3 w:i1@6 ,@7 w:5@8 EOL@9 EOL@9"},
      {"  if i1>=5 goto x", "w:if@4 w:i1@7 >=@9 w:5@10 w:goto@15 w:x@17 EOL@18 EOL@18"},
      {"a<>b<=c=d", "w:a@1 <@2 >@3 w:b@4 <=@6 w:c@7 =@8 w:d@9 EOL@10 EOL@10"},
      {"\"a\"\"b\" \"\"", "s:a\"b@6 s:@9 EOL@10 EOL@10"},
      {"\"abc", "w:abc@4 EOL@5 EOL@5"},
      {"x\"y\" z", "w:x\"y\"@4 w:z@6 EOL@7 EOL@7"},
      {"loop:stop", "w:loop:@5 w:stop@9 EOL@10 EOL@10"},
      {"a:b:c", "w:a:@2 w:b:@4 w:c@5 EOL@6 EOL@6"},
      {"\tset\t i1", "w:\tset\t@5 w:i1@8 EOL@9 EOL@9"},
      {std::string("a\0b", 3), "w:a@1 EOL@2 EOL@2"},
      {"// x", "w://@2 w:x@4 EOL@5 EOL@5"},
      {"", "EOL@1 EOL@1"},
      {"x ,", "w:x@1 ,@3 EOL@4 EOL@4"},
      {"\xd6\xd0,\xce\xc4", "w:\xd6\xd0@2 ,@3 w:\xce\xc4@5 EOL@6 EOL@6"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(readAll(r.line), r.tokens) << r.line;
}

}  // namespace
}  // namespace compiler
