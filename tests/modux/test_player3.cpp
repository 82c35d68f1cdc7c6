// The S3M-family effects, the volume column and the note commands, driven through the tick on
// small modules: each case plays rows on channel 0 and reads one value after every tick.
#include "tick_module.h"

using namespace ticktest;

namespace {

int global_volume() { return mi.global_volume; }
int tempo() { return mi.tempo; }

class S3mFamily : public TickModule {};

TEST_F(S3mFamily, EffectsTickByTick) {
  // clang-format off
  const TickCase cases[] = {
      {"D0F slides down by 15 after tick 0", 3, {{1, C, 0, CMD_S3M_VOLSLIDE, 0x0F}}, volume, {64, 49, 34}},
      {"DF0 slides up by 15", 3, {{1, C, 0x10 + 10, CMD_S3M_VOLSLIDE, 0xF0}}, volume, {10, 25, 40}},
      {"DFF lowers by 15 on tick 0 only, D2F raises by 2", 2, {{1, C, 0, CMD_S3M_VOLSLIDE, 0xFF},
       {0, 0, 0, CMD_S3M_VOLSLIDE, 0x2F}}, volume, {49, 49, 51, 51}},
      {"D11 does nothing, D00 repeats the slide before it", 3, {{1, C, 0, CMD_S3M_VOLSLIDE, 0x02},
       {0, 0, 0, CMD_S3M_VOLSLIDE, 0x11}, {0, 0, 0, CMD_S3M_VOLSLIDE, 0}}, volume,
       {64, 62, 60, 60, 60, 60, 60, 58, 56}},
      {"K00 and L00 share the memory of D", 3, {{1, C, 0, CMD_S3M_VOLSLIDE, 0x03},
       {0, 0, 0, CMD_VIBRATO_S3M_VOLSLIDE, 0}, {0, 0, 0, CMD_TONE_PORTA_S3M_VOLSLIDE, 0}}, volume,
       {64, 61, 58, 58, 55, 52, 52, 49, 46}},
      {"E10 lowers the pitch by 64 units a tick", 3, {{1, C, 0, CMD_S3M_PORTA_DOWN, 0x10}}, period,
       {1712, 1776, 1840}},
      {"EF1 by 4 once, EE1 by 1 once", 2, {{1, C, 0, CMD_S3M_PORTA_DOWN, 0xF1},
       {0, 0, 0, CMD_S3M_PORTA_DOWN, 0xE1}}, period, {1716, 1716, 1717, 1717}},
      {"E00 after F05 slides down by 20 a tick", 3, {{1, C, 0, CMD_S3M_PORTA_UP, 0x05},
       {0, 0, 0, CMD_S3M_PORTA_DOWN, 0}}, period, {1712, 1692, 1672, 1672, 1692, 1712}},
      {"F00 after EF2 repeats the fine form upwards", 2, {{1, C, 0, CMD_S3M_PORTA_DOWN, 0xF2},
       {0, 0, 0, CMD_S3M_PORTA_UP, 0}}, period, {1720, 1720, 1712, 1712}},
      {"E and F do nothing before a note", 2, {{0, 0, 0, CMD_S3M_PORTA_DOWN, 0x10}}, period, {0, 0}},
      {"I23: 3 ticks on, 4 off, running on across rows", 6, {{1, C, 0, CMD_TREMOR, 0x23},
       {0, 0, 0, CMD_TREMOR, 0x23}}, tick_volume, {64, 64, 64, 64, 0, 0, 64, 0, 0, 64, 64, 64}},
      {"I00: one tick on, one off", 4, {{1, C, 0, CMD_TREMOR, 0}}, tick_volume, {64, 64, 0, 64}},
      {"Q31 retriggers every tick, 4 quieter; Q00 repeats", 3, {{1, C, 0, CMD_S3M_RETRIG, 0x31},
       {0, 0, 0, CMD_S3M_RETRIG, 0}}, volume, {64, 60, 56, 56, 52, 48}},
      {"Q12 every second tick", 6, {{1, C, 0, CMD_S3M_RETRIG, 0x12}}, volume, {64, 64, 63, 63, 62, 62}},
      {"J37 at speed 1 plays the note only", 1, {{1, C, 0, CMD_S3M_ARPEGGIO, 0x37},
       {0, 0, 0, CMD_S3M_ARPEGGIO, 0}}, tick_period, {1712, 1712}},
      {"J37 at speed 2, J00 repeats it", 2, {{1, C, 0, CMD_S3M_ARPEGGIO, 0x37},
       {0, 0, 0, CMD_S3M_ARPEGGIO, 0}}, tick_period, {1712, 1440, 1712, 1440}},
      {"J37 at speed 3", 3, {{1, C, 0, CMD_S3M_ARPEGGIO, 0x37}}, tick_period, {1712, 1440, 1140}},
      {"X00, X40, X80 and XA4", 1, {{1, C, 0, CMD_S3M_PANNING, 0}, {0, 0, 0, CMD_S3M_PANNING, 0x40},
       {0, 0, 0, CMD_S3M_PANNING, 0x80}, {0, 0, 0, CMD_S3M_PANNING, 0xA4}}, pan, {0, 127, 255, 255}},
      {"U fine vibrato: depth shift 7", 3, {{1, C, 0, CMD_FINE_VIBRATO, 0x8F}}, tick_period,
       {1712, 1712, 1733}},
      {"R tremolo: depth shift 7", 3, {{1, C, 0x10 + 32, CMD_S3M_TREMOLO, 0x8F}}, tick_volume, {32, 32, 53}},
      // The volume column.
      {"0x50 sets 64, 0x30 sets 32", 1, {{1, C, 0x30, 0, 0}, {0, 0, 0x50, 0, 0}}, volume, {32, 64}},
      {"0x51..0x5F change nothing", 1, {{1, C, 0x10 + 20, 0, 0}, {0, 0, 0x55, 0, 0}}, volume, {20, 20}},
      {"0x65 slides down by 5 after tick 0", 3, {{1, C, 0x65, 0, 0}}, volume, {64, 59, 54}},
      {"0x73 slides up by 3", 3, {{1, C, 0x10 + 8, 0, 0}, {0, 0, 0x73, 0, 0}}, volume, {8, 8, 8, 8, 11, 14}},
      {"0x85 and 0x95 at once", 1, {{1, C, 0x85, 0, 0}, {0, 0, 0x95, 0, 0}, {0, 0, 0x9F, 0, 0}}, volume,
       {59, 64, 64}},
      {"an effect slide overrides the column's, a zero one keeps it", 3, {{1, C, 0x65, CMD_VOLSLIDE, 0x10},
       {0, 0, 0x65, CMD_VOLSLIDE, 0}}, volume, {64, 64, 64, 64, 59, 54}},
      {"0xA8 sets the vibrato speed, 0xB4 the depth and starts it", 3, {{1, C, 0xA8, 0, 0},
       {0, 0, 0xB4, 0, 0}}, tick_period, {1712, 1712, 1712, 1712, 1712, 1734}},
      {"0xC8 pans to 136", 1, {{1, C, 0xC8, 0, 0}}, pan, {136}},
      {"0xD2 slides left, 0xD0 repeats; 0xE3 right", 3, {{1, C, 0xD2, 0, 0}, {0, 0, 0xD0, 0, 0},
       {0, 0, 0xE3, 0, 0}}, pan, {128, 126, 124, 124, 122, 120, 120, 123, 126}},
      {"0xF4 is a tone portamento", 3, {{1, C, 0, 0, 0}, {0, 2 * C, 0xF4, 0, 0}}, period,
       {1712, 1712, 1712, 1712, 1456, 1200}},
      // Note commands.
      {"a note cut silences", 1, {{1, C, 0, 0, 0}, {0, -1, 0, 0, 0}}, volume, {64, 0}},
      {"the column after a cut sets the volume again", 1, {{1, C, 0, 0, 0}, {0, -1, 0x30, 0, 0}}, volume,
       {64, 32}},
      {"a key off without a volume envelope silences", 1, {{1, C, 0, 0, 0}, {0, -2, 0, 0, 0}}, volume, {64, 0}},
      // Row-level commands.
      {"V20 then V50", 1, {{0, 0, 0, CMD_SET_GLOBAL_VOLUME, 0x20}, {0, 0, 0, CMD_SET_GLOBAL_VOLUME, 0x50}},
       global_volume, {32, 64}},
      {"T05 raises, T15 lowers, T7D sets", 1, {{0, 0, 0, CMD_S3M_SET_BPM, 0x05}, {0, 0, 0, CMD_S3M_SET_BPM, 0x15},
       {0, 0, 0, CMD_S3M_SET_BPM, 0x7D}}, tempo, {130, 125, 125}},
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

// Speed and tempo commands act in the row that carries them, on any channel; every tempo
// change re-installs the timer at its rate.
TEST_F(S3mFamily, SpeedAndTempoChangesTakeEffectInTheirRow) {
  make(20, 4);  // channel 18 has no voice: its row commands act all the same
  cell(1, 18) = {0, 0, 0, CMD_S3M_SET_SPEED, 3};
  cell(2, 0) = {0, 0, 0, CMD_S3M_SET_BPM, 0x50};
  cell(2, 1) = {0, 0, 0, CMD_S3M_SET_SPEED, 0};  // A00 changes nothing
  start(2);
  Values rows_at;
  timer_periods().clear();
  for (int t = 0; t < 10; t++) mod_interrupt(), rows_at.push_back(mi.row * 10 + mi.tick);
  EXPECT_EQ(rows_at, (Values{0, 1, 10, 11, 12, 20, 21, 22, 30, 31}));
  EXPECT_EQ(timer_periods(), (std::vector<long>{mod_timer_period(0x50, 100)}));
}

// Global volume slides of two channels add up on each tick after the first.
TEST_F(S3mFamily, GlobalVolumeSlideOnTwoChannels) {
  make(2, 4);
  mod->initial_global_volume = 32;
  cell(0, 0) = {0, 0, 0, CMD_GLOBAL_VOLSLIDE, 0x20};
  cell(0, 1) = {0, 0, 0, CMD_GLOBAL_VOLSLIDE, 0x20};
  cell(1, 0) = {0, 0, 0, CMD_GLOBAL_VOLSLIDE, 0};     // repeats +2
  cell(1, 1) = {0, 0, 0, CMD_GLOBAL_VOLSLIDE, 0x0F};  // now -15
  start(3);
  Values seen;
  for (int t = 0; t < 6; t++) mod_interrupt(), seen.push_back(mi.global_volume);
  EXPECT_EQ(seen, (Values{32, 36, 40, 40, 27, 14}));
}

}  // namespace
