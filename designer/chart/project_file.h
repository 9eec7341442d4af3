// The project file (".src"): a chart saved whole, so that the designer can
// open it again. All integers little-endian, texts GBK, in this order:
//
//   4        "1000"
//   4        int32 block count N
//   N blocks, each:
//     fixed kinds: the parameter record (its exit slots filled from the
//                  exits), then int32 left, int32 top
//     script (48): int16 48, int32 exit count n, n x (int32 target, int32
//                  name length L, L bytes of name), int32 script length T,
//                  T bytes of script, int32 left, int32 top
//   4        int32 connection count M
//   M connections, each: int32 point count P, int32 source block, int32
//            target block, int32 source exit, P x (int32 x, int32 y)
//   N        one enabled byte per block
//   N notes, each: int32 length L, L bytes
//
// The reader takes what a file holds as far as it goes: older files end
// before the notes, and a kind it does not know is skipped without a body.
// The drawn connections say where exits lead: a connection naming a missing
// block or exit, or a second one from an exit, is dropped, and a saved exit
// target without a drawn connection gets a straight one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "designer/chart/chart.h"
#include "platform/messagebox.h"

namespace chart {

inline constexpr std::string_view kBadFormat = "文件格式错误";  // after the file name

enum class LoadStatus {
  kOk,          // read to its end (a file without notes is complete)
  kCannotOpen,  // the file could not be read at all
  kBadMagic,    // not a project file; the chart is left empty
  kIncomplete,  // cut short or damaged; the chart holds what could be read
};

struct LoadResult {
  LoadStatus status = LoadStatus::kOk;
  std::string message;        // UTF-8, for a person; empty when kOk
  std::vector<int> selected;  // the blocks the canvas shows selected after loading
  int drawnForTargets = 0;    // straight connections drawn for saved targets without one
  bool ok() const { return status == LoadStatus::kOk; }
};

// The bytes of the project file of `chart`.
std::vector<uint8_t> saveProject(const Chart& chart);
// Writes the project file; on success the chart is no longer modified.
// False (errno set) when the file cannot be written.
bool saveProjectFile(Chart& chart, const std::string& path);

// Replaces the chart's blocks and connections by those of `bytes` (an empty
// chart for a wrong magic); the undo history is forgotten. `name`
// is the file name quoted in messages.
LoadResult loadProject(Chart& chart, std::span<const uint8_t> bytes, const std::string& name);
// Reads the file at `path`; the project takes its name. A wrong magic is
// also shown through `sink` (may be null), as the window shows it.
LoadResult loadProjectFile(Chart& chart, const std::string& path,
                           platform::MessageSink* sink = nullptr);

}  // namespace chart
