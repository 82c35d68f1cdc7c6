// The bugs: the ways and the edge rules, the wrap through an edge, the odds of the chase and the
// wander over many draws of the game's own unseeded generator, and collisions with edible bugs.
#include <algorithm>

#include "game_fixture.h"

namespace testgame {
namespace {

const int kStepX[] = {0, 0, -5, 5}, kStepY[] = {-5, 5, 0, 0};  // up, down, left, right

int Way(const actor_struct &b) {
  for (int w = 0; w < 4; w++)
    if (b.dx == kStepX[w] && b.dy == kStepY[w]) return w;
  return -1;
}

class BugTest : public GameTest {
 protected:
  // Opens cell (10, 10) and the neighbours named in `ways` ("UDLR").
  void Crossing(const std::string &ways) {
    Cell(10, 10, kFloor);
    for (int w = 0; w < 4; w++)
      if (ways.find("UDLR"[w]) != std::string::npos)
        Cell(10 + kStepX[w] / 5, 10 + kStepY[w] / 5, kFloor);
  }
};

TEST_F(BugTest, WaysAndTheEdgeRules) {
  // The bug on (x, y) steps (5, 5), which no way takes; neighbour (nx, ny) has `code`. On an edge
  // the neighbour is across the maze; on column 21 an open column 0 turns the bug back instead.
  using Go = int (*)(int);
  // clang-format off
  struct { Go go; int x, y, nx, ny, code, want, want_dx, want_dy; } cases[] = {
      {BugGoUp, 10, 10, 10, 9, kBall, -1, 0, -5},       {BugGoDown, 10, 10, 10, 11, kWall, 0, 5, 5},
      {BugGoLeft, 10, 10, 9, 10, 2400, -1, -5, 0},      {BugGoRight, 10, 10, 11, 10, kWall, 0, 5, 5},
      {BugGoLeft, 0, 7, 21, 7, kFloor, -1, -5, 0},      {BugGoUp, 7, 0, 7, 21, kWall, 0, 5, 5},
      {BugGoDown, 7, 21, 7, 0, kFloor, -1, 0, 5},       {BugGoRight, 21, 7, 0, 7, kFloor, -1, -5, 0},
      {BugGoRight, 21, 7, 0, 7, kWall, 0, 5, 5},        {BugGoRight, 20, 7, 21, 7, kFloor, -1, 5, 0},
  };
  // clang-format on
  EachRow(cases, [&](auto &c) {
    Cell(c.x, c.y, kFloor);
    Cell(c.nx, c.ny, c.code);
    bugs[0] = actor_struct{CELL * c.x, CELL * c.y, 5, 5, 0, 10, 0, 0, 0};
    EXPECT_EQ((Ints{c.go(0), bugs[0].dx, bugs[0].dy}), (Ints{c.want, c.want_dx, c.want_dy}));
  });
}

// Between cells the step is kept; a step out through an edge lands on the opposite edge (row 7
// and column 7 are tunnels, so a bug deciding on them can only go on).
TEST_F(BugTest, StepsBetweenCellsAndThroughTheEdges) {
  // clang-format off
  const int cases[][6] = {{215, 200, 5, 0, 220, 200}, {0, 140, -5, 0, 420, 140}, {140, 420, 0, 5, 140, 0},
                          {420, 105, 5, 0, 0, 105},   {105, 0, 0, -5, 105, 420}};
  // clang-format on
  Open(7, 7);
  Crossing("UDLR");
  for (auto &c : cases) {
    bugs[0] = actor_struct{c[0], c[1], c[2], c[3], 0, 10, 0, 0, 0};
    MoveBug(0);
    EXPECT_EQ((Ints{bugs[0].x, bugs[0].y, bugs[0].dx, bugs[0].dy}), (Ints{c[4], c[5], c[2], c[3]}))
        << c[0] << "," << c[1];
  }
}

TEST_F(BugTest, ChaseAndWanderOdds) {
  // The bug stands on pixel (200, 200). The odds are the chase roll's (1 in 4 - difficulty, never
  // for an edible bug) times the chase's way plus the rest times the wander's.
  const double a = 5 / 9., b = 2 / 9.;  // on Normal: the way chased, and each other way
  // clang-format off
  struct { int dif, state; char heading; const char* ways; int px, py; double up, down, left, right; } cases[] = {
      // per heading: straight on before a turn, then each turn, so every try is taken
      {1, 0, 'R', "UDLR", 300, 100, b, b, 0, a}, {1, 0, 'R', "UDLR", 100, 300, b, a, 0, b},
      {1, 0, 'R', "UDLR", 100, 100, a, b, 0, b}, {1, 0, 'L', "UDLR", 100, 300, b, b, a, 0},
      {1, 0, 'L', "UDLR", 300, 300, b, a, b, 0}, {1, 0, 'L', "UDLR", 300, 100, a, b, b, 0},
      {1, 0, 'D', "UDLR", 100, 300, 0, a, b, b}, {1, 0, 'D', "UDLR", 300, 100, 0, b, b, a},
      {1, 0, 'D', "UDLR", 100, 100, 0, b, a, b}, {1, 0, 'U', "UDLR", 300, 100, a, 0, b, b},
      {1, 0, 'U', "UDLR", 300, 300, b, 0, b, a}, {1, 0, 'U', "UDLR", 100, 300, b, 0, a, b},
      {2, 0, 'R', "UDLR", 300, 100, 1 / 6., 1 / 6., 0, 2 / 3.},  // Hard: the chase roll is 1 in 2
      {2, 2, 'R', "UDLR", 300, 100, 1 / 3., 1 / 3., 0, 1 / 3.},  // edible bugs never chase
      {2, 0, 'R', "UDLR", 200, 200, 1 / 3., 1 / 3., 0, 1 / 3.},  // the vorbel on the bug: no chase
      {1, 2, 'R', "ULR", 300, 100, .5, 0, 0, .5},  // a closed way's draw is drawn again
      {1, 2, 'D', "UDR", 100, 300, 0, .5, 0, .5},
      {1, 0, 'R', "L", 300, 100, 0, 0, 1, 0},  // dead ends turn back
      {1, 0, 'D', "U", 100, 300, 1, 0, 0, 0},
  };
  // clang-format on
  constexpr int kDraws = 30000;  // a tolerance of 0.015 is about five standard deviations
  EachRow(cases, [&](auto &c) {
    dif_level = c.dif;
    Crossing(c.ways);
    Place(vorbel, c.px, c.py);
    int w = std::string("UDLR").find(c.heading), count[4] = {};
    for (int k = 0; k < kDraws; k++) {
      bugs[0] = actor_struct{200, 200, kStepX[w], kStepY[w], c.state, 10, 0, 0, 0};
      ChangeBugDir(0);
      const int way = Way(bugs[0]);
      ASSERT_TRUE(way >= 0 && bugs[0].x == 200) << "a way, and deciding never moves the bug";
      count[way]++;
    }
    const double want[] = {c.up, c.down, c.left, c.right};
    for (int v = 0; v < 4; v++) EXPECT_NEAR(count[v] / double(kDraws), want[v], 0.015) << "UDLR"[v];
  });
}

// The game's sequence is the C library's unseeded rand() (srand(1) restarts that), and draws
// made from rand() meanwhile, as a sound library's would be, take nothing from it.
TEST_F(BugTest, RandomIsTheUnseededSequenceAndTheGamesAlone) {
  RandomRestart();
  srand(1);
  std::vector<int> libc(5000);
  for (int &r : libc) r = rand();
  for (int k = 0; k < 5000; k++) {
    if (k % 7 == 0) rand();  // another library draws in between
    const int n = 2 + k % 5;
    ASSERT_EQ(Random(n), libc[size_t(k)] % n) << "draw " << k;
  }
  EXPECT_EQ(random_draws, 5000);
  RandomRestart();
  EXPECT_EQ((Ints{random_draws, Random(1 << 30)}), (Ints{0, libc[0] % (1 << 30)}));
}

using CollisionTest = BugTest;

TEST_F(CollisionTest, EdibleBugsAreCaughtAndSentHome) {
  // clang-format off
  const int cases[][10] = {
      // difficulty, bugs eaten before, bugs touching the vorbel's (100, 100) at (x, y), home cell, gain, where the bugs go
      {1, 0, 1, 105, 100, 10, 10, 400, 200, 200},  {1, 0, 2, 105, 100, 10, 10, 1000, 200, 200},  // the count grows
      {0, 0, 1, 105, 100, 10, 10, 200, 200, 200},  {2, 5, 1, 105, 100, -3, 30, 1600, 0, 420},  // a home off the grid
      // touching means overlapping boxes
      {1, 0, 1, 115, 115, 10, 10, 400, 200, 200},  {1, 0, 1, 85, 85, 10, 10, 400, 200, 200},
      {1, 0, 0, 120, 100, 10, 10, 0, 0, 0},        {1, 0, 0, 100, 80, 10, 10, 0, 0, 0},
  };
  // clang-format on
  EachRow(cases, [&](auto &c) {
    dif_level = c[0], vorbel.bugs_eaten = c[1], num_bugs = 3;
    level.bug_start_x = int16_t(c[5]), level.bug_start_y = int16_t(c[6]);
    Place(vorbel, 100, 100);
    for (int i = 0; i < 3; i++)
      bugs[i] = i < std::max(c[2], 1) ? actor_struct{c[3], c[4], -5, 0, 2, 10, 0, 0, 0}
                                      : actor_struct{300, 100, -5, 0, 2, 10, 0, 0, 0};
    for (int i = 0; i < 3; i++) BugCollision(i);
    // The next bug is untouched and no life goes.
    EXPECT_EQ((Ints{vorbel.score, vorbel.bugs_eaten, bugs[c[2]].state, vorbel.lives}),
              (Ints{c[7], c[1] + c[2], 2, 4}));
    for (int i = 0; i < c[2]; i++)  // home, normal again, the step kept
      EXPECT_EQ((Ints{bugs[i].x, bugs[i].y, bugs[i].state, bugs[i].dx}), (Ints{c[8], c[9], 0, -5}));
  });
}

}  // namespace
}  // namespace testgame
