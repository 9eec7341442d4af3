#include "runtime/callproc/channels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace callproc {
namespace {

TEST(Channels, RecordFieldsSitAtTheSharedOffsets) {
  ChannelTables t;
  ChanRecord r = t.record(2);
  r.setLineState(6);
  r.setFlowSlot(0x01020304);
  r.setCallerNumber("13900001111");
  uint8_t* base = t.recordTable() + 2 * CHAN_RECORD_SIZE;
  EXPECT_EQ(base[5], 6);
  EXPECT_EQ(base[131], 4);
  EXPECT_EQ(base[134], 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(base + 167)), "13900001111");
  // Text fields are cut to their size less one and stay terminated.
  r.setCallerNumber(std::string(30, '9'));
  EXPECT_EQ(r.callerNumber(), std::string(19, '9'));
  EXPECT_EQ(base[167 + 19], 0);
  EXPECT_EQ(base[187], 0);  // the line number after it is untouched
}

TEST(Channels, ClearCallTouchesOnlyTheCallFields) {
  ChannelTables t;
  ChanRecord r = t.record(0);
  std::memset(t.recordTable(), 0x5A, CHAN_RECORD_SIZE);
  r.setLineState(CHAN_LINE_FORWARD);
  r.clearCall();
  const uint8_t* b = t.recordTable();
  EXPECT_EQ(r.lineState(), CHAN_LINE_FORWARD);
  EXPECT_EQ(cpl::getI32({b, CHAN_RECORD_SIZE}, 27), -1);
  EXPECT_EQ(cpl::getI32({b, CHAN_RECORD_SIZE}, 31), 0);
  EXPECT_EQ(cpl::getI16({b, CHAN_RECORD_SIZE}, 139), -1);
  EXPECT_EQ(cpl::getI16({b, CHAN_RECORD_SIZE}, 141), -1);
  for (int off : {0, 1, 2, 3, 4, 131, 135, 187, 225, 261, 349, 352})
    EXPECT_EQ(b[off], 0x5A) << "byte " << off << " must survive";
  for (int off : {7, 39, 41, 65, 66, 67, 147, 167})
    EXPECT_EQ(b[off], 0) << "byte " << off << " must be cleared";
}

TEST(Channels, LinkAndFindExtension) {
  ChannelTables t;
  t.record(1).setCallerNumber("111");
  t.record(2).setCallerNumber("222");
  t.link(1, 2);
  EXPECT_EQ(t.record(1).linked(), 2);
  EXPECT_EQ(t.record(2).linked(), 1);
  EXPECT_EQ(t.record(1).peerNumber(), "222");
  EXPECT_EQ(t.record(2).peerNumber(), "111");
  EXPECT_EQ(t.record(1).lineState(), CHAN_LINE_TALKING);
  t.link(3, 3);
  t.record(3).setCallerNumber("333");
  t.link(3, 3);
  EXPECT_EQ(t.record(3).peerNumber(), "333");

  t.record(0).setExtension("8001");
  t.record(1).setExtension("8002");
  t.record(2).setExtension("8002");
  auto allInner = [](int) { return true; };
  EXPECT_EQ(t.findExtension("8002", 8, allInner), 1);
  EXPECT_EQ(t.findExtension("8002", 1, allInner), -1);  // only below the channel count
  EXPECT_EQ(t.findExtension("", 8, allInner), 3);       // the first with an empty number
  EXPECT_EQ(t.findExtension("9", 8, allInner), -1);
}

// Outer lines keep their extension field empty, so an empty number (a key
// input ended by "#" alone) must not take the first of them, usually the
// caller's own line.
TEST(Channels, FindExtensionWithAnEmptyNumberTakesOnlyInnerLines) {
  struct Case {
    const char* name;
    std::vector<int> inner;                         // channels that are inner lines
    std::vector<std::pair<int, const char*>> exts;  // extension numbers set
    const char* number;
    int want;
  } cases[] = {
      {"first inner line with an empty number", {5, 6}, {{5, "8001"}}, "", 6},
      {"outer lines before it are passed over", {3}, {}, "", 3},
      {"no inner line with an empty number", {5}, {{5, "8001"}}, "", -1},
      {"no inner line at all", {}, {}, "", -1},
      {"inner line beyond the channel count", {7}, {}, "", -1},
      {"a number still matches as written", {5}, {{5, "8001"}}, "8001", 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ChannelTables t;
    for (auto [ch, number] : c.exts)
      t.record(ch).setExtension(number);
    auto isInner = [&](int ch) {
      return std::find(c.inner.begin(), c.inner.end(), ch) != c.inner.end();
    };
    EXPECT_EQ(t.findExtension(c.number, 7, isInner), c.want);
  }
}

}  // namespace
}  // namespace callproc
