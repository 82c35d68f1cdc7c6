// Level-data rules (cell codes, the grid's edges, difficulty) and the options' volumes.
#include "game_fixture.h"
#include "modux.h"

namespace testgame {
namespace {

using StateTest = GameTest;

TEST_F(StateTest, CellValuesAndTheGridEdges) {
  // clang-format off
  const int cases[][2] = {{-5, 0}, {1899, 0}, {1900, -1}, {1901, 1}, {1999, 99}, {2000, -1},
                          {2101, 1}, {2200, -1}, {2215, 15}, {2399, 99}, {2400, -1}, {32767, -1}};
  // clang-format on
  for (auto &c : cases) EXPECT_EQ(CellValue(c[0]), c[1]) << "code " << c[0];
  Cell(2, 7, 1903);
  EXPECT_EQ(mapV[2][7] * 10 + mapV[7][2], 30) << "cells are stored column by column";
  // Outside the grid is the cell on the opposite edge.
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
    EXPECT_EQ((std::vector<int>{vorbel.lives, max_bugs_state, vorbel_speed, bug_speed, vorbel.score,
                                extra_life, vorbel.bugs_eaten, state_timer, vorbel_move_direction}),
              (std::vector<int>{c[1], c[2], c[3], c[4], 0, 0, 0, 0, 0}));
  }
}

// Effects are played at sound_volume by the sample's play volume, so the mixer's overall volume,
// which scales the music's voices too, stays at full; the music follows music_volume through the
// engine.
TEST_F(StateTest, EachVolumeFollowsOnlyItsOwnSetting) {
  install_sound(DIGI_NONE, MIDI_NONE, nullptr);
  // sound volume, music volume; the engine's volume after them
  const int cases[][3] = {{0, 200, 204}, {250, 0, 0}, {250, 250, 255}, {120, 10, 10}};
  for (auto &c : cases) {
    sound_volume = c[0], music_volume = c[1];
    ApplyVolumes();
    int digi = -2, midi = -2;
    get_volume(&digi, &midi);
    EXPECT_EQ((std::vector<int>{digi, get_mod_volume()}), (std::vector<int>{255, c[2]}))
        << "sound " << c[0] << ", music " << c[1];
  }
  sound_volume = music_volume = 200;
}

}  // namespace
}  // namespace testgame
