// Saved games: F5 writes the vorbel's record and the map buffer to a file of 1164 bytes, F6 reads
// one back into the level being played. Both run the file selector over the play screen and put
// the screen back afterwards. A file is checked whole before anything of it is applied.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Template.h"
#include "lebytes.h"

const char GAMESG[] = "Vorbel Endurnal v2.0 - Windows Only Version";

namespace {

// Offsets in the file.
constexpr int kVorbel = 0;      // the vorbel's record, nine 32-bit fields
constexpr int kCopy = 52;       // its first five fields once more, after 16 reserved bytes
constexpr int kMap = 72;        // a map record image
constexpr int kTrailer = 1120;  // GAMESG and its NUL
static_assert(kTrailer + sizeof GAMESG == SAVE_SIZE, "the trailer ends the file");
static_assert(kMap + sizeof(map_struct) == kTrailer, "the map block fills the middle");

// Lives a saved vorbel may hold: at least the one in play.
constexpr int kMaxLives = 999;

int32_t actor_struct::*const kFields[] = {
    &actor_struct::x,     &actor_struct::y,          &actor_struct::dx,
    &actor_struct::dy,    &actor_struct::state,      &actor_struct::sprite,
    &actor_struct::score, &actor_struct::bugs_eaten, &actor_struct::lives};

bool Open(int cx, int cy) { return CellAt(cx, cy) != 0; }

int Refuse(char *why, int size, const char *message, int a = 0, int b = 0) {
  if (why && size > 0) snprintf(why, size_t(size), message, a, b);
  return 0;
}

// The vorbel must be able to move on from where the file puts it: on the 5-pixel lattice of the
// maze, on a grid line in at least one direction (steps need the other coordinate aligned), and
// on open cells of the level being played. Answers -1, or 0 with the reason.
int VorbelFits(const actor_struct &a, char *why, int size) {
  const int far = (MAP_W - 1) * CELL;
  if (a.x < 0 || a.x > far || a.y < 0 || a.y > far || a.x % 5 || a.y % 5 ||
      (a.x % CELL && a.y % CELL))
    return Refuse(why, size, "the position (%d, %d) is off the maze", a.x, a.y);
  if (!Open(a.x / CELL, a.y / CELL) || !Open((a.x + CELL - 1) / CELL, (a.y + CELL - 1) / CELL))
    return Refuse(why, size, "the position (%d, %d) is on a wall of this level", a.x, a.y);
  if (a.sprite < SPR_VORBEL_RIGHT || a.sprite >= SPR_VORBEL_DOWN + SPR_VORBEL_FRAMES)
    return Refuse(why, size, "the picture %d is not one of the vorbel's", a.sprite);
  if (a.lives < 1 || a.lives > kMaxLives)
    return Refuse(why, size, "the lives %d are out of range", a.lives);
  if (a.score < 0 || a.score > MAX_SCORE)
    return Refuse(why, size, "the score %d is out of range", a.score);
  if (a.bugs_eaten < 0 || a.bugs_eaten > MAX_BUGS_EATEN)
    return Refuse(why, size, "the bugs eaten %d are out of range", a.bugs_eaten);
  return -1;
}

// A game of the level list saves a map buffer that no custom map has filled: all zero bytes.
bool EmptyBlock(const unsigned char *b) {
  for (size_t i = 0; i < sizeof(map_struct); i++)
    if (b[i]) return false;
  return true;
}

// In a game of the level list the map block only refills the map buffer, and must be empty or a
// playable map. In a custom game the buffer is the map in play, whose cells the screen draws
// while its cell values (with the balls eaten so far) rule the collisions: only a save of that
// very map can be loaded, else the screen and the collisions would follow two different mazes.
int MapBlockFits(const unsigned char *b, const map_struct &m, char *why, int size) {
  char reason[120];
  if (gmap != &map) {
    if (EmptyBlock(b) || CheckMap(&m, reason, sizeof reason)) return -1;
    return Refuse(why, size, "its map is damaged");
  }
  unsigned char in_play[sizeof(map_struct)];
  MapToBytes(&map, in_play);
  if (std::memcmp(b, in_play, sizeof in_play) != 0)
    return Refuse(why, size, "it was saved on another map than this one");
  return -1;
}

// The selector and the alerts run Allegro's own dialog loop, which knows nothing of the close
// button or a signal. While one is open, this timer callback answers such a request with Escape,
// which closes any of them; the screen that opened it then acts on the request.
void WatchForLeave() {
  if (exit_requested || close_requested) simulate_keypress(KEY_ESC << 8 | 27);
}

// Runs a dialog under the watch; the Escape that cancelled it must be up before the level goes on,
// or the level would take it for a quit question.
template <typename F>
int Watched(F dialog) {
  install_int(WatchForLeave, 50);
  int r = dialog();
  remove_int(WatchForLeave);
  WaitEscapeReleased();
  clear_keybuf();
  return r;
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

void ShowAlert(const char *first, const char *second) {
  Watched([&] { return alert(first, second, nullptr, "OK", nullptr, ALERT_ENTER, 0); });
}

void RememberGameName(const char *path) {
  const char *name = get_filename(path);
  size_t n = strnlen(name, sizeof current_game_name - 1);
  std::memcpy(current_game_name, name, n);
  current_game_name[n] = 0;
}

// The selector's path never outgrows `text`: the size is given to it (the 4.0 call assumes 1024).
int FileDialog(const char *title, const char *extension) {
  gui_fg_color = 15;
  gui_bg_color = 1;
  return Watched([&] {
    return file_select_ex(title, text, extension, sizeof text, OLD_FILESEL_WIDTH,
                          OLD_FILESEL_HEIGHT)
               ? -1
               : 0;
  });
}

void SavedGameBytes(unsigned char *b) {
  std::memset(b, 0, SAVE_SIZE);
  for (int k = 0; k < 9; k++) Put32(b + kVorbel + 4 * k, vorbel.*kFields[k]);
  for (int k = 0; k < 5; k++) Put32(b + kCopy + 4 * k, vorbel.*kFields[k]);
  MapToBytes(&map, b + kMap);
  std::memcpy(b + kTrailer, GAMESG, sizeof GAMESG);
}

int WriteSavedGame(const char *path) {
  unsigned char b[SAVE_SIZE];
  SavedGameBytes(b);
  return WriteFileSafely(path, b, SAVE_SIZE);
}

int ApplySavedGame(const unsigned char *b, size_t n, char *why, int size) {
  if (n != SAVE_SIZE)
    return Refuse(why, size, "it is not a saved game (%d bytes, a saved game has %d)", int(n),
                  SAVE_SIZE);
  if (std::memcmp(b + kTrailer, GAMESG, sizeof GAMESG) != 0)
    return Refuse(why, size, "it is not a saved game of Vorbel Endurnal");
  actor_struct a;
  for (int k = 0; k < 9; k++) a.*kFields[k] = Get32(b + kVorbel + 4 * k);
  for (int k = 0; k < 5; k++) a.*kFields[k] = Get32(b + kCopy + 4 * k);
  map_struct m;
  MapFromBytes(b + kMap, &m);
  if (!VorbelFits(a, why, size) || !MapBlockFits(b + kMap, m, why, size)) return 0;
  vorbel = a;
  map = m;
  // A step in progress belongs to the old position; kept, it could point across the lattice
  // line the loaded vorbel stands on, and the vorbel could never arrive anywhere.
  vorbel_move_direction = 0;
  return -1;
}

int ReadSavedGame(const char *path, char *why, int size) {
  FILE *f = ReadableFile(path, why, size);
  if (!f) return 0;
  unsigned char b[SAVE_SIZE + 1];
  size_t n = fread(b, 1, sizeof b, f);
  fclose(f);
  if (n > SAVE_SIZE)
    return Refuse(why, size, "it is not a saved game (longer than %d bytes)", SAVE_SIZE);
  if (!ApplySavedGame(b, n, why, size)) return 0;
  RecordLoad(b);
  return -1;
}

int AddExtension(char *path, int size, const char *extension) {
  const char *name = get_filename(path);
  if (!name[0] || std::strchr(name, '.')) return -1;
  const size_t n = std::strlen(path);
  if (n + 1 + std::strlen(extension) >= size_t(size)) return 0;
  std::snprintf(path + n, size_t(size) - n, ".%s", extension);
  return -1;
}

// The selector opens on the folder with no name filled in: a name the player types is the whole
// name, and one typed without an extension gets ".svg", which the load selector lists.
void SaveGame() {
  SaveScreen();
  text[0] = 0;
  if (FileDialog("Save Game (Must have the  .svg)", "svg") && !LeaveRequested()) {
    int go = AddExtension(text, sizeof text, "svg");
    if (!go) ShowAlert("Error saving file.", strerror(ENAMETOOLONG));
    go = go && (!FileExist(text) || Watched([] {
                                      return alert("File Already Exists.", "Overwrite?", nullptr,
                                                   "OK", "Cancel", ALERT_ENTER, ALERT_ESCAPE);
                                    }) == 1);
    if (go && !LeaveRequested()) {
      if (WriteSavedGame(text))
        RememberGameName(text);
      else
        ShowAlert("Error saving file.", strerror(errno));
    }
  }
  RestoreScreen();
}

void LoadGame() {
  SaveScreen();
  text[0] = 0;
  if (FileDialog("Load Saved Game", "svg") && !LeaveRequested()) {
    char why[120];
    if (ReadSavedGame(text, why, sizeof why))
      RememberGameName(text);
    else
      ShowAlert("Error loading saved game", why);
  }
  RestoreScreen();
  DrawGameMap();
  show_mouse(screen);
}
