// wavcompare: how closely one rendering of a song follows another.
//   wavcompare [--min-correlation C] [--min-onsets S] [--list] [--pitch] [--by-channel]
//              REFERENCE.wav TEST.wav
// Prints, one "key: value" line each, the lengths, the correlation of the two 10 ms loudness
// envelopes (at the best lag within 100 ms, which is printed too), the onset counts and the share
// of reference onsets that the test matches within 20 ms (after that lag). With a minimum given,
// the status is 1 when a figure falls below it; 2 for a file it cannot read or a bad command line.
// --list adds a line per reference onset: its time and the offset of the nearest test onset.
// --pitch adds the share of steady 10 ms steps, sounding in both, whose strongest frequencies agree
// within 15 cents once the median interval between the two (printed too) is taken out, at the
// best lag of the two pitch tracks within 100 ms.
// The loudness envelopes are of the mean of the channels, so that a test playing a behaviour and
// its expected result in antiphase measures what is left of it; --by-channel takes them over
// every channel's samples instead, for songs whose sides sound in antiphase (IT's surround).
//   wavcompare --pace RENDERING.wav RECORDING.wav
// The pace of a real-time recording against a rendering of the same song: the time stretch
// (0.9 to 1.1) and lag (within 1 s) under which their loudness levels correlate best, and that
// correlation. A player whose rows come 2 percent early shows a pace of 1.02.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio_measure.h"

using namespace audio_measure;

static const double ENVELOPE_WINDOW = 0.010;  // seconds
static const int MAX_LAG_WINDOWS = 10;        // 100 ms
static const double ONSET_TOLERANCE = 0.020;  // seconds
static const double PITCH_HOP = 0.010;        // seconds
static const double PITCH_CENTS =
    15;  // a sixth of a semitone: tuning errors show, rounding does not
static const double PITCH_FLOOR_DB = -40;  // quieter steps have no pitch worth comparing

static int usage() {
  std::fprintf(stderr,
               "usage: wavcompare [--min-correlation C] [--min-onsets S] [--list] [--pitch] "
               "[--by-channel] REFERENCE.wav TEST.wav\n"
               "       wavcompare --pace RENDERING.wav RECORDING.wav\n");
  return 2;
}

static bool read_pair(const char *first, const char *second, Audio &a, Audio &b) {
  std::string error;
  if (!read_wav(first, a, error) || !read_wav(second, b, error)) {
    std::fprintf(stderr, "wavcompare: %s\n", error.c_str());
    return false;
  }
  if (a.rate != b.rate) {
    std::fprintf(stderr, "wavcompare: the rates differ (%d and %d Hz)\n", a.rate, b.rate);
    return false;
  }
  return true;
}

static int pace_of_recording(const char *rendering_path, const char *recording_path) {
  Audio rendering, recording;
  if (!read_pair(rendering_path, recording_path, rendering, recording)) return 2;
  rendering.power.clear(), recording.power.clear();
  rendering.side.clear(), recording.side.clear();
  // Measured on the level itself: decibels would weigh the noise between notes as much as the
  // notes.
  const Pace p = pace_against(level_envelope(rendering, ENVELOPE_WINDOW),
                              level_envelope(recording, ENVELOPE_WINDOW), 0.9, 1.1, 0.0025,
                              static_cast<int>(std::lround(1.0 / ENVELOPE_WINDOW)));
  std::printf("pace: %.4f\n", p.pace);
  std::printf("lag_ms: %ld\n", std::lround(p.lag * ENVELOPE_WINDOW * 1000));
  std::printf("correlation: %.4f\n", p.correlation);
  return 0;
}

int main(int argc, char **argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--pace") == 0)
    return argc == 4 ? pace_of_recording(argv[2], argv[3]) : usage();
  double min_correlation = -2, min_onsets = -1;
  const char *files[2] = {nullptr, nullptr};
  int named = 0;
  bool list = false, pitch = false, by_channel = false;
  for (int i = 1; i < argc; i++) {
    double *target = nullptr;
    if (std::strcmp(argv[i], "--list") == 0 || std::strcmp(argv[i], "--pitch") == 0) {
      (argv[i][2] == 'l' ? list : pitch) = true;
      continue;
    }
    if (std::strcmp(argv[i], "--by-channel") == 0) {
      by_channel = true;
      continue;
    }
    if (std::strcmp(argv[i], "--min-correlation") == 0) target = &min_correlation;
    if (std::strcmp(argv[i], "--min-onsets") == 0) target = &min_onsets;
    if (target) {
      char *end = nullptr;
      if (i + 1 >= argc) return usage();
      *target = std::strtod(argv[++i], &end);
      if (end == argv[i] || *end) return usage();
    } else if (named < 2 && argv[i][0] != '-') {
      files[named++] = argv[i];
    } else {
      return usage();
    }
  }
  if (named != 2) return usage();

  Audio reference, test;
  if (!read_pair(files[0], files[1], reference, test)) return 2;
  if (!by_channel) {
    reference.power.clear(), test.power.clear();
    reference.side.clear(), test.side.clear();
  }
  const Alignment aligned =
      best_alignment(loudness_envelope(reference, ENVELOPE_WINDOW),
                     loudness_envelope(test, ENVELOPE_WINDOW), MAX_LAG_WINDOWS);
  const double lag = aligned.lag * ENVELOPE_WINDOW;
  const std::vector<double> reference_onsets = onsets(reference);
  std::vector<double> test_onsets = onsets(test);
  for (double &t : test_onsets) t -= lag;
  const double share = matched_share(reference_onsets, test_onsets, ONSET_TOLERANCE);

  std::printf("reference_seconds: %.3f\n", reference.seconds());
  std::printf("test_seconds: %.3f\n", test.seconds());
  std::printf("envelope_correlation: %.4f\n", aligned.correlation);
  std::printf("envelope_lag_ms: %d\n", static_cast<int>(lag * 1000 + (lag < 0 ? -0.5 : 0.5)));
  std::printf("reference_onsets: %zu\n", reference_onsets.size());
  std::printf("test_onsets: %zu\n", test_onsets.size());
  std::printf("onsets_matched: %.4f\n", share);
  if (pitch) {
    // The pitch tracks are aligned on their own, within the envelope's 100 ms: a steady tone has
    // a flat envelope, whose best lag says nothing.
    const std::vector<double> a = pitch_track(reference, PITCH_HOP, PITCH_FLOOR_DB),
                              b = pitch_track(test, PITCH_HOP, PITCH_FLOOR_DB);
    const int steps = static_cast<int>(std::lround(MAX_LAG_WINDOWS * ENVELOPE_WINDOW / PITCH_HOP));
    PitchAgreement best;
    best.share = -1;
    for (int l = -steps; l <= steps; l++) {
      const PitchAgreement p = pitch_agreement(a, b, l, PITCH_CENTS);
      if (p.share > best.share) best = p;
    }
    std::printf("pitch_agreement: %.4f\n", best.share);
    std::printf("pitch_offset_cents: %.1f\n", best.offset_cents);
  }
  for (size_t i = 0; list && i < reference_onsets.size(); i++) {
    double nearest = 1e9;
    for (double t : test_onsets)
      if (std::fabs(t - reference_onsets[i]) < std::fabs(nearest))
        nearest = t - reference_onsets[i];
    std::printf("onset %.3f: nearest test onset %+.0f ms\n", reference_onsets[i], nearest * 1000);
  }
  return aligned.correlation < min_correlation || share < min_onsets ? 1 : 0;
}
