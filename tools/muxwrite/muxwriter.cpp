// MUX writer: header, instruments, samples and run-length coded pattern columns, laid out in the
// order and widths that load_mux reads them.
#include "muxwriter.h"

#include <cstdio>
#include <cstring>

namespace {

// The loader turns a stored period w into the note frequency MODUX_AMIGA_CLOCK / w.
constexpr long kPeriodClock = MODUX_AMIGA_CLOCK;
// A column run covers at most this many cells: the count lives in the low 7 bits of its byte.
constexpr size_t kMaxRun = 127;

// Little-endian emitters of the file's numbers.
struct Out {
  std::vector<uint8_t> &bytes;
  void byte(uint32_t v) { bytes.push_back(uint8_t(v)); }
  void word(uint32_t v) {
    bytes.push_back(uint8_t(v));
    bytes.push_back(uint8_t(v >> 8));
  }
  void dword(uint32_t v) {
    for (int i = 0; i < 4; i++) bytes.push_back(uint8_t(v >> (8 * i)));
  }
  void value(uint32_t v, int width) {
    for (int i = 0; i < width; i++) bytes.push_back(uint8_t(v >> (8 * i)));
  }
};

std::string describe(const std::string &where, const char *field, long long value, long long lo,
                     long long hi) {
  char text[200];
  std::snprintf(text, sizeof text, "%s: %s is %lld, the file holds %lld to %lld", where.c_str(),
                field, value, lo, hi);
  return text;
}

// Checks lo <= value <= hi and records the first failure in `error`.
bool fits(std::string &error, const std::string &where, const char *field, long long value,
          long long lo, long long hi) {
  if (!error.empty()) return false;
  if (value >= lo && value <= hi) return true;
  error = describe(where, field, value, lo, hi);
  return false;
}

std::string indexed(const char *what, int i) { return std::string(what) + " " + std::to_string(i); }

void write_instrument(Out &o, const INSTRUMENT_INFO &ins, const std::string &where,
                      std::string &err) {
  for (int n = 0; n < MODUX_NOTE_MAP; n++)
    if (fits(err, where, "sample_map entry", ins.sample_map[n], 0, 255)) o.byte(ins.sample_map[n]);

  // The file keeps one sustain point per envelope; the loader copies it into start and end.
  auto envelope = [&](const int *value, const int *tick, int points, int flags, int sus_start,
                      int sus_end, int loop_start, int loop_end, const char *name) {
    std::string env = where + " " + name + " envelope";
    for (int i = 0; i < MODUX_ENVELOPE_POINTS; i++) {
      if (fits(err, env, "point tick", tick[i], 0, 65535)) o.word(tick[i]);
      if (fits(err, env, "point value", value[i], 0, 65535)) o.word(value[i]);
    }
    if (fits(err, env, "point count", points, 0, 255)) o.byte(points);
    if (fits(err, env, "flags", flags, 0, 255)) o.byte(flags);
    if (err.empty() && sus_start != sus_end)
      err = env + ": sustain start " + std::to_string(sus_start) + " and end " +
            std::to_string(sus_end) + " differ, the file holds a single sustain point";
    if (fits(err, env, "sustain point", sus_start, 0, 255)) o.byte(sus_start);
    if (fits(err, env, "loop start", loop_start, 0, 255)) o.byte(loop_start);
    if (fits(err, env, "loop end", loop_end, 0, 255)) o.byte(loop_end);
  };
  envelope(ins.vol_env_value, ins.vol_env_tick, ins.vol_env_points, ins.vol_env_flags,
           ins.vol_env_sustain_start, ins.vol_env_sustain_end, ins.vol_env_loop_start,
           ins.vol_env_loop_end, "volume");
  envelope(ins.pan_env_value, ins.pan_env_tick, ins.pan_env_points, ins.pan_env_flags,
           ins.pan_env_sustain_start, ins.pan_env_sustain_end, ins.pan_env_loop_start,
           ins.pan_env_loop_end, "pan");
  if (fits(err, where, "fadeout", ins.fadeout, 0, 65535)) o.word(ins.fadeout);
}

void write_sample(Out &o, const SAMPLE_INFO &si, const SAMPLE &s, const std::string &where,
                  std::string &err) {
  if (!fits(err, where, "length", si.length, 0, 0x7FFFFFFF)) return;
  if ((long long)s.len != si.length) {
    err = where + ": SAMPLE length " + std::to_string(s.len) + " differs from SAMPLE_INFO length " +
          std::to_string(si.length);
    return;
  }
  o.dword(uint32_t(si.length));
  if (si.length == 0) {
    // Only the length is stored for an empty sample; anything else set in it would be lost.
    const int rest[] = {si.tuning,        si.relative_note, si.volume,      si.pan,
                        si.loop_start,    si.loop_end,      si.loop_flags,  si.vibrato_type,
                        si.vibrato_sweep, si.vibrato_depth, si.vibrato_rate};
    for (int v : rest)
      if (v != 0) {
        err = where + ": an empty sample keeps only its length, but its other fields are not 0";
        return;
      }
    return;
  }
  if ((int)s.loop_start != si.loop_start || (int)s.loop_end != si.loop_end) {
    err = where + ": SAMPLE loop points differ from SAMPLE_INFO loop points";
    return;
  }
  if (s.bits != 8 && s.bits != 16) {
    err = where + ": " + std::to_string(s.bits) + " bits per frame, the file holds 8 or 16";
    return;
  }
  if (s.data == nullptr) {
    err = where + ": no sample data";
    return;
  }
  o.dword(uint32_t(si.loop_start));
  o.dword(uint32_t(si.loop_end));
  if (fits(err, where, "vibrato_type", si.vibrato_type, 0, 255)) o.byte(si.vibrato_type);
  if (fits(err, where, "vibrato_sweep", si.vibrato_sweep, 0, 255)) o.byte(si.vibrato_sweep);
  if (fits(err, where, "vibrato_depth", si.vibrato_depth, 0, 255)) o.byte(si.vibrato_depth);
  if (fits(err, where, "vibrato_rate", si.vibrato_rate, 0, 255)) o.byte(si.vibrato_rate);
  if (fits(err, where, "volume", si.volume, 0, 255)) o.byte(si.volume);
  if (fits(err, where, "pan", si.pan, 0, 255)) o.byte(si.pan);
  if (fits(err, where, "relative_note", si.relative_note, -128, 127))
    o.byte(uint8_t(si.relative_note));
  if (fits(err, where, "tuning", si.tuning, 0, 65535)) o.word(si.tuning);
  o.byte(s.bits);
  if (fits(err, where, "loop_flags", si.loop_flags, 0, 255)) o.byte(si.loop_flags);
  if (!err.empty()) return;
  // The data is Allegro's own sample format, which the loader copies unchanged.
  const uint8_t *data = static_cast<const uint8_t *>(s.data);
  o.bytes.insert(o.bytes.end(), data, data + size_t(si.length) * size_t(s.bits / 8));
}

void write_pattern(Out &o, const MODUX &mod, int index, std::string &err) {
  const PATTERN_INFO &pat = mod.patterns[index];
  std::string where = indexed("pattern", index);
  if (!fits(err, where, "row_count", pat.row_count, 0, 65535)) return;
  o.word(pat.row_count);
  size_t cells = size_t(pat.row_count) * size_t(mod.channel_count);
  if (cells > 0 && pat.notes == nullptr) {
    err = where + ": no cells";
    return;
  }
  std::vector<uint32_t> column(cells);
  for (int c = 0; c < 5 && err.empty(); c++) {
    int width = mux_column_width(c, mod.flags);
    long long limit = (1LL << (8 * width)) - 1;
    for (size_t i = 0; i < cells && err.empty(); i++) {
      const NOTE_INFO &n = pat.notes[i];
      std::string cell = where + " row " + std::to_string(i / mod.channel_count) + " channel " +
                         std::to_string(i % mod.channel_count);
      switch (c) {
        case 0: {
          std::string e = mux_store_note(mod.flags, n.note, column[i]);
          if (!e.empty()) err = cell + ": " + e;
          break;
        }
        case 1:
          if (fits(err, cell, "sample", n.sample, 0, limit)) column[i] = n.sample;
          break;
        case 2:
          if (fits(err, cell, "volume", n.volume, 0, limit)) column[i] = n.volume;
          break;
        case 3:
          if (fits(err, cell, "command", n.command, 0, limit)) column[i] = n.command;
          break;
        default:
          if (fits(err, cell, "param", n.param, 0, limit)) column[i] = n.param;
          break;
      }
    }
    if (err.empty()) mux_encode_column(column.data(), cells, width, o.bytes);
  }
}

}  // namespace

int mux_column_width(int column, int flags) {
  if (column == 0) return (flags & MODUX_XM) ? 1 : 2;
  return column == 4 ? 2 : 1;
}

void mux_encode_column(const uint32_t *values, size_t count, int width, std::vector<uint8_t> &out) {
  size_t p = 0;
  while (p < count) {
    if (values[p] == 0) {
      size_t run = 0;
      while (p + run < count && values[p + run] == 0 && run < kMaxRun) run++;
      out.push_back(uint8_t(run));
      p += run;
      continue;
    }
    // A literal run: carry a zero gap along when its values cost no more than closing the run
    // (a skip byte) and opening the next one (a control byte) would.
    size_t end = p;
    while (end < count && end - p < kMaxRun) {
      if (values[end] != 0) {
        end++;
        continue;
      }
      size_t gap = 0;
      while (end + gap < count && values[end + gap] == 0) gap++;
      bool at_end = end + gap == count;
      if (at_end || gap * size_t(width) > 2 || end + gap - p >= kMaxRun) break;
      end += gap;
    }
    out.push_back(uint8_t(0x80 | (end - p)));
    for (size_t i = p; i < end; i++)
      for (int b = 0; b < width; b++) out.push_back(uint8_t(values[i] >> (8 * b)));
    p = end;
  }
}

std::string mux_store_note(int flags, int note, uint32_t &stored) {
  if (flags & MODUX_XM) {
    if (note < -128 || note > 127)
      return "XM note " + std::to_string(note) + " does not fit a signed byte";
    stored = uint8_t(note);
    return "";
  }
  if (note <= 0) {
    if (note < -32768)
      return "note command " + std::to_string(note) + " does not fit a signed word";
    stored = uint16_t(note);
    return "";
  }
  // Periods w give back floor(3579546 / w); the ones that give back `note` form the range
  // (3579546 / (note + 1), 3579546 / note]. The top of the range is the usual table period.
  long hi = kPeriodClock / note;
  long lo = kPeriodClock / (long(note) + 1) + 1;
  if (hi > 32767) hi = 32767;
  if (lo > hi)
    return "note frequency " + std::to_string(note) +
           " is not 3579546 / p for any period p of 1 to 32767";
  stored = uint32_t(hi);
  return "";
}

std::string build_mux(const MODUX &mod, std::vector<uint8_t> &bytes) {
  bytes.clear();
  Out o{bytes};
  std::string err;
  const std::string head = "module";

  bytes.insert(bytes.end(), MUX_MAGIC, MUX_MAGIC + MUX_MAGIC_SIZE);
  bytes.insert(bytes.end(), mod.name, mod.name + 28);
  o.word(0);  // reserved; its first byte terminates the name for get_mux_info
  fits(err, head, "order_count", mod.order_count, 0, MODUX_MAX_ORDERS);
  fits(err, head, "pattern_count", mod.pattern_count, 0, 65535);
  fits(err, head, "channel_count", mod.channel_count, 0, MODUX_MAX_CHANNELS);
  fits(err, head, "instrument_count", mod.instrument_count, 0, 65535);
  fits(err, head, "sample_count", mod.sample_count, 0, 65535);
  fits(err, head, "initial_speed", mod.initial_speed, 0, 65535);
  fits(err, head, "initial_tempo", mod.initial_tempo, 0, 65535);
  fits(err, head, "initial_global_volume", mod.initial_global_volume, 0, 65535);
  fits(err, head, "restart_order", mod.restart_order, 0, 65535);
  fits(err, head, "flags", mod.flags, 0, 65535);
  if (!err.empty()) return err;
  for (int v : {mod.order_count, mod.pattern_count, mod.channel_count, mod.instrument_count,
                mod.sample_count, mod.initial_speed, mod.initial_tempo, mod.initial_global_volume,
                mod.restart_order, mod.flags})
    o.word(v);
  for (int c = 0; c < mod.channel_count; c++)
    if (fits(err, indexed("channel", c), "pan", mod.channel_pan[c], 0, 255))
      o.byte(mod.channel_pan[c]);
  for (int i = 0; i < mod.order_count; i++)
    if (fits(err, indexed("order", i), "pattern", mod.order_table[i], 0, 255))
      o.byte(mod.order_table[i]);
  if (!err.empty()) return err;

  if (mod.instrument_count > 0 && mod.instruments == nullptr)
    return "module: no instrument records";
  for (int i = 0; i < mod.instrument_count && err.empty(); i++)
    write_instrument(o, mod.instruments[i], indexed("instrument", i), err);
  if (!err.empty()) return err;

  if (mod.sample_count > 0 && (mod.sample_info == nullptr || mod.samples == nullptr))
    return "module: no sample records";
  for (int i = 0; i < mod.sample_count && err.empty(); i++)
    write_sample(o, mod.sample_info[i], mod.samples[i], indexed("sample", i), err);
  if (!err.empty()) return err;

  if (mod.pattern_count > 0 && mod.patterns == nullptr) return "module: no pattern records";
  for (int i = 0; i < mod.pattern_count && err.empty(); i++) write_pattern(o, mod, i, err);
  return err;
}

std::string write_mux(const std::string &path, const MODUX &mod) {
  std::vector<uint8_t> bytes;
  std::string err = build_mux(mod, bytes);
  if (!err.empty()) return err;
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return "cannot create " + path;
  size_t written = std::fwrite(bytes.data(), 1, bytes.size(), f);
  bool closed = std::fclose(f) == 0;
  if (written != bytes.size() || !closed) return "cannot write " + path;
  return "";
}
