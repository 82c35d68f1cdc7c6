// The XM family through the tick: instruments and their note maps, the volume and pan
// envelopes with sustain and loop, key off and fade-out, and the commands 30 to 39.
#include "tick_module.h"

using namespace ticktest;

namespace {

const int C4 = 49;  // XM note C-4: linear period 4608 with finetune 0
struct Env {
  std::vector<std::pair<int, int>> points;
  int flags, sustain, loop_start, loop_end;
};

int vol_env() { return ci[0].vol_env.output; }
int pan_env() { return ci[0].pan_env.output; }
int env_position() { return ci[0].vol_env.position; }
int fade() { return ci[0].fade_volume; }
int calc_volume_0() { return calc_volume(0); }

const Env DECAY = {{{0, 64}, {2, 32}, {4, 16}, {8, 0}}, 1, 0, 0, 0};
const Env SUSTAIN_2 = {{{0, 64}, {2, 32}, {4, 16}, {8, 0}}, 3, 2, 0, 0};
const Env SUSTAIN_LOOP = {{{0, 64}, {2, 32}, {4, 16}, {8, 0}}, 7, 1, 2, 3};
const Env ONE_POINT = {{{0, 40}}, 3, 0, 0, 0};
const Env EMPTY_LOOP = {{{0, 64}, {4, 0}, {8, 32}}, 5, 0, 1, 1};
const Env LONG = {{{0, 64}, {64, 0}}, 1, 0, 0, 0};
const Env OFF = {{}, 0, 0, 0, 0};
const Env PAN_SWING = {{{0, 0}, {4, 64}}, 1, 0, 0, 0};

class XmFamily : public TickModule {
 protected:
  // Linear XM module; instrument 1 plays sample 0 for every note.
  void make_xm(const Env &vol, const Env &pan, int fadeout) {
    make(1, 16, MODUX_XM | MODUX_LINEAR);
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

// The envelope cases play instrument 1 with volume envelope `vol`; the command cases without one.
TEST_F(XmFamily, EnvelopesKeyOffFadeOutAndCommandsTickByTick) {
  const NOTE_INFO note = {1, C4, 0, 0, 0}, key_off = {0, -2, 0, 0, 0},
                  off_cmd = {0, 0, 0, CMD_KEY_OFF, 0};
  // clang-format off
  const struct { Env vol; int fadeout; TickCase t; } cases[] = {
      {DECAY, 0, {"the envelope runs from tick 0 and stays on its last point", 6, {note}, vol_env,
       {64, 48, 32, 24, 16, 12, 8, 4, 0, 0}}},
      {SUSTAIN_2, 0, {"sustain on point 2 holds until the key off, then runs on", 6, {note, key_off}, vol_env,
       {64, 48, 32, 24, 16, 16, 16, 12, 8, 4, 0, 0}}},
      {SUSTAIN_2, 0, {"K00 releases the same way", 6, {note, off_cmd}, vol_env,
       {64, 48, 32, 24, 16, 16, 16, 12, 8, 4, 0, 0}}},
      {SUSTAIN_LOOP, 0, {"after the key off the loop takes over", 4, {note, {}, key_off}, vol_env,
       {64, 48, 32, 32, 32, 32, 32, 32, 32, 24, 16, 12, 8, 4, 16, 12}}},
      {SUSTAIN_2, 8192, {"fade-out falls from the key off and reaches 0", 2, {note, key_off}, fade,
       {32768, 32768, 24576, 16384, 8192, 0, 0}}},
      {SUSTAIN_2, 16384, {"the voice volume follows envelope and fade", 2, {note, key_off}, calc_volume_0,
       {255, 191, 63, 0, 0}}},
      {ONE_POINT, 0, {"a one-point envelope with sustain holds its value, also after the key off", 2, {note, key_off}, vol_env, {40, 40, 40, 40}}},
      {EMPTY_LOOP, 0, {"a zero-length loop holds its point", 8, {note}, vol_env, {64, 48, 32, 16, 0, 0, 0, 0}}},
      {OFF, 0, {"a key off without a volume envelope cuts at once", 2, {note, key_off}, volume, {64, 64, 0, 0}}},
      {OFF, 0, {"so does K00", 2, {note, off_cmd}, volume, {64, 64, 0, 0}}},
      {SUSTAIN_2, 0, {"a key off with an envelope keeps the volume", 2, {note, key_off}, volume, {64, 64, 64}}},
      {DECAY, 0, {"L02 moves into the envelope", 2, {note, {0, 0, 0, CMD_SET_ENVELOPE_POSITION, 2}}, vol_env,
       {64, 48, 32, 24}}},
      {DECAY, 0, {"L past the last point sets the last point's tick", 2, {note, {0, 0, 0, CMD_SET_ENVELOPE_POSITION, 0xFF}}, vol_env, {64, 48, 0, 0}}},
      {LONG, 0, {"an instrument without a note restarts the envelope", 3, {note, {}, {1, 0, 0, 0, 0}},
       env_position, {1, 2, 3, 4, 5, 6, 1, 2}}},
      {LONG, 0, {"ED3 with a note: the envelope waits for tick 3", 6, {{1, C4, 0, CMD_EXTENDED, 0xD3}},
       env_position, {0, 0, 0, 1, 2, 3}}},
      {LONG, 0, {"ED2 without a note: it freezes two ticks, then goes on", 4, {note, {0, 0, 0, CMD_EXTENDED, 0xD2}}, env_position, {1, 2, 3, 4, 4, 4, 5, 6}}},
      {LONG, 0, {"ED2 counts down to its tick", 4, {{1, C4, 0, CMD_EXTENDED, 0xD2}}, field(&CHANNEL_STATE::delay_sample), {2, 2, 0, 0}}},
      {OFF, 0, {"1FF stops the period at 40", 6, {{1, C4, 0, CMD_XM_PORTA_UP, 0xFF}}, period,
       {4608, 3588, 2568, 1548, 528, 40}}},
      {OFF, 0, {"2FF has no limit", 3, {{1, C4, 0, CMD_XM_PORTA_DOWN, 0xFF}}, period, {4608, 5628, 6648}}},
      {OFF, 0, {"100 and 200 repeat their own speeds", 2, {{1, C4, 0, CMD_XM_PORTA_UP, 2},
       {0, 0, 0, CMD_XM_PORTA_DOWN, 3}, {0, 0, 0, CMD_XM_PORTA_UP, 0}, {0, 0, 0, CMD_XM_PORTA_DOWN, 0}}, period,
       {4608, 4600, 4600, 4612, 4612, 4604, 4604, 4616}}},
      {OFF, 0, {"A0F slides down, A00 repeats, A20 up", 3, {{1, C4, 0, CMD_XM_VOLSLIDE, 0x0F},
       {0, 0, 0, CMD_XM_VOLSLIDE, 0}, {0, 0, 0, CMD_XM_VOLSLIDE, 0x20}}, volume,
       {64, 49, 34, 34, 19, 4, 4, 6, 8}}},
      {OFF, 0, {"P04 pans left by 4 after tick 0, P00 repeats, P20 right", 3, {{1, C4, 0, CMD_XM_PANSLIDE, 0x04},
       {0, 0, 0, CMD_XM_PANSLIDE, 0}, {0, 0, 0, CMD_XM_PANSLIDE, 0x20}}, pan,
       {128, 124, 120, 120, 116, 112, 112, 114, 116}}},
      {OFF, 0, {"X15 once, X10 repeats, X20 without a memory nothing", 2, {{1, C4, 0, CMD_XM_EXTRA_FINE_PORTA, 0x15},
       {0, 0, 0, CMD_XM_EXTRA_FINE_PORTA, 0x10}, {0, 0, 0, CMD_XM_EXTRA_FINE_PORTA, 0x20}}, period,
       {4603, 4603, 4598, 4598, 4598, 4598}}},
      {OFF, 0, {"5xy goes on sliding to the note of 3xx", 2, {note, {1, C4 + 12, 0, CMD_TONE_PORTA, 0x04},
       {0, 0, 0, CMD_XM_TONE_PORTA_VOLSLIDE, 0x01}}, period, {4608, 4608, 4608, 4592, 4592, 4576}}},
      {OFF, 0, {"and slides the volume", 2, {note, {1, C4 + 12, 0, CMD_TONE_PORTA, 0x04},
       {0, 0, 0, CMD_XM_TONE_PORTA_VOLSLIDE, 0x01}}, volume, {64, 64, 64, 64, 64, 63}}},
      {OFF, 0, {"6xy slides the volume under the vibrato", 2, {note, {0, 0, 0, CMD_XM_VIBRATO_VOLSLIDE, 0x02}},
       volume, {64, 64, 64, 62}}},
  };
  // clang-format on
  for (const auto &c : cases) {
    make_xm(c.vol, OFF, c.fadeout);
    ci[0].xm_extra_fine_up = ci[0].xm_extra_fine_down = 0;  // these carry over songs
    EXPECT_EQ(play(c.t.speed, c.t.rows, c.t.probe, c.t.values.size()), c.t.values) << c.t.what;
  }
}

TEST_F(XmFamily, PanEnvelopeMovesTheVoicePan) {
  make_xm(OFF, PAN_SWING, 0);
  EXPECT_EQ(play(6, {{1, C4, 0xC8, 0, 0}}, pan_env, 6), (Values{0, 16, 32, 48, 64, 64}));
  EXPECT_EQ(calc_pan(0), 255);  // centre 136 swung fully right
}

// A note's sample comes from the instrument's map; a note without an instrument keeps the
// channel's volume and pan but takes the new sample's tuning and relative note; an instrument
// without a note changes neither.
TEST_F(XmFamily, InstrumentsMapNotesToSamples) {
  make_xm(OFF, OFF, 0);
  INSTRUMENT_INFO &ins = mod->instruments[0];
  for (int n = 60; n < 96; n++) ins.sample_map[n] = 1;
  mod->sample_info[1].relative_note = 12, mod->sample_info[1].tuning = 128 + 16;
  mod->sample_info[1].volume = 50, mod->sample_info[1].pan = 10;
  cell(0, 0) = {1, C4, 0x10 + 20, 0, 0};
  cell(1, 0) = {0, 61, 0, 0, 0};
  cell(2, 0) = {1, 0, 0, 0, 0};
  cell(3, 0) = {1, 61, 0, 0, 0};
  start(1);
  // clang-format off
  const struct { int sample, volume, pan, relative, period; } rows[] = {
      {0, 20, 128, 0, 4608}, {1, 20, 128, 12, note2period(72, 144)}, {1, 20, 128, 12, note2period(72, 144)},
      {1, 50, 10, 12, note2period(72, 144)}};
  // clang-format on
  for (const auto &r : rows) {
    mod_interrupt();
    EXPECT_EQ(ci[0].sample, r.sample) << mi.row;
    EXPECT_EQ(ci[0].volume, r.volume) << mi.row;
    EXPECT_EQ(ci[0].pan, r.pan) << mi.row;
    EXPECT_EQ(ci[0].relative_note, r.relative) << mi.row;
    EXPECT_EQ(ci[0].period, r.period) << mi.row;
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

}  // namespace
