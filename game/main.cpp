// Vorbel Endurnal: start-up, the title loop and shutdown. Everything else of the game is reached
// from the title screen's "Play Game" button and comes back here.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "Template.h"
#include "modux.h"
#include "platform.h"

// Installs the drivers in the game's order. Without a sound device the game runs silent.
static void InstallDrivers(char *program) {
  install_allegro(SYSTEM_AUTODETECT, &errno, atexit);
  install_keyboard();
  install_mouse();
  install_timer();
  reserve_voices(32, -1);
  if (install_joystick(JOY_TYPE_AUTODETECT) != 0) {
    allegro_message("Error installing joystick\n%s\n", allegro_error);
    install_joystick(JOY_TYPE_NONE);
  }
  int sound_works = -1;
  if (install_sound(DIGI_AUTODETECT, MIDI_AUTODETECT, program) != 0) {
    printf("Error: %s\n", "Error initializing sound.\n Installing without sound.\n");
    sound_on = 0;
    music_on = 0;
    sound_works = 0;
    // The null driver cannot promise the 32 voices reserved above and would refuse them; with the
    // default reservation it installs, and the music engine runs on it silently.
    reserve_voices(-1, -1);
    install_sound(DIGI_NONE, MIDI_NONE, nullptr);
  }
  // Only a working sound system that cannot spare the music its voices is fatal; with no sound
  // device at all the game simply plays without music.
  if (install_mod(16) < 0) {
    if (sound_works) Error("Error setting MOD voices.\n Notify author.\n");
    music_on = 0;
    music_silent = -1;
  }
  ApplyVolumes();
}

// -1 when the high-score table was written; else the player has been told, and the program's
// status says so too.
static int Shutdown() {
  const int stored = StoreHighScores();  // before the fade, so that an alert about it can be read
  fade_out(2);
  destroy_bitmap(map_bitmap);
  set_gfx_mode(GFX_TEXT, 0, 0, 0, 0);
  // The playing song lives in sounds.dat: silence it before its module is freed.
  stop_mod();
  unload_datafile(graphics);
  unload_datafile(sprites);
  unload_datafile(mapData);
  unload_datafile(sounds);
  allegro_exit();
  return stored;
}

// The command line: --record FILE, --replay FILE, --fast (with --replay), --level FILE.map.
// Answers -1 when it is understood, else 0 after saying how to use it.
struct CommandLine {
  const char *record = nullptr;  // record the games of this run to this file
  const char *replay = nullptr;  // play this recording back instead of the title screen
  int fast = 0;                  // -1: replay without pacing and print the final figures
  // Play this custom map as a one-level game, as "Play Custom Level" does, and end after its
  // high-score step (the level editor's play-test).
  const char *level = nullptr;
};

static const char kUsage[] =
    "Usage: vorbel [--record FILE] [--replay FILE [--fast]] [--level FILE.map]\n";

static int ParseCommandLine(int argc, char **argv, CommandLine *c) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if ((a == "--record" || a == "--replay" || a == "--level") && i + 1 < argc)
      (a == "--record" ? c->record : a == "--replay" ? c->replay : c->level) = argv[++i];
    else if (a == "--fast")
      c->fast = -1;
    else {
      printf(kUsage);
      return 0;
    }
  }
  if ((c->fast && !c->replay) || (c->record && c->replay) || (c->level && c->replay)) {
    printf(kUsage);
    return 0;
  }
  return -1;
}

// A file named on the command line, made absolute: the installed game moves into the player's
// folder before it opens anything, and the name must still mean the file the user meant.
static std::string CommandLinePath(const char *name) {
  if (name[0] == '/') return name;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return name;
  return std::string(cwd) + "/" + name;
}

// Plays the recording set up by ReplayOpen; at full speed the figures of its end are printed.
// Answers the program's exit status: 0 when the game ended as recorded.
static int RunReplay(const CommandLine &c) {
  UsePresenter(c.fast ? PRESENT_NONE : PRESENT_WATCHED, screen);
  if (c.fast) {
    replay_fast = -1;
    music_silent = -1;
    sound_on = 0;
  } else {
    InitGameGraphics(screen);
  }
  if (ReplayStart()) {
    if (Replaying().custom)
      PlayCustomMap();
    else
      PlayGame();
  }
  if (replay_stopped[0]) {
    printf("%s\n", replay_stopped);
    return 1;
  }
  printf("score %d level %d lives %d bugs %d\n", vorbel.score, current_map_played + 1, vorbel.lives,
         vorbel.bugs_eaten);
  return 0;
}

int main(int argc, char **argv) {
  HoldExitSignals();
  CommandLine command;
  if (!ParseCommandLine(argc, argv, &command)) return 2;
  std::string paths[3];
  const char **named[3] = {&command.record, &command.replay, &command.level};
  for (int i = 0; i < 3; i++)
    if (*named[i]) *named[i] = (paths[i] = CommandLinePath(*named[i])).c_str();
  if (!DisplayAvailable()) {
    printf(
        "Error: %s\n",
        "Cannot open the X display. Vorbel Endurnal needs a graphical session (is DISPLAY set?).");
    return 1;
  }
  FindGameFolders(argv[0]);  // before anything reads or writes a file
  LoadOptions();             // before the drivers, which turn sound off when there is none
  InstallDrivers(argv[0]);
  InstallSignalHandlers();  // a signal from start-up on ends the program at the title
  LoadHighScores();
  LoadDatafiles();
  if (command.replay) {
    char why[160];
    if (!ReplayOpen(command.replay, why, sizeof why)) {
      allegro_exit();
      printf("Cannot replay %s: %s\n", command.replay, why);
      return 1;
    }
  }
  if (command.record) RecordTo(command.record);

  set_gfx_mode(GFX_GAME_WINDOW, 640, 480, 0, 0);
  if (set_gfx_mode(GFX_GAME_WINDOW, 640, 480, 0, 0) != 0) {
    printf("\nError setting graphics mode");
    printf("\nCheck to assure you have VESA capability");
    return 1;
  }
  set_window_title("Vorbel Endurnal");
  UsePresenter(PRESENT_WINDOW, screen);
  InstallWindowHandlers();
  map_bitmap = create_bitmap(441, 441);
  screen_bitmap = create_bitmap(640, 480);

  if (command.replay) {
    set_palette(GamePalette());
    int status = RunReplay(command);
    return Shutdown() ? status : 1;
  }

  if (music_on) PlayTheme();
  BITMAP *face = Graphic(GFX_TITLE_BUTTON);
  btn_new_game = new Button("Play Game", 245, 290, 385, 315, 15, 25, face);
  btn_exit = new Button("Exit", 245, 320, 385, 345, 15, 25, face);
  if (command.level) {
    int played = PlayLevelFile(command.level);
    return Shutdown() && played ? 0 : 1;
  }
  PlaySong();
  DrawTitle();

  for (;;) {
    if (key[KEY_F10]) ScreenShot();
    if (LeaveRequested()) break;  // a signal or the close button: leave as "Exit" does
    if (btn_new_game->Clicked()) {
      StartGameMenu();
      if (LeaveRequested()) break;
      DrawTitle();
      PlaySong();
      continue;
    }
    if (btn_exit->Clicked() || key[KEY_ESC]) break;
    rest(1);  // the screen only waits for the mouse and keys: give the core back meanwhile
  }

  return Shutdown() ? 0 : 1;
}
END_OF_MAIN()
