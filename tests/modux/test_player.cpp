// The playback tick driven call by call on small modules built in memory: row and order
// progression, flow commands, per-tick effects, the end of a song and damaged modules.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "modux.h"

namespace {

long last_timer_period = 0;
const int MIDDLE_C = 8363;  // note frequency of Amiga period 428; channel period 1712
using Rows = std::vector<std::pair<int, int>>;
using Values = std::vector<int>;

class Tick : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    install_sound(DIGI_NONE, MIDI_NONE, nullptr);
    modux_install_int = [](void (*)(void), long speed) { return last_timer_period = speed, 0; };
    modux_remove_int = [](void (*)(void)) {};
    install_mod(16);
  }
  void SetUp() override { enable_lasttrk_loop = -1; }
  void TearDown() override { destroy_mod(mod); }

  // A MOD-family module of empty patterns played in turn, with two silent samples at volume 64
  // tuned to middle C. Built by hand: the tick must also cope with what load_mux refuses.
  void make(int channels, int patterns, int rows) {
    destroy_mod(mod);
    mod = static_cast<MODUX *>(calloc(1, sizeof(MODUX)));
    mod->channel_count = channels, mod->sample_count = 2;
    mod->pattern_count = mod->order_count = patterns;
    mod->patterns = static_cast<PATTERN_INFO *>(calloc(patterns, sizeof(PATTERN_INFO)));
    mod->sample_info = static_cast<SAMPLE_INFO *>(calloc(2, sizeof(SAMPLE_INFO)));
    mod->samples = static_cast<SAMPLE *>(calloc(2, sizeof(SAMPLE)));
    for (int p = 0; p < patterns; p++) {
      mod->patterns[p] = {static_cast<NOTE_INFO *>(calloc(rows * channels, sizeof(NOTE_INFO))), rows};
      mod->order_table[p] = p;
    }
    for (int s = 0; s < 2; s++) {
      mod->samples[s] = SAMPLE{8, 0, 1000, 192, 1000, 0, 0, static_cast<unsigned long>(-1), calloc(1, 1000)};
      mod->sample_info[s] = SAMPLE_INFO{1000, 8363, 0, 64, 128, 0, 0, 0, 0, 0, 0, 0};
    }
    mod->initial_speed = 6, mod->initial_tempo = 125, mod->initial_global_volume = 64;
  }
  NOTE_INFO &cell(int p, int row, int ch) { return mod->patterns[p].notes[row * mod->channel_count + ch]; }
  void start(int speed, int loop = 0) {
    mod->initial_speed = speed;
    play_mod(mod, loop);
  }
  void run(int calls) { while (calls-- > 0) mod_interrupt(); }
  // Order and row at the first tick of each of the next `rows` rows.
  Rows rows_played(int rows) {
    Rows seen;
    while (static_cast<int>(seen.size()) < rows && mi.is_playing) {
      mod_interrupt();
      if (mi.tick == 0) seen.push_back({mi.order, mi.row});
    }
    return seen;
  }

  MODUX *mod = nullptr;
};

TEST_F(Tick, RowsAndOrdersAdvanceAtTheSpeedUntilTheSongEnds) {
  for (int speed : {1, 3, 6}) {
    make(1, 2, 4);
    mod->order_table[0] = 1, mod->order_table[1] = 0;
    start(speed);
    for (int call = 0; call < 8 * speed; call++) {
      mod_interrupt();
      ASSERT_EQ(mi.tick, call % speed) << "speed " << speed << " call " << call;
      ASSERT_EQ(mi.row, call / speed % 4);
      ASSERT_EQ(mi.order, call / (4 * speed));
      ASSERT_EQ(mi.pattern, 1 - call / (4 * speed));
    }
    EXPECT_EQ(is_mod_playing(), -1);
    mod_interrupt();  // past the last row of the last order
    EXPECT_EQ(is_mod_playing(), 0);
    EXPECT_EQ(of, nullptr);
  }
}

TEST_F(Tick, ALoopingSongContinuesAtTheRestartPosition) {
  make(1, 3, 2);
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

TEST_F(Tick, JumpsAndBreaksMoveThePosition) {
  struct Cmd { int ch, command, param; };
  const struct {
    const char *what;
    std::vector<Cmd> row0;
    int loop, lasttrk, order;  // order: the position holding the commands
    std::pair<int, int> next;  // the next row's position; order -1: the song has ended
  } cases[] = {
      {"D15", {{0, CMD_PATTERN_BREAK, 0x15}}, 0, -1, 0, {1, 15}},
      {"D05 on a channel without a voice", {{16, CMD_PATTERN_BREAK, 5}}, 0, -1, 0, {1, 5}},
      {"D1A", {{0, CMD_PATTERN_BREAK, 0x1A}}, 0, -1, 0, {1, 20}},
      {"D99 beyond 32 rows", {{0, CMD_PATTERN_BREAK, 0x99}}, 0, -1, 0, {1, 31}},
      {"B02", {{0, CMD_POSITION_JUMP, 2}}, 0, -1, 0, {2, 0}},
      {"B02 then D05", {{0, CMD_POSITION_JUMP, 2}, {1, CMD_PATTERN_BREAK, 5}}, 0, -1, 0, {2, 5}},
      {"D05 then B02", {{0, CMD_PATTERN_BREAK, 5}, {1, CMD_POSITION_JUMP, 2}}, 0, -1, 0, {2, 5}},
      {"B09 looping", {{0, CMD_POSITION_JUMP, 9}}, -1, -1, 0, {0, 0}},
      {"B09 not looping", {{0, CMD_POSITION_JUMP, 9}}, 0, -1, 0, {-1, 0}},
      {"D03 on the last position, looping", {{1, CMD_PATTERN_BREAK, 3}}, -1, -1, 2, {0, 3}},
      {"B00 on the last position, ignored", {{0, CMD_POSITION_JUMP, 0}}, 0, 0, 2, {2, 1}},
      {"B00 on the last position", {{0, CMD_POSITION_JUMP, 0}}, 0, -1, 2, {0, 0}},
  };
  for (const auto &c : cases) {
    make(17, 3, 32);  // 16 voices were reserved
    for (const Cmd &cmd : c.row0) cell(c.order, 0, cmd.ch) = {0, 0, 0, cmd.command, cmd.param};
    enable_lasttrk_loop = c.lasttrk;
    start(2, c.loop);
    if (c.order != 0) goto_mod_track(c.order);
    mod_interrupt();  // the first tick of the row with the commands
    ASSERT_EQ(mi.order, c.order) << c.what;
    run(2);
    const auto at = mi.is_playing ? std::make_pair(mi.order.load(), mi.row.load()) : std::make_pair(-1, 0);
    EXPECT_EQ(at, c.next) << c.what;
    EXPECT_EQ(mi.tick, 0) << c.what;
  }
}

// A break and a jump on one row land on the break's row of the jump's pattern, held to that
// pattern's rows, whichever channel carries which.
TEST_F(Tick, ABreakRowIsHeldToThePatternTheJumpLandsIn) {
  const struct { int break_ch, jump_ch, next_rows, target_rows, row; } cases[] = {
      {0, 1, 32, 64, 40}, {1, 0, 32, 64, 40}, {0, 1, 64, 32, 31}, {1, 0, 64, 32, 31}};
  for (const auto &c : cases) {
    make(2, 3, 64);
    mod->patterns[1].row_count = c.next_rows;
    mod->patterns[2].row_count = c.target_rows;
    cell(0, 0, c.break_ch) = {0, 0, 0, CMD_PATTERN_BREAK, 0x40};
    cell(0, 0, c.jump_ch) = {0, 0, 0, CMD_POSITION_JUMP, 2};
    start(1);
    EXPECT_EQ(rows_played(2), (Rows{{0, 0}, {2, c.row}})) << c.break_ch << " " << c.next_rows;
  }
}

TEST_F(Tick, PatternLoopRepeatsItsRowsAndDelayFreezesTheRow) {
  make(1, 2, 16);
  cell(0, 4, 0) = {0, 0, 0, CMD_EXTENDED, 0x60};
  cell(0, 8, 0) = {0, 0, 0, CMD_EXTENDED, 0x62};
  cell(0, 10, 0) = {0, 0, 0, CMD_EXTENDED, 0x61};  // no new start: back to the row after the last loop
  cell(1, 1, 0) = {0, 0, 0, CMD_EXTENDED, 0x61};   // a new pattern starts its loops at row 0
  start(1);
  Values rows;
  for (const auto &position : rows_played(33)) rows.push_back(position.second);
  EXPECT_EQ(rows, (Values{0, 1, 2, 3, 4, 5, 6, 7, 8, 4, 5, 6, 7, 8, 4, 5, 6, 7, 8, 9, 10, 9, 10, 11, 12, 13, 14, 15,
                          0, 1, 0, 1, 2}));

  make(2, 1, 4);
  cell(0, 0, 0) = {0, 0, 0, CMD_EXTENDED, 0xE2};
  cell(0, 0, 1) = NOTE_INFO{1, MIDDLE_C, 0, CMD_VOLSLIDE, 0x01};
  start(3);
  run(9);  // 3 ticks, then 2 x 3 frozen ones
  EXPECT_EQ(mi.row, 0);
  EXPECT_EQ(ci[1].volume, 62);  // the slide ran on ticks 1 and 2 only
  mod_interrupt();
  EXPECT_EQ(std::make_pair(mi.row.load(), mi.tick.load()), std::make_pair(1, 0));
}

TEST_F(Tick, SpeedAndTempoCommands) {
  const int cases[][3] = {{0x00, 6, 125}, {0x20, 32, 125}, {0x21, 6, 33}};  // param, speed, tempo
  for (const auto &c : cases) {
    make(1, 1, 4);
    cell(0, 0, 0) = {0, 0, 0, CMD_SPEED_TEMPO, c[0]};
    start(6);
    last_timer_period = 0;
    mod_interrupt();
    EXPECT_EQ(mi.speed, c[1]) << c[0];
    EXPECT_EQ(mi.tempo, c[2]) << c[0];
    EXPECT_EQ(last_timer_period, c[2] != 125 ? mod_timer_period(c[2], 100) : 0);
  }
}

// Channel 0 plays `rows` of a 4-row pattern; `values` is the field after each tick. C is middle
// C with sample 1; a cell of zeros plays no note.
TEST_F(Tick, ChannelEffectsTickByTick) {
  using CS = CHANNEL_STATE;
  const int C = MIDDLE_C;
  const struct {
    const char *what;
    int speed, sample_volume;
    std::vector<NOTE_INFO> rows;
    int CS::*field;
    Values values;
  } cases[] = {
      {"A slides held to 0..64, up first, for one row", 4, 60, {{1, C, 0, CMD_VOLSLIDE, 0xF1},
       {0, 0, 0, CMD_VOLSLIDE, 0x0F}, {}, {0, 0, 0, CMD_VOLSLIDE, 0x0F}}, &CS::volume,
       {60, 64, 64, 64, 64, 49, 34, 19, 19, 19, 19, 19, 19, 4, 0, 0}},
      {"205 then 100 slides back", 3, 64, {{1, C, 0, CMD_PORTA_DOWN, 5}, {0, 0, 0, CMD_PORTA_UP, 0}},
       &CS::period, {1712, 1732, 1752, 1752, 1732, 1712}},
      {"037 arpeggio", 6, 64, {{1, C, 0, CMD_ARPEGGIO, 0x37}}, &CS::tick_period,
       {1712, 1440, 1140, 1712, 1440, 1140}},
      {"448 vibrato, 400 goes on", 6, 64, {{1, C, 0, CMD_VIBRATO, 0x48}, {0, 0, 0, CMD_VIBRATO, 0}},
       &CS::tick_period, {1712, 1712, 1736, 1757, 1770, 1775, 1770}},
      {"744 tremolo for one row", 6, 32, {{1, C, 0, CMD_TREMOLO, 0x44}, {}}, &CS::tick_volume,
       {32, 32, 38, 43, 46, 47, 32}},
      {"340 slides to its note", 3, 64, {{1, C, 0, CMD_SET_VOLUME, 20}, {1, 2 * C, 0, CMD_TONE_PORTA, 0x40},
       {0, 0, 0, CMD_TONE_PORTA, 0}}, &CS::period, {1712, 1712, 1712, 1712, 1456, 1200, 1200, 944, 856}},
      {"340 with a sample restores its volume only", 3, 64, {{1, C, 0, CMD_SET_VOLUME, 20},
       {1, 2 * C, 0, CMD_TONE_PORTA, 0x40}}, &CS::volume, {20, 20, 20, 64, 64, 64}},
      {"920, 900 reuses it, 930 without a note does nothing", 1, 64, {{1, C, 0, CMD_SAMPLE_OFFSET, 0x20},
       {1, C, 0, CMD_SAMPLE_OFFSET, 0}, {0, 0, 0, CMD_SAMPLE_OFFSET, 0x30}}, &CS::sample_offset,
       {0x2000, 0x2000, 0x2000}},
      {"a new note forgets the 3xx target", 2, 64, {{1, C, 0, 0, 0}, {1, 2 * C, 0, CMD_TONE_PORTA, 0x40},
       {1, C, 0, 0, 0}, {0, 0, 0, CMD_TONE_PORTA, 0}}, &CS::period,
       {1712, 1712, 1712, 1456, 1712, 1712, 1712, 1712}},
      {"a volume-column F5 is a tone portamento too", 1, 64, {{1, C, 0, 0, 0}, {1, 2 * C, 0xF5, 0, 0}}, &CS::period,
       {1712, 1712}},
      {"1FF holds the voice period at 4", 3, 64, {{1, C, 0, CMD_PORTA_UP, 0xFF}}, &CS::tick_period, {1712, 692, 4}},
      {"EC3 cuts on tick 3", 6, 64, {{1, C, 0, CMD_EXTENDED, 0xC3}}, &CS::volume, {64, 64, 64, 0, 0, 0, 0}},
      {"ED3 starts on tick 3", 6, 64, {{1, C, 0, CMD_EXTENDED, 0xD3}}, &CS::delay_sample, {3, 3, 3, 0, 0, 0, 0}},
      {"ED9 never starts in a 6-tick row", 6, 64, {{1, C, 0, CMD_EXTENDED, 0xD9}}, &CS::delay_sample,
       {9, 9, 9, 9, 9, 9, 0}},
      {"K00 on a channel without a volume envelope cuts at once", 2, 64, {{1, C, 0, 0, 0},
       {0, 0, 0, CMD_KEY_OFF, 0}}, &CS::volume, {64, 64, 0, 0}},
      {"a sample the module lacks starts nothing, with a note or an offset", 1, 64, {{1, C, 0, 0, 0},
       {200, 2 * C, 0, CMD_SAMPLE_OFFSET, 0x10}, {3, C / 2, 0, 0, 0}}, &CS::period, {1712, 1712, 1712}},
  };
  for (const auto &c : cases) {
    make(1, 1, 4);
    mod->sample_info[0].volume = c.sample_volume;
    for (size_t row = 0; row < c.rows.size(); row++) cell(0, static_cast<int>(row), 0) = c.rows[row];
    start(c.speed);
    Values seen;
    for (size_t i = 0; i < c.values.size(); i++) mod_interrupt(), seen.push_back(ci[0].*c.field);
    EXPECT_EQ(seen, c.values) << c.what;
  }
}

TEST_F(Tick, ControlRequestsTakeEffectAtTheNextTickAndNothingMovesWhilePaused) {
  make(1, 3, 4);
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
  // Sample numbers the module lacks, with a note, an offset and a tone portamento, and an order
  // naming a missing pattern, which plays as 64 empty rows.
  make(2, 2, 4);
  cell(0, 0, 0) = NOTE_INFO{200, MIDDLE_C, 0, CMD_SAMPLE_OFFSET, 0xFF};
  cell(0, 1, 1) = NOTE_INFO{3, 0, 0, CMD_TONE_PORTA, 1};
  mod->order_count = 3;
  mod->order_table[1] = 9, mod->order_table[2] = 1;
  start(1);
  mod_interrupt();
  EXPECT_EQ(ci[0].sample, 0);
  run(4);
  EXPECT_EQ(mi.order, 1);
  run(64);
  EXPECT_EQ(mi.order, 2);

  // Patterns without rows, a zero speed and an order count beyond the order table.
  make(1, 1, 0);
  mod->order_count = 300;
  start(0);
  run(255);  // every tick is a new row, and every row a new position
  EXPECT_EQ(mi.order, 255);
  EXPECT_EQ(is_mod_playing(), -1);
  mod_interrupt();
  EXPECT_EQ(is_mod_playing(), 0);
}

}  // namespace
