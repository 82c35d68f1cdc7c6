// vorbel-mapc, the level kit's compiler: reads one level written in the text-art format of the
// game's own levels, runs the checks the build runs on them (every ball reachable from the
// vorbel's start, the counts, the codes in range) and writes a custom map file for
// "Play Custom Level": the 1048-byte map record image.
// Usage: vorbel-mapc LEVEL.txt [-o LEVEL.map]    (without -o: LEVEL.map beside LEVEL.txt)
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "maplevel.h"

namespace {

int Usage(const char *program) {
  std::fprintf(
      stderr,
      "usage: %s LEVEL.txt [-o LEVEL.map]\n"
      "Checks a level drawn as text and writes it as a custom map for \"Play Custom Level\".\n",
      program);
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  const char *program = argc > 0 ? argv[0] : "vorbel-mapc";
  std::string input, output;
  for (int a = 1; a < argc; a++) {
    if (std::strcmp(argv[a], "-o") == 0) {
      if (a + 1 >= argc || !output.empty()) return Usage(program);
      output = argv[++a];
    } else if (std::strcmp(argv[a], "-h") == 0 || std::strcmp(argv[a], "--help") == 0) {
      Usage(program);
      return 0;
    } else if (input.empty() && argv[a][0] != '\0') {
      input = argv[a];
    } else {
      return Usage(program);
    }
  }
  if (input.empty()) return Usage(program);
  if (output.empty()) output = std::filesystem::path(input).replace_extension(".map").string();
  if (output == input) {
    std::fprintf(stderr, "vorbel-mapc: the map would overwrite its own source %s\n", input.c_str());
    return 2;
  }

  mapgen::Level level;
  std::string err = mapgen::load_level_file(input, level);
  if (!err.empty()) {
    std::fprintf(stderr, "vorbel-mapc: %s\n", err.c_str());
    return 1;
  }
  std::vector<std::string> problems = mapgen::check_level(level);
  for (const std::string &p : problems) std::fprintf(stderr, "vorbel-mapc: %s\n", p.c_str());
  if (!problems.empty()) {
    std::fprintf(stderr, "vorbel-mapc: %zu problem%s found, %s not written\n", problems.size(),
                 problems.size() == 1 ? "" : "s", output.c_str());
    return 1;
  }
  const std::vector<uint8_t> image = mapgen::map_image(level);
  if (const int why = mapgen::write_file(output, std::string(image.begin(), image.end()))) {
    std::fprintf(stderr, "vorbel-mapc: cannot write %s: %s\n", output.c_str(), std::strerror(why));
    return 1;
  }
  std::printf("%s: \"%s\", %d balls, %d bugs -> %s\n", input.c_str(),
              mapgen::escaped(level.name).c_str(), mapgen::ball_count(level), level.bug_count,
              output.c_str());
  return 0;
}
