// The voice playback (41), single-key branch (44) and key input (43) blocks,
// and the voice file resolution and key test they share with the others.
#include <algorithm>
#include <cctype>

#include "platform/gbk.h"
#include "runtime/callproc/blocks.h"

namespace callproc {

namespace {
constexpr int kStatusPlaying = 2;
}  // namespace

bool keyStops(int k, std::string_view keys) {
  const std::string kk = platform::gbkAsciiUpper(keys);
  const char key = static_cast<char>(std::toupper(static_cast<unsigned char>(k)));
  if (kk == "?") return true;
  if (key >= '0' && key <= '9' && kk == "D") return true;
  return kk.find(key) != std::string::npos;
}

namespace {
// A path from the root of this machine, such as the voice-mail path built on
// the working directory: case matters on Linux, so it is neither lower-cased
// nor cut, and it names no file in the flow's voice directory.
bool fromRoot(std::string_view n) {
  return !n.empty() && (n[0] == '/' || n[0] == '\\');
}
}  // namespace

std::string resolveVoiceFile(const Call& call, std::string_view name) {
  if (fromRoot(name)) return std::string(name);
  std::string n = platform::gbkAsciiLower(name.substr(0, std::min<size_t>(name.size(), 255)));
  if (n.size() >= 2 && n[0] == 's' &&
      std::all_of(n.begin() + 1, n.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
    int r = 0;
    for (size_t i = 1; i < n.size() && r <= 31; ++i)
      r = r * 10 + (n[i] - '0');
    if (r <= 31) {
      n = call.regs.S[r];
      if (fromRoot(n)) return n;
    }
  }
  if (n.size() < 3) return {};
  if (n.rfind("..\\", 0) == 0 || n.rfind(".\\", 0) == 0) return n;
  if (n[0] >= 'a' && n[0] <= 'z' && n[1] == ':') return n;
  std::string dir;
  if (call.bank) dir = call.bank->vocDir;
  return dir + "\\" + n;
}

// ---- voice playback (41) ----------------------------------------------------

void runPlayVoice(Call& call, BlockServices& svc) {
  using R = cpl::PlayVoiceRecord;
  using Exit = PlayVoiceExit;
  BlockStep b{call, svc};
  const int c = call.c;
  ChannelLog& log = svc.log;
  if (b.hungUp()) {
    log.block(c, call.index(), "PlayFile CTIPlayFile(%d)挂机!", c);
    b.exit(Exit::kHungUp);
    return;
  }
  PlayVoiceState& s = call.st.of<PlayVoiceState>();
  if (s.step == PlayVoiceStep::kEntered) {
    call.rec.setLineState(CHAN_LINE_IN_FLOW);
    call.rec.setKeyBuffer("");
    const std::string name =
        call.type(R::kVoiceFile) == cpl::kOpS || call.type(R::kVoiceFile) == cpl::kOpStr
            ? call.name(R::kVoiceFile)
            : "";
    const int32_t index = call.indexOf(R::kVoiceFile);
    const int32_t voiceType = call.number(R::kVoiceType);
    const int p =
        call.type(R::kPlayChannel) == cpl::kOpI ? call.ireg(call.reg(R::kPlayChannel)) : c;
    s.playChannel = p;
    svc.calls.showStatus(p, kStatusPlaying);
    log.block(c, call.index(), "PlayFile(语音文件=%s(%d);文件类型=%d;播放通道=%d)", Gbk{name},
              index, voiceType, p);
    if (voiceType == 1) {
      if (b.lines().CTIPlayIndex(p, index) == -1) {
        log.block(c, call.index(), "PlayFile CTIPlayIndex(%d,%d)错误!", p, index);
        b.exit(Exit::kCannotStart);
        return;
      }
      s.step = PlayVoiceStep::kPlaying;
    } else if (voiceType == 0) {
      const std::string path = resolveVoiceFile(call, name);
      log.block(c, call.index(), "PlayFile CTIPlayFile(%d,%s)", p, Gbk{path});
      if (b.lines().CTIPlayFile(p, path.c_str(), b.mode()) == -1) {
        log.block(c, call.index(), "PlayFile CTIPlayFile(%d,%s)错误!", p, Gbk{path});
        b.exit(Exit::kCannotStart);
        return;
      }
      b.lines().CTIFlushDTMF(c, b.mode());
      s.step = PlayVoiceStep::kPlaying;
    } else {
      // No playback of this type exists: the block cannot start.
      log.block(c, call.index(), "PlayFile 语音类型%d不支持", voiceType);
      b.exit(Exit::kCannotStart);
    }
    return;
  }
  const int p = s.playChannel;
  const int k = b.key(p);
  if (k >= 0 && keyStops(k, call.text(R::kInterruptKeys, R::kInterruptKeysSize))) {
    log.block(c, call.index(), "PlayVoc按键终止");
    b.lines().CTIStopPlayFile(p, b.mode());
    b.exit(Exit::kEnded);
    return;
  }
  const cti::PlayState fin = b.playState(p);
  if (fin != cti::PlayState::kPlaying) {
    b.lines().CTIStopPlayFile(p, b.mode());
    if (fin == cti::PlayState::kFinished)
      log.block(c, call.index(), "PlayVoc正常结束");
    else
      log.block(c, call.index(), "PlayVoc播放错误");
    b.exit(Exit::kEnded);
  }
}

// ---- single-key branch (44) -------------------------------------------------

namespace {

void digitPrompt(BlockStep& b) {
  using R = cpl::DigitRecord;
  Call& call = b.call;
  if (call.number(R::kVoiceType) == 1) {
    const int32_t index = call.indexOf(R::kPrompt);
    if (b.lines().CTIPlayIndex(call.c, index) == -1)
      b.log().block(call.c, call.index(), "Digit PlayIndexVoc %d 错误", index);
    else
      b.log().block(call.c, call.index(), "Digit PlayIndexVoc %d", index);
    return;
  }
  const std::string path = resolveVoiceFile(call, call.name(R::kPrompt));
  if (b.lines().CTIPlayFile(call.c, path.c_str(), b.mode()) == -1)
    b.log().block(call.c, call.index(), "Digit PlayFileVoc %s 错误", Gbk{path});
  else
    b.log().block(call.c, call.index(), "Digit PlayFileVoc %s", Gbk{path});
}

// A key ends the block through its exit; true when the block was left.
bool digitKey(BlockStep& b, int k) {
  using R = cpl::DigitRecord;
  DigitExit exit;
  if (k >= '0' && k <= '9')
    exit = static_cast<DigitExit>(static_cast<int>(DigitExit::kKey0) + (k - '0'));
  else if (k == '*')
    exit = DigitExit::kStar;
  else if (k == '#')
    exit = DigitExit::kHash;
  else
    return false;
  Call& call = b.call;
  b.log().block(call.c, call.index(), "Digit 用户按键%c", k);
  b.lines().CTIStopPlayFile(call.c, b.mode());
  call.setS(call.cur.u8At(R::kKeyVar), std::string(1, static_cast<char>(k)));
  b.exit(exit);
  return true;
}

}  // namespace

void runDigit(Call& call, BlockServices& svc) {
  using R = cpl::DigitRecord;
  using Step = DigitStep;
  BlockStep b{call, svc};
  const int c = call.c;
  ChannelLog& log = svc.log;
  if (b.hungUp()) {
    log.block(c, call.index(), "Digit 挂机");
    b.exit(DigitExit::kHungUp);
    return;
  }
  DigitState& s = call.st.of<DigitState>();
  switch (s.step) {
    case Step::kEntered:
      call.rec.setLineState(CHAN_LINE_IN_FLOW);
      call.rec.setKeyBuffer("");
      s.waitMs = call.number(R::kWaitAfter);
      s.since = b.now();
      s.repeatsLeft = call.number(R::kReplays);
      b.status(kStatusPlaying);
      log.block(c, call.index(), "Digit 输入等待%d秒，重复%d次", s.waitMs / 1000, s.repeatsLeft);
      digitPrompt(b);
      s.step = Step::kPrompting;
      b.lines().CTIFlushDTMF(c, b.mode());
      return;
    case Step::kPrompting: {
      int k = b.key(c);
      if (k >= 0) {
        digitKey(b, k);
        return;
      }
      if (b.playState(c) == cti::PlayState::kFinished) {
        b.lines().CTIStopPlayFile(c, b.mode());
        s.since = b.now();
        s.step = Step::kWaiting;
      }
      return;
    }
    case Step::kWaiting: {
      if (b.elapsedSince(s.since) > static_cast<uint32_t>(s.waitMs)) {
        log.block(c, call.index(), "Digit 超过定时器%d用户没有按键", s.waitMs);
        if (s.repeatsLeft < 1) {
          log.block(c, call.index(), "Digit 超时无输入");
          b.exit(DigitExit::kNoKey);
          return;
        }
        log.block(c, call.index(), "Digit 超时无输入,重复%d", s.repeatsLeft);
        --s.repeatsLeft;
        s.step = Step::kReplaying;
        return;
      }
      int k = b.key(c);
      if (k >= 0) digitKey(b, k);
      return;
    }
    case Step::kReplaying:
      s.since = b.now();
      digitPrompt(b);
      s.step = Step::kPrompting;
      return;
  }
}

// ---- key input (43) ---------------------------------------------------------

namespace {

// Starts the prompt; false when there is none to play (empty name).
bool inputPrompt(BlockStep& b, bool first) {
  using R = cpl::InputRecord;
  Call& call = b.call;
  const char* bang = first ? " 错误！" : " 错误";
  if (call.number(R::kVoiceType) == 1) {
    const int32_t index = call.indexOf(R::kPrompt);
    if (b.lines().CTIPlayIndex(call.c, index) == -1)
      b.log().block(call.c, call.index(), "Input PlayIndexVoc %d%s", index, bang);
    else
      b.log().block(call.c, call.index(), "Input PlayIndexVoc %d", index);
    return true;
  }
  std::string name = call.name(R::kPrompt);
  name.erase(0, name.find_first_not_of(" \t"));
  if (name.empty()) return false;
  const std::string path = resolveVoiceFile(call, name);
  if (b.lines().CTIPlayFile(call.c, path.c_str(), b.mode()) == -1)
    b.log().block(call.c, call.index(), "Input PlayFileVoc %s%s", Gbk{path}, bang);
  else
    b.log().block(call.c, call.index(), "Input PlayFileVoc %s", Gbk{path});
  return true;
}

char endKey(const Call& call) {
  using R = cpl::InputRecord;
  if (call.type(R::kEndKey) == cpl::kOpS) {
    std::string s = call.sreg(call.reg(R::kEndKey));
    if (!s.empty()) return s[0];
  }
  return static_cast<char>(call.cur.u8At(R::kEndKey + 2));
}

// Appends a key; true when the input is complete.
bool takeKey(BlockStep& b, int k) {
  using R = cpl::InputRecord;
  Call& call = b.call;
  std::string buf = call.rec.keyBuffer() + static_cast<char>(k);
  call.rec.setKeyBuffer(buf);
  buf = call.rec.keyBuffer();
  b.log().block(call.c, call.index(), "Input Dtmf=%s", Gbk{buf});
  const int32_t digits = call.number(R::kDigitCount);
  if (buf.size() >= CHAN_KEY_BUFFER_SIZE) return true;
  if (digits != 0) return static_cast<int32_t>(buf.size()) >= digits;
  return static_cast<char>(k) == endKey(call);
}

void finishInput(BlockStep& b) {
  using R = cpl::InputRecord;
  Call& call = b.call;
  std::string buf = call.rec.keyBuffer();
  if (call.number(R::kDigitCount) == 0 && !buf.empty()) buf.pop_back();
  call.setS(call.cur.u8At(R::kDigitsVar), buf);
  call.rec.setKeyBuffer("");
  b.exit(InputExit::kDone);
}

// Prompting and waiting take a key the same way.
void inputKey(BlockStep& b, InputState& s, int k) {
  b.lines().CTIStopPlayFile(b.c(), b.mode());
  s.since = b.now();
  if (takeKey(b, k))
    finishInput(b);
  else
    s.step = InputStep::kCollecting;
}

}  // namespace

void runInput(Call& call, BlockServices& svc) {
  using R = cpl::InputRecord;
  using Step = InputStep;
  BlockStep b{call, svc};
  const int c = call.c;
  ChannelLog& log = svc.log;
  if (b.hungUp()) {
    log.block(c, call.index(), "Input 挂机");
    b.exit(InputExit::kHungUp);
    return;
  }
  InputState& s = call.st.of<InputState>();
  switch (s.step) {
    case Step::kEntered:
    case Step::kReplaying:
      if (s.step == Step::kEntered) {
        call.rec.setLineState(CHAN_LINE_IN_FLOW);
        call.rec.setKeyBuffer("");
        s.waitMs = call.number(R::kDigitWait);
        s.repeatsLeft = call.number(R::kRepeat);
        b.status(kStatusPlaying);
        log.block(c, call.index(), "Input 输入等待%d秒，重复%d次", s.waitMs / 1000, s.repeatsLeft);
      }
      s.since = b.now();
      if (!inputPrompt(b, s.step == Step::kEntered)) {
        s.step = Step::kWaiting;
        return;
      }
      b.lines().CTIFlushDTMF(c, b.mode());
      s.step = Step::kPrompting;
      return;
    case Step::kPrompting: {
      int k = b.key(c);
      if (k >= 0) {
        inputKey(b, s, k);
        return;
      }
      if (b.playState(c) == cti::PlayState::kFinished) {
        s.step = Step::kWaiting;
        s.since = b.now();
      }
      return;
    }
    case Step::kWaiting: {
      if (b.elapsedSince(s.since) > static_cast<uint32_t>(s.waitMs)) {
        call.setS(call.cur.u8At(R::kDigitsVar), call.rec.keyBuffer());
        call.rec.setKeyBuffer("");
        log.block(c, call.index(), "Input 等待输入超时,重复 %d", s.repeatsLeft);
        if (s.repeatsLeft < 1) {
          log.block(c, call.index(), "Input 超时");
          b.exit(InputExit::kTimeout);
          return;
        }
        --s.repeatsLeft;
        s.step = Step::kReplaying;
        return;
      }
      int k = b.key(c);
      if (k >= 0) inputKey(b, s, k);
      return;
    }
    case Step::kCollecting: {
      int k = b.key(c);
      if (k >= 0) {
        if (takeKey(b, k))
          finishInput(b);
        else
          s.since = b.now();
        return;
      }
      if (b.elapsedSince(s.since) > static_cast<uint32_t>(s.waitMs)) {
        call.setS(call.cur.u8At(R::kDigitsVar), call.rec.keyBuffer());
        call.rec.setKeyBuffer("");
        b.exit(InputExit::kTimeout);
      }
      return;
    }
  }
}

void runUnsupported(Call& call, BlockServices& svc) {
  BlockStep b{call, svc};
  const cpl::KindInfo* k = cpl::findKind(call.cur.kind());
  svc.log.block(call.c, call.index(), "模块类型%d暂不支持,从出口0继续", call.cur.kind());
  if (k) b.exitAt(0, k->exitOffset);
}

}  // namespace callproc
