// The record (51), extension call (49) and talk (42) blocks.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "runtime/callproc/block_context.h"
#include "runtime/callproc/blocks.h"

namespace callproc {

namespace {
constexpr int kStatusRecording = 3;
constexpr uint32_t kRingTimeoutMs = 30000;

// Ends a recording through exit 0, or, when writing it failed (the line
// reported a sound error, or stopping it returned one), through exit 1 with
// the library's reason: a message cut short by a full disk is no message to
// keep. The library gives a negative errno value when it knows one.
void endRecording(BlockContext& b, const char* how, bool soundError) {
  using R = cpl::RecordRecord;
  int rc = b.cti().CTIStopRP(b.c, b.mode());
  if (rc == 0 && soundError) rc = CTI_PLAY_ERROR;
  if (rc != 0) {
    const std::string why = rc < -2 ? std::strerror(-rc) : "错误码" + std::to_string(rc);
    b.trace()("通道%d=>(%d)RecFile 录音写入失败(%s),录音中止", b.c, b.index(), why.c_str());
    b.exit(1, R::kExits);
    return;
  }
  b.trace()("通道%d=>(%d)RecFile %s", b.c, b.index(), how);
  b.exit(0, R::kExits);
}
}  // namespace

// ---- record (51) ------------------------------------------------------------

void runRecord(Runtime& rt, int c) {
  using R = cpl::RecordRecord;
  BlockContext b(rt, c);
  if (b.hungUp()) {
    b.trace()("通道%d=>(%d)Record 挂机", c, b.index());
    b.exit(2, R::kExits);
    return;
  }
  if (b.st.step == 0) {
    b.rec.setLineState(CHAN_LINE_IN_FLOW);
    b.rec.setKeyBuffer("");
    // Seconds as milliseconds, held to what the limit field holds.
    b.st.limit = static_cast<int32_t>(
        std::clamp<int64_t>(int64_t{b.number(R::kLength)} * 1000, INT32_MIN, INT32_MAX));
    b.startTimer();
    const std::string file = b.text(R::kFile, R::kFileSize);
    b.st.text = platform::gbkAsciiUpper(b.text(R::kStopKeys, R::kStopKeysSize));
    const std::string path = resolveVoiceFile(rt, c, file);
    b.status(kStatusRecording);
    b.cti().CTIStopPlayFile(c, b.mode());
    b.cti().CTIStopRecord(c, b.mode());
    if (b.cti().CTIRecFile(c, path.c_str(), b.mode()) != 0) {
      b.trace()("通道%d=>(%d)RecFile %s错误!", c, b.index(), u8(path).c_str());
      b.exit(1, R::kExits);
      return;
    }
    b.setS(b.reg(R::kFile), file);
    b.trace()("通道%d=>(%d)RecFile %s,%s,%d", c, b.index(), u8(path).c_str(), u8(b.st.text).c_str(),
              b.st.limit);
    b.st.step = 10;
    return;
  }
  if (b.st.step != 10) return;
  // Nothing plays while recording, so a sound error is the recording's.
  if (b.cti().playState(c, b.rt.accessMode()) == cti::PlayState::kError) {
    endRecording(b, "", true);
    return;
  }
  const int k = b.key(c);
  if (k >= 0 && keyStops(k, b.st.text)) {
    endRecording(b, "按键中止", false);
    return;
  }
  if (b.elapsed() > static_cast<uint32_t>(b.st.limit)) endRecording(b, "超时中止", false);
}

// ---- extension call (49) ----------------------------------------------------

void runCallExt(Runtime& rt, int c) {
  using R = cpl::CallExtRecord;
  BlockContext b(rt, c);
  const int extReg = b.cur.u8At(R::kExtensionVar);
  if (b.st.step == 0) {
    b.rec.setLineState(CHAN_LINE_IN_FLOW);
    if (extReg > 31) {
      b.trace()("通道%d=>(%d)CallExt sNo1(%d)参数越界", c, b.index(), extReg);
      rt.resetChannel(c);
      return;
    }
    const std::string x = b.sreg(extReg);
    b.trace()("通道%d=>(%d)CallExt %s", c, b.index(), u8(x).c_str());
    const int e = rt.channels().findExtension(x, rt.channelCount(), [&](int ch) {
      return b.cti().CTIGetChannelType(ch) == CHAN_TYPE_INNER;
    });
    if (e < 0) {
      b.trace()("通道%d=>分机%s不存在", c, u8(x).c_str());
      b.exit(3, R::kExits);
      return;
    }
    ChanRecord ext = rt.channels().record(e);
    if (b.cti().inLineStatus(e) == cti::InLineStatus::kOffHook) {
      b.trace()("通道%d=>分机%s忙", c, u8(x).c_str());
      b.exit(1, R::kExits);
      return;
    }
    if (ext.lineState() == CHAN_LINE_FORWARD) {
      b.trace()("通道%d=>被叫分机%s设置了呼叫转移,转移号码%s", c, u8(x).c_str(),
                u8(ext.forwardNumber()).c_str());
      b.setS(b.cur.u8At(R::kForwardVar), ext.forwardNumber());
      b.exit(5, R::kExits);
      return;
    }
    if (ext.lineState() == CHAN_LINE_VOICE_MAIL) {
      b.trace()("通道%d=>被叫分机%s设置语音留言", c, u8(x).c_str());
      // The folder is made here, where its path is handed out, so that the
      // record block that follows can start even when an operator removed it.
      const std::string folder = rt.workDir() + "/leavmsg";
      if (::mkdir(folder.c_str(), 0775) != 0 && errno != EEXIST)
        b.trace()("通道%d=>留言目录%s不能建立(%s)", c, folder.c_str(), std::strerror(errno));
      char path[1024];
      std::snprintf(path, sizeof path, "%s\\leavmsg\\msg%d.voc",
                    platform::utf8ToGbk(rt.workDir()).c_str(), e);
      b.setS(b.cur.u8At(R::kMessageVar), path);
      b.exit(4, R::kExits);
      return;
    }
    b.st.text.clear();
    const uint8_t voiceType = b.cur.u8At(R::kVoiceType);
    if (voiceType == 0) {
      const std::string name = b.type(R::kWaitPrompt) == cpl::kOpStr
                                   ? b.cur.textAt(R::kWaitPrompt + 2, 256)
                                   : b.sreg(b.reg(R::kWaitPrompt));
      const std::string path = resolveVoiceFile(rt, c, name);
      if (!path.empty()) {
        b.cti().CTIPlayFile(c, path.c_str(), b.mode());
        b.st.text = path;
      }
    } else if (voiceType == 1) {
      const int32_t index = b.type(R::kWaitPrompt) == cpl::kOpI
                                ? b.ireg(b.reg(R::kWaitPrompt))
                                : b.cur.i32At(R::kWaitPrompt + cpl::TextOrNumber::kNumber);
      b.cti().CycPlayIndex(c, index);
    }
    b.trace()("通道%d=>振铃分机%s", c, u8(x).c_str());
    b.cti().CTIRingIn(e, b.number(R::kRingMode));
    b.rec.setLinked(static_cast<int16_t>(e));
    ext.setLineState(CHAN_LINE_RINGING);
    b.startTimer();
    b.st.counter = e;
    b.st.step = 10;
    return;
  }
  if (b.st.step != 10) return;
  const int e = b.st.counter;
  ChanRecord ext = rt.channels().record(e);
  const std::string x = b.sreg(extReg);
  if (!b.st.text.empty() && b.cti().playState(c, b.rt.accessMode()) == cti::PlayState::kFinished) {
    b.cti().CTIStopPlayFile(c, b.mode());
    b.cti().CTIPlayFile(c, b.st.text.c_str(), 0);
  }
  if (b.cti().inLineStatus(e) == cti::InLineStatus::kOffHook) {
    b.trace()("通道%d=>被叫分机%s摘机", c, u8(x).c_str());
    b.cti().CTIStopPlayFile(c, b.mode());
    b.setI(b.cur.u8At(R::kExtChannelVar), e);
    b.exit(0, R::kExits);
    return;
  }
  if (b.elapsed() > kRingTimeoutMs) {
    b.cti().CTIStopRingIn(e);
    ext.setLineState(CHAN_LINE_IDLE);
    b.trace()("通道%d=>被叫分机%s超时没有摘机", c, u8(x).c_str());
    b.cti().CTIStopPlayFile(c, b.mode());
    b.exit(2, R::kExits);
    return;
  }
  if (b.hungUp()) {
    b.trace()("通道%d=>(%d)CallExt %d通道挂机,流程退出", c, b.index(), c);
    b.cti().CTIStopRingIn(e);
    ext.setLineState(CHAN_LINE_IDLE);
    rt.resetChannel(c);
  }
}

// ---- talk (42) --------------------------------------------------------------

void runTalk(Runtime& rt, int c) {
  using R = cpl::TalkRecord;
  BlockContext b(rt, c);
  if (b.st.step == 0) {
    const int o = b.ireg(b.cur.u8At(R::kLinkedChannel));
    if (o < 0 || o >= rt.channelCount()) {
      b.trace()("通道%d=>(%d)Talk命令连接通道%d不是内线", c, b.index(), o);
      rt.resetChannel(c);
      return;
    }
    b.trace()("通道%d=>(%d)Talk(通道1=%d,通道2=%d)", c, b.index(), c, o);
    b.st.counter = o;
    b.cti().CTIChConnCh(c, o);
    rt.channels().link(c, o);
    b.rec.setKeyBuffer("");
    rt.channels().record(o).setKeyBuffer("");
    b.startTimer();
    b.st.step = 1;
    return;
  }
  if (b.st.step != 1) return;
  const int o = b.st.counter;
  if (b.hungUp()) {
    b.trace()("通道%d=>(%d)Talk 外线%d挂机", c, b.index(), c);
    rt.resetChannel(c);
    return;
  }
  const int type = b.cti().CTIGetChannelType(o);
  if (type == CHAN_TYPE_INNER && b.cti().inLineStatus(o) == cti::InLineStatus::kHungUp) {
    b.trace()("通道%d=>(%d)Talk 座席%d挂机", c, b.index(), o);
    b.cti().CTIStopRingIn(o);
    b.exit(1, R::kExits);
    rt.channels().record(o).clearCall();
    return;
  }
  if (type == CHAN_TYPE_OUTER &&
      b.cti().outLineStatus(o, b.rt.accessMode()) == cti::OutLineStatus::kHungUp) {
    b.trace()("通道%d=>(%d)Talk 呼转外线%d挂机", c, b.index(), o);
    b.exit(1, R::kExits);
    rt.channels().record(o).clearCall();
  }
}

}  // namespace callproc
