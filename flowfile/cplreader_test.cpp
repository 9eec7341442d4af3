#include "flowfile/cplreader.h"

#include <gtest/gtest.h>

#include "flowfile/blockrecords.h"
#include "flowfile/cplwriter.h"
#include "flowfile/encode.h"

namespace cpl {
namespace {

// Start -> play voice -> script, in either magic.
std::vector<uint8_t> sampleFlow(std::string_view magic) {
  CplWriter w(magic);
  auto start = blankRecord(kKindStart);
  setExit(start, 0, 1);
  auto play = blankRecord(kKindPlayVoice);
  play[PlayVoiceRecord::kVoiceFile] = kOpStr;
  std::memcpy(&play[PlayVoiceRecord::kVoiceFile + TextOrNumber::kText], "hello.voc", 9);
  setExit(play, 0, 2);
  EXPECT_TRUE(w.addRecord(start));
  EXPECT_TRUE(w.addRecord(play));
  std::vector<Instruction> code = {
      *buildInstruction(0, kSet, {Operand::regOf(kOpI, 1), Operand::intConst(5)}),
      *buildInstruction(1, kGotodef, {})};
  w.addScript(code, NO_TARGET);
  StringPool pool;
  pool.append("abc");
  return w.finish(pool);
}

TEST(CplReader, BothMagicsPutThePayloadAtTheSameOffsets) {
  for (auto magic : {kMagic1001, kMagic1002}) {
    SCOPED_TRACE(magic);
    ParsedFlow f;
    auto bytes = sampleFlow(magic);
    ASSERT_EQ(parseCompiledFlow(bytes, f), kReadOk) << f.problem;
    EXPECT_EQ(f.magic, magic);
    ASSERT_EQ(f.blocks.size(), 3u);
    const FlowBlock& play = f.blocks[1];
    EXPECT_EQ(play.kind(), kKindPlayVoice);
    EXPECT_EQ(play.rec.loadedKind(), kKindPlayVoice);
    EXPECT_EQ(play.rec.u8At(PlayVoiceRecord::kVoiceFile), kOpStr);
    EXPECT_EQ(
        play.rec.textAt(PlayVoiceRecord::kVoiceFile + TextOrNumber::kText, TextOrNumber::kTextSize),
        "hello.voc");
    EXPECT_EQ(play.i32At(PlayVoiceRecord::kExits), 2);
    EXPECT_EQ(play.i32At(PlayVoiceRecord::kExits + 4), NO_TARGET);
    const FlowBlock& script = f.blocks[2];
    EXPECT_EQ(script.rec.loadedKind(), kKindScript);
    EXPECT_EQ(script.instructionCount(), 2);
    EXPECT_EQ(script.defaultExit(), NO_TARGET);
    ASSERT_EQ(script.code.size(), 2u);
    EXPECT_EQ(script.code[1].opcode(), kGotodef);
    EXPECT_EQ(script.code[1].line(), 1u);
    EXPECT_EQ(std::string(f.pool.begin(), f.pool.begin() + 3), "abc");
  }
}

// The reader's own codes and the reasons it gives people, for files cut or
// damaged at each length it checks.
TEST(CplReader, RefusesDamagedFilesWithCodeAndReason) {
  const auto good = sampleFlow(kMagic1001);
  auto with = [&](auto edit) {
    auto b = good;
    edit(b);
    return b;
  };
  // Offsets in the sample: frame 8, start 6, play voice 542, script from 556.
  const size_t scriptAt = 8 + 6 + 542;
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    ReadCode want;
    const char* problem;
  } cases[] = {
      {"empty", {}, kReadBadMagic, "file shorter than its 4-byte magic"},
      {"project magic", with([](auto& b) { b[3] = '0'; }), kReadBadMagic,
       "unknown magic (not 1001 or 1002)"},
      {"no block count",
       {'1', '0', '0', '1', 1, 0},
       kReadShortFile,
       "file ends before the block count"},
      {"block count past the end", with([](auto& b) { putI32(b, 4, 0x7FFFFFFF); }), kReadShortFile,
       "block count 2147483647 does not fit in the file"},
      {"negative block count", with([](auto& b) { putI32(b, 4, -1); }), kReadShortFile,
       "block count -1 does not fit in the file"},
      {"play voice cut", with([](auto& b) { b.resize(8 + 6 + 100); }), kReadShortFile,
       "block 1: section of kind 41 cut short"},
      {"unknown kind", with([](auto& b) { putI16(b, 8 + 6, 7); }), kReadBadMagic,
       "block 1: unknown block kind 7"},
      {"instructions past the end", with([&](auto& b) { putI32(b, scriptAt + 2, 100000000); }),
       kReadShortFile, "block 2: 100000000 instructions do not fit in the file"},
      {"no default exit", with([&](auto& b) { b.resize(scriptAt + 6 + 2 * kInstrSize + 2); }),
       kReadShortFile, "block 2: file ends before its default exit"},
      {"pool one byte short", with([](auto& b) { b.pop_back(); }), kReadShortFile,
       "string pool has 4095 of its 4096 bytes"},
      {"bytes after the pool", with([](auto& b) { b.push_back(1); }), kReadOk, ""},
  };
  for (const auto& c : cases) {
    ParsedFlow f;
    EXPECT_EQ(parseCompiledFlow(c.bytes, f), c.want) << c.name;
    EXPECT_EQ(f.problem, c.problem) << c.name;
  }
}

// What a failed compile leaves: the frame counts every block of the chart,
// the sections before the failing script block are whole, its kind follows,
// and the reader refuses the file as cut short.
TEST(CplReader, PartialFileOfAFailedCompile) {
  CplWriter w;
  auto start = blankRecord(kKindStart);
  setExit(start, 0, 1);
  ASSERT_TRUE(w.addRecord(start));
  const auto bytes = w.finishFailedScript(3);
  const std::vector<uint8_t> want = {'1', '0', '0', '1', 3, 0, 0, 0,  // frame
                                     6,   0,   1,   0,   0, 0,        // start, exit to 1
                                     48,  0};                         // the failing block
  EXPECT_EQ(bytes, want);
  ParsedFlow f;
  EXPECT_EQ(parseCompiledFlow(bytes, f), kReadShortFile);
  EXPECT_EQ(f.problem, "block 1: file ends in the script header");
}

TEST(BlockImage, KindsAndScriptFields) {
  BlockImage s = BlockImage::script(7, 12);
  EXPECT_EQ(s.kind(), kKindScript);
  EXPECT_EQ(s.loadedKind(), kKindScript);
  EXPECT_EQ(s.instructionCount(), 7);
  EXPECT_EQ(s.defaultExit(), 12);
  // The runtime's own kinds replace the kind, never the kind as loaded.
  s.setKind(kKindDelayedHangup);
  EXPECT_EQ(s.kind(), kKindDelayedHangup);
  EXPECT_EQ(s.loadedKind(), kKindScript);
  // A text field running past the image is cut at its end, and an offset
  // outside it reads as empty.
  BlockImage b = BlockImage::ofKind(kKindPlayVoice);
  std::fill(b.bytes().begin() + 540, b.bytes().end(), 'x');
  EXPECT_EQ(b.textAt(540 - kBlockPayloadShift, 100), std::string(8, 'x'));
  EXPECT_EQ(b.textAt(BlockImage::kSize, 10), "");
}

}  // namespace
}  // namespace cpl
