// The telephony block handlers. Each runs one short step for one channel per
// scan pass, keeps its progress in its kind's state (call_state.h), and
// leaves its block through one of its kind's named exits.
#pragma once

#include <string>
#include <string_view>

#include "runtime/callproc/call.h"

namespace callproc {

using BlockHandler = void (*)(Call& call, BlockServices& svc);

// The handler of a block kind of the kind table (flowfile/cplformat.h), or
// null for a kind the table does not hold and for the kinds the runtime
// steps itself (start, script). Kinds without a telephony handler of their
// own go on through exit 0 with a trace line.
BlockHandler blockHandler(int kind);

// --- shared by the handlers (and tested on their own)

// The path a flow's voice name stands for: lower-cased (ASCII letters outside
// double-byte characters), "sN" replaced by string register N, names shorter
// than 3 bytes empty, "..\", ".\" and drive paths unchanged, a path from the
// root ("/" or "\", as the voice-mail path is) exactly as written, anything
// else under the voice directory of the call's flow. GBK in and out.
std::string resolveVoiceFile(const Call& call, std::string_view name);

// Whether key `k` stops playback or recording with the keys `keys`:
// "?" any key, "D" any digit, else the keys listed (both upper-cased).
bool keyStops(int k, std::string_view keys);

// The voice file of a combined-playback symbol under a play type, or nullptr
// when it plays nothing.
const char* combinedSymbolFile(char symbol, int playType);

}  // namespace callproc
