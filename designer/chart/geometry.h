// The geometry of connections: hit tests, simplification, the right-angle
// routes proposed while a connection is drawn, and the reshaping of a
// selected connection. Plain functions of points, so that the canvas only
// turns mouse events into calls.
#pragma once

#include <optional>
#include <vector>

#include "designer/chart/chart.h"

namespace chart {

// Whether (x, y) selects the segment p1-p2: within 2 pixels of an end; for a
// slanted segment, less than 4 pixels from its line inside its bounding box;
// for a horizontal or vertical one, strictly inside its span and less than
// 3 pixels off it.
bool segmentHit(TMYPoint p1, TMYPoint p2, int x, int y);

// Drops the middle point of every three consecutive points that lie on one
// horizontal or vertical line (within 2 pixels), until none is left.
void simplify(Polyline& points);

// The right-angle route from the exit anchor `from` with the mouse at
// `mouse`; `port` is the anchor of the input port under the mouse when it is
// over another block's port.
Polyline proposeRoute(TMYPoint from, TMYPoint mouse, std::optional<TMYPoint> port);

// What part of a selected connection lies under the mouse.
enum class Handle {
  kInnerPoint = 0,
  kSecondPoint = 1,
  kFirstSegment = 2,
  kFirstPoint = 3,
  kLastPoint = 4,
  kLastSegment = 5,
  kInnerSegment = 6,
  kSecondToLastPoint = 7,
};
struct HandleHit {
  Handle handle;
  int index;  // the point, or the first point of the segment
};
// The handle of `points` at (x, y): points within 3 pixels in both axes,
// then segment middles likewise; nullopt when none.
std::optional<HandleHit> handleAt(const Polyline& points, int x, int y);

// A segment counts as horizontal when its ends differ by more than 1 pixel
// in x and by less than 2 in y.
bool isHorizontal(TMYPoint a, TMYPoint b);

// The polyline after the handle `hit` was dragged to `mouse` and released.
// The end points never move; the result is simplified and stays orthogonal
// where the input was.
Polyline reshape(const Polyline& points, HandleHit hit, TMYPoint mouse);

}  // namespace chart
