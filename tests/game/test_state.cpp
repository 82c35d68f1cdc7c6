// The game's records and level-data rules: file layouts, cell codes, the grid's edges, the
// difficulty set-up, the random sequence and the high-score file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "Template.h"

namespace {

TEST(Layout, MapStructIsTheFileImage) {
  EXPECT_EQ(sizeof(map_struct), 1048u);
  EXPECT_EQ(offsetof(map_struct, bug_start_x), 2u);
  EXPECT_EQ(offsetof(map_struct, bug_start_y), 4u);
  EXPECT_EQ(offsetof(map_struct, vorbel_start_x), 6u);
  EXPECT_EQ(offsetof(map_struct, vorbel_start_y), 8u);
  EXPECT_EQ(offsetof(map_struct, bug_count), 10u);
  EXPECT_EQ(offsetof(map_struct, ball_count), 12u);
  EXPECT_EQ(offsetof(map_struct, bug_sprite), 14u);
  EXPECT_EQ(offsetof(map_struct, cells), 16u);
  EXPECT_EQ(offsetof(map_struct, points), 984u);
  // Column by column: cell (x, y) is at 16 + 2 * (22 * x + y).
  map_struct m{};
  m.cells[3][5] = 0x1234;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&m);
  EXPECT_EQ(bytes[16 + 2 * (22 * 3 + 5)], 0x34);
  EXPECT_EQ(bytes[16 + 2 * (22 * 3 + 5) + 1], 0x12);
}

TEST(Layout, HighScoreEntryIs28Bytes) {
  EXPECT_EQ(sizeof(highscore_struct), 28u);
  EXPECT_EQ(offsetof(highscore_struct, score), 0u);
  EXPECT_EQ(offsetof(highscore_struct, level), 4u);
  EXPECT_EQ(offsetof(highscore_struct, bugs_eaten), 8u);
  EXPECT_EQ(offsetof(highscore_struct, name), 12u);
  EXPECT_EQ(sizeof(HighScores), 420u);
  EXPECT_EQ(sizeof(actor_struct), 36u);
}

TEST(CellValue, CodesAndTheirEdges) {
  struct {
    int code, value;
  } cases[] = {
      {-5, 0},     {0, 0},      {1899, 0},   {1900, -1}, {1901, 1},   {1904, 4},   {1905, 5},
      {1908, 8},   {1999, 99},  {2000, -1},  {2001, 1},  {2099, 99},  {2100, -1},  {2101, 1},
      {2200, -1},  {2201, 1},   {2210, 10},  {2215, 15}, {2299, 99},  {2300, -1},  {2301, 1},
      {2305, 5},   {2399, 99},  {2400, -1},  {9999, -1}, {32767, -1},
  };
  for (auto c : cases) EXPECT_EQ(CellValue(c.code), c.value) << "code " << c.code;
}

TEST(CellValue, BuildKeepsColumnOrder) {
  static map_struct m{};
  for (auto& col : m.cells)
    for (auto& c : col) c = 2300;
  m.cells[2][7] = 1903;  // a ball at column 2, row 7 ...
  m.cells[7][2] = 5;     // ... and a wall at column 7, row 2
  gmap = &m;
  BuildCellValues();
  EXPECT_EQ(mapV[2][7], 3);
  EXPECT_EQ(mapV[7][2], 0);
  EXPECT_EQ(mapV[0][0], -1);
}

TEST(CellAt, OutsideTheGridWrapsToTheOppositeEdge) {
  for (int x = 0; x < MAP_W; x++)
    for (int y = 0; y < MAP_H; y++) mapV[x][y] = 100 * x + y;
  EXPECT_EQ(CellAt(5, 6), 506);
  EXPECT_EQ(CellAt(-1, 4), 2104);
  EXPECT_EQ(CellAt(22, 4), 4);
  EXPECT_EQ(CellAt(3, -1), 321);
  EXPECT_EQ(CellAt(3, 22), 300);
  EXPECT_EQ(CellAt(-23, 45), 2101);
}

TEST(NewGame, DifficultySetsLivesSpeedsAndSafetyTime) {
  struct {
    int level, lives, max_state, vspeed, bspeed;
  } cases[] = {{0, 5, 3000, 7, 14}, {1, 4, 2000, 10, 10}, {2, 3, 1000, 12, 7}};
  for (auto c : cases) {
    dif_level = c.level;
    vorbel.score = 1234;
    extra_life = 99;
    NewGameSetup();
    EXPECT_EQ(vorbel.lives, c.lives);
    EXPECT_EQ(max_bugs_state, c.max_state);
    EXPECT_EQ(vorbel_speed, c.vspeed);
    EXPECT_EQ(bug_speed, c.bspeed);
    EXPECT_EQ(vorbel.score, 0);
    EXPECT_EQ(extra_life, 0);
  }
  dif_level = 1;
}

TEST(Random, StaysInRangeAndReplaysFromTheStart) {
  // The generator is never seeded, so a fresh process yields the C library's default sequence.
  srand(1);
  std::vector<int> first;
  for (int i = 0; i < 1000; i++) {
    int r = Random(4);
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 3);
    first.push_back(r);
  }
  srand(1);
  for (int i = 0; i < 1000; i++) ASSERT_EQ(Random(4), first[size_t(i)]);
}

// High-score file handling runs in a scratch folder.
class HighScoreFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { install_allegro(SYSTEM_NONE, &errno, atexit); }
  void SetUp() override {
    char tmpl[] = "/tmp/vorbel-hsc-XXXXXX";
    dir = mkdtemp(tmpl);
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }
  void TearDown() override {
    unlink("vorbel.hsc");
    ASSERT_EQ(chdir("/"), 0);
    rmdir(dir.c_str());
  }
  void Write(const void* bytes, size_t n) {
    FILE* f = fopen("vorbel.hsc", "wb");
    fwrite(bytes, 1, n, f);
    fclose(f);
  }
  std::string dir;
};

TEST_F(HighScoreFile, MissingFileGivesFifteenDefaults) {
  LoadHighScores();
  for (const highscore_struct& e : HighScores) {
    EXPECT_EQ(e.score, 0);
    EXPECT_EQ(e.level, 1);
    EXPECT_EQ(e.bugs_eaten, 0);
    EXPECT_STREQ(e.name, "Vorbel-Endurant");
  }
  SaveHighScores();
  FILE* f = fopen("vorbel.hsc", "rb");
  ASSERT_NE(f, nullptr);
  fseek(f, 0, SEEK_END);
  EXPECT_EQ(ftell(f), 420);
  fclose(f);
}

TEST_F(HighScoreFile, RoundTripKeepsEveryEntry) {
  LoadHighScores();
  for (int i = 0; i < NUM_HIGHSCORES; i++) {
    HighScores[i].score = 1000 * (15 - i);
    HighScores[i].level = i + 1;
    snprintf(HighScores[i].name, sizeof HighScores[i].name, "player %d", i);
  }
  SaveHighScores();
  LoadHighScores();
  EXPECT_EQ(HighScores[0].score, 15000);
  EXPECT_EQ(HighScores[14].level, 15);
  EXPECT_STREQ(HighScores[7].name, "player 7");
}

TEST_F(HighScoreFile, ShortOrDamagedFileNeverBreaksTheTable) {
  unsigned char bytes[420];
  memset(bytes, 'A', sizeof bytes);  // names without any terminator, absurd numbers
  Write(bytes, 70);                  // two whole entries and part of a third
  LoadHighScores();
  EXPECT_EQ(strlen(HighScores[0].name), 15u);
  EXPECT_EQ(strlen(HighScores[1].name), 15u);
  EXPECT_EQ(HighScores[0].score, 0x41414141);
  EXPECT_STREQ(HighScores[2].name, "Vorbel-Endurant");  // the partial entry keeps its default
  EXPECT_EQ(HighScores[14].level, 1);

  memset(bytes, 0xFF, sizeof bytes);  // negative levels and counts
  Write(bytes, sizeof bytes);
  LoadHighScores();
  for (const highscore_struct& e : HighScores) {
    EXPECT_LT(strlen(e.name), 16u);
    EXPECT_GE(e.level, 1);
    EXPECT_GE(e.bugs_eaten, 0);
  }

  Write(bytes, 0);  // empty file
  LoadHighScores();
  EXPECT_STREQ(HighScores[0].name, "Vorbel-Endurant");
}

}  // namespace
