// A fixture that gives each test a closed library and a fresh virtual box
// whose device time moves only by hand.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "voicebox/library.h"
#include "voicebox/virtual_box.h"
#include "voicebox/zt_api.h"

namespace parvane_test {

using Event = std::array<int, ZT_EVENT_WORDS>;

class BoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("PARVANE_CONTROL", "off", 1);
    ::unsetenv("PARVANE_DEVICE");
    parvane::resetLibrary();
    box().reset(false);
  }
  void TearDown() override { parvane::resetLibrary(); }

  static parvane::VirtualBox& box() { return parvane::virtualBox(); }

  // Opens and initialises the library without the poller.
  void open() {
    ASSERT_EQ(ZT_Installed(), 2);
    ASSERT_EQ(ZT_Initialize(), 0);
  }

  static std::vector<Event> drain(int ch) {
    std::vector<Event> out;
    Event e{};
    while (ZT_GetEvent(ch, e.data()) == 1)
      out.push_back(e);
    return out;
  }
  static std::vector<int> codes(const std::vector<Event>& events) {
    std::vector<int> out;
    for (auto& e : events)
      out.push_back(e[0]);
    return out;
  }
  // Runs the detection step every 200 ms of device time for ms, and returns
  // the event codes posted.
  static std::vector<int> detectFor(int ch, int ms) {
    std::vector<int> out;
    for (int t = 0; t < ms; t += 200) {
      box().advanceMs(200);
      parvane::detectionStep(ch);
      for (int c : codes(drain(ch)))
        out.push_back(c);
    }
    return out;
  }
  static std::string eventText(const Event& e) {
    return std::string(reinterpret_cast<const char*>(&e[2]));
  }
};

}  // namespace parvane_test
