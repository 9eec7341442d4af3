// What every window of the runtime works with: the runtime it posts to and
// reads snapshots from, the configuration file the dialogs write at once,
// and the seam through which they ask a person.
#pragma once

#include <string>
#include <vector>

#include "runtime/callproc/config.h"
#include "runtime/callproc/database.h"
#include "runtime/callproc/runtime.h"
#include "runtime/ui/asker.h"

namespace ui {

class AudioOutput;

struct UiContext {
  callproc::Runtime& rt;
  std::string iniPath;
  // The settings as the dialogs last wrote them (the trigger rows are the
  // live table's, in its order).
  callproc::SysConfig cfg;
  Asker* asker = nullptr;
  // The database the runtime opened at start-up: the browsers read the same
  // one (a connection of their own, so a slow query holds neither the
  // window nor the scan pass). The data source dialog's changes apply from
  // the next start.
  callproc::DbSettings db;
  // Where voice mail recorded under simulated access is heard; null: the
  // computer's sound output.
  AudioOutput* audio = nullptr;
};

}  // namespace ui
