// Round trip of the datafile writer through Allegro's own load_datafile, packed and unpacked.
#include <allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>

#include "datwriter.h"

namespace {

constexpr uint32_t TYPE_CUSTOM = dat::id("MUX ");

struct CustomBlob {
  long size;
  unsigned char bytes[64];
};

void *load_custom(PACKFILE *f, long size) {
  auto *b = static_cast<CustomBlob *>(calloc(1, sizeof(CustomBlob)));
  b->size = size;
  pack_fread(b->bytes, size < 64 ? size : 64, f);
  return b;
}

void destroy_custom(void *p) { free(p); }

class DatWriter : public ::testing::TestWithParam<bool> {
 protected:
  static void SetUpTestSuite() {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    register_datafile_object(int(TYPE_CUSTOM), load_custom, destroy_custom);
  }
};

std::vector<dat::Object> sample_objects() {
  std::vector<dat::Object> objs;
  std::vector<uint8_t> px(7 * 5), pal(768);
  for (size_t i = 0; i < px.size(); i++) px[i] = uint8_t(i * 7);
  for (size_t i = 0; i < pal.size(); i++) pal[i] = uint8_t(i % 64);
  objs.push_back(dat::make_bitmap("PIC", 7, 5, px));
  objs.push_back(dat::make_palette("PAL", pal));

  std::vector<dat::Glyph> glyphs;
  for (int c = 0; c < 3; c++) {
    dat::Glyph g;
    g.w = 9 + c;  // widths that straddle a byte boundary
    g.h = 4;
    g.pixels.assign(size_t(g.w * g.h), 0);
    for (int y = 0; y < g.h; y++) g.pixels[size_t(y * g.w + (y + c) % g.w)] = 1;
    g.pixels[size_t(g.w - 1)] = 1;
    glyphs.push_back(g);
  }
  objs.push_back(dat::make_font("FNT", 'A', glyphs, true));

  objs.push_back(dat::make_sample8("S8", 11025, {0, 128, 255, 7}));
  objs.push_back(dat::make_sample16("S16", 22050, {-32768, 0, 32767, -5}));
  objs.push_back(dat::make_raw("", TYPE_CUSTOM, {'h', 'e', 'l', 'l', 'o'}));
  objs.push_back(dat::make_raw("RAW", dat::TYPE_DATA, std::vector<uint8_t>(1048, 0x5A)));
  return objs;
}

TEST_P(DatWriter, AllegroLoadsEveryObjectAsWritten) {
  const bool packed = GetParam();
  std::string path = testing::TempDir() + (packed ? "rt_packed.dat" : "rt_plain.dat");
  ASSERT_TRUE(dat::write_datafile(path, sample_objects(), packed));

  DATAFILE *d = load_datafile(path.c_str());
  ASSERT_NE(d, nullptr);

  BITMAP *bmp = static_cast<BITMAP *>(d[0].dat);
  ASSERT_EQ((std::vector<int>{d[0].type, bmp->w, bmp->h}), (std::vector<int>{DAT_BITMAP, 7, 5}));
  for (int y = 0; y < 5; y++)
    for (int x = 0; x < 7; x++) EXPECT_EQ(bmp->line[y][x], uint8_t((y * 7 + x) * 7));
  EXPECT_STREQ(get_datafile_property(&d[0], DAT_ID('N', 'A', 'M', 'E')), "PIC");

  ASSERT_EQ(d[1].type, DAT_PALETTE);
  RGB *pal = static_cast<RGB *>(d[1].dat);
  EXPECT_EQ((std::vector<int>{pal[0].r, pal[1].g, pal[255].b}),
            (std::vector<int>{0, 4, (255 * 3 + 2) % 64}));

  ASSERT_EQ(d[2].type, DAT_FONT);
  FONT *f = static_cast<FONT *>(d[2].dat);
  EXPECT_EQ((std::vector<int>{text_height(f), text_length(f, "A"), text_length(f, "C")}),
            (std::vector<int>{4, 9, 11}));
  // Draw the glyphs and compare every pixel with what was written.
  BITMAP *canvas = create_bitmap(40, 4);
  clear_to_color(canvas, 0);
  textout_ex(canvas, f, "ABC", 0, 0, 3, -1);
  int x0 = 0;
  for (int c = 0; c < 3; c++) {
    int w = 9 + c;
    for (int y = 0; y < 4; y++)
      for (int x = 0; x < w; x++) {
        bool on = x == (y + c) % w || (y == 0 && x == w - 1);
        EXPECT_EQ(getpixel(canvas, x0 + x, y), on ? 3 : 0)
            << "glyph " << c << " at " << x << "," << y;
      }
    x0 += w;
  }
  destroy_bitmap(canvas);

  ASSERT_TRUE(d[3].type == DAT_SAMPLE && d[4].type == DAT_SAMPLE);
  SAMPLE *s8 = static_cast<SAMPLE *>(d[3].dat);
  ASSERT_EQ((std::vector<int>{s8->bits, s8->freq, int(s8->len)}), (std::vector<int>{8, 11025, 4}));
  EXPECT_EQ(static_cast<unsigned char *>(s8->data)[2], 255);
  SAMPLE *s16 = static_cast<SAMPLE *>(d[4].dat);
  ASSERT_EQ((std::vector<int>{s16->bits, s16->freq, int(s16->len)}),
            (std::vector<int>{16, 22050, 4}));
  const uint16_t *w16 = static_cast<uint16_t *>(s16->data);  // Allegro's unsigned form: -32768 is 0
  EXPECT_EQ((std::vector<int>{w16[0], w16[1], w16[2]}), (std::vector<int>{0x0000, 0x8000, 0xFFFF}));

  ASSERT_EQ(uint32_t(d[5].type), TYPE_CUSTOM);
  auto *blob = static_cast<CustomBlob *>(d[5].dat);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(blob->bytes), size_t(std::min(blob->size, 64L))),
            "hello");
  ASSERT_EQ((std::vector<long>{d[6].type, d[6].size, d[7].type}),
            (std::vector<long>{DAT_DATA, 1048, DAT_END}));
  EXPECT_EQ(static_cast<unsigned char *>(d[6].dat)[1047], 0x5A);
  unload_datafile(d);
  EXPECT_FALSE(dat::write_datafile("/nonexistent-dir/x.dat", {}, packed));
}

INSTANTIATE_TEST_SUITE_P(Forms, DatWriter, ::testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &i) {
                           return i.param ? "Packed" : "Unpacked";
                         });

// The index header names every object by its position; a name that cannot be a C identifier, a
// missing name or two objects of one name are refused, since the program could not address them.
TEST(DatWriterHeader, DefinesEveryObjectAtItsIndex) {
  std::vector<dat::Object> objs = {dat::make_raw("Ball", dat::TYPE_SAMPLE, {1}),
                                   dat::make_raw("title_theme", dat::id("MUX "), {2}),
                                   dat::make_raw("PAL", dat::TYPE_PALETTE, {3})};
  std::string error;
  std::string h = dat::index_header("x.dat", "SND_", objs, error);
  for (const char *want : {"#define SND_BALL                           0 /* SAMP */",
                           "#define SND_TITLE_THEME                    1 /* MUX  */",
                           "#define SND_PAL                            2 /* PAL  */",
                           "#define SND_COUNT 3", "#ifndef X_DAT_INDEX_H"})
    EXPECT_NE(h.find(want), std::string::npos) << want << " in\n" << h;

  // clang-format off
  struct Case { const char *name; const char *second; const char *message; } refused[] = {
      {"", "B", "object 0 has no name"},
      {"A", "big.ball", "object 1 has no name"},
      {"A", "two words", "object 1 has no name"},
      {"Same", "SAME", "two objects are named X_SAME"},
      // clang-format on
  };
  for (const Case &c : refused) {
    std::string message;
    std::string text = dat::index_header(
        "x.dat", "X_",
        {dat::make_raw(c.name, dat::TYPE_DATA, {}), dat::make_raw(c.second, dat::TYPE_DATA, {})},
        message);
    EXPECT_TRUE(text.empty()) << c.name << "/" << c.second;
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
}

// An unchanged header keeps its file time, so the program including it is not rebuilt.
TEST(DatWriterHeader, SameTextLeavesTheFileAlone) {
  std::string path = testing::TempDir() + "/index_test.h";
  std::vector<dat::Object> objs = {dat::make_raw("A", dat::TYPE_DATA, {1})};
  ASSERT_TRUE(dat::write_index_header(path, "x.dat", "X_", objs));
  struct stat before {
  }, after{};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  timespec old_time[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), old_time, 0), 0);
  ASSERT_TRUE(dat::write_index_header(path, "x.dat", "X_", objs));
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtime, 1000);
  objs.push_back(dat::make_raw("B", dat::TYPE_DATA, {2}));
  ASSERT_TRUE(dat::write_index_header(path, "x.dat", "X_", objs));
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_NE(after.st_mtime, 1000);
  EXPECT_FALSE(dat::write_index_header("/nonexistent-dir/x.h", "x.dat", "X_", objs));
  std::remove(path.c_str());
}

}  // namespace
