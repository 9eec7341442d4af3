// The telephony block handlers. Each runs one short step for one channel per
// scan pass, keeps its progress in the channel's step record, and leaves its
// block with go to block.
#pragma once

#include <string>
#include <string_view>

namespace callproc {

class Runtime;

void runPlayVoice(Runtime& rt, int c);         // 41
void runDigit(Runtime& rt, int c);             // 44
void runInput(Runtime& rt, int c);             // 43
void runRecord(Runtime& rt, int c);            // 51
void runCallExt(Runtime& rt, int c);           // 49
void runTalk(Runtime& rt, int c);              // 42
void runCombinedPlayback(Runtime& rt, int c);  // 52
// 40, 45, 46, 47, 50, 53: not served; the flow goes on through exit 0.
void runUnsupported(Runtime& rt, int c);

// --- shared by the handlers (and tested on their own)

// The path a flow's voice name stands for: lower-cased (ASCII letters outside
// double-byte characters), "sN" replaced by string register N, names shorter
// than 3 bytes empty, "..\", ".\" and drive paths unchanged, a path from the
// root ("/" or "\", as the voice-mail path is) exactly as written, anything
// else under the voice directory of the channel's flow. GBK in and out.
std::string resolveVoiceFile(Runtime& rt, int c, std::string_view name);

// Whether key `k` stops playback or recording with the keys `keys`:
// "?" any key, "D" any digit, else the keys listed (both upper-cased).
bool keyStops(int k, std::string_view keys);

// The voice file of a combined-playback symbol under a play type, or nullptr
// when it plays nothing.
const char* combinedSymbolFile(char symbol, int playType);

}  // namespace callproc
