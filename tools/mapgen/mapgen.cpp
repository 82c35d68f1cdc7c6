// Level generator: reads the level pictures named on the command line, in play order, checks that
// each one can be played and cleared, and writes them as the DATA objects of "maps.dat".
// Usage: mapgen OUTPUT.dat LEVEL.txt...
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "datwriter.h"
#include "maplevel.h"

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTPUT.dat LEVEL.txt...\n", argc > 0 ? argv[0] : "mapgen");
    return 2;
  }
  std::vector<dat::Object> objects;
  int problems = 0;
  for (int a = 2; a < argc; a++) {
    mapgen::Level level;
    std::string err = mapgen::load_level_file(argv[a], level);
    if (!err.empty()) {
      std::fprintf(stderr, "mapgen: %s\n", err.c_str());
      problems++;
      continue;
    }
    for (const std::string &p : mapgen::check_level(level)) {
      std::fprintf(stderr, "mapgen: %s\n", p.c_str());
      problems++;
    }
    // Objects are named after their files (LEVEL01 ...); the game addresses them by index.
    std::string name = std::filesystem::path(argv[a]).stem().string();
    for (char &c : name)
      if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    objects.push_back(dat::make_raw(name, dat::TYPE_DATA, mapgen::map_image(level)));
  }
  if (problems > 0) {
    std::fprintf(stderr, "mapgen: %d problem%s found, %s not written\n", problems,
                 problems == 1 ? "" : "s", argv[1]);
    return 1;
  }
  if (!dat::write_datafile(argv[1], objects)) return 1;
  return 0;
}
