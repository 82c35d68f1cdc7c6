// Compiled on its own against the engine's public header, which must compile by itself, declare
// the interface and none of the engine's internals. Each internal name is declared again in a
// namespace that a using-directive brings in: were the header to declare the same name globally,
// the unqualified uses below would be ambiguous and the compilation would fail. Built with
// MODUX_PROBE_INTERNAL the internal header comes in too, and the compilation must fail.
#include "modux.h"
#ifdef MODUX_PROBE_INTERNAL
#include "modux_internal.h"
#endif

namespace probe {
int mod_interrupt, mod_tick_begin, ci, of, voice_table, fake_sample, parse_vibrato, note2period,
    calc_volume;
}
using namespace probe;

int main() {
  MODUX *mod = load_mod("song.xm");  // the interface is there
  if (mod) destroy_mod(mod);
  return mod_interrupt + mod_tick_begin + ci + of + voice_table + fake_sample + parse_vibrato +
         note2period + calc_volume;
}
