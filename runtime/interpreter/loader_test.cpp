#include "runtime/interpreter/loader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>

#include "flowfile/blockrecords.h"
#include "flowfile/cplwriter.h"
#include "flowfile/encode.h"

namespace interp {
namespace {

using cpl::CplWriter;

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/loadertestXXXXXX";
    dir_ = ::mkdtemp(tmpl);
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string p = dir_ + "/" + name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return p;
  }

  // Start -> play voice -> script, in either magic.
  std::vector<uint8_t> sampleFlow(std::string_view magic) {
    CplWriter w(magic);
    auto start = cpl::blankRecord(cpl::kKindStart);
    cpl::setExit(start, 0, 1);
    auto play = cpl::blankRecord(cpl::kKindPlayVoice);
    play[cpl::PlayVoiceRecord::kVoiceFile] = cpl::kOpStr;
    std::memcpy(&play[cpl::PlayVoiceRecord::kVoiceFile + cpl::TextOrNumber::kText], "hello.voc", 9);
    cpl::setExit(play, 0, 2);
    EXPECT_TRUE(w.addRecord(start));
    EXPECT_TRUE(w.addRecord(play));
    std::vector<cpl::Instruction> code = {
        *cpl::buildInstruction(0, cpl::kSet,
                               {cpl::Operand::regOf(cpl::kOpI, 1), cpl::Operand::intConst(5)}),
        *cpl::buildInstruction(1, cpl::kGotodef, {})};
    w.addScript(code, cpl::NO_TARGET);
    cpl::StringPool pool;
    pool.append("abc");
    return w.finish(pool);
  }

  std::string dir_;
  FlowTable table_;
};

TEST_F(LoaderTest, StartOnlyFileIs4110BytesAndLoads) {
  CplWriter w;
  auto start = cpl::blankRecord(cpl::kKindStart);
  w.addRecord(start);
  auto bytes = w.finish(cpl::StringPool{});
  ASSERT_EQ(bytes.size(), 4u + 4 + 6 + 4096);
  EXPECT_EQ(loadCompiledFlow(table_, write("s.cpl", bytes), "voc", 3), kLoadOk);
  auto st = table_.state(3, 0);
  EXPECT_EQ(st.version, 1);
  EXPECT_EQ(st.blockCount, 1);
  EXPECT_EQ(st.loaded, 1);
  EXPECT_EQ(st.free, 0);
  EXPECT_EQ(table_.state(3, 1).free, 0);
  EXPECT_EQ(table_.bank(3, 0).blocks[0].kind(), cpl::kKindStart);
  EXPECT_EQ(table_.bank(3, 0).blocks[0].i32At(cpl::StartRecord::kExits), cpl::NO_TARGET);
}

TEST_F(LoaderTest, LoadCodesForBadFiles) {
  auto good = sampleFlow(cpl::kMagic1001);
  auto with = [&](auto edit) {
    auto b = good;
    edit(b);
    return b;
  };
  // Offsets in the sample: frame 8, start 6, play voice 542, script from 556.
  const size_t scriptAt = 8 + 6 + 542;
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int slot;
    LoadCode want;
  } cases[] = {
      {"project file magic", with([](auto& b) { b[3] = '0'; }), 0, kLoadBadMagic},
      {"three bytes", {'1', '0', '0'}, 0, kLoadBadMagic},
      {"empty", {}, 0, kLoadBadMagic},
      {"slot 1024", good, 1024, kLoadSlotOutOfRange},
      {"slot -1", good, -1, kLoadSlotOutOfRange},
      {"pool one byte short", with([](auto& b) { b.pop_back(); }), 0, kLoadShortFile},
      {"no pool at all", with([&](auto& b) { b.resize(b.size() - 4096); }), 0, kLoadShortFile},
      {"play voice section cut", with([](auto& b) { b.resize(8 + 6 + 100); }), 0, kLoadShortFile},
      {"cut inside an instruction", with([&](auto& b) { b.resize(scriptAt + 6 + 30); }), 0,
       kLoadShortFile},
      {"block count past the end", with([](auto& b) { cpl::putI32(b, 4, 0x7FFFFFFF); }), 0,
       kLoadShortFile},
      {"negative block count", with([](auto& b) { cpl::putI32(b, 4, -1); }), 0, kLoadShortFile},
      {"instruction count past the end",
       with([&](auto& b) { cpl::putI32(b, scriptAt + 2, 100000000); }), 0, kLoadShortFile},
      {"negative instruction count", with([&](auto& b) { cpl::putI32(b, scriptAt + 2, -5); }), 0,
       kLoadShortFile},
      {"unknown block kind", with([](auto& b) { cpl::putI16(b, 8, 7); }), 0, kLoadBadMagic},
      {"runtime kind 0 in a file", with([](auto& b) { cpl::putI16(b, 8, 0); }), 0, kLoadBadMagic},
      {"bytes after the pool are ignored", with([](auto& b) { b.push_back(1); }), 0, kLoadOk},
  };
  for (const auto& c : cases) {
    FlowTable t;
    EXPECT_EQ(loadCompiledFlow(t, write("f.cpl", c.bytes), "v", c.slot), c.want) << c.name;
    if (c.want != kLoadOk && c.slot >= 0 && c.slot < kFlowSlots) {
      EXPECT_EQ(t.state(c.slot, 0).version, 0) << c.name;
      EXPECT_EQ(t.state(c.slot, 0).path, "") << c.name;
    }
  }
  EXPECT_EQ(loadCompiledFlow(table_, dir_ + "/missing.cpl", "v", 0), kLoadCannotOpen);
}

// Paths that are not regular files: each is refused at once with code 5 and
// changes nothing. A FIFO without a writer would wait in open or read for
// ever; a device like /dev/zero would be read until memory runs out.
TEST_F(LoaderTest, OnlyRegularFilesAreRead) {
  const std::string fifo = dir_ + "/fifo.cpl";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = dir_ + "/huge.cpl";
  {
    // Sparse: the size is there, the disk blocks are not.
    write("huge.cpl", sampleFlow(cpl::kMagic1001));
    ASSERT_EQ(::truncate(huge.c_str(), static_cast<off_t>(cpl::kMaxFlowFileBytes + 1)), 0);
  }
  ::mkdir((dir_ + "/folder.cpl").c_str(), 0700);
  struct Case {
    const char* name;
    std::string path;
    const char* why;
  } cases[] = {
      {"folder", dir_ + "/folder.cpl", "is a folder, not a file"},
      {"FIFO", fifo, "is a FIFO, not a file"},
      {"character device", "/dev/zero", "is a character device, not a file"},
      {"larger than a flow", huge, "is larger than 256 MB, more than a compiled flow holds"},
      {"missing", dir_ + "/missing.cpl", "No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FlowTable t;
    auto load = std::async(std::launch::async, [&] {
      std::vector<uint8_t> bytes;
      std::string why;
      cpl::ReadCode code = cpl::readFlowFile(c.path, bytes, &why);
      EXPECT_EQ(why, c.why);
      EXPECT_TRUE(bytes.empty());
      return std::make_pair(code, loadCompiledFlow(t, c.path, "v", 3));
    });
    if (load.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      ADD_FAILURE() << "the load blocked";
      // Give the waiting reader a writer and an end, so that the test ends.
      int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (w >= 0) ::close(w);
    }
    auto [read, loaded] = load.get();
    EXPECT_EQ(read, cpl::kReadCannotOpen);
    EXPECT_EQ(loaded, kLoadCannotOpen);
    EXPECT_EQ(t.state(3, 0).version, 0);
    EXPECT_EQ(t.state(3, 0).path, "");
  }
  // A regular file is read whole, to its last byte.
  std::vector<uint8_t> bytes;
  auto good = sampleFlow(cpl::kMagic1002);
  EXPECT_EQ(cpl::readFlowFile(write("good.cpl", good), bytes), cpl::kReadOk);
  EXPECT_EQ(bytes, good);
}

TEST_F(LoaderTest, BankRuleAndVersionsWhileCallsHoldBanks) {
  std::string a = write("a.cpl", sampleFlow(cpl::kMagic1001));
  std::string b = write("b.cpl", sampleFlow(cpl::kMagic1002));
  ASSERT_EQ(loadCompiledFlow(table_, a, "va", 7), kLoadOk);
  EXPECT_EQ(table_.acquire(7), 0);  // bank 0, version 1, now held by a call

  ASSERT_EQ(loadCompiledFlow(table_, b, "vb", 7), kLoadOk);
  EXPECT_EQ(table_.state(7, 1).version, 2);
  EXPECT_EQ(table_.state(7, 1).path, b);
  EXPECT_EQ(table_.state(7, 0).path, a);  // the running call's bank is untouched
  EXPECT_EQ(table_.acquire(7), 1);        // new calls take the newer bank

  // Both banks held: refused, and neither bank's texts change.
  EXPECT_EQ(loadCompiledFlow(table_, a, "vx", 7), kLoadBothBanksInUse);
  EXPECT_EQ(table_.state(7, 0).vocDir, "va");
  EXPECT_EQ(table_.state(7, 1).vocDir, "vb");

  // The first call ends: bank 0 is reloaded with version 3.
  table_.release(7, 0);
  ASSERT_EQ(loadCompiledFlow(table_, a, "vc", 7), kLoadOk);
  EXPECT_EQ(table_.state(7, 0).version, 3);
  EXPECT_EQ(table_.state(7, 0).vocDir, "vc");
  EXPECT_EQ(table_.acquire(7), 0);
  table_.release(7, 0);
  table_.release(7, 0);  // never below zero
  EXPECT_EQ(table_.state(7, 0).useCount, 0);
  EXPECT_EQ(table_.acquire(kFlowSlots), -1);
  EXPECT_EQ(table_.acquire(-1), -1);
}

TEST_F(LoaderTest, EqualVersionsGoToBank1) {
  // A slot that never loaded has both versions 0: calls take bank 1.
  EXPECT_EQ(table_.acquire(9), 1);
  EXPECT_EQ(table_.state(9, 1).useCount, 1);
}

TEST_F(LoaderTest, WindowsSeparatorsInThePath) {
  write("w.cpl", sampleFlow(cpl::kMagic1001));
  char cwd[4096];
  ASSERT_TRUE(::getcwd(cwd, sizeof cwd));
  ASSERT_EQ(::chdir(dir_.c_str()), 0);
  EXPECT_EQ(loadCompiledFlow(table_, ".\\W.CPL", "v", 0), kLoadOk);
  ASSERT_EQ(::chdir(cwd), 0);
}

}  // namespace
}  // namespace interp
