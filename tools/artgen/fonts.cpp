// Fonts of the game, rendered from TrueType files with FreeType: hinted one-bit glyphs for the
// three game fonts (drawn in the text colour by Allegro), and anti-aliased coverage for logos.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>

#include "art.h"

namespace art {

namespace {

constexpr int kFirstChar = 32, kLastChar = 126;  // printable ASCII, all the game ever writes

// One FreeType library and face, released on every path out.
struct Face {
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  Face(const std::string &path, int pixels) {
    if (FT_Init_FreeType(&lib)) throw Error("FreeType cannot start");
    if (FT_New_Face(lib, path.c_str(), 0, &face)) {
      FT_Done_FreeType(lib);
      throw Error("cannot read font file " + path);
    }
    if (pixels < 4 || pixels > 400 || FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixels))) {
      FT_Done_Face(face);
      FT_Done_FreeType(lib);
      throw Error("font " + path + " cannot be set to " + std::to_string(pixels) + " pixels");
    }
  }
  ~Face() {
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
  }
  Face(const Face &) = delete;
  Face &operator=(const Face &) = delete;
};

struct MonoGlyph {
  int left = 0, top = 0, w = 0, h = 0, advance = 0;
  std::vector<uint8_t> bits;  // w*h, 1 where the glyph is drawn
};

MonoGlyph load_mono(Face &f, int ch) {
  if (FT_Load_Char(f.face, FT_ULong(ch), FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME))
    throw Error("font has no glyph for character " + std::to_string(ch));
  FT_GlyphSlot g = f.face->glyph;
  const FT_Bitmap &bm = g->bitmap;
  if (bm.pixel_mode != FT_PIXEL_MODE_MONO && bm.rows > 0)
    throw Error("FreeType did not render one-bit glyphs");
  MonoGlyph m;
  m.left = g->bitmap_left;
  m.top = g->bitmap_top;
  m.w = int(bm.width);
  m.h = int(bm.rows);
  m.advance = int((g->advance.x + 32) >> 6);
  m.bits.assign(size_t(m.w * m.h), 0);
  for (int y = 0; y < m.h; y++)
    for (int x = 0; x < m.w; x++) {
      const unsigned char *row = bm.buffer + long(y) * bm.pitch;
      m.bits[size_t(y * m.w + x)] = (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
  return m;
}

}  // namespace

std::vector<FontSpec> load_font_specs(const std::string &path) {
  std::ifstream in(path);
  if (!in) throw Error("cannot open font list " + path);
  std::vector<FontSpec> specs;
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    n++;
    if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    FontSpec s;
    if (!(words >> s.object)) continue;
    if (!(words >> s.name >> s.file >> s.pixels >> s.spacing) || s.spacing < 0 || s.spacing > 8)
      throw Error(path + ":" + std::to_string(n) +
                  ": expected: <object> <name> <file> <pixels> <spacing 0..8>");
    specs.push_back(s);
  }
  return specs;
}

dat::Object render_font(const std::string &name, const std::string &ttf, int pixels, int spacing) {
  Face f(ttf, pixels);
  std::vector<MonoGlyph> mono;
  int ascent = 0, descent = 0;
  for (int c = kFirstChar; c <= kLastChar; c++) {
    mono.push_back(load_mono(f, c));
    const MonoGlyph &m = mono.back();
    if (m.h > 0) {
      ascent = std::max(ascent, m.top);
      descent = std::max(descent, m.h - m.top);
    }
  }
  // The cell holds exactly the rows that ASCII uses: no empty band above the tallest glyph, so
  // headings set close together in the game do not cover each other.
  int height = ascent + descent;
  std::vector<dat::Glyph> glyphs;
  for (const MonoGlyph &m : mono) {
    int shift = std::max(0, -m.left);
    int w = std::max(m.advance, m.left + shift + m.w) + spacing;
    dat::Glyph g;
    g.w = std::max(1, w);
    g.h = height;
    g.pixels.assign(size_t(g.w * g.h), 0);
    for (int y = 0; y < m.h; y++)
      for (int x = 0; x < m.w; x++)
        if (m.bits[size_t(y * m.w + x)]) {
          int gx = m.left + shift + x, gy = ascent - m.top + y;
          if (gx >= 0 && gx < g.w && gy >= 0 && gy < g.h) g.pixels[size_t(gy * g.w + gx)] = 1;
        }
    glyphs.push_back(std::move(g));
  }
  return dat::make_font(name, kFirstChar, glyphs, true);
}

std::vector<uint8_t> render_text_coverage(const std::string &ttf, int pixels,
                                          const std::string &text, double shear, int &w, int &h) {
  Face f(ttf, pixels);
  FT_Matrix m{0x10000, FT_Fixed(shear * 0x10000), 0, 0x10000};
  FT_Set_Transform(f.face, &m, nullptr);
  struct Placed {
    int x, y, w, h;
    std::vector<uint8_t> cov;
  };
  std::vector<Placed> placed;
  int pen = 0, prev = 0;
  int minx = 1 << 20, miny = 1 << 20, maxx = -(1 << 20), maxy = -(1 << 20);
  for (unsigned char ch : text) {
    FT_UInt gi = FT_Get_Char_Index(f.face, ch);
    if (prev && gi && FT_HAS_KERNING(f.face)) {
      FT_Vector k;
      if (!FT_Get_Kerning(f.face, FT_UInt(prev), gi, FT_KERNING_DEFAULT, &k)) pen += int(k.x >> 6);
    }
    if (FT_Load_Glyph(f.face, gi, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT))
      throw Error("font " + ttf + " cannot draw '" + text + "'");
    FT_GlyphSlot g = f.face->glyph;
    Placed p{pen + g->bitmap_left, -g->bitmap_top, int(g->bitmap.width), int(g->bitmap.rows), {}};
    for (int y = 0; y < p.h; y++)
      for (int x = 0; x < p.w; x++)
        p.cov.push_back(g->bitmap.buffer[long(y) * g->bitmap.pitch + x]);
    if (p.w > 0 && p.h > 0) {
      minx = std::min(minx, p.x);
      miny = std::min(miny, p.y);
      maxx = std::max(maxx, p.x + p.w);
      maxy = std::max(maxy, p.y + p.h);
    }
    pen += int((g->advance.x + 32) >> 6);
    placed.push_back(std::move(p));
    prev = int(gi);
  }
  if (maxx <= minx) throw Error("nothing to draw for '" + text + "'");
  w = maxx - minx;
  h = maxy - miny;
  std::vector<uint8_t> out(size_t(w * h), 0);
  for (const Placed &p : placed)
    for (int y = 0; y < p.h; y++)
      for (int x = 0; x < p.w; x++) {
        size_t o = size_t((p.y + y - miny) * w + (p.x + x - minx));
        out[o] = std::max(out[o], p.cov[size_t(y * p.w + x)]);
      }
  return out;
}

}  // namespace art
