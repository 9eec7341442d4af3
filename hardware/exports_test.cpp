// The shared library offers exactly the C functions of hardware.h: the
// runtime binds to them by name, and nothing of the C++ inside may leak out
// to clash with the program's own copies of the same code.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "hardware/cti_contract.h"
#include "hardware/test_files.h"

namespace {

TEST(Exports, OnlyTheCFunctions) {
  void* lib = ::dlopen(HARDWARE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << ::dlerror();
  for (const char* name : {"InitQam",
                           "SetChanDataMem",
                           "CTIGetChannelType",
                           "CTIGetOutLineStatus",
                           "CTIGetInLineStatus",
                           "CTIGetCallInNum",
                           "CTISetOutOffHook",
                           "CTISetOutHook",
                           "CTIFlushDTMF",
                           "CTIGetDtmf",
                           "CTIPlayFile",
                           "CTIPlayIndex",
                           "CycPlayIndex",
                           "CTIGetPlayfinish",
                           "CTIStopPlayFile",
                           "CTIRecFile",
                           "CTIStopRecord",
                           "CTIStopRP",
                           "CTIRingIn",
                           "CTIStopRingIn",
                           "CTIChConnCh",
                           "CTICallOut",
                           "CTIOpenMCI",
                           "CTICloseMCI",
                           "CTISetKeyDtmf",
                           "CTIClearKeyDtmf",
                           "GetCombineStr",
                           "HardwareSetSimulationClock",
                           "HardwareSetNotify",
                           "HardwareShutdown"})
    EXPECT_NE(::dlsym(lib, name), nullptr) << name;
    // Every function of the contract list, so that the list and the version
    // script cannot part.
#define CTI_NAME(result, name, params, args) #name,
  for (const char* name : {CTI_FUNCTIONS(CTI_NAME)})
    EXPECT_NE(::dlsym(lib, name), nullptr) << name;
#undef CTI_NAME
  for (const char* name : {"_ZN17hardware_internal8setClockEPN8platform5ClockE",
                           "_ZN8platform11SystemClock8instanceEv"})
    EXPECT_EQ(::dlsym(lib, name), nullptr) << name;

  // The library works on its own: a simulated call rings.
  auto setKey = reinterpret_cast<int (*)(int, int)>(::dlsym(lib, "CTISetKeyDtmf"));
  auto status = reinterpret_cast<int (*)(int, int)>(::dlsym(lib, "CTIGetOutLineStatus"));
  ASSERT_EQ(setKey(6, 'B'), 0);
  EXPECT_EQ(status(6, 0), 1);
  // Left loaded: the library keeps its state for the life of the process.
}

// The call simulation's clock reaches the simulated lines through the one
// exported setter: a voice file plays for its length in virtual time.
unsigned int gVirtualMs = 5000;
unsigned int virtualTicks(void* ctx) {
  return *static_cast<unsigned int*>(ctx);
}

TEST(Exports, SimulationClockTimesPlayback) {
  void* lib = ::dlopen(HARDWARE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << ::dlerror();
  auto setClock = reinterpret_cast<void (*)(unsigned int (*)(void*), void*)>(
      ::dlsym(lib, "HardwareSetSimulationClock"));
  auto setKey = reinterpret_cast<int (*)(int, int)>(::dlsym(lib, "CTISetKeyDtmf"));
  auto play = reinterpret_cast<int (*)(int, const char*, int)>(::dlsym(lib, "CTIPlayFile"));
  auto finished = reinterpret_cast<int (*)(int, int)>(::dlsym(lib, "CTIGetPlayfinish"));
  auto onHook = reinterpret_cast<int (*)(int)>(::dlsym(lib, "CTISetOutHook"));
  ASSERT_TRUE(setClock && setKey && play && finished && onHook);

  hardware_test::ScratchDir dir;
  hardware_test::writeFile(dir / "two.voc", std::vector<uint8_t>(16000, 0xD5));  // 2 s
  setClock(&virtualTicks, &gVirtualMs);
  ASSERT_EQ(setKey(5, 'B'), 0);
  ASSERT_EQ(play(5, (dir / "two.voc").c_str(), 0), 0);
  gVirtualMs += 1999;
  EXPECT_EQ(finished(5, 0), CTI_PLAY_PLAYING);
  gVirtualMs += 2;
  EXPECT_EQ(finished(5, 0), CTI_PLAY_FINISHED);

  // Back on the monotonic clock, a two-second file is still playing a
  // moment after it started, whatever the virtual clock says.
  setClock(nullptr, nullptr);
  ASSERT_EQ(play(5, (dir / "two.voc").c_str(), 0), 0);
  gVirtualMs += 10000;
  EXPECT_EQ(finished(5, 0), CTI_PLAY_PLAYING);
  onHook(5);
}

}  // namespace
