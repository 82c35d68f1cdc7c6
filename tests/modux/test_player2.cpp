// Pitch tables, conversions, voice volume and pan, and the Protracker effect routines, driven
// directly on the channel and player records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "modux.h"

namespace {

// Each test starts from a silent channel 0 of a MOD-family song at full volume.
class Player2 : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (CHANNEL_STATE &c : ci)
            c = CHANNEL_STATE();
        ci[0].vibrato_shift = 5;
        ci[0].tremolo_shift = 6;
        ci[0].fade_volume = 32768;
        ci[0].vol_env.output = 64;
        ci[0].pan_env.output = 32;
        mi.flags = 0;
        mi.tick = 0;
        mi.global_volume = 64;
        mod_volume = 255;
        of = nullptr;
    }
    void TearDown() override { of = nullptr; }

    MODUX mod{};  // a module for the routines that read the playing one
};

TEST_F(Player2, MiddleCIsPeriod1712And8363HzInFrequencyMode)
{
    // MOD note frequencies are 3579546 / Amiga period: 428 is middle C (8363), 856 an octave down.
    struct Case { int note, rate, period; } cases[] = {
        {8363, 8363, 1712}, {4181, 8363, 3424}, {16726, 8363, 856}, {8363, 8413, 1701},
        {8363, 0, 14318184 / 4242},  // a rate of 0 plays as 4242 Hz
    };
    for (const Case &c : cases)
        EXPECT_EQ(note2period(c.note, c.rate), c.period) << c.note << " at " << c.rate;
    EXPECT_EQ(period2pitch(1712), 8363);
}

TEST_F(Player2, FrequencyModeSurvivesExtremeNotesAndRates)
{
    // 300000 x 8363 overflows 32 bits; the period is still the true one.
    EXPECT_EQ(note2period(300000, 8363), 14318184 / 300000);
    // A rate of a few Hz makes the quotient 0: the note still gets a positive, lowest pitch.
    EXPECT_GT(note2period(1000, 1), 0);
    EXPECT_GE(note2period(1000, 1), note2period(1000, 9000));
    EXPECT_GT(note2period(2000000000, 2000000000), 0);
}

TEST_F(Player2, LinearModeNote48Is4608And8363Hz)
{
    mi.flags = MODUX_XM | MODUX_LINEAR;
    mod.flags = MODUX_XM | MODUX_LINEAR;
    of = &mod;
    EXPECT_EQ(note2period(48, 128), 4608);
    EXPECT_EQ(period2pitch(4608), 8363);
    EXPECT_EQ(note2period(60, 128), 4608 - 768);     // an octave up
    EXPECT_EQ(note2period(500, 128), note2period(118, 128));  // notes held to 0..118
    EXPECT_EQ(note2period(-3, 128), note2period(0, 128));
    EXPECT_EQ(period2pitch(768 * 40), 0);  // far below hearing, without an oversized shift
}

TEST_F(Player2, LinearTableFollowsTheExponential)
{
    mod.flags = MODUX_XM | MODUX_LINEAR;
    of = &mod;
    EXPECT_EQ(period2pitch(768), 535232 / 2);
    for (int i = 1; i < 768; i++) {
        const long double exact = 535232.0L * std::pow(2.0L, -i / 768.0L);
        ASSERT_EQ(period2pitch(i), static_cast<int>(std::floor(exact))) << "entry " << i;
    }
    EXPECT_EQ(period2pitch(767), 267857);
}

TEST_F(Player2, AmigaModeReadsTheEighthSemitoneTable)
{
    mi.flags = MODUX_XM | MODUX_AMIGA;
    mod.flags = MODUX_XM | MODUX_AMIGA;
    of = &mod;
    // Rate 0 takes the table entry alone: 32 x the Amiga period, shifted by the octave.
    struct Case { int note, period; } cases[] = {
        {0, 907 * 32}, {1, 856 * 32}, {11, 480 * 32}, {12, 907 * 16}, {24 + 5, 678 * 8},
    };
    for (const Case &c : cases)
        EXPECT_EQ(note2period(c.note, 0), c.period) << "note " << c.note;
    // The finest tuning of B reaches past the table's end: it must land between B and the
    // next C, not on whatever lies behind the table.
    const int b_fine = note2period(11, 255);
    EXPECT_LT(b_fine, note2period(11, 224));
    EXPECT_GT(b_fine, note2period(12, 128));
    EXPECT_EQ(period2pitch(1712), 8363);
}

TEST_F(Player2, VoiceVolumeCombinesEveryFactor)
{
    struct Case { int tick_volume, global, fade, music, env, expected; } cases[] = {
        {64, 64, 32768, 255, 64, 255}, {64, 32, 32768, 255, 64, 127}, {32, 64, 32768, 255, 64, 127},
        {64, 64, 0, 255, 64, 0},       {64, 64, 32768, 0, 64, 0},     {64, 64, 32768, 255, 32, 127},
        {64, 1000, 32768, 255, 64, 255},  // a damaged global volume still gives a voice volume
    };
    for (const Case &c : cases) {
        ci[0].tick_volume = c.tick_volume;
        mi.global_volume = c.global;
        ci[0].fade_volume = c.fade;
        mod_volume = c.music;
        ci[0].vol_env.output = c.env;
        EXPECT_EQ(calc_volume(0), c.expected) << c.tick_volume << " " << c.global << " " << c.env;
    }
}

TEST_F(Player2, VoicePanFollowsTheEnvelopeAroundTheChannelPan)
{
    struct Case { int pan, env, expected; } cases[] = {
        {64, 32, 64}, {200, 32, 200}, {64, 64, 128}, {200, 64, 255}, {64, 0, 0}, {200, 0, 144},
    };
    for (const Case &c : cases) {
        ci[0].tick_pan = c.pan;
        ci[0].pan_env.output = c.env;
        EXPECT_EQ(calc_pan(0), c.expected) << c.pan << " " << c.env;
    }
}

TEST_F(Player2, CellsOutsideThePatternReadAsEmpty)
{
    NOTE_INFO cells[2 * 3] = {};
    cells[1 * 3 + 2].note = 8363;
    PATTERN_INFO pattern{cells, 2};
    mod.patterns = &pattern;
    mod.pattern_count = 1;
    mod.channel_count = 3;
    EXPECT_EQ(get_note(&mod, 0, 1, 2), &cells[5]);
    const NOTE_INFO *outside[] = {get_note(&mod, 1, 0, 0), get_note(&mod, -1, 0, 0), get_note(&mod, 0, 2, 0),
                                  get_note(&mod, 0, 0, 3), get_note(&mod, 0, -1, 0), get_note(nullptr, 0, 0, 0)};
    for (const NOTE_INFO *cell : outside) {
        EXPECT_TRUE(cell < cells || cell >= cells + 6);
        EXPECT_EQ(cell->note, 0);
        EXPECT_EQ(cell->command, 0);
        EXPECT_EQ(cell->sample, 0);
    }
}

TEST_F(Player2, InstrumentsMapNotesToSamplesAndFallBackToTheLast)
{
    EXPECT_EQ(get_modux_sample_no(7, 40), 7);  // outside the XM modes the number is the sample
    INSTRUMENT_INFO inst{};
    inst.sample_map[40] = 1;
    inst.sample_map[41] = 9;
    mod.instruments = &inst;
    mod.instrument_count = 1;
    mod.sample_count = 3;
    of = &mod;
    mi.flags = MODUX_XM | MODUX_LINEAR;
    EXPECT_EQ(get_modux_sample_no(0, 40), 1);
    EXPECT_EQ(get_modux_sample_no(0, 41), 2);   // mapped sample missing
    EXPECT_EQ(get_modux_sample_no(0, 96), 2);   // note beyond the map
    EXPECT_EQ(get_modux_sample_no(1, 40), 2);   // instrument missing
    EXPECT_EQ(get_modux_sample_no(-1, 40), 2);
}

TEST_F(Player2, SemitoneSearchFindsTableNotesAbove)
{
    // Frequency mode, middle C (1712) lies on the table: 3 and 7 semitones up, and one up for 0.
    struct Case { int period, semitones, expected; } cases[] = {
        {1712, 3, 5760 >> 2}, {1712, 7, 4560 >> 2}, {1712, 0, 6464 >> 2}, {1700, 0, 6464 >> 2},
        {1712, 12, 856},
    };
    for (const Case &c : cases)
        EXPECT_EQ(find_lower_period(c.period, c.semitones), c.expected) << c.period << " +" << c.semitones;
}

TEST_F(Player2, SemitoneSearchEndsWhereNoTableNoteLiesAbove)
{
    // Each of these once searched forever; the note then stays where it is or goes to 0.
    EXPECT_EQ(find_lower_period(0, 3), 0);
    EXPECT_EQ(find_lower_period(-50, 3), -50);
    EXPECT_GE(find_lower_period(1, 0), 0);
    mi.flags = MODUX_XM | MODUX_LINEAR;
    EXPECT_EQ(find_lower_period(100, 4), 100);
    EXPECT_EQ(find_lower_period(note2period(118, 0), 0), note2period(118, 0));
    EXPECT_EQ(find_lower_period(note2period(48, 0), 4), note2period(52, 0));
    mi.flags = MODUX_XM | MODUX_AMIGA;
    EXPECT_EQ(find_lower_period(3, 2), 3);
}

TEST_F(Player2, FineSlidesRepeatOnlyTheirOwnDirection)
{
    ci[0].period = 1000;
    parse_extended_command(0, 0x23);  // E23: down by 12
    EXPECT_EQ(ci[0].period, 1012);
    parse_extended_command(0, 0x10);  // E10 after E2x: nothing
    EXPECT_EQ(ci[0].period, 1012);
    parse_extended_command(0, 0x20);  // E20 repeats E23
    EXPECT_EQ(ci[0].period, 1024);
    parse_extended_command(0, 0x11);  // E11: up by 4
    parse_extended_command(0, 0x20);  // E20 after E1x: nothing
    EXPECT_EQ(ci[0].period, 1020);
    ci[0].period = 0;
    parse_extended_command(0, 0x15);  // no note: nothing
    EXPECT_EQ(ci[0].period, 0);
}

TEST_F(Player2, ExtendedCommandsSetTheirFields)
{
    struct Case { int param; int CHANNEL_STATE::*field; int expected; } cases[] = {
        {0x8F, &CHANNEL_STATE::pan, 255},      {0x100, &CHANNEL_STATE::pan, 136},
        {0x108, &CHANNEL_STATE::pan, 0},       {0x47, &CHANNEL_STATE::vibrato_waveform, 7},
        {0x72, &CHANNEL_STATE::tremolo_waveform, 2}, {0x93, &CHANNEL_STATE::retrig_interval, 3},
        {0xA3, &CHANNEL_STATE::volume, 43},    {0xB3, &CHANNEL_STATE::volume, 37},
        {0xC0, &CHANNEL_STATE::volume, 0},     {0xC4, &CHANNEL_STATE::cut_tick, 4},
        {0xC4, &CHANNEL_STATE::volume, 40},    {0xD3, &CHANNEL_STATE::delay_sample, 3},
        {0x112, &CHANNEL_STATE::period, 992},  {0x122, &CHANNEL_STATE::period, 1008},
        {0x135, &CHANNEL_STATE::tick_volume, 45}, {0x145, &CHANNEL_STATE::volume, 35},
    };
    for (const Case &c : cases) {
        ci[0] = CHANNEL_STATE();
        ci[0].volume = ci[0].tick_volume = 40;
        ci[0].period = 1000;
        parse_extended_command(0, c.param);
        EXPECT_EQ(ci[0].*c.field, c.expected) << std::hex << c.param;
    }
}

TEST_F(Player2, XmFineSlidesKeepSeparateMemories)
{
    ci[0].period = 1000;
    parse_extended_command(0, 0x113);  // up 12
    parse_extended_command(0, 0x122);  // down 8
    parse_extended_command(0, 0x110);  // repeat up
    parse_extended_command(0, 0x120);  // repeat down
    EXPECT_EQ(ci[0].period, 1000 - 12 + 8 - 12 + 8);
    parse_extended_command(0, 0x132);
    parse_extended_command(0, 0x130);
    EXPECT_EQ(ci[0].volume, 4);
}

TEST_F(Player2, ChannelsWithoutANoteIgnorePitchEffects)
{
    parse_vibrato(0, 0x44, 5);
    parse_pro_arpeggio(0, 0x37);
    parse_slide2period(0, 4, 8364);
    EXPECT_EQ(ci[0].vibrato_on, 0);
    EXPECT_EQ(ci[0].arpeggio_on, 0);
    EXPECT_EQ(ci[0].slide2period_on, 0);
    parse_tremolo(0, 0x44, 6);  // tremolo needs no note
    EXPECT_EQ(ci[0].tremolo_on, -1);
}

TEST_F(Player2, VibratoWaveforms)
{
    // Depth 8 at shift 5: the offset is wave x 8 / 32, added in the first half of the cycle and
    // taken off in the second.
    struct Case { int waveform, pos, tick_period; } cases[] = {
        {0, 0, 1000},  {0, 16, 1024}, {0, 64, 1063}, {0, -64, 937}, {1, 16, 1008},
        {1, -16, 993}, {2, 5, 1063},  {2, -5, 937},
    };
    for (const Case &c : cases) {
        ci[0].period = 1000;
        ci[0].vibrato_depth = 8;
        ci[0].vibrato_shift = 5;
        ci[0].vibrato_waveform = c.waveform;
        ci[0].vibrato_pos = static_cast<signed char>(c.pos);
        mi.tick = 0;
        do_vibrato(0);
        EXPECT_EQ(ci[0].tick_period, c.tick_period) << c.waveform << " at " << c.pos;
    }
    for (int i = 0; i < 200; i++) {  // random: within the wave's amplitude
        ci[0].vibrato_waveform = 3;
        ci[0].vibrato_pos = 3;
        do_vibrato(0);
        ASSERT_GE(ci[0].tick_period, 1000);
        ASSERT_LE(ci[0].tick_period, 1000 + (254 * 8 >> 5));
    }
}

} // namespace
