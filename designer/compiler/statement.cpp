#include "designer/compiler/statement.h"

#include <cstring>
#include <utility>

#include "designer/compiler/word_forms.h"

namespace compiler {

namespace {
constexpr std::string_view kMissingId = "缺少一个ID";
constexpr std::string_view kNotLabelOrCommand = "缺少一个Label或Command";
constexpr std::string_view kMissingCommand = "缺少命令";
}  // namespace

StatementParser::StatementParser(std::string_view line, uint32_t lineIndex, cpl::StringPool& pool)
    : tokens_(line), lineIndex_(lineIndex), pool_(pool) {}

const Token& StatementParser::next() {
  tokens_.next(token_);
  return token_;
}

bool StatementParser::fail(std::string_view message) {
  error_.message = message;
  error_.token = token_;
  error_.position = tokens_.position();
  return false;
}

bool StatementParser::expectComma(std::string_view message) {
  return next().kind == TokenKind::kComma || fail(message);
}

bool StatementParser::expectEnd(std::string_view message) {
  return next().kind == TokenKind::kEnd || fail(message);
}

bool StatementParser::addToPool(std::string_view text, cpl::PoolRef& ref) {
  auto r = pool_.append(text);
  if (!r) return fail(kPoolOverflow);
  ref = *r;
  return true;
}

bool StatementParser::put(const Grammar& g, int index, const cpl::Operand& v) {
  const cpl::OpcodeInfo& op = cpl::kOpcodes[g.opcode];
  if (index >= op.fieldCount || !cpl::encodeField(*record_, op.fields[index], v))
    return fail(kEncodeFailed);
  return true;
}

StatementParser::Match StatementParser::match(Form f, const Grammar& g, cpl::Operand& out) {
  using cpl::Operand;
  const std::string_view w = token_.text;
  const bool word = isWord(), str = token_.kind == TokenKind::kString;
  auto yes = [&](Operand v) {
    out = std::move(v);
    return Match::kYes;
  };
  auto pooled = [&](auto make) {
    cpl::PoolRef ref;
    if (!addToPool(w, ref)) return Match::kFailed;
    return yes(make(ref));
  };
  switch (f) {
    case Form::kI:
    case Form::kF:
    case Form::kT:
    case Form::kS:
    case Form::kReg: {
      if (!word) return Match::kNo;
      auto r = parseRegister(w);
      if (!r) return Match::kNo;
      if (f != Form::kReg &&
          r->set != static_cast<cpl::OperandType>(cpl::kOpI + static_cast<int>(f)))
        return Match::kNo;
      return yes(Operand::regOf(r->set, r->number));
    }
    case Form::kInt:
      if (!word) return Match::kNo;
      if (auto v = parseIntConst(w)) return yes(Operand::intConst(*v));
      return Match::kNo;
    case Form::kFlt:
      if (!word) return Match::kNo;
      if (auto v = parseFloatConst(w)) return yes(Operand::fltConst(*v));
      return Match::kNo;
    case Form::kTime:
      if (!word || !isTimeConst(w)) return Match::kNo;
      return yes(Operand::timeConst(std::string(w.substr(1))));
    case Form::kStr:
      if (!str) return Match::kNo;
      return pooled([](cpl::PoolRef r) { return Operand::strConst(r); });
    case Form::kLabel:
      if (!word) return Match::kNo;
      return pooled([](cpl::PoolRef r) { return Operand::label(r, 0); });
    case Form::kExit:
      if (!word) return Match::kNo;
      // The writer resolves the exit; until then it leads nowhere.
      return pooled([](cpl::PoolRef r) { return Operand::label(r, cpl::NO_TARGET); });
    case Form::kDir:
      if (word && w == "in") return yes(Operand::byte(cpl::kDirIn));
      if (word && w == "out") return yes(Operand::byte(cpl::kDirOut));
      return Match::kNo;
    case Form::kLetter: {
      if (!word || w.size() != 1) return Match::kNo;
      const size_t at = std::string_view("ifts").find(w[0]);
      if (at == std::string_view::npos) return Match::kNo;
      return yes(Operand::byte(static_cast<uint8_t>(cpl::kOpI + at)));
    }
    case Form::kMeet: {
      if (!word || !isMeetWord(w)) return Match::kNo;
      if (auto code = meetCode(w)) return yes(Operand::sys(*code));
      fail(g.meetRange);
      return Match::kFailed;
    }
    case Form::kChan:
      if (word && w == "$chan") return yes(Operand::sys(cpl::kSysChan));
      return Match::kNo;
    case Form::kChanPrefix:
      if (word && w.starts_with("$chan")) return yes(Operand::sys(cpl::kSysChan));
      return Match::kNo;
    case Form::kStrFlt: {
      if (!str) return Match::kNo;
      auto v = parseNumberText(w);
      if (!v) {
        fail(kNotAFloat);
        return Match::kFailed;
      }
      return yes(Operand::fltConst(*v));
    }
    case Form::kStrTime:
      if (!str) return Match::kNo;
      if (w.size() > 14) {
        fail(kTimeTooLong);
        return Match::kFailed;
      }
      return yes(Operand::timeConst(std::string(w)));
  }
  return Match::kNo;
}

bool StatementParser::parse(ScriptEntry& entry) {
  entry = ScriptEntry{};
  record_ = &entry.record;
  record_->setLine(lineIndex_);

  if (next().kind != TokenKind::kWord) return fail(kMissingId);
  if (isLabelDefinition(token_.text)) {
    if (token_.text.size() >= kLabelFieldSize) return fail(kLabelTooLong);
    std::memcpy(entry.label.data(), token_.text.data(), token_.text.size());
    if (next().kind == TokenKind::kEnd) {
      record_->setOpcode(cpl::kOpLabelOnly);
      return true;
    }
    if (!isWord()) return fail(kMissingCommand);
  }
  const Grammar* g = grammarFor(token_.text);
  if (!g) {
    // A keyword with control characters stuck to it is still no command.
    return fail(entry.hasLabel() && !grammarFor(trimControls(token_.text)) ? kMissingCommand
                                                                           : kNotLabelOrCommand);
  }
  record_->setOpcode(g->opcode);
  return g->parse ? g->parse(*this, *g) : parsePositions(*this, *g);
}

}  // namespace compiler
