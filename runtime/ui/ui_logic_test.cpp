#include "runtime/ui/ui_logic.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "runtime/callproc/test_support.h"

namespace ui {
namespace {

std::string readFile(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(UiTexts, Captions) {
  EXPECT_EQ(notOuterLineMessage(3), "错误：通道3不是外线通道!");
  EXPECT_EQ(channelLabel(0), "通道０");
  EXPECT_EQ(channelLabel(7), "通道７");
  EXPECT_EQ(channelLabel(12), "通道１２");
  callproc::FlowUsage u;
  u.use[0] = 1;
  u.version[0] = 1;
  u.version[1] = 2;
  EXPECT_EQ(usageText(u), "use(1:0) ver(1:2)");
}

TEST(UiFlows, NewFlowChecks) {
  struct Case {
    const char* number;
    const char* path;
    const char* message;
    int slot;
  } cases[] = {
      {"5", "a.cpl", "", 5},
      {" 0 ", "a.cpl", "", 0},
      {"3", "a.cpl", "流程编号重复，请重新选择编号", -1},
      {"1024", "a.cpl", "流程编号必须是0到1023的整数", -1},
      {"-1", "a.cpl", "流程编号必须是0到1023的整数", -1},
      {"2x", "a.cpl", "流程编号必须是0到1023的整数", -1},
      {"", "a.cpl", "流程编号必须是0到1023的整数", -1},
      {"6", "", "请选择流程文件", -1},
  };
  for (const auto& c : cases) {
    int slot = -1;
    EXPECT_EQ(checkNewFlow(c.number, c.path, {3, 9}, &slot), c.message) << c.number;
    EXPECT_EQ(slot, c.slot) << c.number;
  }
}

TEST(UiTriggers, Checks) {
  struct Case {
    std::string code;
    const char* index;
    const char* message;
  } cases[] = {
      {"8888", "0", ""},
      {"88X", "-1", ""},
      {"", "0", "请输入接入码"},
      {std::string(19, '1'), "0", ""},
      {std::string(20, '1'), "0", "接入码不能超过19个字符"},
      {"一二三四五六七八九十", "1", "接入码不能超过19个字符"},  // 20 GBK bytes
      {"8888", "1024", "流程索引必须是-1到1023的整数"},
      {"8888", "a", "流程索引必须是-1到1023的整数"},
  };
  for (const auto& c : cases) {
    callproc::TriggerEntry e;
    EXPECT_EQ(checkTrigger(c.code, c.index, &e), c.message) << c.code;
  }
  auto live = liveTriggers({{"总机", 2}, {"88X", 1}});
  ASSERT_EQ(live.size(), 2u);
  EXPECT_EQ(live[0].code, "\xd7\xdc\xbb\xfa");  // GBK
  EXPECT_EQ(live[1].slot, 1);
}

// Three flows in slots 9, 0, 5 are written as entries 0, 1, 2 in slot order;
// the rest of the file, comments included, stays.
TEST(UiConfig, FlowAndTriggerRewrite) {
  callproc::testing::TempDir dir;
  const std::string path = dir.write("sysconfig.ini",
                                     "; the site's settings\n[System]\ncallintype=0\n"
                                     "[ivrfile]\ncnt=1\nivrno0=4\nivrfile0=old.cpl\nvocdir0=old\n"
                                     "[ivrtrig]\ncnt=1\nnum0=1\nivrindex0=4\n");
  platform::IniFile ini(path);
  std::string error;
  ASSERT_TRUE(
      writeFlowTriggerConfig(ini, {{9, "c.cpl", "vc"}, {0, "a.cpl", "va"}, {5, "流程b.cpl", "vb"}},
                             {{"8888", 0}, {"88X", 5}}, &error))
      << error;
  platform::IniFile back(path);
  const callproc::SysConfig cfg = callproc::readSysConfig(back);
  ASSERT_EQ(cfg.flowCount, 3);
  const int slots[] = {0, 5, 9};
  const char* files[] = {"a.cpl", "流程b.cpl", "c.cpl"};
  for (int n = 0; n < 3; ++n) {
    EXPECT_EQ(cfg.flows[n].slot, slots[n]);
    EXPECT_EQ(cfg.flows[n].file, files[n]);
  }
  EXPECT_EQ(cfg.flows[1].vocDir, "vb");
  ASSERT_EQ(cfg.triggerCount, 2);
  EXPECT_EQ(cfg.triggers[1].code, "88X");
  EXPECT_EQ(cfg.triggers[1].slot, 5);
  EXPECT_EQ(cfg.callintype, 0);
  EXPECT_NE(readFile(path).find("; the site's settings"), std::string::npos);
}

TEST(UiConfig, SystemChannelAndDataSource) {
  callproc::testing::TempDir dir;
  const std::string path =
      dir.write("sysconfig.ini", "# keep me\n[DataBase]\ntype=0\nfilename=a.db\n");
  platform::IniFile ini(path);
  SystemForm f;
  EXPECT_EQ(parseSystemNumbers("15", "3", "2", "9000", &f), "");
  f.callintype = 0;
  f.callednum = "6000";
  f.messageshow = 0;
  std::string error;
  ASSERT_TRUE(writeSystemSettings(ini, f, &error)) << error;
  ASSERT_TRUE(writeLineNumbers(ini, {"8001", "8002"}, &error));
  DataSourceForm d;
  d.type = 3;
  d.server = "127.0.0.1";
  d.data = "ivr";
  d.user = "u";
  d.pass = "p";
  d.port = "5433";
  ASSERT_TRUE(writeDataSource(ini, d, &error));
  platform::IniFile back(path);
  const callproc::SysConfig cfg = callproc::readSysConfig(back);
  EXPECT_EQ(cfg.callintype, 0);
  EXPECT_EQ(cfg.dtmftimeout, 15);
  EXPECT_EQ(cfg.replaytime, 3);
  EXPECT_EQ(cfg.replaycnt, 2);
  EXPECT_EQ(cfg.keycallport, 9000);
  EXPECT_EQ(cfg.messageshow, 0);
  EXPECT_EQ(cfg.callednum, "6000");
  EXPECT_EQ(callproc::lineNumberOf(back, 1), "8002");
  EXPECT_EQ(cfg.dbType, 3);
  EXPECT_EQ(cfg.dbPort, "5433");
  EXPECT_EQ(cfg.filename, "a.db");  // the other kind's keys stay
  EXPECT_NE(readFile(path).find("# keep me"), std::string::npos);

  EXPECT_EQ(channelCountFor(0), 8);
  EXPECT_EQ(channelCountFor(1), 2);
  struct Bad {
    const char *t, *i, *c, *p, *message;
  } bad[] = {
      {"x", "0", "0", "0", "按键超时时间必须是0到3600的整数"},
      {"1", "-1", "0", "0", "间隔时间必须是0到3600的整数"},
      {"1", "0", "101", "0", "重复播放次数必须是0到100的整数"},
      {"1", "0", "0", "65536", "本地DUP端口号必须是0到65535的整数"},
  };
  for (const auto& b : bad)
    EXPECT_EQ(parseSystemNumbers(b.t, b.i, b.c, b.p, &f), b.message);
}

TEST(UiTrace, ChannelOfALine) {
  struct Case {
    const char* text;
    int channel;
  } cases[] = {
      {"通道3=>(2)放音", 3},
      {"通道12复位", 12},
      {"1234从通道5打进8888", 5},
      {"4 find ivrfile,exec it", 4},
      {"6通道没有发现IVR流程，通道挂机", 6},
      {"线路7的IVR流程文件索引号2000越界", 7},
      {"ivr流程解释线程开始执行", -1},
      {"硬件初始化成功,通道数=8", -1},
      {"42", -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(traceChannel(c.text), c.channel) << c.text;
}

TEST(UiTrace, BoxKeepsTheLast500AndFilters) {
  TraceLines box;
  for (int i = 0; i < 600; ++i)
    EXPECT_EQ(box.add("10:00:00(  1)=>通道" + std::to_string(i % 3) + "复位 " + std::to_string(i)),
              i >= 500);
  EXPECT_EQ(box.size(), 500u);
  const auto all = box.visible(-1);
  EXPECT_EQ(all.front(), "10:00:00(  1)=>通道1复位 100");
  EXPECT_EQ(all.back(), "10:00:00(  1)=>通道2复位 599");
  const auto two = box.visible(2);
  EXPECT_EQ(two.size(), 167u);
  for (const auto& l : two)
    EXPECT_NE(l.find("通道2"), std::string::npos);
}

TEST(UiTrace, QueueDropsOldestAndCounts) {
  TraceQueue q(3);
  for (int i = 0; i < 5; ++i)
    q.write("l" + std::to_string(i));
  size_t dropped = 0;
  EXPECT_EQ(q.take(&dropped), (std::vector<std::string>{"l2", "l3", "l4"}));
  EXPECT_EQ(dropped, 2u);
  EXPECT_TRUE(q.take(&dropped).empty());
  EXPECT_EQ(dropped, 0u);
}

// Writers on several threads and a reader taking batches: every line comes
// out once, in each writer's order, with nothing counted as dropped.
TEST(UiTrace, QueueFromSeveralThreads) {
  TraceQueue q(100000);
  std::atomic<int> finished{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w)
    writers.emplace_back([&q, &finished, w] {
      for (int i = 0; i < 2000; ++i)
        q.write(std::to_string(w) + ":" + std::to_string(i));
      ++finished;
    });
  std::vector<int> next(4, 0);
  size_t got = 0, dropped = 0;
  auto take = [&] {
    size_t d = 0;
    for (const auto& l : q.take(&d)) {
      const int w = l[0] - '0';
      EXPECT_EQ(std::stoi(l.substr(2)), next[w]++);
      ++got;
    }
    dropped += d;
  };
  while (finished < 4)
    take();
  for (auto& t : writers)
    t.join();
  take();
  EXPECT_EQ(got, 8000u);
  EXPECT_EQ(dropped, 0u);
}

TEST(UiBrowsers, Queries) {
  const DateTime from{2024, 5, 6, 7, 8, 9}, to{2024, 12, 31, 23, 59, 0};
  struct Case {
    CallFilter f;
    std::string number;
    int db;
    Query want;
    const char* message;
  } cases[] = {
      {CallFilter::kAll, "", 0, {"select * from T_CallRecord", {}}, ""},
      {CallFilter::kCaller,
       "",
       0,
       {"select * from T_CallRecord where CallerNo=?", {""}},
       "请输入要查询的主叫号码!"},
      {CallFilter::kCaller,
       "1' or '1'='1",
       0,
       {"select * from T_CallRecord where CallerNo=?", {"1' or '1'='1"}},
       ""},
      {CallFilter::kCalled,
       "",
       0,
       {"select * from T_CallRecord where CalledNo=?", {""}},
       "请输入要查询的被叫号码!"},
      {CallFilter::kTimeRange,
       "",
       0,
       {"select * from T_CallRecord where StartTime>=? and EndTime<=?",
        {"20240506070809", "20241231235900"}},
       ""},
      {CallFilter::kTimeRange,
       "",
       3,
       {"select * from T_CallRecord where StartTime>=? and EndTime<=?",
        {"2024-05-06 07:08:09", "2024-12-31 23:59:00"}},
       ""},
  };
  for (const auto& c : cases) {
    std::string message;
    const Query q = callRecordQuery(c.f, c.number, from, to, c.db, &message);
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(q.sql, c.want.sql);
    EXPECT_EQ(q.params, c.want.params);
  }
  EXPECT_EQ(voiceMailQuery(MailFilter::kUnheard, from, to, 0).sql,
            "select * from T_LeaveWord where ListenFlag = 0 order by StartTime");
  EXPECT_EQ(voiceMailQuery(MailFilter::kTimeRange, from, to, 0).params[0], "20240506070809");
  EXPECT_EQ(markHeard("r1").params, std::vector<std::string>{"r1"});
  EXPECT_EQ(shownTime("20240506070809"), "2024-05-06 07:08:09");
  EXPECT_EQ(shownTime("n/a"), "n/a");
  EXPECT_EQ(playModeFor("leavmsg/msg3.qx"), 1);
  EXPECT_EQ(playModeFor("leavmsg/msg3.wav"), 0);
  EXPECT_EQ(playModeFor("leavmsg/msg3.voc"), -1);
  EXPECT_EQ(deleteRefusal(0, -1, true), "没有可删除的记录");
  EXPECT_EQ(deleteRefusal(2, -1, true), "请选择要删除的留言");
  EXPECT_EQ(deleteRefusal(2, -1, false), "请选择要删除的呼叫记录");
  EXPECT_EQ(deleteRefusal(2, 1, false), "");
}

TEST(UiAudio, ALawDecoding) {
  // Reference values of G.711 A-law: silence, the smallest and the largest
  // steps of both signs.
  EXPECT_EQ(decodeALaw({0xD5, 0x55, 0xD4, 0xAA, 0x2A, 0x80}),
            (std::vector<int16_t>{8, -8, 24, 32256, -32256, 5504}));
}

}  // namespace
}  // namespace ui
