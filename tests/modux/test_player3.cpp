// The S3M-family effects and the volume column at their edges, driven through the tick on small
// modules: each case plays rows on channel 0 and reads one value after every tick. The effects
// themselves are heard against the reference player by the rule modules (tests/rules) and the
// S3M and XM modules of the accuracy renders.
#include "tick_module.h"

using namespace ticktest;

namespace {

int tempo() { return mi.tempo; }

class S3mFamily : public TickModule {};

TEST_F(S3mFamily, EffectsTickByTick) {
  // clang-format off
  const TickCase cases[] = {
      {"E and F do nothing before a note", 2, {{0, 0, 0, CMD_S3M_PORTA_DOWN, 0x10}}, period, {0, 0}},
      {"I00: one tick on, one off", 4, {{1, C, 0, CMD_TREMOR, 0}}, tick_volume, {64, 64, 0, 64}},
      {"J37 at speed 1 plays the note only", 1, {{1, C, 0, CMD_S3M_ARPEGGIO, 0x37},
       {0, 0, 0, CMD_S3M_ARPEGGIO, 0}}, tick_period, {1712, 1712}},
      {"X00, X40, X80 and XA4", 1, {{1, C, 0, CMD_S3M_PANNING, 0}, {0, 0, 0, CMD_S3M_PANNING, 0x40},
       {0, 0, 0, CMD_S3M_PANNING, 0x80}, {0, 0, 0, CMD_S3M_PANNING, 0xA4}}, pan, {0, 127, 255, 255}},
      // The volume column.
      {"0x51..0x5F change nothing", 1, {{1, C, 0x10 + 20, 0, 0}, {0, 0, 0x55, 0, 0}}, volume, {20, 20}},
      {"0x85 and 0x95 at once", 1, {{1, C, 0x85, 0, 0}, {0, 0, 0x95, 0, 0}, {0, 0, 0x9F, 0, 0}}, volume,
       {59, 64, 64}},
      {"an effect slide overrides the column's, a zero one keeps it", 3, {{1, C, 0x65, CMD_VOLSLIDE, 0x10},
       {0, 0, 0x65, CMD_VOLSLIDE, 0}}, volume, {64, 64, 64, 64, 59, 54}},
      {"0xF4 is a tone portamento", 3, {{1, C, 0, 0, 0}, {0, 2 * C, 0xF4, 0, 0}}, period,
       {1712, 1712, 1712, 1712, 1456, 1200}},
      // Note commands.
      {"the column after a cut sets the volume again", 1, {{1, C, 0, 0, 0}, {0, -1, 0x30, 0, 0}}, volume,
       {64, 32}},
      // Row-level commands.
      {"T1F never brings the tempo below 32", 1, {{0, 0, 0, CMD_S3M_SET_BPM, 0x22},
       {0, 0, 0, CMD_S3M_SET_BPM, 0x1F}, {0, 0, 0, CMD_S3M_SET_BPM, 0x1F}}, tempo, {34, 32, 32}},
      {"T0F never lifts it above 255", 1, {{0, 0, 0, CMD_S3M_SET_BPM, 0xFA}, {0, 0, 0, CMD_S3M_SET_BPM, 0x0F}},
       tempo, {250, 255}},
  };
  // clang-format on
  for (const auto &c : cases) {
    make(1, 16);
    EXPECT_EQ(play(c.speed, c.rows, c.probe, c.values.size()), c.values) << c.what;
  }
}

// A slide held on for many minutes keeps the period bounded (no overflow, whatever the family).
TEST_F(S3mFamily, EndlessSlidesStayBounded) {
  for (int command : {CMD_S3M_PORTA_DOWN, CMD_PORTA_DOWN, CMD_XM_PORTA_DOWN}) {
    make(1, 2);
    cell(0, 0) = {0, 0, 0, command, 0xDF};
    cell(1, 0) = {0, 0, 0, CMD_POSITION_JUMP, 0};  // back to row 0, the channel untouched
    start(32);
    ci[0].period = 1712;
    for (int t = 0; t < 400000; t++) mod_interrupt();
    EXPECT_EQ(ci[0].period, 1 << 24) << command;
    EXPECT_EQ(is_mod_playing(), -1);
  }
}

// Each volume-change code of Qxy, from volume 32, after the first retrigger.
TEST_F(S3mFamily, RetriggerVolumeChanges) {
  const int after[16] = {32, 31, 30, 28, 24, 16, 21, 16, 32, 33, 34, 36, 40, 48, 48, 64};
  for (int code = 0; code < 16; code++) {
    make(1, 4);
    cell(0, 0) = {1, C, 0x10 + 32, CMD_S3M_RETRIG, code << 4 | 1};
    start(3);
    mod_interrupt(), mod_interrupt();
    EXPECT_EQ(ci[0].volume, after[code]) << code;
    EXPECT_EQ(ci[0].tick_volume, after[code]) << code;
  }
}

}  // namespace
