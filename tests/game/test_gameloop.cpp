// The level start, one pass of the game loop (ticks, steps, the safety count, collisions, level
// end, extra lives) and the way from one map to the next.
#include "game_fixture.h"

namespace testgame {
namespace {

class GameLoopTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    level.bug_start_x = 10;
    level.bug_start_y = 10;
    level.vorbel_start_x = 5;
    level.vorbel_start_y = 5;
    level.bug_count = 2;
    level.ball_count = 7;
    level.bug_sprite = 12;
  }
};

TEST_F(GameLoopTest, LevelSetupCountsAndPlaces) {
  struct Case {
    int bug_count, dif, want_bugs;
  } cases[] = {{2, 0, 2}, {2, 1, 3}, {2, 2, 4}, {19, 2, 20}, {20, 1, 20}, {1000, 0, 20}, {0, 0, 0}, {-5, 1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bug_count << " bugs on difficulty " << c.dif);
    SetUp();
    level.bug_count = static_cast<int16_t>(c.bug_count);
    dif_level = c.dif;
    end_game = -1;
    Cell(4, 4, kBall);
    mapV[4][4] = -1;  // eaten in an earlier try of the level
    LevelSetup();
    EXPECT_EQ(num_bugs, c.want_bugs);
    EXPECT_EQ(num_balls, 7);
    EXPECT_EQ(end_game, 0);
    EXPECT_EQ(mapV[4][4], 1) << "a replayed level starts with all its balls";
    for (int i = 0; i < c.want_bugs; i++) {
      EXPECT_EQ(bugs[i].x, 200);
      EXPECT_EQ(bugs[i].y, 200);
      EXPECT_EQ(bugs[i].dx, 5);
      EXPECT_EQ(bugs[i].sprite, 12);
    }
    EXPECT_EQ(vorbel.x, 100);
    EXPECT_EQ(vorbel.y, 100);
    EXPECT_EQ(vorbel.sprite, VORBEL_RIGHT);
  }
}

TEST_F(GameLoopTest, StartCellsOutsideTheGridAreClamped) {
  struct Case {
    int vx, vy, bx, by;
    int want_vx, want_vy, want_bx, want_by;
  } cases[] = {
      {-1, 5, 30, 5, 0, 100, 420, 100},
      {5, 22, 5, -32768, 100, 420, 100, 0},
      {32767, -7, 21, 21, 420, 0, 420, 420},
  };
  for (const Case& c : cases) {
    SetUp();
    level.vorbel_start_x = static_cast<int16_t>(c.vx);
    level.vorbel_start_y = static_cast<int16_t>(c.vy);
    level.bug_start_x = static_cast<int16_t>(c.bx);
    level.bug_start_y = static_cast<int16_t>(c.by);
    LevelSetup();
    key[KEY_SPACE] = 1;  // bugs walking over the vorbel cost lives without waiting
    EXPECT_EQ(vorbel.x, c.want_vx);
    EXPECT_EQ(vorbel.y, c.want_vy);
    EXPECT_EQ(bugs[0].x, c.want_bx);
    EXPECT_EQ(bugs[0].y, c.want_by);
    // A few passes with everybody moving stay inside the maze's arrays.
    key[KEY_UP] = 1;
    for (int n = 0; n < 50; n++) {
      vorbel_timer = vorbel_speed + 1;
      bug_timer = bug_speed + 1;
      GamePass();
    }
    key[KEY_UP] = 0;
    for (int i = 0; i < num_bugs; i++) {
      EXPECT_GE(bugs[i].x, 0);
      EXPECT_LE(bugs[i].x, 420);
      EXPECT_GE(bugs[i].y, 0);
      EXPECT_LE(bugs[i].y, 420);
    }
  }
}

TEST_F(GameLoopTest, StepsOnlyWhenTheTicksExceedTheSpeed) {
  struct Case {
    int vorbel_ticks, bug_ticks;
    bool vorbel_steps, bugs_step;
  } cases[] = {{10, 10, false, false}, {11, 10, true, false}, {10, 11, false, true}, {40, 40, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.vorbel_ticks << " " << c.bug_ticks);
    SetUp();
    OpenRow(5);
    OpenRow(10);
    LevelSetup();
    key[KEY_RIGHT] = 1;
    vorbel_timer = c.vorbel_ticks;
    bug_timer = c.bug_ticks;
    int bug_x = bugs[0].x;
    GamePass();
    EXPECT_EQ(vorbel.x, c.vorbel_steps ? 105 : 100);
    EXPECT_EQ(vorbel_timer, c.vorbel_steps ? 0 : c.vorbel_ticks);
    EXPECT_EQ(bugs[0].x != bug_x, c.bugs_step);
    EXPECT_EQ(bug_timer, c.bugs_step ? 0 : c.bug_ticks);
  }
}

TEST_F(GameLoopTest, StepInProgressGoesOnWithoutKeys) {
  OpenRow(5);
  LevelSetup();
  vorbel.x = 105;
  vorbel_move_direction = 4;
  for (int want : {110, 115, 120, 120}) {
    vorbel_timer = vorbel_speed + 1;
    GamePass();
    EXPECT_EQ(vorbel.x, want);
  }
}

TEST_F(GameLoopTest, SafetyCountRunsInPassesAndEnds) {
  level.bug_count = 3;
  dif_level = 0;
  LevelSetup();
  max_bugs_state = 5;
  for (int i = 0; i < num_bugs; i++) bugs[i].state = 2;
  state_timer = 1;
  for (int want : {2, 3, 4, 5}) {
    GamePass();
    EXPECT_EQ(state_timer, want);
    EXPECT_EQ(bugs[0].state, 2);
  }
  GamePass();
  EXPECT_EQ(state_timer, 0);
  for (int i = 0; i < num_bugs; i++) EXPECT_EQ(bugs[i].state, 0) << i;
  GamePass();
  EXPECT_EQ(state_timer, 0) << "a stopped count stays stopped";
}

TEST_F(GameLoopTest, LostLifeLeavesTheSafetyCountRunning) {
  level.bug_count = 1;
  dif_level = 0;
  LevelSetup();
  state_timer = 100;
  bugs[0].state = 0;
  bugs[0].x = vorbel.x;
  bugs[0].y = vorbel.y;
  key[KEY_SPACE] = 1;
  GamePass();
  EXPECT_EQ(vorbel.lives, 3);
  EXPECT_EQ(state_timer, 101);
}

TEST_F(GameLoopTest, ExtraLifeThresholds) {
  struct Case {
    int dif, score, extra_before;
    bool gets_life;
  } cases[] = {
      {0, 20000, 0, false}, {0, 20010, 0, true},     {1, 35000, 0, false}, {1, 35010, 0, true},
      {2, 50000, 0, false}, {2, 50010, 0, true},     {0, 40010, 20010, false},
      {0, 40020, 20010, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "difficulty " << c.dif << " score " << c.score);
    SetUp();
    dif_level = c.dif;
    LevelSetup();
    vorbel.lives = 2;
    vorbel.score = c.score;
    extra_life = c.extra_before;
    GamePass();
    EXPECT_EQ(vorbel.lives, c.gets_life ? 3 : 2);
    EXPECT_EQ(extra_life, c.gets_life ? c.score : c.extra_before);
    GamePass();
    EXPECT_EQ(vorbel.lives, c.gets_life ? 3 : 2) << "one life per threshold";
  }
}

TEST_F(GameLoopTest, EatingTheLastBallClearsTheLevel) {
  level.ball_count = 1;
  level.bug_count = 0;
  dif_level = 0;
  level.points[0] = 20;
  Paint(5, 5, {" ", ".", " "});
  LevelSetup();
  vorbel.lives = 2;
  vorbel.score = 19990;  // the ball's 20 points cross the extra-life line in the clearing pass
  vorbel.y = 120;
  vorbel_move_direction = 2;  // leaving the ball's cell downwards eats it
  vorbel_timer = vorbel_speed + 1;
  GamePass();
  EXPECT_EQ(num_balls, 0);
  EXPECT_EQ(end_game, 0);
  EXPECT_EQ(vorbel.score, 20010);
  EXPECT_EQ(vorbel.lives, 2) << "the clearing pass ends before the extra-life check";
}

TEST_F(GameLoopTest, TwoBallsInOneStepStillClearAShortCountedLevel) {
  level.ball_count = 1;  // the map counts one ball but holds two, one above the other
  level.bug_count = 0;
  Paint(5, 4, {".", ".", " "});
  LevelSetup();
  vorbel.x = 100;
  vorbel.y = 100;
  vorbel_move_direction = 0;
  vorbel_timer = vorbel_speed + 1;
  key[KEY_UP] = key[KEY_DOWN] = 1;
  GamePass();
  key[KEY_UP] = key[KEY_DOWN] = 0;
  EXPECT_EQ(num_balls, -1) << "up eats the cell it leaves, down then eats the cell above";
  EXPECT_TRUE(LevelCleared());
  level.ball_count = 3;
  LevelSetup();
  EXPECT_FALSE(LevelCleared());
}

TEST_F(GameLoopTest, OverGameMakesNoPass) {
  OpenRow(5);
  LevelSetup();
  end_game = -1;
  key[KEY_RIGHT] = 1;
  vorbel_timer = 100;
  state_timer = 3;
  GamePass();
  EXPECT_EQ(vorbel.x, 100);
  EXPECT_EQ(state_timer, 3);
}

TEST_F(GameLoopTest, LastBugTouchEndsTheGameInThePass) {
  level.bug_count = 0;
  LevelSetup();
  num_bugs = 2;
  vorbel.lives = 1;
  for (int i = 0; i < 2; i++) {
    bugs[i].x = vorbel.x;
    bugs[i].y = vorbel.y;
  }
  GamePass();
  EXPECT_EQ(end_game, -1);
  EXPECT_EQ(vorbel.lives, 1);
}

TEST_F(GameLoopTest, FromMapToMap) {
  struct Case {
    int maps, current, end_before;
    int want_current, want_end;
  } cases[] = {
      {3, 0, 0, 1, 0},    // cleared: the next map
      {3, 1, 0, 2, 0},
      {3, 2, 0, 2, -1},   // the last map cleared: the game is over on its number
      {1, 0, 0, 0, -1},
      {3, 1, -1, 1, -1},  // lost in the second level: the game ends there
  };
  for (const Case& c : cases) {
    num_maps = c.maps;
    current_map_played = c.current;
    end_game = c.end_before;
    NextMap();
    EXPECT_EQ(current_map_played, c.want_current);
    EXPECT_EQ(end_game, c.want_end);
  }
}

TEST_F(GameLoopTest, StatusLinesAtLevelStart) {
  // The level number is shown 1-based; the best entry's name and score are below it.
  current_map_played = 2;
  vorbel.lives = 7;
  HighScores[0].score = 4321;
  LevelSetup();
  BITMAP* want = create_bitmap(640, 480);
  clear_to_color(want, 0);
  text_mode(159);
  textout(want, font, "Lives:      7", 500, 250, 15);
  textout(want, font, "Level:      3", 500, 285, 15);
  textout(want, font, "High Score:", 500, 310, 15);
  textout(want, font, "Vorbel-Endurant", 500, 330, 85);
  textout(want, font, "004321", 500, 350, 85);
  for (int y = 250; y < 360; y++)
    for (int x = 500; x < 640; x++) ASSERT_EQ(getpixel(screen, x, y), getpixel(want, x, y)) << x << "," << y;
  destroy_bitmap(want);
}

}  // namespace
}  // namespace testgame
