// Cost of one tick of the player (mod_interrupt) with 4, 16 and 64 busy channels: the time the
// timer thread spends per tick on sequencing and effects. Headless, with Allegro's silent sound
// driver, so the voice calls cost next to nothing and the figure is the player's own work.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdlib>

#include "modux.h"

namespace {

int ignore_install(void (*)(void), long) { return 0; }

bool engine_ready()
{
    static bool ready = false;
    if (!ready) {
        install_allegro(SYSTEM_NONE, &errno, atexit);
        install_sound(DIGI_NONE, MIDI_NONE, nullptr);
        modux_install_int = ignore_install;  // Allegro's timer needs a display
        ready = install_mod(MODUX_MAX_CHANNELS) == 1 && mi.max_chn == MODUX_MAX_CHANNELS;
    }
    return ready;
}

// Every cell of every channel starts a note with an effect that works on every tick: arpeggio,
// vibrato, volume slide, pitch slide, tremolo or tone portamento, rotating over rows and
// channels. One 64-row pattern, played in a loop.
MODUX *busy_song(int channels, int speed)
{
    static const int effects[][2] = {
        {CMD_ARPEGGIO, 0x37},  {CMD_VIBRATO, 0x48}, {CMD_VOLSLIDE, 0x01},
        {CMD_PORTA_DOWN, 0x02}, {CMD_TREMOLO, 0x44}, {CMD_TONE_PORTA, 0x08},
    };
    static const int notes[] = {8363, 9387, 10536, 11163, 12530, 14064, 15787};
    const int rows = 64;
    MODUX *mod = static_cast<MODUX *>(calloc(1, sizeof(MODUX)));
    mod->channel_count = channels;
    mod->pattern_count = mod->order_count = 1;
    mod->patterns = static_cast<PATTERN_INFO *>(calloc(1, sizeof(PATTERN_INFO)));
    mod->patterns[0].row_count = rows;
    mod->patterns[0].notes = static_cast<NOTE_INFO *>(calloc(rows * channels, sizeof(NOTE_INFO)));
    for (int r = 0; r < rows; r++) {
        for (int c = 0; c < channels; c++) {
            const int *effect = effects[(r + c) % 6];
            mod->patterns[0].notes[r * channels + c] = NOTE_INFO{1 + c % 2, notes[(r * 3 + c) % 7], 0, effect[0], effect[1]};
        }
    }
    mod->sample_count = 2;
    mod->sample_info = static_cast<SAMPLE_INFO *>(calloc(2, sizeof(SAMPLE_INFO)));
    mod->samples = static_cast<SAMPLE *>(calloc(2, sizeof(SAMPLE)));
    for (int s = 0; s < 2; s++) {
        mod->samples[s] = SAMPLE{8, 0, 8363, 192, 4000, 0, 4000, static_cast<unsigned long>(-1), calloc(1, 4000)};
        mod->sample_info[s] = SAMPLE_INFO{4000, 8363, 0, 48, 128, 0, 4000, 1, 0, 0, 0, 0};
    }
    for (int c = 0; c < MODUX_MAX_CHANNELS; c++)
        mod->channel_pan[c] = c % 2 ? 64 : 192;
    mod->initial_speed = speed;
    mod->initial_tempo = 125;
    mod->initial_global_volume = 64;
    return mod;
}

void run_ticks(benchmark::State &state, int speed)
{
    if (!engine_ready()) {
        state.SkipWithError("music engine did not install 64 voices");
        return;
    }
    MODUX *mod = busy_song(static_cast<int>(state.range(0)), speed);
    play_mod(mod, -1);
    for (auto _ : state)
        mod_interrupt();
    destroy_mod(mod);
    state.SetItemsProcessed(state.iterations() * state.range(0));  // channel updates
}

// Speed 6: one row start in six ticks, the song's usual mix.
void BM_Tick(benchmark::State &state) { run_ticks(state, 6); }

// Speed 1: every tick reads a row, the heaviest kind of tick.
void BM_RowStartTick(benchmark::State &state) { run_ticks(state, 1); }

BENCHMARK(BM_Tick)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RowStartTick)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMicrosecond);

} // namespace
