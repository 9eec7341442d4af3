// The voice playback (41), single-key branch (44) and key input (43) blocks,
// and the voice file resolution and key test they share with the others.
#include <algorithm>
#include <cctype>

#include "runtime/callproc/block_context.h"
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

std::string resolveVoiceFile(Runtime& rt, int c, std::string_view name) {
  if (fromRoot(name)) return std::string(name);
  std::string n = platform::gbkAsciiLower(name.substr(0, std::min<size_t>(name.size(), 255)));
  if (n.size() >= 2 && n[0] == 's' &&
      std::all_of(n.begin() + 1, n.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
    int r = 0;
    for (size_t i = 1; i < n.size() && r <= 31; ++i)
      r = r * 10 + (n[i] - '0');
    if (r <= 31) {
      n = rt.channels().regs(c).S[r];
      if (fromRoot(n)) return n;
    }
  }
  if (n.size() < 3) return {};
  if (n.rfind("..\\", 0) == 0 || n.rfind(".\\", 0) == 0) return n;
  if (n[0] >= 'a' && n[0] <= 'z' && n[1] == ':') return n;
  ChanRecord rec = rt.channels().record(c);
  std::string dir;
  if (rec.flowSlot() >= 0 && rec.flowSlot() < interp::kFlowSlots && rt.channels().holdsBank(c))
    dir = rt.flows().bank(rec.flowSlot(), rec.bank()).vocDir;
  return dir + "\\" + n;
}

// ---- voice playback (41) ----------------------------------------------------

void runPlayVoice(Runtime& rt, int c) {
  using R = cpl::PlayVoiceRecord;
  BlockContext b(rt, c);
  if (b.hungUp()) {
    b.trace()("通道%d=>(%d)PlayFile CTIPlayFile(%d)挂机!", c, b.index(), c);
    b.exit(2, R::kExits);
    return;
  }
  if (b.st.step == 0) {
    b.rec.setLineState(CHAN_LINE_IN_FLOW);
    b.rec.setKeyBuffer("");
    const std::string name =
        b.type(R::kVoiceFile) == cpl::kOpS || b.type(R::kVoiceFile) == cpl::kOpStr
            ? b.name(R::kVoiceFile)
            : "";
    const int32_t index = b.indexOf(R::kVoiceFile);
    const int32_t voiceType = b.number(R::kVoiceType);
    const int p = b.type(R::kPlayChannel) == cpl::kOpI ? b.ireg(b.reg(R::kPlayChannel)) : c;
    b.st.counter = p;
    rt.showStatus(p, kStatusPlaying);
    b.trace()("通道%d=>(%d)PlayFile(语音文件=%s(%d);文件类型=%d;播放通道=%d)", c, b.index(),
              u8(name).c_str(), index, voiceType, p);
    if (voiceType == 1) {
      if (b.cti().CTIPlayIndex(p, index) == -1) {
        b.trace()("通道%d=>(%d)PlayFile CTIPlayIndex(%d,%d)错误!", c, b.index(), p, index);
        b.exit(1, R::kExits);
        return;
      }
      b.st.step = 10;
    } else if (voiceType == 0) {
      const std::string path = resolveVoiceFile(rt, c, name);
      b.trace()("通道%d=>(%d)PlayFile CTIPlayFile(%d,%s)", c, b.index(), p, u8(path).c_str());
      if (b.cti().CTIPlayFile(p, path.c_str(), b.mode()) == -1) {
        b.trace()("通道%d=>(%d)PlayFile CTIPlayFile(%d,%s)错误!", c, b.index(), p,
                  u8(path).c_str());
        b.exit(1, R::kExits);
        return;
      }
      b.cti().CTIFlushDTMF(c, b.mode());
      b.st.step = 10;
    } else {
      // No playback of this type exists: the block cannot start.
      b.trace()("通道%d=>(%d)PlayFile 语音类型%d不支持", c, b.index(), voiceType);
      b.exit(1, R::kExits);
    }
    return;
  }
  if (b.st.step != 10) return;
  const int p = b.st.counter;
  const int k = b.key(p);
  if (k >= 0 && keyStops(k, b.text(R::kInterruptKeys, R::kInterruptKeysSize))) {
    b.trace()("通道%d=>(%d)PlayVoc按键终止", c, b.index());
    b.cti().CTIStopPlayFile(p, b.mode());
    b.exit(0, R::kExits);
    return;
  }
  const cti::PlayState fin = b.cti().playState(p, b.rt.accessMode());
  if (fin != cti::PlayState::kPlaying) {
    b.cti().CTIStopPlayFile(p, b.mode());
    if (fin == cti::PlayState::kFinished)
      b.trace()("通道%d=>(%d)PlayVoc正常结束", c, b.index());
    else
      b.trace()("通道%d=>(%d)PlayVoc播放错误", c, b.index());
    b.exit(0, R::kExits);
  }
}

// ---- single-key branch (44) -------------------------------------------------

namespace {

void digitPrompt(BlockContext& b) {
  using R = cpl::DigitRecord;
  if (b.number(R::kVoiceType) == 1) {
    const int32_t index = b.indexOf(R::kPrompt);
    if (b.cti().CTIPlayIndex(b.c, index) == -1)
      b.trace()("通道%d=>(%d)Digit PlayIndexVoc %d 错误", b.c, b.index(), index);
    else
      b.trace()("通道%d=>(%d)Digit PlayIndexVoc %d", b.c, b.index(), index);
    return;
  }
  const std::string path = resolveVoiceFile(b.rt, b.c, b.name(R::kPrompt));
  if (b.cti().CTIPlayFile(b.c, path.c_str(), b.mode()) == -1)
    b.trace()("通道%d=>(%d)Digit PlayFileVoc %s 错误", b.c, b.index(), u8(path).c_str());
  else
    b.trace()("通道%d=>(%d)Digit PlayFileVoc %s", b.c, b.index(), u8(path).c_str());
}

// A key ends the block through its exit; true when the block was left.
bool digitKey(BlockContext& b, int k) {
  using R = cpl::DigitRecord;
  int exit;
  if (k >= '0' && k <= '9')
    exit = k - '0';
  else if (k == '*')
    exit = 10;
  else if (k == '#')
    exit = 11;
  else
    return false;
  b.trace()("通道%d=>(%d)Digit 用户按键%c", b.c, b.index(), k);
  b.cti().CTIStopPlayFile(b.c, b.mode());
  b.setS(b.cur.u8At(R::kKeyVar), std::string(1, static_cast<char>(k)));
  b.exit(exit, R::kExits);
  return true;
}

}  // namespace

void runDigit(Runtime& rt, int c) {
  using R = cpl::DigitRecord;
  BlockContext b(rt, c);
  if (b.hungUp()) {
    b.trace()("通道%d=>(%d)Digit 挂机", c, b.index());
    b.exit(13, R::kExits);
    return;
  }
  switch (b.st.step) {
    case 0:
      b.rec.setLineState(CHAN_LINE_IN_FLOW);
      b.rec.setKeyBuffer("");
      b.st.limit = b.number(R::kWaitAfter);
      b.startTimer();
      b.st.counter = b.number(R::kReplays);
      b.status(kStatusPlaying);
      b.trace()("通道%d=>(%d)Digit 输入等待%d秒，重复%d次", c, b.index(), b.st.limit / 1000,
                b.st.counter);
      digitPrompt(b);
      b.st.step = 10;
      b.cti().CTIFlushDTMF(c, b.mode());
      return;
    case 10: {
      int k = b.key(c);
      if (k >= 0) {
        digitKey(b, k);
        return;
      }
      if (b.cti().playState(c, b.rt.accessMode()) == cti::PlayState::kFinished) {
        b.cti().CTIStopPlayFile(c, b.mode());
        b.startTimer();
        b.st.step = 15;
      }
      return;
    }
    case 15: {
      if (b.elapsed() > static_cast<uint32_t>(b.st.limit)) {
        b.trace()("通道%d=>(%d)Digit 超过定时器%d用户没有按键", c, b.index(), b.st.limit);
        if (b.st.counter < 1) {
          b.trace()("通道%d=>(%d)Digit 超时无输入", c, b.index());
          b.exit(12, R::kExits);
          return;
        }
        b.trace()("通道%d=>(%d)Digit 超时无输入,重复%d", c, b.index(), b.st.counter);
        --b.st.counter;
        b.st.step = 20;
        return;
      }
      int k = b.key(c);
      if (k >= 0) digitKey(b, k);
      return;
    }
    case 20:
      b.startTimer();
      digitPrompt(b);
      b.st.step = 10;
      return;
    default:
      return;
  }
}

// ---- key input (43) ---------------------------------------------------------

namespace {

// Starts the prompt; false when there is none to play (empty name).
bool inputPrompt(BlockContext& b, bool first) {
  using R = cpl::InputRecord;
  const char* bang = first ? " 错误！" : " 错误";
  if (b.number(R::kVoiceType) == 1) {
    const int32_t index = b.indexOf(R::kPrompt);
    if (b.cti().CTIPlayIndex(b.c, index) == -1)
      b.trace()("通道%d=>(%d)Input PlayIndexVoc %d%s", b.c, b.index(), index, bang);
    else
      b.trace()("通道%d=>(%d)Input PlayIndexVoc %d", b.c, b.index(), index);
    return true;
  }
  std::string name = b.name(R::kPrompt);
  name.erase(0, name.find_first_not_of(" \t"));
  if (name.empty()) return false;
  const std::string path = resolveVoiceFile(b.rt, b.c, name);
  if (b.cti().CTIPlayFile(b.c, path.c_str(), b.mode()) == -1)
    b.trace()("通道%d=>(%d)Input PlayFileVoc %s%s", b.c, b.index(), u8(path).c_str(), bang);
  else
    b.trace()("通道%d=>(%d)Input PlayFileVoc %s", b.c, b.index(), u8(path).c_str());
  return true;
}

char endKey(BlockContext& b) {
  using R = cpl::InputRecord;
  if (b.type(R::kEndKey) == cpl::kOpS) {
    std::string s = b.sreg(b.reg(R::kEndKey));
    if (!s.empty()) return s[0];
  }
  return static_cast<char>(b.cur.u8At(R::kEndKey + 2));
}

// Appends a key; true when the input is complete.
bool takeKey(BlockContext& b, int k) {
  using R = cpl::InputRecord;
  std::string buf = b.rec.keyBuffer() + static_cast<char>(k);
  b.rec.setKeyBuffer(buf);
  buf = b.rec.keyBuffer();
  b.trace()("通道%d=>(%d)Input Dtmf=%s", b.c, b.index(), u8(buf).c_str());
  const int32_t digits = b.number(R::kDigitCount);
  if (buf.size() >= CHAN_KEY_BUFFER_SIZE) return true;
  if (digits != 0) return static_cast<int32_t>(buf.size()) >= digits;
  return static_cast<char>(k) == endKey(b);
}

void finishInput(BlockContext& b) {
  using R = cpl::InputRecord;
  std::string buf = b.rec.keyBuffer();
  if (b.number(R::kDigitCount) == 0 && !buf.empty()) buf.pop_back();
  b.setS(b.cur.u8At(R::kDigitsVar), buf);
  b.rec.setKeyBuffer("");
  b.exit(0, R::kExits);
}

// Steps 10 and 15 take a key the same way.
void inputKey(BlockContext& b, int k) {
  b.cti().CTIStopPlayFile(b.c, b.mode());
  b.startTimer();
  if (takeKey(b, k))
    finishInput(b);
  else
    b.st.step = 20;
}

}  // namespace

void runInput(Runtime& rt, int c) {
  using R = cpl::InputRecord;
  BlockContext b(rt, c);
  if (b.hungUp()) {
    b.trace()("通道%d=>(%d)Input 挂机", c, b.index());
    b.exit(2, R::kExits);
    return;
  }
  switch (b.st.step) {
    case 0:
    case 30:
      if (b.st.step == 0) {
        b.rec.setLineState(CHAN_LINE_IN_FLOW);
        b.rec.setKeyBuffer("");
        b.st.limit = b.number(R::kDigitWait);
        b.st.counter = b.number(R::kRepeat);
        b.status(kStatusPlaying);
        b.trace()("通道%d=>(%d)Input 输入等待%d秒，重复%d次", c, b.index(), b.st.limit / 1000,
                  b.st.counter);
      }
      b.startTimer();
      if (!inputPrompt(b, b.st.step == 0)) {
        b.st.step = 15;
        return;
      }
      b.cti().CTIFlushDTMF(c, b.mode());
      b.st.step = 10;
      return;
    case 10: {
      int k = b.key(c);
      if (k >= 0) {
        inputKey(b, k);
        return;
      }
      if (b.cti().playState(c, b.rt.accessMode()) == cti::PlayState::kFinished) {
        b.st.step = 15;
        b.startTimer();
      }
      return;
    }
    case 15: {
      if (b.elapsed() > static_cast<uint32_t>(b.st.limit)) {
        b.setS(b.cur.u8At(R::kDigitsVar), b.rec.keyBuffer());
        b.rec.setKeyBuffer("");
        b.trace()("通道%d=>(%d)Input 等待输入超时,重复 %d", c, b.index(), b.st.counter);
        if (b.st.counter < 1) {
          b.trace()("通道%d=>(%d)Input 超时", c, b.index());
          b.exit(1, R::kExits);
          return;
        }
        --b.st.counter;
        b.st.step = 30;
        return;
      }
      int k = b.key(c);
      if (k >= 0) inputKey(b, k);
      return;
    }
    case 20: {
      int k = b.key(c);
      if (k >= 0) {
        if (takeKey(b, k))
          finishInput(b);
        else
          b.startTimer();
        return;
      }
      if (b.elapsed() > static_cast<uint32_t>(b.st.limit)) {
        b.setS(b.cur.u8At(R::kDigitsVar), b.rec.keyBuffer());
        b.rec.setKeyBuffer("");
        b.exit(1, R::kExits);
      }
      return;
    }
    default:
      return;
  }
}

void runUnsupported(Runtime& rt, int c) {
  BlockContext b(rt, c);
  const cpl::KindInfo* k = cpl::findKind(b.cur.kind());
  b.trace()("通道%d=>(%d)模块类型%d暂不支持,从出口0继续", c, b.index(), b.cur.kind());
  if (k) b.exit(0, k->exitOffset);
}

}  // namespace callproc
