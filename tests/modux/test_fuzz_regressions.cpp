// Replays the inputs that once broke an importer (tests/fuzz/regressions) through the fuzz
// target's own check: probe and load agree, the model's rules hold, it plays from two places.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "module_check.h"
#include "module_images.h"

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

// Nothing of one module may carry over into the next: MODs of 8, 4, 32, 1 and 8 channels in turn,
// each loaded and played (the fuzz target's minute-long run mixes every family the same way).
TEST(FuzzRegressions, ModulesOfEveryChannelCountInTurn) {
  using namespace modimg;
  const std::string path = ::testing::TempDir() + "fuzz_turns.mod";
  for (const char *sig : {"8CHN", "M.K.", "32CH", "1CHN", "8CHN"}) {
    mod_image m;
    m.signature = sig;
    m.channels = sig[0] == 'M' ? 4 : atoi(sig);
    m.song_length = 2, m.orders = {0, 0};
    m.patterns.assign(1, std::vector<mod_cell>(m.channels, {1, 428, 0xC, 40}));
    m.samples = {{8, 0, 64, 0, 8, bytes(16, 0x40)}};
    ASSERT_TRUE(write_file(path, build_mod(m)));
    EXPECT_EQ(modcheck::check_file(path.c_str(), 400), "") << sig;
    MODUX *mod = load_mod(path.c_str());  // the check also passes a refused file
    EXPECT_NE(mod, nullptr) << sig << ": " << modux_error;
    destroy_mod(mod);
  }
  std::remove(path.c_str());
}

}  // namespace
