// The production binding reaches the shared library: a simulated call made
// and answered through the interface.
#include "runtime/cti/hardware_cti.h"

#include <gtest/gtest.h>

namespace {

TEST(HardwareCti, DrivesTheSharedLibrary) {
  cti::HardwareCti hw;
  cti::Cti& c = hw;
  EXPECT_EQ(c.CTIGetChannelType(0), 1);
  ASSERT_EQ(c.CTISetKeyDtmf(4, 'B'), 0);
  EXPECT_EQ(c.CTIGetOutLineStatus(4, 0), 1);
  EXPECT_EQ(c.CTIOpenMCI(), 0);
  EXPECT_EQ(c.CTISetKeyDtmf(4, '9'), 0);
  int key = 0;
  ASSERT_EQ(c.CTIGetDtmf(4, &key, 0), 0);
  EXPECT_EQ(key, '9');
  EXPECT_EQ(c.CTISetKeyDtmf(4, 'E'), 0);
  EXPECT_EQ(c.CTIGetOutLineStatus(4, 0), 5);
  EXPECT_EQ(c.CTIPlayFile(4, "no\\such.voc", 0), -1);
  EXPECT_EQ(c.CTISetOutHook(4), 0);
  EXPECT_EQ(c.CTIGetOutLineStatus(4, 0), 0);
}

}  // namespace
