#include "hardware/combine.h"

#include <algorithm>
#include <cctype>

namespace hardware {
namespace {

bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
    s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
    s.remove_suffix(1);
  return s;
}

// One group of up to four digits (thousands, hundreds, tens, units), zeros
// between spoken digits read once, trailing zeros silent. Empty for 0000.
std::string speakGroup(std::string_view g) {
  static const char kUnits[] = {'c', 'd', 'e', 0};
  std::string out;
  bool pendingZero = false;
  const int start = 4 - static_cast<int>(g.size());
  for (size_t i = 0; i < g.size(); ++i) {
    const char d = g[i];
    const char unit = kUnits[start + i];
    if (d == '0') {
      if (!out.empty()) pendingZero = true;
      continue;
    }
    if (pendingZero) out += '0';
    pendingZero = false;
    out += d;
    if (unit) out += unit;
  }
  return out;
}

// Splits a decimal number "123.45" into its parts; nullopt when it is not one.
struct Decimal {
  std::string integer;   // without leading zeros, "0" for zero
  std::string fraction;  // as written
};
std::optional<Decimal> parseDecimal(std::string_view s) {
  s = trim(s);
  const size_t dot = s.find('.');
  std::string_view ip = s.substr(0, dot);
  std::string_view fp = dot == std::string_view::npos ? std::string_view{} : s.substr(dot + 1);
  if (ip.empty() && fp.empty()) return std::nullopt;
  if (!ip.empty() && !allDigits(ip)) return std::nullopt;
  if (dot != std::string_view::npos && !fp.empty() && !allDigits(fp)) return std::nullopt;
  if (dot != std::string_view::npos && fp.empty() && ip.empty()) return std::nullopt;
  while (ip.size() > 1 && ip.front() == '0')
    ip.remove_prefix(1);
  Decimal d{std::string(ip.empty() ? "0" : ip), std::string(fp)};
  if (d.integer.size() > 12) return std::nullopt;
  return d;
}

std::optional<std::string> speakNumber(std::string_view content) {
  auto d = parseDecimal(content);
  if (!d) return std::nullopt;
  std::string frac = d->fraction;
  while (!frac.empty() && frac.back() == '0')
    frac.pop_back();
  std::string out = speakInteger(d->integer);
  if (!frac.empty()) out += 'f' + frac;
  return out;
}

std::optional<std::string> speakMoney(std::string_view content) {
  auto d = parseDecimal(content);
  if (!d) return std::nullopt;
  // Round to the fen, half up, in decimal so that no binary error creeps in.
  std::string fen = d->fraction.substr(0, 2);
  fen.resize(2, '0');
  long long cents = std::stoll(d->integer) * 100 + std::stoi(fen);
  if (d->fraction.size() > 2 && d->fraction[2] >= '5') ++cents;
  const long long yuan = cents / 100;
  const int jiao = static_cast<int>(cents / 10 % 10), f = static_cast<int>(cents % 10);
  std::string out;
  if (yuan > 0 || (jiao == 0 && f == 0)) out = speakInteger(std::to_string(yuan)) + 'f';
  if (jiao > 0) {
    out += static_cast<char>('0' + jiao);
    out += 'A';
  } else if (yuan > 0 && f > 0) {
    out += '0';  // 一百元零五分
  }
  if (f > 0) {
    out += static_cast<char>('0' + f);
    out += 'B';
  }
  return out;
}

// "2024-03-15" or "20240315" -> year, month, day.
std::optional<std::string> speakDate(std::string_view s) {
  std::string digits;
  for (char c : trim(s))
    if (c >= '0' && c <= '9')
      digits += c;
    else if (c != '-' && c != '/' && c != '.')
      return std::nullopt;
  if (digits.size() != 8) return std::nullopt;
  const int month = std::stoi(digits.substr(4, 2)), day = std::stoi(digits.substr(6, 2));
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  return digits.substr(0, 4) + 'h' + speakInteger(std::to_string(month)) + 'i' +
         speakInteger(std::to_string(day)) + 'j';
}

// Minutes and seconds below ten keep their zero: 十四点零五分.
std::string twoDigitPart(int v) {
  return v < 10 ? "0" + std::to_string(v) : speakInteger(std::to_string(v));
}

// "14:05:09", "140509", "14:30", "1430" -> hour, minutes, seconds.
std::optional<std::string> speakTime(std::string_view s) {
  std::string digits;
  for (char c : trim(s))
    if (c >= '0' && c <= '9')
      digits += c;
    else if (c != ':')
      return std::nullopt;
  if (digits.size() != 4 && digits.size() != 6) return std::nullopt;
  const int h = std::stoi(digits.substr(0, 2)), m = std::stoi(digits.substr(2, 2));
  const int sec = digits.size() == 6 ? std::stoi(digits.substr(4, 2)) : 0;
  if (h > 24 || m > 59 || sec > 59) return std::nullopt;
  std::string out = speakInteger(std::to_string(h)) + 'k';
  if (m > 0 || sec > 0) out += twoDigitPart(m) + 'l';
  if (sec > 0) out += twoDigitPart(sec) + 'm';
  return out;
}

std::optional<std::string> speakDateTime(std::string_view s) {
  std::string digits;
  for (char c : trim(s))
    if (c >= '0' && c <= '9')
      digits += c;
    else if (c != '-' && c != ':' && c != ' ' && c != '/')
      return std::nullopt;
  if (digits.size() != 14) return std::nullopt;
  auto date = speakDate(digits.substr(0, 8));
  auto time = speakTime(digits.substr(8));
  if (!date || !time) return std::nullopt;
  return *date + *time;
}

}  // namespace

std::string speakInteger(std::string_view digits) {
  while (digits.size() > 1 && digits.front() == '0')
    digits.remove_prefix(1);
  if (digits.empty() || digits == "0") return "0";
  // Groups of four from the right: hundred millions, ten thousands, units.
  static const char kGroupUnits[] = {'a', 'b', 0};
  std::string out;
  const size_t n = digits.size();
  const size_t groups = (n + 3) / 4;
  bool zeroBefore = false;  // a whole group of zeros since the last spoken group
  for (size_t gi = 0; gi < groups; ++gi) {
    const size_t end = n - 4 * (groups - 1 - gi);
    const size_t begin = end >= 4 ? end - 4 : 0;
    std::string_view g = digits.substr(begin, end - begin);
    std::string spoken = speakGroup(g);
    if (spoken.empty()) {
      if (!out.empty()) zeroBefore = true;
      continue;
    }
    // A group that does not fill its thousands place after a spoken group
    // begins with a zero: 一万零五, 一亿零一万.
    if (!out.empty() && (zeroBefore || g.front() == '0')) out += '0';
    zeroBefore = false;
    out += spoken;
    const char unit = kGroupUnits[3 - groups + gi];
    if (unit) out += unit;
    // Zeros at the end of a group are silent, whatever follows: the group's
    // unit already places its digits (十万二千, not 十万零二千).
  }
  // 一十五 is said 十五 at the start of a number.
  if (out.size() >= 2 && out[0] == '1' && out[1] == 'e') out.erase(0, 1);
  return out;
}

std::optional<std::string> composeValue(int playType, std::string_view content) {
  switch (playType) {
    case 1:
      return speakNumber(content);
    case 2: {
      auto s = speakNumber(content);
      if (!s) return std::nullopt;
      return *s + 'B';
    }
    case 3: {
      std::string_view t = trim(content);
      if (!allDigits(t)) return std::nullopt;
      return std::string(t);
    }
    case 4:
      return speakDate(content);
    case 5:
      return speakTime(content);
    case 6:
      return speakDateTime(content);
    case 7:
      return speakMoney(content);
    default:
      return std::nullopt;
  }
}

}  // namespace hardware
