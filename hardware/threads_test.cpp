// The KeyCall receiver and the scan thread call the library at once. One
// thread places calls, presses keys and hangs up on every line; the other
// polls like the scan pass, answers and checks that every call's keys arrive
// whole and in order. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "hardware/hardware.h"
#include "hardware/hardware_internal.h"

namespace {

TEST(Threads, KeyCallAndScanAtOnce) {
  hardware::Settings s;
  s.simulated = true;
  ASSERT_EQ(hardware_internal::reinit(s), 8);
  constexpr int kLines = 8;
  constexpr int kCalls = 40;
  constexpr int kKeys = 60;
  const std::string keys = "0123456789*#";

  std::atomic<bool> done{false};
  std::vector<std::atomic<int>> answered(kLines);
  std::thread caller([&] {
    for (int call = 0; call < kCalls; ++call) {
      for (int ch = 0; ch < kLines; ++ch) {
        int before = answered[ch];
        // Wait until the scan side has put the line on-hook after the last call.
        while (CTISetKeyDtmf(ch, 'B') != 0)
          std::this_thread::yield();
        // Every other call waits to be answered, so that its keys meet the
        // reader; the rest may be withdrawn before the scan side sees them.
        if (call % 2 == 0)
          while (answered[ch] == before)
            std::this_thread::yield();
        for (int k = 0; k < kKeys; ++k)
          CTISetKeyDtmf(ch, keys[k % keys.size()]);
        CTISetKeyDtmf(ch, 'E');
      }
    }
    done = true;
  });

  std::vector<std::string> got(kLines);
  int bad = 0;
  auto pass = [&] {
    for (int ch = 0; ch < kLines; ++ch) {
      int status = CTIGetOutLineStatus(ch, 0);
      if (status == 1) {
        CTIOpenMCI();
        ++answered[ch];
      }
      int key = 0;
      // Like the runtime, keys are read only on a line this side has seen ringing.
      if (status == 1 || status == 2)
        while (CTIGetDtmf(ch, &key, 0) == 0)
          got[ch] += static_cast<char>(key);
      CTIGetPlayfinish(ch, 0);
      if (status == 5) {
        // Everything pressed before the hang-up was queued before it.
        while (CTIGetDtmf(ch, &key, 0) == 0)
          got[ch] += static_cast<char>(key);
        std::string want;
        for (int k = 0; k < kKeys; ++k)
          want += keys[k % keys.size()];
        if (got[ch] != want) ++bad;
        got[ch].clear();
        CTISetOutHook(ch);
      }
    }
  };
  while (!done)
    pass();
  for (int i = 0; i < 3; ++i)
    pass();
  caller.join();

  EXPECT_EQ(bad, 0);
  int total = 0;
  for (auto& n : answered)
    total += n;
  EXPECT_GE(total, kLines * kCalls / 2);
  for (int ch = 0; ch < kLines; ++ch)
    EXPECT_EQ(CTIGetOutLineStatus(ch, 0), 0) << ch;
  hardware_internal::reinit(hardware::Settings{});
}

}  // namespace
