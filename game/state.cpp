// The game state: the globals of the whole game and the rules derived from the level data
// (cell code to cell value, cells outside the grid, the new-game set-up by difficulty).
#include "Template.h"

DATAFILE *graphics = nullptr;
DATAFILE *sprites = nullptr;
DATAFILE *mapData = nullptr;
DATAFILE *sounds = nullptr;
DATAFILE *set_graphics[NUM_SETS] = {};
int num_sprites = 0;
int num_maps = 0;
int set_sizes[NUM_SETS] = {};
BITMAP *screen_bitmap = nullptr;
BITMAP *map_bitmap = nullptr;

Button *btn_new_game = nullptr;
Button *btn_exit = nullptr;
Button *btn_start_game = nullptr;
Button *btn_custom_game = nullptr;
Button *btn_options = nullptr;
Button *btn_high_scores = nullptr;
Button *btn_credits = nullptr;
Button *btn_prev_menu = nullptr;

highscore_struct HighScores[NUM_HIGHSCORES];

int sound_on = -1;
int music_on = -1;
int sound_volume = 200;
int music_volume = 200;
int dif_level = 1;

map_struct *gmap = nullptr;
map_struct map;
int mapV[MAP_W][MAP_H];
actor_struct bugs[MAX_BUGS];
actor_struct vorbel;
int current_map_played = 0;
int num_bugs = 0;
int num_balls = 0;
int end_game = 0;
int vorbel_speed = 0;
int bug_speed = 0;
int max_bugs_state = 0;
int state_timer = 0;
int extra_life = 0;
std::atomic<int> vorbel_timer{0};
std::atomic<int> bug_timer{0};
int vorbel_move_direction = 0;
char text[256];
char current_game_name[256] = "untitled.svg";
std::atomic<int> exit_requested{0};
std::atomic<int> close_requested{0};
std::atomic<int> focus_lost{0};
std::atomic<int> focus_back{0};

int CellValue(int code) {
  const CellBand *band = CellBandOf(code);
  if (!band) return CELL_FLOOR;
  return band->wall ? CELL_WALL : code - band->base;
}

void BuildCellValues() {
  for (int x = 0; x < MAP_W; x++)
    for (int y = 0; y < MAP_H; y++) mapV[x][y] = CellValue(gmap->cells[x][y]);
}

// A neighbour outside the grid is the cell on the opposite edge: rows and columns 0 and 21 are
// the maze's tunnels, and an actor that steps out on one side comes back on the other. Callers
// test neighbours of edge cells this way, so nothing outside mapV is ever read.
int CellAt(int cx, int cy) {
  cx %= MAP_W;
  cy %= MAP_H;
  if (cx < 0) cx += MAP_W;
  if (cy < 0) cy += MAP_H;
  return mapV[cx][cy];
}

// A map from a file may name any start cell: it is kept inside the grid.
int StartCell(int c) { return c < 0 ? 0 : (c >= MAP_W ? MAP_W - 1 : c); }

void NewGameSetup() {
  static const struct {
    int lives, max_state, vorbel_speed, bug_speed;
  } by_level[3] = {{5, 3000, 7, 14}, {4, 2000, 10, 10}, {3, 1000, 12, 7}};
  if (dif_level < 0 || dif_level > 2) Error("Internal error: wrong number of lives.\n");
  vorbel.lives = by_level[dif_level].lives;
  max_bugs_state = by_level[dif_level].max_state;
  vorbel_speed = by_level[dif_level].vorbel_speed;
  bug_speed = by_level[dif_level].bug_speed;
  extra_life = 0;
  vorbel.score = 0;
  // Nothing of the last game carries over: its bug count (the panel, the eating bonus and the
  // table's row count it), a safety count still running and a step still in progress.
  vorbel.bugs_eaten = 0;
  state_timer = 0;
  vorbel_move_direction = 0;
}
