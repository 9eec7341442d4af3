#include "flowfile/cplwriter.h"

#include "flowfile/block_image.h"
#include "flowfile/bytes.h"
#include "platform/bytes.h"

namespace cpl {

std::vector<uint8_t> blankRecord(int kind) {
  const KindInfo* k = findKind(kind);
  if (!k || k->sectionSize == 0) return {};
  std::vector<uint8_t> r(k->sectionSize, 0);
  putI16(r, 0, static_cast<int16_t>(kind));
  for (int i = 0; i < k->exitSlots; ++i)
    putI32(r, k->exitOffset + 4 * i, NO_TARGET);
  return r;
}

bool setExit(std::span<uint8_t> record, int i, int32_t target) {
  if (record.size() < 2) return false;
  const KindInfo* k = findKind(getI16(record, 0));
  if (!k || k->sectionSize == 0 || i < 0 || i >= k->exitSlots ||
      record.size() < static_cast<size_t>(k->sectionSize))
    return false;
  putI32(record, k->exitOffset + 4 * i, target);
  return true;
}

int32_t getExit(std::span<const uint8_t> record, int i) {
  if (record.size() < 2) return NO_TARGET;
  const KindInfo* k = findKind(getI16(record, 0));
  if (!k || k->sectionSize == 0 || i < 0 || i >= k->exitSlots ||
      record.size() < static_cast<size_t>(k->sectionSize))
    return NO_TARGET;
  return getI32(record, k->exitOffset + 4 * i);
}

bool CplWriter::addRecord(std::span<const uint8_t> record) {
  if (record.size() < 2) return false;
  const KindInfo* k = findKind(getI16(record, 0));
  if (!k || k->sectionSize == 0 || record.size() != static_cast<size_t>(k->sectionSize))
    return false;
  if (magic_ == kMagic1002) {
    // Laid out as the block image, the two bytes after the kind left zero.
    std::vector<uint8_t> sec(BlockImage::kSize, 0);
    putI16(sec, BlockImage::kKind, getI16(record, 0));
    std::copy(record.begin() + 2, record.end(), sec.begin() + BlockImage::kPayload);
    sections_.insert(sections_.end(), sec.begin(), sec.end());
  } else {
    sections_.insert(sections_.end(), record.begin(), record.end());
  }
  ++count_;
  return true;
}

void CplWriter::addScript(std::span<const Instruction> code, int32_t defaultExit) {
  uint8_t head[6];
  putI16(head, 0, kKindScript);
  putI32(head, 2, static_cast<int32_t>(code.size()));
  sections_.insert(sections_.end(), head, head + 6);
  for (const auto& ins : code)
    sections_.insert(sections_.end(), ins.bytes().begin(), ins.bytes().end());
  uint8_t tail[4];
  putI32(tail, 0, defaultExit);
  sections_.insert(sections_.end(), tail, tail + 4);
  ++count_;
}

std::vector<uint8_t> CplWriter::frameAndSections(int32_t count) const {
  std::vector<uint8_t> out;
  platform::ByteWriter w(out);
  w.text(magic_);
  w.i32(count);
  w.bytes(sections_);
  return out;
}

std::vector<uint8_t> CplWriter::finishFailedScript(int32_t declaredBlocks) const {
  std::vector<uint8_t> out = frameAndSections(declaredBlocks);
  platform::ByteWriter(out).i16(kKindScript);
  return out;
}

std::vector<uint8_t> CplWriter::finish(const StringPool& pool) const {
  std::vector<uint8_t> out = frameAndSections(count_);
  platform::ByteWriter(out).bytes(pool.bytes());
  return out;
}

}  // namespace cpl
