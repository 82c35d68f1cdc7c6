// The trackers' playback rules (RULE_* bits of MODUX::rules) against the engine's own (rules 0),
// tick by tick on small modules built in memory: each row of a table plays once with its rule
// and once without, and both ways must come out as the table says.
#include <cmath>

#include "tick_module.h"

using namespace ticktest;

namespace {

class Rules : public TickModule {};

const int XM = MODUX_XM | MODUX_LINEAR;
const int C4 = 49;  // XM middle C

Probe player(std::atomic<int> PLAYER_STATE::*f) {
  return [f] { return (mi.*f).load(); };
}
int volume_envelope_position() { return ci[0].vol_env.position; }

TEST_F(Rules, EachRuleAgainstTheEnginesOwn) {
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
      {"EE1 with the first tick running on (FT2)", RULE_DELAY_REPEATS_ROW | RULE_DELAY_TICKS_ON, XM, 3,
       {{1, C4, 0, CMD_XM_VOLSLIDE, 0x01}}, {0, 0, 0, CMD_EXTENDED, 0xE1}, volume,
       {64, 63, 62, 61, 60, 59, 59}, {64, 63, 62, 62, 62, 62, 62}},
      {"F20 is 32 BPM", RULE_TEMPO_FROM_32, 0, 3, {{0, 0, 0, CMD_SPEED_TEMPO, 0x20}}, {},
       [] { return mi.tempo * 1000 + mi.speed; }, {32003}, {125032}},
      {"T05 slides down on every later tick", RULE_TEMPO_SLIDE_PER_TICK, 0, 3, {{0, 0, 0, CMD_S3M_SET_BPM, 0x05}},
       {}, player(&PLAYER_STATE::tempo), {125, 120, 115, 115}, {130, 130, 130, 130}},
      {"T13 slides up", RULE_TEMPO_SLIDE_PER_TICK, 0, 3, {{0, 0, 0, CMD_S3M_SET_BPM, 0x13}}, {},
       player(&PLAYER_STATE::tempo), {125, 128, 131, 131}, {122, 122, 122, 122}},
      {"DFF slides up by 15", RULE_FINE_VOLSLIDE_DFF_UP, 0, 2, {{1, C, 0x10 + 32, CMD_S3M_VOLSLIDE, 0xFF}}, {},
       volume, {47, 47}, {17, 17}},
      {"Q13 counts on across rows", RULE_RETRIG_COUNTS_ON, 0, 2,
       {{1, C, 0, CMD_S3M_RETRIG, 0x13}, {0, 0, 0, CMD_S3M_RETRIG, 0x13}, {0, 0, 0, CMD_S3M_RETRIG, 0x13}}, {},
       volume, {64, 64, 64, 63, 63, 63}, {64, 64, 64, 64, 64, 64}},
      {"I11 counts on across rows, tick 0 included; I00 goes on", RULE_TREMOR_COUNTS_ON, 0, 3,
       {{1, C, 0, CMD_TREMOR, 0x11}, {0, 0, 0, CMD_TREMOR, 0x00}}, {}, tick_volume,
       {64, 64, 0, 0, 64, 64}, {64, 64, 64, 64, 64, 0}},
      {"an instrument alone restores the volume", RULE_INSTRUMENT_RESETS, XM, 1,
       {{1, C4, 0x10 + 16, 0, 0}, {1, 0, 0, 0, 0}}, {}, volume, {16, 64}, {16, 16}},
      {"K02 releases at tick 2", RULE_KEY_OFF_AT_TICK, XM, 4, {{1, C4, 0, CMD_KEY_OFF, 2}}, {},
       field(&CHANNEL_STATE::key_off), {0, 0, -1, -1}, {-1, -1, -1, -1}},
      {"a note without an instrument leaves the key released", RULE_INSTRUMENT_RESETS, XM, 1,
       {{1, C4, 0, 0, 0}, {0, -2, 0, 0, 0}, {0, C4 + 2, 0, 0, 0}}, {}, field(&CHANNEL_STATE::key_off),
       {0, -1, -1}, {0, -1, 0}},
      {"047 plays 7 first, counting from the row's end (FT2)", RULE_ARPEGGIO_FROM_END, XM, 3,
       {{1, C4, 0, CMD_ARPEGGIO, 0x47}}, {}, tick_period, {4608, 4608 - 7 * 64, 4608 - 4 * 64},
       {4608, 4608 - 4 * 64, 4608 - 7 * 64}},
      {"a tone portamento with an instrument restarts the envelope", RULE_INSTRUMENT_RESETS, XM, 2,
       {{1, C4, 0, 0, 0}, {1, C4 + 4, 0, CMD_TONE_PORTA, 8}}, {}, volume_envelope_position, {1, 2, 1, 2},
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

// Arpeggio steps are equal-tempered semitones of the playing note whatever the sample's tuning;
// the engine's own rule snaps them to its 8363 Hz table.
TEST_F(Rules, ArpeggioStepsAreSemitonesOfTheNote) {
  for (const int tuning : {8363, 8800, 10000, 7000}) {
    for (const bool rule : {true, false}) {
      make(1, 1);
      mod->sample_info[0].tuning = tuning;
      mod->rules = rule ? RULE_EXACT_ARPEGGIO : 0;
      const Values p = play(3, {{1, C, 0, CMD_ARPEGGIO, 0x47}}, tick_period, 3);
      double worst = 0;
      for (int k : {1, 2}) {
        const double cents = 1200 * std::log2(static_cast<double>(p[0]) / p[k]);
        worst = std::max(worst, std::fabs(cents - 100 * (k == 1 ? 4 : 7)));
      }
      if (rule) {
        EXPECT_LT(worst, 1) << tuning;
      } else if (tuning != 8363) {
        EXPECT_GT(worst, 10) << tuning << ": the engine's own rule snaps to its table";
      }
    }
  }
}

// Flow: FT2 starts the pattern after a finished loop at the loop's row; ST3 forgets a loop's row
// in a new pattern; ProTracker and FT2 send a break followed by a jump in the same row to row 0.
TEST_F(Rules, LoopAndJumpFollowTheTracker) {
  for (const bool rule : {true, false}) {
    make(1, 4, XM, 2);
    mod->rules = rule ? RULE_LOOP_FT2 : 0;
    cell(1, 0) = {0, 0, 0, CMD_EXTENDED, 0x60};
    cell(2, 0) = {0, 0, 0, CMD_EXTENDED, 0x61};
    start(1);
    const Rows tail = rule ? Rows{{1, 1}, {1, 2}} : Rows{{1, 0}, {1, 1}};
    Rows want{{0, 0}, {0, 1}, {0, 2}, {0, 1}, {0, 2}, {0, 3}};
    want.insert(want.end(), tail.begin(), tail.end());
    EXPECT_EQ(rows_played(8), want) << rule;

    // ST3 forgets a loop's row when a break leaves its pattern; the engine's own rule keeps it.
    make(1, 4, 0, 2);
    mod->rules = rule ? RULE_LOOP_FORGOTTEN : 0;
    cell(1, 0) = {0, 0, 0, CMD_EXTENDED, 0x60};
    cell(2, 0) = {0, 0, 0, CMD_PATTERN_BREAK, 0};
    cell(1, 0, 1) = {0, 0, 0, CMD_EXTENDED, 0x61};
    start(1);
    EXPECT_EQ(rows_played(7),
              (Rows{{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, rule ? 0 : 1}, {1, rule ? 1 : 2}}))
        << rule;

    make(2, 4, 0, 3);
    mod->rules = rule ? RULE_JUMP_RESETS_BREAK : 0;
    cell(0, 0) = {0, 0, 0, CMD_PATTERN_BREAK, 0x02};
    cell(0, 1) = {0, 0, 0, CMD_POSITION_JUMP, 2};
    start(1);
    EXPECT_EQ(rows_played(2), (Rows{{0, 0}, {2, rule ? 0 : 2}})) << rule;
  }
}

// A new song starts with every memory clean: X20 does not repeat the extra-fine slide down of
// the song before.
TEST_F(Rules, NothingCarriesOverIntoTheNextSong) {
  make(1, 1, XM);
  add_instrument(0);
  const Values first = play(1, {{1, C4, 0, CMD_XM_EXTRA_FINE_PORTA, 0x22}}, period, 1);
  const Values second = play(1, {{1, C4, 0, CMD_XM_EXTRA_FINE_PORTA, 0x20}}, period, 1);
  EXPECT_EQ(first[0], second[0] + 2);
}

}  // namespace
