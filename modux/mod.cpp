// modux mod: the control interface.
// Reserving voices, loading a module of any known family, starting, stopping, pausing,
// navigating and scaling the playback, and the timer's side of the tick: mod_interrupt runs one
// tick on Allegro's timer thread and then carries out what that tick asked of the timer's owner.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "import.h"
#include "modux_internal.h"
#include "voice.h"

// Eight -1 entries: voice_table starts with no voice reserved.
#define MODUX_NO_VOICE8 -1, -1, -1, -1, -1, -1, -1, -1

CHANNEL_STATE ci[MODUX_MAX_CHANNELS];
PLAYER_STATE mi;
MODUX *of = nullptr;
int voice_table[MODUX_MAX_CHANNELS] = {MODUX_NO_VOICE8, MODUX_NO_VOICE8, MODUX_NO_VOICE8,
                                       MODUX_NO_VOICE8, MODUX_NO_VOICE8, MODUX_NO_VOICE8,
                                       MODUX_NO_VOICE8, MODUX_NO_VOICE8};
std::atomic<int> mod_volume{255};
SAMPLE *fake_sample = nullptr;
char modux_error[80] = "\n";
char modux_note[80] = "";
int mod_init = 0;
int enable_m15 = 0;
std::atomic<int> enable_lasttrk_loop{-1};
int fast_loading = -1;

int (*modux_install_int)(void (*proc)(void), long speed) = install_int_ex;
void (*modux_remove_int)(void (*proc)(void)) = remove_int;

// 60 seconds of Allegro timer units: the period of one tick is this over (24 x BPM).
static const long MINUTE_OF_TIMER_UNITS = 60L * TIMERS_PER_SECOND;

// -1 while mod_interrupt runs; a control call waits for 0 before it touches shared state.
static std::atomic<int> tick_busy{0};
// Nesting of guarded sections on this thread (play_mod calls stop_mod, for one).
static thread_local int guard_depth = 0;
// Control calls from several threads take turns, so one never lowers mi.forbidden under another.
// The tick never takes it.
static std::mutex control_turn;
// -1 once mod_interrupt has been handed to the timer. Written only inside a guarded section or
// by mod_interrupt after its tick, which exclude each other.
static std::atomic<int> tick_installed{0};

static void set_error(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(modux_error, sizeof modux_error, format, args);
  va_end(args);
}

// Raising mi.forbidden stops new ticks from starting; waiting for tick_busy to fall lets a
// tick already past that test finish. Only then may a control call change what the tick reads.
static void begin_change() {
  if (guard_depth++ > 0) return;
  control_turn.lock();
  mi.forbidden = -1;
  while (tick_busy.load() != 0) std::this_thread::yield();
}

static void end_change() {
  if (--guard_depth > 0) return;
  mi.forbidden = 0;
  control_turn.unlock();
}

int mod_tick_begin(void) {
  tick_busy = -1;
  // forbidden is tested before of is read: a control call writes of only while it is raised.
  if (mi.forbidden != 0 || mi.pause != 0 || of == nullptr) {
    tick_busy = 0;
    return 0;
  }
  return -1;
}

void mod_tick_end(void) { tick_busy = 0; }

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

// Callers hold the guard or are mod_interrupt after its tick, so installs never cross: each one
// reads the tempo and ratio that hold when it lands, and the last one made is the rate that stays.
static void install_tick_locked() {
  if (modux_install_int(mod_interrupt, mod_timer_period(mi.tempo, mi.speed_ratio)) == 0)
    tick_installed = -1;
}

// Silences the reserved voices and forgets the module; the caller holds the guard.
static void stop_locked() {
  if (!of) return;
  mi.is_playing = 0;
  mi.order = 0;
  for (int i = 0; i < mi.max_chn; i++) {
    if (voice_table[i] < 0) continue;
    modux_voice_stop(voice_table[i]);
    modux_voice_set_volume(voice_table[i], 0);
  }
  it_voices_silence();
  of = nullptr;
}

// A zero-filled sample data block; an empty sample still gets a valid pointer.
static void *sample_data_block(size_t bytes) { return calloc(1, bytes ? bytes : 1); }

int install_mod(int max_chn) {
  if (mod_init) return 1;
  register_datafile_modux();
  if (max_chn < 1 || max_chn > MODUX_MAX_CHANNELS) return -1;

  if (!fake_sample) {
    fake_sample = static_cast<SAMPLE *>(calloc(1, sizeof(SAMPLE)));
    if (!fake_sample) {
      set_error("Unable to setup initialization sample");
      return -1;
    }
    fake_sample->bits = 8;
    fake_sample->stereo = 0;
    fake_sample->freq = 1000;
    fake_sample->priority = 192;
    fake_sample->len = 0;
    fake_sample->loop_start = 0;
    fake_sample->loop_end = 0;
    fake_sample->param = -1;
    fake_sample->data = sample_data_block(0);
    if (!fake_sample->data) {
      free(fake_sample);
      fake_sample = nullptr;
      set_error("MODUX : Not enough memory to setup initialization sample");
      return -1;
    }
  }

  int failed = 0;
  for (int i = 0; i < max_chn; i++) {
    const int voice = modux_voice_allocate(fake_sample);
    voice_table[i] = voice;
    if (voice < 0) {
      failed = -1;
      continue;
    }
    ci[i].volume = 0;
    modux_voice_set_volume(voice, 0);
    modux_voice_start(voice);
  }
  if (failed) {
    for (int i = 0; i < max_chn; i++) {
      if (voice_table[i] >= 0) modux_voice_deallocate(voice_table[i]);
      voice_table[i] = -1;
    }
    set_error("MODUX : Unable to allocate enough voices");
    return -1;
  }

  mi.max_chn = max_chn;
  mi.is_playing = 0;
  mi.speed_ratio = 100;
  mi.pitch_ratio = 100;
  mod_init = -1;
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
// from its bytes; its status becomes modux_error and modux_note here.
MODUX *load_mod(const char *file) {
  modux_status status;
  MODUX *mod = modux_import::load_path(file, &status);
  modux_import::publish_legacy(status, mod == nullptr);
  return mod;
}

int get_mod_info(const char *file, MODFILE_INFO *info) {
  modux_status status;
  const int result = modux_import::path_info(file, info, &status);
  if (result < 0) modux_import::publish_legacy(status, true);
  return result;
}

// ---------------------------------------------------------------------------------------------
// Playback
// ---------------------------------------------------------------------------------------------

// Starts mod from its first position at its initial tempo and speed, with every channel's memory
// forgotten, and (re)installs the tick; the caller holds the guard or is mod_interrupt after its
// tick. A navigation request already made stays for the first tick.
static void start_locked(MODUX *mod, int loop) {
  stop_locked();
  mi.flags = mod->flags;
  const int xm = mod->flags & MODUX_XM;
  for (int i = 0; i < MODUX_MAX_CHANNELS; i++) {
    CHANNEL_STATE fresh{};
    // tick_pan is rebuilt at every row start; every memory of the last song is forgotten.
    fresh.tick_pan = ci[i].tick_pan;
    fresh.fade_volume = 32768;
    fresh.vol_env.output = 64;
    fresh.pan_env.output = 32;
    fresh.tremolo_shift = 6;
    fresh.vibrato_shift = 5;
    fresh.tuning = xm ? 0 : 8363;
    if (i < mi.max_chn) fresh.pan = mod->channel_pan[i];
    ci[i] = fresh;
  }
  mi.channel_count = mod->channel_count;
  mi.tick = -1;
  mi.row = 0;
  mi.pattern = mod->order_table[0];
  mi.order = 0;
  mi.tempo = mod->initial_tempo;
  mi.speed = mod->initial_speed;
  mi.global_volume = mod->initial_global_volume;
  mi.new_row = 0;
  mi.new_order = 0;
  mi.pattern_delay = 0;
  mi.loop_next_row = 0;
  mi.pause = 0;
  mi.is_playing = -1;
  mi.loop = loop ? -1 : 0;
  if (mod->flags & MODUX_IT) {
    it_voices_open();
    it_reset(mod);
  }
  mi.restart_request = 0;
  mi.timer_request = 0;
  of = mod;
  install_tick_locked();
}

void play_mod(MODUX *mod, int loop) {
  if (!mod) {
    set_error("Can't play a MODUX pointer with null value");
    return;
  }
  begin_change();
  start_locked(mod, loop);
  end_change();
}

void mod_take_tick_requests(void) {
  if (mi.restart_request != 0 && of != nullptr) start_locked(of, mi.loop);
  mi.restart_request = 0;
  if (mi.timer_request != 0) install_tick_locked();
  mi.timer_request = 0;
}

void mod_interrupt(void) {
  if (!mod_tick_begin()) return;
  mod_tick();
  mod_take_tick_requests();
  mod_tick_end();
}

void stop_mod(void) {
  begin_change();
  stop_locked();
  end_change();
}

void destroy_mod(MODUX *mod) {
  if (!mod) return;
  // After this no tick is running and none will start on this module.
  begin_change();
  if (of == mod) stop_locked();
  end_change();

  free(mod->sample_info);
  free(mod->instruments);
  free(mod->it_instruments);
  free(mod->sustain_samples);  // shares the data of samples
  free(mod->message);
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
  begin_change();
  stop_locked();
  if (tick_installed) {
    modux_remove_int(mod_interrupt);
    tick_installed = 0;
  }
  end_change();
  it_voices_close();
  for (int i = 0; i < MODUX_MAX_CHANNELS; i++) {
    if (voice_table[i] >= 0) modux_voice_deallocate(voice_table[i]);
    voice_table[i] = -1;
  }
  mod_init = 0;
}

void pause_mod(void) {
  begin_change();
  mi.pause = -1;
  for (int i = 0; i < mi.max_chn; i++)
    if (voice_table[i] >= 0) modux_voice_stop(voice_table[i]);
  end_change();
}

void resume_mod(void) {
  begin_change();
  mi.pause = 0;
  // A voice whose sample has ended answers a negative position and stays silent.
  for (int i = 0; i < mi.max_chn; i++)
    if (voice_table[i] >= 0 && modux_voice_get_position(voice_table[i]) >= 0)
      modux_voice_start(voice_table[i]);
  end_change();
}

void toggle_pause_mode(void) {
  begin_change();
  if (mi.is_playing != 0 && mi.pause != 0)
    resume_mod();
  else
    pause_mod();
  end_change();
}

int is_mod_paused(void) { return mi.is_playing != 0 ? mi.pause.load() : 0; }

int is_mod_playing(void) { return mi.is_playing; }

// The tick carries the request out at its next call. Any order at or past the end of the
// order list ends the song, so larger targets are held at the list's size: the request's +1
// coding then cannot overflow.
// The position is read inside the guard, so a tick cannot move it between the read and the write.
static void request_order(int step, int order) {
  begin_change();
  if (step != 0) order = mi.order + step;
  if (order < 0) order = 0;
  if (order > MODUX_MAX_ORDERS) order = MODUX_MAX_ORDERS;
  mi.skip_row = 1;
  mi.skip_order = order + 1;
  end_change();
}

void next_mod_track(void) { request_order(1, 0); }

void prev_mod_track(void) { request_order(-1, 0); }

void goto_mod_track(int order) { request_order(0, order); }

void set_mod_volume(int volume) {
  if (volume < 0) volume = 0;
  if (volume > 255) volume = 255;
  mod_volume = volume;
  begin_change();
  for (int i = 0; i < mi.max_chn; i++)
    if (voice_table[i] >= 0) modux_voice_set_volume(voice_table[i], calc_volume(i));
  end_change();
}

int get_mod_volume(void) { return mod_volume; }

static int clamp_ratio(int percent) {
  if (percent < 1) return 1;
  if (percent > 400) return 400;
  return percent;
}

void set_mod_speed(int percent) {
  begin_change();
  mi.speed_ratio = clamp_ratio(percent);
  if (mi.is_playing == -1) install_tick_locked();
  end_change();
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
