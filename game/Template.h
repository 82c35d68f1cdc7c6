// Vorbel Endurnal: the one game module. Every global of the game state is declared here with a
// line on what it holds; the code sits in short sources by area (start-up, buttons, menus, options,
// level data, maps from files, game loop, rendering, the vorbel, the bugs, high scores, saved
// games, custom levels). Truth values are -1 for true, 0 false.
#pragma once

#include <allegro.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "cellcodes.h"

// ---------------------------------------------------------------------------------------------
// Geometry and limits
// ---------------------------------------------------------------------------------------------

constexpr int MAP_W = 22;            // maze columns
constexpr int MAP_H = 22;            // maze rows
constexpr int CELL = 20;             // cell size in pixels
constexpr int MAX_BUGS = 20;         // size of the bug table
constexpr int NUM_SETS = 24;         // "set0.dat" .. "set23.dat"
constexpr int NUM_HIGHSCORES = 15;   // entries of the high-score table
constexpr int MAX_CELL_CODE = 2399;  // highest cell code a map may hold
constexpr int SAVE_SIZE = 1164;      // bytes of a saved-game file
// Bounds of figures read from files: a score that can keep growing without overflow, a bug count
// whose eating bonus cannot overflow, a level number far above any list of levels.
constexpr int MAX_SCORE = 99999999;
constexpr int MAX_BUGS_EATEN = 99999;
constexpr int MAX_LEVEL = 9999;

// Objects of "vorbel.dat" (GFX_<name>), "vorbel2.dat" (SPR_<name>) and "sounds.dat" (SND_<name>)
// by index: the headers are written by the data generators together with the datafiles, so the
// indices have one source.
#include "sounds_dat.h"
#include "vorbel2_dat.h"
#include "vorbel_dat.h"

// "sounds.dat": the effects come first, the title theme follows them, and the songs of the
// levels follow the title theme to the end of the file.
constexpr int NUM_EFFECTS = SND_TITLE;
constexpr int SND_FIRST_SONG = SND_TITLE + 1;
constexpr int NUM_SONGS = SND_COUNT - SND_FIRST_SONG;

// ---------------------------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------------------------

// A level map: the form of a level in "maps.dat", in custom map files and in saved games.
// A raw little-endian image of 1048 bytes; cells are stored column by column.
struct map_struct {
  int16_t reserved;
  int16_t bug_start_x;          // cell column where bugs start and where an eaten bug goes back
  int16_t bug_start_y;          // cell row of the same
  int16_t vorbel_start_x;       // cell column where the vorbel starts each life
  int16_t vorbel_start_y;       // cell row of the same
  int16_t bug_count;            // bugs of the map before the difficulty is added
  int16_t ball_count;           // balls (values 1..4) to eat to clear the level
  int16_t bug_sprite;           // picture of every bug, an object of "vorbel2.dat"
  int16_t cells[MAP_W][MAP_H];  // cell codes, cells[x][y]
  int16_t points[32];           // points[k] scores cell value k + 1
};
static_assert(sizeof(map_struct) == 1048, "map_struct is a 1048-byte file image");

// The vorbel and each bug.
// States of a bug.
enum { BUG_NORMAL = 0, BUG_EDIBLE = 2 };

struct actor_struct {
  int32_t x, y;        // pixel position of the 20x20 box in the maze
  int32_t dx, dy;      // bug: step of each move (5, -5 or 0)
  int32_t state;       // bug: BUG_NORMAL or BUG_EDIBLE
  int32_t sprite;      // picture, an object of "vorbel2.dat"
  int32_t score;       // vorbel: score of the game
  int32_t bugs_eaten;  // vorbel: bugs eaten
  int32_t lives;       // vorbel: lives left, the one in play included
};
static_assert(sizeof(actor_struct) == 36, "actor_struct is nine 32-bit fields");

// One entry of the high-score table, as stored in "vorbel.hsc".
struct highscore_struct {
  int32_t score;
  int32_t level;
  int32_t bugs_eaten;
  char name[16];  // NUL-terminated, at most 15 characters
};
static_assert(sizeof(highscore_struct) == 28, "a high-score entry is 28 bytes on disk");

// ---------------------------------------------------------------------------------------------
// The menu button
// ---------------------------------------------------------------------------------------------

class Button {
 public:
  int x1, x2, y1, y2;  // edges in screen pixels
  int color1;          // top/left lines and label while pressed; bottom/right while released
  int color2;          // top/left lines and label while released; bottom/right while pressed
  BITMAP *picture;     // face of a button without a label; not owned
  char name[28];       // the label, empty for a picture button
  int pressed;         // 0 released, -1 pressed

  Button(const char *name, int x1, int y1, int x2, int y2, int color1, int color2, BITMAP *picture);
  void ChangeName(const char *name);
  void DrawButton();
  int Clicked();
};

// ---------------------------------------------------------------------------------------------
// Globals
// ---------------------------------------------------------------------------------------------

// Resources, loaded once at start-up and kept for the whole run.
extern DATAFILE *graphics;                // "vorbel.dat": screen pictures, fonts, palette
extern DATAFILE *sprites;                 // "vorbel2.dat": vorbel and bug pictures
extern DATAFILE *mapData;                 // "maps.dat": the levels in play order
extern DATAFILE *sounds;                  // "sounds.dat": effects and music modules
extern DATAFILE *set_graphics[NUM_SETS];  // "set0.dat".."set23.dat": tiles and balls
extern int num_sprites;                   // objects in sprites
extern int num_maps;                      // levels in mapData
extern int set_sizes[NUM_SETS];           // objects in each tile set
extern BITMAP *screen_bitmap;             // 640x480 save-under and credits buffer
extern BITMAP *map_bitmap;                // 441x441 back buffer of the maze

// Title buttons.
extern Button *btn_new_game;  // "Play Game"
extern Button *btn_exit;      // "Exit"

// Start-game menu buttons, alive while the menu runs.
extern Button *btn_start_game;
extern Button *btn_custom_game;
extern Button *btn_options;
extern Button *btn_high_scores;
extern Button *btn_credits;
extern Button *btn_prev_menu;

// The high-score table, best first.
extern highscore_struct HighScores[NUM_HIGHSCORES];

// Settings, kept in "vorbel.cfg"; changed on the options screen only.
extern int sound_on;      // sound effects on
extern int music_on;      // music on
extern int sound_volume;  // 0..250, digital volume of effects
extern int music_volume;  // 0..250, second argument of set_volume
extern int dif_level;     // 0 Easy, 1 Normal, 2 Hard
extern int music_silent;  // -1: songs are chosen as usual, none starts (no engine, a fast replay)

// The level in play.
extern map_struct *gmap;               // map in play: an object of mapData, or &map
extern map_struct map;                 // buffer of a custom map or a loaded game's map
extern int mapV[MAP_W][MAP_H];         // cell values: 0 wall, -1 floor, 1..4 ball, 5..8 power ball
extern actor_struct bugs[MAX_BUGS];    // the bugs; the first num_bugs play
extern actor_struct vorbel;            // the player
extern int current_map_played;         // index of the level in mapData
extern int num_bugs;                   // bugs in play, at most MAX_BUGS
extern int num_balls;                  // balls left; the level is cleared at 0
extern int end_game;                   // -1 once the game is over
extern int vorbel_speed;               // ticks that must pass before the vorbel steps
extern int bug_speed;                  // ticks that must pass before the bugs step
extern int max_bugs_state;             // length of the safety time, in passes
extern int state_timer;                // safety count: 0 off, else passes since the power ball
extern int extra_life;                 // score when the last extra life was given
extern std::atomic<int> vorbel_timer;  // ticks since the vorbel's last step (timer thread adds)
extern std::atomic<int> bug_timer;     // ticks since the bugs' last step (timer thread adds)
extern int vorbel_move_direction;      // step in progress: 0 none, 1 up, 2 down, 3 left, 4 right
extern char text[256];                 // shared formatting buffer and file-dialog path
extern char current_game_name[256];    // file name the save dialog offers
extern char player_name[16];           // last name typed for the table, at first the default
extern int random_draws;               // numbers Random has drawn since the program started

// Requests from outside the screens. Their handlers (a signal, the window's close button, a focus
// switch) run on other threads or in signal context and only raise these flags; the screens'
// loops on the main thread act on them.
extern std::atomic<int> exit_requested;  // -1: SIGTERM or SIGINT, end the program as "Exit" does
extern std::atomic<int>
    close_requested;  // -1: the window's close button was clicked and its request is pending
extern std::atomic<int> focus_lost;  // -1: the window lost the input focus during a level
extern std::atomic<int> focus_back;  // -1: the focus came back since the pause last looked

// ---------------------------------------------------------------------------------------------
// Functions, by area
// ---------------------------------------------------------------------------------------------

// Objects of "vorbel.dat", which start-up has checked for kind and presence.
inline BITMAP *Graphic(int n) { return static_cast<BITMAP *>(graphics[n].dat); }
inline FONT *GraphicFont(int n) { return static_cast<FONT *>(graphics[n].dat); }
inline RGB *GamePalette() { return static_cast<RGB *>(graphics[GFX_PALETTE].dat); }

// Maps from files (mapcheck.cpp).
void MapFromBytes(const unsigned char *bytes, map_struct *m);  // a 1048-byte little-endian image
void MapToBytes(const map_struct *m, unsigned char *bytes);
int CheckMap(const map_struct *m, char *why, int size);  // -1 playable, else 0 and the reason
int CheckLevelData(DATAFILE *d, char *why, int size);    // every object of "maps.dat"

// Start-up and shared helpers (startup.cpp).
int Random(int n);     // 0..n-1 from the game's own sequence, the C library's unseeded rand()
void RandomRestart();  // the sequence back to its start, random_draws 0
void game_timer();
[[noreturn]] void Error(const char *message);
int FileExist(const char *name);
// A file of the user's opened for reading, only when it is a regular file (a FIFO would block the
// game); else null and "it cannot be opened: " with the reason in `why`.
FILE *ReadableFile(const char *path, char *why, int size);

void LoadDatafiles();          // presence checks, loading and object checks of every datafile
int ScreenShot();              // writes "vorbel.pcx" whole or not at all; -1 on success
void HoldExitSignals();        // SIGTERM and SIGINT wait for InstallSignalHandlers (first in main)
void InstallSignalHandlers();  // SIGTERM and SIGINT, in place of Allegro's (after install_allegro)
void InstallWindowHandlers();  // the close button and the focus switches (after set_gfx_mode)
int LeaveRequested();  // -1 when a screen outside a level must return: a signal or the close button
void WaitEscapeReleased();  // a screen left with Escape returns only once the key is up
void *DatafileObject(DATAFILE *d, int n,
                     int type);  // object n if there and of that type, else null

// The game's folders (folders.cpp).
void FindDataFolder(const char *program);  // the datafiles' folder only (the level editor)
void FindGameFolders(
    const char *program);  // the datafiles' folder; the player's folder becomes current
std::string DataPath(const char *name);  // a datafile's path: the bare name when read from here
std::string InstalledDataFolder(
    const std::string &program_folder);  // first folder holding datafiles
std::string PlayerFolder(const char *xdg_data_home,
                         const char *home);  // empty when neither is usable

// High scores (highscores.cpp).
enum { NAME_IGNORED, NAME_TYPED, NAME_ERASED, NAME_DONE };  // what a key did to a typed name
int WriteFileSafely(const char *path, const void *data,
                    int size);  // -1 when the file is replaced whole
void DefaultHighScore(highscore_struct *entry);
void ResetHighScores();  // all fifteen entries the default
int CheckHighScores(const highscore_struct *table, char *why,
                    int size);  // -1 when every entry is sound
// -1 when the bytes are a sound table, copied to `table`; else 0 and the fault in `why`.
int HighScoresFromBytes(const unsigned char *bytes, size_t n, highscore_struct *table, char *why,
                        int size);
void LoadHighScores();  // a damaged file is set aside and the defaults used
int SaveHighScores();   // -1 when "vorbel.hsc" was written
int StoreHighScores();  // SaveHighScores, telling the player when it fails; -1 when written
int InsertHighScore(int score, int level, int bugs_eaten);  // rank of the new entry, or -1
int NameKey(char *name, int c, int scancode, FONT *f);      // one key of the name entry
void ClipText(FONT *f, const char *s, int width, char *out, int size);  // the prefix that fits
void GotHighScore();
void GetHighScore();
void DrawHighScores();
void ViewHighScores();

// Saved games (savegame.cpp) and custom levels (customlevel.cpp).
extern const char GAMESG[];  // identification at the end of every saved game
// Allegro's alerts take the characters of their shortcut keys, not scancodes.
constexpr int ALERT_ENTER = '\r';
constexpr int ALERT_ESCAPE = 27;
int FileDialog(const char *title, const char *extension);  // the selector on `text`; -1 on OK
void ShowAlert(const char *first,
               const char *second);         // an alert with OK; a close request closes it
void SavedGameBytes(unsigned char *bytes);  // the SAVE_SIZE bytes F5 writes
int WriteSavedGame(const char *path);       // -1 when written
// -1 when read and applied; 0 refused with the reason in `why`, nothing changed.
int ApplySavedGame(const unsigned char *bytes, size_t n, char *why = nullptr, int size = 0);
int ReadSavedGame(const char *path, char *why = nullptr, int size = 0);
// ".extension" added to a path whose file part has none; 0 when it would not fit.
int AddExtension(char *path, int size, const char *extension);
void RememberGameName(const char *path);  // its file part, cut to fit, as the next save's offer
void SaveGame();
void LoadGame();
// -1 when read and playable; else 0, the reason in `why` and out unchanged.
int ReadCustomMap(const char *path, map_struct *out, char *why = nullptr, int size = 0);
void PlayCustomGame();
int PlayLevelFile(const char *path);  // one custom map as a whole game (vorbel --level); 0 refused
void PlayCustomMap();                 // the one-level game on the map buffer

// Drawing helpers (button.cpp).
void DrawFrame(int x1, int y1, int x2, int y2, int c1, int c2);
// Fills a box of the screen with the menu background pattern (object GFX_PATTERN).
void FillPattern(int x1, int y1, int x2, int y2);
void Dtextout(BITMAP *bmp, FONT *f, const char *s, int x, int y, int color, int shadow);
void Dtextout_centre(BITMAP *bmp, FONT *f, const char *s, int x, int y, int color, int shadow);
int mouseinbox(int x1, int y1, int x2, int y2);

// Level data (state.cpp).
int CellValue(int code);     // the cell value of a cell code
void BuildCellValues();      // mapV from gmap's codes
int CellAt(int cx, int cy);  // mapV of a cell; outside the grid see state.cpp
int StartCell(int c);        // a start column or row, kept inside the grid
void NewGameSetup();         // lives, speeds and safety time by difficulty

// Title screen and menus (menus.cpp).
void PlayTheme();
void PlaySong();
void DrawTitle();
void DrawStartGameMenu();
void StartGameMenu();
void ViewCredits();

// Options screen (options.cpp).
void Options();
void ApplyVolumes();        // the volume settings to Allegro's mixer and the music engine
std::string OptionsText();  // the settings as "vorbel.cfg" holds them
// -1 when the text holds every setting in range and they were applied; else 0 and the reason.
int ParseOptions(const char *text, size_t n, char *why, int size);
void LoadOptions();  // at start; a damaged file leaves the defaults and says so
int SaveOptions();   // -1 when "vorbel.cfg" was written; else an alert says why

// Game loop (gameloop.cpp).
void PlayGame();
void PlayMap(map_struct *level);
void StartLevel();
void LevelSetup();       // level start on gmap: counts, bugs in play, actors, cell values
void GamePass();         // one pass of the game loop
int LevelCleared();      // -1 once no ball is left to eat
void WaitForNextPass();  // paces the loop: at most one pass per game tick
void NextMap();          // after a level: the next map, or end_game after the last
void Pause();            // the presenter's pause; the ticks that passed meanwhile give no steps

// Exact input replays (replay.cpp).
enum { REPLAY_OFF, REPLAY_RECORD, REPLAY_PLAY };
extern const char REPLAY_VERSION[];  // the version tag every recording carries
extern int replay_mode;              // REPLAY_OFF, or recording, or replaying the game played
extern int replay_fast;           // -1: a replay at full speed: no screens and no table at its end
extern char replay_stopped[160];  // why a replay stopped before its end; empty while on course
// What one pass of the game loop consumes: are the tick counters past the speeds, which ways asked.
struct PassInput {
  int vorbel_due = 0, bug_due = 0;
  int up = 0, down = 0, left = 0, right = 0;
};
extern PassInput (*pass_input)();  // the inputs of a pass that is not replayed (LiveInput)
PassInput LiveInput();             // the tick counters, the arrow keys and the joystick
// A recording, as a file holds it.
struct ReplayFile {
  char version[32] = "";
  int dif_level = 0, music_on = 0, custom = 0;
  uint32_t draws = 0;   // Random's draws before the game began
  uint32_t levels = 0;  // fingerprint of the levels of "maps.dat" (0 for a custom map)
  map_struct map{};     // the custom map
  int score = 0, level = 0, lives = 0, bugs_eaten = 0;  // the figures at the game's end
  std::vector<unsigned char> stream;                    // passes and events
};
std::vector<unsigned char> ReplayBytes(const ReplayFile &r);
int ParseReplay(const unsigned char *b, size_t n, ReplayFile *out, char *why, int size);
uint32_t StateFingerprint();
uint32_t LevelsFingerprint();
void RecordTo(const char *path);  // record every game of this run to path (the last one stays)
void RecordStart(int custom);
void RecordQuit();
void RecordLoad(const unsigned char *save);
void RecordPass(const PassInput &in);
void RecordName(const char *name);
void RecordEnd();
int RecordFinish();  // writes the file; -1 when written
const ReplayFile &Recording();
int ReplayOpen(const char *path, char *why, int size);  // -1: the game it holds is set up to play
int ReplayUse(const unsigned char *b, size_t n, char *why, int size);
const ReplayFile &Replaying();
int ReplayStart();
int ReplayPass(PassInput *in);
void ReplayName(char *name, int size);
int ReplayEnd();  // -1 when the game ended as recorded
void ReplayInterrupted();

// The presentation of play (presenter.cpp). The game loop reports what happens to the presenter
// in use, which shows it on its bitmap and waits for the player where the game waits.
enum {
  PRESENT_WINDOW,   // a player in the window
  PRESENT_WATCHED,  // a replay watched in the window: its waits are moments
  PRESENT_NONE,  // nothing drawn, nothing waited for, no pacing: a fast replay, tests, benchmarks
};
// Moments of play the logic reports; the window's presenter plays each one's sound effect.
enum {
  PLAY_BALL,
  PLAY_POWER_BALL,
  PLAY_BUG_EATEN,
  PLAY_CAUGHT,
  PLAY_GAME_OVER,
  PLAY_CLEARED,
  PLAY_EXTRA_LIFE,
};
struct presenter_struct {
  BITMAP *bmp;                                      // where it draws
  int paced;                                        // -1: the loop keeps to the game's tick
  void (*game_start)(BITMAP *bmp, int fade_speed);  // the play screen fades in: panel and frame
  void (*game_end)(BITMAP *bmp);                    // back to the menus: the mouse pointer
  void (*level_start)(BITMAP *bmp);                 // the panel's lives, level and best entry
  void (*pass)(BITMAP *bmp);                        // after a pass: the maze, score, bugs eaten
  void (*safety)(BITMAP *bmp);                      // the safety count's line
  void (*lives)(BITMAP *bmp);                       // the lives line (an extra life)
  void (*life_lost)(BITMAP *bmp);                   // "You Died!!!" and "Press space", until Space
  void (*game_over)(BITMAP *bmp);      // "G A M E   O V E R" and "Press Spacebar", until Space
  void (*level_cleared)(BITMAP *bmp);  // a custom level cleared is said, until Space
  void (*pause)(BITMAP *bmp);          // "[Paused]" until a key and then C; held keys forgotten
  int (*ask_quit)(BITMAP *bmp);        // the quit question: -1 when answered Y
  void (*happened)(int what);          // PLAY_...: heard, when sound is on
};
extern presenter_struct presenter;         // the presenter in use; at first the null one
void UsePresenter(int kind, BITMAP *bmp);  // PRESENT_..., drawing on bmp

// Rendering (render.cpp): the play screen, on the bitmap given (the tools draw on the screen).
void InitGameGraphics(BITMAP *bmp = screen);
void Draw3dFrame(BITMAP *bmp);
void DrawGameMap(BITMAP *bmp = screen);
void DrawCellPicture(BITMAP *bmp, int code, int v, int px,
                     int py);  // one cell's tile, ball or decoration
void DrawStatusLine(const char *s, int y, int colour,
                    BITMAP *bmp = screen);  // one line of the panel's lower box

// The vorbel (vorbel.cpp).
void MoveUp();
void MoveDown();
void MoveLeft();
void MoveRight();
void EatBall();
void PlaySoundA(int n);

// The bugs (bugs.cpp).
void MoveBug(int i);
void ChangeBugDir(int i);
int BugGoUp(int i);
int BugGoDown(int i);
int BugGoLeft(int i);
int BugGoRight(int i);
void BugCollision(int i);
