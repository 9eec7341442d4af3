// The database commands: prepare an SQL text with numbered placeholders, run
// it as a query into the channel's record set or as a statement, walk the
// records and read fields into registers.
#include <cstdlib>
#include <limits>

#include "runtime/interpreter/database.h"
#include "runtime/interpreter/dispatch.h"
#include "runtime/interpreter/script_run.h"

namespace interp {
namespace {

// The register of a result operand, or -1 when the byte names none.
int regOf(const cpl::Operand& o) {
  return o.reg < kRegisters ? o.reg : -1;
}

// The three lines of a failed sqlopen or sqlexec.
void failureLines(ScriptRun& run, const DbFailure& f, const std::string& sql) {
  run.outerLine("数据库操作失败! ErrCode=%d", f.code);
  run.outerLine("strError=%s", f.message.c_str());
  run.outerLine("sql=%s", Gbk{sql});
}

// The line of any other failed database call; the registers stay as they were.
void fieldFailure(ScriptRun& run, const DbFailure& f) {
  run.channelLine("GetFieldName数据库操作失败! ErrCode=%d", f.code);
}

ChannelDatabase* databaseOf(ScriptRun& run, const std::string& sql, bool report) {
  ChannelDatabase* db = run.host.database();
  if (!db && report) failureLines(run, {-1, "no database connection"}, sql);
  return db;
}

// Replaces every occurrence of `from`, left to right, without overlaps.
void replaceAll(std::string& s, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  size_t at = 0;
  while ((at = s.find(from, at)) != std::string::npos) {
    s.replace(at, from.size(), to);
    at += to.size();
  }
}

// A text value goes between the flow's own quotation marks: its quotes are
// doubled, so that what a caller typed cannot end the literal.
std::string quoted(std::string v) {
  replaceAll(v, "'", "''");
  return v;
}

void execSetparamin(ScriptRun& run) {
  const cpl::Operand& po = run.ops[0];
  const int32_t p =
      po.type == cpl::kOpI ? run.regs.I[po.reg] : run.ins.i32(run.info->fields[0].i32);
  char placeholder[24];
  std::snprintf(placeholder, sizeof placeholder, p <= 9 ? "%d?" : "%d#", p);
  const cpl::Operand& v = run.ops[1];
  std::string value;
  switch (v.type) {
    case cpl::kOpI:
    case cpl::kOpInt: {
      const int32_t n = v.type == cpl::kOpI ? run.regs.I[v.reg] : v.ival;
      value = std::to_string(n);
      run.stepLine("SetParamIn[IParam%d=%d]", p, n);
      break;
    }
    case cpl::kOpF:
    case cpl::kOpFlt: {
      const double d = v.type == cpl::kOpF ? run.regs.F[v.reg] : v.fval;
      char buf[400];
      std::snprintf(buf, sizeof buf, "%f", d);
      value = buf;
      run.stepLine("SetParamIn[FParam%d=%f]", p, d);
      break;
    }
    case cpl::kOpT:
    case cpl::kOpTime:
      value = v.type == cpl::kOpT ? formatTime(run.regs.T[v.reg], "%Y%m%d%H%M%S") : v.time;
      run.stepLine("SetParamIn[TParam%d=%s]", p, Gbk{value});
      value = quoted(value);
      break;
    case cpl::kOpS:
    case cpl::kOpStr:
      value = v.type == cpl::kOpS ? run.regs.S[v.reg] : run.poolText(v.str);
      run.stepLine("SetParamIn[SParam%d=%s]", p, Gbk{value});
      value = quoted(value);
      break;
    default:
      run.stepLine("SetParamIn Fail,错误的参数类型");
      return;
  }
  std::string& sql = run.host.preparedSql(run.chan);
  replaceAll(sql, placeholder, value);
}

// The leading decimal integer of a field's text, saturated at the 32-bit
// limits as s2i does: a bigint column must not wrap into a plausible number.
int32_t fieldInt(const std::string& text) {
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(v);
}

// Reads a field (by position or name) into the result operand at ops[1].
void execGetfield(ScriptRun& run, bool byName) {
  ChannelDatabase* db = run.host.database();
  std::string text;
  DbFailure f{-1, "no database connection"};
  const bool ok = db && (byName ? db->field(run.chan, run.textOperand(run.ops[0]), &text, &f)
                                : db->field(run.chan, run.intOperand(run.ops[0]), &text, &f));
  if (!ok) return fieldFailure(run, f);
  const cpl::Operand& r = run.ops[1];
  switch (r.type) {
    case cpl::kOpI: {
      const int32_t n = fieldInt(text);
      run.regs.I[r.reg] = n;
      run.channelLine("GetField [I%d=%d]", r.reg, n);
      break;
    }
    case cpl::kOpF: {
      const double d = std::strtod(text.c_str(), nullptr);
      run.regs.F[r.reg] = d;
      run.channelLine("GetField [F%d=%f]", r.reg, d);
      break;
    }
    case cpl::kOpS:
      if (text.size() > kMaxStringRegister) return run.refuseLength(text.size());
      run.regs.S[r.reg] = text;
      run.channelLine("GetField [S%d=%s]", r.reg, Gbk{text});
      break;
    default:
      break;  // a T register (or anything else) stores nothing
  }
}

}  // namespace

void execDatabase(ScriptRun& run) {
  std::string& sql = run.host.preparedSql(run.chan);
  switch (run.info->code) {
    case cpl::kPreparesql:
      sql = run.textOperand(run.ops[0]);
      run.stepLine("PrepareSQL[%s]", Gbk{sql});
      return;
    case cpl::kSetparamin:
      return execSetparamin(run);
    case cpl::kSqlopen:
    case cpl::kSqlexec: {
      const bool open = run.info->code == cpl::kSqlopen;
      ChannelDatabase* db = run.host.database();
      // A statement on the worker: this instruction runs again each pass
      // until its result is back, and only its first run writes the line.
      const bool resuming = db && db->inFlight(run.chan);
      if (!open && !resuming) run.outerLine("sqlexec,sql=%s", Gbk{sql});
      if (!db) databaseOf(run, sql, true);
      DbFailure f;
      const DbStatus st = !db    ? DbStatus::kFailed
                          : open ? db->open(run.chan, sql, &f)
                                 : db->execute(run.chan, sql, &f);
      if (st == DbStatus::kPending) {
        run.waiting = true;
        return;
      }
      if (db && st == DbStatus::kFailed) failureLines(run, f, sql);
      run.regs.I[run.ops[1].reg] = st == DbStatus::kDone ? 1 : 0;
      return;
    }
    case cpl::kMovenext: {
      ChannelDatabase* db = run.host.database();
      DbFailure f{-1, "no database connection"};
      if (!db || !db->moveNext(run.chan, &f)) fieldFailure(run, f);
      return;
    }
    case cpl::kEof: {
      ChannelDatabase* db = run.host.database();
      DbFailure f{-1, "no database connection"};
      // A closed or failed record set has no current record: the flow's read
      // loop must see the end, not an unchanged register that keeps it going.
      bool eof = true;
      if (db && !db->eof(run.chan, &eof, &f)) eof = true;
      const cpl::Operand& o = run.ops[0];
      const int reg = regOf(o);
      if (reg < 0) return;  // a damaged record names no register
      const int v = o.type == cpl::kOpI && eof ? 1 : 0;
      run.regs.I[reg] = v;
      run.channelLine("EOF [I%d=%d]", reg, v);
      return;
    }
    case cpl::kGetrecordcount: {
      ChannelDatabase* db = run.host.database();
      DbFailure f{-1, "no database connection"};
      long n = 0;
      if (!db || !db->recordCount(run.chan, &n, &f)) return fieldFailure(run, f);
      const cpl::Operand& o = run.ops[0];
      if (o.type != cpl::kOpI) return;
      run.regs.I[o.reg] = static_cast<int32_t>(n);
      run.channelLine("GetRecordCount [I%d=%d]", o.reg, static_cast<int32_t>(n));
      return;
    }
    case cpl::kGetfield:
      return execGetfield(run, false);
    case cpl::kGetfieldname:
      return execGetfield(run, true);
    default:
      return;
  }
}

std::span<const HandlerEntry> databaseHandlers() {
  static constexpr HandlerEntry kHandlers[] = {
      {cpl::kSqlopen, execDatabase},
      {cpl::kMovenext, execDatabase},
      {cpl::kEof, execDatabase, true},
      {cpl::kSqlexec, execDatabase},
      {cpl::kPreparesql, execDatabase},
      {cpl::kSetparamin, execDatabase, true},
      {cpl::kGetfield, execDatabase},
      {cpl::kGetfieldname, execDatabase},
      {cpl::kGetrecordcount, execDatabase, true},
  };
  return kHandlers;
}

}  // namespace interp
