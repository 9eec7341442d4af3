#include "designer/chart/project_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "flowfile/bytes.h"
#include "flowfile/cplwriter.h"
#include "platform/bytes.h"

namespace chart {

namespace {

// A coordinate far outside the 5000 x 5000 canvas only comes from a damaged
// file; held to these ranges, the geometry's sums and differences never
// overflow. Connection points get twice the room of block corners, so that
// a point anchored on a block at the edge (a block's ports lie a few pixels
// outside its corner) is kept as it is when the file is read again.
constexpr int32_t kBlockLimit = 1 << 24;
constexpr int32_t kPointLimit = 1 << 25;
int32_t onCanvas(int32_t v) {
  return std::clamp(v, -kBlockLimit, kBlockLimit);
}
int32_t pointOnCanvas(int32_t v) {
  return std::clamp(v, -kPointLimit, kPointLimit);
}

void putI32(std::vector<uint8_t>& out, int32_t v) {
  platform::ByteWriter(out).i32(v);
}

void putText(std::vector<uint8_t>& out, const std::string& s) {
  putI32(out, static_cast<int32_t>(s.size()));
  platform::ByteWriter(out).text(s);
}

// The file's bytes through the shared cursor, which never reads past their
// end, with the project file's text form added.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> b) : r_(b) {}
  size_t remaining() const { return r_.left(); }
  bool i16(int16_t& v) { return r_.i16(&v); }
  bool i32(int32_t& v) { return r_.i32(&v); }
  bool u8(uint8_t& v) { return r_.u8(&v); }
  bool bytes(size_t n, std::string& out) { return r_.text(n, &out); }
  // A text of int32 length; a negative or overlong length is damage.
  bool text(std::string& out) {
    int32_t n;
    return i32(n) && n >= 0 && bytes(static_cast<size_t>(n), out);
  }
  void back(size_t n) { r_.back(n); }

 private:
  platform::ByteReader r_;
};

// Blocks of these kinds come back selected, as the designer has always
// loaded them.
bool selectedAfterLoad(int kind) {
  switch (kind) {
    case cpl::kKindCallSeat:
    case cpl::kKindPlayVoice:
    case cpl::kKindTalk:
    case cpl::kKindDigit:
    case cpl::kKindCreateMeet:
    case cpl::kKindEnterMeet:
      return true;
    default:
      return false;
  }
}

// A block as read, with the exit targets its file section names.
struct ReadBlock {
  std::unique_ptr<GELE> block;
  std::vector<int32_t> targets;  // one per exit
};

// One block from the kind on; false when the file ends inside it.
bool readBlock(Reader& r, int16_t kind, ReadBlock& out) {
  out.block = createBlock(kind);
  GELE& b = *out.block;
  out.targets.assign(b.exits.size(), NO_TARGET);
  if (b.isScript()) {
    auto& s = static_cast<GCMD_DTC_SCRIPT&>(b);
    int32_t n;
    if (!r.i32(n) || n < 0) return false;
    for (int32_t i = 0; i < n; ++i) {
      int32_t target;
      std::string name;
      if (!r.i32(target) || !r.text(name)) return false;
      bool appended = false;
      const int e = s.mergeExit(name, &appended);
      if (appended) out.targets.push_back(target);
      // Merge by name: a new exit and the default exit take the saved
      // target, another exit of a name seen before keeps its own. The
      // hang-up exit exists before its saved entry is read; it takes its
      // saved target back too, so that the flow leads where it was drawn.
      if (appended || e == 0 || e == 1) out.targets[e] = target;
    }
    if (!r.text(s.script)) return false;
  } else {
    r.back(2);
    std::string rec;
    if (!r.bytes(b.record.size(), rec)) return false;
    b.record.assign(rec.begin(), rec.end());
    for (int i = 0; i < b.exitCount(); ++i)
      out.targets[i] = cpl::getExit(b.record, i);
  }
  if (!r.i32(b.left) || !r.i32(b.top)) return false;
  b.left = onCanvas(b.left);
  b.top = onCanvas(b.top);
  return true;
}

LoadResult incomplete(const std::string& name, const char* where) {
  return {LoadStatus::kIncomplete, name + ": project file cut short or damaged in its " + where};
}

// What was read becomes the chart. The drawn connections are the truth of
// where exits lead; an exit whose saved target has no drawn connection (a
// file written by hand or by an older designer) gets a straight one, so
// that the flow still leads where the file says and the line can be seen
// and edited.
LoadResult finish(Chart& chart, std::vector<ReadBlock>& read, std::vector<TConnect>& connects,
                  LoadResult result) {
  ChartContents contents;
  const int n = static_cast<int>(read.size());
  for (ReadBlock& b : read) {
    contents.blocks.push_back(std::shared_ptr<const GELE>(std::move(b.block)));
  }
  auto fits = [&](const TConnect& k) {
    return k.source >= 0 && k.source < n && k.target >= 0 && k.target < n && k.exit >= 0 &&
           k.exit < contents.blocks[k.source]->exitCount();
  };
  std::vector<std::vector<bool>> drawn(n);
  for (int i = 0; i < n; ++i)
    drawn[i].assign(contents.blocks[i]->exits.size(), false);
  for (TConnect& k : connects) {
    if (!fits(k) || drawn[k.source][k.exit]) continue;
    drawn[k.source][k.exit] = true;
    contents.connects.push_back(std::move(k));
  }
  for (int i = 0; i < n; ++i) {
    const GELE& b = *contents.blocks[i];
    for (int e = 0; e < b.exitCount(); ++e) {
      const int32_t t = read[i].targets[e];
      if (drawn[i][e] || t < 0 || t >= n) continue;
      if (t == i && b.kind == cpl::kKindStart) continue;
      contents.connects.push_back(
          TConnect{{b.exitAnchor(e), contents.blocks[t]->inputAnchor()}, i, e, t, 0});
      ++result.drawnForTargets;
    }
  }
  for (int i = 0; i < n; ++i)
    if (selectedAfterLoad(contents.blocks[i]->kind)) result.selected.push_back(i);
  chart.replace(std::move(contents));
  return result;
}

}  // namespace

std::vector<uint8_t> saveProject(const Chart& chart) {
  std::vector<uint8_t> out(cpl::kProjectMagic.begin(), cpl::kProjectMagic.end());
  putI32(out, chart.blockCount());
  for (int i = 0; i < chart.blockCount(); ++i) {
    const GELE& b = chart.block(i);
    if (b.isScript()) {
      const auto& s = static_cast<const GCMD_DTC_SCRIPT&>(b);
      out.push_back(static_cast<uint8_t>(cpl::kKindScript));
      out.push_back(0);
      putI32(out, static_cast<int32_t>(s.exits.size()));
      for (int e = 0; e < s.exitCount(); ++e) {
        putI32(out, chart.exitTarget(i, e));
        putText(out, s.exits[e].name);
      }
      putText(out, s.script);
    } else {
      const std::vector<uint8_t> rec = recordWithExits(b, chart.exitTargets(i));
      out.insert(out.end(), rec.begin(), rec.end());
    }
    putI32(out, b.left);
    putI32(out, b.top);
  }
  putI32(out, chart.connectCount());
  for (const TConnect& c : chart.connections()) {
    putI32(out, static_cast<int32_t>(c.points.size()));
    putI32(out, c.source);
    putI32(out, c.target);
    putI32(out, c.exit);
    for (const TMYPoint& p : c.points) {
      putI32(out, p.x);
      putI32(out, p.y);
    }
  }
  for (int i = 0; i < chart.blockCount(); ++i)
    out.push_back(chart.block(i).enabled);
  for (int i = 0; i < chart.blockCount(); ++i)
    putText(out, chart.block(i).note);
  return out;
}

bool saveProjectFile(Chart& chart, const std::string& path) {
  const std::vector<uint8_t> bytes = saveProject(chart);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const int err = errno;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    errno = written ? errno : err;
    return false;
  }
  chart.setModified(false);
  return true;
}

LoadResult loadProject(Chart& chart, std::span<const uint8_t> bytes, const std::string& name) {
  std::vector<ReadBlock> blocks;
  std::vector<TConnect> connects;
  auto done = [&](LoadResult r) { return finish(chart, blocks, connects, std::move(r)); };
  Reader r(bytes);
  std::string magic;
  if (!r.bytes(4, magic) || magic != cpl::kProjectMagic)
    return done({LoadStatus::kBadMagic, name + std::string(kBadFormat)});

  int32_t n;
  if (!r.i32(n) || n < 0) return done(incomplete(name, "block count"));
  for (int32_t i = 0; i < n; ++i) {
    int16_t kind;
    if (!r.i16(kind)) return done(incomplete(name, "blocks"));
    if (!cpl::findKind(kind)) continue;  // no body to skip: its size is unknown
    ReadBlock b;
    if (!readBlock(r, kind, b)) return done(incomplete(name, "blocks"));
    blocks.push_back(std::move(b));
  }

  int32_t m;
  if (!r.i32(m) || m < 0) return done(incomplete(name, "connection count"));
  for (int32_t i = 0; i < m; ++i) {
    TConnect c;
    int32_t points;
    if (!r.i32(points) || points < 0 || !r.i32(c.source) || !r.i32(c.target) || !r.i32(c.exit))
      return done(incomplete(name, "connections"));
    for (int32_t k = 0; k < points; ++k) {
      TMYPoint p;
      if (!r.i32(p.x) || !r.i32(p.y)) return done(incomplete(name, "connections"));
      p = {pointOnCanvas(p.x), pointOnCanvas(p.y)};
      c.points.push_back(p);
    }
    connects.push_back(std::move(c));
  }

  for (ReadBlock& b : blocks)
    if (!r.u8(b.block->enabled)) return done(incomplete(name, "enabled flags"));

  for (ReadBlock& b : blocks) {
    if (r.remaining() < 4) break;  // a file from before notes were kept
    if (!r.text(b.block->note)) return done(incomplete(name, "notes"));
  }
  return done({});
}

LoadResult loadProjectFile(Chart& chart, const std::string& path, platform::MessageSink* sink) {
  std::vector<uint8_t> bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  bool ok = f != nullptr;
  if (f) {
    uint8_t buf[65536];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0)
      bytes.insert(bytes.end(), buf, buf + got);
    ok = !std::ferror(f);
    const int err = errno;
    std::fclose(f);
    errno = err;
  }
  if (!ok) {
    chart.replace({});
    return {LoadStatus::kCannotOpen, "cannot read " + path + ": " + std::strerror(errno)};
  }
  LoadResult res = loadProject(chart, bytes, path);
  if (res.status == LoadStatus::kBadMagic) {
    if (sink) sink->show(kEditorCaption, res.message);
    return res;
  }
  chart.setFileName(path);
  return res;
}

}  // namespace chart
