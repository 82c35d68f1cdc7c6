// The trackers' playback rules (RULE_* bits of MODUX::rules) against the engine's own (rules 0)
// where the engine's own rule plays in the native songs, tick by tick on small modules built in
// memory: each row plays once with its rule and once without. The rule modules (tests/rules)
// hear every rule against the reference player; the S3M rules, arpeggio tuning and the flow
// rules of loops and jumps are judged there alone.
#include "tick_module.h"

using namespace ticktest;

namespace {

class Rules : public TickModule {};

const int XM = MODUX_XM | MODUX_LINEAR;
const int C4 = 49;  // XM middle C

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
