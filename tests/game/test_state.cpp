// Level data (cell codes, the grid's edges, difficulty), the options' volumes and the vorbel:
// steps, walls and the edge, which cell is eaten when and scoring by difficulty.
#include "game_fixture.h"
#include "modux.h"

namespace testgame {
namespace {

using StateTest = GameTest;

// Cell values at the bands' ends; outside the grid is the cell on the opposite edge.
TEST_F(StateTest, CellValuesAndTheGridEdges) {
  const int cases[][2] = {{1899, 0}, {1900, -1}, {1999, 99}, {2101, 1}, {2215, 15}, {2400, -1}};
  for (auto &c : cases) EXPECT_EQ(CellValue(c[0]), c[1]) << "code " << c[0];
  for (int x = 0; x < MAP_W; x++)
    for (int y = 0; y < MAP_H; y++) mapV[x][y] = 100 * x + y;
  const int at[][3] = {{5, 6, 506},  {-1, 4, 2104}, {22, 4, 4},
                       {3, -1, 321}, {3, 22, 300},  {-23, 45, 2101}};
  for (auto &c : at) EXPECT_EQ(CellAt(c[0], c[1]), c[2]) << c[0] << "," << c[1];
}

// Lives, speeds and safety time by difficulty; the last game's figures never carry over.
TEST(NewGame, DifficultySetsLivesSpeedsAndSafetyTime) {
  const int cases[][5] = {{0, 5, 3000, 7, 14}, {1, 4, 2000, 10, 10}, {2, 3, 1000, 12, 7}};
  for (auto &c : cases) {
    dif_level = c[0];
    vorbel.score = extra_life = vorbel.bugs_eaten = state_timer = 99;
    vorbel_move_direction = 3;
    NewGameSetup();
    EXPECT_EQ((Ints{vorbel.lives, max_bugs_state, vorbel_speed, bug_speed, vorbel.score, extra_life,
                    vorbel.bugs_eaten, state_timer, vorbel_move_direction}),
              (Ints{c[1], c[2], c[3], c[4], 0, 0, 0, 0, 0}));
  }
}

// Effects play at sound_volume by their own play volume, so the mixer's overall volume, which
// scales the music too, stays at full; the music follows music_volume through the engine.
TEST_F(StateTest, EachVolumeFollowsOnlyItsOwnSetting) {
  install_sound(DIGI_NONE, MIDI_NONE, nullptr);
  // sound volume, music volume; the engine's volume after them
  const int cases[][3] = {{0, 200, 204}, {250, 0, 0}, {250, 250, 255}, {120, 10, 10}};
  for (auto &c : cases) {
    sound_volume = c[0], music_volume = c[1];
    ApplyVolumes();
    int digi = -2, midi = -2;
    get_volume(&digi, &midi);
    EXPECT_EQ((Ints{digi, get_mod_volume()}), (Ints{255, c[2]}))
        << "sound " << c[0] << ", music " << c[1];
  }
}

using MoveFn = void (*)();
using VorbelTest = GameTest;

TEST_F(VorbelTest, StepsWallsAndTheEdgeAndTheCellEaten) {
  // Column 5 and row 5 are open. The moving coordinate and the direction after each step, the
  // picture after the first. Rows with ball counts have balls on rows 4, 5 and 6 of column 5: the
  // cell eaten is the one the vorbel stands in before the step.
  // clang-format off
  struct { MoveFn move; int x, y, dir_before, first_sprite; Ints along, dir, balls; } cases[] = {
      {MoveUp, 100, 20, 0, 37, {15, 10, 5, 415, 410, 405, 400}, {1, 1, 1, 0, 1, 1, 0}, {}},
      {MoveDown, 100, 400, 0, 41, {405, 410, 415, 5, 10, 15, 20}, {2, 2, 2, 0, 2, 2, 0}, {}},
      {MoveLeft, 20, 100, 0, 33, {15, 10, 5, 415, 410, 405, 400}, {3, 3, 3, 0, 3, 3, 0}, {}},
      {MoveRight, 400, 100, 0, 29, {405, 410, 415, 5, 10, 15, 20}, {4, 4, 4, 0, 4, 4, 0}, {}},
      {MoveUp, 100, 100, 0, 37, {95, 90, 85, 80}, {1, 1, 1, 0}, {99, 98, 98, 98}},
      {MoveDown, 100, 100, 0, 41, {105, 110, 115, 120, 125}, {2, 2, 2, 0, 2}, {99, 99, 99, 99, 98}},
      {MoveUp, 200, 95, 1, 29, {90, 85, 80, 80}, {1, 1, 0, 0}, {}},  // walls are tested on a cell only
      {MoveLeft, 100, 120, 0, SPR_VORBEL_RIGHT, {100}, {0}, {}},       // a wall ahead
      {MoveLeft, 100, 105, 2, SPR_VORBEL_RIGHT, {100}, {2}, {}},       // off the row's line: no step
      {MoveUp, 105, 100, 4, SPR_VORBEL_RIGHT, {100}, {4}, {}},
  };
  // clang-format on
  EachRow(cases, [&](auto &c) {
    Open(5, 5);
    for (int row = 4; row <= 6 && !c.balls.empty(); row++) Cell(5, row, kBall);
    Place(vorbel, c.x, c.y);
    vorbel_move_direction = c.dir_before;
    int first_sprite = -1;
    for (size_t i = 0; i < c.along.size(); i++) {
      c.move();  // the key stays held, so the move is asked for again after the wrap
      int along = c.move == MoveLeft || c.move == MoveRight ? vorbel.x : vorbel.y;
      EXPECT_EQ((Ints{along, vorbel_move_direction, num_balls}),
                (Ints{c.along[i], c.dir[i], c.balls.empty() ? 100 : c.balls[i]}))
          << "step " << i;
      if (i == 0) first_sprite = vorbel.sprite;
    }
    EXPECT_EQ(first_sprite, c.first_sprite);
  });
}

TEST_F(VorbelTest, ScoringByDifficulty) {
  // difficulty, code, points of its value, gain, balls eaten
  // clang-format off
  const int cases[][5] = {
      {0, 1903, 50, 50, 1},   {1, 1903, 50, 60, 1},   {2, 1903, 50, 70, 1}, {0, 1906, 500, 500, 0},
      {2, 1906, 500, 700, 0}, {2, 2004, 5, 25, 1},    {0, 2108, 80, 80, 0}, {1, 2305, 7, 107, 0},
      {2, kFloor, 0, 0, 0},   {2, 1909, 0, 0, 0},     {2, 2400, 0, 0, 0},  // nothing to eat
  };
  // clang-format on
  EachRow(cases, [&](auto &c) {
    dif_level = c[0];
    Cell(5, 5, c[1]);
    int v = mapV[5][5];
    if (v >= 1 && v <= 32) level.points[v - 1] = int16_t(c[2]);
    vorbel.score = 1000;
    Place(vorbel, 100, 100);
    EatBall();
    EXPECT_EQ((Ints{vorbel.score, num_balls, mapV[5][5]}),
              (Ints{1000 + c[3], 100 - c[4], c[3] ? -1 : v}));
  });
}

// The player's folder follows the XDG rules: a relative or empty XDG_DATA_HOME is ignored.
TEST(Folders, PlayerFolder) {
  const struct {
    const char *xdg, *home, *want;
  } players[] = {{"/x/data", "/home/a", "/x/data/vorbel-endurnal"},
                 {"relative", "/home/a", "/home/a/.local/share/vorbel-endurnal"},
                 {"", "/home/a", "/home/a/.local/share/vorbel-endurnal"},
                 {nullptr, nullptr, ""}};
  for (const auto &p : players)
    EXPECT_EQ(PlayerFolder(p.xdg, p.home), p.want) << (p.xdg ? p.xdg : "unset");
}

}  // namespace
}  // namespace testgame
