// The high-score table: insertion at every rank with ties, the 420-byte file, a damaged file set
// aside, writes that fail (the old file stays whole, the table is kept for a later write) and the
// name entry's keys.
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <functional>
#include <tuple>

#include "game_fixture.h"

namespace testgame {
namespace {

namespace fs = std::filesystem;

class HighScoreTest : public FileTest {
 protected:
  // The table holds `scores`, by default 1500, 1400, ..., 100; entry i is named "e<i>", level
  // i + 1, bugs 2i. The folder is emptied.
  static void Table(const std::vector<int> &scores = {}) {
    for (int i = 0; i < NUM_HIGHSCORES; i++) {
      int score = scores.empty() ? 1500 - 100 * i : scores[size_t(i)];
      HighScores[i] = highscore_struct{score, i + 1, 2 * i, ""};
      snprintf(HighScores[i].name, sizeof HighScores[i].name, "e%d", i);
    }
    for (const auto &e : fs::directory_iterator(".")) fs::remove_all(e.path());
  }
};

TEST_F(HighScoreTest, InsertionAtEveryRankWithTies) {
  // A score just above entry k goes in at k; one equal to entry k just below it (k + 1); equal to
  // the last entry it does not qualify. Above the new entry nothing moves; below it every entry
  // is one place down, the last lost.
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
    EXPECT_EQ((std::vector<int>{At32(bytes, 0), At32(bytes, 4), At32(bytes, 32), At32(bytes, 400)}),
              (std::vector<int>{99999999, 1, 2, 28}));
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

// A write cut off by the file-size limit (as a full disk or a crash would cut it) fails and the
// table on disk stays whole, with no scratch file beside it; a table that cannot be written at
// all (a folder holds its name) is kept in memory, and a later write, once the way is clear,
// stores it.
TEST_F(HighScoreTest, FailedWritesKeepTheOldFileAndTheTable) {
  Table();
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

// Printable characters are taken, fourteen at most; Backspace erases (nothing when the name is
// empty); only the main Enter ends the entry.
TEST_F(HighScoreTest, NameEntryKeys) {
  char name[256] = "";
  // clang-format off
  struct { int c, scancode, result; const char *name; } steps[] = {
      {8, KEY_BACKSPACE, NAME_IGNORED, ""},   {'A', KEY_A, NAME_TYPED, "A"},
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

}  // namespace
}  // namespace testgame
