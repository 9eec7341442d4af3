// The record (51), extension call (49) and talk (42) blocks.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/gbk.h"
#include "runtime/callproc/blocks.h"

namespace callproc {

namespace {
constexpr int kStatusRecording = 3;
constexpr uint32_t kRingTimeoutMs = 30000;

// Ends a recording through its end, or, when writing it failed (the line
// reported a sound error, or stopping it returned one), through the failure
// exit with the library's reason: a message cut short by a full disk is no
// message to keep. The library gives a negative errno value when it knows one.
void endRecording(BlockStep& b, const char* how, bool soundError) {
  Call& call = b.call;
  int rc = b.lines().CTIStopRP(call.c, b.mode());
  if (rc == 0 && soundError) rc = CTI_PLAY_ERROR;
  if (rc != 0) {
    const std::string why = rc < -2 ? std::strerror(-rc) : "错误码" + std::to_string(rc);
    b.log().block(call.c, call.index(), "RecFile 录音写入失败(%s),录音中止", why.c_str());
    b.exit(RecordExit::kFailed);
    return;
  }
  b.log().block(call.c, call.index(), "RecFile %s", how);
  b.exit(RecordExit::kEnded);
}
}  // namespace

// ---- record (51) ------------------------------------------------------------

void runRecord(Call& call, BlockServices& svc) {
  using R = cpl::RecordRecord;
  BlockStep b{call, svc};
  const int c = call.c;
  ChannelLog& log = svc.log;
  if (b.hungUp()) {
    log.block(c, call.index(), "Record 挂机");
    b.exit(RecordExit::kHungUp);
    return;
  }
  RecordState& s = call.st.of<RecordState>();
  if (s.step == RecordStep::kEntered) {
    call.rec.setLineState(CHAN_LINE_IN_FLOW);
    call.rec.setKeyBuffer("");
    // Seconds as milliseconds, held to what the limit field holds.
    s.limitMs = static_cast<int32_t>(
        std::clamp<int64_t>(int64_t{call.number(R::kLength)} * 1000, INT32_MIN, INT32_MAX));
    s.since = b.now();
    const std::string file = call.text(R::kFile, R::kFileSize);
    s.stopKeys = platform::gbkAsciiUpper(call.text(R::kStopKeys, R::kStopKeysSize));
    const std::string path = resolveVoiceFile(call, file);
    b.status(kStatusRecording);
    b.lines().CTIStopPlayFile(c, b.mode());
    b.lines().CTIStopRecord(c, b.mode());
    if (b.lines().CTIRecFile(c, path.c_str(), b.mode()) != 0) {
      log.block(c, call.index(), "RecFile %s错误!", Gbk{path});
      b.exit(RecordExit::kFailed);
      return;
    }
    call.setS(call.reg(R::kFile), file);
    log.block(c, call.index(), "RecFile %s,%s,%d", Gbk{path}, Gbk{s.stopKeys}, s.limitMs);
    s.step = RecordStep::kRecording;
    return;
  }
  // Nothing plays while recording, so a sound error is the recording's.
  if (b.playState(c) == cti::PlayState::kError) {
    endRecording(b, "", true);
    return;
  }
  const int k = b.key(c);
  if (k >= 0 && keyStops(k, s.stopKeys)) {
    endRecording(b, "按键中止", false);
    return;
  }
  if (b.elapsedSince(s.since) > static_cast<uint32_t>(s.limitMs))
    endRecording(b, "超时中止", false);
}

// ---- extension call (49) ----------------------------------------------------

void runCallExt(Call& call, BlockServices& svc) {
  using R = cpl::CallExtRecord;
  using Exit = CallExtExit;
  BlockStep b{call, svc};
  const int c = call.c;
  ChannelLog& log = svc.log;
  CallControl& calls = svc.calls;
  const int extReg = call.cur.u8At(R::kExtensionVar);
  CallExtState& s = call.st.of<CallExtState>();
  if (s.step == CallExtStep::kEntered) {
    call.rec.setLineState(CHAN_LINE_IN_FLOW);
    if (extReg > 31) {
      log.block(c, call.index(), "CallExt sNo1(%d)参数越界", extReg);
      calls.resetChannel(c);
      return;
    }
    const std::string x = call.sreg(extReg);
    log.block(c, call.index(), "CallExt %s", Gbk{x});
    const int e = calls.channels().findExtension(x, calls.channelCount(), [&](int ch) {
      return b.lines().CTIGetChannelType(ch) == CHAN_TYPE_INNER;
    });
    if (e < 0) {
      log.channel(c, "分机%s不存在", Gbk{x});
      b.exit(Exit::kNoSuchExtension);
      return;
    }
    ChanRecord ext = calls.channels().record(e);
    if (b.lines().inLineStatus(e) == cti::InLineStatus::kOffHook) {
      log.channel(c, "分机%s忙", Gbk{x});
      b.exit(Exit::kBusy);
      return;
    }
    if (ext.lineState() == CHAN_LINE_FORWARD) {
      const std::string forward = ext.forwardNumber();
      log.channel(c, "被叫分机%s设置了呼叫转移,转移号码%s", Gbk{x}, Gbk{forward});
      call.setS(call.cur.u8At(R::kForwardVar), forward);
      b.exit(Exit::kForwarded);
      return;
    }
    if (ext.lineState() == CHAN_LINE_VOICE_MAIL) {
      log.channel(c, "被叫分机%s设置语音留言", Gbk{x});
      // The folder is made here, where its path is handed out, so that the
      // record block that follows can start even when an operator removed it.
      const std::string folder = calls.workDir() + "/leavmsg";
      if (::mkdir(folder.c_str(), 0775) != 0 && errno != EEXIST)
        log.channel(c, "留言目录%s不能建立(%s)", folder.c_str(), std::strerror(errno));
      char path[1024];
      std::snprintf(path, sizeof path, "%s\\leavmsg\\msg%d.voc",
                    platform::utf8ToGbk(calls.workDir()).c_str(), e);
      call.setS(call.cur.u8At(R::kMessageVar), path);
      b.exit(Exit::kVoiceMail);
      return;
    }
    s.ringBack.clear();
    const uint8_t voiceType = call.cur.u8At(R::kVoiceType);
    if (voiceType == 0) {
      const std::string name = call.type(R::kWaitPrompt) == cpl::kOpStr
                                   ? call.cur.textAt(R::kWaitPrompt + 2, 256)
                                   : call.sreg(call.reg(R::kWaitPrompt));
      const std::string path = resolveVoiceFile(call, name);
      if (!path.empty()) {
        b.lines().CTIPlayFile(c, path.c_str(), b.mode());
        s.ringBack = path;
      }
    } else if (voiceType == 1) {
      const int32_t index = call.type(R::kWaitPrompt) == cpl::kOpI
                                ? call.ireg(call.reg(R::kWaitPrompt))
                                : call.cur.i32At(R::kWaitPrompt + cpl::TextOrNumber::kNumber);
      b.lines().CycPlayIndex(c, index);
    }
    log.channel(c, "振铃分机%s", Gbk{x});
    b.lines().CTIRingIn(e, call.number(R::kRingMode));
    call.rec.setLinked(static_cast<int16_t>(e));
    ext.setLineState(CHAN_LINE_RINGING);
    s.since = b.now();
    s.extension = e;
    s.step = CallExtStep::kRinging;
    return;
  }
  const int e = s.extension;
  ChanRecord ext = calls.channels().record(e);
  const std::string x = call.sreg(extReg);
  if (!s.ringBack.empty() && b.playState(c) == cti::PlayState::kFinished) {
    b.lines().CTIStopPlayFile(c, b.mode());
    b.lines().CTIPlayFile(c, s.ringBack.c_str(), CTI_MODE_SIMULATED);
  }
  const cti::InLineStatus status = b.lines().inLineStatus(e);
  if (status == cti::InLineStatus::kOffHook) {
    log.channel(c, "被叫分机%s摘机", Gbk{x});
    b.lines().CTIStopPlayFile(c, b.mode());
    call.setI(call.cur.u8At(R::kExtChannelVar), e);
    b.exit(Exit::kAnswered);
    return;
  }
  // Lines that hear why a ringing extension will not answer (SIP) say so at
  // once, rather than leaving the caller to the ring time.
  if (status == cti::InLineStatus::kRefused || status == cti::InLineStatus::kNoSuchExtension) {
    const bool refused = status == cti::InLineStatus::kRefused;
    b.lines().CTIStopRingIn(e);
    ext.setLineState(CHAN_LINE_IDLE);
    if (refused)
      log.channel(c, "分机%s忙", Gbk{x});
    else
      log.channel(c, "分机%s不存在", Gbk{x});
    b.lines().CTIStopPlayFile(c, b.mode());
    b.exit(refused ? Exit::kBusy : Exit::kNoSuchExtension);
    return;
  }
  if (b.elapsedSince(s.since) > kRingTimeoutMs) {
    b.lines().CTIStopRingIn(e);
    ext.setLineState(CHAN_LINE_IDLE);
    log.channel(c, "被叫分机%s超时没有摘机", Gbk{x});
    b.lines().CTIStopPlayFile(c, b.mode());
    b.exit(Exit::kNoAnswer);
    return;
  }
  if (b.hungUp()) {
    log.block(c, call.index(), "CallExt %d通道挂机,流程退出", c);
    b.lines().CTIStopRingIn(e);
    ext.setLineState(CHAN_LINE_IDLE);
    calls.resetChannel(c);
  }
}

// ---- talk (42) --------------------------------------------------------------

void runTalk(Call& call, BlockServices& svc) {
  using R = cpl::TalkRecord;
  BlockStep b{call, svc};
  const int c = call.c;
  ChannelLog& log = svc.log;
  CallControl& calls = svc.calls;
  TalkState& s = call.st.of<TalkState>();
  if (s.step == TalkStep::kEntered) {
    const int o = call.ireg(call.cur.u8At(R::kLinkedChannel));
    if (o < 0 || o >= calls.channelCount()) {
      log.block(c, call.index(), "Talk命令连接通道%d不是内线", o);
      calls.resetChannel(c);
      return;
    }
    log.block(c, call.index(), "Talk(通道1=%d,通道2=%d)", c, o);
    s.peer = o;
    b.lines().CTIChConnCh(c, o);
    calls.channels().link(c, o);
    call.rec.setKeyBuffer("");
    calls.channels().record(o).setKeyBuffer("");
    s.since = b.now();
    s.step = TalkStep::kTalking;
    return;
  }
  const int o = s.peer;
  if (b.hungUp()) {
    log.block(c, call.index(), "Talk 外线%d挂机", c);
    calls.resetChannel(c);
    return;
  }
  const int type = b.lines().CTIGetChannelType(o);
  // An extension whose call failed has no handset up either.
  const cti::InLineStatus inner =
      type == CHAN_TYPE_INNER ? b.lines().inLineStatus(o) : cti::InLineStatus::kOffHook;
  if (inner == cti::InLineStatus::kHungUp || inner == cti::InLineStatus::kRefused ||
      inner == cti::InLineStatus::kNoSuchExtension) {
    log.block(c, call.index(), "Talk 座席%d挂机", o);
    b.lines().CTIStopRingIn(o);
    b.exit(TalkExit::kPeerHungUp);
    calls.channels().record(o).clearCall();
    return;
  }
  if (type == CHAN_TYPE_OUTER &&
      b.lines().outLineStatus(o, svc.mode) == cti::OutLineStatus::kHungUp) {
    log.block(c, call.index(), "Talk 呼转外线%d挂机", o);
    b.exit(TalkExit::kPeerHungUp);
    calls.channels().record(o).clearCall();
  }
}

}  // namespace callproc
