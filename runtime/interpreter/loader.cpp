#include "runtime/interpreter/loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "flowfile/bytes.h"
#include "platform/winpath.h"

namespace interp {
namespace {

// A cursor over the file image that refuses to read past its end.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> b) : b_(b) {}
  size_t left() const { return b_.size() - pos_; }
  size_t pos() const { return pos_; }
  bool take(size_t n, std::span<const uint8_t>* out) {
    if (n > left()) return false;
    *out = b_.subspan(pos_, n);
    pos_ += n;
    return true;
  }
  bool i16(int16_t* v) {
    std::span<const uint8_t> s;
    if (!take(2, &s)) return false;
    *v = cpl::getI16(s, 0);
    return true;
  }
  bool i32(int32_t* v) {
    std::span<const uint8_t> s;
    if (!take(4, &s)) return false;
    *v = cpl::getI32(s, 0);
    return true;
  }

 private:
  std::span<const uint8_t> b_;
  size_t pos_ = 0;
};

// "1001" (written by the designer) or "1002" (548-byte sections).
bool knownMagic(std::span<const uint8_t> file) {
  if (file.size() < 4) return false;
  const std::string_view m(reinterpret_cast<const char*>(file.data()), 4);
  return m == cpl::kMagic1001 || m == cpl::kMagic1002;
}

LoadCode fail(ParsedFlow& out, LoadCode code, std::string why) {
  out.problem = std::move(why);
  return code;
}

const char* notRegular(mode_t m) {
  if (S_ISDIR(m)) return "is a folder, not a file";
  if (S_ISFIFO(m)) return "is a FIFO, not a file";
  if (S_ISCHR(m)) return "is a character device, not a file";
  if (S_ISBLK(m)) return "is a block device, not a file";
  if (S_ISSOCK(m)) return "is a socket, not a file";
  return "is not a regular file";
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

LoadCode parseCompiledFlow(std::span<const uint8_t> file, ParsedFlow& out) {
  out = ParsedFlow{};
  Reader r(file);
  std::span<const uint8_t> magic;
  if (!r.take(4, &magic)) return fail(out, kLoadBadMagic, "file shorter than its 4-byte magic");
  out.magic.assign(magic.begin(), magic.end());
  if (!knownMagic(file)) return fail(out, kLoadBadMagic, "unknown magic (not 1001 or 1002)");
  const bool v1001 = out.magic == cpl::kMagic1001;

  int32_t n = 0;
  if (!r.i32(&n)) return fail(out, kLoadShortFile, "file ends before the block count");
  // Every section takes at least its 2-byte kind, and the pool follows.
  if (n < 0 || static_cast<uint64_t>(n) * 2 > r.left())
    return fail(out, kLoadShortFile,
                "block count " + std::to_string(n) + " does not fit in the file");
  out.blocks.resize(n);

  for (int32_t i = 0; i < n; ++i) {
    FlowBlock& blk = out.blocks[i];
    const std::string at = "block " + std::to_string(i);
    int16_t kind = 0;
    if (!r.i16(&kind)) return fail(out, kLoadShortFile, at + ": file ends before its kind");
    cpl::putI16(blk.rec, 0, kind);
    cpl::putI16(blk.rec, 2, kind);
    if (kind == cpl::kKindScript) {
      int32_t count = 0;
      if (!r.i32(&count)) return fail(out, kLoadShortFile, at + ": file ends in the script header");
      if (count < 0 || static_cast<uint64_t>(count) * cpl::kInstrSize > r.left())
        return fail(out, kLoadShortFile,
                    at + ": " + std::to_string(count) + " instructions do not fit in the file");
      blk.code.reserve(count);
      for (int32_t k = 0; k < count; ++k) {
        // The count was checked against the bytes left, so every record is there.
        std::span<const uint8_t> s;
        if (!r.take(cpl::kInstrSize, &s))
          return fail(out, kLoadShortFile, at + ": file ends inside an instruction");
        cpl::InstrBytes b{};
        std::copy(s.begin(), s.end(), b.begin());
        blk.code.emplace_back(b);
      }
      int32_t def = 0;
      if (!r.i32(&def))
        return fail(out, kLoadShortFile, at + ": file ends before its default exit");
      cpl::putI32(blk.rec, FlowBlock::kScriptCount, count);
      cpl::putI32(blk.rec, FlowBlock::kScriptDefaultExit, def);
      continue;
    }
    const cpl::KindInfo* info = cpl::findKind(kind);
    if (!info) return fail(out, kLoadBadMagic, at + ": unknown block kind " + std::to_string(kind));
    // "1001": the record's payload lands at 4; "1002": 546 bytes land at 2
    // (two filler bytes after the kind), so the payload again starts at 4.
    const size_t want = v1001 ? info->sectionSize - 2 : cpl::kBlockRecordSize - 2;
    const size_t dest = v1001 ? 4 : 2;
    std::span<const uint8_t> s;
    if (!r.take(want, &s))
      return fail(out, kLoadShortFile,
                  at + ": section of kind " + std::to_string(kind) + " cut short");
    std::copy(s.begin(), s.end(), blk.rec.begin() + dest);
    if (!v1001) cpl::putI16(blk.rec, 2, kind);
  }

  out.poolOffset = r.pos();
  std::span<const uint8_t> pool;
  if (!r.take(cpl::kPoolSize, &pool))
    return fail(out, kLoadShortFile,
                "string pool has " + std::to_string(r.left()) + " of its 4096 bytes");
  std::copy(pool.begin(), pool.end(), out.pool.begin());
  return kLoadOk;
}

void releaseBank(FlowBank& bank) {
  bank.blocks.clear();
  bank.blocks.shrink_to_fit();
}

LoadCode readFlowFile(const std::string& linuxPath, std::vector<uint8_t>& bytes, std::string* why) {
  bytes.clear();
  auto refuse = [&](std::string reason) {
    if (why) *why = std::move(reason);
    bytes.clear();
    return kLoadCannotOpen;
  };
  // Looked at before it is opened: opening a FIFO waits for a writer, and
  // opening a device may act on it.
  struct stat st {};
  if (::stat(linuxPath.c_str(), &st) != 0) return refuse(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return refuse(notRegular(st.st_mode));
  // O_NONBLOCK in case the path was replaced by a FIFO since; fstat below
  // then refuses what was opened.
  Fd fd(::open(linuxPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) return refuse(std::strerror(errno));
  if (::fstat(fd.get(), &st) != 0) return refuse(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return refuse(notRegular(st.st_mode));
  if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > kMaxFlowFileBytes)
    return refuse("is larger than " + std::to_string(kMaxFlowFileBytes >> 20) +
                  " MB, more than a compiled flow holds");
  bytes.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return refuse(std::strerror(errno));
    if (n == 0) break;  // the file shrank while it was read: take what is there
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return kLoadOk;
}

LoadCode readCompiledFlow(const std::string& path, ParsedFlow& out) {
  std::vector<uint8_t> bytes;
  if (readFlowFile(platform::openableUtf8Path(path), bytes) != kLoadOk) return kLoadCannotOpen;
  if (!knownMagic(bytes)) return kLoadBadMagic;
  return parseCompiledFlow(bytes, out);
}

LoadCode installParsedFlow(FlowTable& table, ParsedFlow& parsed, const std::string& path,
                           const std::string& vocDir, int slot) {
  if (slot < 0 || slot >= kFlowSlots) return kLoadSlotOutOfRange;
  std::lock_guard lock(table.mutex());
  FlowSlot& s = table.slotLocked(slot);
  int k = s.banks[0].useCount == 0 ? 0 : s.banks[1].useCount == 0 ? 1 : -1;
  if (k < 0) return kLoadBothBanksInUse;
  FlowBank& b = s.banks[k];
  b.loaded = 0;
  releaseBank(b);
  b.blocks = std::move(parsed.blocks);
  b.vocDir = vocDir;
  b.path = path;
  b.pool = parsed.pool;
  b.version = s.banks[1 - k].version + 1;
  b.blockCount = static_cast<int32_t>(b.blocks.size());
  b.useCount = 0;
  b.loaded = 1;
  s.banks[0].free = 0;
  s.banks[1].free = 0;
  return kLoadOk;
}

LoadCode loadCompiledFlow(FlowTable& table, const std::string& path, const std::string& vocDir,
                          int slot) {
  std::vector<uint8_t> bytes;
  if (readFlowFile(platform::openableUtf8Path(path), bytes) != kLoadOk) return kLoadCannotOpen;

  // Magic first, then the slot, then the banks, as callers have always seen
  // the codes come.
  if (!knownMagic(bytes)) return kLoadBadMagic;
  if (slot < 0 || slot >= kFlowSlots) return kLoadSlotOutOfRange;
  {
    std::lock_guard lock(table.mutex());
    const auto& s = table.slotLocked(slot);
    if (s.banks[0].useCount > 0 && s.banks[1].useCount > 0) return kLoadBothBanksInUse;
  }

  ParsedFlow parsed;
  LoadCode code = parseCompiledFlow(bytes, parsed);
  if (code != kLoadOk) return code;
  return installParsedFlow(table, parsed, path, vocDir, slot);
}

}  // namespace interp
