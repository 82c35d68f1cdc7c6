// Time to load each of the game's songs (the .mux files the sound generator writes beside
// sounds.dat) into the module model with load_mod, and to free it again.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "modux.h"

namespace {

void LoadSong(benchmark::State &state, const std::string &path) {
  for (auto _ : state) {
    MODUX *mod = load_mod(path.c_str());
    if (!mod) {
      state.SkipWithError(modux_error);
      break;
    }
    benchmark::DoNotOptimize(mod->patterns[0].notes);
    destroy_mod(mod);
  }
  state.counters["file_bytes"] = double(std::filesystem::file_size(path));
}

}  // namespace

int main(int argc, char **argv) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  const std::filesystem::path music = std::filesystem::path(VORBEL_RUN_DIR) / "music";
  if (std::filesystem::is_directory(music))
    for (const auto &entry : std::filesystem::directory_iterator(music))
      if (entry.path().extension() == ".mux")
        benchmark::RegisterBenchmark(("BM_LoadSong/" + entry.path().stem().string()).c_str(),
                                     LoadSong, entry.path().string())
            ->Unit(benchmark::kMicrosecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
