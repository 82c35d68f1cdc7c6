// The offline mixer and songs rendered on it, and the IT pool of background voices. Loops, pitch
// and timing play in every game song, whose renders are checked byte for byte; IT effects and new
// note actions are heard against the reference (tests/render/itsongs, accuracy renders).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "audio_measure.h"
#include "model_builder.h"
#include "module_images.h"
#include "voice.h"

namespace {

const int RATE = 44100;
MIXER_STATE mixer;  // the mixer the mixer's own cases drive

// An Allegro sample from values -1..1: unsigned data, as Allegro keeps it, 16-bit words in
// this machine's (little-endian) order.
struct test_sample {
  SAMPLE spl{};
  std::vector<unsigned char> bytes;
  test_sample(const std::vector<double> &values, int bits, int loop_start = 0, int loop_end = 0) {
    for (double x : values) {
      const long v = std::lround(x * (bits == 8 ? 127 : 32767)) + (bits == 8 ? 128 : 32768);
      bytes.push_back(static_cast<unsigned char>(v));
      if (bits == 16) bytes.push_back(static_cast<unsigned char>(v >> 8));
    }
    spl.bits = bits, spl.freq = 1000, spl.len = values.size(), spl.data = bytes.data();
    spl.loop_start = loop_start, spl.loop_end = loop_end;
  }
};

std::vector<short> mix(int frames) {
  std::vector<short> out(2 * frames);
  mixer_mix(&mixer, out.data(), frames);
  return out;
}

// One voice playing spl at hz, volume 255, fully left.
int start_voice(SAMPLE *spl, int hz, int mode) {
  const int v = mixer_allocate(&mixer, spl);
  mixer_set_playmode(&mixer, v, mode);
  mixer_set_frequency(&mixer, v, hz);
  mixer_set_pan(&mixer, v, 0);
  mixer_start(&mixer, v);
  return v;
}

TEST(Mixer, SineSampleSoundsAtItsFrequency) {
  struct {
    int bits, rate, cycle_frames, voice_hz;
  } cases[] = {
      {8, 22050, 32, 32000},     // 1000 Hz
      {16, 48000, 100, 352000},  // 3520 Hz, eight frames read per output frame
  };
  for (const auto &c : cases) {
    mixer_reset(&mixer, c.rate);
    std::vector<double> cycle(c.cycle_frames);
    for (int i = 0; i < c.cycle_frames; i++) cycle[i] = std::sin(2 * M_PI * i / c.cycle_frames);
    test_sample s(cycle, c.bits, 0, c.cycle_frames);
    start_voice(&s.spl, c.voice_hz, PLAYMODE_LOOP);
    const std::vector<short> out = mix(c.rate);
    std::vector<float> left;
    for (size_t i = 0; i < out.size(); i += 2) left.push_back(out[i] / 32768.0f);
    const double expected = static_cast<double>(c.voice_hz) / c.cycle_frames;
    EXPECT_NEAR(audio_measure::peak_frequency(left, c.rate), expected, expected * 0.005)
        << c.bits << " bits at " << c.rate << " Hz";
  }
}

// Voices of a steady level added up: the mix grows with each one while under nine tenths of full
// scale, and beyond it rises ever more gently, never to full scale, in 16 bits and in float.
TEST(Mixer, LoudMixesBendOverTheKneeInsteadOfClipping) {
  test_sample dc(std::vector<double>(64, 0.2), 16, 0, 64);  // a tenth of full scale, fully left
  int last = 0;
  float last_float = 0;
  for (int n = 1; n <= 12; n++) {
    mixer_reset(&mixer, RATE);
    for (int i = 0; i < n; i++) start_voice(&dc.spl, RATE, PLAYMODE_LOOP);
    mix(2 * MIXER_RAMP_FRAMES);  // past the voices' ramp-in
    const int level = mix(16)[0];
    std::vector<float> f(32);
    mixer_mix_float(&mixer, f.data(), 16);
    if (n == 1) {
      EXPECT_NEAR(level, 0.1 * 32767, 200) << "one voice passes as it is";
    } else if (level < 0.9 * 32767) {
      EXPECT_NEAR(level, n * last / (n - 1), 2) << n << " voices add up under the knee";
    }
    EXPECT_GT(level, last) << n << " voices";
    EXPECT_LE(level, 32766) << n << " voices";
    EXPECT_GT(f[0], last_float) << n << " voices";
    EXPECT_LT(f[0], 1.0f) << n << " voices";
    last = level, last_float = f[0];
  }
  EXPECT_GT(last, 0.98 * 32767) << "twelve tenths of full scale come out close to it";
}

// Ping-pong over a rising ramp: the output rises and falls in turn, and the position stays
// inside the loop once it has entered it.
TEST(Mixer, PingPongLoopReverses) {
  mixer_reset(&mixer, 44100);
  std::vector<double> ramp(200);
  for (int i = 0; i < 200; i++) ramp[i] = -0.9 + 1.8 * i / 199;
  test_sample bidir(ramp, 16, 100, 200);
  const int v = start_voice(&bidir.spl, 44100, PLAYMODE_LOOP | PLAYMODE_BIDIR);
  mix(MIXER_RAMP_FRAMES + 100);  // through the ramp-in and to the loop end
  int turns = 0, direction = 0, falls = 0, rises = 0, jump = 0;
  for (int block = 0; block < 10; block++) {
    const std::vector<short> pp = mix(50);
    for (size_t i = 2; i < pp.size(); i += 2) {
      const int d = pp[i] > pp[i - 2] ? 1 : pp[i] < pp[i - 2] ? -1 : 0;
      turns += d != 0 && direction != 0 && d != direction;
      if (d != 0) direction = d;
      falls += d < 0;
      rises += d > 0;
      jump = std::max(jump, std::abs(pp[i] - pp[i - 2]));
    }
    const int at = mixer_get_position(&mixer, v);
    EXPECT_TRUE(at >= 100 && at < 200) << at;
  }
  EXPECT_LT(jump, 400) << "a ping-pong turn is not a jump back to the loop start";
  EXPECT_GE(turns, 4) << "500 frames over a 100-frame ping-pong loop turn about five times";
  EXPECT_NEAR(falls, rises, (falls + rises) / 5) << "as long down as up";
}

// Every resampler on looped 16-bit sines, each case from a fresh mixer through a voice fully
// left: a held sine of an 8-frame period keeps its level and, but for what the resampler adds,
// its shape (the best-fitting sine leaves over less than max_distortion); a tone above half the
// output rate comes out at most max_fold (against its in-band level), which only the windowed
// sinc removes; and a note's start, a jump of its position and its stop glide, every second
// difference of the output at least 35 dB under full scale. Read near both ends of the
// loop and across it, at steps that turn on every part of the mixing loop.
TEST(Mixer, ResamplersKeepSinesCleanAndNotesSmooth) {
  const struct {
    int resampler;
    double max_distortion, max_fold;
  } cases[] = {{MIXER_NEAREST, -10, 1},
               {MIXER_LINEAR, -30, 1},
               {MIXER_CUBIC, -42, 1},
               {MIXER_SINC, -80, -80}};
  std::vector<double> high(512), low(640);
  for (int i = 0; i < 512; i++) high[i] = 0.9 * std::sin(2 * M_PI * i / 8);
  for (int i = 0; i < 640; i++) low[i] = 0.9 * std::cos(2 * M_PI * i / 64);  // starts at its peak
  test_sample s8(high, 16, 0, 512), s64(low, 16, 0, 640);
  auto left = [](const std::vector<float> &out, int from) {
    std::vector<float> l;
    for (size_t i = 2 * from; i < out.size(); i += 2) l.push_back(out[i]);
    return l;
  };
  for (const auto &c : cases) {
    auto play = [&](test_sample &t, double step, int frames) {
      mixer_reset(&mixer, RATE);
      mixer_set_resampler(&mixer, c.resampler);
      const int v = start_voice(&t.spl, static_cast<int>(std::lround(step * RATE)), PLAYMODE_LOOP);
      std::vector<float> out(2 * frames);
      mixer_mix_float(&mixer, out.data(), frames);
      return std::make_pair(v, out);
    };
    const audio_measure::SineFit fit =
        audio_measure::fit_sine(left(play(s8, 0.9, 9000).second, 1000), 0.9 / 8);
    EXPECT_LT(fit.residual_db, c.max_distortion) << c.resampler;
    EXPECT_NEAR(fit.amplitude, 0.45, 0.45 * 0.1) << c.resampler;  // 0.9 at voice level 0.5
    double folded = 0;
    for (float x : left(play(s8, 6.3, 9000).second, 1000)) folded += x * x / 8000;
    EXPECT_LT(10 * std::log10(folded / (0.45 * 0.45 / 2) + 1e-30), c.max_fold) << c.resampler;

    auto [voice, out] = play(s64, 0.77, 3000);
    mixer_set_position(&mixer, voice, 300);  // at a trough: the old sound and the new are apart
    std::vector<float> more(2 * 3000);
    mixer_mix_float(&mixer, more.data(), 1500);
    mixer_stop(&mixer, voice);
    mixer_mix_float(&mixer, more.data() + 2 * 1500, 1500);
    out.insert(out.end(), more.begin(), more.end());
    const std::vector<float> l = left(out, 0);
    double worst = 0;
    for (size_t i = 2; i < l.size(); i++)
      worst = std::max(worst, std::fabs(l[i] - 2.0 * l[i - 1] + l[i - 2]));
    // Held frames jump by themselves, as loud as a click: the nearest frame is left out.
    if (c.resampler != MIXER_NEAREST) {
      EXPECT_LT(20 * std::log10(worst), -35) << c.resampler;
    }
  }
  mixer_set_resampler(&mixer, MIXER_LINEAR);
}

// Samples of 1 to 17 frames, without loop, looped and ping-pong, at steps from 0 to 70 frames
// per output frame: every resampler reads only the sample and stays within the output's range.
TEST(Mixer, ResamplersStayInsideTinySamples) {
  for (int resampler : {MIXER_NEAREST, MIXER_LINEAR, MIXER_CUBIC, MIXER_SINC})
    for (int length : {1, 2, 3, 17})
      for (int mode : {PLAYMODE_PLAY, PLAYMODE_LOOP, PLAYMODE_LOOP | PLAYMODE_BIDIR})
        for (double step : {0.0, 0.37, 1.0, 9.3, 70.0}) {
          mixer_reset(&mixer, RATE);
          mixer_set_resampler(&mixer, resampler);
          std::vector<double> values(length);
          for (int i = 0; i < length; i++) values[i] = i % 2 ? -1.0 : 1.0;
          test_sample t(values, 16, length > 2 ? 1 : 0, length);
          const int v = start_voice(&t.spl, static_cast<int>(step * RATE), mode);
          std::vector<float> out(2 * 700);
          mixer_mix_float(&mixer, out.data(), 700);
          for (float x : out) ASSERT_TRUE(std::fabs(x) <= 1.0f) << resampler << " " << length;
          if (mode == PLAYMODE_PLAY && step > 0) {
            EXPECT_EQ(mixer_get_position(&mixer, v), -1) << "a sample without loop ends";
          }
        }
  mixer_set_resampler(&mixer, MIXER_LINEAR);
}

// A voice a quarter from the left: its sides take 3/4 and 1/4 of its level, or their square roots.
TEST(Mixer, PanLawsShareTheLevelBetweenTheSides) {
  for (int square_root : {0, -1}) {
    mixer_reset(&mixer, RATE);
    mixer_set_square_root_pan(&mixer, square_root);
    test_sample t(std::vector<double>(64, 1.0), 16, 0, 64);
    mixer_set_pan(&mixer, start_voice(&t.spl, RATE, PLAYMODE_LOOP), 64);
    std::vector<float> out(2 * 700);
    mixer_mix_float(&mixer, out.data(), 700);
    const double left = out[1398], right = out[1399];
    EXPECT_NEAR(left / right, square_root ? std::sqrt(3.0) : 191.0 / 64, 0.01) << square_root;
  }
  mixer_set_square_root_pan(&mixer, 0);
}

// A surround voice sounds at the centre's level on the left and inverted on the right, whatever
// its pan and resampler; out of surround it plays its pan again.
TEST(Mixer, SurroundInvertsTheRightSideAtTheCentresLevel) {
  for (int resampler : {MIXER_NEAREST, MIXER_LINEAR, MIXER_CUBIC, MIXER_SINC}) {
    mixer_reset(&mixer, RATE);
    mixer_set_resampler(&mixer, resampler);
    test_sample t(std::vector<double>(64, 1.0), 16, 0, 64);
    const int v = start_voice(&t.spl, RATE, PLAYMODE_LOOP);
    mixer_set_surround(&mixer, v, -1);
    std::vector<float> out(2 * 700);
    mixer_mix_float(&mixer, out.data(), 700);
    const float left = out[1398], right = out[1399];
    mixer_set_surround(&mixer, v, 0);
    mixer_set_pan(&mixer, v, 128);
    mixer_mix_float(&mixer, out.data(), 700);
    EXPECT_GT(left, 0.1f) << resampler;
    EXPECT_EQ(right, -left) << resampler;
    EXPECT_NEAR(left, out[1398], 1e-6) << resampler;
    EXPECT_GT(out[1399], 0.1f) << resampler;
  }
  mixer_set_resampler(&mixer, MIXER_LINEAR);
}

// Through the voice layer switched to the mixer: every mixer voice can be taken, then none; a
// freed voice answers -1 and is handed out again.
TEST(Mixer, VoiceLayerHandsOutEveryMixerVoiceOnce) {
  mixer_reset(&default_player.mixer, 44100);
  modux_voices_use_mixer(&default_player, -1);
  test_sample s(std::vector<double>(64, 0.5), 16, 0, 64);
  EXPECT_EQ(mixer_allocate(&default_player.mixer, nullptr), -1);
  std::vector<int> taken;
  for (int v; (v = modux_voice_allocate(&default_player, &s.spl)) >= 0;) taken.push_back(v);
  EXPECT_EQ(taken.size(), static_cast<size_t>(MIXER_VOICES));
  modux_voice_deallocate(&default_player, taken[3]);
  EXPECT_EQ(modux_voice_get_position(&default_player, taken[3]), -1);
  EXPECT_EQ(modux_voice_allocate(&default_player, &s.spl), taken[3]);
  modux_voices_use_mixer(&default_player, 0);
  EXPECT_EQ(modux_voices_on_mixer(&default_player), 0);
}

// A one-channel song of 8-row patterns playing a looped square of 32 frames of 16 bits; cells
// are given as {pattern, row, cell}.
struct placed {
  int pattern, row;
  NOTE_INFO c;
};
MODUX *song(int patterns, std::vector<int> orders, const std::vector<placed> &cells) {
  MODUX *m = model::module(1, 8, 0, patterns, 1);
  std::vector<uint8_t> square;
  for (int i = 0; i < 32; i++) {
    const int v = i < 16 ? 20000 : 45000;
    square.push_back(v & 0xFF), square.push_back(v >> 8);
  }
  model::set_sample(m, 0, 32, 16, 0, 32, 1, square);
  m->order_count = static_cast<int>(orders.size());
  std::copy(orders.begin(), orders.end(), m->order_table);
  for (const placed &p : cells) model::cell(m, p.row, 0, p.pattern) = p.c;
  return m;
}

// The whole render of a song, by render_mod or by a C player.
std::vector<short> render_all(MODUX *mod, modux_player *player = nullptr, int rate = RATE) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  std::vector<short> out, block(2 * 1000);
  EXPECT_EQ(player ? modux_player_play(player, mod) : render_mod_start(mod, rate) - 1, 0);
  for (long got; (got = player ? modux_player_render_s16(player, block.data(), 1000)
                               : render_mod(block.data(), 1000)) > 0;)
    out.insert(out.end(), block.begin(), block.begin() + 2 * got);
  EXPECT_EQ(player ? -1 : render_mod_finished(), -1);
  if (!player) render_mod_stop();
  return out;
}

// Output frames of n ticks at this tempo: the timer period of one tick, counted at the rate.
long tick_frames(long ticks, int tempo, int rate = RATE) {
  return static_cast<long>(ticks * static_cast<long long>(rate) * mod_timer_period(tempo, 100) /
                           TIMERS_PER_SECOND);
}

const NOTE_INFO NOTE{1, 8363, 0, 0, 0};  // middle C

NOTE_INFO command(int code, int param) { return NOTE_INFO{0, 0, 0, code, param}; }

// Each song renders to its end, at the loop point, and leaves the control interface's player
// alone; bad calls are refused.
TEST(Render, SongLengthFollowsRowsJumpsLoopsAndDelays) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  EXPECT_EQ(render_mod_start(nullptr, RATE), -1);
  EXPECT_NE(modux_error[0], '\0');
  short buffer[2 * 16];
  EXPECT_EQ(render_mod(buffer, 16), 0) << "nothing renders before a start";
  // clang-format off
  struct { const char *what; MODUX *m; long ticks /* at 125 BPM */; int rate = RATE; } cases[] = {
      {"8 rows at speed 6", song(1, {0}, {{0, 0, NOTE}}), 48},
      {"half the rate, half the frames", song(1, {0}, {{0, 0, NOTE}}), 48, 22050},
      {"a jump back to the start ends at the loop point",
       song(2, {0, 1}, {{0, 0, NOTE}, {1, 3, command(CMD_POSITION_JUMP, 0)}}), 12 * 6},
      {"a break into the middle of a played pattern ends there",
       song(2, {0, 1}, {{1, 7, command(CMD_POSITION_JUMP, 0)}, {1, 7, command(CMD_PATTERN_BREAK, 4)}}), 16 * 6},
      {"a pattern loop plays its rows three times",
       song(1, {0}, {{0, 2, command(CMD_EXTENDED, 0x60)}, {0, 5, command(CMD_EXTENDED, 0x62)}}), 16 * 6},
      {"a pattern loop, then a jump back",
       song(1, {0}, {{0, 2, command(CMD_EXTENDED, 0x60)}, {0, 5, command(CMD_EXTENDED, 0x62)},
                     {0, 7, command(CMD_POSITION_JUMP, 0)}}),
       16 * 6},
      {"a pattern delay adds its ticks", song(1, {0}, {{0, 1, command(CMD_EXTENDED, 0xE2)}}), 60},
  };
  // clang-format on
  for (const auto &c : cases) {
    const long frames = static_cast<long>(render_all(c.m, nullptr, c.rate).size() / 2);
    EXPECT_NEAR(frames, tick_frames(c.ticks, 125, c.rate) + MIXER_RAMP_FRAMES, 1) << c.what;
    destroy_mod(c.m);
    EXPECT_EQ(
        (std::tuple{modux_voices_on_mixer(&default_player), mod_init, of, render_mod(buffer, 16)}),
        (std::tuple{0, 0, nullptr, 0L}));
  }
}

// Four positions of notes, slides and vibrato: about 4 seconds.
MODUX *busy_song() {
  const NOTE_INFO up = command(CMD_PORTA_UP, 3), vibrato = command(CMD_VIBRATO, 0x48);
  return song(2, {0, 1, 0, 1}, {{0, 0, NOTE}, {0, 4, up}, {1, 0, NOTE}, {1, 2, vibrato}});
}

// A render and a C player, each on a player of its own, sound the same whatever the control
// interface's player does on other threads meanwhile (a timer thread ticking it, control calls);
// a C player renders what render_mod renders; the engine installs after a render.
// An imported module plays at its tracker's mix level, as the reference plays it: one voice of a
// square wave at full volume gives left plus right of a share of its amplitude (MOD: 2 / channels,
// S3M: its master volume / 128, 8/11 of it in mono, XM: 48 / 128, IT: its mixing volume / 128).
TEST(Render, ImportedModulesPlayAtTheirTrackersLevel) {
  using namespace modimg;
  bytes square;
  for (int i = 0; i < 64; i++) square.push_back(static_cast<uint8_t>(i < 32 ? 100 : -100));
  mod_image m4, m8;
  m8.signature = "8CHN", m8.channels = 8, m8.patterns[0].assign(64 * 8, mod_cell{});
  for (mod_image *m : {&m4, &m8})
    m->patterns[0][0] = {1, 428, 0, 0}, m->samples = {{32, 0, 64, 0, 32, square}};
  s3m_image s;
  s.samples = {{1, true, 64, 0, 64, 64, 1, 8363, square}};
  for (uint8_t &b : s.samples[0].data) b ^= 0x80;  // unsigned
  s.patterns[0] = {{0, 0, 0x40, 1, -1, -1, 0}};
  bytes s3m_mono = build_s3m(s);
  s3m_mono[0x33] = 0x30;
  xm_image x;
  x.instruments = {xm_instrument{}};
  x.instruments[0].samples = {{64, 0, 64, 64, 0, 1, 128, 0, {}}};
  for (int i = 0; i < 64; i++)
    x.instruments[0].samples[0].data.push_back(i == 0 ? 100 : i == 32 ? 56 : 0);
  x.patterns[0].packed = {0x83, 49, 1, 0x80};
  x.patterns[0].packed.resize(4 + 63 * 2, 0x80);
  itw::song loud;
  loud.mix_volume = 128, loud.instruments.resize(1), loud.samples.resize(1);
  loud.samples[0].flags = 1 | 16, loud.samples[0].length = loud.samples[0].loop_end = 64;
  loud.samples[0].data = square;
  loud.patterns[0].cells = {{0, 0, 60, 1, -1, 0, 0}};
  itw::song usual = loud;
  usual.mix_volume = 48;
  // Old ModPlug Tracker's files: 8 channels (up to the last one used) play at half the level.
  itw::song modplug = loud;
  modplug.tracker = 0x217, modplug.compatible = 0x200;
  modplug.patterns[0].cells.push_back({0, 7, -1, 0, 0, 0, 0});
  xm_image x_modplug = x;
  x_modplug.tracker = "FastTracker v2.00   ";  // its song name is padded with zeros
  const struct {
    const char *what;
    bytes file;
    double share;
  } cases[] = {{"MOD 4 channels", build_mod(m4), 0.5},
               {"MOD 8 channels", build_mod(m8), 0.25},
               {"S3M", build_s3m(s), 48 / 128.0},
               {"S3M mono", s3m_mono, 35 / 128.0},
               {"XM", build_xm(x), 48 / 128.0},
               {"IT mixing volume 128", itw::build(loud), 1},
               {"IT mixing volume 48", itw::build(usual), 48 / 128.0},
               {"IT from ModPlug Tracker", itw::build(modplug), 0.5},
               {"XM from ModPlug Tracker", build_xm(x_modplug), 48 / 128.0 * 2 / 3}};
  for (const auto &c : cases) {
    MODUX *mod = modux_module_load_memory(c.file.data(), c.file.size(), nullptr);
    ASSERT_NE(mod, nullptr) << c.what;
    const std::vector<short> out = render_all(mod);
    destroy_mod(mod);
    int most = 0;
    for (size_t k = 2 * RATE / 10; k + 1 < out.size() && k < 2 * RATE / 2; k += 2)
      most = std::max(most, std::abs(out[k] + out[k + 1]));
    EXPECT_NEAR(most / 32767.0, c.share * 100 / 128, 0.01) << c.what;
  }
}

// IT's pans row by row (a note a row, a constant sample): S91 turns the channel to surround; a note
// whose instrument has a pan plays out of it, the next one without in it again; X80 ends it. A
// panbrello's swing holds on the empty row after it until a pan is set; S50 starts its wave again.
TEST(Render, ItSurroundAndPanbrelloHold) {
  itw::song s;
  s.instruments.resize(2), s.instruments[1].pan = 0, s.samples.resize(1);
  s.samples[0].flags = 1 | 16, s.samples[0].length = s.samples[0].loop_end = 64;
  s.samples[0].data.assign(64, 100);
  s.patterns[0].rows = 13;
  const int S = 19, X = 24, Y = 25;
  s.patterns[0].cells = {{0, 0, 60, 1, -1, S, 0x91},  {2, 0, 60, 2, -1, 0, 0},
                         {4, 0, 60, 1, -1, 0, 0},     {6, 0, -1, 0, -1, X, 0x80},
                         {7, 0, -1, 0, -1, Y, 0x4F},  {9, 0, -1, 0, -1, X, 0x80},
                         {10, 0, -1, 0, -1, S, 0x50}, {11, 0, -1, 0, -1, Y, 0x4F}};
  const itw::bytes file = itw::build(s);
  MODUX *mod = modux_module_load_memory(file.data(), file.size(), nullptr);
  ASSERT_NE(mod, nullptr);
  const std::vector<short> out = render_all(mod);
  destroy_mod(mod);
  const long row = tick_frames(6, 125);
  ASSERT_GE(out.size(), static_cast<size_t>(2 * 13 * row));
  auto side = [&](int r, int k) { return out[2 * (r * row + row / 2) + k]; };
  for (int r : {0, 4}) EXPECT_EQ(side(r, 1), -side(r, 0)) << "surround, row " << r;
  EXPECT_EQ((std::pair{side(2, 0) > 1000, side(2, 1)}), (std::pair{true, short{0}}));
  for (int r : {6, 9}) EXPECT_NEAR(side(r, 0), side(r, 1), 100) << "centre, row " << r;
  EXPECT_GT(side(8, 1) - side(8, 0), 1000) << "the swing holds";
  EXPECT_EQ((std::pair{side(12, 0), side(12, 1)}), (std::pair{side(8, 0), side(8, 1)}));
}

TEST(Players, RendersBesideTheDefaultPlayer) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  install_sound(DIGI_NONE, MIDI_NONE, nullptr);
  modux_install_int = [](void (*)(void), long) { return 0; };
  modux_remove_int = [](void (*)(void)) {};
  MODUX *mod = busy_song();
  modux_player *player = modux_player_create();
  const std::vector<short> alone = render_all(mod);
  ASSERT_GT(alone.size(), 2u * RATE);
  EXPECT_EQ(render_all(mod, player), alone);
  ASSERT_EQ(install_mod(8), 1) << modux_error;
  play_mod(mod, -1);
  std::atomic<int> done{0}, ticks{0};
  std::thread timer([&] {
    for (; !done; ticks++) mod_interrupt();
  });
  std::thread control([&] {
    while (!done) set_mod_volume(100), next_mod_track(), toggle_pause_mode(), toggle_pause_mode();
  });
  // Renders again until the tick has run often beside them (a render takes milliseconds).
  for (int round = 0; round < 1000 && (round == 0 || ticks <= 100); round++) {
    const bool same = render_all(mod) == alone && render_all(mod, player) == alone;
    EXPECT_TRUE(same) << "round " << round;
    if (!same) break;
  }
  done = 1;
  timer.join(), control.join();
  EXPECT_EQ((std::pair{is_mod_playing(), ticks > 100}), (std::pair{-1, true}));
  remove_mod();
  modux_player_destroy(player);
  destroy_mod(mod);
}

// destroy_mod of a module that render_mod and a C player render on two threads: both renders
// stop before the module goes, and end early (the C player's song would play for ever).
TEST(Players, DestroyingAModuleStopsItsRenders) {
  MODUX *mod = busy_song();
  mod->order_count = MODUX_MAX_ORDERS;  // 256 positions, 0 and 1 in turn: 245 seconds
  for (int o = 0; o < MODUX_MAX_ORDERS; o++) mod->order_table[o] = o % 2;
  modux_player *player = modux_player_create();
  modux_player_set_option(player, MODUX_OPTION_REPEAT, -1);
  ASSERT_EQ(modux_player_play(player, mod), MODUX_OK);
  ASSERT_EQ(render_mod_start(mod, RATE), 1);
  std::atomic<long> frames[2] = {0, 0};
  auto renders = [&](int which) {
    short b[2 * 64];
    for (long got; (got = which ? render_mod(b, 64) : modux_player_render_s16(player, b, 64)) > 0;)
      frames[which] += got;
  };
  std::thread c(renders, 0), r(renders, 1);
  while (frames[0] < RATE / 10 || frames[1] < RATE / 10) std::this_thread::yield();
  destroy_mod(mod);
  c.join(), r.join();
  EXPECT_LT(frames[1], 200 * RATE);
  EXPECT_EQ(render_mod_finished(), -1);
  render_mod_stop();
  modux_player_destroy(player);
}

// Frames of one tick at 125 BPM.
const int TICK = RATE * 5 / 2 / 125;

// A one-channel song at speed 6 of cells on channel 0: instrument 1, whose new notes continue
// in the background, plays a looping 8-bit square that sounds until stopped.
itw::song it_song(const std::vector<itw::cell> &cells) {
  itw::song s;
  itw::instrument i;
  i.nna = 1;
  s.instruments = {i};
  s.samples.resize(1);
  itw::sample &q = s.samples[0];
  q.flags = 1 | 16, q.length = 64, q.loop_start = 0, q.loop_end = 64;
  for (int k = 0; k < 64; k++) q.data.push_back(k < 32 ? 100 : 156);
  s.patterns[0].cells = cells;
  return s;
}

class PlayIt : public ::testing::Test {
 protected:
  void TearDown() override {
    modux_player_destroy(player);
    destroy_mod(mod);
    std::remove(path.c_str());
  }
  // Loads the song and starts rendering it.
  void start(const itw::song &s) {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    path = ::testing::TempDir() + "render_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".it";
    ASSERT_TRUE(modimg::write_file(path, itw::build(s)));
    mod = load_mod(path.c_str());
    ASSERT_NE(mod, nullptr) << modux_error;
    ASSERT_EQ(modux_player_play(player, mod), MODUX_OK) << modux_player_message(player);
  }
  // Renders until just before tick `tick` (the first tick runs at frame 0).
  void run_to(int tick) {
    std::vector<short> buf(2 * TICK);
    const long want = static_cast<long>(tick) * TICK - TICK / 2;
    while (at < want) {
      const long n = want - at < TICK ? want - at : TICK;
      const long got = modux_player_render_s16(player, buf.data(), n);
      if (got <= 0) break;
      at += got;
    }
  }
  modux_player *player = modux_player_create();
  MODUX *mod = nullptr;
  std::string path;
  long at = 0;
};

TEST_F(PlayIt, TheBackgroundPoolGivesUpTheQuietest) {
  // A new note every row on each of 4 channels, notes continuing: the pool fills to its size
  // and stays there, the pattern channels always playing. Older notes are quieter (a volume
  // column that falls row by row), so the ones given up are the oldest.
  itw::song s = it_song({});
  s.speed = 1;
  s.patterns[0].rows = 64;
  for (int r = 0; r < 64; r++)
    for (int ch = 0; ch < 4; ch++) s.patterns[0].cells.push_back({r, ch, 40 + ch, 1, 64 - r, 0, 0});
  start(s);
  ASSERT_GE(background_voices(player), BACKGROUND_VOICES);
  run_to(20);
  EXPECT_EQ(background_sounding(player), 19 * 4);
  run_to(60);
  EXPECT_EQ(background_sounding(player), BACKGROUND_VOICES);
  int quietest = 255;
  for (const NOTE_STATE &n : player->background)
    if (n.active) quietest = std::min(quietest, n.loudness);
  for (int ch = 0; ch < 4; ch++) EXPECT_NE(player->ci[ch].sounding.active, 0) << ch;
  // Rows 0 to 26 went (27 x 4 = 108 given up, 4 x 59 - 128 of them): none left of row 0.
  EXPECT_GT(quietest, 0);
}

TEST_F(PlayIt, BackgroundNotesKeepTheirChannelsVolume) {
  // Channel volume 16 (M10); the first note, pushed into the background, sounds as quietly as
  // the note that replaced it.
  start(it_song({{0, 0, 60, 1, -1, 13, 0x10}, {2, 0, 60, 1, -1, 0, 0}}));
  run_to(16);
  ASSERT_EQ(background_sounding(player), 1);
  for (const NOTE_STATE &n : player->background)
    EXPECT_EQ(n.active ? n.loudness : player->ci[0].sounding.loudness,
              player->ci[0].sounding.loudness);
}

}  // namespace
