#include "designer/compiler/word_forms.h"

#include <charconv>
#include <limits>

namespace compiler {
namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool allDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!isDigit(c)) return false;
  return true;
}
int number(std::string_view digits) {
  int v = 0;
  for (char c : digits)
    v = v * 10 + (c - '0');
  return v;
}

}  // namespace

std::optional<Register> parseRegister(std::string_view w) {
  if (w.size() < 2 || !allDigits(w.substr(1))) return std::nullopt;
  cpl::OperandType set;
  switch (w[0]) {
    case 'i':
      set = cpl::kOpI;
      break;
    case 'f':
      set = cpl::kOpF;
      break;
    case 't':
      set = cpl::kOpT;
      break;
    case 's':
      set = cpl::kOpS;
      break;
    default:
      return std::nullopt;
  }
  const int n = number(w.substr(1, 2));
  if (n > 31) return std::nullopt;
  return Register{set, static_cast<uint8_t>(n)};
}

std::optional<int32_t> parseIntConst(std::string_view w) {
  const size_t digitsAt = !w.empty() && w[0] == '-' ? 1 : 0;
  if (!allDigits(w.substr(digitsAt))) return std::nullopt;
  const std::string_view head = w.substr(0, 9);
  int32_t v = 0;
  std::from_chars(head.data(), head.data() + head.size(), v);  // nine characters always fit
  return v;
}

namespace {
// The value of a word already known to be in the integer or float form.
double decimalValue(std::string_view w) {
  double v = 0;
  // from_chars, unlike strtod, ignores the locale's decimal point.
  auto r = std::from_chars(w.data(), w.data() + w.size(), v);
  if (r.ec == std::errc::result_out_of_range) {
    // Without an exponent only a huge whole part overflows; anything else underflows.
    const bool minus = w[0] == '-';
    const std::string_view whole = w.substr(minus ? 1 : 0, w.find('.') - (minus ? 1 : 0));
    v = whole.find_first_not_of('0') != std::string_view::npos
            ? std::numeric_limits<double>::infinity()
            : 0.0;
    if (minus) v = -v;
  }
  return v;
}
}  // namespace

std::optional<double> parseFloatConst(std::string_view w) {
  const bool minus = !w.empty() && w[0] == '-';
  const std::string_view body = w.substr(minus ? 1 : 0);
  const size_t dot = body.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const std::string_view whole = body.substr(0, dot), fraction = body.substr(dot + 1);
  if (!allDigits(fraction)) return std::nullopt;
  if (!whole.empty() && !allDigits(whole)) return std::nullopt;
  if (whole.empty() && !minus) return std::nullopt;
  return decimalValue(w);
}

std::optional<double> parseNumberText(std::string_view s) {
  if (!parseIntConst(s) && !parseFloatConst(s)) return std::nullopt;
  return decimalValue(s);
}

bool isTimeConst(std::string_view w) {
  if (w.size() != 15 || w[0] != '$' || !allDigits(w.substr(1))) return false;
  const int year = number(w.substr(1, 4)), month = number(w.substr(5, 2)),
            day = number(w.substr(7, 2)), hour = number(w.substr(9, 2)),
            minute = number(w.substr(11, 2)), second = number(w.substr(13, 2));
  return year >= 1900 && year <= 3000 && month <= 12 && day <= 31 && hour <= 24 && minute <= 60 &&
         second <= 60;
}

std::optional<uint8_t> wholeSystemVariable(std::string_view w) {
  if (w == "$caller") return cpl::kSysCaller;
  if (w == "$called") return cpl::kSysCalled;
  if (w == "$callid") return cpl::kSysCallid;
  if (w == "$chan") return cpl::kSysChan;
  if (w == "$usedmoney") return cpl::kSysUsedMoney;
  return std::nullopt;
}

bool isMeetWord(std::string_view w) {
  return w.starts_with("$meet");
}

std::optional<uint8_t> meetCode(std::string_view w) {
  if (!isMeetWord(w)) return std::nullopt;
  std::string_view next = w.substr(5, 2);
  size_t n = 0;
  while (n < next.size() && isDigit(next[n]))
    ++n;
  if (n == 0) return std::nullopt;
  const int conference = number(next.substr(0, n));
  if (conference < 1 || conference > 32) return std::nullopt;
  return static_cast<uint8_t>(conference + 2);
}

bool isLabelDefinition(std::string_view w) {
  return w.size() >= 2 && w.front() >= 'a' && w.front() <= 'z' && w.back() == ':';
}

std::string_view trimControls(std::string_view w) {
  while (!w.empty() && static_cast<unsigned char>(w.front()) < 32)
    w.remove_prefix(1);
  while (!w.empty() && static_cast<unsigned char>(w.back()) < 32)
    w.remove_suffix(1);
  return w;
}

}  // namespace compiler
