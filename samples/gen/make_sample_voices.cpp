// Writes the sample voice files: A-law, 8000 samples a second. Each prompt is
// a short tune of its own, so that a listener can tell them apart.
//   make_sample_voices OUTDIR
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

// G.711 A-law encoding of a 16-bit sample.
uint8_t alaw(int16_t pcm) {
  int sign = (pcm >> 8) & 0x80;
  if (sign) pcm = static_cast<int16_t>(pcm == -32768 ? 32767 : -pcm);
  int v = pcm;
  uint8_t out;
  if (v >= 256) {
    int exp = 7;
    for (int mask = 0x4000; !(v & mask) && exp > 1; mask >>= 1)
      --exp;
    out = static_cast<uint8_t>((exp << 4) | ((v >> (exp + 3)) & 0x0F));
  } else {
    out = static_cast<uint8_t>(v >> 4);
  }
  return static_cast<uint8_t>((out | (sign ^ 0x80)) ^ 0x55);
}

struct Note {
  double hz;  // 0: silence
  int ms;
};

void write(const std::string& path, const std::vector<Note>& tune) {
  std::vector<uint8_t> bytes;
  for (const Note& n : tune)
    for (int i = 0; i < n.ms * 8; ++i) {
      double s = n.hz > 0 ? 8000.0 * std::sin(2 * M_PI * n.hz * i / 8000.0) : 0.0;
      bytes.push_back(alaw(static_cast<int16_t>(s)));
    }
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!out) {
    std::fprintf(stderr, "make_sample_voices: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample_voices OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  write(dir + "/welcome.voc", {{523, 200}, {659, 200}, {784, 400}, {0, 200}});
  write(dir + "/menu.voc", {{440, 150}, {0, 100}, {440, 150}, {0, 100}, {440, 150}, {0, 200}});
  write(dir + "/input.voc", {{660, 300}, {0, 100}, {880, 300}, {0, 200}});
  write(dir + "/bye.voc", {{784, 200}, {659, 200}, {523, 400}, {0, 100}});
  write(dir + "/ringback.voc", {{450, 1000}, {0, 1000}});
  // The voice set of combined playback: one short tone per word, each pitch
  // its own, so that a spoken value is heard as a little tune.
  const char* words[] = {"D0",   "D1",   "D2",  "D3",   "D4",    "D5",   "D6",    "D7",
                         "D8",   "D9",   "TEN", "HUN",  "THOU",  "TH10", "M100",  "POINT",
                         "YUAN", "JIAO", "FEN", "YEAR", "MONTH", "DAY",  "SECOND"};
  double hz = 392;
  for (const char* w : words) {
    write(dir + "/" + w + ".qx", {{hz, 250}, {0, 50}});
    hz *= 1.0595;  // a semitone up each
  }
  return 0;
}
