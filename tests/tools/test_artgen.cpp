// Art generator: the generated datafiles load through Allegro with every object the game uses at
// its index, kind and size; wall tiles join; fonts hold printable ASCII and fit the screens; and
// the readers of the art sources refuse damaged input with a clear message.
#include <allegro.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "art.h"
#include "cellcodes.h"

namespace {

class Datafiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0);
    set_color_depth(8);
    set_color_conversion(COLORCONV_NONE);
  }
  // Loads a generated file and checks its object count; released when the test ends.
  DATAFILE *load(const std::string &name, int objects) {
    DATAFILE *d = load_datafile((std::string(VORBEL_RUN_DIR) + "/" + name).c_str());
    if (d) loaded_.push_back(d);
    int n = 0;
    while (d && d[n].type != DAT_END) n++;
    EXPECT_EQ(n, objects) << name << (d ? "" : " does not load");
    return n == objects ? d : nullptr;
  }
  void TearDown() override {
    for (DATAFILE *d : loaded_) unload_datafile(d);
  }
  static BITMAP *bitmap(DATAFILE *d, int i) { return static_cast<BITMAP *>(d[i].dat); }

 private:
  std::vector<DATAFILE *> loaded_;
};

// Pixels of `b` in the rectangle that are not colour `c` (or, with `not_c` false, that are).
int count(BITMAP *b, int c, bool not_c = true, int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1) {
  int n = 0;
  for (int y = y0; y <= (y1 < 0 ? b->h - 1 : y1); y++)
    for (int x = x0; x <= (x1 < 0 ? b->w - 1 : x1); x++) n += (getpixel(b, x, y) != c) == not_c;
  return n;
}

TEST_F(Datafiles, VorbelDatHoldsEveryObjectAtItsIndex) {
  DATAFILE *d = load("vorbel.dat", 30);
  ASSERT_NE(d, nullptr);
  // Object, kind, size its screen layout needs (0: any); the rest are pictures, 8..18 of 10x10.
  const int kinds[][4] = {
      // clang-format off
      {2, DAT_BITMAP, 30, 30},    {4, DAT_BITMAP, 30, 30},    {5, DAT_BITMAP, 140, 25},  {7, DAT_FONT},
      {19, DAT_FONT},             {21, DAT_PALETTE},          {22, DAT_BITMAP, 175, 150},
      {23, DAT_BITMAP, 370, 105}, {25, DAT_FONT},             {28, DAT_BITMAP, 175, 300},
      {29, DAT_BITMAP, 640, 480},
      // clang-format on
  };
  std::vector<int> expected(30, DAT_BITMAP);
  for (const auto &k : kinds) expected[size_t(k[0])] = k[1];
  for (int i = 0; i < 30; i++) {
    ASSERT_EQ(d[i].type, expected[size_t(i)]) << "object " << i;
    EXPECT_TRUE(d[i].type != DAT_BITMAP || bitmap_color_depth(bitmap(d, i)) == 8) << "object " << i;
  }
  for (const auto &k : kinds)
    EXPECT_TRUE(!k[2] || (bitmap(d, k[0])->w == k[2] && bitmap(d, k[0])->h == k[3]))
        << "object " << k[0];
  for (int i = 8; i <= 18; i++)
    EXPECT_TRUE(bitmap(d, i)->w == 10 && bitmap(d, i)->h == 10) << "object " << i;
}

TEST_F(Datafiles, NamedPaletteColoursAreDistinct) {
  DATAFILE *d = load("vorbel.dat", 30);
  ASSERT_NE(d, nullptr);
  const RGB *pal = static_cast<const RGB *>(d[21].dat);
  auto light = [&](int i) { return pal[i].r * 3 + pal[i].g * 6 + pal[i].b; };
  std::set<int> seen;
  for (int i : {0, 1, 15, 25, 29, 32, 66, 68, 70, 85, 142, 159, 255}) {
    EXPECT_LE(std::max({pal[i].r, pal[i].g, pal[i].b}), 63);
    EXPECT_TRUE(seen.insert(pal[i].r << 12 | pal[i].g << 6 | pal[i].b).second)
        << "colour " << i << " repeats";
    EXPECT_TRUE(i == 0 || light(i) > light(0)) << "colour " << i << " not above the floor";
  }
  for (int i : {15, 32, 85, 255})
    EXPECT_GT(light(i), 3 * light(159)) << "text colour " << i << " on the panel";
}

TEST_F(Datafiles, FontsCoverPrintableAsciiAndFitTheScreens) {
  DATAFILE *d = load("vorbel.dat", 30);
  ASSERT_NE(d, nullptr);
  const int fonts[][3] = {{7, 24, 32}, {19, 14, 16}, {25, 12, 14}};  // object, height range
  for (const auto &c : fonts) {
    SCOPED_TRACE("font " + std::to_string(c[0]));
    FONT *f = static_cast<FONT *>(d[c[0]].dat);
    ASSERT_TRUE(is_mono_font(f));
    EXPECT_LE(get_font_range_begin(f, -1), 32);
    EXPECT_GE(get_font_range_end(f, -1), 126);
    EXPECT_GE(text_height(f), c[1]);
    EXPECT_LE(text_height(f), c[2]);
    for (int ch = 33; ch <= 126; ch++)
      EXPECT_GT(text_length(f, std::string(1, char(ch)).c_str()), 0) << ch;
  }
  FONT *status = static_cast<FONT *>(d[25].dat);
  FONT *heading = static_cast<FONT *>(d[7].dat);
  // Status lines start at x 500; the panel's frame begins at 630.
  for (const char *s :
       {"Score: 999999", "Bugs Eaten:999", "Lives:     99", "Vorbel-Endurant", "Safety: 2000"})
    EXPECT_LE(500 + text_length(status, s), 630) << s;
  // "Press Spacebar" is written 20 pixels under "G A M E   O V E R", whose capitals must end above
  // it.
  const char *over = "G A M E   O V E R";
  BITMAP *b = create_bitmap(text_length(heading, over) + 4, text_height(heading) + 4);
  clear_to_color(b, 0);
  textout_ex(b, heading, over, 0, 0, 1, -1);
  EXPECT_EQ(count(b, 0, true, 0, 20), 0);
  destroy_bitmap(b);
  EXPECT_LE(150 + text_length(heading, over), 460);
  // Where the status texts go (screen 500..629, 200..420; the panel is drawn at 465, 160) is plain.
  EXPECT_EQ(count(bitmap(d, 28), 159, true, 500 - 465, 200 - 160, 629 - 465, 420 - 160), 0);
}

TEST_F(Datafiles, ActorsAreTwentySquareSpritesAndTheVorbelIsAnimated) {
  DATAFILE *d = load("vorbel2.dat", 44);
  ASSERT_NE(d, nullptr);
  for (int i = 0; i < 44; i++) {
    SCOPED_TRACE("object " + std::to_string(i));
    ASSERT_EQ(d[i].type, DAT_BITMAP);
    ASSERT_TRUE(bitmap(d, i)->w == 20 && bitmap(d, i)->h == 20);
    int clear = count(bitmap(d, i), 0, false);
    EXPECT_GT(clear, 40);   // a shape on transparent floor, not a square
    EXPECT_LT(clear, 330);  // and big enough to see
  }
  auto same = [&](int a, int b, bool mirrored) {
    for (int y = 0; y < 20; y++)
      for (int x = 0; x < 20; x++)
        if (getpixel(bitmap(d, a), x, y) != getpixel(bitmap(d, b), mirrored ? 19 - x : x, y))
          return false;
    return true;
  };
  // Each direction's two walking pictures differ from each other and from the standing one.
  for (int first : {28, 32, 36, 40})
    EXPECT_FALSE(same(first + 1, first + 2, false) || same(first, first + 1, false)) << first;
  for (int k = 0; k < 4; k++)
    EXPECT_TRUE(same(28 + k, 32 + k, true)) << k;  // left is right, mirrored
}

// Which pixels of one edge of a tile are wall: 0 = top, 1 = right, 2 = bottom, 3 = left.
std::vector<bool> edge(BITMAP *b, int side) {
  std::vector<bool> e;
  for (int i = 0; i < 20; i++)
    e.push_back(getpixel(b,
                         side == 1   ? 19
                         : side == 3 ? 0
                                     : i,
                         side == 0   ? 0
                         : side == 2 ? 19
                                     : i) != 0);
  return e;
}

// Neighbour bits of cell (x, y) of a small wall grid (rows of '#' and '.'), outside it no wall.
int neighbours(const std::vector<std::string> &g, int x, int y) {
  auto wall = [&](int cx, int cy) {
    return cy >= 0 && cy < int(g.size()) && cx >= 0 && cx < int(g[0].size()) &&
           g[size_t(cy)][size_t(cx)] == '#';
  };
  const int dx[8] = {0, 1, 0, -1, 1, 1, -1, -1}, dy[8] = {-1, 0, 1, 0, -1, 1, 1, -1};
  int bits = 0;
  for (int k = 0; k < 8; k++) bits |= wall(x + dx[k], y + dy[k]) ? 1 << k : 0;
  return bits;
}

// Sets 0..18 are walls: 47 tiles each, chosen by the eight neighbours. Two wall cells side by side
// join without a seam in every surrounding of walls and floor; the inner corner of a wall block
// two cells thick is as solid as the middle of a big block; 19..21 are balls of values 1..4 and
// power balls 5..8.
TEST_F(Datafiles, TileSetsHoldTwentySquareTilesWallsJoinAndPowerBallsStandOut) {
  for (int n = 0; n <= 23; n++) {
    SCOPED_TRACE("set" + std::to_string(n));
    DATAFILE *d = load("set" + std::to_string(n) + ".dat", n < 19    ? NUM_WALL_TILES
                                                           : n < 22  ? 9
                                                           : n == 22 ? 16
                                                                     : 8);
    ASSERT_NE(d, nullptr);
    for (int i = 0; d[i].type != DAT_END; i++) {
      ASSERT_EQ(d[i].type, DAT_BITMAP);
      EXPECT_TRUE(bitmap(d, i)->w == 20 && bitmap(d, i)->h == 20) << i;
    }
    for (int ball = 1; n >= 19 && n <= 21 && ball <= 4; ball++)
      for (int power = 5; power <= 8; power++)
        EXPECT_GT(count(bitmap(d, power), 0), 2 * count(bitmap(d, ball), 0))
            << ball << "/" << power;
    if (n >= 19) continue;
    // A side without a wall neighbour is open.
    for (int a = 0; a < NUM_WALL_TILES; a++)
      for (int side = 0; side < 4; side++)
        if (!(WallTileNeighbours(a) & 1 << side)) {
          EXPECT_EQ(edge(bitmap(d, a), side), std::vector<bool>(20, false))
              << "tile " << a << " side " << side;
        }
    // Cells (1, 1) and (2, 1) of a 4 by 3 grid are walls, the other ten anything: every one of the
    // 1024 surroundings, lying down and standing up (the grid transposed).
    int seams = 0;
    for (int other = 0; other < 1024; other++)
      for (int standing = 0; standing < 2; standing++) {
        std::vector<std::string> g(3, std::string(4, '.'));
        for (int k = 0, bit = 0; k < 12; k++) {
          int x = k % 4, y = k / 4;
          bool pair = y == 1 && (x == 1 || x == 2);
          g[size_t(y)][size_t(x)] = pair || (other >> bit++ & 1) ? '#' : '.';
        }
        if (standing) {
          std::vector<std::string> t(4, std::string(3, '.'));
          for (int y = 0; y < 3; y++)
            for (int x = 0; x < 4; x++) t[size_t(x)][size_t(y)] = g[size_t(y)][size_t(x)];
          g = t;
        }
        // The pair is (1, 1) and (2, 1), or (1, 1) and (1, 2) standing up.
        BITMAP *a = bitmap(d, WallTile(neighbours(g, 1, 1)));
        BITMAP *b = bitmap(d, WallTile(neighbours(g, standing ? 1 : 2, standing ? 2 : 1)));
        if (edge(a, standing ? 2 : 1) != edge(b, standing ? 0 : 3)) seams++;
      }
    EXPECT_EQ(seams, 0) << "joints that do not meet";
    // The four corner tiles of a 2 by 2 block: their inner quarter is wall wherever the middle of
    // a big block is.
    const std::vector<std::string> block = {"##", "##"};
    BITMAP *solid = bitmap(d, WallTile(255));
    for (int c = 0; c < 4; c++) {
      int cx = c & 1, cy = c >> 1;
      BITMAP *t = bitmap(d, WallTile(neighbours(block, cx, cy)));
      int holes = 0;
      for (int y = 0; y < 10; y++)
        for (int x = 0; x < 10; x++) {
          int px = cx ? x : 10 + x, py = cy ? y : 10 + y;  // the quarter towards the block's middle
          holes += getpixel(solid, px, py) != 0 && getpixel(t, px, py) == 0;
        }
      EXPECT_EQ(holes, 0) << "corner " << c << " of a 2x2 block has a notch";
    }
  }
}

class Sources : public ::testing::Test {
 protected:
  std::string write(const std::string &text) {
    files_.push_back(std::filesystem::temp_directory_path() /
                     ("artgen_test_" + std::to_string(::getpid()) + "_" +
                      std::to_string(files_.size()) + ".txt"));
    std::ofstream(files_.back()) << text;
    return files_.back().string();
  }
  void TearDown() override {
    for (const auto &p : files_) std::filesystem::remove(p);
  }
  const std::string kPalette =
      "0 floor #000000\nramp 1 254 grey #101010 #f0f0f0\n255 top #ffffff\n";

 private:
  std::vector<std::filesystem::path> files_;
};

TEST_F(Sources, PalettesAndTextPicturesResolve) {
  art::Palette pal = art::Palette::load(write(kPalette));
  EXPECT_EQ(std::make_tuple(pal.find("grey.0"), pal.find("grey.253"), pal.rgb(1).r, pal.rgb(254).r),
            std::make_tuple(1, 254, 0x10, 0xf0));
  EXPECT_GT(pal.rgb(128).r, pal.rgb(64).r);
  EXPECT_THROW(pal.find("grey.254"), art::Error);
  dat::Object o = pal.to_object("P");  // Allegro's six-bit components, rounded: 0x10 is 4
  EXPECT_EQ(std::make_tuple(o.type, int(o.data[1 * 4]), int(o.data[255 * 4])),
            std::make_tuple(dat::TYPE_PALETTE, 4, 63));
  art::ArtBook book =
      art::ArtBook::load(write("legend l\n. floor\nX top\nb body.200\nend\npicture p "
                               "l\n.Xb\nb..\nend\nobject 1 p body=grey\n"));
  art::Image img = book.resolve("p", pal, {{"body", "grey"}});
  ASSERT_TRUE(img.w == 3 && img.h == 2);
  EXPECT_EQ(std::vector<int>({img.get(0, 0), img.get(1, 0), img.get(2, 0), img.get(0, 1)}),
            std::vector<int>({0, 255, 201, 201}));
  EXPECT_TRUE(book.directives.size() == 1 && book.directives[0][3] == "body=grey");
  EXPECT_THROW(book.resolve("p", pal), art::Error);  // an unbound role is an unknown colour
  EXPECT_THROW(book.resolve("missing", pal), art::Error);
}

TEST_F(Sources, ReadersRefuseDamagedSources) {
  enum Reader { kPal, kBook, kResolve, kFonts };
  // Message: part of the expected error, "" for any.
  // clang-format off
  struct Case { Reader reader; const char *text; const char *message; } cases[] = {
      {kPal, "0 floor #000000\n", "entry 1 is not given"},
      {kPal, "0 floor #00000g\n", "bad hex digit"},
      {kPal, "0 floor 000000\n", "#rrggbb"},
      {kPal, "0 floor #000000\n0 again #111111\n", "given twice"},
      {kPal, "300 far #000000\n", "outside 0..255"},
      {kPal, "ramp 250 10 long #000000 #ffffff\n", "does not fit"},
      {kPal, "ramp 1 x grey #000000 #ffffff\n", "not a number"},
      {kPal, "", "entry 0 is not given"},
      {kBook, "legend l\n. floor\nend\npicture p l\n...\n..\nend\n", "first row has 3"},
      {kBook, "picture p nolegend\n.\nend\n", "unknown legend"},
      {kBook, "legend l\n. floor\nend\npicture p l\n...\n", "ends inside"},
      {kBook, "legend l\n. floor\n. top\nend\n", "given twice"},
      {kBook, "legend l\n.. floor\nend\n", "<symbol> <colour name>"},
      {kBook, "legend l\nend\npicture p l\nend\n", "has no rows"},
      {kBook, "legend l\nend\nlegend l\nend\n", "defined twice"},
      {kResolve, "legend l\n. floor\nend\npicture p l\n.?\nend\n", ""},
      {kFonts, "7 LARGE DejaVuSans-Bold.ttf twelve 0\n", ""},
      {kFonts, "7 DejaVuSans-Bold.ttf 12 0\n", "<name>"},
      // clang-format on
  };
  for (const Case &c : cases) {
    std::string path = write(c.text);
    try {
      if (c.reader == kPal) art::Palette::load(path);
      if (c.reader == kBook) art::ArtBook::load(path);
      if (c.reader == kResolve)
        art::ArtBook::load(path).resolve("p", art::Palette::load(write(kPalette)));
      if (c.reader == kFonts) art::load_font_specs(path);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const art::Error &e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(art::Palette::load("/nonexistent/palette.txt"), art::Error);
}

}  // namespace
