// The game's files: the high-score table and its name entry, saved games, custom maps and the
// level objects of maps.dat, each damaged or hostile file refused with nothing lost or changed.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <tuple>

#include "game_fixture.h"
#include "modux.h"

namespace testgame {
namespace {

namespace fs = std::filesystem;

class HighScoreTest : public FileTest {
 protected:
  // An empty folder; the table holds `scores` (1500, 1400, ..., 100), entry i "e<i>", i + 1, 2i.
  static void Table(const Ints &scores = {}) {
    for (int i = 0; i < NUM_HIGHSCORES; i++) {
      int score = scores.empty() ? 1500 - 100 * i : scores[size_t(i)];
      HighScores[i] = highscore_struct{score, i + 1, 2 * i, ""};
      snprintf(HighScores[i].name, sizeof HighScores[i].name, "e%d", i);
    }
    for (const auto &e : fs::directory_iterator(".")) fs::remove_all(e.path());
  }
};

TEST_F(HighScoreTest, InsertionAtEveryRankWithTies) {
  // A score just above entry k goes in at k, one equal to it at k + 1 (equal to the last: not at
  // all). Above the new entry nothing moves; below it every entry is one place down.
  for (int n = 0; n < 2 * NUM_HIGHSCORES; n++) {
    const int k = n / 2, tie = n % 2, score = 1500 - 100 * k + (tie ? 0 : 50);
    const int want = tie ? (k == NUM_HIGHSCORES - 1 ? -1 : k + 1) : k;
    Table();
    ASSERT_EQ(InsertHighScore(score, 7, 9), want) << "score " << score;
    for (int i = 0; i < NUM_HIGHSCORES; i++) {
      const int from = i < want || want < 0 ? i : i - 1;
      const highscore_struct &e = HighScores[i];
      EXPECT_EQ((std::tuple{e.score, e.level, e.bugs_eaten, std::string(e.name)}),
                (i == want ? std::tuple{score, 7, 9, std::string()}
                           : std::tuple{1500 - 100 * from, from + 1, 2 * from,
                                        "e" + std::to_string(from)}))
          << "score " << score << ", entry " << i;
    }
  }
  // Runs of equal scores: a new 500 goes below both earlier 500s; a 50 below five 50s is last.
  Table({900, 500, 500, 100, 90, 80, 70, 60, 50, 40, 30, 20, 10, 5, 1});
  EXPECT_EQ(InsertHighScore(500, 1, 0), 3);
  Table({900, 800, 700, 600, 500, 400, 300, 200, 100, 50, 50, 50, 50, 50, 10});
  EXPECT_EQ(InsertHighScore(50, 1, 0), 14);
}

// The file is 15 entries of 28 bytes (score, level, bugs, a 16-byte name). One that is not a
// table the game could have written is set aside under a new name (never deleted, never written
// over) and the defaults are used; a sound one comes back whole.
TEST_F(HighScoreTest, FileComesBackWholeOrIsSetAside) {
  auto put = [](int entry, int field, int v) {
    return [=](Bytes &b) { Put32(b, 28 * size_t(entry) + 4 * size_t(field), v); };
  };
  // clang-format off
  const std::pair<const char *, std::function<void(Bytes &)>> cases[] = {
      {"a sound table", [](Bytes &) {}},
      {"a negative score", put(14, 0, -5)},  {"a ten-digit score", put(0, 0, 1234567890)},
      {"unsorted scores", put(5, 0, 1450)},  {"level 0", put(3, 1, 0)},
      {"a huge level", put(3, 1, 70000)},    {"negative bugs", put(7, 2, -1)},
      {"a control character in a name", [](Bytes &b) { b[2 * 28 + 13] = 7; }},
      {"a name without its end", [](Bytes &b) { memset(&b[9 * 28 + 12], 'A', 16); }},
      {"a short file", [](Bytes &b) { b.resize(70); }},
      {"a long file", [](Bytes &b) { b.push_back(0); }},
      {"garbage", [](Bytes &b) { for (size_t i = 0; i < b.size(); i++) b[i] = uint8_t(i * 151 + 7); }},
  };
  // clang-format on
  for (const auto &[what, damage] : cases) {
    const bool aside = what != cases[0].first;
    Table({99999999, 1000000, 500, 6, 5, 5, 4, 3, 2, 1, 0, 0, 0, 0, 0});
    std::strcpy(HighScores[0].name, "Fifteen letters");
    highscore_struct saved[NUM_HIGHSCORES];
    std::memcpy(saved, HighScores, sizeof saved);
    ASSERT_TRUE(SaveHighScores());
    Bytes bytes = FileBytes("vorbel.hsc");
    ASSERT_EQ(bytes.size(), 420u);
    EXPECT_EQ((Ints{At32(bytes, 0), At32(bytes, 4), At32(bytes, 32), At32(bytes, 400)}),
              (Ints{99999999, 1, 2, 28}));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&bytes[12]), 16),
              std::string("Fifteen letters\0", 16));
    damage(bytes);
    WriteBytes("vorbel.hsc", bytes);
    std::ofstream("vorbel.hsc.damaged") << "older";  // an earlier one is never written over
    ResetHighScores();
    LoadHighScores();
    char why[96];
    EXPECT_TRUE(CheckHighScores(HighScores, why, sizeof why)) << what << ": " << why;
    EXPECT_EQ(std::memcmp(saved, HighScores, sizeof saved) == 0, !aside) << what;
    EXPECT_EQ(std::string(HighScores[0].name), aside ? "Vorbel-Endurant" : "Fifteen letters");
    EXPECT_EQ(fs::exists("vorbel.hsc"), !aside) << what;
    EXPECT_EQ(FileBytes("vorbel.hsc.damaged1"), aside ? bytes : Bytes()) << what;
    EXPECT_EQ(fs::file_size("vorbel.hsc.damaged"), 5u) << what;
  }
}

// A write cut off by the file-size limit (as a full disk or a crash would cut it) fails, leaving
// the table on disk whole and no scratch file; a table that cannot be written at all (a folder
// holds its name) is kept in memory, and a later write, once the way is clear, stores it. F10's
// picture too is written whole or not at all.
TEST_F(HighScoreTest, FailedWritesKeepTheOldFileAndTheTable) {
  Table();
  ASSERT_TRUE(SaveHighScores());
  const Bytes old = FileBytes("vorbel.hsc");
  HighScores[0] = highscore_struct{7777, 2, 3, "kept"};
  struct rlimit before, small;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  sighandler_t was = signal(SIGXFSZ, SIG_IGN);
  small = before, small.rlim_cur = 200;  // the write stops inside the eighth entry
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int written = SaveHighScores();
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, was);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(FileBytes("vorbel.hsc"), old);
  EXPECT_FALSE(fs::exists("vorbel.hsc.new"));

  fs::remove("vorbel.hsc");
  fs::create_directory("vorbel.hsc");
  EXPECT_EQ(StoreHighScores(), 0);
  EXPECT_EQ(HighScores[0].score, 7777);
  fs::remove("vorbel.hsc");
  EXPECT_TRUE(StoreHighScores());
  ResetHighScores();
  LoadHighScores();
  EXPECT_EQ((std::tuple{HighScores[0].score, std::string(HighScores[0].name)}),
            (std::tuple{7777, std::string("kept")}));
  // F10's picture likewise: a scratch name taken by a folder leaves the old picture as it was.
  std::ofstream("vorbel.pcx") << "old";
  fs::create_directory("vorbel.pcx.new");
  EXPECT_EQ(ScreenShot(), 0);
  EXPECT_EQ(FileBytes("vorbel.pcx"), (Bytes{'o', 'l', 'd'}));
  fs::remove("vorbel.pcx.new");
  EXPECT_EQ(ScreenShot(), -1);
  EXPECT_GT(FileBytes("vorbel.pcx").size(), 128u + 480u) << "a PCX of the whole screen";
}

// Printable characters are taken, fourteen at most; Backspace erases (nothing when the name is
// empty); only the main Enter ends the entry.
TEST_F(HighScoreTest, NameEntryKeys) {
  char name[256] = "";
  // clang-format off
  struct { int c, scancode, result; const char *name; } steps[] = {
      {8, KEY_BACKSPACE, NAME_IGNORED, ""},   {' ', KEY_SPACE, NAME_IGNORED, ""},
      {'A', KEY_A, NAME_TYPED, "A"},
      {' ', KEY_SPACE, NAME_TYPED, "A "},     {'~', KEY_TILDE, NAME_TYPED, "A ~"},
      {31, KEY_F1, NAME_IGNORED, "A ~"},      {127, KEY_DEL, NAME_IGNORED, "A ~"},
      {200, KEY_F2, NAME_IGNORED, "A ~"},     {8, KEY_BACKSPACE, NAME_ERASED, "A "},
      {13, KEY_ENTER_PAD, NAME_IGNORED, "A "}, {13, KEY_ENTER, NAME_DONE, "A "},
  };
  // clang-format on
  for (const auto &s : steps) {
    EXPECT_EQ(NameKey(name, s.c, s.scancode, font), s.result) << s.name;
    EXPECT_STREQ(name, s.name);
  }
  name[0] = 0;
  for (int i = 0; i < 15; i++) NameKey(name, 'a' + i, KEY_A + i, font);
  EXPECT_STREQ(name, "abcdefghijklmn");
}

void Put16(Bytes &b, size_t off, int v) { b[off] = uint8_t(v), b[off + 1] = uint8_t(v >> 8); }

// A playable map: the edge ring walls, balls everywhere else but on the two start cells.
map_struct Playable() {
  // bugs' and vorbel's start cells, bugs, balls, bug picture
  map_struct m{0, 10, 10, 5, 5, 2, 20 * 20 - 2, 3, {}, {}};
  for (int x = 0; x < MAP_W; x++)
    for (int y = 0; y < MAP_H; y++) m.cells[x][y] = int16_t(x % 21 && y % 21 ? kBall : 5);
  m.cells[5][5] = m.cells[10][10] = kFloor;
  for (int k = 0; k < 32; k++) m.points[k] = int16_t(k + 1);
  return m;
}

Bytes MapBytes(const map_struct &m) {
  Bytes b(sizeof(map_struct));
  MapToBytes(&m, b.data());
  return b;
}

class SaveTest : public FileTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    level = Playable();
    gmap = &level;
    BuildCellValues();
  }
};

// A saved game brings the vorbel and the map block back and leaves the level's progress alone (a
// step in progress belongs to the old position); one short, damaged or hostile is refused with
// nothing changed.
TEST_F(SaveTest, SavesComeBackWholeOrAreRefusedWithNothingChanged) {
  map = Playable();
  vorbel = actor_struct{100, 45, 3, 4, 2, SPR_VORBEL_UP, 0x01020304, 6, 3};
  const actor_struct saved = vorbel;
  ASSERT_TRUE(WriteSavedGame("good.svg"));
  const Bytes good = FileBytes("good.svg");
  ASSERT_EQ(good.size(), 1164u);
  EXPECT_EQ(Bytes(good.begin() + 72, good.begin() + 1120), MapBytes(map));
  vorbel = actor_struct{200, 200, 0, 0, 0, SPR_VORBEL_RIGHT, 99999, 10, 1};
  map = map_struct{};
  current_map_played = 4, num_balls = 17, mapV[3][3] = -1;
  // Both copies of a position field at once.
  auto both = [](size_t field, int v) {
    return [=](Bytes &b) { Put32(b, 4 * field, v), Put32(b, 52 + 4 * field, v); };
  };
  auto field = [](size_t k, int v) { return [=](Bytes &b) { Put32(b, 4 * k, v); }; };
  auto map16 = [](size_t off, int v) { return [=](Bytes &b) { Put16(b, 72 + off, v); }; };
  // clang-format off
  struct { const char *what; std::function<void(Bytes &)> change; const char *reason; } cases[] = {
      {"one byte short", [](Bytes &b) { b.resize(1163); }, "not a saved game"},
      {"one byte long", [](Bytes &b) { b.push_back(0); }, "not a saved game"},
      {"trailer damaged", [](Bytes &b) { b[1130] ^= 1; }, "not a saved game of"},
      {"garbage", [](Bytes &b) { for (size_t i = 0; i < b.size(); i++) b[i] = uint8_t(i * 151 + 7); }, "not a saved game of"},
      {"no lives", field(8, 0), "lives"},
      {"negative score", field(6, -1), "score"},
      {"a score near the end of the range", field(6, 2147483600), "score"},
      {"bugs eaten near the end of the range", field(7, 2147483647), "bugs eaten"},
      {"a bug's picture for the vorbel", field(5, 3), "picture"},
      {"a picture past the datafile", field(5, 5000), "picture"},
      {"off the 5-pixel lattice", both(0, 102), "off the maze"},
      {"left of the maze", both(0, -20), "off the maze"},
      {"right of the maze", both(0, 440), "off the maze"},
      {"below the maze", both(1, 100000), "off the maze"},
      {"the copy that is read between cells", [](Bytes &b) { Put32(b, 52, 105), Put32(b, 56, 45); }, "off the maze"},
      {"the copy that is read inside a wall", [](Bytes &b) { Put32(b, 52, 0), Put32(b, 56, 100); }, "on a wall"},
      {"a map block with a code past the tables", map16(16 + 2 * 30, 2400), "map is damaged"},
      {"a map block with a bug picture past the bug pictures", map16(14, SPR_BUG_COUNT), "map is damaged"},
  };
  // clang-format on
  auto refused = [](const Bytes &b, const char *what, const char *reason) {
    WriteBytes("bad.svg", b);
    vorbel_move_direction = 3;
    const actor_struct v = vorbel;
    const map_struct m = map;
    char why[120] = "";  // the alert's second line
    EXPECT_EQ(ReadSavedGame("bad.svg", why, sizeof why), 0) << what;
    EXPECT_NE(std::string(why).find(reason), std::string::npos) << what << ": " << why;
    EXPECT_TRUE(!std::memcmp(&v, &vorbel, sizeof v) && !std::memcmp(&m, &map, sizeof m) &&
                vorbel_move_direction == 3)
        << what << ": the game changed";
  };
  for (const auto &c : cases) {
    Bytes b = good;
    c.change(b);
    refused(b, c.what, c.reason);
  }
  vorbel_move_direction = 2;
  ASSERT_TRUE(ReadSavedGame("good.svg")) << "the file every case damages loads as it is";
  EXPECT_EQ(std::memcmp(&vorbel, &saved, sizeof saved), 0);
  EXPECT_EQ(MapBytes(map), MapBytes(Playable()));
  EXPECT_EQ((Ints{vorbel_move_direction, current_map_played, num_balls, mapV[3][3]}),
            (Ints{0, 4, 17, -1}));
  // In a custom game the block becomes the map in play: a level-list game's block of zeros would
  // wall it up, another version of the map be drawn while collisions follow the map in play.
  gmap = &map;
  BuildCellValues();
  Bytes zeros = good, other = good;
  std::fill(zeros.begin() + 72, zeros.begin() + 1120, 0);
  Put16(other, 72 + 16 + 2 * (MAP_H * 3 + 3), kWall);  // cell (3, 3)
  refused(zeros, "a block of zeros", "it was saved on another map than this one");
  refused(other, "another version of the map", "it was saved on another map than this one");
  EXPECT_TRUE(ReadSavedGame("good.svg")) << "a custom game's save of its own map";
}

// Custom maps are read whole, exactly 1048 bytes, and every map from outside goes through one
// map check; a refused custom map leaves the map it was to fill alone.
TEST_F(SaveTest, OneMapCheckForEveryMapFromOutside) {
  const map_struct good = Playable();
  Bytes longer = MapBytes(good);
  WriteBytes("good.map", longer);
  map_struct read{};
  ASSERT_TRUE(ReadCustomMap("good.map", &read));
  EXPECT_EQ(std::memcmp(&read, &good, sizeof read), 0);
  longer.push_back(0);
  auto refused = [](const Bytes &b, const std::string &what, const char *reason = "") {
    WriteBytes("bad.map", b);
    map_struct out = Playable();
    out.points[0] = 777;
    const map_struct before = out;
    char why[120] = "";
    EXPECT_EQ(ReadCustomMap("bad.map", &out, why, sizeof why), 0) << what;
    EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0) << what;
    EXPECT_NE(std::string(why).find(reason), std::string::npos) << what << ": " << why;
  };
  refused({}, "empty", "it is not a map file (0 bytes, a map has 1048)");
  refused(longer, "longer", "it is not a map file (longer than 1048 bytes)");
  char why[80];
  ASSERT_EQ(mkfifo("fifo.map", 0600), 0);  // never opened: it would block
  EXPECT_EQ(ReadCustomMap("fifo.map", &read, why, sizeof why), 0);
  EXPECT_STREQ(why, "it cannot be opened: it is a FIFO, not a file");
  refused(Bytes(longer.begin(), longer.begin() + 1047), "short",
          "it is not a map file (1047 bytes");
  using M = map_struct &;
  // clang-format off
  const std::pair<void (*)(M), const char *> cases[] = {
      {[](M m) { m.cells[3][4] = -1; }, "cell (3, 4) has the code -1, outside 0 to 2399"},
      {[](M m) { m.cells[21][21] = 2400; }, "cell (21, 21) has the code 2400"},
      {[](M m) { m.vorbel_start_x = 0; }, "the vorbel's start cell (0, 5) is outside the playfield"},
      {[](M m) { m.bug_start_y = 21; }, "the bugs' start cell (10, 21) is outside"},
      {[](M m) { m.cells[5][5] = 1899; }, "the vorbel's start cell (5, 5) is a wall"},
      {[](M m) { m.bug_start_x = m.bug_start_y = 5; }, "start on the same cell (5, 5)"},
      {[](M m) { m.bug_count = 21; }, "the bug count 21 is outside 0 to 20"},
      {[](M m) { m.bug_count = -1; }, "the bug count -1"},
      {[](M m) { m.bug_sprite = SPR_BUG_COUNT; }, "the bug picture 28 is not one of the 28 bug pictures"},
      // Bug pictures end where the datafile ends, if it holds fewer than the vorbel's first.
      {[](M m) { m.bug_sprite = 20, num_sprites = 20; }, "the bug picture 20 is not one of the 20"},
      {[](M m) { m.bug_sprite = -1; }, "the bug picture -1"},
      {[](M m) { m.points[31] = -32768; }, "the points -32768 of the cell value 32 are below 0"},
      {[](M m) { m.ball_count = 0; }, "the ball count 0"},
      {[](M m) { m.ball_count = 399; }, "the ball count 399 does not fit the 398 balls"},
      // A ball in column 21 is passed, never eaten: it does not count.
      {[](M m) { m.cells[21][7] = 1901, m.ball_count = 399; }, "does not fit the 398 balls"},
  };
  // clang-format on
  for (const auto &[change, reason] : cases) {
    map_struct m = Playable();
    change(m);
    refused(MapBytes(m), reason, reason);
    num_sprites = kNumSprites;
  }
}

// maps.dat: only raw data objects of a map's size that pass the map check.
TEST_F(SaveTest, StartUpChecksTheLevelObjects) {
  map_struct good = Playable(), bad = Playable();
  bad.bug_sprite = 99;
  const DATAFILE end{nullptr, DAT_END, 0, nullptr};
  auto data = [](map_struct &m, long size) { return DATAFILE{&m, DAT_DATA, size, nullptr}; };
  const DATAFILE image{&good, DAT_BITMAP, 1048, nullptr}, song{&good, DAT_MUX, 1048, nullptr};
  // clang-format off
  const std::pair<std::vector<DATAFILE>, const char *> cases[] = {
      {{data(good, 1048), data(good, 1048), end}, ""},
      {{end}, "File maps.dat is damaged: it holds no level map"},
      {{data(good, 1048), image, end}, "File maps.dat is damaged: object 1 is not a level map"},
      {{song, end}, "object 0 is not a level map"},
      {{data(good, 1047), end}, "object 0 is not a level map"},
      {{data(good, 1048), data(bad, 1048), end}, "File maps.dat is damaged: level 2: the bug picture 99"},
  };
  // clang-format on
  for (const auto &[objects, why] : cases) {
    std::vector<DATAFILE> d = objects;
    char got[200] = "";
    EXPECT_EQ(CheckLevelData(d.data(), got, sizeof got), *why ? 0 : -1) << why;
    EXPECT_NE(std::string(got).find(why), std::string::npos) << got;
  }
}

// Paths far past every buffer: nothing overflows, nothing changes, the files are not there; the
// name the next save offers is the file part of the path, cut to its buffer.
TEST_F(SaveTest, LongPathsAndNames) {
  const std::string huge(5000, 'x');
  map_struct out{};
  const actor_struct v = vorbel;
  EXPECT_EQ(ReadSavedGame(huge.c_str()), 0);
  EXPECT_EQ(ReadCustomMap(huge.c_str(), &out), 0);
  EXPECT_EQ(WriteSavedGame(huge.c_str()), 0);
  EXPECT_EQ(std::memcmp(&v, &vorbel, sizeof v), 0);
  RememberGameName(("/some/folder/" + huge).c_str());
  EXPECT_EQ(std::strlen(current_game_name), sizeof current_game_name - 1);
  RememberGameName("/some/folder/a");
  EXPECT_STREQ(current_game_name, "a");
}

}  // namespace
}  // namespace testgame
