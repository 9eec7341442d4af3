// flowdesigner, the flow designer. Its command line checks and compiles
// without a display; each subcommand is one entry of kCommands.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>

#include "designer/compiler/tparser.h"
#include "platform/gbk.h"

namespace {

struct Command {
  std::string_view name;
  std::string_view arguments;
  std::string_view summary;
  int (*run)(std::span<char* const> args);
};

int compileScript(std::span<char* const> args);

constexpr Command kCommands[] = {
    {"compile-script", "FILE",
     "compile FILE (UTF-8) as the script of one script block; print each record as\n"
     "                         98 hex digits, then \"exits:\" and the exit names, then \"pool:\"\n"
     "                         and the string pool in hex. Errors go to standard error\n"
     "                         and the exit status is 1.",
     compileScript},
};

void printUsage(std::FILE* to) {
  std::fprintf(to, "Usage: flowdesigner COMMAND [ARGUMENTS]\n\nCommands:\n");
  for (const Command& c : kCommands) {
    const std::string head = std::string(c.name) + " " + std::string(c.arguments);
    std::fprintf(to, "  %-22s %.*s\n", head.c_str(), static_cast<int>(c.summary.size()),
                 c.summary.data());
  }
  std::fprintf(to, "\nOptions:\n  --help                 show this text\n");
}

bool readFile(const char* path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::string hex(const uint8_t* bytes, size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s;
  s.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[bytes[i] >> 4];
    s += kDigits[bytes[i] & 15];
  }
  return s;
}

int compileScript(std::span<char* const> args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "flowdesigner: compile-script takes one FILE\n");
    return 2;
  }
  std::string text;
  if (!readFile(args[0], text)) {
    std::fprintf(stderr, "flowdesigner: cannot read %s: %s\n", args[0], std::strerror(errno));
    return 1;
  }
  // Scripts are GBK inside; a file that is not UTF-8 is taken as GBK already.
  if (platform::isValidUtf8(text)) text = platform::utf8ToGbk(text);

  cpl::StringPool& pool = compiler::sharedStringPool();
  pool.clear();
  compiler::TParser parser;
  parser.setSource(compiler::splitLines(text));
  if (!parser.compile()) {
    std::fprintf(stderr, "%s\n", parser.error().text.c_str());
    return 1;
  }
  for (const compiler::ScriptEntry& e : parser.records())
    std::printf("%s\n", hex(e.record.bytes().data(), cpl::kInstrSize).c_str());
  std::string exits;
  for (const std::string& name : parser.exitNames())
    exits += (exits.empty() ? "" : ",") + platform::gbkToUtf8(name);
  std::printf("exits:%s\n", exits.c_str());
  std::printf("pool:%s\n", hex(pool.bytes().data(), pool.used()).c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::span<char* const> args(argv + 1, argc > 0 ? argc - 1 : 0);
  if (args.empty()) {
    printUsage(stderr);
    return 2;
  }
  const std::string_view name = args[0];
  if (name == "--help" || name == "-h") {
    printUsage(stdout);
    return 0;
  }
  for (const Command& c : kCommands)
    if (c.name == name) return c.run(args.subspan(1));
  std::fprintf(stderr, "flowdesigner: unknown command '%s' (try --help)\n", args[0]);
  return 2;
}
