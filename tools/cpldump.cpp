// cpldump: lists a compiled flow file as a person reads it.
#include <cstdio>
#include <cstring>
#include <string>

#include "flowfile/cplformat.h"
#include "flowfile/cplreader.h"
#include "flowfile/disasm.h"
#include "platform/gbk.h"

namespace {

const char kUsage[] =
    "Usage: cpldump FILE.cpl\n"
    "List a compiled flow file: its magic and block count, then for each block\n"
    "its index, kind and exit targets, and for script blocks every instruction\n"
    "as 'index line opcode keyword operands'; last the string pool in use.\n"
    "\n"
    "Exit status is the load code the runtime would give the file:\n"
    "  0 loads, 2 unknown magic or block kind, 3 cut short or malformed,\n"
    "  5 cannot be opened: missing, unreadable, not a regular file (a folder,\n"
    "    a FIFO, a device) or larger than a compiled flow can be.\n";

std::string target(int32_t t) {
  return t == cpl::NO_TARGET ? "none" : std::to_string(t);
}

std::string printable(const std::string& gbk) {
  std::string out;
  for (unsigned char c : gbk) {
    if (c < 32) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return platform::gbkToUtf8(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 2 || argv[1][0] == '-') {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const char* path = argv[1];
  std::vector<uint8_t> bytes;
  std::string why;
  if (cpl::readFlowFile(path, bytes, &why) != cpl::kReadOk) {
    std::fprintf(stderr, "cpldump: cannot open %s: %s\n", path, why.c_str());
    return cpl::kReadCannotOpen;
  }

  cpl::ParsedFlow flow;
  cpl::ReadCode code = cpl::parseCompiledFlow(bytes, flow);
  if (code != cpl::kReadOk) {
    std::fprintf(stderr, "cpldump: %s: %s (load code %d)\n", path, flow.problem.c_str(), code);
    return code;
  }

  std::printf("magic %s\n", flow.magic.c_str());
  std::printf("blocks %zu\n", flow.blocks.size());
  for (size_t i = 0; i < flow.blocks.size(); ++i) {
    const cpl::FlowBlock& b = flow.blocks[i];
    const cpl::KindInfo* k = cpl::findKind(b.kind());
    std::printf("\nblock %zu: kind %d %s (%s)\n", i, b.kind(), std::string(k->className).c_str(),
                std::string(cpl::kindTitle(b.kind())).c_str());
    if (b.kind() == cpl::kKindScript) {
      std::printf("  %d instructions\n", b.instructionCount());
      for (size_t n = 0; n < b.code.size(); ++n) {
        const cpl::Instruction& ins = b.code[n];
        std::printf("  %4zu %4u %3d %s\n", n, ins.line(), ins.opcode(),
                    printable(cpl::disassemble(ins, flow.pool)).c_str());
      }
      std::printf("  default exit -> %s\n", target(b.defaultExit()).c_str());
      continue;
    }
    std::printf("  exits:");
    for (int e = 0; e < k->exitSlots; ++e)
      std::printf(" %d->%s", e, target(b.i32At(k->exitOffset + 4 * e)).c_str());
    std::printf("\n");
  }

  cpl::StringPool pool;
  pool.bytes() = flow.pool;
  const int used = pool.used();
  std::printf("\npool: %d of %d bytes in use\n", used, cpl::kPoolSize);
  if (used > 0)
    std::printf("  \"%s\"\n",
                printable(std::string(flow.pool.begin(), flow.pool.begin() + used)).c_str());
  return 0;
}
