// The bugs: their 5-pixel steps, the choice of a way at every cell (a chase toward the vorbel
// with a chance set by the difficulty, else a random wander), and what happens when a bug and the
// vorbel touch.
#include "Template.h"

#include <cstdlib>

namespace {

// A bug that steps out of the grid through an edge lands on the cell on the opposite edge: the
// very cell its neighbour test (CellAt) found open, so its next decision is made there, between
// the walls that surround it, and its position stays within 0..420 on the 5-pixel lattice.
int WrapBugCoordinate(int c) {
  if (c < 0) return (MAP_W - 1) * CELL;
  if (c > (MAP_W - 1) * CELL) return 0;
  return c;
}

// Tries one way: sets the step and answers -1 when the neighbour is open, else 0 and no change.
int Go(int i, int ddx, int ddy) {
  actor_struct &b = bugs[i];
  if (CellAt(b.x / CELL + ddx / 5, b.y / CELL + ddy / 5) == 0) return 0;
  b.dx = ddx;
  b.dy = ddy;
  return -1;
}

bool ValidBug(int i) { return i >= 0 && i < MAX_BUGS; }

// The chase: per current direction, up to three tries toward the vorbel, each made only when the
// vorbel lies that way. The chase never reverses the bug.
int Chase(int i, const actor_struct &b) {
  const actor_struct &p = vorbel;
  if (b.dx == 5) {
    if (b.x < p.x && BugGoRight(i)) return -1;
    if (b.y < p.y && BugGoDown(i)) return -1;
    if (b.y > p.y && BugGoUp(i)) return -1;
  } else if (b.dx == -5) {
    if (b.x > p.x && BugGoLeft(i)) return -1;
    if (b.y < p.y && BugGoDown(i)) return -1;
    if (b.y > p.y && BugGoUp(i)) return -1;
  } else if (b.dy == 5) {
    if (b.y < p.y && BugGoDown(i)) return -1;
    if (b.x < p.x && BugGoRight(i)) return -1;
    if (b.x > p.x && BugGoLeft(i)) return -1;
  } else if (b.dy == -5) {
    if (b.y > p.y && BugGoUp(i)) return -1;
    if (b.x < p.x && BugGoRight(i)) return -1;
    if (b.x > p.x && BugGoLeft(i)) return -1;
  }
  return 0;
}

}  // namespace

int BugGoUp(int i) { return ValidBug(i) ? Go(i, 0, -5) : 0; }
int BugGoDown(int i) { return ValidBug(i) ? Go(i, 0, 5) : 0; }
int BugGoLeft(int i) { return ValidBug(i) ? Go(i, -5, 0) : 0; }

// On column 21 the right neighbour is column 0 (CellAt wraps); a bug there that finds it open
// turns back instead of leaving, which is the maze's one edge rule for bugs. A closed column 0
// answers 0 like any wall.
int BugGoRight(int i) {
  if (!ValidBug(i) || !Go(i, 5, 0)) return 0;
  if (bugs[i].x > 414) bugs[i].dx = -5;
  return -1;
}

void ChangeBugDir(int i) {
  if (!ValidBug(i)) return;
  const actor_struct b = bugs[i];  // the bug as it arrived on the cell
  int r = Random(4 - dif_level);
  if (r == 1 && b.state != BUG_EDIBLE && Chase(i, b)) return;

  r = Random(3);
  if (b.dx != 0) {
    if (r == 2) {
      if (BugGoDown(i)) return;
      r = Random(2);
    }
    if (r == 1 && BugGoUp(i)) return;
    if (b.dx == 5) {
      if (!BugGoRight(i)) BugGoLeft(i);
    } else {
      if (!BugGoLeft(i)) BugGoRight(i);
    }
  } else {
    if (r == 2) {
      if (BugGoLeft(i)) return;
      r = Random(2);
    }
    if (r == 1 && BugGoRight(i)) return;
    if (b.dy == 5) {
      if (!BugGoDown(i)) BugGoUp(i);
    } else {
      if (!BugGoUp(i)) BugGoDown(i);
    }
  }
}

void MoveBug(int i) {
  if (!ValidBug(i)) return;
  actor_struct &b = bugs[i];
  if (b.x % CELL == 0 && b.y % CELL == 0) ChangeBugDir(i);
  b.x = WrapBugCoordinate(b.x + b.dx);
  b.y = WrapBugCoordinate(b.y + b.dy);
}

void BugCollision(int i) {
  if (!ValidBug(i)) return;
  actor_struct &b = bugs[i];
  if (std::abs(b.x - vorbel.x) >= CELL || std::abs(b.y - vorbel.y) >= CELL) return;
  if (b.state == BUG_EDIBLE) {
    presenter.happened(PLAY_BUG_EATEN);
    b.x = CELL * StartCell(gmap->bug_start_x);
    b.y = CELL * StartCell(gmap->bug_start_y);
    b.state = BUG_NORMAL;
    vorbel.bugs_eaten++;
    vorbel.score += 200 * (vorbel.bugs_eaten + dif_level);
  } else if (vorbel.lives < 2) {
    end_game = -1;
    presenter.happened(PLAY_GAME_OVER);
  } else {
    presenter.happened(PLAY_CAUGHT);
    vorbel.lives--;
    // The presenter says so and waits; a signal or the close button ends the wait, and the game
    // loop then ends the game or asks the quit question.
    presenter.life_lost(presenter.bmp);
    StartLevel();
  }
}
