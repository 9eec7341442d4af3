// Loads arbitrary bytes as a project file and checks what the reader
// promises: nothing outside the bytes is read, every connection it keeps
// names blocks and an exit that exist, a loaded chart saves and loads back
// to the same bytes, the writer compiles whatever was loaded, and the
// flow checks name only blocks that exist.
#include <cstdlib>
#include <span>

#include "designer/chart/flow_check.h"
#include "designer/chart/flow_writer.h"
#include "designer/chart/project_file.h"

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  chart::Chart c;
  chart::loadProject(c, std::span(data, size), "fuzz.src");
  for (const chart::TConnect& k : c.connections()) {
    require(k.source >= 0 && k.source < c.blockCount());
    require(k.target >= 0 && k.target < c.blockCount());
    require(k.exit >= 0 && k.exit < static_cast<int>(c.block(k.source).exits.size()));
  }
  const std::vector<uint8_t> saved = chart::saveProject(c);
  chart::Chart again;
  require(chart::loadProject(again, saved, "again.src").ok());
  require(chart::saveProject(again) == saved);

  const chart::CompileOutcome out = chart::compileChart(c);
  require(out.ok == (out.failedBlock < 0));
  for (const chart::Finding& f : chart::checkFlow(c))
    require(f.block >= 0 && f.block < c.blockCount() && f.kind == c.block(f.block).kind);
  if (c.blockCount() > 0) {
    // Every edit can be undone back to the loaded bytes.
    c.deleteBlocks({c.blockCount() - 1});
    while (c.undo()) {
    }
    require(chart::saveProject(c) == saved);
  }
  return 0;
}
