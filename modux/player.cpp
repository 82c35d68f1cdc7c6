// Playback tick.
// mod_tick is the whole sequencer: each call is one tick. It advances the tick, row,
// pattern and order counters, sets up the notes and effects of a row on its first tick, runs the
// per-tick effects on the others and pushes every channel's sounding note to its voice
// (output_note, voices.cpp), the background notes after them. Under RULE_IT_VIRTUAL_VOICES each
// channel is done whole before the next.
// It runs on Allegro's timer thread inside mod_interrupt: no allocation, no file access, no locks,
// bounded work, and no call of the control interface: a restart or a new timer rate is a request
// in mi that mod_interrupt carries out when the tick returns.

#include "modux_internal.h"
#include "voice.h"

// A pattern the order list names but the module lacks plays as this many empty rows.
static const int MISSING_PATTERN_ROWS = 64;
int mod_playable_orders(const MODUX *mod) {
  return clamp_int(mod->order_count, 0, MODUX_MAX_ORDERS);
}

bool mod_wraps_past_end(modux_player *p) {
  return p->mi.loop == -1 || (p->rendering && p->of->rules != 0);
}

int mod_restart_order(modux_player *p) {
  const MODUX *mod = p->of;
  const int restart = mod->restart_order < p->start_order ? p->start_order : mod->restart_order;
  return clamp_int(restart, 0, mod_playable_orders(mod) - 1);
}

// Pattern channels of the module; ci, voice_table and channel_pan have 64 entries.
static int module_channels(modux_player *p) {
  const MODUX *mod = p->of;
  return clamp_int(mod->channel_count, 0, MODUX_MAX_CHANNELS);
}

// Channels that own a reserved voice.
static int reserved_channels(modux_player *p) {
  return clamp_int(p->mi.max_chn, 0, MODUX_MAX_CHANNELS);
}

// Channels that play: the module's, as far as voices were reserved.
static int played_channels(modux_player *p) {
  const int n = module_channels(p);
  const int reserved = reserved_channels(p);
  return n < reserved ? n : reserved;
}

static int pattern_rows(modux_player *p, int pattern) {
  const MODUX *mod = p->of;
  if (!mod->patterns || pattern < 0 || pattern >= mod->pattern_count) return MISSING_PATTERN_ROWS;
  return mod->patterns[pattern].row_count;
}

// Moves to an order position; past the song's end the pattern number is not needed (the song
// ends on this tick) and order_table is not read.
static void enter_order(modux_player *p, int order) {
  const MODUX *mod = p->of;
  if (order < 0) order = 0;
  p->mi.order = order;
  if (order < mod_playable_orders(mod)) p->mi.pattern = mod->order_table[order];
}

static void forget_pattern_loops(modux_player *p) {
  const int n = reserved_channels(p);
  for (int ch = 0; ch < n; ch++) {
    p->ci[ch].loop_row = 0;
    p->ci[ch].loop_times = 0;
  }
}

// A cell whose note is a tone portamento's target: by its effect, or by its volume column (the
// IT family's bytes 194..203, the others' Fx).
static bool is_tone_portamento(modux_player *p, const NOTE_INFO &cell) {
  switch (cell.command) {
    case CMD_TONE_PORTA:
    case CMD_TONE_PORTA_VOLSLIDE:
    case CMD_TONE_PORTA_S3M_VOLSLIDE:
    case CMD_XM_TONE_PORTA_VOLSLIDE: return true;
    default:
      if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) return cell.volume >= 194 && cell.volume <= 203;
      return (cell.volume & 0xF0) == 0xF0;
  }
}

// A request of the control interface (next, previous, go to a position): carried out before
// anything else of the tick. Answers true when the tick is over.
static bool take_navigation_request(modux_player *p) {
  if (p->mi.skip_row == 0) return false;
  p->mi.row = p->mi.skip_row - 1;
  enter_order(p, p->mi.skip_order - 1);
  p->mi.tick = -1;
  p->mi.skip_row = 0;
  p->mi.skip_order = 0;
  p->mi.new_row = 0;
  p->mi.new_order = 0;
  p->mi.loop_next_row = 0;
  const int n = reserved_channels(p);
  for (int ch = 0; ch < n; ch++) {
    p->ci[ch].slide2period_target = 0;
    p->ci[ch].loop_row = 0;
    p->ci[ch].loop_times = 0;
    p->ci[ch].volume = 0;
    if (p->voice_table[ch] >= 0) {
      modux_voice_set_volume(p, p->voice_table[ch], 0);
      modux_voice_stop(p, p->voice_table[ch]);
    }
  }
  if (p->mi.order != 0) return false;
  // Position 0 is a fresh start of the song; it begins at the next tick.
  p->restart_request = -1;
  return true;
}

// FT2's row flow: one break row (loop_next_row - 1) that loops, breaks and jumps write in the
// order their channels come; a loop plays it next, and the next pattern, reached at its end or by
// a break or jump, begins there.
static void advance_row_ft2(modux_player *p) {
  bool looped = false;
  for (int ch = 0; ch < played_channels(p); ch++)
    if (p->ci[ch].loop_on != 0 && p->ci[ch].loop_times > 0) looped = true;
  const int break_row = p->mi.loop_next_row > 0 ? p->mi.loop_next_row - 1 : 0;
  p->mi.row = looped ? break_row : p->mi.row + 1;
  const bool jumped = p->mi.new_order != 0;
  if (p->mi.row < pattern_rows(p, p->mi.pattern) && !jumped) return;
  enter_order(p, jumped ? p->mi.new_order - 1 : p->mi.order + 1);
  // A break past the new pattern's end plays its last row; a loop's row past it, its first.
  const int rows = pattern_rows(p, p->mi.pattern);
  p->mi.row = break_row < rows ? break_row : (jumped && rows > 0 ? rows - 1 : 0);
  p->mi.loop_next_row = 0;
  p->mi.new_row = 0;
  p->mi.new_order = 0;
}

static void advance_row(modux_player *p) {
  p->mi.tick = 0;
  if (mod_rule(p, RULE_LOOP_FT2)) {
    p->row_jumped = 0;
    advance_row_ft2(p);
    return;
  }
  const int played = played_channels(p);
  const bool it_family = mod_rule(p, RULE_IT_VIRTUAL_VOICES) != 0;
  // IT: a position jump after a pattern loop in the row wins over it, a break does not.
  const bool jump_wins = it_family && p->row_jumped != 0;
  p->row_jumped = 0;
  bool looped = false;
  for (int ch = 0; ch < played && !jump_wins; ch++) {
    if (p->ci[ch].loop_on != 0 && p->ci[ch].loop_times > 0) {
      p->mi.new_row = p->ci[ch].loop_row + 1;
      p->mi.new_order = p->mi.order + 1;
      looped = true;
      // FT2 keeps the loop's row as the next pattern's first, until a break or jump.
      if (mod_rule(p, RULE_LOOP_FT2)) p->mi.loop_next_row = p->ci[ch].loop_row + 1;
    }
  }
  // IT: a loop back to a row past the pattern's end (the row after a loop that ended on the
  // last row) goes on as at the pattern's end.
  if (looped && it_family && p->mi.new_row - 1 >= pattern_rows(p, p->mi.pattern)) {
    p->mi.new_row = 0;
    p->mi.new_order = 0;
    p->mi.row = pattern_rows(p, p->mi.pattern) - 1;
  }
  const bool other_position = p->mi.new_row != 0 && p->mi.new_order - 1 != p->mi.order;
  if (other_position) p->mi.loop_next_row = 0;
  if (p->mi.new_row != 0) {
    const int row = p->mi.new_row - 1;
    enter_order(p, p->mi.new_order - 1);
    // A break's row is held to the last row of the pattern the jump lands in, which is
    // known only now: a position jump on a later channel may have changed it.
    const int rows = pattern_rows(p, p->mi.pattern);
    p->mi.row = row < rows ? row : (rows > 0 ? rows - 1 : 0);
    // ST3 forgets the loops at every new pattern; the engine's own rule at a pattern's end.
    if (other_position && mod_rule(p, RULE_LOOP_FORGOTTEN)) forget_pattern_loops(p);
    p->mi.new_row = 0;
    p->mi.new_order = 0;
    return;
  }
  p->mi.row += 1;
  if (p->mi.row >= pattern_rows(p, p->mi.pattern)) {
    enter_order(p, p->mi.order + 1);
    const int rows = pattern_rows(p, p->mi.pattern);
    const int row = p->mi.loop_next_row - 1;
    p->mi.row = row > 0 && row < rows ? row : 0;
    p->mi.loop_next_row = 0;
    // FT2 and IT keep a loop's start row over patterns.
    if (!mod_rule(p, RULE_LOOP_FT2) && !it_family) forget_pattern_loops(p);
  }
}

// The song has passed its last order. Answers true when it plays on in this very tick: a render
// goes on at the restart position, whose row starts now.
static bool end_song(modux_player *p) {
  if (p->mi.loop == 0 && mod_wraps_past_end(p)) {
    // A render plays on at the restart position, at the row the pattern's end chose (FT2's loop
    // row, else 0); it ends there if that row was played.
    enter_order(p, mod_restart_order(p));
    if (p->mi.row >= pattern_rows(p, p->mi.pattern)) p->mi.row = 0;
    return true;
  }
  const int n = reserved_channels(p);
  for (int ch = 0; ch < n; ch++)
    if (p->voice_table[ch] >= 0) modux_voice_stop(p, p->voice_table[ch]);
  if (p->mi.loop == 0) {
    p->of = nullptr;
    p->mi.is_playing = 0;
    return false;
  }
  // A fresh start, then a navigation request to the restart position for the first tick; a
  // subsong goes back to its own first order rather than into the song before it.
  p->restart_request = -1;
  p->mi.skip_row = 1;
  p->mi.skip_order = mod_restart_order(p) + 1;
  return false;
}

// The S3M effect letter's parameter as Scream Tracker 3 reads its memory: the S sub-command and
// its value are one byte there (CMD_EXTENDED carries the ProTracker sub-command instead).
static int s3m_info(const NOTE_INFO &cell) {
  if (cell.command != CMD_EXTENDED) return cell.param;
  for (int x = 0; x < 16; x++)
    if (s3m_extended_param(x << 4) == (cell.param & ~15)) return (x << 4) | (cell.param & 15);
  return 0;
}

// Scream Tracker 3 keeps one parameter per channel: every effect's non-zero parameter sets it,
// and a zero parameter of D, E, F, I, J, K, L, Q, R, S or T plays it (RULE_ST3_CHANNEL).
static NOTE_INFO with_shared_parameter(modux_player *p, int ch, const NOTE_INFO &cell) {
  CHANNEL_STATE &c = p->ci[ch];
  NOTE_INFO out = cell;
  switch (cell.command) {
    case CMD_VIBRATO:
    case CMD_FINE_VIBRATO:
      if (cell.param != 0) c.shared_param = cell.param;
      return out;
    case CMD_S3M_VOLSLIDE:
    case CMD_S3M_PORTA_DOWN:
    case CMD_S3M_PORTA_UP:
    case CMD_TREMOR:
    case CMD_S3M_ARPEGGIO:
    case CMD_VIBRATO_S3M_VOLSLIDE:
    case CMD_TONE_PORTA_S3M_VOLSLIDE:
    case CMD_S3M_RETRIG:
    case CMD_S3M_TREMOLO:
    case CMD_S3M_SET_BPM:
    case CMD_EXTENDED: break;
    default: return out;
  }
  const int info = s3m_info(cell);
  if (info != 0) {
    c.shared_param = info;
    return out;
  }
  if (cell.command != CMD_EXTENDED) {
    out.param = c.shared_param;
    return out;
  }
  const int param = s3m_extended_param(c.shared_param);
  out.command = param < 0 ? 0 : CMD_EXTENDED;
  out.param = param < 0 ? 0 : param;
  return out;
}

// A row's song-wide commands of a channel stop (read_row_commands, or the channel's own turn).
static void forget_row_commands(CHANNEL_STATE &c) {
  c.global_vol_slide_on = 0;
  c.loop_on = 0;
  c.tempo_slide = 0;
}

// EEx (SEx): the row plays x times more. ST3 takes the row's first one that is not SE0, the
// others its last one.
static void set_pattern_delay(modux_player *p, int x) {
  if (mod_rule(p, RULE_ST3_CHANNEL) && (x == 0 || p->mi.pattern_delay != 0)) return;
  p->mi.pattern_delay = mod_rule(p, RULE_DELAY_REPEATS_ROW) ? x : p->mi.speed * x;
}

// First pass over a row: the commands that act on the whole song (jumps, breaks, speed and
// tempo, pattern loop and delay) take effect before any channel's note is set up, channel by
// channel from channel 0, and also on channels that have no voice.
static void read_row_commands(modux_player *p) {
  MODUX *mod = p->of;
  const int n = module_channels(p);
  p->row_extra_ticks = 0;
  for (int ch = 0; ch < n; ch++) {
    forget_row_commands(p->ci[ch]);
    const NOTE_INFO *cell = get_note(mod, p->mi.pattern, p->mi.row, ch);
    if (mod_rule(p, RULE_ST3_CHANNEL)) {
      p->ci[ch].row_cell = with_shared_parameter(p, ch, *cell);
      cell = &p->ci[ch].row_cell;
    }
    switch (cell->command) {
      case CMD_POSITION_JUMP: do_position_jump(p, cell->param); break;
      case CMD_PATTERN_BREAK: do_pattern_break(p, cell->param); break;
      case CMD_SPEED_TEMPO: do_pro_tempo_bpm(p, cell->param); break;
      case CMD_S3M_SET_SPEED: do_s3m_set_tempo(p, cell->param); break;
      case CMD_S3M_SET_BPM: parse_tempo(p, ch, cell->param); break;
      case CMD_SET_GLOBAL_VOLUME: do_global_volume(p, cell->param); break;
      case CMD_GLOBAL_VOLSLIDE: parse_global_volume_slide(p, ch, cell->param); break;
      case CMD_EXTENDED:
        if (cell->param >> 4 == 0x6)
          do_pattern_loop(p, ch, cell->param);
        else if (cell->param >> 4 == 0xE)
          set_pattern_delay(p, cell->param & 15);
        else if (cell->param >> 4 == 0x15)
          p->row_extra_ticks += cell->param & 15;  // S3M S6x: every one of the row adds
        break;
      default: break;
    }
  }
  // ProTracker steps its row on once more after a delayed row's repeats, past a jump's target.
  if (mod_rule(p, RULE_PROTRACKER_CHANNEL) && p->mi.pattern_delay > 0 && p->mi.new_row != 0)
    p->mi.new_row += 1;
}

// The effect column of one cell on the first tick of its row. Channels in turn (the IT family)
// read the row's song-wide commands here, in channel order; the other families read codes 11,
// 13, 15, 16, 26, 28 and 35 in the first pass. Codes 40 to 47 are the IT family's own.
static void parse_command(modux_player *p, int ch, const NOTE_INFO &cell, int sample) {
  CHANNEL_STATE &c = p->ci[ch];
  const int param = cell.param;
  const bool in_turn = mod_rule(p, RULE_IT_VIRTUAL_VOICES) != 0;
  if (!in_turn && cell.command >= CMD_IT_CHANNEL_VOLUME) return;
  switch (cell.command) {
    case CMD_S3M_SET_SPEED:
      if (in_turn) do_s3m_set_tempo(p, param);
      break;
    case CMD_POSITION_JUMP:
      if (in_turn) do_position_jump(p, param);
      break;
    case CMD_PATTERN_BREAK:
      // The IT family's row is a plain number, the first pass's two decimal digits.
      if (in_turn) do_pattern_break(p, ((param / 10) << 4) | (param % 10));
      break;
    case CMD_SET_GLOBAL_VOLUME:
      if (in_turn) do_global_volume(p, param);
      break;
    case CMD_GLOBAL_VOLSLIDE:
      if (in_turn) parse_global_volume_slide(p, ch, param);
      break;
    case CMD_ARPEGGIO: parse_pro_arpeggio(p, ch, param); break;
    case CMD_PORTA_UP: parse_pro_pitch_slide_up(p, ch, param); break;
    case CMD_PORTA_DOWN: parse_pro_pitch_slide_down(p, ch, param); break;
    case CMD_TONE_PORTA:
      parse_slide2period(p, ch, param, cell.note > 0 ? cell.note + c.relative_note : 0);
      break;
    case CMD_VIBRATO: parse_vibrato(p, ch, param, 5); break;
    case CMD_TONE_PORTA_VOLSLIDE:
      parse_slide2period(p, ch, 0, cell.note);
      parse_pro_volume_slide(p, ch, param);
      break;
    case CMD_VIBRATO_VOLSLIDE:
      parse_vibrato(p, ch, 0, 5);
      parse_pro_volume_slide(p, ch, param);
      break;
    case CMD_TREMOLO: parse_tremolo(p, ch, param, 6); break;
    case CMD_SET_PAN:
      c.pan = param;
      c.sounding.pan = param;
      c.surround = c.sounding.surround = 0;
      c.pan_delta = 0;
      break;
    case CMD_SAMPLE_OFFSET: parse_sample_offset(p, ch, cell, sample); break;
    case CMD_VOLSLIDE: parse_pro_volume_slide(p, ch, param); break;
    case CMD_SET_VOLUME: c.volume = param; break;
    case CMD_EXTENDED:
      // ProTracker's EDx delays a note; without one it does nothing.
      if (!protracker_proper(p) || param >> 4 != 0xD || cell.note > 0)
        parse_extended_command(p, ch, param);
      break;
    case CMD_S3M_VOLSLIDE: parse_s3m_volume_slide(p, ch, param); break;
    case CMD_S3M_PORTA_DOWN: parse_s3m_portamento_down(p, ch, param); break;
    case CMD_S3M_PORTA_UP: parse_s3m_portamento_up(p, ch, param); break;
    case CMD_TREMOR: parse_tremor(p, ch, param); break;
    case CMD_S3M_ARPEGGIO: parse_s3m_arpeggio(p, ch, param); break;
    case CMD_VIBRATO_S3M_VOLSLIDE:
      parse_vibrato(p, ch, 0, 5);
      parse_s3m_volume_slide(p, ch, param);
      break;
    case CMD_TONE_PORTA_S3M_VOLSLIDE:
      parse_slide2period(p, ch, 0, cell.note);
      parse_s3m_volume_slide(p, ch, param);
      break;
    case CMD_S3M_RETRIG: parse_s3m_retrig(p, ch, param); break;
    case CMD_S3M_TREMOLO: parse_tremolo(p, ch, param, 7); break;
    case CMD_FINE_VIBRATO: parse_vibrato(p, ch, param, 7); break;
    case CMD_S3M_PANNING: parse_s3m_panning(p, ch, param); break;
    case CMD_XM_PORTA_UP: parse_xm_pitch_slide_up(p, ch, param); break;
    case CMD_XM_PORTA_DOWN: parse_xm_pitch_slide_down(p, ch, param); break;
    case CMD_XM_TONE_PORTA_VOLSLIDE:
      parse_slide2period(p, ch, 0, cell.note > 0 ? cell.note + c.relative_note : 0);
      parse_xm_volume_slide(p, ch, param);
      break;
    case CMD_XM_VIBRATO_VOLSLIDE:
      parse_vibrato(p, ch, 0, 5);
      parse_xm_volume_slide(p, ch, param);
      break;
    case CMD_XM_VOLSLIDE: parse_xm_volume_slide(p, ch, param); break;
    case CMD_KEY_OFF:
      // FT2 releases at tick xx, and never when the row has fewer ticks.
      if (param > 0 && mod_rule(p, RULE_KEY_OFF_AT_TICK))
        c.key_off_tick = param + 1;
      else
        release_key(p, ch);
      break;
    case CMD_SET_ENVELOPE_POSITION:
      parse_xm_set_envelop_position(&c.sounding.vol_env, param);
      // FT2 moves the pan envelope too, but only when the volume envelope has a sustain point.
      if (mod_rule(p, RULE_FT2_TICK_COUNTS) && (c.sounding.vol_env.flags & 2))
        parse_xm_set_envelop_position(&c.sounding.pan_env, param);
      break;
    case CMD_XM_PANSLIDE: parse_xm_pan_slide(p, ch, param); break;
    case CMD_XM_EXTRA_FINE_PORTA: do_xm_x(p, ch, param); break;
    case CMD_IT_CHANNEL_VOLUME: c.channel_volume = clamp_int(param, 0, 64); break;
    case CMD_IT_CHANNEL_VOLSLIDE: parse_it_channel_volume_slide(p, ch, param); break;
    case CMD_IT_PANSLIDE: parse_xm_pan_slide(p, ch, param); break;
    case CMD_IT_EXTENDED: {
      const int extended = it_extended_param(param);
      if (extended >= 0) parse_extended_command(p, ch, extended);
      break;
    }
    case CMD_IT_PANBRELLO: parse_it_panbrello(p, ch, param); break;
    case CMD_IT_MIDI_MACRO: parse_it_midi_macro(p, ch, param); break;
    case CMD_IT_TEMPO: parse_tempo(p, ch, param); break;
    case CMD_IT_VOLSLIDE: parse_s3m_volume_slide(p, ch, param); break;
    default: break;
  }
}

// A sample number the MOD and S3M families name but the module lacks starts nothing.
static bool lacks_sample(modux_player *p, int sample) {
  const MODUX *mod = p->of;
  if (sample < 0 || (p->mi.flags & MODUX_XM)) return false;
  return !mod->sample_info || !mod->samples || sample >= mod->sample_count;
}

// ---------------------------------------------------------------------------------------------
// The IT family's cells: notes through the keyboard, held back by a note delay
// ---------------------------------------------------------------------------------------------

// A cell's note, sample and volume: the part a note delay holds back. A note without a number
// plays the channel's last number, even one the module lacks.
static void read_it_cell(modux_player *p, int ch, const NOTE_INFO &cell) {
  MODUX *mod = p->of;
  CHANNEL_STATE &c = p->ci[ch];
  NOTE_STATE &n = p->ci[ch].sounding;
  const int number = cell.sample - 1;
  if (number >= 0) c.it_number = number;
  const bool porta = is_tone_portamento(p, cell) && n.active;
  if (cell.note > 0) {
    const int note = cell.note - 1;
    int played = note;
    const int sample = it_keyboard(mod, c.it_number, note, played);
    if (sample == -2) {
      n.fade = 0;
    } else if (sample >= 0 && porta) {
      // Without compatible Gxx a number brings the sample its keyboard gives the target; with it,
      // the instrument's envelopes from their start, the key held again.
      if (number >= 0 && !mod_rule(p, RULE_IT_COMPAT_GXX))
        restart_it_sample(p, ch, number, sample);
      else if (number >= 0 && restart_it_instrument(p, ch, number))
        n.key_off = n.fading = 0, n.fade = 1024;
      // An offset beside the target plays the sample again from there (Oxx sets the place next).
      if (cell.command == CMD_SAMPLE_OFFSET) n.start = -1;
      c.porta_target = it_note_period(p, played, n.sample >= 0 ? n.sample : sample);
      n.note = note;  // a number alone reads the keyboard at the target
      // The number restores the playing sample's volume.
      if (number >= 0 && n.sample >= 0) n.volume = mod->sample_info[n.sample].volume;
    } else if (sample >= 0) {
      parse_it_note(p, ch, note, c.it_number, number >= 0);
    }
  } else if (number >= 0 && cell.note == 0) {
    parse_it_number(p, ch, number);
  } else if (number >= 0 && n.active && n.sample >= 0) {
    n.volume = mod->sample_info[n.sample].volume;  // with a note command: the volume only
    // Under old effects a note off with a number (no portamento) releases only the sample's
    // sustain loop: the instrument's envelopes start again, held, and no fade begins.
    if (cell.note == -2 && !porta && mod_rule(p, RULE_IT_OLD_EFFECTS) &&
        restart_it_instrument(p, ch, number)) {
      if (n.sustain) n.sustain = 0, n.swap = -1;
      return parse_volume_command(p, ch, cell.volume, cell.note);
    }
  }
  if (cell.note < 0) parse_note_command(p, ch, cell.note);
  // Under old effects a number beside a note off takes the release back, the note never fading,
  // unless a tone portamento goes with them.
  if (cell.note == -2 && number >= 0 && !porta && mod_rule(p, RULE_IT_OLD_EFFECTS))
    n.key_off = n.fading = 0;
  parse_volume_command(p, ch, cell.volume, cell.note);
}

// A cell whose note, number or volume SDx holds back; SD0 as SD1.
static bool it_delays_note(const NOTE_INFO &cell) {
  return cell.command == CMD_IT_EXTENDED && (cell.param >> 4) == 0xD &&
         (cell.note || cell.sample || cell.volume);
}

static int it_note_delay(const NOTE_INFO &cell) { return (cell.param & 15) ? cell.param & 15 : 1; }

// The first tick of an IT cell: the row's effect and volume column kept for the later ticks, then
// its note, held back whole by a note delay (SDx), S73..S76 going with it.
static void start_it_cell(modux_player *p, int ch, const NOTE_INFO &cell) {
  CHANNEL_STATE &c = p->ci[ch];
  c.new_note_action = -1;
  if (cell.command != CMD_S3M_RETRIG) c.retrig_count = 0;
  if (it_delays_note(cell)) {
    c.delay_sample = it_note_delay(cell);
    c.delayed = cell;
  } else {
    if (cell.command == CMD_IT_EXTENDED && (cell.param >> 4) == 7 && (cell.param & 15) >= 3 &&
        (cell.param & 15) <= 6)
      c.new_note_action = (cell.param & 15) - 3;
    read_it_cell(p, ch, cell);
  }
}

// ---------------------------------------------------------------------------------------------
// A row's first tick
// ---------------------------------------------------------------------------------------------

// A note ProTracker's EDx delays.
static bool protracker_delayed_note(modux_player *p, const NOTE_INFO &cell) {
  return protracker_proper(p) && cell.note > 0 && cell.command == CMD_EXTENDED &&
         cell.param >> 4 == 0xD && (cell.param & 15) != 0;
}

// The first tick of a cell of the other families: its note or sample (a tone portamento's note is
// its target), note command and volume column. True when it names a sample the module lacks.
static bool start_cell(modux_player *p, int ch, const NOTE_INFO &cell) {
  MODUX *mod = p->of;
  CHANNEL_STATE &c = p->ci[ch];
  const int sample = cell.sample - 1;
  // A note given with a tone portamento is its target, not a new note; its sample
  // number only restores the default volume while the playing sample goes on.
  // FT2 plays a note delayed by EDx as a new note, tone portamento or not.
  const bool delayed = cell.command == CMD_EXTENDED && (cell.param >> 4) == 0xD &&
                       (cell.param & 15) != 0 && mod_rule(p, RULE_FT2_TICK_COUNTS);
  // ST3 starts the note of a tone portamento on a channel that has played none.
  const bool first_note = mod_rule(p, RULE_ST3_CHANNEL) && c.period == 0;
  const bool portamento = is_tone_portamento(p, cell) && !delayed && !first_note;
  if (sample >= 0 && portamento) {
    const int index = (p->mi.flags & MODUX_XM) ? get_modux_sample_no(p, sample, c.note) : sample;
    // ST3 passes over the number of an empty sample slot.
    const bool empty_slot = mod_rule(p, RULE_ST3_CHANNEL) && mod->sample_info && index >= 0 &&
                            index < mod->sample_count && mod->sample_info[index].length == 0;
    if (mod->sample_info && index >= 0 && index < mod->sample_count && !empty_slot) {
      c.volume = mod->sample_info[index].volume;
      // ProTracker swaps the new sample in at the loop's end, its finetune for the target.
      if (mod_rule(p, RULE_PROTRACKER_CHANNEL) && index != c.sounding.sample && c.period > 0) {
        c.sounding.sample = index;
        c.tuning = mod->sample_info[index].tuning;
        c.swap_sample = -1;
      }
    }
    if ((p->mi.flags & MODUX_XM) && mod_rule(p, RULE_INSTRUMENT_RESETS))
      retrigger_instrument(p, ch, sample);
  }
  const bool lacking = lacks_sample(p, sample);
  if ((cell.note > 0 || sample >= 0) && !portamento && !lacking) {
    c.tremor_count = 0;
    c.retrig_count = 0;
    if (!mod_rule(p, RULE_PROTRACKER_CHANNEL)) c.slide2period_target = 0;
    if (c.vibrato_waveform < 3) c.vibrato_pos = 0;
    if (c.tremolo_waveform < 3) c.tremolo_pos = 0;
    if (p->mi.flags & MODUX_XM) {
      parse_new_note(p, ch, cell.note, sample);
    } else if (protracker_delayed_note(p, cell)) {
      // ProTracker: the sample number acts at once, as one alone does; the note's pitch and
      // start wait for the delay's tick.
      parse_old_note(p, ch, 0, sample);
      c.period = note2period(p, cell.note, c.tuning);
    } else {
      parse_old_note(p, ch, cell.note, sample);
    }
    // FT2's E5x tunes the note it comes with: finetune x * 16 - 128 in place of the sample's.
    if (cell.note > 0 && c.period != 0 && cell.command == CMD_EXTENDED &&
        (cell.param >> 4) == 0x5 && mod_rule(p, RULE_FT2_TICK_COUNTS)) {
      c.tuning = (cell.param & 15) * 16;
      c.period = note2period(p, cell.note - 1 + c.relative_note, c.tuning);
    }
  }
  if (cell.note < 0) parse_note_command(p, ch, cell.note);
  if (cell.volume > 15) parse_volume_command(p, ch, cell.volume, cell.note);
  return lacking;
}

// FT2 holds a cell with EDx (x > 0) back whole: the note playing goes on until tick x.
static bool ft2_held_cell(modux_player *p, const NOTE_INFO &cell) {
  return cell.command == CMD_EXTENDED && (cell.param >> 4) == 0xD && (cell.param & 15) != 0 &&
         mod_rule(p, RULE_FT2_TICK_COUNTS);
}

// The volume column's kinds that act on a row's later ticks (slides, vibrato, portamento).
static bool volume_column_per_tick(int volume) {
  const int kind = volume >> 4;
  return kind == 0x6 || kind == 0x7 || kind == 0xB || kind == 0xD || kind == 0xE || kind == 0xF;
}

// The first tick of a held cell: only the volume column's later-tick part runs, on the note that
// plays; a portamento goes on at the speed and toward the target it had.
static void hold_cell(modux_player *p, int ch, const NOTE_INFO &cell) {
  CHANNEL_STATE &c = p->ci[ch];
  c.delayed = cell;
  if ((cell.volume >> 4) == 0xF)
    parse_slide2period(p, ch, 0, 0);
  else if (volume_column_per_tick(cell.volume))
    parse_volume_command(p, ch, cell.volume, 0);
}

// The delay's tick of a held cell: its note starts as a new one, tone portamento or not, with
// the volume column's first-tick part (its later-tick part runs already).
static void start_held_cell(modux_player *p, int ch) {
  CHANNEL_STATE &c = p->ci[ch];
  NOTE_INFO cell = c.delayed;
  if (volume_column_per_tick(cell.volume)) cell.volume = 0;
  const int target = c.slide2period_target;
  start_cell(p, ch, cell);
  c.slide2period_target = target;
  if (cell.note >= 0 && cell.sample == 0 && mod_rule(p, RULE_INSTRUMENT_RESETS)) {
    // FT2 starts the envelopes again for a delayed note without a number; volume and pan stay.
    const int volume = c.volume, pan = c.pan;
    retrigger_instrument(p, ch, c.instrument);
    c.volume = volume;
    c.pan = pan;
  }
  c.tick_pan = c.pan;
  c.tick_volume = c.volume;
  c.tick_period = c.period;
}

// A cell that sets its channel's volume on the row's first tick: an instrument number, a volume
// or fine volume slide in the volume column, Cxx, EAx or EBx.
static bool sets_volume(const NOTE_INFO &cell) {
  if (cell.sample > 0 || (cell.volume >= 0x10 && cell.volume <= 0x50)) return true;
  if (cell.volume >= 0x80 && cell.volume <= 0x9F) return true;
  if (cell.command == CMD_SET_VOLUME) return true;
  return cell.command == CMD_EXTENDED && (cell.param >> 4 == 0x13 || cell.param >> 4 == 0x14);
}

// The effects of the later ticks stop at a row's start: effects last one row unless the next
// row repeats them.
static void stop_tick_effects(CHANNEL_STATE &c) {
  c.pan_slide = 0;
  c.pitch_slide_on = 0;
  c.s3m_vol_slide_on = 0;
  c.xm_vol_slide_on = 0;
  c.xm_slide_down_on = 0;
  c.xm_slide_up_on = 0;
  c.s3m_porta_on = 0;
  c.set_offset = 0;
  c.slide2period_on = 0;
  c.s3m_retrig_on = 0;
  c.arpeggio_on = 0;
  c.vibrato_on = 0;
  c.tremolo_on = 0;
  c.tremor_on = 0;
  c.start_voice = 0;
  c.delay_sample = 0;
  c.cut_tick = 0;
  c.volume_slide = 0;
  c.retrig_interval = 0;
  c.key_off_tick = 0;
  c.channel_vol_slide = 0;
  c.panbrello_on = 0;
  c.vcol_volume_slide = 0;
  c.vcol_porta = 0;
  c.vibrato_twice = 0;
  c.porta_twice = 0;
}

// A row's first tick, one channel: the row's effects stop, then the cell's note, volume column
// and effect column.
static void start_channel_row(modux_player *p, int ch, const NOTE_INFO &cell) {
  CHANNEL_STATE &c = p->ci[ch];
  const bool in_turn = mod_rule(p, RULE_IT_VIRTUAL_VOICES) != 0;
  stop_tick_effects(c);

  bool lacking = false;
  if (in_turn)
    start_it_cell(p, ch, cell);
  else if (ft2_held_cell(p, cell))
    hold_cell(p, ch, cell);
  else
    lacking = start_cell(p, ch, cell);
  parse_command(p, ch, cell, cell.sample - 1);
  if (cell.command != CMD_VIBRATO && cell.command != CMD_XM_VIBRATO_VOLSLIDE) c.vibrato_twice = 0;
  if (in_turn) {
    // A tone portamento in the volume column is the effect the later ticks run, in place of the
    // effect column's (unless that is one too); its vibrato runs with the effect column's.
    const int vcol = cell.volume - 1;
    if (vcol >= 193 && vcol <= 202 && cell.command != CMD_TONE_PORTA &&
        cell.command != CMD_TONE_PORTA_S3M_VOLSLIDE) {
      c.pitch_slide_on = c.arpeggio_on = c.tremor_on = c.s3m_retrig_on = 0;
      c.volume_slide = c.channel_vol_slide = c.pan_slide = 0;
      c.global_vol_slide_on = c.tempo_slide = 0;
      c.vibrato_on = c.tremolo_on = c.panbrello_on = 0;
      c.slide2period_on = -1;
    }
    if (vcol >= 203 && vcol <= 212) {
      c.vibrato_on = -1;
      // With a vibrato of the effect column, IT runs the vibrato twice a tick, at the volume
      // column's depth.
      if (cell.command == CMD_VIBRATO || cell.command == CMD_FINE_VIBRATO ||
          cell.command == CMD_VIBRATO_S3M_VOLSLIDE) {
        c.vibrato_twice = -1;
        if (vcol > 203) c.vibrato_depth = (vcol - 203) * 4;
      }
    }
    return;
  }
  if ((cell.volume >> 4) == 0xF && c.slide2period_on &&
      (cell.command == CMD_TONE_PORTA || cell.command == CMD_XM_TONE_PORTA_VOLSLIDE) &&
      mod_rule(p, RULE_FT2_TICK_COUNTS)) {
    // FT2 runs a tone portamento of both columns twice a tick, at the volume column's speed.
    c.porta_twice = -1;
    parse_slide2period(p, ch, 16 * (cell.volume & 15),
                       cell.note > 0 ? cell.note + c.relative_note : 0);
  }
  if (lacking) {
    // Neither the note nor a sample offset restarts the sample that played before.
    c.start_voice = 0;
    c.set_offset = 0;
  }
  c.tick_pan = c.pan;
  c.tick_volume = c.volume;
  c.tick_period = c.glissando && c.slide2period_on ? ft2_note_period(p, c, 0) : c.period;
  if (c.tremor_muted) {
    // FT2: the silence a tremor left lasts until the row sets a volume.
    if (sets_volume(cell))
      c.tremor_muted = 0;
    else
      c.tick_volume = 0;
  }
}

// Second pass over a row, for the channels that play: notes, samples and effects.
static void read_row_cells(modux_player *p) {
  MODUX *mod = p->of;
  const int played = played_channels(p);
  for (int ch = 0; ch < played; ch++)
    start_channel_row(p, ch,
                      mod_rule(p, RULE_ST3_CHANNEL) ? p->ci[ch].row_cell
                                                    : *get_note(mod, p->mi.pattern, p->mi.row, ch));
}

// ---------------------------------------------------------------------------------------------
// Later ticks, waves and voices
// ---------------------------------------------------------------------------------------------

// The later ticks of a row, one channel, for every family: retriggers, arpeggio, the pitch and
// volume slides, tone portamento, the IT family's channel volume slide and volume column, note
// delay and cut, tremor, the XM slides, the pan and global volume slides, key off and the tempo
// slide. The effects that change the note's volume or pitch come before the volume column's.
static void run_channel_tick_effects(modux_player *p, int ch) {
  CHANNEL_STATE &c = p->ci[ch];
  const int tick = row_tick(p);  // IT: each time a row delay plays the row counts from 0
  const bool in_turn = mod_rule(p, RULE_IT_VIRTUAL_VOICES) != 0;
  if (c.s3m_retrig_on == -1) do_s3m_retrig(p, ch);
  if (c.arpeggio_on == -1) do_arpeggio(p, ch);
  if (c.pitch_slide_on == -1) {
    do_pitch_slide(p, ch, c.pitch_slide_speed);
    hold_to_pitch_limits(p, c);
  }
  if (c.volume_slide != 0) do_volume_slide(p, ch, c.volume_slide);
  if (c.retrig_interval != 0 && tick % c.retrig_interval == 0) c.start_voice = -1;
  if (c.slide2period_on == -1) do_slide2period(p, ch);
  if (c.slide2period_on == -1 && c.porta_twice) do_slide2period(p, ch);
  if (c.channel_vol_slide != 0) do_channel_volume_slide(p, ch);
  if (c.vcol_volume_slide != 0) do_volume_slide(p, ch, c.vcol_volume_slide);
  if (c.vcol_porta != 0) do_pitch_slide(p, ch, c.vcol_porta);
  // IT: a note delayed past the ticks of the row (S6x included; a row delay's repetitions count
  // their ticks afresh) never plays.
  if (in_turn && c.delay_sample >= p->mi.speed + p->row_extra_ticks) c.delay_sample = 0;
  if (c.delay_sample != 0) {
    // The IT family and FT2 hold the whole cell back; the others only the sample's start.
    if (tick == c.delay_sample && in_turn) read_it_cell(p, ch, c.delayed);
    if (tick == c.delay_sample && ft2_held_cell(p, c.delayed)) start_held_cell(p, ch);
    do_delay_sample(p, ch);
  }
  // After the delay: a note delayed to the cut's tick is cut at once.
  if (c.cut_tick != 0 && tick == c.cut_tick) {
    // The IT family's cut ends the note, its volume kept for the next note without a number.
    if (in_turn) c.sounding.fade = 0, c.sounding.revive = -1;
    c.volume = 0;
    c.tick_volume = 0;
    if (mod_rule(p, RULE_ST3_CHANNEL)) c.cut_stopped = -1;
  }
  if (c.tremor_muted &&
      (c.xm_vol_slide_on == -1 || c.volume_slide != 0 || c.vcol_volume_slide != 0)) {
    // A volume slide sets the volume again after a tremor's silence.
    c.tremor_muted = 0;
    c.tick_volume = c.volume;
  }
  if (c.tremor_on == -1) do_tremor(p, ch);
  if (c.xm_vol_slide_on == -1) do_xm_volume_slide(p, ch);
  if (c.xm_slide_up_on == -1) do_xm_pitch_slide_up(p, ch);
  if (c.xm_slide_down_on == -1) do_xm_pitch_slide_down(p, ch);
  if (c.pan_slide != 0) do_xm_pan_slide(p, ch);
  if (c.global_vol_slide_on == -1) do_global_volume_slide(p, ch);
  if (c.key_off_tick != 0 && tick == c.key_off_tick - 1) release_key(p, ch);
  if (c.tempo_slide != 0) do_s3m_tempo_slide(p, c.tempo_slide);
}

static void run_tick_effects(modux_player *p) {
  const int played = played_channels(p);
  for (int ch = 0; ch < played; ch++) run_channel_tick_effects(p, ch);
}

// Every tick, the first of a row included, one channel: the waves and the S3M slides with fine
// forms.
static void run_channel_waves(modux_player *p, int ch) {
  CHANNEL_STATE &c = p->ci[ch];
  if (c.vibrato_on == -1) do_vibrato(p, ch);
  if (c.tremolo_on == -1) do_tremolo(p, ch);
  if (c.panbrello_on == -1) do_panbrello(p, ch);
  if (c.s3m_vol_slide_on == -1) do_s3m_volume_slide(p, ch);
  if (c.s3m_porta_on == -1) do_s3m_portamento(p, ch);
  // The counts of tremor and retrigger go on over a row's first tick.
  if (!p->first_tick) return;
  if (c.tremor_on == -1 && mod_rule(p, RULE_TREMOR_COUNTS_ON)) do_tremor(p, ch);
  if (c.s3m_retrig_on == -1 && mod_rule(p, RULE_RETRIG_COUNTS_ON) &&
      (c.start_voice == 0 || mod_rule(p, RULE_FT2_TICK_COUNTS)))
    do_s3m_retrig(p, ch);
}

static void run_wave_effects(modux_player *p) {
  const int played = played_channels(p);
  for (int ch = 0; ch < played; ch++) run_channel_waves(p, ch);
}

// Pushes a channel's sounding note to its voice, for every family (voices.cpp).
static void output_channel(modux_player *p, int ch) {
  CHANNEL_STATE &c = p->ci[ch];
  c.sounding.voice = p->voice_table[ch];
  output_note(p, c.sounding, &c);
}

// The first tick of a row repeated by a pattern delay: each channel starts again from its
// row values, as at a row start. ProTracker runs the row's fine slides and note delay again.
static void repeat_row(modux_player *p) {
  const int played = played_channels(p);
  for (int ch = 0; ch < played; ch++) {
    CHANNEL_STATE &c = p->ci[ch];
    const NOTE_INFO &cell = *get_note(p->of, p->mi.pattern, p->mi.row, ch);
    const int sub = cell.param >> 4;
    if (mod_rule(p, RULE_PROTRACKER_CHANNEL) && cell.command == CMD_EXTENDED &&
        (sub == 0x1 || sub == 0x2 || sub == 0xA || sub == 0xB || protracker_delayed_note(p, cell)))
      parse_extended_command(p, ch, cell.param);
    c.tick_pan = c.pan;
    c.tick_volume = c.volume;
    c.tick_period = c.period;
  }
}

// The first tick of a row that IT's row delay plays again: the effect column acts again as on
// the row's first tick (fine slides, volumes and pans set again), its note and volume column do
// not (but a note that SDx delays does), nor the commands that steer the song or count the row's
// ticks.
static void repeat_it_commands(modux_player *p, int ch, const NOTE_INFO &cell) {
  switch (cell.command) {
    case CMD_S3M_SET_SPEED:
    case CMD_POSITION_JUMP:
    case CMD_PATTERN_BREAK: return;
    case CMD_IT_EXTENDED: {
      const int x = cell.param >> 4;
      // A delayed note plays again in every repetition, at its tick.
      if (it_delays_note(cell)) {
        p->ci[ch].delay_sample = it_note_delay(cell);
        p->ci[ch].delayed = cell;
      }
      if (x == 0x6 || x == 0xB || x == 0xD || x == 0xE) return;
      break;
    }
    default: break;
  }
  parse_command(p, ch, cell, cell.sample - 1);
}

// The tick under RULE_IT_VIRTUAL_VOICES: each channel's row (first), a row delay's repetition
// (repeat) or later tick and its waves before the next channel's, then the channels' voices.
static void run_channels_in_turn(modux_player *p, bool first, bool repeat) {
  MODUX *mod = p->of;
  p->first_tick = first || repeat ? -1 : 0;
  const int played = played_channels(p);
  if (first) {
    for (int ch = 0; ch < module_channels(p); ch++) forget_row_commands(p->ci[ch]);
    p->row_repeats = -1;
    p->row_extra_ticks = 0;
  }
  for (int ch = 0; ch < played; ch++) {
    CHANNEL_STATE &c = p->ci[ch];
    c.period_delta = c.volume_delta = 0;
    if (first)
      start_channel_row(p, ch, *get_note(mod, p->mi.pattern, p->mi.row, ch));
    else if (repeat)
      repeat_it_commands(p, ch, *get_note(mod, p->mi.pattern, p->mi.row, ch));
    else
      run_channel_tick_effects(p, ch);
    run_channel_waves(p, ch);
  }
  // The voices after every channel's commands: a global volume set in any channel reaches all.
  for (int ch = 0; ch < played; ch++) output_channel(p, ch);
  // Flow commands of channels without a voice still act.
  if (first)
    for (int ch = played; ch < module_channels(p); ch++) {
      const NOTE_INFO &cell = *get_note(mod, p->mi.pattern, p->mi.row, ch);
      if (cell.command == CMD_POSITION_JUMP || cell.command == CMD_PATTERN_BREAK ||
          cell.command == CMD_S3M_SET_SPEED)
        parse_command(p, ch, cell, -1);
    }
  // The row's delays as ticks past its speed's: each time the row plays it has the S6x ticks.
  if (first && mod_rule(p, RULE_IT_DELAY_TICKS)) {
    const int times = (p->row_repeats > 0 ? p->row_repeats : 0) + 1;
    p->mi.pattern_delay = (p->mi.speed + p->row_extra_ticks) * times - p->mi.speed;
  }
}

// One tick of the channels that play: their row's start (row_start) or their later ticks, their
// waves and their voices, channel by channel under RULE_IT_VIRTUAL_VOICES and job by job
// otherwise; then the background notes.
static void run_channels(modux_player *p, bool row_start, bool repeat = false) {
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    run_channels_in_turn(p, row_start, repeat);
  } else {
    if (row_start) {
      read_row_commands(p);
      read_row_cells(p);
    } else if (!p->first_tick) {
      run_tick_effects(p);
    }
    run_wave_effects(p);
    const int played = played_channels(p);
    for (int ch = 0; ch < played; ch++) output_channel(p, ch);
  }
  output_background(p);
}

static void run_tick(modux_player *p) {
  MODUX *mod = p->of;
  if (p->next_tempo != 0) {
    p->mi.tempo = p->next_tempo;
    p->next_tempo = 0;
    p->timer_request = -1;
  }
  if (take_navigation_request(p)) return;

  p->mi.tick += 1;
  bool repeat = false;
  if (p->mi.tick >= row_ticks(p) && p->mi.pattern_delay > 0) {
    p->mi.pattern_delay -= 1;
    if (mod_rule(p, RULE_IT_DELAY_TICKS)) {
      // The delay adds ticks to the row, its effects running on as on any later tick; each
      // time the row plays again starts with a first tick.
      p->first_tick = 0;
      run_channels(p, false, row_tick(p) == 0);
      return;
    }
    if (!mod_rule(p, RULE_DELAY_REPEATS_ROW)) {
      // The engine's own pattern delay freezes the song: no effect runs, no voice is touched.
      return;
    }
    // The trackers play the row again without its notes, its effects running on.
    p->mi.tick = 0;
    repeat = true;
    repeat_row(p);
  }
  if (p->mi.tick >= row_ticks(p)) advance_row(p);
  if (p->mi.order >= mod_playable_orders(mod) && !end_song(p)) return;
  // A repeated row starts without its notes and commands; under FT2's rules its effects run
  // as on any later tick, from its first tick on.
  const bool ticks_on = repeat && mod_rule(p, RULE_DELAY_TICKS_ON);
  p->first_tick = p->mi.tick == 0 && !ticks_on ? -1 : 0;
  run_channels(p, p->mi.tick == 0 && !repeat);
}

int row_tick(modux_player *p) {
  const int length = p->mi.speed + p->row_extra_ticks;
  const int tick = p->mi.tick;
  return mod_rule(p, RULE_IT_DELAY_TICKS) && length > 0 ? tick % length : tick;
}

void mod_tick(modux_player *p) {
  if (p->of) run_tick(p);
}
