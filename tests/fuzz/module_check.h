// One robustness check of the module importers, shared by the fuzz target and the unit test
// that replays its findings: the probe (the summary get_mod_info gives) and the load (the C
// interface's load from memory) of a module's bytes must agree, a loaded module must keep every
// rule of the model that the player relies on, and it must play: a few hundred ticks from the
// start, then again after a jump within the song, and two seconds of sound through a player's
// own mixer (voices, filters, envelopes and ramps at work), its samples finite and in range.
#ifndef MODULE_CHECK_H
#define MODULE_CHECK_H

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "import.h"
#include "libmodux.h"
#include "modux_internal.h"

namespace modcheck {

// Installs what the tick needs without display or sound device: Allegro's null system and
// sound drivers, and a timer hook that records nothing (the checks call the tick directly).
inline void install_engine() {
  static bool done = false;
  if (done) return;
  done = true;
  install_allegro(SYSTEM_NONE, &errno, atexit);
  install_sound(DIGI_NONE, MIDI_NONE, nullptr);
  modux_install_int = [](void (*)(void), long) { return 0; };
  modux_remove_int = [](void (*)(void)) {};
  for (int channels = MODUX_MAX_CHANNELS; channels > 0; channels /= 2)
    if (install_mod(channels) == 1) break;
}

// The model checks are no target of the fuzzing: coverage of their loops would only slow it.
#if defined(__clang__)
#define MODCHECK_PLAIN __attribute__((no_sanitize("coverage")))
#else
#define MODCHECK_PLAIN
#endif

#define MODCHECK(cond, ...)                   \
  do {                                        \
    if (!(cond)) {                            \
      char why[200];                          \
      snprintf(why, sizeof why, __VA_ARGS__); \
      return std::string(#cond) + ": " + why; \
    }                                         \
  } while (0)

// The rules of the model a loaded module keeps; empty when all hold.
MODCHECK_PLAIN inline std::string model_faults(const MODUX *mod, bool xm_imported) {
  MODCHECK(mod->channel_count >= 0 && mod->channel_count <= MODUX_MAX_CHANNELS, "%d",
           mod->channel_count);
  MODCHECK(mod->order_count >= 0 && mod->order_count <= MODUX_MAX_ORDERS, "%d", mod->order_count);
  MODCHECK(
      mod->restart_order >= 0 && (mod->restart_order < mod->order_count || mod->restart_order == 0),
      "%d of %d", mod->restart_order, mod->order_count);
  MODCHECK(mod->initial_speed >= 1 && mod->initial_tempo >= 1, "%d %d", mod->initial_speed,
           mod->initial_tempo);
  const bool it = mod->flags & MODUX_IT;
  MODCHECK(mod->initial_global_volume >= 0 && mod->initial_global_volume <= (it ? 128 : 64), "%d",
           mod->initial_global_volume);
  MODCHECK(mod->pattern_count >= 0 && (mod->pattern_count == 0 || mod->patterns), "%d",
           mod->pattern_count);
  for (int i = 0; i < mod->order_count; i++)
    MODCHECK(mod->order_table[i] >= 0 && mod->order_table[i] < mod->pattern_count,
             "order %d: %d of %d", i, mod->order_table[i], mod->pattern_count);
  MODCHECK(mod->sample_count >= 0 && (mod->sample_count == 0 || (mod->samples && mod->sample_info)),
           "%d", mod->sample_count);
  const int cell_limit = (mod->flags & MODUX_XM) || (it && (mod->rules & RULE_IT_INSTRUMENTS))
                             ? mod->instrument_count
                             : mod->sample_count;
  for (int p = 0; p < mod->pattern_count; p++) {
    const PATTERN_INFO &pat = mod->patterns[p];
    MODCHECK(pat.row_count >= 1 && pat.notes, "pattern %d: %d rows", p, pat.row_count);
    for (long k = 0; k < static_cast<long>(pat.row_count) * mod->channel_count; k++)
      MODCHECK(pat.notes[k].sample >= 0 && pat.notes[k].sample <= cell_limit + (it ? 1 : 0),
               "pattern %d cell %ld: %d of %d", p, k, pat.notes[k].sample, cell_limit);
  }
  for (int s = 0; s < mod->sample_count; s++) {
    const SAMPLE &spl = mod->samples[s];
    const SAMPLE_INFO &si = mod->sample_info[s];
    MODCHECK(spl.data && static_cast<int>(spl.len) == si.length && si.length >= 0, "sample %d", s);
    MODCHECK(spl.bits == 8 || spl.bits == 16, "sample %d: %d bits", s, spl.bits);
    MODCHECK(si.loop_start >= 0 && si.loop_start <= si.loop_end && si.loop_end <= si.length,
             "sample %d: %d..%d of %d", s, si.loop_start, si.loop_end, si.length);
    MODCHECK(static_cast<int>(spl.loop_start) == si.loop_start &&
                 static_cast<int>(spl.loop_end) == si.loop_end,
             "sample %d", s);
    MODCHECK(!(si.loop_flags & 3) || si.loop_end > si.loop_start, "sample %d: empty loop", s);
    MODCHECK(si.volume >= 0 && si.volume <= 64, "sample %d: volume %d", s, si.volume);
  }
  if (it) {
    MODCHECK(mod->instrument_count == 0 || mod->it_instruments, "%d instruments",
             mod->instrument_count);
    for (int i = 0; i < mod->instrument_count; i++) {
      const IT_INSTRUMENT_INFO &ins = mod->it_instruments[i];
      for (int n = 0; n < MODUX_IT_NOTES; n++)
        MODCHECK(ins.sample_map[n] >= -2 && ins.sample_map[n] < mod->sample_count &&
                     ins.note_map[n] >= 0 && ins.note_map[n] < MODUX_IT_NOTES,
                 "instrument %d note %d", i, n);
      for (const IT_ENVELOPE_INFO *e : {&ins.vol_env, &ins.pan_env, &ins.pitch_env}) {
        MODCHECK(e->points >= 0 && e->points <= MODUX_IT_ENVELOPE_POINTS, "instrument %d", i);
        const int last = e->points > 0 ? e->points - 1 : 0;
        for (int p : {e->loop_start, e->loop_end, e->sustain_start, e->sustain_end})
          MODCHECK(p >= 0 && p <= last, "instrument %d point %d", i, p);
      }
    }
    for (int s = 0; s < mod->sample_count; s++) {
      const SAMPLE &sus = mod->sustain_samples[s];
      MODCHECK(sus.data == mod->samples[s].data && sus.loop_start <= sus.loop_end &&
                   sus.loop_end <= sus.len,
               "sample %d sustain loop", s);
    }
  }
  if (xm_imported) {
    MODCHECK(mod->sample_count >= 1, "no silent sample");
    for (int i = 0; i < mod->instrument_count; i++) {
      const INSTRUMENT_INFO &ins = mod->instruments[i];
      for (int n = 0; n < MODUX_NOTE_MAP; n++)
        MODCHECK(ins.sample_map[n] >= 0 && ins.sample_map[n] < mod->sample_count,
                 "instrument %d note %d", i, n);
      MODCHECK(ins.vol_env_points <= MODUX_ENVELOPE_POINTS &&
                   ins.pan_env_points <= MODUX_ENVELOPE_POINTS,
               "instrument %d", i);
      const int points[] = {ins.vol_env_sustain_start, ins.vol_env_sustain_end,
                            ins.vol_env_loop_start,    ins.vol_env_loop_end,
                            ins.pan_env_sustain_start, ins.pan_env_sustain_end,
                            ins.pan_env_loop_start,    ins.pan_env_loop_end};
      for (int p : points)
        MODCHECK(p >= 0 && p < MODUX_ENVELOPE_POINTS, "instrument %d point %d", i, p);
    }
  }
  return "";
}

// Plays ticks of a module by calling the tick directly.
inline void play_ticks(int ticks) {
  for (int t = 0; t < ticks && of; t++) mod_interrupt();
}

// Renders two seconds of a module through a C player with a resampler chosen by the bytes' size;
// empty when every sample is a finite number within -1..1 (the mixer clamps its output).
inline std::string render_faults(const MODUX *mod, size_t size) {
  static modux_player *player = modux_player_create();
  static float buffer[2 * 22050];
  modux_player_set_option(player, MODUX_OPTION_RESAMPLER, static_cast<int>(size % 4));
  // Started without the length scan of a play call, which ticks a whole song through.
  if (render_begin(player, const_cast<MODUX *>(mod), 11025, 0, 0) < 0) return "";
  const long frames = modux_player_render_float(player, buffer, 22050);
  modux_player_stop(player);
  for (long i = 0; i < 2 * frames; i++)
    if (!(buffer[i] >= -1.0f && buffer[i] <= 1.0f)) return "a rendered sample outside -1..1";
  return "";
}

// The whole check of one module's bytes; empty when it passes.
inline std::string check_bytes(const uint8_t *data, size_t size, int ticks) {
  install_engine();
  MODFILE_INFO info;
  memset(&info, 0, sizeof info);
  const int flags = enable_m15 == -1 ? MODUX_LOAD_MOD15 : 0;
  const int probed =
      modux_import::info_memory({data, static_cast<long long>(size)}, flags, &info, nullptr);
  modux_status status;
  MODUX *mod = modux_module_load_memory_flags(data, size, flags, &status);
  const std::string message = status.message;
  if (!mod) {
    // A refusal agrees with any probe; an IT refusal names what is wrong.
    if (probed == 1 && (info.type == 5 || info.type == 9))
      MODCHECK(message.compare(0, 4, "IT: ") == 0 || message.compare(0, 6, "Unable") == 0, "%s",
               message.c_str());
    return "";
  }
  std::string fault;
  if (probed != 1) {
    fault = "loaded, but the probe found no format: " + message;
  } else {
    const bool xm = info.type == 4 || info.type == 8;
    const bool plain =
        info.type == 1 || info.type == 2 || info.type == 3 || info.type == 7 || info.type == 10;
    const bool it_file = info.type == 5 || info.type == 9;
    if (it_file && mod->flags != MODUX_IT)
      fault = "the probe says IT, the module has flags " + std::to_string(mod->flags);
    else if (!(xm || plain || it_file || info.type == 6))
      fault = "loaded a module the probe calls " + std::string(info.type_name);
    else if (xm && mod->flags != (MODUX_XM | MODUX_AMIGA) &&
             mod->flags != (MODUX_XM | MODUX_LINEAR))
      fault = "the probe says XM, the module has flags " + std::to_string(mod->flags);
    else if (plain && mod->flags != 0)
      fault = "the probe says MOD or S3M, the module has flags " + std::to_string(mod->flags);
    else if (strncmp(info.name, mod->name, 20) != 0)
      fault = "the probe's name differs from the module's";
    if (fault.empty() && info.type != 6) fault = model_faults(mod, xm);
  }
  if (fault.empty()) {
    play_mod(mod, 1);
    play_ticks(ticks);
    goto_mod_track(mod->order_count / 2);
    play_ticks(ticks / 2);
    next_mod_track();
    play_ticks(ticks / 4);
    stop_mod();
    fault = render_faults(mod, size);
  }
  destroy_mod(mod);
  return fault;
}

// Checks the bytes with 15-sample MODs switched off and, when nothing else claims them, on.
inline std::string check_bytes_both_ways(const uint8_t *data, size_t size, int ticks) {
  enable_m15 = 0;
  std::string fault = check_bytes(data, size, ticks);
  if (!fault.empty()) return fault;
  MODFILE_INFO info;
  if (modux_import::info_memory({data, static_cast<long long>(size)}, 0, &info, nullptr) != -1)
    return "";
  enable_m15 = -1;
  fault = check_bytes(data, size, ticks);
  enable_m15 = 0;
  return fault;
}

}  // namespace modcheck

#endif
