// Load time of the real modules (tests/realmods, fetched into BUILD/realmods), against the
// reference player's load of the same file, interleaved in one run. Three figures per file,
// medians of the rounds, wall clock:
//   load      load_mod + destroy_mod in this process;
//   ours      a whole `modux-play --info FILE` process (start-up, probe, load, summary);
//   openmpt   a whole `openmpt123 --info FILE` process, its nearest equivalent;
// and the ratio ours / openmpt. Usage: bench_load_real [DIR] [ROUNDS]
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "modux.h"
#include "process_timing.h"

namespace {

using clock_type = std::chrono::steady_clock;

// Seconds taken by a program run with its output thrown away; negative when it failed.
double run_seconds(const std::vector<std::string> &args) {
  const process_timing t = run_process(args);
  return t.ok ? t.wall : -1;
}

double load_seconds(const std::string &path) {
  const auto start = clock_type::now();
  MODUX *mod = load_mod(path.c_str());
  const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
  if (!mod) return -1;
  destroy_mod(mod);
  return seconds;
}

}  // namespace

int main(int argc, char **argv) {
  const std::string dir = argc > 1 ? argv[1] : VORBEL_BUILD_DIR "/realmods";
  const int rounds = argc > 2 ? atoi(argv[2]) : 15;
  install_allegro(SYSTEM_NONE, &errno, atexit);
  std::vector<std::string> files;
  if (std::filesystem::is_directory(dir))
    for (const auto &e : std::filesystem::directory_iterator(dir))
      files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    fprintf(stderr, "bench_load_real: no modules in %s (run tests/realmods/fetch.sh %s)\n",
            dir.c_str(), dir.c_str());
    return 1;
  }
  printf("%-16s %9s %10s %10s %11s %7s\n", "module", "bytes", "load ms", "ours ms", "openmpt ms",
         "ratio");
  std::vector<double> ratios;
  for (const std::string &f : files) {
    std::vector<double> load, ours, theirs;
    for (int r = 0; r < rounds; r++) {
      load.push_back(load_seconds(f));
      ours.push_back(run_seconds({MODUX_PLAY, "--info", f}));
      theirs.push_back(run_seconds({"openmpt123", "--info", f}));
    }
    if (*std::min_element(load.begin(), load.end()) < 0 ||
        *std::min_element(ours.begin(), ours.end()) < 0 ||
        *std::min_element(theirs.begin(), theirs.end()) < 0) {
      fprintf(stderr, "bench_load_real: %s: a load or a run failed (%s)\n", f.c_str(), modux_error);
      return 1;
    }
    const double ratio = median(ours) / median(theirs);
    ratios.push_back(ratio);
    printf("%-16s %9ju %10.3f %10.2f %11.2f %7.2f\n", std::filesystem::path(f).filename().c_str(),
           static_cast<uintmax_t>(std::filesystem::file_size(f)), median(load) * 1e3,
           median(ours) * 1e3, median(theirs) * 1e3, ratio);
  }
  printf("median ratio ours / openmpt123 over %zu modules: %.2f\n", ratios.size(), median(ratios));
  return 0;
}
