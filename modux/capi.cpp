// modux capi: the C interface's players (libmodux.h).
// Each call checks what it is handed, then drives a player of its own on the render clock
// (render.cpp). A player's calls take its turn, so a render on one thread and a stop, a
// destroy_mod or a second call on another never overlap.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "libmodux.h"
#include "modux_internal.h"
#include "voice.h"

static_assert(+MODUX_RESAMPLER_LINEAR == +MIXER_LINEAR &&
                  +MODUX_RESAMPLER_NEAREST == +MIXER_NEAREST &&
                  +MODUX_RESAMPLER_CUBIC == +MIXER_CUBIC && +MODUX_RESAMPLER_SINC == +MIXER_SINC,
              "the C interface names the mixer's resamplers");

namespace {

// Frames a mono render mixes at a time before taking the mean of the two sides.
const int MONO_BLOCK = 1024;

// Sets the player's error and message; answers the code.
int fail(modux_player *p, int code, const char *format, ...) {
  p->error = code;
  va_list args;
  va_start(args, format);
  vsnprintf(p->message, sizeof p->message, format, args);
  va_end(args);
  return code;
}

int succeed(modux_player *p) {
  p->error = MODUX_OK;
  p->message[0] = '\0';
  return MODUX_OK;
}

// The player's turn for the length of one call.
struct turn {
  modux_player *p;
  explicit turn(modux_player *player) : p(player) { p->control_turn.lock(); }
  ~turn() { p->control_turn.unlock(); }
};

template <typename T>
long render_into(modux_player *p, T *buffer, long frames) {
  if (!p) return -MODUX_ERROR_ARGUMENT;
  turn hold(p);
  if (!buffer || frames < 0)
    return -fail(p, MODUX_ERROR_ARGUMENT, "%s", !buffer ? "no buffer" : "a negative frame count");
  if (!p->rendering) return -fail(p, MODUX_ERROR_STATE, "the player has no module to play");
  succeed(p);
  const float gain = p->volume_percent / 100.0f;
  short *s16 = nullptr;
  float *f32 = nullptr;
  if (p->channels == 2) {
    if constexpr (sizeof(T) == sizeof(short))
      s16 = reinterpret_cast<short *>(buffer);
    else
      f32 = buffer;
    return render_run(p, s16, f32, frames, gain);
  }
  // Mono: the mean of the two sides, a block at a time.
  T both[2 * MONO_BLOCK];
  if constexpr (sizeof(T) == sizeof(short))
    s16 = reinterpret_cast<short *>(both);
  else
    f32 = both;
  long written = 0;
  while (written < frames) {
    const long want = frames - written < MONO_BLOCK ? frames - written : MONO_BLOCK;
    const long got = render_run(p, s16, f32, want, gain);
    for (long i = 0; i < got; i++) {
      if constexpr (sizeof(T) == sizeof(short))
        buffer[written + i] = static_cast<T>((both[2 * i] + both[2 * i + 1]) / 2);
      else
        buffer[written + i] = (both[2 * i] + both[2 * i + 1]) * 0.5f;
    }
    written += got;
    if (got < want) break;
  }
  return written;
}

}  // namespace

unsigned modux_version(void) { return MODUX_VERSION; }

const char *modux_version_string(void) { return "2.0.0"; }

const char *modux_error_text(int code) {
  switch (code) {
    case MODUX_OK: return "no error";
    case MODUX_ERROR_ARGUMENT: return "a null pointer or a value outside what the call takes";
    case MODUX_ERROR_MEMORY: return "not enough memory";
    case MODUX_ERROR_OPEN: return "the file cannot be opened or read";
    case MODUX_ERROR_FORMAT: return "not a module format the engine reads";
    case MODUX_ERROR_DAMAGED: return "the module is damaged past loading";
    case MODUX_ERROR_LIMIT: return "the module would need more memory than the engine allows";
    case MODUX_ERROR_STATE: return "the player has no module to play";
    default: return "unknown error code";
  }
}

int modux_module_get_subsongs(const modux_module *module, int *first_orders, int max) {
  if (!module || max < 0) return -MODUX_ERROR_ARGUMENT;
  MODUX *mod = const_cast<MODUX *>(module);
  const int orders = mod_playable_orders(mod);
  if (orders == 0) return 0;
  unsigned char *reached = static_cast<unsigned char *>(calloc(orders, 1));
  if (!reached) return -MODUX_ERROR_MEMORY;
  int count = 0;
  for (int order = 0; order < orders; order++) {
    if (reached[order]) continue;
    if (scan_song(mod, order, reached, nullptr) < 0) {
      free(reached);
      return -MODUX_ERROR_MEMORY;
    }
    reached[order] = 1;
    if (first_orders && count < max) first_orders[count] = order;
    count++;
  }
  free(reached);
  return count;
}

modux_player *modux_player_create(void) {
  modux_player *p = new (std::nothrow) modux_player();
  if (!p) return nullptr;
  p->offline = -1;
  p->on_mixer = -1;
  player_register(p);
  return p;
}

void modux_player_destroy(modux_player *player) {
  if (!player) return;
  player_unregister(player);
  {
    turn hold(player);
    render_end(player);
  }
  player_free_marks(player);
  delete player;
}

int modux_player_set_option(modux_player *player, modux_option option, int value) {
  if (!player) return MODUX_ERROR_ARGUMENT;
  turn hold(player);
  switch (option) {
    case MODUX_OPTION_RATE:
      if (value < 8000 || value > 192000)
        return fail(player, MODUX_ERROR_ARGUMENT, "rate %d Hz: 8000 to 192000 Hz are rendered",
                    value);
      player->rate = value;
      break;
    case MODUX_OPTION_CHANNELS:
      if (value != 1 && value != 2)
        return fail(player, MODUX_ERROR_ARGUMENT, "%d channels: 1 (mono) or 2 (stereo)", value);
      player->channels = value;
      break;
    case MODUX_OPTION_REPEAT:
      if (value < -1)
        return fail(player, MODUX_ERROR_ARGUMENT, "repeat %d: 0 or more, or -1 for ever", value);
      player->repeat = value;
      player->repeats_left = value;
      // A song that plays again continues at its restart position at its end.
      if (player->rendering) player->mi.loop = value != 0 ? -1 : 0;
      break;
    case MODUX_OPTION_VOLUME:
      if (value < 0 || value > 100)
        return fail(player, MODUX_ERROR_ARGUMENT, "volume %d%%: 0 to 100", value);
      player->volume_percent = value;
      break;
    case MODUX_OPTION_RESAMPLER:
      if (value < MODUX_RESAMPLER_LINEAR || value > MODUX_RESAMPLER_SINC)
        return fail(player, MODUX_ERROR_ARGUMENT, "resampler %d: 0 to 3", value);
      mixer_set_resampler(&player->mixer, value);
      break;
    case MODUX_OPTION_WHOLE_FRAME_TICKS:
      if (value != 0 && value != 1)
        return fail(player, MODUX_ERROR_ARGUMENT, "whole-frame ticks %d: 0 or 1", value);
      player->whole_frame_ticks = value ? -1 : 0;
      break;
    default: return fail(player, MODUX_ERROR_ARGUMENT, "option %d is unknown", option);
  }
  return succeed(player);
}

int modux_player_get_option(const modux_player *player, modux_option option, int *value) {
  if (!player) return MODUX_ERROR_ARGUMENT;
  modux_player *p = const_cast<modux_player *>(player);
  turn hold(p);
  if (!value) return fail(p, MODUX_ERROR_ARGUMENT, "no place for the value");
  switch (option) {
    case MODUX_OPTION_RATE: *value = p->rate; break;
    case MODUX_OPTION_CHANNELS: *value = p->channels; break;
    case MODUX_OPTION_REPEAT: *value = p->repeat; break;
    case MODUX_OPTION_VOLUME: *value = p->volume_percent; break;
    case MODUX_OPTION_RESAMPLER: *value = p->mixer.resampler; break;
    case MODUX_OPTION_WHOLE_FRAME_TICKS: *value = p->whole_frame_ticks ? 1 : 0; break;
    default: return fail(p, MODUX_ERROR_ARGUMENT, "option %d is unknown", option);
  }
  return succeed(p);
}

int modux_player_play(modux_player *player, const modux_module *module) {
  return modux_player_play_order(player, module, 0);
}

int modux_player_play_order(modux_player *player, const modux_module *module, int order) {
  if (!player) return MODUX_ERROR_ARGUMENT;
  MODUX *mod = const_cast<MODUX *>(module);
  if (!mod) return fail(player, MODUX_ERROR_ARGUMENT, "no module");
  const int orders = mod_playable_orders(mod);
  if (order < 0 || (order > 0 && order >= orders))
    return fail(player, MODUX_ERROR_ARGUMENT, "order %d lies outside the order list (%d)", order,
                orders);
  // How long the song plays, and when each position starts, before the player takes its turn.
  double *seconds = static_cast<double *>(malloc((orders > 0 ? orders : 1) * sizeof(double)));
  const double length = seconds ? scan_song(mod, order, nullptr, seconds) : -1;
  turn hold(player);
  if (length < 0 || render_begin(player, mod, player->rate, order, player->repeat) < 0) {
    free(seconds);
    render_end(player);
    return fail(player, MODUX_ERROR_MEMORY, "not enough memory to play the module");
  }
  free(player->order_seconds);
  player->order_seconds = seconds;
  player->length = length;
  return succeed(player);
}

int modux_player_stop(modux_player *player) {
  if (!player) return MODUX_ERROR_ARGUMENT;
  turn hold(player);
  render_end(player);
  player->length = 0;
  return succeed(player);
}

int modux_player_seek_order(modux_player *player, int order) {
  if (!player) return MODUX_ERROR_ARGUMENT;
  turn hold(player);
  MODUX *mod = player->render_module;
  if (!player->rendering || !mod)
    return fail(player, MODUX_ERROR_STATE, "the player has no module to play");
  const int orders = mod_playable_orders(mod);
  if (order < 0 || order >= orders)
    return fail(player, MODUX_ERROR_ARGUMENT, "order %d lies outside the order list (%d)", order,
                orders);
  if (player->finished) {
    // A song that has ended starts again there.
    double *seconds = player->order_seconds;
    player->order_seconds = nullptr;
    const int started = render_begin(player, mod, player->rate, order, player->repeat);
    player->order_seconds = seconds;
    if (started < 0) return fail(player, MODUX_ERROR_MEMORY, "not enough memory to play");
  } else {
    render_seek(player, order);
  }
  const double at = player->order_seconds ? player->order_seconds[order] : -1;
  if (at >= 0) player->played_units = static_cast<long long>(at * TIMERS_PER_SECOND);
  return succeed(player);
}

int modux_player_get_position(const modux_player *player, modux_position *position) {
  if (!player) return MODUX_ERROR_ARGUMENT;
  modux_player *p = const_cast<modux_player *>(player);
  turn hold(p);
  if (!position) return fail(p, MODUX_ERROR_ARGUMENT, "no place for the position");
  if (!p->rendering) return fail(p, MODUX_ERROR_STATE, "the player has no module to play");
  position->order = p->mi.order;
  position->pattern = p->mi.pattern;
  position->row = p->mi.row;
  position->tick = p->mi.tick;
  position->seconds = static_cast<double>(p->played_units) / TIMERS_PER_SECOND;
  position->length = p->length;
  int voices = 0;
  for (const MIXER_VOICE_STATE &v : p->mixer.voices)
    voices += v.sample && v.playing && (v.gain[0] != 0.0f || v.gain[1] != 0.0f || v.ramp);
  position->voices = voices;
  return succeed(p);
}

long modux_player_render_s16(modux_player *player, int16_t *buffer, long frames) {
  return render_into(player, buffer, frames);
}

long modux_player_render_float(modux_player *player, float *buffer, long frames) {
  return render_into(player, buffer, frames);
}

int modux_player_error(const modux_player *player) {
  return player ? player->error : MODUX_ERROR_ARGUMENT;
}

const char *modux_player_message(const modux_player *player) {
  return player ? player->message : "no player";
}
