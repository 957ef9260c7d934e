// Replays fuzz/regressions/* through the fuzz target's checks, which abort
// on any broken invariant.
#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

TEST(FuzzRegressions, EveryInputKeepsTheInvariants) {
  const std::filesystem::path dir = SUBPARSE_SOURCE_DIR "/fuzz/regressions";
  int replayed = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) {
    SCOPED_TRACE(entry.path().filename().string());
    const std::string bytes = subtest::read_file(entry.path().string());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    ++replayed;
  }
  EXPECT_GT(replayed, 0);
}

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
