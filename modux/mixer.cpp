// modux mixer: the engine's own offline mixer.
// Virtual voices with Allegro's voice semantics (sample, frequency, volume, pan, position, loop
// and ping-pong play modes), mixed into 16-bit stereo through a choice of resamplers (linear
// interpolation by default). Rendering a song to a file drives it instead of Allegro's voices;
// nothing here needs a sound device.
//
// Clicks: every change of a voice's volume or pan glides over MIXER_RAMP_FRAMES output frames; a
// voice that starts rises from silence over the same span. A voice that is stopped, given a new
// sample or moved to another position while it sounds hands its old sound to a tail voice, which
// fades it out over the same span while the voice itself begins afresh.
//
// Speed: a voice reads the mixer's float copy of its sample; the frames of a stretch where every
// frame the resampler reads lies inside the sample or loop go through one tight loop, chosen by
// resampler, ramp and filter, and only the frames at a loop's or sample's end take the careful
// path. The mix visits only voices marked active. The linear path keeps the order of every
// floating-point operation of the plain arithmetic it replaces, so its output never changes.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define MIXER_AVX2 1
#endif

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

static void mark_active(MIXER_STATE *m, int voice) {
  m->active[voice >> 6] |= 1ULL << (voice & 63);
}

static long long step_for(MIXER_STATE *m, int hz) {
  if (hz < 0) hz = 0;
  return (static_cast<long long>(hz) << FRACTION_BITS) / m->rate;
}

static void aim(const MIXER_STATE *m, MIXER_VOICE_STATE &v) {
  const float level = VOICE_LEVEL * v.volume / 255.0f;
  if (v.surround) {
    // Both sides at the centre's left level, the right inverted: the sides cancel in their sum.
    v.target[0] = m->square_root_pan ? level * std::sqrt(128 / 256.0f) : level * 127 / 255.0f;
    v.target[1] = -v.target[0];
  } else if (m->square_root_pan) {
    // Each side's power follows the pan, so a centred voice sounds as loud as one at a side.
    v.target[0] = level * std::sqrt((256 - v.pan) / 256.0f);
    v.target[1] = level * std::sqrt(v.pan / 256.0f);
  } else {
    v.target[0] = level * (255 - v.pan) / 255.0f;
    v.target[1] = level * v.pan / 255.0f;
  }
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
static void release(MIXER_STATE *m, int voice) {
  MIXER_VOICE_STATE &v = m->voices[voice];
  MIXER_VOICE_STATE &tail = m->tails[voice];
  if (audible(v)) {
    tail = v;
    for (int s = 0; s < 2; s++) {
      tail.target[s] = 0.0f;
      tail.slope[s] = -tail.gain[s] / MIXER_RAMP_FRAMES;
    }
    tail.ramp = MIXER_RAMP_FRAMES;
    mark_active(m, voice);
  }
  v.gain[0] = v.gain[1] = 0.0f;
  v.ramp = 0;
}

// ---------------------------------------------------------------------------------------------
// The sample copies
// ---------------------------------------------------------------------------------------------

static void drop_copies(MIXER_STATE *m) {
  for (int i = 0; i < m->converted_count; i++) free(m->converted[i].frames);
  free(m->converted);
  m->converted = nullptr;
  m->converted_count = m->converted_size = 0;
}

MIXER_STATE::~MIXER_STATE() { drop_copies(this); }

// Room for one more copy in the list; false when memory runs out.
static bool make_room(MIXER_STATE *m) {
  if (m->converted_count < m->converted_size) return true;
  const int size = m->converted_size ? 2 * m->converted_size : 32;
  void *grown = realloc(m->converted, size * sizeof(MIXER_FRAMES_INFO));
  if (!grown) return false;
  m->converted = static_cast<MIXER_FRAMES_INFO *>(grown);
  m->converted_size = size;
  return true;
}

// The mixer's copy of a sample's first channel as -1..1, made on its first use (the sustain-loop
// samples of the IT family share their data with the plain ones, and so their copy); null when
// the sample has no frames or memory runs out, and the voice then stays silent.
static const float *frames_of(MIXER_STATE *m, const SAMPLE *spl) {
  if (!spl->data || spl->len == 0 || spl->len > static_cast<unsigned long>(INT_MAX)) return nullptr;
  const long len = static_cast<long>(spl->len);
  const int stereo = spl->stereo ? 1 : 0;
  for (int i = m->converted_count - 1; i >= 0; i--) {
    const MIXER_FRAMES_INFO &c = m->converted[i];
    if (!c.loop_end && c.data == spl->data && c.bits == spl->bits && c.stereo == stereo &&
        c.len == len)
      return c.frames;
  }
  if (!make_room(m)) return nullptr;
  float *frames = static_cast<float *>(malloc((len + 1) * sizeof(float)));
  if (!frames) return nullptr;
  // Exact values: (x - 128) / 128 and (x - 32768) / 32768 are floats without rounding.
  if (spl->bits == 8) {
    const unsigned char *d = static_cast<const unsigned char *>(spl->data);
    for (long i = 0; i < len; i++) frames[i] = (d[i << stereo] - 128.0f) * (1.0f / 128);
  } else {
    const unsigned short *d = static_cast<const unsigned short *>(spl->data);
    for (long i = 0; i < len; i++) frames[i] = (d[i << stereo] - 32768.0f) * (1.0f / 32768);
  }
  frames[len] = 0.0f;
  m->converted[m->converted_count++] = {spl->data, spl->bits, stereo, len, frames, 0, 0, 0};
  return frames;
}

// ---------------------------------------------------------------------------------------------
// Voice control
// ---------------------------------------------------------------------------------------------

void mixer_reset(MIXER_STATE *m, int rate) {
  if (rate < 1000) rate = 1000;
  if (rate > 384000) rate = 384000;
  m->rate = rate;
  std::memset(m->voices, 0, sizeof m->voices);
  std::memset(m->tails, 0, sizeof m->tails);
  std::memset(m->active, 0, sizeof m->active);
  drop_copies(m);
}

int mixer_rate(MIXER_STATE *m) { return m->rate; }

void mixer_set_resampler(MIXER_STATE *m, int resampler) {
  if (resampler >= MIXER_LINEAR && resampler <= MIXER_SINC) m->resampler = resampler;
}

void mixer_set_square_root_pan(MIXER_STATE *m, int on) { m->square_root_pan = on ? -1 : 0; }

void mixer_reallocate(MIXER_STATE *m, int voice, SAMPLE *spl) {
  if (voice < 0 || voice >= MIXER_VOICES || !spl) return;
  MIXER_VOICE_STATE &v = m->voices[voice];
  if (v.sample) release(m, voice);
  // Allegro's defaults for a fresh voice: full volume, centre, the sample's own rate, no loop.
  v.sample = spl;
  v.frames = frames_of(m, spl);
  v.image = nullptr;
  v.playing = 0;
  v.ended = 0;
  v.playmode = PLAYMODE_PLAY;
  v.backwards = 0;
  v.looped = 0;
  v.swap = 0;
  v.position = 0;
  v.step = step_for(m, spl->freq);
  v.volume = 255;
  v.pan = 128;
  v.surround = 0;
  v.filter = 0;
  aim(m, v);
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
  release(m, voice);
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
  aim(m, v);
  mark_active(m, voice);
}

void mixer_stop(MIXER_STATE *m, int voice) {
  if (!valid(m, voice)) return;
  release(m, voice);
  m->voices[voice].playing = 0;
}

void mixer_set_volume(MIXER_STATE *m, int voice, int volume) {
  if (!valid(m, voice)) return;
  m->voices[voice].volume = volume < 0 ? 0 : volume > 255 ? 255 : volume;
  aim(m, m->voices[voice]);
}

void mixer_set_pan(MIXER_STATE *m, int voice, int pan) {
  if (!valid(m, voice)) return;
  m->voices[voice].pan = pan < 0 ? 0 : pan > 255 ? 255 : pan;
  aim(m, m->voices[voice]);
}

void mixer_set_surround(MIXER_STATE *m, int voice, int on) {
  if (!valid(m, voice) || (m->voices[voice].surround != 0) == (on != 0)) return;
  m->voices[voice].surround = on ? -1 : 0;
  aim(m, m->voices[voice]);
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
    release(m, voice);
    aim(m, v);
  }
  v.position = static_cast<long long>(frame < 0 ? 0 : frame) << FRACTION_BITS;
  v.backwards = 0;
  v.looped = 0;
  v.ended = 0;
}

// Coefficients of IT's two-pole resonant low-pass at the output rate: the cutoff (0..65024,
// 12288 steps an octave) spans 130 Hz up, the resonance 0..127 up to 24 dB of damping.
static void design_filter(const MIXER_STATE *m, MIXER_VOICE_STATE &v) {
  double hz = 110.0 * std::pow(2.0, 0.25 + v.cutoff / 12288.0);
  if (hz < 120.0) hz = 120.0;
  if (hz > 20000.0) hz = 20000.0;
  if (hz > m->rate / 2.0) hz = m->rate / 2.0;
  const double damping = std::pow(10.0, -(24.0 / 128.0) * v.resonance / 20.0);
  const double r = m->rate / (2.0 * M_PI * hz);
  const double d = damping * r + damping - 1.0;
  const double e = r * r;
  const double norm = 1.0 + d + e;
  v.fa = static_cast<float>(1.0 / norm);
  v.fb = static_cast<float>((d + e + e) / norm);
  v.fc = static_cast<float>(-e / norm);
}

void mixer_set_filter(MIXER_STATE *m, int voice, int cutoff, int resonance) {
  if (!valid(m, voice)) return;
  MIXER_VOICE_STATE &v = m->voices[voice];
  if (cutoff < 0) {
    v.filter = 0;
    return;
  }
  cutoff = cutoff > MIXER_CUTOFF_MAX ? MIXER_CUTOFF_MAX : cutoff;
  resonance = resonance < 0 ? 0 : resonance > 127 ? 127 : resonance;
  if (v.filter && v.cutoff == cutoff && v.resonance == resonance) return;
  // A filter switched on starts from silence; one already running keeps its memory.
  if (!v.filter) v.y1 = v.y2 = 0.0f;
  v.filter = -1;
  v.cutoff = cutoff;
  v.resonance = resonance;
  design_filter(m, v);
}

int mixer_get_position(MIXER_STATE *m, int voice) {
  if (!valid(m, voice) || m->voices[voice].ended) return -1;
  return static_cast<int>(m->voices[voice].position >> FRACTION_BITS);
}

void mixer_swap_at_loop_end(MIXER_STATE *m, int voice, SAMPLE *spl, int mode) {
  if (!valid(m, voice)) return;
  MIXER_VOICE_STATE &v = m->voices[voice];
  v.swap = -1;
  v.swap_sample = spl;
  v.swap_frames = spl ? frames_of(m, spl) : nullptr;
  v.swap_playmode = mode;
}

void mixer_set_playmode(MIXER_STATE *m, int voice, int mode) {
  if (!valid(m, voice)) return;
  m->voices[voice].playmode = mode;
  if (!(mode & PLAYMODE_BIDIR)) m->voices[voice].backwards = 0;
}

// ---------------------------------------------------------------------------------------------
// Windowed-sinc tables
// ---------------------------------------------------------------------------------------------

// A kernel for voices whose step is at most `ratio` frames per output frame, SINC_PHASES
// positions between two frames, each row the taps and their change towards the next row.
// Up to a step of 1 (the sample read at its rate or slower): 8 taps, cutoff at half the sample's
// rate, a Kaiser window of beta 9 (side lobes near -90 dB). Faster, the output's half rate is the
// limit: the cutoff falls to 0.88 of it seen from the sample, and the kernel widens to 16 output
// frames (beta 8), so a tone above half the output rate is 84 dB down or more instead of folding
// back, while one at 0.3 of the output rate (13 kHz at 44.1 kHz) passes within 0.5 dB.
static const int SINC_PHASE_BITS = 10;
static const int SINC_PHASES = 1 << SINC_PHASE_BITS;
static const int SINC_CLASSES = 13;  // ratios 2^(c/4): 1 to 8
static const int SINC_MAX_TAPS = 128;
static_assert(MIXER_IMAGE_PAD >= SINC_MAX_TAPS / 2, "a loop image holds the widest reach");

struct sinc_table {
  int taps;
  float *rows;  // SINC_PHASES rows of 2 x taps
};

static sinc_table sinc_tables[SINC_CLASSES];
static std::once_flag sinc_built[SINC_CLASSES];

static double bessel_i0(double x) {
  double sum = 1.0, term = 1.0;
  for (int k = 1; k < 40 && term > 1e-12 * sum; k++) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
  }
  return sum;
}

static void build_sinc(int c) {
  sinc_table &t = sinc_tables[c];
  const double ratio = std::pow(2.0, c / 4.0);
  t.taps = c == 0 ? 8 : 8 * static_cast<int>(std::ceil(16 * ratio / 8 - 1e-9));
  if (t.taps > SINC_MAX_TAPS) t.taps = SINC_MAX_TAPS;
  const double cut = c == 0 ? 1.0 : 0.88 / ratio, beta = c == 0 ? 9.0 : 8.0;
  const int half = t.taps / 2;
  const double norm_beta = bessel_i0(beta);
  std::vector<double> row((SINC_PHASES + 1) * t.taps);
  // The kernel is even: position p / SINC_PHASES reads the taps of (SINC_PHASES - p) backwards,
  // so half of the rows are computed.
  for (int p = 0; p <= SINC_PHASES / 2; p++) {
    double sum = 0;
    for (int k = 0; k < t.taps; k++) {
      // Tap k reads frame i - (half - 1) + k; the position is i + p / SINC_PHASES.
      const double d = (k - (half - 1)) - static_cast<double>(p) / SINC_PHASES;
      const double x = d / half;
      double h = 0;
      if (x > -1.0 && x < 1.0) {
        const double a = M_PI * d * cut;
        h = (a == 0 ? 1.0 : std::sin(a) / a) * bessel_i0(beta * std::sqrt(1 - x * x)) / norm_beta;
      }
      row[p * t.taps + k] = h;
      sum += h;
    }
    for (int k = 0; k < t.taps; k++) row[p * t.taps + k] /= sum;  // a steady level passes as is
  }
  for (int p = SINC_PHASES / 2 + 1; p <= SINC_PHASES; p++)
    for (int k = 0; k < t.taps; k++)
      row[p * t.taps + k] = row[(SINC_PHASES - p) * t.taps + (t.taps - 1 - k)];
  t.rows = static_cast<float *>(malloc(sizeof(float) * 2 * t.taps * SINC_PHASES));
  if (!t.rows) return;
  for (int p = 0; p < SINC_PHASES; p++)
    for (int k = 0; k < t.taps; k++) {
      t.rows[2 * t.taps * p + k] = static_cast<float>(row[p * t.taps + k]);
      t.rows[2 * t.taps * p + t.taps + k] =
          static_cast<float>(row[(p + 1) * t.taps + k] - row[p * t.taps + k]);
    }
}

// The table for a step, built on its first use; null when memory ran out.
static const sinc_table *sinc_for(long long step) {
  static const std::vector<long long> limits = [] {
    std::vector<long long> l;
    for (int c = 0; c < SINC_CLASSES; c++)
      l.push_back(std::llround(std::pow(2.0, c / 4.0) * ONE_FRAME));
    return l;
  }();
  int c = 0;
  while (c < SINC_CLASSES - 1 && step > limits[c]) c++;
  std::call_once(sinc_built[c], build_sinc, c);
  return sinc_tables[c].rows ? &sinc_tables[c] : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Mixing
// ---------------------------------------------------------------------------------------------

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

// A voice's filter while it mixes one stretch, kept in registers.
struct filter_run {
  float fa, fb, fc;
  float y1, y2;
};

// The filter's memory is held to twice the sample's range, so that a filter on the edge of
// oscillating stays bounded.
static inline float clip_memory(float y) { return y < -2.0f ? -2.0f : y > 2.0f ? 2.0f : y; }

// Adds one frame of a voice, its value s weighted by the gains gl and gr, to acc; the value
// passes through the voice's filter first when FILTER.
template <bool FILTER>
static inline void put(float *acc, float s, float gl, float gr, filter_run &f) {
  if (FILTER) {
    const float y = f.fa * s + f.fb * clip_memory(f.y1) + f.fc * clip_memory(f.y2);
    f.y2 = f.y1;
    f.y1 = y;
    s = y;
  }
  acc[0] += s * gl;
  acc[1] += s * gr;
}

// n frames of a voice at a held value s (gains ramping when RAMP).
template <bool RAMP, bool FILTER>
static void hold(MIXER_VOICE_STATE &v, float *acc, int n, float s, filter_run &f) {
  float gl = v.gain[0], gr = v.gain[1];
  for (int k = 0; k < n; k++) {
    put<FILTER>(acc + 2 * k, s, gl, gr, f);
    if (RAMP) {
      gl += v.slope[0];
      gr += v.slope[1];
    }
  }
  v.gain[0] = gl;
  v.gain[1] = gr;
}

// The filter's memory running on while the voice adds nothing (silent or stopped).
static void ring(float *acc, int n, filter_run &f) {
  for (int k = 0; k < n; k++) put<true>(acc + 2 * k, 0.0f, 0.0f, 0.0f, f);
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

// A voice past its loop's end or its sample's end (by `over`) continues in the loop of the sample
// waiting to swap in; answers false when that sample has no loop (or no frames): the voice
// falls silent.
static bool swap_in(MIXER_VOICE_STATE &v, long long over, loop_span &loop, long &len) {
  v.swap = 0;
  if (v.swap_sample && v.swap_frames) {
    v.sample = v.swap_sample;
    v.frames = v.swap_frames;
    v.playmode = v.swap_playmode;
    v.image = nullptr;
    v.looped = -1;
    v.backwards = 0;
    len = static_cast<long>(v.sample->len);
    loop = loop_of(v);
    v.position = (static_cast<long long>(loop.start) << FRACTION_BITS) + over;
  }
  if (v.swap_sample && v.swap_frames && loop.end) return true;
  v.playing = 0;
  v.ended = -1;
  v.gain[0] = v.gain[1] = 0.0f;
  v.ramp = 0;
  return false;
}

// Brings a position that ran past a loop boundary back inside the loop (several turns at once
// when the step is longer than the loop); stops a voice that ran off a sample without loop.
// A sample waiting to swap in takes over at either end. Answers false when the voice stopped.
static bool fold(MIXER_VOICE_STATE &v, loop_span &loop, long &len) {
  const long long pos = v.position;
  const long long stop = static_cast<long long>(loop.end ? loop.end : len) << FRACTION_BITS;
  if (v.swap && !v.backwards && pos >= stop) {
    if (!swap_in(v, pos - stop, loop, len)) return false;
    return fold(v, loop, len);
  }
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
  v.looped = -1;
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

// --- Linear interpolation ---------------------------------------------------------------------

// Interpolated, gain-weighted frames of a stretch where i and i + 1 are both inside the
// sample's data and the position moves by step (negative backwards).
template <bool RAMP, bool FILTER>
static void run_linear(MIXER_VOICE_STATE &v, float *acc, int n, long long step, filter_run &fr) {
  const float *data = v.frames;
  long long pos = v.position;
  float gl = v.gain[0], gr = v.gain[1];
  const float sl = v.slope[0], sr = v.slope[1];
  for (int k = 0; k < n; k++) {
    const long i = static_cast<long>(pos >> FRACTION_BITS);
    const float f = static_cast<float>(pos & (ONE_FRAME - 1)) * (1.0f / ONE_FRAME);
    const float a = data[i];
    const float b = data[i + 1];
    const float s = a + (b - a) * f;
    put<FILTER>(acc + 2 * k, s, gl, gr, fr);
    if (RAMP) {
      gl += sl;
      gr += sr;
    }
    pos += step;
  }
  v.position = pos;
  v.gain[0] = gl;
  v.gain[1] = gr;
}

// Mixes n frames of one voice into acc with linear interpolation.
template <bool FILTER>
static void mix_linear(MIXER_VOICE_STATE &v, float *acc, int n, filter_run &fr) {
  long len = static_cast<long>(v.sample->len);
  loop_span loop = loop_of(v);
  while (n > 0 && v.playing) {
    if (!fold(v, loop, len)) break;
    const bool bidir = loop.end && (v.playmode & PLAYMODE_BIDIR);
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
      if (FILTER) ring(acc, chunk, fr);
    } else if (i > last && step != 0) {
      // Successor of the boundary frame: the loop start, the frame itself at a ping-pong turn,
      // silence past the end of a sample without loop.
      const float f = static_cast<float>(v.position & (ONE_FRAME - 1)) * (1.0f / ONE_FRAME);
      const float a = v.frames[i];
      float b = 0.0f;
      if (bidir)
        b = a;
      else if (loop.end)
        b = v.frames[loop.start];
      const float s = a + (b - a) * f;
      put<FILTER>(acc, s, v.gain[0], v.gain[1], fr);
      if (v.ramp) {
        v.gain[0] += v.slope[0];
        v.gain[1] += v.slope[1];
      }
      v.position += signed_step;
    } else if (step == 0) {
      if (v.ramp)
        hold<true, FILTER>(v, acc, chunk, v.frames[i], fr);
      else
        hold<false, FILTER>(v, acc, chunk, v.frames[i], fr);
    } else if (v.ramp) {
      run_linear<true, FILTER>(v, acc, chunk, signed_step, fr);
    } else {
      run_linear<false, FILTER>(v, acc, chunk, signed_step, fr);
    }
    ramp_by(v, chunk);
    acc += 2 * chunk;
    n -= chunk;
  }
  if (FILTER) ring(acc, n, fr);
}

// --- Nearest, cubic and windowed sinc ---------------------------------------------------------

// The frame a resampler reads at index j, which may lie outside the sample: past a loop's end
// (or before its start once the voice went round it) the loop continues (a ping-pong loop
// mirrored); outside a sample without loop, silence.
static float frame_at(const MIXER_VOICE_STATE &v, const loop_span &loop, long len, long j) {
  if (loop.end && (j >= loop.end || (v.looped && j < loop.start))) {
    const long span = loop.end - loop.start;
    if (v.playmode & PLAYMODE_BIDIR) {
      long off = (j - loop.start) % (2 * span);
      if (off < 0) off += 2 * span;
      j = off < span ? loop.start + off : loop.start + (2 * span - 1 - off);
    } else {
      long off = (j - loop.start) % span;
      if (off < 0) off += span;
      j = loop.start + off;
    }
  }
  return j >= 0 && j < len ? v.frames[j] : 0.0f;
}

// Frames of a loop's image: the loop, repeated to at least MIXER_IMAGE_RUN frames so that a
// voice reads a long stretch of a tiny loop in one run, with the pads on both sides.
static long image_frames(const loop_span &loop) {
  return std::max(loop.end - loop.start, static_cast<long>(MIXER_IMAGE_RUN)) + 2 * MIXER_IMAGE_PAD;
}

// The image of the short loop a voice goes round, made on its first use; null for a long loop
// (its ends are a small part of it) or when memory runs out: the voice then reads its ends
// frame by frame.
static const float *image_of(MIXER_STATE *m, MIXER_VOICE_STATE &v, const loop_span &loop,
                             long len) {
  const int bidir = v.playmode & PLAYMODE_BIDIR ? -1 : 0;
  if (v.image && v.image_start == loop.start && v.image_end == loop.end && v.image_bidir == bidir)
    return v.image;
  v.image = nullptr;
  const long span = loop.end - loop.start;
  if (span > MIXER_IMAGE_LOOPS) return nullptr;
  for (int i = 0; i < m->converted_count && !v.image; i++) {
    const MIXER_FRAMES_INFO &c = m->converted[i];
    if (c.loop_end == loop.end && c.data == v.frames && c.loop_start == loop.start &&
        c.bidir == bidir)
      v.image = c.frames;
  }
  if (!v.image) {
    const long frames = image_frames(loop);
    float *image = make_room(m) ? static_cast<float *>(malloc(frames * sizeof(float))) : nullptr;
    if (!image) return nullptr;
    for (long k = 0; k < frames; k++)
      image[k] = frame_at(v, loop, len, loop.start - MIXER_IMAGE_PAD + k);
    m->converted[m->converted_count++] = {v.frames, 0,          0,        frames,
                                          image,    loop.start, loop.end, bidir};
    v.image = image;
  }
  v.image_start = loop.start, v.image_end = loop.end, v.image_bidir = bidir;
  return v.image;
}

// One resampled value from the frames x[0 ..], x[before] being the frame under the position
// and frac32 the position's fraction (32 bits).
template <int KIND>
static inline float resample(const float *x, unsigned frac32, const sinc_table *t) {
  if (KIND == MIXER_NEAREST) return x[0];
  if (KIND == MIXER_CUBIC) {
    // Catmull-Rom spline through x[0..3], between x[1] and x[2].
    const float f = static_cast<float>(frac32) * (1.0f / ONE_FRAME);
    const float xm1 = x[0], x0 = x[1], x1 = x[2], x2 = x[3];
    return x0 +
           0.5f * f *
               (x1 - xm1 +
                f * (2.0f * xm1 - 5.0f * x0 + 4.0f * x1 - x2 + f * (3.0f * (x0 - x1) + x2 - xm1)));
  }
  const int taps = t->taps;
  const unsigned phase = frac32 >> (32 - SINC_PHASE_BITS);
  const float u = static_cast<float>(frac32 & ((1u << (32 - SINC_PHASE_BITS)) - 1)) *
                  (1.0f / (1u << (32 - SINC_PHASE_BITS)));
  const float *row = t->rows + 2 * taps * phase;
#ifdef __SSE2__
  const __m128 uu = _mm_set1_ps(u);
  __m128 sum0 = _mm_setzero_ps(), sum1 = _mm_setzero_ps();
  for (int k = 0; k < taps; k += 8) {
    const __m128 c0 =
        _mm_add_ps(_mm_loadu_ps(row + k), _mm_mul_ps(_mm_loadu_ps(row + taps + k), uu));
    const __m128 c1 =
        _mm_add_ps(_mm_loadu_ps(row + k + 4), _mm_mul_ps(_mm_loadu_ps(row + taps + k + 4), uu));
    sum0 = _mm_add_ps(sum0, _mm_mul_ps(c0, _mm_loadu_ps(x + k)));
    sum1 = _mm_add_ps(sum1, _mm_mul_ps(c1, _mm_loadu_ps(x + k + 4)));
  }
  sum0 = _mm_add_ps(sum0, sum1);
  sum0 = _mm_add_ps(sum0, _mm_movehl_ps(sum0, sum0));
  sum0 = _mm_add_ss(sum0, _mm_shuffle_ps(sum0, sum0, 1));
  return _mm_cvtss_f32(sum0);
#else
  float sum = 0.0f;
  for (int k = 0; k < taps; k++) sum += (row[k] + row[taps + k] * u) * x[k];
  return sum;
#endif
}

// Frames before and after the one under the position that a resampler reads.
static void reach(int kind, const sinc_table *t, int &before, int &after) {
  before = kind == MIXER_CUBIC ? 1 : kind == MIXER_SINC ? t->taps / 2 - 1 : 0;
  after = kind == MIXER_CUBIC ? 2 : kind == MIXER_SINC ? t->taps / 2 : 0;
}

// Resampled, gain-weighted frames of a stretch where every frame read lies inside the data.
// Frame i of the sample is data[i - shift], shift in 32.32.
template <int KIND, bool RAMP, bool FILTER>
static void run_kind(MIXER_VOICE_STATE &v, const float *data, long long shift, float *acc, int n,
                     long long step, int before, const sinc_table *t, filter_run &fr) {
  long long pos = v.position - shift;
  float gl = v.gain[0], gr = v.gain[1];
  const float sl = v.slope[0], sr = v.slope[1];
  for (int k = 0; k < n; k++) {
    const float s =
        resample<KIND>(data + ((pos >> FRACTION_BITS) - before), static_cast<unsigned>(pos), t);
    put<FILTER>(acc + 2 * k, s, gl, gr, fr);
    if (RAMP) {
      gl += sl;
      gr += sr;
    }
    pos += step;
  }
  v.position = pos + shift;
  v.gain[0] = gl;
  v.gain[1] = gr;
}

#ifdef MIXER_AVX2
// The sinc run on processors with AVX2 and FMA: eight taps a step, each tap's weight and its
// product in one fused multiply-add (rounding a little differently from the plain run).
template <bool RAMP, bool FILTER>
__attribute__((target("avx2,fma"))) static void run_sinc_avx2(MIXER_VOICE_STATE &v,
                                                              const float *data, long long shift,
                                                              float *acc, int n, long long step,
                                                              int before, const sinc_table *t,
                                                              filter_run &fr) {
  long long pos = v.position - shift;
  float gl = v.gain[0], gr = v.gain[1];
  const float sl = v.slope[0], sr = v.slope[1];
  const int taps = t->taps;
  for (int k = 0; k < n; k++) {
    const float *x = data + ((pos >> FRACTION_BITS) - before);
    const unsigned frac32 = static_cast<unsigned>(pos);
    const float *row = t->rows + 2 * taps * (frac32 >> (32 - SINC_PHASE_BITS));
    const __m256 u =
        _mm256_set1_ps(static_cast<float>(frac32 & ((1u << (32 - SINC_PHASE_BITS)) - 1)) *
                       (1.0f / (1u << (32 - SINC_PHASE_BITS))));
    __m256 sum = _mm256_setzero_ps();
    for (int j = 0; j < taps; j += 8) {
      const __m256 w =
          _mm256_fmadd_ps(_mm256_loadu_ps(row + taps + j), u, _mm256_loadu_ps(row + j));
      sum = _mm256_fmadd_ps(w, _mm256_loadu_ps(x + j), sum);
    }
    __m128 s4 = _mm_add_ps(_mm256_castps256_ps128(sum), _mm256_extractf128_ps(sum, 1));
    s4 = _mm_add_ps(s4, _mm_movehl_ps(s4, s4));
    const float s = _mm_cvtss_f32(_mm_add_ss(s4, _mm_shuffle_ps(s4, s4, 1)));
    put<FILTER>(acc + 2 * k, s, gl, gr, fr);
    if (RAMP) {
      gl += sl;
      gr += sr;
    }
    pos += step;
  }
  v.position = pos + shift;
  v.gain[0] = gl;
  v.gain[1] = gr;
}

static bool has_avx2() {
  static const bool yes = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return yes;
}
#endif

// Mixes n frames of one voice into acc through the resampler KIND.
template <int KIND, bool FILTER>
static void mix_kind(MIXER_STATE *m, MIXER_VOICE_STATE &v, float *acc, int n, filter_run &fr) {
  long len = static_cast<long>(v.sample->len);
  loop_span loop = loop_of(v);
  float gathered[SINC_MAX_TAPS];
  while (n > 0 && v.playing) {
    if (!fold(v, loop, len)) break;
    const long long step = v.step;
    const sinc_table *t = KIND == MIXER_SINC ? sinc_for(step) : nullptr;
    if (KIND == MIXER_SINC && !t) {
      mix_linear<FILTER>(v, acc, n, fr);  // no memory for the table
      return;
    }
    int before, after;
    reach(KIND, t, before, after);
    const long i = static_cast<long>(v.position >> FRACTION_BITS);
    // Where the frames are read as they are: the sample's copy (inside the loop once the voice
    // went round it), or the image of a short loop the voice goes round.
    const float *data = v.frames;
    long long shift = 0;
    long low = loop.end && v.looped ? loop.start : 0;
    long high = (loop.end ? loop.end : len) - 1;
    if (loop.end && v.looped && image_of(m, v, loop, len)) {
      data = v.image;
      low = loop.start - MIXER_IMAGE_PAD;
      high = low + image_frames(loop) - 1;
      shift = static_cast<long long>(low) * ONE_FRAME;  // low may be below 0
    }
    const bool inside = i - before >= low && i + after <= high;
    int chunk = n;
    if (v.ramp && v.ramp < chunk) chunk = v.ramp;
    if (step == 0) {
      // A voice at 0 Hz holds its value.
    } else if (!inside) {
      chunk = 1;  // a frame near a boundary reads through the loop rule
    } else if (!v.backwards) {
      // Up to the last frame whose reach is inside (past a loop's end only in its image).
      const long long limit = static_cast<long long>(high - after + 1) * ONE_FRAME;
      const long long frames = (limit - v.position + step - 1) / step;
      if (frames < chunk) chunk = static_cast<int>(frames);
    } else {
      const long long limit = static_cast<long long>(low + before) * ONE_FRAME;
      const long long frames = (v.position - limit) / step + 1;
      if (frames < chunk) chunk = static_cast<int>(frames);
    }
    if (chunk < 1) chunk = 1;
    const long long signed_step = v.backwards ? -step : step;
    if (v.gain[0] == 0.0f && v.gain[1] == 0.0f && !v.ramp) {
      v.position += signed_step * chunk;
      if (FILTER) ring(acc, chunk, fr);
    } else if (!inside || step == 0) {
      const float *x = gathered;
      if (inside)
        x = data + (((v.position - shift) >> FRACTION_BITS) - before);
      else
        for (int k = 0; k < before + after + 1; k++)
          gathered[k] = frame_at(v, loop, len, i - before + k);
      const float s = resample<KIND>(x, static_cast<unsigned>(v.position), t);
      if (v.ramp)
        hold<true, FILTER>(v, acc, chunk, s, fr);
      else
        hold<false, FILTER>(v, acc, chunk, s, fr);
      v.position += step ? signed_step : 0;
#ifdef MIXER_AVX2
    } else if (KIND == MIXER_SINC && has_avx2()) {
      if (v.ramp)
        run_sinc_avx2<true, FILTER>(v, data, shift, acc, chunk, signed_step, before, t, fr);
      else
        run_sinc_avx2<false, FILTER>(v, data, shift, acc, chunk, signed_step, before, t, fr);
#endif
    } else if (v.ramp) {
      run_kind<KIND, true, FILTER>(v, data, shift, acc, chunk, signed_step, before, t, fr);
    } else {
      run_kind<KIND, false, FILTER>(v, data, shift, acc, chunk, signed_step, before, t, fr);
    }
    ramp_by(v, chunk);
    acc += 2 * chunk;
    n -= chunk;
  }
  if (FILTER) ring(acc, n, fr);
}

template <bool FILTER>
static void mix_by(MIXER_STATE *m, MIXER_VOICE_STATE &v, float *acc, int n, filter_run &fr) {
  switch (m->resampler) {
    case MIXER_NEAREST: mix_kind<MIXER_NEAREST, FILTER>(m, v, acc, n, fr); break;
    case MIXER_CUBIC: mix_kind<MIXER_CUBIC, FILTER>(m, v, acc, n, fr); break;
    case MIXER_SINC: mix_kind<MIXER_SINC, FILTER>(m, v, acc, n, fr); break;
    default: mix_linear<FILTER>(v, acc, n, fr); break;
  }
}

// Mixes n frames of one voice into acc, through its filter when it has one.
static void mix_any(MIXER_STATE *m, MIXER_VOICE_STATE &v, float *acc, int n) {
  if (!v.frames) {
    // No frames to play (an empty sample, or its copy was dropped): it ends at once.
    v.playing = 0;
    v.ended = -1;
  }
  if (!v.filter) {
    filter_run none{};
    if (v.playing) mix_by<false>(m, v, acc, n, none);
    return;
  }
  filter_run fr{v.fa, v.fb, v.fc, v.y1, v.y2};
  if (v.playing)
    mix_by<true>(m, v, acc, n, fr);
  else
    ring(acc, n, fr);
  v.y1 = fr.y1;
  v.y2 = fr.y2;
}

// Mixes n frames (at most BLOCK_FRAMES) of every active voice and tail into acc, in voice order.
static void mix_block(MIXER_STATE *m, float *acc, int n) {
  std::memset(acc, 0, sizeof(float) * 2 * n);
  for (int w = 0; w < MIXER_VOICES / 64; w++) {
    for (unsigned long long bits = m->active[w]; bits; bits &= bits - 1) {
      const int i = 64 * w + __builtin_ctzll(bits);
      MIXER_VOICE_STATE &tail = m->tails[i], &v = m->voices[i];
      if (tail.playing && tail.sample) {
        // A tail lasts as long as its fade.
        const int fade = tail.ramp < n ? tail.ramp : n;
        mix_any(m, tail, acc, fade);
        if (tail.ramp == 0) tail.playing = 0;
      }
      if (v.playing && v.sample) mix_any(m, v, acc, n);
      if (!(tail.playing && tail.sample) && !(v.playing && v.sample))
        m->active[w] &= ~(1ULL << (i & 63));
    }
  }
}

// Output above nine tenths of full scale bends over a soft knee instead of clipping: a mix whose
// peaks overshoot (loud modules at their trackers' level) rounds off towards one step below full
// scale, never reaching it, while everything under the knee passes through unchanged.
static constexpr float KNEE = 0.9f;
static inline float soft_knee(float s, float full) {
  const float a = s < 0 ? -s : s, knee = KNEE * full;
  if (a <= knee) return s;
  const float room = full * (32766.0f / 32767.0f) - knee;
  const float y = knee + room * std::tanh((a - knee) / room);
  return s < 0 ? -y : y;
}

static inline short knee_16(float s) {
  s = soft_knee(s, 32767.0f);
  return static_cast<short>(static_cast<int>(s + (s >= 0 ? 0.5f : -0.5f)));
}

// acc x scale to 16 bits, rounded half away from zero, over the soft knee near full scale.
static void to_16_bits(const float *acc, short *out, int count, float scale) {
  int k = 0;
#ifdef __SSE2__
  const __m128 sc = _mm_set1_ps(scale), knee = _mm_set1_ps(KNEE * 32767.0f),
               half = _mm_set1_ps(0.5f), zero = _mm_setzero_ps(), sign = _mm_set1_ps(-0.0f);
  for (; k + 8 <= count; k += 8) {
    const __m128 s0 = _mm_mul_ps(_mm_loadu_ps(acc + k), sc),
                 s1 = _mm_mul_ps(_mm_loadu_ps(acc + k + 4), sc);
    // Eight samples under the knee in one test; the rare loud ones take the scalar way below.
    const __m128 peak = _mm_max_ps(_mm_andnot_ps(sign, s0), _mm_andnot_ps(sign, s1));
    if (_mm_movemask_ps(_mm_cmpgt_ps(peak, knee))) {
      for (int j = k; j < k + 8; j++) out[j] = knee_16(acc[j] * scale);
      continue;
    }
    __m128i q[2];
    const __m128 s[2] = {s0, s1};
    for (int h = 0; h < 2; h++) {
      // +0.5 where s >= 0, -0.5 below.
      const __m128 negative = _mm_andnot_ps(_mm_cmpge_ps(s[h], zero), sign);
      q[h] = _mm_cvttps_epi32(_mm_add_ps(s[h], _mm_or_ps(half, negative)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + k), _mm_packs_epi32(q[0], q[1]));
  }
#endif
  for (; k < count; k++) out[k] = knee_16(acc[k] * scale);
}

void mixer_mix(MIXER_STATE *m, short *out, int frames, float gain) {
  float acc[BLOCK_FRAMES * 2];
  const float scale = 32767.0f * gain;
  while (frames > 0) {
    const int n = frames < BLOCK_FRAMES ? frames : BLOCK_FRAMES;
    mix_block(m, acc, n);
    to_16_bits(acc, out, 2 * n, scale);
    out += 2 * n;
    frames -= n;
  }
}

void mixer_mix_float(MIXER_STATE *m, float *out, int frames, float gain) {
  while (frames > 0) {
    const int n = frames < BLOCK_FRAMES ? frames : BLOCK_FRAMES;
    mix_block(m, out, n);
    for (int k = 0; k < 2 * n; k++) {
      out[k] = soft_knee(out[k] * gain, 1.0f);
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
    m->voices[i].frames = m->voices[i].image = nullptr;
    m->tails[i].playing = 0;
    m->tails[i].frames = m->tails[i].image = nullptr;
  }
  drop_copies(m);
}
