// Level-data rules (cell codes, the grid's edges, difficulty), the menu button's box, the options'
// volumes and the player's and data folders.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "game_fixture.h"
#include "modux.h"

namespace testgame {
namespace {

using StateTest = GameTest;

TEST_F(StateTest, CellValuesAndTheGridEdges) {
  // clang-format off
  const int cases[][2] = {{-5, 0}, {0, 0}, {1899, 0}, {1900, -1}, {1901, 1}, {1908, 8}, {1999, 99},
                          {2000, -1}, {2001, 1}, {2099, 99}, {2100, -1}, {2101, 1}, {2200, -1},
                          {2201, 1}, {2215, 15}, {2299, 99}, {2300, -1}, {2301, 1}, {2399, 99},
                          {2400, -1}, {32767, -1}};
  // clang-format on
  for (auto &c : cases) EXPECT_EQ(CellValue(c[0]), c[1]) << "code " << c[0];
  Cell(2, 7, 1903);
  EXPECT_EQ(mapV[2][7], 3);
  EXPECT_EQ(mapV[7][2], 0);
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

TEST_F(StateTest, MouseInBoxExcludesTheEdges) {
  const int cases[][3] = {{10, 20, 0}, {11, 21, -1}, {49, 59, -1}, {10, 40, 0}, {50, 40, 0},
                          {30, 60, 0}, {30, 20, 0},  {9, 40, 0},   {30, 40, -1}};
  for (auto &c : cases) {
    mouse_x = c[0], mouse_y = c[1];
    EXPECT_EQ(mouseinbox(10, 20, 50, 60), c[2]) << c[0] << "," << c[1];
  }
  Button b(nullptr, 245, 320, 385, 345, 15, 25, nullptr);
  mouse_x = 245, mouse_y = 330, mouse_b = 1;  // held on the frame line: no click
  EXPECT_EQ(b.Clicked(), 0) << "else Clicked would wait for the button's release";
  mouse_b = 0;
  b.ChangeName("A label far longer than the twenty-seven characters it can hold");
  EXPECT_STREQ(b.name, "A label far longer than the");
}

// The options' volumes: each setting reaches only its own sound. Effects are played at
// sound_volume by the sample's play volume, so the mixer's overall volume, which scales the
// music's voices too, must not follow it; the music follows music_volume through the engine.
class OptionsTest : public GameTest {
 protected:
  static void SetUpTestSuite() {
    TheResources();
    install_sound(DIGI_NONE, MIDI_NONE, nullptr);
  }
};

TEST_F(OptionsTest, EachVolumeFollowsOnlyItsOwnSetting) {
  // sound volume, music volume; the engine's volume after them
  const int cases[][3] = {{0, 200, 204}, {250, 0, 0}, {0, 0, 0}, {250, 250, 255}, {120, 10, 10}};
  for (auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "sound " << c[0] << ", music " << c[1]);
    sound_volume = c[0], music_volume = c[1];
    ApplyVolumes();
    int digi = -2, midi = -2;
    get_volume(&digi, &midi);
    EXPECT_EQ(digi, 255) << "the mixer's overall volume scales the music too: it stays at full";
    EXPECT_EQ(get_mod_volume(), c[2]);
  }
  sound_volume = music_volume = 200;
}

}  // namespace
}  // namespace testgame

// The player's folder follows the XDG rules; the datafiles are looked for beside the program and
// then in the two installed layouts, and when none holds them the usual installed place is named.
TEST(Folders, PlayerFolderAndDataFolder) {
  const struct {
    const char *xdg, *home, *want;
  } players[] = {{"/x/data", "/home/a", "/x/data/vorbel-endurnal"},
                 {"relative", "/home/a", "/home/a/.local/share/vorbel-endurnal"},
                 {"", "/home/a", "/home/a/.local/share/vorbel-endurnal"},
                 {nullptr, nullptr, ""}};
  for (const auto &p : players)
    EXPECT_EQ(PlayerFolder(p.xdg, p.home), p.want) << (p.xdg ? p.xdg : "unset");

  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("vorbel-folders-" + std::to_string(getpid()));
  const struct {
    const char *holder, *want;
  } layouts[] = {{"p/games", "p/games"},
                 {"p/share/games/vorbel-endurnal", "p/share/games/vorbel-endurnal"},
                 {"p/share/vorbel-endurnal", "p/share/vorbel-endurnal"},
                 {"p/share/elsewhere", "p/share/games/vorbel-endurnal"}};
  for (const auto &l : layouts) {
    fs::remove_all(root);
    fs::create_directories(root / "p/games");
    fs::create_directories(root / l.holder);
    std::ofstream(root / l.holder / "maps.dat") << "x";
    EXPECT_EQ(InstalledDataFolder((root / "p/games").string()), (root / l.want).string())
        << l.holder;
  }
  fs::remove_all(root);
}
