// Custom levels: a map file of the player's own (made with the level kit, vorbel-mapc) chosen
// with the file selector and played as a one-level game, its result offered to the high scores.
#include <cstdio>
#include <cstring>

#include "Template.h"

// Where the build puts the example levels, beside the game: the selector opens there.
static const char kCustomFolder[] = "custom/";

int ReadCustomMap(const char *path, map_struct *out, char *why, int size) {
  auto refuse = [&](const char *m, long a = 0) {
    if (why && size > 0) snprintf(why, size_t(size), m, a, long(sizeof(map_struct)));
    return 0;
  };
  FILE *f = ReadableFile(path, why, size);
  if (!f) return 0;
  unsigned char b[sizeof(map_struct) + 1];  // one byte more tells a file that is too long
  size_t n = fread(b, 1, sizeof b, f);
  fclose(f);
  if (n > sizeof(map_struct))
    return refuse("it is not a map file (longer than %ld bytes)", long(sizeof(map_struct)));
  if (n != sizeof(map_struct))
    return refuse("it is not a map file (%ld bytes, a map has %ld)", long(n));
  map_struct m;
  MapFromBytes(b, &m);
  if (!CheckMap(&m, why, size)) return 0;
  *out = m;
  return -1;
}

void PlayCustomMap() {
  presenter.game_start(presenter.bmp, 3);
  NewGameSetup();
  current_map_played = 0;
  gmap = &map;
  RecordStart(-1);
  PlayMap(&map);
  if (LevelCleared() && !end_game && !exit_requested && !replay_stopped[0])
    presenter.level_cleared(presenter.bmp);
  ReplayEnd();
  RecordEnd();
  if (!replay_stopped[0]) GotHighScore();
  RecordFinish();
  presenter.game_end(presenter.bmp);
}

void PlayCustomGame() {
  text[0] = 0;
  if (file_exists("custom", FA_DIREC | FA_RDONLY | FA_ARCH, nullptr))
    std::strcpy(text, kCustomFolder);
  if (!FileDialog("Select Custom Map", "map") || LeaveRequested()) return;
  char why[120];
  if (!ReadCustomMap(text, &map, why, sizeof why)) {
    ShowAlert("Error opening file.", why);
    return;
  }
  PlayCustomMap();
}

int PlayLevelFile(const char *path) {
  char why[120];
  if (!ReadCustomMap(path, &map, why, sizeof why)) {
    ShowAlert("Error opening file.", why);
    return 0;
  }
  PlayCustomMap();
  return -1;
}
