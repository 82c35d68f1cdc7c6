// The datafile writer: every kind of object read back by Allegro's own load_datafile, packed and
// unpacked.
#include <allegro.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

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

}  // namespace
