// The IT tick on the offline mixer: what the reference player cannot show of the pool of
// background voices (its limit, who is given up, their channel volume). New note actions,
// duplicate checks, the volume column, the S commands, vibrato, pattern loop, row delay and
// envelopes are heard against the reference player by the one-behaviour IT songs
// (tests/render/itsongs) and the IT modules of the accuracy renders.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "modux_internal.h"
#include "module_images.h"

namespace {

const int RATE = 44100;
// Frames of one tick at 125 BPM.
const int TICK = RATE * 5 / 2 / 125;

// A one-channel song at speed 6 of cells on channel 0: instrument 1, whose new notes continue
// in the background, plays a looping 8-bit square that sounds until stopped.
itw::song song(const std::vector<itw::cell> &cells) {
  itw::song s;
  itw::instrument i;
  i.nna = 1;
  s.instruments = {i};
  s.samples.resize(1);
  itw::sample &q = s.samples[0];
  q.flags = 1 | 16, q.length = 64, q.loop_start = 0, q.loop_end = 64;
  for (int k = 0; k < 64; k++) q.data.push_back(k < 32 ? 100 : 156);
  s.patterns[0].cells = cells;
  return s;
}

class PlayIt : public ::testing::Test {
 protected:
  void TearDown() override {
    render_mod_stop();
    destroy_mod(mod);
    mod = nullptr;
    std::remove(path.c_str());
  }
  // Loads the song and starts rendering it.
  void start(const itw::song &s) {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    path = ::testing::TempDir() + "player5_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".it";
    ASSERT_TRUE(modimg::write_file(path, itw::build(s)));
    mod = load_mod(path.c_str());
    ASSERT_NE(mod, nullptr) << modux_error;
    ASSERT_EQ(render_mod_start(mod, RATE), 1) << modux_error;
    at = 0;
  }
  // Renders until just before tick `tick` (the first tick runs at frame 0).
  void run_to(int tick) {
    std::vector<short> buf(2 * TICK);
    const long want = static_cast<long>(tick) * TICK - TICK / 2;
    while (at < want) {
      const long n = want - at < TICK ? want - at : TICK;
      const long got = render_mod(buf.data(), n);
      if (got <= 0) break;
      at += got;
    }
  }
  MODUX *mod = nullptr;
  std::string path;
  long at = 0;
};

TEST_F(PlayIt, TheBackgroundPoolGivesUpTheQuietest) {
  // A new note every row on each of 4 channels, notes continuing: the pool fills to its size
  // and stays there, the pattern channels always playing. Older notes are quieter (a volume
  // column that falls row by row), so the ones given up are the oldest.
  itw::song s = song({});
  s.speed = 1;
  s.patterns[0].rows = 64;
  for (int r = 0; r < 64; r++)
    for (int ch = 0; ch < 4; ch++) s.patterns[0].cells.push_back({r, ch, 40 + ch, 1, 64 - r, 0, 0});
  start(s);
  ASSERT_GE(it_background_voices(), IT_BACKGROUND_VOICES);
  run_to(20);
  EXPECT_EQ(it_background_sounding(), 19 * 4);
  run_to(60);
  EXPECT_EQ(it_background_sounding(), IT_BACKGROUND_VOICES);
  int quietest = 255;
  for (const IT_NOTE_STATE &n : it_background)
    if (n.active) quietest = std::min(quietest, n.loudness);
  for (int ch = 0; ch < 4; ch++) EXPECT_NE(it_notes[ch].active, 0) << ch;
  // Rows 0 to 26 went (27 x 4 = 108 given up, 4 x 59 - 128 of them): none left of row 0.
  EXPECT_GT(quietest, 0);
}

TEST_F(PlayIt, BackgroundNotesKeepTheirChannelsVolume) {
  // Channel volume 16 (M10); the first note, pushed into the background, sounds as quietly as
  // the note that replaced it.
  start(song({{0, 0, 60, 1, -1, 13, 0x10}, {2, 0, 60, 1, -1, 0, 0}}));
  run_to(16);
  ASSERT_EQ(it_background_sounding(), 1);
  for (const IT_NOTE_STATE &n : it_background) {
    if (n.active) {
      EXPECT_EQ(n.loudness, it_notes[0].loudness);
    }
  }
}

}  // namespace
