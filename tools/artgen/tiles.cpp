// The 24 tile sets of the maze: wall themes (sets 0..18), balls and power balls in three colour
// families (sets 19..21), floor decorations (set 22) and spare decorations (set 23).
#include <algorithm>
#include <cmath>

#include "art.h"

namespace art {

namespace {

constexpr int kTile = 20;

// A lit sphere centred in the tile: radius r, shaded along `ramp` with a highlight towards the
// top left, and for power balls a dithered halo of `glow` pixels around it.
Image sphere(const Ramp &ramp, double r, double cx, double cy, double light_x, double light_y,
             double glow, double lift) {
  Image img(kTile, kTile);
  double lz = std::sqrt(std::max(0.0, 1 - light_x * light_x - light_y * light_y));
  for (int y = 0; y < kTile; y++)
    for (int x = 0; x < kTile; x++) {
      double dx = (x + 0.5 - cx) / r, dy = (y + 0.5 - cy) / r;
      double rr = dx * dx + dy * dy;
      if (rr <= 1.0) {
        double nz = std::sqrt(1 - rr);
        double diffuse = std::max(0.0, dx * light_x + dy * light_y + nz * lz);
        double shine = std::pow(diffuse, 18);
        double t = 0.18 + lift + 0.62 * diffuse + 0.5 * shine - (rr > 0.8 ? 0.12 : 0);
        img.set(x, y, ramp.dither(t, x, y));
      } else if (glow > 0) {
        double out = std::sqrt(rr) * r - r;  // pixels beyond the rim
        if (out < glow) {
          double t = 0.42 * (1 - out / glow);
          if (((x + y) & 1) || out < glow * 0.45) img.set(x, y, ramp.dither(t, x, y));
        }
      }
    }
  return img;
}

// A four-pointed twinkle: never drawn by the game (cell value 0 is a wall), kept as set art.
Image sparkle(const Palette &pal, const Ramp &ramp) {
  Image img(kTile, kTile);
  int c = 10;
  for (int i = -4; i <= 4; i++) {
    int a = std::abs(i);
    int col = a == 0 ? pal.find("glint") : ramp.at(ramp.count - 1 - a * ramp.count / 6);
    img.set(c + i, c, col);
    img.set(c, c + i, col);
  }
  for (int i : {-1, 1})
    for (int j : {-1, 1}) img.set(c + i, c + j, ramp.at(ramp.count / 2));
  return img;
}

std::vector<Image> ball_set(const Palette &pal, const char *ramp_name) {
  const Ramp &ramp = pal.ramp(ramp_name);
  std::vector<Image> set;
  set.push_back(sparkle(pal, ramp));
  // Balls: small, each with the light caught a little differently so a row of them shimmers.
  set.push_back(sphere(ramp, 3.2, 10, 10, -0.55, -0.6, 0, 0.05));
  set.push_back(sphere(ramp, 3.2, 10, 10, -0.35, -0.7, 0, 0.08));
  set.push_back(sphere(ramp, 3.4, 10, 10, -0.65, -0.45, 0, 0.02));
  set.push_back(sphere(ramp, 3.0, 10, 10, -0.5, -0.5, 0, 0.12));
  // Power balls: big and glowing, their halo pulsing in size from one picture to the next.
  const double halo[] = {3.0, 3.6, 2.6, 3.3};
  for (int i = 0; i < 4; i++) set.push_back(sphere(ramp, 5.6, 10, 10, -0.5, -0.55, halo[i], 0.08));
  return set;
}

// Decorations come from text pictures; the list says which picture goes at which object and
// where in the tile it sits (pictures smaller than a tile are centred).
std::vector<Image> decoration_set(int set, const Palette &pal, const Sources &src, int count) {
  ArtBook book = ArtBook::load(src.art_dir + "/tiles/decorations.txt");
  std::vector<Image> tiles(static_cast<size_t>(count));
  std::vector<bool> given(size_t(count), false);
  for (const auto &d : book.directives) {
    int in_set = -1, obj = -1;
    if (d.size() == 4 && d[0] == "set") {
      try {
        in_set = std::stoi(d[1]);
        obj = std::stoi(d[2]);
      } catch (const std::logic_error &) {
        in_set = -1;
      }
    }
    if (in_set < 0) throw Error("decorations.txt: expected: set <n> <object> <picture>");
    if (in_set != set) continue;
    if (obj < 0 || obj >= count)
      throw Error("decorations.txt: object " + d[2] + " is outside the set");
    Image pic = book.resolve(d[3], pal);
    if (pic.w > kTile || pic.h > kTile)
      throw Error("decorations.txt: picture " + d[3] + " is larger than a tile");
    Image tile(kTile, kTile);
    tile.blit(pic, (kTile - pic.w) / 2, (kTile - pic.h) / 2);
    tiles[size_t(obj)] = tile;
    given[size_t(obj)] = true;
  }
  for (int i = 0; i < count; i++)
    if (!given[size_t(i)])
      throw Error("decorations.txt: set " + std::to_string(set) + " object " + std::to_string(i) +
                  " is not given");
  return tiles;
}

}  // namespace

std::vector<Image> tile_images(int n, const Palette &pal, const Sources &src) {
  if (n >= 0 && n < kWallThemes) return wall_set(pal, n);
  static const char *kFamilies[] = {"gold", "ice", "green"};  // gold, pearl, emerald
  if (n >= 19 && n <= 21) return ball_set(pal, kFamilies[n - 19]);
  if (n == 22) return decoration_set(22, pal, src, 16);
  if (n == 23) return decoration_set(23, pal, src, 8);
  throw Error("there is no tile set " + std::to_string(n));
}

std::vector<dat::Object> build_tile_set(int n, const Palette &pal, const Sources &src) {
  static const char *kKinds[] = {"WALL", "BALL", "DECOR", "SPARE"};
  const char *kind = kKinds[n < kWallThemes ? 0 : n <= 21 ? 1 : n == 22 ? 2 : 3];
  std::vector<dat::Object> objects;
  std::vector<Image> tiles = tile_images(n, pal, src);
  for (size_t i = 0; i < tiles.size(); i++)
    objects.push_back(
        tiles[i].to_object(std::string(kind) + "_" + std::to_string(n) + "_" + std::to_string(i)));
  return objects;
}

}  // namespace art
