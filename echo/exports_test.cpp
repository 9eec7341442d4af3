#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "echo/canceller.h"
#include "echo/dampa.h"
#include "echo/signals.h"

namespace {

struct Library {
  const char* path;
  const char* init;
  const char* process;
  const char* other_init;
  const char* other_process;
};

void PrintTo(const Library& lib, std::ostream* os) {
  *os << lib.path;
}

class Exports : public ::testing::TestWithParam<Library> {};

TEST_P(Exports, OnlyItsOwnEntryPoints) {
  const Library& lib = GetParam();
  void* h = dlopen(lib.path, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(h, nullptr) << dlerror();
  EXPECT_NE(dlsym(h, lib.init), nullptr);
  EXPECT_NE(dlsym(h, lib.process), nullptr);
  EXPECT_EQ(dlsym(h, lib.other_init), nullptr);
  EXPECT_EQ(dlsym(h, lib.other_process), nullptr);
  // Internal functions stay hidden: dampa::reset(State&), dampa::bestKernels().
  EXPECT_EQ(dlsym(h, "_ZN5dampa5resetERNS_5StateE"), nullptr);
  EXPECT_EQ(dlsym(h, "_ZN5dampa11bestKernelsEv"), nullptr);
  dlclose(h);
}

INSTANTIATE_TEST_SUITE_P(
    Dampa, Exports,
    ::testing::Values(Library{DAMPA1_PATH, "initial_b", "Dampa_1", "initial_a", "Dampa_0"},
                      Library{DAMPA0_PATH, "initial_a", "Dampa_0", "initial_b", "Dampa_1"}),
    [](const auto& info) { return std::string(info.param.init); });

TEST(Exports, EachLibraryKeepsItsOwnState) {
  // Interleaved calls on the two libraries give what two separate states give.
  const int n = 3000;
  auto far1 = dampa::signals::whiteNoise(n, 3000, 1);
  auto cap1 = dampa::signals::capture(far1, dampa::signals::echoPath(200, 15, 2), 40, 3);
  auto far0 = dampa::signals::speechLike(n, 3000, 4);
  auto cap0 = dampa::signals::capture(far0, dampa::signals::echoPath(300, 15, 5), 40, 6);
  auto s1 = std::make_unique<dampa::State>();
  auto s0 = std::make_unique<dampa::State>();
  ASSERT_EQ(initial_b(), 0);
  ASSERT_EQ(initial_a(), 0);
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(Dampa_1(cap1[i], far1[i]), dampa::process(*s1, cap1[i], far1[i])) << i;
    ASSERT_EQ(Dampa_0(cap0[i], far0[i]), dampa::process(*s0, cap0[i], far0[i])) << i;
  }
  // A new echo path on one library leaves the other one's filter alone.
  ASSERT_EQ(initial_b(), 0);
  dampa::reset(*s1);
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(Dampa_0(cap0[i], far0[i]), dampa::process(*s0, cap0[i], far0[i])) << i;
    ASSERT_EQ(Dampa_1(cap1[i], far1[i]), dampa::process(*s1, cap1[i], far1[i])) << i;
  }
}

}  // namespace
