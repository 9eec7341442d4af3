#include "designer/chart/chart.h"

#include <algorithm>
#include <cstdlib>

#include "designer/chart/geometry.h"
#include "flowfile/cplwriter.h"
#include "platform/gbk.h"

namespace chart {

const std::string& defaultExitName() {
  static const std::string name = platform::utf8ToGbk("缺省出口");
  return name;
}
const std::string& hangupExitName() {
  static const std::string name = platform::utf8ToGbk("挂机出口");
  return name;
}

// ---- GELE --------------------------------------------------------------------

GELE::GELE(int k, int exitCount) : kind(k), image("CMD" + std::to_string(k)) {
  // All zero but the kind: the exit slots are filled from the exits when
  // the record is saved or compiled.
  if (const cpl::KindInfo* info = cpl::findKind(k); info && info->sectionSize > 0) {
    record.assign(info->sectionSize, 0);
    cpl::putI16(record, 0, static_cast<int16_t>(k));
  }
  for (int i = 0; i < exitCount; ++i) {
    exits.push_back(TMyOut{});
    exitImages.push_back(image + "_" + std::to_string(i));
  }
}

int GELE::hitTest(int x, int y, TMYPoint* anchor) const {
  for (int i = 0; i < static_cast<int>(exits.size()); ++i) {
    const int x0 = left + kExitPitch * i;
    if (x0 < x && x < x0 + kExitPitch && top + kBlockHeight < y &&
        y < top + kBlockHeight + kExitHeight) {
      if (anchor) *anchor = exitAnchor(i);
      return i;
    }
  }
  if (left < x && x < left + 12 && top - 12 < y && y < top) {
    if (anchor) *anchor = inputAnchor();
    return kInputPort;
  }
  return -1;
}

std::vector<uint8_t> GELE::recordWithExits() const {
  std::vector<uint8_t> r = record;
  for (int i = 0; i < static_cast<int>(exits.size()); ++i)
    cpl::setExit(r, i, exits[i].target);
  return r;
}

GCMD_DTC_SCRIPT::GCMD_DTC_SCRIPT() : GELE(cpl::kKindScript, 0) {
  exits = {TMyOut{defaultExitName(), NO_TARGET, 1}, TMyOut{hangupExitName(), NO_TARGET, 1}};
  exitImages = {"SCRIPT_DEFAULT", "SCRIPT_HOOK"};
}

int GCMD_DTC_SCRIPT::mergeExit(std::string_view name, int32_t target) {
  for (int i = 0; i < static_cast<int>(exits.size()); ++i) {
    if (exits[i].name != name) continue;
    if (name == defaultExitName()) exits[i].target = target;
    exits[i].used = 1;
    return i;
  }
  exits.push_back(TMyOut{std::string(name), target, 1});
  exitImages.push_back("SCRIPT_OUT");
  return static_cast<int>(exits.size()) - 1;
}

int32_t GCMD_DTC_SCRIPT::lookupExit(std::string_view name) const {
  for (const TMyOut& e : exits)
    if (e.name == name) return e.target;
  return NO_TARGET;
}

std::unique_ptr<GELE> createBlock(int kind) {
  switch (kind) {
    case cpl::kKindStart:
      return std::make_unique<GCMD_START>();
    case cpl::kKindCallSeat:
      return std::make_unique<GCMD_DTC_CALLSEAT>();
    case cpl::kKindPlayVoice:
      return std::make_unique<GCMD_DTC_PLAYVOC>();
    case cpl::kKindTalk:
      return std::make_unique<GCMD_DTC_TALK2>();
    case cpl::kKindInput:
      return std::make_unique<GCMD_DTC_INPUT>();
    case cpl::kKindDigit:
      return std::make_unique<GCMD_DTC_DIGIT>();
    case cpl::kKindCreateMeet:
      return std::make_unique<GCMD_DTC_CREATEMEET>();
    case cpl::kKindEnterMeet:
      return std::make_unique<GCMD_DTC_ENTERMEET>();
    case cpl::kKindMeetTalk:
      return std::make_unique<GCMD_DTC_MEETTALK>();
    case cpl::kKindScript:
      return std::make_unique<GCMD_DTC_SCRIPT>();
    case cpl::kKindCallExt:
      return std::make_unique<GCMD_DTC_CALLEXT>();
    case cpl::kKindCallOut:
      return std::make_unique<GCMD_DTC_CALLOUT>();
    case cpl::kKindRecord:
      return std::make_unique<GCMD_DTC_RECORD>();
    case cpl::kKindPlayTts:
      return std::make_unique<GCMD_DTC_PLAYTTS>();
    case cpl::kKindCycPlay:
      return std::make_unique<GCMD_DTC_CYCPLAY>();
    default:
      return nullptr;
  }
}

// ---- Chart -------------------------------------------------------------------

Chart::Chart() {
  reset();
}

void Chart::clear() {
  blocks.clear();
  connects.clear();
  current = -1;
  selectedConnect = -1;
  selectedCount = 0;
}

void Chart::reset() {
  clear();
  addBlock(cpl::kKindStart, kStartLeft, kStartTop);
  fileName = kUntitled;
  modified = false;
  tool = kSelectTool;
}

void Chart::show(std::string_view text) {
  if (sink_) sink_->show(kEditorCaption, text);
}

int Chart::addBlock(int kind, int32_t left, int32_t top) {
  if (kind == cpl::kKindStart)
    for (const auto& b : blocks)
      if (b->kind == cpl::kKindStart) return -1;
  std::unique_ptr<GELE> b = createBlock(kind);
  if (!b) return -1;
  b->move(left, top);
  deselectAll();
  const int i = appendBlock(std::move(b));
  selectedCount = 1;
  return i;
}

int Chart::appendBlock(std::unique_ptr<GELE> b) {
  blocks.push_back(std::move(b));
  return blockCount() - 1;
}

int Chart::findBlock(int x, int y) const {
  for (int i = 0; i < blockCount(); ++i)
    if (blocks[i]->bodyContains(x, y)) return i;
  for (int i = 0; i < blockCount(); ++i)
    if (blocks[i]->hitTest(x, y) != -1) return i;
  return -1;
}

int Chart::findConnect(int x, int y) const {
  for (int i = 0; i < static_cast<int>(connects.size()); ++i) {
    const TConnect& c = connects[i];
    if (c.selected) continue;
    const auto& p = c.points;
    for (size_t k = 1; k + 1 < p.size(); ++k)
      if (std::abs(p[k].x - x) <= 4 && std::abs(p[k].y - y) <= 4) return i;
    for (size_t k = 0; k + 1 < p.size(); ++k)
      if (segmentHit(p[k], p[k + 1], x, y)) return i;
  }
  return -1;
}

Hover Chart::hoverAt(int x, int y) const {
  if (selectedConnect >= 0 && selectedConnect < static_cast<int>(connects.size()))
    if (auto h = handleAt(connects[selectedConnect].points, x, y))
      return {static_cast<int>(h->handle), -1, selectedConnect};
  if (const int k = findConnect(x, y); k >= 0) return {11, -1, k};
  for (int i = 0; i < blockCount(); ++i)
    if (blocks[i]->hitTest(x, y) == kInputPort) return {9, i, -1};
  for (int i = 0; i < blockCount(); ++i)
    if (const int e = blocks[i]->hitTest(x, y); e >= 0 && e < kInputPort) return {10, i, e};
  for (int i = 0; i < blockCount(); ++i)
    if (blocks[i]->bodyContains(x, y)) return {8, i, -1};
  return {};
}

int Chart::placeWithTool(int x, int y) {
  const int kind = tool;
  tool = kSelectTool;
  if (kind == kSelectTool) return -1;
  const int b = addBlock(kind, x, y);
  if (b >= 0) {
    current = b;
    modified = true;
  }
  return b;
}

int Chart::connectFrom(int source, int exit) const {
  for (int i = 0; i < static_cast<int>(connects.size()); ++i)
    if (connects[i].source == source && connects[i].exit == exit) return i;
  return -1;
}

int Chart::connect(int source, int exit, int target, std::vector<TMYPoint> points) {
  if (source < 0 || source >= blockCount() || target < 0 || target >= blockCount()) return -1;
  GELE& from = block(source);
  if (exit < 0 || exit >= static_cast<int>(from.exits.size())) return -1;
  if (source == target && from.kind == cpl::kKindStart) return -1;
  // An exit has a single target: a second drawn line from it would leave a
  // connection on the canvas that the compiled flow does not follow.
  if (connectFrom(source, exit) >= 0) return -1;
  // The ends sit on the exit and the port whatever the drag ended on.
  if (points.size() < 2) points = {from.exitAnchor(exit), block(target).inputAnchor()};
  points.front() = from.exitAnchor(exit);
  points.back() = block(target).inputAnchor();
  from.exits[exit].target = target;
  connects.push_back(TConnect{std::move(points), source, exit, target, 0});
  modified = true;
  return static_cast<int>(connects.size()) - 1;
}

int Chart::dropConnection(int source, int exit, int target, int hitCode,
                          std::vector<TMYPoint> points) {
  if (exit >= kInputPort || hitCode != kInputPort) return -1;
  return connect(source, exit, target, std::move(points));
}

void Chart::reanchorBlock(int i, bool skipBothSelected) {
  const GELE& b = block(i);
  for (TConnect& c : connects) {
    auto& p = c.points;
    if (p.empty()) continue;
    if (skipBothSelected && isSelected(c.source) && isSelected(c.target)) continue;
    if (c.source == i && c.exit >= 0 && c.exit < static_cast<int>(b.exits.size())) {
      const TMYPoint old = p.front();
      p.front() = b.exitAnchor(c.exit);
      if (p.size() > 2) {
        if (p[1].x == old.x)
          p[1].x = p.front().x;
        else if (p[1].y == old.y)
          p[1].y = p.front().y;
      }
    }
    if (c.target == i) {
      const size_t n = p.size();
      const TMYPoint old = p.back();
      p.back() = b.inputAnchor();
      if (n > 2) {
        if (p[n - 2].x == old.x)
          p[n - 2].x = p.back().x;
        else if (p[n - 2].y == old.y)
          p[n - 2].y = p.back().y;
      }
    }
  }
}

bool Chart::isSelected(int i) const {
  return i >= 0 && i < blockCount() && block(i).selected;
}

void Chart::moveBlock(int i, int32_t left, int32_t top) {
  if (i < 0 || i >= blockCount()) return;
  block(i).move(left, top);
  reanchorBlock(i, false);
  modified = true;
}

void Chart::moveSelected(int32_t dx, int32_t dy) {
  for (auto& b : blocks)
    if (b->selected) b->move(b->left + dx, b->top + dy);
  for (TConnect& c : connects) {
    if (!isSelected(c.source) || !isSelected(c.target)) continue;
    // Both ends moved: every inner point moves down by dy, and across by dx
    // except the two next to the ends, which take their x from the
    // re-anchored ends when their segment is upright.
    auto& p = c.points;
    const size_t n = p.size();
    if (n < 2) continue;
    const bool firstUpright = n > 2 && p[1].x == p[0].x;
    const bool lastUpright = n > 2 && p[n - 2].x == p[n - 1].x;
    for (size_t k = 1; k + 1 < n; ++k) {
      p[k].y += dy;
      p[k].x += dx;
    }
    const GELE& from = block(c.source);
    if (c.exit >= 0 && c.exit < static_cast<int>(from.exits.size()))
      p.front() = from.exitAnchor(c.exit);
    p.back() = block(c.target).inputAnchor();
    if (firstUpright) p[1].x = p[0].x;
    if (lastUpright) p[n - 2].x = p[n - 1].x;
  }
  for (int i = 0; i < blockCount(); ++i)
    if (block(i).selected) reanchorBlock(i, true);
  modified = true;
}

bool Chart::deleteBlock(int a) {
  if (a < 0 || a >= blockCount()) return false;
  if (block(a).kind == cpl::kKindStart) {
    show(kCannotDeleteStart);
    return false;
  }
  for (auto& b : blocks)
    for (TMyOut& e : b->exits) {
      if (e.target == a)
        e.target = NO_TARGET;
      else if (e.target > a && e.target < NO_TARGET)
        --e.target;
    }
  std::erase_if(connects, [a](const TConnect& c) { return c.source == a || c.target == a; });
  for (TConnect& c : connects) {
    if (c.source > a) --c.source;
    if (c.target > a) --c.target;
  }
  blocks.erase(blocks.begin() + a);
  if (current == a)
    current = -1;
  else if (current > a)
    --current;
  selectedConnect = -1;
  modified = true;
  return true;
}

int Chart::deleteSelectedBlocks() {
  std::vector<int> chosen;
  for (int i = 0; i < blockCount(); ++i)
    if (block(i).selected) chosen.push_back(i);
  int deleted = 0;
  for (int i : chosen)
    if (deleteBlock(i - deleted)) ++deleted;
  selectedCount = countSelected();
  return deleted;
}

bool Chart::deleteConnect(int i) {
  if (i < 0 || i >= static_cast<int>(connects.size())) return false;
  const TConnect& c = connects[i];
  if (c.source >= 0 && c.source < blockCount()) {
    auto& exits = block(c.source).exits;
    if (c.exit >= 0 && c.exit < static_cast<int>(exits.size()) && exits[c.exit].target == c.target)
      exits[c.exit].target = NO_TARGET;
  }
  connects.erase(connects.begin() + i);
  selectedConnect = -1;
  modified = true;
  return true;
}

void Chart::setScriptExits(int b, const std::vector<std::string>& names) {
  if (b < 0 || b >= blockCount() || !block(b).isScript()) return;
  auto& s = static_cast<GCMD_DTC_SCRIPT&>(block(b));
  for (size_t i = 0; i < s.exits.size(); ++i)
    s.exits[i].used = i < 2 ? 1 : 0;
  for (const std::string& name : names)
    s.mergeExit(name, NO_TARGET);

  // Connections of exits that went out of use (or lead nowhere) go first;
  // then the unused exits, with every later exit index lowered to match.
  std::erase_if(connects, [&](const TConnect& c) {
    if (c.source != b) return false;
    if (c.exit < 0 || c.exit >= static_cast<int>(s.exits.size())) return true;
    const TMyOut& e = s.exits[c.exit];
    return !e.used || e.target == NO_TARGET;
  });
  std::vector<int> newIndex(s.exits.size(), -1);
  int kept = 0;
  for (size_t i = 0; i < s.exits.size(); ++i)
    if (s.exits[i].used) newIndex[i] = kept++;
  std::vector<TMyOut> exits;
  std::vector<std::string> images;
  for (size_t i = 0; i < s.exits.size(); ++i)
    if (s.exits[i].used) {
      exits.push_back(std::move(s.exits[i]));
      images.push_back(std::move(s.exitImages[i]));
    }
  s.exits = std::move(exits);
  s.exitImages = std::move(images);

  for (TConnect& c : connects) {
    if (c.source != b) continue;
    c.exit = newIndex[c.exit];
    auto& p = c.points;
    if (p.empty()) continue;
    const TMYPoint old = p.front();
    p.front() = s.exitAnchor(c.exit);
    if (p.size() == 2 && p.front().y != p.back().y) {
      const int32_t mid = (p.front().y + p.back().y) / 2;
      p.insert(p.begin() + 1, {TMYPoint{p.front().x, mid}, TMYPoint{p.back().x, mid}});
    } else if (p.size() > 2 && p[1].x == old.x) {
      p[1].x = p.front().x;  // the first segment stays upright
    }
  }
  if (selectedConnect >= static_cast<int>(connects.size())) selectedConnect = -1;
  modified = true;
}

int Chart::selectInside(int x1, int y1, int x2, int y2) {
  const int left = std::min(x1, x2), right = std::max(x1, x2);
  const int top = std::min(y1, y2), bottom = std::max(y1, y2);
  for (auto& b : blocks)
    b->selected = left < b->left && b->left + kBlockWidth < right && top < b->top &&
                          b->top + kBlockHeight < bottom
                      ? 1
                      : 0;
  selectedCount = countSelected();
  return selectedCount;
}

void Chart::selectAll() {
  for (auto& b : blocks)
    b->selected = 1;
  selectedCount = blockCount();
}

void Chart::deselectAll() {
  for (auto& b : blocks)
    b->selected = 0;
  selectedCount = 0;
}

int Chart::countSelected() const {
  int n = 0;
  for (const auto& b : blocks)
    n += b->selected ? 1 : 0;
  return n;
}

}  // namespace chart
