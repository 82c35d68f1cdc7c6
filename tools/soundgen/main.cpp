// soundgen: synthesizes the game's sound effects and songs from data/sounds and writes
// sounds.dat (effects 0 to 9, title theme 10, songs 11 to 14) and, with --header, its index
// header (SND_<name> for each object, named as in effects.txt and manifest.txt), which the game
// includes. Optionally also the songs as separate MUX files and the effects and instruments as
// WAV files for listening.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <sys/stat.h>

#include "datwriter.h"
#include "soundbank.h"
#include "wav.h"

namespace {

void usage() {
  std::fprintf(
      stderr,
      "usage: soundgen --sources DIR --out sounds.dat [--header FILE.h] [--music DIR] [--wav DIR] "
      "[--quiet]\n"
      "       soundgen --song FILE.song --instruments FILE.txt --mux OUT.mux\n"
      "  --sources DIR  data/sounds (manifest.txt, instruments, effects, songs)\n"
      "  --header FILE  also write the index header of sounds.dat\n"
      "  --music DIR    also write each song as DIR/NAME.mux\n"
      "  --wav DIR      also write each effect and instrument as a WAV file\n"
      "  --song ...     builds one song alone with the instruments of FILE.txt into OUT.mux\n");
}

bool make_dir(const std::string &dir) { return mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST; }

}  // namespace

int main(int argc, char **argv) {
  std::string sources, out, header, music, wav, song, instruments, mux;
  bool quiet = false;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&](std::string &dst) {
      if (i + 1 >= argc) return false;
      dst = argv[++i];
      return true;
    };
    bool ok = true;
    if (a == "--sources")
      ok = value(sources);
    else if (a == "--out")
      ok = value(out);
    else if (a == "--header")
      ok = value(header);
    else if (a == "--music")
      ok = value(music);
    else if (a == "--wav")
      ok = value(wav);
    else if (a == "--quiet")
      quiet = true;
    else if (a == "--song")
      ok = value(song);
    else if (a == "--instruments")
      ok = value(instruments);
    else if (a == "--mux")
      ok = value(mux);
    else
      ok = false;
    if (!ok) {
      usage();
      return 2;
    }
  }
  if (!song.empty() || !instruments.empty() || !mux.empty()) {
    if (song.empty() || instruments.empty() || mux.empty() || !sources.empty() || !out.empty()) {
      usage();
      return 2;
    }
    try {
      const std::vector<uint8_t> image = sound::build_song_file(song, instruments);
      FILE *f = std::fopen(mux.c_str(), "wb");
      bool ok = f && std::fwrite(image.data(), 1, image.size(), f) == image.size();
      if (f && std::fclose(f) != 0) ok = false;
      if (!ok) {
        std::fprintf(stderr, "soundgen: cannot write %s\n", mux.c_str());
        return 1;
      }
    } catch (const std::exception &e) {
      std::fprintf(stderr, "soundgen: %s\n", e.what());
      return 1;
    }
    return 0;
  }
  if (sources.empty() || out.empty()) {
    usage();
    return 2;
  }

  sound::SoundBank bank;
  try {
    bank = sound::build_bank(sources);
  } catch (const sound::SourceError &e) {
    std::fprintf(stderr, "soundgen: %s\n", e.what());
    return 1;
  } catch (const std::exception &e) {  // out of memory on an absurd request, and the like
    std::fprintf(stderr, "soundgen: %s\n", e.what());
    return 1;
  }

  std::vector<dat::Object> objects = sound::bank_objects(bank);
  if (!dat::write_datafile(out, objects)) return 1;
  if (!header.empty() && !dat::write_index_header(header, "sounds.dat", "SND_", objects)) return 1;

  if (!music.empty()) {
    if (!make_dir(music)) {
      std::fprintf(stderr, "soundgen: cannot create %s\n", music.c_str());
      return 1;
    }
    for (size_t i = 0; i < bank.songs.size(); i++) {
      std::string path = music + "/" + bank.song_entries[i].name + ".mux";
      FILE *f = std::fopen(path.c_str(), "wb");
      bool ok = f && std::fwrite(bank.song_files[i].data(), 1, bank.song_files[i].size(), f) ==
                         bank.song_files[i].size();
      if (f && std::fclose(f) != 0) ok = false;
      if (!ok) {
        std::fprintf(stderr, "soundgen: cannot write %s\n", path.c_str());
        return 1;
      }
    }
  }

  if (!wav.empty()) {
    if (!make_dir(wav)) {
      std::fprintf(stderr, "soundgen: cannot create %s\n", wav.c_str());
      return 1;
    }
    for (size_t i = 0; i < bank.effects.size(); i++) {
      char name[64];
      std::snprintf(name, sizeof name, "/sfx%d_", int(i));
      std::string err =
          sound::write_wav(wav + name + bank.effects[i].name + ".wav",
                           bank.effect_samples[i].frames, bank.effect_samples[i].rate);
      if (!err.empty()) {
        std::fprintf(stderr, "soundgen: %s\n", err.c_str());
        return 1;
      }
    }
    for (const auto &[name, s] : bank.instrument_samples) {
      // One pass through the sample plus a second of its loop, at the pitch of C5.
      std::vector<int16_t> frames = s.frames;
      if (s.loop_end > s.loop_start)
        while (frames.size() < s.frames.size() + size_t(s.tuning))
          frames.insert(frames.end(), s.frames.begin() + s.loop_start,
                        s.frames.begin() + s.loop_end);
      std::string err = sound::write_wav(wav + "/inst_" + name + ".wav", frames, s.tuning);
      if (!err.empty()) {
        std::fprintf(stderr, "soundgen: %s\n", err.c_str());
        return 1;
      }
    }
  }

  if (!quiet) {
    for (size_t i = 0; i < bank.songs.size(); i++) {
      const sound::Song &s = bank.songs[i];
      std::printf("soundgen: %-6s %zu channels, %zu patterns, %zu orders, %.1f s, %zu bytes\n",
                  bank.song_entries[i].name.c_str(), s.channels.size(), s.patterns.size(),
                  s.order.size(), sound::song_seconds(s), bank.song_files[i].size());
    }
  }
  return 0;
}
