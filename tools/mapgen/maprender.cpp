// Review picture of a level: draws a level file as a PNG (walls as pipes that follow their
// neighbour masks, balls, power balls, decorations, the two starts and the tunnel mouths) so a
// designer can see a maze without running the game. Usage: maprender LEVEL.txt OUT.png
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "maplevel.h"

namespace {

constexpr int kCell = 20;  // pixels per cell, as in the game
constexpr int kSide = mapgen::kMapSize * kCell;

struct Rgb {
  uint8_t r, g, b;
};

struct Image {
  std::vector<uint8_t> px = std::vector<uint8_t>(size_t(kSide * kSide * 3), 0);
  void fill(int x0, int y0, int w, int h, Rgb c) {
    for (int y = y0; y < y0 + h; y++)
      for (int x = x0; x < x0 + w; x++) {
        if (x < 0 || y < 0 || x >= kSide || y >= kSide) continue;
        uint8_t *p = &px[size_t((y * kSide + x) * 3)];
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
      }
  }
  void disc(int cx, int cy, int r, Rgb c) {
    for (int y = -r; y <= r; y++)
      for (int x = -r; x <= r; x++)
        if (x * x + y * y <= r * r) fill(cx + x, cy + y, 1, 1, c);
  }
};

uint32_t crc32(const uint8_t *d, size_t n, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < n; i++) {
    crc ^= d[i];
    for (int k = 0; k < 8; k++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void put32be(std::vector<uint8_t> &v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}

void chunk(std::vector<uint8_t> &out, const char *type, const std::vector<uint8_t> &data) {
  put32be(out, uint32_t(data.size()));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  out.insert(out.end(), body.begin(), body.end());
  put32be(out, crc32(body.data(), body.size()));
}

// PNG with an uncompressed (stored) zlib stream: review pictures need no compression library.
std::vector<uint8_t> encode_png(const Image &img) {
  std::vector<uint8_t> raw;
  for (int y = 0; y < kSide; y++) {
    raw.push_back(0);  // no row filter
    raw.insert(raw.end(), img.px.begin() + y * kSide * 3, img.px.begin() + (y + 1) * kSide * 3);
  }
  std::vector<uint8_t> z = {0x78, 0x01};
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
  for (size_t off = 0; off < raw.size() || off == 0; off += 65535) {
    size_t n = raw.size() - off < 65535 ? raw.size() - off : 65535;
    z.push_back(off + n == raw.size() ? 1 : 0);
    z.push_back(uint8_t(n)), z.push_back(uint8_t(n >> 8));
    z.push_back(uint8_t(~n)), z.push_back(uint8_t(~n >> 8));
    z.insert(z.end(), raw.begin() + long(off), raw.begin() + long(off + n));
    if (off + n == raw.size()) break;
  }
  put32be(z, (b << 16) | a);
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<uint8_t> ihdr;
  put32be(ihdr, kSide), put32be(ihdr, kSide);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
  chunk(out, "IHDR", ihdr);
  chunk(out, "IDAT", z);
  chunk(out, "IEND", {});
  return out;
}

// One hue per wall set so the themes can be told apart in review pictures.
Rgb wall_colour(int set) {
  static const Rgb kHues[] = {{40, 80, 220},   {200, 60, 60},  {40, 170, 90},  {170, 80, 200},
                              {210, 140, 30},  {30, 170, 190}, {190, 190, 60}, {220, 90, 150},
                              {120, 120, 130}, {90, 60, 200}};
  return kHues[set % 10];
}

// Ball colours by value 1..8: balls pale, power balls warm.
const Rgb kBallColours[8] = {{240, 230, 200}, {200, 240, 255}, {255, 210, 240}, {220, 255, 200},
                             {255, 140, 40},  {255, 80, 80},   {120, 255, 120}, {255, 255, 80}};

Image render(const mapgen::Level &level) {
  Image img;
  const Rgb wall = wall_colour(level.wall_set);
  for (int x = 0; x < mapgen::kMapSize; x++)
    for (int y = 0; y < mapgen::kMapSize; y++) {
      const int px = x * kCell, py = y * kCell, c = kCell / 2;
      const mapgen::Cell &cell = level.cells[size_t(x)][size_t(y)];
      bool edge = x == 0 || y == 0 || x == mapgen::kEdge || y == mapgen::kEdge;
      if (cell.kind != mapgen::CellKind::Wall && edge) img.fill(px, py, kCell, kCell, {20, 30, 60});
      switch (cell.kind) {
        case mapgen::CellKind::Wall: {
          int m = mapgen::wall_mask(level, x, y);
          img.fill(px + 5, py + 5, 10, 10, wall);
          if (m & mapgen::kMaskUp) img.fill(px + 5, py, 10, 5, wall);
          if (m & mapgen::kMaskDown) img.fill(px + 5, py + 15, 10, 5, wall);
          if (m & mapgen::kMaskLeft) img.fill(px, py + 5, 5, 10, wall);
          if (m & mapgen::kMaskRight) img.fill(px + 15, py + 5, 5, 10, wall);
          if (m & WALL_UP_RIGHT) img.fill(px + 10, py, 10, 10, wall);
          if (m & WALL_DOWN_RIGHT) img.fill(px + 10, py + 10, 10, 10, wall);
          if (m & WALL_DOWN_LEFT) img.fill(px, py + 10, 10, 10, wall);
          if (m & WALL_UP_LEFT) img.fill(px, py, 10, 10, wall);
          break;
        }
        case mapgen::CellKind::Ball:
          img.disc(px + c, py + c, 2, kBallColours[cell.value - 1]);
          break;
        case mapgen::CellKind::PowerBall:
          img.disc(px + c, py + c, 6, kBallColours[cell.value - 1]);
          break;
        case mapgen::CellKind::Decoration: img.fill(px + 6, py + 6, 8, 8, {60, 110, 60}); break;
        case mapgen::CellKind::Floor: break;
      }
    }
  const mapgen::CellPos v = level.vorbel_start, b = level.bug_start;
  img.disc(v.x * kCell + 10, v.y * kCell + 10, 8, {255, 230, 0});
  img.fill(b.x * kCell + 3, b.y * kCell + 3, 14, 14, {230, 30, 60});
  return img;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s LEVEL.txt OUT.png\n", argc > 0 ? argv[0] : "maprender");
    return 2;
  }
  mapgen::Level level;
  std::string err = mapgen::load_level_file(argv[1], level);
  if (!err.empty()) {
    std::fprintf(stderr, "maprender: %s\n", err.c_str());
    return 1;
  }
  for (const std::string &p : mapgen::check_level(level))
    std::fprintf(stderr, "maprender: warning: %s\n", p.c_str());
  std::vector<uint8_t> png = encode_png(render(level));
  FILE *f = std::fopen(argv[2], "wb");
  if (!f) {
    std::fprintf(stderr, "maprender: cannot write %s\n", argv[2]);
    return 1;
  }
  bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) std::fprintf(stderr, "maprender: error writing %s\n", argv[2]);
  return ok ? 0 : 1;
}
