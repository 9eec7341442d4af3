#include "runtime/callproc/trace.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <regex>

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

TEST(Trace, TextFromOutsideStaysOneLine) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"13900001111\n12:00:00(  0)=>forged", "13900001111\\n12:00:00(  0)=>forged"},
      {"a\r\tb", "a\\r\\tb"},
      {"\x1b[2J\x1b]0;title\x07", "\\x1b[2J\\x1b]0;title\\x07"},
      {"del\x7f", "del\\x7f"},
      {"\xc2\x9b"
       "31m",
       "\\xc2\\x9b31m"},                             // C1 CSI
      {"\xb2\xe2\xca\xd4", "\\xb2\\xe2\\xca\\xd4"},  // GBK bytes that slipped through
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // a surrogate is not UTF-8
      {"通道3复位 .\\voice\\a.voc", "通道3复位 .\\voice\\a.voc"},
      {"€\xf0\x9f\x98\x80", "€\xf0\x9f\x98\x80"},
  };
  platform::FakeClock clock;
  TraceLog log(clock);
  Capture cap;
  log.addSink(&cap);
  for (const Case& c : cases) {
    cap.lines.clear();
    log.text(c.in);
    log("%s", c.in.c_str());
    ASSERT_EQ(cap.lines.size(), 2u);
    EXPECT_EQ(traceText(cap.lines[0]), c.out) << c.in;
    EXPECT_EQ(traceText(cap.lines[1]), c.out) << c.in;
  }
}

TEST(Trace, LongLinesAreCutOnACharacterBoundary) {
  platform::FakeClock clock;
  TraceLog log(clock);
  Capture cap;
  log.addSink(&cap);
  // 1 + 340 three-byte characters: 1021 bytes fit, the next one does not.
  std::string chinese = "x";
  for (int i = 0; i < 400; ++i)
    chinese += "通";
  // An escape that would straddle the limit is left out whole.
  std::string escapes(1022, 'a');
  escapes += "\n";
  struct Case {
    std::string in;
    size_t size;
  };
  const Case cases[] = {{chinese, 1021}, {escapes, 1022}, {std::string(1023, 'a'), 1023}};
  for (const Case& c : cases) {
    cap.lines.clear();
    log("%s", c.in.c_str());
    log.text(c.in);
    for (const auto& l : cap.lines) {
      std::string_view t = traceText(l);
      EXPECT_EQ(t.size(), c.size);
      EXPECT_EQ(t, std::string_view(c.in).substr(0, c.size));
    }
  }
}

// A pipe of one page that nobody reads until told.
struct SmallPipe {
  int fd[2];
  SmallPipe() {
    EXPECT_EQ(::pipe(fd), 0);
    ::fcntl(fd[1], F_SETPIPE_SZ, 4096);
  }
  ~SmallPipe() {
    for (int f : fd)
      if (f >= 0) ::close(f);
  }
  std::string drain() {
    std::string all;
    ::fcntl(fd[0], F_SETFL, O_NONBLOCK);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd[0], buf, sizeof buf)) > 0)
      all.append(buf, static_cast<size_t>(n));
    return all;
  }
};

TEST(Trace, FullQueueCountsWhatItDropsAndSaysSo) {
  SmallPipe pipe;
  platform::FakeClock clock;
  TraceLog log(clock);
  StreamSink sink(pipe.fd[1], 50);
  log.addSink(&sink);
  const int kLines = 400;  // far more than the pipe and the queue hold
  for (int i = 0; i < kLines; ++i)
    log("line %03d %s", i, std::string(60, 'x').c_str());
  EXPECT_FALSE(sink.flush(std::chrono::milliseconds(50)));
  std::string out = pipe.drain();
  // Once the reader reads again, the next line reports the drops.
  std::thread reader([&] {
    for (int i = 0; i < 200; ++i) {
      out += pipe.drain();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  while (!sink.flush(std::chrono::milliseconds(10))) {
  }
  log("after");
  ASSERT_TRUE(sink.flush(std::chrono::seconds(5)));
  reader.join();
  out += pipe.drain();

  // The queue may fill and find room several times; every drop is told.
  int dropped = 0;
  const std::regex dropRe("trace: ([0-9]+) lines dropped");
  for (std::sregex_iterator it(out.begin(), out.end(), dropRe), end; it != end; ++it)
    dropped += std::stoi((*it)[1]);
  int written = 0, last = -1;
  const std::regex lineRe("line ([0-9]{3})");
  for (std::sregex_iterator it(out.begin(), out.end(), lineRe), end; it != end; ++it, ++written) {
    const int n = std::stoi((*it)[1]);
    EXPECT_GT(n, last);  // in order, none twice
    last = n;
  }
  EXPECT_GT(dropped, 0);
  EXPECT_EQ(written + dropped, kLines);
  EXPECT_NE(out.find("=>after\n"), std::string::npos);
  EXPECT_LT(out.find("lines dropped"), out.find("=>after"));
  EXPECT_EQ(sink.lost(), static_cast<size_t>(dropped));
}

TEST(Trace, AReaderThatStopsReadingNeverHoldsTheWriter) {
  SmallPipe pipe;
  platform::FakeClock clock;
  TraceLog log(clock);
  auto sink = std::make_unique<StreamSink>(pipe.fd[1], 1000);
  log.addSink(sink.get());
  for (int i = 0; i < 200; ++i)
    log("line %d %s", i, std::string(100, 'y').c_str());
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(sink->flush(std::chrono::milliseconds(100)));
  sink->abandon();
  log.removeSink(sink.get());
  EXPECT_GT(sink->lost(), 0u);
  sink.reset();  // joins the writer
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

TEST(Trace, AReaderThatGoesAwayEndsTheOutputOnly) {
  signal(SIGPIPE, SIG_IGN);
  SmallPipe pipe;
  ::close(pipe.fd[0]);
  pipe.fd[0] = -1;
  platform::FakeClock clock;
  TraceLog log(clock);
  StreamSink sink(pipe.fd[1]);
  log.addSink(&sink);
  log("first");
  sink.flush(std::chrono::seconds(5));
  EXPECT_TRUE(sink.broken());
  log("second");
  EXPECT_TRUE(sink.flush(std::chrono::seconds(5)));
  EXPECT_EQ(sink.lost(), 2u);
}

}  // namespace
}  // namespace callproc
