// `olvaro simulate`: the command line of the call simulation.
#pragma once

namespace sim {

// argv[0] is "simulate". Returns the exit status.
int simulateMain(int argc, char** argv);

}  // namespace sim
