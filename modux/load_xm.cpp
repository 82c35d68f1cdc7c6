// modux load_xm: the XM importer, for XM files and XM modules inside UMX packages.
// Builds a module of the XM family: instruments with note-to-sample maps and envelopes, notes
// as note numbers, delta-coded sample data turned into 8- and 16-bit samples, and the XM effects
// as internal commands. A silent sample is appended for notes whose instrument has none. Reads
// the 1.04 layout and the older 1.02 and 1.03 ones; a file that ends inside its instruments or
// their sample data loads what it holds.
#include <vector>

#include "import.h"

using namespace modux_import;

namespace {

const char SIGNATURE[] = "Extended Module: ";
const int SIGNATURE_BYTES = 17;
// The tracker name ModPlug Tracker 1.0 wrote, one space apart from FastTracker 2's
// "FastTracker v2.00   ": its files keep that tracker's rules, as the reference plays them.
const char MODPLUG_TRACKER[] = "FastTracker v 2.00  ";
const int TRACKER_NAME_BYTES = 20;
// The header size field lies at 60 and counts from there; the patterns follow the header.
const int HEADER_SIZE_AT = 60;
// Header size of every XM written by the common trackers; a file giving 0 means this.
const long long USUAL_HEADER_SIZE = 276;
// Fields of the header from the size field to the end of the order table.
const long long HEADER_FIELDS = 4 + 16 + 256;
const int ORDER_ENTRIES = 256;
const int MAX_PATTERNS = 256;
const int MAX_ROWS = 256;
// Instrument numbers in the cells are bytes; 0 is none.
const int MAX_INSTRUMENTS = 255;
// Pattern header: length (4), packing (1), rows (2), packed size (2).
const int PATTERN_HEADER_BYTES = 9;
// A sample header's reserved byte marks 8-bit data packed as ADPCM.
const int ADPCM_MARK = 0xAD;
// A pattern header giving 0 rows: played as the trackers' usual 64.
const int DEFAULT_ROWS = 64;
// Instrument header fields up to and including the fade-out; longer headers carry reserved
// bytes, shorter ones end early and the missing fields read as zero.
const int INSTRUMENT_FIELDS = 241;
// The smallest instrument header that reaches the sample header size field.
const int INSTRUMENT_WITH_SAMPLES = 30;
// Every sample header is read as 40 bytes: the size field in the instrument header is 0 or
// absurd in some files, and no tracker writes another size.
const int SAMPLE_HEADER_BYTES = 40;
// Note 97 releases the key; higher notes are no notes.
const int KEY_OFF_NOTE = 97;

// How each XM effect (0..9, A = 10 ... Z = 35) becomes an internal command. keep: the
// parameter passes unchanged; otherwise the effect is dropped (code 0, parameter 0). E has
// its sub-commands in xm_extended.
const effect_entry xm_effects[36] = {
    {CMD_ARPEGGIO, true},                // 0 arpeggio
    {CMD_XM_PORTA_UP, true},             // 1 portamento up
    {CMD_XM_PORTA_DOWN, true},           // 2 portamento down
    {CMD_TONE_PORTA, true},              // 3 tone portamento
    {CMD_VIBRATO, true},                 // 4 vibrato
    {CMD_XM_TONE_PORTA_VOLSLIDE, true},  // 5 tone portamento + volume slide
    {CMD_XM_VIBRATO_VOLSLIDE, true},     // 6 vibrato + volume slide
    {CMD_TREMOLO, true},                 // 7 tremolo
    {CMD_SET_PAN, true},                 // 8 set pan
    {CMD_SAMPLE_OFFSET, true},           // 9 sample offset
    {CMD_XM_VOLSLIDE, true},             // A volume slide
    {CMD_POSITION_JUMP, true},           // B position jump
    {CMD_SET_VOLUME, true},              // C set volume
    {CMD_PATTERN_BREAK, true},           // D pattern break
    {CMD_EXTENDED, false},               // E extended: see xm_extended
    {CMD_SPEED_TEMPO, true},             // F speed or tempo
    {CMD_SET_GLOBAL_VOLUME, true},       // G global volume
    {CMD_GLOBAL_VOLSLIDE, true},         // H global volume slide
    {0, false},                          // I
    {0, false},                          // J
    {CMD_KEY_OFF, true},                 // K key off
    {CMD_SET_ENVELOPE_POSITION, true},   // L envelope position
    {0, false},                          // M
    {0, false},                          // N
    {0, false},                          // O
    {CMD_XM_PANSLIDE, true},             // P pan slide
    {0, false},                          // Q
    {CMD_S3M_RETRIG, true},              // R retrigger with volume change
    {0, false},                          // S
    {CMD_TREMOR, true},                  // T tremor
    {0, false},                          // U
    {0, false},                          // V
    {0, false},                          // W
    {CMD_XM_EXTRA_FINE_PORTA, true},     // X extra-fine portamento
    {0, false},                          // Y
    {0, false},                          // Z
};
const int EFFECT_E = 14;

// Exy: the parameter that carries each sub-command x (y added), or -1 when it is dropped. The
// fine slides move to 0x110..0x14F, where the Protracker extended command plays the XM forms.
const int xm_extended[16] = {
    -1,     // E0x filter: not played
    0x110,  // E1x fine portamento up
    0x120,  // E2x fine portamento down
    0x30,   // E3x glissando
    0x40,   // E4x vibrato waveform
    0x50,   // E5x finetune
    0x60,   // E6x pattern loop
    0x70,   // E7x tremolo waveform
    -1,     // E8x: not played
    0x90,   // E9x retrigger
    0x130,  // EAx fine volume slide up
    0x140,  // EBx fine volume slide down
    0xC0,   // ECx note cut
    0xD0,   // EDx note delay
    0xE0,   // EEx pattern delay
    -1,     // EFx: not played
};

// One cell (load_note): a first byte with bit 7 clear is the note and four bytes follow;
// with bit 7 set its bits 0 to 4 tell which of note, instrument, volume, effect and parameter
// follow. The cursor is bounded by the pattern's packed data: a cell past its end is empty.
void load_note(const MODUX *mod, cursor &c, long long end, NOTE_INFO *cell) {
  *cell = NOTE_INFO{};
  if (c.pos >= end) return;
  int fields[5] = {0, 0, 0, 0, 0};  // note, instrument, volume, effect, parameter
  const int b = c.byte();
  if (b & 0x80) {
    for (int i = 0; i < 5; i++)
      if ((b & (1 << i)) && c.pos < end) fields[i] = c.byte();
  } else {
    fields[0] = b;
    for (int i = 1; i < 5 && c.pos < end; i++) fields[i] = c.byte();
  }
  int note = fields[0], instrument = fields[1];
  if (instrument > mod->instrument_count) note = instrument = 0;
  if (note == KEY_OFF_NOTE)
    note = -2;
  else if (note > KEY_OFF_NOTE)
    note = instrument = 0;
  cell->note = note;
  cell->sample = instrument;
  cell->volume = fields[2];
  cell->command = fields[3];
  cell->param = fields[4];
  convert_xm_command(&cell->command, &cell->param);
}

// One sample header of an instrument, as the file gives it.
struct xm_sample_header {
  uint32_t length;       // bytes of data
  uint32_t loop_start;   // bytes
  uint32_t loop_length;  // bytes
  int volume;
  int finetune;  // signed
  int type;      // bits 0-1 loop kind (1 forward, 2 ping-pong), bit 4 16-bit data
  int pan;
  int relative_note;  // signed
  int vibrato[4];     // the instrument's auto-vibrato: type, sweep, depth, rate
  bool adpcm;         // 8-bit data packed as 4-bit ADPCM (reserved byte 0xAD), not delta-coded
  long long data_at;  // where its data starts in the image
};

// Reads one envelope's 12 points (tick word, value word). The first point starts at tick 0;
// ticks never go back and values stay within 0..64, which the envelope code relies on.
void read_envelope_points(cursor &c, int *tick, int *value) {
  for (int i = 0; i < MODUX_ENVELOPE_POINTS; i++) {
    tick[i] = c.lword();
    value[i] = clamp_int(c.lword(), 0, 64);
    if (i == 0) tick[i] = 0;
    if (i > 0 && tick[i] < tick[i - 1]) tick[i] = tick[i - 1];
  }
}

// A point index of an envelope, held inside its points (or 0 without points).
int envelope_point(int index, int points) {
  return clamp_int(index, 0, points > 0 ? points - 1 : 0);
}

// Where an XM version keeps its parts. 1.04 has the patterns after the header and each
// instrument's sample data right after its sample headers; 1.02 and 1.03 have every instrument
// (with its sample headers) after the header, then the patterns, then the data of all samples.
// 1.02 also stores a pattern's row count as one byte, less one, in a header a byte shorter.
const int VERSION_DATA_BY_INSTRUMENT = 0x0104;
const int VERSION_WORD_ROWS = 0x0103;
const int BYTE_ROWS_PATTERN_HEADER_BYTES = 8;

// Reads `patterns` patterns at the cursor. False, with the status set, when the file ends
// inside one: what a song plays must be whole.
bool read_patterns(load_state &load, MODUX *mod, cursor &c, int patterns, bool byte_rows) {
  const int fields = byte_rows ? BYTE_ROWS_PATTERN_HEADER_BYTES : PATTERN_HEADER_BYTES;
  for (int i = 0; i < patterns; i++) {
    PATTERN_INFO &pat = mod->patterns[i];
    const long long start = c.pos;
    if (!c.has(fields)) {
      fail(load, "XM: file ends inside the header of pattern %d", i);
      return false;
    }
    long long header_length = c.llong();  // counted from the start of this header
    c.skip(1);                            // packing type
    int rows = byte_rows ? c.byte() + 1 : c.lword();
    const int packed = c.lword();  // bytes of packed cells; 0: an empty pattern
    // A length shorter than the fields, or one that runs past the end of the file, is wrong:
    // trackers then find the data right after the fields.
    if (header_length < fields || start + header_length > c.size) header_length = fields;
    if (rows == 0) rows = DEFAULT_ROWS;
    if (rows > MAX_ROWS) {
      fail(load, "XM: pattern %d has %d rows, at most %d are possible", i, rows, MAX_ROWS);
      return false;
    }
    const long long data_at = start + header_length;
    if (data_at + packed > c.size) {
      fail(load, "XM: file ends inside pattern %d", i);
      return false;
    }
    const int cells = rows * mod->channel_count;
    pat.notes = new_cells(load, cells, "XM", i);
    if (!pat.notes) return false;
    pat.row_count = rows;
    // Cells missing at the end of the packed data are empty, as trackers write them.
    c.seek(data_at);
    if (packed > 0)
      for (int k = 0; k < cells; k++) load_note(mod, c, data_at + packed, &pat.notes[k]);
    c.seek(data_at + packed);
  }
  return true;
}

// The instruments' headers as read: every sample header in file order, and for each instrument
// where its own begin in that list and how many it has. An instrument the file ends before, or
// inside, keeps the samples whose headers are whole.
struct instrument_headers {
  std::vector<xm_sample_header> samples;
  std::vector<int> first, count;
  int cut_at = 0;  // instrument (from 1) inside or before which the file ends; 0: none
};

// Reads one instrument header and its sample headers at the cursor into ins and h.
void read_instrument(view img, cursor &c, int i, INSTRUMENT_INFO &ins, instrument_headers &h) {
  h.first[i] = static_cast<int>(h.samples.size());
  const long long start = c.pos;
  if (!c.has(4)) {
    h.cut_at = i + 1;
    return;
  }
  const uint32_t size = c.llong();  // header size, counted from the start
  // The header's fields as far as its size and the file give them; the rest read as zero.
  unsigned char fields[INSTRUMENT_FIELDS] = {0};
  const long long given =
      size < static_cast<uint32_t>(INSTRUMENT_FIELDS) ? size : INSTRUMENT_FIELDS;
  for (long long k = 4; k < given && start + k < img.size; k++) fields[k] = img.data[start + k];
  cursor f(fields, INSTRUMENT_FIELDS, 4);
  f.skip(22 + 1);                 // name, type
  const int samples = f.lword();  // number of samples
  f.skip(4);                      // sample header size: 40 is used
  c.seek(start + size);
  if (start + size > img.size) h.cut_at = i + 1;
  // A header too short to reach its sample fields, or one without samples, is an empty
  // instrument: its map stays zero and plays the silent sample.
  if (size >= static_cast<uint32_t>(INSTRUMENT_WITH_SAMPLES) && samples >= 1 && !h.cut_at) {
    for (int n = 0; n < MODUX_NOTE_MAP; n++) ins.sample_map[n] = f.byte();  // sample of each note
    read_envelope_points(f, ins.vol_env_tick, ins.vol_env_value);
    read_envelope_points(f, ins.pan_env_tick, ins.pan_env_value);
    ins.vol_env_points = clamp_int(f.byte(), 0, MODUX_ENVELOPE_POINTS);
    ins.pan_env_points = clamp_int(f.byte(), 0, MODUX_ENVELOPE_POINTS);
    ins.vol_env_sustain_start = ins.vol_env_sustain_end =
        envelope_point(f.byte(), ins.vol_env_points);
    ins.vol_env_loop_start = envelope_point(f.byte(), ins.vol_env_points);
    ins.vol_env_loop_end = envelope_point(f.byte(), ins.vol_env_points);
    ins.pan_env_sustain_start = ins.pan_env_sustain_end =
        envelope_point(f.byte(), ins.pan_env_points);
    ins.pan_env_loop_start = envelope_point(f.byte(), ins.pan_env_points);
    ins.pan_env_loop_end = envelope_point(f.byte(), ins.pan_env_points);
    ins.vol_env_flags = f.byte() & 7;  // bit 0 on, bit 1 sustain, bit 2 loop
    ins.pan_env_flags = f.byte() & 7;
    int vibrato[4];  // auto-vibrato type, sweep, depth, rate
    for (int v = 0; v < 4; v++) vibrato[v] = f.byte();
    ins.fadeout = f.lword();  // per tick after key release
    if ((ins.vol_env_flags & 1) && ins.vol_env_points == 0) {
      // A switched-on volume envelope without points: one point, silent.
      ins.vol_env_points = 1;
      ins.vol_env_tick[0] = ins.vol_env_value[0] = 0;
    }
    if (ins.vol_env_loop_end < ins.vol_env_loop_start)
      ins.vol_env_loop_end = ins.vol_env_loop_start;
    if (ins.pan_env_loop_end < ins.pan_env_loop_start)
      ins.pan_env_loop_end = ins.pan_env_loop_start;
    for (int s = 0; s < samples; s++) {
      if (!c.has(SAMPLE_HEADER_BYTES)) {
        h.cut_at = i + 1;
        break;
      }
      xm_sample_header sh;
      sh.length = c.llong();       // bytes
      sh.loop_start = c.llong();   // bytes
      sh.loop_length = c.llong();  // bytes
      sh.volume = clamp_int(c.byte(), 0, 64);
      sh.finetune = c.sbyte();
      sh.type = c.byte();  // loop kind, 16-bit flag
      sh.pan = c.byte();
      sh.relative_note = c.sbyte();
      sh.adpcm = c.byte() == ADPCM_MARK && !(sh.type & 0x10);
      c.skip(22);  // sample name
      for (int v = 0; v < 4; v++) sh.vibrato[v] = vibrato[v];
      sh.data_at = 0;
      h.samples.push_back(sh);
    }
  }
  h.count[i] = static_cast<int>(h.samples.size()) - h.first[i];
}

// Places the data of samples [from, to) one after another from the cursor on.
void place_data(cursor &c, instrument_headers &h, size_t from, size_t to) {
  for (size_t s = from; s < to; s++) {
    h.samples[s].data_at = c.pos;
    c.skip(h.samples[s].adpcm ? adpcm_bytes(h.samples[s].length) : h.samples[s].length);
  }
}

// Fills one sample of the model from its header and its delta-coded data. 16-bit data stays
// 16-bit. Answers the bytes of data the file lacks; -1 with the status set.
long long read_sample(load_state &load, view img, const xm_sample_header &sh, int number,
                      SAMPLE &spl, SAMPLE_INFO &info) {
  const bool wide = (sh.type & 0x10) != 0;
  // Data cut short by the end of the file keeps the bytes that are there; 16-bit data of an
  // odd length drops its last byte.
  long long bytes = sh.adpcm ? adpcm_bytes(sh.length) : sh.length;
  const long long there = sh.data_at < img.size ? img.size - sh.data_at : 0;
  const long long lacking = bytes > there ? bytes - there : 0;
  bytes -= lacking;
  cursor packed(img, sh.data_at);
  const long long frames = sh.adpcm ? adpcm_frames(packed, sh.length) : wide ? bytes / 2 : bytes;
  if (!charge_sample(load, frames * (wide ? 2 : 1), "XM", number) ||
      !new_sample(load, spl, info, static_cast<int>(frames), wide ? 16 : 8))
    return -1;
  info.tuning = sh.finetune + 128;
  info.relative_note = sh.relative_note;
  info.volume = sh.volume;
  info.pan = sh.pan;
  info.vibrato_type = sh.vibrato[0];
  info.vibrato_sweep = sh.vibrato[1];
  info.vibrato_depth = sh.vibrato[2];
  info.vibrato_rate = sh.vibrato[3];
  const long long loop_start = wide ? sh.loop_start / 2 : sh.loop_start;
  const long long loop_end =
      (static_cast<long long>(sh.loop_start) + sh.loop_length) / (wide ? 2 : 1);
  fit_loop(spl, info, loop_start, loop_end, sh.type & 3);
  // Delta-coded data: each value is added to the previous one. Allegro's samples are unsigned,
  // 16-bit ones in the machine's byte order.
  const unsigned char *in =
      frames > 0 ? img.data + sh.data_at : nullptr;  // held to the bytes there
  if (sh.adpcm) {
    decode_adpcm(packed, static_cast<unsigned char *>(spl.data), frames);
  } else if (wide) {
    uint16_t *data = static_cast<uint16_t *>(spl.data);
    uint16_t acc = 0;
    for (long long k = 0; k < frames; k++) {
      acc = static_cast<uint16_t>(acc + (in[2 * k] | (in[2 * k + 1] << 8)));
      data[k] = acc ^ 0x8000;
    }
  } else {
    unsigned char *data = static_cast<unsigned char *>(spl.data);
    uint8_t acc = 0;
    for (long long k = 0; k < frames; k++) {
      acc = static_cast<uint8_t>(acc + in[k]);
      data[k] = acc ^ 0x80;
    }
  }
  return lacking;
}

}  // namespace

void convert_xm_command(int *command, int *param) {
  translate_effect(xm_effects, 36, EFFECT_E, xm_extended, command, param);
}

int modux_import::detect_xm_bytes(view v) {
  return v.size >= SIGNATURE_BYTES && memcmp(v.data, SIGNATURE, SIGNATURE_BYTES) == 0 ? 1 : -1;
}

int modux_import::detect_unreal_xm_bytes(view v) {
  return umx_search(v, SIGNATURE, SIGNATURE_BYTES, 0);
}

int detect_xm(const char *filename) { return detect_file(filename, detect_xm_bytes, 0); }

int detect_unreal_xm(const char *filename) {
  return detect_file(filename, detect_unreal_xm_bytes, 0);
}

// What the header tells about the rest of the file.
struct xm_layout {
  int version;           // 0x0104, or the older 0x0102 and 0x0103 layouts
  long long header_end;  // image position where the patterns or instruments begin
  int patterns;          // patterns in the file
};

// The version a tracker name "OpenMPT a.bb.cc.dd" gives, as 0xAABBCCDD read in hex; 0 for
// another tracker.
static unsigned openmpt_version(const char *tracker) {
  static const char prefix[] = "OpenMPT ";
  if (memcmp(tracker, prefix, sizeof prefix - 1) != 0) return 0;
  unsigned v = 0;
  for (int i = sizeof prefix - 1; i < TRACKER_NAME_BYTES; i++) {
    const char ch = tracker[i];
    if (ch >= '0' && ch <= '9')
      v = v << 4 | static_cast<unsigned>(ch - '0');
    else if (ch != '.')
      break;
  }
  return v;
}

// OpenMPT's XM files from before this version play without some of FT2's details
// (RULE_FT2_EXACT), as the reference player keeps them.
static const unsigned OPENMPT_FT2_EXACT = 0x1220700;
// OpenMPT's XM files from this version on pan by FT2's law.
static const unsigned OPENMPT_SQUARE_ROOT_PAN = 0x1220719;

// Whether the tracker that wrote the file mixes as FT2 does, pans by square roots (FT2 pads the
// song name with spaces; a zero in it marks ModPlug's files, which keep its linear pan).
static bool square_root_pan(const char *tracker, const char *song_name, unsigned openmpt) {
  if (openmpt != 0) return openmpt >= OPENMPT_SQUARE_ROOT_PAN;
  if (memcmp(tracker, "FastTracker v2.00   ", TRACKER_NAME_BYTES) == 0)
    return memchr(song_name, 0, 20) == nullptr;
  return memcmp(tracker, "MilkyTracker", 12) == 0 ||
         memcmp(tracker, "Fasttracker II clone", TRACKER_NAME_BYTES) == 0;
}

// The header from offset 17 on: module name, tracker name, version, header size (counted from
// offset 60), song length, restart position, channel, pattern and instrument counts, flags,
// initial speed and tempo (words), the 256-byte order table. The caller has checked that the
// fixed fields are in the file.
static bool read_header(load_state &load, MODUX *mod, cursor &c, view img, int offset,
                        xm_layout &l) {
  c.skip(SIGNATURE_BYTES);           // "Extended Module: "
  c.bytes(mod->name, 20);            // module name
  c.skip(1);                         // 0x1A
  char tracker[TRACKER_NAME_BYTES];  // the tracker that wrote the file, padded with spaces
  c.bytes(tracker, TRACKER_NAME_BYTES);
  l.version = c.lword();              // 0x0104, or the older 0x0102 and 0x0103 layouts
  long long header_size = c.llong();  // counted from offset 60
  if (header_size == 0) header_size = USUAL_HEADER_SIZE;
  l.header_end = offset + HEADER_SIZE_AT + header_size;
  if (l.header_end > img.size)
    return fail(load, "XM: header size %lld runs past the end of the file", header_size);
  const int song_length = c.lword();
  mod->restart_order = c.lword();
  mod->channel_count = c.lword();
  l.patterns = c.lword();
  mod->instrument_count = c.lword();
  const int xm_flags = c.lword();  // bit 0: linear frequency table
  mod->initial_speed = c.lword();
  mod->initial_tempo = c.lword();
  for (int i = 0; i < ORDER_ENTRIES; i++) mod->order_table[i] = c.byte();
  mod->flags = (xm_flags & 1) ? (MODUX_XM | MODUX_LINEAR) : (MODUX_XM | MODUX_AMIGA);
  mod->rules = memcmp(tracker, MODPLUG_TRACKER, TRACKER_NAME_BYTES) == 0 ? RULES_MODPLUG_XM
                                                                         : RULES_FASTTRACKER_2;
  const unsigned openmpt = openmpt_version(tracker);
  if (openmpt != 0 && openmpt < OPENMPT_FT2_EXACT) mod->rules &= ~RULE_FT2_EXACT;
  mod->square_root_pan = square_root_pan(tracker, mod->name, openmpt) ? -1 : 0;
  // ModPlug's files in FT2's name (a zero in the song name) play at ModPlug's levels too.
  mod->modplug_tracker =
      memcmp(tracker, "FastTracker v2.00   ", TRACKER_NAME_BYTES) == 0 && !mod->square_root_pan ? -1
                                                                                                : 0;
  if (mod->initial_speed == 0) mod->initial_speed = 6;
  if (mod->initial_tempo == 0) mod->initial_tempo = 125;
  mod->initial_global_volume = 64;
  if (mod->channel_count < 1 || mod->channel_count > MODUX_MAX_CHANNELS)
    return fail(load, "XM: %d channels, 1 to %d are possible", mod->channel_count,
                MODUX_MAX_CHANNELS);
  if (l.patterns > MAX_PATTERNS)
    return fail(load, "XM: %d patterns, at most %d are possible", l.patterns, MAX_PATTERNS);
  if (mod->instrument_count > MAX_INSTRUMENTS)
    return fail(load, "XM: %d instruments, at most %d are possible", mod->instrument_count,
                MAX_INSTRUMENTS);
  // The order table has 256 entries; a restart outside the song restarts from the top.
  mod->order_count = song_length > ORDER_ENTRIES ? ORDER_ENTRIES : song_length;
  if (mod->restart_order >= mod->order_count) mod->restart_order = 0;
  return true;
}

// The model's pattern and instrument lists. Orders naming a pattern the file lacks play one
// appended empty pattern.
static bool allocate_parts(load_state &load, MODUX *mod, int patterns) {
  bool extra = false;
  for (int i = 0; i < mod->order_count; i++)
    if (mod->order_table[i] >= patterns) {
      mod->order_table[i] = patterns;
      extra = true;
    }
  mod->pattern_count = patterns + (extra ? 1 : 0);
  if (mod->pattern_count > 0) {
    mod->patterns = static_cast<PATTERN_INFO *>(
        new_records(load, mod->pattern_count, sizeof(PATTERN_INFO), "PATTERN_INFO"));
    if (!mod->patterns) return false;
  }
  if (extra) {
    PATTERN_INFO &pat = mod->patterns[patterns];
    pat.notes = new_cells(load, DEFAULT_ROWS * mod->channel_count, "XM", patterns);
    if (!pat.notes) return false;
    pat.row_count = DEFAULT_ROWS;
  }
  if (mod->instrument_count > 0) {
    mod->instruments = static_cast<INSTRUMENT_INFO *>(
        new_records(load, mod->instrument_count, sizeof(INSTRUMENT_INFO), "INSTRUMENT_INFO"));
    if (!mod->instruments) return false;
  }
  return true;
}

// The samples of every instrument in one list of the model, then the silent one; the note maps
// then name places in that list.
static bool build_samples(load_state &load, MODUX *mod, view img, const instrument_headers &h) {
  const long long total = static_cast<long long>(h.samples.size()) + 1;
  mod->sample_info =
      static_cast<SAMPLE_INFO *>(new_records(load, total, sizeof(SAMPLE_INFO), "SAMPLE_INFO"));
  if (!mod->sample_info) return false;
  mod->samples = static_cast<SAMPLE *>(new_records(load, total, sizeof(SAMPLE), "SAMPLE"));
  if (!mod->samples) return false;
  mod->sample_count = static_cast<int>(total);
  long long missing = 0;
  for (size_t s = 0; s < h.samples.size(); s++) {
    const long long lacking = read_sample(load, img, h.samples[s], static_cast<int>(s) + 1,
                                          mod->samples[s], mod->sample_info[s]);
    if (lacking < 0) return false;
    missing += lacking;
  }
  const int silent = mod->sample_count - 1;
  if (!new_sample(load, mod->samples[silent], mod->sample_info[silent], 0)) return false;
  if (h.cut_at)
    note_short(load, "file ends inside instrument %d of %d: it and those after it are silent",
               h.cut_at, mod->instrument_count);
  else if (missing > 0)
    note_short(load, "file ends %lld bytes early: the end of the sample data is silent", missing);

  // Note maps: an instrument's sample numbers become places in the module's list; a number
  // the instrument lacks, and every note of an empty instrument, play the silent sample.
  for (int i = 0; i < mod->instrument_count; i++) {
    INSTRUMENT_INFO &ins = mod->instruments[i];
    for (int n = 0; n < MODUX_NOTE_MAP; n++)
      ins.sample_map[n] = ins.sample_map[n] < h.count[i] ? h.first[i] + ins.sample_map[n] : silent;
  }
  return true;
}

// The XM at offset (0 for a plain file): the header, then patterns and instruments in the order
// of the version's layout, then the samples.
MODUX *modux_import::load_xm_bytes(load_state &load, view img, int offset) {
  MODUX *mod = new_module(load);
  if (!mod) return nullptr;
  if (offset < 0 || offset > img.size)
    return refuse(load, mod, "XM: no module data at offset %d", offset);
  cursor c(img, offset);
  if (!c.has(HEADER_SIZE_AT + HEADER_FIELDS))
    return refuse(load, mod, "XM: file ends inside the header");
  xm_layout l{};
  if (!read_header(load, mod, c, img, offset, l) || !allocate_parts(load, mod, l.patterns))
    return abandon(mod);

  const bool data_by_instrument = l.version >= VERSION_DATA_BY_INSTRUMENT;
  const bool byte_rows = l.version < VERSION_WORD_ROWS;
  instrument_headers h;
  h.first.assign(mod->instrument_count, 0);
  h.count.assign(mod->instrument_count, 0);
  c.seek(l.header_end);
  if (data_by_instrument && !read_patterns(load, mod, c, l.patterns, byte_rows))
    return abandon(mod);
  for (int i = 0; i < mod->instrument_count && !h.cut_at; i++) {
    const size_t own = h.samples.size();
    read_instrument(img, c, i, mod->instruments[i], h);
    if (data_by_instrument) place_data(c, h, own, h.samples.size());
  }
  if (!data_by_instrument) {
    if (!read_patterns(load, mod, c, l.patterns, byte_rows)) return abandon(mod);
    place_data(c, h, 0, h.samples.size());
  }
  if (!build_samples(load, mod, img, h)) return abandon(mod);
  lock_mod(mod);
  return mod;
}

MODUX *load_xm(const char *filename, int offset) {
  return load_file_with(filename, load_xm_bytes, offset);
}

int get_xm_info(const char *filename, int offset, MODFILE_INFO *info) {
  return head_info(filename, static_cast<long>(offset) + SIGNATURE_BYTES, 20, offset == 0 ? 4 : 8,
                   offset == 0 ? "XM" : "Unreal XM (UMX)", info);
}
