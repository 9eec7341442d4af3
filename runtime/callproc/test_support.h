// Shared scaffolding of the runtime tests: a temporary folder, flows built
// with the shared writer, and a runtime on the fake CTI and a fake clock.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "flowfile/blockrecords.h"
#include "flowfile/cplwriter.h"
#include "runtime/callproc/runtime.h"
#include "runtime/cti/fake_cti.h"

namespace callproc::testing {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/olvarotestXXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(file(name), std::ios::binary) << text;
    return file(name);
  }
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream(file(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return file(name);
  }

 private:
  std::string path_;
};

// start -> (exit target `next`) followed by `extra` play-voice blocks that
// lead nowhere: a flow whose calls stay in block 1 (no handler yet).
inline std::vector<uint8_t> simpleFlow(int32_t next = 1, int extra = 1) {
  cpl::CplWriter w;
  auto start = cpl::blankRecord(cpl::kKindStart);
  cpl::setExit(start, 0, next);
  w.addRecord(start);
  for (int i = 0; i < extra; ++i)
    w.addRecord(cpl::blankRecord(cpl::kKindPlayVoice));
  return w.finish(cpl::StringPool{});
}

class RuntimeFixture : public ::testing::Test {
 public:
  RuntimeFixture() : clock_(1000, 1700000000), trace_(clock_), rt_(fake_, clock_, trace_) {
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
    trace_.addSink(&sink_);
    rt_.setSleeper([](int) {});
  }
  ~RuntimeFixture() override { trace_.removeSink(&sink_); }

  // Starts a runtime (under simulated access unless told) with the flows and
  // triggers given.
  StartResult startWith(std::vector<FlowEntry> flows, std::vector<TriggerEntry> triggers,
                        std::string lineNumber = "8888", int callintype = 0) {
    SysConfig cfg;
    cfg.callintype = callintype;
    cfg.filename = dir_.write("db.sqlite", "");
    cfg.flowCount = static_cast<int>(flows.size());
    cfg.flows = std::move(flows);
    cfg.triggerCount = static_cast<int>(triggers.size());
    cfg.triggers = std::move(triggers);
    std::string ini;
    for (int c = 0; c < 8; ++c)
      ini += "[Out" + std::to_string(c) + "]\nlineno=" + lineNumber + "\n";
    platform::IniFile file(dir_.write("sysconfig.ini", ini));
    std::string error;
    StartResult r = rt_.start(cfg, file, &error);
    EXPECT_EQ(error, "");
    return r;
  }

  bool saw(const std::string& text) const { return sink_.has(text); }
  void passes(int n) {
    for (int i = 0; i < n; ++i)
      rt_.scanPass();
  }

  TempDir dir_;
  cti::FakeCti fake_;
  platform::FakeClock clock_;
  TraceLog trace_;
  MemorySink sink_;
  Runtime rt_;
};

}  // namespace callproc::testing
