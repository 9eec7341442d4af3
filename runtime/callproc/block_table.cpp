// The handler of each block kind, in a table built from the kind table:
// a kind the kind table gains is served (through exit 0) without an edit
// here, and no kind is served that the table does not know.
#include <array>
#include <utility>

#include "runtime/callproc/blocks.h"

namespace callproc {

// Defined beside their families: playback_blocks.cpp, call_blocks.cpp,
// combined_playback.cpp.
void runPlayVoice(Call&, BlockServices&);
void runDigit(Call&, BlockServices&);
void runInput(Call&, BlockServices&);
void runRecord(Call&, BlockServices&);
void runCallExt(Call&, BlockServices&);
void runTalk(Call&, BlockServices&);
void runCombinedPlayback(Call&, BlockServices&);
void runUnsupported(Call&, BlockServices&);

namespace {

// The kinds with a telephony handler of their own.
constexpr std::pair<int16_t, BlockHandler> kServed[] = {
    {cpl::kKindPlayVoice, runPlayVoice},
    {cpl::kKindDigit, runDigit},
    {cpl::kKindInput, runInput},
    {cpl::kKindRecord, runRecord},
    {cpl::kKindCallExt, runCallExt},
    {cpl::kKindTalk, runTalk},
    {cpl::kKindPlayTts, runCombinedPlayback},
};
// The kinds the runtime steps itself.
constexpr bool steppedByRuntime(int16_t kind) {
  return kind == cpl::kKindStart || kind == cpl::kKindScript;
}

constexpr std::array<BlockHandler, cpl::kKinds.size()> kByKindIndex = [] {
  std::array<BlockHandler, cpl::kKinds.size()> t{};
  for (size_t i = 0; i < cpl::kKinds.size(); ++i) {
    const int16_t kind = cpl::kKinds[i].kind;
    if (steppedByRuntime(kind)) continue;
    t[i] = runUnsupported;
    for (const auto& [k, run] : kServed)
      if (k == kind) t[i] = run;
  }
  return t;
}();

constexpr bool everyServedKindIsInTheTable() {
  for (const auto& [k, run] : kServed)
    if (cpl::kindIndex(k) < 0) return false;
  return true;
}
static_assert(everyServedKindIsInTheTable(), "a handler for a kind the kind table lacks");

}  // namespace

BlockHandler blockHandler(int kind) {
  const int i = cpl::kindIndex(kind);
  return i < 0 ? nullptr : kByKindIndex[static_cast<size_t>(i)];
}

}  // namespace callproc
