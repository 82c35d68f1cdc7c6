// modux-play: the music engine's example player.
//   modux-play --info FILE       prints the module's summary, one "key: value" line each
//   modux-play --seconds N FILE  plays N seconds of it through the engine
// The summary needs neither display nor sound. Playing needs Allegro's timer, which on this
// platform needs an X display; without a sound device the engine plays silently.
#include <X11/Xlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "modux.h"

// Exit status for a wrong command line, apart from the 1 of a failed load or missing display.
static const int USAGE_ERROR = 2;

static int usage() {
  std::fprintf(stderr,
               "usage: modux-play --info FILE\n"
               "       modux-play --seconds N FILE\n");
  return USAGE_ERROR;
}

static MODUX *load_or_report(const char *file) {
  MODUX *mod = load_mod(file);
  if (!mod) std::fprintf(stderr, "modux-play: %s: %s\n", file, modux_error);
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
  MODUX *mod = load_or_report(file);
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
    std::fprintf(stderr, "modux-play: no X display: playback needs Allegro's timer, which needs one "
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
  // holds more than it reserved: every channel gets its own.
  reserve_voices(channels, -1);
  // A real device first; when it cannot be had, or cannot give the voices, play silently.
  bool silent = install_sound(DIGI_AUTODETECT, MIDI_NONE, nullptr) != 0;
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

int main(int argc, char **argv) {
  if (argc == 3 && std::strcmp(argv[1], "--info") == 0) return print_info(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "--seconds") == 0) {
    char *end = nullptr;
    const double seconds = std::strtod(argv[2], &end);
    if (end == argv[2] || *end != '\0' || !(seconds >= 0.0) || seconds > 24 * 3600.0) return usage();
    return play(argv[3], seconds);
  }
  return usage();
}
END_OF_MAIN()
