// String and date commands. Strings are GBK bytes and every position and
// length counts bytes; dates are taken apart in local time.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "platform/gbk.h"
#include "runtime/interpreter/dispatch.h"
#include "runtime/interpreter/script_run.h"

namespace interp {

namespace {

bool isBlank(char ch) {
  return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

// Field `field` (from 0) of `source` split at `sep`. The separator is
// appended to a working copy, and each field consumes only the separator's
// first byte, so with a longer separator later fields begin with its rest.
std::string parseField(const std::string& source, const std::string& sep, int32_t field) {
  if (field < 0 || sep.empty()) return {};
  const std::string work = source + sep;
  size_t from = 0;
  std::string result;
  for (int32_t i = 0; i <= field; ++i) {
    const size_t at = work.find(sep, from);
    if (at == std::string::npos) return {};
    result.assign(work, from, at - from);
    from = at + 1;
  }
  return result;
}

std::tm localParts(int32_t t) {
  std::time_t tt = t;
  std::tm tm{};
  localtime_r(&tt, &tm);
  return tm;
}

// Time values are 32 bits: a sum past the range wraps as the stored value does.
int32_t wrapTime(int64_t v) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

}  // namespace

void execString(ScriptRun& run) {
  Registers& r = run.regs;
  const auto& o = run.ops;
  switch (run.info->code) {
    case cpl::kStrlen:
      r.I[o[0].reg] = static_cast<int32_t>(r.S[o[1].reg].size());
      return run.stepLine(" StrLen I%d,S%d", o[0].reg, o[1].reg);

    case cpl::kStrtrimleft:
    case cpl::kStrtrimright:
    case cpl::kStrtrim: {
      std::string& s = r.S[o[0].reg];
      const int16_t op = run.info->code;
      if (op != cpl::kStrtrimleft)
        while (!s.empty() && isBlank(s.back()))
          s.pop_back();
      if (op != cpl::kStrtrimright) {
        size_t n = 0;
        while (n < s.size() && isBlank(s[n]))
          ++n;
        s.erase(0, n);
      }
      return run.stepLine("%s S%d", run.info->traceName.data(), o[0].reg);
    }

    case cpl::kStrreplace: {
      const std::string with = run.textOperand(o[0]);
      const std::string old = run.textOperand(o[1]);
      std::string& s = r.S[o[2].reg];
      if (!old.empty()) {
        std::string out;
        size_t from = 0;
        for (size_t at; (at = s.find(old, from)) != std::string::npos; from = at + old.size()) {
          out.append(s, from, at - from);
          out += with;
          if (out.size() > kMaxStringRegister) return run.refuseLength(out.size());
        }
        out.append(s, from, std::string::npos);
        if (out.size() > kMaxStringRegister) return run.refuseLength(out.size());
        s = std::move(out);
      }
      return run.stepLine("=>StrReplace 替换字符:%s;被替换字符:%s,原字符:%s;", Gbk{with}, Gbk{old},
                          Gbk{s});
    }

    case cpl::kStrmid: {
      const int32_t start = run.intOperand(o[0]), count = run.intOperand(o[1]);
      const std::string& src = r.S[o[3].reg];
      const int64_t len = static_cast<int64_t>(src.size());
      const int64_t from = std::max<int64_t>(start, 0);
      const int64_t to = std::min<int64_t>(from + std::max<int64_t>(count, 0), len);
      std::string part = from < len ? src.substr(from, to - from) : std::string();
      r.S[o[2].reg] = std::move(part);
      return run.stepLine("StrMid S%d=Mid(S%d,StartPos:%d,Len:%d)", o[2].reg, o[3].reg, start,
                          count);
    }

    case cpl::kStrdel: {
      const int32_t start = run.intOperand(o[0]), count = run.intOperand(o[1]);
      std::string& s = r.S[o[2].reg];
      const int64_t len = static_cast<int64_t>(s.size());
      const int64_t from = std::max<int64_t>(start, 0);
      const int64_t n = std::max<int64_t>(count, 0);
      if (n > 0 && from < len) s.erase(from, std::min(n, len - from));
      return run.stepLine("StrDel S%d,StartPos:%d,Len:%d", o[2].reg, start, count);
    }

    case cpl::kStrcat: {
      std::string& s = r.S[o[0].reg];
      const std::string tail = run.textOperand(o[1]);
      if (s.size() + tail.size() > kMaxStringRegister)
        return run.refuseLength(s.size() + tail.size());
      s += tail;
      if (o[1].type == cpl::kOpS) return run.stepLine("StrCat S%d,S%d", o[0].reg, o[1].reg);
      return run.stepLine("StrCat S%d,%s", o[0].reg, Gbk{tail});
    }

    case cpl::kStrupper:
      platform::gbkAsciiUpperInPlace(r.S[o[0].reg]);
      return run.stepLine("StrUpper S%d", o[0].reg);
    case cpl::kStrlower:
      platform::gbkAsciiLowerInPlace(r.S[o[0].reg]);
      return run.stepLine("StrLower S%d", o[0].reg);

    default: {  // strparse
      const int32_t field = run.intOperand(o[0]);
      const std::string sep = run.textOperand(o[1]);
      const std::string source = r.S[o[3].reg];
      r.S[o[2].reg] = parseField(source, sep, field);
      return run.stepLine("StrParse 字段编号:%d,分割符:%s,字符串:%s,字段=%s", field, Gbk{sep},
                          Gbk{source}, Gbk{r.S[o[2].reg]});
    }
  }
}

void execDate(ScriptRun& run) {
  Registers& r = run.regs;
  const auto& o = run.ops;
  const int16_t op = run.info->code;
  switch (op) {
    case cpl::kNow:
      r.T[o[0].reg] = wrapTime(run.host.now());
      return run.stepLine("Now");

    case cpl::kDateaddday:
    case cpl::kDateaddhour:
    case cpl::kDateaddmin: {
      const int32_t amount = run.intOperand(o[1]);
      const int64_t unit = op == cpl::kDateaddday ? 86400 : op == cpl::kDateaddhour ? 3600 : 60;
      int32_t& t = r.T[o[0].reg];
      t = wrapTime(static_cast<int64_t>(t) + amount * unit);
      return run.stepLine("%s T%d,%d", run.info->traceName.data(), o[0].reg, amount);
    }

    case cpl::kDateparthour:
    case cpl::kDatepartmin:
    case cpl::kDatepartsec:
    case cpl::kDatepartday:
    case cpl::kDatepartmonth:
    case cpl::kDatepartweek:
    case cpl::kDatepartyear: {
      const std::tm tm = localParts(r.T[o[0].reg]);
      int32_t& dst = r.I[o[1].reg];
      const char* name = run.info->traceName.data();
      switch (op) {
        case cpl::kDateparthour:
          // The hour's line has never shown the value.
          dst = tm.tm_hour;
          return run.stepLine("%s T%d,I%d", name, o[0].reg, o[1].reg);
        case cpl::kDatepartmin:
          dst = tm.tm_min;
          break;
        case cpl::kDatepartsec:
          dst = tm.tm_sec;
          break;
        case cpl::kDatepartday:
          dst = tm.tm_mday;
          break;
        case cpl::kDatepartmonth:
          dst = tm.tm_mon + 1;
          break;
        case cpl::kDatepartweek:
          dst = tm.tm_wday;
          break;
        default:
          dst = tm.tm_year + 1900;
          break;
      }
      return run.stepLine("%s T%d,I%d=%d", name, o[0].reg, o[1].reg, dst);
    }

    case cpl::kDatediffday:
    case cpl::kDatediffhour:
    case cpl::kDatediffmin:
    case cpl::kDatediffsec: {
      const int64_t diff = static_cast<int64_t>(r.T[o[1].reg]) - r.T[o[0].reg];
      const int64_t unit = op == cpl::kDatediffday    ? 86400
                           : op == cpl::kDatediffhour ? 3600
                           : op == cpl::kDatediffmin  ? 60
                                                      : 1;
      int32_t& dst = r.I[o[2].reg];
      dst = wrapTime(diff / unit);  // C++ division truncates towards zero
      return run.stepLine("%s I%d[%d]=T%d-T%d", run.info->traceName.data(), o[2].reg, dst, o[1].reg,
                          o[0].reg);
    }

    default: {  // getformattime: no trace line
      const int32_t format = run.intOperand(o[0]);
      const std::tm tm = localParts(wrapTime(run.host.now()));
      char buf[64] = "";
      if (format == 1)
        std::snprintf(buf, sizeof buf, "%4d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                      tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
      else if (format == 2)
        std::snprintf(buf, sizeof buf, "%4d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                      tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
      r.S[o[1].reg] = buf;
      return;
    }
  }
}

std::span<const HandlerEntry> stringDateHandlers() {
  static constexpr HandlerEntry kHandlers[] = {
      {cpl::kStrlen, execString},       {cpl::kStrtrimleft, execString},
      {cpl::kStrtrimright, execString}, {cpl::kStrtrim, execString},
      {cpl::kStrreplace, execString},   {cpl::kStrmid, execString},
      {cpl::kStrdel, execString},       {cpl::kStrcat, execString},
      {cpl::kStrupper, execString},     {cpl::kStrlower, execString},
      {cpl::kStrparse, execString},     {cpl::kNow, execDate},
      {cpl::kDateaddday, execDate},     {cpl::kDateaddhour, execDate},
      {cpl::kDateaddmin, execDate},     {cpl::kDatepartmin, execDate},
      {cpl::kDatepartsec, execDate},    {cpl::kDatepartday, execDate},
      {cpl::kDatepartmonth, execDate},  {cpl::kDatepartweek, execDate},
      {cpl::kDatepartyear, execDate},   {cpl::kDateparthour, execDate},
      {cpl::kDatediffday, execDate},    {cpl::kDatediffhour, execDate},
      {cpl::kDatediffmin, execDate},    {cpl::kDatediffsec, execDate},
      {cpl::kGetformattime, execDate},
  };
  return kHandlers;
}

}  // namespace interp
