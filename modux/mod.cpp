// modux mod: the control interface.
// Reserving voices, loading a module of any known family, starting, stopping, pausing,
// navigating and scaling the playback: each call drives the default player (engine.cpp), which
// plays on Allegro's voices and timer.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "import.h"
#include "modux_internal.h"
#include "voice.h"

thread_local char modux_error[80] = "\n";
thread_local char modux_note[80] = "";
int enable_m15 = 0;
std::atomic<int> enable_lasttrk_loop{-1};
int fast_loading = -1;

static void set_error(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(modux_error, sizeof modux_error, format, args);
  va_end(args);
}

int install_mod(int max_chn) {
  if (mod_init) return 1;
  register_datafile_modux();
  player_register(&default_player);
  if (player_reserve(&default_player, max_chn) < 0) return -1;
  static int exit_hook_registered = 0;
  if (!exit_hook_registered) {
    atexit(remove_mod);
    exit_hook_registered = -1;
  }
  lock_modux_player2();
  lock_modux_player3();
  lock_modux_player4();
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Formats
// ---------------------------------------------------------------------------------------------

// Both go through the importers' kit (import.h), which reads the file once and tells its format
// from its bytes; its status becomes modux_error and modux_note here. enable_m15 adds the
// 15-sample MODs as the last resort.
MODUX *load_mod(const char *file) {
  modux_status status;
  MODUX *mod = modux_import::load_path(file, enable_m15 == -1 ? MODUX_LOAD_MOD15 : 0, &status);
  modux_import::publish_legacy(status, mod == nullptr);
  return mod;
}

int get_mod_info(const char *file, MODFILE_INFO *info) {
  modux_status status;
  const int result =
      modux_import::path_info(file, enable_m15 == -1 ? MODUX_LOAD_MOD15 : 0, info, &status);
  if (result < 0) modux_import::publish_legacy(status, true);
  return result;
}

// ---------------------------------------------------------------------------------------------
// Playback
// ---------------------------------------------------------------------------------------------

void play_mod(MODUX *mod, int loop) {
  if (!mod) {
    set_error("Can't play a MODUX pointer with null value");
    return;
  }
  begin_change(&default_player);
  player_start_locked(&default_player, mod, loop);
  end_change(&default_player);
}

void stop_mod(void) {
  begin_change(&default_player);
  player_stop_locked(&default_player);
  end_change(&default_player);
}

void destroy_mod(MODUX *mod) {
  if (!mod) return;
  // After this no player plays the module and none renders it.
  players_forget_module(mod);

  free(mod->sample_info);
  free(mod->instruments);
  free(mod->it_instruments);
  free(mod->sustain_samples);  // shares the data of samples
  free(mod->message);
  free(mod->it_macros);
  if (mod->patterns) {
    for (int i = 0; i < mod->pattern_count; i++) free(mod->patterns[i].notes);
    free(mod->patterns);
  }
  if (mod->samples) {
    for (int i = 0; i < mod->sample_count; i++) free(mod->samples[i].data);
    free(mod->samples);
  }
  free(mod);
}

void remove_mod(void) {
  begin_change(&default_player);
  player_release_locked(&default_player);
  end_change(&default_player);
}

static void pause_locked(modux_player *p) {
  p->mi.pause = -1;
  for (int i = 0; i < p->mi.max_chn; i++)
    if (p->voice_table[i] >= 0) modux_voice_stop(p, p->voice_table[i]);
}

static void resume_locked(modux_player *p) {
  p->mi.pause = 0;
  // A voice whose sample has ended answers a negative position and stays silent.
  for (int i = 0; i < p->mi.max_chn; i++)
    if (p->voice_table[i] >= 0 && modux_voice_get_position(p, p->voice_table[i]) >= 0)
      modux_voice_start(p, p->voice_table[i]);
}

void pause_mod(void) {
  begin_change(&default_player);
  pause_locked(&default_player);
  end_change(&default_player);
}

void resume_mod(void) {
  begin_change(&default_player);
  resume_locked(&default_player);
  end_change(&default_player);
}

void toggle_pause_mode(void) {
  begin_change(&default_player);
  if (mi.is_playing != 0 && mi.pause != 0)
    resume_locked(&default_player);
  else
    pause_locked(&default_player);
  end_change(&default_player);
}

int is_mod_paused(void) { return mi.is_playing != 0 ? mi.pause.load() : 0; }

int is_mod_playing(void) { return mi.is_playing; }

// The tick carries the request out at its next call. Any order at or past the end of the
// order list ends the song, so larger targets are held at the list's size: the request's +1
// coding then cannot overflow.
// The position is read inside the turn, so a tick cannot move it between the read and the write.
static void request_order(int step, int order) {
  begin_change(&default_player);
  if (step != 0) order = mi.order + step;
  if (order < 0) order = 0;
  if (order > MODUX_MAX_ORDERS) order = MODUX_MAX_ORDERS;
  mi.skip_row = 1;
  mi.skip_order = order + 1;
  end_change(&default_player);
}

void next_mod_track(void) { request_order(1, 0); }

void prev_mod_track(void) { request_order(-1, 0); }

void goto_mod_track(int order) { request_order(0, order); }

void set_mod_volume(int volume) {
  if (volume < 0) volume = 0;
  if (volume > 255) volume = 255;
  mod_volume = volume;
  begin_change(&default_player);
  for (int i = 0; i < mi.max_chn; i++)
    if (voice_table[i] >= 0)
      modux_voice_set_volume(&default_player, voice_table[i], calc_volume(&default_player, i));
  end_change(&default_player);
}

int get_mod_volume(void) { return mod_volume; }

static int clamp_ratio(int percent) {
  if (percent < 1) return 1;
  if (percent > 400) return 400;
  return percent;
}

void set_mod_speed(int percent) {
  begin_change(&default_player);
  mi.speed_ratio = clamp_ratio(percent);
  if (mi.is_playing == -1) player_restart_timer_locked(&default_player);
  end_change(&default_player);
}

void set_mod_pitch(int percent) { mi.pitch_ratio = clamp_ratio(percent); }

SAMPLE *get_modux_sample(MODUX *mod, int sample) {
  if (!mod) {
    set_error("MODUX pointer passed in is a NULL value");
    return nullptr;
  }
  if (sample < 0 || sample >= mod->sample_count || !mod->samples) {
    set_error("Incorrect value of no sample found");
    return nullptr;
  }
  return &mod->samples[sample];
}

// ---------------------------------------------------------------------------------------------
// Datafile objects of type "MUX "
// ---------------------------------------------------------------------------------------------

void *load_mux_datafile(PACKFILE *f, long) {
  MODUX *mod = load_mux(f);
  if (mod) return mod;
  // Allegro 4.4 frees memory twice when an object loader answers null, which would crash the
  // whole datafile load. A damaged song therefore becomes a silent one: an empty module whose
  // song ends at once, with modux_error saying what was wrong.
  return calloc(1, sizeof(MODUX));
}

void destroy_mod_datafile(void *obj) { destroy_mod(static_cast<MODUX *>(obj)); }

void register_datafile_modux(void) {
  static int registered = 0;
  if (registered) return;
  register_datafile_object(DAT_MUX, load_mux_datafile, destroy_mod_datafile);
  registered = -1;
}

void lock_mod(MODUX *mod) {
  if (!mod || !mod->samples) return;
  for (int i = 0; i < mod->sample_count; i++) lock_sample(&mod->samples[i]);
}
