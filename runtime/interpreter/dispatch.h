// How the interpreter finds the code of a command: each command family's
// file registers its handlers keyed by opcode, and one dispatch table indexed
// by opcode is built from them, checked against opcode_list.h so that it
// covers exactly the opcodes the list marks as executed, each in the file of
// its family.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "flowfile/cplformat.h"

namespace interp {

class ScriptRun;

using CommandHandler = void (*)(ScriptRun&);

struct HandlerEntry {
  int16_t opcode;
  CommandHandler run;
  // The handler takes operand types its layout does not admit and answers
  // them itself (its own trace line, or nothing stored), so the shared type
  // check lets them through.
  bool reportsOwnTypes = false;
};

// The handlers of one family's file.
struct FamilyHandlers {
  cpl::OpcodeFamily family;
  std::span<const HandlerEntry> handlers;
};

std::span<const HandlerEntry> controlHandlers();     // control_cmds.cpp
std::span<const HandlerEntry> assignHandlers();      // assign_cmds.cpp
std::span<const HandlerEntry> stringDateHandlers();  // string_date_cmds.cpp
std::span<const HandlerEntry> databaseHandlers();    // database_cmds.cpp

// Every family file of the interpreter.
std::vector<FamilyHandlers> interpreterFamilies();

// Where `families` disagree with the opcode list, one text per fault: an
// executed opcode without a handler, a handler for an opcode outside the
// list or not executed, an opcode registered twice, a handler in another
// family's file. Empty when they agree.
std::vector<std::string> checkDispatch(std::span<const FamilyHandlers> families);

struct DispatchEntry {
  CommandHandler run = nullptr;  // null: the runtime passes over the opcode
  bool reportsOwnTypes = false;
};
using DispatchTable = std::array<DispatchEntry, cpl::kOpcodeCount>;

// The table of the interpreter's families, built on first use. A
// disagreement with the opcode list is a fault of the program, not of any
// input: it is written to standard error and the program stops.
const DispatchTable& dispatchTable();

}  // namespace interp
