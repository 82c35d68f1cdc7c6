// The level start, one pass of the game loop (ticks, steps, the safety count, level end, extra
// lives), the way from one map to the next and the status lines.
#include <cstdlib>

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
};

TEST_F(GameLoopTest, LevelSetupCountsAndPlacesWithinTheGrid) {
  // bugs in the map, difficulty, bugs in play; start cells of the vorbel and the bugs; their pixels
  const int cases[][11] = {
      {2, 0, 2, 5, 5, 10, 10, 100, 100, 200, 200},         {2, 2, 4, 5, 5, 10, 10, 100, 100, 200, 200},
      {19, 2, 20, -1, 5, 30, 5, 0, 100, 420, 100},         {1000, 0, 20, 5, 22, 5, -32768, 100, 420, 100, 0},
      {0, 0, 0, 32767, -7, 21, 21, 420, 0, 420, 420},      {-5, 1, 0, 5, 5, 10, 10, 100, 100, 200, 200}};
  for (auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c[0] << " bugs on difficulty " << c[1] << ", start " << c[3] << "," << c[4]);
    SetUp();
    level.bug_count = int16_t(c[0]);
    level.vorbel_start_x = int16_t(c[3]), level.vorbel_start_y = int16_t(c[4]);
    level.bug_start_x = int16_t(c[5]), level.bug_start_y = int16_t(c[6]);
    dif_level = c[1], end_game = -1;
    Cell(4, 4, kBall);
    mapV[4][4] = -1;  // eaten in an earlier try of the level
    LevelSetup();
    EXPECT_EQ((std::vector<int>{num_bugs, num_balls, end_game, mapV[4][4]}), (std::vector<int>{c[2], 7, 0, 1}));
    for (int i = 0; i < c[2]; i++)
      EXPECT_EQ((std::vector<int>{bugs[i].x, bugs[i].y, bugs[i].dx, bugs[i].sprite}), (std::vector<int>{c[9], c[10], 5, 12}));
    EXPECT_EQ((std::vector<int>{vorbel.x, vorbel.y, vorbel.sprite}), (std::vector<int>{c[7], c[8], VORBEL_RIGHT}));
    key[KEY_SPACE] = key[KEY_UP] = 1;  // everybody moves; lives are lost without waiting
    for (int n = 0; n < 50; n++) StepPass();
    for (int i = 0; i < num_bugs; i++)
      EXPECT_TRUE(bugs[i].x >= 0 && bugs[i].x <= 420 && bugs[i].y >= 0 && bugs[i].y <= 420) << bugs[i].x << "," << bugs[i].y;
  }
}

TEST_F(GameLoopTest, StepsOnlyWhenTheTicksExceedTheSpeed) {
  const int cases[][4] = {{10, 10, 0, 0}, {11, 10, 1, 0}, {10, 11, 0, 1}, {40, 40, 1, 1}};
  for (auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c[0] << " " << c[1]);
    SetUp();
    Open(10, 5);  // the bug's way is column 10
    LevelSetup();
    key[KEY_RIGHT] = 1;
    vorbel_timer = c[0], bug_timer = c[1];
    GamePass();
    EXPECT_EQ((std::vector<int>{vorbel.x - 100, vorbel_timer, abs(bugs[0].x - 200) + abs(bugs[0].y - 200), bug_timer}),
              (std::vector<int>{c[2] ? 5 : 0, c[2] ? 0 : c[0], c[3] ? 5 : 0, c[3] ? 0 : c[1]}));
  }
}

TEST_F(GameLoopTest, SafetyCountRunsInPassesAndEnds) {
  level.bug_count = 3;
  LevelSetup();
  max_bugs_state = 5;
  for (int i = 0; i < num_bugs; i++) bugs[i].state = 2;
  state_timer = 1;
  for (int want : {2, 3, 4, 5, 0, 0}) {
    GamePass();
    EXPECT_EQ(state_timer, want);
    for (int i = 0; i < num_bugs; i++) EXPECT_EQ(bugs[i].state, want ? 2 : 0) << i;
  }
}

TEST_F(GameLoopTest, ExtraLifeThresholds) {
  // difficulty, score, score at the last extra life, a life given
  const int cases[][4] = {{0, 20000, 0, 0}, {0, 20010, 0, 1}, {1, 35000, 0, 0},     {1, 35010, 0, 1},
                          {2, 50000, 0, 0}, {2, 50010, 0, 1}, {0, 40010, 20010, 0}, {0, 40020, 20010, 1}};
  for (auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "difficulty " << c[0] << " score " << c[1]);
    SetUp();
    dif_level = c[0];
    LevelSetup();
    vorbel.lives = 2, vorbel.score = c[1], extra_life = c[2];
    for (int pass = 0; pass < 2; pass++) {  // one life per threshold
      GamePass();
      EXPECT_EQ(vorbel.lives, 2 + c[3]);
      EXPECT_EQ(extra_life, c[3] ? c[1] : c[2]);
    }
  }
}

TEST_F(GameLoopTest, EatingTheLastBallClearsTheLevel) {
  level.ball_count = 1, level.bug_count = 0, level.points[0] = 20;
  dif_level = 0;
  Open(5, -1);
  Cell(5, 6, kBall);
  LevelSetup();
  vorbel.lives = 2, vorbel.y = 120;
  vorbel.score = 19990;  // the ball's 20 points cross the extra-life line in the clearing pass
  vorbel_move_direction = 2;  // leaving the ball's cell downwards eats it
  StepPass();
  EXPECT_TRUE(LevelCleared());
  // balls, end_game, score, lives: the clearing pass ends before the extra-life check
  EXPECT_EQ((std::vector<int>{num_balls, end_game, vorbel.score, vorbel.lives}), (std::vector<int>{0, 0, 20010, 2}));
}

TEST_F(GameLoopTest, TwoBallsInOneStepStillClearAShortCountedLevel) {
  level.ball_count = 1, level.bug_count = 0;  // the map counts one ball but holds two, one above the other
  Open(5, -1);
  Cell(5, 4, kBall);
  Cell(5, 5, kBall);
  LevelSetup();
  key[KEY_UP] = key[KEY_DOWN] = 1;
  StepPass();
  EXPECT_EQ((std::vector<int>{vorbel.x, vorbel.y, vorbel_move_direction}), (std::vector<int>{100, 100, 0}));
  EXPECT_EQ(mapV[5][4] + mapV[5][5], -2) << "up eats the cell it leaves, down then eats the cell above";
  EXPECT_EQ(num_balls, -1);
  EXPECT_TRUE(LevelCleared());
  level.ball_count = 3;
  LevelSetup();
  EXPECT_FALSE(LevelCleared());
}

TEST_F(GameLoopTest, LastLifeEndsTheGameInThePass) {
  level.bug_count = 0;
  LevelSetup();
  num_bugs = 2;
  vorbel.lives = 1;
  key[KEY_SPACE] = 1;  // should a life be taken, "Press space" is not waited for
  for (int i = 0; i < 2; i++) Place(bugs[i], vorbel.x, vorbel.y);
  GamePass();
  EXPECT_EQ(end_game, -1);
  EXPECT_EQ(vorbel.lives, 1);
}

TEST_F(GameLoopTest, FromMapToMap) {
  // maps, map played, end_game before; map and end_game after
  const int cases[][5] = {{3, 0, 0, 1, 0}, {3, 1, 0, 2, 0}, {3, 2, 0, 2, -1}, {1, 0, 0, 0, -1}, {3, 1, -1, 1, -1}};
  for (auto& c : cases) {
    num_maps = c[0], current_map_played = c[1], end_game = c[2];
    NextMap();
    EXPECT_EQ(current_map_played, c[3]) << c[0] << " " << c[1] << " " << c[2];
    EXPECT_EQ(end_game, c[4]) << c[0] << " " << c[1] << " " << c[2];
  }
}

TEST_F(GameLoopTest, StatusLines) {
  current_map_played = 2;  // shown 1-based
  vorbel = actor_struct{0, 0, 0, 0, 0, 0, 1234, 7, 7};
  HighScores[0].score = 4321;
  LevelSetup();
  DrawGameMap();
  ExpectText("Score: 001234", 500, 210, 32);
  ExpectText("Bugs Eaten:  7", 500, 390, 32);
  ExpectText("Lives:      7", 500, 250, 15);
  ExpectText("Level:      3", 500, 285, 15);
  ExpectText("High Score:", 500, 310, 15);
  ExpectText("Vorbel-Endurant", 500, 330, 85);
  ExpectText("004321", 500, 350, 85);
}

}  // namespace
}  // namespace testgame
