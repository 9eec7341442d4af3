// How fast TParser compiles scripts.
//
// CompileFlowScripts: 100,000 lines as 1,000 script blocks of 100 lines, a
// realistic mix of database lookups, branches, string work and playback; the
// pool is cleared every ten blocks, as one flow of ten script blocks.
// CompileOneBlock: 100,000 lines in a single block with a label on every
// tenth line, to show that the label passes stay linear.
//
//   compiler_bench --emit DIR   writes DIR/flow_scripts.txt and an equivalent
//                               DIR/flow_scripts.lua (same lines, same
//                               statements) for comparing with `luac -p`.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "designer/compiler/tparser.h"

namespace {

constexpr int kLines = 100000;
constexpr int kBlockLines = 100;
constexpr int kBlocksPerFlow = 10;

// Joins the pieces (one append after another keeps GCC 12's -Wrestrict quiet).
template <typename... Parts>
std::string cat(const Parts&... parts) {
  std::string s;
  (s.append(parts), ...);
  return s;
}

// One group of 25 lines, in the script language and in Lua. `k` keeps the
// labels of different groups apart.
std::vector<std::pair<std::string, std::string>> group(int k) {
  const std::string g = cat("g", std::to_string(k)), f = cat("f", std::to_string(k));
  return {
      {cat(g, ": set s1, $caller"), cat("::", g, ":: s1 = caller")},
      {"set i1, 0", "i1 = 0"},
      {"// look the caller up", "-- look the caller up"},
      {"preparesql \"select name, balance from account where phone = ?\"",
       "preparesql(\"select name, balance from account where phone = ?\")"},
      {"setsqlparams 1, s1, in", "setsqlparams(1, s1, \"in\")"},
      {"sqlopen 1, i2", "i2 = sqlopen(1)"},
      {cat("if i2 < 1 goto ", f), cat("if i2 < 1 then goto ", f, " end")},
      {"getfields 1, s2", "s2 = getfields(1)"},
      {"getfieldf 2, f1", "f1 = getfieldf(2)"},
      {cat("if f1 <= 0.5 goto ", f), cat("if f1 <= 0.5 then goto ", f, " end")},
      {"strcat s3, \"welcome \"", "s3 = s3 .. \"welcome \""},
      {"strcat s3, s2", "s3 = s3 .. s2"},
      {"playtts s3, 1, i4, $chan", "playtts(s3, 1, i4, chan)"},
      {"add i1, 1", "i1 = i1 + 1"},
      {"cmpd f1, 10.25, i5", "i5 = cmpd(f1, 10.25)"},
      {cat("condgoto i5, 1, ", g), cat("if i5 == 1 then goto ", g, " end")},
      {"now t1", "t1 = now()"},
      {"dateaddmin t1, 30", "t1 = dateaddmin(t1, 30)"},
      {"t2s t1, s4", "s4 = t2s(t1)"},
      {"i2s i1, s5", "s5 = tostring(i1)"},
      {"set i6, $meet3", "i6 = meet3"},
      {cat(f, ": print i1"), cat("::", f, ":: print(i1)")},
      {cat("if i1 > 3 goto ", g), cat("if i1 > 3 then goto ", g, " end")},
      {"sleep 100", "sleep(100)"},
      {"gotoout done", "return gotoout(\"done\")"},
  };
}

struct Script {
  std::vector<std::vector<std::string>> blocks;
  std::string lua;
  size_t bytes = 0;
};

const Script& flowScripts() {
  static const Script s = [] {
    Script s;
    int k = 0;
    while (static_cast<int>(s.blocks.size()) * kBlockLines < kLines) {
      auto& block = s.blocks.emplace_back();
      while (static_cast<int>(block.size()) < kBlockLines) {
        const auto lines = group(k++);
        for (size_t i = 0; i < lines.size(); ++i) {
          block.push_back(lines[i].first);
          s.bytes += lines[i].first.size() + 2;
          // A Lua chunk may not run on after `return`; a block of its own keeps it legal.
          s.lua += i + 1 == lines.size() ? cat("do ", lines[i].second, " end") : lines[i].second;
          s.lua += '\n';
        }
      }
    }
    return s;
  }();
  return s;
}

void CompileFlowScripts(benchmark::State& state) {
  const Script& s = flowScripts();
  cpl::StringPool pool;
  compiler::TParser parser(pool);
  for (auto _ : state) {
    for (size_t b = 0; b < s.blocks.size(); ++b) {
      if (b % kBlocksPerFlow == 0) pool.clear();
      parser.setSource(s.blocks[b]);
      if (!parser.compile()) {
        state.SkipWithError(parser.error().text.c_str());
        return;
      }
      benchmark::DoNotOptimize(parser.records().data());
    }
  }
  state.SetItemsProcessed(state.iterations() * kLines);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.bytes));
}
BENCHMARK(CompileFlowScripts)->Unit(benchmark::kMillisecond);

void CompileOneBlock(benchmark::State& state) {
  static constexpr const char* kBody[] = {
      "set i1, 5",       "add f1, i2",        "i2s i1, s2",
      "cmpt t1, t2, i3", "getfieldi 1, i2",   "sqlopen i1, i2",
      "strcat s1, s2",   "dateaddday t1, i2", "setsqlparami 1, i2, out",
  };
  std::vector<std::string> lines;
  size_t bytes = 0;
  for (int i = 0; i < kLines; ++i) {
    std::string line = i % 10 == 0 ? cat("l", std::to_string(i), ":") : kBody[i % 10 - 1];
    bytes += line.size() + 2;
    lines.push_back(std::move(line));
  }
  lines.back() = "goto l0";
  cpl::StringPool pool;
  compiler::TParser parser(pool);
  for (auto _ : state) {
    pool.clear();
    parser.setSource(lines);
    if (!parser.compile()) {
      state.SkipWithError(parser.error().text.c_str());
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * kLines);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(CompileOneBlock)->Unit(benchmark::kMillisecond);

bool emit(const std::string& dir) {
  const Script& s = flowScripts();
  std::ofstream script(dir + "/flow_scripts.txt", std::ios::binary);
  for (const auto& block : s.blocks)
    for (const auto& line : block)
      script << line << "\r\n";
  std::ofstream lua(dir + "/flow_scripts.lua", std::ios::binary);
  lua << s.lua;
  return script.good() && lua.good();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--emit") == 0) return emit(argv[2]) ? 0 : 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
