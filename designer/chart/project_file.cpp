#include "designer/chart/project_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "flowfile/bytes.h"
#include "flowfile/cplwriter.h"
#include "platform/bytes.h"

namespace chart {

namespace {

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

// One block from the kind on; nullptr when the file ends inside it.
std::unique_ptr<GELE> readBlock(Reader& r, int16_t kind) {
  std::unique_ptr<GELE> b = createBlock(kind);
  if (b->isScript()) {
    auto& s = static_cast<GCMD_DTC_SCRIPT&>(*b);
    int32_t n;
    if (!r.i32(n) || n < 0) return nullptr;
    for (int32_t i = 0; i < n; ++i) {
      int32_t target;
      std::string name;
      if (!r.i32(target) || !r.text(name)) return nullptr;
      const int e = s.mergeExit(name, target);
      // The hang-up exit exists before its saved entry is read; its drawn
      // connection must lead where the compiled flow leads, so it takes
      // the saved target back too.
      if (name == hangupExitName()) s.exits[e].target = target;
    }
    if (!r.text(s.script)) return nullptr;
  } else {
    r.back(2);
    std::string rec;
    if (!r.bytes(b->record.size(), rec)) return nullptr;
    b->record.assign(rec.begin(), rec.end());
    for (int i = 0; i < static_cast<int>(b->exits.size()); ++i)
      b->exits[i].target = cpl::getExit(b->record, i);
  }
  if (!r.i32(b->left) || !r.i32(b->top)) return nullptr;
  b->selected = selectedAfterLoad(kind) ? 1 : 0;
  return b;
}

// A connection must name blocks and an exit that exist, or later edits
// would index outside the lists.
bool fits(const Chart& c, const TConnect& k) {
  return k.source >= 0 && k.source < c.blockCount() && k.target >= 0 && k.target < c.blockCount() &&
         k.exit >= 0 && k.exit < static_cast<int>(c.block(k.source).exits.size());
}

LoadResult incomplete(const std::string& name, const char* where) {
  return {LoadStatus::kIncomplete, name + ": project file cut short or damaged in its " + where};
}

}  // namespace

std::vector<uint8_t> saveProject(const Chart& chart) {
  std::vector<uint8_t> out(cpl::kProjectMagic.begin(), cpl::kProjectMagic.end());
  putI32(out, chart.blockCount());
  for (const auto& b : chart.blocks) {
    if (b->isScript()) {
      const auto& s = static_cast<const GCMD_DTC_SCRIPT&>(*b);
      out.push_back(static_cast<uint8_t>(cpl::kKindScript));
      out.push_back(0);
      putI32(out, static_cast<int32_t>(s.exits.size()));
      for (const TMyOut& e : s.exits) {
        putI32(out, e.target);
        putText(out, e.name);
      }
      putText(out, s.script);
    } else {
      std::vector<uint8_t> rec = b->recordWithExits();
      cpl::putI16(rec, 0, static_cast<int16_t>(b->kind));
      out.insert(out.end(), rec.begin(), rec.end());
    }
    putI32(out, b->left);
    putI32(out, b->top);
  }
  putI32(out, static_cast<int32_t>(chart.connects.size()));
  for (const TConnect& c : chart.connects) {
    putI32(out, static_cast<int32_t>(c.points.size()));
    putI32(out, c.source);
    putI32(out, c.target);
    putI32(out, c.exit);
    for (const TMYPoint& p : c.points) {
      putI32(out, p.x);
      putI32(out, p.y);
    }
  }
  for (const auto& b : chart.blocks)
    out.push_back(b->enabled);
  for (const auto& b : chart.blocks)
    putText(out, b->note);
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
  chart.modified = false;
  return true;
}

LoadResult loadProject(Chart& chart, std::span<const uint8_t> bytes, const std::string& name) {
  chart.clear();
  chart.modified = false;
  Reader r(bytes);
  std::string magic;
  if (!r.bytes(4, magic) || magic != cpl::kProjectMagic)
    return {LoadStatus::kBadMagic, name + std::string(kBadFormat)};

  int32_t n;
  if (!r.i32(n) || n < 0) return incomplete(name, "block count");
  for (int32_t i = 0; i < n; ++i) {
    int16_t kind;
    if (!r.i16(kind)) return incomplete(name, "blocks");
    if (!cpl::findKind(kind)) continue;  // no body to skip: its size is unknown
    std::unique_ptr<GELE> b = readBlock(r, kind);
    if (!b) return incomplete(name, "blocks");
    chart.appendBlock(std::move(b));
  }

  int32_t m;
  if (!r.i32(m) || m < 0) return incomplete(name, "connection count");
  for (int32_t i = 0; i < m; ++i) {
    TConnect c;
    int32_t points;
    if (!r.i32(points) || points < 0 || !r.i32(c.source) || !r.i32(c.target) || !r.i32(c.exit))
      return incomplete(name, "connections");
    for (int32_t k = 0; k < points; ++k) {
      TMYPoint p;
      if (!r.i32(p.x) || !r.i32(p.y)) return incomplete(name, "connections");
      c.points.push_back(p);
    }
    if (fits(chart, c)) chart.connects.push_back(std::move(c));
  }

  for (auto& b : chart.blocks)
    if (!r.u8(b->enabled)) return incomplete(name, "enabled flags");

  for (auto& b : chart.blocks) {
    if (r.remaining() < 4) break;  // a file from before notes were kept
    if (!r.text(b->note)) return incomplete(name, "notes");
  }
  chart.selectedCount = chart.countSelected();
  return {};
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
    chart.clear();
    return {LoadStatus::kCannotOpen, "cannot read " + path + ": " + std::strerror(errno)};
  }
  LoadResult res = loadProject(chart, bytes, path);
  if (res.status == LoadStatus::kBadMagic) {
    if (sink) sink->show(kEditorCaption, res.message);
    return res;
  }
  chart.fileName = path;
  return res;
}

}  // namespace chart
