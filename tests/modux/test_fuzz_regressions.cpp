// Replays the inputs that once broke an importer (tests/fuzz/regressions) through the fuzz
// target's own check, from memory: probe and load agree, the model's rules hold, it plays from two
// places.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "module_check.h"

namespace {

TEST(FuzzRegressions, EveryKeptInputPassesTheCheck) {
  int checked = 0;
  for (const auto &entry : std::filesystem::directory_iterator(FUZZ_REGRESSIONS_DIR)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(modcheck::check_bytes_both_ways(b.data(), b.size(), 300), "") << entry.path();
    checked++;
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
