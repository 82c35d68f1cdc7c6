// S3M-family effects, the volume column and the note commands.
// The command codes 16 to 29 (which the XM importer also uses for tremor and retrigger), the
// volume-column byte of every family, note cut and key off; the IT family's effect letters (the
// S3M ones as IT plays them, and its codes 40 to 47) and its volume column. All of it runs inside
// the tick.

#include <cmath>

#include "modux_internal.h"

// An S3M tempo slide keeps the tempo inside what a tempo command can set.
static const int SLOWEST_BPM = 32;
static const int FASTEST_SLID_BPM = 255;
// Under the Amiga limits the slides stop at the Amiga's pitch range, B-3 to C-1 of ProTracker
// (periods 113 and 856), here in quarter units.
static const int AMIGA_HIGHEST_PERIOD = 4 * 113;
static const int AMIGA_LOWEST_PERIOD = 4 * 856;
// No period reaches this far the other way.
static const int PERIOD_BOUND = 1 << 24;

void parse_s3m_volume_slide(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: one memory for D, K and L; the fine forms slide the sounding note at once, the others
    // on the later ticks (do_volume_slide). D0F and DF0 slide by 15 on the first tick as well.
    NOTE_STATE &n = c.sounding;
    if (param) c.vol_slide_param = param;
    c.volume_slide = slide_step(c.vol_slide_param, false);
    const bool every_tick = c.vol_slide_param == 0x0F || c.vol_slide_param == 0xF0;
    n.volume = clamp_int(
        n.volume + (every_tick ? c.volume_slide : slide_step(c.vol_slide_param, true)), 0, 64);
    return;
  }
  const int x = (param >> 4) & 15;
  const int y = param & 15;
  // ST3 reads D0F and DF0 as fine slides by 0 and as plain slides by 15: every tick slides.
  c.s3m_vol_slide_first =
      mod_rule(p, RULE_ST3_CHANNEL) && (param == 0x0F || param == 0xF0) ? -1 : 0;
  if (param == 0xFF && mod_rule(p, RULE_FINE_VOLSLIDE_DFF_UP)) {  // ST3 reads DFF as DxF
    c.s3m_vol_slide_fine = 15;
    c.s3m_vol_slide_speed = 0;
  } else if (x == 15 && y != 0) {  // DFy: fine slide down, on the first tick only
    c.s3m_vol_slide_fine = -y;
    c.s3m_vol_slide_speed = 0;
  } else if (y == 15 && x != 0) {  // DxF: fine slide up
    c.s3m_vol_slide_fine = x;
    c.s3m_vol_slide_speed = 0;
  } else if (y == 0 && x != 0) {
    c.s3m_vol_slide_fine = 0;
    c.s3m_vol_slide_speed = x;
  } else if (x == 0 && y != 0) {
    c.s3m_vol_slide_fine = 0;
    c.s3m_vol_slide_speed = -y;
  } else if (param != 0 && mod_rule(p, RULE_ST3_CHANNEL)) {
    c.s3m_vol_slide_fine = 0;  // ST3: two ordinary nibbles slide down by the low one
    c.s3m_vol_slide_speed = -y;
  } else if (param != 0) {
    return;  // two ordinary nibbles: not a slide
  }
  c.s3m_vol_slide_on = -1;
}

void do_s3m_volume_slide(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  // Scream Tracker 3.00 ran the ordinary slides on the first tick as well.
  const int first =
      c.s3m_vol_slide_fine + (mod_rule(p, RULE_FAST_VOLSLIDES) ? c.s3m_vol_slide_speed : 0);
  const int amount = p->first_tick ? (c.s3m_vol_slide_first ? c.s3m_vol_slide_speed : first)
                                   : c.s3m_vol_slide_speed;
  c.volume += amount;
  c.tick_volume += amount;
}

// One memory serves both directions; direction is 1 for down (a larger period), -1 for up.
static void s3m_portamento(modux_player *p, int chn, int param, int direction) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: the fine and extra-fine forms slide the sounding note at once, the others on the
    // later ticks (do_pitch_slide); E and F share their memory with G unless compatible Gxx.
    if (param) c.porta_memory = param;
    const int q = c.porta_memory;
    const int sign = -direction;
    if ((q >> 4) == 15)
      it_slide(p, c.sounding.period, sign * (q & 15) * 4);
    else if ((q >> 4) == 14)
      it_slide(p, c.sounding.period, sign * (q & 15));
    else
      c.pitch_slide_on = -1;
    c.pitch_slide_speed = direction * 4 * q;
    if (!mod_rule(p, RULE_IT_COMPAT_GXX)) c.tone_porta_memory = c.porta_memory;
    return;
  }
  if (c.period == 0) return;
  if (param == 0) {
    c.s3m_porta_speed =
        direction * (c.s3m_porta_speed < 0 ? -c.s3m_porta_speed : c.s3m_porta_speed);
    c.s3m_porta_fine = direction * (c.s3m_porta_fine < 0 ? -c.s3m_porta_fine : c.s3m_porta_fine);
  } else if (param >= 0xE0 && param <= 0xEF) {  // extra fine
    c.s3m_porta_speed = 0;
    c.s3m_porta_fine = direction * (param & 15);
  } else if (param >= 0xF0 && param <= 0xFF) {  // fine
    c.s3m_porta_speed = 0;
    c.s3m_porta_fine = direction * 4 * (param & 15);
  } else {
    c.s3m_porta_speed = direction * 4 * clamp_int(param, 0, 0xFFFF);
    c.s3m_porta_fine = 0;
  }
  c.s3m_porta_on = -1;
}

void parse_s3m_portamento_down(modux_player *p, int chn, int param) {
  s3m_portamento(p, chn, param, 1);
}

void parse_s3m_portamento_up(modux_player *p, int chn, int param) {
  s3m_portamento(p, chn, param, -1);
}

void do_s3m_portamento(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  const int amount = p->first_tick ? c.s3m_porta_fine : c.s3m_porta_speed;
  c.period += amount;
  c.tick_period += amount;
  hold_to_pitch_limits(p, c);
  // ST3 cuts a note slid past the highest pitch it can play.
  if (c.period <= 0 && mod_rule(p, RULE_ST3_CHANNEL)) c.cut_stopped = -1;
}

void hold_to_pitch_limits(modux_player *p, CHANNEL_STATE &c) {
  if (mod_rule(p, RULE_ST3_CHANNEL)) {
    c.period = clamp_int(c.period, -PERIOD_BOUND, ST3_LOWEST_PERIOD);
    c.tick_period = clamp_int(c.tick_period, -PERIOD_BOUND, ST3_LOWEST_PERIOD);
  }
  if (!mod_rule(p, RULE_AMIGA_LIMITS)) return;
  int highest = AMIGA_HIGHEST_PERIOD, lowest = AMIGA_LOWEST_PERIOD;
  if (mod_rule(p, RULE_PROTRACKER_CHANNEL)) protracker_range(c.tuning, highest, lowest);
  c.period = clamp_int(c.period, highest, lowest);
  c.tick_period = clamp_int(c.tick_period, highest, lowest);
}

void parse_tremor(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: I00 goes on with the last on and off times; the count runs in the later ticks.
    if (param) c.tremor_param = ((((param >> 4) & 15) + 1) << 8) + (param & 15) + 1;
    c.tremor_on = -1;
    return;
  }
  c.tremor_on = -1;
  if (mod_rule(p, RULE_FT2_TICK_COUNTS)) {
    // FT2: T00 goes on with the last parameter, kept as it is written.
    if (param != 0) c.tremor_param = param;
    return;
  }
  if (param == 0 && c.tremor_param != 0 && mod_rule(p, RULE_TREMOR_COUNTS_ON))
    return;  // I00 goes on with the last on and off times
  c.tremor_param = ((((param >> 4) & 15) + 1) << 8) + (param & 15) + 1;
}

// FT2's tremor: tremor_count holds the phase (bit 7 set while on) and the ticks left in it; each
// later tick counts one down, and past the end the other phase begins with x (on) or y (off)
// more ticks, read from the parameter at that moment. A row's first tick keeps the phase.
static void do_ft2_tremor(modux_player *p, CHANNEL_STATE &c) {
  int on = c.tremor_count & 0x80;
  int left = c.tremor_count & 0x7F;
  if (!p->first_tick) {
    left -= 1;
    if (left < 0) {
      left = on ? c.tremor_param & 15 : (c.tremor_param >> 4) & 15;
      on ^= 0x80;
    }
    c.tremor_count = on | left;
    c.tremor_muted = on ? 0 : -1;
  }
  c.tick_volume = c.tremor_muted ? 0 : c.volume;
}

void do_tremor(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_FT2_TICK_COUNTS)) {
    do_ft2_tremor(p, c);
    return;
  }
  const int on = (c.tremor_param >> 8) & 31;
  const int off = c.tremor_param & 31;
  if (on + off == 0) return;
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: the count moves first; the off ticks silence the note for this tick only.
    c.tremor_count = (c.tremor_count + 1) % (on + off);
    c.volume_delta = c.tremor_count >= on ? -64 : 0;
    return;
  }
  if (p->first_tick && mod_rule(p, RULE_FT2_TICK_COUNTS)) {
    const int last = c.tremor_count > 0 ? (c.tremor_count - 1) % (on + off) : 0;
    c.tick_volume = last < on ? c.volume : 0;
    return;
  }
  c.tremor_count %= on + off;
  if (c.tremor_count < 0) c.tremor_count = 0;
  c.tick_volume = c.tremor_count < on ? c.volume : 0;
  c.tremor_count += 1;
}

void parse_s3m_arpeggio(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: the steps count from the sounding note's pitch now.
    if (param) c.arpeggio_param = param;
    c.arpeggio_base = c.sounding.period;
    c.arpeggio_on = -1;
    return;
  }
  if (c.period == 0) return;
  c.arpeggio_on = -1;
  if (param != 0) c.arpeggio_param = param;
}

void parse_s3m_retrig(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  if (param != 0) {
    c.s3m_retrig_interval = param & 15;
    c.s3m_retrig_volume = (param >> 4) & 15;
  }
  c.s3m_retrig_on = -1;
}

// The volume after one retrigger with change code 0..15.
static int retrig_volume(int v, int code) {
  static const int steps[16] = {0, -1, -2, -4, -8, -16, 0, 0, 0, 1, 2, 4, 8, 16, 0, 0};
  switch (code) {
    case 6: return v * 2 / 3;
    case 7: return v >> 1;
    case 14: return v * 3 / 2;
    case 15: return v * 2;
    default: return v + steps[code & 15];
  }
}

void do_s3m_retrig(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  if (c.s3m_retrig_interval <= 0 || c.cut_stopped) return;
  const bool it = mod_rule(p, RULE_IT_VIRTUAL_VOICES) != 0;
  if (mod_rule(p, RULE_RETRIG_COUNTS_ON) || it) {
    // The count goes on from row to row; a new note (IT: a row without Qxy) starts it again.
    if (++c.retrig_count < c.s3m_retrig_interval) return;
    c.retrig_count = 0;
  } else if (p->mi.tick % c.s3m_retrig_interval != 0) {
    return;
  }
  if (it) {
    // The sounding note starts again; its volume stays within 0..64, so the change codes apply
    // as they are.
    NOTE_STATE &n = c.sounding;
    n.volume = clamp_int(retrig_volume(n.volume, c.s3m_retrig_volume), 0, 64);
    if (n.active) {
      n.start = -1;
      n.offset = 0;
    }
    return;
  }
  c.start_voice = -1;
  // The tick clamps to 0..64 after every tick, so the products stay small.
  c.tick_volume = retrig_volume(clamp_int(c.tick_volume, 0, 64), c.s3m_retrig_volume);
  c.volume = retrig_volume(clamp_int(c.volume, 0, 64), c.s3m_retrig_volume);
}

void parse_s3m_panning(modux_player *p, int chn, int param) {
  if (param == 0)
    p->ci[chn].pan = 0;
  else if (param > 0 && param <= 0x80)
    p->ci[chn].pan = 2 * param - 1;
}

void do_s3m_set_tempo(modux_player *p, int param) {
  if (param > 0) p->mi.speed = param;
}

void do_s3m_set_bpm(modux_player *p, int param) {
  if (param < 0) return;
  if (param >= 32) {
    p->mi.tempo = param;
  } else if (param < 16) {
    const int up = p->mi.tempo + param;
    p->mi.tempo = up > FASTEST_SLID_BPM
                      ? (p->mi.tempo > FASTEST_SLID_BPM ? p->mi.tempo.load() : FASTEST_SLID_BPM)
                      : up;
  } else {
    const int down = p->mi.tempo - (param - 16);
    p->mi.tempo = down < SLOWEST_BPM ? SLOWEST_BPM : down;
  }
  p->timer_request = -1;
}

void parse_tempo(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  const bool it = mod_rule(p, RULE_IT_VIRTUAL_VOICES) != 0;
  const bool slides = it || mod_rule(p, RULE_TEMPO_SLIDE_PER_TICK);
  if (!slides || param < 0 || param >= 32) {
    do_s3m_set_bpm(p, param);
    if (!it) return;
  }
  // A slide on every later tick of the row, T0x down by x, T1x up by x; the IT family's T00
  // repeats its last slide, and its later ticks slide by that memory whatever the row's T.
  if (it && param > 0 && param < 32) c.tempo_slide_memory = param;
  const int m = it ? c.tempo_slide_memory : param;
  c.tempo_slide = m >= 16 ? (m & 15) : -m;
}

void do_s3m_tempo_slide(modux_player *p, int by) {
  p->mi.tempo = clamp_int(p->mi.tempo + by, SLOWEST_BPM,
                          FASTEST_SLID_BPM > p->mi.tempo ? FASTEST_SLID_BPM : p->mi.tempo.load());
  p->timer_request = -1;
}

void do_global_volume(modux_player *p, int param) {
  // The IT family's global volume runs to 128; a larger value changes nothing.
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    if (param <= 128) p->mi.global_volume = param;
    return;
  }
  p->mi.global_volume = clamp_int(param, 0, 64);
}

void parse_note_command(modux_player *p, int chn, int note) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: the sounding note is cut (-1), released (-2, its envelopes leave their sustain loops)
    // or faded (-3).
    NOTE_STATE &n = c.sounding;
    if (note == -1) n.fade = 0;
    if (note == -2) n.key_off = -1;
    if (note == -3) n.fading = -1;
    return;
  }
  if (note == -1) {
    c.volume = 0;
    if (mod_rule(p, RULE_ST3_CHANNEL)) c.cut_stopped = -1;
  } else if (note == -2) {
    release_key(p, chn);
  }
}

void release_key(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  c.sounding.key_off = -1;
  // Without a volume envelope a released note has nothing to fade by: it stops.
  if (!(c.sounding.vol_env.flags & 1)) {
    c.volume = 0;
    c.tick_volume = 0;
  }
}

static void parse_it_volume_column(modux_player *p, int ch, int v);

void parse_volume_command(modux_player *p, int chn, int volume, int note) {
  CHANNEL_STATE &c = p->ci[chn];
  // The IT family stores its byte + 1, in its own ranges.
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    if (volume > 0) parse_it_volume_column(p, chn, volume - 1);
    return;
  }
  const int y = volume & 15;
  if (volume >= VOLUME_COLUMN_PAN && volume <= VOLUME_COLUMN_PAN + 64) {
    c.pan = clamp_int((volume - VOLUME_COLUMN_PAN) * 4, 0, 255);
  } else if (volume >= 0x10 && volume <= 0x50) {
    c.volume = volume - 16;
  } else if (volume >= 0x60 && volume <= 0xFF) {
    switch (volume >> 4) {
      case 0x6: c.volume_slide = -y; break;
      case 0x7: c.volume_slide = y; break;
      case 0x8: c.volume -= y; break;
      case 0x9: c.volume += y; break;
      case 0xA: c.vibrato_speed = 4 * y; break;
      case 0xB:
        parse_vibrato(p, chn, y, 5);
        // FT2 runs this vibrato besides an effect column's own (see start_channel_row).
        if (mod_rule(p, RULE_FT2_EXACT)) c.vibrato_twice = -1;
        break;
      case 0xC:
        // FT2 pans to 16 steps of 16, the rightmost short of the edge.
        c.pan = (mod_rule(p, RULE_FT2_TICK_COUNTS) ? 16 : 17) * y;
        break;
      case 0xD:
        if (y != 0) c.vcol_pan_left_memory = -y;
        c.pan_slide = c.vcol_pan_left_memory;
        break;
      case 0xE:
        if (y != 0) c.vcol_pan_right_memory = y;
        c.pan_slide = c.vcol_pan_right_memory;
        break;
      default:  // 0xF: tone portamento
        parse_slide2period(p, chn, 16 * y, note > 0 ? c.relative_note + note : 0);
        break;
    }
  }
  c.volume = clamp_int(c.volume, 0, 64);
}

// ---------------------------------------------------------------------------------------------
// The IT family's effects: the S3M letters as IT plays them, and its own
// ---------------------------------------------------------------------------------------------

// Volume-column tone portamento speeds (values 193..202).
static const int vcol_porta[10] = {0, 1, 4, 8, 16, 32, 64, 96, 128, 255};

static void parse_it_volume_column(modux_player *p, int ch, int v) {
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
    c.vcol_volume_slide = v <= 94 ? c.vcol_slide_memory : -c.vcol_slide_memory;
  } else if (v <= 124) {  // portamento down / up, later ticks, beside the effect column's
    const int x = (v - 105) % 10;
    if (x) c.porta_memory = x * 4;
    if (x && !mod_rule(p, RULE_IT_COMPAT_GXX)) c.tone_porta_memory = c.porta_memory;
    c.vcol_porta = (v <= 114 ? 4 : -4) * c.porta_memory;
  } else if (v >= 128 && v <= 192) {  // pan
    c.pan = n.pan = (v - 128) * 4;
    c.surround = n.surround = 0;
    c.pan_delta = 0;
  } else if (v >= 193 && v <= 202) {  // tone portamento
    const int speed = vcol_porta[v - 193];
    if (speed) c.tone_porta_memory = speed;
  } else if (v >= 203 && v <= 212) {  // vibrato depth
    if (v > 203) c.vibrato_depth = (v - 203) * 4;
  }
}

int slide_step(int param, bool first) {
  const int x = param >> 4, y = param & 15;
  if (y == 15 && x) return first ? x : 0;
  if (x == 15 && y) return first ? -y : 0;
  if (first) return 0;
  return y == 0 ? x : x == 0 ? -y : 0;
}

// The first tick of the IT family's own commands and of the song-wide ones it reads in channel
// order (parse_command names them).
void parse_it_channel_volume_slide(modux_player *p, int ch, int param) {
  CHANNEL_STATE &c = p->ci[ch];
  if (param) c.channel_slide_param = param;
  c.channel_volume = clamp_int(c.channel_volume + slide_step(c.channel_slide_param, true), 0, 64);
  c.channel_vol_slide = slide_step(c.channel_slide_param, false);
}

void do_channel_volume_slide(modux_player *p, int ch) {
  CHANNEL_STATE &c = p->ci[ch];
  c.channel_volume = clamp_int(c.channel_volume + c.channel_vol_slide, 0, 64);
}

void parse_it_panbrello(modux_player *p, int ch, int param) {
  CHANNEL_STATE &c = p->ci[ch];
  c.panbrello_on = -1;
  if (param >> 4) c.panbrello_speed = param >> 4;
  if (param & 15) c.panbrello_depth = param & 15;
}

// The note's volume with its sample's, instrument's, channel's and the global volume and its
// volume envelope, 0..128.
static int macro_volume(modux_player *p, const CHANNEL_STATE &c) {
  const MODUX *mod = p->of;
  const NOTE_STATE &n = c.sounding;
  double v = n.volume / 64.0 * c.channel_volume / 64.0 * p->mi.global_volume / 128.0;
  if (mod->sample_info && n.sample >= 0 && n.sample < mod->sample_count)
    v *= mod->sample_info[n.sample].global_volume / 64.0;
  if (mod->it_instruments && n.instrument >= 0 && n.instrument < mod->instrument_count) {
    const IT_INSTRUMENT_INFO &ins = mod->it_instruments[n.instrument];
    v *= ins.global_volume / 128.0;
    // The envelope where it is now, not moved on (paused: the value it keeps).
    const int env = n.vol_env.flags & 1 ? envelope_value(n.vol_env, mod->rules) : n.vol_env.output;
    v *= env / (64.0 * 256);
  }
  return static_cast<int>(v * 128);
}

// The byte a letter of a MIDI macro stands for, on channel ch running Zxx with parameter param.
static int macro_letter(modux_player *p, int ch, int param, char letter) {
  const CHANNEL_STATE &c = p->ci[ch];
  const NOTE_STATE &n = c.sounding;
  switch (letter) {
    case 'z': return param;                                  // the parameter, Z80..ZFF whole
    case 'n': return n.note & 127;                           // the last note played
    case 'v': return clamp_int(n.volume * 2, 1, 127);        // the note's volume
    case 'u': return clamp_int(macro_volume(p, c), 1, 127);  // its volume with the others
    case 'x':
    case 'y': return clamp_int(n.pan / 2, 0, 127);  // the note's pan
    case 'h': return ch & 127;                      // the pattern channel
    case 'o': return (c.sample_offset >> 8) & 255;  // the sample offset's Oxx, whole
    default: return 0;  // MIDI channel, program, bank, checksum: no MIDI device here
  }
}

// Zxx runs a MIDI macro: SFx's for Z00..Z7F, its own for Z80..ZFF. A macro is hex digits (a
// nibble each) and letters (a byte each); of the messages it sends, the engine plays its own
// F0 F0 00 xx (cutoff) and F0 F0 01 xx (resonance), and the real-time bytes FA (start), FC (stop)
// and FF (reset), which open the filter wide and take its resonance away as a MIDI device
// resets; the others are meant for MIDI devices.
void parse_it_midi_macro(modux_player *p, int ch, int param) {
  const MODUX *mod = p->of;
  CHANNEL_STATE &c = p->ci[ch];
  NOTE_STATE &n = c.sounding;
  if (!(mod->rules & RULE_IT_ZXX_MACROS) || !mod->it_macros) return;
  const int which = param < 0x80 ? c.midi_macro : 16 + param - 0x80;
  const char *text = mod->it_macros + which * MODUX_IT_MACRO_BYTES;
  unsigned char message[MODUX_IT_MACRO_BYTES];
  int length = 0, nibbles = 0;
  for (int i = 0; text[i] && length < MODUX_IT_MACRO_BYTES; i++) {
    const char t = text[i];
    const int digit = t >= '0' && t <= '9' ? t - '0' : t >= 'A' && t <= 'F' ? t - 'A' + 10 : -1;
    if (digit >= 0) {
      if (nibbles++ & 1)
        message[length - 1] = static_cast<unsigned char>(message[length - 1] << 4 | digit);
      else
        message[length++] = static_cast<unsigned char>(digit);
    } else if (t >= 'a' && t <= 'z') {
      nibbles = 0;
      message[length++] = static_cast<unsigned char>(macro_letter(p, ch, param, t));
    }
  }
  const bool note_start = n.start && n.active;
  for (int i = 0; i < length;) {
    const int m = message[i];
    if (m == 0xFA || m == 0xFC || m == 0xFF) {
      n.cutoff = 127;
      n.resonance = 0;
      it_setup_filter(n, note_start);
      i++;
    } else if (m == 0xF0 && i + 3 < length && message[i + 1] == 0xF0 && message[i + 2] <= 1) {
      // A value of 0x80 or more is no MIDI data byte: the setting stays.
      if (message[i + 3] < 0x80) {
        if (message[i + 2] == 0) n.cutoff = message[i + 3];
        if (message[i + 2] == 1) n.resonance = message[i + 3];
        it_setup_filter(n, note_start);
      }
      i += 4;
    } else {
      i++;
    }
  }
}

// Interrupt code needs no memory locking on this platform; install_mod calls it with the others.
void lock_modux_player3(void) {}
