// How many passes of the game loop this machine makes in a second, with the first level of the
// real datafiles in a real 640x480 window: the bare pass (what an unpaced loop would make), the
// maze drawing alone, and the paced loop that the game runs.
//   DISPLAY=:55 bench_gameloop [run folder]   (the folder defaults to the build's run folder)
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cerrno>
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
  gmap = static_cast<map_struct*>(mapData[0].dat);
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

void BM_GamePass(benchmark::State& state) {
  StartBenchLevel();
  for (auto _ : state) {
    Tick();
    GamePass();
    KeepPlaying();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GamePass)->Unit(benchmark::kMicrosecond);

void BM_DrawGameMap(benchmark::State& state) {
  StartBenchLevel();
  for (auto _ : state) DrawGameMap();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DrawGameMap)->Unit(benchmark::kMicrosecond);

// The loop as the game runs it, on the game's own timer: items per second is its pass rate.
void BM_PacedPass(benchmark::State& state) {
  StartBenchLevel();
  install_int(game_timer, 6400 / SCREEN_W);
  int bug_steps = 0;
  for (auto _ : state) {
    int x = bugs[0].x, y = bugs[0].y;
    GamePass();
    bug_steps += bugs[0].x != x || bugs[0].y != y;
    KeepPlaying();
    WaitForNextPass();
  }
  remove_int(game_timer);
  state.SetItemsProcessed(state.iterations());
  // A bug steps once per bug_speed + 1 ticks: 100 / 11 a second on Normal when the passes keep
  // up with the ticks.
  state.counters["bug_steps"] = benchmark::Counter(bug_steps, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PacedPass)->Iterations(300)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const char* run_dir = argc > 1 ? argv[1] : VORBEL_RUN_DIR;
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
  install_sound(DIGI_NONE, MIDI_NONE, nullptr);
  register_datafile_modux();
  sound_on = 0;
  music_on = 0;
  LoadDatafiles();
  if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, 640, 480, 0, 0) != 0) {
    printf("Error: cannot set a 640x480 window: %s\n", allegro_error);
    return 1;
  }
  set_palette(static_cast<RGB*>(graphics[GFX_PALETTE].dat));
  map_bitmap = create_bitmap(441, 441);
  screen_bitmap = create_bitmap(640, 480);
  InitGameGraphics();

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
