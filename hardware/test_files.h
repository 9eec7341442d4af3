// Small helpers for the hardware tests: a scratch folder and hand-built
// voice files.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace hardware_test {

class ScratchDir {
 public:
  ScratchDir() {
    char tmpl[] = "/tmp/hardwareXXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void putId(std::vector<uint8_t>& b, const char* id) {
  b.insert(b.end(), id, id + 4);
}

// A RIFF/WAVE file: an optional chunk before fmt, fmt with `byteRate`, a
// data chunk declaring `declared` bytes and holding `held` bytes.
inline std::vector<uint8_t> wave(uint32_t byteRate, uint32_t declared, uint32_t held,
                                 bool extraChunk = false) {
  std::vector<uint8_t> b;
  putId(b, "RIFF");
  put32(b, 0);
  putId(b, "WAVE");
  if (extraChunk) {
    putId(b, "LIST");
    put32(b, 3);
    b.insert(b.end(), {'a', 'b', 'c', 0});  // odd size, one pad byte
  }
  putId(b, "fmt ");
  put32(b, 16);
  put16(b, 1);
  put16(b, 1);
  put32(b, byteRate / 2);
  put32(b, byteRate);
  put16(b, 2);
  put16(b, 16);
  putId(b, "data");
  put32(b, declared);
  b.insert(b.end(), held, 0);
  uint32_t riff = static_cast<uint32_t>(b.size() - 8);
  for (int i = 0; i < 4; ++i)
    b[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
  return b;
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace hardware_test
