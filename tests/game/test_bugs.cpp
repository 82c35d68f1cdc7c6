// The bugs: the four ways and the edge rules, steps and the wrap through an edge, the odds of the
// chase and the wander over many draws of the game's own unseeded generator, and collisions.
#include <cstdlib>
#include <string>

#include "game_fixture.h"

namespace testgame {
namespace {

class BugTest : public GameTest {
 protected:
  // Opens cell (10, 10) and the neighbours named in `ways` ("U", "D", "L", "R").
  void Crossing(const std::string& ways) {
    Cell(10, 10, kFloor);
    if (ways.find('U') != std::string::npos) Cell(10, 9, kFloor);
    if (ways.find('D') != std::string::npos) Cell(10, 11, kFloor);
    if (ways.find('L') != std::string::npos) Cell(9, 10, kFloor);
    if (ways.find('R') != std::string::npos) Cell(11, 10, kFloor);
  }
};

// The way a step points, as a letter.
char Way(const actor_struct& b) {
  if (b.dx == 5 && b.dy == 0) return 'R';
  if (b.dx == -5 && b.dy == 0) return 'L';
  if (b.dx == 0 && b.dy == 5) return 'D';
  if (b.dx == 0 && b.dy == -5) return 'U';
  return '?';
}

TEST_F(BugTest, EachWayOpenOrWall) {
  struct Case {
    const char* name;
    int (*go)(int);
    std::string open;
    int want_result, want_dx, want_dy;
  } cases[] = {
      {"up open", BugGoUp, "U", -1, 0, -5},       {"up wall", BugGoUp, "DLR", 0, 5, 0},
      {"down open", BugGoDown, "D", -1, 0, 5},    {"down wall", BugGoDown, "ULR", 0, 5, 0},
      {"left open", BugGoLeft, "L", -1, -5, 0},   {"left wall", BugGoLeft, "UDR", 0, 5, 0},
      {"right open", BugGoRight, "R", -1, 5, 0},  {"right wall", BugGoRight, "UDL", 0, 5, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    Crossing(c.open);
    Place(bugs[0], 200, 200);
    bugs[0].dx = 5;
    EXPECT_EQ(c.go(0), c.want_result);
    EXPECT_EQ(bugs[0].dx, c.want_dx);
    EXPECT_EQ(bugs[0].dy, c.want_dy);
  }
}

TEST_F(BugTest, BallsAndDecorationsAreOpenFloor) {
  for (int code : {kBall, kPowerBall, 2210, 2400, 1900}) {
    SCOPED_TRACE(code);
    SetUp();
    Cell(10, 10, kFloor);
    Cell(10, 9, code);
    Place(bugs[0], 200, 200);
    EXPECT_EQ(BugGoUp(0), -1);
  }
}

TEST_F(BugTest, EdgeNeighboursAreAcrossTheMaze) {
  // On an edge cell a bug tests the cell on the opposite edge. Only the right edge has a rule of
  // its own: a bug on column 21 that finds column 0 open turns back instead of leaving.
  struct Case {
    const char* name;
    int (*go)(int);
    int x, y;          // the bug's cell
    int far_x, far_y;  // the neighbour across the maze
    bool open;
    int want_result, want_dx, want_dy;
  } cases[] = {
      {"left from column 0, column 21 open", BugGoLeft, 0, 7, 21, 7, true, -1, -5, 0},
      {"left from column 0, column 21 wall", BugGoLeft, 0, 7, 21, 7, false, 0, 0, 5},
      {"up from row 0, row 21 open", BugGoUp, 7, 0, 7, 21, true, -1, 0, -5},
      {"up from row 0, row 21 wall", BugGoUp, 7, 0, 7, 21, false, 0, 0, 5},
      {"down from row 21, row 0 open", BugGoDown, 7, 21, 7, 0, true, -1, 0, 5},
      {"down from row 21, row 0 wall", BugGoDown, 7, 21, 7, 0, false, 0, 0, 5},
      {"right from column 21, column 0 open: turns back", BugGoRight, 21, 7, 0, 7, true, -1, -5, 0},
      {"right from column 21, column 0 wall", BugGoRight, 21, 7, 0, 7, false, 0, 0, 5},
      {"right from column 20 goes right", BugGoRight, 20, 7, 21, 7, true, -1, 5, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    Cell(c.x, c.y, kFloor);
    Cell(c.far_x, c.far_y, c.open ? kFloor : kWall);
    Place(bugs[0], CELL * c.x, CELL * c.y);
    bugs[0].dx = 0;
    bugs[0].dy = 5;
    EXPECT_EQ(c.go(0), c.want_result);
    EXPECT_EQ(bugs[0].dx, c.want_dx);
    EXPECT_EQ(bugs[0].dy, c.want_dy);
  }
}

TEST_F(BugTest, BetweenCellsTheStepIsKept) {
  Crossing("UDLR");
  Place(bugs[0], 205, 200);
  bugs[0].dx = 5;
  vorbel.x = 0;  // a chase would want to turn left, a wander anywhere: neither is asked
  for (int want : {210, 215, 220}) {
    MoveBug(0);
    EXPECT_EQ(bugs[0].x, want);
    EXPECT_EQ(bugs[0].dx, 5);
  }
}

TEST_F(BugTest, SteppingOutThroughAnEdgeLandsOnTheOppositeEdge) {
  // A straight tunnel: the bug can only go on, so each step is certain.
  struct Case {
    const char* name;
    bool row;  // a tunnel along row 7, else along column 7
    int x, y, dx, dy;
    std::vector<int> along;
  } cases[] = {
      {"left out of column 0", true, 0, 140, -5, 0, {420, 415, 410}},
      {"up out of row 0", false, 140, 0, 0, -5, {420, 415, 410}},
      {"down out of row 21", false, 140, 420, 0, 5, {0, 5, 10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.row ? OpenRow(7) : OpenColumn(7);
    Place(bugs[0], c.x, c.y);
    bugs[0].dx = c.dx;
    bugs[0].dy = c.dy;
    for (int want : c.along) {
      MoveBug(0);
      EXPECT_EQ(c.row ? bugs[0].x : bugs[0].y, want);
      EXPECT_EQ(c.row ? bugs[0].y : bugs[0].x, 140);
    }
  }
}

TEST_F(BugTest, PositionStaysOnTheGridBetweenCells) {
  struct Case {
    int x, y, dx, dy, want_x, want_y;
  } cases[] = {
      {420, 105, 5, 0, 0, 105},
      {0, 105, -5, 0, 420, 105},
      {105, 420, 0, 5, 105, 0},
      {105, 0, 0, -5, 105, 420},
  };
  for (const Case& c : cases) {
    Place(bugs[0], c.x, c.y);
    bugs[0].dx = c.dx;
    bugs[0].dy = c.dy;
    MoveBug(0);
    EXPECT_EQ(bugs[0].x, c.want_x);
    EXPECT_EQ(bugs[0].y, c.want_y);
  }
}

TEST_F(BugTest, ChaseAndWanderOdds) {
  // The bug stands on cell (10, 10) = pixel (200, 200); ways are the open neighbours. The odds
  // are the chase roll's (1 in 4 - difficulty, never for an edible bug) times the chase's way
  // plus the rest times the wander's spread.
  struct Case {
    const char* name;
    int dif, state;
    char heading;
    std::string ways;
    int px, py;  // the vorbel
    double up, down, left, right;
  } cases[] = {
      {"Normal, crossing, vorbel up-right: chase straight on", 1, 0, 'R', "UDLR", 300, 100, 2 / 9., 2 / 9., 0, 5 / 9.},
      {"Easy, same crossing", 0, 0, 'R', "UDLR", 300, 100, 1 / 4., 1 / 4., 0, 1 / 2.},
      {"Hard, same crossing", 2, 0, 'R', "UDLR", 300, 100, 1 / 6., 1 / 6., 0, 2 / 3.},
      {"edible bugs never chase", 2, 2, 'R', "UDLR", 300, 100, 1 / 3., 1 / 3., 0, 1 / 3.},
      {"vorbel down-left: right skipped, down chased", 2, 0, 'R', "UDLR", 100, 300, 1 / 6., 2 / 3., 0, 1 / 6.},
      {"vorbel on the bug's cell: nothing to chase", 2, 0, 'R', "UDLR", 200, 200, 1 / 3., 1 / 3., 0, 1 / 3.},
      {"corner turning down, vorbel lower", 1, 0, 'R', "DL", 300, 300, 0, 5 / 9., 4 / 9., 0},
      {"down closed: the draw of 2 is drawn again", 1, 2, 'R', "ULR", 300, 100, 1 / 2., 0, 0, 1 / 2.},
      {"dead end turns back", 1, 0, 'R', "L", 300, 100, 0, 0, 1, 0},
      {"heading left, vorbel up-right: up chased", 1, 0, 'L', "UDLR", 300, 100, 5 / 9., 2 / 9., 2 / 9., 0},
      {"heading left, vorbel left: straight on", 1, 0, 'L', "UDLR", 100, 300, 2 / 9., 2 / 9., 5 / 9., 0},
      {"heading down, vorbel below: straight on", 1, 0, 'D', "UDLR", 100, 300, 0, 5 / 9., 2 / 9., 2 / 9.},
      {"heading up, vorbel below-right: right chased", 1, 0, 'U', "UDLR", 300, 300, 2 / 9., 0, 2 / 9., 5 / 9.},
      {"heading up, vorbel below-left: left chased", 1, 0, 'U', "UDLR", 100, 300, 2 / 9., 0, 5 / 9., 2 / 9.},
      {"heading down, left closed: the draw of 2 is drawn again", 1, 2, 'D', "UDR", 100, 300, 0, 1 / 2., 0, 1 / 2.},
      {"heading down into a dead end", 1, 0, 'D', "U", 100, 300, 1, 0, 0, 0},
  };
  constexpr int kDraws = 30000;
  constexpr double kTolerance = 0.015;  // about five standard deviations at 30000 draws
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    dif_level = c.dif;
    Crossing(c.ways);
    Place(vorbel, c.px, c.py);
    int dx = c.heading == 'R' ? 5 : c.heading == 'L' ? -5 : 0;
    int dy = c.heading == 'D' ? 5 : c.heading == 'U' ? -5 : 0;
    int count[4] = {0, 0, 0, 0};  // U, D, L, R
    for (int n = 0; n < kDraws; n++) {
      bugs[0] = actor_struct{200, 200, dx, dy, c.state, 10, 0, 0, 0};
      ChangeBugDir(0);
      switch (Way(bugs[0])) {
        case 'U': count[0]++; break;
        case 'D': count[1]++; break;
        case 'L': count[2]++; break;
        case 'R': count[3]++; break;
        default: ADD_FAILURE() << "no way set"; break;
      }
      ASSERT_EQ(bugs[0].x, 200);  // deciding never moves the bug
    }
    EXPECT_NEAR(count[0] / double(kDraws), c.up, kTolerance);
    EXPECT_NEAR(count[1] / double(kDraws), c.down, kTolerance);
    EXPECT_NEAR(count[2] / double(kDraws), c.left, kTolerance);
    EXPECT_NEAR(count[3] / double(kDraws), c.right, kTolerance);
  }
}

TEST_F(BugTest, MoveDecidesOnACellThenSteps) {
  Crossing("L");
  Place(bugs[0], 200, 200);
  bugs[0].dx = 5;
  MoveBug(0);
  EXPECT_EQ(bugs[0].x, 195) << "a dead end turns the bug back on its own cell";
  EXPECT_EQ(bugs[0].dx, -5);
}

// Collisions ----------------------------------------------------------------------------------

class CollisionTest : public BugTest {
 protected:
  void SetUp() override {
    BugTest::SetUp();
    level.bug_start_x = 10;
    level.bug_start_y = 10;
    level.vorbel_start_x = 3;
    level.vorbel_start_y = 4;
  }
};

TEST_F(CollisionTest, TouchingMeansOverlappingBoxes) {
  struct Case {
    int bx, by;
    bool touch;
  } cases[] = {{100, 100, true}, {115, 115, true}, {85, 85, true}, {120, 100, false},
               {100, 80, false}, {80, 115, false}, {115, 120, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bx << "," << c.by);
    SetUp();
    num_bugs = 1;
    Place(vorbel, 100, 100);
    Place(bugs[0], c.bx, c.by);
    bugs[0].state = 2;
    BugCollision(0);
    EXPECT_EQ(vorbel.bugs_eaten, c.touch ? 1 : 0);
  }
}

TEST_F(CollisionTest, EdibleBugsAreCaughtAndSentHome) {
  struct Case {
    int dif, eaten_before, bugs_touching;
    int want_gain;
  } cases[] = {
      {1, 0, 1, 400},
      {1, 0, 2, 400 + 600},  // both caught in the same pass, the count growing between
      {1, 2, 1, 800},        // the third bug eaten on Normal
      {0, 0, 1, 200},
      {2, 5, 1, 1600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "difficulty " << c.dif << ", eaten before " << c.eaten_before);
    SetUp();
    dif_level = c.dif;
    num_bugs = 3;
    vorbel.bugs_eaten = c.eaten_before;
    Place(vorbel, 100, 100);
    for (int i = 0; i < 3; i++) {
      Place(bugs[i], i < c.bugs_touching ? 105 : 300, 100);
      bugs[i].state = 2;
      bugs[i].dx = -5;
    }
    for (int i = 0; i < num_bugs; i++) BugCollision(i);
    EXPECT_EQ(vorbel.score, c.want_gain);
    EXPECT_EQ(vorbel.bugs_eaten, c.eaten_before + c.bugs_touching);
    for (int i = 0; i < c.bugs_touching; i++) {
      EXPECT_EQ(bugs[i].x, 200);
      EXPECT_EQ(bugs[i].y, 200);
      EXPECT_EQ(bugs[i].state, 0);
      EXPECT_EQ(bugs[i].dx, -5) << "the step is not changed";
    }
    EXPECT_EQ(bugs[c.bugs_touching].state, 2);
    EXPECT_EQ(vorbel.lives, 4);
  }
}

TEST_F(CollisionTest, HomeOutsideTheGridIsTheNearestCellInside) {
  struct Case {
    int home_x, home_y, want_x, want_y;
  } cases[] = {{40, 3, 420, 60}, {-3, 30, 0, 420}, {21, -1, 420, 0}};
  for (const Case& c : cases) {
    SetUp();
    level.bug_start_x = static_cast<int16_t>(c.home_x);
    level.bug_start_y = static_cast<int16_t>(c.home_y);
    num_bugs = 1;
    Place(vorbel, 100, 100);
    Place(bugs[0], 100, 100);
    bugs[0].state = 2;
    BugCollision(0);
    EXPECT_EQ(bugs[0].x, c.want_x);
    EXPECT_EQ(bugs[0].y, c.want_y);
  }
}

TEST_F(CollisionTest, NormalBugTakesALifeAndRestartsTheLevel) {
  num_bugs = 2;
  vorbel.lives = 2;
  vorbel.score = 1234;
  vorbel_move_direction = 3;
  Place(vorbel, 100, 100);
  Place(bugs[0], 105, 100);
  Place(bugs[1], 300, 300);
  bugs[1].state = 2;
  bugs[1].dy = -5;
  key[KEY_SPACE] = 1;  // "Press space" is answered before it is asked
  BugCollision(0);
  EXPECT_EQ(vorbel.lives, 1);
  EXPECT_EQ(end_game, 0);
  EXPECT_EQ(vorbel.x, 60);
  EXPECT_EQ(vorbel.y, 80);
  EXPECT_EQ(vorbel.sprite, VORBEL_RIGHT);
  EXPECT_EQ(vorbel.score, 1234);
  EXPECT_EQ(vorbel_move_direction, 3) << "a step in progress goes on from the start cell";
  for (int i = 0; i < 2; i++) {
    EXPECT_EQ(bugs[i].x, 200);
    EXPECT_EQ(bugs[i].y, 200);
    EXPECT_EQ(bugs[i].dx, 5);
    EXPECT_EQ(bugs[i].dy, 0);
    EXPECT_EQ(bugs[i].state, 0);
    EXPECT_EQ(bugs[i].sprite, 10);
  }
  // "You Died!!!" over the maze, in colour 15 on what was there.
  int white = 0;
  for (int x = 200; x < 290; x++)
    for (int y = 240; y < 250; y++) white += getpixel(screen, x, y) == 15;
  EXPECT_GT(white, 20);
}

TEST_F(CollisionTest, LastLifeEndsTheGameWithoutTakingIt) {
  num_bugs = 1;
  vorbel.lives = 1;
  Place(vorbel, 100, 100);
  Place(bugs[0], 100, 115);
  BugCollision(0);
  EXPECT_EQ(end_game, -1);
  EXPECT_EQ(vorbel.lives, 1);
  EXPECT_EQ(vorbel.x, 100) << "no restart";
  EXPECT_EQ(bugs[0].y, 115);
}

TEST_F(CollisionTest, BugIndexOutsideTheTableIsIgnored) {
  Place(vorbel, 0, 0);
  for (int i : {-1, MAX_BUGS, 1000}) {
    BugCollision(i);
    MoveBug(i);
    EXPECT_EQ(BugGoUp(i), 0);
    EXPECT_EQ(BugGoRight(i), 0);
  }
  EXPECT_EQ(end_game, 0);
}

}  // namespace
}  // namespace testgame
