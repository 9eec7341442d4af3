// What the canvas keeps on top of the document: the tool, the selected
// blocks and connection, the block under the last click. None of it is
// saved or undone. Blocks and connections are held by their stable ids, so
// that an edit which renumbers the lists (a deletion, the exits of a script
// going away, an undo) can never leave the selection on another connection
// or on one that no longer exists.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "designer/chart/chart.h"

namespace chart {

// What lies under the mouse, as the canvas classifies it on every move:
// codes 0..7 are the handles of the selected connection (geometry.h,
// Handle), 11 another connection, 9 a block's input port, 10 a block's
// exit, 8 a block's body, -1 nothing.
struct Hover {
  int code = -1;
  int block = -1;  // the block, for 8..10
  int index = -1;  // the connection for 0..7 and 11; the exit for 10
};

class CanvasState {
 public:
  int tool = kSelectTool;

  // ---- blocks
  bool isSelected(const Chart& c, int block) const;
  std::vector<int> selectedBlocks(const Chart& c) const;  // ascending
  int selectedCount(const Chart& c) const { return static_cast<int>(selectedBlocks(c).size()); }
  void select(const Chart& c, int block, bool on = true);
  void selectAll(const Chart& c);
  void deselectAll() { blocks_.clear(); }
  // Rubber band from (x1, y1) to (x2, y2), corners in any order: selects
  // exactly the blocks lying strictly inside it; returns their number.
  int selectInside(const Chart& c, int x1, int y1, int x2, int y2);
  // The block under the last click, or -1.
  int current(const Chart& c) const { return c.blockIndexOf(current_); }
  void setCurrent(const Chart& c, int block);

  // ---- the one selected connection
  int selectedConnection(const Chart& c) const { return c.connectionIndexOf(connection_); }
  uint32_t selectedConnectionId() const { return connection_; }
  void selectConnection(const Chart& c, int index);  // -1: none
  void deselectConnection() { connection_ = 0; }

  // The hover code at (x, y).
  Hover hoverAt(const Chart& c, int x, int y) const;

  // A release with a block tool chosen places a block of that kind with its
  // corner at (x, y), makes it the current and only selected block, and
  // returns to the selection tool. Returns the new block's index, or -1.
  int placeWithTool(Chart& c, int x, int y);
  // The Delete key: the selected connection, then the selected blocks, in
  // one step. Returns whether anything went.
  bool deleteSelection(Chart& c);
  // The group of selected blocks moves by (dx, dy).
  bool moveSelection(Chart& c, int32_t dx, int32_t dy);

 private:
  std::set<uint32_t> blocks_;
  uint32_t connection_ = 0;
  uint32_t current_ = 0;
};

// The drop of a drag that began at exit `exit` of block `source` on the
// place whose hit code at block `target` is `hitCode`: a connection when the
// drag began on an exit and ended on a port. Returns its index or -1.
int dropConnection(Chart& c, int source, int exit, int target, int hitCode, Polyline points);

}  // namespace chart
