// The shared library offers exactly the C functions of hardware.h: the
// runtime binds to them by name, and nothing of the C++ inside may leak out
// to clash with the program's own copies of the same code.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "hardware/cti_contract.h"

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
                           "GetCombineStr"})
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

}  // namespace
