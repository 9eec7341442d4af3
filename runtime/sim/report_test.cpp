#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "runtime/sim/simulation.h"

namespace sim {
namespace {

Report sample() {
  Report r;
  r.trace = {"09:00:00(  0)=>a <b> & \"c\"", "09:00:00( 50)=>ctl\x01"};
  r.checks = {{3, "expect line \"x\"", true, ""},
              {4, "expect calls 1", false, "2 calls ended"},
              {5, "wait \"y & z\" 2.000", false, "no line holding the text by 2.000 s", true},
              {1 << 30, "end", false, "channels still in a call at the limit of 1.000 s", true}};
  r.callsStarted = 2;
  r.callsCompleted = 1;
  r.virtualMs = 12345;
  r.realSeconds = 9.5;
  return r;
}

TEST(Report, SummaryListsFailuresAndCounts) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  printReport(sample(), f);
  std::rewind(f);
  std::string text;
  char buf[256];
  while (size_t n = std::fread(buf, 1, sizeof buf, f))
    text.append(buf, n);
  std::fclose(f);
  EXPECT_EQ(text,
            "09:00:00(  0)=>a <b> & \"c\"\n"
            "09:00:00( 50)=>ctl\x01\n"
            "==== summary\n"
            "FAILED line 4: expect calls 1: 2 calls ended\n"
            "FAILED line 5: wait \"y & z\" 2.000: no line holding the text by 2.000 s\n"
            "FAILED end: channels still in a call at the limit of 1.000 s\n"
            "expectations: 1 met, 1 failed\n"
            "steps failed: 2\n"
            "calls: 2 started, 1 completed\n"
            "virtual time: 12.345 s\n");
  // Real time stays out: the output is the same on every machine.
  EXPECT_EQ(text.find("9.5"), std::string::npos);
}

TEST(Report, AllMet) {
  Report r;
  EXPECT_TRUE(r.allMet());
  r.checks.push_back({1, "x", true, ""});
  EXPECT_TRUE(r.allMet());
  r.checks.push_back({2, "y", false, "no"});
  EXPECT_FALSE(r.allMet());
}

TEST(Report, JUnitEscapesAndCounts) {
  const std::string x = junitXml(sample(), "a&b.scn");
  EXPECT_NE(x.find("<testsuite tests=\"4\" failures=\"3\" time=\"12.345\" name=\"a&amp;b.scn\">"),
            std::string::npos)
      << x;
  EXPECT_NE(x.find("name=\"line 3: expect line &quot;x&quot;\"/>"), std::string::npos) << x;
  EXPECT_NE(x.find("name=\"line 5: wait &quot;y &amp; z&quot; 2.000\">\n"
                   "    <failure message=\"no line holding the text by 2.000 s\"/>"),
            std::string::npos)
      << x;
  EXPECT_NE(x.find("name=\"end\">"), std::string::npos) << x;
  // A control character would make the XML unreadable.
  EXPECT_NE(x.find("a &lt;b&gt; &amp; &quot;c&quot;\n09:00:00( 50)=&gt;ctl?\n"), std::string::npos)
      << x;
  EXPECT_EQ(x.find('\x01'), std::string::npos);
}

}  // namespace
}  // namespace sim
