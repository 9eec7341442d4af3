// Voice-box library: A-law conversion, mixing, and the work of one timer-path
// tick with full duplex (the 16 ms budget is the timer period).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "echo/signals.h"
#include "voicebox/alaw.h"
#include "voicebox/library.h"
#include "voicebox/virtual_box.h"
#include "voicebox/voice.h"
#include "voicebox/zt_api.h"

namespace {

void BM_AlawEncode(benchmark::State& state) {
  std::vector<int> in(8192);
  for (size_t i = 0; i < in.size(); ++i)
    in[i] = static_cast<int>((i * 2654435761u) % 8192) - 4096;
  std::vector<uint8_t> out(in.size());
  for (auto _ : state) {
    for (size_t i = 0; i < in.size(); ++i)
      out[i] = parvane::alawEncode13(in[i]);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_AlawEncode);

void BM_AlawDecode(benchmark::State& state) {
  std::vector<uint8_t> in(8192);
  for (size_t i = 0; i < in.size(); ++i)
    in[i] = static_cast<uint8_t>(i * 37);
  std::vector<int> out(in.size());
  for (auto _ : state) {
    for (size_t i = 0; i < in.size(); ++i)
      out[i] = parvane::alawDecode13(in[i]);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_AlawDecode);

void BM_MixVoice(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0)), length = static_cast<int>(state.range(1));
  std::vector<std::vector<char>> buffers(count, std::vector<char>(length));
  std::vector<char*> pointers;
  for (int b = 0; b < count; ++b) {
    for (int i = 0; i < length; ++i)
      buffers[b][i] = static_cast<char>(parvane::alawEncode13((i * (b + 3) * 97) % 3000 - 1500));
    pointers.push_back(buffers[b].data());
  }
  std::vector<char> out(length);
  for (auto _ : state)
    benchmark::DoNotOptimize(ZT_MixVoice(pointers.data(), count, out.data(), length));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * length));
}
BENCHMARK(BM_MixVoice)->Args({4, 2048})->Args({2, 128});

// One tick of the timer path in play-and-record mode at 16 ms: 128 bytes
// written, one 256-byte full-duplex block read and its 128 samples cancelled
// (channel 1, Dampa1, adapting on a line with an echo). Device time is moved
// by hand outside the timing; the wait for the timer event is not included.
void BM_TimerTickFullDuplex(benchmark::State& state) {
  ::setenv("PARVANE_CONTROL", "off", 1);
  ::unsetenv("PARVANE_DEVICE");
  parvane::resetLibrary();
  parvane::VirtualBox& box = parvane::virtualBox();
  box.reset(false);
  box.setEchoPath(1, dampa::signals::echoPath(200, 20, 3));
  if (ZT_Installed() != 2 || ZT_Initialize() != 0) {
    state.SkipWithError("voice box did not open");
    return;
  }
  std::vector<int> far = dampa::signals::whiteNoise(8000 * 10, 2000, 5);
  std::vector<char> play(far.size());
  for (size_t i = 0; i < far.size(); ++i)
    play[i] = static_cast<char>(parvane::alawEncodeClamped(far[i]));
  std::vector<char> out(1024);
  size_t pos = 0;
  int64_t bytes = 0;
  // Prime both transfers and one block of recording.
  parvane::timerTick(1, play.data(), 128, out.data(), 1024, nullptr, 2);
  for (auto _ : state) {
    state.PauseTiming();
    box.advanceMs(16);
    pos = (pos + 128) % (play.size() - 128);
    state.ResumeTiming();
    int n = parvane::timerTick(1, play.data() + pos, 128, out.data(), 1024, nullptr, 2);
    if (n != 128) {
      state.SkipWithError("tick failed");
      break;
    }
    bytes += n;
  }
  state.SetItemsProcessed(bytes);
  // Per cent of the 16 ms period one tick takes: time per tick / 16 ms * 100.
  state.counters["budget_pct"] =
      benchmark::Counter(static_cast<double>(state.iterations()) / 6250.0,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  parvane::resetLibrary();
}
BENCHMARK(BM_TimerTickFullDuplex)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
