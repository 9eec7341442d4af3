// Runs arbitrary 49-byte records as a script block on four channels for a few
// passes, so that every command meets hostile operands: register bytes above
// 31, types outside a layout, pool references past the pool, wild jump
// targets and resets. Input: the records one after another; bytes left over
// after the last whole record overwrite the start of the pool.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "runtime/interpreter/fake_script_host.h"

namespace {

constexpr size_t kMaxRecords = 160;
constexpr int kPasses = 6;

void setUpOnce() {
  static bool done = [] {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    return true;
  }();
  (void)done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  setUpOnce();
  using interp::testing::FakeScriptHost;
  FakeScriptHost host(4);
  host.reloadOnReset = true;

  const size_t n = std::min(size / cpl::kInstrSize, kMaxRecords);
  std::vector<cpl::Instruction> code(n);
  for (size_t i = 0; i < n; ++i)
    std::memcpy(code[i].bytes().data(), data + i * cpl::kInstrSize, cpl::kInstrSize);

  // A pool with separators, double-byte text and zero bytes in it.
  static const char kText[] =
      "a,b::c\xd6\xd0"
      "d 12 -3.5e2 20240230120000\0xyz";
  auto& pool = host.strings.bytes();
  for (size_t i = 0; i < pool.size(); ++i)
    pool[i] = static_cast<uint8_t>(kText[i % sizeof kText]);
  const size_t tail = size - n * cpl::kInstrSize;
  std::memcpy(pool.data(), data + n * cpl::kInstrSize, std::min(tail, pool.size()));

  host.blocks = {FakeScriptHost::scriptBlock(code, 1), FakeScriptHost::scriptBlock(code, 7),
                 FakeScriptHost::plainBlock()};
  for (int c = 0; c < host.channelCount(); ++c) {
    auto& r = host.chans[c].regs;
    r.I[1] = c - 1;
    r.F[1] = 0.5 * c;
    r.S[1] =
        "a,b\xd6\xd0"
        "c";
    r.T[1] = 1700000000 + c;
    host.chans[c].caller = "13900001111";
    host.enter(c, 0);
  }
  for (int p = 0; p < kPasses; ++p)
    host.pass();
  return 0;
}
