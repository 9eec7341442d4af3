// Compiles arbitrary bytes as a script and checks what a good compile
// promises: every jump lands on a record, every pool reference lies inside
// the pool, and the exit names are distinct.
#include <cstdlib>
#include <set>
#include <string_view>

#include "designer/compiler/tparser.h"
#include "flowfile/encode.h"

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

void checkRecord(const cpl::Instruction& rec, size_t count, const cpl::StringPool& pool) {
  const cpl::OpcodeInfo* op = cpl::findOpcode(rec.opcode());
  require(op != nullptr);
  for (const cpl::Field& f : op->operands()) {
    const cpl::Operand v = cpl::decodeField(rec, f);
    const bool pooled = f.shape == cpl::Shape::kLabel || f.shape == cpl::Shape::kExitRef ||
                        (f.shape == cpl::Shape::kOperand && v.type == cpl::kOpStr);
    if (pooled) require(v.str.offset + v.str.length <= pool.used());
    if (f.shape == cpl::Shape::kLabel && f.tgt >= 0)
      require(v.ival >= 0 && static_cast<size_t>(v.ival) < count);
    if (f.shape == cpl::Shape::kOperand) require(cpl::admits(f, v.type));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static cpl::StringPool pool;
  pool.clear();
  compiler::TParser parser(pool);
  parser.setSource(
      compiler::splitLines(std::string_view(reinterpret_cast<const char*>(data), size)));
  const bool ok = parser.compile();
  require(ok == parser.error().text.empty());
  if (!ok) return 0;
  for (const compiler::ScriptEntry& e : parser.records())
    checkRecord(e.record, parser.records().size(), pool);
  std::set<std::string> names(parser.exitNames().begin(), parser.exitNames().end());
  require(names.size() == parser.exitNames().size());
  return 0;
}
