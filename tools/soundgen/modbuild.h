// Turns a parsed song and its rendered instruments into the engine's module model, ready for the
// MUX writer: one 16-bit sample per instrument; in the MOD family notes are frequencies, in the
// XM family (linear periods) notes are note numbers and every instrument of a channel becomes
// an XM instrument with its volume envelope and fade-out and the channel's pan.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "modux.h"
#include "song.h"
#include "synth.h"

namespace sound {

// Owns every array the MODUX points into; not copyable, since the module points at its members.
class SongModule {
 public:
  // Throws SourceError when an instrument is missing or a note cannot be played by the engine.
  SongModule(const Song &song, const std::map<std::string, InstrumentSample> &samples);
  SongModule(const SongModule &) = delete;
  SongModule &operator=(const SongModule &) = delete;

  const MODUX &module() const { return mod_; }

 private:
  MODUX mod_{};
  std::vector<SAMPLE_INFO> info_;
  std::vector<INSTRUMENT_INFO> instruments_;
  std::vector<SAMPLE> samples_;
  std::vector<std::vector<uint16_t>> frames_;  // Allegro's 16-bit format: unsigned, 0x8000 silence
  std::vector<PATTERN_INFO> patterns_;
  std::vector<std::vector<NOTE_INFO>> cells_;
};

// Note frequency the module stores for a pitch: 3579546 / its Amiga period.
int note_frequency(int pitch);

// XM note number (1 = C-0) of a pitch, and the relative note and finetune + 128 that make a
// sample of `rate` Hz at C5 play at that rate on C5.
int xm_note(int pitch);
void xm_tuning(int rate, int &relative_note, int &tuning);

}  // namespace sound
