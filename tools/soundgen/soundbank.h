// Everything sounds.dat holds, built from the sources of data/sounds: the ten effects
// (objects 0 to 9) and the songs (objects 10 on) as MUX images. The manifest names the files:
//
//   effects      effects.txt
//   instruments  instruments.txt
//   song 10 title  title.song
#pragma once
#include <map>
#include <string>
#include <vector>

#include "datwriter.h"
#include "song.h"
#include "synth.h"

namespace sound {

constexpr int kEffectCount = 10;  // objects 0..9 of sounds.dat
constexpr int kFirstSong = 10;    // the title theme; the in-game songs follow it
constexpr int kSongCount = 5;

struct SongEntry {
  int object = 0;
  std::string name;
  std::string file;
};

struct Manifest {
  std::string effects, instruments;
  std::vector<SongEntry> songs;  // in object order
};

Manifest read_manifest(const std::string &dir);

struct SoundBank {
  std::vector<Effect> effects;  // index = object number
  std::vector<EffectSample> effect_samples;
  std::map<std::string, Instrument> instruments;
  std::map<std::string, InstrumentSample> instrument_samples;
  std::vector<SongEntry> song_entries;
  std::vector<Song> songs;
  std::vector<std::vector<uint8_t>> song_files;  // MUX images
};

// Reads, renders and builds everything; throws SourceError with the place of the first problem.
SoundBank build_bank(const std::string &dir);

// One song with the instruments of one instrument file, as a MUX image (for modules that are
// not the game's, such as the test songs); throws SourceError as build_bank does.
std::vector<uint8_t> build_song_file(const std::string &song_file,
                                     const std::string &instruments_file);

// The datafile's objects in order.
std::vector<dat::Object> bank_objects(const SoundBank &bank);

}  // namespace sound
