// Sentences: strings of voice-table indexes played one prompt after the
// other, and the index string of a spoken number.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "voicebox/voice.h"
#include "voicebox/zt_api.h"

namespace parvane {

namespace {

constexpr int kVoiceEntries = 255;

// Indexes of the number words.
constexpr char kZero = 2, kTen = 12, kHundred = 13, kThousand = 14, kTenThousand = 15,
               kHundredMillion = 16, kPoint = 17, kMinus = 18;

struct VoiceTable {
  std::string names[kVoiceEntries];
};

VoiceTable& voiceTable() {
  static NoDestroy<VoiceTable> t;
  return t.get();
}

char digit(unsigned d) {
  return static_cast<char>(d + 2);
}

// Speaks a four-digit group. z: a higher group ended in a non-zero unit, so
// a group without thousands starts with zero.
void speakGroup(unsigned v, bool z, std::string& s) {
  unsigned t = v / 1000, h = v / 100 % 10, d = v / 10 % 10, u = v % 10;
  if (t != 0) {
    s += digit(t);
    s += kThousand;
  } else if (z && (s.empty() || s.back() != kZero)) {
    // A zero already said between the groups is not said twice.
    s += kZero;
  }
  if (h != 0) {
    s += digit(h);
    s += kHundred;
  } else if (t != 0) {
    if (d == 0 && u == 0) return;
    s += kZero;
  }
  if (d != 0) {
    if (!(d == 1 && t == 0 && h == 0 && !z)) s += digit(d);
    s += kTen;
  } else if (h != 0) {
    if (u == 0) return;
    s += kZero;
  }
  if (u != 0) s += digit(u);
}

std::string numberSentence(double x) {
  std::string s;
  if (std::isnan(x) || std::fabs(x) > 999999999999.0) return s;
  if (std::fabs(x) < 0.000001) return std::string(1, kZero);
  if (x < 0) {
    s += kMinus;
    x = -x;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%019.6f", x);
  unsigned g1 = 0, g2 = 0, g3 = 0;
  unsigned long f = 0;
  if (std::sscanf(text, "%4u%4u%4u.%6lu", &g1, &g2, &g3, &f) != 4) return {};

  auto integerPart = [&] {
    unsigned d = 0;
    if (g1 != 0) {
      speakGroup(g1, false, s);
      s += kHundredMillion;
      d = g1 % 10;
      if (d == 0) {
        if (g2 == 0 && g3 == 0) return;
        s += kZero;
      }
    }
    if (g2 != 0) {
      speakGroup(g2, d != 0 && g1 != 0, s);
      s += kTenThousand;
      d = g2 % 10;
      if (d == 0) {
        if (g3 == 0) return;
        s += kZero;
      }
    } else if (g1 != 0 && g1 % 10 != 0) {
      if (g3 == 0) return;
      s += kZero;
    }
    if (g3 != 0) speakGroup(g3, d != 0 && (g1 != 0 || g2 != 0), s);
    if (g1 == 0 && g2 == 0 && g3 == 0) s += kZero;
  };
  integerPart();

  if (f != 0) {
    s += kPoint;
    char frac[8];
    std::snprintf(frac, sizeof frac, "%06lu", f);
    int last = 5;
    while (last > 0 && frac[last] == '0')
      --last;
    for (int i = 0; i <= last; ++i)
      s += digit(static_cast<unsigned>(frac[i] - '0'));
  }
  return s;
}

size_t skipOnes(const std::string& s, size_t pos) {
  while (pos < s.size() && s[pos] == 1)
    ++pos;
  return pos;
}

int partsFrom(const std::string& s, size_t pos) {
  int n = 0;
  for (size_t i = pos; i < s.size(); ++i)
    if (s[i] != 1) ++n;
  return n;
}

void endSentence(int channel, VoiceChannel& v) {
  v.sentence.clear();
  v.sentencePos = 0;
  v.sentenceActive = false;
  lib().ch[channel].sentencePlaying = false;
}

// Starts the part at v.sentencePos: 0, or -1 when it cannot be played.
int startPart(int channel, VoiceChannel& v) {
  unsigned idx = static_cast<unsigned char>(v.sentence[v.sentencePos]);
  const std::string& name = idx < kVoiceEntries ? voiceTable().names[idx] : std::string();
  // An index without a voice cannot be said: the sentence fails rather than
  // skip a word of a number.
  if (name.empty()) return voiceFail(kErrFile);
  return startFilePlayLocked(channel, v, name.c_str(), 0, 0) > 0 ? 0 : -1;
}

}  // namespace

void stopSentenceLocked(int channel, VoiceChannel& v) {
  if (!v.sentenceActive) return;
  if (v.play.op == kOpFilePlay) playStopLocked(channel, v);
  endSentence(channel, v);
}

int sentenceRestLocked(int channel, VoiceChannel& v) {
  if (!v.sentenceActive) return 0;
  int r = playStepLocked(channel, v, kOpFilePlay);
  if (r < 0) {
    playStopLocked(channel, v);
    endSentence(channel, v);
    return r;
  }
  if (r > 0) return partsFrom(v.sentence, v.sentencePos);
  playStopLocked(channel, v);
  v.sentencePos = skipOnes(v.sentence, v.sentencePos + 1);
  if (v.sentencePos >= v.sentence.size()) {
    endSentence(channel, v);
    return 0;
  }
  if (startPart(channel, v) != 0) {
    endSentence(channel, v);
    return -1;
  }
  return partsFrom(v.sentence, v.sentencePos);
}

}  // namespace parvane

using namespace parvane;

extern "C" int ZT_SetVoicei(int index, const char* fileName) {
  if (index < 0 || index >= kVoiceEntries) return 0;
  std::lock_guard lock(lib().bufferLock);
  voiceTable().names[index] = fileName ? fileName : "";
  return 1;
}

extern "C" int ZT_MakeSentence(double value, char* sentence) {
  if (!sentence) return -1;
  std::string s = numberSentence(value);
  std::memcpy(sentence, s.c_str(), s.size() + 1);
  return static_cast<int>(s.size());
}

extern "C" int ZT_PlaySentence(int channel, const char* sentence) {
  if (!checkChannel(channel)) return -1;
  if (!sentence) return voiceFail(kErrRange);
  std::lock_guard lock(lib().bufferLock);
  VoiceChannel& v = voiceChannel(channel);
  if (v.sentenceActive || v.play.op != kOpNone) return voiceFail(kErrPlaying);
  v.sentence = sentence;
  v.sentencePos = skipOnes(v.sentence, 0);
  if (v.sentencePos >= v.sentence.size()) {
    v.sentence.clear();
    return 0;
  }
  if (startPart(channel, v) != 0) {
    v.sentence.clear();
    return -1;
  }
  v.sentenceActive = true;
  lib().ch[channel].sentencePlaying = true;
  return partsFrom(v.sentence, v.sentencePos);
}

extern "C" int ZT_PlaySentenceRest(int channel) {
  if (!checkChannel(channel)) return -1;
  std::lock_guard lock(lib().bufferLock);
  return sentenceRestLocked(channel, voiceChannel(channel));
}

extern "C" int ZT_StopPlaySentence(int channel) {
  if (!checkChannel(channel)) return -1;
  std::lock_guard lock(lib().bufferLock);
  stopSentenceLocked(channel, voiceChannel(channel));
  return 0;
}
