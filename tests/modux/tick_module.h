// Small modules built in memory for driving the playback tick call by call, with the timer
// calls pointed at a recorder (Allegro's timer needs a display here).
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "modux.h"

namespace ticktest {

inline std::vector<long> &timer_periods() {
  static std::vector<long> periods;
  return periods;
}

class TickModule : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    install_sound(DIGI_NONE, MIDI_NONE, nullptr);
    modux_install_int = [](void (*)(void), long speed) { return timer_periods().push_back(speed), 0; };
    modux_remove_int = [](void (*)(void)) {};
    install_mod(16);
  }
  void TearDown() override { destroy_mod(mod); }

  // One pattern of `rows` empty rows; `samples` silent samples of 1000 frames at volume 64.
  // XM flags give each sample relative note 0 and finetune 0 (tuning 128).
  void make(int channels, int rows, int flags = 0, int samples = 2) {
    destroy_mod(mod);
    mod = static_cast<MODUX *>(calloc(1, sizeof(MODUX)));
    mod->channel_count = channels, mod->sample_count = samples, mod->flags = flags;
    mod->pattern_count = mod->order_count = 1;
    mod->patterns = static_cast<PATTERN_INFO *>(calloc(1, sizeof(PATTERN_INFO)));
    mod->patterns[0] = {static_cast<NOTE_INFO *>(calloc(rows * channels, sizeof(NOTE_INFO))), rows};
    mod->sample_info = static_cast<SAMPLE_INFO *>(calloc(samples, sizeof(SAMPLE_INFO)));
    mod->samples = static_cast<SAMPLE *>(calloc(samples, sizeof(SAMPLE)));
    for (int s = 0; s < samples; s++) {
      mod->samples[s] = SAMPLE{8, 0, 1000, 192, 1000, 0, 0, static_cast<unsigned long>(-1), calloc(1, 1000)};
      mod->sample_info[s] = SAMPLE_INFO{1000, (flags & MODUX_XM) ? 128 : 8363, 0, 64, 128, 0, 0, 0, 0, 0, 0, 0};
    }
    mod->initial_speed = 6, mod->initial_tempo = 125, mod->initial_global_volume = 64;
    for (int c = 0; c < channels && c < 64; c++) mod->channel_pan[c] = 128;
  }
  // XM instruments, each mapping every note to sample `sample`.
  INSTRUMENT_INFO &add_instrument(int sample) {
    const int n = mod->instrument_count + 1;
    mod->instruments = static_cast<INSTRUMENT_INFO *>(realloc(mod->instruments, n * sizeof(INSTRUMENT_INFO)));
    INSTRUMENT_INFO &ins = mod->instruments[n - 1];
    ins = INSTRUMENT_INFO{};
    for (int &s : ins.sample_map) s = sample;
    mod->instrument_count = n;
    return ins;
  }
  NOTE_INFO &cell(int row, int ch) { return mod->patterns[0].notes[row * mod->channel_count + ch]; }
  void start(int speed) {
    mod->initial_speed = speed;
    play_mod(mod, 0);
  }

  MODUX *mod = nullptr;
};

}  // namespace ticktest
