// How many passes of the game loop this machine makes in a second, with the first level of the
// real datafiles in a real 640x480 window and a song of the game playing, as in play: the bare
// pass (what an unpaced loop would make, drawn and with the null presenter), the maze drawing
// alone, the paced loop that the game runs, and the music alone with the main thread asleep (what
// Allegro's threads and the music cost by themselves). Rates are wall-clock; the CPU figures are
// the whole process's (getrusage), since the mixer, the timer and the X driver run threads of their
// own.
//   DISPLAY=:55 bench_gameloop [run folder]   (the folder defaults to the build's run folder)
//   bench/run_with_sound.sh bench_gameloop  (private X server and a paced sound sink)
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>

#include "Template.h"
#include "modux.h"
#include "platform.h"

namespace {

// Level 1 on Normal with an immortal vorbel running right, so the pass does everything it does
// in play: steps, bug turns, collisions and their restarts, the safety count and the drawing.
void StartBenchLevel() {
  dif_level = 1;
  NewGameSetup();
  vorbel.lives = INT_MAX / 2;
  current_map_played = 0;
  gmap = static_cast<map_struct *>(mapData[0].dat);
  LevelSetup();
  max_bugs_state = INT_MAX;
  state_timer = 1;
  key[KEY_SPACE] = 1;  // a lost life goes on at once
  key[KEY_RIGHT] = 1;
}

// One game tick per pass, as the paced loop sees them, without the timer.
void Tick() {
  vorbel_timer++;
  bug_timer++;
}

void KeepPlaying() {
  if (end_game || num_balls == 0) StartBenchLevel();
}

double ProcessCpuSeconds() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

// Whole-process CPU over the timed loop: per pass, and as cores kept busy (CPU time / wall time).
class ProcessCpu {
 public:
  ProcessCpu() : cpu_(ProcessCpuSeconds()), wall_(std::chrono::steady_clock::now()) {}
  void Report(benchmark::State &state) const {
    double cpu = ProcessCpuSeconds() - cpu_;
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count();
    state.counters["cpu_us_per_pass"] =
        benchmark::Counter(cpu * 1e6, benchmark::Counter::kAvgIterations);
    state.counters["cores_busy"] = wall > 0 ? cpu / wall : 0;
  }

 private:
  double cpu_;
  std::chrono::steady_clock::time_point wall_;
};

// The bare pass with the window's presenter (as in play) and with the null one (the logic alone,
// as a fast replay runs it).
void BM_GamePass(benchmark::State &state) {
  UsePresenter(int(state.range(0)), screen);
  StartBenchLevel();
  ProcessCpu cpu;
  for (auto _ : state) {
    Tick();
    GamePass();
    KeepPlaying();
  }
  cpu.Report(state);
  state.SetItemsProcessed(state.iterations());
  UsePresenter(PRESENT_WINDOW, screen);
}
BENCHMARK(BM_GamePass)
    ->ArgName("presenter")
    ->Arg(PRESENT_WINDOW)
    ->Arg(PRESENT_NONE)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void BM_DrawGameMap(benchmark::State &state) {
  StartBenchLevel();
  ProcessCpu cpu;
  for (auto _ : state) DrawGameMap(screen);
  cpu.Report(state);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DrawGameMap)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The loop as the game runs it, on the game's own timer: items per second is its pass rate.
void BM_PacedPass(benchmark::State &state) {
  StartBenchLevel();
  install_int(game_timer, 6400 / SCREEN_W);
  int bug_steps = 0;
  ProcessCpu cpu;
  for (auto _ : state) {
    int x = bugs[0].x, y = bugs[0].y;
    GamePass();
    bug_steps += bugs[0].x != x || bugs[0].y != y;
    KeepPlaying();
    WaitForNextPass();
  }
  cpu.Report(state);
  remove_int(game_timer);
  state.SetItemsProcessed(state.iterations());
  // A bug steps once per bug_speed + 1 ticks: 100 / 11 a second on Normal when the passes keep
  // up with the ticks.
  state.counters["bug_steps"] = benchmark::Counter(bug_steps, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PacedPass)->Iterations(300)->UseRealTime()->Unit(benchmark::kMillisecond);

// The reference: one game tick of sleep per iteration, so the CPU counters show what the music,
// the mixer and Allegro's other threads take with no pass at all.
void BM_MusicAlone(benchmark::State &state) {
  ProcessCpu cpu;
  for (auto _ : state) rest(6400 / SCREEN_W);
  cpu.Report(state);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MusicAlone)->Iterations(300)->UseRealTime()->Unit(benchmark::kMillisecond);

// Sound as the game installs it: a real device when there is one (the paced sink of
// run_with_sound.sh), else the null driver, on which the music engine still runs its tick.
const char *InstallSound() {
  reserve_voices(32, -1);
  if (install_sound(DIGI_AUTODETECT, MIDI_NONE, nullptr) != 0) {
    reserve_voices(-1, -1);
    install_sound(DIGI_NONE, MIDI_NONE, nullptr);
  }
  return digi_driver && digi_driver->name && *digi_driver->name ? digi_driver->name : "none";
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  const char *run_dir = argc > 1 ? argv[1] : VORBEL_RUN_DIR;
  if (!DisplayAvailable()) {
    printf("Error: no X display: run this under Xvfb with DISPLAY set\n");
    return 1;
  }
  if (chdir(run_dir) != 0) {
    printf("Error: cannot enter the run folder %s\n", run_dir);
    return 1;
  }
  install_allegro(SYSTEM_AUTODETECT, &errno, atexit);
  install_timer();
  const char *driver = InstallSound();
  if (install_mod(16) < 0) {
    printf("Error: the music engine got no voices: %s\n", modux_error);
    return 1;
  }
  sound_on = 0;
  music_on = -1;
  LoadDatafiles();
  if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, 640, 480, 0, 0) != 0) {
    printf("Error: cannot set a 640x480 window: %s\n", allegro_error);
    return 1;
  }
  set_palette(static_cast<RGB *>(graphics[GFX_PALETTE].dat));
  map_bitmap = create_bitmap(441, 441);
  screen_bitmap = create_bitmap(640, 480);
  UsePresenter(PRESENT_WINDOW, screen);
  InitGameGraphics(screen);
  ApplyVolumes();
  PlaySong();  // a level starts a song: it plays through every benchmark
  benchmark::AddCustomContext("sound driver", driver);

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  stop_mod();
  return 0;
}
