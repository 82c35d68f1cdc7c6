// Maze wall tiles: nineteen themes, each a set of 47 20x20 tiles, one for every combination of wall
// neighbours the game tells apart (cellcodes.h: the four sides, and the diagonals that lie between
// two side walls). A tile is a rounded block with an arm towards every connected side and a solid
// quarter towards every filled corner; arms meet the tile edge with the same cross-section as the
// neighbour's arm, and every texture repeats every 20 pixels, so connected walls join without a
// seam, and a wall block two or more cells thick is solid inside.
#include <algorithm>
#include <cmath>
#include <functional>

#include "art.h"
#include "cellcodes.h"

namespace art {

namespace {

constexpr int kTile = 20;
constexpr int kSearch =
    8;  // farthest a pixel looks for the wall's edge; deeper pixels count as interior

// What a theme knows about one pixel of a wall tile.
struct Px {
  int x, y;       // tile-local position
  int mask;       // neighbour mask of the tile
  double d;       // distance to the nearest floor pixel (1 for the rim)
  double lit;     // -1..1: +1 where the nearest edge faces the top-left light, -1 facing away
  double ex, ey;  // unit vector from the pixel towards its nearest edge
};

struct Theme {
  const char *name;
  int margin;     // floor left between an unconnected side and the wall
  double radius;  // rounding of outer corners
  std::function<int(const Palette &, const Px &)> paint;
  double wobble = 0;  // ragged outline depth for organic themes
  uint32_t seed = 0;
};

// Inside test over the tile and its surroundings: connected arms run on past the tile edge, as the
// neighbour's arm does, so distances near a joint are the same on both sides of it.
bool inside(int mask, int m, double r, int x, int y) {
  int lo = m, hi = kTile - 1 - m;
  // A filled corner: the quarter between two side arms is wall right into the corner, as the
  // diagonal neighbour is.
  const int half = kTile / 2;
  if ((mask & WALL_UP_RIGHT) && x >= half && y < half) return true;
  if ((mask & WALL_DOWN_RIGHT) && x >= half && y >= half) return true;
  if ((mask & WALL_DOWN_LEFT) && x < half && y >= half) return true;
  if ((mask & WALL_UP_LEFT) && x < half && y < half) return true;
  if ((mask & 1) && x >= lo && x <= hi && y <= kTile / 2) return true;
  if ((mask & 2) && y >= lo && y <= hi && x >= kTile / 2) return true;
  if ((mask & 4) && x >= lo && x <= hi && y >= kTile / 2) return true;
  if ((mask & 8) && y >= lo && y <= hi && x <= kTile / 2) return true;
  if (x < lo || x > hi || y < lo || y > hi) return false;
  // Rounded centre block: test the pixel centre against the corner circles.
  double cx = x + 0.5, cy = y + 0.5;
  double l = lo + r, rr = hi + 1 - r;
  double qx = cx < l ? l - cx : cx > rr ? cx - rr : 0;
  double qy = cy < l ? l - cy : cy > rr ? cy - rr : 0;
  return qx * qx + qy * qy <= r * r + 0.25;
}

// The usual raised-block lighting: a bright rim where the edge faces the light, a dark one where
// it faces away, and a soft slope over the bevel width.
double bevel(double base, const Px &p, double width, double rim = 0.3, double slope = 0.22) {
  double t = base;
  if (p.d <= 1.01) t += rim * (p.lit > 0.25 ? 1 : p.lit < -0.25 ? -1 : 0);
  if (p.d < width) t += slope * p.lit * (1 - (p.d - 1) / width);
  return t;
}

int tone(const Palette &pal, const char *ramp, double t, const Px &p) {
  return pal.ramp(ramp).dither(t, p.x, p.y);
}

double hash01(int x, int y, uint32_t seed) { return (hash2(x, y, seed) & 0xFFFF) / 65535.0; }

// Cell-noise stones over a 20-pixel period: distance to the nearest and second-nearest feature
// point, and which point is nearest.
void stones(int x, int y, int cells, uint32_t seed, double &f1, double &f2, int &id) {
  double size = double(kTile) / cells;
  f1 = f2 = 1e9;
  id = 0;
  int cx = int(x / size), cy = int(y / size);
  for (int j = -1; j <= 1; j++)
    for (int i = -1; i <= 1; i++) {
      int gx = cx + i, gy = cy + j;
      int wx = (gx % cells + cells) % cells, wy = (gy % cells + cells) % cells;
      double fx = (gx + 0.2 + 0.6 * hash01(wx, wy, seed)) * size;
      double fy = (gy + 0.2 + 0.6 * hash01(wx, wy, seed + 7)) * size;
      double dd = std::hypot(x + 0.5 - fx, y + 0.5 - fy);
      if (dd < f1) {
        f2 = f1;
        f1 = dd;
        id = wy * cells + wx;
      } else if (dd < f2) {
        f2 = dd;
      }
    }
}

int arms(int mask) {
  return (mask & 1) + ((mask >> 1) & 1) + ((mask >> 2) & 1) + ((mask >> 3) & 1);
}

// ---- the themes --------------------------------------------------------------------------------

int blue_brick(const Palette &pal, const Px &p) {
  int row = p.y / 5, off = (row % 2) * 5;
  int bx = (p.x + off) % kTile;
  bool mortar = p.y % 5 == 4 || bx % 10 == 9;
  double t;
  if (mortar) {
    t = 0.18;
  } else {
    t = 0.47 + 0.16 * (hash01(row, bx / 10, 11) - 0.5) + 0.06 * (hash01(p.x, p.y, 12) - 0.5);
    if (p.y % 5 == 0 || bx % 10 == 0) t += 0.1;  // each brick catches the light on its top-left lip
  }
  return tone(pal, "blue", bevel(t, p, 3, 0.35), p);
}

int mossy_stone(const Palette &pal, const Px &p) {
  double f1, f2;
  int id;
  stones(p.x, p.y, 3, 21, f1, f2, id);
  double moss = noise2(p.x / 4.0, p.y / 4.0, 5, 5, 22) + 0.25 * p.lit * (p.d < 4);
  if (f2 - f1 < 1.1) return tone(pal, "stone", bevel(0.12, p, 2), p);
  if (moss > 0.62) {
    double g = 0.35 + 0.5 * (moss - 0.62) / 0.38 + 0.1 * hash01(p.x, p.y, 23);
    return tone(pal, "green", bevel(g, p, 3, 0.25), p);
  }
  double t = 0.42 + 0.14 * (hash01(id, 0, 24) - 0.5) + 0.12 * std::min(1.0, (f2 - f1) / 4) +
             0.05 * (hash01(p.x, p.y, 25) - 0.5);
  return tone(pal, "stone", bevel(t, p, 3), p);
}

int hedge(const Palette &pal, const Px &p) {
  double n = noise2(p.x / 2.5, p.y / 2.5, 8, 8, 31);
  double leaf = hash01(p.x / 2, p.y / 2, 32);
  if (leaf > 0.965 && p.d > 2.5) return pal.find(hash01(p.x, p.y, 33) > 0.5 ? "rose" : "white");
  double t = 0.3 + 0.35 * n + (leaf > 0.7 ? 0.12 : 0);
  return tone(pal, "green", bevel(t, p, 4, 0.3, 0.3), p);
}

int crystal(const Palette &pal, const Px &p) {
  // Studded gem blocks: every 10x10 cell is a low pyramid whose four faces take the light
  // differently.
  int u = p.x % 10, v = p.y % 10;
  double t;
  bool diag1 = u == v, diag2 = u + v == 9;
  if (u + v < 9 && u < v)
    t = 0.55;  // left face
  else if (u + v < 9)
    t = 0.8;  // top face
  else if (u > v)
    t = 0.35;  // right face
  else
    t = 0.25;  // bottom face
  if (diag1 || diag2) t += 0.15;
  if (u == 0 || v == 0) t = 0.62;
  if (u == 9 || v == 9) t = 0.15;
  if (p.d > 2 && hash01(p.x, p.y, 41) > 0.975) return pal.find("glint");
  const char *ramp = ((p.x / 10 + p.y / 10) % 2) ? "teal" : "violet";
  return tone(pal, ramp, bevel(t, p, 2, 0.3, 0.1), p);
}

int metal_pipes(const Palette &pal, const Px &p) {
  // A 10-pixel pipe: round shading across it and a flange ring where it meets the next tile.
  double across = std::sin(3.14159 * std::clamp(p.d / 5.5, 0.0, 1.0) * 0.5);
  double t = 0.22 + 0.45 * across + 0.28 * p.lit * (1 - across);
  bool vertical_arm = (p.y < 5 && (p.mask & 1)) || (p.y > 14 && (p.mask & 4));
  bool horizontal_arm = (p.x < 5 && (p.mask & 8)) || (p.x > 14 && (p.mask & 2));
  int edge = std::min({p.x, p.y, kTile - 1 - p.x, kTile - 1 - p.y});
  if ((vertical_arm || horizontal_arm) && edge <= 1) t = edge == 0 ? 0.18 : 0.9;
  // A valve block with rivets where three or four pipes meet, and a cap on a lone pipe end.
  int k = arms(p.mask);
  if (k >= 3 || k == 0) {
    int cx = std::abs(2 * p.x - 19), cy = std::abs(2 * p.y - 19);
    if (cx <= 9 && cy <= 9) {
      t = 0.55 - 0.03 * (p.x + p.y - 19);
      if (cx == 9 || cy == 9) t = (p.x + p.y < 19) ? 0.85 : 0.15;
      if (cx == 5 && cy == 5) t = 0.95;
    }
  }
  return tone(pal, "steel", t, p);
}

int candy(const Palette &pal, const Px &p) {
  bool stripe = ((p.x + p.y) % 10) < 5;
  double t = stripe ? 0.55 : 0.9;
  if (p.d > 1.5 && p.d < 3.2 && p.lit > 0.5) return pal.find("glint");
  t = bevel(t, p, 4, 0.25, 0.2);
  if (p.d <= 1.01 && p.lit < 0) t = 0.3;
  return tone(pal, "pink", t, p);
}

int lava_rock(const Palette &pal, const Px &p) {
  double n = noise2(p.x / 4.0, p.y / 4.0, 5, 5, 61);
  double crack = std::abs(n - 0.5);
  if (crack < 0.035 && p.d > 1.5) return tone(pal, "red", 0.85 + 0.1 * hash01(p.x, p.y, 62), p);
  if (crack < 0.08 && p.d > 1.5) return tone(pal, "red", 0.45, p);
  double t =
      0.2 + 0.12 * noise2(p.x / 2.0, p.y / 2.0, 10, 10, 63) + 0.05 * (hash01(p.x, p.y, 64) - 0.5);
  return tone(pal, "stone", bevel(t, p, 3, 0.3, 0.15), p);
}

int ice(const Palette &pal, const Px &p) {
  double t = 0.55 + 0.15 * noise2(p.x / 5.0, p.y / 5.0, 4, 4, 71) - 0.04 * std::min(p.d, 5.0);
  int streak = ((p.x - p.y) % 20 + 20) % 20;
  if (streak == 4 || streak == 5 || streak == 13) t += 0.25;
  if (p.d <= 1.01 && p.lit > 0.25) return pal.find("glint");
  return tone(pal, "ice", bevel(t, p, 3, 0.3, 0.15), p);
}

int wood(const Palette &pal, const Px &p) {
  // Upright planks five pixels wide with grain running along them.
  int plank = p.x / 5, u = p.x % 5;
  double grain = noise2(p.x / 1.5, p.y / 5.0, 0, 4, 81 + uint32_t(plank));
  double t = 0.45 + 0.1 * (hash01(plank, 0, 82) - 0.5) + 0.2 * (grain - 0.5);
  if (u == 4) t = 0.15;
  if (u == 0) t += 0.1;
  int knot_y = int(hash01(plank, 1, 83) * 20);
  if (hash01(plank, 2, 84) > 0.5 && std::abs(p.y - knot_y) <= 1 && u >= 1 && u <= 2) t = 0.22;
  return tone(pal, "brown", bevel(t, p, 3, 0.25), p);
}

int gold_temple(const Palette &pal, const Px &p) {
  int u = p.x % 10, v = p.y % 10;
  double t = 0.55;
  if (u == 0 || v == 0) t = 0.85;
  if (u == 9 || v == 9) t = 0.22;
  int du = std::abs(2 * u - 9), dv = std::abs(2 * v - 9);
  if (du + dv <= 4) t = (du + dv <= 2) ? 0.9 : 0.3;  // an engraved diamond in every block
  return tone(pal, "gold", bevel(t, p, 2, 0.2, 0.1), p);
}

int neon_tube(const Palette &pal, const Px &p) {
  // A hollow neon outline: glow, a near-white core, glow again, then the dark inside.
  if (p.d <= 1.01) return pal.find("pinkdeep");
  if (p.d <= 2.01) return pal.find("neonpink");
  if (p.d <= 2.9) return pal.find("pause1");
  if (p.d <= 3.8) return pal.find("neonpink");
  if (p.d <= 4.7) return pal.find("pinkdeep");
  return tone(pal, "violet", 0.08 + ((p.x % 4 == 1 && p.y % 4 == 1) ? 0.1 : 0), p);
}

int sandstone(const Palette &pal, const Px &p) {
  int row = p.y / 10, off = (row % 2) * 10;
  int bx = (p.x + off) % kTile;
  double strata = noise2(p.x / 5.0, p.y / 2.5, 4, 8, 91);
  double t = 0.5 + 0.18 * (strata - 0.5) + 0.08 * (hash01(p.x, p.y, 92) - 0.5);
  if (p.y % 10 == 9 || bx == 19) t = 0.2;
  if (p.y % 10 == 0 || bx == 0) t += 0.12;
  return tone(pal, "sand", bevel(t, p, 3), p);
}

int coral(const Palette &pal, const Px &p) {
  double n = noise2(p.x / 3.33, p.y / 3.33, 6, 6, 101);
  // Pores: small dark pits on a sparse grid.
  int gx = p.x / 4, gy = p.y / 4;
  int px = gx * 4 + 1 + int(hash01(gx, gy, 102) * 2),
      py = gy * 4 + 1 + int(hash01(gx, gy, 103) * 2);
  if (p.x == px && p.y == py && p.d > 1.5) return tone(pal, "coral", 0.05, p);
  if (p.d > 1.5 && ((p.x == px + 1 && p.y == py) || (p.x == px && p.y == py + 1)))
    return tone(pal, "coral", 0.75, p);
  return tone(pal, "coral", bevel(0.4 + 0.3 * n, p, 3, 0.3, 0.25), p);
}

int circuit(const Palette &pal, const Px &p) {
  bool trace = false;
  for (int c : {4, 9, 10, 15}) {
    if ((p.mask & 5) && p.x == c && (p.y < 6 ? (p.mask & 1) : p.y > 13 ? (p.mask & 4) : true))
      trace = true;
    if ((p.mask & 10) && p.y == c && (p.x < 6 ? (p.mask & 8) : p.x > 13 ? (p.mask & 2) : true))
      trace = true;
  }
  int cx = std::abs(2 * p.x - 19), cy = std::abs(2 * p.y - 19);
  if (cx <= 5 && cy <= 5) {  // a little chip in the middle of every tile
    if (cx <= 3 && cy <= 3) return tone(pal, "stone", 0.12 + (cx == 3 && cy == 3 ? 0.2 : 0), p);
    return tone(pal, "gold", 0.75, p);
  }
  if (trace && p.d > 1.5) return tone(pal, "gold", 0.6 + 0.2 * (p.lit > 0), p);
  double t = 0.3 + 0.04 * (hash01(p.x, p.y, 111) - 0.5);
  return tone(pal, "green", bevel(t, p, 2, 0.25, 0.1), p);
}

int marble(const Palette &pal, const Px &p) {
  double n = noise2(p.x / 5.0 + 0.3 * p.y / 5.0, p.y / 5.0, 4, 4, 131);
  double vein = std::abs(n - 0.5);
  double t = 0.82 + 0.06 * noise2(p.x / 2.5, p.y / 2.5, 8, 8, 132);
  if (vein < 0.02)
    t = 0.45;
  else if (vein < 0.045)
    t = 0.65;
  return tone(pal, "stone", bevel(t, p, 3, 0.18, 0.12), p);
}

int bark_and_vine(const Palette &pal, const Px &p) {
  // Bark with upright ridges, wound about by a vine with small leaves.
  double ridge = noise2(p.x / 2.0, p.y / 10.0, 10, 2, 141);
  int vine_x = int(10 + 5 * std::sin(p.y * 3.14159 / 10));
  if (std::abs(p.x - vine_x) <= 0 && p.d > 1.5) return tone(pal, "green", 0.45, p);
  int leaf_y = (p.y / 5) * 5 + 2;
  int side = ((p.y / 5) % 2) ? 1 : -1;
  int lx = int(10 + 5 * std::sin(leaf_y * 3.14159 / 10)) + 2 * side;
  if (p.d > 1.5 && std::abs(p.y - leaf_y) <= 1 && std::abs(p.x - lx) <= (p.y == leaf_y ? 1 : 0))
    return tone(pal, "green", 0.72 + (p.y < leaf_y ? 0.12 : 0), p);
  double t = 0.3 + 0.3 * ridge + 0.05 * (hash01(p.x, p.y, 142) - 0.5);
  return tone(pal, "brown", bevel(t, p, 3), p);
}

int obsidian(const Palette &pal, const Px &p) {
  double t = 0.12 + 0.1 * noise2(p.x / 4.0, p.y / 4.0, 5, 5, 151);
  // Amethyst points: small bright diamonds at a few fixed spots of the 20-pixel texture.
  static const int kSpots[][2] = {{5, 6}, {14, 4}, {9, 14}, {16, 15}, {3, 16}};
  for (const auto &s : kSpots) {
    int dd = std::abs(p.x - s[0]) + std::abs(p.y - s[1]);
    if (dd == 0) return pal.find(p.d > 2 ? "glint" : "violet.11");
    if (dd == 1) return tone(pal, "violet", p.x < s[0] || p.y < s[1] ? 0.8 : 0.55, p);
    if (dd == 2 && p.x <= s[0] && p.y <= s[1]) t += 0.15;
  }
  if (p.d <= 1.01 && p.lit > 0.25) return tone(pal, "violet", 0.6, p);
  return tone(pal, "violet", bevel(t, p, 3, 0.15, 0.1), p);
}

int double_line(const Palette &pal, const Px &p) {
  // The classic arcade maze: two bright parallel lines round the wall, the inside left open.
  if (p.d <= 1.01) return tone(pal, "blue", 0.8, p);
  if (p.d <= 2.01) return tone(pal, "blue", 0.35, p);
  if (p.d > 3.2 && p.d <= 4.3) return tone(pal, "blue", 0.65, p);
  return 0;
}

int amber_glass(const Palette &pal, const Px &p) {
  // Stained glass: lead cames between panes of amber and orange.
  double f1, f2;
  int id;
  stones(p.x, p.y, 2, 161, f1, f2, id);
  if (f2 - f1 < 1.0 || p.d <= 1.01)
    return tone(pal, "stone", 0.15 + (p.lit > 0.25 && p.d <= 1.01 ? 0.2 : 0), p);
  const char *ramp = (id % 2) ? "orange" : "gold";
  double t = 0.5 + 0.25 * (1 - std::min(1.0, (f2 - f1) / 6)) * (p.lit > 0 ? 1 : -0.5) +
             0.1 * (hash01(id, 1, 162) - 0.5);
  if (p.d > 2 && hash01(p.x, p.y, 163) > 0.97) t = 0.95;
  return tone(pal, ramp, t, p);
}

const std::vector<Theme> &themes() {
  static const std::vector<Theme> list = {
      {"blue brick", 2, 2.5, blue_brick},
      {"mossy stone", 2, 3.5, mossy_stone, 0.0, 0},
      {"hedge", 1, 5, hedge, 1.6, 35},
      {"crystal blocks", 2, 1.5, crystal},
      {"steel pipes", 5, 5, metal_pipes},
      {"candy cane", 2, 6, candy},
      {"lava rock", 2, 4, lava_rock, 0.9, 65},
      {"ice", 2, 3, ice},
      {"wooden planks", 2, 1.5, wood},
      {"golden temple", 2, 1.5, gold_temple},
      {"neon tube", 3, 6, neon_tube},
      {"sandstone", 2, 2, sandstone},
      {"coral reef", 2, 5, coral, 1.4, 105},
      {"circuit board", 2, 2, circuit},
      {"amber glass", 2, 3, amber_glass},
      {"marble", 2, 3, marble},
      {"bark and vine", 2, 4, bark_and_vine, 0.8, 145},
      {"obsidian", 2, 3, obsidian},
      {"arcade lines", 3, 6, double_line},
  };
  return list;
}

Image wall_tile(const Palette &pal, const Theme &th, int mask) {
  Image img(kTile, kTile);
  for (int y = 0; y < kTile; y++)
    for (int x = 0; x < kTile; x++) {
      if (!inside(mask, th.margin, th.radius, x, y)) continue;
      int best = kSearch * kSearch + 1, bx = 0, by = 0;
      for (int j = -kSearch; j <= kSearch; j++)
        for (int i = -kSearch; i <= kSearch; i++) {
          int d2 = i * i + j * j;
          if (d2 >= best || inside(mask, th.margin, th.radius, x + i, y + j)) continue;
          best = d2, bx = i, by = j;
        }
      Px p{x, y, mask, kSearch + 1.0, 0, 0, 0};
      if (best <= kSearch * kSearch) {
        p.d = std::sqrt(double(best));
        p.ex = bx / p.d;
        p.ey = by / p.d;
        // The light comes from the top left, so edges facing up or left are lit.
        p.lit = std::clamp(-(p.ex + p.ey) / std::sqrt(2.0) * 1.4, -1.0, 1.0);
      }
      // Organic themes fray their outline with periodic noise (so joints still match).
      // Edge pixels sample the noise on the tile edge itself, where the neighbour's edge pixels
      // sample it too, so both sides of a joint fray alike.
      auto seam = [](int v) { return v == 0 ? 0.0 : v == kTile - 1 ? double(kTile) : v + 0.5; };
      if (th.wobble > 0 &&
          p.d <= th.wobble * noise2(seam(x) / 2.5, seam(y) / 2.5, 8, 8, th.seed) + 0.5)
        continue;
      img.set(x, y, th.paint(pal, p));
    }
  return img;
}

}  // namespace

std::vector<Image> wall_set(const Palette &pal, int theme) {
  const Theme &th = themes().at(size_t(theme));
  std::vector<Image> tiles;
  for (int object = 0; object < NUM_WALL_TILES; object++)
    tiles.push_back(wall_tile(pal, th, WallTileNeighbours(object)));
  return tiles;
}

const char *wall_theme_name(int theme) { return themes().at(size_t(theme)).name; }

}  // namespace art
