// The game loop: a whole game over the maps of "maps.dat", one level with its timer and start-up,
// the placing of the actors at every (re)start, and one pass of the loop (keys, steps of the
// vorbel and the bugs, the safety count, drawing, collisions, level end and extra lives).
#include "Template.h"

#include <chrono>
#include <cstdio>

namespace {

FONT* StatusFont() { return GraphicFont(GFX_FONT_STATUS); }
FONT* LargeFont() { return GraphicFont(GFX_FONT_LARGE); }

// Bugs in play, as an index bound that never leaves the bug table.
int BugsInPlay() { return num_bugs < 0 ? 0 : (num_bugs > MAX_BUGS ? MAX_BUGS : num_bugs); }

void WaitWhileHeld(int k) {
  while (key[k]) rest(1);
}

void WaitUntilHeld(int k) {
  while (!key[k]) rest(1);
}

void DrawLives() {
  text_mode(159);
  sprintf(text, "Lives: %6d", vorbel.lives);
  textout(screen, StatusFont(), text, 500, 250, 15);
}

void DrawPaused() {
  text_mode(-1);
  textout(screen, font, "[Paused]", 220, 240, 66);
  textout(screen, font, "Press [C] key", 200, 250, 68);
  textout(screen, font, "to continue..", 200, 260, 70);
}

// The commands of a pass, at most one, the first key found held winning. Answers -1 when the
// player has quit the game with Y.
int Commands() {
  if (key[KEY_ESC]) {
    WaitWhileHeld(KEY_ESC);
    text_mode(-1);
    textout(screen, StatusFont(), "Are you sure you want to quit? (y/n)", 100, 250, 15);
    clear_keybuf();
    if ((readkey() >> 8) == KEY_Y) {
      end_game = -1;
      return -1;
    }
  } else if (key[KEY_F5]) {
    SaveGame();
  } else if (key[KEY_F6]) {
    LoadGame();
  } else if (key[KEY_F10]) {
    WaitWhileHeld(KEY_F10);
    ScreenShot();
  } else if (key[KEY_P]) {
    WaitWhileHeld(KEY_P);
    DrawPaused();
    clear_keybuf();
    readkey();
    while (!key[KEY_C]) {
      DrawPaused();
      rest(1);
    }
  }
  return 0;
}

void VorbelStep() {
  if (vorbel_timer <= vorbel_speed) return;
  if (vorbel_move_direction == 0) {
    const JOYSTICK_AXIS_INFO* axis = joy[0].stick[0].axis;
    // Every direction asked for is tried, so up and down together step there and back.
    if (key[KEY_UP] || axis[1].d1) MoveUp();
    if (key[KEY_DOWN] || axis[1].d2) MoveDown();
    if (key[KEY_LEFT] || axis[0].d1) MoveLeft();
    if (key[KEY_RIGHT] || axis[0].d2) MoveRight();
  } else {
    switch (vorbel_move_direction) {
      case 1: MoveUp(); break;
      case 2: MoveDown(); break;
      case 3: MoveLeft(); break;
      case 4: MoveRight(); break;
      default: break;
    }
  }
  vorbel_timer = 0;
}

void BugStep() {
  if (bug_timer <= bug_speed) return;
  for (int i = 0; i < BugsInPlay(); i++) MoveBug(i);
  bug_timer = 0;
}

// The safety count runs in passes of the loop, which the loop's pacing holds to one per tick.
// Its line sits one text row below "Bugs Eaten" (y 390): any nearer, and the two opaque lines,
// each redrawn every pass, would clip each other.
constexpr int SAFETY_Y = 410;

void SafetyCount() {
  if (state_timer == 0) return;
  state_timer++;
  sprintf(text, "Safety: %3d", state_timer);
  textout(screen, StatusFont(), text, 500, SAFETY_Y, 32);
  if (state_timer > max_bugs_state) {
    for (int i = 0; i < BugsInPlay(); i++) bugs[i].state = BUG_NORMAL;
    state_timer = 0;
    sprintf(text, "Safety: %4d", 0);
    textout(screen, StatusFont(), text, 500, SAFETY_Y, 32);
  }
}

void GameOver() {
  textout(screen, LargeFont(), "G A M E   O V E R", 150, 160, 15);
  textout(screen, LargeFont(), "Press Spacebar", 192, 180, 15);
  WaitUntilHeld(KEY_SPACE);
}

}  // namespace

void StartLevel() {
  int bx = CELL * StartCell(gmap->bug_start_x), by = CELL * StartCell(gmap->bug_start_y);
  for (int i = 0; i < BugsInPlay(); i++) {
    bugs[i].x = bx;
    bugs[i].y = by;
    bugs[i].dx = 5;
    bugs[i].dy = 0;
    bugs[i].state = BUG_NORMAL;
    bugs[i].sprite = gmap->bug_sprite;
  }
  vorbel.x = CELL * StartCell(gmap->vorbel_start_x);
  vorbel.y = CELL * StartCell(gmap->vorbel_start_y);
  vorbel.sprite = VORBEL_RIGHT;

  DrawLives();
  sprintf(text, "Level: %6d", current_map_played + 1);
  textout(screen, StatusFont(), text, 500, 285, 15);
  textout(screen, StatusFont(), "High Score:", 500, 310, 15);
  // The panel ends at its frame (x 630): a long name of wide letters is cut there.
  ClipText(StatusFont(), HighScores[0].name, 128, text, sizeof HighScores[0].name);
  textout(screen, StatusFont(), text, 500, 330, 85);
  sprintf(text, "%06d", HighScores[0].score);
  textout(screen, StatusFont(), text, 500, 350, 85);
  PlaySong();
}

// Two balls can go in one step (up and down held together), so on a map whose ball_count is
// short of its balls the count could jump past 0: any count at or below 0 clears the level.
int LevelCleared() { return num_balls <= 0 ? -1 : 0; }

void LevelSetup() {
  num_balls = gmap->ball_count;
  end_game = 0;
  num_bugs = gmap->bug_count + dif_level;
  if (num_bugs > MAX_BUGS) num_bugs = MAX_BUGS;
  if (num_bugs < 0) num_bugs = 0;  // a map from a file may hold a negative count
  StartLevel();
  BuildCellValues();
}

void GamePass() {
  if (end_game) return;
  if (Commands()) return;
  poll_joystick();
  VorbelStep();
  BugStep();
  SafetyCount();
  DrawGameMap();
  for (int i = 0; i < BugsInPlay(); i++) BugCollision(i);
  if (LevelCleared()) {
    if (sound_on) PlaySoundA(SND_CLEARED);
    return;
  }
  if (end_game) return;
  if (vorbel.score - extra_life > 20000 + 15000 * dif_level) {
    if (sound_on) PlaySoundA(SND_EXTRA_LIFE);
    extra_life = vorbel.score;
    vorbel.lives++;
    DrawLives();
  }
}

// Each pass redraws the whole maze and is far shorter than a tick, and the safety count counts
// passes: unpaced, the loop would burn a core and the safety time would be gone in moments. So
// the next pass waits for the next game tick. The timer only ever adds to the tick counters
// between passes, so a change of bug_timer is a new tick; waiting for it (rather than for a
// clock) keeps each pass just behind a tick, and a step due at a tick is taken at once. Should
// the timer fall silent, the clock lets a pass through after two tick periods.
void WaitForNextPass() {
  using clock = std::chrono::steady_clock;
  int width = SCREEN_W > 0 ? SCREEN_W : 640;
  const auto give_up = clock::now() + 2 * std::chrono::milliseconds(6400 / width);
  const int seen = bug_timer;
  while (bug_timer == seen && clock::now() < give_up) rest(1);
}

void PlayMap(map_struct* level) {
  gmap = level;
  vorbel_timer = 0;
  bug_timer = 0;
  install_int(game_timer, 6400 / SCREEN_W);
  LevelSetup();
  for (;;) {
    GamePass();
    if (end_game || LevelCleared()) break;
    WaitForNextPass();
  }
  remove_int(game_timer);
  if (end_game) GameOver();
}

void NextMap() {
  if (end_game) return;
  if (current_map_played + 1 >= num_maps)
    end_game = -1;
  else
    current_map_played++;
}

void PlayGame() {
  current_map_played = 0;
  NewGameSetup();
  show_mouse(nullptr);
  fade_out(10);
  clear_keybuf();
  InitGameGraphics();
  fade_in(GamePalette(), 200);
  vorbel.score = 0;
  if (num_maps > 0) {
    do {
      PlayMap(static_cast<map_struct*>(mapData[current_map_played].dat));
      NextMap();
    } while (!end_game);
  }
  GotHighScore();
  show_mouse(screen);
}
