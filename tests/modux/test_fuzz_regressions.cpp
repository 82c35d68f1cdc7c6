// Replays the inputs that once broke an importer (tests/fuzz/regressions) through the fuzz
// target's own check: probe and load agree, the model's rules hold, it plays from two places.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "module_check.h"

namespace {

TEST(FuzzRegressions, EveryKeptInputPassesTheCheck) {
  int checked = 0;
  for (const auto &entry : std::filesystem::directory_iterator(FUZZ_REGRESSIONS_DIR)) {
    if (!entry.is_regular_file()) continue;
    EXPECT_EQ(modcheck::check_file_both_ways(entry.path().c_str(), 300), "") << entry.path();
    checked++;
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
