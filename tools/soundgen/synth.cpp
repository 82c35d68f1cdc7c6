// Rendering of voices, instruments and effects, and the readers of their source blocks.
#include "synth.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace sound {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Sub-steps per frame of the tone oscillators: averaging them keeps the edges of pulse and saw
// waves from aliasing into a buzz when a sample plays far above its recorded pitch.
constexpr int kOversample = 8;
// A loop may differ from its next repetition by this much of full scale (filters settling).
constexpr double kLoopTolerance = 2e-3;
// Effects and one-shot instruments fade over their last frames so that they never end on a click.
constexpr double kEndFade = 0.003;

const std::set<std::string> kWaves = {"pulse", "triangle", "saw", "sine", "noise"};

// "a->b" or "a": numbers or pitch names.
bool parse_value(const std::string &word, double &v) {
  int semis;
  if (parse_pitch(word, semis)) {
    v = concert_pitch(semis);
    return true;
  }
  return parse_number(word, v);
}

Sweep parse_sweep(const std::string &file, int line, const std::string &key,
                  const std::string &word) {
  Sweep s;
  size_t arrow = word.find("->");
  std::string a = arrow == std::string::npos ? word : word.substr(0, arrow);
  std::string b = arrow == std::string::npos ? word : word.substr(arrow + 2);
  if (!parse_value(a, s.from) || !parse_value(b, s.to))
    fail(file, line, key + " must be a number, a pitch or a sweep a->b, not '" + word + "'");
  s.set = true;
  return s;
}

double number_of(const std::string &file, int line, const std::string &key, const std::string &word,
                 double lo, double hi) {
  double v;
  if (!parse_value(word, v)) fail(file, line, key + " must be a number, not '" + word + "'");
  if (v < lo || v > hi)
    fail(file, line,
         key + " " + word + " is outside " + std::to_string(lo) + " to " + std::to_string(hi));
  return v;
}

// Deterministic noise, so that every build writes the same sounds.
struct Noise {
  uint32_t state;
  double next() {
    state = state * 1664525u + 1013904223u;
    return double(state >> 8) / double(1u << 23) - 1.0;
  }
};

// How long a voice sounds: its length, or the end of its decay when it does not sustain.
double voice_length(const Voice &v) {
  if (v.len > 0) return v.len;
  if (v.sustain == 0) return v.attack + v.decay;
  return -1;
}

double envelope(const Voice &v, double t, double length) {
  if (t < 0) return 0;
  if (length > 0 && t >= length) return 0;
  double e;
  if (t < v.attack) {
    e = t / v.attack;
  } else if (t < v.attack + v.decay) {
    // Exponential-looking fall that lands exactly on the sustain level at the end of the decay.
    double x = (t - v.attack) / v.decay;
    double shape = (std::exp(-4 * x) - std::exp(-4.0)) / (1 - std::exp(-4.0));
    e = v.sustain + (1 - v.sustain) * shape;
  } else {
    e = v.sustain;
  }
  if (length > 0 && v.release > 0 && t > length - v.release) e *= (length - t) / v.release;
  return e;
}

double tone(const std::string &wave, double phase, double duty) {
  phase -= std::floor(phase);
  if (wave == "pulse") return (phase < duty ? 1.0 : -1.0) - (2 * duty - 1);  // without its DC
  if (wave == "triangle") return 4 * std::fabs(phase - 0.5) - 1;
  if (wave == "saw") return 2 * phase - 1;
  return std::sin(2 * kPi * phase);
}

// Adds voice `v` into `out`. `root` > 0 makes it pitched (frequency root * ratio); `loop_time`
// is the duration of an instrument's loop, which its pulse-width swing follows.
void render_voice(const Voice &v, double rate, double root, double loop_time, uint32_t seed,
                  std::vector<double> &out) {
  double length = voice_length(v);
  size_t first = size_t(std::llround(v.start * rate));
  size_t last = out.size();
  if (length > 0) last = std::min(last, first + size_t(std::ceil(length * rate)));
  Noise noise{seed * 2654435761u + 12345u};
  double phase = 0, held = 0, lp = 0, hp_lp = 0;
  bool lp_started = false;
  double cut_time = v.cutsweep > 0 ? v.cutsweep : (length > 0 ? length : 1.0);
  double glide = v.glide > 0 ? v.glide : (length > 0 ? length : 1.0);
  for (size_t n = first; n < last; n++) {
    double t = double(n - first) / rate;
    double f;
    if (root > 0) {
      f = root * v.ratio;
    } else {
      double x = std::min(t / glide, 1.0);
      f = v.freq.from * std::pow(v.freq.to / v.freq.from, x);
    }
    if (v.vib > 0 && t >= v.vibdelay)
      f *= std::pow(2.0, v.vibdepth / 12 * std::sin(2 * kPi * v.vib * (t - v.vibdelay)));
    double duty = 0.5;
    if (v.duty.set)
      duty = length > 0 ? v.duty.from + (v.duty.to - v.duty.from) * std::min(t / length, 1.0)
                        : v.duty.from;
    if (v.pwm != 0) {
      double abs_t = double(n) / rate;
      if (loop_time > 0)
        duty += v.pwm * std::sin(2 * kPi * abs_t / loop_time);
      else if (v.pwmrate > 0)
        duty += v.pwm * std::sin(2 * kPi * v.pwmrate * t);
    }
    duty = std::clamp(duty, 0.02, 0.98);

    double s;
    if (v.wave == "noise") {
      if (v.freq.set) {  // sample-and-hold at the voice frequency: a pitched, grainy noise
        phase += f / rate;
        if (n == first || phase >= 1) {
          phase -= std::floor(phase);
          held = noise.next();
        }
        s = held;
      } else {
        s = noise.next();
      }
    } else {
      double step = f / rate / kOversample;
      s = 0;
      for (int k = 0; k < kOversample; k++) {
        s += tone(v.wave, phase + (k + 0.5) * step, duty);
      }
      s /= kOversample;
      phase += f / rate;
      if (phase > 1e6) phase -= std::floor(phase);
    }
    if (v.cutoff.set) {
      double x = std::min(t / cut_time, 1.0);
      double fc = v.cutoff.from * std::pow(v.cutoff.to / v.cutoff.from, x);
      double a = 1 - std::exp(-2 * kPi * std::min(fc, rate * 0.49) / rate);
      if (!lp_started) {
        lp = 0;
        lp_started = true;
      }
      lp += a * (s - lp);
      s = lp;
    }
    if (v.hp > 0) {
      double a = 1 - std::exp(-2 * kPi * v.hp / rate);
      hp_lp += a * (s - hp_lp);
      s -= hp_lp;
    }
    out[n] += s * v.gain * envelope(v, t, length);
  }
}

// Scales to `peak` of full scale and converts; fades the last few milliseconds when asked.
std::vector<int16_t> finish(std::vector<double> &buf, double peak, double rate, bool fade_end,
                            const std::string &file, int line) {
  double top = 0;
  for (double x : buf) top = std::max(top, std::fabs(x));
  if (top <= 0) fail(file, line, "the sound is silent");
  if (fade_end) {
    size_t fade = std::min(buf.size(), size_t(kEndFade * rate) + 1);
    for (size_t i = 0; i < fade; i++) buf[buf.size() - 1 - i] *= double(i) / double(fade);
  }
  std::vector<int16_t> out(buf.size());
  double scale = peak / top * 32767.0;
  for (size_t i = 0; i < buf.size(); i++)
    out[i] = int16_t(std::lround(std::clamp(buf[i] * scale, -32767.0, 32767.0)));
  return out;
}

void expand_notes(std::vector<Voice> &voices) {
  std::vector<Voice> out;
  for (const Voice &v : voices) {
    if (v.notes.empty()) {
      out.push_back(v);
      continue;
    }
    for (size_t i = 0; i < v.notes.size(); i++) {
      Voice one = v;
      one.notes.clear();
      one.start = v.start + double(i) * v.step;
      one.freq.from = one.freq.to = v.notes[i];
      one.freq.set = true;
      if (one.len <= 0 && one.sustain != 0) one.len = v.step;
      out.push_back(one);
    }
  }
  voices = out;
}

// Indented lines after a block head, up to the next block.
template <typename Fn>
void each_block(const std::string &file, const std::vector<SourceLine> &lines, const char *head,
                Fn begin_block) {
  size_t i = 0;
  while (i < lines.size()) {
    const SourceLine &l = lines[i];
    if (l.indented || l.words.empty() || l.words[0] != head)
      fail(file, l.number, std::string("expected '") + head + " ...' to start a block");
    size_t j = i + 1;
    while (j < lines.size() && lines[j].indented) j++;
    begin_block(l, std::vector<SourceLine>(lines.begin() + long(i) + 1, lines.begin() + long(j)));
    i = j;
  }
}

}  // namespace

double concert_pitch(int semitones_from_c4) {
  return 440.0 * std::pow(2.0, (semitones_from_c4 - 9) / 12.0);
}

Voice parse_voice(const std::string &file, const SourceLine &line, size_t first, bool pitched) {
  Voice v;
  v.line = line.number;
  auto settings = parse_settings(file, line, first);
  int n = line.number;
  for (const auto &[key, val] : settings) {
    if (key == "wave") {
      if (!kWaves.count(val))
        fail(file, n, "unknown wave '" + val + "' (pulse, triangle, saw, sine, noise)");
      v.wave = val;
    } else if (key == "duty") {
      v.duty = parse_sweep(file, n, key, val);
      if (v.duty.from <= 0 || v.duty.from >= 1 || v.duty.to <= 0 || v.duty.to >= 1)
        fail(file, n, "duty must lie between 0 and 1");
    } else if (key == "pwm") {
      v.pwm = number_of(file, n, key, val, 0, 0.45);
    } else if (key == "pwmrate") {
      v.pwmrate = number_of(file, n, key, val, 0, 100);
    } else if (key == "ratio") {
      v.ratio = number_of(file, n, key, val, 0.01, 64);
    } else if (key == "freq") {
      v.freq = parse_sweep(file, n, key, val);
      if (v.freq.from <= 0 || v.freq.to <= 0) fail(file, n, "freq must be above 0 Hz");
    } else if (key == "glide") {
      v.glide = number_of(file, n, key, val, 0.0001, 60);
    } else if (key == "start") {
      v.start = number_of(file, n, key, val, 0, 60);
    } else if (key == "len") {
      v.len = number_of(file, n, key, val, 0.001, 60);
    } else if (key == "attack") {
      v.attack = number_of(file, n, key, val, 0.0001, 60);
    } else if (key == "decay") {
      v.decay = number_of(file, n, key, val, 0.0001, 60);
    } else if (key == "sustain") {
      v.sustain = number_of(file, n, key, val, 0, 1);
    } else if (key == "release") {
      v.release = number_of(file, n, key, val, 0, 60);
    } else if (key == "gain") {
      v.gain = number_of(file, n, key, val, 0, 16);
    } else if (key == "vib") {
      v.vib = number_of(file, n, key, val, 0, 100);
    } else if (key == "vibdepth") {
      v.vibdepth = number_of(file, n, key, val, 0, 24);
    } else if (key == "vibdelay") {
      v.vibdelay = number_of(file, n, key, val, 0, 60);
    } else if (key == "cutoff") {
      v.cutoff = parse_sweep(file, n, key, val);
      if (v.cutoff.from <= 0 || v.cutoff.to <= 0) fail(file, n, "cutoff must be above 0 Hz");
    } else if (key == "cutsweep") {
      v.cutsweep = number_of(file, n, key, val, 0.0001, 60);
    } else if (key == "hp") {
      v.hp = number_of(file, n, key, val, 0, 20000);
    } else if (key == "notes") {
      size_t p = 0;
      while (p <= val.size()) {
        size_t comma = val.find(',', p);
        std::string item =
            val.substr(p, comma == std::string::npos ? std::string::npos : comma - p);
        double hz;
        if (!parse_value(item, hz) || hz <= 0)
          fail(file, n, "notes: '" + item + "' is not a pitch");
        v.notes.push_back(hz);
        if (comma == std::string::npos) break;
        p = comma + 1;
      }
    } else if (key == "step") {
      v.step = number_of(file, n, key, val, 0.001, 10);
    } else {
      fail(file, n, "unknown voice setting '" + key + "'");
    }
  }
  if (pitched && v.freq.set) fail(file, n, "a pitched instrument's voices take ratio=, not freq=");
  if (!pitched && !v.freq.set && v.notes.empty() && v.wave != "noise")
    fail(file, n, "this voice needs freq= (or notes=)");
  if (!v.notes.empty() && v.step <= 0) fail(file, n, "notes= needs step= (seconds per note)");
  if (v.len < 0 && v.sustain == 0 && v.attack + v.decay <= 0)
    fail(file, n, "the voice has no length");
  return v;
}

// "T:V,T:V,...": up to 12 points of rising ticks (0..65535) and levels 0..64, the first at tick 0.
static std::vector<std::pair<int, int>> parse_envelope_points(const std::string &file, int line,
                                                              const std::string &val) {
  std::vector<std::pair<int, int>> points;
  size_t at = 0;
  while (at <= val.size()) {
    size_t comma = val.find(',', at);
    if (comma == std::string::npos) comma = val.size();
    const std::string point = val.substr(at, comma - at);
    const size_t colon = point.find(':');
    if (colon == std::string::npos)
      fail(file, line, "envelope points are TICK:LEVEL, separated by commas");
    const int tick = int(number_of(file, line, "envelope tick", point.substr(0, colon), 0, 65535));
    const int level = int(number_of(file, line, "envelope level", point.substr(colon + 1), 0, 64));
    if (points.empty() ? tick != 0 : tick <= points.back().first)
      fail(file, line, "envelope ticks start at 0 and rise");
    points.push_back({tick, level});
    at = comma + 1;
  }
  if (points.size() > 12) fail(file, line, "an envelope has at most 12 points");
  return points;
}

std::map<std::string, Instrument> parse_instruments(const std::string &file,
                                                    const std::string &text) {
  std::map<std::string, Instrument> out;
  each_block(
      file, read_lines(text), "instrument",
      [&](const SourceLine &head, const std::vector<SourceLine> &body) {
        if (head.words.size() != 2) fail(file, head.number, "expected 'instrument NAME'");
        Instrument ins;
        ins.name = head.words[1];
        ins.line = head.number;
        if (out.count(ins.name))
          fail(file, head.number, "instrument '" + ins.name + "' is defined twice");
        // Settings first (the voices need to know whether the instrument is pitched).
        for (const SourceLine &l : body) {
          const std::string &key = l.words[0];
          if (key == "voice") continue;
          if (l.words.size() != 2) fail(file, l.number, "expected '" + key + " VALUE'");
          const std::string &val = l.words[1];
          if (key == "cycle") {
            ins.cycle = int(number_of(file, l.number, key, val, 16, 64));
            if (ins.cycle != 16 && ins.cycle != 32 && ins.cycle != 64)
              fail(file, l.number, "cycle must be 16, 32 or 64 frames");
          } else if (key == "home") {
            if (!parse_pitch(val, ins.home))
              fail(file, l.number, "home must be a pitch such as C3");
          } else if (key == "rate") {
            ins.rate = number_of(file, l.number, key, val, 1000, 65535);
          } else if (key == "loop") {
            ins.loop = int(number_of(file, l.number, key, val, 1, 4096));
          } else if (key == "volume") {
            ins.volume = int(number_of(file, l.number, key, val, 0, 64));
          } else if (key == "peak") {
            ins.peak = number_of(file, l.number, key, val, 0.01, 1);
          } else if (key == "envelope") {
            ins.envelope.points = parse_envelope_points(file, l.number, val);
          } else if (key == "envsustain") {
            ins.envelope.sustain = int(number_of(file, l.number, key, val, 0, 11));
          } else if (key == "envloop") {
            const size_t dash = val.find('-');
            if (dash == std::string::npos)
              fail(file, l.number, "envloop is FIRST-LAST, two point numbers");
            ins.envelope.loop_start =
                int(number_of(file, l.number, key, val.substr(0, dash), 0, 11));
            ins.envelope.loop_end =
                int(number_of(file, l.number, key, val.substr(dash + 1), 0, 11));
            if (ins.envelope.loop_start > ins.envelope.loop_end)
              fail(file, l.number, "envloop runs backwards");
          } else if (key == "fadeout") {
            ins.envelope.fadeout = int(number_of(file, l.number, key, val, 0, 32768));
          } else {
            fail(file, l.number, "unknown instrument setting '" + key + "'");
          }
        }
        if ((ins.cycle > 0) == (ins.rate > 0))
          fail(file, head.number,
               "instrument '" + ins.name + "' needs either cycle (pitched) or rate (unpitched)");
        if (ins.loop > 0 && ins.cycle == 0)
          fail(file, head.number, "only pitched instruments loop");
        for (const SourceLine &l : body) {
          if (l.words[0] != "voice") continue;
          Voice v = parse_voice(file, l, 1, ins.cycle > 0);
          if (ins.loop > 0) {
            double cycles = v.ratio * ins.loop;
            if (std::fabs(cycles - std::round(cycles)) > 1e-6)
              fail(file, l.number,
                   "ratio " + std::to_string(v.ratio) + " does not repeat within the loop of " +
                       std::to_string(ins.loop) + " cycles");
            if (v.vib > 0)
              fail(file, l.number,
                   "vibrato cannot be baked into a looped instrument; use the song's ~ effect");
          }
          ins.voices.push_back(v);
        }
        if (ins.voices.empty())
          fail(file, head.number, "instrument '" + ins.name + "' has no voice");
        const InstrumentEnvelope &e = ins.envelope;
        const int points = int(e.points.size());
        if ((e.sustain >= 0 || e.loop_start >= 0 || e.fadeout > 0) && points == 0)
          fail(file, head.number,
               "instrument '" + ins.name + "': envsustain, envloop and fadeout need an envelope");
        if (e.sustain >= points || e.loop_end >= points)
          fail(file, head.number,
               "instrument '" + ins.name + "': envelope point number beyond its points");
        out[ins.name] = ins;
      });
  return out;
}

std::vector<Effect> parse_effects(const std::string &file, const std::string &text) {
  std::vector<Effect> out;
  each_block(file, read_lines(text), "effect",
             [&](const SourceLine &head, const std::vector<SourceLine> &body) {
               long number;
               if (head.words.size() != 3 || !parse_int(head.words[1], number) || number < 0 ||
                   number > 255)
                 fail(file, head.number, "expected 'effect NUMBER NAME'");
               Effect fx;
               fx.number = int(number);
               fx.name = head.words[2];
               fx.line = head.number;
               for (const SourceLine &l : body) {
                 const std::string &key = l.words[0];
                 if (key == "voice") {
                   fx.voices.push_back(parse_voice(file, l, 1, false));
                   continue;
                 }
                 if (l.words.size() != 2) fail(file, l.number, "expected '" + key + " VALUE'");
                 if (key == "rate")
                   fx.rate = number_of(file, l.number, key, l.words[1], 4000, 48000);
                 else if (key == "peak")
                   fx.peak = number_of(file, l.number, key, l.words[1], 0.01, 1);
                 else
                   fail(file, l.number, "unknown effect setting '" + key + "'");
               }
               if (fx.voices.empty())
                 fail(file, head.number, "effect '" + fx.name + "' has no voice");
               expand_notes(fx.voices);
               out.push_back(fx);
             });
  return out;
}

InstrumentSample render_instrument(const Instrument &ins, const std::string &file) {
  InstrumentSample out;
  out.volume = ins.volume;
  out.envelope = ins.envelope;
  double rate, root = 0;
  if (ins.cycle > 0) {
    // Rendered at the home note's playback rate, so the voices' times are those heard there,
    // with `cycle` frames per cycle whatever the home note.
    double c5_rate = kC5Rate * ins.cycle / 16;
    double scale = std::pow(2.0, (ins.home - 12) / 12.0);
    rate = c5_rate * scale;
    root = kC5Pitch * scale;
    out.tuning = int(c5_rate);
  } else {
    rate = ins.rate;
    out.tuning = int(std::lround(ins.rate));
  }

  double settle = 0, end = 0;
  bool sustains = false;
  for (const Voice &v : ins.voices) {
    double length = voice_length(v);
    settle = std::max(settle, v.start + v.attack + v.decay);
    if (length > 0) {
      end = std::max(end, v.start + length);
      settle = std::max(settle, v.start + length);
    } else {
      sustains = true;
    }
    if (v.cutoff.set && v.cutsweep > 0) settle = std::max(settle, v.start + v.cutsweep);
  }

  std::vector<double> buf;
  if (ins.loop > 0) {
    if (!sustains)
      fail(file, ins.line,
           "looped instrument '" + ins.name + "' needs a voice without len that sustains");
    // Filters need a little time to settle into the repeating wave.
    size_t loop_start = size_t(std::ceil((settle + 0.002) * rate));
    size_t loop_len = size_t(ins.loop) * size_t(ins.cycle);
    buf.assign(loop_start + 2 * loop_len, 0.0);
    uint32_t seed = 1;
    for (const Voice &v : ins.voices)
      render_voice(v, rate, root, double(loop_len) / rate, seed++, buf);
    double top = 0, diff = 0;
    for (double x : buf) top = std::max(top, std::fabs(x));
    for (size_t k = 0; k < loop_len; k++)
      diff = std::max(diff, std::fabs(buf[loop_start + k] - buf[loop_start + loop_len + k]));
    if (top > 0 && diff > kLoopTolerance * top)
      fail(file, ins.line,
           "instrument '" + ins.name +
               "' does not repeat seamlessly over its loop (a voice "
               "that ends late, noise, or a filter still moving)");
    buf.resize(loop_start + loop_len);
    out.frames = finish(buf, ins.peak, rate, false, file, ins.line);
    out.loop_start = int(loop_start);
    out.loop_end = int(loop_start + loop_len);
  } else {
    if (sustains)
      fail(file, ins.line,
           "instrument '" + ins.name + "' plays once: give its voices len= or sustain=0");
    buf.assign(size_t(std::ceil(end * rate)) + 1, 0.0);
    uint32_t seed = 1;
    for (const Voice &v : ins.voices) render_voice(v, rate, root, 0, seed++, buf);
    out.frames = finish(buf, ins.peak, rate, true, file, ins.line);
  }
  return out;
}

EffectSample render_effect(const Effect &fx, const std::string &file) {
  double end = 0;
  for (const Voice &v : fx.voices) {
    double length = voice_length(v);
    if (length < 0) fail(file, v.line, "a voice of an effect needs len= or sustain=0");
    end = std::max(end, v.start + length);
  }
  std::vector<double> buf(size_t(std::ceil(end * fx.rate)) + 1, 0.0);
  uint32_t seed = uint32_t(fx.number) * 100 + 1;
  for (const Voice &v : fx.voices) render_voice(v, fx.rate, 0, 0, seed++, buf);
  EffectSample out;
  out.frames = finish(buf, fx.peak, fx.rate, true, file, fx.line);
  out.rate = int(fx.rate);
  return out;
}

}  // namespace sound
