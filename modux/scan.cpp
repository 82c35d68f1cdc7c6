// modux scan: how long a song plays, and where its subsongs start.
// The sequencer runs on a player of its own, tick after tick, with nothing mixed: the render
// clock's machinery, so a song ends here exactly where its render ends (at its end, or where it
// comes back to a row it played).
#include <new>

#include "modux_internal.h"
#include "voice.h"

// Far beyond any song: a scan stops after a day of music, or after 100000 ticks (33 minutes at
// 125 BPM, two hours at the slowest tempo), so that a damaged file's rows of the slowest speed
// and the longest delays cannot hold a play call for minutes.
static const long long SCAN_LIMIT_UNITS = 24LL * 3600 * TIMERS_PER_SECOND;
static const long SCAN_LIMIT_TICKS = 100000;

double scan_song(MODUX *mod, int order, unsigned char *reached, double *seconds) {
  modux_player *p = new (std::nothrow) modux_player();
  if (!p) return -1;
  const int orders = mod_playable_orders(mod);
  if (seconds)
    for (int o = 0; o < orders; o++) seconds[o] = -1;
  double length = -1;
  if (render_begin(p, mod, 44100, order, 0, false) > 0) {
    long long before = 0;
    long ticks = 0;
    for (bool playing = true; playing && ticks < SCAN_LIMIT_TICKS;
         playing = render_tick(p), ticks++) {
      const int at = p->mi.order;
      if (p->mi.tick == 0 && at >= 0 && at < orders) {
        if (reached) reached[at] = 1;
        if (seconds && seconds[at] < 0)
          seconds[at] = static_cast<double>(before) / TIMERS_PER_SECOND;
      }
      before = p->played_units;
      if (before > SCAN_LIMIT_UNITS) break;
    }
    length = static_cast<double>(before) / TIMERS_PER_SECOND;
    render_end(p);
  }
  delete p;
  return length;
}
