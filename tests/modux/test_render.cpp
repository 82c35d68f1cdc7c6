// Rendering a song offline: the length a song's rows, speeds, tempos, jumps and pattern loops
// give it, the end at the loop point, pitch and note timing in the output, and the engine handed
// back afterwards.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "audio_measure.h"
#include "modux_internal.h"
#include "mux_image.h"
#include "voice.h"

using namespace muxtest;

namespace {

const double PI = 3.14159265358979323846;
const int RATE = 44100;

// One cycle of a sine in 32 frames of 16 bits, looped: a note of f Hz sounds at f / 32 Hz.
sample sine_sample() {
  sample s;
  s.length = 32, s.loop_start = 0, s.loop_end = 32, s.loop_flags = 1, s.bits = 16;
  for (int i = 0; i < 32; i++)
    put16(s.data, static_cast<int>(std::lround(std::sin(2 * PI * i / 32) * 30000)) + 32768);
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
  m.samples = {sine_sample()};
  m.patterns.assign(patterns, pattern{});
  for (pattern &p : m.patterns) p.rows = 8, p.cells.resize(8);
  for (const placed &p : cells) m.patterns[p.pattern].cells[p.row] = p.c;
  return m;
}

std::vector<short> render(const module &m, int rate = RATE) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  const bytes image = build(m);
  memory_file state;
  PACKFILE *f = open_memory(image, state);
  MODUX *mod = load_mux(f);
  pack_fclose(f);
  EXPECT_NE(mod, nullptr) << modux_error;
  std::vector<short> out;
  if (!mod) return out;
  EXPECT_EQ(render_mod_start(mod, rate), 1) << modux_error;
  std::vector<short> block(2 * 1000);
  for (long got; (got = render_mod(block.data(), 1000)) > 0;)
    out.insert(out.end(), block.begin(), block.begin() + 2 * got);
  EXPECT_EQ(render_mod_finished(), -1);
  render_mod_stop();
  destroy_mod(mod);
  return out;
}

// Output frames of n ticks at this tempo: the timer period of one tick, counted at the rate.
long tick_frames(long ticks, int tempo, int rate = RATE) {
  return static_cast<long>(ticks * static_cast<long long>(rate) * mod_timer_period(tempo, 100) /
                           TIMERS_PER_SECOND);
}

double rms(const std::vector<short> &stereo, long from, long to) {
  double sum = 0;
  for (long i = from; i < to; i++) sum += static_cast<double>(stereo[2 * i]) * stereo[2 * i];
  return std::sqrt(sum / (to - from));
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
      {"speed 3 from row 0", song(1, {0}, {{0, 0, command(CMD_SPEED_TEMPO, 3)}}), 24, 125},
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
    const long frames = static_cast<long>(render(c.m).size() / 2);
    EXPECT_NEAR(frames, tick_frames(c.ticks, c.tempo) + MIXER_RAMP_FRAMES, 1) << c.what;
  }
}

TEST(Render, NotesSoundAtTheirPitchAndOnTheirTicks) {
  // Middle C plays the sample at 8363 Hz; an octave up (period 214) at twice that.
  for (int period : {428, 214}) {
    const std::vector<short> out = render(song(1, {0}, {{0, 0, cell{period, 1, 0, 0, 0}}}));
    std::vector<float> left(out.size() / 2);
    for (size_t i = 0; i < left.size(); i++) left[i] = out[2 * i] / 32768.0f;
    const double expected = 8363.0 * 428 / period / 32;
    EXPECT_NEAR(audio_measure::peak_frequency(left, RATE), expected, expected * 0.005) << period;
  }
  // A note cut on tick 3 of row 0 and a new note on row 4: sound, silence, sound, each on time.
  const std::vector<short> out =
      render(song(1, {0}, {{0, 0, cell{428, 1, 0, CMD_EXTENDED, 0xC3}}, {0, 4, NOTE}}));
  const long tick = tick_frames(1, 125);
  EXPECT_GT(rms(out, 0, 3 * tick - 100), 3000);
  EXPECT_LT(rms(out, 3 * tick + MIXER_RAMP_FRAMES, 24 * tick), 1);
  EXPECT_GT(rms(out, 24 * tick + MIXER_RAMP_FRAMES, 30 * tick), 3000);
  EXPECT_LT(rms(out, 24 * tick - 200, 24 * tick - 1), 1) << "the second note does not start early";
}

TEST(Render, EngineIsHandedBackAndBadCallsAreRefused) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  EXPECT_EQ(render_mod_start(nullptr, RATE), -1);
  EXPECT_NE(modux_error[0], '\0');
  short buffer[2 * 16];
  EXPECT_EQ(render_mod(buffer, 16), 0) << "nothing renders before a start";
  // Half the rate, half the frames.
  EXPECT_NEAR(static_cast<long>(render(song(1, {0}, {{0, 0, NOTE}}), 22050).size() / 2),
              tick_frames(48, 125, 22050) + MIXER_RAMP_FRAMES, 1);
  EXPECT_EQ((std::tuple{modux_voices_on_mixer(), mod_init, of, render_mod(buffer, 16)}),
            (std::tuple{0, 0, nullptr, 0L}));
}

}  // namespace
