// One scan pass with 128 channels in script blocks, each running 50
// straight-line arithmetic and string instructions, the trace log going to a
// file. The pass must fit well inside the 50 ms scan period.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "flowfile/cplwriter.h"
#include "flowfile/encode.h"
#include "runtime/callproc/runtime.h"
#include "runtime/cti/fake_cti.h"

namespace {

using cpl::Operand;

constexpr int kChannels = 128;
constexpr int kInstructions = 50;

Operand reg(cpl::OperandType t, int n) {
  return Operand::regOf(t, n);
}

std::vector<cpl::Instruction> straightLine(cpl::StringPool& pool) {
  const cpl::PoolRef text = *pool.append("abc,def"), tail = *pool.append("xyz"),
                     comma = *pool.append(",");
  const std::vector<cpl::Instruction> ten = {
      *cpl::buildInstruction(0, cpl::kAdd, {reg(cpl::kOpI, 1), Operand::intConst(1)}),
      *cpl::buildInstruction(1, cpl::kSet, {reg(cpl::kOpF, 1), reg(cpl::kOpI, 1)}),
      *cpl::buildInstruction(2, cpl::kDiv, {reg(cpl::kOpF, 1), Operand::intConst(3)}),
      *cpl::buildInstruction(3, cpl::kSub, {reg(cpl::kOpI, 2), reg(cpl::kOpI, 1)}),
      *cpl::buildInstruction(4, cpl::kSet, {reg(cpl::kOpS, 1), Operand::strConst(text)}),
      *cpl::buildInstruction(5, cpl::kStrcat, {reg(cpl::kOpS, 1), Operand::strConst(tail)}),
      *cpl::buildInstruction(6, cpl::kStrlen, {reg(cpl::kOpI, 3), reg(cpl::kOpS, 1)}),
      *cpl::buildInstruction(
          7, cpl::kStrmid,
          {Operand::intConst(1), Operand::intConst(3), reg(cpl::kOpS, 2), reg(cpl::kOpS, 1)}),
      *cpl::buildInstruction(
          8, cpl::kStrparse,
          {Operand::intConst(1), Operand::strConst(comma), reg(cpl::kOpS, 3), reg(cpl::kOpS, 1)}),
      *cpl::buildInstruction(9, cpl::kI2s, {reg(cpl::kOpI, 1), reg(cpl::kOpS, 4)}),
  };
  std::vector<cpl::Instruction> code;
  while (code.size() < kInstructions)
    code.insert(code.end(), ten.begin(), ten.end());
  return code;
}

struct ScriptSetup {
  cti::FakeCti fake;
  platform::SystemClock& clock = platform::SystemClock::instance();
  callproc::TraceLog trace{clock};
  callproc::Runtime rt{fake, clock, trace};
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> out{
      std::fopen("/tmp/interp_bench_trace.log", "w"), &std::fclose};
  callproc::StreamSink sink{out.get()};

  explicit ScriptSetup(bool traceOn) {
    fake.channelCount = kChannels;
    cpl::StringPool pool;
    cpl::CplWriter w;
    auto start = cpl::blankRecord(cpl::kKindStart);
    cpl::setExit(start, 0, 1);
    w.addRecord(start);
    w.addScript(straightLine(pool), 2);
    w.addRecord(cpl::blankRecord(cpl::kKindPlayVoice));
    auto bytes = w.finish(pool);
    const std::string flowPath = "/tmp/interp_bench_flow.cpl";
    std::ofstream(flowPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    callproc::SysConfig cfg;
    cfg.callintype = 1;
    cfg.filename = "/tmp/interp_bench.sqlite";
    std::ofstream(cfg.filename).flush();
    cfg.flowCount = 1;
    cfg.flows = {{0, flowPath, "voc"}};
    cfg.triggers = {{"", 0}};
    cfg.messageshow = traceOn ? 1 : 0;
    std::string err;
    rt.start(cfg, platform::IniFile("/nonexistent.ini"), &err);
    for (int c = 0; c < kChannels; ++c)
      fake.ring(c);
    rt.scanPass();  // answer
    rt.scanPass();  // start block
    rt.scanPass();  // script block entered
    trace.addSink(&sink);
  }
  ~ScriptSetup() {
    trace.removeSink(&sink);
    sink.flush();
  }
  // Every channel back at the first instruction, so each pass runs all 50.
  void rewind() {
    for (int c = 0; c < kChannels; ++c)
      rt.channels().step(c).script.pc = 0;
  }
};

// What the scan thread pays: the pass, with its lines queued for the writer.
void BM_ScriptPassTraceToFile(benchmark::State& state) {
  ScriptSetup s(true);
  for (auto _ : state) {
    s.rewind();
    s.rt.scanPass();
  }
  s.sink.flush();
  state.SetItemsProcessed(state.iterations() * kChannels * kInstructions);
}
BENCHMARK(BM_ScriptPassTraceToFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The pass and the writing of all its 6400 lines to the file.
void BM_ScriptPassTraceWritten(benchmark::State& state) {
  ScriptSetup s(true);
  for (auto _ : state) {
    s.rewind();
    s.rt.scanPass();
    s.sink.flush();
  }
  state.SetItemsProcessed(state.iterations() * kChannels * kInstructions);
}
BENCHMARK(BM_ScriptPassTraceWritten)->Unit(benchmark::kMillisecond)->UseRealTime();

// The interpreter alone: messageshow 0 drops every line.
void BM_ScriptPassNoTrace(benchmark::State& state) {
  ScriptSetup s(false);
  for (auto _ : state) {
    s.rewind();
    s.rt.scanPass();
  }
  state.SetItemsProcessed(state.iterations() * kChannels * kInstructions);
}
BENCHMARK(BM_ScriptPassNoTrace)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
