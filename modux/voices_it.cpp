// modux voices_it: the sounding notes of the IT family and the pool of background voices.
// A new note action moves a channel's note into the background, where it keeps its own voice
// until its envelope or fade-out ends; the pool holds BACKGROUND_VOICES notes and gives up
// the quietest when full. Each tick every note's envelopes, fade, pitch and filter reach its
// voice here. Runs in the tick: no allocation except in it_voices_open/close.
#include <cmath>

#include "modux_internal.h"
#include "voice.h"

// Linear pitch: 768 units an octave; unit 0 is this many Hz times 2^(-LINEAR_ZERO/768).
static const int LINEAR_OCTAVE = 768;
// Amiga periods are this over the frequency (1712 at 8363 Hz).
static const double AMIGA_CLOCK = 4.0 * MODUX_AMIGA_CLOCK;  // periods in quarter Amiga units
// Full fade, counted down by an instrument's fade-out each tick.
static const int FADE_FULL = 1024;

void it_voices_open(modux_player *p) {
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

void it_voices_close(modux_player *p) {
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

void it_voices_silence(modux_player *p) {
  if (!p->pool_open) return;
  for (NOTE_STATE &n : p->background) {
    if (n.voice >= 0 && n.active) {
      modux_voice_set_volume(p, n.voice, 0);
      modux_voice_stop(p, n.voice);
    }
    n.active = 0;
  }
}

int it_background_voices(modux_player *p) {
  int count = 0;
  if (!p->pool_open) return 0;
  for (const NOTE_STATE &n : p->background) count += n.voice >= 0;
  return count;
}

int it_background_sounding(modux_player *p) {
  int count = 0;
  if (!p->pool_open) return 0;
  for (const NOTE_STATE &n : p->background) count += n.voice >= 0 && n.active;
  return count;
}

NOTE_STATE *it_push_background(modux_player *p, int ch) {
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

// ---------------------------------------------------------------------------------------------
// Envelopes
// ---------------------------------------------------------------------------------------------

// The value of an envelope at a position, then the position one tick on (loops and the sustain
// loop while the key is held). `ended` tells whether the position has passed the last point.
static int envelope_value(const IT_ENVELOPE_INFO &e, int &pos, bool key_off, bool &ended) {
  ended = false;
  if (e.points <= 0) return 0;
  const int last = e.points - 1;
  int value = e.value[last];
  if (pos >= e.tick[last]) {
    ended = true;
  } else {
    for (int i = 0; i < last; i++) {
      if (pos >= e.tick[i] && pos < e.tick[i + 1]) {
        const int span = e.tick[i + 1] - e.tick[i];
        value =
            e.value[i] + (e.value[i + 1] - e.value[i]) * (pos - e.tick[i]) / (span > 0 ? span : 1);
        break;
      }
    }
    if (pos < e.tick[0]) value = e.value[0];
  }
  pos++;
  if ((e.flags & 4) && !key_off) {
    if (pos > e.tick[e.sustain_end]) pos = e.tick[e.sustain_start];
  } else if (e.flags & 2) {
    if (pos > e.tick[e.loop_end]) pos = e.tick[e.loop_start];
  }
  return value;
}

// ---------------------------------------------------------------------------------------------
// Output
// ---------------------------------------------------------------------------------------------

// Frequency in Hz of a pitch: a linear unit count, or an Amiga period.
static int pitch_hz(modux_player *p, long long period) {
  const MODUX *mod = p->of;
  if (period <= 0) return 0;
  if (mod->rules & RULE_IT_LINEAR) {
    const double hz = std::exp2(static_cast<double>(period) / LINEAR_OCTAVE);
    return hz > 2.0e9 ? 2000000000 : static_cast<int>(hz);
  }
  return clamp_int(static_cast<long long>(AMIGA_CLOCK / period), 0, 2000000000);
}

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

// Auto-vibrato of the sample, in linear units: sine, ramp down, square, random.
static int sample_auto_vibrato(const SAMPLE_INFO &s, NOTE_STATE &n) {
  if (s.vibrato_depth == 0) return 0;
  if (n.vibrato_sweep < s.vibrato_depth * 256)
    n.vibrato_sweep += s.vibrato_sweep ? s.vibrato_sweep : 256 * 64;
  const int depth = clamp_int(n.vibrato_sweep >> 8, 0, s.vibrato_depth);
  const double phase = (n.vibrato_pos & 255) / 256.0;
  double wave;
  switch (s.vibrato_type & 3) {
    case 1: wave = 1.0 - 2.0 * phase; break;
    case 2: wave = phase < 0.5 ? 1.0 : -1.0; break;
    case 3: wave = ((n.vibrato_pos * 1103515245 + 12345) >> 16 & 255) / 128.0 - 1.0; break;
    default: wave = std::sin(phase * 2 * M_PI); break;
  }
  n.vibrato_pos += s.vibrato_rate;
  return static_cast<int>(wave * depth);
}

bool it_output_note(modux_player *p, NOTE_STATE &n, const CHANNEL_STATE *channel) {
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
  // Releasing the key leaves the sustain loop for the sample's own loop, at the same place.
  if (n.sustain && n.key_off && voice >= 0 && !n.start) {
    const int at = modux_voice_get_position(p, voice);
    n.sustain = 0;
    spl = note_sample(p, n);
    if (at >= 0) {
      modux_voice_reallocate(p, voice, spl);
      set_loop(p, voice, info->loop_flags);
      modux_voice_set_position(p, voice, at);
      modux_voice_start(p, voice);
    }
  }
  if (n.start && voice >= 0) {
    modux_voice_reallocate(p, voice, spl);
    set_loop(p, voice, n.sustain ? info->sustain_flags : info->loop_flags);
    if (n.offset > 0)
      modux_voice_set_position(
          p, voice,
          n.offset < static_cast<int>(spl->len) ? n.offset : static_cast<int>(spl->len) - 1);
  }

  // Envelopes.
  int env_volume = 64, env_pan = 0, env_pitch = 0;
  bool ended = false;
  if (ins && n.vol_env_on) {
    env_volume = envelope_value(ins->vol_env, n.vol_pos, n.key_off, ended);
    // Past the end of a volume envelope the note fades; at 0 it is over.
    if (ended && env_volume == 0) n.fade = 0;
    if (ended && !(ins->vol_env.flags & 2)) n.fading = -1;
  }
  if (ins && n.pan_env_on) env_pan = envelope_value(ins->pan_env, n.pan_pos, n.key_off, ended);
  if (ins && n.pitch_env_on)
    env_pitch = envelope_value(ins->pitch_env, n.pitch_pos, n.key_off, ended);
  if (ins && n.key_off && (!n.vol_env_on || !(ins->vol_env.flags & 4))) n.fading = -1;
  if (n.fading) n.fade -= ins ? ins->fadeout : FADE_FULL;
  if (n.fade < 0) n.fade = 0;

  // Volume: note, sample, instrument, channel, global, envelope, fade, engine.
  const int tremolo = channel ? channel->volume_delta : 0;
  long double v = clamp_int(n.volume + tremolo, 0, 64) / 64.0L;
  v *= info->global_volume / 64.0L;
  if (ins) v *= ins->global_volume / 128.0L * n.random_volume / 100.0L;
  v *= (channel ? channel->channel_volume : n.channel_volume) / 64.0L;
  v *= p->mi.global_volume / 128.0L;
  v *= env_volume / 64.0L;
  v *= n.fade / static_cast<long double>(FADE_FULL);
  v *= p->volume / 255.0L * (mod->mix_volume > 0 ? mod->mix_volume : 48) / 48.0L;
  const int volume = clamp_int(static_cast<long long>(v * 255 + 0.5L), 0, 255);

  // Pan: the note's, moved by the envelope toward the nearer side, spread by the separation.
  int pan = clamp_int(n.pan + (channel ? channel->pan_delta : 0), 0, 256);
  if (env_pan) pan += (pan < 128 ? pan : 256 - pan) * env_pan / 32;
  pan = 128 + (pan - 128) * mod->pan_separation / 128;
  if (channel && channel->surround) pan = 128;
  pan = clamp_int(pan, 0, 255);

  // Pitch: the note's, the channel's vibrato, the pitch envelope (half-semitones) unless it
  // drives the filter, the sample's auto-vibrato.
  long long period = n.period + (channel ? channel->period_delta : 0);
  int cutoff = n.cutoff;
  const bool filter_env = ins && (ins->pitch_env.flags & 128);
  const int vib = sample_auto_vibrato(*info, n);
  if (mod->rules & RULE_IT_LINEAR) {
    period += vib;
    if (ins && n.pitch_env_on && !filter_env) period += env_pitch * 32;
  } else {
    period = static_cast<long long>(
        period *
        std::exp2(-(vib + (ins && n.pitch_env_on && !filter_env ? env_pitch * 32 : 0)) / 768.0));
  }
  if (filter_env && n.pitch_env_on) cutoff = clamp_int(cutoff * (env_pitch + 32) / 64, 0, 127);
  const long long hz = static_cast<long long>(pitch_hz(p, period)) * p->mi.pitch_ratio / 100;

  n.loudness = volume;
  if (voice >= 0) {
    modux_voice_set_frequency(p, voice, static_cast<int>(hz > 0x7FFFFFFF ? 0x7FFFFFFF : hz));
    modux_voice_set_volume(p, voice, volume);
    modux_voice_set_pan(p, voice, pan);
    modux_voice_set_filter(p, voice, cutoff, n.resonance);
    if (n.start) modux_voice_start(p, voice);
  }
  n.start = 0;
  // A note is over once faded out, or when its sample has played to its end.
  if (n.fade == 0 || (voice >= 0 && modux_voice_get_position(p, voice) < 0)) {
    n.active = 0;
    if (voice >= 0) modux_voice_stop(p, voice);
    return false;
  }
  return true;
}
