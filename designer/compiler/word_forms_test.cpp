#include "designer/compiler/word_forms.h"

#include <gtest/gtest.h>

#include "flowfile/disasm.h"

namespace compiler {
namespace {

// Every form a word has, e.g. "reg:I12", "int:5 flt:..." or "" for none.
std::string formsOf(std::string_view w) {
  std::string out;
  auto add = [&](std::string s) { out += (out.empty() ? "" : " ") + s; };
  if (auto r = parseRegister(w))
    add("reg:" + std::string(1, " IFTS"[r->set]) + std::to_string(r->number));
  if (auto v = parseIntConst(w)) add("int:" + std::to_string(*v));
  if (auto v = parseFloatConst(w)) add("flt:" + cpl::formatDouble(*v));
  if (isTimeConst(w)) add("time");
  if (auto c = wholeSystemVariable(w)) add("sys:" + std::to_string(*c));
  if (isMeetWord(w)) {
    auto c = meetCode(w);
    add("meet:" + (c ? std::to_string(*c) : std::string("range")));
  }
  if (isLabelDefinition(w)) add("label");
  return out;
}

TEST(WordForms, RecogniseEachForm) {
  const struct {
    const char* word;
    const char* forms;
  } rows[] = {
      {"i5", "reg:I5"},
      {"i05", "reg:I5"},
      {"f0", "reg:F0"},
      {"t31", "reg:T31"},
      {"i31", "reg:I31"},
      {"s123", "reg:S12"},
      {"i32", ""},
      {"i40", ""},
      {"i", ""},
      {"i1a", ""},
      {"x1", ""},
      {"5", "int:5"},
      {"-5", "int:-5"},
      {"007", "int:7"},
      {"1234567890", "int:123456789"},
      {"-123456789012", "int:-12345678"},
      {"999999999999", "int:999999999"},
      {"-", ""},
      {"+5", ""},
      {"5-", ""},
      {"1.5", "flt:1.5"},
      {"-5.25", "flt:-5.25"},
      {"-.5", "flt:-0.5"},
      {"0.0", "flt:0"},
      {".5", ""},
      {"5.", ""},
      {"-.", ""},
      {"1.2.3", ""},
      {"1e5", ""},
      {"$20240230000000", "time"},
      {"$19000000000000", "time"},
      {"$30001231246060", "time"},
      {"$18991231000000", ""},
      {"$30010101000000", ""},
      {"$20241301000000", ""},
      {"$20240132000000", ""},
      {"$20240101250000", ""},
      {"$20240101006100", ""},
      {"$20240101000061", ""},
      {"$2024010100000", ""},
      {"$202401010000000", ""},
      {"$caller", "sys:1"},
      {"$called", "sys:2"},
      {"$callid", "sys:3"},
      {"$chan", "sys:35"},
      {"$usedmoney", "sys:36"},
      {"$callerx", ""},
      {"$meet1", "meet:3"},
      {"$meet5", "meet:7"},
      {"$meet12", "meet:14"},
      {"$meet32", "meet:34"},
      {"$meet123", "meet:14"},
      {"$meet5x", "meet:7"},
      {"$meet0", "meet:range"},
      {"$meet33", "meet:range"},
      {"$meeting", "meet:range"},
      {"$meet", "meet:range"},
      {"next:", "label"},
      {"stop:", "label"},
      {"a:", "label"},
      {"1a:", ""},
      {":", ""},
      {"next", ""},
  };
  for (const auto& r : rows)
    EXPECT_EQ(formsOf(r.word), r.forms) << r.word;
}

TEST(WordForms, NumberTextKeepsItsFullValue) {
  EXPECT_EQ(parseNumberText("1234567890"), 1234567890.0);
  EXPECT_EQ(parseNumberText("-.25"), -0.25);
  EXPECT_EQ(parseNumberText(std::string(400, '9') + ".0"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parseNumberText("1.5x"), std::nullopt);
  EXPECT_EQ(parseNumberText(""), std::nullopt);
  EXPECT_EQ(parseNumberText(" 1"), std::nullopt);
}

}  // namespace
}  // namespace compiler
