// The game's real sound sources (data/sounds): every effect and song builds, the effects suit
// their events, and every song is a looping piece of at least a minute on at least four
// channels that uses the Protracker effects, readable back through the engine's loader.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>
#include <unistd.h>
#include <map>
#include <memory>
#include <set>

#include "modux.h"
#include "song.h"
#include "soundbank.h"

namespace {

class SoundBankTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    bank_ = std::make_unique<sound::SoundBank>(sound::build_bank(VORBEL_SOUND_SOURCES));
  }
  static std::unique_ptr<sound::SoundBank> bank_;
};
std::unique_ptr<sound::SoundBank> SoundBankTest::bank_;

double seconds(const sound::EffectSample &s) { return double(s.frames.size()) / s.rate; }

int peak(const std::vector<int16_t> &f) {
  int p = 0;
  for (int16_t x : f) p = std::max(p, std::abs(int(x)));
  return p;
}

TEST_F(SoundBankTest, EffectsSuitTheirEvents) {
  ASSERT_EQ(bank_->effect_samples.size(), 10u);
  for (size_t i = 0; i < 10; i++) {
    const auto &s = bank_->effect_samples[i];
    SCOPED_TRACE(bank_->effects[i].name);
    EXPECT_GT(peak(s.frames), 32767 / 4);          // clearly audible
    EXPECT_LE(peak(s.frames), int(0.8 * 32767));   // with headroom for the music under it
    EXPECT_LT(std::abs(s.frames.back()), 16);      // ends without a click
  }
  // Sounds heard many times a second stay short; the life-lost ones take their time.
  EXPECT_LT(seconds(bank_->effect_samples[4]), 0.1);  // ball
  EXPECT_LT(seconds(bank_->effect_samples[1]), 0.1);  // button
  EXPECT_LT(seconds(bank_->effect_samples[9]), 0.1);  // name-entry key
  EXPECT_GT(seconds(bank_->effect_samples[0]), 0.6);  // caught
  EXPECT_GT(seconds(bank_->effect_samples[7]), seconds(bank_->effect_samples[0]));  // game over is longer
  for (int i : {2, 3, 5, 6, 8}) EXPECT_LT(seconds(bank_->effect_samples[size_t(i)]), 2.0) << i;
}

TEST_F(SoundBankTest, SongsAreMinuteLongLoopingPiecesUsingTheEffects) {
  ASSERT_EQ(bank_->songs.size(), 5u);
  EXPECT_EQ(bank_->song_entries[0].name, "title");
  std::set<int> tempos;
  for (const sound::Song &song : bank_->songs) {
    SCOPED_TRACE(song.name);
    EXPECT_GE(song.channels.size(), 4u);
    EXPECT_LE(song.channels.size(), 16u);  // the game reserves 16 channels
    EXPECT_GE(sound::song_seconds(song), 60.0);
    EXPECT_LT(song.restart, int(song.order.size()));
    tempos.insert(song.tempo);
    std::map<int, int> used;  // command -> cells
    int volume_column = 0;
    for (const auto &p : song.patterns)
      for (const auto &c : p.cells) {
        if (c.has_command) used[c.command]++;
        if (c.volume) volume_column++;
      }
    EXPECT_GT(used[0], 0) << "arpeggio";
    EXPECT_GT(used[4], 0) << "vibrato";
    EXPECT_GT(used[1] + used[2] + used[3], 0) << "slides";
    EXPECT_GT(used[10] + used[12] + volume_column, 0) << "volume";
  }
  EXPECT_GE(tempos.size(), 4u) << "the songs should not all move at one pace";
}

TEST_F(SoundBankTest, DatafileObjectsAndModulesReadBack) {
  std::vector<dat::Object> objects = sound::bank_objects(*bank_);
  ASSERT_EQ(objects.size(), 15u);
  for (size_t i = 0; i < 10; i++) EXPECT_EQ(objects[i].type, dat::TYPE_SAMPLE) << i;
  for (size_t i = 10; i < 15; i++) {
    EXPECT_EQ(objects[i].type, dat::id("MUX ")) << i;
    const auto &image = bank_->song_files[i - 10];
    std::string name = std::string("/tmp/test_soundgen_") + std::string(6, 'X');  // mkstemp template
    std::vector<char> path(name.begin(), name.end() + 1);
    int fd = mkstemp(path.data());
    ASSERT_GE(fd, 0);
    FILE *f = fdopen(fd, "wb");
    std::fwrite(image.data(), 1, image.size(), f);
    std::fclose(f);
    MODUX *m = load_mod(path.data());
    std::remove(path.data());
    ASSERT_NE(m, nullptr) << modux_error;
    const sound::Song &song = bank_->songs[i - 10];
    EXPECT_EQ(m->channel_count, int(song.channels.size()));
    EXPECT_EQ(m->order_count, int(song.order.size()));
    EXPECT_EQ(m->initial_tempo, song.tempo);
    EXPECT_EQ(m->initial_speed, song.speed);
    EXPECT_EQ(m->restart_order, song.restart);
    EXPECT_EQ(m->flags, 0);
    for (int s = 0; s < m->sample_count; s++) {
      const SAMPLE_INFO &si = m->sample_info[s];
      EXPECT_GT(si.length, 0);
      EXPECT_LE(si.loop_end, si.length);
      EXPECT_LT(si.loop_start, si.loop_end);
      EXPECT_EQ(m->samples[s].bits, 16);
      // Sample rates are whole multiples of the C5 rate, or the drums' recording rate.
      EXPECT_TRUE(si.tuning == 8363 || si.tuning == 16726 || si.tuning == 33452) << si.tuning;
    }
    destroy_mod(m);
  }
}

// The datafile as the game loads it: ten samples, then five modules through the engine's type.
TEST_F(SoundBankTest, SoundsDatLoadsAsTheGameLoadsIt) {
  std::string name = std::string("/tmp/test_soundgen_dat_") + std::string(6, 'X');  // mkstemp template
  std::vector<char> path(name.begin(), name.end() + 1);
  int fd = mkstemp(path.data());
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_TRUE(dat::write_datafile(path.data(), sound::bank_objects(*bank_)));
  register_datafile_modux();
  DATAFILE *data = load_datafile(path.data());
  std::remove(path.data());
  ASSERT_NE(data, nullptr);
  int count = 0;
  while (data[count].type != DAT_END) count++;
  ASSERT_EQ(count, 15);
  for (int i = 0; i < 10; i++) {
    ASSERT_EQ(data[i].type, DAT_SAMPLE) << i;
    const SAMPLE *s = static_cast<const SAMPLE *>(data[i].dat);
    EXPECT_EQ(s->bits, 16) << i;
    EXPECT_EQ(s->freq, bank_->effect_samples[size_t(i)].rate) << i;
    EXPECT_EQ(s->len, bank_->effect_samples[size_t(i)].frames.size()) << i;
  }
  for (int i = 10; i < 15; i++) {
    ASSERT_EQ(data[i].type, DAT_ID('M', 'U', 'X', ' ')) << i;
    const MODUX *m = static_cast<const MODUX *>(data[i].dat);
    ASSERT_NE(m, nullptr) << i;
    EXPECT_EQ(std::string(m->name), bank_->songs[size_t(i - 10)].name);
    EXPECT_GE(m->channel_count, 4);
  }
  unload_datafile(data);
}

}  // namespace
