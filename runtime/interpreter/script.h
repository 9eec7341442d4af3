// The script block handler: runs a script block's instruction records on a
// channel's registers, at most 50 per scan pass. The interpreter reaches the
// runtime only through ScriptHost, so that it knows nothing of the channel
// tables, the CTI library or the trace log behind it.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

#include "flowfile/cplformat.h"
#include "runtime/interpreter/flow_table.h"
#include "runtime/interpreter/registers.h"

namespace interp {

class ScriptRun;

// What a running script needs from the runtime. Channel numbers passed in are
// those the interpreter was asked to run, or a channel a `resetchan` names
// after its range test.
class ScriptHost {
 public:
  virtual ~ScriptHost() = default;

  // A finished UTF-8 trace text, taken literally.
  virtual void trace(std::string_view utf8) = 0;
  // Go to block and reset channel as every block handler uses them.
  virtual void gotoBlock(int c, int b) = 0;
  virtual void resetChannel(int c) = 0;
  virtual int channelCount() const = 0;

  virtual Registers& registers(int c) = 0;
  // The step record's fields: step (0 entered, 10 running), program counter,
  // current block index.
  virtual int32_t& step(int c) = 0;
  virtual uint32_t& pc(int c) = 0;
  virtual int32_t blockIndex(int c) = 0;
  // The script block the channel is in, or null when it is in none.
  virtual const FlowBlock* scriptBlock(int c) = 0;
  // The string pool of the bank the channel's call runs on.
  virtual std::span<const uint8_t, cpl::kPoolSize> stringPool(int c) = 0;

  // Channel record texts, GBK.
  virtual std::string callerNumber(int c) = 0;
  virtual std::string calledNumber(int c) = 0;
  virtual std::string callId(int c) = 0;
  virtual void setLineState(int c, int16_t state) = 0;

  // Wall-clock time for `now` and `getformattime`.
  virtual std::time_t now() = 0;

  // The database commands (sqlopen, movenext, eof, sqlexec, preparesql,
  // setparamin, getfield, getfieldname, getrecordcount). Operands have been
  // checked against the opcode's layout. Until the database side is built
  // they are passed over like every command the runtime does not execute.
  virtual void databaseCommand(ScriptRun& run, const cpl::Instruction& ins) {}
};

// Runs channel c's script block for one scan pass.
void runScriptBlock(ScriptHost& host, int c);

// A 14-digit "%Y%m%d%H%M%S" text as a local time value; any other text, or
// fields out of range, give 1980-01-01 01:01:01. A day past the month's end
// rolls into the next month as the local-time conversion does.
int32_t textToTime(std::string_view text);

// The pool text of a reference: exactly its bytes, ended early by a zero
// byte. The caller has checked that the reference lies inside the pool.
std::string poolText(std::span<const uint8_t, cpl::kPoolSize> pool, cpl::PoolRef ref);

// A time value formatted with strftime in local time.
std::string formatTime(int32_t t, const char* fmt);

}  // namespace interp
