// Art generator: the generated datafiles load through Allegro with every object the game uses at
// its index, kind and size; wall tiles join; fonts hold printable ASCII and fit the screens; and
// the readers of the art sources refuse damaged input with a clear message.
#include <allegro.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "art.h"

namespace {

const std::string kRunDir = VORBEL_RUN_DIR;
const std::string kArtDir = VORBEL_ART_DIR;

class Datafiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0);
    set_color_depth(8);
    set_color_conversion(COLORCONV_NONE);
  }

  // Loads a generated file; the datafile is released when the test ends.
  DATAFILE* load(const std::string& name) {
    DATAFILE* d = load_datafile((kRunDir + "/" + name).c_str());
    EXPECT_NE(d, nullptr) << name;
    if (d) loaded_.push_back(d);
    return d;
  }
  void TearDown() override {
    for (DATAFILE* d : loaded_) unload_datafile(d);
  }

  static int count(const DATAFILE* d) {
    int n = 0;
    while (d[n].type != DAT_END) n++;
    return n;
  }
  static BITMAP* bitmap(DATAFILE* d, int i) { return static_cast<BITMAP*>(d[i].dat); }

 private:
  std::vector<DATAFILE*> loaded_;
};

struct Expected {
  int index;
  int type;
  int w, h;  // 0: any size
};

// Every object of vorbel.dat the game draws, with the size its screen layout needs.
const Expected kVorbelDat[] = {
    {1, DAT_BITMAP, 0, 0},      {2, DAT_BITMAP, 30, 30},    {4, DAT_BITMAP, 30, 30},   {5, DAT_BITMAP, 140, 25},
    {7, DAT_FONT, 0, 0},        {8, DAT_BITMAP, 10, 10},    {9, DAT_BITMAP, 10, 10},   {10, DAT_BITMAP, 10, 10},
    {11, DAT_BITMAP, 10, 10},   {12, DAT_BITMAP, 10, 10},   {13, DAT_BITMAP, 10, 10},  {14, DAT_BITMAP, 10, 10},
    {15, DAT_BITMAP, 10, 10},   {16, DAT_BITMAP, 10, 10},   {17, DAT_BITMAP, 10, 10},  {18, DAT_BITMAP, 10, 10},
    {19, DAT_FONT, 0, 0},       {21, DAT_PALETTE, 0, 0},    {22, DAT_BITMAP, 175, 150}, {23, DAT_BITMAP, 370, 105},
    {25, DAT_FONT, 0, 0},       {27, DAT_BITMAP, 0, 0},     {28, DAT_BITMAP, 175, 300}, {29, DAT_BITMAP, 640, 480},
};

TEST_F(Datafiles, VorbelDatHoldsEveryObjectAtItsIndex) {
  DATAFILE* d = load("vorbel.dat");
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(count(d), 30);
  for (const Expected& e : kVorbelDat) {
    SCOPED_TRACE("object " + std::to_string(e.index));
    ASSERT_EQ(d[e.index].type, e.type);
    if (e.type != DAT_BITMAP) continue;
    BITMAP* b = bitmap(d, e.index);
    EXPECT_EQ(bitmap_color_depth(b), 8);
    if (e.w) {
      EXPECT_EQ(b->w, e.w);
      EXPECT_EQ(b->h, e.h);
    }
  }
  // The objects the game does not name are real pictures too.
  for (int i : {0, 3, 6, 20, 24, 26}) EXPECT_EQ(d[i].type, DAT_BITMAP) << "object " << i;
}

TEST_F(Datafiles, NamedPaletteColoursAreDistinct) {
  DATAFILE* d = load("vorbel.dat");
  ASSERT_NE(d, nullptr);
  const RGB* pal = static_cast<const RGB*>(d[21].dat);
  const int named[] = {0, 1, 15, 25, 29, 32, 66, 68, 70, 85, 142, 159, 255};
  std::set<int> seen;
  for (int i : named) {
    EXPECT_LE(pal[i].r, 63);
    EXPECT_TRUE(seen.insert(pal[i].r << 12 | pal[i].g << 6 | pal[i].b).second) << "colour " << i << " repeats";
  }
  // The floor is the darkest of them, the texts on it bright.
  auto light = [&](int i) { return pal[i].r * 3 + pal[i].g * 6 + pal[i].b; };
  for (int i : named) {
    if (i == 0) continue;
    EXPECT_GT(light(i), light(0)) << "colour " << i;
  }
  for (int i : {15, 32, 85, 255}) EXPECT_GT(light(i), 3 * light(159)) << "text colour " << i << " on the panel";
}

struct FontCase {
  int index;
  int min_h, max_h;
};

TEST_F(Datafiles, FontsCoverPrintableAsciiAtTheirSizes) {
  DATAFILE* d = load("vorbel.dat");
  ASSERT_NE(d, nullptr);
  const FontCase cases[] = {{7, 24, 32}, {19, 14, 16}, {25, 12, 14}};
  for (const FontCase& c : cases) {
    SCOPED_TRACE("font " + std::to_string(c.index));
    FONT* f = static_cast<FONT*>(d[c.index].dat);
    ASSERT_TRUE(is_mono_font(f));
    EXPECT_LE(get_font_range_begin(f, -1), 32);
    EXPECT_GE(get_font_range_end(f, -1), 126);
    EXPECT_GE(text_height(f), c.min_h);
    EXPECT_LE(text_height(f), c.max_h);
    for (int ch = 33; ch <= 126; ch++) {
      char s[2] = {char(ch), 0};
      EXPECT_GT(text_length(f, s), 0) << "character " << ch;
    }
  }
}

// Lowest row of `s` that the font sets when written at the top of a fresh bitmap.
int lowest_inked_row(FONT* f, const char* s) {
  BITMAP* b = create_bitmap(text_length(f, s) + 4, text_height(f) + 4);
  clear_to_color(b, 0);
  textout_ex(b, f, s, 0, 0, 1, -1);
  int lowest = -1;
  for (int y = 0; y < b->h; y++)
    for (int x = 0; x < b->w; x++)
      if (getpixel(b, x, y)) lowest = y;
  destroy_bitmap(b);
  return lowest;
}

TEST_F(Datafiles, TextsFitWhereTheScreensWriteThem) {
  DATAFILE* d = load("vorbel.dat");
  ASSERT_NE(d, nullptr);
  FONT* status = static_cast<FONT*>(d[25].dat);
  FONT* heading = static_cast<FONT*>(d[7].dat);
  // Status lines start at x 500; the panel's frame begins at 630.
  for (const char* s : {"Score: 999999", "Bugs Eaten:999", "Lives:     99", "Vorbel-Endurant", "Safety: 2000"})
    EXPECT_LE(500 + text_length(status, s), 630) << s;
  // "G A M E   O V E R" and "Press Spacebar" are written 20 pixels apart: the capitals of the
  // first must end above the second line's cell.
  EXPECT_LT(lowest_inked_row(heading, "G A M E   O V E R"), 20);
  EXPECT_LE(150 + text_length(heading, "G A M E   O V E R"), 460);
}

TEST_F(Datafiles, StatusPanelIsPlainWhereTheTextsGo) {
  DATAFILE* d = load("vorbel.dat");
  ASSERT_NE(d, nullptr);
  BITMAP* lower = bitmap(d, 28);
  // Screen x 500..629, y 200..420 with the picture drawn at (465, 160).
  int odd = 0;
  for (int y = 200 - 160; y <= 420 - 160; y++)
    for (int x = 500 - 465; x < 630 - 465; x++)
      if (getpixel(lower, x, y) != 159) odd++;
  EXPECT_EQ(odd, 0);
}

TEST_F(Datafiles, ActorPicturesAreTwentySquareSpritesAndTheVorbelIsAnimated) {
  DATAFILE* d = load("vorbel2.dat");
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(count(d), 44);
  for (int i = 0; i < 44; i++) {
    SCOPED_TRACE("object " + std::to_string(i));
    ASSERT_EQ(d[i].type, DAT_BITMAP);
    BITMAP* b = bitmap(d, i);
    ASSERT_EQ(b->w, 20);
    ASSERT_EQ(b->h, 20);
    int clear = 0;
    for (int y = 0; y < 20; y++)
      for (int x = 0; x < 20; x++) clear += getpixel(b, x, y) == 0;
    EXPECT_GT(clear, 40);   // a shape on transparent floor, not a square
    EXPECT_LT(clear, 330);  // and big enough to see
  }
  auto same = [&](int a, int b, bool mirrored) {
    for (int y = 0; y < 20; y++)
      for (int x = 0; x < 20; x++)
        if (getpixel(bitmap(d, a), x, y) != getpixel(bitmap(d, b), mirrored ? 19 - x : x, y)) return false;
    return true;
  };
  // The two walking pictures of each direction differ from each other and from the standing one.
  for (int first : {28, 32, 36, 40}) {
    EXPECT_FALSE(same(first + 1, first + 2, false)) << first;
    EXPECT_FALSE(same(first, first + 1, false)) << first;
  }
  // Facing left is facing right, mirrored.
  for (int k = 0; k < 4; k++) EXPECT_TRUE(same(28 + k, 32 + k, true)) << k;
}

struct SetCase {
  int first, last, objects;
};

TEST_F(Datafiles, TileSetsHoldTwentySquareTiles) {
  const SetCase cases[] = {{0, 18, 16}, {19, 21, 9}, {22, 22, 16}, {23, 23, 8}};
  for (const SetCase& c : cases)
    for (int n = c.first; n <= c.last; n++) {
      SCOPED_TRACE("set" + std::to_string(n));
      DATAFILE* d = load("set" + std::to_string(n) + ".dat");
      ASSERT_NE(d, nullptr);
      ASSERT_EQ(count(d), c.objects);
      for (int i = 0; i < c.objects; i++) {
        ASSERT_EQ(d[i].type, DAT_BITMAP);
        EXPECT_EQ(bitmap(d, i)->w, 20);
        EXPECT_EQ(bitmap(d, i)->h, 20);
      }
    }
}

int inked(BITMAP* b) {
  int n = 0;
  for (int y = 0; y < b->h; y++)
    for (int x = 0; x < b->w; x++) n += getpixel(b, x, y) != 0;
  return n;
}

TEST_F(Datafiles, PowerBallsAreBiggerThanBalls) {
  for (int n = 19; n <= 21; n++) {
    DATAFILE* d = load("set" + std::to_string(n) + ".dat");
    ASSERT_NE(d, nullptr);
    for (int ball = 1; ball <= 4; ball++)
      for (int power = 5; power <= 8; power++)
        EXPECT_GT(inked(bitmap(d, power)), 2 * inked(bitmap(d, ball))) << "set" << n << " " << ball << "/" << power;
  }
}

// Which pixels of one edge of a tile are wall: 0 = top, 1 = right, 2 = bottom, 3 = left.
std::vector<bool> edge(BITMAP* b, int side) {
  std::vector<bool> e;
  for (int i = 0; i < 20; i++) {
    int x = side == 1 ? 19 : side == 3 ? 0 : i, y = side == 0 ? 0 : side == 2 ? 19 : i;
    e.push_back(getpixel(b, x, y) != 0);
  }
  return e;
}

TEST_F(Datafiles, WallTilesJoinTheirNeighboursAndLeaveOpenSidesClear) {
  for (int n = 0; n < 19; n++) {
    DATAFILE* d = load("set" + std::to_string(n) + ".dat");
    ASSERT_NE(d, nullptr);
    for (int a = 0; a < 16; a++) {
      for (int side = 0; side < 4; side++) {
        int opposite = (side + 2) % 4;
        if (!(a & (1 << side))) {
          // No neighbour that way: the tile stops short of the cell edge.
          std::vector<bool> e = edge(bitmap(d, a), side);
          EXPECT_EQ(std::count(e.begin(), e.end(), true), 0) << "set" << n << " mask " << a << " side " << side;
          continue;
        }
        // Every tile open towards this one meets it with the same cross-section.
        for (int b = 0; b < 16; b++) {
          if (!(b & (1 << opposite))) continue;
          EXPECT_EQ(edge(bitmap(d, a), side), edge(bitmap(d, b), opposite))
              << "set" << n << " masks " << a << "/" << b << " side " << side;
        }
      }
    }
  }
}

// ---- the source readers ------------------------------------------------------------------------

class Sources : public ::testing::Test {
 protected:
  std::string write(const std::string& text) {
    static int serial = 0;
    std::filesystem::path p = std::filesystem::temp_directory_path() /
                              ("artgen_test_" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ".txt");
    std::ofstream(p) << text;
    files_.push_back(p);
    return p.string();
  }
  void TearDown() override {
    for (const auto& p : files_) std::filesystem::remove(p);
  }

 private:
  std::vector<std::filesystem::path> files_;
};

// A whole valid palette: 0 and 255 named, a ramp between.
std::string palette_text(const std::string& extra = "") {
  return "0 floor #000000\nramp 1 254 grey #101010 #f0f0f0\n255 top #ffffff\n" + extra;
}

struct BadSource {
  const char* text;
  const char* message;  // part of the expected error
};

TEST_F(Sources, PaletteReaderRefusesDamagedSources) {
  const BadSource cases[] = {
      {"0 floor #000000\n", "entry 1 is not given"},
      {"0 floor #00000g\n", "bad hex digit"},
      {"0 floor 000000\n", "#rrggbb"},
      {"0 floor #000000\n0 again #111111\n", "given twice"},
      {"300 far #000000\n", "outside 0..255"},
      {"ramp 250 10 long #000000 #ffffff\n", "does not fit"},
      {"ramp 1 x grey #000000 #ffffff\n", "not a number"},
      {"", "entry 0 is not given"},
  };
  for (const BadSource& c : cases) {
    std::string path = write(c.text);
    try {
      art::Palette::load(path);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const art::Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(art::Palette::load("/nonexistent/palette.txt"), art::Error);
}

TEST_F(Sources, PaletteRampsRunThroughTheirStops) {
  art::Palette pal = art::Palette::load(write(palette_text()));
  EXPECT_EQ(pal.find("grey.0"), 1);
  EXPECT_EQ(pal.find("grey.253"), 254);
  EXPECT_EQ(pal.rgb(1).r, 0x10);
  EXPECT_EQ(pal.rgb(254).r, 0xf0);
  EXPECT_GT(pal.rgb(128).r, pal.rgb(64).r);
  EXPECT_THROW(pal.find("grey.254"), art::Error);
  // Stored as Allegro's six-bit components, four bytes an entry.
  dat::Object o = pal.to_object("P");
  EXPECT_EQ(o.type, dat::TYPE_PALETTE);
  EXPECT_EQ(o.data[255 * 4], 63);
  EXPECT_EQ(o.data[1 * 4], 0x10 >> 2);
}

TEST_F(Sources, TextPicturesResolveThroughLegendsAndRoles) {
  art::Palette pal = art::Palette::load(write(palette_text()));
  art::ArtBook book = art::ArtBook::load(write(
      "legend l\n. floor\nX top\nb body.200\nend\npicture p l\n.Xb\nb..\nend\nobject 1 p body=grey\n"));
  art::Image img = book.resolve("p", pal, {{"body", "grey"}});
  ASSERT_EQ(img.w, 3);
  ASSERT_EQ(img.h, 2);
  EXPECT_EQ(img.get(0, 0), 0);
  EXPECT_EQ(img.get(1, 0), 255);
  EXPECT_EQ(img.get(2, 0), 201);
  EXPECT_EQ(img.get(0, 1), 201);
  ASSERT_EQ(book.directives.size(), 1u);
  EXPECT_EQ(book.directives[0][3], "body=grey");
  // An unbound role is an unknown colour.
  EXPECT_THROW(book.resolve("p", pal), art::Error);
  EXPECT_THROW(book.resolve("missing", pal), art::Error);
}

TEST_F(Sources, TextPictureReaderRefusesDamagedSources) {
  const BadSource cases[] = {
      {"legend l\n. floor\nend\npicture p l\n...\n..\nend\n", "first row has 3"},
      {"picture p nolegend\n.\nend\n", "unknown legend"},
      {"legend l\n. floor\nend\npicture p l\n...\n", "ends inside"},
      {"legend l\n. floor\n. top\nend\n", "given twice"},
      {"legend l\n.. floor\nend\n", "<symbol> <colour name>"},
      {"legend l\nend\npicture p l\nend\n", "has no rows"},
      {"legend l\nend\nlegend l\nend\n", "defined twice"},
  };
  for (const BadSource& c : cases) {
    try {
      art::ArtBook::load(write(c.text));
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const art::Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  art::Palette pal = art::Palette::load(write(palette_text()));
  art::ArtBook book = art::ArtBook::load(write("legend l\n. floor\nend\npicture p l\n.?\nend\n"));
  EXPECT_THROW(book.resolve("p", pal), art::Error);
}

TEST_F(Sources, ShippedSourcesDescribeEveryObject) {
  art::Palette pal = art::Palette::load(kArtDir + "/palette.txt");
  EXPECT_EQ(pal.find("floor"), 0);
  EXPECT_EQ(pal.find("panel"), 159);
  EXPECT_EQ(pal.find("credits"), 255);
  std::vector<art::FontSpec> fonts = art::load_font_specs(kArtDir + "/fonts.txt");
  std::set<int> objects;
  for (const auto& f : fonts) objects.insert(f.object);
  EXPECT_EQ(objects, (std::set<int>{7, 19, 25}));
  EXPECT_THROW(art::load_font_specs(write("7 DejaVuSans-Bold.ttf twelve 0\n")), art::Error);
}

}  // namespace
