// The presentation of play. The game loop's logic reports what happens (a game or level begun, a
// pass made, the safety count, a life lost or gained, the game over, a custom level cleared, the
// pause, the quit question, and the moments with a sound effect) to the presenter in use, which
// shows it on the bitmap it was handed and waits for the player where the game waits. The
// window's presenter plays for a player; the watched one shows a replay (its waits are moments,
// no key is asked for); the null one shows and waits for nothing, for a fast replay, the tests and
// the benchmarks.
#include <algorithm>
#include <cstdio>

#include "Template.h"

namespace {

FONT *StatusFont() { return GraphicFont(GFX_FONT_STATUS); }
FONT *LargeFont() { return GraphicFont(GFX_FONT_LARGE); }
FONT *ButtonFont() { return GraphicFont(GFX_FONT_BUTTON); }

int watching = 0;  // -1: the presenter in use shows a replay, whose waits are moments

// Every wait gives way to a signal, which ends the program as "Exit" does.
void WaitWhileHeld(int k) {
  while (key[k] && !exit_requested) rest(1);
}

// Waits for Space; the close button and a signal end the wait too. A replay waits a moment.
void WaitForSpace(int moment) {
  if (watching) {
    rest(unsigned(moment));
    return;
  }
  while (!key[KEY_SPACE] && !exit_requested && !close_requested) rest(1);
}

// The next key typed, as readkey() gives it; 0 when a signal came first, and Y (yes, quit) when
// the close button was clicked meanwhile.
int WaitForKey() {
  for (;;) {
    if (keypressed()) return readkey();
    if (exit_requested) return 0;
    if (close_requested) return KEY_Y << 8;
    rest(1);
  }
}

// Keys held when the window lost the focus are never seen coming up: forget them all.
void ForgetKeys() {
  for (int k = 0; k < KEY_MAX; k++) key[k] = 0;
  clear_keybuf();
}

// Lines over the maze sit on a dark, framed box of their own: over wall tiles they could not be
// read.
void DarkBox(BITMAP *bmp, int x1, int y1, int x2, int y2) {
  rectfill(bmp, x1, y1, x2, y2, 0);
  rect(bmp, x1, y1, x2, y2, 142);
}

void DrawPaused(BITMAP *bmp) {
  DarkBox(bmp, 190, 232, 330, 272);
  text_mode(-1);
  textout(bmp, font, "[Paused]", 220, 240, 66);
  textout(bmp, font, "Press [C] key", 200, 250, 68);
  textout(bmp, font, "to continue..", 200, 260, 70);
}

// A message of play ("You Died!!!") with "Press space" below it.
void DrawMessage(BITMAP *bmp, const char *message) {
  FONT *big = ButtonFont(), *small = StatusFont();
  const char press[] = "Press space";
  const int width = std::max(text_length(big, message), text_length(small, press));
  DarkBox(bmp, 190, 232, 200 + width + 10, 265 + text_height(small) + 7);
  text_mode(-1);
  textout(bmp, big, message, 200, 240, 15);
  textout(bmp, small, press, 200, 265, 15);
}

void ShowLives(BITMAP *bmp) {
  sprintf(text, "Lives: %6d", vorbel.lives);
  DrawStatusLine(text, 250, 15, bmp);
}

// The safety count's line sits one text row below "Bugs Eaten" (y 390): any nearer, and the two
// opaque lines, each redrawn every pass, would clip each other.
void ShowSafety(BITMAP *bmp) {
  if (state_timer)
    sprintf(text, "Safety: %3d", state_timer);
  else
    sprintf(text, "Safety: %4d", 0);
  DrawStatusLine(text, 410, 32, bmp);
}

void ShowGameStart(BITMAP *bmp, int fade_speed) {
  show_mouse(nullptr);
  fade_out(fade_speed);
  clear_keybuf();
  InitGameGraphics(bmp);
  fade_in(GamePalette(), 200);
}

void ShowGameEnd(BITMAP *bmp) { show_mouse(bmp); }

void ShowLevelStart(BITMAP *bmp) {
  ShowLives(bmp);
  sprintf(text, "Level: %6d", current_map_played + 1);
  DrawStatusLine(text, 285, 15, bmp);
  DrawStatusLine("High Score:", 310, 15, bmp);
  // The panel ends at its frame (x 630): a long name of wide letters is cut there.
  ClipText(StatusFont(), HighScores[0].name, 128, text, sizeof HighScores[0].name);
  DrawStatusLine(text, 330, 85, bmp);
  sprintf(text, "%06d", HighScores[0].score);
  DrawStatusLine(text, 350, 85, bmp);
}

void ShowPass(BITMAP *bmp) { DrawGameMap(bmp); }

// The panel shows the lives left while the message waits.
void ShowLifeLost(BITMAP *bmp) {
  ShowLives(bmp);
  DrawMessage(bmp, "You Died!!!");
  WaitForSpace(1000);
}

// The maze is drawn afresh first, which wipes the quit question (it lies over the maze) from under
// the message; the second line sits a gap below the first, so the two never touch.
void ShowGameOver(BITMAP *bmp) {
  DrawGameMap(bmp);
  FONT *f = LargeFont();
  const int top = 160, gap = 10;
  text_mode(-1);
  textout(bmp, f, "G A M E   O V E R", 150, top, 15);
  textout(bmp, f, "Press Spacebar", 192, top + text_height(f) + gap, 15);
  WaitForSpace(2000);
}

// A custom level is the whole game: its end is said before the name is asked for.
void ShowLevelCleared(BITMAP *bmp) {
  DrawGameMap(bmp);
  DrawMessage(bmp, "Level Cleared!!!");
  WaitForSpace(1000);
}

// "[Paused]" until a key is typed and then C is held. Keys held when it began are forgotten, and
// so are keys typed elsewhere before the focus came back.
void ShowPause(BITMAP *bmp) {
  ForgetKeys();
  focus_back = 0;
  DrawPaused(bmp);
  for (;;) {
    if (focus_back.exchange(0)) ForgetKeys();
    if (keypressed() || exit_requested) break;
    rest(1);
  }
  if (keypressed()) readkey();
  while (!key[KEY_C] && !exit_requested) {
    DrawPaused(bmp);
    rest(1);
  }
}

// A message left on the maze ("You Died!!!") goes before the question comes.
int AskQuit(BITMAP *bmp) {
  WaitWhileHeld(KEY_ESC);
  DrawGameMap(bmp);
  const char question[] = "Are you sure you want to quit? (y/n)";
  FONT *f = StatusFont();
  DarkBox(bmp, 90, 242, 100 + text_length(f, question) + 10, 250 + text_height(f) + 7);
  text_mode(-1);
  textout(bmp, f, question, 100, 250, 15);
  clear_keybuf();
  return (WaitForKey() >> 8) == KEY_Y ? -1 : 0;
}

void Heard(int what) {
  static const int kEffect[] = {SND_BALL,      SND_POWER,   SND_BUG,       SND_CAUGHT,
                                SND_GAME_OVER, SND_CLEARED, SND_EXTRA_LIFE};
  if (sound_on && what >= 0 && what < int(sizeof kEffect / sizeof kEffect[0]))
    PlaySoundA(kEffect[what]);
}

void Nothing(BITMAP *) {}
void NothingHeard(int) {}
void NothingFaded(BITMAP *, int) {}
int NoAnswer(BITMAP *) { return 0; }

const presenter_struct kWindow = {
    nullptr,   -1,           ShowGameStart, ShowGameEnd,      ShowLevelStart, ShowPass, ShowSafety,
    ShowLives, ShowLifeLost, ShowGameOver,  ShowLevelCleared, ShowPause,      AskQuit,  Heard};
const presenter_struct kNone = {nullptr, 0,       NothingFaded, Nothing,     Nothing,
                                Nothing, Nothing, Nothing,      Nothing,     Nothing,
                                Nothing, Nothing, NoAnswer,     NothingHeard};

}  // namespace

presenter_struct presenter = kNone;

void UsePresenter(int kind, BITMAP *bmp) {
  presenter = kind == PRESENT_NONE ? kNone : kWindow;
  presenter.bmp = kind == PRESENT_NONE ? nullptr : bmp;
  watching = kind == PRESENT_WATCHED ? -1 : 0;
}
