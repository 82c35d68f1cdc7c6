// audio_measure: the measurements that compare two renderings of a song.
// A WAV reader, a spectrum peak, a 10 ms loudness envelope, note onsets from spectral flux, and
// the figures the project reports: envelope correlation, the share of onsets matched, and the
// pace of a real-time recording against a rendering.
#ifndef AUDIO_MEASURE_H
#define AUDIO_MEASURE_H

#include <string>
#include <vector>

namespace audio_measure {

// Sound as one mono channel (the mean of the file's channels), values -1..1, the mean of the
// channels' squares per frame and, of a two-channel file, half the difference of its sides per
// frame (a file read; left empty, the level and the onsets come from mono alone).
struct Audio {
  int rate = 0;
  int channels = 0;
  std::vector<float> mono;
  std::vector<float> power;
  std::vector<float> side;
  double seconds() const { return rate > 0 ? static_cast<double>(mono.size()) / rate : 0.0; }
};

// Reads integer PCM WAV (8, 16, 24 or 32 bits, plain or extensible). False with a message for
// anything else or a damaged file.
bool read_wav(const std::string &path, Audio &out, std::string &error);

// Frequency in Hz of the strongest component (DC excluded), from one Hann-windowed FFT of up to
// 65536 samples from the start, refined between bins.
double peak_frequency(const std::vector<float> &x, int rate);

// RMS level (floored at -70 dBFS) of consecutive windows of window_seconds, and the same in dB:
// of power (every channel's samples, so sides in antiphase, IT's surround, keep the level their
// mean would cancel) when it is there, of mono when power is empty.
std::vector<double> level_envelope(const Audio &audio, double window_seconds = 0.010);
std::vector<double> loudness_envelope(const Audio &audio, double window_seconds = 0.010);

// Pearson correlation of a[i] with b[i + lag] over the stretch both cover; 0 when either is flat.
double correlation(const std::vector<double> &a, const std::vector<double> &b, int lag = 0);

// The lag in [-max_lag, max_lag] of the best correlation, and that correlation.
struct Alignment {
  int lag = 0;
  double correlation = 0.0;
};
Alignment best_alignment(const std::vector<double> &a, const std::vector<double> &b, int max_lag);

// The pace of a recording against a rendering of the same song, both as envelopes of the same
// window: the factor p in [min_pace, max_pace] (in steps of `step`) and the lag (within max_lag
// windows) under which the recording, read at its time t / p, best correlates with the rendering;
// p above 1 means the recording's notes come sooner than the rendering's.
struct Pace {
  double pace = 0.0;
  int lag = 0;
  double correlation = -2.0;
};
Pace pace_against(const std::vector<double> &rendering, const std::vector<double> &recording,
                  double min_pace, double max_pace, double step, int max_lag);

// Note onsets in seconds: peaks of spectral flux (5 ms hop) above a local threshold; the spectrum
// is the mono one, or that of both sides when side is there.
std::vector<double> onsets(const Audio &audio);

// Share (0..1) of the reference onsets that have a test onset within tolerance seconds (both lists
// in ascending order, as onsets() gives them), each
// test onset used once; 1 when the reference has none.
double matched_share(const std::vector<double> &reference, const std::vector<double> &test,
                     double tolerance);

// Pitch track: the strongest frequency (Hz) of each hop_seconds step, measured over the 1024
// samples from there; 0 where those samples are more than floor_db below full scale.
std::vector<double> pitch_track(const Audio &audio, double hop_seconds, double floor_db);

// How two pitch tracks agree (reference step i against test step i + lag), over the steady steps
// of the reference (within `cents` of both neighbours) that sound in both: the median interval
// from reference to test in cents (a whole song tuned apart, as by another clock), and the share
// of those steps within `cents` of that median. A share of 1 when no such step exists.
struct PitchAgreement {
  double share = 1.0;
  double offset_cents = 0.0;
};
PitchAgreement pitch_agreement(const std::vector<double> &reference,
                               const std::vector<double> &test, int lag, double cents);

// The sine that best fits x (least squares, with a constant offset), its frequency searched
// within `spread` (relative) of guess, in cycles per sample. What the sine leaves unexplained is
// the distortion and noise: residual_db is its power against the sine's, in dB.
struct SineFit {
  double frequency = 0.0;  // cycles per sample
  double amplitude = 0.0;
  double residual_db = 0.0;
};
SineFit fit_sine(const std::vector<float> &x, double guess, double spread = 0.002);

}  // namespace audio_measure

#endif
