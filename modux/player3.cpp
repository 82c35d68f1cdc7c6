// S3M-family effects, the volume column and the note commands.
// The command codes 16 to 29 (which the XM importer also uses for tremor and retrigger), the
// volume-column byte of every family, note cut and key off. All of it runs inside the tick.

#include "modux_internal.h"

// An S3M tempo slide keeps the tempo inside what a tempo command can set.
static const int SLOWEST_BPM = 32;
static const int FASTEST_SLID_BPM = 255;
// Under the Amiga limits the slides stop at the Amiga's pitch range, B-3 to C-1 of ProTracker
// (periods 113 and 856), here in quarter units.
static const int AMIGA_HIGHEST_PERIOD = 4 * 113;
static const int AMIGA_LOWEST_PERIOD = 4 * 856;

void parse_s3m_volume_slide(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  const int x = (param >> 4) & 15;
  const int y = param & 15;
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
  const int amount = p->first_tick ? first : c.s3m_vol_slide_speed;
  c.volume += amount;
  c.tick_volume += amount;
}

// One memory serves both directions; direction is 1 for down (a larger period), -1 for up.
static void s3m_portamento(modux_player *p, int chn, int param, int direction) {
  CHANNEL_STATE &c = p->ci[chn];
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
  if (mod_rule(p, RULE_AMIGA_LIMITS)) {
    c.period = clamp_int(c.period, AMIGA_HIGHEST_PERIOD, AMIGA_LOWEST_PERIOD);
    c.tick_period = clamp_int(c.tick_period, AMIGA_HIGHEST_PERIOD, AMIGA_LOWEST_PERIOD);
  }
}

void parse_tremor(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  c.tremor_on = -1;
  if (param == 0 && c.tremor_param != 0 && mod_rule(p, RULE_TREMOR_COUNTS_ON))
    return;  // I00 goes on with the last on and off times
  c.tremor_param = ((((param >> 4) & 15) + 1) << 8) + (param & 15) + 1;
}

void do_tremor(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  const int on = (c.tremor_param >> 8) & 31;
  const int off = c.tremor_param & 31;
  if (on + off == 0) return;
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
  if (c.s3m_retrig_interval <= 0) return;
  if (mod_rule(p, RULE_RETRIG_COUNTS_ON)) {
    // The count goes on from row to row; a new note starts it again.
    if (++c.retrig_count < c.s3m_retrig_interval) return;
    c.retrig_count = 0;
  } else if (p->mi.tick % c.s3m_retrig_interval != 0) {
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

void do_s3m_tempo_slide(modux_player *p, int by) {
  p->mi.tempo = clamp_int(p->mi.tempo + by, SLOWEST_BPM,
                          FASTEST_SLID_BPM > p->mi.tempo ? FASTEST_SLID_BPM : p->mi.tempo.load());
  p->timer_request = -1;
}

void do_global_volume(modux_player *p, int param) { p->mi.global_volume = clamp_int(param, 0, 64); }

void parse_note_command(modux_player *p, int chn, int note) {
  CHANNEL_STATE &c = p->ci[chn];
  if (note == -1) {
    c.volume = 0;
  } else if (note == -2) {
    release_key(p, chn);
  }
}

void release_key(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  c.key_off = -1;
  // Without a volume envelope a released note has nothing to fade by: it stops.
  if (!(c.vol_env.flags & 1)) {
    c.volume = 0;
    c.tick_volume = 0;
  }
}

void parse_volume_command(modux_player *p, int chn, int volume, int note) {
  CHANNEL_STATE &c = p->ci[chn];
  const int y = volume & 15;
  if (volume >= 0x10 && volume <= 0x50) {
    c.volume = volume - 16;
  } else if (volume >= 0x60 && volume <= 0xFF) {
    switch (volume >> 4) {
      case 0x6: c.volume_slide = -y; break;
      case 0x7: c.volume_slide = y; break;
      case 0x8: c.volume -= y; break;
      case 0x9: c.volume += y; break;
      case 0xA: c.vibrato_speed = 4 * y; break;
      case 0xB: parse_vibrato(p, chn, y, 5); break;
      case 0xC: c.pan = 17 * y; break;
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

// Interrupt code needs no memory locking on this platform; install_mod calls it with the others.
void lock_modux_player3(void) {}
