#include "flowfile/cplformat.h"

#include <gtest/gtest.h>

#include <set>

#include "flowfile/blockrecords.h"

namespace cpl {
namespace {

TEST(OpcodeTable, HasEveryOpcodeAndKeywordOnce) {
  std::set<std::string_view> keywords;
  for (int i = 0; i < kOpcodeCount; ++i) {
    const OpcodeInfo* op = findOpcode(i);
    ASSERT_NE(op, nullptr);
    EXPECT_EQ(op->code, i);
    if (i == kOpLabelOnly) {
      EXPECT_TRUE(op->keyword.empty());
      continue;
    }
    EXPECT_TRUE(keywords.insert(op->keyword).second) << op->keyword;
    EXPECT_EQ(findKeyword(op->keyword), op);
  }
  EXPECT_EQ(keywords.size(), 103u);
  EXPECT_EQ(findOpcode(104), nullptr);
  EXPECT_EQ(findOpcode(-1), nullptr);
  EXPECT_EQ(findKeyword(""), nullptr);
  EXPECT_EQ(findKeyword("SET"), nullptr);  // the table holds lower case only
}

// The facts opcode_list.h gives each opcode: a command the runtime carries
// out has a keyword and a trace name, and belongs to one of the families the
// interpreter has a file for.
TEST(OpcodeTable, ExecutedCommandsAreNamedAndInAnInterpreterFamily) {
  std::set<std::string_view> traceNames;
  int executed = 0;
  for (const auto& op : kOpcodes) {
    if (op.code != kOpLabelOnly) {
      EXPECT_TRUE(traceNames.insert(op.traceName).second) << op.keyword;
    }
    if (!op.executed) continue;
    ++executed;
    EXPECT_FALSE(op.keyword.empty()) << op.code;
    EXPECT_FALSE(op.traceName.empty()) << op.keyword;
    EXPECT_TRUE(op.family == OpcodeFamily::kControl || op.family == OpcodeFamily::kAssign ||
                op.family == OpcodeFamily::kStringDate || op.family == OpcodeFamily::kDatabase)
        << op.keyword;
  }
  EXPECT_EQ(executed, 53);
  EXPECT_EQ(findOpcode(kAdd)->traceName, "Add");
  EXPECT_EQ(findOpcode(kDateparthour)->traceName, "DatePartHour");
  EXPECT_FALSE(findOpcode(kPlaytts)->executed);
  EXPECT_EQ(findOpcode(kSqlopen)->family, OpcodeFamily::kDatabase);
}

// No byte of an operand area may be claimed by two fields or slots: a typo in
// an offset shows up here as an overlap.
TEST(OpcodeTable, FieldsNeverOverlap) {
  for (const auto& op : kOpcodes) {
    std::array<int, kInstrSize> owner;
    owner.fill(-1);
    auto claim = [&](int at, int n, int who) {
      for (int b = at; b < at + n; ++b) {
        ASSERT_LT(b, kInstrSize) << op.keyword;
        ASSERT_TRUE(owner[b] == -1 || owner[b] == who)
            << op.keyword << " byte " << b << " claimed twice";
        owner[b] = who;
      }
    };
    int who = 0;
    for (const Field& f : op.operands()) {
      switch (f.shape) {
        case Shape::kOperand:
          claim(f.at, 2, who);
          break;
        case Shape::kLabel:
        case Shape::kExitRef:
          claim(f.shape == Shape::kLabel ? f.str : f.at, 4, who);
          break;
        default:
          claim(f.at, 1, who);
          break;
      }
      if (f.i32 >= 0) claim(f.i32, 4, who);
      if (f.dbl >= 0) claim(f.dbl, 8, who);
      if (f.str >= 0 && f.shape != Shape::kLabel) claim(f.str, 4, who);
      if (f.time >= 0) claim(f.time, 14, who);
      if (f.tgt >= 0) claim(f.tgt, 4, who);
      ++who;
    }
  }
}

TEST(KindTable, SectionSizesAndExitSlots) {
  struct Case {
    int kind, size, exits, slots;
  } cases[] = {{6, 6, 2, 1},      {40, 302, 290, 3},  {41, 542, 530, 3}, {42, 26, 10, 4},
               {43, 304, 292, 3}, {44, 339, 283, 14}, {45, 17, 9, 2},    {46, 32, 24, 2},
               {47, 12, 4, 2},    {49, 305, 281, 6},  {50, 83, 59, 6},   {51, 292, 280, 3},
               {52, 278, 266, 3}, {53, 22, 14, 2}};
  for (const auto& c : cases) {
    const KindInfo* k = findKind(c.kind);
    ASSERT_NE(k, nullptr) << c.kind;
    EXPECT_EQ(k->sectionSize, c.size);
    EXPECT_EQ(k->exitOffset, c.exits);
    EXPECT_EQ(k->exitSlots, c.slots);
  }
  EXPECT_EQ(findKind(48)->sectionSize, 0);
  EXPECT_EQ(findKind(7), nullptr);
  EXPECT_EQ(findKind(0), nullptr);
}

TEST(StringPool, AppendsWithoutSeparatorsAndRefusesOverflow) {
  StringPool pool;
  auto a = pool.append("hello");
  auto b = pool.append("hello");  // never shared
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->offset, 0);
  EXPECT_EQ(b->offset, 5);
  EXPECT_EQ(b->length, 5);
  EXPECT_EQ(pool.used(), 10);
  EXPECT_EQ(pool.extract(*b), "hello");
  EXPECT_EQ(pool.extract({2, 5}), "llohe");

  // Exactly full is accepted; one byte more is refused and changes nothing.
  auto fill = pool.append(std::string(kPoolSize - 10 - 1, 'x'));
  ASSERT_TRUE(fill);
  EXPECT_FALSE(pool.append("yz"));
  EXPECT_EQ(pool.used(), kPoolSize - 1);
  EXPECT_TRUE(pool.append("y"));
  EXPECT_EQ(pool.used(), kPoolSize);
  EXPECT_FALSE(pool.append("z"));
  // Not even an empty text: its offset would lie just past the pool.
  EXPECT_FALSE(pool.append(""));
  pool.clear();
  EXPECT_EQ(pool.append("")->offset, 0);
  EXPECT_EQ(pool.used(), 0);
}

TEST(StringPool, ExtractNeverLeavesThePool) {
  StringPool pool;
  pool.append(std::string(300, 'a'));
  EXPECT_EQ(pool.extract({0, 300}).size(), 256u);   // at most 256 bytes
  EXPECT_EQ(pool.extract({4090, 100}).size(), 6u);  // stops at the end
  EXPECT_EQ(pool.extract({4096, 4}), "");
  EXPECT_EQ(pool.extract({65535, 65535}), "");
}

}  // namespace
}  // namespace cpl
