// Virtual voices: the notes that sound on voices of their own, the background pool and the new
// note actions.
// A channel's note (CHANNEL_STATE::sounding) plays on the channel's voice; a new note action can
// move it into the background, where it keeps a voice of the pool until its envelope or fade-out
// ends. The pool holds BACKGROUND_VOICES notes and gives up the quietest when full. Each tick every
// note's envelopes, fade, pitch and filter reach its voice here. Modules whose rules lack
// RULE_IT_VIRTUAL_VOICES open no pool: their notes are cut by the next one. Runs in the tick: no
// allocation except in voices_open/close.
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

bool output_note(modux_player *p, NOTE_STATE &n, const CHANNEL_STATE *channel) {
  MODUX *mod = p->of;
  if (!n.active) return false;
  const int voice = n.voice;
  SAMPLE *spl = note_sample(p, n);
  const IT_INSTRUMENT_INFO *ins =
      mod->it_instruments && n.instrument >= 0 && n.instrument < mod->instrument_count
          ? &mod->it_instruments[n.instrument]
          : nullptr;
  const SAMPLE_INFO *info = spl ? &mod->sample_info[n.sample] : nullptr;
  if (!spl || !info) {
    n.active = 0;
    if (voice >= 0) modux_voice_stop(p, voice);
    return false;
  }
  // Releasing the key leaves the sustain loop for the sample's own loop, at the same place; a
  // changed sample goes on from the place the voice has reached, from its start when that place
  // lies past its end.
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

  // Envelopes, in 1/256 of their units; sample mode has none.
  const int rules = mod->rules;
  const int env_volume = process_envelope(&n.vol_env, 64, n.key_off, rules);
  const int env_pan = process_envelope(&n.pan_env, 0, n.key_off, rules);
  const int env_pitch = process_envelope(&n.pitch_env, 0, n.key_off, rules);
  if (n.vol_env.flags & 1) {
    // Past the end of a volume envelope the note fades; at 0 it is over.
    if (n.vol_env.ended && env_volume == 0) n.fade = 0, n.revive = -1;
    if (n.vol_env.ended) n.fading = -1;
  }
  // A released note fades at once without a volume envelope or with a looping one.
  if (ins && n.key_off && (!(n.vol_env.flags & 1) || (n.vol_env.flags & 4))) n.fading = -1;
  if (n.fading) n.fade -= ins ? ins->fadeout : 0;  // sample mode has no fade-out
  if (n.fade < 0) n.fade = 0;

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
  const bool silent = v <= 0;
  v *= p->volume / 255.0L;
  // On Allegro's voices the mixing volume scales the voice (48 is full); the engine's mixer
  // takes it in the module's level instead, beyond full volume too.
  if (!p->on_mixer) v *= (mod->mix_volume > 0 ? mod->mix_volume : 48) / 48.0L;
  const int volume = clamp_int(static_cast<long long>(v * 255 + 0.5L), 0, 255);

  // Pan: the note's, moved by the envelope toward the nearer side, spread by the separation.
  int pan = clamp_int(n.pan + (channel ? channel->pan_delta : 0), 0, 256);
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
      auto_vibrato(p, n.sample, n.vibrato_pos, n.vibrato_amp, n.vibrato_sweep, n.key_off);
  const double units = vib + (linear ? delta : 0) + (pitch_env ? env_pitch * 32 / 256.0 : 0);
  if ((n.pitch_env.flags & 1) && (n.pitch_env.flags & 128)) {
    n.filter_env = env_pitch;
    it_setup_filter(n, n.start != 0);
  }
  const long long hz =
      static_cast<long long>(it_pitch_hz(p, period, units)) * p->mi.pitch_ratio / 100;

  n.loudness = volume;
  if (voice >= 0) {
    modux_voice_set_frequency(p, voice, static_cast<int>(hz > 0x7FFFFFFF ? 0x7FFFFFFF : hz));
    modux_voice_set_volume(p, voice, volume);
    modux_voice_set_pan(p, voice, pan);
    modux_voice_set_surround(p, voice, n.surround);
    modux_voice_set_filter(p, voice, n.filter_on ? n.filter_cutoff : -1, n.filter_resonance);
    if (n.start) modux_voice_start(p, voice);
  }
  n.start = 0;
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
  for (NOTE_STATE &b : p->background)
    if (b.active) output_note(p, b, nullptr);
}
