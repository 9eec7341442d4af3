// SIP lines on loopback, driven as the runtime drives them (status, answer,
// hang up) against callers written by hand, so that the figures are those of
// the lines and libre alone:
//   - calls set up and torn down per second, one at a time and sixteen at a
//     time (INVITE, 180, answer, 200, ACK, BYE, 200, the channel freed);
//   - the CPU that held calls cost, each sending and receiving 50 frames a
//     second;
//   - the spread of the intervals between the RTP packets of a playback as
//     the caller receives them (and as the lines' own clock sent them).
// Every benchmark runs in real time: the work is on the lines' SIP thread.
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "hardware/chanrecord.h"
#include "hardware/cti_contract.h"
#include "hardware/sip_lines.h"
#include "hardware/sip_raw_peer.h"

namespace {

using hardware::SipLines;
using hardware::SipSettings;
using hardware::testpeer::freeUdpPort;
using hardware::testpeer::inDialog;
using hardware::testpeer::invite;
using hardware::testpeer::RawPeer;
using hardware::testpeer::toTag;
using hardware::testpeer::waitFor;

struct Lines {
  SipSettings s;
  SipLines lines;
  std::vector<unsigned char> table = std::vector<unsigned char>(CHAN_RECORD_SIZE * CHAN_MAX);
  bool ok = false;

  explicit Lines(int channels) {
    s.port = freeUdpPort();
    s.channels = channels;
    s.quietTimeoutS = 0;  // the callers here send no RTP
    std::string error;
    ok = lines.start(s, &error) == channels;
    if (ok) lines.setTable(table.data());
  }
};

struct Caller {
  RawPeer sip;
  RawPeer rtp;
  std::string id;
  std::string tag;
};

uint64_t g_call = 0;

// Sends the INVITE of a new call.
void dial(Caller& c, int sipPort) {
  c.id = std::to_string(++g_call);
  c.id.insert(c.id.begin(), 'b');
  c.sip.send(sipPort, invite("8888", sipPort, c.sip.port(), c.rtp.port(), c.id));
}

// The 200 OK of the caller's request `cseqMethod` ("1 INVITE"), skipping
// provisional answers and retransmissions of others.
std::string okOf(Caller& c, const std::string& cseqMethod) {
  for (int i = 0; i < 8; ++i) {
    std::string ok = c.sip.expect("SIP/2.0 200", 5000);
    if (ok.empty() || ok.find(cseqMethod + "\r\n") != std::string::npos) return ok;
  }
  return {};
}

// The caller's side of an answered call: the 200 OK and the ACK.
bool acknowledge(Caller& c, int sipPort) {
  const std::string ok = okOf(c, "1 INVITE");
  if (ok.empty()) return false;
  c.tag = toTag(ok);
  c.sip.send(sipPort, inDialog("ACK", 1, sipPort, c.sip.port(), c.id, c.tag));
  return true;
}

bool hangUp(Caller& c, int sipPort) {
  c.sip.send(sipPort, inDialog("BYE", 2, sipPort, c.sip.port(), c.id, c.tag));
  return !okOf(c, "2 BYE").empty();
}

// `n` calls at once on `n` channels: offered, answered, hung up by the
// callers, and their channels freed as the runtime frees them.
bool callCycle(Lines& l, std::vector<std::unique_ptr<Caller>>& callers) {
  const int n = static_cast<int>(callers.size());
  for (auto& c : callers)
    dial(*c, l.s.port);
  for (int ch = 0; ch < n; ++ch) {
    if (!waitFor([&] { return l.lines.outLineStatus(ch) == CTI_OUT_INCOMING; }, 5000)) return false;
    l.lines.offHook(ch);
  }
  for (auto& c : callers)
    if (!acknowledge(*c, l.s.port) || !hangUp(*c, l.s.port)) return false;
  for (int ch = 0; ch < n; ++ch) {
    if (!waitFor([&] { return l.lines.outLineStatus(ch) == CTI_OUT_HUNG_UP; }, 5000)) return false;
    l.lines.onHook(ch);
  }
  return true;
}

void BM_CallSetupAndTeardown(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Lines l(n);
  if (!l.ok) {
    state.SkipWithError("the SIP lines did not start");
    return;
  }
  std::vector<std::unique_ptr<Caller>> callers;
  for (int i = 0; i < n; ++i)
    callers.push_back(std::make_unique<Caller>());
  for (auto _ : state) {
    if (!callCycle(l, callers)) {
      state.SkipWithError("a call was not set up or torn down");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.counters["calls/s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * n), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CallSetupAndTeardown)->Arg(1)->Arg(16)->UseRealTime()->Unit(benchmark::kMillisecond);

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Held calls: each iteration is one second of `n` answered calls, each
// sent a frame of silence every 20 ms and sending one back (so that the
// receive path, the jitter buffer and the recording tick run too).
void BM_HeldCalls(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Lines l(n);
  if (!l.ok) {
    state.SkipWithError("the SIP lines did not start");
    return;
  }
  std::vector<std::unique_ptr<Caller>> callers;
  for (int i = 0; i < n; ++i) {
    callers.push_back(std::make_unique<Caller>());
    dial(*callers.back(), l.s.port);
  }
  std::vector<int> mediaPorts;
  for (int ch = 0; ch < n; ++ch) {
    if (!waitFor([&] { return l.lines.outLineStatus(ch) == CTI_OUT_INCOMING; }, 5000)) {
      state.SkipWithError("a call was not offered");
      return;
    }
    l.lines.offHook(ch);
  }
  for (auto& c : callers) {
    const std::string ok = okOf(*c, "1 INVITE");
    const auto m = ok.find("m=audio ");
    if (m == std::string::npos) {
      state.SkipWithError("a call was not answered");
      return;
    }
    mediaPorts.push_back(std::stoi(ok.substr(m + 8)));
    c->tag = toTag(ok);
    c->sip.send(l.s.port, inDialog("ACK", 1, l.s.port, c->sip.port(), c->id, c->tag));
  }
  std::string frame(12 + 160, static_cast<char>(0xD5));
  frame[0] = static_cast<char>(0x80);
  frame[1] = 8;
  double cpu = 0, wall = 0;
  uint16_t seq = 0;
  uint32_t ts = 0;
  for (auto _ : state) {
    const double c0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    auto next = t0;
    for (int tick = 0; tick < 50; ++tick) {
      ++seq;
      ts += 160;
      frame[2] = static_cast<char>(seq >> 8);
      frame[3] = static_cast<char>(seq);
      for (int b = 0; b < 4; ++b)
        frame[4 + b] = static_cast<char>(ts >> (24 - 8 * b));
      for (int i = 0; i < n; ++i)
        callers[i]->rtp.send(mediaPorts[i], frame);
      next += std::chrono::milliseconds(20);
      std::this_thread::sleep_until(next);
    }
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu += cpuSeconds() - c0;
  }
  // The process's CPU includes the callers' own sending, a small part.
  state.counters["cpu_%_of_a_core"] = 100.0 * cpu / wall;
  state.counters["cpu_%_per_call"] = 100.0 * cpu / wall / n;
  for (int i = 0; i < n; ++i)
    hangUp(*callers[i], l.s.port);
}
BENCHMARK(BM_HeldCalls)
    ->Arg(16)
    ->Arg(64)
    ->Arg(128)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// A playback of two seconds, as the caller receives it.
void BM_PlaybackSendJitter(benchmark::State& state) {
  Lines l(1);
  if (!l.ok) {
    state.SkipWithError("the SIP lines did not start");
    return;
  }
  char dir[] = "/tmp/sip_bench_XXXXXX";
  if (!mkdtemp(dir)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string voice = std::string(dir) + "/prompt.voc";
  std::ofstream(voice, std::ios::binary) << std::string(16000, static_cast<char>(0x55));
  Caller c;
  dial(c, l.s.port);
  if (!waitFor([&] { return l.lines.outLineStatus(0) == CTI_OUT_INCOMING; }, 5000) ||
      l.lines.offHook(0) != 0 || !acknowledge(c, l.s.port)) {
    state.SkipWithError("the call was not answered");
    return;
  }
  std::vector<double> intervals;
  for (auto _ : state) {
    if (l.lines.playFile(0, voice.c_str()) != 0) {
      state.SkipWithError("the playback did not start");
      return;
    }
    // Arrival times of the prompt's packets (payload not silence).
    std::chrono::steady_clock::time_point last{};
    while (l.lines.playFinished(0) != CTI_PLAY_FINISHED) {
      pollfd p{c.rtp.fd(), POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[512];
      const ssize_t got = recv(c.rtp.fd(), buf, sizeof buf, 0);
      const auto now = std::chrono::steady_clock::now();
      if (got < 13 || static_cast<uint8_t>(buf[12]) != 0x55) continue;
      if (last != std::chrono::steady_clock::time_point{})
        intervals.push_back(std::chrono::duration<double, std::micro>(now - last).count());
      last = now;
    }
  }
  hangUp(c, l.s.port);
  std::remove(voice.c_str());
  rmdir(dir);
  if (intervals.empty()) {
    state.SkipWithError("no packet of the prompt arrived");
    return;
  }
  std::sort(intervals.begin(), intervals.end());
  double sum = 0, sq = 0;
  for (double v : intervals) {
    sum += v;
    sq += v * v;
  }
  const double mean = sum / static_cast<double>(intervals.size());
  state.counters["intervals"] = static_cast<double>(intervals.size());
  state.counters["mean_us"] = mean;
  state.counters["stddev_us"] =
      std::sqrt(std::max(0.0, sq / static_cast<double>(intervals.size()) - mean * mean));
  state.counters["p99_us"] = intervals[intervals.size() * 99 / 100];
  state.counters["min_us"] = intervals.front();
  state.counters["max_us"] = intervals.back();
  const hardware::SendJitter sent = l.lines.sendJitter();
  state.counters["clock_stddev_us"] = sent.stddevUs;
  state.counters["clock_max_us"] = static_cast<double>(sent.maxUs);
}
BENCHMARK(BM_PlaybackSendJitter)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
