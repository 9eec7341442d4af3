#include "designer/chart/geometry.h"

#include <gtest/gtest.h>

namespace chart {
namespace {

using P = TMYPoint;
using L = Polyline;

TEST(Geometry, SegmentHitAtItsBoundaries) {
  struct Case {
    P a, b;
    int x, y;
    bool hit;
  };
  const Case cases[] = {
      // horizontal
      {{10, 10}, {30, 10}, 9, 10, true},    // near an end
      {{10, 10}, {30, 10}, 8, 10, false},   // 2 pixels off the end, outside the span
      {{10, 10}, {30, 10}, 20, 12, true},   // 2 pixels off the line
      {{10, 10}, {30, 10}, 20, 13, false},  // 3 pixels off
      {{10, 10}, {30, 10}, 30, 12, false},  // the span is open at the end
      {{10, 10}, {30, 10}, 29, 12, true},
      {{0, 0}, {40, 1}, 20, 2, true},  // 1 pixel of slope still counts as horizontal
      // vertical
      {{10, 10}, {10, 40}, 12, 25, true},
      {{10, 10}, {10, 40}, 13, 25, false},
      {{10, 10}, {10, 40}, 11, 40, true},
      {{10, 10}, {10, 40}, 12, 40, false},
      // slanted: 50 pixels long
      {{0, 0}, {40, 30}, 20, 15, true},
      {{0, 0}, {40, 30}, 20, 19, true},   // 3.2 pixels from the line
      {{0, 0}, {40, 30}, 20, 20, false},  // exactly 4
      {{0, 0}, {40, 30}, 44, 33, false},  // on the line, beyond the box
      {{0, 0}, {40, 30}, 41, 31, true},   // but within 2 of the end
  };
  for (const Case& c : cases)
    EXPECT_EQ(segmentHit(c.a, c.b, c.x, c.y), c.hit)
        << c.a.x << "," << c.a.y << "-" << c.b.x << "," << c.b.y << " at " << c.x << "," << c.y;
}

TEST(Geometry, Simplify) {
  struct Case {
    L in, out;
  };
  const Case cases[] = {
      {{{0, 0}, {0, 10}, {0, 20}}, {{0, 0}, {0, 20}}},
      {{{0, 0}, {0, 10}, {2, 20}}, {{0, 0}, {2, 20}}},  // within 2 pixels
      {{{0, 0}, {0, 10}, {3, 20}}, {{0, 0}, {0, 10}, {3, 20}}},
      {{{0, 0}, {0, 10}, {10, 10}, {20, 10}, {20, 20}}, {{0, 0}, {0, 10}, {20, 10}, {20, 20}}},
      {{{0, 0}, {0, 5}, {0, 10}, {0, 15}}, {{0, 0}, {0, 15}}},  // repeats
      {{{0, 0}, {5, 5}}, {{0, 0}, {5, 5}}},
  };
  for (const Case& c : cases) {
    L p = c.in;
    simplify(p);
    EXPECT_EQ(p, c.out) << c.in.size();
  }
}

TEST(Geometry, RightAngleRouteProposals) {
  const P from{100, 100};
  struct Case {
    const char* what;
    std::optional<P> port;
    P mouse;
    L route;
  };
  const Case cases[] = {
      {"below, aside", P{200, 301}, {203, 298}, {{100, 100}, {100, 200}, {200, 200}, {200, 298}}},
      {"straight below", P{100, 300}, {103, 298}, {{100, 100}, {100, 300}}},
      {"above, far right",
       P{300, 50},
       {0, 0},
       {{100, 100}, {100, 140}, {230, 140}, {230, 10}, {300, 10}, {300, 50}}},
      {"level, far right",
       P{181, 100},
       {0, 0},
       {{100, 100}, {100, 140}, {171, 140}, {171, 60}, {181, 60}, {181, 100}}},
      {"above, far left (truncating)",
       P{19, 50},
       {0, 0},
       {{100, 100}, {100, 140}, {89, 140}, {89, 10}, {19, 10}, {19, 50}}},
      {"above, near right",
       P{180, 50},
       {0, 0},
       {{100, 100}, {100, 140}, {300, 140}, {300, 10}, {180, 10}, {180, 50}}},
      {"above, near left",
       P{20, 50},
       {0, 0},
       {{100, 100}, {100, 140}, {-20, 140}, {-20, 10}, {20, 10}, {20, 50}}},
      {"above, straight",
       P{100, 50},
       {0, 0},
       {{100, 100}, {100, 140}, {-20, 140}, {-20, 10}, {100, 10}, {100, 50}}},
      {"level, near", P{150, 100}, {150, 96}, {{100, 100}, {100, 96}, {150, 96}}},
      {"level, far left", P{10, 100}, {10, 96}, {{100, 100}, {100, 96}, {10, 96}}},
      {"no port", std::nullopt, {150, 160}, {{100, 100}, {100, 160}, {150, 160}}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(proposeRoute(from, c.mouse, c.port), c.route) << c.what;
}

TEST(Geometry, HandlesOfASelectedConnection) {
  const L p{{0, 0}, {0, 40}, {40, 40}, {40, 80}, {80, 80}, {80, 120}};
  struct Case {
    int x, y;
    std::optional<Handle> handle;
    int index;
  };
  const Case cases[] = {
      {2, -3, Handle::kFirstPoint, 0},
      {79, 118, Handle::kLastPoint, 5},
      {3, 43, Handle::kSecondPoint, 1},
      {80, 80, Handle::kSecondToLastPoint, 4},
      {40, 40, Handle::kInnerPoint, 2},
      {40, 80, Handle::kInnerPoint, 3},
      {0, 20, Handle::kFirstSegment, 0},
      {80, 100, Handle::kLastSegment, 4},
      {20, 40, Handle::kInnerSegment, 1},
      {40, 60, Handle::kInnerSegment, 2},
      {60, 80, Handle::kInnerSegment, 3},
      {20, 20, std::nullopt, 0},
      {4, 0, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    auto h = handleAt(p, c.x, c.y);
    ASSERT_EQ(h.has_value(), c.handle.has_value()) << c.x << "," << c.y;
    if (!h) continue;
    EXPECT_EQ(h->handle, *c.handle) << c.x << "," << c.y;
    EXPECT_EQ(h->index, c.index) << c.x << "," << c.y;
  }
  EXPECT_EQ(handleAt({{0, 0}, {0, 40}, {40, 40}}, 0, 40)->handle, Handle::kSecondPoint);
  EXPECT_FALSE(handleAt({{0, 0}}, 0, 0));
}

TEST(Geometry, ReshapeReleaseRules) {
  const L down{{100, 132}, {100, 200}, {300, 200}, {300, 294}};
  const L stairs{{0, 0}, {0, 40}, {40, 40}, {40, 80}, {80, 80}, {80, 120}};
  struct Case {
    const char* what;
    L in;
    HandleHit hit;
    P mouse;
    L out;
  };
  const Case cases[] = {
      {"first segment of two points",
       {{100, 132}, {100, 300}},
       {Handle::kFirstSegment, 0},
       {150, 200},
       {{100, 132}, {100, 142}, {150, 142}, {150, 290}, {100, 290}, {100, 300}}},
      {"first segment, detour",
       down,
       {Handle::kFirstSegment, 0},
       {60, 160},
       {{100, 132}, {100, 142}, {60, 142}, {60, 200}, {300, 200}, {300, 294}}},
      {"first segment, mouse on it", down, {Handle::kFirstSegment, 0}, {101, 160}, down},
      {"inner horizontal segment",
       down,
       {Handle::kInnerSegment, 1},
       {200, 250},
       {{100, 132}, {100, 250}, {300, 250}, {300, 294}}},
      {"inner vertical segment",
       stairs,
       {Handle::kInnerSegment, 2},
       {55, 70},
       {{0, 0}, {0, 40}, {55, 40}, {55, 80}, {80, 80}, {80, 120}}},
      {"inner point",
       stairs,
       {Handle::kInnerPoint, 2},
       {50, 30},
       {{0, 0}, {0, 30}, {50, 30}, {50, 80}, {80, 80}, {80, 120}}},
      {"last vertical segment",
       down,
       {Handle::kLastSegment, 2},
       {350, 250},
       {{100, 132}, {100, 200}, {350, 200}, {350, 284}, {300, 284}, {300, 294}}},
      {"last horizontal segment",
       {{0, 0}, {0, 50}, {100, 50}},
       {Handle::kLastSegment, 1},
       {50, 70},
       {{0, 0}, {0, 70}, {100, 70}, {100, 50}}},
      {"second point",
       down,
       {Handle::kSecondPoint, 1},
       {150, 250},
       {{100, 132}, {100, 250}, {300, 250}, {300, 294}}},
      {"second point of three",
       {{0, 0}, {0, 50}, {100, 50}},
       {Handle::kSecondPoint, 1},
       {40, 80},
       {{0, 0}, {0, 80}, {100, 80}, {100, 50}}},
      {"second-to-last point",
       stairs,
       {Handle::kSecondToLastPoint, 4},
       {90, 60},
       {{0, 0}, {0, 40}, {40, 40}, {40, 60}, {80, 60}, {80, 120}}},
      {"first point stays", down, {Handle::kFirstPoint, 0}, {0, 0}, down},
      {"last point stays", down, {Handle::kLastPoint, 3}, {0, 0}, down},
  };
  for (const Case& c : cases) {
    const L out = reshape(c.in, c.hit, c.mouse);
    EXPECT_EQ(out, c.out) << c.what;
    EXPECT_EQ(out.front(), c.in.front()) << c.what;
    EXPECT_EQ(out.back(), c.in.back()) << c.what;
  }
}

}  // namespace
}  // namespace chart
