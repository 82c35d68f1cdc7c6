// XM-family effects and envelopes.
// The note trigger through instruments and their note-to-sample maps, the volume and pan
// envelopes with sustain and loop, key off and fade-out, and the command codes 30 to 39; the IT
// family's note start through the instrument keyboard, its envelopes and its auto-vibrato.

#include <cmath>

#include "modux_internal.h"

// +x for a high nibble, else -y: the XM form of every slide parameter.
static int xm_slide_amount(int param) {
  const int x = (param >> 4) & 15;
  return x != 0 ? x : -(param & 15);
}

static const INSTRUMENT_INFO *instrument_record(modux_player *p, int instrument) {
  const MODUX *mod = p->of;
  if (!mod || !mod->instruments || instrument < 0 || instrument >= mod->instrument_count)
    return nullptr;
  return &mod->instruments[instrument];
}

static const SAMPLE_INFO *sample_record(modux_player *p, int sample) {
  const MODUX *mod = p->of;
  if (!mod || !mod->sample_info || sample < 0 || sample >= mod->sample_count) return nullptr;
  return &mod->sample_info[sample];
}

static void clear_envelope(ENVELOPE_STATE &env, int output) {
  env.flags = 0;
  env.points = 0;
  env.point_a = 0;
  env.point_b = 0;
  env.position = 0;
  env.output = output;
  env.ended = 0;
  env.held = 0;
}

void start_envelope(ENVELOPE_STATE *env, const int *value, const int *tick, int flags, int points,
                    int loop_start, int loop_end, int sustain_start, int sustain_end) {
  for (int i = 0; i < MODUX_ENVELOPE_POINTS; i++) {
    env->value[i] = value[i];
    env->tick[i] = tick[i];
  }
  // Point numbers from a file are held inside the points in use, so that no step of the
  // envelope reads past its twelve entries.
  env->points = clamp_int(points, 0, MODUX_ENVELOPE_POINTS);
  const int last = env->points > 0 ? env->points - 1 : 0;
  env->flags = flags;
  env->loop_start = clamp_int(loop_start, 0, last);
  env->loop_end = clamp_int(loop_end, 0, last);
  env->sustain_start = clamp_int(sustain_start, 0, last);
  env->sustain_end = clamp_int(sustain_end, 0, last);
  env->point_a = 0;
  env->point_b = 1;
  env->position = 0;
  env->ended = 0;
  env->held = 0;
  if ((flags & 2) && env->sustain_start == 0) env->point_b = 0;
  if ((flags & 1) && env->points == 1) env->point_b = 0;
}

void start_it_envelope(ENVELOPE_STATE &env, const IT_ENVELOPE_INFO &e, int output) {
  for (int i = 0; i < MODUX_IT_ENVELOPE_POINTS; i++) {
    env.value[i] = e.value[i];
    env.tick[i] = e.tick[i];
  }
  env.points = clamp_int(e.points, 0, MODUX_IT_ENVELOPE_POINTS);
  const int last = env.points > 0 ? env.points - 1 : 0;
  // The file's bits: 0 on, 1 loop, 2 sustain loop, 3 carry, 7 filter.
  env.flags = (e.flags & (1 | 8 | 128)) | (e.flags & 4 ? 2 : 0) | (e.flags & 2 ? 4 : 0);
  env.loop_start = clamp_int(e.loop_start, 0, last);
  env.loop_end = clamp_int(e.loop_end, 0, last);
  env.sustain_start = clamp_int(e.sustain_start, 0, last);
  env.sustain_end = clamp_int(e.sustain_end, 0, last);
  env.point_a = env.point_b = 0;
  env.position = 0;
  env.output = output * 256;
  env.ended = 0;
}

int envelope_value(const ENVELOPE_STATE &env, int rules) {
  const int points = clamp_int(env.points, 0, MODUX_IT_ENVELOPE_POINTS);
  if (points <= 0) return 0;
  const int last = points - 1;
  const int pos = env.position;
  if (!(rules & RULE_IT_VIRTUAL_VOICES)) {
    // The segment from point_a to point_b, in whole units.
    const int a = clamp_int(env.point_a, 0, last);
    const int b = clamp_int(env.point_b, 0, last);
    if (a == b) return env.value[b] * 256;
    return interpolate(pos, env.tick[a], env.tick[b], env.value[a], env.value[b]) * 256;
  }
  // IT: the segment the position lies in, in 1/256 units.
  if (pos >= env.tick[last]) return env.value[last] * 256;
  if (pos < env.tick[0]) return env.value[0] * 256;
  int i = 0;
  while (i + 1 < last && pos >= env.tick[i + 1]) i++;
  const int span = env.tick[i + 1] - env.tick[i];
  const long long rise = (env.value[i + 1] - env.value[i]) * 256LL * (pos - env.tick[i]);
  return env.value[i] * 256 + static_cast<int>(rise / (span > 0 ? span : 1));
}

int process_envelope(ENVELOPE_STATE *env, int default_output, int key_off, int rules) {
  const bool it = (rules & RULE_IT_VIRTUAL_VOICES) != 0;
  // An IT envelope switched off (S77) pauses: it keeps the value it had and its place.
  if (it && !(env->flags & 1)) return env->output;
  env->output = it ? default_output * 256 : default_output;
  if (env->flags == 0 || env->points <= 0 || !(env->flags & 1)) return default_output * 256;
  const int points = clamp_int(env->points, 0, MODUX_IT_ENVELOPE_POINTS);
  const int last = points - 1;
  const int value = envelope_value(*env, rules);
  env->output = it ? value : value >> 8;
  // The running loop: the sustain while the key is held, else the loop.
  const bool sustain = (env->flags & 2) && key_off == 0;
  const bool loop = sustain || (env->flags & 4);
  const int start = clamp_int(sustain ? env->sustain_start : env->loop_start, 0, last);
  const int end = clamp_int(sustain ? env->sustain_end : env->loop_end, 0, last);
  int pos = env->position;

  if (it) {
    // IT: a loop's end point plays, then the position goes back to the loop's start; one the
    // release left past the loop's end runs on past the last point first. Without a loop the
    // position runs one tick past the last point, and the envelope has ended there.
    env->ended = pos > env->tick[last] && !loop ? -1 : 0;
    if (loop && (pos == env->tick[end] || pos > env->tick[last]))
      env->position = env->tick[start];
    else if (pos <= env->tick[last])
      env->position = pos + 1;
    return value;
  }

  int a = clamp_int(env->point_a, 0, last);
  int b = clamp_int(env->point_b, 0, last);
  pos += 1;
  if (pos < env->tick[b]) {
    env->position = pos;
    env->point_a = a;
    env->point_b = b;
    return value;
  }
  // Arriving at a point: held on the sustain range until the key is released, back to the loop's
  // start at its end (both can run), else on to the next point, staying at the last.
  a = b;
  b = b + 1;
  const int ss = clamp_int(env->sustain_start, 0, last);
  const int se = clamp_int(env->sustain_end, 0, last);
  const int ls = clamp_int(env->loop_start, 0, last);
  const int le = clamp_int(env->loop_end, 0, last);
  if (sustain && b > se) {
    env->held = env->point_a == ss && env->point_b == ss ? env->held + 1 : 0;
    a = ss;
    pos = env->tick[ss];
    b = ss == se ? a : a + 1;
  } else if ((env->flags & 4) && b > le) {
    a = ls;
    pos = env->tick[ls];
    b = ls == le ? a : a + 1;
  } else if (b >= points) {
    b -= 1;
    pos -= 1;
  }
  env->position = pos;
  env->point_a = clamp_int(a, 0, last);
  env->point_b = clamp_int(b, 0, last);
  return value;
}

void hold_released_pan_envelope(ENVELOPE_STATE *env) {
  const int ss = env->sustain_start;
  if (!(env->flags & 2) || env->held == 0 || env->point_a != ss || env->point_b != ss) return;
  // It ends at its sustain point.
  env->points = ss + 1;
  env->flags &= ~4;
}

// The channel note's volume and pan envelopes from their start, as the instrument gives them.
static void start_instrument_envelopes(CHANNEL_STATE &c, const INSTRUMENT_INFO *ins) {
  start_envelope(&c.sounding.vol_env, ins->vol_env_value, ins->vol_env_tick, ins->vol_env_flags,
                 ins->vol_env_points, ins->vol_env_loop_start, ins->vol_env_loop_end,
                 ins->vol_env_sustain_start, ins->vol_env_sustain_end);
  start_envelope(&c.sounding.pan_env, ins->pan_env_value, ins->pan_env_tick, ins->pan_env_flags,
                 ins->pan_env_points, ins->pan_env_loop_start, ins->pan_env_loop_end,
                 ins->pan_env_sustain_start, ins->pan_env_sustain_end);
}

// The channel note held, at full fade, without fade-out or envelopes.
static void fresh_note(CHANNEL_STATE &c) {
  c.sounding.key_off = 0;
  c.sounding.fade = 32768;
  c.sounding.fadeout = 0;
  clear_envelope(c.sounding.vol_env, 64);
  clear_envelope(c.sounding.pan_env, 32);
}

// The instrument's envelopes, fade-out and auto-vibrato from their start, the key held.
static void restart_instrument(modux_player *p, CHANNEL_STATE &c) {
  fresh_note(c);
  const SAMPLE_INFO *info = sample_record(p, c.sounding.sample);
  const int depth = info ? clamp_int(info->vibrato_depth, 0, 15) : 0;
  c.sounding.vibrato_pos = 0;
  c.sounding.vibrato_sweep = 0;
  c.sounding.vibrato_amp = depth << 8;
  if (info && info->vibrato_sweep > 0) {
    c.sounding.vibrato_amp = 0;
    c.sounding.vibrato_sweep = (depth << 8) / info->vibrato_sweep;
  }
  c.env_instrument = c.instrument;
  const INSTRUMENT_INFO *ins = instrument_record(p, c.instrument);
  if (!ins) return;
  c.sounding.fadeout = ins->fadeout;
  start_instrument_envelopes(c, ins);
}

// The default volume and pan of the sample an instrument plays for the channel's note.
static void restore_sample_defaults(modux_player *p, CHANNEL_STATE &c, int instrument) {
  const SAMPLE_INFO *info = sample_record(p, get_modux_sample_no(p, instrument, c.note));
  if (info) {
    c.volume = info->volume;
    c.pan = info->pan;
  }
}

void retrigger_instrument(modux_player *p, int chn, int instrument) {
  CHANNEL_STATE &c = p->ci[chn];
  if (instrument_record(p, instrument)) c.instrument = instrument;
  restore_sample_defaults(p, c, instrument);
  restart_instrument(p, c);
}

// FT2 reads the envelopes of the channel's instrument where they stand: a note of another
// instrument without its number goes on at the same envelope positions in the new envelopes.
static void switch_envelopes(modux_player *p, CHANNEL_STATE &c) {
  const INSTRUMENT_INFO *ins = instrument_record(p, c.instrument);
  c.env_instrument = c.instrument;
  if (!ins) return;
  c.sounding.fadeout = ins->fadeout;
  const int vol_pos = c.sounding.vol_env.position, pan_pos = c.sounding.pan_env.position;
  start_instrument_envelopes(c, ins);
  parse_xm_set_envelop_position(&c.sounding.vol_env, vol_pos);
  parse_xm_set_envelop_position(&c.sounding.pan_env, pan_pos);
}

void parse_new_note(modux_player *p, int chn, int note, int instrument) {
  CHANNEL_STATE &c = p->ci[chn];
  if (note < 0 && instrument >= 0 && mod_rule(p, RULE_FT2_TICK_COUNTS)) {
    // FT2: a key off or cut with an instrument number gives the playing sample its volume and
    // pan again; the number waits for the next note, and the envelopes run on.
    const SAMPLE_INFO *info = sample_record(p, c.sounding.sample);
    if (info) {
      c.volume = info->volume;
      c.pan = info->pan;
    }
    if (instrument_record(p, instrument)) c.instrument = instrument;
    return;
  }
  // FT2 starts the envelopes and the fade-out again only for an instrument number: a bare note
  // goes on with the released key and the envelopes of the note before.
  const bool fresh = instrument >= 0 || !mod_rule(p, RULE_INSTRUMENT_RESETS);
  if (fresh) fresh_note(c);

  const int n = note - 1;
  if (n >= 0) {
    c.note = n;
    if (instrument >= 0) c.instrument = instrument;
    c.sounding.sample = get_modux_sample_no(p, c.instrument, n);
    const SAMPLE_INFO *info = sample_record(p, c.sounding.sample);
    if (info) {
      // A note without an instrument keeps the channel's volume and pan.
      if (instrument >= 0) {
        c.volume = info->volume;
        c.pan = info->pan;
      }
      c.relative_note = info->relative_note;
      c.tuning = info->tuning;
      c.period = note2period(p, n + c.relative_note, c.tuning);
      c.start_voice = -1;
    }
    if (!fresh && c.instrument != c.env_instrument) switch_envelopes(p, c);
  } else if (instrument >= 0 && mod_rule(p, RULE_INSTRUMENT_RESETS)) {
    // An instrument number alone: the playing note takes the sample's volume and pan again.
    restore_sample_defaults(p, c, instrument);
    if (instrument_record(p, instrument)) c.instrument = instrument;
  }
  if (fresh) restart_instrument(p, c);
}

// FT2's auto-vibrato waves, 256 steps a cycle, amplitude 64: 0 sine, 1 square, 2 and 3 ramps.
static int auto_vibrato_wave(int type, int pos) {
  switch (type & 3) {
    case 1: return pos > 127 ? 64 : -64;
    case 2: return (((pos >> 1) + 64) & 127) - 64;
    case 3: return ((-(pos >> 1) + 64) & 127) - 64;
    default: {
      // The sine of the vibrato table (amplitude 255, half a cycle in 32 steps), falling first.
      const int v = -((vib_sine_half(pos & 127) * 64 + 127) / 255);
      return pos < 128 ? v : -v;
    }
  }
}

int auto_vibrato(modux_player *p, int sample, int &pos, int &amp, int &sweep, bool key_off) {
  const SAMPLE_INFO *info = sample_record(p, sample);
  const bool it = mod_rule(p, RULE_IT_VIRTUAL_VOICES) != 0;
  if (!info || info->vibrato_depth <= 0 || !(it || mod_rule(p, RULE_AUTO_VIBRATO))) return 0;
  if (it) {
    // IT: the depth grows until it reaches the sample's, released or not; the wave is read, then
    // moved on: sine, ramp down, square, random, in linear pitch units. A speed of 0 moves
    // nothing.
    if (info->vibrato_rate == 0) return 0;
    if (amp < info->vibrato_depth * 256) amp += sweep;
    const int depth = clamp_int(amp >> 8, 0, info->vibrato_depth);
    const double phase = (pos & 255) / 256.0;
    double wave;
    switch (info->vibrato_type & 3) {
      case 1: wave = 1.0 - 2.0 * phase; break;
      case 2: wave = phase < 0.5 ? 1.0 : -1.0; break;
      case 3:  // unsigned: the generator's product wraps, which a signed one must not
        wave = ((static_cast<unsigned>(pos) * 1103515245u + 12345u) >> 16 & 255) / 128.0 - 1.0;
        break;
      default: wave = std::sin(phase * 2 * M_PI); break;
    }
    pos += info->vibrato_rate;
    return static_cast<int>(wave * depth);
  }
  // FT2: the depth grows while the key is held; the wave is moved on, then read; a period offset.
  const int full = clamp_int(info->vibrato_depth, 0, 15) << 8;
  if (sweep > 0 && !key_off) {
    amp += sweep;
    if (amp >= full) {
      amp = full;
      sweep = 0;
    }
  }
  pos = (pos + info->vibrato_rate) & 255;
  return (auto_vibrato_wave(info->vibrato_type, pos) * amp) >> 14;
}

void parse_xm_set_envelop_position(ENVELOPE_STATE *env, int position) {
  const int points = clamp_int(env->points, 0, MODUX_ENVELOPE_POINTS);
  if (points == 0) return;
  const int last_tick = env->tick[points - 1];
  int pos = position < last_tick ? position : last_tick;
  if (pos < 0) pos = 0;
  env->position = pos;
  int b = points - 1;
  for (int i = 0; i < points; i++) {
    if (env->tick[i] > pos) {
      b = i;
      break;
    }
  }
  env->point_b = b;
  env->point_a = b > 0 ? b - 1 : 0;
}

// Switches a slide on; a parameter of 0 keeps the speed the slide had.
static void arm_slide(int &on, int &speed, int param, int amount) {
  on = -1;
  if (param != 0) speed = amount;
}

// A channel value and its copy for the current tick move together.
static void slide_pair(int &value, int &tick_value, int by) {
  value += by;
  tick_value += by;
}

void parse_xm_pitch_slide_up(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  if (c.period != 0) arm_slide(c.xm_slide_up_on, c.xm_slide_up_speed, param, -4 * (param & 0xFFFF));
}

void do_xm_pitch_slide_up(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  slide_pair(c.period, c.tick_period, c.xm_slide_up_speed);
  // FT2's linear periods go up to 1, the top of its frequency table.
  const int top = mod_rule(p, RULE_FT2_TICK_COUNTS) && (p->mi.flags & MODUX_LINEAR) ? 1 : 40;
  if (c.period < top) c.period = top;
  if (c.tick_period < top) c.tick_period = top;
}

void parse_xm_pitch_slide_down(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  if (c.period != 0)
    arm_slide(c.xm_slide_down_on, c.xm_slide_down_speed, param, 4 * (param & 0xFFFF));
}

void do_xm_pitch_slide_down(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  slide_pair(c.period, c.tick_period, c.xm_slide_down_speed);
}

void parse_xm_volume_slide(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  arm_slide(c.xm_vol_slide_on, c.xm_vol_slide_speed, param, xm_slide_amount(param));
}

void do_xm_volume_slide(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  slide_pair(c.volume, c.tick_volume, c.xm_vol_slide_speed);
}

void parse_xm_pan_slide(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: x slides left, y right, 4 of IT's pan units a step; the fine forms at once.
    NOTE_STATE &n = c.sounding;
    if (param) c.pan_slide_param = param;
    c.pan = n.pan = clamp_int(n.pan - 4 * slide_step(c.pan_slide_param, true), 0, 256);
    c.pan_slide = -4 * slide_step(c.pan_slide_param, false);
    return;
  }
  if (param != 0) c.pan_slide_memory = xm_slide_amount(param);
  c.pan_slide = c.pan_slide_memory;
}

void do_xm_pan_slide(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: the sounding note's pan and the channel's, on IT's 0..256 scale.
    c.pan = c.sounding.pan = clamp_int(c.sounding.pan + c.pan_slide, 0, 256);
    return;
  }
  slide_pair(c.pan, c.tick_pan, c.pan_slide);
}

void parse_global_volume_slide(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: its own memory, the fine forms at once, the global volume up to 128.
    if (param) c.global_slide_param = param;
    p->mi.global_volume =
        clamp_int(p->mi.global_volume + slide_step(c.global_slide_param, true), 0, 128);
    c.global_vol_slide_on = -1;
    c.global_vol_slide_speed = slide_step(c.global_slide_param, false);
    return;
  }
  arm_slide(c.global_vol_slide_on, c.global_vol_slide_speed, param, xm_slide_amount(param));
}

void do_global_volume_slide(modux_player *p, int chn) {
  // The IT family's global volume runs to 128.
  const int top = mod_rule(p, RULE_IT_VIRTUAL_VOICES) ? 128 : 64;
  p->mi.global_volume = clamp_int(p->mi.global_volume + p->ci[chn].global_vol_slide_speed, 0, top);
}

void do_xm_x(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  if (c.period == 0) return;
  const int x = (param >> 4) & 15;
  const int y = param & 15;
  if (x == 1) {
    if (y != 0) c.xm_extra_fine_up = -y;
    c.period += c.xm_extra_fine_up;
  } else if (x == 2) {
    if (y != 0) c.xm_extra_fine_down = y;
    c.period += c.xm_extra_fine_down;
  }
}

// ---------------------------------------------------------------------------------------------
// The IT family's notes and envelopes
// ---------------------------------------------------------------------------------------------

int it_keyboard(const MODUX *mod, int number, int note, int &played) {
  played = note;
  if (number < 0 || note < 0 || note >= MODUX_IT_NOTES) return -1;
  int sample = number;
  if (mod->rules & RULE_IT_INSTRUMENTS) {
    if (!mod->it_instruments || number >= mod->instrument_count) return -1;
    sample = mod->it_instruments[number].sample_map[note];
    played = mod->it_instruments[number].note_map[note];
    if (sample == -1) return -1;
  }
  if (sample < 0 || !mod->sample_info || !mod->samples || sample >= mod->sample_count ||
      mod->samples[sample].len == 0)
    return -2;
  return sample;
}

// What a note of sample mode has for an instrument: no envelopes.
static const IT_INSTRUMENT_INFO no_instrument{};

// The instrument's envelopes start again from their first tick.
static void restart_it_envelopes(const IT_INSTRUMENT_INFO &ins, NOTE_STATE &n) {
  start_it_envelope(n.vol_env, ins.vol_env, 64);
  start_it_envelope(n.pan_env, ins.pan_env, 0);
  start_it_envelope(n.pitch_env, ins.pitch_env, 0);
}

// The sounding note goes on with another sample from where its voice is.
static void swap_it_sample(const MODUX *mod, NOTE_STATE &n, int sample) {
  if (sample == n.sample) return;
  n.sample = sample;
  n.swap = -1;
  n.sustain = mod->sample_info[sample].sustain_flags && !n.key_off ? -1 : 0;
}

bool restart_it_instrument(modux_player *p, int ch, int number) {
  const MODUX *mod = p->of;
  NOTE_STATE &n = p->ci[ch].sounding;
  if (!(mod->rules & RULE_IT_INSTRUMENTS) || !mod->it_instruments || number < 0 ||
      number >= mod->instrument_count)
    return false;
  restart_it_envelopes(mod->it_instruments[number], n);
  n.instrument = number;
  return true;
}

void restart_it_sample(modux_player *p, int ch, int number, int sample) {
  MODUX *mod = p->of;
  NOTE_STATE &n = p->ci[ch].sounding;
  if (sample != n.sample) {
    n.sample = sample;
    n.start = -1;
    n.offset = 0;
    n.swap = 0;
    n.sustain = mod->sample_info[sample].sustain_flags && !n.key_off ? -1 : 0;
    // Sample mode sets the filter as a note start does; instrument mode keeps it.
    if (!(mod->rules & RULE_IT_INSTRUMENTS)) it_setup_filter(n, true);
  }
  if (!(mod->rules & RULE_IT_INSTRUMENTS) || number == n.instrument) return;
  restart_it_envelopes(mod->it_instruments[number], n);
  n.instrument = number;
}

void parse_it_number(modux_player *p, int ch, int number) {
  MODUX *mod = p->of;
  NOTE_STATE &n = p->ci[ch].sounding;
  int played = 0;
  const int sample = it_keyboard(mod, number, n.note, played);
  // A note that stopped by its envelope, its sample's end or SCx plays again; one cut by ^^^ or
  // faded out stays silent, the number giving only the volume the next note without one plays at.
  if (!n.active && n.revive && sample >= 0) {
    parse_it_note(p, ch, n.note, number, true);
    return;
  }
  if (!n.active) {
    if (sample >= 0) n.volume = mod->sample_info[sample].volume;
    return;
  }
  if (!(mod->rules & RULE_IT_INSTRUMENTS)) {
    // Sample mode: a number the module lacks stops the note.
    if (sample < 0) {
      n.fade = 0;
      return;
    }
    // Another sample goes on at its own speed for the note.
    if (sample != n.sample) n.period = it_note_period(p, n.note, sample);
    swap_it_sample(mod, n, sample);
  } else {
    // An instrument the module lacks changes nothing.
    if (!mod->it_instruments || number < 0 || number >= mod->instrument_count) return;
    // Another instrument brings its envelopes from their start and starts the sample its
    // keyboard gives the note; the same one keeps the playing sample, at the volume of that one.
    if (sample >= 0 && number != n.instrument) restart_it_sample(p, ch, number, sample);
    if (number != n.instrument) restart_it_envelopes(mod->it_instruments[number], n);
    n.instrument = number;
    if (sample >= 0) {
      n.volume = mod->sample_info[sample].volume;
      return;
    }
  }
  if (n.sample >= 0) n.volume = mod->sample_info[n.sample].volume;
}

// Starts a note (0..119) of an instrument (or a sample in sample mode) on a channel.
void parse_it_note(modux_player *p, int ch, int note, int number, bool named) {
  MODUX *mod = p->of;
  CHANNEL_STATE &c = p->ci[ch];
  NOTE_STATE &n = p->ci[ch].sounding;
  int played = note;
  const int sample = it_keyboard(mod, number, note, played);
  if (sample == -1) return;
  if (sample < 0) {
    n.fade = 0;
    return;
  }
  const int instrument = (mod->rules & RULE_IT_INSTRUMENTS) ? number : -1;
  // Envelopes with the carry flag go on from where the note before had them, while it still
  // sounds with the same instrument; old ModPlug Tracker starts again one that has ended.
  const bool carry = n.active && instrument >= 0 && n.instrument == instrument;
  const auto carried = [&](const ENVELOPE_STATE &e) {
    return (e.flags & 8) && !(mod->modplug_tracker && e.ended);
  };
  voices_new_note(p, ch, instrument, sample, note);
  const SAMPLE_INFO &s = mod->sample_info[sample];
  // The filter belongs to the channel: its settings and state go on to the new note.
  const NOTE_STATE before = n;
  n = NOTE_STATE{};
  n.cutoff = before.cutoff;
  n.resonance = before.resonance;
  n.filter_on = before.filter_on;
  n.filter_cutoff = before.filter_cutoff;
  n.filter_resonance = before.filter_resonance;
  n.filter_env = 8192;
  n.voice = p->voice_table[ch];
  n.active = -1;
  n.channel = ch;
  n.instrument = instrument;
  n.sample = sample;
  n.note = note;
  n.volume = named ? s.volume : before.volume;
  n.pan = c.pan;
  c.pan_delta = 0;  // the panbrello's offset stays with the note before
  n.surround = c.surround;
  n.period = it_note_period(p, played, sample);
  n.fade = 1024;
  n.start = -1;
  n.sustain = s.sustain_flags ? -1 : 0;
  n.random_volume = 100;
  restart_it_envelopes(no_instrument, n);  // sample mode: no envelopes
  n.vibrato_sweep = s.vibrato_sweep ? s.vibrato_sweep : 256 * 64;
  // The sample's pan, else the instrument's, else the channel's: the first two hold for this
  // note only and take it out of the channel's surround.
  if (s.pan_on) {
    n.pan = s.pan >= 252 ? 256 : s.pan;
    n.surround = 0;
  }
  if (instrument >= 0) {
    const IT_INSTRUMENT_INFO &ins = mod->it_instruments[instrument];
    restart_it_envelopes(ins, n);
    if (carry) {
      if (carried(before.vol_env)) n.vol_env = before.vol_env;
      if (carried(before.pan_env)) n.pan_env = before.pan_env;
      if (carried(before.pitch_env)) n.pitch_env = before.pitch_env;
    }
    if (ins.pan >= 0 && !s.pan_on) {
      n.pan = ins.pan * 4;
      n.surround = 0;
    }
    // Pitch-pan separation moves the pan by separation / 8 (of 0..64) for each note of the
    // pattern (not the one the keyboard plays) from the centre note: by separation / 2 on this
    // 0..256 scale.
    if (ins.pitch_pan_separation)
      n.pan += (note - ins.pitch_pan_centre) * ins.pitch_pan_separation / 2;
    if (ins.random_volume) n.random_volume = 100 - (it_random(p) % (ins.random_volume + 1));
    if (ins.random_pan) n.pan += it_random(p) % (2 * ins.random_pan + 1) - ins.random_pan;
    if (ins.filter_cutoff >= 0) n.cutoff = ins.filter_cutoff;
    if (ins.filter_resonance >= 0) n.resonance = ins.filter_resonance;
    n.pan = clamp_int(n.pan, 0, 256);
  }
  it_setup_filter(n, true);
  c.vibrato_pos = c.tremolo_pos = 0;
  c.porta_target = 0;
}

// Sets the note's filter from its cutoff and resonance, the cutoff scaled by the filter envelope
// (kept as fine as the envelope: whole steps of it would move a resonant filter audibly). A
// wide-open cutoff without resonance changes nothing, except that it switches the filter off at
// a note's start.
void it_setup_filter(NOTE_STATE &n, bool note_start) {
  const int cutoff = n.cutoff * (n.filter_env + 8192) / 32;
  if (n.resonance == 0 && cutoff >= MIXER_CUTOFF_MAX) {
    if (note_start) n.filter_on = 0;
    return;
  }
  n.filter_on = -1;
  n.filter_cutoff = cutoff;
  n.filter_resonance = n.resonance;
}

// Interrupt code needs no memory locking on this platform; install_mod calls it with the others.
void lock_modux_player4(void) {}
