// The vorbel's steps, walls, the pass through the maze edge, the order of eating, scoring by
// difficulty and the power ball.
#include <algorithm>
#include <utility>

#include "game_fixture.h"

namespace testgame {
namespace {

using MoveFn = void (*)();

class VorbelTest : public GameTest {};

TEST_F(VorbelTest, OneStepFromACellOrNone) {
  struct Case {
    const char* name;
    MoveFn move;
    int x, y, direction_before;
    int open_dx, open_dy;  // the neighbour opened, relative to the vorbel's cell (0, 0: none)
    int want_x, want_y, want_direction, want_sprite;
  } cases[] = {
      {"up open", MoveUp, 100, 100, 0, 0, -1, 100, 95, 1, 37},
      {"down open", MoveDown, 100, 100, 0, 0, 1, 100, 105, 2, 41},
      {"left open", MoveLeft, 100, 100, 0, -1, 0, 95, 100, 3, 33},
      {"right open", MoveRight, 100, 100, 0, 1, 0, 105, 100, 4, 29},
      {"up into a wall", MoveUp, 100, 100, 0, 1, 0, 100, 100, 0, VORBEL_RIGHT},
      {"right into a wall", MoveRight, 100, 100, 0, 0, 1, 100, 100, 0, VORBEL_RIGHT},
      {"left across the path between cells", MoveLeft, 100, 45, 2, -1, 0, 100, 45, 2, VORBEL_RIGHT},
      {"up across the path between cells", MoveUp, 105, 100, 4, 0, -1, 105, 100, 4, VORBEL_RIGHT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    int cx = c.x / CELL, cy = c.y / CELL;
    Cell(cx, cy, kFloor);
    if (c.y % CELL) Cell(cx, cy + 1, kFloor);
    if (c.open_dx || c.open_dy) Cell(cx + c.open_dx, cy + c.open_dy, kBall);
    Place(vorbel, c.x, c.y);
    vorbel_move_direction = c.direction_before;
    int score = vorbel.score;
    c.move();
    EXPECT_EQ(vorbel.x, c.want_x);
    EXPECT_EQ(vorbel.y, c.want_y);
    EXPECT_EQ(vorbel_move_direction, c.want_direction);
    EXPECT_EQ(vorbel.sprite, c.want_sprite);
    EXPECT_EQ(vorbel.score, score) << "the start cell holds no ball";
  }
}

TEST_F(VorbelTest, WallTestOnlyOnACell) {
  // Between cells the step goes on whatever lies ahead, and arriving clears the direction.
  Cell(5, 5, kFloor);
  Place(vorbel, 100, 95);
  vorbel_move_direction = 1;
  MoveUp();
  EXPECT_EQ(vorbel.y, 90);
  EXPECT_EQ(vorbel_move_direction, 1);
  MoveUp();
  MoveUp();
  EXPECT_EQ(vorbel.y, 80);
  EXPECT_EQ(vorbel_move_direction, 0);
}

TEST_F(VorbelTest, PictureAlternatesAndWrapsToTheFirst) {
  OpenColumn(5);
  Place(vorbel, 100, 200);
  int want[] = {37, 38, 37, 38, 37, 38};
  for (int w : want) {
    MoveUp();
    EXPECT_EQ(vorbel.sprite, w);
  }
  Place(vorbel, 100, 195);
  vorbel.sprite = 39;
  MoveUp();
  EXPECT_EQ(vorbel.sprite, VORBEL_UP) << "above the last picture of the direction comes the first";
}

TEST_F(VorbelTest, PassingThroughTheEdge) {
  struct Case {
    const char* name;
    MoveFn move;
    int x, y;
    std::vector<int> along;  // the moving coordinate after each step
    std::vector<int> direction;
  } cases[] = {
      {"up", MoveUp, 100, 20, {15, 10, 5, 415, 410, 405, 400}, {1, 1, 1, 0, 1, 1, 0}},
      {"down", MoveDown, 100, 400, {405, 410, 415, 5, 10, 15, 20}, {2, 2, 2, 0, 2, 2, 0}},
      {"left", MoveLeft, 20, 100, {15, 10, 5, 415, 410, 405, 400}, {3, 3, 3, 0, 3, 3, 0}},
      {"right", MoveRight, 400, 100, {405, 410, 415, 5, 10, 15, 20}, {4, 4, 4, 0, 4, 4, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    OpenColumn(5);
    OpenRow(5);
    Place(vorbel, c.x, c.y);
    for (size_t i = 0; i < c.along.size(); i++) {
      c.move();  // the key stays held, so the move is asked for again after the wrap
      bool horizontal = c.move == MoveLeft || c.move == MoveRight;
      EXPECT_EQ(horizontal ? vorbel.x : vorbel.y, c.along[i]) << "step " << i;
      EXPECT_EQ(vorbel_move_direction, c.direction[i]) << "step " << i;
    }
  }
}

TEST_F(VorbelTest, EdgeNeighbourIsTheCellOnTheOppositeEdge) {
  // A vorbel placed on an edge cell tests the cell across the maze, never outside it.
  struct Case {
    const char* name;
    MoveFn move;
    int x, y;
    int far_x, far_y;  // the neighbour through the edge
    bool open;
    int want_x, want_y;
  } cases[] = {
      {"up from row 0, row 21 open", MoveUp, 100, 0, 5, 21, true, 100, 415},
      {"up from row 0, row 21 wall", MoveUp, 100, 0, 5, 21, false, 100, 0},
      {"left from column 0, column 21 open", MoveLeft, 0, 100, 21, 5, true, 415, 100},
      {"left from column 0, column 21 wall", MoveLeft, 0, 100, 21, 5, false, 0, 100},
      {"right from column 21, column 0 open", MoveRight, 420, 100, 0, 5, true, 425 - 420, 100},
      {"right from column 21, column 0 wall", MoveRight, 420, 100, 0, 5, false, 420, 100},
      {"down from row 21, row 0 open", MoveDown, 100, 420, 5, 0, true, 100, 5},
      {"down from row 21, row 0 wall", MoveDown, 100, 420, 5, 0, false, 100, 420},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    Cell(c.x / CELL, c.y / CELL, kFloor);
    Cell(c.far_x, c.far_y, c.open ? kFloor : kWall);
    Place(vorbel, c.x, c.y);
    c.move();
    EXPECT_EQ(vorbel.x, c.want_x);
    EXPECT_EQ(vorbel.y, c.want_y);
  }
}

TEST_F(VorbelTest, CellEatenIsTheOneBeforeTheStep) {
  // Balls on rows 4, 5 and 6 of column 5; the vorbel starts on row 5.
  struct Case {
    const char* name;
    MoveFn move;
    std::vector<std::vector<int>> eaten;  // rows eaten after each step
  } cases[] = {
      {"up eats the next cell on the second step", MoveUp, {{5}, {4, 5}, {4, 5}, {4, 5}}},
      {"down eats a cell only on leaving it", MoveDown, {{5}, {5}, {5}, {5}, {5, 6}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    Paint(5, 3, {" ", ".", ".", ".", " "});
    Place(vorbel, 100, 100);
    for (size_t i = 0; i < c.eaten.size(); i++) {
      c.move();
      for (int row = 4; row <= 6; row++) {
        bool want = std::find(c.eaten[i].begin(), c.eaten[i].end(), row) != c.eaten[i].end();
        EXPECT_EQ(mapV[5][row], want ? -1 : 1) << "step " << i << " row " << row;
      }
      EXPECT_EQ(num_balls, 100 - static_cast<int>(c.eaten[i].size())) << "step " << i;
    }
  }
}

TEST_F(VorbelTest, UpAndDownInOneTickStepThereAndBack) {
  Paint(5, 4, {".", "."});
  Place(vorbel, 100, 100);
  key[KEY_UP] = 1;
  key[KEY_DOWN] = 1;
  vorbel_timer = vorbel_speed + 1;
  GamePass();
  EXPECT_EQ(vorbel.x, 100);
  EXPECT_EQ(vorbel.y, 100);
  EXPECT_EQ(vorbel_move_direction, 0);
  EXPECT_EQ(mapV[5][5], -1) << "eaten by the step up";
  EXPECT_EQ(mapV[5][4], -1) << "eaten by the step back down";
  EXPECT_EQ(num_balls, 98);
}

TEST_F(VorbelTest, ScoringByDifficulty) {
  struct Case {
    int dif, code, points;
    int want_gain, want_balls_eaten;
  } cases[] = {
      {0, 1903, 50, 50, 1},   {1, 1903, 50, 60, 1},   {2, 1903, 50, 70, 1},
      {0, 1906, 500, 500, 0}, {1, 1906, 500, 600, 0}, {2, 1906, 500, 700, 0},
      {2, 2004, 5, 25, 1},    {0, 2108, 80, 80, 0},   {1, 2305, 7, 107, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "difficulty " << c.dif << " code " << c.code);
    SetUp();
    dif_level = c.dif;
    Cell(5, 5, c.code);
    level.points[mapV[5][5] - 1] = static_cast<int16_t>(c.points);
    vorbel.score = 1000;
    Place(vorbel, 100, 100);
    EatBall();
    EXPECT_EQ(vorbel.score, 1000 + c.want_gain);
    EXPECT_EQ(num_balls, 100 - c.want_balls_eaten);
    EXPECT_EQ(mapV[5][5], -1);
  }
}

TEST_F(VorbelTest, NothingToEat) {
  for (int code : {kFloor, 1909, 1999, 2210, 2400, 2300}) {
    SCOPED_TRACE(code);
    SetUp();
    Cell(5, 5, code);
    int value = mapV[5][5];
    Place(vorbel, 100, 100);
    EatBall();
    EXPECT_EQ(mapV[5][5], value);
    EXPECT_EQ(vorbel.score, 0);
    EXPECT_EQ(num_balls, 100);
    EXPECT_EQ(state_timer, 0);
  }
}

TEST_F(VorbelTest, PowerBallMakesTheBugsInPlayEdibleAndRestartsTheCount) {
  num_bugs = 3;
  bugs[1].state = 2;
  for (int start : {0, 1500}) {
    SCOPED_TRACE(start);
    Cell(5, 5, kPowerBall);
    state_timer = start;
    Place(vorbel, 100, 100);
    EatBall();
    EXPECT_EQ(state_timer, 1);
    for (int i = 0; i < 3; i++) EXPECT_EQ(bugs[i].state, 2) << i;
    EXPECT_EQ(bugs[3].state, 0) << "a bug that is not in play keeps its state";
  }
}

TEST_F(VorbelTest, SoundOnWithoutTheSampleStillEats) {
  // The test sound file holds effects 0..2 only: the ball's effect 4 is missing.
  std::vector<DATAFILE>& effects = TheResources().sound_objects;
  sounds = effects.data();
  sound_on = -1;
  Paint(5, 5, {"."});
  Place(vorbel, 100, 100);
  EatBall();
  EXPECT_EQ(mapV[5][5], -1);
  EXPECT_EQ(vorbel.score, 10 + 10);
  Cell(5, 5, kPowerBall);
  EatBall();
  EXPECT_EQ(state_timer, 1);
  sounds = nullptr;
  Cell(5, 5, kBall);
  EatBall();
  EXPECT_EQ(num_balls, 98);
}

TEST_F(VorbelTest, PositionOffTheGridEatsNothing) {
  Cell(0, 0, kBall);
  const std::pair<int, int> spots[] = {{-5, 0}, {0, -5}, {445, 0}, {0, 445}};
  for (auto [x, y] : spots) {
    Place(vorbel, x, y);
    EatBall();
  }
  EXPECT_EQ(num_balls, 100);
  EXPECT_EQ(mapV[0][0], 1);
}

}  // namespace
}  // namespace testgame
