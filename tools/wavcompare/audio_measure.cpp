// audio_measure: WAV reading, spectra, loudness envelopes and onsets.
#include "audio_measure.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace audio_measure {

namespace {

const double PI = 3.14159265358979323846;

uint32_t le(const unsigned char *p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; i--) v = (v << 8) | p[i];
  return v;
}

// Radix-2 FFT of one size, its bit-reversal and twiddles computed once. Real and imaginary
// parts are kept apart and multiplied by hand: std::complex's multiplication guards against
// infinities at every step and costs several times as much.
class Fft {
 public:
  explicit Fft(size_t n) : n_(n), reversed_(n), cos_(n / 2), sin_(n / 2) {
    for (size_t i = 0, j = 0; i < n; i++) {
      reversed_[i] = j;
      size_t bit = n >> 1;
      for (; bit && (j & bit); bit >>= 1) j ^= bit;
      j |= bit;
    }
    for (size_t k = 0; k < n / 2; k++) {
      cos_[k] = std::cos(2 * PI * k / n);
      sin_[k] = -std::sin(2 * PI * k / n);
    }
  }
  // Transforms re and im (n values each) in place.
  void run(std::vector<double> &re, std::vector<double> &im) const {
    for (size_t i = 0; i < n_; i++) {
      const size_t j = reversed_[i];
      if (i < j) {
        std::swap(re[i], re[j]);
        std::swap(im[i], im[j]);
      }
    }
    for (size_t len = 2; len <= n_; len <<= 1) {
      const size_t half = len / 2, stride = n_ / len;
      for (size_t i = 0; i < n_; i += len) {
        for (size_t k = 0; k < half; k++) {
          const double wr = cos_[k * stride], wi = sin_[k * stride];
          const size_t p = i + k, q = p + half;
          const double vr = re[q] * wr - im[q] * wi, vi = re[q] * wi + im[q] * wr;
          re[q] = re[p] - vr;
          im[q] = im[p] - vi;
          re[p] += vr;
          im[p] += vi;
        }
      }
    }
  }

 private:
  size_t n_;
  std::vector<size_t> reversed_;
  std::vector<double> cos_, sin_;
};

std::vector<double> hann(size_t n) {
  std::vector<double> w(n);
  for (size_t i = 0; i < n; i++) w[i] = 0.5 - 0.5 * std::cos(2 * PI * i / (n - 1));
  return w;
}

}  // namespace

bool read_wav(const std::string &path, Audio &out, std::string &error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  const std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  if (file.size() < 12 || std::string(file.begin(), file.begin() + 4) != "RIFF" ||
      std::string(file.begin() + 8, file.begin() + 12) != "WAVE") {
    error = path + ": not a WAV file";
    return false;
  }
  int format = 0, channels = 0, bits = 0;
  long rate = 0;
  const unsigned char *data = nullptr;
  size_t data_bytes = 0;
  for (size_t at = 12; at + 8 <= file.size();) {
    const std::string id(file.begin() + at, file.begin() + at + 4);
    const size_t size = le(&file[at + 4], 4);
    const size_t body = at + 8;
    const size_t available = std::min(size, file.size() - body);
    if (id == "fmt " && available >= 16) {
      format = static_cast<int>(le(&file[body], 2));
      channels = static_cast<int>(le(&file[body + 2], 2));
      rate = static_cast<long>(le(&file[body + 4], 4));
      bits = static_cast<int>(le(&file[body + 14], 2));
      if (format == 0xFFFE && available >= 26) format = static_cast<int>(le(&file[body + 24], 2));
    } else if (id == "data") {
      data = &file[body];
      data_bytes = available;
    }
    at = body + size + (size & 1);
  }
  if (format != 1 || channels < 1 || rate < 1 ||
      (bits != 8 && bits != 16 && bits != 24 && bits != 32) || !data) {
    error = path + ": not integer PCM WAV (format " + std::to_string(format) + ", " +
            std::to_string(bits) + " bits)";
    return false;
  }
  const int bytes = bits / 8;
  const size_t frames = data_bytes / (bytes * channels);
  out.rate = static_cast<int>(rate);
  out.channels = channels;
  out.mono.assign(frames, 0.0f);
  out.power.assign(frames, 0.0f);
  out.side.assign(channels == 2 ? frames : 0, 0.0f);
  const double full = std::ldexp(1.0, bits - 1);
  for (size_t f = 0; f < frames; f++) {
    double sum = 0, squares = 0, first = 0;
    for (int c = 0; c < channels; c++) {
      const unsigned char *p = data + (f * channels + c) * bytes;
      int32_t v = static_cast<int32_t>(le(p, bytes));
      if (bits == 8)
        v -= 128;  // 8-bit WAV is unsigned
      else if (bits < 32)
        v = static_cast<int32_t>(static_cast<uint32_t>(v) << (32 - bits)) >> (32 - bits);
      sum += v / full;
      squares += (v / full) * (v / full);
      if (c == 0) first = v / full;
    }
    out.mono[f] = static_cast<float>(sum / channels);
    out.power[f] = static_cast<float>(squares / channels);
    if (channels == 2) out.side[f] = static_cast<float>(first - sum / 2);
  }
  return true;
}

double peak_frequency(const std::vector<float> &x, int rate) {
  size_t n = 1;
  while (n * 2 <= x.size() && n * 2 <= 65536) n *= 2;
  if (n < 8 || rate <= 0) return 0.0;
  const std::vector<double> w = hann(n);
  std::vector<double> re(n), im(n, 0.0), magnitude(n / 2);
  for (size_t i = 0; i < n; i++) re[i] = x[i] * w[i];
  Fft(n).run(re, im);
  size_t best = 1;
  for (size_t k = 1; k < n / 2; k++) {
    magnitude[k] = std::hypot(re[k], im[k]);
    if (magnitude[k] > magnitude[best]) best = k;
  }
  double shift = 0;
  if (best > 1 && best + 1 < n / 2) {
    // A parabola through the log magnitudes of the peak and its neighbours.
    const double l = std::log(magnitude[best - 1] + 1e-30), c = std::log(magnitude[best] + 1e-30),
                 r = std::log(magnitude[best + 1] + 1e-30);
    const double d = l - 2 * c + r;
    if (d != 0) shift = 0.5 * (l - r) / d;
  }
  return (best + shift) * rate / static_cast<double>(n);
}

std::vector<double> level_envelope(const Audio &audio, double window_seconds) {
  std::vector<double> env;
  const size_t w = static_cast<size_t>(std::lround(window_seconds * audio.rate));
  if (w == 0) return env;
  const bool channels = audio.power.size() == audio.mono.size();
  for (size_t at = 0; at + w <= audio.mono.size(); at += w) {
    double sum = 0;
    for (size_t i = at; i < at + w; i++)
      sum += channels ? audio.power[i] : static_cast<double>(audio.mono[i]) * audio.mono[i];
    env.push_back(std::max(std::sqrt(sum / w), 1e-3 * 0.316));  // -70 dBFS floor
  }
  return env;
}

std::vector<double> loudness_envelope(const Audio &audio, double window_seconds) {
  std::vector<double> env = level_envelope(audio, window_seconds);
  for (double &e : env) e = 20 * std::log10(e);
  return env;
}

double correlation(const std::vector<double> &a, const std::vector<double> &b, int lag) {
  const long begin = std::max(0L, static_cast<long>(-lag));
  const long end = std::min(static_cast<long>(a.size()), static_cast<long>(b.size()) - lag);
  if (end - begin < 2) return 0.0;
  double ma = 0, mb = 0;
  for (long i = begin; i < end; i++) ma += a[i], mb += b[i + lag];
  ma /= (end - begin);
  mb /= (end - begin);
  double sab = 0, saa = 0, sbb = 0;
  for (long i = begin; i < end; i++) {
    const double da = a[i] - ma, db = b[i + lag] - mb;
    sab += da * db;
    saa += da * da;
    sbb += db * db;
  }
  if (saa <= 0 || sbb <= 0) return 0.0;
  return sab / std::sqrt(saa * sbb);
}

Alignment best_alignment(const std::vector<double> &a, const std::vector<double> &b, int max_lag) {
  Alignment best;
  best.correlation = -2;
  for (int lag = -max_lag; lag <= max_lag; lag++) {
    const double c = correlation(a, b, lag);
    if (c > best.correlation) best = {lag, c};
  }
  return best;
}

Pace pace_against(const std::vector<double> &rendering, const std::vector<double> &recording,
                  double min_pace, double max_pace, double step, int max_lag) {
  Pace best;
  if (recording.size() < 2 || step <= 0) return best;
  for (double p = min_pace; p <= max_pace + step / 2; p += step) {
    // The recording read at rendering pace: window i holds what it played at time i / p.
    std::vector<double> paced;
    for (size_t i = 0;; i++) {
      const double at = i / p;
      const size_t k = static_cast<size_t>(at);
      if (k + 1 >= recording.size()) break;
      paced.push_back(recording[k] + (at - k) * (recording[k + 1] - recording[k]));
    }
    const Alignment a = best_alignment(paced, rendering, max_lag);
    if (a.correlation > best.correlation) best = {p, a.lag, a.correlation};
  }
  return best;
}

std::vector<double> onsets(const Audio &audio) {
  std::vector<double> found;
  const size_t n = 1024;
  const size_t hop = static_cast<size_t>(std::max(1L, std::lround(audio.rate * 0.005)));
  if (audio.mono.size() < n || audio.rate <= 0) return found;
  const std::vector<double> w = hann(n);
  const Fft fft(n);
  // Sides in antiphase (IT's surround) cancel in the mean; their half difference keeps them.
  const bool sides = audio.side.size() == audio.mono.size();
  std::vector<double> previous(n / 2, 0.0), flux, re(n), im(n), side_re(n), side_im(n);
  for (size_t at = 0; at + n <= audio.mono.size(); at += hop) {
    for (size_t i = 0; i < n; i++) re[i] = audio.mono[at + i] * w[i], im[i] = 0;
    fft.run(re, im);
    if (sides) {
      for (size_t i = 0; i < n; i++) side_re[i] = audio.side[at + i] * w[i], side_im[i] = 0;
      fft.run(side_re, side_im);
    }
    double rise = 0;
    for (size_t k = 1; k < n / 2; k++) {
      double energy = re[k] * re[k] + im[k] * im[k];
      if (sides) energy += side_re[k] * side_re[k] + side_im[k] * side_im[k];
      // Log compression keeps a quiet new note visible beside a loud held one.
      const double level = std::log1p(1000.0 * std::sqrt(energy) / n);
      if (level > previous[k]) rise += level - previous[k];
      previous[k] = level;
    }
    flux.push_back(rise);
  }
  double mean = 0;
  for (double f : flux) mean += f;
  mean /= flux.size();
  // A peak counts when it is the largest within 25 ms and stands above the mean of the
  // 100 ms around it plus a share of the song's mean.
  const long near = 5, around = 20, gap = 6;
  double last = -1e9;
  for (long t = 0; t < static_cast<long>(flux.size()); t++) {
    bool peak = flux[t] > 0;
    double local = 0;
    long count = 0;
    for (long u = std::max(0L, t - around); u <= std::min<long>(flux.size() - 1, t + around); u++) {
      if (std::labs(u - t) <= near && u != t && flux[u] > flux[t]) peak = false;
      if (std::labs(u - t) <= near && u < t && flux[u] == flux[t]) peak = false;
      local += flux[u];
      count++;
    }
    if (!peak || flux[t] < local / count + 0.5 * mean || t - last < gap) continue;
    last = t;
    // The flux frame's centre is where its new sound lies.
    found.push_back((t * hop + n / 2.0) / audio.rate);
  }
  return found;
}

double matched_share(const std::vector<double> &reference, const std::vector<double> &test,
                     double tolerance) {
  if (reference.empty()) return 1.0;
  size_t j = 0, matched = 0;
  for (double r : reference) {
    while (j < test.size() && test[j] < r - tolerance) j++;
    if (j < test.size() && test[j] <= r + tolerance) {
      matched++;
      j++;
    }
  }
  return static_cast<double>(matched) / reference.size();
}

std::vector<double> pitch_track(const Audio &audio, double hop_seconds, double floor_db) {
  // 1024 samples: about 23 ms at 44.1 kHz, short enough to fit inside one tick of an arpeggio,
  // long enough to resolve a tone of a few hundred Hz to a few cents after the peak's refinement.
  const size_t frame = 1024;
  const size_t hop = static_cast<size_t>(std::lround(hop_seconds * audio.rate));
  std::vector<double> track;
  if (hop == 0) return track;
  const double floor_rms = std::pow(10.0, floor_db / 20);
  for (size_t at = 0; at + frame <= audio.mono.size(); at += hop) {
    const std::vector<float> part(audio.mono.begin() + at, audio.mono.begin() + at + frame);
    double sum = 0;
    for (float v : part) sum += static_cast<double>(v) * v;
    track.push_back(std::sqrt(sum / frame) < floor_rms ? 0.0 : peak_frequency(part, audio.rate));
  }
  return track;
}

PitchAgreement pitch_agreement(const std::vector<double> &reference,
                               const std::vector<double> &test, int lag, double cents) {
  auto interval = [](double a, double b) { return 1200 * std::log2(b / a); };
  auto near = [&](double a, double b) {
    return a > 0 && b > 0 && std::fabs(interval(a, b)) <= cents;
  };
  std::vector<double> differences;
  for (size_t i = 1; i + 1 < reference.size(); i++) {
    const long j = static_cast<long>(i) + lag;
    if (j < 0 || j >= static_cast<long>(test.size()) || reference[i] <= 0 || test[j] <= 0) continue;
    // Only steady steps of the reference: one that straddles a change of pitch has none.
    if (!near(reference[i], reference[i - 1]) || !near(reference[i], reference[i + 1])) continue;
    differences.push_back(interval(reference[i], test[j]));
  }
  PitchAgreement out;
  if (differences.empty()) return out;
  std::vector<double> sorted = differences;
  std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
  out.offset_cents = sorted[sorted.size() / 2];
  size_t agree = 0;
  for (double d : differences)
    if (std::fabs(d - out.offset_cents) <= cents) agree++;
  out.share = static_cast<double>(agree) / differences.size();
  return out;
}

namespace {

// Least-squares fit of a cos(wn) + b sin(wn) + c at angular frequency w: the power left over.
double leftover(const std::vector<float> &x, double w, double &amplitude) {
  double m[3][4] = {};  // normal equations over (cos, sin, 1) with x on the right
  double energy = 0;
  double c = 1, s = 0;
  const double cw = std::cos(w), sw = std::sin(w);
  for (size_t n = 0; n < x.size(); n++) {
    const double v[3] = {c, s, 1.0};
    for (int i = 0; i < 3; i++) {
      for (int j = 0; j < 3; j++) m[i][j] += v[i] * v[j];
      m[i][3] += v[i] * x[n];
    }
    energy += static_cast<double>(x[n]) * x[n];
    const double next = c * cw - s * sw;
    s = s * cw + c * sw;
    c = next;
  }
  double r[3][4];
  std::copy(&m[0][0], &m[0][0] + 12, &r[0][0]);
  for (int i = 0; i < 3; i++) {  // Gauss-Jordan; the matrix is positive definite
    for (int k = 0; k < 3; k++)
      if (k != i) {
        const double f = r[k][i] / r[i][i];
        for (int j = 0; j < 4; j++) r[k][j] -= f * r[i][j];
      }
  }
  const double a = r[0][3] / r[0][0], b = r[1][3] / r[1][1], d = r[2][3] / r[2][2];
  amplitude = std::sqrt(a * a + b * b);
  return std::max(energy - (a * m[0][3] + b * m[1][3] + d * m[2][3]), 0.0);
}

}  // namespace

SineFit fit_sine(const std::vector<float> &x, double guess, double spread) {
  SineFit fit;
  if (x.size() < 16 || guess <= 0 || guess >= 0.5) return fit;
  // A grid finds the valley, golden sections its floor.
  double amplitude = 0, best_w = 2 * M_PI * guess, best = -1;
  const int steps = 200;
  for (int i = 0; i <= steps; i++) {
    const double w = 2 * M_PI * guess * (1 - spread + 2 * spread * i / steps);
    const double e = leftover(x, w, amplitude);
    if (best < 0 || e < best) best = e, best_w = w;
  }
  double lo = best_w * (1 - 2 * spread / steps), hi = best_w * (1 + 2 * spread / steps);
  const double g = (std::sqrt(5.0) - 1) / 2;
  for (int i = 0; i < 60; i++) {
    const double a = hi - g * (hi - lo), b = lo + g * (hi - lo);
    if (leftover(x, a, amplitude) < leftover(x, b, amplitude))
      hi = b;
    else
      lo = a;
  }
  const double w = (lo + hi) / 2, left = leftover(x, w, amplitude);
  fit.frequency = w / (2 * M_PI);
  fit.amplitude = amplitude;
  const double sine_power = amplitude * amplitude / 2 * x.size();
  fit.residual_db = 10 * std::log10(std::max(left, 1e-30) / std::max(sine_power, 1e-30));
  return fit;
}

}  // namespace audio_measure
