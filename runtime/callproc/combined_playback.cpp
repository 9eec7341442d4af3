// The combined playback block (52): the CTI library turns a value into a
// string of symbols, one short voice file each, played in order.
#include <cstring>

#include "runtime/callproc/blocks.h"

namespace callproc {

// The voice file of a symbol under a play type, or nullptr when the symbol
// plays nothing. Files are relative to the working directory.
const char* combinedSymbolFile(char symbol, int playType) {
  if (symbol >= '0' && symbol <= '9') {
    static const char* const kDigits[] = {".\\voice\\D0.qx", ".\\voice\\D1.qx", ".\\voice\\D2.qx",
                                          ".\\voice\\D3.qx", ".\\voice\\D4.qx", ".\\voice\\D5.qx",
                                          ".\\voice\\D6.qx", ".\\voice\\D7.qx", ".\\voice\\D8.qx",
                                          ".\\voice\\D9.qx"};
    return kDigits[symbol - '0'];
  }
  switch (symbol) {
    case 'A':
      return playType == 7 ? ".\\voice\\JIAO.qx" : nullptr;
    case 'B':
      return playType == 7 ? ".\\voice\\FEN.qx" : playType == 2 ? ".\\voice\\YUAN.qx" : nullptr;
    case 'a':
      return ".\\voice\\M100.qx";
    case 'b':
      return ".\\voice\\TH10.qx";
    case 'c':
      return ".\\voice\\THOU.qx";
    case 'd':
      return ".\\voice\\HUN.qx";
    case 'e':
      return ".\\voice\\TEN.qx";
    case 'f':
      return playType == 7                    ? ".\\voice\\YUAN.qx"
             : playType == 1 || playType == 2 ? ".\\voice\\POINT.qx"
                                              : nullptr;
    case 'h':
      return ".\\voice\\YEAR.qx";
    case 'i':
      return ".\\voice\\MONTH.qx";
    case 'j':
      return ".\\voice\\DAY.qx";
    case 'k':
      return ".\\voice\\POINT.qx";
    case 'l':
      return ".\\voice\\FEN.qx";
    case 'm':
      return ".\\voice\\SECOND.qx";
    default:
      return nullptr;
  }
}

void runCombinedPlayback(Call& call, BlockServices& svc) {
  using R = cpl::PlayTtsRecord;
  using Step = CombinedStep;
  BlockStep b{call, svc};
  const int c = call.c;
  ChannelLog& log = svc.log;
  if (b.hungUp()) {
    log.block(c, call.index(), "PlayTTS 挂机");
    b.exit(CombinedExit::kHungUp);
    return;
  }
  CombinedState& s = call.st.of<CombinedState>();
  switch (s.step) {
    case Step::kEntered: {
      call.rec.setKeyBuffer("");
      const int32_t playType = call.number(R::kPlayType);
      std::string content = call.text(R::kContent, R::kContentSize);
      const auto first = content.find_first_not_of(" \t");
      content = first == std::string::npos
                    ? ""
                    : content.substr(first, content.find_last_not_of(" \t") - first + 1);
      char text[512] = {};
      if (b.lines().GetCombineStr(playType, content.c_str(), text) != 0) {
        b.exit(CombinedExit::kCannotCompose);
        return;
      }
      text[sizeof text - 1] = 0;
      s.symbols = text;
      s.position = 0;
      s.playType = playType;
      s.step = Step::kNextSymbol;
      log.block(c, call.index(), "PlayTTS(放音类型=%d;放音内容=%s;放音字符串=%s)", playType,
                Gbk{content}, text);
      return;
    }
    case Step::kNextSymbol: {
      const int pos = s.position;
      if (pos >= 0 && pos < static_cast<int>(s.symbols.size())) {
        if (const char* file = combinedSymbolFile(s.symbols[pos], s.playType))
          b.lines().CTIPlayFile(c, file, b.mode());
      }
      s.step = Step::kPlaying;
      return;
    }
    case Step::kPlaying:
      if (b.playState(c) != cti::PlayState::kFinished) return;
      if (++s.position < static_cast<int32_t>(s.symbols.size())) {
        s.step = Step::kNextSymbol;
        return;
      }
      log.block(c, call.index(), "PlayTTS正常结束");
      b.exit(CombinedExit::kEnded);
      return;
  }
}

}  // namespace callproc
