#include "designer/compiler/tokenizer.h"

#include "platform/gbk.h"

namespace compiler {

std::string foldLine(std::string_view line) {
  std::string out;
  foldLine(line, out);
  return out;
}

void foldLine(std::string_view line, std::string& out) {
  out.assign(line);
  platform::gbkAsciiLowerInPlace(out);
}

LineKind classifyLine(std::string_view line) {
  auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  size_t b = 0, e = line.size();
  while (b < e && isSpace(line[b]))
    ++b;
  while (e > b && isSpace(line[e - 1]))
    --e;
  if (b == e) return LineKind::kBlank;
  if (e - b >= 2 && line[b] == '/' && line[b + 1] == '/') return LineKind::kComment;
  return LineKind::kStatement;
}

namespace {
bool endsWord(char c) {
  return c == ' ' || c == ',' || c == ':' || c == '>' || c == '<' || c == '=' || c == '\0';
}
}  // namespace

void Tokenizer::next(Token& t) {
  t.text.clear();
  if (endConsumed_) {
    t.kind = TokenKind::kEnd;
    return;
  }
  while (peek() == ' ')
    ++pos_;
  char c = peek();
  switch (c) {
    case '\0':
      t.kind = TokenKind::kEnd;
      ++pos_;
      endConsumed_ = true;
      return;
    case ',':
      t.kind = TokenKind::kComma;
      t.text.push_back(',');
      ++pos_;
      return;
    case '>':
    case '<': {
      ++pos_;
      const bool orEqual = peek() == '=';
      if (orEqual) ++pos_;
      if (c == '>')
        t.kind = orEqual ? TokenKind::kGreaterEq : TokenKind::kGreater;
      else
        t.kind = orEqual ? TokenKind::kLessEq : TokenKind::kLess;
      return;
    }
    case '=':
      t.kind = TokenKind::kEqual;
      ++pos_;
      return;
    case '"':
      ++pos_;
      for (;;) {
        c = peek();
        if (c == '\0') {
          // An unterminated string reads as a word of what was read so far.
          t.kind = TokenKind::kWord;
          return;
        }
        ++pos_;
        if (c == '"') {
          if (peek() != '"') {
            t.kind = TokenKind::kString;
            return;
          }
          ++pos_;  // "" stands for one quote
        }
        t.text += c;
      }
    default: {
      const int start = pos_;
      do {
        ++pos_;
      } while (!endsWord(peek()));
      if (peek() == ':') ++pos_;
      t.kind = TokenKind::kWord;
      t.text.assign(line_.substr(start, pos_ - start));
      return;
    }
  }
}

}  // namespace compiler
