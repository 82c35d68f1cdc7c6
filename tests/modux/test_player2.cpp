// Pitch tables and conversions, voice volume and pan, look-ups in damaged modules and the
// Protracker effect routines, driven directly on the channel and player records.
#include <gtest/gtest.h>

#include <vector>

#include "modux_internal.h"

namespace {

const int LINEAR = MODUX_XM | MODUX_LINEAR, AMIGA = MODUX_XM | MODUX_AMIGA;

// Each test starts from a silent channel 0 of a MOD-family song at full volume.
class Player2 : public ::testing::Test {
 protected:
  void SetUp() override {
    for (CHANNEL_STATE &c : ci) c = CHANNEL_STATE();
    ci[0].vibrato_shift = 5, ci[0].fade_volume = 32768, ci[0].vol_env.output = 64,
    ci[0].pan_env.output = 32;
    mi.flags = 0, mi.tick = 0, mi.global_volume = 64, mod_volume = 255;
    of = nullptr;
  }
  void TearDown() override { of = nullptr; }
  void use_flags(int flags) {
    mi.flags = mod.flags = flags;
    of = &mod;
  }
  MODUX mod{};  // the playing module, for the routines that read it
};

// Frequency mode (MOD and the native songs: 3579546 / Amiga period, 428 is middle C at 8363 Hz)
// in full; the XM tables at their edges (their notes are heard in the game's XM song and
// against the reference player).
TEST_F(Player2, NotesToPeriodsAndPeriodsToPitches) {
  // clang-format off
  const int periods[][4] = {  // flags, note, rate -> period
      {0, 8363, 8363, 1712}, {0, 4181, 8363, 3424}, {0, 16726, 8363, 856}, {0, 8363, 8413, 1701},
      {0, 8363, 0, 14318184 / 4242},          // a rate of 0 plays as 4242 Hz
      {0, 300000, 8363, 14318184 / 300000},   // note x rate overflows 32 bits
      {0, 1000, 1, 14318184},                 // the divisor rounds to 0: the lowest pitch
      {LINEAR, 48, 128, 4608},                // file note 49 counts from 1
      {LINEAR, 500, 128, 7680 - 118 * 64}, {LINEAR, -3, 128, 7680},  // notes held to 0..118
      {AMIGA, 11, 255, 428 * 32}, {AMIGA, 11, 1000, 428 * 32}};  // the finest B: the C above
  const int pitches[][3] = {  // flags, period -> Hz
      {0, 1712, 8363}, {LINEAR, 4608, 8363}, {LINEAR, 768 * 40, 0}, {AMIGA, 1, 1712 * 8363}};
  // clang-format on
  for (const auto &c : periods) {
    use_flags(c[0]);
    EXPECT_EQ(note2period(c[1], c[2]), c[3]) << c[0] << ": " << c[1] << " at " << c[2];
  }
  for (const auto &c : pitches) {
    use_flags(c[0]);
    EXPECT_EQ(period2pitch(c[1]), c[2]) << c[0] << ": " << c[1];
  }
  EXPECT_GT(note2period(2000000000, 2000000000), 0);
}

TEST_F(Player2, VoiceVolumeAndPanCombineEveryFactor) {
  const int volumes[][6] = {
      // tick volume, global, fade, music, envelope -> voice volume
      {64, 64, 32768, 255, 64, 255},  {64, 32, 32768, 255, 64, 127}, {32, 64, 32768, 255, 64, 127},
      {64, 64, 0, 255, 64, 0},        {64, 64, 32768, 0, 64, 0},     {64, 64, 32768, 255, 32, 127},
      {64, 2000, 32768, 255, 64, 255}};  // a damaged global volume still gives a voice volume
  for (const auto &v : volumes) {
    ci[0].tick_volume = v[0], mi.global_volume = v[1], ci[0].fade_volume = v[2];
    mod_volume = v[3], ci[0].vol_env.output = v[4];
    EXPECT_EQ(calc_volume(0), v[5]) << &v - volumes;
  }
  const int pans[][3] = {{64, 32, 64},   {200, 32, 200}, {64, 64, 128},
                         {200, 64, 255}, {64, 0, 0},     {200, 0, 144}};
  for (const auto &p : pans) {
    ci[0].tick_pan = p[0], ci[0].pan_env.output = p[1];
    EXPECT_EQ(calc_pan(0), p[2]) << p[0] << " " << p[1];
  }
}

TEST_F(Player2, LookUpsOutsideTheModuleAnswerEmptyCellsAndTheLastSample) {
  NOTE_INFO cells[2 * 3] = {};
  PATTERN_INFO pattern{cells, 2};
  mod.patterns = &pattern, mod.pattern_count = 1, mod.channel_count = 3;
  EXPECT_EQ(get_note(&mod, 0, 1, 2), &cells[5]);
  for (const NOTE_INFO *c :
       {get_note(&mod, 1, 0, 0), get_note(&mod, -1, 0, 0), get_note(&mod, 0, 2, 0),
        get_note(&mod, 0, 0, 3), get_note(&mod, 0, -1, 0), get_note(nullptr, 0, 0, 0)}) {
    EXPECT_TRUE(c < cells || c >= cells + 6);
    EXPECT_EQ(c->note + c->command + c->sample, 0);
  }
  EXPECT_EQ(get_modux_sample_no(7, 40), 7);  // outside the XM modes the number is the sample
  INSTRUMENT_INFO inst{};
  inst.sample_map[40] = 1, inst.sample_map[41] = 9;
  mod.instruments = &inst, mod.instrument_count = 1, mod.sample_count = 3;
  use_flags(LINEAR);
  const int cases[][3] = {
      {0, 40, 1}, {0, 41, 2}, {0, 96, 2}, {1, 40, 2}, {-1, 40, 2}};  // missing: the last
  for (const auto &c : cases)
    EXPECT_EQ(get_modux_sample_no(c[0], c[1]), c[2]) << c[0] << " " << c[1];
}

TEST_F(Player2, SemitoneSearchFindsTableNotesAboveAndEndsWhereNoneLies) {
  const int np118 = 7744 - 118 * 64, np48 = 7744 - 48 * 64,
            np52 = 7744 - 52 * 64;  // linear, 64 a semitone
  // clang-format off
  const int cases[][4] = {  // flags, period, semitones -> period
      {0, 1712, 3, 5760 >> 2}, {0, 1712, 7, 4560 >> 2}, {0, 1712, 0, 6464 >> 2}, {0, 1700, 0, 6464 >> 2},
      {0, 1712, 12, 856},      {0, 0, 3, 0},            {0, -50, 3, -50},        {0, 1, 0, 0},
      {LINEAR, 100, 4, 100},   {LINEAR, np118, 0, np118}, {LINEAR, np48, 4, np52}, {AMIGA, 3, 2, 3}};
  // clang-format on
  for (const auto &c : cases) {
    mi.flags = c[0];
    EXPECT_EQ(find_lower_period(c[1], c[2]), c[3]) << c[0] << ": " << c[1] << " +" << c[2];
  }
}

// From volume 40 and period 1000, the field after a run of extended commands (0x1xy: the XM
// family's). A parameter of 0 repeats the last fine slide: MOD's two directions share one
// memory, XM's have one each. Waveforms, retrigger and fine volume slides are heard in the MOD
// and XM accuracy renders.
TEST_F(Player2, ExtendedCommandsSetTheirFields) {
  using CS = CHANNEL_STATE;
  // clang-format off
  const struct {
    std::vector<int> params;
    int CS::*field;
    int expected;
  } cases[] = {
      {{0x8F}, &CS::pan, 255},           {{0x100}, &CS::pan, 136},          {{0x108}, &CS::pan, 0},
      {{0xC0}, &CS::volume, 0},          {{0xC4}, &CS::volume, 40},
      {{0x23, 0x10}, &CS::period, 1012}, {{0x23, 0x20}, &CS::period, 1024}, {{0x11, 0x20}, &CS::period, 996},
      {{0x113, 0x122, 0x110, 0x120}, &CS::period, 992}, {{0x132, 0x130}, &CS::volume, 44},
      {{0x135}, &CS::tick_volume, 45},   {{0x143, 0x140, 0x132}, &CS::volume, 36},
  };
  // clang-format on
  for (const auto &c : cases) {
    ci[0] = CHANNEL_STATE();
    ci[0].volume = ci[0].tick_volume = 40;
    ci[0].period = 1000;
    for (int p : c.params) parse_extended_command(0, p);
    EXPECT_EQ(ci[0].*c.field, c.expected) << ::testing::PrintToString(c.params);
  }
}

TEST_F(Player2, ChannelsWithoutANoteIgnorePitchEffects) {
  parse_vibrato(0, 0x44, 5);
  parse_pro_arpeggio(0, 0x37);
  parse_slide2period(0, 4, 8364);
  parse_extended_command(0, 0x15);
  parse_tremolo(0, 0x44, 6);  // tremolo needs no note
  EXPECT_EQ(ci[0].vibrato_on + ci[0].arpeggio_on + ci[0].slide2period_on + ci[0].period, 0);
  EXPECT_EQ(ci[0].tremolo_on, -1);
}

}  // namespace
