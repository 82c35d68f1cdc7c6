// The screens between start-up and play: the title picture, the start-game menu and its six
// buttons, the scrolling credits, and the two routines that start the background music.
#include "Template.h"

#include <initializer_list>

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

void DeleteMenuButtons() {
  for (Button **b : {&btn_start_game, &btn_custom_game, &btn_options, &btn_high_scores,
                     &btn_credits, &btn_prev_menu}) {
    delete *b;
    *b = nullptr;
  }
}

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
  btn_start_game->DrawButton();
  btn_custom_game->DrawButton();
  btn_prev_menu->DrawButton();
  btn_high_scores->DrawButton();
  btn_credits->DrawButton();
  btn_options->DrawButton();
}

void StartGameMenu() {
  BITMAP *face = Graphic(GFX_BUTTON_FACE);
  btn_start_game = new Button("Start Game", 50, 140, 290, 170, 15, 25, face);
  btn_custom_game = new Button("Play Custom Level", 50, 200, 290, 230, 15, 25, face);
  btn_options = new Button("Game Options", 50, 260, 290, 290, 15, 25, face);
  btn_high_scores = new Button("View High Scores", 350, 140, 590, 170, 15, 25, face);
  btn_credits = new Button("Credits", 350, 200, 590, 230, 15, 25, face);
  btn_prev_menu = new Button("Previous Menu", 350, 260, 590, 290, 15, 25, face);

  show_mouse(nullptr);
  fade_out(10);
  DrawStartGameMenu();
  show_mouse(nullptr);
  fade_in(GamePalette(), 3);
  show_mouse(screen);
  PlaySong();

  // After every screen the menu waits for Escape to come up: the press that left that screen
  // must not leave the menu too.
  for (;;) {
    if (LeaveRequested()) break;
    if (btn_start_game->Clicked()) {
      PlayGame();
      if (LeaveRequested()) break;
      WaitEscapeReleased();
      DrawStartGameMenu();
      PlaySong();
    } else if (btn_custom_game->Clicked()) {
      PlayCustomGame();
      if (LeaveRequested()) break;
      WaitEscapeReleased();
      DrawStartGameMenu();
      set_palette(GamePalette());
      PlaySong();
    } else if (btn_prev_menu->Clicked()) {
      break;
    } else if (btn_high_scores->Clicked()) {
      ViewHighScores();
      if (LeaveRequested()) break;
      WaitEscapeReleased();
      DrawStartGameMenu();
      PlaySong();
    } else if (btn_credits->Clicked()) {
      ViewCredits();
      if (LeaveRequested()) break;
      WaitEscapeReleased();
      DrawStartGameMenu();
      set_palette(GamePalette());
      PlaySong();
    } else if (btn_options->Clicked()) {
      Options();
      if (LeaveRequested()) break;
      WaitEscapeReleased();
      DrawStartGameMenu();
      set_palette(GamePalette());
      PlaySong();
    }
    if (key[KEY_ESC]) break;
    rest(1);  // a polling screen need not hold a whole core
  }
  WaitEscapeReleased();  // the title below polls Escape too
  DeleteMenuButtons();
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
