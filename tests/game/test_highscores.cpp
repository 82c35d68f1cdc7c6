// The high-score table: insertion at every rank with ties, the 420-byte file, a damaged file set
// aside, writes that fail (the old file stays whole, the table is kept for a later write) and the
// name entry's keys.
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "game_fixture.h"

namespace testgame {
namespace {

namespace fs = std::filesystem;

class HighScoreTest : public FileTest {
 protected:
  // The table holds `scores`, best first; entry i is named "e<i>", level i + 1, bugs 2i.
  static void Table(const std::vector<int> &scores) {
    for (int i = 0; i < NUM_HIGHSCORES; i++) {
      HighScores[i] = highscore_struct{scores[size_t(i)], i + 1, 2 * i, ""};
      snprintf(HighScores[i].name, sizeof HighScores[i].name, "e%d", i);
    }
  }
  static std::vector<int> Distinct() {  // 1500, 1400, ..., 100
    std::vector<int> s;
    for (int i = 0; i < NUM_HIGHSCORES; i++) s.push_back(1500 - 100 * i);
    return s;
  }
  static void Clear() {
    for (const auto &e : fs::directory_iterator(".")) fs::remove_all(e.path());
  }
};

TEST_F(HighScoreTest, InsertionAtEveryRankWithTies) {
  // A score just above entry k goes in at k; one equal to entry k just below it (k + 1); equal to
  // the last entry it does not qualify. Above the new entry nothing moves; below it every entry
  // is one place down, the last lost.
  const std::vector<int> distinct = Distinct();
  for (int k = 0; k < NUM_HIGHSCORES; k++) {
    for (int tie = 0; tie <= 1; tie++) {
      Table(distinct);
      const int score = distinct[size_t(k)] + (tie ? 0 : 50);
      const int want = tie ? (k == NUM_HIGHSCORES - 1 ? -1 : k + 1) : k;
      ASSERT_EQ(InsertHighScore(score, 7, 9), want) << "score " << score;
      for (int i = 0; i < NUM_HIGHSCORES; i++) {
        const int from = i < want || want < 0 ? i : i - 1;
        const highscore_struct &e = HighScores[i];
        EXPECT_EQ((std::tuple{e.score, e.level, e.bugs_eaten, std::string(e.name)}),
                  (i == want ? std::tuple{score, 7, 9, std::string()}
                             : std::tuple{distinct[size_t(from)], from + 1, 2 * from,
                                          "e" + std::to_string(from)}))
            << "score " << score << ", entry " << i;
      }
    }
  }
  // Runs of equal scores: a new 500 goes below both earlier 500s; a 50 below five 50s is last.
  Table({900, 500, 500, 100, 90, 80, 70, 60, 50, 40, 30, 20, 10, 5, 1});
  EXPECT_EQ(InsertHighScore(500, 1, 0), 3);
  Table({900, 800, 700, 600, 500, 400, 300, 200, 100, 50, 50, 50, 50, 50, 10});
  EXPECT_EQ(InsertHighScore(50, 1, 0), 14);
}

TEST_F(HighScoreTest, FileIsFifteenEntriesOf28BytesAndComesBackWhole) {
  Table({99999999, 1000000, 500, 6, 5, 5, 4, 3, 2, 1, 0, 0, 0, 0, 0});
  std::strcpy(HighScores[0].name, "Fifteen letters");
  ASSERT_TRUE(SaveHighScores());
  Bytes b = FileBytes("vorbel.hsc");
  ASSERT_EQ(b.size(), 420u);
  // score, level and bugs of the first entry, the second's score, the last's bugs; the name
  EXPECT_EQ((std::vector<int>{At32(b, 0), At32(b, 4), At32(b, 8), At32(b, 28), At32(b, 400)}),
            (std::vector<int>{99999999, 1, 0, 1000000, 28}));
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&b[12]), 16),
            std::string("Fifteen letters\0", 16));
  highscore_struct saved[NUM_HIGHSCORES];
  std::memcpy(saved, HighScores, sizeof saved);
  ResetHighScores();
  LoadHighScores();
  EXPECT_EQ(std::memcmp(saved, HighScores, sizeof saved), 0);
}

// A file that is not a table the game could have written is set aside under a new name (never
// deleted, never written over) and the defaults are used; a sound one is read as it is.
TEST_F(HighScoreTest, DamagedFileIsSetAsideAndTheDefaultsUsed) {
  auto put = [](Bytes &b, int entry, int field, int v) { Put32(b, 28 * entry + 4 * field, v); };
  struct Case {
    const char *what;
    std::function<void(Bytes &)> damage;
    bool aside;
  } cases[] = {
      {"a sound table", [](Bytes &) {}, false},
      {"a negative score", [&](Bytes &b) { put(b, 14, 0, -5); }, true},
      {"a ten-digit score", [&](Bytes &b) { put(b, 0, 0, 1234567890); }, true},
      {"unsorted scores", [&](Bytes &b) { put(b, 5, 0, 1450); }, true},
      {"level 0", [&](Bytes &b) { put(b, 3, 1, 0); }, true},
      {"a huge level", [&](Bytes &b) { put(b, 3, 1, 70000); }, true},
      {"negative bugs", [&](Bytes &b) { put(b, 7, 2, -1); }, true},
      {"a control character in a name", [](Bytes &b) { b[2 * 28 + 13] = 7; }, true},
      {"a name without its end", [](Bytes &b) { memset(&b[9 * 28 + 12], 'A', 16); }, true},
      {"a short file", [](Bytes &b) { b.resize(70); }, true},
      {"a long file", [](Bytes &b) { b.push_back(0); }, true},
      {"garbage",
       [](Bytes &b) {
         for (size_t i = 0; i < b.size(); i++) b[i] = uint8_t(i * 151 + 7);
       },
       true},
  };
  for (const Case &c : cases) {
    Clear();
    Table(Distinct());
    ASSERT_TRUE(SaveHighScores());
    Bytes bytes = FileBytes("vorbel.hsc");
    c.damage(bytes);
    WriteBytes("vorbel.hsc", bytes);
    std::ofstream("vorbel.hsc.damaged") << "older";  // an earlier one is never written over
    LoadHighScores();
    char why[96];
    EXPECT_TRUE(CheckHighScores(HighScores, why, sizeof why)) << c.what << ": " << why;
    EXPECT_EQ((std::tuple{std::string(HighScores[0].name), HighScores[0].score}),
              (c.aside ? std::tuple{std::string("Vorbel-Endurant"), 0} : std::tuple{"e0", 1500}))
        << c.what;
    EXPECT_EQ(fs::exists("vorbel.hsc"), !c.aside) << c.what;
    EXPECT_EQ(FileBytes("vorbel.hsc.damaged1"), c.aside ? bytes : Bytes()) << c.what;
    EXPECT_EQ(fs::file_size("vorbel.hsc.damaged"), 5u) << c.what;
  }
}

// A write cut off by the file-size limit (as a full disk or a crash would cut it) fails and the
// table on disk stays whole, with no scratch file beside it; a table that cannot be written at
// all (a folder holds its name) is kept in memory, and a later write, once the way is clear,
// stores it.
TEST_F(HighScoreTest, FailedWritesKeepTheOldFileAndTheTable) {
  Clear();
  Table(Distinct());
  ASSERT_TRUE(SaveHighScores());
  const Bytes old = FileBytes("vorbel.hsc");
  HighScores[0] = highscore_struct{7777, 2, 3, "kept"};
  struct rlimit before;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  sighandler_t was = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = before;
  small.rlim_cur = 200;  // the write stops inside the eighth entry
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
}

TEST_F(HighScoreTest, NameEntryKeys) {
  char name[256] = "";
  // clang-format off
  struct { int c, scancode, result; const char *name; } steps[] = {
      {8, KEY_BACKSPACE, NAME_IGNORED, ""},  // nothing to erase: no sound either
      {'A', KEY_A, NAME_TYPED, "A"},
      {' ', KEY_SPACE, NAME_TYPED, "A "},
      {'~', KEY_TILDE, NAME_TYPED, "A ~"},
      {31, KEY_F1, NAME_IGNORED, "A ~"},
      {127, KEY_DEL, NAME_IGNORED, "A ~"},
      {200, KEY_F2, NAME_IGNORED, "A ~"},
      {8, KEY_BACKSPACE, NAME_ERASED, "A "},
      {13, KEY_ENTER_PAD, NAME_IGNORED, "A "},  // only the main Enter ends the entry
      {13, KEY_ENTER, NAME_DONE, "A "},
  };
  // clang-format on
  for (const auto &s : steps) {
    EXPECT_EQ(NameKey(name, s.c, s.scancode, font), s.result) << s.name;
    EXPECT_STREQ(name, s.name);
  }
  // Fourteen characters at most: the fifteenth is not taken.
  name[0] = 0;
  for (int i = 0; i < 15; i++) NameKey(name, 'a' + i, KEY_A + i, font);
  EXPECT_STREQ(name, "abcdefghijklmn");
}

}  // namespace
}  // namespace testgame
