#include "flowfile/cplreader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/bytes.h"

namespace cpl {

bool hasKnownMagic(std::span<const uint8_t> file) {
  if (file.size() < 4) return false;
  const std::string_view m(reinterpret_cast<const char*>(file.data()), 4);
  return m == kMagic1001 || m == kMagic1002;
}

namespace {

ReadCode fail(ParsedFlow& out, ReadCode code, std::string why) {
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

ReadCode parseCompiledFlow(std::span<const uint8_t> file, ParsedFlow& out) {
  out = ParsedFlow{};
  platform::ByteReader r(file);
  std::span<const uint8_t> magic;
  if (!r.take(4, &magic)) return fail(out, kReadBadMagic, "file shorter than its 4-byte magic");
  out.magic.assign(magic.begin(), magic.end());
  if (!hasKnownMagic(file)) return fail(out, kReadBadMagic, "unknown magic (not 1001 or 1002)");
  const bool v1001 = out.magic == kMagic1001;

  int32_t n = 0;
  if (!r.i32(&n)) return fail(out, kReadShortFile, "file ends before the block count");
  // Every section takes at least its 2-byte kind, and the pool follows.
  if (n < 0 || static_cast<uint64_t>(n) * 2 > r.left())
    return fail(out, kReadShortFile,
                "block count " + std::to_string(n) + " does not fit in the file");
  out.blocks.resize(n);

  for (int32_t i = 0; i < n; ++i) {
    FlowBlock& blk = out.blocks[i];
    const std::string at = "block " + std::to_string(i);
    int16_t kind = 0;
    if (!r.i16(&kind)) return fail(out, kReadShortFile, at + ": file ends before its kind");
    if (kind == kKindScript) {
      int32_t count = 0;
      if (!r.i32(&count)) return fail(out, kReadShortFile, at + ": file ends in the script header");
      if (count < 0 || static_cast<uint64_t>(count) * kInstrSize > r.left())
        return fail(out, kReadShortFile,
                    at + ": " + std::to_string(count) + " instructions do not fit in the file");
      blk.code.reserve(count);
      for (int32_t k = 0; k < count; ++k) {
        // The count was checked against the bytes left, so every record is there.
        std::span<const uint8_t> s;
        if (!r.take(kInstrSize, &s))
          return fail(out, kReadShortFile, at + ": file ends inside an instruction");
        InstrBytes b{};
        std::copy(s.begin(), s.end(), b.begin());
        blk.code.emplace_back(b);
      }
      int32_t def = 0;
      if (!r.i32(&def))
        return fail(out, kReadShortFile, at + ": file ends before its default exit");
      blk.rec = BlockImage::script(count, def);
      continue;
    }
    const KindInfo* info = findKind(kind);
    if (!info) return fail(out, kReadBadMagic, at + ": unknown block kind " + std::to_string(kind));
    // "1001": the record's payload lands at 4; "1002": 546 bytes land at 2
    // (two filler bytes after the kind), so the payload again starts at 4.
    const size_t want = v1001 ? info->sectionSize - 2 : BlockImage::kSize - 2;
    const size_t dest = v1001 ? BlockImage::kPayload : BlockImage::kLoadedKind;
    std::span<const uint8_t> s;
    if (!r.take(want, &s))
      return fail(out, kReadShortFile,
                  at + ": section of kind " + std::to_string(kind) + " cut short");
    blk.rec = BlockImage::ofKind(kind);
    std::copy(s.begin(), s.end(), blk.rec.bytes().begin() + dest);
    if (!v1001) putI16(blk.rec.bytes(), BlockImage::kLoadedKind, kind);
  }

  out.poolOffset = r.pos();
  std::span<const uint8_t> pool;
  if (!r.take(kPoolSize, &pool))
    return fail(out, kReadShortFile,
                "string pool has " + std::to_string(r.left()) + " of its 4096 bytes");
  std::copy(pool.begin(), pool.end(), out.pool.begin());
  return kReadOk;
}

ReadCode readFlowFile(const std::string& linuxPath, std::vector<uint8_t>& bytes, std::string* why) {
  bytes.clear();
  auto refuse = [&](std::string reason) {
    if (why) *why = std::move(reason);
    bytes.clear();
    return kReadCannotOpen;
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
  return kReadOk;
}

}  // namespace cpl
