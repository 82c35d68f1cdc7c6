// The menu button and the drawing helpers every menu screen uses: bevelled frames, shadowed
// and centred text, and the mouse hit test.
#include <cstring>

#include "Template.h"

void DrawFrame(int x1, int y1, int x2, int y2, int c1, int c2) {
  hline(screen, x1, y1, x2, c1);
  hline(screen, x1, y2, x2, c2);
  vline(screen, x1, y1, y2, c1);
  vline(screen, x2, y1, y2, c2);
  hline(screen, x1 + 1, y1 + 1, x2 - 1, c1);
  hline(screen, x1 + 1, y2 - 1, x2 - 1, c2);
  vline(screen, x1 + 1, y1 + 1, y2 - 1, c1);
  vline(screen, x2 - 1, y1 + 1, y2 - 1, c2);
}

void FillPattern(int x1, int y1, int x2, int y2) {
  drawing_mode(DRAW_MODE_COPY_PATTERN, Graphic(GFX_PATTERN), 0, 0);
  rectfill(screen, x1, y1, x2, y2, 1);
  solid_mode();
}

void Dtextout(BITMAP *bmp, FONT *f, const char *s, int x, int y, int color, int shadow) {
  text_mode(-1);
  textout(bmp, f, s, x + 1, y + 1, shadow);
  textout(bmp, f, s, x, y, color);
}

// Labels get the same one-pixel shadow as Dtextout: it keeps them readable on any face.
void Dtextout_centre(BITMAP *bmp, FONT *f, const char *s, int x, int y, int color, int shadow) {
  text_mode(-1);
  textout_centre(bmp, f, s, x + 1, y + 1, shadow);
  textout_centre(bmp, f, s, x, y, color);
}

int mouseinbox(int x1, int y1, int x2, int y2) {
  int mx = mouse_x, my = mouse_y;
  return (mx > x1 && mx < x2 && my > y1 && my < y2) ? -1 : 0;
}

Button::Button(const char *label, int left, int top, int right, int bottom, int c1, int c2,
               BITMAP *pic)
    : x1(left),
      x2(right),
      y1(top),
      y2(bottom),
      color1(c1),
      color2(c2),
      picture(pic),
      name(),
      pressed(0) {
  ChangeName(label);
}

// Labels longer than the field are cut rather than run past it.
void Button::ChangeName(const char *label) {
  if (!label) label = "";
  std::strncpy(name, label, sizeof name - 1);
  name[sizeof name - 1] = 0;
}

void Button::DrawButton() {
  show_mouse(nullptr);
  if (name[0] == 0) {
    if (picture) blit(picture, screen, 0, 0, x1, y1, x2 - x1, y2 - y1);
  } else {
    rectfill(screen, x1, y1, x2, y2, 1);
  }
  solid_mode();
  FONT *f = GraphicFont(GFX_FONT_BUTTON);
  int ty = y1 + ((y2 - y1) - text_height(f)) / 2;
  if (pressed == 0) {
    DrawFrame(x1, y1, x2, y2, color2, color1);
    Dtextout_centre(screen, f, name, x1 + (x2 - x1) / 2, ty, color2, color1);
  } else {
    DrawFrame(x1, y1, x2, y2, color1, color2);
    Dtextout_centre(screen, f, name, x1 + (x2 - x1) / 2, ty, color1, color2);
  }
  show_mouse(screen);
}

static void ClickSound() {
  if (sound_on)
    play_sample(static_cast<SAMPLE *>(sounds[SND_CLICK].dat), sound_volume, 125, 1000, 0);
}

int Button::Clicked() {
  if (!mouseinbox(x1, y1, x2, y2) || !(mouse_b & 1)) return 0;
  pressed = -1;
  DrawButton();
  ClickSound();
  while (mouse_b & 1) {
    int inside = mouseinbox(x1, y1, x2, y2);
    if (inside && pressed == 0) {
      ClickSound();
      pressed = -1;
      DrawButton();
    } else if (!inside && pressed == -1) {
      pressed = 0;
      DrawButton();
    }
    rest(0);  // yield while the button is held: the mouse is updated by another thread
  }
  int result = pressed;
  pressed = 0;
  DrawButton();
  return result;
}
