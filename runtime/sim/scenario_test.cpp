#include "runtime/sim/scenario.h"

#include <gtest/gtest.h>

namespace sim {
namespace {

TEST(ParseSeconds, Forms) {
  struct Case {
    const char* word;
    bool ok;
    uint32_t ms;
  };
  const Case cases[] = {
      {"0", true, 0},           {"2", true, 2000},     {"0.5", true, 500},
      {"10.25", true, 10250},   {"1.005", true, 1005}, {"100000", true, 100000000},
      {"100000.001", false, 0}, {"100001", false, 0},  {"1.0001", false, 0},
      {".5", false, 0},         {"5.", false, 0},      {"-1", false, 0},
      {"1e3", false, 0},        {"", false, 0},        {"99999999999999999999", false, 0},
  };
  for (const Case& c : cases) {
    uint32_t ms = 12345;
    EXPECT_EQ(parseSeconds(c.word, &ms), c.ok) << c.word;
    if (c.ok) {
      EXPECT_EQ(ms, c.ms) << c.word;
    }
  }
}

TEST(ParseScenario, Steps) {
  Scenario sc;
  ParseError err;
  ASSERT_TRUE(
      parseScenario("# a caller\n"
                    "\n"
                    "at 0.5 call 0 13900001111\r\n"
                    "  at 2 keys 0 12#*\n"
                    "after 1.25 hangup 7\n"
                    "wait \"通道0=>(7)PlayVoc正常结束\" 10\n"
                    "at 3 lift 6\n"
                    "at 3 putdown 6\n"
                    "limit 60",
                    &sc, &err))
      << err.line << ": " << err.message;
  ASSERT_EQ(sc.steps.size(), 6u);
  EXPECT_EQ(sc.limitMs, 60000u);
  EXPECT_EQ(sc.steps[0].kind, Step::kCall);
  EXPECT_EQ(sc.steps[0].line, 3);
  EXPECT_EQ(sc.steps[0].timeMs, 500u);
  EXPECT_FALSE(sc.steps[0].relative);
  EXPECT_EQ(sc.steps[0].text, "13900001111");
  EXPECT_EQ(sc.steps[1].kind, Step::kKeys);
  EXPECT_EQ(sc.steps[1].text, "12#*");
  EXPECT_EQ(sc.steps[2].kind, Step::kHangup);
  EXPECT_TRUE(sc.steps[2].relative);
  EXPECT_EQ(sc.steps[2].timeMs, 1250u);
  EXPECT_EQ(sc.steps[2].channel, 7);
  EXPECT_EQ(sc.steps[3].kind, Step::kWait);
  EXPECT_EQ(sc.steps[3].text, "通道0=>(7)PlayVoc正常结束");
  EXPECT_EQ(sc.steps[3].timeMs, 10000u);
  EXPECT_EQ(sc.steps[4].kind, Step::kLift);
  EXPECT_EQ(sc.steps[5].kind, Step::kPutDown);
}

TEST(ParseScenario, Expectations) {
  Scenario sc;
  ParseError err;
  ASSERT_TRUE(parseScenario(R"(expect line "通道0复位"
expect no-line "错误"
expect reg 0 I3 = 925
expect reg 1 s9 = "a b"
expect sql "select count(*) from T_LeaveWord where x = \"a\"" = 1
expect line ".\voice\bye.voc ends with \\"
expect calls 12
)",
                            &sc, &err))
      << err.line << ": " << err.message;
  ASSERT_EQ(sc.expectations.size(), 7u);
  const auto& e = sc.expectations;
  EXPECT_EQ(e[0].kind, Expectation::kLine);
  EXPECT_EQ(e[0].text, "通道0复位");
  EXPECT_EQ(e[0].source, "expect line \"通道0复位\"");
  EXPECT_EQ(e[1].kind, Expectation::kNoLine);
  EXPECT_EQ(e[2].kind, Expectation::kReg);
  EXPECT_EQ(e[2].regType, 'I');
  EXPECT_EQ(e[2].regIndex, 3);
  EXPECT_EQ(e[2].value, "925");
  EXPECT_EQ(e[3].regType, 'S');
  EXPECT_EQ(e[3].regIndex, 9);
  EXPECT_EQ(e[3].channel, 1);
  EXPECT_EQ(e[3].value, "a b");
  EXPECT_EQ(e[4].kind, Expectation::kSql);
  EXPECT_EQ(e[4].text, "select count(*) from T_LeaveWord where x = \"a\"");
  EXPECT_EQ(e[4].value, "1");
  // A backslash before anything but a quote or a backslash stays.
  EXPECT_EQ(e[5].text, ".\\voice\\bye.voc ends with \\");
  EXPECT_EQ(e[6].kind, Expectation::kCalls);
  EXPECT_EQ(e[6].value, "12");
}

TEST(ParseScenario, BadLinesNamed) {
  struct Case {
    const char* text;
    int line;
    const char* fragment;  // of the message
  };
  const Case cases[] = {
      {"at 1 call 0 1\nat x call 0 1", 2, "not a time"},
      {"at 1 ring 0 1", 1, "unknown action"},
      {"bogus", 1, "unknown keyword"},
      {"\n\n# c\nat 1 call 0", 4, "needs more words"},
      {"at 1 call 0 1 2", 1, "unexpected '2'"},
      {"at 1 call 256 1", 1, "not a channel"},
      {"at 1 call -1 1", 1, "not a channel"},
      {"at 1 call 0 12345678901234567890", 1, "1 to 19"},
      {"at 1 call 0 1;2", 1, "not a caller number"},
      {"at 1 keys 0 12a", 1, "key other than"},
      {"at 2 hangup 0\nat 1 hangup 0", 2, "goes back"},
      {"at 1", 1, "needs a time and an action"},
      {"at 1 \"call\" 0 1", 1, "action is a word"},
      {"wait 通道0 10", 1, "quoted text"},
      {"wait \"x\"", 1, "needs more words"},
      {"wait \"\" 1", 1, "empty"},
      {"wait \"abc 1", 1, "not closed"},
      {"wait \"abc\"1 1", 1, "runs into"},
      {"expect line x", 1, "quoted text"},
      {"expect reg 0 X3 = 1", 1, "not a register"},
      {"expect reg 0 I32 = 1", 1, "not a register"},
      {"expect reg 0 I3 1 1", 1, "'='"},
      {"expect reg 0 I3 =", 1, "needs more words"},
      {"expect sql select = 1", 1, "quoted statement"},
      {"expect sql \"select 1\" == 1", 1, "'='"},
      {"expect calls many", 1, "number of calls"},
      {"expect sometimes \"x\"", 1, "unknown expectation"},
      {"expect", 1, "needs what"},
      {"limit 0", 1, "more than 0"},
      {"\"at\" 1 call 0 1", 1, "keyword"},
  };
  for (const Case& c : cases) {
    Scenario sc;
    ParseError err;
    EXPECT_FALSE(parseScenario(c.text, &sc, &err)) << c.text;
    EXPECT_EQ(err.line, c.line) << c.text;
    EXPECT_NE(err.message.find(c.fragment), std::string::npos) << c.text << " -> " << err.message;
  }
}

TEST(ParseScenario, EmptyAndCommentsOnly) {
  Scenario sc;
  ParseError err;
  EXPECT_TRUE(parseScenario("", &sc, &err));
  EXPECT_TRUE(parseScenario("# only\n   \n\t# more\n", &sc, &err));
  EXPECT_TRUE(sc.steps.empty());
  EXPECT_TRUE(sc.expectations.empty());
  EXPECT_EQ(sc.limitMs, 3600000u);
}

}  // namespace
}  // namespace sim
