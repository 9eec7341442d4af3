// One scan pass over 128 channels on the fake CTI: idle, and every channel
// in a call.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>

#include "flowfile/cplwriter.h"
#include "runtime/callproc/runtime.h"
#include "runtime/cti/fake_cti.h"

namespace {

struct ScanSetup {
  cti::FakeCti fake;
  platform::FakeClock clock;
  callproc::TraceLog trace{clock};
  callproc::Runtime rt{fake, clock, trace};
  std::string flowPath = "/tmp/scan_bench_flow.cpl";

  explicit ScanSetup(bool inCalls) {
    fake.channelCount = 128;
    cpl::CplWriter w;
    auto start = cpl::blankRecord(cpl::kKindStart);
    cpl::setExit(start, 0, 1);
    w.addRecord(start);
    w.addRecord(cpl::blankRecord(cpl::kKindPlayVoice));
    auto bytes = w.finish(cpl::StringPool{});
    std::ofstream(flowPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    callproc::SysConfig cfg;
    cfg.callintype = 1;
    cfg.filename = "/tmp/scan_bench.sqlite";
    std::ofstream(cfg.filename).flush();
    cfg.flowCount = 1;
    cfg.flows = {{0, flowPath, "voc"}};
    cfg.triggers = {{"", 0}};
    cfg.messageshow = 0;
    std::string err;
    rt.start(cfg, platform::IniFile("/nonexistent.ini"), &err);
    if (inCalls) {
      for (int c = 0; c < 128; ++c)
        fake.ring(c);
      rt.scanPass();
      rt.scanPass();
    }
  }
};

void BM_ScanPassIdle(benchmark::State& state) {
  ScanSetup s(false);
  for (auto _ : state)
    s.rt.scanPass();
  state.SetItemsProcessed(state.iterations() * 128);
}
BENCHMARK(BM_ScanPassIdle);

void BM_ScanPassAllInCalls(benchmark::State& state) {
  ScanSetup s(true);
  for (auto _ : state)
    s.rt.scanPass();
  state.SetItemsProcessed(state.iterations() * 128);
}
BENCHMARK(BM_ScanPassAllInCalls);

}  // namespace

BENCHMARK_MAIN();
