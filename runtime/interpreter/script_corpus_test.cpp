// Replays the kept fuzz corpus of the script interpreter in every build, so
// that the sanitizer builds without libFuzzer still run each kept input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

TEST(ScriptCorpus, EveryKeptInputRuns) {
  const char* root = std::getenv("OLVARO_SOURCE_DIR");
  if (!root) GTEST_SKIP() << "OLVARO_SOURCE_DIR is not set";
  const auto dir = std::filesystem::path(root) / "runtime/interpreter/script_fuzz_corpus";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    SCOPED_TRACE(entry.path().filename().string());
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    ++count;
  }
  EXPECT_GE(count, 4);
}

}  // namespace
