// The control commands of the virtual voice box as text, shared by the
// library's control socket and the `voicebox` tool's help.
#pragma once

#include <string>

namespace parvane {

// Runs one command line against the virtual box; the reply starts with "ok"
// or "error:". ok tells which.
std::string runControlCommand(const std::string& line, bool& ok);

// The command summary the tool prints for --help.
extern const char* const kControlHelp;

// The socket path for a configured value (empty: the default for this user;
// "off": none, an empty result).
std::string controlSocketPath(const char* configured);

}  // namespace parvane
