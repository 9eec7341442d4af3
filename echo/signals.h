// Synthetic line signals for measuring the canceller: far-end voices, an echo
// path, the captured signal it gives, and the echo return loss enhancement.
// All generators are seeded and give the same samples on every machine.
#ifndef OLVARO_ECHO_SIGNALS_H_
#define OLVARO_ECHO_SIGNALS_H_

#include <cstdint>
#include <vector>

namespace dampa::signals {

inline constexpr int kRate = 8000;

// Gaussian white noise with the given RMS, rounded and limited to 16 bits.
std::vector<int> whiteNoise(int samples, double rms, uint64_t seed);

// A voice-like signal: noise shaped by two formant resonances, with a
// syllable envelope of a few hertz, in talk spurts of 0.4 to 1.6 s separated
// by silent pauses of 0.15 to 0.6 s. RMS over the spurts is about `rms`.
std::vector<int> speechLike(int samples, double rms, uint64_t seed);

// An echo path of `taps` taps: a short bulk delay, then random taps under an
// exponential decay, scaled so that white noise through it loses `erl_db`.
std::vector<double> echoPath(int taps, double erl_db, uint64_t seed);

// What the line captures while `far` plays: far through `path`, plus white
// noise `noise_below_db` below the echo's power, rounded to integers.
std::vector<int> capture(const std::vector<int>& far, const std::vector<double>& path,
                         double noise_below_db, uint64_t seed);

// 10 log10 of captured power over output power, over samples [from, to).
double erleDb(const std::vector<int>& captured, const std::vector<int>& output, int from, int to);

}  // namespace dampa::signals

#endif  // OLVARO_ECHO_SIGNALS_H_
