// gameshots: the pictures the installation carries, drawn at build time from the game's own
// datafiles through the game's own drawing code, on off-screen bitmaps (no display needed).
//   gameshots RUN_DIR OUT_DIR
// writes OUT_DIR/screenshot.png, the play screen of the first level a few steps into a game,
// and OUT_DIR/icon-N.png for N = 16, 32, 48, 64, 128, 256: the standing vorbel, scaled by whole
// pixels (crisp edges) and centred on a transparent square.
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "Template.h"
#include "modux.h"

namespace {

struct Rgba {
  int width, height;
  std::vector<unsigned char> pixels;  // 4 bytes a pixel, rows top to bottom
};

// 8-bit RGBA PNG through libpng; its error exits come back here through setjmp.
bool WritePng(const std::string &path, const Rgba &image) {
  FILE *fp = fopen(path.c_str(), "wb");
  if (!fp) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(fp);
    return false;
  }
  png_init_io(png, fp);
  png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < image.height; y++)
    png_write_row(png, const_cast<png_bytep>(&image.pixels[size_t(4) * image.width * y]));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return fclose(fp) == 0;
}

// The palette's 6-bit channels stretched to 8 bits; `transparent` leaves colour 0 see-through.
Rgba FromBitmap(BITMAP *b, int x0, int y0, int w, int h, const RGB *pal, bool transparent) {
  Rgba out{w, h, std::vector<unsigned char>(size_t(4) * w * h)};
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      int c = getpixel(b, x0 + x, y0 + y);
      unsigned char *p = &out.pixels[size_t(4) * (w * y + x)];
      p[0] = pal[c].r * 255 / 63, p[1] = pal[c].g * 255 / 63, p[2] = pal[c].b * 255 / 63;
      p[3] = transparent && c == 0 ? 0 : 255;
    }
  return out;
}

// The smallest box holding every drawn pixel of a sprite.
void DrawnBox(BITMAP *b, int *x0, int *y0, int *w, int *h) {
  int left = b->w, top = b->h, right = -1, bottom = -1;
  for (int y = 0; y < b->h; y++)
    for (int x = 0; x < b->w; x++)
      if (getpixel(b, x, y) != 0)
        left = std::min(left, x), right = std::max(right, x), top = std::min(top, y),
        bottom = std::max(bottom, y);
  if (right < 0) left = top = 0, right = b->w - 1, bottom = b->h - 1;
  *x0 = left, *y0 = top, *w = right - left + 1, *h = bottom - top + 1;
}

// Each icon pixel takes the sprite pixel under it: a whole-pixel zoom where the size allows, a
// nearest-pixel reduction below the sprite's own size.
Rgba Icon(const Rgba &sprite, int size) {
  int longest = std::max(sprite.width, sprite.height);
  int zoom = std::max(1, size / longest);
  int w = sprite.width * zoom, h = sprite.height * zoom;
  if (longest > size) w = sprite.width * size / longest, h = sprite.height * size / longest;
  Rgba out{size, size, std::vector<unsigned char>(size_t(4) * size * size, 0)};
  int ox = (size - w) / 2, oy = (size - h) / 2;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      int sx = x * sprite.width / w, sy = y * sprite.height / h;
      const unsigned char *s = &sprite.pixels[size_t(4) * (sprite.width * sy + sx)];
      std::copy(s, s + 4, &out.pixels[size_t(4) * (size * (oy + y) + ox + x)]);
    }
  return out;
}

// The first level after some steps: the vorbel has walked right eating balls, the bugs have left
// their start.
void DrawPlayScreen() {
  sound_on = music_on = 0;
  dif_level = 1;
  NewGameSetup();
  current_map_played = 0;
  vorbel.score = 0;
  InitGameGraphics();
  gmap = static_cast<map_struct *>(mapData[0].dat);
  LevelSetup();
  for (int step = 0; step < 24; step++) {
    MoveRight();
    for (int i = 0; i < num_bugs; i++) MoveBug(i);
  }
  DrawGameMap();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s RUN_DIR OUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string out = argv[2];
  install_allegro(SYSTEM_NONE, &errno, atexit);
  set_color_depth(8);
  register_datafile_modux();
  if (chdir(argv[1]) != 0) {
    std::fprintf(stderr, "gameshots: cannot enter %s\n", argv[1]);
    return 1;
  }
  LoadDatafiles();  // the game's own checks: a damaged datafile stops here with its message
  screen = create_bitmap(640, 480);
  map_bitmap = create_bitmap(441, 441);
  const RGB *pal = GamePalette();

  DrawPlayScreen();
  bool ok = WritePng(out + "/screenshot.png", FromBitmap(screen, 0, 0, 640, 480, pal, false));

  BITMAP *standing = static_cast<BITMAP *>(sprites[SPR_VORBEL_RIGHT].dat);
  int x0, y0, w, h;
  DrawnBox(standing, &x0, &y0, &w, &h);
  const Rgba sprite = FromBitmap(standing, x0, y0, w, h, pal, true);
  for (int size : {16, 32, 48, 64, 128, 256})
    ok = WritePng(out + "/icon-" + std::to_string(size) + ".png", Icon(sprite, size)) && ok;
  if (!ok) std::fprintf(stderr, "gameshots: cannot write the pictures into %s\n", argv[2]);
  destroy_bitmap(map_bitmap);
  destroy_bitmap(screen);
  screen = nullptr;
  for (DATAFILE *d : set_graphics) unload_datafile(d);
  for (DATAFILE *d : {graphics, sprites, mapData, sounds}) unload_datafile(d);
  return ok ? 0 : 1;
}
