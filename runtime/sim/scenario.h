// A call-simulation scenario: what the callers do and what the run must
// show, one action a line. The language (also in the README):
//
//   # a comment; blank lines are ignored
//   limit SECONDS                 the run may take at most this much virtual
//                                 time (default 3600)
//   at SECONDS ACTION             at this time from the start
//   after SECONDS ACTION          this long after the previous step ended
//   wait "TEXT" SECONDS           until a trace line holding TEXT appears,
//                                 at most SECONDS (a failure otherwise)
//   expect line "TEXT"            some trace line holds TEXT
//   expect no-line "TEXT"         no trace line holds TEXT
//   expect reg CH REG = VALUE     channel CH's register (I0..I31, F.., T..,
//                                 S..) held VALUE when its last call ended
//   expect sql "SELECT" = VALUE   the first column of the first row
//   expect calls N                N calls ended (channels reset after a call)
//
// ACTION: call CH CALLER | keys CH KEYS | hangup CH | lift CH | putdown CH.
// Times are decimal seconds with at most three decimals. "at" times never go
// back. A quoted text takes \" for a quote and \\ for a backslash; any other
// backslash stands for itself, so ".\voice\a.voc" is written as it is.
// VALUE is one word or a quoted text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct Step {
  enum Kind { kCall, kKeys, kHangup, kLift, kPutDown, kWait };
  Kind kind = kCall;
  int line = 0;           // in the scenario file, from 1
  bool relative = false;  // "after": from the end of the previous step
  uint32_t timeMs = 0;    // "at"/"after"; wait: the timeout
  int channel = -1;
  std::string text;  // call: caller number; keys: the keys; wait: the text (UTF-8)
};

struct Expectation {
  enum Kind { kLine, kNoLine, kReg, kSql, kCalls };
  Kind kind = kLine;
  int line = 0;
  std::string source;  // the line as written, for the report
  int channel = -1;    // reg
  char regType = 0;    // reg: 'I', 'F', 'T' or 'S'
  int regIndex = 0;    // reg: 0..31
  std::string text;    // line, no-line: the text; sql: the statement
  std::string value;   // reg, sql: the expected value; calls: the count
};

struct Scenario {
  std::vector<Step> steps;
  std::vector<Expectation> expectations;
  uint32_t limitMs = 3600 * 1000;
};

struct ParseError {
  int line = 0;
  std::string message;
};

// Parses a whole scenario. On a bad line, false with its number and what is
// wrong; `out` is then incomplete.
bool parseScenario(std::string_view text, Scenario* out, ParseError* error);

// Seconds with at most three decimals ("2", "0.5", "10.250") as
// milliseconds; false for anything else or more than 100000 seconds.
bool parseSeconds(std::string_view word, uint32_t* ms);

}  // namespace sim
