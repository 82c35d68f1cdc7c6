// Saved games: F5 writes the vorbel's record and the map buffer to a file of 1164 bytes, F6 reads
// one back into the level being played. Both run the file selector over the play screen and put
// the screen back afterwards. A file is checked whole before anything of it is applied.
#include <cstdio>
#include <cstring>

#include "Template.h"

const char GAMESG[] = "Vorbel Endurnal v2.0 - Windows Only Version";

namespace {

// Offsets in the file.
constexpr int kVorbel = 0;     // the vorbel's record, nine 32-bit fields
constexpr int kCopy = 52;      // its first five fields once more, after 16 reserved bytes
constexpr int kMap = 72;       // a map record image
constexpr int kTrailer = 1120; // GAMESG and its NUL
static_assert(kTrailer + sizeof GAMESG == SAVE_SIZE, "the trailer ends the file");
static_assert(kMap + sizeof(map_struct) == kTrailer, "the map block fills the middle");

// Bounds of a vorbel that can go on playing: no score near the end of the 32-bit range (it keeps
// growing), a bug count whose eating bonus cannot overflow, at least the life in play.
constexpr int kMaxScore = 99999999;
constexpr int kMaxBugsEaten = 99999;
constexpr int kMaxLives = 999;

int32_t actor_struct::*const kFields[] = {&actor_struct::x,      &actor_struct::y,     &actor_struct::dx,
                                          &actor_struct::dy,     &actor_struct::state, &actor_struct::sprite,
                                          &actor_struct::score,  &actor_struct::bugs_eaten, &actor_struct::lives};

int Get32(const unsigned char* b) { return int32_t(uint32_t(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24)); }

void Put32(unsigned char* b, int v) {
  for (int k = 0; k < 4; k++) b[k] = uint8_t((uint32_t(v) >> (8 * k)) & 0xff);
}

bool Open(int cx, int cy) { return CellAt(cx, cy) != 0; }

// The vorbel must be able to move on from where the file puts it: on the 5-pixel lattice of the
// maze, on a grid line in at least one direction (steps need the other coordinate aligned), and
// on open cells of the level being played.
bool VorbelFits(const actor_struct& a) {
  const int far = (MAP_W - 1) * CELL;
  if (a.x < 0 || a.x > far || a.y < 0 || a.y > far || a.x % 5 || a.y % 5) return false;
  if (a.x % CELL && a.y % CELL) return false;
  if (!Open(a.x / CELL, a.y / CELL) || !Open((a.x + CELL - 1) / CELL, (a.y + CELL - 1) / CELL)) return false;
  if (a.sprite < VORBEL_RIGHT || a.sprite > VORBEL_DOWN + 3) return false;
  return a.lives >= 1 && a.lives <= kMaxLives && a.score >= 0 && a.score <= kMaxScore && a.bugs_eaten >= 0 &&
         a.bugs_eaten <= kMaxBugsEaten;
}

// A game of the level list saves a map buffer that no custom map has filled: all zero bytes.
bool EmptyBlock(const unsigned char* b) {
  for (size_t i = 0; i < sizeof(map_struct); i++)
    if (b[i]) return false;
  return true;
}

// The map block becomes the map in play only in a custom game; there it must be a playable map
// whose start cells are open in the maze being played, whose cell values stay as they are.
bool MapBlockFits(const unsigned char* b, const map_struct& m) {
  if (gmap != &map) return EmptyBlock(b) || CheckMap(&m, nullptr, 0);
  return CheckMap(&m, nullptr, 0) && Open(m.vorbel_start_x, m.vorbel_start_y) && Open(m.bug_start_x, m.bug_start_y);
}

void SaveScreen() {
  show_mouse(nullptr);
  blit(screen, screen_bitmap, 0, 0, 0, 0, 640, 480);
  show_mouse(screen);
}

void RestoreScreen() {
  show_mouse(nullptr);
  blit(screen_bitmap, screen, 0, 0, 0, 0, 640, 480);
  show_mouse(screen);
}

}  // namespace

void RememberGameName(const char* path) {
  const char* name = get_filename(path);
  size_t n = strnlen(name, sizeof current_game_name - 1);
  std::memcpy(current_game_name, name, n);
  current_game_name[n] = 0;
}

// The selector's path never outgrows `text`: the size is given to it (the 4.0 call assumes 1024).
int FileDialog(const char* title, const char* extension) {
  gui_fg_color = 15;
  gui_bg_color = 1;
  return file_select_ex(title, text, extension, sizeof text, OLD_FILESEL_WIDTH, OLD_FILESEL_HEIGHT) ? -1 : 0;
}

void SavedGameBytes(unsigned char* b) {
  std::memset(b, 0, SAVE_SIZE);
  for (int k = 0; k < 9; k++) Put32(b + kVorbel + 4 * k, vorbel.*kFields[k]);
  for (int k = 0; k < 5; k++) Put32(b + kCopy + 4 * k, vorbel.*kFields[k]);
  MapToBytes(&map, b + kMap);
  std::memcpy(b + kTrailer, GAMESG, sizeof GAMESG);
}

int WriteSavedGame(const char* path) {
  unsigned char b[SAVE_SIZE];
  SavedGameBytes(b);
  return WriteFileSafely(path, b, SAVE_SIZE);
}

int ReadSavedGame(const char* path) {
  FILE* f = fopen(path, "rb");
  if (!f) return 0;
  unsigned char b[SAVE_SIZE + 1];
  size_t n = fread(b, 1, sizeof b, f);
  fclose(f);
  if (n != SAVE_SIZE || std::memcmp(b + kTrailer, GAMESG, sizeof GAMESG) != 0) return 0;
  actor_struct a;
  for (int k = 0; k < 9; k++) a.*kFields[k] = Get32(b + kVorbel + 4 * k);
  for (int k = 0; k < 5; k++) a.*kFields[k] = Get32(b + kCopy + 4 * k);
  map_struct m;
  MapFromBytes(b + kMap, &m);
  if (!VorbelFits(a) || !MapBlockFits(b + kMap, m)) return 0;
  vorbel = a;
  map = m;
  // A step in progress belongs to the old position; kept, it could point across the lattice
  // line the loaded vorbel stands on, and the vorbel could never arrive anywhere.
  vorbel_move_direction = 0;
  return -1;
}

void SaveGame() {
  SaveScreen();
  std::strncpy(text, current_game_name, sizeof text - 1);
  text[sizeof text - 1] = 0;
  if (FileDialog("Save Game (Must have the  .svg)", "svg")) {
    if (!FileExist(text) || alert("File Already Exists.", "Overwrite?", nullptr, "OK", "Cancel", KEY_ENTER, KEY_ESC) == 1) {
      if (WriteSavedGame(text))
        RememberGameName(text);
      else
        alert("Error saving file.", nullptr, nullptr, "OK", nullptr, KEY_ENTER, 0);
    }
  }
  RestoreScreen();
}

void LoadGame() {
  SaveScreen();
  text[0] = 0;
  if (FileDialog("Load Saved Game", "svg")) {
    if (ReadSavedGame(text))
      RememberGameName(text);
    else
      alert("Error loading saved game", nullptr, nullptr, "OK", nullptr, KEY_ENTER, 0);
  }
  RestoreScreen();
  DrawGameMap();
  show_mouse(screen);
}
