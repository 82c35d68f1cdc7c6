// Time to read a game-sized MUX song from memory into the module model: the cost the game pays
// per song when sounds.dat is loaded.
#include <benchmark/benchmark.h>

#include "modux.h"
#include "mux_image.h"

using namespace muxtest;

namespace {

// Eight channels, 24 patterns of 64 rows, 40 orders and 16 samples of about half a second:
// the size of a typical game song. Notes fall on every other row of a channel, with a sprinkling
// of effects and volume-column entries, so the column streams mix runs and literals.
module game_song(bool with_samples) {
  module m;
  m.name = "benchmark song";
  m.channels = 8;
  for (int o = 0; o < 40; o++) m.orders.push_back(o % 24);
  if (with_samples) {
    for (int s = 0; s < 16; s++) {
      sample smp;
      smp.length = 20000 + 1000 * s;
      smp.bits = s % 4 == 0 ? 16 : 8;
      smp.loop_flags = s % 2;
      smp.loop_start = 1000;
      smp.loop_end = smp.length;
      m.samples.push_back(smp);
    }
  } else {
    m.samples.resize(16);  // empty samples: the patterns alone
  }
  static const int periods[] = {428, 381, 339, 320, 285, 254, 226, 214};
  unsigned seed = 1;
  for (int p = 0; p < 24; p++) {
    pattern pat;
    pat.rows = 64;
    pat.cells.resize(64 * 8);
    for (int r = 0; r < 64; r++) {
      for (int c = 0; c < 8; c++) {
        seed = seed * 1103515245u + 12345u;
        cell &x = pat.cells[r * 8 + c];
        if ((r + c) % 2 == 0) {
          x.note = periods[(seed >> 16) % 8];
          x.sample = 1 + (seed >> 8) % 16;
        }
        if ((seed >> 20) % 5 == 0) {
          x.command = (seed >> 12) % 15;
          x.param = (seed >> 4) & 0xFF;
        }
        if ((seed >> 24) % 7 == 0) x.volume = 0x10 + (seed >> 2) % 0x40;
      }
    }
    m.patterns.push_back(pat);
  }
  return m;
}

void load_image(benchmark::State &state, const bytes &image) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  for (auto _ : state) {
    memory_file file;
    PACKFILE *f = open_memory(image, file);
    MODUX *mod = load_mux(f);
    pack_fclose(f);
    if (!mod) {
      state.SkipWithError(modux_error);
      break;
    }
    benchmark::DoNotOptimize(mod->patterns[0].notes[0].note);
    destroy_mod(mod);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()));
  state.counters["file_bytes"] = static_cast<double>(image.size());
}

void BM_LoadMuxGameSong(benchmark::State &state) { load_image(state, build(game_song(true))); }
BENCHMARK(BM_LoadMuxGameSong)->Unit(benchmark::kMicrosecond);

void BM_LoadMuxPatternsOnly(benchmark::State &state) { load_image(state, build(game_song(false))); }
BENCHMARK(BM_LoadMuxPatternsOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
