// The XM family through the tick at its edges (envelopes of one point, of an empty loop and a
// loop after the sustain, positions past the last point, slide limits, damaged instruments),
// and the trackers' playback rules against the engine's own. Envelopes, key off and fade-out
// are heard in tests/render (the envelope song, the game's XM song), the commands against the
// reference player by the rule modules and accuracy renders.
#include "tick_module.h"

using namespace ticktest;

namespace {

const int C4 = 49;  // XM note C-4: linear period 4608 with finetune 0
struct Env {
  std::vector<std::pair<int, int>> points;
  int flags, sustain, loop_start, loop_end;
};

int vol_env() { return ci[0].vol_env.output; }
int env_position() { return ci[0].vol_env.position; }
const int XM = MODUX_XM | MODUX_LINEAR;

const Env DECAY = {{{0, 64}, {2, 32}, {4, 16}, {8, 0}}, 1, 0, 0, 0};
const Env SUSTAIN_LOOP = {{{0, 64}, {2, 32}, {4, 16}, {8, 0}}, 7, 1, 2, 3};
const Env ONE_POINT = {{{0, 40}}, 3, 0, 0, 0};
const Env EMPTY_LOOP = {{{0, 64}, {4, 0}, {8, 32}}, 5, 0, 1, 1};
const Env LONG = {{{0, 64}, {64, 0}}, 1, 0, 0, 0};
const Env OFF = {{}, 0, 0, 0, 0};

class XmFamily : public TickModule {
 protected:
  // Linear XM module; instrument 1 plays sample 0 for every note.
  void make_xm(const Env &vol, const Env &pan, int fadeout) {
    make(1, 16, XM);
    INSTRUMENT_INFO &ins = add_instrument(0);
    fill(vol, ins.vol_env_value, ins.vol_env_tick, ins.vol_env_points, ins.vol_env_flags);
    ins.vol_env_sustain_start = ins.vol_env_sustain_end = vol.sustain;
    ins.vol_env_loop_start = vol.loop_start, ins.vol_env_loop_end = vol.loop_end;
    fill(pan, ins.pan_env_value, ins.pan_env_tick, ins.pan_env_points, ins.pan_env_flags);
    ins.fadeout = fadeout;
  }
  static void fill(const Env &e, int *value, int *tick, int &points, int &flags) {
    points = static_cast<int>(e.points.size()), flags = e.flags;
    for (int i = 0; i < points; i++) tick[i] = e.points[i].first, value[i] = e.points[i].second;
  }
};

// Each case plays instrument 1 with volume envelope `vol`.
TEST_F(XmFamily, EnvelopeAndSlideEdgesTickByTick) {
  const NOTE_INFO note = {1, C4, 0, 0, 0}, key_off = {0, -2, 0, 0, 0};
  // clang-format off
  const struct { Env vol; TickCase t; } cases[] = {
      {SUSTAIN_LOOP, {"after the key off the loop takes over", 4, {note, {}, key_off}, vol_env,
       {64, 48, 32, 32, 32, 32, 32, 32, 32, 24, 16, 12, 8, 4, 16, 12}}},
      {ONE_POINT, {"a one-point envelope with sustain holds its value, also after the key off", 2, {note, key_off}, vol_env, {40, 40, 40, 40}}},
      {EMPTY_LOOP, {"a zero-length loop holds its point", 8, {note}, vol_env, {64, 48, 32, 16, 0, 0, 0, 0}}},
      {DECAY, {"L past the last point sets the last point's tick", 2, {note, {0, 0, 0, CMD_SET_ENVELOPE_POSITION, 0xFF}}, vol_env, {64, 48, 0, 0}}},
      {LONG, {"ED2 without a note: it freezes two ticks, then goes on", 4, {note, {0, 0, 0, CMD_EXTENDED, 0xD2}}, env_position, {1, 2, 3, 4, 4, 4, 5, 6}}},
      {OFF, {"1FF stops the period at 40", 6, {{1, C4, 0, CMD_XM_PORTA_UP, 0xFF}}, period,
       {4608, 3588, 2568, 1548, 528, 40}}},
      {OFF, {"2FF has no limit", 3, {{1, C4, 0, CMD_XM_PORTA_DOWN, 0xFF}}, period, {4608, 5628, 6648}}},
      {OFF, {"X15 once, X10 repeats, X20 without a memory nothing", 2, {{1, C4, 0, CMD_XM_EXTRA_FINE_PORTA, 0x15},
       {0, 0, 0, CMD_XM_EXTRA_FINE_PORTA, 0x10}, {0, 0, 0, CMD_XM_EXTRA_FINE_PORTA, 0x20}}, period,
       {4603, 4603, 4598, 4598, 4598, 4598}}},
  };
  // clang-format on
  for (const auto &c : cases) {
    make_xm(c.vol, OFF, 0);
    ci[0].xm_extra_fine_up = ci[0].xm_extra_fine_down = 0;  // these carry over songs
    EXPECT_EQ(play(c.t.speed, c.t.rows, c.t.probe, c.t.values.size()), c.t.values) << c.t.what;
  }
}

// Damaged instruments: point counts, sustain and loop points and sample maps outside their
// arrays, and instrument numbers the module lacks, play without reading outside the model.
TEST_F(XmFamily, DamagedInstrumentsStayInsideTheirArrays) {
  make_xm(SUSTAIN_LOOP, DECAY, 100);
  INSTRUMENT_INFO &ins = mod->instruments[0];
  ins.vol_env_points = 40, ins.vol_env_sustain_start = ins.vol_env_sustain_end = 200;
  ins.vol_env_loop_start = -3, ins.vol_env_loop_end = 99;
  ins.pan_env_points = -1, ins.pan_env_flags = 7;
  ins.sample_map[C4 - 1] = 77;
  cell(0, 0) = {1, C4, 0, 0, 0};
  cell(2, 0) = {9, C4, 0, CMD_SET_ENVELOPE_POSITION, 0x7FFF};
  cell(4, 0) = {0, -2, 0, 0, 0};
  cell(5, 0) = {0, 200, 0, 0, 0};
  start(2);
  for (int t = 0; t < 40; t++) mod_interrupt();
  EXPECT_EQ(ci[0].sample, 1);  // the last sample stands in for the missing ones
  EXPECT_GE(ci[0].vol_env.output, 0);
  EXPECT_LE(ci[0].vol_env.output, 64);
  EXPECT_EQ(ci[0].pan_env.output, 32);
}

// The trackers' playback rules (RULE_* bits of MODUX::rules) against the engine's own (rules 0)
// where the engine's own rule plays in the native songs: each row plays once with its rule and
// once without. The rule modules (tests/rules) hear every rule against the reference player;
// the S3M rules, arpeggio tuning and the flow rules of loops and jumps are judged there alone.
TEST_F(XmFamily, EachRuleAgainstTheEnginesOwn) {
  // clang-format off
  const struct {
    const char *what;
    int rules, flags, speed;
    std::vector<NOTE_INFO> rows;
    NOTE_INFO side;  // channel 1, row 0
    Probe probe;
    Values with_rule, without;
  } cases[] = {
      {"EE1 repeats the row, A01 slides on", RULE_DELAY_REPEATS_ROW, 0, 3, {{1, C, 0, CMD_VOLSLIDE, 0x01}},
       {0, 0, 0, CMD_EXTENDED, 0xE1}, volume, {64, 63, 62, 62, 61, 60, 60}, {64, 63, 62, 62, 62, 62, 62}},
      {"F20 is 32 BPM", RULE_TEMPO_FROM_32, 0, 3, {{0, 0, 0, CMD_SPEED_TEMPO, 0x20}}, {},
       [] { return mi.tempo * 1000 + mi.speed; }, {32003}, {125032}},
      {"an instrument alone restores the volume", RULE_INSTRUMENT_RESETS, XM, 1,
       {{1, C4, 0x10 + 16, 0, 0}, {1, 0, 0, 0, 0}}, {}, volume, {16, 64}, {16, 16}},
      {"047 plays 7 first, counting from the row's end (FT2)", RULE_ARPEGGIO_FROM_END, XM, 3,
       {{1, C4, 0, CMD_ARPEGGIO, 0x47}}, {}, tick_period, {4608, 4608 - 7 * 64, 4608 - 4 * 64},
       {4608, 4608 - 4 * 64, 4608 - 7 * 64}},
      {"a tone portamento with an instrument restarts the envelope", RULE_INSTRUMENT_RESETS, XM, 2,
       {{1, C4, 0, 0, 0}, {1, C4 + 4, 0, CMD_TONE_PORTA, 8}}, {}, env_position, {1, 2, 1, 2},
       {1, 2, 3, 4}},
  };
  // clang-format on
  for (const auto &c : cases) {
    for (const bool rule : {true, false}) {
      make(2, 4, c.flags);
      if (c.flags & MODUX_XM)
        add_instrument(0).vol_env_flags = 1, mod->instruments[0].vol_env_points = 2,
        mod->instruments[0].vol_env_value[0] = 64, mod->instruments[0].vol_env_tick[1] = 100;
      mod->rules = rule ? c.rules : 0;
      cell(0, 1) = c.side;
      const Values &want = rule ? c.with_rule : c.without;
      EXPECT_EQ(play(c.speed, c.rows, c.probe, want.size()), want)
          << c.what << (rule ? "" : ", without the rule");
    }
  }
}

// A new song starts with every memory clean: X20 does not repeat the extra-fine slide down of
// the song before.
TEST_F(XmFamily, NothingCarriesOverIntoTheNextSong) {
  make(1, 1, XM);
  add_instrument(0);
  const Values first = play(1, {{1, C4, 0, CMD_XM_EXTRA_FINE_PORTA, 0x22}}, period, 1);
  const Values second = play(1, {{1, C4, 0, CMD_XM_EXTRA_FINE_PORTA, 0x20}}, period, 1);
  EXPECT_EQ(first[0], second[0] + 2);
}

}  // namespace
