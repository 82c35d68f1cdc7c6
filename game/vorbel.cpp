// The vorbel: its 5-pixel steps along the 20-pixel grid, the pass through the maze's edge, the
// animation of its picture, eating balls and power balls, and the one routine that plays the
// game's sound effects.
#include "Template.h"

namespace {

// One row of the movement table: which coordinate must be aligned, where the wall test looks,
// the pictures of the direction and the step.
struct Move {
  int direction;   // value of vorbel_move_direction while this move runs
  int horizontal;  // -1: the step changes x (needs y aligned); 0: it changes y (needs x aligned)
  int step;        // -5 or 5
  int first_picture;
};

const Move kUp = {1, 0, -5, SPR_VORBEL_UP};
const Move kDown = {2, 0, 5, SPR_VORBEL_DOWN};
const Move kLeft = {3, -1, -5, SPR_VORBEL_LEFT};
const Move kRight = {4, -1, 5, SPR_VORBEL_RIGHT};

// Makes at most one step of the vorbel. The order of the stages is the game's: the wall test only
// on a cell, the picture, the ball under the old position, the step, arrival, and the wrap last.
// Arrival comes before the wrap, so a step that reaches 0 (or 420) clears the direction and the
// vorbel is then put at 415 (or 5), between cells: the edge rows and columns are tunnels.
void Step(const Move &m) {
  int &along = m.horizontal ? vorbel.x : vorbel.y;  // the coordinate the step changes
  int across = m.horizontal ? vorbel.y : vorbel.x;  // the one that must sit on a grid line
  if (across % CELL != 0) return;
  vorbel_move_direction = m.direction;
  if (along % CELL == 0) {
    int cx = vorbel.x / CELL + (m.horizontal ? m.step / 5 : 0);
    int cy = vorbel.y / CELL + (m.horizontal ? 0 : m.step / 5);
    if (CellAt(cx, cy) == 0) {
      vorbel_move_direction = 0;
      return;
    }
  }
  if (along % 10 == 0) vorbel.sprite = m.first_picture;
  vorbel.sprite++;
  if (vorbel.sprite > m.first_picture + 3) vorbel.sprite = m.first_picture;
  EatBall();
  along += m.step;
  if (along % CELL == 0) vorbel_move_direction = 0;
  if (along < 5) along = 415;
  if (along > 415) along = 5;
}

}  // namespace

void MoveUp() { Step(kUp); }
void MoveDown() { Step(kDown); }
void MoveLeft() { Step(kLeft); }
void MoveRight() { Step(kRight); }

void EatBall() {
  int cx = vorbel.x / CELL, cy = vorbel.y / CELL;
  // A position restored from outside (a saved game) may lie off the grid: nothing to eat there.
  if (vorbel.x < 0 || vorbel.y < 0 || cx >= MAP_W || cy >= MAP_H) return;
  int &cell = mapV[cx][cy];
  int v = cell;
  if (v >= 1 && v <= 4) {
    cell = -1;
    num_balls--;
    presenter.happened(PLAY_BALL);
    vorbel.score += gmap->points[v - 1] + 10 * dif_level;
  } else if (v >= 5 && v <= 8) {
    cell = -1;
    state_timer = 1;
    vorbel.score += gmap->points[v - 1] + 100 * dif_level;
    presenter.happened(PLAY_POWER_BALL);
    for (int i = 0; i < num_bugs && i < MAX_BUGS; i++) bugs[i].state = BUG_EDIBLE;
  }
}

void PlaySoundA(int n) {
  // A sound the datafile does not hold is silence, not a stray read.
  if (auto *sample = static_cast<SAMPLE *>(DatafileObject(sounds, n, DAT_SAMPLE)))
    play_sample(sample, sound_volume, 125, 1000, 0);
}
