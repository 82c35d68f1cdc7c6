// The level start, replays, the status line, and the safety count, lost lives and extra lives in
// the game loop's passes.
#include <chrono>
#include <functional>
#include <thread>

#include "game_fixture.h"

namespace testgame {
namespace {

class GameLoopTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    level.bug_count = 2, level.ball_count = 7, level.bug_sprite = 12;
  }
  // One pass in which both the vorbel and the bugs are due to step.
  void StepPass() {
    vorbel_timer = vorbel_speed + 1;
    bug_timer = bug_speed + 1;
    GamePass();
  }
  // Rows 5 and 10 and column 10 open, two bugs on (10, 10), the vorbel on (5, 5).
  void Corridors() {
    Open(-1, 5);
    Open(-1, 10);
    Open(10, -1);
    LevelSetup();
  }
};

// The level start: a bug more on Normal, two on Hard, 20 at most; the map's ball count; the balls
// eaten in an earlier try back; every bug on the start cell (the vorbel's start: the loop tests).
TEST_F(GameLoopTest, LevelSetupCountsAndPlaces) {
  const int cases[][3] = {{2, 0, 2}, {2, 2, 4}, {19, 2, 20}, {-5, 1, 0}};  // map, difficulty, bugs
  EachRow(cases, [&](auto &c) {
    level.bug_count = int16_t(c[0]), dif_level = c[1], end_game = -1;
    Cell(4, 4, kBall);
    mapV[4][4] = -1;
    LevelSetup();
    EXPECT_EQ((Ints{num_bugs, num_balls, end_game, mapV[4][4]}), (Ints{c[2], 7, 0, 1}));
    for (int i = 0; i < c[2]; i++)
      EXPECT_EQ((Ints{bugs[i].x, bugs[i].y, bugs[i].dx, bugs[i].sprite}), (Ints{200, 200, 5, 12}));
  });
}

// A custom level played at full speed with scripted keys is recorded; the recording replayed from
// the same start reaches the same end, and one changed, cut or damaged is stopped or refused.
PassInput Scripted() {
  static const int ways[] = {KEY_UP, KEY_RIGHT, KEY_DOWN, KEY_LEFT, KEY_RIGHT};
  static int n = 0;
  game_timer();
  if (++n > 900) exit_requested = -1;
  for (int k : ways) key[k] = 0;
  key[ways[(n / 37) % 5]] = 1;
  return LiveInput();
}

// A step is due only once its timer has passed the speed; a step taken starts its timer again.
TEST_F(GameLoopTest, StepsOnlyWhenTheTicksExceedTheSpeed) {
  const int cases[][4] = {{10, 10, 0, 0}, {11, 10, 1, 0}, {10, 11, 0, 1}, {40, 40, 1, 1}};
  EachRow(cases, [&](auto &c) {
    Corridors();
    key[KEY_RIGHT] = 1;
    vorbel_timer = c[0], bug_timer = c[1];
    GamePass();
    EXPECT_EQ((Ints{vorbel.x - 100, vorbel_timer, abs(bugs[0].x - 200) + abs(bugs[0].y - 200),
                    bug_timer}),
              (Ints{c[2] ? 5 : 0, c[2] ? 0 : c[0], c[3] ? 5 : 0, c[3] ? 0 : c[1]}));
  });
}

// A pass that finds the focus lost pauses as P does: held keys are forgotten, and after a key
// and C the ticks that piled up give no step.
TEST_F(GameLoopTest, LostFocusPausesForgetsKeysAndTakesNoCatchUpStep) {
  Corridors();
  key[KEY_RIGHT] = 1;
  focus_lost = -1;
  vorbel_timer = 500, bug_timer = 500;  // the time spent in another window
  const int x = vorbel.x, bx = bugs[0].x, by = bugs[0].y;
  std::thread pass([] { GamePass(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(key[KEY_RIGHT], 0) << "the held key is forgotten";
  simulate_keypress(KEY_A << 8 | 'a');
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  key[KEY_C] = 1;
  pass.join();
  clear_keybuf();
  EXPECT_EQ((Ints{vorbel.x, bugs[0].x, bugs[0].y, focus_lost}), (Ints{x, bx, by, 0}));
  EXPECT_LE(vorbel_timer + bug_timer, 4) << "the ticks of the pause are dropped";
}

// The next map of the list, or the end of the game after the last one or when it has ended.
TEST_F(GameLoopTest, FromMapToMap) {
  // maps, map played, end_game before; map and end_game after
  const int cases[][5] = {
      {3, 0, 0, 1, 0}, {3, 1, 0, 2, 0}, {3, 2, 0, 2, -1}, {1, 0, 0, 0, -1}, {3, 1, -1, 1, -1}};
  for (auto &c : cases) {
    num_maps = c[0], current_map_played = c[1], end_game = c[2];
    NextMap();
    EXPECT_EQ((Ints{current_map_played, end_game}), (Ints{c[3], c[4]}))
        << c[0] << " " << c[1] << " " << c[2];
  }
}

TEST_F(GameLoopTest, ReplaysFollowTheRecordingOrStop) {
  level.bug_count = 3, level.ball_count = 30;
  for (int line : {5, 10, 15}) Open(line, line);
  for (int n = 1; n < 21; n++) Cell(n, 5, kBall), Cell(15, n, kBall), Cell(n, 10, kPowerBall);
  level.cells[5][5] = level.cells[10][10] = kFloor;
  char reason[120];
  ASSERT_TRUE(CheckMap(&level, reason, sizeof reason)) << reason;
  auto play = [&](PassInput (*input)()) {  // the game from the same start every time
    map = level, gmap = &map, dif_level = 2, exit_requested = 0;
    NewGameSetup();
    RandomRestart(), pass_input = input;
    UsePresenter(PRESENT_NONE, nullptr);
    RecordStart(-1);
    PlayMap(&map);
    ReplayEnd();
    RecordEnd();
  };
  RecordTo("");
  play(Scripted);
  const ReplayFile recorded = Recording();
  ASSERT_TRUE(recorded.score > 0 && recorded.stream.size() > 400u);
  const Bytes good = ReplayBytes(recorded);
  auto edited = [&](std::function<void(ReplayFile &)> change) {
    ReplayFile r = recorded;
    change(r);
    return ReplayBytes(r);
  };
  const size_t late = recorded.stream.size() - 50;  // the last 40 passes or so
  // What the refusal or the stop says; empty for a replay that ends as recorded.
  // clang-format off
  const struct { const char *what; Bytes bytes; const char *says; } cases[] = {
      {"as recorded", good, ""},
      {"the vorbel held still early", edited([](ReplayFile &r) { for (int i = 30; i < 300; i++) r.stream[i] &= 0x7e; }),
       "left its recorded course"},
      {"the bugs held still late", edited([&](ReplayFile &r) { for (size_t i = late; i < late + 40; i++) r.stream[i] &= 0xfd; }),
       "left its recorded course"},
      {"cut short", edited([](ReplayFile &r) { r.stream.resize(r.stream.size() / 2); }), "ends before the game"},
      {"other figures", edited([](ReplayFile &r) { r.score++; }), "final figures differ"},
      {"billions of earlier draws", edited([](ReplayFile &r) { r.draws = 4000000000u; }), "more random draws"},
      {"another version", edited([](ReplayFile &r) { r.version[27] = 'X'; }), "another version"},
      {"a byte damaged", [&] { Bytes d = good; d[200] ^= 1; return d; }(), "damaged"},
      {"not a recording", Bytes(80, 'V'), "not a replay file"},
      {"too short", Bytes(good.begin(), good.begin() + 50), "not a replay file"},
      {"another custom map", edited([](ReplayFile &r) { r.map.bug_sprite = 99; }), "cannot be played"},
  };
  // clang-format on
  for (const auto &c : cases) {
    char why[160] = "";
    if (!ReplayUse(c.bytes.data(), c.bytes.size(), why, sizeof why)) {
      EXPECT_TRUE(c.says[0] && std::string(why).find(c.says) != std::string::npos)
          << c.what << ": " << why;
      continue;
    }
    play(LiveInput);
    EXPECT_NE(std::string(replay_stopped).find(c.says), std::string::npos)
        << c.what << ": " << replay_stopped;
    if (!c.says[0]) {
      EXPECT_EQ((Ints{vorbel.score, vorbel.lives, vorbel.bugs_eaten}),
                (Ints{recorded.score, recorded.lives, recorded.bugs_eaten}))
          << replay_stopped;
    }
  }
}

// A shorter panel line leaves nothing of a longer one: the whole box from x 500 to the frame at
// 630 is the text background, and nothing outside the box is touched.
TEST_F(GameLoopTest, StatusLineWipesTheOldText) {
  const char *cases[][2] = {
      {"Safety: 510", "Safety:    0"}, {"WWWWWWWWWWWWWWW", "ab"}, {"Lives:    100", "Lives: 9"}};
  for (auto &c : cases) {
    clear_to_color(screen, 7);
    DrawStatusLine(c[0], 410, 32);
    DrawStatusLine(c[1], 410, 32);
    int h = text_height(font), end = 500 + text_length(font, c[1]), ink = 0;
    for (int y = 405; y < 410 + h + 5; y++)
      for (int x = 490; x < 640; x++) {
        bool in_box = y >= 410 && y < 410 + h && x >= 500 && x < 630;
        ink += in_box && x < end && getpixel(screen, x, y) == 32;
        if (!in_box || x >= end) {
          ASSERT_EQ(getpixel(screen, x, y), in_box ? 159 : 7) << c[1] << " at " << x << "," << y;
        }
      }
    EXPECT_GT(ink, 10) << c[1];
  }
}

// A life lost while the safety count runs: everybody restarts deadly, the count keeps running to
// its end, and a bug met after the restart costs a life instead of being eaten.
TEST_F(GameLoopTest, RegressionSafetyAcrossALostLife) {
  Corridors();
  max_bugs_state = 6;
  state_timer = 1;
  bugs[0].state = BUG_EDIBLE;
  bugs[1].state = BUG_NORMAL;  // eaten earlier in the safety time: deadly again
  Place(bugs[1], vorbel.x, vorbel.y);
  key[KEY_SPACE] = 1;
  GamePass();
  EXPECT_EQ((Ints{vorbel.lives, state_timer, bugs[0].state, bugs[1].state}),
            (Ints{3, 2, BUG_NORMAL, BUG_NORMAL}));
  Place(bugs[0], vorbel.x, vorbel.y);
  GamePass();
  EXPECT_EQ((Ints{vorbel.lives, vorbel.bugs_eaten, state_timer}), (Ints{2, 0, 3}));
  for (int i = 0; i < 4; i++) GamePass();
  EXPECT_EQ((Ints{state_timer, bugs[0].state, bugs[1].state}), (Ints{0, BUG_NORMAL, BUG_NORMAL}));
}

// A life lost and the game over through each presenter: the same figures; the window's says
// "You Died!!!" on a dark framed box, the null one draws nothing at all.
TEST_F(GameLoopTest, PresentersShowTheSameGame) {
  for (int kind : {PRESENT_WINDOW, PRESENT_NONE}) {
    SetUp(), Corridors(), UsePresenter(kind, screen), clear_to_color(screen, 7);
    key[KEY_SPACE] = 1, vorbel.lives = 2;
    Place(bugs[0], vorbel.x, vorbel.y), GamePass();
    const int frame = getpixel(screen, 190, 232);
    Place(bugs[1], vorbel.x, vorbel.y), GamePass();
    int drawn = 0;
    for (int y = 0; y < 480; y++)
      for (int x = 0; x < 640; x++) drawn += getpixel(screen, x, y) != 7;
    EXPECT_EQ((Ints{vorbel.lives, end_game}), (Ints{1, -1})) << kind;
    EXPECT_TRUE(kind == PRESENT_NONE ? drawn == 0 : frame == 142 && drawn > 440 * 440) << kind;
  }
}

// A second power ball during the safety time restarts the count from 1 and makes every bug edible
// again, an eaten one back at home included; the time ends max_bugs_state passes after it.
TEST_F(GameLoopTest, RegressionPowerBallWhileTheSafetyCountRuns) {
  Corridors();
  Cell(6, 5, kPowerBall);
  Cell(7, 5, kPowerBall);
  max_bugs_state = 8;
  key[KEY_RIGHT] = 1;
  // The pass that eats a power ball counts the first pass of the safety time: 2 after it.
  int passes = 0;
  while (mapV[6][5] != -1 && passes < 10) StepPass(), passes++;
  ASSERT_EQ(state_timer, 2);
  bugs[1].state = BUG_NORMAL;  // as if just eaten and sent home
  while (mapV[7][5] != -1 && passes < 20) StepPass(), passes++;
  ASSERT_EQ((Ints{state_timer, bugs[0].state, bugs[1].state}), (Ints{2, BUG_EDIBLE, BUG_EDIBLE}))
      << "restarted by the second power ball";
  key[KEY_RIGHT] = 0;
  passes = 0;
  while (state_timer != 0 && passes < 100) GamePass(), passes++;
  EXPECT_EQ(passes, max_bugs_state - 1)
      << "the count ends max_bugs_state passes after the second ball";
}

// Caught while stepping away from a bug that touches the vorbel: one life goes, the score stays,
// everybody restarts as the level starts them, a second bug touching the old place in the same
// pass takes no second life, and the step in progress carries on from the start cell, on the grid.
TEST_F(GameLoopTest, RegressionDyingWhileMovingAwayFromAnAdjacentBug) {
  Corridors();
  vorbel.x = 110, vorbel.score = 1234, vorbel.sprite = SPR_VORBEL_UP;
  vorbel_move_direction = 3;  // half a cell right of (5, 5), stepping left, away from bug 0
  bugs[0] = actor_struct{125, 100, -5, 0, 0, 3, 0, 0, 0};
  bugs[1] = actor_struct{110, 120, 0, -5, 0, 3, 0, 0, 0};
  key[KEY_SPACE] = 1;
  StepPass();
  EXPECT_EQ((Ints{vorbel.lives, vorbel.y, vorbel.sprite, vorbel.score, end_game}),
            (Ints{3, 100, SPR_VORBEL_RIGHT, 1234, 0}));
  EXPECT_TRUE(vorbel.x == 100 || vorbel.x == 95) << vorbel.x;
  for (const actor_struct &b : {bugs[0], bugs[1]})
    EXPECT_EQ((Ints{b.x, b.y, b.dx, b.dy, b.state, b.sprite}), (Ints{200, 200, 5, 0, 0, 12}));
  for (int i = 0; i < 6; i++) StepPass();
  EXPECT_EQ((Ints{vorbel.x % 5, vorbel.y % CELL, vorbel.lives}), (Ints{0, 0, 3}));
}

// Each threshold gives one life, once; one pass that lifts the score over two at once (edible bugs
// caught late in a run) gives both lives. The pass that clears the level ends before the check.
TEST_F(GameLoopTest, ExtraLifeThresholds) {
  // clang-format off
  // difficulty, score before, score at the last extra life, points of the pass, balls left; lives after (from 2), score of the last life
  const int cases[][7] = {{0, 0, 0, 20000, 7, 2, 0},          {0, 0, 0, 20010, 7, 3, 20010},       {1, 0, 0, 35010, 7, 3, 35010},
                          {2, 0, 0, 50000, 7, 2, 0},          {2, 0, 0, 50010, 7, 3, 50010},       {0, 40010, 20010, 0, 7, 2, 20010},
                          {0, 40020, 20010, 0, 7, 3, 40020},  {0, 19000, 0, 22000, 7, 4, 41000},   {2, 10, 0, 150010, 7, 5, 150020},
                          {0, 19990, 0, 20, 0, 2, 0}};
  // clang-format on
  EachRow(cases, [&](auto &c) {
    dif_level = c[0];
    LevelSetup();
    vorbel.lives = 2, vorbel.score = c[1], extra_life = c[2];
    GamePass();
    vorbel.score += c[3], num_balls = c[4];
    for (int pass = 0; pass < 2; pass++) {  // the second pass gives nothing more
      GamePass();
      EXPECT_EQ((Ints{vorbel.lives, extra_life}), (Ints{c[5], c[6]}));
    }
  });
}

}  // namespace
}  // namespace testgame
