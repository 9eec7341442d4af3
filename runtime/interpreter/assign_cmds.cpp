// Assignment, arithmetic, comparison and the register conversions.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "runtime/interpreter/dispatch.h"
#include "runtime/interpreter/script_run.h"

namespace interp {

namespace {

using cpl::kOpF;
using cpl::kOpFlt;
using cpl::kOpI;
using cpl::kOpInt;
using cpl::kOpS;
using cpl::kOpStr;
using cpl::kOpSys;
using cpl::kOpT;
using cpl::kOpTime;

constexpr const char* kTimeShown = "%Y-%m-%d %H:%M:%S";
constexpr const char* kZeroDivisor = "被除数不能够等于0";

bool isMeet(uint8_t code) {
  return code >= cpl::kSysMeetFirst && code <= cpl::kSysMeetLast;
}

// Integer arithmetic wraps modulo 2^32.
int32_t wrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t wrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int32_t wrapMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// Integer division that cannot trap: a zero divisor, and INT32_MIN / -1 whose
// quotient does not fit, both count as a divisor the command refuses.
bool intDivisible(int32_t a, int32_t b) {
  return b != 0 && !(a == std::numeric_limits<int32_t>::min() && b == -1);
}

// The digits of a time constant; a hostile record may end them early.
std::string timeText(const cpl::Operand& o) {
  return std::string(o.time.c_str());
}

}  // namespace

// ---- set --------------------------------------------------------------------

void execSet(ScriptRun& run) {
  const cpl::Operand& d = run.ops[0];
  const cpl::Operand& s = run.ops[1];
  Registers& r = run.regs;
  const int c = run.chan;

  if (d.type == kOpF && s.type == kOpSys && s.reg == cpl::kSysUsedMoney)
    return run.stepLine("Set F%d", d.reg);
  if (d.type == kOpI && s.type == kOpSys) {
    if (s.reg == cpl::kSysChan) {
      run.stepLine("Set I%d=$chan(%d)", d.reg, c);
      r.I[d.reg] = c;
      return;
    }
    if (isMeet(s.reg)) return;
    return run.line("通道[%d]Set 未知的系统变量%d", c, s.reg);
  }
  if (d.type == kOpSys && isMeet(d.reg)) {
    if (s.type == kOpI) return run.stepLine("Set $meet%d=I%d(%d)", d.reg - 2, s.reg, r.I[s.reg]);
    if (s.type == kOpInt) return run.stepLine("Set $meet%d=(%d)", d.reg - 2, truncToI32(s.fval));
  }
  if (d.type == kOpS && s.type == kOpSys) {
    switch (s.reg) {
      case cpl::kSysCaller:
        r.S[d.reg] = run.host.callerNumber(c);
        return run.stepLine("Set S%d=$caller(%s)", d.reg, Gbk{r.S[d.reg]});
      case cpl::kSysCalled:
        r.S[d.reg] = run.host.calledNumber(c);
        return run.stepLine("Set S%d=$called(%s)", d.reg, Gbk{r.S[d.reg]});
      case cpl::kSysCallid:
        r.S[d.reg] = run.host.callId(c);
        return run.stepLine("Set S%d=$callid(%s)", d.reg, Gbk{r.S[d.reg]});
      default:
        return;
    }
  }

  if (d.type == kOpI) {
    switch (s.type) {
      case kOpI:
        run.stepLine("Set I%d=I%d[%d]", d.reg, s.reg, r.I[s.reg]);
        r.I[d.reg] = r.I[s.reg];
        return;
      case kOpF:
        run.stepLine("Set I%d=F%d[%f]", d.reg, s.reg, r.F[s.reg]);
        r.I[d.reg] = truncToI32(r.F[s.reg]);
        return;
      case kOpInt:
        run.stepLine("Set I%d=%d", d.reg, truncToI32(s.fval));
        r.I[d.reg] = truncToI32(s.fval);
        return;
      case kOpFlt:
        run.stepLine("Set I%d=%f", d.reg, s.fval);
        r.I[d.reg] = truncToI32(s.fval);
        return;
      default:
        break;
    }
  } else if (d.type == kOpF) {
    switch (s.type) {
      case kOpI:
        run.stepLine("Set F%d=I%d[%d]", d.reg, s.reg, r.I[s.reg]);
        r.F[d.reg] = r.I[s.reg];
        return;
      case kOpF:
        run.stepLine("Set F%d=F%d[%f]", d.reg, s.reg, r.F[s.reg]);
        r.F[d.reg] = r.F[s.reg];
        return;
      case kOpFlt:
        run.stepLine("Set F%d=%f", d.reg, s.fval);
        r.F[d.reg] = s.fval;
        return;
      case kOpInt:
        run.stepLine("Set F%d=%d", d.reg, truncToI32(s.fval));
        r.F[d.reg] = s.fval;
        return;
      default:
        break;
    }
  } else if (d.type == kOpT) {
    if (s.type == kOpT) {
      run.stepLine("Set T%d=T%d[%s]", d.reg, s.reg, formatTime(r.T[s.reg], kTimeShown).c_str());
      r.T[d.reg] = r.T[s.reg];
      return;
    }
    if (s.type == kOpTime) return;  // time constants are set with s2t
  } else if (d.type == kOpS) {
    if (s.type == kOpStr) {
      std::string text = run.poolText(s.str);
      run.stepLine("Set S%d=%s", d.reg, Gbk{text});
      r.S[d.reg] = std::move(text);
      return;
    }
    if (s.type == kOpS) {
      run.stepLine("Set S%d=S%d[%s]", d.reg, s.reg, Gbk{r.S[s.reg]});
      r.S[d.reg] = r.S[s.reg];
      return;
    }
  }
  run.line("通道[%d]Set命令类型不匹配", c);
}

// ---- add, sub, mul, div -----------------------------------------------------

void execArith(ScriptRun& run) {
  const int16_t op = run.info->code;
  const cpl::Operand& d = run.ops[0];
  const cpl::Operand& s = run.ops[1];
  Registers& r = run.regs;
  const int c = run.chan;

  const bool destOk = d.type == kOpI || d.type == kOpF;
  const bool srcOk = s.type == kOpI || s.type == kOpF || s.type == kOpInt || s.type == kOpFlt;
  if (!destOk || !srcOk) {
    switch (op) {
      case cpl::kAdd:
        return run.stepLine("Add命令错误的参数类型");
      case cpl::kSub:
        return run.channelLine("Sub命令错误的参数类型(%d,%d)", d.type, s.type);
      case cpl::kMul:
        return run.channelLine("Mul命令错误的参数类型");
      default:
        return run.line("通道[%d]Div命令错误的参数类型", c);
    }
  }

  const char* name = run.info->traceName.data();
  const bool div = op == cpl::kDiv;
  char part[400];
  bool zero = false;

  if (d.type == kOpI) {
    int32_t& dst = r.I[d.reg];
    auto dblResult = [&](double b) {
      const double a = dst;
      switch (op) {
        case cpl::kAdd:
          return truncToI32(a + b);
        case cpl::kSub:
          return truncToI32(a - b);
        case cpl::kMul:
          return truncToI32(a * b);
        default:
          return truncToI32(a / b);
      }
    };
    auto intResult = [&](int32_t b) {
      switch (op) {
        case cpl::kAdd:
          return wrapAdd(dst, b);
        case cpl::kSub:
          return wrapSub(dst, b);
        case cpl::kMul:
          return wrapMul(dst, b);
        default:
          return dst / b;
      }
    };
    int32_t result = 0;
    switch (s.type) {
      case kOpI: {
        const int32_t b = r.I[s.reg];
        zero = div && !intDivisible(dst, b);
        std::snprintf(part, sizeof part, "I%d,I%d[%d]", d.reg, s.reg, b);
        if (!zero) result = intResult(b);
        break;
      }
      case kOpF: {
        const double f = r.F[s.reg];
        if (div) {
          // I / F divides by the truncated F; a value inside (-1, 1) would
          // divide by zero, so it is refused like a zero divisor.
          const int32_t b = truncToI32(f);
          zero = std::fabs(f) <= 1e-7 || !intDivisible(dst, b);
          if (zero)
            std::snprintf(part, sizeof part, "I%d,F%d[%d]", d.reg, s.reg, b);
          else
            std::snprintf(part, sizeof part, "I%d,F%d[%f]", d.reg, s.reg, f);
          if (!zero) result = dst / b;
        } else {
          std::snprintf(part, sizeof part, "I%d,F%d[%f]", d.reg, s.reg, f);
          result = dblResult(f);
        }
        break;
      }
      case kOpInt: {
        const int32_t b = truncToI32(s.fval);
        zero = div && !intDivisible(dst, b);
        std::snprintf(part, sizeof part, "I%d,[%d]", d.reg, b);
        if (!zero) result = intResult(b);
        break;
      }
      default: {  // flt
        zero = div && std::fabs(s.fval) <= 1e-7;
        std::snprintf(part, sizeof part, "I%d,[%f]", d.reg, s.fval);
        if (!zero) result = dblResult(s.fval);
        break;
      }
    }
    run.stepLine("%s %s%s", name, part, zero ? kZeroDivisor : "");
    if (!zero) dst = result;
    return;
  }

  double& dst = r.F[d.reg];
  double b = 0;
  switch (s.type) {
    case kOpI:
      b = r.I[s.reg];
      zero = div && r.I[s.reg] == 0;
      std::snprintf(part, sizeof part, "F%d,I%d[%d]", d.reg, s.reg, r.I[s.reg]);
      break;
    case kOpF:
      b = r.F[s.reg];
      zero = div && std::fabs(b) < 1e-7;
      std::snprintf(part, sizeof part, "F%d,F%d[%f]", d.reg, s.reg, b);
      break;
    case kOpInt:
      b = truncToI32(s.fval);
      zero = div && b == 0.0;
      std::snprintf(part, sizeof part, "F%d,[%d]", d.reg, truncToI32(s.fval));
      break;
    default:  // flt
      b = s.fval;
      zero = div && std::fabs(b) < 1e-7;
      std::snprintf(part, sizeof part, "F%d,[%f]", d.reg, b);
      break;
  }
  run.stepLine("%s %s%s", name, part, zero ? kZeroDivisor : "");
  if (zero) return;
  switch (op) {
    case cpl::kAdd:
      dst += b;
      break;
    case cpl::kSub:
      dst -= b;
      break;
    case cpl::kMul:
      dst *= b;
      break;
    default:
      dst /= b;
      break;
  }
}

// ---- if ---------------------------------------------------------------------

namespace {

bool allowedPair(cpl::OperandType l, cpl::OperandType r) {
  switch (l) {
    case kOpI:
    case kOpF:
      return r == kOpI || r == kOpF || r == kOpFlt || r == kOpInt;
    case kOpT:
      return r == kOpT || r == kOpTime;
    case kOpS:
      return r == kOpS || r == kOpStr;
    default:
      return false;
  }
}

template <typename T>
bool holds(uint8_t rel, const T& a, const T& b) {
  switch (rel) {
    case cpl::kRelLess:
      return a < b;
    case cpl::kRelGreater:
      return a > b;
    case cpl::kRelLessEq:
      return a <= b;
    case cpl::kRelGreaterEq:
      return a >= b;
    default:
      return a == b;
  }
}

std::string registerShown(const Registers& r, cpl::OperandType t, int n) {
  char buf[400];
  switch (t) {
    case kOpI:
      std::snprintf(buf, sizeof buf, "I%d[%d]", n, r.I[n]);
      return buf;
    case kOpF:
      std::snprintf(buf, sizeof buf, "F%d[%f]", n, r.F[n]);
      return buf;
    case kOpT:
      return "T" + std::to_string(n) + "[" + formatTime(r.T[n], kTimeShown) + "]";
    default:
      return "S" + std::to_string(n) + "[" + utf8(r.S[n]) + "]";
  }
}

}  // namespace

// The line is written before the test, whatever its outcome.
void execIf(ScriptRun& run) {
  const cpl::Operand& left = run.ops[0];
  const uint8_t rel = run.ops[1].reg;
  const cpl::Operand& right = run.ops[2];
  const int32_t target = run.ops[3].ival;
  const Registers& r = run.regs;

  if (!allowedPair(left.type, right.type))
    return run.line("通道[%d]if命令比较类型参数错误", run.chan);
  if (rel > cpl::kRelEq) return run.line("通道[%d]if命令操作数错误", run.chan);

  static constexpr const char* kRelText[] = {"<", ">", "<=", ">=", "=="};
  std::string rightText;
  char buf[400];
  switch (right.type) {
    case kOpInt:
      std::snprintf(buf, sizeof buf, "%d", right.ival);
      rightText = buf;
      break;
    case kOpFlt:
      std::snprintf(buf, sizeof buf, "%f", right.fval);
      rightText = buf;
      break;
    case kOpTime:
      rightText = formatTime(textToTime(timeText(right)), kTimeShown);
      break;
    case kOpStr:
      rightText = utf8(run.poolText(right.str));
      break;
    default:
      rightText = registerShown(r, right.type, right.reg);
      break;
  }
  run.channelLine("IF %s%s%s GOTO %d", registerShown(r, left.type, left.reg).c_str(), kRelText[rel],
                  rightText.c_str(), target);

  bool jump = false;
  switch (left.type) {
    case kOpI: {
      int32_t b = right.type == kOpI     ? r.I[right.reg]
                  : right.type == kOpInt ? right.ival
                  : right.type == kOpF   ? truncToI32(r.F[right.reg])
                                         : truncToI32(right.fval);
      jump = holds(rel, r.I[left.reg], b);
      break;
    }
    case kOpF: {
      double b = right.type == kOpI     ? r.I[right.reg]
                 : right.type == kOpInt ? right.ival
                 : right.type == kOpF   ? r.F[right.reg]
                                        : right.fval;
      jump = holds(rel, r.F[left.reg], b);
      break;
    }
    case kOpT: {
      int32_t b = right.type == kOpT ? r.T[right.reg] : textToTime(timeText(right));
      jump = holds(rel, r.T[left.reg], b);
      break;
    }
    default: {
      const std::string& a = r.S[left.reg];
      if (right.type == kOpS)
        jump = holds(rel, a, r.S[right.reg]);
      else
        jump = holds(rel, a, run.poolText(right.str));
      break;
    }
  }
  if (jump) {
    run.host.pc(run.chan) = static_cast<uint32_t>(target);
    run.transferred = true;
  }
}

// ---- Conversions ------------------------------------------------------------

namespace {

// The leading decimal integer after white space, with an optional sign; the
// value saturates at the 32-bit limits.
int32_t leadingInt(const std::string& s) {
  const char* p = s.c_str();
  char* end = nullptr;
  long long v = std::strtoll(p, &end, 10);
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(v);
}

// The leading decimal number: sign, digits, a point, digits, an exponent.
// Hexadecimal forms, "inf" and "nan" are not numbers here.
double leadingNumber(const std::string& s) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r')))
    ++i;
  const size_t start = i;
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < n && s[i] >= '0' && s[i] <= '9')
    ++i, ++digits;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && s[i] >= '0' && s[i] <= '9')
      ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < n && s[j] >= '0' && s[j] <= '9') {
      while (j < n && s[j] >= '0' && s[j] <= '9')
        ++j;
      i = j;
    }
  }
  return std::strtod(s.substr(start, i - start).c_str(), nullptr);
}

std::string printed(const char* fmt, double v) {
  int n = std::snprintf(nullptr, 0, fmt, v);
  std::string out(static_cast<size_t>(n), '\0');
  std::snprintf(out.data(), out.size() + 1, fmt, v);
  return out;
}

}  // namespace

// The line follows the conversion and names the registers in operand order.
void execConvert(ScriptRun& run) {
  const int a = run.ops[0].reg, b = run.ops[1].reg;
  Registers& r = run.regs;
  switch (run.info->code) {
    case cpl::kI2s:
      r.S[b] = std::to_string(r.I[a]);
      return run.stepLine("I2S  I%d,S%d", a, b);
    case cpl::kF2s:
      r.S[b] = printed("%f", r.F[a]);
      return run.stepLine("F2S  F%d,S%d", a, b);
    case cpl::kT2s:
      r.S[b] = formatTime(r.T[a], "%Y%m%d%H%M%S");
      return run.stepLine("T2S  T%d,S%d", a, b);
    case cpl::kS2i:
      r.I[b] = leadingInt(r.S[a]);
      return run.stepLine("S2I  S%d,I%d", a, b);
    case cpl::kS2f:
      r.F[b] = leadingNumber(r.S[a]);
      return run.stepLine("S2F  S%d,F%d", a, b);
    default:
      r.T[b] = textToTime(r.S[a]);
      return run.stepLine("S2T  S%d,T%d", a, b);
  }
}

std::span<const HandlerEntry> assignHandlers() {
  static constexpr HandlerEntry kHandlers[] = {
      {cpl::kSet, execSet, true},   {cpl::kAdd, execArith, true}, {cpl::kSub, execArith, true},
      {cpl::kMul, execArith, true}, {cpl::kDiv, execArith, true}, {cpl::kIf, execIf, true},
      {cpl::kI2s, execConvert},     {cpl::kF2s, execConvert},     {cpl::kT2s, execConvert},
      {cpl::kS2i, execConvert},     {cpl::kS2f, execConvert},     {cpl::kS2t, execConvert},
  };
  return kHandlers;
}

}  // namespace interp
