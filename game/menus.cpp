// The screens between start-up and play: the title picture, the start-game menu and its six
// buttons, the scrolling credits, and the two routines that start the background music.
#include "Template.h"

#include "modux.h"

namespace {

// A module object of "sounds.dat"; one the datafile does not hold starts nothing.
void StartModule(int n) {
  if (auto *m = static_cast<MODUX *>(DatafileObject(sounds, n, DAT_MUX))) play_mod(m, TRUE);
}

// The credits, nine lines shown 20 pixels apart.
const char *const kCredits[] = {
    "Programming,Graphics,Level Design",
    "Music and Sounds: the modux workshop",
    " ",
    "Dedicated  to: ",
    "everyone who ever chased a ball",
    "through a maze at midnight,",
    "to the bugs that taught us patience,",
    "and to all who play",
    "one more level before bed.",
};
constexpr int kCreditLines = sizeof(kCredits) / sizeof(kCredits[0]);

// The start-game menu: each button, where it sits, what it does, and whether the screen it opens
// leaves a palette of its own behind. An entry without an action leaves the menu.
struct MenuEntry {
  Button **button;
  const char *label;
  int x1, y1;
  void (*action)();
  int palette;  // -1: the game's palette is set again afterwards
};
const MenuEntry kMenu[] = {
    {&btn_start_game, "Start Game", 50, 140, PlayGame, 0},
    {&btn_custom_game, "Play Custom Level", 50, 200, PlayCustomGame, -1},
    {&btn_prev_menu, "Previous Menu", 350, 260, nullptr, 0},
    {&btn_high_scores, "View High Scores", 350, 140, ViewHighScores, 0},
    {&btn_credits, "Credits", 350, 200, ViewCredits, -1},
    {&btn_options, "Game Options", 50, 260, Options, -1},
};

}  // namespace

void PlayTheme() {
  if (music_on && !music_silent) StartModule(SND_TITLE);
}

int music_silent = 0;

// The song is drawn whenever music is on, even where none can sound: a replay needs the same draws.
void PlaySong() {
  if (!music_on) return;
  int song = SND_FIRST_SONG + Random(NUM_SONGS);
  if (!music_silent) StartModule(song);
}

void DrawTitle() {
  show_mouse(nullptr);
  fade_out(255);
  blit(Graphic(GFX_TITLE_BACK), screen, 0, 0, 0, 0, 640, 480);
  btn_new_game->DrawButton();
  btn_exit->DrawButton();
  show_mouse(nullptr);
  fade_in(GamePalette(), 5);
  show_mouse(screen);
}

void DrawStartGameMenu() {
  show_mouse(nullptr);
  FillPattern(0, 0, SCREEN_W, SCREEN_H);
  text_mode(-1);
  rect(screen, 0, 0, SCREEN_W - 1, SCREEN_H - 1, 29);
  textout(screen, font, "Vorbel Endurnal, v2.0 - eat the balls, mind the bugs", 150, 468, 15);
  draw_sprite(screen, Graphic(GFX_MENU_PICTURE), 135, 25);
  show_mouse(screen);
  for (const MenuEntry &e : kMenu) (*e.button)->DrawButton();
}

void StartGameMenu() {
  BITMAP *face = Graphic(GFX_BUTTON_FACE);
  for (const MenuEntry &e : kMenu)
    *e.button = new Button(e.label, e.x1, e.y1, e.x1 + 240, e.y1 + 30, 15, 25, face);

  show_mouse(nullptr);
  fade_out(10);
  DrawStartGameMenu();
  show_mouse(nullptr);
  fade_in(GamePalette(), 3);
  show_mouse(screen);
  PlaySong();

  // After every screen the menu waits for Escape to come up: the press that left that screen
  // must not leave the menu too.
  for (int done = 0; !done && !LeaveRequested();) {
    for (const MenuEntry &e : kMenu) {
      if (!(*e.button)->Clicked()) continue;
      if (!e.action) {
        done = -1;
        break;
      }
      e.action();
      if (LeaveRequested()) break;
      WaitEscapeReleased();
      DrawStartGameMenu();
      if (e.palette) set_palette(GamePalette());
      PlaySong();
      break;
    }
    if (done || LeaveRequested() || key[KEY_ESC]) break;
    rest(1);  // a polling screen need not hold a whole core
  }
  WaitEscapeReleased();  // the title below polls Escape too
  for (const MenuEntry &e : kMenu) {
    delete *e.button;
    *e.button = nullptr;
  }
}

void ViewCredits() {
  PlaySong();
  show_mouse(nullptr);
  fade_out(255);
  blit(Graphic(GFX_TITLE_BACK), screen, 0, 0, 0, 0, 640, 480);
  fade_in(GamePalette(), 5);
  text_mode(-1);
  clear_keybuf();

  FONT *f = GraphicFont(GFX_FONT_STATUS);
  int y = SCREEN_H;
  while (!keypressed() && !LeaveRequested()) {
    blit(Graphic(GFX_TITLE_BACK), screen_bitmap, 0, 0, 0, 0, 640, 480);
    for (int i = 0; i < kCreditLines; i++)
      textout_centre(screen_bitmap, f, kCredits[i], SCREEN_W / 2, y + 20 * i, 255);
    vsync();
    vsync();
    blit(screen_bitmap, screen, 0, 0, 0, 0, 640, 480);
    y -= 2;
    if (y + 180 < 0) y = SCREEN_H;
  }
  fade_out(2);
  clear_to_color(screen, 0);
}
