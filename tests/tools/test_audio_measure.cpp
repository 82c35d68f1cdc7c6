// The measurements behind wavcompare: WAV files of every integer width read, damaged ones
// refused; onsets found where notes begin; envelope correlation and onset matching.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio_measure.h"

using namespace audio_measure;

namespace {

const double PI = 3.14159265358979323846;

// A WAV image: fmt chunk of the given format, an extra chunk of odd size before the data, then
// the data. Each field is a value and its width in bytes; a width of 0 writes a four-letter tag.
std::vector<uint8_t> wav(int format, int channels, int bits, const std::vector<uint8_t> &data,
                         bool extensible = false) {
  const long long RIFF = 0x46464952, WAVE = 0x45564157, FMT = 0x20746d66, LIST = 0x5453494c,
                  DATA = 0x61746164, size = static_cast<long long>(data.size());
  std::vector<std::pair<long long, int>> fields = {
      // clang-format off
      {RIFF, 4}, {0, 4}, {WAVE, 4}, {FMT, 4}, {extensible ? 40 : 16, 4},
      {extensible ? 0xFFFE : format, 2}, {channels, 2}, {8000, 4},
      {8000 * channels * bits / 8, 4}, {channels * bits / 8, 2}, {bits, 2},
      // clang-format on
  };
  if (extensible) fields.insert(fields.end(), {{22, 2}, {bits, 2}, {3, 4}, {format, 2}, {0, 14}});
  fields.insert(fields.end(), {{LIST, 4}, {3, 4}, {0x00030201, 4}, {DATA, 4}, {size, 4}});
  std::vector<uint8_t> b;
  for (auto [value, bytes] : fields)
    for (int i = 0; i < bytes; i++) b.push_back(static_cast<uint8_t>(i < 4 ? value >> (8 * i) : 0));
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

std::string scratch(const std::vector<uint8_t> &bytes) {
  static int n = 0;
  const std::string path = testing::TempDir() + "audio_measure_" + std::to_string(n++) + ".wav";
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

TEST(AudioMeasure, ReadsIntegerWavAndRefusesTheRest) {
  // Two frames of stereo: (full positive, full negative), then (silence, half).
  struct {
    const char *what;
    std::vector<uint8_t> file;
    std::vector<float> mono;  // empty: refused
  } cases[] = {
      {"16 bits",
       wav(1, 2, 16, {0xFF, 0x7F, 0x00, 0x80, 0, 0, 0x00, 0x40}),
       {-0.5f / 32768, 0.25f}},
      {"8 bits, unsigned", wav(1, 2, 8, {255, 0, 128, 192}), {-0.5f / 128, 0.25f}},
      {"24 bits",
       wav(1, 2, 24, {0xFF, 0xFF, 0x7F, 0, 0, 0x80, 0, 0, 0, 0, 0, 0x40}),
       {-0.5f / 8388608, 0.25f}},
      {"extensible 16 bits",
       wav(1, 2, 16, {0xFF, 0x7F, 0x00, 0x80, 0, 0, 0x00, 0x40}, true),
       {-0.5f / 32768, 0.25f}},
      {"a cut-off last frame", wav(1, 2, 16, {0xFF, 0x7F, 0x00, 0x80, 0, 0}), {-0.5f / 32768}},
      {"float", wav(3, 1, 32, {0, 0, 0, 0}), {}},
      {"no channels", wav(1, 0, 16, {0, 0}), {}},
      {"12 bits", wav(1, 1, 12, {0, 0}), {}},
      {"not RIFF", {'R', 'I', 'F', 'X', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, {}},
      {"empty", {}, {}},
  };
  for (auto &c : cases) {
    Audio audio;
    std::string error;
    const bool ok = read_wav(scratch(c.file), audio, error);
    EXPECT_EQ(ok, !c.mono.empty()) << c.what << ": " << error;
    if (!ok) {
      EXPECT_FALSE(error.empty()) << c.what;
      continue;
    }
    ASSERT_EQ(audio.mono.size(), c.mono.size()) << c.what;
    for (size_t i = 0; i < c.mono.size(); i++)
      EXPECT_NEAR(audio.mono[i], c.mono[i], 1e-4) << c.what << " frame " << i;
  }
  // A file cut inside its header, and a data chunk claiming more than the file holds.
  std::vector<uint8_t> whole = wav(1, 1, 16, std::vector<uint8_t>(200, 0x10));
  Audio audio;
  std::string error;
  for (size_t cut : {size_t(20), size_t(30), size_t(60), whole.size() - 51}) {
    const bool ok =
        read_wav(scratch(std::vector<uint8_t>(whole.begin(), whole.begin() + cut)), audio, error);
    if (ok) {
      EXPECT_LE(audio.mono.size(), 100u) << cut;
    }
  }
  EXPECT_FALSE(read_wav(testing::TempDir() + "no_such_file.wav", audio, error));
}

// Decaying tone bursts starting at the given times, over a quiet held tone.
Audio bursts(const std::vector<double> &starts, int rate = 44100) {
  Audio a;
  a.rate = rate;
  a.channels = 1;
  a.mono.assign(static_cast<size_t>(rate * 3), 0.0f);
  for (size_t i = 0; i < a.mono.size(); i++)
    a.mono[i] = static_cast<float>(0.05 * std::sin(2 * PI * 220 * i / rate));
  for (double s : starts) {
    const size_t from = static_cast<size_t>(s * rate);
    for (size_t i = from; i < from + rate / 4 && i < a.mono.size(); i++) {
      const double t = static_cast<double>(i - from) / rate;
      a.mono[i] += static_cast<float>(0.5 * std::sin(2 * PI * 880 * t) * std::exp(-t / 0.02));
    }
  }
  return a;
}

TEST(AudioMeasure, OnsetsAndFigures) {
  const std::vector<double> times = {0.2, 0.45, 0.7, 1.0, 1.13, 1.5, 1.9, 2.2, 2.6};
  const std::vector<double> found = onsets(bursts(times));
  EXPECT_EQ(matched_share(times, found, 0.02), 1.0) << found.size() << " onsets found";
  EXPECT_LE(found.size(), times.size() + 1) << "the held tone gives no onsets of its own";

  struct {
    std::vector<double> reference, test;
    double share;
  } matches[] = {
      {{1, 2, 3, 4}, {1.01, 2.03, 2.99, 5}, 0.5},
      {{1, 1.01}, {1.005}, 0.5},  // each test onset counts once
      {{}, {1}, 1.0},
      {{1}, {}, 0.0},
  };
  for (const auto &m : matches) EXPECT_DOUBLE_EQ(matched_share(m.reference, m.test, 0.02), m.share);

  // A delayed copy correlates fully at its lag; a flat envelope correlates with nothing.
  const Audio a = bursts(times);
  Audio late = a;
  late.mono.insert(late.mono.begin(), 441 * 3, 0.0f);
  const Alignment aligned = best_alignment(loudness_envelope(a), loudness_envelope(late), 10);
  EXPECT_EQ(aligned.lag, 3);
  EXPECT_GT(aligned.correlation, 0.999);
  EXPECT_LT(correlation(loudness_envelope(a), loudness_envelope(late), 0), 0.9);
  EXPECT_EQ(correlation(loudness_envelope(a), std::vector<double>(300, -70.0)), 0.0);
  EXPECT_NEAR(peak_frequency(bursts({}).mono, 44100), 220.0, 1.1);
}

// A recording whose rows come 4 percent early reads as pace 1.04 against the rendering, whatever
// silence leads it; one at the same pace reads 1.
TEST(AudioMeasure, PaceOfARecording) {
  std::vector<double> times, early;
  for (double t = 0.1; t < 2.8; t += 0.13 + 0.05 * std::sin(t * 7)) times.push_back(t);
  for (double t : times) early.push_back(0.4 + t / 1.04);
  const auto level = [](const std::vector<double> &starts) {
    return level_envelope(bursts(starts));
  };
  const Pace same = pace_against(level(times), level(times), 0.9, 1.1, 0.0025, 100);
  EXPECT_NEAR(same.pace, 1.0, 0.001);
  EXPECT_GT(same.correlation, 0.99);
  const Pace fast = pace_against(level(times), level(early), 0.9, 1.1, 0.0025, 100);
  EXPECT_NEAR(fast.pace, 1.04, 0.006);
  EXPECT_NEAR(fast.lag, -40 * 1.04, 3);
  EXPECT_GT(fast.correlation, 0.9);
}

// Tones held 60 ms each, as an arpeggio plays them: `cents` away from the notes given in Hz,
// after `delay` seconds of silence.
Audio melody(const std::vector<double> &notes, const std::vector<double> &cents, double delay = 0) {
  Audio a;
  a.rate = 44100, a.channels = 1;
  a.mono.assign(static_cast<size_t>(delay * a.rate), 0.0f);
  double phase = 0;
  for (size_t n = 0; n < notes.size(); n++) {
    const double hz = notes[n] * std::pow(2.0, cents[n % cents.size()] / 1200);
    for (int i = 0; i < a.rate * 6 / 100; i++, phase += 2 * PI * hz / a.rate)
      a.mono.push_back(static_cast<float>(0.5 * std::sin(phase)));
  }
  return a;
}

// Pitch tracks agree where the notes agree: an arpeggio one third of whose steps are 25 cents
// sharp agrees on about two thirds; a whole song tuned apart agrees fully and names the interval.
TEST(AudioMeasure, PitchAgreement) {
  std::vector<double> notes;
  for (int i = 0; i < 30; i++)
    notes.push_back(523.25 * std::pow(2.0, (i % 3 == 0 ? 0 : i % 3 == 1 ? 4 : 7) / 12.0));
  const std::vector<double> reference = pitch_track(melody(notes, {0}), 0.01, -40);
  const struct {
    const char *what;
    std::vector<double> cents;
    double delay;
    int lag;
    double share_low, share_high, offset;
  } cases[] = {
      {"the same", {0}, 0, 0, 1, 1, 0},
      {"17 cents flat throughout", {-17}, 0, 0, 1, 1, -17},
      {"every third note 25 cents sharp", {0, 25, 0}, 0, 0, 0.55, 0.75, 0},
      {"every note a semitone up", {100}, 0, 0, 1, 1, 100},
      {"30 ms late, at its lag", {0}, 0.03, 3, 1, 1, 0},
      {"30 ms late, unaligned", {0}, 0.03, 0, 0.2, 0.6, 0},
  };
  for (const auto &c : cases) {
    const PitchAgreement p = pitch_agreement(
        reference, pitch_track(melody(notes, c.cents, c.delay), 0.01, -40), c.lag, 15);
    EXPECT_GE(p.share, c.share_low) << c.what;
    EXPECT_LE(p.share, c.share_high) << c.what;
    EXPECT_NEAR(p.offset_cents, c.offset, 3) << c.what;
  }
  EXPECT_EQ(pitch_track(melody(notes, {0}), 0.01, 0).size(), reference.size());
  EXPECT_EQ(pitch_track(melody(notes, {0}), 0.01, 0)[5], 0.0) << "quieter than the floor: no pitch";
}

}  // namespace
