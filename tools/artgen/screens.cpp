// vorbel.dat: the pictures of the screens (title, menu banner, side panel, frame pieces, buttons,
// fill pattern), the three fonts and the palette. Large pictures are painted in code from
// gradients, noise and the game's own sprites; small ones come from data/art/screens.txt.
#include <algorithm>
#include <cmath>

#include "art.h"

namespace art {

namespace {

constexpr int kObjects = 30;

double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

// ---- the play screen's frame -------------------------------------------------------------------

// Cross-section of the panel rail, from its top (or left) edge: a dark lip, a bright bevel, brushed
// metal, a blue neon core, then the metal falling off into shadow.
int rail(const Palette &pal, int i) {
  static const char *kProfile[10] = {"steel.2", "steel.12", "steel.9", "steel.7", "pause3",
                                     "border",  "steel.5",  "steel.4", "steel.3", "steel.1"};
  return pal.find(kProfile[std::clamp(i, 0, 9)]);
}

enum Band { kHorizontal, kVertical };

Image frame_piece(const Palette &pal, const std::function<Band(int, int)> &which) {
  Image img(10, 10);
  for (int v = 0; v < 10; v++)
    for (int u = 0; u < 10; u++)
      img.set(u, v, which(u, v) == kHorizontal ? rail(pal, v) : rail(pal, u));
  return img;
}

// Corner pieces are mitred: each pixel takes the rail whose outer edge is nearer. A small gem
// marks the corner where the neon cores cross.
Image corner(const Palette &pal, bool right, bool bottom) {
  Image img = frame_piece(pal, [&](int u, int v) {
    int to_side = right ? 9 - u : u, to_end = bottom ? 9 - v : v;
    return to_end < to_side || (to_end == to_side && !bottom) ? kHorizontal : kVertical;
  });
  img.set(4, 4, pal.find("glint"));
  img.set(5, 4, pal.find("pause3"));
  img.set(4, 5, pal.find("pause3"));
  img.set(5, 5, pal.find("blue.9"));
  return img;
}

// ---- gradients, stars and logos ----------------------------------------------------------------

void sky(Image &img, const Palette &pal, int x0, int y0, int x1, int y1, double t_top,
         double t_bottom) {
  const Ramp &r = pal.ramp("sky");
  for (int y = y0; y <= y1; y++) {
    double t = t_top + (t_bottom - t_top) * double(y - y0) / std::max(1, y1 - y0);
    for (int x = x0; x <= x1; x++) img.set(x, y, r.dither(t, x, y));
  }
}

void stars(Image &img, const Palette &pal, int x0, int y0, int x1, int y1, int count,
           uint32_t seed) {
  const Ramp &ice = pal.ramp("ice");
  for (int i = 0; i < count; i++) {
    int x = x0 + int(hash2(i, 1, seed) % uint32_t(x1 - x0 + 1));
    int y = y0 + int(hash2(i, 2, seed) % uint32_t(y1 - y0 + 1));
    uint32_t kind = hash2(i, 3, seed) % 16;
    if (kind < 10) {
      img.set(x, y, ice.at(8 + int(kind % 6)));
    } else if (kind < 14) {
      img.set(x, y, pal.find("glint"));
      for (auto [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}})
        img.set(x + dx, y + dy, ice.at(7));
    } else {
      // A bright twinkle with long arms.
      img.set(x, y, pal.find("glint"));
      for (int k = 1; k <= 3; k++) {
        int c = ice.at(14 - 3 * k);
        img.set(x + k, y, c), img.set(x - k, y, c), img.set(x, y + k, c), img.set(x, y - k, c);
      }
    }
  }
}

// Scales a picture up by a whole factor, pixel for pixel.
Image scaled(const Image &src, int f) {
  Image out(src.w * f, src.h * f);
  for (int y = 0; y < out.h; y++)
    for (int x = 0; x < out.w; x++) out.set(x, y, src.get(x / f, y / f));
  return out;
}

// A gold ball lit from the top left, for the pictures around the title.
Image glow_ball(const Palette &pal, int d, const char *ramp_name) {
  const Ramp &r = pal.ramp(ramp_name);
  Image img(d, d);
  double rad = d / 2.0;
  for (int y = 0; y < d; y++)
    for (int x = 0; x < d; x++) {
      double dx = (x + 0.5 - rad) / rad, dy = (y + 0.5 - rad) / rad, rr = dx * dx + dy * dy;
      if (rr > 1) continue;
      double nz = std::sqrt(1 - rr);
      double l = std::max(0.0, -0.5 * dx - 0.55 * dy + 0.67 * nz);
      img.set(x, y, r.dither(0.15 + 0.7 * l + 0.4 * std::pow(l, 16), x, y));
    }
  return img;
}

// ---- the pictures ------------------------------------------------------------------------------

// The fill pattern of the menus: a faint maze woven into dark indigo, 64x64 and seamless.
Image pattern(const Palette &pal) {
  constexpr int kSize = 64, kCell = 8, kCells = kSize / kCell;
  Image img(kSize, kSize);
  const Ramp &night = pal.ramp("night");
  for (int y = 0; y < kSize; y++)
    for (int x = 0; x < kSize; x++)
      img.set(x, y, night.dither(0.28 + 0.1 * noise2(x / 16.0, y / 16.0, 4, 4, 271), x, y));
  // Each cell opens towards the right or downwards: a maze-like weave that wraps at the edges.
  for (int cy = 0; cy < kCells; cy++)
    for (int cx = 0; cx < kCells; cx++) {
      bool right = hash2(cx, cy, 272) & 1;
      int x = cx * kCell, y = cy * kCell;
      for (int k = 0; k <= kCell; k++) {
        int px = right ? x + k : x, py = right ? y : y + k;
        img.set(px % kSize, py % kSize, night.at(5));
        img.set((px + (right ? 0 : 1)) % kSize, (py + (right ? 1 : 0)) % kSize, night.at(1));
      }
    }
  return img;
}

Image button_face(const Palette &pal, int w, int h, double lift) {
  Image img(w, h);
  const Ramp &steel = pal.ramp("steel");
  int face = pal.find("face");
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      double t = double(y) / (h - 1);
      if (t > 0.15 && t < 0.85)
        img.set(x, y, face);
      else
        img.set(x, y, steel.dither(clamp01(0.8 + lift - 0.4 * t), x, y));
    }
  return img;
}

// Arrow button pictures: a dark arrow with a light edge on the button face colour, pointing
// (dx, dy). The frame the game draws covers the outer two pixels.
Image arrow(const Palette &pal, int dx, int dy) {
  Image img(30, 30, uint8_t(pal.find("face")));
  int dark = pal.find("shade"), light = pal.find("white");
  for (int y = 0; y < 30; y++)
    for (int x = 0; x < 30; x++) {
      // Coordinates along (a) and across (b) the arrow's direction, centred on the button.
      double u = x + 0.5 - 15, v = y + 0.5 - 15;
      double a = u * dx + v * dy, b = -u * dy + v * dx;
      bool head = a >= -2 && a <= 7 && std::abs(b) <= (7 - a) * 0.95;
      bool shaft = a >= -8 && a < -1 && std::abs(b) <= 2.6;
      if (head || shaft) img.set(x, y, dark);
    }
  // Light the edges that face the top left.
  Image lit = img;
  for (int y = 1; y < 29; y++)
    for (int x = 1; x < 29; x++)
      if (img.get(x, y) == dark && (img.get(x - 1, y) != dark || img.get(x, y - 1) != dark))
        lit.set(x, y, pal.find("steel.4"));
  for (int y = 1; y < 29; y++)
    for (int x = 1; x < 29; x++)
      if (img.get(x, y) != dark && (img.get(x - 1, y) == dark || img.get(x, y - 1) == dark))
        lit.set(x, y, light);
  return lit;
}

// The menu picture: a plaque with the vorbel and the game's name, 370x105.
Image menu_banner(const Palette &pal, const Sources &src) {
  Image img(370, 105);
  sky(img, pal, 0, 0, 369, 104, 0.05, 0.4);
  stars(img, pal, 0, 0, 369, 104, 70, 231);
  Image line1 = draw_logo(pal, src, "Vorbel", 50, 0.12);
  Image line2 = draw_logo(pal, src, "Endurnal", 38, 0.12);
  Image hero = draw_vorbel_portrait(pal, 78);
  img.blit(hero, 14, 16);
  img.blit(line1, 108 + (250 - line1.w) / 2, 6);
  img.blit(line2, 108 + (250 - line2.w) / 2, 58);
  // A rounded double border in the screen border blue.
  int border = pal.find("border"), dark = pal.find("blue.3");
  img.rect(0, 0, 369, 104, dark);
  img.rect(1, 1, 368, 103, border);
  img.rect(3, 3, 366, 101, pal.find("blue.6"));
  for (auto [x, y] : {std::pair{0, 0}, {369, 0}, {0, 104}, {369, 104}})
    img.set(x, y, pal.find("face"));
  return img;
}

// The upper panel box: the vorbel's portrait in a starlit maze corridor, 175x150 (the frame
// covers the outer ten pixels of three sides).
Image upper_panel(const Palette &pal) {
  Image img(175, 150);
  sky(img, pal, 0, 0, 174, 99, 0.0, 0.5);
  stars(img, pal, 10, 10, 164, 80, 50, 221);
  std::vector<Image> walls = wall_set(pal, 0);
  for (int x = 0; x < 9; x++) img.blit(walls[10], x * 20, 88);   // back wall
  for (int x = 0; x < 9; x++) img.blit(walls[10], x * 20, 128);  // front wall
  for (int i = 0; i < 6; i++) img.blit(glow_ball(pal, 6, "gold"), 16 + i * 28, 115);
  img.blit(draw_vorbel_portrait(pal, 84), 46, 30);
  return img;
}

// The lower panel box: plain status colour where the game writes its lines, icons beside them,
// 175x300.
Image lower_panel(const Palette &pal, const std::vector<Image> &sprites, const Image &ball,
                  const ArtBook &icons) {
  Image img(175, 300, uint8_t(pal.find("panel")));
  const Ramp &night = pal.ramp("night");
  // Icon column and the bands above and below the text area, a shade darker than the panel.
  for (int y = 0; y < 300; y++)
    for (int x = 0; x < 175; x++)
      if (x < 35 || y < 40 || y > 260) img.set(x, y, night.dither(0.1 + 0.12 * y / 300.0, x, y));
  for (int y = 40; y <= 260; y++) img.set(34, y, night.at(5));
  img.hline(35, 174, 39, night.at(5));
  img.hline(35, 174, 261, night.at(1));
  // Icons: score, lives, level, best score, bugs eaten; each beside its line of text.
  img.blit(ball, 12, 46);
  img.blit(sprites.at(40), 12, 86);
  img.blit(icons.resolve("flag", pal), 12, 121);
  img.blit(icons.resolve("crown", pal), 12, 166);
  img.blit(sprites.at(0), 12, 228);
  // A row of ornament balls on top and a parade of bugs at the bottom.
  for (int i = 0; i < 5; i++) img.blit(glow_ball(pal, 8, i % 2 ? "ice" : "gold"), 40 + i * 24, 20);
  for (int i = 0; i < 5; i++) img.blit(sprites.at(size_t(4 * i + 4)), 20 + i * 28, 268);
  return img;
}

// The title screen: the name in big gold letters over a night sky, a neon maze floor running to
// the horizon, the vorbel in front and bugs on the way. Buttons sit at x 245..385, y 290..345.
Image title(const Palette &pal, const Sources &src, const std::vector<Image> &sprites) {
  constexpr int kW = 640, kH = 480, kHorizon = 372;
  Image img(kW, kH);
  sky(img, pal, 0, 0, kW - 1, kHorizon, 0.0, 0.72);
  stars(img, pal, 0, 0, kW - 1, 300, 260, 201);
  // A ringed planet low in the sky on the right: the far half of the ring, the planet, the near
  // half.
  const Ramp &pink = pal.ramp("pink");
  auto ring = [&](bool near_half) {
    for (double a = 0; a < 6.2832; a += 0.004) {
      if ((std::sin(a) > 0) != near_half) continue;
      int x = int(555 + 62 * std::cos(a)), y = int(285 + 14 * std::sin(a) - 10 * std::cos(a));
      img.set(x, y, pink.at(near_half ? 11 : 7));
    }
  };
  ring(false);
  img.blit(glow_ball(pal, 70, "violet"), 520, 250);
  ring(true);
  // The maze floor in perspective: lines to a vanishing point and rows closing up to the horizon.
  const Ramp &night = pal.ramp("night");
  for (int y = kHorizon + 1; y < kH; y++)
    for (int x = 0; x < kW; x++)
      img.set(x, y, night.dither(0.05 + 0.25 * (kH - y) / double(kH - kHorizon), x, y));
  int vx = 320;
  for (int k = -16; k <= 16; k++)
    for (int y = kHorizon + 4; y < kH; y++) {
      double f = double(y - kHorizon) / (kH - kHorizon);
      int x = int(std::lround(vx + k * 60 * f));
      img.set(x, y, pal.ramp("blue").at(6 + int(8 * f)));
    }
  for (int i = 1; i <= 12; i++) {
    double f = std::pow(i / 12.0, 2.0);
    int y = kHorizon + int(f * (kH - kHorizon));
    img.hline(0, kW - 1, y, pal.ramp("blue").at(5 + int(9 * f)));
  }
  img.hline(0, kW - 1, kHorizon, pal.find("pause3"));
  // Balls along the middle corridor, shrinking towards the horizon.
  for (int i = 0; i < 7; i++) {
    double f = std::pow((i + 0.5) / 7.0, 1.6);
    int d = std::max(3, int(4 + 14 * f));
    int y = kHorizon + 4 + int(f * 90), x = vx + int(30 * f) - d / 2;
    img.blit(glow_ball(pal, d, "gold"), x, y - d);
  }
  // The cast: the vorbel in front, two bugs closing in.
  img.blit(draw_vorbel_portrait(pal, 96), 60, 368);
  img.blit(scaled(sprites.at(8), 3), 470, 392);
  img.blit(scaled(sprites.at(16), 2), 410, 376);
  // The name, in two lines above the buttons.
  Image line1 = draw_logo(pal, src, "Vorbel", 104, 0.14);
  Image line2 = draw_logo(pal, src, "Endurnal", 80, 0.14);
  img.blit(line1, (kW - line1.w) / 2, 34);
  img.blit(line2, (kW - line2.w) / 2, 160);
  return img;
}

// The mouse pointer, for screens that want their own: white with a dark edge.
Image pointer(const Palette &pal) {
  Image img(16, 16);
  int white = pal.find("white"), ink = pal.find("ink");
  for (int y = 0; y < 16; y++)
    for (int x = 0; x <= y && x < 11; x++) {
      bool tail = y > 10 && x >= 3 && x <= 5;
      bool head = y <= 11 && x <= y - (y > 8 ? (y - 8) * 2 : 0);
      if (head || tail) img.set(x, y, white);
    }
  Image out = img;
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 16; x++)
      if (!img.get(x, y) &&
          (img.get(x - 1, y) || img.get(x + 1, y) || img.get(x, y - 1) || img.get(x, y + 1)))
        out.set(x, y, ink);
  return out;
}

}  // namespace

Image draw_logo(const Palette &pal, const Sources &src, const std::string &text, int pixels,
                double shear) {
  int cw = 0, ch = 0;
  std::vector<uint8_t> cov =
      render_text_coverage(src.font_dir + "/DejaVuSans-Bold.ttf", pixels, text, shear, cw, ch);
  constexpr int kPad = 6;
  int w = cw + 2 * kPad, h = ch + 2 * kPad;
  auto in = [&](int x, int y) {
    x -= kPad, y -= kPad;
    return x >= 0 && y >= 0 && x < cw && y < ch && cov[size_t(y * cw + x)] >= 128;
  };
  auto near = [&](int x, int y, int r) {
    for (int j = -r; j <= r; j++)
      for (int i = -r; i <= r; i++)
        if (i * i + j * j <= r * r + 1 && in(x + i, y + j)) return true;
    return false;
  };
  Image img(w, h);
  const Ramp &gold = pal.ramp("gold");
  const Ramp &orange = pal.ramp("orange");
  int thick = std::max(2, pixels / 26);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      if (in(x, y)) {
        double t = double(y - kPad) / ch;
        int c;
        if (!in(x, y - 1) || !in(x, y - 2))
          c = gold.at(14);  // lit top edges
        else if (!in(x, y + 1) || !in(x + 1, y + 1))
          c = orange.at(6);  // shaded undersides
        else if (t < 0.5)
          c = gold.dither(0.95 - 0.5 * t, x, y);
        else
          c = orange.dither(0.95 - 0.55 * (t - 0.5) * 2, x, y);
        img.set(x, y, c);
      } else if (near(x, y, thick)) {
        img.set(x, y, pal.find("ink2"));
      } else if (near(x - thick - 1, y - thick - 1, thick)) {
        img.set(x, y, pal.find("ink"));  // drop shadow to the lower right
      }
    }
  return img;
}

Image draw_vorbel_portrait(const Palette &pal, int size) {
  Image img(size, size);
  const Ramp &orange = pal.ramp("orange");
  double s = size / 100.0;  // drawn on a 100-unit grid
  auto circle = [&](double cx, double cy, double r, double px, double py) {
    return std::hypot(px - cx * s, py - cy * s) <= r * s;
  };
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      double px = x + 0.5, py = y + 0.5;
      // Feet first, the body over them.
      if (circle(30, 90, 11, px, py) || circle(70, 90, 11, px, py)) img.set(x, y, orange.at(4));
      // Tuft of fur on top.
      if (circle(50, 9, 7, px, py) && !circle(56, 5, 6, px, py)) img.set(x, y, orange.at(11));
      double dx = (px - 50 * s) / (42 * s), dy = (py - 50 * s) / (41 * s), rr = dx * dx + dy * dy;
      if (rr <= 1) {
        double nz = std::sqrt(1 - rr);
        double l = std::max(0.0, -0.45 * dx - 0.55 * dy + 0.7 * nz);
        double t = 0.2 + 0.72 * l + 0.25 * std::pow(l, 12);
        img.set(x, y, rr > 0.9 ? orange.at(3) : orange.dither(t, x, y));
      }
    }
  // Face: two big eyes with glints, rosy cheeks and a happy open mouth.
  int white = pal.find("white"), ink = pal.find("ink"), glint = pal.find("glint");
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      double px = x + 0.5, py = y + 0.5;
      for (double ex : {35.0, 65.0}) {
        if (circle(ex, 40, 11, px, py)) img.set(x, y, white);
        if (circle(ex + 2, 42, 6.5, px, py)) img.set(x, y, ink);
        if (circle(ex - 0.5, 38.5, 2.6, px, py)) img.set(x, y, glint);
      }
      for (double cx : {22.0, 78.0})
        if (circle(cx, 57, 6, px, py) && ((x + y) % 2 == 0 || circle(cx, 57, 3.5, px, py)))
          img.set(x, y, pal.find("cheek"));
      bool mouth = circle(50, 58, 14, px, py) && py > 60 * s;
      if (mouth) img.set(x, y, circle(50, 76, 9, px, py) ? pal.find("rose") : pal.find("red.2"));
    }
  // Outline the whole creature in its darkest orange so it reads on any background.
  Image out = img;
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++)
      if (!img.get(x, y) &&
          (img.get(x - 1, y) || img.get(x + 1, y) || img.get(x, y - 1) || img.get(x, y + 1)))
        out.set(x, y, orange.at(1));
  return out;
}

std::vector<dat::Object> build_vorbel_dat(const Palette &pal, const Sources &src) {
  std::vector<dat::Object> objects(kObjects);
  std::vector<bool> given(kObjects, false);
  auto put = [&](int i, dat::Object o) {
    objects[size_t(i)] = std::move(o);
    given[size_t(i)] = true;
  };
  std::vector<Image> sprites = sprite_images(pal, src);
  ArtBook icons = ArtBook::load(src.art_dir + "/screens.txt");

  put(0, draw_vorbel_portrait(pal, 32).to_object("ICON"));
  put(1, button_face(pal, 240, 30, 0).to_object("BUTTON_FACE"));
  put(2, arrow(pal, -1, 0).to_object("ARROW_LEFT"));
  put(3, arrow(pal, 0, -1).to_object("ARROW_UP"));
  put(4, arrow(pal, 1, 0).to_object("ARROW_RIGHT"));
  put(5, button_face(pal, 140, 25, 0).to_object("TITLE_BUTTON"));
  put(6, arrow(pal, 0, 1).to_object("ARROW_DOWN"));

  std::string font_dir = src.font_dir + "/";
  for (const FontSpec &f : load_font_specs(src.art_dir + "/fonts.txt")) {
    if (f.object < 0 || f.object >= kObjects || given[size_t(f.object)])
      throw Error("fonts.txt: object " + std::to_string(f.object) +
                  " is outside vorbel.dat or taken");
    put(f.object, render_font("FONT_" + f.name, font_dir + f.file, f.pixels, f.spacing));
  }

  // Frame pieces at the indices the play screen draws them from.
  auto straight = [&](Band b) { return frame_piece(pal, [b](int, int) { return b; }); };
  put(8, straight(kVertical).to_object("FRAME_RIGHT"));
  put(9, frame_piece(pal, [](int u, int) {
           return u < 5 ? kHorizontal : kVertical;
         }).to_object("FRAME_RJOIN"));
  put(10, straight(kHorizontal).to_object("FRAME_DIVIDER"));
  put(11, straight(kVertical).to_object("FRAME_LEFT"));
  put(12, corner(pal, false, false).to_object("FRAME_TL"));
  put(13, corner(pal, true, false).to_object("FRAME_TR"));
  put(14, corner(pal, false, true).to_object("FRAME_BL"));
  put(15, corner(pal, true, true).to_object("FRAME_BR"));
  put(16, straight(kHorizontal).to_object("FRAME_BOTTOM"));
  put(17, straight(kHorizontal).to_object("FRAME_TOP"));
  put(18, frame_piece(pal, [](int u, int) {
            return u < 5 ? kVertical : kHorizontal;
          }).to_object("FRAME_LJOIN"));
  put(20, frame_piece(pal, [](int u, int v) {
            return std::abs(2 * u - 9) < std::abs(2 * v - 9) ? kVertical : kHorizontal;
          }).to_object("FRAME_CROSS"));

  put(21, pal.to_object("PALETTE"));
  put(22, upper_panel(pal).to_object("PANEL_TOP"));
  put(23, menu_banner(pal, src).to_object("MENU_PICTURE"));
  put(24, button_face(pal, 240, 30, -0.25).to_object("BUTTON_FACE_PRESSED"));
  put(26, pointer(pal).to_object("POINTER"));
  put(27, pattern(pal).to_object("PATTERN"));
  Image power = tile_images(19, pal, src).at(5);
  put(28, lower_panel(pal, sprites, power, icons).to_object("PANEL_BOTTOM"));
  put(29, title(pal, src, sprites).to_object("TITLE_BACK"));

  for (int i = 0; i < kObjects; i++)
    if (!given[size_t(i)]) throw Error("vorbel.dat: object " + std::to_string(i) + " is not made");
  return objects;
}

}  // namespace art
