// modux-play: a terminal player of tracker modules, built on the engine's C interface alone.
//   modux-play [OPTIONS] FILE...   plays each file in turn through the sound server or ALSA
//   modux-play --info FILE...      describes each file: format, counts, length and subsongs
//   modux-play --render OUT [OPTIONS] FILE
//                                  writes the song as WAV, FLAC or Ogg Vorbis, by OUT's extension
// With a terminal on standard input it takes single keys (and shows one status line when standard
// error is a terminal too); without one it just plays. Sound goes out through SDL's audio, which
// reaches PulseAudio, PipeWire and plain ALSA alike and needs no display; files are written
// through libsndfile.
#include <SDL.h>
#include <fcntl.h>
#include <poll.h>
#include <sndfile.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "libmodux.h"

static const int USAGE_ERROR = 2;
// A song that never reaches a row twice (an endless pattern loop) stops rendering after this
// long unless --seconds says otherwise.
static const double LONGEST_RENDER_SECONDS = 30 * 60;
static const long BLOCK_FRAMES = 1024;
// Sound queued ahead of the device: short, so that keys are heard at once, long enough to ride
// out a busy machine.
static const double QUEUE_SECONDS = 0.15;
static const int VOLUME_STEP = 5;

static const char USAGE[] =
    "usage: modux-play [OPTIONS] FILE...        play each file in turn\n"
    "       modux-play --info FILE...           describe each file\n"
    "       modux-play --render OUT [OPTIONS] FILE\n"
    "                                           write the song to OUT (.wav, .flac, .ogg; -\n"
    "                                           writes WAV to standard output)\n"
    "options:\n"
    "  --subsong N    play subsong N (numbered from 1, as --info lists them)\n"
    "  --loop N       play the song N more times after its end (-1: for ever)\n"
    "  --volume P     volume in percent, 0 to 100 (default 100)\n"
    "  --seconds N    stop each song after N seconds\n"
    "  --rate HZ      mixing rate, 8000 to 192000 (default 44100)\n"
    "  --resampler R  linear (default), nearest, cubic or sinc\n"
    "  --float        write 32-bit float samples (WAV, Ogg) instead of 16-bit\n"
    "  --whole-frame-ticks\n"
    "                 every tick a whole number of frames (rate x 2.5 / BPM, rounded\n"
    "                 down), as trackers render to a file; default: exactly 2.5 / BPM s\n"
    "  --help, --version\n"
    "keys while playing on a terminal: space pause, left/right previous/next order,\n"
    "up/down volume, n next file, q quit\n";

struct Options {
  bool info = false, as_float = false, whole_frame_ticks = false;
  const char *render_out = nullptr;
  int rate = 44100, subsong = 0, loop = 0, volume = 100, resampler = MODUX_RESAMPLER_LINEAR;
  double seconds = -1;  // no limit
  std::vector<const char *> files;
};

static int UsageError(const char *what, const char *value = "") {
  std::fprintf(stderr, "modux-play: %s%s\nTry 'modux-play --help'.\n", what, value);
  return USAGE_ERROR;
}

// Reads a number option's value; false when it is not a number within [low, high].
static bool NumberOption(const char *text, double low, double high, double *value) {
  char *end = nullptr;
  *value = std::strtod(text, &end);
  return end != text && *end == '\0' && *value >= low && *value <= high;
}

// "1:02.345" for 62.345 seconds.
static std::string Clock(double seconds, int decimals = 3) {
  if (seconds < 0) seconds = 0;
  const int minutes = static_cast<int>(seconds / 60);
  char text[32];
  std::snprintf(text, sizeof text, "%d:%0*.*f", minutes, decimals ? decimals + 3 : 2, decimals,
                seconds - 60 * minutes);
  return text;
}

static const char *BaseName(const char *path) {
  const char *slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// Loads a module; a file cut short loads what it holds, and the player says what is missing.
static modux_module *Load(const char *file, bool tell_note) {
  modux_status status;
  modux_module *module = modux_module_load_file_flags(file, MODUX_LOAD_MOD15, &status);
  if (!module) std::fprintf(stderr, "modux-play: %s: %s\n", file, status.message);
  if (module && tell_note && status.note[0])
    std::fprintf(stderr, "modux-play: %s: %s\n", file, status.note);
  return module;
}

// The first order of each subsong.
static std::vector<int> Subsongs(const modux_module *module) {
  modux_module_info info;
  modux_module_get_info(module, &info);
  std::vector<int> firsts(std::max(1, info.orders));
  const int count =
      modux_module_get_subsongs(module, firsts.data(), static_cast<int>(firsts.size()));
  firsts.resize(std::clamp(count, 0, static_cast<int>(firsts.size())));
  return firsts;
}

// Starts the module on the player at the subsong the options name; false with a message.
static bool Start(modux_player *player, const modux_module *module, const char *file,
                  const Options &options) {
  modux_player_set_option(player, MODUX_OPTION_RATE, options.rate);
  modux_player_set_option(player, MODUX_OPTION_CHANNELS, 2);
  modux_player_set_option(player, MODUX_OPTION_REPEAT, options.loop);
  modux_player_set_option(player, MODUX_OPTION_VOLUME, options.volume);
  modux_player_set_option(player, MODUX_OPTION_RESAMPLER, options.resampler);
  modux_player_set_option(player, MODUX_OPTION_WHOLE_FRAME_TICKS, options.whole_frame_ticks);
  int order = 0;
  if (options.subsong > 0) {
    const std::vector<int> firsts = Subsongs(module);
    if (options.subsong > static_cast<int>(firsts.size())) {
      std::fprintf(stderr, "modux-play: %s: no subsong %d (it has %zu)\n", file, options.subsong,
                   firsts.size());
      return false;
    }
    order = firsts[options.subsong - 1];
  }
  if (modux_player_play_order(player, module, order) != MODUX_OK) {
    std::fprintf(stderr, "modux-play: %s: %s\n", file, modux_player_message(player));
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// --info
// ---------------------------------------------------------------------------------------------

// Length of the song from an order, found by the player's scan of the sequence; -1 on failure.
static double LengthFrom(modux_player *player, const modux_module *module, int order) {
  modux_position position;
  if (modux_player_play_order(player, module, order) != MODUX_OK ||
      modux_player_get_position(player, &position) != MODUX_OK)
    return -1;
  return position.length;
}

static int PrintInfo(const char *file, bool named) {
  static bool described = false;  // a blank line between the summaries of several files
  modux_status status;
  modux_module *module = modux_module_load_file_flags(file, MODUX_LOAD_MOD15, &status);
  if (!module) {
    std::fprintf(stderr, "modux-play: %s: %s\n", file, status.message);
    return 1;
  }
  modux_module_info info;
  modux_module_get_info(module, &info);
  modux_player *player = modux_player_create();
  const double length = player ? LengthFrom(player, module, 0) : -1;
  const std::vector<int> firsts = Subsongs(module);
  if (described) std::printf("\n");
  described = true;
  if (named) std::printf("file: %s\n", file);
  std::printf("type: %s\nname: %s\n", info.format_name, info.title);
  std::printf("channels: %d\npatterns: %d\norders: %d\nsamples: %d\ninstruments: %d\n",
              info.channels, info.patterns, info.orders, info.samples, info.instruments);
  if (length >= 0) {
    std::printf("length: %.3f s (%s)\nsubsongs: %zu\n", length, Clock(length).c_str(),
                firsts.size());
    for (size_t i = 0; firsts.size() > 1 && i < firsts.size(); i++) {
      const double part = LengthFrom(player, module, firsts[i]);
      std::printf("subsong %zu: order %d, %.3f s (%s)\n", i + 1, firsts[i], part,
                  Clock(part).c_str());
    }
  } else {
    std::fprintf(stderr, "modux-play: %s: %s\n", file,
                 player ? modux_player_message(player) : modux_error_text(MODUX_ERROR_MEMORY));
  }
  if (status.note[0]) std::printf("note: %s\n", status.note);
  modux_player_destroy(player);
  modux_module_destroy(module);
  return length < 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// --render
// ---------------------------------------------------------------------------------------------

// The file being written under a temporary name, removed if the program is interrupted.
static std::string partial_path;

static void RemovePartial(int sig) {
  if (!partial_path.empty()) unlink(partial_path.c_str());
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// An output that cannot seek (a pipe): libsndfile writes its WAV header first and rewrites the
// sizes at the end. The header goes out with the sizes that mean "up to the end of the stream",
// and the rewrite, which cannot reach what has gone, is left out.
struct PipeOutput {
  int fd;
  sf_count_t written = 0, at = 0;
};

static sf_count_t PipeLength(void *user) { return static_cast<PipeOutput *>(user)->written; }
static sf_count_t PipeTell(void *user) { return static_cast<PipeOutput *>(user)->at; }
static sf_count_t PipeRead(void *, sf_count_t, void *) { return 0; }

static sf_count_t PipeSeek(sf_count_t offset, int whence, void *user) {
  PipeOutput *out = static_cast<PipeOutput *>(user);
  out->at = offset + (whence == SEEK_CUR ? out->at : whence == SEEK_END ? out->written : 0);
  return out->at;
}

static sf_count_t PipeWrite(const void *data, sf_count_t bytes, void *user) {
  PipeOutput *out = static_cast<PipeOutput *>(user);
  if (out->at != out->written) {  // a rewrite of the header
    out->at += bytes;
    return bytes;
  }
  std::vector<unsigned char> copy(static_cast<const unsigned char *>(data),
                                  static_cast<const unsigned char *>(data) + bytes);
  if (out->written == 0 && bytes >= 12 && std::memcmp(copy.data(), "RIFF", 4) == 0) {
    std::memset(&copy[4], 0xff, 4);
    for (sf_count_t i = 12; i + 8 <= bytes; i++)
      if (std::memcmp(&copy[i], "data", 4) == 0) std::memset(&copy[i + 4], 0xff, 4);
  }
  for (sf_count_t done = 0; done < bytes;) {
    const ssize_t n = write(out->fd, copy.data() + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done;
    done += n;
    out->written += n;
    out->at += n;
  }
  return bytes;
}

// The libsndfile format for an output path, by its extension; 0 when there is none.
static int OutputFormat(const char *path, bool as_float) {
  if (std::strcmp(path, "-") == 0)
    return SF_FORMAT_WAV | (as_float ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
  const char *dot = std::strrchr(BaseName(path), '.');
  std::string ext = dot ? dot + 1 : "";
  for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "wav") return SF_FORMAT_WAV | (as_float ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
  if (ext == "flac" && !as_float) return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  if (ext == "ogg" || ext == "oga") return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  return 0;
}

static double WallSeconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// Writes the song to out_path. A regular file (or a new one) is written under a temporary name
// beside it and renamed when complete, so a failed render leaves what was there; anything else
// (a pipe, a device, a link) is written in place.
static int Render(const Options &options) {
  const char *out_path = options.render_out;
  const char *file = options.files[0];
  const int format = OutputFormat(out_path, options.as_float);
  if (!format)
    return UsageError(options.as_float ? "no float samples in this output format: "
                                       : "unknown output format (use .wav, .flac or .ogg): ",
                      out_path);
  modux_module *module = Load(file, true);
  if (!module) return 1;
  modux_player *player = modux_player_create();
  if (!player || !Start(player, module, file, options)) {
    modux_player_destroy(player);
    modux_module_destroy(module);
    return 1;
  }

  const bool to_stdout = std::strcmp(out_path, "-") == 0;
  struct stat st;
  const bool replace = !to_stdout && (lstat(out_path, &st) != 0 || S_ISREG(st.st_mode));
  const std::string write_path = replace ? std::string(out_path) + ".partial" : out_path;
  SF_INFO sf_info;
  std::memset(&sf_info, 0, sizeof sf_info);
  sf_info.samplerate = options.rate;
  sf_info.channels = 2;
  sf_info.format = format;
  const int fd = to_stdout
                     ? STDOUT_FILENO
                     : open(write_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  const int open_error = errno;
  PipeOutput pipe_output{fd};
  SF_VIRTUAL_IO pipe_io = {PipeLength, PipeSeek, PipeRead, PipeWrite, PipeTell};
  const bool seekable = fd >= 0 && lseek(fd, 0, SEEK_CUR) >= 0;
  SNDFILE *out = nullptr;
  if (seekable)
    out = sf_open_fd(fd, SFM_WRITE, &sf_info, to_stdout ? SF_FALSE : SF_TRUE);
  else if (fd >= 0)
    out = sf_open_virtual(&pipe_io, SFM_WRITE, &sf_info, &pipe_output);
  if (!out && fd >= 0 && !to_stdout) close(fd);
  if (replace && fd >= 0) partial_path = write_path;
  // The messages go to standard error when the song itself goes to standard output.
  FILE *account = to_stdout ? stderr : stdout;
  const bool progress = isatty(STDERR_FILENO);
  // Every failure after this point leaves through here: no half-written file stays behind.
  auto give_up = [&](const std::string &reason) {
    std::fprintf(stderr, "%smodux-play: cannot write %s: %s\n", progress ? "\r\033[K" : "",
                 out_path, reason.c_str());
    if (out) sf_close(out);
    if (out && !seekable && !to_stdout) close(fd);
    if (!partial_path.empty()) unlink(partial_path.c_str());
    partial_path.clear();
    modux_player_destroy(player);
    modux_module_destroy(module);
    return 1;
  };
  if (fd < 0) return give_up(std::strerror(open_error));
  if (!out) return give_up(sf_strerror(nullptr));
  std::signal(SIGINT, RemovePartial);
  std::signal(SIGTERM, RemovePartial);
  if (!seekable) sf_command(out, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);

  const double seconds = options.seconds >= 0 ? options.seconds : LONGEST_RENDER_SECONDS;
  const long limit = static_cast<long>(seconds * options.rate);
  std::vector<int16_t> shorts(2 * BLOCK_FRAMES);
  std::vector<float> floats(2 * BLOCK_FRAMES);
  // Vorbis and float files take the mixer's float output; 16-bit ones its own 16-bit output.
  const bool floating = options.as_float || (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG;
  long frames = 0;
  double shown = 0;
  modux_module_info info;
  modux_module_get_info(module, &info);
  while (frames < limit) {
    const long want = std::min(BLOCK_FRAMES, limit - frames);
    const long got = floating ? modux_player_render_float(player, floats.data(), want)
                              : modux_player_render_s16(player, shorts.data(), want);
    if (got < 0) return give_up(modux_player_message(player));
    if (got == 0) break;
    const sf_count_t put = floating ? sf_writef_float(out, floats.data(), got)
                                    : sf_writef_short(out, shorts.data(), got);
    if (put != got) return give_up(sf_strerror(out));
    frames += got;
    if (progress && WallSeconds() - shown > 0.2) {
      shown = WallSeconds();
      modux_position position;
      modux_player_get_position(player, &position);
      std::fprintf(stderr, "\rrendering %s: %.1f s, order %d of %d ", out_path,
                   static_cast<double>(frames) / options.rate, position.order, info.orders);
    }
  }
  // A song that ends exactly at the limit was not cut short: it has nothing more to give.
  int16_t probe[2];
  const bool cut_short = frames >= limit && modux_player_render_s16(player, probe, 1) > 0;
  const int closed = sf_close(out);
  out = nullptr;
  if (!seekable && !to_stdout && close(fd) != 0) return give_up(std::strerror(errno));
  if (closed != 0) return give_up(sf_error_number(closed));
  if (replace && std::rename(write_path.c_str(), out_path) != 0)
    return give_up(std::strerror(errno));
  partial_path.clear();

  if (progress) std::fprintf(stderr, "\r\033[K");
  const double length = static_cast<double>(frames) / options.rate;
  std::fprintf(account, "rendered \"%s\" to %s: %.3f s (%s) at %d Hz%s\n", info.title, out_path,
               length, Clock(length).c_str(), options.rate, cut_short ? ", cut short" : "");
  modux_player_destroy(player);
  modux_module_destroy(module);
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Playing
// ---------------------------------------------------------------------------------------------

// A signal that ends (or stops) the player; the main loop restores the terminal and goes.
static volatile sig_atomic_t caught_signal = 0;
static void CatchSignal(int sig) { caught_signal = sig; }

// The terminal in single-key mode while playing, its settings restored on every way out.
static termios saved_terminal;
static bool terminal_changed = false;

static void RestoreTerminal() {
  if (!terminal_changed) return;
  tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  terminal_changed = false;
}

static void SingleKeyTerminal() {
  termios keys = saved_terminal;
  keys.c_lflag &= ~(ICANON | ECHO);
  keys.c_cc[VMIN] = 0;
  keys.c_cc[VTIME] = 0;
  terminal_changed = tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
}

enum Key { KEY_NONE, KEY_PAUSE, KEY_LEFT, KEY_RIGHT, KEY_UP, KEY_DOWN, KEY_NEXT, KEY_QUIT };

// The next key waiting on the terminal; arrows come as escape sequences (ESC [ X or ESC O X).
static Key ReadKey() {
  unsigned char c;
  if (read(STDIN_FILENO, &c, 1) != 1) return KEY_NONE;
  if (c == ' ') return KEY_PAUSE;
  if (c == 'n' || c == 'N') return KEY_NEXT;
  if (c == 'q' || c == 'Q') return KEY_QUIT;
  if (c != 27) return KEY_NONE;
  unsigned char seq[2];
  for (int i = 0; i < 2; i++) {
    pollfd in = {STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, 20) != 1 || read(STDIN_FILENO, &seq[i], 1) != 1) return KEY_NONE;
  }
  if (seq[0] != '[' && seq[0] != 'O') return KEY_NONE;
  switch (seq[1]) {
    case 'A': return KEY_UP;
    case 'B': return KEY_DOWN;
    case 'C': return KEY_RIGHT;
    case 'D': return KEY_LEFT;
  }
  return KEY_NONE;
}

struct Session {
  const Options *options;
  SDL_AudioDeviceID device = 0;
  bool interactive = false;  // keys from the terminal on standard input
  bool status_line = false;  // and the status line on standard error, a terminal too
  bool line_shown = false;
  bool paused = false;
};

static void ClearLine(Session &s) {
  if (!s.line_shown) return;
  std::fprintf(stderr, "\r\033[K");
  s.line_shown = false;
}

// The status line: file, format, order/row, time against the length, voices, level, volume.
static void ShowStatus(Session &s, const char *file, const modux_module_info &info,
                       modux_player *player, double queued, double level) {
  modux_position p;
  if (modux_player_get_position(player, &p) != MODUX_OK) return;
  int volume = 100;
  modux_player_get_option(player, MODUX_OPTION_VOLUME, &volume);
  // The level meter: 8 steps of 6 dB below full scale.
  const int bars =
      level > 0 ? std::clamp(static_cast<int>(8 + 20 * std::log10(level) / 6), 0, 8) : 0;
  char line[512];
  std::snprintf(line, sizeof line,
                "%s%s %s  order %d/%d row %d  %s/%s  voices %d  [%.*s%.*s]  vol %d%%",
                s.paused ? "(paused) " : "", BaseName(file), info.format_name, p.order, info.orders,
                p.row, Clock(p.seconds - queued, 1).c_str(), Clock(p.length, 1).c_str(), p.voices,
                bars, "########", 8 - bars, "--------", volume);
  winsize ws;
  const int columns = ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 ? ws.ws_col : 80;
  line[std::min<size_t>(sizeof line - 1, columns - 1)] = '\0';
  std::fprintf(stderr, "\r%s\033[K", line);
  std::fflush(stderr);
  s.line_shown = true;
}

// Stops the player where the terminal asks for a stop (Ctrl-Z): the terminal is restored first
// and set for keys again when the player goes on.
static void Suspend(Session &s) {
  ClearLine(s);
  SDL_PauseAudioDevice(s.device, 1);
  RestoreTerminal();
  std::signal(SIGTSTP, SIG_DFL);
  std::raise(SIGTSTP);
  std::signal(SIGTSTP, CatchSignal);
  tcgetattr(STDIN_FILENO, &saved_terminal);
  SingleKeyTerminal();
  SDL_PauseAudioDevice(s.device, s.paused ? 1 : 0);
}

enum SongEnd { SONG_DONE, SONG_SKIPPED, SONG_QUIT, SONG_FAILED };

// Plays the started song to its end (or the --seconds limit), taking keys on a terminal.
static SongEnd PlaySong(Session &s, modux_player *player, const char *file,
                        const modux_module_info &info) {
  const int bytes_per_second = s.options->rate * 4;
  const Uint32 ahead = static_cast<Uint32>(QUEUE_SECONDS * bytes_per_second);
  const long limit =
      s.options->seconds >= 0 ? static_cast<long>(s.options->seconds * s.options->rate) : -1;
  std::vector<int16_t> block(2 * BLOCK_FRAMES);
  long fed = 0;
  bool rendered_all = false;
  double level = 0, shown = 0;
  for (;;) {
    if (caught_signal == SIGTSTP) {
      caught_signal = 0;
      Suspend(s);
    }
    if (caught_signal) return SONG_QUIT;
    for (Key key; s.interactive && (key = ReadKey()) != KEY_NONE;) {
      modux_position p;
      modux_player_get_position(player, &p);
      int volume = 100;
      modux_player_get_option(player, MODUX_OPTION_VOLUME, &volume);
      switch (key) {
        case KEY_PAUSE:
          s.paused = !s.paused;
          SDL_PauseAudioDevice(s.device, s.paused ? 1 : 0);
          break;
        case KEY_LEFT:
        case KEY_RIGHT: {
          const int order = p.order + (key == KEY_LEFT ? -1 : 1);
          if (order >= 0 && order < info.orders &&
              modux_player_seek_order(player, order) == MODUX_OK) {
            SDL_ClearQueuedAudio(s.device);  // what was queued belongs to the old order
            rendered_all = false;
          }
          break;
        }
        case KEY_UP:
        case KEY_DOWN:
          volume = std::clamp(volume + (key == KEY_UP ? VOLUME_STEP : -VOLUME_STEP), 0, 100);
          modux_player_set_option(player, MODUX_OPTION_VOLUME, volume);
          break;
        case KEY_NEXT:
        case KEY_QUIT:
          SDL_ClearQueuedAudio(s.device);
          return key == KEY_NEXT ? SONG_SKIPPED : SONG_QUIT;
        case KEY_NONE: break;
      }
      shown = 0;
    }
    while (!s.paused && !rendered_all && SDL_GetQueuedAudioSize(s.device) < ahead) {
      const long want = limit < 0 ? BLOCK_FRAMES : std::min(BLOCK_FRAMES, limit - fed);
      const long got = want > 0 ? modux_player_render_s16(player, block.data(), want) : 0;
      if (got < 0) {
        ClearLine(s);
        std::fprintf(stderr, "modux-play: %s: %s\n", file, modux_player_message(player));
        return SONG_FAILED;
      }
      if (got > 0 && SDL_QueueAudio(s.device, block.data(), got * 4) != 0) {
        ClearLine(s);
        std::fprintf(stderr, "modux-play: the sound output failed: %s\n", SDL_GetError());
        return SONG_QUIT;
      }
      int peak = 0;
      for (long i = 0; i < 2 * got; i++) peak = std::max(peak, std::abs(int{block[i]}));
      level = peak / 32768.0;
      fed += got;
      rendered_all = got < want || want == 0;
    }
    const Uint32 queued = SDL_GetQueuedAudioSize(s.device);
    if (rendered_all && queued == 0) return SONG_DONE;
    if (s.status_line && WallSeconds() - shown > 0.1) {
      shown = WallSeconds();
      ShowStatus(s, file, info, player, static_cast<double>(queued) / bytes_per_second, level);
    }
    if (s.interactive) {
      pollfd in = {STDIN_FILENO, POLLIN, 0};
      poll(&in, 1, 10);
    } else {
      SDL_Delay(10);
    }
  }
}

static int Play(const Options &options) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    std::fprintf(stderr, "modux-play: no sound output: %s\n", SDL_GetError());
    return 1;
  }
  SDL_AudioSpec want, have;
  SDL_zero(want);
  want.freq = options.rate;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = BLOCK_FRAMES;
  Session s;
  s.options = &options;
  s.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (!s.device) {
    std::fprintf(stderr, "modux-play: no sound output: %s\n", SDL_GetError());
    SDL_Quit();
    return 1;
  }
  SDL_PauseAudioDevice(s.device, 0);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, CatchSignal);
  s.interactive = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved_terminal) == 0;
  s.status_line = s.interactive && isatty(STDERR_FILENO);
  if (s.interactive) {
    std::signal(SIGTSTP, CatchSignal);
    std::atexit(RestoreTerminal);
    SingleKeyTerminal();
  }

  int status = 0;
  modux_player *player = modux_player_create();
  for (size_t i = 0; player && i < options.files.size() && !caught_signal; i++) {
    const char *file = options.files[i];
    ClearLine(s);
    modux_module *module = Load(file, true);
    if (!module) {
      status = 1;
      continue;
    }
    modux_module_info info;
    modux_module_get_info(module, &info);
    SongEnd end = SONG_FAILED;
    if (Start(player, module, file, options)) {
      modux_position p;
      modux_player_get_position(player, &p);
      std::printf("playing %s: \"%s\", %s, %s\n", file, info.title, info.format_name,
                  Clock(p.length, 1).c_str());
      std::fflush(stdout);
      end = PlaySong(s, player, file, info);
      modux_player_stop(player);
    }
    modux_module_destroy(module);
    if (end == SONG_FAILED) status = 1;
    if (end == SONG_QUIT) break;
  }
  if (!player) std::fprintf(stderr, "modux-play: %s\n", modux_error_text(MODUX_ERROR_MEMORY));
  ClearLine(s);
  modux_player_destroy(player);
  SDL_CloseAudioDevice(s.device);
  SDL_Quit();
  RestoreTerminal();
  if (caught_signal && caught_signal != SIGTSTP) {
    std::signal(caught_signal, SIG_DFL);
    std::raise(caught_signal);
  }
  return player ? status : 1;
}

int main(int argc, char **argv) {
  Options options;
  bool options_done = false;
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    if (options_done || arg[0] != '-' || std::strcmp(arg, "-") == 0) {
      options.files.push_back(arg);
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      options_done = true;
    } else if (std::strcmp(arg, "--help") == 0) {
      std::fputs(USAGE, stdout);
      return 0;
    } else if (std::strcmp(arg, "--version") == 0) {
      std::printf("modux-play %s\n", modux_version_string());
      return 0;
    } else if (std::strcmp(arg, "--info") == 0) {
      options.info = true;
    } else if (std::strcmp(arg, "--float") == 0) {
      options.as_float = true;
    } else if (std::strcmp(arg, "--whole-frame-ticks") == 0) {
      options.whole_frame_ticks = true;
    } else if (i + 1 >= argc) {
      return UsageError("unknown option or missing value: ", arg);
    } else if (std::strcmp(arg, "--render") == 0) {
      options.render_out = argv[++i];
    } else {
      const char *value = argv[++i];
      double number = 0;
      bool ok = false;
      if (std::strcmp(arg, "--rate") == 0) {
        ok = NumberOption(value, 8000, 192000, &number);
        options.rate = static_cast<int>(number);
      } else if (std::strcmp(arg, "--seconds") == 0) {
        ok = NumberOption(value, 0, 24 * 3600.0, &options.seconds);
      } else if (std::strcmp(arg, "--subsong") == 0) {
        ok = NumberOption(value, 1, 1e6, &number) && number == std::floor(number);
        options.subsong = static_cast<int>(number);
      } else if (std::strcmp(arg, "--loop") == 0) {
        ok = NumberOption(value, -1, 1000000, &number) && number == std::floor(number);
        options.loop = static_cast<int>(number);
      } else if (std::strcmp(arg, "--resampler") == 0) {
        // The names of the C interface's resamplers, in the order of their values.
        static const char *const names[] = {"linear", "nearest", "cubic", "sinc"};
        for (int r = 0; r < 4; r++)
          if (std::strcmp(value, names[r]) == 0) ok = true, options.resampler = r;
      } else if (std::strcmp(arg, "--volume") == 0) {
        ok = NumberOption(value, 0, 100, &number);
        options.volume = static_cast<int>(number);
      } else {
        return UsageError("unknown option: ", arg);
      }
      if (!ok) return UsageError("bad value for ", arg);
    }
  }
  if (options.files.empty()) return UsageError("no FILE given");
  if (options.info && options.render_out) return UsageError("--info and --render go apart");
  if (options.render_out && options.files.size() > 1) return UsageError("--render writes one FILE");
  if (options.render_out) return Render(options);
  if (options.info) {
    int status = 0;
    for (size_t i = 0; i < options.files.size(); i++) {
      if (PrintInfo(options.files[i], options.files.size() > 1) != 0) status = 1;
    }
    return status;
  }
  return Play(options);
}
