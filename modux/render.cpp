// modux render: a song played to a buffer instead of a sound card.
// The engine runs on its offline mixer and the tick is called here, at the tempo's rate, with no
// timer: between two ticks the mixer produces exactly the frames that the timer period of the
// tempo spans at the output rate. A song ends where it ends, or where it comes back to a row it
// has played already (its loop point): rendering never loops.
#include <cstdio>
#include <cstring>
#include <vector>

#include "modux_internal.h"
#include "voice.h"

// -1 between render_mod_start and render_mod_stop.
static int rendering = 0;
// Output rate in Hz.
static int render_rate = 44100;
// Tick period in Allegro timer units, as the engine last asked its timer for it.
static long tick_period = 0;
// Output frames left before the next tick, and the remainder (in rate x timer units) that
// keeps the ticks on the timer's grid over a whole song.
static long frames_to_tick = 0;
static long long tick_remainder = 0;
// The module being rendered.
static MODUX *render_module = nullptr;
// -1 once the song has ended or reached its loop point.
static int finished = 0;
// Frames still to mix after the end: the fade of the notes that were sounding.
static long coda_frames = 0;
// Rows played so far: one mark per row of every order position; where each position starts.
static std::vector<unsigned char> row_played;
static std::vector<int> order_first_row;
// The engine's timer calls, put back when rendering stops.
static int (*saved_install_int)(void (*)(void), long) = nullptr;
static void (*saved_remove_int)(void (*)(void)) = nullptr;

// Stands in for Allegro's timer: the tick period is all the render needs of it.
static int record_tick(void (*proc)(void), long period) {
  if (proc != mod_interrupt) return -1;
  tick_period = period;
  return 0;
}

static void forget_tick(void (*)(void)) {}

static int rows_of(const MODUX *mod, int pattern) {
  if (!mod->patterns || pattern < 0 || pattern >= mod->pattern_count) return 64;
  return mod->patterns[pattern].row_count;
}

static unsigned char *mark_of(int order, int row) {
  if (order < 0 || order + 1 >= static_cast<int>(order_first_row.size())) return nullptr;
  const int first = order_first_row[order];
  if (row < 0 || first + row >= order_first_row[order + 1]) return nullptr;
  return &row_played[first + row];
}

// A pattern loop is due at the end of this row: some channel plays its loop again.
static bool pattern_loop_due(const MODUX *mod) {
  int n = mod->channel_count < mi.max_chn ? mod->channel_count : mi.max_chn.load();
  if (n > MODUX_MAX_CHANNELS) n = MODUX_MAX_CHANNELS;
  for (int ch = 0; ch < n; ch++)
    if (ci[ch].loop_on != 0 && ci[ch].loop_times > 0) return true;
  return false;
}

// One tick of the engine; answers false when the song is over (ended or back at a played row).
static bool tick(MODUX *mod) {
  const bool looping_pattern =
      mi.tick + 1 >= mi.speed && mi.pattern_delay == 0 && pattern_loop_due(mod);
  // A pattern delay that repeats its row starts the same row again at tick 0.
  const bool repeating_row = mi.tick + 1 >= mi.speed && mi.pattern_delay > 0;
  mod_interrupt();
  if (of == nullptr) return false;
  // Every row starts with tick 0, and only a row start (or its repetition) leaves the counter at 0.
  if (mi.tick != 0 || repeating_row) return true;
  if (looping_pattern) {
    // A pattern loop plays its rows again on purpose: from the row it went back to, the rows of
    // this position count as new until the loop is done.
    for (unsigned char *mark = mark_of(mi.order, mi.row);
         mark && mark < &row_played[order_first_row[mi.order + 1]]; mark++)
      *mark = 0;
  }
  unsigned char *mark = mark_of(mi.order, mi.row);
  if (!mark) return true;
  if (*mark) return false;
  *mark = 1;
  return true;
}

// The song is over: its voices stop and fade out over the coda.
static void finish() {
  finished = -1;
  stop_mod();
  coda_frames = MIXER_RAMP_FRAMES;
}

static void schedule_next_tick() {
  tick_remainder += static_cast<long long>(render_rate) * tick_period;
  frames_to_tick = static_cast<long>(tick_remainder / TIMERS_PER_SECOND);
  tick_remainder %= TIMERS_PER_SECOND;
}

int render_mod_start(MODUX *mod, int rate) {
  if (!mod) {
    std::snprintf(modux_error, sizeof modux_error, "Can't render a MODUX pointer with null value");
    return -1;
  }
  if (rendering) render_mod_stop();
  if (mod_init) remove_mod();
  saved_install_int = modux_install_int;
  saved_remove_int = modux_remove_int;
  modux_install_int = record_tick;
  modux_remove_int = forget_tick;
  modux_voices_use_mixer(-1);
  mixer_reset(rate);
  render_rate = mixer_rate();
  int channels = mod->channel_count;
  if (channels < 1) channels = 1;
  if (channels > MODUX_MAX_CHANNELS) channels = MODUX_MAX_CHANNELS;
  rendering = -1;
  if (install_mod(channels) < 0) {
    render_mod_stop();
    return -1;
  }

  const int orders = mod_playable_orders(mod);
  order_first_row.assign(orders + 1, 0);
  for (int o = 0; o < orders; o++)
    order_first_row[o + 1] = order_first_row[o] + rows_of(mod, mod->order_table[o]);
  row_played.assign(order_first_row[orders] + 1, 0);

  tick_period = 0;
  tick_remainder = 0;
  finished = 0;
  coda_frames = 0;
  render_module = mod;
  play_mod(mod, 0);
  // The first tick is row 0 of order 0; its sound starts the output.
  if (!tick(mod)) finish();
  schedule_next_tick();
  return 1;
}

long render_mod(short *buffer, long frames) {
  if (!rendering || !buffer) return 0;
  long written = 0;
  while (written < frames) {
    long ahead = frames_to_tick;
    if (finished) {
      if (coda_frames == 0) break;
      ahead = coda_frames;
    } else if (frames_to_tick == 0) {
      if (!tick(render_module))
        finish();
      else
        schedule_next_tick();
      continue;
    }
    const long n = frames - written < ahead ? frames - written : ahead;
    mixer_mix(buffer + 2 * written, static_cast<int>(n));
    written += n;
    if (finished)
      coda_frames -= n;
    else
      frames_to_tick -= n;
  }
  return written;
}

int render_mod_finished(void) { return finished; }

void render_mod_stop(void) {
  if (!rendering) return;
  stop_mod();
  remove_mod();
  modux_install_int = saved_install_int;
  modux_remove_int = saved_remove_int;
  modux_voices_use_mixer(0);
  render_module = nullptr;
  row_played.clear();
  order_first_row.clear();
  rendering = 0;
}
