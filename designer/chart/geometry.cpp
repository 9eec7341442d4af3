#include "designer/chart/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace chart {

bool segmentHit(TMYPoint p1, TMYPoint p2, int x, int y) {
  auto nearEnd = [&](TMYPoint p) { return std::abs(x - p.x) < 2 && std::abs(y - p.y) < 2; };
  if (nearEnd(p1) || nearEnd(p2)) return true;
  const int dx = p2.x - p1.x, dy = p2.y - p1.y;
  if (std::abs(dx) > 1 && std::abs(dy) > 1) {
    // |P2 -> point| times the sine of the angle at P2 is the cross product
    // over the segment's length.
    const double cross = static_cast<double>(p1.x - p2.x) * (y - p2.y) -
                         static_cast<double>(p1.y - p2.y) * (x - p2.x);
    if (std::abs(cross) / std::hypot(dx, dy) >= 4) return false;
    return std::min(p1.x, p2.x) <= x && x <= std::max(p1.x, p2.x) && std::min(p1.y, p2.y) <= y &&
           y <= std::max(p1.y, p2.y);
  }
  if (std::abs(dy) <= 1)
    return std::min(p1.x, p2.x) < x && x < std::max(p1.x, p2.x) && std::abs(y - p1.y) < 3;
  return std::min(p1.y, p2.y) < y && y < std::max(p1.y, p2.y) && std::abs(x - p1.x) < 3;
}

namespace {

bool onOneLine(TMYPoint a, TMYPoint b, TMYPoint c) {
  auto span = [](int u, int v, int w) { return std::max({u, v, w}) - std::min({u, v, w}); };
  return span(a.y, b.y, c.y) <= 2 || span(a.x, b.x, c.x) <= 2;
}

bool near(TMYPoint p, int x, int y) {
  return std::abs(p.x - x) <= 3 && std::abs(p.y - y) <= 3;
}

TMYPoint middle(TMYPoint a, TMYPoint b) {
  return {(a.x + b.x) / 2, (a.y + b.y) / 2};
}

// Moves inner point k to `to` and lets the point after it on side `step`
// (+1 or -1) follow along the axis that keeps their segment straight.
void follow(Polyline& p, size_t k, int step, TMYPoint to) {
  const size_t j = k + step;
  if (p[j].x == p[k].x)
    p[j].x = to.x;
  else if (p[j].y == p[k].y)
    p[j].y = to.y;
}

}  // namespace

void simplify(Polyline& points) {
  bool changed = true;
  while (changed) {
    changed = false;
    for (size_t i = 0; i + 2 < points.size(); ++i)
      if (onOneLine(points[i], points[i + 1], points[i + 2])) {
        points.erase(points.begin() + static_cast<long>(i) + 1);
        changed = true;
        break;
      }
  }
}

bool isHorizontal(TMYPoint a, TMYPoint b) {
  return std::abs(a.x - b.x) > 1 && std::abs(a.y - b.y) < 2;
}

Polyline proposeRoute(TMYPoint from, TMYPoint mouse, std::optional<TMYPoint> port) {
  const int x0 = from.x, y0 = from.y;
  if (port) {
    const int tx = port->x, ty = port->y;
    if (ty > y0 && tx != x0) {
      const int h = y0 + (ty - y0) / 2;
      return {{x0, y0}, {x0, h}, {tx, h}, {tx, mouse.y}};
    }
    if (ty > y0) return {{x0, y0}, {tx, ty}};
    auto around = [&](int m) -> Polyline {
      return {{x0, y0}, {x0, y0 + 40}, {m, y0 + 40}, {m, ty - 40}, {tx, ty - 40}, {tx, ty}};
    };
    if ((ty <= y0 && tx - x0 > 80) || (ty < y0 && x0 - tx > 80))
      return around(tx - (tx - x0 - 80) / 2 - 10);
    if (ty < y0 && 1 <= tx - x0 && tx - x0 <= 80) return around(x0 + 200);
    if (ty < y0 && 0 <= x0 - tx && x0 - tx <= 80) return around(x0 - 120);
  }
  return {{x0, y0}, {x0, mouse.y}, {mouse.x, mouse.y}};
}

std::optional<HandleHit> handleAt(const Polyline& p, int x, int y) {
  const int n = static_cast<int>(p.size());
  if (n < 2) return std::nullopt;
  if (near(p[0], x, y)) return HandleHit{Handle::kFirstPoint, 0};
  if (near(p[n - 1], x, y)) return HandleHit{Handle::kLastPoint, n - 1};
  if (n > 2) {
    if (near(p[1], x, y)) return HandleHit{Handle::kSecondPoint, 1};
    if (near(p[n - 2], x, y)) return HandleHit{Handle::kSecondToLastPoint, n - 2};
  }
  for (int k = 2; k < n - 2; ++k)
    if (near(p[k], x, y)) return HandleHit{Handle::kInnerPoint, k};
  if (near(middle(p[0], p[1]), x, y)) return HandleHit{Handle::kFirstSegment, 0};
  if (near(middle(p[n - 2], p[n - 1]), x, y)) return HandleHit{Handle::kLastSegment, n - 2};
  for (int k = 1; k < n - 2; ++k)
    if (near(middle(p[k], p[k + 1]), x, y)) return HandleHit{Handle::kInnerSegment, k};
  return std::nullopt;
}

Polyline reshape(const Polyline& points, HandleHit hit, TMYPoint m) {
  Polyline p = points;
  const size_t n = p.size();
  if (n < 2) return p;
  const size_t k = static_cast<size_t>(std::max(0, hit.index));
  const TMYPoint first = p.front(), last = p.back();
  Handle h = hit.handle;
  if (h == Handle::kLastSegment && n == 2) h = Handle::kFirstSegment;
  if (h == Handle::kSecondToLastPoint && n == 3) h = Handle::kSecondPoint;

  switch (h) {
    case Handle::kFirstPoint:
    case Handle::kLastPoint:
      return p;  // fixed to the exit and the port

    case Handle::kInnerPoint:
      if (k < 2 || k + 2 >= n) return p;
      follow(p, k, -1, m);
      follow(p, k, +1, m);
      p[k] = m;
      break;

    case Handle::kInnerSegment:
      if (k < 1 || k + 2 >= n) return p;
      if (isHorizontal(p[k], p[k + 1])) {
        p[k].y = p[k + 1].y = m.y;
      } else {
        p[k].x = p[k + 1].x = m.x;
      }
      break;

    case Handle::kFirstSegment:
      if (n == 2) {
        p = {first,
             {first.x, first.y + 10},
             {m.x, first.y + 10},
             {m.x, last.y - 10},
             {last.x, last.y - 10},
             last};
      } else if (!isHorizontal(p[0], p[1])) {
        if (std::abs(m.x - first.x) <= 1) return p;
        p[1].x = m.x;  // the next segment is horizontal and stays so
        p.insert(p.begin() + 1, {TMYPoint{first.x, first.y + 10}, TMYPoint{m.x, first.y + 10}});
      } else {
        if (std::abs(m.y - first.y) <= 1) return p;
        p.insert(p.begin() + 1, {TMYPoint{first.x, m.y}, TMYPoint{p[1].x, m.y}});
      }
      break;

    case Handle::kLastSegment: {
      const size_t j = n - 2;  // an inner point, since n > 2 here
      if (!isHorizontal(p[j], last)) {
        if (std::abs(m.x - last.x) <= 1) return p;
        p[j].x = m.x;
        p.insert(p.end() - 1, {TMYPoint{m.x, last.y - 10}, TMYPoint{last.x, last.y - 10}});
      } else {
        p[j].y = m.y;
        p.insert(p.end() - 1, TMYPoint{last.x, m.y});
      }
      break;
    }

    case Handle::kSecondPoint: {
      Polyline out{first};
      if (m.x != first.x && m.y != first.y) out.push_back({first.x, m.y});
      out.push_back(m);
      if (n == 3) {
        if (m.x != last.x && m.y != last.y) out.push_back({last.x, m.y});
      } else {
        follow(p, 1, +1, m);
      }
      out.insert(out.end(), p.begin() + 2, p.end());
      p = std::move(out);
      break;
    }

    case Handle::kSecondToLastPoint: {
      const size_t j = n - 2;
      follow(p, j, -1, m);
      Polyline out(p.begin(), p.begin() + static_cast<long>(j));
      out.push_back(m);
      if (m.x != last.x && m.y != last.y) out.push_back({last.x, m.y});
      out.push_back(last);
      p = std::move(out);
      break;
    }
  }
  simplify(p);
  return p;
}

}  // namespace chart
