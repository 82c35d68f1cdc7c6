/* libmodux: the music engine's C interface.
 * Loads tracker modules (the engine's MUX, MOD, S3M, XM, IT, and those inside UMX packages) from
 * files or memory, and renders them through player objects into buffers the caller owns. It needs
 * no display, no sound device and no other header; it compiles as C99 and as C++.
 *
 * Threads: any number of players may render at once, each on its own thread; one player is used
 * by one thread at a time. A loaded module is read-only and may be played by several players at
 * once. Loading may run on any thread. Every call reports failure by an error code (MODUX_OK is
 * 0) and a message: per call for loading (modux_status), per player for the rest.
 */
#ifndef LIBMODUX_H
#define LIBMODUX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define MODUX_API __attribute__((visibility("default")))
#else
#define MODUX_API
#endif

#define MODUX_VERSION_MAJOR 2
#define MODUX_VERSION_MINOR 0
#define MODUX_VERSION_PATCH 0
/* The version as one number, (major << 16) | (minor << 8) | patch, to compare with
 * modux_version() at run time. */
#define MODUX_VERSION \
  ((MODUX_VERSION_MAJOR << 16) | (MODUX_VERSION_MINOR << 8) | MODUX_VERSION_PATCH)

/* Error codes: every call that can fail answers one (or leaves one in its status or player). */
#define MODUX_OK 0
#define MODUX_ERROR_ARGUMENT 1 /* a null pointer, or a value outside what the call takes */
#define MODUX_ERROR_MEMORY 2   /* not enough memory */
#define MODUX_ERROR_OPEN 3     /* the file cannot be opened or read, or is not a regular file */
#define MODUX_ERROR_FORMAT 4   /* not a module format the engine reads */
#define MODUX_ERROR_DAMAGED 5  /* a module of a known format, damaged past loading */
#define MODUX_ERROR_LIMIT 6    /* the module would need more memory than the engine allows */
#define MODUX_ERROR_STATE 7    /* the call needs a module the player does not have */

/* A loaded module (read-only) and a player. */
typedef struct MODUX modux_module;
typedef struct modux_player modux_player;

/* What a load reports: the error code, a message saying why, and for a file that ended early
 * (loaded, the missing part silent) a note saying what is missing; empty strings otherwise. */
typedef struct modux_status {
  int code;
  char message[128];
  char note[128];
} modux_status;

/* What a module is. */
typedef struct modux_module_info {
  int format;           /* 1 MOD (15 samples), 2 MOD (31), 3 S3M, 4 XM, 5 IT, 6 MUX, 7..10 UMX */
  char format_name[20]; /* "MOD (31 Samples)", "S3M", "XM", "IT", "MUX", "Unreal XM (UMX)", ... */
  char title[29];       /* the song's name, terminated */
  int channels;
  int orders;
  int patterns;
  int instruments;
  int samples;
} modux_module_info;

/* Where a player is in its song. */
typedef struct modux_position {
  int order;
  int pattern;
  int row;
  int tick;
  double seconds; /* played since the start of the song */
  double length;  /* of the song from where it started, once through to its end or loop point */
  int voices;     /* voices sounding now */
} modux_position;

/* Player options, set with modux_player_set_option. */
typedef enum modux_option {
  MODUX_OPTION_RATE = 1,      /* output rate in Hz, 8000 to 192000; 44100 at creation; from the
                                 next play on */
  MODUX_OPTION_CHANNELS = 2,  /* 1 mono or 2 interleaved stereo (left first); 2 at creation */
  MODUX_OPTION_REPEAT = 3,    /* times the song is played again after its end: 0 once (the
                                 default), -1 for ever */
  MODUX_OPTION_VOLUME = 4,    /* master volume in percent, 0 to 100; 100 at creation */
  MODUX_OPTION_RESAMPLER = 5, /* how samples are read between their frames, a modux_resampler;
                                 linear at creation; from the next frame rendered on */
  /* 1: every tick lasts a whole number of output frames, rate x 2.5 / BPM rounded down, as
     trackers render to a file; 0 (at creation): each tick lasts 2.5 / BPM seconds, the
     fractions of a frame carried on */
  MODUX_OPTION_WHOLE_FRAME_TICKS = 6
} modux_option;

/* Resamplers, from the fastest to the cleanest. */
typedef enum modux_resampler {
  MODUX_RESAMPLER_LINEAR = 0,  /* a straight line between two frames */
  MODUX_RESAMPLER_NEAREST = 1, /* the frame under the position, held: the hard edges of early
                                  trackers */
  MODUX_RESAMPLER_CUBIC = 2,   /* a cubic spline through four frames */
  MODUX_RESAMPLER_SINC = 3     /* windowed sinc of 8 taps or more (8 per frame of step when a
                                  note plays faster than the output rate), which removes the
                                  tones a high note would fold back below half the output rate */
} modux_resampler;

MODUX_API unsigned modux_version(void);
MODUX_API const char *modux_version_string(void);
/* A short English text for an error code. */
MODUX_API const char *modux_error_text(int code);

/* Loading. Each answers the module, or NULL with the reason in *status (status may be NULL). */
MODUX_API modux_module *modux_module_load_file(const char *path, modux_status *status);
MODUX_API modux_module *modux_module_load_memory(const void *data, size_t size,
                                                 modux_status *status);
/* Load flags. MODUX_LOAD_MOD15: also try the 15-sample MOD family, last; its files carry no
 * signature, so any file that fits its layout is taken for one. */
#define MODUX_LOAD_MOD15 1
MODUX_API modux_module *modux_module_load_file_flags(const char *path, int flags,
                                                     modux_status *status);
MODUX_API modux_module *modux_module_load_memory_flags(const void *data, size_t size, int flags,
                                                       modux_status *status);
/* Frees a module; every player still playing it stops first. NULL does nothing. */
MODUX_API void modux_module_destroy(modux_module *module);
MODUX_API int modux_module_get_info(const modux_module *module, modux_module_info *info);
/* The song message the file carries, or "" when it has none. */
MODUX_API const char *modux_module_message(const modux_module *module);
/* Subsongs: parts of the order list that play apart from each other. Answers how many the module
 * has (1 or more; 0 when no order plays) and writes the first order position of each, in order
 * list order, to first_orders[0 .. max - 1] (first_orders may be NULL). Found by running the
 * sequencer without mixing: the song from order 0 is the first; an order position it never
 * reaches starts the next, and so on. A negative answer is an error code, negated (ARGUMENT for
 * a NULL module or a negative max, MEMORY). */
MODUX_API int modux_module_get_subsongs(const modux_module *module, int *first_orders, int max);

/* Players. */
MODUX_API modux_player *modux_player_create(void);
MODUX_API void modux_player_destroy(modux_player *player);
MODUX_API int modux_player_set_option(modux_player *player, modux_option option, int value);
MODUX_API int modux_player_get_option(const modux_player *player, modux_option option, int *value);
/* Starts a module from its first order. The module must outlive its playing. */
MODUX_API int modux_player_play(modux_player *player, const modux_module *module);
/* Starts a module at row 0 of an order position, every channel fresh: a subsong's start. */
MODUX_API int modux_player_play_order(modux_player *player, const modux_module *module, int order);
/* Forgets the module; the player renders nothing until the next play. */
MODUX_API int modux_player_stop(modux_player *player);
/* Goes on from row 0 of an order position. */
MODUX_API int modux_player_seek_order(modux_player *player, int order);
MODUX_API int modux_player_get_position(const modux_player *player, modux_position *position);
/* Renders up to frames frames (a frame is one sample per output channel) into buffer and
 * answers how many it wrote: fewer only at the song's end, then 0. A negative answer is an
 * error code, negated. */
MODUX_API long modux_player_render_s16(modux_player *player, int16_t *buffer, long frames);
MODUX_API long modux_player_render_float(modux_player *player, float *buffer, long frames);
/* The player's last error code and its message ("" after success). */
MODUX_API int modux_player_error(const modux_player *player);
MODUX_API const char *modux_player_message(const modux_player *player);

#ifdef __cplusplus
}
#endif

#endif
