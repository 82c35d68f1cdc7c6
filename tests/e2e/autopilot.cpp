// Records a whole game without a window: an autopilot plays the game's own loop (GamePass) on the
// real datafiles, one game tick per pass, always heading for the nearest ball, and the game's
// recorder writes what each pass consumed. It prints the final figures as "vorbel --replay FILE
// --fast" prints them, so a test can hold the real program's replay against them.
// Usage: autopilot RUN_DIR OUT DIFFICULTY [CUSTOM.map] [--quit-after PASSES]
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "Template.h"
#include "../levels/route.h"

namespace {

int quit_after = 1 << 30;  // passes after which the pilot quits (as a signal would end the game)
int pass_count = 0;

PassInput Pilot() {
  game_timer();  // one tick a pass, as the paced loop runs
  if (++pass_count >= quit_after) exit_requested = -1;
  const bool on_cell = vorbel.x % CELL == 0 && vorbel.y % CELL == 0;
  PassInput in;
  in.vorbel_due = vorbel_timer > vorbel_speed ? -1 : 0;
  in.bug_due = bug_timer > bug_speed ? -1 : 0;
  if (on_cell && vorbel.x < MAP_W * CELL && vorbel.y < MAP_H * CELL) {
    // The key of the first step of a shortest route through open cells to the nearest food.
    auto hop = [](int c, int way) {
      static const int dx[] = {0, 0, -1, 1}, dy[] = {-1, 1, 0, 0};
      const int x = c / MAP_H + dx[way], y = c % MAP_H + dy[way];
      const bool open = x >= 1 && y >= 1 && x < MAP_W - 1 && y < MAP_H - 1 && mapV[x][y] != 0;
      return open ? MAP_H * x + y : -1;
    };
    auto eats = [&](int c, int way) { return Edible(hop(c, way)); };
    int *keys[4] = {&in.up, &in.down, &in.left, &in.right};
    const int way = FirstWayToFood(MAP_H * (vorbel.x / CELL) + vorbel.y / CELL, hop, eats);
    if (way >= 0) *keys[way] = -1;
  }
  return in;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    fputs("usage: autopilot RUN_DIR OUT DIFFICULTY [CUSTOM.map] [--quit-after N]\n", stderr);
    return 2;
  }
  auto absolute = [](const char *p) { return std::filesystem::absolute(p).string(); };
  const std::string out = absolute(argv[2]);
  std::string custom;
  for (int i = 4; i < argc; i++) {
    if (!strcmp(argv[i], "--quit-after") && i + 1 < argc)
      quit_after = atoi(argv[++i]);
    else
      custom = absolute(argv[i]);
  }
  install_allegro(SYSTEM_NONE, &errno, atexit);
  set_color_depth(8);
  if (chdir(argv[1]) != 0) return 1;
  screen = create_bitmap(640, 480);
  map_bitmap = create_bitmap(441, 441);
  screen_bitmap = create_bitmap(640, 480);
  LoadDatafiles();
  map_struct custom_map;
  char why[160] = "";
  if (!custom.empty() && !ReadCustomMap(custom.c_str(), &custom_map, why, sizeof why)) {
    fprintf(stderr, "autopilot: %s: %s\n", custom.c_str(), why);
    return 1;
  }
  std::string scratch = out + ".work";  // a scratch folder beside the recording
  mkdir(scratch.c_str(), 0755);
  if (chdir(scratch.c_str()) != 0) return 1;
  ResetHighScores();
  dif_level = atoi(argv[3]);
  music_on = 0, sound_on = 0, music_silent = -1;
  replay_fast = -1;
  UsePresenter(PRESENT_NONE, nullptr);
  RecordTo(out.c_str());
  pass_input = Pilot;
  if (!custom.empty()) {
    map = custom_map;
    PlayCustomMap();
  } else {
    PlayGame();
  }
  printf("score %d level %d lives %d bugs %d\n", vorbel.score, current_map_played + 1, vorbel.lives,
         vorbel.bugs_eaten);
  return 0;
}
