// The offline mixer on its own: pitch at several rates and sample widths, ping-pong, the end of
// a sample without loop, positions, and the voice layer's switch between Allegro and the mixer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "audio_measure.h"
#include "modux.h"
#include "voice.h"

namespace {

const double PI = 3.14159265358979323846;

// An Allegro sample (unsigned data, as Allegro keeps it) from values -1..1.
struct test_sample {
  SAMPLE spl{};
  std::vector<unsigned short> data;  // 16-bit words, or 8-bit bytes packed two to a word
  test_sample(const std::vector<double> &values, int bits, int loop_start = 0, int loop_end = 0)
      : data(values.size()) {
    for (size_t i = 0; i < values.size(); i++) {
      const long v = std::lround(values[i] * (bits == 8 ? 127 : 32767)) + (bits == 8 ? 128 : 32768);
      if (bits == 8)
        reinterpret_cast<unsigned char *>(data.data())[i] = static_cast<unsigned char>(v);
      else
        data[i] = static_cast<unsigned short>(v);
    }
    spl.bits = bits, spl.freq = 1000, spl.len = values.size(), spl.data = data.data();
    spl.loop_start = loop_start, spl.loop_end = loop_end;
  }
};

std::vector<double> sine_cycles(int frames, int cycles) {
  std::vector<double> v(frames);
  for (int i = 0; i < frames; i++) v[i] = std::sin(2 * PI * cycles * i / frames);
  return v;
}

std::vector<short> mix(int frames) {
  std::vector<short> out(2 * frames);
  mixer_mix(out.data(), frames);
  return out;
}

std::vector<float> channel(const std::vector<short> &stereo, int side) {
  std::vector<float> v;
  for (size_t i = side; i < stereo.size(); i += 2) v.push_back(stereo[i] / 32768.0f);
  return v;
}

// The largest step between neighbouring frames of one side.
int largest_jump(const std::vector<short> &stereo, int side) {
  int jump = 0;
  for (size_t i = side + 2; i < stereo.size(); i += 2)
    jump = std::max(jump, std::abs(stereo[i] - stereo[i - 2]));
  return jump;
}

// One voice playing spl at hz, volume 255, fully left.
int start_voice(SAMPLE *spl, int hz, int mode) {
  const int v = mixer_allocate(spl);
  mixer_set_playmode(v, mode);
  mixer_set_frequency(v, hz);
  mixer_set_pan(v, 0);
  mixer_start(v);
  return v;
}

TEST(Mixer, SineSampleSoundsAtItsFrequency) {
  struct {
    int bits, rate, cycle_frames, voice_hz;
  } cases[] = {
      {16, 44100, 64, 28160},    // 440 Hz
      {8, 22050, 32, 32000},     // 1000 Hz
      {16, 48000, 100, 352000},  // 3520 Hz, eight frames read per output frame
      {8, 44100, 256, 8363},     // 32.67 Hz, below one frame per output frame
  };
  for (const auto &c : cases) {
    mixer_reset(c.rate);
    test_sample s(sine_cycles(c.cycle_frames, 1), c.bits, 0, c.cycle_frames);
    start_voice(&s.spl, c.voice_hz, PLAYMODE_LOOP);
    const std::vector<float> left = channel(mix(c.rate), 0);
    const double expected = static_cast<double>(c.voice_hz) / c.cycle_frames;
    EXPECT_NEAR(audio_measure::peak_frequency(left, c.rate), expected, expected * 0.005)
        << c.bits << " bits at " << c.rate << " Hz";
  }
}

// Ping-pong over a rising ramp: the output rises and falls in turn, and the position stays
// inside the loop once it has entered it. (Forward loops, clickless changes and the voice
// ramps play in every game song, whose renders are checked byte for byte.)
TEST(Mixer, PingPongLoopReverses) {
  mixer_reset(44100);
  std::vector<double> ramp(200);
  for (int i = 0; i < 200; i++) ramp[i] = -0.9 + 1.8 * i / 199;
  test_sample bidir(ramp, 16, 100, 200);
  const int v = start_voice(&bidir.spl, 44100, PLAYMODE_LOOP | PLAYMODE_BIDIR);
  std::vector<short> pp = mix(MIXER_RAMP_FRAMES + 100);  // through the ramp-in and to the loop end
  int turns = 0, direction = 0, falls = 0, rises = 0, lowest = 1 << 30, highest = -1;
  for (int block = 0; block < 10; block++) {
    pp = mix(50);
    for (size_t i = 2; i < pp.size(); i += 2) {
      const int d = pp[i] > pp[i - 2] ? 1 : pp[i] < pp[i - 2] ? -1 : 0;
      if (d != 0 && direction != 0 && d != direction) turns++;
      if (d != 0) direction = d;
      falls += d < 0;
      rises += d > 0;
    }
    EXPECT_LT(largest_jump(pp, 0), 400) << "a ping-pong turn is not a jump back to the loop start";
    const int at = mixer_get_position(v);
    lowest = std::min(lowest, at);
    highest = std::max(highest, at);
  }
  EXPECT_GE(turns, 4) << "500 frames over a 100-frame ping-pong loop turn about five times";
  EXPECT_NEAR(falls, rises, (falls + rises) / 5) << "as long down as up";
  EXPECT_GE(lowest, 100);
  EXPECT_LT(highest, 200);
}

TEST(Mixer, SampleWithoutLoopEndsAndPositionsCount) {
  mixer_reset(44100);
  test_sample once(std::vector<double>(441, 0.5), 8);
  const int v = start_voice(&once.spl, 44100, PLAYMODE_PLAY);
  EXPECT_EQ(mixer_get_position(v), 0);
  mix(100);
  EXPECT_EQ(mixer_get_position(v), 100);
  std::vector<short> out = mix(400);
  EXPECT_EQ(mixer_get_position(v), -1) << "a finished sample answers -1, as Allegro's voices do";
  for (size_t i = 2 * 345; i < out.size(); i++) EXPECT_EQ(out[i], 0) << i;

  EXPECT_EQ(mixer_allocate(nullptr), -1);
}

TEST(Mixer, VoiceLayerHandsVoicesToTheMixer) {
  mixer_reset(44100);
  ASSERT_EQ(modux_voices_on_mixer(), 0);
  modux_voices_use_mixer(-1);
  test_sample s(sine_cycles(64, 1), 16, 0, 64);
  std::vector<int> taken;
  for (int v; (v = modux_voice_allocate(&s.spl)) >= 0;) taken.push_back(v);
  EXPECT_EQ(taken.size(), static_cast<size_t>(MIXER_VOICES));
  modux_voice_set_playmode(taken[3], PLAYMODE_LOOP);
  modux_voice_set_frequency(taken[3], 28160);
  modux_voice_start(taken[3]);
  modux_voice_set_position(taken[3], 5);
  EXPECT_EQ(modux_voice_get_position(taken[3]), 5);
  const std::vector<float> left = channel(mix(8192), 0);
  EXPECT_NEAR(audio_measure::peak_frequency(left, 44100), 440.0, 2.2);
  modux_voice_deallocate(taken[3]);
  EXPECT_EQ(modux_voice_get_position(taken[3]), -1);
  EXPECT_EQ(modux_voice_allocate(&s.spl), taken[3]) << "a freed voice is handed out again";
  modux_voices_use_mixer(0);
  EXPECT_EQ(modux_voices_on_mixer(), 0);
}

}  // namespace
