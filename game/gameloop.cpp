// The game loop: a whole game over the maps of "maps.dat", one level with its timer and start-up,
// the placing of the actors at every (re)start, and one pass of the loop (keys, steps of the
// vorbel and the bugs, the safety count, collisions, level end and extra lives). What happens is
// reported to the presenter in use, which shows it.
#include "Template.h"

#include <chrono>
#include <cstdio>

namespace {

// Bugs in play, as an index bound that never leaves the bug table.
int BugsInPlay() { return num_bugs < 0 ? 0 : (num_bugs > MAX_BUGS ? MAX_BUGS : num_bugs); }

// A command's key is waited out before the command runs; a signal ends the wait.
void WaitWhileHeld(int k) {
  while (key[k] && !exit_requested) rest(1);
}

// The commands of a pass, at most one, the first key found held winning. Answers -1 when the
// player has quit the game with Y.
// The window's close button asks the same question as Escape. A close request made while the
// question is up answers it with Y and stays pending: from there the program goes straight to
// its exit, the result entered in the table on the way.
int Commands() {
  if (focus_lost) {
    Pause();
  } else if (key[KEY_ESC] || close_requested) {
    // A question the close button asked and Y answered ends the program, not only the game.
    const int closing = close_requested;
    close_requested = 0;
    if (presenter.ask_quit(presenter.bmp) || exit_requested) {
      if (closing) close_requested = -1;
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
    Pause();
  }
  return 0;
}

void VorbelStep(const PassInput &in) {
  if (!in.vorbel_due) return;
  if (vorbel_move_direction == 0) {
    // Every direction asked for is tried, so up and down together step there and back.
    if (in.up) MoveUp();
    if (in.down) MoveDown();
    if (in.left) MoveLeft();
    if (in.right) MoveRight();
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

void BugStep(const PassInput &in) {
  if (!in.bug_due) return;
  for (int i = 0; i < BugsInPlay(); i++) MoveBug(i);
  bug_timer = 0;
}

// The inputs of a pass: from the recording while replaying, else read live (and recorded when
// recording). Answers 0 when the pass ends here: the player quit, or a replay reached its end.
int PassInputs(PassInput *in) {
  if (replay_mode == REPLAY_PLAY) {
    if (LeaveRequested()) {
      ReplayInterrupted();
      return 0;
    }
    return ReplayPass(in);
  }
  if (Commands()) {
    RecordQuit();
    return 0;
  }
  poll_joystick();
  *in = pass_input();
  RecordPass(*in);
  return -1;
}

// The safety count runs in passes of the loop, which the loop's pacing holds to one per tick.
void SafetyCount() {
  if (state_timer == 0) return;
  state_timer++;
  if (state_timer > max_bugs_state) {
    presenter.safety(presenter.bmp);  // the last count is shown before the line goes to 0
    for (int i = 0; i < BugsInPlay(); i++) bugs[i].state = BUG_NORMAL;
    state_timer = 0;
  }
  presenter.safety(presenter.bmp);
}

}  // namespace

// The ticks that passed during the pause give no steps afterwards.
void Pause() {
  presenter.pause(presenter.bmp);
  focus_lost = 0;
  vorbel_timer = 0;
  bug_timer = 0;
}

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
  vorbel.sprite = SPR_VORBEL_RIGHT;

  presenter.level_start(presenter.bmp);
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
  if (exit_requested && !end_game) {  // a signal: the game ends, and the program after it
    if (replay_mode == REPLAY_PLAY) {
      ReplayInterrupted();
    } else {
      end_game = -1;
      RecordQuit();
    }
  }
  if (end_game) return;
  PassInput in;
  if (!PassInputs(&in)) return;
  VorbelStep(in);
  BugStep(in);
  SafetyCount();
  presenter.pass(presenter.bmp);
  for (int i = 0; i < BugsInPlay(); i++) BugCollision(i);
  if (LevelCleared()) {
    presenter.happened(PLAY_CLEARED);
    return;
  }
  if (end_game) return;
  // One life for every threshold the score has passed since the last one: a pass that catches
  // edible bugs late in a run can be worth more than two thresholds at once.
  const int threshold = 20000 + 15000 * dif_level;
  if (vorbel.score - extra_life > threshold) {
    presenter.happened(PLAY_EXTRA_LIFE);
    vorbel.lives += (vorbel.score - extra_life - 1) / threshold;
    extra_life = vorbel.score;
    presenter.lives(presenter.bmp);
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

void PlayMap(map_struct *level) {
  gmap = level;
  vorbel_timer = 0;
  bug_timer = 0;
  if (presenter.paced) install_int(game_timer, 6400 / SCREEN_W);
  LevelSetup();
  for (;;) {
    GamePass();
    if (end_game || LevelCleared()) break;
    if (presenter.paced) WaitForNextPass();
  }
  if (presenter.paced) remove_int(game_timer);
  if (end_game && !exit_requested && !replay_stopped[0]) presenter.game_over(presenter.bmp);
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
  presenter.game_start(presenter.bmp, 10);
  vorbel.score = 0;
  RecordStart(0);
  if (num_maps > 0) {
    do {
      PlayMap(static_cast<map_struct *>(mapData[current_map_played].dat));
      NextMap();
    } while (!end_game);
  }
  ReplayEnd();
  RecordEnd();
  // The result goes to the table even when the program is ending: under the last name typed.
  if (!replay_stopped[0]) GotHighScore();
  RecordFinish();
  presenter.game_end(presenter.bmp);
}
