// Synthesis: pitched instruments keep their pitch and loop seamlessly, one-shots decay to
// silence, effects last as written, levels land on their peak, and bad settings are refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "source.h"
#include "synth.h"

namespace {

sound::Instrument instrument(const std::string &text) {
  auto all = sound::parse_instruments("i.txt", text);
  EXPECT_EQ(all.size(), 1u);
  return all.begin()->second;
}

int peak_of(const std::vector<int16_t> &f, size_t from = 0, size_t to = SIZE_MAX) {
  int p = 0;
  for (size_t i = from; i < f.size() && i < to; i++) p = std::max(p, std::abs(int(f[i])));
  return p;
}

// Upward zero crossings over [from, to), the wave taken as repeating (to wraps to from).
int rising_crossings(const std::vector<int16_t> &f, size_t from, size_t to) {
  int n = 0;
  for (size_t i = from; i < to; i++) {
    int a = f[i], b = f[i + 1 < to ? i + 1 : from];
    if (a < 0 && b >= 0) n++;
  }
  return n;
}

TEST(Synth, LoopedInstrumentHoldsItsPitchAndJoinsSeamlessly) {
  auto ins = instrument("instrument s\n  cycle 32\n  loop 8\n  volume 33\n  peak 0.5\n"
                        "  voice wave=sine attack=0.01 decay=0.1 sustain=0.6\n");
  auto s = sound::render_instrument(ins, "i.txt");
  EXPECT_EQ(s.tuning, 16726);  // C5 plays it at its own rate
  EXPECT_EQ(s.volume, 33);
  EXPECT_EQ(s.loop_end - s.loop_start, 8 * 32);
  EXPECT_EQ(size_t(s.loop_end), s.frames.size());
  EXPECT_GE(s.loop_start, int(0.11 * 16726));  // after the envelope has settled
  EXPECT_EQ(peak_of(s.frames), int(std::lround(0.5 * 32767)));
  EXPECT_EQ(rising_crossings(s.frames, size_t(s.loop_start), size_t(s.loop_end)), 8);
  // The jump from the loop's end back to its start is one ordinary step of the wave.
  int jump = std::abs(s.frames[size_t(s.loop_start)] - s.frames[size_t(s.loop_end - 1)]);
  int step = std::abs(s.frames[size_t(s.loop_start + 1)] - s.frames[size_t(s.loop_start)]);
  EXPECT_LE(jump, step * 2 + 200);
}

TEST(Synth, HomeNoteSetsTheTimingNotTheTuning) {
  auto at_c5 = instrument("instrument b\n  cycle 64\n  voice wave=triangle attack=0.001 decay=0.2 sustain=0\n");
  auto at_c3 = instrument("instrument b\n  cycle 64\n  home C3\n  voice wave=triangle attack=0.001 decay=0.2 sustain=0\n");
  auto a = sound::render_instrument(at_c5, "i.txt"), b = sound::render_instrument(at_c3, "i.txt");
  EXPECT_EQ(a.tuning, 33452);
  EXPECT_EQ(b.tuning, 33452);
  EXPECT_EQ(a.loop_end, 0);
  // Two octaves down the sample plays four times slower, so it holds a quarter of the frames.
  EXPECT_NEAR(double(b.frames.size()) / double(a.frames.size()), 0.25, 0.01);
  // Frames per cycle stay 64: count cycles over the first 0.1 s at home.
  size_t span = size_t(0.1 * 33452 / 4);
  EXPECT_NEAR(rising_crossings(b.frames, 0, span), int(span / 64), 1);
}

TEST(Synth, OneShotsDecayToSilence) {
  auto kick = instrument("instrument k\n  rate 33452\n  voice wave=sine freq=170->48 glide=0.09 decay=0.2 sustain=0\n");
  auto s = sound::render_instrument(kick, "i.txt");
  EXPECT_EQ(s.tuning, 33452);
  EXPECT_NEAR(double(s.frames.size()) / 33452, 0.202, 0.002);
  EXPECT_GT(peak_of(s.frames, 0, 2000), 10000);
  EXPECT_LT(peak_of(s.frames, s.frames.size() - 300), 400);
  EXPECT_EQ(s.frames.back(), 0);
}

TEST(Synth, EffectsLastAsWrittenAndPlayTheirNotes) {
  auto fx = sound::parse_effects("e.txt", "effect 3 two\n  rate 22050\n  peak 0.6\n"
                                          "  voice wave=sine notes=A4,A5 step=0.1 attack=0.001 decay=0.05 sustain=0.8\n");
  ASSERT_EQ(fx.size(), 1u);
  EXPECT_EQ(fx[0].number, 3);
  auto s = sound::render_effect(fx[0], "e.txt");
  EXPECT_EQ(s.rate, 22050);
  EXPECT_NEAR(double(s.frames.size()) / 22050, 0.2, 0.001);
  EXPECT_EQ(peak_of(s.frames), int(std::lround(0.6 * 32767)));
  EXPECT_NEAR(rising_crossings(s.frames, 100, 2205), 440 * 0.095, 2);  // A4 for the first step
  EXPECT_NEAR(rising_crossings(s.frames, 2300, 4300), 880 * 2000 / 22050.0, 2);  // then A5
}

TEST(Synth, RefusesWhatCannotBeRendered) {
  struct Case {
    const char *text;
    const char *message;
  } cases[] = {
      {"instrument x\n  cycle 32\n  voice wave=buzz\n", "unknown wave"},
      {"instrument x\n  cycle 32\n  voice wave=pulse duty=1.5 len=1\n", "duty must lie"},
      {"instrument x\n  cycle 32\n  voice wave=pulse colour=red len=1\n", "unknown voice setting"},
      {"instrument x\n  cycle 24\n  voice len=1\n", "cycle must be"},
      {"instrument x\n  voice len=1\n", "either cycle"},
      {"instrument x\n  cycle 32\n  loop 8\n  voice ratio=1.3\n", "does not repeat within the loop"},
      {"instrument x\n  cycle 32\n  loop 8\n  voice vib=5 vibdepth=1\n", "vibrato cannot be baked"},
      {"instrument x\n  cycle 32\n  voice freq=440 len=1\n", "take ratio="},
      {"instrument x\n  rate 20000\n  voice wave=sine len=1\n", "needs freq="},
      {"instrument x\n  cycle 32\n  voice wave=pulse len=1 gain\n", "key=value"},
      {"  cycle 32\n", "to start a block"},
  };
  for (const auto &c : cases) {
    try {
      auto all = sound::parse_instruments("i.txt", c.text);
      for (auto &[name, ins] : all) sound::render_instrument(ins, "i.txt");
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const sound::SourceError &e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  // Rendering checks: a loop that is not periodic, a one-shot that never ends.
  struct RenderCase {
    const char *text;
    const char *message;
  } renders[] = {
      {"instrument x\n  cycle 32\n  loop 8\n  voice wave=noise sustain=0.5\n", "does not repeat seamlessly"},
      {"instrument x\n  cycle 32\n  voice wave=pulse sustain=0.5\n", "plays once"},
      {"instrument x\n  cycle 32\n  loop 8\n  voice wave=pulse len=0.1\n", "needs a voice without len"},
  };
  for (const auto &c : renders) {
    auto ins = instrument(c.text);
    try {
      sound::render_instrument(ins, "i.txt");
      ADD_FAILURE() << "rendered: " << c.text;
    } catch (const sound::SourceError &e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
