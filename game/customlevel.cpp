// Custom levels: a map file of the player's own (made with the level kit, vorbel-mapc) chosen
// with the file selector and played as a one-level game, its result offered to the high scores.
#include <cstdio>
#include <cstring>

#include "Template.h"

// Where the build puts the example levels, beside the game: the selector opens there.
static const char kCustomFolder[] = "custom/";

int ReadCustomMap(const char* path, map_struct* out) {
  FILE* f = fopen(path, "rb");
  if (!f) return 0;
  unsigned char b[sizeof(map_struct)];
  size_t n = fread(b, 1, sizeof b, f);
  fclose(f);
  if (n != sizeof b) return 0;
  map_struct m;
  MapFromBytes(b, &m);
  if (!CheckMap(&m, nullptr, 0)) return 0;
  *out = m;
  return -1;
}

// The one-level game on `map`: the playfield, the new-game set-up, the level as the first level,
// and its result offered to the high scores.
static void PlayLoadedMap() {
  show_mouse(nullptr);
  fade_out(3);
  clear_to_color(screen, 0);
  clear_keybuf();
  InitGameGraphics();
  fade_in(GamePalette(), 200);
  NewGameSetup();
  current_map_played = 0;
  PlayMap(&map);
  if (!LeaveRequested()) GotHighScore();  // nobody is there to type a name after a signal
}

void PlayCustomGame() {
  text[0] = 0;
  if (file_exists("custom", FA_DIREC | FA_RDONLY | FA_ARCH, nullptr)) std::strcpy(text, kCustomFolder);
  if (!FileDialog("Select Custom Map", "map")) return;
  if (!ReadCustomMap(text, &map)) {
    alert("Error opening file.", nullptr, nullptr, "OK", nullptr, KEY_ENTER, 0);
    return;
  }
  PlayLoadedMap();
  show_mouse(screen);
}

int PlayLevelFile(const char* path) {
  if (!ReadCustomMap(path, &map)) {
    alert("Error opening file.", nullptr, nullptr, "OK", nullptr, KEY_ENTER, 0);
    return 0;
  }
  PlayLoadedMap();
  return -1;
}
