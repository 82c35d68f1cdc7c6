// Replays the inputs that once broke an importer (tests/fuzz/regressions) and the fuzz seeds
// through the fuzz target's own check: probe and load agree, the module keeps the model's
// rules, and it plays from the start and after a jump.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "module_check.h"
#include "module_images.h"

namespace {

// The module the file holds loads (check_file also passes a refused file).
void expect_loads(const std::string &path) {
  modcheck::install_engine();  // Allegro's packfiles need it
  MODUX *mod = load_mod(path.c_str());
  EXPECT_NE(mod, nullptr) << path << ": " << modux_error;
  destroy_mod(mod);
}

TEST(FuzzRegressions, EveryKeptInputPassesTheCheck) {
  int checked = 0;
  for (const auto &entry : std::filesystem::directory_iterator(FUZZ_REGRESSIONS_DIR)) {
    if (!entry.is_regular_file()) continue;
    EXPECT_EQ(modcheck::check_file_both_ways(entry.path().c_str(), 300), "") << entry.path();
    checked++;
  }
  EXPECT_GT(checked, 0);
}

// Nothing of one module may carry over into the next: MODs of 8, 4, 32 and 1 channels in turn,
// then XM (an enveloped instrument, 6 channels), S3M, MOD and XM again.
TEST(FuzzRegressions, ModulesOfEveryChannelCountAndFamilyInTurn) {
  using namespace modimg;
  std::vector<bytes> turns;
  for (const char *sig : {"8CHN", "M.K.", "32CH", "1CHN", "8CHN"}) {
    mod_image m;
    m.signature = sig;
    m.channels = sig[0] == 'M' ? 4 : atoi(sig);
    m.song_length = 2, m.orders = {0, 0};
    m.patterns.assign(1, std::vector<mod_cell>(m.channels, {1, 428, 0xC, 40}));
    m.samples = {{8, 0, 64, 0, 8, bytes(16, 0x40)}};
    turns.push_back(build_mod(m));
  }
  xm_image xm;
  xm.channels = 6;
  xm.patterns[0].packed = {49, 1, 0x40, 0, 0, 0x83, 61, 1};
  xm.instruments.resize(1);
  xm.instruments[0].samples = {{4, 0, 4, 64, 0, 1, 128, 0, xm_delta8({0, 60, 0, -60})}};
  xm.instruments[0].vol_env = {{0, 64}, {8, 0}};
  xm.instruments[0].vol_flags = 1;
  s3m_image s3m;
  s3m.samples = {{1, true, 8, 0, 8, 64, 1, 8363, bytes(8, 0x60)}};
  s3m.patterns[0] = {{0, 3, 0x40, 1, 48, 20, 0x90}};
  mod_image mod;
  mod.patterns[0][2] = {1, 428, 0xF, 0x03};
  mod.samples = {{4, 0, 64, 0, 4, bytes(8, 0x40)}};
  turns.insert(turns.end(), {build_xm(xm), build_s3m(s3m), build_mod(mod), build_xm(xm)});
  const std::string path = ::testing::TempDir() + "fuzz_turns.mod";
  for (const bytes &t : turns) {
    ASSERT_TRUE(write_file(path, t));
    expect_loads(path);
    EXPECT_EQ(modcheck::check_file(path.c_str(), 400), "") << &t - turns.data();
  }
  std::remove(path.c_str());
}

}  // namespace
