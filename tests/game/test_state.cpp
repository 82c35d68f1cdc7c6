// Level-data rules (cell codes, the grid's edges, difficulty, the random sequence, the high-score
// file) and the menu button.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include "game_fixture.h"

namespace testgame {
namespace {

using StateTest = GameTest;

TEST_F(StateTest, CellValuesAndTheGridEdges) {
  const int cases[][2] = {{-5, 0},    {0, 0},     {1899, 0},  {1900, -1}, {1901, 1},   {1908, 8},  {1999, 99},
                          {2000, -1}, {2001, 1},  {2099, 99}, {2100, -1}, {2101, 1},   {2200, -1}, {2201, 1},
                          {2215, 15}, {2299, 99}, {2300, -1}, {2301, 1},  {2399, 99},  {2400, -1}, {32767, -1}};
  for (auto& c : cases) EXPECT_EQ(CellValue(c[0]), c[1]) << "code " << c[0];
  Cell(2, 7, 1903);
  EXPECT_EQ(mapV[2][7], 3);
  EXPECT_EQ(mapV[7][2], 0);
  // Outside the grid is the cell on the opposite edge.
  for (int x = 0; x < MAP_W; x++)
    for (int y = 0; y < MAP_H; y++) mapV[x][y] = 100 * x + y;
  const int at[][3] = {{5, 6, 506}, {-1, 4, 2104}, {22, 4, 4}, {3, -1, 321}, {3, 22, 300}, {-23, 45, 2101}};
  for (auto& c : at) EXPECT_EQ(CellAt(c[0], c[1]), c[2]) << c[0] << "," << c[1];
}

TEST(NewGame, DifficultySetsLivesSpeedsAndSafetyTime) {
  const int cases[][5] = {{0, 5, 3000, 7, 14}, {1, 4, 2000, 10, 10}, {2, 3, 1000, 12, 7}};
  for (auto& c : cases) {
    dif_level = c[0];
    vorbel.score = extra_life = vorbel.bugs_eaten = state_timer = 99;  // the last game's
    vorbel_move_direction = 3;
    NewGameSetup();
    EXPECT_EQ((std::vector<int>{vorbel.lives, max_bugs_state, vorbel_speed, bug_speed, vorbel.score, extra_life,
                                vorbel.bugs_eaten, state_timer, vorbel_move_direction}),
              (std::vector<int>{c[1], c[2], c[3], c[4], 0, 0, 0, 0, 0}));
  }
}

TEST(Random, CoversItsRangeAndReplays) {
  std::vector<int> first;
  srand(1);
  for (int i = 0; i < 1000; i++) first.push_back(Random(4));
  EXPECT_EQ(*std::min_element(first.begin(), first.end()), 0);
  EXPECT_EQ(*std::max_element(first.begin(), first.end()), 3);
  srand(1);
  for (int r : first) ASSERT_EQ(Random(4), r);
}

// The table's file lives in the working folder: these tests run in a scratch one.
using HighScoreFile = FileTest;

// A file that is not a table the game could have written is set aside under a new name (never
// deleted, never written over) and the defaults are used; a sound one is read as it is.
TEST_F(HighScoreFile, DamagedFileIsSetAsideAndTheDefaultsUsed) {
  auto put32 = [](std::string& b, size_t at, int32_t v) { memcpy(&b[at], &v, 4); };
  auto sound = [&] {  // scores 1500, 1400 .. 100; levels 1..15; bugs 0..14; names "p"
    std::string b(420, '\0');
    for (int i = 0; i < 15; i++) put32(b, 28 * i, 100 * (15 - i)), put32(b, 28 * i + 4, i + 1), put32(b, 28 * i + 8, i), b[28 * i + 12] = 'p';
    return b;
  };
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    bool aside;
  } cases[] = {
      {"a sound table", [](std::string&) {}, false},
      {"a negative score", [&](std::string& b) { put32(b, 14 * 28, -5); }, true},
      {"a ten-digit score", [&](std::string& b) { put32(b, 0, 1234567890); }, true},
      {"unsorted scores", [&](std::string& b) { put32(b, 5 * 28, 1450); }, true},
      {"level 0", [&](std::string& b) { put32(b, 3 * 28 + 4, 0); }, true},
      {"a huge level", [&](std::string& b) { put32(b, 3 * 28 + 4, 70000); }, true},
      {"negative bugs", [&](std::string& b) { put32(b, 7 * 28 + 8, -1); }, true},
      {"a control character in a name", [](std::string& b) { b[2 * 28 + 13] = '\x07'; }, true},
      {"a name without its end", [](std::string& b) { memset(&b[9 * 28 + 12], 'A', 16); }, true},
      {"a short file", [](std::string& b) { b.resize(70); }, true},
      {"a long file", [](std::string& b) { b.push_back(0); }, true},
      {"garbage", [](std::string& b) { for (size_t i = 0; i < b.size(); i++) b[i] = char(i * 151 + 7); }, true},
  };
  for (const Case& c : cases) {
    for (const auto& e : std::filesystem::directory_iterator(".")) std::filesystem::remove_all(e.path());
    std::string bytes = sound();
    c.damage(bytes);
    std::ofstream("vorbel.hsc.damaged").write("older", 5);  // an earlier one is never written over
    std::ofstream("vorbel.hsc", std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    LoadHighScores();
    char why[96];
    EXPECT_TRUE(CheckHighScores(HighScores, why, sizeof why)) << c.what << ": " << why;
    EXPECT_EQ(std::string(HighScores[0].name), c.aside ? "Vorbel-Endurant" : "p") << c.what;
    EXPECT_EQ(HighScores[0].score, c.aside ? 0 : 1500) << c.what;
    EXPECT_EQ(std::filesystem::exists("vorbel.hsc"), !c.aside) << c.what;
    EXPECT_EQ(std::filesystem::exists("vorbel.hsc.damaged1"), c.aside) << c.what;
    if (c.aside) {
      EXPECT_EQ(std::filesystem::file_size("vorbel.hsc.damaged1"), bytes.size()) << c.what;
    }
    EXPECT_EQ(std::filesystem::file_size("vorbel.hsc.damaged"), 5u) << c.what;
  }
}

// A table that cannot be written (here a folder holds its name) is kept in memory, and a later
// write, once the way is clear, stores it.
TEST_F(HighScoreFile, AFailedWriteKeepsTheTableForALaterOne) {
  for (const auto& e : std::filesystem::directory_iterator(".")) std::filesystem::remove_all(e.path());
  std::filesystem::create_directory("vorbel.hsc");
  ResetHighScores();
  HighScores[0] = highscore_struct{777, 2, 3, "kept"};
  EXPECT_EQ(StoreHighScores(), 0);
  EXPECT_EQ(HighScores[0].score, 777);
  std::filesystem::remove("vorbel.hsc");
  EXPECT_TRUE(StoreHighScores());
  ResetHighScores();
  LoadHighScores();
  EXPECT_EQ((std::tuple{HighScores[0].score, std::string(HighScores[0].name)}), (std::tuple{777, std::string("kept")}));
}

TEST_F(StateTest, MouseInBoxExcludesTheEdges) {
  const int cases[][3] = {{10, 20, 0}, {11, 21, -1}, {49, 59, -1}, {10, 40, 0}, {50, 40, 0},
                          {30, 60, 0}, {30, 20, 0},  {9, 40, 0},   {30, 40, -1}};
  for (auto& c : cases) {
    mouse_x = c[0], mouse_y = c[1];
    EXPECT_EQ(mouseinbox(10, 20, 50, 60), c[2]) << c[0] << "," << c[1];
  }
  Button b(nullptr, 245, 320, 385, 345, 15, 25, nullptr);
  mouse_x = 245, mouse_y = 330, mouse_b = 1;  // held on the frame line: no click
  ASSERT_EQ(mouseinbox(245, 320, 385, 345), 0) << "else Clicked would wait for the button's release";
  EXPECT_EQ(b.Clicked(), 0);
  mouse_b = 0;
  EXPECT_STREQ(b.name, "");
  b.ChangeName("A label far longer than the twenty-seven characters it can hold");
  EXPECT_STREQ(b.name, "A label far longer than the");
}

TEST_F(StateTest, ButtonFaces) {
  Button label("Go", 100, 100, 200, 130, 15, 25, nullptr);
  label.DrawButton();
  EXPECT_EQ(getpixel(screen, 101, 100), 25);  // raised: top line in color2, bottom in color1
  EXPECT_EQ(getpixel(screen, 101, 130), 15);
  EXPECT_EQ(getpixel(screen, 105, 104), 1);  // face fill
  BITMAP* pic = create_bitmap(30, 30);
  clear_to_color(pic, 77);
  Button arrow(nullptr, 300, 100, 330, 130, 15, 25, pic);
  arrow.DrawButton();
  EXPECT_EQ(getpixel(screen, 310, 110), 77);
  EXPECT_EQ(getpixel(screen, 300, 110), 25);  // the frame over the picture
  arrow.pressed = -1;
  arrow.DrawButton();
  EXPECT_EQ(getpixel(screen, 300, 110), 15);  // sunken: left line in color1
  destroy_bitmap(pic);
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
  for (const auto& p : players) EXPECT_EQ(PlayerFolder(p.xdg, p.home), p.want) << (p.xdg ? p.xdg : "unset");

  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("vorbel-folders-" + std::to_string(getpid()));
  const struct {
    const char *holder, *want;
  } layouts[] = {{"p/games", "p/games"},
                 {"p/share/games/vorbel-endurnal", "p/share/games/vorbel-endurnal"},
                 {"p/share/vorbel-endurnal", "p/share/vorbel-endurnal"},
                 {"p/share/elsewhere", "p/share/games/vorbel-endurnal"}};
  for (const auto& l : layouts) {
    fs::remove_all(root);
    fs::create_directories(root / "p/games");
    fs::create_directories(root / l.holder);
    std::ofstream(root / l.holder / "maps.dat") << "x";
    EXPECT_EQ(InstalledDataFolder((root / "p/games").string()), (root / l.want).string()) << l.holder;
  }
  fs::remove_all(root);
}
