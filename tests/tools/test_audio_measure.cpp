// wavcompare's WAV reader: files of every integer width read, damaged ones refused. Its
// measurements are exercised by every accuracy test of tests/render and tests/realmods.
#include <gtest/gtest.h>

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
  // Two frames of stereo: (full positive, full negative), then (silence, half).
  const std::vector<uint8_t> s16 = {0xFF, 0x7F, 0x00, 0x80, 0, 0, 0x00, 0x40};
  const struct {
    const char *what;
    std::vector<uint8_t> file;
    std::vector<float> mono;  // empty: refused
  } cases[] = {
      // clang-format off
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
      // clang-format on
  };
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
  // Cut inside its header, or a data chunk claiming more than the file holds: never more frames.
  const std::vector<uint8_t> whole = wav(1, 1, 16, std::vector<uint8_t>(200, 0x10));
  for (size_t cut : {size_t(20), size_t(30), size_t(60), whole.size() - 51}) {
    Audio audio;
    std::string error;
    if (read({whole.begin(), whole.begin() + long(cut)}, audio, error)) {
      EXPECT_LE(audio.mono.size(), 100u) << cut;
    }
  }
}

}  // namespace
