// Replays the fuzz corpus through the fuzz target in the ordinary test suite.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(QBaseReadFuzzCorpus, EveryInputReadsSafely) {
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CORVIMUS_FUZZ_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().string());
    EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
              0);
    ++replayed;
  }
  EXPECT_GE(replayed, 8) << "corpus missing";
}
