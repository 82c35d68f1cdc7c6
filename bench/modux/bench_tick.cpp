// Cost of one tick of the player (mod_interrupt): the time the timer thread spends per tick on
// sequencing, effects and voice updates. The worst case has every channel start a note with an
// effect on every row (4, 16 and 64 channels, MOD and XM families, the XM one with 12-point
// volume and pan envelopes); beside it, a tick of each of the game's songs.
//
// Built twice. bench_tick runs headless on Allegro's silent driver, whose voice calls cost next
// to nothing: its figures are the player's own work. bench_tick_pulse plays through Allegro's
// real mixer voices on the PulseAudio null sink (run it with bench/run_with_sound.sh,
// which starts a private X server and sound server): its figures include the voice updates.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "modux_internal.h"

#ifdef BENCH_REAL_VOICES
#define DRIVER_NAME "PulseNullSink"
#else
#define DRIVER_NAME "SilentDriver"
#endif

namespace {

int ignore_install(void (*)(void), long) { return 0; }

bool engine_ready() {
  static int ready = 0;
  if (ready == 0) {
    ready = -1;
#ifdef BENCH_REAL_VOICES
    if (!std::getenv("DISPLAY") || install_allegro(SYSTEM_AUTODETECT, &errno, atexit) != 0 ||
        install_timer() != 0)
      return false;
    reserve_voices(MODUX_MAX_CHANNELS, -1);
    if (install_sound(DIGI_AUTODETECT, MIDI_NONE, nullptr) != 0 || !digi_driver ||
        digi_driver->id == DIGI_NONE) {
      std::fprintf(stderr, "no sound driver: %s\n", allegro_error);
      return false;
    }
    std::fprintf(stderr, "sound driver: %s, %d voices\n", digi_driver->name, digi_driver->voices);
#else
    install_allegro(SYSTEM_NONE, &errno, atexit);
    install_sound(DIGI_NONE, MIDI_NONE, nullptr);
#endif
    modux_install_int = ignore_install;  // the benchmark calls the tick itself
    if (install_mod(MODUX_MAX_CHANNELS) == 1 && mi.max_chn == MODUX_MAX_CHANNELS) ready = 1;
  }
  return ready == 1;
}

// Every cell of every channel starts a note with an effect that works on every tick: arpeggio,
// vibrato, volume slide, pitch slide, tremolo or tone portamento, rotating over rows and
// channels. One 64-row pattern, played in a loop. The XM form plays note numbers through two
// instruments whose 12-point envelopes loop, with a key off every eighth row.
MODUX *busy_song(int channels, int speed, bool xm) {
  static const int effects[][2] = {
      {CMD_ARPEGGIO, 0x37},   {CMD_VIBRATO, 0x48}, {CMD_VOLSLIDE, 0x01},
      {CMD_PORTA_DOWN, 0x02}, {CMD_TREMOLO, 0x44}, {CMD_TONE_PORTA, 0x08},
  };
  static const int notes[] = {8363, 9387, 10536, 11163, 12530, 14064, 15787};
  static const int xm_notes[] = {49, 51, 53, 54, 56, 58, 60};
  const int rows = 64;
  MODUX *mod = static_cast<MODUX *>(calloc(1, sizeof(MODUX)));
  mod->channel_count = channels;
  mod->flags = xm ? MODUX_XM | MODUX_LINEAR : 0;
  mod->pattern_count = mod->order_count = 1;
  mod->patterns = static_cast<PATTERN_INFO *>(calloc(1, sizeof(PATTERN_INFO)));
  mod->patterns[0].row_count = rows;
  mod->patterns[0].notes = static_cast<NOTE_INFO *>(calloc(rows * channels, sizeof(NOTE_INFO)));
  for (int r = 0; r < rows; r++) {
    for (int c = 0; c < channels; c++) {
      const int *effect = effects[(r + c) % 6];
      const int note = xm ? (r % 8 == 7 ? -2 : xm_notes[(r * 3 + c) % 7]) : notes[(r * 3 + c) % 7];
      mod->patterns[0].notes[r * channels + c] =
          NOTE_INFO{1 + c % 2, note, 0x10 + 48, effect[0], effect[1]};
    }
  }
  mod->sample_count = 2;
  mod->sample_info = static_cast<SAMPLE_INFO *>(calloc(2, sizeof(SAMPLE_INFO)));
  mod->samples = static_cast<SAMPLE *>(calloc(2, sizeof(SAMPLE)));
  for (int s = 0; s < 2; s++) {
    mod->samples[s] =
        SAMPLE{8, 0, 8363, 192, 4000, 0, 4000, static_cast<unsigned long>(-1), calloc(1, 4000)};
    mod->sample_info[s] =
        SAMPLE_INFO{4000, xm ? 128 : 8363, 0, 48, 128, 0, 4000, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  }
  if (xm) {
    mod->instrument_count = 2;
    mod->instruments = static_cast<INSTRUMENT_INFO *>(calloc(2, sizeof(INSTRUMENT_INFO)));
    for (int i = 0; i < 2; i++) {
      INSTRUMENT_INFO &ins = mod->instruments[i];
      for (int n = 0; n < MODUX_NOTE_MAP; n++) ins.sample_map[n] = (n + i) % 2;
      for (int p = 0; p < MODUX_ENVELOPE_POINTS; p++) {
        ins.vol_env_tick[p] = ins.pan_env_tick[p] = p * 3;
        ins.vol_env_value[p] = 64 - p * 4;
        ins.pan_env_value[p] = p % 2 ? 0 : 64;
      }
      ins.vol_env_points = ins.pan_env_points = MODUX_ENVELOPE_POINTS;
      ins.vol_env_flags = ins.pan_env_flags = 7;
      ins.vol_env_sustain_start = ins.vol_env_sustain_end = 4;
      ins.vol_env_loop_start = ins.pan_env_loop_start = 5;
      ins.vol_env_loop_end = ins.pan_env_loop_end = 11;
      ins.fadeout = 256;
    }
  }
  for (int c = 0; c < MODUX_MAX_CHANNELS; c++) mod->channel_pan[c] = c % 2 ? 64 : 192;
  mod->initial_speed = speed;
  mod->initial_tempo = 125;
  mod->initial_global_volume = 64;
  return mod;
}

void run_ticks(benchmark::State &state, MODUX *mod, int channels) {
  play_mod(mod, -1);
  for (auto _ : state) mod_interrupt();
  stop_mod();
  state.SetItemsProcessed(state.iterations() * channels);  // channel updates
}

void run_busy(benchmark::State &state, int speed, bool xm) {
  if (!engine_ready()) {
    state.SkipWithError("music engine did not install 64 voices");
    return;
  }
  MODUX *mod = busy_song(static_cast<int>(state.range(0)), speed, xm);
  run_ticks(state, mod, static_cast<int>(state.range(0)));
  destroy_mod(mod);
}

// Speed 6: one row start in six ticks, the song's usual mix.
void BM_Tick(benchmark::State &state) { run_busy(state, 6, false); }
// Speed 1: every tick reads a row, the heaviest kind of tick.
void BM_RowStartTick(benchmark::State &state) { run_busy(state, 1, false); }
void BM_XmTick(benchmark::State &state) { run_busy(state, 6, true); }
void BM_XmRowStartTick(benchmark::State &state) { run_busy(state, 1, true); }

// One of the game's songs as the build writes it, looped.
void BM_SongTick(benchmark::State &state, const char *name) {
  if (!engine_ready()) {
    state.SkipWithError("music engine did not install 64 voices");
    return;
  }
  const std::string path = std::string(VORBEL_RUN_DIR) + "/music/" + name + ".mux";
  MODUX *mod = load_mod(path.c_str());
  if (!mod) {
    state.SkipWithError(modux_error);
    return;
  }
  run_ticks(state, mod, mod->channel_count);
  destroy_mod(mod);
}

#define BUSY(fn) \
  BENCHMARK(fn)->Name(#fn "_" DRIVER_NAME)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMicrosecond)
BUSY(BM_Tick);
BUSY(BM_RowStartTick);
BUSY(BM_XmTick);
BUSY(BM_XmRowStartTick);
BENCHMARK_CAPTURE(BM_SongTick, title, "title")
    ->Name("BM_SongTick_" DRIVER_NAME "/title")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SongTick, maze, "maze")
    ->Name("BM_SongTick_" DRIVER_NAME "/maze")
    ->Unit(benchmark::kMicrosecond);

}  // namespace
