// Contact sheet: every bitmap of every generated file at twice its size, and a line of sample text
// for every font, decoded back from the object bytes, so what the sheet shows is what the game
// loads. A designer's tool; the game never reads it.
#include <png.h>

#include <algorithm>
#include <cstdio>

#include "art.h"

namespace art {

namespace {

constexpr int kScale = 2, kGap = 6, kWidth = 1400;

int get16(const std::vector<uint8_t> &d, size_t at) {
  if (at + 2 > d.size()) throw Error("object ends early");
  return int16_t((d[at] << 8) | d[at + 1]);
}
int get32(const std::vector<uint8_t> &d, size_t at) {
  if (at + 4 > d.size()) throw Error("object ends early");
  return int((uint32_t(d[at]) << 24) | (uint32_t(d[at + 1]) << 16) | (uint32_t(d[at + 2]) << 8) |
             d[at + 3]);
}

Image decode_bitmap(const dat::Object &o) {
  int w = get16(o.data, 2), h = get16(o.data, 4);
  Image img(w, h);
  if (o.data.size() < 6 + size_t(w * h)) throw Error("bitmap object ends early");
  std::copy(o.data.begin() + 6, o.data.begin() + 6 + long(w * h), img.px.begin());
  return img;
}

// A sample line of a one-range mono font, drawn in the light text colour on the status panel
// colour.
Image decode_font_sample(const dat::Object &o, const Palette &pal) {
  int first = get32(o.data, 5), last = get32(o.data, 9);
  std::vector<Image> glyphs;
  size_t at = 13;
  for (int c = first; c <= last; c++) {
    int w = get16(o.data, at), h = get16(o.data, at + 2);
    at += 4;
    Image g(std::max(1, w), std::max(1, h));
    int stride = (w + 7) / 8;
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) {
        size_t byte = at + size_t(y * stride + x / 8);
        if (byte >= o.data.size()) throw Error("font object ends early");
        if ((o.data[byte] >> (7 - x % 8)) & 1) g.set(x, y, pal.find("white"));
      }
    at += size_t(stride * h);
    glyphs.push_back(g);
  }
  const char *lines[] = {"Score: 001234  Lives:      4  Bugs Eaten:  7",
                         "O P T I O N S  Press Spacebar  You Died!!!",
                         " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ",
                         "[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~  Vorbel Endurnal v2.0"};
  int lh = glyphs.at(0).h;
  Image out(kWidth / kScale - 2 * kGap, 4 * (lh + 2), uint8_t(pal.find("panel")));
  for (int l = 0; l < 4; l++) {
    int x = 2;
    for (const char *s = lines[l]; *s; s++) {
      int c = static_cast<unsigned char>(*s);
      if (c < first || c > last) continue;
      out.blit(glyphs[size_t(c - first)], x, l * (lh + 2) + 1);
      x += glyphs[size_t(c - first)].w;
    }
  }
  return out;
}

// Plain 8-bit RGB PNG through libpng; its error exits come back here through setjmp.
void write_png(const std::string &path, int width, int height, const std::vector<uint8_t> &rgb) {
  FILE *fp = std::fopen(path.c_str(), "wb");
  if (!fp) throw Error("cannot write " + path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(fp);
    throw Error("PNG writer failed on " + path);
  }
  png_init_io(png, fp);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int r = 0; r < height; r++) png_write_row(png, rgb.data() + size_t(r) * size_t(width) * 3);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(fp);
}

}  // namespace

void write_sheet(const std::string &path, const Palette &pal,
                 const std::vector<SheetEntry> &files) {
  // Lay the pictures out in rows, left to right, a separator line between files.
  struct Placed {
    Image img;
    int x, y;
  };
  std::vector<Placed> placed;
  int x = kGap, y = kGap, row_h = 0;
  std::vector<int> separators;
  for (const SheetEntry &f : files) {
    for (const dat::Object &o : f.objects) {
      Image img;
      if (o.type == dat::TYPE_BITMAP)
        img = decode_bitmap(o);
      else if (o.type == dat::TYPE_FONT)
        img = decode_font_sample(o, pal);
      else
        continue;
      int w = img.w * kScale, h = img.h * kScale;
      if (x + w + kGap > kWidth && x > kGap) {
        x = kGap;
        y += row_h + kGap;
        row_h = 0;
      }
      placed.push_back({img, x, y});
      x += w + kGap;
      row_h = std::max(row_h, h);
    }
    x = kGap;
    y += row_h + 2 * kGap;
    row_h = 0;
    separators.push_back(y - kGap);
  }
  int height = y + kGap;
  std::vector<uint8_t> rgb(size_t(kWidth * height * 3), 40);
  for (int sy : separators)
    for (int sx = 0; sx < kWidth; sx++) rgb[size_t((sy * kWidth + sx) * 3)] = 200;
  for (const Placed &p : placed)
    for (int py = 0; py < p.img.h * kScale; py++)
      for (int px = 0; px < p.img.w * kScale; px++) {
        const RGB &c = pal.rgb(p.img.get(px / kScale, py / kScale));
        size_t o = size_t(((p.y + py) * kWidth + p.x + px) * 3);
        rgb[o] = c.r, rgb[o + 1] = c.g, rgb[o + 2] = c.b;
      }

  write_png(path, kWidth, height, rgb);
}

}  // namespace art
