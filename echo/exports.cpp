// The exported entry points. This file is compiled once per library, with
// DAMPA_CHANNEL choosing the names, so that each library has its own state.
#include "echo/canceller.h"
#include "echo/dampa.h"
#include "echo/kernels.h"

#ifndef DAMPA_CHANNEL
#error "DAMPA_CHANNEL must be 0 or 1"
#endif

namespace {
dampa::State g_state;
// Chosen once, when the library is loaded.
const dampa::Kernels& g_kernels = dampa::bestKernels();
}  // namespace

#if DAMPA_CHANNEL == 1
extern "C" int initial_b(void) {
  dampa::reset(g_state);
  return 0;
}
extern "C" int Dampa_1(int captured, int reference) {
  return dampa::process(g_state, captured, reference, g_kernels);
}
#elif DAMPA_CHANNEL == 0
extern "C" int initial_a(void) {
  dampa::reset(g_state);
  return 0;
}
extern "C" int Dampa_0(int captured, int reference) {
  return dampa::process(g_state, captured, reference, g_kernels);
}
#else
#error "DAMPA_CHANNEL must be 0 or 1"
#endif
