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

// A row's visit key: its place among the rows of every order position and the counts of the
// pattern loops under way. A loop plays its rows again with other counts, so those rows are new;
// a row met again with the same counts is the song's loop point. 0 for a row outside the song.
static unsigned long long visit_key(modux_player *p, const MODUX *mod) {
  const int order = p->mi.order, row = p->mi.row;
  if (order < 0 || order >= p->orders) return 0;
  const int first = p->order_first_row[order];
  if (row < 0 || first + row >= p->order_first_row[order + 1]) return 0;
  int n = mod->channel_count < p->mi.max_chn ? mod->channel_count : p->mi.max_chn.load();
  if (n > MODUX_MAX_CHANNELS) n = MODUX_MAX_CHANNELS;
  unsigned long long counts = 0;
  for (int ch = 0; ch < n; ch++)
    counts = (counts ^ static_cast<unsigned>(p->ci[ch].loop_times)) * 0x100000001B3ULL;
  return (static_cast<unsigned long long>(first + row + 1) << 32) ^ (counts >> 32);
}

static void clear_marks(modux_player *p) {
  if (p->row_played) std::memset(p->row_played, 0, p->visit_slots * sizeof *p->row_played);
  p->visits = 0;
}

// Records a visit; true when the set held it already, or is too full to say otherwise.
static bool visited_before(modux_player *p, unsigned long long key) {
  if (p->visits * 2 >= p->visit_slots) return true;
  long slot = static_cast<long>((key * 0x9E3779B97F4A7C15ULL) >> 20) % p->visit_slots;
  while (p->row_played[slot] != 0) {
    if (p->row_played[slot] == key) return true;
    slot = slot + 1 == p->visit_slots ? 0 : slot + 1;
  }
  p->row_played[slot] = key;
  p->visits++;
  return false;
}

// The mixer's active voices and their tails, kept before a tick or put back (the voices that
// were not active stay silent).
static void keep_voices(modux_player *p, bool back) {
  MIXER_STATE &m = p->mixer;
  if (back) std::memcpy(m.active, p->coda_active, sizeof m.active);
  for (int i = 0; i < MIXER_VOICES; i++) {
    if (!(m.active[i / 64] >> (i % 64) & 1)) continue;
    if (back) {
      m.voices[i] = p->coda_voices[i];
      m.tails[i] = p->coda_voices[MIXER_VOICES + i];
    } else {
      p->coda_voices[i] = m.voices[i];
      p->coda_voices[MIXER_VOICES + i] = m.tails[i];
    }
  }
  if (!back) std::memcpy(p->coda_active, m.active, sizeof m.active);
}

bool render_tick(modux_player *p) {
  MODUX *mod = p->of;
  if (mod == nullptr) return false;
  // A song comes back to a played row only in a tick that starts a row: the voices are kept
  // before those.
  const bool row_start = p->mi.tick + 1 >= row_ticks(p);
  if (p->coda_voices && row_start) keep_voices(p, false);
  // A pattern delay that repeats its row starts the same row again at tick 0.
  const bool repeating_row = row_start && p->mi.pattern_delay > 0;
  player_interrupt(p);
  p->played_units += p->tick_period;
  if (p->of == nullptr) return false;
  // Every row starts with tick 0, and only a row start (or its repetition) leaves the counter at 0.
  if (p->mi.tick != 0 || repeating_row) return true;
  const unsigned long long key = visit_key(p, mod);
  if (key == 0 || !visited_before(p, key)) return true;
  // Back at a played row: the loop point. A song to be played again goes on from here.
  if (p->repeats_left == 0) return false;
  if (p->repeats_left > 0) p->repeats_left--;
  clear_marks(p);
  visited_before(p, key);
  return true;
}

// The song is over: its voices stop and fade out over the coda. An imported module's trackers
// end before the row they come back to: the voices go on as they were, fading out over a tenth
// of a second, as the reference renders them.
static void finish(modux_player *p) {
  p->finished = -1;
  if (p->coda_voices && p->of && p->tick_period > 0) {
    keep_voices(p, true);
    p->mi.is_playing = 0;
    p->of = nullptr;
    p->coda_length = p->coda_frames = p->rate / 10;
    return;
  }
  player_stop_locked(p);
  p->coda_frames = MIXER_RAMP_FRAMES;
}

static void schedule_next_tick(modux_player *p) {
  if (p->whole_frame_ticks) {
    // rate x 60 / (24 x BPM x speed ratio / 100) frames, rounded down, at least a millisecond's.
    const int speed_ratio = p->mi.speed_ratio, tempo = p->mi.tempo;
    const long long ratio = clamp_int(speed_ratio > 0 ? speed_ratio : 100, 1, 400);
    const long long divisor = 24LL * ratio * (tempo > 0 ? tempo : 125);
    const long long frames = 6000LL * p->rate / divisor;
    const long fastest = p->rate / 1000 > 0 ? p->rate / 1000 : 1;
    p->frames_to_tick = frames > fastest ? static_cast<long>(frames) : fastest;
    return;
  }
  p->tick_remainder += static_cast<long long>(p->rate) * p->tick_period;
  p->frames_to_tick = static_cast<long>(p->tick_remainder / TIMERS_PER_SECOND);
  p->tick_remainder %= TIMERS_PER_SECOND;
}

// Moves a started song to row 0 of an order position before its first tick.
static void enter_order(modux_player *p, int order) {
  p->mi.order = order;
  p->mi.pattern = p->of->order_table[order];
}

// The engine's output of one voice at full volume, panned to one side: half of full scale there.
static const float ENGINE_VOICE_LEVEL = 0.5f;

// Old ModPlug Tracker's level of a song of 2k or 2k + 1 channels against the level of the same
// song from the format's own tracker, in 192ths: two thirds up to 5 channels, down to a third
// from 30 on (measured from the reference player's output, a channel at a time).
static const int MODPLUG_LEVELS[] = {128, 128, 128, 109, 96, 90, 85, 80,
                                     76,  74,  73,  71,  68, 68, 66, 64};

static float modplug_level(int channels) {
  const int k = channels / 2;
  const int n = static_cast<int>(sizeof MODPLUG_LEVELS / sizeof MODPLUG_LEVELS[0]);
  return MODPLUG_LEVELS[k < n ? k : n - 1] / 192.0f;
}

float module_level(const MODUX *mod) {
  float share;  // of full scale, for one voice at full volume on one side
  switch (mod->format) {
    case 1:
    case 2:
    case 10: {  // MOD: the more channels, the lower each, between a quarter and full scale
      const int channels = mod->channel_count > 1 ? mod->channel_count : 1;
      share = clamp_int(256 / channels, 32, 128) / 128.0f;
      break;
    }
    case 3:
    case 7:  // S3M: its master volume, kept as the mixing volume
    case 5:
    case 9:  // IT: its mixing volume
      share = (mod->mix_volume > 0 ? mod->mix_volume : 48) / 128.0f;
      break;
    case 4:
    case 8:  // XM
      share = 48 / 128.0f;
      break;
    default: return 1.0f;
  }
  if (mod->modplug_tracker) share *= modplug_level(mod->channel_count);
  return share / ENGINE_VOICE_LEVEL;
}

int render_begin(modux_player *p, MODUX *mod, int rate, int order, int repeats, bool mixed) {
  if (!mod) {
    std::snprintf(modux_error, sizeof modux_error, "Can't render a MODUX pointer with null value");
    return -1;
  }
  if (p->rendering) render_end(p);
  p->offline = -1;
  p->on_mixer = -1;
  mixer_reset(&p->mixer, rate);
  mixer_set_square_root_pan(&p->mixer, mod->square_root_pan);
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
  // Room for every row played several times over (loops); a render fuller than half the set
  // ends there.
  p->visit_slots = 16 * rows + 65536;
  p->visits = 0;
  p->row_played = static_cast<unsigned long long *>(calloc(p->visit_slots, sizeof *p->row_played));
  if (!p->order_first_row || !p->row_played) {
    std::snprintf(modux_error, sizeof modux_error, "Not enough memory to render");
    render_end(p);
    return -1;
  }
  p->orders = orders;

  p->level = module_level(mod);
  p->tick_period = 0;
  p->tick_remainder = 0;
  p->played_units = 0;
  p->finished = 0;
  p->coda_frames = 0;
  p->coda_length = 0;
  if (mixed && mod->rules != 0 && !p->coda_voices)
    p->coda_voices =
        static_cast<MIXER_VOICE_STATE *>(malloc(2 * MIXER_VOICES * sizeof(MIXER_VOICE_STATE)));
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
      mixer_mix(&p->mixer, s16 + 2 * written, static_cast<int>(n), gain * p->level);
    else
      mixer_mix_float(&p->mixer, f32 + 2 * written, static_cast<int>(n), gain * p->level);
    if (p->finished && p->coda_length > 0) {
      // The coda's linear fade: frame i of the coda at (length - i) / length.
      for (long i = 0; i < n; i++) {
        const float fade = static_cast<float>(p->coda_frames - i) / p->coda_length;
        for (int side = 0; side < 2; side++) {
          const long at = 2 * (written + i) + side;
          if (s16)
            s16[at] = static_cast<short>(s16[at] * fade);
          else
            f32[at] *= fade;
        }
      }
    }
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
