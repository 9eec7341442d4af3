// libParvane.so offers the ZT_ functions and the box's VBox_ control
// functions, and nothing of the C++ inside.
#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

TEST(Exports, OnlyTheCFunctions) {
  void* lib = ::dlopen(PARVANE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << ::dlerror();
  for (const char* name : {"ZT_Installed",        "ZT_InitializeEx",     "ZT_Initialize",
                           "ZT_Disable",          "ZT_GetCardStatus",    "ZT_GetLastError",
                           "ZT_SysPara",          "ZT_ChannelType",      "ZT_WaitForEvent",
                           "ZT_GetEvent",         "ZT_ClearEvent",       "ZT_SetBufLength",
                           "ZT_SetNobodyTime",    "ZT_SetTimeInterval",  "ZT_SetZoomPcmRate",
                           "ZT_SetRPCallorEvent", "ZT_SetWatchdog",      "ZT_OffHookCtrl",
                           "ZT_HangUpCtrl",       "ZT_RingCtrl",         "ZT_GenerateRing",
                           "ZT_PowerCtrl",        "ZT_SetVoltCtrlType",  "ZT_OffHookDetect",
                           "ZT_RingDetect",       "ZT_LineStatusDetect", "ZT_InternalRingDetect",
                           "ZT_ListenerOffHook",  "ZT_CheckSignal",      "ZT_SetSignalParam",
                           "ZT_SetChannelFreq",   "ZT_SetMonitorCalled", "ZT_MonitorOffHook",
                           "ZT_MonitorBusy",      "ZT_StartMonitor",     "ZT_StartTimer",
                           "ZT_TimerElapsed",     "ZT_CheckOffHook",     "ZT_FlushDTMF",
                           "ZT_GetDTMFChar",      "ZT_GetDTMFStr",       "ZT_SetDTMFSendSpeed",
                           "ZT_SetDtmfAmp",       "ZT_DtmfAbsent",       "ZT_SetSendMode",
                           "ZT_StartDial",        "ZT_DialRest",         "ZT_StopDial",
                           "ZT_StartSendCAS",     "ZT_SendCASRest",      "ZT_StopSendCAS",
                           "ZT_ClearCAS",         "ZT_CASDetect",        "ZT_ReceiveCallingID",
                           "ZT_EnableFSK",        "ZT_StartGetFskData",  "ZT_GetFSKBuffer",
                           "ZT_StartSendFskData", "ZT_SendFskDataRest",  "ZT_StopSendFskData",
                           "ZT_SendCID_Ring",     "ZT_Buf2FSKFile",      "ZT_ConnectChannels",
                           "ZT_ConnectTo",        "ZT_Connect3",         "ZT_Disconnect3",
                           "ZT_ConnectToChannel", "ZT_SetChannelParam",  "ZT_SetRingTime",
                           "VBox_Command",        "VBox_StartControl",   "VBox_Ring",
                           "VBox_Keys",           "VBox_Advance",        "VBox_ReadPlayed"})
    EXPECT_NE(::dlsym(lib, name), nullptr) << name;
  for (const char* name :
       {"_ZN7parvane3libEv", "_ZN7parvane13detectionStepEi", "_ZN7parvane10virtualBoxEv"})
    EXPECT_EQ(::dlsym(lib, name), nullptr) << name;
  ::dlclose(lib);
}

}  // namespace
