// modux render: a song played to a buffer instead of a sound card.
// A player renders on its own offline mixer, and the tick is called here, at the tempo's rate,
// with no timer: between two ticks the mixer produces exactly the frames that the timer period of
// the tempo spans at the output rate. A song ends where it ends, or where it comes back to a row
// it has played already (its loop point), unless it is to play again. render_mod_* render on a
// player of their own, so the control interface's player plays on undisturbed.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "modux_internal.h"
#include "voice.h"

static int rows_of(const MODUX *mod, int pattern) {
  if (!mod->patterns || pattern < 0 || pattern >= mod->pattern_count) return 64;
  return mod->patterns[pattern].row_count;
}

static unsigned char *mark_of(modux_player *p, int order, int row) {
  if (order < 0 || order >= p->orders) return nullptr;
  const int first = p->order_first_row[order];
  if (row < 0 || first + row >= p->order_first_row[order + 1]) return nullptr;
  return &p->row_played[first + row];
}

static void clear_marks(modux_player *p) {
  if (p->row_played) std::memset(p->row_played, 0, p->order_first_row[p->orders] + 1);
}

// A pattern loop is due at the end of this row: some channel plays its loop again.
static bool pattern_loop_due(modux_player *p, const MODUX *mod) {
  int n = mod->channel_count < p->mi.max_chn ? mod->channel_count : p->mi.max_chn.load();
  if (n > MODUX_MAX_CHANNELS) n = MODUX_MAX_CHANNELS;
  for (int ch = 0; ch < n; ch++)
    if (p->ci[ch].loop_on != 0 && p->ci[ch].loop_times > 0) return true;
  return false;
}

bool render_tick(modux_player *p) {
  MODUX *mod = p->of;
  if (mod == nullptr) return false;
  const bool looping_pattern =
      p->mi.tick + 1 >= p->mi.speed && p->mi.pattern_delay == 0 && pattern_loop_due(p, mod);
  // A pattern delay that repeats its row starts the same row again at tick 0.
  const bool repeating_row = p->mi.tick + 1 >= p->mi.speed && p->mi.pattern_delay > 0;
  player_interrupt(p);
  p->played_units += p->tick_period;
  if (p->of == nullptr) return false;
  // Every row starts with tick 0, and only a row start (or its repetition) leaves the counter at 0.
  if (p->mi.tick != 0 || repeating_row) return true;
  if (looping_pattern) {
    // A pattern loop plays its rows again on purpose: from the row it went back to, the rows of
    // this position count as new until the loop is done.
    for (unsigned char *mark = mark_of(p, p->mi.order, p->mi.row);
         mark && mark < &p->row_played[p->order_first_row[p->mi.order + 1]]; mark++)
      *mark = 0;
  }
  unsigned char *mark = mark_of(p, p->mi.order, p->mi.row);
  if (!mark) return true;
  if (*mark) {
    // Back at a played row: the loop point. A song to be played again goes on from here.
    if (p->repeats_left == 0) return false;
    if (p->repeats_left > 0) p->repeats_left--;
    clear_marks(p);
  }
  *mark = 1;
  return true;
}

// The song is over: its voices stop and fade out over the coda.
static void finish(modux_player *p) {
  p->finished = -1;
  player_stop_locked(p);
  p->coda_frames = MIXER_RAMP_FRAMES;
}

static void schedule_next_tick(modux_player *p) {
  p->tick_remainder += static_cast<long long>(p->rate) * p->tick_period;
  p->frames_to_tick = static_cast<long>(p->tick_remainder / TIMERS_PER_SECOND);
  p->tick_remainder %= TIMERS_PER_SECOND;
}

// Moves a started song to row 0 of an order position before its first tick.
static void enter_order(modux_player *p, int order) {
  p->mi.order = order;
  p->mi.pattern = p->of->order_table[order];
}

int render_begin(modux_player *p, MODUX *mod, int rate, int order, int repeats) {
  if (!mod) {
    std::snprintf(modux_error, sizeof modux_error, "Can't render a MODUX pointer with null value");
    return -1;
  }
  if (p->rendering) render_end(p);
  p->offline = -1;
  p->on_mixer = -1;
  mixer_reset(&p->mixer, rate);
  p->rate = mixer_rate(&p->mixer);
  int channels = mod->channel_count;
  if (channels < 1) channels = 1;
  if (channels > MODUX_MAX_CHANNELS) channels = MODUX_MAX_CHANNELS;
  p->rendering = -1;
  if (player_reserve(p, channels) < 0) {
    render_end(p);
    return -1;
  }

  const int orders = mod_playable_orders(mod);
  p->order_first_row = static_cast<int *>(calloc(orders + 1, sizeof(int)));
  long rows = 0;
  for (int o = 0; o < orders && p->order_first_row; o++) {
    rows += rows_of(mod, mod->order_table[o]);
    p->order_first_row[o + 1] = static_cast<int>(rows);
  }
  p->row_played = static_cast<unsigned char *>(calloc(rows + 1, 1));
  if (!p->order_first_row || !p->row_played) {
    std::snprintf(modux_error, sizeof modux_error, "Not enough memory to render");
    render_end(p);
    return -1;
  }
  p->orders = orders;

  p->tick_period = 0;
  p->tick_remainder = 0;
  p->played_units = 0;
  p->finished = 0;
  p->coda_frames = 0;
  p->repeats_left = repeats;
  p->render_module = mod;
  player_start_locked(p, mod, repeats != 0);
  p->start_order = order > 0 && order < orders ? order : 0;
  if (p->start_order) enter_order(p, p->start_order);
  // The first tick is row 0 of the first order; its sound starts the output.
  if (!render_tick(p)) finish(p);
  schedule_next_tick(p);
  return 1;
}

void render_seek(modux_player *p, int order) {
  if (!p->rendering || p->finished || !p->of) return;
  p->mi.skip_row = 1;
  p->mi.skip_order = clamp_int(order, 0, MODUX_MAX_ORDERS) + 1;
  clear_marks(p);
}

long render_run(modux_player *p, short *s16, float *f32, long frames, float gain) {
  if (!p->rendering || (!s16 && !f32)) return 0;
  long written = 0;
  while (written < frames) {
    long ahead = p->frames_to_tick;
    if (p->finished) {
      if (p->coda_frames == 0) break;
      ahead = p->coda_frames;
    } else if (p->frames_to_tick == 0) {
      if (!render_tick(p))
        finish(p);
      else
        schedule_next_tick(p);
      continue;
    }
    const long n = frames - written < ahead ? frames - written : ahead;
    if (s16)
      mixer_mix(&p->mixer, s16 + 2 * written, static_cast<int>(n), gain);
    else
      mixer_mix_float(&p->mixer, f32 + 2 * written, static_cast<int>(n), gain);
    written += n;
    if (p->finished)
      p->coda_frames -= n;
    else
      p->frames_to_tick -= n;
  }
  return written;
}

void render_end(modux_player *p) {
  if (!p->rendering) return;
  player_release_locked(p);
  p->render_module = nullptr;
  player_free_marks(p);
  p->rendering = 0;
}

// ---------------------------------------------------------------------------------------------
// render_mod_*: one render player of the program's
// ---------------------------------------------------------------------------------------------

static modux_player render_player;

int render_mod_start(MODUX *mod, int rate) {
  player_register(&render_player);
  std::lock_guard<std::mutex> hold(render_player.control_turn);
  return render_begin(&render_player, mod, rate, 0, 0);
}

long render_mod(short *buffer, long frames) {
  std::lock_guard<std::mutex> hold(render_player.control_turn);
  return render_run(&render_player, buffer, nullptr, frames, 1.0f);
}

int render_mod_finished(void) {
  std::lock_guard<std::mutex> hold(render_player.control_turn);
  return render_player.finished;
}

void render_mod_stop(void) {
  std::lock_guard<std::mutex> hold(render_player.control_turn);
  render_end(&render_player);
}
