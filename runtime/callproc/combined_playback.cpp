// The combined playback block (52): the CTI library turns a value into a
// string of symbols, one short voice file each, played in order.
#include <cstring>

#include "runtime/callproc/block_context.h"
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

void runCombinedPlayback(Runtime& rt, int c) {
  using R = cpl::PlayTtsRecord;
  BlockContext b(rt, c);
  if (b.hungUp()) {
    b.trace()("通道%d=>(%d)PlayTTS 挂机", c, b.index());
    b.exit(2, R::kExits);
    return;
  }
  switch (b.st.step) {
    case 0: {
      b.rec.setKeyBuffer("");
      const int32_t playType = b.number(R::kPlayType);
      std::string content = b.text(R::kContent, R::kContentSize);
      const auto first = content.find_first_not_of(" \t");
      content = first == std::string::npos
                    ? ""
                    : content.substr(first, content.find_last_not_of(" \t") - first + 1);
      char text[512] = {};
      if (b.cti().GetCombineStr(playType, content.c_str(), text) != 0) {
        b.exit(1, R::kExits);
        return;
      }
      text[sizeof text - 1] = 0;
      b.st.text = text;
      b.st.counter = static_cast<int32_t>(b.st.text.size());
      b.st.field1 = 0;
      b.st.field2 = playType;
      b.st.step = 5;
      b.trace()("通道%d=>(%d)PlayTTS(放音类型=%d;放音内容=%s;放音字符串=%s)", c, b.index(),
                playType, u8(content).c_str(), text);
      return;
    }
    case 5: {
      const int pos = b.st.field1;
      if (pos >= 0 && pos < static_cast<int>(b.st.text.size())) {
        if (const char* file = combinedSymbolFile(b.st.text[pos], b.st.field2))
          b.cti().CTIPlayFile(c, file, b.mode());
      }
      b.st.step = 10;
      return;
    }
    case 10:
      if (b.cti().playState(c, b.rt.accessMode()) != cti::PlayState::kFinished) return;
      if (++b.st.field1 < b.st.counter) {
        b.st.step = 5;
        return;
      }
      b.trace()("通道%d=>(%d)PlayTTS正常结束", c, b.index());
      b.exit(0, R::kExits);
      return;
    default:
      return;
  }
}

}  // namespace callproc
