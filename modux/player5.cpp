// modux player5: IT-family effects and the IT part of the tick.
// After mod_tick has moved the counters, it_tick reads a row's cells (notes through the
// instrument keyboard, new note actions and duplicate checks, the volume column, the effect
// letters) on its first tick and runs the slides, waves and retriggers on the others; then every
// channel's note and every background note reaches its voice (voices_it.cpp).
#include <cmath>

#include "modux_internal.h"
#include "voice.h"

// Linear pitch of C-5 (note 60) at a C5 speed of 1 Hz is 0; a note adds 64 units a semitone.
static const int UNITS_PER_NOTE = 64;
static const int C5_NOTE = 60;
static const double AMIGA_CLOCK = 4.0 * MODUX_AMIGA_CLOCK;  // periods in quarter Amiga units
// Volume-column tone portamento speeds (values 193..202).
static const int vcol_porta[10] = {0, 1, 4, 8, 16, 32, 64, 96, 128, 255};
// Quarter sine of 64 steps a cycle, amplitude 64, for vibrato, tremolo and panbrello.
static int wave(int waveform, int pos) {
  pos &= 255;
  switch (waveform & 3) {
    case 1: return 64 - (pos >> 1);                 // ramp down
    case 2: return pos < 128 ? 64 : -64;            // square
    case 3: return ((pos * 7919 + 13) % 129) - 64;  // random
    default: return static_cast<int>(std::lround(64.0 * std::sin(pos * M_PI / 128.0)));
  }
}

static bool linear(modux_player *p) {
  const MODUX *mod = p->of;
  return (mod->rules & RULE_IT_LINEAR) != 0;
}

// The pitch of a note (0..119) of a sample: linear units, or an Amiga period.
static int note_period(modux_player *p, int note, int sample) {
  const MODUX *mod = p->of;
  const int c5 = mod->sample_info && sample >= 0 && sample < mod->sample_count
                     ? mod->sample_info[sample].tuning
                     : 8363;
  const double hz = c5 * std::exp2((note - C5_NOTE) / 12.0);
  if (linear(p)) return static_cast<int>(std::lround(std::log2(hz > 1 ? hz : 1) * 768));
  return clamp_int(std::llround(AMIGA_CLOCK / (hz > 1 ? hz : 1)), 1, 1 << 30);
}

// Slides a pitch up (positive units) or down: linear units, or 4 period units per step.
static void slide(modux_player *p, int &period, int units) {
  if (linear(p))
    period += units;
  else
    period = clamp_int(period - units, 1, 1 << 30);
}

void it_reset(modux_player *p, MODUX *mod) {
  // The control side has just given every channel a fresh record; these are the IT family's
  // starting values on top of it.
  for (int ch = 0; ch < MODUX_MAX_CHANNELS; ch++) {
    CHANNEL_STATE &c = p->ci[ch];
    c.sounding = NOTE_STATE{};
    c.sounding.voice = -1;
    c.channel_volume = mod->channel_volume[ch];
    c.pan = mod->channel_pan[ch] >= 255 ? 256 : mod->channel_pan[ch];
    c.new_note_action = -1;
    c.tremor_param = 0x101;  // I00 before any Ixy: one tick on, one off
  }
  it_voices_silence(p);
  p->mi.global_volume = mod->initial_global_volume;
}

// ---------------------------------------------------------------------------------------------
// Notes
// ---------------------------------------------------------------------------------------------

// Duplicate check: background notes of this channel that repeat what the new note plays
// (the same note, sample or instrument, as the instrument says) are cut, released or faded.
static void check_duplicates(modux_player *p, int ch, int instrument, int sample, int note) {
  const MODUX *mod = p->of;
  if (!mod->it_instruments || instrument < 0) return;
  const IT_INSTRUMENT_INFO &ins = mod->it_instruments[instrument];
  if (!ins.duplicate_check) return;
  for (NOTE_STATE &n : p->background) {
    if (!n.active || n.channel != ch || n.instrument != instrument) continue;
    const bool same = ins.duplicate_check == 1   ? n.note == note
                      : ins.duplicate_check == 2 ? n.sample == sample
                                                 : true;
    if (!same) continue;
    if (ins.duplicate_action == 0) {
      n.fade = 0;
    } else if (ins.duplicate_action == 1) {
      n.key_off = -1;
    } else {
      n.fading = -1;
    }
  }
}

// A new note on a channel: the note playing there goes by its new note action.
static void new_note_action(modux_player *p, int ch) {
  const MODUX *mod = p->of;
  NOTE_STATE &fg = p->ci[ch].sounding;
  if (!fg.active) return;
  int action = p->ci[ch].new_note_action;
  if (action < 0)
    action = mod->it_instruments && fg.instrument >= 0
                 ? mod->it_instruments[fg.instrument].new_note_action
                 : 0;
  NOTE_STATE *pushed = action == 0 || fg.loudness == 0 ? nullptr : it_push_background(p, ch);
  if (!pushed) {
    fg.active = 0;
    return;
  }
  if (action == 2) pushed->key_off = -1;
  if (action == 3) pushed->fading = -1;
}

// Starts a note (0..119) of an instrument (or a sample in sample mode) on a channel.
static void start_note(modux_player *p, int ch, int note, int number) {
  MODUX *mod = p->of;
  CHANNEL_STATE &c = p->ci[ch];
  NOTE_STATE &n = p->ci[ch].sounding;
  int instrument = -1, sample = number, played = note;
  if (mod->rules & RULE_IT_INSTRUMENTS) {
    instrument = number;
    if (!mod->it_instruments || instrument < 0 || instrument >= mod->instrument_count) return;
    const IT_INSTRUMENT_INFO &ins = mod->it_instruments[instrument];
    sample = ins.sample_map[note];
    played = ins.note_map[note];
  }
  if (!mod->sample_info || sample < 0 || sample >= mod->sample_count) return;
  check_duplicates(p, ch, instrument, sample, note);
  new_note_action(p, ch);
  const SAMPLE_INFO &s = mod->sample_info[sample];
  n = NOTE_STATE{};
  n.voice = p->voice_table[ch];
  n.active = -1;
  n.channel = ch;
  n.instrument = instrument;
  n.sample = sample;
  n.note = note;
  n.volume = s.volume;
  n.pan = c.pan;
  n.period = note_period(p, played, sample);
  n.fade = 1024;
  n.start = -1;
  n.sustain = s.sustain_flags ? -1 : 0;
  n.random_volume = 100;
  n.cutoff = 127;
  if (s.pan_on) n.pan = s.pan >= 252 ? 256 : s.pan;
  if (instrument >= 0) {
    const IT_INSTRUMENT_INFO &ins = mod->it_instruments[instrument];
    n.vol_env_on = (ins.vol_env.flags & 1) ? -1 : 0;
    n.pan_env_on = (ins.pan_env.flags & 1) ? -1 : 0;
    n.pitch_env_on = (ins.pitch_env.flags & 1) ? -1 : 0;
    if (ins.pan >= 0 && !s.pan_on) n.pan = ins.pan * 4;
    // Pitch-pan separation moves the pan by separation / 8 (of 0..64) for each note from the
    // centre note: by separation / 2 on this 0..256 scale.
    if (ins.pitch_pan_separation)
      n.pan += (played - ins.pitch_pan_centre) * ins.pitch_pan_separation / 2;
    if (ins.random_volume) n.random_volume = 100 - (it_random(p) % (ins.random_volume + 1));
    if (ins.random_pan) n.pan += it_random(p) % (2 * ins.random_pan + 1) - ins.random_pan;
    if (ins.filter_cutoff >= 0) n.cutoff = ins.filter_cutoff;
    if (ins.filter_resonance >= 0) n.resonance = ins.filter_resonance;
    n.pan = clamp_int(n.pan, 0, 256);
    c.pan = ins.pan >= 0 ? ins.pan * 4 : c.pan;
  }
  if (s.pan_on) c.pan = n.pan;
  c.vibrato_pos = c.tremolo_pos = 0;
  c.porta_target = 0;
}

// ---------------------------------------------------------------------------------------------
// Volume column and effects
// ---------------------------------------------------------------------------------------------

static void volume_column_row(modux_player *p, int ch, int v) {
  CHANNEL_STATE &c = p->ci[ch];
  NOTE_STATE &n = p->ci[ch].sounding;
  if (v <= 64) {
    n.volume = v;
  } else if (v <= 84) {  // fine volume up / down, tick 0
    const int x = (v - 65) % 10;
    if (x) c.vcol_slide_memory = x;
    n.volume = clamp_int(n.volume + (v <= 74 ? c.vcol_slide_memory : -c.vcol_slide_memory), 0, 64);
  } else if (v <= 104) {  // volume slide up / down, later ticks
    const int x = (v - 85) % 10;
    if (x) c.vcol_slide_memory = x;
  } else if (v <= 124) {  // portamento down / up, later ticks
    const int x = (v - 105) % 10;
    if (x) c.porta_memory = x * 4;
  } else if (v >= 128 && v <= 192) {  // pan
    c.pan = n.pan = (v - 128) * 4;
    c.surround = 0;
  } else if (v >= 193 && v <= 202) {  // tone portamento
    const int speed = vcol_porta[v - 193];
    if (speed) c.tone_porta_memory = speed;
  } else if (v >= 203 && v <= 212) {  // vibrato depth
    if (v > 203) c.vibrato_depth = (v - 203) * 4;
  }
}

static void volume_column_tick(modux_player *p, int ch, int v) {
  CHANNEL_STATE &c = p->ci[ch];
  NOTE_STATE &n = p->ci[ch].sounding;
  if (v >= 85 && v <= 104) {
    n.volume = clamp_int(n.volume + (v <= 94 ? c.vcol_slide_memory : -c.vcol_slide_memory), 0, 64);
  } else if (v >= 105 && v <= 124) {
    slide(p, n.period, v <= 114 ? -c.porta_memory : c.porta_memory);
  }
}

// D, K, L, N, W style slides: x0 up, 0y down, xF fine up, Fy fine down (tick 0 only).
static int slide_step(int param, bool first) {
  const int x = param >> 4, y = param & 15;
  if (y == 15 && x) return first ? x : 0;
  if (x == 15 && y) return first ? -y : 0;
  if (first) return 0;
  return y == 0 ? x : x == 0 ? -y : 0;
}

// Tone portamento toward the channel's target.
static void tone_porta(modux_player *p, int ch) {
  CHANNEL_STATE &c = p->ci[ch];
  NOTE_STATE &n = p->ci[ch].sounding;
  if (!c.porta_target) return;
  int speed = c.tone_porta_memory * 4;
  const bool up = linear(p) ? c.porta_target > n.period : c.porta_target < n.period;
  slide(p, n.period, up ? speed : -speed);
  if ((linear(p) ? n.period >= c.porta_target : n.period <= c.porta_target) == up) {
    n.period = c.porta_target;
    c.porta_target = 0;
  }
}

// S commands on the first tick.
static void extended(modux_player *p, int ch, int param) {
  CHANNEL_STATE &c = p->ci[ch];
  NOTE_STATE &n = p->ci[ch].sounding;
  const int x = param >> 4, y = param & 15;
  switch (x) {
    case 3: c.vibrato_waveform = y; break;
    case 4: c.tremolo_waveform = y; break;
    case 5: c.panbrello_waveform = y; break;
    case 6: p->mi.pattern_delay = p->mi.pattern_delay + y; break;  // fine pattern delay: ticks
    case 7:
      switch (y) {
        case 0:
        case 1:
        case 2:  // past notes: cut, off, fade
          for (NOTE_STATE &b : p->background)
            if (b.active && b.channel == ch) {
              if (y == 0) b.fade = 0;
              if (y == 1) b.key_off = -1;
              if (y == 2) b.fading = -1;
            }
          break;
        case 3:
        case 4:
        case 5:
        case 6: c.new_note_action = y - 3; break;
        case 7: n.vol_env_on = 0; break;
        case 8: n.vol_env_on = -1; break;
        case 9: n.pan_env_on = 0; break;
        case 10: n.pan_env_on = -1; break;
        case 11: n.pitch_env_on = 0; break;
        case 12: n.pitch_env_on = -1; break;
        default: break;
      }
      break;
    case 8:
      c.pan = n.pan = y * 256 / 15;
      c.surround = 0;
      break;
    case 9:
      if (y == 1) c.surround = -1;
      break;
    case 10: c.offset_high = y; break;
    case 11: do_pattern_loop(p, ch, param); break;
    case 12: c.cut_tick = y ? y : 1; break;
    case 14: p->mi.pattern_delay = p->mi.speed * y; break;
    case 15: c.midi_macro = y; break;
    default: break;
  }
}

// The first-tick part of an effect.
static void effect_row(modux_player *p, int ch, const NOTE_INFO &cell) {
  MODUX *mod = p->of;
  CHANNEL_STATE &c = p->ci[ch];
  NOTE_STATE &n = p->ci[ch].sounding;
  int param = cell.param;
  switch (cell.command) {
    case CMD_S3M_SET_SPEED:
      if (param) p->mi.speed = param;
      break;
    case CMD_POSITION_JUMP: do_position_jump(p, param); break;
    case CMD_PATTERN_BREAK: do_pattern_break(p, ((param / 10) << 4) | (param % 10)); break;
    case CMD_IT_VOLSLIDE:
    case CMD_VIBRATO_S3M_VOLSLIDE:
    case CMD_TONE_PORTA_S3M_VOLSLIDE:
      if (param) c.vol_slide_param = param;
      n.volume = clamp_int(n.volume + slide_step(c.vol_slide_param, true), 0, 64);
      break;
    case CMD_S3M_PORTA_DOWN:
    case CMD_S3M_PORTA_UP: {
      if (param) c.porta_memory = param;
      const int q = c.porta_memory;
      const int sign = cell.command == CMD_S3M_PORTA_UP ? 1 : -1;
      if ((q >> 4) == 15)
        slide(p, n.period, sign * (q & 15) * 4);
      else if ((q >> 4) == 14)
        slide(p, n.period, sign * (q & 15));
      if (!(mod->rules & RULE_IT_COMPAT_GXX)) c.tone_porta_memory = c.porta_memory;
      break;
    }
    case CMD_TONE_PORTA:
      if (param) c.tone_porta_memory = param;
      if (!(mod->rules & RULE_IT_COMPAT_GXX) && param) c.porta_memory = param;
      break;
    case CMD_VIBRATO:
    case CMD_FINE_VIBRATO:
      if (param >> 4) c.vibrato_speed = (param >> 4) * 4;
      if (param & 15) c.vibrato_depth = (param & 15) * (cell.command == CMD_VIBRATO ? 4 : 1);
      break;
    case CMD_TREMOR:
      if (param) c.tremor_param = ((((param >> 4) & 15) + 1) << 8) + (param & 15) + 1;
      break;
    case CMD_S3M_ARPEGGIO:
      if (param) c.arpeggio_param = param;
      c.arpeggio_base = n.period;
      break;
    case CMD_IT_CHANNEL_VOLUME: c.channel_volume = clamp_int(param, 0, 64); break;
    case CMD_IT_CHANNEL_VOLSLIDE:
      if (param) c.channel_slide_param = param;
      c.channel_volume =
          clamp_int(c.channel_volume + slide_step(c.channel_slide_param, true), 0, 64);
      break;
    case CMD_SAMPLE_OFFSET:
      if (param) c.sample_offset = param << 8;
      n.offset = (c.offset_high << 16) + c.sample_offset;
      if (mod->sample_info && n.sample >= 0 && n.offset >= mod->sample_info[n.sample].length &&
          !(mod->rules & RULE_IT_OLD_EFFECTS))
        n.offset = 0;
      break;
    case CMD_IT_PANSLIDE:
      if (param) c.pan_slide_param = param;
      c.pan = n.pan = clamp_int(n.pan - 4 * slide_step(c.pan_slide_param, true), 0, 256);
      break;
    case CMD_S3M_RETRIG:
      if (param) {
        c.s3m_retrig_interval = param & 15;
        c.s3m_retrig_volume = (param >> 4) & 15;
      }
      break;
    case CMD_S3M_TREMOLO:
      if (param >> 4) c.tremolo_speed = (param >> 4) * 4;
      if (param & 15) c.tremolo_depth = param & 15;
      break;
    case CMD_IT_EXTENDED: extended(p, ch, param); break;
    case CMD_IT_TEMPO:
      if (param >= 0x20) {
        p->mi.tempo = param;
        p->timer_request = -1;
      } else if (param) {
        c.tempo_slide_memory = param;
      }
      break;
    case CMD_SET_GLOBAL_VOLUME:
      if (param <= 128) p->mi.global_volume = param;
      break;
    case CMD_GLOBAL_VOLSLIDE:
      if (param) c.global_slide_param = param;
      p->mi.global_volume =
          clamp_int(p->mi.global_volume + slide_step(c.global_slide_param, true), 0, 128);
      break;
    case CMD_SET_PAN:
      c.pan = n.pan = param;
      c.surround = 0;
      break;
    case CMD_IT_PANBRELLO:
      if (param >> 4) c.panbrello_speed = param >> 4;
      if (param & 15) c.panbrello_depth = param & 15;
      break;
    case CMD_IT_MIDI_MACRO:
      // The default macros: Z00..Z7F set the cutoff (SF0) or, after SF1, the resonance;
      // Z80..Z8F set the resonance in steps of 8.
      if (!(mod->rules & RULE_IT_ZXX_MACROS)) break;
      if (param < 0x80) {
        if (c.midi_macro == 1)
          n.resonance = param;
        else if (c.midi_macro == 0)
          n.cutoff = param;
      } else if (param < 0x90) {
        n.resonance = (param & 15) * 8;
      }
      break;
    default: break;
  }
}

// The later-tick part of an effect.
static void effect_tick(modux_player *p, int ch) {
  CHANNEL_STATE &c = p->ci[ch];
  NOTE_STATE &n = p->ci[ch].sounding;
  switch (c.effect) {
    case CMD_IT_VOLSLIDE:
    case CMD_VIBRATO_S3M_VOLSLIDE:
    case CMD_TONE_PORTA_S3M_VOLSLIDE:
      n.volume = clamp_int(n.volume + slide_step(c.vol_slide_param, false), 0, 64);
      if (c.effect == CMD_TONE_PORTA_S3M_VOLSLIDE) tone_porta(p, ch);
      break;
    case CMD_S3M_PORTA_DOWN:
    case CMD_S3M_PORTA_UP:
      if (c.porta_memory < 0xE0)
        slide(p, n.period, (c.effect == CMD_S3M_PORTA_UP ? 4 : -4) * c.porta_memory);
      break;
    case CMD_TONE_PORTA: tone_porta(p, ch); break;
    case CMD_TREMOR: {
      const int on = (c.tremor_param >> 8) & 31, off = c.tremor_param & 31;
      c.tremor_count = (c.tremor_count + 1) % (on + off);
      c.volume_delta = c.tremor_count >= on ? -64 : 0;
      break;
    }
    case CMD_S3M_ARPEGGIO: {
      const int step = p->mi.tick % 3;
      const int semis = step == 0 ? 0 : step == 1 ? c.arpeggio_param >> 4 : c.arpeggio_param & 15;
      c.period_delta += linear(p) ? semis * UNITS_PER_NOTE : 0;
      if (!linear(p)) c.period_delta += static_cast<int>(n.period * (std::exp2(-semis / 12.0) - 1));
      break;
    }
    case CMD_IT_CHANNEL_VOLSLIDE:
      c.channel_volume =
          clamp_int(c.channel_volume + slide_step(c.channel_slide_param, false), 0, 64);
      break;
    case CMD_IT_PANSLIDE:
      c.pan = n.pan = clamp_int(n.pan - 4 * slide_step(c.pan_slide_param, false), 0, 256);
      break;
    case CMD_S3M_RETRIG: {
      const int interval = c.s3m_retrig_interval;
      if (interval && ++c.retrig_count >= interval) {
        c.retrig_count = 0;
        static const int add[16] = {0, -1, -2, -4, -8, -16, 0, 0, 0, 1, 2, 4, 8, 16, 0, 0};
        const int kind = c.s3m_retrig_volume;
        if (kind == 6)
          n.volume = n.volume * 2 / 3;
        else if (kind == 7)
          n.volume /= 2;
        else if (kind == 14)
          n.volume = n.volume * 3 / 2;
        else if (kind == 15)
          n.volume *= 2;
        else
          n.volume += add[kind];
        n.volume = clamp_int(n.volume, 0, 64);
        if (n.active) {
          n.start = -1;
          n.offset = 0;
        }
      }
      break;
    }
    case CMD_IT_TEMPO:
      if (c.tempo_slide_memory) {
        const int t = c.tempo_slide_memory >= 0x10 ? p->mi.tempo + (c.tempo_slide_memory & 15)
                                                   : p->mi.tempo - c.tempo_slide_memory;
        p->mi.tempo = clamp_int(t, 32, 255);
        p->timer_request = -1;
      }
      break;
    case CMD_GLOBAL_VOLSLIDE:
      p->mi.global_volume =
          clamp_int(p->mi.global_volume + slide_step(c.global_slide_param, false), 0, 128);
      break;
    default: break;
  }
}

// Waves of every tick: vibrato (also on the first tick unless old effects), tremolo, panbrello.
static void waves(modux_player *p, int ch, bool first) {
  MODUX *mod = p->of;
  CHANNEL_STATE &c = p->ci[ch];
  const int e = c.effect;
  const bool vib = e == CMD_VIBRATO || e == CMD_FINE_VIBRATO || e == CMD_VIBRATO_S3M_VOLSLIDE ||
                   (c.vcol >= 203 && c.vcol <= 212);
  if (vib && !(first && (mod->rules & RULE_IT_OLD_EFFECTS))) {
    int depth = wave(c.vibrato_waveform, c.vibrato_pos) * c.vibrato_depth;
    // A depth of 15 (60 here) swings the pitch by about 0.9 semitone; old effects twice that.
    depth = (mod->rules & RULE_IT_OLD_EFFECTS) ? depth / 32 : depth / 64;
    c.period_delta += linear(p) ? depth : -depth;
    c.vibrato_pos += c.vibrato_speed;
  }
  if (e == CMD_S3M_TREMOLO && !first) {
    c.volume_delta += wave(c.tremolo_waveform, c.tremolo_pos) * c.tremolo_depth / 32;
    c.tremolo_pos += c.tremolo_speed;
  }
  if (e == CMD_IT_PANBRELLO) {
    c.pan_delta = wave(c.panbrello_waveform, c.panbrello_pos) * c.panbrello_depth / 8;
    c.panbrello_pos += c.panbrello_speed;
  }
}

// ---------------------------------------------------------------------------------------------
// The tick
// ---------------------------------------------------------------------------------------------

static bool is_porta(const NOTE_INFO &cell) {
  const int v = cell.volume - 1;
  return cell.command == CMD_TONE_PORTA || cell.command == CMD_TONE_PORTA_S3M_VOLSLIDE ||
         (v >= 193 && v <= 202);
}

// A cell's note, sample and volume: the part a note delay holds back.
static void play_cell(modux_player *p, int ch, const NOTE_INFO &cell) {
  MODUX *mod = p->of;
  CHANNEL_STATE &c = p->ci[ch];
  NOTE_STATE &n = p->ci[ch].sounding;
  const int number = cell.sample - 1;
  const bool porta = is_porta(cell) && n.active;
  if (cell.note > 0) {
    const int note = cell.note - 1;
    int ins = number >= 0 ? number : n.instrument >= 0 ? n.instrument : n.sample;
    if (!(mod->rules & RULE_IT_INSTRUMENTS) && number < 0) ins = n.sample;
    if (porta) {
      int sample = ins, played = note;
      if ((mod->rules & RULE_IT_INSTRUMENTS) && mod->it_instruments && ins >= 0 &&
          ins < mod->instrument_count) {
        sample = mod->it_instruments[ins].sample_map[note];
        played = mod->it_instruments[ins].note_map[note];
      }
      if (sample >= 0) c.porta_target = note_period(p, played, n.sample >= 0 ? n.sample : sample);
    } else if (ins >= 0) {
      start_note(p, ch, note, ins);
    }
  } else if (cell.note == -1) {
    n.fade = 0;  // cut
  } else if (cell.note == -2) {
    n.key_off = -1;
  } else if (cell.note == -3) {
    n.fading = -1;
  }
  // A sample or instrument number alone resets the volume to its default.
  if (number >= 0 && n.active && n.sample >= 0 && mod->sample_info)
    n.volume = mod->sample_info[n.sample].volume;
  const int v = cell.volume - 1;
  if (v >= 0) volume_column_row(p, ch, v);
}

static void row_start(modux_player *p, int ch, const NOTE_INFO &cell) {
  CHANNEL_STATE &c = p->ci[ch];
  c.effect = cell.command;
  c.vcol = cell.volume - 1;
  c.delay_sample = 0;
  c.cut_tick = 0;
  c.new_note_action = -1;
  if (cell.command != CMD_S3M_RETRIG) c.retrig_count = 0;
  if (cell.command == CMD_IT_EXTENDED && (cell.param >> 4) == 0xD && (cell.param & 15) &&
      (cell.note || cell.sample || cell.volume)) {
    c.delay_sample = cell.param & 15;
    c.delayed = cell;
  } else {
    if (cell.command == CMD_IT_EXTENDED && (cell.param >> 4) == 7 && (cell.param & 15) >= 3 &&
        (cell.param & 15) <= 6)
      c.new_note_action = (cell.param & 15) - 3;
    play_cell(p, ch, cell);
  }
  effect_row(p, ch, cell);
  if (cell.command == CMD_TONE_PORTA || cell.command == CMD_TONE_PORTA_S3M_VOLSLIDE ||
      (c.vcol >= 193 && c.vcol <= 202))
    c.effect = c.vcol >= 193 && c.vcol <= 202 && cell.command != CMD_TONE_PORTA_S3M_VOLSLIDE &&
                       cell.command != CMD_TONE_PORTA
                   ? CMD_TONE_PORTA
                   : cell.command;
}

void it_tick(modux_player *p, bool first) {
  MODUX *mod = p->of;
  int channels = mod->channel_count < p->mi.max_chn ? mod->channel_count : p->mi.max_chn.load();
  if (channels > MODUX_MAX_CHANNELS) channels = MODUX_MAX_CHANNELS;
  if (first) {
    const int all =
        mod->channel_count < MODUX_MAX_CHANNELS ? mod->channel_count : MODUX_MAX_CHANNELS;
    for (int ch = 0; ch < all; ch++) p->ci[ch].loop_on = 0;
  }
  for (int ch = 0; ch < channels; ch++) {
    CHANNEL_STATE &c = p->ci[ch];
    NOTE_STATE &n = p->ci[ch].sounding;
    c.period_delta = c.volume_delta = 0;
    if (first) {
      row_start(p, ch, *get_note(mod, p->mi.pattern, p->mi.row, ch));
    } else {
      effect_tick(p, ch);
      if (c.vcol >= 0) volume_column_tick(p, ch, c.vcol);
      if (c.vcol >= 193 && c.vcol <= 202 && c.effect != CMD_TONE_PORTA &&
          c.effect != CMD_TONE_PORTA_S3M_VOLSLIDE)
        tone_porta(p, ch);
      if (c.delay_sample && p->mi.tick == c.delay_sample) {
        play_cell(p, ch, c.delayed);
        c.delay_sample = 0;
      }
      if (c.cut_tick && p->mi.tick == c.cut_tick) n.volume = 0;
    }
    waves(p, ch, first);
    n.voice = p->voice_table[ch];
    if (!c.delay_sample) it_output_note(p, n, &c);
  }
  // Flow commands of channels without a voice still act.
  if (first)
    for (int ch = channels; ch < mod->channel_count && ch < MODUX_MAX_CHANNELS; ch++) {
      const NOTE_INFO &cell = *get_note(mod, p->mi.pattern, p->mi.row, ch);
      if (cell.command == CMD_POSITION_JUMP || cell.command == CMD_PATTERN_BREAK ||
          cell.command == CMD_S3M_SET_SPEED)
        effect_row(p, ch, cell);
    }
  for (NOTE_STATE &b : p->background)
    if (b.active) it_output_note(p, b, nullptr);
}
