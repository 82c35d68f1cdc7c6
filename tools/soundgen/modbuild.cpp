// Song to module: samples with their tuning and loops, cells with notes as frequencies.
#include "modbuild.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <map>

namespace sound {

int note_frequency(int pitch) { return MODUX_AMIGA_CLOCK / amiga_period(pitch); }

int xm_note(int pitch) { return pitch + 37; }  // C4 is 0 semitones from C4 and XM's C-3 + 12

void xm_tuning(int rate, int &relative_note, int &tuning) {
  // 8363 Hz is XM's C-4 (note 49) at finetune 0; a pitch's C5 is note 49 here.
  const double semitones = 12.0 * std::log2(rate / 8363.0);
  relative_note = int(std::floor(semitones));
  int finetune = int(std::lround((semitones - relative_note) * 128));
  if (finetune == 128) relative_note += 1, finetune = 0;
  tuning = finetune + 128;
}

// The XM instrument of one song instrument on a channel of a given pan: its sample for every
// note, its volume envelope, and a one-point pan envelope that sets the channel's pan (a note
// with an instrument takes the sample's centre pan; the envelope swings it to the channel's).
static INSTRUMENT_INFO xm_instrument(int sample, const InstrumentEnvelope &env, int pan) {
  INSTRUMENT_INFO ins{};
  for (int &s : ins.sample_map) s = sample;
  ins.vol_env_points = int(env.points.size());
  for (size_t i = 0; i < env.points.size(); i++) {
    ins.vol_env_tick[i] = env.points[i].first;
    ins.vol_env_value[i] = env.points[i].second;
  }
  if (!env.points.empty()) ins.vol_env_flags = 1;
  if (env.sustain >= 0) {
    ins.vol_env_flags |= 2;
    ins.vol_env_sustain_start = ins.vol_env_sustain_end = env.sustain;
  }
  if (env.loop_start >= 0) {
    ins.vol_env_flags |= 4;
    ins.vol_env_loop_start = env.loop_start;
    ins.vol_env_loop_end = env.loop_end;
  }
  ins.fadeout = env.fadeout;
  ins.pan_env_points = 1;
  ins.pan_env_flags = 1;
  ins.pan_env_value[0] = std::min(64, int(std::lround(pan / 4.0)));
  return ins;
}

SongModule::SongModule(const Song &song, const std::map<std::string, InstrumentSample> &samples) {
  std::strncpy(mod_.name, song.name.c_str(), 28);
  size_t nch = song.channels.size();
  mod_.channel_count = int(nch);
  for (size_t c = 0; c < nch; c++) mod_.channel_pan[c] = song.channels[c].pan;
  mod_.flags = song.xm ? MODUX_XM | MODUX_LINEAR : 0;
  mod_.initial_speed = song.speed;
  mod_.initial_tempo = song.tempo;
  mod_.initial_global_volume = song.volume;
  mod_.restart_order = song.restart;
  mod_.order_count = int(song.order.size());
  for (size_t i = 0; i < song.order.size(); i++) mod_.order_table[i] = song.order[i];

  size_t ns = song.instruments.size();
  info_.assign(ns, SAMPLE_INFO{});
  samples_.assign(ns, SAMPLE{});
  frames_.resize(ns);
  for (size_t i = 0; i < ns; i++) {
    auto it = samples.find(song.instruments[i]);
    if (it == samples.end())
      throw SourceError(song.file + ": no instrument '" + song.instruments[i] + "'");
    const InstrumentSample &src = it->second;
    for (int16_t f : src.frames) frames_[i].push_back(uint16_t(f) ^ 0x8000);
    SAMPLE_INFO &si = info_[i];
    si.length = int(src.frames.size());
    si.tuning = src.tuning;
    si.volume = src.volume;
    bool looped = src.loop_end > 0;
    si.loop_start = looped ? src.loop_start : 0;
    si.loop_end = looped ? src.loop_end : si.length;
    si.loop_flags = looped ? 1 : 0;
    if (song.xm) {
      xm_tuning(src.tuning, si.relative_note, si.tuning);
      si.pan = 128;
    }
    SAMPLE &s = samples_[i];
    s.bits = 16;
    s.stereo = 0;
    s.freq = 1000;
    s.priority = 192;
    s.len = (unsigned long)si.length;
    s.loop_start = (unsigned long)si.loop_start;
    s.loop_end = (unsigned long)si.loop_end;
    s.param = (unsigned long)-1;
    s.data = frames_[i].data();
  }
  mod_.sample_count = int(ns);
  mod_.sample_info = info_.data();
  mod_.samples = samples_.data();

  // XM instruments: one per song instrument and channel pan, in order of first use.
  std::map<std::pair<int, int>, int> xm_instruments;
  auto instrument_of = [&](int sample, size_t channel) {
    const int pan = song.channels[channel].pan;
    auto found = xm_instruments.find({sample, pan});
    if (found != xm_instruments.end()) return found->second;
    const int index = int(instruments_.size());
    instruments_.push_back(
        xm_instrument(sample, samples.at(song.instruments[size_t(sample)]).envelope, pan));
    xm_instruments[{sample, pan}] = index;
    return index;
  };

  patterns_.resize(song.patterns.size());
  cells_.resize(song.patterns.size());
  for (size_t p = 0; p < song.patterns.size(); p++) {
    const SongPattern &sp = song.patterns[p];
    std::vector<NOTE_INFO> &cells = cells_[p];
    cells.assign(sp.cells.size(), NOTE_INFO{});
    for (size_t i = 0; i < sp.cells.size(); i++) {
      const SongCell &sc = sp.cells[i];
      NOTE_INFO &n = cells[i];
      if (sc.has_note && song.xm) {
        n.note = xm_note(sc.pitch);
        if (n.note < 1 || n.note > 96)
          throw SourceError(song.file + ": pattern '" + sp.name + "' row " +
                            std::to_string(i / nch) + ": note outside the XM range");
        if (sc.instrument >= 0) n.sample = instrument_of(sc.instrument, i % nch) + 1;
      } else if (sc.cut && song.xm) {
        n.note = -2;  // the key is released: the envelope and the fade-out end the note
      } else if (sc.has_note) {
        n.note = note_frequency(sc.pitch);
        // The engine forms note * tuning in 32 bits; stay below the overflow.
        int tuning = sc.instrument >= 0 ? info_[size_t(sc.instrument)].tuning : 65535;
        if ((long long)n.note * tuning > INT_MAX)
          throw SourceError(song.file + ": pattern '" + sp.name + "' row " +
                            std::to_string(i / nch) + " channel '" + song.channels[i % nch].name +
                            "': note too high for its instrument");
        if (sc.instrument >= 0) n.sample = sc.instrument + 1;
      } else if (sc.cut) {
        n.note = -1;
      }
      n.volume = sc.volume;
      if (sc.has_command) {
        n.command = sc.command;
        n.param = sc.param;
      }
    }
    patterns_[p].notes = cells.data();
    patterns_[p].row_count = sp.rows;
  }
  mod_.pattern_count = int(song.patterns.size());
  mod_.patterns = patterns_.data();
  mod_.instrument_count = int(instruments_.size());
  mod_.instruments = instruments_.empty() ? nullptr : instruments_.data();
}

}  // namespace sound
