// flowdesigner, the flow designer. Its command line checks and compiles
// without a display; each subcommand is one entry of kCommands. Without a
// command, or with a project file to open, it shows the designer's window.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "designer/chart/flow_check.h"
#include "designer/chart/flow_writer.h"
#include "designer/chart/project_file.h"
#include "designer/compiler/tparser.h"
#include "platform/gbk.h"

#ifdef FLOWDESIGNER_WINDOW
#include <QApplication>
#include <QFileInfo>

#include "designer/ui/main_window.h"
#endif

namespace {

struct Command {
  std::string_view name;
  std::string_view arguments;
  std::string_view summary;
  int (*run)(std::span<char* const> args);
};

int compileScript(std::span<char* const> args);
// Loads a project for a command; false after saying why.
bool loadOrSay(chart::Chart& chart, const char* project) {
  const chart::LoadResult loaded = chart::loadProjectFile(chart, project);
  if (!loaded.ok()) std::fprintf(stderr, "flowdesigner: %s\n", loaded.message.c_str());
  return loaded.ok();
}

int compileProject(std::span<char* const> args);
int checkProject(std::span<char* const> args);

constexpr Command kCommands[] = {
    {"compile", "PROJECT.src [-o OUT.cpl]",
     "Compiles the project into a compiled flow file for the runtime, by default\n"
     "next to the project with the extension .cpl (a.src gives a.cpl), and prints\n"
     "\"<file>文件编译完成\". A script block that does not compile: its error and\n"
     "\"编译错误,脚本命令<block>错误\" go to standard error, the file is left\n"
     "without its string pool, and the exit status is 1. A project that cannot be\n"
     "read or is malformed: exit status 2.",
     compileProject},
    {"compile-script", "FILE",
     "Compiles FILE (UTF-8 text) as the script of one script block.\n"
     "On success prints each record as 98 hex digits, then \"exits:\" and the\n"
     "exit names joined by commas, then \"pool:\" and the used string pool in hex.\n"
     "On an error prints the error text to standard error and exits with 1.",
     compileScript},
    {"check", "PROJECT.src [--voice-dir DIR]",
     "Checks the flow without compiling it and prints one line per finding:\n"
     "\"错误: 命令<block>(<kind>)[<note>]: <message>\" or \"警告: ...\", then\n"
     "\"检查完成: <n>个错误, <m>个警告\". Errors: a start block leading nowhere,\n"
     "scripts that do not compile, gotoout names without an exit, voice files\n"
     "missing from DIR (only checked with --voice-dir), blocks whose dialog was\n"
     "never confirmed, kinds the runtime does not run, endless loops. Warnings:\n"
     "outcome exits (busy, no answer, timed out ...) left unconnected in a block\n"
     "that has other exits connected, blocks the start block cannot reach.\n"
     "Exit status 1 when there are errors, 0 otherwise, 2 when the project\n"
     "cannot be read.",
     checkProject},
};

// Each command's summary, indented under its synopsis.
void printUsage(std::FILE* to) {
  std::fprintf(to,
               "Usage: flowdesigner [PROJECT.src]\n       flowdesigner COMMAND [ARGUMENTS]\n"
               "       flowdesigner --help\n");
#ifdef FLOWDESIGNER_WINDOW
  std::fprintf(to, "\nWithout a command the designer's window opens, with PROJECT.src if given.\n");
#else
  std::fprintf(to,
               "\nThis build has no window (built with OLVARO_CORE_ONLY); only the commands.\n");
#endif
  std::fprintf(to, "\nCommands:\n");
  for (const Command& c : kCommands) {
    std::fprintf(to, "  %.*s %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                 static_cast<int>(c.arguments.size()), c.arguments.data());
    std::string_view rest = c.summary;
    while (!rest.empty()) {
      const size_t nl = rest.find('\n');
      const std::string_view line = rest.substr(0, nl);
      std::fprintf(to, "      %.*s\n", static_cast<int>(line.size()), line.data());
      rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    }
  }
}

// The whole file; false with errno set when it cannot be read (a directory, say).
bool readFile(const char* path, std::string& out) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
    out.append(buf, n);
  const bool ok = !std::ferror(f);
  const int err = errno;
  std::fclose(f);
  errno = err;
  return ok;
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

  cpl::StringPool pool;
  compiler::TParser parser(pool);
  parser.setSource(compiler::splitLines(text));
  if (!parser.compile()) {
    std::fprintf(stderr, "%s\n", parser.error().text.c_str());
    return 1;
  }
  for (const compiler::ScriptEntry& e : parser.records())
    std::printf("%s\n", hex(e.record.bytes().data(), cpl::kInstrSize).c_str());
  std::string exits;
  for (const std::string& name : parser.exitNames()) {
    if (!exits.empty()) exits += ',';
    exits += platform::gbkToUtf8(name);
  }
  std::printf("exits:%s\n", exits.c_str());
  std::printf("pool:%s\n", hex(pool.bytes().data(), pool.used()).c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int compileProject(std::span<char* const> args) {
  const char* project = nullptr;
  std::string out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (a == "-o" && i + 1 < args.size()) {
      out = args[++i];
    } else if (!a.empty() && a[0] != '-' && !project) {
      project = args[i];
    } else {
      std::fprintf(stderr, "flowdesigner: compile takes PROJECT.src [-o OUT.cpl] (try --help)\n");
      return 2;
    }
  }
  if (!project) {
    std::fprintf(stderr, "flowdesigner: compile needs a PROJECT.src (try --help)\n");
    return 2;
  }
  chart::Chart chart;
  if (!loadOrSay(chart, project)) return 2;
  if (out.empty()) out = chart::compiledNameFor(project);

  const chart::CompileOutcome compiled = chart::compileChart(chart);
  // A failed compile still leaves its partial file, as the designer does;
  // the runtime refuses a file without its pool.
  if (!chart::writeFlowFile(out, compiled.bytes)) {
    std::fprintf(stderr, "flowdesigner: cannot write %s: %s\n", out.c_str(), std::strerror(errno));
    return 1;
  }
  if (!compiled.ok) {
    std::fprintf(stderr, "%s\n%s\n", compiled.scriptError.c_str(), compiled.status.c_str());
    return 1;
  }
  std::printf("%s\n", chart::compiledStatus(out).c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int checkProject(std::span<char* const> args) {
  const char* project = nullptr;
  chart::CheckOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (a == "--voice-dir" && i + 1 < args.size()) {
      options.voiceDir = args[++i];
    } else if (!a.empty() && a[0] != '-' && !project) {
      project = args[i];
    } else {
      std::fprintf(stderr,
                   "flowdesigner: check takes PROJECT.src [--voice-dir DIR] (try --help)\n");
      return 2;
    }
  }
  if (!project) {
    std::fprintf(stderr, "flowdesigner: check needs a PROJECT.src (try --help)\n");
    return 2;
  }
  chart::Chart chart;
  if (!loadOrSay(chart, project)) return 2;
  // A voice directory that is not there would report every file missing.
  if (!options.voiceDir.empty()) {
    struct stat st {};
    if (::stat(options.voiceDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      std::fprintf(stderr, "flowdesigner: %s is not a directory\n", options.voiceDir.c_str());
      return 2;
    }
  }
  const std::vector<chart::Finding> findings = chart::checkFlow(chart, options);
  for (const chart::Finding& f : findings)
    std::printf("%s\n", chart::formatFinding(f).c_str());
  std::printf("%s\n", chart::checkSummary(findings).c_str());
  if (std::fflush(stdout) != 0) return 2;
  return chart::hasErrors(findings) ? 1 : 0;
}

#ifdef FLOWDESIGNER_WINDOW
// The window, with `project` opened when given.
int runWindow(int argc, char** argv, const char* project) {
  // Without any display Qt would abort; say what to do instead.
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
      !std::getenv("QT_QPA_PLATFORM")) {
    std::fprintf(stderr,
                 "flowdesigner: no display for the window (set DISPLAY, or run it under "
                 "xvfb-run); the commands below need none.\n\n");
    printUsage(stderr);
    return 2;
  }
  QApplication app(argc, argv);
  designer_ui::Tfrmmain window;
  if (project) window.openFile(QString::fromLocal8Bit(project));
  window.show();
  return app.exec();
}

// A first argument that names a project file rather than a command.
bool isProjectArgument(std::string_view a) {
  if (a.empty() || a[0] == '-') return false;
  return (a.size() > 4 && a.substr(a.size() - 4) == ".src") ||
         QFileInfo(QString::fromLocal8Bit(a.data(), static_cast<qsizetype>(a.size()))).isFile();
}
#endif

}  // namespace

int main(int argc, char** argv) {
  std::span<char* const> args(argv + 1, argc > 0 ? argc - 1 : 0);
#ifdef FLOWDESIGNER_WINDOW
  if (args.empty()) return runWindow(argc, argv, nullptr);
  if (args.size() == 1 && isProjectArgument(args[0])) return runWindow(argc, argv, args[0]);
#endif
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
