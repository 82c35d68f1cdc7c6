// Where the game's files live. Started in a folder that holds its datafiles (the build's run
// folder), the game reads and writes there alone. Otherwise it reads its datafiles from the
// installed data folder, found from the program's own location so that a moved prefix still
// works, and keeps the player's files in the user's data folder, which becomes the current folder:
// the high-score table, saved games, screenshots and the file selectors all use it.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "Template.h"

namespace fs = std::filesystem;

namespace {

// The datafiles' folder with a trailing slash, or empty when they are read from the current folder.
std::string data_folder;

// The datafiles whose presence marks a folder as the game's own; any one of them is enough, so a
// run folder with one file missing still reports that file as missing there.
const char *const kMarkers[] = {"vorbel.dat", "vorbel2.dat", "maps.dat", "sounds.dat", "set0.dat"};

bool HoldsDatafiles(const fs::path &folder) {
  std::error_code ec;
  for (const char *name : kMarkers)
    if (fs::is_regular_file(folder / name, ec)) return true;
  return false;
}

// The folder of the running program: the kernel's link first, the name it was started by second.
fs::path ProgramFolder(const char *program) {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec && program) exe = fs::weakly_canonical(fs::absolute(program, ec), ec);
  return exe.parent_path();
}

// Copies the example levels, maps and their texts, into a new player's folder, so the custom-level
// selector opens on them and a text can be copied to start a level from.
void CopyExampleLevels(const fs::path &from, const fs::path &to) {
  std::error_code ec;
  if (!fs::is_directory(from, ec)) return;
  fs::create_directories(to, ec);
  for (const fs::directory_entry &e : fs::directory_iterator(from, ec))
    if (e.path().extension() == ".map" || e.path().extension() == ".txt")
      fs::copy_file(e.path(), to / e.path().filename(), fs::copy_options::skip_existing, ec);
}

}  // namespace

std::string InstalledDataFolder(const std::string &program_folder) {
  const fs::path bin(program_folder);
  const fs::path candidates[] = {bin, bin / "../share/games/vorbel-endurnal",
                                 bin / "../share/vorbel-endurnal"};
  for (const fs::path &c : candidates)
    if (HoldsDatafiles(c)) return c.lexically_normal().string();
  // None holds them: the missing-file message names the folder the installation puts them in.
  return candidates[1].lexically_normal().string();
}

std::string PlayerFolder(const char *xdg_data_home, const char *home) {
  // An unset, empty or relative XDG_DATA_HOME is ignored, as the XDG base directory rules ask.
  if (xdg_data_home && xdg_data_home[0] == '/')
    return (fs::path(xdg_data_home) / "vorbel-endurnal").string();
  if (home && home[0]) return (fs::path(home) / ".local/share/vorbel-endurnal").string();
  return "";
}

std::string DataPath(const char *name) { return data_folder + name; }

void FindDataFolder(const char *program) {
  data_folder.clear();
  if (HoldsDatafiles(".")) return;
  data_folder = InstalledDataFolder(ProgramFolder(program).string());
  if (data_folder.back() != '/') data_folder += '/';
}

void FindGameFolders(const char *program) {
  FindDataFolder(program);
  if (data_folder.empty()) return;

  const std::string player = PlayerFolder(getenv("XDG_DATA_HOME"), getenv("HOME"));
  std::error_code ec;
  if (player.empty()) return;
  const bool first_use = !fs::exists(player, ec);
  fs::create_directories(player, ec);
  if (ec || chdir(player.c_str()) != 0) {
    printf("Cannot use the folder %s: the player's files are kept in the current folder.\n",
           player.c_str());
    return;
  }
  if (first_use) CopyExampleLevels(fs::path(data_folder) / "custom", "custom");
}
