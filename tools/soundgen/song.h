// The songs' text form: a musician-readable tracker text that names instruments, channels,
// reusable phrases and patterns of notes, and the order in which the patterns play.
//
//   song "Title"            tempo 140     speed 6     bar 16     restart 0
//   channel lead inst=lead pan=96         kit k kick            (drum letter -> instrument)
//   phrase riff: C5:2 E5 G5:4~42 | ...    (notes, lengths in rows, effects; reused with $riff+5)
//   pattern verse 64
//   lead: $riff $riff+5 ...               (one line per channel; lines of a channel add up)
//   order intro verse verse chorus
//
// An indented line continues the channel or phrase line above it.
// The reader turns it into rows of cells; the module builder makes the MUX module of it.
#pragma once
#include <set>
#include <string>
#include <vector>

namespace sound {

// One row of one channel.
struct SongCell {
  bool has_note = false;  // a note (or a tone-portamento target when command is 3)
  int pitch = 0;          // semitones from C4
  bool cut = false;       // note cut
  int instrument = -1;    // index into Song::instruments when the note starts a sample
  int volume = 0;         // volume-column byte, 0 = none
  int command = 0;        // Protracker command 0..15 (with param), meaningful when has_command
  int param = 0;
  bool has_command = false;
};

struct SongChannel {
  std::string name;
  std::string instrument;  // default instrument at the start of each pattern ("" none)
  int pan = 128;
};

struct SongPattern {
  std::string name;
  int rows = 64;
  std::vector<SongCell> cells;  // rows * channel count, row-major
};

struct Song {
  std::string file;
  std::string name;
  int tempo = 125, speed = 6, volume = 64, restart = 0, bar = 0;
  // "family xm": an XM-family module whose instruments carry their volume envelopes, where a
  // cut ("^") releases the key so that the envelope and fade-out finish the note.
  bool xm = false;
  std::vector<SongChannel> channels;
  std::vector<std::string> instruments;  // in order of first use: sample n + 1 in the module
  std::vector<SongPattern> patterns;
  std::vector<int> order;  // pattern indices
};

// Parses a song. `known_instruments` (when not empty) is checked against every name used.
Song parse_song(const std::string &file, const std::string &text,
                const std::set<std::string> &known_instruments);

// Seconds from the start to the end of the order list, following speed and tempo commands and
// pattern delays.
double song_seconds(const Song &song);

// Amiga period of a pitch (semitones from C4; C1 to B7): the Protracker table values, C4 = 856,
// rounded so that the engine's arpeggio semitone search lands on the intended notes.
int amiga_period(int pitch);
constexpr int kLowestPitch = -36;  // C1
constexpr int kHighestPitch = 47;  // B7

}  // namespace sound
