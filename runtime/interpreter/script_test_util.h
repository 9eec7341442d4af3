// Shared pieces of the interpreter tests: operand shorthands, records built
// with the shared encoder, and a fixture that runs a script block on the fake
// host. Times are taken in Asia/Shanghai unless a test sets another zone.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "flowfile/encode.h"
#include "runtime/interpreter/fake_script_host.h"

namespace interp::testing {

using cpl::Instruction;
using cpl::Operand;

inline Operand I(int n) {
  return Operand::regOf(cpl::kOpI, n);
}
inline Operand F(int n) {
  return Operand::regOf(cpl::kOpF, n);
}
inline Operand T(int n) {
  return Operand::regOf(cpl::kOpT, n);
}
inline Operand S(int n) {
  return Operand::regOf(cpl::kOpS, n);
}
inline Operand Int(int32_t v) {
  return Operand::intConst(v);
}
inline Operand Flt(double v) {
  return Operand::fltConst(v);
}
inline Operand Tm(std::string digits) {
  return Operand::timeConst(std::move(digits));
}
inline Operand Sys(uint8_t code) {
  return Operand::sys(code);
}
inline Operand Byte(uint8_t v) {
  return Operand::byte(v);
}
inline Operand Target(int32_t t) {
  return Operand::label(cpl::PoolRef{}, t);
}

// A record built by the shared encoder; a layout that refuses the operands
// fails the test.
inline Instruction make(int16_t op, std::initializer_list<Operand> ops) {
  auto rec = cpl::buildInstruction(0, op, ops);
  EXPECT_TRUE(rec.has_value()) << "opcode " << op << " refused its operands";
  return rec.value_or(Instruction(0, op));
}

inline void setZone(const char* tz) {
  setenv("TZ", tz, 1);
  tzset();
}

// Local time as a time value, for expectations.
inline int32_t local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return static_cast<int32_t>(std::mktime(&tm));
}

class ScriptFixture : public ::testing::Test {
 public:
  ScriptFixture() { setZone("Asia/Shanghai"); }

  // Block 0 is the script; its default exit leads to block 1, a play block
  // where the channel rests with its registers intact.
  void load(std::vector<Instruction> code, int32_t defaultExit = 1) {
    host.blocks = {FakeScriptHost::scriptBlock(std::move(code), defaultExit),
                   FakeScriptHost::plainBlock()};
  }
  // Channel c enters block 0 and its entry pass runs; the lines are dropped.
  void start(int c = 0) {
    host.enter(c, 0);
    host.pass();
    host.take();
  }
  // Runs one instruction on channel 0 and returns the lines of its pass.
  std::vector<std::string> runOne(const Instruction& ins) {
    load({ins});
    start();
    host.pass();
    return host.take();
  }
  Registers& regs(int c = 0) { return host.chans[c].regs; }
  Operand str(std::string_view text) { return Operand::strConst(host.text(text)); }

  FakeScriptHost host;
};

using Lines = std::vector<std::string>;

}  // namespace interp::testing
