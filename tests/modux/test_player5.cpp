// The IT tick on the offline mixer: new note actions and duplicate checks filling the pool of
// background voices, the pool's limit, the volume column, the S commands, pattern loop and
// delay, vibrato depth. Note delay, envelopes and the filter are heard against the reference
// player by the one-behaviour IT songs (tests/render/itsongs).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "modux_internal.h"
#include "module_images.h"

namespace {

const int RATE = 44100;
// Frames of one tick at 125 BPM.
const int TICK = RATE * 5 / 2 / 125;

// A looping 8-bit square that sounds until stopped.
itw::sample loud_sample() {
  itw::sample s;
  s.flags = 1 | 16, s.length = 64, s.loop_start = 0, s.loop_end = 64;
  for (int i = 0; i < 64; i++) s.data.push_back(i < 32 ? 100 : 156);
  return s;
}

// A one-channel song: one instrument (changed by `ins`), cells on channel 0, speed 6.
itw::song song(const std::vector<itw::cell> &cells,
               const std::function<void(itw::instrument &)> &ins = nullptr) {
  itw::song s;
  itw::instrument i;
  if (ins) ins(i);
  s.instruments = {i};
  s.samples = {loud_sample()};
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
  // Loads the song and renders up to its tick `tick` (0 is the first).
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

TEST_F(PlayIt, NewNoteActionsAndDuplicateChecks) {
  // Notes on rows 0, 2 and 4 (ticks 0, 12, 24) of channel 0; the background is counted at
  // tick 30 and again at tick 60.
  const struct {
    const char *what;
    int nna, dct, dca, fadeout;
    int note2, note3;  // the second and third notes
    int at30, at60;
  } cases[] = {
      {"cut: no background", 0, 0, 0, 0, 60, 60, 0, 0},
      {"continue: both earlier notes keep sounding", 1, 0, 0, 0, 62, 64, 2, 2},
      {"note fade: gone at once with the full fade-out", 3, 0, 0, 1024, 62, 64, 0, 0},
      {"note fade: a slow fade-out still sounds", 3, 0, 0, 1, 62, 64, 2, 2},
      {"note off: the volume envelope runs to its end", 2, 0, 0, 0, 62, 64, 2, 0},
      {"duplicate note cut: the repeated note is cut", 1, 1, 0, 0, 60, 60, 1, 1},
      {"duplicate note, other notes: no check", 1, 1, 0, 0, 62, 64, 2, 2},
      {"duplicate instrument, fade", 1, 3, 2, 1024, 62, 64, 1, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    itw::song s =
        song({{0, 0, 60, 1}, {2, 0, c.note2, 1}, {4, 0, c.note3, 1}}, [&](itw::instrument &i) {
          i.nna = c.nna, i.dct = c.dct, i.dca = c.dca, i.fadeout = c.fadeout;
          // Sustained at 64; released, it falls to 0 over 20 ticks.
          i.vol.flags = 1 | 4, i.vol.points = {{0, 64}, {2, 64}, {22, 0}},
          i.vol.sustain_start = i.vol.sustain_end = 1;
        });
    start(s);
    run_to(30);
    EXPECT_EQ(it_background_sounding(), c.at30);
    EXPECT_NE(it_notes[0].active, 0);
    run_to(60);
    EXPECT_EQ(it_background_sounding(), c.at60);
    TearDown();
  }
}

TEST_F(PlayIt, TheBackgroundPoolGivesUpTheQuietest) {
  // A new note every row on each of 4 channels, notes continuing: the pool fills to its size
  // and stays there, the pattern channels always playing. Older notes are quieter (a volume
  // column that falls row by row), so the ones given up are the oldest.
  itw::song s = song({}, [](itw::instrument &i) { i.nna = 1; });
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
  start(song({{0, 0, 60, 1, -1, 13, 0x10}, {2, 0, 60, 1, -1, 0, 0}},
             [](itw::instrument &i) { i.nna = 1; }));
  run_to(16);
  ASSERT_EQ(it_background_sounding(), 1);
  for (const IT_NOTE_STATE &n : it_background) {
    if (n.active) {
      EXPECT_EQ(n.loudness, it_notes[0].loudness);
    }
  }
}

TEST_F(PlayIt, VolumeColumnAndEffects) {
  // One note at row 0, then what the table gives at row 1; the note's volume at tick `tick`.
  const struct {
    const char *what;
    itw::cell second;
    int tick, volume;
  } cases[] = {
      {"volume column sets", {1, 0, -1, 0, 20, 0, 0}, 7, 20},
      {"volume column fine down 3", {1, 0, -1, 0, 78, 0, 0}, 7, 61},
      {"volume column fine up, held at 64", {1, 0, -1, 0, 68, 0, 0}, 7, 64},
      {"volume slide down 3 a tick", {1, 0, -1, 0, 98, 0, 0}, 11, 64 - 5 * 3},
      {"D0F: fine slide down 15 on the first tick", {1, 0, -1, 0, -1, 4, 0x0F}, 7, 49},
      {"D40: up, held at 64", {1, 0, -1, 0, -1, 4, 0x40}, 11, 64},
      {"D04: down 4 a tick", {1, 0, -1, 0, -1, 4, 0x04}, 11, 44},
      {"SC2: cut at tick 2", {1, 0, -1, 0, -1, 19, 0xC2}, 9, 0},
      {"SC2: not before", {1, 0, -1, 0, -1, 19, 0xC2}, 7, 64},
      {"note cut", {1, 0, 254, 0, -1, 0, 0}, 7, 64},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    start(song({{0, 0, 60, 1, -1, 0, 0}, c.second}));
    run_to(c.tick + 1);
    EXPECT_EQ(it_notes[0].volume, c.volume);
    if (c.second.note == 254) {
      EXPECT_EQ(it_notes[0].active, 0);
    }
    TearDown();
  }
}

TEST_F(PlayIt, NoteDelayPatternLoopAndRowDelay) {
  // Song length in ticks (speed 2, 8 rows) for the flow commands of the table.
  const struct {
    const char *what;
    std::vector<itw::cell> cells;
    int ticks;
  } cases[] = {
      {"plain", {}, 16},
      {"SB0 at row 2, SB2 at row 5: rows 2..5 three times",
       {{2, 0, -1, 0, -1, 19, 0xB0}, {5, 0, -1, 0, -1, 19, 0xB2}},
       32},
      {"SE3 at row 4: the row lasts four times", {{4, 0, -1, 0, -1, 19, 0xE3}}, 22},
      {"C02 at row 3 of the last order: the song ends", {{3, 0, -1, 0, -1, 3, 0x02}}, 8},
      {"A04 at row 0: speed 4", {{0, 0, -1, 0, -1, 1, 4}}, 32},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    itw::song s = song(c.cells);
    s.speed = 2;
    s.patterns[0].rows = 8;
    start(s);
    std::vector<short> buf(2 * 4096);
    long frames = 0;
    for (long got; (got = render_mod(buf.data(), 4096)) > 0;) frames += got;
    // The coda after the end is one ramp.
    EXPECT_NEAR(static_cast<double>(frames) / TICK, c.ticks, 0.2);
    TearDown();
  }
}

TEST_F(PlayIt, VibratoDepth) {
  // H4F (and the volume column's depth) swing the linear pitch by up to depth x 4 / 64 x 64
  // units (about 0.9 semitone at 15), twice that with old effects; U is a quarter of H.
  const struct {
    int flags, command, param, volume, most;
  } cases[] = {{1 | 4 | 8, 8, 0x4F, -1, 60},
               {1 | 4 | 8 | 16, 8, 0x4F, -1, 120},
               {1 | 4 | 8, 21, 0x4F, -1, 15},
               {1 | 4 | 8, 8, 0x40, 212, 36}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.flags * 1000 + c.command);
    itw::song s = song({{0, 0, 60, 1, c.volume, c.command, c.param}});
    s.flags = c.flags;
    s.speed = 32;
    start(s);
    int most = 0;
    for (int t = 1; t <= 32; t++) {
      run_to(t);
      most = std::max(most, std::abs(it_channels[0].period_delta));
    }
    EXPECT_NEAR(most, c.most, 2);
    TearDown();
  }
}

}  // namespace
