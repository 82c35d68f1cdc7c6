// Virtual voices: the notes that sound on voices of their own, the background pool, the new note
// actions, and the output of every family's notes to their voices.
// Every channel's note (CHANNEL_STATE::sounding) reaches the channel's voice through output_note,
// in every family; the module's rules say what a family does on the way (FT2's offset past the
// end, ProTracker's sample swap at the loop's end, ST3's offset round the loop, a delayed note,
// the fades, the envelopes). In the IT family (RULE_IT_VIRTUAL_VOICES) a new note action can move
// the channel's note into the background, where it keeps a voice of the pool until its envelope or
// fade-out ends. The pool holds BACKGROUND_VOICES notes and gives up the quietest when full.
// Modules whose rules lack RULE_IT_VIRTUAL_VOICES open no pool: their notes are cut by the next
// one. Runs in the tick: no allocation except in voices_open/close.
#include <cmath>

#include "modux_internal.h"
#include "voice.h"

// Full fade, counted down by an instrument's fade-out each tick.
static const int FADE_FULL = 1024;

void voices_open(modux_player *p) {
  if (p->pool_open) return;
  p->pool_open = -1;
  // The pool asks for its voices at the lowest priority: once Allegro has no free voice left, an
  // allocation takes one from an older voice of no higher priority, and so only from the pool,
  // never from a pattern channel. Voices left without a mixed voice go back.
  if (fake_sample) p->pool_sample = *fake_sample;
  p->pool_sample.priority = 0;
  for (NOTE_STATE &n : p->background) {
    n = NOTE_STATE{};
    n.voice = fake_sample ? modux_voice_allocate(p, &p->pool_sample) : -1;
    if (n.voice >= 0) modux_voice_set_volume(p, n.voice, 0);
  }
  for (NOTE_STATE &n : p->background)
    if (n.voice >= 0 && !modux_voice_held(p, n.voice)) {
      modux_voice_deallocate(p, n.voice);
      n.voice = -1;
    }
}

void voices_close(modux_player *p) {
  if (!p->pool_open) return;
  p->pool_open = 0;
  for (NOTE_STATE &n : p->background) {
    if (n.voice >= 0) {
      modux_voice_stop(p, n.voice);
      modux_voice_deallocate(p, n.voice);
    }
    n = NOTE_STATE{};
    n.voice = -1;
  }
}

void voices_silence(modux_player *p) {
  if (!p->pool_open) return;
  for (NOTE_STATE &n : p->background) {
    if (n.voice >= 0 && n.active) {
      modux_voice_set_volume(p, n.voice, 0);
      modux_voice_stop(p, n.voice);
    }
    n.active = 0;
  }
}

int background_voices(modux_player *p) {
  int count = 0;
  if (!p->pool_open) return 0;
  for (const NOTE_STATE &n : p->background) count += n.voice >= 0;
  return count;
}

int background_sounding(modux_player *p) {
  int count = 0;
  if (!p->pool_open) return 0;
  for (const NOTE_STATE &n : p->background) count += n.voice >= 0 && n.active;
  return count;
}

void voices_reset(modux_player *p, MODUX *mod) {
  // The control side has just given every channel a fresh record; these are the IT family's
  // starting values on top of it.
  for (int ch = 0; ch < MODUX_MAX_CHANNELS; ch++) {
    CHANNEL_STATE &c = p->ci[ch];
    c.sounding = NOTE_STATE{};
    c.sounding.voice = -1;
    c.sounding.cutoff = 127;
    c.sounding.filter_env = 8192;
    c.sounding.volume = 64;  // what a first note without a number plays at
    c.channel_volume = mod->channel_volume[ch];
    c.pan = mod->channel_pan[ch] >= 255 ? 256 : mod->channel_pan[ch];
    c.surround = mod->channel_surround[ch];
    c.new_note_action = -1;
    c.it_number = -1;
    c.tremor_param = 0x101;  // I00 before any Ixy: one tick on, one off
  }
  voices_silence(p);
  p->mi.global_volume = mod->initial_global_volume;
}

// ---------------------------------------------------------------------------------------------
// New note actions
// ---------------------------------------------------------------------------------------------

static NOTE_STATE *push_background(modux_player *p, int ch) {
  NOTE_STATE &fg = p->ci[ch].sounding;
  // A free slot with a voice, else the quietest sounding one.
  NOTE_STATE *slot = nullptr;
  if (!p->pool_open) return nullptr;
  for (NOTE_STATE &n : p->background) {
    if (n.voice < 0) continue;
    if (!n.active) {
      slot = &n;
      break;
    }
    if (!slot || n.loudness < slot->loudness) slot = &n;
  }
  if (!slot || p->voice_table[ch] < 0) return nullptr;
  if (slot->active) modux_voice_stop(p, slot->voice);
  const int spare = slot->voice;
  *slot = fg;
  slot->voice = p->voice_table[ch];
  slot->channel_volume = p->ci[ch].channel_volume;  // it keeps the level it had
  p->voice_table[ch] = spare;
  fg.active = 0;
  return slot;
}

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
  NOTE_STATE *pushed = action == 0 || fg.loudness == 0 ? nullptr : push_background(p, ch);
  if (!pushed) {
    fg.active = 0;
    return;
  }
  if (action == 2) pushed->key_off = -1;
  if (action == 3) pushed->fading = -1;
}

void voices_new_note(modux_player *p, int ch, int instrument, int sample, int note) {
  check_duplicates(p, ch, instrument, sample, note);
  new_note_action(p, ch);
}

// ---------------------------------------------------------------------------------------------
// Output
// ---------------------------------------------------------------------------------------------

// Slides held on for minutes would carry a period past what an int holds; far below that every
// pitch is inaudible, so the other families' periods stay within this bound either way.
static const int PERIOD_BOUND = 1 << 24;

// The sample of a note as the voice plays it: with its sustain loop while the key is held.
static SAMPLE *note_sample(modux_player *p, const NOTE_STATE &n) {
  const MODUX *mod = p->of;
  if (!mod->samples || n.sample < 0 || n.sample >= mod->sample_count) return nullptr;
  if (n.sustain && mod->sustain_samples) return &mod->sustain_samples[n.sample];
  return &mod->samples[n.sample];
}

static void set_loop(modux_player *p, int voice, int flags) {
  if (flags & 2)
    modux_voice_set_playmode(p, voice, PLAYMODE_LOOP | PLAYMODE_BIDIR);
  else if (flags & 1)
    modux_voice_set_playmode(p, voice, PLAYMODE_LOOP);
  else
    modux_voice_set_playmode(p, voice, PLAYMODE_PLAY);
}

// Allegro's mixer reads from the given frame on: keep a sample offset inside the sample.
static int offset_inside(const SAMPLE *spl, int offset) {
  const int last = spl && spl->len > 0 ? static_cast<int>(spl->len) - 1 : 0;
  return clamp_int(offset, 0, last);
}

// ST3 takes an offset past a looping sample's loop end round the loop.
static int st3_offset(modux_player *p, int sample, int offset) {
  const MODUX *mod = p->of;
  if (!mod_rule(p, RULE_ST3_CHANNEL) || !mod->sample_info || sample < 0 ||
      sample >= mod->sample_count)
    return offset;
  const SAMPLE_INFO &info = mod->sample_info[sample];
  const int loop = info.loop_end - info.loop_start;
  if (!(info.loop_flags & 1) || loop <= 0 || offset < info.loop_end) return offset;
  return info.loop_start + (offset - info.loop_start) % loop;
}

// The IT family's note takes its sample to the voice: releasing the key leaves the sustain loop
// for the sample's own loop, at the same place; a changed sample goes on from the place the voice
// has reached, from its start when that place lies past its end; a new note starts the sample
// from its offset.
static void place_note_sample(modux_player *p, NOTE_STATE &n, SAMPLE *&spl,
                              const SAMPLE_INFO *info) {
  const int voice = n.voice;
  if (n.sustain && n.key_off) {
    n.sustain = 0;
    n.swap = -1;
    spl = note_sample(p, n);
  }
  if (n.swap && voice >= 0 && !n.start) {
    int at = modux_voice_get_position(p, voice);
    if (at >= static_cast<int>(spl->len)) at = 0;
    if (at >= 0) {
      modux_voice_reallocate(p, voice, spl);
      set_loop(p, voice, n.sustain ? info->sustain_flags : info->loop_flags);
      modux_voice_set_position(p, voice, at);
      modux_voice_start(p, voice);
    }
  }
  n.swap = 0;
  if (n.start && voice >= 0) {
    modux_voice_reallocate(p, voice, spl);
    set_loop(p, voice, n.sustain ? info->sustain_flags : info->loop_flags);
    if (n.offset > 0)
      modux_voice_set_position(
          p, voice,
          n.offset < static_cast<int>(spl->len) ? n.offset : static_cast<int>(spl->len) - 1);
  }
}

// The other families' channel takes its sample to the voice, as its effects asked: a start
// (start_voice), a place (set_offset) and ProTracker's sample swap at the loop's end
// (swap_sample). FT2 stops a note whose offset lies at or past its sample's end, looped or not;
// ST3 takes an offset past the loop's end round the loop.
static void place_channel_sample(modux_player *p, const NOTE_STATE &n, CHANNEL_STATE &c,
                                 SAMPLE *spl, const SAMPLE_INFO *info) {
  const int voice = n.voice;
  int start_at = -1;
  if (c.set_offset == -1 && spl && c.sample_offset >= static_cast<long>(spl->len) &&
      mod_rule(p, RULE_FT2_TICK_COUNTS)) {
    c.set_offset = 0;
    c.start_voice = 0;
    if (voice >= 0) modux_voice_stop(p, voice);
  }
  if (voice < 0) return;
  if (c.swap_sample == -1 && c.start_voice == 0) {
    // A voice that ended takes the swapped sample's loop at once (a sample without loop stays
    // silent); Allegro's voices restart with the sample.
    const int loop = spl && info ? info->loop_flags : 0;
    const int mode = loop & 1 ? PLAYMODE_LOOP : PLAYMODE_PLAY;
    if (modux_voice_get_position(p, voice) >= 0) {
      if (!modux_voice_swap_at_loop_end(p, voice, spl, mode)) c.start_voice = -1;
    } else if (loop & 1) {
      c.start_voice = -1;
      start_at = static_cast<int>(spl->loop_start);
    }
  }
  if (c.start_voice == -1) {
    if (spl) {
      modux_voice_reallocate(p, voice, spl);
      set_loop(p, voice, info ? info->loop_flags : 0);
    } else {
      // A note whose sample the module lacks is silence.
      modux_voice_stop(p, voice);
    }
  }
  if (c.set_offset == -1)
    modux_voice_set_position(p, voice,
                             offset_inside(spl, st3_offset(p, n.sample, c.sample_offset)));
  if (start_at >= 0) modux_voice_set_position(p, voice, offset_inside(spl, start_at));
}

// The other families' channel values held to their ranges before they reach the voice.
static void hold_channel(CHANNEL_STATE &c) {
  c.period = clamp_int(c.period, -PERIOD_BOUND, PERIOD_BOUND);
  c.tick_period = clamp_int(c.tick_period, 4, PERIOD_BOUND);
  c.volume = clamp_int(c.volume, 0, 64);
  c.tick_volume = clamp_int(c.tick_volume, 0, 64);
  c.pan = clamp_int(c.pan, 0, 255);
  c.tick_pan = clamp_int(c.tick_pan, 0, 255);
}

bool output_note(modux_player *p, NOTE_STATE &n, CHANNEL_STATE *channel) {
  MODUX *mod = p->of;
  if (!n.active) return false;
  // The IT family's note holds its pitch, volume and pan in the IT family's units; the other
  // families' channel note takes them from its channel.
  const bool it_note = mod_rule(p, RULE_IT_VIRTUAL_VOICES) != 0;
  const int rules = mod->rules;
  const int voice = n.voice;
  // The other families' delayed note leaves the voice untouched until it starts; ProTracker's
  // only the voice's pitch; FT2 holds the note back whole, and the one before plays on.
  if (!it_note && channel->delay_sample != 0 && !protracker_proper(p) &&
      !mod_rule(p, RULE_FT2_TICK_COUNTS))
    return true;
  if (!it_note) hold_channel(*channel);
  SAMPLE *spl = note_sample(p, n);
  const IT_INSTRUMENT_INFO *ins =
      it_note && mod->it_instruments && n.instrument >= 0 && n.instrument < mod->instrument_count
          ? &mod->it_instruments[n.instrument]
          : nullptr;
  const SAMPLE_INFO *info = spl && mod->sample_info ? &mod->sample_info[n.sample] : nullptr;
  if (it_note && (!spl || !info)) {
    // The IT family's note without a sample is over; the other families' channel goes on
    // silent, its envelopes and fade running.
    n.active = 0;
    if (voice >= 0) modux_voice_stop(p, voice);
    return false;
  }
  if (it_note)
    place_note_sample(p, n, spl, info);
  else
    place_channel_sample(p, n, *channel, spl, info);

  // Envelopes. The IT family's answer in 1/256 of their units (sample mode has none); the
  // others' give their output in whole units, FT2's exact rules holding a released pan envelope
  // at its sustain point.
  int env_volume = 0, env_pan = 0, env_pitch = 0;
  if (it_note) {
    env_volume = process_envelope(&n.vol_env, 64, n.key_off, rules);
    env_pan = process_envelope(&n.pan_env, 0, n.key_off, rules);
    env_pitch = process_envelope(&n.pitch_env, 0, n.key_off, rules);
  } else {
    if (channel->cut_stopped) channel->tick_volume = 0;
    process_envelope(&n.vol_env, 64, n.key_off, rules);
    if (n.key_off && mod_rule(p, RULE_FT2_EXACT)) hold_released_pan_envelope(&n.pan_env);
    process_envelope(&n.pan_env, 32, n.key_off, rules);
  }

  // Fade. The IT family's: past the end of a volume envelope the note fades, at 0 it is over; a
  // released note fades at once without a volume envelope or with a looping one. The others'
  // fade after a key off with a volume envelope, or always under FT2's exact rules, and only
  // from the next tick on.
  const bool released = n.key_off != 0;
  if (it_note && (n.vol_env.flags & 1)) {
    if (n.vol_env.ended && env_volume == 0) n.fade = 0, n.revive = -1;
    if (n.vol_env.ended) n.fading = -1;
  }
  if (ins && released && (!(n.vol_env.flags & 1) || (n.vol_env.flags & 4))) n.fading = -1;
  if (n.fading) n.fade -= ins ? ins->fadeout : 0;  // sample mode has no fade-out
  if (n.fade < 0) n.fade = 0;

  // Volume, pan and pitch.
  int volume = 0, pan = 128;
  long long hz = 0;
  bool pitched = it_note;  // the other families' voice keeps its pitch while they have none
  bool silent = false;
  if (it_note) {
    // Volume: note, sample, instrument, channel, global, envelope, fade, engine.
    const int tremolo = channel ? channel->volume_delta : 0;
    long double v = clamp_int(n.volume + tremolo, 0, 64) / 64.0L;
    v *= info->global_volume / 64.0L;
    if (ins) v *= ins->global_volume / 128.0L * n.random_volume / 100.0L;
    v *= (channel ? channel->channel_volume : n.channel_volume) / 64.0L;
    v *= p->mi.global_volume / 128.0L;
    v *= env_volume / (64.0L * 256);
    v *= n.fade / static_cast<long double>(FADE_FULL);
    if (n.channel >= 0 && n.channel < MODUX_MAX_CHANNELS && mod->channel_muted[n.channel]) v = 0;
    silent = v <= 0;
    v *= p->volume / 255.0L;
    // On Allegro's voices the mixing volume scales the voice (48 is full); the engine's mixer
    // takes it in the module's level instead, beyond full volume too.
    if (!p->on_mixer) v *= (mod->mix_volume > 0 ? mod->mix_volume : 48) / 48.0L;
    volume = clamp_int(static_cast<long long>(v * 255 + 0.5L), 0, 255);

    // Pan: the note's, moved by the envelope toward the nearer side, spread by the separation.
    pan = clamp_int(n.pan + (channel ? channel->pan_delta : 0), 0, 256);
    if (env_pan) pan += (pan < 128 ? pan : 256 - pan) * env_pan / (32 * 256);
    pan = 128 + (pan - 128) * mod->pan_separation / 128;
    // Allegro's voices have no surround: they play it centred.
    if (n.surround && !p->on_mixer) pan = 128;
    pan = clamp_int(pan, 0, 255);

    // Pitch: the note's, the channel's vibrato, the pitch envelope (half-semitones) unless it
    // drives the filter, the sample's auto-vibrato.
    const bool linear = (mod->rules & RULE_IT_LINEAR) != 0;
    const int delta = channel ? channel->period_delta : 0;
    int period = n.period;
    if (!linear && delta) it_slide(p, period, -delta);
    const bool pitch_env = (n.pitch_env.flags & 1) && !(n.pitch_env.flags & 128);
    const int vib =
        auto_vibrato(p, n.sample, n.vibrato_pos, n.vibrato_amp, n.vibrato_sweep, released);
    const double units = vib + (linear ? delta : 0) + (pitch_env ? env_pitch * 32 / 256.0 : 0);
    if ((n.pitch_env.flags & 1) && (n.pitch_env.flags & 128)) {
      n.filter_env = env_pitch;
      it_setup_filter(n, n.start != 0);
    }
    hz = static_cast<long long>(it_pitch_hz(p, period, units)) * p->mi.pitch_ratio / 100;
  } else {
    const int ch = static_cast<int>(channel - p->ci);
    volume = mod->channel_muted[ch] ? 0 : calc_volume(p, ch);
    pan = calc_pan(p, ch);
    // A note ProTracker delays keeps the pitch before it until it starts; under FT2 the note
    // before it plays on.
    if (voice >= 0 && channel->period > 0 &&
        (channel->delay_sample == 0 || mod_rule(p, RULE_FT2_TICK_COUNTS))) {
      const int vibrato =
          auto_vibrato(p, n.sample, n.vibrato_pos, n.vibrato_amp, n.vibrato_sweep, released);
      const int period = clamp_int(channel->tick_period + vibrato, 4, PERIOD_BOUND);
      hz = static_cast<long long>(period2pitch(p, period)) * p->mi.pitch_ratio / 100;
      pitched = true;
    }
  }

  n.loudness = volume;
  const bool start = it_note ? n.start != 0 : channel->start_voice == -1 && spl;
  if (voice >= 0) {
    if (pitched)
      modux_voice_set_frequency(p, voice, static_cast<int>(hz > 0x7FFFFFFF ? 0x7FFFFFFF : hz));
    modux_voice_set_volume(p, voice, volume);
    modux_voice_set_pan(p, voice, pan);
    modux_voice_set_surround(p, voice, n.surround);
    modux_voice_set_filter(p, voice, n.filter_on ? n.filter_cutoff : -1, n.filter_resonance);
    if (start) modux_voice_start(p, voice);
  }
  n.start = 0;
  if (!it_note) {
    channel->set_offset = 0;
    channel->swap_sample = 0;
    channel->start_voice = 0;
    if (n.key_off == -1 && ((n.vol_env.flags & 1) || mod_rule(p, RULE_FT2_EXACT))) {
      n.fade -= n.fadeout;
      if (n.fade < 0) n.fade = 0;
    }
    // The channel's note plays on, at volume 0 once faded out: the next note restarts its voice.
    return true;
  }
  // A note is over once faded out, or when its sample has played to its end; a background note
  // as soon as its volume is 0, which frees its voice.
  if (voice >= 0 && modux_voice_get_position(p, voice) < 0) n.revive = -1;
  if (n.fade == 0 || (!channel && silent) || n.revive) {
    n.active = 0;
    if (voice >= 0) modux_voice_stop(p, voice);
    return false;
  }
  return true;
}

void output_background(modux_player *p) {
  // Without the pool no note is in the background: the other families skip the 128 records.
  if (!p->pool_open) return;
  for (NOTE_STATE &b : p->background)
    if (b.active) output_note(p, b, nullptr);
}
