// Song to module: samples with their tuning and loops, cells with notes as frequencies.
#include "modbuild.h"

#include <climits>
#include <cstring>

namespace sound {

int note_frequency(int pitch) { return 3579546 / amiga_period(pitch); }

SongModule::SongModule(const Song &song, const std::map<std::string, InstrumentSample> &samples) {
  std::strncpy(mod_.name, song.name.c_str(), 28);
  size_t nch = song.channels.size();
  mod_.channel_count = int(nch);
  for (size_t c = 0; c < nch; c++) mod_.channel_pan[c] = song.channels[c].pan;
  mod_.flags = 0;
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
    if (it == samples.end()) throw SourceError(song.file + ": no instrument '" + song.instruments[i] + "'");
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

  patterns_.resize(song.patterns.size());
  cells_.resize(song.patterns.size());
  for (size_t p = 0; p < song.patterns.size(); p++) {
    const SongPattern &sp = song.patterns[p];
    std::vector<NOTE_INFO> &cells = cells_[p];
    cells.assign(sp.cells.size(), NOTE_INFO{});
    for (size_t i = 0; i < sp.cells.size(); i++) {
      const SongCell &sc = sp.cells[i];
      NOTE_INFO &n = cells[i];
      if (sc.has_note) {
        n.note = note_frequency(sc.pitch);
        // The engine forms note * tuning in 32 bits; stay below the overflow.
        int tuning = sc.instrument >= 0 ? info_[size_t(sc.instrument)].tuning : 65535;
        if ((long long)n.note * tuning > INT_MAX)
          throw SourceError(song.file + ": pattern '" + sp.name + "' row " + std::to_string(i / nch) +
                            " channel '" + song.channels[i % nch].name + "': note too high for its instrument");
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
}

}  // namespace sound
