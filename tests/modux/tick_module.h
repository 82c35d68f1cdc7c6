// Small modules built in memory for driving the playback tick call by call, with the timer
// calls pointed at a recorder (Allegro's timer needs a display here). Built by hand: the tick
// must also cope with what load_mux refuses.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

#include "modux_internal.h"

namespace ticktest {

using Values = std::vector<int>;
using Rows = std::vector<std::pair<int, int>>;  // order, row
using Probe = std::function<int()>;
const int C = 8363;  // middle C in frequency mode: period 1712

inline std::vector<long> &timer_periods() {
  static std::vector<long> periods;
  return periods;
}

// What a case reads from channel 0 or the player after each tick.
inline int volume() { return ci[0].volume; }
inline int tick_volume() { return ci[0].tick_volume; }
inline int period() { return ci[0].period; }
inline int tick_period() { return ci[0].tick_period; }
inline int pan() { return ci[0].pan; }
inline Probe field(int CHANNEL_STATE::*f) {
  return [f] { return ci[0].*f; };
}

class TickModule : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    install_sound(DIGI_NONE, MIDI_NONE, nullptr);
    modux_install_int = [](void (*)(void), long speed) {
      return timer_periods().push_back(speed), 0;
    };
    modux_remove_int = [](void (*)(void)) {};
    install_mod(16);
  }
  void SetUp() override { enable_lasttrk_loop = -1; }
  void TearDown() override { destroy_mod(mod); }

  // `patterns` patterns of `rows` empty rows played in turn; two silent samples of 1000 frames at
  // volume 64. XM flags give each sample relative note 0 and finetune 0 (tuning 128).
  void make(int channels, int rows, int flags = 0, int patterns = 1) {
    destroy_mod(mod);
    mod = static_cast<MODUX *>(calloc(1, sizeof(MODUX)));
    mod->channel_count = channels, mod->sample_count = 2, mod->flags = flags;
    mod->pattern_count = mod->order_count = patterns;
    mod->patterns = static_cast<PATTERN_INFO *>(calloc(patterns, sizeof(PATTERN_INFO)));
    for (int p = 0; p < patterns; p++) {
      mod->patterns[p] = {static_cast<NOTE_INFO *>(calloc(rows * channels, sizeof(NOTE_INFO))),
                          rows};
      mod->order_table[p] = p;
    }
    mod->sample_info = static_cast<SAMPLE_INFO *>(calloc(2, sizeof(SAMPLE_INFO)));
    mod->samples = static_cast<SAMPLE *>(calloc(2, sizeof(SAMPLE)));
    for (int s = 0; s < 2; s++) {
      mod->samples[s] = SAMPLE{8, 0, 1000, 192, 1000, 0, 0, ~0ul, calloc(1, 1000)};
      SAMPLE_INFO &info = mod->sample_info[s];
      info.length = 1000, info.tuning = (flags & MODUX_XM) ? 128 : 8363, info.volume = 64;
      info.pan = 128;
    }
    mod->initial_speed = 6, mod->initial_tempo = 125, mod->initial_global_volume = 64;
    for (int c = 0; c < channels && c < 64; c++) mod->channel_pan[c] = 128;
  }
  // XM instruments, each mapping every note to sample `sample`.
  INSTRUMENT_INFO &add_instrument(int sample) {
    const int n = mod->instrument_count + 1;
    mod->instruments =
        static_cast<INSTRUMENT_INFO *>(realloc(mod->instruments, n * sizeof(INSTRUMENT_INFO)));
    INSTRUMENT_INFO &ins = mod->instruments[n - 1];
    ins = INSTRUMENT_INFO{};
    for (int &s : ins.sample_map) s = sample;
    mod->instrument_count = n;
    return ins;
  }
  NOTE_INFO &cell(int row, int ch, int p = 0) {
    return mod->patterns[p].notes[row * mod->channel_count + ch];
  }
  void start(int speed, int loop = 0) {
    mod->initial_speed = speed;
    play_mod(mod, loop);
  }
  void run(int calls) {
    while (calls-- > 0) mod_interrupt();
  }
  // Order and row at the first tick of each of the next `rows` rows.
  Rows rows_played(int rows) {
    Rows seen;
    while (static_cast<int>(seen.size()) < rows && mi.is_playing) {
      mod_interrupt();
      if (mi.tick == 0) seen.push_back({mi.order, mi.row});
    }
    return seen;
  }
  // Plays `rows` on channel 0 from row 0 and reads `probe` after each of `ticks` ticks.
  Values play(int speed, const std::vector<NOTE_INFO> &rows, const Probe &probe, size_t ticks) {
    for (size_t row = 0; row < rows.size(); row++) cell(static_cast<int>(row), 0) = rows[row];
    start(speed);
    Values seen;
    while (seen.size() < ticks) mod_interrupt(), seen.push_back(probe());
    return seen;
  }

  MODUX *mod = nullptr;
};

// One case of a tick-by-tick table: `rows` on channel 0 at `speed`, `values` read after each tick.
struct TickCase {
  const char *what;
  int speed;
  std::vector<NOTE_INFO> rows;
  Probe probe;
  Values values;
};

}  // namespace ticktest
