// Echo canceller libraries Dampa1 and Dampa0.
//
// Each library removes the echo of a played (reference) signal from the
// signal captured on the same line, one sample at a time, with a 1024-tap
// normalised LMS filter. libDampa1.so exports initial_b and Dampa_1;
// libDampa0.so exports initial_a and Dampa_0. The two are built from the same
// code and each keeps its own process-wide state, so one echo path per
// library can be cancelled at a time.
//
// Threading: the state is global and unguarded. Only one thread at a time may
// call a library's two functions; calls to Dampa1 and Dampa0 may overlap.
//
// Samples are 16-bit PCM values in 32-bit integers. Results are limited to
// -32767..32767.
#ifndef OLVARO_ECHO_DAMPA_H_
#define OLVARO_ECHO_DAMPA_H_

#define DAMPA_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

// Starts a new echo path: clears the filter weights, both sample histories
// and the detector's block peaks. Returns 0.
DAMPA_EXPORT int initial_b(void);

// Returns `captured` with the estimated echo of `reference` removed.
DAMPA_EXPORT int Dampa_1(int captured, int reference);

// The same pair for the second canceller (libDampa0.so).
DAMPA_EXPORT int initial_a(void);
DAMPA_EXPORT int Dampa_0(int captured, int reference);

#ifdef __cplusplus
}
#endif

#endif  // OLVARO_ECHO_DAMPA_H_
