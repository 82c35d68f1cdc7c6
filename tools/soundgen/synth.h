// Sound synthesis for the game: the voices that make up an instrument or a sound effect, the
// instrument and effect definitions read from data/sounds, and their rendering into samples.
//
// An instrument becomes one sample of a song. A pitched instrument is rendered at its "home"
// note with a whole number of frames per cycle, so that its loop (a whole number of cycles)
// repeats seamlessly; its envelope is baked into the frames before the loop. Every sample plays
// at its own rate at C5, which is how the song builder sets the sample's tuning.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "source.h"

namespace sound {

// Middle-C convention of the songs: a note of Amiga period 428 (C5 here) plays a sample at the
// rate its tuning names, and a pitched instrument holds that note's pitch.
constexpr double kC5Rate = 8363.0;          // Hz at which period 428 plays a sample tuned to 8363
constexpr double kC5Pitch = 8363.0 / 16.0;  // 522.7 Hz: C5 of the songs' scale

// A value or a sweep "a->b".
struct Sweep {
  double from = 0, to = 0;
  bool set = false;
};

// One tone or noise source with its envelope. Times in seconds; levels relative.
struct Voice {
  int line = 0;                // source line, for messages
  std::string wave = "pulse";  // pulse, triangle, saw, sine, noise
  Sweep duty;                  // pulse width 0..1 (default 0.5), swept over the voice's length
  double pwm = 0;              // pulse width swing: over one loop (instruments) or at pwmrate Hz
  double pwmrate = 0;
  double ratio = 1;   // pitched instruments: frequency as a multiple of the home note
  Sweep freq;         // Hz: effects and unpitched instruments
  double glide = -1;  // seconds the frequency sweep takes (default: the voice's length)
  double start = 0;   // seconds after the sound's start
  double len = -1;    // seconds; -1: until the envelope has decayed (or the sound ends)
  double attack = 0.002, decay = 0.1, sustain = 1, release = 0;
  double gain = 1;
  double vib = 0, vibdepth = 0, vibdelay = 0;  // vibrato rate (Hz), depth (semitones), delay (s)
  Sweep cutoff;  // low-pass cutoff in Hz, swept over cutsweep seconds (default len)
  double cutsweep = -1;
  double hp = 0;              // high-pass cutoff in Hz, 0 = none
  std::vector<double> notes;  // effects: a run of notes (Hz), one every `step` seconds
  double step = 0;
};

// Reads one "voice key=value ..." line's settings (words from `first`).
Voice parse_voice(const std::string &file, const SourceLine &line, size_t first, bool pitched);

// An instrument of the songs.
// The volume envelope and fade-out of an instrument in songs of the XM family: points of
// (tick, level 0..64), an optional sustain point and loop (point indices), and the fade-out per
// tick after the key is released.
struct InstrumentEnvelope {
  std::vector<std::pair<int, int>> points;
  int sustain = -1;
  int loop_start = -1, loop_end = -1;
  int fadeout = 0;
};

struct Instrument {
  std::string name;
  int line = 0;
  int cycle = 0;      // frames per cycle of a pitched instrument (16, 32 or 64); 0 unpitched
  int home = 12;      // pitched: semitones from C4 of the note whose timing the voices give
  double rate = 0;    // unpitched: frames per second, played at that rate on C5
  int loop = 0;       // cycles in the loop of a pitched instrument; 0 = plays once
  int volume = 64;    // default channel volume 0..64
  double peak = 0.7;  // highest level of the sample, of full scale
  std::vector<Voice> voices;
  InstrumentEnvelope envelope;  // played by songs of the XM family
};

// A rendered instrument: Allegro-ready frames and the numbers the module needs.
struct InstrumentSample {
  std::vector<int16_t> frames;
  int tuning = 0;                    // Hz at C5, the sample's rate
  int loop_start = 0, loop_end = 0;  // loop_end 0: no loop
  int volume = 64;
  InstrumentEnvelope envelope;
};

// A sound effect of the game (a datafile SAMPLE played with play_sample).
struct Effect {
  int number = -1;  // object number in sounds.dat (0..9)
  std::string name;
  int line = 0;
  double rate = 22050;
  double peak = 0.7;
  std::vector<Voice> voices;
};

struct EffectSample {
  std::vector<int16_t> frames;
  int rate = 22050;
};

// Instrument file: blocks "instrument NAME" with indented settings and voice lines.
std::map<std::string, Instrument> parse_instruments(const std::string &file,
                                                    const std::string &text);
// Effect file: blocks "effect NUMBER NAME" with indented settings and voice lines.
std::vector<Effect> parse_effects(const std::string &file, const std::string &text);

// Throws SourceError when a looped instrument does not repeat seamlessly or a setting cannot be
// rendered.
InstrumentSample render_instrument(const Instrument &ins, const std::string &file);
EffectSample render_effect(const Effect &fx, const std::string &file);

// Frequency in Hz of a pitch given in semitones from C4 at concert pitch (A4 = 440 Hz).
double concert_pitch(int semitones_from_c4);

}  // namespace sound
