// Test helper of the end-to-end tests: draws the high-score screen exactly as the game draws it
// for the "vorbel.hsc" of a folder (the defaults when there is none), writes it as a picture to
// compare with the game's window, and prints the table one entry a line: rank score level bugs
// name. Usage: hsc_screen RUN_DIR FOLDER OUT.pcx
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "Template.h"

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s RUN_DIR FOLDER OUT.pcx\n", argv[0]);
    return 2;
  }
  install_allegro(SYSTEM_NONE, &errno, atexit);
  set_color_depth(8);
  graphics = load_datafile((std::string(argv[1]) + "/vorbel.dat").c_str());
  if (!graphics || chdir(argv[2]) != 0) {
    std::fprintf(stderr, "hsc_screen: cannot read %s/vorbel.dat or enter %s\n", argv[1], argv[2]);
    return 1;
  }
  LoadHighScores();
  screen = create_bitmap(640, 480);
  DrawHighScores();
  for (int i = 0; i < NUM_HIGHSCORES; i++) {
    const highscore_struct &e = HighScores[i];
    std::printf("%d %d %d %d %s\n", i + 1, e.score, e.level, e.bugs_eaten, e.name);
  }
  return save_pcx(argv[3], screen, GamePalette()) == 0 ? 0 : 1;
}
