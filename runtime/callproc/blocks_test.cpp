#include "runtime/callproc/blocks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "platform/gbk.h"
#include "runtime/callproc/test_support.h"

namespace callproc {
namespace {

using cpl::kOpI;
using cpl::kOpInt;
using cpl::kOpS;
using cpl::kOpStr;

// A record under test, edited field by field at its stored offsets.
struct Rec {
  explicit Rec(int kind) : b(cpl::blankRecord(kind)) {}
  Rec& byte(int off, uint8_t v) {
    b[off] = v;
    return *this;
  }
  Rec& number(int off, int32_t v) {
    b[off] = kOpInt;
    cpl::putI32(b, off + 2, v);
    return *this;
  }
  // The number slot of a text-or-number operand.
  Rec& index(int off, int32_t v) {
    b[off] = kOpInt;
    cpl::putI32(b, off + cpl::TextOrNumber::kNumber, v);
    return *this;
  }
  Rec& numberReg(int off, int reg) {
    b[off] = kOpI;
    b[off + 1] = static_cast<uint8_t>(reg);
    return *this;
  }
  Rec& text(int off, const std::string& utf8) {
    b[off] = kOpStr;
    std::string g = platform::utf8ToGbk(utf8);
    std::copy(g.begin(), g.end(), b.begin() + off + 2);
    return *this;
  }
  Rec& textReg(int off, int reg) {
    b[off] = kOpS;
    b[off + 1] = static_cast<uint8_t>(reg);
    return *this;
  }
  std::vector<uint8_t> b;
};

constexpr int kFirstTarget = 2;  // exit i of the block under test leads to block 2 + i

class BlockTest : public testing::RuntimeFixture {
 protected:
  // Start -> the block under test (block 1), its exits to filler blocks
  // 2.. that keep playing, so that the exit taken shows as the block index.
  void enter(Rec rec, int ch = 0) {
    const cpl::KindInfo* k = cpl::findKind(cpl::getI16(rec.b, 0));
    for (int i = 0; i < k->exitSlots; ++i)
      cpl::setExit(rec.b, i, kFirstTarget + i);
    cpl::CplWriter w;
    auto start = cpl::blankRecord(cpl::kKindStart);
    cpl::setExit(start, 0, 1);
    w.addRecord(start);
    w.addRecord(rec.b);
    for (int i = 0; i < 14; ++i)
      w.addRecord(cpl::blankRecord(cpl::kKindPlayVoice));
    rt_.resetChannel(ch);  // a case before this one may have left a call
    fake_.setStatus(ch, 0);
    ASSERT_EQ(
        startWith({{0, dir_.write("f.cpl", w.finish(cpl::StringPool{})), "vdir"}}, {{"8888", 0}}),
        StartResult::kRunning);
    fake_.ring(ch);
    pass();  // answer
    pass();  // start block
    ASSERT_EQ(rt_.channels().step(ch).blockIndex, 1);
    sink_.clear();
    fake_.clearCalls();
  }
  void pass(uint32_t ms = 50) {
    clock_.advance(ms);
    rt_.scanPass();
  }
  // The exit the block under test left by, or -1 while it is still running.
  int exitTaken(int ch = 0) {
    int b = rt_.channels().step(ch).blockIndex;
    return b >= kFirstTarget ? b - kFirstTarget : -1;
  }
  interp::Registers& regs(int ch = 0) { return rt_.channels().regs(ch); }
};

// ---- shared pieces ----------------------------------------------------------

TEST(KeyTest, InterruptKeys) {
  struct Case {
    const char* keys;
    char key;
    bool stops;
  } cases[] = {
      {"?", '5', true},   {"?", '#', true},   {"D", '7', true},  {"d", '0', true},
      {"D", '*', false},  {"D", '#', false},  {"#*", '#', true}, {"#*", '*', true},
      {"#*", '1', false}, {"123", '2', true}, {"", '1', false},  {"?#", '1', false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(keyStops(c.key, c.keys), c.stops) << c.keys << " " << c.key;
}

TEST_F(BlockTest, VoiceFileResolution) {
  enter(Rec(cpl::kKindPlayVoice));
  regs().S[3] = "Hello.voc";
  regs().S[4] = "ab";
  regs().S[5] = "/Srv/IVR\\leavmsg\\msg5.voc";
  const std::string longRoot = "/" + std::string(300, 'D') + "\\msg.voc";
  struct Case {
    std::string name, want;
  } cases[] = {
      // From the root (the voice-mail path on the working directory): as
      // written, whatever its case or length.
      {"s5", "/Srv/IVR\\leavmsg\\msg5.voc"},
      {"/Srv/IVR/Msg.voc", "/Srv/IVR/Msg.voc"},
      {"\\Srv\\Msg.voc", "\\Srv\\Msg.voc"},
      {longRoot, longRoot},
      {"Welcome.VOC", "vdir\\welcome.voc"},
      {"s3", "vdir\\Hello.voc"},  // a string register, not lower-cased
      {"S3", "vdir\\Hello.voc"},
      {"s03", "vdir\\Hello.voc"},
      {"s32", "vdir\\s32"},  // no such register: an ordinary name
      {"s4", ""},            // the register's name is too short
      {"ab", ""},
      {"..\\x.voc", "..\\x.voc"},
      {".\\Voice\\D0.qx", ".\\voice\\d0.qx"},
      {"C:\\IVR\\a.voc", "c:\\ivr\\a.voc"},
      {platform::utf8ToGbk("欢迎.VOC"), "vdir\\" + platform::utf8ToGbk("欢迎.voc")},
  };
  for (const auto& c : cases)
    EXPECT_EQ(resolveVoiceFile(Call(rt_.channels(), rt_.flows(), 0), c.name), c.want) << c.name;
}

// ---- voice playback (41) ----------------------------------------------------

TEST_F(BlockTest, PlayVoiceExits) {
  using R = cpl::PlayVoiceRecord;
  struct Case {
    const char* name;
    Rec rec;
    std::function<void(BlockTest&)> during;  // after the first pass
    int exit;
    const char* line;
  } cases[] = {
      {"ends normally", Rec(41).text(R::kVoiceFile, "w.voc"),
       [](BlockTest& t) { t.fake_.setPlayFinish(0, 0); }, 0, "通道0=>(1)PlayVoc正常结束"},
      {"playback error", Rec(41).text(R::kVoiceFile, "w.voc"),
       [](BlockTest& t) { t.fake_.setPlayFinish(0, -2); }, 0, "通道0=>(1)PlayVoc播放错误"},
      {"interrupted by #", Rec(41).text(R::kVoiceFile, "w.voc").text(R::kInterruptKeys, "#*"),
       [](BlockTest& t) { t.fake_.pressKeys(0, "#"); }, 0, "通道0=>(1)PlayVoc按键终止"},
      {"hung up", Rec(41).text(R::kVoiceFile, "w.voc"), [](BlockTest& t) { t.fake_.hangUp(0); }, 2,
       "通道0=>(1)PlayFile CTIPlayFile(0)挂机!"},
      {"cannot start", Rec(41).text(R::kVoiceFile, "w.voc"), nullptr, 1,
       "通道0=>(1)PlayFile CTIPlayFile(0,vdir\\w.voc)错误!"},
      {"index cannot start", Rec(41).index(R::kVoiceFile, 7).number(R::kVoiceType, 1), nullptr, 1,
       "通道0=>(1)PlayFile CTIPlayIndex(0,7)错误!"},
      {"unknown voice type", Rec(41).text(R::kVoiceFile, "w.voc").number(R::kVoiceType, 2), nullptr,
       1, "通道0=>(1)PlayFile 语音类型2不支持"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.setPlayResult(c.exit == 1 ? -1 : 0);
    enter(c.rec);
    pass();
    if (c.during) c.during(*this);
    pass();
    EXPECT_EQ(exitTaken(), c.exit);
    EXPECT_TRUE(saw(c.line)) << ::testing::PrintToString(sink_.texts());
    fake_.setPlayFinish(0, 1);
    fake_.setStatus(0, 0);
    fake_.setPlayResult(0);
  }
}

TEST_F(BlockTest, PlayVoiceTraceAndKeysOfAnotherChannel) {
  using R = cpl::PlayVoiceRecord;
  enter(
      Rec(41).textReg(R::kVoiceFile, 2).numberReg(R::kPlayChannel, 5).text(R::kInterruptKeys, "D"));
  regs().I[5] = 3;
  regs().S[2] = "s.voc";
  pass();
  EXPECT_TRUE(saw("通道0=>(1)PlayFile(语音文件=s.voc(0);文件类型=0;播放通道=3)"));
  EXPECT_TRUE(fake_.called("CTIPlayFile(3,vdir\\s.voc,0)"));
  fake_.pressKeys(0, "5");  // keys of the caller's own channel do not count
  pass();
  EXPECT_EQ(exitTaken(), -1);
  fake_.pressKeys(3, "*5");
  pass();  // '*' is dropped
  EXPECT_EQ(exitTaken(), -1);
  pass();
  EXPECT_EQ(exitTaken(), 0);
  EXPECT_TRUE(fake_.called("CTIStopPlayFile(3,0)"));
}

// ---- single-key branch (44) -------------------------------------------------

TEST_F(BlockTest, DigitKeysAndTimeouts) {
  using R = cpl::DigitRecord;
  struct Case {
    const char* name;
    int replays;
    std::string keys;  // pressed after the prompt ends; "" none
    int exit;
    int prompts;
  } cases[] = {
      {"key 7", 0, "7", 7, 1},
      {"star", 0, "*", 10, 1},
      {"hash", 0, "#", 11, 1},
      {"other keys dropped", 0, "A3", 3, 1},
      {"no key, no replay", 0, "", 12, 1},
      {"no key, 2 replays", 2, "", 12, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    enter(Rec(44)
              .text(R::kPrompt, "menu.voc")
              .number(R::kReplays, c.replays)
              .number(R::kWaitAfter, 3000)
              .byte(R::kKeyVar, 4));
    for (int i = 0; i < 400 && exitTaken() < 0; ++i) {
      fake_.setPlayFinish(0, 0);
      if (i == 3 && !c.keys.empty()) fake_.pressKeys(0, c.keys);
      pass(100);
    }
    EXPECT_EQ(exitTaken(), c.exit);
    int prompts = 0;
    for (const auto& call : fake_.calls())
      prompts += call == "CTIPlayFile(0,vdir\\menu.voc,0)";
    EXPECT_EQ(prompts, c.prompts);
    if (c.exit < 12) {
      EXPECT_EQ(regs().S[4], std::string(1, c.keys.back()));
    }
  }
  EXPECT_TRUE(saw("通道0=>(1)Digit 输入等待3秒，重复2次"));
  EXPECT_TRUE(saw("通道0=>(1)Digit 超过定时器3000用户没有按键"));
  EXPECT_TRUE(saw("通道0=>(1)Digit 超时无输入,重复2"));
  EXPECT_TRUE(saw("通道0=>(1)Digit 超时无输入"));
}

TEST_F(BlockTest, DigitHangUp) {
  enter(Rec(44).text(cpl::DigitRecord::kPrompt, "menu.voc"));
  pass();
  fake_.hangUp(0);
  pass();
  EXPECT_EQ(exitTaken(), 13);
  EXPECT_TRUE(saw("通道0=>(1)Digit 挂机"));
}

// ---- key input (43) ---------------------------------------------------------

TEST_F(BlockTest, InputEndings) {
  using R = cpl::InputRecord;
  struct Case {
    const char* name;
    int digits;
    std::string keys;
    int exit;
    std::string value;
  } cases[] = {
      {"end key", 0, "123#", 0, "123"},
      {"count", 4, "12345", 0, "1234"},
      {"timeout between keys", 4, "12", 1, "12"},
      {"64 keys", 0, std::string(70, '1'), 0, std::string(63, '1')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    enter(Rec(43)
              .text(R::kPrompt, "in.voc")
              .number(R::kDigitCount, c.digits)
              .text(R::kEndKey, "#")
              .byte(R::kDigitsVar, 6)
              .number(R::kDigitWait, 2000));
    pass();  // prompt starts
    for (size_t i = 0; i < c.keys.size() && exitTaken() < 0; ++i) {
      fake_.pressKeys(0, c.keys.substr(i, 1));
      pass();
    }
    for (int i = 0; i < 60 && exitTaken() < 0; ++i)
      pass(100);
    EXPECT_EQ(exitTaken(), c.exit);
    EXPECT_EQ(regs().S[6], c.value);
    EXPECT_EQ(rt_.channels().record(0).keyBuffer(), "");
    if (c.keys == "123#") {
      EXPECT_TRUE(saw("通道0=>(1)Input Dtmf=123#"));
    }
  }
}

TEST_F(BlockTest, InputTimeoutRepeatsThePrompt) {
  using R = cpl::InputRecord;
  enter(Rec(43)
            .text(R::kPrompt, "in.voc")
            .number(R::kDigitCount, 4)
            .byte(R::kDigitsVar, 1)
            .number(R::kRepeat, 1)
            .number(R::kDigitWait, 1000));
  fake_.setPlayFinish(0, 0);
  for (int i = 0; i < 100 && exitTaken() < 0; ++i)
    pass(100);
  EXPECT_EQ(exitTaken(), 1);
  EXPECT_TRUE(saw("通道0=>(1)Input 等待输入超时,重复 1"));
  EXPECT_TRUE(saw("通道0=>(1)Input 等待输入超时,重复 0"));
  EXPECT_TRUE(saw("通道0=>(1)Input 超时"));
  int prompts = 0;
  for (const auto& call : fake_.calls())
    prompts += call == "CTIPlayFile(0,vdir\\in.voc,0)";
  EXPECT_EQ(prompts, 2);
}

// ---- record (51) ------------------------------------------------------------

TEST_F(BlockTest, RecordEndings) {
  using R = cpl::RecordRecord;
  struct Case {
    const char* name;
    std::string stopKeys;
    int length;
    std::string keys;
    int exit;
    const char* line;
  } cases[] = {
      {"stop key", "#", 30, "1#", 0, "通道0=>(1)RecFile 按键中止"},
      {"digit stop keys ignore #", "d", 30, "#5", 0, "通道0=>(1)RecFile 按键中止"},
      {"length reached", "#", 1, "", 0, "通道0=>(1)RecFile 超时中止"},
      {"length 0", "#", 0, "", 0, "通道0=>(1)RecFile 超时中止"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    enter(Rec(51)
              .text(R::kFile, "msg.voc")
              .text(R::kStopKeys, c.stopKeys)
              .number(R::kLength, c.length));
    pass();
    EXPECT_TRUE(fake_.called("CTIRecFile(0,vdir\\msg.voc,0)"));
    EXPECT_EQ(regs().S[0], "msg.voc");
    int passes = 1;
    for (char k : c.keys) {
      fake_.pressKeys(0, std::string(1, k));
      pass();
      ++passes;
    }
    while (exitTaken() < 0 && passes < 100) {
      pass(100);
      ++passes;
    }
    EXPECT_EQ(exitTaken(), c.exit);
    EXPECT_TRUE(saw(c.line));
    EXPECT_TRUE(fake_.called("CTIStopRP(0,0)"));
    // Length 0 ends at the pass after it starts; a key that is not a stop
    // key does not end it.
    EXPECT_EQ(passes, c.length == 0 ? 2 : c.keys.size() == 2 ? 3 : passes);
  }
}

TEST_F(BlockTest, RecordCannotStartOrHangsUp) {
  using R = cpl::RecordRecord;
  fake_.setRecResult(1);
  enter(Rec(51).text(R::kFile, "msg.voc"));
  pass();
  EXPECT_EQ(exitTaken(), 1);
  EXPECT_TRUE(saw("通道0=>(1)RecFile vdir\\msg.voc错误!"));
  fake_.setRecResult(0);
  enter(Rec(51).text(R::kFile, "msg.voc").number(R::kLength, 30));
  pass();
  fake_.hangUp(0);
  pass();
  EXPECT_EQ(exitTaken(), 2);
  EXPECT_TRUE(saw("通道0=>(1)Record 挂机"));
}

// Writing the recording fails part way (a full disk): the block stops it and
// leaves through exit 1 with a line saying so, instead of ending as if the
// message were whole.
TEST_F(BlockTest, RecordWriteFailureEndsThroughExit1) {
  using R = cpl::RecordRecord;
  enter(Rec(51).text(R::kFile, "msg.voc").text(R::kStopKeys, "#").number(R::kLength, 30));
  fake_.setPlayFinish(0, 1);
  pass();
  pass();
  EXPECT_EQ(exitTaken(), -1) << "recording goes on";
  fake_.setPlayFinish(0, -2);
  pass();
  EXPECT_EQ(exitTaken(), 1);
  EXPECT_TRUE(fake_.called("CTIStopRP(0,0)"));
  EXPECT_TRUE(saw("通道0=>(1)RecFile 录音写入失败(错误码-2),录音中止"))
      << ::testing::PrintToString(sink_.texts());
  EXPECT_FALSE(saw("通道0=>(1)RecFile 超时中止"));
}

// A length beyond what milliseconds in 32 bits hold waits as long as they
// can, instead of wrapping to a negative limit that ends at once.
TEST_F(BlockTest, RecordLengthBeyondTheLimitField) {
  using R = cpl::RecordRecord;
  enter(Rec(51).text(R::kFile, "msg.voc").number(R::kLength, 3000000));
  pass();
  EXPECT_EQ(rt_.channels().step(0).of<RecordState>().limitMs, INT32_MAX);
  pass(100000);
  EXPECT_EQ(exitTaken(), -1);
}

// The voice-mail path is built on the working directory the runtime started
// in, its folder is made when missing, and the record block records into it
// as written, not under the flow's voice directory.
TEST_F(BlockTest, VoiceMailPathIsRecordedAsItStands) {
  using R = cpl::CallExtRecord;
  char cwd[4096];
  ASSERT_TRUE(::getcwd(cwd, sizeof cwd));
  EXPECT_EQ(rt_.workDir(), cwd) << "the runtime starts on the working directory";
  const std::string work = dir_.file("Ivr Root");
  ASSERT_EQ(::mkdir(work.c_str(), 0700), 0);
  rt_.setWorkDir(work);
  enter(Rec(49).byte(R::kExtensionVar, 2).byte(R::kMessageVar, 7));
  rt_.channels().record(5).setExtension("8001");
  rt_.channels().record(5).setLineState(CHAN_LINE_VOICE_MAIL);
  regs().S[2] = "8001";
  pass();
  ASSERT_EQ(exitTaken(), 4);
  const std::string path = work + "\\leavmsg\\msg5.voc";
  EXPECT_EQ(regs().S[7], path);
  struct stat st {};
  EXPECT_EQ(::stat((work + "/leavmsg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  // The flow hands the path to a record block through the same register.
  const std::string message = regs().S[7];
  enter(Rec(51).textReg(cpl::RecordRecord::kFile, 7));
  regs().S[7] = message;
  pass();
  EXPECT_TRUE(fake_.called("CTIRecFile(0," + path + ",0)"))
      << ::testing::PrintToString(fake_.calls());
  EXPECT_EQ(exitTaken(), -1);

  // A folder that cannot be made is reported; the path is still handed out.
  rt_.setWorkDir(dir_.file("missing"));
  enter(Rec(49).byte(R::kExtensionVar, 2).byte(R::kMessageVar, 7));
  rt_.channels().record(5).setExtension("8001");
  rt_.channels().record(5).setLineState(CHAN_LINE_VOICE_MAIL);
  regs().S[2] = "8001";
  pass();
  EXPECT_EQ(exitTaken(), 4);
  EXPECT_TRUE(saw("通道0=>留言目录" + dir_.file("missing") +
                  "/leavmsg不能建立(No such file or directory)"));
}

// ---- extension call (49) and talk (42) --------------------------------------

TEST_F(BlockTest, ExtensionCallOutcomes) {
  using R = cpl::CallExtRecord;
  rt_.setWorkDir(dir_.path());  // its leavmsg folder is made here
  struct Case {
    const char* name;
    std::function<void(BlockTest&)> setup;  // extension 8001 is channel 5
    std::function<void(BlockTest&)> ringing;
    int exit;  // -2: the caller's channel was reset
    const char* line;
  } cases[] = {
      {"no such extension", [](BlockTest& t) { t.rt_.channels().record(5).setExtension("9"); },
       nullptr, 3, "通道0=>分机8001不存在"},
      {"busy", [](BlockTest& t) { t.fake_.setInLineStatus(5, 1); }, nullptr, 1,
       "通道0=>分机8001忙"},
      {"forwarded",
       [](BlockTest& t) {
         t.rt_.channels().record(5).setLineState(CHAN_LINE_FORWARD);
         t.rt_.channels().record(5).setForwardNumber("13900001111");
       },
       nullptr, 5, "通道0=>被叫分机8001设置了呼叫转移,转移号码13900001111"},
      {"voice mail",
       [](BlockTest& t) { t.rt_.channels().record(5).setLineState(CHAN_LINE_VOICE_MAIL); }, nullptr,
       4, "通道0=>被叫分机8001设置语音留言"},
      {"answered", nullptr, [](BlockTest& t) { t.fake_.setInLineStatus(5, 1); }, 0,
       "通道0=>被叫分机8001摘机"},
      {"no answer", nullptr, [](BlockTest& t) { t.clock_.advance(30001); }, 2,
       "通道0=>被叫分机8001超时没有摘机"},
      {"caller hangs up", nullptr, [](BlockTest& t) { t.fake_.hangUp(0); }, -2,
       "通道0=>(1)CallExt 0通道挂机,流程退出"},
      // Lines that learn why a ringing extension will not answer.
      {"refused while ringing", nullptr, [](BlockTest& t) { t.fake_.setInLineStatus(5, 3); }, 1,
       "通道0=>分机8001忙"},
      {"unknown while ringing", nullptr, [](BlockTest& t) { t.fake_.setInLineStatus(5, 4); }, 3,
       "通道0=>分机8001不存在"},
      // The answer is taken before the ring time, the ring time before a
      // status no line reports.
      {"refused after the ring time", nullptr,
       [](BlockTest& t) {
         t.clock_.advance(30001);
         t.fake_.setInLineStatus(5, 3);
       },
       1, "通道0=>分机8001忙"},
      {"unknown status", nullptr,
       [](BlockTest& t) {
         t.fake_.setInLineStatus(5, 7);
         t.clock_.advance(30001);
       },
       2, "通道0=>被叫分机8001超时没有摘机"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    enter(Rec(49)
              .byte(R::kExtensionVar, 2)
              .text(R::kWaitPrompt, "ring.voc")
              .byte(R::kMessageVar, 7)
              .byte(R::kForwardVar, 8)
              .byte(R::kExtChannelVar, 9)
              .number(R::kRingMode, 3));
    ChanRecord ext = rt_.channels().record(5);
    ext.setExtension("8001");
    ext.setLineState(0);
    fake_.setInLineStatus(5, 0);
    regs().S[2] = "8001";
    if (c.setup) c.setup(*this);
    pass();
    if (c.ringing) {
      EXPECT_TRUE(saw("通道0=>振铃分机8001"));
      EXPECT_TRUE(fake_.called("CTIRingIn(5,3)"));
      EXPECT_EQ(ext.lineState(), CHAN_LINE_RINGING);
      EXPECT_EQ(rt_.channels().record(0).linked(), 5);
      c.ringing(*this);
      pass();
    }
    EXPECT_TRUE(saw(c.line)) << ::testing::PrintToString(sink_.texts());
    if (c.exit == -2) {
      EXPECT_EQ(rt_.channels().current(0).kind(), cpl::kKindWaitCall);
      EXPECT_EQ(ext.lineState(), 0);
      EXPECT_TRUE(fake_.called("CTIStopRingIn(5)"));
    } else {
      EXPECT_EQ(exitTaken(), c.exit);
    }
    if (c.exit == 0) {
      EXPECT_EQ(regs().I[9], 5);
    }
    if (c.ringing && c.exit > 0) {
      // Ringing that ends unanswered stops the ringing, frees the extension
      // and the caller's ring-back.
      EXPECT_EQ(ext.lineState(), 0);
      EXPECT_TRUE(fake_.called("CTIStopRingIn(5)"));
      EXPECT_TRUE(fake_.called("CTIStopPlayFile(0,0)")) << ::testing::PrintToString(fake_.calls());
    }
    if (c.exit == 4) {
      EXPECT_EQ(regs().S[7], dir_.path() + "\\leavmsg\\msg5.voc");
    }
    if (c.exit == 5) {
      EXPECT_EQ(regs().S[8], "13900001111");
    }
    fake_.setStatus(0, 0);
    fake_.setInLineStatus(5, 0);
    ext.setLineState(0);
  }
}

// A key input ended by "#" alone leaves an empty extension number: it names
// an inner line without a number, never the caller's own outer line.
TEST_F(BlockTest, ExtensionCallWithAnEmptyNumber) {
  using R = cpl::CallExtRecord;
  struct Case {
    const char* name;
    bool spareInnerLine;  // channel 6: an inner line without a number
    int exit;
    const char* line;
  } cases[] = {
      {"rings the inner line without a number", true, -1, "通道0=>振铃分机"},
      {"no such extension without one", false, 3, "通道0=>分机不存在"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    enter(Rec(49).byte(R::kExtensionVar, 2).number(R::kRingMode, 1));
    fake_.setType(5, CHAN_TYPE_INNER);
    rt_.channels().record(5).setExtension("8001");
    fake_.setType(6, c.spareInnerLine ? CHAN_TYPE_INNER : CHAN_TYPE_OUTER);
    rt_.channels().record(6).setExtension("");
    rt_.channels().record(6).setLineState(0);
    regs().S[2] = "";
    pass();
    EXPECT_TRUE(saw(c.line)) << ::testing::PrintToString(sink_.texts());
    EXPECT_EQ(exitTaken(), c.exit);
    EXPECT_FALSE(fake_.called("CTIRingIn(0,1)"));
    EXPECT_EQ(fake_.called("CTIRingIn(6,1)"), c.spareInnerLine);
    EXPECT_EQ(rt_.channels().record(0).linked(), c.spareInnerLine ? 6 : -1);
    rt_.channels().record(6).setLineState(0);
  }
}

TEST_F(BlockTest, TalkEndsFromEitherSide) {
  using R = cpl::TalkRecord;
  struct Case {
    const char* name;
    int otherType;
    std::function<void(BlockTest&)> hangUp;
    int exit;  // -2: the caller's channel was reset
    const char* line;
  } cases[] = {
      {"extension hangs up", CHAN_TYPE_INNER, [](BlockTest& t) { t.fake_.setInLineStatus(4, 2); },
       1, "通道0=>(1)Talk 座席4挂机"},
      {"extension's call refused", CHAN_TYPE_INNER,
       [](BlockTest& t) { t.fake_.setInLineStatus(4, 3); }, 1, "通道0=>(1)Talk 座席4挂机"},
      {"extension unknown", CHAN_TYPE_INNER, [](BlockTest& t) { t.fake_.setInLineStatus(4, 4); }, 1,
       "通道0=>(1)Talk 座席4挂机"},
      {"outside line hangs up", CHAN_TYPE_OUTER, [](BlockTest& t) { t.fake_.hangUp(4); }, 1,
       "通道0=>(1)Talk 呼转外线4挂机"},
      {"caller hangs up", CHAN_TYPE_INNER, [](BlockTest& t) { t.fake_.hangUp(0); }, -2,
       "通道0=>(1)Talk 外线0挂机"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.setType(4, c.otherType);
    enter(Rec(42).byte(R::kLinkedChannel, 3));
    regs().I[3] = 4;
    rt_.channels().record(0).setCallerNumber("111");
    rt_.channels().record(4).setCallerNumber("444");
    pass();
    EXPECT_TRUE(saw("通道0=>(1)Talk(通道1=0,通道2=4)"));
    EXPECT_TRUE(fake_.called("CTIChConnCh(0,4)"));
    EXPECT_EQ(rt_.channels().record(0).lineState(), CHAN_LINE_TALKING);
    EXPECT_EQ(rt_.channels().record(0).peerNumber(), "444");
    pass();
    EXPECT_EQ(exitTaken(), -1);
    c.hangUp(*this);
    pass();
    EXPECT_TRUE(saw(c.line));
    if (c.exit == -2) {
      EXPECT_EQ(rt_.channels().current(0).kind(), cpl::kKindWaitCall);
    } else {
      EXPECT_EQ(exitTaken(), c.exit);
      EXPECT_EQ(rt_.channels().record(4).linked(), -1);  // the other side's call is cleared
    }
    fake_.setStatus(0, 0);
    fake_.setStatus(4, 0);
    fake_.setInLineStatus(4, 0);
  }
  enter(Rec(42).byte(R::kLinkedChannel, 3));
  regs().I[3] = 8;
  pass();
  EXPECT_TRUE(saw("通道0=>(1)Talk命令连接通道8不是内线"));
  EXPECT_EQ(rt_.channels().current(0).kind(), cpl::kKindWaitCall);
}

// ---- combined playback (52) -------------------------------------------------

TEST(CombinedPlayback, SymbolFiles) {
  struct Case {
    char symbol;
    int type;
    const char* file;
  } cases[] = {
      {'1', 1, ".\\voice\\D1.qx"},
      {'e', 1, ".\\voice\\TEN.qx"},
      {'f', 7, ".\\voice\\YUAN.qx"},
      {'f', 1, ".\\voice\\POINT.qx"},
      {'f', 2, ".\\voice\\POINT.qx"},
      {'f', 3, nullptr},
      {'B', 7, ".\\voice\\FEN.qx"},
      {'B', 2, ".\\voice\\YUAN.qx"},
      {'B', 1, nullptr},
      {'A', 7, ".\\voice\\JIAO.qx"},
      {'A', 2, nullptr},
      {'m', 0, ".\\voice\\SECOND.qx"},
      {'z', 1, nullptr},
  };
  for (const auto& c : cases) {
    const char* f = combinedSymbolFile(c.symbol, c.type);
    EXPECT_STREQ(f ? f : "", c.file ? c.file : "") << c.symbol << " type " << c.type;
  }
}

TEST_F(BlockTest, CombinedPlaybackPlaysEachSymbol) {
  using R = cpl::PlayTtsRecord;
  struct Case {
    int type;
    std::string symbols;
    std::vector<std::string> plays;
  } cases[] = {
      {1, "1e5", {"D1.qx", "TEN.qx", "D5.qx"}},
      {3, "f2", {"D2.qx"}},  // nothing for f under type 3; the next symbol follows
      {1, "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.symbols);
    fake_.setCombine(0, c.symbols);
    fake_.setPlayFinish(0, 0);
    enter(Rec(52).number(R::kPlayType, c.type).text(R::kContent, "  15 "));
    for (int i = 0; i < 20 && exitTaken() < 0; ++i)
      pass();
    EXPECT_EQ(exitTaken(), 0);
    std::vector<std::string> plays;
    for (const auto& call : fake_.calls())
      if (call.rfind("CTIPlayFile(0,.\\voice\\", 0) == 0)
        plays.push_back(call.substr(22, call.size() - 25));
    EXPECT_EQ(plays, c.plays);
    EXPECT_TRUE(fake_.called("GetCombineStr(" + std::to_string(c.type) + ",15)"));
    EXPECT_TRUE(saw("通道0=>(1)PlayTTS(放音类型=" + std::to_string(c.type) +
                    ";放音内容=15;放音字符串=" + c.symbols + ")"));
    EXPECT_TRUE(saw("通道0=>(1)PlayTTS正常结束"));
  }
  fake_.setCombine(1, "");
  enter(Rec(52).number(R::kPlayType, 9).text(R::kContent, "x"));
  pass();
  EXPECT_EQ(exitTaken(), 1);
}

TEST_F(BlockTest, UnsupportedKindsGoOnThroughExit0) {
  for (int kind : {40, 45, 46, 47, 50, 53}) {
    enter(Rec(kind));
    pass();
    EXPECT_EQ(exitTaken(), 0) << kind;
    EXPECT_TRUE(saw("通道0=>(1)模块类型" + std::to_string(kind) + "暂不支持,从出口0继续"));
  }
}

}  // namespace
}  // namespace callproc
