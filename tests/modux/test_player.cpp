// The playback tick driven call by call on small modules built in memory: the restart of a
// looping song, flow commands, the Protracker effects of the native songs, the S3M family and
// the volume column at their edges (the effects themselves are heard against the reference
// player by the rule modules, tests/rules, and the accuracy renders), control requests and
// damaged modules. Plain row and order progression plays in every game song's checked render.
#include "tick_module.h"

using namespace ticktest;

namespace {

class Tick : public TickModule {};

int speed_and_tempo() { return mi.tempo * 1000 + mi.speed; }
int tempo() { return mi.tempo; }

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
  timer_periods().clear();
  mod_tick();  // row 0 of position 1 sets 33 BPM
  EXPECT_EQ(std::make_pair(mi.tempo.load(), mi.timer_request.load()), std::make_pair(33, -1));
  EXPECT_TRUE(timer_periods().empty());
  mod_take_tick_requests();
  EXPECT_EQ(timer_periods(), std::vector<long>{mod_timer_period(33, 100)});
  run(1);
  ci[0].volume = 40;
  mod_tick();  // past the end
  EXPECT_EQ(std::make_pair(mi.restart_request.load(), mi.skip_order.load()), std::make_pair(-1, 2));
  EXPECT_EQ(std::make_pair(ci[0].volume, mi.tempo.load()), std::make_pair(40, 33));
  mod_take_tick_requests();
  EXPECT_EQ(std::make_pair(ci[0].volume, mi.tempo.load()), std::make_pair(0, 125));
  EXPECT_EQ(timer_periods().back(), mod_timer_period(125, 100));
  EXPECT_EQ(std::make_pair(mi.restart_request.load(), mi.timer_request.load()),
            std::make_pair(0, 0));
  EXPECT_EQ(rows_played(2), (Rows{{1, 0}, {1, 1}}));
}

// Row 0 of position `order` carries the commands; `next` is the position of the next row
// (order -1: the song has ended). A break and a jump on one row: see the test after this one.
TEST_F(Tick, JumpsAndBreaksMoveThePosition) {
  struct Cmd {
    int ch, command, param;
  };
  // clang-format off
  const struct { const char *what; Cmd cmd; int loop, lasttrk, order; std::pair<int, int> next; } cases[] = {
      {"D05 on a channel without a voice", {16, CMD_PATTERN_BREAK, 5}, 0, -1, 0, {1, 5}},
      {"D1A", {0, CMD_PATTERN_BREAK, 0x1A}, 0, -1, 0, {1, 20}},
      {"D99 beyond 32 rows", {0, CMD_PATTERN_BREAK, 0x99}, 0, -1, 0, {1, 31}},
      {"B02", {0, CMD_POSITION_JUMP, 2}, 0, -1, 0, {2, 0}},
      {"B09 looping", {0, CMD_POSITION_JUMP, 9}, -1, -1, 0, {0, 0}},
      {"B09 not looping", {0, CMD_POSITION_JUMP, 9}, 0, -1, 0, {-1, 0}},
      {"D03 on the last position, looping", {1, CMD_PATTERN_BREAK, 3}, -1, -1, 2, {0, 3}},
      {"B00 on the last position, ignored", {0, CMD_POSITION_JUMP, 0}, 0, 0, 2, {2, 1}},
      {"B00 on the last position", {0, CMD_POSITION_JUMP, 0}, 0, -1, 2, {0, 0}},
  };
  // clang-format on
  for (const auto &c : cases) {
    make(17, 32, 0, 3);  // 16 voices were reserved
    cell(0, c.cmd.ch, c.order) = {0, 0, 0, c.cmd.command, c.cmd.param};
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
  const struct {
    int break_ch, jump_ch, next_rows, target_rows, row;
  } cases[] = {{0, 1, 32, 64, 40}, {1, 0, 32, 64, 40}, {0, 1, 64, 32, 31}, {1, 0, 64, 32, 31}};
  for (const auto &c : cases) {
    make(2, 64, 0, 3);
    mod->patterns[1].row_count = c.next_rows;
    mod->patterns[2].row_count = c.target_rows;
    cell(0, c.break_ch) = {0, 0, 0, CMD_PATTERN_BREAK, 0x40};
    cell(0, c.jump_ch) = {0, 0, 0, CMD_POSITION_JUMP, 2};
    start(1);
    EXPECT_EQ(rows_played(2), (Rows{{0, 0}, {2, c.row}})) << c.break_ch << " " << c.next_rows;
  }
}

TEST_F(Tick, PatternLoopRepeatsItsRowsAndDelayFreezesTheRow) {
  make(1, 16, 0, 2);
  cell(4, 0) = {0, 0, 0, CMD_EXTENDED, 0x60};
  cell(8, 0) = {0, 0, 0, CMD_EXTENDED, 0x62};
  cell(10, 0) = {0, 0, 0, CMD_EXTENDED, 0x61};  // no new start: back to the row after the last loop
  cell(1, 0, 1) = {0, 0, 0, CMD_EXTENDED, 0x61};  // a new pattern starts its loops at row 0
  start(1);
  Values rows;
  for (const auto &position : rows_played(33)) rows.push_back(position.second);
  EXPECT_EQ(rows, (Values{0, 1, 2, 3,  4, 5,  6,  7,  8,  4,  5,  6, 7, 8, 4, 5, 6,
                          7, 8, 9, 10, 9, 10, 11, 12, 13, 14, 15, 0, 1, 0, 1, 2}));
  make(2, 4);
  cell(0, 0) = {0, 0, 0, CMD_EXTENDED, 0xE2};
  cell(0, 1) = NOTE_INFO{1, C, 0, CMD_VOLSLIDE, 0x01};
  start(3);
  run(9);  // 3 ticks, then 2 x 3 frozen ones
  EXPECT_EQ(mi.row, 0);
  EXPECT_EQ(ci[1].volume, 62);  // the slide ran on ticks 1 and 2 only
  mod_interrupt();
  EXPECT_EQ(std::make_pair(mi.row.load(), mi.tick.load()), std::make_pair(1, 0));
}

// The effects tick by tick; a cell of zeros plays no note.
TEST_F(Tick, ChannelEffectsTickByTick) {
  using CS = CHANNEL_STATE;
  // clang-format off
  const TickCase cases[] = {
      {"A slides held to 0..64, up first, for one row", 4, {{1, C, 0x10 + 60, CMD_VOLSLIDE, 0xF1},
       {0, 0, 0, CMD_VOLSLIDE, 0x0F}, {}, {0, 0, 0, CMD_VOLSLIDE, 0x0F}}, volume,
       {60, 64, 64, 64, 64, 49, 34, 19, 19, 19, 19, 19, 19, 4, 0, 0}},
      {"205 then 100 slides back", 3, {{1, C, 0, CMD_PORTA_DOWN, 5}, {0, 0, 0, CMD_PORTA_UP, 0}}, period,
       {1712, 1732, 1752, 1752, 1732, 1712}},
      {"448 vibrato, 400 goes on", 6, {{1, C, 0, CMD_VIBRATO, 0x48}, {0, 0, 0, CMD_VIBRATO, 0}}, tick_period,
       {1712, 1712, 1736, 1757, 1770, 1775, 1770}},
      {"744 tremolo for one row", 6, {{1, C, 0x10 + 32, CMD_TREMOLO, 0x44}, {}}, tick_volume,
       {32, 32, 38, 43, 46, 47, 32}},
      {"340 slides to its note", 3, {{1, C, 0, CMD_SET_VOLUME, 20}, {1, 2 * C, 0, CMD_TONE_PORTA, 0x40},
       {0, 0, 0, CMD_TONE_PORTA, 0}}, period, {1712, 1712, 1712, 1712, 1456, 1200, 1200, 944, 856}},
      {"340 with a sample restores its volume only", 3, {{1, C, 0, CMD_SET_VOLUME, 20},
       {1, 2 * C, 0, CMD_TONE_PORTA, 0x40}}, volume, {20, 20, 20, 64, 64, 64}},
      {"920, 900 reuses it, 930 without a note does nothing", 1, {{1, C, 0, CMD_SAMPLE_OFFSET, 0x20},
       {1, C, 0, CMD_SAMPLE_OFFSET, 0}, {0, 0, 0, CMD_SAMPLE_OFFSET, 0x30}}, field(&CS::sample_offset),
       {0x2000, 0x2000, 0x2000}},
      {"a new note forgets the 3xx target", 2, {{1, C, 0, 0, 0}, {1, 2 * C, 0, CMD_TONE_PORTA, 0x40},
       {1, C, 0, 0, 0}, {0, 0, 0, CMD_TONE_PORTA, 0}}, period, {1712, 1712, 1712, 1456, 1712, 1712, 1712, 1712}},
      {"1FF holds the voice period at 4", 3, {{1, C, 0, CMD_PORTA_UP, 0xFF}}, tick_period, {1712, 692, 4}},
      {"EC3 cuts on tick 3", 6, {{1, C, 0, CMD_EXTENDED, 0xC3}}, volume, {64, 64, 64, 0, 0, 0, 0}},
      {"ED3 starts on tick 3", 6, {{1, C, 0, CMD_EXTENDED, 0xD3}}, field(&CS::delay_sample), {3, 3, 3, 0, 0, 0}},
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
       {0, 0, 0, CMD_S3M_SET_BPM, 0x1F}, {0, 0, 0, CMD_S3M_SET_BPM, 0x1F}}, tempo, {34, 32, 32}},
      {"T0F never lifts it above 255", 1, {{0, 0, 0, CMD_S3M_SET_BPM, 0xFA}, {0, 0, 0, CMD_S3M_SET_BPM, 0x0F}},
       tempo, {250, 255}},
  };
  // clang-format on
  for (const auto &c : cases) {
    make(1, 4);
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

TEST_F(Tick, ControlRequestsTakeEffectAtTheNextTickAndNothingMovesWhilePaused) {
  make(1, 4, 0, 3);
  start(1);
  run(2);
  pause_mod();
  run(5);
  resume_mod();
  mi.forbidden = -1;
  run(5);
  mi.forbidden = 0;
  EXPECT_EQ(rows_played(1), (Rows{{0, 2}}));
  ci[0].volume = 40;
  goto_mod_track(2);
  EXPECT_EQ(rows_played(1), (Rows{{2, 0}}));
  EXPECT_EQ(ci[0].volume, 0);
  next_mod_track();  // past the last position: the song ends
  mod_interrupt();
  EXPECT_EQ(is_mod_playing(), 0);
}

TEST_F(Tick, DamagedModulesPlayWithoutReadingOutsideThem) {
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
}

}  // namespace
