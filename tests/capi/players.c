/* The engine's C interface driven from C99: players on threads render different songs, each
 * exactly as it renders alone; the output options (mono, float, volume, repeat, rate) shape the
 * same sound; the length and subsong scan; and every player call refuses what it cannot take
 * with its error code. Usage: players SONG...  (two or more modules) */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "libmodux.h"

#define FRAMES (44100L * 6)
#define MAX_SONGS 4
static int failures = 0;
/* Counts a failed condition and tells its line and the message of the other arguments. */
#define CHECK(cond, ...)                                                                       \
  ((cond) ? 0                                                                                  \
          : (failures++, fprintf(stderr, "line %d: ", __LINE__), fprintf(stderr, __VA_ARGS__), \
             fputc('\n', stderr)))

typedef struct {
  const modux_module *module;
  int16_t out[2 * FRAMES];
  long frames;
} job;

/* A player of its own renders the first FRAMES of the song. */
static void *render(void *arg) {
  job *j = arg;
  modux_player *p = modux_player_create();
  j->frames = p && modux_player_play(p, j->module) == MODUX_OK
                  ? modux_player_render_s16(p, j->out, FRAMES)
                  : -1;
  modux_player_destroy(p);
  return NULL;
}

/* Frames of the whole song (to its end or loop point) as the player's options stand. */
static long song_frames(modux_player *p, const modux_module *m) {
  static int16_t block[2 * 4096];
  long total = 0, got;
  modux_player_play(p, m);
  while ((got = modux_player_render_s16(p, block, 4096)) > 0) total += got;
  return total;
}

/* A 4-channel MOD of two empty patterns in the order 0, 1: pattern 0 jumps back to order 0 at
 * its last row, so order 1 is a second subsong. */
static modux_module *two_subsongs(void) {
  static unsigned char mod[1084 + 2 * 1024];
  memset(mod, 0, sizeof mod);
  mod[950] = 2, mod[952] = 0, mod[953] = 1;
  memcpy(mod + 1080, "M.K.", 4);
  mod[1084 + 63 * 16 + 2] = 0x0B; /* B00 on row 63, channel 0 */
  return modux_module_load_memory(mod, sizeof mod, NULL);
}

/* A call's answer against the one it should give, the call made once. */
static void code_is(long got, long want, int line) {
  if (got != want) failures++, fprintf(stderr, "line %d: answers %ld, not %ld\n", line, got, want);
}
#define CODE(call, code) code_is((call), (code), __LINE__)

static void bad_calls(const modux_module *m) {
  int16_t s16[64];
  int value = 0;
  modux_position at;
  modux_player *p = modux_player_create();
  const int option_cases[][2] = {{MODUX_OPTION_RATE, 7999},    {MODUX_OPTION_RATE, 192001},
                                 {MODUX_OPTION_CHANNELS, 3},   {MODUX_OPTION_REPEAT, -2},
                                 {MODUX_OPTION_VOLUME, 101},   {MODUX_OPTION_RESAMPLER, 4},
                                 {MODUX_OPTION_RESAMPLER, -1}, {99, 1}};
  for (size_t i = 0; i < sizeof option_cases / sizeof option_cases[0]; i++) {
    CODE(modux_player_set_option(p, option_cases[i][0], option_cases[i][1]), MODUX_ERROR_ARGUMENT);
    CHECK(modux_player_error(p) == MODUX_ERROR_ARGUMENT && *modux_player_message(p), "%zu", i);
  }
  CODE(modux_player_get_option(p, MODUX_OPTION_RATE, NULL), MODUX_ERROR_ARGUMENT);
  CODE(modux_player_get_option(p, MODUX_OPTION_RATE, &value) + value, 44100);
  CHECK(modux_player_error(p) == MODUX_OK && !*modux_player_message(p), "a success is no error");
  /* Before a play, and after a stop, there is nothing to render, seek or tell. */
  CODE(modux_player_render_s16(p, s16, 32), -MODUX_ERROR_STATE);
  CODE(modux_player_seek_order(p, 0), MODUX_ERROR_STATE);
  CODE(modux_player_get_position(p, &at), MODUX_ERROR_STATE);
  CODE(modux_player_play(p, NULL), MODUX_ERROR_ARGUMENT);
  CODE(modux_player_play_order(p, m, -1), MODUX_ERROR_ARGUMENT);
  CODE(modux_player_play_order(p, m, 256), MODUX_ERROR_ARGUMENT);
  CODE(modux_player_play(p, m), MODUX_OK);
  CODE(modux_player_render_s16(p, NULL, 32), -MODUX_ERROR_ARGUMENT);
  CODE(modux_player_render_float(p, (float *)s16, -1), -MODUX_ERROR_ARGUMENT);
  CODE(modux_player_seek_order(p, 256), MODUX_ERROR_ARGUMENT);
  CODE(modux_player_get_position(p, NULL), MODUX_ERROR_ARGUMENT);
  CODE(modux_player_stop(p), MODUX_OK);
  CODE(modux_player_render_float(p, (float *)s16, 16), -MODUX_ERROR_STATE);
  /* No player, no module. */
  CODE(modux_player_play(NULL, m) + modux_player_stop(NULL) + modux_player_error(NULL),
       3 * MODUX_ERROR_ARGUMENT);
  CODE(modux_player_render_s16(NULL, s16, 1), -MODUX_ERROR_ARGUMENT);
  CODE(modux_module_get_subsongs(NULL, NULL, 0) + modux_module_get_subsongs(m, NULL, -1),
       -2 * MODUX_ERROR_ARGUMENT);
  for (int code = MODUX_OK; code <= MODUX_ERROR_STATE; code++)
    CHECK(strcmp(modux_error_text(code), modux_error_text(code + 1)), "text of %d", code);
  modux_player_destroy(p), modux_player_destroy(NULL);
}

/* The options on one song: mono is the mean of the sides, float the same sound, half the volume
 * half the level, a repeat plays on past the end, half the rate about half the frames; the
 * length the scan finds is the length rendered; position and seeking. */
static void options(const modux_module *m) {
  enum { N = 20000 };
  static int16_t stereo[2 * N], mono[N], half[2 * N];
  static float f[2 * N];
  modux_player *p = modux_player_create();
  modux_position at;
  int value = -1;
  const struct {
    modux_option option;
    int value;
    void *out;
  } takes[] = {{MODUX_OPTION_CHANNELS, 2, stereo},
               {MODUX_OPTION_CHANNELS, 1, mono},
               {MODUX_OPTION_CHANNELS, 2, half},
               {MODUX_OPTION_VOLUME, 100, f}};
  for (int i = 0; i < 4; i++) {
    modux_player_set_option(p, takes[i].option, takes[i].value);
    modux_player_set_option(p, MODUX_OPTION_VOLUME, i == 2 ? 50 : 100);
    modux_player_play(p, m);
    i == 3 ? modux_player_render_float(p, f, N) : modux_player_render_s16(p, takes[i].out, N);
  }
  long peak = 0, off = 0;
  for (long i = 0; i < 2 * N; i++) {
    const long v = stereo[i], from_float = (long)(f[i] * 32767.0f);
    peak = labs(v) > peak ? labs(v) : peak;
    off += labs(half[i] - v / 2) > 1 || labs(from_float - v) > 1 ||
           (i % 2 && mono[i / 2] != (stereo[i - 1] + v) / 2);
  }
  CHECK(off == 0 && peak > 1000, "%ld samples off, peak %ld", off, peak);
  /* Every resampler plays the song at the level of the default (linear), not as it does. */
  for (int r = MODUX_RESAMPLER_NEAREST; r <= MODUX_RESAMPLER_SINC; r++) {
    double e = 0, e_linear = 0;
    long same = 0;
    CODE(modux_player_set_option(p, MODUX_OPTION_RESAMPLER, r), MODUX_OK);
    modux_player_play(p, m);
    modux_player_render_s16(p, half, N);
    for (long i = 0; i < 2 * N; i++)
      e += (double)half[i] * half[i], e_linear += (double)stereo[i] * stereo[i],
          same += half[i] == stereo[i];
    CHECK(e > 0.8 * e_linear && e < 1.25 * e_linear && same < 2 * N,
          "resampler %d: power %g against %g, %ld samples alike", r, e, e_linear, same);
  }
  CODE(modux_player_get_option(p, MODUX_OPTION_RESAMPLER, &value) + value, MODUX_RESAMPLER_SINC);

  const long once = song_frames(p, m);
  CODE(modux_player_get_position(p, &at), MODUX_OK);
  CHECK(at.length > 1 && once / 44100.0 - at.length < 0.03 && once / 44100.0 > at.length &&
            at.seconds > at.length - 0.03 && at.seconds < at.length + 0.03,
        "rendered %ld frames, length %f s, at %f s", once, at.length, at.seconds);
  modux_player_set_option(p, MODUX_OPTION_REPEAT, 1);
  const long twice = song_frames(p, m);
  CHECK(twice > once + 44100 && twice <= 2 * once, "once %ld, with a repeat %ld", once, twice);
  const long slow = (modux_player_set_option(p, MODUX_OPTION_REPEAT, 0),
                     modux_player_set_option(p, MODUX_OPTION_RATE, 22050), song_frames(p, m));
  CHECK(labs(2 * slow - once) < 2000, "at 22050 Hz %ld frames, at 44100 Hz %ld", slow, once);
  /* A seek goes on at row 0 of the position from the next tick on. */
  modux_player_play(p, m);
  modux_player_render_s16(p, stereo, 100);
  modux_player_seek_order(p, 1);
  modux_player_render_s16(p, stereo, 2000);
  modux_player_get_position(p, &at);
  CHECK(at.order == 1 && at.row == 0, "after a seek: order %d row %d", at.order, at.row);
  modux_player_destroy(p);
}

static void subsongs(void) {
  modux_module *m = two_subsongs();
  int first[4] = {-1, -1, -1, -1};
  modux_position at;
  modux_player *p = modux_player_create();
  CHECK(m && modux_module_get_subsongs(m, first, 1) == 2 && first[0] == 0 && first[1] == -1,
        "subsongs: %d %d", first[0], first[1]);
  CHECK(modux_module_get_subsongs(m, first, 4) == 2 && first[1] == 1, "second at %d", first[1]);
  /* 64 rows of 6 ticks at 125 BPM, each tick 23863 / 1193181 s */
  const double length = 64 * 6 * 23863 / 1193181.0;
  for (int order = 0; order < 2; order++) {
    CHECK(modux_player_play_order(p, m, order) == MODUX_OK &&
              modux_player_get_position(p, &at) == MODUX_OK && at.order == order,
          "play from %d: %s", order, modux_player_message(p));
    CHECK(at.length > length - 1e-9 && at.length < length + 1e-9, "length %f", at.length);
  }
  modux_player_destroy(p);
  modux_module_destroy(m);
}

int main(int argc, char **argv) {
  static job lone[MAX_SONGS], threaded[MAX_SONGS];
  modux_module *songs[MAX_SONGS];
  pthread_t threads[MAX_SONGS];
  const int n = argc - 1 < MAX_SONGS ? argc - 1 : MAX_SONGS;
  CHECK(n >= 2 && modux_version() == MODUX_VERSION && !strcmp(modux_version_string(), "2.0.0"),
        "%d songs, version %s", n, modux_version_string());
  for (int i = 0; i < n; i++) {
    modux_status status;
    songs[i] = modux_module_load_file(argv[i + 1], &status);
    if (!songs[i]) return fprintf(stderr, "%s: %s\n", argv[i + 1], status.message), 1;
    lone[i].module = threaded[i].module = songs[i];
    render(lone + i);
  }
  for (int i = 0; i < n; i++) pthread_create(&threads[i], NULL, render, threaded + i);
  for (int i = 0; i < n; i++) {
    pthread_join(threads[i], NULL);
    CHECK(threaded[i].frames == lone[i].frames && lone[i].frames > 0 &&
              !memcmp(threaded[i].out, lone[i].out, 2 * sizeof(int16_t) * lone[i].frames),
          "%s on a thread: %ld frames, alone %ld", argv[i + 1], threaded[i].frames, lone[i].frames);
  }
  CHECK(memcmp(lone[0].out, lone[1].out, 2 * sizeof(int16_t) * 44100), "the songs differ");
  bad_calls(songs[0]);
  options(songs[0]);
  subsongs();
  for (int i = 0; i < n; i++) modux_module_destroy(songs[i]);
  if (failures) fprintf(stderr, "%d failures\n", failures);
  return failures != 0;
}
