// modux load_mux: the engine's native module format.
// A little-endian image of the module model with run-length coded pattern columns. The reader
// trusts nothing it reads: counts beyond the model's fixed arrays, references to samples or
// patterns that do not exist, and files that end early are refused with a message.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "import.h"
#include "modux_internal.h"

namespace {

using namespace modux_import;

// Longest sample accepted, in frames (6 minutes at 44.1 kHz). It bounds what a damaged length
// field can make the loader allocate before the data turns out to be missing.
const int MAX_SAMPLE_FRAMES = 1 << 24;

// Bytes a column stream needs at the least over n cells: one run byte covers at most 127 cells.
long least_stream_bytes(long n) { return (n + 126) / 127; }

// Byte reader over the rest of the file, held in memory; remembers whether the file ended early
// instead of handing out -1 as data.
struct reader {
  const unsigned char *data;
  long size;
  long pos = 0;
  bool ended = false;

  explicit reader(view v) : data(v.data), size(static_cast<long>(v.size)) {}
  long left() const { return size - pos; }

  int byte() {
    if (pos >= size) {
      ended = true;
      return 0;
    }
    return data[pos++];
  }
  int word() {
    const int lo = byte();
    const int hi = byte();
    return ended ? 0 : (hi << 8) | lo;
  }
  int32_t signed_long() {
    const uint32_t lo = static_cast<uint32_t>(word());
    const uint32_t hi = static_cast<uint32_t>(word());
    return ended ? 0 : static_cast<int32_t>((hi << 16) | lo);
  }
  void bytes(void *buffer, long n) {
    if (n <= 0) return;
    if (n > left()) {
      pos = size;
      ended = true;
      return;
    }
    memcpy(buffer, data + pos, n);
    pos += n;
  }
  void skip(long n) {
    if (n > left()) {
      pos = size;
      ended = true;
      return;
    }
    pos += n;
  }
};

int clamp_to(int value, int high) { return value > high ? high : value; }

// Reads one envelope of an instrument record into the given fields; false when a count or a
// point index lies outside the 12 points the model holds.
bool read_envelope(reader &r, int *value, int *tick, int *points, int *flags, int *sustain_start,
                   int *sustain_end, int *loop_start, int *loop_end) {
  for (int i = 0; i < MODUX_ENVELOPE_POINTS; i++) {
    tick[i] = r.word();
    // Envelope values are 0..64 in both envelopes; calc_volume's arithmetic relies on it.
    value[i] = clamp_to(r.word(), 64);
  }
  *points = r.byte();
  *flags = r.byte();
  *sustain_start = *sustain_end = r.byte();
  *loop_start = r.byte();
  *loop_end = r.byte();
  return *points <= MODUX_ENVELOPE_POINTS && *sustain_start < MODUX_ENVELOPE_POINTS &&
         *loop_start < MODUX_ENVELOPE_POINTS && *loop_end < MODUX_ENVELOPE_POINTS;
}

enum column { COLUMN_NOTE, COLUMN_SAMPLE, COLUMN_VOLUME, COLUMN_COMMAND, COLUMN_PARAM };

enum stream_result { STREAM_OK, STREAM_ENDED, STREAM_OVERRUN };

int read_cell_value(reader &r, column col, int xm) {
  switch (col) {
    case COLUMN_NOTE:
      if (xm) return static_cast<signed char>(r.byte());
      {
        // The file holds Amiga periods; memory holds note frequencies. 0 and the negative
        // note commands pass unchanged.
        const int w = static_cast<int16_t>(r.word());
        return w > 0 ? MODUX_AMIGA_CLOCK / w : w;
      }
    case COLUMN_PARAM: return r.word();
    default: return r.byte();
  }
}

int &cell_field(NOTE_INFO &cell, column col) {
  switch (col) {
    case COLUMN_NOTE: return cell.note;
    case COLUMN_SAMPLE: return cell.sample;
    case COLUMN_VOLUME: return cell.volume;
    case COLUMN_COMMAND: return cell.command;
    default: return cell.param;
  }
}

// Decodes one column stream over the n cells of a pattern. A run that would pass the last
// cell is refused rather than cut: the bytes after it could not be trusted to start the next
// column at the right place.
stream_result read_stream(reader &r, NOTE_INFO *cells, int n, column col, int xm) {
  int p = 0;
  while (p < n) {
    const int c = r.byte();
    if (r.ended) return STREAM_ENDED;
    const int k = c & 0x7F;
    if (k == 0) continue;  // 0x00 and 0x80 neither read nor move
    if (k > n - p) return STREAM_OVERRUN;
    if (c & 0x80) {
      for (int i = 0; i < k; i++) cell_field(cells[p + i], col) = read_cell_value(r, col, xm);
      if (r.ended) return STREAM_ENDED;
    }
    p += k;
  }
  return STREAM_OK;
}

// The header after the magic (the caller's business, detect_mux): the name (28 bytes), a
// reserved word, then ten words: order, pattern, channel, instrument and sample counts, initial
// speed, tempo and global volume, restart position, flags (MODUX_XM, MODUX_AMIGA,
// MODUX_LINEAR). Then a pan byte per channel and an order byte per position.
bool read_header(load_state &load, reader &r, MODUX *mod) {
  r.skip(MUX_MAGIC_SIZE);
  r.bytes(mod->name, 28);
  r.skip(2);
  mod->order_count = r.word();
  mod->pattern_count = r.word();
  mod->channel_count = r.word();
  mod->instrument_count = r.word();
  mod->sample_count = r.word();
  mod->initial_speed = r.word();
  mod->initial_tempo = r.word();
  mod->initial_global_volume = clamp_to(r.word(), 64);
  mod->restart_order = r.word();
  mod->flags = r.word();
  if (r.ended) return fail(load, "MUX: file ends inside the header");
  if (mod->channel_count > MODUX_MAX_CHANNELS)
    return fail(load, "MUX: %d channels, at most %d are possible", mod->channel_count,
                MODUX_MAX_CHANNELS);
  if (mod->order_count > MODUX_MAX_ORDERS)
    return fail(load, "MUX: %d orders, at most %d are possible", mod->order_count,
                MODUX_MAX_ORDERS);
  if (mod->flags & ~(MODUX_XM | MODUX_AMIGA | MODUX_LINEAR))
    return fail(load, "MUX: unknown module flags 0x%X", mod->flags);
  // A restart point outside the song would loop it into nothing: restart from the top.
  if (mod->restart_order >= mod->order_count) mod->restart_order = 0;

  for (int i = 0; i < mod->channel_count; i++) mod->channel_pan[i] = r.byte();
  for (int i = 0; i < mod->order_count; i++) {
    mod->order_table[i] = r.byte();
    if (!r.ended && mod->order_table[i] >= mod->pattern_count)
      return fail(load, "MUX: order %d names pattern %d of %d", i, mod->order_table[i],
                  mod->pattern_count);
  }
  if (r.ended) return fail(load, "MUX: file ends inside the pan or order table");
  return true;
}

// Instrument records: the note-to-sample map (a byte per note), the volume and the pan
// envelope, the fade-out word. Each count is weighed against the bytes left at the least its
// records need in the file.
bool read_instruments(load_state &load, reader &r, MODUX *mod) {
  const long instrument_bytes = MODUX_NOTE_MAP + 2 * (MODUX_ENVELOPE_POINTS * 4 + 5) + 2;
  if (mod->instrument_count * instrument_bytes > r.left())
    return fail(
        load,
        "MUX: file ends inside the instruments: instrument_count %d needs %ld bytes, %ld are left",
        mod->instrument_count, mod->instrument_count * instrument_bytes, r.left());
  if (mod->instrument_count > 0) {
    mod->instruments = static_cast<INSTRUMENT_INFO *>(
        new_records(load, mod->instrument_count, sizeof(INSTRUMENT_INFO), "INSTRUMENT_INFO"));
    if (!mod->instruments) return false;
  }
  for (int i = 0; i < mod->instrument_count; i++) {
    INSTRUMENT_INFO &ins = mod->instruments[i];
    for (int n = 0; n < MODUX_NOTE_MAP; n++) ins.sample_map[n] = r.byte();
    const bool vol_ok =
        read_envelope(r, ins.vol_env_value, ins.vol_env_tick, &ins.vol_env_points,
                      &ins.vol_env_flags, &ins.vol_env_sustain_start, &ins.vol_env_sustain_end,
                      &ins.vol_env_loop_start, &ins.vol_env_loop_end);
    const bool pan_ok =
        read_envelope(r, ins.pan_env_value, ins.pan_env_tick, &ins.pan_env_points,
                      &ins.pan_env_flags, &ins.pan_env_sustain_start, &ins.pan_env_sustain_end,
                      &ins.pan_env_loop_start, &ins.pan_env_loop_end);
    ins.fadeout = r.word();
    if (r.ended) return fail(load, "MUX: file ends inside instrument %d", i);
    if (!vol_ok || !pan_ok)
      return fail(load, "MUX: instrument %d has an envelope beyond %d points", i,
                  MODUX_ENVELOPE_POINTS);
  }
  return true;
}

// Sample i: its length in frames (signed long; 0 is an empty sample and ends the record), then
// loop start and end (longs, frames), auto-vibrato type, sweep, depth and rate, volume, pan,
// relative note (signed), tuning (word), bits (8 or 16), loop flags, then the data.
bool read_sample(load_state &load, reader &r, MODUX *mod, int i) {
  SAMPLE &spl = mod->samples[i];
  SAMPLE_INFO &info = mod->sample_info[i];
  const int32_t length = r.signed_long();
  if (r.ended) return fail(load, "MUX: file ends inside sample %d", i);
  if (length < 0 || length > MAX_SAMPLE_FRAMES)
    return fail(load, "MUX: sample %d has a length of %ld frames", i, static_cast<long>(length));
  info.length = length;
  spl.len = length;
  spl.freq = 1000;
  spl.priority = 192;
  spl.param = -1;
  spl.stereo = 0;
  if (length == 0) {
    // An empty sample is still a well-formed Allegro sample with a data block.
    spl.bits = 8;
    spl.data = calloc(1, 1);
    if (!spl.data) return no_memory(load, "sample data");
    return true;
  }
  info.loop_start = r.signed_long();
  info.loop_end = r.signed_long();
  info.vibrato_type = r.byte();
  info.vibrato_sweep = r.byte();
  info.vibrato_depth = r.byte();
  info.vibrato_rate = r.byte();
  info.volume = clamp_to(r.byte(), 64);
  info.pan = r.byte();
  info.relative_note = static_cast<signed char>(r.byte());
  info.tuning = r.word();
  spl.bits = r.byte();
  info.loop_flags = r.byte();
  spl.loop_start = info.loop_start;
  spl.loop_end = info.loop_end;
  if (r.ended) return fail(load, "MUX: file ends inside sample %d", i);
  if (spl.bits != 8 && spl.bits != 16)
    return fail(load, "MUX: sample %d has %d bits, 8 or 16 are possible", i, spl.bits);
  // The mixer reads between the loop points: they must lie inside the data, and a loop that
  // is switched on must not be empty.
  if (info.loop_start < 0 || info.loop_end < info.loop_start || info.loop_end > length ||
      ((info.loop_flags & 3) && info.loop_end == info.loop_start))
    return fail(load, "MUX: sample %d loops from %d to %d outside its %d frames", i,
                info.loop_start, info.loop_end, static_cast<int>(length));
  const long bytes = static_cast<long>(length) * (spl.bits / 8);
  if (bytes > r.left())
    return fail(
        load,
        "MUX: file ends inside the data of sample %d: length %ld needs %ld bytes, %ld are left", i,
        static_cast<long>(length), bytes, r.left());
  if (!charge_sample(load, bytes, "MUX", i + 1)) return false;
  spl.data = calloc(1, bytes);
  if (!spl.data) return no_memory(load, "sample data");
  r.bytes(spl.data, bytes);
  if (r.ended) return fail(load, "MUX: file ends inside the data of sample %d", i);
  return true;
}

bool read_samples(load_state &load, reader &r, MODUX *mod) {
  if (mod->sample_count * 4L > r.left())
    return fail(load,
                "MUX: file ends inside the samples: sample_count %d needs %ld bytes, %ld are left",
                mod->sample_count, mod->sample_count * 4L, r.left());
  if (mod->sample_count > 0) {
    mod->samples =
        static_cast<SAMPLE *>(new_records(load, mod->sample_count, sizeof(SAMPLE), "SAMPLE"));
    if (!mod->samples) return false;
    mod->sample_info = static_cast<SAMPLE_INFO *>(
        new_records(load, mod->sample_count, sizeof(SAMPLE_INFO), "SAMPLE_INFO"));
    if (!mod->sample_info) return false;
  }
  for (int i = 0; i < mod->sample_count; i++)
    if (!read_sample(load, r, mod, i)) return false;
  return true;
}

// A pattern is at least its row count and one run byte per column.
const long LEAST_PATTERN_BYTES = 2 + 5;

// Pattern i: its row count (word, at least 1), then the five column streams over its cells
// (note, sample, volume, command, parameter). Cell sample numbers count from 1 and name
// instruments in the XM family.
bool read_pattern(load_state &load, reader &r, MODUX *mod, int i) {
  static const column columns[] = {COLUMN_NOTE, COLUMN_SAMPLE, COLUMN_VOLUME, COLUMN_COMMAND,
                                   COLUMN_PARAM};
  const int xm = mod->flags & MODUX_XM;
  const int sample_limit = xm ? mod->instrument_count : mod->sample_count;
  PATTERN_INFO &pat = mod->patterns[i];
  pat.row_count = r.word();
  if (r.ended) return fail(load, "MUX: file ends inside pattern %d", i);
  // The tick reads row 0 of every pattern it enters.
  if (pat.row_count == 0) return fail(load, "MUX: pattern %d has no rows", i);
  const int n = pat.row_count * mod->channel_count;
  const long least = 5 * least_stream_bytes(n);
  if (least > r.left())
    return fail(load,
                "MUX: file ends inside pattern %d: row_count %d of %d channels needs %ld bytes, "
                "%ld are left",
                i, pat.row_count, mod->channel_count, least, r.left());
  pat.notes = new_cells(load, n, "MUX", i);
  if (!pat.notes) return false;
  for (column col : columns) {
    const stream_result result = read_stream(r, pat.notes, n, col, xm);
    if (result == STREAM_ENDED) return fail(load, "MUX: file ends inside pattern %d", i);
    if (result == STREAM_OVERRUN)
      return fail(load, "MUX: a column of pattern %d runs past its %d cells", i, n);
  }
  for (int c = 0; c < n; c++) {
    if (pat.notes[c].sample > sample_limit)
      return fail(load, "MUX: pattern %d plays %s %d of %d", i, xm ? "instrument" : "sample",
                  pat.notes[c].sample, sample_limit);
  }
  return true;
}

bool read_patterns(load_state &load, reader &r, MODUX *mod) {
  if (mod->pattern_count * LEAST_PATTERN_BYTES > r.left())
    return fail(
        load, "MUX: file ends inside the patterns: pattern_count %d needs %ld bytes, %ld are left",
        mod->pattern_count, mod->pattern_count * LEAST_PATTERN_BYTES, r.left());
  if (mod->pattern_count > 0) {
    mod->patterns = static_cast<PATTERN_INFO *>(
        new_records(load, mod->pattern_count, sizeof(PATTERN_INFO), "PATTERN_INFO"));
    if (!mod->patterns) return false;
  }
  for (int i = 0; i < mod->pattern_count; i++)
    if (!read_pattern(load, r, mod, i)) return false;
  return true;
}

}  // namespace

// The file in the order it is written: header, instruments, samples, patterns. The magic is
// the detector's business (a datafile object is read without that test).
MODUX *modux_import::load_mux_bytes(load_state &load, view v, int) {
  MODUX *mod = new_module(load);
  if (!mod) return nullptr;
  reader r(v);
  if (!read_header(load, r, mod) || !read_instruments(load, r, mod) ||
      !read_samples(load, r, mod) || !read_patterns(load, r, mod))
    return abandon(mod);
  lock_mod(mod);
  return mod;
}

MODUX *load_mux(PACKFILE *f) {
  modux_status status;
  load_state load(&status);
  MODUX *mod = nullptr;
  image img;
  if (!f)
    fail_code(load, MODUX_ERROR_ARGUMENT, "MUX: no file to read");
  else if (read_rest(load, f, img))
    mod = load_mux_bytes(load, img, 0);
  publish_legacy(status, mod == nullptr);
  return mod;
}

int modux_import::detect_mux_bytes(view v) {
  return v.size >= MUX_MAGIC_SIZE && memcmp(v.data, MUX_MAGIC, MUX_MAGIC_SIZE) == 0 ? 1 : -1;
}

int detect_mux(const char *name) { return detect_file(name, detect_mux_bytes, -1); }

int get_mux_info(PACKFILE *f, MODFILE_INFO *info) {
  if (!f || !info) {
    snprintf(modux_error, sizeof modux_error, "MUX: no file or no place for its summary");
    return -1;
  }
  memset(info, 0, sizeof *info);
  info->type = 6;
  snprintf(info->type_name, sizeof info->type_name, "MUX");
  // The 28 name bytes and the first reserved byte, which ends a full-length name.
  if (modux_skip(f, MUX_MAGIC_SIZE) != 0 ||
      modux_fread(info->name, sizeof info->name, f) != static_cast<long>(sizeof info->name)) {
    snprintf(modux_error, sizeof modux_error, "MUX: file ends inside the header");
    return -1;
  }
  return 1;
}
