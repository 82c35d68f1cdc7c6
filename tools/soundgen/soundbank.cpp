// Reading the manifest and building the effects, instruments and songs of sounds.dat.
#include "soundbank.h"

#include "modbuild.h"
#include "muxwriter.h"
#include "source.h"

namespace sound {

Manifest read_manifest(const std::string &dir) {
  std::string file = dir + "/manifest.txt";
  Manifest m;
  for (const SourceLine &l : read_lines(read_file(file))) {
    const std::string &key = l.words[0];
    if ((key == "effects" || key == "instruments") && l.words.size() == 2) {
      (key == "effects" ? m.effects : m.instruments) = dir + "/" + l.words[1];
    } else if (key == "song" && l.words.size() == 4) {
      long object;
      if (!parse_int(l.words[1], object) || object < 0 || object > 255)
        fail(file, l.number, "song object number expected");
      int expected = kFirstSong + int(m.songs.size());
      if (object != expected)
        fail(file, l.number,
             "songs are objects 10 to 14 in order; expected " + std::to_string(expected));
      m.songs.push_back({int(object), l.words[2], dir + "/" + l.words[3]});
    } else {
      fail(file, l.number,
           "expected 'effects FILE', 'instruments FILE' or 'song NUMBER NAME FILE'");
    }
  }
  if (m.effects.empty() || m.instruments.empty())
    fail(file, 1, "the manifest needs effects and instruments files");
  if (m.songs.size() != size_t(kSongCount))
    fail(file, 1, "the manifest needs five songs (objects 10 to 14)");
  return m;
}

SoundBank build_bank(const std::string &dir) {
  Manifest m = read_manifest(dir);
  SoundBank bank;

  std::vector<Effect> effects = parse_effects(m.effects, read_file(m.effects));
  bank.effects.resize(kEffectCount);
  std::vector<bool> seen(kEffectCount, false);
  for (const Effect &fx : effects) {
    if (fx.number < 0 || fx.number >= kEffectCount)
      fail(m.effects, fx.line, "effects are numbered 0 to 9");
    if (seen[size_t(fx.number)])
      fail(m.effects, fx.line, "effect " + std::to_string(fx.number) + " is defined twice");
    seen[size_t(fx.number)] = true;
    bank.effects[size_t(fx.number)] = fx;
  }
  for (int i = 0; i < kEffectCount; i++)
    if (!seen[size_t(i)]) fail(m.effects, 1, "effect " + std::to_string(i) + " is missing");
  for (const Effect &fx : bank.effects) bank.effect_samples.push_back(render_effect(fx, m.effects));

  bank.instruments = parse_instruments(m.instruments, read_file(m.instruments));
  std::set<std::string> names;
  for (const auto &[name, ins] : bank.instruments) names.insert(name);

  bank.song_entries = m.songs;
  for (const SongEntry &e : m.songs) {
    Song song = parse_song(e.file, read_file(e.file), names);
    for (const std::string &ins : song.instruments)
      if (!bank.instrument_samples.count(ins))
        bank.instrument_samples[ins] = render_instrument(bank.instruments.at(ins), m.instruments);
    SongModule built(song, bank.instrument_samples);
    std::vector<uint8_t> image;
    std::string err = build_mux(built.module(), image);
    if (!err.empty()) throw SourceError(e.file + ": " + err);
    bank.songs.push_back(song);
    bank.song_files.push_back(image);
  }
  return bank;
}

std::vector<uint8_t> build_song_file(const std::string &song_file,
                                     const std::string &instruments_file) {
  const std::map<std::string, Instrument> instruments =
      parse_instruments(instruments_file, read_file(instruments_file));
  std::set<std::string> names;
  for (const auto &[name, ins] : instruments) names.insert(name);
  const Song song = parse_song(song_file, read_file(song_file), names);
  std::map<std::string, InstrumentSample> samples;
  for (const std::string &ins : song.instruments)
    samples[ins] = render_instrument(instruments.at(ins), instruments_file);
  SongModule built(song, samples);
  std::vector<uint8_t> image;
  const std::string err = build_mux(built.module(), image);
  if (!err.empty()) throw SourceError(song_file + ": " + err);
  return image;
}

std::vector<dat::Object> bank_objects(const SoundBank &bank) {
  std::vector<dat::Object> objects;
  for (size_t i = 0; i < bank.effects.size(); i++)
    objects.push_back(dat::make_sample16(bank.effects[i].name, bank.effect_samples[i].rate,
                                         bank.effect_samples[i].frames));
  for (size_t i = 0; i < bank.songs.size(); i++)
    objects.push_back(
        dat::make_raw(bank.song_entries[i].name, uint32_t(DAT_MUX), bank.song_files[i]));
  return objects;
}

}  // namespace sound
