#include "designer/compiler/grammar.h"

#include <string>
#include <unordered_map>

#include "designer/compiler/statement.h"

namespace compiler {
namespace {

class Registry {
 public:
  Registry() {
    for (auto family : {controlGrammars(), assignGrammars(), stringDateGrammars(),
                        databaseGrammars(), serviceGrammars()})
      for (const Grammar& g : family)
        byKeyword_.emplace(cpl::kOpcodes[g.opcode].keyword, &g);
  }
  const Grammar* find(std::string_view keyword) const {
    auto it = byKeyword_.find(keyword);
    return it == byKeyword_.end() ? nullptr : it->second;
  }

 private:
  std::unordered_map<std::string_view, const Grammar*> byKeyword_;
};

}  // namespace

const Grammar* grammarFor(std::string_view keyword) {
  static const Registry registry;
  return registry.find(keyword);
}

bool parsePositions(StatementParser& p, const Grammar& g) {
  const auto positions = g.operands();
  for (size_t i = 0; i < positions.size(); ++i) {
    const Position& at = positions[i];
    if (i > 0 && !p.expectComma(at.comma.empty() ? g.comma : at.comma)) return false;
    p.next();
    cpl::Operand v;
    auto m = StatementParser::Match::kNo;
    for (int k = 0; k < at.formCount && m == StatementParser::Match::kNo; ++k)
      m = p.match(at.forms[k], g, v);
    if (m == StatementParser::Match::kFailed) return false;
    if (m == StatementParser::Match::kNo) return p.fail(at.missing);
    if (g.check) {
      if (std::string_view why = g.check(static_cast<int>(i), v); !why.empty()) return p.fail(why);
    }
    if (!p.put(g, static_cast<int>(i), v)) return false;
  }
  return p.expectEnd(g.extra);
}

}  // namespace compiler
