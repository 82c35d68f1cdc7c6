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
static void InstallDrivers(char* program) {
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
  }
  ApplyVolumes();
}

static void Shutdown() {
  fade_out(2);
  SaveHighScores();
  destroy_bitmap(map_bitmap);
  set_gfx_mode(GFX_TEXT, 0, 0, 0, 0);
  // The playing song lives in sounds.dat: silence it before its module is freed.
  stop_mod();
  unload_datafile(graphics);
  unload_datafile(sprites);
  unload_datafile(mapData);
  unload_datafile(sounds);
  allegro_exit();
}

// "--level FILE.map": the game plays that custom map as a one-level game, as "Play Custom Level"
// does, and ends after its high-score step (the level editor's play-test). Sets `level` to the
// file, or leaves it null without the option; 0 when the option lacks its file.
static int LevelOption(int argc, char** argv, const char** level) {
  for (int i = 1; i < argc; i++)
    if (std::strcmp(argv[i], "--level") == 0) {
      if (i + 1 >= argc) return 0;
      *level = argv[i + 1];
    }
  return -1;
}

// A file named on the command line, made absolute: the installed game moves into the player's
// folder before it opens anything, and the name must still mean the file the user meant.
static std::string CommandLinePath(const char* name) {
  if (!name || name[0] == '/') return name ? name : "";
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return name;
  return std::string(cwd) + "/" + name;
}

int main(int argc, char** argv) {
  const char* level_arg = nullptr;
  if (!LevelOption(argc, argv, &level_arg)) {
    printf("Error: %s\n", "--level needs a map file: vorbel --level FILE.map");
    return 1;
  }
  const std::string level_path = CommandLinePath(level_arg);
  const char* level = level_arg ? level_path.c_str() : nullptr;
  if (!DisplayAvailable()) {
    printf("Error: %s\n", "Cannot open the X display. Vorbel Endurnal needs a graphical session (is DISPLAY set?).");
    return 1;
  }
  FindGameFolders(argv[0]);  // before anything reads or writes a file
  InstallDrivers(argv[0]);
  InstallSignalHandlers();  // a signal during loading ends the program at the title
  LoadHighScores();
  LoadDatafiles();

  set_gfx_mode(GFX_GAME_WINDOW, 640, 480, 0, 0);
  if (set_gfx_mode(GFX_GAME_WINDOW, 640, 480, 0, 0) != 0) {
    printf("\nError setting graphics mode");
    printf("\nCheck to assure you have VESA capability");
    return 1;
  }
  set_window_title("Vorbel Endurnal");
  InstallWindowHandlers();

  if (music_on) PlayTheme();
  BITMAP* face = Graphic(GFX_TITLE_BUTTON);
  btn_new_game = new Button("Play Game", 245, 290, 385, 315, 15, 25, face);
  btn_exit = new Button("Exit", 245, 320, 385, 345, 15, 25, face);
  map_bitmap = create_bitmap(441, 441);
  screen_bitmap = create_bitmap(640, 480);
  if (level) {
    int played = PlayLevelFile(level);
    Shutdown();
    return played ? 0 : 1;
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

  Shutdown();
  return 0;
}
END_OF_MAIN()
