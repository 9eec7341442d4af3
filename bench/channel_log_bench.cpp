// The cost of one block handler's trace line: through the channel log
// (prefix and GBK conversion into one buffer) against the way the handlers
// wrote them before (a converted string per GBK argument, then printf), for
// an ASCII voice path and a Chinese one.
#include <benchmark/benchmark.h>

#include "platform/gbk.h"
#include "platform/ticks.h"
#include "runtime/callproc/trace.h"
#include "runtime/chanlog/channel_log.h"

namespace {

class CountingSink : public callproc::TraceSink {
 public:
  void write(std::string_view line) override { bytes += line.size(); }
  size_t bytes = 0;
};

struct Setup {
  platform::FakeClock clock;
  callproc::TraceLog trace{clock};
  chanlog::ChannelLog log{trace};
  CountingSink sink;
  Setup() { trace.addSink(&sink); }
  ~Setup() { trace.removeSink(&sink); }
};

std::string pathFor(bool chinese) {
  return chinese ? "voc\\" + platform::utf8ToGbk("欢迎您致电本公司服务热线.voc")
                 : std::string("voc\\welcome_to_the_service_line.voc");
}

void BM_HandlerLineChannelLog(benchmark::State& state) {
  Setup s;
  const std::string path = pathFor(state.range(0) != 0);
  int c = 0;
  for (auto _ : state) {
    s.log.block(c, 7, "PlayFile CTIPlayFile(%d,%s)", c, chanlog::Gbk{path});
    c = (c + 1) & 127;
  }
  benchmark::DoNotOptimize(s.sink.bytes);
}
BENCHMARK(BM_HandlerLineChannelLog)->Arg(0)->Arg(1);

void BM_HandlerLinePerArgument(benchmark::State& state) {
  Setup s;
  const std::string path = pathFor(state.range(0) != 0);
  int c = 0;
  for (auto _ : state) {
    s.trace("通道%d=>(%d)PlayFile CTIPlayFile(%d,%s)", c, 7, c, platform::gbkToUtf8(path).c_str());
    c = (c + 1) & 127;
  }
  benchmark::DoNotOptimize(s.sink.bytes);
}
BENCHMARK(BM_HandlerLinePerArgument)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
