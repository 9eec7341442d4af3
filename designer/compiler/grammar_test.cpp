#include "designer/compiler/grammar.h"

#include <gtest/gtest.h>

#include <set>

namespace compiler {
namespace {

// An operand of the kind each form produces.
cpl::Operand sampleOf(Form f) {
  using cpl::Operand;
  switch (f) {
    case Form::kI:
    case Form::kReg:
      return Operand::regOf(cpl::kOpI, 1);
    case Form::kF:
      return Operand::regOf(cpl::kOpF, 1);
    case Form::kT:
      return Operand::regOf(cpl::kOpT, 1);
    case Form::kS:
      return Operand::regOf(cpl::kOpS, 1);
    case Form::kInt:
      return Operand::intConst(1);
    case Form::kFlt:
    case Form::kStrFlt:
      return Operand::fltConst(1.5);
    case Form::kStr:
      return Operand::strConst({0, 1});
    case Form::kTime:
    case Form::kStrTime:
      return Operand::timeConst("20240101000000");
    case Form::kLabel:
    case Form::kExit:
      return Operand::label({0, 1}, 0);
    case Form::kDir:
    case Form::kLetter:
      return Operand::byte(1);
    case Form::kMeet:
      return Operand::sys(cpl::kSysMeetFirst);
    case Form::kChan:
    case Form::kChanPrefix:
      return Operand::sys(cpl::kSysChan);
  }
  return {};
}

TEST(Grammars, EveryKeywordHasExactlyOne) {
  std::set<int> seen;
  for (auto family : {controlGrammars(), assignGrammars(), stringDateGrammars(), databaseGrammars(),
                      serviceGrammars()})
    for (const Grammar& g : family)
      EXPECT_TRUE(seen.insert(g.opcode).second) << "two grammars for opcode " << g.opcode;
  EXPECT_EQ(seen.size(), 103u);
  for (const cpl::OpcodeInfo& op : cpl::kOpcodes) {
    if (op.code == cpl::kOpLabelOnly) continue;
    const Grammar* g = grammarFor(op.keyword);
    ASSERT_NE(g, nullptr) << op.keyword;
    EXPECT_EQ(g->opcode, op.code) << op.keyword;
  }
  EXPECT_EQ(grammarFor("SET"), nullptr);  // lines are folded before the lookup
  EXPECT_EQ(grammarFor(""), nullptr);
}

// Position i is written to field i of the opcode's layout: every form a
// position accepts must fit that field, and every failure must have a message.
TEST(Grammars, AgreeWithTheOperandLayouts) {
  for (auto family : {controlGrammars(), assignGrammars(), stringDateGrammars(), databaseGrammars(),
                      serviceGrammars()}) {
    for (const Grammar& g : family) {
      const cpl::OpcodeInfo& op = cpl::kOpcodes[g.opcode];
      SCOPED_TRACE(std::string(op.keyword));
      ASSERT_EQ(g.positionCount, op.fieldCount);
      EXPECT_FALSE(g.extra.empty());
      for (int i = 0; i < g.positionCount; ++i) {
        const Position& p = g.positions[i];
        EXPECT_FALSE(p.missing.empty()) << "position " << i;
        if (i > 0) {
          EXPECT_FALSE(p.comma.empty() && g.comma.empty() && !g.parse) << i;
        }
        for (int k = 0; k < p.formCount; ++k) {
          cpl::Instruction rec;
          EXPECT_TRUE(cpl::encodeField(rec, op.fields[i], sampleOf(p.forms[k])))
              << "position " << i << " form " << static_cast<int>(p.forms[k]);
          if (p.forms[k] == Form::kMeet) {
            EXPECT_FALSE(g.meetRange.empty());
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace compiler
