// The play screen: the side panel's frame and pictures, drawn once per game, and the maze with
// its balls, bugs and vorbel, composed off-screen and copied to the bitmap given (the presenter's).
#include <cstdio>

#include "Template.h"

namespace {

// Object obj of a tile set, or null when the map names a set or object that is not there: maps
// come from files, and a picture that does not exist is simply not drawn.
BITMAP *SetPicture(int set, int obj) {
  if (set < 0 || set >= NUM_SETS || !set_graphics[set]) return nullptr;
  if (obj < 0 || obj >= set_sizes[set]) return nullptr;
  const DATAFILE &d = set_graphics[set][obj];
  return d.type == DAT_BITMAP ? static_cast<BITMAP *>(d.dat) : nullptr;
}

BITMAP *SpritePicture(int n) {
  if (!sprites || n < 0 || n >= num_sprites) return nullptr;
  return sprites[n].type == DAT_BITMAP ? static_cast<BITMAP *>(sprites[n].dat) : nullptr;
}

void DrawPicture(BITMAP *picture, int x, int y) {
  if (picture) draw_sprite(map_bitmap, picture, x, y);
}

}  // namespace

// What one cell shows, by its band of codes: the tile of a wall, or the ball or decoration of the
// sets 19 to 22 while the cell value says it is still there. The level editor draws with it too.
void DrawCellPicture(BITMAP *bmp, int code, int v, int px, int py) {
  const CellBand *band = CellBandOf(code);
  if (!band) return;
  BITMAP *picture = nullptr;
  if (band->wall)
    picture = SetPicture(code / 100, code % 100);
  else if (band->set >= 0 && v >= band->shown_min && v <= band->shown_max)
    picture = SetPicture(band->set, v);
  if (picture) draw_sprite(bmp, picture, px, py);
}

void InitGameGraphics(BITMAP *bmp) {
  clear_to_color(bmp, 0);
  draw_sprite(bmp, Graphic(GFX_PANEL_BOTTOM), 465, 160);
  draw_sprite(bmp, Graphic(GFX_PANEL_TOP), 465, 10);
  Draw3dFrame(bmp);
}

void Draw3dFrame(BITMAP *bmp) {
  draw_sprite(bmp, Graphic(GFX_FRAME_TL), 465, 10);
  draw_sprite(bmp, Graphic(GFX_FRAME_TR), 630, 10);
  draw_sprite(bmp, Graphic(GFX_FRAME_BL), 465, 450);
  draw_sprite(bmp, Graphic(GFX_FRAME_BR), 630, 450);
  for (int i = 0; i <= 15; i++) {
    draw_sprite(bmp, Graphic(GFX_FRAME_TOP), 472 + 10 * i, 10);
    draw_sprite(bmp, Graphic(GFX_FRAME_BOTTOM), 472 + 10 * i, 450);
  }
  for (int i = 0; i <= 13; i++) {
    draw_sprite(bmp, Graphic(GFX_FRAME_LEFT), 465, 20 + 10 * i);
    draw_sprite(bmp, Graphic(GFX_FRAME_RIGHT), 630, 20 + 10 * i);
  }
  for (int i = 0; i <= 28; i++) {
    draw_sprite(bmp, Graphic(GFX_FRAME_LEFT), 465, 160 + 10 * i);
    draw_sprite(bmp, Graphic(GFX_FRAME_RIGHT), 630, 160 + 10 * i);
  }
  draw_sprite(bmp, Graphic(GFX_FRAME_LJOIN), 465, 160);
  draw_sprite(bmp, Graphic(GFX_FRAME_RJOIN), 630, 160);
  for (int i = 0; i <= 15; i++) draw_sprite(bmp, Graphic(GFX_FRAME_DIVIDER), 475 + 10 * i, 160);
}

void DrawGameMap(BITMAP *bmp) {
  clear_to_color(map_bitmap, 0);
  for (int x = 0; x < MAP_W; x++)
    for (int y = 0; y < MAP_H; y++)
      DrawCellPicture(map_bitmap, gmap->cells[x][y], mapV[x][y], CELL * x, CELL * y);
  for (int i = 0; i < num_bugs && i < MAX_BUGS; i++)
    DrawPicture(SpritePicture(bugs[i].sprite), bugs[i].x, bugs[i].y);
  DrawPicture(SpritePicture(vorbel.sprite), vorbel.x, vorbel.y);
  blit(map_bitmap, bmp, 0, 0, 20, 20, MAP_W * CELL, MAP_H * CELL);

  sprintf(text, "Score: %06d", vorbel.score);
  DrawStatusLine(text, 210, 32, bmp);
  sprintf(text, "Bugs Eaten:%3d", vorbel.bugs_eaten);
  DrawStatusLine(text, 390, 32, bmp);
}

// The lines of the lower box are opaque, on the text background 159, and reach from x 500 to the
// frame. A line is drawn whole into a strip of that width and copied in one blit: the old text
// goes with it (a shorter text in a proportional font, "Safety:   0" after "Safety: 510", would
// otherwise leave digits of the longer one behind), and a line redrawn every pass never flickers.
void DrawStatusLine(const char *s, int y, int colour, BITMAP *bmp) {
  constexpr int kLeft = 500, kRight = 630;  // the panel's right frame piece starts at 630
  static BITMAP *strip = nullptr;
  FONT *f = GraphicFont(GFX_FONT_STATUS);
  int h = text_height(f);
  if (!strip || strip->h < h) {
    if (strip) destroy_bitmap(strip);
    strip = create_bitmap(kRight - kLeft, h);
  }
  clear_to_color(strip, 159);
  text_mode(159);
  textout(strip, f, s, 0, 0, colour);
  blit(strip, bmp, 0, 0, kLeft, y, kRight - kLeft, h);
}
