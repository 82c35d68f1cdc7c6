// modux-play: the music engine's example player.
//   modux-play --info FILE       prints the module's summary, one "key: value" line each
//   modux-play --seconds N FILE  plays N seconds of it through the engine
//   modux-play --render OUT.wav [--rate HZ] [--seconds N] FILE
//                                writes the song, once through, as 16-bit stereo WAV
// The summary and the render need neither display nor sound device: the render drives the
// engine's tick and its offline mixer itself. Playing needs Allegro's timer, which on this
// platform needs an X display; without a sound device the engine plays silently.
#include <X11/Xlib.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "modux.h"

// Exit status for a wrong command line, apart from the 1 of a failed load or missing display.
static const int USAGE_ERROR = 2;
// Time the sound driver is given to reach the pace of the clock before a song starts.
static const int START_SETTLE_MS = 300;

static int usage() {
  std::fprintf(stderr,
               "usage: modux-play --info FILE\n"
               "       modux-play --seconds N FILE\n"
               "       modux-play --render OUT.wav [--rate HZ] [--seconds N] FILE\n");
  return USAGE_ERROR;
}

// Loads a module; a file cut short loads what it holds, and the player says what is missing.
static MODUX *load_or_report(const char *file, bool tell_note = true) {
  MODUX *mod = load_mod(file);
  if (!mod) std::fprintf(stderr, "modux-play: %s: %s\n", file, modux_error);
  if (mod && tell_note && modux_note[0])
    std::fprintf(stderr, "modux-play: %s: %s\n", file, modux_note);
  return mod;
}

static int print_info(const char *file) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  MODFILE_INFO info;
  std::memset(&info, 0, sizeof info);
  if (get_mod_info(file, &info) < 0) {
    std::fprintf(stderr, "modux-play: %s: %s\n", file, modux_error);
    return 1;
  }
  MODUX *mod = load_or_report(file, false);
  if (!mod) return 1;
  std::printf("type: %s\n", info.type_name);
  std::printf("name: %s\n", mod->name);
  std::printf("channels: %d\n", mod->channel_count);
  std::printf("patterns: %d\n", mod->pattern_count);
  std::printf("orders: %d\n", mod->order_count);
  std::printf("samples: %d\n", mod->sample_count);
  std::printf("instruments: %d\n", mod->instrument_count);
  std::printf("speed: %d\n", mod->initial_speed);
  std::printf("tempo: %d\n", mod->initial_tempo);
  if (modux_note[0]) std::printf("note: %s\n", modux_note);
  destroy_mod(mod);
  return 0;
}

// Allegro's timer crashes without a display here, so ask X first. The connection stays open:
// an X server whose last client leaves resets itself, and refuses Allegro's connection meanwhile.
static bool display_available() {
  static Display *display = XOpenDisplay(nullptr);
  return display != nullptr;
}

static int play(const char *file, double seconds) {
  if (!display_available()) {
    std::fprintf(stderr,
                 "modux-play: no X display: playback needs Allegro's timer, which needs one "
                 "(set DISPLAY, or run under xvfb-run)\n");
    return 1;
  }
  if (allegro_init() != 0) {
    std::fprintf(stderr, "modux-play: Allegro did not start: %s\n", allegro_error);
    return 1;
  }
  if (install_timer() != 0) {
    std::fprintf(stderr, "modux-play: Allegro's timer did not start: %s\n", allegro_error);
    return 1;
  }
  MODUX *mod = load_or_report(file);
  if (!mod) return 1;
  int channels = mod->channel_count;
  if (channels < 1) channels = 1;
  if (channels > MODUX_MAX_CHANNELS) channels = MODUX_MAX_CHANNELS;

  // Allegro hands out 8 voices unless asked for more, and takes voices back from a module that
  // holds more than it reserved: every channel gets its own. An IT song also asks for every
  // voice Allegro mixes, for the notes its new note actions keep sounding; when the device
  // cannot give that many, the channels alone.
  const int wanted = (mod->flags & MODUX_IT) ? MODUX_MAX_CHANNELS : channels;
  reserve_voices(wanted, -1);
  bool silent = install_sound(DIGI_AUTODETECT, MIDI_NONE, nullptr) != 0;
  if (silent && wanted > channels) {
    reserve_voices(channels, -1);
    silent = install_sound(DIGI_AUTODETECT, MIDI_NONE, nullptr) != 0;
  }
  if (!silent && install_mod(channels) < 0) {
    remove_sound();
    silent = true;
  }
  if (silent) {
    reserve_voices(-1, -1);  // the null driver refuses a reservation it cannot promise
    if (install_sound(DIGI_NONE, MIDI_NONE, nullptr) != 0 || install_mod(channels) < 0) {
      std::fprintf(stderr, "modux-play: the engine could not start: %s\n", modux_error);
      destroy_mod(mod);
      return 1;
    }
    std::fprintf(stderr, "modux-play: no sound device, playing silently\n");
  }

  // A sound driver fills its buffer faster than real time just after it starts; a song started
  // then would hold its first row for as long as the filling lasts (about 80 ms through a paced
  // sound server), so the song starts once the driver plays at the pace of the clock.
  if (!silent) rest(START_SETTLE_MS);
  play_mod(mod, 1);
  const long total_ms = static_cast<long>(seconds * 1000.0);
  for (long waited = 0; waited < total_ms; waited += 10) rest(10);
  std::printf("played %.3g s of \"%s\": order %d, row %d\n", seconds, mod->name, mi.order.load(),
              mi.row.load());
  stop_mod();
  destroy_mod(mod);
  remove_mod();
  return 0;
}

// ---------------------------------------------------------------------------------------------
// --render
// ---------------------------------------------------------------------------------------------

// A song that never reaches a row twice (an endless pattern loop) stops after this long unless
// --seconds says otherwise.
static const double LONGEST_RENDER_SECONDS = 30 * 60;
static const int WAV_HEADER_BYTES = 44;

// The file being written, removed if the program is interrupted.
static std::string partial_path;

static void remove_partial(int sig) {
  if (!partial_path.empty()) unlink(partial_path.c_str());
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

static void put_le(std::vector<unsigned char> &out, unsigned long value, int bytes) {
  for (int i = 0; i < bytes; i++) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

static std::vector<unsigned char> wav_header(int rate, unsigned long frames) {
  const unsigned long data = frames * 4;
  std::vector<unsigned char> h;
  h.insert(h.end(), {'R', 'I', 'F', 'F'});
  put_le(h, 36 + data, 4);
  h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put_le(h, 16, 4);
  put_le(h, 1, 2);  // PCM
  put_le(h, 2, 2);  // stereo
  put_le(h, rate, 4);
  put_le(h, rate * 4UL, 4);
  put_le(h, 4, 2);
  put_le(h, 16, 2);
  h.insert(h.end(), {'d', 'a', 't', 'a'});
  put_le(h, data, 4);
  return h;
}

static double wall_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

static bool write_all(FILE *f, const void *data, size_t bytes) {
  return std::fwrite(data, 1, bytes, f) == bytes;
}

// Writes the song to out_path through a temporary file beside it, renamed only when complete.
static int render(const char *out_path, const char *file, int rate, double seconds) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  MODUX *mod = load_or_report(file);
  if (!mod) return 1;

  partial_path = std::string(out_path) + ".partial";
  FILE *out = std::fopen(partial_path.c_str(), "wb");
  const int open_error = errno;
  const bool progress = isatty(STDERR_FILENO);
  // Every failure after this point leaves through here: no half-written file stays behind.
  auto give_up = [&](const char *reason) {
    std::fprintf(stderr, "%smodux-play: cannot write %s: %s\n", progress ? "\n" : "", out_path,
                 reason);
    if (out) std::fclose(out);
    unlink(partial_path.c_str());
    partial_path.clear();
    render_mod_stop();
    destroy_mod(mod);
    return 1;
  };
  if (!out) return give_up(std::strerror(open_error));
  std::signal(SIGINT, remove_partial);
  std::signal(SIGTERM, remove_partial);

  if (render_mod_start(mod, rate) < 0) return give_up(modux_error);
  const std::vector<unsigned char> blank(WAV_HEADER_BYTES, 0);
  if (!write_all(out, blank.data(), blank.size())) return give_up(std::strerror(errno));

  const unsigned long limit = static_cast<unsigned long>(seconds * rate);
  const long BLOCK = 4096;
  std::vector<short> frames_buffer(2 * BLOCK);
  std::vector<unsigned char> bytes(4 * BLOCK);
  unsigned long frames = 0;
  double shown = 0;
  while (frames < limit) {
    const long want = limit - frames < static_cast<unsigned long>(BLOCK)
                          ? static_cast<long>(limit - frames)
                          : BLOCK;
    const long got = render_mod(frames_buffer.data(), want);
    if (got <= 0) break;
    for (long i = 0; i < 2 * got; i++) {  // WAV data is little-endian
      const unsigned short v = static_cast<unsigned short>(frames_buffer[i]);
      bytes[2 * i] = static_cast<unsigned char>(v);
      bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    if (!write_all(out, bytes.data(), got * 4)) return give_up(std::strerror(errno));
    frames += got;
    if (progress && wall_seconds() - shown > 0.2) {
      shown = wall_seconds();
      std::fprintf(stderr, "\rrendering %s: %.1f s, order %d of %d ", out_path,
                   static_cast<double>(frames) / rate, mi.order.load(), mod->order_count);
    }
  }
  const std::vector<unsigned char> header = wav_header(rate, frames);
  if (std::fseek(out, 0, SEEK_SET) != 0 || !write_all(out, header.data(), header.size()))
    return give_up(std::strerror(errno));
  const int closed = std::fclose(out);
  out = nullptr;
  if (closed != 0 || std::rename(partial_path.c_str(), out_path) != 0)
    return give_up(std::strerror(errno));
  partial_path.clear();

  if (progress) std::fprintf(stderr, "\r\033[K");
  const double length = static_cast<double>(frames) / rate;
  const int minutes = static_cast<int>(length / 60);
  std::printf("rendered \"%s\" to %s: %.3f s (%d:%06.3f) at %d Hz%s\n", mod->name, out_path, length,
              minutes, length - 60 * minutes, rate, render_mod_finished() ? "" : ", cut short");
  render_mod_stop();
  destroy_mod(mod);
  return 0;
}

// Reads a number option's value; false when it is not a number within [low, high].
static bool number_option(const char *text, double low, double high, double *value) {
  char *end = nullptr;
  *value = std::strtod(text, &end);
  return end != text && *end == '\0' && *value >= low && *value <= high;
}

int main(int argc, char **argv) {
  // A player of files takes the old 15-sample MODs too; they have no signature and are tried last.
  enable_m15 = -1;
  bool rendering = false;
  for (int i = 1; i < argc; i++) rendering = rendering || std::strcmp(argv[i], "--render") == 0;
  if (rendering) {
    const char *out = nullptr, *file = nullptr;
    double rate = 44100, seconds = LONGEST_RENDER_SECONDS;
    for (int i = 1; i < argc; i++) {
      const bool has_value = i + 1 < argc;
      if (std::strcmp(argv[i], "--render") == 0 && has_value && !out) {
        out = argv[++i];
      } else if (std::strcmp(argv[i], "--rate") == 0 && has_value) {
        if (!number_option(argv[++i], 8000, 192000, &rate)) return usage();
      } else if (std::strcmp(argv[i], "--seconds") == 0 && has_value) {
        if (!number_option(argv[++i], 0, 24 * 3600.0, &seconds)) return usage();
      } else if (argv[i][0] != '-' && !file) {
        file = argv[i];
      } else {
        return usage();
      }
    }
    if (!out || !file) return usage();
    return render(out, file, static_cast<int>(rate), seconds);
  }
  if (argc == 3 && std::strcmp(argv[1], "--info") == 0) return print_info(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "--seconds") == 0) {
    char *end = nullptr;
    const double seconds = std::strtod(argv[2], &end);
    if (end == argv[2] || *end != '\0' || !(seconds >= 0.0) || seconds > 24 * 3600.0)
      return usage();
    return play(argv[3], seconds);
  }
  return usage();
}
END_OF_MAIN()
