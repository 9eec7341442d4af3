#include "designer/chart/canvas_state.h"

#include <algorithm>

#include "designer/chart/geometry.h"

namespace chart {

bool CanvasState::isSelected(const Chart& c, int block) const {
  return block >= 0 && block < c.blockCount() && blocks_.count(c.block(block).id) > 0;
}

std::vector<int> CanvasState::selectedBlocks(const Chart& c) const {
  std::vector<int> out;
  for (int i = 0; i < c.blockCount(); ++i)
    if (blocks_.count(c.block(i).id)) out.push_back(i);
  return out;
}

void CanvasState::select(const Chart& c, int block, bool on) {
  if (block < 0 || block >= c.blockCount()) return;
  if (on)
    blocks_.insert(c.block(block).id);
  else
    blocks_.erase(c.block(block).id);
}

void CanvasState::selectAll(const Chart& c) {
  for (int i = 0; i < c.blockCount(); ++i)
    blocks_.insert(c.block(i).id);
}

int CanvasState::selectInside(const Chart& c, int x1, int y1, int x2, int y2) {
  const int left = std::min(x1, x2), right = std::max(x1, x2);
  const int top = std::min(y1, y2), bottom = std::max(y1, y2);
  blocks_.clear();
  for (int i = 0; i < c.blockCount(); ++i) {
    const GELE& b = c.block(i);
    if (left < b.left && b.left + kBlockWidth < right && top < b.top &&
        b.top + kBlockHeight < bottom)
      blocks_.insert(b.id);
  }
  return static_cast<int>(blocks_.size());
}

void CanvasState::setCurrent(const Chart& c, int block) {
  current_ = block >= 0 && block < c.blockCount() ? c.block(block).id : 0;
}

void CanvasState::selectConnection(const Chart& c, int index) {
  connection_ = index >= 0 && index < c.connectCount() ? c.connection(index).id : 0;
}

Hover CanvasState::hoverAt(const Chart& c, int x, int y) const {
  const int selected = selectedConnection(c);
  if (selected >= 0)
    if (auto h = handleAt(c.connection(selected).points, x, y))
      return {static_cast<int>(h->handle), -1, selected};
  if (const int k = c.findConnect(x, y, connection_); k >= 0) return {11, -1, k};
  for (int i = 0; i < c.blockCount(); ++i)
    if (c.block(i).hitTest(x, y) == kInputPort) return {9, i, -1};
  for (int i = 0; i < c.blockCount(); ++i)
    if (const int e = c.block(i).hitTest(x, y); e >= 0 && e < kInputPort) return {10, i, e};
  for (int i = 0; i < c.blockCount(); ++i)
    if (c.block(i).bodyContains(x, y)) return {8, i, -1};
  return {};
}

int CanvasState::placeWithTool(Chart& c, int x, int y) {
  const int kind = tool;
  tool = kSelectTool;
  if (kind == kSelectTool) return -1;
  const int b = c.addBlock(kind, x, y);
  if (b >= 0) {
    blocks_ = {c.block(b).id};
    current_ = c.block(b).id;
  }
  return b;
}

bool CanvasState::deleteSelection(Chart& c) {
  const Applied a = c.apply(cmd::Delete{selectedBlocks(c), selectedConnection(c)});
  connection_ = 0;
  // The start block, which stays, stays selected; the ids of the others are gone.
  std::erase_if(blocks_, [&](uint32_t id) { return c.blockIndexOf(id) < 0; });
  return a.ok;
}

bool CanvasState::moveSelection(Chart& c, int32_t dx, int32_t dy) {
  return c.apply(cmd::MoveBlocks{selectedBlocks(c), dx, dy}).ok;
}

int dropConnection(Chart& c, int source, int exit, int target, int hitCode, Polyline points) {
  if (exit >= kInputPort || hitCode != kInputPort) return -1;
  return c.connect(source, exit, target, std::move(points));
}

}  // namespace chart
