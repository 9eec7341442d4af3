#include "designer/chart/chart.h"

#include <algorithm>
#include <cstdlib>

#include "designer/chart/geometry.h"
#include "flowfile/cplwriter.h"
#include "platform/gbk.h"

namespace chart {

namespace {

// Undo keeps this many steps; older ones are forgotten first.
constexpr size_t kMaxSteps = 500;

template <class... F>
struct Overload : F... {
  using F::operator()...;
};
// Spelled out for compilers without deduction for aggregates (clang 14).
template <class... F>
Overload(F...) -> Overload<F...>;

}  // namespace

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
  // All zero but the kind: the exit slots are filled from the connections
  // when the record is saved or compiled.
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
  for (int i = 0; i < exitCount(); ++i) {
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

GCMD_DTC_SCRIPT::GCMD_DTC_SCRIPT() : GELE(cpl::kKindScript, 0) {
  exits = {TMyOut{defaultExitName(), 1}, TMyOut{hangupExitName(), 1}};
  exitImages = {"SCRIPT_DEFAULT", "SCRIPT_HOOK"};
}

int GCMD_DTC_SCRIPT::mergeExit(std::string_view name, bool* appended) {
  if (appended) *appended = false;
  if (const int i = findExit(name); i >= 0) {
    exits[i].used = 1;
    return i;
  }
  exits.push_back(TMyOut{std::string(name), 1});
  exitImages.push_back("SCRIPT_OUT");
  if (appended) *appended = true;
  return exitCount() - 1;
}

int GCMD_DTC_SCRIPT::findExit(std::string_view name) const {
  for (int i = 0; i < exitCount(); ++i)
    if (exits[i].name == name) return i;
  return -1;
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

std::unique_ptr<GELE> cloneBlock(const GELE& b) {
  std::unique_ptr<GELE> c = createBlock(b.kind);
  static_cast<GELE&>(*c) = b;
  if (b.isScript())
    static_cast<GCMD_DTC_SCRIPT&>(*c).script = static_cast<const GCMD_DTC_SCRIPT&>(b).script;
  return c;
}

std::vector<uint8_t> recordWithExits(const GELE& b, const std::vector<int32_t>& targets) {
  std::vector<uint8_t> r = b.record;
  if (r.size() >= 2) cpl::putI16(r, 0, static_cast<int16_t>(b.kind));
  for (int i = 0; i < static_cast<int>(targets.size()); ++i)
    cpl::setExit(r, i, targets[i]);
  return r;
}

// ---- Chart: reading ----------------------------------------------------------

Chart::Chart() {
  reset();
}

void Chart::addObserver(ChartObserver* o) {
  if (o && std::find(observers_.begin(), observers_.end(), o) == observers_.end())
    observers_.push_back(o);
}

void Chart::removeObserver(ChartObserver* o) {
  std::erase(observers_, o);
}

int Chart::blockIndexOf(uint32_t id) const {
  for (int i = 0; i < blockCount(); ++i)
    if (id != 0 && block(i).id == id) return i;
  return -1;
}

int Chart::connectionIndexOf(uint32_t id) const {
  for (int i = 0; i < connectCount(); ++i)
    if (id != 0 && doc_.connects[i].id == id) return i;
  return -1;
}

int Chart::connectFrom(int source, int exit) const {
  for (int i = 0; i < connectCount(); ++i)
    if (doc_.connects[i].source == source && doc_.connects[i].exit == exit) return i;
  return -1;
}

int32_t Chart::exitTarget(int source, int exit) const {
  const int k = connectFrom(source, exit);
  return k < 0 ? NO_TARGET : doc_.connects[k].target;
}

std::vector<int32_t> Chart::exitTargets(int source) const {
  std::vector<int32_t> t;
  if (!validBlock(source)) return t;
  for (int e = 0; e < block(source).exitCount(); ++e)
    t.push_back(exitTarget(source, e));
  return t;
}

int32_t Chart::lookupExit(int b, std::string_view name) const {
  if (!validBlock(b)) return NO_TARGET;
  const auto& exits = block(b).exits;
  for (int i = 0; i < static_cast<int>(exits.size()); ++i)
    if (exits[i].name == name) return exitTarget(b, i);
  return NO_TARGET;
}

int Chart::findBlock(int x, int y) const {
  for (int i = 0; i < blockCount(); ++i)
    if (block(i).bodyContains(x, y)) return i;
  for (int i = 0; i < blockCount(); ++i)
    if (block(i).hitTest(x, y) != -1) return i;
  return -1;
}

int Chart::findConnect(int x, int y, uint32_t skip) const {
  for (int i = 0; i < connectCount(); ++i) {
    const TConnect& c = doc_.connects[i];
    if (skip != 0 && c.id == skip) continue;
    const auto& p = c.points;
    for (size_t k = 1; k + 1 < p.size(); ++k)
      if (std::abs(p[k].x - x) <= 4 && std::abs(p[k].y - y) <= 4) return i;
    for (size_t k = 0; k + 1 < p.size(); ++k)
      if (segmentHit(p[k], p[k + 1], x, y)) return i;
  }
  return -1;
}

// ---- Chart: commands ---------------------------------------------------------

Applied Chart::apply(const Command& command) {
  const ChartContents before = doc_;
  ChartChange change{ChartChange::What::kReplaced, {}, {}};
  const Applied a =
      std::visit(Overload{[&](const cmd::PlaceBlock& c) { return placeBlock(c, change); },
                          [&](const cmd::MoveBlocks& c) { return moveBlocks(c, change); },
                          [&](const cmd::Connect& c) { return connectExit(c, change); },
                          [&](const cmd::Reshape& c) { return reshape(c, change); },
                          [&](const cmd::Delete& c) { return remove(c, change); },
                          [&](const cmd::EditRecord& c) { return editRecord(c, change); },
                          [&](const cmd::EditScript& c) { return editScript(c, change); },
                          [&](const cmd::EditNote& c) { return editNote(c, change); },
                          [&](const cmd::SetEnabled& c) { return setEnabled(c, change); }},
                 command);
  if (!a.ok) {
    doc_ = before;  // a refused command leaves no trace
    return a;
  }
  const bool changed = before.blocks != doc_.blocks || before.connects != doc_.connects;
  // An accepted dialog marks the chart modified even when nothing differs.
  modified_ = true;
  if (!changed) {
    notify({ChartChange::What::kModified, {}, {}});
    return a;
  }

  const auto* move = std::get_if<cmd::MoveBlocks>(&command);
  std::vector<uint32_t> moved;
  if (move) {
    for (int i : move->blocks)
      moved.push_back(block(i).id);
    std::sort(moved.begin(), moved.end());
    moved.erase(std::unique(moved.begin(), moved.end()), moved.end());
  }
  const bool merge = move && mergeOpen_ && pos_ > 0 && pos_ == static_cast<int>(steps_.size()) &&
                     steps_.back().move && steps_.back().moved == moved && cleanPos_ != pos_;
  if (merge) {
    steps_.back().after = doc_;
  } else {
    steps_.resize(pos_);
    if (cleanPos_ > pos_) cleanPos_ = -1;
    steps_.push_back(Step{before, doc_, move != nullptr, std::move(moved)});
    if (steps_.size() > kMaxSteps) {
      steps_.erase(steps_.begin());
      if (cleanPos_ >= 0) --cleanPos_;
    }
    pos_ = static_cast<int>(steps_.size());
  }
  mergeOpen_ = move != nullptr;
  notify(change);
  return a;
}

GELE& Chart::writable(int i) {
  std::unique_ptr<GELE> copy = cloneBlock(*doc_.blocks[i]);
  GELE& r = *copy;
  doc_.blocks[i] = std::shared_ptr<const GELE>(std::move(copy));
  return r;
}

Applied Chart::placeBlock(const cmd::PlaceBlock& c, ChartChange& ch) {
  if (c.kind == cpl::kKindStart)
    for (const auto& b : doc_.blocks)
      if (b->kind == cpl::kKindStart) return {};
  std::unique_ptr<GELE> b = createBlock(c.kind);
  if (!b) return {};
  b->move(c.left, c.top);
  b->id = nextId_++;
  doc_.blocks.push_back(std::move(b));
  ch = {ChartChange::What::kBlockPlaced, {blockCount() - 1}, {}};
  return {true, blockCount() - 1};
}

template <typename Skip>
void Chart::reanchorBlock(int i, Skip skip) {
  const GELE& b = block(i);
  for (TConnect& c : doc_.connects) {
    auto& p = c.points;
    if (p.empty() || skip(c)) continue;
    if (c.source == i && c.exit >= 0 && c.exit < b.exitCount()) {
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

Applied Chart::moveBlocks(const cmd::MoveBlocks& c, ChartChange& ch) {
  std::vector<bool> moving(blockCount(), false);
  for (int i : c.blocks) {
    if (!validBlock(i)) return {};
    moving[i] = true;
  }
  if (c.blocks.empty()) return {};
  if (c.dx == 0 && c.dy == 0) return {true, -1};
  auto both = [&](const TConnect& k) { return moving[k.source] && moving[k.target]; };
  for (int i = 0; i < blockCount(); ++i)
    if (moving[i]) {
      GELE& b = writable(i);
      b.move(b.left + c.dx, b.top + c.dy);
      ch.blocks.push_back(i);
    }
  for (int k = 0; k < connectCount(); ++k) {
    TConnect& con = doc_.connects[k];
    if (!moving[con.source] && !moving[con.target]) continue;
    ch.connections.push_back(k);
    if (!both(con)) continue;
    // Both ends moved: every inner point moves down by dy, and across by dx
    // except the two next to the ends, which take their x from the
    // re-anchored ends when their segment is upright.
    auto& p = con.points;
    const size_t n = p.size();
    if (n < 2) continue;
    const bool firstUpright = n > 2 && p[1].x == p[0].x;
    const bool lastUpright = n > 2 && p[n - 2].x == p[n - 1].x;
    for (size_t q = 1; q + 1 < n; ++q) {
      p[q].y += c.dy;
      p[q].x += c.dx;
    }
    p.front() = block(con.source).exitAnchor(con.exit);
    p.back() = block(con.target).inputAnchor();
    if (firstUpright) p[1].x = p[0].x;
    if (lastUpright) p[n - 2].x = p[n - 1].x;
  }
  for (int i = 0; i < blockCount(); ++i)
    if (moving[i]) reanchorBlock(i, both);
  ch.what = ChartChange::What::kBlocksMoved;
  return {true, -1};
}

Applied Chart::connectExit(const cmd::Connect& c, ChartChange& ch) {
  if (!validBlock(c.source) || !validBlock(c.target)) return {};
  const GELE& from = block(c.source);
  if (c.exit < 0 || c.exit >= from.exitCount()) return {};
  if (c.source == c.target && from.kind == cpl::kKindStart) return {};
  // An exit has a single target: a second drawn line from it would leave a
  // connection on the canvas that the compiled flow does not follow.
  if (connectFrom(c.source, c.exit) >= 0) return {};
  Polyline points = c.points;
  // The ends sit on the exit and the port whatever the drag ended on.
  if (points.size() < 2) points = {from.exitAnchor(c.exit), block(c.target).inputAnchor()};
  points.front() = from.exitAnchor(c.exit);
  points.back() = block(c.target).inputAnchor();
  doc_.connects.push_back(TConnect{std::move(points), c.source, c.exit, c.target, nextId_++});
  ch = {ChartChange::What::kConnected, {c.source, c.target}, {connectCount() - 1}};
  return {true, connectCount() - 1};
}

Applied Chart::reshape(const cmd::Reshape& c, ChartChange& ch) {
  if (c.connection < 0 || c.connection >= connectCount() || c.points.size() < 2) return {};
  TConnect& k = doc_.connects[c.connection];
  Polyline points = c.points;
  points.front() = block(k.source).exitAnchor(k.exit);
  points.back() = block(k.target).inputAnchor();
  k.points = std::move(points);
  ch = {ChartChange::What::kReshaped, {}, {c.connection}};
  return {true, c.connection};
}

void Chart::deleteBlock(int a) {
  std::erase_if(doc_.connects, [a](const TConnect& c) { return c.source == a || c.target == a; });
  for (TConnect& c : doc_.connects) {
    if (c.source > a) --c.source;
    if (c.target > a) --c.target;
  }
  doc_.blocks.erase(doc_.blocks.begin() + a);
}

Applied Chart::remove(const cmd::Delete& c, ChartChange& ch) {
  bool any = false;
  if (c.connection != -1) {
    if (c.connection < 0 || c.connection >= connectCount()) return {};
    doc_.connects.erase(doc_.connects.begin() + c.connection);
    any = true;
  }
  std::vector<int> chosen = c.blocks;
  for (int i : chosen)
    if (!validBlock(i)) return {};
  std::sort(chosen.begin(), chosen.end());
  chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
  int deleted = 0;
  for (int i : chosen) {
    const int a = i - deleted;
    if (block(a).kind == cpl::kKindStart) {
      show(kCannotDeleteStart);
      continue;
    }
    deleteBlock(a);
    ch.blocks.push_back(i);  // as numbered before the command
    ++deleted;
  }
  if (!any && deleted == 0) return {};
  ch.what = ChartChange::What::kDeleted;
  if (c.connection != -1) ch.connections.push_back(c.connection);
  return {true, deleted};
}

Applied Chart::editRecord(const cmd::EditRecord& c, ChartChange& ch) {
  if (!validBlock(c.block) || block(c.block).isScript()) return {};
  const GELE& b = block(c.block);
  if (c.record.size() != b.record.size() || c.record.size() < 2) return {};
  std::vector<uint8_t> r = c.record;
  cpl::putI16(r, 0, static_cast<int16_t>(b.kind));
  if (r != b.record) writable(c.block).record = std::move(r);
  ch = {ChartChange::What::kRecordEdited, {c.block}, {}};
  return {true, c.block};
}

Applied Chart::editNote(const cmd::EditNote& c, ChartChange& ch) {
  if (!validBlock(c.block)) return {};
  if (block(c.block).note != c.note) writable(c.block).note = c.note;
  ch = {ChartChange::What::kNoteEdited, {c.block}, {}};
  return {true, c.block};
}

Applied Chart::setEnabled(const cmd::SetEnabled& c, ChartChange& ch) {
  if (!validBlock(c.block)) return {};
  const uint8_t flag = c.enabled ? 1 : 0;
  if (block(c.block).enabled != flag) writable(c.block).enabled = flag;
  ch = {ChartChange::What::kEnabledSet, {c.block}, {}};
  return {true, c.block};
}

Applied Chart::editScript(const cmd::EditScript& c, ChartChange& ch) {
  const int b = c.block;
  if (!validBlock(b) || !block(b).isScript()) return {};
  {
    // Nothing to do when the text and the exits would stay as they are.
    GCMD_DTC_SCRIPT trial = static_cast<const GCMD_DTC_SCRIPT&>(block(b));
    for (size_t i = 0; i < trial.exits.size(); ++i)
      trial.exits[i].used = i < 2 ? 1 : 0;
    for (const std::string& name : c.exitNames)
      trial.mergeExit(name);
    const auto& now = static_cast<const GCMD_DTC_SCRIPT&>(block(b));
    const bool allUsed = std::all_of(trial.exits.begin(), trial.exits.end(),
                                     [](const TMyOut& e) { return e.used != 0; });
    if (allUsed && trial.exits == now.exits && now.script == c.script) {
      ch = {ChartChange::What::kScriptEdited, {b}, {}};
      return {true, b};
    }
  }
  auto& s = static_cast<GCMD_DTC_SCRIPT&>(writable(b));
  s.script = c.script;
  for (size_t i = 0; i < s.exits.size(); ++i)
    s.exits[i].used = i < 2 ? 1 : 0;
  // The default exit may be named by the script too; it keeps its
  // connection, as every other exit the script still names does.
  for (const std::string& name : c.exitNames)
    s.mergeExit(name);

  // Connections of exits that went out of use go first; then the unused
  // exits, with every later exit index lowered to match.
  std::erase_if(doc_.connects, [&](const TConnect& k) {
    return k.source == b && (k.exit < 0 || k.exit >= s.exitCount() || !s.exits[k.exit].used);
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

  for (int k = 0; k < connectCount(); ++k) {
    TConnect& con = doc_.connects[k];
    if (con.source != b) continue;
    ch.connections.push_back(k);
    con.exit = newIndex[con.exit];
    auto& p = con.points;
    if (p.empty()) continue;
    const TMYPoint old = p.front();
    p.front() = s.exitAnchor(con.exit);
    if (p.size() == 2 && p.front().y != p.back().y) {
      const int32_t mid = (p.front().y + p.back().y) / 2;
      p.insert(p.begin() + 1, {TMYPoint{p.front().x, mid}, TMYPoint{p.back().x, mid}});
    } else if (p.size() > 2 && p[1].x == old.x) {
      p[1].x = p.front().x;  // the first segment stays upright
    }
  }
  ch.what = ChartChange::What::kScriptEdited;
  ch.blocks = {b};
  return {true, b};
}

bool Chart::setScriptExits(int b, std::vector<std::string> exitNames) {
  if (!validBlock(b) || !block(b).isScript()) return false;
  return setScript(b, static_cast<const GCMD_DTC_SCRIPT&>(block(b)).script, std::move(exitNames));
}

// ---- Chart: history and the document as a whole ------------------------------

bool Chart::undo() {
  if (!canUndo()) return false;
  --pos_;
  doc_ = steps_[pos_].before;
  afterJump(ChartChange::What::kUndone);
  return true;
}

bool Chart::redo() {
  if (!canRedo()) return false;
  doc_ = steps_[pos_].after;
  ++pos_;
  afterJump(ChartChange::What::kRedone);
  return true;
}

void Chart::afterJump(ChartChange::What what) {
  mergeOpen_ = false;
  modified_ = pos_ != cleanPos_;
  notify({what, {}, {}});
}

void Chart::reset() {
  std::unique_ptr<GELE> start = createBlock(cpl::kKindStart);
  start->move(kStartLeft, kStartTop);
  ChartContents c;
  c.blocks.push_back(std::move(start));
  fileName_ = kUntitled;
  replace(std::move(c));
}

int Chart::replace(ChartContents contents) {
  doc_.blocks.clear();
  doc_.connects.clear();
  for (const auto& b : contents.blocks) {
    if (!b) continue;
    std::unique_ptr<GELE> copy = cloneBlock(*b);
    copy->id = nextId_++;
    doc_.blocks.push_back(std::move(copy));
  }
  int dropped = 0;
  for (TConnect& k : contents.connects) {
    const bool fits = validBlock(k.source) && validBlock(k.target) && k.exit >= 0 &&
                      k.exit < block(k.source).exitCount();
    if (!fits || connectFrom(k.source, k.exit) >= 0) {
      ++dropped;
      continue;
    }
    k.id = nextId_++;
    doc_.connects.push_back(std::move(k));
  }
  steps_.clear();
  pos_ = 0;
  cleanPos_ = 0;
  mergeOpen_ = false;
  modified_ = false;
  notify({ChartChange::What::kReplaced, {}, {}});
  return dropped;
}

void Chart::setFileName(std::string name) {
  fileName_ = std::move(name);
  notify({ChartChange::What::kModified, {}, {}});
}

void Chart::setModified(bool m) {
  modified_ = m;
  if (!m) cleanPos_ = pos_;
  notify({ChartChange::What::kModified, {}, {}});
}

void Chart::show(std::string_view text) {
  if (sink_) sink_->show(kEditorCaption, text);
}

void Chart::notify(const ChartChange& c) {
  // A copy: an observer may remove itself while being told.
  const std::vector<ChartObserver*> observers = observers_;
  for (ChartObserver* o : observers)
    o->chartChanged(c);
}

}  // namespace chart
