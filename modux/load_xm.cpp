// modux load_xm: the XM importer, for XM files and XM modules inside UMX packages.
// Builds a module of the XM family: instruments with note-to-sample maps and envelopes, notes
// as note numbers, delta-coded sample data turned into 8-bit samples, and the XM effects as
// internal commands. A silent sample is appended for notes whose instrument has none.
#include <vector>

#include "load_image.h"

using namespace modux_import;

namespace {

const char SIGNATURE[] = "Extended Module: ";
const int SIGNATURE_BYTES = 17;
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
struct xm_effect {
  int code;
  bool keep;
};
const xm_effect xm_effects[36] = {
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
    -1,     // E5x finetune: not played
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
  int finetune;          // signed
  int type;              // bits 0-1 loop kind (1 forward, 2 ping-pong), bit 4 16-bit data
  int pan;
  int relative_note;     // signed
  int vibrato[4];        // the instrument's auto-vibrato: type, sweep, depth, rate
  long long data_at;     // where its data starts in the image
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
int envelope_point(int index, int points) { return clamp_int(index, 0, points > 0 ? points - 1 : 0); }

}  // namespace

void convert_xm_command(int *command, int *param) {
  const int effect = *command;
  if (effect < 0 || effect > 35) {
    *command = *param = 0;
    return;
  }
  if (effect == EFFECT_E) {
    const int sub = xm_extended[(*param >> 4) & 15];
    if (sub < 0) {
      *command = *param = 0;
      return;
    }
    *command = CMD_EXTENDED;
    *param = sub + (*param & 15);
    return;
  }
  const xm_effect &e = xm_effects[effect];
  *command = e.code;
  if (!e.keep) *param = 0;
}

int detect_xm(const char *filename) {
  char sig[SIGNATURE_BYTES];
  const long got = read_head(filename, 0, sig, SIGNATURE_BYTES);
  if (got < 0) return 0;
  return got == SIGNATURE_BYTES && memcmp(sig, SIGNATURE, SIGNATURE_BYTES) == 0 ? 1 : -1;
}

int detect_unreal_xm(const char *filename) { return umx_search(filename, SIGNATURE, SIGNATURE_BYTES, 0); }

MODUX *load_xm(const char *filename, int offset) {
  MODUX *mod = static_cast<MODUX *>(calloc(1, sizeof(MODUX)));
  if (!mod) {
    set_error("Unable to allocate enough memory for MODUX structure");
    return nullptr;
  }
  image img;
  if (!image_read(filename, img)) return abandon(mod);
  if (offset < 0 || offset > img.size) return refuse(mod, "XM: no module data at offset %d", offset);
  cursor c(img, offset);
  if (!c.has(HEADER_SIZE_AT + HEADER_FIELDS)) return refuse(mod, "XM: file ends inside the header");

  // Header.
  c.skip(SIGNATURE_BYTES);                 // "Extended Module: "
  c.bytes(mod->name, 20);                  // module name
  c.skip(1 + 20 + 2);                      // 0x1A, tracker name, version
  long long header_size = c.llong();       // counted from offset 60
  if (header_size == 0) header_size = USUAL_HEADER_SIZE;
  const long long patterns_at = offset + HEADER_SIZE_AT + header_size;
  if (patterns_at > img.size) return refuse(mod, "XM: header size %lld runs past the end of the file", header_size);
  const int song_length = c.lword();
  mod->restart_order = c.lword();
  mod->channel_count = c.lword();
  const int patterns = c.lword();
  mod->instrument_count = c.lword();
  const int xm_flags = c.lword();          // bit 0: linear frequency table
  mod->initial_speed = c.lword();
  mod->initial_tempo = c.lword();
  for (int i = 0; i < ORDER_ENTRIES; i++) mod->order_table[i] = c.byte();
  mod->flags = (xm_flags & 1) ? (MODUX_XM | MODUX_LINEAR) : (MODUX_XM | MODUX_AMIGA);
  mod->rules = RULES_FASTTRACKER_2;
  if (mod->initial_speed == 0) mod->initial_speed = 6;
  if (mod->initial_tempo == 0) mod->initial_tempo = 125;
  mod->initial_global_volume = 64;
  if (mod->channel_count < 1 || mod->channel_count > MODUX_MAX_CHANNELS)
    return refuse(mod, "XM: %d channels, 1 to %d are possible", mod->channel_count, MODUX_MAX_CHANNELS);
  if (patterns > MAX_PATTERNS) return refuse(mod, "XM: %d patterns, at most %d are possible", patterns, MAX_PATTERNS);
  if (mod->instrument_count > MAX_INSTRUMENTS)
    return refuse(mod, "XM: %d instruments, at most %d are possible", mod->instrument_count, MAX_INSTRUMENTS);
  // The order table has 256 entries; a restart outside the song restarts from the top.
  mod->order_count = song_length > ORDER_ENTRIES ? ORDER_ENTRIES : song_length;
  if (mod->restart_order >= mod->order_count) mod->restart_order = 0;

  // Orders naming a pattern the file lacks play one appended empty pattern.
  bool extra = false;
  for (int i = 0; i < mod->order_count; i++)
    if (mod->order_table[i] >= patterns) {
      mod->order_table[i] = patterns;
      extra = true;
    }
  mod->pattern_count = patterns + (extra ? 1 : 0);
  if (mod->pattern_count > 0) {
    mod->patterns = static_cast<PATTERN_INFO *>(calloc(mod->pattern_count, sizeof(PATTERN_INFO)));
    if (!mod->patterns) return refuse(mod, "Unable to allocate enough memory for PATTERN_INFO");
  }

  // Patterns, one after another.
  c.seek(patterns_at);
  for (int i = 0; i < patterns; i++) {
    PATTERN_INFO &pat = mod->patterns[i];
    const long long start = c.pos;
    if (!c.has(PATTERN_HEADER_BYTES)) return refuse(mod, "XM: file ends inside the header of pattern %d", i);
    long long header_length = c.llong();   // counted from the start of this header
    c.skip(1);                             // packing type
    int rows = c.lword();
    const int packed = c.lword();          // bytes of packed cells; 0: an empty pattern
    if (header_length < PATTERN_HEADER_BYTES) header_length = PATTERN_HEADER_BYTES;
    if (rows == 0) rows = DEFAULT_ROWS;
    if (rows > MAX_ROWS) return refuse(mod, "XM: pattern %d has %d rows, at most %d are possible", i, rows, MAX_ROWS);
    const long long data_at = start + header_length;
    if (data_at > img.size) return refuse(mod, "XM: file ends inside the header of pattern %d", i);
    const int cells = rows * mod->channel_count;
    pat.notes = static_cast<NOTE_INFO *>(calloc(cells, sizeof(NOTE_INFO)));
    if (!pat.notes) return refuse(mod, "Unable to allocate enough memroy for NOTE_INFO");
    pat.row_count = rows;
    // Cells missing at the end of the packed data are empty, as trackers write them.
    long long end = data_at + packed;
    if (end > img.size) end = img.size;
    c.seek(data_at);
    if (packed > 0)
      for (int k = 0; k < cells; k++) load_note(mod, c, end, &pat.notes[k]);
    c.seek(data_at + packed);
  }
  if (extra) {
    PATTERN_INFO &pat = mod->patterns[patterns];
    pat.notes = static_cast<NOTE_INFO *>(calloc(DEFAULT_ROWS * mod->channel_count, sizeof(NOTE_INFO)));
    if (!pat.notes) return refuse(mod, "Unable to allocate enough memory for NOTE_INFO");
    pat.row_count = DEFAULT_ROWS;
  }

  // Instruments: each header, its sample headers, then its samples' data. Every header has at
  // least its size field.
  if (!c.has(4LL * mod->instrument_count))
    return refuse(mod, "XM: %d instruments, the file has room for %lld", mod->instrument_count, c.left() / 4);
  if (mod->instrument_count > 0) {
    mod->instruments = static_cast<INSTRUMENT_INFO *>(calloc(mod->instrument_count, sizeof(INSTRUMENT_INFO)));
    if (!mod->instruments) return refuse(mod, "Unable to allocate enough memory for INSTRUMENT_INFO");
  }
  // The sample headers of all instruments in file order, and per instrument where its own
  // begin in that list and how many it has. Each header is 40 bytes of the file.
  std::vector<xm_sample_header> headers;
  std::vector<int> first(mod->instrument_count, 0), count(mod->instrument_count, 0);
  for (int i = 0; i < mod->instrument_count; i++) {
    INSTRUMENT_INFO &ins = mod->instruments[i];
    const long long start = c.pos;
    if (!c.has(4)) return refuse(mod, "XM: file ends before instrument %d", i + 1);
    const uint32_t size = c.llong();       // header size, counted from the start
    // The header's fields as far as its size and the file give them; the rest read as zero.
    image fields;
    fields.data = static_cast<unsigned char *>(calloc(1, INSTRUMENT_FIELDS));
    if (!fields.data) return refuse(mod, "Unable to allocate enough memory for INSTRUMENT_INFO");
    fields.size = INSTRUMENT_FIELDS;
    const long long given = size < static_cast<uint32_t>(INSTRUMENT_FIELDS) ? size : INSTRUMENT_FIELDS;
    for (long long k = 4; k < given && start + k < img.size; k++) fields.data[k] = img.data[start + k];
    cursor h(fields, 4);
    h.skip(22 + 1);                        // name, type
    const int samples = h.lword();         // number of samples
    h.skip(4);                             // sample header size: 40 is used
    first[i] = static_cast<int>(headers.size());
    c.seek(start + size);
    // A header too short to reach its sample fields, or one without samples, is an empty
    // instrument: its map stays zero and plays the silent sample.
    if (size < static_cast<uint32_t>(INSTRUMENT_WITH_SAMPLES) || samples < 1) continue;
    for (int n = 0; n < MODUX_NOTE_MAP; n++) ins.sample_map[n] = h.byte();  // sample of each note
    read_envelope_points(h, ins.vol_env_tick, ins.vol_env_value);
    read_envelope_points(h, ins.pan_env_tick, ins.pan_env_value);
    ins.vol_env_points = clamp_int(h.byte(), 0, MODUX_ENVELOPE_POINTS);
    ins.pan_env_points = clamp_int(h.byte(), 0, MODUX_ENVELOPE_POINTS);
    ins.vol_env_sustain_start = ins.vol_env_sustain_end = envelope_point(h.byte(), ins.vol_env_points);
    ins.vol_env_loop_start = envelope_point(h.byte(), ins.vol_env_points);
    ins.vol_env_loop_end = envelope_point(h.byte(), ins.vol_env_points);
    ins.pan_env_sustain_start = ins.pan_env_sustain_end = envelope_point(h.byte(), ins.pan_env_points);
    ins.pan_env_loop_start = envelope_point(h.byte(), ins.pan_env_points);
    ins.pan_env_loop_end = envelope_point(h.byte(), ins.pan_env_points);
    ins.vol_env_flags = h.byte() & 7;      // bit 0 on, bit 1 sustain, bit 2 loop
    ins.pan_env_flags = h.byte() & 7;
    int vibrato[4];                        // auto-vibrato type, sweep, depth, rate
    for (int v = 0; v < 4; v++) vibrato[v] = h.byte();
    ins.fadeout = h.lword();               // per tick after key release
    if ((ins.vol_env_flags & 1) && ins.vol_env_points == 0) {
      // A switched-on volume envelope without points: one point, silent.
      ins.vol_env_points = 1;
      ins.vol_env_tick[0] = ins.vol_env_value[0] = 0;
    }
    if (ins.vol_env_loop_end < ins.vol_env_loop_start) ins.vol_env_loop_end = ins.vol_env_loop_start;
    if (ins.pan_env_loop_end < ins.pan_env_loop_start) ins.pan_env_loop_end = ins.pan_env_loop_start;

    if (!c.has(static_cast<long long>(samples) * SAMPLE_HEADER_BYTES))
      return refuse(mod, "XM: file ends inside the sample headers of instrument %d", i + 1);
    const size_t own = headers.size();
    for (int s = 0; s < samples; s++) {
      xm_sample_header sh;
      sh.length = c.llong();               // bytes
      sh.loop_start = c.llong();           // bytes
      sh.loop_length = c.llong();          // bytes
      sh.volume = clamp_int(c.byte(), 0, 64);
      sh.finetune = c.sbyte();
      sh.type = c.byte();                  // loop kind, 16-bit flag
      sh.pan = c.byte();
      sh.relative_note = c.sbyte();
      c.skip(1 + 22);                      // reserved, sample name
      for (int v = 0; v < 4; v++) sh.vibrato[v] = vibrato[v];
      sh.data_at = 0;
      headers.push_back(sh);
    }
    // The data of the instrument's samples follows its headers, one after another.
    for (size_t s = own; s < headers.size(); s++) {
      headers[s].data_at = c.pos;
      c.skip(headers[s].length);
    }
    count[i] = samples;
  }

  // Samples of every instrument in one list, then the silent one.
  const long long total = static_cast<long long>(headers.size()) + 1;
  mod->sample_info = static_cast<SAMPLE_INFO *>(calloc(total, sizeof(SAMPLE_INFO)));
  if (!mod->sample_info) return refuse(mod, "Unable to allocate enough memory for SAMPLE_INFO");
  mod->samples = static_cast<SAMPLE *>(calloc(total, sizeof(SAMPLE)));
  if (!mod->samples) return refuse(mod, "Unable to allocate enough memory for SAMPLE");
  mod->sample_count = static_cast<int>(total);
  for (size_t s = 0; s < headers.size(); s++) {
    const xm_sample_header &sh = headers[s];
    SAMPLE &spl = mod->samples[s];
    SAMPLE_INFO &info = mod->sample_info[s];
    const bool wide = (sh.type & 0x10) != 0;
    // Data cut short by the end of the file keeps the bytes that are there; 16-bit data of an
    // odd length drops its last byte.
    long long bytes = sh.length;
    const long long there = sh.data_at < img.size ? img.size - sh.data_at : 0;
    if (bytes > there) bytes = there;
    const long long frames = wide ? bytes / 2 : bytes;
    if (!new_sample(spl, info, static_cast<int>(frames)))
      return refuse(mod, "Unble to allocate enough memory for sample data");
    info.tuning = sh.finetune + 128;
    info.relative_note = sh.relative_note;
    info.volume = sh.volume;
    info.pan = sh.pan;
    info.vibrato_type = sh.vibrato[0];
    info.vibrato_sweep = sh.vibrato[1];
    info.vibrato_depth = sh.vibrato[2];
    info.vibrato_rate = sh.vibrato[3];
    const long long loop_start = wide ? sh.loop_start / 2 : sh.loop_start;
    const long long loop_end = (static_cast<long long>(sh.loop_start) + sh.loop_length) / (wide ? 2 : 1);
    fit_loop(spl, info, loop_start, loop_end, sh.type & 3);
    // Delta-coded data: each value is added to the previous one; 16-bit values keep their
    // high byte. Allegro's 8-bit samples are unsigned.
    unsigned char *data = static_cast<unsigned char *>(spl.data);
    const unsigned char *in = frames > 0 ? img.data + sh.data_at : nullptr;  // held to the bytes there
    if (wide) {
      uint16_t acc = 0;
      for (long long k = 0; k < frames; k++) {
        acc = static_cast<uint16_t>(acc + (in[2 * k] | (in[2 * k + 1] << 8)));
        data[k] = static_cast<unsigned char>((static_cast<int16_t>(acc) >> 8) ^ 0x80);
      }
    } else {
      uint8_t acc = 0;
      for (long long k = 0; k < frames; k++) {
        acc = static_cast<uint8_t>(acc + in[k]);
        data[k] = acc ^ 0x80;
      }
    }
  }
  const int silent = mod->sample_count - 1;
  if (!new_sample(mod->samples[silent], mod->sample_info[silent], 0))
    return refuse(mod, "Unable to allocate enough memory for sample data");

  // Note maps: an instrument's sample numbers become places in the module's list; a number
  // the instrument lacks, and every note of an empty instrument, play the silent sample.
  for (int i = 0; i < mod->instrument_count; i++) {
    INSTRUMENT_INFO &ins = mod->instruments[i];
    for (int n = 0; n < MODUX_NOTE_MAP; n++)
      ins.sample_map[n] = ins.sample_map[n] < count[i] ? first[i] + ins.sample_map[n] : silent;
  }

  lock_mod(mod);
  return mod;
}

int get_xm_info(const char *filename, int offset, MODFILE_INFO *info) {
  return head_info(filename, static_cast<long>(offset) + SIGNATURE_BYTES, 20, offset == 0 ? 4 : 8,
                   offset == 0 ? "XM" : "Unreal XM (UMX)", info);
}
