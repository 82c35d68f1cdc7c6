// The game's songs as shipped (build/run/music/*.mux, the modules of sounds.dat) use only what
// the music engine plays: every cell's command, volume-column value, note command and sample or
// instrument number, and every instrument's envelope and note map. How they sound is held byte
// for byte by tests/render/render_songs.sh.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "modux_internal.h"

namespace {

// Why the engine would not play a cell as written; empty when it does.
std::string unplayed(const MODUX &m, const NOTE_INFO &n) {
  const bool xm = m.flags & MODUX_XM;
  if (n.command < 0 || n.command > CMD_XM_EXTRA_FINE_PORTA)
    return "command " + std::to_string(n.command);
  if (n.command == CMD_EXTENDED) {
    const int sub = n.param >> 4;
    // E0x, E3x (glissando), E5x (finetune) and EFx have no effect; codes above 0x14x are none.
    if (sub == 0x0 || sub == 0x3 || sub == 0x5 || sub == 0xF || sub > 0x14)
      return "extended " + std::to_string(n.param);
  }
  if ((n.volume > 0 && n.volume < 0x10) || (n.volume > 0x50 && n.volume < 0x60) ||
      n.volume > 0xFF || n.volume < 0)
    return "volume column " + std::to_string(n.volume);
  if (n.note < -2) return "note command " + std::to_string(n.note);
  const int limit = xm ? m.instrument_count : m.sample_count;
  if (n.sample < 0 || n.sample > limit) return "sample " + std::to_string(n.sample);
  return "";
}

std::string bad_envelope(const int *tick, int points, int flags, int sustain, int loop_start,
                         int loop_end) {
  if (points < 0 || points > MODUX_ENVELOPE_POINTS || ((flags & 1) && points == 0)) return "points";
  for (int i = 1; i < points; i++)
    if (tick[i] <= tick[i - 1]) return "ticks not rising";
  if ((flags & 2) && (sustain < 0 || sustain >= points)) return "sustain point";
  if ((flags & 4) && (loop_start < 0 || loop_start > loop_end || loop_end >= points))
    return "loop points";
  return "";
}

class ShippedSongs : public ::testing::TestWithParam<const char *> {
 protected:
  static void SetUpTestSuite() { install_allegro(SYSTEM_NONE, &errno, atexit); }
};

TEST_P(ShippedSongs, UseOnlyWhatTheEnginePlays) {
  const std::string path = std::string(VORBEL_RUN_DIR) + "/music/" + GetParam() + ".mux";
  MODUX *m = load_mod(path.c_str());
  ASSERT_NE(m, nullptr) << path << ": " << modux_error;
  int cells = 0;
  for (int o = 0; o < m->order_count; o++) {
    const int p = m->order_table[o];
    ASSERT_TRUE(p >= 0 && p < m->pattern_count) << "order " << o;
    const PATTERN_INFO &pat = m->patterns[p];
    for (int i = 0; i < pat.row_count * m->channel_count; i++) {
      const NOTE_INFO &n = pat.notes[i];
      const std::string why = unplayed(*m, n);
      EXPECT_EQ(why, "") << "pattern " << p << " row " << i / m->channel_count << " channel "
                         << i % m->channel_count;
      cells++;
    }
  }
  for (int i = 0; i < m->instrument_count; i++) {
    const INSTRUMENT_INFO &ins = m->instruments[i];
    EXPECT_EQ(bad_envelope(ins.vol_env_tick, ins.vol_env_points, ins.vol_env_flags,
                           ins.vol_env_sustain_start, ins.vol_env_loop_start, ins.vol_env_loop_end),
              "")
        << "instrument " << i << " volume";
    EXPECT_EQ(bad_envelope(ins.pan_env_tick, ins.pan_env_points, ins.pan_env_flags,
                           ins.pan_env_sustain_start, ins.pan_env_loop_start, ins.pan_env_loop_end),
              "")
        << "instrument " << i << " pan";
    for (int s : ins.sample_map) EXPECT_TRUE(s >= 0 && s < m->sample_count) << "instrument " << i;
  }
  EXPECT_GT(cells, 0);
  destroy_mod(m);
}

INSTANTIATE_TEST_SUITE_P(Music, ShippedSongs,
                         ::testing::Values("title", "maze", "parade", "funk", "neon"));

}  // namespace
