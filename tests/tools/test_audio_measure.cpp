// wavcompare's WAV reader: files of every integer width read, damaged ones refused; and each of
// its measurements scores a mismatch low, or the accuracy tests would pass whatever was played.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio_measure.h"

using namespace audio_measure;

namespace {

// A WAV image: fmt chunk of the given format, an extra chunk of odd size before the data, then
// the data. Each field is a value and its width in bytes.
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

// Reads `bytes` as a WAV file; its mono frames, or nothing with `error` set when refused.
bool read(const std::vector<uint8_t> &bytes, Audio &audio, std::string &error) {
  const std::string path = testing::TempDir() + "audio_measure.wav";
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return read_wav(path, audio, error);
}

TEST(AudioMeasure, ReadsIntegerWavAndRefusesTheRest) {
  // Two frames of stereo: (full positive, full negative), then (silence, half); no frames: refused.
  const std::vector<uint8_t> s16 = {0xFF, 0x7F, 0x00, 0x80, 0, 0, 0x00, 0x40};
  // 100 frames of 0x1010 cut inside the header, or with a data chunk claiming more than is left.
  const std::vector<uint8_t> whole = wav(1, 1, 16, std::vector<uint8_t>(200, 0x10));
  auto cut = [&](long size) { return std::vector<uint8_t>(whole.begin(), whole.begin() + size); };
  // clang-format off
  const struct { const char *what; std::vector<uint8_t> file; std::vector<float> mono; } cases[] = {
      {"16 bits", wav(1, 2, 16, s16), {-0.5f / 32768, 0.25f}},
      {"8 bits, unsigned", wav(1, 2, 8, {255, 0, 128, 192}), {-0.5f / 128, 0.25f}},
      {"24 bits", wav(1, 2, 24, {0xFF, 0xFF, 0x7F, 0, 0, 0x80, 0, 0, 0, 0, 0, 0x40}), {-0.5f / 8388608, 0.25f}},
      {"extensible 16 bits", wav(1, 2, 16, s16, true), {-0.5f / 32768, 0.25f}},
      {"a cut-off last frame", wav(1, 2, 16, {0xFF, 0x7F, 0x00, 0x80, 0, 0}), {-0.5f / 32768}},
      {"float", wav(3, 1, 32, {0, 0, 0, 0}), {}},
      {"no channels", wav(1, 0, 16, {0, 0}), {}},
      {"12 bits", wav(1, 1, 12, {0, 0}), {}},
      {"not RIFF", {'R', 'I', 'F', 'X', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, {}},
      {"empty", {}, {}},
      {"cut in the format chunk", cut(30), {}},
      {"cut after 2 frames", cut(60), std::vector<float>(2, 0x1010 / 32768.f)},
      {"cut after 74 frames", cut(long(whole.size()) - 51), std::vector<float>(74, 0x1010 / 32768.f)},
  };
  // clang-format on
  for (auto &c : cases) {
    Audio audio;
    std::string error;
    const bool ok = read(c.file, audio, error);
    EXPECT_EQ(ok, !c.mono.empty()) << c.what << ": " << error;
    EXPECT_EQ(ok, error.empty()) << c.what;
    ASSERT_EQ(audio.mono.size(), c.mono.size()) << c.what;
    for (size_t i = 0; i < c.mono.size(); i++)
      EXPECT_NEAR(audio.mono[i], c.mono[i], 1e-4) << c.what << " frame " << i;
  }
}

// Sides in antiphase (IT's surround): their mean is silence, their level over both sides is not.
TEST(AudioMeasure, LevelOverBothSidesKeepsAntiphase) {
  std::vector<uint8_t> data;
  for (int i = 0; i < 800; i++)  // 0.1 s at 8000 Hz: left +0x2000, right -0x2000
    data.insert(data.end(), {0x00, 0x20, 0x00, 0xE0});
  Audio audio;
  std::string error;
  ASSERT_TRUE(read(wav(1, 2, 16, data), audio, error)) << error;
  ASSERT_EQ(audio.power.size(), audio.mono.size());
  EXPECT_NEAR(level_envelope(audio)[0], 0.25, 1e-4) << "over both sides";
  audio.power.clear();
  EXPECT_NEAR(level_envelope(audio)[0], 0.000316, 1e-5) << "the mean: the floor, -70 dBFS";
}

const double PI = 3.14159265358979323846;

// Decaying tone bursts starting at the given times (seconds), over a quiet held tone.
Audio bursts(const std::vector<double> &starts) {
  Audio a;
  a.rate = 44100, a.channels = 1;
  for (int i = 0; i < 3 * 44100; i++)
    a.mono.push_back(float(0.05 * std::sin(2 * PI * 220 * i / 44100)));
  for (double s : starts)
    for (int i = 0; i < 44100 / 4 && int(s * 44100) + i < 3 * 44100; i++)
      a.mono[size_t(s * 44100) + size_t(i)] +=
          float(0.5 * std::sin(2 * PI * 880 * i / 44100) * std::exp(-i / 882.0));
  return a;
}

TEST(AudioMeasure, MatchesScoreHighAndMismatchesLow) {
  const std::vector<double> times = {0.2, 0.45, 0.7, 1.0, 1.13, 1.5, 1.9, 2.2, 2.6};
  const std::vector<double> found = onsets(bursts(times));
  EXPECT_EQ(matched_share(times, found, 0.02), 1.0) << found.size() << " onsets found";
  EXPECT_LE(found.size(), times.size() + 1) << "the held tone gives no onsets of its own";
  EXPECT_EQ(matched_share({1, 2, 3, 4}, {1.01, 2.03, 2.99, 5}, 0.02), 0.5);
  EXPECT_EQ(matched_share({1, 1.01}, {1.005}, 0.02), 0.5) << "each test onset counts once";

  // A delayed copy correlates fully at its lag only; a flat envelope with nothing.
  const std::vector<double> a = loudness_envelope(bursts(times));
  std::vector<double> late(3, -70.0);
  late.insert(late.end(), a.begin(), a.end());
  const Alignment aligned = best_alignment(a, late, 10);
  EXPECT_EQ(aligned.lag, 3);
  EXPECT_GT(aligned.correlation, 0.999);
  EXPECT_LT(correlation(a, late, 0), 0.9);
  EXPECT_EQ(correlation(a, std::vector<double>(300, -70.0)), 0.0);

  // Rows 4 percent early read as pace 1.04.
  std::vector<double> early;
  for (double t : times) early.push_back(0.2 + t / 1.04);
  const Pace fast = pace_against(level_envelope(bursts(times)), level_envelope(bursts(early)), 0.9,
                                 1.1, 0.0025, 100);
  EXPECT_NEAR(fast.pace, 1.04, 0.006);

  // Pitch: 60 ms steps of a C major arpeggio; with every E 25 cents sharp, two thirds agree.
  const auto track = [](double sharp) {
    Audio m;
    m.rate = 44100, m.channels = 1;
    double phase = 0;
    for (int n = 0; n < 30; n++) {
      const double hz = 523.25 * std::pow(2.0, ((n % 3 == 0   ? 0
                                                 : n % 3 == 1 ? 4
                                                              : 7) +
                                                (n % 3 == 1 ? sharp : 0) / 100) /
                                                   12);
      for (int i = 0; i < 44100 * 6 / 100; i++, phase += 2 * PI * hz / 44100)
        m.mono.push_back(float(0.5 * std::sin(phase)));
    }
    return pitch_track(m, 0.01, -40);
  };
  EXPECT_EQ(pitch_agreement(track(0), track(0), 0, 15).share, 1.0);
  const double share = pitch_agreement(track(0), track(25), 0, 15).share;
  EXPECT_TRUE(share > 0.55 && share < 0.75) << share;
}

}  // namespace
