// Turns a parsed song and its rendered instruments into the engine's module model (MOD family:
// notes as frequencies, one 16-bit sample per instrument), ready for the MUX writer.
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
  std::vector<SAMPLE> samples_;
  std::vector<std::vector<uint16_t>> frames_;  // Allegro's 16-bit format: unsigned, 0x8000 silence
  std::vector<PATTERN_INFO> patterns_;
  std::vector<std::vector<NOTE_INFO>> cells_;
};

// Note frequency the module stores for a pitch: 3579546 / its Amiga period.
int note_frequency(int pitch);

}  // namespace sound
