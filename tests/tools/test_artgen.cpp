// The datafile writer: every kind of object read back by Allegro's own load_datafile, packed and
// unpacked. The art generator: its datafiles load with every object the game uses at its index,
// kind and size; wall tiles join; fonts fit the screens; damaged art sources are refused.
#include <allegro.h>
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "art.h"
#include "cellcodes.h"
#include "datwriter.h"

namespace {

class DatWriter : public ::testing::TestWithParam<bool> {};

// Glyph c of the test font: c + 9 wide (widths that straddle a byte boundary), 4 high, a diagonal
// and the top right corner set.
bool glyph_pixel(int c, int x, int y) { return x == (y + c) % (9 + c) || (y == 0 && x == 8 + c); }

TEST_P(DatWriter, AllegroLoadsEveryObjectAsWritten) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  std::vector<uint8_t> px(7 * 5), pal(768);
  for (size_t i = 0; i < px.size(); i++) px[i] = uint8_t(i * 7);
  for (size_t i = 0; i < pal.size(); i++) pal[i] = uint8_t(i % 64);
  std::vector<dat::Glyph> glyphs;
  for (int c = 0; c < 3; c++) {
    glyphs.push_back({9 + c, 4, {}});
    for (int y = 0; y < 4; y++)
      for (int x = 0; x < 9 + c; x++) glyphs.back().pixels.push_back(glyph_pixel(c, x, y));
  }
  const std::string path = testing::TempDir() + (GetParam() ? "packed.dat" : "plain.dat");
  ASSERT_TRUE(dat::write_datafile(
      path,
      {dat::make_bitmap("PIC", 7, 5, px), dat::make_palette("PAL", pal),
       dat::make_font("FNT", 'A', glyphs, true), dat::make_sample8("S8", 11025, {0, 128, 255, 7}),
       dat::make_sample16("S16", 22050, {-32768, 0, 32767, -5}),
       dat::make_raw("RAW", dat::TYPE_DATA, std::vector<uint8_t>(1048, 0x5A))},
      GetParam()));
  DATAFILE *d = load_datafile(path.c_str());
  ASSERT_NE(d, nullptr);
  const std::vector<int> types = {DAT_BITMAP, DAT_PALETTE, DAT_FONT, DAT_SAMPLE,
                                  DAT_SAMPLE, DAT_DATA,    DAT_END};
  for (size_t i = 0; i < types.size(); i++) ASSERT_EQ(d[i].type, types[i]) << "object " << i;
  EXPECT_STREQ(get_datafile_property(&d[0], DAT_ID('N', 'A', 'M', 'E')), "PIC");

  BITMAP *bmp = static_cast<BITMAP *>(d[0].dat);
  ASSERT_TRUE(bmp->w == 7 && bmp->h == 5);
  for (int i = 0; i < 35; i++) EXPECT_EQ(bmp->line[i / 7][i % 7], px[size_t(i)]) << i;
  const RGB *rgb = static_cast<RGB *>(d[1].dat);
  EXPECT_EQ((std::vector<int>{rgb[0].r, rgb[1].g, rgb[255].b}), (std::vector<int>{0, 4, 767 % 64}));
  // The glyphs drawn side by side, every pixel as written.
  FONT *f = static_cast<FONT *>(d[2].dat);
  EXPECT_EQ(text_height(f), 4);
  BITMAP *canvas = create_bitmap(40, 4);
  clear_to_color(canvas, 0);
  textout_ex(canvas, f, "ABC", 0, 0, 3, -1);
  for (int c = 0, x0 = 0; c < 3; x0 += 9 + c, c++)
    for (int i = 0; i < 4 * (9 + c); i++)
      EXPECT_EQ(getpixel(canvas, x0 + i % (9 + c), i / (9 + c)),
                glyph_pixel(c, i % (9 + c), i / (9 + c)) ? 3 : 0)
          << "glyph " << c << " pixel " << i;
  destroy_bitmap(canvas);

  const SAMPLE *s8 = static_cast<SAMPLE *>(d[3].dat), *s16 = static_cast<SAMPLE *>(d[4].dat);
  EXPECT_EQ(
      (std::vector<long>{s8->bits, s8->freq, long(s8->len), static_cast<uint8_t *>(s8->data)[2]}),
      (std::vector<long>{8, 11025, 4, 255}));
  const uint16_t *w16 = static_cast<uint16_t *>(s16->data);  // Allegro's unsigned form: -32768 is 0
  EXPECT_EQ((std::vector<long>{s16->bits, s16->freq, long(s16->len), w16[0], w16[1], w16[2]}),
            (std::vector<long>{16, 22050, 4, 0x0000, 0x8000, 0xFFFF}));
  EXPECT_EQ(d[5].size, 1048);
  EXPECT_EQ(static_cast<unsigned char *>(d[5].dat)[1047], 0x5A);
  unload_datafile(d);
  EXPECT_FALSE(dat::write_datafile("/nonexistent-dir/x.dat", {}, GetParam()));
}

INSTANTIATE_TEST_SUITE_P(UnpackedAndPacked, DatWriter, ::testing::Values(false, true));

using Dat = std::unique_ptr<DATAFILE, decltype(&unload_datafile)>;
BITMAP *bitmap(const Dat &d, int i) { return static_cast<BITMAP *>(d.get()[i].dat); }

// Loads a generated file whose objects are all bitmaps of w by h but for `kinds` (object, kind,
// width, height; width 0: any size); null when it does not hold `objects` objects.
Dat load(const std::string &name, int objects, int w, int h,
         const std::vector<std::array<int, 4>> &kinds = {}) {
  static const int allegro = install_allegro(SYSTEM_NONE, &errno, atexit);
  EXPECT_EQ(allegro, 0);
  set_color_depth(8);
  set_color_conversion(COLORCONV_NONE);
  Dat d(load_datafile((std::string(VORBEL_RUN_DIR) + "/" + name).c_str()), unload_datafile);
  int n = 0;
  while (d && d.get()[n].type != DAT_END) n++;
  EXPECT_EQ(n, objects) << name << (d ? "" : " does not load");
  if (n != objects) return Dat(nullptr, unload_datafile);
  std::vector<std::array<int, 4>> want(size_t(n), {0, DAT_BITMAP, w, h});
  for (const auto &k : kinds) want[size_t(k[0])] = k;
  for (int i = 0; i < n; i++) {
    EXPECT_EQ(d.get()[i].type, want[size_t(i)][1]) << name << " object " << i;
    if (d.get()[i].type != DAT_BITMAP) continue;
    BITMAP *b = bitmap(d, i);
    EXPECT_EQ(bitmap_color_depth(b), 8) << name << " object " << i;
    EXPECT_TRUE(!want[size_t(i)][2] || (b->w == want[size_t(i)][2] && b->h == want[size_t(i)][3]))
        << name << " object " << i << " is " << b->w << "x" << b->h;
  }
  return d;
}

// Pixels of `b` that are not floor (colour 0).
int drawn(BITMAP *b) {
  int n = 0;
  for (int y = 0; y < b->h; y++)
    for (int x = 0; x < b->w; x++) n += getpixel(b, x, y) != 0;
  return n;
}

// vorbel.dat: the screens' pictures at their sizes (8..18 are 10 by 10 icons), text colours
// readable on the panel, fonts with printable ASCII at heights that fit the screens' lines.
TEST(Datafiles, VorbelDatHoldsPicturesPaletteAndFontsThatFitTheScreens) {
  std::vector<std::array<int, 4>> kinds = {
      // clang-format off
      {2, DAT_BITMAP, 30, 30},   {4, DAT_BITMAP, 30, 30},    {5, DAT_BITMAP, 140, 25},  {7, DAT_FONT},
      {19, DAT_FONT},            {21, DAT_PALETTE},          {22, DAT_BITMAP, 175, 150},
      {23, DAT_BITMAP, 370, 105}, {25, DAT_FONT},            {28, DAT_BITMAP, 175, 300},
      {29, DAT_BITMAP, 640, 480},
      // clang-format on
  };
  for (int i = 8; i <= 18; i++) kinds.push_back({i, DAT_BITMAP, 10, 10});
  Dat d = load("vorbel.dat", 30, 0, 0, kinds);
  ASSERT_NE(d, nullptr);
  const RGB *pal = static_cast<const RGB *>(d.get()[21].dat);
  auto light = [&](int i) { return pal[i].r * 3 + pal[i].g * 6 + pal[i].b; };
  for (int i : {15, 32, 85, 255}) EXPECT_GT(light(i), 3 * light(159)) << "text colour " << i;
  const int fonts[][3] = {{7, 24, 32}, {19, 14, 16}, {25, 12, 14}};  // object, height range
  for (const auto &c : fonts) {
    FONT *f = static_cast<FONT *>(d.get()[c[0]].dat);
    ASSERT_TRUE(is_mono_font(f)) << c[0];
    EXPECT_TRUE(get_font_range_begin(f, -1) <= 32 && get_font_range_end(f, -1) >= 126) << c[0];
    EXPECT_TRUE(text_height(f) >= c[1] && text_height(f) <= c[2]) << c[0];
  }
  EXPECT_LE(150 + text_length(static_cast<FONT *>(d.get()[7].dat), "G A M E   O V E R"), 460);
}

// Which pixels of one edge of a tile are wall: 0 = top, 1 = right, 2 = bottom, 3 = left.
std::vector<bool> edge(BITMAP *b, int side) {
  std::vector<bool> e;
  for (int i = 0; i < 20; i++) {
    int x = side == 1 ? 19 : side == 3 ? 0 : i, y = side == 0 ? 0 : side == 2 ? 19 : i;
    e.push_back(getpixel(b, x, y) != 0);
  }
  return e;
}

// Sets 0..18 are walls of 47 tiles chosen by the eight neighbours: a side without a wall neighbour
// is open, two walls side by side join without a seam; 19..21 hold balls 1..4 and the bigger power
// balls 5..8; 22 and 23 are further 20 by 20 pictures.
TEST(Datafiles, TileSetsWallsJoinAndPowerBallsStandOut) {
  for (int n = 0; n <= 23; n++) {
    SCOPED_TRACE("set" + std::to_string(n));
    const int objects = n < 19 ? NUM_WALL_TILES : n < 22 ? 9 : n == 22 ? 16 : 8;
    Dat d = load("set" + std::to_string(n) + ".dat", objects, 20, 20);
    ASSERT_NE(d, nullptr);
    for (int ball = 1; n >= 19 && n <= 21 && ball <= 4; ball++)
      for (int power = 5; power <= 8; power++)
        EXPECT_GT(drawn(bitmap(d, power)), 2 * drawn(bitmap(d, ball))) << ball << power;
    if (n >= 19) continue;
    for (int a = 0; a < NUM_WALL_TILES; a++)
      for (int side = 0; side < 4; side++)
        if (!(WallTileNeighbours(a) & 1 << side)) {
          EXPECT_EQ(edge(bitmap(d, a), side), std::vector<bool>(20, false)) << a << "/" << side;
        }
    // Cells (1, 1) and (2, 1) of a 4 by 3 grid are walls, the other ten anything, lying down and
    // standing up (the grid transposed).
    int seams = 0, cells = 0, standing = 0;
    auto wall = [&](int x, int y) {
      if (standing) std::swap(x, y);
      return x >= 0 && x < 4 && y >= 0 && y < 3 && (cells >> (y * 4 + x) & 1);
    };
    auto tile = [&](int x, int y) {  // the tile of cell (x, y) after its eight neighbours
      const int dx[8] = {0, 1, 0, -1, 1, 1, -1, -1}, dy[8] = {-1, 0, 1, 0, -1, 1, 1, -1};
      int bits = 0;
      for (int k = 0; k < 8; k++) bits |= wall(x + dx[k], y + dy[k]) ? 1 << k : 0;
      return bitmap(d, WallTile(bits));
    };
    for (cells = 0; cells < 4096; cells++)
      for (standing = 0; standing < 2 && (cells & 0x60) == 0x60; standing++)
        seams += edge(tile(1, 1), standing ? 2 : 1) !=
                 edge(tile(2 - standing, 1 + standing), standing ? 0 : 3);
    EXPECT_EQ(seams, 0) << "joints that do not meet";
  }
}

// Palettes, picture books and font lists as written by hand, refused with the reason when damaged.
TEST(Sources, ReadersRefuseDamagedSources) {
  const std::string path = testing::TempDir() + "artgen_test.txt";
  auto write = [&](const std::string &text) {
    std::ofstream(path) << text;
    return path;
  };
  const art::Palette pal = art::Palette::load(
      write("0 floor #000000\nramp 1 254 grey #101010 #f0f0f0\n255 top #ffffff\n"));
  const std::string legend = "legend l\n. floor\nX top\nb body.200\nend\n";
  enum Reader { kPal, kBook, kResolve, kFonts };
  // Message: part of the expected error, "" for any.
  // clang-format off
  struct Case { Reader reader; std::string text; const char *message; } cases[] = {
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
      {kResolve, legend + "picture p l\n.?\nend\n", ""},
      {kResolve, legend + "picture p l\nb\nend\n", ""},  // a role left unbound
      {kResolve, legend + "picture q l\nb\nend\n", ""},  // no picture p
      {kFonts, "7 LARGE DejaVuSans-Bold.ttf twelve 0\n", ""},
      {kFonts, "7 DejaVuSans-Bold.ttf 12 0\n", "<name>"},
      // clang-format on
  };
  for (const Case &c : cases) {
    write(c.text);
    try {
      if (c.reader == kPal) art::Palette::load(path);
      if (c.reader == kBook) art::ArtBook::load(path);
      if (c.reader == kResolve) art::ArtBook::load(path).resolve("p", pal);
      if (c.reader == kFonts) art::load_font_specs(path);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const art::Error &e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(art::Palette::load("/nonexistent/palette.txt"), art::Error);
}

}  // namespace
