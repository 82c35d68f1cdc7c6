// The playback tick on modules built in memory (the tick must also cope with what load_mux
// refuses), the timer calls pointed at a recorder, and the effect routines on the channel and
// player records. Plain rows, envelopes and fade-out play in the game songs, whose renders are
// checked byte for byte; imported effects are heard against the reference (rule modules, renders).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

#include "model_builder.h"

namespace {

using Values = std::vector<int>;
using Rows = std::vector<std::pair<int, int>>;  // order, row
using Probe = std::function<int()>;
const int C = 8363;  // middle C in frequency mode: period 1712
const int XM = MODUX_XM | MODUX_LINEAR;

std::vector<long> timer_periods;  // periods handed to the timer
modux_player *const P = &default_player;

// What a case reads from channel 0 or the player after each tick.
Probe field(int CHANNEL_STATE::*f) {
  return [f] { return ci[0].*f; };
}
const Probe volume = field(&CHANNEL_STATE::volume), period = field(&CHANNEL_STATE::period),
            tick_period = field(&CHANNEL_STATE::tick_period), pan = field(&CHANNEL_STATE::pan);

class Tick : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    install_sound(DIGI_NONE, MIDI_NONE, nullptr);
    modux_install_int = [](void (*)(void), long speed) {
      return timer_periods.push_back(speed), 0;
    };
    modux_remove_int = [](void (*)(void)) {};
    install_mod(16);
  }
  void SetUp() override { enable_lasttrk_loop = -1; }
  void TearDown() override { destroy_mod(mod); }

  // model::module of the shape; XM flags give each sample relative note 0 and finetune 0.
  void make(int channels, int rows, int flags = 0, int patterns = 1) {
    destroy_mod(mod);
    mod = model::module(channels, rows, flags, patterns);
  }
  INSTRUMENT_INFO &add_instrument(int sample) { return model::add_instrument(mod, sample); }
  NOTE_INFO &cell(int row, int ch, int p = 0) { return model::cell(mod, row, ch, p); }
  void start(int speed, int loop = 0) {
    mod->initial_speed = speed;
    play_mod(mod, loop);
  }
  void run(int calls) {
    while (calls-- > 0) mod_interrupt();
  }
  // Order and row at the first tick of each of the next `rows` rows.
  Rows rows_played(int rows) {
    Rows seen;
    while (static_cast<int>(seen.size()) < rows && mi.is_playing) {
      mod_interrupt();
      if (mi.tick == 0) seen.push_back({mi.order, mi.row});
    }
    return seen;
  }
  // Plays `rows` on channel 0 from row 0 and reads `probe` after each of `ticks` ticks.
  Values play(int speed, const std::vector<NOTE_INFO> &rows, const Probe &probe, size_t ticks) {
    for (size_t row = 0; row < rows.size(); row++) cell(static_cast<int>(row), 0) = rows[row];
    start(speed);
    Values seen;
    while (seen.size() < ticks) mod_interrupt(), seen.push_back(probe());
    return seen;
  }

  MODUX *mod = nullptr;
};

const int C4 = 49;  // XM note C-4: linear period 4608 with finetune 0
struct Env {
  std::vector<std::pair<int, int>> points;
  int flags, sustain, loop_start, loop_end;
};

int vol_env() { return ci[0].sounding.vol_env.output; }
int env_position() { return ci[0].sounding.vol_env.position; }

const Env DECAY = {{{0, 64}, {2, 32}, {4, 16}, {8, 0}}, 1, 0, 0, 0};
const Env SUSTAIN_LOOP = {{{0, 64}, {2, 32}, {4, 16}, {8, 0}}, 7, 1, 2, 3};
const Env ONE_POINT = {{{0, 40}}, 3, 0, 0, 0};
const Env EMPTY_LOOP = {{{0, 64}, {4, 0}, {8, 32}}, 5, 0, 1, 1};
const Env LONG = {{{0, 64}, {64, 0}}, 1, 0, 0, 0};
const Env OFF = {{}, 0, 0, 0, 0};

class XmFamily : public Tick {
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

// One case of a tick-by-tick table: `rows` on channel 0 at `speed`, `values` read after each
// tick; with `vol`, in an XM module whose instrument 1 has that volume envelope.
struct TickCase {
  const char *what;
  int speed;
  std::vector<NOTE_INFO> rows;
  Probe probe;
  Values values;
  const Env *vol = nullptr;
};

int speed_and_tempo() { return mi.tempo * 1000 + mi.speed; }

TEST_F(Tick, ALoopingSongContinuesAtTheRestartPosition) {
  make(1, 2, 0, 3);
  mod->restart_order = 1;
  start(1, -1);
  EXPECT_EQ(rows_played(8), (Rows{{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {1, 0}, {1, 1}}));
  // Restarting at position 0 passes through the restart twice: one silent tick more.
  mod->restart_order = 0;
  start(1, -1);
  run(8);
  EXPECT_EQ(mi.tick, -1);
  EXPECT_EQ(rows_played(1), (Rows{{0, 0}}));
}

// The tick itself restarts nothing and installs no timer: a looping song's end and a tempo
// command leave requests, which mod_interrupt carries out right after the tick.
TEST_F(Tick, ALoopsEndAndATempoAreRequestsThatTheTimerOwnerCarriesOut) {
  make(1, 2, 0, 2);
  mod->restart_order = 1;
  cell(0, 0, 1) = {0, 0, 0, CMD_SPEED_TEMPO, 0x21};
  start(1, -1);
  run(2);
  timer_periods.clear();
  mod_tick(P);  // row 0 of position 1 sets 33 BPM
  EXPECT_EQ(std::make_pair(mi.tempo.load(), P->timer_request.load()), std::make_pair(33, -1));
  EXPECT_TRUE(timer_periods.empty());
  mod_take_tick_requests(P);
  EXPECT_EQ(timer_periods, std::vector<long>{mod_timer_period(33, 100)});
  run(1);
  ci[0].volume = 40;
  mod_tick(P);  // past the end
  EXPECT_EQ(std::make_pair(P->restart_request.load(), mi.skip_order.load()), std::make_pair(-1, 2));
  EXPECT_EQ(std::make_pair(ci[0].volume, mi.tempo.load()), std::make_pair(40, 33));
  mod_take_tick_requests(P);  // the song restarts: volume, tempo and requests from the start
  EXPECT_EQ((Values{ci[0].volume, mi.tempo, P->restart_request, P->timer_request}),
            (Values{0, 125, 0, 0}));
  EXPECT_EQ(timer_periods.back(), mod_timer_period(125, 100));
  EXPECT_EQ(rows_played(2), (Rows{{1, 0}, {1, 1}}));
}

// Row 0 of position `order` carries the command; `next`: the next row's position (-1: ended).
TEST_F(Tick, JumpsAndBreaksMoveThePosition) {
  // clang-format off
  const struct { const char *what; int ch, command, param, loop, lasttrk, order; std::pair<int, int> next; } cases[] = {
      {"D05 on a channel without a voice", 16, CMD_PATTERN_BREAK, 5, 0, -1, 0, {1, 5}},
      {"D1A", 0, CMD_PATTERN_BREAK, 0x1A, 0, -1, 0, {1, 20}},
      {"D99 beyond 32 rows", 0, CMD_PATTERN_BREAK, 0x99, 0, -1, 0, {1, 31}},
      {"B02", 0, CMD_POSITION_JUMP, 2, 0, -1, 0, {2, 0}},
      {"B09 looping", 0, CMD_POSITION_JUMP, 9, -1, -1, 0, {0, 0}},
      {"B09 not looping", 0, CMD_POSITION_JUMP, 9, 0, -1, 0, {-1, 0}},
      {"D03 on the last position, looping", 1, CMD_PATTERN_BREAK, 3, -1, -1, 2, {0, 3}},
      {"B00 on the last position, ignored", 0, CMD_POSITION_JUMP, 0, 0, 0, 2, {2, 1}},
      {"B00 on the last position", 0, CMD_POSITION_JUMP, 0, 0, -1, 2, {0, 0}},
  };
  // clang-format on
  for (const auto &c : cases) {
    make(17, 32, 0, 3);  // 16 voices were reserved
    cell(0, c.ch, c.order) = {0, 0, 0, c.command, c.param};
    enable_lasttrk_loop = c.lasttrk;
    start(2, c.loop);
    if (c.order != 0) goto_mod_track(c.order);
    mod_interrupt();  // the first tick of the row with the commands
    ASSERT_EQ(mi.order, c.order) << c.what;
    run(2);
    const auto at =
        mi.is_playing ? std::make_pair(mi.order.load(), mi.row.load()) : std::make_pair(-1, 0);
    EXPECT_EQ(at, c.next) << c.what;
    EXPECT_EQ(mi.tick, 0) << c.what;
  }
}

// A break and a jump on one row land on the break's row of the jump's pattern, held to that
// pattern's rows, whichever channel carries which.
TEST_F(Tick, ABreakRowIsHeldToThePatternTheJumpLandsIn) {
  // break channel, jump channel, rows of the next pattern and of the target -> row reached
  const int cases[][5] = {
      {0, 1, 32, 64, 40}, {1, 0, 32, 64, 40}, {0, 1, 64, 32, 31}, {1, 0, 64, 32, 31}};
  for (const auto &c : cases) {
    make(2, 64, 0, 3);
    mod->patterns[1].row_count = c[2];
    mod->patterns[2].row_count = c[3];
    cell(0, c[0]) = {0, 0, 0, CMD_PATTERN_BREAK, 0x40};
    cell(0, c[1]) = {0, 0, 0, CMD_POSITION_JUMP, 2};
    start(1);
    EXPECT_EQ(rows_played(2), (Rows{{0, 0}, {2, c[4]}})) << c[0] << " " << c[2];
  }
}

// The effects tick by tick; a cell of zeros plays no note.
TEST_F(XmFamily, ChannelEffectsTickByTick) {
  using CS = CHANNEL_STATE;
  const NOTE_INFO note = {1, C4, 0, 0, 0}, key_off = {0, -2, 0, 0, 0};
  // clang-format off
  const TickCase cases[] = {
      {"A slides held to 0..64, up first, for one row", 4, {{1, C, 0x10 + 60, CMD_VOLSLIDE, 0xF1},
       {0, 0, 0, CMD_VOLSLIDE, 0x0F}, {}, {0, 0, 0, CMD_VOLSLIDE, 0x0F}}, volume,
       {60, 64, 64, 64, 64, 49, 34, 19, 19, 19, 19, 19, 19, 4, 0, 0}},
      {"205 then 100 slides back", 3, {{1, C, 0, CMD_PORTA_DOWN, 5}, {0, 0, 0, CMD_PORTA_UP, 0}}, period,
       {1712, 1732, 1752, 1752, 1732, 1712}},
      {"340 with a sample restores its volume only", 3, {{1, C, 0, CMD_SET_VOLUME, 20},
       {1, 2 * C, 0, CMD_TONE_PORTA, 0x40}}, volume, {20, 20, 20, 64, 64, 64}},
      {"920, 900 reuses it, 930 without a note does nothing", 1, {{1, C, 0, CMD_SAMPLE_OFFSET, 0x20},
       {1, C, 0, CMD_SAMPLE_OFFSET, 0}, {0, 0, 0, CMD_SAMPLE_OFFSET, 0x30}}, field(&CS::sample_offset),
       {0x2000, 0x2000, 0x2000}},
      {"a new note forgets the 3xx target", 2, {{1, C, 0, 0, 0}, {1, 2 * C, 0, CMD_TONE_PORTA, 0x40},
       {1, C, 0, 0, 0}, {0, 0, 0, CMD_TONE_PORTA, 0}}, period, {1712, 1712, 1712, 1456, 1712, 1712, 1712, 1712}},
      {"1FF holds the voice period at 4", 3, {{1, C, 0, CMD_PORTA_UP, 0xFF}}, tick_period, {1712, 692, 4}},
      {"ED9 never starts in a 6-tick row", 6, {{1, C, 0, CMD_EXTENDED, 0xD9}}, field(&CS::delay_sample),
       {9, 9, 9, 9, 9, 9, 0}},
      {"F00 changes nothing, F21 sets the tempo, F20 the speed", 1, {{0, 0, 0, CMD_SPEED_TEMPO, 0},
       {0, 0, 0, CMD_SPEED_TEMPO, 0x21}, {0, 0, 0, CMD_SPEED_TEMPO, 0x20}}, speed_and_tempo,
       {125001, 33001, 33032}},
      {"a sample the module lacks starts nothing, with a note or an offset", 1, {{1, C, 0, 0, 0},
       {200, 2 * C, 0, CMD_SAMPLE_OFFSET, 0x10}, {3, C / 2, 0, 0, 0}}, period, {1712, 1712, 1712}},
      // S3M family and the volume column, at their edges.
      {"E and F do nothing before a note", 2, {{0, 0, 0, CMD_S3M_PORTA_DOWN, 0x10}}, period, {0, 0}},
      {"J37 at speed 1 plays the note only", 1, {{1, C, 0, CMD_S3M_ARPEGGIO, 0x37},
       {0, 0, 0, CMD_S3M_ARPEGGIO, 0}}, tick_period, {1712, 1712}},
      {"X00, X40, X80 and XA4", 1, {{1, C, 0, CMD_S3M_PANNING, 0}, {0, 0, 0, CMD_S3M_PANNING, 0x40},
       {0, 0, 0, CMD_S3M_PANNING, 0x80}, {0, 0, 0, CMD_S3M_PANNING, 0xA4}}, pan, {0, 127, 255, 255}},
      {"0x51..0x5F change nothing", 1, {{1, C, 0x10 + 20, 0, 0}, {0, 0, 0x55, 0, 0}}, volume, {20, 20}},
      {"an effect slide overrides the column's, a zero one keeps it", 3, {{1, C, 0x65, CMD_VOLSLIDE, 0x10},
       {0, 0, 0x65, CMD_VOLSLIDE, 0}}, volume, {64, 64, 64, 64, 59, 54}},
      {"the column after a cut sets the volume again", 1, {{1, C, 0, 0, 0}, {0, -1, 0x30, 0, 0}}, volume,
       {64, 32}},
      {"T1F never brings the tempo below 32", 1, {{0, 0, 0, CMD_S3M_SET_BPM, 0x22},
       {0, 0, 0, CMD_S3M_SET_BPM, 0x1F}, {0, 0, 0, CMD_S3M_SET_BPM, 0x1F}}, speed_and_tempo,
       {34001, 32001, 32001}},
      {"T0F never lifts it above 255", 1, {{0, 0, 0, CMD_S3M_SET_BPM, 0xFA}, {0, 0, 0, CMD_S3M_SET_BPM, 0x0F}},
       speed_and_tempo, {250001, 255001}},
      {"the IT family's own codes (T40, SE2, SB1) do nothing in other modules", 1, {{0, 0, 0, CMD_IT_TEMPO, 0x40},
       {0, 0, 0, CMD_IT_EXTENDED, 0xE2}, {0, 0, 0, CMD_IT_EXTENDED, 0xB1}}, speed_and_tempo, {125001, 125001, 125001}},
      // The XM family's envelopes and slides at their edges.
      {"after the key off the loop takes over", 4, {note, {}, key_off}, vol_env,
       {64, 48, 32, 32, 32, 32, 32, 32, 32, 24, 16, 12, 8, 4, 16, 12}, &SUSTAIN_LOOP},
      {"a one-point envelope with sustain holds its value, also after the key off", 2, {note, key_off}, vol_env, {40, 40, 40, 40}, &ONE_POINT},
      {"a zero-length loop holds its point", 8, {note}, vol_env, {64, 48, 32, 16, 0, 0, 0, 0}, &EMPTY_LOOP},
      {"L past the last point sets the last point's tick", 2, {note, {0, 0, 0, CMD_SET_ENVELOPE_POSITION, 0xFF}}, vol_env, {64, 48, 0, 0}, &DECAY},
      {"ED2 without a note: it freezes two ticks, then goes on", 4, {note, {0, 0, 0, CMD_EXTENDED, 0xD2}}, env_position, {1, 2, 3, 4, 4, 4, 5, 6}, &LONG},
      {"1FF stops the period at 40", 6, {{1, C4, 0, CMD_XM_PORTA_UP, 0xFF}}, period, {4608, 3588, 2568, 1548, 528, 40}, &OFF},
      {"2FF has no limit", 3, {{1, C4, 0, CMD_XM_PORTA_DOWN, 0xFF}}, period, {4608, 5628, 6648}, &OFF},
      {"X15 once, X10 repeats, X20 without a memory nothing", 2, {{1, C4, 0, CMD_XM_EXTRA_FINE_PORTA, 0x15},
       {0, 0, 0, CMD_XM_EXTRA_FINE_PORTA, 0x10}, {0, 0, 0, CMD_XM_EXTRA_FINE_PORTA, 0x20}}, period,
       {4603, 4603, 4598, 4598, 4598, 4598}, &OFF},
  };
  // clang-format on
  for (const auto &c : cases) {
    c.vol ? make_xm(*c.vol, OFF, 0) : make(1, 4);
    EXPECT_EQ(play(c.speed, c.rows, c.probe, c.values.size()), c.values) << c.what;
  }
}

// A slide held on for many minutes keeps the period bounded (no overflow, whatever the family).
TEST_F(Tick, EndlessSlidesStayBounded) {
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

// Damaged modules play without reading outside them.
TEST_F(XmFamily, DamagedModulesPlayWithoutReadingOutsideThem) {
  // A tone portamento with a sample the module lacks, and an order naming a missing pattern,
  // which plays as 64 empty rows.
  make(2, 4, 0, 2);
  cell(1, 1) = NOTE_INFO{3, 0, 0, CMD_TONE_PORTA, 1};
  mod->order_count = 3;
  mod->order_table[1] = 9, mod->order_table[2] = 1;
  start(1);
  run(5);
  EXPECT_EQ(mi.order, 1);
  run(64);
  EXPECT_EQ(mi.order, 2);
  // Patterns without rows, a zero speed and an order count beyond the order table.
  make(1, 0);
  mod->order_count = 300;
  start(0);
  run(255);  // every tick is a new row, and every row a new position
  EXPECT_EQ(mi.order, 255);
  EXPECT_EQ(is_mod_playing(), -1);
  mod_interrupt();
  EXPECT_EQ(is_mod_playing(), 0);
  // Point counts, sustain and loop points and sample maps outside their arrays, and instrument
  // numbers the module lacks.
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
  EXPECT_EQ(ci[0].sounding.sample, 1);  // the last sample stands in for the missing ones
  EXPECT_GE(ci[0].sounding.vol_env.output, 0);
  EXPECT_LE(ci[0].sounding.vol_env.output, 64);
  EXPECT_EQ(ci[0].sounding.pan_env.output, 32);
}

// The trackers' rules (RULE_* bits of MODUX::rules) whose engine-own side (rules 0) plays in the
// native songs, each row once with its rule and once without. The rule modules (tests/rules)
// hear every rule against the reference player (S3M, arpeggio-tuning and flow rules only there).
TEST_F(XmFamily, EachRuleAgainstTheEnginesOwn) {
  // clang-format off
  // `side`: channel 1's cell of row 0.
  const struct { const char *what; int rules, flags, speed; std::vector<NOTE_INFO> rows; NOTE_INFO side;
                 Probe probe; Values with_rule, without; } cases[] = {
      {"EE1 repeats the row, A01 slides on", RULE_DELAY_REPEATS_ROW, 0, 3, {{1, C, 0, CMD_VOLSLIDE, 0x01}},
       {0, 0, 0, CMD_EXTENDED, 0xE1}, volume, {64, 63, 62, 62, 61, 60, 60}, {64, 63, 62, 62, 62, 62, 62}},
      {"F20 is 32 BPM", RULE_TEMPO_FROM_32, 0, 3, {{0, 0, 0, CMD_SPEED_TEMPO, 0x20}}, {},
       speed_and_tempo, {32003}, {125032}},
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

const int AMIGA = MODUX_XM | MODUX_AMIGA;

// Each test starts from a silent channel 0 of a MOD-family song at full volume.
class Routines : public ::testing::Test {
 protected:
  void SetUp() override {
    for (CHANNEL_STATE &c : ci) c = CHANNEL_STATE();
    ci[0].vibrato_shift = 5, ci[0].sounding.fade = 32768, ci[0].sounding.vol_env.output = 64,
    ci[0].sounding.pan_env.output = 32;
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

// Frequency mode (native songs 3579546 / Amiga period, MODs PAL 3546895 / period) and the XM
// tables at their edges; their plain notes are heard in every game song's render and the reference.
TEST_F(Routines, NotesToPeriodsAndPeriodsToPitches) {
  // clang-format off
  const int periods[][4] = {  // flags, note, rate -> period
      {0, 8363, 0, 14318184 / 4242},          // a rate of 0 plays as 4242 Hz
      {0, 300000, 8363, 14318184 / 300000},   // note x rate overflows 32 bits
      {0, 1000, 1, 14318184},                 // the divisor rounds to 0: the lowest pitch
      {XM, 48, 128, 4608},                    // file note 49 counts from 1
      {XM, 500, 128, 7680 - 118 * 64}, {XM, -3, 128, 7680},  // notes held to 0..118
      {AMIGA, 0, 128, 856 * 32},  // finetune 0: the table's own C
      {AMIGA, 11, 255, 431 * 32 - 90}, {AMIGA, 11, 1000, 431 * 32 - 90}};  // 15/16 to the C above
  const int pitches[][3] = {  // flags, period -> Hz
      {0, 1712, 8363}, {XM, 4608, 8363}, {XM, 768 * 40, 0}, {AMIGA, 1, 1712 * 8363}};
  // clang-format on
  for (const auto &c : periods) {
    use_flags(c[0]);
    EXPECT_EQ(note2period(P, c[1], c[2]), c[3]) << c[0] << ": " << c[1] << " at " << c[2];
  }
  for (const auto &c : pitches) {
    use_flags(c[0]);
    EXPECT_EQ(period2pitch(P, c[1]), c[2]) << c[0] << ": " << c[1];
  }
  // FT2's linear pitch: 16-bit periods, the sample still from octave 13, the shift wrapped from
  // period 14848 (21 octaves up: 424813 Hz is lintab's entry 256).
  use_flags(XM);
  mod.rules = RULE_FT2_TICK_COUNTS;
  const int ft2[][2] = {{4608, 8363},    {4608 + 65536, 8363}, {13 * 768 - 1, 65},
                        {13 * 768, 0},   {14847, 0},           {14848, 424813 * 4},
                        {16384, 424813}, {15360, 535232 * 4},  {39424, 424813 * 4}};
  for (const auto &c : ft2) EXPECT_EQ(period2pitch(P, c[0]), c[1]) << c[0];
  use_flags(0);
  mod.rules = RULE_PAL_CLOCK;
  EXPECT_EQ(period2pitch(P, 4 * 428), 3546895 / 428);  // C-2 of a MOD, 8287 Hz
  EXPECT_GT(note2period(P, 2000000000, 2000000000), 0);
}

// IT's Amiga slides keep the frequency in whole hertz and move its period (1712 at 8363 Hz) four
// units a step, cut down to the hertz each time: figures measured from the reference player.
TEST_F(Routines, ItAmigaSlidesMoveAPeriodOfAWholeHertzPitch) {
  use_flags(0);
  mod.rules = RULE_IT_VIRTUAL_VOICES;
  EXPECT_EQ(it_note_period(P, 57, -1), 7032);  // A-4 of 8363 Hz: 7032.4 Hz
  int hz = 8363;
  for (int tick = 0; tick < 20; tick++) it_slide(P, hz, -4);
  EXPECT_EQ(hz, 7980);
  hz = 8363;
  for (int row = 0; row < 4; row++) it_slide(P, hz, 4);
  EXPECT_EQ(hz, 8439);
  EXPECT_EQ(it_pitch_hz(P, 8363, 0), 8363);
}

TEST_F(Routines, VoiceVolumeAndPanCombineEveryFactor) {
  const int volumes[][6] = {
      // tick volume, global, fade, music, envelope -> voice volume
      {64, 64, 32768, 255, 64, 255},  {64, 32, 32768, 255, 64, 127}, {32, 64, 32768, 255, 64, 127},
      {64, 64, 0, 255, 64, 0},        {64, 64, 32768, 0, 64, 0},     {64, 64, 32768, 255, 32, 127},
      {64, 2000, 32768, 255, 64, 255}};  // a damaged global volume still gives a voice volume
  for (const auto &v : volumes) {
    ci[0].tick_volume = v[0], mi.global_volume = v[1], ci[0].sounding.fade = v[2];
    mod_volume = v[3], ci[0].sounding.vol_env.output = v[4];
    EXPECT_EQ(calc_volume(P, 0), v[5]) << &v - volumes;
  }
  const int pans[][3] = {{64, 32, 64},   {200, 32, 200}, {64, 64, 128},
                         {200, 64, 255}, {64, 0, 0},     {200, 0, 144}};
  for (const auto &p : pans) {
    ci[0].tick_pan = p[0], ci[0].sounding.pan_env.output = p[1];
    EXPECT_EQ(calc_pan(P, 0), p[2]) << p[0] << " " << p[1];
  }
}

TEST_F(Routines, LookUpsOutsideTheModuleAnswerEmptyCellsAndTheLastSample) {
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
  EXPECT_EQ(get_modux_sample_no(P, 7, 40), 7);  // outside the XM modes the number is the sample
  INSTRUMENT_INFO inst{};
  inst.sample_map[40] = 1, inst.sample_map[41] = 9;
  mod.instruments = &inst, mod.instrument_count = 1, mod.sample_count = 3;
  use_flags(XM);
  const int cases[][3] = {
      {0, 40, 1}, {0, 41, 2}, {0, 96, 2}, {1, 40, 2}, {-1, 40, 2}};  // missing: the last
  for (const auto &c : cases)
    EXPECT_EQ(get_modux_sample_no(P, c[0], c[1]), c[2]) << c[0] << " " << c[1];
}

TEST_F(Routines, SemitoneSearchFindsTableNotesAboveAndEndsWhereNoneLies) {
  const int np118 = 7744 - 118 * 64, np48 = 7744 - 48 * 64,
            np52 = 7744 - 52 * 64;  // linear, 64 a semitone
  // clang-format off
  const int cases[][4] = {  // flags, period, semitones -> period
      {0, 1700, 0, 6464 >> 2}, {0, 1712, 12, 856}, {0, 0, 3, 0}, {0, -50, 3, -50}, {0, 1, 0, 0},
      {XM, 100, 4, 100}, {XM, np118, 0, np118}, {XM, np48, 4, np52}, {AMIGA, 3, 2, 3}};
  // clang-format on
  for (const auto &c : cases) {
    mi.flags = c[0];
    EXPECT_EQ(find_lower_period(P, c[1], c[2]), c[3]) << c[0] << ": " << c[1] << " +" << c[2];
  }
}

// From volume 40 and period 1000, the field after a run of extended commands (0x1xy: XM's).
// A parameter of 0 repeats the last fine slide: MOD's two directions share one memory, XM's
// have one each. Retrigger and fine volume slides are heard in the MOD and XM accuracy renders.
TEST_F(Routines, ExtendedCommandsSetTheirFields) {
  using CS = CHANNEL_STATE;
  // clang-format off
  const struct { std::vector<int> params; int CS::*field; int expected; } cases[] = {
      {{0x8F}, &CS::pan, 255},           {{0x100}, &CS::pan, 136},          {{0x108}, &CS::pan, 0},
      {{0x47}, &CS::vibrato_waveform, 7}, {{0x72}, &CS::tremolo_waveform, 2},
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
    for (int p : c.params) parse_extended_command(P, 0, p);
    EXPECT_EQ(ci[0].*c.field, c.expected) << ::testing::PrintToString(c.params);
  }
}

TEST_F(Routines, ChannelsWithoutANoteIgnorePitchEffects) {
  parse_vibrato(P, 0, 0x44, 5);
  parse_pro_arpeggio(P, 0, 0x37);
  parse_slide2period(P, 0, 4, 8364);
  parse_extended_command(P, 0, 0x15);
  parse_tremolo(P, 0, 0x44, 6);  // tremolo needs no note
  EXPECT_EQ(ci[0].vibrato_on + ci[0].arpeggio_on + ci[0].slide2period_on + ci[0].period, 0);
  EXPECT_EQ(ci[0].tremolo_on, -1);
}

// Zxx's messages on the filter: a cutoff or resonance of 0x80 or more (here the whole Oxx
// through 'o') is no MIDI data and changes nothing; FA, FC and FF open the filter wide.
TEST_F(Routines, MidiMacrosSetTheFilter) {
  static char macros[MODUX_IT_MACROS][MODUX_IT_MACRO_BYTES];
  std::snprintf(macros[0], MODUX_IT_MACRO_BYTES, "F0F000z");
  std::snprintf(macros[1], MODUX_IT_MACRO_BYTES, "F0F000o");
  std::snprintf(macros[16], MODUX_IT_MACRO_BYTES, "F0F00130");  // Z80
  std::snprintf(macros[17], MODUX_IT_MACRO_BYTES, "FC");        // Z81
  mod.it_macros = macros[0];
  mod.rules = RULE_IT_ZXX_MACROS | RULE_IT_VIRTUAL_VOICES;
  of = &mod;
  NOTE_STATE &n = ci[0].sounding;
  n.filter_env = 8192;    // no envelope
  const int cases[][5] = {// SFx, Oxx, Zxx -> cutoff, resonance
                          {0, 0, 0x40, 0x40, 0},
                          {0, 0, 0x80, 0x40, 0x30},
                          {1, 0x7E, 0x10, 0x7E, 0x30},
                          {1, 0x82, 0x10, 0x7E, 0x30},
                          {0, 0, 0x81, 127, 0}};
  for (const auto &c : cases) {
    ci[0].midi_macro = c[0], ci[0].sample_offset = c[1] << 8;
    parse_it_midi_macro(P, 0, c[2]);
    EXPECT_EQ(std::make_pair(n.cutoff, n.resonance), std::make_pair(c[3], c[4])) << c[2];
  }
  // The envelope scales the cutoff in its own fine steps, not whole ones.
  n.cutoff = 100, n.resonance = 10, n.filter_env = 8192 * 3 / 4 + 20;
  it_setup_filter(n, false);
  EXPECT_EQ(n.filter_cutoff, 100 * (8192 * 7 / 4 + 20) / 32);
}

// Depth 8 at shift 5: the wave x 8 / 32, added in the first half of the cycle, taken off in
// the second (no game song nor imported module of the accuracy renders sets a waveform).
TEST_F(Routines, VibratoAndTremoloWaveforms) {
  const int cases[][3] = {// waveform, position -> period and volume
                          {0, 0, 1000},  {0, 16, 1024}, {0, 64, 1063}, {0, -64, 937},
                          {1, 16, 1008}, {1, -16, 993}, {2, 5, 1063},  {2, -5, 937}};
  ci[0].period = ci[0].volume = 1000, ci[0].tremolo_shift = 5;
  ci[0].vibrato_depth = ci[0].tremolo_depth = 8;
  for (const auto &c : cases) {
    ci[0].vibrato_waveform = ci[0].tremolo_waveform = c[0];
    ci[0].vibrato_pos = ci[0].tremolo_pos = static_cast<signed char>(c[1]);
    do_vibrato(P, 0);
    do_tremolo(P, 0);
    EXPECT_EQ(std::make_pair(ci[0].tick_period, ci[0].tick_volume), std::make_pair(c[2], c[2]))
        << c[0] << " at " << c[1];
  }
}

}  // namespace
