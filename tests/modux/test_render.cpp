// Rendering a song offline: the length a song's rows, tempos, jumps and pattern loops give it,
// the end at the loop point, other rates, and the engine handed back afterwards. (Pitch and
// note timing in the output are the game songs' renders, checked byte for byte.)
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "modux_internal.h"
#include "mux_image.h"
#include "voice.h"

using namespace muxtest;

namespace {

const int RATE = 44100;

// A looped square of 32 frames of 16 bits.
sample square_sample() {
  sample s;
  s.length = 32, s.loop_start = 0, s.loop_end = 32, s.loop_flags = 1, s.bits = 16;
  for (int i = 0; i < 32; i++) put16(s.data, i < 16 ? 20000 : 45000);
  return s;
}

// A one-channel song of 8-row patterns; cells are given as {pattern, row, cell}.
struct placed {
  int pattern, row;
  cell c;
};
module song(int patterns, std::vector<int> orders, const std::vector<placed> &cells) {
  module m;
  m.channels = 1;
  m.orders = orders;
  m.samples = {square_sample()};
  m.patterns.assign(patterns, pattern{});
  for (pattern &p : m.patterns) p.rows = 8, p.cells.resize(8);
  for (const placed &p : cells) m.patterns[p.pattern].cells[p.row] = p.c;
  return m;
}

// Renders the song to its end; the frames it gave.
long render(const module &m, int rate = RATE) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  const bytes image = build(m);
  memory_file state;
  PACKFILE *f = open_memory(image, state);
  MODUX *mod = load_mux(f);
  pack_fclose(f);
  EXPECT_NE(mod, nullptr) << modux_error;
  if (!mod) return 0;
  EXPECT_EQ(render_mod_start(mod, rate), 1) << modux_error;
  std::vector<short> block(2 * 1000);
  long frames = 0;
  for (long got; (got = render_mod(block.data(), 1000)) > 0;) frames += got;
  EXPECT_EQ(render_mod_finished(), -1);
  render_mod_stop();
  destroy_mod(mod);
  return frames;
}

// Output frames of n ticks at this tempo: the timer period of one tick, counted at the rate.
long tick_frames(long ticks, int tempo, int rate = RATE) {
  return static_cast<long>(ticks * static_cast<long long>(rate) * mod_timer_period(tempo, 100) /
                           TIMERS_PER_SECOND);
}

const cell NOTE{428, 1, 0, 0, 0};  // middle C, 8363 Hz

cell command(int code, int param) { return cell{0, 0, 0, code, param}; }

TEST(Render, SongLengthFollowsRowsSpeedTempoJumpsAndLoops) {
  // clang-format off
  struct {
    const char *what;
    module m;
    long ticks;
    int tempo;
  } cases[] = {
      {"8 rows at speed 6", song(1, {0}, {{0, 0, NOTE}}), 48, 125},
      {"250 BPM from row 0", song(1, {0}, {{0, 0, command(CMD_SPEED_TEMPO, 250)}}), 48, 250},
      {"a jump back to the start ends at the loop point",
       song(2, {0, 1}, {{0, 0, NOTE}, {1, 3, command(CMD_POSITION_JUMP, 0)}}), 12 * 6, 125},
      {"a break into the middle of a played pattern ends there",
       song(2, {0, 1}, {{1, 7, command(CMD_POSITION_JUMP, 0)}, {1, 7, command(CMD_PATTERN_BREAK, 4)}}), 16 * 6, 125},
      {"a pattern loop plays its rows three times",
       song(1, {0}, {{0, 2, command(CMD_EXTENDED, 0x60)}, {0, 5, command(CMD_EXTENDED, 0x62)}}), 16 * 6, 125},
      {"a pattern loop, then a jump back",
       song(1, {0}, {{0, 2, command(CMD_EXTENDED, 0x60)}, {0, 5, command(CMD_EXTENDED, 0x62)},
                     {0, 7, command(CMD_POSITION_JUMP, 0)}}),
       16 * 6, 125},
      {"a pattern delay adds its ticks", song(1, {0}, {{0, 1, command(CMD_EXTENDED, 0xE2)}}), 60, 125},
  };
  // clang-format on
  for (const auto &c : cases) {
    EXPECT_NEAR(render(c.m), tick_frames(c.ticks, c.tempo) + MIXER_RAMP_FRAMES, 1) << c.what;
  }
}

TEST(Render, EngineIsHandedBackAndBadCallsAreRefused) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  EXPECT_EQ(render_mod_start(nullptr, RATE), -1);
  EXPECT_NE(modux_error[0], '\0');
  short buffer[2 * 16];
  EXPECT_EQ(render_mod(buffer, 16), 0) << "nothing renders before a start";
  // Half the rate, half the frames.
  EXPECT_NEAR(render(song(1, {0}, {{0, 0, NOTE}}), 22050),
              tick_frames(48, 125, 22050) + MIXER_RAMP_FRAMES, 1);
  EXPECT_EQ((std::tuple{modux_voices_on_mixer(), mod_init, of, render_mod(buffer, 16)}),
            (std::tuple{0, 0, nullptr, 0L}));
}

}  // namespace
