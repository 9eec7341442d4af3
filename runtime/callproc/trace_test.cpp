#include "runtime/callproc/trace.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace callproc {
namespace {

class Capture : public TraceSink {
 public:
  void write(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

TEST(Trace, LineFormatLimitAndMessageShow) {
  setenv("TZ", "Asia/Shanghai", 1);
  tzset();
  platform::FakeClock clock(0, 1700000000);  // 06:13:20 in Shanghai
  clock.advance(45);
  TraceLog log(clock);
  Capture cap;
  log.addSink(&cap);
  log("通道%d复位", 3);
  log.text("100% literal %d");
  log(std::string(2000, 'x').c_str());
  log.setShow(false);
  log("dropped");
  ASSERT_EQ(cap.lines.size(), 3u);
  EXPECT_EQ(cap.lines[0], "06:13:20( 45)=>通道3复位");
  EXPECT_EQ(cap.lines[1], "06:13:20( 45)=>100% literal %d");
  EXPECT_EQ(traceText(cap.lines[2]).size(), TraceLog::kMaxText);
}

TEST(Trace, StreamSinkWritesEveryLineFromManyThreads) {
  char path[] = "/tmp/tracetestXXXXXX";
  int fd = mkstemp(path);
  std::FILE* f = fdopen(fd, "w+");
  {
    platform::FakeClock clock;
    TraceLog log(clock);
    StreamSink sink(f);
    log.addSink(&sink);
    std::vector<std::thread> ts;
    for (int t = 0; t < 4; ++t)
      ts.emplace_back([&log, t] {
        for (int i = 0; i < 2000; ++i)
          log("t%d line %d", t, i);
      });
    for (auto& t : ts)
      t.join();
    sink.flush();
  }
  std::rewind(f);
  int lines = 0;
  char buf[256];
  while (std::fgets(buf, sizeof buf, f))
    ++lines;
  std::fclose(f);
  std::remove(path);
  EXPECT_EQ(lines, 8000);
}

}  // namespace
}  // namespace callproc
