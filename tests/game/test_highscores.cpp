// The high-score table: insertion at every rank with ties, the 420-byte file byte for byte, the
// safe write (a write that fails half-way leaves the old file whole), the name entry's keys, and
// names cut to the screens they are drawn on.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "game_fixture.h"

namespace testgame {
namespace {

class HighScoreTest : public FileTest {
 protected:
  // The table holds `scores`, best first; entry i is named "e<i>".
  static void Table(const std::vector<int>& scores) {
    for (int i = 0; i < NUM_HIGHSCORES; i++) {
      HighScores[i] = highscore_struct{scores[size_t(i)], i + 1, 2 * i, ""};
      snprintf(HighScores[i].name, sizeof HighScores[i].name, "e%d", i);
    }
  }

  static std::string Names() {
    std::string s;
    for (const highscore_struct& e : HighScores) s += std::string(e.name) + " ";
    return s;
  }
};

// Names after an insertion at `rank` into a table of 15 named e0..e14: the new entry is empty.
std::string NamesAfter(int rank) {
  std::string s;
  for (int i = 0, from = 0; i < NUM_HIGHSCORES; i++) s += (i == rank ? std::string() : "e" + std::to_string(from++)) + " ";
  return s;
}

TEST_F(HighScoreTest, InsertionAtEveryRankWithTies) {
  // Distinct scores 1500, 1400, ..., 100: a score just above entry k goes in at k; one equal to
  // entry k goes in just below it (k + 1); equal to the last entry does not qualify. Above the
  // new entry nothing moves; below it every entry is one place down, the last lost.
  std::vector<int> distinct;
  for (int i = 0; i < NUM_HIGHSCORES; i++) distinct.push_back(1500 - 100 * i);
  for (int k = 0; k < NUM_HIGHSCORES; k++) {
    for (int tie = 0; tie <= 1; tie++) {
      Table(distinct);
      const int score = distinct[size_t(k)] + (tie ? 0 : 50);
      const int want = tie ? (k == NUM_HIGHSCORES - 1 ? -1 : k + 1) : k;
      ASSERT_EQ(InsertHighScore(score, 7, 9), want) << "score " << score;
      EXPECT_EQ(Names(), NamesAfter(want)) << "score " << score;
      for (int i = 0; i < NUM_HIGHSCORES; i++) {
        const int from = i < want || want < 0 ? i : i - 1;
        const highscore_struct& e = HighScores[i];
        EXPECT_EQ((std::tuple{e.score, e.level, e.bugs_eaten}),
                  (i == want ? std::tuple{score, 7, 9} : std::tuple{distinct[size_t(from)], from + 1, 2 * from})) << i;
      }
    }
  }
  // Runs of equal scores: a new 500 goes below both earlier 500s; a 50 below five 50s is last.
  Table({900, 500, 500, 100, 90, 80, 70, 60, 50, 40, 30, 20, 10, 5, 1});
  EXPECT_EQ(InsertHighScore(500, 1, 0), 3);
  EXPECT_EQ(Names(), NamesAfter(3));
  Table({900, 800, 700, 600, 500, 400, 300, 200, 100, 50, 50, 50, 50, 50, 10});
  EXPECT_EQ(InsertHighScore(50, 1, 0), 14);
  EXPECT_EQ(Names(), NamesAfter(14));
}

TEST_F(HighScoreTest, FileIsFifteenEntriesOf28BytesAndComesBackWhole) {
  Table({99999999, 1000000, 500, 6, 5, 5, 4, 3, 2, 1, 0, 0, 0, 0, 0});
  std::strcpy(HighScores[0].name, "Fifteen letters");
  HighScores[1].level = 12;
  HighScores[1].bugs_eaten = 345;
  ASSERT_TRUE(SaveHighScores());
  std::vector<unsigned char> b = FileBytes("vorbel.hsc");
  ASSERT_EQ(b.size(), 420u);
  auto at32 = [&](size_t off) { return int32_t(b[off] | b[off + 1] << 8 | b[off + 2] << 16 | uint32_t(b[off + 3]) << 24); };
  const std::pair<size_t, int> numbers[] = {{0, 99999999}, {4, 1}, {8, 0}, {28, 1000000}, {32, 12}, {36, 345},
                                            {4 * 28, 5},     {4 * 28 + 4, 5}, {14 * 28 + 8, 28}};
  for (const auto& [off, v] : numbers) EXPECT_EQ(at32(off), v) << "offset " << off;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[12]), 16), std::string("Fifteen letters\0", 16));

  highscore_struct saved[NUM_HIGHSCORES];
  std::memcpy(saved, HighScores, sizeof saved);
  ResetHighScores();
  LoadHighScores();
  EXPECT_EQ(std::memcmp(saved, HighScores, sizeof saved), 0);
}

// A write cut off by the file-size limit (as a full disk or a crash would cut it) fails, and the
// table already on disk stays whole, with no scratch file left beside it.
TEST_F(HighScoreTest, AWriteThatFailsHalfWayLeavesTheOldFileWhole) {
  Table({900, 800, 700, 600, 500, 400, 300, 200, 100, 90, 80, 70, 60, 50, 40});
  ASSERT_TRUE(SaveHighScores());
  const std::vector<unsigned char> old = FileBytes("vorbel.hsc");
  ASSERT_EQ(old.size(), 420u);

  ResetHighScores();
  struct rlimit before;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  sighandler_t was = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = before;
  small.rlim_cur = 200;  // the write stops inside the eighth entry
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int written = SaveHighScores();
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, was);

  EXPECT_EQ(written, 0);
  EXPECT_EQ(FileBytes("vorbel.hsc"), old);
  EXPECT_FALSE(std::filesystem::exists("vorbel.hsc.new"));
  LoadHighScores();
  EXPECT_EQ(HighScores[14].score, 40);
}

// F10's picture is written whole or not at all: a write that cannot be made (here the scratch
// name is taken by a folder; a full disk fails the same way) leaves the old picture as it was.
TEST_F(HighScoreTest, ScreenshotReplacesTheOldPictureOnlyWhenWrittenWhole) {
  std::filesystem::remove_all("vorbel.pcx.new");
  std::ofstream("vorbel.pcx") << "old picture";
  for (bool blocked : {true, false}) {
    if (blocked) std::filesystem::create_directory("vorbel.pcx.new");
    EXPECT_EQ(ScreenShot(), blocked ? 0 : -1) << blocked;
    std::vector<unsigned char> b = FileBytes("vorbel.pcx");
    if (blocked)
      EXPECT_EQ(std::string(b.begin(), b.end()), "old picture");
    else
      EXPECT_GT(b.size(), 128u + 480u) << "a PCX of the whole screen";
    std::filesystem::remove_all("vorbel.pcx.new");
  }
}

TEST_F(HighScoreTest, NameEntryKeys) {
  char name[256] = "";
  struct Step {
    int c, scancode, result;
    const char* name;
  } steps[] = {
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
  for (const Step& s : steps) {
    EXPECT_EQ(NameKey(name, s.c, s.scancode, font), s.result) << s.name;
    EXPECT_STREQ(name, s.name);
  }
  // Fourteen characters at most: the fifteenth is not taken.
  name[0] = 0;
  for (int i = 0; i < 15; i++) NameKey(name, 'a' + i, KEY_A + i, font);
  EXPECT_STREQ(name, "abcdefghijklmn");
}

// Names of the widest letters, in the game's own status font: the name entry takes no letter that
// would run past its field (14 of them would), the status panel cuts a name at its frame, and the
// list keeps it clear of the score column.
TEST_F(HighScoreTest, WideNamesStayInsideTheirPanels) {
  // The real font stands in for the fixture's for this test only, whatever way it ends.
  struct RealFont {
    DATAFILE* art = load_datafile(VORBEL_RUN_DIR "/vorbel.dat");
    DATAFILE saved = graphics[GFX_FONT_STATUS];
    RealFont() {
      if (art) graphics[GFX_FONT_STATUS].dat = art[GFX_FONT_STATUS].dat;
    }
    ~RealFont() {
      graphics[GFX_FONT_STATUS] = saved;
      if (art) unload_datafile(art);
    }
  } real;
  ASSERT_NE(real.art, nullptr);
  FONT* wide = GraphicFont(GFX_FONT_STATUS);

  char name[256] = "";
  while (NameKey(name, 'W', KEY_W, wide) == NAME_TYPED) {
  }
  EXPECT_GE(std::strlen(name), 1u);
  EXPECT_LE(155 + text_length(wide, name) + text_length(wide, "_"), 288) << name;

  ResetHighScores();
  for (highscore_struct& e : HighScores) std::strcpy(e.name, "WWWWWWWWWWWWWWW");
  char cut[16];
  ClipText(wide, HighScores[0].name, 128, cut, sizeof cut);
  EXPECT_LE(text_length(wide, cut), 128);
  EXPECT_LT(std::strlen(cut), 15u) << "the font is not wide enough to test the cut";

  // Nothing of a name reaches the score column (x 380) of the list...
  DrawHighScores();
  for (int y = 80; y < 80 + 20 * NUM_HIGHSCORES; y++)
    for (int x = 373; x < 380; x++) ASSERT_NE(getpixel(screen, x, y), 15) << x << "," << y;
  // ...nor the panel's frame (x 630) at the start of a level.
  LevelSetup();
  for (int y = 330; y < 330 + text_height(wide); y++)
    for (int x = 629; x < 640; x++) ASSERT_NE(getpixel(screen, x, y), 85) << x << "," << y;
}

}  // namespace
}  // namespace testgame
