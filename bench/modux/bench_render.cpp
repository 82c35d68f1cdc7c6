// Render time of whole songs: the engine against openmpt123 (its default 8-tap filter, and
// --filter 2, linear) and xmp (its default spline, and -i linear) when installed, on the same
// file, the same rate and the same length. Each render runs as a whole process (start-up, load,
// render, WAV written), the players interleaved run by run so that all see the same machine load.
// The engine renders twice: modux-play --render (linear, the default) and, through the C
// interface in a process of this program's own, with the windowed-sinc resampler.
// Reports per song the median CPU time of each player and the engine's ratios to the peers, by
// CPU and by wall-clock time (below 1: the engine is faster), then the median and largest ratio
// over all songs.
//   bench_render [--runs N] [FILE...]   default: the game's songs
//   bench_render --render-child RESAMPLER OUT.wav FILE   (the sinc render's process)
// openmpt123 and xmp cannot read the engine's own MUX songs; for them only the engine's figures
// appear.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "libmodux.h"
#include "process_timing.h"

namespace {

const int RATE = 44100;

// Seconds of 16-bit stereo audio in a WAV file written by any of the players.
double wav_seconds(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || st.st_size < 44) return 0;
  return (st.st_size - 44) / 4.0 / RATE;
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

void le(std::vector<unsigned char> &b, unsigned long v, int bytes) {
  for (int i = 0; i < bytes; i++) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// The sinc render's process: the song once through, as modux-play renders it, to a 16-bit WAV.
int render_child(int resampler, const char *out_path, const char *file) {
  modux_module *m = modux_module_load_file(file, nullptr);
  modux_player *p = modux_player_create();
  FILE *out = std::fopen(out_path, "wb");
  if (!m || !p || !out || modux_player_set_option(p, MODUX_OPTION_RESAMPLER, resampler) ||
      modux_player_play(p, m))
    return 1;
  std::fseek(out, 44, SEEK_SET);
  std::vector<int16_t> block(2 * 4096);
  unsigned long frames = 0;
  long got;
  while ((got = modux_player_render_s16(p, block.data(), 4096)) > 0) {
    std::fwrite(block.data(), 4, got, out);  // this machine is little-endian, as WAV is
    frames += got;
  }
  std::vector<unsigned char> h;
  h.insert(h.end(), {'R', 'I', 'F', 'F'}), le(h, 36 + 4 * frames, 4);
  h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '}), le(h, 16, 4), le(h, 1, 2);
  le(h, 2, 2), le(h, RATE, 4), le(h, 4 * RATE, 4), le(h, 4, 2), le(h, 16, 2);
  h.insert(h.end(), {'d', 'a', 't', 'a'}), le(h, 4 * frames, 4);
  std::fseek(out, 0, SEEK_SET);
  std::fwrite(h.data(), 1, h.size(), out);
  modux_player_destroy(p);
  modux_module_destroy(m);
  return std::fclose(out) == 0 ? 0 : 1;
}

struct player {
  const char *name;
  std::vector<std::string> args;  // OUT and FILE stand for the output and the song
  bool ok = true;
  std::vector<double> wall, cpu;
  player(const char *n, std::vector<std::string> a) : name(n), args(std::move(a)) {}
};

std::vector<std::string> filled(const std::vector<std::string> &args, const std::string &out,
                                const std::string &file, double seconds) {
  std::vector<std::string> a;
  const std::string whole = std::to_string(static_cast<int>(std::ceil(seconds)));
  for (const std::string &s : args)
    a.push_back(s == "OUT" ? out : s == "FILE" ? file : s == "SECONDS" ? whole : s);
  return a;
}

bool installed(const char *program) {
  return run_process({"sh", "-c", std::string("command -v ") + program}).ok;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 5 && std::strcmp(argv[1], "--render-child") == 0)
    return render_child(std::atoi(argv[2]), argv[3], argv[4]);
  int runs = 5;
  std::vector<std::string> files;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else
      files.push_back(argv[i]);
  }
  if (files.empty()) files = game_songs();
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = 0;
  char scratch[] = "/tmp/bench_render.XXXXXX";
  if (!mkdtemp(scratch)) return 1;
  const std::string out = std::string(scratch) + "/out.wav";

  const std::vector<std::string> ompt = {"openmpt123",
                                         "--batch",
                                         "--quiet",
                                         "--force",
                                         "--no-float",
                                         "--samplerate",
                                         std::to_string(RATE),
                                         "--subsong",
                                         "0",
                                         "--end-time",
                                         "SECONDS",
                                         "-o",
                                         "OUT"};
  std::vector<player> players = {
      {"linear", {MODUX_PLAY, "--render", "OUT", "--rate", std::to_string(RATE), "FILE"}},
      {"sinc", {self, "--render-child", std::to_string(MODUX_RESAMPLER_SINC), "OUT", "FILE"}}};
  if (installed("openmpt123")) {
    players.push_back({"ompt", ompt});
    players.back().args.push_back("FILE");
    players.push_back({"ompt f2", ompt});
    players.back().args.insert(players.back().args.end(), {"--filter", "2", "FILE"});
  }
  if (installed("xmp")) {
    players.push_back({"xmp", {"xmp", "-q", "-t", "SECONDS", "-o", "OUT", "FILE"}});
    players.push_back(
        {"xmp lin", {"xmp", "-q", "-i", "linear", "-t", "SECONDS", "-o", "OUT", "FILE"}});
  }
  auto find = [&](const char *name) -> player * {
    for (player &p : players)
      if (std::strcmp(p.name, name) == 0) return &p;
    return nullptr;
  };
  // The ratios reported: engine player against peer, and their column headings.
  const std::vector<std::pair<const char *, const char *>> ratios = {
      {"linear", "ompt"}, {"linear", "ompt f2"}, {"linear", "xmp lin"}, {"sinc", "ompt"}};
  const char *headings[] = {"L/ompt", "L/ompt2", "L/xmpL", "S/ompt"};
  std::printf("CPU ms (median of %d runs, interleaved); ratios by CPU | by wall clock\n", runs);
  std::printf("%-24s %6s", "file", "sec");
  for (const player &p : players) std::printf(" %8s", p.name);
  for (const char *h : headings) std::printf(" %7s", h);
  std::printf(" |");
  for (const char *h : headings) std::printf(" %7s", h);
  std::printf("\n");
  std::vector<std::vector<double>> cpu_ratios(ratios.size()), wall_ratios(ratios.size());
  std::vector<std::string> names;
  for (const std::string &file : files) {
    for (player &p : players) p.ok = true, p.wall.clear(), p.cpu.clear();
    // One run first to learn the song's length, which the peers then render too.
    unlink(out.c_str());
    if (!run_process(filled(players[0].args, out, file, 0)).ok) {
      std::printf("%-24s modux-play cannot render it\n",
                  file.substr(file.find_last_of('/') + 1).c_str());
      continue;
    }
    const double seconds = wav_seconds(out);
    for (int r = 0; r < runs; r++) {
      for (player &p : players) {
        if (!p.ok) continue;
        unlink(out.c_str());
        const process_timing t = run_process(filled(p.args, out, file, seconds));
        // openmpt123 answers 0 even for a file it cannot read; only a written song counts.
        p.ok = t.ok && wav_seconds(out) > 0;
        p.wall.push_back(t.wall);
        p.cpu.push_back(t.cpu);
      }
    }
    const std::string name = file.substr(file.find_last_of('/') + 1);
    names.push_back(name);
    std::printf("%-24s %6.1f", name.substr(0, 24).c_str(), seconds);
    for (const player &p : players)
      p.ok ? std::printf(" %8.1f", median(p.cpu) * 1000) : std::printf(" %8s", "-");
    for (int by_wall = 0; by_wall < 2; by_wall++) {
      if (by_wall) std::printf(" |");
      for (size_t i = 0; i < ratios.size(); i++) {
        const player *a = find(ratios[i].first), *b = find(ratios[i].second);
        if (!a || !b || !a->ok || !b->ok) {
          std::printf(" %7s", "-");
          continue;
        }
        const double ratio =
            by_wall ? median(a->wall) / median(b->wall) : median(a->cpu) / median(b->cpu);
        (by_wall ? wall_ratios : cpu_ratios)[i].push_back(ratio);
        std::printf(" %7.2f", ratio);
      }
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  for (int by_wall = 0; by_wall < 2; by_wall++) {
    for (size_t i = 0; i < ratios.size(); i++) {
      const std::vector<double> &v = (by_wall ? wall_ratios : cpu_ratios)[i];
      if (v.empty()) continue;
      std::printf("%s %s / %s over %zu songs: median %.2f, largest %.2f\n",
                  by_wall ? "wall" : "CPU ", ratios[i].first, ratios[i].second, v.size(), median(v),
                  *std::max_element(v.begin(), v.end()));
    }
  }
  unlink(out.c_str());
  rmdir(scratch);
  return 0;
}
