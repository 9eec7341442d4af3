// The flow chart, the designer's document: an ordered list of blocks and an
// ordered list of connections from block exits to block input ports. The
// list index of a block is its identity in the files: connections, the
// project file and the compiled flow refer to blocks by index.
//
// The chart is closed: outside code reads it and changes it only by
// applying commands (Chart::apply), which keeps one truth for every fact:
// an exit leads where the single connection drawn from it leads, so no
// target is ever kept in step with a connection by hand. Every applied
// command can be undone and redone; observers hear what changed. What the
// canvas shows on top of the document (selection, tool, hover, drag
// feedback) lives in canvas_state.h.
//
// Texts held by the model (exit names, notes, script text) are GBK, as the
// project file stores them. The project file name is a Linux path (UTF-8).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "flowfile/cplformat.h"
#include "platform/messagebox.h"

namespace chart {

using cpl::NO_TARGET;

// Geometry of a block on the canvas.
inline constexpr int kBlockWidth = 80;
inline constexpr int kBlockHeight = 20;
inline constexpr int kExitPitch = 12;  // exit i spans [left + 12i, left + 12i + 12]
inline constexpr int kExitHeight = 12;
inline constexpr int kInputPort = 200;  // hit code of the input port; exits stay below it
inline constexpr int kSelectTool = 5;
inline constexpr int kCanvasSize = 5000;
inline constexpr int kStartLeft = 100, kStartTop = 100;

// Names of the two exits every script block has (GBK).
const std::string& defaultExitName();  // "缺省出口"
const std::string& hangupExitName();   // "挂机出口"

// Texts of the designer (UTF-8).
inline constexpr std::string_view kUntitled = "未命名";
inline constexpr std::string_view kEditorCaption = "IVR流程编辑器";
inline constexpr std::string_view kCannotDeleteStart = "开始命令不能够删除!";

struct TMYPoint {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const TMYPoint&) const = default;
};
using Polyline = std::vector<TMYPoint>;

// An exit of a block. Where it leads is not kept here: it is the target of
// the connection drawn from it (Chart::exitTarget).
struct TMyOut {
  std::string name;  // empty for the numbered exits of fixed kinds
  uint8_t used = 1;  // script exits only: still named by the script
  bool operator==(const TMyOut&) const = default;
};

struct TConnect {
  Polyline points;  // first at the source exit, last at the target's port
  int32_t source = 0;
  int32_t exit = 0;
  int32_t target = 0;
  uint32_t id = 0;  // stable while the connection exists; given by the chart
  bool operator==(const TConnect&) const = default;
};

// The points gathered while a connection is dragged out; at most 100.
class TDrawTrail {
 public:
  static constexpr int kMaxPoints = 100;
  void push(TMYPoint p) {
    if (count_ < kMaxPoints) points_[count_++] = p;
  }
  void clear() { count_ = 0; }
  int count() const { return count_; }
  std::vector<TMYPoint> points() const { return {points_, points_ + count_}; }

 private:
  int count_ = 0;
  TMYPoint points_[kMaxPoints];
};

// One block. Fixed kinds carry their parameter record (flowfile/blockrecords.h);
// the script block carries its script text instead. A block inside a chart
// is reached only as const; it changes by commands.
class GELE {
 public:
  GELE(int kind, int exitCount);
  virtual ~GELE() = default;
  GELE(const GELE&) = default;
  GELE& operator=(const GELE&) = default;

  std::vector<TMyOut> exits;
  std::vector<std::string> exitImages;  // resource names, one per exit
  int32_t kind;
  std::string image;  // "CMD" + kind
  int32_t top = 0;
  int32_t left = 0;
  std::string inputImage = "CMDIN";
  std::string note;  // GBK
  uint8_t enabled = 1;
  std::vector<uint8_t> record;  // the kind's parameter record; empty for the script block
  uint32_t id = 0;              // stable while the block exists; given by the chart

  bool isScript() const { return kind == cpl::kKindScript; }
  int exitCount() const { return static_cast<int>(exits.size()); }
  void move(int32_t newLeft, int32_t newTop) {
    left = newLeft;
    top = newTop;
  }
  TMYPoint exitAnchor(int i) const { return {left + kExitPitch * i + 6, top + 32}; }
  TMYPoint inputAnchor() const { return {left + 6, top - 6}; }
  bool bodyContains(int x, int y) const {
    return left < x && x < left + kBlockWidth && top < y && y < top + kBlockHeight;
  }
  // Exit index, kInputPort, or -1; `anchor` (may be null) gets the point where
  // a connection attaches.
  int hitTest(int x, int y, TMYPoint* anchor = nullptr) const;
};

class GCMD_START : public GELE {
 public:
  GCMD_START() : GELE(cpl::kKindStart, 1) {}
};
class GCMD_DTC_CALLSEAT : public GELE {
 public:
  GCMD_DTC_CALLSEAT() : GELE(cpl::kKindCallSeat, 3) {}
};
class GCMD_DTC_PLAYVOC : public GELE {
 public:
  GCMD_DTC_PLAYVOC() : GELE(cpl::kKindPlayVoice, 3) {}
};
class GCMD_DTC_TALK2 : public GELE {
 public:
  GCMD_DTC_TALK2() : GELE(cpl::kKindTalk, 4) {}
};
class GCMD_DTC_INPUT : public GELE {
 public:
  GCMD_DTC_INPUT() : GELE(cpl::kKindInput, 3) {}
};
class GCMD_DTC_DIGIT : public GELE {
 public:
  GCMD_DTC_DIGIT() : GELE(cpl::kKindDigit, 14) {}
};
class GCMD_DTC_CREATEMEET : public GELE {
 public:
  GCMD_DTC_CREATEMEET() : GELE(cpl::kKindCreateMeet, 2) {}
};
class GCMD_DTC_ENTERMEET : public GELE {
 public:
  GCMD_DTC_ENTERMEET() : GELE(cpl::kKindEnterMeet, 2) {}
};
class GCMD_DTC_MEETTALK : public GELE {
 public:
  GCMD_DTC_MEETTALK() : GELE(cpl::kKindMeetTalk, 2) {}
};
class GCMD_DTC_CALLEXT : public GELE {
 public:
  GCMD_DTC_CALLEXT() : GELE(cpl::kKindCallExt, 6) {}
};
class GCMD_DTC_CALLOUT : public GELE {
 public:
  GCMD_DTC_CALLOUT() : GELE(cpl::kKindCallOut, 6) {}
};
class GCMD_DTC_RECORD : public GELE {
 public:
  GCMD_DTC_RECORD() : GELE(cpl::kKindRecord, 3) {}
};
class GCMD_DTC_PLAYTTS : public GELE {
 public:
  GCMD_DTC_PLAYTTS() : GELE(cpl::kKindPlayTts, 3) {}
};
class GCMD_DTC_CYCPLAY : public GELE {
 public:
  GCMD_DTC_CYCPLAY() : GELE(cpl::kKindCycPlay, 2) {}
};

class GCMD_DTC_SCRIPT : public GELE {
 public:
  GCMD_DTC_SCRIPT();   // the default and hang-up exits
  std::string script;  // GBK, lines as the editor keeps them

  // Merge by name: an exit of that name is used again; otherwise a new exit
  // is appended. Returns the exit's index and whether it was appended.
  int mergeExit(std::string_view name, bool* appended = nullptr);
  // The index of the first exit named `name`, or -1.
  int findExit(std::string_view name) const;
};

// A new block of `kind` with its exits and images, enabled, at (0, 0);
// nullptr for a kind outside the table.
std::unique_ptr<GELE> createBlock(int kind);
// A copy of `b`, of its own class.
std::unique_ptr<GELE> cloneBlock(const GELE& b);
// The record of a fixed-kind block with the kind in its first two bytes and
// `targets[i]` in exit slot i, as the project and compiled files hold it.
std::vector<uint8_t> recordWithExits(const GELE& b, const std::vector<int32_t>& targets);

// The whole document, as a loader builds it and as undo keeps it. Blocks are
// shared between versions and never changed once inside a chart.
struct ChartContents {
  std::vector<std::shared_ptr<const GELE>> blocks;
  std::vector<TConnect> connects;
};

// ---- Commands -----------------------------------------------------------------
// Indices are those of the chart the command is applied to.
namespace cmd {
// A new block with its corner at (left, top). Result: its index.
struct PlaceBlock {
  int kind;
  int32_t left, top;
};
// The blocks move by (dx, dy); connections between two of them move whole,
// the others keep their far ends. Consecutive moves of the same blocks are
// one undo step.
struct MoveBlocks {
  std::vector<int> blocks;
  int32_t dx, dy;
};
// Exit `exit` of `source` leads to `target` along `points` (fewer than two:
// a straight line). Refused: the start block to itself, an exit already
// connected. Result: the connection's index.
struct Connect {
  int source, exit, target;
  Polyline points;
};
// A connection takes a new route; its ends stay on their exit and port.
struct Reshape {
  int connection;
  Polyline points;
};
// The connection (when not -1) goes first, then the blocks; the start block
// stays and the message says so. Result: the number of blocks deleted.
struct Delete {
  std::vector<int> blocks;
  int connection = -1;
};
// A fixed-kind block's record, as its dialog stores it (same kind and size).
struct EditRecord {
  int block;
  std::vector<uint8_t> record;
};
// A script block's text and the exit names the compiler found in it: the
// named exits are merged in, connections of exits no longer named go, the
// others are re-anchored.
struct EditScript {
  int block;
  std::string script;
  std::vector<std::string> exitNames;
};
struct EditNote {
  int block;
  std::string note;
};
// A disabled block is drawn crossed out; the flag is saved with the project.
struct SetEnabled {
  int block;
  bool enabled;
};
}  // namespace cmd

using Command =
    std::variant<cmd::PlaceBlock, cmd::MoveBlocks, cmd::Connect, cmd::Reshape, cmd::Delete,
                 cmd::EditRecord, cmd::EditScript, cmd::EditNote, cmd::SetEnabled>;

struct Applied {
  bool ok = false;  // false: refused, the chart is unchanged
  int index = -1;   // the new block or connection; blocks deleted for Delete
};

// What an observer is told after each change.
struct ChartChange {
  enum class What {
    kReplaced,  // a new, loaded or reset chart: everything may differ
    kBlockPlaced,
    kBlocksMoved,
    kConnected,
    kReshaped,
    kDeleted,
    kRecordEdited,
    kScriptEdited,
    kNoteEdited,
    kEnabledSet,
    kUndone,  // the document went back or forward by a step: everything may differ
    kRedone,
    kModified,  // only the modified flag or the file name changed
  };
  What what;
  // The blocks and connections concerned, numbered as after the change;
  // for kDeleted, as they were numbered before it.
  std::vector<int> blocks;
  std::vector<int> connections;
};

class ChartObserver {
 public:
  virtual ~ChartObserver() = default;
  virtual void chartChanged(const ChartChange& change) = 0;
};

class Chart {
 public:
  Chart();  // a new chart: the start block at (100, 100)
  Chart(const Chart&) = delete;
  Chart& operator=(const Chart&) = delete;
  Chart(Chart&&) = default;
  Chart& operator=(Chart&&) = default;

  // Where the chart reports what a person must see; may be null.
  void setMessageSink(platform::MessageSink* sink) { sink_ = sink; }
  void addObserver(ChartObserver* o);
  void removeObserver(ChartObserver* o);

  // ---- reading
  int blockCount() const { return static_cast<int>(doc_.blocks.size()); }
  const GELE& block(int i) const { return *doc_.blocks[i]; }
  int connectCount() const { return static_cast<int>(doc_.connects.size()); }
  const TConnect& connection(int i) const { return doc_.connects[i]; }
  const std::vector<TConnect>& connections() const { return doc_.connects; }
  const ChartContents& contents() const { return doc_; }

  // The block or connection of a stable id, or -1.
  int blockIndexOf(uint32_t id) const;
  int connectionIndexOf(uint32_t id) const;
  // The connection that leaves exit `exit` of block `source`, or -1.
  int connectFrom(int source, int exit) const;
  // Where exit `exit` of `source` leads: its connection's target, or NO_TARGET.
  int32_t exitTarget(int source, int exit) const;
  std::vector<int32_t> exitTargets(int source) const;
  // The target of the first exit of script block `b` named `name`, or NO_TARGET.
  int32_t lookupExit(int b, std::string_view name) const;

  // The first block whose body holds (x, y), else the first whose exit or
  // port does; -1 when none.
  int findBlock(int x, int y) const;
  // The first connection at (x, y), skipping the one of id `skip` (the
  // selected one): near one of its inner points, or on one of its
  // segments; -1 when none.
  int findConnect(int x, int y, uint32_t skip = 0) const;

  // ---- editing
  // The one way to change the document. A refused command changes nothing
  // and leaves no undo step.
  Applied apply(const Command& c);

  bool canUndo() const { return pos_ > 0; }
  bool canRedo() const { return pos_ < static_cast<int>(steps_.size()); }
  bool undo();
  bool redo();
  // The next move starts a step of its own even when it moves the same blocks.
  void endMerge() { mergeOpen_ = false; }

  // Shorthands for apply().
  int addBlock(int kind, int32_t left, int32_t top) {
    return apply(cmd::PlaceBlock{kind, left, top}).index;
  }
  int connect(int source, int exit, int target, Polyline points) {
    return apply(cmd::Connect{source, exit, target, std::move(points)}).index;
  }
  bool moveBlocks(std::vector<int> blocks, int32_t dx, int32_t dy) {
    return apply(cmd::MoveBlocks{std::move(blocks), dx, dy}).ok;
  }
  int deleteBlocks(std::vector<int> blocks) { return apply(cmd::Delete{std::move(blocks)}).index; }
  bool deleteConnect(int i) { return apply(cmd::Delete{{}, i}).ok; }
  bool setRecord(int b, std::vector<uint8_t> record) {
    return apply(cmd::EditRecord{b, std::move(record)}).ok;
  }
  bool setNote(int b, std::string note) { return apply(cmd::EditNote{b, std::move(note)}).ok; }
  bool setEnabled(int b, bool enabled) { return apply(cmd::SetEnabled{b, enabled}).ok; }
  bool setScript(int b, std::string script, std::vector<std::string> exitNames) {
    return apply(cmd::EditScript{b, std::move(script), std::move(exitNames)}).ok;
  }
  // The exits only, the script text kept.
  bool setScriptExits(int b, std::vector<std::string> exitNames);

  // ---- the document as a whole (no undo step; the history is forgotten)
  // Back to a new chart: only the start block, untitled, unmodified.
  void reset();
  // Replaces everything by `contents` (a loader's result). Connections that
  // name a missing block or exit, or an exit already connected, are dropped;
  // blocks and connections get fresh ids. Returns how many were dropped.
  int replace(ChartContents contents);

  const std::string& fileName() const { return fileName_; }
  void setFileName(std::string name);
  bool modified() const { return modified_; }
  // The canvas marks a drag as a change; a save clears the mark, and the
  // state it saved counts as unmodified again when undo or redo returns to it.
  void setModified(bool m);

 private:
  struct Step {
    ChartContents before, after;
    bool move = false;
    std::vector<uint32_t> moved;  // ids of the moved blocks
  };

  Applied placeBlock(const cmd::PlaceBlock& c, ChartChange& ch);
  Applied moveBlocks(const cmd::MoveBlocks& c, ChartChange& ch);
  Applied connectExit(const cmd::Connect& c, ChartChange& ch);
  Applied reshape(const cmd::Reshape& c, ChartChange& ch);
  Applied remove(const cmd::Delete& c, ChartChange& ch);
  Applied editRecord(const cmd::EditRecord& c, ChartChange& ch);
  Applied editScript(const cmd::EditScript& c, ChartChange& ch);
  Applied editNote(const cmd::EditNote& c, ChartChange& ch);
  Applied setEnabled(const cmd::SetEnabled& c, ChartChange& ch);

  // A private copy of block i to change; the old version stays with undo.
  GELE& writable(int i);
  void deleteBlock(int a);
  // Puts the ends of the connections at block i back on its exits and port;
  // the point next to a moved end follows so that the end segment keeps its
  // direction. Connections for which `skip` holds are left alone.
  template <typename Skip>
  void reanchorBlock(int i, Skip skip);
  void show(std::string_view text);
  void notify(const ChartChange& c);
  void afterJump(ChartChange::What what);
  bool validBlock(int i) const { return i >= 0 && i < blockCount(); }

  ChartContents doc_;
  std::vector<Step> steps_;
  int pos_ = 0;       // steps_[0, pos_) are done
  int cleanPos_ = 0;  // the step count at the last save; -1 when unreachable
  bool mergeOpen_ = false;
  uint32_t nextId_ = 1;
  std::string fileName_{kUntitled};
  bool modified_ = false;
  platform::MessageSink* sink_ = nullptr;
  std::vector<ChartObserver*> observers_;
};

}  // namespace chart
