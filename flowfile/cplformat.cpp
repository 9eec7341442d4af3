#include "flowfile/cplformat.h"

#include <algorithm>
#include <cstring>

namespace cpl {

std::string_view kindTitle(int kind) {
  switch (kind) {
    case kKindWaitCall:
      return "wait for call";
    case kKindDelayedHangup:
      return "delayed hang-up";
    case kKindStart:
      return "start";
    case kKindCallSeat:
      return "call agent";
    case kKindPlayVoice:
      return "play voice";
    case kKindTalk:
      return "talk";
    case kKindInput:
      return "key input";
    case kKindDigit:
      return "single-key branch";
    case kKindCreateMeet:
      return "create conference";
    case kKindEnterMeet:
      return "join conference";
    case kKindMeetTalk:
      return "in conference";
    case kKindScript:
      return "script";
    case kKindCallExt:
      return "call extension";
    case kKindCallOut:
      return "call outside line";
    case kKindRecord:
      return "record";
    case kKindPlayTts:
      return "combined playback";
    case kKindCycPlay:
      return "loop playback";
    default:
      return "unknown";
  }
}

std::string Instruction::timeDigits(int at) const {
  return std::string(reinterpret_cast<const char*>(b_.data() + at), 14);
}

void Instruction::setTimeDigits(int at, std::string_view digits14) {
  std::memset(b_.data() + at, 0, 14);
  std::memcpy(b_.data() + at, digits14.data(), std::min<size_t>(digits14.size(), 14));
}

int StringPool::used() const {
  // memchr, not std::find: every append measures the contents, and compiles append a lot.
  const void* end = std::memchr(bytes_.data(), 0, bytes_.size());
  return end ? static_cast<int>(static_cast<const uint8_t*>(end) - bytes_.data()) : kPoolSize;
}

std::optional<PoolRef> StringPool::append(std::string_view text) {
  const int at = used();
  // A full pool has no offset left inside it, even for an empty text.
  if (at >= kPoolSize || text.size() > static_cast<size_t>(kPoolSize - at)) return std::nullopt;
  std::memcpy(bytes_.data() + at, text.data(), text.size());
  return PoolRef{static_cast<uint16_t>(at), static_cast<uint16_t>(text.size())};
}

std::string poolExtract(std::span<const uint8_t, kPoolSize> pool, PoolRef ref) {
  if (ref.offset >= kPoolSize) return {};
  size_t n = std::min<size_t>(
      {ref.length, static_cast<size_t>(kPoolTextMax), static_cast<size_t>(kPoolSize - ref.offset)});
  return std::string(reinterpret_cast<const char*>(pool.data() + ref.offset), n);
}

std::string StringPool::extract(PoolRef ref) const {
  return poolExtract(bytes_, ref);
}

}  // namespace cpl
