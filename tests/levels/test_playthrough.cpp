// Every shipped and example custom level can be cleared: an autopilot plays each map with the
// game's own moves (MoveUp..MoveRight) until no ball is left, and ball_count is then exactly 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "Template.h"
#include "route.h"

namespace {

using MoveFn = void (*)();
const MoveFn kMoves[4] = {MoveUp, MoveDown, MoveLeft, MoveRight};

// One hop: the key held in one direction from a cell until the vorbel stands on a cell again
// (each step eats what lies under the vorbel).
struct Hop {
  int to = -1;            // the cell reached, as 22 * column + row; -1 when a wall is in the way
  std::vector<int> eats;  // the cells under the vorbel before each step
};
Hop Simulate(int cell, int dir) {
  Hop hop;
  vorbel.x = CELL * (cell / MAP_H);
  vorbel.y = CELL * (cell % MAP_H);
  vorbel_move_direction = 0;
  for (int step = 0; step < 200 && hop.to < 0; step++) {
    const int x = vorbel.x, y = vorbel.y;
    kMoves[dir]();
    if (vorbel.x == x && vorbel.y == y) return Hop{};  // a wall
    hop.eats.push_back(MAP_H * (x / CELL) + y / CELL);
    if (vorbel.x % CELL == 0 && vorbel.y % CELL == 0)
      hop.to = MAP_H * (vorbel.x / CELL) + vorbel.y / CELL;
  }
  return hop;
}

// Plays one level, which must pass the game's own map check, to its end with the autopilot.
void ClearLevel(map_struct *level) {
  char why[200] = "";
  ASSERT_TRUE(CheckMap(level, why, sizeof why)) << why;
  gmap = level;
  num_bugs = 0;
  BuildCellValues();

  // The hop graph is geometry only: walls never change, so it is built once on a copy.
  std::vector<std::array<Hop, 4>> hops(MAP_W * MAP_H);
  int saved[MAP_W][MAP_H];
  std::memcpy(saved, mapV, sizeof saved);
  for (int c = 0; c < MAP_W * MAP_H; c++)
    if (mapV[c / MAP_H][c % MAP_H] != 0)
      for (int d = 0; d < 4; d++) hops[c][size_t(d)] = Simulate(c, d);
  std::memcpy(mapV, saved, sizeof saved);

  num_balls = gmap->ball_count;
  int at = MAP_H * StartCell(gmap->vorbel_start_x) + StartCell(gmap->vorbel_start_y);
  // Hop by hop toward the nearest food, each hop made again with the real moves, which eat.
  auto hop = [&](int c, int way) { return hops[size_t(c)][size_t(way)].to; };
  auto eats = [&](int c, int way) {
    const std::vector<int> &e = hops[size_t(c)][size_t(way)].eats;
    return std::any_of(e.begin(), e.end(), Edible);
  };
  for (int way, walked = 0; (way = FirstWayToFood(at, hop, eats)) >= 0; walked++) {
    ASSERT_LT(walked, 100000) << "the walk does not eat what its hops pass over";
    const int to = Simulate(at, way).to;
    ASSERT_EQ(to, hop(at, way));
    at = to;
  }

  for (int c = 0; c < MAP_W * MAP_H; c++)
    EXPECT_FALSE(Edible(c)) << "nothing eats the ball at column " << c / MAP_H << ", row "
                            << c % MAP_H;
  EXPECT_EQ(num_balls, 0) << "ball_count does not match the balls of the map";
}

// Every level of maps.dat, and the level kit's example custom levels read as the game reads them.
TEST(Playthrough, EveryShippedAndExampleLevelCanBeCleared) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  sound_on = music_on = 0;
  num_sprites = 44;  // the bug pictures a map may name are 0..27
  DATAFILE *maps = load_datafile(VORBEL_RUN_DIR "/maps.dat");
  ASSERT_NE(maps, nullptr);
  int levels = 0;
  for (int m = 0; maps[m].type != DAT_END; m++, levels++) {
    SCOPED_TRACE("level " + std::to_string(m + 1));
    ClearLevel(static_cast<map_struct *>(maps[m].dat));
  }
  EXPECT_GE(levels, 10);
  unload_datafile(maps);
  for (const auto &e : std::filesystem::directory_iterator(VORBEL_RUN_DIR "/custom")) {
    if (e.path().extension() != ".map") continue;
    SCOPED_TRACE(e.path().string());
    map_struct level;
    ASSERT_TRUE(ReadCustomMap(e.path().c_str(), &level));
    ClearLevel(&level);
    levels++;
  }
  EXPECT_GE(levels, 12);
}

}  // namespace
