// The flow chart: an ordered list of blocks and an ordered list of
// connections from block exits to block input ports. The list index of a
// block is its identity everywhere: exit targets, connections, the compiled
// flow file. The window only observes and edits this model; nothing here
// draws.
//
// Texts held by the model (exit names, notes, script text) are GBK, as the
// project file stores them. The project file name is a Linux path (UTF-8).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
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

struct TMyOut {
  std::string name;  // empty for the numbered exits of fixed kinds
  int32_t target = NO_TARGET;
  uint8_t used = 1;  // script exits only: still named by the script
};

struct TConnect {
  std::vector<TMYPoint> points;  // first at the source exit, last at the target's port
  int32_t source = 0;
  int32_t exit = 0;
  int32_t target = 0;
  uint8_t selected = 0;
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
// the script block carries its script text instead.
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
  uint8_t selected = 1;
  std::string note;  // GBK
  uint8_t enabled = 1;
  std::vector<uint8_t> record;  // the kind's parameter record; empty for the script block

  bool isScript() const { return kind == cpl::kKindScript; }
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
  // The record with every exit's target in its exit slots (fixed kinds).
  std::vector<uint8_t> recordWithExits() const;
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

  // Merge by name: the default exit takes `target` and is used again; any
  // other exit of that name is used again and keeps its target; otherwise a
  // new exit is appended. Returns the exit's index.
  int mergeExit(std::string_view name, int32_t target);
  // The target of the first exit named `name`, or NO_TARGET.
  int32_t lookupExit(std::string_view name) const;
};

// A new block of `kind` with its exits and images, selected and enabled, at
// (0, 0); nullptr for a kind outside the table.
std::unique_ptr<GELE> createBlock(int kind);

// What lies under the mouse, as the canvas classifies it on every move:
// codes 0..7 are the handles of the selected connection (geometry.h,
// Handle), 11 another connection, 9 a block's input port, 10 a block's
// exit, 8 a block's body, -1 nothing.
struct Hover {
  int code = -1;
  int block = -1;  // the block, for 8..10
  int index = -1;  // the connection for 0..7 and 11; the exit for 10
};

class Chart {
 public:
  Chart();  // a new chart: the start block at (100, 100)

  std::vector<std::unique_ptr<GELE>> blocks;
  std::vector<TConnect> connects;
  int tool = kSelectTool;
  int current = -1;          // block under the last click
  int selectedConnect = -1;  // index into connects
  int selectedCount = 0;
  std::string fileName{kUntitled};
  bool modified = false;

  // Where the chart reports what a person must see; may be null.
  void setMessageSink(platform::MessageSink* sink) { sink_ = sink; }

  // Empties both lists (a loaded file fills them again).
  void clear();
  // Back to a new chart: only the start block, untitled, unmodified.
  void reset();

  int blockCount() const { return static_cast<int>(blocks.size()); }
  GELE& block(int i) { return *blocks[i]; }
  const GELE& block(int i) const { return *blocks[i]; }

  // Places a new block with its corner at (left, top); it becomes the only
  // selected block. Returns its index, or -1 for a kind outside the table or
  // a second start block.
  int addBlock(int kind, int32_t left, int32_t top);
  // Appends an already built block (the project reader). Returns its index.
  int appendBlock(std::unique_ptr<GELE> b);

  // The first block whose body holds (x, y), else the first whose exit or
  // port does; -1 when none.
  int findBlock(int x, int y) const;
  // The first unselected connection at (x, y): near one of its inner points,
  // or on one of its segments; -1 when none.
  int findConnect(int x, int y) const;
  // The hover code at (x, y).
  Hover hoverAt(int x, int y) const;
  // A release with a block tool chosen places a block of that kind with its
  // corner at (x, y) and returns to the selection tool. Returns the new
  // block's index, or -1 when the tool is the selection tool.
  int placeWithTool(int x, int y);

  // The index of the connection that leaves exit `exit` of block `source`, or -1.
  int connectFrom(int source, int exit) const;

  // Joins exit `exit` of block `source` to the port of block `target` along
  // `points` (the first at the exit anchor, the last at the port anchor).
  // Refused: the start block to itself, an exit that already has a
  // connection, indices outside the lists. Returns the connection's index or -1.
  int connect(int source, int exit, int target, std::vector<TMYPoint> points);
  // The drop of a drag that began at exit `exit` of block `source` on the
  // place whose hit code at block `target` is `hitCode`.
  int dropConnection(int source, int exit, int target, int hitCode, std::vector<TMYPoint> points);

  // Moves one block and re-anchors the connections at its exits and port.
  void moveBlock(int i, int32_t left, int32_t top);
  // Moves every selected block by (dx, dy); connections between two moved
  // blocks move with them whole.
  void moveSelected(int32_t dx, int32_t dy);

  // Deletes block `a`: exits that led to it lead nowhere, its connections
  // go, and every index above it drops by one. The start block stays (and
  // the message is shown). False when nothing was deleted.
  bool deleteBlock(int a);
  // Deletes every selected block; returns how many went.
  int deleteSelectedBlocks();
  // Deletes connection `i` and clears the exit that it records.
  bool deleteConnect(int i);

  // After the script editor of script block `b` returned the exit names its
  // script uses (GBK): the named exits are merged in, connections of exits no
  // longer named are removed, the remaining ones re-anchored, unused exits deleted.
  void setScriptExits(int b, const std::vector<std::string>& names);

  // Rubber band from (x1, y1) to (x2, y2), corners in any order: selects
  // exactly the blocks lying strictly inside it; returns their number.
  int selectInside(int x1, int y1, int x2, int y2);
  void selectAll();
  void deselectAll();
  int countSelected() const;

 private:
  // Puts the ends of the connections at block i back on its exits and port;
  // the point next to a moved end follows so that the end segment keeps its
  // direction. `skipBothSelected` leaves connections between two selected blocks.
  void reanchorBlock(int i, bool skipBothSelected);
  bool isSelected(int i) const;
  void show(std::string_view text);

  platform::MessageSink* sink_ = nullptr;
};

}  // namespace chart
