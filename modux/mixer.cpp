// modux mixer: the engine's own offline mixer.
// Virtual voices with Allegro's voice semantics (sample, frequency, volume, pan, position, loop
// and ping-pong play modes), mixed into 16-bit stereo with linear interpolation. Rendering a
// song to a file drives it instead of Allegro's voices; nothing here needs a sound device.
//
// Clicks: every change of a voice's volume or pan glides over MIXER_RAMP_FRAMES output frames; a
// voice that starts rises from silence over the same span. A voice that is stopped, given a new
// sample or moved to another position while it sounds hands its old sound to a tail voice, which
// fades it out over the same span while the voice itself begins afresh.
#include <climits>
#include <cmath>
#include <cstring>

#include "voice.h"

// Output level of one voice at volume 255: a voice panned fully to one side reaches half of
// full scale there, so a few loud channels together stay clear of the 16-bit limit.
static const float VOICE_LEVEL = 0.5f;

// Positions and steps are sample frames in 32.32 fixed point.
static const int FRACTION_BITS = 32;
static const long long ONE_FRAME = 1LL << FRACTION_BITS;

// Frames mixed in one pass over the voices (the float accumulator lives on the stack).
static const int BLOCK_FRAMES = 512;

static bool valid(MIXER_STATE *m, int voice) {
  return voice >= 0 && voice < MIXER_VOICES && m->voices[voice].sample;
}

static long long step_for(MIXER_STATE *m, int hz) {
  if (hz < 0) hz = 0;
  return (static_cast<long long>(hz) << FRACTION_BITS) / m->rate;
}

static void aim(MIXER_VOICE_STATE &v) {
  const float level = VOICE_LEVEL * v.volume / 255.0f;
  v.target[0] = level * (255 - v.pan) / 255.0f;
  v.target[1] = level * v.pan / 255.0f;
  if (v.target[0] == v.gain[0] && v.target[1] == v.gain[1]) {
    v.ramp = 0;  // the tick repeats unchanged settings every tick
    return;
  }
  for (int s = 0; s < 2; s++) v.slope[s] = (v.target[s] - v.gain[s]) / MIXER_RAMP_FRAMES;
  v.ramp = MIXER_RAMP_FRAMES;
}

static bool audible(const MIXER_VOICE_STATE &v) {
  return v.playing && (v.gain[0] != 0.0f || v.gain[1] != 0.0f);
}

// Moves what a voice sounds into its tail, fading out, and leaves the voice silent.
static void release(MIXER_VOICE_STATE &v, MIXER_VOICE_STATE &tail) {
  if (audible(v)) {
    tail = v;
    for (int s = 0; s < 2; s++) {
      tail.target[s] = 0.0f;
      tail.slope[s] = -tail.gain[s] / MIXER_RAMP_FRAMES;
    }
    tail.ramp = MIXER_RAMP_FRAMES;
  }
  v.gain[0] = v.gain[1] = 0.0f;
  v.ramp = 0;
}

void mixer_reset(MIXER_STATE *m, int rate) {
  if (rate < 1000) rate = 1000;
  if (rate > 384000) rate = 384000;
  m->rate = rate;
  std::memset(m->voices, 0, sizeof m->voices);
  std::memset(m->tails, 0, sizeof m->tails);
}

int mixer_rate(MIXER_STATE *m) { return m->rate; }

void mixer_reallocate(MIXER_STATE *m, int voice, SAMPLE *spl) {
  if (voice < 0 || voice >= MIXER_VOICES || !spl) return;
  MIXER_VOICE_STATE &v = m->voices[voice];
  if (v.sample) release(v, m->tails[voice]);
  // Allegro's defaults for a fresh voice: full volume, centre, the sample's own rate, no loop.
  v.sample = spl;
  v.playing = 0;
  v.ended = 0;
  v.playmode = PLAYMODE_PLAY;
  v.backwards = 0;
  v.position = 0;
  v.step = step_for(m, spl->freq);
  v.volume = 255;
  v.pan = 128;
  v.filter = 0;
  aim(v);
}

int mixer_allocate(MIXER_STATE *m, SAMPLE *spl) {
  if (!spl) return -1;
  for (int i = 0; i < MIXER_VOICES; i++) {
    if (m->voices[i].sample) continue;
    std::memset(&m->voices[i], 0, sizeof m->voices[i]);
    mixer_reallocate(m, i, spl);
    return i;
  }
  return -1;
}

void mixer_deallocate(MIXER_STATE *m, int voice) {
  if (!valid(m, voice)) return;
  release(m->voices[voice], m->tails[voice]);
  m->voices[voice].sample = nullptr;
  m->voices[voice].playing = 0;
}

void mixer_start(MIXER_STATE *m, int voice) {
  if (!valid(m, voice)) return;
  MIXER_VOICE_STATE &v = m->voices[voice];
  if (v.playing) return;
  v.playing = -1;
  v.ended = 0;
  v.gain[0] = v.gain[1] = 0.0f;
  aim(v);
}

void mixer_stop(MIXER_STATE *m, int voice) {
  if (!valid(m, voice)) return;
  release(m->voices[voice], m->tails[voice]);
  m->voices[voice].playing = 0;
}

void mixer_set_volume(MIXER_STATE *m, int voice, int volume) {
  if (!valid(m, voice)) return;
  m->voices[voice].volume = volume < 0 ? 0 : volume > 255 ? 255 : volume;
  aim(m->voices[voice]);
}

void mixer_set_pan(MIXER_STATE *m, int voice, int pan) {
  if (!valid(m, voice)) return;
  m->voices[voice].pan = pan < 0 ? 0 : pan > 255 ? 255 : pan;
  aim(m->voices[voice]);
}

void mixer_set_frequency(MIXER_STATE *m, int voice, int hz) {
  if (!valid(m, voice)) return;
  m->voices[voice].step = step_for(m, hz);
}

void mixer_set_position(MIXER_STATE *m, int voice, int frame) {
  if (!valid(m, voice)) return;
  MIXER_VOICE_STATE &v = m->voices[voice];
  if (v.playing) {
    // A jump inside a sounding voice: the old sound fades, the new position rises.
    release(v, m->tails[voice]);
    aim(v);
  }
  v.position = static_cast<long long>(frame < 0 ? 0 : frame) << FRACTION_BITS;
  v.backwards = 0;
  v.ended = 0;
}

// Coefficients of IT's two-pole resonant low-pass at the output rate: the cutoff (0..127)
// spans 130 Hz to about 5.1 kHz on a scale of 24 steps an octave, the resonance 0..127 up to
// 24 dB of damping. Cutoff 127 with resonance 0 leaves the sound unfiltered.
static void design_filter(const MIXER_STATE *m, MIXER_VOICE_STATE &v) {
  if (v.cutoff >= 127 && v.resonance <= 0) {
    v.filter = 0;
    return;
  }
  const double hz = 110.0 * std::pow(2.0, 0.25 + v.cutoff / 24.0);
  double fc = hz * 2.0 * M_PI / m->rate;
  if (fc > M_PI) fc = M_PI;
  const double damping = std::pow(10.0, -(24.0 / 128.0) * v.resonance / 20.0);
  double d = (1.0 - 2.0 * damping) * fc;
  if (d > 2.0) d = 2.0;
  d = (2.0 * damping - d) / fc;
  const double e = 1.0 / (fc * fc);
  const double norm = 1.0 + d + e;
  v.fa = static_cast<float>(1.0 / norm);
  v.fb = static_cast<float>((d + e + e) / norm);
  v.fc = static_cast<float>(-e / norm);
  if (!v.filter) v.y1[0] = v.y1[1] = v.y2[0] = v.y2[1] = 0.0f;
  v.filter = -1;
}

void mixer_set_filter(MIXER_STATE *m, int voice, int cutoff, int resonance) {
  if (!valid(m, voice)) return;
  MIXER_VOICE_STATE &v = m->voices[voice];
  cutoff = cutoff < 0 ? 0 : cutoff > 127 ? 127 : cutoff;
  resonance = resonance < 0 ? 0 : resonance > 127 ? 127 : resonance;
  if (v.filter && v.cutoff == cutoff && v.resonance == resonance) return;
  if (!v.filter && cutoff >= 127 && resonance <= 0) return;
  v.cutoff = cutoff;
  v.resonance = resonance;
  design_filter(m, v);
}

int mixer_get_position(MIXER_STATE *m, int voice) {
  if (!valid(m, voice) || m->voices[voice].ended) return -1;
  return static_cast<int>(m->voices[voice].position >> FRACTION_BITS);
}

void mixer_set_playmode(MIXER_STATE *m, int voice, int mode) {
  if (!valid(m, voice)) return;
  m->voices[voice].playmode = mode;
  if (!(mode & PLAYMODE_BIDIR)) m->voices[voice].backwards = 0;
}

// ---------------------------------------------------------------------------------------------
// Mixing
// ---------------------------------------------------------------------------------------------

// One frame of a sample as -1..1; Allegro keeps 8- and 16-bit data unsigned.
static inline float frame_value(const SAMPLE *spl, long i) {
  if (spl->bits == 8)
    return (static_cast<const unsigned char *>(spl->data)[i << spl->stereo] - 128) * (1.0f / 128);
  return (static_cast<const unsigned short *>(spl->data)[i << spl->stereo] - 32768) *
         (1.0f / 32768);
}

// The loop a voice plays now: [start, end) in frames; end 0 means no loop.
struct loop_span {
  long start;
  long end;
};

static loop_span loop_of(const MIXER_VOICE_STATE &v) {
  const long len = static_cast<long>(v.sample->len);
  if (!(v.playmode & PLAYMODE_LOOP)) return {0, 0};
  long start = static_cast<long>(v.sample->loop_start);
  long end = static_cast<long>(v.sample->loop_end);
  if (end > len) end = len;
  if (start < 0) start = 0;
  if (end <= start) return {0, 0};
  return {start, end};
}

// Interpolated, gain-weighted frames of a stretch where i and i + 1 are both inside the
// sample's data and the position moves by dir x step. T is the sample's data type.
template <typename T, int BITS>
static void run(MIXER_VOICE_STATE &v, float *acc, int n, long long step) {
  const T *data = static_cast<const T *>(v.sample->data);
  const int shift = v.sample->stereo ? 1 : 0;
  const float scale = 1.0f / (1 << (BITS - 1));
  const float bias = static_cast<float>(1 << (BITS - 1));
  long long pos = v.position;
  float gl = v.gain[0], gr = v.gain[1];
  const float sl = v.ramp ? v.slope[0] : 0.0f, sr = v.ramp ? v.slope[1] : 0.0f;
  for (int k = 0; k < n; k++) {
    const long i = static_cast<long>(pos >> FRACTION_BITS);
    const float f = static_cast<float>(pos & (ONE_FRAME - 1)) * (1.0f / ONE_FRAME);
    const float a = (data[i << shift] - bias) * scale;
    const float b = (data[(i + 1) << shift] - bias) * scale;
    const float s = a + (b - a) * f;
    acc[2 * k] += s * gl;
    acc[2 * k + 1] += s * gr;
    gl += sl;
    gr += sr;
    pos += step;
  }
  v.position = pos;
  v.gain[0] = gl;
  v.gain[1] = gr;
}

// Counts n frames of ramp; a finished ramp lands exactly on its target.
static void ramp_by(MIXER_VOICE_STATE &v, int n) {
  if (!v.ramp) return;
  v.ramp -= n;
  if (v.ramp <= 0) {
    v.ramp = 0;
    v.gain[0] = v.target[0];
    v.gain[1] = v.target[1];
  }
}

// Brings a position that ran past a loop boundary back inside the loop (several turns at once
// when the step is longer than the loop); stops a voice that ran off a sample without loop.
// Answers false when the voice stopped.
static bool fold(MIXER_VOICE_STATE &v, const loop_span &loop, long len) {
  const long long pos = v.position;
  if (!loop.end) {
    if (pos >= 0 && pos < static_cast<long long>(len) << FRACTION_BITS) return true;
    v.playing = 0;
    v.ended = -1;
    v.gain[0] = v.gain[1] = 0.0f;
    v.ramp = 0;
    return false;
  }
  const long long start = static_cast<long long>(loop.start) << FRACTION_BITS;
  const long long end = static_cast<long long>(loop.end) << FRACTION_BITS;
  if (pos >= start && pos < end) return true;
  if (pos < start && !v.backwards) return true;  // still before the loop start
  const long long span = end - start;
  if (!(v.playmode & PLAYMODE_BIDIR)) {
    v.position = start + (pos - start) % span;
    return true;
  }
  // Ping-pong: the position travels a path of two spans, out (0 .. span - 1) and back
  // (span .. 2 span - 1); a backward position is its mirror on the way back.
  long long off = v.backwards ? 2 * span - 1 - (pos - start) : pos - start;
  off %= 2 * span;
  if (off < span) {
    v.position = start + off;
    v.backwards = 0;
  } else {
    v.position = start + (2 * span - 1 - off);
    v.backwards = -1;
  }
  return true;
}

// Mixes n frames of one voice into acc.
static void mix_voice(MIXER_VOICE_STATE &v, float *acc, int n) {
  const long len = static_cast<long>(v.sample->len);
  if (len <= 0) {
    v.playing = 0;
    v.ended = -1;
    return;
  }
  const loop_span loop = loop_of(v);
  const bool bidir = loop.end && (v.playmode & PLAYMODE_BIDIR);
  while (n > 0 && v.playing) {
    if (!fold(v, loop, len)) return;
    const long long step = v.step;
    const long i = static_cast<long>(v.position >> FRACTION_BITS);
    // The last frame whose successor is still read from the data in this direction.
    const long last = (loop.end ? loop.end : len) - 2;
    int chunk = n;
    if (v.ramp && v.ramp < chunk) chunk = v.ramp;
    if (step == 0) {
      // A voice at 0 Hz holds its value.
    } else if (i > last) {
      chunk = 1;  // the boundary frame: its successor comes from the loop rule below
    } else if (!v.backwards) {
      const long long room = (static_cast<long long>(last + 1) << FRACTION_BITS) - v.position;
      const long long frames = (room + step - 1) / step;
      if (frames < chunk) chunk = static_cast<int>(frames);
    } else {
      const long long room = v.position - (static_cast<long long>(loop.start) << FRACTION_BITS);
      const long long frames = room / step + 1;
      if (frames < chunk) chunk = static_cast<int>(frames);
    }
    if (chunk < 1) chunk = 1;
    const long long signed_step = v.backwards ? -step : step;
    if (v.gain[0] == 0.0f && v.gain[1] == 0.0f && !v.ramp) {
      v.position += signed_step * chunk;  // silent: only time passes
    } else if (i > last && step != 0) {
      // Successor of the boundary frame: the loop start, the frame itself at a ping-pong turn,
      // silence past the end of a sample without loop.
      const float f = static_cast<float>(v.position & (ONE_FRAME - 1)) * (1.0f / ONE_FRAME);
      const float a = frame_value(v.sample, i);
      float b = 0.0f;
      if (bidir)
        b = a;
      else if (loop.end)
        b = frame_value(v.sample, loop.start);
      const float s = a + (b - a) * f;
      acc[0] += s * v.gain[0];
      acc[1] += s * v.gain[1];
      if (v.ramp) {
        v.gain[0] += v.slope[0];
        v.gain[1] += v.slope[1];
      }
      v.position += signed_step;
    } else if (step == 0) {
      const float s = frame_value(v.sample, i);
      for (int k = 0; k < chunk; k++) {
        acc[2 * k] += s * v.gain[0];
        acc[2 * k + 1] += s * v.gain[1];
        if (v.ramp) {
          v.gain[0] += v.slope[0];
          v.gain[1] += v.slope[1];
        }
      }
    } else if (v.sample->bits == 8) {
      run<unsigned char, 8>(v, acc, chunk, signed_step);
    } else {
      run<unsigned short, 16>(v, acc, chunk, signed_step);
    }
    ramp_by(v, chunk);
    acc += 2 * chunk;
    n -= chunk;
  }
}

// Mixes a filtered voice: its frames go through the filter on each side before joining acc.
// The filter is linear and the gains change slowly, so filtering after the gains is the same.
static void mix_filtered(MIXER_VOICE_STATE &v, float *acc, int n) {
  float own[BLOCK_FRAMES * 2];
  std::memset(own, 0, sizeof(float) * 2 * n);
  mix_voice(v, own, n);
  for (int s = 0; s < 2; s++) {
    float y1 = v.y1[s], y2 = v.y2[s];
    for (int k = 0; k < n; k++) {
      const float y = v.fa * own[2 * k + s] + v.fb * y1 + v.fc * y2;
      y2 = y1;
      y1 = y;
      acc[2 * k + s] += y;
    }
    v.y1[s] = y1;
    v.y2[s] = y2;
  }
}

static void mix_any(MIXER_VOICE_STATE &v, float *acc, int n) {
  if (v.filter)
    mix_filtered(v, acc, n);
  else
    mix_voice(v, acc, n);
}

// Mixes n frames (at most BLOCK_FRAMES) of every playing voice and tail into acc.
static void mix_block(MIXER_STATE *m, float *acc, int n) {
  std::memset(acc, 0, sizeof(float) * 2 * n);
  for (int i = 0; i < MIXER_VOICES; i++) {
    if (m->tails[i].playing && m->tails[i].sample) {
      // A tail lasts as long as its fade.
      const int fade = m->tails[i].ramp < n ? m->tails[i].ramp : n;
      mix_any(m->tails[i], acc, fade);
      if (m->tails[i].ramp == 0) m->tails[i].playing = 0;
    }
    if (m->voices[i].playing && m->voices[i].sample) mix_any(m->voices[i], acc, n);
  }
}

void mixer_mix(MIXER_STATE *m, short *out, int frames, float gain) {
  float acc[BLOCK_FRAMES * 2];
  const float scale = 32767.0f * gain;
  while (frames > 0) {
    const int n = frames < BLOCK_FRAMES ? frames : BLOCK_FRAMES;
    mix_block(m, acc, n);
    for (int k = 0; k < 2 * n; k++) {
      const float s = acc[k] * scale;
      out[k] = static_cast<short>(s >= 32767.0f    ? 32767
                                  : s <= -32768.0f ? -32768
                                                   : static_cast<int>(s + (s >= 0 ? 0.5f : -0.5f)));
    }
    out += 2 * n;
    frames -= n;
  }
}

void mixer_mix_float(MIXER_STATE *m, float *out, int frames, float gain) {
  while (frames > 0) {
    const int n = frames < BLOCK_FRAMES ? frames : BLOCK_FRAMES;
    mix_block(m, out, n);
    for (int k = 0; k < 2 * n; k++) {
      const float s = out[k] * gain;
      out[k] = s > 1.0f ? 1.0f : s < -1.0f ? -1.0f : s;
    }
    out += 2 * n;
    frames -= n;
  }
}

void mixer_silence(MIXER_STATE *m) {
  for (int i = 0; i < MIXER_VOICES; i++) {
    m->voices[i].playing = 0;
    m->voices[i].ended = -1;
    m->voices[i].gain[0] = m->voices[i].gain[1] = 0.0f;
    m->voices[i].ramp = 0;
    m->tails[i].playing = 0;
  }
}
