// Render time of whole songs: modux-play --render against the reference player openmpt123 on
// the same file, the same rate and the same length, each run as a whole process (start-up, load,
// render, WAV written), the two interleaved run by run so that both see the same machine load.
// Reports the median wall-clock time and whole-process CPU time of each, their ratio (below 1:
// the engine is faster) and the engine's speed as a multiple of real time.
//   bench_render [--runs N] [FILE...]   default: the game's songs
// openmpt123 cannot read the engine's own MUX songs; for them only the engine's figures appear.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "process_timing.h"

namespace {

// Seconds of 16-bit stereo audio in a WAV file written by either player.
double wav_seconds(const std::string &path, int rate) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || st.st_size < 44) return 0;
  return (st.st_size - 44) / 4.0 / rate;
}

std::vector<std::string> game_songs() {
  std::vector<std::string> songs;
  const std::string dir = std::string(VORBEL_RUN_DIR) + "/music";
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mux") == 0)
        songs.push_back(dir + "/" + name);
    }
    closedir(d);
  }
  std::sort(songs.begin(), songs.end());
  return songs;
}

}  // namespace

int main(int argc, char **argv) {
  int runs = 5;
  std::vector<std::string> files;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else
      files.push_back(argv[i]);
  }
  if (files.empty()) files = game_songs();
  const int rate = 44100;
  char scratch[] = "/tmp/bench_render.XXXXXX";
  if (!mkdtemp(scratch)) return 1;
  const std::string ours_wav = std::string(scratch) + "/ours.wav",
                    ref_wav = std::string(scratch) + "/ref.wav";

  std::printf("%-22s %8s %12s %12s %12s %12s %7s %9s\n", "file", "seconds", "modux ms", "modux cpu",
              "openmpt ms", "openmpt cpu", "ratio", "x realtime");
  for (const std::string &file : files) {
    const std::vector<std::string> ours = {MODUX_PLAY, "--render",           ours_wav,
                                           "--rate",   std::to_string(rate), file};
    // One run first to learn the song's length, which the reference then renders too.
    if (!run_process(ours).ok) {
      std::printf("%-22s modux-play cannot render it\n",
                  file.substr(file.find_last_of('/') + 1).c_str());
      continue;
    }
    const double seconds = wav_seconds(ours_wav, rate);
    const std::vector<std::string> ref = {"openmpt123",
                                          "--batch",
                                          "--quiet",
                                          "--force",
                                          "--no-float",
                                          "--samplerate",
                                          std::to_string(rate),
                                          "--subsong",
                                          "0",
                                          "--end-time",
                                          std::to_string(static_cast<int>(std::ceil(seconds))),
                                          "-o",
                                          ref_wav,
                                          file};
    bool ref_ok = true;
    std::vector<double> ours_wall, ours_cpu, ref_wall, ref_cpu;
    for (int r = 0; r < runs; r++) {
      const process_timing a = run_process(ours);
      ours_wall.push_back(a.wall);
      ours_cpu.push_back(a.cpu);
      if (!ref_ok) continue;
      unlink(ref_wav.c_str());
      const process_timing b = run_process(ref);
      // openmpt123 answers 0 even for a file it cannot read; only a written song counts.
      ref_ok = b.ok && wav_seconds(ref_wav, rate) > 0;
      ref_wall.push_back(b.wall);
      ref_cpu.push_back(b.cpu);
    }
    const double mw = median(ours_wall);
    const std::string name = file.substr(file.find_last_of('/') + 1);
    if (ref_ok) {
      std::printf("%-22s %8.1f %12.1f %12.1f %12.1f %12.1f %7.2f %9.0f\n", name.c_str(), seconds,
                  mw * 1000, median(ours_cpu) * 1000, median(ref_wall) * 1000,
                  median(ref_cpu) * 1000, mw / median(ref_wall), seconds / mw);
    } else {
      std::printf("%-22s %8.1f %12.1f %12.1f %12s %12s %7s %9.0f\n", name.c_str(), seconds,
                  mw * 1000, median(ours_cpu) * 1000, "-", "-", "-", seconds / mw);
    }
    std::fflush(stdout);
  }
  unlink(ours_wav.c_str());
  unlink(ref_wav.c_str());
  rmdir(scratch);
  return 0;
}
