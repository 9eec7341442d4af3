// What a caller hears from the combined playback, as Chinese text, for
// comparing with an independent Chinese numeral library (combine_nzh_test.js).
// Each input line is "TYPE<tab>CONTENT"; each output line is the words of
// the voice files the runtime would play for GetCombineStr's symbols, "!"
// when the value is refused, and "?" for a symbol that plays nothing.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "hardware/hardware.h"
#include "runtime/callproc/blocks.h"

namespace {

// The word each voice file of the combined-playback set speaks.
const char* wordOf(std::string_view file) {
  static const struct {
    const char* name;
    const char* word;
  } kWords[] = {
      {"D0", "零"},    {"D1", "一"},   {"D2", "二"},     {"D3", "三"},   {"D4", "四"},
      {"D5", "五"},    {"D6", "六"},   {"D7", "七"},     {"D8", "八"},   {"D9", "九"},
      {"TEN", "十"},   {"HUN", "百"},  {"THOU", "千"},   {"TH10", "万"}, {"M100", "亿"},
      {"POINT", "点"}, {"YUAN", "元"}, {"JIAO", "角"},   {"FEN", "分"},  {"YEAR", "年"},
      {"MONTH", "月"}, {"DAY", "日"},  {"SECOND", "秒"},
  };
  const std::string_view prefix = ".\\voice\\", suffix = ".qx";
  if (file.substr(0, prefix.size()) != prefix || file.size() < prefix.size() + suffix.size() ||
      file.substr(file.size() - suffix.size()) != suffix)
    return "?";
  file = file.substr(prefix.size(), file.size() - prefix.size() - suffix.size());
  for (const auto& w : kWords)
    if (file == w.name) return w.word;
  return "?";
}

}  // namespace

int main() {
  std::ios::sync_with_stdio(false);
  std::string line, out;
  while (std::getline(std::cin, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      std::fprintf(stderr, "combine_reading: line without a tab: %s\n", line.c_str());
      return 2;
    }
    const int type = std::atoi(line.substr(0, tab).c_str());
    char text[512];
    if (GetCombineStr(type, line.c_str() + tab + 1, text) != 0) {
      out += "!\n";
      continue;
    }
    for (const char* p = text; *p; ++p) {
      const char* file = callproc::combinedSymbolFile(*p, type);
      out += file ? wordOf(file) : "?";
    }
    out += '\n';
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
