// modux engine: the player record's life and its control.
// The default player that the control interface drives and the names its fields go by, the
// handshake between a player's tick and its control calls, reserving and freeing voices,
// starting and stopping a song, and the registry of live players that destroy_mod stops.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "modux_internal.h"
#include "voice.h"

modux_player default_player;
PLAYER_STATE &mi = default_player.mi;
std::atomic<int> &mod_volume = default_player.volume;
CHANNEL_STATE (&ci)[MODUX_MAX_CHANNELS] = default_player.ci;
MODUX *&of = default_player.of;
int (&voice_table)[MODUX_MAX_CHANNELS] = default_player.voice_table;
int &mod_init = default_player.installed;

// The silent sample that holds the reserved voices: one byte of unsigned 8-bit silence.
static unsigned char silence = 128;
static SAMPLE silent_sample = {8, 0, 1000, 192, 0, 0, 0, static_cast<unsigned long>(-1), &silence};
SAMPLE *const fake_sample = &silent_sample;

int (*modux_install_int)(void (*proc)(void), long speed) = install_int_ex;
void (*modux_remove_int)(void (*proc)(void)) = remove_int;

// 60 seconds of Allegro timer units: the period of one tick is this over (24 x BPM).
static const long MINUTE_OF_TIMER_UNITS = 60L * TIMERS_PER_SECOND;

static void set_error(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(modux_error, sizeof modux_error, format, args);
  va_end(args);
}

// Raising forbidden stops new ticks from starting; waiting for tick_busy to fall lets a tick
// already past that test finish. Only then may a control call change what the tick reads.
void begin_change(modux_player *p) {
  p->control_turn.lock();
  p->forbidden = -1;
  while (p->tick_busy.load() != 0) std::this_thread::yield();
}

void end_change(modux_player *p) {
  p->forbidden = 0;
  p->control_turn.unlock();
}

int mod_tick_begin(modux_player *p) {
  p->tick_busy = -1;
  // forbidden is tested before of is read: a control call writes of only while it is raised.
  if (p->forbidden != 0 || p->mi.pause != 0 || p->of == nullptr) {
    p->tick_busy = 0;
    return 0;
  }
  return -1;
}

void mod_tick_end(modux_player *p) { p->tick_busy = 0; }

long mod_timer_period(int tempo, int speed_ratio) {
  // A header without a tempo plays at the trackers' customary 125 BPM; a ratio of 0 only
  // exists before install_mod and means "as written".
  if (tempo <= 0) tempo = 125;
  if (speed_ratio <= 0) speed_ratio = 100;
  if (speed_ratio > 400) speed_ratio = 400;
  long long divisor = 24LL * speed_ratio * tempo / 100;
  // A very slow tempo at a small ratio rounds the divisor to 0: one tick a minute instead.
  if (divisor < 1) divisor = 1;
  long period = static_cast<long>(MINUTE_OF_TIMER_UNITS / divisor);
  // Huge tempos from a damaged file would flood the timer thread; a thousand ticks a second
  // is far above any musical rate (255 BPM at 400% is 408).
  const long fastest = TIMERS_PER_SECOND / 1000;
  if (period < fastest) period = fastest;
  return period;
}

// Callers hold the turn or own the tick after it ran, so installs never cross: each one reads
// the tempo and ratio that hold when it lands, and the last one made is the rate that stays.
// The render clock takes the period instead of a timer.
void player_restart_timer_locked(modux_player *p) {
  const long period = mod_timer_period(p->mi.tempo, p->mi.speed_ratio);
  if (p->offline) {
    p->tick_period = period;
    p->tick_installed = -1;
    return;
  }
  if (modux_install_int(mod_interrupt, period) == 0) p->tick_installed = -1;
}

void player_stop_locked(modux_player *p) {
  if (!p->of) return;
  p->mi.is_playing = 0;
  p->mi.order = 0;
  for (int i = 0; i < p->mi.max_chn; i++) {
    if (p->voice_table[i] < 0) continue;
    modux_voice_stop(p, p->voice_table[i]);
    modux_voice_set_volume(p, p->voice_table[i], 0);
  }
  voices_silence(p);
  p->of = nullptr;
}

int player_reserve(modux_player *p, int max_chn) {
  if (max_chn < 1 || max_chn > MODUX_MAX_CHANNELS) {
    set_error("MODUX : %d voices asked for, 1 to %d can be had", max_chn, MODUX_MAX_CHANNELS);
    return -1;
  }
  int failed = 0;
  for (int i = 0; i < max_chn; i++) {
    const int voice = modux_voice_allocate(p, fake_sample);
    p->voice_table[i] = voice;
    if (voice < 0) {
      failed = -1;
      continue;
    }
    p->ci[i].volume = 0;
    modux_voice_set_volume(p, voice, 0);
    modux_voice_start(p, voice);
  }
  if (failed) {
    for (int i = 0; i < max_chn; i++) {
      if (p->voice_table[i] >= 0) modux_voice_deallocate(p, p->voice_table[i]);
      p->voice_table[i] = -1;
    }
    set_error("MODUX : Unable to allocate enough voices");
    return -1;
  }
  p->mi.max_chn = max_chn;
  p->mi.is_playing = 0;
  p->mi.speed_ratio = 100;
  p->mi.pitch_ratio = 100;
  p->installed = -1;
  return 1;
}

void player_release_locked(modux_player *p) {
  player_stop_locked(p);
  if (p->tick_installed) {
    if (!p->offline) modux_remove_int(mod_interrupt);
    p->tick_installed = 0;
  }
  voices_close(p);
  for (int i = 0; i < MODUX_MAX_CHANNELS; i++) {
    if (p->voice_table[i] >= 0) modux_voice_deallocate(p, p->voice_table[i]);
    p->voice_table[i] = -1;
  }
  p->installed = 0;
}

void player_start_locked(modux_player *p, MODUX *mod, int loop) {
  player_stop_locked(p);
  p->mi.flags = mod->flags;
  const int xm = mod->flags & MODUX_XM;
  for (int i = 0; i < MODUX_MAX_CHANNELS; i++) {
    CHANNEL_STATE fresh{};
    // tick_pan is rebuilt at every row start; every memory of the last song is forgotten.
    fresh.tick_pan = p->ci[i].tick_pan;
    // The channel's note sounds for good in the families without virtual voices: its voice
    // stops by itself, and the next note starts it again.
    fresh.sounding.active = -1;
    fresh.sounding.fade = 32768;
    fresh.sounding.vol_env.output = 64;
    fresh.sounding.pan_env.output = 32;
    fresh.tremolo_shift = 6;
    fresh.vibrato_shift = 5;
    fresh.tuning = xm ? 0 : 8363;
    if (i < p->mi.max_chn) fresh.pan = mod->channel_pan[i];
    p->ci[i] = fresh;
  }
  p->mi.channel_count = mod->channel_count;
  p->mi.tick = -1;
  p->mi.row = 0;
  p->mi.pattern = mod->order_table[0];
  p->mi.order = 0;
  p->mi.tempo = mod->initial_tempo;
  p->mi.speed = mod->initial_speed;
  p->mi.global_volume = mod->initial_global_volume;
  p->mi.new_row = 0;
  p->mi.new_order = 0;
  p->mi.pattern_delay = 0;
  p->row_extra_ticks = 0;
  p->next_tempo = 0;
  p->mi.loop_next_row = 0;
  p->mi.pause = 0;
  p->mi.is_playing = -1;
  p->mi.loop = loop ? -1 : 0;
  if (mod->rules & RULE_IT_VIRTUAL_VOICES) {
    voices_open(p);
    voices_reset(p, mod);
  }
  p->restart_request = 0;
  p->timer_request = 0;
  p->of = mod;
  player_restart_timer_locked(p);
}

void mod_take_tick_requests(modux_player *p) {
  if (p->restart_request != 0 && p->of != nullptr) player_start_locked(p, p->of, p->mi.loop);
  p->restart_request = 0;
  if (p->timer_request != 0) player_restart_timer_locked(p);
  p->timer_request = 0;
}

void player_interrupt(modux_player *p) {
  if (!mod_tick_begin(p)) return;
  mod_tick(p);
  mod_take_tick_requests(p);
  mod_tick_end(p);
}

void mod_interrupt(void) { player_interrupt(&default_player); }

int it_random(modux_player *p) {
  if (!p->rng_ready) {
    initstate_r(1, p->rng_state, sizeof p->rng_state, &p->rng);
    p->rng_ready = -1;
  }
  int32_t value = 0;
  random_r(&p->rng, &value);
  return value;
}

void player_free_marks(modux_player *p) {
  free(p->row_played);
  free(p->order_first_row);
  free(p->order_seconds);
  free(p->coda_voices);
  p->coda_voices = nullptr;
  p->row_played = nullptr;
  p->visit_slots = 0;
  p->visits = 0;
  p->order_first_row = nullptr;
  p->order_seconds = nullptr;
  p->orders = 0;
}

// ---------------------------------------------------------------------------------------------
// The registry of live players
// ---------------------------------------------------------------------------------------------

static std::mutex registry_turn;
static modux_player *registry = nullptr;

void player_register(modux_player *p) {
  std::lock_guard<std::mutex> hold(registry_turn);
  for (modux_player *q = registry; q; q = q->next)
    if (q == p) return;
  p->next = registry;
  registry = p;
}

void player_unregister(modux_player *p) {
  std::lock_guard<std::mutex> hold(registry_turn);
  for (modux_player **q = &registry; *q; q = &(*q)->next)
    if (*q == p) {
      *q = p->next;
      p->next = nullptr;
      return;
    }
}

void players_forget_module(MODUX *mod) {
  // The default player is always in the registry, whether or not it ever played.
  player_register(&default_player);
  std::lock_guard<std::mutex> hold(registry_turn);
  for (modux_player *q = registry; q; q = q->next) {
    // After the turn no tick runs and none will start on this module; a render on another
    // thread holds the turn for its whole call.
    begin_change(q);
    if (q->of == mod || q->render_module == mod) {
      player_stop_locked(q);
      if (q->rendering) {
        // The fading notes of a render's coda read the module's samples too.
        mixer_silence(&q->mixer);
        q->finished = -1;
        q->coda_frames = 0;
        q->render_module = nullptr;
      }
    }
    end_change(q);
  }
}
