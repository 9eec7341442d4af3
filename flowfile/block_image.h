// The block image: one block of a loaded flow as the runtime holds it, 548
// bytes whatever its kind, so that a channel's current block is a copy of
// one fixed size.
//
//   offset  size  field
//   0       2     int16 kind (the scan loop dispatches on it; the runtime
//                 sets its own kinds 0 and 1 here)
//   2       2     int16 kind as loaded
//   4       544   the block's payload: a field at offset X of the stored
//                 parameter record (blockrecords.h) lies at X + 2
//
// A script block's payload is not its record: it holds the int32
// instruction count at 4 and the int32 default exit target at 8; the
// instructions themselves are kept beside the image.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "flowfile/bytes.h"
#include "flowfile/cplformat.h"

namespace cpl {

class BlockImage {
 public:
  static constexpr int kSize = kBlockRecordSize;
  static constexpr int kKind = 0;
  static constexpr int kLoadedKind = 2;
  static constexpr int kPayload = 4;
  static constexpr int kScriptCount = 4;
  static constexpr int kScriptDefaultExit = 8;
  static_assert(kPayload == 2 + kBlockPayloadShift);
  static_assert(kScriptDefaultExit + 4 <= kSize);

  // An image of `kind` with both kind fields set and a zero payload.
  static BlockImage ofKind(int16_t kind) {
    BlockImage b;
    b.setKind(kind);
    putI16(b.b_, kLoadedKind, kind);
    return b;
  }
  // A script block's image.
  static BlockImage script(int32_t count, int32_t defaultExit) {
    BlockImage b = ofKind(kKindScript);
    putI32(b.b_, kScriptCount, count);
    putI32(b.b_, kScriptDefaultExit, defaultExit);
    return b;
  }

  int16_t kind() const { return getI16(b_, kKind); }
  void setKind(int16_t k) { putI16(b_, kKind, k); }
  int16_t loadedKind() const { return getI16(b_, kLoadedKind); }

  // Fields addressed by their offset in the stored record. Offsets come from
  // the record layouts, never from a file.
  int32_t i32At(int storedOffset) const { return getI32(b_, storedOffset + kBlockPayloadShift); }
  uint8_t u8At(int storedOffset) const { return b_[storedOffset + kBlockPayloadShift]; }
  // A zero-terminated text field of `size` bytes, cut at the image's end.
  std::string textAt(int storedOffset, int size) const {
    const int at = storedOffset + kBlockPayloadShift;
    if (at < 0 || at >= kSize) return {};
    size = std::min(size, kSize - at);
    const char* s = reinterpret_cast<const char*>(b_.data() + at);
    return std::string(s, ::strnlen(s, static_cast<size_t>(size)));
  }

  int32_t instructionCount() const { return getI32(b_, kScriptCount); }
  int32_t defaultExit() const { return getI32(b_, kScriptDefaultExit); }

  std::span<const uint8_t, kSize> bytes() const { return b_; }
  std::span<uint8_t, kSize> bytes() { return b_; }

 private:
  std::array<uint8_t, kSize> b_{};
};

}  // namespace cpl
