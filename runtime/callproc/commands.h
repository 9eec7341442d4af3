// What other threads hand to the scan thread, and what the scan thread
// publishes for them to read. The scan thread owns the channel tables, the
// flow banks, the trigger table, the record sets and the prepared SQL texts;
// every other thread (the KeyCall receiver, the signal handler's reload, the
// windows, the voice-box callbacks) posts one of these commands to the
// runtime's inbox, which the pass drains at its start.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "runtime/interpreter/loader.h"

namespace callproc {

struct Trigger {
  std::string code;  // GBK, at most 19 bytes
  int slot = -1;
};

// A simulated caller's event (KeyCall): a call arriving with its caller
// number, a key, or the caller hanging up.
struct KeyCallEvent {
  enum Kind { kBegin, kEnd, kKey };
  int channel = 0;
  Kind kind = kKey;
  std::string caller;  // kBegin: GBK, at most 19 bytes
  char key = 0;        // kKey
};

// A flow file read and parsed off the pass, to go into a bank of `slot` by
// the two-bank rule: new calls take the new version, running calls finish on
// theirs. `code` is the read or parse result (kLoadOk when `flow` is set).
struct LoadFlow {
  int slot = 0;
  std::string path;    // as configured (UTF-8)
  std::string vocDir;  // as configured (UTF-8)
  interp::LoadCode code = interp::kLoadOk;
  std::shared_ptr<cpl::ParsedFlow> flow;
  // Called on the scan thread with the load code once the slot is filled
  // (or refused).
  std::function<void(int code)> done;
};

// Marks a slot as holding no configured flow (both free flags).
struct FreeSlot {
  int slot = 0;
};

struct ReplaceTriggers {
  std::vector<Trigger> triggers;
};

// The [System] settings that take effect at once.
struct SystemSettings {
  int callallow = 1;
  int callintype = 1;
  int messageshow = 1;
  int dtmftimeout = 10;
  int replaycnt = 0;
  int replaytime = 0;
  std::string callednum;
};

// Manual line control of an outer line.
struct LineControl {
  enum Action { kOffHook, kHangUp, kDial };
  int channel = 0;
  Action action = kOffHook;
  std::string number;  // kDial
};

// Plays a file on a channel for the window (a voice mail of the telephone
// format heard on channel 0), or stops it. The snapshot tells how it goes.
struct WindowPlay {
  int channel = 0;
  std::string path;  // GBK, as the database holds it
  int mode = 1;      // CTIPlayFile's mode: 1 telephone voice format, 0 sound card
  bool stop = false;
};

// The numbers of the channels from 0 ([Out<n>] lineno, UTF-8), stored as
// line or extension numbers by each channel's type.
struct ChannelNumbers {
  std::vector<std::string> numbers;
};

using Command = std::variant<KeyCallEvent, LoadFlow, FreeSlot, ReplaceTriggers, SystemSettings,
                             LineControl, ChannelNumbers, WindowPlay>;

// One channel as the last pass left it.
struct ChannelSnapshot {
  int16_t kind = 0;  // current block kind (0 waiting for call, 1 delayed hang-up)
  int32_t blockIndex = 0;
  int32_t slot = -1;  // flow slot of the running call, -1 none
  int32_t bank = 0;
  int16_t lineState = 0;
  int icon = 0;        // 0 idle, 1 off-hook
  int status = 0;      // index into kStatusTexts
  std::string caller;  // UTF-8
  int type = 0;        // CTIGetChannelType: 1 outer line, 2 inner line
  std::string number;  // UTF-8: line number, or extension number of an inner line
  // The window's playback on this channel (WindowPlay): 0 none or ended,
  // 1 playing, -1 it could not start.
  int windowPlay = 0;
};

// One configured flow slot: what the flow settings list shows.
struct FlowUsage {
  int slot = 0;
  int32_t use[2] = {0, 0};
  int32_t version[2] = {0, 0};
  int current = 0;           // the bank new calls take
  std::string path, vocDir;  // of the current bank, UTF-8
};

struct RuntimeSnapshot {
  uint64_t pass = 0;  // passes run so far
  int channelCount = 0;
  int callintype = 1;
  std::vector<ChannelSnapshot> channels;
  std::vector<FlowUsage> flows;  // slots holding a flow, in slot order
};

}  // namespace callproc
