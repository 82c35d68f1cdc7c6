// Start-up and shutdown services: the fatal-error exit, the file test, the random numbers and
// game tick, the screenshot, and the loading and checking of every datafile.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "Template.h"
#include "modux.h"
#include "safefile.h"

// The game's own sequence: the numbers of the C library's unseeded rand(), from a private state
// seeded 1, which no other code in the process (a sound library, the music engine's thread) can
// draw from. Every run draws the same sequence, so a game replays exactly from its inputs; replays
// count the draws, and the recording's count before its game is drawn again before the replay.
namespace {
struct RandomGenerator {
  random_data data{};  // zeroed, as initstate_r needs
  char state[128] = {};
  RandomGenerator() { initstate_r(1, state, sizeof state, &data); }
};
RandomGenerator generator;
}  // namespace

void RandomRestart() {
  initstate_r(1, generator.state, sizeof generator.state, &generator.data);
  random_draws = 0;
}

int Random(int n) {
  random_draws++;
  int32_t r = 0;
  random_r(&generator.data, &r);
  return r % n;
}

void game_timer() {
  vorbel_timer++;
  bug_timer++;
}

void Error(const char *message) {
  allegro_exit();
  printf("Error: %s\n", message);
  exit(1);
}

int FileExist(const char *name) { return file_exists(name, FA_RDONLY | FA_ARCH, nullptr); }

FILE *ReadableFile(const char *path, char *why, int size) {
  std::string reason;
  FILE *f = safefile::open_input(path, &reason);
  if (!f && why && size > 0) snprintf(why, size_t(size), "it cannot be opened: %s", reason.c_str());
  return f;
}

// The picture goes to a new file first, which must be written whole and be on the disk before it
// replaces the old picture: a full disk leaves the old one as it was, never an empty file.
int ScreenShot() {
  static const char kFresh[] = "vorbel.pcx.new";
  PALETTE pal;
  get_palette(pal);
  BITMAP *shot = create_sub_bitmap(screen, 0, 0, SCREEN_W, SCREEN_H);
  if (!shot) return 0;
  int ok = save_pcx(kFresh, shot, pal) == 0;
  destroy_bitmap(shot);
  // A PCX of the screen is its 128-byte header and at least one byte per row.
  ok = ok && file_size_ex(kFresh) >= uint64_t(128 + SCREEN_H);
  int fd = ok ? open(kFresh, O_RDONLY) : -1;
  ok = fd >= 0 && fsync(fd) == 0;
  if (fd >= 0) close(fd);
  if (ok && rename(kFresh, "vorbel.pcx") == 0) return -1;
  remove(kFresh);
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Datafiles
// ---------------------------------------------------------------------------------------------

static int CountObjects(DATAFILE *d) {
  int n = 0;
  while (d[n].type != DAT_END) n++;
  return n;
}

[[noreturn]] static void BadObject(const char *file, int index, const char *kind) {
  char message[600];
  snprintf(message, sizeof message, "File %s is damaged: object %d is missing or is not a %s", file,
           index, kind);
  Error(message);
}

// The walk stops at the end marker, so a short datafile never leads to a read past it.
void *DatafileObject(DATAFILE *d, int n, int type) {
  if (!d || n < 0) return nullptr;
  for (int i = 0; i < n; i++)
    if (d[i].type == DAT_END) return nullptr;
  return d[n].type == type ? d[n].dat : nullptr;
}

// The game addresses objects by index without looking at them again, so every object it uses is
// checked here once, with a message naming the file.
static void Require(DATAFILE *d, const char *file, int index, int type, const char *kind) {
  if (!DatafileObject(d, index, type)) BadObject(file, index, kind);
}

static void RequireAll(DATAFILE *d, const char *file, int type, const char *kind) {
  for (int i = 0; d[i].type != DAT_END; i++)
    if (d[i].type != type || !d[i].dat) BadObject(file, i, kind);
}

static DATAFILE *Load(const char *file) {
  DATAFILE *d = load_datafile(file);
  if (!d) {
    char message[600];
    snprintf(message, sizeof message, "Cannot load file %s: it is damaged or not a datafile", file);
    Error(message);
  }
  return d;
}

static void CheckPresent(const char *file) {
  if (!FileExist(file)) {
    char message[600];
    snprintf(message, sizeof message, "Cannot find file %s", file);
    Error(message);
  }
}

// Every datafile is named by its path (DataPath), so a message says which folder was looked in.
void LoadDatafiles() {
  char name[32];
  std::string path;
  auto at = [&path](const char *file) { return (path = DataPath(file)).c_str(); };
  CheckPresent(at("vorbel.dat"));
  CheckPresent(at("vorbel2.dat"));
  CheckPresent(at("maps.dat"));
  for (int i = 0; i < NUM_SETS; i++) {
    snprintf(name, sizeof name, "set%d.dat", i);
    CheckPresent(at(name));
  }

  for (int i = 0; i < NUM_SETS; i++) {
    snprintf(name, sizeof name, "set%d.dat", i);
    set_graphics[i] = Load(at(name));
    RequireAll(set_graphics[i], path.c_str(), DAT_BITMAP, "picture");
    set_sizes[i] = CountObjects(set_graphics[i]);
  }

  CheckPresent(at("vorbel2.dat"));
  sprites = Load(path.c_str());
  RequireAll(sprites, path.c_str(), DAT_BITMAP, "picture");
  for (int i = SPR_VORBEL_RIGHT; i < SPR_VORBEL_DOWN + SPR_VORBEL_FRAMES; i++)
    Require(sprites, path.c_str(), i, DAT_BITMAP, "picture");
  num_sprites = CountObjects(sprites);

  CheckPresent(at("maps.dat"));
  mapData = Load(path.c_str());
  num_maps = CountObjects(mapData);
  char why[200];
  if (!CheckLevelData(mapData, why, sizeof why)) Error(why);

  CheckPresent(at("vorbel.dat"));
  graphics = Load(path.c_str());
  static const int pictures[] = {
      GFX_BUTTON_FACE, GFX_ARROW_LEFT,    GFX_ARROW_RIGHT,  GFX_TITLE_BUTTON, GFX_FRAME_RIGHT,
      GFX_FRAME_RJOIN, GFX_FRAME_DIVIDER, GFX_FRAME_LEFT,   GFX_FRAME_TL,     GFX_FRAME_TR,
      GFX_FRAME_BL,    GFX_FRAME_BR,      GFX_FRAME_BOTTOM, GFX_FRAME_TOP,    GFX_FRAME_LJOIN,
      GFX_PANEL_TOP,   GFX_MENU_PICTURE,  GFX_PATTERN,      GFX_PANEL_BOTTOM, GFX_TITLE_BACK};
  for (int i : pictures) Require(graphics, path.c_str(), i, DAT_BITMAP, "picture");
  for (int i : {GFX_FONT_LARGE, GFX_FONT_BUTTON, GFX_FONT_STATUS})
    Require(graphics, path.c_str(), i, DAT_FONT, "font");
  Require(graphics, path.c_str(), GFX_PALETTE, DAT_PALETTE, "palette");

  CheckPresent(at("sounds.dat"));
  sounds = Load(path.c_str());
  for (int i = 0; i < NUM_EFFECTS; i++) Require(sounds, path.c_str(), i, DAT_SAMPLE, "sound");
  for (int i = SND_TITLE; i < SND_COUNT; i++)
    Require(sounds, path.c_str(), i, DAT_MUX, "music module");
}

// ---------------------------------------------------------------------------------------------
// Requests from outside the screens
// ---------------------------------------------------------------------------------------------

// Allegro's own handlers of SIGTERM and SIGINT shut it down inside the signal, under the feet of
// the main thread and Allegro's threads; the game's handlers replace them and only raise a flag,
// and the screens return to the title, which ends the program as "Exit" does.
static void OnExitSignal(int) { exit_requested = -1; }
static void OnCloseButton() { close_requested = -1; }
static void OnSwitchOut() { focus_lost = -1; }
static void OnSwitchIn() { focus_back = -1; }

// Held from the first line of main: a signal during start-up waits until the game's handlers are
// in place, and the threads Allegro starts meanwhile inherit the mask and never take one.
static sigset_t ExitSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

void HoldExitSignals() {
  const sigset_t set = ExitSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void InstallSignalHandlers() {
  static_assert(std::atomic<int>::is_always_lock_free, "the signal handler writes the flag");
  struct sigaction action {};
  action.sa_handler = OnExitSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  const sigset_t set = ExitSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);  // one that came meanwhile is handled now
}

void InstallWindowHandlers() {
  set_close_button_callback(OnCloseButton);
  // The game keeps running behind other windows, so a level can notice the switch and pause.
  if (set_display_switch_mode(SWITCH_BACKGROUND) == 0) {
    set_display_switch_callback(SWITCH_OUT, OnSwitchOut);
    set_display_switch_callback(SWITCH_IN, OnSwitchIn);
  }
}

int LeaveRequested() { return exit_requested || close_requested ? -1 : 0; }

void WaitEscapeReleased() {
  while (key[KEY_ESC] && !exit_requested) rest(1);
}
